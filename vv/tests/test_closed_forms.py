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
