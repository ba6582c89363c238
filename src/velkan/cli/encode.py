"""velkan encode: token ids of TEXT, of standard input or of files, a line
per record on stdout or a token file (--output)."""

from __future__ import annotations

import argparse
import json
import os
import sys
from typing import TYPE_CHECKING, Any

from velkan.cli import records, tokenfiles
from velkan.cli.chunking import (
    BATCH_BYTES,
    MAX_STRETCH_BYTES,
    NoBoundary,
    iter_chunks,
    no_boundary_message,
)
from velkan.cli.inputs import input_paths, open_inputs
from velkan.cli.options import EXIT_ERROR, EXIT_OK, InputError, tokenizer
from velkan.cli.progress import Progress, TqdmProgress, make_progress
from velkan.cli.signals import terminate_on_signals

if TYPE_CHECKING:
    from velkan.bpe.openai import Tokenizer


class IdsOut:
    """Where encode's ids go: a token file (--output), or stdout, a line per
    record (space-separated, or a JSON list with --json)."""

    def __init__(self, output: str | None, as_json: bool) -> None:
        self.writer = None if output is None else tokenfiles.token_writer(output)
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
    stream = text_stream(encoding)
    if stream is not None:
        for block in records.text_blocks(path):
            out.record_part(stream.feed(block))
            progress.advance(done=len(block))
            if stream.held_bytes > MAX_STRETCH_BYTES:
                raise NoBoundary(no_boundary_message(MAX_STRETCH_BYTES))
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

            for chunk in iter_chunks(tok, source):
                batch.append(chunk)
                if sum(len(c) for c in batch) >= BATCH_BYTES:
                    flush()
            flush()
        finally:
            if source is not sys.stdin.buffer:
                source.close()
    out.end_record()


def _encode_inputs(
    args: argparse.Namespace,
    tok: Tokenizer,
    sources: list[Any],
    tallies: list[records.Tally],
    reporter: records.BadRecords,
    has_records: bool,
    total: int | None,
    dir_errors: dict[str, str],
) -> tuple[IdsOut, bool]:
    # The handlers that turn SIGTERM and SIGHUP into Terminated are in place
    # before the first partial file exists, and the cleanup below covers a
    # signal that arrives while the writer is being made.
    progress = make_progress(total, "encoding")
    ok = False
    out = None
    try:
        try:
            out = IdsOut(args.output, args.json)
        except OSError as e:
            raise InputError("%s: %s" % (args.output, e.strerror or e)) from None
        if has_records:
            batches = records.all_batches(sources, tallies)
            work = lambda t: records.encode_texts(tok, t)  # noqa: E731
            for batch, encoded in records.pipelined(batches, work):
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
        if out is not None:
            out.close(ok)
        elif args.output is not None:
            tokenfiles.remove_own_parts(args.output)
    return out, ok


def cmd_encode(parser: argparse.ArgumentParser, args: argparse.Namespace) -> int:
    has_records = args.field is not None or args.column is not None
    if args.text is not None and args.inputs:
        parser.error("give TEXT or --input, not both")
    if args.output is not None:
        suffix = os.path.splitext(args.output)[1].lower()
        if suffix != ".npy" and suffix not in records.PARQUET_SUFFIXES:
            parser.error("--output must end in .npy or .parquet, got %r" % args.output)
        targets = [args.output]
        if suffix == ".npy":
            targets.append(tokenfiles.offsets_path(args.output))
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
        with terminate_on_signals():
            try:
                single = IdsOut(args.output, False)
                single.records_batch([ids])
                single.close(True)
            except BaseException:
                tokenfiles.remove_own_parts(args.output)
                raise
        return EXIT_OK
    if args.text is not None:
        parser.error("--field and --column read files: give them with --input")
    paths = input_paths(parser, args.inputs, "no TEXT given and standard input is a terminal")
    _, sources, _, total, dir_errors = open_inputs(parser, paths, args)
    tok = tokenizer(args.encoding)
    tallies = [records.Tally(s.path) for s in sources]
    reporter = records.BadRecords()
    with terminate_on_signals(args.output is not None):
        out, ok = _encode_inputs(
            args, tok, sources, tallies, reporter, has_records, total, dir_errors
        )
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
        also = " and %s" % tokenfiles.offsets_path(args.output) if npy else ""
        print(
            "velkan: %d records, %d tokens written to %s%s"
            % (out.records, out.tokens, args.output, also),
            file=sys.stderr,
        )
    return EXIT_ERROR if errors or skipped else EXIT_OK


def text_stream(encoding_name: str) -> Any:
    """The streaming encoder of an encoding, or None where this build has none."""
    from velkan.registry import get_encoding

    enc = get_encoding(encoding_name)
    if not hasattr(enc, "stream"):
        return None
    return enc.stream(allowed_special=set(), disallowed_special=())
