#!/usr/bin/python3
"""Parameter studies of skinburn, run with GNU parallel.

    study.py [options] TEMPLATE DESCRIPTION STUDYDIR [-- PARALLEL-OPTIONS...]

TEMPLATE is a data directory (its input files are copied, OUTPUT.TXT is not)
or a trial of the Python package in JSON (``python3 -m skinburn template
NAME``); DESCRIPTION is a JSON file naming the values to vary; STUDYDIR
receives one directory per case (t001/, t002/, ...), GNU parallel's joblog,
the CSV of results and ``study.json`` (the title and columns, for figures).
A case runs one trial, or with a "search" in the description the package's
threshold search. A case that is complete (its status file exists and its
inputs are unchanged) is not run again, so an interrupted study resumes
where it stopped. Words after `--` go to GNU parallel as they stand (e.g.
--sshlogin, --slf, --workdir). With --executor (pool, or a Dask scheduler's
address), or :func:`main`'s ``executor`` from Python, the cases are tasks of a
concurrent.futures executor instead.

What a data directory holds comes from ``skinburn --check=json`` through the
package (skinburn.datadir): every value word with its file, byte offset and
length. See README.md next to this file for the keys and the CSV columns.
"""
from __future__ import annotations

import argparse
import contextlib
import csv
import dataclasses
import hashlib
import io
import itertools
import json
import math
import os
import shlex
import shutil
import subprocess
import sys
import threading
from concurrent.futures import Executor, ThreadPoolExecutor
from pathlib import Path
from typing import Any, Callable, Iterator, Optional

HERE = Path(__file__).resolve().parent
PACKAGE = HERE.parent.parent / "python"
sys.path.insert(0, str(PACKAGE))

from skinburn.assessment import ANSWER_DEGREES, assess  # noqa: E402
from skinburn.datadir import DataDirectory  # noqa: E402
from skinburn.dispatch import ExecutorShutDown, GnuParallelMissing, gnu_parallel, on_executor  # noqa: E402
from skinburn.criteria import KineticsLike, kinetics_choice, kinetics_from_dict, resolved  # noqa: E402
from skinburn.kinetics import Kinetics, kinetics_preset  # noqa: E402
from skinburn.program import DirectoryInUse, Program, exclusive  # noqa: E402
from skinburn.results import NonFiniteHistory, Results, write_whole  # noqa: E402
from skinburn.skin import Skin, skin_preset  # noqa: E402

FORCED = ("BATCH", "TRIAL")
# The names the first version of this tool gave the jet's values.
JET_ALIASES = {"jet.nozzle": "jet.nozzle_diameter_m", "jet.offaxis": "jet.offaxis_spacing_m",
               "jet.standoff": "jet.standoff_m"}
JET_UNITS = {"jet.nozzle_diameter_m": "m", "jet.offaxis_spacing_m": "m", "jet.standoff_m": "m",
             "jet.velocity": "m_s", "jet.boundary": "", "jet.option": "", "jet.reynolds": "",
             "jet.standoff_ratio": ""}
DURATION = "exposure.duration_s"
TRIAL_COLUMNS = ("status", "burn", "degree", "kinetics", "omega_epidermis_base", "omega_dermis_base",
                 "depth_omega_053_um", "depth_omega_1_um", "omega_growth_last_quarter", "program_outcome",
                 "program_depth_um", "program_omega")
# Damage still growing by more than this (relative) over the last quarter of a run is reported.
GROWTH_WARNING = 0.01
NO_BURN = "no burn"
NOT_JUDGED = "not judged"  # a history with no physical temperatures
# The rule a data-directory case settles its time after the exposure by (the package's AutoCooling):
# start from the template's time after the exposure (else the exposure's duration, at least 1 s) and
# double it while the result still changes by more than ``tolerance`` over the last quarter of the run.
AUTO_COOLING = {"tolerance": 0.01, "start_s": None, "max_doublings": 6}
# The file of a data-directory case that settles its time after the exposure.
SETTLE = "settle.json"
# A case the package refuses holds this file (its message) and the status "refused".
REFUSED = "refused.txt"
# Written beside every case's results with the CSV: the case's title and the skin and kinetics its row is
# judged under (tools/plot/plot_output.py --results draws the case with them).
CASE = "case.json"
# Keys that choose how a case is judged, not what runs: on a data directory they change no file.
JUDGED = ("kinetics", "skin")
# The CSV column of the varied key "kinetics" (the column "kinetics" names the model each row was judged under).
KINETICS_COLUMN = "kinetics_preset"


class StudyError(Exception):
    """A faulty description or template (exit status 2)."""


class Refused(StudyError):
    """A case whose values the package refuses (a stand-off over 20 diameters, say): a failed row."""


# --- Study description --------------------------------------------------------

def word_of(value: Any) -> str:
    """The CSV cell of a value of the description (numbers the shortest way)."""
    if isinstance(value, bool):
        raise StudyError(f"value {value!r} is neither a number nor a word")
    if isinstance(value, (dict, list)):
        return json.dumps(value, separators=(",", ":"), sort_keys=True)
    if isinstance(value, str):
        if not value or any(c.isspace() for c in value) or len(value) > 79:
            raise StudyError(f"value {value!r} must be one word of at most 79 characters")
        return value
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        text = repr(value)
        return text[:-2] if text.endswith(".0") else text
    raise StudyError(f"value {value!r} is neither a number nor a word")


def with_unit(number: float, unit: Optional[str]) -> Any:
    """A temperature word such as ``500K`` when ``unit`` is given, else the number."""
    return f"{word_of(number)}{unit}" if unit else number


def values_of(key: str, given: Any) -> list:
    """The values of one key: a list, a range {start, stop, count[, unit]}, {values, unit} or one value."""
    if isinstance(given, dict) and "values" in given:
        if set(given) - {"values", "unit"} or not isinstance(given["values"], list) or not given["values"]:
            raise StudyError(f"{key}: {{\"values\": [...], \"unit\": \"K\" or \"C\"}}")
        return [with_unit(v, given.get("unit")) for v in given["values"]]
    if isinstance(given, list):
        if not given:
            raise StudyError(f"{key}: empty list of values")
        return list(given)
    if isinstance(given, dict) and "start" in given:
        try:
            start, stop, count = given["start"], given["stop"], int(given["count"])
        except (KeyError, TypeError, ValueError):
            raise StudyError(f"{key}: a range needs start, stop and count")
        if count < 1 or set(given) - {"start", "stop", "count", "unit"} or not all(
                isinstance(x, (int, float)) and not isinstance(x, bool) for x in (start, stop)):
            raise StudyError(f"{key}: a range is {{start: number, stop: number, count >= 1}}")
        unit = given.get("unit")
        if count == 1:
            return [with_unit(start, unit)]
        return [with_unit(float("%.12g" % (start + i * (stop - start) / (count - 1))), unit)
                for i in range(count)]
    return [given]


@dataclasses.dataclass
class Description:
    """A study description: columns (varied keys), cases, fixed settings and options."""

    columns: list
    cases: list
    fixed: dict
    title: str = ""
    search: Optional[dict] = None
    skin: Optional[str] = None
    kinetics: Optional[str] = None
    exposure_end_s: Optional[float] = None
    cooling_s: Any = None
    temperature_unit: str = "K"
    after_jet: Optional[dict] = None


