#!/usr/bin/env python3
"""Times reading 1,000 xye files of 5,000 points each, file by file in one process, with
morvexio.read against numpy.loadtxt, both ending in x, y and e arrays for every file.

This is the per-file overhead a caller with a folder of scans pays: open, format choice,
buffers, the Measurement and Scan records and three arrays, 1,000 times. Each contender reads
the whole folder once a round, the two taking turns; the table gives the median of the rounds,
for all 1,000 files. The files are bench_small_files.py's 500 and 500 more made the same way,
written under bench/data/small_xye/ on first use.

Run with an interpreter that has numpy (requirements/bench.txt, as in build-venv); the module is taken from
$MORVEX_BUILD_DIR (default build/). Target: numpy at least 5 x morvexio's time.
"""

import bench_arrays_xy
import bench_small_files  # the generator; imports harness first
import harness

import morvexio
import numpy

FILES = 1_000
REPEATS = 7
TARGET = 5.0


def data_files():
    return [harness.write_once(
        f"small_xye/scan{n:03d}.xye",
        lambda n=n: harness.xye_text(bench_small_files.POINTS, bench_small_files.STEP,
                                     noise_seed=n * 104729))
        for n in range(FILES)]


# Each file's arrays are dropped before the next file is read, as a caller that reduces every
# scan to a few figures would.
def with_morvexio(paths):
    for path in paths:
        scan = morvexio.read(path).scans[0]
        columns = scan.x, scan.y, scan.e
    return columns


def with_numpy(paths):
    for path in paths:
        table = numpy.loadtxt(path)
        columns = table[:, 0], table[:, 1], table[:, 2]
    return columns


def main():
    args = harness.arguments(__doc__)
    paths = [str(path) for path in data_files()]
    for path in paths[:: FILES // 20]:
        ours = with_morvexio([path])
        if len(ours[0]) != bench_small_files.POINTS or not bench_arrays_xy.same_arrays(
                ours, with_numpy([path])):
            harness.disagree(f"{path}: ")

    ours, theirs = harness.alternating_medians([with_morvexio, with_numpy], paths, REPEATS)
    cases = [harness.case("morvexio.read → x, y, e arrays", ours),
             harness.case("numpy.loadtxt → columns", theirs)]
    points = f"{bench_small_files.POINTS:,}"
    title = harness.headline(f"{FILES:,} xye files of {points} points to numpy arrays", paths,
                             REPEATS)
    harness.report(args, "1,000 files, numpy arrays", title, cases,
                   [harness.speedup(f"{FILES:,} xye files of {points} points, arrays", *cases,
                                    TARGET, short=f"{FILES:,} files vs numpy")])


if __name__ == "__main__":
    main()
