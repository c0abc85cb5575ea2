"""How a value against time becomes one of skinburn's per-step tables.

How a value against time becomes a table
----------------------------------------
skinburn takes a face's value once per step: a ``CONVECTION`` or ``FLUX``
face the table's value at the start of the step, a ``TEMPERATURE`` face the
value at its end. This package writes the table so that each step sees the
mean of the exposure over that step (for convection, the mean of h and the
h-weighted mean of the gas temperature), and a constant stays exactly that
constant. An exposure that ends inside a step therefore delivers its heat
for just the part of the step it lasts, and results change smoothly with a
duration that is not a whole number of steps.

The airbag jet is the exception: the program forms its coefficient itself,
so the jet acts for every step that starts before the jet's end, and whole
steps only.

Holds :class:`Profile` (a piecewise-linear function of time with jumps) and
the step sampling and table writers the data-directory writer uses
(:mod:`skinburn.writer`). Uses NumPy alone.
"""
from __future__ import annotations

import numpy as np

#: numpy's clip ufunc itself: the values of np.clip without the checks of its Python wrapper, which
#: cost more than the clipping of the few values a trial's tables have.
_clip = (getattr(np, "_core", None) or np.core).umath.clip


class Profile:
    """A piecewise-linear function of time on [0, inf) with jumps, built from knots.

    The knots of an exposure cut at its end and followed by a constant.
    """

    def __init__(self, times_s: np.ndarray, values: np.ndarray) -> None:
        self.t = np.asarray(times_s, dtype=float)
        self.v = np.asarray(values, dtype=float)

    @classmethod
    def cut(cls, knots: tuple[np.ndarray, np.ndarray], end_s: float, after: float) -> "Profile":
        """``knots`` up to ``end_s`` (s), then ``after`` from ``end_s`` on."""
        t, v = knots
        keep = t < end_s
        tt = list(t[keep])
        vv = list(v[keep])
        tt.append(end_s)
        vv.append(float(np.interp(end_s, t, v)) if end_s <= t[-1] else float(v[-1]))
        # np.interp takes the later of two values at one time; the value
        # just before the end is wanted: the last knot before end_s governs
        # a jump standing exactly at end_s.
        exact = np.nonzero(t == end_s)[0]
        if exact.size:
            vv[-1] = float(v[exact[0]])
        tt.append(end_s)
        vv.append(after)
        return cls(np.array(tt), np.array(vv))

    def after(self, x: np.ndarray) -> np.ndarray:
        """Value just after each x (the later value at a jump)."""
        x = np.asarray(x, dtype=float)
        n = len(self.t)
        i = np.searchsorted(self.t, x, side="right") - 1   # last knot at or before x
        i = _clip(i, 0, n - 1)
        j = np.minimum(i + 1, n - 1)
        span = np.where(j > i, self.t[j] - self.t[i], 1.0)
        frac = _clip((x - self.t[i]) / span, 0.0, 1.0)
        return np.where(j > i, self.v[i] + (self.v[j] - self.v[i]) * frac, self.v[i])

    def before(self, x: np.ndarray) -> np.ndarray:
        """Value just before each x (the earlier value at a jump)."""
        x = np.asarray(x, dtype=float)
        n = len(self.t)
        j = np.searchsorted(self.t, x, side="left")         # first knot at or after x
        inside = (j > 0) & (j < n)
        jj = _clip(j, 1, n - 1) if n > 1 else np.zeros_like(j)
        ii = np.maximum(jj - 1, 0)
        span = np.where(self.t[jj] > self.t[ii], self.t[jj] - self.t[ii], 1.0)
        line = self.v[ii] + (self.v[jj] - self.v[ii]) * _clip((x - self.t[ii]) / span, 0.0, 1.0)
        return np.where(inside, line, np.where(j == 0, self.v[0], self.v[-1]))

    def constant_over(self, starts: np.ndarray, width: float) -> np.ndarray:
        """For each start s: True where the function is one constant on [s, s + width]."""
        starts = np.asarray(starts, dtype=float)
        ends = starts + width
        a, b = self.after(starts), self.before(ends)
        out = a == b
        for k in np.nonzero(out & self._knots_inside(starts, ends))[0]:
            out[k] = bool(np.all(self.v[(self.t > starts[k]) & (self.t < ends[k])] == a[k]))
        return out

    def _knots_inside(self, starts: np.ndarray, ends: np.ndarray) -> np.ndarray:
        return np.searchsorted(self.t, ends, side="left") > np.searchsorted(self.t, starts, side="right")

    def step_means(self, starts: np.ndarray, width: float) -> np.ndarray:
        """Mean over [s, s + width] for each start s; exactly the constant where the function is one.

        A step within one straight piece takes the value at its middle; a
        step across knots the exact integral over its pieces.
        """
        starts = np.asarray(starts, dtype=float)
        ends = starts + width
        means = self.after(starts + width / 2)
        const = self.constant_over(starts, width)
        means[const] = self.after(starts[const])
        for k in np.nonzero(~const & self._knots_inside(starts, ends))[0]:
            points = np.concatenate(([starts[k]], self.t[(self.t > starts[k]) & (self.t < ends[k])], [ends[k]]))
            total = 0.0
            for p, q in zip(points[:-1], points[1:]):
                if q > p:
                    total += (q - p) * float(self.after(p) + self.before(q)) / 2
            means[k] = total / width
        return means


