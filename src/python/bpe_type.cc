// velkan.bpe.BytePairEncoding: its record, its methods (count, encode and
// decode whole byte strings with the backtracking encoder, without
// pre-splitting; the tokens' bytes, in id order or sorted) and type object.

#include "python/bpe_type.h"

#include <cstddef>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "core/build.h"
#include "core/byte_order.h"
#include "core/encoder.h"
#include "python/convert.h"
#include "python/interpreter_lock.h"
#include "python/static_type.h"
#include "util/helper_thread.h"

namespace velkan {
namespace {

struct BytePairEncodingObject {
  PyObject_HEAD const BytePairEncoding* encoding;  // null when made by calling the type directly
  // The tokenizer whose own encoding (a vocabulary of one's own) this object
  // borrows, held so that the encoding outlives the object; null for the
  // process's cached encodings.
  PyObject* owner;
};

}  // namespace

const BytePairEncoding* bpe_encoding(PyObject* self) {
  const BytePairEncoding* bpe = reinterpret_cast<BytePairEncodingObject*>(self)->encoding;
  if (bpe == nullptr) {
    PyErr_SetString(PyExc_ValueError,
                    "BytePairEncoding has no encoding; get one from Tokenizer.bpe()");
  }
  return bpe;
}

bool bpe_forward_ready_unlocked(const BytePairEncoding& bpe) {
  if (bpe.forward_ready.load(std::memory_order_acquire)) return true;
  bool out_of_memory = false;
  {
    LockReleased released;
    try {
      bpe_compile_forward(bpe);
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
    }
  }
  if (out_of_memory) {
    PyErr_NoMemory();
    return false;
  }
  return true;
}

PyObject* bpe_object_new(const BytePairEncoding* encoding, PyObject* owner) {
  BytePairEncodingObject* object = PyObject_New(BytePairEncodingObject, &BytePairEncodingType);
  if (object == nullptr) return nullptr;
  object->encoding = encoding;
  Py_XINCREF(owner);
  object->owner = owner;
  return reinterpret_cast<PyObject*>(object);
}

namespace {

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
  const BytePairEncoding* bpe = bpe_encoding(self);
  if (bpe == nullptr || !bpe_forward_ready_unlocked(*bpe)) return nullptr;
  BufferArg data;
  if (!data.parse(args)) return nullptr;
  return guard_memory([&] { return PyLong_FromSize_t(bpe_count(*bpe, data.data(), data.size())); });
}

PyObject* bpe_object_encode_via_backtracking(PyObject* self, PyObject* args) {
  const BytePairEncoding* bpe = bpe_encoding(self);
  if (bpe == nullptr || !bpe_forward_ready_unlocked(*bpe)) return nullptr;
  BufferArg data;
  if (!data.parse(args)) return nullptr;
  return guard_memory([&] {
    std::vector<uint32_t> ids = bpe_encode(*bpe, data.data(), data.size());
    return tokens_to_list(ids.data(), ids.size());
  });
}

PyObject* bpe_object_decode_tokens(PyObject* self, PyObject* arg) {
  const BytePairEncoding* bpe = bpe_encoding(self);
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

// The id of the token whose bytes are exactly arg (a bytes object), or None:
// encode_single_token's lookup, one probe of the token index.
PyObject* bpe_object_token_id(PyObject* self, PyObject* arg) {
  const BytePairEncoding* bpe = bpe_encoding(self);
  if (bpe == nullptr) return nullptr;
  if (!PyBytes_Check(arg)) {
    PyErr_Format(PyExc_TypeError, "_token_id: expected bytes, not %.200s", Py_TYPE(arg)->tp_name);
    return nullptr;
  }
  const int32_t id =
      token_index_find(bpe->token_index, bpe->token_bytes.data(), bpe->token_starts.data(),
                       bpe->hash_factor, reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(arg)),
                       static_cast<size_t>(PyBytes_GET_SIZE(arg)));
  if (id < 0) Py_RETURN_NONE;
  return PyLong_FromLong(id);
}

// The bytes of the token of id arg, or None when arg is not an int (exactly)
// naming a token: decode_single_token_bytes's fast path, whose callers take
// the general one on None.
PyObject* bpe_object_token_bytes(PyObject* self, PyObject* arg) {
  const BytePairEncoding* bpe = bpe_encoding(self);
  if (bpe == nullptr) return nullptr;
  if (!PyLong_CheckExact(arg)) Py_RETURN_NONE;
  int overflow = 0;
  const long long id = PyLong_AsLongLongAndOverflow(arg, &overflow);
  if (overflow != 0 || id < 0 || id >= static_cast<long long>(bpe->num_tokens)) Py_RETURN_NONE;
  const auto i = static_cast<uint32_t>(id);
  const uint32_t length = bpe->token_length(i);
  if (length == 0) Py_RETURN_NONE;  // a gap
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bpe->token_data(i)), length);
}

