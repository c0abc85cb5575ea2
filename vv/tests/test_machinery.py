"""The measuring machinery: orders, bands, statistics, the data files as cited, the Weaver-Stoll reference."""
from __future__ import annotations

import math

import pytest

import skinburn as sb
from vv import validation as va
from vv import verification as ve


def test_orders_of_a_sequence() -> None:
    s = ve.Sequence_("space", [(8e-5, 0.01), (4e-5, 0.01), (2e-5, 0.01)], [1.0, 0.25, 0.0625], [{}, {}, {}])
    assert s.orders == pytest.approx([2.0, 2.0])


def test_stoll_data_as_tabulated() -> None:
    pts = va.stoll_points()
    assert len(pts) == 22
    assert pts[0] == (1.0, 50e3) and pts[-1] == (30.0, 4.5e3)
    # Times ascend and fluxes fall.
    assert all(b[0] > a[0] and b[1] < a[1] for a, b in zip(pts, pts[1:]))
    # The SI column and the cal/(cm2 s) column are the same curve to the source's rounding (3.6 % at most).
    rows = va._rows("stoll_chianta_1969.csv")
    for r in rows:
        assert float(r["heat_flux_kW_m2"]) == pytest.approx(float(r["heat_flux_cal_cm2_s"]) * 41.84, rel=0.037)
    assert any("Stoll and M. A. Chianta" in line for line in va.data_header("stoll_chianta_1969.csv"))


def test_hot_water_data_as_cited() -> None:
    w = va.hot_water_points()
    assert [p["water_C"] for p in w] == [70, 65, 60, 55, 50, 45, 44]
    assert [p["time_s"] for p in w][:3] == [1, 2, 5] and w[4]["time_s"] == 300 and w[-1]["time_s"] == 6 * 3600
    p55 = w[3]
    assert (p55["low_s"], p55["high_s"]) == (17, 30)
    assert p55["time_s"] == pytest.approx(math.sqrt(17 * 30), rel=1e-3)
    assert all(p["confidence"] for p in w)


def test_stats_and_bands() -> None:
    pts = [va.Point("stoll", sb.WEAVER_STOLL_1969.name, 1.0, 1e4, 10.0, predicted_s=x) for x in (9.5, 10.0, 10.8)]
    s = va.Stats.of(pts)
    assert s.mean_bias == pytest.approx((-0.05 + 0 + 0.08) / 3)
    assert s.largest_error == pytest.approx(0.08)
    v = va.Validation(pts, [], True)
    assert all(ok for _, _, _, ok in v.bands)
    pts[2].predicted_s = 11.2
    failed = [w for w, _, _, ok in v.bands if not ok]
    assert failed == ["Stoll curve, Weaver-Stoll, absorbed = tabulated: largest error"]
    pts[0].fine_s = pts[0].predicted_s * 1.006
    assert any("numerical uncertainty" in w for w, _, _, ok in v.bands if not ok)
    pts[1].predicted_s = None
    assert any("without a prediction" in w for w, _, _, ok in v.bands if not ok)


def test_weaver_stoll_reference_splits_at_its_regimes() -> None:
    # A ramp through 44 and 50 C: the reference is the sum over the regimes, zero below 44 C.
    kin = sb.WEAVER_STOLL_1969
    below = ve.exact_ramp_omega(310.15, 1.0, 5.0, kin)  # 37 -> 42 C
    assert below == 0.0
    whole = ve.exact_ramp_omega(310.15, 3.0, 10.0, kin)
    lo_part = ve.exact_ramp_omega(310.15, 3.0, (323.15 - 310.15) / 3.0, kin)  # up to 50 C
    r = kin.regimes[1]
    from vv import closed_forms as cf
    hi_part = cf.omega_ramp(323.15, 3.0, 10.0 - (323.15 - 310.15) / 3.0, r.frequency_factor_per_s, r.e_over_r_K)
    assert whole == pytest.approx(lo_part + hi_part, rel=1e-12)
