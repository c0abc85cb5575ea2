"""Command line: ``python3 -m skinburn assess|search|template|presets ...``.

    python3 -m skinburn assess DATADIR --skin torvi-dale --kinetics weaver-stoll
    python3 -m skinburn assess --trial fire.json --kinetics 2=weaver-stoll,3=henriques
    python3 -m skinburn template flash-fire > fire.json
    python3 -m skinburn search --trial fire.json --vary exposure.duration_s --range 0.5 20 \\
        --degree 2 --for exposure.flux_W_m2=10e3,20e3,40e3 --csv times.csv

Exit status: 0 done; 1 the program refused the trial or failed, a run's
temperatures were not finite, or the data directory changed while it was
used; 2 a wrong command line; 3 a search whose range does not bracket the
threshold.

Uses the package's public modules; nothing imports this one.
"""
from __future__ import annotations

import argparse
import json
import os
import sys
import tempfile
from pathlib import Path
from typing import Any, Optional, Sequence, Union

from .assessment import CRITERIA, assess, program_depth_line
from .datadir import DataDirectory, DirectoryChanged
from .criteria import KineticsLike, kinetics_choice, resolved
from .kinetics import KINETICS
from .program import Program, ProgramError
from .results import NonFiniteHistory, write_csv
from .runs import run, run_on
from .scenarios import SCENARIOS
from .searches import BracketError, SearchFailure, SearchResult, SearchJob, search_many
from .skin import SKINS, Skin, skin_preset
from .spreads import search_spread, spread, spread_table
from .tables import RunOn
from .trial import Trial, trial_from_dict
from .units import SkinburnError, temperature_word


class UsageError(SkinburnError):
    """A wrong command line (exit status 2)."""


def _value(text: str) -> Any:
    """A command-line value: a number, a temperature with its unit (60C, 333.15K) or a word."""
    t = text.strip()
    if t[-1:] in ("C", "K"):
        try:
            return temperature_word(t)
        except ValueError:
            pass
    try:
        return float(t)
    except ValueError:
        return t


def _assignments(items: Sequence[str]) -> dict[str, Any]:
    out = {}
    for item in items:
        name, sep, value = item.partition("=")
        if not sep or not name:
            raise UsageError(f"--set takes NAME=VALUE, not {item!r}")
        out[name.strip()] = _value(value)
    return out


def _subject(args: argparse.Namespace, program: Program, scratch: Path) -> tuple[Any, Optional[Skin]]:
    """The trial (from --trial) or data directory, with its --set values applied (edited copies in ``scratch``)."""
    sets = _assignments(args.set or [])
    if args.trial:
        trial = trial_from_dict(json.loads(Path(args.trial).read_text()))
        # The whole skin and kinetics first, then the values --set changes in them: a --set of a
        # layer's value refines the --skin chosen, and is never replaced by it.
        if args.kinetics:  # a model per degree keeps the trial's for the degrees it leaves open
            trial = trial.replace("kinetics", resolved(kinetics_choice(args.kinetics), trial.kinetics))
        if args.skin:
            trial = trial.replace("skin", skin_preset(args.skin))
        for name, value in sets.items():
            trial = trial.replace(name, value)
        return trial, trial.skin
    if not args.datadir:
        raise UsageError("give a data directory or --trial FILE")
    d = DataDirectory(args.datadir, program)
    if sets:
        d = d.edited({k: (v.K if hasattr(v, "K") else v) for k, v in sets.items()}, scratch / "set")
    return d, skin_preset(args.skin) if args.skin else None


def _after(text: Optional[str]) -> Optional[RunOn]:
    """``--after``: insulated, continued, none, air:H:AMBIENT (W/(m^2 K), a temperature with its unit)
    or held:TEMPERATURE."""
    kind, _, rest = (text or "insulated").partition(":")
    values = rest.split(":") if rest else []

    def temperature(word: str) -> Any:
        t = _value(word)
        if not hasattr(t, "K"):
            raise UsageError(f"--after: a temperature is given with its unit (20C, 293.15K), not {word!r}")
        return t
    if kind == "none" and not values:
        return None
    if kind in ("insulated", "continued") and not values:
        return RunOn(kind)
    if kind == "air" and len(values) == 2:
        try:
            h = float(values[0])
        except ValueError:
            raise UsageError(f"--after air:H:AMBIENT: H is a number in W/(m^2 K), not {values[0]!r}") from None
        return RunOn.air(h, temperature(values[1]))
    if kind == "held" and len(values) == 1:
        return RunOn.held(temperature(values[0]))
    raise UsageError(f"--after takes insulated, air:H:AMBIENT, held:TEMPERATURE, continued or none, not {text!r}")


