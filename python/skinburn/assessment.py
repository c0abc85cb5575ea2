"""Burn degree at the end of a trial, from Omega at the base of the epidermis and of the dermis.

The criteria (table :data:`CRITERIA`):

- first degree: Omega >= 0.53 at the base of the epidermis;
- second degree: Omega >= 1 at the base of the epidermis;
- third degree: Omega >= 1 at the base of the dermis.

Omega at a depth comes from the history there (straight lines between
nodes, the flux-matching temperature at a layer boundary:
:func:`skinburn.results.depth_weights`). The depth each threshold reaches is
the deepest point where Omega is at least the threshold, found between the
two nodes that bracket it.

Holds :class:`Assessment`, :class:`BelowTheModel`, :func:`assess`, :func:`assess_history`, Omega and
the depth each threshold reaches on a history, and the growth measure
:func:`cooling_growth` by which :func:`assess` gives no degree while the
damage still grows and :class:`~skinburn.trial.AutoCooling` is settled.
Uses :mod:`skinburn.checks`, :mod:`skinburn.criteria`,
:mod:`skinburn.exposure`, :mod:`skinburn.kinetics`, :mod:`skinburn.results`,
:mod:`skinburn.skin` and :mod:`skinburn.trial`; it runs nothing.
"""
from __future__ import annotations

import dataclasses
import math
from dataclasses import dataclass, field
from typing import Optional

import numpy as np
import numpy.typing as npt

from .checks import positive
from .criteria import CRITERIA, DEGREE_NAMES, Criterion, criterion  # noqa: F401 (Criterion, criterion: also found here)
from .criteria import KineticsByDegree, KineticsLike, kinetics_for, resolved
from .exposure import after_exposure_text
from .kinetics import Kinetics, damage_integral
from .results import Results, depth_weights, require_finite
from .skin import Skin
from .trial import AutoCooling
from .units import SkinburnError


# Omega below this share of the first-degree threshold is too small to judge a grid or a cooling time by;
# Omega above this many times the highest threshold leaves the degree beyond doubt.
_RELEVANT = 0.01 * min(c.threshold for c in CRITERIA)
_BEYOND_DOUBT = 100.0 * max(c.threshold for c in CRITERIA)
_THRESHOLDS = sorted({c.threshold for c in CRITERIA})


#: How much the damage may still grow over the last quarter of a run (the measure of
#: :func:`cooling_growth`, about the relative growth) for the run's end to be judged.
GROWTH_TOLERANCE = 0.01

_ORDINALS = {1: "first", 2: "second", 3: "third"}

#: Under a model per degree, the degree whose model each answer of an assessment is taken under: Omega at
#: a criterion depth under the model of the highest degree judged there, the depth a threshold reaches
#: under the mildest degree's with that threshold, each criterion time under its own degree's.
ANSWER_DEGREES: dict[str, int] = {
    **{f"omega {k + 1}": max(c.degree for c in CRITERIA if c.layer == layer)
       for k, layer in enumerate(("epidermis", "dermis"))},
    **{f"depth {t:g}": min(c.degree for c in CRITERIA if c.threshold == t) for t in _THRESHOLDS},
    **{f"time {c.degree}": c.degree for c in CRITERIA},
}


def _depth_text(depth_m: Optional[float], error_m: Optional[float]) -> str:
    """A depth a threshold reaches, in um with its estimated error; ``nowhere`` for None."""
    if depth_m is None:
        return "nowhere"
    return f"{depth_m * 1e6:.0f} um" + (f" ± {error_m * 1e6:.2g} um" if error_m is not None and depth_m > 0 else "")


class BelowTheModel(SkinburnError, ValueError):
    """Neither criterion depth (the epidermis base, the dermis base) lies inside the model: no degree,
    not even "no burn", can be judged. ``model_depth_m`` is the model's depth, (nodes - 1) * DELTAX (m);
    ``epidermis_base_m`` and ``dermis_base_m`` the criterion depths asked for (m)."""

    def __init__(self, model_depth_m: float, epidermis_base_m: float, dermis_base_m: float) -> None:
        super().__init__(
            f"no burn degree can be judged: the model reaches {model_depth_m * 1e6:.4g} um, above both "
            f"criterion depths (the epidermis base at {epidermis_base_m * 1e6:.4g} um, the dermis base at "
            f"{dermis_base_m * 1e6:.4g} um); give the model more nodes or a larger node spacing")
        self.model_depth_m = model_depth_m
        self.epidermis_base_m = epidermis_base_m
        self.dermis_base_m = dermis_base_m


