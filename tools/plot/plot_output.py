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

NN is the trial's place in the file (01, 02, ...), T its TRIAL number. The
report prints the depth where Omega = 1 one spacing deeper than the node's
depth; the figures draw it at the true depth, one spacing shallower.

    plot_output.py --results PREFIX -o plots/ [--depth-unit mm|um] [--temperature-unit C|K]

draws the same three figures (NAME-history.png, NAME-profiles.png,
NAME-map.png, NAME the last part of PREFIX) from what ``skinburn --results
PREFIX`` wrote: the full-precision history of PREFIX.npy at the nodes' true
depths, the depths where Omega = 1 from PREFIX.json. The paths of the files written are
printed, one a line.
"""

from __future__ import annotations

import argparse
import os
import sys
from typing import List

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from output_parser import Trial, parse_file  # noqa: E402

MM = 1000.0          # m to mm
MAX_PROFILES = 8     # profiles drawn from the every-step layout
DPI = 100
SIZE = (8, 5)        # inches


def _title(trial: Trial, what: str) -> str:
    return "Trial %d (%s, %s): %s" % (trial.number, trial.date, trial.executed_by, what)


def _omega_label(depth: float) -> str:
    return "Omega = 1 at %.1f µm" % (depth * 1e6)


def _true_depths(trial: Trial) -> List[float]:
    """The depths (m) where Omega = 1, one spacing shallower than the report prints them."""
    spacing = None
    for rows in ([trial.initial] if trial.initial is not None else []) + list(trial.profiles):
        if rows is not None and len(rows.depths) > 1:
            spacing = rows.depths[1] - rows.depths[0]
            break
    return [d - spacing if spacing else d for d in trial.omega_depths]


def _save(fig, path: str) -> str:
    fig.tight_layout()
    fig.savefig(path, dpi=DPI)
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
    notes = ["Omega at node %d = %.6g" % (node, omega)
             for node, omega in trial.omega_nodes if node == history.node]
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


def plot_profiles(trial: Trial, path: str) -> str:
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
    ax.set_xlabel("Depth (mm)")
    ax.set_ylabel("Temperature (K)")
    what = "temperature profile" if len(chosen) == 1 else "temperature profiles"
    ax.set_title(_title(trial, what))
    ax.grid(True, alpha=0.3)
    ax.legend(fontsize="small")
    return _save(fig, path)


def plot_map(trial: Trial, path: str) -> str:
    times, depths, rows = trial.temperature_grid()
    fig, ax = plt.subplots(figsize=SIZE)
    # Columns are steps, rows are nodes; cells are centred on the values.
    grid = [list(column) for column in zip(*rows)]
    mesh = ax.pcolormesh(times, [d * MM for d in depths], grid, shading="nearest", cmap="inferno")
    fig.colorbar(mesh, ax=ax, label="Temperature (K)")
    for depth in _true_depths(trial):
        ax.axhline(depth * MM, color="cyan", ls="--", lw=1.5, label=_omega_label(depth))
    if trial.omega_depths:
        ax.legend(fontsize="small", loc="lower right")
    ax.invert_yaxis()  # the exposed face on top
    ax.set_xlabel("Time (s)")
    ax.set_ylabel("Depth (mm)")
    ax.set_title(_title(trial, "temperature through the depth"))
    return _save(fig, path)


def plot_trial(trial: Trial, outdir: str) -> List[str]:
    """Writes the figures that the trial's data allow; returns their paths."""
    stem = os.path.join(outdir, "%02d-trial%d-" % (trial.index, trial.number))
    written = []
    if trial.history is not None and trial.history.times:
        written.append(plot_history(trial, stem + "history.png"))
    if trial.profiles:
        written.append(plot_profiles(trial, stem + "profiles.png"))
    if trial.layout == "every-step":
        written.append(plot_map(trial, stem + "map.png"))
    return written


