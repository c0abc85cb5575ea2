"""How the figures name a study's columns: the name a reader knows and the unit shown.

A column of a study CSV is a key of the trial or data directory with its
unit in the name (``exposure.flux_W_m2``, ``LEFT_AMBIENT_K``,
``depth_omega_1_um``). :func:`quantity` turns it into what an axis or a
legend shows: ``heat flux (kW/m²)``, the cell times a factor plus an offset.
Fluxes are shown in kW/m², depths in µm or mm, temperatures in K or °C.
Uses only the standard library.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Optional

#: Names of the keys and result columns (without their unit) as a reader knows them.
NAMES = {
    "exposure.flux": "heat flux",
    "exposure.gas_temperature": "gas temperature",
    "exposure.after_gas": "gas temperature after the exposure",
    "exposure.after_h": "convection coefficient after the exposure",
    "exposure.h": "convection coefficient",
    "exposure.duration": "exposure time",
    "duration": "exposure time",
    "exposure.standoff_ratio": "stand-off",
    "jet.standoff_ratio": "stand-off",
    "exposure.standoff": "stand-off",
    "jet.standoff": "stand-off",
    "exposure.nozzle_diameter": "nozzle diameter",
    "jet.nozzle_diameter": "nozzle diameter",
    "jet.offaxis_spacing": "off-axis spacing",
    "jet.reynolds": "Reynolds number of the jet",
    "jet.velocity": "gas velocity",
    "LEFT_AMBIENT": "gas temperature",
    "left_ambient": "gas temperature",
    "RIGHT_AMBIENT": "temperature at the inner face",
    "right_ambient": "temperature at the inner face",
    "LEFT_BC": "boundary value at the skin surface",
    "initial.surface": "initial surface temperature",
    "initial.core": "initial core temperature",
    "inner.temperature": "temperature at the inner face",
    "skin.epidermis_base": "depth of the epidermis base",
    "skin.dermis_base": "depth of the dermis base",
    "DELTAT": "time step",
    "DELTAX": "node spacing",
    "deltat": "time step",
    "deltax": "node spacing",
    "TIMESTEPS": "time steps",
    "NODES": "nodes",
    "kinetics_preset": "kinetics",
    "depth_omega_1": "depth where Omega = 1",
    "depth_omega_053": "depth where Omega = 0.53",
    "program_depth": "depth where Omega = 1 under the program's constants",
    "peak_T": "peak temperature",
    "after_exposure": "time after the exposure",
}
#: Unit suffixes of column names: (suffix, unit shown, factor). Fluxes read in kW/m².
UNITS = (("_W_m2K", "W/(m² K)", 1.0), ("_kW_m2", "kW/m²", 1.0), ("_W_m2", "kW/m²", 1e-3),
         ("_W_mK", "W/(m K)", 1.0), ("_kg_m3", "kg/m³", 1.0), ("_J_kgK", "J/(kg K)", 1.0),
         ("_m_s", "m/s", 1.0), ("_um", "µm", 1.0), ("_mm", "mm", 1.0), ("_s", "s", 1.0), ("_m", "m", 1.0),
         ("_K", "K", 1.0), ("_C", "°C", 1.0))
#: Lengths that lie in the skin (drawn in the depth unit chosen); other lengths are shown in mm.
DEPTHS = ("depth", "deltax", "DELTAX", "epidermis_base", "dermis_base", "thickness")
DEPTH_UNITS = {"mm": (1e-3, "mm"), "um": (1e-6, "µm")}


@dataclass(frozen=True)
class Quantity:
    """A column as a figure shows it: ``value = cell * factor + offset`` in ``unit``."""

    name: str
    unit: str = ""
    factor: float = 1.0
    offset: float = 0.0

    @property
    def label(self) -> str:
        """The axis label, "name (unit)"."""
        return f"{self.name} ({self.unit})" if self.unit else self.name

    def value(self, cell: float) -> float:
        """A cell's value in the unit shown."""
        return cell * self.factor + self.offset

    def value_text(self, word: str) -> str:
        """One value as a legend names it: "stand-off = 2 nozzle diameters", "heat flux = 20 kW/m²"."""
        try:
            number = float(word)
        except ValueError:
            return f"{self.name} = {word}"
        return f"{self.name} = {self.value(number):g}" + (f" {self.unit}" if self.unit else "")


def readable(stem: str) -> str:
    """The name of a key without its unit: from :data:`NAMES`, else its words ("skin layers 1 thickness")."""
    if stem in NAMES:
        return NAMES[stem]
    for prefix in ("exposure.", "jet."):
        if stem.startswith(prefix) and stem[len(prefix):] in NAMES:
            return NAMES[stem[len(prefix):]]
    return stem.replace("exposure.", "").replace(".", " ").replace("_", " ")


