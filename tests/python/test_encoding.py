"""velkan.Encoding against tiktoken: one scenario list run on both, results and
errors compared; the special-token matrix; round trips; pickling; numpy."""

import hashlib
import os
import pickle
import subprocess
import sys
import tempfile
from concurrent.futures import ProcessPoolExecutor

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import velkan
from reference import ALL_VOCABULARIES, ROOT, rank_file_bytes

_DATA = os.path.join(ROOT, "src", "vocab", "data")
_URL = "https://openaipublic.blob.core.windows.net/encodings/%s.tiktoken"


def _tiktoken():
    """tiktoken reading the rank files of this repository (never the network)."""
    tiktoken = pytest.importorskip("tiktoken")
    if "TIKTOKEN_CACHE_DIR" not in os.environ or not os.path.isdir(
        os.environ["TIKTOKEN_CACHE_DIR"]
    ):
        cache = tempfile.mkdtemp(prefix="velkan-tiktoken-cache-")
        for name in ALL_VOCABULARIES:
            key = hashlib.sha1((_URL % name).encode()).hexdigest()
            with open(os.path.join(cache, key), "wb") as f:
                f.write(rank_file_bytes(name))
        os.environ["TIKTOKEN_CACHE_DIR"] = cache
    return tiktoken


NAMES = velkan.list_encoding_names()


@pytest.fixture(scope="module", params=NAMES)
def pair(request):
    tiktoken = _tiktoken()
    name = request.param
    try:
        if name == "gpt2":
            # tiktoken builds gpt2 from GPT-2's own files, which give r50k_base's
            # ranks; offline, build it from r50k_base's arguments.
            args = dict(tiktoken.get_encoding("r50k_base").__dict__)
            reference = tiktoken.Encoding(
                "gpt2",
                pat_str=args["_pat_str"],
                mergeable_ranks=args["_mergeable_ranks"],
                special_tokens=args["_special_tokens"],
            )
        else:
            reference = tiktoken.get_encoding(name)
    except Exception as e:  # a rank file this checkout lacks
        pytest.skip(f"tiktoken cannot load {name} offline: {e}")
    return reference, velkan.get_encoding(name)


def _outcome(call, *args):
    try:
        result = call(*args)
    except Exception as e:
        return type(e), str(e)
    if hasattr(result, "tolist"):
        result = result.tolist()
    return "ok", result


EOT = "<|endoftext|>"
PROMPT = "<|endofprompt|>"

