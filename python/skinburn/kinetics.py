"""Arrhenius burn damage: rate models, their published constants, and Omega.

The damage integral of a point of the skin is

    Omega = integral over the run of  k(T(t)) dt,   k(T) = P exp(-(E/R) / T),

with P the frequency factor in 1/s, E/R the activation temperature in K and
T in K. A model may have several regimes, each from its own lower
temperature on, and a rate of exactly 0 below the first.

:func:`damage_integral` integrates a temperature history the way skinburn
does: classical fourth-order Runge-Kutta with one step per record interval.
The rate does not depend on Omega, so each step is Simpson's rule,

    Omega_j = Omega_(j-1) + dt/6 (k(T_(j-1)) + 4 k((T_(j-1) + T_j)/2) + k(T_j)),

where T is the straight line between two records of the history, so the
midpoint temperature is the mean of the two records. Given the same history
and constants it agrees with the program's Omega to about 1e-14 relative;
the package's tests hold it to 1e-9.

Holds :class:`Regime`, :class:`Kinetics`, the presets (:data:`KINETICS`),
:func:`damage_integral` and :func:`time_to_reach`. Uses :mod:`skinburn.checks`
and :mod:`skinburn.units`.
"""
from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Optional, Sequence

import numpy as np
import numpy.typing as npt

from .checks import non_negative, positive
from .units import ZERO_CELSIUS_K

#: The program reports an Omega below this as exactly 0 (docs/results.md,
#: ``omega`` against ``omega_unfloored``).
PROGRAM_OMEGA_FLOOR = 1e-6

# Rows of a history integrated at a time: bounds the memory the rates take
# for histories of millions of values.
_ROWS_PER_CHUNK = 4096


@dataclass(frozen=True)
class Regime:
    """One Arrhenius regime: the rate P exp(-(E/R)/T) from ``from_K`` upwards."""

    from_K: float
    frequency_factor_per_s: float
    e_over_r_K: float

    def __post_init__(self) -> None:
        non_negative(self.from_K, "from_K", "K")
        positive(self.frequency_factor_per_s, "frequency_factor_per_s", "1/s")
        positive(self.e_over_r_K, "e_over_r_K", "K")

    @property
    def log_frequency_factor(self) -> float:
        """ln P, with P in 1/s."""
        return math.log(self.frequency_factor_per_s)


