// Precomputed images: every derived table of a finished encoding written as it
// lies in memory (the layout is in image_layout.h), so that loading a
// vocabulary costs copies instead of construction. Writer: image_writer.cc;
// readers: image_reader.cc; checks: image_check.cc; files: image_file.cc;
// digest: image_digest.h.

#ifndef VELKAN_VOCAB_IMAGE_H_
#define VELKAN_VOCAB_IMAGE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/encoding.h"
#include "core/pair_table.h"
#include "vocab/image_digest.h"
#include "vocab/image_layout.h"

namespace velkan {

// The image of an encoding. Token bytes and starts are not part of it: a
// loader takes them from the embedded vocabulary.
std::vector<uint8_t> bpe_to_image(const BytePairEncoding& bpe);

// Loads an image over the given token list (the embedded vocabulary of
// num_tokens tokens). Trusts nothing: returns null when the image's length
// differs from what its header implies, its token count differs from
// num_tokens, or any table fails the checks of bpe_check_tables. A null result
// means: build the encoding instead.
BytePairEncodingPtr bpe_from_image(const uint8_t* token_bytes, const uint32_t* token_starts,
                                   uint32_t num_tokens, const uint8_t* image, size_t size);

// bpe_from_image, but an image whose digest is known is taken without the
// table checks: its bytes are those construction writes for this vocabulary,
// which the tests pin. Any other image is checked in full.
BytePairEncodingPtr bpe_from_image(const uint8_t* token_bytes, const uint32_t* token_starts,
                                   uint32_t num_tokens, const uint8_t* image, size_t size,
                                   const ImageDigest& known);

// Checks that every index a lookup or the encoder follows stays in range and
// every walk ends (fail links shorten, output lists and prefix chains
// descend), and that the tables agree with the token bytes: index hashes,
// split concatenations, pair entries, and that the automaton spells every
// token and reports no other; and that the prefix chain and the splits are
// exactly what construction makes, since other consistent tables would give
// wrong ids, and the byte order too. Returns false at the first violation.
bool bpe_check_tables(const BytePairEncoding& bpe);

// An image file opened for loading. Its arrays are read straight into the
// record, with no copy of the whole file in between. Closed on destruction.
struct ImageFile {
  int fd = -1;
  uint64_t size = 0;  // at open

  ImageFile() = default;
  ImageFile(ImageFile&& other) noexcept;
  ImageFile& operator=(ImageFile&&) = delete;
  ~ImageFile();
};

// The file opened, or nothing when it is not a regular file, cannot be
// opened, is empty, or is 2 GiB or larger.
std::optional<ImageFile> open_image_file(const std::string& path);

// Reads n bytes at offset; false when they are not all there.
bool image_file_read(const ImageFile& file, uint64_t offset, void* out, size_t n);

// bpe_from_image(..., known) over an open file.
BytePairEncodingPtr bpe_from_image_file(const uint8_t* token_bytes, const uint32_t* token_starts,
                                        uint32_t num_tokens, const ImageFile& file,
                                        const ImageDigest& known);

}  // namespace velkan

#endif  // VELKAN_VOCAB_IMAGE_H_
