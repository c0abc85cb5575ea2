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
        (inside,) = self.trials({"cases": [{"exposure.duration_s": 0.1}], "exposure_end_s": 0.25,
                                 "cooling_s": 0})
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
        self.assertEqual(other["skin"]["layers"][1:], [l.to_dict() for l in
                                                      study.skin_preset("torvi-dale").layers[1:]])
        self.assertEqual((other["kinetics"], other["initial"]["surface"], other["grid"]["tolerance"],
                          other["exposure"]["standoff_m"]),
                         ({"preset": "henriques-1947"}, {"K": 33 + 273.15}, 0.05, 0.03))
        self.assertEqual(other["initial"]["core"], base["initial"]["core"])
        with self.assertRaises(study.StudyError):
            tmpl.trial_dict(3, {"exposure.gas_temperature": 500})  # a temperature without its unit
        # The package's key language: a criterion depth from a layer follows it, a count stays whole,
        # a wrong key names the fields there.
        from skinburn.trial import trial_from_dict
        thick = trial_from_dict(tmpl.trial_dict(4, {"skin.layers.0.thickness_m": 1e-4,
                                                    "after_exposure_s.max_doublings": 3}))
        self.assertEqual((thick.skin.epidermis_base_m, thick.after_exposure_s.max_doublings), (1e-4, 3))
        with self.assertRaisesRegex(study.StudyError, "its fields: nozzle_diameter_m, standoff_m"):
            tmpl.trial_dict(5, {"exposure.nozzle": 0.01})


def laid(doc, table):
    """The values a time table laid on the run's records, as the program read the trial."""
    return [b for b in doc["blocks"] if b["table"] == table][0]["laid"]["values"]


