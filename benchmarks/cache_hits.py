"""Hit rates of velkan's piece cache (src/driver/piece_cache.h) per corpus,
cold and warm as coldwarm.py defines them, by replaying the pieces through a
model of the table (same hash, slots and limits):

    python benchmarks/cache_hits.py [VOCAB ...]

Counts only the pieces that reach the cache: those that are not a token by
themselves. A deterministic figure, unlike times on a shared machine."""

import os
import sys

import regex
import tiktoken

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests"))

import coldwarm  # noqa: E402

from reference import PATTERNS, load_ranks  # noqa: E402

SLOTS, WORDS, MAX_IDS = 16384, 6, 18
M = (1 << 64) - 1


def slot_of(piece):
    words = (piece + bytes(-len(piece) % 8)) if len(piece) % 8 else piece
    h = (len(piece) * 0x9E3779B97F4A7C15) & M
    for i in range(0, len(words), 8):
        h = ((h ^ int.from_bytes(words[i : i + 8], "little")) * 0xBF58476D1CE4E5B9) & M
        h ^= h >> 29
    h ^= h >> 32
    return h & 0xFFFFFFFF & (SLOTS - 1)


class Model:
    def __init__(self, enc, ranks):
        self.enc, self.ranks, self.slots = enc, ranks, [None] * SLOTS

    def run(self, texts, pattern):
        lookups = hits = 0
        for text in texts:
            for m in pattern.finditer(text):
                piece = m.group().encode("utf-8")
                if piece in self.ranks or len(piece) > WORDS * 8:
                    continue
                lookups += 1
                slot = slot_of(piece)
                if self.slots[slot] == piece:
                    hits += 1
                elif len(self.enc.encode_ordinary(m.group())) <= MAX_IDS:
                    self.slots[slot] = piece
        return lookups, hits


def main():
    vocabs = sys.argv[1:] or list(coldwarm.VOCABULARIES)
    rows = coldwarm.halves()
    for vocab in vocabs:
        ranks = load_ranks(vocab)
        enc = tiktoken.Encoding(
            vocab, pat_str=PATTERNS[vocab], mergeable_ranks=ranks, special_tokens={}
        )
        pattern = regex.compile(PATTERNS[vocab])
        for row, (a, b) in rows.items():
            model = Model(enc, ranks)
            n_cold, h_cold = model.run(b, pattern)
            model = Model(enc, ranks)
            model.run(a, pattern)
            n_warm, h_warm = model.run(b, pattern)
            print(
                "%s %-12s pieces to the cache: %6d, hits cold %4.1f%%, warm %4.1f%%"
                % (vocab, row, n_cold, 100 * h_cold / max(n_cold, 1), 100 * h_warm / max(n_warm, 1))
            )


if __name__ == "__main__":
    main()
