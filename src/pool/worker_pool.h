// Worker pool: one process-wide set of threads (one per processor the process
// may run on, at most 256) that encode the texts of parallel batches, fed
// through a bounded ring of jobs. Made on first use and never torn down.

#ifndef VELKAN_POOL_WORKER_POOL_H_
#define VELKAN_POOL_WORKER_POOL_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "vocab/encoding_handle.h"

namespace velkan {

inline constexpr int kMaxPoolThreads = 256;
inline constexpr int kPoolRingSize = 4096;

enum JobKind : int32_t { JOB_ENCODE = 0, JOB_COUNT = 1, JOB_COUNT_TILL_LIMIT = 2 };

// Completion of one batch; lives on the submitter's stack.
struct BatchWaiter {
  int64_t remaining = 0;  // jobs not finished yet
  bool failed = false;    // some job ran out of memory; its result is empty
  std::mutex lock;        // guards remaining and failed
  std::condition_variable done;
};

// One text to process. Copied by value into the ring and out again; owns
// nothing.
struct PoolJob {
  const EncodingHandle* handle;
  const uint8_t* text;  // UTF-8 bytes, not owned
  uint64_t text_len;
  int32_t kind;  // JobKind
  uint64_t limit;  // JOB_COUNT_TILL_LIMIT only
  std::vector<uint32_t>* out_tokens;  // JOB_ENCODE: receives the ids
  uint64_t* out_num_tokens;           // JOB_ENCODE: receives their number
  uint64_t* out_count;                // the count kinds: receives the result
  BatchWaiter* waiter;
};

struct WorkerPool {
  std::thread threads[kMaxPoolThreads];  // the first thread_count are started
  int32_t thread_count = 0;
  PoolJob jobs[kPoolRingSize];  // the ring
  int32_t head = 0;             // next job to take
  int32_t tail = 0;             // where the next job goes
  int32_t count = 0;            // jobs in the ring; tells full from empty
  std::mutex lock;              // guards the ring and stop
  std::condition_variable not_empty;
  std::condition_variable not_full;
  int32_t stop = 0;  // nothing sets it; workers live as long as the process
};

// The process's pool, created on the first call; null when no pool could be
// made (then callers work on their own thread). Safe from any thread. After a
// fork the child gets a fresh pool on its first use, since the parent's
// threads do not exist there.
WorkerPool* worker_pool_get();

// Encodes texts[i] into results[i] / counts[i] on the pool's threads and
// returns when all are done; results keep the order of the texts. Returns
// false when some text could not be encoded for lack of memory (its result is
// then empty). Call without the interpreter lock; the arrays must stay valid
// until it returns.
bool pool_encode_batch(WorkerPool& pool, const EncodingHandle& handle,
                       const uint8_t* const* texts, const uint64_t* lengths, int64_t n,
                       std::vector<uint32_t>* results, uint64_t* counts);

// The number of processors this process may run on, at most kMaxPoolThreads.
int processor_count();

}  // namespace velkan

#endif  // VELKAN_POOL_WORKER_POOL_H_
