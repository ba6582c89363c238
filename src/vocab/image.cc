#include "vocab/image.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>

#include "core/build.h"
#include "core/helper_thread.h"

namespace velkan {
namespace {

static_assert(std::endian::native == std::endian::little,
              "images are little-endian and copied as they lie in memory");

// ---- writing -------------------------------------------------------------------

// Writes into a buffer sized in advance (image_size), so every field is one
// memcpy and nothing reallocates.
struct Writer {
  std::vector<uint8_t> out;
  size_t pos = 0;

  template <typename T>
  void put(T value) {
    std::memcpy(out.data() + pos, &value, sizeof(T));
    pos += sizeof(T);
  }

  template <typename T>
  void put_array(const std::vector<T>& array, size_t count) {
    if (count != 0) std::memcpy(out.data() + pos, array.data(), count * sizeof(T));
    pos += count * sizeof(T);
  }

  void put_automaton(const TokenAutomaton& a) {
    put_array(a.states, static_cast<size_t>(a.state_count));
    put_array(a.outputs, static_cast<size_t>(a.output_count));
    put_array(a.base, static_cast<size_t>(a.state_count));
    put_array(a.check, static_cast<size_t>(a.state_count));
  }
};

uint64_t image_size(uint32_t n, uint32_t index_capacity, uint32_t pair_capacity,
                    const int32_t (&states)[3], const int32_t (&outputs)[3]) {
  uint64_t size = kImageHeaderSize + 12ULL * n + 8ULL * index_capacity + 12ULL * pair_capacity;
  for (int i = 0; i < 3; i++) {
    size += 24ULL * static_cast<uint64_t>(states[i]) + 12ULL * static_cast<uint64_t>(outputs[i]);
  }
  return size;
}

// ---- reading -------------------------------------------------------------------

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
  T get() {
    T value{};
    read(&value, sizeof(T));
    return value;
  }
  uint32_t u32() { return get<uint32_t>(); }
  int32_t i32() { return get<int32_t>(); }
  uint64_t u64() { return get<uint64_t>(); }

