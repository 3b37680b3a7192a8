#!/usr/bin/env python3
"""Loads diffraction files with morvexio and saves a picture of every scan they hold.

Usage: plot.py [-o OUT.png] [--x {x,q,d}] [--build-dir DIR] FILE...

One panel per file, every scan of it drawn, e as error bars where the file has it. x is labelled
with the axis and unit the file states (morvexio's x_axis and x_unit); where a file states none,
the unit is guessed from header words such as "2theta" or "Q". `--x q` or `--x d` draws Q (Å⁻¹)
or d (Å) from 2θ and the file's wavelength; scans that cannot be converted, and files that fail
to load, are reported and left out. Uses matplotlib's Agg backend, so no display is needed.
"""

import argparse
import math
import pathlib
import re
import sys

HERE = pathlib.Path(__file__).resolve().parent

TWO_THETA = "2θ (degrees)"
Q_INVERSE_ANGSTROM = "Q (Å⁻¹)"
Q_INVERSE_NM = "Q (nm⁻¹)"
TIME_OF_FLIGHT = "time of flight (µs)"
D_SPACING = "d (Å)"
UNKNOWN = "x (unit not stated in the file)"
# Labels of the kinds of axis (morvexio's x_axis) whose unit is known; others show as stated.
AXIS_LABELS = {("2Theta", "deg"): TWO_THETA, ("TOF", "us"): TIME_OF_FLIGHT,
               ("Omega", "deg"): "ω (degrees)"}
CONVERTED = {"q": Q_INVERSE_ANGSTROM, "d": D_SPACING}
LEGEND_SCANS = 8

# Header words, checked in this order on the leading comment or caption lines of a text file.
UNIT_WORDS = [
    (re.compile(r"nm\s*(\^?-1|⁻¹)|1\s*/\s*nm", re.I), Q_INVERSE_NM),
    (re.compile(r"\b(2[\s_-]?theta|two[\s_-]?theta|2θ|tth)\b|2θ", re.I), TWO_THETA),
    (re.compile(r"(?<![A-Za-z])q(?![A-Za-z])|Å\s*(\^?-1|⁻¹)|\b1\s*/\s*A\b|\bA\^?-1\b", re.I),
     Q_INVERSE_ANGSTROM),
]
# XRDML and RASX files record 2θ scans; raw files are told apart by content (raw_unit).
UNIT_BY_EXTENSION = {".xrdml": TWO_THETA, ".rasx": TWO_THETA}
# The binning word of a GSAS BANK line. Constant-step banks are 2θ in centidegrees, which the
# reader turns into degrees; RALF and SLOG banks are time of flight in µs.
GSAS_BINNING = {b"CONST": TWO_THETA, b"CONS": TWO_THETA, b"RALF": TIME_OF_FLIGHT,
                b"SLOG": TIME_OF_FLIGHT}
HEADER_LINES = 20
DATA_ROW = re.compile(r"[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?([\s,;]|$)")


def import_morvexio(build_dir):
    """The morvexio package: from build_dir when given, else installed, else from ../build."""
    if build_dir:
        sys.path.insert(0, str(build_dir))
    try:
        import morvexio
    except ImportError:
        if build_dir:
            raise
        sys.path.insert(0, str(HERE.parent / "build"))
        import morvexio
    return morvexio


def header_lines(path):
    """Leading lines of a text file that do not start with a number."""
    lines = []
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            for _, line in zip(range(HEADER_LINES), f):
                text = line.strip().lstrip("#!").strip()
                if text and not DATA_ROW.match(text):
                    lines.append(text)
    except OSError:
        pass
    return lines


def raw_unit(path):
    """Bruker binary files (a zero byte in the first 1024, as the reader decides) scan 2θ; a
    GSAS text file says it on its first BANK line, the one the reader takes."""
    try:
        with open(path, "rb") as f:
            if b"\0" in f.read(1024):
                return TWO_THETA
            f.seek(0)
            for line in f:
                tokens = line.split()
                if line.startswith(b"BANK") and len(tokens) >= 7:
                    return GSAS_BINNING.get(tokens[4], UNKNOWN)
    except OSError:
        pass
    return UNKNOWN


