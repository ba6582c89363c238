"""Custom Encodings whose pattern is one that an open-weight vocabulary in
tiktoken's format uses (Qwen's, Mistral's Tekken): split by a native rule
set chosen by the exact pattern string, with tiktoken's ids."""

import functools

import pytest
import tiktoken
from hypothesis import given, settings
from hypothesis import strategies as st

import velkan
from reference import TRICKY, corpus, load_ranks
from velkan import _encodings_data as facts

# Joins of two cl100k_base tokens that are not tokens themselves, as
# training would add them: a vocabulary of one's own, no built-in one.
_MERGES = [(b"hello", b" world"), (b"The", b" quick"), (b"\xe4\xb8", b"\x96"), (b"don", b"'t")]


@functools.cache
def _ranks(kind):
    if kind == "o200k_base":
        return load_ranks("o200k_base")
    ranks = load_ranks("cl100k_base")
    if kind == "cl100k_plus":
        rank = max(ranks.values()) + 1
        for a, b in _MERGES:
            assert a in ranks and b in ranks and a + b not in ranks
            ranks[a + b] = rank
            rank += 1
    return ranks


# (pattern, ranks): each known pattern on built-in ranks (the built-in
# vocabulary split another way) and on ranks of one's own.
CASES = {
    "qwen2 on cl100k": (facts.QWEN2_PAT_STR, "cl100k_base"),
    "qwen2 on its own": (facts.QWEN2_PAT_STR, "cl100k_plus"),
    "tekken on o200k": (facts.TEKKEN_PAT_STR, "o200k_base"),
    "tekken on its own": (facts.TEKKEN_PAT_STR, "cl100k_plus"),
}


@functools.cache
def _pair(case):
    pattern, kind = CASES[case]
    ranks = _ranks(kind)
    specials = {"<|im_start|>": max(ranks.values()) + 1}
    args = dict(pat_str=pattern, mergeable_ranks=ranks, special_tokens=specials)
    return tiktoken.Encoding(case, **args), velkan.Encoding(case, **args)


def test_each_known_pattern_names_its_rule_set():
    assert facts.rule_set_for_pattern(facts.QWEN2_PAT_STR) == "qwen2"
    assert facts.rule_set_for_pattern(facts.TEKKEN_PAT_STR) == "tekken"
    # Only the exact string: a pattern that differs in spelling is left to
    # the regex package.
    assert facts.rule_set_for_pattern(facts.QWEN2_PAT_STR + "|x") is None


@pytest.mark.parametrize("case", list(CASES))
def test_known_patterns_split_natively_with_tiktoken_s_ids(case):
    theirs, mine = _pair(case)
    assert mine._backend.native is not None and mine._backend.vocabulary.split is None
    texts = [t[:4000] for t in corpus().values()] + [
        "x 12345 ٣٤٥ ½ 2024-01-02",
        "they'LL don't HelloWorld's x\n  ",
        "a/b\r\n\r\n  c  \n",
        "hello world 123 世界",
    ]
    for text in texts:
        ids = theirs.encode_ordinary(text)
        assert mine.encode_ordinary(text) == ids, text[:80]
        assert mine.count(text) == len(ids)
    text = "<|im_start|>user 12345\n\n  "
    assert mine.encode(text, allowed_special="all") == theirs.encode(text, allowed_special="all")
    assert mine.encode_batch(texts[:8]) == theirs.encode_batch(texts[:8])
    for data in [b"x 12345 \xff", b"don't  \n\n\xe4\xb8", b"\xed\xa0\x80 12", b" \xc3"]:
        assert mine._encode_bytes(data) == theirs._encode_bytes(data), data


_CHARS = st.sampled_from(TRICKY + ["hello", " world", "don't", "123", "  ", "\r\n"])


@settings(max_examples=200, deadline=None)
@given(parts=st.lists(_CHARS, max_size=16), case=st.sampled_from(list(CASES)))
def test_known_patterns_encode_like_tiktoken_on_awkward_text(parts, case):
    theirs, mine = _pair(case)
    text = "".join(parts)
    assert mine.encode_ordinary(text) == theirs.encode_ordinary(text)
