"""The package tried as a hostile world would: unphysical histories, a model too shallow to judge,
refused search arguments, a directory changed mid-search, two runs on one directory, kept
directories, file modes and a $SKINBURN that names nothing."""
from __future__ import annotations

import importlib
import math
import os
import subprocess
import sys
import threading
from pathlib import Path

import numpy as np
import pytest

import skinburn as sb
from skinburn.scenarios import flash_fire

PACKAGE_ROOT = str(Path(__file__).resolve().parents[1])
DX, DT = 2e-5, 0.01


def cli(program, *args, cwd=None):
    env = dict(os.environ, SKINBURN=str(program.path), PYTHONPATH=PACKAGE_ROOT, PYTHONDONTWRITEBYTECODE="1")
    return subprocess.run([sys.executable, "-m", "skinburn", *args], capture_output=True, text=True, env=env,
                          cwd=cwd, timeout=300)


def fabricated(tmp_path, history):
    np.save(tmp_path / "r.npy", history)
    doc = {"status": 0, "outcome": "burn-depth", "inputs": {"grid": {"deltax_m": DX, "deltat_s": DT}},
           "history": {"file": "r.npy", "rows": history.shape[0], "columns": history.shape[1]}}
    return sb.Results(doc, tmp_path / "r")


# --- Histories that are no temperatures: named, never "not met" or "no burn" --------------

@pytest.mark.parametrize("bad", [math.nan, -math.inf, -5.0, 0.0])
def test_every_question_to_an_unphysical_history_names_it(tmp_path, bad):
    hist = np.full((51, 41), 330.0)
    hist[20, 3] = bad
    res = fabricated(tmp_path, hist)
    for ask in (lambda: res.criterion_times(sb.UNIFORM_DERMIS, sb.HENRIQUES_1947),
                lambda: res.time_omega_reaches(1.0, 8e-5, kinetics=sb.HENRIQUES_1947),
                lambda: res.omega_history(node=1, kinetics=sb.HENRIQUES_1947),
                lambda: sb.assess(res, sb.UNIFORM_DERMIS, sb.HENRIQUES_1947)):
        with pytest.raises(sb.NonFiniteHistory, match="step 20 .*node 4 ") as info:
            ask()
        assert ("absolute zero" in str(info.value)) == math.isfinite(bad)


def test_real_runs_below_absolute_zero_are_named(program, examples, tmp_path):
    cooled = flash_fire(84e3, 2.0).replace("exposure", sb.HeatFlux(-1e8, 1.0)) \
        .replace("grid", sb.Grid(1e-5, 0.01)).replace("after_exposure_s", 1.0)
    inner = sb.DataDirectory(examples / "airbag-jet", program).edited({"RBC": "FLUX", "right_bc": 3e6},
                                                                       tmp_path / "inner-flux")
    for res in (sb.run(cooled, program), sb.run(inner, program)):
        assert res.status == 0 and np.min(res.temperature_K) < 0  # the program ran it as any other run
        with pytest.raises(sb.NonFiniteHistory, match="absolute zero"):
            sb.assess(res, sb.UNIFORM_DERMIS, sb.WEAVER_STOLL_1969)
    with pytest.raises(sb.NonFiniteHistory, match="absolute zero"):
        sb.search(cooled, "exposure.duration_s", 0.5, 2.0, program=program)


# --- A model above both criterion depths judges nothing ----------------------------------------

def test_a_model_above_both_criteria_is_refused_not_no_burn(program, examples):
    hist = np.full((51, 5), 360.0)  # 80 um of model at 20 um spacing, hot
    with pytest.raises(sb.BelowTheModel, match="reaches 80 um"):
        sb.assess_history(hist, DT, DX, 1e-4, 2e-3, sb.HENRIQUES_1947)
    sb.assess_history(hist, DT, DX, 8e-5, 2e-3, sb.HENRIQUES_1947)  # the epidermis base on the last node
    done = cli(program, "assess", str(examples / "airbag-jet"), "--skin", "torvi-dale", "--kinetics",
               "weaver-stoll", "--set", "DELTAX=1.5e-6")
    assert done.returncode == 2 and "No burn" not in done.stdout
    assert "reaches 60 um, above both criterion depths" in done.stderr


# --- Search arguments refused: a usage error, status 2 ----------------------------------------

