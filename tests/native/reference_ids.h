// The ids a text must get, rebuilt the slow way for the driver's tests: the
// rule set's splitter, then the whole-piece encoder on each piece, with no
// cache, segment or short-token table of any kind.

#ifndef VELKAN_TESTS_REFERENCE_IDS_H_
#define VELKAN_TESTS_REFERENCE_IDS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "core/encoder.h"
#include "presplit/rule_set.h"
#include "presplit/split_common.h"
#include "vocab/encoding_handle.h"

namespace velkan {

inline std::vector<uint32_t> by_pieces(const EncodingHandle& h, const std::string& text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  std::vector<uint32_t> out;
  uint64_t pos = 0;
  SplitMatch m;
  while (piece_splitter(h.rule_set)(bytes, text.size(), pos, &m)) {
    uint64_t end = m.end;
    if (m.drop_last) {
      // The match ends with the first byte of a character it leaves out.
      uint64_t p = end - 1;
      while (p > m.start && (bytes[p] & 0xC0) == 0x80) p--;
      end = p;
    }
    std::vector<uint32_t> piece = bpe_encode(*h.encoding, bytes + m.start, end - m.start);
    out.insert(out.end(), piece.begin(), piece.end());
    pos = end;
  }
  return out;
}

}  // namespace velkan

#endif  // VELKAN_TESTS_REFERENCE_IDS_H_
