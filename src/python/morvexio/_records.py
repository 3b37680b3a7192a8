"""The records morvexio returns: a Measurement of Scans, with pickling, value equality and
short reprs."""

from __future__ import annotations

from typing import Any, Iterator, Optional

import numpy as np


def _array(values: Any) -> np.ndarray:
    """A read-only float64 array over `values`; the native Columns are shared, not copied."""
    array = np.asarray(values, dtype=np.float64)
    if array.flags.writeable:
        if array.base is not None or array is values:
            array = array.copy()  # never freeze a caller's array in place
        array.flags.writeable = False
    return array


def _freeze(meta: dict) -> dict:
    out = {}
    for key, value in meta.items():
        if isinstance(value, dict):
            value = _freeze(value)
        elif not isinstance(value, (str, float, int)):
            value = _array(value)
        out[key] = value
    return out


def _same(a: Any, b: Any) -> bool:
    if isinstance(a, np.ndarray) or isinstance(b, np.ndarray):
        if not (isinstance(a, np.ndarray) and isinstance(b, np.ndarray)):
            return False
        return a.shape == b.shape and a.tobytes() == b.tobytes()  # bit for bit, NaN included
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(_same(a[k], b[k]) for k in a)
    return type(a) is type(b) and a == b


class Scan:
    """One scan: `x`, `y` and `e` (None where the file has no uncertainties) as read-only
    float64 arrays, and `meta`, a dict under the documented keys."""

    __slots__ = ("_x", "_y", "_e", "_meta")

    def __init__(self, x: Any, y: Any, e: Any = None, meta: Optional[dict] = None) -> None:
        self._x = _array(x)
        self._y = _array(y)
        self._e = None if e is None else _array(e)
        if self._x.shape != self._y.shape or (self._e is not None and self._e.shape != self._x.shape):
            raise ValueError("x, y and e must have the same length")
        self._meta = _freeze(meta or {})

    @property
    def x(self) -> np.ndarray:
        """Positions (2θ in degrees, time of flight, Q: see meta['x_unit'])."""
        return self._x

    @property
    def y(self) -> np.ndarray:
        """Intensities as the file stores them."""
        return self._y

    @property
    def e(self) -> Optional[np.ndarray]:
        """Uncertainties, or None where the file has none."""
        return self._e

    @property
    def meta(self) -> dict:
        """The scan's metadata."""
        return self._meta

    def __len__(self) -> int:
        return len(self._x)

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Scan):
            return NotImplemented
        return (
            _same(self._x, other._x)
            and _same(self._y, other._y)
            and (self._e is None) == (other._e is None)
            and (self._e is None or _same(self._e, other._e))
            and _same(self._meta, other._meta)
        )

    __hash__ = None  # type: ignore[assignment]

    def __reduce__(self):
        return (Scan, (self._x, self._y, self._e, self._meta))

    def __repr__(self) -> str:
        axis = self._meta.get("x_axis") or self._meta.get("scan_axis") or "x"
        unit = self._meta.get("x_unit", "")
        if len(self._x) == 0:
            return f"<Scan {axis} 0 points>"
        span = f"{self._x[0]:g}..{self._x[-1]:g}"
        return f"<Scan {axis} {len(self._x)} points {span}{' ' + unit if unit else ''}>"


class Measurement:
    """What a file holds: `format` (a short name such as "xrdml"), `meta` (a dict) and
    `scans`, a list of Scan in file order."""

    __slots__ = ("_format", "_meta", "_scans")

    def __init__(self, format: str, meta: Optional[dict] = None, scans: Any = ()) -> None:
        self._format = format
        self._meta = _freeze(meta or {})
        self._scans = list(scans)

    @property
    def format(self) -> str:
        """The reader's short name."""
        return self._format

    @property
    def meta(self) -> dict:
        """What holds for every scan."""
        return self._meta

    @property
    def scans(self) -> "list[Scan]":
        """Every scan, in file order."""
        return self._scans

    def __len__(self) -> int:
        return len(self._scans)

    def __iter__(self) -> Iterator[Scan]:
        return iter(self._scans)

    def __getitem__(self, index: int) -> Scan:
        return self._scans[index]

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Measurement):
            return NotImplemented
        return (
            self._format == other._format
            and _same(self._meta, other._meta)
            and self._scans == other._scans
        )

    __hash__ = None  # type: ignore[assignment]

    def __reduce__(self):
        return (Measurement, (self._format, self._meta, self._scans))

    def __repr__(self) -> str:
        n = len(self._scans)
        return f"<Measurement {self._format} {n} scan{'' if n == 1 else 's'}>"


def from_native(raw: tuple) -> Measurement:
    format, meta, scans = raw
    return Measurement(format, meta, [Scan(x, y, e, m) for x, y, e, m in scans])
