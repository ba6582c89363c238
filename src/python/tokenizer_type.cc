// velkan.bpe.openai.Tokenizer: its record, the methods on one text (encode,
// count, limit, special tokens, the certain prefix of a stream) and on ids
// (decode, single and batched), the method table, which also holds the
// methods of tokenizer_batch.cc and tokenizer_budget.cc, and the type object.

#include "python/tokenizer_type.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/encode_bytes.h"
#include "driver/piecewise.h"
#include "driver/stream.h"
#include "python/added_tokens_type.h"
#include "python/batch.h"
#include "python/bpe_type.h"
#include "python/convert.h"
#include "python/interpreter_lock.h"
#include "python/py_ref.h"
#include "python/static_type.h"

namespace velkan {
namespace {

struct TokenizerObject {
  PyObject_HEAD const EncodingHandle* handle;  // null when made by calling the type directly
  // Non-zero: the handle record is freed with the object (a vocabulary or a
  // rule set of one's own); 0 for the encoding cache's handles.
  int32_t owns;
};

PyObject* tokenizer_wrap(const EncodingHandle* handle, int32_t owns) {
  TokenizerObject* object = PyObject_New(TokenizerObject, &TokenizerType);
  if (object == nullptr) return nullptr;
  object->handle = handle;
  object->owns = owns;
  return reinterpret_cast<PyObject*>(object);
}

}  // namespace

PyObject* tokenizer_new(const EncodingHandle* handle) { return tokenizer_wrap(handle, 0); }

PyObject* tokenizer_new_owning(std::unique_ptr<EncodingHandle> handle) {
  PyObject* object = tokenizer_wrap(handle.get(), 1);
  if (object != nullptr) handle.release();
  return object;
}

namespace {

// The handle, or null with ValueError for a Tokenizer made directly.
const EncodingHandle* handle_of(PyObject* self) {
  const EncodingHandle* handle = reinterpret_cast<TokenizerObject*>(self)->handle;
  if (handle == nullptr) {
    PyErr_SetString(PyExc_ValueError,
                    "Tokenizer has no encoding; get one from velkan.bpe.openai.cl100k_base() "
                    "or o200k_base()");
  }
  return handle;
}

}  // namespace

const EncodingHandle* tokenizer_handle(PyObject* self) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  // A vocabulary built from ranks compiles its automaton in the background,
  // and the walks do not wait for it. Where that compile is not running (no
  // thread could be had, or a forked child), the first call that may encode
  // compiles it, whatever the length of the text.
  if (!handle->encoding->forward_ready.load(std::memory_order_acquire) &&
      !bpe_forward_compiling(*handle->encoding) && !bpe_forward_ready_unlocked(*handle->encoding))
      [[unlikely]] {
    return nullptr;
  }
  return handle;
}

namespace {

// Decodes ids to a str; None when an id is out of range or the bytes are not
// UTF-8.
PyObject* decode_ids(const EncodingHandle& handle, const std::vector<uint32_t>& ids) {
  const BytePairEncoding& bpe = *handle.encoding;
  std::optional<uint64_t> length = bpe_decoded_length(bpe, ids.data(), ids.size());
  if (!length) Py_RETURN_NONE;
  std::string bytes(static_cast<size_t>(*length), '\0');
  bpe_decode_into(bpe, ids.data(), ids.size(), reinterpret_cast<uint8_t*>(bytes.data()));
  PyObject* text =
      PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "strict");
  if (text == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return nullptr;
    PyErr_Clear();
    Py_RETURN_NONE;
  }
  return text;
}

// Checks the positional arguments of a METH_FASTCALL method.
bool check_arity(const char* name, Py_ssize_t nargs, Py_ssize_t least, Py_ssize_t most) {
  if (nargs >= least && nargs <= most) return true;
  if (least == most) {
    PyErr_Format(PyExc_TypeError, "%s() takes exactly %zd argument%s (%zd given)", name, least,
                 least == 1 ? "" : "s", nargs);
  } else {
    PyErr_Format(PyExc_TypeError, "%s() takes from %zd to %zd arguments (%zd given)", name, least,
                 most, nargs);
  }
  return false;
}

// ---- Tokenizer methods ---------------------------------------------------------

