"""A garment in front of the skin: its fabric solved by the package, the gap a resistance.

Its agreement with SciPy's integration of fabric, gap and skin together is a
band of the verification (vv/garment_gap.py, checked by vv.bands); here the
contact limit against the layered skin, what a garment does to a burn, and
what it refuses."""
import dataclasses
import json

import numpy as np
import pytest

import skinburn as sb
from skinburn.scenarios import flash_fire

FLUX, DURATION = 40e3, 3.0


def clothed_fire(garment, scheme="bdf2", dx=80e-6 / 7.5, dt=0.01, after=10.0):
    trial = flash_fire(FLUX, DURATION, garment=garment).replace("initial", sb.InitialProfile.uniform(sb.celsius(34)))
    return trial.replace("grid", sb.Grid(dx, dt, time_scheme=scheme)).replace("after_exposure_s", after)


@pytest.mark.parametrize("scheme", ["bdf2", "backward-euler"])
def test_a_garment_in_contact_is_the_layered_skin_with_the_fabric_outside(program, scheme):
    """Without re-radiation or cooling of the fabric's outer face, a fabric in contact is one more layer of
    the skin: the program's layered skin (the fabric its outer layer) is the independent answer."""
    fabric = dataclasses.replace(sb.COTTON_LIKE, outer_emissivity=0.0)
    clothed = sb.run(clothed_fire(sb.Garment(fabric, 0.0, after_h_W_m2K=0.0), scheme), program)
    L = fabric.thickness_m
    layered_skin = sb.Skin("fabric on the skin", (sb.Layer("fabric", L, fabric.conductivity_W_mK, fabric.density_kg_m3,
                                                           fabric.heat_capacity_J_kgK),) + sb.TORVI_DALE_1994.layers)
    dx = L / 50.5  # the fabric's base halfway between two nodes
    layered = clothed_fire(None, scheme).replace("skin", layered_skin).replace("grid", sb.Grid(dx, 0.01,
                                                                                               time_scheme=scheme))
    ref = sb.run(layered, program)
    z_clothed = np.arange(clothed.temperature_K.shape[1]) * clothed.deltax_m
    z_layered = np.arange(ref.temperature_K.shape[1]) * dx - L
    for depth in (20e-6, 80e-6, 500e-6):
        a = np.array([np.interp(depth, z_clothed, row) for row in clothed.temperature_K])
        b = np.array([np.interp(depth, z_layered, row) for row in ref.temperature_K])
        # Both grids' error (their halving halves the difference): 0.3 % of the rise on these.
        assert np.max(np.abs(a - b)) < 3e-3 * (a.max() - a[0]), depth
    # The criteria are the skin's own: its depths from its own surface, the fabric's damage no part of them.
    assert clothed.trial.skin == sb.TORVI_DALE_1994


def test_a_flame_through_a_garment_heats_the_fabric_not_the_skin_directly(program):
    flame = sb.Flame(30.0, sb.kelvin(1300), 70e3, DURATION)
    bare = sb.run(clothed_fire(None, dt=0.05).replace("exposure", flame), program)
    dressed = sb.run(clothed_fire(sb.Garment(sb.COTTON_LIKE, 6e-3), dt=0.05).replace(
        "exposure", sb.Clothed(flame, sb.Garment(sb.COTTON_LIKE, 6e-3))), program)
    fabric = sb.fabric_history(dressed)
    # The fabric's face balances the flame's heat with its re-radiation: it stays below the gas.
    assert 900 < fabric.fabric_K.max() < 1300
    assert dressed.temperature_K[:, 0].max() < bare.temperature_K[:, 0].max() - 10


def test_a_garment_protects_and_the_gap_more_than_contact_and_keeps_heating_after_the_flame(program):
    bare = sb.run(clothed_fire(None), program)
    gap = sb.run(clothed_fire(sb.Garment(sb.COTTON_LIKE, 6e-3)), program)
    contact = sb.run(clothed_fire(sb.Garment(sb.COTTON_LIKE, 0.0)), program)
    peak = {k: float(r.temperature_K[:, 0].max()) for k, r in (("bare", bare), ("gap", gap), ("contact", contact))}
    assert peak["gap"] < peak["contact"] < peak["bare"], peak
    # The fabric goes on heating the skin after the exposure: its surface peaks after the 3 s.
    assert np.argmax(gap.temperature_K[:, 0]) * gap.deltat_s > DURATION + 0.2
    fabric = sb.fabric_history(gap)
    assert fabric.gap_flux_W_m2[int(round((DURATION + 1.0) / gap.deltat_s))] > 0
    assert 0 < fabric.rayleigh < 1e3  # still air across 6 mm, as the gap's model assumes
    # The settled run's face gives the skin the fabric's own flux at the skin's own temperature.
    face_flux = fabric.h_W_m2K * (fabric.ambient_K - gap.temperature_K[:, 0])
    assert np.max(np.abs(face_flux[1:] - fabric.gap_flux_W_m2[1:])) < 1.0  # W/m^2, of some 1e3
    # The verdict says what the face did after the exposure.
    assert "6 mm in front still heating the skin" in sb.assess(gap).verdict()
    # A garment's trial goes as a document where searches and studies send it.
    assert sb.trial_from_dict(json.loads(json.dumps(gap.trial.to_dict()))) == gap.trial


@pytest.mark.parametrize("exposure, kw, message", [
    (sb.SurfaceTemperature(sb.celsius(60), 5.0), {}, "takes a HeatFlux or a Flame"),
    (sb.Flame(30.0, sb.kelvin(1300), 70e3, 2.0, emissivity=0.9), {}, "leave the flame's emissivity"),
    (sb.HeatFlux(FLUX, DURATION), {"gap_m": -1e-3}, "gap_m must not be negative"),
    (sb.HeatFlux(FLUX, DURATION), {"skin_emissivity": 1.2}, "skin_emissivity must lie from 0 to 1"),
])
def test_a_garment_refuses_what_its_model_does_not_take(exposure, kw, message):
    with pytest.raises((ValueError, TypeError), match=message):
        sb.Clothed(exposure, sb.Garment(sb.COTTON_LIKE, **{"gap_m": 6e-3, **kw}))


def test_fabric_history_names_results_without_a_garment(program):
    bare = sb.run(clothed_fire(None, dt=0.1, after=1.0), program)
    with pytest.raises(sb.GarmentError, match="not of a trial with a garment"):
        sb.fabric_history(bare)
