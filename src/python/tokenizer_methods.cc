// Methods of velkan.bpe.openai.Tokenizer and the functions of the module
// velkan.bpe.openai: whole-text encode, count, limit and decode, single and
// batched, and the cached vocabulary constructors.

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/encode_bytes.h"
#include "driver/piecewise.h"
#include "pool/worker_pool.h"
#include "python/added_token_methods.h"
#include "python/batch.h"
#include "python/budget_methods.h"
#include "python/convert.h"
#include "python/objects.h"
#include "python/py_ref.h"
#include "python/stream_methods.h"

namespace velkan {

const EncodingHandle* tokenizer_handle(PyObject* self) {
  const EncodingHandle* handle = reinterpret_cast<TokenizerObject*>(self)->handle;
  if (handle == nullptr) {
    PyErr_SetString(PyExc_ValueError,
                    "Tokenizer has no encoding; get one from velkan.bpe.openai.cl100k_base() "
                    "or o200k_base()");
  }
  return handle;
}

namespace {

const EncodingHandle* handle_of(PyObject* self) { return tokenizer_handle(self); }

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

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

bool check_list(const char* function, const char* what, PyObject* arg) {
  if (PyList_Check(arg)) return true;
  PyErr_Format(PyExc_TypeError, "%s: %s must be a list, not %.200s", function, what,
               Py_TYPE(arg)->tp_name);
  return false;
}

// The text argument of a single-text method, or false with TypeError naming
// the method set.
bool text_of(const char* function, PyObject* arg, TextArg& text) {
  const TextArg::Result result = text.parse(arg);
  if (result == TextArg::kWrongType) text_type_error(function, "text", arg);
  return result == TextArg::kOk;
}

// ---- Tokenizer methods ---------------------------------------------------------

PyObject* tokenizer_count(PyObject* self, PyObject* arg) {
  const EncodingHandle* handle = handle_of(self);
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
  const EncodingHandle* handle = handle_of(self);
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

PyObject* tokenizer_encode(PyObject* self, PyObject* arg) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  TextArg text;
  if (!text_of("encode", arg, text)) return nullptr;
  return guard_memory([&]() -> PyObject* {
    std::vector<uint32_t> ids;
    if (!run_on_text(text, [&](const uint8_t* data, uint64_t n, const Interrupt* hook) {
          ids = piecewise_encode(*handle, data, n, hook);
        })) {
      return nullptr;
    }
    return tokens_to_list(ids.data(), ids.size());
  });
}

// Encoding._encode_bytes's native path: bytes that may not be UTF-8.
PyObject* tokenizer_encode_bytes(PyObject* self, PyObject* arg) {
  const EncodingHandle* handle = handle_of(self);
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

PyObject* tokenizer_encode_batch(PyObject* self, PyObject* arg) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  if (!check_list("encode_batch", "texts", arg)) return nullptr;
  return guard_memory([&]() -> PyObject* {
    BatchTexts texts;
    if (!texts.collect(arg, "encode_batch", false)) return nullptr;
    std::vector<std::vector<uint32_t>> results(texts.size());
    const double start = seconds_now();
    const bool ok = for_each_text_checking_signals(texts, [&](size_t i, const Interrupt* hook) {
      results[i] = piecewise_encode(*handle, texts.data[i], texts.lengths[i], hook);
    });
    const double elapsed = seconds_now() - start;
    if (!ok) return nullptr;
    uint64_t total = 0;
    PyObject* outer = results_to_list(results, &total);
    if (outer == nullptr) return nullptr;
    return Py_BuildValue("(Nnd)", outer, static_cast<Py_ssize_t>(total), elapsed);
  });
}

// The keyword arguments the batch methods share.
struct BatchOptions {
  Py_ssize_t num_threads = 0;  // at most this many threads; 0: the whole pool
  PyObject* specials = Py_None;
  PyObject* allowed = nullptr;     // default: none
  PyObject* disallowed = nullptr;  // default: "all"
};

// An encoded batch: the ids of each text, or of the first text with a
// disallowed special token, the token's index.
struct EncodedBatch {
  std::vector<std::vector<uint32_t>> results;
  std::vector<uint32_t> refused;  // per text: the disallowed token's index, or UINT32_MAX
  long threads = 1;               // the most threads that worked at once
  long allowed_threads = 1;       // the threads the batch could have: pool size, capped
  double seconds = 0;
};

// What the workers of a batch with special tokens run for each text.
struct SpecialBatchWork {
  const EncodingHandle* handle;
  const SpecialArgs* special;
  const BatchTexts* texts;
  EncodedBatch* out;