PyObject* tokenizer_count(PyObject* self, PyObject* arg) {
  const EncodingHandle* handle = tokenizer_handle(self);
  if (handle == nullptr) return nullptr;
  TextArg text;
  if (!text_of("count", arg, text)) return nullptr;
  return guard_memory([&]() -> PyObject* {
    uint64_t count = 0;
    if (!run_on_text(text, [&](const uint8_t* data, uint64_t n, const Interrupt* hook) {
          count = piecewise_count(*handle, data, n, hook);
        })) {
      return nullptr;
    }
    return PyLong_FromUnsignedLongLong(count);
  });
}

// The limit argument of count_till_limit: a non-negative int below 2**63.
bool limit_of(PyObject* arg, uint64_t* limit) {
  const PyRef index(PyNumber_Index(arg));
  if (index == nullptr) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      PyErr_Format(PyExc_TypeError, "count_till_limit: limit must be an int, not %.200s",
                   Py_TYPE(arg)->tp_name);
    }
    return false;
  }
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (value == -1 && PyErr_Occurred()) return false;
  if (overflow > 0) {
    PyErr_Format(PyExc_OverflowError,
                 "count_till_limit: limit is too large, at most 2**63 - 1, got %R", index.get());
    return false;
  }
  if (overflow < 0 || value < 0) {
    PyErr_Format(PyExc_ValueError, "count_till_limit: limit must not be negative, got %R",
                 index.get());
    return false;
  }
  *limit = static_cast<uint64_t>(value);
  return true;
}

PyObject* tokenizer_count_till_limit(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  const EncodingHandle* handle = tokenizer_handle(self);
  if (handle == nullptr) return nullptr;
  if (!check_arity("count_till_limit", nargs, 2, 2)) return nullptr;
  TextArg text;
  if (!text_of("count_till_limit", args[0], text)) return nullptr;
  uint64_t limit;
  if (!limit_of(args[1], &limit)) return nullptr;
  return guard_memory([&]() -> PyObject* {
    uint64_t count = 0;
    if (!run_on_text(text, [&](const uint8_t* data, uint64_t n, const Interrupt* hook) {
          count = piecewise_count_till_limit(*handle, data, n, limit, hook);
        })) {
      return nullptr;
    }
    if (count == kOverLimit) Py_RETURN_NONE;
    return PyLong_FromUnsignedLongLong(count);
  });
}

// The ids of encode calls on this thread, one buffer reused from call to
// call: a vector per call cost an allocation and the copies of its growth
// on every text. Bounded: a buffer grown past kKeptIds ids (1 MiB) is freed
// after its call. A call made while the buffer is in use (a signal handler
// that encodes, run between two pieces) gets a vector of its own.
class ReusedIds {
 public:
  ReusedIds() : kept_(kept()), mine_(!kept_.busy) {
    if (mine_) kept_.ids.clear();
    kept_.busy = true;
  }
  ~ReusedIds() {
    if (!mine_) return;
    if (kept_.ids.capacity() > kKeptIds) std::vector<uint32_t>().swap(kept_.ids);
    kept_.busy = false;
  }
  ReusedIds(const ReusedIds&) = delete;
  ReusedIds& operator=(const ReusedIds&) = delete;

  std::vector<uint32_t>& ids() { return mine_ ? kept_.ids : own_; }

 private:
  static constexpr size_t kKeptIds = size_t{1} << 18;
  struct Kept {
    std::vector<uint32_t> ids;
    bool busy = false;
  };
  // One thread-local record, looked up once per call.
  static Kept& kept() {
    static thread_local Kept record;
    return record;
  }
  Kept& kept_;
  bool mine_;
  std::vector<uint32_t> own_;
};

PyObject* tokenizer_encode(PyObject* self, PyObject* arg) {
  const EncodingHandle* handle = tokenizer_handle(self);
  if (handle == nullptr) return nullptr;
  TextArg text;
  if (!text_of("encode", arg, text)) return nullptr;
  return guard_memory([&]() -> PyObject* {
    ReusedIds buffer;
    std::vector<uint32_t>& ids = buffer.ids();
    if (!run_on_text(text, [&](const uint8_t* data, uint64_t n, const Interrupt* hook) {
          piecewise_encode_into(*handle, data, n, ids, hook);
        })) {
      return nullptr;
    }
    return tokens_to_list(ids.data(), ids.size());
  });
}

// Encoding._encode_bytes's native path: bytes that may not be UTF-8.
PyObject* tokenizer_encode_bytes(PyObject* self, PyObject* arg) {
  const EncodingHandle* handle = tokenizer_handle(self);
  if (handle == nullptr) return nullptr;
  TextArg text;
  if (!text_of("_encode_bytes", arg, text)) return nullptr;
  return guard_memory([&]() -> PyObject* {
    std::vector<uint32_t> ids;
    if (!run_on_text(text, [&](const uint8_t* data, uint64_t n, const Interrupt* hook) {
          ids = encode_bytes(*handle, data, n, hook);
        })) {
      return nullptr;
    }
    return tokens_to_list(ids.data(), ids.size());
  });
}

