"""Blood perfusion: a perfused layer written as the program's PERFUSE.DAT and run with --perfusion.

Its agreement with the closed forms of a perfused slab is a band of the
verification (vv/perfusion.py, checked by vv.bands); here what the package
adds around it."""
import dataclasses
import json

import pytest

import skinburn as sb
from skinburn.scenarios import hot_liquid
from skinburn.units import celsius
from vv import perfusion as pf


def test_a_perfused_slab_settles_on_its_closed_forms(program):
    found = pf.verify(program)
    assert all(held for *_, held in found.bands), found.bands


@pytest.mark.parametrize("rate", [-1e-3, float("nan"), float("inf")])
def test_a_rate_that_cannot_be_one_is_refused_by_name(rate):
    with pytest.raises(ValueError, match="perfusion_1_s"):
        sb.Layer("dermis", 2e-3, 0.523, 1200.0, 3300.0, perfusion_1_s=rate)
    with pytest.raises(ValueError, match="no layer 'derm'"):
        sb.UNIFORM_DERMIS.with_perfusion({"derm": 1e-3})
    with pytest.raises(ValueError, match="arterial_K"):
        sb.Blood(arterial_K=float("nan"))


def test_an_unperfused_skin_is_serialized_as_before():
    plain = sb.TORVI_DALE_1994
    assert not plain.perfused
    assert "perfusion_1_s" not in json.dumps(plain.to_dict()) + json.dumps(
        dataclasses.replace(plain, name="copy").to_dict())
    assert "blood" not in dataclasses.replace(plain, name="copy").to_dict()


def test_a_perfused_skin_runs_with_the_blood_the_program_read(program, tmp_path):
    skin = sb.TORVI_DALE_1994.with_perfusion({"dermis": 2e-3, "subcutaneous": 2e-3})
    assert skin.perfused and sb.Skin.from_dict(json.loads(json.dumps(skin.to_dict()))) == skin
    trial = hot_liquid(celsius(55.0), 300.0, skin=skin)
    res = sb.run(trial, program, directory=tmp_path / "perfused")
    read = res.inputs.perfusion
    assert read["arterial_temperature_K"] == skin.blood.arterial_K
    laid = read["laid"]["values"]
    depths = [i * res.deltax_m for i in range(res.nodes)]
    # Every node has its own layer's rate: none in the epidermis, 2e-3 1/s below it.
    assert all(w == (0.0 if z <= skin.epidermis_base_m else 2e-3) for z, w in zip(depths, laid))
    # A stale PERFUSE.DAT goes when the skin is no longer perfused.
    assert (tmp_path / "perfused" / "PERFUSE.DAT").exists()
    lay = sb.write_trial(dataclasses.replace(res.trial, skin=sb.TORVI_DALE_1994), tmp_path / "perfused")
    assert "PERFUSE.DAT" not in lay.files and not (tmp_path / "perfused" / "PERFUSE.DAT").exists()

    # Five minutes in 55 C water: the blood carries enough heat away that the
    # third-degree criterion is no longer met, and the verdict says it was perfused.
    a = sb.assess(res)
    b = sb.assess(sb.run(hot_liquid(celsius(55.0), 300.0), program))
    assert b.criterion_times_s[3] is not None and a.criterion_times_s[3] is None
    assert a.depth_reached_m[1.0] < 0.8 * b.depth_reached_m[1.0]
    assert "Perfused: the Pennes term with rates 0, 0.002 1/s" in a.verdict()
    assert "Perfused" not in b.verdict()
