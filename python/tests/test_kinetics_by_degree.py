"""Kinetics per degree: each criterion judged under its own model, named in the verdict."""
import dataclasses

import numpy as np
import pytest

import skinburn as sb
from skinburn.criteria import KineticsByDegree, KineticsChoiceError, kinetics_choice, resolved
from skinburn.searches import SearchJob, job_from_dict, job_to_dict

from test_assess import DX, fabricated
from test_cli import cli

H, WS = sb.HENRIQUES_1947, sb.WEAVER_STOLL_1969
# Criterion depths on nodes 5 and 21 of the made-up histories (DX = 20 um).
SKIN = dataclasses.replace(sb.UNIFORM_DERMIS, epidermis_base_m=80e-6, dermis_base_m=400e-6)


# --- The choice, as the command line and the study tool write it ----------------------------

@pytest.mark.parametrize("text, models", [
    ("weaver-stoll", WS),
    ("2=weaver-stoll,3=henriques", KineticsByDegree(None, WS, H)),
    (" 3 = henriques ", KineticsByDegree(third=H)),
    ("weaver-stoll,3=henriques", KineticsByDegree(WS, WS, H)),
    ("3=henriques,henriques-1947", KineticsByDegree(H, H, H)),
])
def test_a_choice_is_read_as_the_command_line_writes_it(text, models):
    assert kinetics_choice(text) == models


@pytest.mark.parametrize("text, match", [
    ("4=henriques", "degree of 1, 2, 3"),
    ("0=henriques", "degree of 1, 2, 3"),
    ("two=henriques", "degree of 1, 2, 3"),
    ("2=", "DEGREE=PRESET"),
    ("2=henriques,2=weaver-stoll", "degree 2 is named twice"),
    ("henriques,weaver-stoll", "at most one PRESET"),
    ("2=henriques,,3=weaver-stoll", "DEGREE=PRESET"),
])
def test_a_wrong_choice_says_what_may_be_given(text, match):
    with pytest.raises(KineticsChoiceError, match=match):
        kinetics_choice(text)


def test_an_unknown_preset_names_the_presets():
    for text in ("2=stoll", "stoll,3=henriques", "stoll"):
        with pytest.raises(KeyError, match="presets: program-default, henriques-1947, weaver-stoll-1969"):
            kinetics_choice(text)


def test_degrees_left_open_take_the_default_and_one_model_collapses():
    assert resolved(KineticsByDegree(third=H), WS) == KineticsByDegree(WS, WS, H)
    assert resolved(KineticsByDegree(third=H), KineticsByDegree(H, WS, WS)) == KineticsByDegree(H, WS, H)
    assert resolved(KineticsByDegree(second=H), H) is H  # every degree the one model: that model
    assert resolved(None, WS) is WS
    choice = KineticsByDegree(second=WS, third=H)
    assert choice.name == "Weaver-Stoll 1969 for degree 2, Henriques 1947 for degree 3, the default for degree 1"
    assert choice.filled(WS).name == "Weaver-Stoll 1969 for degrees 1 and 2, Henriques 1947 for degree 3"
    with pytest.raises(KineticsChoiceError, match="no kinetics is named for degree 1"):
        choice.kinetics(1)
    with pytest.raises(ValueError, match="burn degrees are 1, 2 and 3"):
        KineticsByDegree.of({4: H})
    with pytest.raises(TypeError, match="degree 3 is a Kinetics"):
        KineticsByDegree(third="henriques")  # type: ignore[arg-type]


def test_a_choice_keeps_through_json_and_a_trials_keys():
    fire = sb.scenarios.flash_fire()  # Weaver-Stoll for every degree
    trial = fire.replace("kinetics", "3=henriques")
    assert trial.kinetics == KineticsByDegree(WS, WS, H)  # the trial's own model for degrees 1 and 2
    assert sb.trial_from_dict(trial.to_dict()) == trial
    assert trial.replace("kinetics.third", "weaver-stoll").kinetics is WS  # one model again
    assert fire.replace("kinetics", {"per_degree": {"3": {"preset": "henriques-1947"}}}).kinetics == trial.kinetics
    job = SearchJob(fire, "exposure.duration_s", 1.0, 2.0, degree=3, kinetics=KineticsByDegree(second=WS, third=H))
    assert job_from_dict(job_to_dict(job)) == job


