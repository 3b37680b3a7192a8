"""SPEC files, Rigaku text exports and the start/step/stop family through morvexio: which
columns a SPEC scan's x and y are, every group of a Rigaku export, every start/step/stop
variant, and the cut or miscounted copies each refuses. The real files' truth rows are checked
in test_text_formats.py."""

import re

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import morvexio
from conftest import load_truth

SPEC_ROWS = sorted(k for k in load_truth() if k.startswith("spec/"))


@pytest.mark.parametrize("key", SPEC_ROWS)
def test_spec_x_and_y_are_the_columns_truth_names(truth, realdata, key):
    x_label, y_label = re.search(r"x column '(.+)', y column '(.+)'", truth[key]["notes"]).groups()
    scan = morvexio.read(realdata / key).scans[0]
    assert np.array_equal(scan.x, scan.meta["columns"][x_label])
    assert np.array_equal(scan.y, scan.meta["columns"][y_label])


SPEC = b"""#F demo.spec
#E 1276730676
#O0 Two Theta  theta  chi
#o0 tth th chi

#S 1  ascan  th 1 2  2 0.5
#D Wed Jun 16 18:27:39 2010
#P0 10 1 90
#N 4
#L Point  theta  I0  I0
@A 1 2 3\\
4 5
0 1 7 70
1 1.5 8 80
2 2 9 90

#S 2  ascan  tth 0 1  1 -200
#N 3
#L Point  Two Theta  det
0 0 5
1 1 6

#S 3  timescan 1
#N 2
#L Epoch  det
"""


def test_spec_scans_columns_and_keys():
    m = morvexio.read_bytes(SPEC, "demo")
    assert (m.format, m.meta["scans_without_rows"], m.meta["header"]["F"]) == ("spec", 1.0,
                                                                             "demo.spec")
    first, second = m.scans
    # the command's motor by #L label (theta) or by #o mnemonic (tth is "Two Theta")
    assert (list(first.x), list(first.y), list(second.x)) == ([1, 1.5, 2], [70, 80, 90], [0, 1])
    assert list(first.meta["columns"]) == ["Point", "theta", "I0", "I0_2"]
    assert first.meta["columns"]["I0"].flags.writeable is False
    assert {k: first.meta[k] for k in ("scan_number", "started", "time_per_step_s", "x_axis")} == {
        "scan_number": "1", "started": "2010-06-16T18:27:39", "time_per_step_s": 0.5,
        "x_axis": "Theta"}
    assert first.meta["axes"] == {"Two Theta": 10.0, "theta": 1.0, "chi": 90.0}
    assert "time_per_step_s" not in second.meta  # a negative count is a monitor's


@pytest.mark.parametrize("data, message", [
    (SPEC.replace(b"2 2 9 90", b"2 2 9"), "SPEC scan 1 has a row of 3 numbers where #N states 4 "
     "(cut file?)"),
    (SPEC.replace(b"#L Point  theta  I0  I0\n", b""), "SPEC scan 1 has rows but no #L labels"),
    (SPEC.replace(b"#L Point  Two Theta  det", b"#L Point  det"),
     "SPEC scan 2: #L names 2 columns, its rows hold 3"),
    (SPEC.replace(b"1 1 6", b"1 one 6"), "SPEC scan 2 holds a row that is no numbers"),
    (SPEC[:SPEC.index(b"#S 1")], "the file holds no scan"),
    (b"#F\n#\n", "the content is none of the formats morvexio reads (a .spec name expects a SPEC "
     "data file)"),  # a lone "#" once stopped the content rule
])
def test_spec_refusals(data, message):
    with pytest.raises(morvexio.FormatError) as caught:
        morvexio.read_bytes(data, "a.spec")
    assert str(caught.value) == f"a.spec: {message}"


def rigaku(groups=((20, 5),), stated=None):
    """A Rigaku text export of groups of (kV, counts)."""
    text = ("*TYPE = Raw\n*SAMPLE = quartz\n*DATE = 04-Mar-92 16:34\n*GROUP_COUNT = "
            f"{stated or len(groups)}\n*SCAN_AXIS = 2 Theta / Theta\n*TARGET = 42\n"
            "*WAVE_LENGTH1 = 0.70930\n*SPEED_DIM = sec./step(FT)\n*SLIT_NAME = 0, DS\n"
            "*SLIT_NAME = 1, RS\n")
    for group, (kv, counts) in enumerate(groups):
        text += (f"*BEGIN\n*GROUP = {group}\n*START = 10.0\n*STOP = 10.4\n*STEP = 0.1\n"
                 f"*SPEED = 2\n*KV = {kv}\n*MA = 30\n*COUNT = 5\n")
        values = [str(100 + k) for k in range(counts)]
        text += "".join(", ".join(values[k:k + 4]) + "\n" for k in range(0, counts, 4)) + "*END\n"
    return (text + "*EOF\n").encode()


