"""The progress bar of count and encode on stderr: tqdm's where it is
installed, else a line of our own, and only when stderr is a terminal."""

from __future__ import annotations

import importlib
import sys
import time
from typing import IO, Any


class Progress:
    """A one-line progress display on stderr, when it is a terminal and the
    work looks like it takes more than a second."""

    def __init__(self, total_bytes: int | None, stream: IO[str] | None = None) -> None:
        self.stream = sys.stderr if stream is None else stream
        self.total = total_bytes  # None: unknown (stdin)
        self.read = 0
        self.done = 0
        self.start = time.monotonic()
        self.shown = 0.0
        self.terminal = self.stream.isatty()
        self.active = self.terminal and total_bytes is not None and total_bytes >= 16 << 20
        self.draw()

    def advance(self, read: int = 0, done: int = 0) -> None:
        self.read += read
        self.done += done
        if self.terminal and not self.active and time.monotonic() - self.start > 1.0:
            self.active = True
        self.draw()

    def draw(self, force: bool = False) -> None:
        now = time.monotonic()
        if not self.active or (not force and now - self.shown < 0.1):
            return
        self.shown = now
        rate = self.done / max(now - self.start, 1e-9) / 1e6
        if self.total:
            line = "counting: %5.1f%% of %d MB, %.0f MB/s" % (
                100.0 * self.done / self.total,
                self.total >> 20,
                rate,
            )
        else:
            line = "counting: %d MB, %.0f MB/s" % (self.done >> 20, rate)
        self.stream.write("\r" + line.ljust(48))
        self.stream.flush()

    def close(self) -> None:
        if self.active:
            self.stream.write("\r" + " " * 48 + "\r")
            self.stream.flush()


# Seconds of work before a progress bar appears.
PROGRESS_DELAY = 1.0


class TqdmProgress:
    """The same interface over a tqdm bar in bytes (tqdm draws, times and
    clears it)."""

    def __init__(self, total_bytes: int | None, label: str) -> None:
        tqdm = importlib.import_module("tqdm").tqdm
        self.bar: Any = tqdm(
            total=total_bytes,
            unit="B",
            unit_scale=True,
            unit_divisor=1024,
            desc=label,
            leave=False,
            file=sys.stderr,
            mininterval=0.2,
            delay=PROGRESS_DELAY,  # nothing for work over in a moment
        )

    def advance(self, read: int = 0, done: int = 0) -> None:
        if done:
            self.bar.update(done)

    def close(self) -> None:
        self.bar.close()


def make_progress(total_bytes: int | None, label: str = "counting") -> Progress | TqdmProgress:
    """A progress bar on stderr when it is a terminal: tqdm's where it is
    installed, else a line of our own; nothing is drawn otherwise."""
    if sys.stderr.isatty():
        try:
            return TqdmProgress(total_bytes, label)
        except ImportError:
            pass
    return Progress(total_bytes)
