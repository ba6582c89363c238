"""The command line on hostile inputs and runs: endless and huge inputs in
bounded memory, records too long or too deep, interrupted token files, shared
image caches, and the smaller messages."""

import base64
import gzip
import io
import json
import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest
from sizes import CHECKED
from test_cli import velkan

from reference import corpus
from velkan import cli, get_encoding, images
from velkan.cli import chunk, options, records, tokenfiles, truncate

HERE = os.path.dirname(os.path.abspath(__file__))


def run(capsys, *args):
    status = cli.main(list(args))
    out = capsys.readouterr()
    return status, out.out, out.err


# ---- records too long or too deep ------------------------------------------------


def test_overlong_json_line_is_a_bad_record(tmp_path, capsys, monkeypatch):
    monkeypatch.setattr(records, "MAX_RECORD_BYTES", 1000)
    path = tmp_path / "d.jsonl.gz"
    with gzip.open(path, "wb") as f:
        f.write(b'{"text": "first"}\n')
        f.write(b'{"text": "' + b"x" * 50_000 + b'"}\n')  # read in blocks, never whole
        f.write(b'{"text": "' + b"y" * 980 + b'"}\n')  # just within the limit
        f.write(b'{"text": "last"}')
    status, out, err = run(capsys, "count", "--field", "text", "--json", str(path))
    assert status == 1
    assert "d.jsonl.gz: line 2: longer than 1000 bytes" in err and "Traceback" not in err
    result = json.loads(out)
    assert (result["records"], result["skipped"]) == (3, 1)
    enc = get_encoding("o200k_base")
    assert result["total"] == sum(enc.count(t) for t in ("first", "y" * 980, "last"))
    status, out, _ = run(capsys, "count", "--field", "text", "--each", str(path))
    assert out.split()[1] == "-"


@pytest.mark.parametrize("command", ["count", "encode"])
def test_deeply_nested_record_is_a_bad_record(tmp_path, command):
    deep = b'{"text": ' + b"[" * 200_000 + b"]" * 200_000 + b"}"
    (tmp_path / "d.jsonl").write_bytes(b'{"text": "good"}\n' + deep + b'\n{"text": "also"}\n')
    out = velkan(
        command,
        "--field",
        "text",
        *(["-i"] if command == "encode" else []),
        "d.jsonl",
        cwd=tmp_path,
    )
    err = out.stderr.decode()
    assert out.returncode == 1 and "Traceback" not in err
    assert "d.jsonl: line 2: nested too deeply" in err
    enc = get_encoding("o200k_base")
    if command == "count":
        assert out.stdout.split()[0] == str(enc.count("good") + enc.count("also")).encode()
    else:
        assert out.stdout.decode().splitlines() == [
            " ".join(map(str, enc.encode(t))) for t in ("good", "also")
        ]


# ---- chunk, truncate and decode stream ---------------------------------------------


def _texts():
    found = list(corpus().values())
    found += ["", "word", "a\nb", "  \n\n  x. Y z\n\n\nq", "中文 and 😀 " * 300]
    return found


@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
def test_streamed_chunks_are_those_of_the_whole_text(name):
    tok = options.tokenizer(name)
    for text in _texts():
        for max_tokens, overlap in ((7, 0), (7, 3), (60, 0), (60, 59), (300, 100)):
            got = []
            chunk.chunk_stream(
                tok,
                io.BytesIO(text.encode()),
                max_tokens,
                overlap,
                lambda a, b, piece, got=got: got.append((a, b, piece)),
                read_bytes=97,
                max_stretch=1 << 30,
            )
            want = tok.chunk_spans(text, max_tokens, overlap=overlap)
            assert [(a, b) for a, b, _ in got] == want
            assert all(piece == text[a:b] for a, b, piece in got)


@pytest.mark.parametrize("side", ["right", "left"])
def test_streamed_truncation_is_that_of_the_whole_text(side):
    tok = options.tokenizer("cl100k_base")
    for text in _texts():
        data = text.encode()
        for n in (0, 1, 5, 100, 10**9):
            out = []
            truncate.truncate_stream(tok, io.BytesIO(data), n, side, out.append, read_bytes=61)
            assert b"".join(out) == tok.truncate(data, n, side=side)


