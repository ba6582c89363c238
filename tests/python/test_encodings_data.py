"""The encoding facts table against tiktoken's own, the pattern spellings the
rule sets stand for, and the rank-file loader on good and bad files."""

import base64
import os
import random

import pytest

from velkan import _encodings_data as facts
from velkan.load import (
    MAX_RANK,
    RankFileError,
    check_mergeable_ranks,
    load_tiktoken_bpe,
    parse_tiktoken_bpe,
)

NAMES = [
    "gpt2",
    "r50k_base",
    "p50k_base",
    "p50k_edit",
    "cl100k_base",
    "o200k_base",
    "o200k_harmony",
]
HERE = os.path.dirname(os.path.abspath(__file__))
RANK_DIR = os.path.join(os.path.dirname(os.path.dirname(HERE)), "src", "vocab", "data")


def tiktoken_constructor_facts(name, monkeypatch):
    """tiktoken's constructor output for name, with the rank loaders replaced
    so that nothing is downloaded; 'loaded' records what they were asked."""
    openai_public = pytest.importorskip("tiktoken_ext.openai_public")
    asked = []

    def fake_load(url, expected_hash=None):
        asked.append((url.rsplit("/", 1)[-1], expected_hash))
        return {}

    monkeypatch.setattr(openai_public, "load_tiktoken_bpe", fake_load)
    monkeypatch.setattr(
        openai_public,
        "data_gym_to_mergeable_bpe_ranks",
        lambda **kwargs: asked.append(("data gym", None)) or {},
    )
    return openai_public.ENCODING_CONSTRUCTORS[name](), asked


def test_names_match_tiktoken():
    openai_public = pytest.importorskip("tiktoken_ext.openai_public")
    assert list(facts.ENCODINGS) == NAMES == list(openai_public.ENCODING_CONSTRUCTORS)


@pytest.mark.parametrize("name", NAMES)
def test_encoding_facts_match_tiktoken(name, monkeypatch):
    theirs, asked = tiktoken_constructor_facts(name, monkeypatch)
    mine = facts.ENCODINGS[name]
    assert mine.name == theirs["name"] == name
    assert mine.pat_str == theirs["pat_str"]
    assert list(mine.special_tokens.items()) == list(theirs["special_tokens"].items())
    assert mine.explicit_n_vocab == theirs.get("explicit_n_vocab")
    assert facts.rule_set_for_pattern(mine.pat_str) == mine.rule_set
    if name == "gpt2":
        # Built from GPT-2's data-gym files, which hold r50k_base's ranks.
        assert asked == [("data gym", None)] and mine.rank_file == "r50k_base"
    else:
        assert asked == [(mine.rank_file + ".tiktoken", mine.rank_file_sha256)]


def test_harmony_shares_an_id():
    tokens = facts.ENCODINGS["o200k_harmony"].special_tokens
    assert len(tokens) == 1091
    assert tokens["<|endofprompt|>"] == tokens["<|reserved_200018|>"] == 200018
    assert max(tokens.values()) == 201087


def tiktoken_encoding(name, monkeypatch):
    """tiktoken's Encoding for name, its rank files read from the repository."""
    tiktoken = pytest.importorskip("tiktoken")
    openai_public = pytest.importorskip("tiktoken_ext.openai_public")
    from reference import load_ranks

    monkeypatch.setattr(
        openai_public,
        "load_tiktoken_bpe",
        lambda url, expected_hash=None: load_ranks(
            url.rsplit("/", 1)[-1].removesuffix(".tiktoken")
        ),
    )
    monkeypatch.setattr(
        openai_public, "data_gym_to_mergeable_bpe_ranks", lambda **kwargs: load_ranks("r50k_base")
    )
    return tiktoken.Encoding(**openai_public.ENCODING_CONSTRUCTORS[name]())


