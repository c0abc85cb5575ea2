"""A garment's fabric and air gap against an independent integration of fabric, gap and skin together.

The package solves a garment's fabric by its own implicit model and hands
the skin in the program a CONVECTION face linearized about the skin's
surface temperature of the run before, run again until that settles
(:mod:`skinburn.garment`). The check: 84 kW/m^2 absorbed for 4 s by the
cotton-like fabric (:data:`skinburn.COTTON_LIKE`) 6 mm in front of a
uniform skin (the Torvi-Dale dermis properties, 12.08 mm, insulated
inside), then 6 s of the fabric cooling, against the method of lines on
fabric, gap and skin as one system (2.5 um spacing in the fabric, 5 um in
the skin), integrated by SciPy's adaptive BDF (relative tolerance 1e-9)
with the gap's conduction (air's conductivity at the gap's mean
temperature from the same table) and its radiation
sigma (T_f^4 - T_s^4) / (1/eps_f + 1/eps_s - 1) and the fabric's
re-radiation in their nonlinear forms. Band: the skin's surface
temperature within 0.2 % of its rise at 2, 4, 6 and 10 s.
"""
from __future__ import annotations

from dataclasses import dataclass, field
from typing import Optional

import numpy as np

import skinburn as sb

SIGMA = sb.STEFAN_BOLTZMANN  # W/(m^2 K^4)
K, RHO, C, DEPTH_M = 0.523, 1200.0, 3300.0, 12.08e-3  # the Torvi-Dale dermis, through the skin's depth
T0_K, FLUX_W_M2, DURATION_S, END_S, GAP_M = 305.65, 84e3, 4.0, 10.0, 6e-3
TIMES_S = (2.0, 4.0, 6.0, 10.0)
GRID = (10e-6, 2e-3)  # DELTAX m, DELTAT s (BDF2)
#: The band: the largest error relative to the skin surface temperature's rise.
BAND = 2e-3


@dataclass
class GarmentGap:
    """The rows (time, SciPy, skinburn, relative error), the fabric's peak temperatures and the band."""

    rows: list[dict] = field(default_factory=list)
    bands: list[tuple[str, float, str, bool]] = field(default_factory=list)
    fabric_peak_K: float = 0.0
    rayleigh: float = 0.0


def garment() -> sb.Garment:
    """The garment of the check: the cotton-like fabric 6 mm in front of the skin."""
    return sb.Garment(sb.COTTON_LIKE, GAP_M)


def by_scipy(times_s: tuple[float, ...], fabric_dx_m: float = 2.5e-6, skin_dx_m: float = 5e-6) -> np.ndarray:
    """The skin's surface temperature (K) by the method of lines on fabric, gap and skin as one system:
    half cells at every face; the fabric's outer face absorbing the flux for the exposure and losing
    eps_o sigma (T^4 - T_surr^4) throughout and h_after (T - T_surr) after it; the gap's flux
    k_air(mean)/gap (T_f - T_s) + sigma (T_f^4 - T_s^4)/(1/eps_f + 1/eps_s - 1); the skin's inner face
    insulated."""
    from scipy.integrate import solve_ivp
    from scipy.sparse import diags

    g = garment()
    fab = g.fabric
    nf = int(round(fab.thickness_m / fabric_dx_m)) + 1
    ns = int(round(DEPTH_M / skin_dx_m)) + 1
    dxf, dxs = fab.thickness_m / (nf - 1), DEPTH_M / (ns - 1)
    capf = np.full(nf, fab.density_kg_m3 * fab.heat_capacity_J_kgK * dxf)
    capf[0] = capf[-1] = capf[0] / 2
    caps = np.full(ns, RHO * C * dxs)
    caps[0] = caps[-1] = caps[0] / 2
    cap = np.concatenate([capf, caps])
    rows = np.array(sb.AIR_1ATM.rows)
    exchange = 1.0 / (1.0 / fab.inner_emissivity + 1.0 / g.skin_emissivity - 1.0)
    surr = float(g.surroundings.K)

    def rate(exposed: bool):
        def f(_: float, T: np.ndarray) -> np.ndarray:
            tf, ts = T[:nf], T[nf:]
            d = np.zeros(nf + ns)
            flow = fab.conductivity_W_mK / dxf * np.diff(tf)
            d[:nf - 1] += flow
            d[1:nf] -= flow
            flow = K / dxs * np.diff(ts)
            d[nf:-1] += flow
            d[nf + 1:] -= flow
            outer = -fab.outer_emissivity * SIGMA * (tf[0] ** 4 - surr ** 4)
            outer += FLUX_W_M2 if exposed else g.after_h_W_m2K * (surr - tf[0])
            d[0] += outer
            k_air = np.interp((tf[-1] + ts[0]) / 2, rows[:, 0], rows[:, 2])
            gap = k_air / GAP_M * (tf[-1] - ts[0]) + exchange * SIGMA * (tf[-1] ** 4 - ts[0] ** 4)
            d[nf - 1] -= gap
            d[nf] += gap
            return d / cap
        return f
    n = nf + ns
    pattern = diags([np.ones(n - 1), np.ones(n), np.ones(n - 1)], [-1, 0, 1]).tolil()
    pattern[nf - 1, nf] = pattern[nf, nf - 1] = 1
    y = np.full(n, T0_K)
    out = {}
    for (a, b, exposed) in ((0.0, DURATION_S, True), (DURATION_S, END_S, False)):
        asked = [t for t in times_s if a < t <= b]
        sol = solve_ivp(rate(exposed), (a, b), y, method="BDF", rtol=1e-9, atol=1e-7, jac_sparsity=pattern,
                        t_eval=asked or None, dense_output=False)
        for t, col in zip(sol.t, sol.y.T):
            if any(abs(t - x) < 1e-12 for x in asked):
                out[float(t)] = float(col[nf])
        y = sol.y[:, -1]
    return np.array([out[min(out, key=lambda x: abs(x - t))] for t in times_s])


def verify(program: Optional[sb.Program] = None) -> GarmentGap:
    """Run the garment and compare."""
    skin = sb.UNIFORM_DERMIS
    trial = sb.Trial(skin, sb.InitialProfile.uniform(sb.kelvin(T0_K)),
                     sb.Clothed(sb.HeatFlux(FLUX_W_M2, DURATION_S), garment()), inner=sb.Insulated(),
                     grid=sb.Grid(*GRID, time_scheme="bdf2"), after_exposure_s=END_S - DURATION_S)
    res = sb.run(trial, program)
    ref = by_scipy(TIMES_S)
    out = GarmentGap()
    for t, r in zip(TIMES_S, ref):
        got = float(res.temperature_K[int(round(t / res.deltat_s)), 0])
        out.rows.append({"time_s": t, "scipy_K": float(r), "skinburn_K": got, "error": (got - r) / (r - T0_K)})
    fabric = sb.runs.fabric_history(res)
    out.fabric_peak_K = float(fabric.fabric_K.max())
    out.rayleigh = fabric.rayleigh
    worst = max(abs(row["error"]) for row in out.rows)
    out.bands.append(("garment: skin surface temperature through fabric and gap against SciPy, largest error / rise",
                      worst, f"< {BAND:g}", worst < BAND))
    return out
