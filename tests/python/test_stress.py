"""Load, leaks and processes: parallel batches from many threads at once,
memory that stays flat over a million calls, and the worker pool across fork
and spawn."""

import gc
import os
import random
import subprocess
import sys
import textwrap
import threading
import tracemalloc

import pytest
from sizes import ADDRESS_SPACE_LIMITS, CHECKED, NO_ADDRESS_SPACE_LIMITS, size

import velkan.bpe.openai as openai
from reference import HERE, VOCABULARIES, corpus, tokenizer


def mixed_texts(n, seed):
    """Lines of the corpus, random Unicode, invalid-looking odds and ends and
    empty strings, in random order."""
    rng = random.Random(seed)
    lines = [line for text in corpus().values() for line in text.splitlines(keepends=True)]
    alphabet = "aZé中🙂 \t\n\r'0123,.\u3000\u0301ǅ"
    texts = []
    for i in range(n):
        kind = i % 5
        if kind == 0:
            texts.append("")
        elif kind == 1:
            texts.append("".join(rng.choice(alphabet) for _ in range(rng.randrange(1, 60))))
        elif kind == 2:
            texts.append("".join(rng.sample(lines, 3)))
        else:
            texts.append(rng.choice(lines) * rng.randrange(1, 4))
    return texts


# ---- threads -------------------------------------------------------------------------


@pytest.mark.slow
def test_parallel_batches_from_many_threads():
    # 8 threads submit parallel batches of both vocabularies while two more
    # encode and decode single texts; every result equals sequential encoding.
    texts = mixed_texts(1000, 1)
    toks = [tokenizer(name) for name in VOCABULARIES]
    expected = [[t.encode(x) for x in texts] for t in toks]
    rounds = size(200, 6)
    failures = []
    stop = threading.Event()

    def batches(k):
        tok, want = toks[k % 2], expected[k % 2]
        for r in range(rounds):
            ids, total, _, threads = tok.encode_batch_parallel(texts)
            if ids != want or total != sum(map(len, want)) or threads != openai.get_num_threads():
                failures.append(("batch", k, r))

    def singles(k):
        tok, want = toks[k % 2], expected[k % 2]
        i = 0
        while not stop.is_set():
            i = (i + 7) % len(texts)
            if tok.encode(texts[i]) != want[i] or tok.decode(want[i]) != texts[i]:
                failures.append(("single", k, i))

    workers = [threading.Thread(target=batches, args=(k,)) for k in range(8)]
    others = [threading.Thread(target=singles, args=(k,)) for k in range(2)]
    for t in workers + others:
        t.start()
    for t in workers:
        t.join()
    stop.set()
    for t in others:
        t.join()
    assert failures == []


# ---- leaks -----------------------------------------------------------------------------


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def calls(tok):
    """Every method on tiny input, on success and on failure paths, with the
    number of calls for a million-call budget: the parallel batch and the
    failing paths cost more per call, so they get fewer."""
    bpe = tok.bpe()
    ids = tok.encode("hi there")
    lone_lead = next(i for i in range(256) if bpe.decode_tokens([i]) == b"\xe4")
    pool_batch = ["a text for the pool %d " % i * 10 for i in range(400)]

    def fails(f, *args):
        def call():
            try:
                f(*args)
            except (TypeError, ValueError, OverflowError, UnicodeEncodeError):
                return
            raise AssertionError("no error")

        return call

    return {
        "count": (lambda: tok.count("hi there"), 1_000_000),
        "count_till_limit": (lambda: tok.count_till_limit("hi there", 1), 1_000_000),
        "encode": (lambda: tok.encode("hi there"), 1_000_000),
        "encode_batch": (lambda: tok.encode_batch(["hi", "there"]), 1_000_000),
        "encode_batch_parallel": (lambda: tok.encode_batch_parallel(["hi", "there"]), 100_000),
        "count_batch": (lambda: tok.count_batch(["hi", b"there"]), 1_000_000),
        "count_batch on the pool": (lambda: tok.count_batch(pool_batch), 1_000),
        "encode_batch_parallel on the pool": (lambda: tok.encode_batch_parallel(pool_batch), 1_000),
        "decode": (lambda: tok.decode(ids), 1_000_000),
        "decode tuple": (lambda: tok.decode(tuple(ids)), 1_000_000),
        "decode invalid": (lambda: tok.decode([ids[0], lone_lead]), 1_000_000),
        "decode_batch": (lambda: tok.decode_batch([ids, ids]), 1_000_000),
        "decode_batch_parallel": (lambda: tok.decode_batch_parallel([ids], None), 1_000_000),
        "bpe": (tok.bpe, 1_000_000),
        "bpe.count": (lambda: bpe.count(b"hi"), 1_000_000),
        "bpe.encode_via_backtracking": (lambda: bpe.encode_via_backtracking(b"hi"), 1_000_000),
        "bpe.decode_tokens": (lambda: bpe.decode_tokens(ids), 1_000_000),
        "cl100k_base": (openai.cl100k_base, 1_000_000),
        "negative id": (fails(tok.decode, [1, 2, -1]), 300_000),
        "overflowing id": (fails(bpe.decode_tokens, [1, 2**40]), 300_000),
        "non-int id": (fails(tok.decode_batch, [[1], [2, None]]), 300_000),
        "non-list element": (fails(tok.decode_batch, [[1], 5]), 300_000),
        "bytearray text": (lambda: tok.encode(bytearray(b"hi there")), 1_000_000),
        "non-str in count_batch": (fails(tok.count_batch, ["ok", bytearray(b"x"), 1]), 300_000),
        "surrogate": (fails(tok.encode, "a\ud800"), 300_000),
        "surrogate in batch": (fails(tok.encode_batch_parallel, ["ok", "a\ud800"]), 300_000),
        "non-str in batch": (fails(tok.encode_batch, ["ok", 1]), 300_000),
        "negative limit": (fails(tok.count_till_limit, "x", -1), 300_000),
        "made directly": (fails(openai.Tokenizer().encode, "x"), 300_000),
    }


