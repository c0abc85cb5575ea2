"""tools/rooms.py on small trees: what it lets pass and what it stops."""
from pathlib import Path

import pytest

import rooms


def tree(tmp_path: Path, files: dict) -> Path:
    """Every room with its door, plus `files` (path: text)."""
    for room in rooms.ROOMS:
        (tmp_path / "src" / room).mkdir(parents=True)
        (tmp_path / "src" / room / f"{room}.h").write_text("#pragma once\n")
    for folder in ("tests", "fuzz", "bench"):
        (tmp_path / folder).mkdir()
    for name, text in files.items():
        (tmp_path / name).write_text(text)
    return tmp_path


@pytest.mark.parametrize("files", [
    {"src/thermal/march.cpp": '#include "report/report.h"\n#include "thermal/thermal.h"\n'},
    {"src/input/reader.h": "#pragma once\n", "src/input/gas.cpp": '#include "input/reader.h"\n'},
    {"tests/t.cpp": '#include "driver/driver.h"\n#include <gtest/gtest.h>\n#include "support/support.h"\n'},
])
def test_downward_arrows_and_own_room_pass(tmp_path, files):
    assert rooms.faults(tree(tmp_path, files)) == []


@pytest.mark.parametrize("files, fault", [
    ({"src/thermal/march.cpp": '#include "driver/driver.h"\n'}, "an arrow up, from thermal/ to the higher room driver/"),
    ({"src/report/r.cpp": '  #  include "burn/burn.h"\n'}, "an arrow up, from report/ to the higher room burn/"),
    ({"src/driver/d.cpp": '#include "input/reader.h"\n'}, "behind the door of input/"),
    ({"fuzz/f.cpp": '#include "report/lineformat.h"\n'}, "behind the door of report/"),
])
def test_upward_arrows_and_back_doors_are_named(tmp_path, files, fault):
    (found,) = rooms.faults(tree(tmp_path, files))
    assert fault in found


def test_a_room_out_of_the_order_or_without_its_door(tmp_path):
    root = tree(tmp_path, {})
    (root / "src" / "extra").mkdir()
    (root / "src" / "burn" / "burn.h").unlink()
    found = rooms.faults(root)
    assert any("src/extra/" in f for f in found) and any("burn/burn.h: the room's door is missing" in f for f in found)
