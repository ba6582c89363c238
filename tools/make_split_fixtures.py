"""Writes tests/data/split_cases.txt, the pieces that the reference patterns of
cl100k_base and o200k_base cut texts into, for tests/native/split_test.cc, and one file
per further pattern for the same suite: split_cases_r50k.txt (r50k_base,
p50k_base, p50k_edit), split_cases_cl100k_legacy.txt (cl100k_base's older
spelling, which Llama 3 uses), split_cases_qwen2.txt (Qwen's pattern) and
split_cases_tekken.txt (Mistral's Tekken pattern).

Run from anywhere (needs PyPI's regex; tiktoken for --check-tiktoken):
    python3 tools/make_split_fixtures.py [--check-tiktoken] [--ranks DIR]
    python3 tools/make_split_fixtures.py --only NAME --random N --seed S --output FILE

One case per line: the text's UTF-8 bytes in hex, then the byte lengths of
its cl100k pieces and of its o200k pieces, each list comma-separated (the
files of the further patterns have one list). The second form writes only
N random cases of the pattern NAME (r50k, cl100k_legacy, qwen2 or tekken) to
FILE: a large differential run, which split_test.cc reads from
$VELKAN_SPLIT_CASES_<NAME> (e.g. $VELKAN_SPLIT_CASES_QWEN2). Texts
are hand-written samples (code, legal text, prose in many scripts) and random
strings over an alphabet of awkward characters, seeded so that the output is
stable. `regex` follows a newer Unicode than our tables (16.0.0), so the
alphabet keeps only characters whose category both agree on; the script
stops if a sample text uses one that differs.

--check-tiktoken also encodes every text with tiktoken (rank files from
src/vocab/data or --ranks; r50k is skipped when its file is absent) and checks that the pieces found here give its token ids,
i.e. that `regex` and tiktoken's engine read the patterns alike.
"""

import argparse
import os
import random
import sys

import regex

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUTPUT = os.path.join(ROOT, "tests", "data", "split_cases.txt")
CATEGORY_FILE = os.path.join(ROOT, "src", "presplit", "GeneralCategory-16.0.0.txt")

sys.path.insert(0, os.path.join(ROOT, "tests", "python"))
from reference import PATTERNS, _facts  # noqa: E402

CL100K = PATTERNS["cl100k_base"]
O200K = PATTERNS["o200k_base"]
# tiktoken's pattern for r50k_base, p50k_base and p50k_edit (and gpt2).
R50K = r"""'(?:[sdmt]|ll|ve|re)| ?\p{L}++| ?\p{N}++| ?[^\s\p{L}\p{N}]++|\s++$|\s+(?!\S)|\s"""
# cl100k_base's pattern as tiktoken spelt it before 0.7, and Llama 3 still does.
CL100K_LEGACY = (
    r"""(?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}{1,3}"""
    r"""| ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+"""
)

# The patterns of Qwen's and Mistral's Tekken vocabularies, as velkan picks
# their rule sets by them.
QWEN2 = _facts.QWEN2_PAT_STR
TEKKEN = _facts.TEKKEN_PAT_STR

