"""--to parquet: the whole tree as one Parquet dataset, a folder of part files, one row a scan.

Every part has the one schema below, whatever its files hold, so pyarrow, pandas, Dask and
DuckDB read the folder as one table without reconciling schemas. The plan cuts the files into
batches in walk order; each batch is one task that writes one part, whichever runner takes
it, so a run in one process, in N or on a cluster writes the same parts. A part is written
through output.whole_file (a hidden locked temporary file, renamed when complete), in row
groups as its files are read, so memory stays bounded whatever the size of the tree.
"""

import functools
import json
import math
import os
from typing import NamedTuple

import morvexio
from morvex_convert.convert import CONVERTED, FAILED, Outcome, Task, chosen, describe, load
from morvex_convert.forms import plain
from morvex_convert.identity import entry_key, file_key
from morvex_convert.output import is_temporary, whole_file
from morvex_convert.plan import LoadAs, candidates
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
    """Rows gathered into row groups of one part file."""

    def __init__(self, f):
        import pyarrow.parquet as pq

        self.schema = schema()
        self.writer = pq.ParquetWriter(f, self.schema)
        self.rows: list[dict] = []
        self.points = 0

    def add(self, rows: list[dict]) -> None:
        self.rows += rows
        self.points += sum(len(r["x"]) for r in rows)
        if len(self.rows) >= GROUP_SCANS or self.points >= GROUP_POINTS:
            self.flush()

    def flush(self) -> None:
        import pyarrow as pa

        if not self.rows:
            return
        columns = []
        for field in self.schema:
            values = [r.get(field.name) for r in self.rows]
            columns.append(lists(values) if pa.types.is_list(field.type)
                           else pa.array(values, field.type))
        self.writer.write_table(pa.Table.from_arrays(columns, schema=self.schema))
        self.rows, self.points = [], 0

    def close(self) -> None:
        self.flush()
        self.writer.close()


def rows_of(task: Task, name: str) -> list[dict]:
    measurement = load(task)
    return [row(name, measurement, number, scan)
            for number, scan in sorted(chosen(task, measurement.scans), key=lambda s: s[0])]


def convert_batch(batch: Batch) -> list[Outcome]:
    """Writes the batch's part; one outcome per file. A part that cannot be written fails every
    file that had not failed by itself."""
    outcomes: list[Outcome] = []
    try:
        with whole_file(batch.part) as f:
            writer = Writer(f)
            for task, name in zip(batch.tasks, batch.names or (t.source for t in batch.tasks)):
                try:
                    writer.add(rows_of(task, name))
                except Exception as error:  # the file's own failure, reported and passed over
                    outcomes.append(Outcome(FAILED, describe(error)))
                else:
                    outcomes.append(Outcome(CONVERTED))
            writer.close()
    except Exception as error:
        failed = Outcome(FAILED, describe(error))
        return [o if o.status == FAILED else failed for o in outcomes] + \
            [failed] * (len(batch.tasks) - len(outcomes))
    return outcomes


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
                 scan: int | None) -> list[Batch]:
    """The batches to run. Refuses a dataset that is or holds an input, and an existing one
    unless forced."""
    found: dict[tuple, tuple[str, str | None]] = {}
    for source, _, hint in candidates(paths, dataset, rules):
        found.setdefault(file_key(source) or entry_key(source), (source, hint))
    tasks = [Task(source, "", hint, "parquet", force, scan) for source, hint in found.values()]
    inside = holds_input(dataset, [task.source for task in tasks])
    if inside is not None:
        raise SetupError(f"-o {dataset}: the dataset would replace or hold the input {inside}")
    if os.path.isdir(dataset):
        existing = parts(dataset) or [n for n in os.listdir(dataset) if not is_temporary(n)]
    else:
        existing = [dataset] if os.path.lexists(dataset) else []
    if existing and not force:
        raise SetupError(f"{dataset} exists; --force replaces it")
    size = min(max(math.ceil(len(tasks) / PARTS), PART_FILES[0]), PART_FILES[1])
    return [Batch(os.path.join(dataset, PART_NAME.format(k // size)), tuple(tasks[k:k + size]))
            for k in range(0, len(tasks), size)]


def clear(dataset: str) -> None:
    """Removes the parts of the dataset --force replaces (or the file in its place), once the
    run has started: a run that cannot start leaves the old dataset."""
    try:
        if os.path.isdir(dataset):
            for path in parts(dataset):
                os.unlink(path)
        elif os.path.lexists(dataset):
            os.unlink(dataset)
    except OSError as error:
        raise SetupError(f"--force: {describe(error)}") from None
