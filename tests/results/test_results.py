"""The results bundle (--results PREFIX) against the report of the same run.

Every outcome kind, every kind of stop, the documented fields, the .npy
history read with NumPy, Omega per node against the report's crossings,
and text that is not UTF-8.  SKINBURN names the binary.
"""
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import numpy as np

BINARY = os.environ.get("SKINBURN", "build/default/skinburn")
EXAMPLES = Path(__file__).resolve().parents[2] / "examples"

TOP_FIELDS = {"program": str, "version": str, "kind": str, "run_id": str, "inputs": dict, "status": int,
              "non_finite": (dict, type(None)),
              "outcome": str, "error": (str, type(None)), "reached": dict,
              "history": (dict, type(None)), "nodes": (dict, type(None)), "output_node": int,
              "omega_at_output_node": (dict, type(None)), "crossings": list,
              "output_node_history": (dict, type(None)), "faces": (dict, type(None))}
INPUT_FIELDS = {"entries": list, "blocks": list, "jet": (dict, type(None)), "grid": dict,
                "warnings": list, "data_dir": str}
NODE_FIELDS = ("depth_m", "peak_temperature_K", "peak_time_s", "omega", "omega_unfloored")
OUTCOMES = {"burn-depth", "omega-at-node", "all-above", "all-below", "non-finite", "error"}
PHASES = {"input", "start", "march", "burn", "end"}


def validate(test: unittest.TestCase, doc: dict) -> None:
    """Checks `doc` against the fields docs/results.md gives."""
    for name, kind in TOP_FIELDS.items():
        test.assertIn(name, doc)
        test.assertIsInstance(doc[name], kind, name)
    test.assertEqual((doc["program"], doc["kind"]), ("skinburn", "results"))
    for name, kind in INPUT_FIELDS.items():
        test.assertIsInstance(doc["inputs"][name], kind, name)
    test.assertIn(doc["outcome"], OUTCOMES)
    test.assertIn(doc["reached"]["phase"], PHASES)
    test.assertEqual((doc["outcome"] == "error"), doc["status"] != 0 or doc["error"] is not None)
    if doc["nodes"] is not None:
        count = doc["inputs"]["grid"]["nodes"]
        for name in NODE_FIELDS:
            test.assertEqual(len(doc["nodes"][name]), count, name)
    if doc["history"] is not None:
        test.assertEqual(set(doc["history"]) - {"file_hex"},
                         {"file", "rows", "columns", "row_time_s", "run_id", "bytes", "data_offset", "data_crc32"})
        test.assertEqual(doc["history"]["run_id"], doc["run_id"])
    for crossing in doc["crossings"]:
        test.assertEqual(set(crossing), {"nodes", "direction", "depth_m", "report_depth_m", "printed"})


