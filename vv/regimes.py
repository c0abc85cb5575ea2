"""Evidence by regime: independent burn data beyond the Stoll curve and the Moritz-Henriques times.

Four comparisons, none of whose data any kinetics preset was fitted to:

- contact depth: pig contact burns at 100 °C (Papp et al. 2004, ``vv/data/papp_2004.csv``), the depth
  class predicted after 1, 3 and 9 s of contact;
- long hot-water thresholds: pig scalds that had not healed by day 21 (Andrews et al. 2017,
  ``vv/data/andrews_2017.csv``), the time to deep-dermal damage;
- a short radiant flash on pre-cooled skin (Log 2017): the degree predicted;
- short hot gas: the second-degree threshold of a 10 mm hot-air jet against the box of exposures of
  SAE 942217 (1994), and the heat it transfers against Ripple, Torrington and Phillips (1990).

Depth classes, from the deepest depth d where Omega reaches 1 and the skin's epidermis base e and
dermis base D: superficial when d < e (Omega 1 within the epidermis only) or Omega reaches 1 nowhere
but 0.53 at e; partial thickness when e <= d < D, deep dermal from e + 0.75 (D - e) on (Andrews: damage
to at least 75 % of the dermis went with non-healing by 3 weeks), superficial dermal above it; full
thickness when d >= D.
"""
from __future__ import annotations

import csv
import dataclasses
import math
from dataclasses import dataclass, field
from pathlib import Path
from typing import Optional, Union

import numpy as np

import skinburn as sb
from skinburn.scenarios import SKIN_CORE, SKIN_SURFACE, airbag_jet, flash_fire, hot_liquid

DATA = Path(__file__).resolve().parent / "data"
KINETICS = (sb.WEAVER_STOLL_1969, sb.HENRIQUES_1947, sb.PROGRAM_DEFAULT)
BANDED = (sb.WEAVER_STOLL_1969, sb.HENRIQUES_1947)

#: Andrews et al. (2017): damage to at least this fraction of the dermis went with non-healing by 3 weeks.
DEEP_FRACTION = 0.75
#: Pig dorsal skin, full thickness (Singh et al., Burns 42 (2016) 1507-1512: "3.1mm represented a full
#: thickness burn"), m: the dermis base of the thicker skin the pig comparisons are also run on.
PIG_DERMIS_BASE_M = 3.1e-3
CLASSES = ("none", "superficial", "partial thickness", "full thickness")

PAPP_PLATE = sb.celsius(100.0)
#: Papp's bracket of the time to full thickness (s): partial thickness at 3 s, full at 9 s.
PAPP_FULL_BRACKET_S = (3.0, 9.0)
#: The band: the time to full thickness within this factor of that bracket.
PAPP_FULL_FACTOR = 2.0
#: Bands on Andrews's non-healing immersions: Henriques within this factor of every duration either way;
#: Weaver-Stoll no later than this multiple of every duration.
ANDREWS_HENRIQUES_FACTOR = 4.0
ANDREWS_WEAVER_STOLL_LATEST = 1.5

#: Log (2017): 0.74 s at 86 kW/m^2 after 30 s of a 5 C water spray.
LOG_FLUX_W_M2 = 86e3
LOG_FLASH_S = 0.74
LOG_SPRAY_S = 30.0
LOG_RELAX_S = 1.0  # 30-31 s "first temperature relaxation" of Log's model phases (read on a mirror page)
LOG_WATER = sb.celsius(5.0)
#: The spray as the surface held at the water's temperature: h (W/(m^2 K)) this large holds it there to
#: within 0.2 K (the flux out of the skin stays below 20 kW/m^2).
HELD_H_W_M2K = 1e5
LOG_GRID = (80e-6 / 7.5, 0.01)
LOG_FINE_GRID = (80e-6 / 15.5, 0.005)
#: The most Omega at the epidermis base may change with the grid and step halved: its values lie at least
#: a factor 2 from the thresholds (0.53, 1), so this cannot move the degree.
LOG_OMEGA_MAX = 0.10

