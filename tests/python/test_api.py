"""The Python surface of Tokenizer, BytePairEncoding and the module functions."""

import threading

import pytest

import velkan.bpe.openai as openai
from reference import VOCABULARIES, corpus, tokenizer

SIZES = {"cl100k_base": 100256, "o200k_base": 199998}


@pytest.fixture(params=VOCABULARIES)
def name(request):
    return request.param


@pytest.fixture
def tok(name):
    return tokenizer(name)


def test_empty_text(tok):
    assert tok.encode("") == []
    assert tok.count("") == 0
    assert tok.count_till_limit("", 0) == 0
    assert tok.decode([]) == ""


def test_bytes_and_str_agree(tok):
    assert tok.encode(b"hello world") == tok.encode("hello world")
    assert tok.count(b"caf\xc3\xa9") == tok.count("café")


@pytest.mark.parametrize("bad", [5, None, ["a"], 1.5])
def test_text_argument_types(tok, bad):
    for method in ("encode", "count"):
        with pytest.raises(
            TypeError, match=f"{method}: text must be str or bytes, not {type(bad).__name__}"
        ):
            getattr(tok, method)(bad)


@pytest.mark.parametrize("make", [bytes, bytearray, memoryview, lambda b: memoryview(bytearray(b))])
def test_bytes_like_texts(tok, make):
    text = "bytes-like text, café"
    data = make(text.encode())
    expected = tok.encode(text)
    assert tok.encode(data) == expected
    assert tok.count(data) == len(expected)
    assert tok.count_till_limit(data, 100) == len(expected)
    assert tok.encode_batch([data, text])[0] == [expected, expected]
    assert tok.encode_batch_parallel([data, text])[0] == [expected, expected]
    assert tok.count_batch([data, text]) == [len(expected)] * 2


def test_writable_buffers_in_large_parallel_batches(tok):
    # Large enough to go to the pool, where the lock is released: the buffers
    # are copied, and the results are those of the bytes at the call.
    texts = [bytearray(b"shared buffer %d " % i * 50) for i in range(300)]
    expected = [tok.encode(bytes(t)) for t in texts]
    assert tok.encode_batch_parallel(texts)[0] == expected
    assert tok.count_batch(texts) == [len(e) for e in expected]


def test_lone_surrogate_is_rejected(tok):
    with pytest.raises(UnicodeEncodeError):
        tok.encode("a\ud800b")
    with pytest.raises(UnicodeEncodeError):
        tok.encode_batch(["ok", "a\udfffb"])


def test_invalid_utf8_bytes_are_covered(tok):
    for data in [
        b"\xff",
        b"a\x80b",
        b" \x85",
        b"  \x85",
        b"\xe2\x80",
        b"\xc3",
        b"\xf4\x90\x80\x80",
        b"\xed\xa0\x80 x",
        b"\t\xa0\xa0 y",
    ]:
        ids = tok.encode(data)
        assert tok.bpe().decode_tokens(ids) == data
        assert tok.count(data) == len(ids)


def test_count_till_limit(tok):
    text = "The quick brown fox jumps over the lazy dog. " * 20
    n = tok.count(text)
    assert tok.count_till_limit(text, n) == n
    assert tok.count_till_limit(text, n - 1) is None
    assert tok.count_till_limit(text, 0) is None
    assert tok.count_till_limit(text, 2**63 - 1) == n
    with pytest.raises(ValueError):
        tok.count_till_limit(text, -1)
    with pytest.raises(TypeError):
        tok.count_till_limit(text, "5")


def test_decode_round_trip(tok):
    for text in list(corpus().values())[:10]:
        assert tok.decode(tok.encode(text)) == text


def test_decode_edge_cases(tok, name):
    assert tok.decode([SIZES[name]]) is None
    assert tok.decode([SIZES[name] - 1]) is not None
    lone_lead = next(i for i in range(256) if tok.bpe().decode_tokens([i]) == b"\xe4")
    assert tok.decode([lone_lead]) is None
    with pytest.raises(ValueError, match="-1"):
        tok.decode([-1])
    with pytest.raises(OverflowError):
        tok.decode([2**31])
    with pytest.raises(OverflowError):
        tok.decode([2**63])
    with pytest.raises(TypeError):
        tok.decode([1.0])
    with pytest.raises(TypeError):
        tok.decode([None])
    with pytest.raises(TypeError, match="decode: ids must be a sequence of ints, not bytes"):
        tok.decode(b"\x01\x02")
    assert tok.decode((1, 2)) == tok.decode([1, 2])
    assert tok.decode([True]) == tok.decode([1])


def test_decode_batch(tok, name):
    lists = [tok.encode("hello"), [], [SIZES[name]], tok.encode("wörld")]
    assert tok.decode_batch(lists) == ["hello", "", None, "wörld"]
    assert tok.decode_batch_parallel(lists) == tok.decode_batch(lists)
    assert tok.decode_batch_parallel(lists, openai.ParallelOptions()) == tok.decode_batch(lists)
    assert tok.decode_batch([]) == []
    with pytest.raises(
        TypeError,
        match=r"decode_batch: batch\[1\] must be a sequence of ints, "
        "not int",
    ):
        tok.decode_batch([[1, 2], 5])
    with pytest.raises(ValueError):
        tok.decode_batch([[1], [-5]])


