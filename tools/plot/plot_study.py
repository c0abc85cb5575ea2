#!/usr/bin/python3
"""Figures of a parameter study (the CSV of tools/study/study.py).

    plot_study.py STUDY.CSV -o figure.png [--x COLUMN] [--y depth|threshold|peak_T|program_depth]
                  [--map] [--depth-unit mm|um] [--temperature-unit C|K] [--stoll] [--title TEXT]

A line figure draws one quantity against one varied column (--x, default
the first), one line for each value of the other varied columns: the depth
Omega = 1 reaches under the study's kinetics (default), the threshold a
search per case found, the peak surface temperature, or the depth the
program's own Omega = 1 reaches (under the constants of each case's
DATA.DAT). A case with no burn is drawn as an open marker on the bottom
edge, named "no burn" in the legend, never as a depth of 0; failed cases are
left out and named on standard error.

--map draws a two-key study as a burn-degree map: colour = degree (no burn,
first, second, third), contours of the burn depth (or of the threshold in a
search study), failed cases hatched. --stoll draws Stoll and Chianta's
second-degree tolerance curve under a flux-time figure (a search of the
exposure duration against a flux).

Kinetics are never mixed: every quantity that rests on one (the degree, a
depth, a threshold) is labelled with the model the study judged it under
(the CSV's kinetics column). Where the cases were judged under several, each
line holds one kinetics and says which in the legend; a map of several is
refused.

The title is the study's own (study.json beside the CSV) unless --title is
given; axes carry units in the unit chosen. The path of the figure is printed.
"""

from __future__ import annotations

import argparse
import csv
import json
import math
import os
import sys
from typing import Dict, List, Optional, Tuple

NO_BURN = "no burn"
FIXED = {"trial", "status", "burn", "degree", "kinetics", "omega_epidermis_base", "omega_dermis_base",
         "depth_omega_053_um", "depth_omega_1_um", "omega_growth_last_quarter", "program_outcome",
         "program_depth_um", "program_omega",
         "peak_T_K", "peak_T_C", "peak_node", "error", "dir", "runs", "deltax_um", "deltat_s",
         "after_exposure_s"}
DEGREES = ("no burn", "first degree", "second degree", "third degree")
ORDINALS = {"1": "first", "2": "second", "3": "third"}
#: The varied column of a study that varies the kinetics (tools/study/study.py); the column "kinetics"
#: names the model each row was judged under.
KINETICS_COLUMN = "kinetics_preset"
#: How the study tool names the constants a data directory's DATA.DAT gives, when no kinetics was chosen.
AS_READ = "as the program read it"
#: Stoll and Chianta's second-degree tolerance: (exposure s, absorbed heat flux kW/m^2).
#: A. M. Stoll and M. A. Chianta, Method and rating system for evaluation of thermal protection,
#: Aerospace Medicine 40 (1969) 1232-1238.
STOLL_CHIANTA_1969 = ((1, 50), (2, 31), (3, 23), (4, 19), (5, 16), (6, 14), (7, 13), (8, 11.5), (9, 10.6),
                      (10, 9.8), (11, 9.2), (12, 8.6), (13, 8.1), (14, 7.7), (15, 7.4), (16, 7.0), (17, 6.7),
                      (18, 6.4), (19, 6.2), (20, 6.0), (25, 5.1), (30, 4.5))
# Unit suffixes of column names and how they read on an axis.
UNITS = (("_W_m2K", "W/(m² K)"), ("_kW_m2", "kW/m²"), ("_W_m2", "W/m²"), ("_W_mK", "W/(m K)"),
         ("_kg_m3", "kg/m³"), ("_J_kgK", "J/(kg K)"), ("_m_s", "m/s"), ("_um", "µm"), ("_mm", "mm"),
         ("_s", "s"), ("_m", "m"), ("_K", "K"), ("_C", "°C"))


def varied_columns(fields: List[str]) -> List[str]:
    """The varied columns of a study CSV: all but the result columns."""
    return [f for f in fields if f not in FIXED and not f.startswith(("threshold_", "unburnt_", "burnt_"))]


def axis_label(column: str, unit_choice: Optional[str] = None) -> Tuple[str, float, float]:
    """(label, factor, offset) of a column: the value drawn is cell * factor + offset, in the unit shown.

    Depths (_um, _m) go to ``unit_choice`` mm or µm; temperatures (_K, _C) to K or °C.
    """
    if column.endswith("standoff_ratio"):
        return f"{column} (nozzle diameters)", 1.0, 0.0
    for suffix, unit in UNITS:
        if column.endswith(suffix):
            name = column[: -len(suffix)]
            if suffix in ("_K", "_C") and unit_choice in ("K", "C"):
                target = "°C" if unit_choice == "C" else "K"
                offset = 0.0 if unit == target else (-273.15 if target == "°C" else 273.15)
                return f"{name} ({target})", 1.0, offset
            if suffix in ("_um", "_m") and unit_choice in ("mm", "um"):
                source = 1e-6 if suffix == "_um" else 1.0
                target = 1e-3 if unit_choice == "mm" else 1e-6
                return f"{name} ({'mm' if unit_choice == 'mm' else 'µm'})", source / target, 0.0
            return f"{name} ({unit})", 1.0, 0.0
    return column, 1.0, 0.0


