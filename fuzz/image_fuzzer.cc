// The image loader on any bytes: it never crashes, and it either refuses the
// image or loads an encoding that encodes exactly like the built one. Images
// here are of a small vocabulary (the first kTokens tokens of cl100k_base, a
// complete byte-pair vocabulary of its own) so that a whole image is a
// practical fuzz input.
//
// Input: the first byte picks the form of the rest.
//   even: the rest is the image file as it is;
//   odd:  the rest is a list of patches to the good image, 8 bytes each: a
//         little-endian u32 offset (taken modulo the image size) and a u32
//         value written there (cut at the end of the image). Structural damage
//         that keeps the size is far more likely to get past the size check
//         this way.
// With VELKAN_FUZZ_WRITE_IMAGE to a path, the target writes the good image
// there in raw form (the seed corpus's image) and exits.

#include <cstring>
#include <fstream>
#include <string>

#include "core/automaton.h"
#include "core/encoder.h"
#include "fuzz_util.h"
#include "vocab/image.h"

namespace velkan::fuzz {
namespace {

constexpr uint32_t kTokens = 300;

const BytePairEncoding& small_encoding() {
  static BytePairEncodingPtr bpe = bpe_build(cl100k_token_bytes, cl100k_token_starts, kTokens);
  return *bpe;
}

const std::vector<uint8_t>& good_image() {
  static const std::vector<uint8_t> image = bpe_to_image(small_encoding());
  return image;
}

// Texts that use many of the small vocabulary's merges.
const char* const kSamples[] = {
    "    for (int i = 0; i < n; i++) {\n        return the interest;\n    }\n",
    "The station is on the other side; it is an art in itself.\n\n",
    "        self.assertEqual(result, expected)  # ==\n",
    "in an on at re st en or th le it ar al is ou ed es ing ion",
    "\xff\xfe\x00\x80 mixed \xc3\xa9 bytes \xe4\xb8\xad",
};

void check_encodes_like_built(const BytePairEncoding& loaded, const uint8_t* extra, size_t n) {
  const BytePairEncoding& built = small_encoding();
  auto same = [&](const uint8_t* text, size_t len) {
    const ExactCopy copy(text, len);
    FUZZ_CHECK(bpe_encode(loaded, copy.data(), len) == bpe_encode(built, copy.data(), len));
    FUZZ_CHECK(bpe_count(loaded, copy.data(), len) == bpe_count(built, copy.data(), len));
  };
  for (const char* s : kSamples) same(reinterpret_cast<const uint8_t*>(s), std::strlen(s));
  std::vector<uint8_t> all_bytes(256);
  for (int i = 0; i < 256; i++) all_bytes[ix(i)] = static_cast<uint8_t>(i);
  same(all_bytes.data(), all_bytes.size());
  same(extra, n < 512 ? n : 512);
  // Every token on its own, and every pair of the later ones: damage to the
  // prefix chain or the splits shows where the encoder must give up the
  // longest candidate.
  std::vector<uint8_t> text;
  for (uint32_t a = 0; a < kTokens; a++) {
    text.assign(built.token_data(a), built.token_data(a) + built.token_length(a));
    same(text.data(), text.size());
    if (a < kTokens - 100) continue;
    for (uint32_t b = kTokens - 100; b < kTokens; b++) {
      text.assign(built.token_data(a), built.token_data(a) + built.token_length(a));
      text.insert(text.end(), built.token_data(b), built.token_data(b) + built.token_length(b));
      same(text.data(), text.size());
    }
  }
  // The automaton gives the built one's answer after every token and any one
  // more byte, so a transition to a state of its own shows.
  for (uint32_t a = 0; a < kTokens; a++) {
    text.assign(built.token_data(a), built.token_data(a) + built.token_length(a));
    text.push_back(0);
    for (int b = 0; b < 256; b++) {
      text.back() = static_cast<uint8_t>(b);
      FUZZ_CHECK(bpe_next_match(loaded, text.data(), text.size()) ==
                 bpe_next_match(built, text.data(), text.size()));
    }
  }
}

}  // namespace
}  // namespace velkan::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* path = std::getenv("VELKAN_FUZZ_WRITE_IMAGE")) {
    const std::vector<uint8_t>& image = velkan::fuzz::good_image();
    std::ofstream out(path, std::ios::binary);
    out.put('\0');
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    std::exit(out ? 0 : 1);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velkan;
  using namespace velkan::fuzz;
  if (size == 0) return 0;
  std::vector<uint8_t> image;
  if ((data[0] & 1) == 0) {
    image.assign(data + 1, data + size);
  } else {
    image = good_image();
    for (size_t p = 1; p + 8 <= size; p += 8) {
      uint32_t offset, value;
      std::memcpy(&offset, data + p, 4);
      std::memcpy(&value, data + p + 4, 4);
      offset %= static_cast<uint32_t>(image.size());
      std::memcpy(image.data() + offset, &value, std::min<size_t>(4, image.size() - offset));
    }
  }
  // An exact-size block, so that a read past the image's end is caught.
  const ExactCopy file(image.data(), image.size());
  BytePairEncodingPtr loaded =
      bpe_from_image(cl100k_token_bytes, cl100k_token_starts, kTokens, file.data(), file.size);
  if (loaded) check_encodes_like_built(*loaded, data + 1, size - 1);
  return 0;
}
