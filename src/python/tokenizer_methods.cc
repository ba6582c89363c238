// Methods of velkan.bpe.openai.Tokenizer and the functions of the module
// velkan.bpe.openai: whole-text encode, count, limit and decode, single and
// batched, and the cached vocabulary constructors.

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/piecewise.h"
#include "pool/worker_pool.h"
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

// ---- signals -------------------------------------------------------------------

// The driver's interrupt hook for calls that hold the interpreter lock: runs
// pending signal handlers, so Ctrl-C stops a long call with
// KeyboardInterrupt. raised tells the caller that an exception is set.
struct SignalCheck {
  bool raised = false;
  Interrupt hook{[](void* self) {
                   auto* check = static_cast<SignalCheck*>(self);
                   check->raised = PyErr_CheckSignals() != 0;
                   return check->raised;
                 },
                 this};
  SignalCheck() = default;
  SignalCheck(const SignalCheck&) = delete;
  SignalCheck& operator=(const SignalCheck&) = delete;
};

// The same for a submitter that waits for the pool without the lock: takes
// the lock back to run the handlers, then lets it go again.
struct ReleasedSignalCheck {
  PyThreadState* saved = nullptr;
  bool raised = false;
  Interrupt hook{[](void* self) {
                   auto* check = static_cast<ReleasedSignalCheck*>(self);
                   PyEval_RestoreThread(check->saved);
                   check->raised = PyErr_CheckSignals() != 0;
                   check->saved = PyEval_SaveThread();
                   return check->raised;
                 },
                 this};
  ReleasedSignalCheck() = default;
  ReleasedSignalCheck(const ReleasedSignalCheck&) = delete;
  ReleasedSignalCheck& operator=(const ReleasedSignalCheck&) = delete;
};

// ---- single texts ---------------------------------------------------------------

// Texts from this size up are encoded and counted without the interpreter
// lock, so that other Python threads (a server's) run meanwhile. Performance
// notes: letting the lock go and taking it back costs about a microsecond
// when no other thread wants it and a thread switch when one does; a 64 KiB
// text takes some 300 microseconds, so the handover is lost in the noise there.
constexpr uint64_t kReleaseLockBytes = 64 * 1024;

// Runs work(bytes, length, interrupt) on a text: with the lock held for
// short texts, without it for long ones (a writable buffer is copied first,
// since another thread could change it meanwhile). False with the error set
// when a signal handler raised; std::bad_alloc passes through with the lock
// held again.
template <typename Work>
bool run_on_text(const TextArg& text, Work work) {
  if (text.size() < kReleaseLockBytes) {
    SignalCheck check;
    work(text.data(), text.size(), &check.hook);
    return !check.raised;
  }
  std::string copy;
  const uint8_t* data = text.data();
  if (text.writable()) {
    copy.assign(reinterpret_cast<const char*>(data), text.size());
    data = reinterpret_cast<const uint8_t*>(copy.data());
  }
  ReleasedSignalCheck check;
  bool out_of_memory = false;
  check.saved = PyEval_SaveThread();
  // Nothing below touches a Python object until the lock is back.
  try {
    work(data, text.size(), &check.hook);
  } catch (const std::bad_alloc&) {
    out_of_memory = true;
  }
  PyEval_RestoreThread(check.saved);
  if (out_of_memory) throw std::bad_alloc();
  return !check.raised;
}

// ---- batches -------------------------------------------------------------------

// The texts of a batch as bytes, with what keeps them alive and unchanged
// while the interpreter lock is released, even if another thread changes the
// list: a new reference to each str and bytes element, the held buffer of
// each other bytes-like element and, when asked, a copy of writable ones.
struct BatchTexts {
  std::vector<const uint8_t*> data;
  std::vector<uint64_t> lengths;
  std::vector<PyRef> owners;
  std::deque<TextArg> buffers;
  std::deque<std::string> copies;
  uint64_t total_bytes = 0;

