"""Running trials: write, run with ``--results``, settle automatic grids and cooling times, and carry
a data directory's run on past its end while its damage still grows (:func:`run_on`).

Holds :func:`run`, :func:`run_directory`, :func:`settle` and
:class:`Settlement`, :func:`run_on` and :class:`RunOnRecord` (and gives
:func:`~skinburn.assessment.cooling_growth` under its old address). Uses
:mod:`skinburn.trial` to write trials, :mod:`skinburn.program` to run them,
:mod:`skinburn.results`, :mod:`skinburn.assessment` for the growth measure,
:mod:`skinburn.datadir` and :mod:`skinburn.tables` to copy and carry on
data directories.
"""
from __future__ import annotations

import dataclasses
import math
import os
import shutil
import tempfile
import weakref
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, Optional, Union

import numpy as np

from .assessment import (_change, _criterion_omegas, _differences, _judge, _Judged, _last_quarter, _ORDINALS,
                         _richardson, _THRESHOLDS, _unsettled, cooling_growth)
from .criteria import CRITERIA, KineticsByDegree, KineticsLike, resolved
from .datadir import DataDirectory, copy_inputs, write_whole
from .exposure import Flame, Series, after_phase
from .garment import Clothed, FabricMarch, GarmentError, march
from .kinetics import Kinetics
from .program import Program, exclusive
from .results import JoinedResults, Results
from .skin import Skin
from .tables import PhaseRefused, RunOn, phase_edits
from .trial import MAX_NODES, MAX_STEPS, AutoCooling, AutoGrid, Grid, Trial
from .writer import MAX_LEGS, layout, legs, write_trial
from .units import SkinburnError, kelvin

PathLike = Union[str, os.PathLike]
ProgramLike = Optional[Union[Program, PathLike]]

@dataclass
class Settlement:
    """How an automatic grid and cooling time were settled.

    ``steps`` lists, for each run, what was tried and what it gave:
    ``{"deltax_m", "deltat_s", "after_s", "omega": [at the epidermis base, at the dermis base],
    "depths_m": [reached by Omega 0.53, by Omega 1]}``, with ``"growth"`` (cooling runs) or
    ``"refines"`` (``space`` or ``time``: the run refines the grid at hand in that dimension) and
    ``"change"`` (each answer's error estimated from that refinement against the error it may have, 1
    allowed). ``grid_change`` is the largest estimated error of the grid chosen (relative; the
    tolerance allows ``AutoGrid.tolerance``) and ``cooling_growth`` the last growth; ``levels`` the
    refinement levels (space, time) of the grid chosen (0: the first grid's), ``level`` the larger.
    ``uncertainty`` is the estimated numerical error of each answer on the grid chosen, space and time
    added: ``depth 0.53``, ``depth 1`` (m), ``time 1`` ... ``time 3`` (s) and ``omega 1``, ``omega 2``
    (of ln Omega at the epidermis and dermis bases); empty for a grid that was given.
    A trial with a model per degree is settled under each model on its own and run on the finest
    levels, space and time apart, and the longest cooling time of any (so the grid chosen is never
    coarser than any model's): ``by_kinetics`` holds each model's own settlement, whose
    ``uncertainty`` is that model's answers' (estimated on the grid it settled at, never finer than
    the one chosen); here ``uncertainty`` is empty, ``grid_change`` and ``cooling_growth`` the
    largest of any model, ``steps`` every model's runs in turn and ``runs`` counts all.
    ``criterion_times_s`` holds criterion times settled on shorter runs than the whole, when they
    were (a time met early in a long run): on one step, ``times_deltat_s``, or each on runs of its own,
    ``times_deltat_by_degree`` (degree -> step, s; ``times_deltat_s`` the coarsest).
    """

    grid: Grid
    after_exposure_s: float
    runs: int = 0
    grid_change: Optional[float] = None
    cooling_growth: Optional[float] = None
    steps: list[dict] = field(default_factory=list)
    level: int = 0
    levels: tuple[int, int] = (0, 0)
    uncertainty: dict[str, float] = field(default_factory=dict)
    criterion_times_s: Optional[dict[int, Optional[float]]] = None
    times_deltat_s: Optional[float] = None
    times_deltat_by_degree: Optional[dict[int, float]] = None
    by_kinetics: tuple[tuple[Kinetics, "Settlement"], ...] = ()


class NotSettled(SkinburnError, RuntimeError):
    """An automatic grid or cooling time could not be settled within the program's capacity.

    The message says what did not settle, how far it got and what to change;
    ``settlement`` holds every run tried.
    """

    def __init__(self, message: str, settlement: "Settlement") -> None:
        super().__init__(message)
        self.settlement = settlement


class GridNotSettled(NotSettled):
    """The automatic grid did not reach its tolerance (refinements or the program's capacity ran out)."""


class CoolingNotSettled(NotSettled):
    """The damage still grew after the longest cooling time tried."""


#: Bytes: a run whose history holds at most this is made in a work directory in memory when there is room.
SMALL_RUN_BYTES = 4 << 20
#: Where the work directories of small runs go: memory (tmpfs) on Linux.
MEMORY_DIRECTORY = "/dev/shm"


def _workdir(history_bytes: Optional[int] = None) -> Path:
    """A temporary work directory for one run. A run whose history is known to hold at most
    :data:`SMALL_RUN_BYTES` (``history_bytes``) is made in memory (:data:`MEMORY_DIRECTORY`), where
    creating and removing its few files costs a fraction of what it does on a disk, when that has
    room for it four times over and more, and ``TMPDIR`` does not name the place; any other run in
    the system's temporary directory."""
    if history_bytes is not None and history_bytes <= SMALL_RUN_BYTES and "TMPDIR" not in os.environ:
        try:
            room = os.statvfs(MEMORY_DIRECTORY)
            if room.f_bavail * room.f_frsize >= 4 * history_bytes + SMALL_RUN_BYTES:
                return Path(tempfile.mkdtemp(prefix="sb-", dir=MEMORY_DIRECTORY))
        except OSError:
            pass  # no such place, or not ours to write: the system's
    return Path(tempfile.mkdtemp(prefix="sb-"))


