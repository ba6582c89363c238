"""Datasets on one machine: JSON lines and Parquet records counted and
encoded by the command line, bad records, token files, Arrow arrays."""

import contextlib
import gzip
import io
import json
import os
import subprocess
import sys

import numpy as np
import pyarrow as pa
import pyarrow.parquet as pq
import pytest
from sizes import CHECKED
from test_cli import velkan

from reference import corpus, reference
from velkan import cli, get_encoding
from velkan._arrow import list_array
from velkan.cli import progress, records, tokenfiles

ENC = "o200k_base"


def run(capsys, *args):
    """cli.main in this process: (status, stdout, stderr)."""
    status = cli.main(list(args))
    out = capsys.readouterr()
    return status, out.out, out.err


def texts():
    """Records of many kinds: the corpora cut into paragraphs, and edge cases."""
    found = ["", " ", "\n", "Hello, world!", "caf\u00e9 \U0001f600 \u4e2d\u6587"]
    for text in corpus().values():
        found += [p for p in text.split("\n\n")[:40]]
    return found


def ref_counts(items):
    ref = reference(ENC)
    return [len(ref.encode_ordinary(t)) for t in items]


def write_jsonl(path, items, field="text", opener=open):
    with opener(path, "wt", encoding="utf-8") as f:
        for t in items:
            f.write(json.dumps({"id": 1, field: t}) + "\n")


def write_parquet(path, items, column="text", row_group_size=50):
    pq.write_table(pa.table({column: items}), path, row_group_size=row_group_size)


# ---- Arrow -------------------------------------------------------------------------


@pytest.mark.parametrize(
    "items, allowed",
    [
        ([], set()),
        (["", "", ""], set()),
        (["Hello, world!", "", "caf\u00e9 \U0001f600"], set()),
        (["a <|endoftext|> b", "<|endoftext|>"], "all"),
        (texts()[:200], set()),
    ],
)
def test_encode_batch_to_arrow_equals_encode(items, allowed):
    enc = get_encoding(ENC)
    array = enc.encode_batch_to_arrow(items, allowed_special=allowed)
    assert array.type == pa.large_list(pa.uint32())
    assert len(array) == len(items)
    assert array.to_pylist() == [enc.encode(t, allowed_special=allowed) for t in items]


def test_arrow_array_shares_the_numpy_buffers():
    enc = get_encoding(ENC)
    ids, offsets = enc.encode_batch_to_numpy(["one text", "and another"])
    array = list_array(ids, offsets)
    assert array.values.buffers()[1].address == ids.ctypes.data
    assert array.buffers()[1].address == offsets.ctypes.data
    del ids, offsets  # the array keeps them alive
    assert array.to_pylist() == [enc.encode("one text"), enc.encode("and another")]


def test_encode_batch_to_arrow_checks_special_tokens():
    with pytest.raises(ValueError, match="disallowed special token"):
        get_encoding(ENC).encode_batch_to_arrow(["fine", "<|endoftext|>"])


def test_arrow_missing_names_the_extra(monkeypatch):
    monkeypatch.setitem(sys.modules, "pyarrow", None)
    with pytest.raises(ImportError, match=r"velkan\[arrow\]"):
        get_encoding(ENC).encode_batch_to_arrow(["x"])


# ---- counting records ---------------------------------------------------------------


@pytest.mark.parametrize("kind", ["jsonl", "jsonl.gz", "parquet"])
def test_count_records_equals_tiktoken(tmp_path, capsys, monkeypatch, kind):
    # Small batches: records cross batch and row-group boundaries.
    monkeypatch.setattr(records, "BATCH_RECORDS", 7)
    monkeypatch.setattr(records, "PARQUET_ROWS", 13)
    items = texts()
    path = str(tmp_path / ("data." + kind))
    if kind == "parquet":
        write_parquet(path, items)
        option = ["--column", "text"]
    else:
        write_jsonl(path, items, opener=gzip.open if kind.endswith(".gz") else open)
        option = ["--field", "text"]
    expected = ref_counts(items)
    status, out, err = run(capsys, "count", *option, "--json", path)
    assert (status, err) == (0, "")
    result = json.loads(out)
    assert result["total"] == sum(expected)
    assert result["files"][0]["records"] == len(items)
    status, out, _ = run(capsys, "count", *option, "--each", path)
    assert [int(n) for n in out.split()] == expected


