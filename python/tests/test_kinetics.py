"""Damage kinetics and the damage integral against closed forms and quadrature."""
import math

import skinburn as sb

import numpy as np
import pytest
from scipy.integrate import quad

from skinburn import kinetics as kin
from skinburn.kinetics import (HENRIQUES_1947, KINETICS, PROGRAM_DEFAULT, WEAVER_STOLL_1969, Kinetics,
                               damage_integral, kinetics_preset)
from skinburn.units import Temperature, celsius, kelvin


def test_temperatures_carry_their_unit():
    assert celsius(60).K == pytest.approx(333.15)
    assert kelvin(333.15) == celsius(60)
    assert np.allclose(celsius([0, 100]).K, [273.15, 373.15])
    with pytest.raises(ValueError):
        kelvin(-1)
    from skinburn.exposure import SurfaceTemperature
    with pytest.raises(TypeError, match="celsius"):
        SurfaceTemperature(60.0, 10.0)  # a bare number is never taken as a temperature


def test_presets_hold_their_published_constants():
    d = PROGRAM_DEFAULT.regimes[0]
    assert (d.frequency_factor_per_s, PROGRAM_DEFAULT.activation_energy_J_mol,
            PROGRAM_DEFAULT.gas_constant_J_molK) == (3.442707e94, 623580.0, 8.31439)
    assert d.e_over_r_K == pytest.approx(75000, rel=2e-6)
    h = HENRIQUES_1947.regimes[0]
    assert h.frequency_factor_per_s == 3.1e98 and h.e_over_r_K == 6.28e5 / 8.314
    low, high = WEAVER_STOLL_1969.regimes
    assert (low.from_K, low.frequency_factor_per_s, low.e_over_r_K) == (317.15, 2.185e124, 93534.9)
    assert (high.from_K, high.frequency_factor_per_s, high.e_over_r_K) == (323.15, 1.823e51, 39109.8)
    assert all(k.source for k in KINETICS.values())
    assert kinetics_preset("weaver-stoll") is WEAVER_STOLL_1969
    with pytest.raises(KeyError):
        kinetics_preset("stoll")


@pytest.mark.parametrize("model", list(KINETICS.values()), ids=list(KINETICS))
@pytest.mark.parametrize("T", [325.0, 340.0, 360.0])
def test_constant_temperature_is_rate_times_time(model, T):
    hist = np.full((501, 3), T)
    om = damage_integral(hist, 0.02, model)
    r = model.regimes[-1] if T >= model.regimes[-1].from_K else model.regimes[0]
    exact = r.frequency_factor_per_s * math.exp(-r.e_over_r_K / T) * 10.0
    assert np.allclose(om, exact, rtol=1e-12, atol=0)


@pytest.mark.parametrize("model", [PROGRAM_DEFAULT, HENRIQUES_1947], ids=["default", "henriques"])
def test_linear_ramp_against_quadrature_of_the_exact_integrand(model):
    T0, T1, t_end = 318.0, 345.0, 4.0
    exact, _ = quad(lambda t: float(model.rate_per_s(T0 + (T1 - T0) * t / t_end)), 0, t_end,
                    epsabs=0, epsrel=1e-13, limit=200)
    errors = []
    for steps in (40, 80):
        hist = np.linspace(T0, T1, steps + 1)
        errors.append(abs(damage_integral(hist, t_end / steps, model) / exact - 1))
    assert errors[1] < 1e-5
    # Simpson's rule: fourth order in the step.
    assert errors[0] / errors[1] == pytest.approx(16, rel=0.05)


def test_two_regime_model_switches_at_50C_and_is_zero_below_44C():
    ws = WEAVER_STOLL_1969
    low, high = ws.regimes
    below_44 = np.array([celsius(20).K, celsius(43.99).K])
    assert np.all(ws.rate_per_s(below_44) == 0)
    at_44 = ws.rate_per_s(317.15)
    assert at_44 == pytest.approx(low.frequency_factor_per_s * math.exp(-low.e_over_r_K / 317.15), rel=1e-13)
    just_below = float(np.nextafter(323.15, 0))
    assert ws.rate_per_s(just_below) == pytest.approx(
        low.frequency_factor_per_s * math.exp(-low.e_over_r_K / just_below), rel=1e-12)
    assert ws.rate_per_s(323.15) == pytest.approx(
        high.frequency_factor_per_s * math.exp(-high.e_over_r_K / 323.15), rel=1e-12)
    # A history that stays below 44 C does no damage at all.
    assert damage_integral(np.full(100, celsius(43.9).K), 0.1, ws) == 0.0


def test_cumulative_chunked_and_floored_integrals_agree():
    rng = np.random.default_rng(1)
    rows = kin._ROWS_PER_CHUNK * 2 + 17  # several blocks of rows
    hist = 330 + 8 * np.sin(np.linspace(0, 9, rows))[:, None] + rng.normal(0, 0.1, (rows, 4))
    total = damage_integral(hist, 1e-3, HENRIQUES_1947)
    run = damage_integral(hist, 1e-3, HENRIQUES_1947, cumulative=True)
    assert run.shape == hist.shape and np.all(run[0] == 0) and np.all(np.diff(run, axis=0) > 0)
    assert np.allclose(run[-1], total, rtol=1e-12)
    ends = HENRIQUES_1947.rate_per_s(hist)
    mids = HENRIQUES_1947.rate_per_s((hist[1:] + hist[:-1]) / 2)
    direct = (1e-3 / 6 * (ends[:-1] + 4 * mids + ends[1:])).sum(axis=0)
    assert np.allclose(total, direct, rtol=1e-12)
    # The program's floor: values below 1e-6 read as exactly 0.
    cold = np.full(11, 310.0)
    assert 0 < damage_integral(cold, 0.1, PROGRAM_DEFAULT) < 1e-6
    assert damage_integral(cold, 0.1, PROGRAM_DEFAULT, floor=kin.PROGRAM_OMEGA_FLOOR) == 0.0


def test_user_sets_are_checked():
    user = Kinetics.arrhenius(1e100, 6.5e5, 8.314, name="mine")
    assert user.single_set and Kinetics.from_dict(user.to_dict()).regimes == user.regimes
    assert Kinetics.from_dict(WEAVER_STOLL_1969.to_dict()) is WEAVER_STOLL_1969
    with pytest.raises(ValueError):
        Kinetics("bad", (kin.Regime(330, 1e50, 4e4), kin.Regime(320, 1e50, 4e4)))
    with pytest.raises(ValueError):
        Kinetics.arrhenius(-1.0, 6e5, 8.314)
    assert not WEAVER_STOLL_1969.single_set
    assert isinstance(celsius(44), Temperature)


def test_a_set_without_its_gas_constant_is_not_one_the_program_can_hold(tmp_path):
    # DATA.DAT states E and R both: a set that knows only E is integrated by the package, and the
    # directory is written with the program's own constants rather than failing on the missing R.
    k = sb.Kinetics("E only", (sb.Regime(0.0, 3.1e98, 75000.0),), "", activation_energy_J_mol=623580.0)
    assert not k.single_set
    from skinburn.scenarios import flash_fire

    trial = flash_fire(20e3, 1.0).replace("kinetics", k).replace("grid", sb.Grid(5e-5, 0.05)) \
        .replace("after_exposure_s", 1.0)
    sb.write_trial(trial, tmp_path / "d")
    assert "Gas-constant: 8.31" in (tmp_path / "d" / "DATA.DAT").read_text()
