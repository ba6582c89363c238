"""Token budgets for an Encoding: chunks, truncation, token offsets and a
streaming decoder.

The work is native (``velkan.bpe.openai.Tokenizer`` has the same methods);
this module passes an Encoding's text to its native tokenizer and, for an
encoding whose pattern has no native rule set, does the same through the
Encoding's own ``encode_ordinary``. Budgets count ordinary tokens: special
tokens are text like any other here, as with ``encode_ordinary``.
"""

from __future__ import annotations

import codecs
from collections.abc import Iterable, Sequence
from typing import Any, Protocol

__all__ = [
    "StreamDecoder",
    "chunk_spans",
    "chunks",
    "decoder",
    "encode_with_offsets",
    "truncate",
]

_SENTENCE_ENDS = frozenset(".!?。！？")


class _BytesSource(Protocol):
    def decode_bytes(self, ids: Sequence[int], /) -> bytes: ...


def _native(enc: Any) -> Any:
    """The native tokenizer of an Encoding, or the object itself when it is
    one; None when there is none (then the slow path runs)."""
    if hasattr(enc, "chunk_spans"):
        if hasattr(enc, "_tokenizer"):
            return enc._tokenizer
        return enc
    return getattr(enc, "_tokenizer", None)


def _check_chunk_args(max_tokens: int, overlap: int) -> None:
    if max_tokens < 1:
        raise ValueError("chunks: max_tokens must be at least 1, got %d" % max_tokens)
    if overlap < 0 or overlap >= max_tokens:
        raise ValueError(
            "chunks: overlap must be at least 0 and less than max_tokens (%d), got %d"
            % (max_tokens, overlap)
        )


def chunks(enc: Any, text: str, max_tokens: int, *, overlap: int = 0) -> list[str]:
    """Split text into chunks that each encode alone to at most max_tokens
    tokens; see ``Tokenizer.chunks``."""
    native = _native(enc)
    if native is not None:
        return native.chunks(text, max_tokens, overlap=overlap)  # type: ignore[no-any-return]
    return [text[a:b] for a, b in chunk_spans(enc, text, max_tokens, overlap=overlap)]


def chunk_spans(enc: Any, text: str, max_tokens: int, *, overlap: int = 0) -> list[tuple[int, int]]:
    """The cuts of ``chunks`` as (start, end) character offsets."""
    native = _native(enc)
    if native is not None:
        return native.chunk_spans(text, max_tokens, overlap=overlap)  # type: ignore[no-any-return]
    _check_chunk_args(max_tokens, overlap)
    return _slow_chunk_spans(enc, text, max_tokens, overlap)


def truncate(enc: Any, text: str, max_tokens: int, *, side: str = "right") -> str:
    """The longest prefix (side="left": suffix) of text within max_tokens."""
    native = _native(enc)
    if native is not None:
        return native.truncate(text, max_tokens, side=side)  # type: ignore[no-any-return]
    if max_tokens < 0:
        raise ValueError("truncate: max_tokens must be at least 0, got %d" % max_tokens)
    if side not in ("right", "left"):
        raise ValueError("truncate: side must be 'right' or 'left', got %r" % (side,))
    n = len(text)
    # Slow path: the longest part found by a binary search over characters,
    # since counts grow with the text kept.
    lo, hi = 0, n  # length kept
    while lo < hi:
        mid = (lo + hi + 1) // 2
        part = text[:mid] if side == "right" else text[n - mid :]
        if len(enc.encode_ordinary(part)) <= max_tokens:
            lo = mid
        else:
            hi = mid - 1
    return text[:lo] if side == "right" else text[n - lo :]


def encode_with_offsets(enc: Any, text: str) -> tuple[list[int], list[int]]:
    """(ids, starts): encode_ordinary(text) and the character offset where each
    token starts (byte offsets for bytes)."""
    native = _native(enc)
    if native is not None:
        return native.encode_with_offsets(text)  # type: ignore[no-any-return]
    ids: list[int] = enc.encode_ordinary(text)
    starts: list[int] = []
    pos = 0  # bytes so far
    data = text.encode("utf-8") if isinstance(text, str) else bytes(text)
    char_of = _char_index(data) if isinstance(text, str) else None
    for token in ids:
        starts.append(char_of[pos] if char_of is not None else pos)
        pos += len(enc.decode_single_token_bytes(token))
    return ids, starts


def decoder(enc: Any) -> StreamDecoder:
    """An incremental decoder over enc's ids."""
    return StreamDecoder(enc)