def _history_bytes(trial: Trial) -> int:
    """Bytes of the history one run of a resolved ``trial`` writes (one leg's at most)."""
    nodes, steps, _, _ = layout(trial, whole=False)
    return (min(steps, MAX_STEPS) + 1) * nodes * 8


def run_directory(directory: PathLike, program: ProgramLike = None, trial: Optional[Trial] = None,
                  layout_info: object = None, cleanup: bool = False, raise_errors: bool = True,
                  time_scheme: Optional[str] = None, settlement: Optional["Settlement"] = None,
                  perfusion: Optional[bool] = None, march_only: bool = False) -> Results:
    """Run skinburn on a data directory as it stands; results in ``directory/results.*``.

    ``time_scheme`` is the program's ``--time-scheme`` (None: its own,
    backward Euler); a trial's grid gives its own. ``settlement`` is how the
    trial's automatic grid was settled, when it was. ``perfusion`` passes
    ``--perfusion`` (None: when the trial's skin is perfused). ``march_only``
    passes ``--march-only`` (no burn evaluated by the program) and ``--results-brief`` (no
    arrays by node or by step in the results document: what is read of them comes from the history).

    A run the program ends with an error raises :class:`~skinburn.program.ProgramError`
    carrying its message and status (unless ``raise_errors`` is False).
    """
    prog = Program.find(program)
    d = Path(directory)
    if trial is not None and isinstance(trial.grid, Grid):
        time_scheme = trial.grid.time_scheme
    if perfusion is None:
        perfusion = trial is not None and trial.skin.perfused
    done = prog.run(d, d / "results", time_scheme=time_scheme, perfusion=perfusion, march_only=march_only,
                    brief=march_only)
    if raise_errors or done.document is None:
        try:
            done.raise_for_status()
        except Exception:
            if cleanup:
                shutil.rmtree(d, ignore_errors=True)
            raise
    remove = (lambda p=str(d): shutil.rmtree(p, ignore_errors=True)) if cleanup else None
    assert done.document is not None, "raise_for_status raised without one"
    return Results(done.document, done.prefix, trial, layout_info, d, remove, settlement=settlement)


def run(subject: Union[Trial, DataDirectory, PathLike], program: ProgramLike = None,
        directory: Optional[PathLike] = None, raise_errors: bool = True,
        time_scheme: Optional[str] = None, *, march_only: bool = False) -> Results:
    """Run a trial (or a copy of a data directory) and return its results.

    A trial runs with its grid's time scheme (BDF2 unless it says
    otherwise); a data directory with the program's own, backward Euler,
    unless ``time_scheme`` (``"bdf2"``, ``"backward-euler"``) is given.

    A :class:`Trial` with an automatic grid or cooling time is settled first
    (:func:`settle`; ``results.settlement`` says how). Without ``directory``
    the data directory is a temporary one, removed when the results are
    garbage; with it, the directory is kept. A user's data directory is
    never run in place: its input files are copied (into a kept
    ``directory``: each replaces its namesake, ``OUTPUT.TXT`` stays and
    the run appends to it, and a stray input file there is refused).
    A kept ``directory`` is this run's alone while it runs: another
    :func:`run` (or study) on it at the same time raises
    :class:`~skinburn.program.DirectoryInUse`, and the history returned is
    mapped before the directory is let go, so a later run there cannot
    change it.

    ``march_only`` runs the program with ``--march-only`` and without its
    report (no ``OUTPUT.TXT``): the same history, without the program's
    own burn evaluation (its Omega and burn depth; ``results.outcome`` is
    ``march-only``), for runs that only the package's integration of the
    history judges (a search's): about half the program's time on a short
    run. Their results document is brief (``--results-brief``): the nodes'
    peaks come from the history, and the faces' record (:meth:`Results.face`)
    is not kept. A data directory runs as it is, whatever ``march_only``.

    A trial whose run needs more steps than the program holds is made in
    several runs of it on one grid (:func:`~skinburn.writer.legs`), each
    from the temperatures the one before ended with; its results are a
    :class:`~skinburn.results.JoinedResults`.
    """
    if directory is None:
        return _run(subject, program, None, raise_errors, time_scheme, march_only)
    with exclusive(directory):
        res = _run(subject, program, directory, raise_errors, time_scheme, march_only)
        if res.rows:
            res.temperature_K  # mapped now: this run's history, whatever runs there next
        return res


def _run(subject: Union[Trial, DataDirectory, PathLike], program: ProgramLike,
         directory: Optional[PathLike], raise_errors: bool, time_scheme: Optional[str],
         march_only: bool = False) -> Results:
    """:func:`run`, without the lock on a kept directory."""
    prog = Program.find(program)
    if isinstance(subject, Trial) and subject.resolved:
        steps = legs(subject)
        if len(steps) > 1:
            return _run_legs(subject, prog, steps, directory, raise_errors)
    if isinstance(subject, Trial) and subject.resolved and isinstance(subject.exposure, _LINEARIZED):
        # Each run of a flame (or a garment) writes a directory of its own (the kept one, when given).
        return _flame_run(subject, prog, None if directory is None else Path(directory), raise_errors, None,
                          march_only)
    cleanup = directory is None
    if isinstance(subject, Trial):
        settlement = None
        trial = subject
        if not trial.resolved:
            with prog.resident() as resident:  # the settling runs, without a process each
                trial, settlement, last = settle(trial, resident, march_only=march_only)
            if directory is None:
                return last
            if isinstance(trial.exposure, _LINEARIZED):  # the settled flame, again in the kept directory
                return _flame_run(trial, prog, Path(directory), raise_errors, settlement, march_only)
        target = _workdir(_history_bytes(trial)) if directory is None else Path(directory)
        lay = write_trial(trial, target, report=not march_only)
        return run_directory(target, prog, trial, lay, cleanup, raise_errors, settlement=settlement,
                             march_only=march_only)
    source = subject.path if isinstance(subject, DataDirectory) else Path(subject)
    target = _workdir() if directory is None else Path(directory)
    copy_inputs(source, target, keep=directory is not None)
    return run_directory(target, prog, None, None, cleanup, raise_errors, time_scheme)


