"""Verification: the program's temperatures and Omega against closed forms.

Every case is run through the skinburn package (a :class:`skinburn.Trial`
written and run with ``--results``) and read from the full-precision
history ``PREFIX.npy``, never from the 0.1 K report. The observed order of
a grid sequence is p = log2(e(h) / e(h/2)), e the largest error over the
nodes common to every grid at every reported time.

- Time: ``DELTAT`` alone halved on one fine grid (the space error is a
  small fraction of the time error there); expect 1 (backward Euler).
- Space: ``DELTAX`` alone halved, each grid's time error removed by
  Richardson extrapolation in time, 2 T(dt/2) - T(dt), which leaves an
  O(dt^2) remainder far below the space error; expect 2.
- Both halved together: the error must fall at least as fast as the slower
  of the two (order >= 0.9).
"""
from __future__ import annotations

import math
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import Any, Callable, Optional, Sequence

import numpy as np
from scipy import integrate

import skinburn as sb
from skinburn.kinetics import damage_integral

from . import closed_forms as cf

#: Torvi and Dale's dermis (Torvi & Dale 1994, the package's UNIFORM_DERMIS): k W/(m K), rho kg/m^3, c J/(kg K).
K_W_MK, RHO_KG_M3, C_J_KGK = 0.523, 1200.0, 3300.0
ALPHA_M2_S = K_W_MK / (RHO_KG_M3 * C_J_KGK)

TIME_BAND = (0.9, 1.1)
SPACE_BAND = (1.8, 2.2)
BOTH_MIN_ORDER = 0.9
RAMP_BAND = (3.8, 4.2)
CONSTANT_OMEGA_MAX_REL = 1e-12
PACKAGE_PROGRAM_MAX_REL = 1e-9


@dataclass(frozen=True)
class Settings:
    """Grids of one verification pass (m, s)."""

    name: str
    time_dx_m: float
    time_dts_s: tuple[float, ...]
    space_dxs_m: tuple[float, ...]
    space_dt_s: float
    ramp_dts_s: tuple[float, ...]


FULL = Settings("full", 5e-6, (0.04, 0.02, 0.01, 0.005), (80e-6, 40e-6, 20e-6, 10e-6), 0.005,
                (0.5, 0.25, 0.125, 0.0625))
QUICK = Settings("quick", 10e-6, (0.04, 0.02, 0.01), (80e-6, 40e-6, 20e-6), 0.01, (0.5, 0.25, 0.125))


@dataclass(frozen=True)
class HeatCase:
    """A conduction problem with a closed-form solution."""

    key: str
    title: str
    formula: str
    source: str
    thickness_m: float
    initial_K: float
    exposure: Any
    inner: Any
    exact: Callable[[np.ndarray, float], np.ndarray]
    times_s: tuple[float, ...]
    depths_m: tuple[float, ...]
    inputs: str

    @property
    def end_s(self) -> float:
        """Duration of the run (s)."""
        return max(self.times_s)

    def trial(self, deltax_m: float, deltat_s: float, time_scheme: str = "backward-euler") -> sb.Trial:
        """The trial on one grid: a uniform slab, nodes at 0, dx, ..., thickness."""
        nodes = int(round(self.thickness_m / deltax_m)) + 1
        skin = sb.Skin.uniform(K_W_MK, RHO_KG_M3, C_J_KGK, self.thickness_m, min(80e-6, self.thickness_m),
                               self.thickness_m, name="Torvi-Dale dermis")
        return sb.Trial(skin, sb.InitialProfile.uniform(sb.kelvin(self.initial_K)), self.exposure, self.inner,
                        sb.Grid(deltax_m, deltat_s, nodes, time_scheme), 0.0, sb.HENRIQUES_1947,
                        title=f"vv {self.key}")


