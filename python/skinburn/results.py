"""What one run computed, as NumPy arrays.

:class:`Results` reads ``PREFIX.json`` and memory-maps ``PREFIX.npy``
(docs/results.md). Depths are the nodes' true positions, (i-1)*DELTAX;
the program's report puts node i one spacing deeper, and only
``crossings[k]["report_depth_m"]`` keeps that convention.

Holds :class:`Results` (with Omega through time at a depth or node, and
when each criterion is met), :class:`NonFiniteHistory`, :func:`depth_weights`,
:func:`write_csv` and :func:`write_whole` (a file written whole or not at
all). Uses :mod:`skinburn.criteria`, :mod:`skinburn.kinetics` and
:mod:`skinburn.program` (the check report of what the run read).
"""
from __future__ import annotations

import contextlib
import csv
import io
import math
import os
import re
import shutil
import weakref
import zlib
from pathlib import Path
from typing import Any, Callable, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

from .criteria import CRITERIA, KineticsByDegree
from .kinetics import Kinetics, damage_integral, time_to_reach
from .program import CheckReport
from .units import SkinburnError

PathLike = Union[str, os.PathLike]


#: Rows of a history checked for non-finite values at a time (bounds the memory of the check).
_ROWS_PER_CHECK = 4096


class NonFiniteHistory(SkinburnError, ValueError):
    """A temperature history holds NaN, infinity or a temperature at or below absolute zero (0 K):
    no burn can be judged from it.

    ``step`` is the first row (0: the temperatures the march started from)
    with such a value, ``time_s`` its time in s, ``node`` the first such
    node of that row (1-based) and ``depth_m`` its depth in m,
    (node - 1) * DELTAX; ``value`` is the value there (K).
    """

    def __init__(self, step: int, time_s: float, node: int, depth_m: float, value: float) -> None:
        self.step = step
        self.time_s = time_s
        self.node = node
        self.depth_m = depth_m
        self.value = value
        what = "is not finite" if not math.isfinite(value) else "falls to or below absolute zero"
        super().__init__(
            f"the temperature history {what}: {value} K at step {step} (time {time_s:.9g} s), node {node} "
            f"(depth {depth_m:.9g} m); the run's inputs lead to no physical temperatures (a gas velocity, "
            "Reynolds number, coefficient or heat flux of the wrong sign or size?), so no burn is judged")


#: The header the program writes (128 bytes, version 1.0): its dictionary in the one form it takes.
_PROGRAM_NPY_HEADER = re.compile(rb"\x93NUMPY\x01\x00\x76\x00\{'descr': '(<f8|>f8)', 'fortran_order': False, "
                                 rb"'shape': \((\d{1,19}), (\d{1,19})\), \} *\n")


def _npy_header(file: Any) -> tuple[tuple[int, ...], bool, np.dtype]:
    """(shape, fortran order, dtype) of the .npy ``file`` open at its start, left at its data.

    The program's own header is read by its one form; any other by NumPy's reader.
    """
    head = file.read(128)
    found = _PROGRAM_NPY_HEADER.fullmatch(head)
    if found is not None:
        return (int(found[2]), int(found[3])), False, np.dtype(found[1].decode("ascii"))
    file.seek(0)
    version = np.lib.format.read_magic(file)
    read_header = (np.lib.format.read_array_header_1_0 if version == (1, 0)
                   else np.lib.format.read_array_header_2_0)
    return read_header(file)


def first_non_finite(temperature_K: npt.ArrayLike) -> Optional[tuple[int, int, float]]:
    """(row, column, value) of the first value of a history (K) that is no physical temperature
    (NaN, infinite, or at or below 0 K), rows first; None when every value is one.

    A memory-mapped history is read in blocks of rows.
    """
    hist = temperature_K if isinstance(temperature_K, np.ndarray) else np.asarray(temperature_K, dtype=float)
    if hist.ndim == 1:
        hist = hist[:, None]
    for start in range(0, hist.shape[0], _ROWS_PER_CHECK):
        block = np.asarray(hist[start:start + _ROWS_PER_CHECK], dtype=float)
        bad = ~(np.isfinite(block) & (block > 0.0))
        if bad.any():
            r, c = np.argwhere(bad)[0]
            return start + int(r), int(c), float(block[r, c])
    return None


