"""Threshold search: where a chosen burn degree is first reached as one quantity varies.

The measure searched is continuous: ln(Omega / threshold) at the depth of
the degree's criterion (:data:`skinburn.assessment.CRITERIA`), under the chosen
kinetics. It is 0 where the degree is just reached. SciPy's ``brentq``
(Brent's bracketing method) finds the root between the two ends given,
which must lie on opposite sides of it; otherwise :class:`BracketError`
says what each end gave. Every evaluation is one run of the program.

An automatic grid or cooling time is settled on the trial at the root
(found first with each trial on its own first grid), the root is found
again with them, and so on at each new root until the trial there settles
on the grid and cooling time its root was found with; all evaluations of
the final answer share one grid and one cooling time. Omega is judged at
a run's end only once the damage has stopped growing: a data directory's
run is carried on past its end at the root (:func:`skinburn.runs.run_on`),
and a root whose damage still grows and cannot run on raises
:class:`StillGrowing`.

Holds :func:`search`, :func:`search_many`, :class:`SearchJob`,
:class:`SearchResult`, :class:`SearchFailure`, :class:`BracketError`,
:class:`StillGrowing` and the job files of GNU parallel. Uses
:mod:`skinburn.runs` (every evaluation is a run), :mod:`skinburn.assessment`,
:mod:`skinburn.criteria`, :mod:`skinburn.datadir`, :mod:`skinburn.tables`,
:mod:`skinburn.trial` and the modules below them.
"""
from __future__ import annotations

import dataclasses
import json
import math
import os
import shutil
import socket
import sys
import tempfile
from concurrent.futures import Executor, ProcessPoolExecutor
from dataclasses import KW_ONLY, dataclass, field, fields
from pathlib import Path
from typing import Any, Callable, Optional, Sequence, Union


from .assessment import GROWTH_TOLERANCE, cooling_growth, omega_at_depth
from .criteria import KineticsByDegree, KineticsLike, criterion, kinetics_for, kinetics_from_dict
from .datadir import DataDirectory, write_whole
from .dispatch import ExecutorShutDown, gnu_parallel, on_executor  # noqa: F401 - the error stood here before
from .exposure import Series
from .kinetics import Kinetics
from .program import Program
from .results import Results
from .runs import run, run_on, settle
from .writer import legs
from .skin import Skin
from .tables import RunOn, phase_edits
from .trial import MAX_STEPS, AutoCooling, AutoGrid, Grid, Trial, trial_from_dict
from .units import SkinburnError, Temperature, celsius, kelvin

PathLike = Union[str, os.PathLike]
Vary = Union[str, Callable[[float], Trial]]

#: The note an exception of :func:`search` carries when it refused the search's arguments before any
#: run (a range, a varied name, a unit or an end value that cannot be); :class:`SearchFailure` ``refused``.
REFUSED_NOTE = "the search's arguments were refused before any run"


class BracketError(SkinburnError, ValueError):
    """The two ends of the range do not lie on opposite sides of the threshold.

    ``ends`` holds ``(x, ln(Omega/threshold))`` for both ends.
    """

    def __init__(self, message: str, ends: tuple[tuple[float, float], ...]) -> None:
        super().__init__(message)
        self.ends = ends


@dataclass(frozen=True)
class SearchResult:
    """Where a burn degree is first reached.

    ``value`` is the root found (in the unit of the varied quantity);
    ``unburnt_value`` and ``burnt_value`` the closest values evaluated on
    either side of it (the degree not reached, and reached);
    ``runs`` counts every run of the program, settling included;
    ``evaluations`` lists (value, ln(Omega/threshold)); ``deltax_m``,
    ``deltat_s`` and ``after_exposure_s`` are the grid and cooling time at
    ``value`` (an automatic grid keeps the levels it settled at, so that
    its step follows the exposure's duration). ``uncertainty``
    is the estimated numerical error of ``value`` (its unit) where an
    automatic grid was settled at the root under the search's kinetics and
    skin: the error of ln Omega at the criterion depth on that grid
    (``Settlement.uncertainty``) over the slope of ln(Omega/threshold)
    between the two evaluations closest to the root on either side; else
    None.
    """

    vary: str
    degree: int
    threshold: float
    depth_m: float
    kinetics: str
    value: float
    unburnt_value: float
    burnt_value: float
    runs: int
    evaluations: tuple[tuple[float, float], ...]
    xtol: float
    rtol: float
    deltax_m: Optional[float] = None
    deltat_s: Optional[float] = None
    after_exposure_s: Optional[float] = None
    labels: dict = field(default_factory=dict)
    uncertainty: Optional[float] = None

    def row(self) -> dict:
        """A flat dict for CSV."""
        return {**self.labels, "vary": self.vary, "degree": self.degree, "kinetics": self.kinetics,
                "value": self.value, "uncertainty": self.uncertainty, "unburnt_value": self.unburnt_value,
                "burnt_value": self.burnt_value, "runs": self.runs, "xtol": self.xtol, "rtol": self.rtol, "deltax_m": self.deltax_m,
                "deltat_s": self.deltat_s, "after_exposure_s": self.after_exposure_s, "error": ""}


def _trial_setter(base: Trial, vary: str, unit: Optional[str]) -> Callable[[float], Trial]:
    """x -> the trial with the field at ``vary`` set to x (a temperature in ``unit``)."""
    current = base.get(vary)
    is_temp = isinstance(current, Temperature) or (isinstance(current, Series) and current.is_temperature)
    if is_temp:
        if unit not in ("K", "C"):
            raise TypeError(f"{vary} is a temperature: give unit='C' or unit='K'")
        make = celsius if unit == "C" else kelvin
        return lambda x: base.replace(vary, make(float(x)))
    if unit not in (None, ""):
        raise TypeError(f"{vary} is not a temperature; it takes no unit")
    if isinstance(current, (Series, int, float)) or current is None:
        return lambda x: base.replace(vary, float(x))
    raise TypeError(f"{vary} holds {type(current).__name__}, not a number to vary")


#: The smallest Omega the measure takes (ln 1e-300 = -690.8): below it the damage is nil.
_OMEGA_FLOOR = 1e-300


