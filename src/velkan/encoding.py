"""velkan.Encoding: tiktoken's Encoding interface over velkan's native tokenizers.

A thin policy layer: it checks special tokens, fills in defaults and shapes
results; the native module does the byte-pair work. Built-in encodings share
the process's cached native tokenizer, so making an ``Encoding`` costs
microseconds and no memory.
"""

from __future__ import annotations

import bisect
import functools
import threading
from collections.abc import Collection, Sequence
from collections.abc import Set as AbstractSet
from concurrent.futures import ThreadPoolExecutor
from typing import (
    TYPE_CHECKING,
    Any,
    Callable,
    Literal,
    NoReturn,
    Union,
)

from velkan import _encodings_data

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

    from velkan import _stream

AllowedSpecial = Union[Literal["all"], AbstractSet[str]]
DisallowedSpecial = Union[Literal["all"], Collection[str]]


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
        _refuse_shared_ranks(mergeable_ranks)
        core = _Core.custom(name, pat_str, mergeable_ranks)
        self._init_from(core, name, pat_str, special_tokens, mergeable_ranks)
        self._builtin = False

    def _init_from(
        self,
        core: _Core,
        name: str,
        pat_str: str,
        special_tokens: dict[str, int],
        mergeable_ranks: dict[bytes, int] | None,
        shared_id_texts: dict[int, str] | None = None,
    ) -> None:
        self.name = name
        self._pat_str = pat_str
        self._special_tokens = dict(special_tokens)
        self._core = core
        self._ranks = mergeable_ranks
        self.max_token_value = max(core.max_ordinary_id, max(special_tokens.values(), default=0))
        self._special_token_values = frozenset(special_tokens.values())
        # id -> bytes; where two texts share an id the later one wins, unless
        # shared_id_texts names the one tiktoken decodes it to (its choice
        # follows its hash map's order, known only for the built-in tables).
        decoding = dict(special_tokens)
        for token, text in (shared_id_texts or {}).items():
            del decoding[text]
            decoding[text] = token
        self._special_bytes = {i: s.encode("utf-8") for s, i in decoding.items()}
        self._special_prefix = _common_prefix(list(special_tokens))
        self._all_specials = frozenset(special_tokens)
        # The special tokens searched natively (None when their texts cannot
        # be: the general paths below then do the work).
        self._specials = _native_specials(decoding)
        # Native whole-text calls: a tokenizer that splits the text itself.
        self._native = core.tokenizer if core.split is None and self._specials is not None else None
        # Native decoding: a byte-pair encoding that holds the ordinary ids
        # and refuses the ids that name no token.
        self._native_bpe = (
            core.bpe
            if core.decoder is None
            and self._specials is not None
            and not any(core.bpe.decode_tokens([i]) for i in core.gaps)
            else None
        )
        # Native single-token lookups and _encode_bytes, where the vocabulary
        # (and for the latter the split) is native.
        token_id = getattr(core.bpe, "_token_id", None)
        self._token_id = (
            token_id if token_id is not None and core.ranks is None else core.single_token
        )
        self._token_bytes = (
            getattr(self._native_bpe, "_token_bytes", None)
            if self._native_bpe is not None
            else None
        )
        self._bytes_encoder = (
            core.tokenizer._encode_bytes
            if core.tokenizer is not None and core.split is None
            else None
        )

    @classmethod
    def _builtin_encoding(cls, name: str) -> Encoding:
        from velkan import _encodings_data

        facts = _encodings_data.ENCODINGS[name]
        enc = cls.__new__(cls)
        enc._init_from(
            _Core.builtin(facts.rank_file),
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
        return self._core.tokenizer

    # ---- encoding ---------------------------------------------------------------

    def encode_ordinary(self, text: str) -> list[int]:
        """Encodes a string into tokens, ignoring special tokens.

        The same as ``encode(text, disallowed_special=())``, a little faster.
        """
        try:
            return self._core.encode_ordinary(text)
        except UnicodeEncodeError:
            # UTF-8 has no lone surrogates: mend them to U+FFFD, as tiktoken does.
            return self._core.encode_ordinary(_replace_surrogates(text))

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
        native = self._native
        if native is not None:
            # One native call checks, finds the allowed tokens and encodes;
            # NotImplemented leaves the unusual arguments to the code below.
            try:
                ids = native.encode_special(
                    text, self._specials, allowed_special, disallowed_special
                )
            except UnicodeEncodeError:
                ids = native.encode_special(
                    _replace_surrogates(text), self._specials, allowed_special, disallowed_special
                )
            if ids is not NotImplemented:
                return ids  # type: ignore[no-any-return]
        if not isinstance(text, str):
            # What tiktoken's own check says of bytes.
            raise TypeError("cannot use a string pattern on a bytes-like object")
        allowed = self._allowed_set(allowed_special)
        self._check_disallowed(text, allowed, disallowed_special)
        try:
            return self._encode_allowed(text, allowed)
        except UnicodeEncodeError:
            return self._encode_allowed(_replace_surrogates(text), allowed)

    def _encode_allowed(self, text: str, allowed: frozenset[str]) -> list[int]:
        if self._native is not None:
            found = self._native.encode_special(text, self._specials, allowed, ())
            if found is not NotImplemented:
                return found  # type: ignore[no-any-return]
        if not allowed or (self._special_prefix and self._special_prefix not in text):
            return self._core.encode_ordinary(text)
        ids: list[int] = []
        pos = 0
        for match in _special_regex(allowed).finditer(text):
            if match.start() > pos:
                ids += self._core.encode_ordinary(text[pos : match.start()])
            ids.append(self._special_tokens[match.group()])
            pos = match.end()
        ids += self._core.encode_ordinary(text[pos:])
        return ids

    def encode_to_numpy(
        self,
        text: str,
        *,
        allowed_special: AllowedSpecial = set(),  # noqa: B006
        disallowed_special: DisallowedSpecial = "all",
    ) -> npt.NDArray[np.uint32]:
        """Encodes a string into a numpy ``uint32`` array of tokens."""
        numpy = _numpy()
        # Lone surrogates raise UnicodeEncodeError here, as in tiktoken.
        flat = self._flat([text], 1, allowed_special, disallowed_special, strict=True)
        if flat is not None:
            array: npt.NDArray[np.uint32] = numpy.frombuffer(flat[0], dtype=numpy.uint32)
            return array
        ids = self.encode(
            text, allowed_special=allowed_special, disallowed_special=disallowed_special
        )
        if isinstance(text, str):
            text.encode("utf-8")  # lone surrogates raise, as in tiktoken
        return numpy.array(ids, dtype=numpy.uint32)  # type: ignore[no-any-return]

    def _flat(
        self,
        texts: list[str],
        num_threads: int,
        allowed_special: object,
        disallowed_special: object,
        strict: bool = False,
    ) -> tuple[bytearray, bytearray] | None:
        # All ids in one buffer and the offsets in another, natively; None
        # when the texts or arguments need the general path.
        try:
            result = self._native_batch(
                True, texts, num_threads, allowed_special, disallowed_special
            )
        except UnicodeEncodeError:
            if strict:
                # The check reads the text as it is, before the encoding fails.
                allowed = self._allowed_set(allowed_special)  # type: ignore[arg-type]
                for text in texts:
                    self._check_disallowed(text, allowed, disallowed_special)  # type: ignore[arg-type]
                raise
            return None
        if result is NotImplemented:
            return None
        return result[0], result[1]

    def _native_batch(
        self,
        flat: bool,
        texts: object,
        num_threads: int,
        allowed_special: object,
        disallowed_special: object,
    ) -> Any:
        # One native call on the worker pool, at most num_threads at once:
        # (lists, None) or, when flat, (ids buffer, offsets buffer).
        # NotImplemented when the texts (a list of str only) or arguments need
        # the general path; UnicodeEncodeError on lone surrogates.
        native = self._native
        if native is None or type(texts) is not list or not all(type(t) is str for t in texts):
            return NotImplemented
        call = native.encode_batch_flat if flat else native.encode_batch_parallel
        return call(
            texts,
            num_threads=_threads(num_threads),
            specials=self._specials,
            allowed_special=allowed_special,
            disallowed_special=disallowed_special,
        )

    def _batch_tokenizer(self, texts: object) -> Any:
        # The native tokenizer when it takes these texts (a list of str) in
        # one call on the worker pool, without the interpreter lock; else None.
        tokenizer = self._core.tokenizer
        if tokenizer is None or self._core.split is not None:
            return None
        if not isinstance(texts, list) or not all(type(t) is str for t in texts):
            return None
        return tokenizer

    def encode_ordinary_batch(self, text: list[str], *, num_threads: int = 8) -> list[list[int]]:
        """Encodes a list of strings, in parallel, ignoring special tokens."""
        return self._ordinary_batch(text, num_threads)

    def _ordinary_batch(self, texts: list[str], num_threads: int) -> list[list[int]]:
        tokenizer = self._batch_tokenizer(texts)
        if tokenizer is not None:
            try:
                batch: list[list[int]] = tokenizer.encode_batch_parallel(
                    texts, num_threads=_threads(num_threads)
                )[0]
                return batch
            except UnicodeEncodeError:
                pass  # lone surrogates: text by text below
        _check_texts("encode_ordinary_batch", texts, bytes_too=True)
        return self._map(self.encode_ordinary, texts, num_threads)

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
        try:
            result = self._native_batch(
                False, text, num_threads, allowed_special, disallowed_special
            )
        except UnicodeEncodeError:
            result = NotImplemented  # lone surrogates: text by text below
        if result is not NotImplemented:
            return result[0]  # type: ignore[no-any-return]
        _check_texts("encode_batch", text, bytes_too=False)
        allowed = self._allowed_set(allowed_special)
        disallowed: DisallowedSpecial = (
            self._disallowed_set(allowed, disallowed_special) if disallowed_special else ()
        )
        if not allowed and isinstance(text, list) and all(type(t) is str for t in text):
            for t in text:
                self._check_disallowed(t, allowed, disallowed)
            return self._ordinary_batch(text, num_threads)
        return self._map(
            functools.partial(self.encode, allowed_special=allowed, disallowed_special=disallowed),
            text,
            num_threads,
        )

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
        np = _numpy()
        flat = self._flat(list(texts), num_threads, allowed_special, disallowed_special)
        if flat is not None:
            # Zero-copy views of the native buffers.
            return np.frombuffer(flat[0], dtype=np.uint32), np.frombuffer(flat[1], dtype=np.int64)
        batch = self.encode_batch(
            list(texts),
            num_threads=num_threads,
            allowed_special=allowed_special,
            disallowed_special=disallowed_special,
        )
        offsets = np.zeros(len(batch) + 1, dtype=np.int64)
        np.cumsum([len(ids) for ids in batch], out=offsets[1:])
        flat = np.fromiter(
            (i for ids in batch for i in ids), dtype=np.uint32, count=int(offsets[-1])
        )
        return flat, offsets

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
        allowed = self._allowed_set(allowed_special)
        self._check_disallowed(text, allowed, disallowed_special)
        return _unstable(self, text, allowed)

    def encode_single_token(self, text_or_bytes: str | bytes) -> int:
        """The token whose bytes are exactly ``text_or_bytes`` (special tokens
        included); ``KeyError`` when there is none."""
        if type(text_or_bytes) is bytes:
            data = text_or_bytes
        elif isinstance(text_or_bytes, str):
            data = text_or_bytes.encode("utf-8")
        else:
            data = bytes(text_or_bytes)
        # The ranks, once something made them, answer with one lookup.
        ranks = self._ranks
        token = ranks.get(data) if ranks is not None else self._token_id(data)
        if token is not None:
            return token
        special = self._special_tokens.get(data.decode("utf-8", "replace"))
        if special is not None and self._special_bytes.get(special) is not None:
            return special
        raise KeyError(data)

    def count(self, text: str) -> int:
        """The number of tokens ``encode_ordinary(text)`` gives, without
        building them."""
        try:
            return self._core.count(text)
        except UnicodeEncodeError:
            return self._core.count(_replace_surrogates(text))

    def count_batch(self, texts: Sequence[str], *, num_threads: int = 8) -> list[int]:
        """``count`` of each text."""
        texts = list(texts)
        tokenizer = self._batch_tokenizer(texts)
        if tokenizer is not None:
            try:
                counts: list[int] = tokenizer.count_batch(texts, num_threads=_threads(num_threads))
                return counts
            except UnicodeEncodeError:
                pass  # lone surrogates: text by text below
        _check_texts("count_batch", texts, bytes_too=True)
        return self._map(self.count, texts, num_threads)

    # ---- decoding ---------------------------------------------------------------

    def decode_bytes(self, tokens: Sequence[int]) -> bytes:
        """Decodes tokens into bytes."""
        if self._native_bpe is not None:
            data: bytes = self._specials.decode(self._native_bpe, tokens)
            return data
        out: list[bytes] = []
        run: list[int] = []
        limit = self._core.max_ordinary_id
        for t in tokens:
            _check_id(t)
            if t <= limit and self._core.has_id(t):
                run.append(t)
                continue
            special = self._special_bytes.get(t)
            if special is None:
                raise KeyError(f"Invalid token for decoding: {t}")
            if run:
                out.append(self._core.decode(run))
                run = []
            out.append(special)
        if run:
            out.append(self._core.decode(run))
        return b"".join(out)

    def decode(self, tokens: Sequence[int], errors: str = "replace") -> str:
        """Decodes tokens into a string. Bytes that are not UTF-8 are handled by
        ``errors`` as ``bytes.decode`` does (lossy by default)."""
        if self._native_bpe is not None and type(errors) is str:
            text: str = self._specials.decode(self._native_bpe, tokens, errors)
            return text
        return self.decode_bytes(tokens).decode("utf-8", errors=errors)

    def decode_single_token_bytes(self, token: int) -> bytes:
        """The bytes of one token, special tokens included; ``KeyError`` when
        there is no such token."""
        if self._token_bytes is not None:
            # An ordinary id straight from the vocabulary; None for anything
            # else (an id without a token, a special one, not an int), which
            # the paths below answer or refuse.
            data: bytes | None = self._token_bytes(token)
            if data is not None:
                return data
        if self._native_bpe is not None:
            data = self._specials.tokens_bytes(self._native_bpe, (token,))[0]
            return data
        _check_id(token)
        if token <= self._core.max_ordinary_id and self._core.has_id(token):
            return self._core.decode([token])
        special = self._special_bytes.get(token)
        if special is None:
            raise KeyError(str(token))
        return special

    def decode_tokens_bytes(self, tokens: Sequence[int]) -> list[bytes]:
        """The bytes of each token."""
        if self._native_bpe is not None:
            pieces: list[bytes] = self._specials.tokens_bytes(self._native_bpe, tokens)
            return pieces
        return [self.decode_single_token_bytes(t) for t in tokens]

    def decode_with_offsets(self, tokens: Sequence[int]) -> tuple[str, list[int]]:
        """The text and, for each token, the index of the first character that
        holds any of its bytes. Raises ``UnicodeDecodeError`` when the bytes are
        not UTF-8."""
        if self._native_bpe is not None:
            result: tuple[str, list[int]] = self._specials.tokens_bytes(
                self._native_bpe, tokens, True
            )
            return result
        pieces = self.decode_tokens_bytes(tokens)
        offsets = []
        chars = 0
        for piece in pieces:
            # A token that starts with a continuation byte belongs to the
            # character begun by the one before.
            starts_inside = 0x80 <= piece[0] < 0xC0
            offsets.append(max(0, chars - starts_inside))
            chars += sum(1 for b in piece if not 0x80 <= b < 0xC0)
        return b"".join(pieces).decode("utf-8", errors="strict"), offsets

    def decode_batch(
        self, batch: Sequence[Sequence[int]], *, errors: str = "replace", num_threads: int = 8
    ) -> list[str]:
        """Decodes a batch of token lists into strings."""
        if self._native_bpe is not None and type(errors) is str:
            texts: list[str] = self._specials.decode_batch(self._native_bpe, batch, errors)
            return texts
        return self._map(functools.partial(self.decode, errors=errors), batch, num_threads)

    def decode_bytes_batch(
        self, batch: Sequence[Sequence[int]], *, num_threads: int = 8
    ) -> list[bytes]:
        """Decodes a batch of token lists into bytes."""
        if self._native_bpe is not None:
            data: list[bytes] = self._specials.decode_batch(self._native_bpe, batch)
            return data
        return self._map(self.decode_bytes, batch, num_threads)

    # ---- vocabulary -------------------------------------------------------------

    def token_byte_values(self) -> list[bytes]:
        """The bytes of every ordinary token, sorted."""
        # The sorted list is made once per vocabulary; each call gets a copy
        # it may change.
        return list(self._core.token_byte_values())

    @functools.cached_property
    def _mergeable_ranks(self) -> dict[bytes, int]:
        # Built on first use: 100k to 200k entries nobody needs to encode;
        # then a plain attribute, as in tiktoken.
        if self._ranks is None:
            self._ranks = self._core.mergeable_ranks()
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
        return self._core.encode_piece(bytes(text_or_bytes))

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
        if self._bytes_encoder is not None and type(text) is bytes:
            ids: list[int] = self._bytes_encoder(text)
            return ids
        data = bytes(text)
        try:
            return self._core.encode_ordinary(data.decode("utf-8"))
        except UnicodeDecodeError as e:
            valid = e.start
        prefix = data[:valid].decode("utf-8")
        tokens = self._core.encode_ordinary(prefix)
        last = self._core.last_piece(prefix, self._pat_str)
        n = len(self._core.encode_piece(last.encode("utf-8"))) if last else 0
        if n and _all_space(self.decode_single_token_bytes(tokens[-n])):
            while n < len(tokens) and _all_space(self.decode_single_token_bytes(tokens[-n - 1])):
                n += 1
        tail = data[valid:]
        if tokens and n:
            tail = self.decode_bytes(tokens[-n:]) + tail
            del tokens[-n:]
        tokens += self._core.encode_piece(tail)
        return tokens

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

        return _stream.Stream(self, allowed_special, disallowed_special)

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
            self.__dict__.update(get_encoding(value).__dict__)
            return
        assert isinstance(value, dict)
        self.__init__(**value)  # type: ignore[misc]

    # ---- helpers ----------------------------------------------------------------

    @staticmethod
    def _map(fn: Callable[[Any], Any], items: Sequence[Any], num_threads: int) -> list[Any]:
        # The native calls release the interpreter lock on long texts, so
        # threads run them side by side; small batches are not worth a pool.
        threads = _threads(num_threads) or len(items)
        if threads <= 1 or len(items) < 2:
            return [fn(x) for x in items]
        with ThreadPoolExecutor(min(threads, len(items))) as e:
            return list(e.map(fn, items))

    def _allowed_set(self, allowed_special: AllowedSpecial) -> frozenset[str]:
        if allowed_special == "all":
            return self._all_specials
        if isinstance(allowed_special, frozenset):
            return allowed_special
        if isinstance(allowed_special, str):
            # A string other than "all" is no set of tokens (tiktoken's error).
            raise TypeError("unsupported operand type(s) for -: 'set' and 'str'")
        return frozenset(allowed_special)

    def _disallowed_set(
        self, allowed: frozenset[str], disallowed_special: DisallowedSpecial
    ) -> frozenset[str]:
        if disallowed_special == "all":
            return self._all_specials - allowed
        if isinstance(disallowed_special, frozenset):
            return disallowed_special
        return frozenset(disallowed_special)

    def _check_disallowed(
        self, text: str, allowed: frozenset[str], disallowed_special: DisallowedSpecial
    ) -> None:
        if not disallowed_special:
            return
        if self._specials is not None and type(text) is str:
            try:
                if self._specials.check(text, allowed, disallowed_special) is None:
                    return
            except UnicodeEncodeError:
                pass  # lone surrogates: the search below reads str
        disallowed = self._disallowed_set(allowed, disallowed_special)
        if not disallowed:
            return
        if (
            self._special_prefix
            and self._special_prefix not in text
            and disallowed <= self._all_specials
        ):
            return
        match = _special_regex(disallowed).search(text)
        if match is not None:
            raise_disallowed_special_token(match.group())


def raise_disallowed_special_token(token: str) -> NoReturn:
    """The error tiktoken raises for a disallowed special token, word for word:
    callers match on it."""
    raise ValueError(
        f"Encountered text corresponding to disallowed special token {token!r}.\n"
        "If you want this text to be encoded as a special token, "
        f"pass it to `allowed_special`, e.g. `allowed_special={{{token!r}, ...}}`.\n"
        f"If you want this text to be encoded as normal text, disable the check for this token "
        f"by passing `disallowed_special=(enc.special_tokens_set - {{{token!r}}})`.\n"
        "To disable this check for all special tokens, pass `disallowed_special=()`.\n"
    )


def _replace_surrogates(text: str) -> str:
    # Surrogate pairs join into their character; lone ones become U+FFFD.
    return text.encode("utf-16", "surrogatepass").decode("utf-16", "replace")


def _all_space(data: bytes) -> bool:
    return all(b in b" \n\t" for b in data)


def _check_texts(function: str, texts: object, bytes_too: bool) -> None:
    # Before the texts are mapped one by one: the error names the element,
    # not a pattern or a single-text call the caller never made.
    if not isinstance(texts, (list, tuple)):
        return
    for i, t in enumerate(texts):
        if not (isinstance(t, str) or (bytes_too and isinstance(t, bytes))):
            raise TypeError(
                "%s: texts[%d] must be %s, not %s"
                % (function, i, "str or bytes" if bytes_too else "str", type(t).__name__)
            )


def _check_id(t: object) -> None:
    if not isinstance(t, int):
        raise TypeError(f"'{type(t).__name__}' object cannot be interpreted as an integer")
    if t < 0 or t >= 2**32:
        raise OverflowError("out of range integral type conversion attempted")


def _numpy() -> Any:
    try:
        import numpy
    except ImportError as e:
        raise ModuleNotFoundError(
            "this method returns numpy arrays and needs numpy: pip install numpy"
        ) from e
    return numpy


def _threads(num_threads: int | None) -> int:
    # The cap on a batch's threads: None (as ThreadPoolExecutor takes it) is
    # no cap (0); below one is one.
    if num_threads is None:
        return 0
    return max(1, num_threads)


def _native_specials(special_tokens: dict[str, int]) -> Any:
    import velkan.bpe.openai as openai

    try:
        return openai.SpecialTokens(special_tokens)
    except (UnicodeEncodeError, ValueError, TypeError):
        return None  # texts with lone surrogates, ids out of range: searched in Python


def _common_prefix(strings: list[str]) -> str:
    if not strings:
        return ""
    first, last = min(strings), max(strings)
    n = 0
    while n < min(len(first), len(last)) and first[n] == last[n]:
        n += 1
    return first[:n]


@functools.lru_cache(maxsize=128)
def _special_regex(tokens: frozenset[str]) -> Any:
    import re

    # Longest first, so that where one special token begins another the longer
    # one wins, whatever the set's order.
    ordered = sorted(tokens, key=lambda t: (-len(t), t))
    return re.compile("|".join(re.escape(t) for t in ordered))


@functools.lru_cache(maxsize=16)
def _compiled_pattern(pat_str: str) -> Any:
    import regex  # type: ignore[import-untyped]

    return regex.compile(pat_str)


def _unstable(
    enc: Encoding, text: str, allowed: frozenset[str]
) -> tuple[list[int], list[list[int]]]:
    # The last piece (and whitespace-only tokens before it) may merge with
    # whatever follows; every token that starts with those bytes, and the
    # tokenizations of the unstable bytes followed by such a token, are the
    # possible completions.
    tokens = enc._encode_allowed(text, allowed)
    if not tokens or not text:
        return tokens, []
    if enc._special_prefix and text.endswith(tuple(allowed or ())):
        return tokens, []
    # The last piece is that of the text after the last special token: the
    # pattern never sees a special token's text.
    tail = text
    if allowed and enc._special_prefix in text:
        for match in _special_regex(allowed).finditer(text):
            tail = text[match.end() :]
    last = enc._core.last_piece(tail, enc._pat_str)
    if not last:
        return tokens, []
    n = len(enc._core.encode_piece(last.encode("utf-8")))
    if n and _all_space(enc.decode_single_token_bytes(tokens[-n])):
        while n < len(tokens) and _all_space(enc.decode_single_token_bytes(tokens[-n - 1])):
            n += 1
    stable = tokens[: len(tokens) - n]
    unstable = enc.decode_bytes(tokens[len(tokens) - n :])
    completions: set[tuple[int, ...]] = set()
    ranks = enc._mergeable_ranks
    # The tokens that start with some bytes are a run of the sorted tokens.
    ordered = enc._core.token_byte_values()

    def starting_with(head: bytes) -> list[bytes]:
        run = []
        for i in range(bisect.bisect_left(ordered, head), len(ordered)):
            if not ordered[i].startswith(head):
                break
            run.append(ordered[i])
        return run

    for token_bytes in starting_with(unstable):
        completions.add((ranks[token_bytes],))
    for k in range(1, len(unstable)):
        prefix, suffix = unstable[:k], unstable[k:]
        for token_bytes in starting_with(suffix):
            joined = prefix + token_bytes
            try:
                ids = enc._core.encode_ordinary(joined.decode("utf-8"))
            except UnicodeDecodeError:
                ids = enc._core.encode_piece(joined)
            seq: list[int] = []
            taken = 0
            for i in ids:
                seq.append(i)
                taken += len(enc.decode_single_token_bytes(i))
                if taken >= len(unstable):
                    break
            completions.add(tuple(seq))
    if unstable:
        try:
            completions.add(tuple(enc._core.encode_ordinary(unstable.decode("utf-8"))))
        except UnicodeDecodeError:
            completions.add(tuple(enc._core.encode_piece(unstable)))
    # Whitespace at the end may be cut off from what comes before it by the
    # next character ("  " then "x" gives " ", " x").
    text_end = unstable.decode("utf-8", "ignore")
    if len(unstable) > 1 and text_end and text_end[-1].isspace():
        last_char = text_end[-1].encode("utf-8")
        head = unstable[: len(unstable) - len(last_char)]
        completions.add(tuple(enc._core.encode_piece(head) + enc._core.encode_piece(last_char)))
    return stable, [list(c) for c in completions]


class _Core:
    """The byte-pair side of one encoding: a native tokenizer when one splits
    its pattern, else the regex package cutting pieces for a native or Python
    piece encoder."""

    def __init__(
        self,
        tokenizer: Any,
        bpe: Any,
        max_ordinary_id: int,
        pat_str: str | None,
        ranks: dict[bytes, int] | None = None,
    ) -> None:
        self.tokenizer = tokenizer
        self.bpe = bpe
        self.max_ordinary_id = max_ordinary_id
        # Set when the tokenizer cannot split the text itself.
        self.split = _compiled_pattern(pat_str) if pat_str is not None else None
        # Set when no native encoder exists for the ranks (pure Python).
        self.ranks = ranks
        # The native vocabulary as a dict, made once on first request.
        self.built_ranks: dict[bytes, int] | None = None
        # token_byte_values(), made once on first request: a list of the
        # tokens' bytes objects (cl100k_base about 5 MB, o200k_base about
        # 10 MB), kept as long as the vocabulary.
        self.sorted_tokens: list[bytes] | None = None
        # The built-in core whose vocabulary this one shares, if any: its
        # ranks and sorted tokens are made once for both.
        self.base: _Core | None = None
        self.gaps: frozenset[int] = frozenset()
        self.decoder: dict[int, bytes] | None = (
            {i: b for b, i in ranks.items()} if ranks is not None else None
        )

    @classmethod
    def builtin(cls, rank_file: str) -> _Core:
        core = _builtin_cores.get(rank_file)
        if core is None:
            import velkan.bpe.openai as openai
            from velkan import _encodings_data

            tokenizer = getattr(openai, rank_file)()
            bpe = tokenizer.bpe()
            core = cls(tokenizer, bpe, _max_ordinary_id(rank_file), None)
            # Ranks left to a special token (p50k_base's 50256) have no
            # ordinary token: natively they decode to nothing.
            below = {
                i
                for facts in _encodings_data.ENCODINGS.values()
                if facts.rank_file == rank_file
                for i in facts.special_tokens.values()
                if i <= core.max_ordinary_id
            }
            core.gaps = frozenset(i for i in below if not bpe.decode_tokens([i]))
            _builtin_cores[rank_file] = core
        return core

    @classmethod
    def custom(cls, name: str, pat_str: str, ranks: dict[bytes, int]) -> _Core:
        import velkan.bpe.openai as openai
        from velkan import _encodings_data

        rule_set = _encodings_data.rule_set_for_pattern(pat_str)
        # A vocabulary that is a built-in one (an encoding extended with more
        # special tokens, the common case) reuses the process's native one.
        for facts in _encodings_data.ENCODINGS.values():
            if not hasattr(openai, facts.rank_file):
                continue
            # The size first: building a built-in vocabulary only to compare
            # would cost every custom Encoding the memory of all of them.
            size = _max_ordinary_id(facts.rank_file) + 1
            # Ranks left to special tokens (p50k_base's 50256) may be gaps.
            reserved = len(
                {
                    i
                    for other in _encodings_data.ENCODINGS.values()
                    if other.rank_file == facts.rank_file
                    for i in other.special_tokens.values()
                    if i < size
                }
            )
            if not size - reserved <= len(ranks) <= size:
                continue
            base = cls.builtin(facts.rank_file)
            if not _same_ranks(base, ranks):
                continue
            if rule_set == facts.rule_set:
                return base
            with_rule_set = getattr(openai, "_with_rule_set", None)
            if rule_set is not None and with_rule_set is not None:
                # Another pattern that a native rule set reproduces (cl100k's
                # ranks with Llama 3's spelling): the same vocabulary, split
                # natively.
                core = cls(
                    with_rule_set(base.tokenizer, rule_set), base.bpe, base.max_ordinary_id, None
                )
            else:
                core = cls(None, base.bpe, base.max_ordinary_id, pat_str)
            core.gaps = base.gaps
            core.base = base
            return core
        from_ranks = getattr(openai, "_from_ranks", None)
        max_id = max(ranks.values(), default=-1)
        if from_ranks is not None and max_id >= _SPARSE_SLACK + 2 * len(ranks):
            # Ranks far apart: the native tables, indexed by id, would follow
            # the largest rank, not the vocabulary. Merges depend only on the
            # ranks' order, so the native encoder gets them renumbered 0, 1,
            # ... in order, and its ids are mapped back.
            in_order = sorted(ranks.items(), key=lambda item: item[1])
            try:
                tokenizer = from_ranks(name, [token for token, _ in in_order], "whole")
            except ValueError:
                return cls(None, None, max_id, pat_str, dict(ranks))
            bpe = _RenumberedBpe(tokenizer.bpe(), [rank for _, rank in in_order])
            return cls(None, bpe, max_id, pat_str, dict(ranks))
        if from_ranks is not None:
            tokens: list[bytes | None] = [None] * (max_id + 1)
            for b, i in ranks.items():
                tokens[i] = b
            try:
                tokenizer = from_ranks(name, tokens, rule_set or "whole")
            except ValueError:
                # Vocabularies the native core refuses (a single byte without
                # a token, an empty token) are accepted by tiktoken until a
                # text needs what is missing: encode them in Python, exactly.
                return cls(None, None, max_id, pat_str, dict(ranks))
            core = cls(
                tokenizer if rule_set else None,
                tokenizer.bpe(),
                max_id,
                None if rule_set else pat_str,
            )
            # Ids inside the range that name no token decode as nothing
            # natively; here they are unknown ids. Ranks are distinct
            # (_refuse_shared_ranks), so as many ranks as ids leave none.
            if len(ranks) != len(tokens):
                core.gaps = frozenset(i for i, t in enumerate(tokens) if t is None)
            return core
        return cls(None, None, max_id, pat_str, dict(ranks))

    # ---- encode

    def pieces(self, text: str) -> list[str]:
        assert self.split is not None
        return self.split.findall(text)  # type: ignore[no-any-return]

    def last_piece(self, text: str, pat_str: str) -> str:
        pieces = _compiled_pattern(pat_str).findall(text)
        return pieces[-1] if pieces else ""

    def encode_ordinary(self, text: str) -> list[int]:
        if self.tokenizer is not None and self.split is None:
            ids: list[int] = self.tokenizer.encode(text)
            return ids
        text.encode("utf-8")  # lone surrogates raise here, as natively
        out: list[int] = []
        for piece in self.pieces(text):
            out += self.encode_piece(piece.encode("utf-8"))
        return out

    def count(self, text: str) -> int:
        if self.tokenizer is not None and self.split is None:
            n: int = self.tokenizer.count(text)
            return n
        return len(self.encode_ordinary(text))

    def encode_piece(self, data: bytes) -> list[int]:
        if self.bpe is not None:
            ids: list[int] = self.bpe.encode_via_backtracking(data)
            return ids
        assert self.ranks is not None
        return _python_bpe(data, self.ranks)

    def single_token(self, data: bytes) -> int | None:
        if not data:
            return None
        if self.ranks is not None:
            return self.ranks.get(data)
        ids = self.bpe.encode_via_backtracking(data)
        if len(ids) == 1:
            return int(ids[0])
        return None

    # ---- decode

    def has_id(self, token: int) -> bool:
        if self.decoder is not None:
            return token in self.decoder
        return token not in self.gaps

    def decode(self, tokens: list[int]) -> bytes:
        if self.decoder is not None:
            return b"".join(self.decoder[t] for t in tokens)
        data: bytes = self.bpe.decode_tokens(tokens)
        return data

    def mergeable_ranks(self) -> dict[bytes, int]:
        if self.base is not None:
            return self.base.mergeable_ranks()
        if self.ranks is not None:
            return dict(self.ranks)
        if self.built_ranks is None:
            # Every token's bytes in one native call; None marks an id
            # without a token.
            tokens = self.bpe._tokens(False)
            self.built_ranks = {
                t: i
                for i, t in enumerate(tokens[: self.max_ordinary_id + 1])
                if t is not None and i not in self.gaps
            }
        # A copy: callers may change theirs.
        return dict(self.built_ranks)

    def token_byte_values(self) -> list[bytes]:
        # Shared by every Encoding over this vocabulary; callers get copies.
        if self.base is not None:
            return self.base.token_byte_values()
        if self.sorted_tokens is None:
            if self.ranks is not None:
                self.sorted_tokens = sorted(self.ranks)
            else:
                # Sorted natively; ids without a token are left out.
                self.sorted_tokens = self.bpe._tokens(True)
        return self.sorted_tokens


_builtin_cores: dict[str, _Core] = {}

# How far the largest rank may pass twice the number of tokens before the
# native encoder gets the ranks renumbered (_Core.custom).
_SPARSE_SLACK = 1 << 16


class _RenumberedBpe:
    """A native byte-pair encoding of ranks renumbered densely in their order,
    giving the vocabulary's own ranks back (for ranks far apart; decoding goes
    through the ranks themselves)."""

    def __init__(self, bpe: Any, ranks: list[int]) -> None:
        self._bpe = bpe
        self._ranks = ranks

    def encode_via_backtracking(self, data: bytes) -> list[int]:
        ranks = self._ranks
        return [ranks[i] for i in self._bpe.encode_via_backtracking(data)]


def _refuse_shared_ranks(ranks: dict[bytes, int]) -> None:
    # tiktoken refuses these too (a PanicException from its constructor): a
    # rank that names two tokens cannot decode to both.
    if len(set(ranks.values())) == len(ranks):
        return
    token_of_rank: dict[int, bytes] = {}
    for token, rank in ranks.items():
        other = token_of_rank.setdefault(rank, token)
        if other is not token:
            raise ValueError(
                f"mergeable_ranks: tokens {other!r} and {token!r} share rank {rank}; "
                "each rank must belong to one token"
            )


def _max_ordinary_id(rank_file: str) -> int:
    import velkan.bpe.openai as openai

    for name, _image, size in openai._vocabularies():
        if name == rank_file:
            return int(size) - 1
    raise ValueError(f"no native vocabulary {rank_file!r}")


def _same_ranks(base: _Core, ranks: dict[bytes, int]) -> bool:
    # A few probes settle the common cases quickly; the full comparison only
    # runs when they agree.
    for i in (0, 255, base.max_ordinary_id // 2, base.max_ordinary_id):
        if ranks.get(base.decode([i])) != i:
            return False
    # Id by id against the native token list: a list comparison, rather than
    # a dict of the whole built-in vocabulary made, hashed and compared
    # (the most of such an Encoding's build time).
    size = base.max_ordinary_id + 1
    if len(ranks) > size:
        return False
    tokens: list[bytes | None] = base.bpe._tokens(False)[:size]
    for i in base.gaps:
        tokens[i] = None
    mine: list[bytes | None] = [None] * size
    for token, rank in ranks.items():
        if type(rank) is not int or not 0 <= rank < size:
            # Ranks of another type or out of range: compare as dicts do.
            base.mergeable_ranks()
            return base.built_ranks == ranks
        mine[rank] = token
    # As many ranks as tokens: no two ranks were the same.
    return mine == tokens and len(ranks) == size - tokens.count(None)


def _python_bpe(data: bytes, ranks: dict[bytes, int]) -> list[int]:
    # Lowest-rank merge first, for vocabularies no native encoder holds yet.
    if data in ranks:
        return [ranks[data]]
    parts = [data[i : i + 1] for i in range(len(data))]
    while len(parts) > 1:
        best = None
        for i in range(len(parts) - 1):
            r = ranks.get(parts[i] + parts[i + 1])
            if r is not None and (best is None or r < best[0]):
                best = (r, i)
        if best is None:
            break
        i = best[1]
        parts[i : i + 2] = [parts[i] + parts[i + 1]]
    return [ranks[p] for p in parts]


# ---- the registry of built-in encodings --------------------------------------------

_lock = threading.Lock()
_encodings: dict[str, Encoding] = {}

# Read on every encoding_for_model call: bound once, not imported per call.
_MODEL_TO_ENCODING = _encodings_data.MODEL_TO_ENCODING
_MODEL_PREFIX_TO_ENCODING = _encodings_data.MODEL_PREFIX_TO_ENCODING


def get_encoding(encoding_name: str) -> Encoding:
    """The encoding of that name (one object per name and process)."""
    enc = _encodings.get(encoding_name)
    if enc is not None:
        return enc
    if not isinstance(encoding_name, str):
        raise ValueError(f"Expected a string in get_encoding, got {type(encoding_name)}")
    if encoding_name not in list_encoding_names():
        # Third-party tiktoken_ext plugins, looked for only now.
        from velkan import registry

        enc = registry._plugin_encoding(encoding_name)
        if enc is None:
            plugins = registry._available_plugin_modules()
            raise ValueError(
                f"Unknown encoding {encoding_name}.\n"
                f"Encodings velkan {_version()} has: {', '.join(list_encoding_names())}"
                + (f"\nPlugins found: {plugins}" if plugins else "")
            )
        with _lock:
            return _encodings.setdefault(encoding_name, enc)
    with _lock:
        enc = _encodings.get(encoding_name)
        if enc is None:
            enc = Encoding._builtin_encoding(encoding_name)
            _encodings[encoding_name] = enc
    return enc


def _version() -> str:
    from velkan import __version__

    return __version__


def list_encoding_names() -> list[str]:
    """The names of the built-in encodings this build has."""
    import velkan.bpe.openai as openai
    from velkan import _encodings_data

    return [
        name
        for name, facts in _encodings_data.ENCODINGS.items()
        if hasattr(openai, facts.rank_file)
    ]


def encoding_name_for_model(model_name: str) -> str:
    """The name of the encoding a model uses; ``KeyError`` for an unknown model."""
    name = _MODEL_TO_ENCODING.get(model_name)
    if name is not None:
        return name
    for prefix, name in _MODEL_PREFIX_TO_ENCODING.items():
        if model_name.startswith(prefix):
            return name
    raise KeyError(
        f"Could not automatically map {model_name} to a tokeniser. "
        "Please use `tiktoken.get_encoding` to explicitly get the tokeniser you expect."
    ) from None


def encoding_for_model(model_name: str) -> Encoding:
    """The encoding a model uses; ``KeyError`` for an unknown model."""
    return get_encoding(encoding_name_for_model(model_name))
