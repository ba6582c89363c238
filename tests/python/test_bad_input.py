"""Hostile input to every public function and method: wrong types and arity,
keyword arguments, extreme numbers, odd containers, text that is not UTF-8,
huge and numerous texts, objects made by calling the types, unusable image
files. Each ends in the specified result or a clear exception."""

import copy
import os
import pickle
import random
import subprocess
import sys
import textwrap
import threading
from decimal import Decimal
from fractions import Fraction

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from sizes import size

import velkan.bpe.openai as openai
from reference import HERE, VOCABULARIES, tokenizer
from velkan.bpe import BytePairEncoding
from velkan.bpe.openai import Tokenizer


@pytest.fixture(params=VOCABULARIES)
def tok(request):
    return tokenizer(request.param)


# ---- arity, keywords and argument types ----------------------------------------

# Every callable with the kind of each argument it takes; the last "options"
# argument of the parallel methods is optional.
CALLABLES = {
    "count": (lambda t: t.count, ["text"]),
    "count_till_limit": (lambda t: t.count_till_limit, ["text", "limit"]),
    "encode": (lambda t: t.encode, ["text"]),
    "encode_batch": (lambda t: t.encode_batch, ["texts"]),
    "encode_batch_parallel": (lambda t: t.encode_batch_parallel, ["texts", "options"]),
    "decode": (lambda t: t.decode, ["ids"]),
    "decode_batch": (lambda t: t.decode_batch, ["lists"]),
    "decode_batch_parallel": (lambda t: t.decode_batch_parallel, ["lists", "options"]),
    "count_batch": (lambda t: t.count_batch, ["texts"]),
    "bpe": (lambda t: t.bpe, []),
    "bpe().count": (lambda t: t.bpe().count, ["data"]),
    "bpe().encode_via_backtracking": (lambda t: t.bpe().encode_via_backtracking, ["data"]),
    "bpe().decode_tokens": (lambda t: t.bpe().decode_tokens, ["ids"]),
    "cl100k_base": (lambda t: openai.cl100k_base, []),
    "o200k_base": (lambda t: openai.o200k_base, []),
    "is_cached_cl100k": (lambda t: openai.is_cached_cl100k, []),
    "is_cached_o200k": (lambda t: openai.is_cached_o200k, []),
    "get_num_threads": (lambda t: openai.get_num_threads, []),
}

GOOD = {
    "text": "hi there",
    "limit": 5,
    "texts": ["hi", ""],
    "options": None,
    "ids": [1, 2],
    "lists": [[1], []],
    "data": b"hi there",
}

VALUES = {
    "None": None,
    "int": 7,
    "bool": True,
    "float": 1.5,
    "str": "s",
    "bytes": b"b",
    "bytearray": bytearray(b"x"),
    "memoryview": memoryview(b"x"),
    "empty list": [],
    "list of int": [1],
    "list of str": ["a"],
    "list of list": [[1]],
    "tuple": ("a",),
    "dict": {"a": 1},
    "set": {1},
    "object": object(),
    "range": range(3),
}

# Which of VALUES each kind of argument takes; every other one is a TypeError.
ACCEPTS = {
    "text": {"str", "bytes", "bytearray", "memoryview"},
    "data": {"bytes", "bytearray", "memoryview"},
    "limit": {"int", "bool"},
    "texts": {"empty list", "list of str"},
    "ids": {"empty list", "list of int", "range"},
    "lists": {"empty list", "list of list"},
    "options": set(VALUES),
}


@pytest.mark.parametrize("name", CALLABLES)
def test_arity_and_keywords(tok, name):
    get, kinds = CALLABLES[name]
    f = get(tok)
    args = [GOOD[k] for k in kinds]
    f(*args)
    with pytest.raises(TypeError):
        f(*args, None)
    required = [k for k in kinds if k != "options"]
    if required:
        with pytest.raises(TypeError):
            f(*args[: len(required) - 1])
        with pytest.raises(TypeError):
            f(*args[1:], **{kinds[0]: args[0]})
        with pytest.raises(TypeError):
            f(*args, unknown=1)
    else:
        with pytest.raises(TypeError):
            f(unknown=1)


