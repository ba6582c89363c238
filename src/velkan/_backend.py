"""What ``Encoding`` calls to encode and decode: one backend per encoding,
over its vocabulary (``_vocabulary.Vocabulary``) and its special tokens
(``_added_tokens.Specials``). Every choice between the native calls and the
general path lives here: a vocabulary whose rule set is native goes through
one native call per method; the rest (patterns split by the regex package,
ranks the native core refuses, argument shapes the native calls leave) runs
the general path, with the same ids and errors. Special tokens are found by
the native finder on every path."""

from __future__ import annotations

import bisect
import functools
import itertools
from collections.abc import Iterator, Sequence
from concurrent.futures import ThreadPoolExecutor
from typing import TYPE_CHECKING, Any, Callable, Protocol

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
        allowed = self.specials.allowed_set(allowed_special)
        self.specials.check_disallowed(text, allowed, disallowed_special)
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
        for start, end, token in self._specials_in(data, allowed):
            if start > pos:
                ids += encode(data[pos:start].decode("utf-8"))
            ids.append(token)
            pos = end
        if pos == 0:
            return encode(text)
        ids += encode(data[pos:].decode("utf-8"))
        return ids

    def _specials_in(self, data: bytes, allowed: frozenset[str]) -> Iterator[tuple[int, int, int]]:
        # (start, end, id) of each allowed special token in data, in order.
        find = self.specials.native.find
        found = find(data, 0, allowed)
        while found is not None:
            yield found
            found = find(data, found[1], allowed)

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
                allowed = self.specials.allowed_set(allowed_special)  # type: ignore[arg-type]
                for text in texts:
                    self.specials.check_disallowed(text, allowed, disallowed_special)  # type: ignore[arg-type]
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
        native = self.native
        if native is None or type(texts) is not list or not all(type(t) is str for t in texts):
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
        tokenizer = self.vocabulary.tokenizer
        if tokenizer is None or self.vocabulary.split is not None:
            return None
        if not isinstance(texts, list) or not all(type(t) is str for t in texts):
            return None
        return tokenizer

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
        allowed = specials.allowed_set(allowed_special)
        disallowed: DisallowedSpecial = (
            specials.disallowed_set(allowed, disallowed_special) if disallowed_special else ()
        )
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
        """Bytes that may not be UTF-8, by tiktoken's rule: the longest UTF-8
        prefix is encoded as text; the tokens of its last piece (with the
        whitespace-only tokens before it, when that piece starts with one) are
        joined with the bytes that are not UTF-8 and that is encoded as one
        piece."""
        if self.bytes_encoder is not None and type(data) is bytes:
            return self.bytes_encoder(data)
        vocabulary = self.vocabulary
        try:
            return vocabulary.encode_ordinary(data.decode("utf-8"))
        except UnicodeDecodeError as e:
            valid = e.start
        prefix = data[:valid].decode("utf-8")
        tokens = vocabulary.encode_ordinary(prefix)
        last = vocabulary.last_piece(prefix, pat_str)
        n = len(vocabulary.encode_piece(last.encode("utf-8"))) if last else 0
        n = self._with_space_before(tokens, n)
        tail = data[valid:]
        if tokens and n:
            tail = self.decode_bytes(tokens[-n:]) + tail
            del tokens[-n:]
        tokens += vocabulary.encode_piece(tail)
        return tokens

    def _with_space_before(self, tokens: list[int], n: int) -> int:
        # The last n tokens and, when the first of them is whitespace only,
        # the whitespace-only tokens before them: they may merge differently
        # once more follows.
        if n and _all_space(self.decode_single_token_bytes(tokens[-n])):
            while n < len(tokens) and _all_space(self.decode_single_token_bytes(tokens[-n - 1])):
                n += 1
        return n

    def encode_with_unstable(
        self,
        text: str,
        allowed: frozenset[str],
        pat_str: str,
        ranks: Callable[[], dict[bytes, int]],
    ) -> tuple[list[int], list[list[int]]]:
        """The stable tokens of text and every way its unstable end could be
        tokenized once more text follows (ranks gives the mergeable ranks)."""
        # The last piece (and whitespace-only tokens before it) may merge with
        # whatever follows; every token that starts with those bytes, and the
        # tokenizations of the unstable bytes followed by such a token, are the
        # possible completions.
        tokens = self.encode_allowed(text, allowed)
        if not tokens or not text:
            return tokens, []
        # The last piece is that of the text after the last special token: the
        # pattern never sees a special token's text, and a text that ends
        # with one has nothing unstable.
        tail = text
        if allowed:
            data = text.encode("utf-8")
            end = max((found[1] for found in self._specials_in(data, allowed)), default=0)
            if end == len(data):
                return tokens, []
            tail = data[end:].decode("utf-8")
        vocabulary = self.vocabulary
        last = vocabulary.last_piece(tail, pat_str)
        if not last:
            return tokens, []
        n = self._with_space_before(tokens, len(vocabulary.encode_piece(last.encode("utf-8"))))
        stable = tokens[: len(tokens) - n]
        unstable = self.decode_bytes(tokens[len(tokens) - n :])
        completions: set[tuple[int, ...]] = set()
        by_bytes = ranks()
        # The tokens that start with some bytes are a run of the sorted tokens.
        ordered = vocabulary.token_byte_values()

        def starting_with(head: bytes) -> list[bytes]:
            run = []
            for i in range(bisect.bisect_left(ordered, head), len(ordered)):
                if not ordered[i].startswith(head):
                    break
                run.append(ordered[i])
            return run

        def encode_any(data: bytes) -> list[int]:
            try:
                return vocabulary.encode_ordinary(data.decode("utf-8"))
            except UnicodeDecodeError:
                return vocabulary.encode_piece(data)

        for token_bytes in starting_with(unstable):
            completions.add((by_bytes[token_bytes],))
        for k in range(1, len(unstable)):
            head, suffix = unstable[:k], unstable[k:]
            for token_bytes in starting_with(suffix):
                seq: list[int] = []
                taken = 0
                for i in encode_any(head + token_bytes):
                    seq.append(i)
                    taken += len(self.decode_single_token_bytes(i))
                    if taken >= len(unstable):
                        break
                completions.add(tuple(seq))
        if unstable:
            completions.add(tuple(encode_any(unstable)))
        # Whitespace at the end may be cut off from what comes before it by the
        # next character ("  " then "x" gives " ", " x").
        text_end = unstable.decode("utf-8", "ignore")
        if len(unstable) > 1 and text_end and text_end[-1].isspace():
            last_char = text_end[-1].encode("utf-8")
            before = unstable[: len(unstable) - len(last_char)]
            completions.add(
                tuple(vocabulary.encode_piece(before) + vocabulary.encode_piece(last_char))
            )
        return stable, [list(c) for c in completions]

    # ---- decoding ---------------------------------------------------------------

    def decode_bytes(self, tokens: Sequence[int]) -> bytes:
        if self.native_bpe is not None:
            data: bytes = self.specials.native.decode(self.native_bpe, tokens)
            return data
        vocabulary = self.vocabulary
        special_bytes = self.specials.bytes_of_id
        out: list[bytes] = []
        run: list[int] = []
        limit = vocabulary.max_ordinary_id
        for t in tokens:
            check_id(t)
            if t <= limit and vocabulary.has_id(t):
                run.append(t)
                continue
            special = special_bytes.get(t)
            if special is None:
                raise KeyError(f"Invalid token for decoding: {t}")
            if run:
                out.append(vocabulary.decode(run))
                run = []
            out.append(special)
        if run:
            out.append(vocabulary.decode(run))
        return b"".join(out)

    def decode(self, tokens: Sequence[int], errors: str) -> str:
        if self.native_bpe is not None and type(errors) is str:
            text: str = self.specials.native.decode(self.native_bpe, tokens, errors)
            return text
        return self.decode_bytes(tokens).decode("utf-8", errors=errors)

    def decode_single_token_bytes(self, token: int) -> bytes:
        if self.token_bytes is not None:
            # An ordinary id straight from the vocabulary; None for anything
            # else (an id without a token, a special one, not an int), which
            # the call below answers or refuses.
            found = self.token_bytes(token)
            if found is not None:
                return found
        vocabulary = self.vocabulary
        if self.native_bpe is not None:
            data: bytes = self.specials.native.tokens_bytes(self.native_bpe, (token,))[0]
            return data
        check_id(token)
        if token <= vocabulary.max_ordinary_id and vocabulary.has_id(token):
            return vocabulary.decode([token])
        special = self.specials.bytes_of_id.get(token)
        if special is None:
            raise KeyError(str(token))
        return special

    def decode_tokens_bytes(self, tokens: Sequence[int]) -> list[bytes]:
        if self.native_bpe is not None:
            pieces: list[bytes] = self.specials.native.tokens_bytes(self.native_bpe, tokens)
            return pieces
        return [self.decode_single_token_bytes(t) for t in tokens]

    def decode_with_offsets(self, tokens: Sequence[int]) -> tuple[str, list[int]]:
        if self.native_bpe is not None:
            result: tuple[str, list[int]] = self.specials.native.tokens_bytes(
                self.native_bpe, tokens, True
            )
            return result
        pieces = self.decode_tokens_bytes(tokens)
        data = b"".join(pieces)
        text = data.decode("utf-8", errors="strict")
        starts = list(itertools.accumulate(map(len, pieces[:-1]), initial=0)) if pieces else []
        return text, char_offsets(data, starts)

    def decode_batch(
        self, batch: Sequence[Sequence[int]], errors: str, num_threads: int
    ) -> list[str]:
        if self.native_bpe is not None and type(errors) is str:
            texts: list[str] = self.specials.native.decode_batch(self.native_bpe, batch, errors)
            return texts
        return map_threads(functools.partial(self.decode, errors=errors), batch, num_threads)

    def decode_bytes_batch(self, batch: Sequence[Sequence[int]], num_threads: int) -> list[bytes]:
        if self.native_bpe is not None:
            data: list[bytes] = self.specials.native.decode_batch(self.native_bpe, batch)
            return data
        return map_threads(self.decode_bytes, batch, num_threads)


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


def char_offsets(data: bytes, starts: list[int]) -> list[int]:
    """The character offset of each byte offset of starts (increasing) into
    data (UTF-8); a token that starts inside a character gets that
    character's offset. The rule lives once, natively."""
    import velkan.bpe.openai as openai

    offsets: list[int] = openai._char_offsets(data, starts)
    return offsets


def map_threads(fn: Callable[[Any], Any], items: Sequence[Any], num_threads: int) -> list[Any]:
    # The native calls release the interpreter lock on long texts, so
    # threads run them side by side; small batches are not worth a pool.
    count = threads(num_threads) or len(items)
    if count <= 1 or len(items) < 2:
        return [fn(x) for x in items]
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


def check_id(t: object) -> None:
    if not isinstance(t, int):
        raise TypeError(f"'{type(t).__name__}' object cannot be interpreted as an integer")
    if t < 0 or t >= 2**32:
        raise OverflowError("out of range integral type conversion attempted")


def numpy_module() -> Any:
    try:
        import numpy
    except ImportError as e:
        raise ModuleNotFoundError(
            "this method returns numpy arrays and needs numpy: pip install numpy"
        ) from e
    return numpy


def _all_space(data: bytes) -> bool:
    return all(b in b" \n\t" for b in data)
