"""Datasets for the command line: records read from JSON lines, Parquet and
plain files in bounded memory, counted or encoded in batches on the native
worker pool, and token arrays written as .npy or Parquet.

A record is one JSON line's field, one Parquet row's column, or a whole plain
file. A bad record (malformed JSON, JSON nested too deeply to parse, a line
longer than MAX_RECORD_BYTES, a missing field, a value that is not a string,
a null) is reported with its file and line or row and skipped; the good ones
around it are still counted. A file that cannot be read at all is
reported once; the records read before the failure stay counted.
"""

from __future__ import annotations

import bz2
import gzip
import importlib
import json
import lzma
import os
import sys
from array import array
from collections.abc import Iterator, Sequence
from concurrent.futures import Future, ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import IO, TYPE_CHECKING, Any, Callable, Union

if TYPE_CHECKING:
    from velkan.bpe.openai import Tokenizer

Text = Union[str, bytes]

# Text gathered before a batch goes to the worker pool: large enough to keep
# both pool threads busy, small enough that the batch being counted, the one
# being read and their Python objects stay far below the memory goal.
BATCH_BYTES = 8 * 1024 * 1024
BATCH_RECORDS = 8192
# Rows asked of Parquet at a time, gathered into batches of BATCH_BYTES.
PARQUET_ROWS = 1024
# Bytes of a plain file fed at a time.
BLOCK_BYTES = 4 * 1024 * 1024
# The longest JSON line (without its line feed) read as a record. A line is
# held whole while it is parsed, and its text as a str (up to four bytes a
# character) besides, so one longer line is reported as a bad record and
# skipped in blocks instead of being read into memory.
MAX_RECORD_BYTES = 64 * 1024 * 1024

PARQUET_SUFFIXES = (".parquet", ".pq", ".parq")
_OPENERS: dict[str, Callable[..., Any]] = {
    ".gz": gzip.open,
    ".bz2": bz2.open,
    ".xz": lzma.open,
}


class FileError(Exception):
    """A whole input that cannot be read (or read further)."""


@dataclass
class Source:
    """How the records of one input are found."""

    path: str
    kind: str  # "text", "jsonl" or "parquet"
    name: str | None = None  # the JSON field or Parquet column


@dataclass
class Tally:
    """What became of one input."""

    path: str
    tokens: int = 0
    records: int = 0
    skipped: int = 0
    error: str | None = None  # the input could not be read (to the end)


@dataclass
class Batch:
    source: int  # index into the sources
    texts: list[Text]
    positions: list[int]  # line (JSON lines, from 1) or row (Parquet, from 0)
    size: int = 0  # bytes of input behind the batch, for the progress display
    bad: list[tuple[int, str]] = field(default_factory=list)  # (position, message)
    lines: int = 0  # JSON lines: lines read so far, blank ones too


# ---- choosing sources -----------------------------------------------------------


def kind_of(path: str, json_field: str | None, column: str | None) -> str:
    """The reader of a path: --field alone reads JSON lines, --column alone
    Parquet, both by the file name's suffix, neither plain text."""
    if json_field is not None and column is not None:
        return "parquet" if path.lower().endswith(PARQUET_SUFFIXES) else "jsonl"
    if column is not None:
        return "parquet"
    if json_field is not None:
        return "jsonl"
    return "text"


def is_data_file(name: str) -> bool:
    # Hidden files and the markers and summaries that Spark, Hive and Dask
    # leave beside their shards (_SUCCESS, _metadata) are not records.
    return not name.startswith((".", "_"))


def make_sources(paths: Sequence[str], json_field: str | None, column: str | None) -> list[Source]:
    sources = []
    for path in paths:
        kind = kind_of(path, json_field, column)
        sources.append(Source(path, kind, column if kind == "parquet" else json_field))
    return sources


# ---- reading records ----------------------------------------------------------------


def _type_name(value: object) -> str:
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "a boolean"
    if isinstance(value, (int, float)):
        return "a number"
    if isinstance(value, list):
        return "an array"
    if isinstance(value, dict):
        return "an object"
    return type(value).__name__


def open_binary(path: str) -> IO[bytes]:
    if path == "-":
        return sys.stdin.buffer
    opener = _OPENERS.get(os.path.splitext(path)[1].lower())
    if opener is not None:
        stream: IO[bytes] = opener(path, "rb")
        return stream
    return open(path, "rb")  # noqa: SIM115


