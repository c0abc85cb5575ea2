"""The routine pass's reference and bands: the extrapolation recovers a known limit, a route that
strays, raises or meets a criterion on one side only fails, and the document shows every case.

No program runs here: the grids and answers are made up so that the right verdict is known."""
from __future__ import annotations

import math

import pytest

import skinburn as sb
from skinburn.scenarios import hot_liquid
from vv import routine as ro
from vv.tests.test_report import _tables_well_formed


def _answers(degree: int | None = 2, t1: float | None = 0.16, t2: float | None = 0.17, t3: float | None = None,
             d053: float | None = 960e-6, d1: float | None = 924e-6,
             omegas: tuple = (8.5e8, 5.7e-5)) -> ro.Answers:
    return ro.Answers(degree, {1: t1, 2: t2, 3: t3}, {0.53: d053, 1.0: d1}, omegas)


@pytest.mark.parametrize("order", [1.0, 2.0, 2.5])
def test_three_grids_give_the_order_and_order_two_the_limit(order: float) -> None:
    # f(h) = 1 + 0.3 h^p on the settled grid (h = 1) and the two reference grids (h = 1/4, 1/8).
    f = {h: 1.0 + 0.3 * h ** order for h in (1.0, 0.25, 0.125)}
    assert ro.observed_order(f[1.0], f[0.25], f[0.125], 4) == pytest.approx(order, abs=1e-5)
    limit = ro.extrapolate(f[0.125], [f[0.25]])
    if order == 2.0:
        assert limit == pytest.approx(1.0, abs=1e-14)
    else:  # the wrong order leaves a remainder on the side the error lies
        assert (limit - 1.0) * (f[0.125] - 1.0) > 0 if order < 2 else (limit - 1.0) * (f[0.125] - 1.0) < 0
    # Omega in ln: 5 exp(0.2 h^2) goes to 5.
    assert ro.extrapolate(5 * math.exp(0.2 / 64), [5 * math.exp(0.2 / 16)], log=True) == pytest.approx(5.0, rel=1e-13)
    # Refined apart: 1 + a hx^2 + b ht^2 from (hx, ht) = (1/8, 1/8) with (1/4, 1/8) and (1/8, 1/4).
    g = lambda hx, ht: 1.0 + 0.3 * hx ** 2 - 0.7 * ht ** 2  # noqa: E731
    assert ro.extrapolate(g(0.125, 0.125), [g(0.25, 0.125), g(0.125, 0.25)]) == pytest.approx(1.0, abs=1e-14)
    # No order from differences that do not fall steadily, or with the settled grid as the coarser reference.
    assert ro.observed_order(1.0, 1.1, 1.05, 4) is None
    assert ro.observed_order(f[1.0], f[0.25], f[0.125], 1) is None
    assert ro.extrapolate(1.0, [None]) is None and ro.extrapolate(2.0, [0.0], log=True) == 2.0


def test_bands_hold_within_and_fail_outside() -> None:
    ref = _answers()
    case = ro.Case("contact x", "contact", hot_liquid())

    def outcome(route: ro.Answers) -> ro.Outcome:
        r = ro.Reference(ro.Plan(((3, 3), (2, 2)), 10.0), [sb.Grid(5e-7, 5e-4), sb.Grid(1e-6, 1e-3)], [ref, ref], ref)
        return ro.Outcome(case, route, reference=r)

    assert outcome(_answers(t1=0.16 * 1.009, d1=924e-6 * 0.981)).held
    failed = {w.split(": ")[1] for w, _, _, ok in outcome(_answers(t2=0.17 * 1.011)).bands if not ok}
    assert failed == {"criterion times, largest relative difference"}
    failed = {w.split(": ")[1] for w, _, _, ok in outcome(_answers(d053=960e-6 * 1.021)).bands if not ok}
    assert failed == {"depths of Omega 0.53 and 1, largest relative difference"}
    # A criterion met on one side only, a depth reached on one side only, another degree or none.
    assert outcome(_answers(t3=12.0)).differences()["time 3"] == math.inf
    assert not outcome(_answers(d1=None)).held
    failed = [w for w, _, _, ok in outcome(_answers(degree=None)).bands if not ok]
    assert failed == ["routine contact x: degree differs"]
    # Not met on both sides agrees.
    assert outcome(_answers()).differences()["time 3"] == 0.0
    raised = ro.Outcome(case, raised="GridNotSettled: the grid did not settle within the program's capacity")
    assert not raised.held and "raised GridNotSettled" in raised.bands[0][0]
    assert not ro.Outcome(case, _answers(), no_reference="beyond its capacity").held


