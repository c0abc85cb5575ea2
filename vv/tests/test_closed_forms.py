"""The closed forms and the reference quadrature are right before anything is measured against them.

Each solution is checked against its own differential equation and
boundary conditions by finite differences (independent of the formula's
algebra), and the reference quadrature of the ramp against the exponential
integral.
"""
from __future__ import annotations

import math

import numpy as np
import pytest
from scipy import special

from vv import closed_forms as cf

A, K = 0.523 / (1200.0 * 3300.0), 0.523
TI, TS, TG, Q, H = 310.15, 353.15, 373.15, 10e3, 500.0


def _pde_residual(f, x: np.ndarray, t: float, dx: float = 1e-6, dt: float = 1e-4) -> np.ndarray:
    """dT/dt - alpha d2T/dx2 relative to the temperature scale, by central differences."""
    dTdt = (f(x, t + dt) - f(x, t - dt)) / (2 * dt)
    d2 = (f(x + dx, t) - 2 * f(x, t) + f(x - dx, t)) / dx ** 2
    return dTdt - A * d2


@pytest.mark.parametrize("t", [0.5, 4.0, 10.0])
def test_step_solution_solves_the_problem(t: float) -> None:
    f = lambda x, tt: cf.step_surface_temperature(x, tt, TI, TS, A)
    x = np.linspace(50e-6, 2e-3, 20)
    assert np.max(np.abs(_pde_residual(f, x, t))) < 1e-4 * (TS - TI)
    assert f(np.array([0.0]), t)[0] == pytest.approx(TS, abs=1e-12)
    assert f(np.array([0.05]), t)[0] == pytest.approx(TI, abs=1e-9)


@pytest.mark.parametrize("t", [0.5, 4.0, 10.0])
def test_flux_solution_takes_the_flux_and_rises_as_stated(t: float) -> None:
    f = lambda x, tt: cf.constant_flux(x, tt, TI, Q, K, A)
    x = np.linspace(50e-6, 2e-3, 20)
    assert np.max(np.abs(_pde_residual(f, x, t))) < 1e-4 * 30
    dx = 1e-7
    gradient = (f(np.array([dx]), t)[0] - f(np.array([0.0]), t)[0]) / dx
    assert -K * gradient == pytest.approx(Q, rel=1e-3)
    assert f(np.array([0.0]), t)[0] - TI == pytest.approx(2 * Q * math.sqrt(A * t / math.pi) / K, rel=1e-14)


@pytest.mark.parametrize("t", [0.5, 4.0, 10.0])
def test_convective_solution_balances_the_face(t: float) -> None:
    f = lambda x, tt: cf.convective_surface(x, tt, TI, TG, H, K, A)
    x = np.linspace(50e-6, 2e-3, 20)
    assert np.max(np.abs(_pde_residual(f, x, t))) < 1e-4 * (TG - TI)
    dx = 1e-8
    t0 = f(np.array([0.0]), t)[0]
    gradient = (f(np.array([dx]), t)[0] - t0) / dx
    assert -K * gradient == pytest.approx(H * (TG - t0), rel=1e-3)


def test_convective_solution_tends_to_the_step_for_a_large_coefficient() -> None:
    x = np.linspace(0, 2e-3, 11)
    strong = cf.convective_surface(x, 4.0, TI, TS, 1e9, K, A)
    assert np.max(np.abs(strong - cf.step_surface_temperature(x, 4.0, TI, TS, A))) < 1e-4


def test_slab_eigenvalues_solve_their_equation() -> None:
    z = cf.slab_eigenvalues(3.8, 50)
    assert np.max(np.abs(z * np.tan(z) - 3.8)) < 1e-8
    assert np.all(np.diff(z) > 0)


def test_slab_solution_meets_its_conditions_and_the_semi_infinite_one_early() -> None:
    L, h, ti, tg = 2e-3, 1000.0, 353.15, 293.15
    f = lambda x, t: cf.convective_slab(x, t, L, ti, tg, h, K, A)
    # Insulated back face, convective front face.
    dx = 1e-7
    for t in (3.0, 30.0):
        back = (f(np.array([L]), t)[0] - f(np.array([L - dx]), t)[0]) / dx
        assert abs(back) < 1e-3 * (ti - tg) / L
        t0 = f(np.array([0.0]), t)[0]
        front = (f(np.array([dx]), t)[0] - t0) / dx
        assert -K * front == pytest.approx(h * (tg - t0), rel=1e-3)
    # Before the back face is felt, the slab is the semi-infinite solid.
    x = np.linspace(0, 0.3e-3, 7)
    early = cf.convective_surface(x, 0.5, ti, tg, h, K, A)
    assert np.max(np.abs(f(x, 0.5) - early)) < 1e-6
    # Long after, it has cooled to the gas.
    assert np.max(np.abs(f(np.linspace(0, L, 5), 2000.0) - tg)) < 1e-3


def test_ramp_quadrature_against_the_exponential_integral() -> None:
    # d/dT [T exp(-b/T) - b E1(b/T)] = exp(-b/T): the ramp integral in closed form.
    p, b, t0, r, d = 3.1e98, 6.28e5 / 8.314, 310.15, 3.0, 10.0

    def F(T: float) -> float:
        z = b / T
        # P (T e^-z - b E1(z)) with E1(z) = e^-z * exp1-scaled, no underflow.
        scaled = special.exp1(z) * math.exp(z)
        return p * math.exp(-z) * (T - b * scaled)

    exact = (F(t0 + r * d) - F(t0)) / r
    assert cf.omega_ramp(t0, r, d, p, b) == pytest.approx(exact, rel=1e-9)