class _Evaluator:
    """Runs one evaluation of the measure per value and keeps count."""

    def __init__(self, base: Union[Trial, DataDirectory], vary: Vary, degree: int, kinetics: Optional[KineticsLike],
                 skin: Optional[Skin], unit: Optional[str], program: Program, after: Optional[RunOn] = None) -> None:
        self.program = program
        self.crit = criterion(degree)
        self.base = base
        self.runs = 0
        self.points: list[tuple[float, float]] = []
        self.after = after
        self.after_s = 0.0
        self.recent: list[tuple[float, Results]] = []
        if isinstance(base, DataDirectory):
            if skin is None:
                raise ValueError("a search on a data directory needs the skin whose criterion depths it uses")
            if not isinstance(vary, str):
                raise TypeError("on a data directory, vary names a value (see skinburn.datadir)")
            self.skin = skin
            self.kinetics: Optional[Kinetics] = kinetics_for(kinetics, degree)
            self.make: Callable[[float], Any] = lambda x: {vary: x}
        else:
            if isinstance(base.kinetics, KineticsByDegree):
                # The search judges one degree: its trials are run (and settled) under that degree's model.
                base = base.replace("kinetics", base.kinetics.kinetics(degree))
                self.base = base
            self.skin = skin or base.skin
            self.kinetics = kinetics_for(kinetics, degree, kinetics_for(base.kinetics, degree))
            self.make = vary if callable(vary) else _trial_setter(base, vary, unit)
        self.depth_m = self.skin.criterion_depths_m[0 if self.crit.layer == "epidermis" else 1]

    def measure(self, res: Results) -> float:
        res.require_finite()
        kin = self.kinetics or res.program_kinetics
        om = omega_at_depth(res.temperature_K, res.deltat_s, res.deltax_m, self.depth_m, kin,
                            res.conductivity_W_mK)
        return math.log(max(om, _OMEGA_FLOOR) / self.crit.threshold)

    def on_floor(self, m: float) -> bool:
        """Whether a measure is at its floor (Omega below what a float holds, taken as that)."""
        return m <= math.log(_OMEGA_FLOOR / self.crit.threshold)

    def results(self, x: float, run_on_from: Optional[float] = None) -> Results:
        """The run at ``x``. A data directory is edited, and carried on ``after_s`` past its end with
        ``after``; with ``run_on_from`` (s) instead carried on while its damage grows
        (:func:`skinburn.runs.run_on`, starting from that time)."""
        if isinstance(self.base, DataDirectory):
            work = Path(tempfile.mkdtemp(prefix="sb-"))
            try:
                edited = self.base.edited(self.make(x), work / "d")
                if run_on_from is not None and self.after is not None:
                    cooling = AutoCooling(GROWTH_TOLERANCE, run_on_from or None)
                    res = run_on(edited, self.skin, self.kinetics, self.after, cooling, self.program,
                                 growth_depth_m=self.depth_m)
                    self.runs += len(res.run_on.steps) if res.run_on is not None else 0
                elif self.after_s > 0 and self.after is not None:
                    files = phase_edits(edited, self.after, self.after_s)
                    for file, data in files.items():
                        write_whole(work / "d" / file, data)
                    res = run(work / "d", self.program)
                else:
                    res = run(edited, self.program)
            finally:
                shutil.rmtree(work, ignore_errors=True)
        else:
            # Judged by the package's own integration alone: the program marches only.
            res = run(self.make(x), self.program, march_only=True)
        self.runs += 1 + (res.settlement.runs - 1 if res.settlement is not None else 0)
        return res

    def __call__(self, x: float) -> float:
        for px, pm in self.points:
            if px == x:
                return pm
        res = self.results(x)
        m = self.measure(res)
        self.points.append((x, m))
        self.recent = (self.recent + [(x, res)])[-3:]
        return m

    def nearest(self, x: float) -> Optional[Results]:
        """The results of the recent evaluation closest to ``x`` (one of the last three), if any."""
        if not self.recent:
            return None
        return min(self.recent, key=lambda p: abs(p[0] - x))[1]


def search(base: Union[Trial, DataDirectory, str, os.PathLike], vary: Vary, lo: float, hi: float, *,
           degree: int = 2, kinetics: Optional[KineticsLike] = None, skin: Optional[Skin] = None, unit: Optional[str] = None,
           xtol: Optional[float] = None, rtol: float = 1e-3, maxiter: int = 100,
           program: Optional[Union[Program, PathLike]] = None, labels: Optional[dict] = None,
           after: Optional[RunOn] = RunOn()) -> SearchResult:
    """Find the value of ``vary`` in [``lo``, ``hi``] where burn ``degree`` (1, 2, 3) is first reached.

    ``vary`` is a dotted field of the trial (``exposure.duration_s``,
    ``exposure.flux_W_m2``, ``exposure.gas_temperature``,
    ``exposure.standoff_m``), a function value -> trial, or for a data
    directory a name of :mod:`skinburn.datadir`. A temperature field takes
    ``unit`` ``"C"`` or ``"K"``; a field holding a series is replaced by a
    constant. ``kinetics`` defaults to the trial's (the program's constants
    for a data directory); under a model per degree
    (:class:`~skinburn.criteria.KineticsByDegree`, given or the trial's) the
    search judges, runs and settles under ``degree``'s model alone, and
    its result names that model. ``skin`` defaults to the trial's. The root is found to
    ``xtol`` + ``rtol`` * |value| (``xtol`` defaults to 1e-6 of the range).
    A run whose temperature history holds NaN or infinity raises
    :class:`~skinburn.results.NonFiniteHistory`.

    Omega is judged at a run's end only once the damage has stopped
    growing there (:func:`~skinburn.assessment.cooling_growth` of Omega at the
    criterion depth, the one the search judges, at most 1 % at the root):
    a trial's :class:`~skinburn.trial.AutoCooling` runs on, a
    data directory is carried on past its end with ``after`` (default: the
    face insulated; :func:`skinburn.runs.run_on`), and a fixed cooling time,
    ``after=None`` or a phase the face cannot take raise
    :class:`StillGrowing` when the damage at the root still grew.
    """
    with Program.find(program).resident() as prog:  # the many small runs of a search, without a process each
        return _search(base, vary, lo, hi, prog, degree=degree, kinetics=kinetics, skin=skin, unit=unit, xtol=xtol,
                       rtol=rtol, maxiter=maxiter, labels=labels, after=after)


