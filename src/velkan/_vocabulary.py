"""The byte-pair side of an encoding, one per vocabulary: a native tokenizer
when a native rule set splits the pattern, else the regex package cutting
pieces for a native piece encoder, else (ranks the native core refuses) a
pure-Python one. Built-in vocabularies are made once per process and shared
by every ``Encoding`` over them."""

from __future__ import annotations

import functools
from typing import Any

from velkan import _encodings_data


def native_rule_set(pat_str: str) -> str | None:
    """The name of the native rule set that splits text exactly as pat_str
    does, or None (the regex package splits it then)."""
    return _encodings_data.rule_set_for_pattern(pat_str)


def builtin_names() -> list[str]:
    """The names of the built-in encodings this build embeds."""
    import velkan.bpe.openai as openai

    return [
        name
        for name, facts in _encodings_data.ENCODINGS.items()
        if hasattr(openai, facts.rank_file)
    ]


class Vocabulary:
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
        self.pat_str = pat_str
        self.split = compiled_pattern(pat_str) if pat_str is not None else None
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
        self.base: Vocabulary | None = None
        self.gaps: frozenset[int] = frozenset()
        # Of a built-in core: the cores that share its vocabulary under
        # another pattern, by pattern string, so that every Encoding with that
        # pattern shares one (and its caches); at most _MAX_VARIANTS.
        self.variants: dict[str, Vocabulary] = {}
        self.decoder: dict[int, bytes] | None = (
            {i: b for b, i in ranks.items()} if ranks is not None else None
        )

    @classmethod
    def builtin(cls, rank_file: str) -> Vocabulary:
        core = _builtins.get(rank_file)
        if core is None:
            import velkan.bpe.openai as openai

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
            _builtins[rank_file] = core
        return core

    @classmethod
    def custom(cls, name: str, pat_str: str, ranks: dict[bytes, int]) -> Vocabulary:
        import velkan.bpe.openai as openai

        rule_set = native_rule_set(pat_str)
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
            variant = base.variants.get(pat_str)
            if variant is None:
                variant = cls._variant(base, pat_str, rule_set)
                if len(base.variants) >= _MAX_VARIANTS:
                    base.variants.pop(next(iter(base.variants)), None)
                base.variants[pat_str] = variant
            return variant
        # Checked only here: ranks equal to a built-in vocabulary's are distinct.
        refuse_shared_ranks(ranks)
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
            # (refuse_shared_ranks), so as many ranks as ids leave none.
            if len(ranks) != len(tokens):
                core.gaps = frozenset(i for i, t in enumerate(tokens) if t is None)
            return core
        return cls(None, None, max_id, pat_str, dict(ranks))

    @classmethod
    def _variant(cls, base: Vocabulary, pat_str: str, rule_set: str | None) -> Vocabulary:
        import velkan.bpe.openai as openai

        with_rule_set = getattr(openai, "_with_rule_set", None)
        if rule_set is not None and with_rule_set is not None:
            # Another pattern that a native rule set reproduces (cl100k's ranks
            # with Llama 3's spelling): the same vocabulary, split natively.
            core = cls(
                with_rule_set(base.tokenizer, rule_set), base.bpe, base.max_ordinary_id, None
            )
        else:
            core = cls(None, base.bpe, base.max_ordinary_id, pat_str)
        core.gaps = base.gaps
        core.base = base
        return core

    # ---- encode

    def pieces(self, text: str) -> list[str]:
        assert self.split is not None
        return self.split.findall(text)  # type: ignore[no-any-return]

    def last_piece(self, text: str, pat_str: str) -> str:
        pieces = compiled_pattern(pat_str).findall(text)
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

    def token_byte_values(self, copy: bool = False) -> list[bytes]:
        # Shared by every Encoding over this vocabulary: the kept list, or
        # with copy a list of the caller's own.
        if self.base is not None:
            return self.base.token_byte_values(copy)
        if self.sorted_tokens is None:
            if self.ranks is not None:
                self.sorted_tokens = sorted(self.ranks)
            elif copy:
                # Sorted natively (ids without a token left out), the copy
                # made beside the kept list: copied afterwards, every object
                # would be touched again.
                self.sorted_tokens, fresh = self.bpe._tokens(True, True)
                return fresh  # type: ignore[no-any-return]
            else:
                self.sorted_tokens = self.bpe._tokens(True)
        return list(self.sorted_tokens) if copy else self.sorted_tokens


_builtins: dict[str, Vocabulary] = {}

# How far the largest rank may pass twice the number of tokens before the
# native encoder gets the ranks renumbered (Vocabulary.custom).
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


# Patterns of one built-in vocabulary kept at once (each core another rule
# set's tokenizer with its segment cache, or a compiled pattern).
_MAX_VARIANTS = 8


def refuse_shared_ranks(ranks: dict[bytes, int]) -> None:
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


def _same_ranks(base: Vocabulary, ranks: dict[bytes, int]) -> bool:
    # Natively, token by token against the built-in's bytes: no dict of the
    # whole built-in vocabulary made, hashed and compared (which was most of
    # such an Encoding's build time).
    same = base.bpe._same_ranks(ranks, base.max_ordinary_id + 1)
    if same is None:
        # Ranks of another type (True for 1, say): compare as dicts do.
        base.mergeable_ranks()
        return base.built_ranks == ranks
    return bool(same)


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


@functools.lru_cache(maxsize=16)
def compiled_pattern(pat_str: str) -> Any:
    import regex  # type: ignore[import-untyped]

    return regex.compile(pat_str)
