"""The inputs of count, encode, chunk and truncate: paths (standard input
as "-"), directories expanded, their sizes, and paths as JSON shows them."""

from __future__ import annotations

import argparse
import base64
import os
import sys
from collections.abc import Sequence
from typing import IO, NamedTuple

from velkan.cli import records


def expand_inputs(
    paths: Sequence[str], recursive: bool, data_only: bool = False
) -> tuple[list[str], dict[str, str]]:
    """The inputs to count, directories expanded when recursive, and
    {path: error} for the paths that cannot be counted. With data_only, a
    directory's hidden files and the _SUCCESS and _metadata files that
    dataset writers leave beside their shards are passed over."""
    inputs: list[str] = []
    errors: dict[str, str] = {}
    for path in paths:
        if path != "-" and os.path.isdir(path):
            if not recursive:
                errors[path] = "is a directory (count the files in it with --recursive)"
                continue
            for folder, dirs, files in os.walk(path):
                dirs.sort()
                if data_only:
                    dirs[:] = [d for d in dirs if records.is_data_file(d)]
                for name in sorted(files):
                    if data_only and not records.is_data_file(name):
                        continue
                    full = os.path.join(folder, name)
                    if os.path.isfile(full):
                        inputs.append(full)
        else:
            inputs.append(path)
    return inputs, errors


NO_FILE = "no FILE given and standard input is a terminal: give files or pipe text in"


def input_paths(parser: argparse.ArgumentParser, given: list[str], no_input: str) -> list[str]:
    """The paths given, or standard input ("-") when none is; "-" twice and
    a terminal as standard input (no_input says what to do instead) are usage
    errors."""
    paths = given or ["-"]
    if paths.count("-") > 1:
        parser.error("'-' (standard input) may be given only once")
    if not given and sys.stdin.isatty():
        parser.error(no_input)
    return paths


class Inputs(NamedTuple):
    """What count and encode read: the files (directories expanded), each
    one's source and size (None when unknown, as for standard input), their
    total (None when any size is unknown) and {path: error} for the paths
    that cannot be read."""

    files: list[str]
    sources: list[records.Source]
    sizes: list[int | None]
    total: int | None
    dir_errors: dict[str, str]


def open_inputs(
    parser: argparse.ArgumentParser, paths: list[str], args: argparse.Namespace
) -> Inputs:
    """The Inputs of paths as args (--field, --column, --recursive) read them."""
    if "-" in paths and args.column is not None and args.field is None:
        parser.error("Parquet cannot be read from standard input: give a file")
    has_records = args.field is not None or args.column is not None
    files, dir_errors = expand_inputs(paths, args.recursive, data_only=has_records)
    sources = records.make_sources(files, args.field, args.column)
    sizes = [file_size(p) for p in files]
    total = None if any(s is None for s in sizes) else sum(s or 0 for s in sizes)
    return Inputs(files, sources, sizes, total, dir_errors)


def file_size(path: str) -> int | None:
    if path == "-":
        return None
    try:
        st = os.stat(path)
    except OSError:
        return 0
    return st.st_size if os.path.isfile(path) else None


def json_path(path: str) -> dict[str, str]:
    """{"path": path} for JSON output. A file name that is not valid in the
    file system's encoding holds undecodable bytes as lone surrogates, which
    strict JSON readers refuse: there "path" shows U+FFFD for each such byte
    and "path_base64" gives the name's bytes, base64-encoded, to open it by."""
    try:
        path.encode("utf-8")
    except UnicodeEncodeError:
        raw = os.fsencode(path)
        return {
            "path": raw.decode(sys.getfilesystemencoding(), "replace"),
            "path_base64": base64.b64encode(raw).decode("ascii"),
        }
    return {"path": path}


def open_input(path: str) -> IO[bytes]:
    if path == "-":
        return sys.stdin.buffer
    return open(path, "rb")  # noqa: SIM115