# --- Judging: each criterion under its own model --------------------------------------------

def heated(tmp_path, epidermis_K: float, dermis_K: float):
    """Results of 2 s at a temperature falling linearly with depth from ``epidermis_K`` at 80 um to
    ``dermis_K`` at 400 um, then 18 s at 300 K (no damage under either model: the damage has stopped)."""
    depth = np.arange(26) * DX
    hot = np.interp(depth, [80e-6, 400e-6], [epidermis_K, dermis_K], left=None, right=None)
    hot = np.where(depth < 80e-6, epidermis_K, hot)
    hist = np.vstack([np.tile(hot, (5, 1)), np.full((36, 26), 300.0)])
    return fabricated(tmp_path, hist)


def test_each_criterion_is_judged_under_its_own_model(tmp_path):
    res = heated(tmp_path, 340.0, 331.0)
    ws, h = sb.assess(res, SKIN, WS), sb.assess(res, SKIN, H)
    # At 331 K for 2 s Weaver-Stoll passes the third-degree criterion and Henriques does not.
    assert (ws.degree, h.degree) == (3, 2)
    a = sb.assess(res, SKIN, KineticsByDegree(WS, WS, H))
    assert a.degree == 2 and a.kinetics_of(2) is WS and a.kinetics_of(3) is H
    assert sb.assess(res, SKIN, KineticsByDegree(H, H, WS)).degree == 3
    assert a.omega_epidermis_base == ws.omega_epidermis_base and a.omega_dermis_base == h.omega_dermis_base
    assert a.depth_reached_m == {0.53: ws.depth_reached_m[0.53], 1.0: ws.depth_reached_m[1.0]}
    assert a.criterion_times_s == {1: ws.criterion_times_s[1], 2: ws.criterion_times_s[2], 3: None}
    assert [p.kinetics for p in a.parts] == [WS, H]
    lines = a.verdict().splitlines()
    assert lines[0] == ("Second-degree burn (kinetics per degree: Weaver-Stoll 1969 for degrees 1 and 2, "
                        "Henriques 1947 for degree 3).")
    assert lines[2] == ("  Second degree (Omega >= 1 at the epidermis base, 80 um) under Weaver-Stoll 1969: "
                        f"Omega {ws.omega_epidermis_base:.3g}, met.")
    assert lines[3] == (f"  Third degree (Omega >= 1 at the dermis base, 400 um) under Henriques 1947: "
                        f"Omega {h.omega_dermis_base:.3g}, not met.")
    assert lines[5].startswith("  Under Henriques 1947: Omega >= 0.53 reaches ")
    row = a.row()
    assert row["kinetics_degree_2"] == "Weaver-Stoll 1969" and row["kinetics_degree_3"] == "Henriques 1947"
    assert row["degree"] == 2 and "kinetics_degree_1" not in ws.row()


def test_one_model_for_every_degree_is_judged_as_that_model(tmp_path):
    res = heated(tmp_path, 340.0, 329.0)
    alone = sb.assess(res, SKIN, H)
    same = sb.assess(res, SKIN, KineticsByDegree(H, H, H))
    assert same == alone and same.verdict() == alone.verdict() and same.row() == alone.row()


