// Searching bytes for special tokens from Python: SpecialTokens.find and
// SpecialTokens.check_bytes, the finder encode uses, for callers that hold
// their text as UTF-8 bytes themselves (velkan._stream).

#ifndef VELKAN_PYTHON_ADDED_TOKEN_SEARCH_H_
#define VELKAN_PYTHON_ADDED_TOKEN_SEARCH_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace velkan {

// find(data, start, allowed_special): the leftmost allowed special token in
// data (bytes-like) at or after start, the longest where several begin
// there, as (start, end, id); None when there is none.
PyObject* special_tokens_find(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
extern const char kSpecialFindDoc[];

// check_bytes(data, allowed_special, disallowed_special): check() for data
// already in UTF-8 (bytes-like): tiktoken's ValueError for the first
// disallowed string in it, else None.
PyObject* special_tokens_check_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
extern const char kSpecialCheckBytesDoc[];

}  // namespace velkan

#endif  // VELKAN_PYTHON_ADDED_TOKEN_SEARCH_H_
