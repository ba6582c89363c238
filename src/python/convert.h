// Conversions between token-id arrays and Python lists, shared by the
// BytePairEncoding and Tokenizer methods, and the guard that turns C++
// allocation failures into MemoryError.

#ifndef VELKAN_PYTHON_CONVERT_H_
#define VELKAN_PYTHON_CONVERT_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <new>
#include <vector>

namespace velkan {

// A new list of n ints, or null with the interpreter's error set.
PyObject* tokens_to_list(const uint32_t* ids, uint64_t n);

// Converts a list of ints to ids. Elements must be integers in the signed
// 32-bit range and not negative. Returns false with the interpreter's error
// set otherwise (TypeError, OverflowError or ValueError).
bool list_to_ids(PyObject* list, std::vector<uint32_t>& ids);

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
