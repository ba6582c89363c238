// The process-wide cache of finished encodings, one EncodingHandle per entry
// of the vocabulary registry, made on first use from the first valid
// precomputed image among the paths offered, else built from the embedded
// vocabulary. Never released.

#ifndef VELKAN_VOCAB_ENCODING_CACHE_H_
#define VELKAN_VOCAB_ENCODING_CACHE_H_

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "vocab/encoding_handle.h"

namespace velkan {

// What the call that made an entry did, for the caller to report.
struct EncodingMade {
  bool made_here = false;                  // false: the entry was there already
  std::optional<std::string> loaded_from;  // the image taken; nothing: built
  std::vector<std::string> refused;        // images that exist but did not fit
};

// The cached handle of vocabularies()[index], made by the first call. Safe to
// call from any number of threads at once, whatever lock the caller holds or
// not: exactly one call makes the entry, the others wait for it (so a caller
// must not hold a lock the maker needs; the binding releases the interpreter
// lock). Only the making call reads image_paths, in order. Throws
// std::bad_alloc when memory runs out; the entry then stays empty and a later
// call starts again.
const EncodingHandle& encoding_cache_get(size_t index, std::span<const std::string> image_paths,
                                         EncodingMade* made = nullptr);

// Whether the entry is made. Never builds or waits.
bool encoding_cache_has(size_t index);

}  // namespace velkan

#endif  // VELKAN_VOCAB_ENCODING_CACHE_H_
