"""The null cache is best-effort: whatever is found in its directory, or fails in it, a p-value is
the one a run without the cache gives, and nothing outside the directory is written."""

import errno
import json
import os
import re
import subprocess
import sys
import textwrap
import warnings
import zipfile

import numpy as np
import pytest

from quorvel_tools import (
    NullCacheWarning,
    analyze,
    clear_null_cache,
    nullcache,
    nullstore,
    set_null_cache,
)

from helpers import run_quorvel

X = np.random.default_rng(20261209).standard_normal(150)
SETTINGS = {"classes": 6, "permutations": 99, "seed": 1}  # a simulated null, not the tables'


def _significance():
    nullstore._cache.samples.clear()  # as a new process: only the directory is shared
    return analyze(X, **SETTINGS).significance


@pytest.fixture(scope="module")
def reference():
    set_null_cache(None)
    found = _significance()
    nullstore._cache.samples.clear()
    return found


@pytest.fixture
def cache(tmp_path):
    directory = tmp_path / "cache"
    set_null_cache(directory)
    yield directory
    set_null_cache(None)
    nullstore._cache.samples.clear()


@pytest.fixture
def entry(cache, reference):
    """The entry of a right run, checked to serve the next one without a warning."""
    assert _significance() == reference
    (path,) = cache.glob("*.null.npz")
    _assert_served(path, reference)
    return path


def _assert_served(path, reference):
    with warnings.catch_warnings():
        warnings.simplefilter("error", NullCacheWarning)
        assert _significance() == reference
    assert path.is_file() and not path.is_symlink()
    assert not list(path.parent.glob("*.part"))


def _planted(change):
    """Rewrites an entry with some of its fields changed (None drops one), as anyone who can
    write to the directory could."""

    def plant(path, save=np.savez):
        with np.load(path) as data:
            fields = {name: data[name] for name in data.files}
        fields.update(change(fields))
        save(path, **{name: value for name, value in fields.items() if value is not None})

    return plant


def _fifo(path):
    path.unlink()
    os.mkfifo(path)


BAD_ENTRIES = {
    "empty": lambda path: path.write_bytes(b""),
    "truncated": lambda path: path.write_bytes(path.read_bytes()[:700]),
    "garbled": lambda path: path.write_bytes(np.random.default_rng(0).bytes(1500)),
    "counts above the draws": _planted(lambda f: {"counts": f["counts"] * 10}),
    "a negative count": _planted(lambda f: {"counts": np.r_[-5, f["counts"][1:]]}),
    "a count that overflows": _planted(lambda f: {"counts": np.r_[2**62, 2**62, f["counts"][2:]]}),
    "unsorted values": _planted(lambda f: {"values": f["values"][::-1]}),
    "an infinite value": _planted(lambda f: {"values": np.r_[f["values"][:-1], np.inf]}),
    "fewer counts than values": _planted(lambda f: {"counts": f["counts"][1:]}),
    "no format version": _planted(lambda f: {"version": None}),
    "another format version": _planted(lambda f: {"version": np.int64(2)}),
    "another key": _planted(lambda f: {"key": np.array("('NSLefttoRight', 150)")}),
    "other draws": _planted(lambda f: {"draws": np.int64(98)}),
    "pickled values": _planted(lambda f: {"values": f["values"].astype(object)}),
    "compressed members": lambda path: _planted(dict)(path, np.savez_compressed),
    "a FIFO": _fifo,
}


@pytest.mark.parametrize("spoil", BAD_ENTRIES.values(), ids=BAD_ENTRIES.keys())
def test_a_bad_entry_is_ignored_simulated_again_and_replaced(entry, reference, spoil):
    spoil(entry)
    with pytest.warns(NullCacheWarning, match=f"ignored the entry {entry.name} of the null"):
        assert _significance() == reference
    _assert_served(entry, reference)


def test_any_truncation_or_flipped_byte_of_an_entry_is_refused_or_harmless(entry):
    data = entry.read_bytes()
    with np.load(entry) as kept:
        key, values, counts = str(kept["key"]), kept["values"], kept["counts"]
    spoilt = [data[:end] for end in range(len(data))]
    spoilt += [data[:i] + bytes([data[i] ^ 0xFF]) + data[i + 1 :] for i in range(len(data))]
    refused = 0
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        for blob in spoilt:
            entry.write_bytes(blob)
            found = nullcache.read_entry(entry, key, 99, "here")
            if found is None:
                refused += 1
            else:
                assert np.array_equal(found[0], values) and np.array_equal(found[1], counts)
    assert refused > len(data) and len(caught) == refused
    assert {warning.category for warning in caught} == {NullCacheWarning}