def _common(p: argparse.ArgumentParser) -> None:
    p.add_argument("datadir", nargs="?", help="a data directory (its input files are copied; it is not changed)")
    p.add_argument("--trial", help="a trial description in JSON (see the template command)")
    p.add_argument("--skin", choices=sorted(SKINS), help="the skin whose epidermis and dermis bases the criteria use")
    p.add_argument("--kinetics", metavar="PRESET|DEGREE=PRESET,...",
                   help=f"damage model: {', '.join(KINETICS)} (default: the trial's, or the constants the program "
                        "read); or one per degree, e.g. 2=weaver-stoll,3=henriques (degrees not named keep the "
                        "default)")
    p.add_argument("--set", action="append", metavar="NAME=VALUE",
                   help="change a value first: a DATA.DAT entry, jet.* or a block of a data directory; a dotted "
                        "field of a trial (temperatures with their unit: 60C, 333.15K)")
    p.add_argument("--skinburn", help="the skinburn binary (default: $SKINBURN, then build/default/skinburn)")
    p.add_argument("--spread", action="store_true",
                   help="one table over every kinetics preset (and, with --all-skins, every skin preset; with "
                        "--absorptivity, each absorptivity): how much the answer rests on the model")
    p.add_argument("--all-skins", action="store_true", help="with --spread: every skin preset")
    p.add_argument("--absorptivity", metavar="A1,A2,...",
                   help="with --spread: scale a trial's absorbed flux (HeatFlux) by each of these")


def cmd_assess(args: argparse.Namespace, scratch: Path) -> int:
    program = Program.find(args.skinburn)
    subject, skin = _subject(args, program, scratch)
    if skin is None:
        print("skinburn: give --skin for a data directory (the criteria need the epidermis and dermis bases)",
              file=sys.stderr)
        return 2
    kin: Optional[KineticsLike] = kinetics_choice(args.kinetics) if args.kinetics else None
    after = _after(args.after)
    if args.spread:
        rows = spread(subject, skin, skins=_skins(args), absorptivities=_absorptivities(args.absorptivity),
                      after=after, program=program)
        print(spread_table(rows))
        if args.csv:
            _write_rows(args.csv, [r.row() for r in rows])
            print(f"  csv: {args.csv}")
        return 0
    if isinstance(subject, Trial) or after is None:
        res = run(subject, program)
    else:
        res = run_on(subject, skin, kin, after, program=program)
    a = assess(res, skin, kin)
    print(a.verdict())
    print("  " + program_depth_line(res, a))
    if args.csv:
        res.write_summary_csv(args.csv, a.row())
        print(f"  summary: {args.csv}")
    if args.nodes_csv:
        res.write_nodes_csv(args.nodes_csv, a.kinetics)
        print(f"  per node: {args.nodes_csv}")
    return 0


def _skins(args: argparse.Namespace) -> Optional[list[Skin]]:
    """Every skin preset with ``--all-skins``, else None (the trial's, or ``--skin``)."""
    return list(SKINS.values()) if args.all_skins else None


def _absorptivities(text: Optional[str]) -> Optional[list[float]]:
    """``--absorptivity A1,A2,...``: absorptivities (no unit), or None."""
    if not text:
        return None
    try:
        return [float(v) for v in text.split(",") if v.strip()]
    except ValueError:
        raise UsageError(f"--absorptivity takes numbers separated by commas, not {text!r}") from None


def _write_rows(path: str, rows: list[dict]) -> None:
    header: list[str] = []
    for row in rows:
        header += [k for k in row if k not in header]
    write_csv(path, header, [[row.get(k) for k in header] for row in rows])


