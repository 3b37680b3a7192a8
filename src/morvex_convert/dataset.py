"""--to parquet: the whole tree as one Parquet dataset, a folder of part files, one row a scan.

Every part has the one schema below, whatever its files hold, so pyarrow, pandas, Dask and
DuckDB read the folder as one table without reconciling schemas. The plan cuts the files into
batches in walk order; each batch is one task that writes one part, whichever runner takes
it, so a run in one process, in N or on a cluster writes the same parts. A part is written
through output.whole_file (a hidden locked temporary file, renamed when complete), in row
groups as its files are read, so memory stays bounded whatever the size of the tree.

The folder's journal records each part with its files' sizes and modification times, and the
marker _SUCCESS is written last, once every part has landed: readers are told to check it. A
run killed before has left a dataset without it, which a rerun finishes, keeping the parts
still current.
"""

import contextlib
import functools
import json
import math
import os
from typing import NamedTuple

import morvexio
from morvex_convert import journal
from morvex_convert.convert import (CONVERTED, FAILED, UNCHANGED, Outcome, Task, chosen,
                                    describe, load)
from morvex_convert.forms import plain
from morvex_convert.identity import entry_key, file_key, folder_key
from morvex_convert.names import shown, text_of
from morvex_convert.output import is_temporary, whole_file, write_whole
from morvex_convert.plan import LoadAs, Plan, candidates
from morvex_convert.run import SetupError

# morvexio's declared keys (morvexio.keys(), docs/metadata.md) by the column type that holds
# them, in their declared order. A scan's own value of a key stated at both levels is the one
# that holds for that scan, so it wins.
KEYS = morvexio.keys()
STRINGS = tuple(key.name for key in KEYS if key.type == "str")
NUMBERS = tuple(key.name for key in KEYS if key.type == "float")
ARRAYS = tuple(key.name for key in KEYS if key.type == "array")
# Tables as JSON text: their keys are each file's own spelling, too many and too varied for
# columns. A table of both levels is two columns, the measurement's and the scan's (scan_header).
SPLIT = tuple(key.name for key in KEYS if key.type == "dict" and key.level == "both")
TABLES = tuple(column for key in KEYS if key.type == "dict"
               for column in ((key.name, f"scan_{key.name}") if key.name in SPLIT else (key.name,)))
# Keys outside the declaration (or a value of another type) as one JSON object: a key a reader
# sets undeclared is kept, not dropped.
OTHER = "other"

# A row group is written once this many scans or points wait, bounding a writer's memory.
GROUP_SCANS = 256
GROUP_POINTS = 1 << 20
# Files per part: the tree cut into about PARTS parts, none smaller or larger than these.
PARTS = 16
PART_FILES = (8, 256)
PART_NAME = "part-{:05d}.parquet"
# Written last: the dataset is complete. A leading "_" keeps it out of pyarrow's and pandas'
# reading of the folder, and the usual *.parquet pattern leaves it out anyway.
MARKER = "_SUCCESS"


def require() -> None:
    try:
        import pyarrow.parquet  # noqa: F401  (only --to parquet needs it)
    except ImportError as error:
        raise SetupError(f"--to parquet needs pyarrow (the parquet extra: pip install "
                         f"'morvex[parquet]'): {error}") from None


def schema():
    import pyarrow as pa

    floats = pa.list_(pa.float64())
    return pa.schema([("source", pa.string()), ("format", pa.string()), ("scan", pa.int64()),
                      *((key, pa.string()) for key in STRINGS),
                      *((key, pa.float64()) for key in NUMBERS),
                      *((key, floats) for key in ARRAYS),
                      *((key, pa.string()) for key in (*TABLES, OTHER)),
                      ("x", floats), ("y", floats), ("e", floats)])


class Batch(NamedTuple):
    part: str  # the part file it writes
    tasks: tuple[Task, ...]
    names: tuple[str, ...] | None = None  # the sources as given, where tasks hold other paths

    def absolute(self) -> "Batch":
        """Sent to a cluster as absolute paths; the source column keeps the paths as given."""
        return Batch(os.path.abspath(self.part), tuple(task.absolute() for task in self.tasks),
                     tuple(task.source for task in self.tasks))


def fits(key: str, value) -> bool:
    if key in STRINGS:
        return isinstance(value, str)
    if key in NUMBERS:
        return isinstance(value, (int, float)) and not isinstance(value, bool)
    if key in ARRAYS:
        return getattr(value, "ndim", None) == 1
    return key in TABLES and isinstance(value, dict)


