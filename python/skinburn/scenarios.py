"""Ready-made trials to start from: a flash fire, an airbag jet, hot-liquid contact.

Each returns a :class:`~skinburn.trial.Trial` with an automatic grid and
cooling time; change what differs with :meth:`Trial.replace`.

Holds :data:`SCENARIOS`. Uses :mod:`skinburn.exposure`,
:mod:`skinburn.kinetics`, :mod:`skinburn.skin`, :mod:`skinburn.trial` and
:mod:`skinburn.units`.
"""
from __future__ import annotations

from typing import Callable, Optional, Union

from .exposure import AirbagJet, HeatFlux, InitialProfile, Series, SurfaceTemperature
from .garment import Clothed, Garment
from .kinetics import HENRIQUES_1947, WEAVER_STOLL_1969, Kinetics
from .skin import TORVI_DALE_1994, Skin
from .trial import Trial
from .units import Temperature, celsius, kelvin

#: Flash-fire heat flux, W/m^2: the 84 kW/m^2 (2 cal/(cm^2 s)) exposure of
#: ASTM F1930 (flame-resistant clothing on an instrumented manikin).
FLASH_FIRE_FLUX_W_M2 = 84e3

#: Skin initial temperatures of the flash-fire scenarios: 32.5 C at the
#: surface to 37 C at the inner face, as in Torvi and Dale (1994).
SKIN_SURFACE = celsius(32.5)
SKIN_CORE = celsius(37.0)


def flash_fire(flux_W_m2: float = FLASH_FIRE_FLUX_W_M2, duration_s: float = 2.0, skin: Skin = TORVI_DALE_1994,
               kinetics: Kinetics = WEAVER_STOLL_1969, garment: Optional[Garment] = None) -> Trial:
    """A heat flux (absorbed, W/m^2) on bare skin for ``duration_s`` (s), then an insulated surface.

    With a ``garment`` the flux is absorbed by the fabric's outer face instead
    (:class:`~skinburn.garment.Clothed`), as on an instrumented manikin
    dressed in one layer of clothing.
    """
    exposure = HeatFlux(flux_W_m2, duration_s)
    title = f"Flash fire {flux_W_m2 / 1e3:g} kW/m2 for {duration_s:g} s"
    if garment is None:
        return Trial(skin, InitialProfile.linear(SKIN_SURFACE, SKIN_CORE), exposure, kinetics=kinetics, title=title)
    return Trial(skin, InitialProfile.linear(SKIN_SURFACE, SKIN_CORE), Clothed(exposure, garment), kinetics=kinetics,
                 title=f"{title} through {garment.fabric.name}, gap {garment.gap_m * 1e3:g} mm")


def airbag_jet(gas_temperature: Union[Temperature, Series, None] = None, standoff_m: float = 0.05,
               duration_s: float = 0.1, skin: Skin = TORVI_DALE_1994, kinetics: Kinetics = WEAVER_STOLL_1969,
               gas_velocity_m_s: Optional[Union[float, Series]] = None) -> Trial:
    """The inflator jet of examples/airbag-jet (10 mm nozzle, on axis, near-field term) for ``duration_s``.

    Default gas: 1000 K for 60 ms, then falling to 600 K at 0.2 s; velocity
    120 m/s for 60 ms, then falling to 20 m/s at 0.2 s (the example's
    LEFTIMP.DAT and DATA.DAT). Skin at 37 C throughout at the start.
    """
    gas = gas_temperature if gas_temperature is not None else Series([0.0, 0.06, 0.2], kelvin([1000.0, 1000.0, 600.0]))
    vel = gas_velocity_m_s if gas_velocity_m_s is not None else Series([0.0, 0.06, 0.2], [120.0, 120.0, 20.0])
    jet = AirbagJet(nozzle_diameter_m=0.01, standoff_m=standoff_m, gas_temperature=gas, gas_velocity_m_s=vel,
                    duration_s=duration_s)
    return Trial(skin, InitialProfile.uniform(SKIN_CORE), jet, kinetics=kinetics, title="Airbag inflator jet")


def hot_liquid(temperature: Temperature = celsius(60.0), duration_s: float = 10.0, skin: Skin = TORVI_DALE_1994,
               kinetics: Kinetics = HENRIQUES_1947) -> Trial:
    """The surface held at ``temperature`` for ``duration_s`` (s), then at the core temperature."""
    return Trial(skin, InitialProfile.linear(SKIN_SURFACE, SKIN_CORE), SurfaceTemperature(temperature, duration_s),
                 kinetics=kinetics, title=f"Hot liquid {float(temperature.C):g} C for {duration_s:g} s")


SCENARIOS: dict[str, Callable[..., Trial]] = {"flash-fire": flash_fire, "airbag-jet": airbag_jet, "hot-liquid": hot_liquid}
