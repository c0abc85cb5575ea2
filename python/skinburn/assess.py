"""Burn degree at the end of a trial, from Omega at the base of the epidermis and of the dermis.

The criteria (table :data:`CRITERIA`):

- first degree: Omega >= 0.53 at the base of the epidermis;
- second degree: Omega >= 1 at the base of the epidermis;
- third degree: Omega >= 1 at the base of the dermis.

Omega at a depth comes from the history there (straight lines between
nodes, the flux-matching temperature at a layer boundary:
:func:`skinburn.results.depth_weights`). The depth each threshold reaches is
the deepest point where Omega is at least the threshold, found between the
two nodes that bracket it.
"""
from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Optional

import numpy as np
import numpy.typing as npt

from .kinetics import Kinetics, damage_integral
from .checks import positive
from .results import Results, depth_weights, require_finite
from .skin import Skin


@dataclass(frozen=True)
class Criterion:
    """Omega at least ``threshold`` at the base of ``layer`` means a burn of ``degree``."""

    degree: int
    threshold: float
    layer: str  # "epidermis" or "dermis"
    source: str

    def __post_init__(self) -> None:
        positive(self.threshold, "threshold (Omega, no unit)")
        if self.layer not in ("epidermis", "dermis"):
            raise ValueError(f"a criterion is judged at the base of the epidermis or the dermis, not {self.layer!r}")


_HENRIQUES = ("F. C. Henriques Jr., Studies of thermal injury V, Archives of Pathology 43 (1947) 489-502: "
              "Omega = 0.53 at the epidermis base for first degree, 1 for complete (transepidermal) necrosis")
#: The burn criteria, mildest first.
CRITERIA: tuple[Criterion, ...] = (
    Criterion(1, 0.53, "epidermis", _HENRIQUES),
    Criterion(2, 1.0, "epidermis", _HENRIQUES),
    Criterion(3, 1.0, "dermis",
              "Omega = 1 at the base of the dermis, as used by D. A. Torvi and J. D. Dale, J. Biomech. Eng. "
              "116 (1994) 250-255, and later skin-burn models"),
)

DEGREE_NAMES = {0: "no burn", 1: "first-degree burn", 2: "second-degree burn", 3: "third-degree burn"}


def criterion(degree: int) -> Criterion:
    """The criterion of a degree (1, 2 or 3)."""
    for c in CRITERIA:
        if c.degree == degree:
            return c
    raise ValueError(f"burn degrees are 1, 2 and 3, not {degree!r}")


@dataclass(frozen=True)
class Assessment:
    """The burn degree of a trial under one kinetics model.

    ``omega_epidermis_base`` and ``omega_dermis_base`` are Omega at the
    criterion depths (None where the model does not reach that deep);
    ``depth_reached_m`` maps each threshold (0.53, 1.0) to the deepest depth
    in m where Omega is at least it (None: nowhere; ``model_depth_m`` when
    the whole model is past it).
    """

    degree: int
    kinetics: Kinetics
    epidermis_base_m: float
    dermis_base_m: float
    omega_epidermis_base: Optional[float]
    omega_dermis_base: Optional[float]
    depth_reached_m: dict[float, Optional[float]]
    model_depth_m: float
    notes: tuple[str, ...] = field(default=())

    @property
    def name(self) -> str:
        """``no burn``, ``first-degree burn``, ..."""
        return DEGREE_NAMES[self.degree]

    def verdict(self) -> str:
        """A short text for a person."""
        def om(v: Optional[float]) -> str:
            return "beyond the model" if v is None else f"{v:.3g}"

        def um(v: Optional[float]) -> str:
            return "nowhere" if v is None else f"{v * 1e6:.0f} um"
        lines = [f"{self.name[0].upper()}{self.name[1:]} ({self.kinetics.name} kinetics).",
                 f"  Omega {om(self.omega_epidermis_base)} at the epidermis base "
                 f"({self.epidermis_base_m * 1e6:.0f} um), {om(self.omega_dermis_base)} at the dermis base "
                 f"({self.dermis_base_m * 1e6:.0f} um).",
                 f"  Omega >= 0.53 reaches {um(self.depth_reached_m.get(0.53))}, "
                 f"Omega >= 1 reaches {um(self.depth_reached_m.get(1.0))}."]
        lines += [f"  Note: {n}" for n in self.notes]
        return "\n".join(lines)

    def row(self) -> dict:
        """A flat dict for CSV."""
        return {
            "degree": self.degree,
            "burn": self.name,
            "kinetics": self.kinetics.name,
            "epidermis_base_m": self.epidermis_base_m,
            "dermis_base_m": self.dermis_base_m,
            "omega_epidermis_base": self.omega_epidermis_base,
            "omega_dermis_base": self.omega_dermis_base,
            "depth_omega_053_m": self.depth_reached_m.get(0.53),
            "depth_omega_1_m": self.depth_reached_m.get(1.0),
            "notes": " ".join(self.notes),
        }


