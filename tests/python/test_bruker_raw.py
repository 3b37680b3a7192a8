"""Bruker RAW binary files through the public surface: the search for count, start/step and
intensity block, its error messages, the raw sniff, and the real instrument files."""

import math
import struct

import pytest

import morvex
import morvexio
from conftest import load_truth
from helpers import assert_raises_exactly, check_against_truth, loader

FILLER = b"\xff"  # NaN as a double, too large as a count


def singles(values):
    return struct.pack(f"<{len(values)}f", *values)


def ramp(n):
    return [100.3 + k for k in range(n)]


def search_file(values, start=10.0, step=0.02, signature=b"RAW0", count=None, trailer=b""):
    """Signature, filler, start, step, count, a gap, then the intensities ending the file."""
    count = len(values) if count is None else count
    head = signature + FILLER * (16 - len(signature))
    return head + struct.pack("<ddI", start, step, count) + FILLER * 4 + singles(values) + trailer


load = loader("scan.raw")


def assert_value_error(data, message):
    assert_raises_exactly(ValueError, message, load, data)


class TestSearch:
    def test_axis_and_intensities(self):
        values = ramp(20)
        p = load(search_file(values))
        assert p.y == [float(struct.unpack("<f", struct.pack("<f", v))[0]) for v in values]
        assert p.x[3] == 3 * 0.02 + 10.0 == 10.06
        assert p.x == [k * 0.02 + 10.0 for k in range(20)]
        assert p.e is None

    def test_any_version_text_after_signature(self):
        for signature in (b"RAW", b"RAW ", b"RAW9.99", b"RAWxyz"):
            assert len(load(search_file(ramp(12), signature=signature)).y) == 12

    def test_unsampled_negative_value_is_delivered(self):
        values = ramp(100)
        values[1] = -5.0
        values[98] = float("nan")
        p = load(search_file(values))
        assert p.y[1] == -5.0
        assert math.isnan(p.y[98])

    def test_trailing_bytes_become_part_of_block(self):
        # The block is always the last 4*count bytes: two trailing singles shift it.
        values = ramp(12)
        p = load(search_file(values, trailer=singles([7.0, 8.0])))
        assert p.y == pytest.approx(values[2:] + [7.0, 8.0])

    def test_file_and_bytes_give_same_pattern(self, tmp_path):
        data = search_file(ramp(300), start=5.0, step=0.05)
        path = tmp_path / "scan.RAW"
        path.write_bytes(data)
        from_file, from_bytes = morvex.read(str(path)), load(data)
        assert (from_file.x, from_file.y) == (from_bytes.x, from_bytes.y)


class TestDeliberateChanges:
    def test_copy_of_count_without_pair_is_passed_over(self):
        # A first copy of the count that no start/step precedes, then the real one.
        values = ramp(50)
        data = (b"RAW\x00" + FILLER * 28 + struct.pack("<I", 50) + FILLER * 4
                + struct.pack("<ddI", 10.0, 0.5, 50) + FILLER * 4 + singles(values))
        p = load(data)
        assert (p.x[0], p.x[-1]) == (10.0, 49 * 0.5 + 10.0)

    def test_subnormal_start_is_not_a_pair(self):
        # Primary pair invalid (step 0); the only other pair in the window has a subnormal
        # start: before the change it was taken and produced a meaningless axis.
        tiny = 5e-324
        data = (b"RAW0" + FILLER * 4 + struct.pack("<dd", tiny, 0.02) + FILLER * 4
                + struct.pack("<ddI", 1.0, 0.0, 20) + FILLER * 4 + singles(ramp(20)))
        assert_value_error(data, "Failed to locate Bruker RAW start/step metadata")
        # The same with a zero start is a valid pair.
        data = data.replace(struct.pack("<d", tiny), struct.pack("<d", 0.0))
        assert load(data).x[1] == 0.02

    def test_step_below_a_millionth_is_not_a_pair(self):
        assert_value_error(search_file(ramp(20), step=9e-7),
                           "Failed to locate Bruker RAW start/step metadata")
        assert load(search_file(ramp(20), step=1e-6)).x[1] == 1e-6 + 10.0


