"""Layered skin: layers, published property sets, and how layers sit on the grid.

How a layer boundary sits on skinburn's grid
--------------------------------------------
skinburn gives each node one conductivity, density and heat capacity, and
joins neighbouring nodes through the harmonic mean of their conductivities:
node i stands for the slab from half a spacing above it to half a spacing
below it. The material boundary of the model therefore lies halfway
between two nodes. This package lays a skin on the grid by one rule:

    every node takes the properties of the layer its depth (i-1)*DELTAX lies
    in; a node exactly on a boundary belongs to the layer above.

The boundary of the model then lies halfway between the last node of the
upper layer and the first node of the lower one, at most half a spacing
below the boundary asked for (:meth:`Skin.placed_boundaries_m` gives it).
The automatic grid (:class:`skinburn.trial.AutoGrid`) chooses DELTAX so that
the first boundary (the base of the epidermis, where the first- and second-
degree criteria are judged) lies exactly halfway between two nodes; deeper
boundaries then lie within half a spacing of their depth.

Blood perfusion
---------------
A layer may be perfused: ``Layer(..., perfusion_1_s=w)`` gives it the
Pennes term w rho_b c_b (T_a - T) per unit volume, w in m^3 of blood per
m^3 of tissue per second, with the blood of its skin (:class:`Blood`:
T_a, rho_b, c_b). A skin with a perfused layer is run with the program's
``--perfusion`` and a ``PERFUSE.DAT`` of the rates laid as the other
properties are; a skin without one is written and run exactly as before.

Holds :class:`Layer`, :class:`Blood`, :class:`Skin` and the presets
(:data:`SKINS`). Uses :mod:`skinburn.checks`.
"""
from __future__ import annotations

import math
from dataclasses import dataclass, field, replace
from typing import Optional

import numpy as np
import numpy.typing as npt

from .checks import positive

# A node within this fraction of a spacing of a boundary counts as on it.
_ON_BOUNDARY = 1e-9

#: Each criterion depth of a skin and the layer whose bottom it is by default.
CRITERION_LAYERS = (("epidermis_base_m", "epidermis"), ("dermis_base_m", "dermis"))


@dataclass(frozen=True)
class Layer:
    """One layer of skin, from the layer above it down to ``thickness_m`` deeper."""

    name: str
    thickness_m: float
    conductivity_W_mK: float
    density_kg_m3: float
    heat_capacity_J_kgK: float
    perfusion_1_s: float = 0.0  # blood perfusion rate, 1/s; 0: not perfused

    def __post_init__(self) -> None:
        for what, unit in (("thickness_m", "m"), ("conductivity_W_mK", "W/(m K)"), ("density_kg_m3", "kg/m^3"),
                           ("heat_capacity_J_kgK", "J/(kg K)")):
            positive(getattr(self, what), f"layer {self.name!r}: {what}", unit)
        if not (math.isfinite(self.perfusion_1_s) and self.perfusion_1_s >= 0.0):
            raise ValueError(f"layer {self.name!r}: perfusion_1_s must be 0 or more (1/s), "
                             f"not {self.perfusion_1_s!r}")

    def to_dict(self) -> dict:
        """JSON form; ``perfusion_1_s`` only when the layer is perfused."""
        d = self.__dict__.copy()
        if not self.perfusion_1_s:
            del d["perfusion_1_s"]
        return d

    @property
    def diffusivity_m2_s(self) -> float:
        """Thermal diffusivity k / (rho c) in m^2/s."""
        return self.conductivity_W_mK / (self.density_kg_m3 * self.heat_capacity_J_kgK)


#: The blood values a perfused skin takes unless given: the arterial temperature of a resting body
#: (37 C, an assumption of the model, not a measurement), and the blood's density and heat capacity
#: as a published skin-heating model tabulates them.
BLOOD_SOURCE = ("arterial blood at 37 C (assumed); density 1060 kg/m^3 and heat capacity 3800 J/(kg K) "
                "as tabulated for blood in https://pmc.ncbi.nlm.nih.gov/articles/PMC7644225/table/T1")


