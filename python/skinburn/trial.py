"""A trial described by Python values, and the data directory that runs it.

A :class:`Trial` holds a skin, the initial temperatures, the exposure of
the surface, the inner face, the grid, how long the run goes on after the
exposure and the kinetics written into ``DATA.DAT``. :func:`write_trial`
writes the data directory for skinburn; the words and their counts follow
docs/data-files.md, and nothing is read back here (``skinburn --check=json``
says what the program makes of the directory).

The grid and the time after the exposure may be left to the package
(:class:`AutoGrid`, :class:`AutoCooling`); :func:`skinburn.runs.run` settles
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
import re
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Optional, Union, cast

import numpy as np

from .checks import non_negative, positive, whole
from .exposure import (AIR_1ATM, AirbagJet, Convection, Exposure, GasTable, HeatFlux, HeldTemperature,
                       InitialProfile, InnerConvection, InnerFace, Insulated, Profile, Series,
                       SurfaceTemperature, end_records, knots, product_step_means, record_values,
                       staircase_pairs, step_values, table_pairs)
from .kinetics import PROGRAM_DEFAULT, Kinetics, kinetics_preset
from .skin import Skin, skin_preset
from .units import SkinburnError, Temperature, kelvin, temperature_word

#: skinburn's capacity (docs/data-files.md, entries 17 and 20).
MAX_NODES = 30000
MAX_STEPS = 29999
#: The jet's velocity list: only its first 1000 pairs are used.
MAX_VELOCITY_PAIRS = 1000


#: The program's time schemes (``skinburn --time-scheme``): backward Euler, first order, the program's
#: own and the default; BDF2, second order in time after one backward Euler step (opt-in: the package's
#: Omega integral is first order in time, so BDF2 alone does not yet settle a grid sooner).
TIME_SCHEMES = ("backward-euler", "bdf2")


def _time_scheme(name: str) -> str:
    if name not in TIME_SCHEMES:
        raise ValueError(f"time_scheme {name!r} is none of the program's: {', '.join(TIME_SCHEMES)}")
    return name


@dataclass(frozen=True)
class Grid:
    """Node spacing ``deltax_m`` (m), step length ``deltat_s`` (s) and the time scheme.

    ``nodes`` defaults to the skin's thickness over the spacing, plus one:
    the inner face within half a spacing of the skin's full depth; given,
    it is a whole number, at least 2. ``time_scheme`` is one of
    :data:`TIME_SCHEMES`: ``"backward-euler"`` (first order, the program's
    own, the default) or ``"bdf2"`` (second order in time).
    """

    deltax_m: float
    deltat_s: float
    nodes: Optional[int] = None
    time_scheme: str = "backward-euler"

    def __post_init__(self) -> None:
        positive(self.deltax_m, "deltax_m", "m")
        positive(self.deltat_s, "deltat_s", "s")
        if self.nodes is not None:
            object.__setattr__(self, "nodes", whole(self.nodes, "nodes (a count of grid nodes)", least=2))
        _time_scheme(self.time_scheme)

    def node_count(self, skin: Skin) -> int:
        """The number of nodes on this grid for ``skin``."""
        return self.nodes if self.nodes is not None else int(round(skin.thickness_m / self.deltax_m)) + 1


@dataclass(frozen=True)
class AutoGrid:
    """A grid chosen by runs: the spacing and the step each refined until every answer is within ``tolerance``.

    The answers judged are what a verdict gives, under the trial's kinetics:
    the depths that Omega = 0.53 and Omega = 1 reach and the time each
    degree's criterion is met, each to ``tolerance`` of itself (relative),
    and Omega at the criterion depths (the epidermis and dermis bases) to
    within what leaves the degree as it is. Each answer's error is a part
    from the spacing plus a part from the step, each estimated from two runs
    that differ in that dimension alone (Richardson: order 2 in space, the
    scheme's order in time). While an answer is not within what it may be,
    the dimension with the larger part is refined by one run and its part
    estimated again; the last grid run, the finest, is chosen, and the parts
    added are its stated uncertainty (``Settlement.uncertainty``). A refinement in space puts twice
    as many spacings above the epidermis base ((2m - 1/2) instead of
    (m - 1/2) spacings, so the base stays halfway between two nodes): the
    spacing shrinks by 2 + 1/(2m - 1), a little more than half; one in time
    halves the step. The first grid has ``start_spacings`` (m) spacings
    above the epidermis base and the exposure in ``start_steps`` steps;
    each dimension is refined at most ``max_refinements`` times.
    ``time_scheme`` is the program's time scheme on every grid
    (:data:`TIME_SCHEMES`; BDF2 by default, second order in time).
    """

    tolerance: float = 0.01
    start_spacings: int = 2
    start_steps: int = 10
    max_refinements: int = 10
    time_scheme: str = "bdf2"

    def __post_init__(self) -> None:
        positive(self.tolerance, "tolerance (relative, no unit)")
        whole(self.start_spacings, "start_spacings (a count of spacings)", least=1)
        whole(self.start_steps, "start_steps (a count of steps)", least=1)
        whole(self.max_refinements, "max_refinements (a count)", least=0)
        _time_scheme(self.time_scheme)

    @property
    def time_order(self) -> int:
        """The order in time of the grid's scheme: 2 for BDF2, 1 for backward Euler."""
        return 2 if self.time_scheme == "bdf2" else 1

    def grid(self, skin: Skin, duration_s: float, space_level: int, time_level: int) -> "Grid":
        """The grid at refinement levels ``space_level`` and ``time_level`` (0 = the first grid's)."""
        return Grid(self.spacing_m(skin, space_level), self.step_s(duration_s, time_level),
                    time_scheme=self.time_scheme)

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
    1 s), the time is doubled, at most ``max_doublings`` times (2^8: an
    insulated face keeps the heat of a flash fire in the skin for minutes),
    while the result grew by more than ``tolerance`` (relative) over the
    last quarter of the run: the depths Omega = 0.53 and 1 reach, and Omega
    at the criterion depths where the degree is in doubt (from 1 % of the
    lowest threshold to 100 times the highest; an Omega whose ln lies more
    than 1 from every threshold counts its growth against that distance).
    """

    tolerance: float = 0.01
    start_s: Optional[float] = None
    max_doublings: int = 8

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
        """A copy with the value at a dotted key ``path`` set: the one key language of the package,
        the command line's ``--set`` and ``--for`` and the study tool (:func:`set_key`)."""
        return set_key(self, path, value)

    def get(self, path: str) -> Any:
        """The value at a dotted key ``path`` (items of a tuple by number: ``skin.layers.0``)."""
        obj: Any = self
        parts = path.split(".")
        for k in range(len(parts)):
            obj = _step(obj, parts, k)
        return obj

    def to_dict(self) -> dict:
        """JSON form of the trial (see :func:`trial_from_dict`)."""
        return _encode(self)


