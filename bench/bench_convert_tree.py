#!/usr/bin/env python3
"""Converts a tree of 10,000 files of five formats with morvex-convert: to a Parquet dataset
and to xye, in two local processes and on a two-worker Dask LocalCluster.

The tree (100 folders of 100 files, made in a temporary folder and removed after): xye, csv,
GSAS STD, Bruker RAW4.00 and XRDML in turn, 2,000 to 4,000 points each. Each format has 40
patterns, each written 50 times under other names, so that making the tree takes seconds;
every file is still read, converted and written on its own. Each run is timed once, as a
whole command from start to summary, and its outputs are counted. Memory: the peak resident
set of the whole process tree of a local run (the command and its workers, sampled every
50 ms with psutil, which distributed brings), the largest single process of it
(getrusage), and for the Dask runs each worker's peak as the cluster's own monitor saw it.

Run with build-venv/bin/python; the module is taken from $MORVEX_BUILD_DIR (default build/),
the converter from src/. Needs about 4 GB of free space in the temporary folder ($TMPDIR).
"""

import os
import resource
import subprocess
import sys
import tempfile
import threading
import time

import harness  # first: puts the build on sys.path

import numpy
import psutil

# The converter from this tree: the cluster's scheduler unpickles its tasks, and its workers
# start with this path.
sys.path[1:1] = [str(harness.ROOT / "src"), str(harness.ROOT / "examples")]
from generate import bruker_raw4_bytes, gsas_std_text  # noqa: E402

FOLDERS, PER_FOLDER = 100, 100
PATTERNS = 40  # distinct patterns per format
FORMATS = ("xye", "csv", "gsa", "raw", "xrdml")
NAMESPACE = "http://www.xrdml.com/XRDMeasurement/1.5"


def pattern(k: int):
    """Positions and whole counts of the kth made-up pattern: 2,000 to 4,000 points."""
    count = 2000 + (k * 977) % 2001
    step = 0.03
    x = 5.0 + step * numpy.arange(count)
    peak = 9e4 * numpy.exp(-(((x - 28.4 - k / 9) / 0.05) ** 2))
    y = 2000.0 + 800.0 * numpy.sin(x / 7.0 + k) + peak
    return 5.0, step, x, numpy.round(y + (numpy.arange(count) * 7919 + k) % 97)


def xrdml_text(start, step, counts) -> str:
    end = start + step * (len(counts) - 1)
    return (f'<?xml version="1.0" encoding="UTF-8"?>\n<xrdMeasurements xmlns="{NAMESPACE}" '
            'status="Completed">\n<xrdMeasurement measurementType="Scan" status="Completed">\n'
            '<usedWavelength intended="K-Alpha 1"><kAlpha1 unit="Angstrom">1.5405980</kAlpha1>'
            '</usedWavelength>\n<scan appendNumber="0" mode="Continuous" scanAxis="Gonio" '
            'status="Completed"><dataPoints>\n<positions axis="2Theta" unit="deg">'
            f"<startPosition>{start}</startPosition><endPosition>{end:.6f}</endPosition>"
            '</positions>\n<commonCountingTime unit="seconds">1.0</commonCountingTime>\n'
            f'<intensities unit="counts">{" ".join(f"{c:.0f}" for c in counts)}</intensities>\n'
            "</dataPoints></scan></xrdMeasurement></xrdMeasurements>\n")


def contents(fmt: str, k: int) -> bytes:
    start, step, x, y = pattern(k)
    if fmt == "raw":
        return bruker_raw4_bytes(start, step, y.tolist())
    if fmt == "gsa":
        return gsas_std_text(f"bench {k}", start, step, y.tolist()).encode()
    if fmt == "xrdml":
        return xrdml_text(start, step, y).encode()
    rows = numpy.column_stack([x, y, numpy.sqrt(y)])
    sep = "," if fmt == "csv" else " "
    return ("x,y,e\n" * (fmt == "csv") + "".join(
        f"{a:.4f}{sep}{b:.0f}{sep}{c:.5f}\n" for a, b, c in rows.tolist())).encode()


