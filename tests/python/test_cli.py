"""The command line, and the README's examples, run as a user would."""

import errno
import io
import json
import os
import re
import shutil
import subprocess
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from reference import ROOT, TRICKY, corpus, tokenizer
from velkan import cli
from velkan.cli import chunking, options
from velkan.cli.progress import Progress

BIN = os.path.dirname(sys.executable)


def velkan(*args, stdin=b"", cwd=None, env=None):
    return subprocess.run(
        [sys.executable, "-m", "velkan", *args],
        input=stdin,
        cwd=cwd,
        capture_output=True,
        timeout=300,
        env=env,
    )


@pytest.fixture
def files(tmp_path):
    texts = {
        "a.txt": "Hello, world!\n",
        "b.txt": "Straße und Äpfel 中文\n  indented\n",
        "empty.txt": "",
    }
    for name, text in texts.items():
        (tmp_path / name).write_text(text, encoding="utf-8")
    (tmp_path / "raw.bin").write_bytes(b"caf\xe9 \xff\xfe ok\n")
    return tmp_path


def test_count_files_and_total(files):
    tok = tokenizer("o200k_base")
    out = velkan("count", "a.txt", "b.txt", "empty.txt", "raw.bin", cwd=files)
    assert out.returncode == 0, out.stderr
    lines = out.stdout.decode().splitlines()
    expected = {
        name: tok.count((files / name).read_bytes())
        for name in ["a.txt", "b.txt", "empty.txt", "raw.bin"]
    }
    assert lines == ["%10d %s" % (n, name) for name, n in expected.items()] + [
        "%10d total" % sum(expected.values())
    ]


def test_count_stdin_json_and_encoding(files):
    tok = tokenizer("cl100k_base")
    text = (files / "b.txt").read_bytes()
    out = velkan("count", "--json", "-e", "cl100k_base", "-", stdin=text)
    assert json.loads(out.stdout) == {
        "encoding": "cl100k_base",
        "files": [{"path": "-", "tokens": tok.count(text)}],
        "total": tok.count(text),
    }
    assert (
        velkan("count", "-e", "cl100k_base", stdin=text).stdout.split()[0]
        == str(tok.count(text)).encode()
    )


def test_count_limit(files):
    n = tokenizer("o200k_base").count((files / "b.txt").read_bytes())
    out = velkan("count", "--limit", str(n), "--json", "b.txt", "a.txt", cwd=files)
    result = json.loads(out.stdout)
    assert [f["fits"] for f in result["files"]] == [True, True]
    assert out.returncode == 0
    out = velkan("count", "--limit", str(n - 1), "b.txt", cwd=files)
    assert out.stdout.decode().split() == ["-", "b.txt", "exceeds", str(n - 1)]
    assert out.returncode == options.EXIT_OVER_LIMIT == 3


@pytest.mark.parametrize(
    "args, status, message",
    [
        (["count", "missing.txt", "a.txt"], 1, b"missing.txt: No such file"),
        (["count", "-e", "gpt3", "a.txt"], 2, b"unknown encoding 'gpt3'"),
        (["decode", "-e", "p50k_edit", "50256"], 1, b"special token of p50k_edit"),
        (["decode", "-e", "r50k", "50256"], 1, b"outside r50k_base"),
        (["count", "-m", "gpt-0", "a.txt"], 2, b"unknown model 'gpt-0'"),
        (["count", "-e", "o200k", "-m", "gpt-4", "a.txt"], 2, b"not allowed with"),
        (["count", "--limit", "-1", "a.txt"], 2, b"must not be negative"),
        (["count", "--limit", str(2**63), "a.txt"], 2, b"too large"),
        (["count", "--limit", str(10**30), "a.txt"], 2, b"too large"),
        (["count", "-", "a.txt", "-"], 2, b"may be given only once"),
        (["count", "."], 1, b"is a directory"),
        (["decode", "1", "x"], 1, b"not a token id"),
        (["decode", "1_000"], 1, b"not a token id"),
        (["decode", "\u0663"], 1, b"not a token id"),
        (["decode", "+5"], 1, b"not a token id"),
        (["decode", "-5"], 1, b"outside"),
        (["decode", "199998"], 1, b"outside o200k_base"),
        ([], 2, b"usage"),
    ],
)
def test_errors_and_exit_status(files, args, status, message):
    out = velkan(*args, cwd=files)
    assert out.returncode == status
    assert message in out.stderr
    assert b"Traceback" not in out.stderr
    if status == 2 and args:
        assert out.stderr.startswith(b"usage: velkan " + args[0].encode())  # the subcommand's


