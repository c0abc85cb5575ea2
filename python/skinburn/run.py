"""Running trials: write, run with ``--results``, and settle automatic grids and cooling times."""
from __future__ import annotations

import math
import os
import shutil
import tempfile
from dataclasses import dataclass, field
from pathlib import Path
from typing import Optional, Union

import numpy as np

from .assess import CRITERIA, depth_reached
from .datadir import DataDirectory, copy_inputs
from .kinetics import Kinetics, damage_integral
from .program import Program
from .results import Results, depth_weights
from .skin import Skin
from .trial import MAX_NODES, MAX_STEPS, AutoCooling, AutoGrid, Grid, Trial, layout, write_trial

PathLike = Union[str, os.PathLike]
ProgramLike = Optional[Union[Program, PathLike]]

# Omega below this share of the first-degree threshold is too small to judge a grid or a cooling time by;
# Omega above this many times the highest threshold leaves the degree beyond doubt.
_RELEVANT = 0.01 * min(c.threshold for c in CRITERIA)
_BEYOND_DOUBT = 100.0 * max(c.threshold for c in CRITERIA)
_THRESHOLDS = sorted({c.threshold for c in CRITERIA})


@dataclass
class Settlement:
    """How an automatic grid and cooling time were settled.

    ``steps`` lists, for each run, what was tried and what it gave:
    ``{"deltax_m", "deltat_s", "after_s", "omega": [at the epidermis base, at the dermis base],
    "depths_m": [reached by Omega 0.53, by Omega 1]}``, with ``"growth"`` (cooling runs) or
    ``"change"`` (against the grid before). ``grid_change`` and ``cooling_growth`` are the last of each.
    """

    grid: Grid
    after_exposure_s: float
    runs: int = 0
    grid_change: Optional[float] = None
    cooling_growth: Optional[float] = None
    steps: list[dict] = field(default_factory=list)


def _workdir() -> Path:
    return Path(tempfile.mkdtemp(prefix="sb-"))


def run_directory(directory: PathLike, program: ProgramLike = None, trial: Optional[Trial] = None,
                  layout_info: object = None, cleanup: bool = False, raise_errors: bool = True) -> Results:
    """Run skinburn on a data directory as it stands; results in ``directory/results.*``.

    A run the program ends with an error raises :class:`~skinburn.program.ProgramError`
    carrying its message and status (unless ``raise_errors`` is False).
    """
    prog = Program.find(program)
    d = Path(directory)
    done = prog.run(d, d / "results")
    if raise_errors or done.document is None:
        try:
            done.raise_for_status()
        except Exception:
            if cleanup:
                shutil.rmtree(d, ignore_errors=True)
            raise
    remove = (lambda p=str(d): shutil.rmtree(p, ignore_errors=True)) if cleanup else None
    return Results(done.document, done.prefix, trial, layout_info, d, remove)


def run(subject: Union[Trial, DataDirectory, PathLike], program: ProgramLike = None,
        directory: Optional[PathLike] = None, raise_errors: bool = True) -> Results:
    """Run a trial (or a copy of a data directory) and return its results.

    A :class:`Trial` with an automatic grid or cooling time is settled first
    (:func:`settle`; ``results.settlement`` says how). Without ``directory``
    the data directory is a temporary one, removed when the results are
    garbage; with it, the directory is kept. A user's data directory is
    never run in place: its input files are copied.
    """
    prog = Program.find(program)
    cleanup = directory is None
    target = _workdir() if directory is None else Path(directory)
    if isinstance(subject, Trial):
        settlement = None
        trial = subject
        if not trial.resolved:
            trial, settlement, last = settle(trial, prog)
            if directory is None:
                shutil.rmtree(target, ignore_errors=True)
                return last
        lay = write_trial(trial, target)
        res = run_directory(target, prog, trial, lay, cleanup, raise_errors)
        res.settlement = settlement
        return res
    source = subject.path if isinstance(subject, DataDirectory) else Path(subject)
    copy_inputs(source, target)
    return run_directory(target, prog, None, None, cleanup, raise_errors)


def _criterion_omegas(res: Results, skin: Skin, kinetics: Kinetics) -> np.ndarray:
    """Running Omega (rows x 2) at the skin's epidermis and dermis bases (0 below the model)."""
    hist = res.temperature_K
    cols = []
    deepest = (res.nodes - 1) * res.deltax_m
    for depth in (skin.epidermis_base_m, skin.dermis_base_m):
        if depth > deepest:
            cols.append(np.zeros(res.rows))
            continue
        a, b, i = depth_weights(depth, res.deltax_m, res.nodes, res.conductivity_W_mK)
        col = a * np.asarray(hist[:, i], dtype=float)
        if b:
            col = col + b * np.asarray(hist[:, i + 1], dtype=float)
        cols.append(damage_integral(col, res.deltat_s, kinetics, cumulative=True))
    return np.stack(cols, axis=1)


@dataclass(frozen=True)
class _Judged:
    """What a run's burn degree rests on: Omega at the criterion depths, the depths each threshold reaches."""

    omega: tuple[float, ...]
    depths_m: tuple[Optional[float], ...]


def _judge(res: Results, kinetics: Kinetics, omega_rows: np.ndarray, rows: Optional[int] = None) -> _Judged:
    """The result after the first ``rows`` rows of the history (all by default)."""
    hist = res.temperature_K if rows is None else res.temperature_K[:rows]
    node_omega = damage_integral(hist, res.deltat_s, kinetics)
    depths = tuple(depth_reached(hist, res.deltat_s, res.deltax_m, t, kinetics, res.conductivity_W_mK,
                                 node_omega) for t in _THRESHOLDS)
    return _Judged(tuple(float(x) for x in omega_rows[(rows or len(omega_rows)) - 1]), depths)