class _Position:
    """Bytes of a file consumed so far, for the progress display: the raw
    file's position, so compressed inputs advance by compressed bytes."""

    def __init__(self, stream: IO[bytes]) -> None:
        raw = getattr(stream, "fileobj", None) or getattr(stream, "_fp", None) or stream
        self._raw = raw
        self._last = 0

    def advance(self) -> int:
        try:
            now = int(self._raw.tell())
        except (OSError, ValueError, AttributeError):
            return 0
        step, self._last = max(0, now - self._last), now
        return step


def jsonl_records(
    source: Source, index: int, *, start: int = 0, end: int | None = None
) -> Iterator[Batch]:
    """Batches of the field's strings of the JSON lines that start in
    [start, end) of the file (the whole file by default), with the bad lines.
    Blank lines are no records. Line numbers count from the first line read,
    from 1."""
    assert source.name is not None
    name = source.name
    stream = open_binary(source.path)
    try:
        if start > 0:
            stream.seek(start - 1)
            stream.readline()  # the line holding start - 1 began before start
        position = _Position(stream)
        batch = Batch(index, [], [])
        size = 0
        offset = stream.tell() if start > 0 else 0
        line_no = 0
        while end is None or offset < end:
            try:
                line, consumed = _read_line(stream)
            except (OSError, EOFError, ValueError) as e:
                yield batch  # the lines read before the damage count
                raise FileError("unreadable after line %d (%s)" % (line_no, _one_line(e))) from None
            if not consumed:
                break
            line_no += 1
            offset += consumed
            size += consumed
            problem: str | None
            if line is None:
                value = ""
                problem = "longer than %s (the most a record may be)" % _size(MAX_RECORD_BYTES)
            elif not line.strip():
                continue
            else:
                value, problem = _field(line, name)
            if problem is not None:
                batch.bad.append((line_no, "line %d: %s" % (line_no, problem)))
            else:
                batch.texts.append(value)
                batch.positions.append(line_no)
            if size >= BATCH_BYTES or len(batch.texts) >= BATCH_RECORDS:
                batch.size, batch.lines = position.advance(), line_no
                yield batch
                batch, size = Batch(index, [], []), 0
        batch.size, batch.lines = position.advance(), line_no
        yield batch
    finally:
        if stream is not sys.stdin.buffer:
            stream.close()


def _size(n: int) -> str:
    return "%d MB" % (n >> 20) if n % (1 << 20) == 0 else "%d bytes" % n


def _read_line(stream: IO[bytes]) -> tuple[bytes | None, int]:
    """(the next line, bytes consumed); (None, bytes consumed) for a line
    longer than MAX_RECORD_BYTES, whose rest is read and dropped in blocks;
    (b"", 0) at the end."""
    line = stream.readline(MAX_RECORD_BYTES + 1)
    if len(line) <= MAX_RECORD_BYTES or line.endswith(b"\n"):
        return line, len(line)
    consumed = len(line)
    del line
    while True:
        rest = stream.readline(BLOCK_BYTES)
        consumed += len(rest)
        if not rest or rest.endswith(b"\n"):
            return None, consumed


def _field(line: bytes, name: str) -> tuple[str, str | None]:
    """(the string in the line's field, None) or ("", what is wrong)."""
    try:
        record = json.loads(line)
    except json.JSONDecodeError as e:
        return "", "not valid JSON (%s at column %d)" % (e.msg, e.colno)
    except UnicodeDecodeError as e:
        return "", "not valid UTF-8 (byte %d of the line)" % (e.start + 1)
    except ValueError as e:
        return "", "not valid JSON (%s)" % e
    except RecursionError:
        # The parser recurses per level: past the interpreter's limit the
        # line is a bad record, not the end of the run.
        return "", "nested too deeply to parse (more than about %d levels)" % (
            sys.getrecursionlimit()
        )
    if not isinstance(record, dict):
        return "", "%s, not a JSON object" % _type_name(record)
    if name not in record:
        return "", "no field %r" % name
    value = record[name]
    if not isinstance(value, str):
        return "", "field %r is %s, not a string" % (name, _type_name(value))
    return value, None


