#!/usr/bin/env python3
"""Times morvexio.read on the 1,000,000-point xye file, ending in x, y and e as numpy arrays,
against numpy.loadtxt, pandas.read_csv (its C engine) and the fast_float floor.

Run with an interpreter that has numpy and pandas (requirements/bench.txt, as in build-venv); the module and
the floor program (xy_floor) are taken from $MORVEX_BUILD_DIR (default build/).

Cases, all taking turns round by round:
  (a) morvexio.read alone, the best of 3 calls in a row: its arrays share the reader's memory,
      so this is the whole cost of (b) but for the attribute look-ups;
  (b) morvexio.read, then scans[0].x, .y and .e;
  (c) numpy.loadtxt, then its three columns (views of the table);
  (d) pandas.read_csv(sep=r"\\s+", header=None), then each column's .to_numpy();
  (e) the floor, the best of 3 runs in a row: xy_floor reads the file into memory and converts
      every number with fast_float, without line handling or checks (see bench_xy.py).
Freeing the arrays is counted: a caller pays it too.
Targets: (c) at least 10 x (b); (d) at least 4 x (b); (a) at most 0.35 x (e).
"""

import bench_xy  # the floor's runner; imports harness first
import harness

import morvexio
import numpy
import pandas

POINTS = 1_000_000
REPEATS = 9
IN_A_ROW = 3
NUMPY_TARGET = 10.0
PANDAS_TARGET = 4.0
FLOOR_TARGET = 0.35


def read_alone(path):
    return morvexio.read(path)


def with_morvexio(path):
    scan = morvexio.read(path).scans[0]
    return scan.x, scan.y, scan.e


def with_numpy(path):
    table = numpy.loadtxt(path)
    return table[:, 0], table[:, 1], table[:, 2]


def with_pandas(path):
    frame = pandas.read_csv(path, sep=r"\s+", header=None)
    return frame[0].to_numpy(), frame[1].to_numpy(), frame[2].to_numpy()


def same_arrays(ours, theirs):
    """Bit for bit, column by column."""
    return len(ours) == len(theirs) and all(
        a.dtype == b.dtype == numpy.float64 and a.shape == b.shape
        and numpy.ascontiguousarray(a).tobytes() == numpy.ascontiguousarray(b).tobytes()
        for a, b in zip(ours, theirs))


def main():
    args = harness.arguments(__doc__)
    path = str(harness.xye_1m())
    ours = with_morvexio(path)
    if len(ours[0]) != POINTS:
        harness.disagree()
    for peer in (with_numpy, with_pandas):
        if not same_arrays(ours, peer(path)):
            harness.disagree(f"{peer.__name__}: ")
    del ours

    medians = harness.alternate([
        harness.best_of(IN_A_ROW, harness.timer(read_alone, path)),
        harness.timer(with_morvexio, path),
        harness.timer(with_numpy, path),
        harness.timer(with_pandas, path),
        bench_xy.floor_timer(path),
    ], REPEATS)
    names = [f"(a) morvexio.read alone, best of {IN_A_ROW}", "(b) morvexio.read → x, y, e arrays",
             "(c) numpy.loadtxt → columns", "(d) pandas.read_csv (C engine) → to_numpy",
             f"(e) floor: read + fast_float (C++), best of {IN_A_ROW}"]
    cases = [harness.case(name, median) for name, median in zip(names, medians)]
    ratios = [
        harness.speedup("xye arrays vs numpy.loadtxt", cases[1], cases[2], NUMPY_TARGET,
                        short="xye vs numpy"),
        harness.speedup("xye arrays vs pandas C", cases[1], cases[3], PANDAS_TARGET,
                        short="xye vs pandas"),
        harness.ratio("xye arrays, read alone vs the fast_float floor",
                      "(a) morvexio.read alone time ÷ (e) floor time (lower is better)",
                      medians[0] / medians[4], FLOOR_TARGET, higher_is_better=False,
                      short="read alone ÷ floor"),
    ]
    title = harness.headline(f"XYE to numpy arrays, {POINTS:,} points", path, REPEATS)
    harness.report(args, "xy, numpy arrays", title, cases, ratios)


if __name__ == "__main__":
    main()