def _run_legs(trial: Trial, prog: Program, steps: tuple[int, ...], directory: Optional[PathLike],
              raise_errors: bool) -> Results:
    """A resolved trial whose run needs more steps than the program holds, made in runs of ``steps``
    steps each (:func:`~skinburn.writer.legs`): the first is the trial cut short (in ``directory``
    when given), each later one starts from the temperatures the one before ended with, with the face
    as it is after the exposure. Every leg runs march-only (the program's own burn evaluation would
    cover its leg alone); the results join their histories (:class:`~skinburn.results.JoinedResults`).
    A leg that stops, or ends with temperatures that are not physical, is returned (or raised) as it is."""
    grid = trial.grid
    assert isinstance(grid, Grid), "a resolved trial"
    dt = grid.deltat_s
    lead = trial.replace("after_exposure_s", steps[0] * dt - trial.exposure.duration_s)
    res = _run(lead, prog, directory, raise_errors, None, True)
    done = [res]
    for before, n in zip(steps, steps[1:]):
        if res.status != 0 or res.rows != before + 1:
            return res
        res.require_finite()
        phase = after_phase(trial.exposure, trial.initial, n * dt)
        assert phase is not None, "legs() refuses a face that goes on changing"
        leg = dataclasses.replace(trial, exposure=phase, after_exposure_s=0.0)
        target = _workdir(_history_bytes(leg))
        lay = write_trial(leg, target, report=False, start_K=np.asarray(res.temperature_K[-1], dtype=float))
        res = run_directory(target, prog, leg, lay, True, raise_errors, march_only=True)
        done.append(res)
    if res.status != 0 or not res.rows:
        return res
    return JoinedResults(done, trial)


#: K: a flame's (or a garment's) skin surface temperature has settled when two runs in a row differ by no
#: more than this.
FLAME_TOLERANCE_K = 1e-3
#: Runs of a flame (or a garment) before it is given up on.
_FLAME_RUNS = 12


class FlameNotSettled(SkinburnError, RuntimeError):
    """A flame's surface temperature kept changing from run to run (:func:`_flame_run`)."""


class GarmentNotSettled(SkinburnError, RuntimeError):
    """The skin's surface temperature under a garment kept changing from run to run (:func:`_flame_run`)."""


#: The exposures whose face is linearized about the surface temperature of the run before.
_LINEARIZED = (Flame, Clothed)


def _flame_run(trial: Trial, prog: Program, directory: Optional[Path], raise_errors: bool,
               settlement: Optional["Settlement"], march_only: bool = False) -> Results:
    """A trial whose exposure is a :class:`~skinburn.exposure.Flame` or a
    :class:`~skinburn.garment.Clothed`: run with its face linearized about the surface temperature of
    the run before (the surroundings', or the skin's initial one, at first), again until two runs in a
    row agree to ``FLAME_TOLERANCE_K`` (over the exposure for a flame; over the whole run for a garment,
    whose fabric goes on heating the skin after it); the last run's results (its trial holds the surface
    temperature it was linearized about)."""
    face = trial.exposure
    assert isinstance(face, _LINEARIZED), "called for a flame or a garment"
    previous: Optional[np.ndarray] = None
    change = math.inf
    for _ in range(_FLAME_RUNS):
        target = _workdir(_history_bytes(trial)) if directory is None else directory
        lay = write_trial(trial, target, report=not march_only)
        res = run_directory(target, prog, trial, lay, directory is None, raise_errors, settlement=settlement,
                            march_only=march_only)
        if not res.rows:
            return res  # stopped before the march: nothing to settle
        surface = np.asarray(res.temperature_K[:, 0], dtype=float)
        if not np.all(np.isfinite(surface)):
            return res  # judged (and refused) as any run with non-finite temperatures
        times = np.arange(surface.size) * res.deltat_s
        within = times <= face.duration_s + 1e-9 * res.deltat_s if isinstance(face, Flame) \
            else np.ones(surface.size, dtype=bool)
        if previous is not None:
            change = float(np.max(np.abs(surface[within] - previous[within])))
            if change <= FLAME_TOLERANCE_K:
                return res
        previous = surface
        held = Series(times[within], kelvin(surface[within]))
        face = dataclasses.replace(face, surface_K=held) if isinstance(face, Flame) \
            else dataclasses.replace(face, skin_surface_K=held)
        trial = trial.replace("exposure", face)
    if isinstance(face, Clothed):
        raise GarmentNotSettled(f"the skin's surface temperature under the garment did not settle in {_FLAME_RUNS} "
                                f"runs (it changed by {change:.3g} K in the last, more than {FLAME_TOLERANCE_K:g} "
                                "K): give the trial a finer grid, or a milder exposure")
    raise FlameNotSettled(f"the flame's surface temperature did not settle in {_FLAME_RUNS} runs (it changed "
                          f"by {change:.3g} K in the last, more than {FLAME_TOLERANCE_K:g} K): give the trial a "
                          "finer grid, or a smaller h or radiant flux")


def fabric_history(results: Results) -> FabricMarch:
    """What a garment's fabric did over a run (:class:`~skinburn.garment.FabricMarch`: its temperatures,
    the flux into the skin, the gap's largest Rayleigh number), marched again on the run's own skin
    surface temperature. :class:`~skinburn.garment.GarmentError` unless the run's trial had a garment."""
    trial = results.trial
    if trial is None or not isinstance(trial.exposure, Clothed) or not isinstance(trial.grid, Grid):
        raise GarmentError("these results are not of a trial with a garment (a Clothed exposure on a settled grid)")
    surface = np.asarray(results.temperature_K[:, 0], dtype=float)
    times = np.arange(surface.size) * results.deltat_s
    clothed = dataclasses.replace(trial.exposure, skin_surface_K=Series(times, kelvin(surface)))
    return march(clothed, trial.grid.deltax_m, trial.grid.deltat_s, surface.size - 1,
                 trial.grid.time_scheme == "bdf2", float(trial.initial.surface.K))


def _grid_at(auto: AutoGrid, trial: Trial, levels: tuple[int, int]) -> Grid:
    return auto.grid(trial.skin, trial.exposure.duration_s, *levels)


