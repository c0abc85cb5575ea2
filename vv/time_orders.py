"""The order in time of both of the program's time schemes, on the closed-form cases.

Each case is run on one spacing with ``DELTAT`` halved three times, under
backward Euler (the program's own, expected order 1) and under BDF2
(``--time-scheme bdf2``, expected 2). On one spacing the space error is the
same on every grid, so it cancels from the difference of two grids: the
observed order is p = log2(d(dt) / d(dt/2)), d(dt) the largest difference
between the temperatures (K) on the grids dt and dt/2, over every node at
every reported time. With BDF2 the space error at these spacings is as
large as the time error itself, so an order against the closed form would
measure the spacing, not the scheme.

BDF2 is L-stable but not free of oscillation in general; after a step
change of the face (the exposures here all start as one) the face node's
temperature must still move one way only during the exposure: the largest
step against the direction of the exposure is banded at zero.
"""
from __future__ import annotations

from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import Any, Optional

import numpy as np

import skinburn as sb

from . import closed_forms as cf
from . import layers_ramp as lr
from . import verification as ve

#: Expected orders: backward Euler 1, BDF2 2.
ORDER_BANDS = {"backward-euler": (0.9, 1.1), "bdf2": (1.8, 2.2)}
SCHEMES = tuple(ORDER_BANDS)
#: Spacing (m) of the time sequences of the layered case: the interface halfway between two nodes.
LAYER_DX_M = lr.INTERFACE_M / 22.5


@dataclass
class SchemeSequence:
    """One case under one scheme: the grids' steps (s), the differences (K) and the orders."""

    case: str
    scheme: str
    deltats_s: list[float]
    differences_K: list[float]
    orders: list[float]
    against_K: float  # largest move of the face node against the exposure's direction (K), coarsest step


@dataclass
class TimeOrders:
    """Every case under both schemes, with their bands."""

    sequences: list[SchemeSequence] = field(default_factory=list)
    bands: list[tuple[str, float, str, bool]] = field(default_factory=list)


def _histories(case: Any, dx: float, dt: float, scheme: str, program: Optional[sb.Program]) -> np.ndarray:
    """The whole temperature history (K), rows every ``dt`` s, of ``case`` on one grid."""
    res = sb.run(case.trial(dx, dt, scheme), program)
    try:
        if res.status != 0:
            raise RuntimeError(f"{case.key}: the run ended with status {res.status}: {res.error}")
        return np.array(res.temperature_K, dtype=float)
    finally:
        res.close()


def _at_times(history: np.ndarray, dt: float, times_s: tuple[float, ...]) -> np.ndarray:
    return np.concatenate([history[int(round(t / dt))] for t in times_s])


def _against(history: np.ndarray, case: Any) -> float:
    """Largest move (K) of the face node (its neighbour on a held face) against the exposure's direction."""
    node = 1 if isinstance(case.trial(1e-3, 1.0).exposure, sb.SurfaceTemperature) else 0
    path = history[:, node]
    rise = np.sign(path[-1] - path[0]) or 1.0
    return float(max(0.0, np.max(-rise * np.diff(path))))


@dataclass(frozen=True)
class EndedFluxCase(ve.HeatCase):
    """A closed form whose exposure ends before the run does: the trial runs on past the end."""

    def trial(self, deltax_m: float, deltat_s: float, time_scheme: str = "backward-euler") -> sb.Trial:
        t = super().trial(deltax_m, deltat_s, time_scheme)
        return t.replace("after_exposure_s", self.end_s - self.exposure.duration_s)


def ended_flux_case() -> EndedFluxCase:
    """The constant flux switched off at 4 s (superposition of two constant-flux solutions): the order
    of each scheme after a jump of the face's table, at 6 and 10 s."""
    ti, q, end = 310.15, 10e3, 4.0
    k, a = ve.K_W_MK, ve.ALPHA_M2_S
    return EndedFluxCase(
        "ended flux", "Semi-infinite solid, constant surface flux for 4 s, then none",
        "T(x, t) = F(x, t) - F(x, t - 4 s) + Ti, F the constant-flux solution", "superposition of "
        "Carslaw & Jaeger (1959) §2.9", 10e-3, ti, sb.HeatFlux(q, end), sb.HeldTemperature(),
        lambda x, t: cf.constant_flux(x, t, ti, q, k, a) - cf.constant_flux(x, t - end, ti, q, k, a) + ti,
        (6.0, 10.0), (0.0, 80e-6), f"Ti = {ti} K, q = {q:g} W/m2 for {end:g} s, then an insulated face")


def cases() -> list[tuple[Any, float]]:
    """(case, spacing m) of every sequence: the four closed forms, the ramped flux, two layers and a flux
    that ends (BDF2 takes a backward Euler step after the jump, or it is first order from there)."""
    return [(c, 10e-6) for c in ve.heat_cases()] + [(lr.ramp_case(), 10e-6), (lr.TRANSIENT, LAYER_DX_M),
                                                    (ended_flux_case(), 10e-6)]


def verify(s: ve.Settings, pool: ThreadPoolExecutor, program: Optional[sb.Program] = None) -> TimeOrders:
    """Run every case on the pass's steps under both schemes and band the orders and the face's path."""
    out = TimeOrders()
    dts = list(s.time_dts_s)
    jobs = {(c.key, scheme, dt): pool.submit(_histories, c, dx, dt, scheme, program)
            for c, dx in cases() for scheme in SCHEMES for dt in dts}
    for c, _dx in cases():
        for scheme in SCHEMES:
            hist = [jobs[(c.key, scheme, dt)].result() for dt in dts]
            at = [_at_times(h, dt, c.times_s) for h, dt in zip(hist, dts)]
            diffs = [float(np.max(np.abs(a - b))) for a, b in zip(at[:-1], at[1:])]
            orders = [float(np.log2(a / b)) for a, b in zip(diffs[:-1], diffs[1:])]
            against = _against(hist[0], c)
            out.sequences.append(SchemeSequence(c.key, scheme, dts, diffs, orders, against))
            lo, hi = ORDER_BANDS[scheme]
            for p in orders:
                out.bands.append((f"{c.key}, {scheme}: time order", p, f"{lo}-{hi}", lo <= p <= hi))
            if scheme == "bdf2" and not isinstance(c, EndedFluxCase):  # that face cools once its flux ends
                out.bands.append((f"{c.key}, bdf2: face node against the exposure, DELTAT {dts[0]:g} s (K)",
                                  against, "= 0", against == 0.0))
    return out
