"""Tests of the study figures: what each case draws, "no burn" never as a depth of 0, units and
titles on the axes, the burn-degree map and the Stoll curve."""

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
from plot_study import STOLL_CHIANTA_1969, axis_label, degree_map, line_figure, series  # noqa: E402

HEAD = ("trial,exposure.gas_temperature_K,exposure.standoff_ratio,status,burn,degree,kinetics,"
        "omega_epidermis_base,omega_dermis_base,depth_omega_053_um,depth_omega_1_um,program_outcome,"
        "program_depth_um,program_omega,peak_T_K,peak_node,error,dir\n")
CSV = HEAD + """1,500,2,0,no burn,0,W,0.0007,0,8.7,no burn,all-below,no burn,,342.7,1,,st/t001/
2,500,4,1,,,,,,,,error,,,,,GetData() Error: Offaxis Spacing,st/t002/
3,1000,2,0,second-degree burn,2,W,8.7,0,140.9,123.2,burn-depth,74.1,,411.8,1,,st/t003/
4,1000,4,0,second-degree burn,2,W,5.5,0,130.9,114.1,burn-depth,72.5,,407.6,1,,st/t004/
"""
SEARCH = """trial,exposure.flux_W_m2,status,degree,kinetics,threshold_duration_s,unburnt_duration_s,\
burnt_duration_s,runs,deltax_um,deltat_s,after_exposure_s,error,dir
1,10000,0,2,W,9.8,9.8,9.82,18,53,0.05,5,,st/t001/
2,20000,0,2,W,3.49,3.49,3.5,20,53,0.05,5,,st/t002/
3,40000,0,2,W,1.27,1.27,1.28,19,53,0.05,5,,st/t003/
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
        self.assertEqual(lines, {"exposure.standoff_ratio = 2": [("1000", 123.2)],
                                 "exposure.standoff_ratio = 4": [("1000", 114.1)]})
        self.assertEqual(unburnt, {"exposure.standoff_ratio = 2": ["500"]})
        self.assertEqual(left_out, ["trial 2 (status 1)"])

    def test_units_of_columns(self):
        self.assertEqual(axis_label("exposure.gas_temperature_K", "C"),
                         ("exposure.gas_temperature (°C)", 1.0, -273.15))
        self.assertEqual(axis_label("depth_omega_1_um", "mm")[:2], ("depth_omega_1 (mm)", 1e-3))
        self.assertEqual(axis_label("exposure.flux_W_m2")[0], "exposure.flux (W/m²)")
        self.assertEqual(axis_label("LEFT_BC_W_m2K")[0], "LEFT_BC (W/(m² K))")
        self.assertEqual(axis_label("jet.standoff_ratio")[0], "jet.standoff_ratio (nozzle diameters)")


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
        self.assertEqual(sorted(lines), ["jet.velocity.scale = 1", "jet.velocity.scale = 1.5"])
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
            degree_map(rows(KINETICS), "jet.velocity.scale", "kinetics_preset", "M", "um", "K")
        fig = degree_map(rows(), "exposure.standoff_ratio", "exposure.gas_temperature_K", "Map", "um", "K")
        self.assertEqual(fig.axes[0].get_legend().get_title().get_text(), "under W")
        import matplotlib.pyplot as plt
        plt.close("all")


class FigureTest(unittest.TestCase):
    def setUp(self):
        import matplotlib
        matplotlib.use("Agg")

    def test_no_burn_is_never_a_depth_of_zero(self):
        fig, _ = line_figure(rows(), "exposure.gas_temperature_K", "depth", "Title", "mm", "C", False)
        ax = fig.axes[0]
        self.assertEqual((ax.get_xlabel(), ax.get_ylabel(), ax.get_title()),
                         ("exposure.gas_temperature (°C)", "depth where Omega = 1 under W (mm)", "Title"))
        data = [l for l in ax.get_lines() if l.get_label() != "no burn" and len(l.get_xdata())]
        for line in data:
            if line.get_transform() == ax.transData:
                self.assertNotIn(0.0, list(line.get_ydata()))
        self.assertIn("no burn", [t.get_text() for t in ax.get_legend().get_texts()])
        marker = [l for l in data if l.get_transform() != ax.transData]
        self.assertEqual([list(m.get_xdata()) for m in marker], [[500 - 273.15]])

    def test_stoll_curve_under_flux_time(self):
        fig, _ = line_figure(rows(SEARCH), "exposure.flux_W_m2", "threshold", "T", "um", "K", True)
        ax = fig.axes[0]
        self.assertEqual(ax.get_ylabel(), "threshold_duration, second degree under W (s)")
        stoll = [l for l in ax.get_lines() if l.get_label().startswith("Stoll")][0]
        self.assertEqual(list(stoll.get_xdata())[0], STOLL_CHIANTA_1969[0][1] * 1e3)

    def test_degree_map(self):
        fig = degree_map(rows(), "exposure.standoff_ratio", "exposure.gas_temperature_K", "Map", "um", "K")
        ax = fig.axes[0]
        self.assertEqual((ax.get_xlabel(), ax.get_ylabel()),
                         ("exposure.standoff_ratio (nozzle diameters)", "exposure.gas_temperature (K)"))
        legend = [t.get_text() for t in ax.get_legend().get_texts()]
        self.assertEqual(legend[:3], ["no burn", "second degree", "run failed"])

    def test_command_line(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "study.csv")
            with open(path, "w") as f:
                f.write(CSV)
            with open(os.path.join(tmp, "study.json"), "w") as f:
                json.dump({"title": "Gas against stand-off"}, f)
            png = os.path.join(tmp, "map.png")
            run = subprocess.run([sys.executable, os.path.join(HERE, "plot_study.py"), path, "-o", png,
                                  "--map", "--x", "exposure.standoff_ratio"], capture_output=True, text=True)
            self.assertEqual((run.returncode, run.stdout), (0, png + "\n"), run.stderr)
            self.assertEqual(png_size(png), (750, 500))
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