def test_truncate_of_an_endless_input_ends():
    # `yes` never stops: keeping the start needs only the start.
    with subprocess.Popen(["yes", "a line"], stdout=subprocess.PIPE) as yes:
        out = subprocess.run(
            [sys.executable, "-m", "velkan", "truncate", "--max-tokens", "5"],
            stdin=yes.stdout,
            capture_output=True,
            timeout=300,
        )
        yes.kill()
    assert out.returncode == 0, out.stderr
    tok = options.tokenizer("o200k_base")
    assert out.stdout == tok.truncate(b"a line\n" * 1000, 5)


# Runs the command line and reports its peak resident memory (VmHWM: of this
# process image alone, unlike ru_maxrss, which counts the forking parent's).
PEAK = """
import sys
from velkan.cli import main
status = main(sys.argv[1:])
with open("/proc/self/status") as f:
    peak = [line.split()[1] for line in f if line.startswith("VmHWM:")][0]
sys.stderr.write("peak %s\\n" % peak)
sys.exit(status)
"""


def _peak_rss_mb(args, blocks):
    """Runs velkan args with the blocks on stdin; its peak RSS in MB."""
    proc = subprocess.Popen(
        [sys.executable, "-c", PEAK, *args],
        stdin=subprocess.PIPE,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
    )

    def feed():
        try:
            for block in blocks:
                proc.stdin.write(block)
            proc.stdin.close()
        except BrokenPipeError:
            pass

    writer = threading.Thread(target=feed)
    writer.start()
    err = proc.stderr.read().decode()
    proc.wait(timeout=600)
    writer.join()
    assert proc.returncode == 0, err
    return int(err.split("peak ")[1].split()[0]) / 1024


