"""Precomputed images: files that spare building an encoding on first use.

The first call of a vocabulary's function (``o200k_base()`` and the others of
``velkan.bpe.openai``) in a process loads the first
usable image of :func:`_image_paths`: one in the package directory (written by
``velkan write-images`` for read-only or shared installs), then one in the
user's cache directory. When it had to build the encoding instead, it calls
:func:`_encoding_ready`, which writes the cache image in a background thread so
that the next process starts fast.

Cache directory: ``$VELKAN_CACHE_DIR`` if set (set but empty: no cache),
else ``$XDG_CACHE_HOME/velkan``, else ``~/.cache/velkan``; images live in a
subdirectory per velkan version and image format, so an upgrade never reads
an older version's file. Every image is checked before use, so a stale or
damaged file can cost time but never change a token id; a cache image the
module refused is replaced.

Writing is safe against crashes and concurrent first runs: the image goes to
a temporary file in the same directory, created exclusively (O_EXCL, and
O_NOFOLLOW: no planted link is followed), which is renamed into place when
complete (a reader sees the whole image or none); an flock on a lock file lets
one process of many write it, and the kernel releases it when its writer dies,
so a killed writer blocks no later one; a failed write (a full disk) removes
its temporary file. A cache image that cannot be read (empty, not a regular
file, unreadable) is replaced like one the module refused.

A cache directory is used only when it is the user's own: the cache root and
the version folder must be owned by the user and not writable by others, and
the version folder must not be a symbolic link (as pip and ccache require of
theirs). Otherwise the cache is passed over, reading and writing, with one
warning per process: another user could plant files or links there.
"""

from __future__ import annotations

import atexit
import errno
import fcntl
import os
import stat
import struct
import threading
import time
import warnings
from collections.abc import Iterable
from typing import Callable

from velkan._version import __version__

try:
    from velkan.bpe import openai
except ImportError:  # a source tree without the built extension
    openai = None  # type: ignore[assignment]


def _registry() -> dict[str, tuple[str, int]]:
    # The embedded vocabularies as the extension's registry lists them, so a
    # vocabulary added there has its image here without a second list.
    if openai is None:
        return {}
    return {name: (image, count) for name, image, count in openai._vocabularies()}


VOCABULARIES: dict[str, tuple[str, int]] = _registry()  # name: (image file name, token count)

# Bumped whenever the image layout changes, so that the cache of a build with
# another layout is never offered (it would be refused, costing a read).
IMAGE_FORMAT = 2

# A temporary file older than this was left by a process that died.
STALE_SECONDS = 600.0

_TEMP_SUFFIX = ".tmp"
_LOCK_SUFFIX = ".lock"
# A temporary file is made new, never opened through a link or over a file
# that is there (umask applies to its 0o644: images are no secret).
_TEMP_FLAGS = os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_CLOEXEC


def package_dir() -> str:
    """The directory of the installed package, the first place images are read from."""
    # This module lives there; asking the package would be an import.
    return os.path.dirname(os.path.abspath(__file__))


def cache_root() -> str | None:
    """The user's velkan cache directory, or None when caching is disabled."""
    configured = os.environ.get("VELKAN_CACHE_DIR")
    if configured is not None:
        return os.path.abspath(configured) if configured else None
    base = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return os.path.join(os.path.abspath(base), "velkan")


def cache_dir() -> str | None:
    """The directory this version's cached images go to, or None when disabled."""
    root = cache_root()
    if root is None:
        return None
    return os.path.join(root, "%s-image%d" % (__version__, IMAGE_FORMAT))


def _untrusted(path: str, follow: bool) -> str | None:
    """Why the directory at path must not hold the cache, or None (also when
    it does not exist yet: it is made private)."""
    try:
        st = os.stat(path) if follow else os.lstat(path)
    except FileNotFoundError:
        return None
    except OSError as e:
        return e.strerror or str(e)
    if stat.S_ISLNK(st.st_mode):
        return "it is a symbolic link"
    if not stat.S_ISDIR(st.st_mode):
        return "it is not a directory"
    if st.st_uid != os.geteuid():
        return "it is owned by another user (uid %d)" % st.st_uid
    if st.st_mode & stat.S_IWOTH:
        return "it is writable by other users"
    return None