# --- Keys: the dotted names of a trial's values ------------------------------------

class UnknownKey(SkinburnError, AttributeError):
    """A dotted key that names no value of a trial; the message names the fields that exist there."""


#: The skin's criterion depths: set by key they are explicit, and stay when its layers change.
_CRITERION_DEPTHS = ("epidermis_base_m", "dermis_base_m")
#: Fields no key reaches (bookkeeping, not values of the trial).
_HIDDEN = ("key", "from_layers")


def _is_leaf(obj: Any) -> bool:
    """True for the values a key sets whole (a temperature, a series), though they are dataclasses."""
    return isinstance(obj, (Temperature, Series)) or not (
        isinstance(obj, tuple) or (dataclasses.is_dataclass(obj) and not isinstance(obj, type)))


def _step(obj: Any, parts: list[str], k: int) -> Any:
    """The value part ``k`` of a key names inside ``obj``; :class:`UnknownKey` naming what exists."""
    key, part, where = ".".join(parts), parts[k], ".".join(parts[:k]) or "the trial"
    if isinstance(obj, tuple):
        if part.isdigit() and int(part) < len(obj):
            return obj[int(part)]
        raise UnknownKey(f"{key}: {where} holds {len(obj)} items, numbered 0 to {len(obj) - 1}, not {part!r}")
    if not _is_leaf(obj):
        names = [f.name for f in dataclasses.fields(obj) if f.name not in _HIDDEN]
        if part in names:
            return getattr(obj, part)
        raise UnknownKey(f"{key}: {where} ({type(obj).__name__}) has no {part!r}; its fields: {', '.join(names)}")
    raise UnknownKey(f"{key}: {where} is {obj!r}, a value without fields")