  template <typename T>
  void get_array(std::vector<T>& array, uint64_t count) {
    array.resize(static_cast<size_t>(count));
    if (count != 0) read(array.data(), static_cast<size_t>(count) * sizeof(T));
  }
};

struct AutomatonCounts {
  int32_t state_count;
  int32_t output_count;
  int32_t kind;
};

template <typename Source>
void get_automaton(Reader<Source>& r, TokenAutomaton& a, const AutomatonCounts& c) {
  a.state_count = a.size = c.state_count;
  a.output_count = c.output_count;
  a.kind = c.kind;
  r.get_array(a.states, static_cast<uint64_t>(c.state_count));
  r.get_array(a.outputs, static_cast<uint64_t>(c.output_count));
  r.get_array(a.base, static_cast<uint64_t>(c.state_count));
  r.get_array(a.check, static_cast<uint64_t>(c.state_count));
}

// ---- checking ------------------------------------------------------------------

bool is_power_of_two(uint32_t x) { return x != 0 && (x & (x - 1)) == 0; }

bool same_bytes(const BytePairEncoding& bpe, uint32_t id, const uint8_t* bytes, uint32_t length) {
  return bpe.token_length(id) == length &&
         (length == 0 || std::memcmp(bpe.token_data(id), bytes, length) == 0);
}

// Every token sits in exactly one slot, reachable from its home slot without
// crossing an empty slot, under its true hash; an empty slot exists so that
// every probe ends.
bool check_token_index(const BytePairEncoding& bpe) {
  const TokenIndex& index = bpe.token_index;
  const uint32_t n = bpe.num_tokens;
  if (!is_power_of_two(index.capacity) || index.entries.size() != index.capacity ||
      index.count != n || index.count >= index.capacity) {
    return false;
  }
  std::vector<uint8_t> seen(n, 0);
  const uint32_t mask = index.capacity - 1;
  uint32_t occupied = 0;
  for (uint32_t slot = 0; slot < index.capacity; slot++) {
    const TokenIndexEntry& e = index.entries[slot];
    if (e.token == -1) continue;
    if (e.token < 0 || static_cast<uint32_t>(e.token) >= n || seen[e.token]) return false;
    seen[e.token] = 1;
    occupied++;
    const uint32_t id = static_cast<uint32_t>(e.token);
    if (e.hash != token_hash(bpe.token_data(id), bpe.token_length(id), bpe.hash_factor)) {
      return false;
    }
    for (uint32_t s = e.hash & mask; s != slot; s = (s + 1) & mask) {
      if (index.entries[s].token == -1) return false;
    }
  }
  return occupied == index.count;
}

// Splits are both the token itself or two lower tokens that spell it; the
// pair table holds exactly one findable entry per split token.
bool check_splits_and_pairs(const BytePairEncoding& bpe) {
  const uint32_t n = bpe.num_tokens;
  if (bpe.split_left.size() != n || bpe.split_right.size() != n) return false;
  uint32_t splits = 0;
  for (uint32_t i = 0; i < n; i++) {
    const uint32_t l = bpe.split_left[i], r = bpe.split_right[i];
    if (l == i && r == i) continue;
    if (l >= i || r >= i) return false;
    const uint32_t ll = bpe.token_length(l);
    if (ll + bpe.token_length(r) != bpe.token_length(i) ||
        !same_bytes(bpe, l, bpe.token_data(i), ll) ||
        !same_bytes(bpe, r, bpe.token_data(i) + ll, bpe.token_length(r))) {
      return false;
    }
    splits++;
  }
  const PairTable& table = bpe.pair_table;
  if (!is_power_of_two(table.capacity) || table.entries.size() != table.capacity ||
      table.count != splits || table.count >= table.capacity) {
    return false;
  }
  const uint32_t mask = table.capacity - 1;
  uint32_t occupied = 0;
  for (uint32_t slot = 0; slot < table.capacity; slot++) {
    const PairEntry& e = table.entries[slot];
    if (e.merged == -1) continue;
    if (e.merged < 0 || static_cast<uint32_t>(e.merged) >= n) return false;
    if (bpe.split_left[e.merged] != e.left || bpe.split_right[e.merged] != e.right ||
        e.left == static_cast<uint32_t>(e.merged)) {
      return false;
    }
    occupied++;
    // The first entry with this key on the probe path must be this one.
    for (uint32_t s = static_cast<uint32_t>(pair_hash(e.left, e.right) >> 32) & mask; s != slot;
         s = (s + 1) & mask) {
      const PairEntry& o = table.entries[s];
      if (o.merged == -1 || (o.left == e.left && o.right == e.right)) return false;
    }
  }
  return occupied == table.count;
}

// next_prefix points at a strictly shorter token that is a prefix, so the
// encoder's fallback chain always ends.
bool check_next_prefix(const BytePairEncoding& bpe) {
  if (bpe.next_prefix.size() != bpe.num_tokens) return false;
  for (uint32_t i = 0; i < bpe.num_tokens; i++) {
    const int32_t p = bpe.next_prefix[i];
    if (p == -1) continue;
    if (p < 0 || static_cast<uint32_t>(p) >= bpe.num_tokens) return false;
    const uint32_t length = bpe.token_length(static_cast<uint32_t>(p));
    if (length >= bpe.token_length(i) ||
        !same_bytes(bpe, static_cast<uint32_t>(p), bpe.token_data(i), length)) {
      return false;
    }
  }
  return true;
}

bool check_automaton(const BytePairEncoding& bpe, const TokenAutomaton& a, AutomatonKind kind) {
  const int32_t size = a.size;
  const int32_t n = static_cast<int32_t>(bpe.num_tokens);
  if (a.kind != kind || size < 512 || a.state_count != size ||
      a.states.size() != static_cast<size_t>(size) || a.base.size() != a.states.size() ||
      a.check.size() != a.states.size() || a.output_count < 1 ||
      a.outputs.size() != static_cast<size_t>(a.output_count)) {
    return false;
  }
  const AutomatonOutput& zero = a.outputs[0];
  if (zero.token != 0 || zero.length != 0 || zero.next != 0) return false;
  for (int32_t k = 1; k < a.output_count; k++) {
    const AutomatonOutput& o = a.outputs[k];
    // Lists run towards lower records and shorter tokens, so they end.
    if (o.token < 0 || o.token >= n || o.length < 1 ||
        static_cast<uint32_t>(o.length) != bpe.token_length(static_cast<uint32_t>(o.token)) ||
        o.next < 0 || o.next >= k || (o.next != 0 && a.outputs[o.next].length >= o.length)) {
      return false;
    }
  }
  if (a.check[0] != 0 || a.states[0].depth != 0 || a.states[0].fail != 0) return false;
  for (int32_t s = 0; s < size; s++) {
    const AutomatonState& st = a.states[s];
    // A transition reads base[s] + byte, so every base leaves 256 slots.
    if (a.base[s] < 0 || a.base[s] > size - 256) return false;
    if (a.check[s] < -1 || a.check[s] >= size) return false;
    if (st.fail < 0 || st.fail >= size || st.output < 0 || st.output >= a.output_count ||
        st.value < -1 || st.value >= n || st.depth < 0) {
      return false;
    }
    // Failure links lead to shallower states, so the failure walk ends.
    if (st.depth == 0 ? st.fail != 0 : a.states[st.fail].depth >= st.depth) return false;
    // A state is one byte deeper than its parent and reports no token longer
    // than the bytes that led to it.
    if (s != 0 && a.check[s] >= 0 && st.depth != a.states[a.check[s]].depth + 1) return false;
    if (st.output != 0 && a.outputs[st.output].length > st.depth) return false;
  }
  // The automaton spells every token (reversed for kind 2) and ends it at a
  // state of the right depth holding the token or an equal earlier one.
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> token_end(static_cast<size_t>(size), 0);
  for (uint32_t id = 0; id < bpe.num_tokens; id++) {
    const uint32_t length = bpe.token_length(id);
    bytes.assign(bpe.token_data(id), bpe.token_data(id) + length);
    if (kind == kReverseAutomaton) std::reverse(bytes.begin(), bytes.end());
    int32_t s = 0;
    for (uint8_t b : bytes) {
      const int32_t t = a.base[s] + b;
      if (a.check[t] != s || t == 0) return false;
      s = t;
    }
    token_end[s] = 1;
    const int32_t value = a.states[s].value;
    if (a.states[s].depth != static_cast<int32_t>(length) || value < 0 ||
        static_cast<uint32_t>(value) > id) {
      return false;
    }
    if (static_cast<uint32_t>(value) != id) {
      std::vector<uint8_t> other(bpe.token_data(value), bpe.token_data(value) + length);
      if (kind == kReverseAutomaton) std::reverse(other.begin(), other.end());
      if (bpe.token_length(value) != length || other != bytes) return false;
    }
  }
  // Only the states just checked may report a token: a stray state reached by
  // a transition of its own could report one that the bytes read so far do
  // not spell, even one longer than the text, and the encoder would then
  // read past the end of its input.
  for (int32_t s = 0; s < size; s++) {
    if (a.states[s].value != -1 && !token_end[s]) return false;
  }
  return true;
}

// next_prefix holds the longest proper prefix token, as construction sets it:
// one that is merely shorter would hide candidates from the encoder, and -1
// where a prefix exists would leave it with none, giving wrong ids. Walks the
// forward automaton, whose token states check_automaton has vouched for.
bool check_prefixes_are_longest(const BytePairEncoding& bpe) {
  const TokenAutomaton& a = bpe.forward_automaton;
  for (uint32_t i = 0; i < bpe.num_tokens; i++) {
    const uint8_t* bytes = bpe.token_data(i);
    const uint32_t length = bpe.token_length(i);
    uint32_t longest = 0;
    int32_t s = 0;
    for (uint32_t d = 0; d + 1 < length; d++) {
      s = a.base[s] + bytes[d];  // the token's own path: every step exists
      if (a.states[s].value != -1) longest = d + 1;
    }
    const int32_t p = bpe.next_prefix[i];
    if (p == -1 ? longest != 0 : bpe.token_length(static_cast<uint32_t>(p)) != longest) {
      return false;
    }
  }
  return true;
}

// Each split is the one construction picks: the first prefix on the chain
// whose remainder is a token, both older than the token, allowed side by
// side; none means the token stays whole. Any other split that spells the
// token would still pass check_splits_and_pairs but change which pairs the
// encoder accepts. Runs in id order, as construction does, so every split
// the validity test reads has been checked already.
bool check_splits_are_constructions(const BytePairEncoding& bpe) {
  for (uint32_t i = 0; i < bpe.num_tokens; i++) {
    uint32_t left = i, right = i;
    bpe_construction_split(bpe, i, left, right);
    if (bpe.split_left[i] != left || bpe.split_right[i] != right) return false;
  }
  return true;
}

}  // namespace

