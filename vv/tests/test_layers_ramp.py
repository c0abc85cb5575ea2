"""The two-layer and ramped-flux bands have teeth: a solver with a known fault fails them.

The solver here is a model of the method the verification describes
(backward Euler; node i owns the slab half a spacing either side of it, the
surface node half a cell; neighbours joined by a mean of their
conductivities), with the layers laid by the package's own rule. It stands
in for the program so that a fault can be put in on purpose; the program
itself is measured by ``vv.bands``.
"""
from __future__ import annotations

from concurrent.futures import ThreadPoolExecutor
from typing import Callable, Optional

import numpy as np
import pytest
from scipy.linalg import solve_banded

from vv import closed_forms as cf
from vv import layers_ramp as lr
from vv import verification as ve

Mean = Callable[[np.ndarray, np.ndarray], np.ndarray]
HARMONIC: Mean = lambda a, b: 2 * a * b / (a + b)
ARITHMETIC: Mean = lambda a, b: (a + b) / 2


def _march(k: np.ndarray, rc: np.ndarray, dx: float, dt: float, start: np.ndarray, record: dict[float, int],
           surface_K: Optional[float], flux: Optional[Callable[[float], float]], mean: Mean,
           surface_cell: float = 0.5) -> dict[float, np.ndarray]:
    """Backward Euler on the nodes; the inner face held at its start value; temperatures (K) at ``record``."""
    n = len(k)
    g = mean(k[:-1], k[1:]) / dx  # W/(m2 K) between node i and i+1
    cap = rc * dx / dt
    cap[0] *= surface_cell
    ab = np.zeros((3, n))
    ab[1, :] = cap
    ab[1, :-1] += g
    ab[1, 1:] += g
    ab[0, 1:] = -g
    ab[2, :-1] = -g
    for row in ([0] if surface_K is not None else []) + [n - 1]:
        ab[1, row] = 1.0
        if row > 0:
            ab[2, row - 1] = 0.0
        if row < n - 1:
            ab[0, row + 1] = 0.0
    t = start.copy()
    out = {}
    for step in range(1, max(record.values()) + 1):
        rhs = cap * t
        rhs[n - 1] = start[n - 1]
        if surface_K is not None:
            rhs[0] = surface_K
        if flux is not None:
            rhs[0] += flux((step - 0.5) * dt)  # the flux's mean over the step, for a straight ramp
        t = solve_banded((1, 1), ab, rhs)
        for when, s in record.items():
            if s == step:
                out[when] = t.copy()
    return out


def _model_runner(mean: Mean) -> lr.Runner:
    def run(case: lr.LayerCase, dx: float, dt: float, program: object) -> tuple[dict[float, np.ndarray], float]:
        nodes = int(round(case.thickness_m / dx)) + 1
        skin = lr.two_layer_skin(case.thickness_m)
        p = skin.node_properties(dx, nodes)
        z = np.arange(nodes) * dx
        if case.steady:
            start = lr.SURFACE_K + (lr.STEADY_INNER_K - lr.SURFACE_K) * z / case.thickness_m
        else:
            start = np.full(nodes, lr.INITIAL_K)
        record = {t: int(round(t / dt)) for t in case.times_s}
        got = _march(p["conductivity_W_mK"], p["density_kg_m3"] * p["heat_capacity_J_kgK"], dx, dt, start, record,
                     lr.SURFACE_K, None, mean)
        return got, skin.placed_boundaries_m(dx, nodes)[0]
    return run


def test_a_wrong_interface_average_fails_the_two_layer_bands() -> None:
    with ThreadPoolExecutor(max_workers=2) as pool:
        right = lr.run_placement("between", ve.QUICK, pool, None, _model_runner(HARMONIC))
        wrong = lr.run_placement("between", ve.QUICK, pool, None, _model_runner(ARITHMETIC))
    lo, hi = lr.BETWEEN_BAND
    assert all(lo <= p <= hi for p in right.orders), right.orders
    assert max(right.steady_placed_errors_K) < lr.STEADY_EXACT_MAX_K
    assert not any(lo <= p <= hi for p in wrong.orders), wrong.orders
    assert min(wrong.steady_placed_errors_K) > 1e3 * lr.STEADY_EXACT_MAX_K


def _ramp_space_orders(surface_cell: float) -> list[float]:
    """Space orders of the model on the ramped flux, time error removed as the verification removes it."""
    case = lr.ramp_case()
    dxs, dt = ve.QUICK.space_dxs_m, ve.QUICK.space_dt_s
    flux = lambda t: lr.RAMP_RATE_W_M2S * t
    errors = []
    for dx in dxs:
        nodes = int(round(case.thickness_m / dx)) + 1
        k, rc = np.full(nodes, ve.K_W_MK), np.full(nodes, ve.RHO_KG_M3 * ve.C_J_KGK)
        runs = [_march(k, rc, dx, d, np.full(nodes, case.initial_K), {t: int(round(t / d)) for t in case.times_s},
                       None, flux, HARMONIC, surface_cell) for d in (dt, dt / 2)]
        prof = {t: 2 * runs[1][t] - runs[0][t] for t in case.times_s}
        errors.append(max(ve._errors(case, prof, dx, dxs[0]).values()))
    return lr.observed_orders(errors, list(dxs))


@pytest.mark.parametrize("surface_cell, holds", [(0.5, True), (1.0, False)])
def test_a_surface_node_of_the_wrong_size_fails_the_ramp_bands(surface_cell: float, holds: bool) -> None:
    lo, hi = ve.SPACE_BAND
    orders = _ramp_space_orders(surface_cell)
    assert all(lo <= p <= hi for p in orders) == holds, orders


def test_observed_orders_with_any_ratio() -> None:
    assert lr.observed_orders([9.0, 1.0, 1 / 9], [3.0, 1.0, 1 / 3]) == pytest.approx([2.0, 2.0])
    assert lr.observed_orders([1.0, 0.5], [2.0, 1.0]) == pytest.approx([1.0])


def test_the_placements_put_the_interface_where_they_say() -> None:
    # Halfway: every spacing of the sequence leaves the interface halfway between two nodes; on a node: on one.
    for placement, where in (("between", 0.5), ("node", 0.0)):
        for name in ("full", "quick"):
            for ratio in lr.PLACEMENTS[placement][name]:
                assert ratio % 1.0 == pytest.approx(where)
                dx = lr.INTERFACE_M / ratio
                # Nodes end on both faces of both models.
                for depth in (lr.TRANSIENT_DEPTH_M, lr.STEADY_DEPTH_M):
                    assert depth / dx == pytest.approx(round(depth / dx), abs=1e-9)
                placed = lr.two_layer_skin(depth).placed_boundaries_m(dx, int(round(depth / dx)) + 1)
                assert placed[0] == pytest.approx(lr.INTERFACE_M + (dx / 2 if placement == "node" else 0.0))
