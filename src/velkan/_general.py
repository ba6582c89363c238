"""The general path: what serves an encoding whose pattern has no native
rule set, behind the backend's interface (``velkan._backend``), with the
same ids as the native calls.

``PatternPrefix`` is a stream's certain start for such a pattern: the regex
package splits the buffer, and a piece is certain when no attempt of the
pattern up to its end can read past the buffer (see ``_probe_pattern``).
Patterns with constructs that probe cannot bound (look-behinds, ``\\G``, some
flags) are held whole until the stream's end.

``PatternBudget`` is chunks, truncation and token offsets for such a pattern.
What stays here is only what needs the pattern's own split: the rules both
paths share (character offsets, how good a chunk's cut is) are native, in
``velkan.bpe.openai``."""

from __future__ import annotations

import bisect
import codecs
import itertools
from collections.abc import Sequence
from typing import Any

from velkan._added_tokens import Specials
from velkan._vocabulary import Vocabulary


class GeneralDecoding:
    """Decoding where the native call cannot serve: a vocabulary that maps
    its ids itself (renumbered ranks) or whose range holds ids that name no
    token (natively they decode as nothing; here they are unknown, as in
    tiktoken). Called as the native ``SpecialTokens`` is, with its encoding
    first (unused here)."""

    def __init__(self, vocabulary: Vocabulary, specials: Specials) -> None:
        self._vocabulary = vocabulary
        self._special_bytes = specials.bytes_of_id

    def decode(self, _bpe: object, tokens: Sequence[int], errors: str | None = None) -> Any:
        vocabulary = self._vocabulary
        special_bytes = self._special_bytes
        out: list[bytes] = []
        run: list[int] = []
        limit = vocabulary.max_ordinary_id
        # Every id converted before any is looked up, as the native call does.
        for t in openai()._ids(tokens):
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
        data = b"".join(out)
        return data if errors is None else data.decode("utf-8", errors=errors)

    def decode_batch(
        self, _bpe: object, batch: Sequence[Sequence[int]], errors: str | None = None
    ) -> list[Any]:
        return [self.decode(None, tokens, errors) for tokens in batch]

    def tokens_bytes(self, _bpe: object, tokens: Sequence[int], offsets: bool = False) -> Any:
        pieces = [self._token_bytes(t) for t in tokens]
        if not offsets:
            return pieces
        data = b"".join(pieces)
        text = data.decode("utf-8", errors="strict")
        starts = list(itertools.accumulate(map(len, pieces[:-1]), initial=0)) if pieces else []
        return text, openai()._char_offsets(data, starts)

    def _token_bytes(self, token: int) -> bytes:
        (token,) = openai()._ids((token,))
        vocabulary = self._vocabulary
        if token <= vocabulary.max_ordinary_id and vocabulary.has_id(token):
            return vocabulary.decode([token])
        special = self._special_bytes.get(token)
        if special is None:
            raise KeyError(str(token))
        return special


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


