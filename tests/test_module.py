"""The Python surface of the module: attributes, members, signatures, conversions."""

import array
import importlib.metadata

import numpy as np
import pytest

import quorvel

from helpers import MEASURES, assert_same, assert_table, estimator

MODULE_DOC = (
    "\n        Pybind11 example plugin\n        -----------------------\n\n"
    "        .. currentmodule:: quorvel\n\n        .. autosummary::\n"
    "           :toctree: _generate\n\n           setup\n           nsFunc\n    "
)

MEMBERS = (
    "__init__",
    "setup",
    "setupDS",
    "nsFunc",
    "getH",
    "getH0",
    "getA",
    "data",
    "nsFuncRange",
)

SIGNATURES = {
    "__init__": "__init__(self: quorvel.NonStationary) -> None",
    "setup": (
        "setup(self: quorvel.NonStationary, arg0: int, arg1: float, arg2: float, arg3: int) -> None"
    ),
    "setupDS": "setupDS(self: quorvel.NonStationary, arg0: int) -> None",
    "nsFunc": "nsFunc(self: quorvel.NonStationary, arg0: str, arg1: List[float]) -> float",
    "getH": "getH(self: quorvel.NonStationary) -> float",
    "getH0": "getH0(self: quorvel.NonStationary) -> float",
    "getA": "getA(self: quorvel.NonStationary) -> numpy.ndarray[numpy.float64[m, n]]",
    "nsFuncRange": (
        "nsFuncRange(self: quorvel.NonStationary, arg0: str, arg1: int, arg2: int) -> float"
    ),
}


def test_module_doc():
    assert quorvel.__doc__ == MODULE_DOC


def test_version():
    assert quorvel.__version__ == "0.0.1"
    # The binding takes it from the project's metadata, so the two cannot drift apart.
    assert quorvel.__version__ == importlib.metadata.version("quorvel")


def test_module_exposes_the_class():
    assert isinstance(quorvel.NonStationary, type)
    assert quorvel.NonStationary.__name__ == "NonStationary"


def test_members_in_registration_order():
    names = list(vars(quorvel.NonStationary))
    for member in MEMBERS:
        assert member in names
    positions = [names.index(member) for member in MEMBERS]
    assert positions == sorted(positions), names


def test_data_is_a_property():
    assert isinstance(vars(quorvel.NonStationary)["data"], property)


@pytest.mark.parametrize("method", sorted(SIGNATURES))
def test_method_signature(method):
    doc = getattr(quorvel.NonStationary, method).__doc__
    assert doc.strip() == SIGNATURES[method]


def test_data_property_signatures():
    prop = vars(quorvel.NonStationary)["data"]
    assert prop.fget.__doc__.strip() == "(arg0: quorvel.NonStationary) -> List[float]"
    assert prop.fset.__doc__.strip() == "(arg0: quorvel.NonStationary, arg1: List[float]) -> None"


def test_parameters_are_positional_only(est):
    with pytest.raises(TypeError):
        est.setup(K=3, z=1.96, threshold=0.9, mode=1)


def test_setup_rejects_negative_K(est):
    with pytest.raises(TypeError):
        est.setup(-1, 1.96, 0.9, 1)


@pytest.mark.parametrize(
    "args",
    [
        (3.0, 1.96, 0.9, 1),  # a float for the unsigned K
        (3, 1.96, 0.9, 1.0),  # a float for the mode
        (3, 1.96, 0.9, 2**31),  # mode beyond a signed 32-bit int
        (2**64, 1.96, 0.9, 1),  # K beyond an unsigned 64-bit int
        (3, "1.96", 0.9, 1),
    ],
)
def test_setup_rejects_unconvertible_arguments(est, args):
    with pytest.raises(TypeError):
        est.setup(*args)


def test_setup_accepts_integers_for_float_parameters():
    est = estimator(3, 2, 1, 1)
    assert isinstance(est.nsFunc("NSLefttoRight", [1.0, 2.0, 3.0, 4.0]), float)


def test_setup_mode_limits_accepted():
    estimator(3, 1.96, 0.9, -(2**31))
    estimator(3, 1.96, 0.9, 2**31 - 1)


def test_setupDS_rejects_negative_and_float(est):
    with pytest.raises(TypeError):
        est.setupDS(-1)
    with pytest.raises(TypeError):
        est.setupDS(10.0)


