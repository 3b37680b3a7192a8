"""morvexio's diffraction surface: the wavelength rule, Q and d, pandas and xarray (maps with qx and
qz), NeXus files, read-only metadata, the public names and the inspector (python -m morvexio)."""

import json
import os
import pickle
import subprocess
import sys

import h5py
import numpy as np
import pytest
from hypothesis import given, strategies as st

import morvexio
from test_morvexio import MESH

TWO_THETA = {"x_axis": "2Theta", "x_unit": "deg"}


def measurement(scans, meta=None, source="m.xy"):
    return morvexio.Measurement("xy", meta or {}, scans, source)


def coplanar(omega, two_theta, lam):
    """qx, qz as the coplanar geometry states them, angles in degrees."""
    w, t, k = np.radians(omega), np.radians(two_theta), 2 * np.pi / lam
    return k * (np.cos(w) - np.cos(t - w)), k * (np.sin(w) + np.sin(t - w))


@pytest.mark.parametrize("scan_meta, outer_meta, want", [
    ({"wavelength_kalpha1": 1.0, "wavelength": 2.0}, {"wavelength_kalpha1": 3.0}, 1.0),
    ({"wavelength": 2.0}, {"wavelength_kalpha1": 3.0}, 2.0),
    ({}, {"wavelength_kalpha1": 3.0, "wavelength": 4.0}, 3.0),
    ({"wavelength": 0.0}, {"wavelength": 4.0}, 4.0),  # a zero placeholder states nothing
    ({}, {}, None),
])
def test_wavelength_rule(scan_meta, outer_meta, want):
    scan = measurement([morvexio.Scan([20.0], [1.0], None, {**TWO_THETA, **scan_meta})],
                       outer_meta).scans[0]
    assert scan.wavelength == want
    assert pickle.loads(pickle.dumps(scan)).wavelength == want  # the measurement's part too


@given(st.lists(st.floats(1.0, 179.0), min_size=1, max_size=20), st.floats(0.1, 3.0))
def test_q_and_d_are_their_formulas(two_theta, lam):
    scan = measurement([morvexio.Scan(two_theta, two_theta, None, TWO_THETA)],
                       {"wavelength_kalpha1": lam}).scans[0]
    theta = np.radians(two_theta) / 2
    np.testing.assert_allclose(scan.q(), 4 * np.pi * np.sin(theta) / lam, rtol=1e-14)
    np.testing.assert_allclose(scan.d(), lam / (2 * np.sin(theta)), rtol=1e-14)
    np.testing.assert_allclose(scan.q(2 * lam), scan.q() / 2, rtol=1e-14)  # given λ wins


def test_conversions_use_the_file_wavelength(realdata):
    scan = morvexio.read(realdata / "xy_headers" / "dioptas__CeO2_Pilatus1M.xy").scans[0]
    assert scan.wavelength == 0.4066  # pyFAI's metres, as Å
    np.testing.assert_allclose(scan.q() * scan.d(), 2 * np.pi)


@pytest.mark.parametrize("meta, outer, call, message", [
    ({"x_axis": "TOF", "x_unit": "us"}, {"wavelength": 1.0}, "q",
     "m.xy scans[0]: q needs x in degrees of 2Theta; x is TOF in us"),
    ({}, {"wavelength": 1.0}, "d",
     "m.xy scans[0]: d needs x in degrees of 2Theta; x is of an axis the file does not name"),
    (TWO_THETA, {}, "q", "m.xy scans[0]: q needs a wavelength and the file states none: "
                         "pass one, q(wavelength=1.5406)"),
])
def test_conversions_refuse_what_they_cannot_convert(meta, outer, call, message):
    scan = measurement([morvexio.Scan([1.0], [1.0], None, meta)], outer).scans[0]
    with pytest.raises(ValueError) as caught:
        getattr(scan, call)()
    assert str(caught.value) == message
    with pytest.raises(ValueError, match="^the wavelength must be a positive number of Å, not -1"):
        measurement([morvexio.Scan([1.0], [1.0], None, TWO_THETA)]).scans[0].q(-1)


