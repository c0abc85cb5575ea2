"""The program's second time scheme (--time-scheme bdf2): opt-in, named where it is used, second order,
and the burn of every node integrated beside a second march that repeats the first one's bits."""
from __future__ import annotations

import json
import shutil
import subprocess
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import skinburn as sb
from skinburn.kinetics import damage_integral


def _run(program, directory, *options):
    # The data directory as the current one: a temporary path may be longer than the program takes.
    return subprocess.run([str(program.path), *options, ""], capture_output=True, cwd=directory,
                          stdin=subprocess.DEVNULL, timeout=120)


def test_backward_euler_by_name_is_the_run_without_the_option(program, examples, tmp_path):
    outs = []
    for k, options in enumerate(((), ("--time-scheme", "backward-euler"))):
        d = tmp_path / f"run{k}"
        shutil.copytree(examples / "airbag-jet", d)
        (d / "OUTPUT.TXT").unlink(missing_ok=True)
        done = _run(program, d, *options)
        outs.append((done.returncode, done.stdout, done.stderr, (d / "OUTPUT.TXT").read_bytes()))
    assert outs[0] == outs[1]
    assert b"Time scheme" not in outs[0][3]


def test_bdf2_is_named_in_the_report_the_check_and_both_json_documents(program, examples, tmp_path):
    d = tmp_path / "jet"
    shutil.copytree(examples / "airbag-jet", d)
    (d / "OUTPUT.TXT").unlink(missing_ok=True)
    done = _run(program, d, "--time-scheme=bdf2", "--results", str(tmp_path / "r"))
    assert done.returncode == 0, done.stderr
    assert b"Time scheme: BDF2" in (d / "OUTPUT.TXT").read_bytes()
    assert json.loads((tmp_path / "r.json").read_text())["inputs"]["grid"]["time_scheme"] == "bdf2"
    check = _run(program, d, "--time-scheme", "bdf2", "--check")
    assert b"Time scheme: BDF2" in check.stdout and check.returncode == 0
    plain = json.loads(_run(program, d, "--check=json").stdout)
    assert "time_scheme" not in plain["grid"]


@pytest.mark.parametrize("options", [("--time-scheme",), ("--time-scheme", "crank-nicolson"),
                                     ("--time-scheme=",)])
def test_an_unknown_scheme_is_a_usage_error(program, examples, options):
    done = _run(program, examples / "airbag-jet", *options)
    assert done.returncode == 2
    assert b"--time-scheme needs backward-euler or bdf2" in done.stderr


@pytest.mark.parametrize("exposure", [sb.HeatFlux(20e3, 2.0),
                                      sb.AirbagJet(nozzle_diameter_m=0.01, standoff_m=0.05,
                                                   gas_temperature=sb.kelvin(700.0), gas_velocity_m_s=60.0,
                                                   duration_s=0.2)])
def test_the_burn_of_every_node_sees_the_first_march(program, exposure):
    """The program's own Omega (integrated beside the second march) is the Omega of the history
    the first march wrote, under BDF2 as under backward Euler: flux and jet faces alike."""
    trial = sb.Trial(sb.TORVI_DALE_1994, sb.InitialProfile.linear(sb.celsius(32.5), sb.celsius(37)), exposure,
                     grid=sb.Grid(20e-6, exposure.duration_s / 40, time_scheme="bdf2"), after_exposure_s=1.0)
    res = sb.run(trial, program)
    own = np.asarray(res.program_omega_unfloored)
    again = damage_integral(np.asarray(res.temperature_K), res.deltat_s, res.program_kinetics)
    big = own > 1e-12
    assert big.any()
    assert np.allclose(own[big], again[big], rtol=1e-9)


def test_orders_in_time_one_and_two_on_a_flux_step_and_two_layers(program):
    """Self-convergence on one spacing: backward Euler first order, BDF2 second; the face node never
    moves against the exposure."""
    from vv import time_orders, verification as ve
    settings = ve.Settings("test", 10e-6, (0.04, 0.02, 0.01), (), 0.01, ())
    picked = [c for c in time_orders.cases() if c[0].key in ("flux", "layers")]
    with ThreadPoolExecutor(2) as pool:
        original = time_orders.cases
        time_orders.cases = lambda: picked
        try:
            result = time_orders.verify(settings, pool, program)
        finally:
            time_orders.cases = original
    assert {(q.case, q.scheme) for q in result.sequences} == {(c[0].key, s) for c in picked
                                                             for s in time_orders.SCHEMES}
    assert all(held for _what, _value, _band, held in result.bands), result.bands


def test_a_step_that_ends_on_a_knot_but_for_rounding_takes_the_knots_value():
    # 9.995 + 0.005 lies an ulp past 10 s, the ramp's end: the step is straight and takes 20 kW/m2, not
    # its mean (which made BDF2's last steps first order in the ramp's time-order sequence).
    from skinburn.sampling import Profile, record_values
    ramp = Profile.cut((np.array([0.0, 10.0]), np.array([0.0, 20e3])), 10.0, 0.0)  # then the flux is off
    for dt in (0.04, 0.01, 0.005):
        steps = round(10.0 / dt)
        values = record_values(ramp, dt, steps, "end", True)
        assert values[-1] == 20e3 and values[steps // 2] == pytest.approx(10e3, rel=1e-12)