def quantity(column: str, depth_unit: str = "um", temperature_unit: Optional[str] = None) -> Quantity:
    """How a figure shows a study column (a varied key or a result column).

    ``depth_unit`` (mm or um) is the unit of depths and other lengths in the
    skin; ``temperature_unit`` (K or C, None: as the column has it) that of
    temperatures. A scaled or offset table (``BLOCK.scale``, ``.offset``) is
    named by its table: "gas temperature (× the template's)".
    """
    if column.endswith(".scale"):
        return Quantity(readable(column[: -len(".scale")]), "× the template's")
    if column.endswith(".offset"):
        return Quantity(readable(column[: -len(".offset")]) + ", added", "")
    if column.endswith("standoff_ratio"):
        return Quantity(readable(column), "nozzle diameters")
    for suffix, unit, factor in UNITS:
        if not column.endswith(suffix):
            continue
        stem = column[: -len(suffix)]
        name = readable(stem)
        if suffix in ("_K", "_C") and temperature_unit in ("K", "C"):
            target = "°C" if temperature_unit == "C" else "K"
            offset = 0.0 if unit == target else (-273.15 if target == "°C" else 273.15)
            return Quantity(name, target, 1.0, offset)
        if suffix in ("_um", "_mm", "_m"):
            source = {"_um": 1e-6, "_mm": 1e-3, "_m": 1.0}[suffix]
            scale, shown = DEPTH_UNITS[depth_unit if any(d in stem for d in DEPTHS) else "mm"]
            return Quantity(name, shown, source / scale)
        return Quantity(name, unit, factor)
    return Quantity(readable(column))


def wrapped(text: str, width: int = 56) -> str:
    """An axis label broken into lines of at most ``width`` characters (at spaces, the unit kept with
    the word before it), so that a long one ("exposure time to a second-degree burn under Henriques
    1947 (s)") is not cut at the figure's edge."""
    import textwrap

    lines = textwrap.wrap(text.replace(" (", "\u00a0("), width, break_long_words=False, break_on_hyphens=False)
    return "\n".join(lines).replace("\u00a0(", " (") or text


def label_every_contour(ax: Any, cs: Any, fmt: str = "%g", fontsize: float = 8, spacing_px: float = 180.0) -> None:
    """Labels a contour set's lines so that a reader can name every stretch of every line.

    Matplotlib's ``clabel`` gives each piece of line one label and leaves out
    pieces too short for one along them; here every point of a line lies
    within about ``spacing_px`` pixels of a label of its own level, a short
    piece included (its value at its middle, on a white ground, along the
    line)."""
    import math

    import numpy as np

    texts = ax.clabel(cs, fontsize=fontsize, fmt=fmt)
    placed = {}
    for t in texts:
        placed.setdefault(t.get_text(), []).append(ax.transData.transform(t.get_position()))
    for value, pieces in zip(cs.levels, cs.allsegs):
        word = fmt % value
        mine = placed.setdefault(word, [])
        for piece in pieces:
            if len(piece) < 2:
                continue
            pixels = ax.transData.transform(piece)
            steps = np.hypot(*np.diff(pixels, axis=0).T)
            along = np.concatenate(([0.0], np.cumsum(steps)))
            if along[-1] < 20.0:  # a speck
                continue
            # Labels of this level within reach; clabel cuts its line around each, so they lie off
            # the piece by up to half a label's width.
            ends = (along > min(30.0, along[-1] / 2 - 1)) & (along < along[-1] - min(30.0, along[-1] / 2 - 1))
            for k in np.nonzero(ends)[0] if along[-1] >= 60.0 else [len(piece) // 2]:
                here = pixels[k]
                if mine and min(float(np.hypot(*(here - p))) for p in mine) < spacing_px:
                    continue
                a, b = pixels[max(k - 1, 0)], pixels[min(k + 1, len(piece) - 1)]
                angle = math.degrees(math.atan2(b[1] - a[1], b[0] - a[0]))
                angle = angle - 180.0 if angle > 90.0 else angle + 180.0 if angle < -90.0 else angle
                x, y = piece[k]
                ax.text(x, y, word, fontsize=fontsize, ha="center", va="center", rotation=angle,
                        rotation_mode="anchor", zorder=5, bbox=dict(boxstyle="square,pad=0.1", fc="white",
                                                                     ec="none"))
                mine.append(here)


def legend_below(ax: Any, notes: tuple = (), fontsize: Any = "small", inside: str = "") -> None:
    """The axes' legend, and any ``notes`` (lines of text with no mark) after it, below the axes and
    its x label, where no entry covers the data; the axes keep their size, and the figure, saved with
    its bounding box drawn tight around everything (``bbox_inches="tight"``), grows to hold it.

    Entries whose labels start with ``inside`` (the short "t = 0.1 s" of a set of profiles) stay in a
    legend of their own in the axes' best corner."""
    from matplotlib.lines import Line2D

    handles, labels = ax.get_legend_handles_labels()
    if inside and any(label.startswith(inside) for label in labels):
        mine = [(h, label) for h, label in zip(handles, labels) if label.startswith(inside)]
        ax.add_artist(ax.legend(*zip(*mine), fontsize=fontsize, loc="best"))
        kept = [(h, label) for h, label in zip(handles, labels) if not label.startswith(inside)]
        handles, labels = [h for h, _ in kept], [label for _, label in kept]
    handles += [Line2D([], [], ls="none") for _ in notes]
    labels += list(notes)
    if not handles:
        return
    legend = ax.legend(handles, labels, loc="upper left", bbox_to_anchor=(0.0, -0.13), fontsize=fontsize,
                       frameon=False, borderaxespad=0.0, handlelength=2.5)
    legend.set_in_layout(False)  # the axes keep their size; the saved figure grows to hold it
