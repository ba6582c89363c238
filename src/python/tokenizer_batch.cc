// The Tokenizer type's batch methods that encode or count (encode_batch,
// encode_batch_parallel, encode_batch_flat, count_batch): a list of texts on
// the calling thread or, past a size, on the worker pool without the
// interpreter lock, optionally honouring special tokens.

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <optional>
#include <vector>

#include "driver/piecewise.h"
#include "pool/worker_pool.h"
#include "python/added_tokens_type.h"
#include "python/batch.h"
#include "python/convert.h"
#include "python/py_ref.h"
#include "python/tokenizer_type.h"

namespace velkan {
namespace {

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
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
    PoolBatch batch{
        .handle = &handle,
        .texts = texts.data.data(),
        .lengths = texts.lengths.data(),
        .n = static_cast<int64_t>(n),
        .kind = plain ? JOB_ENCODE : JOB_CALL,
        .out_tokens = out.results.data(),
        .out_num_tokens = nullptr,
        .out_counts = nullptr,
        .call = SpecialBatchWork::run,
        .context = &work,
        .max_threads = static_cast<int32_t>(std::min<Py_ssize_t>(options.num_threads, INT32_MAX)),
    };
    if (lists != nullptr) lists->attach(batch);
    if (!run_batch_released(batch, &out.threads)) return false;
    WorkerPool* pool = worker_pool_get();
    out.allowed_threads = pool != nullptr ? pool->thread_count.load() : 1;
  }
  out.seconds = seconds_now() - start;
  if (options.num_threads > 0 && options.num_threads < out.allowed_threads) {
    out.allowed_threads = static_cast<long>(options.num_threads);
  }
  for (size_t i = 0; i < out.refused.size(); i++) {
    if (out.refused[i] != UINT32_MAX) {
      special.raise_disallowed(texts.data[i], texts.lengths[i]);
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

}  // namespace

PyObject* tokenizer_encode_batch(PyObject* self, PyObject* arg) {
  const EncodingHandle* handle = tokenizer_handle(self);
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

PyObject* tokenizer_encode_batch_parallel(PyObject* self, PyObject* args, PyObject* kwargs) {
  const EncodingHandle* handle = tokenizer_handle(self);
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
  const EncodingHandle* handle = tokenizer_handle(self);
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
  const EncodingHandle* handle = tokenizer_handle(self);
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
      const PoolBatch batch{
          .handle = handle,
          .texts = texts.data.data(),
          .lengths = texts.lengths.data(),
          .n = static_cast<int64_t>(n),
          .kind = JOB_COUNT,
          .out_tokens = nullptr,
          .out_num_tokens = nullptr,
          .out_counts = counts.data(),
          .max_threads = static_cast<int32_t>(std::min<Py_ssize_t>(num_threads, INT32_MAX)),
      };
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

const char kEncodeBatchDoc[] =
    "encode_batch($self, texts, /)\n--\n\n"
    "Encode a list of texts (str or bytes-like) on the calling thread.\n\n"
    "Return (ids, total, seconds): a list of id lists in the order of texts, the\n"
    "total number of tokens and the seconds spent encoding.";
const char kEncodeBatchParallelDoc[] =
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
    "ignored.";
const char kEncodeBatchFlatDoc[] =
    "encode_batch_flat($self, texts, /, *, num_threads=0, specials=None, "
    "allowed_special=None, disallowed_special='all')\n--\n\n"
    "encode_batch_parallel without a Python int per id. Return (ids, offsets,\n"
    "threads): ids a bytearray of native-endian uint32 values, offsets one of\n"
    "len(texts) + 1 int64 values (the ids of text i are ids[offsets[i]:offsets[i + 1]]),\n"
    "and the most threads that worked on the batch at once.";
const char kCountBatchDoc[] =
    "count_batch($self, texts, /, *, num_threads=0)\n--\n\n"
    "Return the number of tokens of each text (str or bytes-like) as a list of int,\n"
    "counted on at most num_threads worker threads (0: the whole pool) without the\n"
    "interpreter lock (small batches on the calling thread).";

}  // namespace velkan