def _bomb(path, inflated):
    """An archive with an entry's members, one of them deflated from `inflated` zero bytes."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name in ("version", "key", "counts", "draws"):
            archive.writestr(f"{name}.npy", b"")
        with archive.open("values.npy", "w", force_zip64=True) as member:
            for _ in range(inflated // 2**20):
                member.write(bytes(2**20))


@pytest.mark.parametrize(
    ("inflated", "refusal"),
    [(400 * 2**20, "bytes exceed the"), (8 * 2**20, "is compressed")],
)
def test_an_inflating_entry_is_refused_before_anything_is_inflated(
    entry, reference, inflated, refusal
):
    _bomb(entry, inflated)
    child = f"""
        import resource, warnings
        with open("/proc/self/statm") as statm:
            in_use = int(statm.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (in_use + 300 * 2**20, resource.RLIM_INFINITY))
        import numpy as np
        from quorvel_tools import analyze, set_null_cache
        set_null_cache({str(entry.parent)!r})
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            found = analyze(np.array({X.tolist()!r}), **{SETTINGS!r}).significance
        # VmHWM, not ru_maxrss: a child's ru_maxrss starts at its parent's (pytest's) peak.
        with open("/proc/self/status") as status:
            peak = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmHWM"))
        print(float(found.p_value), peak, [str(w.message) for w in caught])
        """
    done = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(child)],
        capture_output=True,
        text=True,
        timeout=120,
        check=False,
    )
    assert done.returncode == 0, done.stderr
    p_value, peak, messages = done.stdout.split(" ", 2)
    assert float(p_value) == float(reference.p_value)
    assert int(peak) < 200 * 2**20
    assert refusal in messages and messages.count("ignored the entry") == 1
    _assert_served(entry, reference)


@pytest.mark.parametrize("planted_at", ["entry", "temporary"])
def test_a_planted_link_writes_nothing_outside_the_cache(
    entry, reference, tmp_path, monkeypatch, planted_at
):
    victim = tmp_path / "victim"
    victim.write_bytes(b"kept")
    entry.unlink()
    if planted_at == "entry":
        entry.symlink_to(victim)
        with pytest.warns(NullCacheWarning, match="it is a symbolic link"):
            assert _significance() == reference
    else:
        # The name earlier versions used, and the first random name this run will draw.
        entry.with_suffix(f".{os.getpid()}.part").symlink_to(victim)
        entry.with_name(f"{entry.name}.planted.part").symlink_to(victim)
        tokens = iter(["planted", "fresh"])
        monkeypatch.setattr(nullcache.secrets, "token_hex", lambda size: next(tokens))
        assert _significance() == reference
        for link in entry.parent.glob("*.part"):
            link.unlink()
    assert victim.read_bytes() == b"kept"
    _assert_served(entry, reference)


def _no_space(*args, **kwargs):
    args[0].write(b"PK\x03\x04")  # a partial write first, as a disk fills mid-file
    raise OSError(errno.ENOSPC, "No space left on device")


def _read_only(*args):
    raise OSError(errno.EROFS, "Read-only file system")


@pytest.mark.parametrize(
    ("where", "patch", "reason"),
    [
        ("file/cache", None, "not a directory"),
        ("file", None, "file exists"),
        ("cache", (nullcache.np, "savez", _no_space), "no space left on device"),
        ("cache", (nullcache.os, "replace", _read_only), "read-only file system"),
    ],
)
def test_a_cache_that_cannot_be_written_warns_and_the_result_stands(
    tmp_path, reference, monkeypatch, where, patch, reason
):
    (tmp_path / "file").write_bytes(b"")
    if patch is not None:
        monkeypatch.setattr(*patch)
    set_null_cache(tmp_path / where)
    try:
        message = (
            f"null cache {tmp_path / where} (from set_null_cache) cannot keep nulls ({reason})"
        )
        with pytest.warns(NullCacheWarning, match=re.escape(message)) as caught:
            assert _significance() == reference
        assert len(caught) == 1
    finally:
        set_null_cache(None)
    assert (tmp_path / "file").read_bytes() == b""
    left = sorted(path.name for path in tmp_path.rglob("*"))
    assert left == (["file"] if patch is None else ["cache", "file"])


def test_clearing_removes_entries_and_stale_temporaries_alongside_another_clearer(
    entry, tmp_path, monkeypatch
):
    cache = entry.parent
    victim = tmp_path / "victim"
    victim.write_bytes(b"kept")
    stale = [f"{entry.stem}.4242.part", f"{entry.name}.0123abcd.part", "gone.null.npz"]
    for name in stale:
        (cache / name).write_bytes(b"")
    (cache / "link.null.npz").symlink_to(victim)
    (cache / "notes.txt").write_bytes(b"")
    (cache / "folder.null.npz").mkdir()
    listed = os.scandir

    def raced(directory):
        found = list(listed(directory))
        (cache / "gone.null.npz").unlink()  # another process clears it in between
        return iter(found)

    monkeypatch.setattr(nullcache.os, "scandir", raced)
    assert clear_null_cache() == 4
    assert sorted(p.name for p in cache.iterdir()) == ["folder.null.npz", "notes.txt"]
    assert victim.read_bytes() == b"kept"
    monkeypatch.undo()
    for path in cache.iterdir():
        path.rmdir() if path.is_dir() else path.unlink()
    cache.rmdir()
    assert clear_null_cache() == 0


@pytest.mark.parametrize("case", ["unwritable", "garbled entry"])
def test_the_command_names_the_cache_in_one_line_and_answers(tmp_path, case):
    (tmp_path / "file").write_bytes(b"")
    cache = tmp_path / ("file/cache" if case == "unwritable" else "cache")
    args = ["--method", "NSLefttoRight", "--classes", "6", "--permutations", "99", "--json"]
    series = "\n".join(map(repr, X.tolist()))
    plain = run_quorvel(*args, stdin=series)
    env = {**os.environ, "QUORVEL_NULL_CACHE": str(cache)}
    if case == "garbled entry":
        assert run_quorvel(*args, stdin=series, env=env).stderr == ""
        for path in cache.iterdir():
            path.write_bytes(b"garbage")
    found = run_quorvel(*args, stdin=series, env=env)
    assert found.returncode == plain.returncode == 0, found.stderr
    assert json.loads(found.stdout) == json.loads(plain.stdout)
    (line,) = found.stderr.splitlines()
    assert line.startswith("quorvel: warning: ") and f"{cache} (from QUORVEL_NULL_CACHE)" in line