def test_reference_degree_and_disagreeing_grids() -> None:
    settled = _answers()
    # Omega at the epidermis base 0.95 and 0.99 on the two grids: extrapolated past 1, so second degree.
    coarse = _answers(degree=1, t2=None, omegas=(0.95, 1e-6))
    fine = _answers(degree=1, t2=None, omegas=(0.99, 1e-6))
    got, error, orders, notes = ro.reference_answers(settled, [fine, coarse], 4)
    assert got.omegas[0] == pytest.approx(0.99 * (0.99 / 0.95) ** (1 / 3))
    assert got.degree == 2 and any("degree 2" in n for n in notes)
    assert got.times_s[2] is None and got.times_s[3] is None
    # Met on the finest grid only: the finest's value, said so.
    got, error, _, notes = ro.reference_answers(settled, [_answers(t3=40.0), _answers(t3=None)])
    assert got.times_s[3] == 40.0 and any("time 3" in n for n in notes)
    assert error["time 1"] == 0.0
    # The damage still grew at the end of the finest run: no degree.
    got, *_, notes = ro.reference_answers(settled, [_answers(degree=None), _answers()])
    assert got.degree is None and notes
    # Shorter runs on finer steps give the times they meet; the whole runs the one met later.
    whole = [_answers(t1=0.20, t3=30.0), _answers(t1=0.24, t3=31.0)]
    short = [_answers(t1=0.162, t3=None), _answers(t1=0.166, t3=None)]
    got, error, *_ = ro.reference_answers(settled, whole, time_runs=short)
    assert got.times_s[1] == pytest.approx(0.162 - 0.004 / 3) and got.times_s[3] == pytest.approx(30.0 - 1 / 3)
    assert error["time 1"] == pytest.approx((0.004 / 3) / got.times_s[1])


def test_reference_grids_stay_within_the_capacity() -> None:
    auto = sb.AutoGrid()
    trial = hot_liquid(sb.celsius(60.0), 10.0)  # Torvi-Dale skin: 12.08 mm
    skin = trial.skin

    def grids(levels: tuple[int, int], run_s: float) -> tuple[ro.Plan, list[sb.Grid]]:
        s = sb.Settlement(auto.grid(skin, 10.0, *levels), run_s - 10.0, levels=levels)
        p = ro.plan(trial, s, run_s)
        return p, [ro.grid_at(trial, s, o) for o in p.offsets] if p else []

    # A short run: 4x and 8x in both; the epidermis base halfway between two nodes on every grid.
    p, (g2, g1) = grids((1, 2), 20.0)
    assert p.diagonal and p.refine == (8, 8)
    assert g1 == auto.grid(skin, 10.0, 3, 4) and g2 == auto.grid(skin, 10.0, 4, 5)
    assert all((skin.epidermis_base_m / g.deltax_m) % 1 == pytest.approx(0.5) for g in (g1, g2))
    # A long cooling (5120 steps settled) leaves room for 2x and 4x in time; a fine spacing (9500 nodes)
    # for 1x and 2x in space.
    p, gs = grids((5, 2), 1280.0)
    assert p.diagonal and p.refine == (2, 4)
    assert math.ceil(1280.0 / gs[0].deltat_s) <= 29999 < 2 * math.ceil(1280.0 / gs[0].deltat_s)
    assert gs[0].node_count(skin) <= 30000 < auto.grid(skin, 10.0, 7, 2).node_count(skin)
    # No finer step fits: space refined apart, time from the settled step and twice it.
    p, gs = grids((1, 4), 1280.0)  # 20480 steps settled
    assert not p.diagonal and p.offsets == ((3, 0), (2, 0), (3, -1))
    assert gs[2].deltat_s == pytest.approx(2 * gs[0].deltat_s)
    assert grids((6, 4), 1280.0)[0] is None  # neither fits
    with pytest.raises(ValueError, match="not the automatic grid"):
        ro.plan(trial, sb.Settlement(auto.grid(skin, 10.0, 1, 1), 10.0, levels=(1, 2)), 20.0)


