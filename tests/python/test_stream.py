"""Encoding.stream(): the ids of a text fed in parts, cut anywhere, equal
those of the whole text, with special tokens, invalid UTF-8, counts and
bounded memory."""

import functools

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import velkan

BUILTIN = ("r50k_base", "p50k_base", "cl100k_base", "o200k_base")
# r50k's pattern with case-folded contractions: no native rule set splits it.
CUSTOM_PATTERN = r"""'(?i:[sdmt]|ll|ve|re)| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+"""
ALL = BUILTIN + ("custom",)

# What moves a piece's end: contractions in both cases, whitespace runs with
# line breaks, numbers, marks, CJK, '/' after symbols, half a special token.
ALPHABET = (
    ["'", "s", "t", "l", "v", "e", "r", "d", "m", "S", "T", "L", "V", "E", "R", "D", "M"]
    + [" ", "  ", "\t", "\r", "\n", "\u00a0", "\u3000", "\u0085"]
    + ["1", "23", "٣", "a", "Z", "é", "e\u0301", "\u0301", "中文", "ǅ", "ß", "ſ"]
    + [".", ",", "!", "/", "//", "-", "'ll", "'S", "don't", "?!", "\U0001f600", "ª"]
    + ["<|endoftext|>", "<|endo", "ftext|>", "<|", "|>", "<|fim_prefix|>"]
)
tricky = st.lists(st.sampled_from(ALPHABET), max_size=60).map("".join)
cuts = st.lists(st.integers(0, 400), max_size=12)


@pytest.fixture(scope="module", params=ALL)
def enc(request):
    if request.param != "custom":
        return velkan.get_encoding(request.param)
    base = velkan.get_encoding("r50k_base")
    return velkan.Encoding(
        "custom",
        pat_str=CUSTOM_PATTERN,
        mergeable_ranks=base._mergeable_ranks,
        special_tokens=base._special_tokens,
    )


def parts(data, positions):
    bounds = sorted({min(p, len(data)) for p in positions} | {0, len(data)})
    return [data[a:b] for a, b in zip(bounds, bounds[1:])]


def streamed(stream, pieces, count=False):
    if count:
        return sum(stream.feed_count(p) for p in pieces) + stream.finish_count()
    out = []
    for p in pieces:
        out += stream.feed(p)
    return out + stream.finish()


@settings(max_examples=400, deadline=None)
@given(text=tricky, positions=cuts)
def test_any_cut_of_a_str_gives_encode(enc, text, positions):
    expected = enc.encode(text, disallowed_special=())
    assert streamed(enc.stream(disallowed_special=()), parts(text, positions)) == expected
    assert streamed(enc.stream(disallowed_special=()), parts(text, positions), True) == len(
        expected
    )


@settings(max_examples=300, deadline=None)
@given(text=tricky, positions=cuts)
def test_bytes_cut_inside_characters_give_encode(enc, text, positions):
    data = text.encode("utf-8")
    expected = enc.encode(text, disallowed_special=())
    assert streamed(enc.stream(disallowed_special=()), parts(data, positions)) == expected


@settings(max_examples=300, deadline=None)
@given(text=tricky, positions=cuts)
def test_allowed_special_tokens_are_found_across_parts(enc, text, positions):
    expected = enc.encode(text, allowed_special="all")
    assert streamed(enc.stream(allowed_special="all"), parts(text, positions)) == expected
    data = text.encode("utf-8")
    assert streamed(enc.stream(allowed_special="all"), parts(data, positions)) == expected


@settings(max_examples=150, deadline=None)
@given(text=tricky, positions=cuts)
def test_disallowed_special_tokens_raise_as_encode_does(enc, text, positions):
    try:
        expected = enc.encode(text)
    except ValueError as e:
        with pytest.raises(ValueError) as raised:
            streamed(enc.stream(), parts(text, positions))
        assert str(raised.value) == str(e)
    else:
        assert streamed(enc.stream(), parts(text, positions)) == expected


# Bytes that are not UTF-8: lone lead and continuation bytes, a lone 0x85
# (NEL when read alone) and 0xA0, truncated sequences.
BYTE_ALPHABET = [
    b"\x80",
    b"\x85",
    b"\xa0",
    b"\xc2",
    b"\xe4",
    b"\xe4\xb8",
    b"\xf0\x9f",
    b"\xff",
    b"a",
    b" ",
    b"  ",
    b"\n",
    b"'",
    b"s",
    b"1",
    b".",
    "中".encode(),
    "\u0301".encode(),
]


@pytest.mark.parametrize("name", BUILTIN)
@settings(max_examples=300, deadline=None)
@given(chunks=st.lists(st.sampled_from(BYTE_ALPHABET), max_size=40), positions=cuts)
def test_invalid_utf8_gives_the_byte_level_encode(name, chunks, positions):
    enc = velkan.get_encoding(name)
    data = b"".join(chunks)
    expected = enc._tokenizer.encode(data)
    assert streamed(enc.stream(), parts(data, positions)) == expected
    assert streamed(enc.stream(), parts(data, positions), True) == len(expected)