def test_nsFunc_accepts_a_tuple():
    est = estimator(2, 1.96, 0.925845, 1)
    from_tuple = est.nsFunc("NSLefttoRight", (1.0, 2.0, 3.0, 4.0))
    state_tuple = (est.getH0(), est.getH(), est.getA())
    from_list = est.nsFunc("NSLefttoRight", [1.0, 2.0, 3.0, 4.0])
    assert_same(from_tuple, from_list)
    assert_same(state_tuple[0], est.getH0())
    assert_same(state_tuple[1], est.getH())
    assert_table(state_tuple[2], est.getA())


def test_results_are_python_floats():
    est = estimator(3)
    assert type(est.nsFunc("NSLefttoRight", [1.0, 5.0, 2.0, 4.0, 3.0])) is float
    assert type(est.getH()) is float
    assert type(est.getH0()) is float
    est.data = [1.0, 5.0, 2.0, 4.0, 3.0]
    assert type(est.nsFuncRange("NSLefttoRight", 0, 5)) is float


def test_data_round_trip(est):
    est.data = [1, 2, 3]
    assert est.data == [1.0, 2.0, 3.0]
    assert all(type(x) is float for x in est.data)


def test_data_starts_empty(est):
    assert est.data == []


def test_data_reads_are_distinct_lists(est):
    est.data = [0.5, -1.25, 3.0]
    first = est.data
    second = est.data
    assert first == second == [0.5, -1.25, 3.0]
    assert first is not second
    first.append(9.0)
    assert est.data == [0.5, -1.25, 3.0]


def test_data_keeps_no_reference_to_the_assigned_list(est):
    values = [1.0, 2.0, 3.0]
    est.data = values
    values[0] = 100.0
    assert est.data == [1.0, 2.0, 3.0]


def test_data_accepts_numpy_and_array(est):
    est.data = np.array([1.5, 2.5, 3.5])
    assert est.data == [1.5, 2.5, 3.5]
    est.data = array.array("d", [4.0, 5.0])
    assert est.data == [4.0, 5.0]
    est.data = np.arange(6, dtype=np.float64)[::2]
    assert est.data == [0.0, 2.0, 4.0]


@pytest.mark.parametrize("bad", ["abc", b"abc", [1.0, "a"], np.zeros((2, 2)), 3.0, None])
def test_data_rejects_unconvertible_values(est, bad):
    est.data = [1.0]
    with pytest.raises(TypeError):
        est.data = bad
    assert est.data == [1.0]


@pytest.mark.parametrize("K", [0, 1, 3, 10])
def test_getA_shape_after_setup(K):
    est = estimator(K)
    A = est.getA()
    assert isinstance(A, np.ndarray)
    assert A.dtype == np.float64
    assert A.shape == (K + 1, 6)


def test_getA_is_column_major_copy():
    est = estimator(3)
    est.nsFunc("NSLefttoRight", [float(x) for x in range(1, 11)])
    A = est.getA()
    assert A.flags.f_contiguous
    assert A.flags.writeable


# --- the series fast path: every accepted form gives the result of the list of floats ---

WINDOW = [3.5, -1.0, 2.25, 7.0, 0.0, 2.25, 5.5, -3.0, 4.0, 1.0, 6.0, 2.0, 8.5, -0.5]


def _outcome(name, series, K=4, mode=1):
    est = estimator(K, 1.96, 0.9, mode)
    result = est.nsFunc(name, series)
    return result, est.getH0(), est.getH(), est.getA()


def _assert_outcome(actual, expected):
    for a, b in zip(actual[:3], expected[:3], strict=True):
        assert_same(a, b)
    assert_table(actual[3], expected[3])


def _structured_field(values):
    """A float64 view with a 12-byte stride into a structured array."""
    table = np.zeros(len(values), dtype=[("x", "<f8"), ("tag", "<i4")])
    table["x"] = values
    return table["x"]


def _forms():
    base = np.array(WINDOW, dtype=np.float64)
    doubled = np.repeat(base, 2)
    return [
        pytest.param(lambda: base, WINDOW, id="float64-array"),
        pytest.param(lambda: doubled[::2], WINDOW, id="strided-view"),
        pytest.param(lambda: base[::-1], WINDOW[::-1], id="reversed-view"),
        pytest.param(lambda: tuple(WINDOW), WINDOW, id="tuple"),
        pytest.param(lambda: array.array("d", WINDOW), WINDOW, id="array-d"),
        pytest.param(lambda: memoryview(array.array("d", WINDOW)), WINDOW, id="memoryview"),
        pytest.param(
            lambda: base.astype(np.float32),
            [float(x) for x in base.astype(np.float32)],
            id="float32-array",
        ),
        pytest.param(
            lambda: [1, 5, -2, 4, 3, 0, 7],
            [1.0, 5.0, -2.0, 4.0, 3.0, 0.0, 7.0],
            id="ints",
        ),
        pytest.param(
            lambda: np.array([1, 5, -2, 4, 3, 0, 7], dtype=np.int64),
            [1.0, 5.0, -2.0, 4.0, 3.0, 0.0, 7.0],
            id="int64-array",
        ),
        pytest.param(lambda: [np.float64(x) for x in WINDOW], WINDOW, id="numpy-scalars"),
        pytest.param(lambda: base.astype(">f8"), WINDOW, id="big-endian-array"),
        pytest.param(lambda: _structured_field(WINDOW), WINDOW, id="structured-field-view"),
        pytest.param(lambda: range(-3, 9), [float(x) for x in range(-3, 9)], id="range"),
    ]


