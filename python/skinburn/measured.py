"""Measured exposures: what a lab records, as the absorbed flux a trial takes.

A lab has a heat-flux record, or the temperature record of a sensor, not a
formula. This module turns either into a :class:`FluxRecord`, an absorbed
flux against time (W/m^2), whose :meth:`FluxRecord.exposure` is a
:class:`~skinburn.exposure.HeatFlux` of a trial:

- :func:`read_flux_csv`: a CSV of time and absorbed flux, its units named in
  the header (``time_s,flux_W_m2``; ``time (ms), flux (kW/m2)``) or given;
- :func:`slug_flux`: a copper-slug calorimeter, a thin slab of copper whose
  temperature is uniform: q = m c dT/dt / A, the slope from a local
  quadratic fit (Savitzky-Golay) over ``window_s``;
- :func:`semi_infinite_flux`: a semi-infinite skin-simulant sensor (a
  substrate of conductivity k, density rho and heat capacity c, its surface
  temperature recorded): the Cook-Felderman form of the one-dimensional
  inverse, exact for a surface temperature straight between samples,
  q_n = 2 sqrt(k rho c / pi) sum_{i=1..n} (T_i - T_(i-1)) /
  (sqrt(t_n - t_(i-1)) + sqrt(t_n - t_i)), after the same smoothing.

A record starts the exposure: its first time is time 0. The records must be
sampled at a constant interval (the smoothing and the slope need one). The
flux is what the surface absorbed: a slug or a sensor painted as the skin
is (or corrected for its absorptivity) stands in for the skin's surface;
no correction for the sensor's own heating, losses or lateral conduction
is made here. Uses :mod:`skinburn.exposure` and :mod:`skinburn.units`.
"""
from __future__ import annotations

import csv
import math
import os
import re
from dataclasses import dataclass
from typing import Optional, Union

import numpy as np
import numpy.typing as npt

from .exposure import HeatFlux, Series
from .units import SkinburnError, Temperature, require_temperature

#: W/m^2 per unit of each flux unit a record may be given in.
FLUX_UNITS = {"W/m2": 1.0, "W/m^2": 1.0, "kW/m2": 1e3, "kW/m^2": 1e3, "W/cm2": 1e4, "W/cm^2": 1e4,
              "cal/cm2/s": 41868.0, "cal/cm^2/s": 41868.0, "cal/(cm2 s)": 41868.0}
#: Seconds per unit of each time unit a record may be given in.
TIME_UNITS = {"s": 1.0, "ms": 1e-3, "min": 60.0}


class RecordError(SkinburnError, ValueError):
    """A measured record that cannot be read or used as it stands; the message says what to change."""


@dataclass(frozen=True, eq=False)
class FluxRecord:
    """An absorbed flux against time: ``times_s`` from 0 (s) and ``flux_W_m2`` (W/m^2, positive heats the
    surface), with where it came from (``source``)."""

    times_s: np.ndarray
    flux_W_m2: np.ndarray
    source: str

    def series(self) -> Series:
        """The record as a :class:`~skinburn.exposure.Series` (straight lines between the samples)."""
        return Series(self.times_s, self.flux_W_m2)

    def exposure(self, duration_s: Optional[float] = None) -> HeatFlux:
        """A :class:`~skinburn.exposure.HeatFlux` of the record for ``duration_s`` (s; the whole record by
        default), no flux after it."""
        end = float(self.times_s[-1]) if duration_s is None else float(duration_s)
        return HeatFlux(self.series(), end)


def _uniform(times_s: npt.ArrayLike, what: str) -> tuple[np.ndarray, float]:
    """The times from 0 and their interval (s); RecordError unless they ascend at one interval."""
    t = np.asarray(times_s, dtype=float)
    if t.ndim != 1 or t.size < 3:
        raise RecordError(f"{what}: a record needs at least 3 samples, not {t.size}")
    if not np.all(np.isfinite(t)):
        raise RecordError(f"{what}: a time is not finite (sample {int(np.argmin(np.isfinite(t))) + 1})")
    t = t - t[0]
    step = np.diff(t)
    dt = float(np.median(step))
    if not dt > 0 or np.any(np.abs(step - dt) > 1e-6 * dt):
        raise RecordError(f"{what}: the samples must be taken at one interval, ascending (here from "
                          f"{float(step.min()):g} to {float(step.max()):g} s); resample the record first")
    return t, dt