std::vector<uint8_t> bpe_to_image(const BytePairEncoding& bpe) {
  const TokenAutomaton* automata[3] = {&bpe.forward_automaton, &bpe.forward_automaton_alt,
                                       &bpe.reverse_automaton};
  int32_t states[3], outputs[3];
  for (int i = 0; i < 3; i++) {
    states[i] = automata[i]->state_count;
    outputs[i] = automata[i]->output_count;
  }
  Writer w;
  w.out.resize(static_cast<size_t>(image_size(bpe.num_tokens, bpe.token_index.capacity,
                                              bpe.pair_table.capacity, states, outputs)));
  w.put<uint32_t>(bpe.num_tokens);
  w.put<uint64_t>(bpe.hash_factor);
  w.put<uint32_t>(bpe.token_index.capacity);
  w.put<uint32_t>(bpe.token_index.count);
  w.put<uint32_t>(bpe.pair_table.capacity);
  w.put<uint32_t>(bpe.pair_table.count);
  for (const TokenAutomaton* a : automata) {
    w.put<int32_t>(a->state_count);
    w.put<int32_t>(a->output_count);
    w.put<int32_t>(a->kind);
  }
  w.put_array(bpe.split_left, bpe.num_tokens);
  w.put_array(bpe.split_right, bpe.num_tokens);
  w.put_array(bpe.next_prefix, bpe.num_tokens);
  w.put_array(bpe.token_index.entries, bpe.token_index.capacity);
  w.put_array(bpe.pair_table.entries, bpe.pair_table.capacity);
  for (const TokenAutomaton* a : automata) w.put_automaton(*a);
  return std::move(w.out);
}