def test_pandas_tables():
    scans = [morvexio.Scan([1.0, 2.0], [3.0, 4.0], [0.5, 0.5]), morvexio.Scan([5.0], [6.0])]
    frame = measurement(scans).to_pandas()
    assert list(frame.columns) == ["scan", "x", "y", "e"]
    assert frame["scan"].tolist() == [0, 0, 1] and frame["x"].tolist() == [1.0, 2.0, 5.0]
    assert frame["e"].tolist()[:2] == [0.5, 0.5] and np.isnan(frame["e"][2])
    assert list(scans[1].to_pandas().columns) == ["x", "y"]


def test_the_mesh_is_one_grid_with_qx_and_qz(realdata):
    m = morvexio.read(realdata / MESH)
    grid = m.to_xarray()
    assert grid.dims == ("Omega", "2Theta") and grid.shape == (101, 255)
    np.testing.assert_array_equal(grid.values, [s.y for s in m.scans])
    np.testing.assert_array_equal(grid["Omega"], [s.meta["axes"]["Omega"] for s in m.scans])
    np.testing.assert_array_equal(grid["2Theta"], m.scans[0].x)
    qx, qz = coplanar(grid["Omega"].values[:, None], m.scans[0].x, 1.540598)
    np.testing.assert_allclose(grid["qx"], qx, rtol=1e-13)
    np.testing.assert_allclose(grid["qz"], qz, rtol=1e-13)
    assert grid.attrs["anode"] == "Cu" and grid.attrs["axes"]["Phi"] == -101.32


def test_maps_of_moving_axes_and_rocking_curves():
    # Coupled ω–2θ scans stepping ω's offset: 2θ shifts a little, ω moves along each scan.
    scans = [morvexio.Scan([40.0 + s, 41.0 + s], [s, s], None,
                           {**TWO_THETA, "axes": {"Omega": [20.0 + 2 * s, 20.5 + 2 * s]}})
             for s in (0.0, 0.1, 0.2)]
    grid = measurement(scans, {"wavelength_kalpha1": 1.5}).to_xarray()
    assert grid.dims == ("Omega", "2Theta")
    np.testing.assert_allclose(grid["Omega"], [20, 20.2, 20.4])
    omega, two_theta = grid["Omega_positions"].values, grid["2Theta_positions"].values
    assert omega.shape == two_theta.shape == (3, 2) and omega[1, 1] == pytest.approx(20.7)
    np.testing.assert_allclose(grid["qz"], coplanar(omega, two_theta, 1.5)[1], rtol=1e-14)
    # ω scans whose windows follow the stepped 2θ.
    rocking = [morvexio.Scan([t / 2 - 1, t / 2 + 1], [1, 2], None,
                             {"x_axis": "Omega", "axes": {"2Theta": t}}) for t in (30.0, 60.0)]
    grid = measurement(rocking, {"wavelength": 1.0}).to_xarray()
    assert grid.dims == ("2Theta", "Omega") and "qx" in grid.coords


def test_scans_that_form_no_map_are_refused(realdata):
    assert morvexio.read(realdata / "xye" / "Ba6Co6.xye").to_xarray().dims == ("x",)
    with pytest.raises(ValueError, match=r"gem05984.gss: its 4 scans form no map \(no axis "
                                         r"steps from scan to scan\); take one with scans\[i\]"):
        morvexio.read(realdata / "gsas" / "gem05984.gss").to_xarray()
    ranges = [morvexio.Scan([t, t + 1], [1, 2], None, {**TWO_THETA, "axes": {"Theta": t / 2}})
              for t in (10.0, 30.0)]  # two ranges of one coupled scan, as Bruker files hold them
    with pytest.raises(ValueError, match=r"^m.xy: its 2 scans form no map \(their x ranges"):
        measurement(ranges).to_xarray()


@pytest.mark.parametrize("module, call", [
    ("pandas", lambda m: m.to_pandas()), ("xarray", lambda m: m.to_xarray()),
    ("h5py", lambda m: m.to_nexus("unused.nxs"))])