SAMPLES = [
    # C++
    """#include <vector>\n\nnamespace demo {\n\n// Sums the values; returns 0 for an empty list.\n"""
    """template <typename T>\nT sum(const std::vector<T>& values) {\n  T total{};\n"""
    """  for (const T& v : values) total += v;  // no overflow check\n    \n  return total;\n}\n\n"""
    """}  // namespace demo\n""",
    # Python with CRLF line ends and an indented blank line
    "def parse(line):\r\n    '''Splits 'key = value' pairs.'''\r\n    key, _, value = line.partition('=')\r\n"
    '        \r\n    if not key.strip():\r\n        raise ValueError(f"bad line: {line!r}")\r\n'
    "    return key.strip(), value.strip()  # it's fine\r\n\r\n\r\nprint(parse('a = 1'))\r\n",
    # JavaScript
    "const users = await fetch('/api/v2/users?limit=100').then(r => r.json());\n"
    "users.filter(u => u.isActive && u.lastLogin > Date.now() - 86_400_000)\n"
    "     .forEach(({ firstName, lastName }) => console.log(`${firstName} ${lastName}`));\n"
    "// TODO: handle HTTPError, XMLHttpRequest fallbacks, i18n of 'don't' strings\n",
    # Rust
    "impl<'a> Parser<'a> {\n    pub fn new(src: &'a str) -> Self {\n        Self { src, pos: 0 }\n    }\n\n"
    "    fn peek(&self) -> Option<char> { self.src[self.pos..].chars().next() }\n}\n\t\n\tfn main() {}\n",
    # Shell, SQL, HTML, JSON
    '#!/bin/sh\nset -eu\nfor f in ./data/*.csv; do\n  wc -l "$f" >> /tmp/counts.txt 2>&1\ndone\n'
    "SELECT u.id, COUNT(*) AS n FROM users u JOIN orders o ON o.user_id = u.id\n"
    "  WHERE o.created_at >= '2024-01-01' GROUP BY u.id HAVING n > 3;\n"
    "<p class=\"note\">Don't <b>panic</b>&nbsp;&mdash; it's only HTML.</p>\n"
    '{"name": "velkan", "version": "1.0.0", "tags": ["bpe", "tokenizer"], "ok": true}\n',
    # Licence-like legal text
    'Licensed under the Apache License, Version 2.0 (the "License"); you may not use this file except in\n'
    "compliance with the License. You may obtain a copy of the License at\n\n"
    "    http://www.apache.org/licenses/LICENSE-2.0\n\n"
    "Unless required by applicable law or agreed to in writing, software distributed under the License is\n"
    'distributed on an "AS IS" BASIS, WITHOUT WARRANTIES OR CONDITIONS OF ANY KIND. Licensor’s liability\n'
    "shall not exceed the fees paid (if any) during the twelve (12) months preceding the claim; "
    "each party’s obligations under Sections 4.2(b)–(d) survive termination.   \n\n  ",
    "THE SOFTWARE IS PROVIDED “AS IS”, WITHOUT WARRANTY OF ANY KIND, EXPRESS OR IMPLIED, INCLUDING BUT NOT\n"
    "LIMITED TO THE WARRANTIES OF MERCHANTABILITY, FITNESS FOR A PARTICULAR PURPOSE AND NONINFRINGEMENT.\n"
    "IN NO EVENT SHALL THE AUTHORS OR COPYRIGHT HOLDERS BE LIABLE FOR ANY CLAIM, DAMAGES OR OTHER LIABILITY.",
    # English prose with both apostrophes
    "It's 9:30 a.m. and we've already shipped v3.2.1 — the team's third release this week. "
    "I'd say they'll need a break; they're tired, and you'd be too. She said “don’t worry, it’s fine,” "
    "but I wasn’t sure. The O'Neills' dog (a 12-year-old collie) barked at 3,000,000 pigeons!!! ...\n\n",
    # German
    "Größere Änderungen am Straßenverkehrsgesetz: Die Bundesregierung hat am 14. März beschlossen, "
    "dass Fahrräder künftig „vorrangig“ behandelt werden. Übrigens: Das Café öffnet um 8 Uhr.\n",
    # French with typographic quotes
    "« L’été dernier, j’ai visité l’Île-de-France », a-t-elle dit. C’est très beau ; n’est-ce pas ? "
    "Aujourd’hui, l’hôtel coûte 120 € la nuit… Qu’en penses-tu ?\n",
    # Russian, Greek
    "Съешь же ещё этих мягких французских булок, да выпей чаю. В 2024 году — «новые» правила.\n"
    "Ξεσκεπάζω την ψυχοφθόρα βδελυγμία. Η ΕΛΛΑΔΑ είναι όμορφη· ναι;\n",
    # Arabic, Hebrew, Hindi
    "اللغة العربية جميلة جداً، وهي لغة القرآن الكريم. عدد السكان ٤٥ مليون نسمة.\n"
    "שלום עולם! זה טקסט בעברית.\n"
    "हिन्दी भारत की राजभाषा है। इसमें १२३ अंक और मात्राएँ हैं — क्या आप जानते हैं?\n",
    # Chinese, Japanese, Korean
    "中华人民共和国成立于1949年10月1日。北京是首都，人口约2100万。“你好，世界！”\n"
    "吾輩は猫である。名前はまだ無い。カタカナ、ひらがな、漢字を混ぜて書く。ＡＢＣ１２３ー\n"
    "대한민국의 수도는 서울입니다. 한국어는 아름다운 언어예요! 2024년 3월.\n",
    # Thai, Vietnamese, emoji
    "ภาษาไทยไม่มีการเว้นวรรคระหว่างคำ Tiếng Việt có nhiều dấu thanh: ắ, ổ, ự.\n"
    "Great job 👍🏽🎉! Love it ❤️‍🔥 — see you 🚀🚀🚀 at 10:00 👨‍👩‍👧.\n",
    # Mixed case and camel case words
    "parseHTTPResponse getXMLHttpRequest iPhone McDonald's IEEE754 ABCdef DÉJÀvu ǅemal ǈubljana "
    "USAToday naïveté Ωmega ωMEGA αΒγΔ ÉCOLE'S HELLO'LL it'S\n",
    # Whitespace layouts
    "line one   \n\n   \n\t\tindented\n \n  \n    deep\r\n\r\n  crlf  \r\n\tend\u3000\u3000x\u00a0y  z",
    "a\n\n\n\nb\n \n \n c  \n\t\n",
    "   leading spaces, then   gaps  ,  and trailing   ",
]

