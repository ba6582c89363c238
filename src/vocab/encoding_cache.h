// The process-wide cache of finished encodings, one EncodingHandle per
// vocabulary, made on first use from a precomputed image when one is offered
// and valid, else built from the embedded vocabulary. Never released.

#ifndef VELKAN_VOCAB_ENCODING_CACHE_H_
#define VELKAN_VOCAB_ENCODING_CACHE_H_

#include <cstdint>
#include <functional>
#include <optional>

#include "vocab/encoding_handle.h"
#include "vocab/image.h"

namespace velkan {

enum class Vocabulary { kCl100k, kO200k };

// Opens a file of the package directory by name; nothing when it is absent or
// unreadable.
using PackageFileOpener = std::function<std::optional<ImageFile>(const char* name)>;

// The image file name of a vocabulary: "precomputed_cl100k.bin" or
// "precomputed_o200k.bin".
const char* image_file_name(Vocabulary vocabulary);

// The digest of the image construction writes for the vocabulary; such an
// image loads without the table checks. A test keeps it in step.
ImageDigest known_image_digest(Vocabulary vocabulary);

// The cached handle, made on the first call. Callers serialise calls (the
// binding holds the interpreter lock). Throws std::bad_alloc when memory runs
// out; the slot then stays empty.
EncodingHandle* encoding_cache_get(Vocabulary vocabulary, const PackageFileOpener& open_file);

// Whether the vocabulary's slot is filled. Never builds anything.
bool encoding_cache_has(Vocabulary vocabulary);

}  // namespace velkan

#endif  // VELKAN_VOCAB_ENCODING_CACHE_H_
