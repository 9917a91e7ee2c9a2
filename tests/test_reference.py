"""Every record of the reference files, all four measures, compared bit for bit."""

import numpy as np
import pytest

import quorvel

from helpers import MEASURES, assert_same, assert_table, load_jsonl


def _records():
    params = []
    for file in ("cases.jsonl", "long.jsonl"):
        for index, record in enumerate(load_jsonl(file)):
            label = f"{file.split('.')[0]}-{index}"
            if "kind" in record:
                label += f"-{record['kind']}"
            params.append(pytest.param(record, id=label))
    return params


RECORDS = _records()


def test_reference_files_are_complete():
    assert len(RECORDS) == 293 + 28


def _configured(configure):
    est = quorvel.NonStationary()
    if "setup" in configure:
        K, z, accept, mode = configure["setup"]
        est.setup(K, z, accept, mode)
    else:
        est.setupDS(configure["setupDS"])
    return est


@pytest.mark.parametrize("record", RECORDS)
def test_reference_record(record):
    est = _configured(record["configure"])
    window = np.asarray(record["window"], dtype=np.float64)
    for name in MEASURES:
        expected = record["measures"].get(name)
        if expected is None:
            # A measure absent from the record rejects the input.
            with pytest.raises(ValueError):
                est.nsFunc(name, window)
            continue
        result = est.nsFunc(name, window)
        assert_same(result, expected["result"])
        assert_same(est.getH0(), expected["H0"])
        assert_same(est.getH(), expected["H"])
        assert_table(est.getA(), expected["A"])
