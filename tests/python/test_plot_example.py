"""examples/plot.py: the x label (stated or guessed), Q and d, and a picture written."""

import importlib.util
import pathlib

import matplotlib  # noqa: F401  (a test requirement: its absence must fail, not skip)
import pytest

PLOT = pathlib.Path(__file__).resolve().parents[2] / "examples" / "plot.py"
module_spec = importlib.util.spec_from_file_location("plot_example", PLOT)
plot = importlib.util.module_from_spec(module_spec)
module_spec.loader.exec_module(plot)


@pytest.mark.parametrize("name, header, unit", [
    ("a.xy", "# 2theta (deg), intensity\n", plot.TWO_THETA),
    ("a.xye", "! Two_Theta  I  sigma\n", plot.TWO_THETA),
    ("a.csv", "2θ,I\n", plot.TWO_THETA),
    ("a.xy", "# Q  I(Q)\n", plot.Q_INVERSE_ANGSTROM),
    ("a.xye", "# q [1/A] intensity error\n", plot.Q_INVERSE_ANGSTROM),
    ("a.xy", "# Q (nm^-1)\n", plot.Q_INVERSE_NM),
    ("a.xy", "# quartz, measured by Alice\n", plot.UNKNOWN),
    ("a.xy", "", plot.UNKNOWN),
    ("a.raw", "RAW\0", plot.TWO_THETA),  # Bruker binary
    ("a.raw", "title\nBANK 1 2 1\nBANK 1 2 1 CONST 1000 5 0 0 STD\n", plot.TWO_THETA),
    ("a.raw", "BANK 1 2 1 CONS 1000 5 0 0 FXYE\n", plot.TWO_THETA),
    ("a.raw", "BANK 1 2 1 RALF 81743. 65. 81743. 0.00080 ALT\n", plot.TIME_OF_FLIGHT),
    ("a.raw", "BANK 1 2 1 SLOG 1 2 3 0 FXYE\n", plot.TIME_OF_FLIGHT),
    ("a.raw", "BANK 1 2 1 TIME_MAP 1 2 0 0\n", plot.UNKNOWN),
    ("a.raw", "", plot.UNKNOWN),
    ("a.XRDML", "", plot.TWO_THETA),
])
def test_unit_guess(tmp_path, name, header, unit):
    path = tmp_path / name
    path.write_text(header + "10 1\n10.5 2\n", encoding="utf-8")
    assert plot.guess_unit(path) == unit


@pytest.mark.parametrize("relative, unit", [
    ("gsas/gem05984.gss", plot.TIME_OF_FLIGHT),  # RALF binning
    ("gsas/garnet.raw", plot.TWO_THETA),         # CONST
    ("gsas/11bmb_8714.fxye", plot.TWO_THETA),    # CONS, after 21 comment lines
    ("bruker_raw/LaB6_Jan2018.raw", plot.TWO_THETA),
])
def test_real_raw_files(realdata, tmp_path, relative, unit):
    copy = tmp_path / (pathlib.Path(relative).stem + ".raw")  # plot.py loads raw by that name
    copy.write_bytes((realdata / relative).read_bytes())
    assert plot.guess_unit(copy) == unit


def test_writes_a_png_and_skips_files_that_fail(tmp_path, capsys):
    good = tmp_path / "scan.xye"
    good.write_text("# 2theta I e\n10 100 10\n11 121 11\n12 144 12\n", encoding="utf-8")
    out = tmp_path / "out" / "p.png"
    assert plot.main([str(good), str(tmp_path / "missing.xy"), "-o", str(out)]) == 0
    assert out.read_bytes().startswith(b"\x89PNG\r\n\x1a\n")
    captured = capsys.readouterr()
    assert "missing.xy: FileNotFoundError: " in captured.err
    assert "1 of 2 files" in captured.out


def test_nothing_loadable_is_a_failure(tmp_path, capsys):
    unknown = tmp_path / "a.unknown"
    unknown.write_bytes(b"\0\1\2")
    out = tmp_path / "p.png"
    assert plot.main([str(unknown), "-o", str(out)]) == 1
    assert not out.exists()
    assert "a.unknown: FormatError: " in capsys.readouterr().err


def test_q_and_d_from_the_stated_wavelength(tmp_path, capsys):
    stated = tmp_path / "pyfai.xy"
    stated.write_text("# == pyFAI calibration ==\n# Wavelength: 1.5406e-10 m\n#\n# 2th_deg\t I\n"
                      "10 1\n11 2\n", encoding="utf-8")
    bare = tmp_path / "bare.xy"
    bare.write_text("10 1\n11 2\n", encoding="utf-8")
    out = tmp_path / "q.png"
    assert plot.main([str(stated), str(bare), "--x", "d", "-o", str(out)]) == 0
    assert "1 of 2 files" in capsys.readouterr().out
    assert plot.main([str(bare), "--x", "q", "-o", str(out)]) == 1
    assert "q needs x in degrees of 2Theta" in capsys.readouterr().err
    scan = plot.import_morvexio(None).read(stated).scans[0]
    assert [plot.axis_label(stated, scan, along) for along in ("x", "q", "d")] == [
        plot.TWO_THETA, plot.Q_INVERSE_ANGSTROM, plot.D_SPACING]
