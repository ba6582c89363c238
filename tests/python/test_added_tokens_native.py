"""Special tokens, decoding and batches done natively, against tiktoken: the
special-token matrix over o200k_harmony's 1091 tokens, subsets in every form,
neighbourhoods of bad text; decoding of any id sequence; batches that keep
to num_threads; flat outputs equal to the lists."""

import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from test_encoding import _outcome, _tiktoken

import velkan
import velkan.bpe.openai as openai

EOT = "<|endoftext|>"
START, END, MSG = "<|start|>", "<|end|>", "<|message|>"
RESERVED = "<|reserved_200100|>"


@pytest.fixture(scope="module")
def harmony():
    tiktoken = _tiktoken()
    try:
        reference = tiktoken.get_encoding("o200k_harmony")
    except Exception as e:  # a rank file this checkout lacks
        pytest.skip(f"tiktoken cannot load o200k_harmony offline: {e}")
    return reference, velkan.get_encoding("o200k_harmony")


TEXTS = [
    f"{START}user{MSG}hi{END}",
    f"{START}{START}{END}{RESERVED}",
    f"<|start<|start|>|>{END}<|",
    f"<|{RESERVED[2:]}x<|reserved_200100|",
    f"bad \ud800{START}\udc00x{END}\ud83d\ude00",
    f"é{EOT}世{MSG}",
    "  \n" + END + "  \n",
    "<|reserved_999999|> <|end|>",
    "no specials at all, only text",
    "",
]
ARGUMENTS = [
    {},
    {"allowed_special": "all"},
    {"allowed_special": {START, END}},
    {"allowed_special": frozenset({MSG, RESERVED})},
    {"allowed_special": {START}, "disallowed_special": ()},
    {"disallowed_special": ()},
    {"disallowed_special": [END]},
    {"disallowed_special": (RESERVED,)},
    {"disallowed_special": frozenset({"<|start"})},  # no special token: text search
    {"disallowed_special": {"user"}},
    {"allowed_special": {END}, "disallowed_special": {END}},
    {"allowed_special": {"not a special"}},
    {"allowed_special": "none"},
    {"disallowed_special": "x"},
]


@pytest.mark.parametrize("kwargs", ARGUMENTS, ids=repr)
def test_encode_matrix_matches_tiktoken(harmony, kwargs):
    reference, ours = harmony
    for text in TEXTS:
        for call in (
            lambda e, t=text: e.encode(t, **kwargs),
            lambda e, t=text: e.encode_to_numpy(t, **kwargs),
            lambda e, t=text: e.encode_batch([t, "x", t], num_threads=2, **kwargs),
        ):
            assert _outcome(call, ours) == _outcome(call, reference), text


def test_batch_reports_the_first_text_with_a_disallowed_token(harmony):
    reference, ours = harmony
    texts = ["fine"] * 3000 + [f"a{END}", f"b{START}"]
    for kwargs in ({}, {"allowed_special": {END}}):
        expected = _outcome(_encode_batch, reference, texts, kwargs)
        assert expected[0] is ValueError
        assert _outcome(_encode_batch, ours, texts, kwargs) == expected
        assert _outcome(_encode_batch_to_numpy, ours, texts, kwargs) == expected


def _encode(e, text, kwargs):
    return e.encode(text, **kwargs)


def _encode_batch(e, texts, kwargs):
    return e.encode_batch(texts, **kwargs)


def _encode_batch_to_numpy(e, texts, kwargs):
    return e.encode_batch_to_numpy(texts, **kwargs)


_FRAGMENTS = [START, END, MSG, EOT, RESERVED, "<|", "|>", "<|end", "x", " ", "\n", "é", "\ud800"]


@settings(max_examples=150, deadline=None)
@given(
    st.lists(st.sampled_from(_FRAGMENTS), max_size=12),
    st.sets(st.sampled_from([START, END, MSG, EOT, RESERVED]), max_size=3),
    st.booleans(),
)
def test_random_neighbourhoods_match_tiktoken(harmony, parts, allowed, check):
    reference, ours = harmony
    text = "".join(parts)
    kwargs = {"allowed_special": allowed}
    if not check:
        kwargs["disallowed_special"] = ()
    assert _outcome(_encode, ours, text, kwargs) == _outcome(_encode, reference, text, kwargs)


