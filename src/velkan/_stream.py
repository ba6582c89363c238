r"""Streaming encode: ``Encoding.stream()``.

A stream takes a text in parts of any size (str, or bytes cut anywhere, even
inside a UTF-8 character) and gives back the ids of every piece whose end no
later part can change; the rest waits in a buffer for the next part or for
``finish()``. The ids of all calls, joined, are those of encoding the whole
text at once. Each byte is split and encoded once, and the buffer holds only
what is not yet certain: about the last piece, a few characters and any
unfinished special token.

The native tokenizer decides what is certain (``Tokenizer._encode_prefix``).
A pattern without a native rule set is split here with the regex package; a
piece is certain when no attempt of the pattern up to its end can read past
the buffer (see ``_probe_pattern``). Patterns with constructs that probe
cannot bound (look-behinds, ``\G``, some flags) are held whole until
``finish()``; so is a piece that really never ends (``[^\n]+`` on a text
without line breaks): watch ``held_bytes``.
"""

from __future__ import annotations

import codecs
from collections.abc import Mapping
from typing import Any, Callable, Union

from velkan._backend import Backend, replace_surrogates

__all__ = ["Stream"]

Data = Union[str, bytes, bytearray, memoryview]

# A buffer this large that gave nothing is tried again only once it has
# doubled: a piece that never ends (a huge whitespace run) is then split
# O(log n) times, not once per part.
_RETRY_BYTES = 256 * 1024
# The same for a pattern split here, whose every try probes the held text.
_CUSTOM_RETRY_BYTES = 4096
# Characters kept before a cut for the assertions of a custom pattern that
# look back one character (\b, \B, \m, \M).
_CONTEXT = 4


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
        self._finder = backend.specials.stream_finder(allowed)
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
        tokenizer = backend.tokenizer
        self._native = tokenizer
        self._vocabulary = backend.vocabulary
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
        # A custom pattern's text just before the buffer, in the same segment.
        self._context = ""
        self._probe: Any = None
        if tokenizer is None:
            assert backend.vocabulary.pat_str is not None
            self._probe = _compiled_probe(backend.vocabulary.pat_str)
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
            self._check_disallowed(checked)
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
        if not self._disallowed or not part:
            return
        keep = self._max_disallowed - 1
        # A token cut between the parts fed so far and this one lies in these.
        seam = self._recent + part[:keep]
        self._recent = (self._recent + part)[-keep:] if keep else b""
        check = self._finder.check_bytes
        check(seam, self._allowed, self._disallowed)
        check(part, self._allowed, self._disallowed)

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
            retry = _RETRY_BYTES if self._native is not None else _CUSTOM_RETRY_BYTES
            if used == 0 and len(segment) >= retry:
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
        core = self._vocabulary
        split = core.split
        assert split is not None
        start = len(self._context)
        full = self._context + text if start else text
        ids: list[int] = []
        if last:
            for match in split.finditer(full, start):
                ids += core.encode_piece(match.group().encode("utf-8"))
            # A special token or the end follows: the next text is split on its own.
            self._context = ""
            return (ids if want_ids else len(ids)), valid
        probe = self._probe
        if probe is None:
            return ([] if want_ids else 0), 0
        # Each attempt the split makes (at a piece's start or at a character
        # it skips) is probed; the pieces before the first attempt that may
        # read past the buffer are certain.
        cut, taken = start, 0
        checked = start
        for match in split.finditer(full, start):
            begin, end = match.span()
            while checked <= begin:
                if probe.fullmatch(full, checked, partial=True) is not None:
                    break
                checked += 1
            else:
                checked = max(checked, end)
                if end > begin:
                    ids += core.encode_piece(match.group().encode("utf-8"))
                    cut, taken = end, len(ids)
                continue
            break
        if cut == start:
            return ([] if want_ids else 0), 0
        del ids[taken:]
        self._context = full[max(0, cut - _CONTEXT) : cut]
        used = len(full[start:cut].encode("utf-8"))
        return (ids if want_ids else len(ids)), used


# What the probe puts for an assertion that looks at the next character: it
# reads that character (an attempt at the buffer's end shows) and always goes on.
_NEXT_CHAR = r"(?:(?=[\s\S])(?!)|)"
# Inline flags the probe cannot follow: verbose (the scan below would misread
# the pattern), multi-line and word boundaries (^ $ \b change), reverse,
# fuzzy matching and V1's nested sets.
_UNSUPPORTED_FLAGS = frozenset("xmwrbeV")


