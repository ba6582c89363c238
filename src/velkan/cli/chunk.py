"""velkan chunk: an input split into chunks of at most N tokens, as JSON
lines.

chunk (and truncate) read their input as count does, in chunks cut where a
piece boundary is certain, so that memory stays bounded and the results are
those of the whole input. An input with no certain boundary in
MAX_STRETCH_BYTES is refused as count refuses it.
"""

from __future__ import annotations

import argparse
import json
import sys
from typing import IO, TYPE_CHECKING, Callable

from velkan.cli.chunking import MAX_STRETCH_BYTES, NoBoundary, iter_chunks
from velkan.cli.inputs import NO_FILE, input_paths, open_input
from velkan.cli.options import EXIT_ERROR, EXIT_OK, tokenizer

if TYPE_CHECKING:
    from velkan.bpe.openai import Tokenizer

# Bytes chunked at a time: chunk_spans holds about twelve times its text.
CHUNK_READ_BYTES = 1024 * 1024


def restart_at(text: str, s: int) -> bool:
    """Whether chunk_spans may start afresh at character s of text: a piece
    starts there in every rule set whatever precedes it (a lone space after
    a printable character and before a letter begins the letter's piece; a
    line feed before a letter or digit ends its own), and no cut level of a
    later cut looks back across it (the blank-line test stops at the letter,
    the sentence test at the space)."""
    if s <= 0 or s + 1 >= len(text):
        return False
    before, here = text[s - 1], text[s]
    if before == "\n":
        return here.isascii() and here.isalnum()
    return here == " " and "!" <= before <= "~" and text[s + 1].isascii() and text[s + 1].isalpha()


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
    chunks = iter_chunks(tok, stream, read_bytes, max_stretch)
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
                if spans[k][1] < len(text) and restart_at(text, spans[k][0]):
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
            stream = open_input(path)
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
