"""Omega through time at a depth or a node, the time Omega reaches a value, and when each burn
criterion is met within a run."""
import math

import numpy as np
import pytest

import skinburn as sb
from skinburn.kinetics import Kinetics

KIN = Kinetics.arrhenius(1e20, 8.314 * 15000.0, 8.314, name="test")
DT, DX = 0.5, 20e-6


def rate(temperature_K: float) -> float:
    return 1e20 * math.exp(-15000.0 / temperature_K)


def made(tmp_path, history):
    """Results of a run that never was: a history written as the program writes it."""
    np.save(tmp_path / "r.npy", history)
    doc = {"status": 0, "outcome": "burn-depth", "inputs": {"grid": {"deltax_m": DX, "deltat_s": DT}},
           "history": {"file": "r.npy", "rows": history.shape[0], "columns": history.shape[1]}}
    return sb.Results(doc, tmp_path / "r")


def test_constant_temperatures_give_k_times_t_and_the_exact_time_within_a_step(tmp_path):
    temps = np.linspace(345.0, 320.0, 26)             # falling with depth, constant in time
    res = made(tmp_path, np.tile(temps, (21, 1)))     # 10 s
    k5 = rate(temps[4])                               # node 5, 80 um
    assert res.omega_history(node=5, kinetics=KIN) == pytest.approx(k5 * res.time_s, rel=1e-12)
    assert res.omega_history(80e-6, kinetics=KIN)[-1] == pytest.approx(res.omega_at_depth(80e-6, KIN), rel=1e-12)
    target = 0.37 * k5 * 10.0                         # 3.7 s: inside a step
    assert res.time_omega_reaches(target, node=5, kinetics=KIN) == pytest.approx(3.7, rel=1e-9)
    assert res.time_omega_reaches(k5 * 10.0 * 1.01, node=5, kinetics=KIN) is None
    assert res.time_omega_reaches(0.0, node=5, kinetics=KIN) == 0.0
    # Between nodes the temperature of the depth (halfway: the mean) is the one integrated.
    mid = 0.5 * (temps[4] + temps[5])
    assert res.time_omega_reaches(rate(mid) * 2.25, 90e-6, kinetics=KIN) == pytest.approx(2.25, rel=1e-9)
    skin = sb.Skin.uniform(0.5, 1000.0, 3500.0, 0.6e-3, epidermis_base_m=80e-6, dermis_base_m=400e-6)
    times = res.criterion_times(skin, KIN)
    k21 = rate(temps[20])
    expect = {1: 0.53 / k5, 2: 1.0 / k5, 3: 1.0 / k21}
    for degree, t in times.items():
        assert (t is None) == (expect[degree] > 10.0)
        if t is not None:
            assert t == pytest.approx(expect[degree], rel=1e-9)
    with pytest.raises(TypeError):
        res.omega_history(80e-6, node=5, kinetics=KIN)
    with pytest.raises(ValueError):
        res.omega_history(node=27, kinetics=KIN)


def test_omega_through_time_on_a_run_agrees_with_omega_at_its_end(program, examples):
    res = sb.run(examples / "airbag-jet", program)
    ws = sb.WEAVER_STOLL_1969
    for node in (1, 5, 9):
        path = res.omega_history(node=node, kinetics=ws)
        assert path[0] == 0.0 and np.all(np.diff(path) >= 0)
        assert path[-1] == pytest.approx(float(res.omega(ws, nodes=[node])[0]), rel=1e-12)
    path = res.omega_history(80e-6, kinetics=ws)
    # The time Omega reaches 1 at 80 um lies in the step where the running Omega passes 1.
    t = res.time_omega_reaches(1.0, 80e-6, kinetics=ws)
    r = int(math.ceil(t / res.deltat_s))
    assert path[r - 1] < 1.0 <= path[r]
    times = res.criterion_times(sb.UNIFORM_DERMIS, ws)
    assert times[1] < times[2] == t and times[3] is None  # the dermis base lies below the 0.8 mm model
    a = sb.assess(res, sb.UNIFORM_DERMIS, ws)
    assert a.criterion_times_s == times and f"second degree at {t:.4g} s" in a.verdict()
