"""The trial writer: the directories it writes, as the program reads them (--check=json); values refused
where they enter."""
import dataclasses
import json
import math

import numpy as np
import pytest

import skinburn as sb
from skinburn.exposure import AIR_1ATM
from skinburn.kinetics import Regime
from skinburn.trial import trial_from_dict
from skinburn.writer import write_trial

SKIN = sb.TORVI_DALE_1994
INIT = sb.InitialProfile.linear(sb.celsius(32.5), sb.celsius(37))


def trial(exposure, inner=sb.HeldTemperature(), grid=sb.Grid(80e-6 / 7.5, 0.05), after=1.0, **kw):
    return sb.Trial(SKIN, INIT, exposure, inner=inner, grid=grid, after_exposure_s=after, **kw)


JET = sb.AirbagJet(0.01, 0.05, sb.Series([0, 0.06, 0.2], sb.kelvin([1000, 1000, 600])),
                   sb.Series([0, 0.06, 0.2], [120, 120, 20]), duration_s=0.1)
CASES = {
    "flux": trial(sb.HeatFlux(20e3, 3.03)),
    "flux-series-cooling": trial(sb.HeatFlux(sb.Series([0, 1, 1, 2], [3e4, 3e4, -5e3, -5e3]), 2.0),
                                 inner=sb.Insulated()),
    "convection": trial(sb.Convection(200.0, sb.kelvin(500), 2.0, after_h_W_m2K=10.0,
                                      after_gas=sb.celsius(20)),
                        inner=sb.InnerConvection(50.0, sb.celsius(37))),
    "hot-liquid": trial(sb.SurfaceTemperature(sb.celsius(60), 5.0), after=2.0),
    "jet": trial(JET, grid=sb.Grid(20e-6, 1e-4), after=0.05),
}


def check(program, trial_, path):
    layout = write_trial(trial_, path)
    return layout, program.check(path)


@pytest.mark.parametrize("name", list(CASES))
def test_written_directories_pass_check_without_warning_and_run(program, tmp_path, name):
    layout, report = check(program, CASES[name], tmp_path / name)
    assert report.would_start, report.error
    assert report.warnings == []
    assert report.grid["nodes"] == layout.nodes and report.grid["timesteps"] == layout.steps
    res = sb.run(CASES[name], program)
    assert res.status == 0 and res.outcome in ("burn-depth", "all-above", "all-below")
    assert res.temperature_K.shape == (layout.steps + 1, layout.nodes)


def test_layers_lie_halfway_between_nodes_by_the_rule(program, tmp_path):
    # 80 um / 7.5: the epidermis base halfway between nodes 8 and 9.
    layout, report = check(program, CASES["flux"], tmp_path / "mid")
    k = np.array(report.laid_values("conductivity"))
    depth = np.arange(layout.nodes) * layout.deltax_m
    assert layout.placed_boundaries_m[0] == pytest.approx(80e-6, rel=1e-12)
    assert np.all(k[depth < 80e-6] == 0.255) and k[8] == 0.523
    assert abs(layout.placed_boundaries_m[1] - 2.08e-3) <= layout.deltax_m / 2 * (1 + 1e-9)
    # 10 um: node 9 stands on the boundary and belongs to the epidermis.
    layout, report = check(program, CASES["flux"].replace("grid", sb.Grid(10e-6, 0.05)), tmp_path / "on")
    k = np.array(report.laid_values("conductivity"))
    assert k[8] == 0.255 and k[9] == 0.523
    assert layout.placed_boundaries_m[0] == pytest.approx(85e-6)
    rho = np.array(report.laid_values("density"))
    c = np.array(report.laid_values("heat_capacity"))
    assert rho[-1] == 1000.0 and c[-1] == 2500.0 and c[0] == 3590.0


