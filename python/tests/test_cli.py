"""The command line, as a user runs it."""
import csv
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

import skinburn as sb

PACKAGE_ROOT = Path(__file__).resolve().parents[1]


def cli(program, *args, cwd=None):
    env = dict(os.environ, SKINBURN=str(program.path), PYTHONPATH=str(PACKAGE_ROOT), PYTHONDONTWRITEBYTECODE="1")
    return subprocess.run([sys.executable, "-m", "skinburn", *map(str, args)], capture_output=True, text=True,
                          env=env, cwd=cwd)


def test_assess_a_data_directory(program, examples, tmp_path):
    out = cli(program, "assess", examples / "airbag-jet", "--skin", "uniform", "--kinetics", "weaver-stoll",
              "--csv", tmp_path / "s.csv", "--nodes-csv", tmp_path / "n.csv")
    assert out.returncode == 0, out.stderr
    # The example's run ends with the jet: it is carried on, the face insulated, until the damage stopped.
    assert out.stdout.startswith("Second-degree burn (Weaver-Stoll 1969 kinetics).")
    assert "Run on 1 s past the given end (0.1 s) with the face insulated" in out.stdout
    row = next(csv.DictReader(open(tmp_path / "s.csv")))
    assert row["degree"] == "2" and row["outcome"] == "burn-depth" and float(row["run_end_s"]) == 1.1
    assert len(list(csv.DictReader(open(tmp_path / "n.csv")))) == 41
    assert not (examples / "airbag-jet" / "OUTPUT.TXT").exists()  # run on a copy
    out = cli(program, "assess", examples / "airbag-jet", "--skin", "uniform", "--kinetics", "weaver-stoll",
              "--after", "none")
    assert out.stdout.startswith("No verdict (Weaver-Stoll 1969 kinetics)")
    assert "passes through 1 at 80 um" in out.stdout


def test_assess_errors_and_their_status(program, examples):
    out = cli(program, "assess", examples / "airbag-jet")
    assert out.returncode == 2 and "--skin" in out.stderr
    out = cli(program, "assess", examples / "airbag-jet", "--skin", "uniform", "--set", "DELTAT=0")
    assert out.returncode == 1 and "DATA.DAT Line 18 input must be greater than zero." in out.stderr
    assert cli(program, "assess", "--skin", "uniform").returncode == 2


def test_a_trial_that_does_not_settle_is_one_named_line_not_a_traceback(program, tmp_path):
    out = cli(program, "template", "flash-fire")
    (tmp_path / "t.json").write_text(out.stdout)
    out = cli(program, "assess", "--trial", tmp_path / "t.json", "--set", "grid.max_refinements=0")
    assert out.returncode == 1
    assert out.stderr.startswith("skinburn: GridNotSettled: the grid did not settle within 0 refinements of the")
    assert "Traceback" not in out.stderr and out.stderr.count("\n") == 1


