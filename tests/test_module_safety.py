"""Calls that once crashed the interpreter, read the wrong values or could not be stopped.

Cases that could take the interpreter down run in a child process of their own.
"""

import array
import fractions
import subprocess
import sys
import textwrap

import numpy as np
import pytest

from helpers import MEASURES, assert_state, estimator, state

# Ctrl-C from another process, as a terminal's: a thread of this one could not run while a run
# holds the lock. That process reports when it sent the signal, so that a latency does not count
# how long it took to start on a loaded machine.
INTERRUPT_AFTER = """
import os, subprocess, time
def interrupt_after(delay):
    sender = f"sleep {delay}; date +%s.%N; kill -INT {os.getpid()}"
    return subprocess.Popen(["sh", "-c", sender], stdout=subprocess.PIPE, text=True)
def latency(interrupter):
    return time.time() - float(interrupter.stdout.readline())
"""


def run_child(body, timeout=120, prelude=""):
    child = subprocess.run(
        [sys.executable, "-c", "import quorvel\n" + prelude + textwrap.dedent(body)],
        capture_output=True,
        text=True,
        timeout=timeout,
        check=False,
    )
    assert child.returncode == 0, child.stdout + child.stderr
    return child.stdout


def test_pickling_and_copying_are_refused_for_every_protocol():
    run_child("""
        import copy, pickle
        est = quorvel.NonStationary()
        for attempt in [lambda p=p: pickle.dumps(est, p) for p in range(6)] + [
            lambda: copy.copy(est), lambda: copy.deepcopy(est)
        ]:
            try:
                attempt()
            except TypeError as error:
                assert "cannot pickle 'quorvel.NonStationary' object" in str(error), error
            else:
                raise AssertionError("pickled")
    """)


def test_an_object_made_without_init_is_refused_until_initialised():
    run_child("""
        import numpy
        cls = quorvel.NonStationary
        calls = [
            lambda o: o.setup(3, 1.96, 0.925845, 1),
            lambda o: o.setupDS(10),
            lambda o: o.nsFunc("NSLefttoRight", [1.0, 2.0]),
            lambda o: o.nsFuncRange("NSLefttoRight", 0, 0),
            lambda o: o.getH(),
            lambda o: o.getH0(),
            lambda o: o.getA(),
            lambda o: o.data,
            lambda o: setattr(o, "data", [1.0, 2.0]),
        ]
        for call in calls:
            bare = cls.__new__(cls)
            try:
                call(bare)
            except TypeError as error:
                assert "not initialised" in str(error), error
            else:
                raise AssertionError("accepted")
        class Sub(cls):
            pass
        for made in (cls.__new__(cls), Sub.__new__(Sub)):
            made.__init__()
            made.setup(3, 1.96, 0.925845, 1)
            assert made.nsFunc("NSLefttoRight", [1.0, 2.0, 3.0, 4.0]) == 0.0
    """)


@pytest.mark.parametrize("name", MEASURES)
def test_a_pandas_series_is_read_in_its_stored_order_whatever_its_index(name):
    pd = pytest.importorskip("pandas")
    values = np.random.default_rng(3).normal(size=300).cumsum()
    expected = estimator(8).nsFunc(name, values)
    reordered = np.random.default_rng(4).permutation(300)
    series = [
        pd.Series(values, index=np.arange(300)[::-1]),
        pd.Series(values, index=reordered),
        pd.Series(values, index=[f"t{i}" for i in range(300)]),
        pd.Series(values[reordered], index=reordered).sort_index(),
        pd.Series(values).sort_values(),
    ]
    for s in series:
        assert estimator(8).nsFunc(name, s) == estimator(8).nsFunc(name, s.to_numpy())
    assert estimator(8).nsFunc(name, series[0]) == expected


def test_masked_arrays_without_masked_elements_are_read_as_their_data():
    values = np.arange(20.0)
    expected = state_after(values)
    assert state_after(np.ma.array(values)) == expected
    assert state_after(np.ma.array(values, mask=False)) == expected
    assert state_after(np.ma.array(values.astype(np.float32))) == expected


