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

    def study(self, *parallel):
        out = subprocess.run([sys.executable, os.path.join(HERE, "study.py"), "-j", "2",
                              "--per-job", "3", "--quiet", "--skinburn", SKINBURN,
                              "template", "study.json", "st", *parallel],
                             cwd=self.tmp, capture_output=True, text=True)
        self.assertEqual(out.returncode, 0, out.stderr)
        text = read(self.tmp, "st", "study.csv")
        return out.stdout, text, list(csv.DictReader(text.splitlines()))

    def by_hand(self, trial):
        """Status, console, stderr lines, report (file, else console) and results document of
        skinburn run with --results on a copy of the trial's inputs."""
        hand = os.path.join(self.tmp, "hand")
        shutil.rmtree(hand, ignore_errors=True)
        os.mkdir(hand)
        for name in ("DATA.DAT", "LEFTAMB.DAT", "LEFTIMP.DAT", "GASPROP.DAT"):
            shutil.copy(os.path.join(self.tmp, "st", trial, name), hand)
        run = subprocess.run([SKINBURN, "--results", "hand/r", "hand/"], cwd=self.tmp,
                             stdin=subprocess.DEVNULL, capture_output=True, text=True, errors="replace")
        report = os.path.join(hand, "OUTPUT.TXT")
        with open(os.path.join(hand, "r.json")) as f:
            doc = json.load(f)
        return (run.returncode, run.stdout, run.stderr.split("\n"),
                read(report) if os.path.exists(report) else run.stdout, doc)

    def test_rows_match_individual_runs_and_study_resumes(self):
        log, text, rows = self.study()
        self.assertIn("5 trials (5 run now, 0 already complete), 2 failed", log)
        self.assertEqual([(r["trial"], r["dir"]) for r in rows],
                         [(str(i), f"st/t00{i}/") for i in range(1, 6)])
        self.assertIn("No pauses: 1\nTrial number: 2\n", read(self.tmp, "st", "t002", "DATA.DAT"))
        self.assertIn("Standoff distance: 0.04\n", read(self.tmp, "st", "t002", "LEFTIMP.DAT"))
        self.assertEqual(read(self.tmp, "st", "t003", "LEFTAMB.DAT"), PULSE.replace("1200.0",
                         "400.0").replace("310.0", "400.0"))

        for row in rows:
            status, console, stderr, report, doc = self.by_hand(row["dir"][3:-1])
            depths = ";".join("%.1f" % (c["depth_m"] * 1e6) for c in doc["crossings"])
            errors = [" ".join(l.split()) for l in console.splitlines() if "Error" in l] or \
                [" ".join(stderr[:2])]
            self.assertEqual((row["status"], row["program_outcome"], row["error"]),
                             (str(status), doc["outcome"], errors[0]), row)
            if doc["outcome"] == "burn-depth":
                self.assertEqual(row["program_depth_um"], depths)
            temps = re.findall(r"^  1     0\.0000000\s+(\S+)", report, re.M) or \
                re.findall(r"^\s+\d+\s+0\.0000000\s+\S+\s+(\S+)\s*$", report, re.M)
            if status == 0:  # the full-precision peak rounds to the printed one
                self.assertAlmostEqual(float(row["peak_T_K"]), float(max(temps, key=float)), delta=0.051)
        self.assertEqual([r["program_outcome"] for r in rows],
                         ["burn-depth", "omega-at-node", "all-below", "error", "error"])
        self.assertRegex(rows[0]["program_depth_um"], r"^\d+\.\d$")
        self.assertRegex(rows[1]["program_omega"], r"^\d+\.\d+")
        self.assertEqual((rows[2]["burn"], rows[2]["program_depth_um"], rows[2]["depth_omega_1_um"]),
                         ("no burn", "no burn", "no burn"))
        self.assertEqual((rows[1]["LEFT_AMBIENT_K"], rows[1]["OUTNODE"]), ("", "1"))
        self.assertRegex(rows[3]["error"], r"^GetData\(\) Error: Offaxis Spacing")
        self.assertRegex(rows[4]["error"], r"error\.\.\. Step size too small in routine rkdumb$")

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
        log, after, rows_after = self.study("--", "--sshlogin", ":")  # options go to GNU parallel
        self.assertIn("(2 run now, 3 already complete)", log)
        hosts = [line.split("\t")[1] for line in read(self.tmp, "st", "joblog").splitlines()[1:]]
        self.assertEqual(hosts, [":"])
        self.assertEqual(read(self.tmp, "st", "t002", "OUTPUT.TXT").count("TRIAL:"), 1)
        self.assertEqual([os.path.exists(m) for m in marks], [True, False, False, True, True])
        lines, lines_after = text.splitlines(), after.splitlines()
        self.assertEqual([lines_after[i] for i in (0, 1, 2, 4, 5)],
                         [lines[i] for i in (0, 1, 2, 4, 5)])
        self.assertEqual(rows_after[2]["LEFT_AMBIENT_K"], "1400")
        self.assertNotEqual(rows_after[2]["peak_T_K"], rows[2]["peak_T_K"])



