#!/usr/bin/python3
"""What the package's automatic answers cost against one run of the trial they settle on.

    /usr/bin/python3 bench/python/bench_cost.py [--skinburn PATH] [--package DIR] [--repeat N] [--repeat-fast M]

Every figure is CPU time (user + system, s) of the whole process tree: this
Python process and every program it ran (resource.getrusage of RUSAGE_SELF
and RUSAGE_CHILDREN, the difference across the measurement), the fastest
of N repetitions (``--repeat``, default 1, for the costly cases; the single
runs that serve as denominators take the fastest of ``--repeat-fast``,
default 5). Side by side, in one invocation:

1. searches for the exposure time to a second-degree burn at 84 kW/m2
   (``flash_fire(84e3, 2.0)``), over 0.05-4 s, 0.05-40 s and 0.05-400 s,
   and in water at 70 C (``hot_liquid``) over 0.5-600 s, each against one
   run and assessment of the explicit trial at the root (the grid and
   cooling time the search settled there);
2. run + assessment with the automatic grid and cooling time of the flash
   fire, the hot-liquid contact (95 C for 30 s) and the airbag jet at
   900 K / 100 m/s, against one run and assessment of the explicit trial
   each settled on (``results.settlement``);
3. ``python3 -m skinburn assess --trial <airbag-jet template> --spread
   --all-skins`` as a command (a fresh interpreter, import included);
4. the gas-temperature x stand-off study of tools/study
   (gas-standoff.json on the package's airbag-jet template, GNU parallel,
   one job per core; without the figure), with its wall time.

``--package DIR`` imports skinburn from DIR (a python/ directory; default:
this checkout's), and takes the study tool and its description from the
checkout DIR belongs to, so that the same script measures an older
checkout beside this one. The machine may be shared: ``uptime`` is
printed before and after.
"""
from __future__ import annotations

import argparse
import gc
import importlib
import json
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path
from types import ModuleType
from typing import Any, Callable, Optional

REPO = Path(__file__).resolve().parents[2]


@dataclass
class Measured:
    """One measurement: CPU (s, user + system of the process tree), wall time (s) and what it gave."""

    cpu_s: float
    wall_s: float
    out: Any = None


@dataclass
class Row:
    """A line of the table: the case, its cost, its runs of the program and the cost it is set against."""

    case: str
    cost: Measured
    runs: Optional[int] = None
    denominator: Optional[Measured] = None
    result: str = ""
    notes: list[str] = field(default_factory=list)

    @property
    def ratio(self) -> Optional[float]:
        """Cost over denominator (CPU), or None without one."""
        if self.denominator is None or self.denominator.cpu_s <= 0:
            return None
        return self.cost.cpu_s / self.denominator.cpu_s


def tree_cpu_s() -> float:
    """User + system CPU (s) of this process and of every child it has waited for so far."""
    own = resource.getrusage(resource.RUSAGE_SELF)
    kids = resource.getrusage(resource.RUSAGE_CHILDREN)
    return own.ru_utime + own.ru_stime + kids.ru_utime + kids.ru_stime


def measure(fn: Callable[[], Any], repeat: int) -> Measured:
    """The fastest (by CPU) of ``repeat`` calls of ``fn``; garbage (the runs' temporary
    directories) is collected inside the measurement, less what a collection with nothing to
    free costs right after it. What was alive before is frozen out of the collector's sight
    first (``gc.freeze``): its traversal cost 7-17 ms a collection on this machine, varying
    from one to the next by more than a single run costs, the same for a search and a single run;
    subtracted, its noise alone decided the fastest of the repeats and moved every ratio by up
    to a third. Frozen, a collection with nothing to free costs microseconds."""
    gc.collect()
    gc.freeze()
    best: Optional[Measured] = None
    for _ in range(max(1, repeat)):
        gc.collect()
        c0, t0 = tree_cpu_s(), time.perf_counter()
        out = fn()
        gc.collect()
        c1, t1 = tree_cpu_s(), time.perf_counter()
        gc.collect()
        idle_cpu, idle_wall = tree_cpu_s() - c1, time.perf_counter() - t1
        got = Measured(c1 - c0 - idle_cpu, t1 - t0 - idle_wall, out)
        if best is None or got.cpu_s < best.cpu_s:
            best = got
    assert best is not None
    return best


def load_package(package: Path) -> ModuleType:
    """skinburn imported from ``package`` (a python/ directory), checked to be that one."""
    sys.path.insert(0, str(package))
    sb = importlib.import_module("skinburn")
    where = Path(sb.__file__).resolve()
    if package.resolve() not in where.parents:
        raise SystemExit(f"skinburn was imported from {where}, not from {package}")
    return sb


def uptime() -> str:
    """The machine's load, as uptime prints it."""
    return subprocess.run(["uptime"], capture_output=True, text=True).stdout.strip()


# --- 1, 2: searches and automatic grids, in this process ------------------------------