def test_rigaku_text_groups_and_keys():
    m = morvexio.read_bytes(rigaku(((20, 5), (40, 5))), "a.asc")
    assert (m.format, m.meta["anode"], m.meta["started"], m.meta["voltage_kv"]) == (
        "rigaku_text", "Mo", "1992-03-04T16:34:00", 20.0)
    assert m.meta["header"]["SLIT_NAME"] == "0, DS\n1, RS"
    first, second = m.scans
    assert list(first.x) == pytest.approx([10.0, 10.1, 10.2, 10.3, 10.4]) and first.y[-1] == 104
    assert (first.meta["x_axis"], first.meta["time_per_step_s"]) == ("2Theta", 2.0)
    assert "voltage_kv" not in first.meta and second.meta["voltage_kv"] == 40.0


@pytest.mark.parametrize("data, message", [
    (rigaku(((20, 4),)), "Rigaku text group holds 4 counts where *COUNT states 5 (cut file?)"),
    (rigaku(((20, 6),)), "Rigaku text group holds 6 counts where *COUNT states 5"),
    (rigaku()[:-12], "Rigaku text file ends inside a group (cut file?)"),
    (rigaku(stated=2), "Rigaku text file holds 1 groups where *GROUP_COUNT states 2"),
    (rigaku().replace(b"100, ", b"1OO, "), "Invalid Rigaku text count"),
])
def test_rigaku_text_refusals(data, message):
    with pytest.raises(morvexio.FormatError) as caught:
        morvexio.read_bytes(data, "a.dat")
    assert str(caught.value) == f"a.dat: {message}"


def counts(n, per_line=10, first=100):
    values = [str(first + k) for k in range(n)]
    return "".join(" ".join(values[k:k + per_line]) + "\n" for k in range(0, n, per_line))


# (file text, points, whether it holds e, title): RIET7 with four header lines, DBWS's 3F8.2 and
# title with eight F7.0 fields a line (six-digit counts run together), ILL D1A with its
# uncertainties, PSI DMC with a wavelength, uncertainties and trailing text, commas between.
VARIANTS = [
    ("RIET7 quartz\nline 2\nline 3\nline 4\n 10.00 0.05 12.00\n" + counts(41), 41, False,
     "RIET7 quartz"),
    ("   10.00    0.05   12.00 DBWS title\n" + "".join(
        "".join(f"{v:6d}." for v in range(900000 + k, 900000 + min(k + 8, 41))) + "\n"
        for k in range(0, 41, 8)),
     41, False, "DBWS title"),
    ("D1A  Ni standard\n 10.00 0.05 12.00 \n" + counts(41) + counts(41, first=10), 41, True,
     "D1A  Ni standard"),
    ("DMC  sample\n lambda=  2.4500 T=1.5\n 10.00, 0.05, 12.00\n" + counts(41) +
     counts(41, first=10) + "Filelist=dmc2020n001234.dat\na4=  5.0\n", 41, True, "DMC  sample"),
]


@pytest.mark.parametrize("text, points, with_e, title", VARIANTS)
def test_start_step_stop_variants_load_and_their_cut_copies_do_not(text, points, with_e, title):
    m = morvexio.read_bytes(text.encode(), "a.dat")
    scan = m.scans[0]
    assert (m.format, len(scan), scan.e is not None, m.meta["header"]["title"]) == (
        "start_step_stop", points, with_e, title)
    assert (scan.x[0], scan.x[-1]) == pytest.approx((10.0, 12.0))
    lines = text.splitlines(keepends=True)
    counts_end = max(k for k, line in enumerate(lines) if line[:1] in " 0123456789")
    for broken in ("".join(lines[:counts_end]), "".join(lines[:counts_end + 1]) + "7\n"):
        with pytest.raises(morvexio.FormatError, match="the content is none of the formats"):
            morvexio.read_bytes(broken.encode(), "a.dat")
    if "lambda" in text:
        assert m.meta["wavelength"] == 2.45 and m.meta["header"]["trailer"].startswith("Filelist")


@settings(max_examples=60, deadline=None)
@given(st.integers(-100, 100), st.integers(1, 500), st.integers(8, 3000),
       st.sampled_from([1, 8, 10]))
def test_any_even_axis_reads_its_counts_and_no_other_count(start, step, n, per_line):
    step /= 100
    text = f"title\n{start} {step} {start + (n - 1) * step}\n" + counts(n, per_line)
    scan = morvexio.read_bytes(text.encode(), "a.dat").scans[0]
    assert len(scan) == n and scan.y[-1] == 100 + n - 1
    assert scan.x[-1] == pytest.approx(start + (n - 1) * step)
    cut = text.encode()[:-len(str(100 + n - 1)) - 1]
    with pytest.raises(morvexio.FormatError):
        morvexio.read_bytes(cut, "a.dat")


def test_a_cut_file_past_the_head_is_refused_by_its_count():
    text = "title\n0 0.001 49.999\n" + counts(49_999)
    with pytest.raises(morvexio.FormatError) as caught:
        morvexio.read_bytes(text.encode(), "a.dat")
    assert str(caught.value) == ("a.dat: The counts number 49999 where start, step and stop "
                                 "state 50000 (cut file?)")
