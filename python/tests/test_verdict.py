"""A verdict states what it rests on: the constants it judged with, the check's warnings, what the face
did after the exposure, and why the program's own depth differs from the verdict's."""
import os
import subprocess
import sys
from pathlib import Path

import pytest

import skinburn as sb
from skinburn.scenarios import flash_fire, hot_liquid

PACKAGE_ROOT = Path(__file__).resolve().parents[1]


@pytest.fixture(scope="module")
def jet900(program, examples, tmp_path_factory):
    """The airbag example with its gas at 900 K and 100 m/s."""
    d = sb.DataDirectory(examples / "airbag-jet", program)
    return d.edited({"LEFT_AMBIENT": 900, "jet.velocity": 100}, tmp_path_factory.mktemp("jet") / "d")


def cli(program, *args):
    env = dict(os.environ, SKINBURN=str(program.path), PYTHONPATH=str(PACKAGE_ROOT), PYTHONDONTWRITEBYTECODE="1")
    return subprocess.run([sys.executable, "-m", "skinburn", *map(str, args)], capture_output=True, text=True, env=env)


def test_without_kinetics_the_first_line_says_the_constants_are_no_predictor(program, jet900):
    out = cli(program, "assess", jet900.path, "--skin", "uniform")
    assert out.returncode == 0, out.stderr
    first = out.stdout.splitlines()[0]
    assert first.startswith("No burn (the program's own constants, P 3.443e+94 1/s, E/R 75000 K")
    assert "no predictor of a burn" in first and "docs/validation.md" in first
    assert "as the program read it" not in out.stdout
    named = cli(program, "assess", jet900.path, "--skin", "uniform", "--kinetics", "default")
    assert named.stdout.splitlines()[0] == "No burn (skinburn default kinetics)."


def test_the_programs_depth_says_in_its_line_why_it_differs(program, jet900):
    """Same constants: 67 um (Omega of the temperature between the nodes) against the program's 76 um
    (the straight line between the nodes' Omega), and the 96 um its report prints."""
    out = cli(program, "assess", jet900.path, "--skin", "uniform", "--kinetics", "default")
    lines = out.stdout.splitlines()
    assert "  Omega >= 0.53 reaches 71 um, Omega >= 1 reaches 67 um." in lines
    (line,) = [l for l in lines if l.startswith("  The program's own Omega")]
    for text in ("passes through 1 at 76 um", "straight line between its Omega at the nodes at 60 and 80 um",
                 "its report prints 96 um, one spacing deeper", "the 67 um above is where Omega of the temperature"):
        assert text in line
    other = cli(program, "assess", jet900.path, "--skin", "uniform", "--kinetics", "weaver-stoll").stdout
    assert "under its constants, not Weaver-Stoll 1969" in other


def test_the_checks_warnings_are_passed_on(program, examples, tmp_path):
    hot = sb.DataDirectory(examples / "airbag-jet", program).edited({"LEFT_AMBIENT": 1300}, tmp_path / "hot")
    a = sb.assess(sb.run(hot, program), sb.UNIFORM_DERMIS, sb.WEAVER_STOLL_1969)
    (note,) = [n for n in a.notes if "gas-beyond-table" in n]
    assert "1200 K" in note and f"Note: {note}" in a.verdict()
    plain = sb.assess(sb.run(examples / "airbag-jet", program), sb.UNIFORM_DERMIS, sb.WEAVER_STOLL_1969)
    assert not any("warns" in n for n in plain.notes)


@pytest.mark.parametrize("trial, after", [
    (flash_fire(84e3, 2.0), "after the exposure (2 s), 4 s with the face insulated"),
    (hot_liquid(), "after the exposure (10 s), 4 s with the surface held at 310.15 K (the core temperature)"),
    (flash_fire(84e3, 2.0).replace("exposure", sb.Convection(100.0, sb.kelvin(1000.0), 2.0, 10.0, sb.celsius(20))),
     "after the exposure (2 s), 4 s with convection at 10 W/(m^2 K) from 293.15 K"),
])
def test_a_trials_verdict_says_what_the_face_did_after_the_exposure(program, trial, after):
    coarse = trial.replace("grid", sb.Grid(80e-6 / 1.5, 0.1)).replace("after_exposure_s", 4.0)
    verdict = sb.assess(sb.run(coarse, program)).verdict()
    assert after in verdict.replace("After the exposure", "after the exposure")
