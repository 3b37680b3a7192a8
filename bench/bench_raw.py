#!/usr/bin/env python3
"""Times morvex.read on a 1,000,000-point Bruker RAW4.00 file and a 1,000,000-value GSAS file.

Bruker: morvex.read alone against reading the file into memory plus one pass over it (the
floor for any reader that must search the whole file), with numpy.frombuffer + tolist beside
it. GSAS: morvex.read plus lists against numpy.loadtxt on the data lines plus tolist.

Run with /usr/bin/python3; the module is taken from $MORVEX_BUILD_DIR (default build/).
The data files are written under bench/data/ on first use.
"""

import sys

import harness  # first: puts the build on sys.path

import morvex
import numpy

sys.path.insert(0, str(harness.ROOT / "examples"))
from generate import bruker_raw4_bytes, gsas_std_text  # noqa: E402

POINTS = 1_000_000
REPEATS = 7
START, STEP = 5.0, 0.0001
BRUKER_TARGET = 2.0  # morvex.read / (read + one pass), at most
GSAS_TARGET = 1.7  # numpy path / morvex path, at least
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

    cases = [
        harness.case(name, harness.median_time(function, path, REPEATS))
        for name, function, path in (
            ("bruker: morvex.read", morvex_read, bruker),
            ("bruker: morvex.read, found by search", morvex_read, search),
            ("bruker: read + one pass", read_plus_pass, bruker),
            ("bruker: morvex.read + lists", morvex_lists, bruker),
            ("bruker: numpy.frombuffer + tolist", numpy_bruker, bruker),
            ("gsas: morvex.read + lists", morvex_lists, gsas),
            ("gsas: numpy.loadtxt + tolist", numpy_gsas, gsas),
        )
    ]
    t = {case["name"]: case["median_s"] for case in cases}
    ratios = [
        harness.ratio("bruker: morvex.read / (read + one pass)",
                      t["bruker: morvex.read"] / t["bruker: read + one pass"],
                      BRUKER_TARGET, higher_is_better=False),
        harness.ratio("bruker: morvex.read by search / (read + one pass)",
                      t["bruker: morvex.read, found by search"] / t["bruker: read + one pass"],
                      BRUKER_TARGET, higher_is_better=False),
        harness.ratio("gsas: numpy / morvex",
                      t["gsas: numpy.loadtxt + tolist"] / t["gsas: morvex.read + lists"],
                      GSAS_TARGET),
    ]

    harness.print_table(["case", "median (ms)"],
                        [(c["name"], f"{c['median_s'] * 1e3:.2f}") for c in cases],
                        right_aligned=True)
    print()
    harness.print_table(["ratio", "value", "target"],
                        [(r["name"], f"{r['value']:.2f}", harness.bound(r)) for r in ratios],
                        right_aligned=True)
    harness.write_result(args, "raw", cases, ratios)


if __name__ == "__main__":
    main()
