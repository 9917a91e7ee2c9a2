"""Many series at once, locally and on Dask's local scheduler, with one fixed schema."""

import functools

import dask
import dask.bag
import numpy as np
import pandas as pd
import pytest

from quorvel_tools import RESULT_SCHEMA, analyze, analyze_many

RNG = np.random.default_rng(2)
SERIES = {f"s{i}": RNG.normal(size=80 + 10 * i).cumsum() for i in range(6)}


def long_frame():
    return pd.concat(
        pd.DataFrame({"id": key, "value": values}) for key, values in SERIES.items()
    ).reset_index(drop=True)


def test_dict_list_and_long_frame_agree_with_analyze():
    by_dict = analyze_many(SERIES)
    assert list(by_dict.columns) == list(RESULT_SCHEMA)
    assert [str(t) for t in by_dict.dtypes] == list(RESULT_SCHEMA.values())
    assert len(by_dict) == 6 * 4
    row = by_dict[(by_dict["id"] == "s3") & (by_dict["method"] == "NSdichotomy")].iloc[0]
    assert row["value"] == analyze(SERIES["s3"], method="NSdichotomy").value
    from_frame = analyze_many(long_frame())
    pd.testing.assert_frame_equal(from_frame, by_dict)
    by_list = analyze_many(list(SERIES.values()), method="NSLefttoRight")
    assert list(by_list["id"]) == list(range(6))


def test_empty_input_keeps_the_schema():
    empty = analyze_many({})
    assert list(empty.columns) == list(RESULT_SCHEMA) and len(empty) == 0


def test_dask_bag_and_delayed_equal_the_local_result():
    local = analyze_many(SERIES)
    with dask.config.set(scheduler="synchronous"):
        parts = (
            dask.bag.from_sequence(list(SERIES.items()), npartitions=3)
            .map_partitions(lambda items: [analyze_many(dict(items))])
            .compute()
        )
        delayed = [dask.delayed(analyze_many)({k: v}) for k, v in SERIES.items()]
        from_delayed = pd.concat(dask.compute(*delayed), ignore_index=True)
    pd.testing.assert_frame_equal(pd.concat(parts, ignore_index=True), local)
    pd.testing.assert_frame_equal(from_delayed, local)


def test_grouped_apply_as_spark_or_ray_would_call_it():
    frame = long_frame()
    per_group = functools.partial(analyze_many, method="NSLefttoRight")
    applied = pd.concat([per_group(group) for _, group in frame.groupby("id")], ignore_index=True)
    pd.testing.assert_frame_equal(applied, analyze_many(SERIES, method="NSLefttoRight"))


def test_rows_without_an_id_are_refused_not_dropped():
    frame = long_frame()
    frame.loc[[3, 90, 91], "id"] = [None, np.nan, None]
    with pytest.raises(ValueError, match="3 row"):
        analyze_many(frame)


def test_a_failing_series_is_named_by_its_id():
    data = {np.int64(2): [1.0, np.nan, 3.0, 4.0]}
    with pytest.raises(ValueError, match="^series 2: .*1 missing value"):
        analyze_many(data)


def test_workers_do_not_change_the_table():
    one = analyze_many(SERIES, workers=1)
    pd.testing.assert_frame_equal(analyze_many(SERIES, workers=3), one)
    with pytest.raises(ValueError, match="workers"):
        analyze_many(SERIES, workers=0)


def test_a_refused_series_is_named_by_its_id():
    series = {"good": np.arange(50.0), "flat": np.ones(40), "short": np.arange(1.0)}
    with pytest.raises(ValueError, match="^series 'short': "):
        analyze_many(series)


def shuffled_long_frame():
    """The long frame with its rows in a random order and a sorted index giving their time
    order, in several partitions: each id's rows are spread over all of them."""
    frame = long_frame()
    order = np.random.default_rng(5).permutation(len(frame))
    return frame.iloc[order].sort_index()


@pytest.fixture(scope="module")
def cluster_client():
    distributed = pytest.importorskip("dask.distributed")
    pytest.importorskip("dask.dataframe")
    with (
        distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
        ) as cluster,
        distributed.Client(cluster) as client,
    ):
        yield client


def test_a_dask_dataframe_gives_a_lazy_table_equal_to_the_local_one(cluster_client):
    import dask.dataframe as dd

    frame = dd.from_pandas(shuffled_long_frame(), npartitions=4)
    lazy = analyze_many(frame, workers=1)
    assert isinstance(lazy, dd.DataFrame)
    assert list(lazy.columns) == list(RESULT_SCHEMA)
    computed = cluster_client.compute(lazy).result()
    assert len(cluster_client.scheduler_info()["workers"]) == 2
    got = computed.astype(RESULT_SCHEMA).sort_values(["id", "method"]).reset_index(drop=True)
    expected = analyze_many(SERIES).sort_values(["id", "method"]).reset_index(drop=True)
    pd.testing.assert_frame_equal(got, expected)