  // False with the interpreter's error set when an element is neither str
  // nor bytes-like or has no bytes (lone surrogates).
  bool collect(PyObject* list, const char* function, bool copy_writable) {
    const size_t n = static_cast<size_t>(PyList_GET_SIZE(list));
    data.reserve(n);
    lengths.reserve(n);
    owners.reserve(n);
    // The length is read on every round: a buffer export may run Python code.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); i++) {
      PyRef item = py_ref_borrowed(PyList_GET_ITEM(list, i));
      TextArg text;
      const TextArg::Result result = text.parse(item.get());
      if (result != TextArg::kOk) {
        if (result == TextArg::kWrongType) {
          PyErr_Format(PyExc_TypeError, "%s: texts[%zd] must be str or bytes, not %.200s", function,
                       i, Py_TYPE(item.get())->tp_name);
        }
        return false;
      }
      data.push_back(text.data());
      lengths.push_back(text.size());
      total_bytes += text.size();
      if (PyUnicode_Check(item.get()) || PyBytes_Check(item.get())) {
        owners.push_back(std::move(item));
      } else if (text.writable() && copy_writable) {
        // The copy is read; the buffer goes back at once (a held bytearray
        // could not be resized by its owner meanwhile).
        copies.emplace_back(reinterpret_cast<const char*>(text.data()), text.size());
        data.back() = reinterpret_cast<const uint8_t*>(copies.back().data());
      } else {
        buffers.push_back(std::move(text));
      }
    }
    return true;
  }

  size_t size() const { return data.size(); }
};

// Batches below this many bytes (each text counted with a fixed cost) are
// done on the calling thread with the lock held: handing them to the pool
// costs more than it saves.
constexpr uint64_t kSerialBatchWeight = 64 * 1024;
constexpr uint64_t kTextWeight = 64;

bool run_serially(const BatchTexts& texts) {
  return texts.total_bytes + kTextWeight * texts.size() < kSerialBatchWeight;
}

// Runs fn(i, interrupt) for every text of a batch on the calling thread, with
// the lock held, checking for signals between texts about every
// kInterruptEveryBytes and inside longer ones. False with KeyboardInterrupt
// (or whatever a handler raised) set when a signal handler raised.
template <typename Fn>
bool for_each_text_checking_signals(const BatchTexts& texts, Fn fn) {
  SignalCheck check;
  uint64_t next_check = kInterruptEveryBytes;
  uint64_t done = 0;
  for (size_t i = 0; i < texts.size(); i++) {
    fn(i, &check.hook);
    if (check.raised) return false;
    done += texts.lengths[i];
    if (done >= next_check) {
      next_check = done + kInterruptEveryBytes;
      if (PyErr_CheckSignals() != 0) return false;
    }
  }
  return true;
}

// Runs a batch on the pool (or, without one, on this thread) with the lock
// released. False with the error set when it ran out of memory or a signal
// handler raised.
// threads receives the number of threads that did the work.
bool run_batch_released(PoolBatch batch, long* threads) {
  BatchOutcome outcome = BatchOutcome::kDone;
  ReleasedSignalCheck check;
  check.saved = PyEval_SaveThread();
  // Nothing below touches a Python object until the lock is back.
  try {
    WorkerPool* pool = worker_pool_get();
    *threads = pool != nullptr ? pool->thread_count : 1;
    if (pool != nullptr) {
      outcome = pool_run_batch(*pool, batch, &check.hook);
    } else {
      for (int64_t i = 0; i < batch.n && !check.raised; i++) {
        if (batch.kind == JOB_ENCODE) {
          batch.out_tokens[i] =
              piecewise_encode(*batch.handle, batch.texts[i], batch.lengths[i], &check.hook);
        } else {
          batch.out_counts[i] =
              piecewise_count(*batch.handle, batch.texts[i], batch.lengths[i], &check.hook);
        }
      }
      if (check.raised) outcome = BatchOutcome::kInterrupted;
    }
  } catch (const std::bad_alloc&) {
    outcome = BatchOutcome::kOutOfMemory;
  }
  PyEval_RestoreThread(check.saved);
  if (outcome == BatchOutcome::kOutOfMemory) {
    PyErr_NoMemory();
    return false;
  }
  if (outcome == BatchOutcome::kInterrupted) {
    // Cancelled by a handler that raised; should it have returned normally
    // (the hook only stops on an exception) the error is still reported.
    if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    return false;
  }
  return true;
}