def test_initial_profile_runs_from_surface_to_core_at_the_inner_face(program, tmp_path):
    layout, report = check(program, CASES["flux"], tmp_path / "d")
    t = np.array(report.laid_values("initial_temperature"))
    assert t[0] == pytest.approx(305.65) and t[-1] == pytest.approx(310.15)
    assert np.all(np.diff(t) > 0)
    right = np.array(report.laid_values("right_bc"))
    assert np.all(right == pytest.approx(310.15))


def test_each_step_sees_the_mean_of_the_exposure(program, tmp_path):
    # 3.03 s of flux on 0.05 s steps: 60 whole steps and 0.6 of the 61st.
    layout, report = check(program, CASES["flux"], tmp_path / "f")
    q = np.array(report.laid_values("left_bc"))
    assert np.all(q[:60] == 20e3) and q[60] == pytest.approx(0.6 * 20e3, rel=1e-9) and np.all(q[61:] == 0)
    assert q[:-1].sum() * 0.05 == pytest.approx(20e3 * 3.03, rel=1e-12)
    # A held temperature takes the mean over the step that ends at each record.
    hot = CASES["hot-liquid"].replace("exposure.duration_s", 5.02)
    layout, report = check(program, hot, tmp_path / "h")
    tb = np.array(report.laid_values("left_bc"))
    k = int(round(5.0 / 0.05))  # record at 5.0 s ends the last whole step of contact
    assert tb[k] == pytest.approx(333.15)
    assert tb[k + 1] == pytest.approx(0.4 * 333.15 + 0.6 * 310.15, rel=1e-12)
    assert tb[k + 2] == pytest.approx(310.15)
    # Convection: the mean h, and the gas temperature that gives the mean h*T.
    conv = CASES["convection"].replace("exposure.duration_s", 2.01)
    layout, report = check(program, conv, tmp_path / "c")
    h = np.array(report.laid_values("left_bc"))
    gas = np.array(report.laid_values("left_ambient"))
    k = 40  # the step from 2.00 to 2.05 s holds 0.01 s of exposure
    assert h[k] == pytest.approx(0.2 * 200 + 0.8 * 10)
    assert h[k] * gas[k] == pytest.approx(0.2 * 200 * 500 + 0.8 * 10 * 293.15, rel=1e-12)
    assert h[k - 1] == 200 and gas[k - 1] == 500 and h[k + 1] == 10 and gas[k + 1] == pytest.approx(293.15)


def test_negative_flux_goes_to_its_own_file(program, tmp_path):
    layout, report = check(program, CASES["flux-series-cooling"], tmp_path / "n")
    assert "LEFTBC.DAT" in layout.files
    assert report.block("left_bc")["source"] == "LEFTBC.DAT"
    q = np.array(report.laid_values("left_bc"))
    assert q[0] == 3e4 and q[25] == -5e3 and q[-1] == 0.0


def test_jet_coefficient_is_selected_exactly_for_every_step_of_the_jet(program, tmp_path):
    layout, report = check(program, CASES["jet"], tmp_path / "j")
    b = np.array(report.laid_values("left_bc"))
    assert np.all(b[:1000] == 1.0) and np.all(b[1000:] == 0.0)
    jet = report.jet
    assert jet["standoff_ratio"] == pytest.approx(5.0) and jet["nozzle_diameter_m"]["value"] == 0.01
    assert len(jet["velocity_pairs"]) <= 1000
    assert [tuple(r) for r in jet["gas_table"]["rows"]] == list(AIR_1ATM.rows)
    gas = np.array(report.laid_values("left_ambient"))
    assert gas[0] == 1000.0 and gas[599] == 1000.0
    assert gas[700] == pytest.approx(1000 - 400 * (0.07005 - 0.06) / 0.14, rel=1e-9)


