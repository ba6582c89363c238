// Worker pool: one process-wide set of threads (one per processor the process
// may run on, at most 256, fewer when VELKAN_NUM_THREADS says so) that encode
// and count the texts of parallel batches, fed through a bounded ring of jobs.
// Made on first use and never torn down.

#ifndef VELKAN_POOL_WORKER_POOL_H_
#define VELKAN_POOL_WORKER_POOL_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "driver/piecewise.h"
#include "vocab/encoding_handle.h"

namespace velkan {

inline constexpr int kMaxPoolThreads = 256;
inline constexpr int kPoolRingSize = 4096;

// JOB_CALL runs the batch's own function on each text (special tokens,
// checks, other outputs) and leaves the output arrays alone.
enum JobKind : int32_t { JOB_ENCODE = 0, JOB_COUNT = 1, JOB_CALL = 2 };

// JOB_CALL's work on text index of the batch; may throw std::bad_alloc.
using PoolCall = void (*)(void* context, int64_t index, const Interrupt* interrupt);

// What a batch's submitter does while it waits (see PoolBatch::progress).
using PoolProgress = void (*)(void* context);

// The runs of a batch whose threads are capped: each of the few jobs takes
// the next run until none is left, so the runs stay evenly shared.
struct PoolRuns {
  std::vector<int64_t> starts;  // run k is texts[starts[k], starts[k + 1])
  std::atomic<size_t> next{0};
};

// Completion of one batch; lives on the submitter's stack.
struct BatchWaiter {
  int64_t remaining = 0;  // jobs not finished yet
  bool failed = false;    // some job ran out of memory; its result is empty
  std::mutex lock;        // guards remaining and failed
  std::condition_variable done;
  // Set by the submitter to give up: jobs not started are skipped, running
  // ones stop at their next interrupt check. Read without the lock.
  std::atomic<bool> cancelled{false};
  // Jobs running now and the most that ever ran at once: the threads the
  // batch really used.
  std::atomic<int32_t> running{0};
  std::atomic<int32_t> peak{0};
  bool wake_each_job = false;  // signal done at every job's end, not only the last
};

// A run of consecutive texts of one batch, texts[first] to texts[end - 1].
// Copied by value into the ring and out again; owns nothing. The output
// arrays are indexed by text, like texts.
struct PoolJob {
  const EncodingHandle* handle;
  const uint8_t* const* texts;  // UTF-8 bytes, not owned
  const uint64_t* lengths;
  int64_t first;
  int64_t end;
  int32_t kind;                       // JobKind
  std::vector<uint32_t>* out_tokens;  // JOB_ENCODE: receive the ids
  uint64_t* out_num_tokens;           // JOB_ENCODE: receive their number (may be null)
  uint64_t* out_count;                // JOB_COUNT: receive the results
  BatchWaiter* waiter;
  PoolCall call;               // JOB_CALL only
  void* context;               // JOB_CALL only
  PoolRuns* shared;            // not null: ignore first/end and take runs from here
  std::atomic<uint8_t>* done;  // not null: done[i] set once text i's result is stored
};

struct WorkerPool {
  std::thread threads[kMaxPoolThreads];  // the first thread_count are started
  // Threads started so far; grows (up to the target) when a batch finds it
  // short, never shrinks.
  std::atomic<int32_t> thread_count{0};
  PoolJob jobs[kPoolRingSize];  // the ring
  int32_t head = 0;             // next job to take
  int32_t tail = 0;             // where the next job goes
  int32_t count = 0;            // jobs in the ring; tells full from empty
  std::mutex lock;              // guards the ring
  std::condition_variable not_empty;
  std::condition_variable not_full;
};

// The process's pool, created on the first call; null while no thread could
// be started (then callers work on their own thread). A pool with fewer
// threads than it wants (memory was short) tries to start the rest on later
// calls. Safe from any thread. After
// a fork the child gets a fresh pool on its first use, since the parent's
// threads do not exist there.
WorkerPool* worker_pool_get();

// One batch: texts[i] of lengths[i] bytes for i below n, and where the
// results go (indexed like the texts). JOB_ENCODE fills out_tokens (and
// out_num_tokens when not null); JOB_COUNT fills out_counts.
struct PoolBatch {
  const EncodingHandle* handle;
  const uint8_t* const* texts;
  const uint64_t* lengths;
  int64_t n;
  JobKind kind;
  std::vector<uint32_t>* out_tokens;
  uint64_t* out_num_tokens;
  uint64_t* out_counts;
  PoolCall call = nullptr;  // JOB_CALL only
  void* context = nullptr;  // JOB_CALL only
  // At most this many threads work on the batch at once; 0: all of them.
  int32_t max_threads = 0;
  // Receives the most threads that worked on the batch at once (may be null).
  int32_t* threads_used = nullptr;
  // Not null: done[i] is set to 1 (a release store) once text i's result
  // is stored, and while it waits the submitter calls
  // progress(progress_context) once (even if the pool was done before it
  // came to wait) and then whenever more texts are done
  // from the first on (looked at when a job ends and every
  // kProgressMilliseconds), with no pool lock held, so that it can use the
  // results that are ready while the workers make the others. Both or
  // neither.
  std::atomic<uint8_t>* done = nullptr;
  PoolProgress progress = nullptr;
  void* progress_context = nullptr;
};

enum class BatchOutcome { kDone, kOutOfMemory, kInterrupted };

// How long the submitter waits between two questions to its interrupt hook.
inline constexpr int kInterruptPollMilliseconds = 20;
// How often a waiting submitter looks for newly done texts of a batch with
// a progress function.
inline constexpr int kProgressMilliseconds = 2;

// Runs the batch on the pool's threads and returns when every job is over;
// results keep the order of the texts. The texts are handed out in runs of
// about equal size, so tiny texts do not pay a job each. While it waits, the
// submitter asks interrupt (when not null) every kInterruptPollMilliseconds;
// when it answers true the remaining work is cancelled and the outcome is
// kInterrupted. kOutOfMemory when some text could not be processed for lack
// of memory (its result is then empty). Call without the interpreter lock; the
// arrays must stay valid until it returns.
BatchOutcome pool_run_batch(WorkerPool& pool, const PoolBatch& batch,
                            const Interrupt* interrupt = nullptr);

// pool_run_batch for JOB_ENCODE: false when memory ran out.
bool pool_encode_batch(WorkerPool& pool, const EncodingHandle& handle, const uint8_t* const* texts,
                       const uint64_t* lengths, int64_t n, std::vector<uint32_t>* results,
                       uint64_t* counts);

// The number of processors this process may run on, at most kMaxPoolThreads.
int processor_count();

// The pool's size: processor_count(), capped by the environment variable
// VELKAN_NUM_THREADS when that is a whole number of at least 1 (for shared
// machines and containers). Any other value (empty, 0, negative, not a
// number, trailing text) is ignored. Read once, when the pool is made.
int pool_thread_target();

}  // namespace velkan

#endif  // VELKAN_POOL_WORKER_POOL_H_
