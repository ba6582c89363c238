// Times each stage of the hot path alone, on the committed corpora, beside a
// floor measured on the same machine: how far each stage is from what the
// hardware allows. Build with -DVELKAN_BUILD_BENCHMARKS=ON, then
//
//   build/bench/velkan_stages [--vocab cl100k|o200k] [--rounds N] [--warm-only] [corpus...]
//
// Stages (ns per byte and per piece, best of the rounds):
//   memchr floor   a pass of memchr over the text (the split's floor)
//   split          the rule set's split alone, pieces counted
//   line floor     one read of a random cache line per piece, in a buffer
//                  the size of the short-token tables (the probe's floor)
//   probe          the short-token tables asked for every piece
//   walk           the automaton's whole-token walk for every piece
//   cache hit      the piece cache for the pieces that are no token (warm)
//   backtrack N-M  the backtracking encoder on those pieces, by length;
//   rank merge N-M the heap rank merge (rank_merge.h) and small merge N-M
//   small merge    the stack merge (small_merge.h) on the same pieces; each
//                  hot, and cold: the caches flushed (64 MiB read) before
//                  each round
//   count, encode  the whole walk (piecewise_count, piecewise_encode): warm
//                  (the corpus's second half after its first, caches empty
//                  before) and hot (the corpus again)
// The corpora are read from benchmarks/corpora/ (VELKAN_CORPORA_DIR).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/automaton.h"
#include "core/build.h"
#include "core/encoder.h"
#include "core/piece_cache.h"
#include "core/rank_merge.h"
#include "core/small_merge.h"
#include "driver/piece_walk.h"
#include "driver/piecewise.h"
#include "vocab/embedded.h"
#include "vocab/encoding_handle.h"

