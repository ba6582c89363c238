#include "vocab/image_digest.h"

#include "blake3.h"

namespace velkan {

static_assert(BLAKE3_OUT_LEN == kImageDigestSize);

struct ImageDigester::State {
  blake3_hasher hasher;
};

ImageDigester::ImageDigester() : state_(std::make_unique<State>()) {
  blake3_hasher_init(&state_->hasher);
}

ImageDigester::~ImageDigester() = default;

void ImageDigester::update(const void* bytes, size_t size) {
  if (size != 0) blake3_hasher_update(&state_->hasher, bytes, size);
}

ImageDigest ImageDigester::finish() const {
  ImageDigest digest;
  blake3_hasher_finalize(&state_->hasher, digest.data(), digest.size());
  return digest;
}

ImageDigest image_digest(const uint8_t* bytes, size_t size) {
  ImageDigester digester;
  digester.update(bytes, size);
  return digester.finish();
}

std::string digest_to_hex(const ImageDigest& digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * digest.size());
  for (uint8_t byte : digest) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 15];
  }
  return hex;
}

std::optional<ImageDigest> digest_from_hex(std::string_view hex) {
  if (hex.size() != 2 * kImageDigestSize) return std::nullopt;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  ImageDigest digest;
  for (size_t i = 0; i < digest.size(); i++) {
    const int high = nibble(hex[2 * i]), low = nibble(hex[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    digest[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return digest;
}

}  // namespace velkan
