// The segment cache (core/segment_cache.h) as a walk over a text's pieces uses it:
// at each word cut the walk asks for the segment that starts there; a hit
// hands over its ids and the walk skips to the segment's end, a miss lets the
// walk encode the segment's pieces one by one and stores their ids when it
// reaches the end.
//
// Segments are cut greedily: from a cut, the first word cut at least
// kMinBytes on. A text met again is cut exactly alike, and two texts that
// share a passage fall into step within a few segments. The cuts depend on
// the text alone, so the walk finds them a few segments ahead and has their
// slots loading while it works on the current one.

#ifndef VELKAN_DRIVER_SEGMENT_WALK_H_
#define VELKAN_DRIVER_SEGMENT_WALK_H_

#include <cstdint>

#include "core/segment_cache.h"
#include "presplit/word_cuts.h"

namespace velkan {

class SegmentWalk {
 public:
  SegmentWalk(SegmentCache& cache, const uint8_t* text, uint64_t length)
      : cache_(cache), text_(text), length_(length) {}

  // The walk calls at() for a piece that starts at or past this position.
  uint64_t cut = 0;

  // For a piece that starts at start >= cut: stores the segment that ends
  // here (ids, count: what the walk produced for it since the last call),
  // then asks for the one that starts here. On a hit, hands its ids to
  // emit(ids, n) and returns the segment's end, where the walk goes on;
  // otherwise returns start, and the walk encodes the piece (and collects
  // the ids for the next call). Without kIds a hit hands over the number of
  // its ids alone (emit(nullptr, n)): a count copies none.
  template <bool kIds = true, typename Emit>
  uint64_t at(uint64_t start, const uint32_t* ids, uint64_t count, Emit emit) {
    if (open_ && start == cut) cache_.put(open_key_, ids, count, random());
    open_ = false;
    if (start != cut) {
      // A piece that starts past the cut (none does, for the rule sets that
      // declare word cuts) begins no segment: start again at the next cut.
      size_ = 0;
      cut = next_from_ = word_cuts::next(text_, length_, start + 1);
      return start;
    }
    fill();
    if (size_ == 0) {
      cut = word_cuts::kNone;
      return start;
    }
    const Ahead& segment = ahead_[head_];
    head_ = (head_ + 1) % kAhead;
    size_--;
    cut = segment.end;
    if (segment.end - start <= SegmentCache::kMaxBytes) {
      if (const uint32_t n = cache_.find<kIds>(segment.key, hit_)) {
        emit(kIds ? hit_ : nullptr, n);
        return segment.end;
      }
      open_ = true;
      open_key_ = segment.key;
    }
    return start;
  }

 private:
  static constexpr uint32_t kAhead = 8;

  struct Ahead {
    uint64_t end;
    SegmentCache::Key key;  // when end - start <= kMaxBytes
  };

  // Finds the next segments, up to kAhead of them, and prefetches their slots.
  void fill() {
    while (size_ < kAhead && next_from_ != word_cuts::kNone) {
      const uint64_t start = next_from_;
      const uint64_t end = word_cuts::next(text_, length_, start + SegmentCache::kMinBytes);
      next_from_ = end;
      if (end == word_cuts::kNone) break;
      Ahead& a = ahead_[(head_ + size_) % kAhead];
      a.end = end;
      if (end - start <= SegmentCache::kMaxBytes) {
        a.key = SegmentCache::key_of(text_ + start, end - start);
        cache_.prefetch(a.key);
      }
      size_++;
    }
  }

  uint64_t random() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return state_ >> 63;
  }

  SegmentCache& cache_;
  const uint8_t* text_;
  uint64_t length_;
  uint64_t next_from_ = 0;  // where the segment after the last one ahead starts
  Ahead ahead_[kAhead];
  uint32_t head_ = 0, size_ = 0;
  bool open_ = false;  // open_key_ is a segment that missed and ends at cut
  SegmentCache::Key open_key_;
  uint32_t hit_[SegmentCache::kMaxIds];
  uint64_t state_ = reinterpret_cast<uintptr_t>(this);
};

}  // namespace velkan

#endif  // VELKAN_DRIVER_SEGMENT_WALK_H_