# (label, call): each is run on tiktoken's Encoding and on velkan's.
SCENARIOS = [
    ("plain", lambda e: e.encode("hello world, héllo 世界 1234567 \n\n  x")),
    ("empty", lambda e: e.encode("")),
    ("disallowed default", lambda e: e.encode(f"hello {EOT} world")),
    ("allowed all", lambda e: e.encode(f"hello {EOT} world", allowed_special="all")),
    ("allowed subset", lambda e: e.encode(f"{EOT}{PROMPT}x{EOT}", allowed_special={EOT})),
    ("subset, other disallowed", lambda e: e.encode(f"a{PROMPT}", allowed_special={EOT})),
    ("check off", lambda e: e.encode(f"a{EOT}b", disallowed_special=())),
    ("check for one", lambda e: e.encode(f"a{EOT}{PROMPT}", disallowed_special={PROMPT})),
    ("start end adjacent", lambda e: e.encode(f"{EOT}{EOT}x{EOT}", allowed_special="all")),
    ("inside a word", lambda e: e.encode(f"ab{EOT}cd", allowed_special="all")),
    ("overlapping", lambda e: e.encode("<|endoftext<|endoftext|>|>", allowed_special="all")),
    ("half a special", lambda e: e.encode("<|endof text|><|")),
    ("lone surrogate", lambda e: e.encode("bad \ud800 x")),
    ("surrogate pair", lambda e: e.encode_ordinary("pair \ud83d\ude00 x")),
    ("bytes text", lambda e: e.encode(b"x")),
    ("allowed not a set", lambda e: e.encode("x", allowed_special="none")),
    ("ordinary", lambda e: e.encode_ordinary(f"a {EOT} b")),
    ("batch", lambda e: e.encode_batch([f"a{EOT}", "b", ""], allowed_special="all")),
    ("batch disallowed", lambda e: e.encode_batch(["ok", f"a{EOT}"])),
    ("ordinary batch", lambda e: e.encode_ordinary_batch(["a b", f"{EOT}", ""])),
    ("numpy", lambda e: e.encode_to_numpy(f"hi {EOT}", allowed_special="all")),
    ("single token", lambda e: e.encode_single_token("hello")),
    ("single special", lambda e: e.encode_single_token(EOT)),
    ("single special bytes", lambda e: e.encode_single_token(EOT.encode())),
    ("single token missing", lambda e: e.encode_single_token("hello world xyz")),
    ("single token empty", lambda e: e.encode_single_token(b"")),
    ("single token byte", lambda e: e.encode_single_token(b"\xff")),
    ("single token not UTF-8", lambda e: e.encode_single_token(b"\xe4\xb8")),
    ("single piece", lambda e: e._encode_single_piece("hello world")),
    ("bytes invalid tail", lambda e: e._encode_bytes(b" \xec\x8b\xa4\xed")),
    ("bytes only invalid", lambda e: e._encode_bytes(b"\xff")),
    ("bytes space run", lambda e: e._encode_bytes(b"hello   \xff")),
    ("bytes cut char", lambda e: e._encode_bytes(b"hello\n\n  \xe4\xb8")),
    ("bytes valid", lambda e: e._encode_bytes(b"fine text")),
    ("decode", lambda e: e.decode([1, e.eot_token, 2])),
    ("decode strict", lambda e: e.decode(e._encode_bytes(b"a\xff"), errors="strict")),
    ("decode bytes bad id", lambda e: e.decode_bytes([1, 10**7])),
    ("decode bytes float", lambda e: e.decode_bytes([1.5])),
    ("decode negative", lambda e: e.decode_single_token_bytes(-1)),
    ("decode unknown", lambda e: e.decode_single_token_bytes(10**7)),
    ("decode special", lambda e: e.decode_single_token_bytes(e.eot_token)),
    ("decode bool", lambda e: e.decode_single_token_bytes(True)),
    ("decode byte", lambda e: e.decode_single_token_bytes(255)),
    ("decode past ordinary", lambda e: e.decode_single_token_bytes(e.eot_token - 1)),
    ("decode past all", lambda e: e.decode_single_token_bytes(e.max_token_value + 1)),
    ("decode huge", lambda e: e.decode_single_token_bytes(2**70)),
    ("tokens bytes", lambda e: e.decode_tokens_bytes(e.encode("héllo 世界"))),
    ("offsets", lambda e: e.decode_with_offsets(e.encode("héllo 世界 x"))),
    ("decode batch", lambda e: e.decode_batch([[1, 2], [3], []])),
    ("decode bytes batch", lambda e: e.decode_bytes_batch([[1, 2], [3]])),
    ("unstable word", lambda e: _sorted_unstable(e.encode_with_unstable("hello fanta"))),
    ("unstable spaces", lambda e: _sorted_unstable(e.encode_with_unstable("hello  "))),
    ("unstable disallowed", lambda e: e.encode_with_unstable(f"x{EOT}")),
    (
        "facts",
        lambda e: (e.name, e.n_vocab, e.max_token_value, e.eot_token, sorted(e.special_tokens_set)),
    ),
    ("is special", lambda e: (e.is_special_token(e.eot_token), e.is_special_token(1))),
    ("repr", lambda e: repr(e)),
    ("pattern", lambda e: e._pat_str),
    ("specials", lambda e: e._special_tokens),
]


def _sorted_unstable(result):
    stable, completions = result
    return stable, sorted(completions)


@pytest.mark.parametrize("label,call", SCENARIOS, ids=[s[0] for s in SCENARIOS])
def test_scenarios_match_tiktoken(pair, label, call):
    reference, ours = pair
    assert _outcome(call, ours) == _outcome(call, reference)


def test_vocabulary_matches_tiktoken(pair):
    reference, ours = pair
    assert ours._mergeable_ranks == reference._mergeable_ranks
    assert ours.token_byte_values() == reference.token_byte_values()


