"""``Encoding``, tiktoken's Encoding interface over velkan's native
tokenizers, where tiktoken keeps it (``tiktoken.core``).

A thin policy layer: it fills in defaults, checks arguments and shapes
results; its backend (``velkan._backend``) does the byte-pair work, natively
where it can. Built-in encodings share the process's cached native
tokenizer, so making an ``Encoding`` costs microseconds and no memory.
"""

from __future__ import annotations

import functools
import threading
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any

from velkan import _encodings_data
from velkan._added_tokens import (
    AllowedSpecial,
    DisallowedSpecial,
    Specials,
    raise_disallowed_special_token,
)
from velkan._backend import Backend
from velkan._version import __version__
from velkan._vocabulary import Vocabulary, builtin_names

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

    from velkan import _stream

__all__ = ["Encoding", "raise_disallowed_special_token"]


class Encoding:
    """A vocabulary, its pre-split pattern and its special tokens."""

    def __init__(
        self,
        name: str,
        *,
        pat_str: str,
        mergeable_ranks: dict[bytes, int],
        special_tokens: dict[str, int],
        explicit_n_vocab: int | None = None,
    ) -> None:
        max_ordinary = max(mergeable_ranks.values(), default=-1)
        max_token_value = max(max_ordinary, max(special_tokens.values(), default=0))
        if explicit_n_vocab:
            # tiktoken's checks, and its exception (AssertionError, which
            # callers may catch), with messages that say which failed.
            if len(mergeable_ranks) + len(special_tokens) != explicit_n_vocab:
                raise AssertionError(
                    f"explicit_n_vocab is {explicit_n_vocab}, but there are "
                    f"{len(mergeable_ranks)} mergeable ranks and {len(special_tokens)} "
                    "special tokens"
                )
            if max_token_value != explicit_n_vocab - 1:
                raise AssertionError(
                    f"explicit_n_vocab is {explicit_n_vocab}, but the largest token id "
                    f"is {max_token_value}"
                )
        vocabulary = Vocabulary.custom(name, pat_str, mergeable_ranks)
        self._init_from(vocabulary, name, pat_str, special_tokens, mergeable_ranks)
        self._builtin = False

    def _init_from(
        self,
        vocabulary: Vocabulary,
        name: str,
        pat_str: str,
        special_tokens: dict[str, int],
        mergeable_ranks: dict[bytes, int] | None,
        shared_id_texts: dict[int, str] | None = None,
    ) -> None:
        self.name = name
        self._pat_str = pat_str
        self._special_tokens = dict(special_tokens)
        self._ranks = mergeable_ranks
        specials = Specials(special_tokens, shared_id_texts)
        self._backend = backend = Backend(vocabulary, specials)
        # The backend's native shortcuts, called before the backend itself.
        self._fast_encode = backend.fast_encode
        self._native_specials = specials.native
        self._fast_decode = backend.fast_decode
        self._native_bpe = backend.native_bpe
        self._token_bytes = backend.token_bytes
        self._bytes_encoder = backend.bytes_encoder
        # The ranks the caller gave answer with one dict lookup; else the
        # vocabulary's own (natively, one probe of the token index).
        self._single_token = (
            mergeable_ranks.get if mergeable_ranks is not None else backend.single_token
        )
        self._piece_encoder = backend.piece_encoder
        self._special_token_values = specials.values
        self.max_token_value = max(
            vocabulary.max_ordinary_id, max(special_tokens.values(), default=0)
        )

    @classmethod
    def _builtin_encoding(cls, name: str) -> Encoding:
        facts = _encodings_data.ENCODINGS[name]
        enc = cls.__new__(cls)
        enc._init_from(
            Vocabulary.builtin(facts.rank_file),
            name,
            facts.pat_str,
            facts.special_tokens,
            None,
            _encodings_data.SHARED_ID_TEXTS.get(name, {}),
        )
        enc._builtin = True
        return enc

    def __repr__(self) -> str:
        return f"<Encoding {self.name!r}>"

    # ---- the native tokenizer other modules use -----------------------------------

    @property
    def _tokenizer(self) -> Any:
        """The native ``velkan.bpe.openai.Tokenizer``, or None when the pattern
        has no native rule set (pieces then come from the regex package)."""
        return self._backend.tokenizer

    # ---- encoding ---------------------------------------------------------------

    def encode_ordinary(self, text: str) -> list[int]:
        """Encodes a string into tokens, ignoring special tokens.

        The same as ``encode(text, disallowed_special=())``, a little faster.
        """
        return self._backend.encode_ordinary(text)

    def encode(
        self,
        text: str,
        *,
        allowed_special: AllowedSpecial = set(),  # noqa: B006 (tiktoken's default)
        disallowed_special: DisallowedSpecial = "all",
    ) -> list[int]:
        """Encodes a string into tokens.

        Text that spells a special token raises ``ValueError`` unless the token
        is in ``allowed_special`` (then it becomes that token) or left out of
        ``disallowed_special`` (then it is encoded as ordinary text). Pass
        ``allowed_special="all"`` to turn every special token on, or
        ``disallowed_special=()`` to turn the check off.
        """
        fast = self._fast_encode
        if fast is not None:
            try:
                ids = fast(text, self._native_specials, allowed_special, disallowed_special)
            except UnicodeEncodeError:
                ids = NotImplemented  # lone surrogates: the backend mends them
            if ids is not NotImplemented:
                return ids  # type: ignore[no-any-return]
        return self._backend.encode(text, allowed_special, disallowed_special)

    def encode_to_numpy(
        self,
        text: str,
        *,
        allowed_special: AllowedSpecial = set(),  # noqa: B006
        disallowed_special: DisallowedSpecial = "all",
    ) -> npt.NDArray[np.uint32]:
        """Encodes a string into a numpy ``uint32`` array of tokens."""
        return self._backend.encode_to_numpy(text, allowed_special, disallowed_special)

    def encode_ordinary_batch(self, text: list[str], *, num_threads: int = 8) -> list[list[int]]:
        """Encodes a list of strings, in parallel, ignoring special tokens."""
        return self._backend.encode_ordinary_batch(text, num_threads)

    def encode_batch(
        self,
        text: list[str],
        *,
        num_threads: int = 8,
        allowed_special: AllowedSpecial = set(),  # noqa: B006
        disallowed_special: DisallowedSpecial = "all",
    ) -> list[list[int]]:
        """Encodes a list of strings, in parallel. See ``encode`` for the special
        token arguments."""
        return self._backend.encode_batch(text, num_threads, allowed_special, disallowed_special)

    def encode_batch_to_numpy(
        self,
        texts: Sequence[str],
        *,
        num_threads: int = 8,
        allowed_special: AllowedSpecial = set(),  # noqa: B006
        disallowed_special: DisallowedSpecial = "all",
    ) -> tuple[npt.NDArray[np.uint32], npt.NDArray[np.int64]]:
        """Encodes texts into one flat ``uint32`` array of all their ids and an
        ``int64`` array of ``len(texts) + 1`` offsets: text i has the ids
        ``ids[offsets[i]:offsets[i + 1]]``."""
        return self._backend.encode_batch_to_numpy(
            texts, num_threads, allowed_special, disallowed_special
        )

    def encode_batch_to_arrow(
        self,
        texts: Sequence[str],
        *,
        num_threads: int = 8,
        allowed_special: AllowedSpecial = set(),  # noqa: B006
        disallowed_special: DisallowedSpecial = "all",
    ) -> Any:
        """Encodes texts into a pyarrow ``LargeListArray`` of ``uint32`` ids, one
        list per text, over the buffers of ``encode_batch_to_numpy`` (no copy).
        Needs pyarrow (``pip install 'velkan[arrow]'``)."""
        from velkan import _arrow

        return _arrow.encode_batch_to_arrow(
            self,
            texts,
            num_threads=num_threads,
            allowed_special=allowed_special,
            disallowed_special=disallowed_special,
        )

    def encode_with_unstable(
        self,
        text: str,
        *,
        allowed_special: AllowedSpecial = set(),  # noqa: B006
        disallowed_special: DisallowedSpecial = "all",
    ) -> tuple[list[int], list[list[int]]]:
        """The stable tokens of ``text`` and every way its unstable end could be
        tokenized once more text follows it."""
        specials = self._backend.specials
        allowed, disallowed = specials.resolve(allowed_special, disallowed_special)
        specials.check_disallowed(text, allowed, disallowed)
        return self._backend.encode_with_unstable(
            text, allowed, self._pat_str, lambda: self._mergeable_ranks
        )

    def encode_single_token(self, text_or_bytes: str | bytes) -> int:
        """The token whose bytes are exactly ``text_or_bytes`` (special tokens
        included); ``KeyError`` when there is none."""
        if type(text_or_bytes) is bytes:
            data = text_or_bytes
        elif isinstance(text_or_bytes, str):
            data = text_or_bytes.encode("utf-8")
        else:
            data = bytes(text_or_bytes)
        token = self._single_token(data)
        if token is not None:
            return token
        special = self._special_tokens.get(data.decode("utf-8", "replace"))
        if special is not None and self._backend.specials.bytes_of_id.get(special) is not None:
            return special
        raise KeyError(data)

    def count(self, text: str) -> int:
        """The number of tokens ``encode_ordinary(text)`` gives, without
        building them."""
        return self._backend.count(text)

    def count_batch(self, texts: Sequence[str], *, num_threads: int = 8) -> list[int]:
        """``count`` of each text."""
        return self._backend.count_batch(list(texts), num_threads)

    # ---- decoding ---------------------------------------------------------------

    def decode_bytes(self, tokens: Sequence[int]) -> bytes:
        """Decodes tokens into bytes."""
        return self._backend.decode_bytes(tokens)

    def decode(self, tokens: Sequence[int], errors: str = "replace") -> str:
        """Decodes tokens into a string. Bytes that are not UTF-8 are handled by
        ``errors`` as ``bytes.decode`` does (lossy by default)."""
        fast = self._fast_decode
        if fast is not None and type(errors) is str:
            return fast(self._native_bpe, tokens, errors)
        return self._backend.decode(tokens, errors)

    def decode_single_token_bytes(self, token: int) -> bytes:
        """The bytes of one token, special tokens included; ``KeyError`` when
        there is no such token."""
        fast = self._token_bytes
        if fast is not None:
            data = fast(token)
            if data is not None:
                return data
        return self._backend.decode_single_token_bytes(token)

    def decode_tokens_bytes(self, tokens: Sequence[int]) -> list[bytes]:
        """The bytes of each token."""
        return self._backend.decode_tokens_bytes(tokens)

    def decode_with_offsets(self, tokens: Sequence[int]) -> tuple[str, list[int]]:
        """The text and, for each token, the index of the first character that
        holds any of its bytes. Raises ``UnicodeDecodeError`` when the bytes are
        not UTF-8."""
        return self._backend.decode_with_offsets(tokens)

    def decode_batch(
        self, batch: Sequence[Sequence[int]], *, errors: str = "replace", num_threads: int = 8
    ) -> list[str]:
        """Decodes a batch of token lists into strings."""
        return self._backend.decode_batch(batch, errors, num_threads)

    def decode_bytes_batch(
        self, batch: Sequence[Sequence[int]], *, num_threads: int = 8
    ) -> list[bytes]:
        """Decodes a batch of token lists into bytes."""
        return self._backend.decode_bytes_batch(batch, num_threads)

    # ---- vocabulary -------------------------------------------------------------

    def token_byte_values(self) -> list[bytes]:
        """The bytes of every ordinary token, sorted."""
        # The sorted list is made once per vocabulary; each call gets a copy
        # it may change.
        return self._backend.vocabulary.token_byte_values(copy=True)

    @functools.cached_property
    def _mergeable_ranks(self) -> dict[bytes, int]:
        # Built on first use: 100k to 200k entries nobody needs to encode;
        # then a plain attribute, as in tiktoken.
        if self._ranks is None:
            self._ranks = self._backend.vocabulary.mergeable_ranks()
        return self._ranks

    @property
    def eot_token(self) -> int:
        return self._special_tokens["<|endoftext|>"]

    @functools.cached_property
    def special_tokens_set(self) -> set[str]:
        return set(self._special_tokens)

    def is_special_token(self, token: int) -> bool:
        assert isinstance(token, int)
        return token in self._special_token_values

    @property
    def n_vocab(self) -> int:
        """``max_token_value + 1``, as in tiktoken."""
        return self.max_token_value + 1

    # ---- private members code in the wild uses ----------------------------------

    def _encode_single_piece(self, text_or_bytes: str | bytes) -> list[int]:
        """Encodes bytes as one piece, without pre-splitting or special tokens."""
        if isinstance(text_or_bytes, str):
            text_or_bytes = text_or_bytes.encode("utf-8")
        elif type(text_or_bytes) is not bytes:
            text_or_bytes = bytes(text_or_bytes)
        return self._piece_encoder(text_or_bytes)

    def _encode_only_native_bpe(self, text: str) -> list[int]:
        """Encodes a string without special tokens (tiktoken's name for it)."""
        return self.encode_ordinary(text)

    def _encode_bytes(self, text: bytes) -> list[int]:
        """Encodes bytes that may not be UTF-8 (tiktoken's rule).

        The longest UTF-8 prefix is encoded as text; the tokens of its last
        piece (with the whitespace-only tokens before it, when that piece
        starts with one) are joined with the bytes that are not UTF-8 and that
        is encoded as one piece.
        """
        fast = self._bytes_encoder
        if fast is not None and type(text) is bytes:
            return fast(text)
        return self._backend.encode_bytes(bytes(text), self._pat_str)

    def stream(
        self,
        *,
        allowed_special: AllowedSpecial = set(),  # noqa: B006
        disallowed_special: DisallowedSpecial = "all",
    ) -> _stream.Stream:
        """A streaming encoder: ``feed`` it parts of a text (str, or bytes cut
        anywhere), get back the ids already certain, and the rest from
        ``finish()``; together they are ``encode`` of the whole text. Memory
        stays near the longest piece. See ``velkan._stream.Stream``."""
        from velkan import _stream

        specials = self._backend.specials
        allowed, disallowed = specials.resolve(allowed_special, disallowed_special)
        # Allowed names the encoding lacks can never match, as in encode.
        known = specials.tokens
        allowed_ids = {s: known[s] for s in allowed if s in known}
        return _stream.Stream(self.name, self._backend, allowed_ids, disallowed)

    # ---- budgets (velkan._budget does the work) ---------------------------------

    def chunks(self, *args: Any, **kwargs: Any) -> Any:
        from velkan import _budget

        return _budget.chunks(self, *args, **kwargs)

    def chunk_spans(self, *args: Any, **kwargs: Any) -> Any:
        from velkan import _budget

        return _budget.chunk_spans(self, *args, **kwargs)

    def truncate(self, *args: Any, **kwargs: Any) -> Any:
        from velkan import _budget

        return _budget.truncate(self, *args, **kwargs)

    def encode_with_offsets(self, *args: Any, **kwargs: Any) -> Any:
        from velkan import _budget

        return _budget.encode_with_offsets(self, *args, **kwargs)

    def decoder(self, *args: Any, **kwargs: Any) -> Any:
        from velkan import _budget

        return _budget.decoder(self, *args, **kwargs)

    # ---- pickling ---------------------------------------------------------------

    def __getstate__(self) -> object:
        # A built-in encoding travels as its name: a few bytes, not megabytes.
        if self._builtin:
            return self.name
        return {
            "name": self.name,
            "pat_str": self._pat_str,
            "mergeable_ranks": self._mergeable_ranks,
            "special_tokens": self._special_tokens,
        }

    def __setstate__(self, value: object) -> None:
        if isinstance(value, str):
            # The process's encoding of that name, its state shared as
            # tiktoken shares it: one assignment, however many attributes.
            self.__dict__ = builtin_encoding(value).__dict__
            return
        assert isinstance(value, dict)
        self.__init__(**value)  # type: ignore[misc]


# The encodings made so far, by name: one object per name and process
# (velkan.registry.get_encoding fills it, ENCODINGS there is this dict).
_encodings: dict[str, Encoding] = {}
_lock = threading.Lock()


def builtin_encoding(name: str) -> Encoding:
    """The built-in encoding of that name, made once per process."""
    enc = _encodings.get(name)
    if enc is not None:
        return enc
    if name not in builtin_names():
        # A pickle from a build with more vocabularies than this one.
        raise ValueError(unknown_encoding_message(name))
    with _lock:
        enc = _encodings.get(name)
        if enc is None:
            enc = Encoding._builtin_encoding(name)
            _encodings[name] = enc
    return enc


def unknown_encoding_message(name: str, plugins: Sequence[str] = ()) -> str:
    return (
        f"Unknown encoding {name}.\n"
        f"Encodings velkan {__version__} has: {', '.join(builtin_names())}"
        + (f"\nPlugins found: {list(plugins)}" if plugins else "")
    )
