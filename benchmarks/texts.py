"""The texts the benchmark runs on: the committed corpora, short snippets cut
from them, batches of documents, and generated adversarial texts."""

import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
CORPORA_DIR = os.path.join(HERE, "corpora")
CORPORA = ("english", "code", "multilingual", "docs", "scripts", "typographic")


def load_corpora():
    """{name: text} of the committed corpora (see corpora/SOURCES.md)."""
    texts = {}
    for name in CORPORA:
        with open(os.path.join(CORPORA_DIR, name + ".txt"), encoding="utf-8") as f:
            texts[name] = f.read()
    return texts


def prefix_bytes(text, size):
    """The longest prefix of text (repeated as needed) of at most size UTF-8
    bytes, cut on a character boundary."""
    data = text.encode("utf-8")
    while len(data) < size:
        data += data
    return data[:size].decode("utf-8", errors="ignore")


def short_texts(corpora, count=3000, seed=1):
    """Snippets of 20 to 100 UTF-8 bytes from all corpora, as an application
    sends chat messages, titles or log lines one by one."""
    rng = random.Random(seed)
    pool = [t.encode("utf-8") for t in corpora.values()]
    out = []
    while len(out) < count:
        data = rng.choice(pool)
        size = rng.randint(20, 100)
        start = rng.randrange(len(data) - size)
        snippet = data[start : start + size].decode("utf-8", errors="ignore")
        if snippet.strip():
            out.append(snippet)
    return out


def documents(corpora, size=4096):
    """All corpora cut into documents of about size bytes, at line ends."""
    docs = []
    for text in corpora.values():
        lines = text.splitlines(keepends=True)
        current, length = [], 0
        for line in lines:
            current.append(line)
            length += len(line.encode("utf-8"))
            if length >= size:
                docs.append("".join(current))
                current, length = [], 0
        if current:
            docs.append("".join(current))
    return docs


def _repeat(unit, size):
    reps = size // len(unit.encode("utf-8")) + 1
    return prefix_bytes(unit * reps, size)


def _long_word(size):
    rng = random.Random(2)
    return "".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(size))


def _indented_lines(size):
    # Blank lines with ever deeper indentation, as in generated code or
    # pretty-printed data: whitespace runs that hold many line breaks.
    parts, total, depth = [], 0, 0
    while total < size:
        part = "\n" + " " * (4 * (depth % 12))
        parts.append(part)
        total += len(part)
        depth += 1
    return "".join(parts)[:size]


def _random_unicode(size):
    # Assigned characters of many scripts and categories, no surrogates.
    rng = random.Random(3)
    ranges = [
        (0x20, 0x7E),
        (0xA0, 0x24F),
        (0x370, 0x3FF),
        (0x400, 0x4FF),
        (0x590, 0x6FF),
        (0x900, 0x97F),
        (0x3040, 0x30FF),
        (0x4E00, 0x9FFF),
        (0xAC00, 0xD7A3),
        (0x2000, 0x206F),
        (0x1F300, 0x1F64F),
    ]
    chars = []
    total = 0
    while total < size:
        lo, hi = rng.choice(ranges)
        c = chr(rng.randint(lo, hi))
        chars.append(c)
        total += len(c.encode("utf-8"))
    return prefix_bytes("".join(chars), size)


# name: function(size in bytes) -> text of about that many UTF-8 bytes
ADVERSARIAL = {
    "long word": _long_word,
    "spaces": lambda size: " " * size,
    "digits": lambda size: _repeat("3141592653589793238462643383279", size),
    "one CJK character": lambda size: _repeat("\u4e2d", size),
    "indented newlines": _indented_lines,
    "random Unicode": _random_unicode,
}

SCALING_SIZES = (1 << 10, 4 << 10, 16 << 10, 64 << 10, 256 << 10, 1 << 20)
