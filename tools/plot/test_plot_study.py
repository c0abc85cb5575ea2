"""Tests of the study figures: what each case draws, "no burn" never as a depth of 0, names and units
a reader knows on the axes and in the legends, the burn-degree map whose colours agree with its
contours, and the Stoll curve on log-log axes."""

import csv
import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from labels import quantity  # noqa: E402
from plot_study import DEGREE_COLOURS, STOLL_CHIANTA_1969, Bases, degree_map, line_figure, series  # noqa: E402

SKIN = Bases(80e-6, 2.08e-3, "Torvi-Dale 1994")

HEAD = ("trial,exposure.gas_temperature_K,exposure.standoff_ratio,status,burn,degree,kinetics,"
        "omega_epidermis_base,omega_dermis_base,depth_omega_053_um,depth_omega_1_um,program_outcome,"
        "program_depth_um,program_omega,peak_T_K,peak_node,error,dir\n")
CSV = HEAD + """1,500,2,0,no burn,0,W,0.0007,0,8.7,no burn,all-below,no burn,,342.7,1,,st/t001/
2,500,4,1,,,,,,,,error,,,,,GetData() Error: Offaxis Spacing,st/t002/
3,1000,2,0,second-degree burn,2,W,8.7,0,140.9,123.2,burn-depth,74.1,,411.8,1,,st/t003/
4,1000,4,0,second-degree burn,2,W,5.5,0,130.9,114.1,burn-depth,72.5,,407.6,1,,st/t004/
"""
# The README's study of gas temperature against stand-off (airbag jet, Weaver-Stoll, Torvi-Dale bases).
GRID = """trial,exposure.gas_temperature_K,exposure.standoff_ratio,status,degree,kinetics,depth_omega_053_um,depth_omega_1_um
1,500,2,0,0,W,8.7,2.9
2,500,4,0,0,W,7.7,1.9
3,500,6,0,0,W,no burn,no burn
4,500,8,0,0,W,no burn,no burn
5,500,10,0,0,W,no burn,no burn
6,750,2,0,0,W,71.5,65.5
7,750,4,0,0,W,68.6,62.8
8,750,6,0,0,W,57.5,51.8
9,750,8,0,0,W,29.2,23.5
10,750,10,0,0,W,no burn,no burn
11,1000,2,0,2,W,140.9,123.2
12,1000,4,0,2,W,130.9,114.1
13,1000,6,0,2,W,103.6,89.0
14,1000,8,0,0,W,61.2,55.5
15,1000,10,0,0,W,14.7,9.0
16,1250,2,0,2,W,226.0,199.2
17,1250,4,0,2,W,210.6,185.6
18,1250,6,0,2,W,173.0,152.3
19,1250,8,0,2,W,94.0,80.2
20,1250,10,0,0,W,39.8,34.1
21,1500,2,0,2,W,372.8,327.1
22,1500,4,0,2,W,348.7,306.1
23,1500,6,0,2,W,291.3,256.2
24,1500,8,0,2,W,172.0,151.4
25,1500,10,0,0,W,68.0,62.1
"""
SEARCH = """trial,exposure.flux_W_m2,status,degree,kinetics,threshold_duration_s,uncertainty_duration_s,\
unburnt_duration_s,burnt_duration_s,runs,deltax_um,deltat_s,after_exposure_s,error,dir
1,10000,0,2,W,9.8,0.008,9.8,9.82,18,53,0.05,5,,st/t001/
2,20000,0,2,W,3.49,0.002,3.49,3.5,20,53,0.05,5,,st/t002/
3,40000,0,2,W,1.27,0.0006,1.27,1.28,19,53,0.05,5,,st/t003/
"""


def rows(text=CSV):
    return list(csv.DictReader(text.splitlines()))


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n"
    return struct.unpack(">II", head[16:24])


