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
--sshlogin, --slf, --workdir).

What a data directory holds comes from ``skinburn --check=json`` through the
package (skinburn.datadir): every value word with its file, byte offset and
length. See README.md next to this file for the keys and the CSV columns.
"""
from __future__ import annotations

import argparse
import copy
import csv
import dataclasses
import hashlib
import itertools
import json
import math
import os
import shlex
import shutil
import subprocess
import sys
import threading
from pathlib import Path
from typing import Any, Optional, Sequence

HERE = Path(__file__).resolve().parent
PACKAGE = HERE.parent.parent / "python"
sys.path.insert(0, str(PACKAGE))

from skinburn.assess import assess  # noqa: E402
from skinburn.datadir import DataDirectory, value_word  # noqa: E402
from skinburn.kinetics import Kinetics, kinetics_preset  # noqa: E402
from skinburn.program import Program  # noqa: E402
from skinburn.results import Results  # noqa: E402
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


class StudyError(Exception):
    """A faulty description or template (exit status 2)."""


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
    cooling_s: Optional[float] = None
    temperature_unit: str = "K"


def read_description(path: str) -> Description:
    """The description in a JSON file (see README.md)."""
    try:
        with open(path, encoding="utf-8") as f:
            desc = json.load(f)
    except (OSError, ValueError) as e:
        raise StudyError(f"{path}: {e}")
    known = {"grid", "cases", "set", "title", "search", "skin", "kinetics", "exposure_end_s", "cooling_s",
             "temperature_unit"}
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
                       desc.get("kinetics"), desc.get("exposure_end_s"), desc.get("cooling_s"), unit)


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

    def pair_list(self, name: str) -> tuple[str, list[dict]]:
        """(the file's rule, word locations) of a list of pairs: a block or jet.velocity / jet.boundary."""
        if name == "jet.velocity":
            return "jet", self._jet().get("velocity_words") or []
        if name == "jet.boundary":
            self._jet()
            return "jet", self.report.block("left_bc").get("pair_words") or []
        b = self.block(name)
        if b is None:
            raise StudyError(self.unknown(name))
        if b.get("source") == "LEFTIMP.DAT":
            raise StudyError(f"{name}: the block comes from LEFTIMP.DAT; vary jet.* values")
        return "block", b.get("pair_words") or []

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
        raw: list[tuple[str, int, int, str]] = []
        duration = None
        for key, value in case.items():
            kind, name, _ = self.canonical(key)
            if kind == "entry":
                if name == "FREQEXP" and isinstance(value, str) and value.startswith("10^"):
                    value = value[3:]
                values[name] = value
            elif kind in ("jet", "block", "pair"):
                if isinstance(value, str) and value[-1:] in ("K", "C") and kind != "jet":
                    value = temperature_of(value, key)
                values[name] = number(value, key)
            elif kind in ("scale", "offset"):
                how, words = self.pair_list(name)
                v = number(value, key)
                pairs = self._pairs(name)
                for w, (_, y) in zip(words, pairs):
                    new = y * v if kind == "scale" else y + v
                    raw.append(self._y_edit(how, name, w, new))
            elif kind == "duration":
                duration = number(value, key)
        if duration is not None:
            raw += self._duration_edits(duration, values)
        return self.d.edited_files(values, raw)


    def _pairs(self, name: str) -> list:
        if name == "jet.velocity":
            return self._jet()["velocity_pairs"]
        if name == "jet.boundary":
            return self.report.block("left_bc")["pairs"]
        b = self.block(name)
        return b["pairs"] if b else []

    def _y_edit(self, how: str, name: str, words: dict, value: float) -> tuple[str, int, int, str]:
        if how == "block":
            b = self.block(name)
            return self.d.pair_edit(b, words, value)
        return (words["file"], words["y"][0], words["y"][1], value_word(value, False))

    def exposure_end_s(self) -> float:
        """When the template's exposure ends: the description's, else the jet's end, else an error."""
        if self.desc.exposure_end_s is not None:
            return float(self.desc.exposure_end_s)
        run_end = float(self.report.value("TIMESTEPS")) * float(self.report.value("DELTAT"))
        if self.report.jet is None:
            raise StudyError(f"{DURATION}: give \"exposure_end_s\" in the description (when the template's "
                             "exposure ends); only a jet's end is found by itself")
        pairs = self.report.block("left_bc")["pairs"]
        for (t, y), (_, y_next) in zip(pairs, pairs[1:]):
            if y == 1.0 and y_next != 1.0:
                return min(float(t), run_end)
        return run_end

    def _duration_edits(self, new_end: float, values: dict) -> list[tuple[str, int, int, str]]:
        """Word edits that cut or stretch the left face's tables at the exposure's end.

        Times before the end stay; times at or after it move by the change
        (what follows is kept); on a cut, pairs between the new and the old
        end move to the new end with the value the table had there. The run
        is lengthened or shortened by the change, so the time after the
        exposure stays (``cooling_s`` sets it), and every other time table
        that would end before the run is carried to its end.
        """
        if not new_end > 0:
            raise ValueError(f"{DURATION} must be positive")
        old_end = self.exposure_end_s()
        deltat = float(values.get("DELTAT", self.report.value("DELTAT")))
        steps = float(values.get("TIMESTEPS", self.report.value("TIMESTEPS")))
        cooling = self.desc.cooling_s if self.desc.cooling_s is not None else max(steps * deltat - old_end, 0.0)
        run_end = new_end + cooling
        if "TIMESTEPS" not in values:
            values["TIMESTEPS"] = max(1, math.ceil(run_end / deltat - 1e-9))
            run_end = values["TIMESTEPS"] * deltat
        shift = new_end - old_end
        lists: list[tuple[str, str]] = []
        if self.report.jet is not None:
            lists += [("jet", "jet.boundary"), ("jet", "jet.velocity")]
        else:
            lists.append(("block", "left_bc"))
        if self.block("left_ambient") is not None:
            lists.append(("block", "left_ambient"))
        edits = []
        moved = set()
        for how, name in lists:
            words = self.pair_list(name)[1]
            pairs = self._pairs(name)
            if not words:
                continue
            xs = [p[0] for p in pairs]
            ys = [p[1] for p in pairs]
            for w, (t, _) in zip(words, pairs):
                if t >= old_end:
                    new_t = t + shift
                elif t > new_end:
                    new_t = new_end
                    at = _interpolate(xs, ys, new_end)
                    edits.append(self._y_edit(how, name, w, at))
                else:
                    continue
                edits.append((w["file"], w["x"][0], w["x"][1], value_word(float("%.12g" % new_t), False)))
            moved.add(name)
            last_t = max(x + shift if x >= old_end else min(x, new_end) for x in xs)
            if last_t < run_end:
                edits += self._cover(words[-1], run_end, edits)
        for b in self.report.document.get("blocks") or []:
            laid = b.get("laid") or {}
            if laid.get("grid") != "time" or b.get("table") in moved or not b.get("pair_words"):
                continue
            if b["pairs"][-1][0] < run_end:
                edits += self._cover(b["pair_words"][-1], run_end, edits)
        return edits

    @staticmethod
    def _cover(words: dict, run_end: float, edits: list) -> list:
        """The last pair's time carried to one step past the run's end (replacing an earlier edit of it)."""
        loc = (words["file"], words["x"][0], words["x"][1])
        edits[:] = [e for e in edits if e[:3] != loc]
        return [(*loc, value_word(run_end * 1.001, False))]


def _interpolate(xs: Sequence[float], ys: Sequence[float], x: float) -> float:
    """A table's value at x (straight lines; the last value beyond the end)."""
    for (x0, y0), (x1, y1) in zip(zip(xs, ys), zip(xs[1:], ys[1:])):
        if x0 <= x <= x1:
            return y0 if x1 == x0 else y0 + (y1 - y0) * (x - x0) / (x1 - x0)
    return ys[-1] if x > xs[-1] else ys[0]


# --- Templates: a trial of the package ----------------------------------------

class TrialTemplate:
    """A trial of the Python package in JSON; a key is a dotted path into it (list items by number)."""

    kind = "trial"

    def __init__(self, path: str, desc: Description) -> None:
        from skinburn.trial import trial_from_dict

        try:
            self.data = json.loads(Path(path).read_text(encoding="utf-8"))
            trial_from_dict(self.data)
        except (OSError, ValueError, KeyError, TypeError) as e:
            raise StudyError(f"{path}: not a trial of the package ({e})")
        self.desc = desc

    def _expanded(self, holder: Any, part: str) -> Any:
        """A preset skin or kinetics written out in full, so that its values can be set one by one."""
        value = holder[part]
        if isinstance(value, dict) and "preset" in value:
            obj = skin_preset(value["preset"]) if part == "skin" else kinetics_preset(value["preset"])
            try:
                value = dataclasses.replace(obj, key=None).to_dict()
            except TypeError:
                value = obj.to_dict()
            holder[part] = value
        return value

    def _walk(self, data: dict, key: str) -> tuple[Any, Any]:
        """(container, item) of the value a dotted key names."""
        parts = key.split(".")
        holder: Any = data
        for i, part in enumerate(parts[:-1]):
            item: Any = int(part) if isinstance(holder, list) and part.isdigit() else part
            try:
                if part in ("skin", "kinetics") and holder is data:
                    self._expanded(holder, part)
                holder = holder[item]
            except (KeyError, IndexError, TypeError):
                raise StudyError(f"{key}: the trial has no {'.'.join(parts[:i + 1])}")
        last: Any = int(parts[-1]) if isinstance(holder, list) and parts[-1].isdigit() else parts[-1]
        try:
            holder[last]
        except (KeyError, IndexError, TypeError):
            raise StudyError(f"{key}: the trial has no such value")
        return holder, last

    def _set(self, data: dict, key: str, value: Any) -> None:
        if key == "exposure.standoff_ratio":
            nozzle = data["exposure"].get("nozzle_diameter_m")
            if nozzle is None:
                raise StudyError(f"{key}: the exposure is not a jet")
            data["exposure"]["standoff_m"] = float("%.12g" % (number(value, key) * nozzle))
            return
        base, _, suffix = key.rpartition(".")
        if suffix in ("scale", "offset") and base:
            holder, item = self._walk(data, base)
            current = holder[item]
            v = number(value, key)
            op = (lambda y: y * v) if suffix == "scale" else (lambda y: y + v)
            if isinstance(current, dict) and "times_s" in current:
                k = "values_K" if "values_K" in current else "values"
                current[k] = [op(y) for y in current[k]]
            elif isinstance(current, dict) and set(current) == {"K"}:
                current["K"] = op(current["K"])
            elif isinstance(current, (int, float)) and not isinstance(current, bool):
                holder[item] = op(current)
            else:
                raise StudyError(f"{key}: {base} is not a number, temperature or series")
            return
        if key in ("skin", "kinetics"):
            if isinstance(value, str):
                value = {"preset": value}
            data[key] = value
            return
        holder, item = self._walk(data, key)
        current = holder[item]
        is_temp = (isinstance(current, dict) and ("values_K" in current or set(current) == {"K"})) or \
            (current is None and isinstance(value, str) and value[-1:] in ("K", "C"))
        if is_temp and not isinstance(value, dict):
            holder[item] = {"K": temperature_of(value, key)}
        elif isinstance(value, (dict, list, str)) or value is None:
            holder[item] = value
        else:
            holder[item] = number(value, key) if not isinstance(current, int) or isinstance(current, bool) \
                else value

    def trial_dict(self, number_: int, case: dict) -> dict:
        """The trial of one case in JSON."""
        from skinburn.trial import trial_from_dict

        data = copy.deepcopy(self.data)
        for key, value in case.items():
            self._set(data, key, value)
        try:
            trial_from_dict(data)
        except (ValueError, TypeError, KeyError, AttributeError) as e:
            raise StudyError(f"trial {number_}: {json.dumps(case)}: {e}")
        return data

    def files(self, number_: int, case: dict) -> dict[str, bytes]:
        """The one input file of a case: ``trial.json``."""
        return {"trial.json": json.dumps(self.trial_dict(number_, case), indent=1, sort_keys=True).encode()}

    def column(self, key: str, words: list) -> tuple[str, list]:
        """The CSV column of a varied key and its cells (temperatures in one unit, named)."""
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
    """The package's search job (skinburn.search.job_to_dict) of one case."""
    from skinburn.search import SearchJob, job_to_dict
    from skinburn.trial import trial_from_dict

    s = desc.search
    base: Any = trial_from_dict(template.trial_dict(number_, case)) if template.kind == "trial" \
        else os.path.abspath(path)
    skin = skin_preset(desc.skin) if desc.skin else None
    if template.kind == "datadir" and skin is None:
        raise StudyError("a search on a data directory needs \"skin\" (whose criterion depths it uses)")
    kin = kinetics_preset(desc.kinetics) if desc.kinetics else None
    job = SearchJob(base, s["vary"], float(s["range"][0]), float(s["range"][1]), int(s.get("degree", 2)), kin,
                    skin, s.get("unit"), None, float(s.get("rtol", 1e-3)), {"trial": number_})
    return job_to_dict(job)


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
        files = template.files(number_, dict(desc.fixed, **case))
        if desc.search:
            job = search_job(template, desc, os.path.join(study, names[number_ - 1]), number_,
                             dict(desc.fixed, **case))
            files["search.json"] = json.dumps(job, sort_keys=True).encode()
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
        pending.append(name)
    return names, pending


# --- Running with GNU parallel ------------------------------------------------

class Progress(threading.Thread):
    """Cases done / total and failures so far, from the status files."""

    def __init__(self, study: str, names: list, pending: set) -> None:
        super().__init__(daemon=True)
        self.study, self.waiting, self.total = study, list(pending), len(names)
        self.done, self.failed = self.total - len(pending), sum(
            trial_status(os.path.join(study, n)) != "0" for n in names if n not in pending)
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
                self.failed += status != "0"
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


def case_command(kind: str, skinburn: str) -> str:
    """The shell command that runs case "$t" (inside the study directory)."""
    py = (f"env PYTHONPATH={shlex.quote(str(PACKAGE))} PYTHONDONTWRITEBYTECODE=1 "
          f"{shlex.quote(sys.executable)}")
    if kind == "search":
        return (f"{py} -m skinburn search-job \"$t/search.json\" \"$t/search.out.json\" "
                f"--skinburn {shlex.quote(skinburn)}")
    if kind == "trial":
        return f"{py} {shlex.quote(str(HERE / 'study.py'))} --run-case \"$t\" --skinburn {shlex.quote(skinburn)}"
    return f"{shlex.quote(skinburn)} --results \"$t/results\" \"$t/\""


def run_trials(study: str, pending: list, command: str, jobs: Optional[str], per_job: int, extra: list,
               progress: Optional[Progress]) -> None:
    """Run the pending cases with GNU parallel, ``per_job`` to a job."""
    joblog = os.path.join(study, "joblog")
    if os.path.exists(joblog):
        os.remove(joblog)
    # A GNU parallel job runs `per_job` cases one after the other, each with
    # stdin empty (the all-nodes Omega outcomes and error reports wait for a
    # key), and writes each case's status after its run. A case stopped by
    # SIGHUP, SIGINT, SIGKILL or SIGTERM (an interrupted study) gets no
    # status, ends the job and runs again next time. The job's exit value is
    # the number of its cases that failed.
    job = (f"cd {shlex.quote(os.path.abspath(study))} || exit 255; f=0; for t in {{}}; do "
           f"{command} </dev/null >\"$t/stdout.txt\" 2>\"$t/stderr.txt\"; "
           "s=$?; case $s in 129|130|137|143) exit $s;; esac; "
           "echo $s >\"$t/status\"; [ $s -eq 0 ] || f=$((f+1)); done; exit $f")
    # Without -j, one job per CPU core on every machine.
    cmd = ["parallel", "--will-cite", "--use-cores-instead-of-threads", "--ungroup",
           "--joblog", joblog, "-n", str(per_job)]
    cmd += ["-j", str(jobs)] if jobs else []
    cmd += extra + [job]
    env = dict(os.environ, PARALLEL_SHELL="/bin/sh")
    try:
        proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, env=env, text=True)
    except FileNotFoundError:
        raise StudyError("GNU parallel is not installed (Debian: apt-get install parallel)")
    if progress:
        progress.start()
    try:
        proc.communicate("".join(n + "\n" for n in pending))
    except KeyboardInterrupt:
        proc.wait()
        raise
    finally:
        if progress:
            progress.stopped.set()
            progress.join()
            progress.show(final=True)