def cmd_search(args: argparse.Namespace, scratch: Path) -> int:
    program = Program.find(args.skinburn)
    subject, skin = _subject(args, program, scratch)
    kin = kinetics_choice(args.kinetics) if args.kinetics else None
    lo, hi = args.range
    if args.spread:
        if args.for_:
            raise UsageError("--spread runs one search per model; give no --for with it")
        spread_base: Union[Trial, str] = subject if isinstance(subject, Trial) else str(subject.path)
        found = search_spread(spread_base, args.vary, lo, hi, args.degree, skin, skins=_skins(args),
                              absorptivities=_absorptivities(args.absorptivity), unit=args.unit, rtol=args.rtol,
                              after=_after(args.after), processes=args.jobs, program=program)
        print(spread_table(found))
        if args.csv:
            _write_rows(args.csv, [r.row() for r in found])
            print(f"csv: {args.csv}")
        return max([0] + [_failure_status(r) for r in found if not isinstance(r, SearchResult)])
    cases: list[dict[str, Any]] = [{}]
    if args.for_:
        name, _, values = args.for_.partition("=")
        cases = [{name: _value(v)} for v in values.split(",") if v.strip()]
    searches = []
    for k, case in enumerate(cases):
        base: Any = subject
        if case and isinstance(subject, Trial):
            for name, value in case.items():
                base = base.replace(name, value)
        elif case:
            base = subject.edited({n: (v.K if hasattr(v, "K") else v) for n, v in case.items()},
                                  scratch / f"case{k}")
        if not isinstance(base, Trial):
            base = str(base.path)
        labels = {k: (v.K if hasattr(v, "K") else v) for k, v in case.items()}
        searches.append(SearchJob(base, args.vary, lo, hi, degree=args.degree, kinetics=kin, skin=skin,
                                  unit=args.unit, rtol=args.rtol, labels=labels, after=_after(args.after)))
    parallel = None
    if args.parallel is not None:
        parallel = list(args.parallel) + (["-j", str(args.jobs)] if args.jobs else [])
    results = search_many(searches, args.jobs, program, parallel)
    status = 0
    rows = []
    for r in results:
        label = " ".join(f"{k}={v:g}" if isinstance(v, float) else f"{k}={v}" for k, v in r.labels.items())
        if isinstance(r, SearchResult):
            crit = [c for c in CRITERIA if c.degree == r.degree][0]
            print(f"{label + ': ' if label else ''}burn degree {r.degree} (Omega {crit.threshold:g} at "
                  f"{r.depth_m * 1e6:.0f} um, {r.kinetics}): {r.vary} = {r.value:.6g}"
                  + (f" ± {r.uncertainty:.2g} (the grid's numerical error)" if r.uncertainty is not None else "")
                  + ", not reached at "
                  f"{r.unburnt_value:.6g}, reached at {r.burnt_value:.6g} ({r.runs} runs)")
        else:
            print(f"{label + ': ' if label else ''}{r.kind}: {r.error}", file=sys.stderr)
            status = max(status, _failure_status(r))
        rows.append(r.row())
    if args.csv:
        _write_rows(args.csv, rows)
        print(f"csv: {args.csv}")
    return status


def _failure_status(failure: SearchFailure) -> int:
    """The exit status a failed search gives: 2 for arguments refused before any run (as every other
    usage error), 3 for a range that does not bracket the threshold, else 1."""
    return 2 if failure.refused else 3 if failure.kind == "BracketError" else 1


def cmd_search_job(args: argparse.Namespace, scratch: Path) -> int:
    from .searches import run_job_file

    run_job_file(args.job, args.out, str(Program.find(args.skinburn).path))
    return 0


def cmd_template(args: argparse.Namespace, scratch: Path) -> int:
    print(json.dumps(SCENARIOS[args.name]().to_dict(), indent=2))
    return 0


