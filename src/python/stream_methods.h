// Streaming methods of velkan.bpe.openai.Tokenizer (stream_methods.cc): the
// certain prefix of a buffer, encoded or counted. Each is one entry in the
// Tokenizer method table; velkan._stream builds the stream object on them.

#ifndef VELKAN_PYTHON_STREAM_METHODS_H_
#define VELKAN_PYTHON_STREAM_METHODS_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace velkan {

PyObject* tokenizer_encode_prefix(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
PyObject* tokenizer_count_prefix(PyObject* self, PyObject* const* args, Py_ssize_t nargs);

extern const char kEncodePrefixDoc[];
extern const char kCountPrefixDoc[];

// Cast for the method table.
template <typename F>
PyCFunction stream_method(F f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

}  // namespace velkan

#endif  // VELKAN_PYTHON_STREAM_METHODS_H_
