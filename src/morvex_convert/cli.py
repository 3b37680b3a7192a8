"""The morvex-convert command line."""

import argparse
import os
import sys
import time
from collections import Counter
from collections.abc import Callable
from typing import Any

import morvexio
from morvex_convert.convert import (CONVERTED, FAILED, SKIPPED, UNCHANGED, Files, Outcome, Task,
                                    convert_files, convert_one, describe, per_file)
from morvex_convert.dataset import clear, convert_batch, finish, plan_dataset, require
from morvex_convert.forms import FORMS, META
from morvex_convert.names import shown
from morvex_convert.output import remove_strays
from morvex_convert.plan import EXTENSIONS, load_as, parse_load_as, plan
from morvex_convert.progress import progress
from morvex_convert.run import SetupError, run_dask, run_here, run_processes

# Files a --dask task converts in the text forms.
DASK_FILES = 32

DESCRIPTION = """\
Converts diffraction files, and every regular file of a supported format below the directories
named, to xye, csv or GSAS FXYE (x, y and e when the file has it, at full precision), each scan
with its metadata, to one NeXus file per input (NAME.nxs, every scan, the nexus extra), or all
of them into one Parquet dataset. A directory's files keep their
layout under OUTDIR. Names: NAME.EXT becomes NAME.xye (.csv, .gsa); where inputs bound for one
folder differ only in their extension (PBSO4.XRA, PBSO4.CWN), each keeps it (PBSO4.XRA.xye,
PBSO4.CWN.xye); scan K of a file with several goes to NAME.scanK.EXT, K zero-padded to the
file's scan count. A rerun converts a file again only if it changed (size or modification time)
since its outputs were written, and never takes the converter's own outputs as inputs. --to
parquet writes the folder -o DATASET of part files, one row per scan (source, format, scan, a
column per metadata key, x, y and e), and the file _SUCCESS last; a rerun finishes a dataset
without it. Every failed file is reported with its path, exception class and message, and the
run goes on. No input is ever replaced, --force or not, and a file's outputs appear whole, all
or none. Exit status: 0 done, 1 some file failed, 2 a wrong command line or a run that could
not start (no distributed, no scheduler at ADDRESS, no pyarrow or h5py, a complete dataset
without --force)."""


def positive(text: str) -> int:
    value = int(text)
    if value < 1:
        raise ValueError(text)
    return value


def seconds(text: str) -> float:
    value = float(text)
    if not 0 < value < float("inf"):
        raise ValueError(text)
    return value


def load_as_rule(text: str):
    try:
        return parse_load_as(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog="morvex-convert", description=DESCRIPTION)
    p.add_argument("paths", nargs="+", metavar="PATH", help="files and directories to convert")
    p.add_argument("-o", dest="outdir", metavar="OUTDIR",
                   help="output folder (default: the current directory); for --to parquet "
                        "the dataset's folder, required (e.g. -o scans.parquet)")
    p.add_argument("--to", choices=(*FORMS, "nexus", "parquet"), default="xye",
                   help="output format (default: xye)")
    p.add_argument("--scan", type=positive, metavar="N",
                   help="write scan N only (1-based) as NAME.scanN.EXT (scan 1: NAME.EXT); "
                        "default: every scan")
    p.add_argument("--meta", choices=META, default="comments",
                   help="metadata as '# key: value' lines atop each output (default), or as a "
                        "JSON file beside it, NAME.json or NAME.scanK.json")
    where = p.add_mutually_exclusive_group()
    where.add_argument("--jobs", type=positive, default=1, metavar="N",
                       help="load in N local processes (default: 1, this process)")
    where.add_argument("--dask", metavar="ADDRESS",
                       help="convert on the Dask cluster whose scheduler is at ADDRESS "
                            "(e.g. tcp://host:8786); workers need morvex and the same paths")
    p.add_argument("--dask-timeout", type=seconds, default=10.0, metavar="SECONDS",
                   help="give up reaching the --dask scheduler after SECONDS (default: 10)")
    p.add_argument("--as", dest="load_as", type=load_as_rule, action="append", default=[],
                   metavar="[SUFFIX,...=]EXT",
                   help="load files whose extension is not one of "
                        f"{', '.join(EXTENSIONS)} through read_bytes as EXT: all of them, or "
                        "only those with the SUFFIXes given (e.g. --as gss,fxye=raw); "
                        "may be repeated")
    p.add_argument("--force", action="store_true",
                   help="convert every file again and replace existing outputs, also those "
                        "the converter did not write (never a file among the inputs), or the "
                        "parts of an existing dataset")
    p.add_argument("--verbose", action="store_true",
                   help="also list the files skipped, unchanged or passed over, and why")
    p.add_argument("--version", action="version",
                   version=f"morvex-convert {morvexio.__version__}")
    return p