def read_description(path: str) -> Description:
    """The description in a JSON file (see README.md)."""
    try:
        with open(path, encoding="utf-8") as f:
            desc = json.load(f)
    except (OSError, ValueError) as e:
        raise StudyError(f"{path}: {e}")
    known = {"grid", "cases", "set", "title", "search", "skin", "kinetics", "exposure_end_s", "cooling_s",
             "temperature_unit", "after_jet"}
    if not isinstance(desc, dict) or set(desc) - known or ("grid" in desc) == ("cases" in desc):
        raise StudyError(f"{path}: give exactly one of \"grid\" or \"cases\" (and optionally "
                         + ", ".join(f'"{k}"' for k in sorted(known - {"grid", "cases"})) + ")")
    if not isinstance(desc.get("set", {}), dict):
        raise StudyError("set: an object of key -> value")
    fixed = dict(desc.get("set", {}))
    if "grid" in desc:
        grid = desc["grid"]
        if not isinstance(grid, dict) or not grid:
            raise StudyError("grid: an object of key -> values")
        columns = list(grid)
        axes = [values_of(k, grid[k]) for k in columns]
        cases = [dict(zip(columns, combo)) for combo in itertools.product(*axes)]
    else:
        if not isinstance(desc["cases"], list) or not desc["cases"]:
            raise StudyError("cases: a non-empty list of objects")
        columns, cases = [], []
        for case in desc["cases"]:
            if not isinstance(case, dict):
                raise StudyError("cases: each case is an object of key -> value")
            columns += [k for k in case if k not in columns]
            cases.append(dict(case))
    for key in columns + list(fixed):
        if key.upper() in FORCED:
            raise StudyError(f"{key} is set by the study itself (BATCH 1, TRIAL = number)")
    for case in cases:
        for v in case.values():
            word_of(v)
    search = desc.get("search")
    if search is not None:
        if not isinstance(search, dict) or "vary" not in search or "range" not in search or \
                set(search) - {"vary", "range", "degree", "unit", "rtol"} or len(search["range"]) != 2:
            raise StudyError("search: {\"vary\": NAME, \"range\": [LO, HI], \"degree\": 1|2|3, "
                             "\"unit\": \"K\"|\"C\" (temperatures), \"rtol\": number}")
    unit = desc.get("temperature_unit", "K")
    if unit not in ("K", "C"):
        raise StudyError("temperature_unit: \"K\" or \"C\"")
    return Description(columns, cases, fixed, str(desc.get("title", "")), search, desc.get("skin"),
                       desc.get("kinetics"), desc.get("exposure_end_s"), cooling_of(desc.get("cooling_s")), unit,
                       after_jet_of(desc.get("after_jet")))


def cooling_of(given: Any) -> Any:
    """``cooling_s`` of a description: None, a time in s, or the settling rule (a dict, ``"auto"`` = {})."""
    if given is None or given == "auto":
        return None if given is None else {}
    if isinstance(given, dict):
        if set(given) - set(AUTO_COOLING) or not all(
                isinstance(v, (int, float)) and not isinstance(v, bool) and v >= 0 for v in given.values()):
            raise StudyError("cooling_s: a time in s, \"auto\", or {\"tolerance\": 0.01, \"start_s\": s, "
                             "\"max_doublings\": 6}")
        return dict(given)
    if isinstance(given, bool) or not isinstance(given, (int, float)) or given < 0:
        raise StudyError("cooling_s: a time in s (at least 0), \"auto\" or a settling rule")
    return float(given)


def after_jet_of(given: Any) -> Optional[dict]:
    """``after_jet`` of a description: the coefficient (W/(m^2 K)) and ambient (K) after a jet."""
    if given is None:
        return None
    if not isinstance(given, dict) or set(given) != {"h_W_m2K", "ambient_K"} or not all(
            isinstance(v, (int, float)) and not isinstance(v, bool) for v in given.values()):
        raise StudyError("after_jet: {\"h_W_m2K\": coefficient after the jet, \"ambient_K\": its ambient "
                         "temperature in K}")
    if given["h_W_m2K"] == 1.0:
        raise StudyError("after_jet: a boundary value of exactly 1.0 selects the jet itself")
    return {"h_W_m2K": float(given["h_W_m2K"]), "ambient_K": float(given["ambient_K"])}


def _preset_or_object(value: Any, key: str, preset: Callable[[str], Any], kind: Any, examples: str) -> Any:
    """A preset named by its key (``preset``), or a whole object (``kind.from_dict``)."""
    try:
        if isinstance(value, str):
            return preset(value)
        if isinstance(value, dict):
            return kind.from_dict(value)
    except (KeyError, ValueError, TypeError) as e:
        raise StudyError(f"{key}: {e}")
    raise StudyError(f"{key}: a preset's key ({examples}, ...) or a whole object")


def kinetics_of(value: Any, key: str = "kinetics") -> KineticsLike:
    """A kinetics model of the description: a preset's key or alias, one per degree as the command line
    writes it (``"2=weaver-stoll,3=henriques"``), or a whole object (``Kinetics.to_dict``,
    ``KineticsByDegree.to_dict``)."""
    try:
        if isinstance(value, str):
            return kinetics_choice(value) if "=" in value or "," in value else kinetics_preset(value)
        if isinstance(value, dict):
            return kinetics_from_dict(value)
    except (KeyError, ValueError, TypeError) as e:
        raise StudyError(f"{key}: {e}")
    raise StudyError(f"{key}: a preset's key (\"weaver-stoll-1969\", \"henriques\", ...), one per degree "
                     "(\"2=weaver-stoll,3=henriques\") or a whole object")


def skin_of(value: Any, key: str = "skin") -> Skin:
    """A skin of the description: a preset's key, or a whole object (Skin.to_dict)."""
    return _preset_or_object(value, key, skin_preset, Skin, '"uniform", "torvi-dale"')


def case_title(desc: "Description", template_title: str, number_: int, case: dict) -> str:
    """The title of one case: the values it sets, then the study it belongs to.

    ``case`` holds the case's own keys (not the study's fixed ones); a
    ``title`` among them is the case's title as it stands.
    """
    if isinstance(case.get("title"), str) and case["title"].strip():
        return case["title"]
    values = ", ".join(f"{k} = {word_of(v)}" for k, v in case.items() if k != "title")
    base = desc.title or (f"a study of '{template_title}'" if template_title else "a study")
    return f"{values}; case {number_} of {base}" if values else f"Case {number_} of {base}"


def temperature_of(value: Any, key: str) -> float:
    """A temperature word (``500K``, ``60C``) in K."""
    if isinstance(value, str) and value[-1:] in ("K", "C"):
        try:
            x = float(value[:-1])
        except ValueError:
            pass
        else:
            return x + 273.15 if value[-1] == "C" else x
    if isinstance(value, dict) and set(value) == {"K"}:
        return float(value["K"])
    raise StudyError(f"{key} is a temperature: give it with its unit, as \"500K\" or \"60C\" "
                     "(or a range with \"unit\")")


def unit_slug(unit: str) -> str:
    """A unit as a column-name suffix: ``W/(m^2 K)`` -> ``W_m2K``, ``m/s`` -> ``m_s``."""
    return unit.replace("/", "_").replace("(", "").replace(")", "").replace("^", "").replace(" ", "")


def number(value: Any, key: str) -> float:
    """A plain number of the description."""
    try:
        return float(value)
    except (TypeError, ValueError):
        raise StudyError(f"{key}: {value!r} is not a number")


# --- Lists of pairs of a data directory -----------------------------------------
# The time tables of a data directory, cut, stretched or carried past the run's end, are the package's
# (skinburn.tables): the same lists carry a data directory's run on past its end in skinburn.runs.run_on.

from skinburn.tables import PairList, lengthen, pair_list, r12, time_lists  # noqa: E402,F401


# --- Templates: a data directory ----------------------------------------------

