"""Reader of skinburn's report file OUTPUT.TXT.

OUTPUT.TXT is appended to by every run, so one file holds any number of
trials, each beginning with its header line

    TRIAL:    2    Execution Date: 12/07/26    Executed By:    SKB

After the header a trial may hold, in this order: the jet's Hbar duration,
the A-matrix diagonals, the initial temperature listing, the temperatures of
the run in one of three layouts, and the Omega lines of the burn evaluation.

Layouts (chosen by OUTTIME and OUTNODE of DATA.DAT):

* "profile"    - one profile "Node  Depth  T(K) @ time t sec" at OUTTIME;
* "history"    - one node's history "Time Step  Depth(m)  time(sec)  T(K) @ Node k";
* "every-step" - one profile per time step (OUTTIME 0, OUTNODE 0).

A trial whose run stopped early keeps what was written before the stop, so
any part may be missing. Lines end in CR LF or LF; both are accepted.

This module needs only the standard library; parse_output(text) is the entry
point.
"""

from __future__ import annotations

import math
import re
from dataclasses import dataclass, field
from typing import List, Optional, Tuple

__all__ = ["Profile", "History", "AMatrix", "Trial", "parse_output", "parse_file"]

_NUM = r"[-+]?(?:\d+\.?\d*(?:[eE][-+]?\d+)?|\.\d+(?:[eE][-+]?\d+)?|inf|nan)"

_TRIAL = re.compile(r"^TRIAL:\s*(-?\d+)\s+Execution Date:\s*(.*?)\s+Executed By:\s*(.*?)\s*$")
_HBAR = re.compile(r"^Hbar duration = (%s)\s*$" % _NUM)
_AMATRIX = re.compile(r"^A-Matrix Diagonals\s*$")
_AMATRIX_HEAD = re.compile(r"^\s*Lower\s+Middle\s+Upper\s*$")
_INITIAL = re.compile(r"^\s*Node\s+Depth\s+T\(K\):\s+Initial Temperature Distribution\s*$")
_PROFILE = re.compile(r"^Node\s+Depth\s+T\(K\) @ time\s+(%s) sec\s*$" % _NUM)
_HISTORY = re.compile(r"^Time Step\s+Depth\(m\)\s+time\(sec\)\s+T\(K\) @ Node\s+(-?\d+)\s*$")
_OMEGA_NODE = re.compile(r"^Omega at node (-?\d+) =\s+(%s)\s*$" % _NUM)
_OMEGA_DEPTH = re.compile(r"^Omega = 1 at depth\s+(%s) \(m\)\s*$" % _NUM)
_NUMBERS = re.compile(r"^\s*(%s(?:\s*,?\s+%s)*)\s*$" % (_NUM, _NUM))


def _numbers(line: str) -> Optional[List[float]]:
    """The numbers of a data line, or None when it is not one."""
    if not _NUMBERS.match(line):
        return None
    return [float(word) for word in line.replace(",", " ").split()]


@dataclass
class Profile:
    """Temperatures of every node at one time."""

    time: float                                        # s
    nodes: List[int] = field(default_factory=list)
    depths: List[float] = field(default_factory=list)  # m, node i at (i-1) DELTAX
    temperatures: List[float] = field(default_factory=list)  # K


@dataclass
class History:
    """One node's temperature at the end of every step."""

    node: int
    steps: List[int] = field(default_factory=list)
    depth: Optional[float] = None                      # m
    times: List[float] = field(default_factory=list)   # s
    temperatures: List[float] = field(default_factory=list)  # K


@dataclass
class AMatrix:
    """The conduction matrix diagonals as listed before the run (row 1 has no
    lower entry, row NODES no upper one: those are None)."""

    lower: List[Optional[float]] = field(default_factory=list)
    middle: List[float] = field(default_factory=list)
    upper: List[Optional[float]] = field(default_factory=list)


