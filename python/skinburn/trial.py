"""A trial described by Python values, and the data directory that runs it.

A :class:`Trial` holds a skin, the initial temperatures, the exposure of
the surface, the inner face, the grid, how long the run goes on after the
exposure and the kinetics written into ``DATA.DAT``. :func:`write_trial`
writes the data directory for skinburn; the words and their counts follow
docs/data-files.md, and nothing is read back here (``skinburn --check=json``
says what the program makes of the directory).

The grid and the time after the exposure may be left to the package
(:class:`AutoGrid`, :class:`AutoCooling`); :func:`skinburn.run.run` settles
them by runs of the program before the trial proper.

Holds :class:`Trial`, :class:`Grid`, :class:`AutoGrid`, :class:`AutoCooling`,
the program's capacity and :func:`write_trial`. Uses :mod:`skinburn.checks`,
:mod:`skinburn.exposure`, :mod:`skinburn.kinetics`, :mod:`skinburn.skin` and
:mod:`skinburn.units`; it runs nothing.
"""
from __future__ import annotations

import dataclasses
import math
import os
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Optional, Union

import numpy as np

from .checks import non_negative, positive, whole
from .exposure import (AIR_1ATM, AirbagJet, Convection, Exposure, GasTable, HeatFlux, HeldTemperature,
                       InitialProfile, InnerConvection, InnerFace, Insulated, Profile, Series,
                       SurfaceTemperature, knots, product_step_means, record_values, staircase_pairs,
                       table_pairs)
from .kinetics import PROGRAM_DEFAULT, Kinetics
from .skin import Skin
from .units import Temperature, kelvin

#: skinburn's capacity (docs/data-files.md, entries 17 and 20).
MAX_NODES = 30000
MAX_STEPS = 29999
#: The jet's velocity list: only its first 1000 pairs are used.
MAX_VELOCITY_PAIRS = 1000


@dataclass(frozen=True)
class Grid:
    """Node spacing ``deltax_m`` (m) and step length ``deltat_s`` (s).

    ``nodes`` defaults to the skin's thickness over the spacing, plus one:
    the inner face within half a spacing of the skin's full depth; given,
    it is a whole number, at least 2.
    """

    deltax_m: float
    deltat_s: float
    nodes: Optional[int] = None

    def __post_init__(self) -> None:
        positive(self.deltax_m, "deltax_m", "m")
        positive(self.deltat_s, "deltat_s", "s")
        if self.nodes is not None:
            object.__setattr__(self, "nodes", whole(self.nodes, "nodes (a count of grid nodes)", least=2))

    def node_count(self, skin: Skin) -> int:
        """The number of nodes on this grid for ``skin``."""
        return self.nodes if self.nodes is not None else int(round(skin.thickness_m / self.deltax_m)) + 1


@dataclass(frozen=True)
class AutoGrid:
    """A grid chosen by runs: refined until refining once more changes the result by less than ``tolerance``.

    The result judged is what the burn degree rests on, under the trial's
    kinetics: Omega at the depths of the burn criteria (the epidermis and
    dermis bases) wherever the degree is in doubt (Omega from 1 % of the
    first-degree threshold to 100 times the highest), and the depths that
    Omega = 0.53 and Omega = 1 reach. The change is the largest |ln(new/old)|
    among them, about the relative change; a threshold reached on one grid
    and not on the other is no agreement. Each refinement halves the step
    and puts twice as many spacings above the epidermis base ((2m - 1/2)
    instead of (m - 1/2) spacings, so the base stays halfway between two
    nodes): the spacing shrinks by 2 + 1/(2m - 1), a little more than half.
    The first grid has ``start_spacings`` (m) spacings above the epidermis
    base and the exposure in ``start_steps`` steps. The grid chosen is the
    coarser of the first two that agree.
    """

    tolerance: float = 0.01
    start_spacings: int = 2
    start_steps: int = 10
    max_refinements: int = 6

    def __post_init__(self) -> None:
        positive(self.tolerance, "tolerance (relative, no unit)")
        whole(self.start_spacings, "start_spacings (a count of spacings)", least=1)
        whole(self.start_steps, "start_steps (a count of steps)", least=1)
        whole(self.max_refinements, "max_refinements (a count)", least=0)

    def spacing_m(self, skin: Skin, level: int) -> float:
        """DELTAX (m) at refinement ``level`` (0 = the first grid)."""
        base = skin.boundaries_m[0] if skin.boundaries_m else skin.epidermis_base_m
        m = self.start_spacings * 2 ** level
        return base / (m - 0.5)

    def step_s(self, duration_s: float, level: int) -> float:
        """DELTAT (s) at refinement ``level``."""
        return duration_s / (self.start_steps * 2 ** level)