@dataclass(frozen=True)
class Kinetics:
    """A damage-rate model: one or more Arrhenius regimes.

    ``regimes`` ascend in ``from_K``; each applies from its ``from_K`` up to
    the next one's, the last without an upper end, and the rate is 0 below
    the first. A single set given as P, E and R (as the program holds it)
    keeps E in J/mol and R in J/(mol K) in ``activation_energy_J_mol`` and
    ``gas_constant_J_molK`` so that it can be written to ``DATA.DAT``.
    """

    name: str
    regimes: tuple[Regime, ...]
    source: str = ""
    activation_energy_J_mol: Optional[float] = None
    gas_constant_J_molK: Optional[float] = None
    key: str = field(default="", compare=False)

    def __post_init__(self) -> None:
        if not self.regimes:
            raise ValueError("a kinetics model needs at least one regime")
        if not all(isinstance(r, Regime) for r in self.regimes):
            raise TypeError("the regimes of a kinetics model are Regime(from_K, frequency_factor_per_s, e_over_r_K)")
        lows = [r.from_K for r in self.regimes]
        if any(b <= a for a, b in zip(lows, lows[1:])):
            raise ValueError(f"regimes must ascend in temperature: {lows} K")

    @classmethod
    def arrhenius(cls, frequency_factor_per_s: float, activation_energy_J_mol: float,
                  gas_constant_J_molK: float, name: str = "user", source: str = "",
                  key: str = "") -> "Kinetics":
        """A single Arrhenius set, P in 1/s, E in J/mol, R in J/(mol K), at every temperature."""
        positive(activation_energy_J_mol, "activation_energy_J_mol", "J/mol")
        positive(gas_constant_J_molK, "gas_constant_J_molK", "J/(mol K)")
        regime = Regime(0.0, frequency_factor_per_s, activation_energy_J_mol / gas_constant_J_molK)
        return cls(name, (regime,), source, activation_energy_J_mol, gas_constant_J_molK, key)

    @property
    def single_set(self) -> bool:
        """True when the program itself can hold this model (one set, all temperatures, E and R known)."""
        return (len(self.regimes) == 1 and self.regimes[0].from_K == 0.0
                and self.activation_energy_J_mol is not None and self.gas_constant_J_molK is not None)

    @property
    def threshold_K(self) -> float:
        """The temperature below which the rate is 0 (0 K for a single set)."""
        return self.regimes[0].from_K

    def log_rate(self, temperature_K: npt.ArrayLike) -> np.ndarray:
        """ln of the damage rate (rate in 1/s) at each temperature; -inf where the rate is 0, NaN at a NaN."""
        t = np.asarray(temperature_K, dtype=float)
        out = np.where(np.isnan(t), np.nan, -np.inf)
        # Only finite temperatures above 0 K are divided by: no division here can fail.
        for i, r in enumerate(self.regimes):
            upper = self.regimes[i + 1].from_K if i + 1 < len(self.regimes) else np.inf
            sel = (t >= r.from_K) & (t < upper) & (t > 0)
            out[sel] = r.log_frequency_factor - r.e_over_r_K / t[sel]
        return out

    def rate_per_s(self, temperature_K: npt.ArrayLike) -> np.ndarray:
        """The damage rate dOmega/dt in 1/s at each temperature (K)."""
        return np.exp(self.log_rate(temperature_K))

    def to_dict(self) -> dict:
        """JSON form (a preset by its key, else its regimes)."""
        if self.key:
            return {"preset": self.key}
        d: dict = {"name": self.name, "source": self.source,
                   "regimes": [[r.from_K, r.frequency_factor_per_s, r.e_over_r_K] for r in self.regimes]}
        if self.single_set:
            d.update(P_per_s=self.regimes[0].frequency_factor_per_s,
                     E_J_mol=self.activation_energy_J_mol, R_J_molK=self.gas_constant_J_molK)
        return d

    @classmethod
    def from_dict(cls, d: dict) -> "Kinetics":
        """The inverse of :meth:`to_dict`."""
        if "preset" in d:
            return kinetics_preset(d["preset"])
        if "E_J_mol" in d:
            return cls.arrhenius(d["P_per_s"], d["E_J_mol"], d["R_J_molK"], d.get("name", "user"),
                                 d.get("source", ""))
        return cls(d.get("name", "user"), tuple(Regime(*r) for r in d["regimes"]), d.get("source", ""))


# --- Presets ----------------------------------------------------------------

_C = ZERO_CELSIUS_K

#: The program's own constants: what ``DATA.DAT`` entries 11, 13 and 14 stand
#: for when written as 0 (docs/data-files.md, the twenty run parameters).
PROGRAM_DEFAULT = Kinetics.arrhenius(
    3.442707e94, 623580.0, 8.31439, name="skinburn default",
    source="skinburn's standard skin constants, used when DATA.DAT entries 11, 13 and 14 are 0 "
           "(docs/data-files.md); E/R = 75 000 K",
    key="program-default")

#: Henriques (1947), as used for the hot-liquid example.
HENRIQUES_1947 = Kinetics.arrhenius(
    3.1e98, 6.28e5, 8.314, name="Henriques 1947",
    source="F. C. Henriques Jr., Studies of thermal injury V: the predictability and the "
           "significance of thermally induced rate processes leading to irreversible epidermal "
           "injury, Archives of Pathology 43 (1947) 489-502",
    key="henriques-1947")

#: Weaver and Stoll (1969): two regimes, no damage below 44 °C.
WEAVER_STOLL_1969 = Kinetics(
    "Weaver-Stoll 1969",
    (Regime(44.0 + _C, 2.185e124, 93534.9), Regime(50.0 + _C, 1.823e51, 39109.8)),
    source="J. A. Weaver and A. M. Stoll, Mathematical model of skin exposed to thermal "
           "radiation, Aerospace Medicine 40 (1969) 24-30: rate 0 below 44 C; "
           "44-50 C P = 2.185e124 1/s, E/R = 93534.9 K; from 50 C P = 1.823e51 1/s, E/R = 39109.8 K",
    key="weaver-stoll-1969")

#: Every kinetics preset by its key.
KINETICS: dict[str, Kinetics] = {k.key: k for k in (PROGRAM_DEFAULT, HENRIQUES_1947, WEAVER_STOLL_1969)}
_ALIASES = {"default": "program-default", "program": "program-default", "henriques": "henriques-1947",
            "weaver-stoll": "weaver-stoll-1969"}


def kinetics_preset(key: str) -> Kinetics:
    """A preset by its key (``program-default``, ``henriques-1947``, ``weaver-stoll-1969``) or a short alias."""
    k = _ALIASES.get(key, key)
    if k not in KINETICS:
        raise KeyError(f"unknown kinetics {key!r}; presets: {', '.join(KINETICS)}")
    return KINETICS[k]


