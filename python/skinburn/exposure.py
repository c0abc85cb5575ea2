"""What the faces of the skin see: exposures of the surface, the inner face,
and values against time (:mod:`skinburn.sampling` makes them skinburn's
per-step tables).

Exposures act from time 0 for ``duration_s`` and are then replaced by what
follows them (no flux, a cooling convection, a cooling temperature). A value
may be a constant or a :class:`Series` against time within the exposure.

Holds the exposures (:class:`HeatFlux`, :class:`Convection`, :class:`Flame`,
:class:`SurfaceTemperature`, :class:`AirbagJet`), the inner faces, the
initial profile, :class:`Series` and the gas table.
Uses :mod:`skinburn.checks` and :mod:`skinburn.units`.
"""
from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Optional, Union

import numpy as np
import numpy.typing as npt

from .checks import finite, non_negative, positive
from .units import Temperature, require_temperature

# --- Values against time ------------------------------------------------------


@dataclass(frozen=True, eq=False)
class Series:
    """A value against time: straight lines between points, two points at one time a jump.

    ``times_s`` ascend from 0 (s). ``values`` are plain numbers in the unit of
    the quantity they stand for (W/m^2, W/(m^2 K), m/s), or a
    :class:`~skinburn.units.Temperature` for temperatures. Past the last
    point the last value holds.
    """

    times_s: tuple[float, ...]
    values: tuple[float, ...]
    is_temperature: bool = False

    def __init__(self, times_s: npt.ArrayLike, values: Union[npt.ArrayLike, Temperature]) -> None:
        t = tuple(float(x) for x in np.atleast_1d(np.asarray(times_s, dtype=float)))
        is_temp = isinstance(values, Temperature)
        v = tuple(float(x) for x in np.atleast_1d(values.K if isinstance(values, Temperature)
                                                  else np.asarray(values, dtype=float)))
        if len(t) != len(v) or not t:
            raise ValueError(f"a series needs as many times as values ({len(t)} and {len(v)})")
        for k, x in enumerate(t):
            if not np.isfinite(x):
                raise ValueError(f"time {k + 1} of a series is {x!r} s: times must be finite")
        if t[0] != 0.0:
            raise ValueError(f"a series starts at time 0, not {t[0]!r} s")
        for a, b in zip(t, t[1:]):
            if b < a:
                raise ValueError(f"the times of a series must not decrease: {b!r} s after {a!r} s")
        for x, y in zip(t, v):
            if not np.isfinite(y):
                unit = " K" if is_temp else ""
                raise ValueError(f"the value of a series at {x!r} s is {y!r}{unit}: values must be finite")
        object.__setattr__(self, "times_s", t)
        object.__setattr__(self, "values", v)
        object.__setattr__(self, "is_temperature", is_temp)

    def __eq__(self, other: object) -> bool:
        return (isinstance(other, Series) and self.times_s == other.times_s
                and self.values == other.values and self.is_temperature == other.is_temperature)

    def __hash__(self) -> int:
        return hash((self.times_s, self.values, self.is_temperature))

    def __repr__(self) -> str:
        vals = f"kelvin({list(self.values)})" if self.is_temperature else repr(list(self.values))
        return f"Series({list(self.times_s)}, {vals})"

    def scaled(self, factor: float) -> "Series":
        """The same shape with every value times ``factor`` (not for temperatures)."""
        if self.is_temperature:
            raise TypeError("scale a temperature series by building a new one")
        return Series(self.times_s, np.asarray(self.values) * factor)

    def to_dict(self) -> dict:
        """JSON form."""
        key = "values_K" if self.is_temperature else "values"
        return {"times_s": list(self.times_s), key: list(self.values)}


Value = Union[float, Series]
TemperatureValue = Union[Temperature, Series]


def least_value(value: Value, what: str, unit: str, least: float, strict: bool) -> None:
    """ValueError naming ``what`` and ``unit`` unless every value of a constant or series is at least
    ``least`` (greater than it when ``strict``)."""
    times, values = knots(value, what, False, unit)
    for t, v in zip(times, values):
        if v < least or (strict and v == least):
            at = f" at {t!r} s" if isinstance(value, Series) else ""
            need = "greater than" if strict else "at least"
            raise ValueError(f"{what} must be {need} {least:g} {unit}, not {v!r} {unit}{at}")