def test_refused_search_arguments_are_usage_errors(program, examples, tmp_path):
    fire = tmp_path / "fire.json"
    fire.write_text(cli(program, "template", "flash-fire").stdout)
    for args, message in ((["--range", "5", "1"], "must ascend"), (["--range", "-1", "5"], "duration_s"),
                          (["--range", "1", "5", "--unit", "C"], "not a temperature")):
        done = cli(program, "search", "--trial", str(fire), "--vary", "exposure.duration_s", *args)
        assert done.returncode == 2 and message in done.stderr, (args, done.stderr)
    done = cli(program, "search", str(examples / "airbag-jet"), "--vary", "jet.standoff_m", "--range", "0.02",
               "0.04")
    assert done.returncode == 2 and "needs the skin" in done.stderr
    failure = sb.search_many([sb.SearchJob(flash_fire(84e3, 1.0), "exposure.duration_s", 2.0, 1.0)],
                             program=program)[0]
    assert failure.refused and failure.kind == "ValueError"


# --- A data directory changed under a search -----------------------------------------------------

def test_a_directory_changed_mid_search_stops_it(program, examples, tmp_path, monkeypatch):
    d = sb.DataDirectory(sb.DataDirectory(examples / "airbag-jet", program).edited({}, tmp_path / "jet").path,
                         program)
    original = (d.path / "DATA.DAT").read_bytes()
    changed = original.replace(b"0.0001", b"0.0002", 1)  # DELTAT: a file the search leaves as it is
    assert changed != original
    (d.path / "DATA.DAT").write_bytes(changed)
    with pytest.raises(sb.DirectoryChanged, match="DATA.DAT changed .*mix two versions"):
        d.edited({"jet.standoff_m": 0.03}, tmp_path / "x")
    assert not (tmp_path / "x").exists()
    (d.path / "DATA.DAT").write_bytes(original)
    edited, calls = sb.DataDirectory.edited, []

    def changing(self, values, into=None, **kw):  # DATA.DAT changes after the search's first run
        calls.append(values)
        if len(calls) == 2:
            (d.path / "DATA.DAT").write_bytes(changed)
        return edited(self, values, into, **kw)
    monkeypatch.setattr(sb.DataDirectory, "edited", changing)
    with pytest.raises(sb.DirectoryChanged, match="DATA.DAT"):
        sb.search(d, "jet.standoff_m", 0.02, 0.04, degree=1, skin=sb.UNIFORM_DERMIS, program=program, after=None)
    assert len(calls) == 2


# --- Two runs on one directory; a kept directory keeps its files -----------------------------

def test_two_runs_on_one_directory_never_mix(program, examples, tmp_path):
    from skinburn.program import exclusive

    keep = tmp_path / "keep"
    with exclusive(keep):
        with pytest.raises(sb.DirectoryInUse, match="in use by another run"):
            sb.run(examples / "airbag-jet", program, directory=keep)
    assert not (keep / "DATA.DAT").exists()  # refused before anything was written


def test_a_kept_directory_keeps_its_report_and_refuses_stray_inputs(program, examples, tmp_path):
    keep = tmp_path / "keep"
    sb.run(examples / "airbag-jet", program, directory=keep)
    first = (keep / "OUTPUT.TXT").read_bytes()
    sb.run(examples / "airbag-jet", program, directory=keep)
    assert (keep / "OUTPUT.TXT").read_bytes().startswith(first) and len((keep / "OUTPUT.TXT").read_bytes()) > \
        len(first)  # appended to, as the program always does
    (keep / "CONDUCT.DAT").write_text("2\n0 0.5\n1 0.5\n")
    with pytest.raises(FileExistsError, match="CONDUCT.DAT"):
        sb.run(examples / "airbag-jet", program, directory=keep)
    assert (keep / "CONDUCT.DAT").exists()


# --- Files made as ordinary files are; $SKINBURN ---------------------------------------------------

def test_csv_files_follow_the_umask_and_keep_their_mode(tmp_path):
    old = os.umask(0o027)
    try:
        path = sb.results.write_csv(tmp_path / "a.csv", ["x"], [[1.0]])
        assert path.stat().st_mode & 0o777 == 0o640
        os.chmod(path, 0o604)
        sb.results.write_csv(path, ["x"], [[2.0]])
        assert path.stat().st_mode & 0o777 == 0o604 and path.read_text() == "x\n2.0\n"
    finally:
        os.umask(old)
    assert [p.name for p in tmp_path.iterdir()] == ["a.csv"]


