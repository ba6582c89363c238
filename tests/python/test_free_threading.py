"""Free-threaded CPython (3.13t and later): importing velkan keeps the
interpreter lock off, and threads that share encodings get the ids one
thread gets. Skipped on interpreters with the lock."""

import os
import subprocess
import sys
import sysconfig
import textwrap

import pytest

from reference import DATA, HERE

pytestmark = pytest.mark.skipif(
    not sysconfig.get_config_var("Py_GIL_DISABLED"), reason="needs a free-threaded CPython"
)


def run(code):
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=600,
        env={**os.environ, "PYTHONPATH": HERE},
    )


def test_importing_keeps_the_lock_off():
    out = run(
        """
        import sys, warnings
        warnings.simplefilter("error")  # the lock coming back warns
        import velkan, velkan.bpe.openai
        velkan.get_encoding("cl100k_base").encode("x")
        print(sys._is_gil_enabled())
        """
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["False"]


def test_threads_sharing_encodings_get_the_same_ids():
    # Every call that touches shared state: the int table (new ids keep
    # coming), the piece cache, the special-token subsets (frozensets that
    # outnumber the cache's bound, so it is emptied while others read it),
    # streams, budgets and the pool.
    out = run(
        """
        import random, threading, velkan
        encs = [velkan.get_encoding(n) for n in ("cl100k_base", "o200k_base")]
        words = open(%r, encoding="utf-8").read().split()
        rng = random.Random(3)
        texts = [" ".join(rng.choices(words, k=200)) + " <|endoftext|>" for _ in range(60)]
        subsets = [frozenset({"<|endoftext|>", "x%%d" %% i}) for i in range(100)]

        def calls(enc, i):
            text = texts[i %% len(texts)]
            stream = enc.stream(allowed_special="all")
            streamed = stream.feed(text[:50]) + stream.feed(text[50:]) + stream.finish()
            return (
                enc.encode(text, allowed_special=subsets[i %% len(subsets)]),
                enc.encode_ordinary(text),
                len(enc.encode_batch([text, text[::-1]], allowed_special="all")[1]),
                [len(c) for c in enc.chunks(text, 64)],
                enc.truncate(text, 30),
                streamed,
            )

        expected = [[calls(enc, i) for i in range(120)] for enc in encs]
        wrong = []

        def work(k):
            for round in range(3):
                for e, enc in enumerate(encs):
                    for i in range(k, 120, 8):
                        if calls(enc, i) != expected[e][i]:
                            wrong.append((k, e, i))

        threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        print(len(wrong))
        """
        % os.path.join(DATA, "corpus", "multilingual.txt")
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["0"]
