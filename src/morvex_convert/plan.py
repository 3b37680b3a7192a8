"""Which files a run converts, how each is loaded, and where its output goes.

A directory is walked in sorted order and its files keep their place below it under the output
folder; a file named on the command line goes straight into the output folder. The output
takes the input's name with the target form's extension, or, where inputs bound for one folder
share a name but for the extension (PBSO4.XRA and PBSO4.CWN), the input's whole name and the
form's extension (PBSO4.XRA.xye, PBSO4.CWN.xye); scan K of a file with several is
NAME.scanK.EXT, and a JSON sidecar NAME.json or NAME.scanK.json.

How many scans a file holds is known only once it is read, and the plan is made before any file
is. So a file claims the whole family NAME.scanK.EXT (every K from 2) beside NAME.EXT: a family
that holds an input, or meets another file's output or family, refuses the file as a clash of
names does.

A walk takes only regular files with a format's extension that the converter did not write
(its journal says which it did); every other file is counted, with the reason, as passed over.
"""

import os
import re
import stat
from collections import Counter
from typing import NamedTuple

import morvexio

from morvex_convert import journal
from morvex_convert.convert import FAILED, SKIPPED, UNCHANGED, Outcome, Task, describe
from morvex_convert.forms import EXTENSION
from morvex_convert.identity import Key, entry_key, file_key, folder_key
from morvex_convert.names import shown
from morvex_convert.output import is_temporary

# Why a file met in a walk is passed over, as the summary counts them.
OTHER = "by extension"
OWN = "the converter's own"  # an output, the journal, a temporary file or folder
IRREGULAR = "not a regular file"  # a FIFO, a device, a socket, a broken link
IN_OUTDIR = "in the output folder"

# What a directory walk takes (compared without regard to case): every name morvexio's formats
# go by. morvexio finds the format from the content, so these only say which files are
# diffraction data at all.
EXTENSIONS = tuple(sorted({ext for format in morvexio.formats() for ext in format.extensions}))


class LoadAs(NamedTuple):
    """--as rules: extensions outside the table loaded through read_bytes under a known one."""

    by_suffix: dict[str, str]  # suffix (lower case, no dot) -> extension given as the hint
    default: str | None  # for every other suffix outside the table


def parse_load_as(value: str) -> tuple[tuple[str, ...], str]:
    """'EXT' or 'SUFFIX[,SUFFIX...]=EXT' as (suffixes, ext); no suffixes means all others."""
    suffixes, _, ext = value.rpartition("=")
    ext = ext.strip().lstrip(".").lower()
    if ext not in EXTENSIONS:
        raise ValueError(f"{value!r}: EXT must be one of {', '.join(EXTENSIONS)}")
    names = tuple(s.strip().lstrip(".").lower() for s in suffixes.split(",") if s.strip())
    if suffixes and not names:
        raise ValueError(f"{value!r}: no suffix before '='")
    return names, ext


def load_as(rules: list[tuple[tuple[str, ...], str]]) -> LoadAs:
    by_suffix, default = {}, None
    for names, ext in rules:
        by_suffix.update(dict.fromkeys(names, ext))
        default = default if names else ext
    return LoadAs(by_suffix, default)


def suffix(path: str) -> str:
    return os.path.splitext(path)[1][1:].lower()


def hint_for(path: str, rules: LoadAs) -> tuple[bool, str | None]:
    """(whether a directory walk takes the file, the read_bytes hint or None for read)."""
    ext = rules.by_suffix.get(suffix(path))
    if ext is None and suffix(path) not in EXTENSIONS:
        ext = rules.default
        if ext is None:
            return False, None
    return True, None if ext is None else f"{os.path.basename(path)}.{ext}"


def found_files(folder: str, top: str, outdir: Key | None, rules: LoadAs, passed: list,
                inside: bool = False):
    """(path, path relative to top, hint) of every file below folder the run takes, in sorted
    order; (path, reason) of the others to passed. The output folder is walked only to count
    its files: a rerun never converts its outputs."""
    try:
        entries = sorted(os.scandir(folder), key=lambda entry: entry.name)
    except OSError:
        passed.append((folder, "an unreadable folder"))
        return
    own = journal.journal(folder)
    for entry in entries:
        if entry.name == journal.NAME or is_temporary(entry.name):
            passed.append((entry.path, OWN))
        elif entry.is_dir(follow_symlinks=False):
            below = inside or (outdir is not None and file_key(entry.path) == outdir)
            yield from found_files(entry.path, top, outdir, rules, passed, below)
        elif inside:
            passed.append((entry.path, IN_OUTDIR))
        else:
            taken, hint = hint_for(entry.path, rules)
            why = OTHER if not taken else passed_over(entry, own)
            if why:
                passed.append((entry.path, why))
            else:
                yield entry.path, os.path.relpath(entry.path, top), hint