def heat_cases() -> list[HeatCase]:
    """The four conduction cases."""
    ti, ts, q, h, tg = 310.15, 353.15, 10e3, 500.0, 373.15
    a, k = ALPHA_M2_S, K_W_MK
    semi = 10e-3
    times = (1.0, 4.0, 10.0)
    depths = (0.0, 80e-6, 320e-6, 1.04e-3)
    slab_l, slab_h, slab_ti, slab_tg = 2e-3, 1000.0, 353.15, 293.15
    props = f"k = {k} W/(m K), rho = {RHO_KG_M3:g} kg/m3, c = {C_J_KGK:g} J/(kg K) (alpha = {a:.4e} m2/s)"
    return [
        HeatCase("step", "Semi-infinite solid, step in surface temperature",
                 "T = Ts + (Ti - Ts) erf(x / (2 sqrt(alpha t)))",
                 "Carslaw & Jaeger (1959) §2.4; Incropera et al. (2007) eq. 5.57",
                 semi, ti, sb.SurfaceTemperature(sb.kelvin(ts), times[-1]), sb.HeldTemperature(),
                 lambda x, t: cf.step_surface_temperature(x, t, ti, ts, a), times, depths,
                 f"Ti = {ti} K, Ts = {ts} K; {props}; depth 10 mm, inner face held at Ti "
                 "(erfc(10 mm / 2 sqrt(alpha 10 s)) < 1e-11)"),
        HeatCase("flux", "Semi-infinite solid, constant surface flux",
                 "T - Ti = (2q/k) sqrt(alpha t / pi) exp(-x^2 / 4 alpha t) - (q x / k) erfc(x / 2 sqrt(alpha t)); "
                 "surface rise 2 q sqrt(alpha t / pi) / k",
                 "Carslaw & Jaeger (1959) §2.9; Incropera et al. (2007) eq. 5.59",
                 semi, ti, sb.HeatFlux(q, times[-1]), sb.HeldTemperature(),
                 lambda x, t: cf.constant_flux(x, t, ti, q, k, a), times, depths,
                 f"Ti = {ti} K, q = {q:g} W/m2; {props}; depth 10 mm, inner face held at Ti"),
        HeatCase("convection", "Semi-infinite solid, convective surface",
                 "(T - Ti)/(Tg - Ti) = erfc(xi) - exp(h x / k + h^2 alpha t / k^2) erfc(xi + h sqrt(alpha t) / k), "
                 "xi = x / 2 sqrt(alpha t)",
                 "Carslaw & Jaeger (1959) §2.7; Incropera et al. (2007) eq. 5.60",
                 semi, ti, sb.Convection(h, sb.kelvin(tg), times[-1]), sb.HeldTemperature(),
                 lambda x, t: cf.convective_surface(x, t, ti, tg, h, k, a), times, depths,
                 f"Ti = {ti} K, Tg = {tg} K, h = {h:g} W/(m2 K); {props}; depth 10 mm, inner face held at Ti"),
        HeatCase("slab", "Finite slab cooled by convection, insulated back face",
                 "(T - Tg)/(Ti - Tg) = sum C_n exp(-zeta_n^2 Fo) cos(zeta_n (L - x)/L), zeta_n tan zeta_n = Bi, "
                 "C_n = 4 sin zeta_n / (2 zeta_n + sin 2 zeta_n)",
                 "Carslaw & Jaeger (1959) §3.11; Incropera et al. (2007) eqs. 5.39-5.39c",
                 slab_l, slab_ti, sb.Convection(slab_h, sb.kelvin(slab_tg), 30.0), sb.Insulated(),
                 lambda x, t: cf.convective_slab(x, t, slab_l, slab_ti, slab_tg, slab_h, k, a),
                 (3.0, 10.0, 30.0), (0.0, 0.4e-3, 1.2e-3, 2.0e-3),
                 f"L = 2 mm, Ti = {slab_ti} K, Tg = {slab_tg} K, h = {slab_h:g} W/(m2 K) (Bi = "
                 f"{slab_h * slab_l / k:.3f}, Fo = {a * 30 / slab_l ** 2:.3f} at 30 s); {props}; "
                 "400 terms of the series"),
    ]


def profiles(case: HeatCase, deltax_m: float, deltat_s: float,
             program: Optional[sb.Program] = None) -> dict[float, np.ndarray]:
    """The program's temperatures (K) at every node, at each of the case's times (from PREFIX.npy)."""
    res = sb.run(case.trial(deltax_m, deltat_s), program)
    try:
        if res.status != 0:
            raise RuntimeError(f"{case.key}: the run ended with status {res.status}: {res.error}")
        out = {}
        for t in case.times_s:
            row = int(round(t / deltat_s))
            if abs(row * deltat_s - t) > 1e-9 * t:
                raise ValueError(f"{t} s is not a whole number of steps of {deltat_s} s")
            out[t] = np.array(res.temperature_K[row], dtype=float)
        return out
    finally:
        res.close()


def _common(prof: np.ndarray, deltax_m: float, coarse_m: float, thickness_m: float) -> np.ndarray:
    """The values at the depths of the coarsest grid (multiples of ``coarse_m``)."""
    stride = int(round(coarse_m / deltax_m))
    n = int(round(thickness_m / coarse_m)) + 1
    return prof[::stride][:n]


