"""The tokenizers velkan is measured against, each built offline from the
repo's rank files, behind one small interface:

    encode(text) -> list of ids      count(text) -> int
    encode_batch(texts, threads) -> list of lists (None when unsupported)

tiktoken is required. HF tokenizers, tokendagger, gigatoken, splintr-rs and
riptoken are used when they are installed; a peer that is not exact on the
benchmark's texts is still timed but flagged in the report."""

import hashlib
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "python"))

from reference import PATTERNS, RANKS, load_ranks  # noqa: E402

CACHE_DIR = os.path.join(os.path.expanduser("~"), ".cache", "velkan-benchmarks")


class Peer:
    name = "?"
    exact = None  # set by the parity check

    def encode(self, text):
        raise NotImplementedError

    def count(self, text):
        return len(self.encode(text))

    def encode_batch(self, texts, threads):
        return None


class Velkan(Peer):
    name = "velkan"

    def __init__(self, vocab):
        import velkan.bpe.openai as openai

        self.tok = getattr(openai, vocab)()
        self.encode = self.tok.encode
        self.count = self.tok.count

    def encode_batch(self, texts, threads):
        return self.tok.encode_batch_parallel(texts)[0]

    def encode_batch_serial(self, texts):
        return self.tok.encode_batch(texts)[0]


class Tiktoken(Peer):
    name = "tiktoken"

    def __init__(self, vocab):
        import tiktoken

        self.enc = tiktoken.Encoding(
            vocab, pat_str=PATTERNS[vocab], mergeable_ranks=load_ranks(vocab), special_tokens={}
        )
        self.encode = self.enc.encode_ordinary

    def encode_batch(self, texts, threads):
        return self.enc.encode_batch(texts, num_threads=threads)

    def encode_ordinary_batch(self, texts, threads):
        return self.enc.encode_ordinary_batch(texts, num_threads=threads)


def _byte_level_alphabet():
    # GPT-2's printable stand-ins for the 256 byte values.
    keep = list(range(ord("!"), ord("~") + 1)) + list(range(0xA1, 0xAD)) + list(range(0xAE, 0x100))
    chars = keep[:]
    extra = 0
    for b in range(256):
        if b not in keep:
            keep.append(b)
            chars.append(256 + extra)
            extra += 1
    return {b: chr(c) for b, c in zip(keep, chars)}


def _merge_parts(ranks, token, max_rank):
    parts = [bytes([b]) for b in token]
    while True:
        best = None
        for i in range(len(parts) - 1):
            rank = ranks.get(parts[i] + parts[i + 1])
            if rank is not None and rank < max_rank and (best is None or rank < best[0]):
                best = (rank, i)
        if best is None:
            return parts
        i = best[1]
        parts[i : i + 2] = [parts[i] + parts[i + 1]]


def _onig_pattern(vocab):
    # The same pattern in Oniguruma's dialect: there `$` is the end of any
    # line and `{1,3}+` is no possessive quantifier.
    return PATTERNS[vocab].replace(r"\s++$", r"\s++\z").replace(r"\p{N}{1,3}+", r"\p{N}{1,3}")


