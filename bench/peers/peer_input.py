#!/usr/bin/python3
"""The peers' input: every table of a data directory as skinburn lays it.

    peer_input.py SKINBURN DATADIR/ OUT      # runs SKINBURN --check=json DATADIR/
    peer_input.py --json CHECK.json OUT      # from a document made before

The peers never read data files themselves: the program's own input stage
reads them, and its --check=json document gives every table laid on the grid
(blocks[k].laid.values) and every run parameter. This writes them to OUT in
a flat form that a C program reads with fgets and fread:

    skinburn-peer-input 1
    nodes N
    steps S
    deltat <repr>          (every real as Python's repr: it reads back exactly)
    deltax <repr>
    freqfactor <repr>      P = freqfactor * 10^freqexp
    freqexp <int>
    actenergy <repr>
    gasconst <repr>
    data
    then raw little-endian doubles, in this order:
      initial temperature, conductivity, density, heat capacity   N each
      left h, left ambient, right h, right ambient                S + 1 each

Node i is element i - 1 at depth (i - 1) DELTAX; time record r (0 ... S)
is element r, at r DELTAT. The peers handle what the benchmark cases hold:
CONVECTION on both faces with the coefficients from the tables (no jet).
Anything else is refused here, with the reason.
"""
import json
import subprocess
import sys

import numpy as np

MAGIC = "skinburn-peer-input 1"
DEPTH_TABLES = ("initial_temperature", "conductivity", "density", "heat_capacity")
TIME_TABLES = ("left_bc", "left_ambient", "right_bc", "right_ambient")


class Unsupported(Exception):
    pass


def check_document(skinburn, datadir):
    run = subprocess.run([skinburn, "--check=json", datadir], stdin=subprocess.DEVNULL,
                         capture_output=True, check=False)
    if not run.stdout:
        raise Unsupported(f"{skinburn} --check=json {datadir} printed nothing "
                          f"(status {run.returncode}): {run.stderr.decode(errors='replace')}")
    return json.loads(run.stdout)


def tables_of(doc):
    """(scalars, {table: np.array}) of a --check=json document."""
    if not doc.get("would_start"):
        raise Unsupported(f"the run would not start: {doc.get('error')}")
    entries = {e["name"]: e["value"] for e in doc["entries"]}
    if doc.get("jet") is not None:
        raise Unsupported("the left face uses the jet (LEFTIMP.DAT); the peers take h from LEFT_BC only")
    for face in ("LBC", "RBC"):
        if not str(entries[face]).startswith("C"):
            raise Unsupported(f"{face} is {entries[face]!r}; the peers handle CONVECTION faces only")
    grid = doc["grid"]
    nodes, steps = int(grid["nodes"]), int(grid["timesteps"])
    if steps < 1 or nodes < 2:
        raise Unsupported(f"{nodes} nodes and {steps} steps: the peers need at least 2 nodes and 1 step")
    laid = {}
    for block in doc["blocks"]:
        if block.get("laid") is None:
            continue
        # A table laid twice keeps the later values, as in a run.
        laid[block["laid"]["table"]] = block["laid"]
    tables = {}
    for name, count in [(t, nodes) for t in DEPTH_TABLES] + [(t, steps + 1) for t in TIME_TABLES]:
        if name not in laid:
            raise Unsupported(f"no block laid the {name} table")
        values = np.array(laid[name]["values"], dtype="<f8")
        if values.shape != (count,):
            raise Unsupported(f"the {name} table has {values.size} values, not {count}")
        tables[name] = values
    scalars = {
        "nodes": nodes,
        "steps": steps,
        "deltat": float(entries["DELTAT"]),
        "deltax": float(entries["DELTAX"]),
        "freqfactor": float(entries["FREQFACTOR"]),
        "freqexp": int(entries["FREQEXP"]),
        "actenergy": float(entries["ACTENERGY"]),
        "gasconst": float(entries["GASCONST"]),
    }
    return scalars, tables


def write(path, scalars, tables):
    with open(path, "wb") as out:
        lines = [MAGIC] + [f"{key} {scalars[key]!r}" for key in
                           ("nodes", "steps", "deltat", "deltax", "freqfactor", "freqexp", "actenergy", "gasconst")]
        out.write(("\n".join(lines) + "\ndata\n").encode())
        for name in DEPTH_TABLES + TIME_TABLES:
            out.write(tables[name].tobytes())


def read(path):
    """The flat input back: (scalars, {table: np.array}), for the NumPy peer."""
    with open(path, "rb") as f:
        if f.readline().decode().strip() != MAGIC:
            raise ValueError(f"{path}: not a peer input")
        scalars = {}
        while True:
            line = f.readline().decode().strip()
            if line == "data":
                break
            if not line:
                raise ValueError(f"{path}: the header ends without 'data'")
            key, value = line.split(" ", 1)
            scalars[key] = int(value) if key in ("nodes", "steps", "freqexp") else float(value)
        raw = np.frombuffer(f.read(), dtype="<f8")
    n, r = scalars["nodes"], scalars["steps"] + 1
    if raw.size != 4 * n + 4 * r:
        raise ValueError(f"{path}: {raw.size} values, not {4 * n + 4 * r}")
    tables, at = {}, 0
    for name, count in [(t, n) for t in DEPTH_TABLES] + [(t, r) for t in TIME_TABLES]:
        tables[name] = raw[at:at + count]
        at += count
    return scalars, tables


def main(argv):
    if len(argv) == 4 and argv[1] == "--json":
        with open(argv[2], encoding="utf-8") as f:
            doc = json.load(f)
    elif len(argv) == 4:
        doc = check_document(argv[1], argv[2])
    else:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    try:
        scalars, tables = tables_of(doc)
    except Unsupported as why:
        print(f"peer_input.py: {why}", file=sys.stderr)
        return 1
    write(argv[3], scalars, tables)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
