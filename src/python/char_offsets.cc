// velkan.bpe.openai._char_offsets: the character-offset rule of
// char_offsets.h for the package's general path, so that every
// decode_with_offsets and encode_with_offsets counts the same way.

#include "python/char_offsets.h"

#include <cstdint>
#include <vector>

#include "python/convert.h"
#include "python/py_ref.h"

namespace velkan {

const char kCharOffsetsDoc[] =
    "_char_offsets(data, starts, /)\n--\n\n"
    "The character offset of each byte offset of starts (increasing) into data\n"
    "(UTF-8, bytes-like); a byte inside a character gets that character's offset.";

PyObject* openai_char_offsets(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 2) {
    PyErr_Format(PyExc_TypeError, "_char_offsets() takes exactly 2 arguments (%zd given)", nargs);
    return nullptr;
  }
  TextArg data;
  if (!text_of("_char_offsets", args[0], data, "data")) return nullptr;
  const PyRef starts(PySequence_Fast(args[1], "_char_offsets: starts must be a sequence"));
  if (starts == nullptr) return nullptr;
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(starts.get());
  return guard_memory([&]() -> PyObject* {
    std::vector<PyRef> out;
    out.reserve(static_cast<size_t>(n));
    CharOffsets at(data.data(), data.size(), true);
    uint64_t previous = 0;
    for (Py_ssize_t i = 0; i < n; i++) {
      const unsigned long long byte =
          PyLong_AsUnsignedLongLong(PySequence_Fast_GET_ITEM(starts.get(), i));
      if (byte == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return nullptr;
      if (byte < previous) {
        PyErr_Format(PyExc_ValueError, "_char_offsets: starts[%zd] = %llu is below the one before",
                     i, byte);
        return nullptr;
      }
      previous = byte;
      out.emplace_back(PyLong_FromUnsignedLongLong(at.at(byte)));
      if (out.back() == nullptr) return nullptr;
    }
    return refs_to_list(out);
  });
}

}  // namespace velkan