@pytest.mark.parametrize(
    ("mask", "message"),
    [
        ([3], "1 masked value, at position 3"),
        ([5, 9, 12], "3 masked values, the first at position 5"),
    ],
)
def test_masked_elements_are_refused_as_missing_values(mask, message):
    values = np.ma.array(np.arange(20.0))
    values[mask] = np.ma.masked
    est = estimator(3)
    est.data = [1.0, 2.0]
    for call in (lambda: est.nsFunc("NSLefttoRight", values), lambda: setattr(est, "data", values)):
        with pytest.raises(ValueError, match=message):
            call()
    assert est.data == [1.0, 2.0]


@pytest.mark.parametrize(
    "complex_values",
    [
        pytest.param(lambda: np.array([1 + 2j, 3, 4, 5]), id="complex128-array"),
        pytest.param(lambda: np.array([1 + 2j, 3, 4, 5], dtype=np.complex64), id="complex64"),
        pytest.param(lambda: np.array([1, 2, 3, 4], dtype=np.complex128), id="real-parts-only"),
        pytest.param(lambda: [1.0, 2.0, 3j], id="python-complex"),
        pytest.param(lambda: list(np.ones(4, dtype=np.complex64)), id="numpy-complex-scalars"),
        pytest.param(lambda: memoryview(np.ones(4, dtype=np.complex128)), id="complex-buffer"),
    ],
)
def test_complex_values_are_refused_not_cut_to_their_real_parts(complex_values, recwarn):
    est = estimator(3)
    with pytest.raises(TypeError, match="incompatible function arguments"):
        est.nsFunc("NSLefttoRight", complex_values())
    assert not [w for w in recwarn if issubclass(w.category, getattr(np, "ComplexWarning", ()))]


class Raising:
    def __init__(self, error):
        self.error = error

    def __float__(self):
        raise self.error


@pytest.mark.parametrize("error", [KeyboardInterrupt, MemoryError, RuntimeError("from __float__")])
def test_errors_of_the_callers_own_conversion_propagate(error):
    est = estimator(3)
    est.data = [1.0]
    with pytest.raises(type(error) if isinstance(error, BaseException) else error):
        est.nsFunc("NSLefttoRight", [1.0, Raising(error), 2.0])
    with pytest.raises(type(error) if isinstance(error, BaseException) else error):
        est.data = [Raising(error)]
    assert est.data == [1.0]


@pytest.mark.parametrize("error", [TypeError("no"), ValueError("no"), OverflowError("no")])
def test_a_value_that_does_not_convert_is_a_type_error(error):
    with pytest.raises(TypeError, match="incompatible function arguments"):
        estimator(3).nsFunc("NSLefttoRight", [1.0, Raising(error)])


def test_sequences_of_numbers_of_every_kind_convert_as_float_would():
    values = [1, 2.5, True, fractions.Fraction(7, 2), np.float32(0.1), np.int64(9), np.uint8(4)]
    expected = state_after([float(v) for v in values])
    assert state_after(values) == expected
    assert state_after(tuple(values)) == expected
    assert state_after(np.array(values, dtype=object)) == expected
    assert state_after(array.array("d", map(float, values))) == expected


def state_after(window):
    est = estimator(3)
    est.nsFunc("NSLefttoRight", window)
    result = state(est)
    return result[0], result[1], result[2].tobytes()


def test_a_run_is_stopped_by_ctrl_c_and_leaves_the_object_as_it_was():
    # Runs of 3*10^7 values take about a second each here.
    out = run_child(
        prelude=INTERRUPT_AFTER,
        body="""
        import numpy as np
        n = 30_000_000
        x = np.sin(np.linspace(0, 20 * np.pi, n)) + 0.3 * np.random.default_rng(0).normal(size=n)
        est = quorvel.NonStationary()
        est.setupDS(n)
        est.nsFunc("NSLefttoRight", x[:1000])
        before = (est.getH0(), est.getH(), est.getA().tobytes())
        delay = 0.3
        for name in ("NSdichotomy", "NSCircleLefttoRight"):
            interrupter = interrupt_after(delay)
            try:
                est.nsFunc(name, x)
            except KeyboardInterrupt:
                print(name, latency(interrupter))
            else:
                raise AssertionError(name + " ran to its end")
            assert (est.getH0(), est.getH(), est.getA().tobytes()) == before
        est.data = x[:1000]
        assert est.nsFuncRange("NSLefttoRight", 0, 1000) == 1.0 - before[1] / before[0]
    """,
    )
    for line in out.splitlines():
        name, latency = line.split()
        assert float(latency) < 0.5, f"{name} stopped {latency} s after Ctrl-C"


