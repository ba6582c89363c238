#include "presplit/block_classify.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VELKAN_BLOCK_X86 1
#include <immintrin.h>
#endif

namespace velkan {

void classify_block_scalar(const uint8_t* block, uint64_t n, BlockClasses* out) {
  *out = BlockClasses{};
  for (uint64_t i = 0; i < n; i++) {
    const uint8_t c = block[i];
    const uint64_t bit = uint64_t{1} << i;
    if (c >= 'A' && c <= 'Z') out->upper |= bit;
    if (c >= 'a' && c <= 'z') out->lower |= bit;
    if (c >= '0' && c <= '9') out->digit |= bit;
    if (c == ' ' || (c >= 0x09 && c <= 0x0D)) out->space |= bit;
    if (c == '\r' || c == '\n') out->brk |= bit;
    if (c == '/') out->slash |= bit;
    if (c >= 0x80) out->high |= bit;
  }
}

namespace {

#if VELKAN_BLOCK_X86

// Signed compares are enough: every range is ASCII, and bytes from 0x80 on
// are negative, so they fall below every lower bound.
[[gnu::target("avx2")]] inline uint64_t mask32(__m256i m) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(m));
}

[[gnu::target("avx2")]] inline __m256i in_range32(__m256i v, char lo, char hi) {
  return _mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8(static_cast<char>(lo - 1))),
                          _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(hi + 1)), v));
}

[[gnu::target("avx2")]] void classify_avx2(const uint8_t* block, BlockClasses* out) {
  BlockClasses c{};
  for (int half = 0; half < 2; half++) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32 * half));
    const int shift = 32 * half;
    const __m256i cr = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r'));
    const __m256i lf = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n'));
    const __m256i space =
        _mm256_or_si256(in_range32(v, 0x09, 0x0D), _mm256_cmpeq_epi8(v, _mm256_set1_epi8(' ')));
    c.upper |= mask32(in_range32(v, 'A', 'Z')) << shift;
    c.lower |= mask32(in_range32(v, 'a', 'z')) << shift;
    c.digit |= mask32(in_range32(v, '0', '9')) << shift;
    c.space |= mask32(space) << shift;
    c.brk |= mask32(_mm256_or_si256(cr, lf)) << shift;
    c.slash |= mask32(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('/'))) << shift;
    c.high |= mask32(v) << shift;
  }
  *out = c;
}

inline uint64_t mask16(__m128i m) { return static_cast<uint16_t>(_mm_movemask_epi8(m)); }

inline __m128i in_range16(__m128i v, char lo, char hi) {
  return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(lo - 1))),
                       _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(hi + 1)), v));
}

void classify_sse2(const uint8_t* block, BlockClasses* out) {
  BlockClasses c{};
  for (int quarter = 0; quarter < 4; quarter++) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * quarter));
    const int shift = 16 * quarter;
    const __m128i cr = _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'));
    const __m128i lf = _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'));
    const __m128i space =
        _mm_or_si128(in_range16(v, 0x09, 0x0D), _mm_cmpeq_epi8(v, _mm_set1_epi8(' ')));
    c.upper |= mask16(in_range16(v, 'A', 'Z')) << shift;
    c.lower |= mask16(in_range16(v, 'a', 'z')) << shift;
    c.digit |= mask16(in_range16(v, '0', '9')) << shift;
    c.space |= mask16(space) << shift;
    c.brk |= mask16(_mm_or_si128(cr, lf)) << shift;
    c.slash |= mask16(_mm_cmpeq_epi8(v, _mm_set1_epi8('/'))) << shift;
    c.high |= mask16(v) << shift;
  }
  *out = c;
}

using Classify = void (*)(const uint8_t*, BlockClasses*);

Classify pick_classify() {
  __builtin_cpu_init();  // may run before the library's own constructors
  return __builtin_cpu_supports("avx2") ? classify_avx2 : classify_sse2;
}

const Classify kClassify = pick_classify();

#endif  // VELKAN_BLOCK_X86

}  // namespace

void classify_block(const uint8_t* block, BlockClasses* out) {
#if VELKAN_BLOCK_X86
  kClassify(block, out);
#else
  classify_block_scalar(block, 64, out);
#endif
}

void classify_tail(const uint8_t* p, uint64_t n, BlockClasses* out) {
  // Zero bytes classify as none of the classes but "other", which the walk
  // never reads past n.
  uint8_t block[64] = {};
  std::memcpy(block, p, n);
  classify_block(block, out);
}

const char* classify_block_kind() {
#if VELKAN_BLOCK_X86
  return kClassify == classify_avx2 ? "avx2" : "sse2";
#else
  return "scalar";
#endif
}

}  // namespace velkan
