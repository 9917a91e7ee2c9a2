"""The files of the null cache: one verified entry per simulated null, written whole or not at all.

The cache is an optimisation that other processes, other users or a full disk can spoil, so it
is best-effort: an entry that is missing, unreadable or fails any check is simulated again and
replaced (with a `NullCacheWarning`), and a write that fails leaves the result in the process
only. An entry is an uncompressed .npz archive (as `np.savez` writes it) whose members are
checked against the size the key allows before any byte is read into an array; compressed
members are refused, so nothing is ever inflated. Temporaries are created exclusively under
random names in the cache directory and renamed into place; no symbolic link is followed,
neither at a temporary name nor at an entry.
"""

from __future__ import annotations

import errno
import io
import os
import secrets
import stat
import struct
import warnings
import zipfile
from collections.abc import Callable
from pathlib import Path
from typing import IO, Any, cast

import numpy as np
import numpy.typing as npt

# Raised whenever the layout or the checks of an entry change: older entries are then replaced.
CACHE_VERSION = 1
ENTRY_SUFFIX = ".null.npz"
TEMPORARY_SUFFIX = ".part"
# Room for an .npy header in each member and for the archive's own headers around them.
MEMBER_HEADER_BYTES = 4096
ARCHIVE_BYTES_PER_MEMBER = 1024
_SCALARS = ("version", "draws")
_MEMBERS = ("version", "key", "values", "counts", "draws")
_O_NOFOLLOW = getattr(os, "O_NOFOLLOW", 0)
_O_CLOEXEC = getattr(os, "O_CLOEXEC", 0)
_O_NONBLOCK = getattr(os, "O_NONBLOCK", 0)  # a FIFO planted at an entry must not block reading
# NumPy 1.x ships these without annotations; their types as NumPy 2 declares them.
_read_magic = cast("Callable[[IO[bytes]], tuple[int, int]]", np.lib.format.read_magic)
_read_header = cast(
    "Callable[[IO[bytes]], tuple[tuple[int, ...], bool, np.dtype[Any]]]",
    np.lib.format.read_array_header_1_0,
)


class NullCacheWarning(UserWarning):
    """The null cache could not serve or keep a null; the result is right all the same."""


class _BadEntry(Exception):
    """Why an entry of the cache is not used."""


def member_limits(key: str, draws: int) -> dict[str, int]:
    """The largest each member of a right entry can be: at most one distinct value per draw."""
    limits = dict.fromkeys(_SCALARS, MEMBER_HEADER_BYTES)
    limits["key"] = MEMBER_HEADER_BYTES + 4 * len(key)
    limits["values"] = limits["counts"] = MEMBER_HEADER_BYTES + 8 * draws
    return limits


def entry_limit(key: str, draws: int) -> int:
    limits = member_limits(key, draws)
    return sum(limits.values()) + ARCHIVE_BYTES_PER_MEMBER * (len(limits) + 1)


def read_entry(
    path: Path, key: str, draws: int, cache: str
) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.int64]] | None:
    """The distinct values and their counts kept for this key, or None when there are none to
    trust (a missing entry silently; any other with a warning that names it and why)."""
    try:
        fd = os.open(path, os.O_RDONLY | _O_NOFOLLOW | _O_NONBLOCK | _O_CLOEXEC)
    except (FileNotFoundError, NotADirectoryError):
        return None
    except OSError as error:
        if error.errno == errno.ELOOP:
            _warn_entry(path, "it is a symbolic link", cache)
        else:
            _warn_entry(path, _reason(error), cache)
        return None
    try:
        with os.fdopen(fd, "rb") as handle:
            info = os.fstat(handle.fileno())
            if not stat.S_ISREG(info.st_mode):
                raise _BadEntry("it is not a regular file")
            limit = entry_limit(key, draws)
            if info.st_size > limit:
                raise _BadEntry(f"its {info.st_size} bytes exceed the {limit} it may hold")
            data = handle.read(limit + 1)
        if len(data) > limit:
            raise _BadEntry(f"it grew beyond the {limit} bytes it may hold")
        return _parse(data, key, draws)
    except _BadEntry as error:
        _warn_entry(path, str(error), cache)
    except OSError as error:
        _warn_entry(path, _reason(error), cache)
    return None


def write_entry(
    path: Path,
    key: str,
    values: npt.NDArray[np.float64],
    counts: npt.NDArray[np.int64],
    draws: int,
    cache: str,
) -> None:
    """Keeps an entry: written to a fresh temporary beside it, then renamed over it at once, so
    that readers see a whole entry or none, even with several processes at once."""
    partial: Path | None = None
    try:
        path.parent.mkdir(parents=True, exist_ok=True)
        fd, partial = _create_temporary(path)
        with os.fdopen(fd, "wb") as handle:
            np.savez(
                handle,
                version=np.array(CACHE_VERSION, dtype=np.int64),
                key=np.array(key),
                values=values,
                counts=counts,
                draws=np.array(draws, dtype=np.int64),
            )
        os.replace(partial, path)  # replaces a link planted at the entry, not what it names
    except OSError as error:
        if partial is not None:
            _remove(partial)
        warnings.warn(
            f"the null cache {cache} cannot keep nulls ({_reason(error)}); "
            "they are kept for this process only",
            NullCacheWarning,
            stacklevel=2,
        )
    except BaseException:
        if partial is not None:
            _remove(partial)
        raise


