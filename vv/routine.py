"""Routine trials: the package's default route against a fixed fine grid.

Each case is a ready-made scenario of :mod:`skinburn.scenarios` with its
automatic grid and cooling time, run the way a user runs it::

    r = sb.run(trial); a = sb.assess(r)

Its reference is the explicit trial the route settled on (the grid of
``r.settlement`` and its ``after_exposure_s``) run again on two fixed grids
finer than the settled one by k and 2k in space and in time (k = 4, or 2 or
1 where the program's 30000 nodes and 29999 steps do not hold 2k), and
extrapolated (Richardson, order 2 in space and in time: central differences
and BDF2), R = f2 + (f2 - f1)/3. Where not even one refinement of a
dimension fits, that dimension is taken from the settled grid and one twice
as coarse, the other refined apart, and each dimension's difference
extrapolated on its own; where it is the step that does not fit, the
criterion times come from shorter runs on finer steps as well (the march to
a time is the same whatever the run's end). A refinement in space keeps the epidermis base halfway between two
nodes, as the automatic grid does, so successive spacings differ by
2 + 1/(2m - 1) (m the spacings above the base), a little more than the
step's 2; the extrapolation takes 2, which leaves at most 3 % of the
difference of the two grids uncorrected.

The route agrees when the degree is the same, each criterion time is within
1 % and each depth Omega = 0.53 and 1 reach is within 2 % of the reference
(None on both sides agrees). A route that raises is a failing case, its
exception shown. One more case runs ``python3 -m skinburn assess --spread
--all-skins`` on the jet trial: it must print its table and exit 0.
"""
from __future__ import annotations

import json
import math
import os
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from pathlib import Path
from typing import Optional, Sequence, Union

from scipy.optimize import brentq

import skinburn as sb
from skinburn.criteria import CRITERIA
from skinburn.scenarios import airbag_jet, flash_fire, hot_liquid
from skinburn.trial import MAX_NODES, MAX_STEPS

#: Bands: a criterion time within 1 % of the reference, a depth within 2 %, the degree equal.
TIME_BAND = 0.01
DEPTH_BAND = 0.02
#: The coarser reference grid is REFINE times finer than the settled one in space and in time, the
#: finer 2 * REFINE times; halved (to 2, then 1) in a dimension where the program cannot hold it.
REFINE = 4
#: The order the extrapolation takes in space (central differences) and in time (BDF2), and the ratio
#: of the two reference grids in each.
ORDER = 2.0
RATIO = 2.0
KINETICS_KEYS = ("henriques-1947", "weaver-stoll-1969", "program-default")
SKIN_KEYS = ("torvi-dale", "uniform")
NOZZLE_M = 0.01  # the nozzle of skinburn.scenarios.airbag_jet
THRESHOLDS = (0.53, 1.0)
DEGREES = tuple(c.degree for c in CRITERIA)
#: The command line's spread: one row per kinetics preset and skin preset.
SPREAD_ROWS = len(KINETICS_KEYS) * len(SKIN_KEYS)


@dataclass(frozen=True)
class Case:
    """One routine trial: ``key`` names it in the bands, ``family`` groups it in the document."""

    key: str
    family: str
    trial: sb.Trial


def _jet(gas_K: float = 900.0, velocity_m_s: float = 100.0, duration_s: float = 0.1, standoff_m: float = 0.05,
         skin: str = "torvi-dale", kinetics: str = "weaver-stoll-1969") -> sb.Trial:
    """The jet scenario with constant gas (K) and velocity (m/s) for ``duration_s`` (s) at ``standoff_m`` (m)."""
    return airbag_jet(sb.kelvin(gas_K), standoff_m=standoff_m, duration_s=duration_s, skin=sb.skin_preset(skin),
                      kinetics=sb.kinetics_preset(kinetics), gas_velocity_m_s=velocity_m_s)


