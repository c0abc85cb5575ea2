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
from dataclasses import dataclass
from typing import Any, Dict, List, Optional, Tuple

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from labels import Quantity, label_every_contour, quantity, wrapped  # noqa: E402

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
#: The colours of the degrees on a map: no burn, first, second, third.
DEGREE_COLOURS = ("#f4f1e8", "#f6c453", "#e8743b", "#9b1d20")
#: Points per axis of the field a map is drawn from (bilinear between the cases).
MAP_POINTS = 241


def varied_columns(fields: List[str]) -> List[str]:
    """The varied columns of a study CSV: all but the result columns."""
    return [f for f in fields
            if f not in FIXED and not f.startswith(("threshold_", "uncertainty_", "unburnt_", "burnt_"))]


def plain_log_ticks(ax: Any) -> None:
    """Plain numbers on the log axes of ``ax``: 1, 2, 5, 10, 20, 50, ... (no powers of ten)."""
    from matplotlib.ticker import FuncFormatter

    def plain(value: float, _pos: int) -> str:
        if value <= 0:
            return ""
        lead = value / 10 ** math.floor(math.log10(value) + 1e-9)
        return "%g" % value if round(lead, 6) in (1.0, 2.0, 5.0) else ""

    for axis in (ax.xaxis, ax.yaxis):
        if axis.get_scale() == "log":
            axis.set_major_formatter(FuncFormatter(plain))
            axis.set_minor_formatter(FuncFormatter(plain))


def kinetics_phrase(name: str) -> str:
    """A kinetics model's name as a figure gives it."""
    return "the program's constants" if name == AS_READ else name


def kinetics_names(rows: List[Dict[str, str]]) -> List[str]:
    """The kinetics the completed cases were judged under, in order of first appearance."""
    return list(dict.fromkeys(r.get("kinetics", "") for r in rows if r.get("status") == "0" and r.get("kinetics")))


def quantity_label(ycol: str, q: Quantity, rows: List[Dict[str, str]], along: bool = False) -> str:
    """The axis or contour label of a quantity, naming the kinetics it rests on.

    ``q`` is how the column is shown (:func:`labels.quantity`). A depth or
    threshold is "… under KINETICS" where the cases share one model, "…;
    kinetics per line" where they do not (``along``: the kinetics vary
    along the axis). A threshold is named by the degree searched for:
    "exposure time to a second-degree burn".
    """
    name, unit = q.name, (f" ({q.unit})" if q.unit else "")
    if ycol.startswith("peak_T") or ycol == "program_depth_um":
        return q.label
    if ycol.startswith("threshold_"):
        degrees = {r.get("degree", "") for r in rows if r.get("status") == "0" and r.get("degree")}
        burn = f"{ORDINALS[degrees.pop()]}-degree burn" if len(degrees) == 1 and degrees <= set(ORDINALS) \
            else "the burn searched for"
        name = f"{name} to a {burn}" if name == "exposure time" else f"{name} for a {burn}"
    names = kinetics_names(rows)
    if len(names) == 1:
        return f"{name} under {kinetics_phrase(names[0])}{unit}"
    if not names:
        return f"{name}{unit}"
    return f"{name}{unit}; kinetics " + ("along the axis" if along else "per line")