def row(source: str, measurement, number: int, scan) -> dict:
    meta = {**measurement.meta, **scan.meta}
    for key in SPLIT:
        meta[key] = measurement.meta.get(key)
        meta[f"scan_{key}"] = scan.meta.get(key)
    values = {"source": source, "format": measurement.format, "scan": number,
              "x": scan.x, "y": scan.y, "e": scan.e}
    other = {}
    for key, value in meta.items():
        if value is None:
            continue
        if not fits(key, value):
            other[key] = plain(value)
        elif key in TABLES:
            values[key] = json.dumps(plain(value), ensure_ascii=False)
        else:
            values[key] = float(value) if key in NUMBERS else value
    values[OTHER] = json.dumps(other, ensure_ascii=False) if other else None
    return values


def lists(arrays):
    """list<float64> of 1-D arrays (None: null), their values copied once into one buffer."""
    import numpy as np
    import pyarrow as pa

    lengths = [0 if a is None else len(a) for a in arrays]
    offsets = np.zeros(len(arrays) + 1, np.int32)  # a group holds far fewer than 2**31 points
    np.cumsum(lengths, out=offsets[1:])
    present = [np.asarray(a, np.float64) for a in arrays if a is not None]
    values = np.concatenate(present) if present else np.empty(0, np.float64)
    nulls = [a is None for a in arrays]
    mask = pa.array(nulls) if any(nulls) else None
    return pa.ListArray.from_arrays(pa.array(offsets), pa.array(values), mask=mask)


class Writer:
    """Rows gathered into row groups of one part file. A file whose rows the schema cannot
    take fails alone: its group is built again without it."""

    def __init__(self, f):
        import pyarrow.parquet as pq

        self.schema = schema()
        self.writer = pq.ParquetWriter(f, self.schema)
        self.pending: list[tuple[int, list[dict]]] = []  # (file's index, its rows)
        self.scans = self.points = 0
        self.failed: dict[int, Outcome] = {}

    def add(self, index: int, rows: list[dict]) -> None:
        self.pending.append((index, rows))
        self.scans += len(rows)
        self.points += sum(len(r["x"]) for r in rows)
        if self.scans >= GROUP_SCANS or self.points >= GROUP_POINTS:
            self.flush()

    def table(self, rows: list[dict]):
        import pyarrow as pa

        columns = []
        for field in self.schema:
            values = [r.get(field.name) for r in rows]
            columns.append(lists(values) if pa.types.is_list(field.type)
                           else pa.array(values, field.type))
        return pa.Table.from_arrays(columns, schema=self.schema)

    def flush(self) -> None:
        rows = [r for _, some in self.pending for r in some]
        if rows:
            try:
                table = self.table(rows)
            except Exception:  # a value of one file: find it, keep the others
                rows = []
                for index, some in self.pending:
                    try:
                        self.table(some)
                    except Exception as error:
                        self.failed[index] = Outcome(FAILED, describe(error))
                    else:
                        rows += some
                table = self.table(rows)
            if rows:
                self.writer.write_table(table)
        self.pending, self.scans, self.points = [], 0, 0

    def close(self) -> None:
        try:
            self.flush()
        finally:
            self.writer.close()  # also after a failure: no half-made writer left to collect


def rows_of(task: Task, name: str) -> list[dict]:
    measurement = load(task)
    return [row(text_of(name), measurement, number, scan)
            for number, scan in sorted(chosen(task, measurement.scans), key=lambda s: s[0])]


class Landed(NamedTuple):
    """A part's outcome: each file's, and whether the part landed."""
    outcomes: tuple[Outcome, ...]
    landed: bool


def convert_batch(batch: Batch) -> Landed:
    """Writes the batch's part, recorded in the dataset's journal; one outcome per file. A part
    that cannot be written fails every file that had not failed by itself."""
    outcomes: list[Outcome | None] = [None] * len(batch.tasks)
    record: dict = {}
    folder = os.path.dirname(batch.part)
    try:
        with whole_file(batch.part, lambda st: journal.append(folder, {
                **record, "outputs": [[os.path.basename(batch.part), *journal.stamp(st)]]})) as f:
            writer = Writer(f)
            try:
                names = batch.names or tuple(t.source for t in batch.tasks)
                sources = [add(writer, index, task, name, outcomes)
                           for index, (task, name) in enumerate(zip(batch.tasks, names))]
            finally:
                writer.close()
            final = [writer.failed.get(k, o or Outcome(CONVERTED)) for k, o in enumerate(outcomes)]
            record.update(base=os.path.basename(batch.part), sources=sources,
                          scan=batch.tasks[0].scan, meta="parquet",
                          failed=sum(o.status == FAILED for o in final))
    except Exception as error:
        failed = Outcome(FAILED, describe(error))
        return Landed(tuple(failed if o is None or o.status != FAILED else o
                            for o in outcomes), False)
    return Landed(tuple(final), True)


