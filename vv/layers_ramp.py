"""Verification of what engineers change most: the layers of the skin, and exposures that vary in time.

Two layers
    Torvi and Dale's dermis (0.5 mm) on their subcutaneous tissue: the
    surface held at a step temperature, against the composite-solid closed
    form (:func:`closed_forms.layered_step`), and both faces of a 2 mm
    two-layer slab held, against its steady kinked profile
    (:func:`closed_forms.layered_steady`). The interface is put in two places
    on the grid:

    - *between nodes*: halfway, ``DELTAX`` = l / (m - 1/2), the placement
      the package's automatic grid uses; the harmonic-mean conductivity of
      the two nodes about it is then exactly the series resistance of half
      a spacing of each material, so the method stays second order;
    - *at a node*: ``DELTAX`` = l / m. One node cannot hold two materials;
      the package gives the node on the boundary the upper layer, so the
      model's interface lies half a spacing below the one asked for
      (``res.layout.placed_boundaries_m``) and the error is first order.

    Spacings fall by 3 (a factor that keeps a halfway interface halfway;
    halving would put it on a node). The time error is removed from each
    transient grid by Richardson extrapolation, 2 T(dt/2) - T(dt).

A ramped flux
    q = a t absorbed at the surface of a semi-infinite solid
    (:func:`closed_forms.ramped_flux`), given to the package as a
    :class:`skinburn.Series`, with the sequences of the constant-flux cases
    (``DELTAT`` halved, ``DELTAX`` halved, both).
"""
from __future__ import annotations

import math
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import Callable, Optional

import numpy as np

import skinburn as sb

from . import closed_forms as cf
from . import verification as ve

#: Torvi and Dale (1994): dermis and subcutaneous tissue, k W/(m K), rho kg/m^3, c J/(kg K).
UPPER = ("dermis", 0.523, 1200.0, 3300.0)
LOWER = ("subcutaneous tissue", 0.167, 1000.0, 2500.0)
INTERFACE_M = 0.5e-3
TRANSIENT_DEPTH_M = 10e-3
STEADY_DEPTH_M = 2e-3
INITIAL_K, SURFACE_K, STEADY_INNER_K = 310.15, 353.15, 310.15
LAYER_TIMES_S = (2.0, 5.0, 20.0)
#: Steady runs: long steps (backward Euler reaches the discrete steady state whatever the step).
STEADY_DT_S, STEADY_S = 20.0, 2000.0

RAMP_RATE_W_M2S, RAMP_S = 2000.0, 10.0

#: Interface depth over DELTAX, coarsest first, per placement and pass.
PLACEMENTS = {
    "between": {"full": (2.5, 7.5, 22.5, 67.5), "quick": (2.5, 7.5, 22.5)},
    "node": {"full": (2.0, 6.0, 18.0, 54.0), "quick": (2.0, 6.0, 18.0)},
}
PLACEMENT_TITLES = {"between": "interface halfway between two nodes", "node": "interface on a node"}
#: DELTAT of the Richardson pair (dt and dt/2) on every transient layered grid.
LAYER_DT_S = {"full": 0.005, "quick": 0.01}

BETWEEN_BAND = ve.SPACE_BAND
NODE_BAND = (0.8, 1.2)
STEADY_NODE_BAND = (0.95, 1.05)
#: A two-layer steady slab is represented exactly when the interface is where the model put it: rounding only.
STEADY_EXACT_MAX_K = 1e-8


def _alpha(m: tuple[str, float, float, float]) -> float:
    return m[1] / (m[2] * m[3])


def two_layer_skin(thickness_m: float) -> sb.Skin:
    """Dermis to the interface, subcutaneous tissue below, down to ``thickness_m`` (m)."""
    return sb.Skin("dermis on subcutaneous tissue",
                   (sb.Layer(UPPER[0], INTERFACE_M, *UPPER[1:]),
                    sb.Layer(LOWER[0], thickness_m - INTERFACE_M, *LOWER[1:])),
                   "Torvi and Dale 1994", INTERFACE_M, INTERFACE_M)