def _annotation(holder: Any, name: str) -> str:
    """The written type of field ``name`` of a dataclass (``Optional[int]``), else ''."""
    if isinstance(holder, tuple):
        return ""
    return str(next((f.type for f in dataclasses.fields(holder) if f.name == name), ""))


def _converted(holder: Any, name: str, current: Any, value: Any, key: str) -> Any:
    """``value`` in the type of the field it replaces: a whole number for a count, a float for a
    quantity, a temperature from a word with its unit (``500K``, ``60C``), a preset by its key for
    the skin and kinetics, and the JSON form (:meth:`Trial.to_dict`) of any object."""
    if isinstance(value, (dict, list)):
        return _decode(value, name)
    if isinstance(value, str) and isinstance(current, Skin):
        return skin_preset(value)
    if isinstance(value, str) and isinstance(current, Kinetics):
        return kinetics_preset(value)
    written = _annotation(holder, name)
    if isinstance(current, Temperature) or (isinstance(current, Series) and current.is_temperature) or \
            (current is None and "Temperature" in written):
        if isinstance(value, (Temperature, Series)):
            return value
        if isinstance(value, str):
            return temperature_word(value, key)
        raise TypeError(f"{key} is a temperature: give it with its unit (500K, 60C; kelvin(...) or "
                        f"celsius(...)), not {value!r}")
    if not isinstance(value, (str, int, float)) or isinstance(value, bool):
        return value  # an object: its own checks apply
    if isinstance(current, bool):
        raise TypeError(f"{key} is true or false: give the object, not {value!r}")
    if isinstance(current, str):
        return str(value)
    try:
        number = float(value)
    except ValueError:
        raise TypeError(f"{key} takes a number, not {value!r}") from None
    # The field's annotation decides (a float field given 3 holds 3 and takes 0.6); only a field
    # without one goes by the value it holds.
    counted = bool(re.search(r"\bint\b", written)) and not re.search(r"\bfloat\b", written) if written \
        else isinstance(current, int)
    if counted:
        return whole(number, key)
    return number


def _scaled(current: Any, factor: float, how: str, key: str) -> Any:
    """``current`` (a number, a temperature in K, a series) times ``factor`` or plus it."""
    def op(y: Any) -> Any:
        return y * factor if how == "scale" else y + factor
    if isinstance(current, Series):
        values = op(np.asarray(current.values, dtype=float))
        return Series(current.times_s, kelvin(values) if current.is_temperature else values)
    if isinstance(current, Temperature):
        return kelvin(op(current.K))
    if isinstance(current, (int, float)) and not isinstance(current, bool):
        return op(float(current))
    raise TypeError(f"{key}: {key.rpartition('.')[0]} is not a number, temperature or series")


def _set(obj: Any, parts: list[str], value: Any, key: str, k: int = 0) -> Any:
    """``obj`` with the value that ``parts[k:]`` names set to ``value`` (converted by :func:`_converted`)."""
    part = parts[k]
    child = _step(obj, parts, k)
    new = _converted(obj, part, child, value, key) if k == len(parts) - 1 else _set(child, parts, value, key, k + 1)
    if isinstance(obj, tuple):
        i = int(part)
        return obj[:i] + (new,) + obj[i + 1:]
    changes = {part: new}
    if isinstance(obj, Skin) and part in _CRITERION_DEPTHS:  # set by key: explicit from now on
        changes["from_layers"] = tuple(p for p in obj.from_layers if p[0] != part)
    return dataclasses.replace(obj, **changes)


