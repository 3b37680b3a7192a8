#!/usr/bin/env python3
"""Times morvex.read on a 1,000,000-row CSV file against pandas.read_csv (its C engine), all
to lists, taking turns; pandas with the pyarrow engine and polars.read_csv, the fastest readers
a user would pick instead, are timed beside them (the target is against the C engine).

Run with build-venv/bin/python; the module is taken from $MORVEX_BUILD_DIR (default build/).
The data file is written under bench/data/ on first use.
"""

import harness  # first: puts the build on sys.path

import morvex
import pandas
import polars

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


def with_pandas_pyarrow(path):
    frame = pandas.read_csv(path, engine="pyarrow")
    return frame["two_theta"].tolist(), frame["intensity"].tolist()


def with_polars(path):
    frame = polars.read_csv(path)
    return frame["two_theta"].to_list(), frame["intensity"].to_list()


def main():
    args = harness.arguments(__doc__)
    path = data_file()
    contenders = [with_morvex, with_pandas, with_pandas_pyarrow, with_polars]
    results = [read(path) for read in contenders]
    if any(result != results[0] for result in results) or len(results[0][0]) != ROWS:
        harness.disagree()

    ours, theirs, arrow, pola = harness.alternating_medians(contenders, path, REPEATS)
    cases = [harness.case("morvex.read + lists", ours),
             harness.case("pandas.read_csv + tolist", theirs),
             harness.case("pandas.read_csv(engine='pyarrow') + tolist", arrow),
             harness.case("polars.read_csv + to_list", pola)]
    harness.report(args, "csv", harness.headline(f"CSV, {ROWS:,} rows", path, REPEATS), cases,
                   [harness.speedup("csv", *cases[:2], TARGET)])

if __name__ == "__main__":
    main()
