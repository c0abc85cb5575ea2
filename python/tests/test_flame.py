"""A flame's face: convection, an absorbed radiant flux and the surface's re-radiation.

Its agreement with SciPy's integration of the same face is a band of the
verification (vv/flame_face.py, checked by vv.bands); here what the face
does beyond it."""
import json

import numpy as np
import pytest

import skinburn as sb
from vv import flame_face as ff


def flame_trial(**kw):
    flame = sb.Flame(ff.H, sb.kelvin(ff.GAS_K), ff.Q, ff.DURATION_S, **{"emissivity": ff.EPS,
                                                                        "surroundings": sb.kelvin(ff.SURR_K), **kw})
    return sb.Trial(sb.UNIFORM_DERMIS, sb.InitialProfile.uniform(sb.kelvin(ff.T0_K)), flame, inner=sb.Insulated(),
                    grid=sb.Grid(*ff.GRID, time_scheme="bdf2"), after_exposure_s=0.01)


def test_a_flame_face_agrees_with_an_independent_integration_and_its_reradiation_counts(program):
    found = ff.verify(program)
    assert all(held for *_, held in found.bands), found.rows
    res = sb.run(flame_trial(), program)
    end = res.temperature_K[int(round(ff.DURATION_S / res.deltat_s)), 0]
    # The run holds the surface temperature it was linearized about, its own to the tolerance.
    held = res.trial.exposure.surface_K
    assert held is not None and abs(np.interp(ff.DURATION_S, held.times_s, held.values) - end) \
        <= sb.runs.FLAME_TOLERANCE_K
    # A flame trial goes as a document where searches and studies send it (GNU parallel's job files).
    assert sb.trial_from_dict(json.loads(json.dumps(res.trial.to_dict()))) == res.trial
    # The re-radiation (about 0.8 kW/m2 at the end) counts: without it the surface ends 0.55 K hotter.
    plain = sb.run(flame_trial(emissivity=0.0, absorptivity=ff.EPS), program)
    assert 0.4 < plain.temperature_K[int(round(ff.DURATION_S / res.deltat_s)), 0] - end < 0.7


@pytest.mark.parametrize("kw, message", [
    ({"emissivity": 1.5}, "emissivity must lie from 0 to 1"),
    ({"radiant_W_m2": -1.0}, "radiant_W_m2 must be at least 0"),
    ({"surface_K": sb.Series([0, 1], [300, 310])}, "must hold temperatures"),
])
def test_a_flame_refuses_what_no_flame_is(kw, message):
    args = {"h_W_m2K": ff.H, "gas": sb.kelvin(ff.GAS_K), "radiant_W_m2": ff.Q, "duration_s": ff.DURATION_S, **kw}
    with pytest.raises((ValueError, TypeError), match=message):
        sb.Flame(**args)
