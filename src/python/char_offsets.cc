// velkan.bpe.openai._char_offsets and _cut_levels: the character-offset rule
// of char_offsets.h and the chunks' cut levels of driver/budget.h for the
// package's general path, so that every decode_with_offsets and
// encode_with_offsets counts the same way and chunks rank their cuts by one
// rule whatever splits the text.

#include "python/char_offsets.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "driver/budget.h"
#include "python/convert.h"
#include "python/py_ref.h"

namespace velkan {
namespace {

// function(data, offsets): at(data, i, byte) of each byte offset of offsets
// into data (bytes-like), as a list; at returns a new reference, or null with
// an exception set.
template <typename At>
PyObject* map_offsets(const char* function, PyObject* const* args, Py_ssize_t nargs,
                      const char* offsets_name, At at) {
  if (nargs != 2) {
    PyErr_Format(PyExc_TypeError, "%s() takes exactly 2 arguments (%zd given)", function, nargs);
    return nullptr;
  }
  TextArg data;
  if (!text_of(function, args[0], data, "data")) return nullptr;
  const PyRef offsets(PySequence_Fast(args[1], offsets_name));
  if (offsets == nullptr) return nullptr;
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(offsets.get());
  return guard_memory([&]() -> PyObject* {
    std::vector<PyRef> out;
    out.reserve(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; i++) {
      const unsigned long long byte =
          PyLong_AsUnsignedLongLong(PySequence_Fast_GET_ITEM(offsets.get(), i));
      if (byte == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return nullptr;
      out.emplace_back(at(data, i, byte));
      if (out.back() == nullptr) return nullptr;
    }
    return refs_to_list(out);
  });
}

}  // namespace

const char kCharOffsetsDoc[] =
    "_char_offsets(data, starts, /)\n--\n\n"
    "The character offset of each byte offset of starts (increasing) into data\n"
    "(UTF-8, bytes-like); a byte inside a character gets that character's offset.";

PyObject* openai_char_offsets(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  // One forward pass over data, made at the first start: starts must increase.
  std::optional<CharOffsets> offsets;
  uint64_t previous = 0;
  return map_offsets("_char_offsets", args, nargs, "_char_offsets: starts must be a sequence",
                     [&](const TextArg& data, Py_ssize_t i, unsigned long long byte) -> PyObject* {
                       if (!offsets) offsets.emplace(data.data(), data.size(), true);
                       if (byte < previous) {
                         PyErr_Format(PyExc_ValueError,
                                      "_char_offsets: starts[%zd] = %llu is below the one before",
                                      i, byte);
                         return nullptr;
                       }
                       previous = byte;
                       return PyLong_FromUnsignedLongLong(offsets->at(byte));
                     });
}

const char kCutLevelsDoc[] =
    "_cut_levels(data, cuts, /)\n--\n\n"
    "How good a chunk's cut at each byte offset of cuts (each above 0) into data\n"
    "(UTF-8, bytes-like) is, as chunks rank them: 5 the end, 4 after a blank line,\n"
    "3 after a line break, 2 after a sentence end, 1 next to whitespace, 0 else.";

PyObject* openai_cut_levels(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  return map_offsets("_cut_levels", args, nargs, "_cut_levels: cuts must be a sequence",
                     [](const TextArg& data, Py_ssize_t i, unsigned long long byte) -> PyObject* {
                       // A cut at 0 has no byte before it to rank.
                       if (byte == 0) {
                         PyErr_Format(PyExc_ValueError, "_cut_levels: cuts[%zd] must be above 0",
                                      i);
                         return nullptr;
                       }
                       return PyLong_FromLong(budget_cut_level(data.data(), data.size(), byte));
                     });
}

}  // namespace velkan