# --- The damage integral ------------------------------------------------------

def damage_integral(temperature_K: npt.ArrayLike, deltat_s: float, kinetics: Kinetics,
                    cumulative: bool = False, floor: float = 0.0) -> np.ndarray:
    """Omega of each column of a temperature history.

    ``temperature_K`` holds one row per record, R rows (R >= 2) at the times
    r * ``deltat_s`` (s), row 0 being the start; one column per point (a 1-D
    array is one point). Returns Omega (dimensionless) per column, or with
    ``cumulative`` the running Omega at every row (row 0 is 0). Values below
    ``floor`` are returned as exactly 0 (the program uses
    :data:`PROGRAM_OMEGA_FLOOR`; not applied to cumulative values).

    The history may be a memory map: it is read in blocks of rows.
    """
    hist = np.asarray(temperature_K) if not isinstance(temperature_K, np.memmap) else temperature_K
    single = hist.ndim == 1
    if single:
        hist = hist[:, None]
    if hist.ndim != 2 or hist.shape[0] < 2:
        raise ValueError("a history needs at least two records (rows)")
    if not deltat_s > 0:
        raise ValueError("deltat_s must be positive")
    rows, cols = hist.shape
    weight = deltat_s / 6.0
    total = np.zeros(cols)
    running = np.zeros((rows, cols)) if cumulative else None
    start = 0
    while start < rows - 1:
        stop = min(start + _ROWS_PER_CHUNK, rows - 1)
        block = np.asarray(hist[start:stop + 1], dtype=float)
        ends = kinetics.rate_per_s(block)
        mids = kinetics.rate_per_s(0.5 * (block[:-1] + block[1:]))
        steps = weight * (ends[:-1] + 4.0 * mids + ends[1:])
        if running is not None:
            running[start + 1:stop + 1] = total + np.cumsum(steps, axis=0)
        total = total + steps.sum(axis=0) if running is None else running[stop].copy()
        start = stop
    if cumulative:
        assert running is not None, "kept when cumulative"
        return running[:, 0] if single else running
    if floor > 0:
        total = np.where(total < floor, 0.0, total)
    return total[0] if single else total


def time_to_reach(temperature_K: npt.ArrayLike, deltat_s: float, kinetics: Kinetics,
                  omega: float) -> Optional[float]:
    """The first time (s) at which the running Omega of one point's history reaches ``omega``.

    ``temperature_K`` is one point's history (K, records at r * ``deltat_s``
    s). Within the step where Omega passes ``omega`` the time is found on
    the integrator's own rule (Simpson's rule over the part of the step,
    the temperature on the straight line between the two records), so it
    agrees with :func:`damage_integral` at both ends of the step. None when
    Omega stays below ``omega`` over the whole history; 0 for ``omega`` <= 0.
    """
    col = np.asarray(temperature_K, dtype=float).reshape(-1)
    if omega <= 0:
        return 0.0
    running = damage_integral(col, deltat_s, kinetics, cumulative=True)
    hit = np.nonzero(running >= omega)[0]
    if hit.size == 0:
        return None
    j = int(hit[0])
    t0, t1, before = float(col[j - 1]), float(col[j]), float(running[j - 1])

    def short(theta: float) -> float:
        rates = kinetics.rate_per_s(np.array([t0, t0 + 0.5 * theta * (t1 - t0), t0 + theta * (t1 - t0)]))
        return before + theta * deltat_s / 6.0 * float(rates[0] + 4.0 * rates[1] + rates[2]) - omega

    from scipy.optimize import brentq  # SciPy loads only when a root is wanted

    theta = 1.0 if short(1.0) <= 0.0 else float(brentq(short, 0.0, 1.0, xtol=1e-12))
    return (j - 1 + theta) * deltat_s


def constant_temperature_omega(temperature_K: float, duration_s: float, kinetics: Kinetics) -> float:
    """Omega of a point held at one temperature (K) for ``duration_s`` (s): k(T) t."""
    return float(kinetics.rate_per_s(temperature_K)) * duration_s


def omega_1_time_s(temperature_K: Sequence[float] | float, kinetics: Kinetics) -> np.ndarray:
    """Time in s to reach Omega = 1 at a constant temperature (K); inf where the rate is 0."""
    with np.errstate(divide="ignore"):
        return 1.0 / kinetics.rate_per_s(temperature_K)
