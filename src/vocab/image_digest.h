// The digest that recognises the image construction writes: BLAKE3-256 of the
// image's header and held part (third_party/blake3; image_held_size in
// image_layout.h). Only an image with the known digest of its vocabulary is
// loaded without the table checks, so the digest must be one nobody can steer
// to a chosen value: a forged image would otherwise load unchecked and give
// wrong ids or crash the encoder. The part after it, which no record loaded
// that way holds, is not read at all.

#ifndef VELKAN_VOCAB_IMAGE_DIGEST_H_
#define VELKAN_VOCAB_IMAGE_DIGEST_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velkan {

inline constexpr size_t kImageDigestSize = 32;
using ImageDigest = std::array<uint8_t, kImageDigestSize>;

// Feeds bytes in pieces of any size; the result equals image_digest over the
// whole.
class ImageDigester {
 public:
  ImageDigester();
  ~ImageDigester();
  ImageDigester(const ImageDigester&) = delete;
  ImageDigester& operator=(const ImageDigester&) = delete;

  void update(const void* bytes, size_t size);
  ImageDigest finish() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

ImageDigest image_digest(const uint8_t* bytes, size_t size);

// Lower-case hex, 64 characters, and back (nothing unless exactly that).
std::string digest_to_hex(const ImageDigest& digest);
std::optional<ImageDigest> digest_from_hex(std::string_view hex);

}  // namespace velkan

#endif  // VELKAN_VOCAB_IMAGE_DIGEST_H_