class PatternBudget:
    """Chunks, truncation and token offsets for a pattern without a native
    rule set, with the native Tokenizer's methods and messages: over any
    source of tiktoken's ``encode_ordinary`` and ``decode_single_token_bytes``
    (an Encoding's backend). Chunks cut at token boundaries of the whole text's
    encoding, each checked by encoding it alone, and rank their cuts by the
    native rule (``velkan.bpe.openai._cut_levels``)."""

    def __init__(self, source: Any) -> None:
        self._encode = source.encode_ordinary
        self._token_bytes = source.decode_single_token_bytes

    def chunks(self, text: str, max_tokens: int, *, overlap: int = 0) -> list[str]:
        spans = self._spans("chunks", text, max_tokens, overlap)
        return [text[a:b] for a, b in spans]

    def truncate(self, text: str, max_tokens: int, *, side: str = "right") -> str:
        openai()._check_budget("truncate", max_tokens, side)
        n = len(text)

        def fits(kept: int) -> bool:
            part = text[:kept] if side == "right" else text[n - kept :]
            return len(self._encode(part)) <= max_tokens

        if fits(n):
            return text
        # Lengths that double from about the budget while the part fits, so
        # that the work follows the part kept, then a bisection between one
        # that fits and one that does not: the part cannot keep one more
        # character.
        good, bad = 0, min(n, 4 * max_tokens + 16)
        while bad < n and fits(bad):
            good, bad = bad, min(n, 2 * bad)
        kept = _longest_fit(good, bad, fits)
        return text[:kept] if side == "right" else text[n - kept :]

    def encode_with_offsets(self, text: str) -> tuple[list[int], list[int]]:
        ids: list[int] = self._encode(text)
        lengths = [len(self._token_bytes(token)) for token in ids[:-1]]
        starts = list(itertools.accumulate(lengths, initial=0)) if ids else []
        if not isinstance(text, str):
            return ids, starts
        return ids, openai()._char_offsets(text.encode("utf-8"), starts)

    def chunk_spans(self, text: str, max_tokens: int, *, overlap: int = 0) -> list[tuple[int, int]]:
        return self._spans("chunk_spans", text, max_tokens, overlap)

    def _spans(
        self, function: str, text: str, max_tokens: int, overlap: int
    ) -> list[tuple[int, int]]:
        """Where no cut at a token boundary fits, or the chunk would be less
        than half full before a stretch between cuts longer than the budget,
        the cut goes at the longest character boundary that fits, as the
        native path cuts inside a piece. Errors are the native method's."""
        native = openai()
        native._check_budget(function, max_tokens, overlap)
        data = text.encode("utf-8")
        ids = self._encode(text)
        # Byte offsets where a token starts at a character boundary, and the
        # tokens before each (for the window; each chunk is checked exactly).
        cuts: list[int] = []
        numbers: list[int] = []
        pos = 0
        for number, token in enumerate(ids, 1):
            pos += len(self._token_bytes(token))
            if pos == len(data) or data[pos] & 0xC0 != 0x80:
                cuts.append(pos)
                numbers.append(number)
        # The same cuts in characters, each with its level (levels[0], the
        # start, is never asked).
        bounds = [0]
        counts = [0]
        levels = [0]
        for c, number, level in zip(
            native._char_offsets(data, cuts), numbers, native._cut_levels(data, cuts)
        ):
            if c != bounds[-1]:
                bounds.append(c)
                counts.append(number)
                levels.append(level)
        n = len(text)

        def fits(start: int, end: int) -> bool:
            return len(self._encode(text[start:end])) <= max_tokens

        spans: list[tuple[int, int]] = []
        start = 0
        last_end = 0
        while start < n:
            b = bisect.bisect_right(bounds, start) - 1  # the last cut at or before start
            base = counts[b]
            e = b
            while e + 1 < len(bounds) and counts[e + 1] - base <= max_tokens:
                e += 1
            cut = e
            if bounds[e] < n:
                best = {
                    level: max((k for k in range(b + 1, e + 1) if levels[k] >= level), default=-1)
                    for level in range(5)
                }
                for level in range(4, -1, -1):
                    k = best[level]
                    if k >= 0 and 2 * (counts[k] - base) >= max_tokens:
                        cut = k
                        break
            while cut > b and not fits(start, bounds[cut]):
                cut -= 1
            end = bounds[cut] if cut > b else start
            if end < n and (
                cut == b or 2 * (counts[cut] - base) < max_tokens and not fits(end, bounds[cut + 1])
            ):
                # Inside the stretch up to the next cut, at the longest
                # character boundary that fits.
                stop = bounds[cut + 1]
                if not fits(start, stop):
                    end = start + _longest_fit(
                        end - start, stop - start, lambda k, s=start: fits(s, s + k)
                    )
                else:
                    end = stop
                if end == start:
                    native._budget_too_small(function, max_tokens, start)
                spans.append((start, end))
                start = last_end = end
                continue
            if end <= last_end:
                start = bounds[bisect.bisect_left(bounds, last_end)]
                continue
            spans.append((start, end))
            last_end = end
            nb = cut
            if overlap:
                while (
                    nb - 1 > b
                    and bounds[nb - 1] > start
                    and counts[cut] - counts[nb - 1] <= overlap
                ):
                    nb -= 1
            start = bounds[nb]
        return spans


def _longest_fit(good: int, bad: int, fits: Any) -> int:
    """The n in [good, bad) with fits(n) and not fits(n + 1), by bisection,
    given fits(good) and not fits(bad)."""
    while bad - good > 1:
        middle = (good + bad) // 2
        if fits(middle):
            good = middle
        else:
            bad = middle
    return good


def openai() -> Any:
    """The extension's ``velkan.bpe.openai``, where the rules this path shares
    with the native one live."""
    import velkan.bpe.openai as module

    return module
