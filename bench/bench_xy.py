#!/usr/bin/env python3
"""Times morvex.read on a 1,000,000-point xye file against numpy.loadtxt and a C++ floor.

Run with build-venv/bin/python; the module and the floor program (xy_floor) are taken from
$MORVEX_BUILD_DIR (default build/). The data file is written under bench/data/ on first use.

Cases, all taking turns round by round:
  (a) morvex.read alone, the best of 3 calls in a row;
  (b) morvex.read and reading x, y and e as lists;
  (c) numpy.loadtxt and .tolist() of the three columns;
  (d) the floor, the best of 3 runs in a row: xy_floor reads the file into memory and converts
      every number with fast_float, without line handling or checks.
(a) and (d) keep the best of 3 because the floor, a program of its own, reports no other
figure; each round gives one such best, and the table shows their median. Results are freed
outside the timed span, as the floor frees its buffers.
Targets: (a) at most 0.7 x (d); (b) at least 2.3 x faster than (c).
"""

import re
import subprocess
import sys

import harness  # first: puts the build on sys.path

import morvex
import numpy

POINTS = 1_000_000
REPEATS = 9
IN_A_ROW = 3
FLOOR_TARGET = 0.7  # (a) / (d), at most
NUMPY_TARGET = 2.3  # (c) / (b), at least


def read_alone(path):
    return morvex.read(path)


def read_with_lists(path):
    pattern = morvex.read(path)
    return pattern.x, pattern.y, pattern.e


def numpy_lists(path):
    table = numpy.loadtxt(path)
    return table[:, 0].tolist(), table[:, 1].tolist(), table[:, 2].tolist()


def floor_timer(path):
    program = harness.BUILD / "xy_floor"
    if not program.exists():
        sys.exit(f"{program} is missing: build the project first")

    def best_run():
        out = subprocess.run([str(program), path, str(IN_A_ROW)], capture_output=True, text=True,
                             check=True).stdout
        fields = dict(re.findall(r"(\w+)=([0-9.]+)", out))
        if int(fields["points"]) != POINTS:
            sys.exit(f"the floor read {fields['points']} points, expected {POINTS}")
        return float(fields["best_s"])

    return best_run


def main():
    args = harness.arguments(__doc__)
    path = str(harness.xye_1m())
    ours, theirs = read_with_lists(path), numpy_lists(path)
    if ours != theirs or len(ours[0]) != POINTS:
        harness.disagree()
    del ours, theirs

    medians = harness.alternate([
        harness.best_of(IN_A_ROW, harness.timer(read_alone, path, count_freeing=False)),
        harness.timer(read_with_lists, path, count_freeing=False),
        harness.timer(numpy_lists, path, count_freeing=False),
        floor_timer(path),
    ], REPEATS)
    names = [f"(a) morvex.read alone, best of {IN_A_ROW}", "(b) morvex.read + x, y, e lists",
             "(c) numpy.loadtxt + tolist",
             f"(d) floor: read + fast_float (C++), best of {IN_A_ROW}"]
    cases = [harness.case(name, median) for name, median in zip(names, medians)]
    a, b, c, d = medians
    ratios = [
        harness.speedup("xye", cases[1], cases[2], NUMPY_TARGET, short="xye + lists vs numpy"),
        harness.ratio("xye, read alone vs the fast_float floor",
                      "(a) morvex.read alone time ÷ (d) floor time (lower is better)", a / d,
                      FLOOR_TARGET, higher_is_better=False, short="read alone ÷ floor"),
    ]
    title = harness.headline(f"XYE, {POINTS:,} points", path, REPEATS)
    harness.report(args, "xy", title, cases, ratios)


if __name__ == "__main__":
    main()
