"""The results bundle where the world is hostile.

Two runs on one prefix, a write that fails (a directory in the way, a file
size limit as a full disk, a small tmpfs where one can be mounted), a run
interrupted or killed mid-march, a history that turns to NaN, the input
facts after the burn evaluation, and a prefix that is not UTF-8.  The
pair left under a prefix is always whole and from one run, or absent.
SKINBURN names the binary.
"""
import json
import os
import re
import resource
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
import zlib
from pathlib import Path

import numpy as np

from test_results import BINARY, Trial, validate


def sized(trial: Trial, nodes: int, steps: int) -> None:
    """The airbag example on `nodes` nodes 1 um apart, `steps` steps over 0.1 s, quiet."""
    trial.edit("DATA.DAT", b"Time steps: 1000", b"Time steps: %d" % steps)
    trial.edit("DATA.DAT", b"delta-t: 0.0001", b"delta-t: %r" % (0.1 / steps))
    trial.edit("DATA.DAT", b"delta-x: 0.00002", b"delta-x: 0.000001")
    trial.edit("DATA.DAT", b"NODES: 41", b"NODES: %d" % nodes)
    trial.edit("DATA.DAT", b"Results to file (VERBOSE flag): 1", b"Results to file (VERBOSE flag): 0")
    trial.edit("DATA.DAT", b"List T-initial: 1", b"List T-initial: 0")


def leftovers(prefix: Path) -> list:
    return sorted(p.name for p in prefix.parent.iterdir() if p.name.startswith(prefix.name + "."))


def matched(test: unittest.TestCase, prefix: Path) -> dict:
    """The pair under `prefix`, checked to belong together; its JSON."""
    doc = json.loads(Path(str(prefix) + ".json").read_bytes())
    validate(test, doc)
    history = doc["history"]
    raw = Path(str(prefix) + ".npy").read_bytes()
    test.assertEqual(len(raw), history["bytes"])
    test.assertEqual(zlib.crc32(raw[history["data_offset"]:]), history["data_crc32"])
    T = np.load(str(prefix) + ".npy", mmap_mode="r")
    test.assertEqual(T.shape, (history["rows"], history["columns"]))
    test.assertEqual(history["columns"], doc["inputs"]["grid"]["nodes"])
    return doc


def start(trial: Trial, prefix: Path, **kw) -> subprocess.Popen:
    return subprocess.Popen([BINARY, "--results", str(prefix), str(trial.dir) + "/"], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kw)


def wait_for_partial(prefix: Path, proc: subprocess.Popen, rows_bytes: int) -> Path:
    """The run's partial history, once it holds more than `rows_bytes` bytes."""
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline:
        assert proc.poll() is None, "the run ended before it could be interrupted"
        found = [p for p in prefix.parent.glob(prefix.name + ".npy.partial-*")]
        if found and found[0].stat().st_size > rows_bytes:
            return found[0]
        time.sleep(0.01)
    raise AssertionError("no partial history appeared")


class Case(unittest.TestCase):
    def trial(self, example: str = "airbag-jet") -> Trial:
        trial = Trial(example)
        self.addCleanup(trial.close)
        return trial


class TwoRuns(Case):
    def test_runs_on_one_prefix_leave_one_whole_pair(self) -> None:
        # Three histories of different widths, started a little apart on one
        # prefix, twice over: what is left is one run's JSON with that run's
        # .npy, and no partial file.
        trials = []
        for nodes in (1500, 2000, 2500):
            trial = self.trial()
            sized(trial, nodes, 2000)
            trials.append(trial)
        prefix = trials[0].root / "same"
        for _ in range(2):
            procs = []
            for trial in trials:
                procs.append(start(trial, prefix))
                time.sleep(0.05)
            for proc in procs:
                _, err = proc.communicate(timeout=600)
                self.assertEqual((proc.returncode, err), (0, b""))
            doc = matched(self, prefix)
            self.assertIn(doc["history"]["columns"], (1500, 2000, 2500))
            self.assertEqual(leftovers(prefix), ["same.json", "same.npy"])