class StreamDecoder:
    """Decodes ids as they arrive: ``feed(ids)`` returns the text completed so
    far and holds back a trailing unfinished UTF-8 sequence; ``flush()``
    returns what is left, with U+FFFD for bytes that never completed. Feeding
    ids in any pieces gives the same text as decoding them all at once with
    errors="replace"."""

    def __init__(self, source: Any) -> None:
        if hasattr(source, "decode_bytes"):
            self._to_bytes = source.decode_bytes
        elif hasattr(source, "bpe"):
            self._to_bytes = source.bpe().decode_tokens
        else:
            raise TypeError(
                "StreamDecoder: source must be a velkan Encoding or Tokenizer, not %s"
                % type(source).__name__
            )
        self._utf8 = codecs.getincrementaldecoder("utf-8")("replace")

    def feed(self, ids: Iterable[int]) -> str:
        return self._utf8.decode(self._to_bytes(list(ids)))

    def flush(self) -> str:
        text: str = self._utf8.decode(b"", final=True)
        self._utf8.reset()
        return text


# ---- the slow path, for encodings without a native rule set --------------------


def _char_index(data: bytes) -> list[int]:
    """For each byte offset (and the end), the index of the character it is in."""
    index = []
    chars = -1
    for byte in data:
        if byte & 0xC0 != 0x80:
            chars += 1
        index.append(chars)
    index.append(chars + 1)
    return index


def _level(text: str, i: int) -> int:
    """How good a cut before text[i] is, as the native code ranks it."""
    if i >= len(text):
        return 5
    before = text[i - 1]
    if before == "\n":
        j = i - 2
        while j >= 0 and text[j] in " \t\r":
            j -= 1
        return 4 if j >= 0 and text[j] == "\n" else 3
    if before in _SENTENCE_ENDS and text[i] in " \t\n\r":
        return 2
    if before in " \t\n\r" or text[i] in " \t\n\r":
        return 1
    return 0


def _slow_chunk_spans(enc: Any, text: str, max_tokens: int, overlap: int) -> list[tuple[int, int]]:
    """Cuts at token boundaries of the whole text's encoding (character
    boundaries only), each chunk checked by encoding it alone."""
    data = text.encode("utf-8")
    char_of = _char_index(data)
    ids = enc.encode_ordinary(text)
    # Character offsets where a token starts at a character boundary.
    bounds = [0]
    pos = 0
    for token in ids:
        pos += len(enc.decode_single_token_bytes(token))
        if pos == len(data) or data[pos] & 0xC0 != 0x80:
            c = char_of[pos]
            if c != bounds[-1]:
                bounds.append(c)
    token_at: dict[int, int] = {}  # bound -> tokens before it (approximate, for the window)
    pos, count = 0, 0
    for token in ids:
        if pos < len(data) and data[pos] & 0xC0 != 0x80:
            token_at.setdefault(char_of[pos], count)
        pos += len(enc.decode_single_token_bytes(token))
        count += 1
    token_at[len(text)] = count
    spans: list[tuple[int, int]] = []
    b = 0  # index into bounds of the chunk start
    last_end = 0
    while bounds[b] < len(text):
        start = bounds[b]
        e = b + 1
        while e + 1 < len(bounds) and token_at[bounds[e + 1]] - token_at[start] <= max_tokens:
            e += 1
        candidates = range(b + 1, e + 1)
        best = {
            level: max((k for k in candidates if _level(text, bounds[k]) >= level), default=-1)
            for level in range(5)
        }
        cut = e
        if bounds[e] < len(text):
            for level in range(4, -1, -1):
                k = best[level]
                if k >= 0 and 2 * (token_at[bounds[k]] - token_at[start]) >= max_tokens:
                    cut = k
                    break
        while cut > b and len(enc.encode_ordinary(text[start : bounds[cut]])) > max_tokens:
            cut -= 1
        if cut == b:
            raise ValueError(
                "chunks: max_tokens=%d is too small for the character at offset %d"
                % (max_tokens, start)
            )
        end = bounds[cut]
        if end <= last_end:
            b = next(k for k in range(len(bounds)) if bounds[k] >= last_end)
            continue
        spans.append((start, end))
        last_end = end
        nb = cut
        if overlap:
            while nb - 1 > b and token_at[end] - token_at[bounds[nb - 1]] <= overlap:
                nb -= 1
        b = nb
    return spans
