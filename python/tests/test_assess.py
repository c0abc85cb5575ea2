"""Burn degree and depths on hand-made histories."""
import math

import numpy as np
import pytest

import skinburn as sb
from skinburn.assessment import CRITERIA, assess_history, criterion, depth_reached
from skinburn.kinetics import Kinetics
from skinburn.results import depth_weights

# A made-up single set whose rate is easy to invert.
KIN = Kinetics.arrhenius(1e20, 8.314 * 15000.0, 8.314, name="test")
P, EOR = 1e20, 15000.0
DT, ROWS = 0.5, 21           # 10 s of constant temperatures
DURATION = DT * (ROWS - 1)
DX = 20e-6
EPI, DERM = 80e-6, 400e-6    # on nodes 5 and 21


def temperature_for(omega: float) -> float:
    """The constant temperature (K) that gives ``omega`` over the history."""
    return EOR / (math.log(P) - math.log(omega / DURATION))


def history(omega_by_node):
    return np.tile([temperature_for(o) for o in omega_by_node], (ROWS, 1))


def nodes_with(epi: float, derm: float, n: int = 26) -> list:
    """Omega falling with depth, ``epi`` at node 5 (80 um) and ``derm`` at node 21 (400 um)."""
    logs = np.interp(np.arange(n), [0, 4, 20, n - 1],
                     [math.log(epi) + 2, math.log(epi), math.log(derm), math.log(derm) - 1])
    return list(np.exp(logs))


@pytest.mark.parametrize("epi, derm, degree", [
    (0.53 * (1 - 1e-6), 1e-3, 0),
    (0.53 * (1 + 1e-6), 1e-3, 1),
    (1 - 1e-6, 1e-3, 1),
    (1 + 1e-6, 1e-3, 2),
    (50.0, 1 - 1e-6, 2),
    (50.0, 1 + 1e-6, 3),
])
def test_degree_at_each_criterion_boundary(epi, derm, degree):
    a = assess_history(history(nodes_with(epi, derm)), DT, DX, EPI, DERM, KIN)
    assert a.degree == degree
    assert a.omega_epidermis_base == pytest.approx(epi, rel=1e-11)
    assert a.omega_dermis_base == pytest.approx(derm, rel=1e-11)


def test_criteria_table():
    assert [(c.degree, c.threshold, c.layer) for c in CRITERIA] == [
        (1, 0.53, "epidermis"), (2, 1.0, "epidermis"), (3, 1.0, "dermis")]
    assert all(c.source for c in CRITERIA)
    with pytest.raises(ValueError):
        criterion(4)


def test_depth_reached_by_each_threshold():
    # Temperatures straight in depth and constant in time: Omega(z) = rate(T(z)) t,
    # so the depth where Omega equals a threshold is known exactly.
    z = np.arange(26) * DX
    T = np.interp(z, [0, z[-1]], [temperature_for(30.0), temperature_for(0.01)])
    hist = np.tile(T, (ROWS, 1))
    for thr in (0.53, 1.0):
        expected = np.interp(temperature_for(thr), T[::-1], z[::-1])
        assert depth_reached(hist, DT, DX, thr, KIN) == pytest.approx(expected, abs=1e-9 * DX)
    a = assess_history(hist, DT, DX, EPI, DERM, KIN)
    assert a.depth_reached_m[1.0] < a.depth_reached_m[0.53]
    # Nowhere, and the whole depth.
    assert depth_reached(hist, DT, DX, 1e6, KIN) is None
    assert depth_reached(hist, DT, DX, 1e-9, KIN) == pytest.approx(z[-1])


def test_depth_between_nodes_of_different_conductivity():
    k = np.array([1.0, 1.0, 3.0, 3.0])
    # Halfway between nodes 2 and 3 the boundary temperature carries one flux:
    # (k2 T2 + k3 T3) / (k2 + k3).
    a, b, i = depth_weights(1.5 * DX, DX, 4, k)
    assert (i, a, b) == (1, pytest.approx(0.25), pytest.approx(0.75))
    a, b, i = depth_weights(1.25 * DX, DX, 4, k)
    assert (a, b) == (pytest.approx(0.5 + 0.5 * 0.25), pytest.approx(0.5 * 0.75))
    a, b, i = depth_weights(1.25 * DX, DX, 4, None)
    assert (a, b) == (pytest.approx(0.75), pytest.approx(0.25))
    assert depth_weights(2 * DX, DX, 4, k) == (1.0, 0.0, 2)
    with pytest.raises(ValueError):
        depth_weights(4 * DX, DX, 4, k)


def test_a_criterion_below_the_model_is_not_judged():
    shallow = history(nodes_with(50.0, 5.0, n=26))[:, :10]   # 180 um of skin
    a = assess_history(shallow, DT, DX, EPI, DERM, KIN)
    assert a.omega_dermis_base is None and a.degree == 2
    assert "not judged" in a.notes[0] and "not judged" in a.verdict()


# --- A history holding NaN or infinity is refused, never judged "no burn" ---

def fabricated(tmp_path, history, record=None):
    """Results of a run that never was: a history written as the program writes it."""
    np.save(tmp_path / "r.npy", history)
    doc = {"status": 0, "outcome": "burn-depth", "inputs": {"grid": {"deltax_m": DX, "deltat_s": DT}},
           "history": {"file": "r.npy", "rows": history.shape[0], "columns": history.shape[1]}}
    if record is not None:
        doc["non_finite"] = record
    return sb.Results(doc, tmp_path / "r")


@pytest.mark.parametrize("bad, row, col", [(math.nan, 1, 0), (math.inf, 7, 30), (-math.inf, 40, 3)])
def test_the_first_non_finite_temperature_is_named(tmp_path, bad, row, col):
    hist = np.full((51, 41), 330.0)
    hist[row, col] = bad
    hist[row + 1:, :] = math.nan  # later rows do not hide the first
    with pytest.raises(sb.NonFiniteHistory) as info:
        assess_history(hist, DT, DX, 8e-5, 2.08e-3, sb.HENRIQUES_1947)
    e = info.value
    assert (e.step, e.node) == (row, col + 1)
    assert e.time_s == pytest.approx(row * DT) and e.depth_m == pytest.approx(col * DX)
    assert f"step {row} " in str(e) and f"node {col + 1} " in str(e)
    with pytest.raises(sb.NonFiniteHistory):
        sb.assess(fabricated(tmp_path, hist), sb.UNIFORM_DERMIS, sb.HENRIQUES_1947)


def test_the_programs_own_record_is_honoured(tmp_path):
    record = {"step": 3, "time_s": 3 * DT, "node": 2, "depth_m": DX, "value": "nan"}
    res = fabricated(tmp_path, np.full((11, 41), 310.0), record)
    with pytest.raises(sb.NonFiniteHistory, match="step 3 .*node 2 "):
        sb.assess(res, sb.UNIFORM_DERMIS, sb.HENRIQUES_1947)