def test_a_missing_extra_names_its_pip_command(monkeypatch, module, call):
    monkeypatch.setitem(sys.modules, module, None)
    extra = {"h5py": "nexus"}.get(module, module)
    with pytest.raises(ImportError, match=rf"needs {module}: pip install 'morvex\[{extra}\]'$"):
        call(measurement([morvexio.Scan([1.0], [2.0])]))


def test_nexus_file_reads_back(tmp_path):
    meta = {"anode": "Cu", "voltage_kv": 40.0, "wavelength_kalpha1": 1.54, "sample_name": "Si",
            "header": {"a/b": "c"}}
    scans = [morvexio.Scan([10.0, 20.0], [5.0, 6.0], [1.0, 2.0], TWO_THETA),
             morvexio.Scan([1.0], [2.0], None, {"x_axis": "TOF", "x_unit": "us"})]
    measurement(scans, meta).to_nexus(tmp_path / "m.nxs")
    with h5py.File(tmp_path / "m.nxs") as f:
        entry = f["entry"]
        assert entry.attrs["NX_class"] == "NXentry" and entry["definition"][()] == b"NXxrd_pan"
        source = entry["instrument/source"]
        assert source.attrs["NX_class"] == "NXsource"
        assert source["xray_tube_material"][()] == b"Cu"
        assert source["voltage"][()] == 40.0 and source["voltage"].attrs["units"] == "kV"
        assert source["k_alpha_one"].attrs["units"] == "angstrom"
        assert entry["sample/name"][()] == b"Si" and entry["metadata/header/a_b"][()] == b"c"
        first, second = entry["scan_0"], entry["scan_1"]
        assert (first.attrs["NX_class"], first.attrs["signal"], first.attrs["axes"]) == (
            "NXdata", "intensity", "two_theta")
        assert first["two_theta"].attrs["units"] == "degree"
        assert first["intensity"][()].tolist() == [5.0, 6.0]
        assert first["intensity_errors"][()].tolist() == [1.0, 2.0]
        assert second.attrs["axes"] == "time_of_flight" and "intensity_errors" not in second


def test_metadata_is_read_only_and_names_are_public_only(realdata):
    m = morvexio.read(realdata / MESH)
    for meta in (m.meta, m.scans[0].meta, m.scans[0].meta["axes"]):
        with pytest.raises(TypeError, match="read-only: dict"):
            meta["anode"] = "Mo"
        with pytest.raises(TypeError):
            meta.update(a=1)
    assert json.loads(json.dumps(m.meta))["anode"] == "Cu"
    assert m.source == str(realdata / MESH)
    assert morvexio.read_bytes(b"1 2\n", "a.xy").source == "a.xy"
    assert dir(morvexio) == sorted(morvexio.__all__)


def test_inspector_text_json_and_failures(realdata, tmp_path, capsys):
    from morvexio.__main__ import main
    path = str(realdata / "xy_headers" / "dioptas__CeO2_Pilatus1M.xy")
    env = {**os.environ, "PYTHONPATH": os.path.dirname(os.path.dirname(morvexio.__file__))}
    run = [sys.executable, "-m", "morvexio", path, str(tmp_path / "none.xy")]
    out = subprocess.run(run, capture_output=True, text=True, env=env, timeout=60)
    assert out.returncode == 1
    assert out.stdout.splitlines() == [f"{path}: xy, 1 scan", "  wavelength: 0.4066 Å",
                                       "  scans[0]: 1512 points, 2Theta 0.01019698551 .. "
                                       "30.82548718 deg"]
    assert out.stderr == f"{tmp_path / 'none.xy'}: No such file or directory\n"
    out = subprocess.run(run[:-1] + ["--json"], capture_output=True, text=True, env=env)
    assert json.loads(out.stdout) == {
        "source": path, "format": "xy", "meta": {"wavelength": 0.4066}, "scans": [
            {"points": 1512, "x_axis": "2Theta", "x_unit": "deg",
             "x_range": [0.01019698551, 30.82548718]}]}
    (tmp_path / "cut.xrdml").write_bytes(b"<xrdMeasurements><scan><intensities>1 2")
    assert main([str(tmp_path / "cut.xrdml")]) == 1
    assert capsys.readouterr().err.startswith(f"{tmp_path / 'cut.xrdml'}: XRDML parse error")