@pytest.mark.parametrize(
    "name, position",
    [(name, i) for name, (_, kinds) in CALLABLES.items() for i in range(len(kinds))],
)
def test_argument_types(tok, name, position):
    get, kinds = CALLABLES[name]
    wrong = []
    for label, value in VALUES.items():
        args = [GOOD[k] for k in kinds]
        args[position] = value
        try:
            get(tok)(*args)
            accepted = True
        except TypeError:
            accepted = False
        if accepted != (label in ACCEPTS[kinds[position]]):
            wrong.append(label)
    assert wrong == []


# ---- token ids -------------------------------------------------------------------


class Index:
    """Not an int, but usable as one."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class BadIndex:
    def __index__(self):
        raise RuntimeError("no index")


class IntSub(int):
    pass


class ListSub(list):
    pass


def decoders(tok):
    """Each way to decode one id list, as a function that returns the bytes or
    raises."""

    def via_decode(ids):
        text = tok.decode(ids)
        return None if text is None else text.encode()

    def via_batch(ids):
        text = tok.decode_batch([[], ids])[1]
        return None if text is None else text.encode()

    def via_parallel(ids):
        text = tok.decode_batch_parallel([ids], None)[0]
        return None if text is None else text.encode()

    return [via_decode, via_batch, via_parallel, tok.bpe().decode_tokens]


@pytest.mark.parametrize(
    "value, error",
    [
        (-1, ValueError),
        (-(2**31), ValueError),
        (-(2**31) - 1, OverflowError),
        (-(2**63), OverflowError),
        (-(2**100), OverflowError),
        (2**31, OverflowError),
        (2**32, OverflowError),
        (2**63, OverflowError),
        (2**64, OverflowError),
        (2**100, OverflowError),
        (1.0, TypeError),
        (None, TypeError),
        ("1", TypeError),
        (b"1", TypeError),
        ([1], TypeError),
        (Decimal(1), TypeError),
        (Fraction(1), TypeError),
        (1j, TypeError),
        (Index("1"), TypeError),
        (BadIndex(), RuntimeError),
        (Index(-3), ValueError),
    ],
)
def test_bad_ids(tok, value, error):
    for decode in decoders(tok):
        for ids in ([value], [1, 2, value], [value, 2**40]):
            with pytest.raises(error) as info:
                decode(ids)
            if error is ValueError:
                assert str(getattr(value, "value", value)) in str(info.value)


@pytest.mark.parametrize(
    "value, same_as", [(True, 1), (False, 0), (IntSub(300), 300), (Index(300), 300)]
)
def test_id_like_values(tok, value, same_as):
    for decode in decoders(tok):
        assert decode([value, 300]) == decode([same_as, 300])


def test_ids_out_of_the_vocabulary(tok):
    # Just past the vocabulary up to the top of the signed 32-bit range: no
    # token, so no text (empty bytes from the raw decoder).
    for value in (200_000, 2**31 - 1):
        for decode in decoders(tok)[:3]:
            assert decode([1, value]) is None
        assert tok.bpe().decode_tokens([1, value]) == b""


@pytest.mark.parametrize(
    "container",
    [
        set,
        lambda x: iter(x),
        lambda x: {i: i for i in x},
        lambda x: b"\x01\x02",
        lambda x: bytearray(b"\x01\x02"),
        lambda x: memoryview(b"\x01\x02"),
        lambda x: "12",
        lambda x: None,
    ],
)
def test_id_containers_that_are_not_sequences_of_ids(tok, container):
    # Byte and text strings are sequences, but not of ids.
    for decode in (
        tok.decode,
        tok.bpe().decode_tokens,
        tok.decode_batch,
        tok.decode_batch_parallel,
    ):
        with pytest.raises(TypeError):
            decode(container([1, 2]))
    with pytest.raises(TypeError, match=r"decode_batch: batch\[1\] must be a sequence of ints"):
        tok.decode_batch([[1], container([1, 2])])


@pytest.mark.parametrize(
    "container",
    [tuple, lambda x: range(x[0], x[0] + 1), ListSub, lambda x: __import__("array").array("i", x)],
)
def test_any_sequence_of_ids(tok, container):
    ids = tok.encode("any sequence")[:1]
    text = tok.decode(ids)
    for decode in (
        tok.decode,
        lambda s: tok.decode_batch([s])[0],
        lambda s: tok.decode_batch_parallel([s])[0],
    ):
        assert decode(container(ids)) == text
    assert tok.bpe().decode_tokens(container(ids)) == text.encode()


def test_list_subclasses_are_lists(tok):
    ids = tok.encode("subclassed lists")
    assert tok.decode(ListSub(ids)) == "subclassed lists"
    assert tok.bpe().decode_tokens(ListSub(ids)) == b"subclassed lists"
    assert tok.decode_batch(ListSub([ListSub(ids), ids])) == ["subclassed lists"] * 2
    texts = ListSub(["a b", "c"])
    assert tok.encode_batch(texts)[0] == [tok.encode("a b"), tok.encode("c")]
    assert tok.encode_batch_parallel(texts)[0] == [tok.encode("a b"), tok.encode("c")]


def test_lists_changed_while_converting(tok):
    # __index__ may run any Python code, including code that empties the list
    # being converted or the batch around it.
    ids = tok.encode("hello world, goodbye")

    class Clear:
        def __init__(self, target):
            self.target = target

        def __index__(self):
            self.target.clear()
            return ids[0]

    inner = list(ids)
    inner.insert(1, Clear(inner))
    assert tok.decode(inner) == tok.decode([ids[0], ids[0]])  # the rest was cleared
    outer = [list(ids), None, list(ids)]
    outer[1] = [Clear(outer)]
    result = tok.decode_batch(outer)
    assert result[0] == "hello world, goodbye" and len(result) == 3


# ---- limits ----------------------------------------------------------------------


@pytest.mark.parametrize(
    "limit, expected",
    [
        (-1, ValueError),
        (-(2**63), ValueError),
        (2**63, OverflowError),
        (2**64, OverflowError),
        (-(2**64), ValueError),
        (1.5, TypeError),
        ("5", TypeError),
        (None, TypeError),
        (Decimal(5), TypeError),
        (Index(-1), ValueError),
        (0, None),
        (True, None),
        (2**63 - 1, "count"),
        (Index(2**40), "count"),
        (IntSub(10**6), "count"),
    ],
)
def test_count_till_limit_limits(tok, limit, expected):
    text = "a few words of text"
    if isinstance(expected, type):
        with pytest.raises(expected):
            tok.count_till_limit(text, limit)
    else:
        assert tok.count_till_limit(text, limit) == (tok.count(text) if expected else None)


# ---- text that is not valid UTF-8, or not encodable -------------------------------

SURROGATES = ["\ud800", "a\udfffb", "\ud83d\ude00", "text \udc80", "\udbff" * 3]


@pytest.mark.parametrize("text", SURROGATES)
def test_lone_surrogates(tok, text):
    for call in (
        tok.encode,
        tok.count,
        lambda s: tok.count_till_limit(s, 10),
        lambda s: tok.encode_batch(["ok", s]),
        lambda s: tok.encode_batch_parallel([s, "ok"]),
    ):
        with pytest.raises(UnicodeEncodeError):
            call(text)


def test_nul_and_odd_strings(tok):
    class StrSub(str):
        pass

    for text in [
        "a\x00b",
        "\x00" * 5,
        StrSub("sub class"),
        "\U0010ffff\ufffe\uffff",
        "\u0301" * 50,
    ]:
        assert tok.decode(tok.encode(text)) == text
        assert tok.encode_batch_parallel([text])[0] == [tok.encode(text)]


@pytest.mark.parametrize("vocabulary", VOCABULARIES)
@settings(max_examples=size(400, 60), deadline=None)
@given(
    data=st.binary(max_size=300)
    | st.lists(
        st.sampled_from(
            [
                b"\x80",
                b"\xbf",
                b"\xc3",
                b"\xe2\x80",
                b"\xf0\x9f",
                b"\xf4\x90\x80\x80",
                b"\xf7\xbf\xbf\xbf",
                b"\xff",
                b" ",
                b"\t",
                b"\xc2\x85",
                b"\xe3\x80\x80",
                b"a",
                b"'",
                b"s",
                b"1",
                b"\n",
                b"\r",
                b"\xcc\x81",
            ]
        ),
        max_size=80,
    ).map(b"".join)
)
def test_bytes_that_are_not_utf8(vocabulary, data):
    tok = tokenizer(vocabulary)
    ids = tok.encode(data)
    assert tok.bpe().decode_tokens(ids) == data
    assert tok.count(data) == len(ids)
    assert tok.count_till_limit(data, len(ids)) == len(ids)
    if ids:
        assert tok.count_till_limit(data, len(ids) - 1) is None
    try:
        data.decode("utf-8")
    except UnicodeDecodeError:
        assert tok.decode(ids) is None
    whole = tok.bpe().encode_via_backtracking(data)
    assert tok.bpe().decode_tokens(whole) == data
    assert tok.bpe().count(bytearray(data)) == len(whole)


# ---- sizes -------------------------------------------------------------------------

SENTENCE = "The quick brown fox jumps over the lazy dog.\n"  # ".\n" ends a piece


def test_huge_texts(tok):
    # Pieces never cross the sentence boundary, so counts add up.
    repeats = size(100_000_000, 10_000_000) // len(SENTENCE)
    huge = SENTENCE * repeats
    per_sentence = tok.count(SENTENCE)
    assert tok.count(huge) == per_sentence * repeats
    assert tok.count(huge.encode()) == per_sentence * repeats
    assert tok.count_till_limit(huge, per_sentence * repeats) == per_sentence * repeats
    assert tok.count_till_limit(huge, 10) is None
    del huge
    # One piece of that size: a single run of whitespace, and a single word.
    spaces = " " * size(100_000_000, 10_000_000)
    ids = tok.encode(spaces)
    assert tok.decode(ids) == spaces
    assert tok.count(spaces) == len(ids)
    letters = "a" * size(100_000_000, 10_000_000)
    assert tok.count_till_limit(letters, 10) is None
    assert tok.bpe().count(letters.encode()) == tok.count(letters)


def test_many_one_character_texts(tok):
    n = size(1_000_000, 100_000)
    alphabet = [chr(c) for c in range(32, 127)] + ["é", "中", "\n"]
    single = {c: tok.encode(c) for c in alphabet}
    texts = [alphabet[i % len(alphabet)] for i in range(n)]
    expected = [single[c] for c in texts]
    ids, total, _ = tok.encode_batch(texts)
    assert ids == expected and total == sum(map(len, expected))
    ids, total, _, _ = tok.encode_batch_parallel(texts)
    assert ids == expected and total == sum(map(len, expected))
    assert tok.decode_batch(expected) == texts
    assert tok.decode_batch_parallel(expected) == texts
    assert tok.decode([i for e in expected for i in e]) == "".join(texts)


def test_empty_everything(tok):
    bpe = tok.bpe()
    assert tok.encode_batch([""] * 3)[:2] == ([[], [], []], 0)
    assert tok.encode_batch_parallel([""] * 3)[:2] == ([[], [], []], 0)
    assert tok.decode_batch([[], []]) == ["", ""]
    assert (bpe.count(b""), bpe.encode_via_backtracking(bytearray()), bpe.decode_tokens([])) == (
        0,
        [],
        b"",
    )
    assert tok.count_till_limit(b"", 0) == 0


# ---- objects made by calling the types, copies and pickles -------------------------


@pytest.mark.parametrize(
    "make",
    [
        lambda: Tokenizer(),
        lambda: Tokenizer.__new__(Tokenizer),
        lambda: BytePairEncoding(),
        lambda: BytePairEncoding.__new__(BytePairEncoding),
    ],
)
def test_objects_made_directly(make):
    obj = make()
    methods = [m for m in dir(obj) if not m.startswith("_")]
    assert methods
    for name in methods:
        # No encoding to work with: refused before the arguments are looked at.
        with pytest.raises(ValueError, match="no encoding"):
            getattr(obj, name)(*([["x"]] if name != "bpe" else []))


def test_copies_and_pickles_are_the_same_vocabulary(tok):
    # A built-in vocabulary travels by name: the copy works on the receiving
    # side's own cached encoding and gives the same ids.
    def round_trip(obj):
        return pickle.loads(pickle.dumps(obj))

    for attempt in (copy.copy, copy.deepcopy, round_trip):
        assert attempt(tok).encode("hello world") == tok.encode("hello world")
        bpe = tok.bpe()
        assert attempt(bpe).encode_via_backtracking(b"hello") == bpe.encode_via_backtracking(
            b"hello"
        )


def test_objects_outlive_their_source():
    # A BytePairEncoding keeps working after its tokenizer is gone: the
    # encoding belongs to the process.
    bpe = openai.cl100k_base().bpe()
    import gc

    gc.collect()
    assert bpe.decode_tokens(bpe.encode_via_backtracking(b"still here")) == b"still here"


# ---- texts changed by another thread during a parallel batch -----------------------


def test_batch_list_changed_during_parallel_encoding(tok):
    # While the encoding runs without the interpreter lock, another thread
    # replaces the list's strings and drops its references to them; the
    # batch must still read the strings it was given.
    texts = ["text %d %s" % (i, "x" * (i % 50)) for i in range(2000)]
    ever = set(texts)
    stop = threading.Event()

    def churn():
        k = 0
        while not stop.is_set():
            k += 1
            i = k % len(texts)
            fresh = "fresh %d %d" % (k, i)
            ever.add(fresh)
            texts[i] = fresh

    thread = threading.Thread(target=churn)
    thread.start()
    try:
        for _ in range(size(20, 4)):
            ids = tok.encode_batch_parallel(texts)[0]
            assert len(ids) == 2000
            assert all(tok.decode(x) in ever for x in ids[::37])
    finally:
        stop.set()
        thread.join()


# ---- unusable image files -------------------------------------------------------------


@pytest.mark.parametrize("kind", ["fifo", "directory", "dangling link", "link to /dev/zero"])
def test_unreadable_image_builds_instead(tmp_path, kind):
    image = tmp_path / "precomputed_cl100k.bin"
    if kind == "fifo":
        os.mkfifo(image)  # nobody writes: opening it for reading must not wait
    elif kind == "directory":
        image.mkdir()
    elif kind == "dangling link":
        image.symlink_to(tmp_path / "missing")
    else:
        image.symlink_to(kind.split()[-1])
    code = textwrap.dedent(f"""
        import velkan, velkan.bpe.openai as o
        velkan.__file__ = {str(tmp_path / "__init__.py")!r}
        print(o.cl100k_base().encode("image or not"))
    """)
    out = subprocess.run(
        [sys.executable, "-c", code],
        capture_output=True,
        text=True,
        timeout=120,
        env={**os.environ, "PYTHONPATH": HERE},
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == str(tokenizer("cl100k_base").encode("image or not"))


def test_random_bytes_never_decode_to_text_wrongly(tok):
    # decode either gives the exact text of the ids' bytes or None.
    rng = random.Random(7)
    for _ in range(size(3000, 300)):
        ids = [rng.randrange(0, 100_000) for _ in range(rng.randrange(0, 8))]
        raw = tok.bpe().decode_tokens(ids)
        text = tok.decode(ids)
        try:
            assert text == raw.decode("utf-8")
        except UnicodeDecodeError:
            assert text is None