@dataclass
class Sequence_:
    """Errors of one refinement sequence: largest |T - exact| (K) per grid, and the orders between grids."""

    kind: str
    grids: list[tuple[float, float]]
    errors_K: list[float]
    errors_by_time_K: list[dict[float, float]]

    @property
    def orders(self) -> list[float]:
        """log2 of successive error ratios."""
        e = self.errors_K
        return [math.log2(a / b) if a > 0 and b > 0 else math.nan for a, b in zip(e, e[1:])]


@dataclass
class CaseResult:
    """All sequences and the error table of one case."""

    case: HeatCase
    time: Sequence_
    space: Sequence_
    both: Sequence_
    table: list[dict]  # rows: time, depth, exact, program, error (finest time grid)
    curves: dict[float, tuple[np.ndarray, np.ndarray]]  # per time: depths m, K of the finest time grid
    bands: list[tuple[str, float, str, bool]] = field(default_factory=list)


def _errors(case: HeatCase, prof: dict[float, np.ndarray], deltax_m: float, coarse_m: float) -> dict[float, float]:
    x = np.arange(int(round(case.thickness_m / coarse_m)) + 1) * coarse_m
    return {t: float(np.max(np.abs(_common(prof[t], deltax_m, coarse_m, case.thickness_m) - case.exact(x, t))))
            for t in case.times_s}


def run_case(case: HeatCase, s: Settings, pool: ThreadPoolExecutor, program: Optional[sb.Program]) -> CaseResult:
    """Run every grid of a case and measure its errors and orders."""
    coarse = max(s.space_dxs_m)
    jobs: dict[tuple[float, float], Any] = {}

    def want(dx: float, dt: float) -> None:
        if (dx, dt) not in jobs:
            jobs[(dx, dt)] = pool.submit(profiles, case, dx, dt, program)

    for dt in s.time_dts_s:
        want(s.time_dx_m, dt)
    for dx in s.space_dxs_m:
        want(dx, s.space_dt_s)
        want(dx, s.space_dt_s / 2)
    both = [(s.space_dxs_m[i], s.time_dts_s[i]) for i in range(min(len(s.space_dxs_m), len(s.time_dts_s)))]
    for dx, dt in both:
        want(dx, dt)
    got = {key: f.result() for key, f in jobs.items()}

    def seq(kind: str, grids: list[tuple[float, float]], profs: list[dict[float, np.ndarray]]) -> Sequence_:
        by_time = [_errors(case, p, g[0], coarse) for g, p in zip(grids, profs)]
        return Sequence_(kind, grids, [max(e.values()) for e in by_time], by_time)

    tgrids = [(s.time_dx_m, dt) for dt in s.time_dts_s]
    time_seq = seq("time", tgrids, [got[g] for g in tgrids])
    sgrids = [(dx, s.space_dt_s) for dx in s.space_dxs_m]
    extrap = [{t: 2 * got[(dx, s.space_dt_s / 2)][t] - got[(dx, s.space_dt_s)][t] for t in case.times_s}
              for dx in s.space_dxs_m]
    space_seq = seq("space", sgrids, extrap)
    both_seq = seq("both", both, [got[g] for g in both])

    finest = tgrids[-1]
    table = []
    for t in case.times_s:
        for z in case.depths_m:
            i = int(round(z / finest[0]))
            exact = float(case.exact(np.array([z]), t)[0])
            program = float(got[finest][t][i])
            coarse_dt = float(got[tgrids[0]][t][i])
            table.append({"time_s": t, "depth_m": z, "exact_K": exact, "program_K": program,
                          "error_K": program - exact, "coarse_error_K": coarse_dt - exact})
    stride = int(round(2 * coarse / finest[0]))
    curves = {t: (np.arange(len(got[finest][t]))[::stride] * finest[0], got[finest][t][::stride]) for t in case.times_s}
    r = CaseResult(case, time_seq, space_seq, both_seq, table, curves)
    for p in time_seq.orders:
        r.bands.append(("time order", p, f"{TIME_BAND[0]}-{TIME_BAND[1]}", TIME_BAND[0] <= p <= TIME_BAND[1]))
    for p in space_seq.orders:
        r.bands.append(("space order", p, f"{SPACE_BAND[0]}-{SPACE_BAND[1]}", SPACE_BAND[0] <= p <= SPACE_BAND[1]))
    for p in both_seq.orders:
        r.bands.append(("both halved, order", p, f">= {BOTH_MIN_ORDER}", p >= BOTH_MIN_ORDER))
    return r


# --- The burn integral ---------------------------------------------------------------

