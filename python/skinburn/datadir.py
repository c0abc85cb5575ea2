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

Offsets hold only for the bytes the program read. A :class:`DataDirectory`
therefore keeps, for every input file, its size, modification time and
SHA-256 as they were when the report was made (the report is taken again
if a file changed while the program read it), and a change is made only
while every input file is still as read (none added or removed), at a word
that is still in place: a
whole word (white space or the file's end on both sides) whose text, where
the report gives it, is the text the program read. Otherwise
:class:`DirectoryChanged` names the file and the word, and nothing is
written. Files are written whole: to a temporary file in the target
directory, then renamed over the old one.

Holds :class:`DataDirectory`, :class:`DirectoryChanged` and
:func:`copy_inputs`. Uses :mod:`skinburn.program` and :mod:`skinburn.results`
(its :func:`~skinburn.results.write_whole`, also found here).
"""
from __future__ import annotations

import hashlib
import math
import os
import re
import shutil
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Iterator, Optional, Sequence, Union

from .program import CheckReport, Program
from .results import write_whole  # noqa: F401 (also found here)
from .units import SkinburnError

PathLike = Union[str, os.PathLike]

#: The files a data directory may hold as input (README, "What a data directory holds").
INPUT_FILES = ("DATA.DAT", "INITTEMP.DAT", "CONDUCT.DAT", "HEATCAP.DAT", "DENSITY.DAT", "LEFTBC.DAT",
               "LEFTAMB.DAT", "RIGHTBC.DAT", "RIGHTAMB.DAT", "LEFTIMP.DAT", "GASPROP.DAT")
_JET_VALUES = {"jet.option": "option", "jet.reynolds": "reynolds", "jet.nozzle_diameter_m": "nozzle_diameter_m",
               "jet.offaxis_spacing_m": "offaxis_spacing_m", "jet.standoff_m": "standoff_m"}
_PAIR = re.compile(r"^(?P<block>[^\[\]]+)\[(?P<index>\d+)\]$")
#: White space between the words of a data file (docs/data-files.md, "Words").
_BLANKS = b" \t\r\n"
#: How often the report is taken again when a file changes while the program reads it.
_CHECK_ATTEMPTS = 3

Edit = tuple[str, int, int, str]


class DirectoryChanged(SkinburnError, RuntimeError):
    """An input file is not what the program read when the report was made: no offset of it can be trusted.

    ``file`` is the file's path and ``word`` says which change met it.
    """

    def __init__(self, message: str, file: Path, word: str = "") -> None:
        super().__init__(message)
        self.file = file
        self.word = word


@dataclass(frozen=True)
class FileState:
    """An input file as it was read: size in bytes, modification time in ns, SHA-256 of its bytes."""

    size: int
    mtime_ns: int
    sha256: str

    @classmethod
    def of(cls, data: bytes, mtime_ns: int) -> "FileState":
        """The state of the bytes ``data`` last modified at ``mtime_ns``."""
        return cls(len(data), mtime_ns, hashlib.sha256(data).hexdigest())

    def holds(self, data: bytes) -> bool:
        """True when ``data`` are the bytes this state was taken of."""
        return len(data) == self.size and hashlib.sha256(data).hexdigest() == self.sha256


def _file_states(directory: Path) -> dict[str, FileState]:
    """The state of every input file present in ``directory``."""
    states = {}
    for name in INPUT_FILES:
        path = directory / name
        try:
            with open(path, "rb") as f:
                mtime = os.fstat(f.fileno()).st_mtime_ns
                states[name] = FileState.of(f.read(), mtime)
        except (FileNotFoundError, IsADirectoryError, NotADirectoryError):
            continue
    return states


def _recorded_words(document: Any) -> Iterator[tuple[str, int, int, str, bytes]]:
    """(file, offset, length, text, bytes) of every word whose text the report gives (its bytes from
    ``text_hex`` when they are not UTF-8)."""
    if isinstance(document, dict):
        if {"file", "offset", "length", "text"} <= document.keys():
            text = str(document["text"])
            hexed = document.get("text_hex")
            raw = bytes.fromhex(hexed) if isinstance(hexed, str) else text.encode("utf-8")
            yield document["file"], int(document["offset"]), int(document["length"]), text, raw
        for v in document.values():
            yield from _recorded_words(v)
    elif isinstance(document, list):
        for v in document:
            yield from _recorded_words(v)


def _same_directory(a: Path, b: Path) -> bool:
    try:
        return os.path.samefile(a, b)
    except OSError:
        return a.resolve() == b.resolve()


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
    """A data directory as the program reads it (``report``: its ``--check=json``).

    ``files_read`` holds the :class:`FileState` of each input file the
    report was made from.
    """

    def __init__(self, path: PathLike, program: Optional[Union[Program, PathLike]] = None) -> None:
        self.path = Path(path)
        if not (self.path / "DATA.DAT").is_file():
            raise FileNotFoundError(f"{self.path} holds no DATA.DAT")
        self.program = Program.find(program)
        for _ in range(_CHECK_ATTEMPTS):
            before = _file_states(self.path)
            report = self.program.check(self.path)
            after = _file_states(self.path)
            if before == after:
                break
        else:
            raise DirectoryChanged(f"{self.path}: its input files changed each time the program read them",
                                   self.path)
        self.report: CheckReport = report
        self.files_read: dict[str, FileState] = after

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
        kind = entry["kind"]  # how the program reads the word: "real", "integer" or "text"
        if kind == "text":
            word = str(value)
            if not word or any(c.isspace() for c in word):
                raise ValueError(f"{name} takes one word, not {value!r}")
        elif name == "FREQEXP":
            word = f"10^{_number_word(value, True)}"
        else:
            word = _number_word(value, kind == "integer")
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

    def edits(self, values: dict[str, Any]) -> list[Edit]:
        """(file, byte offset, length, new word) for every change ``values`` names, nothing written."""
        return [edit for _, edit in self._named_edits(values)]

    def _named_edits(self, values: dict[str, Any]) -> list[tuple[str, Edit]]:
        out: list[tuple[str, Edit]] = []
        for name, value in values.items():
            out += [(name, e) for e in self._edits_for(name, value, values)]
        return out

    def _read_verified(self, changes: dict[str, list[tuple[str, int, int, str]]]) -> dict[str, bytes]:
        """The input files' bytes as they are now; DirectoryChanged unless every input file (changed
        or copied as it is, present or absent) is the one the report was made from, and every word to
        be changed in place."""
        files = {}
        for name in INPUT_FILES:
            try:
                files[name] = (self.path / name).read_bytes()
            except (FileNotFoundError, IsADirectoryError, NotADirectoryError):
                continue
        for f in sorted((set(files) | set(self.files_read)) - set(changes)):
            # A file left as it is must be the one read too: else a copy mixes two versions of the directory.
            state, path = self.files_read.get(f), self.path / f
            if state is None or f not in files or not state.holds(files[f]):
                then = "absent" if state is None else f"{state.size} bytes"
                now = "absent" if f not in files else f"{len(files[f])} bytes"
                raise DirectoryChanged(f"{path} changed since the program read it ({then} then, {now} now): a "
                                       "copy would mix two versions of the directory; nothing was written: make "
                                       "a new DataDirectory", path)
        recorded = {(f, off, length): (text, raw)
                    for f, off, length, text, raw in _recorded_words(self.report.document)}
        for f, words in changes.items():
            path = self.path / f
            if f not in files:
                raise FileNotFoundError(f"{self.path} holds no {f}")
            data, state = files[f], self.files_read.get(f)
            for what, off, length, _ in words:
                text, raw = recorded.get((f, off, length), (None, None))
                word = f"{what}: the word {text!r} at byte {off}" if text is not None else \
                    f"{what}: the word of {length} bytes at byte {off}"
                if state is None or not state.holds(data):
                    then = "absent" if state is None else f"{state.size} bytes"
                    raise DirectoryChanged(
                        f"{path} changed since the program read it ({then} then, {len(data)} bytes now), so its "
                        f"offsets no longer hold ({word}); nothing was written: make a new DataDirectory",
                        path, word)
                end = off + length
                whole = (0 <= off and end <= len(data) and length > 0
                         and (off == 0 or data[off - 1] in _BLANKS) and (end == len(data) or data[end] in _BLANKS))
                if not whole or (raw is not None and data[off:end] != raw):
                    raise DirectoryChanged(f"{path}: {word} is not a word of the file as it stands; nothing "
                                           "was written", path, word)
        return files

    def _edit(self, values: dict[str, Any], raw: Sequence[Edit]) -> tuple[dict[str, bytes], dict[str, bytes]]:
        """(the input files as read, the same with the changes made), both name -> bytes."""
        by_file: dict[str, list[tuple[str, int, int, str]]] = {}
        named = self._named_edits(values) + [("a word given by its location", e) for e in raw]
        for what, (f, off, length, word) in named:
            by_file.setdefault(f, []).append((what, int(off), int(length), word))
        files = self._read_verified(by_file)
        edited = dict(files)
        for f, changes in by_file.items():
            data = bytearray(files[f])
            changes.sort(key=lambda c: c[1], reverse=True)
            earlier: list[Optional[tuple[str, int, int, str]]] = [None, *changes[:-1]]
            for (_, off, length, word), later in zip(changes, earlier):
                if later is not None and off + length > later[1]:
                    raise ValueError(f"two changes overlap in {f} at byte {off}")
                data[off:off + length] = word.encode("ascii")
            edited[f] = bytes(data)
        return files, edited

    def edited_files(self, values: dict[str, Any], raw: Sequence[Edit] = ()) -> dict[str, bytes]:
        """The input files (name -> bytes) with ``values`` changed and the ``raw`` word replacements made.

        ``raw`` holds (file, byte offset, length, new word) taken from the
        check report's word locations (a pair's time, say). Nothing is
        written; two changes of one word are refused, and a file changed
        since the report raises :class:`DirectoryChanged`.
        """
        return self._edit(values, raw)[1]

    def edited(self, values: dict[str, Any], into: Optional[PathLike] = None, *,
               in_place: bool = False) -> "DataDirectory":
        """The directory with ``values`` changed, checked again by the program.

        ``into``: a directory for the copy, created if need be. The input
        files the copy consists of are written there whole, each replacing
        a file of that name; nothing else there is removed or changed
        (``OUTPUT.TXT`` stays, and a run there appends to it, as the
        program always does). An ``into`` that holds an input file this
        directory lacks is refused (a run of the copy could read it), and so is the
        directory itself. ``in_place=True`` (without ``into``) changes this
        directory's own files instead. Every word is verified first (see
        the module); on any refusal nothing is written.
        """
        if in_place:
            if into is not None and not _same_directory(Path(into), self.path):
                raise ValueError("in_place=True changes this directory itself: give no into")
            files, edited = self._edit(values, ())
            for name, data in edited.items():
                if data != files[name]:
                    write_whole(self.path / name, data, self.path / name)
            return DataDirectory(self.path, self.program)
        if into is None:
            raise TypeError("give into, the directory for the edited copy (or in_place=True to change this one)")
        target = Path(into)
        if target.exists() and _same_directory(target, self.path):
            raise ValueError(f"{target} is the directory itself: its files are changed only with in_place=True")
        files, edited = self._edit(values, ())
        stray = [name for name in INPUT_FILES if name not in edited and (target / name).exists()]
        if stray:
            raise FileExistsError(f"{target} holds {', '.join(stray)}, which {self.path} does not have: a run of "
                                  "the copy could read it; choose another directory (nothing was written)")
        target.mkdir(parents=True, exist_ok=True)
        for name, data in edited.items():
            write_whole(target / name, data, self.path / name)
        return DataDirectory(target, self.program)


def copy_inputs(source: PathLike, target: PathLike, keep: bool = False) -> Path:
    """Copy the input files of a data directory (never ``OUTPUT.TXT``) into ``target``, a directory of
    runs: the input files and ``OUTPUT.TXT`` a run left there are removed first. ``target`` may not be
    ``source`` itself.

    ``keep`` (a directory the caller keeps): nothing there is removed. Each input file copied
    replaces its namesake, ``OUTPUT.TXT`` stays (the run appends to it, as the program always
    does), and a target holding an input file the source lacks is refused with
    :class:`FileExistsError` before anything is written (a run of the copy could read it)."""
    src, dst = Path(source), Path(target)
    if dst.exists() and _same_directory(src, dst):
        raise ValueError(f"{dst} is the data directory itself; its input files are copied, never run in place")
    if keep:
        stray = [n for n in INPUT_FILES if not (src / n).is_file() and (dst / n).exists()]
        if stray:
            raise FileExistsError(f"{dst} holds {', '.join(stray)}, which {src} does not have: a run of the copy "
                                  "could read it; choose another directory (nothing was written)")
        dst.mkdir(parents=True, exist_ok=True)
        for name in INPUT_FILES:
            if (src / name).is_file():
                write_whole(dst / name, (src / name).read_bytes(), src / name)
        return dst
    dst.mkdir(parents=True, exist_ok=True)
    for name in INPUT_FILES:
        if (dst / name).exists():
            (dst / name).unlink()
        if (src / name).is_file():
            shutil.copyfile(src / name, dst / name)
    if (dst / "OUTPUT.TXT").exists():
        (dst / "OUTPUT.TXT").unlink()
    return dst