@dataclass(frozen=True)
class Assessment:
    """The burn degree of a trial under one kinetics model, or under a model per degree.

    ``omega_epidermis_base`` and ``omega_dermis_base`` are Omega at the
    criterion depths (None where the model does not reach that deep);
    ``depth_reached_m`` maps each threshold (0.53, 1.0) to the deepest depth
    in m where Omega is at least it (None: nowhere; ``model_depth_m`` when
    the whole model is past it).

    ``degree`` is None when the damage was still growing at the run's end
    (:func:`assess`): ``growth`` (:func:`cooling_growth`) exceeded
    ``tolerance``, and ``degree_so_far`` is the degree the run's end shows,
    a lower bound. ``omega_three_quarters`` holds Omega at the two criterion
    depths three quarters through the run; ``criterion_times_s`` the time
    (s) each degree's criterion was met within the run (None: not met);
    ``run_end_s`` the run's end (s); ``run_on`` says how the run was
    carried on past its given end, if it was; ``after_exposure`` what the
    exposed face of a trial did after its exposure, and for how long.
    ``program_constants`` is True when the kinetics are the constants the
    program read, taken for want of a model named: the verdict's first line
    says that docs/validation.md finds them no predictor of a burn.
    ``uncertainty`` is the estimated numerical error of each answer where
    an automatic grid settled the run under the same skin and kinetics
    (``Settlement.uncertainty``: ``depth 0.53``, ``depth 1`` in m,
    ``time 1`` ... ``time 3`` in s, ``omega 1``, ``omega 2`` of ln Omega),
    else empty; ``grid_text`` names that grid.

    Under a model per degree (``kinetics`` a :class:`KineticsByDegree`
    naming more than one model) each criterion is judged under its own
    model, and ``parts`` holds the whole assessment under each model (in the
    order of the degrees they first judge). The degree is then the highest
    whose criterion is met under its model, given only when the damage had
    stopped growing under every model (``growth`` the largest). Each answer
    above is then that of the criterion it belongs to, under that
    criterion's model: Omega at the epidermis base and ``depth 1`` under
    degree 2's, at the dermis base under degree 3's, ``depth 0.53`` under
    degree 1's, each criterion time under its degree's
    (:data:`ANSWER_DEGREES`); ``uncertainty`` likewise.
    """

    degree: Optional[int]
    kinetics: KineticsLike
    epidermis_base_m: float
    dermis_base_m: float
    omega_epidermis_base: Optional[float]
    omega_dermis_base: Optional[float]
    depth_reached_m: dict[float, Optional[float]]
    model_depth_m: float
    notes: tuple[str, ...] = field(default=())
    growth: Optional[float] = None
    tolerance: float = GROWTH_TOLERANCE
    degree_so_far: Optional[int] = None
    omega_three_quarters: tuple[Optional[float], Optional[float]] = (None, None)
    criterion_times_s: dict[int, Optional[float]] = field(default_factory=dict)
    run_end_s: Optional[float] = None
    run_on: Optional[str] = None
    after_exposure: Optional[str] = None
    program_constants: bool = False
    uncertainty: dict[str, float] = field(default_factory=dict)
    grid_text: Optional[str] = None
    perfusion: Optional[str] = None
    parts: tuple["Assessment", ...] = ()

    def kinetics_of(self, degree: int) -> Kinetics:
        """The model degree ``degree``'s criterion was judged under."""
        k = kinetics_for(self.kinetics, degree)
        assert k is not None, "an assessment's kinetics name every degree"
        return k

    def part(self, degree: int) -> "Assessment":
        """The assessment under the model of degree ``degree`` (this one, under a single model)."""
        k = self.kinetics_of(degree)
        return next((p for p in self.parts if p.kinetics == k), self)

    @property
    def still_growing(self) -> bool:
        """True when no degree is given because the damage was still growing at the run's end."""
        return self.degree is None

    @property
    def name(self) -> str:
        """``no burn``, ``first-degree burn``, ...; ``no verdict`` while the damage still grew."""
        return "no verdict" if self.degree is None else DEGREE_NAMES[self.degree]

    def verdict(self) -> str:
        """A short text for a person: the degree (or why none is given), Omega at the criterion
        depths, the depths each threshold reaches, whether the damage had stopped growing and how
        the run was carried on, and when each criterion was met."""
        def om(v: Optional[float]) -> str:
            return "beyond the model" if v is None else f"{v:.3g}"

        def um(v: Optional[float], threshold: float) -> str:
            if v is None:
                return "nowhere"
            e = self.uncertainty.get(f"depth {threshold:g}")
            return f"{v * 1e6:.0f} um" + (f" ± {e * 1e6:.2g} um" if e is not None and v > 0 else "")
        if isinstance(self.kinetics, KineticsByDegree):
            return self._verdict_per_degree()
        model = f"{self.kinetics.name} kinetics"
        if self.program_constants:
            (r,) = self.kinetics.regimes[:1]
            model = (f"the program's own constants, P {r.frequency_factor_per_s:.4g} 1/s, E/R {r.e_over_r_K:.5g} K, "
                     "which docs/validation.md finds no predictor of a burn: name a kinetics preset to judge one")
        head = self._head(model)
        lines = [head,
                 f"  Omega {om(self.omega_epidermis_base)} at the epidermis base "
                 f"({self.epidermis_base_m * 1e6:.0f} um), {om(self.omega_dermis_base)} at the dermis base "
                 f"({self.dermis_base_m * 1e6:.0f} um).",
                 f"  Omega >= 0.53 reaches {um(self.depth_reached_m.get(0.53), 0.53)}, "
                 f"Omega >= 1 reaches {um(self.depth_reached_m.get(1.0), 1.0)}."]
        if self.growth is not None:
            lines.append("  " + self._growth_line())
        if self.criterion_times_s:
            lines.append("  " + self._times_line())
        if self.uncertainty:
            lines.append("  " + self._uncertainty_line())
        if self.perfusion:
            lines.append(f"  Perfused: {self.perfusion}.")
        lines += [f"  Note: {n}" for n in self.notes]
        return "\n".join(lines)

    def _head(self, model: str) -> str:
        """The verdict's first line: the degree under ``model``, or why none is given."""
        if self.degree is None:
            so_far = DEGREE_NAMES[self.degree_so_far or 0]
            return (f"No verdict ({model}): Omega was still growing when the run "
                    f"ended; {'no burn' if not self.degree_so_far else 'at least a ' + so_far} so far.")
        return f"{self.name[0].upper()}{self.name[1:]} ({model})."

    def _verdict_per_degree(self) -> str:
        """The verdict under a model per degree: each criterion with its model and Omega, then the depths
        each model's thresholds reach, and the lines of a single model's verdict."""
        model = f"kinetics per degree: {self.kinetics.name}"
        head = self._head(model)
        lines = [head]
        for c in CRITERIA:
            part = self.part(c.degree)
            depth = part.epidermis_base_m if c.layer == "epidermis" else part.dermis_base_m
            om = part.omega_epidermis_base if c.layer == "epidermis" else part.omega_dermis_base
            verdict = "beyond the model" if om is None else f"Omega {om:.3g}, {'met' if om >= c.threshold else 'not met'}"
            lines.append(f"  {_ORDINALS[c.degree].capitalize()} degree (Omega >= {c.threshold:g} at the {c.layer} "
                         f"base, {depth * 1e6:.0f} um) under {part.kinetics.name}: {verdict}.")
        for part in self.parts:
            reached = ", ".join(f"Omega >= {t:g} reaches {_depth_text(part.depth_reached_m.get(t), part.uncertainty.get(f'depth {t:g}'))}"
                                for t in _THRESHOLDS)
            lines.append(f"  Under {part.kinetics.name}: {reached}.")
        if self.growth is not None:
            lines.append("  " + self._growth_line())
        if self.criterion_times_s:
            lines.append("  " + self._times_line())
        settled = [p for p in self.parts if p.uncertainty]
        for part in self.parts:
            if part.uncertainty:
                lines.append("  Numerical uncertainty under " + part._uncertainty_line()[len("Numerical uncertainty "):]
                             .replace("(the ± above)", f"{part.kinetics.name} (the ± above)", 1))
            elif settled:
                lines.append(f"  No numerical uncertainty under {part.kinetics.name}: the grid was settled under "
                             f"{', '.join(p.kinetics.name for p in settled)} alone (give the trial this kinetics "
                             "per degree to settle it under each).")
        if self.perfusion:
            lines.append(f"  Perfused: {self.perfusion}.")
        lines += [f"  Note: {n}" for n in self.notes]
        return "\n".join(lines)

    def _growth_line(self) -> str:
        """Whether the damage had stopped growing, and how the run was carried on."""
        growth = self.growth or 0.0
        change = "past a threshold in the last quarter of the run" if math.isinf(growth) else \
            f"{100 * growth:.3g} % over the last quarter of the run"
        if self.degree is None:
            grew = []
            for (what, end), before in zip((("epidermis base", self.omega_epidermis_base),
                                            ("dermis base", self.omega_dermis_base)), self.omega_three_quarters):
                if end is not None and before is not None and end > before and end >= _RELEVANT:
                    grew.append(f"at the {what} from {before:.3g} to {end:.3g}")
            where = f" (Omega {', '.join(grew)})" if grew else ""
            text = (f"Still growing: the damage grew {change}{where}, more than the "
                    f"{100 * self.tolerance:g} % allowed; run on past the exposure for a verdict")
            carried = self.run_on or self.after_exposure
            return text + (f" ({carried})." if carried else ".")
        if self.run_on:
            return f"Run on {self.run_on}; then the damage had stopped growing ({change})."
        if self.after_exposure:
            return f"{self.after_exposure[0].upper()}{self.after_exposure[1:]}; the damage had stopped " \
                   f"growing by the run's end ({change})."
        return f"The damage had stopped growing by the run's end ({change})."

    def _times_line(self) -> str:
        """When each criterion was met within the run."""
        parts = []
        for degree, t in sorted(self.criterion_times_s.items()):
            e = self.uncertainty.get(f"time {degree}")
            parts.append((f"{_ORDINALS[degree]} degree at {t:.4g} s" + (f" ± {e:.2g} s" if e is not None else ""))
                         if t is not None else f"{_ORDINALS[degree]} degree not")
        end = f" (the run ends at {self.run_end_s:.4g} s)" if self.run_end_s is not None else ""
        return f"Criteria met: {', '.join(parts)}{end}."

    def _uncertainty_line(self) -> str:
        """What the ± of the depths and times are, and Omega's own."""
        omegas = [f"{100 * math.expm1(self.uncertainty[f'omega {k}']):.2g} % at the {what}"
                  for k, what in ((1, "epidermis base"), (2, "dermis base")) if f"omega {k}" in self.uncertainty]
        return ("Numerical uncertainty (the ± above): the estimated error of the grid's answers, from runs that "
                "differ in the spacing alone and in the step alone" + (f" ({self.grid_text})" if self.grid_text else "")
                + (f"; Omega within {' and '.join(omegas)}" if omegas else "")
                + ". The kinetics and the skin's properties are not in it.")

    def row(self) -> dict:
        """A flat dict for CSV."""
        per_degree = {f"kinetics_degree_{d}": self.kinetics_of(d).name for d, _ in self.kinetics.items()} \
            if isinstance(self.kinetics, KineticsByDegree) else {}
        return {
            "degree": self.degree,
            "burn": self.name,
            "kinetics": self.kinetics.name,
            **per_degree,
            "epidermis_base_m": self.epidermis_base_m,
            "dermis_base_m": self.dermis_base_m,
            "omega_epidermis_base": self.omega_epidermis_base,
            "omega_dermis_base": self.omega_dermis_base,
            "depth_omega_053_m": self.depth_reached_m.get(0.53),
            "depth_omega_1_m": self.depth_reached_m.get(1.0),
            "growth_last_quarter": self.growth,
            "degree_so_far": self.degree_so_far,
            **{f"time_degree_{d}_s": t for d, t in sorted(self.criterion_times_s.items())},
            "run_end_s": self.run_end_s,
            "run_on": self.run_on or "",
            "notes": " ".join(self.notes),
            **{f"uncertainty_{key.replace(' ', '_').replace('.', '')}": self.uncertainty.get(key)
               for key in ("depth 0.53", "depth 1", "time 1", "time 2", "time 3", "omega 1", "omega 2")},
        }