def clear_directory(directory: Path) -> int:
    """Removes the entries and the temporaries of the cache (left by writers that were killed),
    not following links; returns how many. What another process removed first is not counted."""
    try:
        found = list(os.scandir(directory))
    except (FileNotFoundError, NotADirectoryError):
        return 0
    removed = 0
    for entry in found:
        if not is_cache_file(entry.name) or entry.is_dir(follow_symlinks=False):
            continue
        try:
            os.unlink(entry.path)
        except FileNotFoundError:
            continue
        removed += 1
    return removed


def is_cache_file(name: str) -> bool:
    """An entry, or a temporary of one (also as earlier versions named them)."""
    return name.endswith(ENTRY_SUFFIX) or (".null." in name and name.endswith(TEMPORARY_SUFFIX))


def _create_temporary(path: Path) -> tuple[int, Path]:
    """A new file beside `path` under a name nobody can guess, created by this call alone."""
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | _O_NOFOLLOW | _O_CLOEXEC
    while True:
        partial = path.with_name(f"{path.name}.{secrets.token_hex(8)}{TEMPORARY_SUFFIX}")
        try:
            return os.open(partial, flags, 0o666), partial
        except FileExistsError:
            continue


def _parse(
    data: bytes, key: str, draws: int
) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.int64]]:
    try:
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            members = {info.filename: info for info in archive.infolist()}
            if sorted(members) != sorted(f"{name}.npy" for name in _MEMBERS):
                raise _BadEntry("its members are not those of an entry")
            limits = member_limits(key, draws)
            for name in _MEMBERS:
                info = members[f"{name}.npy"]
                if info.compress_type != zipfile.ZIP_STORED:
                    raise _BadEntry(f"its member {name!r} is compressed")
                if max(info.file_size, info.compress_size) > limits[name]:
                    raise _BadEntry(f"its member {name!r} is larger than {limits[name]} bytes")
            arrays = {name: _array(archive.read(f"{name}.npy")) for name in _MEMBERS}
    except (zipfile.BadZipFile, EOFError, ValueError, KeyError, RuntimeError, struct.error):
        raise _BadEntry("it is not a readable archive") from None
    return _checked(arrays, key, draws)


def _array(blob: bytes) -> npt.NDArray[Any]:
    """One .npy member, its header checked against its length before any array exists."""
    stream = io.BytesIO(blob)
    if _read_magic(stream) != (1, 0):
        raise _BadEntry("a member is not an array as numpy writes it")
    shape, fortran, dtype = _read_header(stream)
    body = blob[stream.tell() :]
    if dtype.hasobject or len(shape) > 1 or fortran:
        raise _BadEntry("a member is not a flat array of numbers")
    if int(np.prod(shape, dtype=np.int64)) * dtype.itemsize != len(body):
        raise _BadEntry("a member's length is not that of its header")
    return np.frombuffer(body, dtype=dtype).reshape(shape).copy()


def _checked(
    arrays: dict[str, npt.NDArray[Any]], key: str, draws: int
) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.int64]]:
    """Whatever a shuffle of draws can give, and nothing else: the key and version asked for,
    distinct finite values ascending, each drawn at least once and no more draws than made."""
    version, found_key, values, counts, found_draws = (arrays[name] for name in _MEMBERS)
    for name in _SCALARS:
        if arrays[name].shape != () or arrays[name].dtype != np.dtype(np.int64):
            raise _BadEntry(f"its {name} is not one integer")
    if int(version) != CACHE_VERSION:
        raise _BadEntry(f"its format version is {int(version)}, not {CACHE_VERSION}")
    if found_key.shape != () or found_key.dtype.kind != "U" or str(found_key) != key:
        raise _BadEntry("its key is not the one its name stands for")
    if int(found_draws) != draws:
        raise _BadEntry(f"it holds {int(found_draws)} draws, not {draws}")
    if values.dtype != np.dtype(np.float64) or counts.dtype != np.dtype(np.int64):
        raise _BadEntry("its values or counts are not of the types written")
    if values.ndim != 1 or counts.shape != values.shape or len(values) > draws:
        raise _BadEntry("its values and counts do not match in shape")
    if not np.all(np.isfinite(values)) or np.any(np.diff(values) <= 0):
        raise _BadEntry("its values are not distinct finite numbers in ascending order")
    # Bounded one by one first, so that the sum cannot overflow.
    if np.any(counts < 1) or np.any(counts > draws) or int(counts.sum()) > draws:
        raise _BadEntry(f"its counts are not those of at most {draws} draws")
    return values, counts


def _warn_entry(path: Path, reason: str, cache: str) -> None:
    warnings.warn(
        f"ignored the entry {path.name} of the null cache {cache}: {reason}; "
        "the null is simulated again and the entry replaced",
        NullCacheWarning,
        stacklevel=3,
    )


def _reason(error: OSError) -> str:
    text = error.strerror or str(error) or type(error).__name__
    return text[0].lower() + text[1:]


def _remove(path: Path) -> None:
    try:
        path.unlink()
    except OSError:
        pass
