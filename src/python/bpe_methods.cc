// Methods of velkan.bpe.BytePairEncoding: count, encode and decode whole byte
// strings with the backtracking encoder, without pre-splitting.

#include "python/objects.h"

namespace velkan {
namespace {

// An object made by calling the type directly has no encoding.
BytePairEncoding* encoding_of(PyObject* self) {
  BytePairEncoding* bpe = reinterpret_cast<BytePairEncodingObject*>(self)->encoding;
  if (bpe == nullptr) {
    PyErr_SetString(PyExc_ValueError,
                    "BytePairEncoding has no encoding; get one from Tokenizer.bpe()");
  }
  return bpe;
}

PyObject* not_implemented(PyObject* self) {
  if (encoding_of(self) == nullptr) return nullptr;
  PyErr_SetString(PyExc_NotImplementedError, "not implemented yet");
  return nullptr;
}

PyObject* bpe_count(PyObject* self, PyObject*) { return not_implemented(self); }
PyObject* bpe_encode_via_backtracking(PyObject* self, PyObject*) { return not_implemented(self); }
PyObject* bpe_decode_tokens_method(PyObject* self, PyObject*) { return not_implemented(self); }

}  // namespace

PyMethodDef bpe_methods[] = {
    {"count", bpe_count, METH_VARARGS, nullptr},
    {"encode_via_backtracking", bpe_encode_via_backtracking, METH_VARARGS, nullptr},
    {"decode_tokens", bpe_decode_tokens_method, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

}  // namespace velkan
