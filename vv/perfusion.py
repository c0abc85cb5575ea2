"""The blood's perfusion (the program's ``--perfusion``) against the closed forms of a perfused slab.

With the Pennes term the heat equation gains w rho_b c_b (T_a - T) per unit
volume. Two closed forms hold it, with m^2 = w rho_b c_b / k and
beta = w rho_b c_b / (rho c):

- steady, a slab of depth L, its surface held at T_s and its inner face at
  T_a: T - T_a = (T_s - T_a) sinh(m (L - x)) / sinh(m L);
- transient, a deep slab from T_a with its surface stepped to T_s at t = 0:
  T - T_a = (T_s - T_a)/2 [exp(-m x) erfc(x / (2 sqrt(alpha t)) - sqrt(beta t))
  + exp(m x) erfc(x / (2 sqrt(alpha t)) + sqrt(beta t))]
  (H. S. Carslaw and J. C. Jaeger, Conduction of Heat in Solids, 2nd ed.,
  1959, § 2.9, the slab with heat loss proportional to its temperature).

The steady profile is that of the discrete equations whatever the step, so
it shows the order in space alone; the transient, on a grid fine in space,
the order in time of each scheme. Bands: order 2 in space, 1 in time for
backward Euler and 2 for BDF2, and the steady profile within 1e-3 of the
rise on the 100 um grid.
"""
from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Optional

import numpy as np
from scipy.special import erfc, erfcx

import skinburn as sb

K, RHO, C = 0.523, 1200.0, 3300.0          # the Torvi-Dale dermis, uniform
RATE_1_S = 0.01                             # perfusion, 1/s (a strongly perfused, heated dermis)
BLOOD = sb.Blood(310.15, 1060.0, 3800.0)
SURFACE_K = 320.15
STEADY_DEPTH_M, STEADY_S, STEADY_DT_S = 10e-3, 3000.0, 5.0
STEADY_DXS_M = (200e-6, 100e-6, 50e-6)
TRANSIENT_DEPTH_M, TRANSIENT_S, TRANSIENT_DX_M = 20e-3, 20.0, 10e-6
TRANSIENT_DTS_S = (0.4, 0.2, 0.1)
SPACE_BAND, EULER_BAND, BDF2_BAND = (1.8, 2.2), (0.85, 1.15), (1.8, 2.4)
STEADY_BAND = 1e-3

_W = RATE_1_S * BLOOD.density_kg_m3 * BLOOD.heat_capacity_J_kgK  # W/(m^3 K)
M_1_M = math.sqrt(_W / K)
BETA_1_S = _W / (RHO * C)
ALPHA_M2_S = K / (RHO * C)


def steady_K(x_m: np.ndarray) -> np.ndarray:
    """The settled profile of the perfused slab (K)."""
    rise = SURFACE_K - BLOOD.arterial_K
    return BLOOD.arterial_K + rise * np.sinh(M_1_M * (STEADY_DEPTH_M - x_m)) / math.sinh(M_1_M * STEADY_DEPTH_M)


def _exp_erfc(a: np.ndarray, b: np.ndarray) -> np.ndarray:
    """exp(a) erfc(b) without overflow: exp(a - b^2) erfcx(b) where b > 0."""
    return np.where(b > 0, np.exp(a - b * b) * erfcx(np.maximum(b, 0.0)), np.exp(a) * erfc(b))


def transient_K(x_m: np.ndarray, t_s: float) -> np.ndarray:
    """The deep perfused slab t_s after its surface was stepped to SURFACE_K (K)."""
    eta = x_m / (2 * math.sqrt(ALPHA_M2_S * t_s))
    root = math.sqrt(BETA_1_S * t_s)
    shape = 0.5 * (_exp_erfc(-M_1_M * x_m, eta - root) + _exp_erfc(M_1_M * x_m, eta + root))
    return BLOOD.arterial_K + (SURFACE_K - BLOOD.arterial_K) * shape


def _trial(depth_m: float, duration_s: float, grid: sb.Grid) -> sb.Trial:
    skin = sb.Skin.uniform(K, RHO, C, depth_m, 80e-6, 2.08e-3, name="perfused dermis")
    skin = skin.with_perfusion({"skin": RATE_1_S}, BLOOD)
    return sb.Trial(skin, sb.InitialProfile.uniform(sb.kelvin(BLOOD.arterial_K)),
                    sb.SurfaceTemperature(sb.kelvin(SURFACE_K), duration_s), inner=sb.HeldTemperature(),
                    grid=grid, after_exposure_s=0.0)


@dataclass
class Perfusion:
    """Errors and observed orders of both closed forms, and the bands."""

    steady: list[dict] = field(default_factory=list)      # per DELTAX: largest error (K)
    transient: dict[str, list[dict]] = field(default_factory=dict)  # per scheme, per DELTAT
    bands: list[tuple[str, float, str, bool]] = field(default_factory=list)


def _orders(errors: list[float]) -> list[float]:
    return [math.log2(a / b) for a, b in zip(errors, errors[1:])]


def verify(program: Optional[sb.Program] = None) -> Perfusion:
    """Run both closed forms on their grids and compare."""
    out = Perfusion()
    rise = SURFACE_K - BLOOD.arterial_K
    for dx in STEADY_DXS_M:
        res = sb.run(_trial(STEADY_DEPTH_M, STEADY_S, sb.Grid(dx, STEADY_DT_S)), program)
        x = np.arange(res.nodes) * res.deltax_m
        error = float(np.max(np.abs(res.temperature_K[-1] - steady_K(x))))
        out.steady.append({"deltax_m": dx, "error_K": error})
    space = _orders([r["error_K"] for r in out.steady])
    out.bands.append(("perfusion, steady slab: observed order in space", min(space),
                      f"{SPACE_BAND[0]}-{SPACE_BAND[1]}", all(SPACE_BAND[0] <= p <= SPACE_BAND[1] for p in space)))
    at_100 = next(r["error_K"] for r in out.steady if r["deltax_m"] == 100e-6) / rise
    out.bands.append(("perfusion, steady slab at DELTAX 100 um: largest error / rise", at_100,
                      f"< {STEADY_BAND:g}", at_100 < STEADY_BAND))
    for scheme, band in (("backward-euler", EULER_BAND), ("bdf2", BDF2_BAND)):
        rows = []
        for dt in TRANSIENT_DTS_S:
            res = sb.run(_trial(TRANSIENT_DEPTH_M, TRANSIENT_S, sb.Grid(TRANSIENT_DX_M, dt, time_scheme=scheme)),
                         program)
            x = np.arange(res.nodes) * res.deltax_m
            row = int(round(TRANSIENT_S / res.deltat_s))
            rows.append({"deltat_s": dt,
                         "error_K": float(np.max(np.abs(res.temperature_K[row] - transient_K(x, TRANSIENT_S))))})
        out.transient[scheme] = rows
        orders = _orders([r["error_K"] for r in rows])
        out.bands.append((f"perfusion, stepped surface, {scheme}: observed order in time", min(orders),
                          f"{band[0]}-{band[1]}", all(band[0] <= p <= band[1] for p in orders)))
    return out
