"""The velkan command line: count, encode and decode ordinary text with any of OpenAI's encodings.

    velkan count [FILE ...]     tokens per file and in total, like wc
    velkan encode [TEXT]        token ids of TEXT (or of stdin)
    velkan decode [ID ...]      text of the ids (or of the ids on stdin)
    velkan chunk --max-tokens N [FILE ...]   chunks of at most N tokens, as JSON lines
    velkan truncate --max-tokens N [FILE]    the longest start (or end) within N tokens
    velkan cache info|clear     the cached images that make the first use fast
    velkan write-images [DIR]   images into the package directory (for packagers)

Input that is not valid UTF-8 is counted and encoded as the raw bytes it is,
exactly as the library does for bytes arguments.

Exit status: 0 on success; 1 when an input could not be read or was invalid;
2 on usage errors; 3 when ``count --limit`` found an input over the limit.

Counting streams every input (stdin included) in chunks of a few MB, cut only
where a piece boundary is certain, so the sum of the chunk counts is exactly
the count of the whole input and memory stays bounded. A boundary is certain

- after a line feed followed by an ASCII letter or digit: no piece of either
  vocabulary reaches past such a line feed or begins before it;
- before a space that follows a printable ASCII character and precedes an
  ASCII letter: the space begins the next word's piece and no piece ends in
  a space there.

Any text with an occasional line or word break has such places. An input
with none in MAX_STRETCH_BYTES (a single piece that long, such as
/dev/zero) cannot be counted exactly in bounded memory; it is reported as an
error instead of giving a wrong count.
"""

from __future__ import annotations

import argparse
import base64
import errno
import importlib
import itertools
import json
import os
import re
import signal
import sys
import time
from collections.abc import Iterator, Sequence
from typing import IO, TYPE_CHECKING, Any, Callable, NamedTuple

from velkan import __version__, _datasets
from velkan._encodings_data import ENCODINGS as _ENCODING_FACTS

if TYPE_CHECKING:
    from velkan.bpe.openai import Tokenizer

# Every encoding of OpenAI's; ordinary text only, so an encoding counts and
# encodes with the embedded vocabulary of its rank file (gpt2 and r50k_base
# share one, p50k_base and p50k_edit another).
ENCODINGS = tuple(_ENCODING_FACTS)
SHORT_NAMES = {
    "r50k": "r50k_base",
    "p50k": "p50k_base",
    "cl100k": "cl100k_base",
    "o200k": "o200k_base",
}
EXIT_OK, EXIT_ERROR, EXIT_USAGE, EXIT_OVER_LIMIT = 0, 1, 2, 3
LIMIT_MAX = 2**63 - 1

# Bytes read at a time; a chunk is cut at the last certain boundary of what
# has been read, so chunks are about this size.
READ_BYTES = 4 * 1024 * 1024
# The longest stretch without a certain boundary that is still counted.
MAX_STRETCH_BYTES = 64 * 1024 * 1024
# Chunks counted together, on the worker pool when the tokenizer can.
BATCH_BYTES = 32 * 1024 * 1024
BATCH_ITEMS = 4096


# The certain boundaries are found by mapping bytes to classes and searching
# for two- and three-byte class strings from the end: a few passes at memory
# speed, where a regular expression runs at a tenth of it.
def _class_table(classes: dict[bytes, bytes]) -> bytes:
    table = bytearray(b"." * 256)
    for members, cls in classes.items():
        for byte in members:
            table[byte] = cls[0]
    return bytes(table)


_LETTERS = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
_PRINTABLE = bytes(range(0x21, 0x7F))
# A line feed followed by an ASCII letter or digit: "\na".
_LINE_CLASSES = _class_table({b"\n": b"\n", _LETTERS + b"0123456789": b"a"})
# A printable ASCII character, a space, an ASCII letter: "a a" or "p a".
_WORD_CLASSES = _class_table({_PRINTABLE: b"p", _LETTERS: b"a", b" ": b" "})
# The longest text a boundary rule looks at, less one.
_CUT_CONTEXT = 2


class InputError(Exception):
    """Bad input the user can fix: reported in one line, exit status 1."""


class NoBoundary(InputError):
    """An input with no certain piece boundary in MAX_STRETCH_BYTES."""


def _no_boundary_message(max_stretch: int) -> str:
    return (
        "no certain token boundary in %d MB (a line or word break); "
        "velkan counts exactly or not at all, and holds at most that much" % (max_stretch >> 20)
    )


# ---- choosing the encoding -------------------------------------------------------


def encoding_name(value: str) -> str:
    """An encoding name or short name, as argparse type."""
    name = SHORT_NAMES.get(value, value)
    if name not in ENCODINGS:
        raise argparse.ArgumentTypeError(
            "unknown encoding %r (choose from %s)"
            % (value, ", ".join(list(ENCODINGS) + list(SHORT_NAMES)))
        )
    return name


def model_encoding(model: str) -> str:
    """The encoding of an OpenAI model name, as argparse type."""
    from velkan.encoding import encoding_name_for_model

    try:
        return encoding_name_for_model(model)
    except KeyError:
        raise argparse.ArgumentTypeError(
            "unknown model %r (e.g. gpt-4o, gpt-4.1, o3, gpt-4, gpt-3.5-turbo, "
            "text-davinci-003, gpt2); give the encoding with -e" % model
        ) from None


def vocabulary_size(vocabulary: str) -> int:
    """The size of a vocabulary's id range, gaps included."""
    import velkan.bpe.openai as openai

    return next(size for name, _image, size in openai._vocabularies() if name == vocabulary)


def vocabulary_gaps(vocabulary: str) -> set[int]:
    """Ids inside the range that name no ordinary token: ranks the rank file
    leaves to a special token (p50k_base's 50256)."""
    size = vocabulary_size(vocabulary)
    return {
        i
        for facts in _ENCODING_FACTS.values()
        if facts.rank_file == vocabulary
        for i in facts.special_tokens.values()
        if i < size
    }


def limit_value(text: str) -> int:
    """A token limit, as argparse type: 0 to 2**63 - 1."""
    try:
        value = int(text, 10)
    except ValueError:
        raise argparse.ArgumentTypeError("not a whole number: %r" % text) from None
    if value < 0:
        raise argparse.ArgumentTypeError("must not be negative: %d" % value)
    if value > LIMIT_MAX:
        raise argparse.ArgumentTypeError("too large: %d (at most 2**63 - 1)" % value)
    return value


def vocabulary_of(encoding: str) -> str:
    """The embedded vocabulary (rank file) an encoding's ordinary text uses."""
    return _ENCODING_FACTS[encoding].rank_file