class TestErrors:
    @pytest.mark.parametrize("data", [
        b"RAW" + b"\x00" * 28,                      # 31 bytes
        b"raw" + b"\x00" * 100,
        b"RAX" + b"\x00" * 100,
        b"\x00RAW" + b"\x00" * 100,
        search_file(ramp(256), signature=b"RAW_1.06"),  # STOE's binary raw, found by no search
    ])
    def test_unsupported_header(self, data):
        assert_value_error(data, "Unsupported Bruker RAW header")

    def test_no_data_block(self):
        assert_value_error(b"RAW\x00" + FILLER * 200, "Failed to locate Bruker RAW data block")
        assert_value_error(b"RAW\x00" + b"\x00" * 200, "Failed to locate Bruker RAW data block")

    def test_no_start_step(self):
        assert_value_error(search_file(ramp(20), step=0.0),
                           "Failed to locate Bruker RAW start/step metadata")
        # A count at offset 12 has no room for a pair before it.
        data = b"RAW" + FILLER * 9 + struct.pack("<I", 12) + FILLER * 4 + singles(ramp(12))
        assert_value_error(data, "Failed to locate Bruker RAW start/step metadata")

    def test_missing_file_is_os_error(self, tmp_path):
        with pytest.raises(OSError) as info:
            morvex.read(str(tmp_path / "absent.raw"))
        assert type(info.value) is OSError
        assert info.value.errno is None


class TestRawSniff:
    """A zero byte among the first 1024 bytes means binary; one at offset 1024 does not."""

    def test_zero_at_1023_is_bruker(self, tmp_path):
        data = b"RAW" + b"x" * 1020 + b"\x00"
        assert_value_error(data, "Failed to locate Bruker RAW data block")
        path = tmp_path / "a.raw"
        path.write_bytes(data)
        with pytest.raises(ValueError, match="^Failed to locate Bruker RAW data block$"):
            morvex.read(str(path))

    def test_zero_at_1024_is_gsas(self, tmp_path):
        data = b"RAW" + b"x" * 1021 + b"\x00"
        assert_value_error(data, "BANK header not found in RAW file")
        path = tmp_path / "a.raw"
        path.write_bytes(data)
        with pytest.raises(ValueError, match="^BANK header not found in RAW file$"):
            morvex.read(str(path))

    def test_empty_is_gsas(self):
        assert_value_error(b"", "BANK header not found in RAW file")


class TestStructuredHeaders:
    def test_raw4_with_eight_byte_points_takes_first_single_of_each(self):
        count = 20
        file_header = b"RAW4.00".ljust(61, b"\x00")
        segment = struct.pack("<II", 10, 12) + b"\x00" * 4
        range_header = bytearray(160)
        struct.pack_into("<ddI", range_header, 72, 2.0, 0.5, count)
        struct.pack_into("<II", range_header, 136, 8, 16)
        points = b"".join(struct.pack("<ff", v, -1.0) for v in ramp(count))
        p = load(file_header + segment + bytes(range_header) + b"\x00" * 16 + points)
        assert p.y == pytest.approx(ramp(count))
        assert p.x == [k * 0.5 + 2.0 for k in range(count)]

    def test_raw101_first_of_several_ranges(self):
        # Three ranges; only the first one's points are read, the rest of the file ignored.
        header = bytearray(712)
        header[:7] = b"RAW1.01"
        struct.pack_into("<I", header, 12, 3)
        range_header = bytearray(304)
        struct.pack_into("<II", range_header, 0, 304, 11)
        struct.pack_into("<d", range_header, 16, 30.0)
        struct.pack_into("<d", range_header, 176, 0.2)
        later = struct.pack("<II", 304, 50) + b"\x00" * 296 + singles(ramp(50))
        p = load(bytes(header) + bytes(range_header) + singles(ramp(11)) + later * 2)
        assert len(p.y) == 11
        assert p.y == pytest.approx(ramp(11))
        assert (p.x[0], p.x[-1]) == (30.0, 10 * 0.2 + 30.0)

    def test_untrusted_structure_falls_back_to_search(self):
        # "RAW4.00" whose segments lead nowhere, but a count, pair and block the search finds.
        assert len(load(search_file(ramp(40), signature=b"RAW4.00\x00")).y) == 40

    def test_raw1_single_precision_axis(self):
        data = (b"RAW " + struct.pack("<IIf", 12, 0, 0.04) + b"\x00" * 8 + struct.pack("<f", 4.98)
                + b"\x00" * 128 + singles(ramp(12)))
        p = load(data)
        start, step = (struct.unpack("<f", struct.pack("<f", v))[0] for v in (4.98, 0.04))
        assert p.x == [k * step + start for k in range(12)]


