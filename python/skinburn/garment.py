"""A garment in front of the skin: one fabric layer and the air gap between it and the skin.

The fabric is solved here, by a small implicit finite-difference model of
its own; the skin stays the program's. The exposure (:class:`HeatFlux` or
:class:`Flame`) acts on the fabric's outer face; its back face heats the
skin across the gap. The skin's face in the program is a CONVECTION face
whose h(t) and ambient T(t) carry what the fabric gives it, linearized
about the skin's surface temperature of the run before;
:func:`skinburn.runs.run` runs again until that settles (1 mK).

What is modelled, and what is assumed
-------------------------------------
- The fabric is a homogeneous solid slab: conduction alone, with constant
  conductivity, density and heat capacity (its pores' air and radiation
  within are in the conductivity given). No moisture (dry fabric: no
  evaporation or condensation), no melting, no charring, pyrolysis or
  ignition, no shrinkage (the gap keeps its width), no transmission of
  radiation through the fabric (it is opaque; its faces grey).
- The gap holds still air: conduction k_air/gap, k_air from
  :data:`~skinburn.exposure.AIR_1ATM` at the mean of the fabric's back and
  the skin's surface temperatures, and radiation between two parallel
  grey plates, sigma (T_f^4 - T_s^4) / (1/eps_f + 1/eps_s - 1). The air's
  heat capacity is neglected (a quasi-steady resistance: 6 mm of air holds
  7 J/(m^2 K), the fabric some 250 times as much), and so is convection:
  a vertical enclosure conducts as still air while its Rayleigh number is
  below about 10^3 (Incropera and DeWitt, Fundamentals of Heat and Mass
  Transfer, section 9.8, vertical rectangular cavities); :func:`march`
  gives the largest Rayleigh number a run reached, to check it against.
- The fabric's outer face: during the exposure, a :class:`HeatFlux`'s flux
  absorbed, or a :class:`Flame`'s convection and its radiant flux absorbed
  at the fabric's ``outer_emissivity``; at all times it re-radiates
  outer_emissivity x sigma (T^4 - T_surr^4) to the garment's
  ``surroundings``. After the exposure it is cooled by that re-radiation
  and natural convection at ``after_h_W_m2K`` from the surroundings, and
  the fabric goes on heating the skin across the gap as long as it is the
  hotter.
- The fabric starts uniform at the skin's initial surface temperature
  (``initial`` None) or at ``initial``.

A garment in contact (``gap_m`` 0) joins the fabric's back to the skin's
surface: one temperature there, the fabric's back flux into the skin.

Accuracy: the fabric's model is second order in its spacing and of the
trial's time scheme's order in its step (BDF2 after one backward-Euler
step, or backward Euler); it takes the skin's DELTAT and a spacing of at
most the skin's DELTAX (at least four spacings through the fabric), so an
automatic grid refines it with the skin, and the settled grid's stated
uncertainty covers it. Its nonlinear faces are solved by Newton's method
to 1e-9 K at every step.

Holds :class:`Fabric`, :class:`Garment`, :class:`Clothed`,
:data:`COTTON_LIKE`, :class:`GarmentError`, :func:`march` and
:class:`FabricMarch`. Uses :mod:`skinburn.checks`, :mod:`skinburn.exposure`
and :mod:`skinburn.units`.
"""
from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Optional, Union

import numpy as np
import numpy.typing as npt
from scipy.linalg import solve_banded

from .checks import finite, non_negative, positive
from .exposure import (AIR_1ATM, SKIN_EMISSIVITY, STEFAN_BOLTZMANN, Convection, Flame, GasTable, HeatFlux, Series,
                       knots)
from .units import SkinburnError, Temperature, require_temperature


class GarmentError(SkinburnError, ValueError):
    """A garment or its exposure the garment's model does not take; the message says what to change."""


def _fraction(value: float, what: str) -> float:
    x = finite(value, what, "")
    if not 0.0 <= x <= 1.0:
        raise GarmentError(f"{what} must lie from 0 to 1, not {value!r}")
    return x