@dataclass(frozen=True)
class Blood:
    """The blood that perfuses a skin: arterial temperature (K), density (kg/m^3), heat capacity (J/(kg K))."""

    arterial_K: float = 310.15
    density_kg_m3: float = 1060.0
    heat_capacity_J_kgK: float = 3800.0
    source: str = BLOOD_SOURCE

    def __post_init__(self) -> None:
        for what, unit in (("arterial_K", "K"), ("density_kg_m3", "kg/m^3"), ("heat_capacity_J_kgK", "J/(kg K)")):
            positive(getattr(self, what), f"blood: {what}", unit)


@dataclass(frozen=True)
class Skin:
    """Layers from the exposed surface inwards, with the depths the burn criteria use.

    ``epidermis_base_m`` and ``dermis_base_m`` are where the first-, second-
    and third-degree criteria are judged; by default the bottoms of the
    layers named ``epidermis`` and ``dermis``. A single-layer skin must give
    them. A depth derived from a layer follows it: a copy with other layers
    (``dataclasses.replace``, ``Trial.replace("skin.layers.0.thickness_m",
    ...)``) has it at the new layer's bottom; a depth given stays where it
    was given. ``from_layers`` records the derived ones as (name, depth m)
    pairs: a copy that passes a depth other than the one recorded gives it.
    """

    name: str
    layers: tuple[Layer, ...]
    source: str = ""
    epidermis_base_m: Optional[float] = None
    dermis_base_m: Optional[float] = None
    key: str = field(default="", compare=False)
    from_layers: tuple[tuple[str, float], ...] = field(default=(), compare=False, repr=False)
    blood: Blood = Blood()

    def __post_init__(self) -> None:
        if not self.layers:
            raise ValueError("a skin needs at least one layer")
        for what in ("epidermis_base_m", "dermis_base_m"):
            if getattr(self, what) is not None:
                positive(getattr(self, what), f"skin {self.name!r}: {what}", "m")
        bottoms = dict(zip((l.name for l in self.layers), self.boundaries_m + (self.thickness_m,)))
        recorded = dict(self.from_layers)
        derived = []
        for what, layer in CRITERION_LAYERS:
            if getattr(self, what) is None or (what in recorded and getattr(self, what) == recorded[what]):
                if layer not in bottoms:
                    raise ValueError(f"skin {self.name!r} has no layer {layer!r}: give {what}")
                object.__setattr__(self, what, float(bottoms[layer]))
                derived.append((what, float(bottoms[layer])))
        object.__setattr__(self, "from_layers", tuple(derived))
        if self.criterion_depths_m[0] > self.criterion_depths_m[1]:
            raise ValueError(f"skin {self.name!r}: the epidermis base ({self.epidermis_base_m!r} m) lies below "
                             f"the dermis base ({self.dermis_base_m!r} m)")

    @classmethod
    def uniform(cls, conductivity_W_mK: float, density_kg_m3: float, heat_capacity_J_kgK: float,
                thickness_m: float, epidermis_base_m: float, dermis_base_m: float,
                name: str = "uniform", source: str = "") -> "Skin":
        """One layer of ``thickness_m`` (m), with the criterion depths (m) given."""
        layer = Layer("skin", thickness_m, conductivity_W_mK, density_kg_m3, heat_capacity_J_kgK)
        return cls(name, (layer,), source, epidermis_base_m, dermis_base_m)

    @property
    def thickness_m(self) -> float:
        """Total thickness in m."""
        return float(sum(l.thickness_m for l in self.layers))

    @property
    def criterion_depths_m(self) -> tuple[float, float]:
        """(epidermis base, dermis base) in m, as given or derived from their layers when the skin was made."""
        e, d = self.epidermis_base_m, self.dermis_base_m
        assert e is not None and d is not None, "set when the skin is made"
        return e, d

    @property
    def boundaries_m(self) -> tuple[float, ...]:
        """Depths in m of the boundaries between layers (not the inner face)."""
        return tuple(float(x) for x in np.cumsum([l.thickness_m for l in self.layers])[:-1])

    def layer_index(self, depth_m: npt.ArrayLike, deltax_m: float) -> np.ndarray:
        """The layer (0-based) of each node depth, by the rule of this module."""
        z = np.asarray(depth_m, dtype=float)
        bounds = np.asarray(self.boundaries_m) + _ON_BOUNDARY * deltax_m
        return np.searchsorted(bounds, z, side="left")

    def placed_boundaries_m(self, deltax_m: float, nodes: int) -> tuple[float, ...]:
        """Where the model's material boundaries lie on a grid (m): halfway between two nodes.

        A boundary below the deepest node is left out.
        """
        z = np.arange(nodes) * deltax_m
        idx = self.layer_index(z, deltax_m)
        changes = np.nonzero(np.diff(idx))[0]
        return tuple(float((z[i] + z[i + 1]) / 2) for i in changes)

    def with_perfusion(self, rates_1_s: dict[str, float], blood: Optional[Blood] = None) -> "Skin":
        """A copy whose layers named in ``rates_1_s`` are perfused at those rates (1/s), with ``blood``
        (default: this skin's). Every other layer keeps its own rate."""
        unknown = set(rates_1_s) - {l.name for l in self.layers}
        if unknown:
            raise ValueError(f"skin {self.name!r} has no layer {', '.join(repr(n) for n in sorted(unknown))}: "
                             f"its layers are {', '.join(repr(l.name) for l in self.layers)}")
        layers = tuple(replace(l, perfusion_1_s=float(rates_1_s.get(l.name, l.perfusion_1_s))) for l in self.layers)
        return replace(self, layers=layers, blood=blood or self.blood,
                       epidermis_base_m=self.epidermis_base_m, dermis_base_m=self.dermis_base_m)

    @property
    def perfused(self) -> bool:
        """True when a layer is perfused: the skin is run with the program's ``--perfusion``."""
        return any(l.perfusion_1_s > 0 for l in self.layers)

    def node_properties(self, deltax_m: float, nodes: int) -> dict[str, np.ndarray]:
        """Per node: ``conductivity_W_mK``, ``density_kg_m3``, ``heat_capacity_J_kgK``."""
        idx = self.layer_index(np.arange(nodes) * deltax_m, deltax_m)
        idx = np.minimum(idx, len(self.layers) - 1)
        return {
            "conductivity_W_mK": np.array([self.layers[i].conductivity_W_mK for i in idx]),
            "density_kg_m3": np.array([self.layers[i].density_kg_m3 for i in idx]),
            "heat_capacity_J_kgK": np.array([self.layers[i].heat_capacity_J_kgK for i in idx]),
        }

    def property_pairs(self, prop: str, deltax_m: float, nodes: int) -> list[tuple[float, float]]:
        """The (depth m, value) pairs of one property table for ``DATA.DAT``.

        Steps stand at the placed boundaries, halfway between two nodes, so
        the program gives every node the layer the rule gives it whatever the
        rounding of its depth; the last pair lies beyond ``nodes`` * DELTAX,
        as the program requires.
        """
        attr = {"conductivity": "conductivity_W_mK", "density": "density_kg_m3",
                "heat_capacity": "heat_capacity_J_kgK", "perfusion": "perfusion_1_s"}[prop]
        z = np.arange(nodes) * deltax_m
        idx = np.minimum(self.layer_index(z, deltax_m), len(self.layers) - 1)
        pairs = [(0.0, getattr(self.layers[idx[0]], attr))]
        for i in np.nonzero(np.diff(idx))[0]:
            mid = float((z[i] + z[i + 1]) / 2)
            pairs.append((mid, getattr(self.layers[idx[i]], attr)))
            pairs.append((mid, getattr(self.layers[idx[i + 1]], attr)))
        pairs.append(((nodes + 1) * deltax_m, getattr(self.layers[idx[-1]], attr)))
        return pairs

    @property
    def derived_depths(self) -> tuple[str, ...]:
        """The criterion depths (``epidermis_base_m``, ``dermis_base_m``) that follow their layer."""
        return tuple(what for what, _ in self.from_layers)

    def to_dict(self) -> dict:
        """JSON form: a preset by its key (while it is the preset), else every layer, both criterion
        depths, and ``from_layers``: those of them that follow their layer's bottom."""
        preset = SKINS.get(self.key) if self.key else None
        if preset is not None and preset == self and preset.derived_depths == self.derived_depths:
            return {"preset": self.key}
        d: dict = {"name": self.name, "source": self.source,
                   "epidermis_base_m": self.epidermis_base_m, "dermis_base_m": self.dermis_base_m,
                   "from_layers": list(self.derived_depths),
                   "layers": [l.to_dict() for l in self.layers]}
        if self.perfused:
            d["blood"] = self.blood.__dict__.copy()
        return d

    @classmethod
    def from_dict(cls, d: dict) -> "Skin":
        """The inverse of :meth:`to_dict`. A depth named in ``from_layers`` follows its layer; JSON
        without ``from_layers`` (written before it existed) gives both depths as they stand."""
        if "preset" in d:
            return skin_preset(d["preset"])
        follow = set(d.get("from_layers") or ())
        unknown = follow - {what for what, _ in CRITERION_LAYERS}
        if unknown:
            raise ValueError(f"skin from_layers names {', '.join(sorted(unknown))}; it takes "
                             f"{', '.join(what for what, _ in CRITERION_LAYERS)}")
        def depth(what: str) -> Optional[float]:
            return None if what in follow else d.get(what)
        return cls(d.get("name", "skin"), tuple(Layer(**l) for l in d["layers"]), d.get("source", ""),
                   epidermis_base_m=depth("epidermis_base_m"), dermis_base_m=depth("dermis_base_m"),
                   blood=Blood(**d["blood"]) if "blood" in d else Blood())