# Characters and fragments for random strings; several entries per kind set
# the weights.
ALPHABET = [
    # White_Space, each one
    "\t",
    "\n",
    "\x0b",
    "\x0c",
    "\r",
    " ",
    " ",
    " ",
    " ",
    "\x85",
    "\xa0",
    "\u1680",
    *[chr(c) for c in range(0x2000, 0x200B)],
    "\u2028",
    "\u2029",
    "\u202f",
    "\u205f",
    "\u3000",
    # not White_Space, though some treat them so
    "\u180e",
    "\u200b",
    "\x1c",
    "\x1f",
    "\ufeff",
    # line break mixes
    "\r\n",
    "\n\n",
    "\r\r",
    "\n\r",
    "  \n",
    "\n  ",
    # apostrophes and contraction letters
    "'",
    "'",
    "\u2019",
    "\u2019",
    "'s",
    "'S",
    "'t",
    "'T",
    "'m",
    "'M",
    "'d",
    "'D",
    "'ll",
    "'LL",
    "'lL",
    "'Ll",
    "'re",
    "'RE",
    "'rE",
    "'ve",
    "'VE",
    "'vE",
    "'l",
    "'r",
    "'v",
    "'\u017f",
    "'\u017ft",
    "\u2019s",
    "\u2019t",
    "\u2019ll",
    "\u2019RE",
    "\u2019ve",
    "\u2019m",
    "\u2019d",
    "\u017f",
    "\u212a",
    # numbers of several scripts, Nd, Nl, No
    "0",
    "1",
    "2",
    "3",
    "7",
    "9",
    "42",
    "12345",
    "\u0663",
    "\u096d",
    "\uff13",
    "\u00b2",
    "\u00bd",
    "\u216b",
    "\u3007",
    "\u2460",
    "\U0001d7d9",
    # letters: Lu, Ll, Lt, Lm, Lo
    "A",
    "B",
    "Z",
    "a",
    "b",
    "z",
    "x",
    "I",
    "\u00c9",
    "\u00e9",
    "\u00df",
    "\u03a9",
    "\u03c9",
    "\u0414",
    "\u0434",
    "\u01c5",
    "\u01c8",
    "\u01cb",
    "\u1f88",
    "\u02b0",
    "\u02c7",
    "\u30fc",
    "\u1d43",
    "\u3042",
    "\u4e2d",
    "\u6587",
    "\u05d0",
    "\u0627",
    "\u0e01",
    "\ud55c",
    "\u00aa",
    "Hello",
    "hello",
    "HELLO",
    "camelCase",
    "XMLHttp",
    "don",
    "they",
    "I",
    # marks: Mn, Mc, Me
    "\u0301",
    "\u0308",
    "\u0903",
    "\u093f",
    "\u20dd",
    "\u064b",
    "\u0e31",
    "\ufe0f",
    # punctuation and symbols, '/' among them
    "!",
    ".",
    ",",
    "/",
    "/",
    "//",
    "\\",
    "-",
    "_",
    "$",
    "\u20ac",
    "\u00ab",
    "\u00bb",
    "\u201c",
    "\u201d",
    "(",
    ")",
    "#",
    "@",
    "*",
    "+",
    "=",
    "<",
    ">",
    "&",
    "|",
    "~",
    "`",
    "^",
    "\u00b0",
    "\u00a9",
    "\u2026",
    "\u2014",
    "\u2022",
    "\u00b7",
    # emoji and joiners
    "\U0001f600",
    "\U0001f44d",
    "\U0001f3fd",
    "\u2764",
    "\U0001f680",
    "\u200d",
    # controls, private use, unassigned
    "\x00",
    "\x7f",
    "\x9f",
    "\u00ad",
    "\ue000",
    "\u0378",
    "\U0010ffff",
]


