"""The records morvexio returns: a Measurement of Scans, with read-only metadata, pickling,
value equality and short reprs. The conversions live in _diffraction and _nexus."""

from typing import Any, Iterator, Optional

import numpy as np

from . import _diffraction, _nexus


class _Meta(dict):
    """Metadata that refuses changes. A dict still (json.dumps, isinstance and `{**meta}` work as
    they did), so that every caller of the mutable dicts of earlier versions keeps working."""

    __slots__ = ()

    def _refuse(self, *args: Any, **kwargs: Any) -> None:
        raise TypeError("morvexio metadata is read-only: dict(meta) is a copy to change")

    __setitem__ = __delitem__ = clear = pop = popitem = _refuse  # type: ignore[assignment]
    setdefault = update = __ior__ = _refuse  # type: ignore[assignment]

    def copy(self) -> dict:  # type: ignore[override]
        return dict(self)

    def __reduce__(self):
        return (_Meta, (dict(self),))


def _array(values: Any) -> np.ndarray:
    """A read-only float64 array over `values`; the native Columns are shared, not copied."""
    array = np.asarray(values, dtype=np.float64)
    if array.flags.writeable:
        if array.base is not None or array is values:
            array = array.copy()  # never freeze a caller's array in place
        array.flags.writeable = False
    return array


def _freeze(meta: Any) -> _Meta:
    if isinstance(meta, _Meta):
        return meta  # frozen all the way down already
    out = {}
    for key, value in meta.items():
        if isinstance(value, dict):
            value = _freeze(value)
        elif not isinstance(value, (str, float, int)):
            value = _array(value)
        out[key] = value
    return _Meta(out)


def _same(a: Any, b: Any) -> bool:
    if isinstance(a, np.ndarray) or isinstance(b, np.ndarray):
        if not (isinstance(a, np.ndarray) and isinstance(b, np.ndarray)):
            return False
        return a.shape == b.shape and a.tobytes() == b.tobytes()  # bit for bit, NaN included
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(_same(a[k], b[k]) for k in a)
    return type(a) is type(b) and a == b


class _Outer:
    """What a scan knows of the measurement holding it: the file (for messages), the
    measurement's metadata (the wavelength rule's fallback) and its place in the file."""

    __slots__ = ("source", "format", "meta", "index")

    def __init__(self, source: str, format: str, meta: _Meta, index: int) -> None:
        self.source, self.format, self.meta, self.index = source, format, meta, index

    def __reduce__(self):
        return (_Outer, (self.source, self.format, self.meta, self.index))


class Scan:
    """One scan: `x`, `y` and `e` (None where the file has no uncertainties) as read-only
    float64 arrays, and `meta`, a read-only dict under the documented keys."""

    __slots__ = ("_x", "_y", "_e", "_meta", "_outer")

    def __init__(self, x: Any, y: Any, e: Any = None, meta: Optional[dict] = None) -> None:
        self._x = _array(x)
        self._y = _array(y)
        self._e = None if e is None else _array(e)
        if self._x.shape != self._y.shape or (
                self._e is not None and self._e.shape != self._x.shape):
            raise ValueError("x, y and e must have the same length")
        self._meta = _freeze(meta or {})
        self._outer: Optional[_Outer] = None

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
    def meta(self) -> _Meta:
        """The scan's metadata (read-only; dict(meta) is a copy to change)."""
        return self._meta

    @property
    def wavelength(self) -> Optional[float]:
        """The wavelength (Å) that q() and d() use, or None: the scan's wavelength_kalpha1,
        else its `wavelength`, else the same two keys of its measurement."""
        return _diffraction.wavelength(self)

    def q(self, wavelength: Optional[float] = None) -> np.ndarray:
        """Momentum transfer 4π sin θ / λ in Å⁻¹ of a scan whose x is 2θ in degrees; λ is
        `wavelength` where given, else the scan's (see `wavelength`). ValueError otherwise."""
        return _diffraction.q(self, wavelength)

    def d(self, wavelength: Optional[float] = None) -> np.ndarray:
        """d-spacing λ / (2 sin θ) in Å, under the rules of q()."""
        return _diffraction.d(self, wavelength)

    def to_pandas(self) -> Any:
        """A pandas DataFrame with columns x, y and, where the scan has it, e."""
        return _diffraction.scan_frame(self)

    def to_xarray(self) -> Any:
        """A 1-D xarray DataArray of y along x (e as a coordinate), the metadata in attrs."""
        return _diffraction.scan_array(self)

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
        return (Scan, (self._x, self._y, self._e, self._meta), self._outer)

    def __setstate__(self, outer: Optional[_Outer]) -> None:
        self._outer = outer

    def __repr__(self) -> str:
        axis = self._meta.get("x_axis") or self._meta.get("scan_axis") or "x"
        unit = self._meta.get("x_unit", "")
        if len(self._x) == 0:
            return f"<Scan {axis} 0 points>"
        span = f"{self._x[0]:g}..{self._x[-1]:g}"
        return f"<Scan {axis} {len(self._x)} points {span}{' ' + unit if unit else ''}>"


