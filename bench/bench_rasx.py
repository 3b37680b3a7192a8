#!/usr/bin/env python3
"""Times morvex.read on a RASX archive with a 1,000,000-line profile against zipfile plus
pandas.read_csv on the profile entry, both to lists.

Run with /usr/bin/python3; the module is taken from $MORVEX_BUILD_DIR (default build/).
The archive is written under bench/data/ on first use.
"""

import argparse
import gc
import json
import os
import pathlib
import statistics
import sys
import time
import zipfile

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
DATA = HERE / "data"
sys.path.insert(0, os.environ.get("MORVEX_BUILD_DIR", str(ROOT / "build")))

import morvex  # noqa: E402
import pandas  # noqa: E402

LINES = 1_000_000
REPEATS = 7
TARGET = 2.0
PROFILE = "Data0/Profile0.txt"


def data_file():
    """An archive shaped like Rigaku's: a BOM, CRLF lines, a third attenuator column."""
    path = DATA / "bench_1m.rasx"
    if not path.exists():
        DATA.mkdir(exist_ok=True)
        lines = [f"{10 + k * 0.0001:.4f}\t{(k * 7919) % 20011}\t1.0000" for k in range(LINES)]
        profile = "\ufeff" + "\r\n".join(lines) + "\r\n"
        tmp = path.with_suffix(".tmp")
        with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as archive:
            archive.writestr("root.xml", "<RootElement/>")
            archive.writestr("Data0/MesurementConditions0.xml", "<MeasurementConditions/>")
            archive.writestr(PROFILE, profile.encode("utf-8"))
        tmp.rename(path)
    return path


def with_morvex(path):
    pattern = morvex.read(str(path))
    return pattern.x, pattern.y


def with_pandas(path):
    with zipfile.ZipFile(path) as archive, archive.open(PROFILE) as entry:
        frame = pandas.read_csv(entry, sep="\t", header=None, encoding="utf-8-sig")
    return frame[0].tolist(), frame[1].tolist()


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
    if ours != theirs or len(ours[0]) != LINES:
        sys.exit("the contenders disagree on the data; timing would be meaningless")

    cases = [
        {"name": "morvex.read + lists", "median_s": median_time(with_morvex, path)},
        {"name": "zipfile + pandas.read_csv + tolist", "median_s": median_time(with_pandas, path)},
    ]
    ratio = cases[1]["median_s"] / cases[0]["median_s"]
    ratios = [
        {"name": "pandas / morvex", "value": ratio, "target": TARGET, "higher_is_better": True}
    ]

    print(f"RASX, {LINES:,} profile lines ({path.stat().st_size / 1e6:.1f} MB), median of {REPEATS}\n")
    print("| case | median (s) |")
    print("|---|---|")
    for case in cases:
        print(f"| {case['name']} | {case['median_s']:.3f} |")
    verdict = "met" if ratio >= TARGET else "MISSED"
    print(f"\nspeed-up {ratio:.2f}x (target >= {TARGET}x: {verdict})")

    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump({"format": "rasx", "cases": cases, "ratios": ratios}, f, indent=2)


if __name__ == "__main__":
    main()
