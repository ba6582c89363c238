// Encoding bytes that may not be UTF-8 as tiktoken's Encoding._encode_bytes
// does: the longest UTF-8 prefix is encoded as text, and its last piece
// (with the whitespace-only tokens before it, when that piece begins with
// one) is encoded again as one piece together with the rest of the bytes.

#ifndef VELKAN_DRIVER_ENCODE_BYTES_H_
#define VELKAN_DRIVER_ENCODE_BYTES_H_

#include <cstdint>
#include <vector>

#include "driver/piecewise.h"
#include "vocab/encoding_handle.h"

namespace velkan {

// The length of the longest prefix of data that is well-formed UTF-8 (as
// Python's strict decoder reads it: no overlong forms, surrogates or values
// past U+10FFFF, and a sequence cut short by the end is not part of it).
uint64_t utf8_valid_prefix(const uint8_t* data, uint64_t length);

// The ids of data, as described above; piecewise_encode (which asks
// interrupt) when all of it is UTF-8.
std::vector<uint32_t> encode_bytes(const EncodingHandle& handle, const uint8_t* data,
                                   uint64_t length, const Interrupt* interrupt = nullptr);

}  // namespace velkan

#endif  // VELKAN_DRIVER_ENCODE_BYTES_H_
