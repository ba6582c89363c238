#include "vocab/encoding_cache.h"

#include <memory>

#include "core/build.h"
#include "presplit/split_cl100k.h"
#include "presplit/split_o200k.h"
#include "vocab/embedded.h"
#include "vocab/image.h"

namespace velkan {
namespace {

// The two cache slots: set once, never cleared, never freed.
EncodingHandle* cl100k_handle = nullptr;
EncodingHandle* o200k_handle = nullptr;

struct VocabularySource {
  EncodingHandle** slot;
  const char* image_name;
  const uint8_t* token_bytes;
  const uint32_t* token_starts;
  uint32_t num_tokens;
  PieceSplitter splitter;
  ImageDigest image_digest;  // of the image construction writes
};

VocabularySource source_of(Vocabulary vocabulary) {
  if (vocabulary == Vocabulary::kCl100k) {
    return {&cl100k_handle, "precomputed_cl100k.bin", cl100k_token_bytes, cl100k_token_starts,
            kCl100kTokens, split_cl100k, *digest_from_hex("6cc44f1a971d9386ac8f3258c60896479430d692aa0cf6c5b44a138c512aa0a4")};
  }
  return {&o200k_handle, "precomputed_o200k.bin", o200k_token_bytes, o200k_token_starts,
          kO200kTokens, split_o200k, *digest_from_hex("8f9848f33bf0b3b101296138374284198116011bb11d61f7c1a2fc2e24e4616a")};
}

}  // namespace

const char* image_file_name(Vocabulary vocabulary) { return source_of(vocabulary).image_name; }

ImageDigest known_image_digest(Vocabulary vocabulary) { return source_of(vocabulary).image_digest; }

EncodingHandle* encoding_cache_get(Vocabulary vocabulary, const PackageFileOpener& open_file) {
  const VocabularySource src = source_of(vocabulary);
  if (*src.slot != nullptr) return *src.slot;

  BytePairEncodingPtr encoding;
  if (std::optional<ImageFile> image = open_file(src.image_name)) {
    // An image that does not fit this vocabulary exactly is ignored.
    encoding = bpe_from_image_file(src.token_bytes, src.token_starts, src.num_tokens, *image,
                                   src.image_digest);
  }
  if (!encoding) encoding = bpe_build(src.token_bytes, src.token_starts, src.num_tokens);

  auto handle = std::make_unique<EncodingHandle>();
  handle->encoding = encoding.release();
  handle->splitter = src.splitter;
  handle->pair_filter = pair_filter_build(handle->encoding->pair_table);
  *src.slot = handle.release();
  return *src.slot;
}

bool encoding_cache_has(Vocabulary vocabulary) { return *source_of(vocabulary).slot != nullptr; }

}  // namespace velkan