def check_json(directory):
    """The --check=json document of a data directory."""
    out = subprocess.run([SKINBURN, "--check=json", os.path.basename(directory) + "/"],
                         cwd=os.path.dirname(directory), capture_output=True, text=True)
    return json.loads(out.stdout)


def values(doc):
    """Every value the program read: entries, block pairs, the jet's values and velocities."""
    out = {e["name"]: e["value"] for e in doc["entries"]}
    for b in doc["blocks"]:
        out[b["table"] or b["name"]["text"]] = b["pairs"]
    jet = doc["jet"] or {}
    for k in ("option", "reynolds", "nozzle_diameter_m", "offaxis_spacing_m", "standoff_m"):
        if k in jet:
            out["jet." + k] = jet[k]["value"]
    out["jet.velocity"] = jet.get("velocity_pairs")
    return out


class KeysTest(unittest.TestCase):
    """Each key changes exactly the values it names, as the program reads the written trial."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.tmp)
        self.template = os.path.join(self.tmp, "template")
        shutil.copytree(os.path.join(ROOT, "examples", "airbag-jet"), self.template,
                        ignore=shutil.ignore_patterns("expected"))
        # The jet for 50 ms, then 10 W/(m2 K) to the gas table for the rest of the 0.1 s run.
        path = os.path.join(self.template, "LEFTIMP.DAT")
        text = read(path).replace("Boundary pairs: 2 pairs\n0.0 1.0\n0.2 1.0\n",
                                  "Boundary pairs: 4 pairs\n0.0 1.0\n0.05 1.0\n0.05 10.0\n0.2 10.0\n")
        with open(path, "w") as f:
            f.write(text)
        doc = check_json(self.template)
        self.before = values(doc)
        self.laid = [b for b in doc["blocks"] if b["table"] == "left_bc"][0]["laid"]["values"]

    def trials(self, description):
        path = os.path.join(self.tmp, "d.json")
        with open(path, "w") as f:
            json.dump(description, f)
        desc = study.read_description(path)
        template = study.load_template(self.template, study.Program.find(SKINBURN), desc)
        names, _ = study.prepare(template, desc, os.path.join(self.tmp, "st"), True)
        return [check_json(os.path.join(self.tmp, "st", n)) for n in names]

    def changed(self, doc):
        after = values(doc)
        return {k for k in after if after[k] != self.before.get(k)} - {"BATCH", "TRIAL"}

    def test_scale_offset_and_one_pair_keep_the_shape(self):
        scaled, shifted, pair, velocity = self.trials({"cases": [
            {"LEFT_AMBIENT.scale": 1.5}, {"LEFT_AMBIENT.offset": -100}, {"left_ambient[2]": 900},
            {"jet.velocity.scale": 0.5}]})
        old = self.before["left_ambient"]
        self.assertEqual(self.changed(scaled), {"left_ambient"})
        self.assertEqual(values(scaled)["left_ambient"], [[t, 1.5 * y] for t, y in old])
        self.assertEqual(values(shifted)["left_ambient"], [[t, y - 100] for t, y in old])
        self.assertEqual(values(pair)["left_ambient"], [old[0], [old[1][0], 900.0], old[2]])
        self.assertEqual(self.changed(velocity), {"jet.velocity"})
        self.assertEqual(values(velocity)["jet.velocity"],
                         [[t, v / 2] for t, v in self.before["jet.velocity"]])
        with self.assertRaises(study.StudyError):  # signed inline in DATA.DAT: the program skips it
            self.trials({"cases": [{"LEFT_AMBIENT.offset": -2000}]})

    def test_duration_cuts_or_stretches_and_keeps_the_cooling(self):
        docs = self.trials({"cases": [{"exposure.duration_s": 0.03}, {"exposure.duration_s": 0.08}]})
        for doc, end in zip(docs, (0.03, 0.08)):
            self.assertEqual(self.changed(doc), {"TIMESTEPS", "left_bc", "left_ambient", "jet.velocity"}, end)
            laid = [b for b in doc["blocks"] if b["table"] == "left_bc"][0]
            self.assertEqual([p[0] for p in laid["pairs"]], [0.0, end, end, round(0.2 + end - 0.05, 12)])
            records = laid["laid"]["values"]
            # As many records of cooling after the jet as in the template (0.05 s of 0.1 ms
            # steps); the record at the jump itself goes either way with the rounding of its time.
            self.assertEqual(doc["entries"][16]["value"], round((end + 0.05) / 1e-4))
            self.assertAlmostEqual(sum(v == 10.0 for v in records), sum(v == 10.0 for v in self.laid),
                                   delta=1)
            self.assertAlmostEqual(sum(v == 1.0 for v in records), round(end / 1e-4), delta=1)
            self.assertEqual(len(records), len(self.laid) + round((end - 0.05) / 1e-4))
        cut = values(docs[0])
        self.assertEqual(cut["left_ambient"][:2], [[0.0, 1000.0], [0.04, 1000.0]])
        self.assertEqual(cut["jet.velocity"][1], [0.04, 120.0])
        # A cut inside a ramp: the pairs past the new end move to it with the value there.
        (inside,) = self.trials({"cases": [{"exposure.duration_s": 0.1}], "exposure_end_s": 0.25})
        ambient = values(inside)["left_ambient"]
        self.assertEqual(ambient[:2], [[0.0, 1000.0], [0.06, 1000.0]])
        self.assertEqual(ambient[2][0], 0.1)
        self.assertAlmostEqual(ambient[2][1], 1000.0 - 400.0 * 0.04 / 0.14, places=9)
        self.assertAlmostEqual(values(inside)["jet.velocity"][2][1], 120.0 - 100.0 * 0.04 / 0.14, places=9)
        self.assertEqual(self.changed(inside), {"left_bc", "left_ambient", "jet.velocity"})

    def test_trial_keys(self):
        template = os.path.join(self.tmp, "jet.json")
        sys.path.insert(0, os.path.join(ROOT, "python"))
        from skinburn.scenarios import airbag_jet
        with open(template, "w") as f:
            json.dump(airbag_jet().to_dict(), f)
        self.template = template
        path = os.path.join(self.tmp, "d.json")
        with open(path, "w") as f:
            json.dump({"cases": [{"exposure.gas_temperature.scale": 1.2},
                                 {"skin.layers.0.thickness_m": 1e-4, "kinetics": "henriques-1947",
                                  "initial.surface": "33C", "grid.tolerance": 0.05,
                                  "exposure.standoff_ratio": 3}]}, f)
        desc = study.read_description(path)
        tmpl = study.load_template(template, None, desc)
        base = airbag_jet().to_dict()
        scaled = tmpl.trial_dict(1, desc.cases[0])
        gas = base["exposure"]["gas_temperature"]
        self.assertEqual(scaled["exposure"]["gas_temperature"],
                         {"times_s": gas["times_s"], "values_K": [1.2 * v for v in gas["values_K"]]})
        self.assertEqual({k: v for k, v in scaled.items() if k != "exposure"},
                         {k: v for k, v in base.items() if k != "exposure"})
        other = tmpl.trial_dict(2, desc.cases[1])
        self.assertEqual(other["skin"]["layers"][0]["thickness_m"], 1e-4)
        self.assertEqual(other["skin"]["layers"][1:], [dict(l.__dict__) for l in
                                                      study.skin_preset("torvi-dale").layers[1:]])
        self.assertEqual((other["kinetics"], other["initial"]["surface"], other["grid"]["tolerance"],
                          other["exposure"]["standoff_m"]),
                         ({"preset": "henriques-1947"}, {"K": 33 + 273.15}, 0.05, 0.03))
        self.assertEqual(other["initial"]["core"], base["initial"]["core"])
        with self.assertRaises(study.StudyError):
            tmpl.trial_dict(3, {"exposure.gas_temperature": 500})  # a temperature without its unit


class SearchPerCaseTest(unittest.TestCase):
    """A search per case gives the package's thresholds; a second run runs nothing."""

    def test_thresholds_match_the_package(self):
        sys.path.insert(0, os.path.join(ROOT, "python"))
        import skinburn as sb
        from skinburn.scenarios import flash_fire
        tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, tmp)
        trial = flash_fire(40e3, 2.0).replace("grid", sb.Grid(80e-6 / 1.5, 0.05)).replace(
            "after_exposure_s", 5.0)
        with open(os.path.join(tmp, "fire.json"), "w") as f:
            json.dump(trial.to_dict(), f)
        with open(os.path.join(tmp, "d.json"), "w") as f:
            json.dump({"title": "Time to a second-degree burn",
                       "grid": {"exposure.flux_W_m2": [40e3, 80e3]},
                       "search": {"vary": "exposure.duration_s", "range": [0.1, 10], "degree": 2}}, f)
        command = [sys.executable, os.path.join(HERE, "study.py"), "-j", "2", "--quiet", "--skinburn",
                   SKINBURN, "fire.json", "d.json", "st"]
        first = subprocess.run(command, cwd=tmp, capture_output=True, text=True)
        self.assertEqual(first.returncode, 0, first.stderr)
        with open(os.path.join(tmp, "st", "study.csv")) as f:
            rows = list(csv.DictReader(f))
        for row, flux in zip(rows, (40e3, 80e3)):
            hand = sb.search(trial.replace("exposure.flux_W_m2", flux), "exposure.duration_s", 0.1, 10,
                             degree=2, program=SKINBURN)
            self.assertEqual(row["threshold_duration_s"], "%.6g" % hand.value)
            self.assertEqual(row["runs"], str(hand.runs))
        again = subprocess.run(command, cwd=tmp, capture_output=True, text=True)
        self.assertIn("(0 run now, 2 already complete)", again.stdout)