@pytest.mark.parametrize("mode", [1, 2])
@pytest.mark.parametrize("name", MEASURES)
@pytest.mark.parametrize(("make", "as_list"), _forms())
def test_series_forms_match_list_of_floats(make, as_list, name, mode):
    _assert_outcome(_outcome(name, make(), mode=mode), _outcome(name, list(as_list), mode=mode))


def test_float32_values_are_widened_not_rounded_to_decimal():
    values = np.array([0.1, 0.2, 0.3, 0.7, 0.9], dtype=np.float32)
    est = estimator(2, 1.96, 0.9, 1)
    est.nsFunc("NSLefttoRight", values)
    assert est.getA()[2, 0] == float(np.float32(0.9))
    assert est.getA()[2, 0] != 0.9


def test_strided_view_reads_the_right_elements():
    backing = np.array([1.0, 100.0, 2.0, 100.0, 3.0, 100.0, 4.0, 100.0])
    est = estimator(2, 1.96, 0.9, 1)
    est.nsFunc("NSLefttoRight", backing[::2])
    assert_table(est.getA()[:, 0], [1.0 - 0.01, 2.0, 4.0])


@pytest.mark.parametrize(
    "bad",
    [
        pytest.param("1234", id="str"),
        pytest.param(b"1234", id="bytes"),
        pytest.param([1.0, "2.0", 3.0], id="list-with-str"),
        pytest.param(np.zeros((3, 2)), id="2d-array"),
        pytest.param(np.zeros((3, 2)).T, id="2d-array-fortran"),
        pytest.param(np.array(["a", "b"]), id="str-array"),
        pytest.param(5.0, id="scalar"),
        pytest.param(None, id="None"),
        pytest.param([[1.0, 2.0]], id="nested-list"),
        pytest.param((x for x in (1.0, 2.0)), id="generator"),
        pytest.param({1.0, 2.0}, id="set"),
        pytest.param({0: 1.0, 1: 2.0}, id="dict"),
        pytest.param([1.0, None], id="list-with-None"),
        pytest.param([10**400, 1.0], id="int-too-large-for-a-double"),
        pytest.param([1j, 2.0], id="complex"),
        pytest.param(np.array([1.0, "a"], dtype=object), id="object-array-with-str"),
        pytest.param(np.float64(3.0), id="numpy-scalar"),
        pytest.param(np.array(3.0), id="0d-array"),
    ],
)
def test_nsFunc_rejects_unconvertible_series(bad):
    est = estimator(2)
    with pytest.raises(TypeError):
        est.nsFunc("NSLefttoRight", bad)


def test_nsFunc_rejects_2d_memoryview_with_type_error():
    # Arguments that do not convert raise TypeError. A 2-D memoryview of doubles is
    # a sequence whose elements cannot even be taken: it must not leak another exception.
    est = estimator(2)
    view = memoryview(np.zeros((2, 2)))
    with pytest.raises(TypeError):
        est.nsFunc("NSLefttoRight", view)


def test_nsFunc_rejects_non_str_name():
    est = estimator(2)
    with pytest.raises(TypeError):
        est.nsFunc(1, [1.0, 2.0])


def test_nsFuncRange_rejects_negative_indices():
    est = estimator(2)
    est.data = [1.0, 2.0, 3.0]
    with pytest.raises(TypeError):
        est.nsFuncRange("NSLefttoRight", -1, 2)


def test_estimators_are_independent():
    first = estimator(3)
    second = estimator(5, 1.96, 0.9, 2)
    first.nsFunc("NSLefttoRight", [float(x) for x in range(1, 11)])
    second.nsFunc("NSdichotomy", [float(x) for x in range(10, 0, -1)])
    assert first.getA().shape == (4, 6)
    assert second.getA().shape == (6, 6)
    first.data = [1.0]
    assert second.data == []