@dataclass(frozen=True)
class LayerCase:
    """A two-layer problem: step at the surface (transient) or both faces held (steady)."""

    key: str
    steady: bool

    @property
    def thickness_m(self) -> float:
        """Depth of the model (m)."""
        return STEADY_DEPTH_M if self.steady else TRANSIENT_DEPTH_M

    @property
    def times_s(self) -> tuple[float, ...]:
        """The times compared (s)."""
        return (STEADY_S,) if self.steady else LAYER_TIMES_S

    def trial(self, deltax_m: float, deltat_s: float, time_scheme: str = "backward-euler") -> sb.Trial:
        """The trial on one grid, nodes at 0, dx, ..., thickness."""
        nodes = int(round(self.thickness_m / deltax_m)) + 1
        if self.steady:
            initial = sb.InitialProfile.linear(sb.kelvin(SURFACE_K), sb.kelvin(STEADY_INNER_K))
        else:
            initial = sb.InitialProfile.uniform(sb.kelvin(INITIAL_K))
        return sb.Trial(two_layer_skin(self.thickness_m), initial,
                        sb.SurfaceTemperature(sb.kelvin(SURFACE_K), max(self.times_s)), sb.HeldTemperature(),
                        sb.Grid(deltax_m, deltat_s, nodes, time_scheme), 0.0, sb.HENRIQUES_1947,
                        title=f"vv {self.key}")

    def exact(self, x_m: np.ndarray, t_s: float, interface_m: float = INTERFACE_M) -> np.ndarray:
        """The closed form (K), with the interface at ``interface_m``."""
        if self.steady:
            return cf.layered_steady(x_m, interface_m, self.thickness_m, SURFACE_K, STEADY_INNER_K,
                                     UPPER[1], LOWER[1])
        return cf.layered_step(x_m, t_s, interface_m, INITIAL_K, SURFACE_K, UPPER[1], _alpha(UPPER),
                               LOWER[1], _alpha(LOWER))


TRANSIENT = LayerCase("layers", False)
STEADY = LayerCase("layers-steady", True)


def observed_orders(errors: list[float], spacings: list[float]) -> list[float]:
    """ln(e1 / e2) / ln(h1 / h2) between successive grids."""
    return [math.log(a / b) / math.log(h1 / h2) if a > 0 and b > 0 else math.nan
            for a, b, h1, h2 in zip(errors, errors[1:], spacings, spacings[1:])]


@dataclass
class PlacementResult:
    """One placement: its grids, where the interface was placed, errors (K) and observed orders."""

    placement: str
    deltax_m: list[float]
    placed_m: list[float]
    errors_K: list[float]
    errors_by_time_K: list[dict[float, float]]
    steady_errors_K: list[float]
    steady_placed_errors_K: list[float]
    table: list[dict]
    curves: dict[float, tuple[np.ndarray, np.ndarray]]

    @property
    def orders(self) -> list[float]:
        """Observed orders of the transient case."""
        return observed_orders(self.errors_K, self.deltax_m)

    @property
    def steady_orders(self) -> list[float]:
        """Observed orders of the steady case against the interface asked for."""
        return observed_orders(self.steady_errors_K, self.deltax_m)


def _run(case: LayerCase, dx: float, dt: float,
         program: Optional[sb.Program]) -> tuple[dict[float, np.ndarray], float]:
    """Temperatures at the case's times and the placed interface (m)."""
    res = sb.run(case.trial(dx, dt), program)
    try:
        if res.status != 0:
            raise RuntimeError(f"{case.key}: the run ended with status {res.status}: {res.error}")
        (placed,) = res.layout.placed_boundaries_m
        out = {}
        for t in case.times_s:
            row = int(round(t / dt))
            if abs(row * dt - t) > 1e-9 * t:
                raise ValueError(f"{t} s is not a whole number of steps of {dt} s")
            out[t] = np.array(res.temperature_K[row], dtype=float)
        return out, float(placed)
    finally:
        res.close()


#: Depths of the error table: nodes of every grid of the halfway placement, both sides of the interface.
TABLE_DEPTHS_M = (0.0, 0.2e-3, 0.4e-3, 0.6e-3, 1.0e-3, 2.0e-3)


Runner = Callable[[LayerCase, float, float, Optional[sb.Program]], tuple[dict[float, np.ndarray], float]]


