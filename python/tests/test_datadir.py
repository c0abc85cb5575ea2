"""Changing named values of a user's data directory through the program's word locations."""
import pytest

from skinburn.datadir import DataDirectory, INPUT_FILES


def snapshot(d: DataDirectory) -> dict:
    """Every value the program read: entries, block pairs, jet values."""
    r = d.report
    snap = {e["name"]: e["value"] for e in r.document["entries"]}
    for b in r.document["blocks"]:
        snap[f"block:{b['table']}"] = [tuple(p) for p in b["pairs"]]
    if r.jet:
        for k in ("option", "reynolds", "nozzle_diameter_m", "offaxis_spacing_m", "standoff_m"):
            snap[f"jet:{k}"] = r.jet[k]["value"]
        snap["jet:velocity"] = [tuple(p) for p in r.jet["velocity_pairs"]]
    return snap


@pytest.mark.parametrize("example, change, expect", [
    ("airbag-jet", {"DELTAT": 5e-5, "TIMESTEPS": 2000}, {"DELTAT": 5e-5, "TIMESTEPS": 2000}),
    ("airbag-jet", {"jet.standoff_ratio": 3}, {"jet:standoff_m": 0.03}),
    ("airbag-jet", {"jet.nozzle_diameter_m": 0.02, "jet.standoff_ratio": 2}, {"jet:nozzle_diameter_m": 0.02,
                                                                            "jet:standoff_m": 0.04}),
    ("airbag-jet", {"LEFT_AMBIENT": 1200}, {"block:left_ambient": [(0.0, 1200.0), (0.06, 1200.0), (0.2, 1200.0)]}),
    ("airbag-jet", {"left_ambient[2]": 900}, {"block:left_ambient": [(0.0, 1000.0), (0.06, 900.0), (0.2, 600.0)]}),
    ("airbag-jet", {"jet.velocity": 50}, {"jet:velocity": [(0.0, 50.0), (0.06, 50.0), (0.2, 50.0)]}),
    ("convection", {"conductivity": 0.5}, {"block:conductivity": [(0.0, 0.5), (0.005, 0.5)]}),
    ("hot-liquid", {"FREQEXP": 97, "LBC": "FLUX"}, {"FREQEXP": 97, "LBC": "FLUX"}),
])
def test_each_change_alters_exactly_the_values_it_names(program, examples, tmp_path, example, change, expect):
    src = examples / example
    before_bytes = {f: (src / f).read_bytes() for f in INPUT_FILES if (src / f).exists()}
    d = DataDirectory(src, program)
    edited = d.edited(change, tmp_path / "e")
    before, after = snapshot(d), snapshot(edited)
    for key in set(before) | set(after):
        if key in expect:
            assert after[key] == pytest.approx(expect[key]), key
        else:
            assert after.get(key) == before.get(key), key
    assert edited.report.warnings == []
    assert {f: (src / f).read_bytes() for f in before_bytes} == before_bytes  # the original is untouched


def test_changes_that_would_shift_or_lose_values_are_refused(program, examples, tmp_path):
    airbag = DataDirectory(examples / "airbag-jet", program)
    with pytest.raises(ValueError, match="signed"):
        airbag.edited({"LEFT_AMBIENT": -5}, tmp_path / "a")
    with pytest.raises(ValueError, match="FREQFACTOR"):
        airbag.edited({"FREQFACTOR": 3.1}, tmp_path / "b")
    with pytest.raises(ValueError, match="left out"):
        airbag.edited({"FREQEXP": 98}, tmp_path / "c")
    with pytest.raises(ValueError, match="one word"):
        airbag.edited({"EXECBY": "two words"}, tmp_path / "d")
    with pytest.raises(KeyError):
        airbag.edited({"NO_SUCH_VALUE": 1}, tmp_path / "e")
    with pytest.raises(KeyError, match="no jet"):
        DataDirectory(examples / "convection", program).edited({"jet.standoff_m": 0.02}, tmp_path / "f")
    with pytest.raises(ValueError, match="whole number"):
        airbag.edited({"NODES": 40.5}, tmp_path / "g")


def test_values_read_by_name(program, examples):
    d = DataDirectory(examples / "airbag-jet", program)
    assert d.value("NODES") == 41 and d.value("jet.standoff_ratio") == pytest.approx(5)
    assert d.value("left_ambient[3]") == 600.0 and d.value("LEFT_AMBIENT") == [1000.0, 1000.0, 600.0]
    assert d.value("jet.boundary") == [1.0, 1.0]