# What r50k's rules add to the alphabet: a single space before every kind of
# run, contractions after a space and in upper case, unbounded number runs.
ALPHABET_R50K = ALPHABET + [
    " ",
    " ",
    "  ",
    " '",
    " 's",
    " 'S",
    " 'll",
    "'Ll",
    " 'VE",
    "'re'",
    "''s",
    "'ss",
    " 1",
    " 12",
    "123456789",
    "\u0663\u0664\u0665\u0666",
    " \u00bd",
    "1\u00b2",
    " \u00e9",
    " \u4e2d",
    " A",
    " \u0301",
    " !",
    " /",
    " \u2019s",
    " \U0001f600",
    " \n",
    "\n\n\n",
    "\r\n\r\n",
    "\t ",
    " \t",
    "\xa0 ",
    " \xa0",
    "\u3000 ",
]


def unicode16_categories():
    cats = {}
    with open(CATEGORY_FILE, encoding="ascii") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                points, code = (part.strip() for part in line.split(";"))
                first, _, last = points.partition("..")
                for cp in range(int(first, 16), int(last or first, 16) + 1):
                    cats[cp] = code
    return cats


def agrees(ch, cats):
    return regex.match(r"\p{gc=%s}" % cats.get(ord(ch), "Cn"), ch) is not None


def pieces(pattern, text):
    found = [m.group() for m in pattern.finditer(text)]
    assert "".join(found) == text, "pieces do not cover %r" % text
    return found


def random_texts(count, rng, alphabet):
    texts = set()
    while len(texts) < count:
        texts.add("".join(rng.choice(alphabet) for _ in range(rng.randint(1, 14))))
    return sorted(texts)


def check_tiktoken(texts, named_patterns, ranks_dir):
    import tiktoken
    from tiktoken.load import load_tiktoken_bpe

    for name, pattern in named_patterns:
        path = os.path.join(ranks_dir, name + ".tiktoken")
        if name == "r50k_base" and not os.path.exists(path):
            print("make_split_fixtures: no %s, r50k not checked against tiktoken" % path)
            continue
        ranks = load_tiktoken_bpe(path)
        enc = tiktoken.Encoding(
            name, pat_str=pattern.pattern, mergeable_ranks=ranks, special_tokens={}
        )
        for text in texts:
            mine = [t for p in pieces(pattern, text) for t in enc._encode_single_piece(p)]
            if mine != enc.encode_ordinary(text):
                sys.exit("make_split_fixtures: %s disagrees with tiktoken on %r" % (name, text))
        print(
            "make_split_fixtures: tiktoken agrees on all %d texts (%s ranks, %.24r...)"
            % (len(texts), name, pattern.pattern)
        )


def check_r50k_pattern():
    """The pattern here must be tiktoken's own, where tiktoken is installed."""
    try:
        from tiktoken_ext.openai_public import r50k_pat_str
    except ImportError:
        return
    if r50k_pat_str != R50K:
        sys.exit("make_split_fixtures: tiktoken's r50k pattern is now %r" % r50k_pat_str)


