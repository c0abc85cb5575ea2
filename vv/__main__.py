"""Verification and validation of skinburn in one command.

    vv/run.sh                 # every case on the current build; writes docs/verification.md,
                              # docs/validation.md and docs/vv/*.png
    vv/run.sh --quick         # coarser settings, the banded cases only; writes nothing unless --docs DIR
    vv/run.sh --only routine  # the routine trials alone; writes docs/routine.md (--only repeats)

Exit status 0 when every band holds, 1 when one does not, 2 for a wrong command line.
The program is ``--skinburn PATH``, else ``$SKINBURN``, else build/default/skinburn.
"""
from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path
from typing import Optional

import skinburn as sb

from . import report, routine, validation, verification

ROOT = Path(__file__).resolve().parent.parent
PASSES = ("verification", "validation", "routine")


def main(argv: Optional[list[str]] = None) -> int:
    """Run the passes, write the documents, print the bands; the exit status."""
    ap = argparse.ArgumentParser(prog="vv/run.sh", description=__doc__.splitlines()[0])
    ap.add_argument("--quick", action="store_true", help="coarser settings, the banded cases only")
    ap.add_argument("--docs", type=Path, default=None,
                    help="where to write the documents (default: docs/ of the repository, none with --quick)")
    ap.add_argument("--skinburn", default=None, help="the program (default $SKINBURN, else build/default/skinburn)")
    ap.add_argument("--processes", type=int, default=2, help="runs side by side (default 2)")
    ap.add_argument("--only", choices=PASSES, action="append", default=None,
                    help="one of the passes (repeat for more; default: all)")
    args = ap.parse_args(argv)
    passes = set(args.only or PASSES)
    prog = sb.Program.find(args.skinburn)
    docs = args.docs if args.docs is not None else (None if args.quick else ROOT / "docs")
    command = "vv/run.sh" + (" --quick" if args.quick else "")
    print(f"{prog.version()} at {prog.path}", flush=True)
    failed = []
    if "verification" in passes:
        t0 = time.time()
        v = verification.verify(verification.QUICK if args.quick else verification.FULL, prog, args.processes)
        print(f"verification: {len(v.bands)} bands in {time.time() - t0:.1f} s", flush=True)
        failed += _print_bands(v.bands)
        if docs is not None:
            figs = report.verification_figures(v, docs)
            (docs / "verification.md").write_text(report.verification_markdown(v, figs, command), encoding="utf-8")
            print(f"wrote {docs / 'verification.md'}")
    if "validation" in passes:
        t0 = time.time()
        w = validation.validate(args.quick, args.processes, prog)
        print(f"validation: {len(w.bands)} bands in {time.time() - t0:.1f} s", flush=True)
        failed += _print_bands(w.bands)
        if docs is not None:
            figs = report.validation_figures(w, docs)
            (docs / "validation.md").write_text(report.validation_markdown(w, figs, command), encoding="utf-8")
            print(f"wrote {docs / 'validation.md'}")
    if "routine" in passes:
        r = routine.routine(args.quick, prog, args.processes)
        print(f"routine: {len(r.outcomes)} cases, {len(r.bands)} bands in {r.wall_s:.1f} s", flush=True)
        failed += _print_bands(r.bands)
        if docs is not None:
            docs.mkdir(parents=True, exist_ok=True)
            shown = command + (" --only routine" if passes == {"routine"} else "")
            (docs / "routine.md").write_text(routine.markdown(r, shown), encoding="utf-8")
            print(f"wrote {docs / 'routine.md'}")
    if failed:
        print(f"{len(failed)} band(s) failed:")
        for what, value, band, _ in failed:
            print(f"  FAILED {what}: {value:.6g} not {band}")
        return 1
    print("every band holds")
    return 0


def _print_bands(bands: list[tuple[str, float, str, bool]]) -> list[tuple[str, float, str, bool]]:
    for what, value, band, ok in bands:
        print(f"  {'ok  ' if ok else 'FAIL'} {what}: {value:.6g} ({band})")
    return [b for b in bands if not b[3]]


if __name__ == "__main__":
    sys.exit(main())
