"""Shared fixtures: the skinburn binary and the repository's examples."""
from __future__ import annotations

from pathlib import Path

import pytest

from skinburn.program import Program

REPO = Path(__file__).resolve().parents[2]
EXAMPLES = REPO / "examples"


@pytest.fixture(scope="session")
def program() -> Program:
    """The binary under test ($SKINBURN, else the repository's build)."""
    try:
        return Program.find()
    except FileNotFoundError as exc:
        pytest.skip(str(exc))


@pytest.fixture(scope="session")
def examples() -> Path:
    return EXAMPLES