  static void run(void* context, int64_t index, const Interrupt* interrupt) {
    auto* work = static_cast<SpecialBatchWork*>(context);
    const auto i = static_cast<size_t>(index);
    const uint8_t* text = work->texts->data[i];
    const uint64_t length = work->texts->lengths[i];
    if (const std::optional<uint32_t> bad = work->special->first_disallowed(text, length)) {
      work->out->refused[i] = *bad;
      return;
    }
    work->special->encode(*work->handle, text, length, work->out->results[i], interrupt);
  }
};

// Encodes a list of texts with the options; false with the error set (a
// disallowed special token raises tiktoken's ValueError for the first text
// that has one).
// texts is the caller's, freed after the results are converted: freeing its
// large arrays first would raise the allocator's mmap threshold and leave the
// results' memory fragmented.
// lists, when given, is attached to a pool batch to make the result lists
// while it runs.
bool encode_texts(const EncodingHandle& handle, PyObject* list, const char* function,
                  const BatchOptions& options, BatchTexts& texts, EncodedBatch& out,
                  ResultLists* lists = nullptr) {
  SpecialArgs special;
  PyRef all;
  PyObject* disallowed = options.disallowed;
  if (disallowed == nullptr) {
    all.reset(PyUnicode_FromString("all"));
    if (all == nullptr) return false;
    disallowed = all.get();
  }
  if (!special.parse(options.specials, options.allowed, disallowed)) return false;
  if (!texts.collect(list, function, true)) return false;
  const size_t n = texts.size();
  out.results.resize(n);
  const bool plain = !special.checks() && !special.allows();
  if (!plain) out.refused.assign(n, UINT32_MAX);
  SpecialBatchWork work{&handle, &special, &texts, &out};
  const double start = seconds_now();
  if (run_serially(texts)) {
    if (!for_each_text_checking_signals(texts, [&](size_t i, const Interrupt* hook) {
          if (plain) {
            out.results[i] = piecewise_encode(handle, texts.data[i], texts.lengths[i], hook);
          } else {
            SpecialBatchWork::run(&work, static_cast<int64_t>(i), hook);
          }
        })) {
      return false;
    }
    out.threads = 1;
    WorkerPool* pool = worker_pool_get();
    out.allowed_threads = pool != nullptr ? pool->thread_count.load() : 1;
  } else {
    PoolBatch batch{&handle,
                    texts.data.data(),
                    texts.lengths.data(),
                    static_cast<int64_t>(n),
                    plain ? JOB_ENCODE : JOB_CALL,
                    out.results.data(),
                    nullptr,
                    nullptr};
    batch.call = SpecialBatchWork::run;
    batch.context = &work;
    batch.max_threads = static_cast<int32_t>(std::min<Py_ssize_t>(options.num_threads, INT32_MAX));
    if (lists != nullptr) lists->attach(batch);
    if (!run_batch_released(batch, &out.threads)) return false;
    WorkerPool* pool = worker_pool_get();
    out.allowed_threads = pool != nullptr ? pool->thread_count.load() : 1;
  }
  out.seconds = seconds_now() - start;
  if (options.num_threads > 0 && options.num_threads < out.allowed_threads) {
    out.allowed_threads = static_cast<long>(options.num_threads);
  }
  for (const uint32_t index : out.refused) {
    if (index != UINT32_MAX) {
      special.raise_disallowed(index);
      return false;
    }
  }
  return true;
}

bool num_threads_ok(const char* function, Py_ssize_t num_threads) {
  if (num_threads >= 0) return true;
  PyErr_Format(PyExc_ValueError, "%s: num_threads must not be negative, got %zd", function,
               num_threads);
  return false;
}

PyObject* tokenizer_encode_batch_parallel(PyObject* self, PyObject* args, PyObject* kwargs) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  static const char* keywords[] = {
      "", "", "num_threads", "specials", "allowed_special", "disallowed_special", nullptr};
  PyObject* texts = nullptr;
  PyObject* parallel_options = nullptr;  // a ParallelOptions, accepted and ignored
  BatchOptions options;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O$nOOO:encode_batch_parallel",
                                   const_cast<char**>(keywords), &texts, &parallel_options,
                                   &options.num_threads, &options.specials, &options.allowed,
                                   &options.disallowed)) {
    return nullptr;
  }
  if (!check_list("encode_batch_parallel", "texts", texts)) return nullptr;
  if (!num_threads_ok("encode_batch_parallel", options.num_threads)) return nullptr;
  return guard_memory([&]() -> PyObject* {
    BatchTexts items;
    EncodedBatch batch;
    // Performance notes: made after the batch, the lists kept two threads
    // at 1.44x to 1.50x the speed of one on 4 KB documents (the flat
    // output, without lists, at 1.9x to 2.1x); made while the pool encodes,
    // 1.75x to 1.76x, and the call's time after the encoding fell from 2 to
    // 5 ms to 0.1 ms (2.6 MB of text, cl100k_base and o200k_base).
    ResultLists lists(batch.results);
    if (!encode_texts(*handle, texts, "encode_batch_parallel", options, items, batch, &lists)) {
      return nullptr;
    }
    uint64_t total = 0;
    PyObject* outer = lists.finish(&total);
    if (outer == nullptr) return nullptr;
    return Py_BuildValue("(Nndl)", outer, static_cast<Py_ssize_t>(total), batch.seconds,
                         batch.allowed_threads);
  });
}