def _finite(values: np.ndarray, what: str, unit: str) -> np.ndarray:
    bad = np.nonzero(~np.isfinite(values))[0]
    if bad.size:
        raise RecordError(f"{what}: sample {int(bad[0]) + 1} is {values[bad[0]]!r} {unit}: every value must "
                          "be a finite number")
    return values


def _window(samples: int, dt: float, window_s: Optional[float], what: str) -> int:
    """The samples (odd) of a local quadratic fit over ``window_s`` (s); 0 for none (None, 0, or a
    window of fewer than 5 samples)."""
    if not window_s:
        return 0
    if not (window_s > 0 and math.isfinite(window_s)):
        raise RecordError(f"{what}: the smoothing window must be a positive time, not {window_s!r} s")
    points = int(round(window_s / dt)) | 1  # an odd number of samples
    if points < 5:
        return 0
    if points > samples:
        raise RecordError(f"{what}: the smoothing window of {window_s:g} s is longer than the record "
                          f"({(samples - 1) * dt:g} s)")
    return points


def _fitted(values: np.ndarray, dt: float, window_s: Optional[float], what: str, deriv: int) -> np.ndarray:
    """``values`` (``deriv`` 0) or their slope per second (1) from a local quadratic fit over
    ``window_s`` (Savitzky-Golay); without one, as they are, or the central differences."""
    points = _window(values.size, dt, window_s, what)
    if not points:
        return values if deriv == 0 else np.gradient(values, dt)
    from scipy.signal import savgol_filter  # SciPy loads only when a record is smoothed

    return np.asarray(savgol_filter(values, points, 2, deriv=deriv, delta=dt, mode="interp"))


def _temperatures_K(temperatures: Union[Temperature, npt.ArrayLike], what: str) -> np.ndarray:
    t = require_temperature(temperatures, what)
    return _finite(np.atleast_1d(np.asarray(t.K, dtype=float)), what, "K")


def slug_flux(times_s: npt.ArrayLike, temperatures: Temperature, mass_kg: float, heat_capacity_J_kgK: float,
              area_m2: float, window_s: Optional[float] = None) -> FluxRecord:
    """The flux a copper-slug calorimeter absorbed (W/m^2): q = m c dT/dt / A.

    ``temperatures`` is the slug's record (``celsius([...])`` or
    ``kelvin([...])``) at ``times_s`` (one interval); ``mass_kg``,
    ``heat_capacity_J_kgK`` (copper: 385) and ``area_m2`` (the exposed face)
    are the slug's. dT/dt is the slope of a local quadratic fit over
    ``window_s`` (s; at least 5 samples; None: the central difference of
    neighbouring samples), which a noisy record needs: the noise of the
    flux falls as the window's length to the power 3/2.
    """
    t, dt = _uniform(times_s, "slug_flux")
    temp = _temperatures_K(temperatures, "slug_flux: temperatures")
    if temp.size != t.size:
        raise RecordError(f"slug_flux: {t.size} times but {temp.size} temperatures")
    for value, name in ((mass_kg, "mass_kg"), (heat_capacity_J_kgK, "heat_capacity_J_kgK"), (area_m2, "area_m2")):
        if not (value > 0 and math.isfinite(value)):
            raise RecordError(f"slug_flux: {name} must be a positive number, not {value!r}")
    slope = _fitted(temp, dt, window_s, "slug_flux", 1)
    return FluxRecord(t, mass_kg * heat_capacity_J_kgK * slope / area_m2, "copper slug")


