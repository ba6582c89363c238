// Worker pool under load: batches from several threads at once, batches larger
// than the job ring, and handles with and without a splitter, each compared
// with encoding on the calling thread. The sanitizer script runs this file
// under ThreadSanitizer.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver/piecewise.h"
#include "embedded_encodings.h"
#include "pool/worker_pool.h"
#include "presplit/split_cl100k.h"
#include "presplit/split_o200k.h"

namespace velkan {
namespace {

// Texts of mixed length and script, some empty, some invalid UTF-8.
std::vector<std::string> mixed_texts(size_t n, uint32_t seed) {
  static const char* const parts[] = {"hello ",       "wörld ",     "  \n\n", "12345",
                                      "中文テキスト", "\xff\xfe",   "don't ", "\xf0\x9f\x99\x82",
                                      "\t\t ",        "CamelCase ", "x",      ""};
  std::vector<std::string> texts(n);
  uint32_t state = seed;
  for (size_t i = 0; i < n; i++) {
    const size_t pieces = i % 13 == 0 ? 0 : i % 40;
    for (size_t k = 0; k < pieces; k++) {
      state = state * 1664525u + 1013904223u;
      texts[i] += parts[(state >> 16) % (sizeof(parts) / sizeof(parts[0]))];
    }
  }
  if (n > 7) texts[7] = std::string(30000, 'a');  // one long text that finishes last
  return texts;
}

struct Batch {
  std::vector<const uint8_t*> data;
  std::vector<uint64_t> lengths;
  explicit Batch(const std::vector<std::string>& texts) {
    for (const std::string& t : texts) {
      data.push_back(reinterpret_cast<const uint8_t*>(t.data()));
      lengths.push_back(t.size());
    }
  }
};

// Encodes the batch on the pool and checks every result against the calling
// thread's encoding; returns the number of mismatches.
int encode_and_compare(WorkerPool& pool, const EncodingHandle& handle,
                       const std::vector<std::string>& texts) {
  Batch batch(texts);
  const size_t n = texts.size();
  std::vector<std::vector<uint32_t>> results(n);
  std::vector<uint64_t> counts(n, 0);
  if (!pool_encode_batch(pool, handle, batch.data.data(), batch.lengths.data(),
                         static_cast<int64_t>(n), results.data(), counts.data())) {
    return -1;
  }
  int mismatches = 0;
  for (size_t i = 0; i < n; i++) {
    const std::vector<uint32_t> expected =
        piecewise_encode(handle, batch.data[i], batch.lengths[i]);
    if (results[i] != expected || counts[i] != expected.size()) mismatches++;
  }
  return mismatches;
}

const EncodingHandle& handle_for(bool o200k, bool split) { return embedded_handle(o200k, split); }

TEST(WorkerPool, IsOneProcessWideInstance) {
  std::vector<WorkerPool*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (auto& slot : seen) threads.emplace_back([&slot] { slot = worker_pool_get(); });
  for (auto& t : threads) t.join();
  ASSERT_NE(seen[0], nullptr);
  for (WorkerPool* p : seen) EXPECT_EQ(p, seen[0]);
  EXPECT_EQ(seen[0]->thread_count.load(), processor_count());
  EXPECT_GE(processor_count(), 1);
  EXPECT_LE(processor_count(), kMaxPoolThreads);
}

TEST(WorkerPool, EmptyBatch) {
  WorkerPool* pool = worker_pool_get();
  ASSERT_NE(pool, nullptr);
  const EncodingHandle& h = handle_for(false, true);
  EXPECT_TRUE(pool_encode_batch(*pool, h, nullptr, nullptr, 0, nullptr, nullptr));
}

TEST(WorkerPool, BatchLargerThanTheRing) {
  WorkerPool* pool = worker_pool_get();
  ASSERT_NE(pool, nullptr);
  // Many more texts than the ring has slots, in runs.
  EXPECT_EQ(
      encode_and_compare(*pool, handle_for(false, true), mixed_texts(kPoolRingSize * 2 + 17, 1)),
      0);
}

TEST(WorkerPool, ConcurrentBatchesFromManyThreads) {
  WorkerPool* pool = worker_pool_get();
  ASSERT_NE(pool, nullptr);
  // Both vocabularies, split and whole, share the pool at once; every
  // submitter waits only for its own batch.
  const EncodingHandle* handles[] = {&handle_for(false, true), &handle_for(true, true),
                                     &handle_for(false, false), &handle_for(true, false)};
  constexpr size_t kThreads = 8;
  constexpr size_t kRounds = 6;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < kThreads; t++) {
    threads.emplace_back([&, t] {
      for (size_t round = 0; round < kRounds; round++) {
        const auto texts = mixed_texts(150 + 50 * round, static_cast<uint32_t>(t * 31 + round));
        const int m = encode_and_compare(*pool, *handles[(t + round) % 4], texts);
        mismatches[t] += m < 0 ? 1000 : m;
      }
    });
  }
  for (auto& t : threads) t.join();
  for (size_t t = 0; t < kThreads; t++) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

TEST(WorkerPool, CountJobsAgreeWithTheDriver) {
  WorkerPool* pool = worker_pool_get();
  ASSERT_NE(pool, nullptr);
  const EncodingHandle& h = handle_for(true, true);
  const auto texts = mixed_texts(3000, 7);
  Batch batch(texts);
  const int64_t n = static_cast<int64_t>(texts.size());
  std::vector<uint64_t> counts(texts.size(), 99);
  ASSERT_EQ(pool_run_batch(*pool, {&h, batch.data.data(), batch.lengths.data(), n, JOB_COUNT,
                                   nullptr, nullptr, counts.data()}),
            BatchOutcome::kDone);
  for (size_t i = 0; i < texts.size(); i++) {
    EXPECT_EQ(counts[i], piecewise_count(h, batch.data[i], batch.lengths[i])) << i;
  }
}

// A capped batch never has more jobs running than its cap, reports how many
// ran at once, and still gives every text's result; JOB_CALL runs the
// batch's own function on each text.
TEST(WorkerPool, CappedBatchesKeepToTheirThreads) {
  WorkerPool* pool = worker_pool_get();
  ASSERT_NE(pool, nullptr);
  const EncodingHandle& h = handle_for(true, true);
  const auto texts = mixed_texts(4000, 11);
  Batch batch(texts);
  const int64_t n = static_cast<int64_t>(texts.size());
  for (const int32_t cap : {1, 2, 3, 0}) {
    std::vector<uint64_t> counts(texts.size(), 99);
    PoolBatch b{&h,      batch.data.data(), batch.lengths.data(), n, JOB_COUNT,
                nullptr, nullptr,           counts.data()};
    int32_t used = -1;
    b.max_threads = cap;
    b.threads_used = &used;
    ASSERT_EQ(pool_run_batch(*pool, b), BatchOutcome::kDone);
    EXPECT_GE(used, 1);
    EXPECT_LE(used, cap > 0 ? std::min(cap, pool->thread_count.load()) : pool->thread_count.load());
    for (size_t i = 0; i < texts.size(); i++) {
      ASSERT_EQ(counts[i], piecewise_count(h, batch.data[i], batch.lengths[i])) << cap << " " << i;
    }
  }
  std::vector<int> seen(texts.size(), 0);
  PoolBatch b{&h, batch.data.data(), batch.lengths.data(), n, JOB_CALL, nullptr, nullptr, nullptr};
  b.call = [](void* context, int64_t index, const Interrupt*) {
    (*static_cast<std::vector<int>*>(context))[static_cast<size_t>(index)]++;
  };
  b.context = &seen;
  b.max_threads = 2;
  ASSERT_EQ(pool_run_batch(*pool, b), BatchOutcome::kDone);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), n);
}

