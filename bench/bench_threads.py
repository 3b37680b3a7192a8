#!/usr/bin/env python3
"""Times morvexio.read_many with two threads against the same reads in a loop, over every real
file of ../shared/realdata three times over (about 200 loads of 14 formats, as a notebook
going through a folder of scans makes them); where those files are absent, over the
benchmark's own files (bench_arrays_small_files.py's 1,000 xye files and the large ones).

Loads release the interpreter lock, so two threads should take about half the loop's time;
what stays serial is building the Python records. Every result of the threads is checked
against the loop's first. Run with an interpreter that has numpy (requirements/bench.txt, as
in build-venv); the module is taken from $MORVEX_BUILD_DIR (default build/). Target: the loop
at least 1.7 x the threads' time.
"""

import pathlib

import bench_arrays_small_files  # the generator of the fallback files; imports harness first
import harness

import morvexio

REPEATS = 7
THREADS = 2
TARGET = 1.7
REALDATA = pathlib.Path(__file__).resolve().parents[2] / "shared" / "realdata"


def data_files():
    real = sorted(p for p in REALDATA.rglob("*") if p.is_file() and p.suffix not in (".tsv", ".md"))
    if real:
        return real * 3
    return [pathlib.Path(p) for p in bench_arrays_small_files.data_files()]


def in_a_loop(paths):
    out = []
    for path in paths:
        try:
            out.append(morvexio.read(path))
        except (OSError, morvexio.FormatError) as error:
            out.append(error)
    return out


def with_threads(paths):
    return morvexio.read_many(paths, threads=THREADS)


def main():
    args = harness.arguments(__doc__)
    paths = data_files()
    loop, threads = in_a_loop(paths), with_threads(paths)
    for path, a, b in zip(paths, loop, threads):
        if (a != b) if isinstance(a, morvexio.Measurement) else (str(a) != str(b)):
            harness.disagree(f"{path}: ")
    ours, theirs = harness.alternating_medians([with_threads, in_a_loop], paths, REPEATS)
    cases = [harness.case(f"morvexio.read_many, {THREADS} threads", ours),
             harness.case("morvexio.read in a loop", theirs)]
    title = harness.headline(f"{len(paths)} loads, {THREADS} threads against a loop", paths,
                             REPEATS)
    harness.report(args, "threads", title, cases,
                   [harness.speedup(f"{len(paths)} loads, {THREADS} threads vs a loop", *cases,
                                    TARGET, short="threads vs a loop")])


if __name__ == "__main__":
    main()
