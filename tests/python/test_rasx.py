"""RASX archives: choice of the profile entry, its parsing, and archive and data failures."""

import io
import os
import struct
import zipfile
import zlib
import xml.etree.ElementTree as ET

import pytest

import morvex
import morvexio
from conftest import load_truth
from helpers import check_text_files_match_truth, loader

PROFILE = "Data0/Profile0.txt"
NOT_FOUND = "File not found in archive: Profile*.txt"
EOCD_SIZE = 22
CENTRAL_HEADER_SIZE = 46


def make_archive(*entries, method=zipfile.ZIP_DEFLATED):
    """Archive bytes holding (name, text or bytes[, method]) entries in the given order."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for name, data, *rest in entries:
            if isinstance(data, str):
                data = data.encode("utf-8")
            archive.writestr(name, data, compress_type=rest[0] if rest else method)
    return buffer.getvalue()


def central_headers(data):
    """Offsets of the central-directory headers and of the local headers they point at."""
    eocd = len(data) - EOCD_SIZE
    assert data[eocd : eocd + 4] == b"PK\x05\x06"
    count, _, cd_offset = struct.unpack_from("<HII", data, eocd + 10)
    offset = cd_offset
    for _ in range(count):
        assert data[offset : offset + 4] == b"PK\x01\x02"
        name_len, extra_len, comment_len = struct.unpack_from("<HHH", data, offset + 28)
        (local,) = struct.unpack_from("<I", data, offset + 42)
        yield offset, local
        offset += CENTRAL_HEADER_SIZE + name_len + extra_len + comment_len


def patch_entry(data, index, *, flags=None, method=None, crc=None):
    """Rewrites the general-purpose flags, method or CRC-32 of one entry in both headers."""
    data = bytearray(data)
    central, local = list(central_headers(bytes(data)))[index]
    # (local header offset, central header offset, format) of each field
    fields = {"flags": (6, 8, "<H"), "method": (8, 10, "<H"), "crc": (14, 16, "<I")}
    for field, value in (("flags", flags), ("method", method), ("crc", crc)):
        if value is None:
            continue
        local_at, central_at, fmt = fields[field]
        struct.pack_into(fmt, data, local + local_at, value)
        struct.pack_into(fmt, data, central + central_at, value)
    return bytes(data)


def entry_data_offset(data, index):
    _, local = list(central_headers(data))[index]
    name_len, extra_len = struct.unpack_from("<HH", data, local + 26)
    return local + 30 + name_len + extra_len


load = loader("scan.rasx")


def points(pattern):
    return list(zip(pattern.x, pattern.y))


# --- choice of the profile entry -------------------------------------------------------------


def test_exact_name_is_chosen_among_other_entries():
    data = make_archive(
        ("root.xml", "<root/>"),
        (PROFILE, "10 1\n11 2\n"),
        ("Data0/MesurementConditions0.xml", "<c/>"),
    )
    assert points(load(data)) == [(10.0, 1.0), (11.0, 2.0)]


def test_exact_name_wins_over_directory_order():
    data = make_archive(("Data0/Profile1.txt", "1 1\n"), (PROFILE, "2 2\n"))
    assert points(load(data)) == [(2.0, 2.0)]


@pytest.mark.parametrize(
    "names, expected",
    [
        (["Data1/Profile0.txt", "Data1/Profile1.txt"], 0),
        (["Data1/Profile1.txt", "Data1/Profile0.txt"], 0),
        (["notes.txt", "Data0\\Profile0.txt"], 1),  # a backslash is no slash: fallback rule
        (["MyProfileScan.txt"], 0),
    ],
)
def test_fallback_takes_first_fitting_name_in_order(names, expected):
    data = make_archive(*[(name, f"{k} {k}\n") for k, name in enumerate(names)])
    assert points(load(data)) == [(float(expected), float(expected))]


@pytest.mark.parametrize(
    "names",
    [
        ["data0/profile0.txt"],  # "Profile" is case-sensitive
        ["Data0/Profile0.TXT"],  # so is ".txt"
        ["Data0/Profile0.txt.bak", "Data0/Other.txt", "root.xml"],
        ["Data0/Profile0.tx"],
    ],
)
def test_names_that_do_not_fit_are_not_found(names):
    data = make_archive(*[(name, "1 1\n") for name in names])
    with pytest.raises(ValueError) as raised:
        load(data)
    assert str(raised.value) == NOT_FOUND


def test_archive_without_entries_is_not_found():
    data = make_archive()
    assert len(data) == EOCD_SIZE
    with pytest.raises(ValueError) as raised:
        load(data)
    assert str(raised.value) == NOT_FOUND


# --- entries that are no candidates ----------------------------------------------------------


def test_encrypted_profile_is_no_candidate():
    data = patch_entry(make_archive((PROFILE, "1 1\n")), 0, flags=0x0001)
    with pytest.raises(ValueError) as raised:
        load(data)
    assert str(raised.value) == NOT_FOUND


def test_bzip2_profile_is_no_candidate_though_libzip_could_read_it():
    data = make_archive((PROFILE, "1 1\n", zipfile.ZIP_BZIP2))
    with pytest.raises(ValueError) as raised:
        load(data)
    assert str(raised.value) == NOT_FOUND


def test_unknown_method_is_no_candidate():
    data = patch_entry(make_archive((PROFILE, "1 1\n")), 0, method=6)
    with pytest.raises(ValueError) as raised:
        load(data)
    assert str(raised.value) == NOT_FOUND


@pytest.mark.parametrize(
    "patch",
    [
        {"flags": 0x0001},
        {"method": 12},
    ],
)
def test_excluded_exact_name_falls_back_to_next_fitting_entry(patch):
    data = make_archive((PROFILE, "1 1\n"), ("Data1/Profile0.txt", "2 2\n"))
    assert points(load(patch_entry(data, 0, **patch))) == [(2.0, 2.0)]


def test_stored_profile_is_read():
    data = make_archive((PROFILE, "1 2\n3 4\n", zipfile.ZIP_STORED))
    assert points(load(data)) == [(1.0, 2.0), (3.0, 4.0)]


# --- the profile text ------------------------------------------------------------------------


def test_two_columns_only_and_no_uncertainty():
    text = "10.00\t152\t1.0000\r\n10.01 153\r\n"
    pattern = load(make_archive((PROFILE, text)))
    assert points(pattern) == [(10.0, 152.0), (10.01, 153.0)]
    assert pattern.e is None


def test_lines_without_two_numbers_are_skipped():
    text = (
        "\ufeff# header line\n"
        "2theta intensity\n"
        "   \n"
        "42\n"
        "1 abc\n"
        "abc 1\n"
        "5 6 junk\n"
        "7\u00a08\n"  # no-break space separates columns
    )
    assert points(load(make_archive((PROFILE, text)))) == [(5.0, 6.0), (7.0, 8.0)]


def test_number_after_comment_marker_is_data():
    # There is no comment marker: "#" only drops out because it does not parse.
    assert points(load(make_archive((PROFILE, "# 1 2\n1 2\n")))) == [(1.0, 2.0)]


def test_empty_profile_gives_empty_pattern():
    pattern = load(make_archive((PROFILE, "")))
    assert (pattern.x, pattern.y, pattern.e) == ([], [], None)


def test_byte_order_mark_is_skipped_before_first_line():
    pattern = load(make_archive((PROFILE, b"\xef\xbb\xbf1 2\r\n3 4\r\n")))
    assert points(pattern) == [(1.0, 2.0), (3.0, 4.0)]


def test_invalid_utf8_in_profile_is_an_os_error():
    data = make_archive((PROFILE, b"1 2\n# 25\xb0C\n3 4\n"))
    with pytest.raises(OSError) as raised:
        load(data)
    assert type(raised.value) is OSError
    assert str(raised.value) == "stream did not contain valid UTF-8"


def test_large_profile_streams_across_buffers():
    count = 200_000
    lines = [f"{10 + k * 0.001:.4f} {k % 9973} 1.0" for k in range(count)]
    # One line far longer than the line reader's buffer, holding a point at its start.
    lines.insert(1000, "1.5 2.5 " + "x" * 50_000)
    pattern = load(make_archive((PROFILE, "\r\n".join(lines))))
    assert len(pattern.x) == count + 1
    assert pattern.x[1000] == 1.5 and pattern.y[1000] == 2.5
    assert pattern.x[-1] == float(f"{10 + (count - 1) * 0.001:.4f}")
    assert pattern.y[-1] == float((count - 1) % 9973)


# --- damaged entry data ----------------------------------------------------------------------


def test_wrong_crc_fails_after_all_lines_parsed():
    data = make_archive((PROFILE, "1 2\n3 4\n"))
    info = zipfile.ZipFile(io.BytesIO(data)).infolist()[0]
    data = patch_entry(data, 0, crc=info.CRC ^ 0xFFFFFFFF)
    with pytest.raises(OSError) as raised:
        load(data)
    assert type(raised.value) is OSError
    assert str(raised.value) == "CRC error"


def test_wrong_crc_of_stored_entry_fails_too():
    data = make_archive((PROFILE, "1 2\n", zipfile.ZIP_STORED))
    data = patch_entry(data, 0, crc=0)
    with pytest.raises(OSError, match="^CRC error$"):
        load(data)


def test_damaged_deflate_data_is_an_os_error():
    data = bytearray(make_archive((PROFILE, "1 2\n" * 100)))
    # A first block header of 0b111: final block of the reserved type 3.
    data[entry_data_offset(bytes(data), 0)] = 0xFF
    with pytest.raises(OSError) as raised:
        load(bytes(data))
    assert type(raised.value) is OSError
    assert str(raised.value) == "Zlib error: data error"


TEXT = b"1 2\n3 4\n"

def raw_deflate(data):
    deflate = zlib.compressobj(wbits=-15)  # zlib.compress takes wbits from 3.11 on
    return deflate.compress(data) + deflate.flush()


COMPLETE = raw_deflate(TEXT)
FLUSHING = zlib.compressobj(wbits=-15)
SYNC_FLUSHED = FLUSHING.compress(TEXT) + FLUSHING.flush(zlib.Z_SYNC_FLUSH)  # no final block


@pytest.mark.parametrize(
    "stream, text, expected",
    [
        (COMPLETE + b"\xff" * 8, TEXT, [(1.0, 2.0), (3.0, 4.0)]),  # bytes after the final block
        (SYNC_FLUSHED, TEXT, [(1.0, 2.0), (3.0, 4.0)]),
        (COMPLETE[: len(COMPLETE) // 2], TEXT, "CRC error"),
        (SYNC_FLUSHED + b"\xff", TEXT, "Zlib error: data error"),  # reserved block type
    ],
)
def test_deflate_data_is_read_up_to_its_end_or_damage(stream, text, expected):
    # Stored, then relabelled: the uncompressed size the directory states is then wrong, and
    # goes unchecked as it always has for DEFLATE entries; the CRC-32 alone judges the data.
    data = make_archive((PROFILE, stream, zipfile.ZIP_STORED))
    data = patch_entry(data, 0, method=zipfile.ZIP_DEFLATED, crc=zlib.crc32(text))
    if isinstance(expected, list):
        assert points(load(data)) == expected
        return
    with pytest.raises(OSError) as raised:
        load(data)
    assert type(raised.value) is OSError
    assert str(raised.value) == expected


def test_damage_in_an_unused_entry_does_not_matter():
    data = make_archive(("other.bin", "x" * 100), (PROFILE, "1 2\n"))
    data = patch_entry(data, 0, crc=0)
    assert points(load(data)) == [(1.0, 2.0)]


# --- inputs that are no readable archive -----------------------------------------------------


@pytest.mark.parametrize(
    "data",
    [
        b"",  # zero bytes are no archive here, though libzip takes them for an empty one
        b"1 2\n3 4\n",
        b"PK\x03\x04",  # a lone local header signature
    ],
)
def test_non_archives_are_invalid(data):
    with pytest.raises(ValueError) as raised:
        load(data)
    assert str(raised.value) == "invalid Zip archive: Not a zip archive"


def test_cut_archive_is_invalid():
    data = make_archive((PROFILE, "1 2\n" * 100))
    with pytest.raises(ValueError, match="^invalid Zip archive: "):
        load(data[: len(data) // 2])


def test_multi_disk_archive_is_unsupported():
    data = bytearray(make_archive((PROFILE, "1 2\n")))
    struct.pack_into("<H", data, len(data) - EOCD_SIZE + 4, 1)  # number of this disk
    with pytest.raises(ValueError) as raised:
        load(bytes(data))
    assert str(raised.value) == "unsupported Zip archive: Multi-disk zip archives not supported"


def test_empty_file_is_invalid(tmp_path):
    path = tmp_path / "empty.rasx"
    path.write_bytes(b"")
    with pytest.raises(ValueError) as raised:
        morvex.read(str(path))
    assert str(raised.value) == "invalid Zip archive: Not a zip archive"


def test_directory_is_an_io_failure_of_the_archive(tmp_path):
    path = tmp_path / "folder.rasx"
    path.mkdir()
    with pytest.raises(ValueError) as raised:
        morvex.read(str(path))
    assert str(raised.value).startswith("i/o error: ")
    assert str(raised.value).endswith(" (os error 21)")


def test_descriptors_are_released_on_every_path(tmp_path):
    good = tmp_path / "good.rasx"
    good.write_bytes(make_archive((PROFILE, "1 2\n")))
    bad_crc = tmp_path / "crc.rasx"
    bad_crc.write_bytes(patch_entry(make_archive((PROFILE, "1 2\n")), 0, crc=0))
    no_profile = tmp_path / "none.rasx"
    no_profile.write_bytes(make_archive(("a.txt", "1 2\n")))
    not_zip = tmp_path / "text.rasx"
    not_zip.write_bytes(b"1 2\n")
    before = len(os.listdir("/proc/self/fd"))
    for _ in range(50):
        morvex.read(str(good))
        for path in (bad_crc, no_profile, not_zip):
            with pytest.raises((OSError, ValueError)):
                morvex.read(str(path))
    assert len(os.listdir("/proc/self/fd")) == before


def test_missing_file_is_os_error(tmp_path):
    with pytest.raises(OSError) as raised:
        morvex.read(str(tmp_path / "missing.rasx"))
    assert type(raised.value) is OSError
    assert str(raised.value).endswith(" (os error 2)")


# --- file and bytes --------------------------------------------------------------------------


def test_file_and_bytes_give_same_pattern(tmp_path):
    text = "".join(f"{k * 0.02:.2f}\t{k * k}\t1\r\n" for k in range(5000))
    data = make_archive(("root.xml", "<r/>"), (PROFILE, "\ufeff" + text))
    path = tmp_path / "scan.RASX"
    path.write_bytes(data)
    from_file = morvex.read(str(path))
    from_bytes = morvex.read_bytes(data, "scan.RASX")
    assert len(from_file.x) == 5000
    assert (from_file.x, from_file.y, from_file.e) == (from_bytes.x, from_bytes.y, None)


def test_file_failures_match_bytes_failures(tmp_path):
    data = patch_entry(make_archive((PROFILE, "1 2\n")), 0, crc=0)
    path = tmp_path / "bad.rasx"
    path.write_bytes(data)
    with pytest.raises(OSError, match="^CRC error$"):
        morvex.read(str(path))


# --- real instrument files -------------------------------------------------------------------


def test_real_files_match_truth(truth, realdata):
    # e stays None: the third column of a Rigaku profile is an attenuator coefficient.
    check_text_files_match_truth(truth, realdata, "rasx")


@pytest.mark.parametrize("key", sorted(k for k in load_truth() if k.startswith("rasx/")))
def test_real_files_conditions_and_attenuation(realdata, key):
    path = realdata / key
    with zipfile.ZipFile(path) as archive:
        root = ET.fromstring(archive.read("Data0/MesurementConditions0.xml").decode("utf-8-sig"))
        rows = [line.split() for line in archive.read(PROFILE).decode("utf-8-sig").splitlines()]
    measurement = morvexio.read(str(path))
    scan = measurement.scans[0]
    generator, information = root.find(".//XrayGenerator"), root.find("ScanInformation")
    assert measurement.meta["wavelength_kalpha1"] == float(generator.findtext("WavelengthKalpha1"))
    assert measurement.meta["voltage_kv"] == float(generator.findtext("Voltage"))
    assert scan.meta["scan_axis"] == information.findtext("AxisName")
    assert scan.meta["start"] == float(information.findtext("Start"))
    assert scan.meta["started"] == information.findtext("StartTime")
    assert list(scan.meta["attenuation"]) == [float(row[2]) for row in rows]
    assert scan.e is None and morvex.read(str(path)).e is None


def test_a_map_read_by_a_team_keeps_order_own_conditions_and_the_first_failure():
    """Many profiles are read side by side: each keeps its place, its entry name and its own
    conditions (a map's ω per profile); of two bad entries the first in order is reported."""
    def archive(bad=()):
        entries = []
        for k in range(40):
            text = "1 2\n\xff\n" if k in bad else f"{k} {k + 1}\n{k + 2} 5\n"
            entries.append((f"Data0/Profile{k}.txt", text.encode("latin-1")))
            entries.append((f"Data0/MesurementConditions{k}.xml",
                            f'<C><Axes><Axis Name="Omega" Unit="deg" Position="{k / 8}" '
                            f'State="{"Fixed" if k != 38 else "x"}" /></Axes></C>'))
        return make_archive(*entries)

    m = morvexio.read_bytes(archive(), "map.rasx")
    assert [s.meta["entry"] for s in m] == [f"Data0/Profile{k}.txt" for k in range(40)]
    assert [(s.x[0], s.meta.get("axes", {}).get("Omega")) for s in m] == [
        (k, k / 8 if k != 38 else None) for k in range(40)]
    data = patch_entry(archive(bad=[7]), 2 * 33, crc=0)  # entry 2k is profile k
    with pytest.raises(morvexio.FormatError, match="valid UTF-8"):
        morvexio.read_bytes(data, "map.rasx")
    with pytest.raises(morvexio.FormatError, match="CRC error"):
        morvexio.read_bytes(patch_entry(archive(), 2 * 33, crc=0), "map.rasx")