@dataclass(frozen=True)
class Fabric:
    """One fabric layer: thickness (m), conductivity (W/(m K)), density (kg/m^3), heat capacity
    (J/(kg K)) and the emissivities of its outer face (towards the exposure) and inner face (towards
    the skin), grey and opaque."""

    name: str
    thickness_m: float
    conductivity_W_mK: float
    density_kg_m3: float
    heat_capacity_J_kgK: float
    outer_emissivity: float
    inner_emissivity: float
    source: str = ""

    def __post_init__(self) -> None:
        for what, unit in (("thickness_m", "m"), ("conductivity_W_mK", "W/(m K)"), ("density_kg_m3", "kg/m^3"),
                           ("heat_capacity_J_kgK", "J/(kg K)")):
            positive(getattr(self, what), f"fabric {self.name!r}: {what}", unit)
        _fraction(self.outer_emissivity, f"fabric {self.name!r}: outer_emissivity")
        _fraction(self.inner_emissivity, f"fabric {self.name!r}: inner_emissivity")


#: A single layer of dry cotton-like fabric, 0.5 mm and 200 g/m^2.
COTTON_LIKE = Fabric(
    "cotton-like, 0.5 mm, 200 g/m^2", 0.5e-3, 0.07, 400.0, 1300.0, 0.88, 0.88,
    source="conductivity 0.071-0.073 W/(m K) for cotton fabric at 20 C (GESTER Instruments, "
           "Analysis of influencing factors of fabric's thermal performance, 2021, table 1); heat capacity "
           "1.22-1.35 J/(g K) for dry cotton (W. E. Morton and J. W. S. Hearle, Physical Properties of "
           "Textile Fibres, table 6.1); density 400 kg/m^3, a 200 g/m^2 fabric 0.5 mm thick (cotton fibre "
           "1540 kg/m^3 at 74 % porosity, within the 70-80 % of fabrics the first source gives); emissivity "
           "0.88 of cotton fabric at 8-12 um (U.S. National Institute of Justice, A study of the "
           "mid-infrared emissivity of dried blood on fabrics)")


@dataclass(frozen=True)
class Garment:
    """A fabric layer ``gap_m`` (m) in front of the skin (0: in contact), as :mod:`skinburn.garment` models it.

    ``skin_emissivity`` is the skin's face across the gap; ``gas_table`` the gas
    table whose conductivity (at the gap's mean temperature) the gap
    conducts with; ``after_h_W_m2K`` (W/(m^2 K)) the natural convection on
    the fabric's outer face after the exposure, from ``surroundings``, to
    which the outer face also re-radiates; ``initial`` the fabric's starting
    temperature (None: the skin's initial surface temperature).
    """

    fabric: Fabric
    gap_m: float
    skin_emissivity: float = SKIN_EMISSIVITY
    gas_table: GasTable = AIR_1ATM
    after_h_W_m2K: float = 10.0
    surroundings: Temperature = Temperature(298.15)
    initial: Optional[Temperature] = None

    def __post_init__(self) -> None:
        non_negative(self.gap_m, "gap_m", "m")
        _fraction(self.skin_emissivity, "skin_emissivity")
        non_negative(self.after_h_W_m2K, "after_h_W_m2K", "W/(m^2 K)")
        require_temperature(self.surroundings, "surroundings")
        if self.initial is not None:
            require_temperature(self.initial, "initial")

    def air_conductivity_W_mK(self, temperature_K: npt.ArrayLike) -> np.ndarray:
        """The gap air's conductivity (W/(m K)) at temperatures (K), straight between the table's rows
        (its first and last row beyond them)."""
        rows = np.array(self.gas_table.rows)
        return np.interp(np.asarray(temperature_K, dtype=float), rows[:, 0], rows[:, 2])

    def gap_flux_W_m2(self, back_K: npt.ArrayLike, skin_K: npt.ArrayLike) -> np.ndarray:
        """The flux across the gap (W/m^2, positive into the skin): conduction and grey radiation."""
        tf, ts = np.asarray(back_K, dtype=float), np.asarray(skin_K, dtype=float)
        exchange = 1.0 / (1.0 / self.fabric.inner_emissivity + 1.0 / self.skin_emissivity - 1.0) \
            if self.fabric.inner_emissivity > 0 and self.skin_emissivity > 0 else 0.0
        k = self.air_conductivity_W_mK((tf + ts) / 2)
        return k / self.gap_m * (tf - ts) + exchange * STEFAN_BOLTZMANN * (tf ** 4 - ts ** 4)

    def rayleigh(self, back_K: npt.ArrayLike, skin_K: npt.ArrayLike) -> np.ndarray:
        """The gap's Rayleigh number g beta |T_f - T_s| gap^3 / (nu alpha), the air's properties at the mean
        temperature (beta = 1/T_mean, alpha = nu / Pr)."""
        tf, ts = np.asarray(back_K, dtype=float), np.asarray(skin_K, dtype=float)
        mean = (tf + ts) / 2
        rows = np.array(self.gas_table.rows)
        nu = np.interp(mean, rows[:, 0], rows[:, 1])
        alpha = nu / np.interp(mean, rows[:, 0], rows[:, 3])
        return 9.80665 * np.abs(tf - ts) / mean * self.gap_m ** 3 / (nu * alpha)