@pytest.mark.parametrize("name", NAMES)
def test_special_tokens_decode_as_in_tiktoken(name, monkeypatch):
    # Every special token's id, through every decoding call, gives tiktoken's
    # text; o200k_harmony's 200018 is shared by two texts.
    import velkan

    theirs = tiktoken_encoding(name, monkeypatch)
    mine = velkan.get_encoding(name)
    assert mine._special_tokens == theirs._special_tokens
    assert list(mine._special_tokens) == list(theirs._special_tokens)
    assert mine.special_tokens_set == theirs.special_tokens_set
    assert (mine.n_vocab, mine.max_token_value) == (theirs.n_vocab, theirs.max_token_value)
    ids = sorted(set(theirs._special_tokens.values()))
    expected = [theirs.decode_single_token_bytes(i) for i in ids]
    assert [mine.decode_single_token_bytes(i) for i in ids] == expected
    assert mine.decode_tokens_bytes(ids) == expected
    assert mine.decode_bytes(ids) == theirs.decode_bytes(ids) == b"".join(expected)
    assert mine.decode(ids) == theirs.decode(ids)
    for text, token in theirs._special_tokens.items():
        assert mine.encode(text, allowed_special="all") == [token]


def test_model_tables_match_tiktoken():
    model = pytest.importorskip("tiktoken.model")
    # Order matters for the prefixes: the first match wins.
    assert list(facts.MODEL_PREFIX_TO_ENCODING.items()) == list(
        model.MODEL_PREFIX_TO_ENCODING.items()
    )
    assert facts.MODEL_TO_ENCODING == model.MODEL_TO_ENCODING
    assert set(facts.MODEL_TO_ENCODING.values()) | set(
        facts.MODEL_PREFIX_TO_ENCODING.values()
    ) <= set(facts.ENCODINGS)


# Random texts over characters that tell the patterns' rules apart.
PIECES = [
    " ",
    "  ",
    "\t",
    "\n",
    "\r\n",
    "\n ",
    "\u00a0",
    "\u3000",
    "'",
    "'s",
    "'S",
    "'ll",
    "'LL",
    "'ve",
    "'re",
    "'d",
    "'m",
    "'t",
    "\u017f",
    "a",
    "Z",
    "word",
    "Word",
    "\u00e9",
    "\u4e2d",
    "1",
    "12345",
    "\u0663",
    "\u00bd",
    "!",
    "...",
    "/",
    "\u0301",
    "\U0001f600",
    "x",
]


def random_texts(count, seed):
    rng = random.Random(seed)
    return ["".join(rng.choice(PIECES) for _ in range(rng.randint(1, 12))) for _ in range(count)]


@pytest.mark.parametrize("spelling", list(facts.PATTERN_RULE_SETS))
def test_known_spellings_cut_alike(spelling):
    regex = pytest.importorskip("regex")
    canonical = {
        "r50k": facts.R50K_PAT_STR,
        "cl100k": facts.CL100K_PAT_STR,
        "o200k": facts.O200K_PAT_STR,
        "cl100k_legacy": facts.CL100K_OLD_PAT_STR,
        "qwen2": facts.QWEN2_PAT_STR,
        "tekken": facts.TEKKEN_PAT_STR,
    }[facts.PATTERN_RULE_SETS[spelling]]
    mine, theirs = regex.compile(spelling), regex.compile(canonical)
    for text in random_texts(20000, 3):
        assert mine.findall(text) == theirs.findall(text), repr(text)


def test_old_cl100k_spelling_is_not_cl100k():
    # Llama 3's spelling ends trailing whitespace at its last line break; with
    # a token for "\n  " tiktoken's ids show it, so it must not take the
    # cl100k rules.
    assert facts.rule_set_for_pattern(facts.CL100K_OLD_PAT_STR) == "cl100k_legacy"
    tiktoken = pytest.importorskip("tiktoken")
    ranks = {bytes([b]): b for b in range(256)}
    ranks[b"\n  "] = 256
    ids = [
        tiktoken.Encoding(str(i), pat_str=p, mergeable_ranks=ranks, special_tokens={}).encode(
            "x\n  "
        )
        for i, p in enumerate([facts.CL100K_PAT_STR, facts.CL100K_OLD_PAT_STR])
    ]
    assert ids == [[120, 256], [120, 10, 32, 32]]


def test_unknown_pattern():
    assert facts.rule_set_for_pattern(r"\w+|\s+") is None
    assert facts.rule_set_for_pattern(facts.R50K_PAT_STR + " ") is None


# ---- rank files ---------------------------------------------------------------


def line(token, rank):
    return base64.b64encode(token) + b" " + str(rank).encode()