def kinetics_phrase(name: str) -> str:
    """A kinetics model's name as a figure gives it."""
    return "the program's constants" if name == AS_READ else name


def kinetics_names(rows: List[Dict[str, str]]) -> List[str]:
    """The kinetics the completed cases were judged under, in order of first appearance."""
    return list(dict.fromkeys(r.get("kinetics", "") for r in rows if r.get("status") == "0" and r.get("kinetics")))


def quantity_label(ycol: str, label: str, rows: List[Dict[str, str]], along: bool = False) -> str:
    """The axis or contour label of a quantity, naming the kinetics it rests on.

    ``label`` is :func:`axis_label`'s, "name (unit)". A depth or threshold
    is "… under KINETICS" where the cases share one model, "…; kinetics per
    line" where they do not (``along``: the kinetics vary along the axis).
    """
    name, unit = (label[: label.rfind(" (")], label[label.rfind(" ("):]) if " (" in label else (label, "")
    if ycol.startswith("peak_T"):
        return label
    if ycol == "program_depth_um":
        return f"depth where Omega = 1 under the program's constants{unit}"
    if ycol == "depth_omega_1_um":
        name = "depth where Omega = 1"
    elif ycol.startswith("threshold_"):
        degrees = {r.get("degree", "") for r in rows if r.get("status") == "0" and r.get("degree")}
        if len(degrees) == 1:
            name += f", {ORDINALS.get(degrees.pop(), '?')} degree"
    names = kinetics_names(rows)
    if len(names) == 1:
        return f"{name} under {kinetics_phrase(names[0])}{unit}"
    if not names:
        return f"{name}{unit}"
    return f"{name}{unit}; kinetics " + ("along the axis" if along else "per line")


def y_column(fields: List[str], y: str) -> str:
    """The CSV column of a quantity."""
    if y == "depth":
        return "depth_omega_1_um"
    if y == "program_depth":
        return "program_depth_um"
    if y == "peak_T":
        return next(f for f in fields if f.startswith("peak_T_"))
    found = [f for f in fields if f.startswith("threshold_")]
    if not found:
        raise ValueError("the study has no search per case (no threshold column)")
    return found[0]


def number_or_none(word: str) -> Optional[float]:
    """A number, or None for a word that is none."""
    try:
        value = float(word)
    except (TypeError, ValueError):
        return None
    return value if math.isfinite(value) else None


def series(rows: List[Dict[str, str]], x: str, ycol: str
           ) -> Tuple[Dict[str, List[Tuple[str, float]]], Dict[str, List[str]], List[str]]:
    """Lines keyed by the other varied values, each [(x word, value)]; the x words of "no burn" per line;
    and the cases left out (failed, or no value to draw).

    A line never joins cases judged under different kinetics: where the study
    has several (and they do not lie along x), the key names the kinetics.
    """
    others = [c for c in varied_columns(list(rows[0].keys())) if c != x] if rows else []
    by_kinetics = len(kinetics_names(rows)) > 1 and x != KINETICS_COLUMN
    if by_kinetics:
        others = [c for c in others if c != KINETICS_COLUMN]
    lines: Dict[str, List[Tuple[str, float]]] = {}
    unburnt: Dict[str, List[str]] = {}
    left_out = []
    for row in rows:
        key = ", ".join([f"{c} = {row[c]}" for c in others if row[c] != ""]
                        + ([f"kinetics = {kinetics_phrase(row.get('kinetics', ''))}"] if by_kinetics else []))
        cell = row.get(ycol, "")
        if row["status"] != "0":
            left_out.append(f"trial {row['trial']} (status {row['status'] or 'none'})")
            continue
        if cell == NO_BURN:
            unburnt.setdefault(key, []).append(row[x])
            lines.setdefault(key, [])
            continue
        value = number_or_none(cell.split(";")[-1]) if cell else None
        if value is None:
            left_out.append(f"trial {row['trial']} ({cell or 'no value'})")
            continue
        lines.setdefault(key, []).append((row[x], value))
    return lines, unburnt, left_out


