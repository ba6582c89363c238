# Type stubs for the extension module velkan.bpe.

from typing import List, Union, final

from . import openai as openai

# What the "y*" conversion accepts: any object with the buffer protocol.
ReadableBuffer = Union[bytes, bytearray, memoryview]

@final
class BytePairEncoding:
    """One vocabulary's byte-pair encoding, used on raw bytes without
    pre-splitting. Get one from Tokenizer.bpe()."""

    def count(self, data: ReadableBuffer, /) -> int: ...
    def encode_via_backtracking(self, data: ReadableBuffer, /) -> List[int]: ...
    def decode_tokens(self, ids: List[int], /) -> bytes: ...
