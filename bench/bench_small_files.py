#!/usr/bin/env python3
"""Times reading 500 xye files of 5,000 points each, file by file, with morvex.read against
numpy.loadtxt, both ending with x, y and e as lists for every file.

This is the per-file overhead a caller with a folder of scans pays: open, format choice,
buffers and the three lists, 500 times. Each contender reads the whole folder once a round,
the two taking turns; the table gives the median of the rounds, for all 500 files.

Run with build-venv/bin/python; the module is taken from $MORVEX_BUILD_DIR (default build/).
The files are written under bench/data/small_xye/ on first use.
"""

import harness  # first: puts the build on sys.path

import morvex
import numpy

FILES = 500
POINTS = 5_000
STEP = 0.024  # 5 to 125 degrees
REPEATS = 7
TARGET = 2.5  # numpy's time over ours, at least


def data_files():
    return [harness.write_once(f"small_xye/scan{n:03d}.xye",
                               lambda n=n: harness.xye_text(POINTS, STEP, noise_seed=n * 104729))
            for n in range(FILES)]


# Each file's lists are dropped before the next file is read, as a caller that reduces every
# scan to a few figures would.
def with_morvex(paths):
    for path in paths:
        pattern = morvex.read(path)
        columns = pattern.x, pattern.y, pattern.e
    return columns


def with_numpy(paths):
    for path in paths:
        table = numpy.loadtxt(path)
        columns = table[:, 0].tolist(), table[:, 1].tolist(), table[:, 2].tolist()
    return columns


def main():
    args = harness.arguments(__doc__)
    paths = [str(path) for path in data_files()]
    for path in paths[:: FILES // 10]:
        pattern, table = morvex.read(path), numpy.loadtxt(path)
        if [pattern.x, pattern.y, pattern.e] != table.T.tolist() or len(pattern.x) != POINTS:
            harness.disagree(f"{path}: ")

    ours, theirs = harness.alternating_medians([with_morvex, with_numpy], paths, REPEATS)
    cases = [harness.case("morvex.read + lists", ours),
             harness.case("numpy.loadtxt + tolist", theirs)]
    title = harness.headline(f"{FILES} xye files of {POINTS:,} points", paths, REPEATS)
    harness.report(args, "500 files", title, cases,
                   [harness.speedup(f"{FILES} xye files of {POINTS:,} points", *cases, TARGET,
                                   short=f"{FILES} files vs numpy")])


if __name__ == "__main__":
    main()
