#!/usr/bin/env python3
"""Times morvexio.read on the 1,000,000-point Bruker RAW4.00 and GSAS files (bench_raw.py's),
ending in x and y as numpy arrays.

Bruker: against numpy.frombuffer on the intensities at their known offset, widened to float64,
with x computed as morvex computes it (k * step + start). GSAS: against numpy.loadtxt on the
data lines, x likewise from the BANK line's start and step in hundredths. Both end in the same
arrays bit for bit. All cases take turns; freeing the arrays is counted.

Run with an interpreter that has numpy (requirements/bench.txt, as in build-venv); the module is taken from
$MORVEX_BUILD_DIR (default build/). Targets: Bruker at least 2 x, GSAS at least 8 x faster.
"""

import bench_arrays_xy
import bench_raw  # the data files; imports harness first
import harness

import morvexio
import numpy

REPEATS = 9
BRUKER_TARGET = 2.0
GSAS_TARGET = 8.0
HUNDREDTHS = 100.0


def with_morvexio(path):
    scan = morvexio.read(path).scans[0]
    return scan.x, scan.y


def axis(count, start, step):
    return numpy.arange(count, dtype=numpy.float64) * step + start


def numpy_bruker(path):
    with open(path, "rb") as f:
        data = f.read()
    y = numpy.frombuffer(data, dtype="<f4", offset=bench_raw.BRUKER_DATA_OFFSET).astype(
        numpy.float64)
    return axis(len(y), bench_raw.START, bench_raw.STEP), y


def numpy_gsas(path):
    # The BANK line gives start and step in hundredths of a degree, as written.
    with open(path, encoding="ascii") as f:
        f.readline()
        bank = f.readline().split()
    y = numpy.loadtxt(path, skiprows=bench_raw.GSAS_HEADER_LINES).ravel()
    return axis(len(y), float(bank[5]) / HUNDREDTHS, float(bank[6]) / HUNDREDTHS), y


def main():
    args = harness.arguments(__doc__)
    bruker, gsas = str(bench_raw.bruker_file()), str(bench_raw.gsas_file())
    for path, peer in ((bruker, numpy_bruker), (gsas, numpy_gsas)):
        ours = with_morvexio(path)
        if len(ours[0]) != bench_raw.POINTS or not bench_arrays_xy.same_arrays(ours, peer(path)):
            harness.disagree(f"{path}: ")
        del ours

    calls = [
        ("bruker: morvexio.read → x, y arrays", with_morvexio, bruker),
        ("bruker: numpy.frombuffer + computed x", numpy_bruker, bruker),
        ("gsas: morvexio.read → x, y arrays", with_morvexio, gsas),
        ("gsas: numpy.loadtxt + computed x", numpy_gsas, gsas),
        ("bruker: read + one pass", bench_raw.read_plus_pass, bruker),
    ]
    medians = harness.alternate([harness.timer(function, path) for _, function, path in calls],
                                REPEATS)
    cases = [harness.case(name, median) for (name, _, _), median in zip(calls, medians)]
    ratios = [harness.speedup("bruker arrays", cases[0], cases[1], BRUKER_TARGET),
              harness.speedup("gsas arrays", cases[2], cases[3], GSAS_TARGET)]
    title = harness.headline(
        f"Bruker RAW4.00 and GSAS to numpy arrays, {bench_raw.POINTS:,} points each",
        [bruker, gsas], REPEATS)
    harness.report(args, "raw, numpy arrays", title, cases, ratios)


if __name__ == "__main__":
    main()
