"""The encoding cache, precomputed images and processes, each in a fresh
interpreter so that the cache starts empty."""

import os
import struct
import subprocess
import sys
import textwrap

import pytest

from reference import DATA, HERE, VOCABULARIES

IMAGE_NAMES = {"cl100k_base": "precomputed_cl100k.bin", "o200k_base": "precomputed_o200k.bin"}
SAMPLE = "Hello, wörld! It's 2024 — “quotes” and   spaces\n\n  indented 中文 テキスト 🙂"


def run_python(code, cwd=None, timeout=300):
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        cwd=cwd,
        capture_output=True,
        text=True,
        timeout=timeout,
        env={**os.environ, "PYTHONPATH": HERE},
    )
    assert result.returncode == 0, result.stderr
    return result.stdout


def test_cache_flags_in_a_fresh_process():
    out = run_python("""
        import velkan.bpe.openai as o
        print(o.is_cached_cl100k(), o.is_cached_o200k())
        t = o.cl100k_base()
        print(o.is_cached_cl100k(), o.is_cached_o200k())
        del t
        import gc; gc.collect()
        print(o.is_cached_cl100k(), o.cl100k_base().encode("hi") == o.cl100k_base().encode("hi"))
        o.o200k_base()
        print(o.is_cached_cl100k(), o.is_cached_o200k())
    """)
    assert out.split() == ["False", "False", "True", "False", "True", "True", "True", "True"]


@pytest.fixture(scope="module")
def images(tmp_path_factory):
    """Images of both vocabularies, written by the package's writer into a
    directory it has to make."""
    directory = tmp_path_factory.mktemp("images") / "new" / "dir"
    run_python(f"""
        from velkan.images import write_images
        write_images({str(directory)!r})
    """)
    return {name: (directory / IMAGE_NAMES[name]).read_bytes() for name in VOCABULARIES}


@pytest.mark.parametrize(
    "name, tokens, capacity",
    [
        ("cl100k_base", 100256, 524288),
        ("o200k_base", 199998, 1048576),
    ],
)
def test_image_header(images, name, tokens, capacity):
    header = struct.unpack_from("<IQIIIIiiiiiiiii", images[name])
    assert header[:4] == (tokens, 0xF7AAECE06A5C4FA3, capacity, tokens)
    assert header[4] == capacity  # pair table, same sizing rule
    assert header[8::3] == (0, 1, 2)  # automaton kinds
    states = header[6::3]
    outputs = header[7::3]
    expected = (
        64
        + 16 * tokens  # splits, prefix chain, byte order
        + 8 * capacity
        + 12 * header[4]
        + sum(24 * s + 12 * o for s, o in zip(states, outputs))
    )
    assert len(images[name]) == expected


def encode_with_package_file(package_file, cwd, name, text=SAMPLE):
    """ids of text in a fresh process whose velkan.__file__ is package_file."""
    out = run_python(
        f"""
        import velkan, velkan.bpe.openai as o
        velkan.__file__ = {package_file!r}
        print(o.{name}().encode({text!r}))
    """,
        cwd=cwd,
    )
    return out.strip()


def reference_ids(name, text=SAMPLE):
    return run_python(f"""
        import velkan.bpe.openai as o
        print(o.{name}().encode({text!r}))
    """).strip()


@pytest.mark.parametrize("name", VOCABULARIES)
def test_image_is_loaded_and_encodes_the_same(tmp_path, images, name):
    (tmp_path / IMAGE_NAMES[name]).write_bytes(images[name])
    text = open(os.path.join(DATA, "corpus", "multilingual.txt"), encoding="utf-8").read()
    out = run_python(f"""
        import time, velkan, velkan.bpe.openai as o
        velkan.__file__ = {str(tmp_path / "__init__.py")!r}
        start = time.perf_counter()
        t = o.{name}()
        print(time.perf_counter() - start)
        print(t.encode({text!r}))
    """)
    load_time, ids = out.strip().split("\n")
    assert ids == reference_ids(name, text)


def damaged(image, how):
    if how == "truncated":
        return image[:-1]
    if how == "padded":
        return image + b"\0"
    if how == "header only":
        return image[:64]
    if how == "garbage":
        return os.urandom(len(image))
    if how == "empty":
        return b""
    if how == "bad split":  # first split_left entry points past the vocabulary
        return image[: 64 + 4 * 300] + struct.pack("<I", 0xFFFFFFF0) + image[64 + 4 * 301 :]
    if how == "bad automaton":  # a base far out of range, near the end of the image
        return image[:-8] + struct.pack("<i", 0x7FFFFFF0) + image[-4:]
    if how == "zeroed body":
        return image[:64] + bytes(len(image) - 64)
    raise AssertionError(how)


