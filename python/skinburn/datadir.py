"""A user's data directory, and copies of it with named values changed.

What the directory holds comes from ``skinburn --check=json`` alone: every
value word carries its file, byte offset and length, and a change replaces
exactly those bytes. Nothing here parses ``DATA.DAT``.

Names a change may use:

- an entry of ``DATA.DAT`` by name (``DELTAT``, ``TIMESTEPS``, ``LBC``) or
  number (``"18"``); ``FREQEXP`` takes the exponent (98 is written ``10^98``);
- ``jet.option``, ``jet.reynolds``, ``jet.nozzle_diameter_m``,
  ``jet.offaxis_spacing_m``, ``jet.standoff_m`` (``LEFTIMP.DAT``), and
  ``jet.standoff_ratio`` (the stand-off as a multiple of the nozzle diameter);
- ``jet.velocity`` and ``jet.boundary``: every value of that list of ``LEFTIMP.DAT``;
- a distribution block by the table it selected (``left_ambient``) or its
  name as written (``LEFT_AMBIENT``): every value of its pairs, the
  depths and times kept; ``left_ambient[2]``: the value of its second pair.
"""
from __future__ import annotations

import math
import os
import re
import shutil
from pathlib import Path
from typing import Any, Optional, Sequence, Union

from .program import CheckReport, Program

PathLike = Union[str, os.PathLike]

#: The files a data directory may hold as input (README, "What a data directory holds").
INPUT_FILES = ("DATA.DAT", "INITTEMP.DAT", "CONDUCT.DAT", "HEATCAP.DAT", "DENSITY.DAT", "LEFTBC.DAT",
               "LEFTAMB.DAT", "RIGHTBC.DAT", "RIGHTAMB.DAT", "LEFTIMP.DAT", "GASPROP.DAT")
_INTEGER_ENTRIES = {"OUTNODE", "VERBOSE", "PRINTAMATRIX", "PRINTINITTEMP", "BURNDEPTH", "BATCH", "TRIAL",
                    "TIMESTEPS", "NODES"}
_WORD_ENTRIES = {"EXECDATE", "EXECBY", "LBC", "RBC"}
_JET_VALUES = {"jet.option": "option", "jet.reynolds": "reynolds", "jet.nozzle_diameter_m": "nozzle_diameter_m",
               "jet.offaxis_spacing_m": "offaxis_spacing_m", "jet.standoff_m": "standoff_m"}
_PAIR = re.compile(r"^(?P<block>[^\[\]]+)\[(?P<index>\d+)\]$")


def _number_word(value: Any, integer: bool) -> str:
    if integer:
        if float(value) != int(float(value)):
            raise ValueError(f"{value!r} is not a whole number")
        return str(int(float(value)))
    x = float(value)
    if not math.isfinite(x):
        raise ValueError(f"cannot write {value!r}")
    return "0.0" if x == 0 else repr(x)


def value_word(value: Any, integer: bool = False) -> str:
    """The word a number is written as in a data file (shortest round trip; ``integer``: a whole number)."""
    return _number_word(value, integer)