class DirTemplate:
    """A data directory; its values are found through ``skinburn --check=json``."""

    kind = "datadir"

    def __init__(self, path: str, program: Program, desc: Description) -> None:
        try:
            self.d = DataDirectory(path, program)
        except FileNotFoundError as e:
            raise StudyError(str(e))
        self.report = self.d.report
        if len(self.report.document.get("entries") or []) < 19:
            raise StudyError(f"{path}/DATA.DAT ends inside its twenty entries")
        self.desc = desc

    # Names -----------------------------------------------------------------
    def block(self, name: str) -> Optional[dict]:
        """The block a key names (its table or its name as written, any case), or None."""
        for b in self.report.document.get("blocks") or []:
            written = (b.get("name") or {}).get("text") or ""
            if name.lower() in ((b.get("table") or "").lower(), written.lower()) and b.get("table"):
                return b
        return None

    def _jet(self) -> dict:
        if self.report.jet is None:
            raise StudyError("the template has no jet (LEFTIMP.DAT is not called in)")
        return self.report.jet

    def unknown(self, key: str) -> str:
        names = ", ".join((b.get("name") or {}).get("text", "?") for b in self.report.document.get("blocks") or [])
        return (f"{key}: not an entry name or number, a jet.* value, {DURATION} or a block of the "
                f"template ({names}), nor BLOCK[k], BLOCK.scale, BLOCK.offset")

    def canonical(self, key: str) -> tuple[str, str, str]:
        """(kind, name, unit slug) of a key: entry, jet, duration, block, pair, scale, offset."""
        key = JET_ALIASES.get(key, key)
        if key == DURATION:
            return "duration", key, "s"
        if key in JUDGED or key == "title":
            return "judged", key, ""
        if key.startswith("jet."):
            base = key.rsplit(".", 1)[0] if key.endswith((".scale", ".offset")) else key
            if base not in JET_UNITS:
                raise StudyError(f"{key}: the jet values are {', '.join(JET_UNITS)} (and "
                                 "jet.velocity.scale, .offset)")
            self._jet()
            if base != key:
                return key.rsplit(".", 1)[1], base, "" if key.endswith("scale") else JET_UNITS[base]
            return "jet", key, JET_UNITS[key]
        try:
            e = self.report.entry(key.upper() if not key.isdigit() else key)
            return "entry", e["name"], unit_slug(e.get("unit") or "")
        except KeyError:
            pass
        base, _, suffix = key.rpartition(".")
        if suffix in ("scale", "offset") and base:
            b = self.block(base)
            if b is None:
                raise StudyError(self.unknown(key))
            return suffix, base, "" if suffix == "scale" else unit_slug(b.get("unit") or "")
        name, index = key, None
        if key.endswith("]") and "[" in key:
            name, _, rest = key.partition("[")
            index = rest[:-1]
        b = self.block(name)
        if b is None:
            raise StudyError(self.unknown(key))
        if b.get("source") == "LEFTIMP.DAT":
            raise StudyError(f"{key}: the block comes from LEFTIMP.DAT; vary jet.* values")
        if index is not None:
            if not index.isdigit() or not 1 <= int(index) <= len(b.get("pair_words") or []):
                raise StudyError(f"{key}: the block has {len(b.get('pair_words') or [])} pairs")
            return "pair", f"{b['table']}[{index}]", unit_slug(b.get("unit") or "")
        return "block", b["table"], unit_slug(b.get("unit") or "")

    def column(self, key: str, words: list) -> tuple[str, list]:
        """The CSV column of a varied key (its unit in the name) and its cells."""
        _, _, unit = self.canonical(key)
        if key == "kinetics":
            return KINETICS_COLUMN, words
        name = JET_ALIASES.get(key, key)
        if unit and not name.endswith("_" + unit):
            name += "_" + unit
        return name, words

    # Files -----------------------------------------------------------------
    def files(self, number_: int, case: dict) -> dict[str, bytes]:
        """The input files of one trial."""
        try:
            return self._files(number_, case)
        except (KeyError, ValueError, TypeError) as e:
            raise StudyError(f"trial {number_}: {json.dumps(case)}: {e}")

    def _files(self, number_: int, case: dict) -> dict[str, bytes]:
        values: dict[str, Any] = {"BATCH": 1, "TRIAL": number_}
        lists: dict[str, PairList] = {}

        def get(name: str) -> PairList:
            if name not in lists:
                lists[name] = pair_list(self.report, name)
            return lists[name]

        duration = None
        for key, value in case.items():
            kind, name, _ = self.canonical(key)
            if kind == "entry":
                if name == "FREQEXP" and isinstance(value, str) and value.startswith("10^"):
                    value = value[3:]
                values[name] = value
                continue
            if kind == "duration":
                duration = number(value, key)
                continue
            if kind == "judged":  # checked here; it changes no file
                if key == "kinetics":
                    kinetics_of(value, key)
                elif key == "skin":
                    skin_of(value, key)
                continue
            if isinstance(value, str) and value[-1:] in ("K", "C") and kind != "jet":
                value = temperature_of(value, key)
            v = number(value, key)
            if kind == "jet" and name not in ("jet.velocity", "jet.boundary"):
                values[name] = v
            elif kind == "pair":
                table, _, index = name[:-1].partition("[")
                get(table).new[int(index) - 1][1] = v
            else:  # every value of a list: set, scaled or shifted
                for p in get(name).new:
                    p[1] = v if kind in ("block", "jet") else p[1] * v if kind == "scale" else p[1] + v
        plan = self.cooling_plan(case, duration)
        if plan is not None:
            self._exposure(get, values, plan)
        raw = [e for lst in lists.values() for e in lst.edits()]
        files = self.d.edited_files(values, raw)
        if plan is not None and plan.get("auto"):
            files[SETTLE] = json.dumps(plan, sort_keys=True).encode()
        return files

    def title(self) -> str:
        """The template's title: its directory's name (the program discards DATA.DAT's title line)."""
        return Path(os.path.abspath(self.d.path)).name

    def exposure_end_s(self) -> float:
        """When the template's exposure ends: the description's ``exposure_end_s``, else where the jet's
        boundary list last leaves 1.0, else (a jet to the end of its list) the run's end."""
        if self.desc.exposure_end_s is not None:
            return float(self.desc.exposure_end_s)
        if self.report.jet is None:
            raise StudyError(f"{DURATION}: give \"exposure_end_s\" in the description (when the template's "
                             "exposure ends); only a jet's end is found by itself")
        pairs = self.report.block("left_bc")["pairs"]
        ends = [t for (t, y), (_, y_next) in zip(pairs, pairs[1:]) if y == 1.0 and y_next != 1.0]
        return min(float(ends[-1]), self.run_end_s()) if ends else self.run_end_s()

    def run_end_s(self) -> float:
        """The template's run: TIMESTEPS x DELTAT, in s."""
        return float(self.report.value("TIMESTEPS")) * float(self.report.value("DELTAT"))

    def jet_to_its_end(self) -> bool:
        """True for a jet whose boundary list is 1.0 to its last pair: no time after it to keep."""
        if self.report.jet is None or self.desc.exposure_end_s is not None:
            return False
        pairs = self.report.block("left_bc")["pairs"]
        return bool(pairs) and pairs[-1][1] == 1.0

    def cooling_plan(self, case: dict, duration: Optional[float]) -> Optional[dict]:
        """How a case's exposure ends and how long the run goes on after it, or None (the template's).

        ``{"exposure_end_s", "after_exposure_s", "auto"}``; with ``auto`` also the
        settling rule (``tolerance``, ``max_doublings``), the skin and the kinetics.
        """
        cooling = self.desc.cooling_s
        if duration is None and cooling is None and self.desc.after_jet is None:
            return None
        old_end = self.exposure_end_s()
        new_end = old_end if duration is None else duration
        if not new_end > 0:
            raise ValueError(f"{DURATION} must be positive")
        kept = max(self.run_end_s() - old_end, 0.0)
        # A case that sets TIMESTEPS itself keeps it: nothing to settle.
        steps_set = any(self.canonical(k)[1] == "TIMESTEPS" for k in case)
        auto = (cooling is None or isinstance(cooling, dict)) and not steps_set
        rule = dict(AUTO_COOLING, **(cooling or {})) if auto else {}
        if not auto:
            after = float(cooling) if isinstance(cooling, float) else kept
        elif rule.get("start_s") is not None:
            after = float(rule["start_s"])
        else:  # the template's time after the exposure; without one, as the package starts
            after = kept if kept > 0 and not self.jet_to_its_end() else max(new_end, 1.0)
        plan: dict = {"exposure_end_s": new_end, "after_exposure_s": after, "auto": auto}
        if auto:
            plan.update({"tolerance": float(rule["tolerance"]), "max_doublings": int(rule["max_doublings"]),
                         "skin": case.get("skin", self.desc.skin or "uniform"),
                         "kinetics": case.get("kinetics", self.desc.kinetics)})
        return plan

    def _exposure(self, get: Any, values: dict, plan: dict) -> None:
        """Cut or stretch the left face's time tables at the exposure's end and set the run's length.

        The left face's tables (the jet's boundary and velocity lists, else
        LEFT_BC; and LEFT_AMBIENT) keep their pairs before the end; a pair is
        inserted at the cut with the value on the table's line there, or the
        value at the old end is held to the new end; what followed the old
        end follows the new one, shifted. A jet with no time after it takes
        the description's ``after_jet`` from its end on. TIMESTEPS is set
        for the time after the exposure and every time table reaches the
        run's end.
        """
        old_end, new_end = self.exposure_end_s(), plan["exposure_end_s"]
        after_jet = self.desc.after_jet
        if self.jet_to_its_end():
            if after_jet is None:
                raise StudyError("the template's jet blows to the end of its boundary list (1.0 to its last "
                                 "pair), so there is no cooling after it to keep: give \"after_jet\": "
                                 "{\"h_W_m2K\": ..., \"ambient_K\": ...} (the coefficient and the ambient "
                                 "temperature after the jet) in the description")
        elif after_jet is not None:
            raise StudyError("\"after_jet\" is for a jet that blows to the end of its boundary list; the "
                             f"template's jet already ends at {old_end:g} s and the time after it is kept")
        if self.report.jet is not None:
            get("jet.boundary").move_end(old_end, new_end, after_jet and after_jet["h_W_m2K"])
            get("jet.velocity").move_end(old_end, new_end)
        else:
            get("left_bc").move_end(old_end, new_end)
        if self.block("left_ambient") is not None:
            get("left_ambient").move_end(old_end, new_end, after_jet and after_jet["ambient_K"])
        deltat = float(values.get("DELTAT", self.report.value("DELTAT")))
        if "TIMESTEPS" not in values:
            values["TIMESTEPS"] = max(1, math.ceil((new_end + plan["after_exposure_s"]) / deltat - 1e-9))
        run_end = float(values["TIMESTEPS"]) * deltat
        for name in time_lists(self.report):
            get(name).reach(run_end)