TEST(WorkerPool, AnInterruptCancelsTheRestOfTheBatch) {
  WorkerPool* pool = worker_pool_get();
  ASSERT_NE(pool, nullptr);
  const EncodingHandle& h = handle_for(false, true);
  // Long texts, so that the batch outlives the first poll by far.
  const std::vector<std::string> texts(64, std::string(2 << 20, 'x') + " words and words");
  Batch batch(texts);
  std::vector<uint64_t> counts(texts.size(), 0);
  int asked = 0;
  const Interrupt stop{[](void* n) { return ++*static_cast<int*>(n) >= 2; }, &asked};
  EXPECT_EQ(pool_run_batch(
                *pool,
                {&h, batch.data.data(), batch.lengths.data(), static_cast<int64_t>(texts.size()),
                 JOB_COUNT, nullptr, nullptr, counts.data()},
                &stop),
            BatchOutcome::kInterrupted);
  EXPECT_EQ(asked, 2);
  // Some texts were never counted.
  EXPECT_NE(std::count(counts.begin(), counts.end(), 0u), 0);
  // The pool is free for the next batch.
  EXPECT_EQ(encode_and_compare(*pool, h, mixed_texts(100, 3)), 0);
}

// A batch with done flags and a progress function: every call sees a flag
// only for texts whose result is complete, the submitter is called while the
// workers still run, and at the end every text is flagged. ThreadSanitizer
// checks the result reads against the workers' writes.
TEST(WorkerPool, ProgressSeesOnlyFinishedResults) {
  WorkerPool* pool = worker_pool_get();
  ASSERT_NE(pool, nullptr);
  const EncodingHandle& h = handle_for(true, true);
  const auto texts = mixed_texts(3000, 5);
  Batch batch(texts);
  const size_t n = texts.size();
  std::vector<std::vector<uint32_t>> expected(n);
  for (size_t i = 0; i < n; i++) expected[i] = piecewise_encode(h, batch.data[i], batch.lengths[i]);
  for (const int32_t cap : {0, 1}) {
    struct Watch {
      std::vector<std::vector<uint32_t>>* results;
      const std::vector<std::vector<uint32_t>>* expected;
      std::unique_ptr<std::atomic<uint8_t>[]> done;
      size_t n;
      int calls = 0;
      int wrong = 0;
      size_t most_seen = 0;
    } watch{nullptr, &expected, std::make_unique<std::atomic<uint8_t>[]>(n), n};
    std::vector<std::vector<uint32_t>> results(n);
    watch.results = &results;
    PoolBatch b{&h,
                batch.data.data(),
                batch.lengths.data(),
                static_cast<int64_t>(n),
                JOB_ENCODE,
                results.data(),
                nullptr,
                nullptr};
    b.max_threads = cap;
    b.done = watch.done.get();
    b.progress = [](void* context) {
      auto* w = static_cast<Watch*>(context);
      w->calls++;
      size_t seen = 0;
      for (size_t i = 0; i < w->n; i++) {
        if (w->done[i].load(std::memory_order_acquire) == 0) continue;
        seen++;
        if ((*w->results)[i] != (*w->expected)[i]) w->wrong++;
      }
      w->most_seen = std::max(w->most_seen, seen);
    };
    b.progress_context = &watch;
    ASSERT_EQ(pool_run_batch(*pool, b), BatchOutcome::kDone);
    EXPECT_EQ(watch.wrong, 0) << cap;
    EXPECT_GE(watch.calls, 1) << cap;
    for (size_t i = 0; i < n; i++) {
      ASSERT_EQ(watch.done[i].load(), 1) << cap << " " << i;
      ASSERT_EQ(results[i], expected[i]) << cap << " " << i;
    }
  }
  // An interrupt still stops a batch whose submitter makes progress calls.
  const std::vector<std::string> long_texts(64, std::string(2 << 20, 'x') + " words");
  Batch long_batch(long_texts);
  std::vector<std::vector<uint32_t>> results(long_texts.size());
  std::unique_ptr<std::atomic<uint8_t>[]> done =
      std::make_unique<std::atomic<uint8_t>[]>(long_texts.size());
  int asked = 0;
  const Interrupt stop{[](void* k) { return ++*static_cast<int*>(k) >= 2; }, &asked};
  PoolBatch b{&h,
              long_batch.data.data(),
              long_batch.lengths.data(),
              static_cast<int64_t>(long_texts.size()),
              JOB_ENCODE,
              results.data(),
              nullptr,
              nullptr};
  b.done = done.get();
  b.progress = [](void*) {};
  EXPECT_EQ(pool_run_batch(*pool, b, &stop), BatchOutcome::kInterrupted);
  EXPECT_EQ(asked, 2);
}

