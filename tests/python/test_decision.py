"""How morvexio decides a file's format: content decides, the name's extension only where two
formats look alike, and content that matches no format's rule is refused naming what the name
expected. Never an empty scan, never a column split inside a number."""

import base64
import os

import pytest
from hypothesis import given, settings, strategies as st

import morvexio

NONE = "the content is none of the formats morvexio reads"
START_STEP_STOP = b"5.00 0.02 11.38\n" + b"".join(
    b" ".join(b"%d" % (1000 + 10 * row + k) for k in range(8)) + b"\n" for row in range(40))
MISCOUNTED = START_STEP_STOP + b"1 2\n"  # 322 counts where the line states 320
WHY_MISCOUNTED = ("it holds a start, step and stop line followed by rows of counts that do not "
                  "number what it states (cut or miscounted)")


@pytest.mark.parametrize("data, name, why", [
    (base64.b64encode(b"<xrdMeasurements/>" * 20), "scan.xrdml",
     f"{NONE} (a .xrdml name expects an XRDML document)"),
    (b"404 page not found\n", "scan.xrdml", f"{NONE} (a .xrdml name expects an XRDML document)"),
    (b"", "a.xy", "the file is empty"),
    (b'{"x": [1, 2], "y": [3, 4]}\n', "a.xy", f"{NONE} (a .xy name expects x y [e] columns)"),
    (b"<html><body>1 2</body></html>\n", "a.xy", f"{NONE} (a .xy name expects x y [e] columns)"),
    (b"Angle,Intensity\n", "a.csv",
     f"{NONE} (a .csv name expects comma-separated x, y [, e] columns)"),
    (MISCOUNTED, "a.xye", f"{NONE} (a .xye name expects x y [e] columns): {WHY_MISCOUNTED}"),
    (MISCOUNTED[:-60], "a.csv",
     f"{NONE} (a .csv name expects comma-separated x, y [, e] columns): {WHY_MISCOUNTED}"),
    (b"1 2 3 4\n5 6 7 8\n", "a.dat", f"{NONE} (a .dat name expects a SPEC data file, a Rigaku "
     "text export, a start, step and stop file or x y [e] columns): it holds "
     "rows of more than three numbers, a table whose x and y columns are not stated"),
    (b"1 2\n3 4\nEND\n5 6\n", "a.xy", f"{NONE} (a .xy name expects x y [e] columns): it holds "
     "rows of different lengths or separators, which is no column layout"),
    (b"1.5,2 3\n", "a.xy", f"{NONE} (a .xy name expects x y [e] columns): it holds commas that "
     "could be decimal marks or separators"),
    (b"FI\x01\x00RIGAKU", "a.raw", f"{NONE} (a .raw name expects a STOE RAW file, a Bruker RAW "
     "file or a GSAS powder data file)"),
    (b"\0\1\2", "x.bin", NONE),
    (b"BANK 1 0 0 CONST 1000 10 0 0 STD\n", "a.gsa", "the file holds no points"),
])
def test_content_that_is_no_format_is_refused(data, name, why):
    with pytest.raises(morvexio.FormatError) as caught:
        morvexio.read_bytes(data, name)
    assert str(caught.value) == f"{name}: {why}"


@pytest.mark.parametrize("data, fmt, x, y", [
    (b"5,00\t1234\n5,02\t1240\n", "xy", [5.0, 5.02], [1234.0, 1240.0]),
    (b"5.0,1234\n5.5,1240\n", "csv", [5.0, 5.5], [1234.0, 1240.0]),
    (b"5.0;1234\n5.5;1240\n", "xy", [5.0, 5.5], [1234.0, 1240.0]),
    (b"5.0 1234\r\n5.5 1240\r\n\x1a", "xy", [5.0, 5.5], [1234.0, 1240.0]),
    (b"# pyFAI\n# 2th_deg I\n5.0 1234\n5.5 1240\n", "xy", [5.0, 5.5], [1234.0, 1240.0]),
])
def test_columns_when_the_content_is_plainly_columns(data, fmt, x, y):
    scan = morvexio.read_bytes(data, "a.txt").scans[0]
    assert (morvexio.read_bytes(data, "a.txt").format, list(scan.x), list(scan.y)) == (fmt, x, y)


@pytest.mark.parametrize("name", ["d.rasx", "d.brml", "d.xrdml", "d.xy", "d.raw"])
def test_a_directory_is_an_os_error_in_every_format(tmp_path, name):
    (tmp_path / name).mkdir()
    with pytest.raises(IsADirectoryError) as caught:
        morvexio.read(tmp_path / name)
    assert caught.value.filename == str(tmp_path / name)


def test_a_name_that_is_not_utf8_is_shown_escaped(tmp_path):
    path = os.fsencode(tmp_path) + b"/bad\xff.xy"
    with open(path, "wb") as f:
        f.write(b"no rows here\n")
    for given_path in (path, os.fsdecode(path)):
        with pytest.raises(morvexio.FormatError) as caught:
            morvexio.read(given_path)
        assert str(caught.value).startswith(f"{os.fsdecode(tmp_path)}/bad\\xff.xy: {NONE}")
        assert caught.value.filename == given_path


def test_the_table_of_formats():
    table = morvexio.formats()
    assert len({f.name for f in table}) == len(table) == 18
    by_name = {f.name: f for f in table}
    assert by_name["gsas"].extensions[:3] == ("gsa", "gss", "gsas")
    assert {"asc", "dat", "gda"} <= {e for f in table for e in f.extensions}
    assert all(e == e.lower() and not e.startswith(".") for f in table for e in f.extensions)


@settings(max_examples=300, deadline=None)
@given(st.binary(max_size=300), st.sampled_from(
    [e for f in morvexio.formats() for e in f.extensions] + ["bin"]))
def test_any_bytes_load_whole_scans_or_raise_a_format_error(data, extension):
    try:
        measurement = morvexio.read_bytes(data, f"f.{extension}")
    except morvexio.FormatError:
        return
    assert measurement.scans and all(len(scan) > 0 for scan in measurement.scans)