def _same_constants(a: Kinetics, b: Kinetics) -> bool:
    """True when two models are one Arrhenius set with the same P and E/R (to 1e-9)."""
    return len(a.regimes) == len(b.regimes) == 1 and all(
        math.isclose(x, y, rel_tol=1e-9) for x, y in ((a.regimes[0].frequency_factor_per_s,
                                                       b.regimes[0].frequency_factor_per_s),
                                                      (a.regimes[0].e_over_r_K, b.regimes[0].e_over_r_K)))


def program_depth_line(results: Results, judged: Assessment) -> str:
    """The program's own depths where Omega passes through 1, with why they differ from the
    verdict's: the program puts the crossing on the straight line between two nodes' Omega, the
    verdict where Omega of the temperature between them reaches 1 (Omega falls about exponentially
    with depth, so the program's lies deeper), and its report prints it one spacing deeper still."""
    if not results.crossings:
        return f"The program's own outcome: {results.outcome}."
    dx = results.deltax_m
    parts = []
    for c in results.crossings:
        i, j = c["nodes"]
        parts.append(f"{c['depth_m'] * 1e6:.0f} um (the straight line between its Omega at the nodes at "
                     f"{(i - 1) * dx * 1e6:.0f} and {(j - 1) * dx * 1e6:.0f} um; its report prints "
                     f"{c['report_depth_m'] * 1e6:.0f} um, one spacing deeper)")
    reached = judged.depth_reached_m.get(1.0)
    if isinstance(judged.kinetics, KineticsByDegree):
        why = f"; under its constants, not {judged.kinetics.name}"
    elif not _same_constants(judged.kinetics, results.program_kinetics):
        why = f"; under its constants, not {judged.kinetics.name}"
    elif reached is not None:
        why = (f"; the {reached * 1e6:.0f} um above is where Omega of the temperature between the nodes "
               "reaches 1, which lies shallower: Omega falls about exponentially with depth")
    else:
        why = ""
    return f"The program's own Omega (its constants) passes through 1 at {', '.join(parts)}{why} ({results.outcome})."