def test_a_dask_dataframe_without_known_divisions_is_refused():
    dd = pytest.importorskip("dask.dataframe")
    frame = dd.from_pandas(long_frame(), npartitions=2).clear_divisions()
    with pytest.raises(ValueError, match="known divisions"):
        analyze_many(frame)


def test_p_values_are_analyzes_and_q_values_adjust_them_across_the_series():
    pytest.importorskip("pandas")
    from quorvel_tools import analyze, result_schema
    from quorvel_tools.multiplicity import q_values

    rng = np.random.default_rng(12)
    shifted = rng.normal(size=150) + np.repeat([0.0, 1.5], 75)
    data = {
        "noise": rng.normal(size=150),
        "shifted": shifted,
        "tied": np.round(rng.normal(size=120), 1),
        # Two equal values inside the first class: its counts are those of distinct values.
        "tied within a class": rng.permutation(np.r_[np.arange(99.0), 5.0]),
        "other length": rng.normal(size=90),
    }
    frame = analyze_many(data, p_values=True, permutations=99, seed=3)
    assert dict(frame.dtypes.astype(str)) == result_schema(p_values=True)
    for row in frame.itertuples():
        expected = analyze(data[row.id], method=row.method, permutations=99, seed=3)
        assert row.p_value == expected.p_value, (row.id, row.method)
    for _, rows in frame.groupby("method"):
        assert np.array_equal(rows.q_value.to_numpy(), q_values(rows.p_value.to_numpy()))
    # seed=None: each series keys its own tie-break, whatever else is in the batch.
    alone = analyze_many({"noise": data["noise"]}, method="NSLefttoRight", p_values=True)
    batch = analyze_many(data, method="NSLefttoRight", p_values=True)
    assert alone.p_value[0] == batch.p_value[0] and alone.q_value[0] == alone.p_value[0]
    block = analyze_many(data, method="NSLefttoRight", p_values=True, null="block", seed=3)
    assert block.p_value.tolist() == [
        analyze(data[key], null="block", seed=3).p_value for key in block.id
    ]


def test_errors_skip_keeps_a_row_for_each_series_that_cannot_be_measured():
    pytest.importorskip("pandas")
    from quorvel_tools import result_schema

    data = {"short": [1.0, 2.0], "fine": np.arange(50.0), "text": ["a", "b"]}
    with pytest.raises(ValueError, match="^series 'short': 2 value"):
        analyze_many(data)
    frame = analyze_many(data, method="NSLefttoRight", errors="skip", p_values=True)
    assert dict(frame.dtypes.astype(str)) == result_schema(p_values=True, errors="skip")
    assert frame.id.tolist() == ["short", "fine", "text"]
    assert frame.error[0].startswith("2 value(s) are too few") and frame.error[1] == ""
    assert frame.error[2].startswith("expected a 1-D sequence of real numbers")
    assert frame.value.isna().tolist() == [True, False, True]
    assert frame.classes.tolist()[::2] == [0, 0] and frame.n.tolist() == [2, 50, 2]
    assert frame.p_value[1] == frame.q_value[1] and frame.p_value[1] < 0.01
    with pytest.raises(ValueError, match="errors must be one of 'raise', 'skip', not 'drop'"):
        analyze_many(data, errors="drop")


def test_missing_columns_say_which_there_are_and_how_to_name_them():
    pandas = pytest.importorskip("pandas")
    frame = pandas.DataFrame({"sensor": ["a"] * 20, "reading": np.arange(20.0)})
    with pytest.raises(ValueError, match=r"it has \['sensor', 'reading'\]: name .* id_column="):
        analyze_many(frame)
    found = analyze_many(frame, id_column="sensor", value_column="reading", method="NSLefttoRight")
    assert found.id.tolist() == ["a"]


def test_errors_skip_measures_again_without_a_series_the_engine_refuses(monkeypatch):
    pytest.importorskip("pandas")
    from quorvel_tools import many
    from quorvel_tools._engine import TaskError

    bad = np.arange(60.0)[::-1].copy()
    real = many.run_many

    def refusing(method, series, classes, request):
        for index, values in enumerate(series):
            if method == "NSLefttoRight" and values[0] == bad[0]:
                error = TaskError(f"series {index}: refused")
                error.index, error.reason = index, "refused"
                raise error
        return real(method, series, classes, request)

    monkeypatch.setattr(many, "run_many", refusing)
    data = {"a": np.arange(50.0), "bad": bad, "c": np.arange(70.0)}
    with pytest.raises(ValueError, match="^series 'bad': refused"):
        analyze_many(data, method="NSLefttoRight")
    frame = analyze_many(data, errors="skip", method="all")
    rows = frame.set_index(["id", "method"])
    assert rows.loc[("bad", "NSLefttoRight"), "error"] == "refused"
    assert np.isnan(rows.loc[("bad", "NSLefttoRight"), "value"])
    # The other measures still measure it, and the other series throughout.
    assert rows.loc[("bad", "NSdichotomy"), "error"] == ""
    assert rows.loc[("c", "NSLefttoRight"), "value"] == 1.0
