"""Optional dependencies, imported only when a feature needs them, with a clear error otherwise."""

from __future__ import annotations

import importlib
from types import ModuleType


class MissingDependencyError(ImportError):
    """An optional package that a feature needs is not installed."""


def require(module: str, feature: str, package: str | None = None) -> ModuleType:
    try:
        return importlib.import_module(module)
    except ImportError as error:
        name = package or module.split(".")[0]
        raise MissingDependencyError(
            f"{feature} needs the optional package {name!r}; install it with: pip install {name}"
        ) from error