@pytest.mark.parametrize(
    "model", ["gpt-4o", "gpt-4-0613", "gpt-3.5-turbo", "ft:gpt-4o:org:x", "o3-mini", "nope"]
)
def test_model_names_match_tiktoken(model):
    tiktoken = _tiktoken()
    assert _outcome(velkan.encoding_name_for_model, model) == _outcome(
        tiktoken.encoding_name_for_model, model
    )


def test_get_encoding_errors_and_sharing():
    with pytest.raises(ValueError, match="Unknown encoding nope"):
        velkan.get_encoding("nope")
    assert velkan.get_encoding(NAMES[0]) is velkan.get_encoding(NAMES[0])
    assert velkan.encoding_for_model("gpt-4") is velkan.get_encoding("cl100k_base")


@settings(max_examples=60, deadline=None)
@given(st.text())
def test_round_trip_and_offsets(text):
    enc = velkan.get_encoding("cl100k_base")
    tokens = enc.encode(text, disallowed_special=())
    clean = text.encode("utf-8", "surrogatepass").decode("utf-8", "replace")
    if clean == text:
        assert enc.decode(tokens) == text
    assert enc.count(text) == len(enc.encode_ordinary(text))
    pieces = enc.decode_tokens_bytes(tokens)
    assert b"".join(pieces) == enc.decode_bytes(tokens)
    try:
        decoded, offsets = enc.decode_with_offsets(tokens)
    except UnicodeDecodeError:
        return
    assert len(offsets) == len(tokens)
    assert offsets == sorted(offsets) and all(0 <= o <= len(decoded) for o in offsets)


@pytest.mark.parametrize("name", NAMES)
def test_numpy_equals_lists(name):
    np = pytest.importorskip("numpy")
    enc = velkan.get_encoding(name)
    texts = ["hello world", "", f"a {EOT} b", "héllo 世界"]
    ids, offsets = enc.encode_batch_to_numpy(texts, allowed_special="all")
    assert ids.dtype == np.uint32 and offsets.dtype == np.int64
    assert len(offsets) == len(texts) + 1
    lists = enc.encode_batch(texts, allowed_special="all")
    assert [ids[offsets[i] : offsets[i + 1]].tolist() for i in range(len(texts))] == lists
    assert enc.encode_to_numpy(texts[0]).tolist() == enc.encode(texts[0])
    assert enc.count_batch(texts) == [len(enc.encode_ordinary(t)) for t in texts]


def test_numpy_missing_says_what_to_install(monkeypatch):
    import builtins

    real_import = builtins.__import__

    def no_numpy(name, *args, **kwargs):
        if name == "numpy":
            raise ImportError("no numpy")
        return real_import(name, *args, **kwargs)

    monkeypatch.setattr(builtins, "__import__", no_numpy)
    with pytest.raises(ImportError, match="pip install numpy"):
        velkan.get_encoding("cl100k_base").encode_to_numpy("x")


def _encode_in_worker(obj):
    if isinstance(obj, velkan.Encoding):
        return obj.encode(f"hello {EOT}", allowed_special="all")
    if isinstance(obj, velkan.bpe.openai.Tokenizer):
        return obj.encode("hello")
    return obj.encode_via_backtracking(b"hello")


def _native_objects():
    tokenizer = velkan.bpe.openai.cl100k_base()
    return [velkan.get_encoding("cl100k_base"), tokenizer, tokenizer.bpe()]


@pytest.mark.parametrize("index", [0, 1, 2], ids=["Encoding", "Tokenizer", "BytePairEncoding"])
def test_pickle_round_trip(index):
    obj = _native_objects()[index]
    data = pickle.dumps(obj)
    assert len(data) < 200  # by name, not megabytes
    assert _encode_in_worker(pickle.loads(data)) == _encode_in_worker(obj)
    assert pickle.loads(pickle.dumps(velkan.get_encoding("cl100k_base"))) is not None


def test_unpickled_builtin_encoding_shares_the_registry_s_state():
    # As tiktoken's: the state of get_encoding's object, not a copy of it, so
    # what a later call caches on one (_mergeable_ranks) the other has too.
    enc = velkan.get_encoding("cl100k_base")
    copy = pickle.loads(pickle.dumps(enc))
    assert copy is not enc and copy.__dict__ is enc.__dict__
    assert copy._mergeable_ranks is enc._mergeable_ranks