def make_tree(top: str) -> int:
    made = {(fmt, k): contents(fmt, k) for fmt in FORMATS for k in range(PATTERNS)}
    for folder in range(FOLDERS):
        os.makedirs(f"{top}/d{folder:03d}")
        for n in range(PER_FOLDER):
            index = folder * PER_FOLDER + n
            fmt = FORMATS[index % len(FORMATS)]
            with open(f"{top}/d{folder:03d}/s{n:03d}.{fmt}", "wb") as f:
                f.write(made[fmt, index // len(FORMATS) % PATTERNS])
    return FOLDERS * PER_FOLDER


class TreeMemory:
    """Peak summed RSS of a process and its descendants, sampled in a thread."""

    def __init__(self, pid: int):
        self.root, self.peak, self.done = psutil.Process(pid), 0, threading.Event()
        self.thread = threading.Thread(target=self.sample, daemon=True)
        self.thread.start()

    def sample(self) -> None:
        while not self.done.wait(0.05):
            total = 0
            try:
                for process in [self.root, *self.root.children(recursive=True)]:
                    total += process.memory_info().rss
            except psutil.Error:
                continue  # a worker that just ended
            self.peak = max(self.peak, total)

    def stop(self) -> int:
        self.done.set()
        self.thread.join()
        return self.peak


def convert(args: list[str]) -> tuple[float, int, str]:
    """Seconds, peak RSS of the process tree, and the summary line of one command."""
    path = os.pathsep.join([str(harness.BUILD), str(harness.ROOT / "src")])
    env = dict(os.environ, PYTHONPATH=path)
    started = time.perf_counter()
    child = subprocess.Popen([sys.executable, "-m", "morvex_convert", *args], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    memory = TreeMemory(child.pid)
    out, err = child.communicate()
    seconds = time.perf_counter() - started
    peak = memory.stop()
    if child.returncode != 0:
        sys.exit(f"morvex-convert {' '.join(args)} failed ({child.returncode}):\n{err[-2000:]}")
    return seconds, peak, out.strip()


def counted(folder: str, suffix: str) -> int:
    return sum(name.endswith(suffix) for _, _, names in os.walk(folder) for name in names)


def dataset_rows(folder: str) -> int:
    import pyarrow.dataset

    return pyarrow.dataset.dataset(folder).count_rows()


def worker_peaks(client) -> list[int]:
    """Each Dask worker's peak RSS as its system monitor recorded it."""
    peaks = client.run(lambda dask_worker: max(dask_worker.monitor.quantities["memory"]))
    return list(peaks.values())


def main():
    args = harness.arguments(__doc__)
    from distributed import Client, LocalCluster

    cases, memory, lines = [], [], []
    with tempfile.TemporaryDirectory(prefix="morvex-bench-tree-") as scratch:
        tree, out = f"{scratch}/tree", f"{scratch}/out"
        made = time.perf_counter()
        files = make_tree(tree)
        print(f"made {files:,} files in {time.perf_counter() - made:.1f} s", flush=True)
        size = sum(os.path.getsize(os.path.join(d, n)) for d, _, ns in os.walk(tree) for n in ns)

        def record(name, seconds, summary, outputs):
            if not summary.startswith(f"{files} converted") or outputs != files:
                sys.exit(f"{name}: {summary}; {outputs} outputs for {files} files")
            cases.append(harness.case(name, seconds))
            lines.append(f"{name}: {seconds:.1f} s, {files / seconds:,.0f} files/s")
            print(lines[-1], flush=True)

        for form, target in (("parquet", f"{out}/local.parquet"), ("xye", f"{out}/local-xye")):
            seconds, peak, summary = convert(["--jobs", "2", "--to", form, "-o", target, tree])
            outputs = dataset_rows(target) if form == "parquet" else counted(target, ".xye")
            record(f"--jobs 2 --to {form}", seconds, summary, outputs)
            memory.append({"name": f"--jobs 2 --to {form}: peak of the process tree",
                           "bytes": peak})
        largest = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss * 1024
        memory.append({"name": "--jobs 2: largest single process", "bytes": largest})

        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            for form, target in (("parquet", f"{out}/dask.parquet"), ("xye", f"{out}/dask-xye")):
                seconds, _, summary = convert(["--dask", cluster.scheduler_address,
                                               "--to", form, "-o", target, tree])
                outputs = dataset_rows(target) if form == "parquet" else counted(target, ".xye")
                record(f"--dask (2 workers) --to {form}", seconds, summary, outputs)
            memory.append({"name": "--dask: largest worker's peak",
                           "bytes": max(worker_peaks(client))})
        written = sum(os.path.getsize(os.path.join(d, n))
                      for d, _, ns in os.walk(f"{out}/local.parquet") for n in ns)

    title = (f"{files:,} files of 5 formats, 2,000-4,000 points each ({size / 1e6:.0f} MB; "
             f"the Parquet dataset {written / 1e6:.0f} MB), one run each, {os.cpu_count()} cores")
    harness.report(args, "convert a tree of 10,000 files", title, cases, [], memory=memory)
    print("\n" + "\n".join(lines))


if __name__ == "__main__":
    main()
