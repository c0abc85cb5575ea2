"""Automatic grids and cooling times, settled by runs."""
import numpy as np
import pytest

import skinburn as sb
from skinburn.kinetics import damage_integral
from skinburn.run import cooling_growth, settle
from skinburn.scenarios import flash_fire


def test_every_refinement_keeps_the_epidermis_base_halfway_between_nodes():
    auto = sb.AutoGrid()
    spacings = [auto.spacing_m(sb.TORVI_DALE_1994, level) for level in range(6)]
    for dx in spacings:
        assert (80e-6 / dx - 0.5) == pytest.approx(round(80e-6 / dx - 0.5), abs=1e-9)
    ratios = np.array(spacings[:-1]) / np.array(spacings[1:])
    m = 2 * 2 ** np.arange(5)  # spacings above the base at each level
    assert ratios == pytest.approx(2 + 1 / (2 * m - 1), rel=1e-12)
    assert auto.step_s(4.0, 3) == pytest.approx(4.0 / 80)


def test_grid_is_the_coarser_of_the_first_pair_that_agrees(program):
    tol = 0.05
    trial = flash_fire(20e3, 3.5).replace("grid", sb.AutoGrid(tolerance=tol)).replace("after_exposure_s", 4.0)
    explicit, how, res = settle(trial, program)
    changes = [s["change"] for s in how.steps[1:]]
    assert changes[-1] < tol and all(c >= tol for c in changes[:-1])
    assert how.runs == len(how.steps)
    chosen = how.steps[-2]
    assert explicit.grid == sb.Grid(chosen["deltax_m"], chosen["deltat_s"]) == res.trial.grid
    assert res.omega_at_depth(80e-6, sb.WEAVER_STOLL_1969) == pytest.approx(chosen["omega"][0], rel=1e-12)


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
    with pytest.raises(RuntimeError, match="capacity"):
        settle(trial, program)