# --- Presets ----------------------------------------------------------------

_TORVI_DALE_SOURCE = ("D. A. Torvi and J. D. Dale, A finite element model of skin subjected to a "
                      "flash fire, Journal of Biomechanical Engineering 116 (1994) 250-255")

#: Torvi and Dale (1994): epidermis 80 um, dermis 2 mm, subcutaneous tissue 10 mm.
TORVI_DALE_1994 = Skin(
    "Torvi-Dale 1994",
    (Layer("epidermis", 80e-6, 0.255, 1200.0, 3590.0),
     Layer("dermis", 2e-3, 0.523, 1200.0, 3300.0),
     Layer("subcutaneous", 10e-3, 0.167, 1000.0, 2500.0)),
    source=_TORVI_DALE_SOURCE, key="torvi-dale")

#: One layer with Torvi and Dale's dermis properties through their skin's
#: 12.08 mm, the criteria judged at their epidermis and dermis bases.
UNIFORM_DERMIS = Skin(
    "uniform (Torvi-Dale dermis)",
    (Layer("skin", 12.08e-3, 0.523, 1200.0, 3300.0),),
    source=_TORVI_DALE_SOURCE + " (dermis properties through the whole depth)",
    epidermis_base_m=80e-6, dermis_base_m=2.08e-3, key="uniform")

#: Every skin preset by its key.
SKINS: dict[str, Skin] = {s.key: s for s in (TORVI_DALE_1994, UNIFORM_DERMIS)}
_ALIASES = {"torvi-dale-1994": "torvi-dale", "uniform-dermis": "uniform"}


def criteria_label(name: str, material_is_its: bool) -> str:
    """How a table or figure names the skin its criterion depths came from: ``skin: NAME`` when the
    run's material is that skin's (a trial), else ``criterion depths of NAME on the run's own
    material`` (a data directory keeps its own properties; a skin gives it only the depths)."""
    return f"skin: {name}" if material_is_its else f"criterion depths of {name} on the run's own material"


def skin_preset(key: str) -> Skin:
    """A skin preset by its key (``torvi-dale``, ``uniform``)."""
    k = _ALIASES.get(key, key)
    if k not in SKINS:
        raise KeyError(f"unknown skin {key!r}; presets: {', '.join(SKINS)}")
    return SKINS[k]