#: SAE 942217: a 10 mm jet of hot air on leg skin, 350-550 C, 50-90 m/s, 50-300 ms; 70 of 183 burned.
SAE_TEMPERATURES_C = (350.0, 400.0, 450.0, 500.0, 550.0)
SAE_VELOCITIES_M_S = (50.0, 70.0, 90.0)
SAE_DURATIONS_S = (0.05, 0.3)
NOZZLE_M = 0.01
#: The stand-off (nozzle to skin) is not in the sources: 2 nozzle diameters assumed, 5 as the other case.
STANDOFFS = (2.0, 5.0)
#: Ripple, Torrington and Phillips (1990): "Approximately 16.4 J/cm2 of heat transfer are necessary to
#: cause second-degree burns"; "a time-temperature integral of 1315°C-second ... above body temperature".
RIPPLE_HEAT_J_M2 = 16.4e4
RIPPLE_INTEGRAL_C_S = 1315.0
#: The band: the heat a cold surface would take from the jet at the model's threshold, over Ripple's.
RIPPLE_BAND = (1 / 6, 1 / 2)
#: The most relative numerical uncertainty a new prediction may carry.
UNCERTAINTY_MAX = 0.05

Band = tuple[str, float, str, bool]


def _rows(name: str) -> list[dict[str, str]]:
    with open(DATA / name, encoding="utf-8") as f:
        return list(csv.DictReader(line for line in f if not line.startswith("#")))


def pig_skin() -> sb.Skin:
    """Torvi and Dale's layers with the dermis reaching :data:`PIG_DERMIS_BASE_M` (3.02 mm of dermis)."""
    td = sb.TORVI_DALE_1994
    epi = td.layers[0].thickness_m
    layers = (td.layers[0], dataclasses.replace(td.layers[1], thickness_m=PIG_DERMIS_BASE_M - epi)) + td.layers[2:]
    return sb.Skin("Torvi-Dale layers, dermis base 3.1 mm", layers, td.source + "; dermis to 3.1 mm (pig dorsum)")


SKINS = {"Torvi-Dale": sb.TORVI_DALE_1994, "dermis to 3.1 mm": pig_skin()}


def deep_dermal_depth_m(skin: sb.Skin) -> float:
    """The depth (m) :data:`DEEP_FRACTION` of the way through the dermis."""
    e, d = skin.criterion_depths_m
    return e + DEEP_FRACTION * (d - e)


def deep_dermal_skin(skin: sb.Skin) -> sb.Skin:
    """``skin`` with its dermis-base criterion at the deep-dermal depth (for a degree-3 search there)."""
    return dataclasses.replace(skin, dermis_base_m=deep_dermal_depth_m(skin))


def depth_class(depth_m: Optional[float], omega_epidermis_base: Optional[float], skin: sb.Skin) -> tuple[int, str]:
    """(index into :data:`CLASSES`, label) of the deepest depth (m) where Omega reaches 1."""
    e, d = skin.criterion_depths_m
    if depth_m is None or depth_m < e:
        if depth_m is None and (omega_epidermis_base is None or omega_epidermis_base < 0.53):
            return 0, "none"
        return 1, "superficial"
    if depth_m < d:
        return 2, "partial thickness, " + ("deep dermal" if depth_m >= deep_dermal_depth_m(skin) else "superficial dermal")
    return 3, "full thickness"


# --- Papp: contact depth ------------------------------------------------------------

@dataclass
class ContactRow:
    """One contact time under one kinetics and skin: the depth (m) where Omega reaches 1 and its class."""

    kinetics: str
    skin: str
    time_s: float
    measured: str
    depth_m: Optional[float] = None
    depth_error_m: Optional[float] = None
    predicted: tuple[int, str] = (0, "none")
    dermis_fraction: Optional[float] = None
    note: str = ""

    @property
    def class_difference(self) -> int:
        """Predicted class index minus Papp's."""
        return self.predicted[0] - CLASSES.index(self.measured)


@dataclass
class Threshold:
    """A searched threshold: value (its unit, None when not found), its numerical error, the measured value."""

    what: str
    kinetics: str
    skin: str
    measured: float
    value: Optional[float] = None
    error: Optional[float] = None
    note: str = ""
    extra: dict = field(default_factory=dict)

    @property
    def ratio(self) -> Optional[float]:
        """Predicted over measured."""
        return None if self.value is None else self.value / self.measured

    @property
    def relative_error(self) -> Optional[float]:
        """|error| / value."""
        return None if self.value is None or self.error is None else abs(self.error) / self.value


def papp_points() -> list[tuple[float, str]]:
    """(contact time s, Papp's depth class)."""
    return [(float(r["contact_time_s"]), r["depth_class"]) for r in _rows("papp_2004.csv")]