def test_kinetics_the_program_can_hold_are_written_into_data_dat(program, tmp_path):
    _, report = check(program, CASES["flux"].replace("kinetics", sb.HENRIQUES_1947), tmp_path / "h")
    assert [report.value(n) for n in ("FREQFACTOR", "FREQEXP", "ACTENERGY", "GASCONST")] == [3.1, 98, 628000.0, 8.314]
    _, report = check(program, CASES["flux"].replace("kinetics", sb.WEAVER_STOLL_1969), tmp_path / "w")
    assert report.value("FREQFACTOR") == 3.442707 and report.value("ACTENERGY") == 623580.0


def test_capacity_and_automatic_settings_are_refused_before_writing(tmp_path):
    with pytest.raises(ValueError, match="nodes"):
        write_trial(CASES["flux"].replace("grid", sb.Grid(1e-7, 0.05)), tmp_path / "a")
    with pytest.raises(ValueError, match="steps"):
        write_trial(CASES["flux"].replace("grid", sb.Grid(1e-5, 1e-4)), tmp_path / "b")
    with pytest.raises(ValueError, match="automatic"):
        write_trial(CASES["flux"].replace("grid", sb.AutoGrid()), tmp_path / "c")
    with pytest.raises(ValueError, match="stand-off"):
        sb.AirbagJet(0.01, 0.25, sb.kelvin(900), 100.0, 0.1)
    assert not (tmp_path / "a").exists()


def test_json_description_round_trips_to_the_same_files(tmp_path):
    for name, t in CASES.items():
        back = trial_from_dict(json.loads(json.dumps(t.to_dict())))
        a = write_trial(t, tmp_path / f"{name}-a")
        b = write_trial(back, tmp_path / f"{name}-b")
        for f in a.files:
            assert (a.directory / f).read_bytes() == (b.directory / f).read_bytes(), (name, f)


# --- Tables against time, without the program ---------------------------------------

from skinburn.sampling import Profile, record_values, staircase_pairs, table_pairs  # noqa: E402


def test_step_means_are_exact_across_ramps_and_jumps():
    # A ramp 0 -> 10 over 1 s, a jump to 4 at 1.5 s, cut at 2.2 s to 1.
    p = Profile.cut((np.array([0.0, 1.0, 1.5, 1.5]), np.array([0.0, 10.0, 10.0, 4.0])), 2.2, 1.0)
    fine = np.linspace(0, 3, 300001)
    vals = np.where(fine < 1, 10 * fine, np.where(fine < 1.5, 10, np.where(fine < 2.2, 4, 1)))
    means = p.step_means(np.arange(6) * 0.5, 0.5)
    expect = [vals[(fine >= a) & (fine < a + 0.5)].mean() for a in np.arange(6) * 0.5]
    assert means == pytest.approx(expect, abs=2e-4)
    assert means[3] == 4.0 and means[5] == 1.0                   # constants stay exact
    # A jump standing exactly at the end keeps the value before it.
    q = Profile.cut((np.array([0.0, 2.0, 2.0]), np.array([5.0, 5.0, 9.0])), 2.0, 0.0)
    assert q.step_means(np.array([1.5, 2.0]), 0.5).tolist() == [5.0, 0.0]


def test_tables_meet_every_record_and_stay_short():
    p = Profile.cut((np.array([0.0, 0.06, 0.2]), np.array([1000.0, 1000.0, 600.0])), 0.1, 310.0)
    v = record_values(p, 1e-4, 2500, "start")
    pairs = table_pairs(v, 1e-4)
    x, y = np.array(pairs).T
    records = np.arange(2501) * 1e-4
    assert np.interp(records, x, y) == pytest.approx(v, rel=1e-10)
    assert len(pairs) < 10 and x[-1] > records[-1]
    # A staircase gives each record its value exactly, wherever the program's
    # record times round to.
    b = np.where(records < 0.1, 1.0, 0.0)
    x, y = np.array(staircase_pairs(b, 1e-4)).T
    for jitter in (-1e-12, 0.0, 1e-12):
        assert np.array_equal(np.interp(records * (1 + jitter), x, y), b)


