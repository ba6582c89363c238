"""The velkan argument parser and main: builds the commands' options and runs
one, turning the errors a user can fix, broken pipes and signals into exit
statuses."""

from __future__ import annotations

import argparse
import errno
import signal
import sys
from collections.abc import Sequence

from velkan._encodings_data import SHORT_NAMES
from velkan._version import __version__
from velkan.cli.cache import cmd_cache
from velkan.cli.chunk import cmd_chunk
from velkan.cli.count import cmd_count
from velkan.cli.decode import cmd_decode
from velkan.cli.encode import cmd_encode
from velkan.cli.options import (
    ENCODINGS,
    EXIT_ERROR,
    InputError,
    encoding_name,
    limit_value,
    model_encoding,
    positive_tokens,
)
from velkan.cli.signals import Terminated, die_of, quiet_broken_pipe
from velkan.cli.truncate import cmd_truncate
from velkan.cli.write_images import cmd_write_images


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="velkan",
        description="Exact, fast tokens for OpenAI's encodings, the ids tiktoken gives.",
        epilog="Exit status: 0 success, 1 unreadable or invalid input, 2 usage error, "
        "3 an input over the --limit of count.",
    )
    parser.add_argument("--version", action="version", version="velkan %s" % __version__)
    sub = parser.add_subparsers(dest="command", metavar="COMMAND")
    sub.required = True

    def with_encoding(p: argparse.ArgumentParser) -> argparse.ArgumentParser:
        group = p.add_mutually_exclusive_group()
        group.add_argument(
            "-e",
            "--encoding",
            type=encoding_name,
            default=None,  # None, not the name: argparse would take it for unset
            metavar="NAME",
            help="%s, or a vocabulary's short name for the encoding of its name (%s); "
            "default o200k_base"
            % (
                ", ".join(ENCODINGS),
                ", ".join("%s: %s" % item for item in SHORT_NAMES.items()),
            ),
        )
        group.add_argument(
            "-m",
            "--model",
            dest="encoding",
            type=model_encoding,
            metavar="MODEL",
            help="the encoding of an OpenAI model, e.g. gpt-4o or gpt-4",
        )
        return p

    def with_records(p: argparse.ArgumentParser) -> None:
        p.add_argument(
            "--field",
            metavar="NAME",
            help="the inputs are JSON lines (also .gz, .bz2, .xz): use each line's "
            "string field NAME",
        )
        p.add_argument(
            "--column",
            metavar="NAME",
            help="the inputs are Parquet files: use the string column NAME (rows are "
            "numbered from 0); with --field too, files named *.parquet are Parquet "
            "and the others JSON lines. Needs pyarrow",
        )

    p = with_encoding(
        sub.add_parser(
            "count",
            help="count the tokens of files",
            description="Tokens per file and in total. Plain files are counted whole; "
            "with --field or --column each JSON line or Parquet row is a record. A bad "
            "record (invalid JSON, JSON nested too deeply, a line over 64 MB, a missing "
            "field, a value that is not a string) is "
            "reported with its file and line or row and skipped, the good ones are "
            "counted, and the exit status is 1.",
        )
    )
    p.add_argument("files", nargs="*", metavar="FILE", help="files to count; '-' or none: stdin")
    p.add_argument("-r", "--recursive", action="store_true", help="count the files in directories")
    p.add_argument(
        "--limit",
        type=limit_value,
        metavar="N",
        help="report whether each file fits in N tokens (exit status 3 if one does not)",
    )
    p.add_argument("--json", action="store_true", help="machine-readable output")
    with_records(p)
    p.add_argument(
        "--each",
        action="store_true",
        help="with --field or --column: one count per record, in input order, instead of "
        "per file ('-' for a skipped record; with --json a JSON line each)",
    )
    p.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="count on the Dask cluster whose scheduler is at ADDRESS (tcp://host:8786); "
        "the workers read the files by their paths. Needs velkan[dask]",
    )
    p.set_defaults(run=cmd_count, subparser=p)

    p = with_encoding(
        sub.add_parser(
            "encode",
            help="text to token ids",
            description="Token ids of TEXT, of standard input, or of the files and "
            "directories given with --input: a line per record (a plain file is one "
            "record), or a token file with --output.",
            epilog="Token files. IDS.npy: every id as uint32, record after record, with "
            "IDS.offsets.npy beside it: int64, one more value than records; record i is "
            "ids[offsets[i]:offsets[i + 1]]. Both are plain .npy files: "
            "numpy.load('ids.npy', mmap_mode='r') maps the ids without reading them, "
            "as training loaders read a flat token file. IDS.parquet: one row per "
            "record, one column 'ids' of large_list<uint32> (pyarrow, pandas, Polars, "
            "Hugging Face datasets and Spark read it; Arrow keeps the offsets). Records "
            "keep the input order; skipped bad records leave no row. A file appears "
            "only when complete: it is written as PATH.partPID, which Ctrl-C, SIGTERM "
            "and SIGHUP remove; one left by a run killed with SIGKILL is removed by the "
            "next run to the same path. IDS.offsets.npy is put in place last: an "
            "IDS.npy without it is incomplete.",
        )
    )
    p.add_argument("text", nargs="?", help="text to encode (default: stdin)")
    p.add_argument(
        "-i",
        "--input",
        dest="inputs",
        nargs="+",
        action="extend",
        metavar="PATH",
        help="files (or directories, with -r) to encode; '-': stdin",
    )
    p.add_argument("-r", "--recursive", action="store_true", help="encode the files in directories")
    p.add_argument("--json", action="store_true", help="print a JSON list")
    with_records(p)
    p.add_argument(
        "-o",
        "--output",
        metavar="IDS.npy|IDS.parquet",
        help="write ids and offsets to a token file (layout below) instead of stdout",
    )
    p.set_defaults(run=cmd_encode, subparser=p)

    p = with_encoding(sub.add_parser("decode", help="token ids to text"))
    p.add_argument(
        "ids", nargs="*", metavar="ID", help="ids (default: stdin, space-separated or a JSON list)"
    )
    p.set_defaults(run=cmd_decode, subparser=p)

    p = with_encoding(
        sub.add_parser(
            "chunk",
            help="split files into chunks of at most N tokens (JSON lines)",
            description="Writes one JSON object per chunk: file, index, start and end "
            "(character offsets), tokens and text. Cuts prefer blank lines, then line "
            "breaks, sentence ends and whitespace. Special tokens count as ordinary text.",
        )
    )
    p.add_argument("files", nargs="*", metavar="FILE", help="files to split; '-' or none: stdin")
    p.add_argument("--max-tokens", type=positive_tokens, required=True, metavar="N")
    p.add_argument(
        "--overlap",
        type=limit_value,
        default=0,
        metavar="K",
        help="start each chunk with up to K tokens of the previous one's end",
    )
    p.set_defaults(run=cmd_chunk, subparser=p)

    p = with_encoding(
        sub.add_parser("truncate", help="the longest start (or end) of a file within N tokens")
    )
    p.add_argument("file", nargs="?", metavar="FILE", help="file to cut; '-' or none: stdin")
    p.add_argument("--max-tokens", type=limit_value, required=True, metavar="N")
    p.add_argument(
        "--side",
        choices=("right", "left"),
        default="right",
        help="right: keep the start (default); left: keep the end",
    )
    p.set_defaults(run=cmd_truncate, subparser=p)

    p = sub.add_parser("cache", help="show or remove the cached images")
    p.add_argument("action", choices=("info", "clear"), help="info: where and how large; clear")
    p.set_defaults(run=cmd_cache, subparser=p)

    p = sub.add_parser(
        "write-images",
        help="write images into the package directory (for read-only or shared installs)",
        description="Writes the precomputed images of every embedded vocabulary into the installed "
        "package directory (or DIR), where every user of the installation finds them. "
        "Not needed otherwise: each user's first run caches them by itself.",
    )
    p.add_argument("dir", nargs="?", help="target directory (default: the installed package)")
    p.set_defaults(run=cmd_write_images, subparser=p)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    # File names that are not valid in the locale's encoding print as the
    # bytes they are instead of failing.
    for stream in (sys.stdout, sys.stderr):
        reconfigure = getattr(stream, "reconfigure", None)
        if reconfigure is not None:
            reconfigure(errors="surrogateescape")
    parser = build_parser()
    args = parser.parse_args(argv)
    if "encoding" in args and args.encoding is None:
        args.encoding = "o200k_base"
    try:
        status: int = args.run(args.subparser, args)
        sys.stdout.flush()
        return status
    except BrokenPipeError:
        return quiet_broken_pipe()
    except InputError as e:
        print("velkan: error: %s" % e, file=sys.stderr)
        return EXIT_ERROR
    except OSError as e:
        if e.errno == errno.EPIPE:
            return quiet_broken_pipe()
        print("velkan: error: %s" % e, file=sys.stderr)
        return EXIT_ERROR
    except KeyboardInterrupt:
        return 128 + signal.SIGINT
    except Terminated as e:
        return die_of(e.signum)
