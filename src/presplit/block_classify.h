// The ASCII classes of 64 bytes of text at once, as bit masks (bit i for the
// byte at i), for the block-wise walk over pieces (driver/piece_walk.h).
// x86-64 classifies with AVX2 where the processor has it and with SSE2
// otherwise (chosen once, at the first call); other processors byte by byte.

#ifndef VELKAN_PRESPLIT_BLOCK_CLASSIFY_H_
#define VELKAN_PRESPLIT_BLOCK_CLASSIFY_H_

#include <cstdint>

namespace velkan {

struct BlockClasses {
  uint64_t upper;  // A-Z
  uint64_t lower;  // a-z
  uint64_t digit;  // 0-9
  uint64_t space;  // ASCII White_Space: tab, LF, VT, FF, CR, space
  uint64_t brk;    // CR, LF
  uint64_t slash;  // '/'
  uint64_t high;   // bytes 0x80 and above: part of a non-ASCII character (or invalid)
};

// Classifies block[0, 64); all 64 bytes must be readable.
void classify_block(const uint8_t* block, BlockClasses* out);

// The same for the first n < 64 bytes of p; the bits from n on are zero.
void classify_tail(const uint8_t* p, uint64_t n, BlockClasses* out);

// Which implementation classify_block runs: "avx2", "sse2" or "scalar".
const char* classify_block_kind();

// Byte-by-byte classification, which the vector ones must equal (tests).
void classify_block_scalar(const uint8_t* block, uint64_t n, BlockClasses* out);

}  // namespace velkan

#endif  // VELKAN_PRESPLIT_BLOCK_CLASSIFY_H_