def y_quantity(ycol: str, depth_unit: str, temp_unit: str) -> Quantity:
    """How a drawn quantity is shown; a threshold as the value searched (its column without "threshold_")."""
    return quantity(ycol[len("threshold_"):] if ycol.startswith("threshold_") else ycol, depth_unit, temp_unit)


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
    """Lines keyed by the other varied values ("stand-off = 2 nozzle diameters"), each [(x word, value)];
    the x words of "no burn" per line; and the cases left out (failed, or no value to draw).

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
        key = ", ".join([quantity(c).value_text(row[c]) for c in others if row[c] != ""]
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
    """The figure of one quantity against one varied column; returns (figure, cases left out).

    With ``stoll`` and a flux along x, the figure is flux (kW/m²) against
    time on log-log axes with Stoll and Chianta's curve, as their curve is
    drawn. Every line drawn is in the legend: a study of one key names its
    line by the quantity.
    """
    import matplotlib.pyplot as plt

    fields = list(rows[0].keys())
    ycol = y_column(fields, y)
    lines, unburnt, left_out = series(rows, x, ycol)
    xq = quantity(x, depth_unit, temp_unit)
    yq = y_quantity(ycol, depth_unit, temp_unit)
    along = x == KINETICS_COLUMN
    ylabel = quantity_label(ycol, yq, rows, along)
    words = list(dict.fromkeys(w for pts in lines.values() for w, _ in pts))
    words += [w for ws in unburnt.values() for w in ws if w not in words]
    numeric = all(number_or_none(w) is not None for w in words)
    place = {w: (xq.value(number_or_none(w)) if numeric else i) for i, w in enumerate(words)}
    fig, ax = plt.subplots(figsize=(7, 4.5), dpi=100)
    for k, (key, points) in enumerate(lines.items()):
        colour = f"C{k % 10}"
        points = sorted(points, key=lambda p: place[p[0]])
        ax.plot([place[w] for w, _ in points], [yq.value(v) for _, v in points], marker="o", color=colour,
                label=key or quantity_label(ycol, Quantity(yq.name), rows, along))
        if unburnt.get(key):
            # "No burn" sits on the bottom edge (axes coordinates): never a depth of 0.
            ax.plot([place[w] for w in unburnt[key]], [0.0] * len(unburnt[key]), ls="none", marker="o",
                    mfc="white", color=colour, clip_on=False, transform=ax.get_xaxis_transform(), zorder=3)
    if any(unburnt.values()):
        ax.plot([], [], ls="none", marker="o", mfc="white", color="grey", label=NO_BURN)
    if stoll:
        if "flux" in x and numeric and xq.unit == "kW/m²":
            ax.plot([q for _, q in STOLL_CHIANTA_1969], [t for t, _ in STOLL_CHIANTA_1969], color="black",
                    ls="--", lw=1, zorder=1, label="Stoll and Chianta 1969, second degree")
            ax.set_xscale("log")
            ax.set_yscale("log")
            plain_log_ticks(ax)
        else:
            print("plot_study: --stoll needs a flux along the axis; not drawn", file=sys.stderr)
    if ycol.startswith("depth_omega_") and "burn" in fields:
        # A depth while the damage still grew is the depth at the run's end, not the burn's: ringed.
        still = [r for r in rows if r["status"] == "0" and r["burn"] == "no verdict" and
                 number_or_none(r.get(ycol, "")) is not None and r[x] in place]
        if still:
            ax.plot([place[r[x]] for r in still], [yq.value(float(r[ycol])) for r in still], ls="none",
                    marker="o", ms=11, mfc="none", mec="black", zorder=4,
                    label="no verdict: still growing at the run's end\n(the depth then; the burn goes deeper)")
    if not numeric:
        ax.set_xticks(range(len(words)), words)
    ax.set_xlabel(wrapped(xq.label, 80))
    ax.set_ylabel(wrapped(ylabel))
    ax.set_title(title, fontsize=10)
    ax.grid(True, which="both" if stoll else "major", alpha=0.3)
    if ax.get_legend_handles_labels()[0]:
        ax.legend(fontsize=8)
    fig.tight_layout()
    return fig, left_out


@dataclass(frozen=True)
class Bases:
    """The criterion depths the study judged its degrees at (m), and the skin they belong to."""

    epidermis_m: float
    dermis_m: float
    skin: str = ""
    material_is_its: bool = True

    @classmethod
    def from_meta(cls, meta: dict) -> Optional["Bases"]:
        """The bases study.json gives (``skin``: name, epidermis_base_m, dermis_base_m), or None."""
        skin = meta.get("skin") or {}
        if skin.get("epidermis_base_m") is None or skin.get("dermis_base_m") is None:
            return None
        return cls(float(skin["epidermis_base_m"]), float(skin["dermis_base_m"]), str(skin.get("name") or ""),
                   meta.get("template") != "datadir")  # a data directory keeps its own material


def bilinear(gx: Any, gy: Any, field: Any, px: Any, py: Any) -> Any:
    """``field`` (rows along ``gy``, columns along ``gx``) at the points (px, py), bilinear between the
    grid's points; NaN where a corner of the points' grid cell is NaN. Points lie within the grid."""
    import numpy as np

    j = np.clip(np.searchsorted(gx, px, side="right") - 1, 0, len(gx) - 2)
    i = np.clip(np.searchsorted(gy, py, side="right") - 1, 0, len(gy) - 2)
    tx = (px - gx[j]) / (gx[j + 1] - gx[j])
    ty = (py - gy[i]) / (gy[i + 1] - gy[i])
    return (1 - ty) * ((1 - tx) * field[i, j] + tx * field[i, j + 1]) \
        + ty * ((1 - tx) * field[i + 1, j] + tx * field[i + 1, j + 1])


def degree_of_depths(depth_053_um: Any, depth_1_um: Any, bases: Bases) -> Any:
    """The burn degree (0 to 3, NaN where a depth is NaN) from the depths Omega = 0.53 and 1 reach (µm;
    0 where they are reached nowhere): third where Omega = 1 reaches the dermis base, second where it
    reaches the epidermis base, first where Omega = 0.53 does."""
    import numpy as np

    epi, dermis = bases.epidermis_m * 1e6, bases.dermis_m * 1e6
    degree = np.where(depth_1_um >= dermis, 3.0,
                      np.where(depth_1_um >= epi, 2.0, np.where(depth_053_um >= epi, 1.0, 0.0)))
    degree[np.isnan(depth_053_um) | np.isnan(depth_1_um)] = np.nan
    return degree


def degree_map(rows: List[Dict[str, str]], x: str, yk: str, title: str, depth_unit: str, temp_unit: str,
               bases: Optional[Bases] = None):
    """The burn-degree map of a two-key study: colour = degree, contours of the depth (or of the threshold
    in a search study).

    Colours and contours come from one field: the depths Omega = 0.53 and 1
    reach, bilinear between the cases on a fine grid; the colour is the
    degree those depths give at ``bases`` (the criterion depths the study
    judged at), so a colour boundary is the contour of its base's depth,
    drawn dashed. Each case is a dot; a case whose degree in the CSV is not
    the one its depths give is named on standard error. Failed cases (and
    cases with no verdict) leave the cells around them uncoloured and hatched.
    """
    import matplotlib.pyplot as plt
    import numpy as np
    from matplotlib.patches import Patch
    from matplotlib.ticker import MaxNLocator

    fields = list(rows[0].keys())
    search = any(f.startswith("threshold_") for f in fields)
    names = kinetics_names(rows)
    if len(names) > 1:
        raise ValueError("the cases were judged under several kinetics (" + ", ".join(names) + "); a map "
                         "shows one: draw a line figure, or a study of one kinetics")
    if not search and bases is None:
        raise ValueError("the study does not give the epidermis and dermis bases its degrees were judged at "
                         "(study.json's skin): run the study tool again to write them")
    xs = sorted({number_or_none(r[x]) for r in rows} - {None})
    ys = sorted({number_or_none(r[yk]) for r in rows} - {None})
    if len(xs) < 2 or len(ys) < 2:
        raise ValueError("a degree map needs two numeric varied columns with two values or more each")
    shape = (len(ys), len(xs))
    level, depth_053, degree = np.full(shape, np.nan), np.full(shape, np.nan), np.full(shape, np.nan)
    failed, unjudged = np.zeros(shape, dtype=bool), np.zeros(shape, dtype=bool)
    zcol = y_column(fields, "threshold" if search else "depth")

    def depth(cell: str) -> float:
        value = 0.0 if cell == NO_BURN else number_or_none(cell)
        return np.nan if value is None else value

    for r in rows:
        i, j = ys.index(float(r[yk])), xs.index(float(r[x]))
        if r["status"] != "0":
            failed[i, j] = True
        elif search:
            z = number_or_none(r.get(zcol, ""))
            level[i, j] = np.nan if z is None else z
        elif r.get("degree", "") == "":
            unjudged[i, j] = True
        else:
            level[i, j], depth_053[i, j] = depth(r.get(zcol, "")), depth(r.get("depth_omega_053_um", ""))
            degree[i, j] = float(r["degree"])
    xq, yq = quantity(x, depth_unit, temp_unit), quantity(yk, depth_unit, temp_unit)
    zq = y_quantity(zcol, depth_unit, temp_unit)
    gx, gy = xq.value(np.array(xs)), yq.value(np.array(ys))
    fx, fy = np.linspace(gx[0], gx[-1], MAP_POINTS), np.linspace(gy[0], gy[-1], MAP_POINTS)
    px, py = np.meshgrid(fx, fy)
    fine_level = bilinear(gx, gy, level, px, py)
    fig, ax = plt.subplots(figsize=(9, 5), dpi=100)
    ax.set_facecolor("white")
    handles = []
    levels: List[float] = []
    if not search:
        cases = degree_of_depths(depth_053, level, bases)
        for i, j in zip(*np.nonzero(np.isfinite(degree) & (cases != degree))):
            print(f"plot_study: the case at {x} = {xs[j]:g}, {yk} = {ys[i]:g} has degree {degree[i, j]:.0f} in "
                  f"the CSV but its depths give {cases[i, j]:.0f}", file=sys.stderr)
        fine_053 = bilinear(gx, gy, depth_053, px, py)
        fine_degree = degree_of_depths(fine_053, fine_level, bases)
        # Filled contours of the depth fields themselves: each degree's edge is the contour of its base.
        epi, dermis = bases.epidermis_m * 1e6, bases.dermis_m * 1e6
        if np.isfinite(fine_degree).any():
            beyond = max(np.nanmax(fine_053), np.nanmax(fine_level), dermis) + 1.0
            ax.contourf(fx, fy, np.where(np.isfinite(fine_degree), 0.0, np.nan), levels=[-1.0, 1.0],
                        colors=DEGREE_COLOURS[:1], zorder=0)
            ax.contourf(fx, fy, fine_053, levels=[epi, beyond], colors=DEGREE_COLOURS[1:2], zorder=0)
            ax.contourf(fx, fy, fine_level, levels=[epi, dermis, beyond], colors=DEGREE_COLOURS[2:], zorder=0)
        present = sorted({int(d) for d in fine_degree[np.isfinite(fine_degree)]})
        handles += [Patch(facecolor=DEGREE_COLOURS[d], edgecolor="grey", label=DEGREES[d]) for d in present]
        top = np.nanmax(fine_level) if np.isfinite(fine_degree).any() else 0.0
        for what, base, burn in (("epidermis base", bases.epidermis_m, "second degree"),
                                 ("dermis base", bases.dermis_m, "third degree")):
            if base * 1e6 <= top:
                z = zq.value(base * 1e6)
                ax.contour(fx, fy, zq.value(fine_level), levels=[z], colors="black", linewidths=1.2,
                           linestyles="--")
                levels.append(z)
                handles.append(plt.Line2D([], [], color="black", lw=1.2, ls="--",
                                          label=f"{z:.4g} {zq.unit}, the {what}:\nedge of the {burn}"))
    for marks, hatch, what in ((failed, "xx", "run failed"), (unjudged, "//", "no verdict (still growing)")):
        for i, j in zip(*np.nonzero(marks)):
            x0, x1 = gx[max(j - 1, 0)], gx[min(j + 1, len(gx) - 1)]
            y0, y1 = gy[max(i - 1, 0)], gy[min(i + 1, len(gy) - 1)]
            ax.add_patch(plt.Rectangle((x0, y0), x1 - x0, y1 - y0, fill=False, hatch=hatch, edgecolor="grey",
                                       lw=0))
        if marks.any():
            handles.append(Patch(fill=False, hatch=hatch, edgecolor="grey", label=what))
    if np.isfinite(fine_level).sum() >= 4:
        values = zq.value(fine_level)
        ticks = [t for t in MaxNLocator(8).tick_values(np.nanmin(values), np.nanmax(values))
                 if np.nanmin(values) < t < np.nanmax(values) and t > 0 and
                 all(abs(t - b) > 0.2 * (np.nanmax(values) - np.nanmin(values)) / 8 for b in levels)]
        if ticks:
            cs = ax.contour(fx, fy, values, levels=ticks, colors="black", linewidths=0.8)
            label_every_contour(ax, cs)
        label = quantity_label(zcol, zq, [dict(r, kinetics="") for r in rows])  # the legend names the kinetics
        handles.append(plt.Line2D([], [], color="black", lw=0.8, label=label))
    cx, cy = np.meshgrid(gx, gy)
    ax.plot(cx.ravel(), cy.ravel(), ls="none", marker="o", ms=2.5, color="black", zorder=4, clip_on=False)
    handles.append(plt.Line2D([], [], ls="none", marker="o", ms=2.5, color="black", label="a case run"))
    ax.set_xlim(gx[0], gx[-1])
    ax.set_ylim(gy[0], gy[-1])
    ax.set_xlabel(wrapped(xq.label, 80))
    ax.set_ylabel(wrapped(yq.label))
    ax.set_title(title, fontsize=10)
    judged = [f"under {kinetics_phrase(names[0])}"] if names else []
    if bases is not None and bases.skin and not search:
        sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "python"))
        from skinburn.skin import criteria_label

        judged.append(criteria_label(bases.skin, bases.material_is_its))
    legend = ax.legend(handles=handles, fontsize=8, loc="upper left", bbox_to_anchor=(1.01, 1.0),
                       title="\n".join(judged) or None, title_fontsize=8)
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
            fig = degree_map(rows, x, others[0], title, args.depth_unit, args.temperature_unit,
                             Bases.from_meta(read_meta(args.csv)))
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
