"""velkan count: tokens per file (or per record) and in total, like wc;
plain inputs in chunks on the worker pool, records in batches, or on a Dask
cluster."""

from __future__ import annotations

import argparse
import json
import sys
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any

from velkan.cli import cluster, records
from velkan.cli.chunking import BATCH_BYTES, BATCH_ITEMS, NoBoundary, count_chunks, iter_chunks
from velkan.cli.inputs import NO_FILE, input_paths, json_path, open_inputs
from velkan.cli.options import EXIT_ERROR, EXIT_OK, EXIT_OVER_LIMIT, InputError, tokenizer
from velkan.cli.progress import Progress, TqdmProgress, make_progress

if TYPE_CHECKING:
    from velkan.bpe.openai import Tokenizer


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
                for chunk in iter_chunks(tok, stream, on_read=lambda n: progress.advance(read=n)):
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


def _each_line(source: records.Source, position: int, tokens: int | None, error: str) -> str:
    key = "row" if source.kind == "parquet" else "line"
    record: dict[str, Any] = {**json_path(source.path), key: position}
    if tokens is None:
        record["error"] = error
    else:
        record["tokens"] = tokens
    return json.dumps(record)


def count_records(
    tok: Tokenizer,
    sources: Sequence[records.Source],
    progress: Progress | TqdmProgress,
    reporter: records.BadRecords,
    each: bool,
    as_json: bool,
) -> list[records.Tally]:
    """Counts the records of JSON lines and Parquet inputs; with each, prints
    one count per record in input order ('-' for a skipped one)."""
    tallies = [records.Tally(s.path) for s in sources]
    batches = records.all_batches(sources, tallies)
    out = sys.stdout
    for batch, counts in records.pipelined(batches, lambda t: records.count_texts(tok, t)):
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
    reporter = records.BadRecords()
    progress = make_progress(total)
    try:
        if args.scheduler is not None:
            tallies = cluster.count_on_cluster(
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
                records.Tally(p, n or 0, 1, 0, read_errors.get(i))
                for i, (p, n) in enumerate(zip(inputs, counts))
            ]
    except records.FileError as e:
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
