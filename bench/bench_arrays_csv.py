#!/usr/bin/env python3
"""Times morvexio.read on the 1,000,000-row CSV file, ending in x and y as numpy arrays,
against pandas.read_csv (C engine and pyarrow engine), polars.read_csv and pyarrow.csv, each
ending in the same two float64 arrays. The peers may use every core; morvexio uses one.

Run with an interpreter that has the peers (requirements/bench.txt, as in build-venv); the module is taken from
$MORVEX_BUILD_DIR (default build/). The data file is bench_csv.py's.
Targets: polars and pandas with pyarrow at least 1.5 x morvexio's time each.
"""

import bench_csv  # the data file; imports harness first
import bench_arrays_xy
import harness

import morvexio
import pandas
import polars
import pyarrow.csv

REPEATS = 9
TARGET = 1.5


def with_morvexio(path):
    scan = morvexio.read(path).scans[0]
    return scan.x, scan.y


def with_pandas_c(path):
    frame = pandas.read_csv(path)
    return frame["two_theta"].to_numpy(), frame["intensity"].to_numpy()


def with_pandas_pyarrow(path):
    frame = pandas.read_csv(path, engine="pyarrow")
    return frame["two_theta"].to_numpy(), frame["intensity"].to_numpy()


def with_polars(path):
    table = polars.read_csv(path).to_numpy()
    return table[:, 0], table[:, 1]


def with_pyarrow(path):
    table = pyarrow.csv.read_csv(path)
    return table.column(0).to_numpy(), table.column(1).to_numpy()


PEERS = [("pandas.read_csv (C engine) → to_numpy", with_pandas_c),
         ("pandas.read_csv(engine=\"pyarrow\") → to_numpy", with_pandas_pyarrow),
         ("polars.read_csv → to_numpy", with_polars),
         ("pyarrow.csv.read_csv → to_numpy", with_pyarrow)]


def main():
    args = harness.arguments(__doc__)
    path = str(bench_csv.data_file())
    cases = harness.cases_against_peers(path, ("morvexio.read → x, y arrays", with_morvexio),
                                        PEERS, bench_csv.ROWS, REPEATS, bench_arrays_xy.same_arrays)
    # The targets name polars and pandas with pyarrow; the other peers are shown beside them.
    ratios = [harness.speedup("csv arrays vs polars", cases[0], cases[3], TARGET,
                              short="csv vs polars"),
              harness.speedup("csv arrays vs pandas pyarrow", cases[0], cases[2], TARGET,
                              short="csv vs pandas pyarrow")]
    title = harness.headline(f"CSV to numpy arrays, {bench_csv.ROWS:,} rows", path, REPEATS)
    harness.report(args, "csv, numpy arrays", title, cases, ratios)


if __name__ == "__main__":
    main()