def cases(quick: bool = False) -> list[Case]:
    """The matrix of routine trials; ``quick``: one contact burn, the ASTM F1930 flash fire and the jet."""
    out: list[Case] = []
    contact = [(100.0, 5.0), (99.0, 10.0), (98.0, 15.0), (97.0, 20.0), (95.0, 30.0)]
    for k in (("henriques-1947",) if quick else KINETICS_KEYS):
        for c, t in (contact[:1] if quick else contact):
            out.append(Case(f"contact {c:g} C {t:g} s, {k}", "contact",
                            hot_liquid(sb.celsius(c), t, kinetics=sb.kinetics_preset(k))))
    if not quick:
        for c, t in ((45.0, 600.0), (60.0, 1.0), (100.0, 1.0)):
            out.append(Case(f"contact {c:g} C {t:g} s", "contact", hot_liquid(sb.celsius(c), t)))
    fires = [(84e3, 4.0)] + ([] if quick else [(5e3, 20.0), (150e3, 0.1), (150e3, 2.0)])
    for q, t in fires:
        out.append(Case(f"flash fire {q / 1e3:g} kW/m2 {t:g} s", "flash fire", flash_fire(q, t)))
    for skin in (SKIN_KEYS[:1] if quick else SKIN_KEYS):
        for k in (("weaver-stoll-1969",) if quick else KINETICS_KEYS):
            out.append(Case(f"jet 900 K 100 m/s 0.1 s, {skin}, {k}", "jet", _jet(skin=skin, kinetics=k)))
    if not quick:
        out += [Case("jet 500 K 20 m/s 1 s", "jet", _jet(500.0, 20.0, 1.0)),
                Case("jet 1500 K 200 m/s 0.02 s", "jet", _jet(1500.0, 200.0, 0.02)),
                Case("jet 900 K 100 m/s 0.1 s, stand-off 2 diameters", "jet", _jet(standoff_m=2 * NOZZLE_M)),
                Case("jet 900 K 100 m/s 0.1 s, stand-off 12 diameters", "jet", _jet(standoff_m=12 * NOZZLE_M))]
    return out


@dataclass(frozen=True)
class Answers:
    """What a verdict gives: the degree (None: the damage still grew), the time (s) each degree's
    criterion was met (None: not met), the depth (m) each Omega threshold reaches (None: nowhere) and
    Omega at the epidermis and dermis bases (None: below the model)."""

    degree: Optional[int]
    times_s: dict[int, Optional[float]]
    depths_m: dict[float, Optional[float]]
    omegas: tuple[Optional[float], Optional[float]]

    @classmethod
    def of(cls, a: sb.Assessment) -> "Answers":
        """The answers of an assessment."""
        return cls(a.degree, {d: a.criterion_times_s.get(d) for d in DEGREES},
                   {t: a.depth_reached_m.get(t) for t in THRESHOLDS}, (a.omega_epidermis_base, a.omega_dermis_base))


def degree_of(omegas: tuple[Optional[float], Optional[float]]) -> int:
    """The degree the criteria give Omega at the epidermis and dermis bases (None: below the model)."""
    got = 0
    for c in CRITERIA:
        om = omegas[0 if c.layer == "epidermis" else 1]
        if om is not None and om >= c.threshold:
            got = max(got, c.degree)
    return got


def extrapolate(finest: Optional[float], others: Sequence[Optional[float]], log: bool = False) -> Optional[float]:
    """Richardson's value from the finest grid and the grids each coarser than it by :data:`RATIO` in
    one dimension or in both (one error term each, at order :data:`ORDER`; in ln of the value with
    ``log``): finest + sum (finest - other) / (RATIO^ORDER - 1). None when any is None; the finest's
    when any is 0 in ln."""
    if finest is None or any(o is None for o in others):
        return None
    if log:
        if finest <= 0.0 or any(o <= 0.0 for o in others):  # type: ignore[operator]
            return finest
        f = math.log(finest)
        return math.exp(f + sum(f - math.log(o) for o in others) / (RATIO ** ORDER - 1.0))  # type: ignore[arg-type]
    return finest + sum(finest - o for o in others) / (RATIO ** ORDER - 1.0)  # type: ignore[operator]