def tokenizer(name: str) -> Tokenizer:
    import velkan.bpe.openai as openai

    tok: Tokenizer = getattr(openai, vocabulary_of(name))()
    return tok


# ---- chunked counting --------------------------------------------------------------


def _last_match(data: bytes | bytearray, lo: int, hi: int) -> int:
    """The offset of the first byte of the last boundary match that lies
    wholly in data[lo:hi], or -1."""
    region = bytes(data[lo:hi])
    line = region.translate(_LINE_CLASSES).rfind(b"\na")
    words = region.translate(_WORD_CLASSES)
    found = max(line, words.rfind(b"a a"), words.rfind(b"p a"))
    return found if found < 0 else lo + found


def last_cut(data: bytes | bytearray, start: int = 0) -> int | None:
    """The offset of the last certain piece boundary in data[start:] (neither
    0 nor len(data)), or None. Searches windows growing back from the end, so
    that ordinary text, whose last boundary is near the end, costs little."""
    hi, window = len(data), 1 << 16
    while hi - start > _CUT_CONTEXT:
        lo = max(start, hi - window)
        found = _last_match(data, lo, hi)
        if found >= 0:
            # Cut just after the match's first byte: after the line feed, or
            # between the printable character and the space.
            cut = found + 1
            return cut if cut < len(data) else None
        if lo == start:
            break
        hi = lo + _CUT_CONTEXT  # a match may straddle the window's start
        window *= 4
    return None


def iter_chunks(
    stream: IO[bytes],
    read_bytes: int = READ_BYTES,
    max_stretch: int = MAX_STRETCH_BYTES,
    on_read: Callable[[int], None] | None = None,
) -> Iterator[bytes]:
    """Yields consecutive chunks of the stream's bytes, each cut where a piece
    boundary is certain; their counts add up to the whole input's count.
    Linear: each byte is searched for a boundary about once. Raises
    NoBoundary when more than max_stretch bytes hold none."""
    pending = bytearray()
    searched = 0  # pending[:searched] holds no boundary
    while True:
        block = stream.read(read_bytes)
        if not block:
            break
        if on_read is not None:
            on_read(len(block))
        pending += block
        if len(pending) < read_bytes:
            continue  # a short read (a pipe): gather a whole block first
        cut = last_cut(pending, max(0, searched - _CUT_CONTEXT))
        if cut is None:
            searched = len(pending)
            if len(pending) > max_stretch:
                raise NoBoundary(_no_boundary_message(max_stretch))
            continue
        yield bytes(pending[:cut])
        del pending[:cut]
        searched = len(pending)  # the search from the end passed over the rest
    if pending:
        yield bytes(pending)


def count_chunks(tok: Tokenizer, chunks: Sequence[bytes]) -> list[int]:
    """The token counts of chunks, on the worker pool when the tokenizer can."""
    count_batch: Callable[[Sequence[bytes]], list[int]] | None = getattr(tok, "count_batch", None)
    if count_batch is not None and len(chunks) > 1:
        return list(count_batch(list(chunks)))
    return [tok.count(chunk) for chunk in chunks]


def count_stream(
    tok: Tokenizer,
    stream: IO[bytes],
    limit: int | None = None,
    chunk_bytes: int = READ_BYTES,
) -> int | None:
    """Tokens in a binary stream, read in chunks; with a limit, None once the
    count exceeds it."""
    total = 0
    batch: list[bytes] = []
    size = 0
    for chunk in iter_chunks(stream, chunk_bytes):
        batch.append(chunk)
        size += len(chunk)
        if size >= BATCH_BYTES:
            total += sum(count_chunks(tok, batch))
            batch, size = [], 0
            if limit is not None and total > limit:
                return None
    total += sum(count_chunks(tok, batch))
    return None if limit is not None and total > limit else total


class Progress:
    """A one-line progress display on stderr, when it is a terminal and the
    work looks like it takes more than a second."""

    def __init__(self, total_bytes: int | None, stream: IO[str] | None = None) -> None:
        self.stream = sys.stderr if stream is None else stream
        self.total = total_bytes  # None: unknown (stdin)
        self.read = 0
        self.done = 0
        self.start = time.monotonic()
        self.shown = 0.0
        self.terminal = self.stream.isatty()
        self.active = self.terminal and total_bytes is not None and total_bytes >= 16 << 20
        self.draw()

    def advance(self, read: int = 0, done: int = 0) -> None:
        self.read += read
        self.done += done
        if self.terminal and not self.active and time.monotonic() - self.start > 1.0:
            self.active = True
        self.draw()

    def draw(self, force: bool = False) -> None:
        now = time.monotonic()
        if not self.active or (not force and now - self.shown < 0.1):
            return
        self.shown = now
        rate = self.done / max(now - self.start, 1e-9) / 1e6
        if self.total:
            line = "counting: %5.1f%% of %d MB, %.0f MB/s" % (
                100.0 * self.done / self.total,
                self.total >> 20,
                rate,
            )
        else:
            line = "counting: %d MB, %.0f MB/s" % (self.done >> 20, rate)
        self.stream.write("\r" + line.ljust(48))
        self.stream.flush()

    def close(self) -> None:
        if self.active:
            self.stream.write("\r" + " " * 48 + "\r")
            self.stream.flush()


# Seconds of work before a progress bar appears.
PROGRESS_DELAY = 1.0


class TqdmProgress:
    """The same interface over a tqdm bar in bytes (tqdm draws, times and
    clears it)."""

    def __init__(self, total_bytes: int | None, label: str) -> None:
        tqdm = importlib.import_module("tqdm").tqdm
        self.bar: Any = tqdm(
            total=total_bytes,
            unit="B",
            unit_scale=True,
            unit_divisor=1024,
            desc=label,
            leave=False,
            file=sys.stderr,
            mininterval=0.2,
            delay=PROGRESS_DELAY,  # nothing for work over in a moment
        )

    def advance(self, read: int = 0, done: int = 0) -> None:
        if done:
            self.bar.update(done)

    def close(self) -> None:
        self.bar.close()


def make_progress(total_bytes: int | None, label: str = "counting") -> Progress | TqdmProgress:
    """A progress bar on stderr when it is a terminal: tqdm's where it is
    installed, else a line of our own; nothing is drawn otherwise."""
    if sys.stderr.isatty():
        try:
            return TqdmProgress(total_bytes, label)
        except ImportError:
            pass
    return Progress(total_bytes)


# ---- count -------------------------------------------------------------------


