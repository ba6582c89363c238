"""Reading an input in chunks cut where a piece boundary is certain.

Counting streams every input (stdin included) in chunks of a few MB, cut only
where the tokenizer says its pieces are certain (``Tokenizer._certain_end``,
the rule streams use), so the sum of the chunk counts is exactly the count
of the whole input and memory stays bounded. Any text with an occasional
word end or break has such places, in any script. An input with none in
MAX_STRETCH_BYTES (a single piece that long, such as /dev/zero) cannot be
counted exactly in bounded memory; it is reported as an error instead of
giving a wrong count.
"""

from __future__ import annotations

from collections.abc import Iterator, Sequence
from typing import IO, TYPE_CHECKING, Callable

from velkan.cli.options import InputError

if TYPE_CHECKING:
    from velkan.bpe.openai import Tokenizer

# Bytes read at a time; a chunk is cut at the last certain boundary of what
# has been read, so chunks are about this size.
READ_BYTES = 4 * 1024 * 1024
# The longest stretch without a certain boundary that is still counted.
MAX_STRETCH_BYTES = 64 * 1024 * 1024
# Chunks counted together, on the worker pool when the tokenizer can.
BATCH_BYTES = 32 * 1024 * 1024
BATCH_ITEMS = 4096


class NoBoundary(InputError):
    """An input with no certain piece boundary in MAX_STRETCH_BYTES."""


def no_boundary_message(max_stretch: int) -> str:
    return (
        "no certain token boundary in %d MB (a word's end or a line break); "
        "velkan counts exactly or not at all, and holds at most that much" % (max_stretch >> 20)
    )


def iter_chunks(
    tok: Tokenizer,
    stream: IO[bytes],
    read_bytes: int = READ_BYTES,
    max_stretch: int = MAX_STRETCH_BYTES,
    on_read: Callable[[int], None] | None = None,
) -> Iterator[bytes]:
    """Yields consecutive chunks of the stream's bytes, each cut where tok's
    pieces are certain; their counts and ids add up to the whole input's.
    Raises NoBoundary when more than max_stretch bytes hold none."""
    pending = bytearray()
    # Searched again for a cut once this much is pending: after a search
    # that found none, not before the buffer has doubled, so that a long
    # stretch without a boundary costs a linear search, not a quadratic one.
    due = read_bytes
    while True:
        block = stream.read(read_bytes)
        if not block:
            break
        if on_read is not None:
            on_read(len(block))
        pending += block
        if len(pending) < due:
            continue  # a short read (a pipe), or a stretch still growing
        cut = tok._certain_end(pending)
        if cut == 0:
            if len(pending) > max_stretch:
                raise NoBoundary(no_boundary_message(max_stretch))
            due = min(2 * len(pending), max_stretch + 1)
            continue
        yield bytes(pending[:cut])
        del pending[:cut]
        due = read_bytes
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
    for chunk in iter_chunks(tok, stream, chunk_bytes):
        batch.append(chunk)
        size += len(chunk)
        if size >= BATCH_BYTES:
            total += sum(count_chunks(tok, batch))
            batch, size = [], 0
            if limit is not None and total > limit:
                return None
    total += sum(count_chunks(tok, batch))
    return None if limit is not None and total > limit else total
