"""Outputs appear whole or not at all.

Each is written to a hidden temporary file beside its target (`.NAME.morvex-tmp-XXXXXXXX`),
flushed to disk and renamed over the target, so a reader, a rerun or a crash sees either the old
file or the complete new one. The writer holds an flock on its temporary file until the rename;
a later run removes the temporary files nobody holds, which are those of a killed run.
"""

import contextlib
import fcntl
import os
import secrets
import stat

MARK = ".morvex-tmp-"


def is_temporary(name: str) -> bool:
    return name.startswith(".") and MARK in name


def temporary_path(target: str) -> str:
    folder, name = os.path.split(target)
    return os.path.join(folder, f".{name}{MARK}{secrets.token_hex(4)}")


def open_temporary(target: str) -> tuple[int, str]:
    while True:
        path = temporary_path(target)
        try:
            # 0o666 under the umask, as open() would create the output itself.
            fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
        except FileExistsError:
            continue
        try:
            fcntl.flock(fd, fcntl.LOCK_EX)
        except OSError:
            return fd, path  # no locks on this file system: only a concurrent cleaner could race
        # A cleaner that locked it between our open and flock has unlinked it: take a new name.
        if os.fstat(fd).st_nlink:
            return fd, path
        os.close(fd)


@contextlib.contextmanager
def whole_file(target: str):
    """A binary file that replaces or creates target when the block ends; on any error nothing
    of it is left. OS errors name the target, never the temporary file."""
    os.makedirs(os.path.dirname(target) or ".", exist_ok=True)  # its error names the folder
    path = None
    try:
        fd, path = open_temporary(target)
        with os.fdopen(fd, "wb") as f:  # closing it releases the lock, after the rename
            yield f
            f.flush()
            os.fsync(f.fileno())
            os.replace(path, target)
            path = None
    except OSError as error:
        if error.errno is None:  # not the file system's (a writer library's own)
            raise
        raise OSError(error.errno, error.strerror, target) from None
    finally:
        if path is not None:
            try:
                os.unlink(path)
            except FileNotFoundError:
                pass


def write_whole(target: str, data: bytes) -> None:
    with whole_file(target) as f:
        f.write(data)


def remove_abandoned(path: str) -> None:
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError:
        return
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)  # fails while its writer runs
        mine, now = os.fstat(fd), os.lstat(path)
        # Still the file we locked (not renamed into place by its writer meanwhile).
        if stat.S_ISREG(mine.st_mode) and (now.st_dev, now.st_ino) == (mine.st_dev, mine.st_ino):
            os.unlink(path)
    except OSError:
        pass  # held, gone, or not lockable here: left alone, this run does not depend on it
    finally:
        os.close(fd)


def remove_strays(folders) -> None:
    """Removes the temporary files a killed run left in these folders; a running writer's stay."""
    for folder in folders:
        try:
            names = [e.name for e in os.scandir(folder) if is_temporary(e.name)]
        except OSError:
            continue  # a folder not made yet holds nothing; an unreadable one fails its files
        for name in names:
            remove_abandoned(os.path.join(folder, name))
