"""The one key language: dotted keys of a trial in Trial.replace, --set, --for and the study tool;
criterion depths that follow their layer or stay where given."""
import dataclasses
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

import skinburn as sb
from skinburn.scenarios import airbag_jet, flash_fire
from skinburn.trial import UnknownKey

PACKAGE_ROOT = Path(__file__).resolve().parents[1]


def test_keys_reach_tuple_items_and_values_take_their_fields_type():
    fire = flash_fire(84e3, 2.0)
    assert fire.replace("skin.layers.0.conductivity_W_mK", 0.3).skin.layers[0].conductivity_W_mK == 0.3
    assert fire.replace("skin.layers.1.density_kg_m3", "1100").skin.layers[1].density_kg_m3 == 1100.0
    doublings = fire.replace("after_exposure_s.max_doublings", 10.0).after_exposure_s.max_doublings
    assert doublings == 10 and type(doublings) is int
    with pytest.raises(ValueError, match="whole number"):
        fire.replace("after_exposure_s.max_doublings", 2.5)
    assert fire.replace("initial.core", "40C").initial.core == sb.celsius(40)
    assert fire.replace("initial.core.offset", 1).initial.core == sb.kelvin(fire.initial.core.K + 1)
    with pytest.raises(ValueError, match="with its unit"):
        fire.replace("initial.core", "40")
    assert fire.replace("exposure.flux_W_m2.scale", 0.5).exposure.flux_W_m2 == 42e3
    jet = airbag_jet(standoff_m=0.05)
    assert jet.replace("exposure.standoff_ratio", 3).exposure.standoff_m == pytest.approx(0.03)
    scaled = jet.replace("exposure.gas_temperature.scale", 1.1).exposure.gas_temperature
    assert scaled.is_temperature and scaled.values == pytest.approx([1.1 * v for v in jet.exposure.gas_temperature.values])
    assert fire.replace("kinetics", "henriques").kinetics is sb.HENRIQUES_1947
    assert fire.replace("grid", {"type": "Grid", "deltax_m": 1e-5, "deltat_s": 0.01}).grid == sb.Grid(1e-5, 0.01)


@pytest.mark.parametrize("key, names", [
    ("exposure.fluxx", "its fields: flux_W_m2, duration_s"),
    ("skin.layers.3.thickness_m", "numbered 0 to 2"),
    ("skin.layerz", "its fields: name, layers, source, epidermis_base_m, dermis_base_m"),
    ("after_exposure_s.max_doublings.x", "a value without fields"),
    ("exposure.standoff_ratio", "not a jet"),
])
def test_a_wrong_key_names_what_exists(key, names):
    with pytest.raises(UnknownKey, match=names):
        flash_fire(84e3, 2.0).replace(key, 1.0)


def test_a_criterion_depth_from_a_layer_follows_it_and_a_given_one_stays():
    fire = flash_fire(84e3, 2.0)
    thin = fire.replace("skin.layers.0.thickness_m", 60e-6).skin
    assert (thin.epidermis_base_m, thin.dermis_base_m) == pytest.approx((60e-6, 2.06e-3))
    assert dataclasses.replace(sb.TORVI_DALE_1994, layers=thin.layers).epidermis_base_m == pytest.approx(60e-6)
    given = fire.replace("skin.epidermis_base_m", 70e-6).replace("skin.layers.0.thickness_m", 60e-6).skin
    assert (given.epidermis_base_m, given.dermis_base_m) == pytest.approx((70e-6, 2.06e-3))
    uniform = sb.UNIFORM_DERMIS  # its depths are given: a thinner skin keeps them
    assert dataclasses.replace(uniform, layers=(dataclasses.replace(uniform.layers[0], thickness_m=5e-3),)) \
        .epidermis_base_m == 80e-6
    # The JSON says which follows; a changed preset is written out, the preset itself by its key.
    assert fire.to_dict()["skin"] == {"preset": "torvi-dale"}
    doc = fire.replace("skin.epidermis_base_m", 70e-6).to_dict()["skin"]
    assert doc["from_layers"] == ["dermis_base_m"] and doc["epidermis_base_m"] == 70e-6
    back = sb.trial_from_dict(json.loads(json.dumps(fire.replace("skin.epidermis_base_m", 70e-6).to_dict())))
    assert back.replace("skin.layers.0.thickness_m", 60e-6).skin.epidermis_base_m == 70e-6
    # JSON written before from_layers existed keeps both depths where it gave them.
    old = {k: v for k, v in thin.to_dict().items() if k != "from_layers"}
    older = sb.Skin.from_dict(dict(old, epidermis_base_m=80e-6, dermis_base_m=2.08e-3))
    assert dataclasses.replace(older, layers=fire.skin.layers[:1] + older.layers[1:]).epidermis_base_m == 80e-6
    with pytest.raises(ValueError, match="from_layers"):
        sb.Skin.from_dict(dict(old, from_layers=["core"]))


def cli(program, *args):
    env = dict(os.environ, SKINBURN=str(program.path), PYTHONPATH=str(PACKAGE_ROOT), PYTHONDONTWRITEBYTECODE="1")
    return subprocess.run([sys.executable, "-m", "skinburn", *map(str, args)], capture_output=True, text=True, env=env)


def test_set_and_for_take_the_same_keys(program, tmp_path):
    trial = flash_fire(84e3, 2.0).replace("grid", sb.Grid(80e-6 / 1.5, 0.05)).replace("after_exposure_s", 5.0)
    (tmp_path / "t.json").write_text(json.dumps(trial.to_dict()))
    out = cli(program, "assess", "--trial", tmp_path / "t.json", "--set", "skin.layers.0.conductivity_W_mK=0.3",
              "--set", "after_exposure_s=5")
    assert out.returncode == 0, out.stderr
    out = cli(program, "search", "--trial", tmp_path / "t.json", "--vary", "exposure.duration_s", "--range", 0.05, 2,
              "--for", "skin.layers.0.conductivity_W_mK=0.2,0.3", "-j", 1)
    assert out.returncode == 0, out.stderr
    assert out.stdout.count("skin.layers.0.conductivity_W_mK=0.") == 2
    out = cli(program, "assess", "--trial", tmp_path / "t.json", "--set", "skin.layers.5.thickness_m=1")
    assert out.returncode == 2 and "numbered 0 to 2" in out.stderr
