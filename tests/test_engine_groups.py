"""The groups the measures report to the engine, against the table they write and a plain
re-derivation from the running shares."""

import numpy as np
import pytest

from quorvel_tools import _engine

from helpers import ACCEPT, MEASURES, Z, left_to_right_groups, running_shares, subtract_terms

WINDOWS = [
    (kind, seed, n, K)
    for seed, (kind, n, K) in enumerate(
        [
            ("noise", 300, 8),
            ("walk", 300, 8),
            ("level", 400, 11),
            ("ties", 250, 6),
            ("noise", 40, 12),
            ("walk", 1000, 29),
            ("variance", 500, 10),
        ]
    )
]


def window(kind, seed, n):
    rng = np.random.default_rng(seed)
    x = rng.normal(size=n)
    if kind == "walk":
        return x.cumsum()
    if kind == "level":
        x[n // 2 :] += 1.5
    if kind == "variance":
        x[n // 2 :] *= 3
    if kind == "ties":
        return np.round(x)
    return x


@pytest.mark.parametrize(("kind", "seed", "n", "K"), WINDOWS)
def test_left_to_right_groups_are_those_of_the_plain_sweep(kind, seed, n, K):
    x = window(kind, seed, n)
    value, H0, H, A, groups = _engine.run("NSLefttoRight", x, K, Z, ACCEPT, 1)
    P = running_shares(x, A[:, 0])
    assert [(g[0], g[1]) for g in groups] == [
        (first, last) for first, last, _ in left_to_right_groups(P, 1, K)
    ]
    assert H == subtract_terms([g[3] for g in groups])
    for first, last, count, share, group_kind in groups:
        assert group_kind == "group"
        assert count == A[first : last + 1, 1].sum()
        assert share == pytest.approx(A[first : last + 1, 2].sum(), rel=1e-15)
        # The table reports the same group at its last class.
        assert A[last, 4] == count or count == 0


@pytest.mark.parametrize(("kind", "seed", "n", "K"), WINDOWS)
def test_dichotomy_groups_are_its_final_partition(kind, seed, n, K):
    x = window(kind, seed, n)
    value, H0, H, A, groups = _engine.run("NSdichotomy", x, K, Z, ACCEPT, 1)
    assert H == subtract_terms([g[3] for g in groups])
    ends = [c for c in range(1, K + 1) if A[c, 4] != 0]
    assert [g[1] for g in groups] == (ends if ends[-1] == K else [*ends, K])
    starts = [1] + [g[1] + 1 for g in groups[:-1]]
    assert [g[0] for g in groups] == starts
    for _first, last, count, share, _ in groups:
        assert (count, share) == (A[last, 4], A[last, 5]) or (count, last) == (0, K)


@pytest.mark.parametrize(("kind", "seed", "n", "K"), WINDOWS)
def test_local_to_global_groups_tile_the_classes_and_match_the_marks(kind, seed, n, K):
    x = window(kind, seed, n)
    value, H0, H, A, groups = _engine.run("NSLocaltoGlobal", x, K, Z, ACCEPT, 1)
    assert [g[0] for g in groups] == [1] + [g[1] + 1 for g in groups[:-1]]
    assert groups[-1][1] == K
    marks = A[:, 3]
    for first, last, count, _share, group_kind in groups:
        assert count == A[first : last + 1, 1].sum()
        if group_kind == "core":
            assert marks[first - 1] == marks[last] == K
        if group_kind == "unsettled":
            assert (first == 1 and marks[0] == 0) or (last == K and marks[K] == 0)
    kinds = [g[4] for g in groups]
    assert kinds.count("core") + kinds.count("failed-core") <= 1
    settled = [g[3] for g in groups if g[4] in ("group", "core")]
    if "unsettled" not in kinds:
        # Without a failed tail, H is the terms of the core and of the side groups.
        assert H == pytest.approx(subtract_terms(settled), rel=1e-12, abs=1e-15)


@pytest.mark.parametrize("name", MEASURES)
def test_a_run_with_groups_gives_the_module_figures(name):
    import quorvel

    x = window("walk", 9, 700)
    est = quorvel.NonStationary()
    est.setup(13, Z, ACCEPT, 1)
    expected = est.nsFunc(name, x)
    value, H0, H, A, _ = _engine.run(name, x, 13, Z, ACCEPT, 1)
    assert (value, H0, H) == (expected, est.getH0(), est.getH())
    np.testing.assert_array_equal(A, est.getA())