# --- Templates: a trial of the package ----------------------------------------

class TrialTemplate:
    """A trial of the Python package in JSON; a key is a dotted key of the package's trials (items of a
    list by number: ``skin.layers.0.thickness_m``)."""

    kind = "trial"

    def __init__(self, path: str, desc: Description) -> None:
        from skinburn.trial import trial_from_dict

        try:
            self.data = json.loads(Path(path).read_text(encoding="utf-8"))
            trial_from_dict(self.data)
        except (OSError, ValueError, KeyError, TypeError) as e:
            raise StudyError(f"{path}: not a trial of the package ({e})")
        self.desc = desc

    def title(self) -> str:
        """The trial's title."""
        return str(self.data.get("title") or "")

    def trial_dict(self, number_: int, case: dict) -> dict:
        """The trial of one case in JSON: each key set by the package's key language
        (``skinburn.trial.set_key``, as ``Trial.replace`` and ``--set`` take it)."""
        from skinburn.trial import UnknownKey, trial_from_dict

        trial = trial_from_dict(self.data)
        for key, value in case.items():
            try:
                trial = trial.replace(key, value)
            except (UnknownKey, TypeError) as e:
                raise StudyError(str(e) if str(e).startswith(key) else f"{key}: {e}")
            except (ValueError, KeyError) as e:
                raise Refused(f"{key}: {e}")
        return trial.to_dict()

    def files(self, number_: int, case: dict) -> dict[str, bytes]:
        """The one input file of a case: ``trial.json``."""
        return {"trial.json": json.dumps(self.trial_dict(number_, case), indent=1, sort_keys=True).encode()}

    def column(self, key: str, words: list) -> tuple[str, list]:
        """The CSV column of a varied key and its cells (temperatures in one unit, named)."""
        if key == "kinetics":
            return KINETICS_COLUMN, words
        temps = [w for w in words if isinstance(w, str) and w[-1:] in ("K", "C")]
        if temps and len(temps) == len([w for w in words if w is not None]):
            units = {w[-1] for w in temps}
            unit = units.pop() if len(units) == 1 else "K"
            cells = []
            for w in words:
                if w is None:
                    cells.append(None)
                    continue
                k = temperature_of(w, key)
                cells.append(float("%.12g" % (k - 273.15 if unit == "C" else k)))
            return f"{key}_{unit}", cells
        return key, words


# --- Making the case directories ----------------------------------------------

def search_job(template: Any, desc: Description, path: str, number_: int, case: dict) -> dict:
    """The package's search job (skinburn.searches.job_to_dict) of one case."""
    from skinburn.searches import SearchJob, job_to_dict
    from skinburn.trial import trial_from_dict

    s = desc.search
    base: Any = trial_from_dict(template.trial_dict(number_, case)) if template.kind == "trial" \
        else os.path.abspath(path)
    skin, kin = judged_by(template, desc, case)
    if template.kind == "datadir" and skin is None:
        raise StudyError("a search on a data directory needs \"skin\" (whose criterion depths it uses)")
    job = SearchJob(base, s["vary"], float(s["range"][0]), float(s["range"][1]), degree=int(s.get("degree", 2)),
                    kinetics=kin, skin=skin, unit=s.get("unit"), rtol=float(s.get("rtol", 1e-3)),
                    labels={"trial": number_})
    return job_to_dict(job)


def judged_by(template: Any, desc: Description, case: dict) -> tuple[Optional[Skin], Optional[KineticsLike]]:
    """The skin and kinetics a case is judged under, None where the trial's own (a trial template) or,
    for kinetics, the constants the program read (a data directory) decide.

    A case's own ``skin`` or ``kinetics`` (a key it varies or the study sets) comes before the
    description's; on a trial template that key has already set the trial's own.
    """
    out: list[Any] = []
    for key, given, make in (("skin", desc.skin, skin_of), ("kinetics", desc.kinetics, kinetics_of)):
        if key in case:
            out.append(None if template.kind == "trial" else make(case[key], key))
        else:
            out.append(make(given, key) if given else None)
    return out[0], out[1]


def case_values(template: Any, desc: Description, number_: int, case: dict) -> dict:
    """The values one case gives the template: the study's fixed ones, the case's own, and for a trial
    its title (:func:`case_title`)."""
    values = dict(desc.fixed, **case)
    if template.kind == "trial":
        values["title"] = case_title(desc, str(desc.fixed.get("title") or template.title()), number_, case)
    return values