@dataclass
class Trial:
    index: int                       # position in the file, from 1
    number: int                      # TRIAL of DATA.DAT
    date: str
    executed_by: str
    hbar_duration: Optional[float] = None
    amatrix: Optional[AMatrix] = None
    initial: Optional[Profile] = None    # initial temperatures (time 0)
    profiles: List[Profile] = field(default_factory=list)
    history: Optional[History] = None
    omega_nodes: List[Tuple[int, float]] = field(default_factory=list)
    omega_depths: List[float] = field(default_factory=list)  # m, as reported

    @property
    def layout(self) -> Optional[str]:
        """"history", "profile", "every-step", or None when the trial holds
        no temperatures of the run. A run of a single step in the every-step
        layout cannot be told from a single profile and reads as "profile"."""
        if self.history is not None:
            return "history"
        if len(self.profiles) == 1:
            return "profile"
        if len(self.profiles) > 1:
            return "every-step"
        return None

    @property
    def node_count(self) -> int:
        """Nodes of the reported profiles (or of the initial listing)."""
        if self.profiles:
            return len(self.profiles[0].nodes)
        if self.initial is not None:
            return len(self.initial.nodes)
        if self.amatrix is not None:
            return len(self.amatrix.middle)
        return 0

    @property
    def step_count(self) -> int:
        """Time steps reported: history lines or every-step profiles."""
        if self.history is not None:
            return len(self.history.steps)
        return len(self.profiles) if self.layout == "every-step" else 0

    def temperature_grid(self) -> Tuple[List[float], List[float], List[List[float]]]:
        """Every-step layout as (times, depths, rows): rows[s][i] is node i+1
        at times[s]. Profiles shorter than the first are padded with NaN."""
        if not self.profiles:
            return [], [], []
        depths = list(self.profiles[0].depths)
        rows = []
        for profile in self.profiles:
            row = list(profile.temperatures[: len(depths)])
            row += [math.nan] * (len(depths) - len(row))
            rows.append(row)
        return [p.time for p in self.profiles], depths, rows


def parse_output(text: str) -> List[Trial]:
    """Every trial of an OUTPUT.TXT, in file order. Text before the first
    trial header, and lines that belong to no known listing, are ignored."""
    trials: List[Trial] = []
    trial: Optional[Trial] = None
    section = None          # what the data lines under the last heading are
    current = None          # the Profile, History or AMatrix being filled

    for raw in text.replace("\r\n", "\n").replace("\r", "\n").split("\n"):
        line = raw.rstrip()
        match = _TRIAL.match(line)
        if match:
            trial = Trial(len(trials) + 1, int(match.group(1)), match.group(2), match.group(3))
            trials.append(trial)
            section = current = None
            continue
        if trial is None or not line.strip():
            continue

        if (match := _HBAR.match(line)):
            trial.hbar_duration = float(match.group(1))
            section = None
        elif _AMATRIX.match(line):
            trial.amatrix = current = AMatrix()
            section = "amatrix"
        elif _AMATRIX_HEAD.match(line):
            pass
        elif _INITIAL.match(line):
            trial.initial = current = Profile(0.0)
            section = "initial"
        elif (match := _PROFILE.match(line)):
            current = Profile(float(match.group(1)))
            trial.profiles.append(current)
            section = "profile"
        elif (match := _HISTORY.match(line)):
            trial.history = current = History(int(match.group(1)))
            section = "history"
        elif (match := _OMEGA_NODE.match(line)):
            trial.omega_nodes.append((int(match.group(1)), float(match.group(2))))
            section = None
        elif (match := _OMEGA_DEPTH.match(line)):
            trial.omega_depths.append(float(match.group(1)))
            section = None
        else:
            values = _numbers(line)
            if values is None:
                section = None
            elif section == "amatrix":
                _amatrix_row(current, values, line)
            elif section in ("initial", "profile") and len(values) == 3:
                current.nodes.append(int(values[0]))
                current.depths.append(values[1])
                current.temperatures.append(values[2])
            elif section == "history" and len(values) == 4:
                current.steps.append(int(values[0]))
                current.depth = values[1]
                current.times.append(values[2])
                current.temperatures.append(values[3])
    return trials


def _amatrix_row(matrix: AMatrix, values: List[float], line: str) -> None:
    if len(values) == 3:
        matrix.lower.append(values[0])
        matrix.middle.append(values[1])
        matrix.upper.append(values[2])
    elif len(values) == 2 and not matrix.middle:
        # Row 1 stands indented, with its middle and upper entries.
        matrix.lower.append(None)
        matrix.middle.append(values[0])
        matrix.upper.append(values[1])
    elif len(values) == 2:
        # The last row: lower and middle entries.
        matrix.lower.append(values[0])
        matrix.middle.append(values[1])
        matrix.upper.append(None)


def parse_file(path: str) -> List[Trial]:
    """parse_output of a file, read as bytes so that CR LF survives."""
    with open(path, "rb") as stream:
        return parse_output(stream.read().decode("latin-1"))
