#!/usr/bin/python3
"""Figures of skinburn's OUTPUT.TXT, one set of PNG files per trial.

    plot_output.py path/to/OUTPUT.TXT -o plots/

For each trial of the file, as far as it holds the data:

  NN-trialT-history.png   temperature history of the reported node
                          (node history layout), with its Omega;
  NN-trialT-profiles.png  temperature against depth at the reported times
                          (the single profile, or up to eight of the
                          every-step profiles), the initial distribution when
                          listed, and the depth where Omega = 1 as a vertical
                          line;
  NN-trialT-map.png       depth x time colour map of the every-step layout,
                          with the depth where Omega = 1 as a horizontal line.

The profiles and the map mark the epidermis and dermis bases of a skin
preset of the package (--skin; default uniform), or name a base that lies
below the deepest node. NN is the trial's place in the file (01, 02, ...), T
its TRIAL number. The
report prints the depth where Omega = 1 one spacing deeper than the node's
depth; the figures draw it at the true depth, one spacing shallower. The
report's Omega is the program's, under the constants of DATA.DAT, and the
figures say so.

    plot_output.py --results PREFIX -o plots/ [--kinetics PRESET] [--skin PRESET] [--depth-unit mm|um]
                   [--temperature-unit C|K]

draws the same three figures (NAME-history.png, NAME-profiles.png,
NAME-map.png, NAME the last part of PREFIX) from what ``skinburn --results
PREFIX`` wrote: the full-precision history of PREFIX.npy at the nodes' true
depths. Omega and the depths where it passes through 1 are those of one
kinetics model, named on every figure that shows them: --kinetics (a preset
of the package: weaver-stoll, henriques, program-default), else, for a case
of a parameter study, the kinetics its row was judged under (the case's
case.json), else the constants the program read (the depths of PREFIX.json).
The depth figures mark the bases of --skin, else of the study case's skin
(case.json), else of the uniform preset. The paths of the files written are
printed, one a line.
"""

from __future__ import annotations

import argparse
import json
import math
import os
import sys
from typing import Any, List, Optional, Tuple

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from labels import legend_below  # noqa: E402
from output_parser import Trial, parse_file  # noqa: E402

MM = 1000.0          # m to mm
MAX_PROFILES = 8     # profiles drawn from the every-step layout
DPI = 100
SIZE = (8, 5)        # inches


def _title(trial: Trial, what: str) -> str:
    return "Trial %d (%s, %s): %s" % (trial.number, trial.date, trial.executed_by, what)


#: How the figures of OUTPUT.TXT name the kinetics: the report's Omega is the program's, under DATA.DAT's constants.
PROGRAM_CONSTANTS = "the program's constants"


def _omega_label(depth: float) -> str:
    return "Omega = 1 at %.1f µm (%s)" % (depth * 1e6, PROGRAM_CONSTANTS)


#: The skin whose epidermis and dermis bases the depth figures mark when none is given: the study tool's
#: default for a data directory.
DEFAULT_SKIN = "uniform"


def skin_of(key: Optional[str] = None, case: Optional[dict] = None) -> Any:
    """The skin whose bases a depth figure marks: the preset ``key``, else a study case's own skin (its
    case.json), else :data:`DEFAULT_SKIN`."""
    _package()
    from skinburn.skin import Skin, skin_preset

    if key:
        return skin_preset(key)
    if case is not None and case.get("skin"):
        return Skin.from_dict(case["skin"])
    return skin_preset(DEFAULT_SKIN)


