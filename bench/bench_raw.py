#!/usr/bin/env python3
"""Times morvex.read on a 1,000,000-point Bruker RAW4.00 file and a 1,000,000-value GSAS file.

Bruker: morvex.read alone against reading the file into memory plus one pass over it (the
floor for any reader that must search the whole file), with numpy.frombuffer + tolist beside
it. GSAS: morvex.read plus lists against numpy.loadtxt on the data lines plus tolist.

Run with /usr/bin/python3; the module is taken from $MORVEX_BUILD_DIR (default build/).
The data files are written under bench/data/ on first use.
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
sys.path.insert(0, str(ROOT / "examples"))

import morvex  # noqa: E402
import numpy  # noqa: E402

from generate import bruker_raw4_bytes, gsas_std_text  # noqa: E402

POINTS = 1_000_000
REPEATS = 7
START, STEP = 5.0, 0.0001
BRUKER_TARGET = 2.0  # morvex.read / (read + one pass), at most
GSAS_TARGET = 1.7  # numpy path / morvex path, at least
# Where the intensities start in the generated RAW4.00 file: header, one segment, range header.
BRUKER_DATA_OFFSET = 61 + 36 + 160
GSAS_HEADER_LINES = 2


def intensities():
    return [float((k * 7919) % 20011) for k in range(POINTS)]


def write_once(path, make):
    if not path.exists():
        DATA.mkdir(exist_ok=True)
        tmp = path.with_suffix(".tmp")
        tmp.write_bytes(make())
        tmp.rename(path)
    return path


def bruker_file():
    return write_once(DATA / "bench_1m_bruker.raw", lambda: bruker_raw4_bytes(START, STEP, intensities()))


def bruker_search_file():
    # The same file under a version text whose header is not read: the search finds it all.
    make = lambda: b"RAW9.99" + bruker_raw4_bytes(START, STEP, intensities())[7:]
    return write_once(DATA / "bench_1m_bruker_search.raw", make)


def gsas_file():
    text = lambda: gsas_std_text("benchmark", START, STEP, intensities()).encode("ascii")
    return write_once(DATA / "bench_1m_gsas.raw", text)


def morvex_read(path):
    return morvex.read(str(path))


def morvex_lists(path):
    pattern = morvex.read(str(path))
    return pattern.x, pattern.y


def read_plus_pass(path):
    with open(path, "rb") as f:
        data = f.read()
    return numpy.frombuffer(data, dtype=numpy.uint8).max()


def numpy_bruker(path):
    with open(path, "rb") as f:
        data = f.read()
    y = numpy.frombuffer(data, dtype="<f4", offset=BRUKER_DATA_OFFSET).astype(numpy.float64)
    x = numpy.arange(len(y)) * STEP + START
    return x.tolist(), y.tolist()


def numpy_gsas(path):
    y = numpy.loadtxt(path, skiprows=GSAS_HEADER_LINES).ravel()
    x = numpy.arange(len(y)) * STEP + START
    return x.tolist(), y.tolist()


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

    bruker, search, gsas = bruker_file(), bruker_search_file(), gsas_file()
    for path, reference in ((bruker, numpy_bruker), (search, numpy_bruker), (gsas, numpy_gsas)):
        ours, theirs = morvex_lists(path), reference(path)
        if ours[1] != theirs[1] or len(ours[0]) != POINTS:
            sys.exit(f"{path.name}: the contenders disagree on the data; timing is meaningless")

    cases = [
        {"name": "bruker: morvex.read", "median_s": median_time(morvex_read, bruker)},
        {"name": "bruker: morvex.read, found by search",
         "median_s": median_time(morvex_read, search)},
        {"name": "bruker: read + one pass", "median_s": median_time(read_plus_pass, bruker)},
        {"name": "bruker: morvex.read + lists", "median_s": median_time(morvex_lists, bruker)},
        {"name": "bruker: numpy.frombuffer + tolist",
         "median_s": median_time(numpy_bruker, bruker)},
        {"name": "gsas: morvex.read + lists", "median_s": median_time(morvex_lists, gsas)},
        {"name": "gsas: numpy.loadtxt + tolist", "median_s": median_time(numpy_gsas, gsas)},
    ]
    t = {case["name"]: case["median_s"] for case in cases}
    ratios = [
        {"name": "bruker: morvex.read / (read + one pass)",
         "value": t["bruker: morvex.read"] / t["bruker: read + one pass"],
         "target": BRUKER_TARGET, "higher_is_better": False},
        {"name": "bruker: morvex.read by search / (read + one pass)",
         "value": t["bruker: morvex.read, found by search"] / t["bruker: read + one pass"],
         "target": BRUKER_TARGET, "higher_is_better": False},
        {"name": "gsas: numpy / morvex",
         "value": t["gsas: numpy.loadtxt + tolist"] / t["gsas: morvex.read + lists"],
         "target": GSAS_TARGET, "higher_is_better": True},
    ]

    print("| case | median (ms) |\n|---|---:|")
    for case in cases:
        print(f"| {case['name']} | {case['median_s'] * 1e3:.2f} |")
    print("\n| ratio | value | target |\n|---|---:|---:|")
    for ratio in ratios:
        bound = ">=" if ratio["higher_is_better"] else "<="
        print(f"| {ratio['name']} | {ratio['value']:.2f} | {bound} {ratio['target']} |")
    if args.json:
        result = {"format": "raw", "cases": cases, "ratios": ratios}
        pathlib.Path(args.json).write_text(json.dumps(result, indent=2) + "\n")


if __name__ == "__main__":
    main()
