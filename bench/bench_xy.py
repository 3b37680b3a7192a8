#!/usr/bin/env python3
"""Times morvex.read on a 1,000,000-point xye file against numpy.loadtxt and a C++ floor.

Run with /usr/bin/python3; the module and the floor program (xy_floor) are taken from
$MORVEX_BUILD_DIR (default build/). The data file is written under bench/data/ on first use.

Cases, each the median of several calls in this one process (the floor reports the best of
its own runs):
  (a) morvex.read alone;
  (b) morvex.read and reading x, y and e as lists;
  (c) numpy.loadtxt and .tolist() of the three columns;
  (d) the floor: xy_floor reads the file into memory and converts every number with
      fast_float, without line handling or checks.
Targets: (a) within 1.5 x (d); (b) at least 2.5 x faster than (c).
"""

import argparse
import gc
import json
import math
import os
import pathlib
import re
import statistics
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
DATA = HERE / "data"
BUILD = pathlib.Path(os.environ.get("MORVEX_BUILD_DIR", str(ROOT / "build"))).resolve()
sys.path.insert(0, str(BUILD))

import morvex  # noqa: E402
import numpy  # noqa: E402

POINTS = 1_000_000
REPEATS = 9
FLOOR_TARGET = 1.5
NUMPY_TARGET = 2.5


def data_file():
    """A powder pattern: x to 6 decimals, y to 4 and e to 5, about 33 MB."""
    path = DATA / "bench_1m.xye"
    if path.exists():
        return path
    DATA.mkdir(exist_ok=True)
    lines = []
    for k in range(POINTS):
        x = 5.0 + k * 0.000145
        peaks = sum(h * math.exp(-(((x - c) / 0.05) ** 2)) for c, h in ((28.4, 9e4), (47.3, 5e4)))
        y = 21500.0 + 8000.0 * math.sin(x / 7.0) + peaks + (k * 7919 % 1000) * 0.0371
        lines.append(f"{x:.6f} {y:.4f} {math.sqrt(y):.5f}\n")
    tmp = path.with_suffix(".tmp")
    tmp.write_text("".join(lines), encoding="ascii")
    tmp.rename(path)
    return path


def read_alone(path):
    return morvex.read(path)


def read_with_lists(path):
    pattern = morvex.read(path)
    return pattern.x, pattern.y, pattern.e


def numpy_lists(path):
    table = numpy.loadtxt(path)
    return table[:, 0].tolist(), table[:, 1].tolist(), table[:, 2].tolist()


def timings(function, path):
    times = []
    for _ in range(REPEATS):
        gc.collect()
        start = time.perf_counter()
        result = function(path)
        times.append(time.perf_counter() - start)
        del result
    return times


def floor_time(path):
    program = BUILD / "xy_floor"
    if not program.exists():
        sys.exit(f"{program} is missing: build the project first")
    out = subprocess.run([str(program), str(path), str(REPEATS)], capture_output=True, text=True,
                         check=True).stdout
    fields = dict(re.findall(r"(\w+)=([0-9.]+)", out))
    if int(fields["points"]) != POINTS:
        sys.exit(f"the floor read {fields['points']} points, expected {POINTS}")
    return float(fields["best_s"])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", metavar="PATH", help="also write the results as JSON")
    args = parser.parse_args()

    path = str(data_file())
    ours, theirs = read_with_lists(path), numpy_lists(path)
    if ours != theirs or len(ours[0]) != POINTS:
        sys.exit("the contenders disagree on the data; timing would be meaningless")
    del ours, theirs

    best = {}
    cases = []
    for name, function in (("(a) morvex.read", read_alone),
                           ("(b) morvex.read + x, y, e lists", read_with_lists),
                           ("(c) numpy.loadtxt + tolist", numpy_lists)):
        times = timings(function, path)
        best[name] = min(times)
        cases.append({"name": name, "median_s": statistics.median(times)})
    # The floor times itself and reports only its best run.
    floor = floor_time(path)
    cases.append({"name": "(d) floor: read + fast_float (C++)", "median_s": floor})
    best[cases[-1]["name"]] = floor
    a, b, c, d = (case["median_s"] for case in cases)
    ratios = [
        {"name": "(a) / (d)", "value": a / d, "target": FLOOR_TARGET, "higher_is_better": False},
        {"name": "(c) / (b)", "value": c / b, "target": NUMPY_TARGET, "higher_is_better": True},
    ]

    size = os.path.getsize(path) / 1e6
    print(f"XY/XYE, {POINTS:,} points ({size:.1f} MB), median of {REPEATS}\n")
    print("| case | median (s) | best (s) |")
    print("|---|---|---|")
    for case in cases:
        print(f"| {case['name']} | {case['median_s']:.3f} | {best[case['name']]:.3f} |")
    print()
    print("| ratio | value | target | |")
    print("|---|---|---|---|")
    for ratio in ratios:
        better = ratio["higher_is_better"]
        met = ratio["value"] >= ratio["target"] if better else ratio["value"] <= ratio["target"]
        sign = ">=" if better else "<="
        print(f"| {ratio['name']} | {ratio['value']:.2f} | {sign} {ratio['target']} | "
              f"{'met' if met else 'MISSED'} |")

    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump({"format": "xy", "cases": cases, "ratios": ratios}, f, indent=2)


if __name__ == "__main__":
    main()