@pytest.mark.parametrize(
    "option",
    [
        ["-e", "cl100k"],
        ["-e", "o200k"],
        ["-m", "gpt-4"],
        ["-m", "gpt-4o"],
        ["-m", "gpt-3.5-turbo-0125"],
    ],
)
def test_short_names_and_models(files, option):
    expected = options.model_encoding(option[1]) if option[0] == "-m" else option[1] + "_base"
    out = velkan("count", "--json", *option, "b.txt", cwd=files)
    assert json.loads(out.stdout)["encoding"] == expected


def test_model_table_agrees_with_tiktoken():
    import tiktoken.model

    from velkan import _encodings_data as facts

    names = list(facts.MODEL_TO_ENCODING) + [p + "x" for p in facts.MODEL_PREFIX_TO_ENCODING]
    assert {n: options.model_encoding(n) for n in names} == {
        n: tiktoken.model.encoding_name_for_model(n) for n in names
    }


def test_version():
    from velkan import __version__

    assert velkan("--version").stdout.decode().split() == ["velkan", __version__]


def test_recursive(tmp_path):
    (tmp_path / "d" / "e").mkdir(parents=True)
    (tmp_path / "d" / "one.txt").write_text("one two\n")
    (tmp_path / "d" / "e" / "two.txt").write_text("three\n")
    tok = tokenizer("o200k_base")
    out = velkan("count", "-r", "d", cwd=tmp_path)
    assert out.returncode == 0, out.stderr
    assert out.stdout.decode().splitlines() == [
        "%10d %s" % (tok.count("one two\n"), os.path.join("d", "one.txt")),
        "%10d %s" % (tok.count("three\n"), os.path.join("d", "e", "two.txt")),
        "%10d total" % (tok.count("one two\n") + tok.count("three\n")),
    ]


@pytest.mark.parametrize("command", ["count", "encode", "decode"])
def test_no_input_on_a_terminal_is_a_usage_hint(command):
    pty = pytest.importorskip("pty")
    leader, follower = pty.openpty()
    try:
        out = subprocess.run(
            [sys.executable, "-m", "velkan", command],
            stdin=follower,
            capture_output=True,
            timeout=60,
        )
    finally:
        os.close(leader)
        os.close(follower)
    assert out.returncode == 2
    assert b"terminal" in out.stderr


def test_undecodable_bytes_in_argv_are_encoded_as_they_are():
    raw = b"caf\xe9 \xff ok"
    out = subprocess.run(
        [sys.executable, "-m", "velkan", "encode", "--json", raw], capture_output=True, timeout=60
    )
    assert out.returncode == 0, out.stderr
    assert json.loads(out.stdout) == tokenizer("o200k_base").encode(raw)


