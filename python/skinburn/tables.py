"""The time tables of a data directory: cut, stretched or carried past the run's end.

Holds :class:`PairList` (one list of (time or depth, value) pairs located
by ``skinburn --check=json``, with the word replacements that write a new
list over it), :func:`time_lists` (every list laid on the run's times),
:func:`lengthen` (a run carried on with its last values) and
:func:`phase_edits` (a run carried on with the exposed face changed at its
end). Uses :mod:`skinburn.datadir` for the report's word locations and the
edits, and :mod:`skinburn.trial` for the program's capacity. Nothing here
parses a data file. The study tool (tools/study) builds its data-directory
cases from the same lists.
"""
from __future__ import annotations

import math
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Optional

from .checks import non_negative, positive
from .datadir import DataDirectory, value_word
from .program import Program
from .trial import MAX_STEPS
from .units import SkinburnError, Temperature, kelvin, require_temperature


def r12(x: float) -> float:
    """A time rounded to 12 significant digits (so that 0.05 + 0.03 is written 0.08)."""
    return float("%.12g" % x)


@dataclass
class PairList:
    """One list of (depth or time, value) pairs of a data directory, located by ``--check=json``.

    ``pairs`` holds what the program read, ``new`` what a case writes
    (times in s or depths in m, values in the table's unit). With as many
    pairs as before only the words that change are replaced; otherwise the
    whole list, from its first word to its last, and the word that counts
    its pairs are written anew.
    """

    name: str
    pairs: list
    words: list
    count: Optional[dict]
    inline: bool
    new: list = field(default_factory=list)

    def __post_init__(self) -> None:
        self.new = [[float(x), float(y)] for x, y in self.pairs]

    def _y_word(self, y: float) -> str:
        word = value_word(y, False)
        if self.inline and word.startswith("-"):
            raise ValueError(f"{self.name}: {word}: a signed value inline in DATA.DAT is skipped by the "
                             "program; move the block to its separate data file")
        return word

    def edits(self) -> list[tuple[str, int, int, str]]:
        """(file, byte offset, length, new text) that write ``new`` over the list."""
        old = [[float(x), float(y)] for x, y in self.pairs]
        if self.new == old or not self.words:
            return []
        if len(self.new) == len(old):
            out = []
            for w, (x0, y0), (x, y) in zip(self.words, old, self.new):
                if x != x0:
                    out.append((w["file"], w["x"][0], w["x"][1], value_word(x, False)))
                if y != y0:
                    out.append((w["file"], w["y"][0], w["y"][1], self._y_word(y)))
            return out
        if not self.count or not self.count.get("file"):
            raise ValueError(f"{self.name}: this skinburn's --check=json gives no location of the list's "
                             "count word (blocks[k].count / file_count, jet.boundary_count / velocity_count); "
                             "rebuild skinburn")
        first, last = self.words[0], self.words[-1]
        start, end = first["x"][0], last["y"][0] + last["y"][1]
        text = "\n".join(f"{value_word(x, False)} {self._y_word(y)}" for x, y in self.new)
        return [(first["file"], start, end - start, text),
                (self.count["file"], self.count["offset"], self.count["length"], str(len(self.new)))]

    def value_before(self, t: float) -> float:
        """The value the list reaches at ``t`` from the left (straight lines; the ends held)."""
        xs = self.new
        i = max((k for k, p in enumerate(xs) if p[0] < t), default=None)
        if i is None:
            return xs[0][1]
        if i + 1 == len(xs):
            return xs[i][1]
        (x0, y0), (x1, y1) = xs[i], xs[i + 1]
        return y1 if x1 == t else y0 + (y1 - y0) * (t - x0) / (x1 - x0)

    def value_after(self, t: float) -> float:
        """The value the list takes just after ``t`` (the second of two pairs at ``t``)."""
        xs = self.new
        i = max((k for k, p in enumerate(xs) if p[0] <= t), default=None)
        if i is None:
            return xs[0][1]
        if i + 1 == len(xs):
            return xs[i][1]
        (x0, y0), (x1, y1) = xs[i], xs[i + 1]
        return y0 + (y1 - y0) * (t - x0) / (x1 - x0)

    def move_end(self, old_end: float, new_end: float, after: Optional[float] = None) -> None:
        """Cut or stretch what the list holds before ``old_end`` to end at ``new_end``.

        Pairs before the (new or old) end stay; a pair is inserted at the
        cut with the value on the list's line there; on a stretch the value
        reached at the old end is held to the new end. What follows the old
        end moves by the change, unless ``after`` is given: then the list
        takes that value from the new end on.
        """
        if new_end == old_end and after is None:
            return
        shift = new_end - old_end
        reached = self.value_before(min(old_end, new_end))
        following = self.value_after(old_end)
        keep = [(x, y, False) for x, y in self.new if x < min(old_end, new_end)]
        inserted = [(min(old_end, new_end), reached, True)]
        if new_end > old_end:
            inserted.append((new_end, reached, True))
        if after is not None:
            rest = [(new_end, float(after), True)]
        else:
            rest = [(new_end, following, True)] + [(r12(x + shift), y, False) for x, y in self.new if x > old_end]
        self.new = _simplified(keep + inserted + rest)

    def reach(self, run_end: float) -> None:
        """Carry the list's last value to just past ``run_end`` (time tables must reach the run's end):
        the last time moves when the list ends flat, else a pair is added."""
        if not self.new or self.new[-1][0] >= run_end:
            return
        end = r12(run_end * 1.001)
        if len(self.new) >= 2 and self.new[-2][1] == self.new[-1][1] and self.new[-2][0] < self.new[-1][0]:
            self.new[-1][0] = end
        else:
            self.new.append([end, self.new[-1][1]])


