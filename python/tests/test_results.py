"""Results read back from real runs: arrays, the program's Omega, CSV, and refused runs."""
import csv
import gc

import numpy as np
import pytest

import skinburn as sb
from skinburn.datadir import DataDirectory
from skinburn.results import write_csv

EXAMPLE_NAMES = ["airbag-jet", "convection", "flux-cooling", "hot-liquid"]


@pytest.fixture(scope="module")
def airbag(program, examples):
    return sb.run(examples / "airbag-jet", program)


@pytest.mark.parametrize("name", EXAMPLE_NAMES)
def test_package_omega_agrees_with_the_program(program, examples, name):
    res = sb.run(examples / name, program)
    computed = res.omega()  # the constants the program read, its integrator
    theirs = res.program_omega_unfloored
    assert np.all(np.isfinite(theirs))
    assert np.allclose(computed, theirs, rtol=1e-9, atol=0)
    floored = np.where(computed < sb.PROGRAM_OMEGA_FLOOR, 0.0, computed)
    assert np.array_equal(floored == 0, res.program_omega == 0)


def test_single_node_omega_agrees_with_the_program(program, examples, tmp_path):
    d = DataDirectory(examples / "hot-liquid", program).edited({"BURNDEPTH": 0, "OUTNODE": 3}, tmp_path / "d")
    res = sb.run(d, program)
    assert res.outcome == "omega-at-node"
    node = res.document["omega_at_output_node"]
    assert res.omega(nodes=[3])[0] == pytest.approx(node["omega_unfloored"], rel=1e-9)
    assert np.isnan(res.program_omega[0]) and res.program_omega[2] == node["omega"]


def test_arrays_are_the_history_at_true_depths(airbag):
    t = airbag.temperature_K
    assert isinstance(t, np.memmap) and t.shape == (1001, 41) and t.dtype == np.float64
    assert np.array_equal(airbag.depth_m, np.arange(41) * 2e-5)
    assert airbag.time_s[-1] == pytest.approx(0.1) and len(airbag.time_s) == 1001
    assert np.all(t[0] == 310.0)  # the march's start
    assert np.array_equal(airbag.peak_temperature_K, t.max(axis=0))
    first_peak = airbag.time_s[np.argmax(np.asarray(t), axis=0)]
    assert np.allclose(airbag.peak_time_s, first_peak)
    assert airbag.temperature_at_depth(3e-5) == pytest.approx((t[:, 1] + t[:, 2]) / 2)


def test_crossings_use_true_positions_and_the_report_one_spacing_deeper(airbag):
    (c,) = airbag.crossings
    i, j = c["nodes"]
    om = airbag.program_omega
    z = airbag.depth_m
    line = z[i - 1] + (om[i - 1] - 1) / (om[i - 1] - om[j - 1]) * (z[j - 1] - z[i - 1])
    assert c["depth_m"] == pytest.approx(line, rel=1e-12)
    assert c["report_depth_m"] == pytest.approx(c["depth_m"] + airbag.deltax_m, rel=1e-12)


def test_csv_exports_keep_full_precision(airbag, tmp_path):
    path = airbag.write_nodes_csv(tmp_path / "nodes.csv", sb.WEAVER_STOLL_1969)
    rows = list(csv.DictReader(open(path)))
    assert len(rows) == 41 and rows[0]["node"] == "1"
    assert float(rows[4]["depth_m"]) == airbag.depth_m[4]
    assert float(rows[0]["program_omega_unfloored"]) == airbag.program_omega_unfloored[0]
    assert float(rows[0]["omega"]) == airbag.omega(sb.WEAVER_STOLL_1969)[0]
    summary = list(csv.DictReader(open(airbag.write_summary_csv(tmp_path / "s.csv", {"case": "a"}))))
    assert summary[0]["outcome"] == "burn-depth" and summary[0]["case"] == "a" and summary[0]["nodes"] == "41"
    # A table that fails part-way (here a row that cannot be told) leaves the file that was there, and no
    # temporary beside it; so does a rows iterator that dies, as a killed writer would.
    before = path.read_bytes()

    class Untellable:
        def __str__(self) -> str:
            raise RuntimeError("no")

    def dying():
        yield [1.0]
        raise KeyboardInterrupt
    for rows, error in (([[1.0], [Untellable()]], RuntimeError), (dying(), KeyboardInterrupt)):
        with pytest.raises(error):
            write_csv(path, ["omega"], rows)
        assert path.read_bytes() == before and sorted(p.name for p in tmp_path.iterdir()) == ["nodes.csv", "s.csv"]


