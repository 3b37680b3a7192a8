#!/usr/bin/env python3
"""Measures the peak memory of loading the 1,000,000-point xye file and taking x, y and e as
lists, against the floor: the doubles the Pattern stores plus the three lists themselves.

Each measurement runs in a fresh interpreter. After importing morvex and one tiny load, the
child resets the kernel's peak-resident-set mark (writing 5 to /proc/self/clear_refs), notes
its resident set, loads the file, takes the three lists and reads the peak (VmHWM): the
growth of the peak is what the load and its lists cost at their worst moment, input buffers
and any spare vector capacity included. Where the mark cannot be reset, the peak since the
process started (ru_maxrss) stands in, which the import's own peak can only hide if it were
larger than the load's.

The floor counts 8 bytes for each stored double (3 x 1,000,000 of them) and, for the lists,
sys.getsizeof of each list (its header and 8-byte item pointers) plus one float for each item
as CPython's small-object allocator stores it: it hands out blocks in multiples of 16 bytes
on 64-bit builds, so a 24-byte float takes 32. Pool headers are not counted. numpy's peak for
loadtxt plus tolist, which ends in the same lists, is measured the same way for comparison.

Run with build-venv/bin/python; the module is taken from $MORVEX_BUILD_DIR (default build/).
"""

import statistics

import harness  # first: puts the build on sys.path

RUNS = 3
TARGET = 1.10  # peak growth over the floor, at most

CHILD = r"""
import morvex
import numpy

morvex.read_bytes(b"1 2 3\n", "warm.xye").x
gc.collect()
exact = reset_peak()
before = resident()
if sys.argv[3] == "morvex":
    loaded = morvex.read(sys.argv[2])
    columns = lambda: (loaded.x, loaded.y, loaded.e)
else:
    loaded = numpy.loadtxt(sys.argv[2])
    columns = lambda: (loaded[:, 0].tolist(), loaded[:, 1].tolist(), loaded[:, 2].tolist())
loading = peak(exact) - before
lists = columns()
growth = peak(exact) - before
float_block = -(-sys.getsizeof(1.0) // 16) * 16
sizes = sum(sys.getsizeof(l) + len(l) * float_block for l in lists)
print(json.dumps({"growth": growth, "loading": loading, "points": len(lists[0]), "lists": sizes,
                  "exact": exact}))
"""


def measure(path, contender):
    return harness.peak_child(CHILD, path, contender)


def main():
    args = harness.arguments(__doc__)
    path = harness.xye_1m()
    ours = [measure(path, "morvex") for _ in range(RUNS)]
    theirs = [measure(path, "numpy") for _ in range(RUNS)]
    points = ours[0]["points"]
    doubles = 3 * points * 8
    floor = doubles + ours[0]["lists"]
    peak = statistics.median(run["growth"] for run in ours)
    method = "VmHWM reset" if ours[0]["exact"] else "ru_maxrss, not reset"
    rows = [
        ("stored doubles, 3 × 8 bytes a point", doubles),
        ("the three lists: item pointers and floats in 32-byte blocks", ours[0]["lists"]),
        ("floor: stored doubles + the three lists", floor),
        (f"peak growth, morvex.read + x, y, e lists ({method})", peak),
        ("peak growth, morvex.read alone", statistics.median(run["loading"] for run in ours)),
        ("peak growth, numpy.loadtxt + tolist (for comparison)",
         statistics.median(run["growth"] for run in theirs)),
        ("peak growth, numpy.loadtxt alone", statistics.median(run["loading"] for run in theirs)),
    ]
    title = (f"Peak memory of a {points:,}-point xye load with its three lists, "
             f"median of {RUNS} fresh processes")
    ratios = [harness.ratio("peak memory, 1M-point xye + lists",
                            "peak growth ÷ floor (lower is better)", peak / floor, TARGET,
                            higher_is_better=False, short="peak ÷ floor")]
    harness.report(args, "memory", title, [], ratios,
                   memory=[{"name": name, "bytes": size} for name, size in rows])

if __name__ == "__main__":
    main()