def test_constant_omega_is_rate_times_time() -> None:
    assert cf.omega_constant(333.15, 10.0, 3.1e98, 6.28e5 / 8.314) == pytest.approx(
        10.0 * 3.1e98 * math.exp(-6.28e5 / (8.314 * 333.15)), rel=1e-13)


# --- Two layers and a ramped flux ------------------------------------------------------

K1, A1 = 0.523, 0.523 / (1200.0 * 3300.0)
K2, A2 = 0.167, 0.167 / (1000.0 * 2500.0)
L1 = 0.5e-3


@pytest.mark.parametrize("t", [0.5, 5.0, 20.0])
def test_layered_solution_solves_each_layer_and_joins_them(t: float) -> None:
    f = lambda x, tt: cf.layered_step(x, tt, L1, TI, TS, K1, A1, K2, A2)

    def residual(x: np.ndarray, alpha: float, dx: float = 1e-6, dt: float = 1e-4) -> np.ndarray:
        d2 = (f(x + dx, t) - 2 * f(x, t) + f(x - dx, t)) / dx ** 2
        return (f(x, t + dt) - f(x, t - dt)) / (2 * dt) - alpha * d2

    assert np.max(np.abs(residual(np.linspace(20e-6, L1 - 20e-6, 12), A1))) < 1e-4 * (TS - TI)
    assert np.max(np.abs(residual(np.linspace(L1 + 20e-6, 3e-3, 12), A2))) < 1e-4 * (TS - TI)
    # Temperature and flux continuous at the interface, surface held, far field untouched.
    near = f(np.array([L1 - 1e-11, L1, L1 + 1e-11]), t)
    assert near[0] == pytest.approx(near[1], abs=1e-6) and near[2] == pytest.approx(near[1], abs=1e-6)
    d = 1e-8
    at = f(np.array([L1 - d, L1, L1 + d]), t)
    assert K1 * (at[1] - at[0]) / d == pytest.approx(K2 * (at[2] - at[1]) / d, rel=1e-4)
    assert f(np.array([0.0]), t)[0] == pytest.approx(TS, abs=1e-12)
    assert f(np.array([0.05]), t)[0] == pytest.approx(TI, abs=1e-9)


def test_layered_solution_with_one_material_is_the_step() -> None:
    x = np.linspace(0, 3e-3, 31)
    same = cf.layered_step(x, 4.0, L1, TI, TS, K1, A1, K1, A1)
    assert np.max(np.abs(same - cf.step_surface_temperature(x, 4.0, TI, TS, A1))) < 1e-12
    # Before the heat reaches the interface, the layer is a semi-infinite solid of its own material.
    early = cf.layered_step(x[:4], 0.02, L1, TI, TS, K1, A1, K2, A2)
    assert np.max(np.abs(early - cf.step_surface_temperature(x[:4], 0.02, TI, TS, A1))) < 1e-9


def test_layered_steady_profile_carries_one_flux() -> None:
    x = np.array([0.0, L1, 2e-3])
    got = cf.layered_steady(x, L1, 2e-3, TS, TI, K1, K2)
    assert got[0] == TS and got[2] == pytest.approx(TI, abs=1e-12)
    assert K1 * (got[0] - got[1]) / L1 == pytest.approx(K2 * (got[1] - got[2]) / (2e-3 - L1), rel=1e-12)


def test_repeated_integrals_of_erfc() -> None:
    # i^n erfc(z) = integral from z to infinity of i^(n-1) erfc; i^n erfc(0) = 1 / (2^n Gamma(n/2 + 1)).
    from scipy import integrate
    for n in (1, 2, 3):
        assert cf.ierfc_repeated(n, 0.0) == pytest.approx(1 / (2 ** n * math.gamma(n / 2 + 1)), rel=1e-14)
        for z in (0.0, 0.4, 1.5):
            ref, _ = integrate.quad(lambda s: float(cf.ierfc_repeated(n - 1, s)), z, np.inf, epsabs=1e-15)
            assert float(cf.ierfc_repeated(n, z)) == pytest.approx(ref, rel=1e-9, abs=1e-15)


@pytest.mark.parametrize("t", [0.5, 4.0, 10.0])
def test_ramped_flux_solution_takes_the_growing_flux(t: float) -> None:
    a = 2000.0
    f = lambda x, tt: cf.ramped_flux(x, tt, TI, a, K, A)
    x = np.linspace(50e-6, 2e-3, 20)
    assert np.max(np.abs(_pde_residual(f, x, t))) < 1e-4 * 30
    dx = 1e-7
    gradient = (f(np.array([dx]), t)[0] - f(np.array([0.0]), t)[0]) / dx
    assert -K * gradient == pytest.approx(a * t, rel=1e-3)
    assert f(np.array([0.0]), t)[0] - TI == pytest.approx(4 / 3 * a * t ** 1.5 * math.sqrt(A / math.pi) / K, rel=1e-13)