def require_finite(temperature_K: npt.ArrayLike, deltat_s: float, deltax_m: float) -> None:
    """:class:`NonFiniteHistory` unless every value of a history (rows at r * ``deltat_s`` s, columns at
    (i-1) * ``deltax_m`` m, K) is finite and above 0 K."""
    bad = first_non_finite(temperature_K)
    if bad is not None:
        row, col, value = bad
        raise NonFiniteHistory(row, row * deltat_s, col + 1, col * deltax_m, value)


def _floats(values: Optional[Sequence[Any]], n: int) -> np.ndarray:
    """A JSON array with nulls as NaN (all NaN when the array is null)."""
    if values is None:
        return np.full(n, np.nan)
    return np.array([np.nan if v is None else float(v) for v in values], dtype=float)


class Results:
    """The results of one run of skinburn.

    Arrays (all NumPy, units in the names):

    - ``temperature_K``: the history, shape (rows, nodes), memory-mapped
      from ``PREFIX.npy``; row r at ``time_s[r]`` = r * DELTAT, row 0 the
      temperatures the march started from.
    - ``time_s`` (rows,), ``depth_m`` (nodes,) at (i-1) * DELTAX.
    - ``peak_temperature_K``, ``peak_time_s`` per node.
    - ``program_omega`` per node as the program uses it (0 below 1e-6) and
      ``program_omega_unfloored`` (NaN where the program computed none).

    ``status``, ``outcome``, ``error``, ``reached`` and ``crossings`` are as
    the program wrote them; ``inputs`` is the ``--check=json`` report of the
    data directory the run read. ``trial`` and ``layout`` are set when the
    package wrote the directory.
    """

    def __init__(self, document: dict, prefix: Path, trial: Any = None, layout: Any = None,
                 directory: Optional[Path] = None, cleanup: Optional[Callable[[], None]] = None, *,
                 settlement: Any = None, run_on: Any = None) -> None:
        self.document = document
        self.prefix = Path(prefix)
        self.trial = trial
        self.layout = layout
        self.directory = directory
        self.settlement: Any = settlement  # how an automatic grid was settled (skinburn.runs.Settlement)
        self.run_on: Any = run_on  # how a data directory's run was carried on (skinburn.runs.RunOnRecord)
        self.inputs = CheckReport(document.get("inputs") or {}, directory)
        grid = self.inputs.grid
        self.deltax_m: float = float(grid.get("deltax_m", math.nan))
        self.deltat_s: float = float(grid.get("deltat_s", math.nan))
        hist = document.get("history")
        self._history_path: Optional[Path] = None
        if hist:
            # The exact bytes of the name when it is not UTF-8.
            file = os.fsdecode(bytes.fromhex(hist["file_hex"])) if "file_hex" in hist else hist["file"]
            self._history_path = self.prefix.parent / Path(file).name
        self._temperature: Optional[np.ndarray] = None
        self._physical = False  # the history has been read and found physical (require_finite)
        self._source: Optional[Results] = None  # the results rebuilt from, whose directory these read
        if cleanup is not None:
            weakref.finalize(self, cleanup)

    def rebuilt(self, *, settlement: Any = None, run_on: Any = None) -> "Results":
        """The same run's results, built whole with what was learnt of the run after it ran (how its
        grid was settled, how it was carried on). A temporary directory stays while either is held."""
        whole = Results(self.document, self.prefix, self.trial, self.layout, self.directory,
                        settlement=settlement if settlement is not None else self.settlement,
                        run_on=run_on if run_on is not None else self.run_on)
        whole._source = self
        return whole

    # --- what the program said ---------------------------------------------------
    @property
    def status(self) -> int:
        """Exit status of the run."""
        return int(self.document.get("status", -1))

    @property
    def outcome(self) -> str:
        """``burn-depth``, ``omega-at-node``, ``all-above``, ``all-below``, ``march-only`` (run with
        ``--march-only``: no burn evaluated), ``error`` (or, from a program that records it,
        ``non-finite``)."""
        return str(self.document.get("outcome"))

    @property
    def error(self) -> Optional[str]:
        """The message the run stopped with, or None."""
        return self.document.get("error")

    @property
    def reached(self) -> dict:
        """``{"phase", "step", "time_s"}``: how far the run got."""
        return dict(self.document.get("reached") or {})

    @property
    def crossings(self) -> list[dict]:
        """Where the program's Omega passes through 1 between two nodes (docs/results.md)."""
        return list(self.document.get("crossings") or [])

    @property
    def non_finite(self) -> Optional[dict]:
        """The program's record of the first temperature that was not finite
        (``{"step", "time_s", "node", "depth_m", ...}``), or None: none, or a
        program that keeps no such record. :meth:`require_finite` looks at the
        history itself."""
        record = self.document.get("non_finite")
        return dict(record) if isinstance(record, dict) else None

    def require_finite(self) -> None:
        """:class:`NonFiniteHistory` naming the first step and node whose temperature is NaN, infinite
        or at or below 0 K.

        The history is checked value by value (once: a history found
        physical is not read again), whatever the program reported; a
        non-finite record of the program counts as well.
        """
        if self._history_path is not None and not self._physical:
            require_finite(self.temperature_K, self.deltat_s, self.deltax_m)
            self._physical = True
        found = self.non_finite
        if found is not None:
            record: dict = found

            def number(key: str, default: float) -> float:
                try:
                    return float(record[key])
                except (KeyError, TypeError, ValueError):
                    return default
            step, node = int(number("step", -1)), int(number("node", 0))
            raise NonFiniteHistory(step, number("time_s", step * self.deltat_s), node,
                                   number("depth_m", (node - 1) * self.deltax_m), number("value", math.nan))

    @property
    def output_node(self) -> int:
        """``OUTNODE`` of the run (0: every node)."""
        return int(self.document.get("output_node") or 0)

    # --- arrays --------------------------------------------------------------------
    @property
    def temperature_K(self) -> np.ndarray:
        """The temperature history in K, rows at ``time_s``, columns at ``depth_m`` (memory-mapped)."""
        if self._temperature is None:
            if self._history_path is None:
                raise ValueError("the run wrote no history (it stopped before the march)")
            # One open file is checked and mapped: a run that renames its pair
            # into place meanwhile cannot slip its history in after the check.
            with open(self._history_path, "rb") as file:
                self._check_history(file)
                file.seek(0)
                shape, fortran, dtype = _npy_header(file)
                self._temperature = np.memmap(file, dtype=dtype, mode="r", offset=file.tell(), shape=shape,
                                              order="F" if fortran else "C")
        return self._temperature

    def _check_history(self, file: Any) -> None:
        """ValueError unless the open ``file`` has the size and the CRC-32 of the rows that
        the JSON names (when it names them)."""
        hist = self.document.get("history") or {}
        size = os.fstat(file.fileno()).st_size
        if hist.get("bytes") is not None and size != hist["bytes"]:
            raise ValueError(f"{self._history_path} is not the history of this run's JSON: it holds "
                             f"{size} bytes, the JSON names {hist['bytes']} "
                             "(another run on the same prefix replaced it)")
        if "data_crc32" not in hist:
            return  # written by a program that did not record it
        crc = 0
        file.seek(int(hist["data_offset"]))
        while block := file.read(16 << 20):
            crc = zlib.crc32(block, crc)
        if crc != hist["data_crc32"]:
            raise ValueError(f"{self._history_path} is not the history of this run's JSON (CRC-32 {crc} "
                             f"against {hist['data_crc32']}: another run on the same prefix replaced it)")

    def verify_history(self) -> None:
        """Checks that ``PREFIX.npy`` is the very history this JSON names: its size and the
        CRC-32 of its rows (read once, 16 MiB at a time). Raises ValueError when not."""
        hist = self.document.get("history")
        if not hist or self._history_path is None:
            raise ValueError("the run wrote no history (it stopped before the march)")
        if "data_crc32" not in hist:
            return  # written by a program that did not record it
        with open(self._history_path, "rb") as file:
            self._check_history(file)

    @property
    def nodes(self) -> int:
        """Number of nodes."""
        hist = self.document.get("history")
        if hist:
            return int(hist["columns"])
        return int(self.inputs.grid.get("nodes", 0))

    @property
    def rows(self) -> int:
        """Number of history rows (TIMESTEPS + 1 after a complete march)."""
        hist = self.document.get("history")
        return int(hist["rows"]) if hist else 0

    @property
    def time_s(self) -> np.ndarray:
        """Time of each history row in s."""
        return np.arange(self.rows) * self.deltat_s

    @property
    def depth_m(self) -> np.ndarray:
        """Depth of each node in m: (i-1) * DELTAX."""
        nodes = self.document.get("nodes") or {}
        if nodes.get("depth_m") is not None:
            return np.asarray(nodes["depth_m"], dtype=float)
        return np.arange(self.nodes) * self.deltax_m

    def _node_array(self, key: str) -> np.ndarray:
        nodes = self.document.get("nodes") or {}
        return _floats(nodes.get(key), self.nodes)

    @property
    def peak_temperature_K(self) -> np.ndarray:
        """Highest temperature of each node over the history, K."""
        v = self._node_array("peak_temperature_K")
        return v if not np.isnan(v).all() else np.asarray(self.temperature_K).max(axis=0)

    @property
    def peak_time_s(self) -> np.ndarray:
        """First time each node reached its peak, s."""
        v = self._node_array("peak_time_s")
        return v if not np.isnan(v).all() else np.asarray(self.temperature_K).argmax(axis=0) * self.deltat_s

    def face(self, side: str = "left") -> dict[str, Any]:
        """What the ``"left"`` (exposed) or ``"right"`` face did in every step (docs/results.md):
        ``type`` and the arrays ``time_s`` (end of each step, s), ``h_W_m2K`` (the row's
        coefficient, W/(m^2 K)), ``ambient_K`` (gas or ambient temperature, K), ``surface_K``
        (the face node at the step's end, K) and ``flux_W_m2`` (heat flux into the skin, W/m^2);
        NaN where the face type has no such value."""
        if side not in ("left", "right"):
            raise ValueError(f"side must be 'left' or 'right', not {side!r}")
        faces = self.document.get("faces")
        if not faces:
            if self.document.get("brief"):
                raise ValueError("the run's results are brief (--results-brief, as the package's march-only "
                                 "runs are): the faces' record was not kept; run without march_only")
            raise ValueError("the run recorded no face values (it stopped before the march, or its "
                             "program does not record them)")
        steps = len(faces["time_s"])
        out: dict[str, Any] = {"type": faces[side]["type"], "time_s": np.asarray(faces["time_s"], dtype=float)}
        for key in ("h_W_m2K", "ambient_K", "surface_K", "flux_W_m2"):
            out[key] = _floats(faces[side][key], steps)
        return out

    @property
    def program_omega(self) -> np.ndarray:
        """The program's Omega per node (0 below 1e-6; NaN where it computed none)."""
        return self._node_array("omega")

    @property
    def program_omega_unfloored(self) -> np.ndarray:
        """The program's Omega per node before its 1e-6 floor (NaN where it computed none)."""
        return self._node_array("omega_unfloored")

    @property
    def conductivity_W_mK(self) -> Optional[np.ndarray]:
        """Conductivity of each node as the program laid it (W/(m K)), or None if unknown."""
        values = self.inputs.laid_values("conductivity")
        if values is not None and len(values) == self.nodes:
            return np.asarray(values, dtype=float)
        return None

    @property
    def program_kinetics(self) -> Kinetics:
        """The constants the program used (``DATA.DAT`` entries 11-14, defaults applied)."""
        factor = float(self.inputs.value("FREQFACTOR"))
        exponent = float(self.inputs.value("FREQEXP"))
        return Kinetics.arrhenius(factor * 10.0 ** exponent, float(self.inputs.value("ACTENERGY")),
                                  float(self.inputs.value("GASCONST")), name="as the program read it")

    # --- damage under any kinetics ---------------------------------------------------
    def omega(self, kinetics: Optional[Kinetics] = None, nodes: Optional[npt.ArrayLike] = None) -> np.ndarray:
        """Omega of each node (or of the 1-based ``nodes`` given) under ``kinetics``.

        Default kinetics: the program's own constants, so that the result is
        the program's ``omega_unfloored`` to about 1e-14 relative.
        """
        kin = kinetics if kinetics is not None else self.program_kinetics
        hist = self.temperature_K
        if nodes is not None:
            cols = np.asarray(nodes, dtype=int) - 1
            return damage_integral(np.asarray(hist[:, cols]), self.deltat_s, kin)
        return damage_integral(hist, self.deltat_s, kin)

    def temperature_at_depth(self, depth_m: float) -> np.ndarray:
        """The history (K, one value per row) at a depth between nodes.

        Straight lines between nodes of one conductivity; between nodes of
        different conductivity the model's boundary lies halfway, at the
        temperature that carries the same flux on both sides,
        (k_i T_i + k_j T_j) / (k_i + k_j), with straight lines to each node.
        """
        a, b, i = depth_weights(depth_m, self.deltax_m, self.nodes, self.conductivity_W_mK)
        hist = self.temperature_K
        if b == 0.0:
            return np.asarray(hist[:, i], dtype=float)
        return a * np.asarray(hist[:, i], dtype=float) + b * np.asarray(hist[:, i + 1], dtype=float)

    def omega_at_depth(self, depth_m: float, kinetics: Optional[Kinetics] = None) -> float:
        """Omega at a depth (m) from the history there (:meth:`temperature_at_depth`)."""
        kin = kinetics if kinetics is not None else self.program_kinetics
        return float(damage_integral(self.temperature_at_depth(depth_m), self.deltat_s, kin))

    def _point_history(self, depth_m: Optional[float], node: Optional[int]) -> np.ndarray:
        """The history (K) at a depth (m) or at a node (1-based); exactly one of them.
        :class:`NonFiniteHistory` unless the whole history is physical (:meth:`require_finite`)."""
        if (depth_m is None) == (node is None):
            raise TypeError("give a depth_m or a node, not both or neither")
        self.require_finite()
        if node is not None:
            if not 1 <= int(node) <= self.nodes:
                raise ValueError(f"node {node} is not one of the run's nodes 1 to {self.nodes}")
            return np.asarray(self.temperature_K[:, int(node) - 1], dtype=float)
        assert depth_m is not None
        return self.temperature_at_depth(float(depth_m))

    def omega_history(self, depth_m: Optional[float] = None, *, node: Optional[int] = None,
                      kinetics: Optional[Kinetics] = None) -> np.ndarray:
        """Omega through time at a depth (m) or a node (1-based): one value per row of ``time_s``,
        0 at row 0, the last :meth:`omega_at_depth` (or :meth:`omega` of the node).
        A history that is not physical raises :class:`NonFiniteHistory`.

        Default kinetics: the constants the program read.
        """
        kin = kinetics if kinetics is not None else self.program_kinetics
        return damage_integral(self._point_history(depth_m, node), self.deltat_s, kin, cumulative=True)

    def time_omega_reaches(self, omega: float, depth_m: Optional[float] = None, *, node: Optional[int] = None,
                           kinetics: Optional[Kinetics] = None) -> Optional[float]:
        """The first time (s) at which Omega at a depth (m) or a node reaches ``omega``; None when it
        does not within the run. Found within its step on the integrator's rule
        (:func:`skinburn.kinetics.time_to_reach`). A history holding NaN, infinity or a
        temperature at or below 0 K raises :class:`NonFiniteHistory`, never "not reached"."""
        kin = kinetics if kinetics is not None else self.program_kinetics
        return time_to_reach(self._point_history(depth_m, node), self.deltat_s, kin, omega)

    def criterion_times(self, skin: Any, kinetics: Optional[Kinetics] = None) -> dict[int, Optional[float]]:
        """The time (s) each burn criterion (:data:`skinburn.criteria.CRITERIA`) is first met within the
        run, by degree; None for one not met, or judged below the model. ``skin`` gives the
        depths of the epidermis and dermis bases (m). A history that is not physical raises
        :class:`NonFiniteHistory`, never "not met"."""
        self.require_finite()
        deepest = (self.nodes - 1) * self.deltax_m
        out: dict[int, Optional[float]] = {}
        for c in CRITERIA:
            depth = skin.epidermis_base_m if c.layer == "epidermis" else skin.dermis_base_m
            out[c.degree] = None if depth > deepest * (1 + 1e-12) else \
                self.time_omega_reaches(c.threshold, depth, kinetics=kinetics)
        return out

    # --- tables --------------------------------------------------------------------------
    def node_table(self, kinetics: Any = None) -> dict[str, np.ndarray]:
        """Per-node columns: node, depth_m, peak_temperature_K, peak_time_s, the program's Omega
        (floored and not) and, with ``kinetics``, ``omega`` under it (under a model per degree,
        :class:`~skinburn.criteria.KineticsByDegree`, ``omega_degree_1`` ... under each degree's)."""
        table = {
            "node": np.arange(1, self.nodes + 1),
            "depth_m": self.depth_m,
            "peak_temperature_K": self.peak_temperature_K,
            "peak_time_s": self.peak_time_s,
            "program_omega": self.program_omega,
            "program_omega_unfloored": self.program_omega_unfloored,
        }
        if isinstance(kinetics, KineticsByDegree):
            for degree, k in kinetics.items():
                table[f"omega_degree_{degree}"] = self.omega(k or self.program_kinetics)
        elif kinetics is not None:
            table["omega"] = self.omega(kinetics)
        return table

    def to_dataframe(self, kinetics: Any = None) -> Any:
        """The per-node table as a pandas DataFrame (needs pandas)."""
        import pandas as pd  # optional dependency

        return pd.DataFrame(self.node_table(kinetics))

    def write_nodes_csv(self, path: PathLike, kinetics: Any = None) -> Path:
        """Write the per-node table as CSV (full precision); returns the path."""
        table = self.node_table(kinetics)
        return write_csv(path, list(table), zip(*table.values()))

    def summary(self) -> dict[str, Any]:
        """One row of what the program reported: status, outcome, error, nodes, steps, crossings, peak."""
        peak = self.peak_temperature_K if self.rows else np.array([np.nan])
        return {
            "status": self.status,
            "outcome": self.outcome,
            "error": self.error or "",
            "nodes": self.nodes,
            "deltax_m": self.deltax_m,
            "steps": max(self.rows - 1, 0),
            "deltat_s": self.deltat_s,
            "peak_surface_temperature_K": float(peak[0]) if len(peak) else math.nan,
            "program_crossings_depth_m": ";".join(repr(c["depth_m"]) for c in self.crossings),
        }

    def write_summary_csv(self, path: PathLike, extra: Optional[dict[str, Any]] = None) -> Path:
        """Write :meth:`summary` (and ``extra`` columns) as a one-row CSV; returns the path."""
        row = self.summary()
        row.update(extra or {})
        return write_csv(path, list(row), [list(row.values())])

    def close(self) -> None:
        """Drop the memory map (the arrays taken from it stay valid only while it is open)."""
        self._temperature = None