def omega_at_depth(temperature_K: np.ndarray, deltat_s: float, deltax_m: float, depth_m: float,
                   kinetics: Kinetics, conductivity_W_mK: Optional[np.ndarray] = None) -> float:
    """Omega at a depth (m) of a history (rows at r*deltat_s, columns at (i-1)*deltax_m)."""
    a, b, i = depth_weights(depth_m, deltax_m, temperature_K.shape[1], conductivity_W_mK)
    col = np.asarray(temperature_K[:, i], dtype=float)
    if b != 0.0:
        col = a * col + b * np.asarray(temperature_K[:, i + 1], dtype=float)
    return float(damage_integral(col, deltat_s, kinetics))


def depth_reached(temperature_K: np.ndarray, deltat_s: float, deltax_m: float, threshold: float,
                  kinetics: Kinetics, conductivity_W_mK: Optional[np.ndarray] = None,
                  node_omega: Optional[np.ndarray] = None) -> Optional[float]:
    """The deepest depth (m) where Omega >= ``threshold``; None if nowhere.

    Between the deepest node at or above the threshold and the next one,
    the depth where Omega equals it is found on the history there
    (Brent's method to 1e-9 of a spacing).
    """
    om = node_omega if node_omega is not None else damage_integral(temperature_K, deltat_s, kinetics)
    above = np.nonzero(om >= threshold)[0]
    if above.size == 0:
        return None
    i = int(above[-1])
    nodes = temperature_K.shape[1]
    if i == nodes - 1:
        return (nodes - 1) * deltax_m

    def f(z: float) -> float:
        return math.log(max(omega_at_depth(temperature_K, deltat_s, deltax_m, z, kinetics,
                                           conductivity_W_mK), 1e-300) / threshold)
    lo, hi = i * deltax_m, (i + 1) * deltax_m
    if f(hi) >= 0:
        return hi
    if f(lo) < 0:
        return lo
    from scipy.optimize import brentq  # SciPy loads only when a root is wanted

    return float(brentq(f, lo, hi, xtol=1e-9 * deltax_m))


def assess_history(temperature_K: npt.ArrayLike, deltat_s: float, deltax_m: float, epidermis_base_m: float,
                   dermis_base_m: float, kinetics: Kinetics,
                   conductivity_W_mK: Optional[np.ndarray] = None) -> Assessment:
    """The burn degree of a history: rows at r*``deltat_s`` (s), columns at (i-1)*``deltax_m`` (m), K.

    A history holding NaN or infinity raises
    :class:`~skinburn.results.NonFiniteHistory` (first step and node named).
    """
    hist = temperature_K if isinstance(temperature_K, np.ndarray) else np.asarray(temperature_K, dtype=float)
    if hist.ndim != 2:
        raise ValueError("the history must be 2-D: rows in time, columns in depth")
    require_finite(hist, deltat_s, deltax_m)
    nodes = hist.shape[1]
    model_depth = (nodes - 1) * deltax_m
    notes = []

    def at(depth: float, what: str) -> Optional[float]:
        if depth > model_depth * (1 + 1e-12):
            notes.append(f"the {what} ({depth * 1e6:.0f} um) lies below the model's "
                         f"{model_depth * 1e6:.0f} um: not judged")
            return None
        return omega_at_depth(hist, deltat_s, deltax_m, depth, kinetics, conductivity_W_mK)

    om_epi = at(epidermis_base_m, "epidermis base")
    om_der = at(dermis_base_m, "dermis base")
    node_om = damage_integral(hist, deltat_s, kinetics)
    reached = {t: depth_reached(hist, deltat_s, deltax_m, t, kinetics, conductivity_W_mK, node_om)
               for t in sorted({c.threshold for c in CRITERIA})}
    degree = 0
    for c in CRITERIA:
        om = om_epi if c.layer == "epidermis" else om_der
        if om is not None and om >= c.threshold:
            degree = c.degree
    return Assessment(degree, kinetics, epidermis_base_m, dermis_base_m, om_epi, om_der, reached,
                      model_depth, tuple(notes))


def assess(results: Results, skin: Optional[Skin] = None, kinetics: Optional[Kinetics] = None) -> Assessment:
    """The burn degree at the end of a run.

    ``skin`` gives the criterion depths (default: the trial's skin, when the
    package wrote the trial); ``kinetics`` the damage model (default: the
    trial's, else the constants the program read). A history holding NaN or
    infinity raises :class:`~skinburn.results.NonFiniteHistory`.
    """
    results.require_finite()
    trial = results.trial
    if skin is None:
        if trial is None:
            raise ValueError("give the skin whose epidermis and dermis bases the criteria use")
        skin = trial.skin
    if kinetics is None:
        kinetics = trial.kinetics if trial is not None else results.program_kinetics
    return assess_history(results.temperature_K, results.deltat_s, results.deltax_m, skin.epidermis_base_m,
                          skin.dermis_base_m, kinetics, results.conductivity_W_mK)