def mark_bases(ax: Any, skin: Any, scale: float, unit: str, deepest_m: float, across: bool,
               material_is_its: bool = False) -> None:
    """Marks the skin's epidermis and dermis bases on a depth axis (``scale``: m to ``unit``): a vertical
    line (``across``: a horizontal one, depth downwards) with its depth and the skin named in the legend
    (``skinburn.skin.criteria_label``: the skin itself with ``material_is_its``, a study case on a trial;
    else its criterion depths on the run's own material); a base below the deepest node ``deepest_m`` gets
    a legend entry that says so and no line."""
    _package()
    from skinburn.skin import criteria_label

    for n, (what, depth) in enumerate((("epidermis base", skin.epidermis_base_m),
                                       ("dermis base", skin.dermis_base_m))):
        text = "%s, %.4g %s (%s)" % (what, depth * scale, unit, criteria_label(skin.name, material_is_its))
        style = dict(color="0.35", lw=1.0, ls=("-." if n == 0 else (0, (6, 2, 1, 2, 1, 2))))
        if depth <= deepest_m * (1 + 1e-9):
            (ax.axhline if across else ax.axvline)(depth * scale, label=text, **style)
        else:
            ax.plot([], [], label="%s: below the model's %.4g %s" % (text, deepest_m * scale, unit), **style)


def _spacing(trial: Trial) -> Optional[float]:
    """The node spacing (m): from a listed profile, else from the history node's depth; None for a history
    of node 1 alone."""
    for rows in ([trial.initial] if trial.initial is not None else []) + list(trial.profiles):
        if rows is not None and len(rows.depths) > 1:
            return rows.depths[1] - rows.depths[0]
    history = trial.history
    if history is not None and history.depth is not None and history.node > 1:
        return history.depth / (history.node - 1)
    return None


def _true_depths(trial: Trial) -> List[float]:
    """The depths (m) where Omega = 1, one spacing shallower than the report prints them (as printed where
    the report gives no spacing)."""
    spacing = _spacing(trial)
    return [d - spacing if spacing else d for d in trial.omega_depths]


def _save(fig, path: str) -> str:
    fig.tight_layout()
    below = [ax.get_legend() for ax in fig.axes if ax.get_legend() is not None]  # the legends below the axes
    fig.savefig(path, dpi=DPI, bbox_inches="tight", pad_inches=0.15, bbox_extra_artists=below)
    plt.close(fig)
    return path


def plot_history(trial: Trial, path: str) -> str:
    history = trial.history
    fig, ax = plt.subplots(figsize=SIZE)
    ax.plot(history.times, history.temperatures, color="tab:red", lw=1.5)
    ax.set_xlabel("Time (s)")
    ax.set_ylabel("Temperature (K)")
    what = "temperature of node %d" % history.node
    if history.depth is not None:
        what += " (depth %.4f mm)" % (history.depth * MM)
    ax.set_title(_title(trial, what))
    notes = ["Omega at node %d = %.6g (%s)" % (node, omega, PROGRAM_CONSTANTS)
             for node, omega in trial.omega_nodes if node == history.node]
    if _spacing(trial) is None:  # no spacing to place the depth at its node: as the report prints it
        notes += ["Omega = 1 at %.1f µm as printed, one spacing deeper than the node (%s)"
                  % (depth * 1e6, PROGRAM_CONSTANTS) for depth in trial.omega_depths]
    else:
        notes += [_omega_label(depth) for depth in _true_depths(trial)]
    if notes:
        ax.text(0.02, 0.97, "\n".join(notes), transform=ax.transAxes, va="top",
                bbox=dict(boxstyle="round", fc="white", alpha=0.8))
    ax.grid(True, alpha=0.3)
    return _save(fig, path)


def _chosen_profiles(trial: Trial):
    profiles = trial.profiles
    if len(profiles) <= MAX_PROFILES:
        return profiles
    last = len(profiles) - 1
    picks = sorted({round(k * last / (MAX_PROFILES - 1)) for k in range(MAX_PROFILES)})
    return [profiles[k] for k in picks]


def _deepest(trial: Trial) -> float:
    """The deepest node's depth (m) the trial lists."""
    return max(max(rows.depths) for rows in [trial.initial] + list(trial.profiles) if rows is not None and rows.depths)


