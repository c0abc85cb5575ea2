"""Tests of the study figure: what each trial's row draws, and the figure
written from a study CSV."""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from plot_study import series  # noqa: E402

CSV = """trial,LEFT_AMBIENT,jet.standoff_ratio,status,outcome,peak_T,peak_node,error,dir
1,500,2,0,below,340.8,1,,st/t001/
2,500,4,1,,,1,GetData() Error: Offaxis Spacing,st/t002/
3,1000,2,0,0.000114,405.7,1,,st/t003/
4,1000,4,0,0.000020;0.000101,401.6,1,,st/t004/
5,1500,2,0,above,490.8,1,,st/t005/
"""


def rows():
    import csv
    return list(csv.DictReader(CSV.splitlines()))


class StudyFigureTest(unittest.TestCase):
    def test_what_each_row_draws(self):
        lines, left_out = series(rows(), "LEFT_AMBIENT", "depth")
        # "below" is no burn, several depths give the deepest, in mm.
        self.assertEqual(lines, {"jet.standoff_ratio = 2": [("500", 0.0), ("1000", 0.114)],
                                 "jet.standoff_ratio = 4": [("1000", 0.101)]})
        self.assertEqual(left_out, ["trial 2 (status 1)", "trial 5 (above)"])
        lines, left_out = series(rows(), "jet.standoff_ratio", "peak_T")
        self.assertEqual(lines["LEFT_AMBIENT = 1500"], [("2", 490.8)])
        self.assertEqual(left_out, ["trial 2 (status 1)"])

    def test_figure_is_written(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "study.csv")
            with open(path, "w") as f:
                f.write(CSV)
            png = os.path.join(tmp, "depth.png")
            run = subprocess.run([sys.executable, os.path.join(HERE, "plot_study.py"), path, "-o", png],
                                 capture_output=True, text=True)
            self.assertEqual((run.returncode, run.stdout), (0, png + "\n"), run.stderr)
            self.assertIn("trial 5 (above) left out", run.stderr)
            with open(png, "rb") as f:
                head = f.read(24)
            self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
            self.assertEqual(struct.unpack(">II", head[16:24]), (700, 450))
            run = subprocess.run([sys.executable, os.path.join(HERE, "plot_study.py"), path, "-o", png,
                                  "--x", "NODES"], capture_output=True, text=True)
            self.assertEqual(run.returncode, 1)
            self.assertIn("no varied column 'NODES'", run.stderr)


if __name__ == "__main__":
    unittest.main()
