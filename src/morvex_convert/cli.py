"""The morvex-convert command line."""

import argparse
import os
import sys
import time
from collections.abc import Callable
from typing import Any

from morvex_convert.convert import (CONVERTED, FAILED, SKIPPED, Files, Outcome, Task,
                                    convert_files, convert_one, per_file)
from morvex_convert.dataset import clear, convert_batch, plan_dataset, require
from morvex_convert.forms import FORMS, META
from morvex_convert.output import remove_strays
from morvex_convert.plan import EXTENSIONS, load_as, parse_load_as, plan
from morvex_convert.progress import progress
from morvex_convert.run import SetupError, run_dask, run_here, run_processes

# Files a --dask task converts in the text forms.
DASK_FILES = 32

DESCRIPTION = """\
Converts diffraction files, and every file of a supported format below the directories named,
to xye, csv or GSAS FXYE (x, y and e when the file has it, at full precision), each scan with
its metadata, or all of them into one Parquet dataset. A directory's files keep their layout
under OUTDIR; scan K of a file with several goes to NAME.scanK.EXT. --to parquet writes the
folder -o DATASET of part files, one row per scan: source, format, scan, a column per metadata
key, x, y and e. Every failed file is reported with its path, exception class and
message, and the run goes on. No input is ever replaced, --force or not, and an output appears
whole or not at all. Exit status: 0 done, 1 some file failed, 2 a wrong command line or a run
that could not start (no distributed, no scheduler at ADDRESS, no pyarrow, an existing dataset
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
    p.add_argument("--to", choices=(*FORMS, "parquet"), default="xye",
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
                   help="replace existing outputs (never a file among the inputs), or the "
                        "parts of an existing dataset")
    return p


def main(argv: list[str] | None = None) -> int:
    p = parser()
    args = p.parse_args(argv)
    if args.to == "parquet" and args.outdir is None:
        p.error("--to parquet needs -o DATASET, the folder of its parts (e.g. -o scans.parquet)")
    if args.to == "parquet" and args.meta == "json":
        p.error("--meta json: a dataset keeps the metadata in its columns")
    started = time.monotonic()
    rules = load_as(args.load_as)
    # A file, or a batch of them for a dataset; spread gives each file's outcome of its result.
    items: list[Any]
    work: Callable[[Any], Any]
    spread: Callable[[Any, Any], list[tuple[Task, Outcome]]]
    try:
        if args.to == "parquet":
            require()
            items = plan_dataset(args.paths, args.outdir, rules, args.force, args.scan)
            refused, work, spread = [], convert_batch, per_file
            files = sum(len(batch.tasks) for batch in items)
            remove_strays([args.outdir])
        else:
            items, refused = plan(args.paths, args.outdir or ".", args.to, rules, args.force,
                                  args.scan, args.meta)
            work, spread = convert_one, lambda task, outcome: [(task, outcome)]
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
            clear(args.outdir)
    except SetupError as error:
        print(f"morvex-convert: {error}", file=sys.stderr)
        return 2

    counts = dict.fromkeys((CONVERTED, SKIPPED, FAILED), 0)
    bar = progress(files + len(refused))
    try:
        for source, outcome in refused:
            report(bar, counts, source, outcome)
        for item, result in results:
            for task, outcome in spread(item, result):
                report(bar, counts, task.source, outcome)
    except KeyboardInterrupt:
        bar.close()
        print("morvex-convert: interrupted", file=sys.stderr)
        return 130
    bar.close()
    total = sum(counts.values())
    skipped = counts[SKIPPED]
    print(f"{counts[CONVERTED]} converted, {skipped} skipped"
          f"{' (output exists; --force overwrites)' if skipped else ''}, "
          f"{counts[FAILED]} failed, of {total} files in {time.monotonic() - started:.1f} s")
    return 1 if counts[FAILED] else 0


def report(bar, counts, source, outcome) -> None:
    counts[outcome.status] += 1
    if outcome.status == FAILED:
        bar.write(f"{source}: {outcome.error}")
    bar.update(1)
