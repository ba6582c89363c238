"""Streaming encode: ``Encoding.stream()``.

A stream takes a text in parts of any size (str, or bytes cut anywhere, even
inside a UTF-8 character) and gives back the ids of every piece whose end no
later part can change; the rest waits in a buffer for the next part or for
``finish()``. The ids of all calls, joined, are those of encoding the whole
text at once. Each byte is split and encoded once, and the buffer holds only
what is not yet certain: about the last piece, a few characters and any
unfinished special token.

The native tokenizer decides what is certain (``Tokenizer._encode_prefix``).
A pattern without a native rule set is split here with the regex package,
cutting only before a whitespace run that has at least ``_CUSTOM_MARGIN``
characters after it, which holds for tiktoken-style patterns.
"""

from __future__ import annotations

import codecs
import re
from typing import TYPE_CHECKING, Any, Callable, Union

if TYPE_CHECKING:
    from velkan.encoding import AllowedSpecial, DisallowedSpecial, Encoding

__all__ = ["Stream"]

Data = Union[str, bytes, bytearray, memoryview]

# A buffer this large that gave nothing is tried again only once it has
# doubled: a piece that never ends (a huge whitespace run) is then split
# O(log n) times, not once per part.
_RETRY_BYTES = 256 * 1024
# Characters a custom pattern may read past a whitespace run.
_CUSTOM_MARGIN = 32


def _bytes_regex(tokens: frozenset[bytes]) -> re.Pattern[bytes] | None:
    if not tokens:
        return None
    # Longest first, as Encoding.encode matches them.
    ordered = sorted(tokens, key=lambda t: (-len(t), t))
    return re.compile(b"|".join(re.escape(t) for t in ordered))


def _common_prefix(tokens: frozenset[bytes]) -> bytes:
    if not tokens:
        return b""
    first, last = min(tokens), max(tokens)
    n = 0
    while n < min(len(first), len(last)) and first[n] == last[n]:
        n += 1
    return first[:n]


