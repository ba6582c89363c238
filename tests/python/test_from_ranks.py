"""Vocabularies of one's own (velkan.bpe.openai._from_ranks), compared with
tiktoken.Encoding built from the same ranks."""

import functools
import json
import subprocess
import sys

import pytest
import tiktoken
from hypothesis import given, settings
from hypothesis import strategies as st
from sizes import CHECKED

import velkan.bpe.openai as openai
from reference import PATTERNS, corpus, load_ranks

BYTES = [bytes([b]) for b in range(256)]


def by_rank(ranks):
    tokens = [None] * (max(ranks.values()) + 1)
    for token, rank in ranks.items():
        tokens[rank] = token
    return tokens


@functools.cache
def cl100k_as_own():
    return openai._from_ranks("mine", by_rank(load_ranks("cl100k_base")), "cl100k")


def test_a_known_vocabulary_passed_as_ranks_encodes_like_the_embedded_one():
    own, embedded = cl100k_as_own(), openai.cl100k_base()
    for text in list(corpus().values())[:6]:
        ids = own.encode(text)
        assert ids == embedded.encode(text)
        assert own.count(text) == len(ids)
        assert own.decode(ids) == text
    assert own.bpe().decode_tokens(ids) == text.encode("utf-8")


def test_gaps_are_allowed_and_never_produced():
    # As tiktoken allows them: ranks 256 and 258 hold nothing.
    tokens = BYTES + [None, b"ab", None, b"abc"]
    ranks = {t: i for i, t in enumerate(tokens) if t is not None}
    ref = tiktoken.Encoding(
        "gaps", pat_str=PATTERNS["r50k_base"], mergeable_ranks=ranks, special_tokens={}
    )
    own = openai._from_ranks("gaps", tokens, "r50k")
    for text in ["abc ab abcabc", "xabcab", ""]:
        assert own.encode(text) == ref.encode_ordinary(text)
    assert own.decode([256]) is None
    assert own.decode([257, 259]) == "ababc"


@pytest.mark.parametrize(
    "tokens, rule_set, error, message",
    [
        (BYTES + [b"ab", b"ab"], "r50k", ValueError, r"b'ab' has two ranks, 256 and 257"),
        (BYTES + [b"a"], "r50k", ValueError, r"b'a' has two ranks, 97 and 256"),
        (BYTES + [b""], "r50k", ValueError, "rank 256 is an empty token"),
        (BYTES[:7] + BYTES[8:], "r50k", ValueError, "single byte 0x07"),
        ([], "r50k", ValueError, "single byte 0x00"),
        (BYTES + ["ab"], "r50k", TypeError, "rank 256 is str, expected bytes or None"),
        (BYTES, "gpt9", ValueError, "unknown rule set 'gpt9'"),
    ],
)
def test_bad_vocabularies_are_refused_by_rank_or_token(tokens, rule_set, error, message):
    with pytest.raises(error, match=message):
        openai._from_ranks("bad", tokens, rule_set)


def test_not_a_list():
    with pytest.raises(TypeError):
        openai._from_ranks("bad", tuple(BYTES), "r50k")


# Small vocabularies made as byte-pair training makes them: each new token
# joins two tokens that exist already.
# Vocabularies the backtracking encoder cannot serve: "abcd" is "ab" + "cd",
# but "bc" merges first, so merging by rank never reaches it; "abc" has no
# split at all. Such vocabularies are encoded by merging ranks.
NOT_MERGE_CLOSED = [
    BYTES + [b"bc", b"ab", b"cd", b"abcd"],
    BYTES + [b"abc"],
    BYTES + [b"abc", b"ab", b"bc"],
]


@pytest.mark.parametrize("tokens", NOT_MERGE_CLOSED)
def test_vocabularies_merging_cannot_close_encode_like_tiktoken(tokens):
    ranks = {t: i for i, t in enumerate(tokens)}
    for rule_set, pattern in [("whole", r"[\s\S]+"), ("r50k", PATTERNS["r50k_base"])]:
        ref = tiktoken.Encoding("r", pat_str=pattern, mergeable_ranks=ranks, special_tokens={})
        own = openai._from_ranks("r", tokens, rule_set)
        for text in ["abcd", "abc", "xabcdabcd abcd", "abcabc ab", "", "a" * 1000 + "bcd"]:
            ids = ref.encode_ordinary(text)
            assert own.encode(text) == ids, (rule_set, text)
            assert own.count(text) == len(ids)
            assert own.count_till_limit(text, len(ids)) == len(ids)
            if ids:
                assert own.count_till_limit(text, len(ids) - 1) is None