def set_key(trial: "Trial", key: str, value: Any) -> "Trial":
    """``trial`` with the value at a dotted ``key`` set: the package's one key language.

    A key walks fields by name and tuple items by number (``skin.layers.0.conductivity_W_mK``,
    ``after_exposure_s.max_doublings``); ``NAME.scale`` and ``NAME.offset`` multiply or shift a
    number, a temperature (in K) or a series; ``exposure.standoff_ratio`` sets a jet's stand-off in
    nozzle diameters. The value takes the type of the field (:func:`_converted`). A criterion depth
    of the skin set by key is explicit and stays when its layers change; one derived from a layer
    follows the layer. :class:`UnknownKey` names the fields that exist where a key goes wrong;
    TypeError a value of the wrong kind; the objects' own checks raise ValueError.
    """
    parts = key.split(".")
    if len(parts) > 1 and parts[-1] in ("scale", "offset"):
        base = parts[:-1]
        try:
            factor = float(value)
        except (TypeError, ValueError):
            raise TypeError(f"{key} takes a number, not {value!r}") from None
        return _set(trial, base, _scaled(trial.get(".".join(base)), factor, parts[-1], key), key)
    if key == "exposure.standoff_ratio":
        nozzle = getattr(trial.exposure, "nozzle_diameter_m", None)
        if nozzle is None:
            raise UnknownKey(f"{key}: the exposure ({type(trial.exposure).__name__}) is not a jet")
        ratio = _converted(trial.exposure, "standoff_m", 0.0, value, key)
        return _set(trial, ["exposure", "standoff_m"], float("%.12g" % (ratio * nozzle)), key)
    return _set(trial, parts, value, key)


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
            # GasTable checks that each row holds its four values.
            rows = cast("tuple[tuple[float, float, float, float], ...]", tuple(tuple(r) for r in value["rows"]))
            return GasTable(value["name"], rows, value.get("source", ""))
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
    grid, cooling = trial.grid, trial.after_exposure_s
    assert isinstance(grid, Grid) and not isinstance(cooling, AutoCooling), "a resolved trial"
    nodes = grid.node_count(trial.skin)
    duration = trial.exposure.duration_s
    after = float(cooling)
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
    grid = trial.grid
    assert isinstance(grid, Grid), "layout refuses an automatic grid"
    dx, dt = grid.deltax_m, grid.deltat_s
    # Backward Euler takes a step's convection and flux from the record at
    # its start, and each step's mean; BDF2 every face value from the record
    # at its end, and the value there (the mean across a jump).
    bdf2 = grid.time_scheme == "bdf2"
    skin = trial.skin
    reach = (nodes + 1) * dx
    files: dict[str, str] = {}
    core_K = float(trial.initial.core.K)
    surface_K = float(trial.initial.surface.K)

    kin = trial.kinetics if trial.kinetics.single_set else PROGRAM_DEFAULT
    mantissa, exponent = _frequency_words(kin.regimes[0].frequency_factor_per_s)
    energy_J_mol, gas_J_molK = kin.activation_energy_J_mol, kin.gas_constant_J_molK
    assert energy_J_mol is not None and gas_J_molK is not None, "a single set carries both"

    exp = trial.exposure
    lbc = exp.face
    left_file = None
    jet_text = None
    if isinstance(exp, HeatFlux):
        prof = Profile.cut(knots(exp.flux_W_m2, "flux_W_m2", False), duration, 0.0)
        left_bc = table_pairs(record_values(prof, dt, steps, "end" if bdf2 else "start", bdf2), dt)
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
        if bdf2:
            # The values at each step's end where both are straight over it.
            h_step, gas_step = step_values(h, starts, dt, True), step_values(gas, starts, dt, True)
            straight = ~h._knots_inside(starts, starts + dt) & ~gas._knots_inside(starts, starts + dt)
            h_mean = np.where(straight, h_step, h_mean)
            gas_eff = np.where(straight, gas_step, gas_eff)
            h_mean = end_records(float(h.after(np.array([0.0]))[0]), h_mean)
            gas_eff = end_records(float(gas.after(np.array([0.0]))[0]), gas_eff)
        left_bc = table_pairs(h_mean, dt)
        left_amb = table_pairs(gas_eff, dt)
    elif isinstance(exp, SurfaceTemperature):
        after = float(exp.after.K) if exp.after is not None else core_K
        prof = Profile.cut(knots(exp.temperature, "temperature", True), duration, after)
        left_bc = table_pairs(record_values(prof, dt, steps, "end", bdf2), dt)
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
        if bdf2:
            # Each step's values at the record (and the time) of its end.
            boundary = end_records(boundary[0], boundary)
            gas_rec = end_records(gas_rec[0], gas_rec)
            vel_rec = end_records(vel_rec[0], vel_rec)
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
        f"Activation-energy: {_num(energy_J_mol)}",
        f"Gas-constant: {_num(gas_J_molK)}",
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