def test_many_distinct_subsets_stay_right(harmony):
    # More distinct sets than the native cache keeps: each is still honoured.
    reference, ours = harmony
    names = sorted(ours.special_tokens_set)
    rng = random.Random(5)
    for _ in range(80):
        allowed = frozenset(rng.sample(names, 3))
        token = next(iter(allowed))
        other = next(n for n in names if n not in allowed)
        text = f"a{token}b{other}"
        kwargs = {"allowed_special": allowed, "disallowed_special": ()}
        expected = _outcome(_encode, reference, text, kwargs)
        assert _outcome(_encode, ours, text, kwargs) == expected
        # With the check on, the token left out is the one reported.
        with pytest.raises(ValueError, match=f"disallowed special token {other!r}"):
            ours.encode(text, allowed_special=allowed)
        head = text[: -len(other)]
        assert (
            ours.encode(head, allowed_special=allowed)
            == _outcome(_encode, reference, head, kwargs)[1]
        )


@pytest.mark.parametrize(
    "text, allowed, disallowed, raises",
    [
        ("plain text", frozenset(), "all", False),
        (f"a{END}", frozenset(), "all", True),
        (f"a{END}", frozenset({END}), "all", False),
        (f"a{END}", frozenset({END}), frozenset({END}), True),
        (f"a{END}", frozenset(), (), False),
        ("a<|start", frozenset(), frozenset({"<|start"}), True),  # the text search
        ("bad \ud800 <|end|>", frozenset(), "all", True),
    ],
)
def test_check_disallowed(harmony, text, allowed, disallowed, raises):
    _, ours = harmony
    if raises:
        with pytest.raises(ValueError, match="Encountered text corresponding to disallowed"):
            ours._backend.specials.check_disallowed(text, allowed, disallowed)
    else:
        ours._backend.specials.check_disallowed(text, allowed, disallowed)


# ---- the native object itself ----------------------------------------------------------


@pytest.mark.parametrize(
    "tokens, error",
    [
        ({"": 1}, ValueError),
        ({"a": -1}, ValueError),
        ({"a": 2**32}, ValueError),
        ({"a": "1"}, ValueError),
        ({1: 1}, TypeError),
        ({"\ud800": 1}, UnicodeEncodeError),
    ],
)
def test_special_tokens_refuses_bad_tables(tokens, error):
    with pytest.raises(error):
        openai.SpecialTokens(tokens)


def test_special_tokens_without_a_table_says_so():
    specials = openai.SpecialTokens({"<a>": 7, "<b>": 8})
    assert len(specials) == 2
    with pytest.raises(TypeError):
        openai.SpecialTokens()
    tok = openai.cl100k_base()
    assert tok.encode_special("x<a>y", specials, {"<a>"}, ()) == (
        tok.encode("x") + [7] + tok.encode("y")
    )
    with pytest.raises(ValueError, match="disallowed special token '<b>'"):
        tok.encode_special("x<b>", specials, set(), "all")
    # Only a text that is no str comes back as NotImplemented; every
    # argument shape is answered natively, as tiktoken answers it.
    assert tok.encode_special(b"x", specials, set(), "all") is NotImplemented
    with pytest.raises(TypeError, match="unsupported operand"):
        tok.encode_special("x", specials, "none", "all")
    assert tok.encode_special("x", specials, set(), {"not special"}) == tok.encode("x")
    with pytest.raises(ValueError, match="disallowed special token 'not special'"):
        tok.encode_special("a not special", specials, set(), {"not special"})
    with pytest.raises(TypeError, match="specials must be SpecialTokens"):
        tok.encode_special("x", {}, set(), "all")


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda s, b: s.decode(b), TypeError, r"decode\(bpe, tokens, errors=None\) takes 2 or 3"),
        (lambda s, b: s.decode_batch(b, [], None, 1), TypeError, r"decode_batch\(bpe, batch, "),
        (lambda s, b: s.tokens_bytes(), TypeError, r"tokens_bytes\(bpe, tokens, with_offsets="),
        (lambda s, b: s.decode("bpe", [1]), TypeError, "expected a BytePairEncoding, not str"),
        (lambda s, b: s.tokens_bytes(None, [1]), TypeError, "expected a BytePairEncoding"),
        (lambda s, b: s.decode(b, [1], b"strict"), TypeError, "'errors' must be str, not bytes"),
        (lambda s, b: s.decode_batch(b, [[1]], 1), TypeError, "'errors' must be str, not int"),
    ],
)
def test_native_decoding_checks_its_arguments(call, error, message):
    enc = velkan.get_encoding("cl100k_base")
    with pytest.raises(error, match=message):
        call(enc._backend.specials.native, enc._backend.native_bpe)


