"""How the command line ends: SIGTERM and SIGHUP raised like Ctrl-C (so that
partial token files are removed), then the death the signal would have
given; a reader gone away (a broken pipe) ends it quietly."""

from __future__ import annotations

import os
import signal
import sys


class Terminated(BaseException):
    """SIGTERM or SIGHUP, raised like KeyboardInterrupt so that the
    partial token files are removed on the way out."""

    def __init__(self, signum: int) -> None:
        super().__init__(signum)
        self.signum = signum


def _raise_terminated(signum: int, _frame: object) -> None:
    raise Terminated(signum)


def terminate_on_signals() -> None:
    # Only signals left at their default: one ignored on purpose (nohup's
    # SIGHUP) stays ignored.
    for signum in (signal.SIGTERM, signal.SIGHUP):
        try:
            if signal.getsignal(signum) is signal.SIG_DFL:
                signal.signal(signum, _raise_terminated)
        except (ValueError, OSError):  # not the main thread
            pass


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