DEPTH_UNITS = {"mm": (1e3, "mm"), "um": (1e6, "µm")}


def _temperature(values, unit: str):
    return values - 273.15 if unit == "C" else values


def results_figures(prefix: str, depth_unit: str = "mm", temperature_unit: str = "K"):
    """The figures of a ``--results`` prefix, unsaved: {"history": fig, "profiles": fig, "map": fig}.

    Temperatures are the full-precision history of PREFIX.npy, depths the
    nodes' true positions (i-1)*DELTAX, the depths where Omega = 1 those of
    PREFIX.json's crossings; axes in the units chosen.
    """
    import json

    import numpy as np

    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "python"))
    from skinburn.results import Results

    with open(prefix + ".json", encoding="utf-8") as stream:
        res = Results(json.load(stream), prefix)
    scale, dname = DEPTH_UNITS[depth_unit]
    tname = "°C" if temperature_unit == "C" else "K"
    hist = np.asarray(res.temperature_K)
    time, depth = res.time_s, res.depth_m * scale
    crossings = [c["depth_m"] for c in res.crossings]
    title = (res.inputs.document.get("title") or os.path.basename(prefix)) if res.inputs.document else prefix
    label = lambda d: "Omega = 1 at %.4g %s" % (d * scale, dname)  # noqa: E731
    figures = {}

    node = res.output_node if res.output_node > 0 else 1
    fig, ax = plt.subplots(figsize=SIZE)
    ax.plot(time, _temperature(hist[:, node - 1], temperature_unit), color="tab:red", lw=1.5)
    ax.set_xlabel("Time (s)")
    ax.set_ylabel("Temperature (%s)" % tname)
    ax.set_title("%s: node %d at %.4g %s" % (title, node, depth[node - 1], dname), fontsize=10)
    ax.grid(True, alpha=0.3)
    figures["history"] = fig

    fig, ax = plt.subplots(figsize=SIZE)
    rows = sorted({round(k * (len(time) - 1) / (MAX_PROFILES - 1)) for k in range(MAX_PROFILES)})
    colours = plt.cm.plasma(np.linspace(0.1, 0.9, len(rows)))
    for r, colour in zip(rows, colours):
        ax.plot(depth, _temperature(hist[r], temperature_unit), color=colour, lw=1.5, label="t = %g s" % time[r])
    for d in crossings:
        ax.axvline(d * scale, color="black", ls=":", lw=1.5, label=label(d))
    ax.set_xlabel("Depth (%s)" % dname)
    ax.set_ylabel("Temperature (%s)" % tname)
    ax.set_title("%s: temperature profiles" % title, fontsize=10)
    ax.grid(True, alpha=0.3)
    ax.legend(fontsize="small")
    figures["profiles"] = fig

    fig, ax = plt.subplots(figsize=SIZE)
    step = max(1, len(time) // 2000)
    mesh = ax.pcolormesh(time[::step], depth, _temperature(hist[::step].T, temperature_unit), shading="nearest",
                         cmap="inferno")
    fig.colorbar(mesh, ax=ax, label="Temperature (%s)" % tname)
    for d in crossings:
        ax.axhline(d * scale, color="cyan", ls="--", lw=1.5, label=label(d))
    if crossings:
        ax.legend(fontsize="small", loc="lower right")
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
    parser.add_argument("--depth-unit", choices=sorted(DEPTH_UNITS), default="mm")
    parser.add_argument("--temperature-unit", choices=("C", "K"), default="K")
    args = parser.parse_args(argv)
    if args.results:
        try:
            figures = results_figures(args.results, args.depth_unit, args.temperature_unit)
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
    os.makedirs(args.outdir, exist_ok=True)
    for trial in trials:
        written = plot_trial(trial, args.outdir)
        if not written:
            print("plot_output: trial %d (place %d in the file) holds no temperatures; nothing plotted"
                  % (trial.number, trial.index), file=sys.stderr)
        for path in written:
            print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