def settle(trial: Trial, program: ProgramLike = None, start_level: Union[int, tuple[int, int]] = 0,
           start_after_s: Optional[float] = None,
           growth_at: Optional[tuple[float, Kinetics]] = None,
           answers: Optional[frozenset[str]] = None,
           known: Optional[Results] = None, *, march_only: bool = False) -> tuple[Trial, Settlement, Results]:
    """Settle an automatic grid and cooling time by runs; returns the explicit trial, how, and its run.

    The cooling time is settled on the first grid, then the grid is refined
    with that cooling time (see :class:`~skinburn.trial.AutoGrid` and
    :class:`~skinburn.trial.AutoCooling`). The trial chosen is the coarser of
    the first two grids that agree; its run is returned as well.
    ``start_level`` (one level for both, or (space, time)) and
    ``start_after_s`` (s) start from refinement levels and a cooling time
    found before (a search checking its grid at a new root): the grid chosen
    is then never coarser than those levels. A grid or cooling time that
    cannot be settled raises :class:`GridNotSettled` or
    :class:`CoolingNotSettled`, saying how far it got and what to change.
    ``growth_at`` (depth m, kinetics) settles the cooling time by the growth
    of Omega at that one depth under that kinetics (a search's measure,
    :func:`cooling_growth` with ``depth_m``) instead of the whole result;
    ``answers`` (keys of :func:`~skinburn.assessment._unsettled`, such as
    ``degree 2``) settles the grid by those answers alone (the depths and
    the criterion times are then judged only if among them; the steps'
    record holds None for them otherwise). ``known`` is a
    run already made (a search's last evaluation at its root): where it is
    of the very trial a step of the settling needs, it stands for that run.
    ``march_only`` is :func:`run`'s, for every run of the settling.
    """
    prog = Program.find(program)
    if isinstance(trial.kinetics, KineticsByDegree):
        return _settle_per_model(trial, prog, start_level, start_after_s, growth_at, answers, known, march_only)
    return _settle(trial, prog, trial.kinetics, start_level, start_after_s, growth_at, answers, known,
                   march_only)


def _settle_per_model(trial: Trial, prog: Program, start_level: Union[int, tuple[int, int]],
                      start_after_s: Optional[float], growth_at: Optional[tuple[float, Kinetics]],
                      answers: Optional[frozenset[str]], known: Optional[Results],
                      march_only: bool = False) -> tuple[Trial, Settlement, Results]:
    """:func:`settle` for a trial with a model per degree: settled under each model on its own, then run
    on the finest levels (space and time apart) and the longest cooling time any of them settled at."""
    assert isinstance(trial.kinetics, KineticsByDegree), "a model per degree"
    own: list[tuple[Kinetics, Settlement, Results]] = []
    for k in trial.kinetics.distinct:
        own.append((k, *_settle(trial, prog, k, start_level, start_after_s, growth_at, answers, known,
                                 march_only)[1:]))
    levels = (max(s.levels[0] for _, s, _ in own), max(s.levels[1] for _, s, _ in own))
    after = max(s.after_exposure_s for _, s, _ in own)
    grid = _grid_at(trial.grid, trial, levels) if isinstance(trial.grid, AutoGrid) else trial.grid
    assert isinstance(grid, Grid), "a grid given, or an automatic grid at its levels"
    explicit = trial.replace("grid", grid).replace("after_exposure_s", after)
    runs = sum(s.runs for _, s, _ in own)
    last = next((r for _, s, r in own if s.levels == levels and s.after_exposure_s == after), None)
    if last is None:
        legs(explicit)  # the capacity check, before the run
        last = run(explicit, prog, march_only=march_only)
        runs += 1
    changes = [s.grid_change for _, s, _ in own if s.grid_change is not None]
    whole = Settlement(grid, after, runs, max(changes) if changes else None,
                       max((s.cooling_growth or 0.0 for _, s, _ in own), default=None),
                       [step for _, s, _ in own for step in s.steps], max(levels), levels,
                       by_kinetics=tuple((k, s) for k, s, _ in own))
    return explicit, whole, last.rebuilt(settlement=whole)