def test_encode_batch(tok):
    texts = list(corpus().values())[:20] + ["", "a", "  \n"]
    ids, total, elapsed = tok.encode_batch(texts)
    assert ids == [tok.encode(t) for t in texts]
    assert total == sum(map(len, ids))
    assert isinstance(elapsed, float) and elapsed >= 0
    assert tok.encode_batch([])[:2] == ([], 0)
    with pytest.raises(TypeError, match=r"encode_batch: texts\[1\] must be str or bytes, not int"):
        tok.encode_batch(["a", 1])
    with pytest.raises(TypeError, match="encode_batch: texts must be a list, not tuple"):
        tok.encode_batch(("a",))


def test_encode_batch_parallel(tok):
    texts = list(corpus().values())[:30] * 3 + ["", "x"]
    expected = [tok.encode(t) for t in texts]
    for args in [(), (None,), (openai.ParallelOptions(1, 2, 3),), ("anything",)]:
        ids, total, elapsed, threads = tok.encode_batch_parallel(texts, *args)
        assert ids == expected
        assert total == sum(map(len, expected))
        assert elapsed >= 0
        assert threads == openai.get_num_threads()
    assert tok.encode_batch_parallel([])[:2] == ([], 0)
    with pytest.raises(TypeError, match=r"texts\[2\] must be str or bytes, not NoneType"):
        tok.encode_batch_parallel(["a", b"b", None])


def test_parallel_many_texts_keep_order(tok):
    # More texts than the job ring holds, and a long first text that finishes last.
    texts = ["word " * 20000] + [f"text number {i}" for i in range(9000)]
    ids = tok.encode_batch_parallel(texts)[0]
    assert len(ids) == len(texts)
    assert ids[0] == tok.encode(texts[0])
    assert all(ids[i] == tok.encode(texts[i]) for i in range(1, len(texts), 97))


def test_parallel_from_two_threads(tok):
    texts_a = [f"alpha {i} " * (i % 7 + 1) for i in range(3000)]
    texts_b = [f"βήτα {i}\n" * (i % 5 + 1) for i in range(3000)]
    results = {}

    def run(key, texts):
        results[key] = tok.encode_batch_parallel(texts)[0]

    threads = [
        threading.Thread(target=run, args=("a", texts_a)),
        threading.Thread(target=run, args=("b", texts_b)),
    ]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results["a"] == [tok.encode(t) for t in texts_a]
    assert results["b"] == [tok.encode(t) for t in texts_b]


def test_get_num_threads():
    import os

    assert openai.get_num_threads() == min(len(os.sched_getaffinity(0)), 256)


def test_bpe_methods(tok, name):
    bpe = tok.bpe()
    assert bpe.count(b"") == 0
    assert bpe.encode_via_backtracking(b"") == []
    assert bpe.decode_tokens([]) == b""
    for data in [b"hello", b"\xff\xfe\x00abc", "naïve café".encode(), bytes(range(256))]:
        ids = bpe.encode_via_backtracking(data)
        assert bpe.decode_tokens(ids) == data
        assert bpe.count(data) == len(ids)
        assert bpe.encode_via_backtracking(bytearray(data)) == ids
        assert bpe.encode_via_backtracking(memoryview(data)) == ids
    assert bpe.decode_tokens([SIZES[name]]) == b""
    with pytest.raises(TypeError):
        bpe.count("text")
    with pytest.raises(OverflowError):
        bpe.decode_tokens([2**31])
    with pytest.raises(ValueError):
        bpe.decode_tokens([-1])
    with pytest.raises(TypeError):
        bpe.decode_tokens(b"\x01")
    assert bpe.decode_tokens((1,)) == bpe.decode_tokens([1])
    # One lower-case word is one piece: the whole-text count equals the tokenizer's.
    assert bpe.count(b"tokenization") == tok.count("tokenization")


def test_tokenizers_share_the_cache(name):
    a, b = getattr(openai, name)(), getattr(openai, name)()
    assert a is not b
    assert a.encode("shared") == b.encode("shared")


@pytest.mark.parametrize(
    "limit, error, message",
    [
        (
            2**63,
            OverflowError,
            r"count_till_limit: limit is too large, at most 2\*\*63 - 1, got 9223372036854775808",
        ),
        (-1, ValueError, "count_till_limit: limit must not be negative, got -1"),
        (-(2**70), ValueError, "limit must not be negative"),
        (1.5, TypeError, "count_till_limit: limit must be an int, not float"),
    ],
)
def test_count_till_limit_messages(tok, limit, error, message):
    with pytest.raises(error, match=message):
        tok.count_till_limit("hi", limit)