class Stream:
    """Encodes a text that arrives in parts; see ``Encoding.stream``.

    ``feed(data)`` returns the ids that are already certain, ``finish()`` the
    rest; ``feed_count`` and ``finish_count`` count them instead. A stream
    takes either str or bytes-like parts, not both. Fed str, the ids are
    ``encode`` of the joined text; fed bytes, those of the joined bytes (bytes
    that are not UTF-8 are encoded as the native ``Tokenizer.encode`` does).
    A disallowed special token raises ``ValueError`` when its text arrives;
    ids returned before then stay valid for the text before it.
    """

    def __init__(
        self,
        enc: Encoding,
        allowed_special: AllowedSpecial,
        disallowed_special: DisallowedSpecial,
    ) -> None:
        allowed = enc._allowed_set(allowed_special)
        disallowed = (
            enc._disallowed_set(allowed, disallowed_special) if disallowed_special else frozenset()
        )
        self._enc = enc
        # Allowed names the encoding lacks can never match, as in encode.
        known = enc._special_tokens
        self._allowed = {s.encode("utf-8"): known[s] for s in allowed if s in known}
        allowed_bytes = frozenset(self._allowed)
        disallowed_bytes = frozenset(s.encode("utf-8") for s in disallowed)
        self._allowed_re = _bytes_regex(allowed_bytes)
        self._allowed_prefix = _common_prefix(allowed_bytes)
        self._disallowed_re = _bytes_regex(disallowed_bytes)
        self._disallowed_prefix = _common_prefix(disallowed_bytes)
        self._max_disallowed = max(map(len, disallowed_bytes), default=0)
        specials = allowed_bytes | disallowed_bytes
        # Every proper prefix of a special token: a buffer ending in one may
        # still grow into that token.
        self._partials = frozenset(t[:k] for t in specials for k in range(1, len(t)))
        self._max_partial = max(map(len, specials), default=1) - 1
        self._first_bytes = frozenset(t[:1] for t in specials)
        tokenizer = enc._tokenizer
        self._native = tokenizer
        self._prefix: Callable[[bytes, bool, bool], tuple[Any, int]] = (
            self._native_prefix if tokenizer is not None else self._custom_prefix
        )
        # What is held: _buf, then the parts in _pending (kept apart while a
        # long unfinished piece waits, so that no part is copied per feed).
        self._buf = b""
        self._pending: list[bytes] = []
        self._pending_size = 0
        # The last bytes fed, for a disallowed token cut across two parts.
        self._recent = b""
        self._kind: type | None = None
        self._high_surrogate = ""  # a str part's last character, when half a pair
        self._wait_until = 0  # see _RETRY_BYTES
        self._done = False

    # ---- public --------------------------------------------------------------------

    def feed(self, data: Data) -> list[int]:
        """Adds the next part of the text; returns the ids now certain."""
        ids: list[int] = self._run(data, False, True)
        return ids

    def feed_count(self, data: Data) -> int:
        """``len(feed(data))``, without building the ids."""
        n: int = self._run(data, False, False)
        return n

    def finish(self) -> list[int]:
        """The ids of the rest of the text. The stream is done afterwards."""
        ids: list[int] = self._run(None, True, True)
        return ids

    def finish_count(self) -> int:
        """``len(finish())``, without building the ids."""
        n: int = self._run(None, True, False)
        return n

    def __repr__(self) -> str:
        state = "finished" if self._done else "%d bytes held" % self._held_bytes()
        return "<velkan stream of %r, %s>" % (self._enc.name, state)

    @property
    def held_bytes(self) -> int:
        """Bytes fed but not yet encoded: the unfinished tail (a caller that
        must bound memory checks it after each feed)."""
        return self._held_bytes()

    def _held_bytes(self) -> int:
        return len(self._buf) + self._pending_size

    # ---- parts in --------------------------------------------------------------------

    def _bytes_of(self, data: Data) -> bytes:
        if isinstance(data, str):
            kind: type = str
        elif isinstance(data, (bytes, bytearray, memoryview)):
            kind = bytes
        else:
            raise TypeError(
                "stream.feed: data must be str or bytes-like, not %s" % type(data).__name__
            )
        if self._kind is None:
            self._kind = kind
        elif kind is not self._kind:
            raise TypeError(
                "stream.feed: this stream was fed %s, so every part must be %s, not %s"
                % (self._kind.__name__, self._kind.__name__, type(data).__name__)
            )
        if not isinstance(data, str):
            return data if type(data) is bytes else bytes(data)
        data = self._high_surrogate + data
        self._high_surrogate = ""
        # Half a surrogate pair waits for its other half.
        if data and "\ud800" <= data[-1] <= "\udbff":
            self._high_surrogate = data[-1]
            data = data[:-1]
        try:
            return data.encode("utf-8")
        except UnicodeEncodeError:
            from velkan.encoding import _replace_surrogates

            return _replace_surrogates(data).encode("utf-8")

    def _run(self, data: Data | None, last: bool, want_ids: bool) -> Any:
        if self._done:
            raise ValueError("stream is finished: make a new one with Encoding.stream()")
        if data is not None:
            part = self._bytes_of(data)
        elif self._high_surrogate:
            # A lone high surrogate at the very end: U+FFFD, as encode gives.
            part = "\ufffd".encode()
            self._high_surrogate = ""
        else:
            part = b""
        try:
            self._check_disallowed(part)
            if not last and self._held_bytes() + len(part) < self._wait_until:
                self._pending.append(part)
                self._pending_size += len(part)
                return [] if want_ids else 0
            if self._pending:
                self._pending.append(part)
                part = b"".join(self._pending)
                self._pending = []
                self._pending_size = 0
            return self._take(self._buf + part if self._buf else part, last, want_ids)
        except BaseException:
            self._done = True  # a stream that raised cannot tell what it gave
            raise
        finally:
            if last:
                self._done = True

    # ---- special tokens ------------------------------------------------------------

    def _check_disallowed(self, part: bytes) -> None:
        if self._disallowed_re is None or not part:
            return
        keep = self._max_disallowed - 1
        # A token cut between the parts fed so far and this one lies in these.
        seam = self._recent + part[:keep]
        self._recent = (self._recent + part)[-keep:] if keep else b""
        # One byte of the tokens' common start first: a byte search runs at
        # memory speed, a search for two bytes several times slower.
        needle = self._disallowed_prefix[-1:]
        for region in (seam, part):
            if region.find(needle) == -1:
                continue
            match = self._disallowed_re.search(region)
            if match is not None:
                from velkan.encoding import raise_disallowed_special_token

                raise_disallowed_special_token(match.group().decode("utf-8"))

    def _hold_from(self, buf: bytes) -> int:
        """Where the buffer's tail that may grow into a special token starts
        (the buffer's end when none does)."""
        n = len(buf)
        tail = max(0, n - self._max_partial)
        if not any(buf.find(b, tail) != -1 for b in self._first_bytes):
            return n
        for k in range(min(self._max_partial, n), 0, -1):
            if buf[n - k :] in self._partials:
                return n - k
        return n

    # ---- encoding ---------------------------------------------------------------------

    def _take(self, buf: bytes, last: bool, want_ids: bool) -> Any:
        out: Any = [] if want_ids else 0
        pos = 0
        hold = len(buf) if last or not self._partials else self._hold_from(buf)
        if self._allowed_re is not None and buf.find(self._allowed_prefix[-1:]) != -1:
            while True:
                match = self._allowed_re.search(buf, pos)
                if match is None or match.start() >= hold:
                    break
                # Text before a special token ends there.
                got, _ = self._prefix(buf[pos : match.start()], True, want_ids)
                out += got
                out += [self._allowed[match.group()]] if want_ids else 1
                pos = match.end()
        if pos < hold:
            segment = buf[pos:hold] if pos or hold < len(buf) else buf
            got, used = self._prefix(segment, last, want_ids)
            if used == 0 and len(segment) >= _RETRY_BYTES:
                self._wait_until = 2 * len(buf)
            if pos == 0:
                out = got  # the common case: no copy of the ids
            else:
                out += got
            pos += used
        self._buf = buf[pos:]
        return out

    def _native_prefix(self, data: bytes, last: bool, want_ids: bool) -> tuple[Any, int]:
        if want_ids:
            got: tuple[Any, int] = self._native._encode_prefix(data, last)
        else:
            got = self._native._count_prefix(data, last)
        return got

    def _custom_prefix(self, data: bytes, last: bool, want_ids: bool) -> tuple[Any, int]:
        # Whole characters only: a cut inside one waits for its other bytes.
        text, valid = codecs.utf_8_decode(data, "strict", last)
        core = self._enc._core
        if last:
            ids = core.encode_ordinary(text)
            return (ids if want_ids else len(ids)), valid
        cut = _custom_cut(text)
        if cut == 0:
            return ([] if want_ids else 0), 0
        assert core.split is not None
        ids = []
        end = 0
        for match in core.split.finditer(text, 0, len(text)):
            if match.start() >= cut:
                break
            ids += core.encode_piece(match.group().encode("utf-8"))
            end = match.end()
        return (ids if want_ids else len(ids)), len(text[:end].encode("utf-8"))


_last_break: Any = None


def _custom_cut(text: str) -> int:
    """The last whitespace character before a non-whitespace one that has
    _CUSTOM_MARGIN characters after it; 0 when there is none."""
    global _last_break
    if _last_break is None:
        import regex  # type: ignore[import-untyped]

        _last_break = regex.compile(r"\s(?=[^\s/])", flags=regex.REVERSE)
    match = _last_break.search(text, 0, max(0, len(text) - _CUSTOM_MARGIN))
    return 0 if match is None else int(match.start())
