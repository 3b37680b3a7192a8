"""What users compute after loading: the wavelength a conversion uses, Q and d, tables for pandas,
arrays and maps for xarray. numpy only here; pandas and xarray are imported when asked for."""

import importlib
import math
import re
from typing import Any, Optional

import numpy as np

# The wavelength rule, in order at the scan's level and then at the measurement's: a Kα1 line
# before the one stated wavelength, since a tube file's `wavelength` may be a weighted Kα mean.
WAVELENGTH_KEYS = ("wavelength_kalpha1", "wavelength")
DEGREES = ("deg", "degree", "degrees", "°")


def need(module: str, extra: str, what: str) -> Any:
    """The optional module, or an ImportError that says how to install it."""
    try:
        return importlib.import_module(module)
    except ImportError as error:
        raise ImportError(f"{what} needs {module}: pip install 'morvex[{extra}]'",
                          name=module) from error


def where(scan: Any) -> str:
    """The scan as a message names it: its file and its index there."""
    outer = scan._outer
    if outer is None:
        return "scan"
    return f"{outer.source or '<bytes>'} scans[{outer.index}]"


def stated_wavelength(meta: Any) -> Optional[float]:
    for key in WAVELENGTH_KEYS:
        value = meta.get(key)
        # A zero or negative value is a placeholder some instruments write, not a wavelength.
        if isinstance(value, float) and math.isfinite(value) and value > 0.0:
            return value
    return None


def wavelength(scan: Any) -> Optional[float]:
    found = stated_wavelength(scan.meta)
    if found is None and scan._outer is not None:
        found = stated_wavelength(scan._outer.meta)
    return found


def theta_and_wavelength(scan: Any, given: Optional[float], what: str) -> tuple:
    """θ in radians of a scan whose x is 2θ in degrees, and the wavelength to use."""
    axis = scan.meta.get("x_axis")
    unit = scan.meta.get("x_unit", "deg")
    if axis != "2Theta" or unit not in DEGREES:
        stated = f"{axis} in {unit}" if axis else "of an axis the file does not name"
        raise ValueError(f"{where(scan)}: {what} needs x in degrees of 2Theta; x is {stated}")
    if given is None:
        given = wavelength(scan)
        if given is None:
            raise ValueError(f"{where(scan)}: {what} needs a wavelength and the file states none: "
                             f"pass one, {what}(wavelength=1.5406)")
    elif not (isinstance(given, (int, float)) and math.isfinite(given) and given > 0):
        raise ValueError(f"the wavelength must be a positive number of Å, not {given!r}")
    return np.radians(scan.x) / 2.0, float(given)


def q(scan: Any, given: Optional[float]) -> np.ndarray:
    theta, lam = theta_and_wavelength(scan, given, "q")
    return 4.0 * np.pi * np.sin(theta) / lam


def d(scan: Any, given: Optional[float]) -> np.ndarray:
    theta, lam = theta_and_wavelength(scan, given, "d")
    with np.errstate(divide="ignore"):  # 2θ = 0 has no d: inf, as numpy says it
        return lam / (2.0 * np.sin(theta))


def columns(scan: Any) -> dict:
    out = {"x": np.array(scan.x), "y": np.array(scan.y)}
    if scan.e is not None:
        out["e"] = np.array(scan.e)
    return out


def scan_frame(scan: Any) -> Any:
    return need("pandas", "pandas", "to_pandas").DataFrame(columns(scan))


def measurement_frame(measurement: Any) -> Any:
    pandas = need("pandas", "pandas", "to_pandas")
    scans = measurement.scans
    lengths = [len(s) for s in scans]
    table = {"scan": np.repeat(np.arange(len(scans)), lengths),
             "x": np.concatenate([s.x for s in scans] or [np.empty(0)]),
             "y": np.concatenate([s.y for s in scans] or [np.empty(0)])}
    if any(s.e is not None for s in scans):
        table["e"] = np.concatenate(
            [s.e if s.e is not None else np.full(len(s), np.nan) for s in scans])
    return pandas.DataFrame(table)


def plain(value: Any) -> Any:
    """Metadata as plain, mutable values: attrs are the caller's to change."""
    if isinstance(value, dict):
        return {k: plain(v) for k, v in value.items()}
    return np.array(value) if isinstance(value, np.ndarray) else value


def same(a: Any, b: Any) -> bool:
    if isinstance(a, np.ndarray) or isinstance(b, np.ndarray):
        return isinstance(a, np.ndarray) and isinstance(b, np.ndarray) and np.array_equal(a, b)
    return type(a) is type(b) and a == b


def common(metas: list) -> dict:
    """The keys every one of `metas` states alike; of a dict (axes, header), its common keys."""
    out = {}
    for key, value in metas[0].items():
        others = [m.get(key) for m in metas[1:]]
        if isinstance(value, dict) and all(isinstance(o, dict) for o in others):
            inner = common([value] + others)
            if inner:
                out[key] = inner
        elif all(same(value, o) for o in others):
            out[key] = plain(value)
    return out


def attrs(measurement_meta: Any, scans: list, source: str, format: str) -> dict:
    out = plain(measurement_meta)
    out.update(common([s.meta for s in scans]))
    out.update(source=source, format=format)
    lam = wavelength(scans[0])
    if lam is not None and all(wavelength(s) == lam for s in scans):
        out["wavelength_used"] = lam
    return out