def fingerprint(files: dict[str, bytes]) -> str:
    """A checksum of a case's inputs (file names and contents)."""
    h = hashlib.sha256()
    for name in sorted(files):
        h.update(name.encode() + b"\0" + str(len(files[name])).encode() + b"\0" + files[name])
    return h.hexdigest()


def prepare(template: Any, desc: Description, study: str, force: bool) -> tuple[list, list]:
    """Writes the case directories that need a run; returns (names, pending)."""
    width = max(3, len(str(len(desc.cases))))
    names = ["t%0*d" % (width, n) for n in range(1, len(desc.cases) + 1)]
    # Every case is made before anything is written.
    made = []
    for number_, case in enumerate(desc.cases, 1):
        try:
            values = case_values(template, desc, number_, case)
            files = template.files(number_, values)
            if desc.search:
                job = search_job(template, desc, os.path.join(study, names[number_ - 1]), number_, values)
                files["search.json"] = json.dumps(job, sort_keys=True).encode()
        except Refused as e:
            # Complete at once: a failed row with the package's message, nothing to run.
            files = {REFUSED: f"refused by the package: {e}\n".encode(), "status": b"refused\n"}
        made.append(files)
    os.makedirs(study, exist_ok=True)
    pending = []
    for name, files in zip(names, made):
        stamp = fingerprint(files)
        path = os.path.join(study, name)
        if not force and trial_status(path) is not None and \
                read_text(os.path.join(path, "inputs.sha256")) == stamp:
            continue
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        for file, data in files.items():
            with open(os.path.join(path, file), "wb") as f:
                f.write(data)
        with open(os.path.join(path, "inputs.sha256"), "w") as f:
            f.write(stamp)
        if REFUSED not in files:
            pending.append(name)
    return names, pending


# --- Running with GNU parallel ------------------------------------------------

class Progress(threading.Thread):
    """Cases done / total and failures so far, from the status files."""

    def __init__(self, study: str, names: list, pending: set) -> None:
        super().__init__(daemon=True)
        self.study, self.waiting, self.total = study, list(pending), len(names)
        self.done, self.failed = self.total - len(pending), sum(
            case_failed(os.path.join(study, n), trial_status(os.path.join(study, n)))
            for n in names if n not in pending)
        self.stopped = threading.Event()
        self.tty = sys.stderr.isatty()
        self.shown = -1

    def show(self, final: bool = False) -> None:
        """One progress line (rewritten in place on a terminal)."""
        waiting = []
        for name in self.waiting:
            status = trial_status(os.path.join(self.study, name))
            if status is None:
                waiting.append(name)
            else:
                self.done += 1
                self.failed += case_failed(os.path.join(self.study, name), status)
        self.waiting = waiting
        line = f"study: {self.done}/{self.total} trials done, {self.failed} failed"
        tenth = self.done * 10 // max(self.total, 1)
        if self.tty:
            sys.stderr.write("\r" + line + ("\n" if final else " "))
        elif tenth != self.shown or final:
            sys.stderr.write(line + "\n")
        self.shown = tenth
        sys.stderr.flush()

    def run(self) -> None:
        while not self.stopped.wait(0.5):
            self.show()


def trial_status(path: str) -> Optional[str]:
    """The exit status written after the case's run, or None before."""
    status = (read_text(os.path.join(path, "status")) or "").strip()
    return status or None


def case_failed(path: str, status: Optional[str]) -> bool:
    """True for a complete case that failed: a status other than 0, or a search that found no
    threshold (not bracketed, or any other failure of the search, which still ends with status 0)."""
    if status is None:
        return False
    if status != "0":
        return True
    if not os.path.exists(os.path.join(path, "search.json")):
        return False
    try:
        outcome = json.loads(read_text(os.path.join(path, "search.out.json")) or "")
    except ValueError:
        return True
    return "result" not in outcome


def case_command(kind: str, skinburn: str) -> str:
    """The shell command that runs case "$t" (inside the study directory)."""
    py = (f"env PYTHONPATH={shlex.quote(str(PACKAGE))} PYTHONDONTWRITEBYTECODE=1 "
          f"{shlex.quote(sys.executable)}")
    if kind == "search":
        return (f"{py} -m skinburn search-job \"$t/search.json\" \"$t/search.out.json\" "
                f"--skinburn {shlex.quote(skinburn)}")
    if kind == "trial":
        return f"{py} {shlex.quote(str(HERE / 'study.py'))} --run-case \"$t\" --skinburn {shlex.quote(skinburn)}"
    # A case that settles its time after the exposure runs through this tool, the others directly.
    return (f"if [ -f \"$t/{SETTLE}\" ]; then {py} {shlex.quote(str(HERE / 'study.py'))} --settle-case \"$t\" "
            f"--skinburn {shlex.quote(skinburn)}; else {shlex.quote(skinburn)} --results \"$t/results\" \"$t/\"; fi")


def job_script(study: str, command: str, cases: str) -> str:
    """The shell script of one job: runs the cases ``cases`` (words for ``for t in``) of ``study``.

    A job runs its cases one after the other, each with stdin empty (the
    all-nodes Omega outcomes and error reports wait for a key), and writes
    each case's status after its run. A case stopped by SIGHUP, SIGINT,
    SIGKILL or SIGTERM (an interrupted study) gets no status, ends the job
    and runs again next time. The job's exit value is the number of its
    cases that failed; 255 where the study directory is not at its path.
    """
    return (f"cd {shlex.quote(os.path.abspath(study))} || exit 255; f=0; for t in {cases}; do "
            f"{command} </dev/null >\"$t/stdout.txt\" 2>\"$t/stderr.txt\"; "
            "s=$?; case $s in 129|130|137|143) exit $s;; esac; "
            "echo $s >\"$t/status\"; [ $s -eq 0 ] || f=$((f+1)); done; exit $f")


def fresh_joblog(study: str) -> str:
    """The path of the study's joblog, with an earlier run's removed."""
    joblog = os.path.join(study, "joblog")
    if os.path.exists(joblog):
        os.remove(joblog)  # not this run's
    return joblog


@contextlib.contextmanager
def showing(progress: Optional[Progress]) -> Iterator[None]:
    """Progress shown while the cases run, and its last line when they end, however they end."""
    if progress:
        progress.start()
    try:
        yield
    finally:
        if progress:
            progress.stopped.set()
            progress.join()
            progress.show(final=True)


def run_trials(study: str, pending: list, command: str, jobs: Optional[str], per_job: int, extra: list,
               progress: Optional[Progress]) -> None:
    """Run the pending cases with GNU parallel, ``per_job`` to a job."""
    joblog = fresh_joblog(study)
    job = job_script(study, command, "{}")
    # Without -j, one job per CPU core on every machine.
    options = ["--use-cores-instead-of-threads", "--ungroup", "--joblog", joblog, "-n", str(per_job)]
    options += ["-j", str(jobs)] if jobs else []
    with showing(progress):
        try:
            gnu_parallel([job], pending, options + extra, quiet=False, env={"PARALLEL_SHELL": "/bin/sh"})
        except GnuParallelMissing as missing:
            raise StudyError(str(missing))


