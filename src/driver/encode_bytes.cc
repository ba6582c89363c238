#include "driver/encode_bytes.h"

#include <cstring>

#include "core/encoder.h"
#include "driver/piece_ids.h"
#include "driver/piece_walk.h"

namespace velkan {
namespace {

// Bytes b" \n\t" only: the tokens that tiktoken hands over to the unstable
// tail when the last piece begins with one.
bool all_space(const BytePairEncoding& bpe, uint32_t id) {
  const uint8_t* p = bpe.token_data(id);
  for (uint32_t i = 0, n = bpe.token_length(id); i < n; i++) {
    if (p[i] != ' ' && p[i] != '\n' && p[i] != '\t') return false;
  }
  return true;
}

}  // namespace

uint64_t utf8_valid_prefix(const uint8_t* data, uint64_t length) {
  uint64_t i = 0;
  while (i < length) {
    if (length - i >= 8) {
      uint64_t word;
      std::memcpy(&word, data + i, 8);
      if ((word & 0x8080808080808080ULL) == 0) {
        i += 8;
        continue;
      }
    }
    const uint8_t b = data[i];
    if (b < 0x80) {
      i++;
      continue;
    }
    // The well-formed sequences (Unicode's table 3-7): the lead byte fixes
    // the length and the range of the second byte.
    uint64_t n;
    uint8_t lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      n = 3;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      n = 4;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      return i;
    }
    if (length - i < n || data[i + 1] < lo || data[i + 1] > hi) return i;
    for (uint64_t k = 2; k < n; k++) {
      if ((data[i + k] & 0xC0) != 0x80) return i;
    }
    i += n;
  }
  return length;
}

std::vector<uint32_t> encode_bytes(const EncodingHandle& handle, const uint8_t* data,
                                   uint64_t length, const Interrupt* interrupt) {
  const uint64_t valid = utf8_valid_prefix(data, length);
  if (valid == length) return piecewise_encode(handle, data, length, interrupt);
  const BytePairEncoding& bpe = *handle.encoding;
  std::vector<uint32_t> ids;
  uint64_t last = 0;  // ids of the prefix's last piece
  if (handle.rule_set == RuleSet::kWhole) {
    ids = bpe_encode(bpe, data, valid);
    last = ids.size();
  } else {
    PieceIds<true> encoder(handle);
    for_each_piece(handle, data, valid, [&](uint64_t start, uint64_t end) {
      encoder.encode(data + start, end - start, valid - start,
                     [&](const uint32_t* piece, uint64_t n) {
                       ids.insert(ids.end(), piece, piece + n);
                       last = n;
                     });
      return true;
    });
  }
  if (last > 0 && all_space(bpe, ids[ids.size() - last])) {
    while (last < ids.size() && all_space(bpe, ids[ids.size() - last - 1])) last++;
  }
  std::vector<uint8_t> tail;
  if (last > 0) {
    const uint32_t* from = ids.data() + ids.size() - last;
    // Ids the encoder gave are tokens, so the length is known.
    tail.resize(static_cast<size_t>(*bpe_decoded_length(bpe, from, last)));
    bpe_decode_into(bpe, from, last, tail.data());
    ids.resize(ids.size() - last);
  }
  tail.insert(tail.end(), data + valid, data + length);
  const std::vector<uint32_t> rest = bpe_encode(bpe, tail.data(), tail.size());
  ids.insert(ids.end(), rest.begin(), rest.end());
  return ids;
}

}  // namespace velkan