def run_case(directory: str, skinburn: str) -> int:
    """One case of a study on a trial of the package (a GNU parallel job): settle, run, keep the results.

    The results are in ``DIRECTORY/run/`` (``results.json``, ``results.npy``,
    ``OUTPUT.TXT``); how the grid and cooling were settled in
    ``settlement.json``. The status is the run's; an error is printed.
    """
    from skinburn.program import ProgramError
    from skinburn.run import run
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
    if outcome == "all-below" or (outcome == "burn-depth" and not depths):
        depths = NO_BURN if outcome == "all-below" else "none"
    elif outcome == "all-above":
        depths = "beyond the model"
    elif outcome in ("omega-at-node", "error"):
        depths = ""
    om = doc.get("omega_at_output_node") or {}
    return {"program_outcome": outcome, "program_depth_um": depths,
            "program_omega": g(om.get("omega_unfloored"), 12) if om else ""}


def trial_cells(res: Results, skin: Optional[Skin], kinetics: Optional[Kinetics], unit: str) -> dict:
    """The burn under the chosen kinetics, the program's outcome and the peak temperature of one run."""
    cells = program_cells(res.document)
    try:
        hist = res.temperature_K
    except ValueError:
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
                  "omega_growth_last_quarter": g(growth(res, skin.epidermis_base_m, a.kinetics), 3)})
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