def test_spawn_pool_and_closures():
    import multiprocessing

    objects = _native_objects()
    expected = [_encode_in_worker(o) for o in objects]
    context = multiprocessing.get_context("spawn")
    with ProcessPoolExecutor(2, mp_context=context) as pool:
        assert list(pool.map(_encode_in_worker, objects)) == expected
    with context.Pool(1) as pool:
        assert pool.map(_encode_in_worker, objects[:1]) == expected[:1]


def _custom_pairs():
    tiktoken = _tiktoken()
    base = tiktoken.get_encoding("cl100k_base")
    ranks = base._mergeable_ranks
    specials = {**base._special_tokens, "<|im_start|>": 100264, "<|im_end|>": 100265}
    known = base._pat_str
    unknown = r"""\w+|\s+|[^\w\s]+"""
    for label, pat in [("known pattern", known), ("unknown pattern", unknown)]:
        args = dict(pat_str=pat, mergeable_ranks=ranks, special_tokens=specials)
        yield label, tiktoken.Encoding("custom", **args), velkan.Encoding("custom", **args)


def test_custom_encodings_match_tiktoken():
    text = "<|im_start|>user\nhello   wörld's 12345 <|im_end|>\n\n  end"
    for label, reference, ours in _custom_pairs():
        for call in [
            lambda e: e.encode(text, allowed_special="all"),
            lambda e: e.encode(text),
            lambda e: e.encode_ordinary(text),
            lambda e: e.decode(e.encode(text, allowed_special="all")),
            lambda e: (e.n_vocab, e.max_token_value),
        ]:
            assert _outcome(call, ours) == _outcome(call, reference), label
        copy = pickle.loads(pickle.dumps(ours))
        assert copy.encode(text, allowed_special="all") == ours.encode(text, allowed_special="all")


def test_custom_small_vocabulary_in_python():
    ranks = {bytes([i]): i for i in range(256)}
    ranks[b"ab"] = 256
    ranks[b"abc"] = 257
    enc = velkan.Encoding("tiny", pat_str=r"\w+|\W+", mergeable_ranks=ranks, special_tokens={})
    assert enc.encode("abc ab") == [257, 32, 256]
    assert enc.decode(enc.encode("abc ab")) == "abc ab"
    # tiktoken raises AssertionError for both checks; so does velkan.
    for n_vocab, specials in [(9, {}), (259, {"<|x|>": 300})]:
        with pytest.raises(AssertionError, match="explicit_n_vocab"):
            velkan.Encoding(
                "tiny",
                pat_str=r"\w+",
                mergeable_ranks=ranks,
                special_tokens=specials,
                explicit_n_vocab=n_vocab,
            )


