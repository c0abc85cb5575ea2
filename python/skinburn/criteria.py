"""The burn criteria: which Omega at which depth makes a burn of which degree.

Holds :class:`Criterion`, :data:`CRITERIA` (first degree: Omega >= 0.53 at
the base of the epidermis; second: Omega >= 1 there; third: Omega >= 1 at
the base of the dermis), :data:`DEGREE_NAMES` and :func:`criterion`. Uses
only :mod:`skinburn.checks`; the judging itself is in :mod:`skinburn.assessment`.
"""
from __future__ import annotations

from dataclasses import dataclass

from .checks import positive


@dataclass(frozen=True)
class Criterion:
    """Omega at least ``threshold`` at the base of ``layer`` means a burn of ``degree``."""

    degree: int
    threshold: float
    layer: str  # "epidermis" or "dermis"
    source: str

    def __post_init__(self) -> None:
        positive(self.threshold, "threshold (Omega, no unit)")
        if self.layer not in ("epidermis", "dermis"):
            raise ValueError(f"a criterion is judged at the base of the epidermis or the dermis, not {self.layer!r}")


_HENRIQUES = ("F. C. Henriques Jr., Studies of thermal injury V, Archives of Pathology 43 (1947) 489-502: "
              "Omega = 0.53 at the epidermis base for first degree, 1 for complete (transepidermal) necrosis")
#: The burn criteria, mildest first.
CRITERIA: tuple[Criterion, ...] = (
    Criterion(1, 0.53, "epidermis", _HENRIQUES),
    Criterion(2, 1.0, "epidermis", _HENRIQUES),
    Criterion(3, 1.0, "dermis",
              "Omega = 1 at the base of the dermis, as used by D. A. Torvi and J. D. Dale, J. Biomech. Eng. "
              "116 (1994) 250-255, and later skin-burn models"),
)

DEGREE_NAMES = {0: "no burn", 1: "first-degree burn", 2: "second-degree burn", 3: "third-degree burn"}


def criterion(degree: int) -> Criterion:
    """The criterion of a degree (1, 2 or 3)."""
    for c in CRITERIA:
        if c.degree == degree:
            return c
    raise ValueError(f"burn degrees are 1, 2 and 3, not {degree!r}")