def observed_order(settled: Optional[float], coarse: Optional[float], fine: Optional[float],
                   refine: int) -> Optional[float]:
    """The order shown by the settled grid and two reference grids refined ``refine`` and 2 ``refine``
    times in both dimensions: p with (refine^p - 1) / (1 - 2^-p) = (settled - coarse) / (coarse - fine);
    None where the differences do not fall monotonically or ``refine`` is 1."""
    if settled is None or coarse is None or fine is None or refine < 2:
        return None
    d1, d2 = settled - coarse, coarse - fine
    if d2 == 0.0 or d1 == 0.0 or (d1 > 0) != (d2 > 0):
        return None
    q = d1 / d2

    def f(p: float) -> float:
        return (refine ** p - 1.0) / (1.0 - 2.0 ** -p) - q
    lo, hi = 1e-3, 8.0
    if f(lo) > 0 or f(hi) < 0:
        return None
    return float(brentq(f, lo, hi, xtol=1e-6))


def relative(route: Optional[float], reference: Optional[float]) -> float:
    """|route / reference - 1|: 0 when both are None (or both 0), infinite when only one is."""
    if route is None and reference is None:
        return 0.0
    if route is None or reference is None:
        return math.inf
    if reference == 0.0:
        return 0.0 if route == 0.0 else math.inf
    return abs(route / reference - 1.0)


@dataclass(frozen=True)
class Plan:
    """The reference grids of a run of ``run_s`` (s), as refinement levels (space, time) over the settled
    grid's: ``offsets[0]`` the finest, each other coarser than it by one level in one dimension or in
    both. ``refine`` is how many times finer than the settled grid the finest is in each dimension."""

    offsets: tuple[tuple[int, int], ...]
    run_s: float

    @property
    def refine(self) -> tuple[float, float]:
        """The finest grid's refinement over the settled grid (space, time): 2^offset."""
        return float(2 ** self.offsets[0][0]), float(2 ** self.offsets[0][1])

    @property
    def diagonal(self) -> bool:
        """True for the plain pair: the finest and one grid coarser in both dimensions."""
        return len(self.offsets) == 2

    def text(self) -> str:
        """How the grids stand to the settled one, e.g. '4x and 8x in space, 4x and 8x in time'."""
        xs, xt = self.offsets[0]
        pairs = f"{2 ** (xs - 1):g}x and {2 ** xs:g}x in space, {2 ** (xt - 1):g}x and {2 ** xt:g}x in time"
        apart = ", each refined apart (the program cannot hold both refined together)"
        return pairs if self.diagonal else pairs + apart


def plan(trial: sb.Trial, s: sb.Settlement, run_s: float) -> Optional[Plan]:
    """The reference grids of a settled trial for a run of ``run_s`` (s): the settled grid refined
    :data:`REFINE` and 2 :data:`REFINE` times in both dimensions, the refinement halved in a dimension
    where the program's capacity does not hold it; where not even one refinement of a dimension fits,
    that dimension's pair is the settled grid and one coarser, and the other dimension is refined apart.
    None when neither dimension can be refined once."""
    auto = trial.grid
    if not isinstance(auto, sb.AutoGrid):
        raise ValueError("the trial's grid is not automatic")
    duration = trial.exposure.duration_s
    ls, lt = s.levels
    settled = auto.grid(trial.skin, duration, ls, lt)
    if not (math.isclose(settled.deltax_m, s.grid.deltax_m, rel_tol=1e-12)
            and math.isclose(settled.deltat_s, s.grid.deltat_s, rel_tol=1e-12)):
        raise ValueError(f"the settled grid {s.grid} is not the automatic grid at levels {s.levels}")
    up = int(round(math.log2(REFINE)))
    space = next((e for e in range(up, -1, -1)
                  if auto.grid(trial.skin, duration, ls + e + 1, lt).node_count(trial.skin) <= MAX_NODES), None)
    steps = next((e for e in range(up, -1, -1)
                  if math.ceil(run_s / auto.step_s(duration, lt + e + 1) - 1e-9) <= MAX_STEPS), None)
    if space is not None and steps is not None:
        return Plan(((space + 1, steps + 1), (space, steps)), run_s)
    if space is not None:
        return Plan(((space + 1, 0), (space, 0), (space + 1, -1)), run_s)
    if steps is not None:
        return Plan(((0, steps + 1), (0, steps), (-1, steps + 1)), run_s)
    return None


