"""Token files: records' ids written as .npy (ids and offsets) or Parquet,
appearing under their names only when complete."""

from __future__ import annotations

import importlib
import os
import sys
from array import array

from velkan.cli.records import PARQUET_SUFFIXES


class TokenWriter:
    """Writes records' ids to a file that appears under its name only when
    complete: a failed run leaves no truncated file that looks whole. The
    file is written as PATH.partPID; one left by a run that was killed
    (SIGKILL cannot be caught) is removed by the next run to the same path."""

    def __init__(self, path: str) -> None:
        self.path = path
        self.temp = _part_path(path)
        _remove_stale_parts(path)

    def write(self, batch: list[list[int]]) -> None:
        raise NotImplementedError

    def close(self) -> None:
        raise NotImplementedError

    def abort(self) -> None:
        raise NotImplementedError


def _npy_header(descr: str, length: int, width: int = 128) -> bytes:
    # Version 1.0 with the header padded to a fixed width, so the final shape
    # is written over the first one in place.
    text = "{'descr': '%s', 'fortran_order': False, 'shape': (%d,), }" % (descr, length)
    body = text.ljust(width - 10 - 1) + "\n"
    return b"\x93NUMPY\x01\x00" + len(body).to_bytes(2, "little") + body.encode("latin-1")


class NpyWriter(TokenWriter):
    """IDS.npy: every id, uint32, one record after another; IDS.offsets.npy:
    int64, records + 1 values, record i is ids[offsets[i]:offsets[i + 1]].
    Plain .npy files: numpy.load(..., mmap_mode="r") maps them without
    reading, which is how training loaders read a token file."""

    def __init__(self, path: str) -> None:
        super().__init__(path)
        self.offsets_path = offsets_path(path)
        self.offsets_temp = _part_path(self.offsets_path)
        _remove_stale_parts(self.offsets_path)
        self.order = "<" if sys.byteorder == "little" else ">"
        self.ids = open(self.temp, "wb")  # noqa: SIM115
        try:
            self.offsets = open(self.offsets_temp, "wb")  # noqa: SIM115
        except BaseException:
            self.ids.close()
            _remove(self.temp)
            raise
        self.ids.write(_npy_header(self.order + "u4", 0))
        self.offsets.write(_npy_header(self.order + "i8", 0))
        self.total = 0
        self.records = 0
        self.offsets.write(array("q", [0]).tobytes())

    def write(self, batch: list[list[int]]) -> None:
        ends = array("q")
        flat = array("I")
        total = self.total
        for ids in batch:
            flat.extend(ids)
            total += len(ids)
            ends.append(total)
        self.ids.write(flat.tobytes())
        self.offsets.write(ends.tobytes())
        self.total = total
        self.records += len(batch)

    def close(self) -> None:
        try:
            for f, descr, length in (
                (self.ids, "u4", self.total),
                (self.offsets, "i8", self.records + 1),
            ):
                f.seek(0)
                f.write(_npy_header(self.order + descr, length))
                f.close()
            # Two files cannot be renamed at once: the old offsets go first
            # and the new ones come last, and when they cannot come the new
            # ids go again, so that no ids file ever sits beside offsets of
            # another run (an ids file alone is no dataset; a loader fails).
            _remove(self.offsets_path)
            os.replace(self.temp, self.path)
            try:
                os.replace(self.offsets_temp, self.offsets_path)
            except BaseException:
                _remove(self.path)
                raise
        except BaseException:
            self.abort()
            raise

    def abort(self) -> None:
        for f, temp in ((self.ids, self.temp), (self.offsets, self.offsets_temp)):
            f.close()
            _remove(temp)


class ParquetWriter(TokenWriter):
    """IDS.parquet: one row per record, one column "ids" of
    large_list<uint32>; its offsets are the records' boundaries."""

    def __init__(self, path: str) -> None:
        super().__init__(path)
        from velkan._arrow import pyarrow

        pa = pyarrow()
        pq = importlib.import_module("pyarrow.parquet")

        self.schema = pa.schema([pa.field("ids", pa.large_list(pa.uint32()), nullable=False)])
        self.writer = pq.ParquetWriter(self.temp, self.schema)
        self.pa = pa

    def write(self, batch: list[list[int]]) -> None:
        from velkan._arrow import list_array

        offsets = array("q", [0])
        flat = array("I")
        for ids in batch:
            flat.extend(ids)
            offsets.append(len(flat))
        table = self.pa.Table.from_arrays([list_array(flat, offsets)], schema=self.schema)
        self.writer.write_table(table)

    def close(self) -> None:
        try:
            self.writer.close()
            os.replace(self.temp, self.path)
        except BaseException:
            _remove(self.temp)
            raise

    def abort(self) -> None:
        try:
            self.writer.close()
        finally:
            _remove(self.temp)


def offsets_path(path: str) -> str:
    root, _ = os.path.splitext(path)
    return root + ".offsets.npy"


def _remove(path: str) -> None:
    try:
        os.remove(path)
    except OSError:
        pass


def remove_own_parts(path: str) -> None:
    """Removes this process's partial files for PATH (and its offsets file):
    for a run stopped before its writer was known to the code that closes
    it."""
    for target in (path, offsets_path(path)):
        _remove(_part_path(target))


def _part_path(path: str) -> str:
    return "%s.part%d" % (path, os.getpid())


def _remove_stale_parts(path: str) -> None:
    """Removes PATH.partPID files whose process is gone: left by a run that
    was killed. Those of running processes (another run) are kept."""
    folder = os.path.dirname(path) or "."
    prefix = os.path.basename(path) + ".part"
    try:
        names = os.listdir(folder)
    except OSError:
        return
    for name in names:
        digits = name[len(prefix) :]
        if not name.startswith(prefix) or not digits.isdigit():
            continue
        pid = int(digits)
        if pid == os.getpid() or _process_exists(pid):
            continue
        _remove(os.path.join(folder, name))


def _process_exists(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except (PermissionError, OverflowError, ValueError):
        return True  # another user's process, or nothing to risk
    return True


def token_writer(path: str) -> TokenWriter:
    suffix = os.path.splitext(path)[1].lower()
    if suffix == ".npy":
        return NpyWriter(path)
    if suffix in PARQUET_SUFFIXES:
        return ParquetWriter(path)
    raise ValueError("--output must end in .npy or .parquet: %s" % path)
