"""The interpreter exits while daemon threads are in the middle of native
calls: the process must end cleanly, whatever those threads were doing (on
the worker pool, without the interpreter lock, or making an encoding)."""

import os
import subprocess
import sys
import textwrap

import pytest

from reference import HERE

# Each call runs in a loop on three daemon threads; the main thread returns
# while they work. The texts are long enough that every call lets the lock go.
CALLS = [
    "enc.encode_batch(many, num_threads=2)",
    "enc.encode_ordinary_batch(many)",
    "enc.encode_batch(many, allowed_special='all')",
    "enc.encode_batch_to_numpy(many)",
    "enc.decode_batch(ids)",
    "enc.encode(long)",
    "enc.encode(long, allowed_special='all')",
    "t.count_batch(many)",
    "t.encode_batch_flat(many)",
    "t.count(long)",
    "enc.chunks(long, 500)",
    "enc.truncate(long, 10**6)",
    "enc.stream().feed(long)",
]

SCRIPT = """
import sys, threading, time
import velkan, velkan.bpe.openai as o
enc = velkan.get_encoding("cl100k_base")
t = o.cl100k_base()
long = "lorem ipsum dolor sit amet " * 40_000
many = [long] * 8
ids = [enc.encode(long)] * 8
started = threading.Semaphore(0)

def work():
    started.release()
    while True:
        {call}

for _ in range(3):
    threading.Thread(target=work, daemon=True).start()
for _ in range(3):
    started.acquire()
time.sleep(0.3)
"""


def run(code, env=None):
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=300,
        env={**os.environ, "PYTHONPATH": HERE, **(env or {})},
    )


@pytest.mark.parametrize("call", CALLS)
def test_exit_while_daemon_threads_run_native_calls(call):
    out = run(SCRIPT.format(call=call))
    assert out.returncode == 0, out.stderr[-2000:]


def test_exit_while_a_daemon_thread_makes_an_encoding(tmp_path):
    # The first construction builds the encoding without the lock (no image
    # in an empty cache directory) and starts the writer of its image.
    out = run(
        """
        import threading, time
        import velkan
        threading.Thread(target=lambda: velkan.get_encoding("o200k_base"), daemon=True).start()
        time.sleep(0.2)
        """,
        env={"VELKAN_CACHE_DIR": str(tmp_path)},
    )
    assert out.returncode == 0, out.stderr[-2000:]
