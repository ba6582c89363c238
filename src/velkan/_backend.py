"""What ``Encoding`` calls to encode and decode: one backend per encoding,
over its vocabulary (``_vocabulary.Vocabulary``) and its special tokens
(``_added_tokens.Specials``). Every choice between the native calls and the
general path lives here: a vocabulary whose rule set is native goes through
one native call per method; the rest (patterns split by the regex package,
ranks the native core refuses, argument shapes the native calls leave) runs
the general path (``velkan._general``), with the same ids and errors.
Special tokens are found by the native finder on every path; the unstable
end of a text (``encode_with_unstable``, ``_encode_bytes`` on the general
path) is ``velkan._unstable``."""

from __future__ import annotations

import functools
from collections.abc import Iterator, Sequence
from typing import TYPE_CHECKING, Any, Callable, Protocol

from velkan import _unstable
from velkan._added_tokens import AllowedSpecial, DisallowedSpecial, Specials
from velkan._vocabulary import Vocabulary

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt


class Backend:
    """The byte-pair work of one encoding."""

    def __init__(self, vocabulary: Vocabulary, specials: Specials) -> None:
        self.vocabulary = vocabulary
        self.specials = specials
        native_specials = specials.native
        # Native whole-text calls: a tokenizer that splits the text itself.
        self.native = vocabulary.tokenizer if vocabulary.split is None else None
        # Native decoding: a byte-pair encoding that holds the ordinary ids
        # and refuses the ids that name no token.
        self.native_bpe = (
            vocabulary.bpe
            if vocabulary.decoder is None
            and not any(vocabulary.bpe.decode_tokens([i]) for i in vocabulary.gaps)
            else None
        )
        # Whole-text calls straight to the tokenizer where it splits the text
        # itself: one Python frame less per call.
        native_split = vocabulary.tokenizer is not None and vocabulary.split is None
        self._encode_ordinary: Callable[[str], list[int]] = (
            vocabulary.tokenizer.encode if native_split else vocabulary.encode_ordinary
        )
        self._count: Callable[[str], int] = (
            vocabulary.tokenizer.count if native_split else vocabulary.count
        )
        # Native single-token lookups and _encode_bytes, where the vocabulary
        # (and for the latter the split) is native.
        token_id = getattr(vocabulary.bpe, "_token_id", None)
        self.single_token: Callable[[bytes], int | None] = (
            token_id
            if token_id is not None and vocabulary.ranks is None
            else vocabulary.single_token
        )
        self.token_bytes: Callable[[object], bytes | None] | None = getattr(
            self.native_bpe, "_token_bytes", None
        )
        # encode_piece, straight to the native encoder where there is one.
        self.piece_encoder: Callable[[bytes], list[int]] = (
            vocabulary.bpe.encode_via_backtracking
            if vocabulary.bpe is not None
            else vocabulary.encode_piece
        )
        self.bytes_encoder: Callable[[bytes], list[int]] | None = (
            vocabulary.tokenizer._encode_bytes if native_split else None
        )
        # Native calls Encoding makes before asking the backend, so that the
        # common call crosses one Python frame, not two: None where there is
        # none; fast_encode(text, native_specials, allowed, disallowed) gives
        # NotImplemented for argument shapes it leaves to encode().
        self.fast_encode: Callable[[str, Any, Any, Any], Any] | None = (
            self.native.encode_special if self.native is not None else None
        )
        # Decoding: the native finder's calls over the native encoding, or the
        # general path's with the same calls (its decode_bpe argument unused).
        self._decoding: Any = native_specials
        self._decode_bpe: Any = self.native_bpe
        if self.native_bpe is None:
            from velkan._general import GeneralDecoding

            self._decoding = GeneralDecoding(vocabulary, specials)
        # fast_decode(native_bpe, tokens, errors).
        self.fast_decode: Callable[[Any, Sequence[int], str], str] | None = (
            native_specials.decode if self.native_bpe is not None else None
        )

    @property
    def tokenizer(self) -> Any:
        """The native ``velkan.bpe.openai.Tokenizer``, or None when the pattern
        has no native rule set (pieces then come from the regex package)."""
        return self.vocabulary.tokenizer

    def stream_prefix(self) -> StreamPrefix:
        """What a new stream asks for the certain start of its buffer:
        ``(data, last, want_ids) -> (ids or count, bytes used)``, with
        ``retry_bytes``, the buffer size from which a try that gave nothing
        waits for twice as much."""
        if self.vocabulary.tokenizer is not None:
            return _NativePrefix(self.vocabulary.tokenizer)
        from velkan._general import PatternPrefix

        return PatternPrefix(self.vocabulary)

    @property
    def budget(self) -> Any:
        """What chunks, truncates and gives token offsets (``chunks``,
        ``chunk_spans``, ``truncate``, ``encode_with_offsets``): the native
        tokenizer where there is one, else the general path's."""
        if self.vocabulary.tokenizer is not None:
            return self.vocabulary.tokenizer
        from velkan._general import PatternBudget

        return PatternBudget(self)

    @property
    def max_ordinary_id(self) -> int:
        return self.vocabulary.max_ordinary_id

    # ---- encoding ---------------------------------------------------------------

    def encode_ordinary(self, text: str) -> list[int]:
        encode = self._encode_ordinary
        try:
            return encode(text)
        except UnicodeEncodeError:
            # UTF-8 has no lone surrogates: mend them to U+FFFD, as tiktoken does.
            return encode(replace_surrogates(text))

    def encode(
        self, text: str, allowed_special: AllowedSpecial, disallowed_special: DisallowedSpecial
    ) -> list[int]:
        native = self.native
        if native is not None:
            # One native call checks, finds the allowed tokens and encodes;
            # NotImplemented leaves the unusual arguments to the code below.
            specials = self.specials.native
            try:
                ids = native.encode_special(text, specials, allowed_special, disallowed_special)
            except UnicodeEncodeError:
                ids = native.encode_special(
                    replace_surrogates(text), specials, allowed_special, disallowed_special
                )
            if ids is not NotImplemented:
                return ids  # type: ignore[no-any-return]
        if not isinstance(text, str):
            # What tiktoken's own check says of bytes.
            raise TypeError("cannot use a string pattern on a bytes-like object")
        allowed, disallowed = self.specials.resolve(allowed_special, disallowed_special)
        self.specials.check_disallowed(text, allowed, disallowed)
        try:
            return self.encode_allowed(text, allowed)
        except UnicodeEncodeError:
            return self.encode_allowed(replace_surrogates(text), allowed)

    def encode_allowed(self, text: str, allowed: frozenset[str]) -> list[int]:
        """The ids of text with the allowed special tokens found (the check of
        disallowed ones is done)."""
        if self.native is not None:
            found = self.native.encode_special(text, self.specials.native, allowed, ())
            if found is not NotImplemented:
                return found  # type: ignore[no-any-return]
        encode = self.vocabulary.encode_ordinary
        if not allowed:
            return encode(text)
        # Found by the native finder in the UTF-8 (lone surrogates raise
        # here, as in encode_ordinary); the text between is valid UTF-8,
        # since a token's text begins with a whole character.
        data = text.encode("utf-8")
        ids: list[int] = []
        pos = 0
        for start, end, token in self.specials_in(data, allowed):
            if start > pos:
                ids += encode(data[pos:start].decode("utf-8"))
            ids.append(token)
            pos = end
        if pos == 0:
            return encode(text)
        ids += encode(data[pos:].decode("utf-8"))
        return ids

    def encode_to_numpy(
        self, text: str, allowed_special: AllowedSpecial, disallowed_special: DisallowedSpecial
    ) -> npt.NDArray[np.uint32]:
        numpy = numpy_module()
        # Lone surrogates raise UnicodeEncodeError here, as in tiktoken.
        flat = self._flat([text], 1, allowed_special, disallowed_special, strict=True)
        if flat is not None:
            array: npt.NDArray[np.uint32] = numpy.frombuffer(flat[0], dtype=numpy.uint32)
            return array
        ids = self.encode(text, allowed_special, disallowed_special)
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
                allowed, disallowed = self.specials.resolve(
                    allowed_special,  # type: ignore[arg-type]
                    disallowed_special,  # type: ignore[arg-type]
                )
                for text in texts:
                    self.specials.check_disallowed(text, allowed, disallowed)
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
        native = self._batch_tokenizer(texts)
        if native is None:
            return NotImplemented
        call = native.encode_batch_flat if flat else native.encode_batch_parallel
        return call(
            texts,
            num_threads=threads(num_threads),
            specials=self.specials.native,
            allowed_special=allowed_special,
            disallowed_special=disallowed_special,
        )

    def _batch_tokenizer(self, texts: object) -> Any:
        # The native tokenizer when it takes these texts (a list of str) in
        # one call on the worker pool, without the interpreter lock; else None.
        if self.native is None or type(texts) is not list:
            return None
        return self.native if all(type(t) is str for t in texts) else None

    def encode_ordinary_batch(self, texts: list[str], num_threads: int) -> list[list[int]]:
        tokenizer = self._batch_tokenizer(texts)
        if tokenizer is not None:
            try:
                batch: list[list[int]] = tokenizer.encode_batch_parallel(
                    texts, num_threads=threads(num_threads)
                )[0]
                return batch
            except UnicodeEncodeError:
                pass  # lone surrogates: text by text below
        check_texts("encode_ordinary_batch", texts, bytes_too=True)
        return map_threads(self.encode_ordinary, texts, num_threads)

    def encode_batch(
        self,
        texts: list[str],
        num_threads: int,
        allowed_special: AllowedSpecial,
        disallowed_special: DisallowedSpecial,
    ) -> list[list[int]]:
        try:
            result = self._native_batch(
                False, texts, num_threads, allowed_special, disallowed_special
            )
        except UnicodeEncodeError:
            result = NotImplemented  # lone surrogates: text by text below
        if result is not NotImplemented:
            return result[0]  # type: ignore[no-any-return]
        check_texts("encode_batch", texts, bytes_too=False)
        specials = self.specials
        allowed, disallowed = specials.resolve(allowed_special, disallowed_special)
        if not allowed and isinstance(texts, list) and all(type(t) is str for t in texts):
            for t in texts:
                specials.check_disallowed(t, allowed, disallowed)
            return self.encode_ordinary_batch(texts, num_threads)
        return map_threads(
            functools.partial(self.encode, allowed_special=allowed, disallowed_special=disallowed),
            texts,
            num_threads,
        )

    def encode_batch_to_numpy(
        self,
        texts: Sequence[str],
        num_threads: int,
        allowed_special: AllowedSpecial,
        disallowed_special: DisallowedSpecial,
    ) -> tuple[npt.NDArray[np.uint32], npt.NDArray[np.int64]]:
        np = numpy_module()
        flat = self._flat(list(texts), num_threads, allowed_special, disallowed_special)
        if flat is not None:
            # Zero-copy views of the native buffers.
            return np.frombuffer(flat[0], dtype=np.uint32), np.frombuffer(flat[1], dtype=np.int64)
        batch = self.encode_batch(list(texts), num_threads, allowed_special, disallowed_special)
        offsets = np.zeros(len(batch) + 1, dtype=np.int64)
        np.cumsum([len(ids) for ids in batch], out=offsets[1:])
        ids = np.fromiter(
            (i for ids in batch for i in ids), dtype=np.uint32, count=int(offsets[-1])
        )
        return ids, offsets

    def count(self, text: str) -> int:
        count = self._count
        try:
            return count(text)
        except UnicodeEncodeError:
            return count(replace_surrogates(text))

    def count_batch(self, texts: list[str], num_threads: int) -> list[int]:
        tokenizer = self._batch_tokenizer(texts)
        if tokenizer is not None:
            try:
                counts: list[int] = tokenizer.count_batch(texts, num_threads=threads(num_threads))
                return counts
            except UnicodeEncodeError:
                pass  # lone surrogates: text by text below
        check_texts("count_batch", texts, bytes_too=True)
        return map_threads(self.count, texts, num_threads)

    def encode_piece(self, data: bytes) -> list[int]:
        """Bytes encoded as one piece, without pre-splitting or special tokens."""
        return self.vocabulary.encode_piece(data)

    def encode_bytes(self, data: bytes, pat_str: str) -> list[int]:
        """Bytes that may not be UTF-8, by tiktoken's rule (see
        ``velkan._unstable.encode_bytes``)."""
        if self.bytes_encoder is not None and type(data) is bytes:
            return self.bytes_encoder(data)
        return _unstable.encode_bytes(self, data, pat_str)

    # The stable tokens of text and every way its unstable end could be
    # tokenized once more text follows: the same on every path.
    encode_with_unstable = _unstable.encode_with_unstable

    def specials_in(self, data: bytes, allowed: frozenset[str]) -> Iterator[tuple[int, int, int]]:
        """(start, end, id) of each allowed special token in data, in order."""
        find = self.specials.native.find
        found = find(data, 0, allowed)
        while found is not None:
            yield found
            found = find(data, found[1], allowed)

    # ---- decoding ---------------------------------------------------------------
    # One interface serves both paths: self._decoding is the native finder's
    # (over self._decode_bpe) or the general path's, with the same calls.

    def decode_bytes(self, tokens: Sequence[int]) -> bytes:
        data: bytes = self._decoding.decode(self._decode_bpe, tokens)
        return data

    def decode(self, tokens: Sequence[int], errors: str) -> str:
        if type(errors) is str:
            text: str = self._decoding.decode(self._decode_bpe, tokens, errors)
            return text
        # What bytes.decode says of such an argument, as in tiktoken.
        return self.decode_bytes(tokens).decode("utf-8", errors=errors)

    def decode_single_token_bytes(self, token: int) -> bytes:
        if self.token_bytes is not None:
            # An ordinary id straight from the vocabulary; None for anything
            # else (an id without a token, a special one, not an int), which
            # the call below answers or refuses.
            found = self.token_bytes(token)
            if found is not None:
                return found
        data: bytes = self._decoding.tokens_bytes(self._decode_bpe, (token,))[0]
        return data

    def decode_tokens_bytes(self, tokens: Sequence[int]) -> list[bytes]:
        pieces: list[bytes] = self._decoding.tokens_bytes(self._decode_bpe, tokens)
        return pieces

    def decode_with_offsets(self, tokens: Sequence[int]) -> tuple[str, list[int]]:
        result: tuple[str, list[int]] = self._decoding.tokens_bytes(self._decode_bpe, tokens, True)
        return result

    def decode_batch(
        self, batch: Sequence[Sequence[int]], errors: str, num_threads: int
    ) -> list[str]:
        if type(errors) is str:
            texts: list[str] = self._decoding.decode_batch(self._decode_bpe, batch, errors)
            return texts
        return map_threads(functools.partial(self.decode, errors=errors), batch, num_threads)

    def decode_bytes_batch(self, batch: Sequence[Sequence[int]], num_threads: int) -> list[bytes]:
        data: list[bytes] = self._decoding.decode_batch(self._decode_bpe, batch)
        return data


