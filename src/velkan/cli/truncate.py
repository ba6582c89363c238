"""velkan truncate: the longest start (or end) of an input within N tokens,
read in chunks cut at certain piece boundaries (see velkan.cli.chunk)."""

from __future__ import annotations

import argparse
import errno
import sys
from typing import IO, TYPE_CHECKING, Callable

from velkan.cli.chunking import MAX_STRETCH_BYTES, READ_BYTES, iter_chunks
from velkan.cli.inputs import open_input
from velkan.cli.options import EXIT_OK, InputError, tokenizer

if TYPE_CHECKING:
    from velkan.bpe.openai import Tokenizer


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
        for chunk in iter_chunks(tok, stream, read_bytes, max_stretch):
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
    for chunk in iter_chunks(tok, stream, read_bytes, max_stretch):
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
        stream = open_input(path)
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
