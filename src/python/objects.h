// Python-side records of the extension: the instance records of the three
// types, the type objects, and the method tables that module.cc wires into
// them. Only this folder touches the interpreter.

#ifndef VELKAN_PYTHON_OBJECTS_H_
#define VELKAN_PYTHON_OBJECTS_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

#include "core/encoding.h"
#include "vocab/encoding_handle.h"

namespace velkan {

struct BytePairEncodingObject {
  PyObject_HEAD const BytePairEncoding* encoding;  // null when made by calling the type directly
  // The tokenizer whose own encoding (a vocabulary of one's own) this object
  // borrows, held so that the encoding outlives the object; null for the
  // process's cached encodings.
  PyObject* owner;
};

struct TokenizerObject {
  PyObject_HEAD const EncodingHandle* handle;  // null when made by calling the type directly
  // Non-zero: the handle record is freed with the object. Always 0 today
  // (handles come from the cache); kept for handles of their own.
  int32_t owns;
};

struct ParallelOptionsObject {
  PyObject_HEAD Py_ssize_t min_batch_size;
  Py_ssize_t chunk_size;
  Py_ssize_t max_threads;
};

extern PyTypeObject BytePairEncodingType;
extern PyTypeObject TokenizerType;
extern PyTypeObject ParallelOptionsType;

extern PyMethodDef bpe_methods[];
extern PyMethodDef tokenizer_methods[];

// The handle of a Tokenizer object, or null with ValueError set when the
// object was made by calling the type directly (it has no encoding).
const EncodingHandle* tokenizer_handle(PyObject* self);
extern PyMethodDef openai_functions[];

// Adds the constructor and is_cached_* of every registry entry to module
// (openai_functions.cc); -1 with the error set on failure.
int add_vocabulary_functions(PyObject* module);

}  // namespace velkan

#endif  // VELKAN_PYTHON_OBJECTS_H_