def expand_inputs(
    paths: Sequence[str], recursive: bool, data_only: bool = False
) -> tuple[list[str], dict[str, str]]:
    """The inputs to count, directories expanded when recursive, and
    {path: error} for the paths that cannot be counted. With data_only, a
    directory's hidden files and the _SUCCESS and _metadata files that
    dataset writers leave beside their shards are passed over."""
    inputs: list[str] = []
    errors: dict[str, str] = {}
    for path in paths:
        if path != "-" and os.path.isdir(path):
            if not recursive:
                errors[path] = "is a directory (count the files in it with --recursive)"
                continue
            for folder, dirs, files in os.walk(path):
                dirs.sort()
                if data_only:
                    dirs[:] = [d for d in dirs if _datasets.is_data_file(d)]
                for name in sorted(files):
                    if data_only and not _datasets.is_data_file(name):
                        continue
                    full = os.path.join(folder, name)
                    if os.path.isfile(full):
                        inputs.append(full)
        else:
            inputs.append(path)
    return inputs, errors


NO_FILE = "no FILE given and standard input is a terminal: give files or pipe text in"


def input_paths(parser: argparse.ArgumentParser, given: list[str], no_input: str) -> list[str]:
    """The paths given, or standard input ("-") when none is; "-" twice and
    a terminal as standard input (no_input says what to do instead) are usage
    errors."""
    paths = given or ["-"]
    if paths.count("-") > 1:
        parser.error("'-' (standard input) may be given only once")
    if not given and sys.stdin.isatty():
        parser.error(no_input)
    return paths


class Inputs(NamedTuple):
    """What count and encode read: the files (directories expanded), each
    one's source and size (None when unknown, as for standard input), their
    total (None when any size is unknown) and {path: error} for the paths
    that cannot be read."""

    files: list[str]
    sources: list[_datasets.Source]
    sizes: list[int | None]
    total: int | None
    dir_errors: dict[str, str]


def open_inputs(
    parser: argparse.ArgumentParser, paths: list[str], args: argparse.Namespace
) -> Inputs:
    """The Inputs of paths as args (--field, --column, --recursive) read them."""
    if "-" in paths and args.column is not None and args.field is None:
        parser.error("Parquet cannot be read from standard input: give a file")
    has_records = args.field is not None or args.column is not None
    files, dir_errors = expand_inputs(paths, args.recursive, data_only=has_records)
    sources = _datasets.make_sources(files, args.field, args.column)
    sizes = [file_size(p) for p in files]
    total = None if any(s is None for s in sizes) else sum(s or 0 for s in sizes)
    return Inputs(files, sources, sizes, total, dir_errors)


def file_size(path: str) -> int | None:
    if path == "-":
        return None
    try:
        st = os.stat(path)
    except OSError:
        return 0
    return st.st_size if os.path.isfile(path) else None


def count_inputs(
    tok: Tokenizer, paths: Sequence[str], limit: int | None, progress: Progress | TqdmProgress
) -> tuple[list[int | None], dict[int, str]]:
    """(counts, {index: error}): counts[i] is the count of paths[i], None where
    it could not be read. With a limit, an input's count stops growing soon
    after it passes the limit (the rest is not read)."""
    counts: list[int | None] = [0] * len(paths)
    errors: dict[int, str] = {}
    batch: list[tuple[int, bytes]] = []
    batch_size = 0

    def flush() -> None:
        nonlocal batch_size
        for (index, chunk), n in zip(batch, count_chunks(tok, [c for _, c in batch])):
            counts[index] = (counts[index] or 0) + n
            progress.advance(done=len(chunk))
        batch.clear()
        batch_size = 0

    def over(index: int) -> bool:
        return limit is not None and (counts[index] or 0) > limit

    for index, path in enumerate(paths):
        try:
            stream = sys.stdin.buffer if path == "-" else open(path, "rb")  # noqa: SIM115
            try:
                for chunk in iter_chunks(stream, on_read=lambda n: progress.advance(read=n)):
                    batch.append((index, chunk))
                    batch_size += len(chunk)
                    if batch_size >= BATCH_BYTES or len(batch) >= BATCH_ITEMS:
                        flush()
                        if over(index):
                            break  # over the limit: the rest cannot change that
            finally:
                if stream is not sys.stdin.buffer:
                    stream.close()
        except (OSError, NoBoundary) as e:
            message = (e.strerror or str(e)) if isinstance(e, OSError) else str(e)
            errors[index] = message
            batch[:] = [item for item in batch if item[0] != index]
            batch_size = sum(len(c) for _, c in batch)
    flush()
    for index in errors:
        counts[index] = None
    return counts, errors


def json_path(path: str) -> dict[str, str]:
    """{"path": path} for JSON output. A file name that is not valid in the
    file system's encoding holds undecodable bytes as lone surrogates, which
    strict JSON readers refuse: there "path" shows U+FFFD for each such byte
    and "path_base64" gives the name's bytes, base64-encoded, to open it by."""
    try:
        path.encode("utf-8")
    except UnicodeEncodeError:
        raw = os.fsencode(path)
        return {
            "path": raw.decode(sys.getfilesystemencoding(), "replace"),
            "path_base64": base64.b64encode(raw).decode("ascii"),
        }
    return {"path": path}


def _each_line(source: _datasets.Source, position: int, tokens: int | None, error: str) -> str:
    key = "row" if source.kind == "parquet" else "line"
    record: dict[str, Any] = {**json_path(source.path), key: position}
    if tokens is None:
        record["error"] = error
    else:
        record["tokens"] = tokens
    return json.dumps(record)


def count_records(
    tok: Tokenizer,
    sources: Sequence[_datasets.Source],
    progress: Progress | TqdmProgress,
    reporter: _datasets.BadRecords,
    each: bool,
    as_json: bool,
) -> list[_datasets.Tally]:
    """Counts the records of JSON lines and Parquet inputs; with each, prints
    one count per record in input order ('-' for a skipped one)."""
    tallies = [_datasets.Tally(s.path) for s in sources]
    batches = _datasets.all_batches(sources, tallies)
    out = sys.stdout
    for batch, counts in _datasets.pipelined(batches, lambda t: _datasets.count_texts(tok, t)):
        tally = tallies[batch.source]
        tally.tokens += sum(counts)
        tally.records += len(counts)
        reporter.add(tally, [m for _, m in batch.bad])
        progress.advance(done=batch.size)
        if each:
            source = sources[batch.source]
            good = [(p, n, "") for p, n in zip(batch.positions, counts)]
            bad = [(p, None, m) for p, m in batch.bad]
            for position, n, message in sorted(good + bad, key=lambda item: item[0]):
                if as_json:
                    out.write(_each_line(source, position, n, message) + "\n")
                else:
                    out.write("-\n" if n is None else "%d\n" % n)
    for tally in tallies:
        reporter.close(tally)
    return tallies


