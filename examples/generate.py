#!/usr/bin/env python3
"""Writes the small example files of examples/data/, one or more per format.

Every file is made up here from a simple synthetic pattern (a few Gaussian peaks on a
sloping background), so the examples carry no third-party data. Run it again after a
change; the output is deterministic.
"""

import math
import pathlib
import struct
import zipfile

HERE = pathlib.Path(__file__).resolve().parent
DATA = HERE / "data"


def synthetic_pattern(start=10.0, step=0.05, count=201):
    """Positions and intensities of a made-up powder pattern."""
    peaks = [(18.0, 900.0, 0.15), (23.5, 400.0, 0.2), (27.1, 1500.0, 0.12)]
    xs, ys = [], []
    for k in range(count):
        x = start + k * step
        y = 120.0 - 1.5 * (x - start)
        for centre, height, width in peaks:
            y += height * math.exp(-0.5 * ((x - centre) / width) ** 2)
        xs.append(x)
        ys.append(round(y, 1))
    return xs, ys


def write_xy():
    xs, ys = synthetic_pattern()
    lines = ["# synthetic pattern: 2theta (deg), intensity (counts)"]
    lines += [f"{x:.4f} {y:.1f}" for x, y in zip(xs, ys)]
    (DATA / "synthetic.xy").write_text("\n".join(lines) + "\n", encoding="utf-8")


def write_xye():
    xs, ys = synthetic_pattern()
    lines = ["! synthetic pattern with counting uncertainties"]
    lines += [f"{x:.4f}\t{y:.1f}\t{math.sqrt(y):.3f}" for x, y in zip(xs, ys)]
    (DATA / "synthetic.xye").write_text("\r\n".join(lines) + "\r\n", encoding="utf-8")


def write_csv():
    xs, ys = synthetic_pattern()
    lines = ["two_theta,intensity"] + [f"{x:.4f},{y:.1f}" for x, y in zip(xs, ys)]
    (DATA / "synthetic.csv").write_text("\n".join(lines) + "\n", encoding="utf-8")


def bruker_raw4_bytes(start, step, intensities):
    """A one-range Bruker RAW4.00 file: 61-byte file header, one metadata segment, the
    160-byte range header (start, step and count at +72, +80, +88) and 4-byte data points."""
    file_header = b"RAW4.00\x00".ljust(61, b"\x00")
    segment = struct.pack("<II", 10, 36) + b"USER".ljust(28, b"\x00")
    count = len(intensities)
    range_header = bytearray(160)
    struct.pack_into("<II", range_header, 0, 0, count)
    struct.pack_into("<ddI", range_header, 72, start, step, count)
    struct.pack_into("<II", range_header, 136, 4, 0)
    data = struct.pack(f"<{count}f", *intensities)
    return file_header + segment + bytes(range_header) + data


def gsas_std_text(title, start, step, intensities):
    """A GSAS STD file: start and step in hundredths, ten 8-character fields per record."""
    count = len(intensities)
    records = (count + 9) // 10
    bank = f"BANK 1 {count} {records} CONST {start * 100:.2f} {step * 100:.4f} 0 0 STD"
    lines = [title.ljust(80), bank.ljust(80)]
    for r in range(records):
        lines.append("".join(f"{round(y):8d}" for y in intensities[10 * r:10 * r + 10]).ljust(80))
    return "\r\n".join(lines) + "\r\n"


def write_bruker_raw():
    xs, ys = synthetic_pattern()
    (DATA / "synthetic_bruker.raw").write_bytes(bruker_raw4_bytes(xs[0], 0.05, ys))


def write_gsas_raw():
    xs, ys = synthetic_pattern()
    text = gsas_std_text("synthetic pattern, GSAS STD", xs[0], 0.05, ys)
    (DATA / "synthetic_gsas.raw").write_text(text, encoding="ascii", newline="")


def write_rasx():
    """A Rigaku-like archive: the profile with a byte-order mark, CRLF lines and a third
    (attenuator) column, beside the metadata entries a real file carries."""
    xs, ys = synthetic_pattern()
    profile = "\ufeff" + "".join(f"{x:.4f}\t{y:.1f}\t1.0000\r\n" for x, y in zip(xs, ys))
    entries = [
        ("root.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<RootElement />\r\n"),
        ("Data0/MesurementConditions0.xml", "<MeasurementConditions />\r\n"),
        ("Data0/Profile0.txt", profile),
    ]
    with zipfile.ZipFile(DATA / "synthetic.rasx", "w") as archive:
        for name, text in entries:
            # A fixed time stamp keeps the archive's bytes the same on every run.
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, text.encode("utf-8"))


def write_xrdml():
    """A PANalytical-like XRDML document (schema 1.5): one 2θ scan given by its start and end
    positions and the intensities, beside an Omega axis and other elements a reader passes over."""
    xs, ys = synthetic_pattern()
    counts = " ".join(f"{round(y)}" for y in ys)
    text = f"""<?xml version="1.0" encoding="UTF-8"?>
<xrdMeasurements xmlns="http://www.xrdml.com/XRDMeasurement/1.5" status="Completed">
  <sample type="To be analyzed">
    <id>synthetic</id>
  </sample>
  <xrdMeasurement measurementType="Scan" status="Completed" sampleMode="Reflection">
    <usedWavelength intended="K-Alpha 1">
      <kAlpha1 unit="Angstrom">1.5405980</kAlpha1>
    </usedWavelength>
    <scan appendNumber="0" mode="Continuous" scanAxis="Gonio" status="Completed">
      <dataPoints>
        <positions axis="2Theta" unit="deg">
          <startPosition>{xs[0]:.4f}</startPosition>
          <endPosition>{xs[-1]:.4f}</endPosition>
        </positions>
        <positions axis="Omega" unit="deg">
          <startPosition>{xs[0] / 2:.4f}</startPosition>
          <endPosition>{xs[-1] / 2:.4f}</endPosition>
        </positions>
        <commonCountingTime unit="seconds">1.0</commonCountingTime>
        <intensities unit="counts">{counts}</intensities>
      </dataPoints>
    </scan>
  </xrdMeasurement>
</xrdMeasurements>
"""
    (DATA / "synthetic.xrdml").write_text(text, encoding="utf-8")


# One writer per example file; readers add theirs here.
WRITERS = [write_xy, write_xye, write_csv]
WRITERS += [write_bruker_raw, write_gsas_raw]
WRITERS += [write_rasx]
WRITERS += [write_xrdml]


def main():
    DATA.mkdir(exist_ok=True)
    for writer in WRITERS:
        writer()


if __name__ == "__main__":
    main()
