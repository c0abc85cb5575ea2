"""The impinging-jet coefficient by hand (docs/jet.md) against the program, to the last digit."""
import math
import re

import numpy as np

import skinburn as sb
from conftest import REPO


def hand_coefficient(gas_K: float, surface_K: float, velocity_m_s: float, rows: np.ndarray, diameter_m: float,
                     standoff_ratio: float, near_field: bool) -> float:
    """h in W/(m^2 K) on the jet's axis (R = 0), written from docs/jet.md step by step.

    ``rows``: the gas table, columns T (K), nu (m^2/s), k (W/(m K)), Pr; properties linear between rows.
    """
    def prop(column: int, T: float) -> float:
        return float(np.interp(T, rows[:, 0], rows[:, column]))

    reynolds = velocity_m_s * diameter_m / prop(1, gas_K)
    film = (gas_K + surface_K) / 2
    H = standoff_ratio
    assert 0 < H <= 5.5
    C = 1.06 - 0.03 * H + (2e-6 * reynolds * math.exp(-((H - 4.4) ** 2) / 0.7) if near_field else 0.0)
    nu0 = 1.1613 * reynolds ** 0.5041 * prop(3, film) ** 0.42 * C
    return nu0 * prop(2, film) / diameter_m


def test_the_airbag_examples_first_coefficient_by_hand(program, examples):
    res = sb.run(examples / "airbag-jet", program)
    jet = res.inputs.document["jet"]
    rows = np.array(jet["gas_table"]["rows"])
    (t0, v0), *_ = jet["velocity_pairs"]
    face = res.face()
    hand = hand_coefficient(face["ambient_K"][0], float(res.temperature_K[0, 0]), v0, rows,
                            jet["nozzle_diameter_m"]["value"], jet["standoff_ratio"], jet["option"]["value"] == 1.0)
    assert t0 == 0.0
    assert math.isclose(face["h_W_m2K"][0], hand, rel_tol=1e-14)
    # The page shows the same number.
    page = (REPO / "docs" / "jet.md").read_text(encoding="utf-8")
    assert f"**{face['h_W_m2K'][0]:.4f} W/(m²·K)**" in page
    assert repr(face["h_W_m2K"][0]) in page
    # Every later step's coefficient follows the same formula from that step's gas, surface and velocity.
    surface = res.temperature_K[:, 0]
    times = np.array([p[0] for p in jet["velocity_pairs"]])
    speeds = np.array([p[1] for p in jet["velocity_pairs"]])
    for j in (1, 250, 999):  # step j + 1's coefficient, formed at j * DELTAT
        v = float(np.interp(j * res.deltat_s, times, speeds))
        expected = hand_coefficient(face["ambient_K"][j], float(surface[j]), v, rows, 0.01, 5.0, True)
        assert math.isclose(face["h_W_m2K"][j], expected, rel_tol=1e-12), j
