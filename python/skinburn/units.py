"""Temperatures with their unit stated.

skinburn works in kelvin. Every function of this package that takes a
temperature takes a :class:`Temperature`, made with :func:`kelvin` or
:func:`celsius`; a bare number is refused, so a value in degrees Celsius is
never taken for kelvin or the other way round.

Holds :class:`Temperature`, :func:`kelvin`, :func:`celsius` and the check
:func:`require_temperature`, and :class:`SkinburnError`, the root of every
error the package names. Uses NumPy only: the lowest module of the package.
"""
from __future__ import annotations

from dataclasses import dataclass
from typing import Union

import numpy as np
import numpy.typing as npt

#: 0 °C in kelvin (the definition of the Celsius scale, SI Brochure, 9th ed., 2.3.1).
ZERO_CELSIUS_K = 273.15

ArrayLike = Union[float, "npt.ArrayLike"]


class SkinburnError(Exception):
    """The root of every error this package names (``except skinburn.SkinburnError`` catches them all).

    Each named error also stands under the built-in class it was before
    (a :class:`NotSettled` is still a ``RuntimeError``, a
    :class:`NonFiniteHistory` a ``ValueError``), so code that caught those
    keeps working."""


@dataclass(frozen=True, eq=False)
class Temperature:
    """A temperature or an array of temperatures, held in kelvin.

    Make one with :func:`kelvin` or :func:`celsius`. ``.K`` gives the value
    in K, ``.C`` in °C; both are a float for a scalar, else a NumPy array.
    """

    K: Union[float, np.ndarray]

    def __post_init__(self) -> None:
        value = np.asarray(self.K, dtype=float)
        if not np.all(np.isfinite(value)):
            raise ValueError(f"temperature is not finite: {self.K!r}")
        if np.any(value <= 0.0):
            raise ValueError(f"temperature at or below absolute zero: {self.K!r} K")
        object.__setattr__(self, "K", float(value) if value.ndim == 0 else value)

    def __eq__(self, other: object) -> bool:
        return isinstance(other, Temperature) and bool(np.array_equal(self.K, other.K))

    def __hash__(self) -> int:
        return hash(np.asarray(self.K).tobytes())

    @property
    def C(self) -> Union[float, np.ndarray]:
        """The value in °C."""
        return self.K - ZERO_CELSIUS_K

    @property
    def is_scalar(self) -> bool:
        """True for a single temperature."""
        return np.ndim(self.K) == 0

    def __repr__(self) -> str:
        if self.is_scalar:
            return f"kelvin({self.K!r})"
        return f"kelvin({np.asarray(self.K).tolist()!r})"

    def to_dict(self) -> dict:
        """JSON form: ``{"K": value}`` (a number or a list)."""
        return {"K": self.K if self.is_scalar else np.asarray(self.K).tolist()}


def kelvin(value: ArrayLike) -> Temperature:
    """A temperature given in K (a number or an array)."""
    return Temperature(np.asarray(value, dtype=float) if np.ndim(value) else float(np.asarray(value, dtype=float)))


def celsius(value: ArrayLike) -> Temperature:
    """A temperature given in °C (a number or an array)."""
    return kelvin(np.asarray(value, dtype=float) + ZERO_CELSIUS_K)


def temperature_word(text: str, what: str = "a temperature") -> Temperature:
    """A temperature written with its unit: ``500K``, ``60C`` or ``60°C``; ValueError otherwise."""
    t = text.strip()
    for suffix, make in (("°C", celsius), ("C", celsius), ("K", kelvin)):
        if t.endswith(suffix):
            try:
                return make(float(t[: -len(suffix)]))
            except ValueError:
                break
    raise ValueError(f"{what} is a temperature: give it with its unit (500K, 60C), not {text!r}")


def require_temperature(value: object, what: str) -> Temperature:
    """``value`` if it is a :class:`Temperature`, else a TypeError naming ``what``."""
    if isinstance(value, Temperature):
        return value
    raise TypeError(
        f"{what} must be given with its unit, as celsius(...) or kelvin(...), not {value!r}")