class StreamPrefix(Protocol):
    retry_bytes: int

    def __call__(self, data: bytes, last: bool, want_ids: bool, /) -> tuple[Any, int]: ...


class _NativePrefix:
    """A stream's certain start from the native tokenizer."""

    # Large: the native split is fast, and a piece that never ends (a huge
    # whitespace run) is split O(log n) times this way.
    retry_bytes = 256 * 1024

    def __init__(self, tokenizer: Any) -> None:
        self._encode = tokenizer._encode_prefix
        self._count = tokenizer._count_prefix

    def __call__(self, data: bytes, last: bool, want_ids: bool) -> tuple[Any, int]:
        got: tuple[Any, int] = (self._encode if want_ids else self._count)(data, last)
        return got


def replace_surrogates(text: str) -> str:
    """text with surrogate pairs joined into their character and lone ones
    made U+FFFD (UTF-8 has no surrogates), as tiktoken mends them."""
    return text.encode("utf-16", "surrogatepass").decode("utf-16", "replace")


def map_threads(fn: Callable[[Any], Any], items: Sequence[Any], num_threads: int) -> list[Any]:
    # The native calls release the interpreter lock on long texts, so
    # threads run them side by side; small batches are not worth a pool.
    count = threads(num_threads) or len(items)
    if count <= 1 or len(items) < 2:
        return [fn(x) for x in items]
    # Imported here: concurrent.futures (and the logging it brings) would
    # be a quarter of `import velkan`.
    from concurrent.futures import ThreadPoolExecutor

    with ThreadPoolExecutor(min(count, len(items))) as e:
        return list(e.map(fn, items))


def threads(num_threads: int | None) -> int:
    """The cap on a batch's threads: None (as ThreadPoolExecutor takes it) is
    no cap (0); below one is one."""
    if num_threads is None:
        return 0
    return max(1, num_threads)


def check_texts(function: str, texts: object, bytes_too: bool) -> None:
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


def numpy_module() -> Any:
    try:
        import numpy
    except ImportError as e:
        raise ModuleNotFoundError(
            "this method returns numpy arrays and needs numpy: pip install numpy"
        ) from e
    return numpy