namespace velkan {
namespace {

struct Piece {
  uint64_t start, len;
};

// The best time of f over the rounds, each round after before() (untimed).
template <typename B, typename F>
double best_seconds_after(int rounds, B before, F f) {
  double best = 1e30;
  for (int r = 0; r < rounds; r++) {
    before();
    const auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::min(best,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

template <typename F>
double best_seconds(int rounds, F f) {
  double best = 1e30;
  for (int r = 0; r < rounds; r++) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::min(best,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

// Keeps a value alive without a store the compiler could drop.
double d(uint64_t v) { return static_cast<double>(v); }

template <typename T>
void keep(const T& value) {
  asm volatile("" : : "r,m"(value) : "memory");
}

void row(const char* corpus, const char* stage, double seconds, uint64_t bytes, uint64_t pieces,
         const char* note = "") {
  std::printf("| %-12s | %-22s | %8.3f | %8.2f | %s |\n", corpus, stage, seconds * 1e9 / d(bytes),
              pieces == 0 ? 0.0 : seconds * 1e9 / d(pieces), note);
}

// Warm: the second half of the corpus right after the first, with caches
// that knew nothing before (a copy of the handle starts empty).
void run_warm(const EncodingHandle& h, const char* c, const uint8_t* data, uint64_t n,
              const std::vector<Piece>& pieces, int rounds) {
  uint64_t half = n / 2;
  while (half < n && data[half - 1] != '\n') half++;
  const uint64_t pieces_b = static_cast<uint64_t>(
      std::count_if(pieces.begin(), pieces.end(), [&](const Piece& p) { return p.start >= half; }));
  std::unique_ptr<EncodingHandle> fresh;
  const auto warm = [&](auto run) {
    return best_seconds_after(
        rounds,
        [&] {
          fresh.reset();
          fresh = std::make_unique<EncodingHandle>();
          fresh->encoding = h.encoding;
          fresh->rule_set = h.rule_set;
          handle_finish(*fresh);
          keep(piecewise_count(*fresh, data, half));
        },
        [&] { run(*fresh); });
  };
  row(c, "count (warm)",
      warm([&](const EncodingHandle& w) { keep(piecewise_count(w, data + half, n - half)); }),
      n - half, pieces_b);
  row(c, "encode (warm)", warm([&](const EncodingHandle& w) {
        keep(piecewise_encode(w, data + half, n - half).size());
      }),
      n - half, pieces_b);
}

void run_corpus(const EncodingHandle& h, const std::string& name, const std::string& text,
                int rounds, bool warm_only) {
  const auto* data = reinterpret_cast<const uint8_t*>(text.data());
  const uint64_t n = text.size();
  std::vector<Piece> pieces;
  for_each_piece(h, data, n, [&](uint64_t s, uint64_t e) {
    pieces.push_back({s, e - s});
    return true;
  });
  const uint64_t np = pieces.size();
  const char* c = name.c_str();
  if (warm_only) {
    run_warm(h, c, data, n, pieces, rounds);
    return;
  }

  row(c, "memchr floor", best_seconds(rounds, [&] { keep(std::memchr(data, 0xFF, n)); }), n, np);

  row(c, "split",
      best_seconds(rounds,
                   [&] {
                     uint64_t count = 0;
                     for_each_piece(h, data, n, [&](uint64_t, uint64_t) {
                       count++;
                       return true;
                     });
                     keep(count);
                   }),
      n, np);

  {
    const size_t lines = (size_t{6} << 20) / 64;  // a short-token table's size
    std::vector<uint64_t> buffer(lines * 8, 1);
    std::vector<uint32_t> where(np);
    std::mt19937 random(1);
    for (auto& w : where) w = static_cast<uint32_t>(random() % lines);
    row(c, "line floor",
        best_seconds(rounds,
                     [&] {
                       uint64_t sum = 0;
                       for (uint32_t w : where) sum += buffer[size_t{w} * 8];
                       keep(sum);
                     }),
        n, np, "independent reads");
  }

  uint64_t hits = 0, unknown = 0;
  row(c, "probe",
      best_seconds(rounds,
                   [&] {
                     hits = unknown = 0;
                     for (const Piece& p : pieces) {
                       const int32_t id = h.short_tokens.find(data + p.start, p.len, n - p.start);
                       hits += id >= 0;
                       unknown += id == ShortTokens::kUnknown;
                     }
                   }),
      n, np);
  char note[96];
  std::snprintf(note, sizeof note, "%.1f%% tokens, %.1f%% left to the walk",
                100.0 * d(hits) / d(np), 100.0 * d(unknown) / d(np));
  std::printf("| %-12s | %-22s |          |          | %s |\n", c, "", note);

  const BytePairEncoding& bpe = *h.encoding;
  std::vector<Piece> others;  // pieces that are no token
  row(c, "walk",
      best_seconds(rounds,
                   [&] {
                     uint64_t tokens = 0;
                     for (const Piece& p : pieces) {
                       tokens +=
                           automaton_whole_token(bpe.forward_automaton, data + p.start, p.len) >= 0;
                     }
                     keep(tokens);
                   }),
      n, np);
  for (const Piece& p : pieces) {
    if (automaton_whole_token(bpe.forward_automaton, data + p.start, p.len) < 0) {
      others.push_back(p);
    }
  }
  std::snprintf(note, sizeof note, "%zu pieces (%.1f%%) are no token", others.size(),
                100.0 * static_cast<double>(others.size()) / static_cast<double>(np));
  std::printf("| %-12s | %-22s |          |          | %s |\n", c, "", note);

  {
    PieceCache cache;
    EncoderScratch scratch;
    uint32_t out[PieceCache::kMaxIds];
    for (const Piece& p : others) {
      if (!PieceCache::cacheable(p.len)) continue;
      const int32_t first = bpe_next_match(bpe, data + p.start, p.len);
      const uint64_t k = encoder_encode_piece(bpe, data + p.start, p.len, first, scratch);
      cache.put(PieceCache::key_of(data + p.start, p.len), scratch.tokens.get(), k, 0);
    }
    uint64_t found = 0;
    row(c, "cache hit",
        best_seconds(rounds,
                     [&] {
                       found = 0;
                       for (const Piece& p : others) {
                         if (!PieceCache::cacheable(p.len)) continue;
                         found += cache.find(PieceCache::key_of(data + p.start, p.len), out) != 0;
                       }
                     }),
        n, others.size());
    std::snprintf(note, sizeof note, "%.1f%% of them found",
                  100.0 * static_cast<double>(found) / static_cast<double>(others.size()));
    std::printf("| %-12s | %-22s |          |          | %s |\n", c, "", note);
  }

  // The encoders side by side on the pieces that are no token, by length:
  // hot (the same pieces again, their tables' lines cached) and cold (the
  // caches flushed before each round, as on text never seen).
  const uint64_t bounds[][2] = {{1, 8}, {9, 16}, {17, 32}, {33, 1u << 30}};
  const PairFilter* filter = h.pair_filter.words.empty() ? nullptr : &h.pair_filter;
  const uint32_t* pairs = h.byte_pairs.empty() ? nullptr : h.byte_pairs.data();
  std::vector<uint8_t> flush(size_t{64} << 20, 1);
  const auto flush_caches = [&] {
    uint64_t sum = 0;
    for (size_t i = 0; i < flush.size(); i += 64) sum += flush[i]++;
    keep(sum);
  };
  for (const auto& b : bounds) {
    std::vector<Piece> some;
    uint64_t bytes = 0;
    for (const Piece& p : others) {
      if (p.len >= b[0] && p.len <= b[1]) {
        some.push_back(p);
        bytes += p.len;
      }
    }
    if (some.empty()) continue;
    EncoderScratch scratch;
    std::vector<uint32_t> ids;
    uint32_t out[kSmallMergeMaxBytes];
    const auto backtrack = [&] {
      uint64_t total = 0;
      for (const Piece& p : some) {
        const int32_t first = bpe_next_match(bpe, data + p.start, p.len);
        total += encoder_encode_piece(bpe, data + p.start, p.len, first, scratch, filter);
      }
      keep(total);
    };
    const auto rank_merge = [&] {
      uint64_t total = 0;
      for (const Piece& p : some) {
        ids.clear();
        rank_merge_piece(bpe, data + p.start, p.len, ids);
        total += ids.size();
      }
      keep(total);
    };
    const auto small_merge = [&] {
      uint64_t total = 0;
      for (const Piece& p : some)
        total += small_merge_piece(bpe, filter, pairs, data + p.start, p.len, out);
      keep(total);
    };
    struct Design {
      const char* name;
      std::function<void()> run;
    };
    std::vector<Design> designs = {{"backtrack", backtrack}, {"rank merge", rank_merge}};
    if (b[1] <= kSmallMergeMaxBytes) designs.push_back({"small merge", small_merge});
    for (const Design& design : designs) {
      for (const bool cold : {false, true}) {
        const double s = cold ? best_seconds_after(rounds, flush_caches, design.run)
                              : best_seconds(rounds, design.run);
        char stage[40];
        if (b[1] > 1000) {
          std::snprintf(stage, sizeof stage, "%s %llu+%s", design.name,
                        static_cast<unsigned long long>(b[0]), cold ? " cold" : "");
        } else {
          std::snprintf(stage, sizeof stage, "%s %llu-%llu%s", design.name,
                        static_cast<unsigned long long>(b[0]),
                        static_cast<unsigned long long>(b[1]), cold ? " cold" : "");
        }
        std::snprintf(note, sizeof note, "%zu pieces, %.1f bytes each", some.size(),
                      d(bytes) / d(some.size()));
        row(c, stage, s, n, some.size(), note);
      }
    }
  }

  run_warm(h, c, data, n, pieces, rounds);

  piecewise_count(h, data, n);  // the shared cache learns the corpus: hot
  row(c, "count (hot)", best_seconds(rounds, [&] { keep(piecewise_count(h, data, n)); }), n, np);
  row(c, "encode (hot)", best_seconds(rounds, [&] { keep(piecewise_encode(h, data, n).size()); }),
      n, np);
}

}  // namespace
}  // namespace velkan

int main(int argc, char** argv) {
  using namespace velkan;
  bool o200k = false;
  int rounds = 7;
  bool warm_only = false;  // for a profiler: the warm rows alone
  std::vector<std::string> corpora;
  for (int i = 1; i < argc; i++) {
    const std::string arg = argv[i];
    if (arg == "--vocab" && i + 1 < argc) {
      o200k = std::string(argv[++i]).find("o200k") != std::string::npos;
    } else if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--warm-only") {
      warm_only = true;
    } else {
      corpora.push_back(arg);
    }
  }
  if (corpora.empty()) {
    corpora = {"english", "code",        "multilingual", "docs",
               "scripts", "typographic", "cjk",          "shell_perl"};
  }
  BytePairEncodingPtr bpe = o200k
                                ? bpe_build(o200k_token_bytes, o200k_token_starts, kO200kTokens)
                                : bpe_build(cl100k_token_bytes, cl100k_token_starts, kCl100kTokens);
  EncodingHandle handle;
  handle.encoding = bpe.get();
  handle.rule_set = o200k ? RuleSet::kO200k : RuleSet::kCl100k;
  handle_finish(handle);
  std::printf("%s, best of %d rounds\n\n", o200k ? "o200k_base" : "cl100k_base", rounds);
  std::printf("| corpus | stage | ns/byte | ns/piece | note |\n|---|---|---|---|---|\n");
  for (const std::string& name : corpora) {
    std::ifstream in(std::string(VELKAN_CORPORA_DIR "/") + name + ".txt");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.empty()) {
      std::fprintf(stderr, "no corpus %s\n", name.c_str());
      return 2;
    }
    run_corpus(handle, name, text, rounds, warm_only);
  }
  return 0;
}