def exact_ramp_omega(start_K: float, rate_K_s: float, duration_s: float, kinetics: sb.Kinetics) -> float:
    """Omega of the ramp start + rate t over [0, duration] under any kinetics: quadrature per regime (exact to 1e-13)."""
    total = 0.0
    for i, r in enumerate(kinetics.regimes):
        upper = kinetics.regimes[i + 1].from_K if i + 1 < len(kinetics.regimes) else math.inf
        t0 = max(0.0, (r.from_K - start_K) / rate_K_s)
        t1 = min(duration_s, (upper - start_K) / rate_K_s)
        if t1 > t0:
            shifted = start_K + rate_K_s * t0
            total += cf.omega_ramp(shifted, rate_K_s, t1 - t0, r.frequency_factor_per_s, r.e_over_r_K)
    return total


@dataclass
class BurnResult:
    """The burn integral against its exact values."""

    constant: list[dict]
    ramp: list[dict]
    bands: list[tuple[str, float, str, bool]] = field(default_factory=list)


RAMP_START_K, RAMP_RATE_K_S, RAMP_S = 310.15, 3.0, 10.0
CONSTANT_K, CONSTANT_S = 333.15, 10.0


def _program_constant(kin: sb.Kinetics, program: Optional[sb.Program]) -> dict:
    skin = sb.Skin.uniform(K_W_MK, RHO_KG_M3, C_J_KGK, 1e-3, 80e-6, 1e-3)
    t = sb.kelvin(CONSTANT_K)
    trial = sb.Trial(skin, sb.InitialProfile.uniform(t), sb.SurfaceTemperature(t, CONSTANT_S), sb.HeldTemperature(),
                     sb.Grid(1e-4, 0.1, time_scheme="backward-euler"), 0.0, kin, title="vv burn constant")
    res = sb.run(trial, program)
    try:
        om = np.array(res.program_omega_unfloored, dtype=float)
        hist = np.array(res.temperature_K, dtype=float)
        return {"omega": om, "history_dev_K": float(np.max(np.abs(hist - CONSTANT_K)))}
    finally:
        res.close()


def _program_ramp(kin: sb.Kinetics, dt: float, program: Optional[sb.Program]) -> dict:
    skin = sb.Skin.uniform(K_W_MK, RHO_KG_M3, C_J_KGK, 1e-3, 80e-6, 1e-3)
    # Each step of a TEMPERATURE face takes the exposure's mean over the step
    # (docs/python.md): a ramp shifted by half a step puts start + rate k dt
    # exactly at record k.
    a = RAMP_START_K + RAMP_RATE_K_S * dt / 2
    series = sb.Series([0.0, RAMP_S], sb.kelvin([a, a + RAMP_RATE_K_S * RAMP_S]))
    trial = sb.Trial(skin, sb.InitialProfile.uniform(sb.kelvin(RAMP_START_K)),
                     sb.SurfaceTemperature(series, RAMP_S), sb.HeldTemperature(sb.kelvin(RAMP_START_K)),
                     sb.Grid(1e-4, dt, time_scheme="backward-euler"), 0.0, kin, title="vv burn ramp")
    res = sb.run(trial, program)
    try:
        surface = np.array(res.temperature_K[:, 0], dtype=float)
        wanted = RAMP_START_K + RAMP_RATE_K_S * dt * np.arange(len(surface))
        return {"omega": float(res.program_omega_unfloored[0]), "history_dev_K": float(np.max(np.abs(surface - wanted))),
                "package_on_history": float(damage_integral(surface, dt, kin))}
    finally:
        res.close()