def grid_at(trial: sb.Trial, s: sb.Settlement, offset: tuple[int, int]) -> sb.Grid:
    """The automatic grid ``offset`` levels (space, time) from the settled one."""
    auto: sb.AutoGrid = trial.grid  # type: ignore[assignment]
    return auto.grid(trial.skin, trial.exposure.duration_s, s.levels[0] + offset[0], s.levels[1] + offset[1])


@dataclass
class Reference:
    """The reference answers of a case: the plan of its grids and their answers (finest first), and
    ``times`` the same for the criterion times where they came from shorter runs; the extrapolated
    ``answers``, each one's ``error`` (its distance from the finest grid's, relative: the reference's
    own estimated error) and ``orders`` (the order each shows over the settled and two reference grids)."""

    plan: Plan
    grids: list[sb.Grid]
    runs: list[Answers]
    answers: Answers
    times: Optional[tuple[Plan, list[sb.Grid], list[Answers]]] = None
    error: dict[str, float] = field(default_factory=dict)
    orders: dict[str, Optional[float]] = field(default_factory=dict)
    notes: list[str] = field(default_factory=list)
    wall_s: float = 0.0


def _one(what: str, finest: Optional[float], others: list[Optional[float]], notes: list[str]) -> Optional[float]:
    if (finest is None) != any(o is None for o in others) or (finest is None and not all(o is None for o in others)):
        notes.append(f"{what}: met on some reference grids only; the finest's taken")
        return finest
    return extrapolate(finest, others)


def reference_answers(settled: Answers, runs: list[Answers], diagonal_refine: int = 1,
                      time_runs: Optional[list[Answers]] = None
                      ) -> tuple[Answers, dict[str, float], dict[str, Optional[float]], list[str]]:
    """The extrapolated answers from the reference runs (finest first), with each one's estimated error
    (relative), the order each shows against the settled grid (with ``diagonal_refine`` >= 2: two runs,
    refined that and twice that in both dimensions) and notes where the grids disagree. ``time_runs``
    (finest first), shorter runs on finer steps, give the criterion times they meet."""
    notes: list[str] = []
    error: dict[str, float] = {}
    orders: dict[str, Optional[float]] = {}
    fine, rest = runs[0], runs[1:]
    times: dict[int, Optional[float]] = {}
    for d in DEGREES:
        what = f"time {d}"
        t = _one(what, fine.times_s[d], [r.times_s[d] for r in rest], notes)
        if time_runs is not None and time_runs[0].times_s[d] is not None:
            tt = _one(what + " (shorter runs)", time_runs[0].times_s[d], [r.times_s[d] for r in time_runs[1:]], notes)
            if tt is not None:
                t, error[what] = tt, relative(time_runs[0].times_s[d], tt)
        elif t is not None and fine.times_s[d] is not None:
            error[what] = relative(fine.times_s[d], t)
        times[d] = t
        if len(runs) == 2:
            orders[what] = observed_order(settled.times_s[d], rest[0].times_s[d], fine.times_s[d], diagonal_refine)
    depths: dict[float, Optional[float]] = {}
    for th in THRESHOLDS:
        what = f"depth {th:g}"
        depths[th] = _one(what, fine.depths_m[th], [r.depths_m[th] for r in rest], notes)
        if depths[th] is not None and fine.depths_m[th] is not None:
            error[what] = relative(fine.depths_m[th], depths[th])
        if len(runs) == 2:
            orders[what] = observed_order(settled.depths_m[th], rest[0].depths_m[th], fine.depths_m[th],
                                          diagonal_refine)
    omegas = tuple(extrapolate(fine.omegas[k], [r.omegas[k] for r in rest], log=True) for k in (0, 1))
    degree: Optional[int] = degree_of(omegas)  # type: ignore[arg-type]
    if fine.degree is None:
        degree = None
        notes.append("the damage still grew at the end of the finest reference run")
    elif degree != fine.degree:
        notes.append(f"extrapolated Omega gives degree {degree}, the finest grid {fine.degree}")
    return Answers(degree, times, depths, omegas), error, orders, notes  # type: ignore[arg-type]


