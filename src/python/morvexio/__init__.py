"""Every scan of an X-ray powder diffraction file, with its metadata, as numpy arrays.

    >>> import morvexio
    >>> m = morvexio.read("scan.xrdml")
    >>> m.format, len(m.scans), m.meta.get("wavelength_kalpha1")
    >>> s = m.scans[0]; s.x, s.y, s.e, s.meta
    >>> s.wavelength, s.q(), s.d()          # Å, Å⁻¹, Å (docs/metadata.md: the wavelength rule)
    >>> m.to_pandas(), m.to_xarray()        # pip install 'morvex[pandas]', 'morvex[xarray]'
    >>> m.to_nexus("scan.nxs")              # pip install 'morvex[nexus]'

`python -m morvexio FILE...` tells what files hold (`--json` as JSON).

The arrays are read-only float64 views of the memory the reader filled: no copy is made.
"""

import importlib.metadata as _metadata
import os as _os
from concurrent.futures import ThreadPoolExecutor as _ThreadPoolExecutor
from typing import Any as _Any
from typing import Iterable as _Iterable
from typing import NamedTuple as _NamedTuple
from typing import Union as _Union

from . import _records
from ._morvexio import FormatError
from ._morvexio import formats as _formats
from ._morvexio import keys as _keys
from ._morvexio import read as _read
from ._morvexio import read_bytes as _read_bytes
from ._morvexio import rows_text as _rows_text
from ._records import Measurement, Scan

__all__ = ["Format", "FormatError", "Key", "Measurement", "Scan", "formats", "keys", "read",
           "read_bytes", "read_many", "rows_text", "__version__"]

try:
    __version__ = _metadata.version("morvex")
except _metadata.PackageNotFoundError:  # a build tree, not an installation
    __version__ = "0+unknown"

_PathLike = _Union[str, bytes, "_os.PathLike[str]", "_os.PathLike[bytes]"]


def __dir__() -> "list[str]":
    # The submodules the import system adds as attributes are no public names either.
    return sorted(__all__)


class Format(_NamedTuple):
    """A format morvexio reads: its `name` (as `Measurement.format` gives it), what a file of it
    is, and the extensions (lower case, without the dot) its files go by."""

    name: str
    title: str
    extensions: tuple[str, ...]


def formats() -> tuple[Format, ...]:
    """Every format morvexio reads, in the order their content rules are tried. The content
    decides the format; the extensions only say which files are diffraction data at all."""
    return tuple(Format(*row) for row in _formats())


class Key(_NamedTuple):
    """A metadata key: its `name`, its `level` ("measurement", "scan" or "both"; a scan may
    restate a measurement key with its own value), the `type` of its value ("str", "float",
    "array", "dict"), its `unit` ("" where there is none), what it means, and the `formats`
    whose own key it is (empty for a key of every format)."""

    name: str
    level: str
    type: str
    unit: str
    meaning: str
    formats: tuple[str, ...]


def keys() -> tuple[Key, ...]:
    """Every key a reader may set in `Measurement.meta` or `Scan.meta`, as docs/metadata.md
    lists them; what has no key stays under "header", spelled as the file spells it."""
    return tuple(Key(*row[:5], tuple(row[5].split())) for row in _keys())


def read(path: _PathLike) -> Measurement:
    """Reads every scan of the file at `path` (str, bytes or any os.PathLike).

    The format is found from the content, and from the name's extension only where the
    content cannot tell. Raises OSError (with errno and filename) when the file cannot be
    read and FormatError when it is not what its format says.
    """
    given = _os.fspath(path)
    return _records.from_native(_read(_os.fsencode(given), given), _os.fsdecode(given))


def read_many(paths: "_Iterable[_PathLike]", threads: "int | None" = None
              ) -> "list[Measurement | OSError | FormatError]":
    """Reads every file of `paths`, `threads` at a time (by default one per core: loads run
    without the interpreter lock), and returns what `read` gives for each, in the order given;
    a file that cannot be read has its OSError or FormatError in its place, so that one bad
    file spoils no other. Any other exception (MemoryError, KeyboardInterrupt) is raised."""
    def one(path: _PathLike) -> "Measurement | OSError | FormatError":
        try:
            return read(path)
        except (OSError, FormatError) as error:
            return error

    listed = list(paths)
    if threads is not None and threads < 1:
        raise ValueError(f"threads must be at least 1, not {threads}")
    with _ThreadPoolExecutor(max_workers=min(threads or _os.cpu_count() or 1, max(len(listed), 1))
                             ) as pool:
        return list(pool.map(one, listed))


def read_bytes(data: _Any, filename: _PathLike = "") -> Measurement:
    """Reads every scan of `data` (any bytes-like object) in place; `filename` is a hint, and
    the measurement's `source`."""
    given = _os.fspath(filename)
    source = _os.fsdecode(given)
    return _records.from_native(_read_bytes(data, _os.fsencode(given), given or "<bytes>"), source)


def rows_text(columns: tuple, separator: str = " ") -> bytes:
    """The columns (1-D float64 arrays of one length) as ASCII text rows, the numbers of a row
    joined by `separator`, every number written as the shortest text that reads back to the
    same double (as `repr` writes it). What morvex-convert writes its text forms with."""
    return _rows_text(tuple(columns), separator)