PyObject* tokenizer_encode_special(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  const EncodingHandle* handle = tokenizer_handle(self);
  if (handle == nullptr) return nullptr;
  if (!check_arity("encode_special", nargs, 4, 4)) return nullptr;
  if (!PyUnicode_Check(args[0])) Py_RETURN_NOTIMPLEMENTED;
  return guard_memory([&]() -> PyObject* {
    SpecialArgs special;
    if (!special.parse(args[1], args[2], args[3])) return nullptr;
    TextArg text;
    if (text.parse(args[0]) != TextArg::kOk) return refuse_unencodable(special, args[0]);
    if (special.first_disallowed(text.data(), text.size())) {
      return special.raise_disallowed(text.data(), text.size());
    }
    ReusedIds buffer;
    std::vector<uint32_t>& ids = buffer.ids();
    if (!run_on_text(text, [&](const uint8_t* data, uint64_t n, const Interrupt* hook) {
          special.encode(*handle, data, n, ids, hook);
        })) {
      return nullptr;
    }
    return tokens_to_list(ids.data(), ids.size());
  });
}

PyObject* tokenizer_decode(PyObject* self, PyObject* arg) {
  const EncodingHandle* handle = tokenizer_handle(self);
  if (handle == nullptr) return nullptr;
  return guard_memory([&]() -> PyObject* {
    std::vector<uint32_t> ids;
    if (!sequence_to_ids(arg, ids, {"decode", "ids"})) return nullptr;
    return decode_ids(*handle, ids);
  });
}

// decode_batch and decode_batch_parallel. The batch is read from a snapshot
// of the list, since converting may run Python code (__index__) that changes
// it; and every element is decoded before the result list is made, so that
// code never meets a list with empty slots.
PyObject* decode_batch_of(const EncodingHandle& handle, PyObject* lists, const char* function) {
  return guard_memory([&]() -> PyObject* {
    const PyRef items(PyList_AsTuple(lists));
    if (items == nullptr) return nullptr;
    const Py_ssize_t n = PyTuple_GET_SIZE(items.get());
    std::vector<PyRef> texts;
    texts.reserve(static_cast<size_t>(n));
    std::vector<uint32_t> ids;
    for (Py_ssize_t i = 0; i < n; i++) {
      if (!sequence_to_ids(PyTuple_GET_ITEM(items.get(), i), ids, {function, "batch", i})) {
        return nullptr;
      }
      texts.emplace_back(decode_ids(handle, ids));
      if (texts.back() == nullptr) return nullptr;
    }
    return refs_to_list(texts);
  });
}

PyObject* tokenizer_decode_batch(PyObject* self, PyObject* arg) {
  const EncodingHandle* handle = tokenizer_handle(self);
  if (handle == nullptr) return nullptr;
  if (!check_list("decode_batch", "batch", arg)) return nullptr;
  return decode_batch_of(*handle, arg, "decode_batch");
}

PyObject* tokenizer_decode_batch_parallel(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  const EncodingHandle* handle = tokenizer_handle(self);
  if (handle == nullptr) return nullptr;
  // The optional second argument (ParallelOptions) is accepted and ignored.
  if (!check_arity("decode_batch_parallel", nargs, 1, 2)) return nullptr;
  if (!check_list("decode_batch_parallel", "batch", args[0])) return nullptr;
  // Decoding is cheap next to building the strings, which needs the lock.
  return decode_batch_of(*handle, args[0], "decode_batch_parallel");
}

PyObject* tokenizer_bpe(PyObject* self, PyObject*) {
  // No compile: Encoding(...) asks for it while it builds.
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  // Borrowed: cached encodings live as long as the process; an encoding of
  // the tokenizer's own lives as long as the tokenizer, which the object holds.
  return bpe_object_new(handle->encoding, handle->owned ? self : nullptr);
}

