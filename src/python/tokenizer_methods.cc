// Methods of velkan.bpe.openai.Tokenizer and the functions of the module
// velkan.bpe.openai: whole-text encode, count, limit and decode, single and
// batched, and the vocabulary constructors.

#include "python/objects.h"

namespace velkan {
namespace {

// An object made by calling the type directly has no encoding.
EncodingHandle* handle_of(PyObject* self) {
  EncodingHandle* handle = reinterpret_cast<TokenizerObject*>(self)->handle;
  if (handle == nullptr) {
    PyErr_SetString(PyExc_ValueError,
                    "Tokenizer has no encoding; get one from velkan.bpe.openai.cl100k_base() "
                    "or o200k_base()");
  }
  return handle;
}

PyObject* not_implemented() {
  PyErr_SetString(PyExc_NotImplementedError, "not implemented yet");
  return nullptr;
}

PyObject* method_stub(PyObject* self, PyObject*) {
  if (handle_of(self) == nullptr) return nullptr;
  return not_implemented();
}

PyObject* function_stub(PyObject*, PyObject*) { return not_implemented(); }

}  // namespace

PyMethodDef tokenizer_methods[] = {
    {"count", method_stub, METH_VARARGS, nullptr},
    {"count_till_limit", method_stub, METH_VARARGS, nullptr},
    {"encode", method_stub, METH_VARARGS, nullptr},
    {"encode_batch", method_stub, METH_VARARGS, nullptr},
    {"encode_batch_parallel", method_stub, METH_VARARGS, nullptr},
    {"decode", method_stub, METH_VARARGS, nullptr},
    {"decode_batch", method_stub, METH_VARARGS, nullptr},
    {"decode_batch_parallel", method_stub, METH_VARARGS, nullptr},
    {"bpe", method_stub, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

PyMethodDef openai_functions[] = {
    {"cl100k_base", function_stub, METH_NOARGS, nullptr},
    {"o200k_base", function_stub, METH_NOARGS, nullptr},
    {"is_cached_cl100k", function_stub, METH_NOARGS, nullptr},
    {"is_cached_o200k", function_stub, METH_NOARGS, nullptr},
    {"get_num_threads", function_stub, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

}  // namespace velkan
