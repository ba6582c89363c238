"""Token budgets for an Encoding: chunks, truncation, token offsets and a
streaming decoder.

One owner does the work for each encoding, and this module only finds it:
the native ``velkan.bpe.openai.Tokenizer`` wherever the pattern has a native
rule set (every built-in encoding), else the general path's
``velkan._general.PatternBudget``, which splits with the regex package and
ranks its cuts by the native rule. Budgets count ordinary tokens: special
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


class _BytesSource(Protocol):
    def decode_bytes(self, ids: Sequence[int], /) -> bytes: ...


def _owner(enc: Any) -> Any:
    """What does enc's budgets: an Encoding's backend chose it; a native
    Tokenizer does its own; any other object with tiktoken's
    ``encode_ordinary`` and ``decode_single_token_bytes`` goes through the
    general path."""
    backend = getattr(enc, "_backend", None)
    if backend is not None:
        return backend.budget
    if hasattr(enc, "chunk_spans"):
        return enc
    tokenizer = getattr(enc, "_tokenizer", None)
    if tokenizer is not None:
        return tokenizer
    from velkan._general import PatternBudget

    return PatternBudget(enc)


def chunks(enc: Any, text: str, max_tokens: int, *, overlap: int = 0) -> list[str]:
    """Split text into chunks that each encode alone to at most max_tokens
    tokens; see ``Tokenizer.chunks``."""
    return _owner(enc).chunks(text, max_tokens, overlap=overlap)  # type: ignore[no-any-return]


def chunk_spans(enc: Any, text: str, max_tokens: int, *, overlap: int = 0) -> list[tuple[int, int]]:
    """The cuts of ``chunks`` as (start, end) character offsets."""
    return _owner(enc).chunk_spans(text, max_tokens, overlap=overlap)  # type: ignore[no-any-return]


def truncate(enc: Any, text: str, max_tokens: int, *, side: str = "right") -> str:
    """The longest prefix (side="left": suffix) of text within max_tokens."""
    return _owner(enc).truncate(text, max_tokens, side=side)  # type: ignore[no-any-return]


def encode_with_offsets(enc: Any, text: str) -> tuple[list[int], list[int]]:
    """(ids, starts): encode_ordinary(text) and the character offset where each
    token starts (byte offsets for bytes)."""
    return _owner(enc).encode_with_offsets(text)  # type: ignore[no-any-return]


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
