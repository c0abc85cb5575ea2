"""Tests of the OUTPUT.TXT reader (standard library only) and of the figures
(matplotlib), on the golden outputs of examples/: among them the epidermis and
dermis bases on every depth figure."""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "..", "examples")
sys.path.insert(0, HERE)
from output_parser import parse_output  # noqa: E402


def golden(name):
    with open(os.path.join(EXAMPLES, name, "expected", "OUTPUT.TXT"), "rb") as stream:
        return stream.read().decode("latin-1")


# What each example's DATA.DAT asks for: TRIAL, layout, nodes, steps,
# Omega lines, and the figures that follow from them.
EXPECTED = {
    "airbag-jet": (1, "every-step", 41, 1000, [], [0.0001], {"profiles", "map"}),
    "convection": (2, "history", 41, 200, [(1, 29.399810720837)], [0.000197], {"history"}),
    "flux-cooling": (3, "profile", 101, 0, [], [0.000149], {"profiles"}),
    "hot-liquid": (4, "history", 0, 100, [(2, 2.451622800173)], [0.000284], {"history"}),
}


class ParserTest(unittest.TestCase):
    def test_golden_outputs(self):
        for name, (number, layout, nodes, steps, omegas, depths, _) in EXPECTED.items():
            with self.subTest(example=name):
                trials = parse_output(golden(name))
                self.assertEqual(len(trials), 1)
                t = trials[0]
                self.assertEqual((t.index, t.number, t.date, t.executed_by), (1, number, "12/07/26", "SKB"))
                self.assertEqual((t.layout, t.node_count, t.step_count), (layout, nodes, steps))
                self.assertEqual(t.omega_nodes, omegas)
                self.assertEqual(t.omega_depths, depths)

    def test_every_step_profiles_are_whole_and_in_order(self):
        t = parse_output(golden("airbag-jet"))[0]
        self.assertEqual(t.hbar_duration, 0.06)
        self.assertEqual(t.initial.temperatures, [310.0] * 41)
        for step, profile in enumerate(t.profiles, start=1):
            self.assertAlmostEqual(profile.time, step * 0.0001, places=9)
            self.assertEqual(profile.nodes, list(range(1, 42)))
        self.assertAlmostEqual(t.profiles[-1].depths[-1], 0.0008)
        times, depths, rows = t.temperature_grid()
        self.assertEqual((len(times), len(depths), len(rows[0])), (1000, 41, 41))
        self.assertEqual(rows[-1][-1], 310.0)  # node 41 is held at 310 K
        self.assertGreater(rows[-1][0], rows[0][0])  # the jet heats the face

    def test_history_and_amatrix(self):
        t = parse_output(golden("convection"))[0]
        h = t.history
        self.assertEqual((h.node, h.depth, h.steps[0], h.steps[-1]), (1, 0.0, 1, 200))
        self.assertEqual((h.times[0], h.times[-1]), (0.01, 2.0))
        self.assertEqual((h.temperatures[0], h.temperatures[-1]), (311.8, 352.8))
        a = t.amatrix
        self.assertEqual(len(a.lower), 41)
        self.assertEqual((a.lower[0], a.upper[-1]), (None, None))  # rows 1 and NODES
        self.assertEqual((a.lower[1], a.middle[1], a.upper[1]), (-0.102777777778, 1.205555555556, -0.102777777778))
        self.assertEqual(parse_output(golden("hot-liquid"))[0].history.depth, 0.0001)

    def test_single_profile(self):
        t = parse_output(golden("flux-cooling"))[0]
        (p,) = t.profiles
        self.assertEqual((p.time, p.nodes[-1], p.depths[-1]), (3.0, 101, 0.002))
        self.assertEqual((p.temperatures[0], t.initial.temperatures[0]), (360.9, 306.0))

    def test_concatenated_trials_and_line_ends(self):
        # A run stopped by an error leaves its header alone in the file.
        stopped = "\r\n\r\nTRIAL:    9    Execution Date: 01/01/26    Executed By:    ABC\r\n"
        text = golden("hot-liquid") + stopped + golden("convection")
        trials = parse_output(text)
        self.assertEqual([(t.index, t.number, t.layout) for t in trials],
                         [(1, 4, "history"), (2, 9, None), (3, 2, "history")])
        self.assertEqual(trials[1].step_count, 0)
        self.assertEqual(trials[2].omega_nodes, [(1, 29.399810720837)])
        self.assertEqual(trials[0].omega_depths, [0.000284])  # not carried over
        lf_only = parse_output(text.replace("\r\n", "\n"))
        self.assertEqual(lf_only, trials)

    def test_lines_the_examples_lack(self):
        self.assertEqual(parse_output("Omega = 1 at depth   0.000100 (m)\r\n"), [])  # no trial
        text = ("\r\n\r\nTRIAL:   12    Execution Date: 06/01/98    Executed By:    ABC\r\n"
                "\nNode    Depth           T(K) @ time    0.50000 sec\n"
                "  1     0.0000000         -nan\r\n  2     0.0001000        inf\r\n"
                "Omega at node 3 =       0.500000000000\r\nOmega = 1 at depth 0.000350 (m)\r\n")
        (t,) = parse_output(text)
        self.assertEqual((t.layout, t.node_count, t.profiles[0].time), ("profile", 2, 0.5))
        self.assertNotEqual(t.profiles[0].temperatures[0], t.profiles[0].temperatures[0])  # NaN
        self.assertEqual((t.omega_nodes, t.omega_depths), ([(3, 0.5)], [0.00035]))