def test_native_decoding_takes_the_optional_argument():
    enc = velkan.get_encoding("cl100k_base")
    specials, bpe = enc._backend.specials.native, enc._backend.native_bpe
    ids = enc.encode("hi") + [enc.eot_token]
    assert specials.decode(bpe, ids) == b"hi<|endoftext|>"
    assert specials.decode(bpe, ids, "strict") == "hi<|endoftext|>"
    assert specials.decode_batch(bpe, [ids, []], None) == [b"hi<|endoftext|>", b""]
    assert specials.tokens_bytes(bpe, ids, True)[0] == "hi<|endoftext|>"


# ---- decoding --------------------------------------------------------------------------


def _np():
    return pytest.importorskip("numpy")


DECODE_INPUTS = [
    lambda e: [1, e.eot_token, 2, e.eot_token],
    lambda e: [e.eot_token] * 3,
    lambda e: [],
    lambda e: [1, 10**7],
    lambda e: [10**7, 1.5],
    lambda e: [-1],
    lambda e: [2**32],
    lambda e: [2**64],
    lambda e: (t for t in [1, 2]),
    lambda e: "ab",
    lambda e: b"ab",
    lambda e: range(3),
    lambda e: [True, 2],
    lambda e: _np().array([1, 2, e.eot_token]),
    lambda e: [_np().uint32(7), _np().int64(e.eot_token)],
    lambda e: e.encode("héllo 世界 \xff", disallowed_special=())[:-1],
]
DECODE_CALLS = {
    "decode": lambda e, ids: e.decode(ids),
    "decode strict": lambda e, ids: e.decode(ids, errors="strict"),
    "decode ignore": lambda e, ids: e.decode(ids, errors="ignore"),
    "decode errors None": lambda e, ids: e.decode(ids, errors=None),
    "decode_bytes": lambda e, ids: e.decode_bytes(ids),
    "tokens bytes": lambda e, ids: e.decode_tokens_bytes(ids),
    "offsets": lambda e, ids: e.decode_with_offsets(ids),
    "batch": lambda e, ids: e.decode_batch([ids, [1]]),
    "bytes batch": lambda e, ids: e.decode_bytes_batch([[1], ids]),
}


@pytest.mark.parametrize("label", DECODE_CALLS)
@pytest.mark.parametrize("name", ["p50k_base", "o200k_harmony", "cl100k_base"])
def test_decoding_matches_tiktoken(name, label):
    tiktoken = _tiktoken()
    try:
        reference = tiktoken.get_encoding(name)
    except Exception as e:
        pytest.skip(f"tiktoken cannot load {name} offline: {e}")
    ours = velkan.get_encoding(name)
    call = DECODE_CALLS[label]
    for make in DECODE_INPUTS:
        # Generators are used up: each side gets its own input.
        assert _outcome(call, ours, make(ours)) == _outcome(call, reference, make(reference))
    if name == "p50k_base":  # the gap in its ranks is the special token
        assert _outcome(call, ours, [50255, 50256, 50257]) == _outcome(
            call, reference, [50255, 50256, 50257]
        )


def test_single_token_decoding_takes_any_index(harmony):
    reference, ours = harmony
    np = _np()
    for token in (np.int64(5), np.uint32(200000), 200999, 10**9, -3, 2.0):
        call = lambda e, t=token: e.decode_single_token_bytes(t)  # noqa: E731
        assert _outcome(call, ours) == _outcome(call, reference)