@dataclass(frozen=True)
class AutoCooling:
    """Time after the exposure chosen by runs: doubled until the damage has stopped growing.

    Starting from ``start_s`` (default: the exposure's duration, at least
    1 s), the time is doubled while the result (as :class:`AutoGrid`
    judges it: Omega at the criterion depths where the degree is in doubt,
    and the depths Omega = 0.53 and 1 reach) grew by more than
    ``tolerance`` (relative) over the last quarter of the run.
    """

    tolerance: float = 0.01
    start_s: Optional[float] = None
    max_doublings: int = 6

    def __post_init__(self) -> None:
        positive(self.tolerance, "tolerance (relative, no unit)")
        if self.start_s is not None:
            positive(self.start_s, "start_s", "s")
        whole(self.max_doublings, "max_doublings (a count)", least=0)

    def first_s(self, duration_s: float) -> float:
        """The first time tried after the exposure, in s."""
        return self.start_s if self.start_s is not None else max(duration_s, 1.0)


@dataclass(frozen=True)
class Trial:
    """Everything one run of skinburn needs, as Python values.

    ``kinetics`` is written into ``DATA.DAT`` when the program can hold it
    (a single Arrhenius set); otherwise the program's default constants are
    written and the package evaluates the model from the history.
    """

    skin: Skin
    initial: InitialProfile
    exposure: Exposure
    inner: InnerFace = HeldTemperature()
    grid: Union[Grid, AutoGrid] = AutoGrid()
    after_exposure_s: Union[float, AutoCooling] = AutoCooling()
    kinetics: Kinetics = PROGRAM_DEFAULT
    title: str = "skinburn trial"

    def __post_init__(self) -> None:
        if not isinstance(self.after_exposure_s, AutoCooling):
            non_negative(self.after_exposure_s, "after_exposure_s", "s")

    @property
    def resolved(self) -> bool:
        """True when the grid and the time after the exposure are explicit."""
        return isinstance(self.grid, Grid) and not isinstance(self.after_exposure_s, AutoCooling)

    def replace(self, path: str, value: Any) -> "Trial":
        """A copy with the field at a dotted ``path`` (``exposure.duration_s``, ``grid.deltat_s``) set."""
        return _replace_path(self, path.split("."), value)

    def get(self, path: str) -> Any:
        """The value at a dotted ``path``."""
        obj: Any = self
        for part in path.split("."):
            obj = getattr(obj, part)
        return obj

    def to_dict(self) -> dict:
        """JSON form of the trial (see :func:`trial_from_dict`)."""
        return _encode(self)


def _replace_path(obj: Any, parts: list[str], value: Any) -> Any:
    if not dataclasses.is_dataclass(obj):
        raise AttributeError(f"{type(obj).__name__} has no field {parts[0]!r}")
    names = {f.name for f in dataclasses.fields(obj)}
    if parts[0] not in names:
        raise AttributeError(f"{type(obj).__name__} has no field {parts[0]!r}; fields: {', '.join(sorted(names))}")
    if len(parts) == 1:
        return dataclasses.replace(obj, **{parts[0]: value})
    return dataclasses.replace(obj, **{parts[0]: _replace_path(getattr(obj, parts[0]), parts[1:], value)})


# --- JSON form ------------------------------------------------------------------

_TYPES = {cls.__name__: cls for cls in (Trial, Grid, AutoGrid, AutoCooling, HeatFlux, Convection,
                                        SurfaceTemperature, AirbagJet, HeldTemperature, Insulated,
                                        InnerConvection, InitialProfile)}


def _encode(obj: Any) -> Any:
    if isinstance(obj, Temperature):
        return obj.to_dict()
    if isinstance(obj, Series):
        return obj.to_dict()
    if isinstance(obj, (Skin, Kinetics)):
        return obj.to_dict()
    if isinstance(obj, GasTable):
        return {"gas_table": "air-1atm"} if obj == AIR_1ATM else {"name": obj.name, "source": obj.source,
                                                                   "rows": [list(r) for r in obj.rows]}
    if dataclasses.is_dataclass(obj):
        d = {"type": type(obj).__name__}
        for f in dataclasses.fields(obj):
            d[f.name] = _encode(getattr(obj, f.name))
        return d
    return obj