def _search(base: Union[Trial, DataDirectory, str, os.PathLike], vary: Vary, lo: float, hi: float, prog: Program, *,
            degree: int, kinetics: Optional[KineticsLike], skin: Optional[Skin], unit: Optional[str],
            xtol: Optional[float], rtol: float, maxiter: int, labels: Optional[dict],
            after: Optional[RunOn]) -> SearchResult:
    """:func:`search` on the program ``prog``."""
    try:  # the arguments, before any run: a refusal here is the caller's (a usage error)
        if not (math.isfinite(lo) and math.isfinite(hi)):
            raise ValueError(f"the range must be finite, not {lo!r} to {hi!r}")
        if not hi > lo:
            raise ValueError(f"the range must ascend: lo {lo} < hi {hi}")
        if isinstance(base, (str, os.PathLike)):
            base = DataDirectory(base, prog)
        ev = _Evaluator(base, vary, degree, kinetics, skin, unit, prog, after)
        for end in (lo, hi):  # both ends are values the trial (or the directory's words) can take
            ev.base.edits(ev.make(end)) if isinstance(ev.base, DataDirectory) else ev.make(end)
    except (ValueError, TypeError, KeyError, AttributeError, FileNotFoundError) as exc:
        exc.add_note(REFUSED_NOTE)
        raise
    name = vary if isinstance(vary, str) else getattr(vary, "__name__", "value")
    tol = xtol if xtol is not None else 1e-6 * (hi - lo)
    if isinstance(base, Trial) and not ev.make(hi).resolved:
        found = _settled_search(ev, name, degree, lo, hi, tol, rtol, maxiter, prog, labels)
        if not isinstance(ev.make(hi).after_exposure_s, AutoCooling):
            _fixed_cooling_check(ev, found.value, name, prog)
            found = dataclasses.replace(found, runs=ev.runs)
        return found
    grid_info: tuple[Optional[float], Optional[float], Optional[float]] = (None, None, None)
    if isinstance(base, Trial):
        top = ev.make(hi)
        g, cooling = top.grid, top.after_exposure_s
        assert isinstance(g, Grid) and not isinstance(cooling, AutoCooling), "a resolved trial, as tested above"
        grid_info = (g.deltax_m, g.deltat_s, float(cooling))
    return _grown_search(ev, name, degree, lo, hi, tol, rtol, maxiter, prog, labels, grid_info)


def _fixed_cooling_check(ev: "_Evaluator", root: float, name: str, prog: Program) -> None:
    """:class:`StillGrowing` unless the damage had stopped growing by the end of the fixed cooling
    time, in the run closest to ``root`` (the last evaluations lie within the search's tolerance
    of it; on the grid the search used)."""
    res = ev.nearest(root)
    if res is None:
        res = run(ev.make(root), prog, march_only=True)
        ev.runs += 1
    growth = cooling_growth(res, ev.skin, ev.kinetics or res.program_kinetics, ev.depth_m)
    if growth > GROWTH_TOLERANCE:
        raise StillGrowing(
            f"the damage still grew {100 * growth:.3g} % over the last quarter of the run at the root "
            f"({name} = {root:g}), more than the {100 * GROWTH_TOLERANCE:g} % allowed: give the trial a "
            "longer after_exposure_s, or AutoCooling()", root, growth)


def find_threshold(measure: Callable[[float], float], lo: float, hi: float, xtol: float, rtol: float = 1e-3,
                   maxiter: int = 100, name: str = "value", what: str = "the threshold") -> float:
    """The root of a continuous ``measure`` in [``lo``, ``hi``] by Brent's bracketing method (SciPy).

    ``measure`` is negative where the threshold is not reached and positive
    where it is (or the other way round); the ends must differ in sign, else
    :class:`BracketError` names both values. The root is found to
    ``xtol`` + ``rtol`` * |root|.
    """
    f_lo, f_hi = measure(lo), measure(hi)
    if f_lo == 0.0:
        return lo
    if f_hi == 0.0:
        return hi
    if not (math.isfinite(f_lo) and math.isfinite(f_hi)):
        raise BracketError(f"the measure is not finite at an end ({name} = {lo:g}: {f_lo}; {hi:g}: {f_hi})",
                           ((lo, f_lo), (hi, f_hi)))
    if (f_lo > 0) == (f_hi > 0):
        side = "reached" if f_lo > 0 else "not reached"
        raise BracketError(f"no bracket: {what} is {side} at both ends ({name} = {lo:g}: {f_lo:.4g}; "
                           f"{name} = {hi:g}: {f_hi:.4g}); widen the range", ((lo, f_lo), (hi, f_hi)))
    from scipy.optimize import brentq  # SciPy loads only when a root is wanted

    return float(brentq(measure, lo, hi, xtol=xtol, rtol=rtol, maxiter=maxiter))