def explicit_at_root(sb: ModuleType, base: Any, vary: str, found: Any) -> Any:
    """The trial at a search's root on the grid and cooling time the search settled there."""
    grid = getattr(found, "grid", None)
    if not isinstance(grid, sb.Grid):
        grid = sb.Grid(found.deltax_m, found.deltat_s, time_scheme=base.grid.time_scheme)
    return base.replace(vary, found.value).replace("grid", grid).replace("after_exposure_s",
                                                                         float(found.after_exposure_s))


def one_run(sb: ModuleType, trial: Any, program: Any) -> str:
    """Run an explicit trial and assess it; its verdict's name."""
    return sb.assess(sb.run(trial, program)).name


def search_rows(sb: ModuleType, program: Any, repeat: int, repeat_fast: int) -> list[Row]:
    """Case 1: searches for an exposure time against one run of their settled trial at the root: the
    flash fire over three ranges, and the hot-water contact (70 C) over its longest."""
    from skinburn.scenarios import flash_fire, hot_liquid

    rows = []
    vary = "exposure.duration_s"
    fire, water = flash_fire(84e3, 2.0), hot_liquid(sb.celsius(70), 5.0)
    for label, base, lo, hi in (("84 kW/m2", fire, 0.05, 4.0), ("84 kW/m2", fire, 0.05, 40.0),
                                ("84 kW/m2", fire, 0.05, 400.0), ("water 70 C", water, 0.5, 600.0)):
        cost = measure(lambda: sb.search(base, vary, lo, hi, degree=2, program=program), repeat)
        found = cost.out
        trial = explicit_at_root(sb, base, vary, found)
        denom = measure(lambda: one_run(sb, trial, program), repeat_fast)
        rows.append(Row(f"search {label}, 2nd degree, {lo:g}-{hi:g} s", cost, found.runs, denom,
                        f"{found.value:.5f} s; dx {found.deltax_m * 1e6:.3g} um, dt {found.deltat_s * 1e3:.3g} ms, "
                        f"cooling {found.after_exposure_s:g} s"))
    return rows


def auto_rows(sb: ModuleType, program: Any, repeat: int, repeat_fast: int) -> list[Row]:
    """Case 2: run + assess with the automatic grid and cooling against the explicit trial settled on."""
    from skinburn.scenarios import airbag_jet, flash_fire, hot_liquid

    trials = [("flash fire 84 kW/m2, 2 s", flash_fire(84e3, 2.0)),
              ("hot liquid 95 C, 30 s", hot_liquid(sb.celsius(95.0), 30.0)),
              ("airbag jet 900 K, 100 m/s", airbag_jet(gas_temperature=sb.kelvin(900.0), gas_velocity_m_s=100.0))]
    rows = []
    for name, trial in trials:
        def automatic() -> tuple[Any, str]:
            res = sb.run(trial, program)
            return res.settlement, sb.assess(res).name
        cost = measure(automatic, repeat)
        settlement, verdict = cost.out
        explicit = trial.replace("grid", settlement.grid).replace("after_exposure_s", settlement.after_exposure_s)
        denom = measure(lambda: one_run(sb, explicit, program), repeat_fast)
        g = settlement.grid
        rows.append(Row(f"assess, automatic grid: {name}", cost, settlement.runs, denom,
                        f"{verdict}; dx {g.deltax_m * 1e6:.3g} um, dt {g.deltat_s * 1e3:.3g} ms, "
                        f"cooling {settlement.after_exposure_s:g} s"))
    return rows


# --- 3, 4: commands, each a process tree of its own ---------------------------------------