// _encode_prefix and _count_prefix take (data, last): data a str or
// bytes-like object, last whether the text ends with it. Long buffers are
// encoded without the interpreter lock, as encode does (run_on_text).
PyObject* prefix_of(PyObject* self, PyObject* const* args, Py_ssize_t nargs, const char* name,
                    bool want_ids) {
  const EncodingHandle* handle = tokenizer_handle(self);
  if (handle == nullptr) return nullptr;
  if (nargs != 2) {
    PyErr_Format(PyExc_TypeError, "%s() takes exactly 2 arguments (data, last) (%zd given)", name,
                 nargs);
    return nullptr;
  }
  TextArg text;
  if (!text_of(name, args[0], text, "data")) return nullptr;
  const int last = PyObject_IsTrue(args[1]);
  if (last < 0) return nullptr;
  return guard_memory([&]() -> PyObject* {
    std::vector<uint32_t> ids;
    uint64_t count = 0;
    uint64_t consumed = 0;
    // A stream's buffer is a bytearray its owner may change meanwhile:
    // run_on_text copies it before it lets the lock go.
    if (!run_on_text(text, [&](const uint8_t* data, uint64_t n, const Interrupt* hook) {
          consumed = stream_encode_prefix(*handle, data, n, last != 0, want_ids ? &ids : nullptr,
                                          &count, hook);
        })) {
      return nullptr;
    }
    PyRef result(want_ids ? tokens_to_list(ids.data(), ids.size())
                          : PyLong_FromUnsignedLongLong(count));
    if (result == nullptr) return nullptr;
    return Py_BuildValue("(NK)", result.release(), static_cast<unsigned long long>(consumed));
  });
}

PyObject* tokenizer_encode_prefix(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return prefix_of(self, args, nargs, "_encode_prefix", true);
}

PyObject* tokenizer_count_prefix(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return prefix_of(self, args, nargs, "_count_prefix", false);
}

// _certain_end(data): stream_certain_end of data (str or UTF-8 bytes-like),
// in bytes.
PyObject* tokenizer_certain_end(PyObject* self, PyObject* arg) {
  const EncodingHandle* handle = tokenizer_handle(self);
  if (handle == nullptr) return nullptr;
  TextArg text;
  if (!text_of("_certain_end", arg, text, "data")) return nullptr;
  uint64_t end = 0;
  if (!run_on_text(text, [&](const uint8_t* data, uint64_t n, const Interrupt*) {
        end = stream_certain_end(handle->rule_set, data, n);
      })) {
    return nullptr;
  }
  return PyLong_FromUnsignedLongLong(end);
}

void tokenizer_dealloc(PyObject* self) {
  auto* o = reinterpret_cast<TokenizerObject*>(self);
  // Only the handle record: the encoding it points at belongs to the cache.
  if (o->owns && o->handle != nullptr) std::default_delete<const EncodingHandle>()(o->handle);
  Py_TYPE(self)->tp_free(self);
}

// ---- method table ----------------------------------------------------------------

PyDoc_STRVAR(count_doc,
             "count($self, text, /)\n--\n\n"
             "Return the number of tokens in text (str, or UTF-8 bytes-like), without\n"
             "building them.");
PyDoc_STRVAR(count_till_limit_doc,
             "count_till_limit($self, text, limit, /)\n--\n\n"
             "Return the number of tokens in text if it is at most limit, else None.\n"
             "Gives up as soon as the count is known to exceed limit (0 <= limit < 2**63).");
PyDoc_STRVAR(encode_doc,
             "encode($self, text, /)\n--\n\n"
             "Return the token ids of text (str, or UTF-8 bytes-like) as a list of int.");
PyDoc_STRVAR(encode_special_doc,
             "encode_special($self, text, specials, allowed_special, disallowed_special, /)\n--\n\n"
             "Encode text (str) as tiktoken's Encoding.encode does: ValueError when a special\n"
             "token of disallowed_special (\"all\": every one not allowed) is in it, else the\n"
             "ids with the tokens of allowed_special (\"all\" or a set) as their ids.\n"
             "NotImplemented for a text that is no str.");
PyDoc_STRVAR(decode_doc,
             "decode($self, ids, /)\n--\n\n"
             "Return the text of a sequence of token ids, or None when an id is not in the\n"
             "vocabulary or the bytes are not valid UTF-8.");
PyDoc_STRVAR(decode_batch_doc,
             "decode_batch($self, batch, /)\n--\n\n"
             "Decode a list of id sequences; each item as decode() gives it.");
PyDoc_STRVAR(decode_batch_parallel_doc,
             "decode_batch_parallel($self, batch, options=None, /)\n--\n\n"
             "The same as decode_batch(batch); options is accepted and ignored.");
PyDoc_STRVAR(bpe_doc,
             "bpe($self, /)\n--\n\n"
             "Return the tokenizer's BytePairEncoding, which works on bytes without\n"
             "pre-splitting.");