def _bracketed_root(ev: "_Evaluator", name: str, degree: int, lo: float, hi: float, tol: float, rtol: float,
                    maxiter: int, start_only: bool = False) -> tuple[float, Optional[float], Optional[float]]:
    """The root of the measure in [lo, hi]; BracketError, with Omega at both ends, when there is none.
    A root that only starts a search on another grid (``start_only``) is the first value run that the
    secant puts well within the tolerance of it, whatever the bracket then."""
    f_lo, f_hi = ev(lo), ev(hi)
    if (f_lo > 0) == (f_hi > 0) and f_lo != 0 and f_hi != 0:
        thr = ev.crit.threshold

        def omega(f: float) -> str:
            value = thr * math.exp(f)
            return "0" if value < 1e-290 else f"{value:.3g}"
        side = "reached" if f_lo > 0 else "not reached"
        raise BracketError(
            f"no bracket: burn degree {degree} (Omega {thr:g} at {ev.depth_m * 1e6:.0f} um) is {side} at both "
            f"ends: Omega {omega(f_lo)} at {name} = {lo:g}, {omega(f_hi)} at {name} = {hi:g}; widen the range",
            ((lo, f_lo), (hi, f_hi)))
    if f_lo == 0.0 or f_hi == 0.0:
        root = lo if f_lo == 0.0 else hi
        return root, root, root
    a, b = _off_the_floor(ev, lo, hi, f_lo, f_hi, tol, rtol)
    if a > 0:
        # Omega grows about as a power of a duration, a flux or a temperature: its log is near linear in
        # the log of the value, so the root is sought there (|d ln x| <= rtol + tol / hi keeps the tolerance).
        ends = {math.log(a): a, math.log(b): b}
        xtol_u = rtol + tol / b
        seen: list[tuple[float, float]] = []

        def in_log(u: float) -> float:
            m = ev(ends.get(u, math.exp(u)))
            seen.append((u, m))
            close = _secant_close(seen, xtol_u) if start_only else None
            if close is not None:
                raise _Close(close)
            return m
        try:
            u = find_threshold(in_log, math.log(a), math.log(b), xtol_u, _BRENT_RTOL, maxiter, f"ln {name}")
        except _Close as done:
            u = done.root
        root = ends.get(u, min(b, max(a, math.exp(u))))
    else:
        root = find_threshold(ev, a, b, tol, rtol, maxiter, name)
    return root, None, None


class _Close(SkinburnError):
    """Raised out of Brent's method once the secant puts the root well within the tolerance; caught
    where it is raised (:func:`_bracketed_root`), never seen outside."""

    def __init__(self, root: float) -> None:
        super().__init__(root)
        self.root = root


def _secant_close(seen: list[tuple[float, float]], xtol: float) -> Optional[float]:
    """The last evaluation's value, once it (of ``seen``: (value, measure) pairs, in order) is within a
    tenth of ``xtol`` of the root by the secant to the closest evaluation of the other sign; else None.
    Brent's method ends only when its bracket is within the tolerance, which costs a run or two more on
    a smooth measure; the value returned is one already run, so its run serves what follows."""
    x, m = seen[-1]
    other = [p for p in seen[:-1] if (p[1] > 0) != (m > 0) and math.isfinite(p[1])]
    if not other or not math.isfinite(m):
        return None
    ox, om = min(other, key=lambda p: abs(p[0] - x))
    if om == m:
        return None
    step = -m * (ox - x) / (om - m)
    return x if abs(step) <= 0.1 * xtol else None


def _off_the_floor(ev: "_Evaluator", lo: float, hi: float, f_lo: float, f_hi: float, tol: float,
                   rtol: float) -> tuple[float, float]:
    """A bracket within [lo, hi] whose ends both have a measure above its floor (Omega too small to
    represent, which says on which side of the root an end lies but not how far, and would hold Brent's
    method to bisection): the bracket is halved (at its geometric middle when lo > 0) while an end is
    on the floor, or until it is within the tolerance."""
    for _ in range(64):
        if not (ev.on_floor(f_lo) or ev.on_floor(f_hi)):
            break
        mid = math.sqrt(lo * hi) if lo > 0 else 0.5 * (lo + hi)
        if hi - lo <= tol + rtol * abs(mid) or not lo < mid < hi:
            break
        f = ev(mid)
        if f == 0.0:
            return mid, mid
        if (f > 0) == (f_lo > 0):
            lo, f_lo = mid, f
        else:
            hi, f_hi = mid, f
    return lo, hi


#: The smallest relative tolerance SciPy's Brent method takes (4 machine epsilons).
_BRENT_RTOL = 4 * 2.220446049250313e-16
#: The relative tolerance of the root on the first grids, which only starts the search on the settled grid.
_FIRST_RTOL = 1e-2
#: How many times a search settles its grid, cooling time or run-on at a new root before it gives up.
_MAX_SETTLINGS = 5


class RootNotSettled(SkinburnError, RuntimeError):
    """The grid, or the time carried on past the run, kept changing the root it was settled at."""


class StillGrowing(SkinburnError, ValueError):
    """The damage was still growing at the end of the run at a search's root, and the search could
    not run on (a fixed cooling time, or a phase the data directory's face cannot take):
    ``growth`` is :func:`skinburn.assessment.cooling_growth` there (about the relative growth over the
    last quarter of the run), ``value`` the root."""

    def __init__(self, message: str, value: float, growth: float) -> None:
        super().__init__(message)
        self.value = value
        self.growth = growth


