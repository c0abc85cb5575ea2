#!/usr/bin/python3
"""Speed of the Python package around the program (the figures of docs/python.md).

    SKINBURN=build/release/skinburn /usr/bin/python3 bench/python/bench_package.py [--repeat N]

Measures, keeping the fastest of N repetitions:

1. the typical airbag run (examples/airbag-jet, 41 nodes x 1000 steps): the
   program alone with --results, then the package's run + assessment; the
   difference is what the package adds;
2. searches for the exposure time to a second-degree burn on the typical
   flash-fire trial (Torvi-Dale skin, Weaver-Stoll kinetics): on a fixed
   10 um / 10 ms grid, and with the automatic grid and cooling time;
3. three such searches side by side (a process pool).
"""
from __future__ import annotations

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "python"))

import skinburn as sb  # noqa: E402
from skinburn.scenarios import flash_fire  # noqa: E402


def best(fn, repeat: int) -> tuple[float, object]:
    times, out = [], None
    for _ in range(repeat):
        t0 = time.perf_counter()
        out = fn()
        times.append(time.perf_counter() - t0)
    return min(times), out


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--repeat", type=int, default=5)
    args = ap.parse_args()
    program = sb.Program.find()
    print(f"binary: {program.path}  ({program.version()})  cpus: {os.cpu_count()}")
    rows = []

    t0 = time.perf_counter()
    subprocess.run([sys.executable, "-c", "import sys; sys.path.insert(0, %r); import skinburn" % str(REPO / "python")],
                   check=True)
    rows.append(("import skinburn (a fresh interpreter, numpy included)", time.perf_counter() - t0, ""))

    work = Path(tempfile.mkdtemp(prefix="sb-bench-"))
    try:
        shutil.copytree(REPO / "examples" / "airbag-jet", work / "a", ignore=shutil.ignore_patterns("expected"))

        def bare() -> None:
            (work / "a" / "OUTPUT.TXT").unlink(missing_ok=True)
            subprocess.run([str(program.path), "--results", "r", "a/"], cwd=work, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, check=True)

        def package() -> sb.Assessment:
            res = sb.run(work / "a", program)
            return sb.assess(res, sb.UNIFORM_DERMIS, sb.WEAVER_STOLL_1969)

        t_bare, _ = best(bare, args.repeat)
        t_pkg, a = best(package, args.repeat)
        rows.append(("airbag run, program alone (--results)", t_bare, ""))
        rows.append(("airbag run + assessment through the package", t_pkg, a.name))
        rows.append(("  of which the package", t_pkg - t_bare, ""))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    fixed = flash_fire(84e3, 2.0).replace("grid", sb.Grid(10e-6, 0.01)).replace("after_exposure_s", 30.0)
    t, r = best(lambda: sb.search(fixed, "exposure.duration_s", 0.05, 4.0, degree=2, program=program), 1)
    rows.append(("flash-fire search, 10 um / 10 ms grid, 30 s cooling", t, f"{r.value:.4f} s, {r.runs} runs"))
    t, r = best(lambda: sb.search(flash_fire(84e3, 2.0), "exposure.duration_s", 0.05, 4.0, degree=2,
                                  program=program), 1)
    rows.append(("flash-fire search, automatic grid and cooling", t, f"{r.value:.4f} s, {r.runs} runs, "
                 f"dx {r.deltax_m * 1e6:.2f} um, dt {r.deltat_s * 1e3:.2f} ms"))
    searches = [sb.SearchJob(flash_fire(q, 2.0), "exposure.duration_s", 0.05, 30.0, labels={"q": q})
             for q in (10e3, 20e3, 40e3)]
    t, out = best(lambda: sb.search_many(searches, program=program), 1)
    runs = sum(getattr(o, "runs", 0) for o in out)
    rows.append(("three automatic searches side by side (10, 20, 40 kW/m2)", t, f"{runs} runs in all"))

    print()
    print("| What | Time (s) | Result |")
    print("|---|---|---|")
    for what, secs, note in rows:
        print(f"| {what} | {secs:.3f} | {note} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
