"""Checks of the numbers a trial is built from, made where they enter.

Each raises :class:`ValueError` naming the value and its unit, so that a
wrong sign, a NaN or a fractional count is refused when the object is made,
not written to a data file and run.

Holds the checks (:func:`positive`, :func:`non_negative`, :func:`finite`,
:func:`whole`, ...). Uses NumPy only.
"""
from __future__ import annotations

import math
import numbers
from typing import Any

import numpy as np


def _number(value: Any, what: str, unit: str) -> float:
    if isinstance(value, (bool, str, bytes)) or not isinstance(value, (numbers.Real, np.ndarray)):
        raise TypeError(f"{what} must be a number{_in(unit)}, not {value!r}")
    try:
        x = float(value)
    except TypeError:
        raise TypeError(f"{what} must be one number{_in(unit)}, not {value!r}") from None
    if not math.isfinite(x):
        raise ValueError(f"{what} must be finite, not {_show(value, unit)}")
    return x


def _in(unit: str) -> str:
    return f" (in {unit})" if unit else ""


def _show(value: Any, unit: str) -> str:
    return f"{value!r} {unit}" if unit else repr(value)


def finite(value: Any, what: str, unit: str = "") -> float:
    """``value`` as a float; ValueError unless it is finite."""
    return _number(value, what, unit)


def positive(value: Any, what: str, unit: str = "") -> float:
    """``value`` as a float; ValueError unless it is finite and greater than 0."""
    x = _number(value, what, unit)
    if not x > 0:
        raise ValueError(f"{what} must be positive, not {_show(value, unit)}")
    return x


def non_negative(value: Any, what: str, unit: str = "") -> float:
    """``value`` as a float; ValueError unless it is finite and at least 0."""
    x = _number(value, what, unit)
    if not x >= 0:
        raise ValueError(f"{what} must not be negative, not {_show(value, unit)}")
    return x


def whole(value: Any, what: str, least: int = 0) -> int:
    """``value`` as an int; ValueError unless it is a whole number of at least ``least``."""
    x = _number(value, what, "")
    if x != math.floor(x):
        raise ValueError(f"{what} must be a whole number, not {value!r}")
    if x < least:
        raise ValueError(f"{what} must be at least {least}, not {value!r}")
    return int(x)
