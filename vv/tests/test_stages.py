"""The staged search of a validation point: brackets, grids and what a failed search leaves behind.

The program is replaced by a model whose answer is known, so these run in milliseconds.
"""
from __future__ import annotations

from dataclasses import dataclass

import pytest

import skinburn as sb
from vv import validation as va


@dataclass
class _Found:
    labels: dict
    value: float
    runs: int = 5
    after_exposure_s: float = 60.0


def _fake_many(answers: dict[int, float], seen: list):
    """search_many stand-in: each point's answer is fixed; an answer outside the range fails as skinburn's would."""
    def many(jobs, processes=None, program=None):
        out = []
        for job in jobs:
            seen.append(job)
            tag = job.labels["tag"]
            x = answers[tag]
            if x < job.lo:
                out.append(sb.SearchFailure(job.labels, "no bracket: burn degree 2 (Omega 1 at 80 um) is reached at "
                                                        "both ends: ...", "BracketError"))
            elif x > job.hi:
                out.append(sb.SearchFailure(job.labels, "no bracket: burn degree 2 (Omega 1 at 80 um) is not reached "
                                                        "at both ends: ...", "BracketError"))
            else:
                out.append(_Found(job.labels, x * (1.001 if job.base.grid.deltax_m == va.FINE_DX_M else 1.0)))
        return out
    return many


def test_stages_narrow_in_and_halve_the_grid(monkeypatch: pytest.MonkeyPatch) -> None:
    pts = [va.Point("stoll", sb.WEAVER_STOLL_1969.name, 1.0, 1e4, 10.0),
           va.Point("water", sb.HENRIQUES_1947.name, 1.0, 44.0, 21600.0),
           va.Point("water", sb.WEAVER_STOLL_1969.name, 1.0, 44.0, 21600.0),
           va.Point("water", sb.PROGRAM_DEFAULT.name, 1.0, 70.0, 1.0)]
    answers = {0: 9.3, 1: 4.2 * 21600, 2: 1e12, 3: 0.001}
    seen: list = []
    monkeypatch.setattr(va.sb, "search_many", _fake_many(answers, seen))
    monkeypatch.setattr(va.sb.Program, "find", classmethod(lambda cls, p=None: None))
    va.predict(pts, {0, 1, 2, 3}, 1)
    assert pts[0].predicted_s == pytest.approx(9.3) and pts[0].uncertainty == pytest.approx(1e-3)
    assert pts[1].ratio == pytest.approx(4.2)
    assert pts[2].predicted_s is None and pts[2].note == va.NOT_REACHED.format(high=300)
    assert pts[3].predicted_s is None and pts[3].note.startswith("a burn already at 0.01 times")
    base = [j for j in seen if j.base.grid.deltax_m == va.BASE_DX_M and j.labels["tag"] == 1]
    fine = [j for j in seen if j.base.grid.deltax_m == va.FINE_DX_M and j.labels["tag"] == 1]
    assert len(base) == 1 and len(fine) == 1
    assert base[0].lo < answers[1] < base[0].hi
    assert fine[0].base.grid.deltat_s == pytest.approx(base[0].base.grid.deltat_s / 2)
    # The long exposure keeps within the program's capacity on the halved grid.
    steps = va._run_s(pts[1], fine[0].hi) / fine[0].base.grid.deltat_s
    assert steps < 29999
    # Damage is counted until it stops growing: a Stoll point's cooling starts from a minute, a hot-water
    # exposure's (hours long at 44 C) from its own length, so the last quarter of a run is after the exposure.
    assert all(j.base.after_exposure_s == sb.AutoCooling(start_s=60.0) for j in seen if j.labels["tag"] == 0)
    assert all(j.base.after_exposure_s == sb.AutoCooling() for j in seen if j.labels["tag"] != 0)
    assert va._run_s(pts[1], 21600.0) == 43200.0 and pts[1].extra["after_s"] == 60.0
    # The Stoll point keeps the base step of 0.01 s.
    assert [j.base.grid.deltat_s for j in seen if j.labels["tag"] == 0 and j.base.grid.deltax_m == va.BASE_DX_M] \
        == [va.BASE_DT_S]
