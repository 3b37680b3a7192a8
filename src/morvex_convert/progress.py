"""Progress on a terminal: Debian's tqdm when it is installed, a plain counter otherwise, and
nothing when stderr is not a terminal (a log file gets only the failures and the summary)."""

import sys


class Quiet:
    def __init__(self, stream):
        self.stream = stream

    def update(self, done: int = 1) -> None:
        pass

    def write(self, line: str) -> None:
        print(line, file=self.stream, flush=True)

    def close(self) -> None:
        pass


class Counter(Quiet):
    """'done/total files' redrawn in place; lines written meanwhile go above it."""

    def __init__(self, stream, total: int):
        super().__init__(stream)
        self.done, self.total = 0, total
        self.draw()

    def draw(self) -> None:
        self.stream.write(f"\r{self.done}/{self.total} files")
        self.stream.flush()

    def update(self, done: int = 1) -> None:
        self.done += done
        self.draw()

    def write(self, line: str) -> None:
        self.stream.write("\r\x1b[K")
        super().write(line)
        self.draw()

    def close(self) -> None:
        self.stream.write("\n")
        self.stream.flush()


def progress(total: int, stream=None):
    stream = stream or sys.stderr
    if not stream.isatty():
        return Quiet(stream)
    try:
        from tqdm import tqdm
    except ImportError:
        return Counter(stream, total)
    bar = tqdm(total=total, unit="file", file=stream)
    bar.write = lambda line: tqdm.write(line, file=stream)
    return bar
