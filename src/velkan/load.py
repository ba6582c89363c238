"""Reading and writing tiktoken-format rank files, GPT-2's vocab.bpe and
encoder.json, and checking a vocabulary's ids (``tiktoken.load``'s names).

A rank file holds one token a line: the token's bytes in base64, a space, and
its rank (its id). velkan reads local files only and never downloads one: a
URL is read from tiktoken's local cache (``TIKTOKEN_CACHE_DIR``) when the file
is there, and refused otherwise.
"""

# base64, binascii, hashlib, json and tempfile are imported by the calls that
# use them: at module level they were a quarter of `import velkan`.
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


def _cache_dir() -> Optional[str]:
    import tempfile

    # Where tiktoken keeps what it downloaded: TIKTOKEN_CACHE_DIR, else
    # DATA_GYM_CACHE_DIR, else data-gym-cache in the temporary folder; an
    # empty TIKTOKEN_CACHE_DIR turns the cache off.
    if "TIKTOKEN_CACHE_DIR" in os.environ:
        cache_dir = os.environ["TIKTOKEN_CACHE_DIR"]
    elif "DATA_GYM_CACHE_DIR" in os.environ:
        cache_dir = os.environ["DATA_GYM_CACHE_DIR"]
    else:
        cache_dir = os.path.join(tempfile.gettempdir(), "data-gym-cache")
    return cache_dir or None


def check_hash(data: bytes, expected_hash: str) -> bool:
    """Whether data's SHA-256 (hex) is expected_hash."""
    import hashlib

    return hashlib.sha256(data).hexdigest() == expected_hash.lower()


def read_file(blobpath: Union[str, "os.PathLike[str]"]) -> bytes:
    """The bytes of a local file. A URL is refused: velkan never downloads
    (``read_file_cached`` reads one that tiktoken's cache holds)."""
    path = _path(blobpath)
    if _is_url(path):
        raise ValueError(
            "velkan reads files from local paths only and never downloads; got %r. "
            "Download it yourself and pass its path." % path
        )
    with open(path, "rb") as f:
        return f.read()


def read_file_cached(
    blobpath: Union[str, "os.PathLike[str]"], expected_hash: Optional[str] = None
) -> bytes:
    """The bytes of a local file, or of a URL's copy in tiktoken's cache.

    A local path is read as it is. A URL is read from the cache folder
    tiktoken downloads into (``TIKTOKEN_CACHE_DIR``, else
    ``DATA_GYM_CACHE_DIR``, else ``data-gym-cache`` in the temporary folder),
    as the file named by the SHA-1 of the URL; when it is not there the URL
    is refused (ValueError), since velkan never downloads. With
    expected_hash, the bytes' SHA-256 must equal it (ValueError otherwise).
    """
    import hashlib

    path = _path(blobpath)
    if not _is_url(path):
        contents = read_file(path)
    else:
        cache_dir = _cache_dir()
        cached = (
            os.path.join(cache_dir, hashlib.sha1(path.encode()).hexdigest())
            if cache_dir is not None
            else None
        )
        if cached is None or not os.path.isfile(cached):
            raise ValueError(
                "velkan reads files from local paths only and never downloads; %r is not "
                "in the local cache (%s). Download it yourself and pass its path, or put "
                "it there."
                % (
                    path,
                    "TIKTOKEN_CACHE_DIR is empty: no cache"
                    if cached is None
                    else "looked for " + cached,
                )
            )
        with open(cached, "rb") as f:
            contents = f.read()
        path = "%s (cached as %s)" % (path, cached)
    if expected_hash is not None and not check_hash(contents, expected_hash):
        raise ValueError(
            "%s: SHA-256 is %s, expected %s"
            % (path, hashlib.sha256(contents).hexdigest(), expected_hash)
        )
    return contents


def _path(blobpath: Union[str, "os.PathLike[str]"]) -> str:
    path = os.fspath(blobpath)
    return path if isinstance(path, str) else os.fsdecode(path)


def load_tiktoken_bpe(
    tiktoken_bpe_file: Union[str, "os.PathLike[str]"], expected_hash: Optional[str] = None
) -> dict[bytes, int]:
    """The ranks of a tiktoken-format rank file, as {token bytes: rank}.

    tiktoken_bpe_file is a local path, or a URL whose file is in tiktoken's
    local cache (see ``read_file_cached``); any other URL is refused (velkan
    never downloads anything). With expected_hash, the file's SHA-256 must
    equal it. Blank lines are skipped and ranks may leave gaps, as tiktoken
    allows; a line that is not base64, a missing or non-integer rank, a token
    or a rank seen before all raise RankFileError (a ValueError) naming the
    line.
    """
    path = _path(tiktoken_bpe_file)
    return parse_tiktoken_bpe(read_file_cached(path, expected_hash), path)


