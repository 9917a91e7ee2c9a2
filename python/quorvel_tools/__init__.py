"""Analysis layer over the compiled `quorvel` module: result objects, where a series drifts,
permutation p-values, rolling windows and many series at once."""

from .analysis import analyze
from .config import METHODS
from .groups import Group
from .inputs import Series
from .many import RESULT_SCHEMA, analyze_many
from .optional import MissingDependencyError
from .result import Analysis
from .rolling import RollingProfile, rolling
from .running import RunningShares
from .significance import PermutationResult, permutation_test

__all__ = [
    "METHODS",
    "RESULT_SCHEMA",
    "Analysis",
    "Group",
    "MissingDependencyError",
    "PermutationResult",
    "RollingProfile",
    "RunningShares",
    "Series",
    "analyze",
    "analyze_many",
    "permutation_test",
    "rolling",
]