def test_the_matrix_takes_the_default_route() -> None:
    for quick in (False, True):
        cs = ro.cases(quick)
        assert len({c.key for c in cs}) == len(cs)
        assert all(isinstance(c.trial.grid, sb.AutoGrid) and isinstance(c.trial.after_exposure_s, sb.AutoCooling)
                   for c in cs)
        assert any(c.key.startswith("flash fire 84 kW/m2 4 s") for c in cs)
    full = ro.cases()
    assert len(full) == 32


SPREAD_OUTPUT = """\
skin                         absorptivity  kinetics           degree  Omega epidermis base
Torvi-Dale 1994              -             skinburn default   0       0.000418
Torvi-Dale 1994              -             Henriques 1947     1       0.774
uniform (Torvi-Dale dermis)  -             Weaver-Stoll 1969  2       2
"""


def test_the_command_lines_table_is_counted() -> None:
    assert ro.table_rows(SPREAD_OUTPUT) == 3
    assert ro.table_rows("Traceback (most recent call last):\n  ...\n") == 0
    cl = ro.CommandLine(["python3"], 0, 3, SPREAD_OUTPUT, "", 1.0)
    assert [ok for *_, ok in cl.bands] == [True, False]


def test_document_shows_every_case(tmp_path) -> None:
    ref = _answers()
    case = lambda key: ro.Case(key, "contact", hot_liquid())  # noqa: E731
    settled = sb.Settlement(sb.Grid(2.3e-5, 0.0156, time_scheme="bdf2"), 5.0, runs=15, levels=(1, 5))
    grids = [sb.Grid(2.5e-6, 2e-3), sb.Grid(5e-6, 4e-3)]
    good = ro.Outcome(case("good"), _answers(t1=0.161), settled,
                      reference=ro.Reference(ro.Plan(((3, 3), (2, 2)), 10.0), grids, [ref, ref], ref,
                                             error={"time 1": 1e-4}, orders={"time 1": 2.1, "depth 1": None}))
    bad = ro.Outcome(case("bad"), _answers(t2=0.2), settled,
                     reference=ro.Reference(ro.Plan(((3, 0), (2, 0), (3, -1)), 10.0), grids + grids[:1], [ref] * 3,
                                            ref, notes=["refined apart"]))
    raised = ro.Outcome(case("raised"), raised="GridNotSettled: the grid did not settle | within 29999 steps")
    lost = ro.Outcome(case("lost"), _answers(), settled, no_reference="beyond the program's 30000 nodes")
    r = ro.Routine([good, bad, raised, lost], ro.CommandLine(["python3", "-m", "skinburn"], 0, 6, SPREAD_OUTPUT,
                                                            "", 6.0), False, 600.0, 2)
    text = ro.markdown(r, "vv/run.sh --only routine")
    _tables_well_formed(text)
    assert "1 of 4 cases agree" in text and "3 do not (1 of them because the default route raised)" in text
    cases = text.split("## Cases")[1].split("## References")[0]
    rows = {line.split(" | ")[0][2:]: line for line in cases.splitlines() if line.startswith("| ")}
    assert rows["good"].endswith("| yes |") and rows["bad"].endswith("| **NO** |")
    assert "raised `GridNotSettled`: the grid did not settle / within 29999 steps" in rows["raised"]
    assert "no reference" in rows["lost"]
    assert "**17.65%**" in rows["bad"]  # 0.2 against 0.17, out of its band
    assert SPREAD_OUTPUT.splitlines()[1] in text
    refs = text.split("## References")[1].split("## Bands")[0]
    assert "4x and 8x in space, 4x and 8x in time" in refs and "0.5x and 1x in time, each refined apart" in refs
    assert "2.10 (time 1)" in refs