def run_with_executor(study: str, pending: list, command: str, executor: Executor,
                      progress: Optional[Progress]) -> int:
    """Run the pending cases as tasks of ``executor`` (any concurrent.futures.Executor), one case a task;
    returns how many did not complete.

    A task is the case's shell script (:func:`job_script`) run by
    ``subprocess.run`` on the worker, the same script a GNU parallel job
    runs, so a case's files, status and CSV row are the same whichever
    runs it. The worker needs the study directory, this tool, the package
    and the binary at the paths they have here (a shared file system). A
    task that does not come back (its worker killed or lost), or that
    finds no study directory there, is named on stderr; its case has no
    status and runs again next time. The executor is not shut down here.
    """
    fresh_joblog(study)

    def script(name: str) -> list[str]:
        return ["/bin/sh", "-c", job_script(study, command, shlex.quote(name))]

    def done(k: int, ran: subprocess.CompletedProcess) -> int:
        if ran.returncode != 255:
            return 0
        print(f"study: {pending[k]}: the worker found no {os.path.abspath(study)} (the study directory "
              "must be at the same path there)", file=sys.stderr)
        return 1

    def lost(k: int, e: BaseException) -> int:
        print(f"study: {pending[k]}: its task did not come back ({type(e).__name__}: "
              f"{e or 'no message'}); it runs again next time", file=sys.stderr)
        return 1

    with showing(progress):
        try:
            return sum(on_executor(executor, run_script, [(script(n),) for n in pending], done, lost, "cases"))
        except ExecutorShutDown as e:  # none of the cases was left half-way
            raise StudyError(str(e))


def run_script(argv: list[str]) -> subprocess.CompletedProcess:
    """One task of an executor: a job's script, standard input empty (on the worker)."""
    return subprocess.run(argv, stdin=subprocess.DEVNULL, check=False)


def executor_of(address: str, jobs: Optional[str]) -> tuple[Executor, Any]:
    """The executor ``--executor`` names, and what to close after the study: ``pool`` runs ``jobs`` cases
    at a time on this machine (one per CPU core without -j); an address (``tcp://host:8786``) is a Dask
    scheduler's, whose workers run the cases."""
    if address == "pool":
        workers = int(jobs) if (jobs or "").isdigit() and int(jobs) > 0 else os.cpu_count() or 1
        pool = ThreadPoolExecutor(max_workers=workers)  # each case runs in its own processes
        return pool, pool
    if "://" not in address:
        raise StudyError(f"--executor {address}: give pool, or a Dask scheduler's address (tcp://host:8786)")
    try:
        import distributed
    except ImportError:
        raise StudyError("--executor with a scheduler's address needs Dask distributed "
                         "(Debian: apt-get install python3-distributed)")
    try:
        client = distributed.Client(address, timeout=30)
    except (OSError, TimeoutError) as e:
        raise StudyError(f"no Dask scheduler at {address}: {e}")
    return client.get_executor(), client


def run_case(directory: str, skinburn: str) -> int:
    """One case of a study on a trial of the package (a GNU parallel job): settle, run, keep the results.

    The results are in ``DIRECTORY/run/`` (``results.json``, ``results.npy``,
    ``OUTPUT.TXT``); how the grid and cooling were settled in
    ``settlement.json``. The status is the run's; an error is printed.
    """
    from skinburn.program import ProgramError
    from skinburn.runs import run
    from skinburn.trial import trial_from_dict

    trial = trial_from_dict(json.loads(Path(directory, "trial.json").read_text()))
    try:
        res = run(trial, skinburn, directory=Path(directory, "run"), raise_errors=False)
    except (ProgramError, RuntimeError, ValueError) as e:
        print(f"Error: {e}")
        return 1
    s = res.settlement
    if s is not None:
        Path(directory, "settlement.json").write_text(json.dumps(
            {"deltax_m": s.grid.deltax_m, "deltat_s": s.grid.deltat_s, "after_exposure_s": s.after_exposure_s,
             "runs": s.runs}))
    if res.error:
        print(f"Error: {res.error}")
    return res.status


def settle_case(directory: str, skinburn: str) -> int:
    """One data-directory case that settles its time after the exposure (a GNU parallel job).

    Runs the case; while the result still changes by more than the rule's
    tolerance over the last quarter of the run (:func:`skinburn.runs.cooling_growth`
    at the criterion depths of ``settle.json``'s skin, under its kinetics or
    the constants the program read), doubles the time after the exposure:
    TIMESTEPS and the time tables are lengthened in place and the case runs
    again. The case's files end as the trial last run; ``settlement.json``
    holds every attempt. Prints the last run's console; returns its status.
    """
    from skinburn.runs import cooling_growth

    plan = json.loads(Path(directory, SETTLE).read_text())
    program = Program.find(skinburn)
    skin = skin_of(plan["skin"])
    kinetics = kinetics_of(plan["kinetics"]) if plan.get("kinetics") else None
    after, steps, status = float(plan["after_exposure_s"]), [], 0
    message = ""
    for doubling in range(int(plan["max_doublings"]) + 1):
        report = Path(directory, "OUTPUT.TXT")
        if report.exists():
            report.unlink()  # the report of the last run only
        done = program.run(directory, Path(directory, "results"))
        status = done.status
        if done.status != 0 or done.document is None or done.document.get("outcome") == "error":
            break
        res = Results(done.document, done.prefix)
        growth = cooling_growth(res, skin, resolved(kinetics, res.program_kinetics))
        steps.append({"after_exposure_s": after, "timesteps": res.rows - 1, "growth": growth})
        if growth <= plan["tolerance"]:
            break
        if doubling == int(plan["max_doublings"]):
            message = (f"Error: the damage still grew by {growth:.2g} (relative) over the last quarter of the "
                       f"run after {after:g} s after the exposure")
            status = 1
            break
        after *= 2
        try:
            lengthen(directory, program, plan["exposure_end_s"] + after)
        except (RuntimeError, ValueError) as e:
            message, status = f"Error: settling the time after the exposure: {e}", 1
            break
    Path(directory, "settlement.json").write_text(json.dumps(
        {"exposure_end_s": plan["exposure_end_s"], "after_exposure_s": after, "runs": len(steps),
         "tolerance": plan["tolerance"], "steps": steps}, indent=1))
    sys.stdout.write(done.stdout + (message + "\n" if message else ""))
    sys.stderr.write(done.stderr)
    return status


# --- Results --------------------------------------------------------------------

def read_text(path: str) -> Optional[str]:
    """A file's text (Latin-1), or None."""
    try:
        with open(path, "rb") as f:
            return f.read().decode("latin-1")
    except OSError:
        return None


def lines_of(text: Optional[str]) -> list:
    """The non-blank lines, blanks collapsed."""
    return [" ".join(line.split()) for line in (text or "").split("\n") if line.strip()]


def first_error(out: str, err: str) -> str:
    """The first error line of the console (with the line after a trailing colon); else stderr's first two."""
    lines = lines_of(out)
    for i, line in enumerate(lines):
        if "Error" in line:
            if line.endswith(":") and i + 1 < len(lines):
                line += " " + lines[i + 1]
            return line
    return " ".join(lines_of(err)[:2])  # numerical fatal errors: banner line and cause


def g(x: Optional[float], digits: int = 4) -> str:
    """A number to ``digits`` significant digits; empty for None."""
    return "" if x is None else "%.*g" % (digits, x)


def depth_cell(depth_m: Optional[float]) -> str:
    """A depth in µm, or ``no burn`` where the threshold is reached nowhere."""
    return NO_BURN if depth_m is None else "%.1f" % (depth_m * 1e6)


def program_cells(doc: dict) -> dict:
    """The program's own outcome: its outcome word, the true depths where its Omega = 1, its Omega."""
    outcome = doc.get("outcome") or ""
    depths = ";".join("%.1f" % (c["depth_m"] * 1e6) for c in doc.get("crossings") or [])
    # The program judges "all below" and "all above" on its first and last
    # nodes alone; a band inside that passes 1 still has its crossings.
    if outcome in ("omega-at-node", "error"):
        depths = ""
    elif not depths:
        depths = {"all-below": NO_BURN, "all-above": "beyond the model"}.get(outcome, "none")
    om = doc.get("omega_at_output_node") or {}
    return {"program_outcome": outcome, "program_depth_um": depths,
            "program_omega": g(om.get("omega_unfloored"), 12) if om else ""}


