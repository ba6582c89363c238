// Methods of velkan.bpe.BytePairEncoding: count, encode and decode whole byte
// strings with the backtracking encoder, without pre-splitting.

#include <vector>

#include "core/encoder.h"
#include "python/convert.h"
#include "python/objects.h"

namespace velkan {
namespace {

// An object made by calling the type directly has no encoding.
const BytePairEncoding* encoding_of(PyObject* self) {
  const BytePairEncoding* bpe = reinterpret_cast<BytePairEncodingObject*>(self)->encoding;
  if (bpe == nullptr) {
    PyErr_SetString(PyExc_ValueError,
                    "BytePairEncoding has no encoding; get one from Tokenizer.bpe()");
  }
  return bpe;
}

// A bytes-like argument, released on every path.
struct BufferArg {
  Py_buffer view{};
  bool held = false;
  ~BufferArg() {
    if (held) PyBuffer_Release(&view);
  }
  bool parse(PyObject* args) { return held = PyArg_ParseTuple(args, "y*", &view); }
  const uint8_t* data() const { return static_cast<const uint8_t*>(view.buf); }
  uint64_t size() const { return static_cast<uint64_t>(view.len); }
};

PyObject* bpe_object_count(PyObject* self, PyObject* args) {
  const BytePairEncoding* bpe = encoding_of(self);
  if (bpe == nullptr) return nullptr;
  BufferArg data;
  if (!data.parse(args)) return nullptr;
  return guard_memory([&] { return PyLong_FromSize_t(bpe_count(*bpe, data.data(), data.size())); });
}

PyObject* bpe_object_encode_via_backtracking(PyObject* self, PyObject* args) {
  const BytePairEncoding* bpe = encoding_of(self);
  if (bpe == nullptr) return nullptr;
  BufferArg data;
  if (!data.parse(args)) return nullptr;
  return guard_memory([&] {
    std::vector<uint32_t> ids = bpe_encode(*bpe, data.data(), data.size());
    return tokens_to_list(ids.data(), ids.size());
  });
}

PyObject* bpe_object_decode_tokens(PyObject* self, PyObject* arg) {
  const BytePairEncoding* bpe = encoding_of(self);
  if (bpe == nullptr) return nullptr;
  return guard_memory([&]() -> PyObject* {
    std::vector<uint32_t> ids;
    if (!sequence_to_ids(arg, ids, {"decode_tokens", "ids"})) return nullptr;
    std::optional<uint64_t> length = bpe_decoded_length(*bpe, ids.data(), ids.size());
    // An id out of range gives empty bytes, not an error.
    if (!length) return PyBytes_FromStringAndSize(nullptr, 0);
    // Decoded straight into the bytes object: no intermediate copy.
    PyObject* bytes = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(*length));
    if (bytes == nullptr) return nullptr;
    bpe_decode_into(*bpe, ids.data(), ids.size(),
                    reinterpret_cast<uint8_t*>(PyBytes_AS_STRING(bytes)));
    return bytes;
  });
}

// ---- method table ----------------------------------------------------------------

PyDoc_STRVAR(count_doc,
             "count($self, data, /)\n--\n\n"
             "Return the number of tokens of the bytes-like data, encoded whole (no\n"
             "pre-splitting).");
PyDoc_STRVAR(encode_via_backtracking_doc,
             "encode_via_backtracking($self, data, /)\n--\n\n"
             "Return the token ids of the bytes-like data, encoded whole (no pre-splitting).");
PyDoc_STRVAR(decode_tokens_doc,
             "decode_tokens($self, ids, /)\n--\n\n"
             "Return the bytes of a sequence of token ids; empty bytes when an id is not in\n"
             "the vocabulary.");

}  // namespace

PyMethodDef bpe_methods[] = {
    {"count", bpe_object_count, METH_VARARGS, count_doc},
    {"encode_via_backtracking", bpe_object_encode_via_backtracking, METH_VARARGS,
     encode_via_backtracking_doc},
    {"decode_tokens", bpe_object_decode_tokens, METH_O, decode_tokens_doc},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

}  // namespace velkan
