r"""Streaming encode: ``Encoding.stream()``.

A stream takes a text in parts of any size (str, or bytes cut anywhere, even
inside a UTF-8 character) and gives back the ids of every piece whose end no
later part can change; the rest waits in a buffer for the next part or for
``finish()``. The ids of all calls, joined, are those of encoding the whole
text at once. Each byte is split and encoded once, and the buffer holds only
what is not yet certain: about the last piece, a few characters and any
unfinished special token.

The native tokenizer decides what is certain (``Tokenizer._encode_prefix``);
for a pattern without a native rule set the general path does
(``velkan._general.PatternPrefix``): a piece is certain when no attempt of
the pattern up to its end can read past the buffer. Patterns with constructs that probe
cannot bound (look-behinds, ``\G``, some flags) are held whole until
``finish()``; so is a piece that really never ends (``[^\n]+`` on a text
without line breaks): watch ``held_bytes``.
"""

from __future__ import annotations

from collections.abc import Mapping
from typing import Any, Union

from velkan._added_tokens import raise_disallowed_special_token
from velkan._backend import Backend, replace_surrogates

__all__ = ["Stream"]

Data = Union[str, bytes, bytearray, memoryview]


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
        name: str,
        backend: Backend,
        allowed: Mapping[str, int],
        disallowed: frozenset[str],
    ) -> None:
        """A stream of the encoding called name, over its backend; allowed
        maps the special tokens found to their ids, disallowed holds those
        whose text raises (both resolved by ``Encoding.stream``)."""
        self._name = name
        # Found and refused by the native finder encode uses, over the bytes
        # held here; what this class adds is holding a token cut between parts.
        self._finder = backend.specials.native
        self._allowed = frozenset(allowed)
        self._disallowed = disallowed
        allowed_bytes = frozenset(s.encode("utf-8") for s in allowed)
        # Lone surrogates kept as their bytes: such a string is never found,
        # but a buffer ending in its start waits as for any other.
        disallowed_bytes = frozenset(s.encode("utf-8", "surrogatepass") for s in disallowed)
        self._max_disallowed = max(map(len, disallowed_bytes), default=0)
        specials = allowed_bytes | disallowed_bytes
        # Every proper prefix of a special token: a buffer ending in one may
        # still grow into that token.
        self._partials = frozenset(t[:k] for t in specials for k in range(1, len(t)))
        self._max_partial = max(map(len, specials), default=1) - 1
        self._first_bytes = frozenset(t[:1] for t in specials)
        # The certain start of a buffer: the native tokenizer's, or for a
        # pattern without a native rule set the general path's.
        self._prefix = backend.stream_prefix()
        self._retry_bytes = self._prefix.retry_bytes
        # What is held: _buf, then the parts in _pending (kept apart while a
        # long unfinished piece waits, so that no part is copied per feed).
        self._buf = b""
        self._pending: list[bytes] = []
        self._pending_size = 0
        # The last bytes fed, for a disallowed token cut across two parts.
        self._recent = b""
        # The text from a disallowed string found on: tiktoken names the first
        # string of its set's order that starts leftmost, which may be one
        # still to arrive; until that is settled nothing more is encoded.
        self._refused: bytes | None = None
        self._kind: type | None = None
        self._high_surrogate = ""  # a str part's last character, when half a pair
        # A buffer of _retry_bytes or more that gave nothing is tried again
        # only once it has doubled: a piece that never ends (a huge
        # whitespace run) is then split O(log n) times, not once per part.
        self._wait_until = 0
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
        return "<velkan stream of %r, %s>" % (self._name, state)

    @property
    def held_bytes(self) -> int:
        """Bytes fed but not yet encoded: the unfinished tail (a caller that
        must bound memory checks it after each feed)."""
        return self._held_bytes()

    def _held_bytes(self) -> int:
        return len(self._buf) + self._pending_size

    # ---- parts in --------------------------------------------------------------------

    def _bytes_of(self, data: Data) -> tuple[bytes, bytes]:
        """The part's UTF-8, and what the check for disallowed tokens reads:
        the same bytes, or for a str with lone surrogates the str as it is
        (each surrogate as its three bytes), as tiktoken checks it before it
        mends the text."""
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
            part = data if type(data) is bytes else bytes(data)
            return part, part
        data = self._high_surrogate + data
        self._high_surrogate = ""
        # Half a surrogate pair waits for its other half.
        if data and "\ud800" <= data[-1] <= "\udbff":
            self._high_surrogate = data[-1]
            data = data[:-1]
        try:
            part = data.encode("utf-8")
            return part, part
        except UnicodeEncodeError:
            return replace_surrogates(data).encode(), data.encode("utf-8", "surrogatepass")

    def _run(self, data: Data | None, last: bool, want_ids: bool) -> Any:
        if self._done:
            raise ValueError("stream is finished: make a new one with Encoding.stream()")
        if data is not None:
            part, checked = self._bytes_of(data)
        elif self._high_surrogate:
            # A lone high surrogate at the very end: U+FFFD, as encode gives.
            part = "\ufffd".encode()
            checked = self._high_surrogate.encode("utf-8", "surrogatepass")
            self._high_surrogate = ""
        else:
            part = checked = b""
        try:
            if self._check_disallowed(checked, last):
                return [] if want_ids else 0
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

    def _check_disallowed(self, part: bytes, last: bool) -> bool:
        """Raises tiktoken's ValueError once the text holds a disallowed
        string and the one it names is settled; True while that waits."""
        if not self._disallowed:
            return False
        if self._refused is None:
            if not part:
                if last and "" in self._disallowed:
                    raise_disallowed_special_token("")  # an empty text has it too
                return False
            keep = self._max_disallowed - 1
            window = self._recent + part
            # A token cut between the parts fed so far and this one lies in
            # the seam; the window holds every place the first one can start.
            seam = window[: len(self._recent) + keep]
            self._recent = window[-keep:] if keep else b""
            if self._named(seam) is None and self._named(part) is None:
                return False
            self._refused = window
        else:
            self._refused += part
        self._refuse(self._refused, last)
        return True

    def _named(self, data: bytes) -> tuple[int, str] | None:
        """Where the disallowed string the check names in data starts, and that
        string (the native finder's choice, as encode's); None without one."""
        found: tuple[int, str] | None = self._finder.find_disallowed(
            data, self._allowed, self._disallowed
        )
        return found

    def _refuse(self, text: bytes, last: bool) -> None:
        """Raises for the string tiktoken names in text (which holds one),
        unless more text may still change it."""
        found = self._named(text)
        assert found is not None
        start, name = found
        if not last:
            # A string of the set that the text ends inside, starting before
            # the one found, or there but ahead of it in the order, may win.
            named = name.encode("utf-8", "surrogatepass")
            order = [s.encode("utf-8", "surrogatepass") for s in self._disallowed]
            first = max(0, len(text) - self._max_disallowed + 1)
            for q in range(first, start + 1):
                tail = text[q:]
                for b in order:
                    if q == start and b == named:
                        break
                    if len(b) > len(tail) and b.startswith(tail):
                        return
        raise_disallowed_special_token(name)

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
        if self._allowed:
            find = self._finder.find
            while True:
                found = find(buf, pos, self._allowed)
                if found is None or found[0] >= hold:
                    break
                start, end, token = found
                # Text before a special token ends there.
                got, _ = self._prefix(buf[pos:start], True, want_ids)
                out += got
                out += [token] if want_ids else 1
                pos = end
        if pos < hold:
            segment = buf[pos:hold] if pos or hold < len(buf) else buf
            got, used = self._prefix(segment, last, want_ids)
            if used == 0 and len(segment) >= self._retry_bytes:
                self._wait_until = 2 * len(buf)
            if pos == 0:
                out = got  # the common case: no copy of the ids
            else:
                out += got
            pos += used
        self._buf = buf[pos:]
        return out
