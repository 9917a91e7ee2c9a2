"""Hostile but well-typed input to every public method of NonStationary.

Each call returns a float (NaN allowed) or raises one of the documented exceptions; a failed call
leaves the configuration and the results of the last successful run as they were, and the object
keeps working. The runs are derandomised with a fixed example count, so they cannot flake.
"""

import math

import numpy as np
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, rule

import quorvel

from helpers import MEASURES

# pybind11 reports integers outside a parameter's C++ range as TypeError, not OverflowError.
DOCUMENTED = (TypeError, ValueError, IndexError, RuntimeError, MemoryError)
MAX_ROWS = 0x1555555555555555

EXTREMES = [
    0.0,
    -0.0,
    1.0,
    -1.0,
    5e-324,
    -5e-324,
    2.2250738585072014e-308,
    1e308,
    -1e308,
    1.7976931348623157e308,
    -1.7976931348623157e308,
    math.inf,
    -math.inf,
]
finite_or_infinite = st.one_of(
    st.sampled_from(EXTREMES), st.floats(allow_nan=False), st.integers(-3, 3).map(float)
)
values = st.one_of(finite_or_infinite, st.just(math.nan))
any_window = st.lists(finite_or_infinite, min_size=1, max_size=12)
windows = st.one_of(
    any_window,
    any_window,
    st.lists(finite_or_infinite, min_size=1, max_size=3).map(lambda w: w * 4),  # ties
    st.lists(values, max_size=6),  # may be empty or hold NaN
)
# Every K here allocates little; K that cannot be allocated are in test_memory_errors.py.
class_counts = st.one_of(
    st.integers(0, 40),
    st.integers(1, 12),
    st.integers(1, 12),
    st.sampled_from([500, 5000]),
    st.sampled_from([2**31, 2**63, 2**64 - 1, MAX_ROWS - 1, MAX_ROWS, MAX_ROWS + 7]),
    st.sampled_from([-1, 2**64]),
)
reals = st.one_of(
    st.sampled_from([1.96, 0.925845, 0.0, -0.0, -1.0, 1.0, 1.1, 1e308, math.inf, -math.inf]),
    st.floats(),
)
valid_modes = st.one_of(
    st.sampled_from([0, 1, 2, -1, -(2**31), 2**31 - 1]),
    st.integers(-(2**31), 2**31 - 1),
)
modes = st.one_of(valid_modes, valid_modes, valid_modes, st.sampled_from([2**31, -(2**31) - 1]))
valid_configs = st.tuples(
    st.one_of(st.integers(0, 40), st.sampled_from([500, 5000])),
    reals.filter(lambda z: not math.isnan(z)),
    reals.filter(lambda threshold: not math.isnan(threshold)),
    valid_modes,
)
measure_names = st.sampled_from(MEASURES)
names = st.one_of(
    measure_names,
    measure_names,
    measure_names,
    st.sampled_from(MEASURES).map(str.lower),
    st.sampled_from(MEASURES).map(str.swapcase),
    st.sampled_from(["", "NSLefttoRight\0", "NSLefttoRight ", "NSLéfttoRight", "N" * 100_000]),
    st.text(max_size=20),
)
indices = st.one_of(st.integers(0, 14), st.sampled_from([2**63, 2**64 - 1, -1, 2**64]))


def attempt(call, *args):
    """The call's result, or the documented exception it raised."""
    try:
        return call(*args)
    except DOCUMENTED as error:
        return error


def setupDS_class_count(n):
    return int(1.87 * float(n - 1) ** 0.4)


def rejected_window(name, window, K, mode):
    """Whether a run is documented to raise ValueError: unknown name, empty window, NaN in the
    window, or K = 0 (accepted only by NSLefttoRight with equal-width classes)."""
    return (
        name not in MEASURES
        or not window
        or any(map(math.isnan, window))
        or (K == 0 and (mode == 1 or name != "NSLefttoRight"))
    )


def same_results(a, b):
    return all(np.array_equal(x, y, equal_nan=True) for x, y in zip(a, b, strict=True))


FUZZ = settings(
    derandomize=True,
    database=None,
    deadline=None,
    max_examples=300,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much],
)


@FUZZ
@given(config=valid_configs, window=windows, name=names)
def test_a_run_returns_a_float_or_rejects_its_input(config, window, name):
    est = quorvel.NonStationary()
    est.setup(*config)
    K, mode = config[0], config[3]
    for measure in (name, *MEASURES):
        outcome = attempt(est.nsFunc, measure, window)
        if isinstance(outcome, float):
            assert not rejected_window(measure, window, K, mode)
            assert est.getA().shape == (K + 1, 6)
        else:
            assert isinstance(outcome, (ValueError, TypeError)), repr(outcome)
            assert rejected_window(measure, window, K, mode)