def _change(old: _Judged, new: _Judged) -> float:
    """The largest |ln(new/old)| of the result: Omega where the degree is in doubt, and the depths.

    A threshold reached in one result and not in the other is an infinite change.
    """
    changes = [0.0]
    for a, b in zip(old.omega, new.omega):
        if max(a, b) >= _RELEVANT and min(a, b) <= _BEYOND_DOUBT:
            changes.append(abs(math.log(max(b, 1e-300) / max(a, 1e-300))))
    for a, b in zip(old.depths_m, new.depths_m):
        if (a is None) != (b is None) or (a == 0.0) != (b == 0.0):
            changes.append(math.inf)
        elif a and b:
            changes.append(abs(math.log(b / a)))
    return max(changes)


def _last_quarter(rows: int) -> int:
    """The rows of a history up to three quarters through the run."""
    return int(math.floor(0.75 * (rows - 1))) + 1


def cooling_growth(res: Results, skin: Skin, kinetics: Kinetics) -> float:
    """How much the result still changed over the last quarter of a run: the measure
    :class:`~skinburn.trial.AutoCooling` settles the time after the exposure by.

    The largest |ln(end / three quarters through)| of Omega at the skin's
    criterion depths (where the degree is in doubt: from 1 % of the lowest
    threshold to 100 times the highest) and of the depths Omega = 0.53 and 1
    reach (a threshold reached at the end and not before is an infinite
    change). Works on any run with a history (``--results``), a data
    directory's included; dimensionless, about the relative growth.
    """
    om = _criterion_omegas(res, skin, kinetics)
    return _change(_judge(res, kinetics, om, _last_quarter(res.rows)), _judge(res, kinetics, om))


def _grid_at(auto: AutoGrid, trial: Trial, level: int) -> Grid:
    return Grid(auto.spacing_m(trial.skin, level), auto.step_s(trial.exposure.duration_s, level))


def settle(trial: Trial, program: ProgramLike = None) -> tuple[Trial, Settlement, Results]:
    """Settle an automatic grid and cooling time by runs; returns the explicit trial, how, and its run.

    The cooling time is settled on the first grid, then the grid is refined
    with that cooling time (see :class:`~skinburn.trial.AutoGrid` and
    :class:`~skinburn.trial.AutoCooling`). The trial chosen is the coarser of
    the first two grids that agree; its run is returned as well.
    """
    prog = Program.find(program)
    auto_grid = trial.grid if isinstance(trial.grid, AutoGrid) else None
    auto_cool = trial.after_exposure_s if isinstance(trial.after_exposure_s, AutoCooling) else None
    grid: Grid = _grid_at(auto_grid, trial, 0) if auto_grid else trial.grid  # type: ignore[assignment]
    after = auto_cool.first_s(trial.exposure.duration_s) if auto_cool else float(trial.after_exposure_s)  # type: ignore[arg-type]
    settlement = Settlement(grid, after)

    def attempt(g: Grid, a: float) -> tuple[Results, np.ndarray, _Judged]:
        t = trial.replace("grid", g).replace("after_exposure_s", a)
        layout(t)  # the capacity check, before any run
        res = run(t, prog)
        settlement.runs += 1
        res.require_finite()
        om = _criterion_omegas(res, t.skin, t.kinetics)
        judged = _judge(res, t.kinetics, om)
        settlement.steps.append({"deltax_m": g.deltax_m, "deltat_s": g.deltat_s, "after_s": a,
                                 "omega": list(judged.omega), "depths_m": list(judged.depths_m)})
        return res, om, judged

    res, om, judged = attempt(grid, after)
    if auto_cool:
        for doubling in range(auto_cool.max_doublings + 1):
            growth = _change(_judge(res, trial.kinetics, om, _last_quarter(res.rows)), judged)
            settlement.cooling_growth = growth
            settlement.steps[-1]["growth"] = growth
            if growth <= auto_cool.tolerance:
                break
            if doubling == auto_cool.max_doublings:
                raise RuntimeError(f"the damage still grew by {growth:.2g} (relative) over the last quarter "
                                   f"of the run after {after:g} s of cooling")
            after *= 2
            res, om, judged = attempt(grid, after)
    chosen = res
    if auto_grid:
        level = 0
        while True:
            if level >= auto_grid.max_refinements:
                raise RuntimeError(f"the grid did not settle within {auto_grid.max_refinements} refinements "
                                   f"(last change {settlement.grid_change:.3g})")
            fine = _grid_at(auto_grid, trial, level + 1)
            nodes = fine.node_count(trial.skin)
            steps = math.ceil((trial.exposure.duration_s + after) / fine.deltat_s - 1e-9)
            if nodes > MAX_NODES or steps > MAX_STEPS:
                raise RuntimeError(f"refining to DELTAX {fine.deltax_m:.3g} m and DELTAT {fine.deltat_s:.3g} s "
                                   f"needs {nodes} nodes and {steps} steps, beyond the program's capacity, "
                                   f"and the last change was {settlement.grid_change:.3g}: loosen the tolerance")
            fine_res, _, fine_judged = attempt(fine, after)
            change = _change(judged, fine_judged)
            settlement.grid_change = change
            settlement.steps[-1]["change"] = change
            if change < auto_grid.tolerance:
                break
            level += 1
            res, judged = fine_res, fine_judged
        grid = _grid_at(auto_grid, trial, level)
        chosen = res
    settlement.grid = grid
    settlement.after_exposure_s = after
    explicit = trial.replace("grid", grid).replace("after_exposure_s", after)
    chosen.settlement = settlement
    return explicit, settlement, chosen
