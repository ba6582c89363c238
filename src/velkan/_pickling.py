"""Pickling of the native objects, registered with copyreg.

A Tokenizer or BytePairEncoding of a built-in vocabulary travels as the name
of its constructor (a few bytes); the receiving process gets its own cached
copy. Objects over a vocabulary of one's own have no name to travel by:
pickle the velkan.Encoding that holds them instead.
"""

import copyreg
from typing import Any, Callable, Optional

from velkan import bpe as _bpe

_openai = _bpe.openai


def _builtin_vocabularies() -> list[tuple[str, int]]:
    return [(name, int(size)) for name, _image, size in _openai._vocabularies()]


def _vocabulary_name(encoding: Any) -> Optional[str]:
    # Native objects have no identity of their own (each call makes a new
    # wrapper over the cached vocabulary): recognise it by what it decodes.
    for name, size in _builtin_vocabularies():
        base = getattr(_openai, name)().bpe()
        probes = [0, 255, size // 3, size // 2, size - 2, size - 1, size]
        if all(base.decode_tokens([t]) == encoding.decode_tokens([t]) for t in probes):
            return name
    return None


def _tokenizer_name(tokenizer: Any) -> str:
    name = _vocabulary_name(tokenizer.bpe())
    if name is not None:
        return name
    raise TypeError(
        "cannot pickle a Tokenizer over a vocabulary of its own; "
        "pickle the velkan.Encoding made from its ranks instead"
    )


def _reduce_tokenizer(tokenizer: Any) -> tuple[Callable[..., Any], tuple[Any, ...]]:
    return getattr(_openai, _tokenizer_name(tokenizer)), ()


def _bpe_of(name: str) -> Any:
    return getattr(_openai, name)().bpe()


def _reduce_bpe(encoding: Any) -> tuple[Callable[..., Any], tuple[Any, ...]]:
    name = _vocabulary_name(encoding)
    if name is not None:
        return _bpe_of, (name,)
    raise TypeError(
        "cannot pickle a BytePairEncoding over a vocabulary of its own; "
        "pickle the velkan.Encoding made from its ranks instead"
    )


copyreg.pickle(_openai.Tokenizer, _reduce_tokenizer)
copyreg.pickle(_bpe.BytePairEncoding, _reduce_bpe)
