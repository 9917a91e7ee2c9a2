"""Analysis layer over the compiled `quorvel` module: result objects, where a series drifts,
p-values, rolling windows and many series at once."""

from importlib import metadata as _metadata

from .analysis import analyze
from .config import METHODS
from .groups import Group
from .inputs import Series
from .many import RESULT_SCHEMA, analyze_many, result_schema
from .notes import ResultWarning
from .nullcache import NullCacheWarning
from .nullmodels import NullModel
from .nullstore import clear_null_cache, set_null_cache
from .optional import MissingDependencyError
from .permutation import PermutationResult, permutation_test
from .result import Analysis, UnclassifiedValuesWarning
from .rolling import RollingProfile, rolling
from .running import RunningShares
from .significance import Significance
from .verdict import Component, Verdict, verdict

try:
    __version__ = _metadata.version("quorvel")
except _metadata.PackageNotFoundError:  # run from a source tree that was never installed
    import quorvel as _quorvel

    __version__ = _quorvel.__version__

__all__ = [
    "METHODS",
    "RESULT_SCHEMA",
    "Analysis",
    "Component",
    "Group",
    "MissingDependencyError",
    "NullCacheWarning",
    "NullModel",
    "PermutationResult",
    "ResultWarning",
    "RollingProfile",
    "RunningShares",
    "Series",
    "Significance",
    "UnclassifiedValuesWarning",
    "Verdict",
    "analyze",
    "analyze_many",
    "clear_null_cache",
    "permutation_test",
    "result_schema",
    "rolling",
    "set_null_cache",
    "verdict",
]
