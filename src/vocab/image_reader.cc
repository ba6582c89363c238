// Reading an image: the header, then the arrays in the order of
// image_layout.h, each read straight into the record (from memory or from a
// file), digested on the way when there is a known digest to compare. An
// image with the known digest of its vocabulary is the one construction
// writes and skips the table checks, and the part of the image no record
// queries (image_layout.h) is not even read; any other is read whole and
// checked in full. Its copy of the forward automaton is compared on the way
// and, as every writer makes it, not held.

#include <algorithm>
#include <cstring>
#include <memory>

#include "util/huge_pages.h"
#include "vocab/image.h"
#include "vocab/image_layout.h"

namespace velkan {
namespace {

// Image bytes in memory.
struct MemorySource {
  const uint8_t* data;
  size_t size;
  bool read(uint64_t offset, void* out, size_t n) const {
    if (offset > size || n > size - offset) return false;
    if (n != 0) std::memcpy(out, data + offset, n);
    return true;
  }
};

// Image bytes in a file, read straight into their destination.
struct FileSource {
  const ImageFile& file;
  bool read(uint64_t offset, void* out, size_t n) const {
    return image_file_read(file, offset, out, n);
  }
};

// A cursor over the image that reads its fields in order, digesting them on
// the way when there is a digest to compare. After a failed read every later
// read fails too.
template <typename Source>
struct Reader {
  Reader(const Source& from, bool digest_bytes) : source(from), digesting(digest_bytes) {}

  const Source& source;
  const bool digesting;
  uint64_t pos = 0;
  bool ok = true;
  ImageDigester digest;

  void read(void* out, size_t n) {
    ok = ok && source.read(pos, out, n);
    if (ok && digesting) digest.update(out, n);
    pos += n;
  }

  template <typename T>
  void field(T& value) {
    read(&value, sizeof(T));
  }

  template <typename T>
  void array(std::vector<T>& values, uint64_t count) {
    if (!ok) return;
    const size_t bytes = static_cast<size_t>(count) * sizeof(T);
    if (bytes >= HugePageBuffer::kHugePage) {
      // The large arrays go on huge pages (vocab/encoding_handle.cc): asked
      // for before the first write, they need no copy to collapse later.
      values.reserve(static_cast<size_t>(count));
      prefer_huge_pages(values.data(), bytes);
    }
    values.resize(static_cast<size_t>(count));
    if (count != 0) read(values.data(), bytes);
  }

  void unheld(TokenAutomaton& a) { visit_automaton_arrays(a, *this); }

  // An array that should equal one already read (the copy of the forward
  // automaton): compared with it a piece at a time and not held, so that
  // the copy costs no memory. At the first difference, and for every copy
  // array after it, it is held after all (copies_differ).
  template <typename T>
  void copy(std::vector<T>& values, const std::vector<T>& of, uint64_t count) {
    if (!ok) return;
    if (copies_differ || of.size() != count) {
      copies_differ = true;
      array(values, count);
      return;
    }
    const size_t total = static_cast<size_t>(count) * sizeof(T);
    const auto* expected = reinterpret_cast<const uint8_t*>(of.data());
    if (piece.empty()) piece.resize(size_t{1} << 16);
    for (size_t done = 0; done < total;) {
      const size_t n = std::min(piece.size(), total - done);
      read(piece.data(), n);
      if (!ok) return;
      if (std::memcmp(piece.data(), expected + done, n) != 0) {
        copies_differ = true;
        values.resize(static_cast<size_t>(count));
        auto* out = reinterpret_cast<uint8_t*>(values.data());
        std::memcpy(out, expected, done);
        std::memcpy(out + done, piece.data(), n);
        read(out + done + n, total - done - n);
        return;
      }
      done += n;
    }
  }

  bool copies_differ = false;
  std::vector<uint8_t> piece;
};

// After the body: a copy whose arrays all equal the forward ones is not
// held (alt_shares_forward); one that differs gets the arrays it was not
// given, since they equal the forward ones.
void settle_forward_copy(BytePairEncoding& bpe, bool copies_differ) {
  TokenAutomaton& alt = bpe.forward_automaton_alt;
  const TokenAutomaton& forward = bpe.forward_automaton;
  if (!copies_differ) {
    bpe.alt_shares_forward = true;
    return;
  }
  const auto states = static_cast<size_t>(alt.state_count);
  if (alt.states.size() != states) alt.states = forward.states;
  if (alt.outputs.size() != static_cast<size_t>(alt.output_count)) alt.outputs = forward.outputs;
  if (alt.base.size() != states) alt.base = forward.base;
  if (alt.check.size() != states) alt.check = forward.check;
}

template <typename Source>
BytePairEncodingPtr load_image(const uint8_t* token_bytes, const uint32_t* token_starts,
                               uint32_t num_tokens, const Source& source, uint64_t size,
                               const ImageDigest& known) {
  if (size < kImageHeaderSize) return nullptr;
  // An all-zero digest is never known: nothing to compare, nothing to digest.
  const bool have_known = known != ImageDigest{};
  Reader<Source> r(source, have_known);
  auto bpe = std::make_unique<BytePairEncoding>();
  visit_image_header(*bpe, r);
  if (!r.ok || bpe->num_tokens != num_tokens) return nullptr;
  for (TokenAutomaton* a :
       {&bpe->forward_automaton, &bpe->forward_automaton_alt, &bpe->reverse_automaton}) {
    if (a->state_count < 0 || a->output_count < 0) return nullptr;
    a->size = a->state_count;  // the image holds one count for both
  }
  // Only then are the arrays allocated: a header that lies about the length
  // costs nothing.
  if (image_size(*bpe) != size) return nullptr;

  const uint32_t n = num_tokens;
  bpe->token_bytes.assign(token_bytes, token_bytes + token_starts[n]);
  bpe->token_starts.assign(token_starts, token_starts + n + 1);
  // With a known digest to compare, the held part is read first: an image
  // that has it is the one construction writes and needs neither the
  // unheld part nor the table checks (checking costs more than loading).
  visit_image_held(*bpe, r);
  if (!r.ok) return nullptr;
  if (have_known && r.digest.finish() == known) {
    bpe->alt_shares_forward = true;
    bpe->reverse_held = false;
    return bpe;
  }
  Reader<Source> rest(source, false);
  rest.pos = r.pos;
  visit_image_unheld(*bpe, rest);
  if (!rest.ok) return nullptr;
  settle_forward_copy(*bpe, rest.copies_differ);
  if (!bpe_check_tables(*bpe)) return nullptr;
  return bpe;
}

}  // namespace

BytePairEncodingPtr bpe_from_image(const uint8_t* token_bytes, const uint32_t* token_starts,
                                   uint32_t num_tokens, const uint8_t* image, size_t size) {
  return bpe_from_image(token_bytes, token_starts, num_tokens, image, size, ImageDigest{});
}

BytePairEncodingPtr bpe_from_image(const uint8_t* token_bytes, const uint32_t* token_starts,
                                   uint32_t num_tokens, const uint8_t* image, size_t size,
                                   const ImageDigest& known) {
  return load_image(token_bytes, token_starts, num_tokens, MemorySource{image, size}, size, known);
}

BytePairEncodingPtr bpe_from_image_file(const uint8_t* token_bytes, const uint32_t* token_starts,
                                        uint32_t num_tokens, const ImageFile& file,
                                        const ImageDigest& known) {
  return load_image(token_bytes, token_starts, num_tokens, FileSource{file}, file.size, known);
}

}  // namespace velkan