def omega_at_depth(temperature_K: np.ndarray, deltat_s: float, deltax_m: float, depth_m: float,
                   kinetics: Kinetics, conductivity_W_mK: Optional[np.ndarray] = None) -> float:
    """Omega at a depth (m) of a history (rows at r*deltat_s, columns at (i-1)*deltax_m)."""
    a, b, i = depth_weights(depth_m, deltax_m, temperature_K.shape[1], conductivity_W_mK)
    col = np.asarray(temperature_K[:, i], dtype=float)
    if b != 0.0:
        col = a * col + b * np.asarray(temperature_K[:, i + 1], dtype=float)
    return float(damage_integral(col, deltat_s, kinetics))


def depth_reached(temperature_K: np.ndarray, deltat_s: float, deltax_m: float, threshold: float,
                  kinetics: Kinetics, conductivity_W_mK: Optional[np.ndarray] = None,
                  node_omega: Optional[np.ndarray] = None) -> Optional[float]:
    """The deepest depth (m) where Omega >= ``threshold``; None if nowhere.

    Between the deepest node at or above the threshold and the next one,
    the depth where Omega equals it is found on the history there
    (Brent's method to 1e-9 of a spacing).
    """
    om = node_omega if node_omega is not None else damage_integral(temperature_K, deltat_s, kinetics)
    above = np.nonzero(om >= threshold)[0]
    if above.size == 0:
        return None
    i = int(above[-1])
    nodes = temperature_K.shape[1]
    if i == nodes - 1:
        return (nodes - 1) * deltax_m

    def f(z: float) -> float:
        return math.log(max(omega_at_depth(temperature_K, deltat_s, deltax_m, z, kinetics,
                                           conductivity_W_mK), 1e-300) / threshold)
    lo, hi = i * deltax_m, (i + 1) * deltax_m
    if f(hi) >= 0:
        return hi
    if f(lo) < 0:
        return lo
    from scipy.optimize import brentq  # SciPy loads only when a root is wanted

    return float(brentq(f, lo, hi, xtol=1e-9 * deltax_m))


def assess_history(temperature_K: npt.ArrayLike, deltat_s: float, deltax_m: float, epidermis_base_m: float,
                   dermis_base_m: float, kinetics: Kinetics,
                   conductivity_W_mK: Optional[np.ndarray] = None) -> Assessment:
    """The burn degree of a history: rows at r*``deltat_s`` (s), columns at (i-1)*``deltax_m`` (m), K.

    A history holding NaN, infinity or a temperature at or below 0 K raises
    :class:`~skinburn.results.NonFiniteHistory` (first step and node named); a
    model above both criterion depths raises :class:`BelowTheModel`.
    """
    hist = temperature_K if isinstance(temperature_K, np.ndarray) else np.asarray(temperature_K, dtype=float)
    if hist.ndim != 2:
        raise ValueError("the history must be 2-D: rows in time, columns in depth")
    require_finite(hist, deltat_s, deltax_m)
    nodes = hist.shape[1]
    model_depth = (nodes - 1) * deltax_m
    if min(epidermis_base_m, dermis_base_m) > model_depth * (1 + 1e-12):
        raise BelowTheModel(model_depth, epidermis_base_m, dermis_base_m)
    notes = []

    def at(depth: float, what: str) -> Optional[float]:
        if depth > model_depth * (1 + 1e-12):
            notes.append(f"the {what} ({depth * 1e6:.0f} um) lies below the model's "
                         f"{model_depth * 1e6:.0f} um: not judged")
            return None
        return omega_at_depth(hist, deltat_s, deltax_m, depth, kinetics, conductivity_W_mK)

    om_epi = at(epidermis_base_m, "epidermis base")
    om_der = at(dermis_base_m, "dermis base")
    node_om = damage_integral(hist, deltat_s, kinetics)
    reached = {t: depth_reached(hist, deltat_s, deltax_m, t, kinetics, conductivity_W_mK, node_om)
               for t in sorted({c.threshold for c in CRITERIA})}
    degree = 0
    for c in CRITERIA:
        om = om_epi if c.layer == "epidermis" else om_der
        if om is not None and om >= c.threshold:
            degree = c.degree
    return Assessment(degree, kinetics, epidermis_base_m, dermis_base_m, om_epi, om_der, reached,
                      model_depth, tuple(notes))


