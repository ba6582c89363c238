"""Reading tiktoken-format rank files, and checking a vocabulary's ids.

A rank file holds one token a line: the token's bytes in base64, a space, and
its rank (its id). velkan reads local files only and never downloads one.
"""

import base64
import binascii
import hashlib
import os
import re
from collections.abc import Mapping
from typing import Optional, Union

# Ranks become 32-bit ids in the native core.
MAX_RANK = 2**32 - 2


class RankFileError(ValueError):
    """A rank file that cannot be read as one; says which line is at fault."""

    def __init__(self, path: str, line: int, problem: str) -> None:
        super().__init__("%s, line %d: %s" % (path, line, problem))
        self.path = path
        self.line = line
        self.problem = problem


def _is_url(path: str) -> bool:
    return re.match(r"[A-Za-z][A-Za-z0-9+.-]*://", path) is not None


def load_tiktoken_bpe(
    tiktoken_bpe_file: Union[str, "os.PathLike[str]"], expected_hash: Optional[str] = None
) -> dict[bytes, int]:
    """The ranks of a tiktoken-format rank file, as {token bytes: rank}.

    tiktoken_bpe_file is a local path; a URL is refused (velkan never downloads
    anything). With expected_hash, the file's SHA-256 must equal it. Blank
    lines are skipped and ranks may leave gaps, as tiktoken allows; a line
    that is not base64, a missing or non-integer rank, a token or a rank seen
    before all raise RankFileError (a ValueError) naming the line.
    """
    path = os.fspath(tiktoken_bpe_file)
    if not isinstance(path, str):
        path = os.fsdecode(path)
    if _is_url(path):
        raise ValueError(
            "velkan reads rank files from local paths only and never downloads; "
            "got %r. Download it yourself and pass its path." % path
        )
    with open(path, "rb") as f:
        contents = f.read()
    if expected_hash is not None:
        actual = hashlib.sha256(contents).hexdigest()
        if actual != expected_hash.lower():
            raise ValueError("%s: SHA-256 is %s, expected %s" % (path, actual, expected_hash))
    return parse_tiktoken_bpe(contents, path)


def parse_tiktoken_bpe(contents: bytes, path: str = "<rank file>") -> dict[bytes, int]:
    """load_tiktoken_bpe on the file's contents; path only names it in errors."""
    ranks: dict[bytes, int] = {}
    line_of_token: dict[bytes, int] = {}
    line_of_rank: dict[int, int] = {}
    for number, line in enumerate(contents.splitlines(), 1):
        fields = line.split()
        if not fields:
            continue
        if len(fields) != 2:
            raise RankFileError(
                path,
                number,
                "expected a base64 token and a rank, found %s"
                % (
                    "only %r (no rank)" % _show(fields[0])
                    if len(fields) == 1
                    else "%d fields" % len(fields)
                ),
            )
        encoded, rank_text = fields
        try:
            # Python 3.9 decodes some bad lengths ("=", "abc==") to bytes;
            # later versions refuse them.
            if len(encoded) % 4 != 0:
                raise ValueError
            token = base64.b64decode(encoded, validate=True)
        except (binascii.Error, ValueError):
            raise RankFileError(path, number, "%r is not base64" % _show(encoded)) from None
        if not token:
            raise RankFileError(path, number, "the token is empty")
        if not rank_text.isdigit():
            raise RankFileError(
                path, number, "the rank %r is not a non-negative integer" % _show(rank_text)
            )
        rank = int(rank_text)
        if rank > MAX_RANK:
            raise RankFileError(path, number, "the rank %d exceeds %d" % (rank, MAX_RANK))
        if token in line_of_token:
            raise RankFileError(
                path, number, "token %r already appears on line %d" % (token, line_of_token[token])
            )
        if rank in line_of_rank:
            raise RankFileError(
                path, number, "rank %d already appears on line %d" % (rank, line_of_rank[rank])
            )
        ranks[token] = rank
        line_of_token[token] = number
        line_of_rank[rank] = number
    return ranks


def _show(field: bytes) -> str:
    text = field.decode("ascii", "backslashreplace")
    return text if len(text) <= 40 else text[:37] + "..."


def check_mergeable_ranks(
    mergeable_ranks: Mapping[bytes, int], special_tokens: Mapping[str, int]
) -> None:
    """Checks that ordinary and special tokens can share one id space.

    Raises ValueError naming the first few faults: a rank or special id that is
    not an integer in 0..MAX_RANK, two ordinary tokens with one rank, or a
    special token whose id is an ordinary token's rank. Several special tokens
    may share an id (o200k_harmony's <|endofprompt|> and <|reserved_200018|>).
    """
    faults: list[str] = []
    token_of_rank: dict[int, bytes] = {}
    for token, rank in mergeable_ranks.items():
        if not isinstance(token, bytes):
            faults.append("ordinary token %r is not bytes" % (token,))
        elif not _is_id(rank):
            faults.append(
                "ordinary token %r has rank %r, not an integer in 0..%d" % (token, rank, MAX_RANK)
            )
        elif rank in token_of_rank:
            faults.append(
                "ordinary tokens %r and %r share rank %d" % (token_of_rank[rank], token, rank)
            )
        else:
            token_of_rank[rank] = token
        if len(faults) >= 5:
            break
    for text, id_ in special_tokens.items():
        if len(faults) >= 5:
            break
        if not isinstance(text, str):
            faults.append("special token %r is not a str" % (text,))
        elif not _is_id(id_):
            faults.append(
                "special token %r has id %r, not an integer in 0..%d" % (text, id_, MAX_RANK)
            )
        elif id_ in token_of_rank:
            faults.append(
                "special token %r has id %d, the rank of ordinary token %r"
                % (text, id_, token_of_rank[id_])
            )
    if faults:
        raise ValueError("; ".join(faults))


def _is_id(value: object) -> bool:
    return isinstance(value, int) and not isinstance(value, bool) and 0 <= value <= MAX_RANK
