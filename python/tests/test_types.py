"""The package's annotations hold: mypy (Debian's ``mypy``) finds no error in it."""
import subprocess
import sys
from pathlib import Path

import pytest

PYTHON = Path(__file__).resolve().parents[1]


def test_the_package_type_checks(tmp_path):
    pytest.importorskip("mypy", reason="Debian's mypy is not installed (tools/deps.sh mypy)")
    done = subprocess.run([sys.executable, "-m", "mypy", "--config-file", str(PYTHON / "mypy.ini"),
                           "--cache-dir", str(tmp_path / "cache"), str(PYTHON / "skinburn")],
                          capture_output=True, text=True, cwd=PYTHON)
    assert done.returncode == 0, done.stdout + done.stderr
