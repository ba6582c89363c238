"""The velkan command line: count, encode and decode with cl100k_base / o200k_base.

    velkan count [FILE ...]     tokens per file and in total, like wc
    velkan encode [TEXT]        token ids of TEXT (or of stdin)
    velkan decode [ID ...]      text of the ids (or of the ids on stdin)
    velkan write-images [DIR]   precomputed images for a faster first use

Input that is not valid UTF-8 is counted and encoded as the raw bytes it is:
every byte that is not part of a valid character becomes a token of its own
kind, exactly as the library does for bytes arguments. Exit status: 0 on
success, 1 when a file could not be read or the input was invalid, 2 on
usage errors.
"""

import argparse
import json
import os
import sys

ENCODINGS = ("cl100k_base", "o200k_base")
VOCABULARY_SIZES = {"cl100k_base": 100256, "o200k_base": 199998}

# Files at least this large are read and counted in chunks.
CHUNK_BYTES = 256 * 1024 * 1024
# Texts handed to one parallel batch, at most this many bytes in all.
BATCH_BYTES = 64 * 1024 * 1024


class InputError(Exception):
    """Bad input the user can fix: reported in one line, exit status 1."""


def tokenizer(name):
    import velkan.bpe.openai as openai

    return getattr(openai, name)()


# ---- chunked counting ----------------------------------------------------------

def safe_cut(data, start):
    """An offset in data after start where a piece boundary is certain, or
    None. Both vocabularies end every piece that holds a line feed at a line
    feed that is followed by a letter, and begin the next piece with that
    letter, whatever surrounds them; so cutting there changes no piece. The
    last such place is taken, to keep the tail short."""
    pos = len(data) - 1
    while True:
        pos = data.rfind(b"\n", start, pos)
        if pos < 0:
            return None
        following = data[pos + 1:pos + 2]
        if following.isalpha():  # one ASCII letter
            return pos + 1
        # keep looking further back


def iter_chunks(stream, chunk_bytes):
    """Yields consecutive pieces of the stream's bytes, each cut where a piece
    boundary is certain; their counts add up to the whole text's count."""
    pending = b""
    while True:
        block = stream.read(chunk_bytes)
        if not block:
            break
        pending += block
        cut = safe_cut(pending, 0)
        if cut is None or cut == 0:
            continue  # no certain boundary yet: read on
        yield pending[:cut]
        pending = pending[cut:]
    if pending:
        yield pending


class Progress:
    """A one-line progress display on stderr, only when it is a terminal."""

    def __init__(self, total_bytes):
        self.total = total_bytes
        self.done = 0
        self.active = sys.stderr.isatty() and total_bytes >= 32 * 1024 * 1024

    def advance(self, n):
        self.done += n
        if self.active:
            share = self.done / self.total if self.total else 1.0
            sys.stderr.write("\rcounting: %5.1f%% of %d MB" % (100 * share, self.total >> 20))
            sys.stderr.flush()

    def close(self):
        if self.active:
            sys.stderr.write("\r" + " " * 40 + "\r")
            sys.stderr.flush()


def count_stream(tok, stream, limit=None, chunk_bytes=CHUNK_BYTES, progress=None):
    """Tokens in a binary stream, read in chunks; with a limit, None once the
    count exceeds it."""
    total = 0
    for chunk in iter_chunks(stream, chunk_bytes):
        if progress:
            progress.advance(len(chunk))
        if limit is None:
            total += tok.count(chunk)
        else:
            n = tok.count_till_limit(chunk, limit - total)
            if n is None:
                return None
            total += n
    return total


# ---- commands ------------------------------------------------------------------

def read_file(path):
    if path == "-":
        return sys.stdin.buffer.read()
    with open(path, "rb") as f:
        return f.read()


def file_size(path):
    try:
        return 0 if path == "-" else os.path.getsize(path)
    except OSError:
        return 0


def count_files(tok, paths, limit, progress):
    """{path: count or None (over the limit)} and {path: error message}."""
    counts, errors = {}, {}
    small = []  # (path, bytes): counted together in parallel batches
    for path in paths:
        try:
            if path != "-" and file_size(path) >= CHUNK_BYTES:
                with open(path, "rb") as f:
                    counts[path] = count_stream(tok, f, limit, progress=progress)
                continue
            data = read_file(path)
        except OSError as e:
            errors[path] = e.strerror or str(e)
            continue
        if limit is not None:
            counts[path] = tok.count_till_limit(data, limit)
            progress.advance(len(data))
        else:
            small.append((path, data))

    batch, batch_bytes = [], 0

    def flush():
        texts = [data.decode("utf-8") for _, data in batch]
        ids = tok.encode_batch_parallel(texts)[0]
        for (path, data), tokens in zip(batch, ids):
            counts[path] = len(tokens)
            progress.advance(len(data))
        batch.clear()

    for path, data in small:
        try:
            data.decode("utf-8")
        except UnicodeDecodeError:
            counts[path] = tok.count(data)  # raw bytes, counted as they are
            progress.advance(len(data))
            continue
        batch.append((path, data))
        batch_bytes += len(data)
        if batch_bytes >= BATCH_BYTES:
            flush()
            batch_bytes = 0
    if batch:
        flush()
    return counts, errors


