"""One file: load it with morvexio and write x, y and e as text at full precision.

Runs wherever a file is sent (this process, a pool worker, a Dask worker): it takes and returns
small picklable values and never raises for a bad file, so one file cannot stop a run.
"""

import os
from typing import NamedTuple

import morvexio
from morvex_convert.output import write_whole

FORMS = ("xye", "csv")
CONVERTED, SKIPPED, FAILED = "converted", "skipped", "failed"


class Task(NamedTuple):
    source: str
    target: str
    hint: str | None  # file name handed to read_bytes as the format hint; None: read the path
    form: str
    force: bool  # replace an existing target; the plan has made sure it is no input


class Outcome(NamedTuple):
    status: str
    error: str = ""  # "ExceptionClass: message" of a failed file


def describe(error: BaseException) -> str:
    text = str(error)
    # morvexio's format errors start with the file's name, which the report gives already.
    if isinstance(error, morvexio.FormatError) and text.startswith(f"{error.filename}: "):
        text = text[len(f"{error.filename}: "):]
    return f"{type(error).__name__}: {text}" if text else type(error).__name__


def format_scan(scan: morvexio.Scan, form: str) -> str:
    """One line per point; repr gives the shortest text that reads back as the same double."""
    x, y = scan.x.tolist(), scan.y.tolist()
    e = None if scan.e is None else scan.e.tolist()
    sep = " " if form == "xye" else ","
    columns = ["x", "y"] if e is None else ["x", "y", "e"]
    if e is None:
        rows = [f"{a!r}{sep}{b!r}\n" for a, b in zip(x, y)]
    else:
        rows = [f"{a!r}{sep}{b!r}{sep}{c!r}\n" for a, b, c in zip(x, y, e)]
    # A header row is the csv convention (and morvex skips it); xye stays bare columns, which
    # every refinement program reads.
    header = ",".join(columns) + "\n" if form == "csv" else ""
    return header + "".join(rows)


def convert_one(task: Task) -> Outcome:
    try:
        if not task.force and os.path.lexists(task.target):
            return Outcome(SKIPPED)
        if task.hint is None:
            measurement = morvexio.read(task.source)
        else:
            with open(task.source, "rb") as f:
                measurement = morvexio.read_bytes(f.read(), task.hint)
        if not measurement.scans:
            raise ValueError(f"{task.source}: no scan")
        write_whole(task.target, format_scan(measurement.scans[0], task.form).encode("ascii"))
    except Exception as error:  # every failure is the file's, reported and passed over
        return Outcome(FAILED, describe(error))
    return Outcome(CONVERTED)