def dump_tiktoken_bpe(
    bpe_ranks: Mapping[bytes, int], tiktoken_bpe_file: Union[str, "os.PathLike[str]"]
) -> None:
    """Writes ranks as a tiktoken-format rank file (local paths only), in rank
    order; ``load_tiktoken_bpe`` reads it back."""
    import base64

    path = _path(tiktoken_bpe_file)
    if _is_url(path):
        raise ValueError("velkan writes files to local paths only; got %r" % path)
    with open(path, "wb") as f:
        for token, rank in sorted(bpe_ranks.items(), key=lambda item: item[1]):
            f.write(base64.b64encode(token) + b" " + str(rank).encode() + b"\n")


def _data_gym_byte_order() -> list[int]:
    # GPT-2's byte alphabet: the printable Latin-1 bytes stand for
    # themselves and come first; the others are the characters from U+0100
    # on, in byte order.
    printable = [
        b for b in range(256) if ord("!") <= b <= ord("~") or ord("\xa1") <= b <= ord("\xac")
    ]
    printable += [b for b in range(ord("\xae"), 256)]
    return printable + [b for b in range(256) if b not in printable]


def data_gym_to_mergeable_bpe_ranks(
    vocab_bpe_file: str,
    encoder_json_file: str,
    vocab_bpe_hash: Optional[str] = None,
    encoder_json_hash: Optional[str] = None,
    clobber_one_byte_tokens: bool = False,
) -> dict[bytes, int]:
    """The ranks of a vocabulary in GPT-2's format: vocab.bpe (its merges, in
    rank order) and encoder.json (each token's rank), both local files or
    URLs in tiktoken's cache (see ``read_file_cached``).

    The single bytes come first in GPT-2's order, then one token per merge.
    encoder.json must give the same ranks (ValueError otherwise), leaving out
    ``<|endoftext|>`` and ``<|startoftext|>``; with clobber_one_byte_tokens,
    the single bytes take their ranks from encoder.json instead.
    """
    import json

    order = _data_gym_byte_order()
    # The character GPT-2's files write for each byte.
    byte_of_char = {chr(b) if n < 188 else chr(256 + n - 188): b for n, b in enumerate(order)}
    ranks: dict[bytes, int] = {bytes([b]): i for i, b in enumerate(order)}

    def to_bytes(text: str, where: str) -> bytes:
        try:
            return bytes(byte_of_char[c] for c in text)
        except KeyError as e:
            raise ValueError(
                "%s: %r holds %r, which is no byte of GPT-2's alphabet" % (where, text, e.args[0])
            ) from None

    vocab_bpe = read_file_cached(vocab_bpe_file, vocab_bpe_hash).decode()
    # The first line names the format version; merges follow, one a line.
    for number, line in enumerate(vocab_bpe.split("\n")[1:], 2):
        if not line:
            continue
        parts = line.split()
        if len(parts) != 2:
            raise ValueError(
                "%s, line %d: expected two tokens to merge, found %r"
                % (vocab_bpe_file, number, line)
            )
        where = "%s, line %d" % (vocab_bpe_file, number)
        merged = to_bytes(parts[0], where) + to_bytes(parts[1], where)
        ranks.setdefault(merged, len(ranks))

    encoder = json.loads(read_file_cached(encoder_json_file, encoder_json_hash))
    encoder_ranks = {to_bytes(k, encoder_json_file): v for k, v in encoder.items()}
    encoder_ranks.pop(b"<|endoftext|>", None)
    encoder_ranks.pop(b"<|startoftext|>", None)
    if clobber_one_byte_tokens:
        for token, rank in encoder_ranks.items():
            if len(token) == 1:
                ranks[token] = rank
    if ranks != encoder_ranks:
        differ = sorted(
            (
                t
                for t in ranks.keys() | encoder_ranks.keys()
                if ranks.get(t) != encoder_ranks.get(t)
            ),
            key=lambda t: (ranks.get(t, -1), t),
        )[:3]
        raise ValueError(
            "%s and %s disagree: %s"
            % (
                vocab_bpe_file,
                encoder_json_file,
                "; ".join(
                    "%r has rank %s in the merges, %s in encoder.json"
                    % (t, ranks.get(t), encoder_ranks.get(t))
                    for t in differ
                ),
            )
        )
    return ranks


def parse_tiktoken_bpe(contents: bytes, path: str = "<rank file>") -> dict[bytes, int]:
    """load_tiktoken_bpe on the file's contents; path only names it in errors."""
    # A file as tiktoken writes it is read natively (faster than tiktoken's
    # own reader, where the line by line parse takes 1.7x its time); the
    # native reader accepts exactly what that parse accepts of such a file
    # and answers None for anything else (blank lines, CRLF, a fault), which
    # the line by line parse then accepts or refuses, naming the line.
    from velkan.bpe import openai

    ranks: Optional[dict[bytes, int]] = openai._parse_rank_file(bytes(contents))
    return ranks if ranks is not None else _parse_checked(contents, path)


def _parse_checked(contents: bytes, path: str) -> dict[bytes, int]:
    import base64
    import binascii

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