@pytest.mark.parametrize(
    "how",
    [
        "truncated",
        "padded",
        "header only",
        "garbage",
        "empty",
        "bad split",
        "bad automaton",
        "zeroed body",
    ],
)
def test_damaged_images_fall_back(tmp_path, images, how):
    (tmp_path / IMAGE_NAMES["cl100k_base"]).write_bytes(damaged(images["cl100k_base"], how))
    assert encode_with_package_file(
        str(tmp_path / "__init__.py"), None, "cl100k_base"
    ) == reference_ids("cl100k_base")


def test_image_of_the_other_vocabulary_is_ignored(tmp_path, images):
    (tmp_path / IMAGE_NAMES["o200k_base"]).write_bytes(images["cl100k_base"])
    assert encode_with_package_file(
        str(tmp_path / "__init__.py"), None, "o200k_base"
    ) == reference_ids("o200k_base")


@pytest.mark.parametrize("package_file", ["__init__.py", "dir\\__init__.py", "x/y\\z/__init__.py"])
def test_package_file_rules(tmp_path, images, package_file):
    # Without a slash the image is looked for in the working directory; with
    # both kinds the path is cut after whichever comes last.
    target = tmp_path
    if "/" in package_file or "\\" in package_file:
        cut = max(package_file.rfind("/"), package_file.rfind("\\")) + 1
        target = tmp_path / package_file[:cut]
        target.mkdir(parents=True)
    (target / IMAGE_NAMES["cl100k_base"]).write_bytes(images["cl100k_base"])
    assert encode_with_package_file(package_file, str(tmp_path), "cl100k_base") == reference_ids(
        "cl100k_base"
    )


def test_overlong_package_path_builds(tmp_path):
    long_dir = "/" + "d" * 4070 + "/__init__.py"
    assert encode_with_package_file(long_dir, str(tmp_path), "cl100k_base") == reference_ids(
        "cl100k_base"
    )


def test_fork_and_spawn_children(tmp_path):
    # Spawned children import the main module, so it must be a file.
    script = tmp_path / "children.py"
    script.write_text(
        textwrap.dedent("""
        import multiprocessing as mp
        import velkan.bpe.openai as o

        TEXTS = ["fork %d " % i * (i % 9 + 1) for i in range(2000)]

        def work(_):
            t = o.cl100k_base()
            ids = t.encode_batch_parallel(TEXTS)[0]
            return ids == [t.encode(x) for x in TEXTS] and o.get_num_threads() >= 1

        if __name__ == "__main__":
            print(work(0))  # the parent's pool exists before the fork
            for method in ("fork", "spawn"):
                with mp.get_context(method).Pool(2) as pool:
                    print(all(pool.map(work, range(4), chunksize=1)))
    """)
    )
    out = subprocess.run(
        [sys.executable, str(script)],
        capture_output=True,
        text=True,
        timeout=240,
        cwd=str(tmp_path),
    ).stdout
    assert out.split() == ["True", "True", "True"]


# ---- the user cache of images ------------------------------------------------------


def cache_env(directory):
    return {**os.environ, "PYTHONPATH": HERE, "VELKAN_CACHE_DIR": str(directory)}


def first_use(directory, name="cl100k_base", extra=""):
    """A fresh process's first use of `name`; reports the encoding ready as
    the binding does after building it, then exits (joining the writer)."""
    code = f"""
        import time, velkan.images as images, velkan.bpe.openai as o
        start = time.perf_counter()
        ids = o.{name}().encode({SAMPLE!r})
        took = time.perf_counter() - start
        {extra}
        print(took, ids)
    """
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=300,
        env=cache_env(directory),
    )
    assert result.returncode == 0, result.stderr
    took, ids = result.stdout.split(" ", 1)
    return float(took), ids.strip()


READY = "images._encoding_ready('cl100k_base', None, [])"


def cached_file(directory):
    from velkan import images

    return os.path.join(
        str(directory),
        "%s-image%d" % (__import__("velkan").__version__, images.IMAGE_FORMAT),
        IMAGE_NAMES["cl100k_base"],
    )


def test_first_use_writes_the_cache_image(tmp_path, images):
    took, ids = first_use(tmp_path, extra=READY)
    assert ids == reference_ids("cl100k_base")
    path = cached_file(tmp_path)
    assert open(path, "rb").read() == images["cl100k_base"]
    assert [p for p in os.listdir(os.path.dirname(path)) if p != IMAGE_NAMES["cl100k_base"]] == []
    # The later process reads it (or, before the binding offers the cache to
    # the loader, at least still encodes the same).
    assert first_use(tmp_path)[1] == ids