def plot_profiles(trial: Trial, path: str, skin: Any = None) -> str:
    fig, ax = plt.subplots(figsize=SIZE)
    if trial.initial is not None and trial.initial.depths:
        ax.plot([d * MM for d in trial.initial.depths], trial.initial.temperatures,
                color="grey", ls="--", lw=1, label="initial")
    chosen = _chosen_profiles(trial)
    colours = plt.cm.plasma([0.1 + 0.8 * k / max(len(chosen) - 1, 1) for k in range(len(chosen))])
    for profile, colour in zip(chosen, colours):
        ax.plot([d * MM for d in profile.depths], profile.temperatures, color=colour, lw=1.5,
                label="t = %g s" % profile.time)
    for depth in _true_depths(trial):
        ax.axvline(depth * MM, color="black", ls=":", lw=1.5, label=_omega_label(depth))
    mark_bases(ax, skin if skin is not None else skin_of(), MM, "mm", _deepest(trial), across=False)
    ax.set_xlabel("Depth (mm)")
    ax.set_ylabel("Temperature (K)")
    what = "temperature profile" if len(chosen) == 1 else "temperature profiles"
    ax.set_title(_title(trial, what))
    ax.grid(True, alpha=0.3)
    legend_below(ax, inside="t = ")
    return _save(fig, path)


def plot_map(trial: Trial, path: str, skin: Any = None) -> str:
    times, depths, rows = trial.temperature_grid()
    fig, ax = plt.subplots(figsize=SIZE)
    # Columns are steps, rows are nodes; cells are centred on the values.
    grid = [list(column) for column in zip(*rows)]
    mesh = ax.pcolormesh(times, [d * MM for d in depths], grid, shading="nearest", cmap="inferno")
    fig.colorbar(mesh, ax=ax, label="Temperature (K)")
    for depth in _true_depths(trial):
        ax.axhline(depth * MM, color="cyan", ls="--", lw=1.5, label=_omega_label(depth))
    mark_bases(ax, skin if skin is not None else skin_of(), MM, "mm", max(depths), across=True)
    legend_below(ax)
    ax.invert_yaxis()  # the exposed face on top
    ax.set_xlabel("Time (s)")
    ax.set_ylabel("Depth (mm)")
    ax.set_title(_title(trial, "temperature through the depth"))
    return _save(fig, path)


def plot_trial(trial: Trial, outdir: str, skin: Any = None) -> List[str]:
    """Writes the figures that the trial's data allow; returns their paths. The depth figures mark the
    epidermis and dermis bases of ``skin`` (default :func:`skin_of`'s)."""
    stem = os.path.join(outdir, "%02d-trial%d-" % (trial.index, trial.number))
    written = []
    if trial.history is not None and trial.history.times:
        written.append(plot_history(trial, stem + "history.png"))
    if trial.profiles:
        written.append(plot_profiles(trial, stem + "profiles.png", skin))
    if trial.layout == "every-step":
        written.append(plot_map(trial, stem + "map.png", skin))
    return written


DEPTH_UNITS = {"mm": (1e3, "mm"), "um": (1e6, "µm")}


def _temperature(values, unit: str):
    return values - 273.15 if unit == "C" else values


