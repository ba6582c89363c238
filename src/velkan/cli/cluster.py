"""Counting on a Dask cluster: each input (a JSON lines file in byte ranges)
is a task that a worker reads by its path; the parts come back in order."""

from __future__ import annotations

import importlib
import os
from collections.abc import Sequence
from dataclasses import dataclass, field
from typing import Callable

from velkan.cli.chunking import count_stream
from velkan.cli.records import (
    OPENERS,
    BadRecords,
    FileError,
    Source,
    Tally,
    count_texts,
    jsonl_records,
    one_line,
    parquet_records,
    pipelined,
)

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
    if source.kind != "jsonl" or source.path.lower().endswith(tuple(OPENERS)):
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
            % (address, one_line(e))
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
                part = PartResult(error="the cluster failed to count it (%s)" % one_line(e))
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