def cmd_count(parser: argparse.ArgumentParser, args: argparse.Namespace) -> int:
    paths = input_paths(parser, args.files, NO_FILE)
    has_records = args.field is not None or args.column is not None
    if args.each and not has_records:
        parser.error("--each counts records: give --field (JSON lines) or --column (Parquet)")
    if args.each and args.limit is not None:
        parser.error("--limit applies to whole files; it does not go with --each")
    if args.scheduler is not None:
        if "-" in paths:
            parser.error("--scheduler reads files by their paths: standard input cannot be sent")
        if args.each or args.limit is not None:
            parser.error("--scheduler gives totals per file: no --each or --limit")
    inputs, sources, sizes, total, dir_errors = open_inputs(parser, paths, args)
    tok = tokenizer(args.encoding)
    reporter = _datasets.BadRecords()
    progress = make_progress(total)
    try:
        if args.scheduler is not None:
            tallies = _datasets.count_on_cluster(
                args.scheduler,
                args.encoding,
                sources,
                reporter,
                on_done=lambda i: progress.advance(done=sizes[i] or 0),
            )
        elif has_records:
            tallies = count_records(tok, sources, progress, reporter, args.each, args.json)
        else:
            # Plain inputs: cut at certain piece boundaries and counted in
            # batches on the pool (faster than one stream on one thread).
            counts, read_errors = count_inputs(tok, inputs, args.limit, progress)
            tallies = [
                _datasets.Tally(p, n or 0, 1, 0, read_errors.get(i))
                for i, (p, n) in enumerate(zip(inputs, counts))
            ]
    except _datasets.FileError as e:
        raise InputError(str(e)) from None
    except ImportError as e:
        if args.scheduler is None:
            raise
        raise InputError(str(e)) from None
    finally:
        progress.close()
    errors = [(p, m) for p, m in dir_errors.items()]
    errors += [(t.path, t.error) for t in tallies if t.error is not None]
    for path, message in errors:
        print("velkan: %s: %s" % (path, message), file=sys.stderr)
    # An input that failed part-way keeps the records read before the failure.
    if has_records:
        kept = [t for t in tallies if t.error is None or t.records > 0]
    else:
        kept = [t for t in tallies if t.error is None]
    rows = [(t.path, t.tokens) for t in kept]
    skipped = sum(t.skipped for t in tallies)
    if skipped:
        print(
            "velkan: %d bad record(s) skipped; the counts are of the %d good ones"
            % (skipped, sum(t.records for t in tallies)),
            file=sys.stderr,
        )
    limit = args.limit
    over = sum(1 for _, n in rows if limit is not None and n > limit)
    if args.each:
        pass  # the counts are out, record by record
    elif args.json:
        files: list[dict[str, Any]] = []
        for t in kept:
            entry: dict[str, Any] = json_path(t.path)
            if limit is None:
                entry["tokens"] = t.tokens
            else:
                fits = t.tokens <= limit
                entry.update(tokens=t.tokens if fits else None, fits=fits)
            if has_records:
                entry.update(records=t.records, skipped=t.skipped)
            files.append(entry)
        result: dict[str, Any] = {"encoding": args.encoding, "files": files}
        if limit is None:
            result["total"] = sum(n for _, n in rows)
        else:
            result["limit"] = limit
        if has_records:
            result["records"] = sum(t.records for t in kept)
            result["skipped"] = skipped
        if errors:
            result["errors"] = [{**json_path(p), "error": m} for p, m in errors]
        print(json.dumps(result))
    elif limit is not None:
        for path, n in rows:
            if n > limit:
                print("%10s %s exceeds %d" % ("-", path, limit))
            else:
                print("%10d %s fits" % (n, path))
    else:
        for path, n in rows:
            print("%10d %s" % (n, path))
        if len(rows) > 1:
            print("%10d total" % sum(n for _, n in rows))
    if errors or skipped:
        return EXIT_ERROR
    return EXIT_OVER_LIMIT if over else EXIT_OK


# ---- encode, decode ------------------------------------------------------------


class IdsOut:
    """Where encode's ids go: a token file (--output), or stdout, a line per
    record (space-separated, or a JSON list with --json)."""

    def __init__(self, output: str | None, as_json: bool) -> None:
        self.writer = None if output is None else _datasets.token_writer(output)
        self.as_json = as_json
        self.records = 0
        self.tokens = 0
        self.part: list[int] = []  # the record being written in parts (plain files)
        self.started = False

    def records_batch(self, batch: list[list[int]]) -> None:
        self.records += len(batch)
        self.tokens += sum(len(ids) for ids in batch)
        if self.writer is not None:
            self.writer.write(batch)
            return
        out = sys.stdout
        for ids in batch:
            out.write((json.dumps(ids) if self.as_json else " ".join(map(str, ids))) + "\n")

    def record_part(self, ids: list[int]) -> None:
        """Ids of a record that comes in parts; end_record closes it."""
        self.tokens += len(ids)
        if self.writer is not None:
            self.part += ids
            return
        if not ids:
            return
        sep = ", " if self.as_json else " "
        text = sep.join(map(str, ids))
        if self.as_json and not self.started:
            text = "[" + text
        elif self.started:
            text = sep + text
        self.started = True
        sys.stdout.write(text)

    def end_record(self) -> None:
        self.records += 1
        if self.writer is not None:
            self.writer.write([self.part])
            self.part = []
            return
        if self.as_json:
            sys.stdout.write("]\n" if self.started else "[]\n")
        else:
            sys.stdout.write("\n")
        self.started = False

    def close(self, ok: bool) -> None:
        if self.writer is None:
            return
        if ok:
            self.writer.close()
        else:
            self.writer.abort()


def encode_text_input(
    tok: Tokenizer, encoding: str, path: str, out: IdsOut, progress: Progress | TqdmProgress
) -> None:
    """The ids of a plain input, written as they become certain."""
    stream = _datasets.text_stream(encoding)
    if stream is not None:
        for block in _datasets.text_blocks(path):
            out.record_part(stream.feed(block))
            progress.advance(done=len(block))
            if stream.held_bytes > MAX_STRETCH_BYTES:
                raise NoBoundary(_no_boundary_message(MAX_STRETCH_BYTES))
        out.record_part(stream.finish())
    else:
        source = sys.stdin.buffer if path == "-" else open(path, "rb")  # noqa: SIM115
        try:
            batch: list[bytes] = []

            def flush() -> None:
                for ids in tok.encode_batch_parallel(batch)[0] if batch else []:
                    out.record_part(ids)
                progress.advance(done=sum(len(c) for c in batch))
                batch.clear()

            for chunk in iter_chunks(source):
                batch.append(chunk)
                if sum(len(c) for c in batch) >= BATCH_BYTES:
                    flush()
            flush()
        finally:
            if source is not sys.stdin.buffer:
                source.close()
    out.end_record()


