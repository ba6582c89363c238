"""The piece cache is shared by every call on a vocabulary: what one call
stores, later calls, other threads and forked children read. Its answers
must be exactly the encoder's."""

import os
import random
import sys
import threading

import pytest

from reference import VOCABULARIES, reference, tokenizer


def _words(seed, count):
    # Pieces that need the encoder, at and around the cache's limits (48
    # bytes, 18 ids), with multi-byte letters.
    rng = random.Random(seed)
    letters = "abcdefghijklmnopqrstuvwxyzéßжλ中"
    out = []
    for i in range(count):
        size = (47, 48, 49, 12)[i % 4] if i % 9 == 0 else rng.randint(3, 16)
        word = "".join(rng.choice(letters) for _ in range(size))
        out.append(" " + word[: size // 2] if i % 3 else word)
    return out


@pytest.mark.parametrize("name", VOCABULARIES)
def test_later_calls_reuse_pieces_exactly(name):
    words = _words(1, 600)
    tok, ref = tokenizer(name), reference(name)
    # The same pieces in texts of every length, so short and long calls
    # read what the others stored.
    for start in range(0, len(words), 37):
        for text in ("".join(words[start : start + 37]), words[start], "x" + words[start]):
            assert tok.encode(text) == ref.encode_ordinary(text), text
            assert tok.count(text) == len(ref.encode_ordinary(text)), text


@pytest.mark.parametrize("name", VOCABULARIES)
def test_threads_share_the_cache(name):
    words = _words(2, 3000)
    texts = ["".join(words[i : i + 50]) for i in range(0, len(words), 50)]
    expected = [reference(name).encode_ordinary(t) for t in texts]
    tok = tokenizer(name)
    wrong = []

    def work(k):
        for t, e in zip(texts[k::2] + texts, expected[k::2] + expected):
            if tok.encode(t) != e:
                wrong.append(t)

    threads = [threading.Thread(target=work, args=(k % 2,)) for k in range(4)]
    for t in threads:
        t.start()
    results = tok.encode_batch_parallel(texts)[0]
    for t in threads:
        t.join()
    assert results == expected
    assert not wrong


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
@pytest.mark.parametrize("name", VOCABULARIES)
def test_forked_child_reads_and_writes_the_inherited_cache(name):
    tok, ref = tokenizer(name), reference(name)
    words = _words(3, 400)
    warm, fresh = "".join(words[:200]), "".join(words[200:])
    assert tok.encode(warm) == ref.encode_ordinary(warm)
    expected = ref.encode_ordinary(warm), ref.encode_ordinary(fresh)
    pid = os.fork()
    if pid == 0:
        ok = (tok.encode(warm), tok.encode(fresh), tok.encode(fresh)) == (expected + (expected[1],))
        sys.stdout.flush()
        os._exit(0 if ok else 1)
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0
