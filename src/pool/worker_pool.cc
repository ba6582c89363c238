#include "pool/worker_pool.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <system_error>

#include "util/platform.h"
#include "util/thread_ready.h"

namespace velkan {
namespace {

// The lazy singleton: a once-flag and the pool it made. A fork child replaces
// the whole slot (see worker_pool_get), so it lives on the heap; slots and
// pools are never freed, because the threads of a pool outlive everything.
struct PoolSlot {
  std::once_flag once;
  WorkerPool* pool = nullptr;
  int32_t target = 0;  // the threads the pool should have
  // Held while threads are added (tried again by later batches while the pool
  // has fewer than target: memory may have been short when it was made).
  std::mutex grow_lock;
};

PoolSlot* pool_slot = nullptr;
std::once_flag pool_slot_once;

// What a new thread tells the thread that started it.
struct ThreadStart {
  std::mutex lock;
  std::condition_variable told;
  int state = 0;  // 0: not yet, 1: ready to work, 2: gave up (memory short)
};

// Address space a new thread must find free before it touches its
// thread-local data: glibc allocates a loaded library's on first use and
// ends the process (status 127) when that allocation fails, so a thread
// that finds memory short gives up instead.
constexpr size_t kThreadStartReserve = size_t{1} << 20;

bool memory_for_thread_start() { return platform::address_space_has_room(kThreadStartReserve); }

void worker_main(WorkerPool* pool, ThreadStart* start);

// In a fork child only the forking thread exists: the parent's workers are
// gone and the pool's mutex may be held by one of them. Abandon that pool; the
// child makes its own on first use.
void forget_pool_in_child() { pool_slot = std::make_unique<PoolSlot>().release(); }

// Starts threads until the pool has slot.target or one cannot start. Each is
// waited for until it is ready, so that nothing of this process allocates
// while it touches its thread-local data. Never throws: no thread more is
// all that can go wrong.
void worker_pool_grow(PoolSlot& slot) {
  WorkerPool& pool = *slot.pool;
  for (int32_t i = pool.thread_count.load(); i < slot.target; i++) {
    ThreadStart start;
    std::thread thread;
    try {
      thread = std::thread(worker_main, &pool, &start);
    } catch (const std::exception&) {
      return;  // std::system_error (pthread_create failed) or std::bad_alloc
    }
    int state = 0;
    {
      std::unique_lock<std::mutex> guard(start.lock);
      start.told.wait(guard, [&] { return start.state != 0; });
      state = start.state;
    }
    if (state != 1) {
      thread.join();  // it returned without touching anything
      return;
    }
    pool.threads[i] = std::move(thread);
    pool.thread_count.store(i + 1, std::memory_order_release);
  }
}

void worker_pool_create(PoolSlot* slot) {
  slot->target = pool_thread_target();
  std::unique_ptr<WorkerPool> pool;
  try {
    pool = std::make_unique<WorkerPool>();
  } catch (const std::exception&) {
    return;
  }
  slot->pool = pool.release();  // lives as long as the process
  const std::lock_guard<std::mutex> guard(slot->grow_lock);
  worker_pool_grow(*slot);
}

void finish_job(BatchWaiter* waiter, bool failed) {
  std::lock_guard<std::mutex> guard(waiter->lock);
  if (failed) waiter->failed = true;
  // Signalled under the lock: once the submitter sees 0 it may destroy the
  // waiter, and no worker touches it after unlocking.
  if (--waiter->remaining == 0 || waiter->wake_each_job) waiter->done.notify_one();
}

bool batch_cancelled(void* waiter) {
  return static_cast<BatchWaiter*>(waiter)->cancelled.load(std::memory_order_relaxed);
}

void run_texts(const PoolJob& job, int64_t first, int64_t end, const Interrupt& cancel) {
  for (int64_t i = first; i < end; i++) {
    if (batch_cancelled(job.waiter)) break;
    const uint8_t* text = job.texts[i];
    const uint64_t length = job.lengths[i];
    switch (job.kind) {
    case JOB_ENCODE:
      job.out_tokens[i] = piecewise_encode(*job.handle, text, length, &cancel);
      if (job.out_num_tokens != nullptr) job.out_num_tokens[i] = job.out_tokens[i].size();
      break;
    case JOB_COUNT:
      job.out_count[i] = piecewise_count(*job.handle, text, length, &cancel);
      break;
    case JOB_CALL:
      job.call(job.context, i, &cancel);
      break;
    default:
      break;
    }
    // A text stopped by a cancel is not done; its run ends at the next test.
    if (job.done != nullptr && !batch_cancelled(job.waiter)) {
      job.done[i].store(1, std::memory_order_release);
    }
  }
}

void run_job(const PoolJob& job) {
  const Interrupt cancel{batch_cancelled, job.waiter};
  bool failed = false;
  const int32_t running = job.waiter->running.fetch_add(1) + 1;
  int32_t peak = job.waiter->peak.load();
  while (peak < running && !job.waiter->peak.compare_exchange_weak(peak, running)) {
  }
  try {
    if (job.shared == nullptr) {
      run_texts(job, job.first, job.end, cancel);
    } else {
      const size_t runs = job.shared->starts.size() - 1;
      for (size_t k; (k = job.shared->next.fetch_add(1)) < runs;) {
        run_texts(job, job.shared->starts[k], job.shared->starts[k + 1], cancel);
      }
    }
  } catch (const std::bad_alloc&) {
    failed = true;  // the rest of the run is left empty; the batch fails anyway
  }
  job.waiter->running.fetch_sub(1);
  finish_job(job.waiter, failed);
}

void tell(ThreadStart* start, int state) {
  // The starter destroys start once it has seen the state, so the unlock is
  // the last touch.
  const std::lock_guard<std::mutex> guard(start->lock);
  start->state = state;
  start->told.notify_one();
}

void worker_main(WorkerPool* pool, ThreadStart* start) {
  if (!memory_for_thread_start()) {
    tell(start, 2);
    return;
  }
  // Before anything can throw: a first exception with memory short would
  // otherwise end the process (see thread_ready.h).
  ready_thread_for_exceptions();
  tell(start, 1);
  // Workers live as long as the process: nothing stops them.
  for (;;) {
    PoolJob job;
    {
      std::unique_lock<std::mutex> guard(pool->lock);
      while (pool->count == 0) pool->not_empty.wait(guard);
      job = pool->jobs[pool->head];
      pool->head = (pool->head + 1) % kPoolRingSize;
      pool->count--;
      pool->not_full.notify_one();
    }
    run_job(job);
  }
}

// Each text weighs its bytes plus a fixed cost, so that runs of tiny texts
// are cut as often as runs of a few long ones. Performance notes: a job per
// text cost tiny texts a lock round trip and a wake-up each, which made a
// parallel batch of three-byte texts twice as slow as a plain loop; runs of
// about a sixteenth of a thread's share keep the threads evenly loaded.
constexpr uint64_t kTextWeight = 64;
constexpr uint64_t kMinRunWeight = 64 * 1024;
constexpr uint64_t kRunsPerThread = 16;

uint64_t run_weight(const PoolBatch& batch, int threads) {
  uint64_t total = 0;
  for (int64_t i = 0; i < batch.n; i++) total += batch.lengths[i] + kTextWeight;
  const uint64_t share = total / (static_cast<uint64_t>(threads) * kRunsPerThread);
  return share > kMinRunWeight ? share : kMinRunWeight;
}

// Waits on cv in slices, asking the interrupt hook between them; true once
// done() holds, false when the hook asked to stop first.
template <typename Done>
bool wait_polling(std::unique_lock<std::mutex>& guard, std::condition_variable& cv,
                  const Interrupt* interrupt, Done done) {
  while (!done()) {
    if (interrupt == nullptr) {
      cv.wait(guard);
      continue;
    }
    if (cv.wait_for(guard, std::chrono::milliseconds(kInterruptPollMilliseconds)) ==
            std::cv_status::timeout &&
        !done()) {
      guard.unlock();
      const bool stop = interrupt->requested(interrupt->context);
      guard.lock();
      if (stop) return false;
    }
  }
  return true;
}

// wait_polling for a batch with a progress function: calls it (the lock let
// go) once, even when every job is over already, then whenever more texts
// are done from the start on (checked when a job ends and every
// kProgressMilliseconds), and asks the interrupt
// hook about every kInterruptPollMilliseconds. A call with nothing new to
// use would only cost the caller (the binding takes the interpreter lock).
bool wait_with_progress(std::unique_lock<std::mutex>& guard, BatchWaiter& waiter,
                        const PoolBatch& batch, const Interrupt* interrupt) {
  auto next_poll =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kInterruptPollMilliseconds);
  int64_t ready = 0;  // texts done from the start on
  bool call = true;
  // The first call does not depend on how the threads were scheduled.
  do {
    guard.unlock();
    if (call) batch.progress(batch.progress_context);
    bool stop = false;
    if (interrupt != nullptr && std::chrono::steady_clock::now() >= next_poll) {
      next_poll =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(kInterruptPollMilliseconds);
      stop = interrupt->requested(interrupt->context);
    }
    guard.lock();
    if (stop) return false;
    if (waiter.remaining != 0) {
      waiter.done.wait_for(guard, std::chrono::milliseconds(kProgressMilliseconds));
    }
    const int64_t before = ready;
    while (ready < batch.n && batch.done[ready].load(std::memory_order_acquire) != 0) ready++;
    call = ready > before;
  } while (waiter.remaining != 0);
  return true;
}

}  // namespace