@dataclass(frozen=True)
class Clothed:
    """An exposure (:class:`HeatFlux` or :class:`Flame`) on the outer face of a garment in front of the skin.

    Through a garment, the fabric's ``outer_emissivity`` absorbs a flame's
    radiant flux and emits: leave the flame's own ``emissivity`` and
    ``absorptivity`` (a bare skin's) at their defaults. ``skin_surface_K``
    is the skin's surface temperature at the records of the run before,
    which the skin's face is linearized about (None: its initial
    temperature throughout); :func:`skinburn.runs.run` sets it.
    """

    exposure: Union[HeatFlux, Flame]
    garment: Garment
    skin_surface_K: Optional[Series] = None

    face = "CONVECTION"

    def __post_init__(self) -> None:
        if not isinstance(self.exposure, (HeatFlux, Flame)):
            raise GarmentError(f"a garment takes a HeatFlux or a Flame on its outer face, not a "
                               f"{type(self.exposure).__name__}: give the exposure as one of them")
        if isinstance(self.exposure, Flame) and (self.exposure.emissivity != SKIN_EMISSIVITY
                                                 or self.exposure.absorptivity is not None):
            raise GarmentError("through a garment the fabric's outer_emissivity absorbs the flame's radiation "
                               "and emits: leave the flame's emissivity and absorptivity at their defaults "
                               "and set the fabric's outer_emissivity")
        if isinstance(self.exposure, Flame) and self.exposure.surface_K is not None:
            raise GarmentError("a flame through a garment needs no surface_K (the fabric's face is solved "
                               "in its own model): leave it None")
        if self.skin_surface_K is not None and not self.skin_surface_K.is_temperature:
            raise TypeError("skin_surface_K: the series must hold temperatures given with kelvin(...)")

    @property
    def duration_s(self) -> float:
        """The exposure's duration (s)."""
        return self.exposure.duration_s

    def after_text(self) -> str:
        """What the skin's face does after the exposure, for a verdict."""
        g = self.garment
        return (f"the garment {'in contact' if g.gap_m == 0 else f'{g.gap_m * 1e3:g} mm in front'} still heating the "
                f"skin, its fabric cooled by re-radiation and convection at {g.after_h_W_m2K:g} W/(m^2 K) "
                f"from {float(g.surroundings.K):g} K")

    def skin_face(self, deltax_m: float, deltat_s: float, steps: int, bdf2: bool,
                  initial_surface_K: float) -> Convection:
        """The program's CONVECTION face of the skin for the whole run (``steps`` of ``deltat_s``):
        what :func:`march` gives it, written so that each step takes its own values."""
        m = march(self, deltax_m, deltat_s, steps, bdf2, initial_surface_K)
        t, h, amb = m.times_s, m.h_W_m2K, m.ambient_K
        if bdf2:  # each step's values at its end
            times, hv, av = t, np.concatenate([h[1:2], h[1:]]), np.concatenate([amb[1:2], amb[1:]])
        else:  # backward Euler: each step's mean, a staircase of its values
            times = np.repeat(t, 2)[1:-1]
            hv, av = np.repeat(h[1:], 2), np.repeat(amb[1:], 2)
        return Convection(Series(times, hv), Series(times, Temperature(av)), float(t[-1]))