def add(writer: Writer, index: int, task: Task, name: str, outcomes: list) -> list:
    """Adds a file's rows; its stamp for the journal (taken before the read, so a later change
    shows)."""
    try:
        st = journal.regular(task.source)
        rows = rows_of(task, name)
    except Exception as error:  # the file's own failure, reported and passed over
        outcomes[index] = Outcome(FAILED, describe(error))
        return [os.path.abspath(task.source), None, None]
    writer.add(index, rows)  # a failure to write is the part's
    return journal.source_stamp(task.source, st)


def parts(dataset: str) -> list[str]:
    try:
        names = os.listdir(dataset)
    except (FileNotFoundError, NotADirectoryError):
        return []
    return [os.path.join(dataset, n) for n in names if n.startswith("part-")
            and n.endswith(".parquet")]


def holds_input(dataset: str, sources: list[str]) -> str | None:
    """An input that is the dataset's path or lies below it (by identity, links followed)."""
    own = file_key(dataset)
    if own is None:
        return None

    @functools.cache
    def below(folder: str) -> bool:
        parent = os.path.dirname(folder)
        return file_key(folder) == own or (parent != folder and below(parent))

    return next((source for source in sources if file_key(source) == own
                 or below(os.path.dirname(os.path.realpath(source)))), None)


def plan_dataset(paths: list[str], dataset: str, rules: LoadAs, force: bool,
                 scan: int | None) -> tuple[Plan, set[str]]:
    """The batches to run, and the names of the parts that stay. Refuses a dataset that is or
    holds an input, and an existing one unless forced or left incomplete by a killed run, whose
    current parts stay."""
    folder_key.cache_clear()
    journal.journal.cache_clear()
    passed: list[tuple[str, str]] = []
    done: list[tuple[str, Outcome]] = []
    found: dict[tuple, tuple[str, str | None]] = {}
    for source, _, hint in candidates(paths, dataset, rules, passed, done):
        found.setdefault(file_key(source) or entry_key(source), (source, hint))
    tasks = [Task(source, "", hint, "parquet", force, scan, given=source)
             for source, hint in found.values()]
    inside = holds_input(dataset, [task.source for task in tasks])
    if inside is not None:
        raise SetupError(f"-o {shown(dataset)}: the dataset would replace or hold the input "
                         f"{shown(inside)}")
    own = journal.Journal(dataset)
    if os.path.isdir(dataset):
        existing = parts(dataset) or [n for n in os.listdir(dataset) if not is_temporary(n)]
    else:
        existing = [dataset] if os.path.lexists(dataset) else []
    complete = own.ours(MARKER, journal.lstat(os.path.join(dataset, MARKER)))
    if existing and not force and (complete or not own.records):
        raise SetupError(f"{shown(dataset)} exists; --force replaces it")
    size = min(max(math.ceil(len(tasks) / PARTS), PART_FILES[0]), PART_FILES[1])
    batches = [Batch(os.path.join(dataset, PART_NAME.format(k // size)), tuple(tasks[k:k + size]))
               for k in range(0, len(tasks), size)]
    todo, kept = [], set()
    for batch in batches:
        if not force and current(own, batch, scan):
            done += [(task.source, Outcome(UNCHANGED)) for task in batch.tasks]
            kept.add(os.path.basename(batch.part))
        else:
            todo.append(batch)
    return Plan(todo, done, passed), kept


def current(own: journal.Journal, batch: Batch, scan: int | None) -> bool:
    """Whether the batch's part is there as a run before wrote it, from its files as they are
    now, none of which failed."""
    try:
        sources = [journal.source_stamp(task.source, journal.regular(task.source))
                   for task in batch.tasks]
    except OSError:
        return False
    last = own.latest(os.path.basename(batch.part), scan, "parquet")
    return last is not None and not last.get("failed") and own.current(last, sources)


def clear(dataset: str, kept: set[str]) -> None:
    """Makes way for the run's parts, once it has started (a run that cannot start leaves the
    dataset as it was): the marker first, so that the dataset shows incomplete until the run
    ends; then every part but those kept (or the file in the dataset's place)."""
    try:
        if os.path.isdir(dataset):
            with contextlib.suppress(FileNotFoundError):
                os.unlink(os.path.join(dataset, MARKER))
            for path in parts(dataset):
                if os.path.basename(path) not in kept:
                    os.unlink(path)
        elif os.path.lexists(dataset):
            os.unlink(dataset)
    except OSError as error:
        raise SetupError(f"{shown(dataset)}: {describe(error)}") from None


def finish(dataset: str, scan: int | None) -> None:
    """The marker, once every part has landed."""
    def landing(st):
        journal.append(dataset, {"base": MARKER, "sources": [], "scan": scan, "meta": "parquet",
                                 "outputs": [[MARKER, *journal.stamp(st)]]})
    write_whole(os.path.join(dataset, MARKER), b"", landing)
