"""One file: load it with morvexio and write each scan's x, y and e as text at full precision,
with its metadata.

Runs wherever a file is sent (this process, a pool worker, a Dask worker): it takes and returns
small picklable values and never raises for a bad file, so one file cannot stop a run.
"""

import contextlib
import os
from typing import NamedTuple

import morvexio
from morvex_convert import journal
from morvex_convert.forms import comments, nexus, render, sidecar
from morvex_convert.names import printable, shown
from morvex_convert.output import Group

CONVERTED, UNCHANGED, SKIPPED, FAILED = "converted", "unchanged", "skipped", "failed"


class Task(NamedTuple):
    source: str
    target: str  # NAME.EXT, scan 1's output; scan K's is NAME.scanK.EXT
    hint: str | None  # file name handed to read_bytes as the format hint; None: read the path
    form: str
    force: bool  # replace existing outputs; the plan has made sure they are no inputs
    scan: int | None = None  # --scan: this scan only (1-based)
    meta: str = "comments"  # or "json": a sidecar beside each output
    given: str = ""  # the source as named or walked (headers, the source column); "": source
    ours: tuple[str, ...] = ()  # the converter's earlier outputs of this file: may be replaced
    stale: tuple[str, ...] = ()  # those of its last run in this mode: removed where not rewritten

    def absolute(self) -> "Task":
        """The task as sent to another machine, which shares the paths but not the cwd."""
        return self._replace(source=os.path.abspath(self.source),
                             target=os.path.abspath(self.target), given=self.name(),
                             ours=tuple(map(os.path.abspath, self.ours)),
                             stale=tuple(map(os.path.abspath, self.stale)))

    def name(self) -> str:
        return self.given or self.source


def scan_path(path: str, number: int, count: int = 1) -> str:
    """Scan 1 keeps the name; scan K is NAME.scanK.EXT, K zero-padded to the digits of the
    file's scan count, so that the names sort in scan order."""
    stem, ext = os.path.splitext(path)
    return path if number == 1 else f"{stem}.scan{number:0{len(str(count))}d}{ext}"


class Outcome(NamedTuple):
    status: str
    error: str = ""  # "ExceptionClass: message" of a failed file


def describe(error: BaseException) -> str:
    text = str(error)
    # morvexio's format errors start with the file's name, which the report gives already.
    if isinstance(error, morvexio.FormatError) and error.filename is not None:
        for name in {error.filename, shown(error.filename), printable(error.filename)}:
            text = text.removeprefix(f"{name}: ")
    return printable(f"{type(error).__name__}: {text}" if text else type(error).__name__)


def chosen(task: Task, scans) -> list[tuple[int, object]]:
    """(number, scan) of each scan to write, scan 1 last: where its output is there, every
    output of the file is."""
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
        raise ValueError("no scan")
    return measurement


def encoded(text: str) -> bytes:
    # A value morvexio could not decode keeps its bytes' escapes rather than failing the file.
    return text.encode("utf-8", "backslashreplace")


def convert_one(task: Task) -> Outcome:
    """Writes every output of the file, or none: into a temporary folder first, recorded in the
    folder's journal, then renamed into place with task.target last. The converter's earlier
    outputs of the file are replaced, and those of its last run it no longer writes removed."""
    try:
        if not task.force and task.target not in task.ours and os.path.lexists(task.target):
            # A retry of a file whose first try landed before its worker died: the journal
            # says so now, though it did not when the plan was made.
            fresh = journal.Journal(os.path.dirname(task.target))
            task = task._replace(ours=(*task.ours,
                                       *fresh.own_files(os.path.basename(task.target))))
        if not task.force and task.scan in (None, 1) and task.target not in task.ours \
                and os.path.lexists(task.target):
            return Outcome(SKIPPED)  # another run's since the plan, or not the converter's
        source = journal.regular(task.source)  # before the read: a later change shows
        measurement = load(task)
        with Group(task.target) as group:
            count = len(measurement.scans)
            if task.form == "nexus":  # one file of every scan chosen, its metadata inside
                scans = [scan for _, scan in sorted(chosen(task, measurement.scans),
                                                    key=lambda pair: pair[0])]
                put_bytes(task, group, task.target, nexus(measurement, scans))
            for number, scan in chosen(task, measurement.scans) if task.form != "nexus" else ():
                path = scan_path(task.target, number, count)
                if task.meta == "json":
                    put(task, group, os.path.splitext(path)[0] + ".json",
                        sidecar(measurement, scan, number, task.name(), task.form))
                    meta = ""
                else:
                    meta = comments(measurement, scan, number, task.name(), task.form)
                put(task, group, path, render(measurement, scan, number, task.form,
                                              task.name(), meta))
            written = group.outputs()
            if not written:
                return Outcome(SKIPPED)
            journal.append(group.folder, record(task, source, written))
            group.land()
        landed = {path for path, _ in written}
        for path in task.stale:
            if path not in landed:
                with contextlib.suppress(FileNotFoundError):
                    os.unlink(path)
    except Exception as error:  # every failure is the file's, reported and passed over
        return Outcome(FAILED, describe(error))
    return Outcome(CONVERTED)


def put(task: Task, group: Group, path: str, text: str) -> None:
    put_bytes(task, group, path, encoded(text))


def put_bytes(task: Task, group: Group, path: str, data: bytes) -> None:
    if task.force or path in task.ours or not os.path.lexists(path):
        group.put(path, data)


def record(task: Task, source: os.stat_result, written) -> dict:
    return {"base": os.path.basename(task.target),
            "sources": [journal.source_stamp(task.source, source)], "scan": task.scan,
            "meta": task.meta, "outputs": [[os.path.basename(path), *journal.stamp(st)]
                                           for path, st in written]}


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
    return list(zip(batch.tasks, getattr(result, "outcomes", result)))