def test_undecodable_file_name_prints(tmp_path):
    name = b"caf\xe9.txt"
    with open(os.path.join(os.fsencode(str(tmp_path)), name), "wb") as f:
        f.write(b"hello\n")
    out = subprocess.run(
        [sys.executable, "-m", "velkan", "count", name],
        cwd=tmp_path,
        capture_output=True,
        timeout=60,
        env={**os.environ, "PYTHONIOENCODING": "utf-8"},
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == [str(tokenizer("o200k_base").count("hello\n")).encode(), name]


def test_broken_pipe_exits_quietly(tmp_path):
    big = tmp_path / "big.txt"
    big.write_text("word " * 400_000)
    out = subprocess.run(
        [
            "bash",
            "-c",
            '"$0" -m velkan encode < "$1" | head -c 10 >/dev/null; echo ${PIPESTATUS[0]}',
            sys.executable,
            str(big),
        ],
        capture_output=True,
        timeout=120,
    )
    assert out.stdout.strip() in (b"0", b"141")
    assert out.stderr == b""


class _ReaderGoneOnce(io.StringIO):
    """Standard output whose reader goes away at the first write, after which
    writes land in the buffer again, as they may in a real BufferedWriter."""

    failed = False

    def write(self, s: str) -> int:
        if not self.failed:
            self.failed = True
            raise BrokenPipeError(errno.EPIPE, "Broken pipe")
        return super().write(s)

    def fileno(self) -> int:
        raise io.UnsupportedOperation("fileno")


@pytest.mark.parametrize("json_flag", [[], ["--json"]])
def test_broken_pipe_while_encoding_is_not_an_input_error(tmp_path, monkeypatch, capsys, json_flag):
    # The pipe broke during the encode of an input (not at the final flush,
    # where test_broken_pipe_exits_quietly mostly meets it): still quiet.
    path = tmp_path / "words.txt"
    path.write_text("word " * 50_000)
    monkeypatch.setattr(sys, "stdout", _ReaderGoneOnce())
    assert cli.main(["encode", *json_flag, "-i", str(path)]) == 141
    assert capsys.readouterr().err == ""


def test_endless_input_without_a_boundary_is_refused(tmp_path):
    # Bounded: no more than the longest stretch is held, and no wrong count.
    with pytest.raises(chunking.NoBoundary):
        for _ in chunking.iter_chunks(
            tokenizer("cl100k_base"),
            io.BytesIO(b"\0" * (3 << 20)),
            read_bytes=1 << 16,
            max_stretch=1 << 20,
        ):
            pass
    if os.path.exists("/dev/zero"):
        for command in (["count"], ["encode", "-i"]):
            out = velkan(*command, "/dev/zero")
            assert out.returncode == 1
            assert b"/dev/zero: no certain token boundary" in out.stderr


def test_progress_on_a_terminal():
    class Terminal(io.StringIO):
        def isatty(self):
            return True

    screen = Terminal()
    progress = Progress(100 << 20, stream=screen)
    assert "0.0% of 100 MB" in screen.getvalue()  # at once, before any work
    progress.advance(done=50 << 20)
    progress.draw(force=True)
    assert "50.0% of 100 MB" in screen.getvalue()
    progress.close()
    quiet = io.StringIO()
    Progress(100 << 20, stream=quiet).advance(done=1)
    assert quiet.getvalue() == ""


def test_encode_decode_round_trip():
    text = "Hello, wörld — 中文 🙂\n  x"
    ids = tokenizer("o200k_base").encode(text)
    out = velkan("encode", text)
    assert out.stdout.split() == [str(i).encode() for i in ids]
    assert json.loads(
        velkan("encode", "--json", "-e", "cl100k_base", stdin=text.encode()).stdout
    ) == tokenizer("cl100k_base").encode(text)
    assert velkan("decode", *map(str, ids)).stdout == text.encode()
    assert velkan("decode", stdin=json.dumps(ids).encode()).stdout == text.encode()
    assert velkan("decode", stdin=" ".join(map(str, ids)).encode()).stdout == text.encode()


def test_console_script_is_installed():
    assert shutil.which("velkan", path=BIN) is not None


CHUNK_TEXTS = {
    "whitespace runs": "word\n" + "   \n\t\n  " * 50 + "\nNext line\n\n\nA  b\n" * 30,
    "multi-byte": ("Äpfel\n中文字符\nÜber 😀😀\nx" * 40),
    "invalid bytes": None,
    "no cut": "x" * 500,
    "numbers": "".join("%d,%d.5,-%d\n" % (i, i * 7, i % 13) for i in range(300)),
    "one long line": "The quick (brown) fox's 'jumps'; over, the lazy dog! " * 40,
    "spaces before words": "a  b\t c\u00a0d \u3000e x y. z, w!" * 30,
}


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
@pytest.mark.parametrize("label", list(CHUNK_TEXTS))
@pytest.mark.parametrize("chunk", [1, 3, 17, 256])
def test_chunked_count_equals_whole(name, label, chunk):
    tok = tokenizer(name)
    data = (
        CHUNK_TEXTS[label].encode()
        if CHUNK_TEXTS[label] is not None
        else b"a\xff\nB\xc3\n\xe4\xb8\nC \xa0\x85\nD" * 30
    )
    assert chunking.count_stream(tok, io.BytesIO(data), chunk_bytes=chunk) == tok.count(data)
    n = tok.count(data)
    assert chunking.count_stream(tok, io.BytesIO(data), limit=n, chunk_bytes=chunk) == n
    assert chunking.count_stream(tok, io.BytesIO(data), limit=n - 1, chunk_bytes=chunk) is None


# Text dense in the places the boundary rules look at, and in their near misses.
chunk_text = st.lists(
    st.sampled_from(
        TRICKY
        + list("aZ09 \n\n\r\t.,/'")
        + [" a", "\nB", "\n7", "x y", ". Q", ",\n/", "\t a", " \n5", "\u00a0b"]
    ),
    max_size=80,
).map("".join)


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
@settings(max_examples=300, deadline=None)
@given(text=chunk_text, read_bytes=st.integers(1, 9))
def test_chunked_count_equals_whole_on_generated_text(name, text, read_bytes):
    tok = tokenizer(name)
    data = text.encode("utf-8", "surrogatepass")
    chunks = list(chunking.iter_chunks(tok, io.BytesIO(data), read_bytes=read_bytes))
    assert b"".join(chunks) == data
    assert sum(map(tok.count, chunks)) == tok.count(data)
    assert [i for c in chunks for i in tok.encode(c)] == tok.encode(data)


class _Searches:
    """A tokenizer that records the bytes each certain-end search is given."""

    def __init__(self, tok):
        self.tok, self.searched = tok, []

    def _certain_end(self, data):
        self.searched.append(len(data))
        return self.tok._certain_end(data)


@pytest.mark.parametrize(
    "data, cut",
    [
        (b"12345678" * (1 << 17), True),  # numbers go three at a time
        (b"\n" * (1 << 20), False),
        (b"word " * (1 << 18), True),
        (b"x\nA" * (1 << 18), True),
        ("中文字符。".encode() * (1 << 16), True),
    ],
    ids=["digits", "line feeds only", "words", "dense boundaries", "CJK"],
)
def test_boundary_search_is_linear_and_cuts_any_script(data, cut):
    # Each byte is searched a bounded number of times, however rare the
    # boundaries. CJK text without an ASCII letter is cut too: the earlier
    # cut rule knew ASCII words and line breaks only and refused such a file.
    tok = tokenizer("o200k_base")
    spy = _Searches(tok)
    chunks = list(
        chunking.iter_chunks(spy, io.BytesIO(data), read_bytes=4096, max_stretch=len(data) + 1)
    )
    assert b"".join(chunks) == data
    assert sum(spy.searched) <= 3 * len(data)
    assert (len(chunks) > 100) == cut
    assert sum(map(tok.count, chunks)) == tok.count(data)


def test_count_uses_the_batch_counter_when_there_is_one():
    class Pooled:
        def __init__(self):
            self.batches = []

        def count_batch(self, texts):
            self.batches.append(list(texts))
            return [len(t) for t in texts]

        def count(self, text):
            raise AssertionError("count_batch should have been used")

    tok = Pooled()
    assert chunking.count_chunks(tok, [b"ab", b"cde"]) == [2, 3]
    assert tok.batches == [[b"ab", b"cde"]]


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
def test_chunked_count_on_corpus(name):
    tok = tokenizer(name)
    for text in list(corpus().values())[:15]:
        data = text.encode()
        assert chunking.count_stream(tok, io.BytesIO(data), chunk_bytes=4096) == tok.count(data)


def readme_blocks(language):
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        return re.findall(r"```%s\n(.*?)```" % language, f.read(), re.S)


@pytest.mark.parametrize("block", readme_blocks("python"))
def test_readme_python_examples(block):
    if "install_as_tiktoken()" in block:
        # It changes what `import tiktoken` gives: a process of its own.
        out = subprocess.run(
            [sys.executable, "-c", block], capture_output=True, text=True, timeout=120
        )
        assert out.returncode == 0, out.stderr
        return
    exec(compile(block, "README.md", "exec"), {})


def console_examples():
    """(command, expected output) of each "$ " line of the README's console blocks."""
    examples = []
    for block in readme_blocks("console"):
        for part in re.split(r"^\$ ", block, flags=re.M)[1:]:
            command, _, output = part.partition("\n")
            examples.append((command, output))
    return examples


def test_readme_shell_examples(tmp_path):
    # One shell session, as a reader would type them; each output as printed.
    env = {**os.environ, "PATH": BIN + os.pathsep + os.environ["PATH"]}
    examples = console_examples()
    assert len(examples) >= 8
    for command, expected in examples:
        out = subprocess.run(
            ["bash", "-c", command],
            cwd=tmp_path,
            capture_output=True,
            timeout=300,
            env=env,
            text=True,
        )
        assert (out.stdout, out.returncode) == (expected, 0), (command, out.stderr)


def test_typing_example_passes_mypy_strict(tmp_path):
    example = os.path.join(os.path.dirname(__file__), "typing_example.py")
    out = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), example],
        capture_output=True,
        text=True,
        cwd=tmp_path,
        timeout=300,
    )
    assert out.returncode == 0, out.stdout + out.stderr
    run = subprocess.run([sys.executable, example], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr


@pytest.mark.parametrize("name", list(options.ENCODINGS) + list(options.SHORT_NAMES))
def test_every_encoding_name_counts_and_encodes_ordinary_text(files, name):
    from reference import reference

    encoding = options.encoding_name(name)
    ref = reference(options.vocabulary_of(encoding))
    text = (files / "b.txt").read_text(encoding="utf-8") + "  <|endoftext|>      x"
    out = velkan("encode", "--json", "-e", name, stdin=text.encode())
    assert out.returncode == 0, out.stderr
    assert json.loads(out.stdout) == ref.encode_ordinary(text)
    out = velkan("count", "--json", "-e", name, "b.txt", cwd=files)
    assert json.loads(out.stdout)["encoding"] == encoding


def test_images_and_the_image_cache_cover_every_embedded_vocabulary():
    from velkan import images

    assert set(images.VOCABULARIES) == {"r50k_base", "p50k_base", "cl100k_base", "o200k_base"}
    assert {options.vocabulary_of(name) for name in options.ENCODINGS} == set(images.VOCABULARIES)
