"""Changing named values of a user's data directory through the program's word locations."""
import shutil

import pytest

from skinburn.datadir import DataDirectory, DirectoryChanged, INPUT_FILES


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


def copy_of(examples, tmp_path, name="airbag-jet"):
    src = tmp_path / "src"
    shutil.copytree(examples / name, src)
    return src


@pytest.mark.parametrize("change", [
    lambda b: b.replace(b"# Driver airbag", b"# Driver airbag, lengthened", 1),   # every offset moves
    lambda b: b.replace(b"Typical airbag", b"Typical AIRBAG", 1),                   # same size, other bytes
    lambda b: b.replace(b"0.0001", b"0.0002", 1),                                   # the word itself
], ids=["comment-lengthened", "title-changed", "word-changed"])
def test_a_file_changed_after_the_report_is_never_edited(program, examples, tmp_path, change):
    src = copy_of(examples, tmp_path)
    d = DataDirectory(src, program)
    data = (src / "DATA.DAT").read_bytes()
    (src / "DATA.DAT").write_bytes(change(data))
    with pytest.raises(DirectoryChanged) as info:
        d.edited({"DELTAT": 5e-5}, tmp_path / "out")
    assert "DATA.DAT" in str(info.value) and "DELTAT" in str(info.value) and "'0.0001'" in str(info.value)
    assert not (tmp_path / "out").exists()
    with pytest.raises(DirectoryChanged):
        d.edited_files({}, [("DATA.DAT", 640, 6, "5e-05")])
    with pytest.raises(DirectoryChanged):
        d.edited({"DELTAT": 5e-5}, in_place=True)
    assert (src / "DATA.DAT").read_bytes() == change(data)


def test_a_word_not_in_place_is_refused(program, examples, tmp_path):
    d = DataDirectory(examples / "airbag-jet", program)
    with pytest.raises(DirectoryChanged, match="not a word"):
        d.edited_files({}, [("DATA.DAT", 641, 3, "5")])  # inside DELTAT's word 0.0001


def test_editing_into_a_directory_keeps_its_other_files(program, examples, tmp_path):
    src = copy_of(examples, tmp_path)
    (src / "OUTPUT.TXT").write_text("the user's trials\n")
    d = DataDirectory(src, program)
    target = tmp_path / "another-trial"
    target.mkdir()
    for name, text in (("OUTPUT.TXT", "its trials\n"), ("notes.txt", "kept\n"), ("DATA.DAT", "old\n")):
        (target / name).write_text(text)
    e = d.edited({"DELTAT": 5e-5}, target)
    assert e.value("DELTAT") == 5e-5 and e.report.would_start
    assert (target / "OUTPUT.TXT").read_text() == "its trials\n" and (target / "notes.txt").read_text() == "kept\n"
    assert sorted(p.name for p in target.iterdir()) == ["DATA.DAT", "GASPROP.DAT", "LEFTIMP.DAT", "OUTPUT.TXT",
                                                        "notes.txt"]  # no temporaries left
    # The original: refused as a target, changed only when asked, its OUTPUT.TXT kept either way.
    before = (src / "DATA.DAT").read_bytes()
    with pytest.raises(ValueError, match="in_place"):
        d.edited({"DELTAT": 5e-5}, src)
    assert (src / "DATA.DAT").read_bytes() == before
    assert d.edited({"DELTAT": 5e-5}, in_place=True).value("DELTAT") == 5e-5
    assert (src / "OUTPUT.TXT").read_text() == "the user's trials\n"
    # A target holding an input file the source lacks would read it: refused, nothing written.
    with pytest.raises(FileExistsError, match="LEFTIMP.DAT"):
        DataDirectory(examples / "convection", program).edited({"DELTAT": 1e-3}, target)
    assert e.value("DELTAT") == 5e-5 and DataDirectory(target, program).value("DELTAT") == 5e-5