# Small vocabularies made as byte-pair training makes them: each new token
# joins two tokens that exist already (in any order of ranks, so merging by
# rank need not reach every one).
@st.composite
def merge_vocabularies(draw):
    parts = [bytes([c]) for c in b"abc "]
    tokens = list(BYTES)
    for _ in range(draw(st.integers(0, 40))):
        token = draw(st.sampled_from(parts)) + draw(st.sampled_from(parts))
        if token not in parts:
            parts.append(token)
            tokens.append(token)
    return tokens


@settings(max_examples=150, deadline=None)
@given(tokens=merge_vocabularies(), texts=st.lists(st.text("abc ", max_size=40), max_size=5))
def test_random_vocabularies_encode_like_tiktoken(tokens, texts):
    ranks = {t: i for i, t in enumerate(tokens)}
    for rule_set, pattern in [("whole", r"[\s\S]+"), ("r50k", PATTERNS["r50k_base"])]:
        ref = tiktoken.Encoding("r", pat_str=pattern, mergeable_ranks=ranks, special_tokens={})
        own = openai._from_ranks("r", tokens, rule_set)
        for text in texts:
            assert own.encode(text) == ref.encode_ordinary(text), (rule_set, text)


def test_each_rule_set_name():
    tokens = by_rank(load_ranks("cl100k_base"))
    for rule_set, pattern in [
        ("cl100k", PATTERNS["cl100k_base"]),
        ("o200k", PATTERNS["o200k_base"]),
    ]:
        own = openai._from_ranks("x", tokens, rule_set)
        ref = tiktoken.Encoding(
            "x", pat_str=pattern, mergeable_ranks=load_ranks("cl100k_base"), special_tokens={}
        )
        text = "Hello   world's 12345\n\n  x"
        assert own.encode(text) == ref.encode_ordinary(text)


def test_bpe_of_a_tokenizer_of_ones_own_outlives_it():
    import gc

    import velkan.bpe.openai as openai

    tokens = [bytes([i]) for i in range(256)] + [b"ab", b"abab"]
    tokenizer = openai._from_ranks("tiny", tokens, "whole")
    bpe = tokenizer.bpe()
    del tokenizer
    gc.collect()
    assert bpe.encode_via_backtracking(b"ababx") == [257, ord("x")]
    assert bpe.decode_tokens([257, 256]) == b"ababab"


@pytest.mark.parametrize(
    "ranks, message",
    [
        ({**{t: i for i, t in enumerate(BYTES)}, b"ab": 97}, r"b'a' and b'ab' share rank 97"),
        (
            {**{t: i for i, t in enumerate(BYTES)}, b"ab": 256, b"bc": 256},
            r"b'ab' and b'bc' share rank 256",
        ),
    ],
)
def test_encoding_refuses_two_tokens_of_one_rank(ranks, message):
    # tiktoken refuses them too (a PanicException); accepted, one of the two
    # tokens could never be decoded.
    import velkan

    with pytest.raises(ValueError, match=message):
        velkan.Encoding(
            "dup", pat_str=PATTERNS["r50k_base"], mergeable_ranks=ranks, special_tokens={}
        )