def _probe_pattern(pat: str) -> str | None:
    r"""A pattern for ``fullmatch(text, pos, partial=True)`` that gives a match
    when an attempt of pat at pos may read past the text's end, or None when
    pat has constructs this cannot bound.

    Made to fail at the end (fullmatch needs it), an attempt explores every
    path; the regex package reports it when a path reads past the text. What
    looks ahead without consuming is rewritten so that it reads and goes on:
    a negative look-ahead (?!X) becomes (?:(?=X)(?!)|), $ and \Z read the next
    characters, \b \B \m \M the next one. The probe then explores at least the
    paths of pat, which is what makes it safe; an atomic group, look-ahead or
    possessive repeat around a rewritten part could commit to another path, so
    those are refused, as are look-behinds (they read before a cut), \G, \K
    and \X."""
    out: list[str] = []
    # For each open group: its closing text, whether a rewritten part is in it,
    # whether it commits to its first success (atomic, look-ahead) and whether
    # it is itself rewritten.
    stack: list[list[Any]] = []
    rewritten_atom = False  # the atom just written holds a rewritten part
    i, n = 0, len(pat)

    def mark() -> None:
        for group in stack:
            group[1] = True

    while i < n:
        c = pat[i]
        atom_rewritten = False
        if c == "\\":
            if i + 1 >= n:
                return None
            e = pat[i + 1]
            if e in "GXK":
                return None
            if e in "bBmMZ":
                out.append(_NEXT_CHAR)
                mark()
                atom_rewritten = True
                i += 2
            elif e in "pPNx" and pat.startswith("{", i + 2):
                close = pat.find("}", i + 2)
                if close < 0:
                    return None
                out.append(pat[i : close + 1])
                i = close + 1
            else:
                out.append(pat[i : i + 2])
                i += 2
        elif c == "[":
            j = i + 1
            if j < n and pat[j] == "^":
                j += 1
            if j < n and pat[j] == "]":
                j += 1
            while j < n and pat[j] != "]":
                if pat[j] == "\\":
                    j += 2
                elif pat.startswith("[:", j):
                    close = pat.find(":]", j + 2)
                    if close < 0:
                        return None
                    j = close + 2
                elif pat[j] == "[":
                    return None  # a nested set (V1)
                else:
                    j += 1
            if j >= n:
                return None
            out.append(pat[i : j + 1])
            i = j + 1
        elif c == "$":
            out.append(r"(?=\n?" + _NEXT_CHAR + ")")
            mark()
            atom_rewritten = True
            i += 1
        elif c == "(":
            if pat.startswith("(?#", i):
                close = pat.find(")", i)
                if close < 0:
                    return None
                i = close + 1
                continue
            if pat.startswith(("(?<=", "(?<!"), i):
                return None
            if pat.startswith("(?=", i):
                out.append("(?=")
                stack.append([")", False, True, False])
                i += 3
            elif pat.startswith("(?!", i):
                out.append("(?:(?=")
                stack.append([")(?!)|)", False, True, True])
                i += 3
            else:
                j = i + 1
                if j < n and pat[j] == "?":
                    j += 1
                    k = j
                    while k < n and (pat[k].isalpha() or pat[k] == "-"):
                        k += 1
                    if k < n and pat[k] in ":)" and k > j:
                        if _UNSUPPORTED_FLAGS & set(pat[j:k]):
                            return None
                    if k < n and pat[k] == ")" and k > j:
                        # Flags for the rest of the pattern: no group.
                        out.append(pat[i : k + 1])
                        i = k + 1
                        continue
                atomic = pat.startswith("(?>", i)
                out.append("(")
                stack.append([")", False, atomic, False])
                i += 1
        elif c == ")":
            if not stack:
                return None
            closing, inner_rewrite, commits, itself = stack.pop()
            if inner_rewrite and commits:
                return None
            out.append(closing)
            if inner_rewrite or itself:
                mark()
            atom_rewritten = inner_rewrite or itself
            i += 1
        elif c in "*+?}":
            # A possessive repeat of a rewritten part could commit differently.
            if i + 1 < n and pat[i + 1] == "+" and rewritten_atom:
                return None
            out.append(c)
            i += 1
            atom_rewritten = rewritten_atom
        else:
            out.append(c)
            i += 1
        rewritten_atom = atom_rewritten
    if stack:
        return None
    return "".join(out)


_probes: dict[str, Any] = {}


def _compiled_probe(pat_str: str) -> Any:
    """The compiled ``_probe_pattern`` of pat_str, or None (held till finish)."""
    if pat_str in _probes:
        return _probes[pat_str]
    import regex  # type: ignore[import-untyped]

    probe = _probe_pattern(pat_str)
    compiled = None
    if probe is not None:
        try:
            compiled = regex.compile(probe)
        except regex.error:
            compiled = None
    if len(_probes) < 64:
        _probes[pat_str] = compiled
    return compiled
