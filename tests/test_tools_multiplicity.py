"""Holm's and Benjamini-Hochberg's adjustments on hand-computed cases."""

import numpy as np

from quorvel_tools.multiplicity import adjusted, holm, q_values

P = np.array([0.04, 0.01, np.nan, 0.03, 0.5])


def test_q_values_are_the_running_minimum_of_m_p_over_rank():
    # Sorted: 0.01, 0.03, 0.04, 0.5 (m = 4): 0.04, 0.06, 0.0533.., 0.5, then the minimum from
    # the top down: 0.04, 0.0533.., 0.0533.., 0.5.
    found = q_values(P)
    assert np.allclose(found, [0.16 / 3, 0.04, np.nan, 0.16 / 3, 0.5], equal_nan=True)
    assert q_values([0.9, 0.95]).tolist() == [0.95, 0.95] and q_values([]).size == 0


def test_holm_is_the_running_maximum_of_the_stepped_down_bonferroni():
    # Sorted: 0.01 * 4, 0.03 * 3, 0.04 * 2, 0.5 * 1 = 0.04, 0.09, 0.08, 0.5; running maximum.
    assert np.allclose(holm(P), [0.09, 0.04, np.nan, 0.09, 0.5], equal_nan=True)
    assert holm([0.3, 0.4]).tolist() == [0.6, 0.6]
    assert adjusted(P, "none")[1] == 0.01 and np.isnan(adjusted(P, "fdr")[2])
