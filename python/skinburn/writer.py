"""The data directory that runs a trial.

:func:`write_trial` writes the data directory of a resolved
:class:`~skinburn.trial.Trial` for skinburn; the words and their counts
follow docs/data-files.md, and nothing is read back here (``skinburn
--check=json`` says what the program makes of the directory). :func:`layout`
checks a trial against the program's capacity.

Holds :func:`write_trial`, :class:`Layout`, :func:`layout` and :func:`legs` (a run longer than the
program holds, made in several). Uses
:mod:`skinburn.exposure`, :mod:`skinburn.kinetics`, :mod:`skinburn.sampling`,
:mod:`skinburn.skin`, :mod:`skinburn.trial` and :mod:`skinburn.units`; it
runs nothing.
"""
from __future__ import annotations

import math
import os
from dataclasses import dataclass, field
from pathlib import Path
from typing import Optional, Union

import numpy as np

from .garment import Clothed
from .exposure import (AirbagJet, Convection, Flame, HeatFlux, HeldTemperature, InnerConvection, Insulated,
                       SurfaceTemperature, after_phase, knots)
from .kinetics import PROGRAM_DEFAULT, Kinetics
from .skin import Skin
from .sampling import (Profile, end_records, partial_means, product_step_means, record_values, staircase_pairs,
                       step_values, table_pairs)
from .trial import MAX_NODES, MAX_STEPS, MAX_VELOCITY_PAIRS, AutoCooling, Grid, Trial

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


def _perfusion_file(skin: Skin, deltax_m: float, nodes: int) -> str:
    """``PERFUSE.DAT`` of a perfused skin: its blood, and the rates laid as the other properties."""
    pairs = skin.property_pairs("perfusion", deltax_m, nodes)
    blood = skin.blood
    # A header line is read as a C stream reads it into 80 characters: a longer one would run on
    # into the title, so each is kept short.
    lines = ["# Blood perfusion: the Pennes term rate x rho_b x c_b x (T_a - T).",
             "# " + _num(blood.arterial_K) + " K arterial blood; " + blood.source[:50], "Perfusion data",
             f"Arterial temperature: {_num(blood.arterial_K)} K",
             f"Blood density: {_num(blood.density_kg_m3)} kg/m^3",
             f"Blood heat capacity: {_num(blood.heat_capacity_J_kgK)} J/(kg*K)",
             f"Perfusion rates: {len(pairs)} pairs"]
    lines += [f"{_num(z)} {_num(w)}" for z, w in pairs]
    return "\n".join(lines) + "\nEND\n"


def layout(trial: Trial, whole: bool = True) -> tuple[int, int, float, float]:
    """(nodes, steps, exposure s, run s) of a resolved trial, checked against the program's capacity
    (its steps only when ``whole``: :func:`legs` checks a run made in several)."""
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
    if whole and steps > MAX_STEPS:
        raise ValueError(f"{steps} steps: skinburn takes at most {MAX_STEPS}; choose a longer deltat_s "
                         "or a shorter run")
    return nodes, steps, duration, run_s


#: The most runs (legs) one trial's run is made in where it needs more steps than the program holds.
MAX_LEGS = 4
#: Bytes: the most a history joined from legs may hold (it is read whole into memory).
MAX_JOINED_BYTES = 2 << 30


def legs(trial: Trial) -> tuple[int, ...]:
    """The steps of each run (leg) a resolved ``trial`` is made in: one, within the program's capacity.

    A run that needs more steps than the program holds goes on in further
    runs on the same grid, each from the temperatures the one before ended
    with and with the face as it is after the exposure
    (:func:`~skinburn.exposure.after_phase`): the exposure must end within
    the first, the face must not go on changing after it (a garment's
    does), there are at most :data:`MAX_LEGS` and the whole history holds
    at most :data:`MAX_JOINED_BYTES`. ValueError (the capacity named)
    otherwise.
    """
    nodes, steps, duration, _ = layout(trial, whole=False)
    if steps <= MAX_STEPS:
        return (steps,)
    grid = trial.grid
    assert isinstance(grid, Grid), "layout refuses an automatic grid"
    first = MAX_STEPS - 1
    count = 1 + math.ceil((steps - first) / first)
    why = None
    if after_phase(trial.exposure, trial.initial, 1.0) is None:
        why = "its face goes on changing after the exposure, so the run cannot be carried on in another"
    elif duration / grid.deltat_s > first - 1:
        why = "its exposure does not end within one run"
    elif count > MAX_LEGS:
        why = f"more than {MAX_LEGS} runs of the program"
    elif (steps + 1) * nodes * 8 > MAX_JOINED_BYTES:
        why = (f"its history, {(steps + 1) * nodes * 8 / 2**30:.3g} GiB in several runs, would be more than the "
               f"{MAX_JOINED_BYTES / 2**30:.3g} GiB the package joins")
    if why is not None:
        raise ValueError(f"{steps} steps: skinburn takes at most {MAX_STEPS} and {why}; choose a longer "
                         "deltat_s or a shorter run")
    return (first,) * (count - 1) + (steps - first * (count - 1),)