class ExposureTest(unittest.TestCase):
    """exposure.duration_s on a data directory: the exposure cut or held at its end by pairs inserted
    there (the count words follow), what came after shifted unchanged; a jet with no time after it
    takes the description's after_jet. Read back with --check=json from the written trials."""

    setUp = KeysTest.setUp
    trials = KeysTest.trials
    changed = KeysTest.changed

    def test_a_ramp_across_the_end_keeps_its_shape_and_what_follows_is_shifted(self):
        # The gas temperature and velocity ramp down across 0.1 s, where no pair stands.
        template = check_json(self.template)
        separate = os.path.join(self.tmp, "separate")  # LEFT_AMBIENT in LEFTAMB.DAT
        shutil.copytree(self.template, separate)
        data = read(separate, "DATA.DAT")
        block = "! LEFT_AMBIENT\n3 pairs\n0.0 1000.0\n0.06 1000.0\n0.2 600.0\n"
        self.assertIn(block, data)
        with open(os.path.join(separate, "DATA.DAT"), "w") as f:
            f.write(data.replace(block, "! LEFT_AMBIENT\n0 file\n"))
        with open(os.path.join(separate, "LEFTAMB.DAT"), "w") as f:
            f.write("Gas temperature\nData pairs: 3\n0.0 1000.0\n0.06 1000.0\n0.2 600.0\nEND\n")
        for where in (self.template, separate):
            self.template = where
            stretched, cut = self.trials({"cases": [{"exposure.duration_s": 0.15}, {"exposure.duration_s": 0.07}],
                                          "exposure_end_s": 0.1, "cooling_s": 0.05})
            for doc, end in ((stretched, 0.15), (cut, 0.07)):
                self.assertTrue(doc["would_start"], (where, doc["error"]))
                self.assertEqual(doc["entries"][16]["value"], round((end + 0.05) / 1e-4))
                ambient = values(doc)["left_ambient"]
                ramp = 1000.0 - 400.0 * (min(end, 0.1) - 0.06) / 0.14
                self.assertEqual(ambient[:2], [[0.0, 1000.0], [0.06, 1000.0]])
                self.assertAlmostEqual(ambient[2][1], ramp, places=9)
                self.assertEqual(ambient[-1], [round(0.2 + end - 0.1, 12), 600.0])
                self.assertEqual(len(ambient), 5)
                block = [b for b in doc["blocks"] if b["table"] == "left_ambient"][0]
                count = block["count"] if block["source"] == "DATA.DAT" else block["file_count"]
                self.assertEqual((block["pairs_read"], count["text"]), (5, "5"))
                self.assertEqual(doc["jet"]["velocity_count"]["text"], "5")
                self.assertEqual(len(doc["jet"]["velocity_pairs"]), 5)
                # Record by record as the program lays them: the same up to the new end (or the old
                # one), then the template's from the old end on, shifted.
                shift = round((end - 0.1) / 1e-4)
                for table in ("left_ambient", "left_bc"):
                    old, new = laid(template, table), laid(doc, table)
                    head = round(min(end, 0.1) / 1e-4)
                    for k in range(head):  # on the template's lines (to rounding: a shorter segment)
                        self.assertAlmostEqual(new[k], old[k], places=9, msg=(table, k))
                    for k in range(1001, len(old)):
                        if k + shift < len(new):
                            self.assertAlmostEqual(new[k + shift], old[k], places=9, msg=(table, k))
                if end > 0.1:  # held at the value reached at the old end
                    held = laid(doc, "left_ambient")[1000:1000 + shift]
                    self.assertTrue(all(abs(v - ramp) < 1e-9 for v in held))
            self.assertEqual(values(stretched)["left_bc"], [[0.0, 1.0], [0.05, 1.0], [0.05, 10.0], [0.25, 10.0]])

    def test_a_jet_to_the_end_of_its_list_takes_the_cooling_the_description_gives(self):
        shutil.copy(os.path.join(ROOT, "examples", "airbag-jet", "LEFTIMP.DAT"), self.template)
        with self.assertRaisesRegex(study.StudyError, "after_jet"):
            self.trials({"cases": [{"exposure.duration_s": 0.03}]})
        short, long_ = self.trials({"cases": [{"exposure.duration_s": 0.03}, {"exposure.duration_s": 0.3}],
                                    "after_jet": {"h_W_m2K": 10, "ambient_K": 300}, "cooling_s": 0.2})
        for doc, end in ((short, 0.03), (long_, 0.3)):
            self.assertTrue(doc["would_start"], doc["error"])
            steps = doc["entries"][16]["value"]
            self.assertEqual(steps, round((end + 0.2) / 1e-4))
            after = round(steps * 1e-4 * 1.001, 12)
            self.assertEqual(values(doc)["left_bc"], [[0.0, 1.0], [end, 1.0], [end, 10.0], [after, 10.0]])
            ambient = values(doc)["left_ambient"]
            self.assertEqual(ambient[-2:], [[end, 300.0], [after, 300.0]])
            self.assertEqual(doc["jet"]["boundary_count"]["text"], "4")
            self.assertEqual(self.changed(doc), {"TIMESTEPS", "left_bc", "left_ambient", "jet.velocity",
                                                 "right_bc", "right_ambient"})
            records = laid(doc, "left_bc")
            self.assertAlmostEqual(sum(v == 1.0 for v in records), round(end / 1e-4), delta=1)
        self.assertEqual(values(short)["left_ambient"][:3], [[0.0, 1000.0], [0.03, 1000.0], [0.03, 300.0]])
        # The template's exposure (its whole 0.1 s run) held at its end to 0.3 s.
        held = 1000.0 - 400.0 * 0.04 / 0.14
        ambient = values(long_)["left_ambient"]
        self.assertEqual([p[0] for p in ambient[:4]], [0.0, 0.06, 0.1, 0.3])
        self.assertEqual(ambient[:2], [[0.0, 1000.0], [0.06, 1000.0]])
        self.assertAlmostEqual(ambient[2][1], held, places=9)
        self.assertEqual(ambient[3][1], ambient[2][1])


