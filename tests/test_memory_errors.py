"""Tables that cannot be allocated raise MemoryError, and the estimator stays usable.

Realistic sizes are made to fail without exhausting the machine: each case runs in a child
interpreter whose address space is capped a little above what it already uses (or, under
AddressSanitizer, whose allocations above a few GiB fail by ASAN_OPTIONS).
"""

import os
import subprocess
import sys
import textwrap

import pytest

import quorvel

MAX_ROWS = 0x1555555555555555
SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")

CAP_ADDRESS_SPACE = """
import resource
def cap(extra):
    with open("/proc/self/statm") as statm:
        in_use = int(statm.read().split()[0]) * resource.getpagesize()
    resource.setrlimit(resource.RLIMIT_AS, (in_use + extra, resource.RLIM_INFINITY))
"""


def run_capped(body):
    """Runs body in a child interpreter that cannot allocate more than about 2 GiB more; the body
    may tighten that with cap(bytes)."""
    if SANITIZED and "max_allocation_size_mb" not in os.environ.get("ASAN_OPTIONS", ""):
        pytest.skip("under ASan the cap needs max_allocation_size_mb in ASAN_OPTIONS")
    capping = "def cap(extra): pass\n" if SANITIZED else CAP_ADDRESS_SPACE + "cap(2 * 2**30)\n"
    prologue = "import hashlib, numpy, quorvel\n" + capping
    child = subprocess.run(
        [sys.executable, "-c", prologue + textwrap.dedent(body)],
        capture_output=True,
        text=True,
        timeout=120,
        check=False,
    )
    assert child.returncode == 0, child.stdout + child.stderr


def test_a_row_count_beyond_the_largest_table_releases_the_table():
    est = quorvel.NonStationary()
    est.setup(2, 1.96, 0.925845, 1)
    for K in (MAX_ROWS, 2**63, 2**64 - 2):
        with pytest.raises(MemoryError):
            est.setup(K, 1.96, 0.925845, 1)
        with pytest.raises(RuntimeError, match="setup"):
            est.getA()
        with pytest.raises(RuntimeError):
            est.nsFunc("NSLefttoRight", [1.0, 2.0])
    est.setup(2, 1.96, 0.925845, 1)
    assert est.nsFunc("NSLefttoRight", [1.0, 2.0, 3.0, 4.0]) == pytest.approx(0.0)
    assert est.getA().shape == (3, 6)


@pytest.mark.parametrize(
    "configure", ["setup(2**31 - 1, 1.96, 0.925845, 1)", "setup(10**8, 1.96, 0.9, 0)"]
)
def test_setup_with_a_table_too_large_for_memory_raises_and_recovers(configure):
    run_capped(f"""
        est = quorvel.NonStationary()
        try:
            est.{configure}
        except MemoryError:
            pass
        else:
            raise AssertionError("no MemoryError")
        try:
            est.getA()
        except RuntimeError:
            pass
        else:
            raise AssertionError("a table survived the failed setup")
        est.setup(3, 1.96, 0.925845, 1)
        assert est.nsFunc("NSLefttoRight", [float(v) for v in range(1, 11)]) > 0.43
        assert est.getA().shape == (4, 6)
    """)


def test_setupDS_with_a_table_too_large_for_memory_raises_and_recovers():
    # n = 2**64 - 1 gives K = 95 million classes, a table of about 4.6 GB.
    run_capped("""
        est = quorvel.NonStationary()
        try:
            est.setupDS(2**64 - 1)
        except MemoryError:
            pass
        else:
            raise AssertionError("no MemoryError")
        est.setupDS(100)
        assert est.getA().shape == (12, 6)
        est.nsFunc("NSdichotomy", [float(v % 17) for v in range(100)])
    """)


@pytest.mark.skipif(SANITIZED, reason="needs an address-space cap, which ASan cannot run under")
def test_a_run_that_runs_out_of_memory_keeps_the_last_results():
    # K = 10**7: a 480 MB result table, and each run needs a fresh one of the same size.
    run_capped("""
        est = quorvel.NonStationary()
        est.setup(10**7, 1.96, 0.925845, 0)
        before = est.nsFunc("NSLefttoRight", [1.0, 2.0])
        H0, H, A = est.getH0(), est.getH(), hashlib.sha256(est.getA().tobytes()).digest()
        for name in ("NSLocaltoGlobal", "NSLefttoRight", "NSdichotomy", "NSCircleLefttoRight"):
            cap(200 * 2**20)
            try:
                est.nsFunc(name, [float(v) for v in range(100)])
            except MemoryError:
                pass
            else:
                raise AssertionError(name + ": no MemoryError")
            cap(2 * 2**30)
            assert hashlib.sha256(est.getA().tobytes()).digest() == A
            assert (est.getH0(), est.getH()) == (H0, H)
        assert before == 1.0 - H / H0
        est.setup(3, 1.96, 0.925845, 1)
        assert est.nsFunc("NSLocaltoGlobal", [float(v) for v in range(1, 11)]) == 0.0
    """)


@pytest.mark.skipif(SANITIZED, reason="needs an address-space cap, which ASan cannot run under")
def test_reading_or_converting_a_series_when_memory_runs_out_raises_and_leaks_nothing():
    # 2*10^7 values: reading them back needs a list and 2*10^7 floats (about 640 MB); a float64
    # buffer of the same length needs a 160 MB copy. Neither fits under the cap.
    run_capped("""
        import array, time
        def resident():
            with open("/proc/self/statm") as statm:
                return int(statm.read().split()[1]) * 4096
        n = 20_000_000
        est = quorvel.NonStationary()
        est.data = numpy.arange(float(n))
        doubles = array.array("d", bytes(8 * n))
        cap(100 * 2**20)
        before = resident()
        for attempt in (lambda: est.data, lambda: est.nsFunc("NSLefttoRight", doubles)):
            start = time.perf_counter()
            try:
                attempt()
            except MemoryError:
                pass
            else:
                raise AssertionError("no MemoryError")
            assert time.perf_counter() - start < 10
        assert resident() - before < 20 * 2**20, resident() - before
        doubles.append(1.0)  # the buffer is no longer exported
        cap(2 * 2**30)
        assert len(est.data) == n
    """)