@dataclass
class Outcome:
    """One routine case: the route's answers and how it settled, or the exception it raised; its reference."""

    case: Case
    answers: Optional[Answers] = None
    settlement: Optional[sb.Settlement] = None
    raised: Optional[str] = None  # "ClassName: message"
    reference: Optional[Reference] = None
    no_reference: Optional[str] = None
    wall_s: float = 0.0

    def differences(self) -> dict[str, float]:
        """Each answer's difference from the reference: ``degree`` (0 equal, 1 not), ``time 1`` ...
        ``time 3`` and ``depth 0.53``, ``depth 1`` (relative; infinite: met on one side only)."""
        if self.answers is None or self.reference is None:
            return {}
        a, r = self.answers, self.reference.answers
        out = {"degree": 0.0 if a.degree == r.degree else 1.0}
        out.update({f"time {d}": relative(a.times_s[d], r.times_s[d]) for d in DEGREES})
        out.update({f"depth {t:g}": relative(a.depths_m[t], r.depths_m[t]) for t in THRESHOLDS})
        return out

    @property
    def bands(self) -> list[tuple[str, float, str, bool]]:
        """(what, value, band, held): the degree, the largest time and depth differences; a route that
        raised, or a case left without a reference, fails."""
        head = f"routine {self.case.key}"
        if self.raised is not None:
            return [(f"{head}: the default route raised {self.raised.split(':')[0]}", 1.0, "0 (runs and assesses)",
                     False)]
        if self.reference is None:
            return [(f"{head}: no reference ({self.no_reference})", 1.0, "0", False)]
        d = self.differences()
        times = max(d[f"time {k}"] for k in DEGREES)
        depths = max(d[f"depth {t:g}"] for t in THRESHOLDS)
        return [(f"{head}: degree differs", d["degree"], "0", d["degree"] == 0.0),
                (f"{head}: criterion times, largest relative difference", times, f"<= {TIME_BAND:g}",
                 times <= TIME_BAND),
                (f"{head}: depths of Omega 0.53 and 1, largest relative difference", depths, f"<= {DEPTH_BAND:g}",
                 depths <= DEPTH_BAND)]

    @property
    def held(self) -> bool:
        """True when every band of the case holds."""
        return all(b[3] for b in self.bands)


def _assessed(trial: sb.Trial, program: sb.Program) -> Answers:
    res = sb.run(trial, program)
    try:
        return Answers.of(sb.assess(res))
    finally:
        res.close()
        del res