def cmd_encode(parser: argparse.ArgumentParser, args: argparse.Namespace) -> int:
    has_records = args.field is not None or args.column is not None
    if args.text is not None and args.inputs:
        parser.error("give TEXT or --input, not both")
    if args.output is not None:
        suffix = os.path.splitext(args.output)[1].lower()
        if suffix != ".npy" and suffix not in _datasets.PARQUET_SUFFIXES:
            parser.error("--output must end in .npy or .parquet, got %r" % args.output)
        targets = [args.output]
        if suffix == ".npy":
            targets.append(_datasets.offsets_path(args.output))
        for target in targets:
            if os.path.isdir(target):
                parser.error(
                    "--output: %s is a directory; give the path of the token file to write" % target
                )
    if args.text is not None and not has_records:
        # argv holds undecodable bytes as lone surrogates: give back the bytes.
        try:
            text = os.fsencode(args.text)
        except UnicodeEncodeError as e:
            raise InputError("TEXT is not encodable: %s" % e) from None
        ids = tokenizer(args.encoding).encode(text)
        if args.output is None:
            print(json.dumps(ids) if args.json else " ".join(map(str, ids)))
            return EXIT_OK
        single = IdsOut(args.output, False)
        single.records_batch([ids])
        single.close(True)
        return EXIT_OK
    if args.text is not None:
        parser.error("--field and --column read files: give them with --input")
    paths = input_paths(parser, args.inputs, "no TEXT given and standard input is a terminal")
    _, sources, _, total, dir_errors = open_inputs(parser, paths, args)
    tok = tokenizer(args.encoding)
    tallies = [_datasets.Tally(s.path) for s in sources]
    reporter = _datasets.BadRecords()
    try:
        out = IdsOut(args.output, args.json)
    except OSError as e:
        raise InputError("%s: %s" % (args.output, e.strerror or e)) from None
    progress = make_progress(total, "encoding")
    ok = False
    try:
        if out.writer is not None:
            _terminate_on_signals()
        if has_records:
            batches = _datasets.all_batches(sources, tallies)
            work = lambda t: _datasets.encode_texts(tok, t)  # noqa: E731
            for batch, encoded in _datasets.pipelined(batches, work):
                tally = tallies[batch.source]
                tally.records += len(encoded)
                reporter.add(tally, [m for _, m in batch.bad])
                out.records_batch(encoded)
                progress.advance(done=batch.size)
        else:
            for tally in tallies:
                try:
                    encode_text_input(tok, args.encoding, tally.path, out, progress)
                    tally.records = 1
                except BrokenPipeError:
                    raise  # the reader of the output went away: not this input's fault
                except (OSError, NoBoundary) as e:
                    tally.error = (e.strerror or str(e)) if isinstance(e, OSError) else str(e)
                    if out.writer is None and out.started:
                        sys.stdout.write("\n")
                    out.part, out.started = [], False
        # Nothing read at all, only failures: no token file that looks like
        # an empty dataset.
        failed = bool(dir_errors) or any(t.error is not None for t in tallies)
        ok = out.records > 0 or not failed
    finally:
        progress.close()
        out.close(ok)
    for tally in tallies:
        reporter.close(tally)
    errors = [(p, m) for p, m in dir_errors.items()]
    errors += [(t.path, t.error) for t in tallies if t.error is not None]
    for path, message in errors:
        print("velkan: %s: %s" % (path, message), file=sys.stderr)
    skipped = sum(t.skipped for t in tallies)
    if skipped:
        print(
            "velkan: %d bad record(s) skipped; %d good ones encoded" % (skipped, out.records),
            file=sys.stderr,
        )
    if args.output is not None and ok:
        npy = args.output.lower().endswith(".npy")
        also = " and %s" % _datasets.offsets_path(args.output) if npy else ""
        print(
            "velkan: %d records, %d tokens written to %s%s"
            % (out.records, out.tokens, args.output, also),
            file=sys.stderr,
        )
    return EXIT_ERROR if errors or skipped else EXIT_OK


_ID = re.compile(r"[0-9]+", re.ASCII)
# The longest word read as a token id (leading zeros and all): a longer one
# is no id, and is not gathered whole from an endless input.
MAX_ID_WORD = 1024
# Ids decoded and written at a time.
DECODE_IDS = 1 << 16


def id_checker(encoding: str) -> Callable[[str], int]:
    """A function from a word of ASCII digits to its token id, inside the
    vocabulary; raises InputError otherwise."""
    size = vocabulary_size(vocabulary_of(encoding))
    gaps = vocabulary_gaps(vocabulary_of(encoding))

    def check(word: str) -> int:
        if not _ID.fullmatch(word):
            if word.startswith("-") and _ID.fullmatch(word[1:]):
                raise InputError("token id %s is outside %s (0 to %d)" % (word, encoding, size - 1))
            raise InputError("not a token id: %r (expected ASCII digits 0-9)" % word)
        value = int(word)
        if value >= size:
            raise InputError("token id %d is outside %s (0 to %d)" % (value, encoding, size - 1))
        if value in gaps:
            raise InputError(
                "token id %d is a special token of %s, not ordinary text" % (value, encoding)
            )
        return value

    return check


def parse_ids(words: Sequence[str], encoding: str) -> list[int]:
    """Token ids from words of ASCII digits, each inside the vocabulary."""
    check = id_checker(encoding)
    return [check(word) for word in words]


def _words(stream: IO[bytes], read_bytes: int = READ_BYTES) -> Iterator[str]:
    """The whitespace-separated words of a stream, read a block at a time
    (bytes that are not ASCII read as U+FFFD, one each)."""
    carry = ""
    while True:
        block = stream.read(read_bytes)
        if not block:
            break
        text = carry + block.decode("ascii", "replace")
        words = text.split()
        carry = ""
        if words and not text[-1].isspace():
            carry = words.pop()
            if len(carry) > MAX_ID_WORD:
                raise InputError(
                    "not a token id: %r... (a word of more than %d characters)"
                    % (carry[:20], MAX_ID_WORD)
                )
        yield from words
    if carry:
        yield carry


_JSON_INT = re.compile(r"-?(?:0|[1-9][0-9]*)", re.ASCII)