def test_real_raw4_file_by_search_alone(truth, realdata):
    # Under an unknown version text the header is not read, and the search with its
    # preference for a count preceded by a valid pair still finds the right axis.
    key = "bruker_raw/datalab_TiO2.raw"
    data = (realdata / key).read_bytes()
    check_against_truth(load(b"RAW9.99" + data[7:]), truth[key])


# Versions 3, 4, 1 and 2: cut inside the intensities, at their first byte and just before.
@pytest.mark.parametrize("name", ["KGA1-CONT.RAW", "datalab_TiO2.raw", "pyxrd_brk_raw1.raw",
                                  "pyxrd_brk_raw2.raw"])
def test_real_file_cut_short_is_truncated(realdata, name):
    data = (realdata / "bruker_raw" / name).read_bytes()
    first = len(data) - 4 * len(load(data).y)  # one range of singles that ends the file
    for cut in (len(data) - 1, (first + len(data)) // 2, first + 1, first, first - 1):
        assert_value_error(data[:cut], "Bruker RAW intensity data truncated")


def test_cut_after_the_first_range_loads_it(realdata):
    data = (realdata / "bruker_raw" / "xylib_format1.raw").read_bytes()
    whole = load(data)
    cut = load(data[:len(data) * 4 // 5])
    assert (cut.x, cut.y) == (whole.x, whole.y) and len(cut.y) == 101


# --- every range and its metadata (morvexio) -------------------------------------------------


def raw101_ranges(data):
    """(count, start, step, kV, mA) of each range of a RAW1.01 file, read by its own offsets."""
    ranges, at = [], 712
    for _ in range(struct.unpack_from("<I", data, 12)[0]):
        (count,) = struct.unpack_from("<I", data, at + 4)
        (start,) = struct.unpack_from("<d", data, at + 16)
        (step,) = struct.unpack_from("<d", data, at + 176)
        ranges.append((count, start, step, *struct.unpack_from("<II", data, at + 224)))
        at += 304 + struct.unpack_from("<I", data, at + 256)[0] + 4 * count
    return ranges


@pytest.mark.parametrize("key", sorted(k for k in load_truth() if k.startswith("bruker_raw/")))
def test_real_files_every_range(truth, realdata, key):
    data = (realdata / key).read_bytes()
    measurement = morvexio.read(str(realdata / key))
    row, first = truth[key], measurement.scans[0]
    assert len(first) == int(row["n_points"]) and first.x[0] == pytest.approx(float(row["first_x"]))
    assert first.meta["x_axis"] == "2Theta" and first.meta["x_unit"] == "deg"
    assert measurement.meta["wavelength_kalpha1"] == pytest.approx(1.5406)
    if not data.startswith(b"RAW1.01"):
        assert len(measurement.scans) == 1
        return
    ranges = raw101_ranges(data)
    assert len(measurement.scans) == len(ranges)
    for scan, (count, start, step, kilovolts, milliamperes) in zip(measurement.scans, ranges):
        assert (len(scan), scan.meta["start"], scan.meta["step"]) == (count, start, step)
        assert (scan.meta["voltage_kv"], scan.meta["current_ma"]) == (kilovolts, milliamperes)
        assert scan.x[-1] == pytest.approx(start + (count - 1) * step)
    assert measurement.meta["anode"].lower() == data[608:610].decode().lower()


def test_later_range_cut_is_an_error(realdata):
    data = (realdata / "bruker_raw/xylib_format1.raw").read_bytes()[:-10]
    message = "^cut.raw: Bruker RAW intensity data truncated$"
    with pytest.raises(morvexio.FormatError, match=message):
        morvexio.read_bytes(data, "cut.raw")
    assert len(morvex.read_bytes(data, "cut.raw").x) == 101
