"""The model-form spread: one exposure judged under every kinetics preset, and where asked every
skin preset and a range of absorptivities, as one table.

:func:`spread` gives the burn degree, Omega at the criterion depths, the
depth Omega = 1 reaches and the time each criterion is met;
:func:`search_spread` the threshold a search finds. Each combination is
its own trial: a trial's skin and kinetics are replaced (its grid and
cooling time settled for each), its absorbed flux scaled by the
absorptivity; on a data directory the skin gives only the criterion depths
and the run is carried on past its end as :func:`skinburn.runs.run_on` does.
Uses :mod:`skinburn.assessment`, :mod:`skinburn.runs` and :mod:`skinburn.searches`.
"""
from __future__ import annotations

import dataclasses
import os
from dataclasses import dataclass
from typing import Optional, Sequence, Union

from .assessment import Assessment, assess
from .datadir import DataDirectory
from .exposure import HeatFlux, Series
from .criteria import KineticsLike, kinetics_for, resolved
from .kinetics import KINETICS
from .program import Program
from .runs import run, run_on
from .searches import SearchFailure, SearchJob, SearchResult, search_many
from .skin import Skin, criteria_label
from .tables import RunOn
from .trial import Trial

PathLike = Union[str, os.PathLike]
Subject = Union[Trial, DataDirectory, PathLike]


@dataclass(frozen=True)
class SpreadRow:
    """One combination of the spread: ``skin`` and ``kinetics`` names, ``absorptivity`` (None: as
    given) and its :class:`~skinburn.assessment.Assessment`."""

    skin: str
    absorptivity: Optional[float]
    kinetics: str
    assessment: Assessment

    def row(self) -> dict:
        """A flat dict for CSV."""
        return {"skin": self.skin, "absorptivity": self.absorptivity, **self.assessment.row()}


def _absorbed(trial: Trial, absorptivity: Optional[float]) -> Trial:
    """The trial with its absorbed flux scaled by ``absorptivity`` (a number between 0 and 1)."""
    if absorptivity is None:
        return trial
    if not 0.0 < absorptivity <= 1.0:
        raise ValueError(f"an absorptivity lies in (0, 1], not {absorptivity!r}")
    exposure = trial.exposure
    if not isinstance(exposure, HeatFlux):
        raise ValueError("an absorptivity scales a radiant flux: the trial's exposure must be a HeatFlux")
    flux = exposure.flux_W_m2
    scaled = Series(flux.times_s, [absorptivity * v for v in flux.values]) if isinstance(flux, Series) \
        else absorptivity * float(flux)
    return trial.replace("exposure.flux_W_m2", scaled)


def _combinations(subject: Subject, skins: Optional[Sequence[Skin]], absorptivities: Optional[Sequence[float]],
                  kinetics: Optional[Sequence[KineticsLike]], skin: Optional[Skin]
                  ) -> list[tuple[Skin, Optional[float], KineticsLike]]:
    if not isinstance(subject, Trial):
        if absorptivities:
            raise ValueError("an absorptivity range needs a trial with a HeatFlux (a data directory's flux "
                             "is its own)")
        if not skins and skin is None:
            raise ValueError("give the skin whose criterion depths a data directory is judged at")
    kins: list[KineticsLike] = list(kinetics) if kinetics else list(KINETICS.values())
    if isinstance(subject, Trial):  # a model per degree: the degrees it leaves open keep the trial's
        kins = [resolved(k, subject.kinetics) for k in kins]
    if skins:
        skin_list = list(skins)
    elif skin is not None:
        skin_list = [skin]
    else:
        assert isinstance(subject, Trial), "a data directory was given its skin above"
        skin_list = [subject.skin]
    absorb: list[Optional[float]] = list(absorptivities) if absorptivities else [None]
    return [(s, a, k) for s in _judged_skins(subject, skin_list) for a in absorb for k in kins]


def _judged_skins(subject: Subject, skins: list[Skin]) -> list[Skin]:
    """The skins a spread runs: a trial's as given; on a data directory, which keeps its own material
    and takes only the criterion depths of a skin, one per pair of depths, named for what differs
    (:func:`~skinburn.skin.criteria_label`)."""
    if isinstance(subject, Trial):
        return skins
    groups: dict[tuple[float, float], list[Skin]] = {}
    for s in skins:
        epidermis_m, dermis_m = s.criterion_depths_m
        depths = (round(epidermis_m, 12), round(dermis_m, 12))
        groups.setdefault(depths, []).append(s)  # to the picometre: 80 um + 2 mm is 2.08 mm
    out = []
    for (epidermis, dermis), same in groups.items():
        names = ", ".join(s.name for s in same)
        name = f"{epidermis * 1e6:.4g} and {dermis * 1e6:.4g} um ({names})"
        out.append(dataclasses.replace(same[0], name=criteria_label(name, False)))
    return out