class JoinedResults(Results):
    """The results of one trial's run made in several runs of the program (legs) on one grid, each
    from the temperatures the one before ended with (:func:`skinburn.writer.legs`).

    The history is the legs' rows end to end (each later leg's row 0, the
    temperatures it started from, is the row before it), so every array and
    every measure of :class:`Results` reads the whole run. The document is
    the first leg's, with the program's own burn evaluation dropped: each
    leg's covers itself alone (``outcome`` is ``legs``). ``legs`` holds each
    leg's results, ``leg_starts_s`` the time each began (s).
    """

    def __init__(self, legs: Sequence[Results], trial: Any = None, *, settlement: Any = None) -> None:
        first = legs[0]
        document = dict(first.document, outcome="legs", crossings=[], nodes=None, faces=None)
        super().__init__(document, first.prefix, trial, first.layout, first.directory, settlement=settlement)
        self.legs = tuple(legs)
        starts, row = [], 0
        for leg in self.legs:
            starts.append(row * self.deltat_s)
            row += leg.rows - 1
        self.leg_starts_s = tuple(starts)
        self._rows = row + 1
        self.document["reached"] = dict(self.legs[-1].reached, step=row, time_s=row * self.deltat_s)

    def rebuilt(self, *, settlement: Any = None, run_on: Any = None) -> "Results":
        return JoinedResults(self.legs, self.trial,
                             settlement=settlement if settlement is not None else self.settlement)

    @property
    def rows(self) -> int:
        return self._rows

    @property
    def temperature_K(self) -> np.ndarray:
        """The temperature history in K of the whole run, the legs' rows end to end (in memory)."""
        if self._temperature is None:
            self._temperature = np.concatenate([np.asarray(self.legs[0].temperature_K)]
                                               + [np.asarray(leg.temperature_K[1:]) for leg in self.legs[1:]])
        return self._temperature

    def verify_history(self) -> None:
        """Checks every leg's history against its own JSON (:meth:`Results.verify_history`)."""
        for leg in self.legs:
            leg.verify_history()

    def legs_text(self) -> str:
        """One clause for a verdict: how the run was made."""
        later = ", ".join(f"{t:g}" for t in self.leg_starts_s[1:])
        grid = getattr(self.trial, "grid", None)
        restart = "; BDF2 starts each again with one backward Euler step" \
            if getattr(grid, "time_scheme", None) == "bdf2" else ""
        return (f"the run needs more steps than the program holds: it was made in {len(self.legs)} runs of the "
                f"program on one grid, each later one (from {later} s) starting from the temperatures the one "
                f"before ended with, with the face as it is after the exposure{restart}")

    def face(self, side: str = "left") -> dict[str, Any]:
        raise ValueError(f"the run was made in {len(self.legs)} runs of the program (legs): each leg's faces are "
                         "its own results' (results.legs[k].face())")

    def close(self) -> None:
        super().close()
        for leg in self.legs:
            leg.close()


