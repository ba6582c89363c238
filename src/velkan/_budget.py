"""Token budgets for an Encoding: chunks, truncation, token offsets and a
streaming decoder.

The work is native (``velkan.bpe.openai.Tokenizer`` has the same methods);
this module passes an Encoding's text to its native tokenizer and, for an
encoding whose pattern has no native rule set, does the same through the
Encoding's own ``encode_ordinary``. Budgets count ordinary tokens: special
tokens are text like any other here, as with ``encode_ordinary``.
"""

from __future__ import annotations

import bisect
import codecs
import itertools
from collections.abc import Iterable, Sequence
from typing import Any, Protocol

from velkan._backend import char_offsets

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

    def fits(kept: int) -> bool:
        part = text[:kept] if side == "right" else text[n - kept :]
        return len(enc.encode_ordinary(part)) <= max_tokens

    if fits(n):
        return text
    # Slow path: lengths that double from about the budget while the part
    # fits, so that the work follows the part kept, then a bisection between
    # one that fits and one that does not: the part cannot keep one more
    # character.
    good, bad = 0, min(n, 4 * max_tokens + 16)
    while bad < n and fits(bad):
        good, bad = bad, min(n, 2 * bad)
    kept = _longest_fit(good, bad, fits)
    return text[:kept] if side == "right" else text[n - kept :]


def encode_with_offsets(enc: Any, text: str) -> tuple[list[int], list[int]]:
    """(ids, starts): encode_ordinary(text) and the character offset where each
    token starts (byte offsets for bytes)."""
    native = _native(enc)
    if native is not None:
        return native.encode_with_offsets(text)  # type: ignore[no-any-return]
    ids: list[int] = enc.encode_ordinary(text)
    data = text.encode("utf-8") if isinstance(text, str) else None
    lengths = [len(enc.decode_single_token_bytes(token)) for token in ids[:-1]]
    starts = list(itertools.accumulate(lengths, initial=0)) if ids else []
    return ids, (char_offsets(data, starts) if data is not None else starts)


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


def _longest_fit(good: int, bad: int, fits: Any) -> int:
    """The n in [good, bad) with fits(n) and not fits(n + 1), by bisection,
    given fits(good) and not fits(bad)."""
    while bad - good > 1:
        middle = (good + bad) // 2
        if fits(middle):
            good = middle
        else:
            bad = middle
    return good


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
    boundaries only), each chunk checked by encoding it alone. Where no such
    cut fits, or the chunk would be less than half full before a stretch
    between cuts longer than the budget, the cut goes at the longest
    character boundary that fits, as the native path cuts inside a piece."""
    data = text.encode("utf-8")
    ids = enc.encode_ordinary(text)
    # Character offsets where a token starts at a character boundary, and the
    # tokens before each (for the window; each chunk is checked exactly).
    cuts: list[int] = []
    numbers: list[int] = []
    pos = 0
    for number, token in enumerate(ids, 1):
        pos += len(enc.decode_single_token_bytes(token))
        if pos == len(data) or data[pos] & 0xC0 != 0x80:
            cuts.append(pos)
            numbers.append(number)
    bounds = [0]
    counts = [0]
    for c, number in zip(char_offsets(data, cuts), numbers):
        if c != bounds[-1]:
            bounds.append(c)
            counts.append(number)
    n = len(text)

    def fits(start: int, end: int) -> bool:
        return len(enc.encode_ordinary(text[start:end])) <= max_tokens

    spans: list[tuple[int, int]] = []
    start = 0
    last_end = 0
    while start < n:
        b = bisect.bisect_right(bounds, start) - 1  # the last cut at or before start
        base = counts[b]
        e = b
        while e + 1 < len(bounds) and counts[e + 1] - base <= max_tokens:
            e += 1
        cut = e
        if bounds[e] < n:
            best = {
                level: max(
                    (k for k in range(b + 1, e + 1) if _level(text, bounds[k]) >= level), default=-1
                )
                for level in range(5)
            }
            for level in range(4, -1, -1):
                k = best[level]
                if k >= 0 and 2 * (counts[k] - base) >= max_tokens:
                    cut = k
                    break
        while cut > b and not fits(start, bounds[cut]):
            cut -= 1
        end = bounds[cut] if cut > b else start
        if end < n and (
            cut == b or 2 * (counts[cut] - base) < max_tokens and not fits(end, bounds[cut + 1])
        ):
            # Inside the stretch up to the next cut, at the longest character
            # boundary that fits.
            stop = bounds[cut + 1]
            if not fits(start, stop):
                end = start + _longest_fit(
                    end - start, stop - start, lambda k, s=start: fits(s, s + k)
                )
            else:
                end = stop
            if end == start:
                raise ValueError(
                    "chunks: max_tokens=%d is too small for the character at offset %d"
                    % (max_tokens, start)
                )
            spans.append((start, end))
            start = last_end = end
            continue
        if end <= last_end:
            start = bounds[bisect.bisect_left(bounds, last_end)]
            continue
        spans.append((start, end))
        last_end = end
        nb = cut
        if overlap:
            while nb - 1 > b and bounds[nb - 1] > start and counts[cut] - counts[nb - 1] <= overlap:
                nb -= 1
        start = bounds[nb]
    return spans


# Tokenizer.decoder() makes a StreamDecoder; handed in now, while the package
# is imported, so that the extension never imports anything itself (an import
# in a forked child can wait for ever on one that another thread of the
# parent was in at the fork).
try:
    from velkan.bpe import openai as _openai
except ImportError:  # a source tree without the built extension
    pass
else:
    _openai._set_stream_decoder(StreamDecoder)