def knots(value: Union[Value, TemperatureValue], what: str, temperature: bool,
          unit: str = "") -> tuple[np.ndarray, np.ndarray]:
    """(times s, values) of a constant or a series, checked; temperatures in K, else in ``unit``."""
    if isinstance(value, Series):
        if value.is_temperature != temperature:
            need = "temperatures given with celsius(...) or kelvin(...)" if temperature else "plain numbers"
            raise TypeError(f"{what}: the series must hold {need}")
        return np.array(value.times_s), np.array(value.values)
    if temperature:
        t = require_temperature(value, what)
        if not t.is_scalar:
            raise TypeError(f"{what}: use Series(times_s, temperatures) for values against time")
        return np.array([0.0]), np.array([t.K])
    if isinstance(value, Temperature):
        raise TypeError(f"{what} is not a temperature")
    return np.array([0.0]), np.array([finite(value, what, unit)])


#: Names that moved to :mod:`skinburn.sampling`, still found here for one release (with a warning).
_MOVED = ("Profile", "step_values", "product_step_means", "record_values", "end_records", "table_pairs",
          "staircase_pairs")


def __getattr__(name: str) -> object:
    """A name that moved to :mod:`skinburn.sampling`: its, with a DeprecationWarning."""
    if name in _MOVED:  # looked up when asked for: the module stands above this one
        import importlib
        import warnings
        warnings.warn(f"skinburn.exposure.{name} is skinburn.sampling.{name}", DeprecationWarning, stacklevel=2)
        return getattr(importlib.import_module("skinburn.sampling"), name)
    raise AttributeError(f"module 'skinburn.exposure' has no attribute {name!r}")


# --- Gas properties of the jet -----------------------------------------------

@dataclass(frozen=True)
class GasTable:
    """Eighteen rows of gas properties: T in K, kinematic viscosity m^2/s, conductivity W/(m K), Prandtl number."""

    name: str
    rows: tuple[tuple[float, float, float, float], ...]
    source: str = ""

    def __post_init__(self) -> None:
        if len(self.rows) != 18 or any(len(r) != 4 for r in self.rows):
            raise ValueError("skinburn reads exactly 18 rows of four numbers")
        columns = (("temperature", "K"), ("kinematic viscosity", "m^2/s"), ("conductivity", "W/(m K)"),
                   ("Prandtl number", ""))
        for k, row in enumerate(self.rows):
            for (what, unit), x in zip(columns, row):
                positive(x, f"the gas table's {what} in row {k + 1}", unit)
        temps = [r[0] for r in self.rows]
        if any(b <= a for a, b in zip(temps, temps[1:])):
            raise ValueError("the gas table's temperatures must ascend")

    def text(self) -> str:
        """The file GASPROP.DAT."""
        lines = ["# Gas properties: temperature K, kinematic viscosity m^2/s,",
                 "# thermal conductivity W/(m K), Prandtl number.",
                 "# " + self.name[:75], "T nu k Pr"]
        lines += [f"{t!r} {nu!r} {k!r} {pr!r}" for t, nu, k, pr in self.rows]
        return "\n".join(lines) + "\n"


#: Air at atmospheric pressure, 250-1200 K (the table shipped with the airbag example).
AIR_1ATM = GasTable(
    "air at 1 atm, 250-1200 K",
    ((250.0, 11.44e-6, 0.0223, 0.720), (300.0, 15.89e-6, 0.0263, 0.707),
     (350.0, 20.92e-6, 0.0300, 0.700), (400.0, 26.41e-6, 0.0338, 0.690),
     (450.0, 32.39e-6, 0.0373, 0.686), (500.0, 38.79e-6, 0.0407, 0.684),
     (550.0, 45.57e-6, 0.0439, 0.683), (600.0, 52.69e-6, 0.0469, 0.685),
     (650.0, 60.21e-6, 0.0497, 0.690), (700.0, 68.10e-6, 0.0524, 0.695),
     (750.0, 76.37e-6, 0.0549, 0.702), (800.0, 84.93e-6, 0.0573, 0.709),
     (850.0, 93.80e-6, 0.0596, 0.716), (900.0, 102.9e-6, 0.0620, 0.720),
     (950.0, 112.2e-6, 0.0643, 0.723), (1000.0, 121.9e-6, 0.0667, 0.726),
     (1100.0, 141.8e-6, 0.0715, 0.728), (1200.0, 162.9e-6, 0.0763, 0.728)),
    source="F. P. Incropera and D. P. DeWitt, Fundamentals of Heat and Mass Transfer, "
           "Table A.4 (thermophysical properties of air at atmospheric pressure); the same rows "
           "as examples/airbag-jet/GASPROP.DAT. Above 1200 K skinburn uses the last row.")


# --- Exposures of the surface -------------------------------------------------

def _check_duration(duration_s: float) -> None:
    positive(duration_s, "duration_s", "s")