def require_nexus() -> None:
    try:
        import h5py  # noqa: F401  (only --to nexus needs it)
    except ImportError as error:
        raise SetupError(f"--to nexus needs h5py (the nexus extra: pip install "
                         f"'morvex[nexus]'): {error}") from None


def main(argv: list[str] | None = None) -> int:
    p = parser()
    args = p.parse_args(argv)
    if args.to == "parquet" and args.outdir is None:
        p.error("--to parquet needs -o DATASET, the folder of its parts (e.g. -o scans.parquet)")
    if args.to == "parquet" and args.meta == "json":
        p.error("--meta json: a dataset keeps the metadata in its columns")
    if args.to == "nexus" and args.meta == "json":
        p.error("--meta json: a NeXus file keeps the metadata inside it")
    started = time.monotonic()
    rules = load_as(args.load_as)
    # A file, or a batch of them for a dataset; spread gives each file's outcome of its result.
    items: list[Any]
    work: Callable[[Any], Any]
    spread: Callable[[Any, Any], list[tuple[Task, Outcome]]]
    try:
        if args.to == "nexus":
            require_nexus()
        if args.to == "parquet":
            require()
            found, kept = plan_dataset(args.paths, args.outdir, rules, args.force, args.scan)
            items, work, spread = found.tasks, convert_batch, per_file
            files = sum(len(batch.tasks) for batch in items)
            remove_strays([args.outdir])
        else:
            found = plan(args.paths, args.outdir or ".", args.to, rules, args.force, args.scan,
                         args.meta)
            items, work, spread = found.tasks, convert_one, lambda task, out: [(task, out)]
            files = len(items)
            remove_strays({os.path.dirname(task.target) or "." for task in items})
            if args.dask is not None:
                items = [Files(tuple(items[k:k + DASK_FILES]))
                         for k in range(0, len(items), DASK_FILES)]
                work, spread = convert_files, per_file
        if args.dask is not None:
            results = run_dask(items, args.dask, args.dask_timeout, work)
        elif args.jobs > 1 and len(items) > 1:
            results = run_processes(items, args.jobs, work)
        else:
            results = run_here(items, work)
        if args.to == "parquet":
            clear(args.outdir, kept)
    except SetupError as error:
        print(f"morvex-convert: {error}", file=sys.stderr)
        return 2

    counts = dict.fromkeys((CONVERTED, UNCHANGED, SKIPPED, FAILED), 0)
    bar = progress(files + len(found.done))
    landed = True
    try:
        if args.verbose:
            for path, why in found.passed:
                bar.write(f"{shown(path)}: passed over: {why}")
        for source, outcome in found.done:
            report(bar, counts, source, outcome, args.verbose)
        for item, result in results:
            landed = landed and getattr(result, "landed", False)  # a lost batch: not landed
            for task, outcome in spread(item, result):
                report(bar, counts, task.source, outcome, args.verbose)
        if args.to == "parquet" and landed:
            finish(args.outdir, args.scan)
    except KeyboardInterrupt:
        bar.close()
        print("morvex-convert: interrupted", file=sys.stderr)
        return 130
    except OSError as error:  # the marker could not be written: the dataset stays incomplete
        bar.close()
        print(f"morvex-convert: {shown(args.outdir)}: {describe(error)}", file=sys.stderr)
        return 1
    bar.close()
    print(summary(counts, found.passed, time.monotonic() - started))
    return 1 if counts[FAILED] else 0


def summary(counts: dict[str, int], passed: list[tuple[str, str]], elapsed: float) -> str:
    skipped = counts[SKIPPED]
    text = (f"{counts[CONVERTED]} converted, {counts[UNCHANGED]} unchanged, {skipped} skipped"
            f"{' (output exists; --force overwrites)' if skipped else ''}, "
            f"{counts[FAILED]} failed, of {sum(counts.values()) + len(passed)} files")
    if passed:
        reasons = Counter(why for _, why in passed)
        text += f" (passed over: {', '.join(f'{n} {why}' for why, n in reasons.items())})"
    return f"{text} in {elapsed:.1f} s"


def report(bar, counts, source, outcome, verbose: bool) -> None:
    counts[outcome.status] += 1
    if outcome.status == FAILED:
        bar.write(f"{shown(source)}: {outcome.error}")
    elif verbose and outcome.status != CONVERTED:
        bar.write(f"{shown(source)}: {outcome.status}")
    bar.update(1)