def png_size(path):
    """(width, height) from the IHDR chunk of a PNG, or None."""
    with open(path, "rb") as stream:
        head = stream.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


class RenderTest(unittest.TestCase):
    def plot(self, output_txt, outdir):
        script = os.path.join(HERE, "plot_output.py")
        run = subprocess.run([sys.executable, script, output_txt, "-o", outdir],
                             capture_output=True, text=True, timeout=300)
        self.assertEqual(run.returncode, 0, run.stderr)
        return run.stdout.split()

    def check_png(self, path):
        self.assertGreater(os.path.getsize(path), 5000, path)
        size = png_size(path)
        self.assertIsNotNone(size, path)
        self.assertTrue(300 <= size[0] <= 4000 and 200 <= size[1] <= 4000, (path, size))

    def test_each_example(self):
        with tempfile.TemporaryDirectory() as tmp:
            for name, expected in EXPECTED.items():
                with self.subTest(example=name):
                    outdir = os.path.join(tmp, name)
                    written = self.plot(os.path.join(EXAMPLES, name, "expected", "OUTPUT.TXT"), outdir)
                    prefix = "01-trial%d-" % expected[0]
                    kinds = {os.path.basename(p)[len(prefix):-4] for p in written}
                    self.assertEqual(kinds, expected[-1])
                    self.assertEqual(sorted(written), sorted(os.path.join(outdir, f) for f in os.listdir(outdir)))
                    for path in written:
                        self.check_png(path)

    @staticmethod
    def first_axes(*draws):
        """The first axes of each figure the ``draws`` (callables of plot_output) make, kept, not saved."""
        import plot_output

        shown = []
        saved = plot_output._save
        plot_output._save = lambda figure, path: shown.append(figure) or path
        try:
            for draw in draws:
                draw(plot_output)
        finally:
            plot_output._save = saved
        return [f.axes[0] for f in shown]

    def test_the_reports_omega_is_named_the_programs(self):
        import matplotlib.pyplot as plt

        history, profiles = self.first_axes(
            lambda p: p.plot_history(parse_output(golden("convection"))[0], "h.png"),
            lambda p: p.plot_profiles(parse_output(golden("flux-cooling"))[0], "p.png"))
        # Node 1's history gives no spacing: the depth stays as the report prints it, and says so.
        self.assertEqual(history.texts[0].get_text().splitlines(),
                         ["Omega at node 1 = 29.3998 (the program's constants)",
                          "Omega = 1 at 197.0 µm as printed, one spacing deeper than the node "
                          "(the program's constants)"])
        self.assertIn("Omega = 1 at 129.0 µm (the program's constants)", [l.get_label() for l in profiles.get_lines()])
        plt.close("all")

    def test_depth_figures_mark_the_epidermis_and_dermis_bases(self):
        import matplotlib.pyplot as plt

        profiles, omap = self.first_axes(
            lambda p: p.plot_profiles(parse_output(golden("flux-cooling"))[0], "p.png"),
            lambda p: p.plot_map(parse_output(golden("airbag-jet"))[0], "m.png"))
        skin = "(criterion depths of uniform (Torvi-Dale dermis) on the run's own material)"
        for ax, across, deepest in ((profiles, False, "2 mm"), (omap, True, "0.8 mm")):
            bases = {l.get_label(): l for l in ax.get_lines() if "base" in l.get_label()}
            self.assertEqual(sorted(bases), ["dermis base, 2.08 mm %s: below the model's %s" % (skin, deepest),
                                             "epidermis base, 0.08 mm %s" % skin])
            epidermis = bases["epidermis base, 0.08 mm %s" % skin]
            self.assertEqual(list(epidermis.get_ydata() if across else epidermis.get_xdata()), [0.08, 0.08])
            self.assertIn(epidermis.get_label(), [t.get_text() for t in ax.get_legend().get_texts()])
        plt.close("all")

    def test_omega_depth_is_drawn_at_the_node(self):
        from plot_output import _true_depths
        # The report prints node i at i*DELTAX; the node lies at (i-1)*DELTAX.
        self.assertAlmostEqual(_true_depths(parse_output(golden("airbag-jet"))[0])[0], 0.00008)
        self.assertAlmostEqual(_true_depths(parse_output(golden("flux-cooling"))[0])[0], 0.000129)
        self.assertAlmostEqual(_true_depths(parse_output(golden("hot-liquid"))[0])[0], 0.000184)  # node 2's depth

    def test_two_trials_and_an_unreadable_file(self):
        with tempfile.TemporaryDirectory() as tmp:
            both = os.path.join(tmp, "OUTPUT.TXT")
            with open(both, "w", newline="") as stream:
                stream.write(golden("hot-liquid") + golden("flux-cooling"))
            written = [os.path.basename(p) for p in self.plot(both, os.path.join(tmp, "out"))]
            self.assertEqual(written, ["01-trial4-history.png", "02-trial3-profiles.png"])
            script = os.path.join(HERE, "plot_output.py")
            run = subprocess.run([sys.executable, script, os.path.join(tmp, "none.txt"), "-o", tmp],
                                 capture_output=True, text=True, timeout=60)
            self.assertEqual(run.returncode, 1)
            self.assertIn("cannot read", run.stderr)