class FailedWrites(Case):
    def plain(self, trial: Trial) -> subprocess.CompletedProcess:
        return subprocess.run([BINARY, str(trial.dir) + "/"], stdin=subprocess.DEVNULL, capture_output=True)

    def test_a_directory_in_the_way(self) -> None:
        trial = self.trial()
        prefix = trial.root / "out"
        trial.run()
        self.assertEqual(leftovers(prefix), ["out.json", "out.npy"])
        Path(str(prefix) + ".json").unlink()
        Path(str(prefix) + ".json").mkdir()
        plain = self.plain(trial)
        report = trial.report()
        proc = subprocess.run([BINARY, "--results", str(prefix), str(trial.dir) + "/"], stdin=subprocess.DEVNULL,
                              capture_output=True)
        self.assertEqual(proc.returncode, 1)
        self.assertEqual(proc.stdout, plain.stdout)
        self.assertEqual(proc.stderr.decode(), f"skinburn: could not write {prefix}.json: Is a directory\n")
        # The earlier run's history is gone, nothing partial is left, and
        # OUTPUT.TXT has the run appended as without the option.
        self.assertEqual(leftovers(prefix), ["out.json"])
        self.assertTrue(Path(str(prefix) + ".json").is_dir())
        self.assertEqual(trial.report(), report + report[len(report) // 2:])

    def test_a_full_disk(self) -> None:
        # A file size limit fails the history's writes as a full disk does
        # (EFBIG instead of ENOSPC, through the same path).
        trial = self.trial()
        sized(trial, 3000, 400)  # a history of 9.6 MB
        prefix = trial.root / "out"
        proc = start(trial, prefix)
        proc.communicate(timeout=600)
        matched(self, prefix)

        def limited() -> None:
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (4 << 20, 4 << 20))

        proc = start(trial, prefix, preexec_fn=limited)
        _, err = proc.communicate(timeout=600)
        self.assertEqual(proc.returncode, 1)
        self.assertEqual(err.decode(), f"skinburn: could not write {prefix}.npy: File too large\n")
        self.assertEqual(leftovers(prefix), [])

    def test_a_file_size_limit_as_ulimit_sets_it(self) -> None:
        # Without SIGXFSZ ignored by the caller: the program ignores it, the
        # run goes on as without the option, and the bundle is abandoned.
        trial = self.trial()
        sized(trial, 3000, 400)
        prefix = trial.root / "out"
        plain = self.plain(trial)
        proc = subprocess.run([BINARY, "--results", str(prefix), str(trial.dir) + "/"], stdin=subprocess.DEVNULL,
                              capture_output=True,
                              preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (4 << 20, 4 << 20)))
        self.assertEqual(proc.returncode, 1)
        self.assertEqual(proc.stdout, plain.stdout)
        self.assertEqual(proc.stderr.decode(), f"skinburn: could not write {prefix}.npy: File too large\n")
        self.assertEqual(leftovers(prefix), [])

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("mount"), "mounting a tmpfs needs root")
    def test_a_full_tmpfs(self) -> None:
        trial = self.trial()
        sized(trial, 3000, 400)
        mount = Path(tempfile.mkdtemp(prefix="skinburn-tmpfs-"))
        self.addCleanup(mount.rmdir)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", str(mount)],
                          capture_output=True).returncode != 0:
            self.skipTest("a tmpfs cannot be mounted here")
        self.addCleanup(subprocess.run, ["umount", str(mount)])
        prefix = mount / "out"
        proc = start(trial, prefix)
        _, err = proc.communicate(timeout=600)
        self.assertEqual(proc.returncode, 1)
        self.assertEqual(err.decode(), f"skinburn: could not write {prefix}.npy: No space left on device\n")
        self.assertEqual(list(mount.iterdir()), [])


class Interrupted(Case):
    def test_interrupts_remove_the_partial_files(self) -> None:
        trial = self.trial()
        sized(trial, 3000, 20000)
        prefix = trial.root / "out"
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            proc = start(trial, prefix)
            wait_for_partial(prefix, proc, 1 << 20)
            proc.send_signal(number)
            proc.communicate(timeout=60)
            self.assertEqual(proc.returncode, -number)
            self.assertEqual(leftovers(prefix), [], number)

    def test_a_killed_run_leaves_a_true_partial_history_that_the_next_run_clears(self) -> None:
        trial = self.trial()
        sized(trial, 3000, 20000)
        prefix = trial.root / "out"
        proc = start(trial, prefix)
        partial = wait_for_partial(prefix, proc, 8 << 20)
        proc.kill()
        proc.communicate(timeout=60)
        self.assertEqual([p.name for p in prefix.parent.glob("out.*")], [partial.name])
        self.assertRegex(partial.name, r"^out\.npy\.partial-\d+-\w{6}$")
        T = np.load(partial)  # the header states the rows on disk
        self.assertGreater(T.shape[0], 0)
        self.assertEqual(T.shape[1], 3000)
        np.testing.assert_array_equal(T[0], 310.0)
        self.assertTrue(np.isfinite(T).all())
        # A later run on the prefix clears it.
        proc = start(self.trial("hot-liquid"), prefix)
        proc.communicate(timeout=600)
        self.assertEqual(leftovers(prefix), ["out.json", "out.npy"])
        self.assertFalse(partial.exists())