@pytest.mark.slow
@pytest.mark.skipif(CHECKED, reason="the sanitizer's allocator holds freed memory back")
def test_resident_memory_stays_flat():
    # A million calls per method on tiny input: a leak of even a few bytes a
    # call shows as megabytes. Measured after a warm-up that fills the
    # allocators' free lists.
    tok = tokenizer("cl100k_base")
    grown = {}
    for name, (call, n) in calls(tok).items():
        for _ in range(n // 10):
            call()
        gc.collect()
        before = resident_bytes()
        for _ in range(n):
            call()
        gc.collect()
        growth = resident_bytes() - before
        if growth > before // 100:
            grown[name] = growth
    assert grown == {}


@pytest.mark.slow
def test_python_objects_do_not_accumulate():
    # tracemalloc sees every Python allocation: after the calls, whatever they
    # made must be gone again, however many calls there were.
    tok = tokenizer("o200k_base")
    leaked = {}
    for name, (call, n) in calls(tok).items():
        n = size(20_000, 2_000) if n >= 1_000_000 else size(5_000, 500)
        for _ in range(100):
            call()
        gc.collect()
        tracemalloc.start()
        try:
            before = tracemalloc.get_traced_memory()[0]
            for _ in range(n):
                call()
            gc.collect()
            growth = tracemalloc.get_traced_memory()[0] - before
        finally:
            tracemalloc.stop()
        if growth > 16_384:
            leaked[name] = growth
    assert leaked == {}


# ---- processes --------------------------------------------------------------------------


# Under AddressSanitizer a fork child can inherit the sanitizer's own
# allocator lock held by a parent thread (its runtime takes no fork handlers
# for it) and hang in malloc; glibc's malloc is fork-safe, so this runs only
# in the plain build.
@pytest.mark.skipif(CHECKED, reason="the sanitizer's allocator is not fork-safe with threads")
def test_fork_while_the_pool_is_busy(tmp_path):
    # The parent keeps its pool busy from another thread while it forks, so a
    # child may start with the pool's lock taken by a thread it does not have.
    # Children (and a grandchild) must get a pool of their own and the right
    # results; "spawn" children start clean.
    script = tmp_path / "busy_fork.py"
    script.write_text(
        textwrap.dedent("""
        import multiprocessing as mp
        import os
        import sys
        import threading
        import velkan.bpe.openai as o

        TEXTS = ["busy %d fork " % i * (i % 11 + 1) for i in range(3000)]

        def check(_=None):
            t = o.o200k_base()
            return t.encode_batch_parallel(TEXTS)[0] == [t.encode(x) for x in TEXTS]

        def grandchild(_):
            pid = os.fork()
            if pid == 0:
                os._exit(0 if check() else 1)
            _, status = os.waitpid(pid, 0)
            return check() and os.WEXITSTATUS(status) == 0

        if __name__ == "__main__":
            stop = threading.Event()
            def busy():
                t = o.o200k_base()
                while not stop.is_set():
                    t.encode_batch_parallel(TEXTS)
            thread = threading.Thread(target=busy)
            thread.start()
            results = []
            try:
                for _ in range(ROUNDS):
                    with mp.get_context("fork").Pool(2) as pool:
                        results.append(all(pool.map(check, range(2), chunksize=1)))
                        results.append(all(pool.map(grandchild, range(2), chunksize=1)))
                with mp.get_context("spawn").Pool(2) as pool:
                    results.append(all(pool.map(check, range(2), chunksize=1)))
            finally:
                stop.set()
                thread.join()
            results.append(check())
            print(all(results), len(results))
    """).replace("ROUNDS", str(size(4, 2)))
    )
    out = subprocess.run(
        [sys.executable, str(script)],
        capture_output=True,
        text=True,
        timeout=300,
        cwd=str(tmp_path),
        env={**os.environ, "PYTHONPATH": HERE},
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["True", str(2 * size(4, 2) + 2)]


@pytest.mark.skipif(CHECKED, reason="the sanitizer reserves more address space than the limit")
@pytest.mark.skipif(not ADDRESS_SPACE_LIMITS, reason=NO_ADDRESS_SPACE_LIMITS)
def test_out_of_memory_is_a_memory_error():
    # With the address space capped just above what the process uses, every
    # way into the native code meets a failing allocation: each must raise
    # MemoryError, in the pool's workers too, and everything must work again
    # once memory is back.
    code = textwrap.dedent("""
        import resource
        import sys
        import velkan.bpe.openai as o

        t = o.cl100k_base()
        o.get_num_threads()  # the pool's threads exist before the cap
        big = "a" * 300_000_000
        big_bytes = big.encode()
        long_id = max(range(100_000), key=lambda i: len(t.bpe().decode_tokens([i])))
        ids = [long_id] * 4_000_000
        with open("/proc/self/statm") as f:
            used = int(f.read().split()[0]) * resource.getpagesize()
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        resource.setrlimit(resource.RLIMIT_AS, (used + 150_000_000, hard))
        calls = {
            "count": lambda: t.count(big),
            "count_till_limit": lambda: t.count_till_limit(big, 10**12),
            "encode": lambda: t.encode(big),
            "encode_batch": lambda: t.encode_batch([big]),
            "encode_batch_parallel": lambda: t.encode_batch_parallel([big, "x", big]),
            "count_batch": lambda: t.count_batch([big, "x", big]),
            "decode": lambda: t.decode(ids),
            "decode_batch": lambda: t.decode_batch([[1, 2], ids, [3]]),
            "decode_batch_parallel": lambda: t.decode_batch_parallel([[1, 2], ids, [3]]),
            "decode_tokens": lambda: t.bpe().decode_tokens(ids),
            "bpe.count": lambda: t.bpe().count(big_bytes),
            "bpe.encode_via_backtracking": lambda: t.bpe().encode_via_backtracking(big_bytes),
        }
        held = [big, big_bytes, ids, ids[0]]
        before = [sys.getrefcount(x) for x in held]
        for name, call in calls.items():
            try:
                call()
                print(name, "no error")
            except MemoryError:
                print(name, "MemoryError")
        # A failing call gives back every reference it took.
        after = [sys.getrefcount(x) for x in held]
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        print("references", "kept" if after == before else (before, after))
        again = t.encode_batch_parallel(["hello", "world"])[0]
        print("after", again == [t.encode("hello"), t.encode("world")])
    """)
    out = subprocess.run(
        [sys.executable, "-c", code],
        capture_output=True,
        text=True,
        timeout=300,
        env={**os.environ, "PYTHONPATH": HERE},
    )
    assert out.returncode == 0, out.stderr
    lines = out.stdout.splitlines()
    assert lines[-2:] == ["references kept", "after True"]
    assert [line for line in lines[:-2] if not line.endswith("MemoryError")] == []


def test_first_use_from_many_threads():
    # Eight threads ask for both vocabularies at once in a fresh process: one
    # encoding per vocabulary is made, and every tokenizer gives the same ids.
    code = textwrap.dedent("""
        import threading
        import velkan.bpe.openai as o

        results = []
        def first_use(k):
            t = (o.cl100k_base if k % 2 else o.o200k_base)()
            results.append((k % 2, tuple(t.encode("first use, at once"))))
        threads = [threading.Thread(target=first_use, args=(k,)) for k in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        print(len(results), len(set(results)), o.is_cached_cl100k(), o.is_cached_o200k())
    """)
    out = subprocess.run(
        [sys.executable, "-c", code],
        capture_output=True,
        text=True,
        timeout=300,
        env={**os.environ, "PYTHONPATH": HERE},
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["8", "2", "True", "True"]