def _adopt(scan: Scan, outer: _Outer) -> Scan:
    """The scan as one of a measurement's: itself where no measurement holds it yet, else a
    twin over the same arrays (a scan knows one measurement)."""
    if scan._outer is not None and scan._outer.meta is not outer.meta:
        twin = Scan.__new__(Scan)
        twin._x, twin._y, twin._e, twin._meta = scan._x, scan._y, scan._e, scan._meta
        scan = twin
    scan._outer = outer
    return scan


class Measurement:
    """What a file holds: `format` (a short name such as "xrdml"), `source` (the path as given,
    or the name given to read_bytes), `meta` (a read-only dict) and `scans`, a list of Scan in
    file order."""

    __slots__ = ("_format", "_meta", "_scans", "_source")

    def __init__(self, format: str, meta: Optional[dict] = None, scans: Any = (),
                 source: str = "") -> None:
        self._format = format
        self._meta = _freeze(meta or {})
        self._source = source
        self._scans = [_adopt(scan, _Outer(source, format, self._meta, index))
                       for index, scan in enumerate(scans)]

    @property
    def format(self) -> str:
        """The reader's short name."""
        return self._format

    @property
    def source(self) -> str:
        """The path as given to read() (decoded as os.fsdecode does), or the name given to
        read_bytes() ("" where none was)."""
        return self._source

    @property
    def meta(self) -> _Meta:
        """What holds for every scan (read-only)."""
        return self._meta

    @property
    def scans(self) -> "list[Scan]":
        """Every scan, in file order."""
        return self._scans

    def to_pandas(self) -> Any:
        """Every scan in one pandas DataFrame, long form: columns scan (its index), x, y and e
        (where any scan has e; NaN in the others)."""
        return _diffraction.measurement_frame(self)

    def to_xarray(self) -> Any:
        """One scan as a 1-D xarray DataArray along its x axis; scans that form a map as one
        2-D DataArray of intensity, else a ValueError.

        A map: scans of one x axis and point count, and an axis of `meta["axes"]` with a
        position of its own in every scan (a fixed one before one that moves along the scan),
        over the same x range (ω scans may follow a stepped 2θ). Its dims are (stepping axis,
        x axis), e.g. ("Omega", "2Theta"); coordinates: the stepping axis' position per scan
        (where it moves, where each scan starts, and `<axis>_positions` per point), the x
        positions (1-D, else `<x axis>_positions` per point), `e`, and where ω, 2θ and the
        wavelength are known, `qx` and `qz` (Å⁻¹) of the coplanar geometry. attrs: the
        measurement's metadata, the scan keys all scans share, source, format and the
        `wavelength_used`."""
        return _diffraction.measurement_array(self)

    def to_nexus(self, path: Any) -> None:
        """Writes the measurement to `path` as a NeXus (HDF5) file: one NXentry, one NXdata per
        scan, the metadata under NXinstrument/NXsource and NXsample."""
        _nexus.write(self, path)

    def __len__(self) -> int:
        return len(self._scans)

    def __iter__(self) -> Iterator[Scan]:
        return iter(self._scans)

    def __getitem__(self, index: int) -> Scan:
        return self._scans[index]

    def __eq__(self, other: object) -> bool:
        # By content: the same file read by path or from its bytes is the same measurement.
        if not isinstance(other, Measurement):
            return NotImplemented
        return (
            self._format == other._format
            and _same(self._meta, other._meta)
            and self._scans == other._scans
        )

    __hash__ = None  # type: ignore[assignment]

    def __reduce__(self):
        return (Measurement, (self._format, self._meta, self._scans, self._source))

    def __repr__(self) -> str:
        n = len(self._scans)
        return f"<Measurement {self._format} {n} scan{'' if n == 1 else 's'}>"


def _freeze_native(meta: dict) -> _Meta:
    """The reader's own dicts made read-only in place of the general walk: their values are
    only str, float, Column and dict, and nothing else holds them. Built with the interpreter
    lock held, so it is kept short: threads that load side by side wait on it."""
    for key, value in meta.items():
        kind = type(value)
        if kind is dict:
            meta[key] = _freeze_native(value)
        elif kind is not str and kind is not float:
            meta[key] = _array(value)
    return _Meta(meta)


def _native_scan(x: Any, y: Any, e: Any, meta: dict) -> Scan:
    scan = Scan.__new__(Scan)  # the reader's columns: one length, read-only float64 already
    scan._x, scan._y = np.asarray(x), np.asarray(y)
    scan._e = None if e is None else np.asarray(e)
    scan._meta, scan._outer = _freeze_native(meta), None
    return scan


def from_native(raw: tuple, source: str) -> Measurement:
    format, meta, scans = raw
    measurement = Measurement.__new__(Measurement)
    measurement._format, measurement._meta, measurement._source = (
        format, _freeze_native(meta), source)
    measurement._scans = [_adopt(_native_scan(*scan), _Outer(source, format, measurement._meta, k))
                          for k, scan in enumerate(scans)]
    return measurement