def parquet_records(source: Source, index: int) -> Iterator[Batch]:
    """Batches of the column's strings, row group by row group, with the
    nulls. Rows count from 0."""
    from velkan._arrow import pyarrow

    pa = pyarrow()
    pq = importlib.import_module("pyarrow.parquet")
    assert source.name is not None
    column = source.name
    try:
        reader = pq.ParquetFile(source.path)
    except (OSError, pa.ArrowException) as e:
        raise FileError("not a readable Parquet file (%s)" % _one_line(e)) from None
    with reader:
        schema = reader.schema_arrow
        if column not in schema.names:
            raise FileError(
                "no column %r (the columns are %s)" % (column, ", ".join(schema.names) or "none")
            )
        kind = schema.field(column).type
        # A dictionary-encoded column (pandas categoricals, Spark and Polars
        # writers) reads as its values.
        values_kind = kind.value_type if pa.types.is_dictionary(kind) else kind
        if not _is_text_type(pa, values_kind):
            raise FileError("column %r holds %s, not strings" % (column, kind))
        rows = max(1, reader.metadata.num_rows)
        file_bytes = os.path.getsize(source.path)
        row = 0
        reported = 0
        batch, size = Batch(index, [], []), 0
        chunks = reader.iter_batches(batch_size=PARQUET_ROWS, columns=[column])
        while True:
            try:
                chunk = next(chunks, None)
            except (OSError, pa.ArrowException) as e:
                yield batch  # the rows read before the damage count
                raise FileError("unreadable from row %d on (%s)" % (row, _one_line(e))) from None
            if chunk is not None:
                values = chunk.column(0).to_pylist()
                for offset, value in enumerate(values):
                    if value is None:
                        message = "row %d: %r is null" % (row + offset, column)
                        batch.bad.append((row + offset, message))
                        continue
                    batch.texts.append(value)
                    batch.positions.append(row + offset)
                row += len(values)
                size += chunk.nbytes
            if chunk is None or size >= BATCH_BYTES or len(batch.texts) >= BATCH_RECORDS:
                done = file_bytes * min(row, rows) // rows
                batch.size, reported = done - reported, done
                yield batch
                batch, size = Batch(index, [], []), 0
            if chunk is None:
                break


def _is_text_type(pa: Any, kind: Any) -> bool:
    return bool(
        pa.types.is_string(kind)
        or pa.types.is_large_string(kind)
        or pa.types.is_binary(kind)
        or pa.types.is_large_binary(kind)
        or getattr(pa.types, "is_string_view", lambda _: False)(kind)
        or getattr(pa.types, "is_binary_view", lambda _: False)(kind)
    )


def _one_line(error: BaseException) -> str:
    # Library messages can span lines and carry the damaged bytes themselves.
    text = " ".join(str(error).split())
    return "".join(c if c.isprintable() else "?" for c in text)


def text_blocks(path: str) -> Iterator[bytes]:
    stream = open_binary(path)
    try:
        while True:
            block = stream.read(BLOCK_BYTES)
            if not block:
                return
            yield block
    finally:
        if stream is not sys.stdin.buffer:
            stream.close()


def records(source: Source, index: int) -> Iterator[Batch]:
    if source.kind == "jsonl":
        return jsonl_records(source, index)
    if source.kind == "parquet":
        return parquet_records(source, index)
    raise ValueError("plain text has no records: %s" % source.path)


# ---- counting and encoding batches ----------------------------------------------------


def _mend(texts: list[Text]) -> list[Text]:
    # JSON may escape a lone surrogate, which UTF-8 cannot hold: U+FFFD, as
    # tiktoken encodes it.
    return [
        t.encode("utf-16", "surrogatepass").decode("utf-16", "replace") if isinstance(t, str) else t
        for t in texts
    ]


def count_texts(tok: Tokenizer, texts: list[Text]) -> list[int]:
    if not texts:
        return []
    try:
        return list(tok.count_batch(texts))
    except UnicodeEncodeError:
        return list(tok.count_batch(_mend(texts)))


def encode_texts(tok: Tokenizer, texts: list[Text]) -> list[list[int]]:
    if not texts:
        return []
    try:
        batch: list[list[int]] = tok.encode_batch_parallel(texts)[0]
    except UnicodeEncodeError:
        batch = tok.encode_batch_parallel(_mend(texts))[0]
    return batch