_warned = False


def trusted_cache_dir() -> str | None:
    """cache_dir() when the cache may be used there; None when disabled or
    when the root or the version folder is not the user's own (warned once)."""
    global _warned
    root, directory = cache_root(), cache_dir()
    if root is None or directory is None:
        return None
    for path, follow in ((root, True), (directory, False)):
        problem = _untrusted(path, follow)
        if problem is not None:
            if not _warned:
                _warned = True
                warnings.warn(
                    "velkan: not using the image cache at %s: %s; set VELKAN_CACHE_DIR "
                    "to a directory of your own" % (path, problem),
                    RuntimeWarning,
                    stacklevel=2,
                )
            return None
    return directory


def cache_image_path(name: str) -> str | None:
    """Where the cached image of vocabulary `name` lives, or None when the
    cache is disabled or not the user's own."""
    directory = trusted_cache_dir()
    return None if directory is None else os.path.join(directory, VOCABULARIES[name][0])


def _image_paths(name: str) -> list[str]:
    """Candidate image files of vocabulary `name`, in the order to try them."""
    paths = [os.path.join(package_dir(), VOCABULARIES[name][0])]
    cached = cache_image_path(name)
    if cached is not None:
        paths.append(cached)
    return paths


# ---- writing the cache in the background ---------------------------------------

_writers: list[threading.Thread] = []
_writers_lock = threading.Lock()


def _join_writers() -> None:
    # An image write cut off at exit leaves only a temporary file, never a
    # bad image; waiting for it keeps the next start fast.
    with _writers_lock:
        pending = list(_writers)
    for thread in pending:
        thread.join()


atexit.register(_join_writers)


def _encoding_ready(name: str, loaded: str | None, refused: list[str]) -> None:
    """Called once after the first construction of encoding `name` in a
    process, with the image file it was loaded from (None: built from the
    embedded vocabulary) and the image files it tried and refused. Writes the
    cache image in a background thread when the encoding had to be built.
    Never raises: the cache must not fail the call that made the encoding."""
    try:
        _start_cache_write(name, loaded, refused)
    except Exception:
        pass


def _start_cache_write(name: str, loaded: str | None, refused: list[str]) -> None:
    if name not in VOCABULARIES or loaded is not None:
        return
    target = cache_image_path(name)
    if target is None:
        return
    refused_file = _identity(target) if target in refused else None
    if refused_file is None and os.path.lexists(target):
        if _readable_image(target):
            return  # written by another process since this one looked
        refused_file = _identity(target)  # the loader could not open it
    thread = threading.Thread(
        target=_write_cache_image_quietly,
        args=(name, target, refused_file),
        name="velkan-image-cache",
        daemon=True,
    )
    with _writers_lock:
        _writers[:] = [t for t in _writers if t.is_alive()]
        _writers.append(thread)
    thread.start()  # raises RuntimeError at interpreter shutdown


FileIdentity = tuple[int, int, int]


def _identity(path: str) -> FileIdentity | None:
    try:
        st = os.lstat(path)
    except OSError:
        return None
    return (st.st_ino, st.st_size, st.st_mtime_ns)