def test_a_deeper_criterion_met_under_a_harsher_model_is_the_degree_and_noted(tmp_path):
    # Below 44 C at the epidermis base Weaver-Stoll gives no damage; the dermis base, hotter (a made-up
    # profile), passes Henriques' third-degree criterion.
    res = heated(tmp_path, 316.0, 335.0)
    ws, h = sb.assess(res, SKIN, WS), sb.assess(res, SKIN, H)
    assert ws.omega_epidermis_base == 0.0 and h.omega_dermis_base > 1.0
    a = sb.assess(res, SKIN, KineticsByDegree(WS, WS, H))
    assert a.degree == 3
    assert ("the third-degree criterion is met under Henriques 1947 while the first-degree one is not under "
            "Weaver-Stoll 1969: the degree is the highest whose criterion is met") in a.notes
    assert sum("while the second-degree one is not" in n for n in a.notes) == 1
    assert "  First degree (Omega >= 0.53 at the epidermis base, 80 um) under Weaver-Stoll 1969: Omega 0, not met." \
        in a.verdict().splitlines()


def test_a_data_directory_leaves_open_degrees_to_the_programs_constants(program, examples, tmp_path):
    out = cli(program, "assess", examples / "airbag-jet", "--skin", "uniform", "--kinetics", "3=henriques",
              "--nodes-csv", tmp_path / "n.csv")
    assert out.returncode == 0, out.stderr
    first = out.stdout.splitlines()[0]
    assert first.endswith("(kinetics per degree: as the program read it for degrees 1 and 2, Henriques 1947 for degree 3).")
    assert "Note: the first and second degrees are judged under the program's own constants" in out.stdout
    assert "under its constants, not as the program read it for degrees 1 and 2" in out.stdout
    header = (tmp_path / "n.csv").read_text().splitlines()[0].split(",")
    assert header[-3:] == ["omega_degree_1", "omega_degree_2", "omega_degree_3"]
    for bad, says in (("4=henriques", "degree of 1, 2, 3"), ("2=nosuch", "unknown kinetics 'nosuch'")):
        out = cli(program, "assess", examples / "airbag-jet", "--skin", "uniform", "--kinetics", bad)
        assert out.returncode == 2 and says in out.stderr and "Traceback" not in out.stderr


# --- Runs: a trial settles under each model, a search under its degree's --------------------

def test_a_trial_with_a_model_per_degree_settles_its_grid_under_each(program):
    trial = sb.scenarios.flash_fire(duration_s=4.0).replace("kinetics", "3=henriques")
    res = sb.run(trial, program)
    st = res.settlement
    assert [k for k, _ in st.by_kinetics] == [WS, H]
    assert st.levels == tuple(max(s.levels[d] for _, s in st.by_kinetics) for d in (0, 1))
    assert st.after_exposure_s == max(s.after_exposure_s for _, s in st.by_kinetics)
    assert st.runs == sum(s.runs for _, s in st.by_kinetics) + (0 if any(
        s.levels == st.levels and s.after_exposure_s == st.after_exposure_s for _, s in st.by_kinetics) else 1)
    a = sb.assess(res)
    assert a.kinetics == KineticsByDegree(WS, WS, H)
    text = a.verdict()
    assert "Numerical uncertainty under Weaver-Stoll 1969 (the ± above)" in text
    assert "Numerical uncertainty under Henriques 1947 (the ± above)" in text
    assert a.uncertainty["time 3"] == a.parts[1].uncertainty["time 3"]
    assert a.uncertainty["time 2"] == a.parts[0].uncertainty["time 2"]


def test_a_search_for_third_degree_judges_under_degree_3s_model(program):
    trial = sb.scenarios.flash_fire(flux_W_m2=40e3).replace("grid", sb.Grid(40e-6, 0.05)) \
        .replace("after_exposure_s", 600.0)
    args = (trial, "exposure.duration_s", 1.0, 12.0)
    by_degree = sb.search(*args, degree=3, kinetics=KineticsByDegree(second=WS, third=H), rtol=1e-2,
                          program=program)
    alone = sb.search(*args, degree=3, kinetics=H, rtol=1e-2, program=program)
    assert by_degree.kinetics == "Henriques 1947"
    assert by_degree.value == alone.value
    own = sb.search(trial.replace("kinetics", "2=henriques,3=weaver-stoll"), "exposure.duration_s", 1.0, 12.0,
                    degree=2, rtol=1e-2, program=program)
    assert own.kinetics == "Henriques 1947"