def hf_tokenizer_json(vocab):
    """A HF tokenizer definition for the vocabulary, derived from the rank
    file (merges in rank order) and cached, since deriving takes a while."""
    with open(os.path.join(RANKS, vocab + ".tiktoken"), "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()[:16]
    digest = hashlib.sha256(digest.encode() + _onig_pattern(vocab).encode()).hexdigest()[:16]
    path = os.path.join(CACHE_DIR, "hf-%s-%s.json" % (vocab, digest))
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            return f.read()
    ranks = load_ranks(vocab)
    alphabet = _byte_level_alphabet()
    spell = lambda b: "".join(alphabet[x] for x in b)  # noqa: E731
    merges = []
    for token, rank in sorted(ranks.items(), key=lambda kv: kv[1]):
        if len(token) < 2:
            continue
        parts = _merge_parts(ranks, token, rank)
        if len(parts) == 2:
            merges.append([spell(parts[0]), spell(parts[1])])
    definition = {
        "version": "1.0",
        "added_tokens": [],
        "normalizer": None,
        "pre_tokenizer": {
            "type": "Sequence",
            "pretokenizers": [
                {
                    "type": "Split",
                    "pattern": {"Regex": _onig_pattern(vocab)},
                    "behavior": "Isolated",
                    "invert": False,
                },
                {
                    "type": "ByteLevel",
                    "add_prefix_space": False,
                    "trim_offsets": False,
                    "use_regex": False,
                },
            ],
        },
        "post_processor": None,
        "decoder": {
            "type": "ByteLevel",
            "add_prefix_space": False,
            "trim_offsets": False,
            "use_regex": False,
        },
        "model": {
            "type": "BPE",
            "dropout": None,
            "unk_token": None,
            "continuing_subword_prefix": None,
            "end_of_word_suffix": None,
            "fuse_unk": False,
            "byte_fallback": False,
            "ignore_merges": True,
            "vocab": {spell(t): r for t, r in ranks.items()},
            "merges": merges,
        },
    }
    text = json.dumps(definition, ensure_ascii=False)
    os.makedirs(CACHE_DIR, exist_ok=True)
    with open(path + ".partial", "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(path + ".partial", path)
    return text


class HfTokenizers(Peer):
    name = "hf-tokenizers"

    def __init__(self, vocab):
        from tokenizers import Tokenizer

        self.tok = Tokenizer.from_str(hf_tokenizer_json(vocab))

    def encode(self, text):
        return self.tok.encode(text, add_special_tokens=False).ids

    def encode_batch(self, texts, threads):
        # Rayon's pool size is fixed at first use by RAYON_NUM_THREADS, which
        # run.py sets before anything starts.
        return [e.ids for e in self.tok.encode_batch(texts, add_special_tokens=False)]


class TokenDagger(Peer):
    name = "tokendagger"

    def __init__(self, vocab):
        import tokendagger

        self.enc = tokendagger.Encoding(
            vocab, pat_str=PATTERNS[vocab], mergeable_ranks=load_ranks(vocab), special_tokens={}
        )
        self.encode = self.enc.encode_ordinary


class Gigatoken(Peer):
    name = "gigatoken"

    def __init__(self, vocab):
        import gigatoken

        tok = gigatoken.Tokenizer.from_tiktoken(
            os.path.join(RANKS, vocab + ".tiktoken"),
            pretokenizer=vocab.split("_")[0],
            special_tokens={},
        )
        self.tok = tok
        self.compat = tok.as_tiktoken()
        self.encode = self.compat.encode_ordinary

    def encode_batch(self, texts, threads):
        # Its pool, like HF's, is sized by RAYON_NUM_THREADS (set by run.py).
        return self.tok.encode_batch_list(texts, parallel=True)


class Splintr(Peer):
    name = "splintr-rs"

    def __init__(self, vocab):
        import splintr

        # Its regex engine has no possessive quantifiers; it ships its own
        # spelling of the two patterns (the parity check still compares ids).
        own = {"cl100k_base": "CL100K_BASE_PATTERN", "o200k_base": "O200K_BASE_PATTERN"}
        pattern = getattr(splintr, own.get(vocab, ""), PATTERNS[vocab])
        self.tok = splintr.Tokenizer(os.path.join(RANKS, vocab + ".tiktoken"), pattern, {})
        self.encode = self.tok.encode_ordinary

    def encode_batch(self, texts, threads):
        return self.tok.encode_batch(texts)


class Riptoken(Peer):
    name = "riptoken"

    def __init__(self, vocab):
        import riptoken

        self.core = riptoken.CoreBPE(load_ranks(vocab), {}, PATTERNS[vocab])
        self.encode = self.core.encode_ordinary

    def encode_batch(self, texts, threads):
        return self.core.encode_ordinary_batch(texts)


OPTIONAL = (HfTokenizers, TokenDagger, Gigatoken, Splintr, Riptoken)


def make_peers(vocab, optional=True, log=print):
    """velkan, tiktoken and whichever optional peers can be made."""
    peers = [Velkan(vocab), Tiktoken(vocab)]
    if optional:
        for cls in OPTIONAL:
            try:
                peers.append(cls(vocab))
            except Exception as e:  # not installed, or cannot build here
                log("  %s unavailable for %s: %s" % (cls.name, vocab, str(e).splitlines()[0]))
    return peers
