"""The module-level names of tiktoken that public code uses, against
tiktoken's: the loaders (local files and tiktoken's cache only), the
registry's tables, tiktoken_ext.openai_public's constructors, the special
token error; and the vocabulary-wide methods (token_byte_values, a built-in
vocabulary with another known pattern)."""

import hashlib
import json

import pytest

import velkan
import velkan.core
import velkan.load
import velkan.openai_public
import velkan.registry
from reference import corpus, load_ranks, rank_file_bytes
from velkan import _encodings_data
from velkan.load import (
    data_gym_to_mergeable_bpe_ranks,
    dump_tiktoken_bpe,
    load_tiktoken_bpe,
    read_file_cached,
)

tiktoken = pytest.importorskip("tiktoken")
pytest.importorskip("tiktoken.load")

_URL = "https://openaipublic.blob.core.windows.net/encodings/%s.tiktoken"


@pytest.fixture
def cache(tmp_path, monkeypatch):
    """tiktoken's cache folder holding r50k_base's rank file."""
    folder = tmp_path / "cache"
    folder.mkdir()
    for name in ("r50k_base", "p50k_base", "cl100k_base", "o200k_base"):
        key = hashlib.sha1((_URL % name).encode()).hexdigest()
        (folder / key).write_bytes(rank_file_bytes(name))
    monkeypatch.setenv("TIKTOKEN_CACHE_DIR", str(folder))
    return folder


def test_read_file_cached_reads_local_files_and_the_cache_only(cache, tmp_path, monkeypatch):
    url = _URL % "r50k_base"
    data = rank_file_bytes("r50k_base")
    digest = hashlib.sha256(data).hexdigest()
    assert read_file_cached(url, digest) == tiktoken.load.read_file_cached(url, digest) == data
    assert load_tiktoken_bpe(url) == tiktoken.load.load_tiktoken_bpe(url)
    local = tmp_path / "local.tiktoken"
    local.write_bytes(b"YQ== 0\n")
    assert read_file_cached(str(local)) == b"YQ== 0\n"
    with pytest.raises(ValueError, match="SHA-256 is %s, expected 00" % digest):
        read_file_cached(url, "00")
    missing = "https://example.com/not-cached.tiktoken"
    key = hashlib.sha1(missing.encode()).hexdigest()
    with pytest.raises(ValueError, match="never downloads.*not in the local cache.*%s" % key):
        read_file_cached(missing)
    monkeypatch.setenv("TIKTOKEN_CACHE_DIR", "")
    with pytest.raises(ValueError, match="TIKTOKEN_CACHE_DIR is empty"):
        read_file_cached(url)
    with pytest.raises(ValueError, match="local paths only"):
        velkan.load.read_file(url)


def test_dump_tiktoken_bpe_writes_a_file_tiktoken_reads(tmp_path):
    # (tiktoken's own dump needs blobfile.)
    ranks = load_ranks("r50k_base")
    del ranks[b"the"]  # a gap
    path = tmp_path / "mine.tiktoken"
    dump_tiktoken_bpe(dict(reversed(ranks.items())), str(path))
    assert tiktoken.load.load_tiktoken_bpe(str(path)) == ranks == load_tiktoken_bpe(path)
    # One line a token, in rank order, as the published files are.
    published = rank_file_bytes("r50k_base").splitlines()
    assert path.read_bytes().splitlines() == [line for line in published if line != b"dGhl 1169"]
    with pytest.raises(ValueError, match="local paths only"):
        dump_tiktoken_bpe(ranks, "gs://bucket/x.tiktoken")


def _gpt2_alphabet():
    # GPT-2's stand-in character for each byte, as its encoder.py defines it.
    printable = list(range(ord("!"), ord("~") + 1)) + list(range(0xA1, 0xAD))
    printable += list(range(0xAE, 0x100))
    chars = {b: chr(b) for b in printable}
    n = 0
    for b in range(256):
        if b not in chars:
            chars[b] = chr(256 + n)
            n += 1
    return chars


def _data_gym_files(tmp_path, merges, shuffle_bytes=False):
    alphabet = _gpt2_alphabet()
    encoder = {}
    order = sorted(range(256), key=lambda b: (alphabet[b] != chr(b), b))
    if shuffle_bytes:
        order = order[1:] + order[:1]
    for rank, b in enumerate(order):
        encoder[alphabet[b]] = rank
    lines = ["#version: 0.2"]
    for left, right in merges:
        lines.append(
            "%s %s" % ("".join(alphabet[b] for b in left), "".join(alphabet[b] for b in right))
        )
        encoder["".join(alphabet[b] for b in left + right)] = len(encoder)
    encoder["<|endoftext|>"] = len(encoder)
    vocab = tmp_path / "vocab.bpe"
    vocab.write_text("\n".join(lines) + "\n", encoding="utf-8")
    enc = tmp_path / "encoder.json"
    enc.write_text(json.dumps(encoder), encoding="utf-8")
    return str(vocab), str(enc)