def _json_id_words(first: str, words: Iterator[str]) -> Iterator[str]:
    """The numbers of a JSON list of whole numbers, as words, from the
    whitespace-separated words of its text (first starts with "["), without
    holding the list."""
    state = "first"  # first: a value or "]"; value: a value; next: "," or "]"; done
    for word in itertools.chain([first[1:]], words):
        for part in re.split(r"([\[\],])", word):
            if not part:
                continue
            if state == "done":
                raise InputError("invalid JSON: extra data after the list")
            if part == "[":
                raise InputError("expected a JSON list of whole numbers")
            if part == "]":
                if state in ("first", "next"):
                    state = "done"
                    continue
                raise InputError("invalid JSON: a value was expected before ']'")
            if part == ",":
                if state == "next":
                    state = "value"
                    continue
                raise InputError("invalid JSON: a value was expected before ','")
            if state not in ("first", "value"):
                raise InputError("invalid JSON: ',' or ']' was expected before %r" % part[:20])
            if not _JSON_INT.fullmatch(part):
                raise InputError("expected a JSON list of whole numbers")
            state = "next"
            yield part
    if state != "done":
        raise InputError("invalid JSON: the list is not closed with ']'")


def cmd_decode(parser: argparse.ArgumentParser, args: argparse.Namespace) -> int:
    if args.ids:
        words: Iterator[str] = iter(list(args.ids))
    else:
        if sys.stdin.isatty():
            parser.error("no ID given and standard input is a terminal")
        # Read, checked and decoded a block at a time: memory stays bounded
        # on any input, endless ones too.
        words = _words(sys.stdin.buffer)
        first = next(words, None)
        if first is None:
            words = iter(())
        elif first.startswith("["):
            words = _json_id_words(first, words)
        else:
            words = itertools.chain([first], words)
    check = id_checker(args.encoding)
    bpe = tokenizer(args.encoding).bpe()
    out = sys.stdout.buffer
    ids: list[int] = []
    for word in words:
        ids.append(check(word))
        if len(ids) >= DECODE_IDS:
            # Raw bytes: a token sequence may cut a character in two, and the
            # parts written one after the other are the bytes of the whole.
            out.write(bpe.decode_tokens(ids))
            ids.clear()
    out.write(bpe.decode_tokens(ids))
    if sys.stdout.isatty():
        out.write(b"\n")
    return EXIT_OK


# ---- budgets -------------------------------------------------------------------
#
# chunk and truncate read their input as count does, in chunks cut where a
# piece boundary is certain, so that memory stays bounded and the results are
# those of the whole input. An input with no certain boundary in
# MAX_STRETCH_BYTES is refused as count refuses it.


