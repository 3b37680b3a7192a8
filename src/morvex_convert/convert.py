"""One file: load it with morvex and write x, y and e as text at full precision.

Runs wherever a file is sent (this process, a pool worker, a Dask worker): it takes and returns
small picklable values and never raises for a bad file, so one file cannot stop a run.
"""

import os
from typing import NamedTuple

import morvex
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
    return f"{type(error).__name__}: {text}" if text else type(error).__name__


def format_pattern(pattern: morvex.Pattern, form: str) -> str:
    """One line per point; repr gives the shortest text that reads back as the same double."""
    x, y, e = pattern.x, pattern.y, pattern.e
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
            pattern = morvex.read(task.source)
        else:
            with open(task.source, "rb") as f:
                pattern = morvex.read_bytes(f.read(), task.hint)
        write_whole(task.target, format_pattern(pattern, task.form).encode("ascii"))
    except Exception as error:  # every failure is the file's, reported and passed over
        return Outcome(FAILED, describe(error))
    return Outcome(CONVERTED)