def assess(results: Results, skin: Optional[Skin] = None, kinetics: Optional[KineticsLike] = None,
           tolerance: float = GROWTH_TOLERANCE) -> Assessment:
    """The burn degree at the end of a run, given only when the damage had stopped growing.

    ``skin`` gives the criterion depths (default: the trial's skin, when the
    package wrote the trial); ``kinetics`` the damage model (default: the
    trial's, else the constants the program read), or a model per degree
    (:class:`~skinburn.criteria.KineticsByDegree`: each criterion judged
    under its own, the degrees it leaves open under that default; one model
    for every degree is judged exactly as that model). When the damage still
    grew by more than ``tolerance`` over the last quarter of the run
    (:func:`cooling_growth`, about the relative growth) no degree is given:
    ``degree`` is None and the verdict says how much Omega still grew (run
    on first: :class:`~skinburn.trial.AutoCooling` for a trial, ``run_on``
    of :func:`skinburn.runs.run` for a data directory). A history holding
    NaN, infinity or a temperature at or below 0 K raises
    :class:`~skinburn.results.NonFiniteHistory`; a model above both
    criterion depths raises :class:`BelowTheModel`.
    """
    positive(tolerance, "tolerance (relative, no unit)")
    results.require_finite()
    trial = results.trial
    if skin is None:
        if trial is None:
            raise ValueError("give the skin whose epidermis and dermis bases the criteria use")
        skin = trial.skin
    open_degrees = tuple(d for d, k in kinetics.items() if k is None) if isinstance(kinetics, KineticsByDegree) \
        else tuple(c.degree for c in CRITERIA) if kinetics is None else ()
    # The default is read only where needed: a single model given needs no constants of the program.
    if isinstance(kinetics, Kinetics) or (isinstance(kinetics, KineticsByDegree) and kinetics.complete):
        choice = resolved(kinetics, kinetics)
    else:
        choice = resolved(kinetics, trial.kinetics if trial is not None else results.program_kinetics)
    if isinstance(choice, KineticsByDegree):
        return _assess_per_degree(results, skin, choice, tolerance, open_degrees if trial is None else ())
    program_constants = trial is None and len(open_degrees) == len(CRITERIA)
    kinetics = choice
    epidermis_m, dermis_m = skin.criterion_depths_m
    judged = assess_history(results.temperature_K, results.deltat_s, results.deltax_m, epidermis_m, dermis_m,
                            kinetics, results.conductivity_W_mK)
    omegas = _criterion_omegas(results, skin, kinetics)
    late = _last_quarter(results.rows)
    growth = _change(_judge(results, kinetics, omegas, late), _judge(results, kinetics, omegas))
    deepest = (results.nodes - 1) * results.deltax_m
    before = tuple(float(omegas[late - 1, k]) if depth <= deepest * (1 + 1e-12) else None
                   for k, depth in enumerate(skin.criterion_depths_m))
    record = getattr(results, "run_on", None)
    growing = growth > tolerance
    after = None
    if trial is not None and not isinstance(trial.after_exposure_s, AutoCooling):
        after = (f"after the exposure ({trial.exposure.duration_s:g} s), {float(trial.after_exposure_s):g} s "
                 f"with {after_exposure_text(trial.exposure, trial.initial)}")
    settlement = getattr(results, "settlement", None)
    uncertainty: dict[str, float] = {}
    grid_text = None
    times = results.criterion_times(skin, kinetics)
    if settlement is not None and trial is not None and isinstance(trial.kinetics, KineticsByDegree):
        # Settled under each model of the trial in turn: this model's own settling states its errors.
        settlement = next((s for k, s in settlement.by_kinetics if k == kinetics), None)
    if settlement is not None and settlement.uncertainty and trial is not None and skin == trial.skin \
            and (kinetics == trial.kinetics or isinstance(trial.kinetics, KineticsByDegree)):
        uncertainty = dict(settlement.uncertainty)
        grid_text = (f"DELTAX {settlement.grid.deltax_m * 1e6:.3g} um, DELTAT {settlement.grid.deltat_s * 1e3:.3g} ms, "
                     f"{'BDF2' if settlement.grid.time_scheme == 'bdf2' else 'backward Euler'}")
        by_degree = getattr(settlement, "times_deltat_by_degree", None)
        if settlement.criterion_times_s is not None and by_degree:
            times = dict(settlement.criterion_times_s)
            grid_text += ("; each criterion time by runs of its own that end soon after it is met, on DELTAT "
                          + ", ".join(f"{dt * 1e3:.3g} ms ({_ORDINALS[d]} degree)" for d, dt in sorted(by_degree.items())))
        elif settlement.criterion_times_s is not None:
            times = dict(settlement.criterion_times_s)
            grid_text += (f"; the criterion times on DELTAT {settlement.times_deltat_s * 1e3:.3g} ms, by runs "
                          f"that end soon after the last is met")
    inputs = getattr(results, "inputs", None)
    warned = tuple(f"the program's check warns [{w.get('code', '?')}]: {w.get('text', '')}"
                   for w in (getattr(inputs, "warnings", None) or ()))
    joined = getattr(results, "legs_text", None)
    if joined is not None:
        warned += (joined(),)
    return dataclasses.replace(
        judged, perfusion=_perfusion_text(getattr(inputs, "perfusion", None)),
        degree=None if growing else judged.degree, growth=growth, tolerance=tolerance,
        degree_so_far=judged.degree, omega_three_quarters=before,
        criterion_times_s=times, notes=judged.notes + warned,
        run_end_s=(results.rows - 1) * results.deltat_s, run_on=record.text() if record is not None else None,
        after_exposure=after, program_constants=program_constants, uncertainty=uncertainty, grid_text=grid_text)


