"""The burn criteria: which Omega at which depth makes a burn of which degree, and under which kinetics.

Holds :class:`Criterion`, :data:`CRITERIA` (first degree: Omega >= 0.53 at
the base of the epidermis; second: Omega >= 1 there; third: Omega >= 1 at
the base of the dermis), :data:`DEGREE_NAMES`, :func:`criterion`, and the
kinetics chosen per degree: :class:`KineticsByDegree`, :func:`kinetics_choice`
(the command line's ``2=weaver-stoll,3=takata``) and :class:`KineticsChoiceError`.
Uses :mod:`skinburn.checks`, :mod:`skinburn.kinetics` and :mod:`skinburn.units`;
the judging itself is in :mod:`skinburn.assessment`.
"""
from __future__ import annotations

from dataclasses import dataclass
from typing import Optional, Union

from .checks import positive
from .kinetics import Kinetics, kinetics_preset
from .units import SkinburnError


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


# --- Kinetics per degree --------------------------------------------------------------

class KineticsChoiceError(SkinburnError, ValueError):
    """A kinetics choice that names no degree or no preset: the message says what may be given."""


@dataclass(frozen=True)
class KineticsByDegree:
    """The kinetics each burn degree's criterion is judged under (practice judges second degree under
    one model and third under another).

    ``first``, ``second`` and ``third`` are the models of the criteria of
    those degrees (:data:`CRITERIA`); one left None takes the default of
    where it is used (the trial's kinetics, else the constants the program
    read): :meth:`filled`. Accepted wherever a single :class:`Kinetics` is;
    a single model stands for every degree, and a choice naming one model
    for every degree is judged exactly as that model alone.
    """

    first: Optional[Kinetics] = None
    second: Optional[Kinetics] = None
    third: Optional[Kinetics] = None

    def __post_init__(self) -> None:
        for degree, k in self.items():
            if k is not None and not isinstance(k, Kinetics):
                raise TypeError(f"the kinetics of degree {degree} is a Kinetics (a preset: kinetics_preset(key)), "
                                f"not {k!r}")

    @classmethod
    def of(cls, models: dict[int, Kinetics]) -> "KineticsByDegree":
        """From a mapping {degree: kinetics}; degrees not named take the default where used."""
        for degree in models:
            criterion(degree)
        return cls(*(models.get(c.degree) for c in CRITERIA))

    def items(self) -> tuple[tuple[int, Optional[Kinetics]], ...]:
        """(degree, kinetics or None) of every criterion, mildest first."""
        return tuple(zip((c.degree for c in CRITERIA), (self.first, self.second, self.third)))

    def kinetics(self, degree: int, default: Optional[Kinetics] = None) -> Kinetics:
        """The model degree ``degree``'s criterion is judged under (``default`` where none is named)."""
        criterion(degree)
        k = dict(self.items())[degree] or default
        if k is None:
            raise KineticsChoiceError(f"no kinetics is named for degree {degree} and there is no default: "
                                      "name one, or fill the choice (KineticsByDegree.filled)")
        return k

    def filled(self, default: Kinetics) -> "KineticsByDegree":
        """Every degree named: those left None take ``default``."""
        return KineticsByDegree(*(k or default for _, k in self.items()))

    @property
    def complete(self) -> bool:
        """True when every degree names its model."""
        return all(k is not None for _, k in self.items())

    @property
    def uniform(self) -> Optional[Kinetics]:
        """The one model of every degree, when all three name the same; else None."""
        models = {k for _, k in self.items()}
        return models.pop() if len(models) == 1 and None not in models else None

    @property
    def distinct(self) -> tuple[Kinetics, ...]:
        """The models named, each once, in the order of the degrees they first judge."""
        out: list[Kinetics] = []
        for _, k in self.items():
            if k is not None and k not in out:
                out.append(k)
        return tuple(out)

    def degrees_of(self, model: Kinetics) -> tuple[int, ...]:
        """The degrees judged under ``model``."""
        return tuple(d for d, k in self.items() if k == model)

    @property
    def name(self) -> str:
        """Each model with the degrees it judges: ``Weaver-Stoll 1969 for degrees 1 and 2, Takata 1974
        for degree 3`` (a degree left to the default says so)."""
        parts = [f"{k.name} for {_degrees_text(self.degrees_of(k))}" for k in self.distinct]
        left = tuple(d for d, k in self.items() if k is None)
        if left:
            parts.append(f"the default for {_degrees_text(left)}")
        return ", ".join(parts)

    def to_dict(self) -> dict:
        """JSON form: ``{"per_degree": {"2": <Kinetics.to_dict()>, ...}}`` (degrees left to the default absent)."""
        return {"per_degree": {str(d): k.to_dict() for d, k in self.items() if k is not None}}

    @classmethod
    def from_dict(cls, d: dict) -> "KineticsByDegree":
        """The inverse of :meth:`to_dict`."""
        models = d["per_degree"]
        try:
            return cls.of({int(degree): Kinetics.from_dict(v) for degree, v in models.items()})
        except ValueError as exc:
            raise KineticsChoiceError(f"per_degree: {exc}") from None