def positive_tokens(text: str) -> int:
    """A token budget, as argparse type: at least 1."""
    value = limit_value(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be at least 1: %d" % value)
    return value


def _open_input(path: str) -> IO[bytes]:
    if path == "-":
        return sys.stdin.buffer
    return open(path, "rb")  # noqa: SIM115


def _restart_at(text: str, s: int) -> bool:
    """Whether character s of text is a certain piece boundary where chunking
    can start afresh: the boundaries of iter_chunks. Neither looks back
    across it for a better cut (the blank-line test stops at the letter)."""
    if s <= 0 or s + 1 >= len(text):
        return False
    before, here = text[s - 1], text[s]
    if before == "\n":
        return here.isascii() and here.isalnum()
    return here == " " and "!" <= before <= "~" and text[s + 1].isascii() and text[s + 1].isalpha()


# Bytes chunked at a time: chunk_spans holds about twelve times its text.
CHUNK_READ_BYTES = 1024 * 1024


def chunk_stream(
    tok: Tokenizer,
    stream: IO[bytes],
    max_tokens: int,
    overlap: int,
    emit: Callable[[int, int, str], None],
    read_bytes: int = CHUNK_READ_BYTES,
    max_stretch: int = MAX_STRETCH_BYTES,
) -> None:
    """emit(start, end, text) for each of chunk_spans(whole input), in order,
    holding a bounded part of the input. The text from the last restart point
    is chunked again each time more is read; the chunks that end before its
    last certain boundary are those of the whole input (the same pieces and
    cut levels), and chunking starts afresh at the start of such a chunk
    when that is a certain boundary and the chunk before it is done too.
    Raises UnicodeDecodeError (its start counted in the whole input),
    ValueError for a budget too small, NoBoundary past max_stretch bytes
    without a restart point."""
    pending = bytearray()
    base_chars = base_bytes = 0
    due = read_bytes
    chunks = iter_chunks(stream, read_bytes, max_stretch)
    while True:
        chunk = next(chunks, None)
        last = chunk is None
        if chunk is not None:
            pending += chunk
            if len(pending) < due:
                continue
        try:
            text = pending.decode("utf-8")
        except UnicodeDecodeError as e:
            e.start += base_bytes
            raise
        spans = tok.chunk_spans(text, max_tokens, overlap=overlap)
        keep = len(spans)
        if not last:
            keep = 0
            for k in range(len(spans) - 1, 0, -1):
                if spans[k][1] < len(text) and _restart_at(text, spans[k][0]):
                    keep = k
                    break
        for start, end in spans[:keep]:
            emit(base_chars + start, base_chars + end, text[start:end])
        if last:
            return
        if keep:
            restart = spans[keep][0]
            cut = len(text[:restart].encode("utf-8"))
            del pending[:cut]
            base_chars += restart
            base_bytes += cut
        elif len(pending) > max_stretch:
            raise NoBoundary(
                "no place in %d MB where chunking can resume exactly (a line or word break "
                "at a chunk's start)" % (max_stretch >> 20)
            )
        # Chunked again only once it has doubled: linear on any input.
        due = max(read_bytes, 2 * len(pending))


def cmd_chunk(parser: argparse.ArgumentParser, args: argparse.Namespace) -> int:
    paths = input_paths(parser, args.files, NO_FILE)
    if args.overlap >= args.max_tokens:
        parser.error(
            "--overlap must be less than --max-tokens (%d), got %d"
            % (args.max_tokens, args.overlap)
        )
    tok = tokenizer(args.encoding)
    status = EXIT_OK
    out = sys.stdout
    for path in paths:
        index = 0

        def emit(start: int, end: int, piece: str, path: str = path) -> None:
            nonlocal index
            record = {
                "file": path,
                "index": index,
                "start": start,
                "end": end,
                "tokens": tok.count(piece),
                "text": piece,
            }
            index += 1
            out.write(json.dumps(record, ensure_ascii=False) + "\n")

        try:
            stream = _open_input(path)
            try:
                chunk_stream(tok, stream, args.max_tokens, args.overlap, emit)
            finally:
                if stream is not sys.stdin.buffer:
                    stream.close()
        except OSError as e:
            print("velkan: %s: %s" % (path, e.strerror or e), file=sys.stderr)
            status = EXIT_ERROR
        except UnicodeDecodeError as e:
            # Offsets and the JSON text are characters: the file must be text.
            print("velkan: %s: not valid UTF-8 at byte %d" % (path, e.start), file=sys.stderr)
            status = EXIT_ERROR
        except (ValueError, NoBoundary) as e:
            print("velkan: %s: %s" % (path, e), file=sys.stderr)
            status = EXIT_ERROR
    return status


def truncate_stream(
    tok: Tokenizer,
    stream: IO[bytes],
    max_tokens: int,
    side: str,
    write: Callable[[bytes], object],
    read_bytes: int = READ_BYTES,
    max_stretch: int = MAX_STRETCH_BYTES,
) -> None:
    """Writes tok.truncate(whole input, max_tokens, side=side), reading the
    input in chunks cut at certain piece boundaries, where counts add up.
    Right: chunks are written while they fit and reading stops at the first
    that does not (only the start is read). Left: only the chunks whose
    successors hold at most max_tokens tokens are kept (memory follows the
    budget, not the input)."""
    if side == "right":
        left = max_tokens
        if left == 0:
            return
        for chunk in iter_chunks(stream, read_bytes, max_stretch):
            n = tok.count(chunk)
            if n <= left:
                write(chunk)
                left -= n
                continue
            # Every longer start holds this chunk's tokens and more.
            write(tok.truncate(chunk, left, side="right"))
            return
        return
    tail: list[tuple[bytes, int]] = []
    first = 0  # tail[first:] is kept
    total = 0  # tokens of tail[first:]
    for chunk in iter_chunks(stream, read_bytes, max_stretch):
        n = tok.count(chunk)
        tail.append((chunk, n))
        total += n
        # A chunk followed by more than max_tokens tokens is in no suffix.
        while total - tail[first][1] > max_tokens:
            total -= tail[first][1]
            first += 1
        if first > len(tail) // 2:
            del tail[:first]
            first = 0
    kept = tail[first:]
    if not kept:
        return
    head, n = kept[0]
    after = total - n
    write(head if total <= max_tokens else tok.truncate(head, max_tokens - after, side="left"))
    for chunk, _ in kept[1:]:
        write(chunk)


def cmd_truncate(parser: argparse.ArgumentParser, args: argparse.Namespace) -> int:
    path = args.file or "-"
    if path == "-" and sys.stdin.isatty():
        parser.error("no FILE given and standard input is a terminal: give a file or pipe text in")
    tok = tokenizer(args.encoding)
    try:
        stream = _open_input(path)
    except OSError as e:
        raise InputError("%s: %s" % (path, e.strerror or e)) from None
    # Bytes in, bytes out: cuts fall between characters, and text that is not
    # UTF-8 is kept as the bytes it is.
    try:
        truncate_stream(tok, stream, args.max_tokens, args.side, sys.stdout.buffer.write)
    except OSError as e:
        if e.errno == errno.EPIPE:
            raise
        raise InputError("%s: %s" % (path, e.strerror or e)) from None
    finally:
        if stream is not sys.stdin.buffer:
            stream.close()
    return EXIT_OK


# ---- images --------------------------------------------------------------------


def cmd_cache(parser: argparse.ArgumentParser, args: argparse.Namespace) -> int:
    from velkan import images

    root = images.cache_root()
    if args.action == "clear":
        removed = images.clear_cache()
        for path in removed:
            print("removed %s" % path)
        print("%d cached image(s) removed" % len(removed))
        return EXIT_OK
    if root is None:
        print("cache: disabled (VELKAN_CACHE_DIR is set and empty)")
        return EXIT_OK
    print("cache: %s" % images.cache_dir())
    found = images.cached_images()
    for path, size in found:
        print("%10.1f MB  %s" % (size / 1e6, path))
    print("%10.1f MB  in %d image(s)" % (sum(s for _, s in found) / 1e6, len(found)))
    return EXIT_OK


def cmd_write_images(parser: argparse.ArgumentParser, args: argparse.Namespace) -> int:
    from velkan.images import write_images

    for path, size in write_images(args.dir).items():
        print("%s: %d bytes" % (path, size))
    return EXIT_OK


# ---- the parser and main ---------------------------------------------------------


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="velkan",
        description="Exact, fast tokens for OpenAI's cl100k_base and o200k_base.",
        epilog="Exit status: 0 success, 1 unreadable or invalid input, 2 usage error, "
        "3 an input over the --limit of count.",
    )
    parser.add_argument("--version", action="version", version="velkan %s" % __version__)
    sub = parser.add_subparsers(dest="command", metavar="COMMAND")
    sub.required = True

    def with_encoding(p: argparse.ArgumentParser) -> argparse.ArgumentParser:
        group = p.add_mutually_exclusive_group()
        group.add_argument(
            "-e",
            "--encoding",
            type=encoding_name,
            default=None,  # None, not the name: argparse would take it for unset
            metavar="NAME",
            help="cl100k_base (cl100k) or o200k_base (o200k, the default)",
        )
        group.add_argument(
            "-m",
            "--model",
            dest="encoding",
            type=model_encoding,
            metavar="MODEL",
            help="the encoding of an OpenAI model, e.g. gpt-4o or gpt-4",
        )
        return p

    def with_records(p: argparse.ArgumentParser) -> None:
        p.add_argument(
            "--field",
            metavar="NAME",
            help="the inputs are JSON lines (also .gz, .bz2, .xz): use each line's "
            "string field NAME",
        )
        p.add_argument(
            "--column",
            metavar="NAME",
            help="the inputs are Parquet files: use the string column NAME (rows are "
            "numbered from 0); with --field too, files named *.parquet are Parquet "
            "and the others JSON lines. Needs pyarrow",
        )

    p = with_encoding(
        sub.add_parser(
            "count",
            help="count the tokens of files",
            description="Tokens per file and in total. Plain files are counted whole; "
            "with --field or --column each JSON line or Parquet row is a record. A bad "
            "record (invalid JSON, JSON nested too deeply, a line over 64 MB, a missing "
            "field, a value that is not a string) is "
            "reported with its file and line or row and skipped, the good ones are "
            "counted, and the exit status is 1.",
        )
    )
    p.add_argument("files", nargs="*", metavar="FILE", help="files to count; '-' or none: stdin")
    p.add_argument("-r", "--recursive", action="store_true", help="count the files in directories")
    p.add_argument(
        "--limit",
        type=limit_value,
        metavar="N",
        help="report whether each file fits in N tokens (exit status 3 if one does not)",
    )
    p.add_argument("--json", action="store_true", help="machine-readable output")
    with_records(p)
    p.add_argument(
        "--each",
        action="store_true",
        help="with --field or --column: one count per record, in input order, instead of "
        "per file ('-' for a skipped record; with --json a JSON line each)",
    )
    p.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="count on the Dask cluster whose scheduler is at ADDRESS (tcp://host:8786); "
        "the workers read the files by their paths. Needs velkan[dask]",
    )
    p.set_defaults(run=cmd_count, subparser=p)

    p = with_encoding(
        sub.add_parser(
            "encode",
            help="text to token ids",
            description="Token ids of TEXT, of standard input, or of the files and "
            "directories given with --input: a line per record (a plain file is one "
            "record), or a token file with --output.",
            epilog="Token files. IDS.npy: every id as uint32, record after record, with "
            "IDS.offsets.npy beside it: int64, one more value than records; record i is "
            "ids[offsets[i]:offsets[i + 1]]. Both are plain .npy files: "
            "numpy.load('ids.npy', mmap_mode='r') maps the ids without reading them, "
            "as training loaders read a flat token file. IDS.parquet: one row per "
            "record, one column 'ids' of large_list<uint32> (pyarrow, pandas, Polars, "
            "Hugging Face datasets and Spark read it; Arrow keeps the offsets). Records "
            "keep the input order; skipped bad records leave no row. A file appears "
            "only when complete: it is written as PATH.partPID, which Ctrl-C, SIGTERM "
            "and SIGHUP remove; one left by a run killed with SIGKILL is removed by the "
            "next run to the same path. IDS.offsets.npy is put in place last: an "
            "IDS.npy without it is incomplete.",
        )
    )
    p.add_argument("text", nargs="?", help="text to encode (default: stdin)")
    p.add_argument(
        "-i",
        "--input",
        dest="inputs",
        nargs="+",
        action="extend",
        metavar="PATH",
        help="files (or directories, with -r) to encode; '-': stdin",
    )
    p.add_argument("-r", "--recursive", action="store_true", help="encode the files in directories")
    p.add_argument("--json", action="store_true", help="print a JSON list")
    with_records(p)
    p.add_argument(
        "-o",
        "--output",
        metavar="IDS.npy|IDS.parquet",
        help="write ids and offsets to a token file (layout below) instead of stdout",
    )
    p.set_defaults(run=cmd_encode, subparser=p)

    p = with_encoding(sub.add_parser("decode", help="token ids to text"))
    p.add_argument(
        "ids", nargs="*", metavar="ID", help="ids (default: stdin, space-separated or a JSON list)"
    )
    p.set_defaults(run=cmd_decode, subparser=p)

    p = with_encoding(
        sub.add_parser(
            "chunk",
            help="split files into chunks of at most N tokens (JSON lines)",
            description="Writes one JSON object per chunk: file, index, start and end "
            "(character offsets), tokens and text. Cuts prefer blank lines, then line "
            "breaks, sentence ends and whitespace. Special tokens count as ordinary text.",
        )
    )
    p.add_argument("files", nargs="*", metavar="FILE", help="files to split; '-' or none: stdin")
    p.add_argument("--max-tokens", type=positive_tokens, required=True, metavar="N")
    p.add_argument(
        "--overlap",
        type=limit_value,
        default=0,
        metavar="K",
        help="start each chunk with up to K tokens of the previous one's end",
    )
    p.set_defaults(run=cmd_chunk, subparser=p)

    p = with_encoding(
        sub.add_parser("truncate", help="the longest start (or end) of a file within N tokens")
    )
    p.add_argument("file", nargs="?", metavar="FILE", help="file to cut; '-' or none: stdin")
    p.add_argument("--max-tokens", type=limit_value, required=True, metavar="N")
    p.add_argument(
        "--side",
        choices=("right", "left"),
        default="right",
        help="right: keep the start (default); left: keep the end",
    )
    p.set_defaults(run=cmd_truncate, subparser=p)

    p = sub.add_parser("cache", help="show or remove the cached images")
    p.add_argument("action", choices=("info", "clear"), help="info: where and how large; clear")
    p.set_defaults(run=cmd_cache, subparser=p)

    p = sub.add_parser(
        "write-images",
        help="write images into the package directory (for read-only or shared installs)",
        description="Writes the precomputed images of every embedded vocabulary into the installed "
        "package directory (or DIR), where every user of the installation finds them. "
        "Not needed otherwise: each user's first run caches them by itself.",
    )
    p.add_argument("dir", nargs="?", help="target directory (default: the installed package)")
    p.set_defaults(run=cmd_write_images, subparser=p)
    return parser