def _settle(trial: Trial, prog: Program, under: Kinetics, start_level: Union[int, tuple[int, int]],
            start_after_s: Optional[float], growth_at: Optional[tuple[float, Kinetics]],
            answers: Optional[frozenset[str]], known: Optional[Results],
            march_only: bool = False) -> tuple[Trial, Settlement, Results]:
    """:func:`settle`, the answers judged under the one model ``under``."""
    auto_grid = trial.grid if isinstance(trial.grid, AutoGrid) else None
    auto_cool = trial.after_exposure_s if isinstance(trial.after_exposure_s, AutoCooling) else None
    levels = levels_of(start_level) if auto_grid else (0, 0)
    given_grid, given_after = trial.grid, trial.after_exposure_s
    grid = _grid_at(auto_grid, trial, levels) if auto_grid else given_grid
    assert isinstance(grid, Grid)
    if auto_cool:
        after = start_after_s if start_after_s is not None else auto_cool.first_s(trial.exposure.duration_s)
    else:
        assert not isinstance(given_after, AutoCooling)
        after = float(given_after)
    settlement = Settlement(grid, after)
    # Settling for some answers alone (a search's degree), the depths and the criterion times are
    # judged only if among them.
    judge_depths = answers is None or any(a.startswith("depth") for a in answers)
    judge_times = answers is None or any(a.startswith("time") for a in answers)

    def attempt(g: Grid, a: float, base: Optional[Trial] = None) -> tuple[Results, np.ndarray, _Judged]:
        t = (trial if base is None else base).replace("grid", g).replace("after_exposure_s", a)
        legs(t)  # the capacity check, before any run
        if _same_trial(known, t):
            assert known is not None
            res = known
        else:
            res = run(t, prog, march_only=march_only)
            settlement.runs += 1
        res.require_finite()
        om = _criterion_omegas(res, t.skin, under)
        # The criterion times by the rule the verdict gives them (within a step, the temperature on the
        # straight line between two records).
        times = res.criterion_times(t.skin, under) if judge_times else {c.degree: None for c in CRITERIA}
        judged = dataclasses.replace(_judge(res, under, om, depths=judge_depths),
                                     times_s=tuple(times[c.degree] for c in CRITERIA))
        settlement.steps.append({"deltax_m": g.deltax_m, "deltat_s": g.deltat_s, "after_s": a,
                                 "omega": list(judged.omega), "depths_m": list(judged.depths_m)})
        return res, om, judged

    res, om, judged = attempt(grid, after)
    if auto_cool:
        for doubling in range(auto_cool.max_doublings + 1):
            growth = _change(_judge(res, under, om, _last_quarter(res.rows), judge_depths), judged) \
                if growth_at is None else cooling_growth(res, trial.skin, growth_at[1], growth_at[0], at_root=True)
            settlement.cooling_growth = growth
            settlement.steps[-1]["growth"] = growth
            if growth <= auto_cool.tolerance:
                break
            # The capacity is told first: where the next doubling would not fit, more doublings are no cure.
            steps = math.ceil((trial.exposure.duration_s + 2 * after) / grid.deltat_s - 1e-9)
            beyond = _beyond_capacity(trial.replace("grid", grid).replace("after_exposure_s", 2 * after))
            if beyond is not None:
                raise CoolingNotSettled(
                    f"the cooling time did not settle within the program's capacity: {2 * after:g} s of "
                    f"cooling needs {steps} steps of {grid.deltat_s:.3g} s ({beyond}), and the "
                    f"damage still grew by {growth:.2g} (relative) over the last quarter of the run after "
                    f"{after:g} s; give after_exposure_s or loosen AutoCooling's tolerance", settlement)
            if doubling == auto_cool.max_doublings:
                raise CoolingNotSettled(
                    f"the cooling time did not settle: the damage still grew by {growth:.2g} (relative) over "
                    f"the last quarter of the run after {after:g} s of cooling ({auto_cool.max_doublings} "
                    f"doublings); raise AutoCooling(max_doublings=...) or its tolerance, or give "
                    f"after_exposure_s", settlement)
            after *= 2
            res, om, judged = attempt(grid, after)
    chosen = res
    if auto_grid:
        levels, chosen = _refine_apart(auto_grid, trial, levels, levels_of(start_level), after, res, judged,
                                       attempt, settlement, answers)
        grid = _grid_at(auto_grid, trial, levels)
    level = max(levels)
    settlement.grid = grid
    settlement.level = level
    settlement.levels = levels
    settlement.after_exposure_s = after
    explicit = trial.replace("grid", grid).replace("after_exposure_s", after)
    return explicit, settlement, chosen.rebuilt(settlement=settlement)


def _same_trial(res: Optional[Results], trial: Trial) -> bool:
    """Whether ``res`` is a run of ``trial`` as the package wrote it."""
    if res is None or res.trial is None:
        return False
    try:
        return bool(res.trial == trial)
    except ValueError:  # values held as arrays compare element by element: taken as different
        return False


def levels_of(start_level: Union[int, tuple[int, int]]) -> tuple[int, int]:
    """(space, time) levels of a start level given as one for both or as a pair."""
    return (start_level, start_level) if isinstance(start_level, int) else (start_level[0], start_level[1])


_DIMENSIONS = ("space", "time")


@dataclass(frozen=True)
class _Step:
    """One run of the walk: its levels (space, time), results, answers and index in ``Settlement.steps``;
    and, for a run that refined the one before it, the error parts of that dimension at the coarser and
    the finer grid and the differences they came from."""

    levels: tuple[int, int]
    res: Results
    judged: _Judged
    index: int
    coarse: dict[str, float] = field(default_factory=dict)
    finer: dict[str, float] = field(default_factory=dict)
    diffs: dict[str, float] = field(default_factory=dict)


def _beyond_capacity(trial: Trial) -> Optional[str]:
    """Why a resolved trial cannot be run (within :data:`~skinburn.writer.MAX_LEGS` runs of the program,
    :func:`~skinburn.writer.legs`), else None."""
    try:
        legs(trial)
    except ValueError as why:
        return str(why)
    return None


def _beyond(auto: AutoGrid, trial: Trial, levels: tuple[int, int], run_s: float) -> Optional[str]:
    """Why the grid at ``levels`` for a run of ``run_s`` (s) is beyond the program's capacity, else None."""
    g = _grid_at(auto, trial, levels)
    nodes, steps = g.node_count(trial.skin), math.ceil(run_s / g.deltat_s - 1e-9)
    if _beyond_capacity(trial.replace("grid", g).replace("after_exposure_s",
                                                         max(run_s - trial.exposure.duration_s, 0.0))):
        return f"DELTAX {g.deltax_m:.3g} m and DELTAT {g.deltat_s:.3g} s need {nodes} nodes and {steps} steps"
    return None


