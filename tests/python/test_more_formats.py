"""BRML, Philips RD/UDF, powder CIF and STOE RAW through morvexio: the shared real files against
their truth rows, and the refusals a caller sees."""

import struct

import numpy as np
import pytest

import morvexio
from conftest import load_truth

FORMATS = ("brml", "philips_rd", "philips_udf", "pdcif", "stoe_raw")


def notes(row):
    return dict(part.strip().split("=", 1) for part in row["notes"].split(";") if "=" in part)


# truth.tsv's own reader sums this file one count lower; the same unpacking (value² / 100 in whole
# counts) gives CPD-1A's sum exactly, and both ends and the point count agree.
SUM_DIFFERS = {"philips_rd/gsocxylib__SAMPLE1.RD": 1.0}
# truth.tsv's readers take a Philips RD file's stated end as its last point; morvexio takes it as
# exclusive, as a real scan from 4.99 to 120.01 whose UXD export ends at 119.99 shows, so it
# reads one point less: (points, last x, last y, the last point's counts left out of the sum).
RD_EXCLUSIVE_END = {"philips_rd/gsocxylib__SAMPLE1.RD": (4656, 103.1, 432.0, 432.0),
                    "philips_rd/gsocxylib__CPD-1A.RD": (7250, 149.98, 16.0, 21.0)}
ROWS = {k: row for k, row in load_truth().items() if notes(row).get("format") in FORMATS}


@pytest.mark.parametrize("key", sorted(ROWS))
def test_real_files_match_their_truth_rows(realdata, key):
    row, stated = ROWS[key], notes(ROWS[key])
    m = morvexio.read(realdata / key)
    assert m.format == stated["format"]
    assert len(m.scans) == int(stated["scans"])
    scan = m.scans[0]
    n, last_x, last_y, left_out = RD_EXCLUSIVE_END.get(
        key, (int(row["n_points"]), float(row["last_x"]), float(row["last_y"]), 0.0))
    assert len(scan) == n
    # truth.tsv prints ten significant digits
    assert scan.x[[0, -1]] == pytest.approx([float(row["first_x"]), last_x], abs=1e-5)
    assert list(scan.y[[0, -1]]) == [float(row["first_y"]), last_y]
    assert scan.y.sum() == float(stated["sum_y(first scan)"]) + SUM_DIFFERS.get(key, 0.0) - left_out
    # A powder CIF that names no line states `wavelength`; the others name Kα1. truth.tsv
    # prints float32 fields widened (1.207929969), the readers their shortest decimal (1.20793).
    wavelength = m.meta.get("wavelength_kalpha1", m.meta.get("wavelength"))
    assert wavelength == pytest.approx(float(stated["wavelength_kalpha1"]), rel=1e-7)
    assert morvexio.read_bytes((realdata / key).read_bytes(), "unnamed") == m
    if stated["format"] != "pdcif":
        assert scan.meta["x_axis"] == "2Theta"


def test_per_point_columns_beside_x_and_y(realdata):
    brml = morvexio.read(realdata / "brml/genx__BRML_attenuation.brml").scans[0]
    assert brml.meta["attenuation"][0] == 77.0 and brml.meta["x_axis"] == "2Theta"
    alumina = morvexio.read(realdata / "pdcif/gsocxylib__ALUMINA.cif")
    assert alumina.scans[0].e[0] == 17.0 and alumina.scans[0].meta["y_source"] == (
        "_pd_meas_intensity_total")
    assert alumina.meta["wavelength"] == 1.5402


def stoe(ranges=1, points=3, counts=3):
    head = bytearray(1024)
    head[:8] = b"RAW_1.06"
    struct.pack_into("<h", head, 0x17A, ranges)
    struct.pack_into("<hh", head, 0x1E0, 2, 0)
    struct.pack_into("<h", head, 0x1F0, 1)
    struct.pack_into("<h", head, 512 + 0x22, points)
    struct.pack_into("<fff", head, 512 + 0x2C, 10.0, 0.0, 10.0 + 0.5 * (points - 1))
    struct.pack_into("<f", head, 512 + 0x3C, 0.5)
    return bytes(head) + struct.pack(f"<{counts}i", *range(counts))


def test_stoe_float32_fields_are_the_decimals_they_state():
    data = bytearray(stoe())
    struct.pack_into("<ff", data, 0x142, 1.5406, 1.54439)
    struct.pack_into("<f", data, 512 + 0x44, 0.1)
    m = morvexio.read_bytes(bytes(data), "a.raw")
    assert [m.meta["wavelength_kalpha1"], m.scans[0].meta["time_per_step_s"]] == [1.5406, 0.1]


@pytest.mark.parametrize(
    "data, name, message",
    [
        (stoe(ranges=0), "a.raw", "STOE RAW: the file announces no measured range"),
        (stoe(counts=2), "a.raw", "STOE RAW: range data truncated"),
        (b"data_x\n_cell_length_a 3\n", "a.cif", "pdCIF: no data block holds a powder pattern"),
        (b"SampleIdent,S,/\nDataAngleRange, 1, 2,/\nScanStepSize, 0.5,/\nRawScan\n1, 2",
         "a.udf", 'Philips UDF: the counts do not end with "/"'),
        (b"V3RD" + bytes(300), "a.rd", "Philips RD: start, end and step do not make an even axis"),
    ],
)
def test_cut_and_foreign_files_are_refused(data, name, message):
    assert np.array_equal(morvexio.read_bytes(stoe(), "a.raw").scans[0].x, [10.0, 10.5, 11.0])
    with pytest.raises(morvexio.FormatError, match=message):
        morvexio.read_bytes(data, name)