BAD_LINES = [
    (b"not json", "not valid JSON"),
    (b'{"text": "unclosed', "not valid JSON"),
    (b'{"body": "x"}', "no field 'text'"),
    (b'{"text": 5}', "field 'text' is a number, not a string"),
    (b'{"text": null}', "field 'text' is null, not a string"),
    (b'{"text": ["a"]}', "field 'text' is an array, not a string"),
    (b'["text"]', "an array, not a JSON object"),
    (b'{"text": "caf\xe9"}', "not valid UTF-8"),
]


@pytest.mark.parametrize("line, message", BAD_LINES)
def test_bad_json_line_is_reported_and_the_rest_counted(tmp_path, line, message):
    good = ["first record", "second \\ud83d\\ude00 record", "a lone \\ud800 surrogate"]
    body = b'{"text": "%s"}\n' % good[0].encode()
    body += b"\n" + line + b"\n"  # a blank line is no record
    body += b'{"text": "%s"}\n{"text": "%s"}' % (good[1].encode(), good[2].encode())  # no final \n
    (tmp_path / "d.jsonl").write_bytes(body)
    out = velkan("count", "--field", "text", "--json", "d.jsonl", cwd=tmp_path)
    assert out.returncode == 1
    err = out.stderr.decode()
    assert "d.jsonl: line 3: " + message in err
    assert "1 bad record(s) skipped" in err and "Traceback" not in err
    # JSON's escaped surrogates: a pair is one character, a lone one U+FFFD (tiktoken's).
    decoded = [json.loads('"%s"' % t) for t in good]
    ref = reference(ENC)
    mended = [t.encode("utf-16", "surrogatepass").decode("utf-16", "replace") for t in decoded]
    result = json.loads(out.stdout)
    assert result["total"] == sum(len(ref.encode_ordinary(t)) for t in mended)
    assert (result["records"], result["skipped"]) == (3, 1)
    each = velkan("count", "--field", "text", "--each", "d.jsonl", cwd=tmp_path)
    assert each.stdout.split()[1] == b"-"  # aligned with the records


def test_bad_records_are_capped_in_the_report(tmp_path):
    lines = ['{"text": "ok"}'] + ["bad"] * 30
    (tmp_path / "d.jsonl").write_text("\n".join(lines) + "\n")
    out = velkan("count", "--field", "text", "d.jsonl", cwd=tmp_path)
    err = out.stderr.decode()
    assert err.count("not valid JSON") == records.MAX_REPORTED
    assert "20 more bad records not shown" in err
    assert "30 bad record(s) skipped" in err
    assert out.stdout.split() == [b"1", b"d.jsonl"]


# pyarrow reports a damaged file with a C++ exception, which the preloaded
# sanitizer runtime cannot throw (its __cxa_throw finds no real one): the
# process aborts inside pyarrow, before any code of ours runs again.
needs_cxx_throw = pytest.mark.skipif(
    CHECKED, reason="pyarrow's C++ exceptions abort under the preloaded sanitizer runtime"
)