// The ids of all texts one after another as the bytes of uint32 values, and
// len(texts) + 1 int64 offsets: no Python int is made per id.
PyObject* tokenizer_encode_batch_flat(PyObject* self, PyObject* args, PyObject* kwargs) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  static const char* keywords[] = {
      "", "num_threads", "specials", "allowed_special", "disallowed_special", nullptr};
  PyObject* texts = nullptr;
  BatchOptions options;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|$nOOO:encode_batch_flat",
                                   const_cast<char**>(keywords), &texts, &options.num_threads,
                                   &options.specials, &options.allowed, &options.disallowed)) {
    return nullptr;
  }
  if (!check_list("encode_batch_flat", "texts", texts)) return nullptr;
  if (!num_threads_ok("encode_batch_flat", options.num_threads)) return nullptr;
  return guard_memory([&]() -> PyObject* {
    BatchTexts items;
    EncodedBatch batch;
    if (!encode_texts(*handle, texts, "encode_batch_flat", options, items, batch)) return nullptr;
    const size_t n = batch.results.size();
    uint64_t total = 0;
    for (const auto& ids : batch.results) total += ids.size();
    const PyRef ids(
        PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(total * sizeof(uint32_t))));
    const PyRef offsets(
        PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>((n + 1) * sizeof(int64_t))));
    if (ids == nullptr || offsets == nullptr) return nullptr;
    char* id_bytes = PyByteArray_AS_STRING(ids.get());
    char* offset_bytes = PyByteArray_AS_STRING(offsets.get());
    int64_t at = 0;
    std::memcpy(offset_bytes, &at, sizeof at);
    for (size_t i = 0; i < n; i++) {
      std::vector<uint32_t>& part = batch.results[i];
      if (!part.empty()) {
        std::memcpy(id_bytes + static_cast<size_t>(at) * sizeof(uint32_t), part.data(),
                    part.size() * sizeof(uint32_t));
      }
      at += static_cast<int64_t>(part.size());
      std::memcpy(offset_bytes + (i + 1) * sizeof(int64_t), &at, sizeof at);
      std::vector<uint32_t>().swap(part);
    }
    return Py_BuildValue("(OOl)", ids.get(), offsets.get(), batch.threads);
  });
}

