"""Which files a run converts, how each is loaded, and where its output goes.

A directory is walked in sorted order and its files keep their place below it under the output
folder; a file named on the command line goes straight into the output folder. The output
takes the input's name with the target form's extension.
"""

import os
from typing import NamedTuple

from morvex_convert.convert import FAILED, Outcome, Task, describe
from morvex_convert.identity import Key, entry_key, file_key, folder_key
from morvex_convert.output import is_temporary

# What a directory walk takes (compared without regard to case). morvexio finds the format
# from the content, so these only say which files are diffraction data at all; the names
# GSAS files go by are among them.
EXTENSIONS = ("xy", "xye", "csv", "raw", "xrdml", "rasx", "gsa", "gss", "gsas", "fxye", "xra",
              "cwn", "ras", "brml", "uxd", "rd", "sd", "udf", "cif", "chi", "cpi")


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


def refuse(source: str, message: str) -> tuple[str, Outcome]:
    return source, Outcome(FAILED, describe(FileExistsError(message)))


def plan(paths: list[str], outdir: str, form: str, rules: LoadAs, force: bool):
    """Tasks to run, and the files refused before anything is written: an output that is an
    input (whatever --force says), or one that another input already claims. The whole plan is
    known first, so no input can be missed; a file reached twice is converted once."""
    folder_key.cache_clear()  # folders may have been made or removed since the last plan
    inputs = {}  # identity -> (source, stem, hint), the first name a file is reached by
    for source, stem, hint in candidates(paths, outdir, rules):
        inputs.setdefault(file_key(source) or entry_key(source), (source, stem, hint))
    # The names inputs are reached by count too: a link named as an input is not replaced.
    taken = set(inputs) | {entry_key(source) for source, _, _ in inputs.values()}
    tasks: list[Task] = []
    refused: list[tuple[str, Outcome]] = []
    owner: dict[Key, str] = {}  # output entry -> the input that claimed it first
    for source, stem, hint in inputs.values():
        target = f"{stem}.{form}"
        entry = entry_key(target)
        if entry in taken or file_key(target) in taken:
            refused.append(refuse(source, f"{target} would replace an input file"))
        elif entry in owner:
            refused.append(refuse(source, f"{target} is already the output of {owner[entry]}"))
        else:
            owner[entry] = source
            tasks.append(Task(source, target, hint, form, force))
    return tasks, refused