def test_a_configuration_survives_a_refused_series():
    est = estimator(4)
    est.nsFunc("NSLefttoRight", np.arange(30.0))
    before = state(est)
    for bad in ([1.0, "x"], np.array([1j]), [Raising(ValueError())]):
        with pytest.raises(TypeError):
            est.nsFunc("NSLefttoRight", bad)
    assert_state(est, before)


@pytest.mark.parametrize("replacement", ["shorter", "same length", "longer"])
def test_python_code_run_during_a_run_cannot_change_what_the_run_reads(replacement):
    # Signal handlers run inside the run's polls for Ctrl-C; a thread runs while a handler
    # sleeps. Both are refused any change to the data or the configuration, and nested runs,
    # which change neither, are allowed.
    out = run_child(f"""
        import signal, threading, time
        import numpy as np
        x = np.random.default_rng(2).normal(size=3_000_000)
        replacement = {{"shorter": x[:10], "same length": x[::-1].copy(),
                        "longer": np.r_[x, x]}}[{replacement!r}]
        est = quorvel.NonStationary()
        est.setupDS(len(x))
        est.data = x
        expected = est.nsFuncRange("NSLefttoRight", 0, len(x))
        changes = [lambda: setattr(est, "data", replacement), lambda: est.setupDS(10),
                   lambda: est.setup(3, 1.96, 0.925845, 1)]
        refused, nested, from_thread, busy = [], [], [], []

        def handler(signum, frame):
            if busy:  # the next alarm comes while this one sleeps
                return
            busy.append(True)
            for change in changes:
                try:
                    change()
                except RuntimeError as error:
                    refused.append(str(error))
            nested.append(est.nsFunc("NSLefttoRight", [1.0, 2.0, 3.0]))
            thread = threading.Thread(target=lambda: from_thread.append(attempt()))
            thread.start()
            time.sleep(0.002)
            thread.join()
            busy.clear()

        def attempt():
            try:
                est.data = replacement
            except RuntimeError:
                return "refused"
            return "changed"

        signal.signal(signal.SIGALRM, handler)
        for name in ("NSLefttoRight", "NSdichotomy"):
            # The first alarm comes well inside the run; one may still come as it returns.
            signal.setitimer(signal.ITIMER_REAL, 0.02, 0.003)
            value = est.nsFuncRange(name, 0, len(x))
            signal.setitimer(signal.ITIMER_REAL, 0)
            if name == "NSLefttoRight":
                assert value == expected, (value, expected)
            est.setupDS(len(x))
            est.data = x
        assert len(refused) >= 3 and nested, (len(refused), len(nested))
        assert all("refused while a measure runs" in text for text in refused), refused[0]
        assert "refused" in from_thread, from_thread
        print(len(nested))
    """)
    assert int(out) > 0


@pytest.mark.parametrize("through", ["module", "analysis layer"])
def test_ctrl_c_stops_runs_with_many_classes_for_every_measure(through):
    # Many classes make band tests on wide groups the bulk of a run: K = n/4 and K = n.
    out = run_child(
        prelude=INTERRUPT_AFTER,
        body=f"""
        import numpy as np
        import quorvel_tools
        x = np.random.default_rng(1).normal(size=400_000)
        delay = 0.3
        for name in {MEASURES!r}:
            for n, K in ((400_000, 100_000), (100_000, 100_000)):
                est = quorvel.NonStationary()
                est.setup(K, 1.96, 0.925845, 1)
                interrupter = interrupt_after(delay)
                try:
                    if {through!r} == "module":
                        est.nsFunc(name, x[:n])
                    else:
                        quorvel_tools.analyze(x[:n], method=name, classes=K, p_values=False)
                except KeyboardInterrupt:
                    print(name, K, latency(interrupter))
                else:
                    raise AssertionError(f"{{name}} at K = {{K}} ran to its end")
    """,
    )
    for line in out.splitlines():
        name, K, latency = line.split()
        assert float(latency) < 0.5, f"{name} at K = {K} stopped {latency} s after Ctrl-C"
