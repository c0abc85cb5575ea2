"""Validation: predicted times to a burn against human burn data.

Two data sets (``vv/data/``, each with its source and uncertainty):

- the Stoll curve (Stoll & Chianta 1969): exposure time to a second-degree
  burn against the heat flux, 1-30 s;
- hot-water contact (Moritz & Henriques 1947): time to transepidermal
  necrosis against the water temperature, 44-70 °C;

and, by regime, the comparisons of :mod:`vv.regimes` (contact depth, deep-dermal scalds, a flash on
pre-cooled skin, short hot-gas jets).

The model of both: Torvi and Dale's layered skin (1994), 32.5 °C at the
surface to 37 °C at the inner face (held there), a second-degree burn
(transepidermal necrosis) when Omega reaches 1 at the base of the epidermis
(80 µm), damage counted during the exposure and after it until it stops
growing there (the package's AutoCooling: from 60 s on the Stoll curve, from
the exposure's own length in hot water, doubled while Omega at 80 µm grew by
more than 1 % over the last quarter of the run).
The predicted time is the exposure duration at which Omega just reaches 1,
found by the package's search (Brent's method on ln Omega) on a fixed grid.
Each point is found again with ``DELTAX`` and ``DELTAT`` halved: the change
is its numerical uncertainty.
"""
from __future__ import annotations

import csv
import math
from dataclasses import dataclass, field
from pathlib import Path
from typing import Optional, Union

import skinburn as sb
from skinburn.scenarios import flash_fire, hot_liquid

from . import regimes as rg

DATA = Path(__file__).resolve().parent / "data"

#: Bands on the Stoll curve with Weaver-Stoll kinetics and absorbed = tabulated flux.
STOLL_MAX_ERROR = 0.10
STOLL_MAX_BIAS = 0.05
UNCERTAINTY_MAX = 0.005

#: The time after the exposure: from COOLING_S on the Stoll curve, from the exposure's own duration in hot
#: water (hours long at 44-45 C); doubled until Omega at the epidermis base grew by at most 1 % over the
#: last quarter of the run, at the search's root.
COOLING_S = 60.0
COOLING = {"stoll": sb.AutoCooling(start_s=COOLING_S), "water": sb.AutoCooling()}
#: Epidermis base halfway between two nodes: 80 µm / 7.5 (10.7 µm) and, halved, 80 µm / 15.5 (5.16 µm).
BASE_DX_M = 80e-6 / 7.5
FINE_DX_M = 80e-6 / 15.5
BASE_DT_S = 0.01
#: The most steps a long hot-water exposure is given on the base grid (its DELTAT grows beyond 0.01 s).
MAX_BASE_STEPS = 12000
RTOL = 2e-5
#: Where a predicted time is looked for, as multiples of the measured time.
SEARCH_RANGE = {"stoll": (0.2, 20.0), "water": (0.01, 300.0)}
NOT_REACHED = "no second-degree burn within {high:g} times the measured time"

KINETICS = (sb.WEAVER_STOLL_1969, sb.HENRIQUES_1947, sb.PROGRAM_DEFAULT)


def _rows(name: str) -> list[dict[str, str]]:
    with open(DATA / name, encoding="utf-8") as f:
        return list(csv.DictReader(line for line in f if not line.startswith("#")))


def data_header(name: str) -> list[str]:
    """The comment lines (source, uncertainty) of a data file, without their '# '."""
    with open(DATA / name, encoding="utf-8") as f:
        return [line[2:].rstrip("\n") for line in f if line.startswith("#")]


def stoll_points() -> list[tuple[float, float]]:
    """(exposure time s, heat flux W/m^2) of the Stoll curve."""
    return [(float(r["exposure_time_s"]), float(r["heat_flux_kW_m2"]) * 1e3) for r in _rows("stoll_chianta_1969.csv")]


def hot_water_points() -> list[dict]:
    """Water temperature °C, time s (and its range), confidence, as cited."""
    return [{"water_C": float(r["water_temperature_C"]), "time_s": float(r["time_s"]),
             "low_s": float(r["time_low_s"]), "high_s": float(r["time_high_s"]), "cited": r["cited_as"],
             "confidence": r["confidence"]} for r in _rows("moritz_henriques_1947.csv")]


