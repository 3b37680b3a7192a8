"""morvexio: every scan as read-only numpy arrays, metadata, paths, errors, pickling, signals."""

import errno
import os
import pickle
import signal
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

import numpy as np
import pytest

import morvex
import morvexio
from conftest import load_truth

FIRST_SIX = ("bruker_raw", "csv", "gsas", "rasx", "xrdml", "xy", "xye")
SCAN_COUNTS = {"gsas/gem05984.gss": 4}
MESH = "xrdml/m82762_rc1mm_1_16dg_src_slit_phi-101_3dg_-420_mesh_long.xrdml"  # listed 2θ only


def first_pattern(path):
    """What morvex gives for a real file, under the name its reader needs."""
    data = path.read_bytes()
    folder = path.parent.name
    name = "scan." + ("raw" if folder in ("gsas", "bruker_raw") else folder)
    if b"\0" in data[:1024] and path.parent.name == "gsas":
        data = b"title" + data[data.index(b"\r\n"):]
    return data, morvex.read_bytes(data, name)


@pytest.mark.parametrize(
    "key", sorted(k for k in load_truth() if k.split("/")[0] in FIRST_SIX and k != MESH))
def test_real_files_hold_the_morvex_pattern_bit_for_bit(realdata, key):
    path = realdata / key
    data, pattern = first_pattern(path)
    measurement = morvexio.read_bytes(data, path.name)
    if key in SCAN_COUNTS:
        assert len(measurement.scans) == SCAN_COUNTS[key]
    want = (np.array(pattern.x).tobytes(), np.array(pattern.y).tobytes())
    assert any((s.x.tobytes(), s.y.tobytes()) == want for s in measurement.scans)
    assert morvexio.read(path) == morvexio.read_bytes(path.read_bytes(), path.name)


def test_arrays_share_the_readers_memory_and_are_read_only(realdata):
    scan = morvexio.read(realdata / "xye" / "LaB6_d500_si_psd.xye").scans[0]
    for array in (scan.x, scan.y, scan.e):
        assert array.dtype == np.float64 and not array.flags.writeable
        assert np.shares_memory(array, np.asarray(array.base))  # the native column, no copy
    assert np.shares_memory(scan.y, morvexio.Scan(scan.x, scan.y).y)
    with pytest.raises(ValueError):
        scan.y[0] = 1.0


def test_xrdml_metadata_is_what_the_document_states(realdata):
    path = realdata / "xrdml" / "210520step1_30min.xrdml"
    root = ET.parse(path).getroot()
    text = {el.tag.split("}")[1]: el.text for el in root.iter() if el.text and el.text.strip()}
    m = morvexio.read(path)
    assert m.meta["wavelength_kalpha1"] == float(text["kAlpha1"])
    assert m.meta["anode"] == text["anodeMaterial"]
    assert m.meta["voltage_kv"] == float(text["tension"])
    scan = m.scans[0]
    assert scan.meta["status"] == root.find(".//{*}scan").get("status")
    assert scan.meta["time_per_step_s"] == float(text["commonCountingTime"])
    assert repr(scan) == f"<Scan 2Theta {len(scan)} points {scan.x[0]:g}..{scan.x[-1]:g} deg>"


def test_xrdml_x_axis_is_the_kind_of_axis_and_the_word_stays_in_the_header():
    positions = '<positions axis="2-Theta"><startPosition>1</startPosition><endPosition>2'
    document = f"<xrdMeasurements><scan>{positions}</endPosition></positions><counts>5 6</counts>"
    scan = morvexio.read_bytes((document + "</scan></xrdMeasurements>").encode(), "a.xrdml").scans[0]
    assert (scan.meta["x_axis"], scan.meta["header"]) == ("2Theta", {"axis": "2-Theta"})


def test_xrdml_text_keeps_its_inner_spaces_and_expands_references():
    positions = '<positions axis="2Theta"><startPosition>1</startPosition><endPosition>2'
    scan = f"<scan>{positions}</endPosition></positions><counts>5 6</counts></scan>"
    document = f"<xrdMeasurements><sample><name> Si &amp; Ge&#x394; </name></sample>{scan}"
    measurement = morvexio.read_bytes((document + "</xrdMeasurements>").encode(), "a.xrdml")
    assert measurement.meta["sample_name"] == "Si & Ge\u0394"


def test_bruker_v2_file_header_states_sample_date_and_kbeta():
    head = struct.pack("<4sH2x32s128s20s2s5f", b"RAW2", 1, b"ZINCITE.DAT", b"", b"19-12-199721:57",
                       b"Cu", 1.5406, 1.5443, 0.514, 0.0, 1.3924)
    first = struct.pack("<HH4x3f", 64, 2, 3.0, 0.02, 5.0).ljust(64, b"\0") + struct.pack("<2f", 7, 8)
    meta = morvexio.read_bytes(head.ljust(256, b"\0") + first, "a.raw").meta
    assert [meta[k] for k in ("sample_name", "started", "wavelength_kbeta", "kalpha2_ratio")] == [
        "ZINCITE.DAT", "1997-12-19T21:57", 1.3924, 0.514]


