"""morvexio's text formats (RAS, UXD, CPI, chi, SPEC, Rigaku text) and column-file headers on the real files,
and the errors a caller sees."""

import pytest

import morvexio
from conftest import load_truth

FOLDERS = ("ras/", "uxd/", "cpi/", "chi/", "xy_headers/", "spec/", "rigaku_text/")
TEXT_ROWS = sorted(path for path in load_truth() if path.startswith(FOLDERS))
# Where this project reads a file as another format than truth.tsv names: a GSAS-II chi is
# plain columns, and a pyFAI xy is an xy file with header lines.
FORMAT = {"chi/gsas2__xrd_LaB6_660c_std_mean_tth.chi": "xy", "xy_headers/": "xy"}
# A file that states one wavelength and names no line reports it as `wavelength` (truth.tsv
# calls every stated wavelength Kα1).
ONE_WAVELENGTH = ("cpi/", "xy_headers/")


def notes_of(row):
    return dict(part.strip().split("=", 1) for part in row["notes"].split(";") if "=" in part)


@pytest.mark.parametrize("relative", TEXT_ROWS)
def test_real_files_match_truth(truth, realdata, relative):
    row, notes = truth[relative], notes_of(truth[relative])
    measurement = morvexio.read(str(realdata / relative))
    expected = next((v for k, v in FORMAT.items() if relative.startswith(k)), notes["format"])
    assert measurement.format == expected
    assert len(measurement.scans) == int(notes["scans"])
    scan = measurement.scans[0]
    assert len(scan) == len(scan.x) == len(scan.y) == int(row["n_points"])
    for got, want in ((scan.x[0], row["first_x"]), (scan.x[-1], row["last_x"]),
                      (scan.y[0], row["first_y"]), (scan.y[-1], row["last_y"])):
        # Some rows hold values printed with six decimals.
        assert got == pytest.approx(float(want), rel=1e-6, abs=1e-6)
    assert scan.y.sum() == pytest.approx(float(notes["sum_y(first scan)"]), rel=1e-8)
    if "wavelength_kalpha1" in notes:
        key = "wavelength" if relative.startswith(ONE_WAVELENGTH) else "wavelength_kalpha1"
        assert measurement.meta[key] == pytest.approx(float(notes["wavelength_kalpha1"]))


def test_header_keys_of_real_files(realdata):
    ras = morvexio.read(str(realdata / "ras/xrayutil__inas_layer_radial_002_004.ras"))
    assert ras.meta["started"] == "2015-12-05T22:01:01"
    assert [s.meta["start"] for s in ras.scans] == [26.5, 56.0]
    assert ras.scans[1].meta["attenuation"].shape == (2501,)
    uxd = morvexio.read(str(realdata / "uxd/importtool__Diffrac-ATuxd.UXD"))
    assert (uxd.meta["sample_name"], uxd.meta["voltage_kv"]) == ("P3HTrr101130", 40.0)
    eva = morvexio.read(str(realdata / "xy/datalab_example_evadiffract.xy"))
    assert (eva.meta["anode"], eva.scans[0].meta["time_per_step_s"]) == ("Cu", 96.0)
    csv = morvexio.read(str(realdata / "csv/210520step1_30min.csv"))
    assert csv.meta["wavelength_kalpha2"] == 1.544426
    assert (csv.scans[0].meta["scan_axis"], csv.scans[0].meta["x_axis"]) == ("Gonio", "2Theta")
    assert ras.scans[0].meta["x_axis"] == "2Theta"
    # 4.066e-11 m as the decimal it states, not 4.066e-11 * 1e10
    assert morvexio.read(realdata / "xy_headers/dioptas__CeO2_Pilatus1M.xy").meta[
        "wavelength"] == 0.4066


CIF_RANGE = (b"data_x\n_audit_creation_date  Oct 23 13:47:26 # GSAS2CIF\n"
             b"_pd_meas_2theta_range_min 1  _pd_meas_2theta_range_inc 0.5\n"
             b"_pd_meas_2theta_range_max 2.2\nloop_\n_pd_meas_counts_total\n4 5 6\n")


@pytest.mark.parametrize("data, name, x, y, meta", [
    (b"5,00\t1234\n5,5;1240\n", "a.xy", [5.0, 5.5], [1234, 1240], {}),
    (b"5,00\t1234\n5,5;1240\n", "a.csv", [5.0, 5.5], [1234, 1240], {}),
    (b"t\nQ (nm^-1)\ny\n2\n2., 5.9e-2\n3., 6\n", "a.chi", [2.0, 3.0], [0.059, 6],
     {"x_axis": "Q", "x_unit": "nm^-1"}),
    (CIF_RANGE, "a.cif", [1.0, 1.5, 2.0], [4, 5, 6],  # max within half a step
     {"header": {"_audit_creation_date": "Oct 23 13:47:26", "_pd_meas_2theta_range_min": "1",
                 "_pd_meas_2theta_range_inc": "0.5", "_pd_meas_2theta_range_max": "2.2"}}),
    (b"_DRIVE='OMEGA'\n_START=1\n_STEPSIZE=1\n_COUNTS\n7\n", "a.uxd", [1.0], [7],
     {"x_axis": "Omega", "x_unit": "deg"}),
])
def test_rows_and_axes_as_their_writers_meant_them(data, name, x, y, meta):
    scan = morvexio.read_bytes(data, name).scans[0]
    assert (scan.x.tolist(), scan.y.tolist()) == (x, y)
    assert {key: scan.meta[key] for key in meta} == meta


@pytest.mark.parametrize("data, name, message", [
    (b"*RAS_DATA_START\n*RAS_HEADER_START\n*FILE_SAMPLE \"s\"\n*RAS_HEADER_END\n"
     b"*RAS_INT_START\n1 2\n", "a.ras",
     "RAS file ends inside a scan (cut file?)"),
    (b"_START=1\n_STEPSIZE=1\n_STEPCOUNT=3\n_COUNTS\n1 2\n", "a.uxd",
     "UXD range has fewer points than its header states (cut file?)"),
    (b"SIETRONICS XRD SCAN\n1\n2\n0,5\nCu\n1,54\nd\n1\ns\nSCANDATA\n5\n", "a.cpi",
     "CPI scan has fewer points than its start, end and step state (cut file?)"),
    (b"title\nx\ny\n3\n1 2\n", "a.chi",
     "chi file has fewer points than its header states (cut file?)"),
    (b"t\nx\ny\n1\n1,5 5\n", "a.chi", "Invalid chi data row"),  # a comma inside a number
    (b"1 2 3\n4 5 6\n7 8", "a.xye",
     "Column file's last row (point 3) has no uncertainty, every row before it has one (cut file?)"),
    (CIF_RANGE.replace(b"2.2", b"2.3"), "a.cif",
     "pdCIF: block x: the 2theta range does not fit its 3 points"),
])
def test_cut_files_are_refused(data, name, message):
    with pytest.raises(morvexio.FormatError) as info:
        morvexio.read_bytes(data, name)
    assert str(info.value) == f"{name}: {message}"