@pytest.mark.skipif(CHECKED, reason="the sanitizer's allocator holds freed memory back")
@pytest.mark.parametrize(
    "args, block",
    [
        (["chunk", "--max-tokens", "500"], b"Some words of text, and a line.\n" * 32768),
        (["truncate", "--side", "left", "--max-tokens", "50"], b"left words go\n" * 65536),
        (["decode"], b"1 2 3 4 5 6 7 8 9 10\n" * 65536),
    ],
    # Short ids: pytest puts the test's id in PYTEST_CURRENT_TEST, and an id
    # spelling out a 1 MB block makes every process the test starts fail
    # with E2BIG (one environment string may not pass 128 KiB).
    ids=["chunk", "truncate", "decode"],
)
def test_large_inputs_stay_in_bounded_memory(args, block):
    # 240 MB through each command: reading it whole would take more than 200
    # MB above a run of 24 MB. The base is such a run, not a single line: the
    # blocks in flight and what the allocator keeps of them (more under
    # free-threaded CPython's mimalloc: some 135 MB for decode where a line
    # takes none) are a fixed cost that 24 MB already reaches.
    blocks = (240 << 20) // len(block)
    base = _peak_rss_mb(args, (block for _ in range(blocks // 10)))
    peak = _peak_rss_mb(args, (block for _ in range(blocks)))
    assert peak - base < 120, (base, peak)


@pytest.mark.parametrize(
    "stdin, status, expected",
    [
        (b"[1, 2,3]", 0, b'"#$'),
        (b"  [ 1 ,\n 2 ] \n", 0, b'"#'),
        (b"[]", 0, b""),
        (b"[1,,2]", 1, b"invalid JSON"),
        (b"[1 2]", 1, b"invalid JSON"),
        (b"[1, 2", 1, b"invalid JSON"),
        (b"[1] 2", 1, b"invalid JSON"),
        (b"[1.5]", 1, b"expected a JSON list of whole numbers"),
        (b"[[1]]", 1, b"expected a JSON list of whole numbers"),
        (b'["a"]', 1, b"expected a JSON list of whole numbers"),
        (b"[-1]", 1, b"outside"),
        (b"0" * 5000, 1, b"not a token id"),
    ],
)
def test_decode_reads_ids_as_a_stream(stdin, status, expected):
    out = velkan("decode", stdin=stdin)
    assert out.returncode == status
    assert expected in (out.stdout if status == 0 else out.stderr)
    assert b"Traceback" not in out.stderr


# Plain ids on standard input are converted a block at a time: many good ids
# around the bad one, whose own message must still be the one given.
GOOD_IDS = b"9906 11 1917 0 220 " * 4000


@pytest.mark.parametrize(
    "encoding, bad, expected",
    [
        ("cl100k_base", b"100256", b"token id 100256 is outside cl100k_base"),
        ("cl100k_base", b"-3", b"token id -3 is outside"),
        ("cl100k_base", b"12x", b"not a token id: '12x'"),
        ("cl100k_base", "٣".encode(), b"not a token id"),
        ("cl100k_base", b"9" * 1000, b"is outside cl100k_base"),
        # Longer than any id, and than int() reads by default (4,300 digits).
        ("cl100k_base", b"9" * 5000, b"not a token id"),
        ("p50k_edit", b"50256", b"token id 50256 is a special token of p50k_edit"),
    ],
)
def test_decode_names_the_bad_id_among_many(encoding, bad, expected):
    out = velkan("decode", "-e", encoding, stdin=GOOD_IDS + bad + b" " + GOOD_IDS)
    assert out.returncode == 1
    assert expected in out.stderr and b"Traceback" not in out.stderr


def test_decode_of_many_blocks_is_the_ids_text():
    # More than one read block (4 MiB) of ids, a line break inside words'
    # runs and leading zeros: the bytes tok.decode gives.
    ids = [9906, 11, 1917, 0, 220, 100255, 7]
    text = b" ".join(b"%d" % i for i in ids) + b"\n  0007 "
    out = velkan("decode", "-e", "cl100k_base", stdin=text * 200_000)
    assert out.returncode == 0, out.stderr
    tok = get_encoding("cl100k_base")
    assert out.stdout == tok.decode_bytes(ids + [7]) * 200_000


# ---- token files --------------------------------------------------------------


def test_directory_output_is_refused_before_work(tmp_path):
    (tmp_path / "in.txt").write_text("some text\n")
    (tmp_path / "ids.npy").mkdir()
    (tmp_path / "other.offsets.npy").mkdir()
    for output in ("ids.npy", "other.npy"):
        out = velkan("encode", "-i", "in.txt", "-o", output, cwd=tmp_path)
        assert out.returncode == 2 and b"is a directory" in out.stderr
    assert sorted(os.listdir(tmp_path)) == ["ids.npy", "in.txt", "other.offsets.npy"]
    assert os.listdir(tmp_path / "ids.npy") == []


def _default_sigint_and_sighup():
    signal.signal(signal.SIGINT, signal.SIG_DFL)
    signal.signal(signal.SIGHUP, signal.SIG_DFL)


def _start_encode(tmp_path):
    proc = subprocess.Popen(
        [sys.executable, "-m", "velkan", "encode", "-i", "-", "-o", "ids.npy"],
        cwd=tmp_path,
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        # A test run started in the background by a shell without job control
        # ignores SIGINT, and one under nohup ignores SIGHUP; a child would
        # inherit that (and keeps an ignored SIGHUP ignored, as it should):
        # the child starts with the defaults.
        preexec_fn=_default_sigint_and_sighup,
    )
    proc.stdin.write(b"some text that is being encoded\n" * 1000)
    proc.stdin.flush()
    deadline = time.monotonic() + 240
    while not [n for n in os.listdir(tmp_path) if ".part" in n]:
        assert proc.poll() is None and time.monotonic() < deadline
        time.sleep(0.05)
    return proc


@pytest.mark.parametrize("signum", [signal.SIGTERM, signal.SIGHUP, signal.SIGINT])
def test_a_signalled_encode_leaves_no_partial_file(tmp_path, signum):
    proc = _start_encode(tmp_path)
    proc.send_signal(signum)  # while it waits for more input
    proc.communicate(timeout=240)
    assert proc.returncode in (-signum, 128 + signum)
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("stop", [KeyboardInterrupt, lambda: cli.signals.Terminated(15)])
@pytest.mark.parametrize("args", [["-i", "in.txt"], ["some text"]])
def test_a_signal_while_the_writer_is_made_leaves_no_partial_file(
    tmp_path, capsys, monkeypatch, stop, args
):
    # The signal lands after the partial files exist, before the writer is
    # known to the code that closes it.
    (tmp_path / "in.txt").write_text("text\n")
    monkeypatch.chdir(tmp_path)
    real = tokenfiles.token_writer

    def interrupted(path):
        real(path)
        raise stop()

    monkeypatch.setattr(tokenfiles, "token_writer", interrupted)
    # Ending as the signal would kill the test run: note it instead.
    monkeypatch.setattr(cli.app, "die_of", lambda signum: 128 + signum)
    assert cli.main(["encode", *args, "-o", "ids.npy"]) in (130, 128 + 15)
    assert sorted(os.listdir(tmp_path)) == ["in.txt"]


def test_encode_gives_back_the_signal_handlers_it_found(tmp_path, capsys):
    (tmp_path / "in.txt").write_text("text\n")
    before = [signal.getsignal(s) for s in (signal.SIGTERM, signal.SIGHUP)]
    for args in (["-i", str(tmp_path / "in.txt")], ["some text"]):
        assert run(capsys, "encode", *args, "-o", str(tmp_path / "ids.npy"))[0] == 0
        assert [signal.getsignal(s) for s in (signal.SIGTERM, signal.SIGHUP)] == before


def test_a_killed_encodes_partial_files_go_with_the_next_run(tmp_path):
    proc = _start_encode(tmp_path)
    proc.kill()
    proc.communicate(timeout=240)
    assert [n for n in os.listdir(tmp_path) if ".part" in n]
    (tmp_path / "in.txt").write_text("again\n")
    assert velkan("encode", "-i", "in.txt", "-o", "ids.npy", cwd=tmp_path).returncode == 0
    assert sorted(os.listdir(tmp_path)) == ["ids.npy", "ids.offsets.npy", "in.txt"]


def test_ids_never_sit_beside_another_runs_offsets(tmp_path, capsys, monkeypatch):
    np = pytest.importorskip("numpy")
    (tmp_path / "a.txt").write_text("first run\n")
    (tmp_path / "b.txt").write_text("a second, longer run of text\n")
    ids, offsets = str(tmp_path / "ids.npy"), str(tmp_path / "ids.offsets.npy")
    assert run(capsys, "encode", "-i", str(tmp_path / "a.txt"), "-o", ids)[0] == 0
    real = os.replace

    def failing(src, dst):
        if dst == offsets:
            raise OSError(28, "No space left on device")
        real(src, dst)

    monkeypatch.setattr(tokenfiles.os, "replace", failing)
    status, _, err = run(capsys, "encode", "-i", str(tmp_path / "b.txt"), "-o", ids)
    assert status == 1 and "No space left" in err
    if os.path.exists(ids) and os.path.exists(offsets):
        assert np.load(offsets)[-1] == len(np.load(ids))
    assert [n for n in os.listdir(tmp_path) if ".part" in n] == []


# ---- the image cache ------------------------------------------------------------


def first_use(cache, ready=True):
    code = textwrap.dedent(f"""
        import warnings, velkan.images as images, velkan.bpe.openai as o
        warnings.simplefilter("always")
        o.cl100k_base().encode("hello")
        if {ready!r}:
            images._encoding_ready("cl100k_base", None, [])
    """)
    env = {**os.environ, "PYTHONPATH": HERE, "VELKAN_CACHE_DIR": str(cache)}
    out = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, timeout=300, env=env
    )
    assert out.returncode == 0, out.stderr
    return out.stderr


def version_folder(root):
    return os.path.join(str(root), "%s-image%d" % (images.__version__, images.IMAGE_FORMAT))


def image_name():
    return images.VOCABULARIES["cl100k_base"][0]


@pytest.mark.parametrize("how", ["link", "foreign root", "open root"])
def test_a_cache_that_is_not_the_users_own_is_passed_over(tmp_path, how):
    root, elsewhere = tmp_path / "cache", tmp_path / "elsewhere"
    root.mkdir()
    elsewhere.mkdir()
    if how == "link":
        os.symlink(elsewhere, version_folder(root))
    elif how == "foreign root":
        os.chown(root, 65534, 65534)
    else:
        os.chmod(root, 0o777)
    err = first_use(root)
    assert "not using the image cache" in err
    assert os.listdir(elsewhere) == []
    assert os.listdir(root) == (
        ["%s" % os.path.basename(version_folder(root))] if how == "link" else []
    )


def test_temporary_image_files_follow_no_planted_link(tmp_path):
    import threading as t

    victim = tmp_path / "victim"
    victim.write_bytes(b"keep")
    target = os.path.join(str(tmp_path), image_name())
    temp = "%s.%d.%d.tmp" % (target, os.getpid(), t.get_ident())
    os.symlink(victim, temp)
    images.write_images(str(tmp_path), ["cl100k_base"])
    assert victim.read_bytes() == b"keep"
    assert os.path.getsize(target) > 1000 and not os.path.lexists(temp)


def test_a_lock_left_by_a_killed_writer_blocks_nothing(tmp_path):
    folder = version_folder(tmp_path)
    os.makedirs(folder)
    # A fresh lock file nobody holds: its writer died.
    open(os.path.join(folder, image_name() + ".lock"), "w").close()
    first_use(tmp_path)
    assert os.listdir(folder) == [image_name()]


@pytest.mark.parametrize("how", ["empty", "fifo"])
def test_an_unreadable_cache_image_is_replaced(tmp_path, how):
    folder = version_folder(tmp_path)
    os.makedirs(folder)
    path = os.path.join(folder, image_name())
    if how == "empty":
        open(path, "w").close()
    else:
        os.mkfifo(path)
    first_use(tmp_path)
    assert os.path.isfile(path) and os.path.getsize(path) > 1000


# ---- messages -------------------------------------------------------------------


@pytest.mark.parametrize("address", ["nonsense", "tcp://host:notaport", "foo://x:1"])
def test_bad_scheduler_address_is_a_clear_error(tmp_path, address):
    pytest.importorskip("distributed")
    (tmp_path / "a.txt").write_text("text\n")
    out = velkan("count", "--scheduler", address, "a.txt", cwd=tmp_path)
    assert out.returncode == 1
    assert b"not a Dask scheduler address" in out.stderr and b"Traceback" not in out.stderr


def test_dictionary_encoded_parquet_strings_are_read(tmp_path, capsys):
    pa = pytest.importorskip("pyarrow")
    pq = pytest.importorskip("pyarrow.parquet")
    values = ["red", "green", None, "red", "blue and more"]
    table = pa.table({"text": pa.array(values).dictionary_encode()})
    pq.write_table(table, tmp_path / "d.parquet", use_dictionary=True)
    assert pa.types.is_dictionary(pq.ParquetFile(tmp_path / "d.parquet").schema_arrow[0].type)
    status, out, err = run(
        capsys, "count", "--column", "text", "--json", str(tmp_path / "d.parquet")
    )
    assert status == 1 and "row 2: 'text' is null" in err  # the null is the one bad record
    enc = get_encoding("o200k_base")
    assert json.loads(out)["total"] == sum(enc.count(v) for v in values if v is not None)


@pytest.mark.parametrize(
    "function, bad, message",
    [
        ("encode_batch", 5, "encode_batch: texts[3] must be str, not int"),
        ("encode_batch", b"x", "encode_batch: texts[3] must be str, not bytes"),
        (
            "encode_ordinary_batch",
            None,
            "encode_ordinary_batch: texts[3] must be str or bytes, not NoneType",
        ),
        ("count_batch", 2.5, "count_batch: texts[3] must be str or bytes, not float"),
    ],
)
def test_batch_type_errors_name_the_element(function, bad, message):
    enc = get_encoding("o200k_base")
    with pytest.raises(TypeError) as info:
        getattr(enc, function)(["a", "b", "c", bad])
    assert str(info.value) == message


def test_count_json_names_undecodable_files_faithfully(tmp_path):
    raw = b"caf\xe9.txt"
    with open(os.path.join(os.fsencode(str(tmp_path)), raw), "wb") as f:
        f.write(b"some text\n")
    out = subprocess.run(
        [sys.executable, "-m", "velkan", "count", "--json", raw],
        cwd=tmp_path,
        capture_output=True,
        timeout=300,
    )
    assert out.returncode == 0, out.stderr
    assert b"\\ud" not in out.stdout  # no lone surrogates for strict readers
    entry = json.loads(out.stdout)["files"][0]
    assert entry["path"] == "caf\ufffd.txt"
    assert base64.b64decode(entry["path_base64"]) == raw
