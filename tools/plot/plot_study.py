#!/usr/bin/python3
"""A figure of a parameter study: burn depth (or Omega, or peak surface
temperature) against one varied value, one line for each value of the
others.

    plot_study.py STUDY.CSV -o figure.png [--x KEY] [--y depth|omega|peak_T]

STUDY.CSV is the table tools/study/study.py writes. --x names the varied
column along the axis (default: the first varied column); the trials are
grouped into lines by the values of the other varied columns.

--y depth (the default) draws the deepest point where Omega = 1, in mm, with
"below" (Omega < 1 at every node) as 0; --y omega draws Omega at the output
node of single-node studies on a log scale; --y peak_T the highest surface
temperature. Trials that failed, and outcomes the quantity cannot show
("above": Omega > 1 at every node, so the burn goes deeper than the model;
"none"), are left out and named on standard error. The path of the figure
is printed.
"""

from __future__ import annotations

import argparse
import csv
import math
import sys
from typing import Dict, List, Optional, Tuple

FIXED = ("trial", "status", "outcome", "peak_T", "peak_node", "error", "dir")
LABELS = {"depth": "burn depth where Omega = 1 (mm)", "omega": "Omega at the output node",
          "peak_T": "peak surface temperature (K)"}


def varied_columns(fields: List[str]) -> List[str]:
    return [f for f in fields if f not in FIXED]


def quantity(row: Dict[str, str], y: str) -> Optional[float]:
    """The value drawn for one trial, or None when it has none."""
    if row["status"] != "0":
        return None
    if y == "peak_T":
        return float(row["peak_T"]) if row["peak_T"] else None
    outcome = row["outcome"]
    if outcome in ("above", "none", ""):
        return None
    if y == "depth":
        return 0.0 if outcome == "below" else max(float(d) for d in outcome.split(";")) * 1000.0
    return None if outcome == "below" or ";" in outcome else float(outcome)


def number_or_none(word: str) -> Optional[float]:
    try:
        value = float(word)
    except ValueError:
        return None
    return value if math.isfinite(value) else None


def series(rows: List[Dict[str, str]], x: str, y: str
           ) -> Tuple[Dict[str, List[Tuple[str, float]]], List[str]]:
    """Lines keyed by the other varied values ("" when x is the only one), each
    a list of (x word, value) in the study's order; and the trials left out."""
    others = [c for c in varied_columns(list(rows[0].keys())) if c != x] if rows else []
    lines: Dict[str, List[Tuple[str, float]]] = {}
    left_out = []
    for row in rows:
        value = quantity(row, y)
        if value is None:
            why = f"status {row['status'] or 'none'}" if row["status"] != "0" else row["outcome"]
            left_out.append(f"trial {row['trial']} ({why})")
            continue
        key = ", ".join(f"{c} = {row[c]}" for c in others if row[c] != "")
        lines.setdefault(key, []).append((row[x], value))
    return lines, left_out


def main(argv: List[str]) -> int:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("csv", help="the study's CSV file")
    p.add_argument("-o", "--output", required=True, help="the PNG file to write")
    p.add_argument("--x", help="the varied column along the axis")
    p.add_argument("--y", choices=sorted(LABELS), default="depth")
    args = p.parse_args(argv)
    try:
        with open(args.csv, newline="") as f:
            rows = list(csv.DictReader(f))
    except OSError as e:
        print(f"plot_study: {e}", file=sys.stderr)
        return 1
    columns = varied_columns(list(rows[0].keys())) if rows else []
    x = args.x or (columns[0] if columns else None)
    if x not in columns:
        print(f"plot_study: no varied column {x!r} in {args.csv} (it has: {', '.join(columns)})",
              file=sys.stderr)
        return 1
    lines, left_out = series(rows, x, args.y)
    for trial in left_out:
        print(f"plot_study: {trial} left out", file=sys.stderr)

    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    words = list(dict.fromkeys(w for points in lines.values() for w, _ in points))
    numeric = all(number_or_none(w) is not None for w in words)
    place = {w: (number_or_none(w) if numeric else i) for i, w in enumerate(words)}
    fig, ax = plt.subplots(figsize=(7, 4.5), dpi=100)
    for key, points in lines.items():
        points = sorted(points, key=lambda p: place[p[0]])
        ax.plot([place[w] for w, _ in points], [v for _, v in points], marker="o", label=key or None)
    if not numeric:
        ax.set_xticks(range(len(words)), words)
    if args.y == "omega":
        ax.set_yscale("log")
    ax.set_xlabel(x)
    ax.set_ylabel(LABELS[args.y])
    ax.set_title(args.csv, fontsize=9)
    ax.grid(True, alpha=0.3)
    if any(lines):
        ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(args.output)
    plt.close(fig)
    print(args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