def andrews_points() -> list[tuple[float, float, str]]:
    """(water °C, duration s, as printed) of the immersions that had not healed by day 21."""
    return [(float(r["water_temperature_C"]), float(r["time_s"]), r["as_printed"]) for r in _rows("andrews_2017.csv")]


def _contact_rows(skins: dict[str, sb.Skin], kinetics: tuple[sb.Kinetics, ...], prog: sb.Program) -> list[ContactRow]:
    out = []
    for sname, skin in skins.items():
        e, d = skin.criterion_depths_m
        for kin in kinetics:
            for t, measured in papp_points():
                row = ContactRow(kin.name, sname, t, measured)
                a = sb.assess(sb.run(hot_liquid(PAPP_PLATE, t, skin=skin, kinetics=kin), program=prog), kinetics=kin)
                row.depth_m = a.depth_reached_m.get(1.0)
                row.depth_error_m = a.uncertainty.get("depth 1")
                row.predicted = depth_class(row.depth_m, a.omega_epidermis_base, skin)
                if row.depth_m is not None and row.depth_m >= e:
                    row.dermis_fraction = (row.depth_m - e) / (d - e)
                if a.degree is None:
                    row.note = "damage still growing at the run's end"
                out.append(row)
    return out


def _search_jobs(planned: list[tuple[Threshold, sb.Trial, float, float, int, Optional[sb.Skin]]]) -> list[sb.SearchJob]:
    return [sb.SearchJob(trial, "exposure.duration_s", lo, hi, degree=deg, skin=skin, rtol=1e-3, labels={"tag": i})
            for i, (_, trial, lo, hi, deg, skin) in enumerate(planned)]


def _fill(planned: list, processes: int, prog: sb.Program) -> None:
    for r in sb.search_many(_search_jobs(planned), processes=processes, program=prog):
        th = planned[r.labels["tag"]][0]
        if isinstance(r, sb.SearchFailure):
            th.note = ("not reached within the range searched" if "not reached at both ends" in r.error
                       else "reached at both ends of the range" if "reached at both ends" in r.error else r.error)
            continue
        th.value, th.error = r.value, r.uncertainty
        th.extra["grid"] = (r.deltax_m, r.deltat_s, r.after_exposure_s)


# --- Log: a flash on pre-cooled skin ---------------------------------------------------

@dataclass(frozen=True)
class SprayTrial:
    """Log's exposure with the spray as convection at 1 / ``resistance`` W/(m^2 K) to 5 °C water
    (``resistance`` in m^2 K/W); None: no spray (the flash on the resting profile)."""

    kinetics: sb.Kinetics
    grid: tuple[float, float] = LOG_GRID

    def __call__(self, resistance_m2K_W: Optional[float]) -> sb.Trial:
        """The trial: 30 s of spray, 1 s with the face in air, 0.74 s of flash, then the face insulated."""
        g = sb.Grid(*self.grid)
        cooling = sb.AutoCooling(start_s=60.0)
        if resistance_m2K_W is None:
            return flash_fire(LOG_FLUX_W_M2, LOG_FLASH_S, kinetics=self.kinetics).replace("grid", g).replace(
                "after_exposure_s", cooling)
        end = LOG_SPRAY_S + LOG_RELAX_S + LOG_FLASH_S
        eps = 1e-4
        h = sb.Series([0.0, LOG_SPRAY_S, LOG_SPRAY_S + eps, end], [1.0 / resistance_m2K_W] * 2 + [0.0, 0.0])
        gas = sb.Series([0.0, end], sb.celsius([float(LOG_WATER.C)] * 2))
        start = LOG_SPRAY_S + LOG_RELAX_S
        radiant = sb.Series([0.0, start, start + eps, end], [0.0, 0.0, LOG_FLUX_W_M2, LOG_FLUX_W_M2])
        flame = sb.Flame(h, gas, radiant, end, absorptivity=1.0)
        return sb.Trial(sb.TORVI_DALE_1994, sb.InitialProfile.linear(SKIN_SURFACE, SKIN_CORE), flame, grid=g,
                        after_exposure_s=cooling, kinetics=self.kinetics, title="Log 2017: spray, then flash")


@dataclass
class FlashRow:
    """Log's flash under one kinetics: the degree and Omega at the epidermis base, pre-cooled and not."""

    kinetics: str
    case: str
    degree: Optional[int] = None
    omega: Optional[float] = None
    omega_fine: Optional[float] = None
    base_temperature_C: Optional[float] = None

    @property
    def uncertainty(self) -> Optional[float]:
        """|Omega on the halved grid / Omega - 1| at the epidermis base."""
        if not self.omega or self.omega_fine is None:
            return None
        return abs(self.omega_fine / self.omega - 1)