# ---- batches on the pool ---------------------------------------------------------------

BIG = [("word %d " % i) * 40 + EOT for i in range(3000)]


@pytest.mark.parametrize("num_threads", [1, 2, 3])
@pytest.mark.parametrize(
    "kwargs",
    [{}, {"allowed_special": "all"}, {"allowed_special": {EOT}}, {"disallowed_special": ()}],
)
def test_batches_keep_to_num_threads(num_threads, kwargs):
    tok = openai.cl100k_base()
    specials = velkan.get_encoding("cl100k_base")._backend.specials.native
    expected = [
        velkan.get_encoding("cl100k_base").encode(t, **kwargs) if kwargs else None for t in BIG[:5]
    ]
    if not kwargs:
        with pytest.raises(ValueError, match="disallowed special token"):
            tok.encode_batch_flat(BIG, num_threads=num_threads, specials=specials)
        return
    ids, offsets, used = tok.encode_batch_flat(
        BIG, num_threads=num_threads, specials=specials, **kwargs
    )
    assert 1 <= used <= min(num_threads, openai.get_num_threads())
    lists, _, _, allowed = tok.encode_batch_parallel(
        BIG, num_threads=num_threads, specials=specials, **kwargs
    )
    assert allowed == min(num_threads, openai.get_num_threads())
    assert lists[:5] == expected
    np = _np()
    flat = np.frombuffer(ids, dtype=np.uint32)
    bounds = np.frombuffer(offsets, dtype=np.int64)
    assert bounds[0] == 0 and len(bounds) == len(BIG) + 1
    assert [flat[bounds[i] : bounds[i + 1]].tolist() for i in range(len(BIG))] == lists
    counts = tok.count_batch(BIG, num_threads=num_threads)
    assert counts == [len(tok.encode(t)) for t in BIG]


def test_unbounded_batches_may_use_the_pool():
    tok = openai.cl100k_base()
    _, _, used = tok.encode_batch_flat(BIG)
    assert 1 <= used <= openai.get_num_threads()
    for call in (tok.encode_batch_flat, tok.count_batch, tok.encode_batch_parallel):
        with pytest.raises(ValueError, match="num_threads must not be negative"):
            call(["x"], num_threads=-1)


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_harmony", "r50k_base"])
@pytest.mark.parametrize("kwargs", [{}, {"allowed_special": "all"}, {"disallowed_special": ()}])
def test_encoding_batches_equal_the_list_path(name, kwargs):
    np = _np()
    enc = velkan.get_encoding(name)
    texts = ["hello", "", "héllo 世界 " * 50, "bad \ud800 x", f"a{EOT}b" if kwargs else "c"] * 40
    lists = [enc.encode(t, **kwargs) for t in texts]
    for threads in (1, 4, 8, None, 0):
        assert enc.encode_batch(texts, num_threads=threads, **kwargs) == lists
        ids, offsets = enc.encode_batch_to_numpy(texts, num_threads=threads, **kwargs)
        assert ids.dtype == np.uint32 and offsets.dtype == np.int64
        assert [ids[offsets[i] : offsets[i + 1]].tolist() for i in range(len(texts))] == lists
        assert enc.count_batch(texts, num_threads=threads) == [
            len(enc.encode_ordinary(t)) for t in texts
        ]
    assert enc.encode_ordinary_batch(texts, num_threads=2) == [
        enc.encode_ordinary(t) for t in texts
    ]


def test_flat_outputs_wrap_the_native_buffers():
    _np()
    enc = velkan.get_encoding("o200k_base")
    ids, offsets = enc.encode_batch_to_numpy(["hello world", "x"])
    single = enc.encode_to_numpy("hello world")
    for array in (ids, offsets, single):
        assert isinstance(getattr(array.base, "obj", array.base), bytearray)
    assert single.tolist() == enc.encode("hello world")
    empty_ids, empty_offsets = enc.encode_batch_to_numpy([])
    assert empty_ids.tolist() == [] and empty_offsets.tolist() == [0]
