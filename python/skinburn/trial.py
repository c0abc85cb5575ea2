"""A trial described by Python values.

A :class:`Trial` holds a skin, the initial temperatures, the exposure of
the surface, the inner face, the grid, how long the run goes on after the
exposure and the kinetics written into ``DATA.DAT``
(:func:`skinburn.writer.write_trial` writes its data directory).

The grid and the time after the exposure may be left to the package
(:class:`AutoGrid`, :class:`AutoCooling`); :func:`skinburn.runs.run` settles
them by runs of the program before the trial proper.

Holds :class:`Trial`, :class:`Grid`, :class:`AutoGrid`, :class:`AutoCooling`,
the program's capacity, the trial's keys and its dict form. Uses :mod:`skinburn.checks`,
:mod:`skinburn.exposure`, :mod:`skinburn.kinetics`, :mod:`skinburn.skin` and
:mod:`skinburn.units`; it runs nothing.
"""
from __future__ import annotations

import dataclasses
import re
from dataclasses import dataclass
from typing import Any, Optional, Union, cast

import numpy as np

from .checks import non_negative, positive, whole
from .exposure import (AIR_1ATM, AirbagJet, Convection, Exposure, Flame, GasTable, HeatFlux, HeldTemperature,
                       InitialProfile, InnerConvection, InnerFace, Insulated, Series, SurfaceTemperature)
from .criteria import KineticsByDegree, KineticsLike, kinetics_choice, kinetics_from_dict, resolved
from .garment import Clothed, Fabric, Garment
from .kinetics import PROGRAM_DEFAULT, Kinetics, kinetics_preset
from .skin import Skin, skin_preset
from .units import SkinburnError, Temperature, kelvin, temperature_word

#: Names that moved to :mod:`skinburn.writer`, still found here for one release (with a warning).
_MOVED = {"write_trial": "writer", "layout": "writer", "Layout": "writer"}


def __getattr__(name: str) -> Any:
    """A name that moved to another module: that module's, with a DeprecationWarning."""
    if name in _MOVED:
        import importlib
        import warnings
        warnings.warn(f"skinburn.trial.{name} is skinburn.{_MOVED[name]}.{name}", DeprecationWarning, stacklevel=2)
        return getattr(importlib.import_module(f"skinburn.{_MOVED[name]}"), name)
    raise AttributeError(f"module 'skinburn.trial' has no attribute {name!r}")


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
    1 s), the time is doubled, at most ``max_doublings`` times (2^10: an
    insulated face keeps the heat of a flash fire in the skin for minutes,
    and the dermis base under a jet above 44 C as long),
    while the result grew by more than ``tolerance`` (relative) over the
    last quarter of the run: the depths Omega = 0.53 and 1 reach, and Omega
    at the criterion depths where the degree is in doubt (from 1 % of the
    lowest threshold to 100 times the highest; an Omega whose ln lies more
    than 1 from every threshold counts its growth against that distance).
    """

    tolerance: float = 0.01
    start_s: Optional[float] = None
    max_doublings: int = 10

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
    written and the package evaluates the model from the history. It may
    name a model per degree (:class:`~skinburn.criteria.KineticsByDegree`;
    degrees left open take :data:`~skinburn.kinetics.PROGRAM_DEFAULT`): an
    automatic grid and cooling time are then settled under each model in
    turn, and one naming the same model for every degree is that model.
    """

    skin: Skin
    initial: InitialProfile
    exposure: Union[Exposure, Clothed]
    inner: InnerFace = HeldTemperature()
    grid: Union[Grid, AutoGrid] = AutoGrid()
    after_exposure_s: Union[float, AutoCooling] = AutoCooling()
    kinetics: KineticsLike = PROGRAM_DEFAULT
    title: str = "skinburn trial"

    def __post_init__(self) -> None:
        if isinstance(self.kinetics, KineticsByDegree):
            object.__setattr__(self, "kinetics", resolved(self.kinetics, PROGRAM_DEFAULT))
        elif not isinstance(self.kinetics, Kinetics):
            raise TypeError(f"a trial's kinetics is a Kinetics or a KineticsByDegree, not {self.kinetics!r}")
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
        decoded = _decode(value, name)
        if name == "kinetics" and isinstance(decoded, KineticsByDegree) and isinstance(current, (Kinetics, KineticsByDegree)):
            return resolved(decoded, current)  # the degrees it leaves open keep the trial's model
        return decoded
    if isinstance(value, str) and isinstance(current, Skin):
        return skin_preset(value)
    if isinstance(value, str) and (isinstance(current, (Kinetics, KineticsByDegree)) or
                                   (current is None and "Kinetics" in _annotation(holder, name))):
        if name == "kinetics":  # a model per degree keeps the trial's model for the degrees it leaves open
            return resolved(kinetics_choice(value), current if current is not None else PROGRAM_DEFAULT)
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

_TYPES = {cls.__name__: cls for cls in (Trial, Grid, AutoGrid, AutoCooling, HeatFlux, Convection, Flame,
                                        SurfaceTemperature, AirbagJet, HeldTemperature, Insulated,
                                        InnerConvection, InitialProfile, Clothed, Garment, Fabric)}


def _encode(obj: Any) -> Any:
    if isinstance(obj, Temperature):
        return obj.to_dict()
    if isinstance(obj, Series):
        return obj.to_dict()
    if isinstance(obj, (Skin, Kinetics, KineticsByDegree)):
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
            return kinetics_from_dict(value)
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
