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


@pytest.mark.parametrize(
    "imports",
    [
        # The everyday path: an encoding made (from its image or built) and used.
        """
        import velkan, velkan.bpe.openai
        velkan.get_encoding("cl100k_base").encode("x")
        """,
        # Every module of the package: the command line, the tiktoken facade
        # and the separate image writer extension (velkan._image_writer),
        # which declares its lock use apart from velkan.bpe.
        """
        import importlib, pkgutil, velkan
        for m in pkgutil.walk_packages(velkan.__path__, "velkan."):
            if m.name != "velkan.__main__":
                importlib.import_module(m.name)
        import velkan._image_writer
        """,
    ],
    ids=["encode", "every_module"],
)
def test_importing_keeps_the_lock_off(imports):
    # The lock coming back warns: an error here.
    prelude = "import sys, warnings\nwarnings.simplefilter('error')\n"
    out = run(prelude + textwrap.dedent(imports) + "print(sys._is_gil_enabled())\n")
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["False"]


def test_threads_sharing_encodings_get_the_same_ids():
    # Every call that touches shared state: the int table (new ids keep
    # coming), the piece cache, the special-token subsets (frozensets that
    # outnumber the cache's bound, so it is emptied while others read it),
    # streams, budgets and the pool. The ids one thread gets are tiktoken's
    # (checked once, before the threads start).
    out = run(
        """
        import random, threading, tiktoken, velkan
        from reference import reference
        names = ("cl100k_base", "o200k_base")
        encs = [velkan.get_encoding(n) for n in names]
        words = open(%r, encoding="utf-8").read().split()
        rng = random.Random(3)
        texts = [" ".join(rng.choices(words, k=200)) + " <|endoftext|>" for _ in range(60)]
        subsets = [frozenset({"<|endoftext|>", "x%%d" %% i}) for i in range(100)]

        def calls(enc, i):
            text = texts[i %% len(texts)]
            stream = enc.stream(allowed_special="all")
            streamed = stream.feed(text[:50]) + stream.feed(text[50:]) + stream.finish()
            ids = enc.encode(text, allowed_special=subsets[i %% len(subsets)])
            return (
                ids,
                enc.encode_ordinary(text),
                enc.count(text),
                enc.decode(ids),
                enc.count_batch([text[::-1], text]),
                enc.encode_to_numpy(text[::-1]).tolist(),
                len(enc.encode_batch([text, text[::-1]], allowed_special="all")[1]),
                [len(c) for c in enc.chunks(text, 64)],
                enc.truncate(text, 30),
                streamed,
            )

        expected = [[calls(enc, i) for i in range(120)] for enc in encs]
        wrong = []
        for e, name in enumerate(names):
            plain = reference(name)
            ref = tiktoken.Encoding(
                name,
                pat_str=plain._pat_str,
                mergeable_ranks=plain._mergeable_ranks,
                special_tokens=encs[e]._special_tokens,
            )
            for i in range(120):
                text = texts[i %% len(texts)]
                got = expected[e][i]
                if got[0] != ref.encode(text, allowed_special=subsets[i %% len(subsets)]) or (
                    got[1] != ref.encode_ordinary(text) or got[3] != text
                ):
                    wrong.append(("tiktoken", e, i))

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
