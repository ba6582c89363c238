"""The general path: what serves an encoding whose pattern has no native
rule set, behind the backend's interface (``velkan._backend``), with the
same ids as the native calls.

``PatternPrefix`` is a stream's certain start for such a pattern: the regex
package splits the buffer, and a piece is certain when no attempt of the
pattern up to its end can read past the buffer (see ``_probe_pattern``).
Patterns with constructs that probe cannot bound (look-behinds, ``\\G``, some
flags) are held whole until the stream's end."""

from __future__ import annotations

import codecs
from typing import Any

from velkan._vocabulary import Vocabulary

# Characters kept before a cut for the assertions of a pattern that look back
# one character (\b, \B, \m, \M).
_CONTEXT = 4


class PatternPrefix:
    """The ids of a stream buffer's start whose pieces no later text can
    change, for a pattern the regex package splits; called as
    ``(data, last, want_ids) -> (ids or count, bytes used)``. One per stream:
    it keeps the text just before the buffer."""

    # A buffer this large that gave nothing waits until it has doubled: every
    # try probes the held text.
    retry_bytes = 4096

    def __init__(self, vocabulary: Vocabulary) -> None:
        assert vocabulary.pat_str is not None
        self._vocabulary = vocabulary
        # The text just before the buffer, in the same segment.
        self._context = ""
        self._probe = _compiled_probe(vocabulary.pat_str)

    def __call__(self, data: bytes, last: bool, want_ids: bool) -> tuple[Any, int]:
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