// The list of lists of ids, or null. Frees each result as it goes. The inner
// lists are made first and the outer list only when all exist: making a list
// may start the garbage collector, which runs Python code, and no Python code
// may see a list with empty slots.
PyObject* results_to_list(std::vector<std::vector<uint32_t>>& results, uint64_t* total) {
  std::vector<PyRef> inner(results.size());
  for (size_t i = 0; i < results.size(); i++) {
    inner[i].reset(tokens_to_list(results[i].data(), results[i].size()));
    if (inner[i] == nullptr) return nullptr;
    *total += results[i].size();
    std::vector<uint32_t>().swap(results[i]);
  }
  return refs_to_list(inner);
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

PyObject* tokenizer_encode_batch_parallel(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  // The optional second argument (ParallelOptions) is accepted and ignored.
  if (!check_arity("encode_batch_parallel", nargs, 1, 2)) return nullptr;
  if (!check_list("encode_batch_parallel", "texts", args[0])) return nullptr;
  return guard_memory([&]() -> PyObject* {
    BatchTexts texts;
    if (!texts.collect(args[0], "encode_batch_parallel", true)) return nullptr;
    const size_t n = texts.size();
    std::vector<std::vector<uint32_t>> results(n);
    long threads = 1;
    const double start = seconds_now();
    if (run_serially(texts)) {
      if (!for_each_text_checking_signals(texts, [&](size_t i, const Interrupt* hook) {
            results[i] = piecewise_encode(*handle, texts.data[i], texts.lengths[i], hook);
          })) {
        return nullptr;
      }
      WorkerPool* pool = worker_pool_get();
      threads = pool != nullptr ? pool->thread_count : 1;
    } else {
      const PoolBatch batch{handle,
                            texts.data.data(),
                            texts.lengths.data(),
                            static_cast<int64_t>(n),
                            JOB_ENCODE,
                            0,
                            results.data(),
                            nullptr,
                            nullptr};
      if (!run_batch_released(batch, &threads)) return nullptr;
    }
    const double elapsed = seconds_now() - start;
    uint64_t total = 0;
    PyObject* outer = results_to_list(results, &total);
    if (outer == nullptr) return nullptr;
    return Py_BuildValue("(Nndl)", outer, static_cast<Py_ssize_t>(total), elapsed, threads);
  });
}

PyObject* tokenizer_count_batch(PyObject* self, PyObject* arg) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  if (!check_list("count_batch", "texts", arg)) return nullptr;
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
      const PoolBatch batch{
          handle,  texts.data.data(), texts.lengths.data(), static_cast<int64_t>(n), JOB_COUNT, 0,
          nullptr, nullptr,           counts.data()};
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
  object->owns = 0;
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
             "encode_batch_parallel($self, texts, options=None, /)\n--\n\n"
             "Encode a list of texts (str or bytes-like) on the worker threads, without the\n"
             "interpreter lock; small batches are encoded on the calling thread.\n\n"
             "Return (ids, total, seconds, threads). options (a ParallelOptions) is\n"
             "accepted and ignored.");
PyDoc_STRVAR(count_batch_doc,
             "count_batch($self, texts, /)\n--\n\n"
             "Return the number of tokens of each text (str or bytes-like) as a list of int,\n"
             "counted on the worker threads without the interpreter lock (small batches on\n"
             "the calling thread).");
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
    {"encode_batch_parallel",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(tokenizer_encode_batch_parallel)),
     METH_FASTCALL, encode_batch_parallel_doc},
    {"count_batch", tokenizer_count_batch, METH_O, count_batch_doc},
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