def test_a_skinburn_variable_naming_nothing_is_an_error(program, monkeypatch, tmp_path, examples):
    monkeypatch.setenv("SKINBURN", str(tmp_path / "missing"))
    with pytest.raises(FileNotFoundError, match=r"\$SKINBURN names .*missing, which does not exist"):
        sb.Program.find()
    assert sb.Program.find(program.path) == program  # a path given still wins
    # A relative path is the working directory's, though each run starts the binary from elsewhere.
    monkeypatch.chdir(program.path.parent)
    assert sb.Program(program.path.name).path == program.path
    env = dict(os.environ, SKINBURN=str(tmp_path), PYTHONPATH=PACKAGE_ROOT)
    done = subprocess.run([sys.executable, "-m", "skinburn", "assess", str(examples / "airbag-jet"), "--skin",
                           "uniform"], capture_output=True, text=True, env=env, timeout=60)
    assert done.returncode == 2 and "$SKINBURN names" in done.stderr and "is a directory" in done.stderr


# --- One root for the package's errors -------------------------------------------------------

def test_every_error_the_package_names_stands_under_one_root():
    import ast
    import inspect

    import skinburn

    package = Path(skinburn.__file__).parent
    named = {}
    for path in package.glob("*.py"):
        tree = ast.parse(path.read_text(encoding="utf-8"))
        for node in ast.walk(tree):
            # No bare RuntimeError: what did not work has a name the caller can catch.
            if isinstance(node, ast.Raise) and isinstance(node.exc, ast.Call) and \
                    getattr(node.exc.func, "id", "") == "RuntimeError":
                raise AssertionError(f"{path.name}:{node.lineno} raises a bare RuntimeError")
            if isinstance(node, ast.ClassDef) and any(getattr(b, "id", "").endswith(("Error", "Exception"))
                                                      or getattr(b, "id", "") in named for b in node.bases):
                named[node.name] = path.stem
    assert len(named) >= 15
    for name, module in named.items():
        cls = getattr(importlib.import_module(f"skinburn.{module}"), name)
        assert issubclass(cls, skinburn.SkinburnError), name
        if module != "__main__" and not name.startswith("_"):  # a private one never leaves its module
            assert getattr(skinburn, name, None) is cls, f"skinburn.{name} is not exported"
    # The built-in class each stood under before stays (callers that caught it keep working).
    assert issubclass(skinburn.NotSettled, RuntimeError) and issubclass(skinburn.NonFiniteHistory, ValueError)
    assert inspect.isclass(skinburn.SkinburnError)


def test_small_runs_are_made_in_memory_only_where_there_is_room(program, monkeypatch, tmp_path):
    """A small run's work directory is in memory when the place exists and has room; TMPDIR, a place
    that is missing or full, or a history too big for it, keeps the work on the system's disk. The
    results read the same wherever they were made, and their directory goes with them."""
    import gc

    import skinburn.runs as runs

    trial = flash_fire(84e3, 0.5).replace("grid", sb.Grid(DX, DT)).replace("after_exposure_s", 1.0)
    monkeypatch.setattr(runs, "MEMORY_DIRECTORY", str(tmp_path / "memory"))
    monkeypatch.delenv("TMPDIR", raising=False)
    (tmp_path / "memory").mkdir()
    small = sb.run(trial, program)
    assert small.directory.parent == tmp_path / "memory"
    where = small.directory
    monkeypatch.setattr(runs, "SMALL_RUN_BYTES", small.rows * small.nodes * 8 - 1)
    assert sb.run(trial, program).directory.parent != tmp_path / "memory"   # too big for it
    monkeypatch.undo()
    monkeypatch.setattr(runs, "MEMORY_DIRECTORY", str(tmp_path / "missing"))
    elsewhere = sb.run(trial, program)
    assert elsewhere.directory.parent != tmp_path / "missing"
    assert np.array_equal(np.asarray(elsewhere.temperature_K), np.asarray(small.temperature_K))
    monkeypatch.setattr(runs, "MEMORY_DIRECTORY", str(tmp_path / "memory"))
    monkeypatch.setenv("TMPDIR", str(tmp_path))   # the user's choice of place: not memory
    assert sb.run(trial, program).directory.parent != tmp_path / "memory"
    monkeypatch.setattr(os, "statvfs", lambda p: os.statvfs_result((4096, 4096, 10, 0, 0, 0, 0, 0, 0, 255)))
    monkeypatch.delenv("TMPDIR")
    assert sb.run(trial, program).directory.parent != tmp_path / "memory"   # full
    del small
    gc.collect()
    assert not where.exists()