@dataclass
class Point:
    """One predicted point: measured time, predicted time on the base grid and on the halved grid."""

    dataset: str
    kinetics: str
    absorptivity: float
    x: float  # flux W/m^2 or water °C
    measured_s: float
    predicted_s: Optional[float] = None
    fine_s: Optional[float] = None
    note: str = ""
    runs: int = 0
    deltat_s: float = BASE_DT_S
    extra: dict = field(default_factory=dict)

    @property
    def ratio(self) -> Optional[float]:
        """Predicted over measured."""
        return None if self.predicted_s is None else self.predicted_s / self.measured_s

    @property
    def uncertainty(self) -> Optional[float]:
        """|fine / base - 1|: the numerical uncertainty of the prediction."""
        if self.predicted_s is None or self.fine_s is None:
            return None
        return abs(self.fine_s / self.predicted_s - 1)


def _trial(p: Point, kin: sb.Kinetics, duration_s: float) -> sb.Trial:
    if p.dataset == "stoll":
        return flash_fire(p.absorptivity * p.x, duration_s, kinetics=kin)
    return hot_liquid(sb.celsius(p.x), duration_s, kinetics=kin)


def _job(p: Point, kin: sb.Kinetics, lo: float, hi: float, dx: float, dt: float, tag: int) -> sb.SearchJob:
    trial = _trial(p, kin, lo).replace("grid", sb.Grid(dx, dt, time_scheme="backward-euler")).replace("after_exposure_s", COOLING[p.dataset])
    return sb.SearchJob(trial, "exposure.duration_s", lo, hi, degree=2, xtol=1e-9 * lo, rtol=RTOL,
                        labels={"tag": tag})


def _run_s(p: Point, exposure_s: float) -> float:
    """The length (s) of a run of ``exposure_s`` with its first cooling time."""
    return exposure_s + COOLING_S if p.dataset == "stoll" else 2 * exposure_s


def _base_dt(p: Point, hi_s: float) -> float:
    return max(BASE_DT_S, _run_s(p, hi_s) / MAX_BASE_STEPS)


def predict(points: list[Point], uncertainty: set[int], processes: int = 2,
            program: Optional[Union[str, sb.Program]] = None) -> None:
    """Fill in ``predicted_s`` (and ``fine_s`` for the indices in ``uncertainty``) of every point.

    Stage 1 finds the time on a cheap grid (twice the spacing, 3000 steps, within :data:`SEARCH_RANGE`
    times the measured time), and again within a factor 4 of that with the step fitted to it; stage 2
    on the base grid within 25 % of it; stage 3 on the halved grid within 3 % of stage 2.
    """
    kin = {k.name: k for k in KINETICS}
    prog = sb.Program.find(program)

    def many(jobs: list[sb.SearchJob]) -> list:
        return sb.search_many(jobs, processes=processes, program=prog) if jobs else []

    first: dict[int, float] = {}
    jobs = []
    for i, p in enumerate(points):
        low, high = SEARCH_RANGE[p.dataset]
        lo, hi = low * p.measured_s, high * p.measured_s
        jobs.append(_job(p, kin[p.kinetics], lo, hi, 2 * BASE_DX_M, max(0.02, _run_s(p, hi) / 3000), i))
    for r in many(jobs):
        i = r.labels["tag"]
        if isinstance(r, sb.SearchFailure):
            low, high = SEARCH_RANGE[points[i].dataset]
            if "is not reached at both ends" in r.error:
                points[i].note = NOT_REACHED.format(high=high)
            elif "is reached at both ends" in r.error:
                points[i].note = f"a burn already at {low:g} times the measured time"
            else:
                points[i].note = r.error
            points[i].extra["stage1_error"] = r.error
            continue
        first[i] = r.value
        points[i].runs += r.runs
    # A second cheap pass within a factor 4, its step fitted to the first answer rather than the range.
    jobs = [_job(points[i], kin[points[i].kinetics], x / 4, 4 * x, 2 * BASE_DX_M,
                 max(0.02, _run_s(points[i], 4 * x) / 3000), i) for i, x in first.items()]
    for r in many(jobs):
        i = r.labels["tag"]
        if isinstance(r, sb.SearchFailure):
            points[i].note = r.error
            del first[i]
            continue
        first[i] = r.value
        points[i].runs += r.runs
    jobs = []
    for i, x1 in first.items():
        p = points[i]
        p.deltat_s = _base_dt(p, 1.25 * x1)
        jobs.append(_job(p, kin[p.kinetics], 0.75 * x1, 1.25 * x1, BASE_DX_M, p.deltat_s, i))
    for r in many(jobs):
        i = r.labels["tag"]
        if isinstance(r, sb.SearchFailure):
            points[i].note = r.error
            continue
        points[i].predicted_s = r.value
        points[i].extra["after_s"] = r.after_exposure_s
        points[i].runs += r.runs
    jobs = []
    for i in uncertainty:
        p = points[i]
        if p.predicted_s is None:
            continue
        x2 = p.predicted_s
        jobs.append(_job(p, kin[p.kinetics], 0.97 * x2, 1.03 * x2, FINE_DX_M, p.deltat_s / 2, i))
    for r in many(jobs):
        i = r.labels["tag"]
        if isinstance(r, sb.SearchFailure):
            points[i].note = (points[i].note + " " if points[i].note else "") + "halved grid: " + r.error
            continue
        points[i].fine_s = r.value
        points[i].runs += r.runs