def _refine_apart(auto: AutoGrid, trial: Trial, levels: tuple[int, int], start: tuple[int, int], after: float,
                  res: Results, judged: _Judged, attempt: Callable[[Grid, float], tuple[Results, np.ndarray, _Judged]],
                  settlement: Settlement, answers: Optional[frozenset[str]] = None) -> tuple[tuple[int, int], Results]:
    """Refines the spacing and the step each by its own measured error until every answer is within the
    tolerance; returns the levels of the grid chosen and its run.

    An answer's error is taken as a part from the spacing plus a part from
    the step. Each part is estimated from two runs that differ in that
    dimension alone (Richardson, orders 2 in space and the scheme's in
    time, :func:`~skinburn.assessment._richardson`), for the finer of the two.
    From the first grid one run is refined in space and one in time; the one
    whose answers are nearer to what they may be
    (:func:`~skinburn.assessment._unsettled`) is the grid at hand. While an
    answer is not within it, the dimension with the larger share is refined
    by one run, whose part is estimated from it and the run before; the
    other part stays. The grid chosen is the last one run, with both parts
    as its uncertainty. A criterion time whose step would need more steps
    than the program holds over the whole cooling is settled on shorter runs
    that end soon after it is met (:func:`_settle_times`)."""
    nominal = (2.0, float(auto.time_order))
    run_s = trial.exposure.duration_s + after

    def refined(at: _Step, dim: int, before: Optional[dict[str, float]]) -> _Step:
        lv = at.levels
        nxt = (lv[0] + 1, lv[1]) if dim == 0 else (lv[0], lv[1] + 1)
        why = _beyond(auto, trial, nxt, run_s)
        if why is not None:
            g = _grid_at(auto, trial, lv)
            raise GridNotSettled(
                f"the grid did not settle within the program's capacity: refining the {_DIMENSIONS[dim]} to "
                f"{why}, beyond its {MAX_NODES} nodes and {MAX_LEGS} runs of {MAX_STEPS} steps, on DELTAX {g.deltax_m:.3g} m and "
                f"DELTAT {g.deltat_s:.3g} s (last estimated error {_shown(settlement.grid_change)}): loosen "
                f"the tolerance, shorten the cooling (after_exposure_s) or give Grid(...)", settlement)
        return _refined_run(auto, trial, at, nxt, dim, after, nominal[dim], before, attempt, settlement)

    # The time parts of criterion times left to shorter runs: not judged on the whole runs.
    deferred: set[str] = set()

    def kept(ratios: dict[str, float]) -> dict[str, float]:
        return ratios if answers is None else {q: r for q, r in ratios.items() if q in answers}

    def judged_at(at: _Step, parts: list[dict[str, float]]) -> tuple[dict[str, float], list[float]]:
        g = _grid_at(auto, trial, at.levels)
        time_part = {q: e for q, e in parts[1].items() if q not in deferred}
        total = {q: parts[0].get(q, 0.0) + time_part.get(q, 0.0) for q in {*parts[0], *time_part}}
        shares = [max(kept(_unsettled(at.judged, parts[0], auto.tolerance, g.deltax_m, 0.0)).values(), default=0.0),
                  max(kept(_unsettled(at.judged, time_part, auto.tolerance, 0.0, g.deltat_s)).values(),
                      default=0.0)]
        ratios = _unsettled(at.judged, {q: e for q, e in total.items() if q not in deferred}, auto.tolerance,
                            g.deltax_m, g.deltat_s)
        # A deferred time's step is judged on the shorter runs: here its spacing alone.
        ratios.update(_unsettled(at.judged, {q: e for q, e in total.items() if q in deferred}, auto.tolerance,
                                 g.deltax_m, 0.0))
        return kept(ratios), shares

    first = _Step(levels, res, judged, len(settlement.steps) - 1)
    tried = [refined(first, 0, None), refined(first, 1, None)]
    # Either refined run has the finer part of its own dimension and the coarser part of the other.
    options = [(tried[0], [tried[0].finer, tried[1].coarse]), (tried[1], [tried[0].coarse, tried[1].finer])]
    pick = min((0, 1), key=lambda k: (max(judged_at(*options[k])[0].values(), default=0.0), k))
    at, parts = options[pick]
    before = [tried[0].diffs, tried[1].diffs]
    while True:
        ratios, share = judged_at(at, parts)
        worst = max(ratios.values(), default=0.0)
        settlement.grid_change = worst * auto.tolerance
        settlement.uncertainty = {q: parts[0].get(q, 0.0) + parts[1].get(q, 0.0) for q in {*parts[0], *parts[1]}}
        settlement.steps[at.index]["change"] = ratios
        if worst <= 1.0:
            break
        lv = at.levels
        dim = 0 if share[0] > share[1] or (share[0] == share[1] and lv[0] - start[0] <= lv[1] - start[1]) else 1
        # The step cannot be refined further on the whole runs (the program's capacity, or the refinements
        # allowed): criterion times alone still unsettled in time (met early in a long run) are settled on
        # shorter runs that end soon after they are met.
        if dim == 1 and (_beyond(auto, trial, (lv[0], lv[1] + 1), run_s) is not None
                         or lv[1] - start[1] >= auto.max_refinements > 0):
            g = _grid_at(auto, trial, lv)
            left = {q for q, r in kept(_unsettled(at.judged, parts[1], auto.tolerance, 0.0, g.deltat_s)).items()
                    if r > 1.0}
            fresh = {q for q in parts[1] if q.startswith("time ")} - deferred
            if fresh and left and all(q.startswith("time ") for q in left):
                deferred |= fresh
                continue
        if lv[dim] - start[dim] >= auto.max_refinements:
            what = max(ratios, key=lambda q: ratios[q])
            g = _grid_at(auto, trial, lv)
            raise GridNotSettled(f"the grid did not settle within {auto.max_refinements} refinements of the "
                                 f"{_DIMENSIONS[dim]} (DELTAX {g.deltax_m:.3g} m, DELTAT {g.deltat_s:.3g} s; "
                                 f"the {what} still {_shown(worst)} times its allowed error, estimated error "
                                 f"{_shown(settlement.grid_change)} relative); raise AutoGrid(max_refinements=...) "
                                 f"or its tolerance, or give Grid(...)", settlement)
        nxt = refined(at, dim, before[dim])
        before[dim] = nxt.diffs
        parts = [nxt.finer, parts[1]] if dim == 0 else [parts[0], nxt.finer]
        at = nxt
    if deferred:
        _settle_times(auto, trial, at, parts[0], start, attempt, settlement)
    return at.levels, at.res


def _refined_run(auto: AutoGrid, trial: Trial, at: _Step, nxt: tuple[int, int], dim: int, after: float,
                 order: float, before: Optional[dict[str, float]],
                 attempt: Callable[[Grid, float], tuple[Results, np.ndarray, _Judged]],
                 settlement: Settlement) -> _Step:
    """The run at levels ``nxt`` (``at`` refined in ``dim``, ``after`` s of cooling) with the error parts of
    that dimension the pair gives (``before``: the differences of the refinement before, for the order)."""
    base, g = _grid_at(auto, trial, at.levels), _grid_at(auto, trial, nxt)
    fine_res, _, fine_judged = attempt(g, after)
    settlement.steps[-1]["refines"] = _DIMENSIONS[dim]
    ratio = base.deltax_m / g.deltax_m if dim == 0 else base.deltat_s / g.deltat_s
    diffs = _differences(at.judged, fine_judged)
    lower = _first_order_in_space(trial, (base, g), (at.judged, fine_judged)) if dim == 0 else {}
    if dim == 1 and before is None:
        # The start of an exposure and its end are corners of the history, after which even the second-order
        # scheme converges at first order until the step is small: no more is assumed until a second pair
        # of steps shows it.
        order = min(order, 1.0)
    coarse = _richardson(diffs, ratio, order, before, lower)
    # The finer grid's error is the coarser one's less the difference between them.
    finer = {q: (e - diffs[q]) if math.isfinite(e) else e for q, e in coarse.items()}
    return _Step(nxt, fine_res, fine_judged, len(settlement.steps) - 1, coarse, finer, diffs)


