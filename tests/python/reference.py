"""The reference tokenizer, built offline from the repo's rank files, and the
text corpora the parity tests run over."""

import base64
import functools
import glob
import os

from velkan import _encodings_data as _facts

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
# The files the tests read (corpora, fixtures), shared with the C++ tests.
DATA = os.path.join(ROOT, "tests", "data")
RANKS = os.path.join(ROOT, "src", "vocab", "data")

# OpenAI's pre-split patterns for the embedded vocabularies: tiktoken's own
# spellings, which tests/python/test_encodings_data.py checks against tiktoken.
PATTERNS = {name: _facts.ENCODINGS[name].pat_str for name in _facts.VOCABULARIES}

VOCABULARIES = ("cl100k_base", "o200k_base")
# Every embedded vocabulary (the table's), for the parity tests; the API
# tests run over the two above.
ALL_VOCABULARIES = tuple(_facts.VOCABULARIES)
# A rank file stored as the lines that follow another's.
RANK_FILE_BASE = {
    v.name: (_facts.VOCABULARIES[v.base].data_file, v.data_file)
    for v in _facts.VOCABULARIES.values()
    if v.base
}

# Characters that stress the pre-split rules: every kind of whitespace, line
# breaks, apostrophes and contraction letters, digits and letters of many
# scripts and categories, combining marks, symbols, emoji.
TRICKY = (
    list(
        "\t\n\x0b\x0c\r \x85\xa0\u1680\u180e\u2000\u2001\u2005\u200a"
        "\u2028\u2029\u202f\u205f\u3000\u200b"
    )
    + list("'\u2019sSdDmMtTlLvVeErR\u017f\u212a")
    + list("0123456789\u0660\u0967\u0e51\u00b2\u00bd\u2160\u2460")
    + list("aZ\u00e9\u00c9\u01c5\u02b0\u05d0\u4e2d\u3042\u30a2\uac00\u0394\u03b4\u0416\u0436")
    + list("\u0301\u0903\u20dd\u064b")
    + list('!?.,;:-_/\\()[]{}<>@#$%^&*+=|~`"')
    + ["\U0001f600", "\U0001f44d\U0001f3fd", "\u200d", "\ufe0f", "\U00010000", "\U0001d400"]
)


def rank_file_bytes(name):
    """The published rank file of a vocabulary, as its bytes (a file stored as
    the lines after another's is joined back)."""
    parts = []
    for file_name in RANK_FILE_BASE.get(name, (name + ".tiktoken",)):
        with open(os.path.join(RANKS, file_name), "rb") as f:
            parts.append(f.read())
    return b"".join(parts)


def load_ranks(name):
    ranks = {}
    for line in rank_file_bytes(name).splitlines():
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
    for path in sorted(glob.glob(os.path.join(DATA, "corpus", "*.txt"))):
        texts["data/" + os.path.basename(path)] = _read(path)
    for path in sorted(glob.glob(os.path.join(ROOT, "benchmarks", "corpora", "*.txt"))):
        texts["benchmarks/" + os.path.basename(path)] = _read(path, 48 * 1024)
    for pattern in (
        "src/velkan/*.py",
        "src/velkan/cli/*.py",
        "tests/python/test_*.py",
        "src/core/*.cc",
        "src/driver/*.h",
    ):
        for path in sorted(glob.glob(os.path.join(ROOT, pattern))):
            texts[os.path.relpath(path, ROOT)] = _read(path)
    return {k: v for k, v in texts.items() if v}