def test_a_trial_reproduces_the_hand_written_convection_example(program, examples):
    # examples/convection: h = 200 W/(m^2 K) from gas at 500 K for 2 s on 4 mm of
    # uniform skin at 310 K, 41 nodes 0.1 mm apart, 200 steps of 10 ms.
    skin = sb.Skin.uniform(0.37, 1000.0, 3600.0, 4e-3, epidermis_base_m=80e-6, dermis_base_m=2.08e-3)
    t = sb.Trial(skin, sb.InitialProfile.uniform(sb.kelvin(310)), sb.Convection(200.0, sb.kelvin(500), 2.0),
                 inner=sb.HeldTemperature(sb.kelvin(310)), grid=sb.Grid(1e-4, 0.01), after_exposure_s=0.0)
    ours = sb.run(t, program)
    theirs = sb.run(examples / "convection", program)
    assert ours.temperature_K.shape == theirs.temperature_K.shape == (201, 41)
    assert np.array_equal(ours.temperature_K, theirs.temperature_K)
    assert np.array_equal(ours.program_omega, theirs.program_omega)

NAN, INF = math.nan, math.inf
LAYER = ("skin", 1e-3, 0.5, 1000.0, 3600.0)


def jet(**kw):
    args = dict(nozzle_diameter_m=0.01, standoff_m=0.05, gas_temperature=sb.kelvin(900), gas_velocity_m_s=100.0,
                duration_s=0.1)
    args.update(kw)
    return sb.AirbagJet(**args)


def table(row):
    rows = list(sb.AIR_1ATM.rows)
    rows[4] = row
    return sb.GasTable("edited air", tuple(rows))