def _simplified(pairs: list) -> list:
    """Pairs (x, y, inserted) without repeats and without inserted pairs that lie on the line
    between their neighbours."""
    out: list = []
    for p in pairs:
        if out and out[-1][0] == p[0] and out[-1][1] == p[1]:
            if out[-1][2] and not p[2]:
                out[-1] = p
            continue
        out.append(p)
    k = 1
    while k < len(out) - 1:
        (x0, y0, _), (x, y, ins), (x1, y1, _) = out[k - 1], out[k], out[k + 1]
        if ins and x0 < x < x1 and abs(y0 + (y1 - y0) * (x - x0) / (x1 - x0) - y) <= 1e-12 * max(1.0, abs(y)):
            del out[k]
        else:
            k += 1
    return [[x, y] for x, y, _ in out]


def pair_list(report: Any, name: str) -> PairList:
    """The list ``name`` of a check report: a block's table (``left_ambient``), ``jet.boundary``
    (the jet's boundary list, the left_bc block read from LEFTIMP.DAT) or ``jet.velocity``."""
    jet = report.jet
    if name == "jet.velocity":
        return PairList(name, jet["velocity_pairs"], jet.get("velocity_words") or [], jet.get("velocity_count"),
                        False)
    block = report.block("left_bc" if name == "jet.boundary" else name)
    if name == "jet.boundary":
        return PairList(name, block["pairs"], block.get("pair_words") or [], jet.get("boundary_count"), False)
    inline = block.get("source") == "DATA.DAT"
    count = block.get("count") if inline else block.get("file_count")
    return PairList(name, block["pairs"], block.get("pair_words") or [], count, inline)


def time_lists(report: Any) -> list[str]:
    """The names of every list laid on the run's times (the jet's velocities included)."""
    names = []
    for b in report.document.get("blocks") or []:
        if (b.get("laid") or {}).get("grid") == "time" and b.get("pair_words") and b.get("table"):
            names.append("jet.boundary" if b.get("source") == "LEFTIMP.DAT" else b["table"])
    if report.jet is not None and report.jet.get("velocity_words"):
        names.append("jet.velocity")
    return names