def _check_after(after_h_W_m2K: float, after_gas: Optional[Temperature]) -> None:
    if non_negative(after_h_W_m2K, "after_h_W_m2K", "W/(m^2 K)") > 0:
        require_temperature(after_gas, "after_gas")


@dataclass(frozen=True)
class HeatFlux:
    """A heat flux absorbed by the surface (W/m^2, positive heats) for ``duration_s``, then none."""

    flux_W_m2: Value
    duration_s: float

    face = "FLUX"

    def __post_init__(self) -> None:
        _check_duration(self.duration_s)
        knots(self.flux_W_m2, "flux_W_m2", False, "W/m^2")


@dataclass(frozen=True)
class Convection:
    """Convection with h (W/(m^2 K)) from gas at ``gas`` for ``duration_s``, then ``after_h_W_m2K`` from ``after_gas``.

    With ``after_h_W_m2K`` 0 (the default) the surface is insulated after the exposure.
    """

    h_W_m2K: Value
    gas: TemperatureValue
    duration_s: float
    after_h_W_m2K: float = 0.0
    after_gas: Optional[Temperature] = None

    face = "CONVECTION"

    def __post_init__(self) -> None:
        _check_duration(self.duration_s)
        least_value(self.h_W_m2K, "h_W_m2K", "W/(m^2 K)", 0.0, strict=False)
        knots(self.gas, "gas", True)
        _check_after(self.after_h_W_m2K, self.after_gas)


#: W/(m^2 K^4), the Stefan-Boltzmann constant (CODATA 2018, exact).
STEFAN_BOLTZMANN = 5.670374419e-8
#: The emissivity of human skin in the thermal infrared, 0.98 (Steketee, Phys. Med. Biol. 18 (1973)
#: 686-694: 0.98 +- 0.01 from 3 to 14 um, whatever the pigmentation).
SKIN_EMISSIVITY = 0.98


@dataclass(frozen=True)
class Flame:
    """A flame on the surface for ``duration_s``, then the surface insulated.

    The surface takes convection with h (W/(m^2 K)) from gas at ``gas``, an
    incident radiant flux ``radiant_W_m2`` (W/m^2) of which it absorbs
    ``absorptivity`` (the ``emissivity``, a grey surface, unless given), and
    re-radiates emissivity x sigma (T_s^4 - T_surr^4) to surroundings at
    ``surroundings`` (default 25 C), T_s its own temperature.

    The program's faces are linear in the surface temperature, so the
    package writes the flame as the CONVECTION face h + h_r from
    T_eff = (h T_gas + absorptivity q + h_r T_surr) / (h + h_r), with
    h_r = emissivity sigma (T_s^2 + T_surr^2)(T_s + T_surr) taken at
    ``surface_K``, the surface temperature of a run before (None: the
    surroundings'). :func:`skinburn.runs.run` runs a trial with a flame
    again on the surface temperature it gave until that settles (to
    ``FLAME_TOLERANCE_K``), where the face's re-radiation is
    emissivity sigma (T_s^4 - T_surr^4) at every record.
    """

    h_W_m2K: Value
    gas: TemperatureValue
    radiant_W_m2: Value
    duration_s: float
    emissivity: float = SKIN_EMISSIVITY
    absorptivity: Optional[float] = None
    surroundings: Temperature = Temperature(298.15)
    surface_K: Optional[Series] = None

    face = "CONVECTION"

    def __post_init__(self) -> None:
        _check_duration(self.duration_s)
        least_value(self.h_W_m2K, "h_W_m2K", "W/(m^2 K)", 0.0, strict=False)
        knots(self.gas, "gas", True)
        least_value(self.radiant_W_m2, "radiant_W_m2", "W/m^2", 0.0, strict=False)
        for what in ("emissivity", "absorptivity"):
            value = getattr(self, what)
            if value is not None and not 0.0 <= finite(value, what, "") <= 1.0:
                raise ValueError(f"{what} must lie from 0 to 1, not {value!r}")
        require_temperature(self.surroundings, "surroundings")
        if self.surface_K is not None and not self.surface_K.is_temperature:
            raise TypeError("surface_K: the series must hold temperatures given with kelvin(...)")

    def reradiation_h(self, surface_K: np.ndarray) -> np.ndarray:
        """h_r (W/(m^2 K)) at surface temperatures (K): emissivity sigma (T_s^4 - T_surr^4) / (T_s - T_surr)."""
        ts, tr = np.asarray(surface_K, dtype=float), float(self.surroundings.K)
        return self.emissivity * STEFAN_BOLTZMANN * (ts * ts + tr * tr) * (ts + tr)

    def as_convection(self) -> Convection:
        """The CONVECTION face the program takes for this flame, linearized about ``surface_K``."""
        absorbed = self.emissivity if self.absorptivity is None else self.absorptivity
        hk, gk, qk = knots(self.h_W_m2K, "h_W_m2K", False), knots(self.gas, "gas", True), \
            knots(self.radiant_W_m2, "radiant_W_m2", False)
        surface = (np.array(self.surface_K.times_s), np.array(self.surface_K.values)) if self.surface_K is not None \
            else (np.array([0.0]), np.array([float(self.surroundings.K)]))
        times = np.unique(np.concatenate([k[0] for k in (hk, gk, qk, surface)] + [np.array([self.duration_s])]))
        times = times[times <= self.duration_s]

        def at(k: tuple[np.ndarray, np.ndarray]) -> np.ndarray:
            return np.interp(times, k[0], k[1])
        h, gas, q, ts = at(hk), at(gk), at(qk), at(surface)
        hr = self.reradiation_h(ts)
        total = h + hr
        eff = (h * gas + absorbed * q + hr * float(self.surroundings.K)) / total
        return Convection(Series(times, total), Series(times, Temperature(eff)), self.duration_s)