def step_values(p: Profile, starts: np.ndarray, width: float, at_end: bool) -> np.ndarray:
    """What each step [s, s + width] takes of ``p``: its mean, or (``at_end``) its value at the step's end.

    The end value is what a second-order scheme (BDF2) wants of a smooth
    exposure; a step with a knot inside takes its mean all the same, so that
    a jump between record times keeps the energy the step receives.
    """
    starts = np.asarray(starts, dtype=float)
    means = p.step_means(starts, width)
    if not at_end:
        return means
    # A step end that is a knot but for rounding (9.995 + 0.005 lies an ulp past 10) is that knot.
    ends = starts + width
    if len(p.t):
        near = p.t[_clip(np.searchsorted(p.t, ends), 0, len(p.t) - 1)]
        below = p.t[_clip(np.searchsorted(p.t, ends) - 1, 0, len(p.t) - 1)]
        for knot in (near, below):
            ends = np.where(np.abs(ends - knot) <= 1e-9 * width, knot, ends)
    straight = ~p._knots_inside(starts, ends)
    means[straight] = p.before(ends[straight])
    return means


def product_step_means(p: Profile, q: Profile, starts: np.ndarray, width: float) -> np.ndarray:
    """Mean of the product p*q over [s, s + width] for each start s (exact: Simpson on each linear piece)."""
    starts = np.asarray(starts, dtype=float)
    union = np.unique(np.concatenate((p.t, q.t)))

    def simpson(a: np.ndarray, b: np.ndarray) -> np.ndarray:
        # p and q are straight on (a, b): their product is a quadratic.
        m = (a + b) / 2
        fa = p.after(a) * q.after(a)
        fb = p.before(b) * q.before(b)
        return (b - a) / 6 * (fa + 4 * p.after(m) * q.after(m) + fb)

    cum = np.concatenate(([0.0], np.cumsum(simpson(union[:-1], union[1:])))) if len(union) > 1 else np.zeros(1)

    def integral(x: np.ndarray) -> np.ndarray:
        i = _clip(np.searchsorted(union, x, side="right") - 1, 0, len(union) - 1)
        return cum[i] + simpson(union[i], x)

    return (integral(starts + width) - integral(starts)) / width


def record_values(profile: Profile, deltat_s: float, steps: int, sampling: str,
                  at_end: bool = False) -> np.ndarray:
    """The value of each record 0 ... ``steps`` so that every step sees what it takes of the profile.

    ``sampling`` is ``"start"`` (the step takes its first record's value:
    CONVECTION, FLUX under backward Euler) or ``"end"`` (its last record's:
    TEMPERATURE, and every face under BDF2). A step takes the profile's mean
    over it, or with ``at_end`` its value at the step's end (:func:`step_values`).
    """
    k = np.arange(steps + 1)
    if sampling == "start":
        return step_values(profile, k * deltat_s, deltat_s, at_end)
    if sampling == "end":
        return end_records(float(profile.after(np.array([0.0]))[0]),
                           step_values(profile, k * deltat_s, deltat_s, at_end))
    raise ValueError(f"sampling is 'start' or 'end', not {sampling!r}")


def end_records(first: float, per_step: np.ndarray) -> np.ndarray:
    """Records 0 ... n from the values of the steps starting at records 0 ... n, each at its step's end.

    Record 0 is ``first`` (the value at time 0); record k the value of the
    step that ends there.
    """
    return np.concatenate((np.array([first], dtype=float), np.asarray(per_step, dtype=float)[:-1]))


def table_pairs(values: np.ndarray, deltat_s: float, limit: int = 30000) -> list[tuple[float, float]]:
    """Pairs (time s, value) through the records' values, points on a straight line left out.

    The pairs stand at the record times k * ``deltat_s``; the last is
    repeated one step beyond the run's end, so the table covers the run.
    """
    v = np.asarray(values, dtype=float)
    n = len(v)
    keep = np.zeros(n, dtype=bool)
    keep[0] = keep[-1] = True
    if n > 2:
        d1 = v[1:-1] - v[:-2]
        d2 = v[2:] - v[1:-1]
        scale = np.maximum(np.abs(v[:-2]), np.maximum(np.abs(v[1:-1]), np.abs(v[2:])))
        keep[1:-1] = np.abs(d2 - d1) > 1e-11 * np.maximum(scale, 1e-300)
        # Equal neighbours must stay exactly equal: keep a point beside which
        # the values change.
        keep[1:-1] |= (d1 == 0) != (d2 == 0)
    pairs = [(float(i * deltat_s), float(v[i])) for i in np.nonzero(keep)[0]]
    pairs.append((float(n * deltat_s), float(v[-1])))
    if len(pairs) > limit:
        raise ValueError(f"the table needs {len(pairs)} pairs, more than the {limit} skinburn reads; "
                         "give the exposure with fewer points or use a longer DELTAT")
    return pairs


def staircase_pairs(values: np.ndarray, deltat_s: float) -> list[tuple[float, float]]:
    """Pairs (time s, value) giving each record exactly its value, the changes halfway between records.

    For tables whose values must be met exactly (the jet's 1.0), whatever the
    rounding of the program's record times.
    """
    v = np.asarray(values, dtype=float)
    pairs = [(0.0, float(v[0]))]
    for k in np.nonzero(v[1:] != v[:-1])[0]:
        half = (k + 0.5) * deltat_s
        pairs += [(float(half), float(v[k])), (float(half), float(v[k + 1]))]
    pairs.append((float(len(v) * deltat_s), float(v[-1])))
    return pairs


def partial_means(p: Profile, starts: np.ndarray, widths: np.ndarray) -> np.ndarray:
    """Mean of ``p`` over [s, s + w] per step (w > 0), constants exact."""
    out = np.empty(len(starts))
    for w in np.unique(widths):
        sel = widths == w
        out[sel] = p.step_means(starts[sel], float(w)) if w > 0 else p.after(starts[sel])
    return out