def passed_over(entry: os.DirEntry, own: journal.Journal) -> str | None:
    try:
        regular = entry.is_file()  # links followed: a link to /dev/zero is no regular file
        st = entry.stat(follow_symlinks=False)
    except OSError:
        regular = False
    if not regular:
        return IRREGULAR
    return OWN if own.ours(entry.name, st) else None


def named(path: str) -> str | None:
    """Why a file named on the command line is not read, or None (a missing one is tried, and
    fails with the OS message)."""
    try:
        st = os.stat(path)
    except (OSError, ValueError):
        return None
    if not stat.S_ISREG(st.st_mode):
        return describe(OSError(f"not a regular file ({journal.kind(st.st_mode)})"))
    folder, name = os.path.split(path)
    if journal.journal(folder).ours(name, journal.lstat(path)):
        return describe(ValueError("an output of morvex-convert, never an input"))
    return None


def candidates(paths: list[str], outdir: str, rules: LoadAs, passed: list, refused: list):
    """(source, output path without extension, hint) for each file the run takes; (path,
    reason) of each file a walk passes over to passed, (path, Outcome) of each named file that
    cannot be an input to refused."""
    skip = file_key(outdir)
    for top in paths:
        if os.path.isdir(top):
            for path, relative, hint in found_files(top, top, skip, rules, passed):
                yield path, os.path.join(outdir, os.path.splitext(relative)[0]), hint
            continue
        # Named explicitly: always tried, so an unknown extension is reported, not ignored.
        why = named(top)
        if why:
            refused.append((top, Outcome(FAILED, why)))
            continue
        stem = os.path.splitext(os.path.basename(top))[0]
        yield top, os.path.join(outdir, stem), hint_for(top, rules)[1]


def distinct(found: list[tuple[str, str, str | None]]) -> list[tuple[str, str, str | None]]:
    """Inputs bound for one folder under one stem (compared without regard to case, as some
    file systems do) keep their extension in it: the names depend on the inputs alone, the
    same from run to run."""
    def key(stem: str) -> Key:
        entry = entry_key(stem)
        return (*entry[:-1], entry[-1].casefold())

    count = Counter(key(stem) for _, stem, _ in found)
    return [(source, stem + os.path.splitext(source)[1] if count[key(stem)] > 1 else stem, hint)
            for source, stem, hint in found]


SCAN_NAME = re.compile(r"(.+)\.scan[0-9]+\.([^.]+)")


def family_of(name: str) -> tuple[str, str] | None:
    """(NAME, EXT) of a file named NAME.scanK.EXT."""
    match = SCAN_NAME.fullmatch(name)
    return None if match is None else (match[1], match[2])


class Claims:
    """Names claimed in folders (by folder identity), one by one or as families NAME.scanK.EXT;
    each with its holder and the name it was claimed by."""

    def __init__(self):
        self.names: dict[tuple, tuple[str, str]] = {}
        self.families: dict[tuple, tuple[str, str]] = {}
        self.members: dict[tuple, tuple[str, str]] = {}  # family -> a name claimed in it

    def holder(self, folder: Key, name: str, family: bool) -> tuple[str, str] | None:
        """Who holds a name, or (family) any NAME.scanK.EXT of name = NAME.EXT."""
        if family:
            stem, ext = os.path.splitext(name)
            key = (folder, stem, ext[1:])
            return self.families.get(key) or self.members.get(key)
        scans = family_of(name)
        return self.names.get((folder, name)) or (
            None if scans is None else self.families.get((folder, *scans)))

    def claim(self, folder: Key, name: str, family: bool, holder: str) -> None:
        if family:
            stem, ext = os.path.splitext(name)
            spelled = f"{stem}.scanK{ext}"
            self.families.setdefault((folder, stem, ext[1:]), (holder, spelled))
        else:
            self.names.setdefault((folder, name), (holder, name))
            scans = family_of(name)
            if scans is not None:
                self.members.setdefault((folder, *scans), (holder, name))


def outputs(target: str, meta: str) -> list[tuple[str, bool]]:
    """(path, whether its NAME.scanK family comes with it) of everything a file may write: the
    family even with --scan N, whose name is padded to a scan count not known yet."""
    paths = [target] + ([os.path.splitext(target)[0] + ".json"] if meta == "json" else [])
    return [(path, True) for path in paths]