def depth_weights(depth_m: float, deltax_m: float, nodes: int,
                  conductivity_W_mK: Optional[np.ndarray] = None) -> tuple[float, float, int]:
    """(a, b, i): the temperature at ``depth_m`` is a * T[i] + b * T[i+1] (0-based nodes).

    See :meth:`Results.temperature_at_depth` for the rule.
    """
    deepest = (nodes - 1) * deltax_m
    if not (0.0 <= depth_m <= deepest * (1 + 1e-12)):
        raise ValueError(f"depth {depth_m} m lies outside the model (0 to {deepest} m)")
    pos = depth_m / deltax_m
    i = min(int(math.floor(pos)), nodes - 1)
    frac = pos - i
    if i >= nodes - 1 or frac <= 1e-12:
        return 1.0, 0.0, min(i, nodes - 1)
    if frac >= 1 - 1e-12:
        return 1.0, 0.0, i + 1
    if conductivity_W_mK is None or conductivity_W_mK[i] == conductivity_W_mK[i + 1]:
        return 1.0 - frac, frac, i
    ki, kj = float(conductivity_W_mK[i]), float(conductivity_W_mK[i + 1])
    # The boundary temperature as weights on T_i and T_j.
    mi, mj = ki / (ki + kj), kj / (ki + kj)
    if frac <= 0.5:
        s = frac / 0.5
        return (1 - s) + s * mi, s * mj, i
    s = (frac - 0.5) / 0.5
    return (1 - s) * mi, (1 - s) * mj + s, i