def test_dataframe(airbag):
    pd = pytest.importorskip("pandas")
    df = airbag.to_dataframe(sb.HENRIQUES_1947)
    assert isinstance(df, pd.DataFrame) and list(df["node"][:2]) == [1, 2] and "omega" in df


@pytest.mark.parametrize("change, message", [
    ({"DELTAT": 0}, "DATA.DAT Line 18 input must be greater than zero."),
    ({"jet.standoff_ratio": 25}, "On-axis Nusselt number could not be calculated."),
])
def test_a_refused_run_raises_with_the_programs_message_and_status(program, examples, tmp_path, change, message):
    d = DataDirectory(examples / "airbag-jet", program).edited(change, tmp_path / "d")
    with pytest.raises(sb.ProgramError) as info:
        sb.run(d, program)
    assert info.value.status == 1 and message in info.value.message and message in str(info.value)
    res = sb.run(d, program, raise_errors=False)
    assert res.outcome == "error" and res.status == 1
    if "DELTAT" in change:
        assert not d.report.would_start
        with pytest.raises(sb.InputError, match="Line 18"):
            d.report.raise_unless_startable()


def test_march_only_results_are_brief_but_read_the_same(program):
    # A layered skin, so that a depth between nodes of different conductivity is read by the laid
    # conductivities the brief document keeps.
    t = sb.Trial(sb.TORVI_DALE_1994, sb.InitialProfile.uniform(sb.celsius(37)),
                 sb.SurfaceTemperature(sb.celsius(70), 2.0), grid=sb.Grid(80e-6 / 3.5, 0.05),
                 after_exposure_s=2.0, kinetics=sb.HENRIQUES_1947)
    full, brief = sb.run(t, program), sb.run(t, program, march_only=True)
    assert brief.document["brief"] is True and brief.document["faces"] is None
    assert "brief" not in full.document
    assert np.array_equal(brief.temperature_K, full.temperature_K)
    assert np.array_equal(brief.depth_m, full.depth_m)
    assert np.array_equal(brief.peak_temperature_K, full.peak_temperature_K)
    assert np.array_equal(brief.peak_time_s, full.peak_time_s)
    assert np.array_equal(brief.conductivity_W_mK, full.conductivity_W_mK)
    assert brief.inputs.laid_values("density") is None and full.inputs.laid_values("density")
    for depth_m in (79e-6, 80e-6, 81.5e-6, 1e-3):
        assert brief.omega_at_depth(depth_m) == full.omega_at_depth(depth_m)
    with pytest.raises(ValueError, match="brief"):
        brief.face("left")


def test_trial_results_know_their_trial_and_clean_up(program):
    t = sb.Trial(sb.TORVI_DALE_1994, sb.InitialProfile.uniform(sb.celsius(37)),
                 sb.SurfaceTemperature(sb.celsius(70), 2.0), grid=sb.Grid(80e-6 / 3.5, 0.05),
                 after_exposure_s=2.0, kinetics=sb.HENRIQUES_1947)
    res = sb.run(t, program)
    where = res.directory
    assert res.trial is t and res.layout.nodes == res.nodes
    a = sb.assess(res)
    assert a.kinetics is sb.HENRIQUES_1947 and a.epidermis_base_m == 80e-6 and a.degree >= 2
    # With the program's own constants = Henriques here, both agree.
    assert res.omega(sb.HENRIQUES_1947) == pytest.approx(res.program_omega_unfloored, rel=1e-9)
    del res, a
    gc.collect()
    assert not where.exists()
    # Results of an automatic grid are built whole from the run the settling chose: they say how, and
    # their temporary directory stays while they are held (the run chosen goes out of reach at once).
    auto = sb.run(t.replace("grid", sb.AutoGrid()), program)
    assert auto.settlement is not None and auto.trial.grid.deltat_s == auto.deltat_s
    gc.collect()
    where = auto.directory
    assert where.exists() and auto.temperature_K.shape[0] == auto.rows
    del auto
    gc.collect()
    assert not where.exists()