def _package() -> None:
    """Puts the package in python/ of this repository on the path."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "python")
    if path not in sys.path:
        sys.path.insert(0, path)


def case_file(prefix: str) -> Optional[dict]:
    """The case.json of a study case the prefix belongs to (beside its results, or one directory up for a
    case on a trial, whose results lie in run/), or None."""
    here = os.path.dirname(os.path.abspath(prefix))
    places = [here] + ([os.path.dirname(here)] if os.path.basename(here) == "run" else [])
    for place in places:
        path = os.path.join(place, "case.json")
        if os.path.isfile(path):
            with open(path, encoding="utf-8") as stream:
                return json.load(stream)
    return None


def program_kinetics_name(res: Any) -> str:
    """The constants the program read, named: a preset's name where they are one's, else their values."""
    _package()
    from skinburn.kinetics import KINETICS

    (own,) = res.program_kinetics.regimes
    for kin in KINETICS.values():
        if kin.single_set and math.isclose(kin.regimes[0].frequency_factor_per_s, own.frequency_factor_per_s,
                                           rel_tol=1e-9) and math.isclose(kin.regimes[0].e_over_r_K,
                                                                          own.e_over_r_K, rel_tol=1e-9):
            return "%s: %s" % (PROGRAM_CONSTANTS, kin.name)
    return "%s: P = %.4g 1/s, E/R = %.6g K" % (PROGRAM_CONSTANTS, own.frequency_factor_per_s, own.e_over_r_K)


def omega_crossings(res: Any, kinetics: Any) -> Tuple[List[float], Any]:
    """The depths (m) where Omega under ``kinetics`` passes through 1 between two nodes, and Omega per node.

    Between two nodes the depth is where Omega of the history there
    (``Results.temperature_at_depth``) is 1, as the package's assessment finds
    its depths (Brent's method to 1e-9 of a spacing).
    """
    _package()
    import numpy as np
    from scipy.optimize import brentq
    from skinburn.assessment import omega_at_depth
    from skinburn.kinetics import damage_integral

    hist = res.temperature_K
    node_omega = damage_integral(hist, res.deltat_s, kinetics)
    above = node_omega >= 1.0
    depths = []
    for i in np.nonzero(above[:-1] != above[1:])[0]:
        def f(z: float) -> float:
            return math.log(max(omega_at_depth(hist, res.deltat_s, res.deltax_m, z, kinetics,
                                               res.conductivity_W_mK), 1e-300))
        lo, hi = i * res.deltax_m, (i + 1) * res.deltax_m
        depths.append(float(brentq(f, lo, hi, xtol=1e-9 * res.deltax_m)) if f(lo) * f(hi) < 0 else
                      (lo if above[i + 1] else hi))
    return depths, node_omega


def results_figures(prefix: str, depth_unit: str = "mm", temperature_unit: str = "K", kinetics: Any = None,
                    skin: Any = None):
    """The figures of a ``--results`` prefix, unsaved: {"history": fig, "profiles": fig, "map": fig}.

    Temperatures are the full-precision history of PREFIX.npy, depths the
    nodes' true positions (i-1)*DELTAX; axes in the units chosen. Omega and
    the depths where it passes through 1 are under ``kinetics`` (a
    ``skinburn.Kinetics``), else under the kinetics of the study case the
    prefix belongs to (:func:`case_file`), else under the constants the
    program read (the depths of PREFIX.json's crossings); every figure that
    shows them names the model. The depth figures mark the epidermis and
    dermis bases of ``skin`` (a ``skinburn.Skin``), else of the study case's
    skin, else of :data:`DEFAULT_SKIN`, and name it.
    """
    import numpy as np

    _package()
    from skinburn.assessment import ANSWER_DEGREES, cooling_growth
    from skinburn.criteria import KineticsByDegree, kinetics_for, kinetics_from_dict
    from skinburn.kinetics import damage_integral
    from skinburn.results import Results
    from skinburn.trial import AutoCooling

    with open(prefix + ".json", encoding="utf-8") as stream:
        res = Results(json.load(stream), prefix)
    res.require_finite()  # NonFiniteHistory (a ValueError) names the first value no temperature can be
    case = case_file(prefix)
    # The run's material is the skin's only for a study case on a trial (its results in run/), judged at
    # that case's own skin; a data directory keeps its own material whatever skin gives the depths.
    own_material = skin is None and case is not None and case.get("skin") is not None and \
        os.path.basename(os.path.dirname(os.path.abspath(prefix))) == "run"
    if kinetics is None and case is not None and case.get("kinetics"):
        kinetics = kinetics_from_dict(case["kinetics"])
    if isinstance(kinetics, KineticsByDegree):  # a model per degree: Omega = 1 as the verdict's depth gives it
        kinetics = kinetics_for(kinetics, ANSWER_DEGREES["depth 1"])
    if skin is None:
        skin = skin_of(None, case)
    scale, dname = DEPTH_UNITS[depth_unit]
    tname = "°C" if temperature_unit == "C" else "K"
    hist = np.asarray(res.temperature_K)
    time, depth = res.time_s, res.depth_m * scale
    node = res.output_node if res.output_node > 0 else 1
    if kinetics is None:  # the program's own Omega and depths, as its bundle gives them
        model = program_kinetics_name(res)
        crossings = [c["depth_m"] for c in res.crossings]
        node_omega = res.program_omega_unfloored
    else:
        model = kinetics.name
        crossings, node_omega = omega_crossings(res, kinetics)
    # Where no depth is drawn, say why: Omega is 1 or more at every node, or reaches 1 nowhere. (In the
    # single-node mode the program integrated the output node alone: nothing to say of the others.)
    reached = None
    judged = kinetics is not None or res.outcome in ("burn-depth", "all-above", "all-below")
    if not crossings and judged and node_omega.size and np.all(np.isfinite(node_omega)):
        reached = ("Omega ≥ 1 at every node (%s)" if node_omega.min() >= 1.0 else "Omega reaches 1 nowhere (%s)") \
            % model
    # A depth drawn while the damage still grows is the depth at the run's end, not the burn's: say so
    # on the line and in a note (the measure and the tolerance AutoCooling settles the cooling by).
    growth = cooling_growth(res, skin, kinetics if kinetics is not None else res.program_kinetics)
    growing = not growth <= AutoCooling().tolerance
    notes = ((reached,) if reached else ()) + ((
        "The damage still grew at the run's end (a change of %.2g over its last quarter, above %g): the burn "
        "goes deeper once it stops;\nlengthen the time after the exposure" % (growth, AutoCooling().tolerance),)
        if growing else ())
    title = (case or {}).get("title") or os.path.basename(prefix)
    label = lambda d: "Omega = 1 at %.4g %s (%s)%s" % (  # noqa: E731
        d * scale, dname, model, ", at the run's end, still growing" if growing else "")

    def note(ax: Any, text: str) -> None:
        ax.text(0.02, 0.97, text, transform=ax.transAxes, va="top", fontsize="small",
                bbox=dict(boxstyle="round", fc="white", alpha=0.8))

    figures = {}

    fig, ax = plt.subplots(figsize=SIZE)
    ax.plot(time, _temperature(hist[:, node - 1], temperature_unit), color="tab:red", lw=1.5)
    ax.set_xlabel("Time (s)")
    ax.set_ylabel("Temperature (%s)" % tname)
    ax.set_title("%s: node %d at %.4g %s" % (title, node, depth[node - 1], dname), fontsize=10)
    ax.grid(True, alpha=0.3)
    omega = float(node_omega[node - 1]) if kinetics is None else \
        float(damage_integral(hist[:, node - 1], res.deltat_s, kinetics))
    if math.isfinite(omega):
        note(ax, "Omega at node %d = %.6g (%s)" % (node, omega, model))
    figures["history"] = fig

    fig, ax = plt.subplots(figsize=SIZE)
    rows = {round(k * (len(time) - 1) / (MAX_PROFILES - 1)) for k in range(MAX_PROFILES)}
    rows = sorted(rows | {int(np.argmax(hist[:, 0]))})  # and the hottest moment of the surface
    colours = plt.cm.plasma(np.linspace(0.1, 0.9, len(rows)))
    for r, colour in zip(rows, colours):
        ax.plot(depth, _temperature(hist[r], temperature_unit), color=colour, lw=1.5, label="t = %g s" % time[r])
    for d in crossings:
        ax.axvline(d * scale, color="black", ls=":", lw=1.5, label=label(d))
    mark_bases(ax, skin, scale, dname, float(res.depth_m[-1]), across=False, material_is_its=own_material)
    ax.set_xlabel("Depth (%s)" % dname)
    ax.set_ylabel("Temperature (%s)" % tname)
    ax.set_title("%s: temperature profiles" % title, fontsize=10)
    ax.grid(True, alpha=0.3)
    legend_below(ax, notes, inside="t = ")
    figures["profiles"] = fig

    fig, ax = plt.subplots(figsize=SIZE)
    step = max(1, len(time) // 2000)
    mesh = ax.pcolormesh(time[::step], depth, _temperature(hist[::step].T, temperature_unit), shading="nearest",
                         cmap="inferno")
    fig.colorbar(mesh, ax=ax, label="Temperature (%s)" % tname)
    for d in crossings:
        ax.axhline(d * scale, color="cyan", ls="--", lw=1.5, label=label(d))
    mark_bases(ax, skin, scale, dname, float(res.depth_m[-1]), across=True, material_is_its=own_material)
    legend_below(ax, notes)
    ax.invert_yaxis()
    ax.set_xlabel("Time (s)")
    ax.set_ylabel("Depth (%s)" % dname)
    ax.set_title("%s: temperature through the depth" % title, fontsize=10)
    figures["map"] = fig
    return figures


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description="Plot the trials of a skinburn OUTPUT.TXT as PNG figures.")
    parser.add_argument("output", nargs="?", help="the OUTPUT.TXT of a data directory")
    parser.add_argument("-o", "--outdir", default="plots", help="directory for the PNG files (default: plots)")
    parser.add_argument("--results", metavar="PREFIX", help="draw from PREFIX.json and PREFIX.npy instead")
    parser.add_argument("--kinetics", metavar="PRESET",
                        help="with --results: Omega under this kinetics preset of the package (weaver-stoll, "
                             "henriques, program-default); default: a study case's own, else the program's "
                             "constants")
    parser.add_argument("--skin", metavar="PRESET",
                        help="the skin whose epidermis and dermis bases the depth figures mark (uniform, "
                             "torvi-dale); default: a study case's own, else %s" % DEFAULT_SKIN)
    parser.add_argument("--depth-unit", choices=sorted(DEPTH_UNITS), default="mm")
    parser.add_argument("--temperature-unit", choices=("C", "K"), default="K")
    args = parser.parse_args(argv)
    if args.kinetics and not args.results:
        parser.error("--kinetics draws from --results PREFIX (the report's Omega is the program's)")
    if args.results:
        try:
            kinetics = None
            if args.kinetics:
                _package()
                from skinburn.kinetics import kinetics_preset
                kinetics = kinetics_preset(args.kinetics)
            skin = skin_of(args.skin) if args.skin else None
            figures = results_figures(args.results, args.depth_unit, args.temperature_unit, kinetics, skin)
        except KeyError as error:
            print("plot_output: %s" % error.args[0], file=sys.stderr)
            return 2
        except (OSError, ValueError) as error:
            print("plot_output: %s: %s" % (args.results, error), file=sys.stderr)
            return 1
        os.makedirs(args.outdir, exist_ok=True)
        stem = os.path.basename(args.results)
        for kind, fig in figures.items():
            print(_save(fig, os.path.join(args.outdir, "%s-%s.png" % (stem, kind))))
        return 0
    if not args.output:
        parser.error("give an OUTPUT.TXT or --results PREFIX")

    try:
        trials = parse_file(args.output)
    except OSError as error:
        print("plot_output: cannot read %s: %s" % (args.output, error.strerror), file=sys.stderr)
        return 1
    if not trials:
        print("plot_output: %s holds no trial" % args.output, file=sys.stderr)
        return 1
    try:
        skin = skin_of(args.skin)
    except KeyError as error:
        print("plot_output: %s" % error.args[0], file=sys.stderr)
        return 2
    os.makedirs(args.outdir, exist_ok=True)
    for trial in trials:
        written = plot_trial(trial, args.outdir, skin)
        if not written:
            print("plot_output: trial %d (place %d in the file) holds no temperatures; nothing plotted"
                  % (trial.number, trial.index), file=sys.stderr)
        for path in written:
            print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
