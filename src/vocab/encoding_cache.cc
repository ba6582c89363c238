#include "vocab/encoding_cache.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "core/build.h"
#include "util/platform.h"
#include "util/thread_ready.h"
#include "vocab/image.h"
#include "vocab/registry.h"

namespace velkan {
namespace {

// One per registry entry. The handle is published once with release order
// and read lock-free after that; making it is serialised by the mutex (not
// std::call_once, whose waiters can hang when the maker throws on some
// standard libraries, and bad_alloc must leave the entry retryable).
struct Slot {
  std::atomic<const EncodingHandle*> handle{nullptr};
  std::mutex making;
};

Slot* slots_begin = nullptr;  // set once, with the handlers below
size_t slot_count = 0;

// fork() while another thread makes an entry would leave the child with a
// slot mutex that no thread of its own will ever unlock (the binding releases
// the interpreter lock while making, so Python code can fork meanwhile).
// Around fork every slot mutex is taken, so a fork waits for a making in
// progress (which needs no lock the forking thread holds) and both processes
// start with free mutexes.
void lock_slots_for_fork() {
  for (size_t i = 0; i < slot_count; i++) slots_begin[i].making.lock();
}
void unlock_slots_after_fork() {
  for (size_t i = slot_count; i-- > 0;) slots_begin[i].making.unlock();
}

Slot& slot_of(size_t index) {
  // One slot per entry, made on first use (a thread-safe static) and never
  // freed, like the handles they point at: tokenizers and the fork handlers
  // may outlive every static destructor.
  static Slot* const slots = [] {
    auto made = std::make_unique<Slot[]>(vocabularies().size());
    slots_begin = made.get();
    slot_count = vocabularies().size();
    platform::on_fork(lock_slots_for_fork, unlock_slots_after_fork, unlock_slots_after_fork);
    return made.release();
  }();
  if (index >= vocabularies().size()) throw std::out_of_range("no such vocabulary");
  return slots[index];
}

BytePairEncodingPtr load_or_build(const VocabularyInfo& info,
                                  std::span<const std::string> image_paths, EncodingMade& made) {
  for (const std::string& path : image_paths) {
    std::optional<ImageFile> file = open_image_file(path);
    if (!file) continue;  // absent or not a regular file: nothing to refuse
    BytePairEncodingPtr encoding = bpe_from_image_file(info.token_bytes, info.token_starts,
                                                       info.num_tokens, *file, info.image_digest);
    if (encoding) {
      made.loaded_from = path;
      return encoding;
    }
    made.refused.push_back(path);
  }
  return bpe_build(info.token_bytes, info.token_starts, info.num_tokens);
}

}  // namespace

const EncodingHandle& encoding_cache_get(size_t index, std::span<const std::string> image_paths,
                                         EncodingMade* made) {
  Slot& slot = slot_of(index);
  if (const EncodingHandle* handle = slot.handle.load(std::memory_order_acquire)) return *handle;

  // Making an entry is where memory most likely runs out; the caller's
  // thread may never have thrown before (see util/thread_ready.h).
  ready_thread_for_exceptions();
  std::lock_guard<std::mutex> lock(slot.making);
  if (const EncodingHandle* handle = slot.handle.load(std::memory_order_acquire)) return *handle;
  const VocabularyInfo& info = vocabularies()[index];
  EncodingMade report;
  BytePairEncodingPtr encoding = load_or_build(info, image_paths, report);
  auto handle = std::make_unique<EncodingHandle>();
  handle->encoding = encoding.get();
  handle_finish(*handle);
  encoding.release();  // lives as long as the process
  handle->rule_set = info.rule_set;
  report.made_here = true;
  if (made != nullptr) *made = std::move(report);
  const EncodingHandle* published = handle.release();
  slot.handle.store(published, std::memory_order_release);
  return *published;
}

bool encoding_cache_has(size_t index) {
  return slot_of(index).handle.load(std::memory_order_acquire) != nullptr;
}

}  // namespace velkan