PyObject* tokenizer_count_batch(PyObject* self, PyObject* args, PyObject* kwargs) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  static const char* keywords[] = {"", "num_threads", nullptr};
  PyObject* arg = nullptr;
  Py_ssize_t num_threads = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|$n:count_batch", const_cast<char**>(keywords),
                                   &arg, &num_threads)) {
    return nullptr;
  }
  if (!check_list("count_batch", "texts", arg)) return nullptr;
  if (!num_threads_ok("count_batch", num_threads)) return nullptr;
  return guard_memory([&]() -> PyObject* {
    BatchTexts texts;
    if (!texts.collect(arg, "count_batch", true)) return nullptr;
    const size_t n = texts.size();
    std::vector<uint64_t> counts(n, 0);
    if (run_serially(texts)) {
      if (!for_each_text_checking_signals(texts, [&](size_t i, const Interrupt* hook) {
            counts[i] = piecewise_count(*handle, texts.data[i], texts.lengths[i], hook);
          })) {
        return nullptr;
      }
    } else {
      PoolBatch batch{
          handle,  texts.data.data(), texts.lengths.data(), static_cast<int64_t>(n), JOB_COUNT,
          nullptr, nullptr,           counts.data()};
      batch.max_threads = static_cast<int32_t>(std::min<Py_ssize_t>(num_threads, INT32_MAX));
      long threads;
      if (!run_batch_released(batch, &threads)) return nullptr;
    }
    std::vector<PyRef> ints(n);
    for (size_t i = 0; i < n; i++) {
      ints[i].reset(PyLong_FromUnsignedLongLong(counts[i]));
      if (ints[i] == nullptr) return nullptr;
    }
    return refs_to_list(ints);
  });
}

PyObject* tokenizer_decode(PyObject* self, PyObject* arg) {
  const EncodingHandle* handle = handle_of(self);
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
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  if (!check_list("decode_batch", "batch", arg)) return nullptr;
  return decode_batch_of(*handle, arg, "decode_batch");
}

PyObject* tokenizer_decode_batch_parallel(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  // The optional second argument (ParallelOptions) is accepted and ignored.
  if (!check_arity("decode_batch_parallel", nargs, 1, 2)) return nullptr;
  if (!check_list("decode_batch_parallel", "batch", args[0])) return nullptr;
  // Decoding is cheap next to building the strings, which needs the lock.
  return decode_batch_of(*handle, args[0], "decode_batch_parallel");
}

PyObject* tokenizer_bpe(PyObject* self, PyObject*) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  BytePairEncodingObject* object = PyObject_New(BytePairEncodingObject, &BytePairEncodingType);
  if (object == nullptr) return nullptr;
  // Borrowed: cached encodings live as long as the process; an encoding of
  // the tokenizer's own lives as long as the tokenizer, which the object holds.
  object->encoding = handle->encoding;
  object->owner = nullptr;
  if (handle->owned) {
    Py_INCREF(self);
    object->owner = self;
  }
  return reinterpret_cast<PyObject*>(object);
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
PyDoc_STRVAR(encode_batch_doc,
             "encode_batch($self, texts, /)\n--\n\n"
             "Encode a list of texts (str or bytes-like) on the calling thread.\n\n"
             "Return (ids, total, seconds): a list of id lists in the order of texts, the\n"
             "total number of tokens and the seconds spent encoding.");