class SettleCoolingTest(unittest.TestCase):
    """A duration case on a data directory runs on after the exposure until the damage stops growing."""

    setUp = KeysTest.setUp

    def test_the_time_after_the_exposure_doubles_until_the_damage_stops_growing(self):
        sys.path.insert(0, os.path.join(ROOT, "python"))
        from skinburn.results import Results
        from skinburn.runs import cooling_growth
        with open(os.path.join(self.tmp, "d.json"), "w") as f:
            json.dump({"cases": [{"exposure.duration_s": 0.04}], "skin": "torvi-dale", "kinetics": "henriques",
                       "cooling_s": {"start_s": 0.005, "tolerance": 0.01}}, f)
        run = subprocess.run([sys.executable, os.path.join(HERE, "study.py"), "--quiet", "--skinburn", SKINBURN,
                              "template", "d.json", "st"], cwd=self.tmp, capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        case = os.path.join(self.tmp, "st", "t001")
        with open(os.path.join(case, "settlement.json")) as f:
            how = json.load(f)
        afters = [s["after_exposure_s"] for s in how["steps"]]
        growths = [s["growth"] for s in how["steps"]]
        self.assertGreater(len(afters), 2)
        self.assertEqual(afters, [0.005 * 2 ** k for k in range(len(afters))])
        self.assertTrue(growths[-1] <= 0.01 < min(growths[:-1]), growths)
        # The case's files are the trial last run: TIMESTEPS, every time table reaching the end.
        doc = check_json(case)
        self.assertTrue(doc["would_start"], doc["error"])
        steps = doc["entries"][16]["value"]
        self.assertEqual(steps, round((0.04 + afters[-1]) / 1e-4))
        self.assertEqual(values(doc)["left_bc"][:3], [[0.0, 1.0], [0.04, 1.0], [0.04, 10.0]])
        with open(os.path.join(case, "results.json")) as f:
            res = Results(json.load(f), os.path.join(case, "results"))
        self.assertEqual(res.rows, steps + 1)
        self.assertEqual(cooling_growth(res, study.skin_preset("torvi-dale"), study.kinetics_preset("henriques")),
                         growths[-1])
        self.assertEqual(read(case, "OUTPUT.TXT").count("TRIAL:"), 1)
        with open(os.path.join(self.tmp, "st", "study.csv")) as f:
            (row,) = list(csv.DictReader(f))
        self.assertEqual((row["status"], row["error"]), ("0", ""))


class FailedRowsTest(unittest.TestCase):
    """A case the package refuses is a failed row with its message; a search that brackets nothing
    counts as failed."""

    def setUp(self):
        sys.path.insert(0, os.path.join(ROOT, "python"))
        import skinburn as sb
        from skinburn.scenarios import flash_fire
        self.tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.tmp)
        self.fire = flash_fire(40e3, 2.0).replace("grid", sb.Grid(80e-6 / 1.5, 0.05)).replace(
            "after_exposure_s", 5.0)
        from skinburn.scenarios import airbag_jet
        self.jet = airbag_jet().replace("grid", sb.Grid(1e-4 / 1.5, 0.002)).replace("after_exposure_s", 0.2)
        for name, trial in (("fire.json", self.fire), ("jet.json", self.jet)):
            with open(os.path.join(self.tmp, name), "w") as f:
                json.dump(trial.to_dict(), f)

    def study(self, template, description):
        with open(os.path.join(self.tmp, "d.json"), "w") as f:
            json.dump(description, f)
        out = subprocess.run([sys.executable, os.path.join(HERE, "study.py"), "--skinburn", SKINBURN, template,
                              "d.json", "st"], cwd=self.tmp, capture_output=True, text=True)
        with open(os.path.join(self.tmp, "st", "study.csv")) as f:
            return out, list(csv.DictReader(f))

    def test_a_refused_case_is_a_failed_row(self):
        out, rows = self.study("jet.json", {"grid": {"exposure.standoff_ratio": [4, 30]}})
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("2 trials (1 run now, 0 already complete, 1 refused by the package), 1 failed", out.stdout)
        self.assertEqual([r["status"] for r in rows], ["0", "refused"])
        self.assertRegex(rows[1]["error"], r"^refused by the package: (exposure.standoff_ratio: )?the stand-off is 30 nozzle diameters")
        self.assertEqual(rows[1]["burn"], "")
        again, rows_again = self.study("jet.json", {"grid": {"exposure.standoff_ratio": [4, 30]}})
        self.assertIn("(0 run now, 1 already complete, 1 refused by the package), 1 failed", again.stdout)
        self.assertEqual(rows_again, rows)
        # A faulty description still stops the study before anything runs.
        bad, _ = self.study("jet.json", {"grid": {"exposure.gas_temperature": [500]}})
        self.assertEqual(bad.returncode, 2)

    def test_an_unbracketed_search_counts_as_failed(self):
        out, rows = self.study("fire.json", {"grid": {"exposure.flux_W_m2": [40e3, 1e3]},
                                             "search": {"vary": "exposure.duration_s", "range": [0.1, 2],
                                                        "degree": 2}})
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual([r["threshold_duration_s"] != "not bracketed" for r in rows], [True, False])
        self.assertEqual([r["status"] for r in rows], ["0", "0"])
        self.assertRegex(rows[1]["error"], "^BracketError")
        self.assertIn("2 trials (2 run now, 0 already complete), 1 failed", out.stdout)
        self.assertIn("study: 2/2 trials done, 1 failed", out.stderr)
        again, _ = self.study("fire.json", {"grid": {"exposure.flux_W_m2": [40e3, 1e3]},
                                            "search": {"vary": "exposure.duration_s", "range": [0.1, 2],
                                                       "degree": 2}})
        self.assertIn("(0 run now, 2 already complete), 1 failed", again.stdout)


    def test_a_history_with_no_physical_temperatures_is_a_failed_row_and_the_csv_is_whole(self):
        out, rows = self.study("fire.json", {"grid": {"exposure.flux_W_m2": [40e3, -1e8, 30e3]}})
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("3 trials (3 run now, 0 already complete), 1 failed", out.stdout)
        self.assertEqual([r["burn"] for r in rows], ["second-degree burn", "not judged", "second-degree burn"])
        self.assertRegex(rows[1]["error"], r"^NonFiniteHistory: the temperature history falls to or below "
                                           r"absolute zero")
        # A study that fails while it writes its CSV leaves the last one whole; another study
        # on the same directory is refused while the first holds it.
        path = os.path.join(self.tmp, "st", "study.csv")
        before = read(path)
        real = study.summarize

        def failing(*args):
            if args[-1] == 2:
                raise OSError(28, "No space left on device")
            return real(*args)
        cwd = os.getcwd()
        os.chdir(self.tmp)
        self.addCleanup(os.chdir, cwd)
        try:
            study.summarize = failing
            with self.assertRaises(OSError):
                study.main(["--quiet", "--skinburn", SKINBURN, "fire.json", "d.json", "st"])
        finally:
            study.summarize = real
        self.assertEqual(read(path), before)
        self.assertEqual([n for n in os.listdir(os.path.join(self.tmp, "st")) if n.endswith(".tmp")], [])
        from skinburn.program import exclusive
        with exclusive(os.path.join(self.tmp, "st"), "run"):
            busy = subprocess.run([sys.executable, os.path.join(HERE, "study.py"), "--skinburn", SKINBURN,
                                   "fire.json", "d.json", "st"], cwd=self.tmp, capture_output=True, text=True)
        self.assertEqual(busy.returncode, 2)
        self.assertRegex(busy.stderr, r"^study: st is in use by another study of skinburn")
        self.assertEqual(read(path), before)

    def test_the_programs_depths_of_a_band_inside_the_model(self):
        # The program says "Omega<1 for all nodes." from its first and last nodes; a band
        # inside that passes 1 keeps its crossings.
        band = [{"depth_m": 40e-6}, {"depth_m": 90e-6}]
        self.assertEqual(study.program_cells({"outcome": "all-below", "crossings": band})["program_depth_um"],
                         "40.0;90.0")
        self.assertEqual(study.program_cells({"outcome": "all-below", "crossings": []})["program_depth_um"],
                         "no burn")
        self.assertEqual(study.program_cells({"outcome": "all-above", "crossings": band[:1] * 2})
                         ["program_depth_um"], "40.0;40.0")


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
            self.assertEqual(row["uncertainty_duration_s"], "")  # a grid given: no estimate of its error
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