@needs_cxx_throw
@pytest.mark.parametrize(
    "make, message",
    [
        (lambda p: p.write_bytes(b"PAR1 this is no parquet file"), "not a readable Parquet file"),
        (lambda p: write_parquet(str(p), ["x"], column="body"), "no column 'text'"),
        (lambda p: pq.write_table(pa.table({"text": [1, 2]}), str(p)), "holds int64"),
        (lambda p: None, "No such file"),
    ],
)
def test_unreadable_parquet_is_reported_and_others_counted(tmp_path, make, message):
    write_parquet(str(tmp_path / "good.parquet"), ["Hello, world!", None, "again"])
    make(tmp_path / "bad.parquet")
    out = velkan("count", "--column", "text", "good.parquet", "bad.parquet", cwd=tmp_path)
    assert out.returncode == 1
    err = out.stderr.decode()
    assert "bad.parquet: " in err and message in err, err
    assert "good.parquet: row 1: 'text' is null" in err
    assert "Traceback" not in err
    assert out.stdout.split() == [
        b"%d" % sum(ref_counts(["Hello, world!", "again"])),
        b"good.parquet",
    ]


@needs_cxx_throw
def test_truncated_parquet_keeps_the_rows_read(tmp_path):
    items = ["row %d of many" % i for i in range(2000)]
    path = tmp_path / "t.parquet"
    write_parquet(str(path), items, row_group_size=100)
    data = path.read_bytes()
    # Damage the last row group's pages but keep the footer: earlier rows read.
    meta = pq.ParquetFile(str(path)).metadata
    start = meta.row_group(meta.num_row_groups - 1).column(0).data_page_offset
    path.write_bytes(data[:start] + b"\xff" * 64 + data[start + 64 :])
    out = velkan("count", "--column", "text", "--json", "t.parquet", cwd=tmp_path)
    err = out.stderr.decode()
    assert out.returncode == 1 and "t.parquet: " in err and "Traceback" not in err
    files = json.loads(out.stdout)["files"]
    assert 0 < files[0]["records"] < len(items)


def test_directories_with_data_files_only(tmp_path, capsys):
    shards = tmp_path / "ds"
    (shards / "part").mkdir(parents=True)
    write_jsonl(shards / "a.jsonl", ["one", "two"])
    write_parquet(str(shards / "part" / "b.parquet"), ["three"])
    (shards / "_SUCCESS").write_text("")
    (shards / ".a.jsonl.crc").write_text("garbage")
    status, out, err = run(
        capsys, "count", "-r", "--field", "text", "--column", "text", "--json", str(shards)
    )
    assert (status, err) == (0, "")
    result = json.loads(out)
    assert [os.path.relpath(f["path"], shards) for f in result["files"]] == [
        "a.jsonl",
        os.path.join("part", "b.parquet"),
    ]
    assert result["total"] == sum(ref_counts(["one", "two", "three"]))


@pytest.mark.parametrize(
    "args, message",
    [
        (["count", "--each", "x"], "--each counts records"),
        (["count", "--column", "t", "-"], "Parquet cannot be read from standard input"),
        (["count", "--field", "t", "--each", "--limit", "3", "x"], "--limit applies"),
        (["encode", "-i", "x", "--output", "ids.txt"], "--output must end in .npy or .parquet"),
        (["encode", "some text", "-i", "x"], "TEXT or --input"),
        (["encode", "-i", "-", "-i", "-"], "may be given only once"),
        (["chunk", "--max-tokens", "5", "-", "-"], "may be given only once"),
        (["encode", "--column", "t", "-i", "-"], "Parquet cannot be read from standard input"),
        (["encode", "--column", "t", "-i", "-", "-i", "-"], "may be given only once"),
    ],
)
def test_usage_errors(args, message):
    out = velkan(*args)
    assert out.returncode == 2 and message in out.stderr.decode()


# ---- encoding records ------------------------------------------------------------