def test_a_reader_that_goes_away_cuts_the_output_short_without_a_traceback(program, examples):
    """``assess ... | head -1``: the pipe closed before the verdict is written is status 1 and nothing on
    standard error, whether the write meets it in the verdict or at the end."""
    env = dict(os.environ, SKINBURN=str(program.path), PYTHONPATH=str(PACKAGE_ROOT), PYTHONDONTWRITEBYTECODE="1")
    p = subprocess.Popen([sys.executable, "-m", "skinburn", "assess", str(examples / "airbag-jet"), "--skin",
                          "uniform", "--kinetics", "weaver-stoll"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         env=env)
    p.stdout.close()
    err = p.stderr.read().decode()
    assert p.wait(timeout=300) == 1 and err == ""


def test_a_set_value_refines_the_skin_chosen_and_is_not_lost_to_it(program, tmp_path):
    (tmp_path / "t.json").write_text(cli(program, "template", "hot-liquid").stdout)
    out = cli(program, "assess", "--trial", tmp_path / "t.json", "--skin", "torvi-dale",
              "--set", "skin.layers.1.perfusion_1_s=0.002", "--set", "exposure.duration_s=2")
    assert out.returncode == 0, out.stderr
    assert "Perfused: the Pennes term with rates 0, 0.002 1/s" in out.stdout


def test_template_then_search_side_by_side(program, tmp_path):
    out = cli(program, "template", "hot-liquid")
    assert out.returncode == 0
    trial = json.loads(out.stdout)
    trial["grid"] = {"type": "Grid", "deltax_m": 80e-6 / 3.5, "deltat_s": 0.05}
    trial["after_exposure_s"] = 5.0
    (tmp_path / "t.json").write_text(json.dumps(trial))
    out = cli(program, "search", "--trial", tmp_path / "t.json", "--vary", "exposure.duration_s",
              "--range", 0.5, 30, "--for", "exposure.temperature=60C,70C", "-j", 2, "--csv", tmp_path / "r.csv")
    assert out.returncode == 0, out.stderr
    rows = list(csv.DictReader(open(tmp_path / "r.csv")))
    assert [float(r["exposure.temperature"]) for r in rows] == pytest.approx([333.15, 343.15])
    assert float(rows[0]["value"]) > float(rows[1]["value"]) > 0.5
    assert "burn degree 2 (Omega 1 at 80 um, Henriques 1947): exposure.duration_s = " in out.stdout
    out = cli(program, "search", "--trial", tmp_path / "t.json", "--vary", "exposure.duration_s",
              "--range", 0.1, 0.2, "--degree", "3")
    assert out.returncode == 3 and "not reached at both ends" in out.stderr


def test_presets_list_their_sources(program):
    out = cli(program, "presets")
    assert out.returncode == 0
    for text in ("Henriques", "Weaver", "Torvi", "0.53"):
        assert text in out.stdout


@pytest.mark.parametrize("command", [
    ["assess"],
    ["search", "--vary", "LEFT_AMBIENT", "--range", "400", "1500", "--degree", "1"],
])
def test_the_command_line_ends_with_status_1_and_names_step_and_node(program, examples, command):
    out = cli(program, command[0], examples / "airbag-jet", "--skin", "uniform", "--set", "jet.velocity=-120",
              *command[1:])
    assert out.returncode == 1, (out.stdout, out.stderr)
    assert "not finite" in out.stderr and "step " in out.stderr and "node " in out.stderr
    assert "No burn" not in out.stdout


def test_spread_over_every_kinetics_preset(program, examples, tmp_path):
    """assess --spread: one row per kinetics preset (and skin preset), each the verdict assess gives."""
    out = cli(program, "assess", examples / "airbag-jet", "--skin", "uniform", "--spread", "--all-skins",
              "--csv", tmp_path / "spread.csv")
    assert out.returncode == 0, out.stderr
    rows = list(csv.DictReader(open(tmp_path / "spread.csv")))
    # A data directory keeps its own material; both presets give it the same criterion depths: one row per
    # kinetics, labelled with what was judged, never two identical rows under two skins' names.
    assert len(rows) == len(sb.KINETICS)
    assert {r["kinetics"] for r in rows} == {k.name for k in sb.KINETICS.values()}
    assert {r["skin"] for r in rows} == {"criterion depths of 80 and 2080 um (Torvi-Dale 1994, uniform (Torvi-Dale "
                                         "dermis)) on the run's own material"}
    ws = [r for r in rows if r["kinetics"] == "Weaver-Stoll 1969"][0]
    one = sb.assess(sb.run_on(examples / "airbag-jet", sb.UNIFORM_DERMIS, sb.WEAVER_STOLL_1969, program=program),
                    sb.UNIFORM_DERMIS, sb.WEAVER_STOLL_1969)
    assert ws["degree"] == str(one.degree) and float(ws["omega_epidermis_base"]) == one.omega_epidermis_base
    assert out.stdout.splitlines()[0].split()[:4] == ["skin", "absorptivity", "kinetics", "degree"]
    out = cli(program, "assess", examples / "airbag-jet", "--skin", "uniform", "--spread", "--absorptivity", "0.9")
    assert out.returncode == 2 and "HeatFlux" in out.stderr
