"""The command line, and the README's examples, run as a user would."""

import io
import json
import os
import re
import shutil
import subprocess
import sys

import pytest

from reference import ROOT, corpus, tokenizer
from velkan import cli


def velkan(*args, stdin=b"", cwd=None):
    return subprocess.run([sys.executable, "-m", "velkan", *args], input=stdin, cwd=cwd,
                          capture_output=True, timeout=300)


@pytest.fixture
def files(tmp_path):
    texts = {"a.txt": "Hello, world!\n", "b.txt": "Straße und Äpfel 中文\n  indented\n",
             "empty.txt": ""}
    for name, text in texts.items():
        (tmp_path / name).write_text(text, encoding="utf-8")
    (tmp_path / "raw.bin").write_bytes(b"caf\xe9 \xff\xfe ok\n")
    return tmp_path


def test_count_files_and_total(files):
    tok = tokenizer("o200k_base")
    out = velkan("count", "a.txt", "b.txt", "empty.txt", "raw.bin", cwd=files)
    assert out.returncode == 0, out.stderr
    lines = out.stdout.decode().splitlines()
    expected = {name: tok.count((files / name).read_bytes())
                for name in ["a.txt", "b.txt", "empty.txt", "raw.bin"]}
    assert lines == ["%10d %s" % (n, name) for name, n in expected.items()] + [
        "%10d total" % sum(expected.values())]


def test_count_stdin_json_and_encoding(files):
    tok = tokenizer("cl100k_base")
    text = (files / "b.txt").read_bytes()
    out = velkan("count", "--json", "-e", "cl100k_base", "-", stdin=text)
    assert json.loads(out.stdout) == {"encoding": "cl100k_base",
                                      "files": [{"path": "-", "tokens": tok.count(text)}],
                                      "total": tok.count(text)}
    assert velkan("count", "-e", "cl100k_base", stdin=text).stdout.split()[0] == \
        str(tok.count(text)).encode()


def test_count_limit(files):
    n = tokenizer("o200k_base").count((files / "b.txt").read_bytes())
    out = velkan("count", "--limit", str(n), "--json", "b.txt", "a.txt", cwd=files)
    result = json.loads(out.stdout)
    assert [f["fits"] for f in result["files"]] == [True, True]
    out = velkan("count", "--limit", str(n - 1), "b.txt", cwd=files)
    assert out.stdout.decode().split() == ["-", "b.txt", "exceeds", str(n - 1)]


@pytest.mark.parametrize("args, status, message", [
    (["count", "missing.txt", "a.txt"], 1, b"missing.txt: No such file"),
    (["count", "-e", "gpt2", "a.txt"], 2, b"invalid choice"),
    (["count", "--limit", "-1", "a.txt"], 2, b"must not be negative"),
    (["decode", "1", "x"], 1, b"not a token id"),
    (["decode", "-5"], 1, b"outside"),
    (["decode", "199998"], 1, b"outside o200k_base"),
    ([], 2, b"usage"),
])
def test_errors_and_exit_status(files, args, status, message):
    out = velkan(*args, cwd=files)
    assert out.returncode == status
    assert message in out.stderr


def test_encode_decode_round_trip():
    text = "Hello, wörld — 中文 🙂\n  x"
    ids = tokenizer("o200k_base").encode(text)
    out = velkan("encode", text)
    assert out.stdout.split() == [str(i).encode() for i in ids]
    assert json.loads(velkan("encode", "--json", "-e", "cl100k_base", stdin=text.encode()).stdout) \
        == tokenizer("cl100k_base").encode(text)
    assert velkan("decode", *map(str, ids)).stdout == text.encode()
    assert velkan("decode", stdin=json.dumps(ids).encode()).stdout == text.encode()
    assert velkan("decode", stdin=" ".join(map(str, ids)).encode()).stdout == text.encode()


def test_console_script_is_installed():
    assert shutil.which("velkan") is not None


CHUNK_TEXTS = {
    "whitespace runs": "word\n" + "   \n\t\n  " * 50 + "\nNext line\n\n\nA  b\n" * 30,
    "multi-byte": ("Äpfel\n中文字符\nÜber 😀😀\nx" * 40),
    "invalid bytes": None,
    "no cut": "x" * 500,
}


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
@pytest.mark.parametrize("label", list(CHUNK_TEXTS))
@pytest.mark.parametrize("chunk", [1, 3, 17, 256])
def test_chunked_count_equals_whole(name, label, chunk):
    tok = tokenizer(name)
    data = (CHUNK_TEXTS[label].encode() if CHUNK_TEXTS[label] is not None
            else b"a\xff\nB\xc3\n\xe4\xb8\nC \xa0\x85\nD" * 30)
    assert cli.count_stream(tok, io.BytesIO(data), chunk_bytes=chunk) == tok.count(data)
    n = tok.count(data)
    assert cli.count_stream(tok, io.BytesIO(data), limit=n, chunk_bytes=chunk) == n
    assert cli.count_stream(tok, io.BytesIO(data), limit=n - 1, chunk_bytes=chunk) is None


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
def test_chunked_count_on_corpus(name):
    tok = tokenizer(name)
    for text in list(corpus().values())[:15]:
        data = text.encode()
        assert cli.count_stream(tok, io.BytesIO(data), chunk_bytes=4096) == tok.count(data)


def readme_blocks(language):
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        return re.findall(r"```%s\n(.*?)```" % language, f.read(), re.S)


@pytest.mark.parametrize("block", readme_blocks("python"))
def test_readme_python_examples(block):
    exec(compile(block, "README.md", "exec"), {})


@pytest.mark.parametrize("block", readme_blocks("sh"))
def test_readme_shell_examples(tmp_path, block):
    out = subprocess.run(["bash", "-e", "-c", block], cwd=tmp_path, capture_output=True,
                         timeout=300)
    assert out.returncode == 0, out.stderr


def test_typing_example_passes_mypy_strict(tmp_path):
    example = os.path.join(os.path.dirname(__file__), "typing_example.py")
    out = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--cache-dir",
                          str(tmp_path / "cache"), example], capture_output=True, text=True,
                         cwd=tmp_path, timeout=300)
    assert out.returncode == 0, out.stdout + out.stderr
    run = subprocess.run([sys.executable, example], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
