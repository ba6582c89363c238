// Conversions between Python arguments and native data, shared by the
// binding's types and module: token ids to and from Python, text arguments
// to bytes, and the guard that turns C++ allocation failures into
// MemoryError.

#ifndef VELKAN_PYTHON_CONVERT_H_
#define VELKAN_PYTHON_CONVERT_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <new>
#include <string_view>
#include <vector>

#include "python/py_ref.h"

namespace velkan {

// A new str of UTF-8 text, or null with the error set.
inline PyObject* as_str(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// A new list of n ints, or null with the interpreter's error set.
PyObject* tokens_to_list(const uint32_t* ids, uint64_t n);

// Where an argument came from, for error messages: "decode: ids" or, with an
// index, "decode_batch: batch[3]".
struct ArgumentName {
  const char* function;
  const char* argument;
  Py_ssize_t index = -1;  // -1: not an item of a batch
};

// One token id, or false with the interpreter's error set. Ids are ints and
// objects with __index__ (numpy's); others raise TypeError. With name, the
// binding's own rule: an id is not negative (ValueError) and fits in 32
// signed bits (OverflowError), and the errors name the argument. Without
// (the SpecialTokens methods behind Encoding.decode), tiktoken's: any C long
// from 0 to 2**32 - 1, with tiktoken's errors.
bool id_of(PyObject* item, const ArgumentName* name, uint32_t* id);

// Converts a sequence of ints (a list, tuple, range, array, ...; not a str or
// bytes-like object, whose items are not ids) to ids. Elements must be
// integers (or have __index__) in the signed 32-bit range and not negative.
// Returns false with the interpreter's error set otherwise (TypeError,
// OverflowError or ValueError, naming the argument).
bool sequence_to_ids(PyObject* sequence, std::vector<uint32_t>& ids, const ArgumentName& name);

// A new list that takes over the references, or null with the error set.
// Callers make every element first: making a list can start the garbage
// collector, which runs Python code, and no Python code may see a list with
// empty slots. Throws nothing.
PyObject* refs_to_list(std::vector<PyRef>& refs);

// The bytes of one text argument: a str's UTF-8 form (kept by the str), the
// contents of a bytes object, or a held buffer of any other bytes-like object
// (bytearray, memoryview, ...), released with the TextArg.
class TextArg {
 public:
  enum Result { kOk, kWrongType, kFailed };

  TextArg() = default;
  TextArg(const TextArg&) = delete;
  TextArg& operator=(const TextArg&) = delete;
  TextArg(TextArg&& other) noexcept;
  ~TextArg();

  // kWrongType (no error set) when arg is neither str nor bytes-like;
  // kFailed with the interpreter's error set when it is one but has no bytes
  // (a str with lone surrogates, a buffer that is not contiguous).
  Result parse(PyObject* arg);

  const uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }
  // True when the bytes may change under us (a writable buffer): whoever
  // reads them without the interpreter lock copies them first.
  bool writable() const { return held_ && !view_.readonly; }

 private:
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  Py_buffer view_{};
  bool held_ = false;
};

// Reads the text argument arg of function into text; false with the error
// set, TypeError "<function>: <what> must be str or bytes, not <type>" when
// it is neither.
bool text_of(const char* function, PyObject* arg, TextArg& text, const char* what = "text");

// Runs body (which returns a new reference or null) and turns std::bad_alloc
// escaping from the native code into MemoryError, so that a failed
// allocation never takes the interpreter down.
template <typename Body>
PyObject* guard_memory(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

}  // namespace velkan

#endif  // VELKAN_PYTHON_CONVERT_H_
