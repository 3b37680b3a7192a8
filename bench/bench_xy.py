#!/usr/bin/env python3
"""Times morvex.read on a 1,000,000-point xye file against numpy.loadtxt and a C++ floor.

Run with /usr/bin/python3; the module and the floor program (xy_floor) are taken from
$MORVEX_BUILD_DIR (default build/). The data file is written under bench/data/ on first use.

Cases, each the median of several calls in this one process (the floor reports the best of
its own runs):
  (a) morvex.read alone;
  (b) morvex.read and reading x, y and e as lists;
  (c) numpy.loadtxt and .tolist() of the three columns;
  (d) the floor: xy_floor reads the file into memory and converts every number with
      fast_float, without line handling or checks.
Targets: (a) within 1.5 x (d); (b) at least 2.5 x faster than (c).
"""

import math
import re
import statistics
import subprocess
import sys

import harness  # first: puts the build on sys.path

import morvex
import numpy

POINTS = 1_000_000
REPEATS = 9
FLOOR_TARGET = 1.5
NUMPY_TARGET = 2.5


def data_file():
    """A powder pattern: x to 6 decimals, y to 4 and e to 5, about 33 MB."""

    def text():
        lines = []
        for k in range(POINTS):
            x = 5.0 + k * 0.000145
            peaks = sum(h * math.exp(-(((x - c) / 0.05) ** 2))
                        for c, h in ((28.4, 9e4), (47.3, 5e4)))
            y = 21500.0 + 8000.0 * math.sin(x / 7.0) + peaks + (k * 7919 % 1000) * 0.0371
            lines.append(f"{x:.6f} {y:.4f} {math.sqrt(y):.5f}\n")
        return "".join(lines)

    return harness.write_once("bench_1m.xye", text)


def read_alone(path):
    return morvex.read(path)


def read_with_lists(path):
    pattern = morvex.read(path)
    return pattern.x, pattern.y, pattern.e


def numpy_lists(path):
    table = numpy.loadtxt(path)
    return table[:, 0].tolist(), table[:, 1].tolist(), table[:, 2].tolist()


def floor_time(path):
    program = harness.BUILD / "xy_floor"
    if not program.exists():
        sys.exit(f"{program} is missing: build the project first")
    out = subprocess.run([str(program), str(path), str(REPEATS)], capture_output=True, text=True,
                         check=True).stdout
    fields = dict(re.findall(r"(\w+)=([0-9.]+)", out))
    if int(fields["points"]) != POINTS:
        sys.exit(f"the floor read {fields['points']} points, expected {POINTS}")
    return float(fields["best_s"])


def main():
    args = harness.arguments(__doc__)
    path = str(data_file())
    ours, theirs = read_with_lists(path), numpy_lists(path)
    if ours != theirs or len(ours[0]) != POINTS:
        harness.disagree()
    del ours, theirs

    best = {}
    cases = []
    for name, function in (("(a) morvex.read", read_alone),
                           ("(b) morvex.read + x, y, e lists", read_with_lists),
                           ("(c) numpy.loadtxt + tolist", numpy_lists)):
        # The results are freed outside the timed span, as the floor frees its buffers.
        times = harness.call_times(function, path, REPEATS, count_freeing=False)
        best[name] = min(times)
        cases.append(harness.case(name, statistics.median(times)))
    # The floor times itself and reports only its best run.
    floor = floor_time(path)
    cases.append(harness.case("(d) floor: read + fast_float (C++)", floor))
    best[cases[-1]["name"]] = floor
    a, b, c, d = (case["median_s"] for case in cases)
    ratios = [
        harness.ratio("(a) / (d)", a / d, FLOOR_TARGET, higher_is_better=False),
        harness.ratio("(c) / (b)", c / b, NUMPY_TARGET),
    ]

    harness.print_headline(f"XY/XYE, {POINTS:,} points", path, REPEATS)
    harness.print_table(["case", "median (s)", "best (s)"],
                        [(c["name"], f"{c['median_s']:.3f}", f"{best[c['name']]:.3f}")
                         for c in cases])
    print()
    harness.print_table(["ratio", "value", "target", ""],
                        [(r["name"], f"{r['value']:.2f}", harness.bound(r), harness.verdict(r))
                         for r in ratios])
    harness.write_result(args, "xy", cases, ratios)


if __name__ == "__main__":
    main()
