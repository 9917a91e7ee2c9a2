"""Inputs that once made a measure run for hours: a class count far above the window length,
where almost every class is empty, and configurations under which no group ever settles."""

import math

import pytest

import quorvel

from helpers import MEASURES


@pytest.mark.parametrize(
    ("K", "z", "threshold", "mode"),
    [
        (10**6, 1.96, 0.925845, 1),
        (10**6, 1.96, 0.925845, 0),
        (10**6, 1.96, 2.0, 0),
        (10**6, -math.inf, 0.9, 1),
        (10**6, math.inf, 0.9, 0),
    ],
)
@pytest.mark.parametrize("name", MEASURES)
def test_a_huge_class_count_against_three_values_finishes(name, K, z, threshold, mode):
    est = quorvel.NonStationary()
    est.setup(K, z, threshold, mode)
    result = est.nsFunc(name, [0.0, 1e-9, 1.0])
    assert isinstance(result, float)
    A = est.getA()
    assert A.shape == (K + 1, 6)
    assert A[:, 1].sum() <= 3


def test_empty_classes_do_not_change_the_circular_measure():
    # The same three values with K = 3 and K = 3000 equal-frequency classes: the extra classes
    # are empty and every class passes alone, so both give 0 with the same H0.
    small, large = quorvel.NonStationary(), quorvel.NonStationary()
    small.setup(3, 1.96, 0.925845, 1)
    large.setup(3000, 1.96, 0.925845, 1)
    window = [3.0, 1.0, 2.0]
    assert small.nsFunc("NSCircleLefttoRight", window) == large.nsFunc(
        "NSCircleLefttoRight", window
    )
    assert small.getH0() == large.getH0() == small.getH()