@pytest.mark.parametrize(
    "pieces",
    [
        ["a\ud83d", "\ude00b"],  # a surrogate pair split across parts joins
        ["x\ud800", " y"],  # a lone one is U+FFFD
        ["x\ud800"],
        ["\udc00", "z"],
    ],
)
def test_surrogates_follow_encode(pieces):
    enc = velkan.get_encoding("cl100k_base")
    assert streamed(enc.stream(), pieces) == enc.encode("".join(pieces))


@pytest.mark.parametrize(
    "text",
    [
        "word " * 40000,  # plain prose
        "a/" * 60000,  # no whitespace at all
        "中文，" * 30000,  # CJK with its own punctuation
        "x = f(y);\n\t" * 20000,
    ],
)
def test_memory_stays_near_the_last_piece(text):
    enc = velkan.get_encoding("o200k_base")
    stream = enc.stream()
    held = 0
    got = []
    for i in range(0, len(text), 4096):
        got += stream.feed(text[i : i + 4096])
        held = max(held, stream._held_bytes())
    assert got + stream.finish() == enc.encode(text)
    assert held < 4096 * 4 + 64


def test_a_piece_that_never_ends_is_held_whole_and_split_rarely():
    enc = velkan.get_encoding("cl100k_base")
    stream = enc.stream()
    ids = []
    for _ in range(256):
        ids += stream.feed(" " * 8192)
    assert ids == []  # trailing whitespace can still change
    assert ids + stream.feed("x") + stream.finish() == enc.encode(" " * 8192 * 256 + "x")


def test_mixing_and_misuse_raise_clear_errors():
    enc = velkan.get_encoding("cl100k_base")
    stream = enc.stream()
    stream.feed("text")
    with pytest.raises(TypeError, match="fed str, so every part must be str, not bytes"):
        stream.feed(b"bytes")
    with pytest.raises(TypeError, match="must be str or bytes-like, not int"):
        enc.stream().feed(3)
    stream = enc.stream()
    assert stream.feed(bytearray(b"hello world ")) + stream.finish() == enc.encode("hello world ")
    with pytest.raises(ValueError, match="stream is finished"):
        stream.feed("more")
    with pytest.raises(ValueError, match="stream is finished"):
        stream.finish()
    assert enc.stream().finish() == []
    # A stream that raised is done: it cannot tell which ids it gave.
    stream = enc.stream()
    with pytest.raises(ValueError, match="disallowed special token"):
        stream.feed("a <|endoftext|>")
    with pytest.raises(ValueError, match="stream is finished"):
        stream.feed("b")


@pytest.mark.parametrize("name", BUILTIN)
def test_ids_come_as_soon_as_they_are_certain(name):
    enc = velkan.get_encoding(name)
    stream = enc.stream()
    first = stream.feed("Hello world, this is a stream of words ")
    # Everything up to the last word or two is out already.
    assert enc.decode(first).startswith("Hello world, this is a stream")
    tokenizer = enc._tokenizer
    ids, used = tokenizer._encode_prefix(b"one two three four", False)
    assert used in (len(b"one two"), len(b"one two three"))
    assert ids == enc.encode("one two three four")[: len(ids)]
    assert tokenizer._count_prefix(b"one two three four", True) == (4, 18)
    with pytest.raises(TypeError, match="takes exactly 2 arguments"):
        tokenizer._encode_prefix(b"x")


@pytest.mark.parametrize("kind", [str, bytes])
def test_large_parts_and_unknown_allowed_names(kind):
    enc = velkan.get_encoding("o200k_base")
    text = "Große Worte, 12345 Zahlen und <|endoftext|> Zeichen!\n" * 4000
    data = text if kind is str else text.encode()
    stream = enc.stream(allowed_special="all")
    half = len(data) // 2  # parts of 100 KiB and more are encoded without the lock
    ids = stream.feed(data[:half]) + stream.feed(data[half:]) + stream.finish()
    assert ids == enc.encode(text, allowed_special="all")
    # A name the encoding lacks never matches: its text stays text.
    stream = enc.stream(allowed_special={"<|nothing|>"}, disallowed_special=())
    assert stream.feed("a <|nothing|> b") + stream.finish() == enc.encode("a <|nothing|> b")


