"""Outputs appear whole or not at all, and a file's outputs all or none.

Each is written to a hidden temporary file beside its target (`.NAME.morvex-tmp-XXXXXXXX`), or
all of one file's outputs into a hidden temporary folder of that name, flushed to disk and
renamed over the targets, so a reader, a rerun or a crash sees either the old files or the
complete new ones. The writer holds an flock on its temporary file or folder until the renames;
a later run removes the temporary files and folders nobody holds, which are those of a killed
run.
"""

import contextlib
import errno
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


def naming(target: str, error: OSError) -> OSError:
    """The error of a file system call on a temporary file, naming the target instead."""
    if error.errno is None:  # not the file system's (a writer library's own)
        return error
    return OSError(error.errno, error.strerror, target)


@contextlib.contextmanager
def whole_file(target: str, landing=None):
    """A binary file that replaces or creates target when the block ends; on any error nothing
    of it is left. landing(stat of the whole file) is called just before the rename. OS errors
    name the target, never the temporary file."""
    os.makedirs(os.path.dirname(target) or ".", exist_ok=True)  # its error names the folder
    path = None
    try:
        fd, path = open_temporary(target)
        with os.fdopen(fd, "wb") as f:  # closing it releases the lock, after the rename
            yield f
            f.flush()
            os.fsync(f.fileno())
            if landing is not None:
                landing(os.fstat(f.fileno()))
            os.replace(path, target)
            path = None
    except OSError as error:
        raise naming(target, error) from None
    finally:
        if path is not None:
            try:
                os.unlink(path)
            except FileNotFoundError:
                pass


def write_whole(target: str, data: bytes, landing=None) -> None:
    with whole_file(target, landing) as f:
        f.write(data)


class Group:
    """The outputs of one file, written into a hidden locked temporary folder beside the first
    target and renamed into place together by land(), in the order they were put (the one a
    rerun looks for last). Leaving the block removes whatever did not land."""

    def __init__(self, target: str):
        self.folder = os.path.dirname(target) or "."
        self.put_paths: list[tuple[str, os.stat_result]] = []
        self.path, self.fd = "", -1
        try:
            os.makedirs(self.folder, exist_ok=True)
            self.path, self.fd = open_temporary_folder(target)
        except OSError as error:
            raise naming(target, error) from None

    def __enter__(self) -> "Group":
        return self

    def __exit__(self, *_) -> None:
        self.close()

    def put(self, target: str, data: bytes) -> None:
        temporary = os.path.join(self.path, os.path.basename(target))
        try:
            fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
            with os.fdopen(fd, "wb") as f:
                f.write(data)
                f.flush()
                os.fsync(f.fileno())
                self.put_paths.append((target, os.fstat(f.fileno())))
        except OSError as error:
            raise naming(target, error) from None

    def outputs(self) -> list[tuple[str, os.stat_result]]:
        return list(self.put_paths)

    def land(self) -> None:
        for target, _ in self.put_paths:  # the one rename that fails in one folder: seen first
            if os.path.isdir(target) and not os.path.islink(target):
                raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), target)
        for target, _ in self.put_paths:
            try:
                os.replace(os.path.join(self.path, os.path.basename(target)), target)
            except OSError as error:
                raise naming(target, error) from None

    def close(self) -> None:
        if self.fd >= 0:
            empty_folder(self.path)
            os.close(self.fd)  # releases the lock
            self.fd = -1


def open_temporary_folder(target: str) -> tuple[str, int]:
    """A new hidden folder beside target and a descriptor holding its lock."""
    while True:
        path = temporary_path(target)
        try:
            os.mkdir(path)
        except FileExistsError:
            continue
        fd = os.open(path, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX)
        except OSError:
            return path, fd  # no locks on this file system: only a concurrent cleaner could race
        if os.fstat(fd).st_nlink:  # not removed by a cleaner between our mkdir and flock
            return path, fd
        os.close(fd)


def empty_folder(path: str) -> None:
    """Removes a temporary folder and the files in it."""
    with contextlib.suppress(OSError):
        for name in os.listdir(path):
            with contextlib.suppress(OSError):
                os.unlink(os.path.join(path, name))
        os.rmdir(path)


def remove_abandoned(path: str) -> None:
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError:
        return
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)  # fails while its writer runs
        mine, now = os.fstat(fd), os.lstat(path)
        # Still the file we locked (not renamed into place by its writer meanwhile).
        if (now.st_dev, now.st_ino) != (mine.st_dev, mine.st_ino):
            return
        if stat.S_ISREG(mine.st_mode):
            os.unlink(path)
        elif stat.S_ISDIR(mine.st_mode):
            empty_folder(path)
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