def _start_pairs(start_K: np.ndarray, deltax_m: float, nodes: int) -> list[tuple[float, float]]:
    """(depth m, K) pairs that lay ``start_K`` (one temperature per node) on the nodes exactly."""
    if len(start_K) != nodes:
        raise ValueError(f"start_K holds {len(start_K)} temperatures for {nodes} nodes")
    pairs = [(i * deltax_m, float(t)) for i, t in enumerate(start_K)]
    if nodes < MAX_NODES:  # the table reaches past the inner face, as the profiles' do
        pairs.append(((nodes + 1) * deltax_m, float(start_K[-1])))
    return pairs


def write_trial(trial: Trial, directory: Union[str, os.PathLike], trial_number: int = 1, *,
                report: bool = True, start_K: Optional[np.ndarray] = None) -> Layout:
    """Write the data directory of a resolved ``trial`` into ``directory`` (created if need be).

    The run is unattended (``BATCH`` 1), appends the history of node 1 to
    ``OUTPUT.TXT`` and evaluates Omega at every node (``BURNDEPTH`` 1).
    With ``report`` False it writes no ``OUTPUT.TXT`` at all (``VERBOSE``
    0): for runs that only the package reads, from the results bundle.
    ``start_K`` (K, one per node) starts the run from those temperatures
    instead of the trial's initial profile (a run carried on from another's
    end, :func:`legs`). Files a previous trial left there are replaced;
    ``OUTPUT.TXT`` is removed.
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

    kin = trial.kinetics if isinstance(trial.kinetics, Kinetics) and trial.kinetics.single_set else PROGRAM_DEFAULT
    mantissa, exponent = _frequency_words(kin.regimes[0].frequency_factor_per_s)
    energy_J_mol, gas_J_molK = kin.activation_energy_J_mol, kin.gas_constant_J_molK
    assert energy_J_mol is not None and gas_J_molK is not None, "a single set carries both"

    exp = trial.exposure
    if isinstance(exp, Flame):
        exp = exp.as_convection()  # linearized about the surface temperature it holds (skinburn.runs.run)
    elif isinstance(exp, Clothed):  # the fabric's model gives the skin's face for the whole run
        exp = exp.skin_face(dx, dt, steps, bdf2, surface_K)
    lbc = exp.face
    left_file = None
    jet_text = None
    if isinstance(exp, HeatFlux):
        prof = Profile.cut(knots(exp.flux_W_m2, "flux_W_m2", False), duration, 0.0)
        left_bc = table_pairs(record_values(prof, dt, steps, "end" if bdf2 else "start", bdf2), dt)
        left_amb = [(0.0, surface_K), ((steps + 1) * dt, surface_K)]
    elif isinstance(exp, Convection):
        after_gas = float(exp.after_gas.K) if exp.after_gas is not None else surface_K
        h = Profile.cut(knots(exp.h_W_m2K, "h_W_m2K", False), exp.duration_s, exp.after_h_W_m2K)
        gas = Profile.cut(knots(exp.gas, "gas", True), exp.duration_s, after_gas)
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
        gas_rec = np.where(on, partial_means(gas, starts, widths), after_gas)
        vel_rec = np.where(on, partial_means(vel, starts, widths), vel_end)
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
        f"Results to file (VERBOSE flag): {1 if report else 0}",
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
        ("INITIAL_TEMPERATURE", trial.initial.pairs((nodes - 1) * dx, reach) if start_K is None
         else _start_pairs(np.asarray(start_K, dtype=float), dx, nodes), "INITTEMP.DAT",
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
    if skin.perfused:
        files["PERFUSE.DAT"] = _perfusion_file(skin, dx, nodes)

    d = Path(directory)
    d.mkdir(parents=True, exist_ok=True)
    there = set(os.listdir(d))  # one read of the directory, not a look for each name
    for stale in ("OUTPUT.TXT", "LEFTIMP.DAT", "GASPROP.DAT", "INITTEMP.DAT", "CONDUCT.DAT", "DENSITY.DAT",
                  "HEATCAP.DAT", "LEFTBC.DAT", "LEFTAMB.DAT", "RIGHTBC.DAT", "RIGHTAMB.DAT", "PERFUSE.DAT"):
        if stale not in files and stale in there:
            (d / stale).unlink()
    for name, content in files.items():
        (d / name).write_text(content, encoding="ascii")
    return Layout(d, nodes, dx, steps, dt, (nodes - 1) * dx, skin.placed_boundaries_m(dx, nodes),
                  duration, run_s, tuple(sorted(files)))