class EstimatorUnderFire(RuleBasedStateMachine):
    """Drives one estimator through any sequence of calls and checks it against a small model:
    the configured K (None before setup or after a failed allocation) and the last results."""

    def __init__(self):
        super().__init__()
        self.est = quorvel.NonStationary()
        self.K = None
        self.mode = None
        self.results = None
        self.data = []

    @initialize(config=valid_configs)
    def configure(self, config):
        self.est.setup(*config)
        self.K, self.mode = config[0], config[3]

    def current_results(self):
        return (self.est.getH0(), self.est.getH(), self.est.getA())

    @rule(K=class_counts, z=reals, threshold=reals, mode=modes)
    def setup(self, K, z, threshold, mode):
        outcome = attempt(self.est.setup, K, z, threshold, mode)
        if outcome is None:
            self.K, self.mode, self.results = K, mode, None
        elif isinstance(outcome, MemoryError):
            assert K + 1 > MAX_ROWS
            self.K = None  # the table is released; setup again to go on
        elif isinstance(outcome, ValueError):
            assert K > 2**31 - 1 or math.isnan(z) or math.isnan(threshold)
        else:
            assert isinstance(outcome, TypeError)
            assert not (0 <= K < 2**64 and -(2**31) <= mode < 2**31)

    @rule(n=st.one_of(st.integers(0, 3), st.integers(0, 10**6)))
    def setupDS(self, n):
        outcome = attempt(self.est.setupDS, n)
        if n == 0:
            assert isinstance(outcome, ValueError)
        else:
            assert outcome is None
            self.K, self.mode, self.results = setupDS_class_count(n), 1, None

    @rule(window=windows)
    def set_data(self, window):
        self.est.data = window
        self.data = window
        assert np.array_equal(self.est.data, window, equal_nan=True)

    @rule(name=names, window=windows, as_array=st.booleans())
    def nsFunc(self, name, window, as_array):
        series = np.asarray(window, dtype=np.float64) if as_array else window
        self.check_run(attempt(self.est.nsFunc, name, series), name, window)

    @rule(name=names, first=indices, last=indices)
    def nsFuncRange(self, name, first, last):
        outcome = attempt(self.est.nsFuncRange, name, first, last)
        if min(first, last) < 0 or max(first, last) >= 2**64:
            assert isinstance(outcome, TypeError)
        elif self.K is not None and not first <= last <= len(self.data):
            assert isinstance(outcome, IndexError)
        else:
            self.check_run(outcome, name, self.data[first:last])

    def check_run(self, outcome, name, window):
        if self.K is None:
            assert isinstance(outcome, (RuntimeError, TypeError))
            return
        if isinstance(outcome, TypeError):  # a name that is not valid UTF-8
            assert name not in MEASURES
        elif isinstance(outcome, float):
            assert not rejected_window(name, window, self.K, self.mode)
            self.results = self.current_results()
            return
        else:
            assert isinstance(outcome, ValueError), repr(outcome)
            assert rejected_window(name, window, self.K, self.mode)
        if self.results is not None:
            assert same_results(self.current_results(), self.results)

    @invariant()
    def result_table_has_K_plus_1_rows(self):
        if self.K is None:
            assert isinstance(attempt(self.est.getA), RuntimeError)
        else:
            assert self.est.getA().shape == (self.K + 1, 6)
            assert isinstance(self.est.getH(), float) and isinstance(self.est.getH0(), float)

    @rule()
    def still_works(self):
        reference = quorvel.NonStationary()
        reference.setup(3, 1.96, 0.925845, 1)
        window = [5.0, 1.0, 4.0, 2.0, 6.0, 3.0, 8.0, 7.0, 9.0, 12.0, 10.0, 11.0]
        self.est.setup(3, 1.96, 0.925845, 1)
        self.K, self.mode = 3, 1
        for name in MEASURES:
            got = self.est.nsFunc(name, window)
            expected = reference.nsFunc(name, window)
            assert np.array_equal(got, expected, equal_nan=True)
            assert same_results(
                self.current_results(),
                (reference.getH0(), reference.getH(), reference.getA()),
            )
        self.results = self.current_results()


EstimatorUnderFire.TestCase.settings = settings(FUZZ, max_examples=150, stateful_step_count=30)
TestEstimatorUnderFire = EstimatorUnderFire.TestCase