// A list of the bytes of each token: in id order with None for a gap, or
// (sorted) the tokens only, in byte order. With twice, a tuple of two such
// lists of the same objects.
PyObject* bpe_object_tokens(PyObject* self, PyObject* args) {
  const BytePairEncoding* bpe = bpe_encoding(self);
  if (bpe == nullptr) return nullptr;
  int sorted = 0, twice = 0;
  if (!PyArg_ParseTuple(args, "p|p:_tokens", &sorted, &twice)) return nullptr;
  return guard_memory([&]() -> PyObject* {
    const auto make = [bpe](uint32_t id) {
      return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bpe->token_data(id)),
                                       bpe->token_length(id));
    };
    // The second list is filled beside the first, while each object is
    // fresh in the cache: a copy made afterwards touches every object again
    // (on o200k_base 4 ms, a third of a first token_byte_values()).
    PyRef first, second;
    const auto lists = [&](size_t size) {
      first = PyRef(PyList_New(static_cast<Py_ssize_t>(size)));
      if (first && twice) second = PyRef(PyList_New(static_cast<Py_ssize_t>(size)));
      return first && (!twice || second);
    };
    const auto put = [&](size_t at, PyObject* item) {
      PyList_SET_ITEM(first.get(), static_cast<Py_ssize_t>(at), item);
      if (twice) {
        Py_INCREF(item);
        PyList_SET_ITEM(second.get(), static_cast<Py_ssize_t>(at), item);
      }
    };
    const auto result = [&]() -> PyObject* {
      if (!twice) return first.release();
      return PyTuple_Pack(2, first.get(), second.get());
    };
    if (!sorted) {
      if (!lists(bpe->num_tokens)) return nullptr;
      for (uint32_t id = 0; id < bpe->num_tokens; id++) {
        PyObject* item = Py_None;
        if (bpe->token_length(id) == 0) {
          Py_INCREF(item);
        } else if ((item = make(id)) == nullptr) {
          return nullptr;
        }
        put(id, item);
      }
      return result();
    }
    const auto fill = [&](const uint32_t* ids, size_t count, size_t at) {
      for (size_t i = 0; i < count; i++) {
        // The tokens are read at random: fetched a few ahead.
        if (i + 8 < count) __builtin_prefetch(bpe->token_data(ids[i + 8]));
        PyObject* item = make(ids[i]);
        if (item == nullptr) return false;
        put(at + i, item);
      }
      return true;
    };
    if (!bpe->byte_order.empty()) {
      // Made with the record (a loaded image carries it): the gaps lead.
      const std::vector<uint32_t>& order = bpe->byte_order;
      size_t gaps = 0;
      while (gaps < order.size() && bpe->token_length(order[gaps]) == 0) gaps++;
      if (!lists(order.size() - gaps) || !fill(order.data() + gaps, order.size() - gaps, 0)) {
        return nullptr;
      }
      return result();
    }
    // The tokens fall in two ranges of first bytes, each sorted apart: the
    // upper one on a helper thread (when one can be had) while this one
    // sorts the lower one and makes its bytes objects. They are made in
    // byte order, so that a copy of the list (every later call) walks them
    // in memory order. Performance notes: on o200k_base the sort takes 7 to
    // 10 ms and the bytes objects 6 to 7 ms; made in id order during the
    // sort, later copies of the list took 5 ms instead of 0.6 ms (reading the
    // objects at random).
    const ByteOrderCut cut = bpe_byte_order_cut(*bpe);
    std::vector<uint32_t> upper;
    std::exception_ptr failure;
    auto sort_upper = [&] {
      try {
        upper = bpe_ids_in_byte_order(*bpe, cut.cut, 256);
      } catch (...) {
        failure = std::current_exception();
      }
    };
    JoiningThread sorter = try_start_helper_thread(sort_upper);  // joins on every path
    const std::vector<uint32_t> lower = bpe_ids_in_byte_order(*bpe, 0, cut.cut);
    if (!lists(cut.tokens) || !fill(lower.data(), lower.size(), 0)) return nullptr;
    if (sorter.joinable()) {
      sorter.join();
    } else {
      sort_upper();
    }
    if (failure) std::rethrow_exception(failure);
    if (!fill(upper.data(), upper.size(), lower.size())) return nullptr;
    return result();
  });
}