def summarize(study: str, name: str, shown: str, template: Any, desc: Description) -> dict:
    """The CSV cells of one case."""
    from skinburn.trial import trial_from_dict

    path = os.path.join(study, name)
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
                skin = skin_preset(desc.skin) if desc.skin else trial.skin
                kin = kinetics_preset(desc.kinetics) if desc.kinetics else trial.kinetics
            else:
                skin = skin_preset(desc.skin) if desc.skin else skin_preset("uniform")
                kin = kinetics_preset(desc.kinetics) if desc.kinetics else None
            row.update(trial_cells(res, skin, kin, desc.temperature_unit))
    if not status:
        row["error"] = "did not complete (run the study again to resume)"
    elif status != "0" and not row["error"]:
        code = int(status)
        row["error"] = f"killed by signal {code - 128}" if code > 128 else f"exit status {code}"
    return row


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
            f"unburnt_{col}": g(r["unburnt_value"], 6), f"burnt_{col}": g(r["burnt_value"], 6),
            "runs": r["runs"], "deltax_um": g(r["deltax_m"] * 1e6 if r.get("deltax_m") else None),
            "deltat_s": g(r.get("deltat_s")), "after_exposure_s": g(r.get("after_exposure_s"))}


def result_columns(desc: Description, template: Any) -> list:
    """The CSV columns after the varied ones."""
    if desc.search:
        col = search_column(desc, template)
        return ["status", "degree", "kinetics", f"threshold_{col}", f"unburnt_{col}", f"burnt_{col}", "runs",
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
    growing = 0
    with open(path, "w", newline="") as f:
        out = csv.DictWriter(f, fields, lineterminator="\n", extrasaction="ignore")
        out.writeheader()
        for number_, name in enumerate(names, 1):
            row = summarize(study, name, shown, template, desc)
            statuses.append(row["status"])
            growing += bool(row.get("omega_growth_last_quarter")) and \
                float(row["omega_growth_last_quarter"]) > GROWTH_WARNING
            for _, column, cells in varied:
                cell = cells[number_ - 1]
                row[column] = "" if cell is None else word_of(cell)
            out.writerow(dict(row, trial=number_))
    meta = {"title": desc.title, "csv": os.path.basename(path), "template": template.kind,
            "varied": {column: key for key, column, _ in varied},
            "search": desc.search, "temperature_unit": desc.temperature_unit}
    with open(os.path.splitext(path)[0] + ".json", "w") as f:
        json.dump(meta, f, indent=1)
        f.write("\n")
    return sum(s not in ("0", "") for s in statuses), statuses.count(""), growing


def load_template(path: str, program: Program, desc: Description) -> Any:
    """A data directory, or a trial of the package in a JSON file."""
    if os.path.isdir(path):
        return DirTemplate(path, program, desc)
    if os.path.isfile(path):
        return TrialTemplate(path, desc)
    raise StudyError(f"{path}: neither a data directory nor a trial file")


def main(argv: list) -> int:
    """The command line (see the module's docstring); returns the exit status."""
    if argv[:1] == ["--run-case"]:
        p = argparse.ArgumentParser()
        p.add_argument("--run-case", required=True)
        p.add_argument("--skinburn", required=True)
        a = p.parse_args(argv)
        return run_case(a.run_case, a.skinburn)
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
    p.add_argument("--force", action="store_true", help="run every case again")
    p.add_argument("--quiet", action="store_true", help="no progress display")
    args = p.parse_args(ours)
    try:
        skinburn = os.path.abspath(args.skinburn)
        if not os.access(skinburn, os.X_OK):
            raise StudyError(f"{skinburn}: no skinburn binary (build it, or give --skinburn)")
        desc = read_description(args.description)
        template = load_template(args.template, Program.find(skinburn), desc)
        if args.per_job is not None and args.per_job < 1:
            raise StudyError("--per-job must be at least 1")
        names, pending = prepare(template, desc, args.study, args.force)
        done = len(names) - len(pending)
        if pending:
            # Several trials to a job: GNU parallel takes tens of milliseconds
            # to start each job, as long as a short trial runs.
            slots = int(args.jobs) if (args.jobs or "").isdigit() else os.cpu_count() or 1
            quick = template.kind == "datadir" and not desc.search
            per_job = args.per_job or (max(1, min(20, len(pending) // (10 * max(slots, 1)))) if quick else 1)
            progress = None if args.quiet else Progress(args.study, names, set(pending))
            kind = "search" if desc.search else template.kind
            run_trials(args.study, pending, case_command(kind, skinburn), args.jobs, per_job, extra, progress)
        csv_path = args.csv or os.path.join(args.study, "study.csv")
        failed, unfinished, growing = write_csv(csv_path, args.study, args.study.rstrip("/"), names, template,
                                                desc)
    except StudyError as e:
        print(f"study: {e}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print("\nstudy: interrupted; run it again to resume", file=sys.stderr)
        return 130
    print(f"study: {len(names)} trials ({len(pending)} run now, {done} already complete), "
          f"{failed} failed; {csv_path}")
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