def trial_cells(res: Results, skin: Optional[Skin], kinetics: Optional[KineticsLike], unit: str) -> dict:
    """The burn under the chosen kinetics, the program's outcome and the peak temperature of one run."""
    cells = program_cells(res.document)
    try:
        hist = res.temperature_K
    except ValueError:
        return cells
    try:
        res.require_finite()
    except NonFiniteHistory as e:
        cells.update({"burn": NOT_JUDGED, "error": f"NonFiniteHistory: {e}"})
        return cells
    node = res.output_node if res.outcome == "omega-at-node" and res.output_node > 0 else 1
    peak = float(hist[:, node - 1].max()) if hist.shape[0] else math.nan
    cells.update({f"peak_T_{unit}": g(peak - (273.15 if unit == "C" else 0.0), 6), "peak_node": node})
    if skin is None or res.status != 0:
        return cells
    a = assess(res, skin, kinetics)
    cells.update({"burn": a.name, "degree": a.degree, "kinetics": a.kinetics.name,
                  "omega_epidermis_base": g(a.omega_epidermis_base) if a.omega_epidermis_base is not None
                  else "beyond the model",
                  "omega_dermis_base": g(a.omega_dermis_base) if a.omega_dermis_base is not None
                  else "beyond the model",
                  "depth_omega_053_um": depth_cell(a.depth_reached_m.get(0.53)),
                  "depth_omega_1_um": depth_cell(a.depth_reached_m.get(1.0)),
                  "omega_growth_last_quarter": g(growth(res, skin.epidermis_base_m,
                                                        a.kinetics_of(ANSWER_DEGREES["omega 1"])), 3)})
    return cells


def growth(res: Results, depth_m: float, kinetics: Kinetics) -> Optional[float]:
    """ln(Omega at the end / Omega three quarters through the run) at a depth: how much the damage
    still grew at the end (about the relative growth). None where Omega stays below 1 % of 0.53."""
    from skinburn.kinetics import damage_integral
    from skinburn.results import depth_weights

    if depth_m > (res.nodes - 1) * res.deltax_m or res.rows < 5:
        return None
    a, b, i = depth_weights(depth_m, res.deltax_m, res.nodes, res.conductivity_W_mK)
    col = a * res.temperature_K[:, i] + (b * res.temperature_K[:, i + 1] if b else 0.0)
    omega = damage_integral(col, res.deltat_s, kinetics, cumulative=True)
    late, end = float(omega[int(0.75 * (res.rows - 1))]), float(omega[-1])
    if end < 0.01 * 0.53:
        return None
    return math.log(end / max(late, 1e-300))


def summarize(study: str, name: str, shown: str, template: Any, desc: Description, number_: int) -> dict:
    """The CSV cells of one case; writes the case's ``case.json`` (title, skin and kinetics judged under)."""
    from skinburn.trial import trial_from_dict

    path = os.path.join(study, name)
    case = desc.cases[number_ - 1]
    skin, kin = judged_by(template, desc, dict(desc.fixed, **case))
    title = case_title(desc, str(desc.fixed.get("title") or template.title()), number_, case)
    status = (read_text(os.path.join(path, "status")) or "").strip()
    out = read_text(os.path.join(path, "stdout.txt")) or ""
    err = read_text(os.path.join(path, "stderr.txt")) or ""
    row: dict = {"status": status, "error": first_error(out, err), "dir": os.path.join(shown, name) + "/"}
    if desc.search:
        row.update(search_cells(path, desc, template))
    elif status:
        prefix = Path(path, "results") if template.kind == "datadir" else Path(path, "run", "results")
        doc_path = prefix.with_name(prefix.name + ".json")
        if doc_path.exists():
            res = Results(json.loads(doc_path.read_text(encoding="utf-8")), prefix)
            if template.kind == "trial":
                trial = trial_from_dict(json.loads(Path(path, "trial.json").read_text()))
                skin, kin = skin or trial.skin, kin or trial.kinetics
            else:
                skin = skin or skin_preset("uniform")
            row.update(trial_cells(res, skin, kin, desc.temperature_unit))
            write_case_file(path, title, skin, kin)
    if not status:
        row["error"] = "did not complete (run the study again to resume)"
    elif status == "refused":
        row["error"] = (read_text(os.path.join(path, REFUSED)) or "").strip()
    elif status != "0" and not row["error"]:
        code = int(status)
        row["error"] = f"killed by signal {code - 128}" if code > 128 else f"exit status {code}"
    return row


def write_case_file(path: str, title: str, skin: Optional[Skin], kinetics: Optional[KineticsLike]) -> None:
    """``case.json`` of a case with results: its title, and the skin and kinetics its row is judged under
    (``kinetics`` null: the constants the program read). Written anew with every CSV."""
    doc = {"title": title,
           "skin": skin.to_dict() if skin is not None else None,
           "kinetics": kinetics.to_dict() if kinetics is not None else None,
           "kinetics_name": kinetics.name if kinetics is not None else None}
    text = json.dumps(doc, indent=1, sort_keys=True) + "\n"
    target = Path(path, CASE)
    if read_text(str(target)) != text:
        target.write_text(text, encoding="utf-8")


def shared_skin(cases: list) -> Optional[dict]:
    """The skin every case with results was judged at, for the figures (its name and its epidermis and
    dermis bases, m, from the cases' case.json); None where they differ or no case has results."""
    found = set()
    for path in cases:
        doc = json.loads(read_text(os.path.join(path, CASE)) or "null")
        if (doc or {}).get("skin"):
            skin = Skin.from_dict(doc["skin"])
            found.add((skin.name, skin.epidermis_base_m, skin.dermis_base_m))
    if len(found) != 1:
        return None
    name, epidermis, dermis = found.pop()
    return {"name": name, "epidermis_base_m": epidermis, "dermis_base_m": dermis}


def search_column(desc: Description, template: Any) -> str:
    """The name of the threshold column: the varied value (its last part for a trial), with its unit."""
    vary = desc.search["vary"]
    if template.kind == "datadir":
        try:
            return template.column(vary, [])[0]
        except StudyError:
            return vary
    last = vary.split(".")[-1]
    unit = desc.search.get("unit")
    return f"{last}_{unit}" if unit and not last.endswith("_" + unit) else last


def search_cells(path: str, desc: Description, template: Any) -> dict:
    """The threshold found by one case's search (or its failure)."""
    out = Path(path, "search.out.json")
    if not out.exists():
        return {}
    doc = json.loads(out.read_text())
    col = search_column(desc, template)
    if "failure" in doc:
        f = doc["failure"]
        return {"error": f"{f['kind']}: {f['error']}", f"threshold_{col}": "not bracketed"
                if f["kind"] == "BracketError" else ""}
    r = doc["result"]
    return {"degree": r["degree"], "kinetics": r["kinetics"], f"threshold_{col}": g(r["value"], 6),
            f"uncertainty_{col}": g(r.get("uncertainty"), 2), f"unburnt_{col}": g(r["unburnt_value"], 6),
            f"burnt_{col}": g(r["burnt_value"], 6),
            "runs": r["runs"], "deltax_um": g(r["deltax_m"] * 1e6 if r.get("deltax_m") else None),
            "deltat_s": g(r.get("deltat_s")), "after_exposure_s": g(r.get("after_exposure_s"))}