namespace {

// Reads and, unless the image is the known one, checks an image of size bytes.
template <typename Source>
BytePairEncodingPtr load_image(const uint8_t* token_bytes, const uint32_t* token_starts,
                               uint32_t num_tokens, const Source& source, uint64_t size,
                               const ImageDigest& known) {
  if (size < kImageHeaderSize) return nullptr;
  // An all-zero digest is never known: nothing to compare, nothing to digest.
  const bool have_known = known != ImageDigest{};
  Reader<Source> r(source, have_known);
  const uint32_t n = r.u32();
  const uint64_t hash_factor = r.u64();
  const uint32_t index_capacity = r.u32();
  const uint32_t index_count = r.u32();
  const uint32_t pair_capacity = r.u32();
  const uint32_t pair_count = r.u32();
  AutomatonCounts counts[3];
  for (AutomatonCounts& c : counts) {
    c.state_count = r.i32();
    c.output_count = r.i32();
    c.kind = r.i32();
  }
  if (!r.ok || n != num_tokens) return nullptr;

  // The length the header implies, in 64 bits so that no count can wrap it.
  int32_t states[3], outputs[3];
  for (int i = 0; i < 3; i++) {
    if (counts[i].state_count < 0 || counts[i].output_count < 0) return nullptr;
    states[i] = counts[i].state_count;
    outputs[i] = counts[i].output_count;
  }
  if (image_size(n, index_capacity, pair_capacity, states, outputs) != size) return nullptr;

  auto bpe = std::make_unique<BytePairEncoding>();
  bpe->num_tokens = n;
  bpe->hash_factor = hash_factor;
  bpe->token_bytes.assign(token_bytes, token_bytes + token_starts[n]);
  bpe->token_starts.assign(token_starts, token_starts + n + 1);
  r.get_array(bpe->split_left, n);
  r.get_array(bpe->split_right, n);
  r.get_array(bpe->next_prefix, n);
  bpe->token_index.capacity = index_capacity;
  bpe->token_index.count = index_count;
  r.get_array(bpe->token_index.entries, index_capacity);
  bpe->pair_table.capacity = pair_capacity;
  bpe->pair_table.count = pair_count;
  r.get_array(bpe->pair_table.entries, pair_capacity);
  get_automaton(r, bpe->forward_automaton, counts[0]);
  get_automaton(r, bpe->forward_automaton_alt, counts[1]);
  get_automaton(r, bpe->reverse_automaton, counts[2]);
  if (!r.ok) return nullptr;
  // Checking costs more than loading; the image construction writes needs
  // none.
  const bool known_image = have_known && r.digest.finish() == known;
  if (!known_image && !bpe_check_tables(*bpe)) return nullptr;
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

// Performance notes: checking is most of the time an image load takes, so
// (1) the two automata that need a full check, forward and reverse, are
// checked on a second thread while this one checks the other tables, and (2)
// the kind 1 automaton, when its arrays equal those of kind 0 (as every
// writer makes them), passes exactly when kind 0 does, since the checks read
// the kind only to compare it; any other kind 1 automaton gets the full
// check. Checks that index by ids another check vouches for still run after
// it: the splits' replay after the index, split and prefix checks, the
// longest-prefix check after the forward automaton's.
namespace {

bool same_arrays(const TokenAutomaton& a, const TokenAutomaton& b) {
  auto same = [](const auto& x, const auto& y) {
    return x.size() == y.size() &&
           (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(x[0])) == 0);
  };
  return a.size == b.size && a.state_count == b.state_count &&
         a.output_count == b.output_count && same(a.states, b.states) &&
         same(a.outputs, b.outputs) && same(a.base, b.base) && same(a.check, b.check);
}

}  // namespace

bool bpe_check_tables(const BytePairEncoding& bpe) {
  if (bpe.token_starts.size() != static_cast<size_t>(bpe.num_tokens) + 1) return false;
  bool forward_ok = false, reverse_ok = false;
  std::exception_ptr failure;
  auto check_automata = [&] {
    try {
      forward_ok = check_automaton(bpe, bpe.forward_automaton, kForwardAutomaton);
      reverse_ok = forward_ok && check_automaton(bpe, bpe.reverse_automaton, kReverseAutomaton);
    } catch (...) {
      failure = std::current_exception();
    }
  };
  bool tables_ok;
  {
    // Joined at the end of this block, on every path.
    std::jthread worker = try_start_helper_thread(check_automata);
    if (!worker.joinable()) check_automata();  // no thread to be had: check here
    tables_ok = check_token_index(bpe) && check_splits_and_pairs(bpe) && check_next_prefix(bpe) &&
                check_splits_are_constructions(bpe);
  }
  if (failure) std::rethrow_exception(failure);
  if (!tables_ok || !forward_ok || !reverse_ok) return false;
  const TokenAutomaton& alt = bpe.forward_automaton_alt;
  const bool alt_ok = same_arrays(alt, bpe.forward_automaton) ? alt.kind == kForwardAltAutomaton
                                                              : check_automaton(bpe, alt, kForwardAltAutomaton);
  return alt_ok && check_prefixes_are_longest(bpe);
}

ImageFile::~ImageFile() {
  if (fd >= 0) ::close(fd);
}

ImageFile::ImageFile(ImageFile&& other) noexcept : fd(other.fd), size(other.size) {
  other.fd = -1;
}

std::optional<ImageFile> open_image_file(const std::string& path) {
  // Only a regular file will do. Opened without O_NONBLOCK, a FIFO would block
  // until some writer came, and a directory or device has no size to trust.
  ImageFile file;
  file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file.fd < 0) return std::nullopt;
  struct stat info;
  if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  if (info.st_size <= 0 || info.st_size > INT32_MAX) return std::nullopt;
  file.size = static_cast<uint64_t>(info.st_size);
  return file;
}

bool image_file_read(const ImageFile& file, uint64_t offset, void* out, size_t n) {
  if (offset > file.size || n > file.size - offset) return false;
  auto* p = static_cast<uint8_t*>(out);
  while (n != 0) {
    const ssize_t got = ::pread(file.fd, p, std::min<size_t>(n, size_t{1} << 30),
                                static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // an error, or the file shrank
    p += got;
    n -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

}  // namespace velkan
