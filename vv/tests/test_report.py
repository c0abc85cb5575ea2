"""The documents: every table well formed, every figure written, whatever the results hold."""
from __future__ import annotations

from pathlib import Path

import numpy as np
import pytest

import skinburn as sb
from vv import report
from vv import validation as va
from vv import verification as ve


def _tables_well_formed(text: str) -> None:
    lines = text.splitlines()
    for i, line in enumerate(lines):
        if line.startswith("|---"):
            width = lines[i - 1].count("|")
            j = i + 1
            while j < len(lines) and lines[j].startswith("| "):
                assert lines[j].count("|") == width, f"row {lines[j]!r} does not match {lines[i - 1]!r}"
                j += 1


def _fake_validation(with_water: bool) -> va.Validation:
    stoll = []
    for n, a in report.SETS if with_water else report.SETS[:1]:
        for k, (t, q) in enumerate(va.stoll_points()):
            p = va.Point("stoll", n, a, q, t, predicted_s=t * (1.02 if k % 2 else 0.97), extra={"after_s": 60.0})
            if k % 3 == 0:
                p.fine_s = p.predicted_s * 1.001
            stoll.append(p)
    water = []
    if with_water:
        for kin in va.KINETICS:
            for w in va.hot_water_points():
                p = va.Point("water", kin.name, 1.0, w["water_C"], w["time_s"],
                             extra={"cited": w["cited"], "confidence": w["confidence"]})
                if kin is sb.WEAVER_STOLL_1969 and w["water_C"] < 46:
                    p.note = va.NOT_REACHED.format(high=300)
                else:
                    p.predicted_s, p.fine_s = 2 * w["time_s"], 2.002 * w["time_s"]
                    p.extra["after_s"] = p.predicted_s
                water.append(p)
    return va.Validation(stoll, water, not with_water)


@pytest.mark.parametrize("with_water", [False, True])
def test_validation_document(tmp_path: Path, with_water: bool) -> None:
    v = _fake_validation(with_water)
    figs = report.validation_figures(v, tmp_path)
    text = report.validation_markdown(v, figs, "vv/run.sh")
    _tables_well_formed(text)
    for f in figs.values():
        assert (tmp_path / f).stat().st_size > 10_000
        assert f"]({f})" in text
    assert ("## Hot-water contact" in text) == with_water
    assert "none" in text if with_water else True
    assert "All " in text and "bands hold" in text
    # What the damage was counted over, and that it was counted until it stopped growing.
    assert "until it has stopped growing there" in text and "Cooling counted: 60 s on the Stoll curve" in text
    assert ("2–4.32e+04 s after hot water" in text) == with_water
    # The summary says, in the sentence of the Weaver-Stoll agreement, that it is not independent, and which are.
    summary = next(line for line in text.splitlines() if line.startswith("**Summary.**"))
    sentence = summary.split(". ")[0]
    assert "not independent" in sentence and "the independent comparisons are Henriques" in sentence


def test_verification_document(tmp_path: Path) -> None:
    v = ve.verify(ve.QUICK)
    figs = report.verification_figures(v, tmp_path)
    text = report.verification_markdown(v, figs, "vv/run.sh --quick")
    _tables_well_formed(text)
    for f in figs.values():
        assert (tmp_path / f).stat().st_size > 10_000
    for case in ("step", "flux", "convection", "slab"):
        assert f"(`{case}`)" in text
    for section in ("## Two layers", "## A flux growing in time"):
        assert section in text
    assert f"]({figs['layers_ramp']})" in text
    assert "**NO**" not in text


def test_common_nodes_are_the_coarse_grid_depths() -> None:
    fine = np.arange(101, dtype=float)  # node i at i * 10 um over 1 mm
    got = ve._common(fine, 10e-6, 40e-6, 1e-3)
    assert list(got) == [0, 4, 8, 12, 16, 20, 24, 28, 32, 36, 40, 44, 48, 52, 56, 60, 64, 68, 72, 76, 80, 84, 88,
                         92, 96, 100]


def test_the_ramp_reaches_the_program_exactly_at_every_record() -> None:
    got = ve._program_ramp(sb.HENRIQUES_1947, 0.25, None)
    assert got["history_dev_K"] < 1e-9
    assert got["omega"] == pytest.approx(got["package_on_history"], rel=1e-12)
