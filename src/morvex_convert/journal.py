"""What the converter wrote, so that a rerun knows its own outputs and whether they are stale.

Each folder it writes into keeps a hidden journal, `.morvex-outputs`: one JSON line a converted
file (or Parquet part), appended under an flock before its outputs are renamed into place:

  {"base": "a.xye", "sources": [[path, size, mtime_ns]], "scan": null, "meta": "comments",
   "outputs": [["a.xye", inode, size, mtime_ns], ...]}

A file is an output of the converter while its inode, size and modification time are those
recorded (a rename keeps them; an edit or a replacement does not). An output is up to date while
its sources' size and modification time are still those recorded. A record whose outputs did
not land (a killed run) matches no file, so it never makes a file look like ours.
"""

import contextlib
import fcntl
import functools
import json
import os
import stat

NAME = ".morvex-outputs"


def stamp(st: os.stat_result) -> tuple[int, int, int]:
    return st.st_ino, st.st_size, st.st_mtime_ns


def regular(path: str) -> os.stat_result:
    """The stat of the regular file path leads to; OSError for anything else (a FIFO, which
    would block a read forever, or a device, which would never end)."""
    st = os.stat(path)
    if not stat.S_ISREG(st.st_mode):
        raise OSError(f"not a regular file ({kind(st.st_mode)})")
    return st


def kind(mode: int) -> str:
    for test, name in ((stat.S_ISDIR, "a folder"), (stat.S_ISFIFO, "a FIFO"),
                       (stat.S_ISCHR, "a character device"), (stat.S_ISBLK, "a block device"),
                       (stat.S_ISSOCK, "a socket")):
        if test(mode):
            return name
    return "not a file"


def source_stamp(path: str, st: os.stat_result) -> list:
    return [os.path.abspath(path), st.st_size, st.st_mtime_ns]


def append(folder: str, record: dict) -> None:
    """Adds one line, whole, however many processes append at once; on disk before the outputs
    it names are renamed into place."""
    line = (json.dumps(record, separators=(",", ":")) + "\n").encode("ascii")
    fd = os.open(os.path.join(folder, NAME), os.O_WRONLY | os.O_APPEND | os.O_CREAT | os.O_CLOEXEC,
                 0o666)
    try:
        with contextlib.suppress(OSError):  # no locks here: O_APPEND alone keeps lines whole
            fcntl.flock(fd, fcntl.LOCK_EX)
        os.write(fd, line)
        os.fsync(fd)
    finally:
        os.close(fd)


class Journal:
    """The records of one folder ("" for the current one, whose outputs are then named without
    a folder, as the plan names them)."""

    def __init__(self, folder: str):
        self.folder = folder
        self.records: list[dict] = []
        self.owned: dict[str, set[tuple]] = {}
        try:
            with open(os.path.join(folder or ".", NAME), "rb") as f:
                lines = f.read().splitlines()
        except OSError:
            return  # none yet, or unreadable: nothing here is known to be ours
        for line in lines:
            try:
                record = json.loads(line)
                outputs = [(name, tuple(rest)) for name, *rest in record["outputs"]]
            except (ValueError, TypeError, KeyError):
                continue  # a line cut by a full disk
            self.records.append(record)
            for name, recorded in outputs:
                self.owned.setdefault(name, set()).add(recorded)

    def ours(self, name: str, st: os.stat_result | None) -> bool:
        return st is not None and stamp(st) in self.owned.get(name, ())

    def latest(self, base: str, scan, meta: str) -> dict | None:
        return next((r for r in reversed(self.records) if r.get("base") == base
                     and r.get("scan") == scan and r.get("meta") == meta), None)

    def current(self, record: dict | None, sources: list) -> bool:
        """Whether the record's outputs are all there as written, from these sources as they
        are now."""
        if record is None or record.get("sources") != sources:
            return False
        return all(stamp_of(os.path.join(self.folder, name)) == tuple(rest)
                   for name, *rest in record["outputs"])

    def own_files(self, base: str) -> list[str]:
        """Every file still in the folder that a record of base says the converter wrote."""
        names = {name for r in self.records if r.get("base") == base
                 for name, *_ in r["outputs"]}
        return self.still_ours(sorted(names))

    def files_of(self, record: dict | None) -> list[str]:
        """The outputs of a record that are still the converter's."""
        return self.still_ours([] if record is None else [name for name, *_ in record["outputs"]])

    def still_ours(self, names) -> list[str]:
        return [os.path.join(self.folder, name) for name in names
                if self.ours(name, lstat(os.path.join(self.folder, name)))]


def lstat(path: str) -> os.stat_result | None:
    try:
        return os.lstat(path)
    except (OSError, ValueError):
        return None


def stamp_of(path: str) -> tuple | None:
    st = lstat(path)
    return None if st is None else stamp(st)


@functools.lru_cache(maxsize=256)
def journal(folder: str) -> Journal:
    """The journal of a folder as a plan finds it (cleared before each plan)."""
    return Journal(folder)
