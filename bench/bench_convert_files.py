#!/usr/bin/env python3
"""Times converting a folder of 1,000 xye files of 5,000 points to xye text at full precision,
with `morvex-convert --jobs 2` against a two-process multiprocessing pool of the best peer
(pandas.read_csv, C engine, then DataFrame.to_csv, which writes each float's shortest
round-trip form as the converter does).

Both run as a fresh command, so each pays its interpreter, its imports and its pool of two
processes, and both write every output file; the two take turns. The files are
bench_arrays_small_files.py's. The outputs of both are checked to hold the same numbers bit for
bit on a sample of files before the timing.

Run with an interpreter that has pandas (requirements/bench.txt, as in build-venv); the module
is taken from $MORVEX_BUILD_DIR (default build/), the converter from src/. Targets: the peer's
time at least 1 x ours (no slower than the pool); `--jobs 1` at least 1.7 x `--jobs 2` (the
second process earns its keep).
"""

import multiprocessing
import os
import pathlib
import subprocess
import sys
import tempfile
import time

import bench_arrays_small_files  # the files; imports harness first
import harness

import numpy

REPEATS = 5
JOBS = 2
TARGET = 1.0
JOBS_TARGET = 1.7


def environment():
    paths = [str(harness.BUILD), str(harness.ROOT / "src"), os.environ.get("PYTHONPATH", "")]
    return {**os.environ, "PYTHONPATH": os.pathsep.join(p for p in paths if p)}


def run(command):
    """Seconds for the command, which must succeed."""
    started = time.perf_counter()
    subprocess.run(command, check=True, env=environment(), stdout=subprocess.DEVNULL)
    return time.perf_counter() - started


def with_converter(folder, out, jobs=JOBS):
    return run([sys.executable, "-m", "morvex_convert", "--jobs", str(jobs), "--force",
                "-o", out, folder])


def with_pool(folder, out):
    return run([sys.executable, __file__, "--pool", folder, out])


def pool_one(paths):
    import pandas  # in the pool's processes only

    source, target = paths
    frame = pandas.read_csv(source, sep=r"\s+", header=None)
    frame.to_csv(target, sep=" ", header=False, index=False)


def pool_main(folder, out):
    sources = sorted(pathlib.Path(folder).glob("*.xye"))
    os.makedirs(out, exist_ok=True)
    jobs = [(str(s), os.path.join(out, s.name)) for s in sources]
    with multiprocessing.get_context("forkserver").Pool(JOBS) as pool:
        for _ in pool.imap_unordered(pool_one, jobs, chunksize=16):
            pass


def same_outputs(ours, theirs, names):
    for name in names:
        a = numpy.loadtxt(os.path.join(ours, name))
        b = numpy.loadtxt(os.path.join(theirs, name))
        if a.shape != b.shape or a.tobytes() != b.tobytes():
            return False
    return True


def main():
    args = harness.arguments(__doc__)
    paths = bench_arrays_small_files.data_files()
    folder = str(paths[0].parent)
    with tempfile.TemporaryDirectory(prefix="morvex-bench-") as scratch:
        ours, theirs = os.path.join(scratch, "morvex"), os.path.join(scratch, "pool")
        with_converter(folder, ours)
        with_pool(folder, theirs)
        if not same_outputs(ours, theirs, [p.name for p in paths[:: len(paths) // 20]]):
            harness.disagree()
        timers = [lambda: with_converter(folder, ours), lambda: with_pool(folder, theirs),
                  lambda: with_converter(folder, ours, 1)]
        medians = harness.alternate(timers, REPEATS)
    cases = [harness.case(f"morvex-convert --jobs {JOBS}", medians[0]),
             harness.case(f"multiprocessing pool of {JOBS}: pandas read_csv + to_csv",
                          medians[1]),
             harness.case("morvex-convert --jobs 1", medians[2])]
    title = harness.headline(f"{len(paths):,} xye files converted to xye, {JOBS} processes",
                             paths, REPEATS)
    harness.report(args, "1,000 files, converted", title, cases,
                   [harness.speedup(f"{len(paths):,} files, morvex-convert --jobs {JOBS}",
                                    *cases[:2], TARGET, short="convert vs pool"),
                    harness.speedup(f"{len(paths):,} files, --jobs {JOBS} vs --jobs 1",
                                    cases[0], cases[2], JOBS_TARGET, short="jobs 2 vs 1")])


if __name__ == "__main__":
    if sys.argv[1:2] == ["--pool"]:
        pool_main(*sys.argv[2:4])
    else:
        main()