def test_cache_paths_and_opt_out(tmp_path, monkeypatch):
    from velkan import images as module

    monkeypatch.setenv("VELKAN_CACHE_DIR", str(tmp_path))
    paths = module._image_paths("o200k_base")
    assert paths[0] == os.path.join(module.package_dir(), IMAGE_NAMES["o200k_base"])
    assert paths[1].startswith(str(tmp_path)) and paths[1].endswith(IMAGE_NAMES["o200k_base"])
    monkeypatch.setenv("VELKAN_CACHE_DIR", "")
    assert module._image_paths("o200k_base") == paths[:1]
    monkeypatch.delenv("VELKAN_CACHE_DIR")
    monkeypatch.setenv("XDG_CACHE_HOME", str(tmp_path / "xdg"))
    assert module.cache_root() == str(tmp_path / "xdg" / "velkan")
    monkeypatch.delenv("XDG_CACHE_HOME")
    monkeypatch.setenv("HOME", str(tmp_path / "home"))
    assert module.cache_root() == str(tmp_path / "home" / ".cache" / "velkan")


def test_disabled_cache_writes_nothing(tmp_path):
    took, ids = first_use("", extra=READY)
    assert ids == reference_ids("cl100k_base")
    assert os.listdir(tmp_path) == []


def test_concurrent_first_runs_write_one_good_image(tmp_path, images):
    code = textwrap.dedent(f"""
        import velkan.images as images, velkan.bpe.openai as o
        o.cl100k_base()
        {READY}
    """)
    procs = [
        subprocess.Popen(
            [sys.executable, "-c", code], env=cache_env(tmp_path), stderr=subprocess.PIPE
        )
        for _ in range(4)
    ]
    assert [p.wait(timeout=300) for p in procs] == [0] * 4
    path = cached_file(tmp_path)
    assert open(path, "rb").read() == images["cl100k_base"]
    assert os.listdir(os.path.dirname(path)) == [IMAGE_NAMES["cl100k_base"]]


def test_refused_cache_image_is_replaced(tmp_path, images):
    path = cached_file(tmp_path)
    os.makedirs(os.path.dirname(path))
    with open(path, "wb") as f:
        f.write(images["cl100k_base"][:1000])
    first_use(tmp_path, extra=f"images._encoding_ready('cl100k_base', None, [{path!r}])")
    assert open(path, "rb").read() == images["cl100k_base"]


def test_failed_writes_leave_no_partial_file(tmp_path, monkeypatch):
    from velkan import cli
    from velkan import images as module

    class FullDisk:
        def __init__(self, path, mode):
            self.file = open(path, mode)

        def __enter__(self):
            return self

        def __exit__(self, *exc):
            self.file.close()

        def write(self, data):
            self.file.write(data[:10])
            raise OSError(28, "No space left on device")

    monkeypatch.setattr(module, "build_image", lambda name: b"x" * 100)
    monkeypatch.setattr(module, "_native_saver", lambda: None)
    monkeypatch.setattr(module, "open", FullDisk, raising=False)
    with pytest.raises(OSError):
        module.write_images(str(tmp_path))
    assert os.listdir(tmp_path) == []
    assert cli.main(["write-images", str(tmp_path)]) == 1
    assert os.listdir(tmp_path) == []
    # The cache writer: quiet, no image, no lock, no temporary file.
    target = str(tmp_path / "c" / IMAGE_NAMES["cl100k_base"])
    module._write_cache_image_quietly("cl100k_base", target, None)
    assert os.listdir(tmp_path / "c") == []


def test_unusable_cache_directory_is_quiet(tmp_path):
    # A cache "directory" that is a file: the first use still succeeds, quietly.
    blocker = tmp_path / "file"
    blocker.write_text("")
    took, ids = first_use(blocker / "sub", extra=READY)
    assert ids == reference_ids("cl100k_base")
    assert os.listdir(tmp_path) == ["file"]


def test_write_images_with_no_names_writes_nothing(tmp_path):
    from velkan import images as module

    assert module.write_images(str(tmp_path), names=[]) == {}
    assert os.listdir(tmp_path) == []
    with pytest.raises(ValueError, match="unknown vocabulary 'gpt2'"):
        module.write_images(str(tmp_path), names=["gpt2"])


def test_cache_command_info_and_clear(tmp_path, images):
    path = cached_file(tmp_path)
    os.makedirs(os.path.dirname(path))
    with open(path, "wb") as f:
        f.write(images["cl100k_base"])
    (tmp_path / "unrelated.txt").write_text("kept")
    env = cache_env(tmp_path)
    info = subprocess.run(
        [sys.executable, "-m", "velkan", "cache", "info"],
        env=env,
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert path in info.stdout and "in 1 image(s)" in info.stdout
    clear = subprocess.run(
        [sys.executable, "-m", "velkan", "cache", "clear"],
        env=env,
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert clear.stdout.splitlines() == ["removed %s" % path, "1 cached image(s) removed"]
    assert os.listdir(tmp_path) == ["unrelated.txt"]
