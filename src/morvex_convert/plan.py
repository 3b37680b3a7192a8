"""Which files a run converts, how each is loaded, and where its output goes.

A directory is walked in sorted order and its files keep their place below it under the output
folder; a file named on the command line goes straight into the output folder. The output
takes the input's name with the target form's extension; scan K of a file with several is
NAME.scanK.EXT, and a JSON sidecar NAME.json or NAME.scanK.json.

How many scans a file holds is known only once it is read, and the plan is made before any file
is. So a file claims the whole family NAME.scanK.EXT (every K from 2) beside NAME.EXT: a family
that holds an input, or meets another file's output or family, refuses the file as a clash of
names does. With --scan N a file claims that one name only.
"""

import os
import re
from typing import NamedTuple

import morvexio

from morvex_convert.convert import FAILED, Outcome, Task, describe, scan_path
from morvex_convert.forms import EXTENSION
from morvex_convert.identity import Key, entry_key, file_key, folder_key
from morvex_convert.output import is_temporary

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


def found_files(top: str, outdir: str):
    """(path, path relative to top) of every file below top, skipping the output folder so that
    a rerun does not convert its own outputs, and temporary files of one being written."""
    skip = file_key(outdir)
    for dirpath, dirnames, filenames in os.walk(top):
        dirnames[:] = sorted(d for d in dirnames
                             if skip is None or file_key(os.path.join(dirpath, d)) != skip)
        for name in sorted(filenames):
            if not is_temporary(name):
                path = os.path.join(dirpath, name)
                yield path, os.path.relpath(path, top)


def candidates(paths: list[str], outdir: str, rules: LoadAs):
    """(source, output path without extension, hint) for each file the run takes."""
    for top in paths:
        if os.path.isdir(top):
            for path, relative in found_files(top, outdir):
                taken, hint = hint_for(path, rules)
                if taken:
                    yield path, os.path.join(outdir, os.path.splitext(relative)[0]), hint
        else:
            # Named explicitly: always tried, so an unknown extension is reported, not ignored.
            stem = os.path.splitext(os.path.basename(top))[0]
            yield top, os.path.join(outdir, stem), hint_for(top, rules)[1]


SCAN_NAME = re.compile(r"(.+)\.scan(?:[2-9]|[1-9][0-9]+)\.([^.]+)")


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


def outputs(target: str, scan: int | None, meta: str) -> list[tuple[str, bool]]:
    """(path, whether its NAME.scanK family comes with it) of everything a file may write."""
    paths = [target] + ([os.path.splitext(target)[0] + ".json"] if meta == "json" else [])
    return [(path, scan is None) for path in paths]


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
        return f"{os.path.join(os.path.dirname(path), held[1])} would replace an input file"
    if entry in taken or file_key(path) in taken:
        return f"{path} would replace an input file"
    linked = family and linked_input(path, taken, listed)
    if linked:
        return f"{linked} would replace an input file"
    held = owners.holder(folder, name, False) or (family and owners.holder(folder, name, True))
    if held:
        return f"{os.path.join(os.path.dirname(path), held[1])} is already the output of {held[0]}"
    return None


def plan(paths: list[str], outdir: str, form: str, rules: LoadAs, force: bool,
         scan: int | None = None, meta: str = "comments"):
    """Tasks to run, and the files refused before anything is written: an output that is an
    input (whatever --force says), or one that another input already claims. The whole plan is
    known first, so no input can be missed; a file reached twice is converted once."""
    folder_key.cache_clear()  # folders may have been made or removed since the last plan
    found = {}  # identity -> (source, stem, hint), the first name a file is reached by
    for source, stem, hint in candidates(paths, outdir, rules):
        found.setdefault(file_key(source) or entry_key(source), (source, stem, hint))
    # The names inputs are reached by count too: a link named as an input is not replaced.
    taken = set(found) | {entry_key(source) for source, _, _ in found.values()}
    inputs = Claims()
    for source, _, _ in found.values():
        entry = entry_key(source)
        inputs.claim(entry[:-1], entry[-1], False, source)
    tasks: list[Task] = []
    refused: list[tuple[str, Outcome]] = []
    owners, listed = Claims(), {}
    for source, stem, hint in found.values():
        target = scan_path(f"{stem}.{EXTENSION[form]}", scan or 1)
        claims = outputs(target, scan, meta)
        why = next(filter(None, (clash(path, family, taken, inputs, owners, listed)
                                 for path, family in claims)), None)
        if why:
            refused.append(refuse(source, why))
            continue
        for path, family in claims:
            entry = entry_key(path)
            owners.claim(entry[:-1], entry[-1], False, source)
            if family:
                owners.claim(entry[:-1], entry[-1], True, source)
        tasks.append(Task(source, target, hint, form, force, scan, meta))
    return tasks, refused