def _perfusion_text(read: Optional[dict]) -> Optional[str]:
    """The blood's perfusion as the run read it, for the verdict; None for a run without it."""
    if not read:
        return None
    rates = sorted({float(w) for _, w in read.get("pairs") or []})
    shown = ", ".join(f"{w:.3g}" for w in rates) or "none"
    return (f"the Pennes term with rates {shown} 1/s through the depth, arterial blood at "
            f"{float(read['arterial_temperature_K']):.5g} K, {float(read['blood_density_kg_m3']):.4g} kg/m^3, "
            f"{float(read['blood_heat_capacity_J_kgK']):.4g} J/(kg K)")


def _met(part: Assessment, c: Criterion) -> bool:
    """Whether criterion ``c`` is met in ``part`` (Omega at its depth at least its threshold)."""
    om = part.omega_epidermis_base if c.layer == "epidermis" else part.omega_dermis_base
    return om is not None and om >= c.threshold


def _assess_per_degree(results: Results, skin: Skin, choice: KineticsByDegree, tolerance: float,
                       program_degrees: tuple[int, ...]) -> Assessment:
    """:func:`assess` under a model per degree: the run assessed under each model, each criterion
    judged under its own (``program_degrees``: those left to the constants the program read)."""
    parts = tuple(assess(results, skin, k, tolerance) for k in choice.distinct)

    def part(degree: int) -> Assessment:
        return parts[choice.distinct.index(choice.kinetics(degree))]
    met = [c for c in CRITERIA if _met(part(c.degree), c)]
    so_far = max((c.degree for c in met), default=0)
    growth = max(p.growth or 0.0 for p in parts)
    notes: list[str] = []
    for p in parts:
        notes += [n for n in p.notes if n not in notes]
    for c in CRITERIA:
        if c.degree < so_far and c not in met:
            notes.append(f"the {_ORDINALS[so_far]}-degree criterion is met under {part(so_far).kinetics.name} "
                         f"while the {_ORDINALS[c.degree]}-degree one is not under {part(c.degree).kinetics.name}: "
                         "the degree is the highest whose criterion is met")
    if program_degrees:
        r = results.program_kinetics.regimes[0]
        notes.append(f"{_degrees_words(program_degrees)} judged under the program's own constants, P "
                     f"{r.frequency_factor_per_s:.4g} 1/s, E/R {r.e_over_r_K:.5g} K, which docs/validation.md finds "
                     "no predictor of a burn: name a kinetics preset for it")
    first = parts[0]
    omega = {key: part(d) for key, d in ANSWER_DEGREES.items()}
    return dataclasses.replace(
        first, degree=None if growth > tolerance else so_far, kinetics=choice,
        omega_epidermis_base=omega["omega 1"].omega_epidermis_base,
        omega_dermis_base=omega["omega 2"].omega_dermis_base,
        depth_reached_m={t: omega[f"depth {t:g}"].depth_reached_m.get(t) for t in _THRESHOLDS},
        notes=tuple(notes), growth=growth, degree_so_far=so_far,
        omega_three_quarters=(omega["omega 1"].omega_three_quarters[0], omega["omega 2"].omega_three_quarters[1]),
        criterion_times_s={c.degree: part(c.degree).criterion_times_s.get(c.degree) for c in CRITERIA
                           if c.degree in part(c.degree).criterion_times_s},
        program_constants=False,
        uncertainty={key: p.uncertainty[key] for key, p in omega.items() if key in p.uncertainty},
        grid_text=next((p.grid_text for p in parts if p.grid_text), None), parts=parts)


def _degrees_words(degrees: tuple[int, ...]) -> str:
    """``the first degree is``, ``the first and second degrees are``."""
    words = [_ORDINALS[d] for d in degrees]
    if len(words) == 1:
        return f"the {words[0]} degree is"
    return f"the {', '.join(words[:-1])} and {words[-1]} degrees are"


# --- Whether the damage had stopped growing ------------------------------------------

def _criterion_omegas(res: Results, skin: Skin, kinetics: Kinetics) -> np.ndarray:
    """Running Omega (rows x 2) at the skin's epidermis and dermis bases (0 below the model)."""
    hist = res.temperature_K
    cols = []
    deepest = (res.nodes - 1) * res.deltax_m
    for depth in skin.criterion_depths_m:
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
    """What a run's burn degree rests on: Omega at the criterion depths, the depths each threshold reaches,
    and the time (s) each criterion is first met (None: not met)."""

    omega: tuple[float, ...]
    depths_m: tuple[Optional[float], ...]
    times_s: tuple[Optional[float], ...] = ()


def _criterion_times(omega_rows: np.ndarray, deltat_s: float, rows: int) -> tuple[Optional[float], ...]:
    """The time (s) each criterion is first met in the first ``rows`` rows of Omega at the criterion depths
    (columns: epidermis base, dermis base), linear between rows; None where it is not."""
    out: list[Optional[float]] = []
    for c in CRITERIA:
        om = omega_rows[:rows, 0 if c.layer == "epidermis" else 1]
        hit = np.nonzero(om >= c.threshold)[0]
        if hit.size == 0:
            out.append(None)
            continue
        k = int(hit[0])
        if k == 0:
            out.append(0.0)
            continue
        a, b = float(om[k - 1]), float(om[k])
        out.append(deltat_s * (k - 1 + (c.threshold - a) / (b - a)))
    return tuple(out)