def lengths(pattern, text):
    return ",".join(str(len(p.encode("utf-8"))) for p in pieces(pattern, text))


def write_single(path, texts, name, pattern):
    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write("# GENERATED BY tools/make_split_fixtures.py; DO NOT EDIT.\n")
        f.write("# text as UTF-8 hex, %s piece lengths\n" % name)
        for text in texts:
            f.write("%s %s\n" % (text.encode("utf-8").hex(), lengths(pattern, text)))
    print("make_split_fixtures: wrote %d cases to %s" % (len(texts), os.path.relpath(path)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--check-tiktoken", action="store_true")
    parser.add_argument("--ranks", default=os.path.join(ROOT, "src", "vocab", "data"))
    parser.add_argument("--only", choices=["r50k", "cl100k_legacy", "qwen2", "tekken"])
    parser.add_argument("--random", type=int, help="random texts for --only")
    parser.add_argument("--seed", type=int, default=1, help="for --only")
    parser.add_argument("--output", help="the cases file for --only")
    args = parser.parse_args()
    check_r50k_pattern()
    cats = unicode16_categories()
    bad = sorted({ch for text in SAMPLES for ch in text if not agrees(ch, cats)})
    if bad:
        sys.exit("make_split_fixtures: categories differ from Unicode 16 for %r" % bad)
    alphabet = [item for item in ALPHABET if all(agrees(ch, cats) for ch in item)]
    dropped = sorted(set(ALPHABET) - set(alphabet))
    if dropped:
        print("make_split_fixtures: left out (category differs in regex): %r" % dropped)
    alphabet_r50k = [item for item in ALPHABET_R50K if all(agrees(ch, cats) for ch in item)]

    # name: (pattern, rank file for --check-tiktoken, alphabet, random texts, seed)
    singles = {
        "r50k": (R50K, "r50k_base", alphabet_r50k, 4000, 20261208),
        "cl100k_legacy": (CL100K_LEGACY, "cl100k_base", alphabet, 3000, 20261209),
        "qwen2": (QWEN2, "cl100k_base", alphabet, 3000, 20261210),
        "tekken": (TEKKEN, "o200k_base", alphabet, 3000, 20261211),
    }
    if args.only:
        pattern, ranks, chars, count, _ = singles[args.only]
        texts = random_texts(args.random or count, random.Random(args.seed), chars)
        if args.check_tiktoken:
            check_tiktoken(texts, [(ranks, regex.compile(pattern))], args.ranks)
        write_single(
            args.output or os.path.join(ROOT, "tests", "data", "split_cases_%s.txt" % args.only),
            texts,
            args.only,
            regex.compile(pattern),
        )
        return

    texts = SAMPLES + random_texts(3000, random.Random(20240516), alphabet)
    cl100k, o200k = regex.compile(CL100K), regex.compile(O200K)
    if args.check_tiktoken:
        check_tiktoken(texts, [("cl100k_base", cl100k), ("o200k_base", o200k)], args.ranks)
    with open(OUTPUT, "w", encoding="ascii", newline="\n") as f:
        f.write("# GENERATED BY tools/make_split_fixtures.py; DO NOT EDIT.\n")
        f.write("# text as UTF-8 hex, cl100k piece lengths, o200k piece lengths\n")
        for text in texts:
            f.write(
                "%s %s %s\n"
                % (text.encode("utf-8").hex(), lengths(cl100k, text), lengths(o200k, text))
            )
    print("make_split_fixtures: wrote %d cases to %s" % (len(texts), os.path.relpath(OUTPUT)))

    for name, (pattern, ranks, chars, count, seed) in singles.items():
        texts = SAMPLES + random_texts(count, random.Random(seed), chars)
        if args.check_tiktoken:
            check_tiktoken(texts, [(ranks, regex.compile(pattern))], args.ranks)
        write_single(
            os.path.join(ROOT, "tests", "data", "split_cases_%s.txt" % name),
            texts,
            name,
            regex.compile(pattern),
        )


if __name__ == "__main__":
    main()