MERGES = [
    (b" ", b"t"),
    (b"h", b"e"),
    (b" t", b"he"),
    (b"\n", b"\n"),
    (b"\xe4", b"\xb8"),
    (b"a", b"b"),
]


@pytest.mark.parametrize("clobber", [False, True])
def test_data_gym_to_mergeable_bpe_ranks_matches_tiktoken(tmp_path, monkeypatch, clobber):
    monkeypatch.setenv("TIKTOKEN_CACHE_DIR", str(tmp_path / "cache"))
    vocab, encoder = _data_gym_files(tmp_path, MERGES, shuffle_bytes=clobber)
    mine = data_gym_to_mergeable_bpe_ranks(vocab, encoder, clobber_one_byte_tokens=clobber)
    theirs = tiktoken.load.data_gym_to_mergeable_bpe_ranks(
        vocab, encoder, clobber_one_byte_tokens=clobber
    )
    assert mine == theirs
    assert mine[b" the"] == 258 and len(mine) == 256 + len(MERGES)
    if not clobber:
        wrong = json.loads(open(encoder).read())
        wrong["ab"] = 5
        with open(encoder, "w") as f:
            json.dump(wrong, f)
        with pytest.raises(ValueError, match="disagree.*b'ab' has rank 261 in the merges, 5"):
            data_gym_to_mergeable_bpe_ranks(vocab, encoder)


def test_raise_disallowed_special_token_says_what_tiktoken_says():
    for token in ["<|endoftext|>", "<|x'y|>"]:
        with pytest.raises(ValueError) as mine:
            velkan.core.raise_disallowed_special_token(token)
        with pytest.raises(ValueError) as theirs:
            tiktoken.core.raise_disallowed_special_token(token)
        assert str(mine.value) == str(theirs.value)


@pytest.mark.parametrize("name", [["cl100k_base"], 100, None, b"cl100k_base"])
def test_get_encoding_refuses_names_that_are_no_str_as_tiktoken_does(name, cache):
    # An unhashable name once raised the dict's TypeError.
    with pytest.raises(ValueError) as theirs:
        tiktoken.get_encoding(name)
    with pytest.raises(ValueError) as mine:
        velkan.get_encoding(name)
    assert str(mine.value) == str(theirs.value)


def test_registry_tables():
    enc = velkan.get_encoding("cl100k_base")
    assert velkan.registry.ENCODINGS["cl100k_base"] is enc
    assert set(velkan.registry.ENCODING_CONSTRUCTORS) == set(velkan.list_encoding_names())
    import tiktoken_ext.openai_public as theirs

    assert set(velkan.openai_public.ENCODING_CONSTRUCTORS) == set(theirs.ENCODING_CONSTRUCTORS)
    assert velkan.openai_public.r50k_pat_str == theirs.r50k_pat_str
    for name in ("ENDOFTEXT", "FIM_PREFIX", "FIM_MIDDLE", "FIM_SUFFIX", "ENDOFPROMPT"):
        assert getattr(velkan.openai_public, name) == getattr(theirs, name)


# gpt2's constructor reads GPT-2's own files, which the repository lacks.
@pytest.mark.parametrize("name", ["r50k_base", "p50k_edit", "cl100k_base", "o200k_harmony"])
def test_constructors_return_tiktoken_s_arguments(name, cache):
    import tiktoken_ext.openai_public as theirs

    mine = velkan.openai_public.ENCODING_CONSTRUCTORS[name]()
    expected = theirs.ENCODING_CONSTRUCTORS[name]()
    assert mine == expected
    # Each call's ranks are the caller's own.
    mine["mergeable_ranks"].clear()
    assert velkan.openai_public.ENCODING_CONSTRUCTORS[name]()["mergeable_ranks"]
    enc = velkan.Encoding(**velkan.openai_public.ENCODING_CONSTRUCTORS[name]())
    assert enc._backend.vocabulary is velkan.get_encoding(name)._backend.vocabulary


@pytest.mark.parametrize("name", ["p50k_base", "cl100k_base", "o200k_base"])
def test_token_byte_values_is_tiktoken_s_and_the_caller_s_own(name, cache):
    enc = velkan.get_encoding(name)
    expected = tiktoken.get_encoding(name).token_byte_values()
    values = enc.token_byte_values()
    assert values == expected
    values.clear()
    assert enc.token_byte_values() == expected
    # An Encoding over the same ranks shares the list it is copied from.
    extended = velkan.Encoding(
        "x",
        pat_str=enc._pat_str,
        mergeable_ranks=enc._mergeable_ranks,
        special_tokens={"<|x|>": enc.n_vocab + 10},
    )
    assert extended.token_byte_values() == expected
    assert enc._mergeable_ranks == tiktoken.get_encoding(name)._mergeable_ranks