class SeriesTest(unittest.TestCase):
    def test_no_burn_and_failures_are_kept_apart(self):
        lines, unburnt, left_out = series(rows(), "exposure.gas_temperature_K", "depth_omega_1_um")
        self.assertEqual(lines, {"stand-off = 2 nozzle diameters": [("1000", 123.2)],
                                 "stand-off = 4 nozzle diameters": [("1000", 114.1)]})
        self.assertEqual(unburnt, {"stand-off = 2 nozzle diameters": ["500"]})
        self.assertEqual(left_out, ["trial 2 (status 1)"])

    def test_names_and_units_a_reader_knows(self):
        flux = quantity("exposure.flux_W_m2")
        self.assertEqual((flux.label, flux.value(10000), flux.value_text("10000")),
                         ("heat flux (kW/m²)", 10.0, "heat flux = 10 kW/m²"))
        gas = quantity("exposure.gas_temperature_K", temperature_unit="C")
        self.assertEqual((gas.label, gas.value(500)), ("gas temperature (°C)", 500 - 273.15))
        depth = quantity("depth_omega_1_um", "mm")
        self.assertEqual((depth.label, depth.value(80)), ("depth where Omega = 1 (mm)", 0.08))
        self.assertEqual(quantity("LEFT_AMBIENT_K").label, "gas temperature (K)")
        self.assertEqual(quantity("LEFT_AMBIENT.scale").label, "gas temperature (× the template's)")
        self.assertEqual(quantity("jet.standoff_ratio").label, "stand-off (nozzle diameters)")
        self.assertEqual(quantity("jet.standoff_m").value_text("0.05"), "stand-off = 50 mm")
        self.assertEqual(quantity("exposure.after_h_W_m2K").label,
                         "convection coefficient after the exposure (W/(m² K))")
        self.assertEqual(quantity("skin.layers.0.thickness_m", "um").label, "skin layers 0 thickness (µm)")


# A data-directory study judged under two kinetics (the "kinetics" key per case) and, in one case, under
# the constants the program read.
KINETICS = """trial,kinetics_preset,jet.velocity.scale,status,burn,degree,kinetics,omega_epidermis_base,\
omega_dermis_base,depth_omega_053_um,depth_omega_1_um,program_outcome,program_depth_um,program_omega,peak_T_K,\
peak_node,error,dir
1,weaver-stoll,1,0,second-degree burn,2,Weaver-Stoll 1969,7.3,,99.9,95.2,burn-depth,79.8,,393.4,1,,st/t001/
2,weaver-stoll,1.5,0,second-degree burn,2,Weaver-Stoll 1969,101,,116.3,111.6,burn-depth,99.7,,411.1,1,,st/t002/
3,henriques,1,0,second-degree burn,2,Henriques 1947,607,,108.9,106.0,burn-depth,79.8,,393.4,1,,st/t003/
4,henriques,1.5,0,second-degree burn,2,Henriques 1947,1e5,,124.9,122.1,burn-depth,99.7,,411.1,1,,st/t004/
"""