# (how the value is given, the words the message must hold: the value and its unit)
REFUSED = {
    "jet velocity -30": (lambda: jet(gas_velocity_m_s=-30.0), ["gas_velocity_m_s", "-30.0 m/s"]),
    "jet velocity -0.001": (lambda: jet(gas_velocity_m_s=-0.001), ["gas_velocity_m_s", "-0.001 m/s"]),
    "jet velocity 0": (lambda: jet(gas_velocity_m_s=0.0), ["gas_velocity_m_s", "0.0 m/s"]),
    "jet velocity series": (lambda: jet(gas_velocity_m_s=sb.Series([0, 0.05, 0.2], [120, 20, -5])),
                            ["gas_velocity_m_s", "-5.0 m/s", "0.2 s"]),
    "jet Reynolds -5000": (lambda: jet(reynolds=-5000.0), ["reynolds", "-5000.0"]),
    "jet Reynolds 0": (lambda: jet(reynolds=0.0), ["reynolds", "0.0"]),
    "jet Reynolds NaN": (lambda: jet(reynolds=NAN), ["reynolds", "nan"]),
    "jet off-axis NaN": (lambda: jet(offaxis_spacing_m=NAN), ["offaxis_spacing_m", "nan m"]),
    "jet nozzle infinite": (lambda: jet(nozzle_diameter_m=INF), ["nozzle_diameter_m", "inf m"]),
    "jet after h NaN": (lambda: jet(after_h_W_m2K=NAN), ["after_h_W_m2K", "nan W/(m^2 K)"]),
    "gas table": (lambda: table((450.0, -3.2e-05, 0.0373, 0.686)), ["viscosity", "row 5", "m^2/s"]),
    "nodes 2.5": (lambda: sb.Grid(1e-4, 0.01, nodes=2.5), ["nodes", "2.5"]),
    "nodes 1": (lambda: sb.Grid(1e-4, 0.01, nodes=1), ["nodes", "at least 2"]),
    "deltat_s NaN": (lambda: sb.Grid(1e-4, NAN), ["deltat_s", "nan s"]),
    "deltax_m infinite": (lambda: sb.Grid(INF, 0.01), ["deltax_m", "inf m"]),
    "series NaN time": (lambda: sb.Series([0, NAN, 2], [1, 2, 3]), ["time 2", "nan s"]),
    "series time going back": (lambda: sb.Series([0, 2, 1], [1, 2, 3]), ["1.0 s after 2.0 s"]),
    "series infinite time": (lambda: sb.Series([0, INF], [1, 1]), ["time 2", "inf s"]),
    "series NaN value": (lambda: sb.Series([0, 1], [1, NAN]), ["nan", "1.0 s"]),
    "series NaN temperature": (lambda: sb.Series([0, 1], sb.kelvin([310, NAN])), ["nan"]),
    "convection h -100": (lambda: sb.Convection(-100.0, sb.kelvin(500), 2.0), ["h_W_m2K", "-100.0 W/(m^2 K)"]),
    "convection h series": (lambda: sb.Convection(sb.Series([0, 1], [200, -1]), sb.kelvin(500), 2.0),
                            ["h_W_m2K", "-1.0 W/(m^2 K)", "1.0 s"]),
    "convection after h infinite": (lambda: sb.Convection(200.0, sb.kelvin(500), 2.0, after_h_W_m2K=INF,
                                                          after_gas=sb.kelvin(300)), ["after_h_W_m2K", "inf"]),
    "flux NaN": (lambda: sb.HeatFlux(NAN, 2.0), ["flux_W_m2", "nan W/m^2"]),
    "duration negative": (lambda: sb.HeatFlux(1e4, -2.0), ["duration_s", "-2.0 s"]),
    "inner h infinite": (lambda: sb.InnerConvection(INF, sb.celsius(37)), ["h_W_m2K", "inf W/(m^2 K)"]),
    "layer conductivity": (lambda: sb.Layer("skin", 1e-3, -0.5, 1000.0, 3600.0),
                           ["conductivity_W_mK", "-0.5 W/(m K)"]),
    "criterion depths swapped": (lambda: sb.Skin("s", (sb.Layer(*LAYER),), "", 5e-4, 8e-5),
                                 ["epidermis base", "below"]),
    "regime NaN": (lambda: Regime(NAN, 1e50, 4e4), ["from_K", "nan K"]),
    "activation energy NaN": (lambda: sb.Kinetics.arrhenius(1e98, NAN, 8.314), ["activation_energy_J_mol", "J/mol"]),
    "cooling negative": (lambda: sb.Trial(sb.TORVI_DALE_1994, sb.InitialProfile.uniform(sb.celsius(37)),
                                          sb.HeatFlux(1e4, 1.0), after_exposure_s=-1.0),
                         ["after_exposure_s", "-1.0 s"]),
    "auto grid steps": (lambda: sb.AutoGrid(start_steps=2.5), ["start_steps", "2.5"]),
    "auto cooling start": (lambda: sb.AutoCooling(start_s=-1.0), ["start_s", "-1.0 s"]),
}


@pytest.mark.parametrize("make, words", REFUSED.values(), ids=REFUSED.keys())
def test_a_wrong_value_is_refused_where_it_enters_naming_value_and_unit(make, words):
    with pytest.raises(ValueError) as info:
        make()
    for word in words:
        assert word in str(info.value)


def test_values_trials_legitimately_use_are_kept():
    assert sb.Grid(1e-4, 0.01, nodes=41.0).nodes == 41 and isinstance(sb.Grid(1e-4, 0.01, 41.0).nodes, int)
    sb.Series([0, 1, 1, 2], [3e4, 3e4, -5e3, -5e3])           # a jump to a cooling flux
    sb.HeatFlux(-5e3, 1.0)                                    # cooling
    sb.Convection(sb.Series([0, 1], [0.0, 200.0]), sb.kelvin(500), 2.0)
    sb.InnerConvection(0.0, sb.celsius(37))
    jet(gas_velocity_m_s=sb.Series([0, 0.06, 0.2], [120, 120, 20]), reynolds=None)
    jet(reynolds=25000.0)
    sb.Trial(sb.TORVI_DALE_1994, sb.InitialProfile.uniform(sb.celsius(37)), sb.HeatFlux(1e4, 1.0),
             grid=sb.Grid(1e-4, 0.01), after_exposure_s=0.0)