def _flash_rows(kinetics: tuple[sb.Kinetics, ...], prog: sb.Program) -> list[FlashRow]:
    out = []
    for kin in kinetics:
        for case, resistance in (("pre-cooled (surface held at 5 °C)", 1.0 / HELD_H_W_M2K), ("resting", None)):
            row = FlashRow(kin.name, case)
            for grid in (LOG_GRID, LOG_FINE_GRID):
                res = sb.run(SprayTrial(kin, grid)(resistance), program=prog)
                a = sb.assess(res, kinetics=kin)
                if grid == LOG_GRID:
                    row.degree, row.omega = a.degree, a.omega_epidermis_base
                    start = (LOG_SPRAY_S + LOG_RELAX_S) if resistance is not None else 0.0
                    row.base_temperature_C = float(np.interp(start, res.time_s, res.temperature_at_depth(80e-6))) - 273.15
                else:
                    row.omega_fine = a.omega_epidermis_base
            out.append(row)
    return out


# --- SAE 942217 and Ripple: short hot gas -------------------------------------------------

def jet_trial(gas_C: float, velocity_m_s: float, standoff_d: float, duration_s: float, kin: sb.Kinetics) -> sb.Trial:
    """The SAE jet: 10 mm nozzle, constant gas temperature (°C) and velocity, Torvi-Dale skin at rest."""
    return airbag_jet(sb.celsius(gas_C), standoff_d * NOZZLE_M, duration_s, kinetics=kin,
                      gas_velocity_m_s=velocity_m_s).replace(
        "initial", sb.InitialProfile.linear(SKIN_SURFACE, SKIN_CORE))


def _heats(th: Threshold, gas_C: float, v: float, sd: float, kin: sb.Kinetics, prog: sb.Program) -> None:
    """The heat (J/m^2) the skin took during the exposure at the threshold, and what a surface held at
    the skin's initial temperature would have taken (a calorimeter's reading)."""
    if th.value is None:
        return
    dx, dt, after = th.extra["grid"]
    trial = jet_trial(gas_C, v, sd, th.value, kin).replace("grid", sb.Grid(dx, dt)).replace("after_exposure_s", after)
    f = sb.run(trial, program=prog).face("left")
    during = f["time_s"] <= th.value + 1e-9
    th.extra["absorbed_J_m2"] = float(np.sum(f["flux_W_m2"][during]) * dt)
    th.extra["cold_J_m2"] = float(np.sum(f["h_W_m2K"][during] * (f["ambient_K"][during] - float(SKIN_SURFACE.K))) * dt)
    th.extra["integral_C_s"] = (gas_C - float(SKIN_CORE.C)) * th.value


# --- All of them -------------------------------------------------------------------------