def write(tmp_path, lines, name="ranks.tiktoken"):
    path = tmp_path / name
    path.write_bytes(b"\n".join(lines) + b"\n")
    return path


def test_load_good_file(tmp_path):
    lines = [line(b"a", 0), line(b"b", 1), b"", line(b" the", 5), line(b"\xff\x00", 3)]
    path = write(tmp_path, lines)
    want = {b"a": 0, b"b": 1, b" the": 5, b"\xff\x00": 3}  # gaps allowed
    assert load_tiktoken_bpe(path) == want
    assert load_tiktoken_bpe(str(path)) == want
    path.write_bytes(b"\r\n".join(lines))  # CRLF, no final line end
    assert load_tiktoken_bpe(path) == want


@pytest.mark.parametrize(
    "bad_line, line_number, problem",
    [
        (b"YQ==", 2, "expected a base64 token and a rank, found only 'YQ==' (no rank)"),
        (b"YQ== 1 2", 2, "expected a base64 token and a rank, found 3 fields"),
        (b"Y!Q= 1", 2, "'Y!Q=' is not base64"),
        (b"YQ 1", 2, "'YQ' is not base64"),
        (b"YQ== one", 2, "the rank 'one' is not a non-negative integer"),
        (b"YQ== -1", 2, "the rank '-1' is not a non-negative integer"),
        (b"YQ== 1.0", 2, "the rank '1.0' is not a non-negative integer"),
        (b"YQ== %d" % (MAX_RANK + 1), 2, "the rank %d exceeds %d" % (MAX_RANK + 1, MAX_RANK)),
        (b"Yg== 0", 2, "rank 0 already appears on line 1"),
        (b"YQ== 7", 2, "token b'a' already appears on line 1"),
        (b" = 3", 2, "'=' is not base64"),
        (b"YWJj== 4", 2, "'YWJj==' is not base64"),
    ],
)
def test_load_bad_line(tmp_path, bad_line, line_number, problem):
    path = write(tmp_path, [line(b"a", 0), bad_line, line(b"c", 9)])
    with pytest.raises(RankFileError) as info:
        load_tiktoken_bpe(path)
    assert str(info.value) == "%s, line %d: %s" % (path, line_number, problem)
    assert (info.value.line, info.value.problem) == (line_number, problem)
    assert isinstance(info.value, ValueError)


def test_load_refuses_urls_and_checks_hashes(tmp_path, monkeypatch):
    # An empty cache: a URL is found nowhere.
    monkeypatch.setenv("TIKTOKEN_CACHE_DIR", str(tmp_path / "cache"))
    for url in [
        "https://openaipublic.blob.core.windows.net/encodings/r50k_base.tiktoken",
        "az://container/x.tiktoken",
        "gs://bucket/x.tiktoken",
    ]:
        with pytest.raises(ValueError, match="local paths only"):
            load_tiktoken_bpe(url)
    path = write(tmp_path, [line(b"a", 0)])
    import hashlib

    digest = hashlib.sha256(path.read_bytes()).hexdigest()
    assert load_tiktoken_bpe(path, expected_hash=digest) == {b"a": 0}
    with pytest.raises(ValueError, match="SHA-256 is %s, expected 00" % digest):
        load_tiktoken_bpe(path, expected_hash="00")
    with pytest.raises(FileNotFoundError):
        load_tiktoken_bpe(tmp_path / "missing.tiktoken")


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base", "r50k_base", "p50k_base"])
def test_load_matches_tiktoken_on_real_files(name, tmp_path):
    from reference import rank_file_bytes

    path = tmp_path / (name + ".tiktoken")
    path.write_bytes(rank_file_bytes(name))
    tiktoken_load = pytest.importorskip("tiktoken.load")
    mine = load_tiktoken_bpe(path, expected_hash=facts.ENCODINGS[name].rank_file_sha256)
    assert mine == tiktoken_load.load_tiktoken_bpe(str(path))
    check_mergeable_ranks(mine, facts.ENCODINGS[name].special_tokens)


