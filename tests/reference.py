"""The reference tokenizer, built offline from the repo's rank files, and the
text corpora the parity tests run over."""

import base64
import functools
import glob
import os

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
RANKS = os.path.join(ROOT, "src", "vocab", "data")

# OpenAI's pre-split patterns for the two vocabularies.
PATTERNS = {
    "cl100k_base": r"""'(?i:[sdmt]|ll|ve|re)|[^\r\n\p{L}\p{N}]?+\p{L}++|\p{N}{1,3}+| ?[^\s\p{L}\p{N}]++[\r\n]*+|\s++$|\s*[\r\n]|\s+(?!\S)|\s""",  # noqa: E501
    "o200k_base": "|".join(
        [
            r"""[^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]*[\p{Ll}\p{Lm}\p{Lo}\p{M}]+(?i:'s|'t|'re|'ve|'m|'ll|'d)?""",
            r"""[^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]+[\p{Ll}\p{Lm}\p{Lo}\p{M}]*(?i:'s|'t|'re|'ve|'m|'ll|'d)?""",
            r"""\p{N}{1,3}""",
            r""" ?[^\s\p{L}\p{N}]+[\r\n/]*""",
            r"""\s*[\r\n]+""",
            r"""\s+(?!\S)""",
            r"""\s+""",
        ]
    ),
}

VOCABULARIES = ("cl100k_base", "o200k_base")


def load_ranks(name):
    ranks = {}
    with open(os.path.join(RANKS, name + ".tiktoken"), "rb") as f:
        for line in f:
            token, rank = line.split()
            ranks[base64.b64decode(token)] = int(rank)
    return ranks


@functools.cache
def reference(name):
    """tiktoken's Encoding for the vocabulary, without any download."""
    import tiktoken

    return tiktoken.Encoding(
        name, pat_str=PATTERNS[name], mergeable_ranks=load_ranks(name), special_tokens={}
    )


@functools.cache
def tokenizer(name):
    import velkan.bpe.openai as openai

    return getattr(openai, name)()


def _read(path, limit=None):
    with open(path, encoding="utf-8") as f:
        return f.read(limit)


@functools.cache
def corpus():
    """{label: text}: texts of many kinds, all committed to the repository, so
    that every machine tests the same: the test corpus, the start of each
    benchmark corpus (prose, code, many scripts), and the repository's own
    Python and C++ sources."""
    texts = {}
    for path in sorted(glob.glob(os.path.join(HERE, "data", "corpus", "*.txt"))):
        texts["data/" + os.path.basename(path)] = _read(path)
    for path in sorted(glob.glob(os.path.join(ROOT, "benchmarks", "corpora", "*.txt"))):
        texts["benchmarks/" + os.path.basename(path)] = _read(path, 48 * 1024)
    for pattern in ("src/velkan/*.py", "tests/test_*.py", "src/core/*.cc", "src/driver/*.h"):
        for path in sorted(glob.glob(os.path.join(ROOT, pattern))):
            texts[os.path.relpath(path, ROOT)] = _read(path)
    return {k: v for k, v in texts.items() if v}
