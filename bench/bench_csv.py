#!/usr/bin/env python3
"""Times morvex.read on a 1,000,000-row CSV file against pandas.read_csv, both to lists.

Run with /usr/bin/python3; the module is taken from $MORVEX_BUILD_DIR (default build/).
The data file is written under bench/data/ on first use.
"""

import argparse
import gc
import json
import os
import pathlib
import statistics
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
DATA = HERE / "data"
sys.path.insert(0, os.environ.get("MORVEX_BUILD_DIR", str(ROOT / "build")))

import morvex  # noqa: E402
import pandas  # noqa: E402

ROWS = 1_000_000
REPEATS = 7
TARGET = 2.5


def data_file():
    path = DATA / "bench_1m.csv"
    if not path.exists():
        DATA.mkdir(exist_ok=True)
        lines = ["two_theta,intensity"]
        lines += [f"{5 + k * 0.0001:.4f},{(k * 7919) % 20011 + 0.5:.1f}" for k in range(ROWS)]
        tmp = path.with_suffix(".tmp")
        tmp.write_text("\n".join(lines) + "\n", encoding="utf-8")
        tmp.rename(path)
    return path


def with_morvex(path):
    pattern = morvex.read(str(path))
    return pattern.x, pattern.y


def with_pandas(path):
    frame = pandas.read_csv(path)
    return frame["two_theta"].tolist(), frame["intensity"].tolist()


def median_time(function, path):
    times = []
    for _ in range(REPEATS):
        gc.collect()
        start = time.perf_counter()
        function(path)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", metavar="PATH", help="also write the results as JSON")
    args = parser.parse_args()

    path = data_file()
    ours, theirs = with_morvex(path), with_pandas(path)
    if ours != theirs or len(ours[0]) != ROWS:
        sys.exit("the contenders disagree on the data; timing would be meaningless")

    cases = [
        {"name": "morvex.read + lists", "median_s": median_time(with_morvex, path)},
        {"name": "pandas.read_csv + tolist", "median_s": median_time(with_pandas, path)},
    ]
    ratio = cases[1]["median_s"] / cases[0]["median_s"]
    ratios = [
        {"name": "pandas / morvex", "value": ratio, "target": TARGET, "higher_is_better": True}
    ]

    print(f"CSV, {ROWS:,} rows ({path.stat().st_size / 1e6:.1f} MB), median of {REPEATS}\n")
    print("| case | median (s) |")
    print("|---|---|")
    for case in cases:
        print(f"| {case['name']} | {case['median_s']:.3f} |")
    verdict = "met" if ratio >= TARGET else "MISSED"
    print(f"\nspeed-up {ratio:.2f}x (target >= {TARGET}x: {verdict})")

    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump({"format": "csv", "cases": cases, "ratios": ratios}, f, indent=2)


if __name__ == "__main__":
    main()