def semi_infinite_flux(times_s: npt.ArrayLike, temperatures: Temperature, conductivity_W_mK: float,
                       density_kg_m3: float, heat_capacity_J_kgK: float,
                       window_s: Optional[float] = None) -> FluxRecord:
    """The flux a semi-infinite sensor's surface absorbed (W/m^2), by the Cook-Felderman form.

    ``temperatures`` is the surface's record (``celsius([...])``) at
    ``times_s`` (one interval), starting from a uniform substrate at the
    first temperature; ``conductivity_W_mK``, ``density_kg_m3`` and
    ``heat_capacity_J_kgK`` are the substrate's. The record is smoothed
    first over ``window_s`` (s; None: not), as a noisy one needs: the
    inverse amplifies the noise of each sample by about 1/sqrt(interval).
    The form is exact for a surface temperature straight between samples; a
    surface rising as sqrt(t) (a constant flux) comes back to 1 % from the
    tenth sample on. The sensor must stay semi-infinite: its thickness L
    at least 4 sqrt(alpha t) for the record's length t.
    """
    t, dt = _uniform(times_s, "semi_infinite_flux")
    temp = _temperatures_K(temperatures, "semi_infinite_flux: temperatures")
    if temp.size != t.size:
        raise RecordError(f"semi_infinite_flux: {t.size} times but {temp.size} temperatures")
    for value, name in ((conductivity_W_mK, "conductivity_W_mK"), (density_kg_m3, "density_kg_m3"),
                        (heat_capacity_J_kgK, "heat_capacity_J_kgK")):
        if not (value > 0 and math.isfinite(value)):
            raise RecordError(f"semi_infinite_flux: {name} must be a positive number, not {value!r}")
    smooth = _fitted(temp, dt, window_s, "semi_infinite_flux", 0)
    rise = np.diff(smooth)  # T_i - T_(i-1), i = 1..n
    q = np.zeros(t.size)
    for n in range(1, t.size):
        tn = t[n]
        q[n] = np.sum(rise[:n] / (np.sqrt(tn - t[:n]) + np.sqrt(tn - t[1:n + 1])))
    q *= 2.0 * math.sqrt(conductivity_W_mK * density_kg_m3 * heat_capacity_J_kgK / math.pi)
    return FluxRecord(t, q, "semi-infinite sensor (Cook-Felderman)")


_UNIT_IN = re.compile(r"[\(\[]\s*([^\)\]]+?)\s*[\)\]]")


def _unit_of(header: str, units: dict[str, float], what: str) -> Optional[float]:
    """The factor of the unit a header names (``time (ms)``, ``flux_kW_m2``), None when it names none."""
    m = _UNIT_IN.search(header)
    if m:
        word = m.group(1).replace(" ", "")
        for name, factor in units.items():
            if word.lower() == name.replace(" ", "").lower():
                return factor
        raise RecordError(f"the {what} column's unit {m.group(1)!r} is not one of {', '.join(units)}")
    tail = header.strip().lower()
    for name, factor in sorted(units.items(), key=lambda kv: -len(kv[0])):
        slug = name.lower().replace("/", "_").replace("^", "").replace("(", "").replace(")", "").replace(" ", "_")
        if tail.endswith("_" + slug):
            return factor
    return None


def read_flux_csv(path: Union[str, os.PathLike], flux_unit: Optional[str] = None,
                  time_unit: Optional[str] = None) -> FluxRecord:
    """A measured absorbed-flux history from a CSV file of two columns, time and flux.

    The first line is the header, and names each column's unit, in
    brackets (``time (s), flux (kW/m2)``) or as the name's end
    (``time_s,flux_W_m2``); a unit given here (``flux_unit``: one of
    :data:`FLUX_UNITS`; ``time_unit``: ``s``, ``ms``, ``min``) overrides
    the header's. A column whose unit is named nowhere is refused. The
    samples need not be at one interval; the first time is time 0.
    """
    with open(path, newline="", encoding="utf-8") as f:
        rows = [r for r in csv.reader(f) if r and any(c.strip() for c in r)]
    where = os.fspath(path)
    if len(rows) < 3:
        raise RecordError(f"{where}: a header and at least two samples are needed")
    header = rows[0]
    if len(header) < 2:
        raise RecordError(f"{where}: the header names {len(header)} column; two are needed, time and flux")
    tf = TIME_UNITS.get(time_unit) if time_unit else _unit_of(header[0], TIME_UNITS, "time")
    qf = FLUX_UNITS.get(flux_unit) if flux_unit else _unit_of(header[1], FLUX_UNITS, "flux")
    if tf is None or qf is None:
        which = "time" if tf is None else "flux"
        raise RecordError(f"{where}: the {which} column's unit is named neither in the header nor given: write "
                          "it as 'time (s), flux (kW/m2)', or give time_unit= / flux_unit=")
    try:
        data = np.array([[float(r[0]), float(r[1])] for r in rows[1:]])
    except (ValueError, IndexError) as exc:
        raise RecordError(f"{where}: every line after the header must hold two numbers ({exc})") from None
    t = data[:, 0] * tf
    q = _finite(data[:, 1] * qf, where, "W/m^2")
    if not np.all(np.isfinite(t)) or np.any(np.diff(t) < 0):
        raise RecordError(f"{where}: the times must be finite and must not decrease")
    return FluxRecord(t - t[0], q, where)
