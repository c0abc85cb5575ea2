#!/usr/bin/python3
"""Do skinburn and its two peers compute the same thing?

    compare.py [--skinburn BIN] [--textbook BIN] [--tolerance 1e-9] [--keep] DIR/ [DIR/ ...]

For each data directory (a peer case: bench/peers/make_case.sh), on a fresh
copy of it: runs `skinburn --results PREFIX COPY/ </dev/null`, turns
`skinburn --check=json COPY/` into the peers' flat input, runs the textbook
C peer and the NumPy/SciPy peer with their full temperature history and
per-node Omega, and compares with the program's PREFIX.npy (rows 0 ...
TIMESTEPS) and PREFIX.json nodes.omega_unfloored:

    relative difference = |a - b| / max(|a|, |b|)   (0 where both are 0)

at every node and time record, at every node's Omega, and at the depth of
every crossing of Omega = 1 (the same node pairs must bracket it). Prints
the largest of each and exits 1 when one exceeds the tolerance (default
1e-9). Without --textbook, textbook.c is compiled here with
`cc -std=c99 -O2`; --skinburn defaults to build/release/skinburn.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
import peer_input  # noqa: E402


def relative(a, b):
    a = np.asarray(a, dtype=float)
    b = np.asarray(b, dtype=float)
    scale = np.maximum(np.abs(a), np.abs(b))
    diff = np.abs(a - b)
    return np.where(scale == 0, 0.0, diff / np.where(scale == 0, 1.0, scale))


def worst_by_rows(ours, theirs, rows=1024):
    """(largest relative difference, (row, column) where it is), a block of rows at a time."""
    worst, where = 0.0, (0, 0)
    for start in range(0, ours.shape[0], rows):
        diff = relative(ours[start:start + rows], theirs[start:start + rows])
        at = np.unravel_index(np.argmax(diff), diff.shape)
        if diff[at] > worst:
            worst, where = float(diff[at]), (start + int(at[0]), int(at[1]))
    return worst, where


def crossings(omega, dx):
    """[(i, depth_m)] of every node pair i, i+1 (1-based) whose Omega brackets 1 strictly."""
    found = []
    for i in range(len(omega) - 1):
        a, b = omega[i], omega[i + 1]
        if (a > 1 and b < 1) or (a < 1 and b > 1):
            found.append((i + 1, (i + (1 - a) / (b - a)) * dx))
    return found


def build_textbook(where):
    binary = os.path.join(where, "textbook")
    subprocess.run(["cc", "-std=c99", "-O2", "-o", binary, os.path.join(HERE, "textbook.c"), "-lm"], check=True)
    return binary


def compare_case(case, skinburn, textbook, work, tolerance):
    name = os.path.basename(os.path.normpath(case))
    data = os.path.join(work, name) + "/"
    shutil.rmtree(data, ignore_errors=True)
    shutil.copytree(case, data)
    for stale in ("OUTPUT.TXT",):
        if os.path.exists(os.path.join(data, stale)):
            os.remove(os.path.join(data, stale))
    prefix = os.path.join(work, name + ".results")
    run = subprocess.run([skinburn, "--results", prefix, data], stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=False)
    with open(prefix + ".json", encoding="utf-8") as f:
        results = json.load(f)
    if run.returncode != 0 or results["outcome"] != "burn-depth":
        print(f"{name}: skinburn ended with status {run.returncode}, outcome {results['outcome']}: "
              f"{results.get('error')}")
        return False
    history = np.load(prefix + ".npy", mmap_mode="r")
    omega = np.array(results["nodes"]["omega_unfloored"], dtype=float)
    doc = results["inputs"]
    scalars, tables = peer_input.tables_of(doc)
    steps, nodes, dx = scalars["steps"], scalars["nodes"], scalars["deltax"]
    if history.shape != (steps + 1, nodes):
        print(f"{name}: PREFIX.npy has shape {history.shape}, not {(steps + 1, nodes)}")
        return False
    flat = os.path.join(work, name + ".in")
    peer_input.write(flat, scalars, tables)

    peers = {}
    tb = os.path.join(work, name + ".textbook")
    subprocess.run([textbook, flat, "--history", tb + ".history", "--omega", tb + ".omega"],
                   stdout=subprocess.DEVNULL, check=True)
    peers["textbook C"] = (np.memmap(tb + ".history", dtype="<f8", mode="r", shape=(steps + 1, nodes)),
                           np.fromfile(tb + ".omega", dtype="<f8"))
    npp = os.path.join(work, name + ".numpy")
    subprocess.run([sys.executable, os.path.join(HERE, "peer_numpy.py"), flat,
                    "--history", npp + ".history.npy", "--omega", npp + ".omega.npy"],
                   stdout=subprocess.DEVNULL, check=True)
    peers["NumPy/SciPy"] = (np.load(npp + ".history.npy", mmap_mode="r"), np.load(npp + ".omega.npy"))

    program_crossings = [(c["nodes"][0], c["depth_m"]) for c in results["crossings"]]
    ok = True
    print(f"{name}: {nodes} nodes x {steps} steps, Omega from {omega.max():.3g} to {omega.min():.3g}, "
          f"crossings at {[round(d * 1e3, 4) for _, d in program_crossings]} mm")
    for peer, (their_history, their_omega) in peers.items():
        if their_history.shape != history.shape or their_omega.shape != omega.shape:
            print(f"  {peer:12s} shapes differ: {their_history.shape} {their_omega.shape}")
            ok = False
            continue
        worst_t, at_t = worst_by_rows(history, their_history)
        worst_o = relative(omega, their_omega)
        theirs = crossings(their_omega, dx)
        same_pairs = [i for i, _ in theirs] == [i for i, _ in program_crossings]
        worst_d = max((relative(a, b).item() for (_, a), (_, b) in zip(program_crossings, theirs)), default=0.0)
        good = worst_t <= tolerance and worst_o.max() <= tolerance and same_pairs and worst_d <= tolerance
        ok = ok and good
        where_t = f" (record {at_t[0]}, node {at_t[1] + 1})" if worst_t > 0 else " (identical)"
        where_o = f" (node {np.argmax(worst_o) + 1})" if worst_o.max() > 0 else " (identical)"
        print(f"  {peer:12s} temperature {worst_t:.2e}{where_t}"
              f"  Omega {worst_o.max():.2e}{where_o}"
              f"  crossing depth {worst_d:.2e}{'' if same_pairs else ' (OTHER NODE PAIRS)'}"
              f"  {'ok' if good else 'ABOVE ' + format(tolerance, 'g')}")
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("cases", nargs="+", metavar="DIR/")
    parser.add_argument("--skinburn", default=os.path.join(ROOT, "build/release/skinburn"))
    parser.add_argument("--textbook")
    parser.add_argument("--tolerance", type=float, default=1e-9)
    parser.add_argument("--keep", action="store_true", help="keep the working folder (its path is printed)")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="skinburn-peers.")
    try:
        textbook = args.textbook or build_textbook(work)
        ok = all([compare_case(case, os.path.abspath(args.skinburn), textbook, work, args.tolerance)
                  for case in args.cases])
    finally:
        if args.keep:
            print(f"kept: {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)
    print("agree" if ok else "DISAGREE")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