def read_meta(csv_path: str) -> dict:
    """study.json beside the CSV (title, varied keys), or {}."""
    try:
        with open(os.path.splitext(csv_path)[0] + ".json", encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}


def line_figure(rows: List[Dict[str, str]], x: str, y: str, title: str, depth_unit: str, temp_unit: str,
                stoll: bool):
    """The figure of one quantity against one varied column; returns (figure, cases left out)."""
    import matplotlib.pyplot as plt

    fields = list(rows[0].keys())
    ycol = y_column(fields, y)
    lines, unburnt, left_out = series(rows, x, ycol)
    xlabel, xf, xo = axis_label(x, temp_unit if x.endswith(("_K", "_C")) else depth_unit)
    ylabel, yf, yo = axis_label(ycol, temp_unit if ycol.startswith("peak_T") else depth_unit)
    ylabel = quantity_label(ycol, ylabel, rows, along=x == KINETICS_COLUMN)
    words = list(dict.fromkeys(w for pts in lines.values() for w, _ in pts))
    words += [w for ws in unburnt.values() for w in ws if w not in words]
    numeric = all(number_or_none(w) is not None for w in words)
    place = {w: (number_or_none(w) * xf + xo if numeric else i) for i, w in enumerate(words)}
    fig, ax = plt.subplots(figsize=(7, 4.5), dpi=100)
    for k, (key, points) in enumerate(lines.items()):
        colour = f"C{k % 10}"
        points = sorted(points, key=lambda p: place[p[0]])
        ax.plot([place[w] for w, _ in points], [v * yf + yo for _, v in points], marker="o", color=colour,
                label=key or None)
        if unburnt.get(key):
            # "No burn" sits on the bottom edge (axes coordinates): never a depth of 0.
            ax.plot([place[w] for w in unburnt[key]], [0.0] * len(unburnt[key]), ls="none", marker="o",
                    mfc="white", color=colour, clip_on=False, transform=ax.get_xaxis_transform(), zorder=3)
    if any(unburnt.values()):
        ax.plot([], [], ls="none", marker="o", mfc="white", color="grey", label=NO_BURN)
    if stoll:
        flux_x = "flux" in x
        pts = [(q, t) for t, q in STOLL_CHIANTA_1969]
        scale = 1.0 if x.endswith("_kW_m2") else 1e3
        if flux_x:
            ax.plot([q * scale for q, _ in pts], [t for _, t in pts], color="black", ls="--", lw=1,
                    zorder=1,
                    label="Stoll and Chianta 1969, second degree")
        else:
            print("plot_study: --stoll needs a flux along the axis; not drawn", file=sys.stderr)
    if not numeric:
        ax.set_xticks(range(len(words)), words)
    ax.set_xlabel(xlabel)
    ax.set_ylabel(ylabel)
    ax.set_title(title, fontsize=10)
    ax.grid(True, alpha=0.3)
    if ax.get_legend_handles_labels()[0]:
        ax.legend(fontsize=8)
    fig.tight_layout()
    return fig, left_out


