"""A flame's face against an independent integration of the same face.

The package writes a flame (:class:`skinburn.Flame`: convection, an
absorbed radiant flux and the surface's re-radiation emissivity x sigma x
(T_s^4 - T_surr^4)) as the program's linear CONVECTION face, linearized
about the surface temperature of the run before, and runs again until
that settles. The check: a uniform slab (the Torvi-Dale dermis
properties), 1.5 s of gas at 1073.15 K with h 30 W/(m^2 K) and 60 kW/m^2
incident at emissivity 0.98, against the method of lines on a 2.5 um grid
integrated by SciPy's adaptive BDF (relative tolerance 1e-10) with the
re-radiation in its nonlinear form. Band: the surface temperature within
0.1 % of its rise at 0.5, 1.0 and 1.5 s.
"""
from __future__ import annotations

from dataclasses import dataclass, field
from typing import Optional

import numpy as np

import skinburn as sb

K, RHO, C = 0.523, 1200.0, 3300.0
T0_K, GAS_K, H, Q, EPS, SURR_K, DURATION_S = 307.15, 1073.15, 30.0, 60e3, 0.98, 298.15, 1.5
TIMES_S = (0.5, 1.0, 1.5)
GRID = (10e-6, 1e-3)  # DELTAX m, DELTAT s (BDF2)
#: The band: the largest error relative to the surface temperature's rise.
BAND = 1e-3


@dataclass
class FlameFace:
    """The rows (time, SciPy, skinburn, relative error) and the band."""

    rows: list[dict] = field(default_factory=list)
    bands: list[tuple[str, float, str, bool]] = field(default_factory=list)


def surface_by_scipy(times_s: tuple[float, ...], depth_m: float = 3e-3, nodes: int = 1201) -> np.ndarray:
    """The surface temperature (K) by the method of lines and SciPy's BDF: half cells at both faces,
    the exposed one taking h (T_g - T) + eps q - eps sigma (T^4 - T_surr^4), the other insulated."""
    from scipy.integrate import solve_ivp
    from scipy.sparse import diags

    dx = depth_m / (nodes - 1)
    cap = np.full(nodes, RHO * C * dx)
    cap[0] = cap[-1] = RHO * C * dx / 2

    def rate(_: float, T: np.ndarray) -> np.ndarray:
        d = np.zeros(nodes)
        flow = K / dx * (T[1:] - T[:-1])
        d[:-1] += flow
        d[1:] -= flow
        d[0] += H * (GAS_K - T[0]) + EPS * Q - EPS * sb.STEFAN_BOLTZMANN * (T[0] ** 4 - SURR_K ** 4)
        return d / cap
    band = diags([np.ones(nodes - 1), np.ones(nodes), np.ones(nodes - 1)], [-1, 0, 1])
    sol = solve_ivp(rate, (0.0, max(times_s)), np.full(nodes, T0_K), method="BDF", rtol=1e-10, atol=1e-8,
                    jac_sparsity=band, t_eval=list(times_s))
    return np.asarray(sol.y[0])


def verify(program: Optional[sb.Program] = None) -> FlameFace:
    """Run the flame and compare."""
    flame = sb.Flame(H, sb.kelvin(GAS_K), Q, DURATION_S, emissivity=EPS, surroundings=sb.kelvin(SURR_K))
    trial = sb.Trial(sb.UNIFORM_DERMIS, sb.InitialProfile.uniform(sb.kelvin(T0_K)), flame, inner=sb.Insulated(),
                     grid=sb.Grid(*GRID, time_scheme="bdf2"), after_exposure_s=0.01)
    res = sb.run(trial, program)
    ref = surface_by_scipy(TIMES_S)
    out = FlameFace()
    for t, r in zip(TIMES_S, ref):
        got = float(res.temperature_K[int(round(t / res.deltat_s)), 0])
        out.rows.append({"time_s": t, "scipy_K": float(r), "skinburn_K": got, "error": (got - r) / (r - T0_K)})
    worst = max(abs(row["error"]) for row in out.rows)
    out.bands.append(("flame face: surface temperature against SciPy, largest error / rise", worst,
                      f"< {BAND:g}", worst < BAND))
    return out