def linked_input(path: str, taken: set, listed: dict) -> str | None:
    """An existing NAME.scanK.EXT beside path (NAME.EXT) that is an input under another name, a
    link or a hard link."""
    folder, name = os.path.split(path)
    if folder not in listed:
        found: dict[tuple[str, str], list[str]] = {}
        try:
            for entry in os.scandir(folder or "."):
                scans = family_of(entry.name)
                if scans is not None:
                    found.setdefault(scans, []).append(entry.path)
        except OSError:
            pass  # a folder not made yet holds nothing
        listed[folder] = found
    stem, ext = os.path.splitext(name)
    return next((p for p in listed[folder].get((stem, ext[1:]), ()) if file_key(p) in taken), None)


def refuse(source: str, message: str) -> tuple[str, Outcome]:
    return source, Outcome(FAILED, describe(FileExistsError(message)))


def clash(path: str, family: bool, taken: set, inputs: Claims, owners: Claims,
          listed: dict) -> str | None:
    """Why path (with its family) cannot be written, or None."""
    entry = entry_key(path)
    folder, name = entry[:-1], entry[-1]
    held = inputs.holder(folder, name, False) or (family and inputs.holder(folder, name, True))
    if held:
        return f"{shown(os.path.join(os.path.dirname(path), held[1]))} would replace an input " \
            "file"
    if entry in taken or file_key(path) in taken:
        return f"{shown(path)} would replace an input file"
    linked = family and linked_input(path, taken, listed)
    if linked:
        return f"{shown(linked)} would replace an input file"
    held = owners.holder(folder, name, False) or (family and owners.holder(folder, name, True))
    if held:
        return (f"{shown(os.path.join(os.path.dirname(path), held[1]))} is already the output "
                f"of {shown(held[0])}")
    return None


class Plan(NamedTuple):
    tasks: list  # files to convert (Task), or a dataset's parts (Batch)
    done: list[tuple[str, Outcome]]  # files decided without reading: refused, skipped
    passed: list[tuple[str, str]]  # files a walk passed over, and why


def plan(paths: list[str], outdir: str, form: str, rules: LoadAs, force: bool,
         scan: int | None = None, meta: str = "comments") -> Plan:
    """Tasks to run, and the files decided before anything is written: an output that is an
    input (whatever --force says), or one that another input already claims, refused; an output
    up to date, or one the converter did not write (without --force), skipped. The whole plan
    is known first, so no input can be missed; a file reached twice is converted once."""
    folder_key.cache_clear()  # folders may have been made or removed since the last plan
    journal.journal.cache_clear()
    passed: list[tuple[str, str]] = []
    done: list[tuple[str, Outcome]] = []
    found = {}  # identity -> (source, stem, hint), the first name a file is reached by
    for source, stem, hint in candidates(paths, outdir, rules, passed, done):
        found.setdefault(file_key(source) or entry_key(source), (source, stem, hint))
    # The names inputs are reached by count too: a link named as an input is not replaced.
    taken = set(found) | {entry_key(source) for source, _, _ in found.values()}
    inputs = Claims()
    for source, _, _ in found.values():
        entry = entry_key(source)
        inputs.claim(entry[:-1], entry[-1], False, source)
    tasks: list[Task] = []
    owners, listed = Claims(), {}
    for source, stem, hint in distinct(list(found.values())):
        target = f"{stem}.{EXTENSION[form]}"
        claims = outputs(target, meta)
        why = next(filter(None, (clash(path, family, taken, inputs, owners, listed)
                                 for path, family in claims)), None)
        if why:
            done.append(refuse(source, why))
            continue
        for path, family in claims:
            entry = entry_key(path)
            owners.claim(entry[:-1], entry[-1], False, source)
            if family:
                owners.claim(entry[:-1], entry[-1], True, source)
        task = state(Task(source, target, hint, form, force, scan, meta, source))
        if isinstance(task, Task):
            tasks.append(task)
        else:
            done.append((source, task))
    return Plan(tasks, done, passed)


def state(task: Task) -> Task | Outcome:
    """UNCHANGED where the journal says the outputs are there as written from the input as it
    is; SKIPPED where scan 1's output is there and the converter did not write it (without
    --force); else the task, with the converter's earlier outputs of the file to replace."""
    own = journal.journal(os.path.dirname(task.target))
    base = os.path.basename(task.target)
    try:
        now = [journal.source_stamp(task.source, journal.regular(task.source))]
    except OSError:
        return task  # the task reports it
    last = own.latest(base, task.scan, task.meta)
    if not task.force and own.current(last, now):
        return Outcome(UNCHANGED)
    ours = tuple(own.own_files(base))
    if not task.force and task.scan in (None, 1) and task.target not in ours \
            and os.path.lexists(task.target):
        return Outcome(SKIPPED)
    return task._replace(ours=ours, stale=tuple(own.files_of(last)))