def _settled_search(ev: "_Evaluator", name: str, degree: int, lo: float, hi: float, tol: float, rtol: float,
                    maxiter: int, prog: Program, labels: Optional[dict]) -> SearchResult:
    """A search on a trial whose grid or cooling time is automatic.

    1. The root is found with each trial on its own first grid and first
       cooling time (:class:`~skinburn.trial.AutoGrid`,
       :class:`~skinburn.trial.AutoCooling`): cheap runs that also show at
       once whether the range brackets the root.
    2. Grid and cooling time are settled on the trial at that root by the
       one answer the search finds (Omega at the criterion depth, to within
       the grid's tolerance), so their tolerances bound the error of the
       answer itself.
    3. On the settled grid the measure differs from the first grids' by an
       offset that varies slowly with the value (the grids' error): one run
       on the settled grid is made a step from the settled run along the
       first grids' slope there (:func:`_newton_guess`; where they give
       none, at the root of the first grids' measure plus the offset),
       aimed half the tolerance past the root so that the two most often
       bracket it, and the root is the secant's between the settled runs
       (another settled run only while the secant still moves by more than
       the tolerance, or closes in from one side).
    4. A root more than 10 % from the one the grid was settled at is
       settled again there.

    When the grid is given and the cooling starts from a given time
    (``AutoCooling(start_s=...)``), step 1 already ran every trial as
    settled whenever the root's cooling time stays at that start: the root
    stands without a second search.
    """
    make = ev.make
    given = make(hi)
    same_as_first = (None if isinstance(given.grid, AutoGrid) or not isinstance(given.after_exposure_s, AutoCooling)
                     or given.after_exposure_s.start_s is None else float(given.after_exposure_s.start_s))

    cooled_s = 0.0  # s: the first runs' cooling at the least (longer once the range's top needed it)

    def first(x: float) -> Trial:
        t = make(x)
        if isinstance(t.grid, AutoGrid):
            t = t.replace("grid", t.grid.grid(t.skin, t.exposure.duration_s, 0, 0))
        if isinstance(t.after_exposure_s, AutoCooling):
            after = t.after_exposure_s.first_s(t.exposure.duration_s)
            if cooled_s > after and isinstance(t.grid, Grid):
                # As long as the top needed, as far as the program holds it on this trial's step.
                room = (MAX_STEPS - 1) * t.grid.deltat_s - t.exposure.duration_s
                after = max(after, min(cooled_s, room))
            t = t.replace("after_exposure_s", after)
        return t
    ev.make = first
    while True:
        try:
            if same_as_first is None:
                # The first grids' root only starts the search on the settled grid: to 1 % is enough.
                root, unburnt, burnt = _bracketed_root(ev, name, degree, lo, hi, tol, max(rtol, _FIRST_RTOL),
                                                       maxiter, start_only=True)
            else:
                root, unburnt, burnt = _bracketed_root(ev, name, degree, lo, hi, tol, rtol, maxiter)
            break
        except BracketError as missed:
            # Not reached at the top of the range: perhaps only not yet. Its damage may still grow long
            # after the exposure (a third degree, minutes after a flash fire), so the top's cooling is
            # carried on first; where that reaches the degree, the first runs all cool that long.
            longer = _cooling_that_reaches(ev, hi, missed) if cooled_s == 0.0 else None
            if longer is None:
                raise
            cooled_s = longer
            ev.points, ev.recent = [], []
    coarse = dict(ev.points)
    answers = frozenset({f"degree {degree}"})
    for _ in range(_MAX_SETTLINGS):
        top = make(root)
        model = ev.kinetics or kinetics_for(top.kinetics, degree)
        assert model is not None, "a trial's kinetics name every degree"
        explicit, settlement, chosen = settle(top, prog, 0, None, growth_at=(ev.depth_m, model),
                                              answers=answers, known=ev.nearest(root), march_only=True)
        ev.runs += settlement.runs
        grid, after = explicit.grid, explicit.after_exposure_s
        assert isinstance(grid, Grid) and not isinstance(after, AutoCooling), "settle returns an explicit trial"
        if not isinstance(top.grid, AutoGrid) and float(after) == same_as_first:
            break
        settled_at = root
        m0 = ev.measure(chosen)
        settled = _on_settled(make, grid, after, settlement.levels)
        root, unburnt, burnt = _root_on_settled(ev, first, settled, coarse, root, m0, lo, hi, tol, rtol, maxiter,
                                                name, degree)
        if abs(root - settled_at) <= 0.1 * abs(settled_at):
            break
        ev.make = first
    else:
        raise RootNotSettled(f"the grid and cooling time did not settle at the root within {_MAX_SETTLINGS} "
                             f"settlings (last root {name} = {root:g}): give the trial a Grid(...) and "
                             f"after_exposure_s, or loosen AutoGrid's tolerance")
    at_root = _on_settled(make, grid, after, settlement.levels)(root).grid
    assert isinstance(at_root, Grid), "a grid at its settled levels"
    found = _result(ev, name, degree, root, unburnt, burnt, tol, rtol,
                    (at_root.deltax_m, at_root.deltat_s, float(after)), labels)
    same_model = ev.kinetics is None or ev.kinetics == kinetics_for(top.kinetics, degree)
    if isinstance(top.grid, AutoGrid) and same_model and ev.skin == top.skin:
        key = "omega 1" if ev.crit.layer == "epidermis" else "omega 2"
        found = dataclasses.replace(found, uncertainty=_root_uncertainty(found, settlement.uncertainty.get(key)))
    return found


def _cooling_that_reaches(ev: "_Evaluator", hi: float, missed: BracketError) -> Optional[float]:
    """The cooling time (s) at which the run at ``hi`` (the range's top, on its first grid) reaches the
    degree, doubling it from the first while Omega at the criterion depth still grows and the program
    can hold the run; None when the degree is not the one missed at the top, the cooling is not
    automatic, or the damage stops (or the capacity ends) short of the degree."""
    (_, f_lo), (_, f_hi) = missed.ends
    top = ev.make(hi)
    auto = ev.base.after_exposure_s if isinstance(ev.base, Trial) else None
    if f_hi > 0 or f_lo > 0 or not isinstance(auto, AutoCooling) or not isinstance(top.grid, Grid):
        return None
    after = float(top.after_exposure_s)
    for _ in range(auto.max_doublings):
        res = run(top.replace("after_exposure_s", after), ev.program, march_only=True)
        ev.runs += 1
        if ev.measure(res) >= 0:
            return after
        # Omega still 0 there counts as not arrived yet: the cooling goes on.
        if cooling_growth(res, ev.skin, ev.kinetics or res.program_kinetics, ev.depth_m, at_root=True) \
                <= auto.tolerance:
            return None
        after *= 2
        try:
            legs(top.replace("after_exposure_s", after))  # the capacity check, before the run
        except ValueError:
            return None
    return None


def _on_settled(make: Callable[[float], Trial], grid: Grid, after: Any,
                levels: tuple[int, int]) -> Callable[[float], Trial]:
    """The trial at a value on the settled grid and cooling ``after``: an automatic grid at the levels it
    settled at (``levels``), so that the exposure ends on a step at every value as where it was
    settled; a grid that is given (or a data directory's) as it is (``grid``)."""
    def settled(x: float) -> Trial:
        t = make(x)
        g = t.grid.grid(t.skin, t.exposure.duration_s, *levels) if isinstance(t.grid, AutoGrid) else grid
        t = t.replace("grid", g).replace("after_exposure_s", after)
        try:
            legs(t)  # the capacity check, before any run
        except ValueError as beyond:
            raise RootNotSettled(f"the search cannot run the value {x:g} on the grid and cooling time it settled "
                                 f"({after:g} s after the exposure, steps of {g.deltat_s:.3g} s): {beyond}; give "
                                 f"the trial a Grid(...) and after_exposure_s, or search a narrower range") \
                from None
        return t
    return settled


