"""Automatic grids and cooling times, settled by runs."""
import dataclasses
import re

import numpy as np
import pytest

import skinburn as sb
from skinburn.kinetics import damage_integral
from skinburn.runs import cooling_growth, settle
from skinburn.scenarios import flash_fire, hot_liquid


def test_every_refinement_keeps_the_epidermis_base_halfway_between_nodes():
    auto = sb.AutoGrid()
    spacings = [auto.spacing_m(sb.TORVI_DALE_1994, level) for level in range(6)]
    for dx in spacings:
        assert (80e-6 / dx - 0.5) == pytest.approx(round(80e-6 / dx - 0.5), abs=1e-9)
    ratios = np.array(spacings[:-1]) / np.array(spacings[1:])
    m = 2 * 2 ** np.arange(5)  # spacings above the base at each level
    assert ratios == pytest.approx(2 + 1 / (2 * m - 1), rel=1e-12)
    assert auto.step_s(4.0, 3) == pytest.approx(4.0 / 80)


def test_answers_by_a_boundary_off_halfway_take_order_one_in_space():
    # The dermis base of the Torvi-Dale skin falls on a node on every automatic spacing, so the model
    # puts the subcutaneous layer half a spacing deep: an error in proportion to the spacing.
    from skinburn.assessment import _Judged
    from skinburn.runs import _first_order_in_space

    auto = sb.AutoGrid()
    grids = tuple(auto.grid(sb.TORVI_DALE_1994, 10.0, level, 0) for level in (1, 2))
    judged = (_Judged((1.0, 1.0), (0.5e-3, 2.1e-3)), _Judged((1.0, 1.0), (0.5e-3, 2.1e-3)))
    trial = hot_liquid(sb.celsius(99.0), 10.0)
    assert _first_order_in_space(trial, grids, judged) == {"time 3": 1.0, "omega 2": 1.0, "depth 1": 1.0}
    uniform = dataclasses.replace(trial, skin=sb.skin_preset("uniform"))
    assert _first_order_in_space(uniform, grids, judged) == {}


def test_space_and_time_are_refined_apart_and_the_stated_error_covers_the_true_one(program):
    trial = flash_fire(20e3, 3.5).replace("after_exposure_s", 4.0)  # the default AutoGrid: BDF2, 1 %
    explicit, how, res = settle(trial, program)
    assert how.runs == len(how.steps)
    # The first grid is refined once each way; then one run at a time refines the grid at hand, and
    # only a grid whose answers were not yet within the tolerance is refined further.
    assert [s.get("refines") for s in how.steps[:3]] == [None, "space", "time"]
    walk = [s for s in how.steps[1:] if "change" in s]
    for s in walk[:-1]:
        assert max(s["change"].values()) > 1.0
    assert max(walk[-1]["change"].values()) <= 1.0 and walk[-1] is how.steps[-1]
    assert how.levels[0] != how.levels[1]  # the step needed more refining than the spacing
    # The grid chosen is the last one run, the finest.
    assert explicit.grid == res.trial.grid == sb.Grid(how.steps[-1]["deltax_m"], how.steps[-1]["deltat_s"],
                                                      time_scheme="bdf2")
    # Against a fine fixed grid, each answer lies within twice its stated uncertainty (an estimate from
    # one refinement each way, not a bound; with a little for the fine grid's own error), and the
    # verdict states it.
    fine = sb.run(trial.replace("grid", sb.Grid(80e-6 / 15.5, 0.0025, time_scheme="bdf2")), program)
    a, ref = sb.assess(res), sb.assess(fine)
    assert a.degree == ref.degree == 2
    for t in (0.53, 1.0):
        assert abs(a.depth_reached_m[t] - ref.depth_reached_m[t]) <= 2 * how.uncertainty[f"depth {t:g}"] + 1e-7
    for d in (1, 2):
        assert abs(a.criterion_times_s[d] - ref.criterion_times_s[d]) <= 2 * how.uncertainty[f"time {d}"] + 1e-3
    assert a.uncertainty == how.uncertainty
    assert re.search(r"second degree at 4\.3\d* s ± [0-9.e-]+ s", a.verdict()) and "Numerical uncertainty" in a.verdict()
    assert sb.assess(res, kinetics=sb.HENRIQUES_1947).uncertainty == {}  # settled under another model


def test_cooling_goes_on_until_the_damage_stops_growing(program):
    tol = 1e-3
    trial = flash_fire(20e3, 4.0, kinetics=sb.HENRIQUES_1947).replace("grid", sb.Grid(80e-6 / 3.5, 0.05)) \
        .replace("after_exposure_s", sb.AutoCooling(tolerance=tol, start_s=0.5))
    explicit, how, res = settle(trial, program)
    afters = [s["after_s"] for s in how.steps]
    assert afters == [0.5 * 2 ** k for k in range(len(afters))] and len(afters) > 1
    assert how.steps[-1]["growth"] <= tol < how.steps[-2]["growth"]
    # Checked independently on the run returned: Omega at the epidermis base
    # grew by at most tol over the last quarter.
    omega = damage_integral(res.temperature_at_depth(80e-6), res.deltat_s, sb.HENRIQUES_1947, cumulative=True)
    quarter = int(0.75 * (len(omega) - 1))
    assert (omega[-1] - omega[quarter]) / omega[-1] <= tol
    assert explicit.after_exposure_s == afters[-1]
    # The measure is the package's one for any run (the study tool settles data directories by it).
    assert cooling_growth(res, trial.skin, trial.kinetics) == how.steps[-1]["growth"]