// Whether ranks (a dict) names exactly this vocabulary's tokens below size,
// each by its id: True or False, or None when a rank is not exactly an int
// (the caller then compares as dicts do). Distinct keys that each equal the
// token of their rank cannot share a rank, so the count settles the rest.
PyObject* bpe_object_same_ranks(PyObject* self, PyObject* args) {
  const BytePairEncoding* bpe = bpe_encoding(self);
  if (bpe == nullptr) return nullptr;
  PyObject* ranks = nullptr;
  unsigned long size = 0;
  if (!PyArg_ParseTuple(args, "O!k:_same_ranks", &PyDict_Type, &ranks, &size)) return nullptr;
  if (size > bpe->num_tokens) Py_RETURN_FALSE;
  const auto compare = [&]() -> int {  // 1 same, 0 not, -1 another type of rank
    PyObject *key, *value;
    for (Py_ssize_t pos = 0; PyDict_Next(ranks, &pos, &key, &value);) {
      if (!PyLong_CheckExact(value)) return -1;
      int overflow = 0;
      const long long rank = PyLong_AsLongLongAndOverflow(value, &overflow);
      if (overflow != 0 || rank < 0 || rank >= static_cast<long long>(size)) return 0;
      if (!PyBytes_Check(key)) return 0;
      const auto id = static_cast<uint32_t>(rank);
      const uint32_t length = bpe->token_length(id);
      if (length == 0 || static_cast<size_t>(PyBytes_GET_SIZE(key)) != length ||
          std::memcmp(PyBytes_AS_STRING(key), bpe->token_data(id), length) != 0) {
        return 0;
      }
    }
    size_t tokens = 0;
    for (uint32_t id = 0; id < size; id++) tokens += bpe->token_length(id) != 0;
    return static_cast<size_t>(PyDict_GET_SIZE(ranks)) == tokens ? 1 : 0;
  };
  int same;
#ifdef Py_BEGIN_CRITICAL_SECTION
  // Free-threaded builds: another thread may change the dict meanwhile.
  Py_BEGIN_CRITICAL_SECTION(ranks);
  same = compare();
  Py_END_CRITICAL_SECTION();
#else
  same = compare();
#endif
  if (same < 0) Py_RETURN_NONE;
  return PyBool_FromLong(same);
}

void bpe_object_dealloc(PyObject* self) {
  auto* o = reinterpret_cast<BytePairEncodingObject*>(self);
  Py_XDECREF(o->owner);
  Py_TYPE(self)->tp_free(self);
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
PyDoc_STRVAR(tokens_doc,
             "_tokens($self, sorted, twice=False, /)\n--\n\n"
             "Return a list of the bytes of every token: in id order with None for an id\n"
             "without a token, or when sorted is true the tokens only, in byte order. With\n"
             "twice true, a tuple of two such lists of the same objects.");

PyMethodDef bpe_methods[] = {
    {"count", bpe_object_count, METH_VARARGS, count_doc},
    {"encode_via_backtracking", bpe_object_encode_via_backtracking, METH_VARARGS,
     encode_via_backtracking_doc},
    {"decode_tokens", bpe_object_decode_tokens, METH_O, decode_tokens_doc},
    {"_tokens", bpe_object_tokens, METH_VARARGS, tokens_doc},
    {"_same_ranks", bpe_object_same_ranks, METH_VARARGS,
     "_same_ranks($self, ranks, size, /)\n--\n\n"
     "Return whether the dict ranks maps exactly the tokens with ids below size to\n"
     "their ids; None when a rank is not an int."},
    {"_token_id", bpe_object_token_id, METH_O,
     "_token_id($self, data, /)\n--\n\n"
     "Return the id of the token whose bytes are exactly data (bytes), or None."},
    {"_token_bytes", bpe_object_token_bytes, METH_O,
     "_token_bytes($self, id, /)\n--\n\n"
     "Return the bytes of the token of id (an int), or None when there is none."},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

PyDoc_STRVAR(bpe_type_doc,
             "One vocabulary's byte-pair encoding, used on raw bytes without pre-splitting.\n"
             "Get one from Tokenizer.bpe().");

}  // namespace

PyTypeObject BytePairEncodingType = [] {
  PyTypeObject t =
      make_type("velkan.bpe.BytePairEncoding", sizeof(BytePairEncodingObject), bpe_type_doc);
  t.tp_dealloc = bpe_object_dealloc;
  t.tp_methods = bpe_methods;
  return t;
}();

}  // namespace velkan