SPARSE_CHILD = r"""
import json, resource, sys
import velkan
ranks = {bytes([b]): b for b in range(256)}
ranks.update({b"ab": 300, b"abc": 10**6, b"bc": int(sys.argv[1])})
with open("/proc/self/status") as f:
    vm = next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmSize:"))
resource.setrlimit(resource.RLIMIT_AS, (vm + 512 * 2**20, resource.RLIM_INFINITY))
enc = velkan.Encoding("sparse", pat_str=sys.argv[2], mergeable_ranks=ranks,
                      special_tokens={"<|end|>": int(sys.argv[1]) + 1})
texts = json.loads(sys.argv[3])
out = [enc.encode(t, allowed_special="all") for t in texts]
assert [enc.decode(ids) for ids in out] == texts
assert enc.decode_single_token_bytes(int(sys.argv[1])) == b"bc"
assert enc.n_vocab == int(sys.argv[1]) + 2
print(json.dumps(out))
"""


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/status")
@pytest.mark.skipif(CHECKED, reason="the sanitizer reserves more address space than the limit")
@pytest.mark.parametrize("pattern", ["r50k_base", "cl100k_base"])
@pytest.mark.parametrize("top", [10**7, 10**9])
def test_a_rank_far_above_the_others_builds_in_bounded_memory(pattern, top):
    # Nothing may be sized by the largest rank: under half a gigabyte of
    # address space, a vocabulary of 259 tokens with a rank of 10**9 builds
    # and encodes as tiktoken does.
    pytest.importorskip("resource")
    ranks = {bytes([b]): b for b in range(256)}
    ranks.update({b"ab": 300, b"abc": 10**6, b"bc": top})
    ref = tiktoken.Encoding(
        "sparse",
        pat_str=PATTERNS[pattern],
        mergeable_ranks=ranks,
        special_tokens={"<|end|>": top + 1},
    )
    texts = ["abc bc abcbc", "xbcab<|end|>b", "", "\u00e9bc"]
    proc = subprocess.run(
        [sys.executable, "-c", SPARSE_CHILD, str(top), PATTERNS[pattern], json.dumps(texts)],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert proc.returncode == 0, proc.stderr[-2000:]
    assert json.loads(proc.stdout) == [ref.encode(t, allowed_special="all") for t in texts]


class _Bytes(bytes):
    pass


def _swapped(ranks, a, b):
    out = dict(ranks)
    out[a], out[b] = ranks[b], ranks[a]
    return out


def _moved_past_the_end(ranks, token):
    out = dict(ranks)
    out[token] = max(ranks.values()) + 1
    return out


@pytest.mark.parametrize(
    "change, shares",
    [
        (lambda r: dict(r), True),
        (lambda r: dict(reversed(list(r.items()))), True),
        (lambda r: _swapped(r, b" the", b" of"), False),
        (lambda r: _moved_past_the_end(r, b" the"), False),
        (lambda r: {t: i for t, i in r.items() if t != b" of"}, False),
        # Equal as dicts are: a bool for 1, keys of a bytes subclass.
        (lambda r: {t: True if i == 1 else i for t, i in r.items()}, True),
        (lambda r: {_Bytes(t): i for t, i in r.items()}, True),
    ],
    ids=[
        "same",
        "same-other-order",
        "two-swapped",
        "one-past-the-end",
        "one-missing",
        "bool-rank",
        "bytes-subclass",
    ],
)
def test_ranks_are_recognised_as_a_builtin_vocabulary_only_when_equal(change, shares):
    import velkan
    from velkan import _encodings_data

    ranks = change(load_ranks("cl100k_base"))
    pattern = _encodings_data.CL100K_PAT_STR
    mine = velkan.Encoding("mine", pat_str=pattern, mergeable_ranks=ranks, special_tokens={})
    builtin = velkan.get_encoding("cl100k_base")
    assert (mine._backend.vocabulary is builtin._backend.vocabulary) == shares
    if not shares:
        theirs = tiktoken.Encoding("t", pat_str=pattern, mergeable_ranks=ranks, special_tokens={})
        text = "the best of the rest, one of the others " * 3
        assert mine.encode(text) == theirs.encode(text)


FIRST_USE_CHILD = """
import json, sys
import velkan.bpe.openai as openai

tokens = [openai.cl100k_base().bpe().decode_tokens([i]) for i in range(100256)]
bpe = openai._from_ranks("mine", tokens, "cl100k").bpe()
data = sys.argv[1].encode()
print(json.dumps([bpe.count(data), bpe.encode_via_backtracking(data)]))
"""


def test_bpe_methods_right_after_the_build_wait_for_the_compile():
    # Called while the automaton compiles in the background, they wait for
    # it (with the interpreter lock released) and answer as the embedded one.
    text = "Hello   world's 12345\n\n  x " + list(corpus().values())[0][:3000]
    proc = subprocess.run(
        [sys.executable, "-c", FIRST_USE_CHILD, text], capture_output=True, text=True, timeout=120
    )
    assert proc.returncode == 0, proc.stderr[-2000:]
    ids = openai.cl100k_base().bpe().encode_via_backtracking(text.encode())
    assert json.loads(proc.stdout) == [len(ids), ids]