class TrialTemplateTest(unittest.TestCase):
    """A study on a trial of the package: each row is the package's run and assessment by hand."""

    def test_rows_match_the_package(self):
        sys.path.insert(0, os.path.join(ROOT, "python"))
        import skinburn as sb
        from skinburn.scenarios import flash_fire
        tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, tmp)
        trial = flash_fire(40e3, 2.0).replace("grid", sb.Grid(80e-6 / 1.5, 0.05)).replace(
            "after_exposure_s", 5.0)
        with open(os.path.join(tmp, "fire.json"), "w") as f:
            json.dump(trial.to_dict(), f)
        with open(os.path.join(tmp, "d.json"), "w") as f:
            json.dump({"grid": {"exposure.duration_s": [0.5, 3.0],
                                "initial.surface": {"values": [32.5, 36], "unit": "C"}},
                       "kinetics": "henriques", "temperature_unit": "C"}, f)
        run = subprocess.run([sys.executable, os.path.join(HERE, "study.py"), "--quiet", "--skinburn", SKINBURN,
                              "fire.json", "d.json", "st"], cwd=tmp, capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(os.path.join(tmp, "st", "study.csv")) as f:
            rows = list(csv.DictReader(f))
        self.assertEqual([(r["exposure.duration_s"], r["initial.surface_C"]) for r in rows],
                         [("0.5", "32.5"), ("0.5", "36"), ("3", "32.5"), ("3", "36")])
        for row in rows:
            case = trial.replace("exposure.duration_s", float(row["exposure.duration_s"])).replace(
                "initial.surface", sb.celsius(float(row["initial.surface_C"])))
            res = sb.run(case, SKINBURN)
            a = sb.assess(res, kinetics=sb.HENRIQUES_1947)
            self.assertEqual((row["burn"], row["kinetics"]), (a.name, "Henriques 1947"))
            self.assertEqual(row["omega_epidermis_base"], "%.4g" % a.omega_epidermis_base)
            reached = a.depth_reached_m[1.0]
            self.assertEqual(row["depth_omega_1_um"], "no burn" if reached is None else "%.1f" % (reached * 1e6))
            self.assertEqual(row["peak_T_C"], "%.6g" % (res.peak_temperature_K[0] - 273.15))
        self.assertEqual(rows[0]["depth_omega_1_um"], "no burn")
        self.assertNotEqual(rows[3]["depth_omega_1_um"], "no burn")


if __name__ == "__main__":
    if shutil.which("parallel") is None:
        print("GNU parallel is not installed: skipped")
        sys.exit(77)
    unittest.main()
