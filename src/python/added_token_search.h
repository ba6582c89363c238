// Special tokens for Python callers that hold the text or the sets
// themselves (velkan._stream, the general path): SpecialTokens.find,
// find_disallowed and resolve, with encode's finder and argument rules.

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

// find_disallowed(data, allowed_special, disallowed_special): the
// disallowed string the check names in data and where it starts, as
// (start, str); None when there is none.
PyObject* special_tokens_find_disallowed(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
extern const char kSpecialFindDisallowedDoc[];

// resolve(allowed_special, disallowed_special): the arguments as the
// frozensets (allowed, disallowed) tiktoken's Python makes of them.
PyObject* special_tokens_resolve(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
extern const char kSpecialResolveDoc[];

}  // namespace velkan

#endif  // VELKAN_PYTHON_ADDED_TOKEN_SEARCH_H_
