// Shared by the Tokenizer's methods: running native work on one text or a
// batch with the interpreter lock held or released, Ctrl-C checks, and the
// texts of a batch kept alive while the lock is released.

#ifndef VELKAN_PYTHON_BATCH_H_
#define VELKAN_PYTHON_BATCH_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "driver/piecewise.h"
#include "pool/worker_pool.h"
#include "python/convert.h"
#include "python/interpreter_lock.h"
#include "python/py_ref.h"

namespace velkan {

// ---- single texts ---------------------------------------------------------------

// Texts from this size up are encoded and counted without the interpreter
// lock, so that other Python threads (a server's) run meanwhile. Performance
// notes: letting the lock go and taking it back costs about a microsecond
// when no other thread wants it and a thread switch when one does; a 64 KiB
// text takes some 300 microseconds, so the handover is lost in the noise there.
inline constexpr uint64_t kReleaseLockBytes = 64 * 1024;

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
  SignalCheck check;
  bool out_of_memory = false;
  check.release();
  // Nothing below touches a Python object until the lock is back.
  try {
    work(data, text.size(), &check.hook);
  } catch (const std::bad_alloc&) {
    out_of_memory = true;
  }
  check.take_back();
  if (out_of_memory) throw std::bad_alloc();
  return !check.raised;
}

// ---- batches -------------------------------------------------------------------

// True when arg is a list; else false with TypeError "<function>: <what>
// must be a list, not <type>".
bool check_list(const char* function, const char* what, PyObject* arg);

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
  bool collect(PyObject* list, const char* function, bool copy_writable);

  size_t size() const { return data.size(); }
};

// Batches below this many bytes (each text counted with a fixed cost) are
// done on the calling thread with the lock held: handing them to the pool
// costs more than it saves.
inline constexpr uint64_t kSerialBatchWeight = 64 * 1024;
inline constexpr uint64_t kTextWeight = 64;

inline bool run_serially(const BatchTexts& texts) {
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
// released, with at most batch.max_threads threads when that is above 0.
// False with the error set when it ran out of memory or a signal handler
// raised. threads receives the most threads that worked at once.
bool run_batch_released(const PoolBatch& batch, long* threads);

// The list of lists of ids, or null. Frees each result as it goes; total
// receives the number of ids.
PyObject* results_to_list(std::vector<std::vector<uint32_t>>& results, uint64_t* total);

// The same, built while the pool still encodes: attached to a batch, it turns
// the results into lists in order as far as they are done, each time the
// submitter waits, so that making the lists (a reference count per id, a
// fifth of a batch's time on one thread) overlaps the encoding instead of
// following it. finish() converts the rest after the batch.
// Performance notes: see tokenizer_encode_batch_parallel.
struct ResultLists {
  explicit ResultLists(std::vector<std::vector<uint32_t>>& results);
  ResultLists(const ResultLists&) = delete;
  ResultLists& operator=(const ResultLists&) = delete;

  // Sets the batch's done flags and progress function to this; results
  // must have their final size.
  void attach(PoolBatch& batch);
  // The list of lists, or null with the error set.
  PyObject* finish(uint64_t* total);

  std::vector<std::vector<uint32_t>>& results;
  std::vector<PyRef> lists;
  std::unique_ptr<std::atomic<uint8_t>[]> done;
  size_t next = 0;      // results before it are lists
  uint64_t total = 0;   // ids converted
  bool failed = false;  // a list could not be made while the batch ran

  // Converts results up to end; false with the error set.
  bool convert(size_t end);
  static void progress(void* self);
};

}  // namespace velkan

#endif  // VELKAN_PYTHON_BATCH_H_