#: What a kinetics argument may be: one model for every degree, or a model per degree.
KineticsLike = Union[Kinetics, KineticsByDegree]


def kinetics_from_dict(d: dict) -> KineticsLike:
    """A kinetics choice from its JSON form: :meth:`KineticsByDegree.to_dict` or :meth:`Kinetics.to_dict`."""
    return KineticsByDegree.from_dict(d) if "per_degree" in d else Kinetics.from_dict(d)


def _degrees_text(degrees: tuple[int, ...]) -> str:
    """``degree 3``, ``degrees 1 and 2``, ``degrees 1, 2 and 3``."""
    if len(degrees) == 1:
        return f"degree {degrees[0]}"
    return "degrees " + ", ".join(str(d) for d in degrees[:-1]) + f" and {degrees[-1]}"


def kinetics_for(choice: Optional[KineticsLike], degree: int, default: Optional[Kinetics] = None
                 ) -> Optional[Kinetics]:
    """The one model degree ``degree`` is judged under: ``choice`` itself when it is a single model,
    its model of that degree when it names one per degree (``default`` where it leaves the degree
    open); None when there is neither."""
    if isinstance(choice, KineticsByDegree):
        criterion(degree)
        return dict(choice.items())[degree] or default
    return choice if choice is not None else default


def resolved(choice: Optional[KineticsLike], default: KineticsLike) -> KineticsLike:
    """``choice`` with the degrees it leaves open taken from ``default`` (itself one model or one per
    degree); ``default`` for no choice. A choice that ends with one model for every degree is that
    model, so that it is judged (and named) exactly as the model alone."""
    if choice is None:
        choice = default
    if isinstance(choice, KineticsByDegree):
        full = KineticsByDegree(*(k or kinetics_for(default, d) for d, k in choice.items()))
        return full.uniform or full
    return choice


def kinetics_choice(text: str) -> KineticsLike:
    """A kinetics choice as the command line and the study tool write it.

    ``weaver-stoll`` (a preset's key or alias) is one model for every
    degree; ``2=weaver-stoll,3=takata`` names a model per degree, the
    degrees not named keeping the default; an item without a degree
    (``weaver-stoll,3=takata``) is the model of every degree not named.
    :class:`KineticsChoiceError` for a degree other than 1, 2, 3, a degree
    named twice or an empty item; KeyError (naming the presets) for an
    unknown preset.
    """
    items = [item.strip() for item in text.split(",")]
    if len(items) == 1 and "=" not in items[0]:
        return kinetics_preset(items[0])
    models: dict[int, Kinetics] = {}
    rest: Optional[Kinetics] = None
    degrees = ", ".join(str(c.degree) for c in CRITERIA)
    for item in items:
        key, sep, value = (part.strip() for part in item.partition("="))
        if not sep:
            if not key or rest is not None:
                raise KineticsChoiceError(f"kinetics {text!r}: give DEGREE=PRESET items separated by commas "
                                          f"(degrees {degrees}), at most one PRESET for the degrees not named")
            rest = kinetics_preset(key)
            continue
        if not key.isdigit() or int(key) not in [c.degree for c in CRITERIA] or not value:
            raise KineticsChoiceError(f"kinetics {text!r}: {item!r} is not DEGREE=PRESET with a degree of "
                                      f"{degrees}")
        if int(key) in models:
            raise KineticsChoiceError(f"kinetics {text!r}: degree {key} is named twice")
        models[int(key)] = kinetics_preset(value)
    choice = KineticsByDegree.of(models)
    return choice.filled(rest) if rest is not None else choice
