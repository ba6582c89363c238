"""The texts the benchmark runs on: the committed corpora, short snippets cut
from them, batches of documents, and generated adversarial texts."""

import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
CORPORA_DIR = os.path.join(HERE, "corpora")
CORPORA = ("english", "code", "multilingual", "docs", "scripts", "typographic")
# Rows added later: not in CORPORA, so that what run.py, the short texts and
# the other benchmarks draw from CORPORA keeps its meaning. "csv" is made by
# csv_table, the others are files.
MORE_CORPORA = ("cjk", "csv", "shell_perl")
ALL_CORPORA = CORPORA + MORE_CORPORA
CSV_BYTES = 300_000


def load_corpora(names=CORPORA):
    """{name: text} of the committed corpora (see corpora/SOURCES.md) and the
    generated CSV table."""
    texts = {}
    for name in names:
        if name == "csv":
            texts[name] = csv_table(CSV_BYTES)
            continue
        with open(os.path.join(CORPORA_DIR, name + ".txt"), encoding="utf-8") as f:
            texts[name] = f.read()
    return texts


_CSV_NAMES = (
    "Abbott",
    "Baker",
    "Chen",
    "Dubois",
    "Evans",
    "Fischer",
    "Garcia",
    "Haddad",
    "Ivanova",
    "Jensen",
    "Kowalski",
    "Larsen",
    "Müller",
    "Nakamura",
    "O'Brien",
    "Patel",
    "Quinn",
    "Rossi",
    "Schmidt",
    "Tanaka",
    "Uddin",
    "Varga",
    "Weber",
    "Xu",
    "Yilmaz",
    "Zhang",
)
_CSV_CITIES = ("Berlin", "Lyon", "Osaka", "Porto", "Quito", "Riga", "Tartu", "Turku", "Oslo")
_CSV_STATUS = ("paid", "open", "void", "refunded", "shipped")


def csv_table(size, seed=11):
    """A table of orders as a spreadsheet exports it, at most size UTF-8
    bytes in whole lines: ids, ISO dates and times, short names, codes,
    integers, decimals with two or four places, negative amounts,
    percentages, a few empty fields and quoted names. Digits and commas make
    most of it (runs of digits, which the patterns cut in threes)."""
    rng = random.Random(seed)
    lines = [
        "order_id,date,time,customer,city,sku,quantity,unit_price,discount,total,"
        "balance,rate,status\n"
    ]
    total = len(lines[0])
    order = 100_000
    while True:
        order += rng.randint(1, 9)
        name = rng.choice(_CSV_NAMES)
        if "'" in name or rng.random() < 0.05:
            name = '"%s, %s."' % (name, chr(65 + rng.randrange(26)))
        quantity = rng.choice((1, 1, 2, 3, 5, 10, 12, 24, 100, rng.randint(1, 5000)))
        price = rng.randint(5, 250_000) / 100
        discount = rng.choice(("", "", "0.05", "0.10", "%.2f" % (rng.randint(1, 40) / 100)))
        amount = quantity * price * (1 - float(discount or 0))
        line = "%d,2026-%02d-%02d,%02d:%02d:%02d,%s,%s,%s-%04d,%d,%.2f,%s,%.2f,%.2f,%.4f%%,%s\n" % (
            order,
            rng.randint(1, 12),
            rng.randint(1, 28),
            rng.randrange(24),
            rng.randrange(60),
            rng.randrange(60),
            name,
            rng.choice(_CSV_CITIES),
            "".join(rng.choice("ABCDEFGHJKLMNPQRSTUVWXYZ") for _ in range(3)),
            rng.randrange(10_000),
            quantity,
            price,
            discount,
            amount,
            rng.uniform(-50_000, 50_000),
            rng.uniform(0, 100),
            rng.choice(_CSV_STATUS),
        )
        size_line = len(line.encode("utf-8"))
        if total + size_line > size:
            return "".join(lines)
        lines.append(line)
        total += size_line


def long_text(size):
    """One text of size UTF-8 bytes for the long regime: every corpus in
    ALL_CORPORA one after the other, then (if still short) a CSV table of
    other numbers, so that no part of it repeats an earlier part."""
    text = "".join(load_corpora(ALL_CORPORA).values())
    missing = size - len(text.encode("utf-8"))
    if missing > 0:
        text += csv_table(missing, seed=12)
    return prefix_bytes(text, size)


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