def test_custom_vocabulary_builds_no_builtin_one():
    # Only a vocabulary of a built-in one's size is compared with it; making
    # the others to compare would cost their memory in every process.
    script = (
        "import velkan, velkan._vocabulary as v\n"
        "ranks = {bytes([i]): i for i in range(256)}\n"
        "ranks[b'ab'] = 256\n"
        "velkan.Encoding('tiny', pat_str=r'\\w+|\\W+', mergeable_ranks=ranks, special_tokens={})\n"
        "print(len(v._builtins))\n"
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "0"


@pytest.mark.parametrize(
    "module, names",
    [
        ("core", ["Encoding"]),
        ("load", ["load_tiktoken_bpe"]),
        ("model", ["MODEL_TO_ENCODING", "MODEL_PREFIX_TO_ENCODING", "encoding_for_model"]),
        ("registry", ["get_encoding", "list_encoding_names"]),
    ],
)
def test_tiktoken_submodules(module, names):
    # `import velkan as tiktoken` code reaches these as tiktoken.<module>.<name>.
    import importlib

    theirs = importlib.import_module("tiktoken." + module)
    ours = getattr(velkan, module)
    for name in names:
        assert hasattr(theirs, name)
        value = getattr(ours, name)
        if name.isupper():
            assert value == getattr(theirs, name)
    assert velkan.model.encoding_for_model("gpt-4o").name == "o200k_base"


def test_import_as_tiktoken_surface():
    tiktoken = _tiktoken()
    for name in [
        "get_encoding",
        "list_encoding_names",
        "encoding_for_model",
        "encoding_name_for_model",
        "Encoding",
        "load_tiktoken_bpe",
    ]:
        assert hasattr(velkan, name), name
    for member in dir(tiktoken.Encoding):
        if not member.startswith("__") or member in ("__getstate__", "__setstate__"):
            if member in ("_core_bpe",):
                continue
            assert hasattr(velkan.Encoding, member) or member in vars(
                velkan.get_encoding("cl100k_base")
            ), member


_BYTE_PIECES = [b" ", b"\n", b"\t", b"a", b"hello", b"'s", b"1", b"\xe4\xb8\x96", b"\xec\x8b"]
_BYTE_PIECES += [b"\xff", b"\x80", b"\xed", b"  ", b"!", b"\r\n", b"\xf0\x9f"]
# Where strict UTF-8 ends: overlong forms, surrogates, past U+10FFFF, cut
# sequences, and the lowest and highest well-formed ones.
_BYTE_PIECES += [b"\xc0\x80", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xe0\x80\x80"]
_BYTE_PIECES += [b"\xe0\xa0\x80", b"\xf0\x90\x80\x80", b"\xf4\x8f\xbf\xbf", b"\xc2", b"\t"]


@settings(max_examples=300, deadline=None)
@given(
    st.lists(st.sampled_from(_BYTE_PIECES), max_size=12),
    st.sampled_from(["cl100k_base", "o200k_base", "r50k_base"]),
)
def test_encode_bytes_follows_tiktoken(parts, name):
    # Invalid UTF-8 follows tiktoken's own rule, not velkan's byte-level one.
    reference = _tiktoken().get_encoding(name)
    data = b"".join(parts)
    assert velkan.get_encoding(name)._encode_bytes(data) == reference._encode_bytes(data)
    assert velkan.get_encoding(name)._encode_bytes(bytearray(data)) == reference._encode_bytes(data)


def test_custom_vocabulary_goes_to_the_native_constructor(monkeypatch):
    # Wiring of the native constructor for vocabularies of one's own, checked
    # with a stand-in; the gap left by a missing rank is an unknown id.
    openai = velkan.bpe.openai
    calls = []

    def from_ranks(name, tokens, rule_set):
        calls.append((name, len(tokens), rule_set))
        return openai.cl100k_base()

    monkeypatch.setattr(openai, "_from_ranks", from_ranks, raising=False)
    base = velkan.get_encoding("cl100k_base")
    ranks = dict(base._mergeable_ranks)
    gap = 1000
    del ranks[base.decode_single_token_bytes(gap)]
    enc = velkan.Encoding(
        "mine", pat_str=base._pat_str, mergeable_ranks=ranks, special_tokens={EOT: 100257}
    )
    assert calls == [("mine", 100256, "cl100k")]
    assert enc.encode("hello world") == base.encode("hello world")
    with pytest.raises(KeyError, match=str(gap)):
        enc.decode_single_token_bytes(gap)
    velkan.Encoding("other", pat_str=r"\w+|\W+", mergeable_ranks=ranks, special_tokens={})
    assert calls[-1] == ("other", 100256, "whole")


@pytest.mark.parametrize(
    "text",
    [
        EOT + "!",
        "hi" + EOT + "!",
        "hi " + EOT + "!!",
        EOT + "|>",
        EOT + "|>!",
        "a" + EOT + " x",
        EOT + EOT + "'s",
        "x " + EOT,
    ],
)
def test_encode_with_unstable_around_allowed_special_tokens(pair, text):
    # The last piece is cut from the text after the last special token: one
    # followed by a short tail ("<|endoftext|>!") was dropped, or raised.
    reference, ours = pair
    for allowed in ("all", {EOT}):
        expected = reference.encode_with_unstable(text, allowed_special=allowed)
        got = ours.encode_with_unstable(text, allowed_special=allowed)
        assert _sorted_unstable(got) == _sorted_unstable(expected), (text, allowed)
