"""Fixtures of the quorvel test suite; the helpers themselves live in helpers.py."""

import pytest

import quorvel


@pytest.fixture
def est():
    """A new, unconfigured estimator."""
    return quorvel.NonStationary()