@dataclass
class Regimes:
    """Every comparison of this module."""

    contact: list[ContactRow]
    contact_times: list[Threshold]
    scalds: list[Threshold]
    flash: list[FlashRow]
    spray: list[Threshold]
    jet: list[Threshold]
    quick: bool

    def jet_at(self, kinetics: str, standoff_d: float, gas_C: float, v: float) -> Optional[Threshold]:
        """The jet threshold at one point, if computed."""
        for t in self.jet:
            if (t.kinetics, t.extra["standoff_d"], t.extra["gas_C"], t.extra["v"]) == (kinetics, standoff_d, gas_C, v):
                return t
        return None

    @property
    def bands(self) -> list[Band]:
        """(what, value, band, held) for every banded claim."""
        out: list[Band] = []
        lo_f, hi_f = PAPP_FULL_BRACKET_S[0] / PAPP_FULL_FACTOR, PAPP_FULL_BRACKET_S[1] * PAPP_FULL_FACTOR
        for kin in BANDED:
            rows = [r for r in self.contact if r.kinetics == kin.name and r.skin == "Torvi-Dale"]
            worst = max(abs(r.class_difference) for r in rows)
            out.append((f"Papp contact 100 C, {kin.name}: largest class difference over 1, 3, 9 s", float(worst),
                        "<= 1", worst <= 1))
            depths = [r.depth_m or 0.0 for r in sorted(rows, key=lambda r: r.time_s)]
            grows = all(b > a for a, b in zip(depths, depths[1:]))
            out.append((f"Papp contact 100 C, {kin.name}: depth grows with contact time", float(grows), "1", grows))
            full = next(t for t in self.contact_times if t.kinetics == kin.name and t.skin == "Torvi-Dale"
                        and t.what == "full thickness")
            value = full.value if full.value is not None else math.inf
            out.append((f"Papp contact 100 C, {kin.name}: time to full thickness (s)", value,
                        f"{lo_f:g}-{hi_f:g} (within x{PAPP_FULL_FACTOR:g} of 3-9 s)", lo_f <= value <= hi_f))
        for kin, band, ok in ((sb.HENRIQUES_1947, f"<= {ANDREWS_HENRIQUES_FACTOR:g} (factor either way)",
                               lambda r: max(r, 1 / r) <= ANDREWS_HENRIQUES_FACTOR),
                              (sb.WEAVER_STOLL_1969, f"<= {ANDREWS_WEAVER_STOLL_LATEST:g} (no later than)",
                               lambda r: r <= ANDREWS_WEAVER_STOLL_LATEST)):
            rs = [t.ratio for t in self.scalds if t.kinetics == kin.name and t.skin == "Torvi-Dale"]
            found = [r for r in rs if r is not None]
            worst = max(found, key=lambda r: max(r, 1 / r)) if kin is sb.HENRIQUES_1947 else max(found, default=math.inf)
            held = len(found) == len(rs) and all(ok(r) for r in found)
            out.append((f"Andrews scalds, {kin.name}: time to deep-dermal damage / non-healing duration, worst",
                        worst if found else math.inf, band, held))
        for kin in BANDED:
            for row in self.flash:
                if row.kinetics != kin.name:
                    continue
                pre = row.case.startswith("pre-cooled")
                deg = -1 if row.degree is None else row.degree
                out.append((f"Log flash, {kin.name}, {'pre-cooled' if pre else 'resting'}: degree", float(deg),
                            "<= 1" if pre else ">= 2", 0 <= deg <= 1 if pre else deg >= 2))
        for kin in BANDED:
            for sd in STANDOFFS:
                hot = self.jet_at(kin.name, sd, SAE_TEMPERATURES_C[-1], SAE_VELOCITIES_M_S[-1])
                cold = self.jet_at(kin.name, sd, SAE_TEMPERATURES_C[0], SAE_VELOCITIES_M_S[0])
                if hot is None or cold is None:
                    continue
                hv = hot.value if hot.value is not None else math.inf
                cv = cold.value if cold.value is not None else math.inf
                out.append((f"SAE box, {kin.name}, stand-off {sd:g} D: threshold at 550 C, 90 m/s (s)", hv,
                            f"<= {SAE_DURATIONS_S[1]:g} (the box's corner burns)", hv <= SAE_DURATIONS_S[1]))
                out.append((f"SAE box, {kin.name}, stand-off {sd:g} D: threshold at 350 C, 50 m/s (s)", cv,
                            f"> {SAE_DURATIONS_S[0]:g} (the box's corner does not)", cv > SAE_DURATIONS_S[0]))
        for kin in BANDED:
            ratios = [t.extra["cold_J_m2"] / RIPPLE_HEAT_J_M2 for t in self.jet
                      if t.kinetics == kin.name and t.extra["standoff_d"] == STANDOFFS[0] and "cold_J_m2" in t.extra
                      and SAE_DURATIONS_S[0] <= t.value <= SAE_DURATIONS_S[1]]
            if ratios:
                lo, hi = min(ratios), max(ratios)
                out.append((f"Ripple, {kin.name}, stand-off {STANDOFFS[0]:g} D: threshold heat (cold surface) / "
                            "16.4 J/cm2, lowest", lo, f">= 1/{1 / RIPPLE_BAND[0]:g}", lo >= RIPPLE_BAND[0]))
                out.append((f"Ripple, {kin.name}, stand-off {STANDOFFS[0]:g} D: threshold heat (cold surface) / "
                            "16.4 J/cm2, highest", hi, f"<= 1/{1 / RIPPLE_BAND[1]:g}", hi <= RIPPLE_BAND[1]))
        for name, items in (("Papp thresholds", self.contact_times), ("Andrews", self.scalds),
                            ("SAE jet", self.jet), ("Log spray", self.spray)):
            rel = [t.relative_error for t in items if t.relative_error is not None
                   and t.kinetics in {k.name for k in BANDED}]
            if rel:
                out.append((f"numerical uncertainty, {name}: largest relative", max(rel), f"< {UNCERTAINTY_MAX:g}",
                            max(rel) < UNCERTAINTY_MAX))
        depth_rel = [r.depth_error_m / r.depth_m for r in self.contact if r.depth_m and r.depth_error_m is not None]
        if depth_rel:
            out.append(("numerical uncertainty, Papp depths: largest relative", max(depth_rel),
                        f"< {UNCERTAINTY_MAX:g}", max(depth_rel) < UNCERTAINTY_MAX))
        flash_u = [r.uncertainty for r in self.flash if r.uncertainty is not None]
        if flash_u:
            out.append(("numerical uncertainty, Log flash Omega (grid and step halved): largest relative",
                        max(flash_u), f"< {LOG_OMEGA_MAX:g}", max(flash_u) < LOG_OMEGA_MAX))
        return out