def spread(subject: Subject, skin: Optional[Skin] = None, *, skins: Optional[Sequence[Skin]] = None,
           absorptivities: Optional[Sequence[float]] = None, kinetics: Optional[Sequence[KineticsLike]] = None,
           after: Optional[RunOn] = RunOn(), program: Optional[Union[Program, PathLike]] = None) -> list[SpreadRow]:
    """The burn under every kinetics preset (or ``kinetics``), for each of ``skins`` (default: the
    trial's, or ``skin``) and each of ``absorptivities`` (trials with a HeatFlux only).

    An item of ``kinetics`` may be a model per degree
    (:class:`~skinburn.criteria.KineticsByDegree`; the degrees it leaves
    open keep the trial's model, or the constants a data directory's
    program read), its row named for each model and the degrees it judges.

    A trial is run once per combination, its skin, kinetics and absorbed flux replaced. A data
    directory is run and carried on past its end with ``after`` (None: as it stands) once per skin
    and kinetics (the growth judged is theirs). A combination whose damage still grew gives an
    assessment without a degree (:func:`skinburn.assessment.assess`).
    """
    prog = Program.find(program)
    if isinstance(subject, (str, os.PathLike)):
        subject = DataDirectory(subject, prog)
    rows = []
    with prog.resident() as resident:  # every combination's runs, without a process each
        for s, a, k in _combinations(subject, skins, absorptivities, kinetics, skin):
            if isinstance(subject, Trial):
                res = run(_absorbed(subject.replace("skin", s).replace("kinetics", k), a), resident)
            elif after is None:
                res = run(subject, resident)
            else:
                res = run_on(subject, s, k, after, program=resident)
            rows.append(SpreadRow(s.name, a, k.name, assess(res, s, k)))
    return rows


def search_spread(base: Union[Trial, PathLike], vary: str, lo: float, hi: float, degree: int = 2,
                  skin: Optional[Skin] = None, *, skins: Optional[Sequence[Skin]] = None,
                  absorptivities: Optional[Sequence[float]] = None, kinetics: Optional[Sequence[KineticsLike]] = None,
                  unit: Optional[str] = None, rtol: float = 1e-3, after: Optional[RunOn] = RunOn(),
                  processes: Optional[int] = None, program: Optional[Union[Program, PathLike]] = None
                  ) -> list[Union[SearchResult, SearchFailure]]:
    """The threshold of one search (:func:`skinburn.searches.search`) under every combination of
    :func:`spread`, side by side (:func:`skinburn.searches.search_many`); each result's ``labels``
    name its skin, absorptivity and kinetics (under a model per degree, the model of ``degree``, the one
    the search judges)."""
    subject: Union[Trial, str] = base if isinstance(base, Trial) else str(base)
    jobs = []
    for s, a, k in _combinations(base if isinstance(base, Trial) else str(base), skins, absorptivities,
                                 kinetics, skin):
        labels = {"skin": s.name, "absorptivity": a, "kinetics": (kinetics_for(k, degree) or k).name}
        if isinstance(subject, Trial):
            trial = _absorbed(subject.replace("skin", s).replace("kinetics", k), a)
            jobs.append(SearchJob(trial, vary, lo, hi, degree=degree, kinetics=k, skin=s, unit=unit, rtol=rtol,
                                  labels=labels, after=after))
        else:
            jobs.append(SearchJob(subject, vary, lo, hi, degree=degree, kinetics=k, skin=s, unit=unit, rtol=rtol,
                                  labels=labels, after=after))
    return search_many(jobs, processes, program)


def spread_table(rows: Sequence[Union[SpreadRow, SearchResult, SearchFailure]]) -> str:
    """The rows of :func:`spread` or :func:`search_spread` as one text table."""
    def um(v: Optional[float]) -> str:
        return "-" if v is None else f"{v * 1e6:.0f}"

    def g(v: Optional[float]) -> str:
        return "-" if v is None else f"{v:.3g}"
    header: tuple[str, ...]
    body: list[tuple[str, ...]] = []
    spread_rows = [r for r in rows if isinstance(r, SpreadRow)]
    if spread_rows and len(spread_rows) != len(rows):
        raise TypeError("a table holds the rows of spread or those of search_spread, not both")
    if spread_rows:
        header = ("skin", "absorptivity", "kinetics", "degree", "Omega epidermis base", "Omega dermis base",
                  "Omega>=1 reaches (um)", "2nd degree at (s)")
        body = [(r.skin, g(r.absorptivity), r.kinetics,
                 "no verdict" if r.assessment.degree is None else str(r.assessment.degree),
                 g(r.assessment.omega_epidermis_base), g(r.assessment.omega_dermis_base),
                 um(r.assessment.depth_reached_m.get(1.0)), g(r.assessment.criterion_times_s.get(2)))
                for r in spread_rows]
    else:
        header = ("skin", "absorptivity", "kinetics", "threshold", "runs")
        for r in rows:
            assert not isinstance(r, SpreadRow)
            lab = r.labels
            found = f"{r.vary} = {r.value:.6g}" if isinstance(r, SearchResult) else f"{r.kind}: {r.error}"
            body.append((lab.get("skin", ""), g(lab.get("absorptivity")), lab.get("kinetics", ""), found,
                         str(r.runs) if isinstance(r, SearchResult) else "-"))
    widths = [max(len(h), *(len(b[i]) for b in body)) if body else len(h) for i, h in enumerate(header)]
    lines = ["  ".join(h.ljust(w) for h, w in zip(header, widths)).rstrip()]
    lines += ["  ".join(c.ljust(w) for c, w in zip(b, widths)).rstrip() for b in body]
    return "\n".join(lines)