@dataclass
class FabricMarch:
    """What the fabric did over a run, at the skin's records (``times_s``, s).

    ``fabric_K``: the fabric's nodes (records x nodes, outer face first, K);
    ``back_K`` its back face; ``skin_K`` the skin's surface temperature it
    was coupled to; ``gap_flux_W_m2`` the flux into the skin; ``h_W_m2K``
    and ``ambient_K`` the skin's face that gives that flux at ``skin_K``
    and its change with the skin's surface temperature within each step;
    ``rayleigh`` the gap's largest Rayleigh number (0 in contact).
    """

    times_s: np.ndarray
    fabric_K: np.ndarray
    skin_K: np.ndarray
    gap_flux_W_m2: np.ndarray
    h_W_m2K: np.ndarray
    ambient_K: np.ndarray
    rayleigh: float = 0.0
    spacing_m: float = field(default=0.0)

    @property
    def back_K(self) -> np.ndarray:
        """The fabric's back face (K) at every record."""
        return self.fabric_K[:, -1]


#: K: Newton's method on a step's nonlinear faces stops when no temperature moves by more than this.
_NEWTON_K = 1e-9
_NEWTON_STEPS = 60


def march(clothed: Clothed, deltax_m: float, deltat_s: float, steps: int, bdf2: bool,
          initial_surface_K: float) -> FabricMarch:
    """March the fabric over ``steps`` steps of ``deltat_s`` (s), coupled to the skin's surface
    temperature ``clothed.skin_surface_K`` (K; None: ``initial_surface_K`` throughout).

    At every step the fabric is solved implicitly (BDF2 when ``bdf2``, its first step backward Euler;
    else backward Euler), its faces' radiation by Newton's method. The flux into the skin is then
    written as the linear face h (T_amb - T_s) that gives it at the skin's temperature and changes with
    T_s as the fabric's solution of that step would (the fabric's sensitivity to the skin's surface,
    by one more solve), at most as steeply as the fabric's heat capacity per area over the exposure's
    duration, so that the runs settle in a few even when the fabric is in contact. Whatever h is, the
    settled run's face gives the skin the fabric's own flux at the skin's own surface temperature.
    """
    g, fab = clothed.garment, clothed.garment.fabric
    exp = clothed.exposure
    n = max(4, math.ceil(fab.thickness_m / deltax_m - 1e-9))
    dx = fab.thickness_m / n
    cap = np.full(n + 1, fab.density_kg_m3 * fab.heat_capacity_J_kgK * dx)
    cap[0] = cap[-1] = cap[0] / 2
    kdx = fab.conductivity_W_mK / dx
    contact = g.gap_m == 0
    times = np.arange(steps + 1) * deltat_s
    if clothed.skin_surface_K is not None:
        skin = np.interp(times, clothed.skin_surface_K.times_s, clothed.skin_surface_K.values)
    else:
        skin = np.full(steps + 1, float(initial_surface_K))
    start = float(g.initial.K) if g.initial is not None else float(initial_surface_K)
    surr = float(g.surroundings.K)
    eps_o = fab.outer_emissivity
    if isinstance(exp, HeatFlux):
        h_on, gas_on, absorbed = (np.array([0.0]), np.array([0.0])), (np.array([0.0]), np.array([surr])), \
            knots(exp.flux_W_m2, "flux_W_m2", False)
        absorb = 1.0
    else:
        h_on, gas_on, absorbed = knots(exp.h_W_m2K, "h_W_m2K", False), knots(exp.gas, "gas", True), \
            knots(exp.radiant_W_m2, "radiant_W_m2", False)
        absorb = eps_o
    duration = exp.duration_s
    # The skin's face follows the fabric's change with the skin's surface within the step, but never
    # more steeply than the fabric's heat capacity per area over the exposure's duration: its response
    # to changes as slow as the exposure. Steeper, a change over many steps (the fabric's memory of the
    # skin's surface before) settles barely faster than 1 in 1 per run when the fabric is in contact or
    # close; at this slope the runs of a contact settle by about a factor of 8 each.
    slow = fab.density_kg_m3 * fab.heat_capacity_J_kgK * fab.thickness_m / duration

    T = np.empty((steps + 1, n + 1))
    T[0] = start
    flux = np.zeros(steps + 1)
    h_face = np.zeros(steps + 1)
    amb = np.full(steps + 1, float(skin[0]))
    size = n if contact else n + 1  # in contact the back node is the skin's surface
    for m in range(1, steps + 1):
        # The exposure's share of this step and its values at the step's end (or the exposure's).
        on = min(max((duration - times[m - 1]) / deltat_s, 0.0), 1.0)
        at = min(times[m], duration)
        h_out = on * float(np.interp(at, *h_on)) + (1 - on) * g.after_h_W_m2K
        heat = on * (float(np.interp(at, *h_on)) * float(np.interp(at, *gas_on))
                     + absorb * float(np.interp(at, *absorbed))) + (1 - on) * g.after_h_W_m2K * surr
        second = bdf2 and m >= 2
        a = 1.5 / deltat_s if second else 1.0 / deltat_s
        past = (2.0 * T[m - 1] - 0.5 * T[m - 2]) / deltat_s if second else T[m - 1] / deltat_s
        ts = float(skin[m])
        x = T[m - 1].copy()
        if contact:
            x[-1] = ts
        for _ in range(_NEWTON_STEPS):
            # Residual F (heat in minus storage) and its Jacobian, banded, over the unknown nodes.
            res = cap * (past - a * x)
            res[:-1] += kdx * (x[1:] - x[:-1])
            res[1:] -= kdx * (x[1:] - x[:-1])
            res[0] += heat - h_out * x[0] - eps_o * STEFAN_BOLTZMANN * (x[0] ** 4 - surr ** 4)
            diag = -cap * a - 2 * kdx
            diag[0] = diag[-1] = -cap[0] * a - kdx
            diag[0] -= h_out + 4 * eps_o * STEFAN_BOLTZMANN * x[0] ** 3
            if not contact:
                q, dq = _gap(g, x[-1], ts)
                res[-1] -= q
                diag[-1] -= dq[0]
            band = np.zeros((3, size))
            band[0, 1:] = kdx
            band[1] = diag[:size]
            band[2, :-1] = kdx
            dx_new = solve_banded((1, 1), band, -res[:size])
            x[:size] += dx_new
            if not np.all(np.isfinite(x)):
                raise GarmentError(f"the fabric's temperature is not finite at {times[m]:g} s: give the trial a "
                                   "smaller step or a milder exposure")
            if float(np.max(np.abs(dx_new))) <= _NEWTON_K:
                break
        T[m] = x
        # The fabric's sensitivity to the skin's surface temperature this step: J v = -dF/dT_s (rhs).
        rhs = np.zeros(size)
        if contact:
            rhs[-1] = kdx  # dF_(n-1)/dT_s: node n-1 conducts to the skin's surface
        else:
            q, dq = _gap(g, x[-1], ts)
            rhs[-1] = -dq[1]  # dF_n/dT_s = -dq/dT_s
        v = solve_banded((1, 1), band, -rhs)
        if contact:
            # The fabric's back half cell: what it conducts in less what it stores goes into the skin.
            q = kdx * (x[-2] - ts) - cap[-1] * (a * ts - past[-1])
            slope = kdx * (v[-1] - 1.0) - cap[-1] * a
        else:
            slope = dq[0] * v[-1] + dq[1]
        flux[m] = q
        h_face[m] = min(max(-slope, 1e-12), slow)
        amb[m] = ts + q / h_face[m]
    ra = 0.0 if contact else float(np.max(g.rayleigh(T[:, -1], skin)))
    return FabricMarch(times, T, skin, flux, h_face, amb, ra, dx)


def _gap(g: Garment, back_K: float, skin_K: float) -> tuple[float, tuple[float, float]]:
    """The gap's flux into the skin (W/m^2) and its derivatives by the back's and the skin's
    temperatures (central differences of 1 mK: exact to 1e-7 of the flux's curvature)."""
    d = 1e-3
    q = float(g.gap_flux_W_m2(back_K, skin_K))
    by_back = float(g.gap_flux_W_m2(back_K + d, skin_K) - g.gap_flux_W_m2(back_K - d, skin_K)) / (2 * d)
    by_skin = float(g.gap_flux_W_m2(back_K, skin_K + d) - g.gap_flux_W_m2(back_K, skin_K - d)) / (2 * d)
    return q, (by_back, by_skin)