@dataclass(frozen=True)
class SurfaceTemperature:
    """The surface held at ``temperature`` for ``duration_s`` (hot-liquid contact), then at ``after``.

    ``after`` None holds the surface at the core temperature (the initial
    temperature of the deepest node) once the contact ends.
    """

    temperature: TemperatureValue
    duration_s: float
    after: Optional[Temperature] = None

    face = "TEMPERATURE"

    def __post_init__(self) -> None:
        _check_duration(self.duration_s)
        knots(self.temperature, "temperature", True)
        if self.after is not None:
            require_temperature(self.after, "after")


@dataclass(frozen=True)
class AirbagJet:
    """An impinging jet of hot gas (skinburn's jet correlation) for ``duration_s``.

    Nozzle diameter, stand-off (nozzle to skin) and off-axis spacing in m;
    gas temperature and velocity (m/s, positive: towards the skin) constant
    or against time; the jet's Reynolds number from the velocity at every
    step unless ``reynolds`` (positive) is given; ``near_field`` adds the near-field term of the on-axis
    correlation for stand-offs up to 5.5 diameters. The stand-off must lie
    in (0, 20] nozzle diameters. After the jet, ``after_h_W_m2K`` (not 1.0,
    which selects the jet) from ``after_gas``; 0 insulates.
    """

    nozzle_diameter_m: float
    standoff_m: float
    gas_temperature: TemperatureValue
    gas_velocity_m_s: Value
    duration_s: float
    offaxis_spacing_m: float = 0.0
    near_field: bool = True
    reynolds: Optional[float] = None
    gas_table: GasTable = AIR_1ATM
    after_h_W_m2K: float = 0.0
    after_gas: Optional[Temperature] = None

    face = "CONVECTION"

    def __post_init__(self) -> None:
        _check_duration(self.duration_s)
        nozzle = positive(self.nozzle_diameter_m, "nozzle_diameter_m", "m")
        standoff = positive(self.standoff_m, "standoff_m", "m")
        non_negative(self.offaxis_spacing_m, "offaxis_spacing_m", "m")
        ratio = standoff / nozzle
        if not 0 < ratio <= 20:
            raise ValueError(f"the stand-off is {ratio:g} nozzle diameters; skinburn's jet "
                             "correlation holds for 0 < stand-off <= 20 diameters")
        knots(self.gas_temperature, "gas_temperature", True)
        # The jet's Reynolds number and Nusselt number need a gas moving towards the skin.
        least_value(self.gas_velocity_m_s, "gas_velocity_m_s", "m/s", 0.0, strict=True)
        if self.reynolds is not None and not finite(self.reynolds, "reynolds") > 0:
            raise ValueError(f"reynolds (a Reynolds number, no unit) must be positive, not {self.reynolds!r}; "
                             "None takes it from the gas velocity at every step")
        if self.after_h_W_m2K == 1.0:
            raise ValueError("after_h_W_m2K 1.0 would select the jet coefficient in LEFTIMP.DAT")
        _check_after(self.after_h_W_m2K, self.after_gas)

    @property
    def standoff_ratio(self) -> float:
        """Stand-off over nozzle diameter."""
        return self.standoff_m / self.nozzle_diameter_m


Exposure = Union[HeatFlux, Convection, Flame, SurfaceTemperature, AirbagJet]


# --- The inner face -----------------------------------------------------------

