"""The comparisons by regime: depth classes at the layer edges, the exposures as written, and bands that
fail when a prediction is missing or leaves the claim. No program runs here."""
from __future__ import annotations

from pathlib import Path

import numpy as np
import pytest

import skinburn as sb
from vv import regimes as rg
from vv import report
from vv.tests.test_report import _fake_validation, _tables_well_formed

TD = sb.TORVI_DALE_1994
E, D = TD.criterion_depths_m


@pytest.mark.parametrize("depth, omega, label", [
    (None, 0.1, "none"),                       # Omega 0.53 not reached at the epidermis base
    (None, 0.6, "superficial"),                # first degree without Omega 1 anywhere
    (E * 0.999, 5.0, "superficial"),           # Omega 1 just short of the epidermis base
    (E, 1.0, "partial thickness, superficial dermal"),
    (rg.deep_dermal_depth_m(TD) * 0.999, 9.0, "partial thickness, superficial dermal"),
    (rg.deep_dermal_depth_m(TD), 9.0, "partial thickness, deep dermal"),
    (D, 50.0, "full thickness"),
])
def test_depth_classes_at_the_layer_edges(depth: float, omega: float, label: str) -> None:
    assert rg.depth_class(depth, omega, TD)[1] == label


def test_thicker_skin_moves_only_the_dermis_base() -> None:
    pig = rg.pig_skin()
    assert pig.criterion_depths_m == pytest.approx((E, rg.PIG_DERMIS_BASE_M))
    assert [l.conductivity_W_mK for l in pig.layers] == [l.conductivity_W_mK for l in TD.layers]
    assert rg.deep_dermal_depth_m(pig) == pytest.approx(E + 0.75 * (3.1e-3 - E))
    # The deep-dermal skin keeps the layers (the same heat flow) and judges degree 3 at 75 % of the dermis.
    deep = rg.deep_dermal_skin(TD)
    assert deep.layers == TD.layers and deep.criterion_depths_m[1] == pytest.approx(rg.deep_dermal_depth_m(TD))
    assert rg.depth_class(D * 0.99, 9.0, pig)[1] == "partial thickness, superficial dermal"


def test_log_exposure_sprays_rests_then_flashes() -> None:
    trial = rg.SprayTrial(sb.HENRIQUES_1947)(1e-5)
    conv = trial.exposure.as_convection()
    t = np.array([10.0, 30.5, 31.3, 31.7])
    h = np.interp(t, conv.h_W_m2K.times_s, conv.h_W_m2K.values)
    gas = np.interp(t, conv.gas.times_s, conv.gas.values)
    assert h[0] > 0.99e5 and gas[0] == pytest.approx(278.15, abs=0.01)  # held at 5 C by the spray
    assert h[1] < 10 and h[2] < 10                                        # in air, then re-radiation only
    assert gas[2] > 2000                                                   # the flash: 86 kW/m2 over a small h
    assert trial.exposure.duration_s == pytest.approx(31.74)
    resting = rg.SprayTrial(sb.HENRIQUES_1947)(None)
    assert resting.exposure == sb.HeatFlux(86e3, 0.74)


def _fake(**change) -> rg.Regimes:
    contact, times, scalds, flash, jet = [], [], [], [], []
    for kin in rg.BANDED:
        for (t, m), cls, depth in zip(rg.papp_points(), ((1, "superficial"), (2, "partial thickness, x"),
                                                         (3, "full thickness")), (5e-5, 7e-4, 2.2e-3)):
            contact.append(rg.ContactRow(kin.name, "Torvi-Dale", t, m, depth, 1e-7, cls))
        times += [rg.Threshold("partial thickness", kin.name, "Torvi-Dale", 1.0, 2.0, 0.01),
                  rg.Threshold("full thickness", kin.name, "Torvi-Dale", 9.0, 8.0, 0.1)]
        for water, t, printed in rg.andrews_points():
            scalds.append(rg.Threshold("deep dermal", kin.name, "Torvi-Dale", t, 0.9 * t, 0.001 * t,
                                       extra={"water_C": water, "printed": printed}))
        flash += [rg.FlashRow(kin.name, "pre-cooled (surface held at 5 °C)", 0, 0.01, 0.0101, 8.0),
                  rg.FlashRow(kin.name, "resting", 2, 70.0, 70.5, 32.5)]
        for sd in rg.STANDOFFS:
            for gas, v, value in ((350.0, 50.0, 0.4), (550.0, 90.0, 0.15)):
                jet.append(rg.Threshold("second degree", kin.name, "Torvi-Dale", 0.3, value, 0.001,
                                        extra={"standoff_d": sd, "gas_C": gas, "v": v, "cold_J_m2": 4e4,
                                               "absorbed_J_m2": 3.5e4, "integral_C_s": 80.0}))
    r = rg.Regimes(contact, times, scalds, flash, [], jet, True)
    for k, f in change.items():
        f(getattr(r, k))
    return r


def _held(r: rg.Regimes) -> dict[str, bool]:
    return {what: ok for what, _, _, ok in r.bands}


def test_bands_hold_for_a_model_that_does_what_is_claimed() -> None:
    held = _held(_fake())
    assert all(held.values()) and len(held) > 20


@pytest.mark.parametrize("spoil, failing", [
    # The hottest, fastest corner of the box no longer burns within 300 ms: the threshold misses the box.
    (dict(jet=lambda j: [setattr(t, "value", 0.31) for t in j if t.extra["gas_C"] == 550.0]), "threshold at 550 C"),
    # A scald search found nothing: not a pass by omission.
    (dict(scalds=lambda s: setattr(s[4], "value", None)), "Andrews scalds, Henriques"),
    # The damage was still growing at the end of the pre-cooled run: no degree, so no claim.
    (dict(flash=lambda f: setattr(f[0], "degree", None)), "pre-cooled: degree"),
    # Depth two classes off at 9 s.
    (dict(contact=lambda c: setattr(c[2], "predicted", (1, "superficial"))), "largest class difference"),
])
def test_bands_fail_when_a_claim_fails(spoil: dict, failing: str) -> None:
    held = _held(_fake(**spoil))
    bad = [w for w, ok in held.items() if not ok]
    assert bad and all(failing in w for w in bad), bad


def test_regime_sections_read(tmp_path: Path) -> None:
    v = _fake_validation(True)
    v.regimes = _fake()
    text = report.validation_markdown(v, report.validation_figures(v, tmp_path), "vv/run.sh")
    _tables_well_formed(text)
    section = text[text.index("## Evidence by regime"):text.index("## Numerical uncertainty")]
    for head in ("### Contact depth", "### Long hot-water", "### A flash on pre-cooled skin", "### Short hot gas"):
        assert head in section
    table = [line for line in section.split("\n\n")[2].splitlines()[2:]]
    assert len(table) == 4 and all("independent" in line.split("|")[3] for line in table)  # each says which
    assert "**deep dermal**" in section
    assert "[evidence by regime](#evidence-by-regime)" in text.split("\n\n")[2]  # quoted in the summary
    assert "*Contact depth*" in text[text.index("## Which kinetics"):]