SKINBURN = os.environ.get("SKINBURN", os.path.join(HERE, "..", "..", "build", "default", "skinburn"))


@unittest.skipUnless(os.access(SKINBURN, os.X_OK), "no skinburn binary")
def legend_texts(fig):
    """The entries of the legend below a figure's axes."""
    return [t.get_text() for t in fig.axes[0].get_legend().get_texts()]


class ResultsRenderTest(unittest.TestCase):
    """Figures from the full-precision history of --results."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp()
        import shutil
        shutil.copytree(os.path.join(EXAMPLES, "airbag-jet"), os.path.join(cls.tmp, "a"),
                        ignore=shutil.ignore_patterns("expected"))
        subprocess.run([SKINBURN, "--results", "r", "a/"], cwd=cls.tmp, stdin=subprocess.DEVNULL,
                       capture_output=True, check=True)
        cls.prefix = os.path.join(cls.tmp, "r")

    @classmethod
    def tearDownClass(cls):
        import shutil
        shutil.rmtree(cls.tmp)

    def test_axes_units_and_true_depth(self):
        import numpy as np
        from plot_output import results_figures
        figures = results_figures(self.prefix, "um", "C")
        history, profiles, omap = (figures[k].axes[0] for k in ("history", "profiles", "map"))
        self.assertEqual((history.get_xlabel(), history.get_ylabel()), ("Time (s)", "Temperature (°C)"))
        self.assertEqual((profiles.get_xlabel(), omap.get_ylabel()), ("Depth (µm)", "Depth (µm)"))
        # The history as the program computed it, not rounded to 0.1 K.
        drawn = history.get_lines()[0].get_ydata()
        self.assertEqual(len(drawn), 1001)
        self.assertTrue(np.any(np.abs(drawn * 10 - np.round(drawn * 10)) > 1e-3))
        # Omega = 1 at the true depth (79.8 um), not where the report prints it (100 um).
        mark = [l for l in profiles.get_lines() if l.get_label().startswith("Omega = 1")][0]
        self.assertAlmostEqual(mark.get_xdata()[0], 79.82, places=1)
        self.assertIn("µm", mark.get_label())
        for fig in figures.values():
            import matplotlib.pyplot as plt
            plt.close(fig)

    def test_depth_figures_mark_the_skins_bases(self):
        import matplotlib.pyplot as plt
        from plot_output import results_figures, skin_of

        def bases(figures):
            found = {}
            for kind, ax in (("profiles", figures["profiles"].axes[0]), ("map", figures["map"].axes[0])):
                data = {l.get_label(): list(l.get_ydata() if kind == "map" else l.get_xdata())
                        for l in ax.get_lines() if "base" in l.get_label()}
                found[kind] = data
            for fig in figures.values():
                plt.close(fig)
            return found

        # The model reaches 800 um: the epidermis base drawn at 80 um, the dermis base named below the model.
        # A data directory keeps its own material: the skin gives the depths alone, and the legend says so.
        skin = "criterion depths of uniform (Torvi-Dale dermis) on the run's own material"
        expected = {"epidermis base, 80 µm (%s)" % skin: [80.0, 80.0],
                    "dermis base, 2080 µm (%s): below the model's 800 µm" % skin: []}
        self.assertEqual(bases(results_figures(self.prefix, "um")), {"profiles": expected, "map": expected})
        named = bases(results_figures(self.prefix, "mm", "K", None, skin_of("torvi-dale")))["profiles"]
        self.assertIn("epidermis base, 0.08 mm (criterion depths of Torvi-Dale 1994 on the run's own material)",
                      named)

    def test_omega_is_drawn_under_one_kinetics_and_named(self):
        import json
        import shutil

        import matplotlib.pyplot as plt
        from plot_output import results_figures

        sys.path.insert(0, os.path.join(HERE, "..", "..", "python"))
        import skinburn as sb

        def marks(figures):
            lines = [l for l in figures["profiles"].axes[0].get_lines() if l.get_label().startswith("Omega = 1")]
            notes = [t.get_text() for t in figures["history"].axes[0].texts]
            title = figures["map"].axes[0].get_title()
            for fig in figures.values():
                plt.close(fig)
            return [(l.get_xdata()[0], l.get_label()) for l in lines], notes, title

        # By default the program's Omega, its constants named (the example's are the program's defaults).
        (program,), notes, _ = marks(results_figures(self.prefix, "um"))
        self.assertAlmostEqual(program[0], 79.82, places=1)
        self.assertIn("the program's constants: skinburn default", program[1])
        self.assertRegex(notes[0], r"^Omega at node 1 = \S+ \(the program's constants: skinburn default\)$")
        # Under Weaver-Stoll: the depth the package's assessment gives, and only that one.
        with open(self.prefix + ".json") as f:
            res = sb.Results(json.load(f), self.prefix)
        depth = sb.assess(res, sb.UNIFORM_DERMIS, sb.WEAVER_STOLL_1969).depth_reached_m[1.0]
        omega = float(res.omega(sb.WEAVER_STOLL_1969, [1])[0])
        (ws,), notes, _ = marks(results_figures(self.prefix, "um", "K", sb.WEAVER_STOLL_1969))
        self.assertAlmostEqual(ws[0], depth * 1e6, places=6)
        self.assertGreater(ws[0] - program[0], 10)
        # The example's 0.1 s ends while the damage still grows: the depth drawn is the one at the
        # run's end, and the line and a note say so.
        self.assertEqual(ws[1], "Omega = 1 at %.4g µm (Weaver-Stoll 1969), at the run's end, still growing"
                         % (depth * 1e6))
        self.assertEqual(notes, ["Omega at node 1 = %.6g (Weaver-Stoll 1969)" % omega])
        figures = results_figures(self.prefix, "um", "K", sb.WEAVER_STOLL_1969)
        for kind in ("profiles", "map"):
            self.assertRegex(legend_texts(figures[kind])[-1], r"^The damage still grew at the run's end \(a "
                             r"change of \S+ over its last quarter, above 0.01\): the burn goes deeper")
        marks(figures)
        # A kinetics under which Omega reaches 1 nowhere says so instead of drawing nothing.
        figures = results_figures(self.prefix, "um", "K", sb.Kinetics.arrhenius(1.0, 1e6, 8.314, name="cold"))
        self.assertEqual(legend_texts(figures["profiles"])[-1], "Omega reaches 1 nowhere (cold)")
        self.assertEqual(marks(figures)[0], [])
        # A study case: its case.json gives the title and the kinetics its row was judged under.
        case = os.path.join(self.tmp, "st", "t002")
        os.makedirs(case)
        for ext in (".json", ".npy"):
            shutil.copy(self.prefix + ext, case)
        with open(os.path.join(case, "case.json"), "w") as f:
            json.dump({"title": "Henriques case", "kinetics": {"preset": "henriques-1947"}}, f)
        (he,), _, title = marks(results_figures(os.path.join(case, "r"), "um"))
        self.assertIn("(Henriques 1947)", he[1])
        self.assertEqual(title, "Henriques case: temperature through the depth")
        # On the command line: --kinetics takes a preset; an unknown one is refused.
        script = os.path.join(HERE, "plot_output.py")
        run = subprocess.run([sys.executable, script, "--results", self.prefix, "--kinetics", "nonsense", "-o",
                              os.path.join(self.tmp, "x")], capture_output=True, text=True, timeout=300)
        self.assertEqual(run.returncode, 2)
        self.assertIn("unknown kinetics 'nonsense'", run.stderr)

    def test_command_line(self):
        outdir = os.path.join(self.tmp, "plots")
        run = subprocess.run([sys.executable, os.path.join(HERE, "plot_output.py"), "--results", self.prefix,
                              "-o", outdir], capture_output=True, text=True, timeout=300)
        self.assertEqual(run.returncode, 0, run.stderr)
        written = run.stdout.split()
        self.assertEqual([os.path.basename(p) for p in written], ["r-history.png", "r-profiles.png", "r-map.png"])
        for path in written:  # the axes at their default size; the legend below adds to the height
            width, height = png_size(path)
            self.assertTrue(760 <= width <= 900 and 460 <= height <= 700, (path, width, height))
        # A history with no physical temperatures is named, with status 1, and nothing is drawn.
        sys.path.insert(0, os.path.join(HERE, "..", "..", "python"))
        import skinburn as sb
        # An inner face that draws 3 MW/m² out of the skin: the program runs it as any other run.
        sb.DataDirectory(os.path.join(self.tmp, "a")).edited({"RBC": "FLUX", "right_bc": 3e6},
                                                             os.path.join(self.tmp, "b"))
        subprocess.run([SKINBURN, "--results", "bad", "b/"], cwd=self.tmp, stdin=subprocess.DEVNULL,
                       capture_output=True, check=True)
        bad = os.path.join(self.tmp, "bad")
        run = subprocess.run([sys.executable, os.path.join(HERE, "plot_output.py"), "--results", bad,
                              "-o", os.path.join(self.tmp, "badplots")], capture_output=True, text=True, timeout=300)
        self.assertEqual((run.returncode, run.stdout), (1, ""))
        self.assertRegex(run.stderr, r"^plot_output: \S+bad: the temperature history falls to or below "
                                     r"absolute zero: \S+ K at step ")
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "badplots")))


if __name__ == "__main__":
    unittest.main()
