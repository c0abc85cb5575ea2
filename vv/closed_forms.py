"""Closed-form solutions the solver is verified against.

Every function takes SI units (m, s, K, W/(m K), W/m^2, W/(m^2 K), m^2/s)
and returns temperatures in K (or Omega, dimensionless). Sources:

- [CJ] H. S. Carslaw and J. C. Jaeger, *Conduction of Heat in Solids*,
  2nd ed., Oxford 1959: section 2.4 (surface held at a constant
  temperature), 2.9 (constant flux at the surface), 2.7 (radiation, i.e.
  linear heat transfer, at the surface), 3.11 (slab with heat transfer at a
  face).
- [IDB] F. P. Incropera, D. P. DeWitt, T. L. Bergman, A. S. Lavine,
  *Fundamentals of Heat and Mass Transfer*, 6th ed., Wiley 2007:
  eqs. 5.57, 5.59, 5.60 (semi-infinite solid) and 5.39-5.39c (plane wall
  with convection; its midplane is the insulated back face here).
"""
from __future__ import annotations

import math
from typing import Callable

import numpy as np
import numpy.typing as npt
from scipy import integrate, optimize, special

ArrayLike = npt.ArrayLike


def step_surface_temperature(x_m: ArrayLike, t_s: float, initial_K: float, surface_K: float,
                             alpha_m2_s: float) -> np.ndarray:
    """Semi-infinite solid, surface held at ``surface_K`` from t = 0 ([CJ] 2.4, [IDB] 5.57).

    T = Ts + (Ti - Ts) erf(x / (2 sqrt(alpha t))).
    """
    x = np.asarray(x_m, dtype=float)
    return surface_K + (initial_K - surface_K) * special.erf(x / (2.0 * math.sqrt(alpha_m2_s * t_s)))


def constant_flux(x_m: ArrayLike, t_s: float, initial_K: float, flux_W_m2: float, k_W_mK: float,
                  alpha_m2_s: float) -> np.ndarray:
    """Semi-infinite solid, constant absorbed flux q at the surface from t = 0 ([CJ] 2.9, [IDB] 5.59).

    T - Ti = (2 q / k) sqrt(alpha t / pi) exp(-x^2 / (4 alpha t)) - (q x / k) erfc(x / (2 sqrt(alpha t))).
    At the surface the rise is 2 q sqrt(alpha t / pi) / k.
    """
    x = np.asarray(x_m, dtype=float)
    root = math.sqrt(alpha_m2_s * t_s)
    return (initial_K + 2.0 * flux_W_m2 / k_W_mK * root / math.sqrt(math.pi) * np.exp(-x * x / (4.0 * root * root))
            - flux_W_m2 * x / k_W_mK * special.erfc(x / (2.0 * root)))


def convective_surface(x_m: ArrayLike, t_s: float, initial_K: float, gas_K: float, h_W_m2K: float,
                       k_W_mK: float, alpha_m2_s: float) -> np.ndarray:
    """Semi-infinite solid, convection h to a gas at ``gas_K`` from t = 0 ([CJ] 2.7, [IDB] 5.60).

    (T - Ti) / (Tg - Ti) = erfc(xi) - exp(h x / k + h^2 alpha t / k^2) erfc(xi + h sqrt(alpha t) / k),
    xi = x / (2 sqrt(alpha t)). The product exp(a) erfc(b) is formed as
    exp(a - b^2) erfcx(b), which does not overflow.
    """
    x = np.asarray(x_m, dtype=float)
    root = math.sqrt(alpha_m2_s * t_s)
    xi = x / (2.0 * root)
    b = xi + h_W_m2K * root / k_W_mK
    a = h_W_m2K * x / k_W_mK + (h_W_m2K * root / k_W_mK) ** 2
    theta = special.erfc(xi) - np.exp(a - b * b) * special.erfcx(b)
    return initial_K + (gas_K - initial_K) * theta


def slab_eigenvalues(biot: float, count: int) -> np.ndarray:
    """The first ``count`` positive roots of zeta tan(zeta) = Bi ([IDB] 5.39c), one in each ((n-1) pi, (n-1/2) pi)."""
    if not biot > 0:
        raise ValueError("the Biot number must be positive")
    roots = np.empty(count)
    for n in range(count):
        lo, hi = n * math.pi, (n + 0.5) * math.pi
        f: Callable[[float], float] = lambda z: z * math.sin(z) - biot * math.cos(z)
        roots[n] = optimize.brentq(f, lo + 1e-14, hi - 1e-14, xtol=1e-15, rtol=4 * np.finfo(float).eps)
    return roots


def convective_slab(x_m: ArrayLike, t_s: float, thickness_m: float, initial_K: float, gas_K: float,
                    h_W_m2K: float, k_W_mK: float, alpha_m2_s: float, terms: int = 400) -> np.ndarray:
    """Slab 0 <= x <= L, convection h to ``gas_K`` at x = 0, insulated at x = L ([CJ] 3.11, [IDB] 5.39).

    (T - Tg) / (Ti - Tg) = sum_n C_n exp(-zeta_n^2 Fo) cos(zeta_n (L - x) / L),
    C_n = 4 sin(zeta_n) / (2 zeta_n + sin(2 zeta_n)), Fo = alpha t / L^2, Bi = h L / k.
    ``terms`` terms are summed; at Fo >= 0.01 the first omitted one is below 1e-30 of the initial difference.
    """
    x = np.asarray(x_m, dtype=float)
    fo = alpha_m2_s * t_s / thickness_m ** 2
    z = slab_eigenvalues(h_W_m2K * thickness_m / k_W_mK, terms)
    c = 4.0 * np.sin(z) / (2.0 * z + np.sin(2.0 * z))
    xs = (thickness_m - x) / thickness_m
    theta = np.sum(c[:, None] * np.exp(-(z ** 2)[:, None] * fo) * np.cos(z[:, None] * xs[None, :]), axis=0)
    return gas_K + (initial_K - gas_K) * theta.reshape(x.shape)


def arrhenius_rate(temperature_K: ArrayLike, frequency_factor_per_s: float, e_over_r_K: float) -> np.ndarray:
    """k(T) = P exp(-(E/R) / T) in 1/s."""
    t = np.asarray(temperature_K, dtype=float)
    return np.exp(math.log(frequency_factor_per_s) - e_over_r_K / t)


def omega_constant(temperature_K: float, duration_s: float, frequency_factor_per_s: float,
                   e_over_r_K: float) -> float:
    """Omega of a point held at one temperature: P exp(-(E/R)/T) t, exactly (Henriques 1947)."""
    return float(arrhenius_rate(temperature_K, frequency_factor_per_s, e_over_r_K)) * duration_s


def omega_ramp(start_K: float, rate_K_s: float, duration_s: float, frequency_factor_per_s: float,
               e_over_r_K: float) -> float:
    """Omega of T(t) = start + rate t over [0, duration]: adaptive Gauss-Kronrod quadrature to 1e-13 relative.

    The integrand is smooth and grows monotonically; the quadrature's own
    error estimate is checked against 1e-11 relative.
    """
    f = lambda t: float(arrhenius_rate(start_K + rate_K_s * t, frequency_factor_per_s, e_over_r_K))
    value, err = integrate.quad(f, 0.0, duration_s, epsabs=0.0, epsrel=1e-13, limit=500)
    if not err <= 1e-11 * abs(value):
        raise ArithmeticError(f"quadrature error estimate {err} too large for {value}")
    return float(value)