def write_csv(path: PathLike, header: Sequence[str], rows: Any) -> Path:
    """Write rows under a header; floats in full precision (repr). The file is written whole
    (:func:`write_whole`): a failure or a kill part-way leaves what was there before."""
    p = Path(path)
    p.parent.mkdir(parents=True, exist_ok=True)
    text = io.StringIO(newline="")
    w = csv.writer(text)
    w.writerow(header)
    for row in rows:
        w.writerow([_cell(v) for v in row])
    write_whole(p, text.getvalue().encode("utf-8"))
    return p


def write_whole(path: PathLike, data: bytes, mode_from: Optional[PathLike] = None) -> None:
    """Write ``data`` to ``path`` whole: a temporary file beside it, renamed over it.

    ``mode_from``: a file whose permission bits the new file takes; without it the file keeps the
    bits of the file it replaces, and a new file gets those of any new file (0666 less the umask).
    """
    target = Path(path)
    if mode_from is None and target.is_file():
        mode_from = target
    for _ in range(100):
        tmp = str(target.parent / f".{target.name}.{os.urandom(6).hex()}.tmp")
        try:  # created as open() creates a file: the umask applies
            fd = os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_CLOEXEC", 0), 0o666)
            break
        except FileExistsError:
            continue
    else:
        raise FileExistsError(f"no free temporary name beside {target}")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        if mode_from is not None:
            shutil.copymode(mode_from, tmp)
        os.replace(tmp, target)
    except BaseException:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(tmp)
        raise


def _cell(v: Any) -> Any:
    if isinstance(v, (float, np.floating)):
        v = float(v)
        return "" if math.isnan(v) else repr(v)
    if isinstance(v, np.integer):
        return int(v)
    if v is None:
        return ""
    return v
