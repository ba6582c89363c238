"""Hit rates of velkan's piece cache (src/core/piece_cache.h) per corpus,
cold and warm as coldwarm.py measures them (each in its own process over all
rows), by replaying the pieces through a model of the tables (same hash,
slots and limits):

    python benchmarks/cache_hits.py [VOCAB ...]

Counts only the pieces that reach the cache: those that are not a token by
themselves. A deterministic figure, unlike times on a shared machine."""

import os
import random
import sys

import regex
import tiktoken

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "python"))

import coldwarm  # noqa: E402

from reference import PATTERNS, load_ranks  # noqa: E402

SHORT_BYTES, MAX_BYTES = 16, 48
SLOTS = {False: 131072, True: 32768}  # by "longer than SHORT_BYTES"
MAX_IDS = {False: 10, True: 18}
M = (1 << 64) - 1


def slots_of(piece):
    """The two slots the piece may live in (a pair of neighbours), as
    PieceCache::key_of picks them."""
    words = (piece + bytes(-len(piece) % 8)) if len(piece) % 8 else piece
    muls = (
        0x9E3779B97F4A7C15,
        0xBF58476D1CE4E5B9,
        0x94D049BB133111EB,
        0xD6E8FEB86659FD93,
        0xA0761D6478BD642F,
        0xE7037ED1A0B428DB,
    )
    h = (len(piece) * 0x2545F4914F6CDD1D) & M
    for i in range(0, len(words), 8):
        w = int.from_bytes(words[i : i + 8], "little")
        h = (h + (w ^ (w >> 29)) * muls[i // 8]) & M
    h ^= h >> 32
    h = (h * 0x94D049BB133111EB) & M
    first = (h >> 40) & (SLOTS[len(piece) > SHORT_BYTES] - 1)
    return (first, first ^ 1)


class Model:
    def __init__(self, enc, ranks):
        self.enc, self.ranks = enc, ranks
        self.tables = {long: [None] * n for long, n in SLOTS.items()}
        self.random = random.Random(1)

    def run(self, texts, pattern):
        lookups = hits = 0
        for text in texts:
            for m in pattern.finditer(text):
                piece = m.group().encode("utf-8")
                if piece in self.ranks or len(piece) > MAX_BYTES:
                    continue
                lookups += 1
                long = len(piece) > SHORT_BYTES
                table = self.tables[long]
                first, second = slots_of(piece)
                if piece in (table[first], table[second]):
                    hits += 1
                elif len(self.enc.encode_ordinary(m.group())) <= MAX_IDS[long]:
                    if table[first] is None:
                        table[first] = piece
                    elif table[second] is None:
                        table[second] = piece
                    else:
                        table[self.random.choice((first, second))] = piece
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
        # One cache per process, in coldwarm.py's order: every row's B half
        # (cold); each row's A half, then its B half (warm).
        model = Model(enc, ranks)
        cold = {row: model.run(b, pattern) for row, (a, b) in rows.items()}
        warm = {}
        model = Model(enc, ranks)
        for row, (a, b) in rows.items():
            model.run(a, pattern)
            warm[row] = model.run(b, pattern)
        for row in rows:
            (n_cold, h_cold), (n_warm, h_warm) = cold[row], warm[row]
            print(
                "%s %-12s pieces to the cache: %6d, hits cold %4.1f%%, warm %4.1f%%"
                % (vocab, row, n_cold, 100 * h_cold / max(n_cold, 1), 100 * h_warm / max(n_warm, 1))
            )


if __name__ == "__main__":
    main()