def cmd_presets(args: argparse.Namespace, scratch: Path) -> int:
    print("Kinetics:")
    for key, k in KINETICS.items():
        regimes = "; ".join(f"from {r.from_K:g} K: P {r.frequency_factor_per_s:.6g} 1/s, E/R {r.e_over_r_K:.6g} K"
                            for r in k.regimes)
        print(f"  {key}: {regimes}\n    {k.source}")
    print("Skins:")
    for key, s in SKINS.items():
        layers = "; ".join(f"{l.name} {l.thickness_m * 1e6:g} um k {l.conductivity_W_mK:g} rho {l.density_kg_m3:g} "
                           f"c {l.heat_capacity_J_kgK:g}" for l in s.layers)
        print(f"  {key}: {layers}\n    {s.source}")
    print("Burn criteria:")
    for c in CRITERIA:
        print(f"  degree {c.degree}: Omega >= {c.threshold:g} at the {c.layer} base\n    {c.source}")
    return 0


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m skinburn", description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("assess", help="run a trial and give the burn degree and depths")
    _common(p)
    p.add_argument("--csv", help="write a one-row summary CSV")
    p.add_argument("--nodes-csv", help="write the per-node CSV")
    p.add_argument("--after", metavar="PHASE",
                   help="a data directory whose damage still grows at the run's end is run on with its exposed "
                        "face: insulated (the default), air:H:AMBIENT (e.g. air:10:20C), held:TEMPERATURE, "
                        "continued (its tables' last values), or none (no verdict while the damage grows)")
    p.set_defaults(func=cmd_assess)
    p = sub.add_parser("search", help="find where a burn degree is first reached as one value varies")
    _common(p)
    p.add_argument("--vary", required=True, help="the value varied (a trial field or a data-directory name)")
    p.add_argument("--range", nargs=2, type=float, required=True, metavar=("LO", "HI"))
    p.add_argument("--unit", choices=("C", "K"), help="unit of a varied temperature")
    p.add_argument("--degree", type=int, choices=(1, 2, 3), default=2)
    p.add_argument("--for", dest="for_", metavar="NAME=V1,V2,...", help="one search per value, side by side")
    p.add_argument("-j", "--jobs", type=int, help="searches at a time (default: one per CPU)")
    p.add_argument("--parallel", nargs=argparse.REMAINDER, metavar="OPTION",
                   help="run the searches with GNU parallel, passing it the options that follow "
                        "(e.g. --parallel --slf hosts.txt); last on the line")
    p.add_argument("--rtol", type=float, default=1e-3, help="relative tolerance of the value found (default 1e-3)")
    p.add_argument("--csv", help="write one row per search")
    p.add_argument("--after", metavar="PHASE",
                   help="as for assess: how a data directory's run is carried on while its damage grows "
                        "(insulated, the default; air:H:AMBIENT; held:TEMPERATURE; continued; none)")
    p.set_defaults(func=cmd_search)
    p = sub.add_parser("search-job", help="run one search from a JSON file (a job of search_many)")
    p.add_argument("job")
    p.add_argument("out")
    p.add_argument("--skinburn")
    p.set_defaults(func=cmd_search_job)
    p = sub.add_parser("template", help="print a trial description in JSON to start from")
    p.add_argument("name", choices=sorted(SCENARIOS))
    p.set_defaults(func=cmd_template)
    p = sub.add_parser("presets", help="list the kinetics, skins and burn criteria with their sources")
    p.set_defaults(func=cmd_presets)
    args = parser.parse_args(argv)
    try:
        with tempfile.TemporaryDirectory(prefix="sb-cli-") as scratch:
            status = args.func(args, Path(scratch))
        sys.stdout.flush()  # here, where a reader gone away is met, not at the interpreter's exit
        return status
    except ProgramError as exc:
        print(str(exc), file=sys.stderr)
        return 1
    except (NonFiniteHistory, DirectoryChanged) as exc:
        print(f"skinburn: {exc}", file=sys.stderr)
        return 1
    except BracketError as exc:
        print(str(exc), file=sys.stderr)
        return 3
    except (UsageError, FileNotFoundError, KeyError, ValueError, TypeError, AttributeError) as exc:
        print(f"skinburn: {exc}", file=sys.stderr)
        return 2
    except SkinburnError as exc:  # a grid or cooling that did not settle, a directory in use, ...: named
        print(f"skinburn: {type(exc).__name__}: {exc}", file=sys.stderr)
        return 1
    except BrokenPipeError:
        # The reader went away (a pipe into head): what is left unprinted goes nowhere, quietly, and
        # the status says the output was cut short.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1


if __name__ == "__main__":
    sys.exit(main())
