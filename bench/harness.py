"""What every bench_<name>.py shares: the module's location, the data files, the timing, the
Markdown tables and the JSON result that bench/run_all reads.

Importing this module puts $MORVEX_BUILD_DIR (default build/) first on sys.path, so that a
script's `import morvex` after it finds the fresh build. Data files are written once under
$MORVEX_BENCH_DATA (default bench/data/), so that runs from other checkouts can share them.
"""

import argparse
import gc
import json
import math
import os
import pathlib
import statistics
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
DATA = pathlib.Path(os.environ.get("MORVEX_BENCH_DATA", str(HERE / "data"))).resolve()
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
        path.parent.mkdir(parents=True, exist_ok=True)
        content = make()
        if isinstance(content, str):
            content = content.encode("utf-8")
        tmp = path.with_suffix(".tmp")
        tmp.write_bytes(content)
        tmp.rename(path)
    return path


def xye_text(points, step=0.000145, noise_seed=0):
    """A powder pattern from 5 degrees on: x to 6 decimals, y to 4 and e to 5 (sqrt(y)), two
    peaks on a wavy background and a little deterministic noise; about 33 bytes a point."""
    lines = []
    for k in range(points):
        x = 5.0 + k * step
        peaks = sum(h * math.exp(-(((x - c) / 0.05) ** 2)) for c, h in ((28.4, 9e4), (47.3, 5e4)))
        noise = ((k * 7919 + noise_seed) % 1000) * 0.0371
        y = 21500.0 + 8000.0 * math.sin(x / 7.0) + peaks + noise
        lines.append(f"{x:.6f} {y:.4f} {math.sqrt(y):.5f}\n")
    return "".join(lines)


def xye_1m():
    """The 1,000,000-point xye file that the xy and memory benchmarks share (31.3 MB)."""
    return write_once("bench_1m.xye", lambda: xye_text(1_000_000))


# The start of a peak-memory child (bench_memory.py, bench_arrays_memory.py), run as
# `python -c PEAK_CHILD + code BUILD PATH CONTENDER` in a fresh interpreter: reset_peak() resets
# the kernel's peak-resident-set mark (writing 5 to /proc/self/clear_refs) and says whether it
# could; peak(exact) is then VmHWM, else the peak since the process started (ru_maxrss).
PEAK_CHILD = r"""
import gc, json, resource, sys
sys.path.insert(0, sys.argv[1])

def resident():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize()

def reset_peak():
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False

def peak(exact):
    if exact:
        with open("/proc/self/status") as f:
            return next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmHWM:"))
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
"""


def peak_child(code, path, contender):
    """The JSON that the child PEAK_CHILD + code prints for the file at path."""
    import subprocess

    out = subprocess.run([sys.executable, "-c", PEAK_CHILD + code, str(BUILD), str(path),
                          contender], capture_output=True, text=True, check=True).stdout
    return json.loads(out)


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


def timer(function, arg, count_freeing=True):
    """A callable that calls function(arg) once and returns the seconds it took."""
    return lambda: _seconds(function, arg, count_freeing)


def best_of(count, timer):
    """A timer that runs `timer` count times in a row and keeps the fastest."""
    return lambda: min(timer() for _ in range(count))


def alternating_medians(functions, arg, repeats, count_freeing=True):
    """Median seconds per function, all called on arg; see alternate()."""
    return alternate([timer(function, arg, count_freeing) for function in functions], repeats)


def alternate(timers, repeats):
    """Median of each timer's readings over `repeats` rounds. The contenders take turns, one
    reading each a round and the order rotated every round, so that a change in the machine's
    load during the run falls on all of them alike and none always runs right after another."""
    readings = [[] for _ in timers]
    for round_number in range(repeats):
        shift = round_number % len(timers)
        for index in list(range(len(timers)))[shift:] + list(range(len(timers)))[:shift]:
            readings[index].append(timers[index]())
    return [statistics.median(values) for values in readings]


def cases_against_peers(path, ours, peers, count, repeats, same):
    """Checks that `ours` (("name", function)) reads `count` points of `path` and that every
    peer gives the same arrays (`same(a, b)`), then times them all in turns: their cases."""
    first = ours[1](path)
    if len(first[0]) != count:
        disagree()
    for name, peer in peers:
        if not same(first, peer(path)):
            disagree(f"{name}: ")
    del first
    everyone = [ours, *peers]
    medians = alternating_medians([function for _, function in everyone], path, repeats)
    return [case(name, median) for (name, _), median in zip(everyone, medians)]


def case(name, median_s):
    return {"name": name, "median_s": median_s}


def ratio(row, name, value, target, higher_is_better=True, short=None):
    """One row of the targets table: `row` names what is measured (a format, or a format and
    the comparison), `name` says in plain words what is divided by what, `short` labels the
    chart (default: row)."""
    return {"row": row, "name": name, "value": value, "target": target,
            "higher_is_better": higher_is_better, "short": short or row}


def speedup(row, ours, theirs, target, short=None):
    """The peer's time over ours: how many times faster morvex is (higher is better)."""
    # Case names may open with their format ("gsas: ..."), which the row already gives.
    plain = [case["name"].split(": ", 1)[-1] for case in (theirs, ours)]
    return ratio(row, f"{plain[0]} time ÷ {plain[1]} time (× faster)",
                 theirs["median_s"] / ours["median_s"], target, short=short)


def met(entry):
    value, target = entry["value"], entry["target"]
    return value >= target if entry["higher_is_better"] else value <= target


def bound(entry):
    """The target as a condition: ">= 2.5" or "<= 1.5"."""
    return f"{'>=' if entry['higher_is_better'] else '<='} {entry['target']}"


def verdict(entry):
    return "met" if met(entry) else "MISSED"


def headline(what, paths, repeats):
    """The line that opens a benchmark's report: what was read, its size, the repeats."""
    paths = [paths] if isinstance(paths, (str, os.PathLike)) else paths
    size = sum(os.path.getsize(path) for path in paths)
    return f"{what} ({size / 1e6:.1f} MB), median of {repeats}"


def print_table(columns, rows, right_aligned=False):
    """A Markdown table; rows are sequences of cell texts; an empty heading stays one space."""
    print("|" + "|".join(f" {c} " if c else " " for c in columns) + "|")
    print("|" + "|".join("---:" if right_aligned and k else "---" for k in range(len(columns)))
          + "|")
    for row in rows:
        print("| " + " | ".join(row) + " |")


def report(args, format_name, title, cases, ratios, **extra):
    """Prints the headline, the medians and the ratios, and writes the JSON result that
    bench/run_all reads when --json was given (extra keys go into it as they are)."""
    print(title + "\n")
    for row in extra.get("memory", []):
        print(f"{row['name']}: {row['bytes'] / 2**20:.1f} MiB")
    if extra.get("memory"):
        print()
    if cases:
        print_table(["case", "median (ms)"],
                    [(c["name"], f"{c['median_s'] * 1e3:.2f}") for c in cases], right_aligned=True)
        print()
    print_table(["ratio", "value", "target", ""],
                [(r["name"], f"{r['value']:.2f}", bound(r), verdict(r)) for r in ratios])
    if args.json:
        result = {"format": format_name, "headline": title, "cases": cases, "ratios": ratios,
                  **extra}
        pathlib.Path(args.json).write_text(json.dumps(result, indent=2) + "\n", encoding="utf-8")