def run_burn(s: Settings, pool: ThreadPoolExecutor, program: Optional[sb.Program]) -> BurnResult:
    """The burn integral: constant temperature and a linear ramp, program and package."""
    presets = [sb.PROGRAM_DEFAULT, sb.HENRIQUES_1947, sb.WEAVER_STOLL_1969]
    out = BurnResult([], [])
    const_jobs = {k.key: pool.submit(_program_constant, k, program) for k in presets if k.single_set}
    ramp_jobs = {(k.key, dt): pool.submit(_program_ramp, k, dt, program)
                 for k in presets if k.single_set for dt in s.ramp_dts_s}
    for kin in presets:
        r = kin.regimes
        exact = float(kin.rate_per_s(CONSTANT_K)) * CONSTANT_S
        steps = int(round(CONSTANT_S / 0.1))
        pkg = float(damage_integral(np.full(steps + 1, CONSTANT_K), 0.1, kin))
        row = {"kinetics": kin.name, "exact": exact, "package": pkg, "package_rel": abs(pkg / exact - 1),
               "program": None, "program_rel": None}
        if kin.key in const_jobs:
            got = const_jobs[kin.key].result()
            rel = float(np.max(np.abs(got["omega"] / exact - 1)))
            row.update(program=float(got["omega"][0]), program_rel=rel, history_dev_K=got["history_dev_K"])
            out.bands.append((f"constant T, program, {kin.name}", rel, f"< {CONSTANT_OMEGA_MAX_REL:g}",
                              rel < CONSTANT_OMEGA_MAX_REL))
        out.bands.append((f"constant T, package, {kin.name}", row["package_rel"], f"< {CONSTANT_OMEGA_MAX_REL:g}",
                          row["package_rel"] < CONSTANT_OMEGA_MAX_REL))
        out.constant.append(row)
        ex = exact_ramp_omega(RAMP_START_K, RAMP_RATE_K_S, RAMP_S, kin)
        rows = []
        for dt in s.ramp_dts_s:
            n = int(round(RAMP_S / dt))
            hist = RAMP_START_K + RAMP_RATE_K_S * dt * np.arange(n + 1)
            pkg = float(damage_integral(hist, dt, kin))
            rr = {"kinetics": kin.name, "deltat_s": dt, "exact": ex, "package": pkg, "package_rel": pkg / ex - 1,
                  "program": None, "program_rel": None}
            if (kin.key, dt) in ramp_jobs:
                got = ramp_jobs[(kin.key, dt)].result()
                rr.update(program=got["omega"], program_rel=got["omega"] / ex - 1,
                          history_dev_K=got["history_dev_K"],
                          agreement=abs(got["omega"] / got["package_on_history"] - 1))
                out.bands.append((f"program vs package on its history, {kin.name}, dt {dt:g} s", rr["agreement"],
                                  f"< {PACKAGE_PROGRAM_MAX_REL:g}", rr["agreement"] < PACKAGE_PROGRAM_MAX_REL))
            rows.append(rr)
        for who in ("package", "program"):
            errs = [abs(x[f"{who}_rel"]) if x[f"{who}_rel"] is not None else None for x in rows]
            for a, b, x in zip(errs, errs[1:], rows[1:]):
                if a is None or b is None:
                    continue
                p = math.log2(a / b)
                x[f"{who}_order"] = p
                if kin.single_set:
                    out.bands.append((f"ramp order, {who}, {kin.name}, dt {x['deltat_s']:g} s", p,
                                      f"{RAMP_BAND[0]}-{RAMP_BAND[1]}", RAMP_BAND[0] <= p <= RAMP_BAND[1]))
        out.ramp.extend(rows)
    return out


@dataclass
class Verification:
    """Everything the verification document shows."""

    settings: Settings
    cases: list[CaseResult]
    burn: BurnResult
    layers_ramp: Any = None  # layers_ramp.LayersRamp: two layers and a ramped flux
    time_orders: Any = None  # time_orders.TimeOrders: both time schemes' orders
    flame_face: Any = None  # flame_face.FlameFace: a flame's face against SciPy
    perfusion: Any = None  # perfusion.Perfusion: the Pennes term against a perfused slab's closed forms
    garment_gap: Any = None  # garment_gap.GarmentGap: a garment's fabric and gap against SciPy

    @property
    def bands(self) -> list[tuple[str, float, str, bool]]:
        """(what, value, band, held) for every banded number."""
        out = []
        for c in self.cases:
            out += [(f"{c.case.key}: {w}", v, b, ok) for w, v, b, ok in c.bands]
        return (out + self.burn.bands + (self.layers_ramp.bands if self.layers_ramp is not None else [])
                + (self.time_orders.bands if self.time_orders is not None else [])
                + (self.flame_face.bands if self.flame_face is not None else [])
                + (self.perfusion.bands if self.perfusion is not None else [])
                + (self.garment_gap.bands if self.garment_gap is not None else []))


def verify(s: Settings, program: Optional[sb.Program] = None, workers: int = 2) -> Verification:
    """Run every verification case on the settings' grids."""
    from . import flame_face, garment_gap, layers_ramp, perfusion, time_orders  # they build on this module
    with ThreadPoolExecutor(max_workers=workers) as pool:
        cases = [run_case(c, s, pool, program) for c in heat_cases()]
        burn = run_burn(s, pool, program)
        more = layers_ramp.verify(s, pool, program)
        orders = time_orders.verify(s, pool, program)
    return Verification(s, cases, burn, more, orders, flame_face.verify(program), perfusion=perfusion.verify(program),
                        garment_gap=garment_gap.verify(program))