def _first_order_in_space(trial: Trial, grids: tuple[Grid, Grid], judged: tuple[_Judged, _Judged]) -> dict[str, float]:
    """The answers whose error in space is of order 1 on this pair of grids: those at or near a layer
    boundary that a grid does not hold halfway between two nodes.

    Only there is the model's boundary exactly where it is asked for; elsewhere it lies up to half a
    spacing below (:mod:`skinburn.skin`), an error in proportion to the spacing. The answers taken so
    are the criteria at or below the shallowest such boundary and the depths nearer to it than to the
    boundary above it (the skin's face if none)."""
    skin = trial.skin
    asked = skin.boundaries_m
    off: list[float] = []
    for g in grids:
        placed = skin.placed_boundaries_m(g.deltax_m, g.node_count(skin))
        off += [b for b, p in zip(asked, placed) if abs(p - b) > 1e-6 * g.deltax_m]
    if not off:
        return {}
    low = min(off)
    above = max((b for b in asked if b < low), default=0.0)
    depth_of = dict(zip(("epidermis", "dermis"), skin.criterion_depths_m))
    out = {f"time {c.degree}": 1.0 for c in CRITERIA if depth_of[c.layer] >= low - 1e-12}
    out.update({f"omega {k + 1}": 1.0 for k, z in enumerate(depth_of.values()) if z >= low - 1e-12})
    for t, depths in zip(_THRESHOLDS, zip(*(j.depths_m for j in judged))):
        if any(z is not None and z > (low + above) / 2 for z in depths):
            out[f"depth {t:g}"] = 1.0
    return out


def _settle_times(auto: AutoGrid, trial: Trial, at: _Step, space_part: dict[str, float], start: tuple[int, int],
                  attempt: Callable[[Grid, float], tuple[Results, np.ndarray, _Judged]],
                  settlement: Settlement) -> None:
    """Settles the criterion times on runs that end half as late again as the last one met (the march
    before then is the whole run's) by refining the step alone, from the grid chosen ``at``; their space
    parts are those of the whole runs. Sets ``settlement.criterion_times_s``, ``.times_deltat_s`` and
    the times' uncertainty."""
    met = [t for t in at.judged.times_s if t is not None]
    if not met:
        raise GridNotSettled("the criterion times did not settle: one is met on one grid and not on the next, "
                             "and a finer step would need more steps than the program holds; give Grid(...)",
                             settlement)
    after = max(1.5 * max(met) - trial.exposure.duration_s, 0.0)
    run_s = trial.exposure.duration_s + after
    order = float(auto.time_order)
    _, _, judged = attempt(_grid_at(auto, trial, at.levels), after)
    step = _Step(at.levels, at.res, judged, len(settlement.steps) - 1)
    before: Optional[dict[str, float]] = None
    keys = {f"time {c.degree}" for c in CRITERIA}
    while True:
        lv = step.levels
        nxt = (lv[0], lv[1] + 1)
        why = _beyond(auto, trial, nxt, run_s)
        if why is not None or lv[1] - start[1] >= auto.max_refinements:
            _settle_each_time(auto, trial, at, space_part, attempt, settlement,
                              f"{why or 'the refinements allowed'} on runs of {run_s:g} s")
            return
        step = _refined_run(auto, trial, step, nxt, 1, after, order, before, attempt, settlement)
        before = step.diffs
        time_part = {q: e for q, e in step.finer.items() if q in keys}
        total = {q: space_part.get(q, 0.0) + e for q, e in time_part.items()}
        g = _grid_at(auto, trial, step.levels)
        ratios = _unsettled(step.judged, total, auto.tolerance, 0.0, g.deltat_s)
        ratios = {q: r for q, r in ratios.items() if q in keys}
        settlement.steps[step.index]["change"] = ratios
        if max(ratios.values(), default=0.0) <= 1.0:
            break
    settlement.criterion_times_s = {c.degree: t for c, t in zip(CRITERIA, step.judged.times_s)}
    settlement.times_deltat_s = g.deltat_s
    settlement.uncertainty.update(total)


def _settle_each_time(auto: AutoGrid, trial: Trial, at: _Step, space_part: dict[str, float],
                      attempt: Callable[..., tuple[Results, np.ndarray, _Judged]], settlement: Settlement,
                      why: str) -> None:
    """Settles each criterion time met on the grid chosen ``at`` on runs of its own that end half as late
    again as it is met, from a first step a tenth of that run (a run that ends inside the exposure is the
    exposure cut there: the march up to its end is the whole run's), refining the step alone; their space
    parts are those of the whole runs. For a time met early in a long exposure, whose step on the whole
    runs would be a small part of the exposure. ``why``: why the shorter runs of all the times together
    did not settle them. Sets ``settlement.criterion_times_s``, ``.times_deltat_s`` (the coarsest step
    of any), ``.times_deltat_by_degree`` and the times' uncertainty."""
    order = float(auto.time_order)
    times: dict[int, Optional[float]] = {c.degree: None for c in CRITERIA}
    steps: dict[int, float] = {}
    for c, met in zip(CRITERIA, at.judged.times_s):
        if met is None:
            continue
        key = f"time {c.degree}"
        end = 1.5 * met
        if end < trial.exposure.duration_s:
            short, after = trial.replace("exposure.duration_s", end), 0.0
        else:
            short, after = trial, end - trial.exposure.duration_s

        def run_short(g: Grid, a: float, base: Trial = short) -> tuple[Results, np.ndarray, _Judged]:
            return attempt(g, a, base)
        lv = (at.levels[0], 0)
        _, _, judged = run_short(_grid_at(auto, short, lv), after)
        step = _Step(lv, at.res, judged, len(settlement.steps) - 1)
        before: Optional[dict[str, float]] = None
        while True:
            nxt = (step.levels[0], step.levels[1] + 1)
            beyond = _beyond(auto, short, nxt, end)
            if beyond is not None or step.levels[1] >= auto.max_refinements:
                raise GridNotSettled(f"the criterion times did not settle: {why}, and the "
                                     f"{_ORDINALS[c.degree]}-degree time ({met:.4g} s) on runs of its own of "
                                     f"{end:.4g} s within {beyond or f'{auto.max_refinements} refinements'}; "
                                     "loosen the tolerance or give Grid(...)", settlement)
            step = _refined_run(auto, short, step, nxt, 1, after, order, before, run_short, settlement)
            before = step.diffs
            part = {q: e for q, e in step.finer.items() if q == key}
            total = {q: space_part.get(q, 0.0) + e for q, e in part.items()}
            g = _grid_at(auto, short, step.levels)
            ratios = {q: r for q, r in _unsettled(step.judged, total, auto.tolerance, 0.0, g.deltat_s).items()
                      if q == key}
            settlement.steps[step.index]["change"] = ratios
            if max(ratios.values(), default=0.0) <= 1.0:
                break
        times[c.degree] = step.judged.times_s[CRITERIA.index(c)]
        steps[c.degree] = g.deltat_s
        settlement.uncertainty.update(total)
    if not steps:
        raise GridNotSettled(f"the criterion times did not settle ({why}): none is met on the grid chosen; "
                             "give Grid(...)", settlement)
    settlement.criterion_times_s = times
    settlement.times_deltat_s = max(steps.values())
    settlement.times_deltat_by_degree = steps