@dataclass(frozen=True)
class HeldTemperature:
    """The inner face held at ``temperature``; None: at its initial (core) temperature."""

    temperature: Optional[Temperature] = None
    face = "TEMPERATURE"

    def __post_init__(self) -> None:
        if self.temperature is not None:
            require_temperature(self.temperature, "temperature")


@dataclass(frozen=True)
class Insulated:
    """No heat through the inner face."""

    face = "FLUX"


@dataclass(frozen=True)
class InnerConvection:
    """Convection at the inner face with h (W/(m^2 K)) to ``ambient``."""

    h_W_m2K: float
    ambient: Temperature
    face = "CONVECTION"

    def __post_init__(self) -> None:
        require_temperature(self.ambient, "ambient")
        non_negative(self.h_W_m2K, "h_W_m2K", "W/(m^2 K)")


InnerFace = Union[HeldTemperature, Insulated, InnerConvection]


# --- Initial temperatures -------------------------------------------------------

@dataclass(frozen=True)
class InitialProfile:
    """Initial temperatures: ``surface`` at depth 0, straight to ``core`` at the inner face (the deepest node)."""

    surface: Temperature
    core: Temperature

    def __post_init__(self) -> None:
        require_temperature(self.surface, "surface")
        require_temperature(self.core, "core")

    @classmethod
    def uniform(cls, temperature: Temperature) -> "InitialProfile":
        """The same temperature through the depth."""
        return cls(temperature, temperature)

    @classmethod
    def linear(cls, surface: Temperature, core: Temperature) -> "InitialProfile":
        """Straight from the surface temperature to the core temperature at the inner face."""
        return cls(surface, core)

    def pairs(self, inner_m: float, reach_m: float) -> list[tuple[float, float]]:
        """(depth m, K) pairs for the initial-temperature table: the core at ``inner_m``, covering ``reach_m``."""
        s, c = float(self.surface.K), float(self.core.K)
        if s == c:
            return [(0.0, s), (reach_m, s)]
        pairs = [(0.0, s), (inner_m, c)]
        if reach_m > inner_m:
            pairs.append((reach_m, c))
        return pairs

    def at_depth_K(self, depth_m: npt.ArrayLike, inner_m: float) -> np.ndarray:
        """The initial temperature (K) at each depth (m), the inner face at ``inner_m``."""
        return np.interp(np.asarray(depth_m, dtype=float), [0.0, inner_m], [float(self.surface.K), float(self.core.K)])


def after_phase(exposure: Any, initial: InitialProfile, duration_s: float) -> Optional[Exposure]:
    """What the exposed face does once ``exposure`` has ended, as an exposure of its own that lasts
    ``duration_s`` (s) and does the same after it: the face of a run carried on from the end of one
    that went past the exposure. None for an exposure whose face goes on changing after it (a garment's
    fabric still heats the skin)."""
    if getattr(exposure, "after_text", None) is not None:
        return None
    if isinstance(exposure, SurfaceTemperature):
        held = exposure.after if exposure.after is not None else initial.core
        return SurfaceTemperature(held, duration_s, exposure.after)
    if isinstance(exposure, HeatFlux):
        return HeatFlux(0.0, duration_s)
    h = float(getattr(exposure, "after_h_W_m2K", 0.0))
    gas = getattr(exposure, "after_gas", None)
    return Convection(h, gas if gas is not None else initial.surface, duration_s, h, gas)


def after_exposure_text(exposure: Exposure, initial: InitialProfile) -> str:
    """What the exposed face does once ``exposure`` has ended (:func:`after_phase`), as the trial's
    data directory writes it: ``the face insulated``, ``convection at 10 W/(m^2 K) from 293.15 K``,
    ``the surface held at 310.15 K (the core temperature)``; an exposure that says it itself
    (``after_text()``, a garment's), its own words."""
    own = getattr(exposure, "after_text", None)
    if own is not None:
        return str(own())
    phase = after_phase(exposure, initial, 1.0)
    if isinstance(phase, SurfaceTemperature):
        assert isinstance(phase.temperature, Temperature), "a held face holds one temperature"
        return f"the surface held at {float(phase.temperature.K):g} K" + (
            " (the core temperature)" if getattr(exposure, "after", None) is None else "")
    h = phase.h_W_m2K if isinstance(phase, Convection) else 0.0
    if not h:
        return "the face insulated"
    assert isinstance(phase, Convection) and isinstance(h, float) and isinstance(phase.gas, Temperature), \
        "the air after the exposure: one coefficient, one temperature"
    return f"convection at {h:g} W/(m^2 K) from {float(phase.gas.K):g} K" + (
        " (the initial surface temperature)" if getattr(exposure, "after_gas", None) is None else "")