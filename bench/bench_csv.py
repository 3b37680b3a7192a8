#!/usr/bin/env python3
"""Times morvex.read on a 1,000,000-row CSV file against pandas.read_csv (its C engine), both
to lists, the two taking turns.

Run with /usr/bin/python3; the module is taken from $MORVEX_BUILD_DIR (default build/).
The data file is written under bench/data/ on first use.
"""

import harness  # first: puts the build on sys.path

import morvex
import pandas

ROWS = 1_000_000
REPEATS = 7
TARGET = 2.3  # pandas' time over ours, at least


def data_file():
    def text():
        lines = ["two_theta,intensity"]
        lines += [f"{5 + k * 0.0001:.4f},{(k * 7919) % 20011 + 0.5:.1f}" for k in range(ROWS)]
        return "\n".join(lines) + "\n"

    return harness.write_once("bench_1m.csv", text)


def with_morvex(path):
    pattern = morvex.read(str(path))
    return pattern.x, pattern.y


def with_pandas(path):
    frame = pandas.read_csv(path)
    return frame["two_theta"].tolist(), frame["intensity"].tolist()


def main():
    args = harness.arguments(__doc__)
    path = data_file()
    ours, theirs = with_morvex(path), with_pandas(path)
    if ours != theirs or len(ours[0]) != ROWS:
        harness.disagree()

    ours, theirs = harness.alternating_medians([with_morvex, with_pandas], path, REPEATS)
    cases = [harness.case("morvex.read + lists", ours),
             harness.case("pandas.read_csv + tolist", theirs)]
    harness.report(args, "csv", harness.headline(f"CSV, {ROWS:,} rows", path, REPEATS), cases,
                   [harness.speedup("csv", *cases, TARGET)])

if __name__ == "__main__":
    main()