def scan_array(scan: Any, xarray: Any = None) -> Any:
    xarray = xarray or need("xarray", "xarray", "to_xarray")
    name = scan.meta.get("x_axis") or "x"
    coords = {name: (name, np.array(scan.x))}
    if scan.e is not None:
        coords["e"] = (name, np.array(scan.e))
    outer = scan._outer
    meta = outer.meta if outer is not None else {}
    return xarray.DataArray(
        np.array(scan.y), dims=(name,), coords=coords, name="intensity",
        attrs=attrs(meta, [scan], outer.source if outer else "", outer.format if outer else ""))


def measurement_array(measurement: Any) -> Any:
    xarray = need("xarray", "xarray", "to_xarray")
    scans = measurement.scans
    if len(scans) == 1:
        return scan_array(scans[0], xarray)
    found = map_layout(scans)
    if isinstance(found, str):
        raise ValueError(f"{measurement.source or '<bytes>'}: its {len(scans)} scans form no map "
                         f"({found}); take one with scans[i].to_xarray()")
    return map_array(xarray, measurement, found)


# Names of the axes that matter to the coplanar geometry, whatever a file calls them. θ is ω
# where no ω is named: Bruker's θ/θ drives name the incidence angle so.
KINDS = {"omega": "Omega", "om": "Omega", "2theta": "2Theta", "twotheta": "2Theta",
         "tth": "2Theta", "2th": "2Theta", "theta": "Theta"}


def kind(name: str) -> str:
    return KINDS.get(re.sub(r"[^0-9a-z]", "", name.lower()), name)


def positions(scans: list, name: str) -> Optional[np.ndarray]:
    """The axis `name` per point of every scan (rows: scans), or None where a scan lacks it."""
    rows = []
    for scan in scans:
        value = (scan.meta.get("axes") or {}).get(name)
        if value is None:
            return None
        rows.append(np.broadcast_to(np.asarray(value, dtype=np.float64), scan.x.shape))
    return np.array(rows)


def map_layout(scans: list) -> Any:
    """The stepping axis of scans that form a map, as (name, per-point positions), or the
    reason they form none."""
    if len({len(s) for s in scans}) != 1 or len(scans[0]) < 2:
        return "their point counts differ"
    axis = scans[0].meta.get("x_axis")
    if any(s.meta.get("x_axis") != axis for s in scans):
        return "their x axes differ"
    stepped = []
    for name in scans[0].meta.get("axes") or {}:
        grid = positions(scans, name)
        if grid is not None and len(set(grid[:, 0])) == len(scans):  # one position a scan
            fixed = bool(np.all(grid == grid[:, :1]))
            stepped.append((not fixed, name, grid))
    if not stepped:
        return "no axis steps from scan to scan"
    _, name, grid = min(stepped, key=lambda found: found[0])  # a fixed axis before a moving one
    x = np.array([s.x for s in scans])
    step = abs(x[0, -1] - x[0, 0]) / (x.shape[1] - 1)
    rocking = axis == "Omega" and kind(name) == "2Theta"  # ω windows follow 2θ / 2
    if not rocking and np.max(np.abs(x[:, [0, -1]] - x[0, [0, -1]])) > step / 2:
        return "their x ranges differ"
    return name, grid


def per_point(kind_wanted: str, axis: str, x: np.ndarray, name: str, grid: np.ndarray,
              scans: list) -> Optional[np.ndarray]:
    """Positions of the ω or 2θ drive at every point: x's, the stepping axis', or the axes'."""
    if kind(axis) == kind_wanted:
        return x
    if kind(name) == kind_wanted:
        return grid
    for other in scans[0].meta.get("axes") or {}:
        if kind(other) == kind_wanted:
            return positions(scans, other)
    return None


def coplanar_q(omega: np.ndarray, two_theta: np.ndarray, lam: np.ndarray) -> tuple:
    """qx, qz in Å⁻¹ of the coplanar geometry, the angles in degrees."""
    k = 2.0 * np.pi / lam
    w, exit_angle = np.radians(omega), np.radians(two_theta - omega)
    return k * (np.cos(w) - np.cos(exit_angle)), k * (np.sin(w) + np.sin(exit_angle))


def map_array(xarray: Any, measurement: Any, layout: tuple) -> Any:
    scans = measurement.scans
    name, grid = layout
    axis = scans[0].meta.get("x_axis") or "x"
    x = np.array([s.x for s in scans])
    dims = (name, axis)
    coords: dict = {name: (name, grid[:, 0].copy())}
    if not np.all(grid == grid[:, :1]):
        coords[name + "_positions"] = (dims, grid)
    if np.all(x == x[0]):
        coords[axis] = (axis, x[0].copy())
    else:
        coords[axis + "_positions"] = (dims, x)
    if all(s.e is not None for s in scans):
        coords["e"] = (dims, np.array([s.e for s in scans]))
    omega = per_point("Omega", axis, x, name, grid, scans)
    if omega is None:
        omega = per_point("Theta", axis, x, name, grid, scans)
    two_theta = per_point("2Theta", axis, x, name, grid, scans)
    lam = [wavelength(s) for s in scans]
    if omega is not None and two_theta is not None and None not in lam:
        qx, qz = coplanar_q(omega, two_theta, np.array(lam)[:, None])
        coords["qx"], coords["qz"] = (dims, qx), (dims, qz)
    return xarray.DataArray(
        np.array([s.y for s in scans]), dims=dims, coords=coords, name="intensity",
        attrs=attrs(measurement.meta, scans, measurement.source, measurement.format))