def degree_map(rows: List[Dict[str, str]], x: str, yk: str, title: str, depth_unit: str, temp_unit: str):
    """The burn-degree map of a two-key study: colour = degree, contours of the depth or threshold."""
    import matplotlib.pyplot as plt
    import numpy as np
    from matplotlib.colors import BoundaryNorm, ListedColormap
    from matplotlib.patches import Patch

    fields = list(rows[0].keys())
    search = any(f.startswith("threshold_") for f in fields)
    names = kinetics_names(rows)
    if len(names) > 1:
        raise ValueError("the cases were judged under several kinetics (" + ", ".join(names) + "); a map "
                         "shows one: draw a line figure, or a study of one kinetics")
    xs = sorted({number_or_none(r[x]) for r in rows} - {None})
    ys = sorted({number_or_none(r[yk]) for r in rows} - {None})
    if len(xs) < 2 or len(ys) < 2:
        raise ValueError("a degree map needs two numeric varied columns with two values or more each")
    degree = np.full((len(ys), len(xs)), np.nan)
    level = np.full((len(ys), len(xs)), np.nan)
    failed = np.zeros((len(ys), len(xs)), dtype=bool)
    zcol = y_column(fields, "threshold" if search else "depth")
    for r in rows:
        i, j = ys.index(float(r[yk])), xs.index(float(r[x]))
        if r["status"] != "0":
            failed[i, j] = True
            continue
        if not search:
            degree[i, j] = float(r["degree"]) if r.get("degree", "") != "" else np.nan
        z = number_or_none(r.get(zcol, ""))
        level[i, j] = z if z is not None else np.nan
    xlabel, xf, xo = axis_label(x, temp_unit if x.endswith(("_K", "_C")) else depth_unit)
    ylabel, yf, yo = axis_label(yk, temp_unit if yk.endswith(("_K", "_C")) else depth_unit)
    gx, gy = np.array(xs) * xf + xo, np.array(ys) * yf + yo
    fig, ax = plt.subplots(figsize=(7.5, 5), dpi=100)
    handles = []
    if not search:
        colours = ("#f4f1e8", "#f6c453", "#e8743b", "#9b1d20")
        cmap = ListedColormap(colours)
        ax.pcolormesh(gx, gy, degree, cmap=cmap, norm=BoundaryNorm([-0.5, 0.5, 1.5, 2.5, 3.5], 4),
                      shading="nearest")
        present = sorted({int(d) for d in degree[np.isfinite(degree)]})
        handles += [Patch(facecolor=colours[d], edgecolor="grey", label=DEGREES[d]) for d in present]
    if failed.any():
        fy, fx = np.nonzero(failed)
        dx = (gx[1] - gx[0]) / 2
        dy = (gy[1] - gy[0]) / 2
        for i, j in zip(fy, fx):
            ax.add_patch(plt.Rectangle((gx[j] - dx, gy[i] - dy), 2 * dx, 2 * dy, fill=False, hatch="xx",
                                       edgecolor="grey"))
        handles.append(Patch(fill=False, hatch="xx", edgecolor="grey", label="run failed"))
    zlabel, zf, zo = axis_label(zcol, depth_unit)
    if np.isfinite(level).sum() >= 4:
        cs = ax.contour(gx, gy, level * zf + zo, colors="black", linewidths=0.9)
        ax.clabel(cs, fontsize=8, fmt="%g")
        name = "depth where Omega = 1" if zcol == "depth_omega_1_um" else zlabel.split(" (")[0]
        unit = zlabel[zlabel.rfind("(") + 1:-1] if "(" in zlabel else ""
        handles.append(plt.Line2D([], [], color="black", lw=0.9, label=f"{name} ({unit})"))
    ax.set_xlabel(xlabel)
    ax.set_ylabel(ylabel)
    ax.set_title(title, fontsize=10)
    legend = ax.legend(handles=handles, fontsize=8, loc="upper left", bbox_to_anchor=(1.01, 1.0),
                       title=f"under {kinetics_phrase(names[0])}" if names else None, title_fontsize=8)
    legend._legend_box.align = "left"
    fig.tight_layout()
    return fig


def main(argv: List[str]) -> int:
    """The command line; returns the exit status."""
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("csv", help="the study's CSV file")
    p.add_argument("-o", "--output", required=True, help="the PNG file to write")
    p.add_argument("--x", help="the varied column along the axis")
    p.add_argument("--y", choices=("depth", "threshold", "peak_T", "program_depth"), default=None)
    p.add_argument("--map", action="store_true", help="burn-degree map of a two-key study")
    p.add_argument("--depth-unit", choices=("mm", "um"), default="um")
    p.add_argument("--temperature-unit", choices=("C", "K"), default="K")
    p.add_argument("--stoll", action="store_true", help="draw Stoll and Chianta's curve (flux-time figures)")
    p.add_argument("--title", help="the figure's title (default: the study's)")
    args = p.parse_args(argv)
    try:
        with open(args.csv, newline="") as f:
            rows = list(csv.DictReader(f))
    except OSError as e:
        print(f"plot_study: {e}", file=sys.stderr)
        return 1
    if not rows:
        print(f"plot_study: {args.csv} holds no case", file=sys.stderr)
        return 1
    columns = varied_columns(list(rows[0].keys()))
    x = args.x or (columns[0] if columns else None)
    if x not in columns:
        print(f"plot_study: no varied column {x!r} in {args.csv} (it has: {', '.join(columns)})",
              file=sys.stderr)
        return 1
    title = args.title or read_meta(args.csv).get("title") or os.path.basename(args.csv)

    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    try:
        if args.map:
            others = [c for c in columns if c != x]
            if len(others) != 1:
                raise ValueError("--map needs a study of exactly two varied columns")
            fig = degree_map(rows, x, others[0], title, args.depth_unit, args.temperature_unit)
        else:
            search = any(f.startswith("threshold_") for f in rows[0])
            y = args.y or ("threshold" if search else "depth")
            fig, left_out = line_figure(rows, x, y, title, args.depth_unit, args.temperature_unit, args.stoll)
            for trial in left_out:
                print(f"plot_study: {trial} left out", file=sys.stderr)
    except (ValueError, StopIteration) as e:
        print(f"plot_study: {e or 'no such column'}", file=sys.stderr)
        return 1
    fig.savefig(args.output)
    plt.close(fig)
    print(args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