def run_case(case: Case, program: sb.Program) -> Outcome:
    """The default route of one case, then its reference on the fixed grids of its :func:`plan`.

    Where the whole run cannot take a finer step, the criterion times come from shorter runs as well
    (the march to a time is the same whatever the run's end): half as long again as the latest time
    the route met, at least the exposure, on the finer steps that fit."""
    t0 = time.time()
    out = Outcome(case)
    try:
        r = sb.run(case.trial, program)
        try:
            out.answers = Answers.of(sb.assess(r))
            out.settlement = r.settlement
            explicit = r.trial
        finally:
            r.close()
            del r
    except Exception as e:  # noqa: BLE001 - every failure of the route is a result to report
        out.raised = f"{type(e).__name__}: {e}"
        out.wall_s = time.time() - t0
        return out
    out.wall_s = time.time() - t0
    t1 = time.time()
    s = out.settlement
    duration = case.trial.exposure.duration_s
    full = plan(case.trial, s, duration + s.after_exposure_s)
    if full is None:
        out.no_reference = (f"the settled grid (DELTAX {s.grid.deltax_m:.3g} m, DELTAT {s.grid.deltat_s:.3g} s, "
                            f"{duration + s.after_exposure_s:g} s) refined once in either dimension is beyond the "
                            f"program's {MAX_NODES} nodes and {MAX_STEPS} steps")
        return out
    grids = [grid_at(case.trial, s, o) for o in full.offsets]
    runs = [_assessed(explicit.replace("grid", g), program) for g in grids]
    times = None
    met = [t for t in out.answers.times_s.values() if t is not None]
    if full.refine[1] < 2 and met:
        short_s = max(1.5 * max(met), duration)
        short = plan(case.trial, s, short_s)
        if short is not None and short.refine[1] >= 2:
            t_grids = [grid_at(case.trial, s, o) for o in short.offsets]
            cut = explicit.replace("after_exposure_s", short_s - duration)
            times = (short, t_grids, [_assessed(cut.replace("grid", g), program) for g in t_grids])
    same = int(full.refine[0]) if full.diagonal and full.refine[0] == full.refine[1] else 1
    answers, error, orders, notes = reference_answers(out.answers, runs, max(1, same // 2),
                                                      times[2] if times else None)
    if full.refine != (2.0 * REFINE, 2.0 * REFINE):
        notes.append(f"{full.text()} (the program's capacity)")
    if times is not None:
        notes.append(f"criterion times on runs of {times[0].run_s:.4g} s: {times[0].text()}")
    out.reference = Reference(full, grids, runs, answers, times, error, orders, notes, time.time() - t1)
    return out


@dataclass
class CommandLine:
    """The ``assess --spread --all-skins`` case: its exit status, the table's rows and what it printed."""

    command: list[str]
    status: int
    rows: int
    stdout: str
    stderr: str
    wall_s: float

    @property
    def bands(self) -> list[tuple[str, float, str, bool]]:
        """(what, value, band, held): exit status 0 and one row per kinetics and skin preset."""
        return [("routine command line assess --spread --all-skins: exit status", float(self.status), "0",
                 self.status == 0),
                ("routine command line assess --spread --all-skins: table rows", float(self.rows),
                 f"{SPREAD_ROWS} (each kinetics on each skin)", self.rows == SPREAD_ROWS)]


def table_rows(stdout: str) -> int:
    """The rows of the spread table the command printed: the lines after its header line, which
    names the skin and the kinetics; 0 without that header."""
    lines = [line for line in stdout.splitlines() if line.strip()]
    for i, line in enumerate(lines):
        words = line.split()
        if words[:1] == ["skin"] and "kinetics" in words:
            return len(lines) - i - 1
    return 0


def run_command_line(trial: sb.Trial, program: sb.Program) -> CommandLine:
    """``python3 -m skinburn assess --trial JET.json --spread --all-skins`` on the jet trial."""
    package = Path(sb.__file__).resolve().parent.parent
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(package)] + ([os.environ["PYTHONPATH"]]
                                                                        if os.environ.get("PYTHONPATH") else [])))
    with tempfile.TemporaryDirectory(prefix="vv-routine-") as d:
        path = Path(d) / "jet.json"
        path.write_text(json.dumps(trial.to_dict()), encoding="utf-8")
        cmd = [sys.executable, "-m", "skinburn", "assess", "--trial", str(path), "--spread", "--all-skins",
               "--skinburn", str(program.path)]
        t0 = time.time()
        done = subprocess.run(cmd, capture_output=True, text=True, env=env, stdin=subprocess.DEVNULL, timeout=1200)
        shown = ["python3", "-m", "skinburn", "assess", "--trial", "jet.json", "--spread", "--all-skins"]
        return CommandLine(shown, done.returncode, table_rows(done.stdout), done.stdout, done.stderr,
                           time.time() - t0)


@dataclass
class Routine:
    """Every routine case, the command-line case and the pass's wall time (s)."""

    outcomes: list[Outcome]
    command_line: CommandLine
    quick: bool
    wall_s: float
    workers: int

    @property
    def bands(self) -> list[tuple[str, float, str, bool]]:
        """(what, value, band, held) of every case."""
        return [b for o in self.outcomes for b in o.bands] + self.command_line.bands


def routine(quick: bool = False, program: Optional[Union[str, sb.Program]] = None, workers: int = 2) -> Routine:
    """Run every routine case (``workers`` side by side) and the command-line case."""
    prog = sb.Program.find(program)
    t0 = time.time()
    todo = cases(quick)
    with ThreadPoolExecutor(max_workers=workers) as pool:
        jobs = [pool.submit(run_case, c, prog) for c in todo]
        cli = pool.submit(run_command_line, _jet(), prog)
        outcomes = [j.result() for j in jobs]
        command_line = cli.result()
    return Routine(outcomes, command_line, quick, time.time() - t0, workers)


# --- The document ----------------------------------------------------------------------

def _um(x: Optional[float]) -> str:
    return "none" if x is None else f"{x * 1e6:.4g}"


