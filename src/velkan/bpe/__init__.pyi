# Type stubs for the extension module velkan.bpe.

from collections.abc import Sequence
from typing import final

from . import openai as openai

# What the methods take as bytes: objects with the buffer protocol.
_ReadableBuffer = bytes | bytearray | memoryview

@final
class BytePairEncoding:
    """One vocabulary's byte-pair encoding, used on raw bytes without
    pre-splitting. Get one from Tokenizer.bpe()."""

    def count(self, data: _ReadableBuffer, /) -> int: ...
    def encode_via_backtracking(self, data: _ReadableBuffer, /) -> list[int]: ...
    def decode_tokens(self, ids: Sequence[int], /) -> bytes: ...
