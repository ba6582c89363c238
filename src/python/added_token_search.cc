// SpecialTokens.find, find_disallowed and resolve: the special-token finder
// and argument rules of encode, for callers that hold the text or the sets
// themselves (a stream's buffer, the general path), so that they find, refuse
// and read arguments exactly as encode does.

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

const char kSpecialFindDisallowedDoc[] =
    "find_disallowed($self, data, allowed_special, disallowed_special, /)\n--\n\n"
    "The disallowed string in data (UTF-8, bytes-like, or str) that the check names,\n"
    "as (start, string): of those found leftmost, the first in the order of\n"
    "frozenset(disallowed_special), as tiktoken reports it; None when there is none.";

PyObject* special_tokens_find_disallowed(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (!takes(nargs, 3, "find_disallowed(data, allowed_special, disallowed_special)")) {
    return nullptr;
  }
  return guard_memory([&]() -> PyObject* {
    SpecialArgs special;
    if (!special.parse(self, args[1], args[2])) return nullptr;
    if (!special.checks()) Py_RETURN_NONE;
    TextArg data;
    if (!text_of("find_disallowed", args[0], data, "data")) return nullptr;
    uint64_t start = 0;
    const PyRef name = special.named_disallowed(data.data(), data.size(), &start);
    if (name == nullptr) {
      if (PyErr_Occurred()) return nullptr;
      Py_RETURN_NONE;
    }
    return Py_BuildValue("(KO)", static_cast<unsigned long long>(start), name.get());
  });
}

const char kSpecialResolveDoc[] =
    "resolve($self, allowed_special, disallowed_special, /)\n--\n\n"
    "(allowed, disallowed): the arguments as frozensets, read as encode reads them\n"
    "(\"all\", any iterable of str; a false disallowed_special checks nothing), with\n"
    "its errors; disallowed \"all\" is every token not allowed, in tiktoken's order.";

PyObject* special_tokens_resolve(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (!takes(nargs, 2, "resolve(allowed_special, disallowed_special)")) return nullptr;
  return guard_memory([&]() -> PyObject* {
    SpecialArgs special;
    if (!special.parse(self, args[0], args[1])) return nullptr;
    return special.resolved();
  });
}

}  // namespace velkan