class Terminated(BaseException):
    """SIGTERM or SIGHUP, raised like KeyboardInterrupt so that the
    partial token files are removed on the way out."""

    def __init__(self, signum: int) -> None:
        super().__init__(signum)
        self.signum = signum


def _raise_terminated(signum: int, _frame: object) -> None:
    raise Terminated(signum)


def _terminate_on_signals() -> None:
    # Only signals left at their default: one ignored on purpose (nohup's
    # SIGHUP) stays ignored.
    for signum in (signal.SIGTERM, signal.SIGHUP):
        try:
            if signal.getsignal(signum) is signal.SIG_DFL:
                signal.signal(signum, _raise_terminated)
        except (ValueError, OSError):  # not the main thread
            pass


def _die_of(signum: int) -> int:
    # Cleaned up: end as the signal would have, so the parent sees it.
    sys.stdout.flush()
    signal.signal(signum, signal.SIG_DFL)
    os.kill(os.getpid(), signum)
    return 128 + signum


def _quiet_broken_pipe() -> int:
    # Like other Unix tools: the reader went away, nothing to report. Later
    # flushes at exit go nowhere.
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
    except (OSError, ValueError):
        pass
    return 128 + signal.SIGPIPE


def main(argv: Sequence[str] | None = None) -> int:
    # File names that are not valid in the locale's encoding print as the
    # bytes they are instead of failing.
    for stream in (sys.stdout, sys.stderr):
        reconfigure = getattr(stream, "reconfigure", None)
        if reconfigure is not None:
            reconfigure(errors="surrogateescape")
    parser = build_parser()
    args = parser.parse_args(argv)
    if "encoding" in args and args.encoding is None:
        args.encoding = "o200k_base"
    try:
        status: int = args.run(args.subparser, args)
        sys.stdout.flush()
        return status
    except BrokenPipeError:
        return _quiet_broken_pipe()
    except InputError as e:
        print("velkan: error: %s" % e, file=sys.stderr)
        return EXIT_ERROR
    except OSError as e:
        if e.errno == errno.EPIPE:
            return _quiet_broken_pipe()
        print("velkan: error: %s" % e, file=sys.stderr)
        return EXIT_ERROR
    except KeyboardInterrupt:
        return 128 + signal.SIGINT
    except Terminated as e:
        return _die_of(e.signum)