# Pieces of rank-file lines: canonical base64 and the forms a reader must
# judge (pad bits left set, missing or extra padding, "=" inside, foreign
# bytes), ranks with leading zeros, signs, spaces or past the limit, and
# separators other than one space and one line feed.
_TOKENS = [
    b"YQ==",
    b"Yg==",
    b"YWI=",
    b"YWJj",
    b"/w==",
    b"AA==",
    b"YR==",
    b"YWK=",
    b"YQ",
    b"YQ=",
    b"Y===",
    b"YQ==YQ==",
    b"Y=Q=",
    b"Y!Q=",
    b"====",
    b"",
    b"YWJjZA==",
]
_RANKS = [
    b"0",
    b"1",
    b"2",
    b"007",
    b"99",
    b"+1",
    b"-1",
    b"1_0",
    b"",
    b"%d" % MAX_RANK,
    b"%d" % (MAX_RANK + 1),
    b"\xd9\xa1",
]
_SEPARATORS = [b" ", b" ", b" ", b"  ", b"\t", b" \r"]
_ENDS = [b"\n", b"\n", b"\n", b"\r\n", b"\n\n", b" \n"]


@pytest.mark.parametrize("seed", range(300))
def test_native_reader_agrees_with_the_line_by_line_parse(seed):
    # The native reader takes a file only when it is as tiktoken writes it;
    # then its ranks must be the line parse's, and for anything else the line
    # parse decides (the ranks, or the error naming the line).
    from velkan.bpe import openai
    from velkan.load import _parse_checked

    rng = random.Random(seed)
    lines = []
    for _ in range(rng.randint(1, 6)):
        canonical = rng.random() < 0.7
        token = rng.choice(_TOKENS[:7] if canonical else _TOKENS)
        rank = rng.choice(_RANKS[:5] if canonical else _RANKS)
        separator, end = (
            (b" ", b"\n") if canonical else (rng.choice(_SEPARATORS), rng.choice(_ENDS))
        )
        lines.append(token + separator + rank + end)
    data = b"".join(lines)
    if rng.random() < 0.3:
        data = data.rstrip(b"\n")
    try:
        want = _parse_checked(data, "<rank file>")
    except RankFileError as error:
        want = error
    native = openai._parse_rank_file(data)
    if native is not None:
        assert native == want
    if isinstance(want, RankFileError):
        with pytest.raises(RankFileError) as info:
            parse_tiktoken_bpe(data)
        assert str(info.value) == str(want)
    else:
        assert parse_tiktoken_bpe(data) == want


@pytest.mark.parametrize("name", ["r50k_base", "cl100k_base", "o200k_base"])
def test_native_reader_reads_the_published_files(name):
    from reference import rank_file_bytes
    from velkan.bpe import openai

    data = rank_file_bytes(name)
    ranks = openai._parse_rank_file(data)
    assert ranks is not None  # the fast path, not the fallback
    assert ranks == parse_tiktoken_bpe(data.replace(b"\n", b"\r\n"))  # the line parse


def test_parse_names_the_source():
    with pytest.raises(RankFileError, match="^<rank file>, line 1: "):
        parse_tiktoken_bpe(b"@@ 1")


@pytest.mark.parametrize(
    "ranks, specials, message",
    [
        (
            {b"a": 0, b"b": 1},
            {"<|x|>": 1},
            "special token '<|x|>' has id 1, the rank of ordinary token b'b'",
        ),
        ({b"a": 0, b"b": 0}, {}, "ordinary tokens b'a' and b'b' share rank 0"),
        ({b"a": -1}, {}, "ordinary token b'a' has rank -1, not an integer in 0..%d" % MAX_RANK),
        ({b"a": True}, {}, "ordinary token b'a' has rank True"),
        ({"a": 0}, {}, "ordinary token 'a' is not bytes"),
        ({b"a": 0}, {"<|x|>": "1"}, "special token '<|x|>' has id '1'"),
        ({b"a": 0}, {b"<|x|>": 1}, "special token b'<|x|>' is not a str"),
    ],
)
def test_check_mergeable_ranks_faults(ranks, specials, message):
    with pytest.raises(ValueError, match="^" + __import__("re").escape(message)):
        check_mergeable_ranks(ranks, specials)


def test_check_mergeable_ranks_accepts():
    check_mergeable_ranks({b"a": 0, b"b": 2}, {"<|x|>": 1, "<|y|>": 3, "<|z|>": 3})
    check_mergeable_ranks({}, {})