class KineticsTest(unittest.TestCase):
    """Every quantity that rests on a kinetics model names it; no line or map mixes two."""

    def setUp(self):
        import matplotlib
        matplotlib.use("Agg")

    def test_a_line_holds_one_kinetics_and_names_it(self):
        lines, _, _ = series(rows(KINETICS), "jet.velocity.scale", "depth_omega_1_um")
        self.assertEqual(lines, {"kinetics = Weaver-Stoll 1969": [("1", 95.2), ("1.5", 111.6)],
                                 "kinetics = Henriques 1947": [("1", 106.0), ("1.5", 122.1)]})
        fig, _ = line_figure(rows(KINETICS), "jet.velocity.scale", "depth", "T", "um", "K", False)
        self.assertEqual(fig.axes[0].get_ylabel(), "depth where Omega = 1 (µm); kinetics per line")
        # Kinetics along the axis: one line per other value, each point its own model.
        lines, _, _ = series(rows(KINETICS), "kinetics_preset", "depth_omega_1_um")
        self.assertEqual(sorted(lines), ["gas velocity = 1 × the template's", "gas velocity = 1.5 × the template's"])
        # One kinetics in the study: named on the axis, the program's own constants as such.
        one = "\n".join(KINETICS.splitlines()[:3]) + "\n"
        fig, _ = line_figure(rows(one), "jet.velocity.scale", "depth", "T", "um", "K", False)
        self.assertEqual(fig.axes[0].get_ylabel(), "depth where Omega = 1 under Weaver-Stoll 1969 (µm)")
        fig, _ = line_figure(rows(one), "jet.velocity.scale", "program_depth", "T", "um", "K", False)
        self.assertEqual(fig.axes[0].get_ylabel(), "depth where Omega = 1 under the program's constants (µm)")
        read = one.replace("Weaver-Stoll 1969", "as the program read it")
        fig, _ = line_figure(rows(read), "jet.velocity.scale", "depth", "T", "um", "K", False)
        self.assertEqual(fig.axes[0].get_ylabel(), "depth where Omega = 1 under the program's constants (µm)")
        import matplotlib.pyplot as plt
        plt.close("all")

    def test_a_map_shows_one_kinetics_and_names_it(self):
        with self.assertRaisesRegex(ValueError, "several kinetics \\(Weaver-Stoll 1969, Henriques 1947\\)"):
            degree_map(rows(KINETICS), "jet.velocity.scale", "kinetics_preset", "M", "um", "K", SKIN)
        fig = degree_map(rows(), "exposure.standoff_ratio", "exposure.gas_temperature_K", "Map", "um", "K", SKIN)
        self.assertEqual(fig.axes[0].get_legend().get_title().get_text(), "under W\nskin: Torvi-Dale 1994")
        # A study of a data directory: its own material, judged at the skin's depths alone.
        meta = {"template": "datadir", "skin": {"name": "Torvi-Dale 1994", "epidermis_base_m": 8e-5,
                                                "dermis_base_m": 2.08e-3}}
        fig = degree_map(rows(), "exposure.standoff_ratio", "exposure.gas_temperature_K", "Map", "um", "K",
                         Bases.from_meta(meta))
        self.assertEqual(fig.axes[0].get_legend().get_title().get_text(),
                         "under W\ncriterion depths of Torvi-Dale 1994 on the run's own material")
        import matplotlib.pyplot as plt
        plt.close("all")


def drawn_degrees(fig, points):
    """The degree the colour of ``fig``'s map shows at each (x, y) in data coordinates, None where the pixel is
    none of the degrees' colours (an edge drawn smooth, a hatch); contour lines, labels and dots hidden."""
    import numpy as np
    from matplotlib.colors import to_rgb

    ax = fig.axes[0]
    for artist in ax.texts + ax.lines + [c for c in ax.collections if not getattr(c, "filled", True)]:
        artist.set_visible(False)
    fig.canvas.draw()
    image = np.asarray(fig.canvas.buffer_rgba())[..., :3].astype(float)
    palette = np.array([to_rgb(c) for c in DEGREE_COLOURS]) * 255
    found = []
    for point in points:
        u, v = ax.transData.transform(point)
        distance = np.abs(palette - image[int(round(image.shape[0] - v)), int(round(u))]).sum(axis=1)
        found.append(int(np.argmin(distance)) if distance.min() < 8 else None)
    return found


class DegreeMapTest(unittest.TestCase):
    """The map's colours and its depth contours come from one field: wherever the map is coloured, the
    colour is the degree the interpolated depths give there (bilinear between the cases, as the contours
    are drawn), and at each case the degree of its row."""

    def test_colours_agree_with_the_depth_field(self):
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        import numpy as np
        from scipy.interpolate import RegularGridInterpolator

        data, x, y = rows(GRID), "exposure.standoff_ratio", "exposure.gas_temperature_K"
        xs, ys = sorted({float(r[x]) for r in data}), sorted({float(r[y]) for r in data})

        def field(column):
            grid = np.zeros((len(ys), len(xs)))
            for r in data:
                grid[ys.index(float(r[y])), xs.index(float(r[x]))] = 0.0 if r[column] == "no burn" else float(r[column])
            return RegularGridInterpolator((ys, xs), grid)

        d053, d1 = field("depth_omega_053_um"), field("depth_omega_1_um")
        points = [(px, py) for px in np.linspace(xs[0], xs[-1], 41)[1:-1]
                  for py in np.linspace(ys[0], ys[-1], 41)[1:-1]]
        expected = []
        for px, py in points:
            a, b = float(d053((py, px))), float(d1((py, px)))
            # Within 2 um of the epidermis base the edge may fall either side of the point.
            expected.append(None if min(abs(a - 80), abs(b - 80)) < 2 else 2 if b >= 80 else 1 if a >= 80 else 0)
        fig = degree_map(data, x, y, "Map", "um", "K", SKIN)
        drawn = drawn_degrees(fig, points)
        compared = [(p, e, d) for p, e, d in zip(points, expected, drawn) if e is not None and d is not None]
        self.assertGreater(len(compared), 1200)
        self.assertEqual([c for c in compared if c[1] != c[2]], [])
        # At each case (those on the frame a hair inside it, off the axes' spine).
        inside = lambda v, vs: min(max(v, vs[0] + 0.01 * (vs[-1] - vs[0])), vs[-1] - 0.01 * (vs[-1] - vs[0]))  # noqa
        cases = [(inside(float(r[x]), xs), inside(float(r[y]), ys)) for r in data]
        at_cases = drawn_degrees(fig, cases)
        self.assertEqual([(c, d) for c, d, r in zip(cases, at_cases, data) if d is not None and d != int(r["degree"])],
                         [])
        self.assertGreater(sum(d is not None for d in at_cases), 20)
        plt.close(fig)