def _readable_image(path: str) -> bool:
    """Whether the loader can open path: a regular, readable file of a size
    it trusts (what the binding's image reader asks of a file)."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError:
        return False
    try:
        st = os.fstat(fd)
        return stat.S_ISREG(st.st_mode) and 0 < st.st_size <= 2**31 - 1
    finally:
        os.close(fd)


def _write_cache_image_quietly(name: str, target: str, refused: FileIdentity | None) -> None:
    try:
        write_cache_image(name, target, refused)
    except (OSError, MemoryError):
        # The cache is an optimisation: a read-only home or a full disk must
        # not disturb the program that uses velkan.
        pass


def _remove_stale(directory: str, target: str | None = None) -> None:
    """Removes temporary files left behind by processes that died: those of
    target at once (the caller holds its lock, so their writers are gone),
    others once older than STALE_SECONDS."""
    now = time.time()
    mine = None if target is None else os.path.basename(target) + "."
    try:
        entries = os.listdir(directory)
    except OSError:
        return
    for entry in entries:
        if not entry.endswith(_TEMP_SUFFIX):
            continue
        path = os.path.join(directory, entry)
        try:
            if (mine is not None and entry.startswith(mine)) or (
                now - os.lstat(path).st_mtime > STALE_SECONDS
            ):
                os.unlink(path)
        except OSError:
            pass


def _make_private_dirs(directory: str) -> None:
    # The root and the version folder, neither writable by others whatever
    # the umask (the check refuses such a folder).
    root = os.path.dirname(directory)
    os.makedirs(root, 0o755, exist_ok=True)
    try:
        os.mkdir(directory, 0o755)
    except FileExistsError:
        pass


def _take_lock(path: str) -> int | None:
    """A descriptor of path holding an exclusive flock, or None while another
    process holds it. The kernel drops the lock when its holder dies."""
    for _ in range(8):
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_NOFOLLOW | os.O_CLOEXEC, 0o644)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            os.close(fd)
            return None
        except BaseException:
            os.close(fd)
            raise
        # A writer that finished removed the file it locked: lock the one
        # now at the path, or two writers would think they hold the lock.
        try:
            same = os.path.samestat(os.fstat(fd), os.lstat(path))
        except FileNotFoundError:
            same = False
        if same:
            return fd
        os.close(fd)
    return None


def write_cache_image(name: str, target: str, refused: FileIdentity | None = None) -> bool:
    """Writes the image of encoding `name` to `target` unless another process
    is writing it or a file is there already, other than `refused` (the
    identity of a file the module would not load), or the directory is not
    the user's own. True when written."""
    directory = os.path.dirname(target)
    _make_private_dirs(directory)
    for folder, follow in ((os.path.dirname(directory), True), (directory, False)):
        if _untrusted(folder, follow) is not None:
            return False
    fd = _take_lock(target + _LOCK_SUFFIX)
    if fd is None:
        return False  # another process is writing it
    try:
        _remove_stale(directory, target)
        present = _identity(target)
        if present is not None and present != refused:
            return False  # finished by another process meanwhile
        _write_atomically(name, target)
        return True
    finally:
        try:
            os.unlink(target + _LOCK_SUFFIX)
        except OSError:
            pass
        os.close(fd)


def _write_atomically(name: str, target: str) -> int:
    """Writes the image of `name` under a temporary name in the target's
    directory and renames it into place; returns its size. On any failure the
    temporary file is removed and the target left as it was."""
    temp = "%s.%d.%d%s" % (target, os.getpid(), threading.get_ident(), _TEMP_SUFFIX)
    try:
        os.unlink(temp)  # one of this name is a dead process's (unlink follows no link)
    except FileNotFoundError:
        pass
    try:
        save = _native_saver()
        if save is not None:
            save(name, temp)  # opened as below, natively
        else:
            image = build_image(name)
            fd = os.open(temp, _TEMP_FLAGS, 0o644)
            with open(fd, "wb") as f:
                f.write(image)
                f.flush()
                os.fsync(f.fileno())
        size = os.path.getsize(temp)
        os.replace(temp, target)
        return size
    except BaseException:
        try:
            os.unlink(temp)
        except OSError:
            pass
        raise


def _native_saver() -> Callable[[str, str], None] | None:
    """The binding's image writer for the process's cached encoding, if it has one."""
    saver: Callable[[str, str], None] | None = getattr(openai, "_save_image", None)
    return saver


# ---- building images ------------------------------------------------------------