def lengthen(directory: str, program: Program, run_end_s: float) -> int:
    """Lengthen a data directory's run in place to at least ``run_end_s``: TIMESTEPS, and every time
    table carried to the new end. Returns the new TIMESTEPS."""
    d = DataDirectory(directory, program)
    deltat = float(d.report.value("DELTAT"))
    steps = max(1, math.ceil(run_end_s / deltat - 1e-9))
    if steps > MAX_STEPS:
        raise BeyondCapacity(f"{run_end_s:g} s needs {steps} steps of {deltat:g} s, beyond the program's "
                             f"{MAX_STEPS}")
    raw = []
    for name in time_lists(d.report):
        lst = pair_list(d.report, name)
        lst.reach(steps * deltat)
        raw += lst.edits()
    for name, data in d.edited_files({"TIMESTEPS": steps}, raw).items():
        Path(directory, name).write_bytes(data)
    return steps


# --- A run carried on past its end ----------------------------------------------

#: What the exposed face sees after the run's end: the kinds of :class:`RunOn`.
RUN_ON_KINDS = ("insulated", "air", "held", "continued")


@dataclass(frozen=True)
class RunOn:
    """What a data directory's exposed (left) face sees when its run is carried on past its end.

    The run as given is kept whole as the exposure; from its end the face
    becomes:

    - ``insulated`` (the default): a ``CONVECTION`` face's coefficient 0
      (a jet's boundary value 0.0), a ``FLUX`` face's flux 0; a
      ``TEMPERATURE`` face has no insulated state;
    - ``air``: a ``CONVECTION`` face at ``h_W_m2K`` (W/(m^2 K)) from
      ``ambient`` (a :class:`~skinburn.units.Temperature`);
    - ``held``: a ``TEMPERATURE`` face held at ``surface``;
    - ``continued``: every time table carried on with its last value (for a
      directory whose tables already end in its own cooling).

    Every other time table is carried on with its last value.
    """

    kind: str = "insulated"
    h_W_m2K: float = 0.0
    ambient: Optional[Temperature] = None
    surface: Optional[Temperature] = None

    def __post_init__(self) -> None:
        if self.kind not in RUN_ON_KINDS:
            raise ValueError(f"a run is carried on {', '.join(RUN_ON_KINDS)}, not {self.kind!r}")
        non_negative(self.h_W_m2K, "h_W_m2K", "W/(m^2 K)")
        if self.kind == "air":
            if self.ambient is None:
                raise ValueError("air after the run needs its ambient temperature")
            require_temperature(self.ambient, "ambient")
            if self.h_W_m2K == 1.0:
                raise ValueError("h_W_m2K of exactly 1.0 W/(m^2 K) selects a jet; give another coefficient")
        if self.kind == "held":
            if self.surface is None:
                raise ValueError("a held face after the run needs its temperature")
            require_temperature(self.surface, "surface")

    @property
    def ambient_K(self) -> float:
        """The air's temperature (K) of an ``air`` phase."""
        assert self.ambient is not None, "an air phase is made with its ambient"
        return float(self.ambient.K)

    @property
    def surface_K(self) -> float:
        """The face's temperature (K) of a ``held`` phase."""
        assert self.surface is not None, "a held phase is made with its temperature"
        return float(self.surface.K)

    @classmethod
    def insulated(cls) -> "RunOn":
        """The exposed face insulated from the run's end."""
        return cls("insulated")

    @classmethod
    def air(cls, h_W_m2K: float, ambient: Temperature) -> "RunOn":
        """A ``CONVECTION`` face at ``h_W_m2K`` (W/(m^2 K)) from ``ambient`` from the run's end."""
        return cls("air", h_W_m2K, ambient)

    @classmethod
    def held(cls, surface: Temperature) -> "RunOn":
        """A ``TEMPERATURE`` face held at ``surface`` from the run's end."""
        return cls("held", surface=surface)

    @classmethod
    def continued(cls) -> "RunOn":
        """Every time table carried on with its last value."""
        return cls("continued")

    def to_dict(self) -> dict:
        """JSON form (temperatures in K)."""
        return {"kind": self.kind, "h_W_m2K": self.h_W_m2K,
                "ambient_K": None if self.ambient is None else float(self.ambient.K),
                "surface_K": None if self.surface is None else float(self.surface.K)}

    @classmethod
    def from_dict(cls, d: dict) -> "RunOn":
        """The inverse of :meth:`to_dict`."""
        def temperature(value: Optional[float]) -> Optional[Temperature]:
            return None if value is None else kelvin(float(value))
        return cls(d["kind"], float(d.get("h_W_m2K") or 0.0), temperature(d.get("ambient_K")),
                   temperature(d.get("surface_K")))

    def describe(self) -> str:
        """A few words for a person: ``the face insulated``, ``air at 10 W/(m^2 K) from 293.15 K``, ..."""
        if self.kind == "air":
            return f"air at {self.h_W_m2K:g} W/(m^2 K) from {self.ambient_K:g} K"
        if self.kind == "held":
            return f"the face held at {self.surface_K:g} K"
        if self.kind == "continued":
            return "its tables carried on with their last values"
        return "the face insulated"