def test_a_tolerance_beyond_the_programs_capacity_is_refused(program):
    skin = sb.Skin.uniform(0.5, 1000.0, 3600.0, 1e-3, epidermis_base_m=80e-6, dermis_base_m=0.5e-3)
    trial = sb.Trial(skin, sb.InitialProfile.uniform(sb.celsius(37)), sb.HeatFlux(3e6, 0.01),
                     grid=sb.AutoGrid(tolerance=1e-12), after_exposure_s=10.0, kinetics=sb.HENRIQUES_1947)
    with pytest.raises(sb.GridNotSettled, match="capacity"):
        settle(trial, program)


def test_a_cooling_that_never_settles_says_what_to_change(program):
    # The surface held at 60 C after the contact: the damage never stops growing. Where the next
    # doubling no longer fits the program (4096 s on a 50 ms step in three runs of it, 8192 s would
    # need more than four), more doublings are no cure and the capacity is named, even on the last
    # doubling allowed; within it, the doublings are.
    t = sb.Trial(sb.TORVI_DALE_1994, sb.InitialProfile.uniform(sb.celsius(37)),
                 sb.SurfaceTemperature(sb.celsius(70), 1.0, after=sb.celsius(60)),
                 grid=sb.Grid(1e-4, 0.05), kinetics=sb.HENRIQUES_1947)
    with pytest.raises(sb.CoolingNotSettled, match=r"capacity: 8192 s of cooling .*more than 4 runs.* "
                                                   r"after 4096 s; give"):
        settle(t.replace("after_exposure_s", sb.AutoCooling(start_s=1.0, max_doublings=12)), program)
    with pytest.raises(sb.CoolingNotSettled, match=r"after 4 s of cooling \(2 doublings\); raise AutoCooling"):
        settle(t.replace("after_exposure_s", sb.AutoCooling(start_s=1.0, max_doublings=2)), program)


def test_criterion_times_beyond_the_capacity_over_the_whole_cooling_are_settled_on_shorter_runs(program, monkeypatch):
    # 150 kW/m2 for 2 s: the first criteria are met within 0.27 s, which a step of 0.1 s cannot tell;
    # 2000 s of cooling on the 25 ms step they need would be 80 000 steps, more than one run of the
    # program holds (the runs are held to one here).
    import skinburn.writer as writer

    monkeypatch.setattr(writer, "MAX_LEGS", 1)
    trial = flash_fire(150e3, 2.0).replace("after_exposure_s", 2000.0)
    explicit, how, res = settle(trial, program)
    assert explicit.grid.deltat_s == pytest.approx(0.1) and how.times_deltat_s < explicit.grid.deltat_s / 2
    a = sb.assess(res)
    # The times stated are the shorter runs' (the march up to then is the whole run's), with their error.
    short = [s for s in how.steps if s["after_s"] < 2000.0]
    assert short and short[-1]["deltat_s"] == how.times_deltat_s
    rerun = sb.run(trial.replace("grid", sb.Grid(explicit.grid.deltax_m, how.times_deltat_s, time_scheme="bdf2"))
                   .replace("after_exposure_s", short[-1]["after_s"]), program)
    assert a.criterion_times_s == rerun.criterion_times(trial.skin, trial.kinetics) == how.criterion_times_s
    for d in (1, 2, 3):
        assert how.uncertainty[f"time {d}"] <= 0.01 * a.criterion_times_s[d]
    assert "the criterion times on DELTAT 25 ms" in a.verdict()


def test_criterion_times_met_early_in_a_long_contact_are_settled_on_runs_of_their_own(program):
    """Water at 100 C for 10 minutes: the first degree is met at 0.16 s, which the whole runs' step
    (ten refinements from a minute) cannot tell. Each time is settled on runs of its own that end soon
    after it is met; the march up to then is that of the same water for one minute, whose route
    settles its times on its whole runs: the two agree to within their stated errors."""
    from skinburn.scenarios import hot_liquid

    long = sb.run(hot_liquid(sb.celsius(100), 600.0), program)
    short = sb.run(hot_liquid(sb.celsius(100), 60.0), program)
    a, b = sb.assess(long), sb.assess(short)
    assert long.settlement.times_deltat_by_degree and short.settlement.times_deltat_by_degree is None
    assert set(long.settlement.times_deltat_by_degree) == {1, 2, 3} and a.degree == b.degree == 3
    for d in (1, 2, 3):
        allowed = a.uncertainty[f"time {d}"] + b.uncertainty[f"time {d}"]
        assert abs(a.criterion_times_s[d] - b.criterion_times_s[d]) <= allowed <= 0.01 * b.criterion_times_s[d]
    assert "each criterion time by runs of its own that end soon after it is met" in a.verdict()