@dataclass(frozen=True)
class Stats:
    """Mean bias and largest error of predicted / measured - 1 over the points that have a prediction."""

    count: int
    mean_bias: float
    largest_error: float
    low: float
    high: float

    @classmethod
    def of(cls, points: list[Point]) -> Optional["Stats"]:
        """Statistics of ``points`` (None when none has a prediction)."""
        r = [p.ratio for p in points if p.ratio is not None]
        if not r:
            return None
        e = [x - 1 for x in r]
        return cls(len(r), sum(e) / len(e), max(abs(x) for x in e), min(r), max(r))


@dataclass
class Validation:
    """Every validation point."""

    stoll: list[Point]
    hot_water: list[Point]
    quick: bool
    regimes: Optional[rg.Regimes] = None

    def stoll_set(self, kinetics: str, absorptivity: float) -> list[Point]:
        """The Stoll points of one kinetics model and absorptivity."""
        return [p for p in self.stoll if p.kinetics == kinetics and p.absorptivity == absorptivity]

    def water_set(self, kinetics: str) -> list[Point]:
        """The hot-water points of one kinetics model."""
        return [p for p in self.hot_water if p.kinetics == kinetics]

    @property
    def bands(self) -> list[tuple[str, float, str, bool]]:
        """(what, value, band, held) for every banded number."""
        out = []
        pts = self.stoll_set(sb.WEAVER_STOLL_1969.name, 1.0)
        s = Stats.of(pts)
        missing = sum(p.ratio is None for p in pts)
        out.append(("Stoll curve, Weaver-Stoll, absorbed = tabulated: points without a prediction", float(missing),
                    "0", missing == 0))
        if s:
            out.append(("Stoll curve, Weaver-Stoll, absorbed = tabulated: largest error", s.largest_error,
                        f"<= {STOLL_MAX_ERROR:g}", s.largest_error <= STOLL_MAX_ERROR))
            out.append(("Stoll curve, Weaver-Stoll, absorbed = tabulated: mean bias", s.mean_bias,
                        f"within +-{STOLL_MAX_BIAS:g}", abs(s.mean_bias) <= STOLL_MAX_BIAS))
        for p in self.stoll + self.hot_water:
            u = p.uncertainty
            if u is not None:
                what = (f"numerical uncertainty, {p.dataset} {p.x / 1e3 if p.dataset == 'stoll' else p.x:g} "
                        f"{'kW/m2' if p.dataset == 'stoll' else 'C'}, {p.kinetics}, a = {p.absorptivity:g}")
                out.append((what, u, f"< {UNCERTAINTY_MAX:g}", u < UNCERTAINTY_MAX))
        if self.regimes is not None:
            out += self.regimes.bands
        return out


def validate(quick: bool = False, processes: int = 2,
             program: Optional[Union[str, sb.Program]] = None) -> Validation:
    """Predict every point; ``quick`` does the banded Stoll set alone, the uncertainty at every seventh point."""
    stoll: list[Point] = []
    configs = [(sb.WEAVER_STOLL_1969, 1.0)]
    if not quick:
        configs += [(sb.WEAVER_STOLL_1969, 0.94), (sb.HENRIQUES_1947, 1.0), (sb.HENRIQUES_1947, 0.94),
                    (sb.PROGRAM_DEFAULT, 1.0), (sb.PROGRAM_DEFAULT, 0.94)]
    for kin, a in configs:
        for t, q in stoll_points():
            stoll.append(Point("stoll", kin.name, a, q, t))
    water: list[Point] = []
    if not quick:
        for kin in KINETICS:
            for w in hot_water_points():
                water.append(Point("water", kin.name, 1.0, w["water_C"], w["time_s"],
                                   extra={"cited": w["cited"], "confidence": w["confidence"],
                                          "low_s": w["low_s"], "high_s": w["high_s"]}))
    points = stoll + water
    if quick:
        unc = set(range(0, len(stoll), 7))
    else:
        unc = set(range(len(points)))
    predict(points, unc, processes, program)
    return Validation(stoll, water, quick, rg.evaluate(quick, processes, program))
