"""Choosing the reader by extension, and the exceptions a failed load raises."""

import errno
import os
import struct
import subprocess
import sys

import pytest

import morvex

POINT = b"1 2\n"


def os_error(call):
    """The OSError a call raises, checked to be exactly that class with one argument."""
    with pytest.raises(OSError) as caught:
        call()
    error = caught.value
    assert type(error) is OSError
    assert error.errno is None and error.strerror is None and error.filename is None
    assert len(error.args) == 1 and str(error) == error.args[0]
    return str(error)


def value_error(call):
    with pytest.raises(ValueError) as caught:
        call()
    assert type(caught.value) is ValueError
    assert len(caught.value.args) == 1
    return str(caught.value)


class TestExtensionTable:
    @pytest.mark.parametrize(
        "name",
        ["Sample.XY", "sample.Xye", "a.xy", "a.XYE", "archive.tar.xy", "dir\\file.XY",
         "C:\\data\\scan.xye", "dir/sub/file.xy", "file.xy/", "file.xy\\", "file.xy/.", "./a.xy",
         "..xy", "données/μ.xy", "does/not/exist.xy"],
    )
    def test_xy_names(self, name):
        pattern = morvex.read_bytes(b"1 2 3\n", name)
        assert (pattern.x, pattern.y, pattern.e) == ([1.0], [2.0], [3.0])

    def test_csv_names_choose_the_comma_reader(self):
        # Commas separate only for csv: the same bytes under an xy name hold no point.
        for name in ("SCAN.CSV", "scan.csv", "a.CsV"):
            assert morvex.read_bytes(b"1,2\n", name).x == [1.0]
        assert morvex.read_bytes(b"1,2\n", "scan.xy").x == []

    @pytest.mark.parametrize(
        "name",
        [".xy", "dir/.xy", "noextension", "xy", "file.", "file.xy.", "file.xy ", "file. xy",
         "file.xyz", "file.x", "file.txt", "file.dat", "file.asc", "file.XY.bak", "", "/", "\\",
         ".", "..", "file.xy/..", "file.xy\\..", "dir.xy/file", "file.xy\u00a0", "file.\u0445y",
         "file.xy\x00"],
    )
    def test_unknown_format(self, name):
        assert value_error(lambda: morvex.read_bytes(POINT, name)) == "Unknown format"

    def test_unknown_format_from_a_file(self, tmp_path):
        for name in ("scan.abc", "scan", ".xy", "scan.xy.txt"):
            path = tmp_path / name
            path.write_bytes(POINT)
            assert value_error(lambda: morvex.read(str(path))) == "Unknown format"

    def test_file_and_bytes_give_the_same_pattern(self, tmp_path):
        data = b"# header\n10 100 1\n10.5 110 1.5\r\n11 nan 2\n11.5 120"
        for name in ("scan.xye", "scan.XY"):
            path = tmp_path / name
            path.write_bytes(data)
            from_file = morvex.read(str(path))
            from_bytes = morvex.read_bytes(data, name)
            assert from_file.x == from_bytes.x == [10.0, 10.5, 11.0, 11.5]
            assert str(from_file.y) == str(from_bytes.y)  # compares the NaN too
            assert from_file.e is None and from_bytes.e is None


class TestOsErrors:
    def test_missing_file(self, tmp_path):
        for name in ("missing.xy", "missing.abc", "missing"):
            text = os_error(lambda: morvex.read(str(tmp_path / name)))
            assert text == f"{os.strerror(errno.ENOENT)} (os error {errno.ENOENT})"

    def test_nul_in_path(self, tmp_path):
        real = tmp_path / "real.xy"
        real.write_bytes(POINT)
        for path in (str(real) + "\0", "a\0b.xy", "x.abc\0", "\0"):
            assert os_error(lambda: morvex.read(path)) == (
                "strings passed to WinAPI cannot contain NULs"
            )

    def test_directory(self, tmp_path):
        folder = tmp_path / "folder.xy"
        folder.mkdir()
        text = os_error(lambda: morvex.read(str(folder)))
        assert text == f"{os.strerror(errno.EISDIR)} (os error {errno.EISDIR})"
        # Opening succeeds, so a directory without a known extension is an unknown format.
        assert value_error(lambda: morvex.read(str(tmp_path))) == "Unknown format"

    def test_empty_path(self):
        text = os_error(lambda: morvex.read(""))
        assert text.endswith(f"(os error {errno.ENOENT})")

    @pytest.mark.skipif(os.geteuid() == 0, reason="root reads every file")
    def test_permission_denied(self, tmp_path):
        path = tmp_path / "locked.xy"
        path.write_bytes(POINT)
        path.chmod(0)
        text = os_error(lambda: morvex.read(str(path)))
        assert text == f"{os.strerror(errno.EACCES)} (os error {errno.EACCES})"

    @pytest.mark.parametrize(
        "data",
        [b"1 2\n\xb0\n", b"# caf\xe9\n1 2\n", b"\xff", b"1 2\n3 4 \xed\xa0\x80\n",
         b"1 2\n\xc0\xaf\n", b"1 2\n3 4\xf4\x90\x80\x80", b"1 2\n3 4 \xe2\x82"],
    )
    def test_invalid_utf8(self, data, tmp_path):
        expected = "stream did not contain valid UTF-8"
        assert os_error(lambda: morvex.read_bytes(data, "scan.xy")) == expected
        path = tmp_path / "scan.xye"
        path.write_bytes(data)
        assert os_error(lambda: morvex.read(str(path))) == expected


class TestPipes:
    """The raw sniff is a peek, so a named pipe loads like a regular file."""

    @pytest.mark.parametrize("data, y", [
        (b"title\nBANK 1 2 1 CONST 1000 2 0 0\n5 6\n", [5.0, 6.0]),
        (b"RAW0" + b"\xff" * 12 + struct.pack("<ddI", 10.0, 0.5, 12) + b"\xff" * 4
         + struct.pack("<12f", *range(1, 13)), [float(k) for k in range(1, 13)]),
    ], ids=["gsas", "bruker"])
    def test_raw_from_a_pipe(self, tmp_path, data, y):
        path = tmp_path / "scan.raw"
        os.mkfifo(path)
        # Another process writes it in small pieces, so that the sniff gathers several reads.
        writer = subprocess.Popen([sys.executable, "-c", WRITER, str(path), data.hex()])
        try:
            assert morvex.read(str(path)).y == y
        finally:
            assert writer.wait(timeout=60) == 0


WRITER = """
import sys, time
with open(sys.argv[1], "wb", buffering=0) as pipe:
    data = bytes.fromhex(sys.argv[2])
    for start in range(0, len(data), 16):
        pipe.write(data[start:start + 16])
        time.sleep(0.001)
"""
