"""The special tokens of an encoding and tiktoken's rules for the arguments
that allow or disallow them: which tokens ``allowed_special`` and
``disallowed_special`` name, where disallowed text raises, and tiktoken's
error for it, word for word. ``Encoding`` and ``Stream`` both resolve their
arguments here."""

from __future__ import annotations

import functools
from collections.abc import Collection, Mapping
from collections.abc import Set as AbstractSet
from typing import Any, Literal, NoReturn, Union

AllowedSpecial = Union[Literal["all"], AbstractSet[str]]
DisallowedSpecial = Union[Literal["all"], Collection[str]]


class Specials:
    """The special tokens of one encoding, with what searching and decoding
    them needs made once."""

    def __init__(
        self, special_tokens: dict[str, int], shared_id_texts: dict[int, str] | None = None
    ) -> None:
        self.tokens = dict(special_tokens)
        self.all = frozenset(special_tokens)
        self.values = frozenset(special_tokens.values())
        # id -> bytes; where two texts share an id the later one wins, unless
        # shared_id_texts names the one tiktoken decodes it to (its choice
        # follows its hash map's order, known only for the built-in tables).
        decoding = dict(special_tokens)
        for token, text in (shared_id_texts or {}).items():
            del decoding[text]
            decoding[text] = token
        self.bytes_of_id = {i: s.encode("utf-8") for s, i in decoding.items()}
        # Text without this prefix holds no special token.
        self.prefix = common_prefix(list(special_tokens))
        # The tokens searched natively (None when their texts cannot be:
        # texts with lone surrogates, ids out of range).
        self.native = _native_specials(decoding)

    def stream_finder(self, allowed: Mapping[str, int]) -> Any:
        """The native finder a stream searches its bytes with: the one encode
        uses, or where there is none (a token text with lone surrogates, an id
        out of range) one over the allowed tokens UTF-8 can hold, the only
        ones a stream's bytes can contain."""
        if self.native is not None:
            return self.native
        import velkan.bpe.openai as openai

        kept = {}
        for text, token in allowed.items():
            try:
                text.encode("utf-8")
            except UnicodeEncodeError:
                continue
            kept[text] = token
        return openai.SpecialTokens(kept)

    def allowed_set(self, allowed_special: AllowedSpecial) -> frozenset[str]:
        if allowed_special == "all":
            return self.all
        if isinstance(allowed_special, frozenset):
            return allowed_special
        if isinstance(allowed_special, str):
            # A string other than "all" is no set of tokens (tiktoken's error).
            raise TypeError("unsupported operand type(s) for -: 'set' and 'str'")
        return frozenset(allowed_special)

    def disallowed_set(
        self, allowed: frozenset[str], disallowed_special: DisallowedSpecial
    ) -> frozenset[str]:
        if disallowed_special == "all":
            return self.all - allowed
        if isinstance(disallowed_special, frozenset):
            return disallowed_special
        return frozenset(disallowed_special)

    def check_disallowed(
        self, text: str, allowed: frozenset[str], disallowed_special: DisallowedSpecial
    ) -> None:
        """Raises tiktoken's ValueError when text holds a disallowed token."""
        if not disallowed_special:
            return
        if self.native is not None and type(text) is str:
            try:
                if self.native.check(text, allowed, disallowed_special) is None:
                    return
            except UnicodeEncodeError:
                pass  # lone surrogates: the search below reads str
        disallowed = self.disallowed_set(allowed, disallowed_special)
        if not disallowed:
            return
        if self.prefix and self.prefix not in text and disallowed <= self.all:
            return
        match = special_regex(disallowed).search(text)
        if match is not None:
            raise_disallowed_special_token(match.group())


def raise_disallowed_special_token(token: str) -> NoReturn:
    """The error tiktoken raises for a disallowed special token, word for word:
    callers match on it. Its words live once, in the extension
    (``raise_disallowed_special`` in added_token_methods.cc)."""
    import velkan.bpe.openai as openai

    openai.SpecialTokens.raise_disallowed(token)
    raise AssertionError("unreachable: raise_disallowed raises")


def common_prefix(strings: list[str]) -> str:
    if not strings:
        return ""
    first, last = min(strings), max(strings)
    n = 0
    while n < min(len(first), len(last)) and first[n] == last[n]:
        n += 1
    return first[:n]


@functools.lru_cache(maxsize=128)
def special_regex(tokens: frozenset[str]) -> Any:
    import re

    # Longest first, so that where one special token begins another the longer
    # one wins, whatever the set's order.
    ordered = sorted(tokens, key=lambda t: (-len(t), t))
    return re.compile("|".join(re.escape(t) for t in ordered))


def _native_specials(special_tokens: dict[str, int]) -> Any:
    import velkan.bpe.openai as openai

    try:
        return openai.SpecialTokens(special_tokens)
    except (UnicodeEncodeError, ValueError, TypeError):
        return None  # texts with lone surrogates, ids out of range: searched in Python