def result_columns(desc: Description, template: Any) -> list:
    """The CSV columns after the varied ones."""
    if desc.search:
        col = search_column(desc, template)
        return ["status", "degree", "kinetics", f"threshold_{col}", f"uncertainty_{col}", f"unburnt_{col}",
                f"burnt_{col}", "runs",
                "deltax_um", "deltat_s", "after_exposure_s", "error", "dir"]
    return list(TRIAL_COLUMNS) + [f"peak_T_{desc.temperature_unit}", "peak_node", "error", "dir"]


def write_csv(path: str, study: str, shown: str, names: list, template: Any, desc: Description) -> tuple:
    """Writes the CSV (and ``study.json`` beside it); returns (failed, unfinished, still growing)."""
    varied = []
    for key in desc.columns:
        name, cells = template.column(key, [case.get(key) for case in desc.cases])
        varied.append((key, name, cells))
    fields = ["trial"] + [v[1] for v in varied] + result_columns(desc, template)
    statuses = []
    failed = 0
    growing = 0
    text = io.StringIO(newline="")
    out = csv.DictWriter(text, fields, lineterminator="\n", extrasaction="ignore")
    out.writeheader()
    for number_, name in enumerate(names, 1):
        row = summarize(study, name, shown, template, desc, number_)
        statuses.append(row["status"])
        failed += case_failed(os.path.join(study, name), row["status"] or None) or row.get("burn") == NOT_JUDGED
        growing += bool(row.get("omega_growth_last_quarter")) and \
            float(row["omega_growth_last_quarter"]) > GROWTH_WARNING
        for _, column, cells in varied:
            cell = cells[number_ - 1]
            row[column] = "" if cell is None else word_of(cell)
        out.writerow(dict(row, trial=number_))
    meta = {"title": desc.title, "csv": os.path.basename(path), "template": template.kind,
            "varied": {column: key for key, column, _ in varied},
            "search": desc.search, "temperature_unit": desc.temperature_unit,
            "skin": shared_skin([os.path.join(study, name) for name in names])}
    # Each file is written whole (a kill part-way leaves the last one); the
    # CSV last, so that a CSV always has its study.json.
    write_whole(os.path.splitext(path)[0] + ".json", (json.dumps(meta, indent=1) + "\n").encode("utf-8"))
    write_whole(path, text.getvalue().encode("utf-8"))
    return failed, statuses.count(""), growing


def load_template(path: str, program: Program, desc: Description) -> Any:
    """A data directory, or a trial of the package in a JSON file."""
    if os.path.isdir(path):
        return DirTemplate(path, program, desc)
    if os.path.isfile(path):
        return TrialTemplate(path, desc)
    raise StudyError(f"{path}: neither a data directory nor a trial file")


def main(argv: list, executor: Optional[Executor] = None) -> int:
    """The command line (see the module's docstring); returns the exit status.

    With ``executor`` (any concurrent.futures.Executor: a Dask client's
    ``get_executor()``, mpi4py's ``MPIPoolExecutor``, ...) the cases are its
    tasks instead of GNU parallel's jobs (:func:`run_with_executor`); it is
    not shut down here."""
    if argv[:1] == ["--run-case"]:
        p = argparse.ArgumentParser()
        p.add_argument("--run-case", required=True)
        p.add_argument("--skinburn", required=True)
        a = p.parse_args(argv)
        return run_case(a.run_case, a.skinburn)
    if argv[:1] == ["--settle-case"]:
        p = argparse.ArgumentParser()
        p.add_argument("--settle-case", required=True)
        p.add_argument("--skinburn", required=True)
        a = p.parse_args(argv)
        return settle_case(a.settle_case, a.skinburn)
    ours, extra = (argv[:argv.index("--")], argv[argv.index("--") + 1:]) if "--" in argv \
        else (argv, [])
    p = argparse.ArgumentParser(
        usage="%(prog)s [options] TEMPLATE DESCRIPTION STUDYDIR [-- PARALLEL-OPTIONS...]",
        description=__doc__.split("\n\n")[0],
        epilog="Words after -- go to GNU parallel as they stand (e.g. --sshlogin, --slf).")
    p.add_argument("template", help="data directory, or a trial of the package in JSON")
    p.add_argument("description", help="JSON study description")
    p.add_argument("study", help="directory for the cases, joblog and CSV")
    p.add_argument("-j", "--jobs", help="cases at a time (default: one per CPU core)")
    p.add_argument("--csv", help="CSV file (default: STUDY/study.csv)")
    p.add_argument("--skinburn", default=os.environ.get("SKINBURN", str(HERE.parent.parent / "build" / "default"
                                                                         / "skinburn")),
                   help="the skinburn binary")
    p.add_argument("--per-job", type=int, metavar="K",
                   help="cases per GNU parallel job (default: a tenth of a slot's share)")
    p.add_argument("--executor", metavar="pool|ADDRESS",
                   help="run the cases without GNU parallel: pool, -j at a time on this machine, or on the "
                        "workers of the Dask scheduler at ADDRESS (tcp://host:8786)")
    p.add_argument("--force", action="store_true", help="run every case again")
    p.add_argument("--quiet", action="store_true", help="no progress display")
    args = p.parse_args(ours)
    held = contextlib.ExitStack()  # the study directory's lock, from the first case made to the CSV
    try:
        skinburn = os.path.abspath(args.skinburn)
        if not os.access(skinburn, os.X_OK):
            raise StudyError(f"{skinburn}: no skinburn binary (build it, or give --skinburn)")
        desc = read_description(args.description)
        template = load_template(args.template, Program.find(skinburn), desc)
        if args.per_job is not None and args.per_job < 1:
            raise StudyError("--per-job must be at least 1")
        if (executor is not None or args.executor) and extra:
            raise StudyError("the words after -- go to GNU parallel, which an executor replaces")
        held.enter_context(exclusive(args.study, "study"))
        names, pending = prepare(template, desc, args.study, args.force)
        refused = sum(trial_status(os.path.join(args.study, n)) == "refused" for n in names)
        done = len(names) - len(pending) - refused
        if pending:
            # Several trials to a job: GNU parallel takes tens of milliseconds
            # to start each job, as long as a short trial runs.
            slots = int(args.jobs) if (args.jobs or "").isdigit() else os.cpu_count() or 1
            quick = template.kind == "datadir" and not desc.search
            per_job = args.per_job or (max(1, min(20, len(pending) // (10 * max(slots, 1)))) if quick else 1)
            progress = None if args.quiet else Progress(args.study, names, set(pending))
            kind = "search" if desc.search else template.kind
            if executor is not None or args.executor:
                given, closing = (executor, None) if executor is not None else executor_of(args.executor, args.jobs)
                try:
                    run_with_executor(args.study, pending, case_command(kind, skinburn), given, progress)
                finally:
                    if closing is not None:
                        closing.close() if hasattr(closing, "close") else closing.shutdown()
            else:
                run_trials(args.study, pending, case_command(kind, skinburn), args.jobs, per_job, extra,
                           progress)
        csv_path = args.csv or os.path.join(args.study, "study.csv")
        failed, unfinished, growing = write_csv(csv_path, args.study, args.study.rstrip("/"), names, template,
                                                desc)
    except (StudyError, DirectoryInUse) as e:
        print(f"study: {e}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print("\nstudy: interrupted; run it again to resume", file=sys.stderr)
        return 130
    finally:
        held.close()
    print(f"study: {len(names)} trials ({len(pending)} run now, {done} already complete"
          + (f", {refused} refused by the package" if refused else "") + f"), {failed} failed; {csv_path}")
    if growing:
        print(f"study: in {growing} trials the damage still grew by more than {GROWTH_WARNING:g} over the "
              "last quarter of the run (omega_growth_last_quarter): lengthen the time after the exposure",
              file=sys.stderr)
    if unfinished:
        print(f"study: {unfinished} trials did not complete; run the study again to resume",
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
