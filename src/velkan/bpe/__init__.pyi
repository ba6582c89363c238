# Type stubs for the extension module velkan.bpe.

from typing import List, Sequence, Union, final

from . import openai as openai

# What the methods take as bytes: objects with the buffer protocol.
_ReadableBuffer = Union[bytes, bytearray, memoryview]

@final
class BytePairEncoding:
    """One vocabulary's byte-pair encoding, used on raw bytes without
    pre-splitting. Get one from Tokenizer.bpe()."""

    def count(self, data: _ReadableBuffer, /) -> int: ...
    def encode_via_backtracking(self, data: _ReadableBuffer, /) -> List[int]: ...
    def decode_tokens(self, ids: Sequence[int], /) -> bytes: ...