def token_list(name: str) -> tuple[bytes, bytes]:
    """The embedded token list of a vocabulary as (token bytes, u32 starts)."""
    if openai is None:
        raise ImportError("velkan.bpe is not built: no embedded vocabularies")
    bpe = getattr(openai, name)().bpe()
    count = VOCABULARIES[name][1]
    tokens = [bpe.decode_tokens([i]) for i in range(count)]
    starts = [0]
    for t in tokens:
        starts.append(starts[-1] + len(t))
    return b"".join(tokens), struct.pack("<%dI" % len(starts), *starts)


def build_image(name: str) -> bytes:
    """The image of a vocabulary's encoding, as bytes."""
    from velkan._image_writer import build_image as build

    image: bytes = build(*token_list(name))
    return image


def write_images(
    directory: str | None = None, names: Iterable[str] | None = None
) -> dict[str, int]:
    """Writes the images of the given vocabularies (None: all) into directory
    (default: the package directory), which is made if missing. Returns
    {path: size}. A write that fails (a full disk) leaves no partial file."""
    directory = package_dir() if directory is None else directory
    chosen = sorted(VOCABULARIES) if names is None else list(names)
    unknown = [n for n in chosen if n not in VOCABULARIES]
    if unknown:
        raise ValueError(
            "unknown vocabulary %r; expected one of %s" % (unknown[0], ", ".join(VOCABULARIES))
        )
    os.makedirs(directory, exist_ok=True)
    written: dict[str, int] = {}
    for name in chosen:
        path = os.path.join(directory, VOCABULARIES[name][0])
        written[path] = _write_atomically(name, path)
    return written


# ---- the cache command -----------------------------------------------------------


def cached_images() -> list[tuple[str, int]]:
    """(path, size) of every cached image, of every velkan version."""
    root = cache_root()
    found: list[tuple[str, int]] = []
    if root is None or not os.path.isdir(root):
        return found
    for sub in sorted(os.listdir(root)):
        folder = os.path.join(root, sub)
        if not os.path.isdir(folder):
            continue
        for entry in sorted(os.listdir(folder)):
            if entry.startswith("precomputed_") and entry.endswith(".bin"):
                path = os.path.join(folder, entry)
                found.append((path, os.path.getsize(path)))
    return found


def clear_cache() -> list[str]:
    """Removes every cached image (and leftovers of interrupted writes) and
    the folders that held them; returns the removed images. Only velkan's own
    files are touched, whatever the cache directory is set to."""
    root = cache_root()
    removed: list[str] = []
    if root is None or not os.path.isdir(root):
        return removed
    for sub in sorted(os.listdir(root)):
        folder = os.path.join(root, sub)
        # A linked folder is not velkan's: what it points at is left alone.
        if os.path.islink(folder) or not os.path.isdir(folder) or "-image" not in sub:
            continue
        for entry in os.listdir(folder):
            if not entry.startswith("precomputed_"):
                continue
            path = os.path.join(folder, entry)
            try:
                os.unlink(path)
            except FileNotFoundError:
                continue
            if entry.endswith(".bin"):
                removed.append(path)
        try:
            os.rmdir(folder)
        except OSError as e:
            if e.errno not in (errno.ENOTEMPTY, errno.EEXIST):
                raise
    try:
        os.rmdir(root)
    except OSError:
        pass
    return sorted(removed)


__all__ = [
    "VOCABULARIES",
    "build_image",
    "cache_dir",
    "cache_root",
    "cached_images",
    "clear_cache",
    "package_dir",
    "write_images",
]


# The extension calls these on the first construction of each vocabulary;
# handed in now, while the package is imported, so that it never imports
# anything itself (an import in a forked child can wait for ever on one that
# another thread of the parent was in at the fork).
# The functions are looked up at each call, so that replacing them here
# (tests, embedders) takes effect.
if openai is not None:
    openai._set_image_hooks(
        lambda name: _image_paths(name),
        lambda name, loaded, refused: _encoding_ready(name, loaded, refused),
    )