class WhatWasRead(Case):
    def check(self, trial: Trial) -> dict:
        proc = subprocess.run([BINARY, "--check=json", str(trial.dir) + "/"], capture_output=True)
        return json.loads(proc.stdout)

    def test_inputs_are_the_check_of_the_same_directory(self) -> None:
        # OUTNODE 0 (the all-nodes mode it chooses), and BURNDEPTH 0 with
        # OUTNODE 0: the burn evaluation sets OUTNODE while it works.
        for burn_depth in (b"1", b"0"):
            trial = self.trial()
            trial.edit("DATA.DAT", b"(burn depth): 1", b"(burn depth): " + burn_depth)
            check = self.check(trial)
            proc, doc = trial.run()
            self.assertEqual(doc["outcome"], "burn-depth")
            for key in ("entries", "blocks", "jet", "grid", "warnings"):
                self.assertEqual(doc["inputs"][key], check[key], key)
            self.assertEqual((doc["inputs"]["grid"]["output_node"], doc["inputs"]["grid"]["burn_mode"]),
                             (0, "all-nodes"))
            self.assertEqual(doc["output_node"], 0)


class NonFinite(Case):
    def test_a_history_that_turns_to_nan_is_named(self) -> None:
        trial = self.trial()
        trial.edit("LEFTIMP.DAT", b"0.0 120.0\n0.06 120.0\n0.2 20.0", b"0.0 -120.0\n0.06 -120.0\n0.2 -120.0")
        plain = subprocess.run([BINARY, str(trial.dir) + "/"], stdin=subprocess.DEVNULL, capture_output=True)
        proc, doc = trial.run()
        validate(self, doc)
        # The console is as without the option; the JSON says what happened.
        self.assertEqual((proc.returncode, proc.stdout), (plain.returncode, plain.stdout))
        self.assertEqual(doc["outcome"], "non-finite")
        self.assertEqual(doc["non_finite"], {"step": 1, "time_s": 0.0001, "node": 1, "depth_m": 0.0,
                                             "value": "nan", "rows": 1000})
        T = np.load(trial.history)
        self.assertEqual(int(np.isnan(T).any(axis=1).sum()), 1000)
        self.assertTrue(all(t is None for t in doc["nodes"]["peak_temperature_K"]))

    def test_a_finite_run_has_no_record(self) -> None:
        proc, doc = self.trial().run()
        self.assertIsNone(doc["non_finite"])
        self.assertNotIn(None, doc["nodes"]["peak_temperature_K"])


class Names(Case):
    def test_a_prefix_that_is_not_utf8(self) -> None:
        trial = self.trial("hot-liquid")
        prefix = os.fsencode(trial.root) + b"/r\xff"
        proc = subprocess.run([BINARY, "--results", prefix, str(trial.dir) + "/"], stdin=subprocess.DEVNULL,
                              capture_output=True)
        self.assertEqual(proc.returncode, 0)
        with open(prefix + b".json", "rb") as file:
            doc = json.loads(file.read().decode("utf-8"))
        validate(self, doc)
        self.assertEqual(bytes.fromhex(doc["history"]["file_hex"]), prefix + b".npy")
        self.assertTrue(os.path.exists(bytes.fromhex(doc["history"]["file_hex"])))
        self.assertTrue(re.search("\ufffd", doc["history"]["file"]))


if __name__ == "__main__":
    unittest.main()


class Readers(Case):
    def test_the_package_refuses_a_history_that_is_not_its_jsons(self) -> None:
        # Another run's history of the same size under the prefix (as a
        # reader could meet it across a rename): the package checks the
        # CRC-32 on the file it maps and refuses it.
        import sys
        sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "python"))
        from skinburn.results import Results
        trial = self.trial()
        prefix = trial.root / "out"
        trial.run()
        doc = json.loads(Path(str(prefix) + ".json").read_bytes())
        self.assertEqual(Results(doc, prefix).temperature_K.shape, (doc["history"]["rows"], doc["history"]["columns"]))
        raw = bytearray(Path(str(prefix) + ".npy").read_bytes())
        raw[-8:] = np.float64(1.0).tobytes()
        Path(str(prefix) + ".npy").write_bytes(bytes(raw))
        with self.assertRaisesRegex(ValueError, "is not the history of this run's JSON"):
            Results(doc, prefix).temperature_K