def pipelined(
    batches: Iterator[Batch], work: Callable[[list[Text]], list[Any]]
) -> Iterator[tuple[Batch, list[Any]]]:
    """(batch, work(batch.texts)) in order, the work on one batch running
    (without the interpreter lock, on the native pool) while the next batch
    is read. At most two batches are held."""
    with ThreadPoolExecutor(1) as executor:
        pending: tuple[Batch, Future[list[Any]]] | None = None
        for batch in batches:
            future = executor.submit(work, batch.texts)
            if pending is not None:
                yield pending[0], pending[1].result()
            pending = (batch, future)
        if pending is not None:
            yield pending[0], pending[1].result()


# ---- plain files: the stream when the encoding has one ------------------------------


def text_stream(encoding_name: str) -> Any:
    """The streaming encoder of an encoding, or None where this build has none."""
    from velkan.encoding import get_encoding

    enc = get_encoding(encoding_name)
    if not hasattr(enc, "stream"):
        return None
    return enc.stream(allowed_special=set(), disallowed_special=())


# ---- token arrays out -----------------------------------------------------------


class TokenWriter:
    """Writes records' ids to a file that appears under its name only when
    complete: a failed run leaves no truncated file that looks whole. The
    file is written as PATH.partPID; one left by a run that was killed
    (SIGKILL cannot be caught) is removed by the next run to the same path."""

    def __init__(self, path: str) -> None:
        self.path = path
        self.temp = _part_path(path)
        _remove_stale_parts(path)

    def write(self, batch: list[list[int]]) -> None:
        raise NotImplementedError

    def close(self) -> None:
        raise NotImplementedError

    def abort(self) -> None:
        raise NotImplementedError


def _npy_header(descr: str, length: int, width: int = 128) -> bytes:
    # Version 1.0 with the header padded to a fixed width, so the final shape
    # is written over the first one in place.
    text = "{'descr': '%s', 'fortran_order': False, 'shape': (%d,), }" % (descr, length)
    body = text.ljust(width - 10 - 1) + "\n"
    return b"\x93NUMPY\x01\x00" + len(body).to_bytes(2, "little") + body.encode("latin-1")


class NpyWriter(TokenWriter):
    """IDS.npy: every id, uint32, one record after another; IDS.offsets.npy:
    int64, records + 1 values, record i is ids[offsets[i]:offsets[i + 1]].
    Plain .npy files: numpy.load(..., mmap_mode="r") maps them without
    reading, which is how training loaders read a token file."""

    def __init__(self, path: str) -> None:
        super().__init__(path)
        self.offsets_path = offsets_path(path)
        self.offsets_temp = _part_path(self.offsets_path)
        _remove_stale_parts(self.offsets_path)
        self.order = "<" if sys.byteorder == "little" else ">"
        self.ids = open(self.temp, "wb")  # noqa: SIM115
        try:
            self.offsets = open(self.offsets_temp, "wb")  # noqa: SIM115
        except BaseException:
            self.ids.close()
            _remove(self.temp)
            raise
        self.ids.write(_npy_header(self.order + "u4", 0))
        self.offsets.write(_npy_header(self.order + "i8", 0))
        self.total = 0
        self.records = 0
        self.offsets.write(array("q", [0]).tobytes())

    def write(self, batch: list[list[int]]) -> None:
        ends = array("q")
        flat = array("I")
        total = self.total
        for ids in batch:
            flat.extend(ids)
            total += len(ids)
            ends.append(total)
        self.ids.write(flat.tobytes())
        self.offsets.write(ends.tobytes())
        self.total = total
        self.records += len(batch)

    def close(self) -> None:
        try:
            for f, descr, length in (
                (self.ids, "u4", self.total),
                (self.offsets, "i8", self.records + 1),
            ):
                f.seek(0)
                f.write(_npy_header(self.order + descr, length))
                f.close()
            # Two files cannot be renamed at once: the old offsets go first
            # and the new ones come last, and when they cannot come the new
            # ids go again, so that no ids file ever sits beside offsets of
            # another run (an ids file alone is no dataset; a loader fails).
            _remove(self.offsets_path)
            os.replace(self.temp, self.path)
            try:
                os.replace(self.offsets_temp, self.offsets_path)
            except BaseException:
                _remove(self.path)
                raise
        except BaseException:
            self.abort()
            raise

    def abort(self) -> None:
        for f, temp in ((self.ids, self.temp), (self.offsets, self.offsets_temp)):
            f.close()
            _remove(temp)