// The first progress call does not depend on scheduling: tiny batches are
// often done before the submitter comes to wait, and are still called once.
TEST(WorkerPool, ProgressIsCalledWhenThePoolFinishesFirst) {
  WorkerPool* pool = worker_pool_get();
  ASSERT_NE(pool, nullptr);
  const EncodingHandle& h = handle_for(true, true);
  const std::vector<std::string> texts{"a", "b c"};
  Batch batch(texts);
  for (int round = 0; round < 300; round++) {
    std::vector<std::vector<uint32_t>> results(texts.size());
    std::unique_ptr<std::atomic<uint8_t>[]> done =
        std::make_unique<std::atomic<uint8_t>[]>(texts.size());
    int calls = 0;
    PoolBatch b{
        &h,     batch.data.data(), batch.lengths.data(), 2, JOB_ENCODE, results.data(), nullptr,
        nullptr};
    b.done = done.get();
    b.progress = [](void* context) { ++*static_cast<int*>(context); };
    b.progress_context = &calls;
    ASSERT_EQ(pool_run_batch(*pool, b), BatchOutcome::kDone);
    ASSERT_GE(calls, 1) << round;
  }
}

TEST(WorkerPool, ThreadTargetFromTheEnvironment) {
  const int processors = processor_count();
  const char* cases[][2] = {{"1", "1"},   {"", "all"},   {"0", "all"},    {"-2", "all"},
                            {"x", "all"}, {"1x", "all"}, {"99999", "all"}};
  for (const auto& c : cases) {
    setenv("VELKAN_NUM_THREADS", c[0], 1);
    const int expected = std::string(c[1]) == "all" ? processors : std::stoi(c[1]);
    EXPECT_EQ(pool_thread_target(), expected) << c[0];
  }
  unsetenv("VELKAN_NUM_THREADS");
  EXPECT_EQ(pool_thread_target(), processors);
}

}  // namespace
}  // namespace velkan
