"""First use of a vocabulary from many threads at once, with the image lookup
hooks of velkan.images releasing the interpreter lock: the encoding is made
once, the hooks are told what happened once, and every tokenizer shares it.
Also _vocabularies() and _save_image(). Each case runs in a fresh
interpreter, since the cache is process-wide."""

import json
import os
import subprocess
import sys

import pytest

CONCURRENT = r"""
import json, sys, threading, time
import velkan.images as images
import velkan.bpe.openai as openai
name, image = sys.argv[1], sys.argv[2]
asked, ready = [], []
def image_paths(n):
    asked.append(n)
    time.sleep(0.05)  # releases the interpreter lock mid-lookup
    return [image, "/nonexistent/" + n + ".bin"]
def encoding_ready(n, loaded, refused):
    ready.append([n, loaded, refused])
    raise RuntimeError("dropped by the binding")
images._image_paths, images._encoding_ready = image_paths, encoding_ready
barrier = threading.Barrier(4)
tokenizers = []
def first_use():
    barrier.wait()
    tokenizers.append(getattr(openai, name)())
threads = [threading.Thread(target=first_use) for _ in range(4)]
for t in threads: t.start()
for t in threads: t.join()
bpes = {id(t.bpe()) for t in tokenizers}
print(json.dumps({"tokenizers": len(tokenizers), "ready": ready, "asked": len(asked),
                  "ids": tokenizers[0].encode("hello world"),
                  "cached": getattr(openai, "is_cached_" + name.split("_")[0])()}))
"""


def run(code, *args):
    proc = subprocess.run(
        [sys.executable, "-c", code, *args], capture_output=True, text=True, timeout=300
    )
    assert proc.returncode == 0, proc.stderr[-2000:]
    return json.loads(proc.stdout)


def test_made_once_from_many_threads(tmp_path):
    garbage = tmp_path / "garbage.bin"
    garbage.write_bytes(b"\0" * 4096)
    result = run(CONCURRENT, "cl100k_base", str(garbage))
    assert result["tokenizers"] == 4
    assert result["ids"] == [15339, 1917]
    assert result["cached"] is True
    # Exactly one construction reported: built, with the garbage refused and
    # the missing path not counted as refused.
    assert result["ready"] == [["cl100k_base", None, [str(garbage)]]]
    assert 1 <= result["asked"] <= 4


SAVE = r"""
import json, sys
import velkan.images as images
images._image_paths = lambda n: []
import velkan.bpe.openai as openai
path, bad = sys.argv[1], sys.argv[2]
out = {"vocabularies": openai._vocabularies()}
openai._save_image("cl100k_base", path)
try:
    openai._save_image("cl100k_base", bad)
except OSError as e:
    out["error"] = [type(e).__name__, e.filename]
try:
    openai._save_image("p50k_edit", path)
except ValueError as e:
    out["unknown"] = str(e)
images._image_paths = lambda n: [path]
reported = []
images._encoding_ready = lambda *a: reported.append(a)
out["ids"] = openai.o200k_base().encode("hello world")  # o200k is not made yet
out["reported"] = reported
print(json.dumps(out))
"""


def test_save_image_and_vocabularies(tmp_path):
    image = tmp_path / "cl100k.bin"
    bad = tmp_path / "no_such_dir" / "x.bin"
    result = run(SAVE, str(image), str(bad))
    assert result["vocabularies"] == [
        ["r50k_base", "precomputed_r50k.bin", 50256],
        ["p50k_base", "precomputed_p50k.bin", 50281],
        ["cl100k_base", "precomputed_cl100k.bin", 100256],
        ["o200k_base", "precomputed_o200k.bin", 199998],
    ]
    assert image.stat().st_size == 45536164  # with the byte order, 4 bytes a token
    assert result["error"] == ["FileNotFoundError", str(bad)]
    assert "p50k_edit" in result["unknown"]
    # The cl100k image offered for o200k is refused (its token count differs).
    assert result["ids"] == [24912, 2375]
    assert result["reported"] == [["o200k_base", None, [str(image)]]]


