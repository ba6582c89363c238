"""Records for the command line: read from JSON lines, Parquet and plain
files in bounded memory, and counted or encoded in batches on the native
worker pool.

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
OPENERS: dict[str, Callable[..., Any]] = {
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
    opener = OPENERS.get(os.path.splitext(path)[1].lower())
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
                raise FileError("unreadable after line %d (%s)" % (line_no, one_line(e))) from None
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
        raise FileError("not a readable Parquet file (%s)" % one_line(e)) from None
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
                raise FileError("unreadable from row %d on (%s)" % (row, one_line(e))) from None
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


def one_line(error: BaseException) -> str:
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
    from velkan._backend import replace_surrogates

    return [replace_surrogates(t) if isinstance(t, str) else t for t in texts]


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
