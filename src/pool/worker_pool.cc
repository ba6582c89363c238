#include "pool/worker_pool.h"

#include <pthread.h>
#include <sched.h>

#include <memory>
#include <new>
#include <system_error>

#include "driver/piecewise.h"

namespace velkan {
namespace {

// The lazy singleton: a once-flag and the pool it made. A fork child replaces
// the whole slot (see worker_pool_get), so it lives on the heap; slots and
// pools are never freed, because the threads of a pool outlive everything.
struct PoolSlot {
  std::once_flag once;
  WorkerPool* pool = nullptr;
};

PoolSlot* pool_slot = nullptr;
std::once_flag pool_slot_once;

void worker_main(WorkerPool* pool);

// In a fork child only the forking thread exists: the parent's workers are
// gone and the pool's mutex may be held by one of them. Abandon that pool; the
// child makes its own on first use.
void forget_pool_in_child() { pool_slot = std::make_unique<PoolSlot>().release(); }

void worker_pool_create(PoolSlot* slot) {
  const int wanted = processor_count();
  std::unique_ptr<WorkerPool> pool;
  try {
    pool = std::make_unique<WorkerPool>();
  } catch (const std::exception&) {
    return;
  }
  for (int i = 0; i < wanted; i++) {
    try {
      pool->threads[i] = std::thread(worker_main, pool.get());
    } catch (const std::exception&) {
      break;  // work with the threads we have
    }
    pool->thread_count++;
  }
  if (pool->thread_count == 0) return;
  slot->pool = pool.release();  // lives as long as the process
}

void finish_job(BatchWaiter* waiter, bool failed) {
  std::lock_guard<std::mutex> guard(waiter->lock);
  if (failed) waiter->failed = true;
  // Signalled under the lock: once the submitter sees 0 it may destroy the
  // waiter, and no worker touches it after unlocking.
  if (--waiter->remaining == 0) waiter->done.notify_one();
}

void run_job(const PoolJob& job) {
  bool failed = false;
  try {
    switch (job.kind) {
      case JOB_ENCODE:
        *job.out_tokens = piecewise_encode(*job.handle, job.text, job.text_len);
        *job.out_num_tokens = job.out_tokens->size();
        break;
      case JOB_COUNT:
        *job.out_count = piecewise_count(*job.handle, job.text, job.text_len);
        break;
      case JOB_COUNT_TILL_LIMIT:
        *job.out_count = piecewise_count_till_limit(*job.handle, job.text, job.text_len, job.limit);
        break;
      default:
        break;
    }
  } catch (const std::bad_alloc&) {
    failed = true;
  }
  finish_job(job.waiter, failed);
}

void worker_main(WorkerPool* pool) {
  for (;;) {
    PoolJob job;
    {
      std::unique_lock<std::mutex> guard(pool->lock);
      while (pool->count == 0) {
        if (pool->stop) return;
        pool->not_empty.wait(guard);
      }
      job = pool->jobs[pool->head];
      pool->head = (pool->head + 1) % kPoolRingSize;
      pool->count--;
      pool->not_full.notify_one();
    }
    run_job(job);
  }
}

}  // namespace

int processor_count() {
  int n = 0;
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof(set), &set) == 0) n = CPU_COUNT(&set);
  if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
  if (n <= 0) n = 1;
  return n < kMaxPoolThreads ? n : kMaxPoolThreads;
}

WorkerPool* worker_pool_get() {
  std::call_once(pool_slot_once, [] {
    pool_slot = std::make_unique<PoolSlot>().release();
    pthread_atfork(nullptr, nullptr, forget_pool_in_child);
  });
  PoolSlot* slot = pool_slot;
  std::call_once(slot->once, worker_pool_create, slot);
  return slot->pool;
}

bool pool_encode_batch(WorkerPool& pool, const EncodingHandle& handle,
                       const uint8_t* const* texts, const uint64_t* lengths, int64_t n,
                       std::vector<uint32_t>* results, uint64_t* counts) {
  BatchWaiter waiter;
  waiter.remaining = n;
  for (int64_t i = 0; i < n; i++) {
    const PoolJob job{&handle,     texts[i],   lengths[i], JOB_ENCODE, 0,
                      &results[i], &counts[i], nullptr,    &waiter};
    std::unique_lock<std::mutex> guard(pool.lock);
    while (pool.count == kPoolRingSize) pool.not_full.wait(guard);
    pool.jobs[pool.tail] = job;
    pool.tail = (pool.tail + 1) % kPoolRingSize;
    pool.count++;
    pool.not_empty.notify_one();
  }
  std::unique_lock<std::mutex> guard(waiter.lock);
  while (waiter.remaining > 0) waiter.done.wait(guard);
  return !waiter.failed;
}

}  // namespace velkan