FORK_WHILE_MAKING = r"""
import os, sys, threading, time
import velkan.images as images
images._image_paths = lambda n: []  # build: long enough to fork in the middle
import velkan.bpe.openai as openai
maker = threading.Thread(target=openai.o200k_base)
maker.start()
time.sleep(0.3)
pid = os.fork()
if pid == 0:
    os._exit(0 if openai.o200k_base().encode("hello world") == [24912, 2375] else 1)
deadline = time.time() + 120
while time.time() < deadline:
    done, status = os.waitpid(pid, os.WNOHANG)
    if done:
        break
    time.sleep(0.1)
else:
    os.kill(pid, 9)
    print("child hung")
    sys.exit(1)
maker.join()
sys.exit(os.WEXITSTATUS(status))
"""


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_fork_while_another_thread_makes_the_encoding():
    # The child must not inherit the making thread's lock on the cache entry.
    proc = subprocess.run(
        [sys.executable, "-c", FORK_WHILE_MAKING], capture_output=True, text=True, timeout=300
    )
    assert proc.returncode == 0, proc.stdout + proc.stderr[-2000:]


FIRST_USE_IMPORTS = r"""
import builtins, json, os, sys, threading
import velkan
import velkan.bpe.openai as openai
imported = []
real_import = builtins.__import__
def recording_import(name, *args, **kwargs):
    imported.append(name)
    return real_import(name, *args, **kwargs)
builtins.__import__ = recording_import
tokenizer = getattr(openai, sys.argv[1])()
for thread in threading.enumerate():  # the cache image's writer, if any
    if thread is not threading.current_thread():
        thread.join()
builtins.__import__ = real_import
print(json.dumps({"imported": imported, "ids": tokenizer.encode("hello world"),
                  "written": sorted(os.listdir(os.environ["VELKAN_CACHE_DIR"]))}))
"""


@pytest.mark.parametrize("image", ["built", "from the cache"])
def test_first_construction_imports_nothing(tmp_path, image):
    # A forked child whose parent had another thread inside an import at the
    # fork waits for ever on that import: so the first construction (and the
    # writing of its cache image) must need none. The package hands the
    # image functions in when it is imported.
    cache = tmp_path / "cache"
    env = {**os.environ, "VELKAN_CACHE_DIR": str(cache)}
    first = None
    for _ in range(2 if image == "from the cache" else 1):
        proc = subprocess.run(
            [sys.executable, "-c", FIRST_USE_IMPORTS, "r50k_base"],
            capture_output=True,
            text=True,
            timeout=300,
            env=env,
        )
        assert proc.returncode == 0, proc.stderr[-2000:]
        result = json.loads(proc.stdout)
        first = first or result
        assert result["imported"] == []
        assert result["ids"] == [31373, 995]
    assert first["written"], "the first run wrote no cache image"


DECODER_IMPORTS = r"""
import builtins, json
import velkan
import velkan.bpe.openai as openai
tokenizer = openai.r50k_base()
imported = []
real_import = builtins.__import__
def recording_import(name, *args, **kwargs):
    imported.append(name)
    return real_import(name, *args, **kwargs)
builtins.__import__ = recording_import
decoder = tokenizer.decoder()
text = decoder.feed([31373]) + decoder.feed([995]) + decoder.flush()
builtins.__import__ = real_import
print(json.dumps({"imported": imported, "text": text, "type": type(decoder).__name__}))
"""


def test_decoder_imports_nothing():
    # Tokenizer.decoder() in a forked child must not wait on an import lock
    # another thread of the parent held at the fork: the package hands the
    # extension StreamDecoder when it is imported.
    proc = subprocess.run(
        [sys.executable, "-c", DECODER_IMPORTS], capture_output=True, text=True, timeout=300
    )
    assert proc.returncode == 0, proc.stderr[-2000:]
    assert json.loads(proc.stdout) == {
        "imported": [],
        "text": "hello world",
        "type": "StreamDecoder",
    }