def _judge(res: Results, kinetics: Kinetics, omega_rows: np.ndarray, rows: Optional[int] = None,
           depths: bool = True) -> _Judged:
    """The result after the first ``rows`` rows of the history (all by default); without ``depths``
    the depths each threshold reaches are left unjudged (None)."""
    hist = res.temperature_K if rows is None else res.temperature_K[:rows]
    reached: tuple[Optional[float], ...] = (None,) * len(_THRESHOLDS)
    if depths:
        node_omega = damage_integral(hist, res.deltat_s, kinetics)
        reached = tuple(depth_reached(hist, res.deltat_s, res.deltax_m, t, kinetics, res.conductivity_W_mK,
                                      node_omega) for t in _THRESHOLDS)
    upto = rows or len(omega_rows)
    return _Judged(tuple(float(x) for x in omega_rows[upto - 1]), reached,
                   _criterion_times(omega_rows, res.deltat_s, upto))


def _change(old: _Judged, new: _Judged) -> float:
    """The largest |ln(new/old)| of the result: Omega where the degree is in doubt, and the depths.

    A threshold reached in one result and not in the other is an infinite change.
    """
    return max([0.0] + list(_changes(old, new).values()))


def _changes(old: _Judged, new: _Judged) -> dict[str, float]:
    """Each |ln(new/old)| of the result by what it is of: ``omega 1`` (epidermis base), ``omega 2``,
    ``depth 0.53``, ``depth 1``; a threshold reached in one
    result and not in the other is infinite. The change of an Omega whose
    ln lies more than 1 from every threshold is divided by that distance."""
    changes: dict[str, float] = {}
    for k, (a, b) in enumerate(zip(old.omega, new.omega)):
        if max(a, b) >= _RELEVANT and min(a, b) <= _BEYOND_DOUBT:
            # Omega far from every threshold counts its change against its distance from the nearest
            # (in ln Omega, where that is more than 1): 2 % more of an Omega of 0.13 leaves it as far
            # from 1 as 0.3 % more of an Omega of 0.5 leaves it from 0.53.
            margin = min(abs(math.log(max(min(a, b), 1e-300) / t)) for t in _THRESHOLDS)
            changes[f"omega {k + 1}"] = abs(math.log(max(b, 1e-300) / max(a, 1e-300))) / max(1.0, margin)
    for t, za, zb in zip(_THRESHOLDS, old.depths_m, new.depths_m):
        if (za is None) != (zb is None) or (za == 0.0) != (zb == 0.0):
            changes[f"depth {t:g}"] = math.inf
        elif za and zb:
            changes[f"depth {t:g}"] = abs(math.log(zb / za))
    # The criterion times (old.times_s) are carried but not yet judged: under backward Euler they move
    # by more than 1 % at grids the program can hold, until the automatic grid refines space and time
    # apart.
    return changes


#: Below these a depth (m) or a time (s) is judged against them instead of itself: a burn a micrometre deep
#: or a criterion met in the first millisecond needs no finer grid to be told apart from none.
_DEPTH_FLOOR_M = 1e-6
_TIME_FLOOR_S = 1e-3


def _differences(base: _Judged, finer: _Judged) -> dict[str, float]:
    """|finer - base| of each answer: keys ``depth 0.53``, ``depth 1`` (m), ``time 1`` ... ``time 3`` (s:
    when each degree's criterion is met) and ``omega 1``, ``omega 2`` (of ln Omega at the epidermis and
    dermis bases); infinite where a threshold or a criterion is met on one grid and not the other."""
    out: dict[str, float] = {}
    for t, a, b in zip(_THRESHOLDS, base.depths_m, finer.depths_m):
        if (a is None) != (b is None) or (a == 0.0) != (b == 0.0):
            out[f"depth {t:g}"] = math.inf
        elif a is not None and b is not None:
            out[f"depth {t:g}"] = abs(b - a)
    for c, a, b in zip(CRITERIA, base.times_s, finer.times_s):
        if (a is None) != (b is None):
            out[f"time {c.degree}"] = math.inf
        elif a is not None and b is not None:
            out[f"time {c.degree}"] = abs(b - a)
    for k, (a, b) in enumerate(zip(base.omega, finer.omega)):
        if (a > 0.0) != (b > 0.0):
            out[f"omega {k + 1}"] = math.inf
        elif a > 0.0:
            out[f"omega {k + 1}"] = abs(math.log(b / a))
    return out


def _richardson(differences: dict[str, float], ratio: float, order: float,
                before: Optional[dict[str, float]] = None,
                orders: Optional[dict[str, float]] = None) -> dict[str, float]:
    """The error of each answer of a grid from its differences to the grid refined by ``ratio`` (> 1) in
    one dimension: about d r^p / (r^p - 1) (Richardson).

    ``order`` is the order p assumed, ``orders`` the answers that take
    another (lower) one; with ``before``, the differences of
    the refinement that led to this grid in the same dimension, each answer
    takes the order it shows, log(before / d) / log r, where that is lower
    (at least 1), so that an answer not yet in its asymptotic range is not
    given a smaller error than it shows."""
    out: dict[str, float] = {}
    for key, d in differences.items():
        nominal = p = (orders or {}).get(key, order)
        if before is not None and math.isfinite(d) and d > 0.0 and math.isfinite(before.get(key, math.nan)) \
                and before[key] > 0.0:
            p = min(nominal, max(1.0, math.log(before[key] / d) / math.log(ratio)))
        out[key] = d * ratio ** p / (ratio ** p - 1.0)
    return out