PyDoc_STRVAR(encode_batch_parallel_doc,
             "encode_batch_parallel($self, texts, options=None, /, *, num_threads=0, "
             "specials=None, allowed_special=None, disallowed_special='all')\n--\n\n"
             "Encode a list of texts (str or bytes-like) on the worker threads, without the\n"
             "interpreter lock, at most num_threads at once (0: the whole pool); small\n"
             "batches are encoded on the calling thread.\n\n"
             "With specials (a SpecialTokens), each text is encoded as encode_special does\n"
             "(allowed_special None: no token allowed); the first text with a disallowed\n"
             "special token raises ValueError.\n\n"
             "Return (ids, total, seconds, threads): threads is the pool's size, or\n"
             "num_threads when that is smaller. options (a ParallelOptions) is accepted and\n"
             "ignored.");
PyDoc_STRVAR(encode_batch_flat_doc,
             "encode_batch_flat($self, texts, /, *, num_threads=0, specials=None, "
             "allowed_special=None, disallowed_special='all')\n--\n\n"
             "encode_batch_parallel without a Python int per id. Return (ids, offsets,\n"
             "threads): ids a bytearray of native-endian uint32 values, offsets one of\n"
             "len(texts) + 1 int64 values (the ids of text i are ids[offsets[i]:offsets[i + 1]]),\n"
             "and the most threads that worked on the batch at once.");
PyDoc_STRVAR(count_batch_doc,
             "count_batch($self, texts, /, *, num_threads=0)\n--\n\n"
             "Return the number of tokens of each text (str or bytes-like) as a list of int,\n"
             "counted on at most num_threads worker threads (0: the whole pool) without the\n"
             "interpreter lock (small batches on the calling thread).");
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

}  // namespace

PyMethodDef tokenizer_methods[] = {
    {"count", tokenizer_count, METH_O, count_doc},
    {"count_till_limit",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(tokenizer_count_till_limit)),
     METH_FASTCALL, count_till_limit_doc},
    {"encode", tokenizer_encode, METH_O, encode_doc},
    {"encode_batch", tokenizer_encode_batch, METH_O, encode_batch_doc},
    {"_encode_bytes", tokenizer_encode_bytes, METH_O,
     "_encode_bytes($self, data, /)\n--\n\n"
     "The ids of bytes that may not be UTF-8, as tiktoken's Encoding._encode_bytes\n"
     "gives them: the last piece of the UTF-8 prefix is encoded again together\n"
     "with the bytes after it."},
    {"encode_batch_parallel",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(tokenizer_encode_batch_parallel)),
     METH_VARARGS | METH_KEYWORDS, encode_batch_parallel_doc},
    {"encode_batch_flat",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(tokenizer_encode_batch_flat)),
     METH_VARARGS | METH_KEYWORDS, encode_batch_flat_doc},
    {"encode_special",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(tokenizer_encode_special)),
     METH_FASTCALL, kEncodeSpecialDoc},
    {"count_batch",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(tokenizer_count_batch)),
     METH_VARARGS | METH_KEYWORDS, count_batch_doc},
    {"decode", tokenizer_decode, METH_O, decode_doc},
    {"decode_batch", tokenizer_decode_batch, METH_O, decode_batch_doc},
    {"decode_batch_parallel",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(tokenizer_decode_batch_parallel)),
     METH_FASTCALL, decode_batch_parallel_doc},
    {"bpe", tokenizer_bpe, METH_NOARGS, bpe_doc},
    {"chunks", budget_method(tokenizer_chunks), METH_VARARGS | METH_KEYWORDS, kChunksDoc},
    {"chunk_spans", budget_method(tokenizer_chunk_spans), METH_VARARGS | METH_KEYWORDS,
     kChunkSpansDoc},
    {"truncate", budget_method(tokenizer_truncate), METH_VARARGS | METH_KEYWORDS, kTruncateDoc},
    {"encode_with_offsets", tokenizer_encode_with_offsets, METH_O, kEncodeWithOffsetsDoc},
    {"decoder", budget_method(tokenizer_decoder), METH_FASTCALL, kDecoderDoc},
    {"_encode_prefix", stream_method(tokenizer_encode_prefix), METH_FASTCALL, kEncodePrefixDoc},
    {"_count_prefix", stream_method(tokenizer_count_prefix), METH_FASTCALL, kCountPrefixDoc},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

}  // namespace velkan