class Trial:
    """A data directory in a temporary folder, run with --results."""

    def __init__(self, example: str) -> None:
        self.root = Path(tempfile.mkdtemp(prefix="skinburn-results-"))
        self.dir = self.root / "trial"
        shutil.copytree(EXAMPLES / example, self.dir, ignore=shutil.ignore_patterns("expected"))

    def edit(self, name: str, old: bytes, new: bytes) -> None:
        path = self.dir / name
        text = path.read_bytes()
        assert old in text, old
        path.write_bytes(text.replace(old, new, 1))

    def run(self) -> tuple:
        proc = subprocess.run([BINARY, "--results", str(self.root / "out"), str(self.dir) + "/"],
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
        raw = (self.root / "out.json").read_bytes()
        doc = json.loads(raw.decode("utf-8"))  # strict UTF-8
        self.history = self.root / "out.npy"
        return proc, doc

    def report(self) -> str:
        path = self.dir / "OUTPUT.TXT"
        return path.read_text() if path.exists() else ""

    def close(self) -> None:
        shutil.rmtree(self.root, ignore_errors=True)


def profiles(report: str) -> dict:
    """{time s: [T of node 1..n]} of the profile listings of a report."""
    found = {}
    for block in re.split(r"\nNode    Depth           T\(K\) @ time ", report)[1:]:
        lines = block.split("\n")
        time = float(lines[0].split()[0])
        found[time] = [float(line.split()[2]) for line in lines[1:] if re.match(r"^\s*\d+\s+\d", line)]
    return found


class Outcomes(unittest.TestCase):
    def trial(self, example: str) -> Trial:
        trial = Trial(example)
        self.addCleanup(trial.close)
        return trial

    def test_burn_depth_history_and_crossings_match_the_report(self) -> None:
        trial = self.trial("airbag-jet")
        proc, doc = trial.run()
        validate(self, doc)
        self.assertEqual((proc.returncode, doc["status"], doc["outcome"]), (0, 0, "burn-depth"))
        self.assertEqual(doc["reached"], {"phase": "end", "step": 1000, "time_s": doc["reached"]["time_s"]})
        T = np.load(trial.history, mmap_mode="r")
        self.assertEqual(T.shape, (1001, 41))
        self.assertEqual(doc["history"]["rows"], 1001)
        report = trial.report()
        listed = profiles(report)
        self.assertEqual(len(listed), 1000)
        for step, time in enumerate(sorted(listed), start=1):
            np.testing.assert_allclose(T[step], listed[time], atol=0.05 + 1e-9)
        np.testing.assert_array_equal(T[0], 310.0)  # the march's start
        # Peaks from the same history.
        np.testing.assert_array_equal(doc["nodes"]["peak_temperature_K"], T.max(axis=0))
        # Crossings: the report's lines, and Omega per node bracketing 1.
        printed = re.findall(r"Omega = 1 at depth\s+(\S+) \(m\)", report)
        self.assertEqual([c["printed"] for c in doc["crossings"]], printed)
        omega = doc["nodes"]["omega"]
        dx = doc["inputs"]["grid"]["deltax_m"]
        for crossing in doc["crossings"]:
            i, j = crossing["nodes"]
            self.assertEqual(j, i + 1)
            above, below = (omega[i - 1], omega[i]) if crossing["direction"] == "falling" else (omega[i], omega[i - 1])
            self.assertGreater(above, 1)
            self.assertLess(below, 1)
            self.assertAlmostEqual(crossing["report_depth_m"] - crossing["depth_m"], dx, delta=1e-15)
            self.assertTrue((i - 1) * dx <= crossing["depth_m"] <= i * dx)
        self.assertEqual(doc["nodes"]["depth_m"][:3], [0.0, dx, 2 * dx])

    def test_omega_at_node_and_its_history(self) -> None:
        trial = self.trial("hot-liquid")
        trial.edit("DATA.DAT", b"Omega at every node (burn depth): 1", b"Omega at every node (burn depth): 0")
        proc, doc = trial.run()
        validate(self, doc)
        self.assertEqual(doc["outcome"], "omega-at-node")
        at = doc["omega_at_output_node"]
        printed = re.search(r"Omega at node 2 =\s+(\S+)", trial.report()).group(1)
        self.assertEqual(at["printed"], printed)
        self.assertAlmostEqual(at["omega"], float(printed), places=11)
        self.assertEqual(at["omega"], at["omega_unfloored"])
        self.assertEqual(doc["nodes"]["omega"][1], at["omega"])
        self.assertIsNone(doc["nodes"]["omega"][0])
        history = doc["output_node_history"]
        self.assertEqual(history["node"], 2)
        T = np.load(trial.history, mmap_mode="r")
        np.testing.assert_array_equal(history["temperature_K"], T[:, 1])
        listed = [float(line.split()[3]) for line in trial.report().splitlines()
                  if re.match(r"^\s+\d+\s+0\.0001000", line)]
        np.testing.assert_allclose(T[1:, 1], listed, atol=0.05 + 1e-9)

    def test_all_above_and_all_below(self) -> None:
        for temperature, outcome in ((b"350.0", "all-above"), (b"310.0", "all-below")):
            trial = self.trial("hot-liquid")
            for old in (b"0.0 308.0\n0.004 310.0", b"0.0 333.15 10.0 333.15\n! LEFT_AMBIENT",
                        b"0.0 310.0 10.0 310.0\n! RIGHT_AMBIENT"):
                trial.edit("DATA.DAT", old, old.replace(b"308.0", temperature).replace(b"310.0", temperature)
                           .replace(b"333.15", temperature))
            proc, doc = trial.run()
            validate(self, doc)
            self.assertEqual((proc.returncode, doc["outcome"]), (0, outcome))
            self.assertEqual(doc["crossings"], [])
            omega = doc["nodes"]["omega"]
            self.assertTrue(all(w > 1 for w in omega) if outcome == "all-above" else all(w < 1 for w in omega))
            self.assertNotIn("Omega", trial.report())

    def test_crossings_list_every_bracket_whatever_the_outcome(self) -> None:
        # Both faces hot, the middle cool: the first and last nodes are above
        # 1, so the report says only "Omega>1 for all nodes.", but Omega falls
        # below 1 after node 2 and rises above it again before node 30.
        trial = self.trial("hot-liquid")
        trial.edit("DATA.DAT", b"! RIGHT_BC\n2 pairs\n0.0 310.0 10.0 310.0", b"! RIGHT_BC\n2 pairs\n0.0 333.15 10.0 333.15")
        proc, doc = trial.run()
        validate(self, doc)
        self.assertEqual(doc["outcome"], "all-above")
        self.assertIn("Omega>1 for all nodes.", proc.stdout.decode())
        omega = doc["nodes"]["omega"]
        brackets = [(i + 1, "falling" if omega[i] > 1 else "rising") for i in range(len(omega) - 1)
                    if (omega[i] - 1) * (omega[i + 1] - 1) < 0]
        self.assertEqual(brackets, [(2, "falling"), (29, "rising")])
        self.assertEqual([(c["nodes"][0], c["direction"]) for c in doc["crossings"]], brackets)
        dx = doc["inputs"]["grid"]["deltax_m"]
        for crossing in doc["crossings"]:
            i = crossing["nodes"][0]
            self.assertTrue((i - 1) * dx < crossing["depth_m"] < i * dx)


class Faces(unittest.TestCase):
    def test_the_faces_account_for_every_joule_the_skin_stores(self) -> None:
        # Each face's heat flux, step by step, summed over the run, is what
        # the nodes stored (half cells at the faces): the scheme's energy
        # balance, to rounding, for a jet, a flux, a held temperature and a
        # convection face.
        for example, left in (("airbag-jet", "convection"), ("flux-cooling", "flux"),
                              ("hot-liquid", "temperature"), ("convection", "convection")):
            trial = Trial(example)
            self.addCleanup(trial.close)
            proc, doc = trial.run()
            faces = doc["faces"]
            T = np.load(trial.history)
            grid = doc["inputs"]["grid"]
            steps = len(T) - 1
            np.testing.assert_array_equal(faces["time_s"], np.arange(1, steps + 1) * grid["deltat_s"])
            self.assertEqual((faces["left"]["type"], faces["right"]["type"]), (left, "temperature"))
            laid = {b["laid"]["table"]: np.array(b["laid"]["values"]) for b in doc["inputs"]["blocks"] if b["laid"]}
            n = T.shape[1]
            cell = np.full(n, grid["deltax_m"])
            cell[[0, -1]] /= 2
            stored = (laid["density"][:n] * laid["heat_capacity"][:n] * cell * (T[-1] - T[0])).sum()
            inflow = sum(np.array(faces[side]["flux_W_m2"]).sum() for side in ("left", "right")) * grid["deltat_s"]
            self.assertLess(abs(inflow - stored), 1e-9 * abs(stored), example)
            np.testing.assert_array_equal(faces["left"]["surface_K"], T[1:, 0])
            np.testing.assert_array_equal(faces["right"]["surface_K"], T[1:, -1])
            has_h = left == "convection"
            self.assertEqual(None not in faces["left"]["h_W_m2K"], has_h, example)
            self.assertTrue(all(h is None for h in faces["right"]["h_W_m2K"]))
            if has_h:
                h, gas, surface = (np.array(faces["left"][k]) for k in ("h_W_m2K", "ambient_K", "surface_K"))
                np.testing.assert_allclose(faces["left"]["flux_W_m2"], h * (gas - surface), rtol=1e-12)


class Stops(unittest.TestCase):
    def run_stop(self, example: str, change, phase: str, message: str) -> tuple:
        trial = Trial(example)
        self.addCleanup(trial.close)
        change(trial)
        proc, doc = trial.run()
        validate(self, doc)
        self.assertEqual((proc.returncode, doc["status"], doc["outcome"]), (1, 1, "error"))
        self.assertEqual(doc["reached"]["phase"], phase)
        self.assertIn(message, doc["error"])
        self.assertIn(doc["error"], (proc.stdout + proc.stderr).decode("utf-8", "replace"))
        return trial, doc

    def test_every_kind_of_stop(self) -> None:
        def no_gas(t: Trial) -> None:
            (t.dir / "GASPROP.DAT").unlink()

        def report_blocked(t: Trial) -> None:
            (t.dir / "OUTPUT.TXT").mkdir()

        def short_velocities(t: Trial) -> None:
            t.edit("LEFTIMP.DAT", b"Gas velocity: 3 pairs\n0.0 120.0\n0.06 120.0\n0.2 20.0",
                   b"Gas velocity: 2 pairs\n0.0 120.0\n0.05 120.0")

        def coverage(t: Trial) -> None:
            t.edit("DATA.DAT", b"0.0 3600.0\n0.005 3600.0", b"0.0 3600.0\n0.0005 3600.0")

        def cold(t: Trial) -> None:  # single node, no damage: an invalid Omega
            t.edit("DATA.DAT", b"Omega at every node (burn depth): 1", b"Omega at every node (burn depth): 0")
            t.edit("DATA.DAT", b"0.0 333.15 10.0 333.15\n! LEFT_AMBIENT", b"0.0 310.0 10.0 310.0\n! LEFT_AMBIENT")

        def fatal(t: Trial) -> None:  # single node with a profile time: the integrator's fatal error
            t.edit("DATA.DAT", b"Omega at every node (burn depth): 1", b"Omega at every node (burn depth): 0")
            t.edit("DATA.DAT", b"profile: 0.0 sec", b"profile: 5.0 sec")

        trial, doc = self.run_stop("airbag-jet", coverage, "input", "Node heat capacities are not specified")
        self.assertIsNone(doc["history"])
        self.assertIsNone(doc["nodes"])
        self.assertFalse(trial.history.exists())
        trial, doc = self.run_stop("airbag-jet", no_gas, "start", "GASPROP.DAT could not be found")
        self.assertIsNone(doc["history"])
        trial, doc = self.run_stop("airbag-jet", report_blocked, "start", "OUTPUT.TXT could not be opened")
        trial, doc = self.run_stop("airbag-jet", short_velocities, "march", "do not cover the time 0.0501 s")
        self.assertEqual(doc["reached"]["step"], 501)
        T = np.load(trial.history, mmap_mode="r")
        self.assertEqual(T.shape, (502, 41))
        self.assertTrue(all(w is None for w in doc["nodes"]["omega"]))
        trial, doc = self.run_stop("hot-liquid", cold, "end", "BurnInjury() returned an invalid value")
        self.assertEqual(doc["nodes"]["omega"][1], 0.0)
        self.assertGreater(doc["nodes"]["omega_unfloored"][1], 0.0)
        self.assertLess(doc["nodes"]["omega_unfloored"][1], 1e-6)
        trial, doc = self.run_stop("hot-liquid", fatal, "burn", "Step size too small in routine rkdumb")

    def test_an_earlier_history_is_not_left_beside_a_new_bundle(self) -> None:
        trial = Trial("airbag-jet")
        self.addCleanup(trial.close)
        trial.run()
        self.assertTrue(trial.history.exists())
        (trial.dir / "DATA.DAT").unlink()
        proc, doc = trial.run()
        self.assertEqual((doc["outcome"], doc["reached"]["phase"]), ("error", "input"))
        self.assertFalse(trial.history.exists())


class Text(unittest.TestCase):
    def test_bytes_that_are_not_utf8_give_valid_json(self) -> None:
        trial = Trial("hot-liquid")
        self.addCleanup(trial.close)
        trial.edit("DATA.DAT", b"Name of operator: SKB", b"Name of operator: S\xffK\xc3")
        proc, doc = trial.run()
        validate(self, doc)
        by = doc["inputs"]["entries"][9]
        self.assertEqual(by["value"], "S\ufffdK\ufffd")
        self.assertEqual(bytes.fromhex(by["value_hex"]), b"S\xffK\xc3")


if __name__ == "__main__":
    unittest.main()