class DataDirectory:
    """A data directory as the program reads it (``report``: its ``--check=json``)."""

    def __init__(self, path: PathLike, program: Optional[Union[Program, PathLike]] = None) -> None:
        self.path = Path(path)
        if not (self.path / "DATA.DAT").is_file():
            raise FileNotFoundError(f"{self.path} holds no DATA.DAT")
        self.program = Program.find(program)
        self.report: CheckReport = self.program.check(self.path)

    def __repr__(self) -> str:
        return f"DataDirectory({str(self.path)!r})"

    def value(self, name: str) -> Any:
        """The value of a name (see the module's list) as the program read it."""
        m = _PAIR.match(name)
        if m:
            block = self.report.block(m["block"])
            return block["pairs"][int(m["index"]) - 1][1]
        if name in _JET_VALUES:
            return self._jet()[_JET_VALUES[name]]["value"]
        if name == "jet.standoff_ratio":
            return self._jet()["standoff_ratio"]
        if name == "jet.velocity":
            return [p[1] for p in self._jet()["velocity_pairs"]]
        if name == "jet.boundary":
            self._jet()
            return [p[1] for p in self.report.block("left_bc")["pairs"]]
        try:
            return self.report.value(name)
        except KeyError:
            return [p[1] for p in self.report.block(name)["pairs"]]

    def _jet(self) -> dict:
        jet = self.report.jet
        if jet is None:
            raise KeyError("the directory has no jet (LEFTIMP.DAT is not called in)")
        return jet

    def _edits_for(self, name: str, value: Any, values: dict[str, Any]) -> list[tuple[str, int, int, str]]:
        """(file, offset, length, new word) for one named change."""
        m = _PAIR.match(name)
        if m:
            block = self.report.block(m["block"])
            k = int(m["index"]) - 1
            words = block.get("pair_words") or []
            if not 0 <= k < len(words):
                raise KeyError(f"{m['block']} has {len(words)} pairs, not {k + 1}")
            return [self._pair_edit(block, words[k], value)]
        if name in _JET_VALUES:
            loc = self._jet()[_JET_VALUES[name]]
            return [(loc["file"], loc["offset"], loc["length"], _number_word(value, False))]
        if name == "jet.standoff_ratio":
            nozzle = float(values.get("jet.nozzle_diameter_m", self._jet()["nozzle_diameter_m"]["value"]))
            loc = self._jet()["standoff_m"]
            return [(loc["file"], loc["offset"], loc["length"], _number_word(float(value) * nozzle, False))]
        if name == "jet.velocity":
            words = self._jet().get("velocity_words") or []
            return [(w["file"], w["y"][0], w["y"][1], _number_word(value, False)) for w in words]
        if name == "jet.boundary":
            # The jet's boundary list is the left boundary block read from LEFTIMP.DAT.
            self._jet()
            words = self.report.block("left_bc").get("pair_words") or []
            return [(w["file"], w["y"][0], w["y"][1], _number_word(value, False)) for w in words]
        try:
            entry = self.report.entry(name)
        except KeyError:
            entry = None
        if entry is not None:
            return [self._entry_edit(entry, value)]
        block = self.report.block(name)
        return [self._pair_edit(block, w, value) for w in block.get("pair_words") or []]

    def _entry_edit(self, entry: dict, value: Any) -> tuple[str, int, int, str]:
        name = entry["name"]
        if (entry.get("default") or {}).get("absent"):
            raise ValueError(f"{name} is left out of DATA.DAT (FREQFACTOR is 0); write the exponent line first")
        if name == "FREQFACTOR":
            read_zero = bool(entry.get("default"))
            if read_zero != (float(value) == 0):
                raise ValueError("FREQFACTOR 0 leaves the exponent entry out of DATA.DAT: changing to or "
                                 "from 0 would shift every entry after it")
        if name in _WORD_ENTRIES:
            word = str(value)
            if not word or any(c.isspace() for c in word):
                raise ValueError(f"{name} takes one word, not {value!r}")
        elif name == "FREQEXP":
            word = f"10^{_number_word(value, True)}"
        else:
            word = _number_word(value, name in _INTEGER_ENTRIES)
        w = entry["word"]
        return (w["file"], w["offset"], w["length"], word)

    def pair_edit(self, block: dict, words: dict, value: Any) -> tuple[str, int, int, str]:
        """(file, offset, length, word) giving one pair of a ``--check=json`` block (``words``, an item
        of its ``pair_words``) the value ``value``; a signed value inline in DATA.DAT is refused."""
        return self._pair_edit(block, words, value)

    def _pair_edit(self, block: dict, words: dict, value: Any) -> tuple[str, int, int, str]:
        word = _number_word(value, False)
        if words["file"] == "DATA.DAT" and word.startswith("-"):
            raise ValueError(f"{word}: a signed value inline in DATA.DAT is skipped by the program; "
                             "move the block to its separate data file")
        return (words["file"], words["y"][0], words["y"][1], word)

    def edits(self, values: dict[str, Any]) -> list[tuple[str, int, int, str]]:
        """(file, byte offset, length, new word) for every change ``values`` names, nothing written."""
        out: list[tuple[str, int, int, str]] = []
        for name, value in values.items():
            out += self._edits_for(name, value, values)
        return out

    def edited_files(self, values: dict[str, Any],
                     raw: Sequence[tuple[str, int, int, str]] = ()) -> dict[str, bytes]:
        """The input files (name -> bytes) with ``values`` changed and the ``raw`` word replacements made.

        ``raw`` holds (file, byte offset, length, new word) taken from the
        check report's word locations (a pair's time, say). Nothing is
        written; two changes of one word are refused.
        """
        files = {name: (self.path / name).read_bytes() for name in INPUT_FILES if (self.path / name).is_file()}
        by_file: dict[str, list[tuple[int, int, str]]] = {}
        for f, off, length, word in self.edits(values) + list(raw):
            by_file.setdefault(f, []).append((off, length, word))
        for f, changes in by_file.items():
            if f not in files:
                raise FileNotFoundError(f"{self.path} holds no {f}")
            data = bytearray(files[f])
            changes.sort(reverse=True)
            for (off, length, word), later in zip(changes, [None] + changes[:-1]):
                if later is not None and off + length > later[0]:
                    raise ValueError(f"two changes overlap in {f} at byte {off}")
                data[off:off + length] = word.encode("ascii")
            files[f] = bytes(data)
        return files

    def edited(self, values: dict[str, Any], into: PathLike) -> "DataDirectory":
        """A copy of the input files in ``into`` with ``values`` changed, checked by the program.

        ``into`` is created or emptied of input files; the original is never touched.
        """
        files = self.edited_files(values)
        target = Path(into)
        copy_inputs(self.path, target)
        for f, data in files.items():
            (target / f).write_bytes(data)
        return DataDirectory(target, self.program)


def copy_inputs(source: PathLike, target: PathLike) -> Path:
    """Copy the input files of a data directory (never ``OUTPUT.TXT``) into ``target``."""
    src, dst = Path(source), Path(target)
    dst.mkdir(parents=True, exist_ok=True)
    for name in INPUT_FILES:
        if (dst / name).exists():
            (dst / name).unlink()
        if (src / name).is_file():
            shutil.copyfile(src / name, dst / name)
    if (dst / "OUTPUT.TXT").exists():
        (dst / "OUTPUT.TXT").unlink()
    return dst