@pytest.mark.parametrize("output", ["ids.npy", "ids.parquet", None])
def test_encode_records_to_token_files(tmp_path, capsys, monkeypatch, output):
    monkeypatch.setattr(records, "BATCH_RECORDS", 5)
    items = texts()[:120]
    write_jsonl(tmp_path / "a.jsonl", items[:70])
    write_parquet(str(tmp_path / "b.parquet"), items[70:], row_group_size=9)
    args = ["encode", "--field", "text", "--column", "text", "-i"]
    args += [str(tmp_path / "a.jsonl"), str(tmp_path / "b.parquet")]
    if output is not None:
        args += ["--output", str(tmp_path / output)]
    status, out, err = run(capsys, *args)
    assert status == 0, err
    ref = reference(ENC)
    expected = [ref.encode_ordinary(t) for t in items]
    if output == "ids.npy":
        ids = np.load(tmp_path / "ids.npy", mmap_mode="r")
        offsets = np.load(tmp_path / "ids.offsets.npy")
        assert ids.dtype == np.uint32 and offsets.dtype == np.int64
        assert len(offsets) == len(items) + 1
        got = [ids[offsets[i] : offsets[i + 1]].tolist() for i in range(len(items))]
    elif output == "ids.parquet":
        got = pq.read_table(tmp_path / "ids.parquet").column("ids").to_pylist()
    else:
        got = [[int(i) for i in line.split()] for line in out.split("\n")[:-1]]
    assert got == expected
    assert [p for p in os.listdir(tmp_path) if ".part" in p] == []


def test_encode_plain_files_and_stdin(tmp_path):
    text = "".join(corpus().values())[:300_000]
    (tmp_path / "a.txt").write_text(text)
    ref = reference(ENC).encode_ordinary(text)
    out = velkan("encode", "--json", "-i", "a.txt", "-", cwd=tmp_path, stdin=b"Hello")
    lines = out.stdout.decode().splitlines()
    assert [json.loads(x) for x in lines] == [ref, reference(ENC).encode_ordinary("Hello")]
    velkan("encode", "-i", "a.txt", "-o", "t.npy", cwd=tmp_path)
    assert np.load(tmp_path / "t.npy").tolist() == ref
    assert np.load(tmp_path / "t.offsets.npy").tolist() == [0, len(ref)]


def test_failed_encode_leaves_no_token_file(tmp_path, monkeypatch, capsys):
    write_jsonl(tmp_path / "a.jsonl", ["one", "two"])

    def broken(tok, items):
        raise KeyboardInterrupt

    monkeypatch.setattr(records, "encode_texts", broken)
    output = str(tmp_path / "ids.npy")
    assert cli.main(["encode", "--field", "text", "-i", str(tmp_path / "a.jsonl"), "-o", output])
    assert sorted(os.listdir(tmp_path)) == ["a.jsonl"]


def test_no_token_file_when_no_input_could_be_read(tmp_path):
    out = velkan("encode", "--field", "text", "-i", "missing.jsonl", "-o", "x.npy", cwd=tmp_path)
    assert out.returncode == 1 and b"missing.jsonl: No such file" in out.stderr
    assert os.listdir(tmp_path) == []


def test_npy_header_is_rewritten_for_any_length(tmp_path):
    # The header keeps its width whatever the final count: numpy reads it.
    for length in (0, 1, 10**12):
        header = tokenfiles._npy_header("<u4", length)
        assert len(header) == 128 and header.endswith(b"\n")
        (tmp_path / "h.npy").write_bytes(header)
        with open(tmp_path / "h.npy", "rb") as f:
            assert np.lib.format.read_magic(f) == (1, 0)
            shape, _, dtype = np.lib.format.read_array_header_1_0(f)
        assert (shape, dtype) == ((length,), np.dtype("<u4"))


# ---- the streaming encoder, where the encoding has one -----------------------------


class FakeStream:
    """The agreed stream interface, holding everything until the end."""

    def __init__(self, enc):
        self.enc, self.data, self.fed = enc, b"", 0

    def feed(self, data):
        self.data += data
        self.fed += 1
        return []

    def finish(self):
        return self.enc._tokenizer.encode(self.data)

    def feed_count(self, data):
        self.feed(data)
        return 0

    def finish_count(self):
        return len(self.finish())

    @property
    def held_bytes(self):
        return len(self.data)