class ParquetWriter(TokenWriter):
    """IDS.parquet: one row per record, one column "ids" of
    large_list<uint32>; its offsets are the records' boundaries."""

    def __init__(self, path: str) -> None:
        super().__init__(path)
        from velkan._arrow import pyarrow

        pa = pyarrow()
        pq = importlib.import_module("pyarrow.parquet")

        self.schema = pa.schema([pa.field("ids", pa.large_list(pa.uint32()), nullable=False)])
        self.writer = pq.ParquetWriter(self.temp, self.schema)
        self.pa = pa

    def write(self, batch: list[list[int]]) -> None:
        from velkan._arrow import list_array

        offsets = array("q", [0])
        flat = array("I")
        for ids in batch:
            flat.extend(ids)
            offsets.append(len(flat))
        table = self.pa.Table.from_arrays([list_array(flat, offsets)], schema=self.schema)
        self.writer.write_table(table)

    def close(self) -> None:
        try:
            self.writer.close()
            os.replace(self.temp, self.path)
        except BaseException:
            _remove(self.temp)
            raise

    def abort(self) -> None:
        try:
            self.writer.close()
        finally:
            _remove(self.temp)


def offsets_path(path: str) -> str:
    root, _ = os.path.splitext(path)
    return root + ".offsets.npy"


def _remove(path: str) -> None:
    try:
        os.remove(path)
    except OSError:
        pass


def _part_path(path: str) -> str:
    return "%s.part%d" % (path, os.getpid())


def _remove_stale_parts(path: str) -> None:
    """Removes PATH.partPID files whose process is gone: left by a run that
    was killed. Those of running processes (another run) are kept."""
    folder = os.path.dirname(path) or "."
    prefix = os.path.basename(path) + ".part"
    try:
        names = os.listdir(folder)
    except OSError:
        return
    for name in names:
        digits = name[len(prefix) :]
        if not name.startswith(prefix) or not digits.isdigit():
            continue
        pid = int(digits)
        if pid == os.getpid() or _process_exists(pid):
            continue
        _remove(os.path.join(folder, name))