def guess_unit(path):
    """Axis label for x, or a plain one when nothing tells the unit."""
    suffix = path.suffix.lower()
    if suffix == ".raw":
        return raw_unit(path)
    if suffix in UNIT_BY_EXTENSION:
        return UNIT_BY_EXTENSION[suffix]
    for line in header_lines(path):
        for pattern, unit in UNIT_WORDS:
            if pattern.search(line):
                return unit
    return UNKNOWN


def axis_label(path, scan, along):
    """What x is along: Q or d as converted, else the axis and unit the scan states."""
    if along in CONVERTED:
        return CONVERTED[along]
    axis, unit = scan.meta.get("x_axis"), scan.meta.get("x_unit")
    if not axis:
        return guess_unit(path)
    return AXIS_LABELS.get((axis, unit)) or (f"{axis} ({unit})" if unit else axis)


def curves(path, measurement, along):
    """(index, x, scan) of every scan that can be drawn along `along`; the others reported."""
    out = []
    for index, scan in enumerate(measurement.scans):
        try:
            x = {"q": scan.q, "d": scan.d}[along]() if along in CONVERTED else scan.x
        except ValueError as error:
            print(f"{path}: {error}", file=sys.stderr)
            continue
        out.append((index, x, scan))
    return out


def draw(axes, path, drawn, along):
    for index, x, scan in drawn:
        label = f"scan {index}" if len(drawn) > 1 else "y"
        if scan.e is not None:
            # Bars on every point of a long scan would merge into a band; thin them to about 100.
            axes.errorbar(x, scan.y, yerr=scan.e, errorevery=max(1, len(x) // 100),
                          linewidth=0.8, elinewidth=0.6, ecolor="tab:gray", capsize=0,
                          label=label + " ± e")
        else:
            axes.plot(x, scan.y, linewidth=0.8, label=label)
    points = sum(len(x) for _, x, _ in drawn)
    scans = f"{len(drawn)} scans, " if len(drawn) > 1 else ""
    axes.set_title(f"{path.name} ({scans}{points} points)", fontsize=9)
    axes.set_xlabel(axis_label(path, drawn[0][2], along), fontsize=8)
    axes.set_ylabel("intensity", fontsize=8)
    axes.tick_params(labelsize=7)
    if len(drawn) <= LEGEND_SCANS:
        axes.legend(fontsize=7, loc="upper right", frameon=False)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Plot diffraction files loaded with morvexio.")
    parser.add_argument("files", nargs="+", type=pathlib.Path, metavar="FILE")
    parser.add_argument("-o", "--output", type=pathlib.Path, default=pathlib.Path("patterns.png"))
    parser.add_argument("--x", choices=("x", "q", "d"), default="x", dest="along",
                        help="x as the file holds it (default), or Q or d from 2θ")
    parser.add_argument("--build-dir", type=pathlib.Path,
                        help="directory holding a freshly built morvexio package")
    args = parser.parse_args(argv)

    morvexio = import_morvexio(args.build_dir)
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    loaded = []
    for path in args.files:
        try:
            drawn = curves(path, morvexio.read(path), args.along)
        except (OSError, ValueError) as error:
            print(f"{path}: {type(error).__name__}: {error}", file=sys.stderr)
            continue
        if drawn:
            loaded.append((path, drawn))
    if not loaded:
        print("nothing to plot", file=sys.stderr)
        return 1

    columns = min(3, len(loaded))
    rows = math.ceil(len(loaded) / columns)
    figure, axes = plt.subplots(rows, columns, figsize=(4.2 * columns, 3.0 * rows), squeeze=False)
    for panel, (path, drawn) in zip(axes.flat, loaded):
        draw(panel, path, drawn, args.along)
    for panel in list(axes.flat)[len(loaded):]:
        panel.set_visible(False)
    figure.tight_layout()
    args.output.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(args.output, dpi=110)
    print(f"wrote {args.output} ({len(loaded)} of {len(args.files)} files)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
