"""How the command line ends: SIGTERM and SIGHUP raised like Ctrl-C (so that
partial token files are removed), then the death the signal would have
given; a reader gone away (a broken pipe) ends it quietly."""

from __future__ import annotations

import contextlib
import os
import signal
import sys
from collections.abc import Iterator


class Terminated(BaseException):
    """SIGTERM or SIGHUP, raised like KeyboardInterrupt so that the
    partial token files are removed on the way out."""

    def __init__(self, signum: int) -> None:
        super().__init__(signum)
        self.signum = signum


def _raise_terminated(signum: int, _frame: object) -> None:
    raise Terminated(signum)


@contextlib.contextmanager
def terminate_on_signals(active: bool = True) -> Iterator[None]:
    """While the block runs, SIGTERM and SIGHUP raise Terminated; the
    handlers before it come back after it (the command line may run inside
    another program, a test for one). Only signals left at their default:
    one ignored on purpose (nohup's SIGHUP) stays ignored."""
    previous = {}
    if active:
        for signum in (signal.SIGTERM, signal.SIGHUP):
            try:
                if signal.getsignal(signum) is signal.SIG_DFL:
                    previous[signum] = signal.signal(signum, _raise_terminated)
            except (ValueError, OSError):  # not the main thread
                pass
    try:
        yield
    finally:
        for signum, handler in previous.items():
            signal.signal(signum, handler)


def die_of(signum: int) -> int:
    # Cleaned up: end as the signal would have, so the parent sees it.
    sys.stdout.flush()
    signal.signal(signum, signal.SIG_DFL)
    os.kill(os.getpid(), signum)
    return 128 + signum


def quiet_broken_pipe() -> int:
    # Like other Unix tools: the reader went away, nothing to report. Later
    # flushes at exit go nowhere.
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
    except (OSError, ValueError):
        pass
    return 128 + signal.SIGPIPE
