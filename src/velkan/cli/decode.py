"""velkan decode: the text of token ids given as arguments or on standard
input (space-separated or a JSON list), read and written in bounded memory."""

from __future__ import annotations

import argparse
import itertools
import re
import sys
from collections.abc import Iterator, Sequence
from typing import IO, Callable

from velkan.cli.chunking import READ_BYTES
from velkan.cli.options import (
    EXIT_OK,
    InputError,
    tokenizer,
    vocabulary_gaps,
    vocabulary_of,
    vocabulary_size,
)

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
        if len(word) > MAX_ID_WORD:
            raise InputError(
                "not a token id: %r... (a word of more than %d characters)"
                % (word[:20], MAX_ID_WORD)
            )
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


def _word_blocks(stream: IO[bytes], read_bytes: int = READ_BYTES) -> Iterator[list[str]]:
    """The whitespace-separated words of a stream, read a block at a time and
    handed over a block's words at a time, never an empty list (bytes that
    are not ASCII read as U+FFFD, one each)."""
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
        if words:
            yield words
    if carry:
        yield [carry]


def _block_ids(
    words: list[str], check: Callable[[str], int], size: int, gaps: frozenset[int]
) -> list[int]:
    """The ids of a block of words. A block of ASCII digits inside the
    vocabulary is converted at once, five times as fast as word by word;
    any other is checked word by word, so that the first bad word is the
    one reported."""
    joined = "".join(words)
    if joined.isascii() and joined.isdigit() and max(map(len, words)) <= MAX_ID_WORD:
        ids = list(map(int, words))
        if max(ids) < size and gaps.isdisjoint(ids):
            return ids
    return [check(word) for word in words]


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
    words: Iterator[str] = iter(())
    plain: Iterator[list[str]] | None = None  # blocks of plain ids on standard input
    if args.ids:
        words = iter(list(args.ids))
    else:
        if sys.stdin.isatty():
            parser.error("no ID given and standard input is a terminal")
        # Read, checked and decoded a block at a time: memory stays bounded
        # on any input, endless ones too.
        blocks = _word_blocks(sys.stdin.buffer)
        first = next(blocks, None)
        if first is not None and first[0].startswith("["):
            rest = itertools.chain(first[1:], itertools.chain.from_iterable(blocks))
            words = _json_id_words(first[0], rest)
        elif first is not None:
            plain = itertools.chain([first], blocks)
    check = id_checker(args.encoding)
    bpe = tokenizer(args.encoding).bpe()
    out = sys.stdout.buffer
    ids: list[int] = []
    if plain is not None:
        size = vocabulary_size(vocabulary_of(args.encoding))
        gaps = frozenset(vocabulary_gaps(vocabulary_of(args.encoding)))
        for block in plain:
            for at in range(0, len(block), DECODE_IDS):
                ids.extend(_block_ids(block[at : at + DECODE_IDS], check, size, gaps))
                if len(ids) >= DECODE_IDS:
                    out.write(bpe.decode_tokens(ids))
                    ids.clear()
    else:
        for word in words:
            ids.append(check(word))
            if len(ids) >= DECODE_IDS:
                # Raw bytes: a token sequence may cut a character in two, and
                # the parts written one after the other are the bytes of the
                # whole.
                out.write(bpe.decode_tokens(ids))
                ids.clear()
    out.write(bpe.decode_tokens(ids))
    if sys.stdout.isatty():
        out.write(b"\n")
    return EXIT_OK