def _process_exists(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except (PermissionError, OverflowError, ValueError):
        return True  # another user's process, or nothing to risk
    return True


def token_writer(path: str) -> TokenWriter:
    suffix = os.path.splitext(path)[1].lower()
    if suffix == ".npy":
        return NpyWriter(path)
    if suffix in PARQUET_SUFFIXES:
        return ParquetWriter(path)
    raise ValueError("--output must end in .npy or .parquet: %s" % path)


# ---- running over many sources ------------------------------------------------


def all_batches(sources: Sequence[Source], tallies: list[Tally]) -> Iterator[Batch]:
    """The batches of every record source in turn; an input that cannot be read
    (further) gets its error in its tally, and the next one follows."""
    for index, source in enumerate(sources):
        try:
            yield from records(source, index)
        except FileError as e:
            tallies[index].error = str(e)
        except OSError as e:
            tallies[index].error = e.strerror or str(e)


# Bad records reported one by one per input; past that only their number.
MAX_REPORTED = 10


class BadRecords:
    """Reports skipped records on stderr as they are found: the first few of
    each input in full, then how many more there were."""

    def __init__(self, stream: IO[str] | None = None) -> None:
        self.stream = sys.stderr if stream is None else stream

    def add(self, tally: Tally, messages: Sequence[str]) -> None:
        for message in messages:
            tally.skipped += 1
            if tally.skipped <= MAX_REPORTED:
                self.stream.write("velkan: %s: %s\n" % (tally.path, message))

    def close(self, tally: Tally) -> None:
        if tally.skipped > MAX_REPORTED:
            self.stream.write(
                "velkan: %s: %d more bad records not shown\n"
                % (tally.path, tally.skipped - MAX_REPORTED)
            )


# ---- on a Dask cluster ------------------------------------------------------------

# Bytes of a JSON lines file given to one task.
PART_BYTES = 64 * 1024 * 1024
# Seconds to wait for the scheduler to answer.
SCHEDULER_TIMEOUT = 30.0


@dataclass
class PartResult:
    tokens: int = 0
    records: int = 0
    lines: int = 0  # lines the part read: later parts number theirs after these
    bad: list[tuple[int, str]] = field(default_factory=list)  # (local line, message)
    error: str | None = None


def count_part(encoding: str, source: Source, start: int, end: int | None) -> PartResult:
    """Runs on a worker: the count of one part of one input. JSON lines parts
    are byte ranges cut anywhere (a line belongs to the part it starts in);
    Parquet and plain files are one part each."""
    import velkan.bpe.openai as openai
    from velkan._encodings_data import ENCODINGS

    tok = getattr(openai, ENCODINGS[encoding].rank_file)()
    result = PartResult()
    try:
        if source.kind == "text":
            from velkan.cli import count_stream

            with open(source.path, "rb") as f:
                count = count_stream(tok, f)
            assert count is not None
            result.tokens, result.records = count, 1
            return result
        if source.kind == "jsonl":
            batches = jsonl_records(source, 0, start=start, end=end)
        else:
            batches = parquet_records(source, 0)
        for batch, counts in pipelined(batches, lambda texts: count_texts(tok, texts)):
            result.tokens += sum(counts)
            result.records += len(counts)
            result.bad += batch.bad
            result.lines = batch.lines
    except FileError as e:
        result.error = str(e)
    except OSError as e:
        result.error = e.strerror or str(e)
    except Exception as e:  # a worker's failure is the input's, not the client's
        result.error = "%s: %s" % (type(e).__name__, e)
    return result


def parts(source: Source) -> list[tuple[int, int | None]]:
    """Byte ranges of a source for separate tasks."""
    if source.kind != "jsonl" or source.path.lower().endswith(tuple(_OPENERS)):
        return [(0, None)]
    try:
        size = os.path.getsize(source.path)
    except OSError:
        return [(0, None)]
    return [(start, min(start + PART_BYTES, size)) for start in range(0, max(size, 1), PART_BYTES)]


def count_on_cluster(
    address: str,
    encoding: str,
    sources: Sequence[Source],
    reporter: BadRecords,
    on_done: Callable[[int], None] | None = None,
) -> list[Tally]:
    """Counts every source on the Dask cluster whose scheduler is at address.
    The workers read the inputs by their paths: a shared filesystem, as
    dask.dataframe.read_parquet and dask.bag.read_text assume for local paths."""
    try:
        Client = importlib.import_module("distributed").Client
    except ImportError as e:
        raise ImportError(
            "--scheduler needs Dask: pip install 'velkan[dask]' "
            "(or pip install 'dask[distributed]')"
        ) from e
    tallies = [Tally(s.path) for s in sources]
    try:
        client = Client(address, timeout=SCHEDULER_TIMEOUT)
    except (OSError, TimeoutError) as e:
        raise FileError("cannot reach the Dask scheduler at %s (%s)" % (address, e)) from None
    except (ValueError, TypeError) as e:
        # Dask parses the address before connecting.
        raise FileError(
            "not a Dask scheduler address: %r (%s); expected one like tcp://host:8786"
            % (address, _one_line(e))
        ) from None
    with client:
        jobs = []
        for index, source in enumerate(sources):
            path = os.path.abspath(source.path)
            for start, end in parts(source):
                job = Source(path, source.kind, source.name)
                future = client.submit(count_part, encoding, job, start, end, pure=False)
                jobs.append((index, future))
        lines = [0] * len(sources)
        for index, future in jobs:  # in order: line numbers add up part by part
            tally = tallies[index]
            try:
                part: PartResult = future.result()
            except Exception as e:  # a lost worker, a task the cluster gave up on
                part = PartResult(error="the cluster failed to count it (%s)" % _one_line(e))
            tally.tokens += part.tokens
            tally.records += part.records
            messages = []
            for position, message in part.bad:
                if sources[index].kind == "jsonl":
                    line = position + lines[index]
                    message = "line %d:%s" % (line, message.split(":", 1)[1])
                messages.append(message)
            reporter.add(tally, messages)
            lines[index] += part.lines
            if part.error is not None and tally.error is None:
                tally.error = part.error
            if on_done is not None:
                on_done(index)
    return tallies
