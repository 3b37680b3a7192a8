#!/usr/bin/env python3
"""Times morvex.read on a 1,000,000-point Bruker RAW4.00 file and a 1,000,000-value GSAS file.

Bruker: morvex.read plus lists against numpy.frombuffer on the intensities, x computed from
start and step, plus tolist. Beside them, for reference: morvex.read alone, the same file under
a version text whose header is not read (so the reader finds the scan by searching), and
reading the file into memory plus one pass over it, the least any reader that may search the
whole file must do. GSAS: morvex.read plus lists against numpy.loadtxt on the data lines plus
tolist. All cases take turns.

Run with build-venv/bin/python; the module is taken from $MORVEX_BUILD_DIR (default build/).
The data files are written under bench/data/ on first use.
"""

import sys

import harness  # first: puts the build on sys.path

import morvex
import numpy

sys.path.insert(0, str(harness.ROOT / "examples"))
from generate import bruker_raw4_bytes, gsas_std_text  # noqa: E402

POINTS = 1_000_000
REPEATS = 9
START, STEP = 5.0, 0.0001
BRUKER_TARGET = 1.0  # the numpy path's time over ours, at least
GSAS_TARGET = 1.6  # likewise
# Where the intensities start in the generated RAW4.00 file: header, one segment, range header.
BRUKER_DATA_OFFSET = 61 + 36 + 160
GSAS_HEADER_LINES = 2


def intensities():
    return [float((k * 7919) % 20011) for k in range(POINTS)]


def bruker_file():
    return harness.write_once("bench_1m_bruker.raw",
                              lambda: bruker_raw4_bytes(START, STEP, intensities()))


def bruker_search_file():
    # The same file under a version text whose header is not read: the search finds it all.
    make = lambda: b"RAW9.99" + bruker_raw4_bytes(START, STEP, intensities())[7:]
    return harness.write_once("bench_1m_bruker_search.raw", make)


def gsas_file():
    text = lambda: gsas_std_text("benchmark", START, STEP, intensities()).encode("ascii")
    return harness.write_once("bench_1m_gsas.raw", text)


def morvex_read(path):
    return morvex.read(str(path))


def morvex_lists(path):
    pattern = morvex.read(str(path))
    return pattern.x, pattern.y


def read_plus_pass(path):
    with open(path, "rb") as f:
        data = f.read()
    return numpy.frombuffer(data, dtype=numpy.uint8).max()


def numpy_bruker(path):
    with open(path, "rb") as f:
        data = f.read()
    y = numpy.frombuffer(data, dtype="<f4", offset=BRUKER_DATA_OFFSET).astype(numpy.float64)
    x = numpy.arange(len(y)) * STEP + START
    return x.tolist(), y.tolist()


def numpy_gsas(path):
    y = numpy.loadtxt(path, skiprows=GSAS_HEADER_LINES).ravel()
    x = numpy.arange(len(y)) * STEP + START
    return x.tolist(), y.tolist()


def main():
    args = harness.arguments(__doc__)
    bruker, search, gsas = bruker_file(), bruker_search_file(), gsas_file()
    for path, reference in ((bruker, numpy_bruker), (search, numpy_bruker), (gsas, numpy_gsas)):
        ours, theirs = morvex_lists(path), reference(path)
        if ours[1] != theirs[1] or len(ours[0]) != POINTS:
            harness.disagree(f"{path.name}: ")

    calls = [
        ("bruker: morvex.read + lists", morvex_lists, bruker),
        ("bruker: numpy.frombuffer + computed x + tolist", numpy_bruker, bruker),
        ("gsas: morvex.read + lists", morvex_lists, gsas),
        ("gsas: numpy.loadtxt + tolist", numpy_gsas, gsas),
        ("bruker: morvex.read alone", morvex_read, bruker),
        ("bruker: morvex.read alone, found by search", morvex_read, search),
        ("bruker: read + one pass", read_plus_pass, bruker),
    ]
    medians = harness.alternate([harness.timer(function, path) for _, function, path in calls],
                                REPEATS)
    cases = [harness.case(name, median) for (name, _, _), median in zip(calls, medians)]
    ratios = [harness.speedup("bruker", cases[0], cases[1], BRUKER_TARGET),
              harness.speedup("gsas", cases[2], cases[3], GSAS_TARGET)]
    title = harness.headline(f"Bruker RAW4.00 and GSAS, {POINTS:,} points each",
                             [bruker, gsas], REPEATS)
    harness.report(args, "raw", title, cases, ratios)


if __name__ == "__main__":
    main()
