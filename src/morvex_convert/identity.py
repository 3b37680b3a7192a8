"""Which names mean the same file. Spelling cannot tell: `out/../k/a.xye`, a link to `k`, a bind
mount of it and a hard link all reach one file, so files compare by device and inode."""

import functools
import os

Key = tuple  # (st_dev, st_ino, *names below that folder) or ("path", absolute path)


def file_key(path: str) -> Key | None:
    """The file path reaches after following links, or None when there is none."""
    try:
        st = os.stat(path)
    except (OSError, ValueError):
        return None
    return st.st_dev, st.st_ino


@functools.lru_cache(maxsize=4096)
def folder_key(folder: str) -> Key:
    """The nearest existing folder's identity, then the names below it still to be made."""
    missing: list[str] = []
    while True:
        key = file_key(folder)
        if key is not None:
            return (*key, *reversed(missing))
        parent, name = os.path.split(folder)
        if parent == folder:
            return ("path", folder)
        folder = parent
        missing.append(name)


def entry_key(path: str) -> Key:
    """The directory entry a rename to path replaces: its folder with links resolved, and its
    own name as it is (a link there is the entry replaced, not the file it points to)."""
    folder, name = os.path.split(os.path.abspath(path))
    return (*folder_key(os.path.realpath(folder)), name)
