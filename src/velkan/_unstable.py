"""The unstable end of a text, by tiktoken's rules: its last piece (with the
whitespace-only tokens before it) may merge with whatever follows. Two
calls need it: ``_encode_bytes`` on the general path (bytes that are not
UTF-8 join that end) and ``encode_with_unstable`` on every path (the ways
that end could be tokenized). Both work through the backend's interface."""

from __future__ import annotations

import bisect
from collections.abc import Iterator, Sequence
from typing import Callable, Protocol

from velkan._vocabulary import Vocabulary


class Backend(Protocol):
    """What of ``velkan._backend.Backend`` the unstable end needs."""

    vocabulary: Vocabulary

    def encode_allowed(self, text: str, allowed: frozenset[str]) -> list[int]: ...
    def specials_in(
        self, data: bytes, allowed: frozenset[str]
    ) -> Iterator[tuple[int, int, int]]: ...
    def decode_bytes(self, tokens: Sequence[int]) -> bytes: ...
    def decode_single_token_bytes(self, token: int) -> bytes: ...


def encode_bytes(backend: Backend, data: bytes, pat_str: str) -> list[int]:
    """Bytes that may not be UTF-8: the longest UTF-8 prefix is encoded as
    text; the tokens of its last piece (with the whitespace-only tokens
    before it, when that piece starts with one) are joined with the bytes
    that are not UTF-8 and that is encoded as one piece."""
    vocabulary = backend.vocabulary
    try:
        return vocabulary.encode_ordinary(data.decode("utf-8"))
    except UnicodeDecodeError as e:
        valid = e.start
    prefix = data[:valid].decode("utf-8")
    tokens = vocabulary.encode_ordinary(prefix)
    last = vocabulary.last_piece(prefix, pat_str)
    n = len(vocabulary.encode_piece(last.encode("utf-8"))) if last else 0
    n = _with_space_before(backend, tokens, n)
    tail = data[valid:]
    if tokens and n:
        tail = backend.decode_bytes(tokens[-n:]) + tail
        del tokens[-n:]
    tokens += vocabulary.encode_piece(tail)
    return tokens


def encode_with_unstable(
    backend: Backend,
    text: str,
    allowed: frozenset[str],
    pat_str: str,
    ranks: Callable[[], dict[bytes, int]],
) -> tuple[list[int], list[list[int]]]:
    """The stable tokens of text and every way its unstable end could be
    tokenized once more text follows (ranks gives the mergeable ranks)."""
    # The last piece (and whitespace-only tokens before it) may merge with
    # whatever follows; every token that starts with those bytes, and the
    # tokenizations of the unstable bytes followed by such a token, are the
    # possible completions.
    tokens = backend.encode_allowed(text, allowed)
    if not tokens or not text:
        return tokens, []
    # The last piece is that of the text after the last special token: the
    # pattern never sees a special token's text, and a text that ends
    # with one has nothing unstable.
    tail = text
    if allowed:
        data = text.encode("utf-8")
        end = max((found[1] for found in backend.specials_in(data, allowed)), default=0)
        if end == len(data):
            return tokens, []
        tail = data[end:].decode("utf-8")
    vocabulary = backend.vocabulary
    last = vocabulary.last_piece(tail, pat_str)
    if not last:
        return tokens, []
    n = _with_space_before(backend, tokens, len(vocabulary.encode_piece(last.encode("utf-8"))))
    stable = tokens[: len(tokens) - n]
    unstable = backend.decode_bytes(tokens[len(tokens) - n :])
    completions: set[tuple[int, ...]] = set()
    by_bytes = ranks()
    # The tokens that start with some bytes are a run of the sorted tokens.
    ordered = vocabulary.token_byte_values()

    def starting_with(head: bytes) -> list[bytes]:
        run = []
        for i in range(bisect.bisect_left(ordered, head), len(ordered)):
            if not ordered[i].startswith(head):
                break
            run.append(ordered[i])
        return run

    def encode_any(data: bytes) -> list[int]:
        try:
            return vocabulary.encode_ordinary(data.decode("utf-8"))
        except UnicodeDecodeError:
            return vocabulary.encode_piece(data)

    for token_bytes in starting_with(unstable):
        completions.add((by_bytes[token_bytes],))
    for k in range(1, len(unstable)):
        head, suffix = unstable[:k], unstable[k:]
        for token_bytes in starting_with(suffix):
            seq: list[int] = []
            taken = 0
            for i in encode_any(head + token_bytes):
                seq.append(i)
                taken += len(backend.decode_single_token_bytes(i))
                if taken >= len(unstable):
                    break
            completions.add(tuple(seq))
    if unstable:
        completions.add(tuple(encode_any(unstable)))
    # Whitespace at the end may be cut off from what comes before it by the
    # next character ("  " then "x" gives " ", " x").
    text_end = unstable.decode("utf-8", "ignore")
    if len(unstable) > 1 and text_end and text_end[-1].isspace():
        last_char = text_end[-1].encode("utf-8")
        before = unstable[: len(unstable) - len(last_char)]
        completions.add(tuple(vocabulary.encode_piece(before) + vocabulary.encode_piece(last_char)))
    return stable, [list(c) for c in completions]


def _with_space_before(backend: Backend, tokens: list[int], n: int) -> int:
    # The last n tokens and, when the first of them is whitespace only,
    # the whitespace-only tokens before them: they may merge differently
    # once more follows.
    if n and _all_space(backend.decode_single_token_bytes(tokens[-n])):
        while n < len(tokens) and _all_space(backend.decode_single_token_bytes(tokens[-n - 1])):
            n += 1
    return n


def _all_space(data: bytes) -> bool:
    return all(b in b" \n\t" for b in data)
