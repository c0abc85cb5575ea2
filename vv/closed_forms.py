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


# --- Two layers and a ramped flux ----------------------------------------------------
#
# [CJ] ch. XII (composite solids by the Laplace transformation) and 2.9
# (surface flux proportional to a power of the time); the repeated integrals
# of erfc are those of [CJ] Appendix II.

def _transfer(k1_W_mK: float, alpha1_m2_s: float, k2_W_mK: float, alpha2_m2_s: float) -> float:
    """gamma = (sigma - 1) / (sigma + 1), sigma = (k2 / k1) sqrt(alpha1 / alpha2): the reflection at the interface."""
    sigma = k2_W_mK / k1_W_mK * math.sqrt(alpha1_m2_s / alpha2_m2_s)
    return (sigma - 1.0) / (sigma + 1.0)


def layered_step(x_m: ArrayLike, t_s: float, interface_m: float, initial_K: float, surface_K: float,
                 k1_W_mK: float, alpha1_m2_s: float, k2_W_mK: float, alpha2_m2_s: float,
                 tolerance: float = 1e-16) -> np.ndarray:
    """A layer 0 <= x <= l on a semi-infinite solid of another material, surface held at ``surface_K`` from t = 0.

    Perfect contact at x = l (temperature and flux continuous). By the
    Laplace transformation, with gamma = (sigma - 1)/(sigma + 1),
    sigma = (k2/k1) sqrt(alpha1/alpha2), r = 2 sqrt(alpha1 t), V = Ts - Ti:

        x <= l: T - Ti = V sum_n gamma^n [erfc((2 n l + x)/r) - gamma erfc((2 (n + 1) l - x)/r)]
        x >= l: T - Ti = 2 V / (1 + sigma) sum_n gamma^n erfc(((2 n + 1) l + (x - l) sqrt(alpha1/alpha2))/r)

    |gamma| < 1, and the terms are summed until gamma^n falls below ``tolerance``.
    """
    x = np.asarray(x_m, dtype=float)
    g = _transfer(k1_W_mK, alpha1_m2_s, k2_W_mK, alpha2_m2_s)
    sigma = k2_W_mK / k1_W_mK * math.sqrt(alpha1_m2_s / alpha2_m2_s)
    r = 2.0 * math.sqrt(alpha1_m2_s * t_s)
    l = interface_m
    stretch = math.sqrt(alpha1_m2_s / alpha2_m2_s)
    upper = np.zeros_like(x)
    lower = np.zeros_like(x)
    n, gn = 0, 1.0
    while True:
        upper += gn * (special.erfc((2 * n * l + x) / r) - g * special.erfc((2 * (n + 1) * l - x) / r))
        lower += gn * special.erfc(((2 * n + 1) * l + (x - l) * stretch) / r)
        n += 1
        gn *= g
        if abs(gn) < tolerance or n > 10_000:
            break
    rise = np.where(x <= l, upper, 2.0 / (1.0 + sigma) * lower)
    return initial_K + (surface_K - initial_K) * rise


def layered_steady(x_m: ArrayLike, interface_m: float, thickness_m: float, surface_K: float, inner_K: float,
                   k1_W_mK: float, k2_W_mK: float) -> np.ndarray:
    """Steady two-layer slab with both faces held: straight in each layer, the slope in the ratio k2 : k1.

    q = (Ts - Tin) / (l / k1 + (L - l) / k2); T = Ts - q x / k1 above l, Tin + q (L - x) / k2 below.
    """
    x = np.asarray(x_m, dtype=float)
    q = (surface_K - inner_K) / (interface_m / k1_W_mK + (thickness_m - interface_m) / k2_W_mK)
    return np.where(x <= interface_m, surface_K - q * x / k1_W_mK, inner_K + q * (thickness_m - x) / k2_W_mK)


def ierfc_repeated(n: int, z: ArrayLike) -> np.ndarray:
    """i^n erfc(z) ([CJ] Appendix II), by 2 m i^m erfc = i^(m-2) erfc - 2 z i^(m-1) erfc from
    i^-1 erfc = (2 / sqrt(pi)) exp(-z^2) and i^0 erfc = erfc.

    The recurrence loses relative accuracy for large z, where the values are
    below exp(-z^2); the absolute error stays at rounding of that scale.
    """
    z = np.asarray(z, dtype=float)
    prev, cur = 2.0 / math.sqrt(math.pi) * np.exp(-z * z), special.erfc(z)
    for m in range(1, n + 1):
        prev, cur = cur, (prev - 2.0 * z * cur) / (2.0 * m)
    return cur


def ramped_flux(x_m: ArrayLike, t_s: float, initial_K: float, rate_W_m2s: float, k_W_mK: float,
                alpha_m2_s: float) -> np.ndarray:
    """Semi-infinite solid, absorbed flux q = a t growing from 0 at t = 0 ([CJ] 2.9, flux as t^(n/2), n = 2).

    T - Ti = (8 a t sqrt(alpha t) / k) i^3 erfc(x / (2 sqrt(alpha t))), from Duhamel's superposition of the
    constant-flux solution; at the surface (i^3 erfc(0) = 1/(6 sqrt(pi))) the rise is
    (4/3) a t^(3/2) sqrt(alpha / pi) / k.
    """
    x = np.asarray(x_m, dtype=float)
    root = math.sqrt(alpha_m2_s * t_s)
    return initial_K + 8.0 * rate_W_m2s * t_s * root / k_W_mK * ierfc_repeated(3, x / (2.0 * root))