@pytest.mark.parametrize("name", ["flux-series-cooling", "convection", "hot-liquid", "jet"])
def test_a_run_longer_than_the_program_holds_is_made_in_legs_that_join_as_one_run(program, monkeypatch, name):
    """With the program's capacity made small, a run goes on in further runs from the temperatures the
    one before ended with and the face as it is after the exposure. Under backward Euler every step
    is the one a single run makes, so the joined history is that run's to the bit; BDF2 starts each
    later leg with one backward Euler step, a change far below the scheme's own error."""
    import skinburn.writer as writer

    base = CASES[name].replace("after_exposure_s", 3 * CASES[name].exposure.duration_s + 0.05)
    euler = None
    for scheme in ("backward-euler", "bdf2"):
        t = base.replace("grid", dataclasses.replace(base.grid, time_scheme=scheme))
        one = sb.run(t, program)
        steps = one.rows - 1
        monkeypatch.setattr(writer, "MAX_STEPS", math.ceil(0.4 * steps))
        assert len(writer.legs(t)) == 3
        joined = sb.run(t, program)
        monkeypatch.undo()
        assert isinstance(joined, sb.JoinedResults) and joined.rows == one.rows
        assert joined.leg_starts_s[1] == pytest.approx((math.ceil(0.4 * steps) - 1) * t.grid.deltat_s)
        a, b = np.asarray(one.temperature_K), np.asarray(joined.temperature_K)
        if scheme == "backward-euler":
            assert np.array_equal(a, b)
            euler = a
        else:  # a tenth of the difference between the schemes at the most
            assert 0 < np.max(np.abs(a - b)) < 0.1 * np.max(np.abs(a - euler))
        z = t.skin.epidermis_base_m
        assert joined.omega_at_depth(z, sb.HENRIQUES_1947) == pytest.approx(one.omega_at_depth(z, sb.HENRIQUES_1947),
                                                                          rel=1e-9 if scheme != "bdf2" else 1e-4)
        assert joined.outcome == "legs" and not joined.crossings
        joined.verify_history()
        assert joined.reached["time_s"] == pytest.approx(steps * t.grid.deltat_s)
        assert any("made in 3 runs of the program" in n for n in sb.assess(joined).notes)


def test_a_run_that_legs_cannot_carry_is_refused_before_any_run(monkeypatch):
    import skinburn.writer as writer

    monkeypatch.setattr(writer, "MAX_STEPS", 100)
    long = CASES["convection"].replace("after_exposure_s", 2.0)   # 80 steps: one run
    assert writer.legs(long) == (80,)
    assert writer.legs(long.replace("after_exposure_s", 10.0)) == (99, 99, 42)
    with pytest.raises(ValueError, match="240 steps: .* its exposure does not end within one run"):
        writer.legs(long.replace("exposure.duration_s", 10.0).replace("after_exposure_s", 2.0))
    with pytest.raises(ValueError, match="440 steps: .* more than 4 runs of the program"):
        writer.legs(long.replace("after_exposure_s", 20.0))
    monkeypatch.setattr(writer, "MAX_JOINED_BYTES", 1 << 20)
    with pytest.raises(ValueError, match=r"its history, 0.0217 GiB in several runs, would be more than"):
        writer.legs(long.replace("grid.deltax_m", 1e-6).replace("after_exposure_s", 10.0))
    clothed = long.replace("exposure", sb.Clothed(sb.Flame(0.0, sb.celsius(25), 84e3, 2.0),
                                                  sb.Garment(sb.COTTON_LIKE, 6e-3))).replace("after_exposure_s", 10.0)
    with pytest.raises(ValueError, match="face goes on changing after the exposure"):
        writer.legs(clothed)