def _root_on_settled(ev: "_Evaluator", first: Callable[[float], Trial], settled: Callable[[float], Trial],
                     coarse: dict[float, float], near: float, m_near: float, lo: float, hi: float,
                     tol: float, rtol: float, maxiter: int, name: str,
                     degree: int) -> tuple[float, Optional[float], Optional[float]]:
    """The root on the settled grid and cooling time (``settled``: the trial at a value), from the settled
    run at ``near`` (its measure ``m_near``) and the first grids' measure (``coarse``, value -> measure,
    extended as needed)."""
    def first_measure(x: float) -> float:
        if x not in coarse:
            ev.make = first
            coarse[x] = ev(x)
        return coarse[x]
    guess = _newton_guess(coarse, near, m_near, ev.on_floor)
    if guess is None or not lo <= guess <= hi:
        # No slope to step along: the root of the first grids' measure plus its offset at ``near``.
        offset = m_near - first_measure(near)

        def corrected(x: float) -> float:
            return first_measure(x) + offset
        half = 0.025 * (hi - lo)
        guess = near
        for a, b in ((max(lo, near - half), min(hi, near + half)), (lo, hi)):
            fa, fb = corrected(a), corrected(b)
            if (fa > 0) != (fb > 0) or fa == 0 or fb == 0:
                guess = find_threshold(corrected, a, b, tol, rtol, maxiter, name)
                break
    if guess != near:
        # Aimed half the tolerance past the root the first grids give: where their slope holds to that,
        # the run lands on the far side of the root from ``near``, and the two bracket it at once.
        guess = min(hi, max(lo, guess + math.copysign(0.5 * (tol + rtol * abs(guess)), guess - near)))
    ev.make = settled
    ev.points, ev.recent = [(near, m_near)], []
    xs = [near, guess]
    ms = [m_near, ev(guess) if guess != near else m_near]
    for _ in range(maxiter):
        if ms[-1] == 0.0:
            return xs[-1], None, None
        if xs[-1] == xs[-2] or ms[-1] == ms[-2]:
            break
        step = -ms[-1] * (xs[-1] - xs[-2]) / (ms[-1] - ms[-2])
        x = min(hi, max(lo, xs[-1] + step))
        straddle = (ms[-1] > 0) != (ms[-2] > 0)
        close = tol + rtol * abs(x)
        if abs(x - xs[-1]) <= close:
            if straddle:
                return x, None, None
            # Closing in from one side: one run half the tolerance past the root brackets it.
            x = min(hi, max(lo, x + math.copysign(0.5 * close, step)))
        xs.append(x)
        ms.append(ev(x))
    # The secant did not close in: Brent's method on the settled grid from the runs made.
    return _rebracketed_root(ev, name, degree, xs[-1], lo, hi, tol, rtol, maxiter)


def _newton_guess(coarse: dict[float, float], near: float, m_near: float,
                  on_floor: Callable[[float], bool]) -> Optional[float]:
    """A step from ``near`` (the settled grid's measure there ``m_near``) along the first grids' slope
    there: the secant of the two first-grid evaluations closest to ``near`` whose Omega is above the floor
    (``on_floor``), in the log of the value when both are positive (where the measure is near linear).
    None where the first grids give no such pair, or a flat one."""
    pts = sorted(((x, m) for x, m in coarse.items() if math.isfinite(m) and not on_floor(m)),
                 key=lambda p: abs(p[0] - near))
    if len(pts) < 2:
        return None
    (xa, ma), (xb, mb) = pts[:2]
    if ma == mb:
        return None
    if xa > 0 and xb > 0 and near > 0:
        return near * math.exp(-m_near * (math.log(xb) - math.log(xa)) / (mb - ma))
    return near - m_near * (xb - xa) / (mb - ma)


def _root_uncertainty(found: SearchResult, ln_omega_error: Optional[float]) -> Optional[float]:
    """The error of a root (its unit) from the error of ln Omega there and the slope of the measure
    between the closest evaluations on either side of it."""
    below = [p for p in found.evaluations if p[1] < 0]
    above = [p for p in found.evaluations if p[1] >= 0]
    if ln_omega_error is None or not below or not above:
        return None
    a = min(below, key=lambda p: abs(p[0] - found.value))
    b = min(above, key=lambda p: abs(p[0] - found.value))
    if a[0] == b[0] or a[1] == b[1]:
        return None
    slope = abs((b[1] - a[1]) / (b[0] - a[0]))
    return ln_omega_error / slope


def _rebracketed_root(ev: "_Evaluator", name: str, degree: int, near: float, lo: float, hi: float, tol: float,
                      rtol: float, maxiter: int) -> tuple[float, Optional[float], Optional[float]]:
    """The root again, from a bracket of 5 % of the range around ``near`` (the whole range if that fails)."""
    half = 0.025 * (hi - lo)
    a, b = max(lo, near - half), min(hi, near + half)
    try:
        return _bracketed_root(ev, name, degree, a, b, tol, rtol, maxiter)
    except BracketError:
        return _bracketed_root(ev, name, degree, lo, hi, tol, rtol, maxiter)


