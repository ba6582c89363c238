// Precomputed images: a written image loads back to an equal record, and
// damaged or foreign images are refused rather than trusted.

#include "vocab/image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "core/build.h"
#include "embedded_encodings.h"
#include "vocab/encoding_handle.h"
#include "vocab/image_layout.h"
#include "vocab/registry.h"

namespace velkan {
namespace {

const uint8_t* bytes_of(bool o200k) { return o200k ? o200k_token_bytes : cl100k_token_bytes; }
const uint32_t* starts_of(bool o200k) { return o200k ? o200k_token_starts : cl100k_token_starts; }
uint32_t count_of(bool o200k) { return o200k ? kO200kTokens : kCl100kTokens; }
const ImageDigest& known_digest(bool o200k) {
  return vocabularies()[static_cast<size_t>(find_vocabulary(o200k ? "o200k_base" : "cl100k_base"))]
      .image_digest;
}

BytePairEncodingPtr load(bool o200k, const std::vector<uint8_t>& image) {
  return bpe_from_image(bytes_of(o200k), starts_of(o200k), count_of(o200k), image.data(),
                        image.size());
}

// Through the loader the encoding cache uses, which skips the checks for the
// image construction writes.
BytePairEncodingPtr load_known(bool o200k, const std::vector<uint8_t>& image) {
  return bpe_from_image(bytes_of(o200k), starts_of(o200k), count_of(o200k), image.data(),
                        image.size(), known_digest(o200k));
}

const std::vector<uint8_t>& image_of(bool o200k) {
  if (o200k) {
    static const std::vector<uint8_t> o = bpe_to_image(embedded_encoding(true));
    return o;
  }
  static const std::vector<uint8_t> cl = bpe_to_image(embedded_encoding(false));
  return cl;
}

class Image : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Vocabularies, Image, ::testing::Values(false, true),
                         [](const auto& param_info) {
                           return param_info.param ? "o200k" : "cl100k";
                         });

TEST_P(Image, BuiltRecordPassesTheChecks) {
  EXPECT_TRUE(bpe_check_tables(embedded_encoding(GetParam())));
}

// The digest the cache trusts is that of the image construction writes now,
// up to the part no loaded record holds.
TEST_P(Image, KnownDigestIsTheBuiltImages) {
  const std::vector<uint8_t>& image = image_of(GetParam());
  const uint64_t held = image_held_size(embedded_encoding(GetParam()));
  ASSERT_LT(held, image.size());
  EXPECT_EQ(digest_to_hex(image_digest(image.data(), static_cast<size_t>(held))),
            digest_to_hex(known_digest(GetParam())))
      << "construction changed its output: update the image digest in the vocabulary table";
}

// A build that leaves the forward automaton to its first use writes the
// same image (the write compiles it), and the handle made over it before
// then has the eager one's small-merge tables (read from the token index).
TEST_P(Image, LazyBuildWritesTheSameImage) {
  BytePairEncodingPtr lazy =
      bpe_build(bytes_of(GetParam()), starts_of(GetParam()), count_of(GetParam()),
                BuildAutomata::kAll, ForwardCompile::kAtFirstUse);
  ASSERT_FALSE(lazy->forward_ready.load());
  EncodingHandle lazy_handle, eager_handle;
  lazy_handle.encoding = lazy.get();
  eager_handle.encoding = &embedded_encoding(GetParam());
  handle_finish(lazy_handle);
  handle_finish(eager_handle);
  EXPECT_FALSE(lazy->forward_ready.load());  // the handle did not need it
  EXPECT_EQ(lazy_handle.small_merge_max, eager_handle.small_merge_max);
  EXPECT_EQ(lazy_handle.byte_pairs, eager_handle.byte_pairs);
  EXPECT_EQ(bpe_to_image(*lazy), image_of(GetParam()));
}

TEST_P(Image, LoadsBackToAnEqualRecord) {
  const BytePairEncoding& built = embedded_encoding(GetParam());
  for (auto loader : {load, load_known}) {
    BytePairEncodingPtr loaded = loader(GetParam(), image_of(GetParam()));
    ASSERT_NE(loaded, nullptr);
    // Writing the loaded record gives the same bytes: every table survived.
    EXPECT_EQ(bpe_to_image(*loaded), image_of(GetParam()));
    EXPECT_EQ(loaded->token_bytes, built.token_bytes);
    EXPECT_EQ(loaded->token_starts, built.token_starts);
    EXPECT_EQ(loaded->forward_automaton.size, loaded->forward_automaton.state_count);
    // The known image's reverse automaton is not even read; written
    // out, it is compiled again byte for byte. Any other image's is checked
    // and held.
    const TokenAutomaton& reverse = loaded->reverse_automaton;
    EXPECT_EQ(loaded->reverse_held, loader == load);
    EXPECT_EQ(reverse.states.empty() && reverse.base.empty() && reverse.outputs.empty(),
              loader == load_known);
    EXPECT_EQ(reverse.state_count, built.reverse_automaton.state_count);
  }
}

TEST_P(Image, RefusesDamage) {
  const std::vector<uint8_t>& good = image_of(GetParam());
  auto with = [&](size_t offset, uint32_t value) {
    std::vector<uint8_t> image = good;
    std::memcpy(image.data() + offset, &value, 4);
    return image;
  };
  const size_t n = count_of(GetParam());
  const size_t body = kImageHeaderSize;
  std::vector<std::vector<uint8_t>> damaged = {
      std::vector<uint8_t>(good.begin(), good.end() - 1),  // truncated
      [&] {
        auto i = good;
        i.push_back(0);
        return i;
      }(),                                                    // padded
      std::vector<uint8_t>(good.begin(), good.begin() + 64),  // header only
      {},                                                     // empty
      with(0, static_cast<uint32_t>(n + 1)),                  // token count
      with(12, 1u << 30),                                     // index capacity
      with(body + 4 * 1000, 0xFFFFFFF0u),                     // split out of range
      with(body + 4 * 1000, 999),                             // split that spells another token
      with(body + 8 * n + 4 * 300, 299),                      // next_prefix not a prefix
      with(body + 12 * n + 4 * 500, 0xFFFFFFF0u),             // byte order out of range
  };
  for (size_t i = 0; i < damaged.size(); i++) {
    EXPECT_EQ(load(GetParam(), damaged[i]), nullptr) << "case " << i;
    EXPECT_EQ(load_known(GetParam(), damaged[i]), nullptr) << "case " << i;
  }
  // Damage in the part no loaded record holds is refused by the checks; the
  // known image's digest does not cover it and its loader does not read it,
  // so it loads as the undamaged image, which it also writes.
  for (const std::vector<uint8_t>& image : {with(good.size() - 4, 0x7FFFFFF0u),  // reverse check
                                            with(good.size() - 8 * 1000, 5)}) {  // reverse base
    EXPECT_EQ(load(GetParam(), image), nullptr);
    BytePairEncodingPtr bpe = load_known(GetParam(), image);
    ASSERT_NE(bpe, nullptr);
    EXPECT_EQ(bpe_to_image(*bpe), good);
  }
}

// Tables that are consistent in themselves (every index in range, every
// split spelling its token) but not the ones construction makes. Each once
// passed the checks: the first three gave wrong ids, the stray state made the
// encoder read past the end of its input.
TEST_P(Image, RefusesConsistentButWrongTables) {
  const BytePairEncoding& built = embedded_encoding(GetParam());
  auto loaded = [&] { return load(GetParam(), image_of(GetParam())); };

  // A token whose prefix chain has two links.
  uint32_t chained = 256;
  while (built.next_prefix[ix(chained)] == -1 ||
         built.next_prefix[ix(built.next_prefix[ix(chained)])] == -1) {
    chained++;
  }
  {
    BytePairEncodingPtr bpe = loaded();
    bpe->next_prefix[chained] = -1;  // no prefix at all
    EXPECT_FALSE(bpe_check_tables(*bpe));
  }
  {
    BytePairEncodingPtr bpe = loaded();
    bpe->next_prefix[ix(chained)] =
        bpe->next_prefix[ix(bpe->next_prefix[ix(chained)])];  // a shorter one
    EXPECT_FALSE(bpe_check_tables(*bpe));
  }
  {
    // Another split that spells the token from two older tokens, with the
    // pair table rebuilt to match.
    BytePairEncodingPtr bpe = loaded();
    bool swapped = false;
    for (uint32_t i = 256; i < bpe->num_tokens && !swapped; i++) {
      const uint32_t length = bpe->token_length(i);
      if (bpe->split_left[i] == i) continue;
      for (uint32_t cut = 1; cut < length && !swapped; cut++) {
        if (cut == bpe->token_length(bpe->split_left[i])) continue;
        const uint8_t* bytes = bpe->token_data(i);
        const int32_t l = token_index_find(bpe->token_index, bpe->token_bytes.data(),
                                           bpe->token_starts.data(), bpe->hash_factor, bytes, cut);
        const int32_t r =
            token_index_find(bpe->token_index, bpe->token_bytes.data(), bpe->token_starts.data(),
                             bpe->hash_factor, bytes + cut, length - cut);
        if (l < 0 || r < 0 || static_cast<uint32_t>(l) >= i || static_cast<uint32_t>(r) >= i)
          continue;
        bpe->split_left[i] = static_cast<uint32_t>(l);
        bpe->split_right[i] = static_cast<uint32_t>(r);
        swapped = true;
      }
    }
    ASSERT_TRUE(swapped);
    bpe->pair_table = pair_table_new(bpe->pair_table.capacity);
    for (uint32_t i = 0; i < bpe->num_tokens; i++) {
      if (bpe->split_left[i] != i)
        pair_table_insert(bpe->pair_table, bpe->split_left[i], bpe->split_right[i], i);
    }
    EXPECT_FALSE(bpe_check_tables(*bpe));
  }
  {
    // A stray state: a free slot made the child of a real state, claiming
    // the longest token.
    BytePairEncodingPtr bpe = loaded();
    TokenAutomaton& a = bpe->forward_automaton;
    uint32_t longest = 0;
    for (uint32_t i = 0; i < bpe->num_tokens; i++) {
      if (bpe->token_length(i) > bpe->token_length(longest)) longest = i;
    }
    int32_t s = 0, t = -1;
    for (s = 1; s < a.size && t < 0; s++) {
      if (a.check[ix(s)] < 0) continue;
      for (int b = 0; b < 256 && t < 0; b++) {
        if (a.check[ix(a.base[ix(s)] + b)] == -1 && a.base[ix(s)] + b != 0) t = a.base[ix(s)] + b;
      }
    }
    ASSERT_GE(t, 0);
    s--;
    a.check[ix(t)] = s;
    a.states[ix(t)] =
        AutomatonState{0, 0, static_cast<int32_t>(longest), a.states[ix(s)].depth + 1};
    EXPECT_FALSE(bpe_check_tables(*bpe));
  }
  {
    // Two neighbours in the byte order swapped, or one id in place of
    // another: every id still in range.
    BytePairEncodingPtr bpe = loaded();
    std::swap(bpe->byte_order[700], bpe->byte_order[701]);
    EXPECT_FALSE(bpe_check_tables(*bpe));
    std::swap(bpe->byte_order[700], bpe->byte_order[701]);
    bpe->byte_order[700] = bpe->byte_order[701];
    EXPECT_FALSE(bpe_check_tables(*bpe));
  }
  EXPECT_TRUE(bpe_check_tables(*loaded()));  // the undamaged copy still passes
}

// The kind 1 automaton is checked by comparison with kind 0 when its arrays
// are equal, and in full otherwise: either way a wrong one is refused.
TEST_P(Image, ChecksTheSecondForwardAutomaton) {
  // Loaded as every writer makes it, the copy is not held; here it is.
  auto loaded = [&] {
    BytePairEncodingPtr bpe = load(GetParam(), image_of(GetParam()));
    const int32_t kind = bpe->forward_automaton_alt.kind;
    bpe->forward_automaton_alt = bpe->forward_automaton;
    bpe->forward_automaton_alt.kind = kind;
    bpe->alt_shares_forward = false;
    return bpe;
  };
  {
    BytePairEncodingPtr bpe = loaded();
    bpe->forward_automaton_alt.kind = 0;  // equal arrays, wrong kind
    EXPECT_FALSE(bpe_check_tables(*bpe));
  }
  {
    BytePairEncodingPtr bpe = load(GetParam(), image_of(GetParam()));
    bpe->forward_automaton_alt.kind = 0;  // not held, wrong kind
    EXPECT_FALSE(bpe_check_tables(*bpe));
  }
  {
    BytePairEncodingPtr bpe = loaded();
    TokenAutomaton& alt = bpe->forward_automaton_alt;
    int32_t s = 1;
    while (alt.states[ix(s)].value == -1) s++;
    alt.states[ix(s)].value = -1;  // a token no longer spelled
    EXPECT_FALSE(bpe_check_tables(*bpe));
  }
  {
    BytePairEncodingPtr bpe = loaded();
    bpe->forward_automaton_alt.base[0] = bpe->forward_automaton_alt.size;  // out of range
    EXPECT_FALSE(bpe_check_tables(*bpe));
  }
  EXPECT_TRUE(bpe_check_tables(*loaded()));
}

// Where the arrays of the copy of the forward automaton start in an image
// (states, outputs, base, check).
struct CopyOffsets {
  uint64_t at = 0;
  std::vector<size_t> copies;
  template <typename T>
  void field(const T&) {
    at += sizeof(T);
  }
  template <typename T>
  void array(const std::vector<T>&, uint64_t count) {
    at += count * sizeof(T);
  }
  template <typename T>
  void copy(const std::vector<T>&, const std::vector<T>&, uint64_t count) {
    copies.push_back(static_cast<size_t>(at));
    at += count * sizeof(T);
  }
  void unheld(const TokenAutomaton& a) { visit_automaton_arrays(a, *this); }
};

// The reader compares the copy with the forward automaton instead of
// holding it; a copy that differs anywhere is held whole, and checked in
// full: a valid one loads back to the image it came from, a wrong one is
// refused.
TEST_P(Image, SecondForwardAutomatonIsComparedNotHeld) {
  const std::vector<uint8_t>& good = image_of(GetParam());
  CopyOffsets where;
  visit_image_header(embedded_encoding(GetParam()), where);
  visit_image_body(embedded_encoding(GetParam()), where);
  ASSERT_EQ(where.copies.size(), 4u);
  for (auto loader : {load, load_known}) {
    BytePairEncodingPtr bpe = loader(GetParam(), good);
    ASSERT_NE(bpe, nullptr);
    const TokenAutomaton& alt = bpe->forward_automaton_alt;
    EXPECT_TRUE(bpe->alt_shares_forward);
    EXPECT_TRUE(alt.states.empty() && alt.outputs.empty() && alt.base.empty() && alt.check.empty());
  }

  // A free slot's base is read by no transition, so another value is a
  // valid copy that differs: near the start, in the middle, at the end.
  const TokenAutomaton& forward = embedded_encoding(GetParam()).forward_automaton;
  std::vector<int32_t> free_slots;
  for (int32_t s = 1; s < forward.size; s++) {
    if (forward.check[ix(s)] == -1 && forward.base[ix(s)] < forward.size - 256)
      free_slots.push_back(s);
  }
  ASSERT_GT(free_slots.size(), 3u);
  for (int32_t s : {free_slots.front(), free_slots[free_slots.size() / 2], free_slots.back()}) {
    std::vector<uint8_t> image = good;
    const int32_t moved = forward.base[ix(s)] + 1;
    std::memcpy(image.data() + where.copies[2] + 4 * ix(s), &moved, 4);
    BytePairEncodingPtr bpe = load(GetParam(), image);
    ASSERT_NE(bpe, nullptr) << "slot " << s;
    const TokenAutomaton& alt = bpe->forward_automaton_alt;
    EXPECT_FALSE(bpe->alt_shares_forward);
    EXPECT_EQ(alt.base[ix(s)], moved);
    EXPECT_EQ(alt.check, forward.check);
    ASSERT_EQ(alt.states.size(), forward.states.size());
    ASSERT_EQ(alt.outputs.size(), forward.outputs.size());
    EXPECT_EQ(std::memcmp(alt.states.data(), forward.states.data(),
                          alt.states.size() * sizeof(AutomatonState)),
              0);
    EXPECT_EQ(std::memcmp(alt.outputs.data(), forward.outputs.data(),
                          alt.outputs.size() * sizeof(AutomatonOutput)),
              0);
    EXPECT_EQ(bpe_to_image(*bpe), image) << "slot " << s;
  }

  // The first value of each array made wrong: a first state that fails,
  // a first output that is not zero, bases and checks out of range. The
  // known image's loader reads none of it (see RefusesDamage).
  for (size_t k = 0; k < 4; k++) {
    std::vector<uint8_t> image = good;
    const uint32_t wrong = 0x7FFFFFF0u;
    std::memcpy(image.data() + where.copies[k], &wrong, 4);
    EXPECT_EQ(load(GetParam(), image), nullptr) << "array " << k;
    BytePairEncodingPtr bpe = load_known(GetParam(), image);
    ASSERT_NE(bpe, nullptr) << "array " << k;
    EXPECT_TRUE(bpe->alt_shares_forward && !bpe->reverse_held);
  }
}

// The 128-bit multiply-rotate digest images were once recognised by. Every
// round of it can be run backwards, which is how images were forged.
namespace weak {
constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
using Lanes = std::array<uint64_t, 4>;

uint64_t round(uint64_t lane, uint64_t word) {
  return std::rotl(lane + word * kPrime2, 31) * kPrime1;
}

uint64_t word_at(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// The lanes after the first `blocks` 32-byte blocks.
Lanes lanes_after(const std::vector<uint8_t>& bytes, size_t blocks) {
  Lanes lanes = {kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1};
  for (size_t b = 0; b < blocks; b++) {
    for (int i = 0; i < 4; i++)
      lanes[ix(i)] = round(lanes[ix(i)], word_at(bytes.data() + 32 * b + 8 * i));
  }
  return lanes;
}

uint64_t avalanche(uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDULL;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ULL;
  return x ^ (x >> 33);
}

std::array<uint64_t, 2> digest(const std::vector<uint8_t>& bytes) {
  const uint64_t total = bytes.size();
  Lanes lanes = lanes_after(bytes, bytes.size() / 32);
  uint8_t tail[32] = {};
  std::memcpy(tail, bytes.data() + bytes.size() / 32 * 32, bytes.size() % 32);
  for (int i = 0; i < 4; i++) lanes[ix(i)] = round(lanes[ix(i)], word_at(tail + 8 * i) ^ total);
  uint64_t low = total, high = ~total;
  for (int i = 0; i < 4; i++) {
    low = round(low, lanes[ix(i)]);
    high = round(high, lanes[ix(3 - i)]);
  }
  return {avalanche(low), avalanche(high ^ low)};
}

uint64_t inverse(uint64_t odd) {
  uint64_t x = odd;  // Newton's iteration doubles the correct low bits each step
  for (int i = 0; i < 6; i++) x *= 2 - odd * x;
  return x;
}

// The word that takes a lane from `before` to `after` in one round.
uint64_t solve(uint64_t before, uint64_t after) {
  return (std::rotr(after * inverse(kPrime1), 31) - before) * inverse(kPrime2);
}
}  // namespace weak

// An image forged against the weak digest: two token ids swapped in the token
// index (wrong ids for both tokens), then the last whole 32-byte block solved
// backwards so that every lane, and so the weak digest, is as before. The
// loader must not take it for the image construction writes.
TEST_P(Image, ForgedImageIsCheckedInFull) {
  const std::vector<uint8_t>& good = image_of(GetParam());
  std::vector<uint8_t> forged = good;
  const size_t index_at = kImageHeaderSize + 12 * static_cast<size_t>(count_of(GetParam()));
  std::vector<size_t> occupied;  // offsets of the token field of used index slots
  for (size_t at = index_at; occupied.size() < 2; at += 8) {
    int32_t token;
    std::memcpy(&token, good.data() + at + 4, 4);
    if (token >= 0) occupied.push_back(at + 4);
  }
  std::swap_ranges(forged.begin() + static_cast<ptrdiff_t>(occupied[0]),
                   forged.begin() + static_cast<ptrdiff_t>(occupied[0]) + 4,
                   forged.begin() + static_cast<ptrdiff_t>(occupied[1]));
  const size_t last = good.size() / 32 - 1;
  const weak::Lanes before = weak::lanes_after(forged, last);
  const weak::Lanes target = weak::lanes_after(good, last + 1);
  for (int i = 0; i < 4; i++) {
    const uint64_t word = weak::solve(before[ix(i)], target[ix(i)]);
    std::memcpy(forged.data() + 32 * last + 8 * i, &word, 8);
  }
  ASSERT_NE(forged, good);
  ASSERT_EQ(weak::digest(forged), weak::digest(good)) << "the forgery no longer works";

  EXPECT_NE(image_digest(forged.data(), forged.size()), image_digest(good.data(), good.size()));
  EXPECT_EQ(load_known(GetParam(), forged), nullptr);
  EXPECT_EQ(load(GetParam(), forged), nullptr);
}

TEST(Image, ForeignVocabularyIsRefused) {
  // The cl100k image over the o200k tokens: the token count differs.
  EXPECT_EQ(load(true, image_of(false)), nullptr);
}

TEST(ImageFile, OnlyRegularFilesWithContent) {
  char dir_template[] = "/tmp/velkan_read_XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
  const std::string regular = dir + "/regular", empty = dir + "/empty", fifo = dir + "/fifo";
  std::FILE* f = std::fopen(regular.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("abc", f);
  std::fclose(f);
  std::fclose(std::fopen(empty.c_str(), "wb"));
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

  std::optional<ImageFile> file = open_image_file(regular);
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(file->size, 3u);
  char got[4] = {};
  EXPECT_TRUE(image_file_read(*file, 1, got, 2));
  EXPECT_STREQ(got, "bc");
  EXPECT_FALSE(image_file_read(*file, 2, got, 2));  // past the end
  EXPECT_FALSE(image_file_read(*file, UINT64_MAX, got, 1));
  EXPECT_FALSE(open_image_file(empty).has_value());
  EXPECT_FALSE(open_image_file(dir + "/missing").has_value());
  EXPECT_FALSE(open_image_file(dir).has_value());
  // A FIFO without a writer once blocked the first cl100k_base() forever.
  EXPECT_FALSE(open_image_file(fifo).has_value());
  EXPECT_FALSE(open_image_file("/dev/zero").has_value());

  for (const std::string& p : {regular, empty, fifo}) std::remove(p.c_str());
  rmdir(dir.c_str());
}

// Loading from a file reads the arrays in place: the written image loads back
// whole, a truncated or padded one is refused, with or without the digest.
TEST(ImageFile, LoadsImagesFromFiles) {
  char path_template[] = "/tmp/velkan_image_XXXXXX";
  const int fd = mkstemp(path_template);
  ASSERT_GE(fd, 0);
  close(fd);
  const std::string path = path_template;
  const std::vector<uint8_t>& good = image_of(false);
  auto write_and_load = [&](size_t size, const ImageDigest& known) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::vector<uint8_t> bytes(
        good.begin(), good.begin() + static_cast<std::ptrdiff_t>(std::min(size, good.size())));
    bytes.resize(size, 0);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    std::optional<ImageFile> file = open_image_file(path);
    return bpe_from_image_file(bytes_of(false), starts_of(false), count_of(false), *file, known);
  };
  const ImageDigest known = known_digest(false);
  for (const ImageDigest& digest : {known, ImageDigest{}}) {
    BytePairEncodingPtr loaded = write_and_load(good.size(), digest);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(bpe_to_image(*loaded), good);
    EXPECT_EQ(write_and_load(good.size() - 1, digest), nullptr);
    EXPECT_EQ(write_and_load(good.size() + 1, digest), nullptr);
    EXPECT_EQ(write_and_load(100, digest), nullptr);
  }
  std::remove(path.c_str());
}

}  // namespace
}  // namespace velkan
