// Finds special tokens (such as "<|endoftext|>") in a text: built once from
// the list of an encoding's special tokens, it answers where the next one of
// an allowed subset starts. A text without the specials' first bytes costs a
// memchr (or a table scan) and nothing more.

#ifndef VELKAN_DRIVER_ADDED_TOKENS_H_
#define VELKAN_DRIVER_ADDED_TOKENS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/piecewise.h"
#include "vocab/encoding_handle.h"

namespace velkan {

// A subset of an encoding's special tokens, by their index in the list the
// SpecialTokenFinder was built from. Indexes at or past the count are never
// members.
class SpecialSet {
 public:
  // The empty set, of any count.
  SpecialSet() = default;
  // The empty set of count tokens, to be filled with insert.
  explicit SpecialSet(size_t count) : count_(count), words_((count + 63) / 64, 0) {}

  // Every one of count tokens.
  static SpecialSet all(size_t count);

  // Adds token index; an index at or past the count is ignored.
  void insert(size_t index);

  // The members of this set that are not in other (of the same count).
  SpecialSet minus(const SpecialSet& other) const;

  bool contains(size_t index) const {
    return index < count_ && (words_[index / 64] >> (index % 64)) & 1;
  }
  bool empty() const { return members_ == 0; }
  bool full() const { return members_ == count_; }
  size_t count() const { return count_; }   // the tokens it ranges over
  size_t size() const { return members_; }  // the members

 private:
  size_t count_ = 0;
  size_t members_ = 0;
  std::vector<uint64_t> words_;  // bit i: token i is a member
};

// One special token found in a text. Offsets count from the text's start.
struct SpecialMatch {
  uint64_t start;  // first byte of the token
  uint64_t end;    // one past its last byte
  uint32_t index;  // the token's index in the finder's list
};

// The special tokens of an encoding, searched for as byte strings. Immutable
// after build, so any number of threads may search with one finder at once.
//
// Where several tokens start at the same position (one is a prefix of the
// other), the longest allowed one wins. tiktoken searches with a regular
// expression alternation, leftmost-first in an order that its hash map
// decides, so for such vocabularies it has no fixed answer; no built-in
// encoding has a special token that begins another, where both agree.
class SpecialTokenFinder {
  struct Private {};

 public:
  // Builds the finder for tokens (byte strings, any count below 2^32 - 1). An
  // empty token or a repeated one is an error: build then returns null and
  // sets *error, naming the token by its index. Throws std::bad_alloc when
  // memory runs out.
  static std::unique_ptr<const SpecialTokenFinder> build(const std::vector<std::string>& tokens,
                                                         std::string* error);

  // The leftmost special token of allowed that starts at pos or after it,
  // and of those the longest; nullopt when there is none. Reads only
  // text[pos, length). The text is taken byte by byte: invalid UTF-8 around a
  // token does not hide it.
  std::optional<SpecialMatch> find(const uint8_t* text, uint64_t length, uint64_t pos,
                                   const SpecialSet& allowed) const;

  // Whether any token of subset occurs in the text (the check for
  // disallowed special tokens).
  bool contains_any(const uint8_t* text, uint64_t length, const SpecialSet& subset) const {
    return find(text, length, 0, subset).has_value();
  }

  size_t size() const { return tokens_.size(); }
  std::string_view token(size_t index) const { return tokens_[index]; }
  // The length of the longest token.
  size_t max_length() const { return max_length_; }

  SpecialTokenFinder(Private, const std::vector<std::string>& tokens);
  // Shared by reference wherever it is used; a copy would only cost memory.
  SpecialTokenFinder(const SpecialTokenFinder&) = delete;
  SpecialTokenFinder& operator=(const SpecialTokenFinder&) = delete;

 private:
  static constexpr uint32_t kNoToken = UINT32_MAX;

  // A trie node: its edges are edge_bytes_/edge_targets_[first_edge,
  // first_edge + edge_count), sorted by byte.
  struct Node {
    uint32_t first_edge;
    uint32_t edge_count;
    uint32_t token;  // the token that ends here, or kNoToken
  };

  uint32_t child(uint32_t node, uint8_t byte) const;
  // The first position at or after pos whose byte begins a token; length if
  // there is none.
  uint64_t next_candidate(const uint8_t* text, uint64_t length, uint64_t pos) const;
  // The longest token of allowed that starts at pos.
  std::optional<SpecialMatch> match_at(const uint8_t* text, uint64_t length, uint64_t pos,
                                       const SpecialSet& allowed) const;

  std::vector<std::string> tokens_;
  size_t max_length_ = 0;
  std::vector<Node> nodes_;  // node 0 is the root
  std::vector<uint8_t> edge_bytes_;
  std::vector<uint32_t> edge_targets_;
  bool first_byte_[256] = {};   // the bytes that begin a token
  int shared_first_byte_ = -1;  // the one first byte of all tokens, or -1
  // With two to four first bytes: each repeated in every byte of a word, for
  // a scan eight bytes at a time (unused entries repeat the first one).
  uint64_t first_byte_words_[4] = {};
  bool few_first_bytes_ = false;
};

// The token ids of a text in which the special tokens of allowed stand for
// their ids (ids[index], by the finder's index): the text between them is
// encoded piecewise, each stretch on its own, as if it were a whole text.
// Appends to out.
void encode_with_specials(const EncodingHandle& handle, const SpecialTokenFinder& finder,
                          const uint32_t* ids, const SpecialSet& allowed, const uint8_t* text,
                          uint64_t length, std::vector<uint32_t>& out,
                          const Interrupt* interrupt = nullptr);

}  // namespace velkan

#endif  // VELKAN_DRIVER_ADDED_TOKENS_H_