class PerCaseTest(unittest.TestCase):
    """Each case carries its own title; a data-directory case may choose its own kinetics (and skin), its row
    and its figures judged under them."""

    def setUp(self):
        sys.path.insert(0, os.path.join(ROOT, "python"))
        self.tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.tmp)

    def prepared(self, template, description):
        path = os.path.join(self.tmp, "d.json")
        with open(path, "w") as f:
            json.dump(description, f)
        desc = study.read_description(path)
        tmpl = study.load_template(template, study.Program.find(SKINBURN), desc)
        names, _ = study.prepare(tmpl, desc, os.path.join(self.tmp, "st"), True)
        return [os.path.join(self.tmp, "st", n) for n in names]

    def test_trial_cases_carry_their_own_titles(self):
        from skinburn.scenarios import flash_fire
        template = os.path.join(self.tmp, "fire.json")
        with open(template, "w") as f:
            json.dump(flash_fire(84e3, 2.0).to_dict(), f)
        titles = []
        for description in ({"grid": {"exposure.flux_W_m2": [20e3, 40e3]}},
                            {"title": "Fire study", "cases": [{"exposure.flux_W_m2": 20e3, "kinetics": "henriques"},
                                                              {"exposure.flux_W_m2": 30e3, "title": "Mine"}]}):
            for case in self.prepared(template, description):
                with open(os.path.join(case, "trial.json")) as f:
                    titles.append(json.load(f)["title"])
        self.assertEqual(titles, [
            "exposure.flux_W_m2 = 20000; case 1 of a study of 'Flash fire 84 kW/m2 for 2 s'",
            "exposure.flux_W_m2 = 40000; case 2 of a study of 'Flash fire 84 kW/m2 for 2 s'",
            "exposure.flux_W_m2 = 20000, kinetics = henriques; case 1 of Fire study",
            "Mine"])

    def test_a_data_directory_case_chooses_its_kinetics(self):
        import skinburn as sb
        from skinburn.results import Results
        template = os.path.join(self.tmp, "template")
        shutil.copytree(os.path.join(ROOT, "examples", "airbag-jet"), template,
                        ignore=shutil.ignore_patterns("expected"))
        description = {"title": "Judged two ways", "skin": "uniform",
                       "cases": [{"kinetics": "weaver-stoll"}, {"kinetics": "henriques", "skin": "torvi-dale"},
                                 {"jet.velocity.scale": 1.0}]}
        cases = self.prepared(template, description)
        # The kinetics and the skin change no input file.
        read_back = [values(check_json(c)) for c in cases]
        for doc in read_back:
            doc.pop("TRIAL")
        self.assertEqual(read_back, [read_back[0]] * 3)
        with open(os.path.join(self.tmp, "d.json"), "w") as f:
            json.dump(description, f)
        run = subprocess.run([sys.executable, os.path.join(HERE, "study.py"), "--quiet", "--skinburn", SKINBURN,
                              "template", "d.json", "st"], cwd=self.tmp, capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(os.path.join(self.tmp, "st", "study.csv")) as f:
            header = f.readline().rstrip("\n").split(",")
            f.seek(0)
            rows = list(csv.DictReader(f))
        self.assertEqual((header[1], header.count("kinetics")), ("kinetics_preset", 1))
        with open(os.path.join(cases[0], "results.json")) as f:
            res = Results(json.load(f), os.path.join(cases[0], "results"))
        judged = [(sb.UNIFORM_DERMIS, sb.WEAVER_STOLL_1969), (sb.TORVI_DALE_1994, sb.HENRIQUES_1947),
                  (sb.UNIFORM_DERMIS, res.program_kinetics)]
        for row, case, (skin, kin) in zip(rows, cases, judged):
            a = sb.assess(res, skin, kin)
            self.assertEqual((row["kinetics"], row["omega_epidermis_base"], row["depth_omega_1_um"]),
                             (a.kinetics.name, "%.4g" % a.omega_epidermis_base, "%.1f" % (a.depth_reached_m[1.0] * 1e6)))
            with open(os.path.join(case, "case.json")) as f:
                doc = json.load(f)
            self.assertEqual((doc["kinetics_name"], doc["skin"]), (kin.name if kin.key else None,
                                                                   {"preset": skin.key}))
        self.assertNotEqual(rows[0]["depth_omega_1_um"], rows[1]["depth_omega_1_um"])
        self.assertEqual(rows[2]["kinetics_preset"], "")
        with open(os.path.join(cases[1], "case.json")) as f:
            self.assertEqual(json.load(f)["title"], "kinetics = henriques, skin = torvi-dale; case 2 of Judged two ways")
        # The case's figures draw Omega under the case's kinetics, and say so.
        sys.path.insert(0, os.path.join(ROOT, "tools", "plot"))
        import matplotlib
        matplotlib.use("Agg")
        from plot_output import results_figures
        figures = results_figures(os.path.join(cases[1], "results"), "um")
        (mark,) = [l for l in figures["profiles"].axes[0].get_lines() if l.get_label().startswith("Omega = 1")]
        self.assertAlmostEqual(mark.get_xdata()[0], float(rows[1]["depth_omega_1_um"]), delta=0.05)
        self.assertIn("(Henriques 1947)", mark.get_label())
        # A settling case keeps its own kinetics; a kinetics no preset names stops the study before it runs.
        (settled,) = self.prepared(template, {"cases": [{"kinetics": "henriques", "exposure.duration_s": 0.05}],
                                              "after_jet": {"h_W_m2K": 10, "ambient_K": 300}})
        with open(os.path.join(settled, study.SETTLE)) as f:
            self.assertEqual((json.load(f)["kinetics"]), "henriques")
        with self.assertRaisesRegex(study.StudyError, "unknown kinetics 'nonsense'"):
            self.prepared(template, {"cases": [{"kinetics": "nonsense"}]})
        # A model per degree, as the command line writes it or as JSON; a degree that is none is refused.
        from skinburn.criteria import KineticsByDegree
        both = KineticsByDegree(second=sb.WEAVER_STOLL_1969, third=sb.HENRIQUES_1947)
        self.assertEqual(study.kinetics_of("2=weaver-stoll,3=henriques"), both)
        self.assertEqual(study.kinetics_of(both.to_dict()), both)
        with self.assertRaisesRegex(study.StudyError, "kinetics: kinetics '5=henriques'.*degree of 1, 2, 3"):
            self.prepared(template, {"cases": [{"kinetics": "5=henriques"}]})


if __name__ == "__main__":
    if shutil.which("parallel") is None:
        print("GNU parallel is not installed: skipped")
        sys.exit(77)
    unittest.main()
