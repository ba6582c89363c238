#include "python/batch.h"

#include <utility>

namespace velkan {

bool check_list(const char* function, const char* what, PyObject* arg) {
  if (PyList_Check(arg)) return true;
  PyErr_Format(PyExc_TypeError, "%s: %s must be a list, not %.200s", function, what,
               Py_TYPE(arg)->tp_name);
  return false;
}

bool BatchTexts::collect(PyObject* list, const char* function, bool copy_writable) {
  const size_t n = static_cast<size_t>(PyList_GET_SIZE(list));
  data.reserve(n);
  lengths.reserve(n);
  owners.reserve(n);
  // The length is read on every round: a buffer export may run Python code.
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); i++) {
    PyRef item = list_item(list, i);
    if (item == nullptr) return false;
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

namespace {

// A batch's progress function as the pool calls it (without the lock): the
// caller's function runs with the lock taken back.
struct LockedProgress {
  SignalCheck* check;
  PoolProgress progress;
  void* context;

  static void run(void* self) {
    auto* p = static_cast<LockedProgress*>(self);
    lock_take_back(p->check->saved);
    p->progress(p->context);
    p->check->saved = PyEval_SaveThread();
  }
};

}  // namespace

bool run_batch_released(const PoolBatch& batch_in, long* threads) {
  BatchOutcome outcome = BatchOutcome::kDone;
  SignalCheck check;
  int32_t used = 1;
  PoolBatch batch = batch_in;
  batch.threads_used = &used;
  LockedProgress locked{&check, batch_in.progress, batch_in.progress_context};
  if (batch.progress != nullptr) {
    batch.progress = LockedProgress::run;
    batch.progress_context = &locked;
  }
  check.release();
  // Nothing below touches a Python object until the lock is back.
  try {
    WorkerPool* pool = worker_pool_get();
    if (pool != nullptr && batch.max_threads != 1) {
      outcome = pool_run_batch(*pool, batch, &check.hook);
    } else {
      // No pool, or one thread asked for: this thread is that thread.
      for (int64_t i = 0; i < batch.n && !check.raised; i++) {
        if (batch.kind == JOB_CALL) {
          batch.call(batch.context, i, &check.hook);
        } else if (batch.kind == JOB_ENCODE) {
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
  check.take_back();
  *threads = used;
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
  ResultLists lists(results);
  if (!lists.convert(results.size())) return nullptr;
  *total = lists.total;
  return refs_to_list(lists.lists);
}

ResultLists::ResultLists(std::vector<std::vector<uint32_t>>& results_in) : results(results_in) {}

bool ResultLists::convert(size_t end) {
  if (lists.size() != results.size()) lists.resize(results.size());
  for (; next < end; next++) {
    lists[next].reset(tokens_to_list(results[next].data(), results[next].size()));
    if (lists[next] == nullptr) return false;
    total += results[next].size();
    std::vector<uint32_t>().swap(results[next]);
  }
  return true;
}

void ResultLists::progress(void* self) {
  auto* p = static_cast<ResultLists*>(self);
  if (p->failed) return;
  size_t end = p->next;
  while (end < p->results.size() && p->done[end].load(std::memory_order_acquire) != 0) end++;
  // An error cannot stay set while the lock is let go again (a signal
  // check would run with it); it is raised once the batch is over.
  if (!p->convert(end)) {
    PyErr_Clear();
    p->failed = true;
  }
}

void ResultLists::attach(PoolBatch& batch) {
  lists.resize(results.size());
  done = std::make_unique<std::atomic<uint8_t>[]>(results.size());
  batch.done = done.get();
  batch.progress = progress;
  batch.progress_context = this;
}

PyObject* ResultLists::finish(uint64_t* total_out) {
  if (failed) return PyErr_NoMemory();
  if (!convert(results.size())) return nullptr;
  *total_out = total;
  return refs_to_list(lists);
}

}  // namespace velkan
