"""One file: load it with morvexio and write each scan's x, y and e as text at full precision,
with its metadata.

Runs wherever a file is sent (this process, a pool worker, a Dask worker): it takes and returns
small picklable values and never raises for a bad file, so one file cannot stop a run.
"""

import os
from typing import NamedTuple

import morvexio
from morvex_convert.forms import comments, render, sidecar
from morvex_convert.output import write_whole

CONVERTED, SKIPPED, FAILED = "converted", "skipped", "failed"


class Task(NamedTuple):
    source: str
    target: str
    hint: str | None  # file name handed to read_bytes as the format hint; None: read the path
    form: str
    force: bool  # replace existing outputs; the plan has made sure they are no inputs
    scan: int | None = None  # --scan: this scan only (1-based), written to target
    meta: str = "comments"  # or "json": a sidecar beside each output

    def absolute(self) -> "Task":
        """The task as sent to another machine, which shares the paths but not the cwd."""
        return self._replace(source=os.path.abspath(self.source),
                             target=os.path.abspath(self.target))


def scan_path(path: str, number: int) -> str:
    """Scan 1 keeps the name; scan K is NAME.scanK.EXT."""
    stem, ext = os.path.splitext(path)
    return path if number == 1 else f"{stem}.scan{number}{ext}"


class Outcome(NamedTuple):
    status: str
    error: str = ""  # "ExceptionClass: message" of a failed file


def describe(error: BaseException) -> str:
    text = str(error)
    # morvexio's format errors start with the file's name, which the report gives already.
    if isinstance(error, morvexio.FormatError) and text.startswith(f"{error.filename}: "):
        text = text[len(f"{error.filename}: "):]
    return f"{type(error).__name__}: {text}" if text else type(error).__name__


def chosen(task: Task, scans) -> list[tuple[int, object]]:
    """(number, scan) of each scan to write, the one whose output is task.target last."""
    if task.scan is None:
        return [*enumerate(scans, 1)][1:] + [(1, scans[0])]
    if task.scan > len(scans):
        raise ValueError(f"--scan {task.scan}: the file has {len(scans)} "
                         f"scan{'s' if len(scans) > 1 else ''}")
    return [(task.scan, scans[task.scan - 1])]


def load(task: Task):
    if task.hint is None:
        measurement = morvexio.read(task.source)
    else:
        with open(task.source, "rb") as f:
            measurement = morvexio.read_bytes(f.read(), task.hint)
    if not measurement.scans:
        raise ValueError(f"{task.source}: no scan")
    return measurement


def write(task: Task, path: str, text: str) -> None:
    if task.force or not os.path.lexists(path):
        write_whole(path, text.encode("utf-8"))


def convert_one(task: Task) -> Outcome:
    """task.target is written last: where it exists, every output of the file does, so a rerun
    skips the file unread; one killed halfway writes the rest, existing ones kept."""
    try:
        if not task.force and os.path.lexists(task.target):
            return Outcome(SKIPPED)
        measurement = load(task)
        base = task.target if task.scan is None else None
        for number, scan in chosen(task, measurement.scans):
            path = task.target if base is None else scan_path(base, number)
            if task.meta == "json":
                write(task, os.path.splitext(path)[0] + ".json",
                      sidecar(measurement, scan, number))
                meta = ""
            else:
                meta = comments(measurement, scan)
            write(task, path, render(measurement, scan, number, task.form, task.source, meta))
    except Exception as error:  # every failure is the file's, reported and passed over
        return Outcome(FAILED, describe(error))
    return Outcome(CONVERTED)


class Files(NamedTuple):
    """Files that go to a Dask worker as one task: the scheduler's cost per task, more than a
    small file takes to convert, is paid once for all of them."""
    tasks: tuple[Task, ...]

    def absolute(self) -> "Files":
        return Files(tuple(task.absolute() for task in self.tasks))


def convert_files(files: Files) -> list[Outcome]:
    return [convert_one(task) for task in files.tasks]


def per_file(batch, result) -> list[tuple[Task, Outcome]]:
    """(task, outcome) of each file of a batch (Files, or a dataset's part); a batch whose
    worker failed fails each of its files."""
    if isinstance(result, Outcome):
        return [(task, result) for task in batch.tasks]
    return list(zip(batch.tasks, result))