def _grown_search(ev: "_Evaluator", name: str, degree: int, lo: float, hi: float, tol: float, rtol: float,
                  maxiter: int, prog: Program, labels: Optional[dict],
                  grid_info: tuple[Optional[float], Optional[float], Optional[float]]) -> SearchResult:
    """A search whose runs are judged at their end only once the damage there has stopped growing.

    On a trial with a fixed cooling time, the trial at the root must show
    the damage stopped growing (else :class:`StillGrowing`). On a data
    directory the run at the root is carried on past its end with
    ``ev.after`` (:func:`skinburn.runs.run_on`) when its damage still grows;
    the root is then found again with every run carried on that long, and
    so on at each new root until the time carried on settles there. With
    ``ev.after`` None, or a phase the face cannot take, a root whose damage
    still grows raises :class:`StillGrowing`.
    """
    after_s = ev.after_s = _carried_on_at_ends(ev, lo, hi)
    root, unburnt, burnt = _bracketed_root(ev, name, degree, lo, hi, tol, rtol, maxiter)
    for _ in range(_MAX_SETTLINGS):
        if isinstance(ev.base, Trial):
            _fixed_cooling_check(ev, root, name, prog)
            break
        res = ev.results(root, run_on_from=after_s if ev.after is not None else None)
        record = res.run_on
        growth = cooling_growth(res, ev.skin, ev.kinetics or res.program_kinetics, ev.depth_m) if record is None \
            else record.growth if record.growth is not None else record.growth_as_given
        if growth > GROWTH_TOLERANCE:
            why = f" ({record.text()})" if record is not None else (
                " (give after=RunOn(...) to carry the run on past its end)" if ev.after is None else "")
            raise StillGrowing(f"the damage still grew {100 * growth:.3g} % over the last quarter of the run at "
                               f"the root ({name} = {root:g}), more than the {100 * GROWTH_TOLERANCE:g} % "
                               f"allowed{why}", root, growth)
        now = record.after_s if record is not None else 0.0
        if now <= after_s:  # carried on long enough there (longer changes nothing once the damage stopped)
            break
        after_s = ev.after_s = now
        ev.points, ev.recent = [], []
        root, unburnt, burnt = _rebracketed_root(ev, name, degree, root, lo, hi, tol, rtol, maxiter)
    else:
        raise RootNotSettled(f"the time carried on past the run did not settle at the root within "
                             f"{_MAX_SETTLINGS} settlings (last root {name} = {root:g}): lengthen the data "
                             f"directory's run (TIMESTEPS) or loosen AutoCooling's tolerance")
    if not isinstance(ev.base, Trial):
        grid_info = (None, None, after_s)
    return _result(ev, name, degree, root, unburnt, burnt, tol, rtol, grid_info, labels)


def _carried_on_at_ends(ev: "_Evaluator", lo: float, hi: float) -> float:
    """How long (s) a data directory's run is carried on past its end for both ends of the range to
    be judged once their damage has stopped growing (the longer of the two; 0 for a trial, with
    ``after`` None, or where the damage had stopped): the bracket is judged on the damage
    :func:`~skinburn.assessment.assess` judges, not on Omega at the moment the given run ends."""
    if isinstance(ev.base, Trial) or ev.after is None:
        return 0.0
    times = []
    for x in (lo, hi):
        record = ev.results(x, run_on_from=0.0).run_on
        times.append(record.after_s if record is not None else 0.0)
    return max(times)


def _result(ev: _Evaluator, name: str, degree: int, root: float, unburnt: Optional[float],
            burnt: Optional[float], xtol: float, rtol: float,
            grid_info: tuple[Optional[float], Optional[float], Optional[float]], labels: Optional[dict]) -> SearchResult:
    pts = ev.points
    if unburnt is None or burnt is None:
        below = [p for p in pts if p[1] < 0]
        above = [p for p in pts if p[1] >= 0]
        unburnt = min(below, key=lambda p: abs(p[0] - root))[0]
        burnt = min(above, key=lambda p: abs(p[0] - root))[0]
    kin = ev.kinetics.name if ev.kinetics is not None else "as the program read it"
    return SearchResult(name, degree, ev.crit.threshold, ev.depth_m, kin, root, float(unburnt), float(burnt),
                        ev.runs, tuple(pts), xtol, rtol, *grid_info, labels=dict(labels or {}))


# --- Many searches side by side ------------------------------------------------

@dataclass(frozen=True)
class SearchJob:
    """The arguments of one :func:`search`, the program apart (each machine finds its own); ``labels``
    are copied into its result (for CSV rows). Keyword-only after ``hi``, as :func:`search` is."""

    base: Union[Trial, str]
    vary: Vary
    lo: float
    hi: float
    _: KW_ONLY
    degree: int = 2
    kinetics: Optional[KineticsLike] = None
    skin: Optional[Skin] = None
    unit: Optional[str] = None
    xtol: Optional[float] = None
    rtol: float = 1e-3
    maxiter: int = 100
    labels: dict = field(default_factory=dict)
    after: Optional[RunOn] = RunOn()

    def options(self) -> dict[str, Any]:
        """The keyword arguments of :func:`search` this job gives (all but the program)."""
        return {f.name: getattr(self, f.name) for f in fields(self) if f.kw_only}


@dataclass(frozen=True)
class SearchFailure:
    """A search of :func:`search_many` that failed: its labels, the error's text and type name;
    ``refused`` when its arguments were refused before any run (see :data:`REFUSED_NOTE`)."""

    labels: dict
    error: str
    kind: str
    refused: bool = False

    def row(self) -> dict:
        """A flat dict for CSV."""
        return {**self.labels, "error": f"{self.kind}: {self.error}"}


def _program_here(program: str) -> str:
    """The binary a job runs on the machine it runs on: the path it was sent with where that
    machine has it, else that machine's ``$SKINBURN`` (or the package's own build); a
    :class:`FileNotFoundError` naming the machine and both when it has neither."""
    if os.path.isfile(program) and os.access(program, os.X_OK):
        return program
    try:
        return str(Program.find(os.environ.get("SKINBURN") or None).path)
    except FileNotFoundError as exc:
        raise FileNotFoundError(f"{program} is not on {socket.gethostname()}, where this search ran, and "
                                f"nothing else was found ({exc})") from None


def _one(job: SearchJob, program: str) -> Union[SearchResult, SearchFailure]:
    """One search of :func:`search_many`, on whatever machine runs it; never raises."""
    try:
        return search(job.base, job.vary, job.lo, job.hi, **job.options(), program=_program_here(program))
    except Exception as exc:  # one failed search must not stop the others
        return SearchFailure(dict(job.labels), str(exc), type(exc).__name__,
                             REFUSED_NOTE in getattr(exc, "__notes__", ()))