def _decode(value: Any, name: str = "") -> Any:
    if isinstance(value, dict):
        if "type" in value:
            cls = _TYPES[value["type"]]
            args = {k: _decode(v, k) for k, v in value.items() if k != "type"}
            return cls(**args)
        if set(value) == {"K"}:
            return kelvin(value["K"])
        if "times_s" in value:
            if "values_K" in value:
                return Series(value["times_s"], kelvin(value["values_K"]))
            return Series(value["times_s"], value["values"])
        if name == "skin":
            return Skin.from_dict(value)
        if name == "kinetics":
            return Kinetics.from_dict(value)
        if name == "gas_table":
            if value.get("gas_table") == "air-1atm":
                return AIR_1ATM
            return GasTable(value["name"], tuple(tuple(r) for r in value["rows"]), value.get("source", ""))
    return value


def trial_from_dict(d: dict) -> Trial:
    """A trial from its JSON form (:meth:`Trial.to_dict`).

    Temperatures are ``{"K": value}``; skins and kinetics may be
    ``{"preset": key}``; series are ``{"times_s": [...], "values": [...]}``
    (``"values_K"`` for temperatures).
    """
    d = dict(d)
    d.setdefault("type", "Trial")
    return _decode(d)


# --- Writing the data directory -------------------------------------------------

@dataclass(frozen=True)
class Layout:
    """What :func:`write_trial` laid out: the grid and where the layers and the exposure fell."""

    directory: Path
    nodes: int
    deltax_m: float
    steps: int
    deltat_s: float
    model_depth_m: float
    placed_boundaries_m: tuple[float, ...]
    exposure_s: float
    run_s: float
    files: tuple[str, ...] = field(default=())


def _num(x: float) -> str:
    """A number as skinburn reads it back exactly (shortest round trip; no sign on zero)."""
    x = float(x)
    if not math.isfinite(x):
        raise ValueError(f"cannot write {x!r} to a data file")
    if x == 0:
        return "0.0"
    return repr(x)


def _frequency_words(p: float) -> tuple[str, str]:
    """P (1/s) as skinburn's mantissa and '10^e' word."""
    e = math.floor(math.log10(p))
    m = p / 10.0 ** e
    if m >= 10:  # log10 rounding
        e, m = e + 1, m / 10
    return format(m, ".15g"), f"10^{e}"


def _block(name: str, pairs: list[tuple[float, float]], first: bool, separate: Optional[str],
           files: dict[str, str], unit_title: str) -> str:
    """One distribution block of DATA.DAT; its pairs inline, or in ``separate`` with count 0."""
    head = f"Distribution: {name}" if first else f"! {name}"
    if separate:
        files[separate] = (f"# {unit_title[:70]}\n{unit_title}\nData pairs: {len(pairs)}\n"
                           + "".join(f"{_num(x)} {_num(y)}\n" for x, y in pairs) + "END\n")
        return f"{head}\n0 file\n"
    return f"{head}\n{len(pairs)} pairs\n" + "".join(f"{_num(x)} {_num(y)}\n" for x, y in pairs)


def _needs_file(pairs: list[tuple[float, float]]) -> bool:
    # A signed value inline in DATA.DAT is skipped; separate files read it.
    return any(y < 0 for _, y in pairs)


def layout(trial: Trial) -> tuple[int, int, float, float]:
    """(nodes, steps, exposure s, run s) of a resolved trial, checked against the program's capacity."""
    if not trial.resolved:
        raise ValueError("the trial's grid or time after the exposure is automatic: settle it with "
                         "skinburn.run(...) or give Grid(...) and after_exposure_s")
    grid: Grid = trial.grid  # type: ignore[assignment]
    nodes = grid.node_count(trial.skin)
    duration = trial.exposure.duration_s
    after = float(trial.after_exposure_s)  # type: ignore[arg-type]
    if after < 0:
        raise ValueError("after_exposure_s must not be negative")
    run_s = duration + after
    steps = max(1, math.ceil(run_s / grid.deltat_s - 1e-9))
    if not 2 <= nodes <= MAX_NODES:
        raise ValueError(f"{nodes} nodes: skinburn takes 2 to {MAX_NODES}; choose another deltax_m")
    if steps > MAX_STEPS:
        raise ValueError(f"{steps} steps: skinburn takes at most {MAX_STEPS}; choose a longer deltat_s "
                         "or a shorter run")
    return nodes, steps, duration, run_s