def test_mesh_scans_take_their_listed_positions_and_keep_the_fixed_axes(realdata):
    path = realdata / MESH
    elements = ET.parse(path).getroot().findall(".//{*}scan")
    scans = morvexio.read(path).scans
    assert len(scans) == len(elements)
    for scan, element in zip(scans, elements):
        two_theta = element.find(".//{*}positions[@axis='2Theta']/{*}listPositions")
        assert list(scan.x) == [float(v) for v in two_theta.text.split()]
        omega = element.find(".//{*}positions[@axis='Omega']/{*}commonPosition")
        assert scan.meta["axes"]["Omega"] == float(omega.text)


@pytest.mark.parametrize("name, data, fmt, n", [
    ("anything.dat", b"title\nBANK 1 2 1 CONS 1000 10 0 0 STD\n5 6\n", "gsas", 2),
    ("a.xy", b"1,2\n3,4\n", "csv", 2),
    ("t.gsa", b"ti\0tle\nBANK 1 2 1 CONS 1000 10 0 0 STD\n5 6\n", "gsas", 2),
    ("a.xye", b"1 2 3\n4 5 6\n", "xye", 2),
])
def test_format_from_content(name, data, fmt, n):
    m = morvexio.read_bytes(bytearray(data), name)
    assert (m.format, len(m.scans[0])) == (fmt, n)


def test_paths_of_every_kind(tmp_path):
    raw = os.fsencode(tmp_path) + b"/caf\xe9.xy"
    with open(raw, "wb") as f:
        f.write(b"1 2\n")
    for path in (raw, os.fsdecode(raw), tmp_path / os.fsdecode(b"caf\xe9.xy")):
        assert list(morvexio.read(path).scans[0].y) == [2.0]


def test_errors_name_the_file(tmp_path):
    missing = tmp_path / "none.xy"
    with pytest.raises(FileNotFoundError) as caught:
        morvexio.read(missing)
    assert (caught.value.errno, caught.value.filename) == (errno.ENOENT, str(missing))
    cut = b"<xrdMeasurements><xrdMeasurement><scan><dataPoints><intensities>1 2"
    with pytest.raises(morvexio.FormatError) as caught:
        morvexio.read_bytes(cut, "cut.xrdml")
    assert str(caught.value).startswith("cut.xrdml: XRDML parse error: unexpected end of input")
    assert caught.value.filename == "cut.xrdml" and isinstance(caught.value, ValueError)
    with pytest.raises(morvexio.FormatError, match="bank 1 holds 2 of its 3 points: the file is cut"):
        morvexio.read_bytes(b"BANK 1 3 1 CONS 1000 10 0 0 STD\n5 6\n", "c.gsa")
    with pytest.raises(morvexio.FormatError, match="^x.bin: the content is none of the formats"):
        morvexio.read_bytes(b"\0\1\2", "x.bin")


def test_records_pickle_and_compare_by_value(realdata):
    m = morvexio.read(realdata / "gsas" / "gem05984.gss")
    back = pickle.loads(pickle.dumps(m))
    assert back == m and back is not m and not back.scans[0].y.flags.writeable
    assert back.scans[1] != m.scans[0]
    assert repr(m) == "<Measurement gsas 4 scans>"
    assert morvexio.__version__


@pytest.mark.parametrize("read", [lambda p: morvex.read(str(p)), morvexio.read])
def test_ctrl_c_ends_a_read_blocked_on_a_fifo(tmp_path, read):
    fifo = tmp_path / "pipe.xy"
    os.mkfifo(fifo)
    # A shell that starts jobs in the background has them ignore SIGINT: handle it here.
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    # From another process: a load holds the interpreter lock, so no thread of ours could.
    # Should the signal not end the read, a writer ends it seconds later and the test fails.
    killer = subprocess.Popen(
        ["sh", "-c", f"sleep 0.5; kill -INT {os.getpid()}; sleep 5; : > '{fifo}'"])
    try:
        with pytest.raises(KeyboardInterrupt):
            read(fifo)
    finally:
        signal.signal(signal.SIGINT, previous)
        killer.kill()
        killer.wait()


def test_one_interpreter_policy_for_both_modules():
    """Both modules live in the first interpreter that imports them: another one is refused
    with the module's name, and a new import there gives the same module. The native part is
    imported without the package (numpy refuses subinterpreters on its own)."""
    package = os.path.dirname(morvexio._morvexio.__file__)
    native_only = (f"import sys, types; p = types.ModuleType('morvexio'); p.__path__ = [{package!r}]; "
                   "sys.modules['morvexio'] = p\n")
    script = native_only + f"""
import importlib
import morvexio._morvexio as native
sys.modules.pop("morvexio._morvexio")
assert importlib.import_module("morvexio._morvexio") is native
try:
    import _interpreters as interpreters
except ImportError:
    import _xxsubinterpreters as interpreters
if sys.version_info < (3, 12):  # a legacy subinterpreter, as each version spells it
    sub = interpreters.create()
elif sys.version_info < (3, 13):
    sub = interpreters.create(isolated=False)
else:
    sub = interpreters.create("legacy")
interpreters.run_string(sub, {native_only!r} + "try:\\n import morvexio._morvexio\\n"
                             "except ImportError as e:\\n print(e)")
"""
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         timeout=60)
    assert out.returncode == 0, out.stderr
    assert "morvexio does not support subinterpreters" in out.stdout