def search_many(searches: Sequence[SearchJob], processes: Optional[int] = None,
                program: Optional[Union[Program, PathLike]] = None, parallel: Optional[Sequence[str]] = None,
                workdir: Optional[PathLike] = None,
                executor: Optional[Executor] = None) -> list[Union[SearchResult, SearchFailure]]:
    """Run searches side by side; results in the order of ``searches``.

    By default in a process pool, ``processes`` at a time (one per CPU).
    With ``executor``, any :class:`concurrent.futures.Executor` runs them
    instead, one task per search (a Dask cluster's ``client.get_executor()``,
    mpi4py's ``MPIPoolExecutor``, a pool of your own); it is not shut down
    here. A task carries the search (its trial, or a data directory's path)
    and the binary's path: a machine that lacks the binary there runs its
    own ``$SKINBURN``, and a data directory must lie at the same path on
    every machine. The worker must import this package.
    With ``parallel`` (a list of GNU parallel options, e.g. ``["--sshlogin",
    "2/host1,2/host2"]`` or ``["--slf", "hosts.txt"]``; ``[]`` for this
    machine alone) each search is one GNU parallel job, so searches spread
    over several machines; as for the study tool, ``workdir``, the package
    and the binary must lie at the same paths there (a shared file system).

    A search that fails gives a :class:`SearchFailure` in its place instead
    of stopping the others; so does a search whose task did not come back
    (its worker killed or lost, the task refused): ``kind`` is the
    executor's exception (``BrokenProcessPool``, ``KilledWorker``, ...).
    An executor already shut down raises :class:`~skinburn.dispatch.ExecutorShutDown` (a ``RuntimeError``) and runs
    nothing.
    """
    path = str(Program.find(program).path)
    if parallel is not None and executor is not None:
        raise ValueError("give parallel or executor, not both")
    if parallel is not None:
        return _search_with_gnu_parallel(searches, path, list(parallel), workdir)
    if executor is not None:
        return _search_with(executor, searches, path)
    workers = processes or os.cpu_count() or 1
    if workers == 1 or len(searches) == 1:
        return [_one(s, path) for s in searches]
    with ProcessPoolExecutor(max_workers=min(workers, len(searches))) as pool:
        return _search_with(pool, searches, path)


def _search_with(executor: Executor, searches: Sequence[SearchJob],
                 program: str) -> list[Union[SearchResult, SearchFailure]]:
    """Each search a task of ``executor``; a task that does not come back is a :class:`SearchFailure`."""
    def lost(k: int, exc: BaseException) -> SearchFailure:
        return SearchFailure(dict(searches[k].labels), "the search did not come back from its worker: "
                             f"{str(exc) or 'no message'}", type(exc).__name__)
    return on_executor(executor, _one, [(job, program) for job in searches], lambda k, r: r, lost, "searches")


# --- Searches as files, for GNU parallel ------------------------------------------

def job_to_dict(job: SearchJob) -> dict:
    """JSON form of a search (the varied value must be named, not a function)."""
    if not isinstance(job.vary, str):
        raise TypeError("a search sent to another process by file must name its varied value")
    base = job.base.to_dict() if isinstance(job.base, Trial) else {"datadir": str(Path(job.base).resolve())}
    out: dict[str, Any] = {"base": base, "vary": job.vary, "lo": job.lo, "hi": job.hi}
    for name, value in job.options().items():
        out[name] = value.to_dict() if name in _JOB_VALUES and value is not None else value
    return out


#: The options of a job held in JSON by their own form (``to_dict`` and ``from_dict``); the rest as they are.
_JOB_VALUES: dict[str, Callable[[dict], Any]] = {"kinetics": kinetics_from_dict, "skin": Skin.from_dict,
                                                  "after": RunOn.from_dict}


def job_from_dict(d: dict) -> SearchJob:
    """The inverse of :func:`job_to_dict`."""
    base = d["base"]["datadir"] if "datadir" in d["base"] else trial_from_dict(d["base"])
    options = {f.name for f in fields(SearchJob) if f.kw_only}
    given = {name: (_JOB_VALUES[name](value) if name in _JOB_VALUES and value is not None else value)
             for name, value in d.items() if name in options}
    if "after" in options and "after" not in d:
        given["after"] = None  # written before "after" was recorded: none
    given["labels"] = given.get("labels") or {}
    return SearchJob(base, d["vary"], d["lo"], d["hi"], **given)


def outcome_to_dict(r: Union[SearchResult, SearchFailure]) -> dict:
    """JSON form of a search's outcome."""
    return {"result": dataclasses.asdict(r)} if isinstance(r, SearchResult) else {"failure": dataclasses.asdict(r)}


def outcome_from_dict(d: dict) -> Union[SearchResult, SearchFailure]:
    """The inverse of :func:`outcome_to_dict`."""
    if "failure" in d:
        return SearchFailure(**d["failure"])
    r = dict(d["result"])
    r["evaluations"] = tuple(tuple(e) for e in r["evaluations"])
    return SearchResult(**r)


def run_job_file(job_path: PathLike, out_path: PathLike, program: str) -> None:
    """Run the search of a job file and write its outcome file (a GNU parallel job)."""
    job = job_from_dict(json.loads(Path(job_path).read_text()))
    outcome = _one(job, program)
    tmp = Path(str(out_path) + ".tmp")
    tmp.write_text(json.dumps(outcome_to_dict(outcome)))
    tmp.replace(Path(out_path))


def _search_with_gnu_parallel(searches: Sequence[SearchJob], program: str, options: list[str],
                              workdir: Optional[PathLike]) -> list[Union[SearchResult, SearchFailure]]:
    work = Path(tempfile.mkdtemp(prefix="sb-searches-", dir=workdir))
    try:
        files = []
        for k, job in enumerate(searches):
            f = work / f"s{k:04d}.json"
            f.write_text(json.dumps(job_to_dict(job)))
            files.append(f)
        package_root = Path(__file__).resolve().parents[1]
        gnu_parallel(["env", f"PYTHONPATH={package_root}", "PYTHONDONTWRITEBYTECODE=1", sys.executable, "-m",
                      "skinburn", "search-job", "--skinburn", program, "{}", "{.}.out.json"],
                     [str(f) for f in files], options)
        out = []
        for f, job in zip(files, searches):
            done = f.with_suffix(".out.json")
            if done.exists():
                out.append(outcome_from_dict(json.loads(done.read_text())))
            else:
                out.append(SearchFailure(dict(job.labels), "the GNU parallel job wrote no result", "JobError"))
        return out
    finally:
        shutil.rmtree(work, ignore_errors=True)