def command(argv: list[str], env: dict[str, str], cwd: Path) -> str:
    """Run a command to its end (its output captured); its standard output. A failure stops the benchmark."""
    done = subprocess.run(argv, env=env, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit(f"{' '.join(argv)} ended with status {done.returncode}:\n{done.stdout}\n{done.stderr}")
    return done.stdout


def spread_row(package: Path, binary: Path, work: Path, repeat: int) -> Row:
    """Case 3: the command line's spread over every kinetics and skin preset on the airbag-jet template."""
    env = {**os.environ, "PYTHONPATH": str(package)}
    template = work / "airbag-jet.json"
    template.write_text(command([sys.executable, "-m", "skinburn", "template", "airbag-jet"], env, work))
    argv = [sys.executable, "-m", "skinburn", "assess", "--trial", str(template), "--spread", "--all-skins",
            "--skinburn", str(binary)]
    cost = measure(lambda: command(argv, env, work), repeat)
    lines = [line for line in cost.out.splitlines() if line.strip()]
    return Row("CLI assess --trial airbag-jet --spread --all-skins", cost, None, None,
               f"{len(lines) - 1} rows")


def description_in_order(desc: dict) -> dict:
    """The study description with its ``set`` keys in an order the trial takes them one by one.

    The package checks a trial as each key is set, and an exposure's
    ``after_h_W_m2K`` above 0 needs its ``after_gas`` already there: so
    ``exposure.after_gas`` goes first. The values, and so the cases, are
    the description's.
    """
    fixed = desc.get("set")
    if not isinstance(fixed, dict):
        return desc
    first = [k for k in fixed if k.endswith("after_gas")]
    return {**desc, "set": {**{k: fixed[k] for k in first}, **{k: v for k, v in fixed.items() if k not in first}}}


def study_row(package: Path, binary: Path, work: Path, repeat: int) -> Row:
    """Case 4: the gas-temperature x stand-off study of tools/study, in a fresh study directory each time."""
    checkout = package.resolve().parent
    tool = checkout / "tools" / "study" / "study.py"
    description = checkout / "tools" / "study" / "gas-standoff.json"
    if not tool.exists():
        tool, description = REPO / "tools" / "study" / "study.py", REPO / "tools" / "study" / "gas-standoff.json"
    env = {**os.environ, "PYTHONPATH": str(package)}
    study = work / "gas-standoff.json"
    study.write_text(json.dumps(description_in_order(json.loads(description.read_text()))))
    template = work / "study-airbag-jet.json"
    template.write_text(command([sys.executable, "-m", "skinburn", "template", "airbag-jet"], env, work))
    count = [0]

    def once() -> Path:
        count[0] += 1
        where = work / f"st{count[0]}"
        command([sys.executable, str(tool), "--quiet", "--skinburn", str(binary), str(template), str(study),
                 str(where)], env, work)
        return where

    cost = measure(once, repeat)
    where: Path = cost.out
    cases = sorted(where.glob("t[0-9]*/status"))
    runs = 0
    for s in where.glob("t[0-9]*/settlement.json"):
        runs += int(json.loads(s.read_text()).get("runs", 0))
    failed = sum(1 for s in cases if s.read_text().strip() != "0")
    return Row(f"study gas-standoff ({len(cases)} cases, {os.cpu_count()} jobs)", cost, runs or None, None,
               f"{failed} failed",
               [f"the study tool {tool}; runs: the settling runs its settlement.json files count"])


# --- The table -------------------------------------------------------------------------

def table(rows: list[Row]) -> str:
    """The rows as a markdown table."""
    out = ["| case | CPU s | wall s | runs | denominator CPU s | ratio | result |",
           "|---|---:|---:|---:|---:|---:|---|"]
    for r in rows:
        denom = f"{r.denominator.cpu_s:.3f}" if r.denominator is not None else "–"
        ratio = f"{r.ratio:.1f}" if r.ratio is not None else "–"
        runs = str(r.runs) if r.runs is not None else "–"
        out.append(f"| {r.case} | {r.cost.cpu_s:.3f} | {r.cost.wall_s:.3f} | {runs} | {denom} | {ratio} | "
                   f"{r.result} |")
    return "\n".join(out)


def main(argv: Optional[list[str]] = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--skinburn", help="the skinburn binary (default: $SKINBURN, then the package's own search)")
    ap.add_argument("--package", type=Path, default=REPO / "python",
                    help="the python/ directory to import skinburn from (default: this checkout's)")
    ap.add_argument("--repeat", type=int, default=1, help="repetitions of the costly cases (fastest kept)")
    ap.add_argument("--repeat-fast", type=int, default=5, help="repetitions of the single runs (fastest kept)")
    ap.add_argument("--only", default="1234", help="the cases to measure, by number (default 1234)")
    args = ap.parse_args(argv)

    package = args.package.resolve()
    sb = load_package(package)
    program = sb.Program.find(args.skinburn or os.environ.get("SKINBURN") or None)
    binary = Path(program.path).resolve()
    import scipy.optimize  # noqa: F401  (loaded by the first search; not that search's cost)

    print(f"package: {package}")
    print(f"binary: {binary} ({program.version()}), cpus: {os.cpu_count()}")
    print(f"load before: {uptime()}")
    rows: list[Row] = []
    failed: list[str] = []
    t0 = time.perf_counter()
    work = Path(tempfile.mkdtemp(prefix="sb-cost-"))
    try:
        cases: list[tuple[str, str, Callable[[], list[Row]]]] = [
            ("1", "searches", lambda: search_rows(sb, program, args.repeat, args.repeat_fast)),
            ("2", "automatic grids", lambda: auto_rows(sb, program, args.repeat, args.repeat_fast)),
            ("3", "spread --all-skins", lambda: [spread_row(package, binary, work, args.repeat)]),
            ("4", "study", lambda: [study_row(package, binary, work, args.repeat)])]
        for number, name, rows_of in cases:
            if number not in args.only:
                continue
            try:
                rows += rows_of()
            except (Exception, SystemExit) as exc:  # one failed case must not lose the others' figures
                failed.append(f"case {number} ({name}) failed: {type(exc).__name__}: {exc}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"load after: {uptime()}  ({time.perf_counter() - t0:.0f} s in all)")
    print()
    print(table(rows))
    for r in rows:
        for note in r.notes:
            print(f"  {r.case}: {note}")
    for line in failed:
        print(line, file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