def test_plain_inputs_are_encoded_through_the_stream(tmp_path, monkeypatch, capsys):
    from velkan.encoding import Encoding

    streams = []

    def stream(self, *, allowed_special=set(), disallowed_special="all"):  # noqa: B006
        assert disallowed_special == ()  # the command line counts ordinary text
        streams.append(FakeStream(self))
        return streams[-1]

    monkeypatch.setattr(Encoding, "stream", stream, raising=False)
    monkeypatch.setattr(records, "BLOCK_BYTES", 1000)
    text = "".join(corpus().values())[:20_000]
    (tmp_path / "a.txt").write_text(text)
    path = str(tmp_path / "a.txt")
    expected = reference(ENC).encode_ordinary(text)
    # Counting cuts the input itself and counts on the pool.
    assert run(capsys, "count", path)[1].split() == [str(len(expected)), path]
    assert [int(i) for i in run(capsys, "encode", "-i", path)[1].split()] == expected
    assert streams[-1].fed == -(-len(text.encode()) // 1000)  # block by block


@pytest.mark.parametrize("terminal", [True, False])
def test_progress_bar_on_a_terminal_only(tmp_path, monkeypatch, terminal):
    pytest.importorskip("tqdm")

    class Screen(io.StringIO):
        def isatty(self):
            return terminal

    screen = Screen()
    monkeypatch.setattr(sys, "stderr", screen)
    monkeypatch.setattr(progress, "PROGRESS_DELAY", 0)
    write_jsonl(tmp_path / "a.jsonl", texts())
    with contextlib.redirect_stdout(io.StringIO()):
        assert cli.main(["count", "--field", "text", str(tmp_path / "a.jsonl")]) == 0
    drawn = screen.getvalue()
    if terminal:
        assert "counting:" in drawn and "B/s" in drawn  # a bar in bytes
    else:
        assert drawn == ""


# ---- bounded memory ---------------------------------------------------------------


@pytest.mark.skipif(CHECKED, reason="the sanitizer's allocator holds freed memory back")
@pytest.mark.parametrize("kind", ["jsonl", "parquet"])
def test_memory_stays_bounded_on_a_large_dataset(tmp_path, kind):
    # 160 MB of records: holding them, or their ids, would pass the bound.
    paragraph = "".join(corpus().values())[:4000]
    record = json.dumps({"text": paragraph}) + "\n"
    rows = (160 << 20) // len(record)
    if kind == "jsonl":
        with open(tmp_path / "big.jsonl", "w") as f:
            for start in range(0, rows, 1000):
                f.write(record * min(1000, rows - start))
        args = ["--field", "text", "big.jsonl"]
        write_jsonl(tmp_path / "small.jsonl", [paragraph])
        small = ["--field", "text", "small.jsonl"]
    else:
        with pq.ParquetWriter(tmp_path / "big.parquet", pa.schema([("text", pa.string())])) as w:
            for start in range(0, rows, 4000):
                w.write_table(pa.table({"text": [paragraph] * min(4000, rows - start)}))
        args = ["--column", "text", "big.parquet"]
        write_parquet(str(tmp_path / "small.parquet"), [paragraph])
        small = ["--column", "text", "small.parquet"]
    # The peak of the counting process itself, as it reports it, against the
    # same command on a one-record input (the interpreter, the vocabulary,
    # pyarrow's libraries).
    script = (
        "import resource, sys; from velkan.cli import main; status = main(sys.argv[1:]); "
        "print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss, file=sys.stderr); "
        "sys.exit(status)"
    )

    def peak(args):
        out = subprocess.run(
            [sys.executable, "-c", script, "count", *args],
            cwd=tmp_path,
            capture_output=True,
            timeout=300,
        )
        assert out.returncode == 0, out.stderr
        return int(out.stdout.split()[0]), int(out.stderr.split()[-1]) / 1024

    tokens, peak_mb = peak(args)
    assert tokens == rows * len(reference(ENC).encode_ordinary(paragraph))
    base_mb = peak(small)[1]
    assert peak_mb - base_mb < 120, "peak resident memory %.0f MB over %.0f MB" % (
        peak_mb - base_mb,
        base_mb,
    )
