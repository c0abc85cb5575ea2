"""A resident program (``skinburn --serve``): the same runs as processes of their own, and a server
that dies or outlives its block does no harm."""
from __future__ import annotations

import os
import pickle
import shutil
import signal
import subprocess

import numpy as np
import pytest

import skinburn as sb
from skinburn.program import Program
from skinburn.scenarios import flash_fire


def _same(a: sb.Results, b: sb.Results) -> None:
    da, db = dict(a.document), dict(b.document)
    for d in (da, db):
        d.pop("run_id", None)
        d["history"] = {k: v for k, v in (d.get("history") or {}).items() if k not in ("run_id", "file")}
        d["inputs"] = {k: v for k, v in d["inputs"].items() if k != "data_dir"}  # a trial's own temporary name
    assert da == db
    assert np.array_equal(a.temperature_K, b.temperature_K)


def test_resident_runs_give_the_bytes_of_runs_of_their_own(program, examples, tmp_path):
    trial = flash_fire(84e3, 0.5)
    alone = sb.run(trial, program)
    shutil.copytree(examples / "hot-liquid", tmp_path / "d")
    dir_alone = sb.run(tmp_path / "d", program)
    with program.resident() as served:
        assert served == program and pickle.loads(pickle.dumps(served)) == program
        with served.resident() as inner:
            assert inner is served
        _same(sb.run(trial, served), alone)
        _same(sb.run(tmp_path / "d", served), dir_alone)
        _same(sb.run(trial, served), alone)
        assert served.check(tmp_path / "d").document == program.check(tmp_path / "d").document
    # After its block the program runs each trial as a process of its own again.
    _same(sb.run(trial, served), alone)
    assert served._resident is not None and served._resident.process is None


def test_a_server_that_dies_fails_only_its_run_and_the_next_starts_afresh(program, tmp_path):
    trial = flash_fire(84e3, 0.5)
    alone = sb.run(trial, program)
    with program.resident() as served:
        sb.run(trial, served)
        server = served._resident
        assert server is not None and server.process is not None
        os.kill(server.process.pid, signal.SIGKILL)  # between two runs: the next starts another
        server.process.wait()
        _same(sb.run(trial, served), alone)
        # In a run: killed at its time limit, as a process of its own would be.
        sb.write_trial(flash_fire(84e3, 3.0).replace("grid", sb.Grid(2e-6, 2e-4))
                       .replace("after_exposure_s", 1.0), tmp_path / "big")
        with pytest.raises(subprocess.TimeoutExpired):
            served.run(tmp_path / "big", tmp_path / "r", timeout=0.05)
        _same(sb.run(trial, served), alone)


def test_a_search_gives_the_root_it_gave_with_a_process_per_run(program, monkeypatch):
    served = sb.search(flash_fire(84e3, 2.0), "exposure.duration_s", 0.05, 4.0, degree=2, program=program)
    monkeypatch.setattr(Program, "resident", lambda self: _itself(self))
    spawned = sb.search(flash_fire(84e3, 2.0), "exposure.duration_s", 0.05, 4.0, degree=2, program=program)
    assert served.value == spawned.value and served.runs == spawned.runs
    assert served.evaluations == spawned.evaluations


class _itself:
    def __init__(self, program: Program) -> None:
        self.program = program

    def __enter__(self) -> Program:
        return self.program

    def __exit__(self, *exc: object) -> None:
        return None