int processor_count() {
  int n = platform::usable_processors();
  if (n <= 0) n = 1;
  return n < kMaxPoolThreads ? n : kMaxPoolThreads;
}

int pool_thread_target() {
  const int processors = processor_count();
  const char* value = std::getenv("VELKAN_NUM_THREADS");
  if (value == nullptr || *value == '\0') return processors;
  char* end = nullptr;
  const long wanted = std::strtol(value, &end, 10);
  if (*end != '\0' || wanted < 1) return processors;
  return wanted < processors ? static_cast<int>(wanted) : processors;
}

WorkerPool* worker_pool_get() {
  std::call_once(pool_slot_once, [] {
    pool_slot = std::make_unique<PoolSlot>().release();
    platform::on_fork(nullptr, nullptr, forget_pool_in_child);
  });
  PoolSlot* slot = pool_slot;
  std::call_once(slot->once, worker_pool_create, slot);
  WorkerPool* pool = slot->pool;
  if (pool == nullptr) return nullptr;
  if (pool->thread_count.load(std::memory_order_acquire) < slot->target) {
    // Made under memory pressure: try again, without waiting for a batch
    // that is adding threads already.
    std::unique_lock<std::mutex> guard(slot->grow_lock, std::try_to_lock);
    if (guard.owns_lock()) worker_pool_grow(*slot);
  }
  // No thread at all: callers encode on their own thread.
  return pool->thread_count.load(std::memory_order_acquire) > 0 ? pool : nullptr;
}

