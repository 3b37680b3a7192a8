"""The text of one output: a scan as xye, csv or GSAS FXYE, its metadata as comment lines or as
a JSON sidecar. Numbers go through repr, the shortest text that reads back as the same double."""

import json
import math
import os

import numpy
from morvexio import rows_text

from morvex_convert.names import text_of

FORMS = ("xye", "csv", "gsas")  # the text forms; a NeXus file is binary
# .gsa: morvexio finds GSAS by a BANK line in the first 8 KiB, which long metadata comments can
# push out; the extension then still names the format. A NeXus file holds every scan.
EXTENSION = {"xye": "xye", "csv": "csv", "gsas": "gsa", "nexus": "nxs"}
META = ("comments", "json")

# FXYE keeps 2-theta positions in centidegrees; other binnings keep time of flight as it is.
CENTI = 100.0
TITLE_WIDTH = 80  # GSAS reads the title from an 80-column record


def flat(meta: dict, prefix: str = ""):
    """(dotted key, value) of every value that is not an array: nested tables as table.KEY."""
    for key, value in meta.items():
        if isinstance(value, dict):
            yield from flat(value, f"{prefix}{key}.")
        elif isinstance(value, (str, int, float)):
            yield f"{prefix}{key}", value
        # Arrays (per-point columns) have no one-line form; the JSON sidecar keeps them.


def one_line(text: str) -> str:
    return "\\n".join(text.splitlines())


def names(scan, form: str) -> list[str]:
    """The columns written: GSAS always has e."""
    return ["x", "y"] if scan.e is None and form != "gsas" else ["x", "y", "e"]


def comments(measurement, scan, number: int, source: str, form: str) -> str:
    """`# key: value` lines: where the scan comes from, the measurement's keys as
    measurement.KEY, the scan's as scan.KEY, and the columns below. Line breaks in a value are
    written as \\n: the comments are for reading, the sidecar keeps values exactly."""
    lines = [("source", text_of(source)), ("format", measurement.format),
             ("scan", f"{number} of {len(measurement.scans)}")]
    for level, meta in (("measurement", measurement.meta), ("scan", scan.meta)):
        lines += flat(meta, f"{level}.")
    lines.append(("columns", " ".join(names(scan, form))))
    return "".join(f"# {one_line(key)}: {one_line(as_text(value))}\n" for key, value in lines)


def as_text(value) -> str:
    return value if isinstance(value, str) else repr(value)


def plain(value):
    """JSON of a morvexio metadata value: arrays as lists."""
    if isinstance(value, dict):
        return {key: plain(item) for key, item in value.items()}
    if hasattr(value, "tolist"):
        return value.tolist()
    if isinstance(value, (list, tuple)):
        return [plain(item) for item in value]
    return value


def strict(value):
    """JSON as strict readers (jq) take it: NaN and the infinities, which JSON has no number
    for, as null."""
    if isinstance(value, float):
        return value if math.isfinite(value) else None
    if isinstance(value, dict):
        return {key: strict(item) for key, item in value.items()}
    if isinstance(value, list):
        return [strict(item) for item in value]
    return value


def sidecar(measurement, scan, number: int, source: str, form: str) -> str:
    return json.dumps(strict({"source": text_of(source), "format": measurement.format,
                              "measurement": plain(measurement.meta), "scan": number,
                              "scan_meta": plain(scan.meta), "columns": names(scan, form)}),
                      indent=1, allow_nan=False) + "\n"


def columns(scan, form: str) -> str:
    arrays = (scan.x, scan.y) if scan.e is None else (scan.x, scan.y, scan.e)
    # A header row is the csv convention (and morvex skips it); xye stays bare columns, which
    # every refinement program reads.
    header = ",".join(names(scan, form)) + "\n" if form == "csv" else ""
    return header + rows_text(arrays, " " if form == "xye" else ",").decode("ascii")


def centi(x):
    """The positions in centidegrees whose hundredths are x again, where a neighbour of x * 100
    gives it; else x * 100, whose hundredth is x's neighbour (hundredths of doubles miss about
    one double in eight)."""
    first = x * CENTI
    found = first / CENTI == x
    result = first.copy()
    for direction in (numpy.inf, -numpy.inf):
        candidate = first
        for _ in range(2):
            candidate = numpy.nextafter(candidate, direction)
            hit = ~found & (candidate / CENTI == x)
            result[hit] = candidate[hit]
            found |= hit
    return result


def gsas(scan, number: int, source: str, meta: str) -> str:
    """One FXYE bank. 2-theta (x_unit deg, or no unit stated) as CONS in centidegrees; time of
    flight (x_unit us) as SLOG with the positions as they are. GSAS weighs by the uncertainty,
    so a scan without e gets counting statistics, sqrt(max(y, 1))."""
    x, y = scan.x, scan.y
    if not len(x):
        raise ValueError(f"scan {number} has no points: GSAS has no empty bank")
    e = numpy.sqrt(numpy.maximum(y, 1.0)) if scan.e is None else scan.e
    n = len(x)
    if scan.meta.get("x_unit", "deg") == "deg":
        positions = centi(x)
        step = float(positions[-1] - positions[0]) / (n - 1) if n > 1 else 0.0
        bank = f"BANK 1 {n} {n} CONS {float(positions[0])!r} {step!r} 0 0 FXYE\n"
    elif scan.meta["x_unit"] == "us":
        positions = x
        first, last = float(x[0]), float(x[-1])
        ratio = (float(x[1]) - first) / first if n > 1 and first else 0.0
        bank = f"BANK 1 {n} {n} SLOG {first!r} {last!r} {ratio!r} 0 FXYE\n"
    else:
        raise ValueError(f"GSAS holds 2-theta or time of flight, not x in {scan.meta['x_unit']}")
    title = one_line(f"morvex-convert of {text_of(os.path.basename(source))}, scan {number}")
    rows = rows_text((positions, y, e), " ").decode("ascii")
    # Comment lines between the title and the BANK line, where GSAS-II and morvex skip them.
    return title[:TITLE_WIDTH] + "\n" + meta + bank + rows


def render(measurement, scan, number: int, form: str, source: str, meta: str) -> str:
    if form == "gsas":
        return gsas(scan, number, source, meta)
    return meta + columns(scan, form)


def nexus(measurement, scans) -> bytes:
    """The NeXus (HDF5) file of the measurement with these scans, as bytes: h5py writes to a
    path, and the converter lands every output through its own temporary folder."""
    import tempfile

    import morvexio

    chosen = morvexio.Measurement(measurement.format, dict(measurement.meta), scans)
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "scan.nxs")
        chosen.to_nexus(path)
        with open(path, "rb") as f:
            return f.read()
