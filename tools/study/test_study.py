#!/usr/bin/python3
"""study.py end to end: a five-trial study of the airbag-jet example (its gas
temperature made a 15 ms pulse in LEFTAMB.DAT), each row checked against
skinburn run by hand on a copy of that trial's inputs, then the study run
again (nothing reruns, same CSV) and resumed after changes."""
import csv
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SKINBURN = os.environ.get("SKINBURN", os.path.join(ROOT, "build", "default", "skinburn"))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True
import study  # noqa: E402

STUDY = {"set": {"TIMESTEPS": 300}, "cases": [
    {"jet.standoff_ratio": 4},                                # a burn depth
    {"jet.standoff_ratio": 4, "OUTNODE": 1, "BURNDEPTH": 0},  # Omega and history of node 1
    {"jet.standoff_ratio": 8, "LEFT_AMBIENT": 400, "VERBOSE": 0},  # no burn; console report
    {"jet.offaxis": -0.01},                                   # rejected by the input stage
    {"OUTNODE": 1, "BURNDEPTH": 0, "OUTTIME": 0.01},  # no history: numerical fatal error
]}
PULSE = "Gas temperature\nData pairs: 4\n0.0 1200.0\n0.015 1200.0\n0.02 310.0\n0.2 310.0\nEND\n"


def read(*path):
    with open(os.path.join(*path), errors="replace") as f:
        return f.read()


class StudyTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.tmp)
        self.write_description(STUDY)
        template = os.path.join(self.tmp, "template")
        shutil.copytree(os.path.join(ROOT, "examples", "airbag-jet"), template)
        data = read(template, "DATA.DAT")
        block = "! LEFT_AMBIENT\n3 pairs\n0.0 1000.0\n0.06 1000.0\n0.2 600.0\n"
        self.assertIn(block, data)
        data = data.replace(block, "! LEFT_AMBIENT\n0 pairs\n").replace("pauses: 1", "pauses: 0")
        for name, text in (("DATA.DAT", data),
                           ("LEFTAMB.DAT", PULSE)):
            with open(os.path.join(template, name), "w") as f:
                f.write(text)

    def write_description(self, description):
        with open(os.path.join(self.tmp, "study.json"), "w") as f:
            json.dump(description, f)

    def study(self):
        out = subprocess.run([sys.executable, os.path.join(HERE, "study.py"), "-j", "2",
                              "--per-job", "3", "--quiet", "--skinburn", SKINBURN,
                              "template", "study.json", "st"],
                             cwd=self.tmp, capture_output=True, text=True)
        self.assertEqual(out.returncode, 0, out.stderr)
        text = read(self.tmp, "st", "study.csv")
        return out.stdout, text, list(csv.DictReader(text.splitlines()))

    def by_hand(self, trial):
        """Status, console and report (file, else console) of skinburn on a copy of
        the trial's inputs."""
        hand = os.path.join(self.tmp, "hand")
        shutil.rmtree(hand, ignore_errors=True)
        os.mkdir(hand)
        for name in ("DATA.DAT", "LEFTAMB.DAT", "LEFTIMP.DAT", "GASPROP.DAT"):
            shutil.copy(os.path.join(self.tmp, "st", trial, name), hand)
        run = subprocess.run([SKINBURN, "hand/"], cwd=self.tmp, stdin=subprocess.DEVNULL,
                             capture_output=True, text=True, errors="replace")
        report = os.path.join(hand, "OUTPUT.TXT")
        return (run.returncode, run.stdout, run.stderr.split("\n"),
                read(report) if os.path.exists(report) else run.stdout)

    def test_rows_match_individual_runs_and_study_resumes(self):
        log, text, rows = self.study()
        self.assertIn("5 trials (5 run now, 0 already complete), 2 failed", log)
        self.assertEqual([(r["trial"], r["dir"]) for r in rows],
                         [(str(i), f"st/t00{i}/") for i in range(1, 6)])
        self.assertIn("No pauses: 1\nTrial number: 2\n", read(self.tmp, "st", "t002", "DATA.DAT"))
        self.assertIn("Standoff distance: 0.04\n", read(self.tmp, "st", "t002", "LEFTIMP.DAT"))
        self.assertEqual(read(self.tmp, "st", "t003", "LEFTAMB.DAT"), PULSE.replace("1200.0",
                         "400").replace("310.0", "400"))

        last = []
        for row in rows:
            status, console, stderr, report = self.by_hand(row["dir"][3:-1])
            depths = re.findall(r"Omega = 1 at depth\s+(\S+) \(m\)", report)
            omega = re.findall(r"Omega at node 1 =\s+(\S+)", report)
            outcome = "below" if "Omega<1 for all nodes." in console else \
                ";".join(depths) if depths else omega[0] if omega else ""
            temps = re.findall(r"^  1     0\.0000000\s+(\S+)", report, re.M) or \
                re.findall(r"^\s+\d+\s+0\.0000000\s+\S+\s+(\S+)\s*$", report, re.M)
            last.append(temps[-1] if temps else "")
            errors = [" ".join(l.split()) for l in console.splitlines() if "Error" in l] or \
                [" ".join(stderr[:2])]
            self.assertEqual((row["status"], row["outcome"], row["peak_T"], [row["error"]]),
                             (str(status), outcome if status == 0 else "",
                              max(temps, key=float) if temps else "", errors[:1]), row)
        self.assertRegex(",".join(r["outcome"] for r in rows), r"^0\.\d{6},\d+\.\d{12},below,,$")
        self.assertEqual((rows[1]["LEFT_AMBIENT"], rows[1]["OUTNODE"]), ("", "1"))
        self.assertRegex(rows[3]["error"], r"^GetData\(\) Error: Offaxis Spacing")
        self.assertRegex(rows[4]["error"], r"error\.\.\. Step size too small in routine rkdumb$")
        for i in (0, 1):  # the pulse has passed: the peak is not the last temperature
            self.assertGreater(float(rows[i]["peak_T"]), float(last[i]))

        # A marker in every trial directory stays there unless the trial is made anew.
        marks = [os.path.join(self.tmp, "st", f"t00{i}", "mark") for i in range(1, 6)]
        for mark in marks:
            open(mark, "w").close()
        log, again, _ = self.study()
        self.assertIn("(0 run now, 5 already complete)", log)
        self.assertEqual((again, [os.path.exists(m) for m in marks]), (text, [True] * 5))

        # An unfinished trial and a changed case run again, and only they.
        os.remove(os.path.join(self.tmp, "st", "t002", "status"))
        changed = json.loads(json.dumps(STUDY))
        changed["cases"][2]["LEFT_AMBIENT"] = 1400
        self.write_description(changed)
        log, after, rows_after = self.study()
        self.assertIn("(2 run now, 3 already complete)", log)
        self.assertEqual(read(self.tmp, "st", "t002", "OUTPUT.TXT").count("TRIAL:"), 1)
        self.assertEqual([os.path.exists(m) for m in marks], [True, False, False, True, True])
        lines, lines_after = text.splitlines(), after.splitlines()
        self.assertEqual([lines_after[i] for i in (0, 1, 2, 4, 5)],
                         [lines[i] for i in (0, 1, 2, 4, 5)])
        self.assertEqual(rows_after[2]["LEFT_AMBIENT"], "1400")
        self.assertNotEqual(rows_after[2]["peak_T"], rows[2]["peak_T"])

    def test_several_depths_are_joined(self):
        lines = "".join(f"By interpolation, Omega is equal to 1 at depth {d} (m).\r\n"
                        for d in ("0.000100", "0.000300"))
        self.assertEqual(study.outcome_of(lines), "0.000100;0.000300")


if __name__ == "__main__":
    if shutil.which("parallel") is None:
        print("GNU parallel is not installed: skipped")
        sys.exit(77)
    unittest.main()
