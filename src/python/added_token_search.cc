// SpecialTokens.find and SpecialTokens.check_bytes: the special-token finder
// of encode, over bytes a caller holds (a stream's buffer), so that a stream
// finds and refuses exactly the tokens encode would.

#include "python/added_token_search.h"

#include <cstdint>
#include <optional>

#include "python/added_tokens_type.h"
#include "python/convert.h"

namespace velkan {
namespace {

bool takes(Py_ssize_t nargs, Py_ssize_t n, const char* signature) {
  if (nargs == n) return true;
  PyErr_Format(PyExc_TypeError, "%s takes exactly %zd arguments (%zd given)", signature, n, nargs);
  return false;
}

}  // namespace

const char kSpecialFindDoc[] =
    "find($self, data, start, allowed_special, /)\n--\n\n"
    "The leftmost special token of allowed_special (\"all\" or a set) in data (str or\n"
    "bytes-like) that starts at byte start or after it, the longest where several\n"
    "start there, as (start, end, id); None when there is none.";

PyObject* special_tokens_find(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (!takes(nargs, 3, "find(data, start, allowed_special)")) return nullptr;
  const Py_ssize_t start = PyLong_AsSsize_t(args[1]);
  if (start == -1 && PyErr_Occurred()) return nullptr;
  if (start < 0) {
    PyErr_Format(PyExc_ValueError, "find: start must be 0 or more, got %zd", start);
    return nullptr;
  }
  return guard_memory([&]() -> PyObject* {
    SpecialArgs special;
    if (!special.parse(self, args[2], Py_None)) return nullptr;
    TextArg data;
    if (!text_of("find", args[0], data, "data")) return nullptr;
    const std::optional<SpecialMatch> found =
        special.find_allowed(data.data(), data.size(), static_cast<uint64_t>(start));
    if (!found) Py_RETURN_NONE;
    return Py_BuildValue("(KKk)", static_cast<unsigned long long>(found->start),
                         static_cast<unsigned long long>(found->end),
                         static_cast<unsigned long>(found->index));
  });
}

const char kSpecialCheckBytesDoc[] =
    "check_bytes($self, data, allowed_special, disallowed_special, /)\n--\n\n"
    "check() of data already in UTF-8 (bytes-like, or str): tiktoken's ValueError\n"
    "for the first disallowed string in it, else None.";

PyObject* special_tokens_check_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (!takes(nargs, 3, "check_bytes(data, allowed_special, disallowed_special)")) return nullptr;
  return guard_memory([&]() -> PyObject* {
    SpecialArgs special;
    if (!special.parse(self, args[1], args[2])) return nullptr;
    if (!special.checks()) Py_RETURN_NONE;
    TextArg data;
    if (!text_of("check_bytes", args[0], data, "data")) return nullptr;
    if (special.first_disallowed(data.data(), data.size())) {
      return special.raise_disallowed(data.data(), data.size());
    }
    Py_RETURN_NONE;
  });
}

}  // namespace velkan
