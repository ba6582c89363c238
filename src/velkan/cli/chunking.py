"""Reading an input in chunks cut where a piece boundary is certain.

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


class NoBoundary(InputError):
    """An input with no certain piece boundary in MAX_STRETCH_BYTES."""


def no_boundary_message(max_stretch: int) -> str:
    return (
        "no certain token boundary in %d MB (a line or word break); "
        "velkan counts exactly or not at all, and holds at most that much" % (max_stretch >> 20)
    )


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
                raise NoBoundary(no_boundary_message(max_stretch))
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


def restart_at(text: str, s: int) -> bool:
    """Whether character s of text is a certain piece boundary where chunking
    can start afresh: the boundaries of iter_chunks. Neither looks back
    across it for a better cut (the blank-line test stops at the letter)."""
    if s <= 0 or s + 1 >= len(text):
        return False
    before, here = text[s - 1], text[s]
    if before == "\n":
        return here.isascii() and here.isalnum()
    return here == " " and "!" <= before <= "~" and text[s + 1].isascii() and text[s + 1].isalpha()