@pytest.mark.parametrize(
    "ranks_of, pattern",
    [
        ("cl100k_base", _encodings_data.CL100K_OLD_PAT_STR),  # Llama 3's spelling
        ("o200k_base", _encodings_data.CL100K_PAT_STR),
        ("cl100k_base", _encodings_data.O200K_PAT_STR),
    ],
)
def test_builtin_ranks_with_another_known_pattern_split_natively(ranks_of, pattern, cache):
    base = tiktoken.get_encoding(ranks_of)
    specials = {"<|begin_of_text|>": base.n_vocab + 5}
    args = dict(pat_str=pattern, mergeable_ranks=base._mergeable_ranks, special_tokens=specials)
    theirs = tiktoken.Encoding("other", **args)
    mine = velkan.Encoding("other", **args)
    # Split by the native rule set, not the regex package.
    assert mine._backend.native is not None
    assert mine._backend.vocabulary.bpe is velkan.get_encoding(ranks_of)._backend.vocabulary.bpe
    # Every Encoding with that pattern shares one tokenizer (and its caches).
    assert velkan.Encoding("again", **args)._backend.vocabulary is mine._backend.vocabulary
    texts = [t[:3000] for t in list(corpus().values())[:40]] + [
        "x\n  ",
        "a\r\n\r\n  b  \n",
        "don't  \n\n",
    ]
    for text in texts:
        assert mine.encode(text) == theirs.encode(text), text[:60]
        assert mine.count(text) == len(theirs.encode(text))
    text = "<|begin_of_text|>hello\n\n  "
    assert mine.encode(text, allowed_special="all") == theirs.encode(text, allowed_special="all")
    assert mine.encode_batch(texts) == theirs.encode_batch(texts)
    assert mine.decode(theirs.encode(texts[0])) == texts[0]


def test_native_token_lists_and_rule_set_errors():
    import velkan.bpe.openai as openai

    tok = openai.r50k_base()
    in_order = tok.bpe()._tokens(False)
    assert in_order == [t for t, _ in sorted(load_ranks("r50k_base").items(), key=lambda x: x[1])]
    assert tok.bpe()._tokens(True) == sorted(in_order)
    with pytest.raises(ValueError, match="unknown rule set 'nope'"):
        openai._with_rule_set(tok, "nope")
    with pytest.raises(TypeError):
        openai._with_rule_set(tok.bpe(), "cl100k")
    # Byte order where keys tie: tokens alike in their first 8 or 16 bytes,
    # zero bytes against the padding, a prefix before its extensions.
    long = b"0123456789abcdef"
    tricky = [long + b"\x00", long + b"z", long, long + b"a" * 9, b"a\x00", b"a\x00\x00"]
    tricky += [b"\xff" * 17, b"\xff" * 16, b"01234567", b"01234567\xff", b"012345670"]
    tricky += [long[:9], b"\xfe" + b"\xff" * 8]
    own = openai._from_ranks("tricky", [bytes([i]) for i in range(256)] + tricky, "whole")
    assert own.bpe()._tokens(True) == sorted([bytes([i]) for i in range(256)] + tricky)
    # Twice: two lists of the same objects, from the order a record carries
    # (r50k_base), from the sort (a vocabulary of one's own) and in id order.
    for lists, expected in [
        (tok.bpe()._tokens(True, True), sorted(in_order)),
        (own.bpe()._tokens(True, True), sorted([bytes([i]) for i in range(256)] + tricky)),
        (tok.bpe()._tokens(False, True), in_order),
    ]:
        first, second = lists
        assert first == expected and first is not second
        assert all(a is b for a, b in zip(first, second))
    # p50k_base leaves rank 50256 to a special token: None in id order.
    p50k = openai.p50k_base().bpe()
    assert p50k._tokens(False)[50256] is None and None not in p50k._tokens(True)


@pytest.mark.parametrize("source", ["cache", "own", "derived"])
def test_another_rule_set_encodes_as_a_build_of_that_rule_set(source):
    # A tokenizer with another rule set reads the cache's derived tables, or
    # makes its own when its source is a tokenizer of one's own, which may be
    # gone before it; either way it encodes as a build of the same tokens
    # with that rule set does.
    import gc

    import velkan.bpe.openai as openai

    tokens = openai.cl100k_base().bpe()._tokens(False)
    if source == "own":
        tokens = tokens[:50000]
        base = openai._from_ranks("own", tokens, "cl100k")
    else:
        base = openai.cl100k_base()
        if source == "derived":
            base = openai._with_rule_set(base, "cl100k_legacy")
    other = openai._with_rule_set(base, "o200k")
    del base
    gc.collect()
    built = openai._from_ranks("built", tokens, "o200k")
    for text in [t[:4000] for t in list(corpus().values())[:12]] + ["x\n  ", "don't  \n\n"]:
        assert other.encode(text) == built.encode(text), text[:60]
        assert other.count(text) == built.count(text)