def _s(x: Optional[float]) -> str:
    return "none" if x is None else f"{x:.4g}"


def _cell(route: Optional[float], ref: Optional[float], show, diff: float, band: float) -> str:
    """'route / reference (difference)', the difference in bold when it leaves its band."""
    if route is None and ref is None:
        return "none / none"
    d = "met on one side only" if math.isinf(diff) else f"{diff:.2%}"
    return f"{show(route)} / {show(ref)} ({'**' + d + '**' if diff > band else d})"


def _grid(g: sb.Grid) -> str:
    """'5.16 µm, 3.91 ms' (DELTAT in s from 1 s)."""
    dt = f"{g.deltat_s * 1e3:.3g} ms" if g.deltat_s < 1.0 else f"{g.deltat_s:.3g} s"
    return f"{g.deltax_m * 1e6:.3g} µm, {dt}"


def _degree(d: Optional[int]) -> str:
    return "no verdict" if d is None else str(d)


def _escape(text: str) -> str:
    return text.replace("|", "/").replace("\n", " ")


def markdown(r: Routine, command: str) -> str:
    """docs/routine.md."""
    from .report import _bands_table, _table  # the tables of the other documents
    held = [o for o in r.outcomes if o.held]
    failed = [o for o in r.outcomes if not o.held]
    raised = [o for o in r.outcomes if o.raised is not None]
    cli_ok = all(b[3] for b in r.command_line.bands)
    route_s = sum(o.wall_s for o in r.outcomes)
    ref_s = sum(o.reference.wall_s for o in r.outcomes if o.reference is not None)
    L = ["# Routine trials: the default route against a fine grid", "",
         f"Written by `{command}` on the current build; do not edit by hand. Numbers are from the package's "
         "default route, `r = sb.run(trial); a = sb.assess(r)`, on ready-made trials of `skinburn.scenarios`.", "",
         f"**Summary.** {len(held)} of {len(r.outcomes)} cases agree with their reference within the bands"
         + (f"; {len(failed)} do not ({len(raised)} of them because the default route raised). " if failed else ". ")
         + "The command line's `assess --spread --all-skins` "
         + ("printed its table and exited 0. " if cli_ok else "**failed**. ")
         + f"Wall time {r.wall_s:.0f} s with {r.workers} runs side by side ({route_s:.0f} s in the default routes, "
         f"{ref_s:.0f} s in the references, summed over the cases).", "",
         "## Method", "",
         "- **Route**: each trial as `skinburn.scenarios` makes it, with its `AutoGrid` (BDF2, every answer to "
         "1 % by Richardson estimates) and `AutoCooling`; `sb.run` settles both, `sb.assess` judges the run.",
         f"- **Reference**: the explicit trial the route settled on (the grid of `r.settlement` and its "
         f"`after_exposure_s`, so the same cooling time), run again on two fixed grids {REFINE} and "
         f"{2 * REFINE} times finer in space and in time (less where the program's {MAX_NODES} nodes and "
         f"{MAX_STEPS} steps do not hold them: noted per case), each assessed as the route is, and extrapolated: "
         "R = f₂ + (f₂ − f₁)/3, order 2 in space (central differences) and in time (BDF2), Omega in ln. Where "
         "not even one refinement of a dimension fits, that dimension's pair is the settled grid and one twice "
         "as coarse, the other dimension is refined apart (three runs, each dimension's difference extrapolated "
         "on its own); where it is the step that does not fit, the criterion times come from shorter runs on "
         "finer steps as well, half as long again as the latest time the route met (the march to a time is "
         "the same whatever the run's end). A finer "
         "spacing keeps the epidermis base halfway between two nodes, as the automatic grid does, so successive "
         "spacings are in the ratio 2 + 1/(2m − 1), not 2: the remainder that leaves is at most 3 % of the "
         "difference. The reference's degree is that of the extrapolated Omega at the epidermis and dermis bases "
         "(none while the damage still grew at the end of the finest run).",
         f"- **Bands**: the degree equal; each criterion time (first, second, third degree) within "
         f"{TIME_BAND:.0%}; each depth Omega = 0.53 and 1 reach within {DEPTH_BAND:.0%}. Not met on both sides "
         "agrees; met on one side only does not. A route that raises fails, its exception shown.",
         "- **Reference's own error**: |R − f₂| / R of the least settled answer (f₂ the finest grid's); the "
         "*order* column is the lowest order the answers show over the settled grid and the two reference grids "
         "where both dimensions were refined together and at least twice (2 expected; – where the differences "
         "do not fall steadily or it cannot be measured). An order below 2 means the extrapolation under-corrects: "
         "the reference's error is then up to (2² − 1)/(2^p − 1) times the one shown.", "",
         "## Cases", "",
         "Each cell: route / reference (relative difference; bold where it leaves its band). Times in s, "
         "depths in µm.", ""]
    rows = []
    for o in r.outcomes:
        name = f"{o.case.key}"
        if o.raised is not None:
            kind, _, message = o.raised.partition(":")
            rows.append([name, f"raised `{_escape(kind)}`: {_escape(message.strip())}",
                         "–", "–", "–", "–", "–", "–", "**NO**"])
            continue
        s = o.settlement
        a = o.answers
        grid = f"{_grid(s.grid)}, cooling {s.after_exposure_s:g} s, {s.runs} runs"
        if o.reference is None:
            rows.append([name, grid, _degree(a.degree), *(_s(a.times_s[d]) for d in DEGREES),
                         *(_um(a.depths_m[t]) for t in THRESHOLDS),
                         f"**NO**: no reference ({_escape(o.no_reference or '')})"])
            continue
        ref = o.reference.answers
        d = o.differences()
        degree = f"{_degree(a.degree)} / {_degree(ref.degree)}" + ("" if d["degree"] == 0 else " **≠**")
        rows.append([name, grid, degree,
                     *(_cell(a.times_s[k], ref.times_s[k], _s, d[f"time {k}"], TIME_BAND) for k in DEGREES),
                     *(_cell(a.depths_m[t], ref.depths_m[t], _um, d[f"depth {t:g}"], DEPTH_BAND) for t in THRESHOLDS),
                     "yes" if o.held else "**NO**"])
    L += [_table(["Case", "Settled grid", "Degree", "1st degree at", "2nd degree at", "3rd degree at",
                  "Omega ≥ 0.53 reaches", "Omega ≥ 1 reaches", "Held"], rows), ""]
    cl = r.command_line
    L += [f"**Command line** (`{' '.join(cl.command)}`, the jet at 900 K and 100 m/s for 0.1 s): exit status "
          f"{cl.status}, {cl.rows} table rows (expected {SPREAD_ROWS}), {cl.wall_s:.1f} s.", "",
          "```", cl.stdout.rstrip() or "(nothing on standard output)", "```", ""]
    if cl.status != 0 and cl.stderr.strip():
        L += ["Standard error:", "", "```", cl.stderr.strip()[-2000:], "```", ""]
    L += ["## References", "",
          "The fixed grids of each reference (the finest first), how they stand to the settled grid, the "
          "reference's own estimated error (its least settled answer) and the lowest order its answers show.", ""]
    rows = []
    for o in r.outcomes:
        f = o.reference
        if f is None:
            rows.append([o.case.key, "–", "–", "–", "–", f"{o.wall_s:.1f}", "–",
                         _escape(o.no_reference or "the route raised: no settled trial")])
            continue
        err = max(f.error.items(), key=lambda kv: kv[1], default=None)
        orders = [(p, q) for q, p in f.orders.items() if p is not None]
        low = min(orders, default=None)
        rows.append([o.case.key, "; ".join(_grid(g) for g in f.grids), f.plan.text(),
                     f"{err[1]:.2%} ({err[0]})" if err else "–", f"{low[0]:.2f} ({low[1]})" if low else "–",
                     f"{o.wall_s:.1f}", f"{f.wall_s:.1f}", _escape("; ".join(f.notes))])
    L += [_table(["Case", "Reference grids (DELTAX, DELTAT)", "Refined", "Reference's error",
                  "Lowest order", "Route (s)", "Reference (s)", "Notes"], rows), ""]
    L += ["## Bands", "", "Checked by every pass of `vv/run.sh` (the CTest test `vv.bands` runs the quick set).", "",
          _bands_table(r.bands), ""]
    return "\n".join(L)