PyDoc_STRVAR(encode_prefix_doc,
             "_encode_prefix($self, data, last, /)\n--\n\n"
             "Encode the pieces at the start of data (str or UTF-8 bytes-like) whose ends no\n"
             "later text can change. Return (ids, consumed): their ids and the number of bytes\n"
             "they cover; the caller keeps data[consumed:] and appends the next part to it.\n"
             "With last true, data is the end of the text and all of it is encoded.");
PyDoc_STRVAR(certain_end_doc,
             "_certain_end($self, data, /)\n--\n\n"
             "Return the byte offset in data (str or UTF-8 bytes-like) where its certain\n"
             "pieces end: data[:offset] and whatever follows data[offset:] encode apart to the\n"
             "ids of the whole. 0 when no piece end is certain yet.");
PyDoc_STRVAR(count_prefix_doc,
             "_count_prefix($self, data, last, /)\n--\n\n"
             "The same as _encode_prefix, counting the ids instead: (count, consumed).");

PyMethodDef tokenizer_methods[] = {
    {"count", tokenizer_count, METH_O, count_doc},
    {"count_till_limit", as_method(tokenizer_count_till_limit), METH_FASTCALL,
     count_till_limit_doc},
    {"encode", tokenizer_encode, METH_O, encode_doc},
    {"encode_batch", tokenizer_encode_batch, METH_O, kEncodeBatchDoc},
    {"_encode_bytes", tokenizer_encode_bytes, METH_O,
     "_encode_bytes($self, data, /)\n--\n\n"
     "The ids of bytes that may not be UTF-8, as tiktoken's Encoding._encode_bytes\n"
     "gives them: the last piece of the UTF-8 prefix is encoded again together\n"
     "with the bytes after it."},
    {"encode_batch_parallel", as_method(tokenizer_encode_batch_parallel),
     METH_VARARGS | METH_KEYWORDS, kEncodeBatchParallelDoc},
    {"encode_batch_flat", as_method(tokenizer_encode_batch_flat), METH_VARARGS | METH_KEYWORDS,
     kEncodeBatchFlatDoc},
    {"encode_special", as_method(tokenizer_encode_special), METH_FASTCALL, encode_special_doc},
    {"count_batch", as_method(tokenizer_count_batch), METH_VARARGS | METH_KEYWORDS, kCountBatchDoc},
    {"decode", tokenizer_decode, METH_O, decode_doc},
    {"decode_batch", tokenizer_decode_batch, METH_O, decode_batch_doc},
    {"decode_batch_parallel", as_method(tokenizer_decode_batch_parallel), METH_FASTCALL,
     decode_batch_parallel_doc},
    {"bpe", tokenizer_bpe, METH_NOARGS, bpe_doc},
    {"chunks", as_method(tokenizer_chunks), METH_VARARGS | METH_KEYWORDS, kChunksDoc},
    {"chunk_spans", as_method(tokenizer_chunk_spans), METH_VARARGS | METH_KEYWORDS, kChunkSpansDoc},
    {"truncate", as_method(tokenizer_truncate), METH_VARARGS | METH_KEYWORDS, kTruncateDoc},
    {"encode_with_offsets", tokenizer_encode_with_offsets, METH_O, kEncodeWithOffsetsDoc},
    {"decoder", as_method(tokenizer_decoder), METH_FASTCALL, kDecoderDoc},
    {"_encode_prefix", as_method(tokenizer_encode_prefix), METH_FASTCALL, encode_prefix_doc},
    {"_count_prefix", as_method(tokenizer_count_prefix), METH_FASTCALL, count_prefix_doc},
    {"_certain_end", tokenizer_certain_end, METH_O, certain_end_doc},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

PyDoc_STRVAR(tokenizer_type_doc,
             "A vocabulary with its pre-split rules. Get one from the function of its\n"
             "name, such as o200k_base(); the worker pool's size can be capped with the\n"
             "environment variable VELKAN_NUM_THREADS (read once, when the pool is made;\n"
             "values that are not a whole number of at least 1 are ignored).");

}  // namespace

PyTypeObject TokenizerType = [] {
  PyTypeObject t =
      make_type("velkan.bpe.openai.Tokenizer", sizeof(TokenizerObject), tokenizer_type_doc);
  t.tp_dealloc = tokenizer_dealloc;
  t.tp_methods = tokenizer_methods;
  return t;
}();

}  // namespace velkan