@pytest.fixture(scope="module")
def backwards_jet(program, examples, tmp_path_factory):
    """The airbag example with its gas blowing away from the skin: the jet's coefficient is not finite."""
    d = sb.DataDirectory(examples / "airbag-jet", program)
    return d.edited({"jet.velocity": -120}, tmp_path_factory.mktemp("jet") / "backwards")


def test_a_run_with_non_finite_temperatures_is_refused_by_assess_and_search(program, backwards_jet):
    res = sb.run(backwards_jet, program)
    assert not np.isfinite(res.temperature_K).all()
    with pytest.raises(sb.NonFiniteHistory, match=r"step \d+ \(time .* s\), node \d+ \(depth .* m\)"):
        sb.assess(res, sb.UNIFORM_DERMIS, sb.WEAVER_STOLL_1969)
    with pytest.raises(sb.NonFiniteHistory):
        sb.search(backwards_jet, "LEFT_AMBIENT", 400.0, 1500.0, degree=1, skin=sb.UNIFORM_DERMIS, program=program)


def test_a_history_replaced_by_another_run_is_told(program, examples, tmp_path):
    """The JSON names its history by size and CRC-32: a .npy of another run (another width,
    or the same width and other values) is refused, never read as this run's."""
    here = sb.run(examples / "airbag-jet", program, directory=tmp_path / "a")
    here.verify_history()
    other = sb.run(examples / "flux-cooling", program, directory=tmp_path / "b")
    for source in (other._history_path, here._history_path):
        data = bytearray(source.read_bytes())
        if source == here._history_path:
            data[-1] ^= 1  # same size, one bit off
        stale = sb.Results(here.document, here.prefix, directory=here.directory)
        stale._history_path.write_bytes(bytes(data))
        with pytest.raises(ValueError, match="is not the history of this run's JSON"):
            stale.verify_history()
            stale.temperature_K


def test_the_exposed_face_step_by_step(airbag):
    """The jet's coefficient, the gas and surface temperatures and the flux into the skin, per step."""
    left, right = airbag.face(), airbag.face("right")  # the exposed face by default
    assert left["type"] == "convection" and right["type"] == "temperature"
    assert np.array_equal(left["surface_K"], airbag.temperature_K[1:, 0])
    assert np.allclose(left["flux_W_m2"], left["h_W_m2K"] * (left["ambient_K"] - left["surface_K"]), rtol=1e-12)
    assert left["h_W_m2K"][0] > 100 and np.isnan(right["h_W_m2K"]).all()
    assert len(right["time_s"]) == airbag.rows - 1
    with pytest.raises(ValueError, match="side must be"):
        airbag.face("top")


def test_a_history_header_reads_as_numpy_reads_it(airbag, tmp_path):
    """The program's header is read by its one form; every other header (another order, type, shape
    or version) by NumPy's reader, to the same shape, order and type."""
    from skinburn.results import _PROGRAM_NPY_HEADER, _npy_header

    with open(airbag.prefix.with_name(airbag.prefix.name + ".npy"), "rb") as f:
        assert _PROGRAM_NPY_HEADER.fullmatch(f.read(128)), "the program's header is read by its form"
        f.seek(0)
        version = np.lib.format.read_magic(f)
        expected = np.lib.format.read_array_header_1_0(f) if version == (1, 0) else None
        f.seek(0)
        assert _npy_header(f) == expected and f.tell() == 128
    arrays = [np.zeros((3, 4)), np.asfortranarray(np.zeros((3, 4))), np.zeros((2, 3), dtype=np.float32),
              np.zeros(5), np.zeros((2, 2, 2)), np.zeros((3, 4), dtype=">f8")]
    for k, a in enumerate(arrays):
        path = tmp_path / f"a{k}.npy"
        np.save(path, a)
        with open(path, "rb") as f:
            got = _npy_header(f)
            at = f.tell()
            f.seek(0)
            np.lib.format.read_magic(f)
            assert got == np.lib.format.read_array_header_1_0(f) and at == f.tell(), a