#: A criterion time is trusted only after this many steps of the run, a depth below this many spacings:
#: sooner or shallower, the grids compared may agree by chance (the whole rise of the temperature there
#: falls within a step or two), so the dimension is refined whatever the estimate says.
_RESOLVING_STEPS = 8
_RESOLVING_SPACINGS = 3
#: Omega at the end within this many tolerances (in ln) of a criterion's threshold: the time the criterion
#: is met is ill-conditioned (Omega creeps up to it) and is not what the grid is settled by.
_BORDERLINE = 10.0


def _unsettled(base: _Judged, errors: dict[str, float], tolerance: float, deltax_m: float = 0.0,
               deltat_s: float = 0.0) -> dict[str, float]:
    """Each answer's estimated error against what it may be (1: just allowed).

    A depth or a criterion time may be wrong by ``tolerance`` of itself, and
    must lie at least :data:`_RESOLVING_SPACINGS` spacings ``deltax_m`` (m)
    deep, or :data:`_RESOLVING_STEPS` steps ``deltat_s`` (s) into the run
    (else it is infinitely unsettled);
    Omega at a criterion depth may be wrong by as much as leaves the degree
    as it is: its error in ln Omega against |ln(Omega / threshold)| for each
    criterion judged there (at least ``tolerance``: Omega within the
    tolerance of a threshold must be known to the tolerance)."""
    out: dict[str, float] = {}
    for t, d in zip(_THRESHOLDS, base.depths_m):
        e = errors.get(f"depth {t:g}")
        if e is not None:
            shallow = d is not None and 0.0 < d < _RESOLVING_SPACINGS * deltax_m and deltax_m > _DEPTH_FLOOR_M
            out[f"depth {t:g}"] = math.inf if shallow else e / (tolerance * max(d or 0.0, _DEPTH_FLOOR_M))
    for c, met in zip(CRITERIA, base.times_s):
        e = errors.get(f"time {c.degree}")
        k = 0 if c.layer == "epidermis" else 1
        if e is not None and k < len(base.omega) and base.omega[k] > 0.0 and \
                abs(math.log(base.omega[k] / c.threshold)) < _BORDERLINE * tolerance:
            # Omega ends at its threshold (a search's root): when it got there is as uncertain as
            # Omega itself, which is judged below; the time is stated, not chased.
            continue
        if e is not None:
            early = met is not None and met < _RESOLVING_STEPS * deltat_s
            out[f"time {c.degree}"] = math.inf if early else e / (tolerance * max(met or 0.0, _TIME_FLOOR_S))
    for c in CRITERIA:
        k = 0 if c.layer == "epidermis" else 1
        e = errors.get(f"omega {k + 1}")
        if e is None or k >= len(base.omega) or not base.omega[k] > 0.0:
            continue
        # Omega within the tolerance of a threshold is judged as before: ln Omega to the tolerance.
        margin = max(abs(math.log(base.omega[k] / c.threshold)), tolerance)
        out[f"degree {c.degree}"] = max(out.get(f"degree {c.degree}", 0.0), e / margin)
    return out


def _last_quarter(rows: int) -> int:
    """The rows of a history up to three quarters through the run."""
    return int(math.floor(0.75 * (rows - 1))) + 1


def cooling_growth(res: Results, skin: Skin, kinetics: KineticsLike, depth_m: Optional[float] = None,
                   at_root: bool = False) -> float:
    """How much the result still changed over the last quarter of a run: the measure
    :class:`~skinburn.trial.AutoCooling` settles the time after the exposure by.

    The largest |ln(end / three quarters through)| of Omega at the skin's
    criterion depths (where the degree is in doubt: from 1 % of the lowest
    threshold to 100 times the highest) and of the depths Omega = 0.53 and 1
    reach (a threshold reached at the end and not before is an infinite
    change). Works on any run with a history (``--results``), a data
    directory's included; dimensionless, about the relative growth.

    With ``depth_m`` (m), Omega at that one depth alone: what a search for
    one degree finds the threshold of, and all its answer rests on. There
    every growth counts, |ln(end / three quarters through)| whatever Omega
    is (infinite where it grew from 0; 0 where it is still 0, unless
    ``at_root``: at a search's root it must end at the threshold, so an
    Omega still 0, below a kinetics' threshold temperature, means the heat
    has not arrived yet, infinite): at the root, Omega ends at the
    threshold only once the cooling is long enough, and a short cooling may
    leave it far below every threshold and still growing. (Omega deeper
    down may grow for minutes more under an insulated face, far below any
    threshold, without moving that answer.)

    Under a model per degree (every degree named), the largest growth under any of its models.
    """
    if isinstance(kinetics, KineticsByDegree):
        return max(cooling_growth(res, skin, k, depth_m, at_root) for k in kinetics.distinct)
    if depth_m is not None:
        om = res.omega_history(depth_m, kinetics=kinetics) if depth_m <= (res.nodes - 1) * res.deltax_m \
            else np.zeros(res.rows)
        late = _last_quarter(res.rows)
        a, b = float(om[late - 1]), float(om[-1])
        # A search's threshold lies where Omega there ends at it once the cooling is long enough: however
        # far below any threshold a short cooling leaves it, all its growth moves the answer.
        if a > 0.0:
            return abs(math.log(b / a))
        # Still 0: nothing has happened there yet, which at a search's root (where Omega must end at
        # the threshold) means the heat has not arrived, not that it has gone.
        return math.inf if b > 0.0 or at_root else 0.0
    om = _criterion_omegas(res, skin, kinetics)
    return _change(_judge(res, kinetics, om, _last_quarter(res.rows)), _judge(res, kinetics, om))