class FigureTest(unittest.TestCase):
    def setUp(self):
        import matplotlib
        matplotlib.use("Agg")

    def test_no_burn_is_never_a_depth_of_zero(self):
        fig, _ = line_figure(rows(), "exposure.gas_temperature_K", "depth", "Title", "mm", "C", False)
        ax = fig.axes[0]
        self.assertEqual((ax.get_xlabel(), ax.get_ylabel(), ax.get_title()),
                         ("gas temperature (°C)", "depth where Omega = 1 under W (mm)", "Title"))
        data = [l for l in ax.get_lines() if l.get_label() != "no burn" and len(l.get_xdata())]
        for line in data:
            if line.get_transform() == ax.transData:
                self.assertNotIn(0.0, list(line.get_ydata()))
        self.assertIn("no burn", [t.get_text() for t in ax.get_legend().get_texts()])
        marker = [l for l in data if l.get_transform() != ax.transData]
        self.assertEqual([list(m.get_xdata()) for m in marker], [[500 - 273.15]])

    def test_stoll_figure_is_log_log_with_every_line_in_its_legend(self):
        fig, _ = line_figure(rows(SEARCH), "exposure.flux_W_m2", "threshold", "T", "um", "K", True)
        ax = fig.axes[0]
        self.assertEqual((ax.get_xscale(), ax.get_yscale()), ("log", "log"))
        self.assertEqual((ax.get_xlabel(), ax.get_ylabel()),
                         ("heat flux (kW/m²)", "exposure time to a second-degree burn under W (s)"))
        drawn = [l for l in ax.get_lines() if len(l.get_xdata())]
        legend = [t.get_text() for t in ax.get_legend().get_texts()]
        self.assertEqual(sorted(l.get_label() for l in drawn), sorted(legend))
        stoll = [l for l in drawn if l.get_label().startswith("Stoll")][0]
        self.assertEqual(list(stoll.get_xdata())[0], STOLL_CHIANTA_1969[0][1])  # kW/m2, as the study's axis
        self.assertEqual(list(drawn[0].get_xdata()), [10.0, 20.0, 40.0])
        # The ticks read as numbers between the powers of ten (1, 2, 5, 10, 20 ...), not as 10^1 alone.
        fig.canvas.draw()
        shown = {t.get_text() for t in ax.get_xticklabels(minor=True) + ax.get_xticklabels()} - {""}
        self.assertTrue({"5", "10", "20"} <= shown, shown)
        import matplotlib.pyplot as plt
        plt.close("all")

    def test_every_label_lies_inside_the_figure_and_every_contour_is_named_along_it(self):
        import matplotlib.pyplot as plt
        import numpy as np
        from labels import label_every_contour

        # The search study of the README's flash fire under Henriques: a long y label and a unit.
        long = SEARCH.replace(",W,", ",Henriques 1947,")
        for stoll in (False, True):
            fig, _ = line_figure(rows(long), "exposure.flux_W_m2", "threshold", "T", "um", "K", stoll)
            fig.canvas.draw()
            shown = fig.bbox
            for text in (fig.axes[0].yaxis.label, fig.axes[0].xaxis.label):
                box = text.get_window_extent()
                self.assertTrue(box.y0 >= 0 and box.y1 <= shown.y1 and box.x0 >= 0 and box.x1 <= shown.x1,
                                (text.get_text(), box, shown))
            self.assertIn("(s)", fig.axes[0].get_ylabel())
            plt.close(fig)
        # A contour line across a wide axes is named every 180 px along it, not once.
        fig, ax = plt.subplots(figsize=(9, 5), dpi=100)
        x, y = np.linspace(0, 10, 200), np.linspace(0, 1, 50)
        cs = ax.contour(x, y, np.meshgrid(x, y)[1] + 0.05 * np.sin(np.meshgrid(x, y)[0]), levels=[0.5])
        label_every_contour(ax, cs)
        fig.canvas.draw()
        named = [ax.transData.transform(t.get_position()) for t in ax.texts if t.get_text() == "0.5"]
        piece = ax.transData.transform(cs.allsegs[0][0])
        self.assertGreaterEqual(len(named), 3)
        gaps = [min(np.hypot(*(p - n)) for n in named) for p in piece]
        self.assertLess(max(gaps), 200.0)
        plt.close(fig)

    def test_a_depth_while_the_damage_still_grew_is_ringed(self):
        growing = CSV.replace("4,1000,4,0,second-degree burn,2,", "4,1000,4,0,no verdict,,")
        fig, _ = line_figure(rows(growing), "exposure.gas_temperature_K", "depth", "T", "um", "K", False)
        ringed = [l for l in fig.axes[0].get_lines() if l.get_label().startswith("no verdict: still growing")]
        self.assertEqual([list(l.get_xdata()) for l in ringed], [[1000.0]])
        self.assertEqual(list(ringed[0].get_ydata()), [114.1])
        import matplotlib.pyplot as plt
        plt.close("all")

    def test_degree_map(self):
        one_failed = GRID.replace("\n14,1000,8,0,0,W,61.2,55.5\n", "\n14,1000,8,1,,,,\n")
        self.assertNotEqual(one_failed, GRID)
        fig = degree_map(rows(one_failed), "exposure.standoff_ratio", "exposure.gas_temperature_K", "Map", "um", "K",
                         SKIN)
        ax = fig.axes[0]
        self.assertEqual((ax.get_xlabel(), ax.get_ylabel()),
                         ("stand-off (nozzle diameters)", "gas temperature (K)"))
        legend = [t.get_text() for t in ax.get_legend().get_texts()]
        self.assertEqual(legend[:3], ["no burn", "first degree", "second degree"])
        self.assertIn("80 µm, the epidermis base:\nedge of the second degree", legend)
        self.assertIn("run failed", legend)
        with self.assertRaisesRegex(ValueError, "epidermis and dermis bases"):
            degree_map(rows(), "exposure.standoff_ratio", "exposure.gas_temperature_K", "Map", "um", "K")

    def test_command_line(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "study.csv")
            with open(path, "w") as f:
                f.write(CSV)
            with open(os.path.join(tmp, "study.json"), "w") as f:
                json.dump({"title": "Gas against stand-off",
                           "skin": {"name": "uniform", "epidermis_base_m": 8e-5, "dermis_base_m": 2.08e-3}}, f)
            png = os.path.join(tmp, "map.png")
            run = subprocess.run([sys.executable, os.path.join(HERE, "plot_study.py"), path, "-o", png,
                                  "--map", "--x", "exposure.standoff_ratio"], capture_output=True, text=True)
            self.assertEqual((run.returncode, run.stdout), (0, png + "\n"), run.stderr)
            self.assertEqual(png_size(png), (900, 500))
            run = subprocess.run([sys.executable, os.path.join(HERE, "plot_study.py"), path, "-o", png],
                                 capture_output=True, text=True)
            self.assertIn("trial 2 (status 1) left out", run.stderr)
            self.assertEqual(png_size(png), (700, 450))
            run = subprocess.run([sys.executable, os.path.join(HERE, "plot_study.py"), path, "-o", png,
                                  "--x", "NODES"], capture_output=True, text=True)
            self.assertEqual(run.returncode, 1)
            self.assertIn("no varied column 'NODES'", run.stderr)


if __name__ == "__main__":
    unittest.main()