def _shown(value: Optional[float]) -> str:
    return "not yet estimated" if value is None else f"{value:.3g}"


# --- A data directory's run carried on while the damage grows ------------------------

@dataclass
class RunOnRecord:
    """How a data directory's run was carried on past its given end (``results.run_on``).

    ``given_end_s``: the run's end as given (s); ``after_s``: the time
    carried on past it (s; 0 when it was not); ``growth_as_given`` and
    ``growth``: :func:`cooling_growth` of the run as given and of the last
    run; ``steps``: every run tried, ``{"after_s", "growth"}``; ``refused``:
    why the run could not be carried on (the face cannot take the phase, or
    the program's capacity), else None.
    """

    phase: RunOn
    given_end_s: float
    growth_as_given: float
    after_s: float = 0.0
    growth: Optional[float] = None
    steps: list[dict] = field(default_factory=list)
    refused: Optional[str] = None

    def text(self) -> str:
        """One clause for a verdict: what was done, or why nothing could be."""
        if self.refused and not self.after_s:
            return f"it could not be carried on past its end ({self.given_end_s:g} s): {self.refused}"
        done = (f"{self.after_s:g} s past the given end ({self.given_end_s:g} s) with {self.phase.describe()} "
                f"(as given, the damage grew {_percent(self.growth_as_given)} over the last quarter)")
        return done + (f"; {self.refused}" if self.refused else "")


def _percent(growth: float) -> str:
    """A growth (about the relative change) as a percentage for a person."""
    return "past a threshold" if math.isinf(growth) else f"{100 * growth:.3g} %"


def run_on(subject: Union[DataDirectory, PathLike], skin: Skin, kinetics: Optional[KineticsLike] = None,
           after: RunOn = RunOn(), cooling: AutoCooling = AutoCooling(), program: ProgramLike = None,
           directory: Optional[PathLike] = None, growth_depth_m: Optional[float] = None) -> Results:
    """Run a data directory (a copy) and carry its run on past its end until the damage stops growing.

    The run as given is judged first: when the damage grew by at most
    ``cooling.tolerance`` over its last quarter (:func:`cooling_growth` at
    the criterion depths of ``skin``, under ``kinetics``, default the
    constants the program read; under a model per degree, the largest
    growth under any of them) its results are returned as they are.
    Otherwise ``after`` (default: the face insulated, see
    :class:`~skinburn.tables.RunOn`) is appended for ``cooling.first_s`` of
    the run's length (at least 1 s), doubled while the damage still grows,
    up to ``cooling.max_doublings`` times or the program's capacity. The
    results returned are of the last run, ``results.run_on`` says what was
    done (:class:`RunOnRecord`); :func:`skinburn.assessment.assess` gives no
    degree when the damage still grew. The directory itself is never
    written to; without ``directory`` the runs are in a temporary one,
    removed when the results are garbage. ``growth_depth_m`` (m) judges the
    growth by Omega at that one depth alone (a search's measure).
    """
    prog = Program.find(program)
    source = subject.path if isinstance(subject, DataDirectory) else Path(subject)
    work = _workdir() if directory is None else Path(directory)
    given = copy_inputs(source, work / "given")
    res = run_directory(given, prog)

    def keep(final: Results) -> Results:
        if directory is None:  # the work directory lives as long as the results returned
            weakref.finalize(final, shutil.rmtree, str(work), True)
        return final
    kin = resolved(kinetics, res.program_kinetics)
    tolerance = cooling.tolerance
    growth = cooling_growth(res, skin, kin, growth_depth_m)
    if growth <= tolerance:
        return keep(res)
    d = DataDirectory(given, prog)
    record = RunOnRecord(after, (res.rows - 1) * res.deltat_s, growth)
    after_s = cooling.first_s(record.given_end_s)
    capacity = (MAX_STEPS - int(d.report.value("TIMESTEPS"))) * float(d.report.value("DELTAT"))
    last = res
    for doubling in range(cooling.max_doublings + 1):
        if after_s > capacity:
            if record.after_s >= capacity or capacity <= 0:
                record.refused = (f"the program's capacity of {MAX_STEPS} steps allows no longer run "
                                  f"({record.after_s:g} s after the given end)")
                break
            after_s = capacity
        try:
            files = phase_edits(d, after, after_s)
        except PhaseRefused as refused:
            record.refused = str(refused)
            break
        attempt = work / f"on{doubling}"
        attempt.mkdir(parents=True, exist_ok=True)
        for name, data in files.items():
            write_whole(attempt / name, data)
        last = run_directory(attempt, prog)
        record.after_s = after_s
        record.growth = cooling_growth(last, skin, kin, growth_depth_m)
        record.steps.append({"after_s": after_s, "growth": record.growth})
        if record.growth <= tolerance:
            break
        after_s *= 2
    return keep(last.rebuilt(run_on=record))
