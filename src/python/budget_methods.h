// Token-budget methods of velkan.bpe.openai.Tokenizer (budget_methods.cc):
// chunks, chunk_spans, truncate, encode_with_offsets and decoder. Each is one
// entry in the Tokenizer method table; decoder's class is handed in by the
// package (_set_stream_decoder, in the module's table).

#ifndef VELKAN_PYTHON_BUDGET_METHODS_H_
#define VELKAN_PYTHON_BUDGET_METHODS_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace velkan {

PyObject* tokenizer_chunks(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* tokenizer_chunk_spans(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* tokenizer_truncate(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* tokenizer_encode_with_offsets(PyObject* self, PyObject* arg);
PyObject* tokenizer_decoder(PyObject* self, PyObject* const* args, Py_ssize_t nargs);

// velkan.bpe.openai._set_stream_decoder(type): the class decoder() makes,
// handed in by velkan._budget when the package is imported.
PyObject* openai_set_stream_decoder(PyObject* module, PyObject* type);

extern const char kChunksDoc[];
extern const char kChunkSpansDoc[];
extern const char kTruncateDoc[];
extern const char kEncodeWithOffsetsDoc[];
extern const char kDecoderDoc[];

// Casts for the method table.
template <typename F>
PyCFunction budget_method(F f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

}  // namespace velkan

#endif  // VELKAN_PYTHON_BUDGET_METHODS_H_
