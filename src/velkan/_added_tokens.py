"""The special tokens of an encoding, and the calls through which the
general path and streams use tiktoken's rules for the arguments that allow
or disallow them. The rules themselves (which tokens ``allowed_special`` and
``disallowed_special`` name, where disallowed text raises, tiktoken's error
for it, word for word) live once, in the native ``SpecialTokens``."""

from __future__ import annotations

from collections.abc import Collection
from collections.abc import Set as AbstractSet
from typing import Literal, NoReturn, Union

AllowedSpecial = Union[Literal["all"], AbstractSet[str]]
DisallowedSpecial = Union[Literal["all"], Collection[str]]


class Specials:
    """The special tokens of one encoding, with what searching and decoding
    them needs made once."""

    def __init__(
        self, special_tokens: dict[str, int], shared_id_texts: dict[int, str] | None = None
    ) -> None:
        self.tokens = dict(special_tokens)
        self.values = frozenset(special_tokens.values())
        # id -> bytes; where two texts share an id the later one wins, unless
        # shared_id_texts names the one tiktoken decodes it to (its choice
        # follows its hash map's order, known only for the built-in tables).
        decoding = dict(special_tokens)
        for token, text in (shared_id_texts or {}).items():
            del decoding[text]
            decoding[text] = token
        self.bytes_of_id = {i: s.encode("utf-8") for s, i in decoding.items()}
        # The tokens found natively, by every path: encode, the checks,
        # encodings split in Python, streams. Their ids are 32-bit ranks, read
        # as decode reads ids (tiktoken's errors for others).
        import velkan.bpe.openai as openai

        if "" in decoding:
            # tiktoken's search would find it before every character, ahead of
            # the other tokens or not as its hash map happens to order them.
            raise ValueError("special_tokens: the empty string cannot be a special token")
        ranks = openai._ids(list(decoding.values()))
        self.native = openai.SpecialTokens(dict(zip(decoding, ranks)))

    def resolve(
        self, allowed_special: AllowedSpecial, disallowed_special: DisallowedSpecial
    ) -> tuple[frozenset[str], frozenset[str]]:
        """(allowed, disallowed) as frozensets, read by the native rules encode
        reads them by, with its errors: "all", any iterable of str; a false
        disallowed_special checks nothing (an empty set)."""
        resolved: tuple[frozenset[str], frozenset[str]] = self.native.resolve(
            allowed_special, disallowed_special
        )
        return resolved

    def check_disallowed(
        self, text: str, allowed: frozenset[str], disallowed_special: DisallowedSpecial
    ) -> None:
        """Raises tiktoken's ValueError when text holds a disallowed token."""
        if not disallowed_special:
            return
        try:
            self.native.check(text, allowed, disallowed_special)
        except UnicodeEncodeError:
            # Lone surrogates: the text was searched as it is and holds no
            # disallowed string; encoding mends it.
            pass


def raise_disallowed_special_token(token: str) -> NoReturn:
    """The error tiktoken raises for a disallowed special token, word for word:
    callers match on it. Its words live once, in the extension
    (``raise_disallowed_special`` in added_tokens_type.cc)."""
    import velkan.bpe.openai as openai

    openai.SpecialTokens.raise_disallowed(token)
    raise AssertionError("unreachable: raise_disallowed raises")