# Patterns no native rule set splits, whose pieces span whitespace, read ahead
# (look-aheads, $, \b, lazy and possessive repeats) or skip text; the last ones
# have what the stream cannot bound and are held till finish.
CUSTOM_PATTERNS = [
    r"[^\n]+|\n+",
    r"[^\n]*\n?",
    r"\S+|\s+",
    r"a(?!bc)|\w|\s+|.",
    r"\w+$|\w+|\s+(?!\S)|\s|.",
    r"(?i:ab|a)+|\b\w|\B.|.",
    r"\d+?|\w{2,3}+|\s|.",
    r"(?s).{1,3}",
    r" ?[^\s\d]++(?=\s)| ?\S+|\s+",
    r"(?:ab|a)\s*(?=b)|x",
    r"\p{L}+\s*|[^\s\p{L}]+\s*|\s+",
    r"(?=[^a])\w+|(?!x)\s+\Z|\s|.",
    r"(?<=a)b|.",
    r"\w+(?!\b\w)|.",
    r"(?>\s+$)|\s|.",
]
CUSTOM_ALPHABET = list("ab c\nx1") + ["  ", "\n\n", "ab", "abc", "bc", "é", "中", "12"]
CUSTOM_ALPHABET += ["<|endoftext|>", "words and words ", "a" * 20, " " * 12]


@functools.cache
def custom_encoding(pattern):
    base = velkan.get_encoding("cl100k_base")
    return velkan.Encoding(
        "custom",
        pat_str=pattern,
        mergeable_ranks=base._mergeable_ranks,
        special_tokens=base._special_tokens,
    )


@pytest.mark.parametrize("pattern", CUSTOM_PATTERNS)
@settings(max_examples=120, deadline=None)
@given(text=st.lists(st.sampled_from(CUSTOM_ALPHABET), max_size=16).map("".join))
def test_custom_patterns_cut_at_every_position_give_encode(pattern, text):
    enc = custom_encoding(pattern)
    for allowed in (set(), "all"):
        expected = enc.encode(text, allowed_special=allowed, disallowed_special=())
        one_by_one = enc.stream(allowed_special=allowed, disallowed_special=())
        assert streamed(one_by_one, list(text)) == expected, (pattern, text)
        for cut in range(len(text) + 1):
            stream = enc.stream(allowed_special=allowed, disallowed_special=())
            assert streamed(stream, [text[:cut], text[cut:]]) == expected, (pattern, text, cut)


def test_a_custom_pattern_spanning_whitespace_streams_in_bounded_memory():
    # [^\n]+ pieces hold spaces: once a line ends it is certain, and only the
    # unfinished line waits.
    enc = custom_encoding(r"[^\n]+|\n+")
    text = "".join("line %d of words and spaces  \n" % i for i in range(20000))
    stream = enc.stream()
    got, held = [], 0
    for i in range(0, len(text), 4096):
        got += stream.feed(text[i : i + 4096])
        held = max(held, stream.held_bytes)
    assert got + stream.finish() == enc.encode(text)
    assert held < 4096 + 64


@pytest.mark.parametrize("pattern", [r"(?<=a)b|.", r"\G.", r"(?x) a | .", r"(?m)a$|."])
def test_custom_patterns_the_stream_cannot_bound_are_held_till_finish(pattern):
    enc = custom_encoding(pattern)
    stream = enc.stream()
    assert stream.feed("ab " * 50) == []
    assert stream.finish() == enc.encode("ab " * 50)


def test_a_custom_piece_that_never_ends_is_split_rarely():
    # Each try probes all the held text: tried again only once it doubled, a
    # long line in small parts is split O(log n) times, not once per part.
    enc = custom_encoding(r"[^\n]+|\n+")
    stream = enc.stream()
    tries = []
    prefix = stream._prefix
    stream._prefix = lambda data, last, want: tries.append(len(data)) or prefix(data, last, want)
    line = "words and more words " * 20000
    ids = []
    for i in range(0, len(line), 64):
        ids += stream.feed(line[i : i + 64])
    assert ids == [] and len(tries) < 200
    assert ids + stream.feed("\nx") + stream.finish() == enc.encode(line + "\nx")


@functools.cache
def rule_set_tokenizer(rule_set):
    import velkan.bpe.openai as openai

    return openai._with_rule_set(openai.o200k_base(), rule_set)


@pytest.mark.parametrize(
    "rule_set", ["r50k", "cl100k", "cl100k_legacy", "o200k", "qwen2", "tekken"]
)
@settings(max_examples=300, deadline=None)
@given(text=tricky, at=st.integers(0, 400))
def test_a_text_cut_where_its_pieces_are_certain_encodes_apart(rule_set, text, at):
    # The cut the command line reads its inputs by: whatever follows the
    # buffer, the two sides encoded apart give the ids of the whole.
    tok = rule_set_tokenizer(rule_set)
    data = text.encode("utf-8", "surrogatepass")
    buffer = data[:at]
    end = tok._certain_end(buffer)
    assert 0 <= end <= len(buffer)
    assert tok.encode(data[:end]) + tok.encode(data[end:]) == tok.encode(data)