def write_trial(trial: Trial, directory: Union[str, os.PathLike], trial_number: int = 1) -> Layout:
    """Write the data directory of a resolved ``trial`` into ``directory`` (created if need be).

    The run is unattended (``BATCH`` 1), appends the history of node 1 to
    ``OUTPUT.TXT`` and evaluates Omega at every node (``BURNDEPTH`` 1).
    Files a previous trial left there are replaced; ``OUTPUT.TXT`` is removed.
    """
    nodes, steps, duration, run_s = layout(trial)
    grid: Grid = trial.grid  # type: ignore[assignment]
    dx, dt = grid.deltax_m, grid.deltat_s
    skin = trial.skin
    reach = (nodes + 1) * dx
    files: dict[str, str] = {}
    core_K = float(trial.initial.core.K)
    surface_K = float(trial.initial.surface.K)

    kin = trial.kinetics if trial.kinetics.single_set else PROGRAM_DEFAULT
    mantissa, exponent = _frequency_words(kin.regimes[0].frequency_factor_per_s)

    exp = trial.exposure
    lbc = exp.face
    left_file = None
    jet_text = None
    if isinstance(exp, HeatFlux):
        prof = Profile.cut(knots(exp.flux_W_m2, "flux_W_m2", False), duration, 0.0)
        left_bc = table_pairs(record_values(prof, dt, steps, "start"), dt)
        left_amb = [(0.0, surface_K), ((steps + 1) * dt, surface_K)]
    elif isinstance(exp, Convection):
        after_gas = float(exp.after_gas.K) if exp.after_gas is not None else surface_K
        h = Profile.cut(knots(exp.h_W_m2K, "h_W_m2K", False), duration, exp.after_h_W_m2K)
        gas = Profile.cut(knots(exp.gas, "gas", True), duration, after_gas)
        starts = np.arange(steps + 1) * dt
        h_mean = h.step_means(starts, dt)
        gas_mean = gas.step_means(starts, dt)
        weighted = product_step_means(h, gas, starts, dt)
        # The gas temperature that, with the mean h, gives each step its mean h*T_gas.
        varies = (h_mean > 0) & ~gas.constant_over(starts, dt)
        gas_eff = gas_mean.copy()
        gas_eff[varies] = weighted[varies] / h_mean[varies]
        left_bc = table_pairs(h_mean, dt)
        left_amb = table_pairs(gas_eff, dt)
    elif isinstance(exp, SurfaceTemperature):
        after = float(exp.after.K) if exp.after is not None else core_K
        prof = Profile.cut(knots(exp.temperature, "temperature", True), duration, after)
        left_bc = table_pairs(record_values(prof, dt, steps, "end"), dt)
        left_amb = [(0.0, surface_K), ((steps + 1) * dt, surface_K)]
    elif isinstance(exp, AirbagJet):
        starts = np.arange(steps + 1) * dt
        on = starts < duration - 1e-9 * dt
        boundary = np.where(on, 1.0, exp.after_h_W_m2K)
        after_gas = float(exp.after_gas.K) if exp.after_gas is not None else surface_K
        ends = np.minimum(starts + dt, duration)
        widths = np.where(on, ends - starts, dt)
        gas = Profile.cut(knots(exp.gas_temperature, "gas_temperature", True), duration, after_gas)
        vel_knots = knots(exp.gas_velocity_m_s, "gas_velocity_m_s", False)
        vel_end = float(np.interp(duration, *vel_knots))
        vel = Profile.cut(vel_knots, duration, vel_end)
        gas_rec = np.where(on, _partial_means(gas, starts, widths), after_gas)
        vel_rec = np.where(on, _partial_means(vel, starts, widths), vel_end)
        left_amb = table_pairs(gas_rec, dt)
        bpairs = staircase_pairs(boundary, dt)
        vpairs = table_pairs(vel_rec, dt, limit=MAX_VELOCITY_PAIRS)
        jet_text = ("# Impinging gas jet on the exposed face.\nJet impingement data\n"
                    f"Near field term: {'1.0' if exp.near_field else '0.0'}\n"
                    f"Reynolds number: {_num(exp.reynolds or 0.0)}\n"
                    f"Nozzle diameter: {_num(exp.nozzle_diameter_m)}\n"
                    f"Offaxis spacing: {_num(exp.offaxis_spacing_m)}\n"
                    f"Standoff distance: {_num(exp.standoff_m)}\n"
                    f"Boundary pairs: {len(bpairs)} pairs\n"
                    + "".join(f"{_num(x)} {_num(y)}\n" for x, y in bpairs)
                    + f"Gas velocity: {len(vpairs)} pairs\n"
                    + "".join(f"{_num(x)} {_num(y)}\n" for x, y in vpairs) + "END\n")
        files["LEFTIMP.DAT"] = jet_text
        files["GASPROP.DAT"] = exp.gas_table.text()
        left_bc = []
        left_file = "jet"
    else:
        raise TypeError(f"unknown exposure {type(exp).__name__}")

    inner = trial.inner
    rbc = inner.face
    if isinstance(inner, HeldTemperature):
        t_in = float(inner.temperature.K) if inner.temperature is not None else core_K
        right_bc, right_amb = t_in, t_in
    elif isinstance(inner, Insulated):
        right_bc, right_amb = 0.0, core_K
    elif isinstance(inner, InnerConvection):
        right_bc, right_amb = inner.h_W_m2K, float(inner.ambient.K)
    else:
        raise TypeError(f"unknown inner face {type(inner).__name__}")
    end = (steps + 1) * dt

    title = " ".join(trial.title.split())[:70] or "skinburn trial"
    if title.startswith("#"):
        title = title.lstrip("#").strip() or "skinburn trial"
    text = [
        "# Written by the skinburn Python package.",
        title,
        "Listing time for the full temperature profile: 0.0 sec",
        "Node for the history and Omega: 1 node",
        "Results to file (VERBOSE flag): 1",
        "List A-matrix: 0",
        "List T-initial: 0",
        "Omega at every node (burn depth): 1",
        "No pauses: 1",
        f"Trial number: {int(trial_number)}",
        "Date of execution: n/a",
        "Name of operator: python",
        f"Frequency factor mantissa: {mantissa}",
        f"Exponent: {exponent}",
        f"Activation-energy: {_num(kin.activation_energy_J_mol)}",
        f"Gas-constant: {_num(kin.gas_constant_J_molK)}",
        f"Left BC: {lbc}",
        f"RBC: {rbc}",
        f"Time steps: {steps}",
        f"delta-t: {_num(dt)} sec",
        f"delta-x: {_num(dx)} m",
        f"NODES: {nodes}",
    ]
    blocks = [
        ("INITIAL_TEMPERATURE", trial.initial.pairs((nodes - 1) * dx, reach), "INITTEMP.DAT",
         "Initial temperature K against depth m"),
        ("CONDUCTIVITY", skin.property_pairs("conductivity", dx, nodes), "CONDUCT.DAT",
         "Conductivity W/(m K) against depth m"),
        ("DENSITY", skin.property_pairs("density", dx, nodes), "DENSITY.DAT", "Density kg/m^3 against depth m"),
        ("HEAT_CAPACITY", skin.property_pairs("heat_capacity", dx, nodes), "HEATCAP.DAT",
         "Heat capacity J/(kg K) against depth m"),
        ("LEFT_BC", left_bc, "LEFTBC.DAT", "Left face value against time s"),
        ("LEFT_AMBIENT", left_amb, "LEFTAMB.DAT", "Left gas temperature K against time s"),
        ("RIGHT_BC", [(0.0, right_bc), (end, right_bc)], "RIGHTBC.DAT", "Right face value against time s"),
        ("RIGHT_AMBIENT", [(0.0, right_amb), (end, right_amb)], "RIGHTAMB.DAT",
         "Right ambient temperature K against time s"),
    ]
    body = []
    for k, (name, pairs, fname, what) in enumerate(blocks):
        if name == "LEFT_BC" and left_file == "jet":
            body.append("! LEFT_BC\n-1 jet\n")
            continue
        body.append(_block(name, pairs, k == 0, fname if _needs_file(pairs) else None, files, what))
    files["DATA.DAT"] = "\n".join(text) + "\n" + "".join(body) + "!\n"

    d = Path(directory)
    d.mkdir(parents=True, exist_ok=True)
    for stale in ("OUTPUT.TXT", "LEFTIMP.DAT", "GASPROP.DAT", "INITTEMP.DAT", "CONDUCT.DAT", "DENSITY.DAT",
                  "HEATCAP.DAT", "LEFTBC.DAT", "LEFTAMB.DAT", "RIGHTBC.DAT", "RIGHTAMB.DAT"):
        if stale not in files and (d / stale).exists():
            (d / stale).unlink()
    for name, content in files.items():
        (d / name).write_text(content, encoding="ascii")
    return Layout(d, nodes, dx, steps, dt, (nodes - 1) * dx, skin.placed_boundaries_m(dx, nodes),
                  duration, run_s, tuple(sorted(files)))


def _partial_means(p: Profile, starts: np.ndarray, widths: np.ndarray) -> np.ndarray:
    """Mean of ``p`` over [s, s + w] per step (w > 0), constants exact."""
    out = np.empty(len(starts))
    for w in np.unique(widths):
        sel = widths == w
        out[sel] = p.step_means(starts[sel], float(w)) if w > 0 else p.after(starts[sel])
    return out