def cmd_count(args):
    tok = tokenizer(args.encoding)
    paths = args.files or ["-"]
    progress = Progress(sum(file_size(p) for p in paths))
    counts, errors = count_files(tok, paths, args.limit, progress)
    progress.close()
    for path, message in errors.items():
        print("velkan: %s: %s" % (path, message), file=sys.stderr)
    rows = [p for p in paths if p in counts]
    if args.json:
        files = []
        for path in rows:
            entry = {"path": path, "tokens": counts[path]}
            if args.limit is not None:
                entry["fits"] = counts[path] is not None
            files.append(entry)
        result = {"encoding": args.encoding, "files": files}
        if args.limit is None:
            result["total"] = sum(counts[p] for p in rows)
        else:
            result["limit"] = args.limit
        if errors:
            result["errors"] = [{"path": p, "error": m} for p, m in errors.items()]
        print(json.dumps(result))
    elif args.limit is not None:
        for path in rows:
            n = counts[path]
            if n is None:
                print("%10s %s exceeds %d" % ("-", path, args.limit))
            else:
                print("%10d %s fits" % (n, path))
    else:
        for path in rows:
            print("%10d %s" % (counts[path], path))
        if len(rows) > 1:
            print("%10d total" % sum(counts[p] for p in rows))
    return 1 if errors else 0


def cmd_encode(args):
    text = args.text if args.text is not None else sys.stdin.buffer.read()
    ids = tokenizer(args.encoding).encode(text)
    print(json.dumps(ids) if args.json else " ".join(map(str, ids)))
    return 0


def parse_ids(words, encoding):
    size = VOCABULARY_SIZES[encoding]
    ids = []
    for word in words:
        try:
            value = int(word)
        except ValueError:
            raise InputError("not a token id: %r" % word)
        if not 0 <= value < size:
            raise InputError("token id %d is outside %s (0 to %d)" % (value, encoding, size - 1))
        ids.append(value)
    return ids


def cmd_decode(args):
    if args.ids:
        words = args.ids
    else:
        raw = sys.stdin.read().strip()
        if raw.startswith("["):
            try:
                words = [str(x) for x in json.loads(raw)]
            except ValueError as e:
                raise InputError("invalid JSON: %s" % e)
        else:
            words = raw.split()
    ids = parse_ids(words, args.encoding)
    # Raw bytes: a token sequence may cut a character in two.
    sys.stdout.buffer.write(tokenizer(args.encoding).bpe().decode_tokens(ids))
    if sys.stdout.isatty():
        sys.stdout.buffer.write(b"\n")
    return 0


def cmd_write_images(args):
    from velkan.images import write_images

    for path, size in write_images(args.dir).items():
        print("%s: %d bytes" % (path, size))
    return 0


def build_parser():
    parser = argparse.ArgumentParser(
        prog="velkan", description="Exact, fast tokens for OpenAI's cl100k_base and o200k_base.")
    sub = parser.add_subparsers(dest="command", metavar="COMMAND")
    sub.required = True

    def with_encoding(p):
        p.add_argument("-e", "--encoding", choices=ENCODINGS, default="o200k_base",
                       help="vocabulary (default: o200k_base)")
        return p

    p = with_encoding(sub.add_parser("count", help="count the tokens of files"))
    p.add_argument("files", nargs="*", metavar="FILE", help="files to count; '-' or none: stdin")
    p.add_argument("--limit", type=int, metavar="N", help="report whether each file fits in N tokens")
    p.add_argument("--json", action="store_true", help="machine-readable output")
    p.set_defaults(run=cmd_count)

    p = with_encoding(sub.add_parser("encode", help="text to token ids"))
    p.add_argument("text", nargs="?", help="text to encode (default: stdin)")
    p.add_argument("--json", action="store_true", help="print a JSON list")
    p.set_defaults(run=cmd_encode)

    p = with_encoding(sub.add_parser("decode", help="token ids to text"))
    p.add_argument("ids", nargs="*", metavar="ID",
                   help="ids (default: stdin, space-separated or a JSON list)")
    p.set_defaults(run=cmd_decode)

    p = sub.add_parser("write-images", help="write precomputed images for a faster first use")
    p.add_argument("dir", nargs="?", help="target directory (default: the installed package)")
    p.set_defaults(run=cmd_write_images)
    return parser


def main(argv=None):
    parser = build_parser()
    args = parser.parse_args(argv)
    if getattr(args, "limit", None) is not None and args.limit < 0:
        parser.error("--limit must not be negative")
    try:
        return args.run(args)
    except InputError as e:
        print("velkan: error: %s" % e, file=sys.stderr)
        return 1
    except OSError as e:
        print("velkan: error: %s" % e, file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130
