"""Measured exposures: records run forwards from closed forms, and recovered."""
import math

import numpy as np
import pytest

import skinburn as sb
from skinburn.measured import RecordError, read_flux_csv, semi_infinite_flux, slug_flux

# A skin-simulant substrate (k W/(m K), rho kg/m^3, c J/(kg K)) and a copper slug (kg, J/(kg K), m^2).
SUBSTRATE = (1.46, 2520.0, 790.0)
SLUG = (0.018, 385.0, 1.257e-3)
T = np.linspace(0.0, 4.0, 1001)  # s, 4 ms apart
Q0, RAMP = 20e3, 10e3            # W/m^2, W/(m^2 s)


def effusivity() -> float:
    k, rho, c = SUBSTRATE
    return math.sqrt(k * rho * c)


def test_a_semi_infinite_sensor_gives_back_a_constant_and_a_ramped_flux():
    # Closed forms of the surface of a semi-infinite solid: a constant flux raises it as 2 q sqrt(t / pi) / e,
    # a flux a t as (4/3) a t^1.5 / (sqrt(pi) e).
    const = 300 + 2 * Q0 * np.sqrt(T / math.pi) / effusivity()
    got = semi_infinite_flux(T, sb.kelvin(const), *SUBSTRATE).flux_W_m2
    assert np.max(np.abs(got[10:] / Q0 - 1)) < 5e-3 and np.max(np.abs(got[100:] / Q0 - 1)) < 2e-4
    ramp = 300 + 4 / 3 * RAMP * T ** 1.5 / math.sqrt(math.pi) / effusivity()
    got = semi_infinite_flux(T, sb.celsius(sb.kelvin(ramp).C), *SUBSTRATE).flux_W_m2
    assert np.max(np.abs(got - RAMP * T)) < 2e-4 * RAMP * T[-1]
    assert np.max(np.abs(got[10:] - RAMP * T[10:])) < 1e-4 * RAMP * T[-1]
    # With 0.02 K of noise on a 27 K rise the raw inverse scatters by 3-4 %; smoothed over 50 ms, under 2.5 %.
    noisy = sb.kelvin(const + np.random.default_rng(1).normal(0, 0.02, T.size))
    raw = semi_infinite_flux(T, noisy, *SUBSTRATE).flux_W_m2[100:]
    smooth = semi_infinite_flux(T, noisy, *SUBSTRATE, window_s=0.05).flux_W_m2[100:]

    def rms(q):
        return float(np.sqrt(np.mean((q / Q0 - 1) ** 2)))
    assert rms(smooth) < 0.025 < rms(raw)


def test_a_copper_slug_gives_back_a_constant_and_a_ramped_flux():
    m, c, area = SLUG
    const = 300 + Q0 * area * T / (m * c)
    assert np.allclose(slug_flux(T, sb.kelvin(const), *SLUG).flux_W_m2, Q0, rtol=1e-9)
    ramp = 300 + RAMP * area * T ** 2 / (2 * m * c)
    got = slug_flux(T, sb.kelvin(ramp), *SLUG).flux_W_m2
    assert np.allclose(got[1:-1], RAMP * T[1:-1], rtol=1e-9, atol=1e-6)
    # 0.05 K of noise on 4 ms samples: the raw slope is noise; a 0.5 s window brings it within 1.5 %.
    noisy = sb.kelvin(const + np.random.default_rng(2).normal(0, 0.05, T.size))
    raw = slug_flux(T, noisy, *SLUG).flux_W_m2
    smooth = slug_flux(T, noisy, *SLUG, window_s=0.5).flux_W_m2
    assert np.sqrt(np.mean((smooth / Q0 - 1) ** 2)) < 0.015 and np.std(raw / Q0) > 1


def test_a_flux_csv_names_its_units_or_is_given_them(tmp_path):
    f = tmp_path / "q.csv"
    f.write_text("time (ms), flux (kW/m2)\n100,0\n200,84\n2100,84\n2200,0\n")
    rec = read_flux_csv(f)
    assert rec.times_s.tolist() == pytest.approx([0, 0.1, 2.0, 2.1]) and rec.flux_W_m2.max() == 84e3
    exposure = rec.exposure()
    assert isinstance(exposure, sb.HeatFlux) and exposure.duration_s == pytest.approx(2.1)
    f.write_text("time_s,flux_W_m2\n0,5\n1,5\n")
    assert read_flux_csv(f).flux_W_m2.tolist() == [5.0, 5.0]
    assert read_flux_csv(f, flux_unit="W/cm2").flux_W_m2.tolist() == [5e4, 5e4]
    f.write_text("t,q\n0,5\n1,5\n")
    with pytest.raises(RecordError, match="named neither in the header nor given"):
        read_flux_csv(f)
    assert read_flux_csv(f, flux_unit="kW/m2", time_unit="s").flux_W_m2.tolist() == [5e3, 5e3]


@pytest.mark.parametrize("call, message", [
    (lambda: slug_flux([0, 1, 3], sb.kelvin([300, 301, 302]), *SLUG), "one interval"),
    (lambda: slug_flux([0, 1, 2], sb.kelvin([300, float("nan"), 302]), *SLUG), "finite"),
    (lambda: slug_flux([0, 1, 2], sb.kelvin([300, 301, 302]), 0.0, 385.0, 1e-3), "mass_kg"),
    (lambda: semi_infinite_flux([0, 1, 2], sb.kelvin([300, 301, 302]), *SUBSTRATE, window_s=10.0), "longer"),
    (lambda: semi_infinite_flux([0, 1], sb.kelvin([300, 301]), *SUBSTRATE), "at least 3"),
    (lambda: slug_flux([0, 1, 2], [300, 301, 302], *SLUG), "temperature"),
])
def test_a_record_that_cannot_be_used_says_what_to_change(call, message):
    with pytest.raises((ValueError, TypeError), match=message):  # RecordError, or the temperature's own refusal
        call()