def run_placement(placement: str, s: ve.Settings, pool: ThreadPoolExecutor, program: Optional[sb.Program],
                  runner: Runner = _run) -> PlacementResult:
    """Every grid of one placement: transient (Richardson pair) and steady runs.

    ``runner(case, deltax_m, deltat_s, program)`` gives the temperatures (K) at the case's times and the
    placed interface (m); the program's run by default.
    """
    dxs = [INTERFACE_M / r for r in PLACEMENTS[placement][s.name]]
    dt = LAYER_DT_S[s.name]
    jobs = {(dx, d): pool.submit(runner, TRANSIENT, dx, d, program) for dx in dxs for d in (dt, dt / 2)}
    steady_jobs = {dx: pool.submit(runner, STEADY, dx, STEADY_DT_S, program) for dx in dxs}
    coarse = dxs[0]
    x_common = np.arange(int(round(TRANSIENT_DEPTH_M / coarse)) + 1) * coarse
    errors_by_time, placed, finest = [], [], {}
    for dx in dxs:
        (p1, b1), (p2, b2) = jobs[(dx, dt)].result(), jobs[(dx, dt / 2)].result()
        if b1 != b2:
            raise AssertionError("one grid, two placements")
        placed.append(b1)
        extrap = {t: 2 * p2[t] - p1[t] for t in TRANSIENT.times_s}
        errors_by_time.append({t: float(np.max(np.abs(ve._common(extrap[t], dx, coarse, TRANSIENT_DEPTH_M)
                                                        - TRANSIENT.exact(x_common, t))))
                               for t in TRANSIENT.times_s})
        finest = extrap
    steady, steady_placed = [], []
    xs = np.arange(int(round(STEADY_DEPTH_M / coarse)) + 1) * coarse
    for dx in dxs:
        prof, where = steady_jobs[dx].result()
        got = prof[STEADY_S]
        steady.append(float(np.max(np.abs(ve._common(got, dx, coarse, STEADY_DEPTH_M) - STEADY.exact(xs, 0.0)))))
        x_all = np.arange(len(got)) * dx
        steady_placed.append(float(np.max(np.abs(got - STEADY.exact(x_all, 0.0, where)))))
    dx = dxs[-1]
    table = []
    for t in TRANSIENT.times_s:
        for z in TABLE_DEPTHS_M:
            i = int(round(z / dx))
            ex = float(TRANSIENT.exact(np.array([i * dx]), t)[0])
            table.append({"time_s": t, "depth_m": i * dx, "exact_K": ex, "program_K": float(finest[t][i]),
                          "error_K": float(finest[t][i]) - ex})
    stride = max(1, int(round(100e-6 / dx)))
    curves = {t: (np.arange(len(finest[t]))[::stride] * dx, finest[t][::stride]) for t in TRANSIENT.times_s}
    return PlacementResult(placement, dxs, placed, [max(e.values()) for e in errors_by_time], errors_by_time,
                           steady, steady_placed, table, curves)


def ramp_case() -> ve.HeatCase:
    """q = a t on Torvi and Dale's dermis, 10 mm deep, inner face held."""
    a, k, alpha, ti = RAMP_RATE_W_M2S, ve.K_W_MK, ve.ALPHA_M2_S, 310.15
    flux = sb.Series([0.0, RAMP_S], [0.0, a * RAMP_S])
    return ve.HeatCase(
        "ramp", "Semi-infinite solid, surface flux growing linearly in time",
        "T - Ti = (8 a t sqrt(alpha t) / k) i3erfc(x / 2 sqrt(alpha t)); surface rise (4/3) a t^(3/2) "
        "sqrt(alpha / pi) / k",
        "Carslaw & Jaeger (1959) §2.9 (flux proportional to t^(n/2), n = 2) and Appendix II (repeated integrals "
        "of erfc)",
        10e-3, ti, sb.HeatFlux(flux, RAMP_S), sb.HeldTemperature(),
        lambda x, t: cf.ramped_flux(x, t, ti, a, k, alpha), (1.0, 4.0, 10.0), (0.0, 80e-6, 320e-6, 1.04e-3),
        f"Ti = {ti} K, q = {a:g} W/m2 per s from 0 (20 kW/m2 at 10 s), given as a two-point Series; "
        f"k = {k} W/(m K), rho = {ve.RHO_KG_M3:g} kg/m3, c = {ve.C_J_KGK:g} J/(kg K); depth 10 mm, "
        "inner face held at Ti")


@dataclass
class LayersRamp:
    """Both placements of the two-layer problems and the ramped-flux case."""

    placements: dict[str, PlacementResult]
    ramp: ve.CaseResult
    bands: list[tuple[str, float, str, bool]] = field(default_factory=list)


def _band(what: str, value: float, lo: float, hi: float) -> tuple[str, float, str, bool]:
    return (what, value, f"{lo}-{hi}", lo <= value <= hi)


def verify(s: ve.Settings, pool: ThreadPoolExecutor, program: Optional[sb.Program] = None) -> LayersRamp:
    """Run the layered and the ramped-flux cases on the pass's grids and band their orders."""
    placements = {p: run_placement(p, s, pool, program) for p in PLACEMENTS}
    ramp_result = ve.run_case(ramp_case(), s, pool, program)
    out = LayersRamp(placements, ramp_result)
    between, node = placements["between"], placements["node"]
    for p in between.orders:
        out.bands.append(_band("layers, between nodes: space order", p, *BETWEEN_BAND))
    for p in node.orders:
        out.bands.append(_band("layers, on a node: space order", p, *NODE_BAND))
    for r in (between, node):
        worst = max(r.steady_placed_errors_K)
        out.bands.append((f"layers, steady, {PLACEMENT_TITLES[r.placement]}: error against the interface as "
                          "placed (K)", worst, f"< {STEADY_EXACT_MAX_K:g}", worst < STEADY_EXACT_MAX_K))
    worst = max(between.steady_errors_K)
    out.bands.append(("layers, steady, between nodes: error (K)", worst, f"< {STEADY_EXACT_MAX_K:g}",
                      worst < STEADY_EXACT_MAX_K))
    for p in node.steady_orders:
        out.bands.append(_band("layers, steady, on a node: space order", p, *STEADY_NODE_BAND))
    out.bands += [(f"ramp: {w}", v, b, ok) for w, v, b, ok in ramp_result.bands]
    return out