def evaluate(quick: bool = False, processes: int = 2,
             program: Optional[Union[str, sb.Program]] = None) -> Regimes:
    """Every comparison; ``quick`` keeps the banded ones (Torvi-Dale skin, two kinetics, the jet's corners)."""
    prog = sb.Program.find(program)
    kinetics = BANDED if quick else KINETICS
    skins = {"Torvi-Dale": SKINS["Torvi-Dale"]} if quick else SKINS
    contact = _contact_rows(skins, kinetics, prog)
    planned: list = []
    contact_times = []
    for sname, skin in skins.items():
        for kin in kinetics:
            for what, deg, bracket in (("partial thickness", 2, 1.0), ("full thickness", 3, 9.0)):
                th = Threshold(what, kin.name, sname, bracket)
                contact_times.append(th)
                planned.append((th, hot_liquid(PAPP_PLATE, 1.0, skin=skin, kinetics=kin), 0.01, 120.0, deg, None))
    scalds = []
    for sname, skin in skins.items():
        for kin in kinetics:
            for water_C, t, printed in andrews_points():
                th = Threshold("deep dermal", kin.name, sname, t, extra={"water_C": water_C, "printed": printed})
                scalds.append(th)
                # The trial's own skin holds the deep-dermal depth as its dermis base, so that the grid is
                # settled (and its uncertainty given) at that depth; its layers are the skin's.
                planned.append((th, hot_liquid(sb.celsius(water_C), t, skin=deep_dermal_skin(skin), kinetics=kin),
                              t / 100, 30 * t, 3, None))
    jet = []
    temps = (SAE_TEMPERATURES_C[0], SAE_TEMPERATURES_C[-1]) if quick else SAE_TEMPERATURES_C
    vels = (SAE_VELOCITIES_M_S[0], SAE_VELOCITIES_M_S[-1]) if quick else SAE_VELOCITIES_M_S
    for kin in BANDED:
        for sd in STANDOFFS:
            for gas_C in temps:
                for v in vels:
                    corner = (gas_C, v) in ((temps[0], vels[0]), (temps[-1], vels[-1]))
                    if sd != STANDOFFS[0] and not corner:
                        continue
                    th = Threshold("second degree", kin.name, "Torvi-Dale", SAE_DURATIONS_S[1],
                                   extra={"standoff_d": sd, "gas_C": gas_C, "v": v})
                    jet.append(th)
                    planned.append((th, jet_trial(gas_C, v, sd, 0.1, kin), 0.005, 5.0, 2, None))
    _fill(planned, processes, prog)
    for th in jet:
        _heats(th, th.extra["gas_C"], th.extra["v"], th.extra["standoff_d"],
               next(k for k in BANDED if k.name == th.kinetics), prog)
    flash = _flash_rows(kinetics, prog)
    spray = []
    jobs = []
    for kin in BANDED:
        th = Threshold("spray h for no second-degree burn", kin.name, "Torvi-Dale", math.nan)
        spray.append(th)
        trial = SprayTrial(kin)
        jobs.append(sb.SearchJob(trial(1.0 / HELD_H_W_M2K), trial, 1.0 / HELD_H_W_M2K, 0.1, degree=2, rtol=1e-3,
                                 labels={"tag": len(jobs)}))
    for r in sb.search_many(jobs, processes=processes, program=prog):
        th = spray[r.labels["tag"]]
        if isinstance(r, sb.SearchFailure):
            th.note = r.error
        else:  # the root in resistance; the coefficient is its inverse
            th.value, th.error = r.value, r.uncertainty
    return Regimes(contact, contact_times, scalds, flash, spray, jet, quick)