BatchOutcome pool_run_batch(WorkerPool& pool, const PoolBatch& batch, const Interrupt* interrupt) {
  BatchWaiter waiter;
  waiter.wake_each_job = batch.progress != nullptr;
  const int32_t thread_count = pool.thread_count.load(std::memory_order_acquire);
  const bool capped = batch.max_threads > 0 && batch.max_threads < thread_count;
  const int threads = capped ? batch.max_threads : thread_count;
  const uint64_t per_run = run_weight(batch, threads);
  // Capped: the runs are cut first and shared by max_threads jobs.
  PoolRuns runs;
  if (capped) {
    runs.starts.push_back(0);
    while (runs.starts.back() < batch.n) {
      int64_t end = runs.starts.back();
      uint64_t weight = 0;
      while (end < batch.n && weight < per_run) weight += batch.lengths[end++] + kTextWeight;
      runs.starts.push_back(end);
    }
  }
  const int64_t jobs = capped ? std::min<int64_t>(threads, std::ssize(runs.starts) - 1) : batch.n;
  bool stopped = false;
  int64_t first = 0;
  while (first < jobs && !stopped) {
    int64_t end = first;
    if (capped) {
      end = first + 1;  // one job, many runs
    } else {
      uint64_t weight = 0;
      while (end < batch.n && weight < per_run) weight += batch.lengths[end++] + kTextWeight;
    }
    const PoolJob job{batch.handle,
                      batch.texts,
                      batch.lengths,
                      first,
                      end,
                      batch.kind,
                      batch.out_tokens,
                      batch.out_num_tokens,
                      batch.out_counts,
                      &waiter,
                      batch.call,
                      batch.context,
                      capped ? &runs : nullptr,
                      batch.done};
    {
      std::lock_guard<std::mutex> waiter_guard(waiter.lock);
      waiter.remaining++;
    }
    std::unique_lock<std::mutex> guard(pool.lock);
    if (!wait_polling(guard, pool.not_full, interrupt,
                      [&] { return pool.count < kPoolRingSize; })) {
      stopped = true;
      std::lock_guard<std::mutex> waiter_guard(waiter.lock);
      waiter.remaining--;  // this run was never queued
      break;
    }
    pool.jobs[pool.tail] = job;
    pool.tail = (pool.tail + 1) % kPoolRingSize;
    pool.count++;
    pool.not_empty.notify_one();
    first = end;
  }
  std::unique_lock<std::mutex> guard(waiter.lock);
  if (!stopped && batch.progress != nullptr) {
    stopped = !wait_with_progress(guard, waiter, batch, interrupt);
  }
  if (stopped ||
      !wait_polling(guard, waiter.done, interrupt, [&] { return waiter.remaining == 0; })) {
    stopped = true;
    waiter.cancelled.store(true, std::memory_order_relaxed);
    // Queued and running jobs still point at the waiter and the arrays.
    while (waiter.remaining > 0) waiter.done.wait(guard);
  }
  if (batch.threads_used != nullptr) *batch.threads_used = waiter.peak.load();
  if (stopped) return BatchOutcome::kInterrupted;
  return waiter.failed ? BatchOutcome::kOutOfMemory : BatchOutcome::kDone;
}

bool pool_encode_batch(WorkerPool& pool, const EncodingHandle& handle, const uint8_t* const* texts,
                       const uint64_t* lengths, int64_t n, std::vector<uint32_t>* results,
                       uint64_t* counts) {
  const PoolBatch batch{&handle, texts, lengths, n, JOB_ENCODE, results, counts, nullptr};
  return pool_run_batch(pool, batch) == BatchOutcome::kDone;
}

}  // namespace velkan
