#!/usr/bin/env python3
"""Measures the peak memory of loading the 1,000,000-point xye file with morvexio and taking
x, y and e as numpy arrays, against the floor: the doubles the arrays hold, 3 x 8 bytes a
point (the arrays share the reader's memory, so nothing else need stay).

Each measurement runs in a fresh interpreter. After importing morvexio and numpy and one tiny
load, the child resets the kernel's peak-resident-set mark (writing 5 to /proc/self/clear_refs),
notes its resident set, loads the file, takes the arrays and reads the peak (VmHWM): the growth
is what the load cost at its worst moment, input buffers and spare vector capacity included.
Where the mark cannot be reset, the peak since the process started (ru_maxrss) stands in. numpy's
loadtxt, ending in the same arrays, is measured the same way for comparison.

Run with an interpreter that has numpy (requirements/bench.txt, as in build-venv); the module is taken from
$MORVEX_BUILD_DIR (default build/).
"""

import statistics
import sys

import harness  # first: puts the build on sys.path

RUNS = 3
TARGET = 1.05  # peak growth over the stored doubles, at most

CHILD = r"""
import morvexio
import numpy

morvexio.read_bytes(b"1 2 3\n", "warm.xye").scans[0].x
numpy.loadtxt(["1 2 3"])
gc.collect()
exact = reset_peak()
before = resident()
if sys.argv[3] == "morvexio":
    scan = morvexio.read(sys.argv[2]).scans[0]
    arrays = scan.x, scan.y, scan.e
else:
    table = numpy.loadtxt(sys.argv[2])
    arrays = table[:, 0], table[:, 1], table[:, 2]
growth = peak(exact) - before
print(json.dumps({"growth": growth, "points": len(arrays[0]),
                  "held": sum(a.nbytes for a in arrays), "exact": exact}))
"""


def measure(path, contender):
    return harness.peak_child(CHILD, path, contender)


def main():
    args = harness.arguments(__doc__)
    path = harness.xye_1m()
    ours = [measure(path, "morvexio") for _ in range(RUNS)]
    theirs = [measure(path, "numpy") for _ in range(RUNS)]
    doubles = 3 * ours[0]["points"] * 8
    if ours[0]["held"] != doubles:
        sys.exit(f"the arrays hold {ours[0]['held']} bytes, not {doubles}")
    peak = statistics.median(run["growth"] for run in ours)
    method = "VmHWM reset" if ours[0]["exact"] else "ru_maxrss, not reset"
    rows = [
        ("floor: stored doubles, 3 × 8 bytes a point", doubles),
        (f"peak growth, morvexio.read → x, y, e arrays ({method})", peak),
        ("peak growth, numpy.loadtxt → columns (for comparison)",
         statistics.median(run["growth"] for run in theirs)),
    ]
    title = (f"Peak memory of a {ours[0]['points']:,}-point xye load to numpy arrays, "
             f"median of {RUNS} fresh processes")
    ratios = [harness.ratio("peak memory, 1M-point xye to arrays",
                            "peak growth ÷ stored doubles (lower is better)", peak / doubles,
                            TARGET, higher_is_better=False, short="peak ÷ doubles")]
    harness.report(args, "memory, numpy arrays", title, [], ratios,
                   memory=[{"name": name, "bytes": size} for name, size in rows])


if __name__ == "__main__":
    main()
