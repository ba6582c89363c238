#include "core/build.h"

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/automaton.h"
#include "core/byte_order.h"
#include "core/pair_table.h"
#include "util/helper_thread.h"
#include "util/platform.h"

namespace velkan {

// What a forward automaton left to its first use is compiled from.
struct PendingForward {
  FlatTrie trie;
  bool copy_alt = false;  // a build of all automata: forward_automaton_alt is its copy
};

namespace {

// One lock for every pending compile: they are rare, and with one lock a
// fork can wait for the compile in flight (the prepare handler takes it), so
// that a child never gets a lock held by a thread it does not have, nor a
// half-built table. A compile never waits for anything else (no Python, no
// other lock), so the wait ends. Not destroyed at exit: a thread still
// compiling then must find it intact.
std::mutex& compile_lock() {
  static std::mutex* const lock = [] {
    alignas(std::mutex) static unsigned char storage[sizeof(std::mutex)];
    return ::new (storage) std::mutex;
  }();
  return *lock;
}

// This process's mark (bpe_process_mark): a forked child takes the next one,
// so that a compile its parent runs in the background is not awaited there.
std::atomic<uint64_t> process_mark{1};

void lock_compiles_for_fork() { compile_lock().lock(); }
void unlock_compiles_after_fork() { compile_lock().unlock(); }
void child_after_fork() {
  process_mark.fetch_add(1, std::memory_order_relaxed);
  compile_lock().unlock();
}

void register_fork_handlers() {
  static const bool registered = [] {
    platform::on_fork(lock_compiles_for_fork, unlock_compiles_after_fork, child_after_fork);
    return true;
  }();
  (void)registered;
}

}  // namespace

void bpe_compile_forward(const BytePairEncoding& bpe) {
  std::lock_guard<std::mutex> lock(compile_lock());
  if (bpe.forward_ready.load(std::memory_order_acquire)) return;  // another thread did it
  // The record is made non-const by its build; until forward_ready is set
  // nothing reads these fields, and only this lock's holder writes them.
  auto& record = const_cast<BytePairEncoding&>(bpe);
  record.forward_automaton = automaton_compile(record.forward_pending->trie, kForwardAutomaton);
  if (record.forward_pending->copy_alt) bpe_alt_from_forward(record);
  record.forward_pending.reset();
  // As handle_finish asks for the rest (vocab/encoding_handle.cc).
  automaton_advise_huge_pages(record.forward_automaton);
  record.forward_ready.store(true, std::memory_order_release);
}

uint64_t bpe_process_mark() { return process_mark.load(std::memory_order_relaxed); }

bool bpe_forward_compiling(const BytePairEncoding& bpe) {
  return !bpe.forward_ready.load(std::memory_order_acquire) &&
         bpe.forward_background.load(std::memory_order_acquire) == bpe_process_mark();
}

bool bpe_compile_forward_in_background(std::shared_ptr<const BytePairEncoding> bpe) {
  if (bpe->forward_ready.load(std::memory_order_acquire)) return true;
  if (!platform::address_space_has_room(kHelperThreadHeadroom)) return false;
  const BytePairEncoding& record = *bpe;
  record.forward_background.store(bpe_process_mark(), std::memory_order_release);
  try {
    // Detached: the thread owns what it reads (the record, through bpe; the
    // lock, which is never destroyed), so it may outlive whoever started it.
    std::thread([held = std::move(bpe)] {
      try {
        ready_thread_for_exceptions();
        bpe_compile_forward(*held);
      } catch (...) {
        // Out of memory: left pending, and the next use compiles it (and
        // reports the failure to its caller).
      }
      held->forward_background.store(0, std::memory_order_release);
    }).detach();
  } catch (const std::system_error&) {
    record.forward_background.store(0, std::memory_order_release);
    return false;
  }
  return true;
}

bool bpe_construction_split(const BytePairEncoding& bpe, uint32_t i, uint32_t& left,
                            uint32_t& right, bool equal_tokens) {
  const uint8_t* bytes = bpe.token_data(i);
  const uint32_t length = bpe.token_length(i);
  for (int32_t p = bpe.next_prefix[i]; p != -1; p = bpe.next_prefix[static_cast<uint32_t>(p)]) {
    const uint32_t prefix_length = bpe.token_length(static_cast<uint32_t>(p));
    // The index answers only with equal bytes (it passes over a slot whose
    // hash matches but whose bytes differ), so no length or byte test is
    // needed here.
    const int32_t r =
        token_index_find(bpe.token_index, bpe.token_bytes.data(), bpe.token_starts.data(),
                         bpe.hash_factor, bytes + prefix_length, length - prefix_length);
    if (r == -1 || static_cast<uint32_t>(p) >= i || static_cast<uint32_t>(r) >= i) continue;
    // The pair spells token i: without equal tokens no older token is
    // that pair's merge, so only the walk below it can refuse.
    const bool valid =
        equal_tokens
            ? bpe_is_valid_pair_before(bpe, static_cast<uint32_t>(p), static_cast<uint32_t>(r), i)
            : bpe_is_valid_pair_below(bpe, static_cast<uint32_t>(p), static_cast<uint32_t>(r));
    if (!valid) continue;
    left = static_cast<uint32_t>(p);
    right = static_cast<uint32_t>(r);
    return true;
  }
  return false;
}

TokenAutomaton bpe_reverse_automaton(const BytePairEncoding& bpe) {
  TrieBuilder reverse = trie_new(kReverseTrie);
  for (uint32_t id = 0; id < bpe.num_tokens; id++) {
    trie_insert_token(reverse, bpe.token_data(id), bpe.token_length(id), static_cast<int32_t>(id));
  }
  return automaton_compile(reverse, kReverseAutomaton);
}

BytePairEncodingPtr bpe_build(const uint8_t* token_bytes, const uint32_t* token_starts, uint32_t n,
                              BuildAutomata automata, ForwardCompile compile) {
  auto bpe = std::make_unique<BytePairEncoding>();
  const bool equal_tokens = bpe_store_tokens(*bpe, token_bytes, token_starts, n);

  // Performance notes: compiling an automaton is most of the construction
  // time (cold start without an image). The reverse automaton is needed by
  // nothing below, so it is made on a thread of its own while this one makes
  // the forward one, next_prefix and the splits; and the kind 1 automaton
  // is a copy of kind 0 (compiling the same trie twice gives equal arrays).
  // Should no thread be available, the reverse one is made here afterwards.
  // A forward-only build makes neither: on cl100k_base's ranks plus 3,000
  // (a loaded two-core machine) the forward automaton alone took 0.20 s to
  // 0.28 s, beside the reverse one 0.45 s to 0.61 s (the two threads share
  // the allocator and the cores), and the record is some 20 MiB smaller.
  const bool all = automata == BuildAutomata::kAll;
  const BytePairEncoding& tokens = *bpe;
  TokenAutomaton reverse_automaton;
  std::exception_ptr reverse_failure;
  auto make_reverse = [&] {
    try {
      reverse_automaton = bpe_reverse_automaton(tokens);
    } catch (...) {
      reverse_failure = std::current_exception();
    }
  };
  // Joins when it goes out of scope, on every path.
  JoiningThread reverse_worker = all ? try_start_helper_thread(make_reverse) : JoiningThread();

  // The forward trie, flat and breadth first, with the prefix chain: the
  // longest token that is a prefix of each token less its last byte (a token
  // of length 1 asks about nothing: -1). Where none is, a vocabulary without
  // every single byte may still have a match further on, which only the
  // automaton's general query finds: those wait for it.
  bpe->next_prefix.resize(n);
  auto pending = std::make_shared<PendingForward>();
  pending->trie = flat_trie_build(bpe->token_bytes.data(), bpe->token_starts.data(), n,
                                  bpe->next_prefix.data());
  const FlatTrie& forward = pending->trie;
  // The forward automaton is compiled on a helper thread while this one
  // makes the splits, which need no automaton. Performance notes: on
  // cl100k_base's ranks plus 3,000 the compile is about two thirds of the
  // forward-only build and the chain and splits most of the rest. Left to
  // the first use, only a vocabulary without every single byte still needs
  // it here (for its prefix chain, below).
  const bool later = compile == ForwardCompile::kAtFirstUse;
  TokenAutomaton forward_automaton;
  std::exception_ptr forward_failure;
  auto compile_forward = [&] {
    try {
      forward_automaton = automaton_compile(forward, kForwardAutomaton);
    } catch (...) {
      forward_failure = std::current_exception();
    }
  };
  JoiningThread forward_worker = later ? JoiningThread() : try_start_helper_thread(compile_forward);
  if (!later && !forward_worker.joinable()) compile_forward();
  bool joined = false;
  const auto join_forward = [&] {
    if (joined) return;
    joined = true;
    if (later) {
      compile_forward();
    } else if (forward_worker.joinable()) {
      forward_worker.join();
    }
    if (forward_failure) std::rethrow_exception(forward_failure);
    bpe->forward_automaton = std::move(forward_automaton);
  };

  bool unresolved = false;
  for (uint32_t id = 0; id < n; id++) {
    unresolved |= bpe->next_prefix[id] == -1 && bpe->token_length(id) >= 2;
  }
  if (unresolved) {
    join_forward();
    for (uint32_t id = 0; id < n; id++) {
      const uint32_t length = bpe->token_length(id);
      if (length >= 2 && bpe->next_prefix[id] == -1) {
        bpe->next_prefix[id] = bpe_next_match(*bpe, bpe->token_data(id), length - 1);
      }
    }
  }

  bpe->split_left.resize(n);
  bpe->split_right.resize(n);
  for (uint32_t id = 0; id < n; id++) bpe->split_left[id] = bpe->split_right[id] = id;
  bpe->pair_table = pair_table_new(hash_table_capacity(n));
  for (uint32_t id = 0; id < n; id++) {
    uint32_t left, right;
    if (!bpe_construction_split(*bpe, id, left, right, equal_tokens)) continue;
    pair_table_insert(bpe->pair_table, left, right, id);
    bpe->split_left[id] = left;
    bpe->split_right[id] = right;
  }
  // Images carry the byte order; made here while the compile still runs.
  if (all) bpe->byte_order = bpe_byte_order(*bpe);
  if (later && !joined) {
    pending->copy_alt = all;
    bpe->forward_ready.store(false, std::memory_order_relaxed);
    bpe->forward_pending = std::move(pending);
    register_fork_handlers();
  } else {
    join_forward();
  }
  // Two identical automata from the forward trie; only kind 0 is queried and
  // held. (A pending one gets its copy's counts when compiled.)
  if (all && joined) bpe_alt_from_forward(*bpe);

  if (reverse_worker.joinable()) {
    reverse_worker.join();
  } else if (all) {
    make_reverse();
  }
  if (reverse_failure) std::rethrow_exception(reverse_failure);
  bpe->reverse_automaton = std::move(reverse_automaton);
  return bpe;
}

}  // namespace velkan
