"""What every bench_<format>.py shares: the module's location, the data files, the timing, the
Markdown tables and the JSON result that bench/run_all reads.

Importing this module puts $MORVEX_BUILD_DIR (default build/) first on sys.path, so that a
script's `import morvex` after it finds the fresh build.
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
BUILD = pathlib.Path(os.environ.get("MORVEX_BUILD_DIR", str(ROOT / "build"))).resolve()
sys.path.insert(0, str(BUILD))


def arguments(doc):
    """The command line every benchmark takes: --json PATH."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--json", metavar="PATH", help="also write the results as JSON")
    return parser.parse_args()


def write_once(name, make):
    """DATA/name, written from make() (bytes, or text stored as UTF-8) when it is missing.
    The file is written under another name and renamed, so that an interrupted run never
    leaves a truncated file that later runs would take for finished."""
    path = DATA / name
    if not path.exists():
        DATA.mkdir(exist_ok=True)
        content = make()
        if isinstance(content, str):
            content = content.encode("utf-8")
        tmp = path.with_suffix(".tmp")
        tmp.write_bytes(content)
        tmp.rename(path)
    return path


def disagree(prefix=""):
    sys.exit(f"{prefix}the contenders disagree on the data; timing would be meaningless")


def _seconds(function, arg, count_freeing):
    gc.collect()
    start = time.perf_counter()
    result = function(arg)
    if count_freeing:
        # Freeing a million-float result is part of what a caller pays.
        del result
        return time.perf_counter() - start
    spent = time.perf_counter() - start
    del result
    return spent


def call_times(function, arg, repeats, count_freeing=True):
    """Seconds of each of `repeats` calls of function(arg), a garbage collection before each."""
    return [_seconds(function, arg, count_freeing) for _ in range(repeats)]


def median_time(function, arg, repeats):
    return statistics.median(call_times(function, arg, repeats))


def alternating_medians(functions, arg, repeats):
    """Median seconds per function; the calls alternate, so that a change in the machine's
    load during the run falls on all contenders alike."""
    times = [[] for _ in functions]
    for _ in range(repeats):
        for function, spent in zip(functions, times):
            spent.append(_seconds(function, arg, True))
    return [statistics.median(spent) for spent in times]


def case(name, median_s):
    return {"name": name, "median_s": median_s}


def ratio(name, value, target, higher_is_better=True):
    return {"name": name, "value": value, "target": target, "higher_is_better": higher_is_better}


def met(entry):
    value, target = entry["value"], entry["target"]
    return value >= target if entry["higher_is_better"] else value <= target


def bound(entry):
    """The target as a condition: ">= 2.5" or "<= 1.5"."""
    return f"{'>=' if entry['higher_is_better'] else '<='} {entry['target']}"


def verdict(entry):
    return "met" if met(entry) else "MISSED"


def print_headline(what, path, repeats):
    """The first line, which bench/run_all repeats in its report, and a blank line."""
    print(f"{what} ({os.path.getsize(path) / 1e6:.1f} MB), median of {repeats}\n")


def print_table(columns, rows, right_aligned=False):
    """A Markdown table; rows are sequences of cell texts; an empty heading stays one space."""
    print("|" + "|".join(f" {c} " if c else " " for c in columns) + "|")
    print("|" + "|".join("---:" if right_aligned and k else "---" for k in range(len(columns)))
          + "|")
    for row in rows:
        print("| " + " | ".join(row) + " |")


def print_medians(cases):
    """Cases in seconds, three decimals."""
    print_table(["case", "median (s)"], [(c["name"], f"{c['median_s']:.3f}") for c in cases])


def print_speedup(entry):
    """One higher-is-better ratio as a sentence below the table."""
    print(f"\nspeed-up {entry['value']:.2f}x (target >= {entry['target']}x: {verdict(entry)})")


def report_speedup(args, format_name, what, path, repeats, cases, ratio_name, target):
    """The whole report of a benchmark of morvex, cases[0], against one peer, cases[1]: the
    headline, the medians, the peer's time over ours against a lower bound, and the JSON."""
    ratios = [ratio(ratio_name, cases[1]["median_s"] / cases[0]["median_s"], target)]
    print_headline(what, path, repeats)
    print_medians(cases)
    print_speedup(ratios[0])
    write_result(args, format_name, cases, ratios)


def write_result(args, format_name, cases, ratios):
    """The JSON result bench/run_all reads, when --json was given."""
    if args.json:
        result = {"format": format_name, "cases": cases, "ratios": ratios}
        pathlib.Path(args.json).write_text(json.dumps(result, indent=2) + "\n", encoding="utf-8")