class BeyondCapacity(SkinburnError, RuntimeError):
    """A run carried to a longer end would need more steps than the program holds (``MAX_STEPS``)."""


class PhaseRefused(SkinburnError, ValueError):
    """A :class:`RunOn` the data directory's face cannot take (insulating a ``TEMPERATURE`` face, say)."""


def phase_edits(d: DataDirectory, phase: RunOn, after_s: float) -> dict[str, bytes]:
    """The input files (name -> bytes) of ``d`` with its run carried on ``after_s`` s past its end.

    TIMESTEPS grows by ``after_s`` / DELTAT (rounded up) and every time
    table reaches the new end. The exposed face's table (the jet's boundary
    list, else LEFT_BC; with ``air`` also LEFT_AMBIENT) keeps its values up
    to the run's end and takes the phase's from there: the step falls half
    a step before the end for a face read at the start of a step
    (``CONVECTION``, ``FLUX``) and half a step after it for one read at its
    end (``TEMPERATURE``), so every step of the run as given sees what it
    saw and every later step the phase. Raises :class:`PhaseRefused` for a
    phase the face cannot take, :class:`BeyondCapacity` beyond the program's capacity.
    """
    positive(after_s, "after_s", "s")
    report = d.report
    deltat = float(report.value("DELTAT"))
    end = int(report.value("TIMESTEPS")) * deltat
    steps = int(report.value("TIMESTEPS")) + max(1, math.ceil(after_s / deltat - 1e-9))
    if steps > MAX_STEPS:
        raise BeyondCapacity(f"{after_s:g} s more needs {steps} steps of {deltat:g} s, beyond the program's "
                             f"{MAX_STEPS}")
    lists: dict[str, PairList] = {}

    def get(name: str) -> PairList:
        if name not in lists:
            lists[name] = pair_list(report, name)
        return lists[name]

    if phase.kind != "continued":
        word = str(report.value("LBC"))
        face = report.grid.get("left_face")  # the kind the program reads the word as
        jet = report.jet is not None and face == "convection"
        allowed = {"insulated": ("convection", "flux"), "air": ("convection",), "held": ("temperature",)}
        if face not in allowed[phase.kind]:
            raise PhaseRefused(f"the left face is {word}: {phase.describe()} after the run needs a "
                               f"{' or '.join(k.upper() for k in allowed[phase.kind])} face")
        value = phase.h_W_m2K if phase.kind != "held" else phase.surface_K
        cut = r12(end + 0.5 * deltat if face == "temperature" else end - 0.5 * deltat)
        get("jet.boundary" if jet else "left_bc").move_end(cut, cut, value)
        if phase.kind == "air":
            try:
                get("left_ambient")
            except KeyError:
                raise PhaseRefused("air after the run needs the directory's LEFT_AMBIENT block") from None
            get("left_ambient").move_end(cut, cut, phase.ambient_K)
    for name in time_lists(report):
        get(name).reach(steps * deltat)
    raw = [e for lst in lists.values() for e in lst.edits()]
    return d.edited_files({"TIMESTEPS": steps}, raw)
