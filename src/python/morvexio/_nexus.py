"""A measurement as a NeXus (HDF5) file, its fields named as the NeXus base classes and FAIRmat's
powder-XRD application definition (NXxrd_pan) name them; h5py is imported when asked for."""

import os
import re
from typing import Any

import numpy as np

from . import _diffraction

DEFINITION = "NXxrd_pan"
# Measurement keys and the NXsource fields that hold them, with their units.
SOURCE_FIELDS = (
    ("anode", "xray_tube_material", None),
    ("voltage_kv", "xray_tube_voltage", "kV"),
    ("current_ma", "xray_tube_current", "mA"),
    ("wavelength_kalpha1", "k_alpha_one", "angstrom"),
    ("wavelength_kalpha2", "k_alpha_two", "angstrom"),
    ("wavelength_kbeta", "kbeta", "angstrom"),
    ("kalpha2_ratio", "ratio_k_alphatwo_k_alphaone", None),
    ("wavelength", "wavelength", "angstrom"),
)
# NXsource's own names for the tube's voltage and current, linked to the fields above.
SOURCE_LINKS = (("voltage", "xray_tube_voltage"), ("current", "xray_tube_current"))
# x axis kinds and the NXdata field names NXxrd_pan gives them.
AXIS_FIELDS = {"2Theta": "two_theta", "Omega": "omega", "Theta": "theta", "Chi": "chi",
               "Phi": "phi", "Psi": "psi", "TOF": "time_of_flight", "Q": "q", "d": "d_spacing",
               "Energy": "energy"}
UNITS = {"deg": "degree", "us": "microsecond"}


def field_name(word: str) -> str:
    """A key as an HDF5 name: no slash (a path separator there), never empty."""
    return re.sub(r"[/\x00]", "_", word) or "_"


def group(parent: Any, name: str, nx_class: str) -> Any:
    made = parent.create_group(name)
    made.attrs["NX_class"] = nx_class
    return made


def put(parent: Any, name: str, value: Any, units: Any = None) -> None:
    name = field_name(name)
    if name in parent:
        return  # two keys that differ only in a slash: the first stays
    if isinstance(value, dict):
        collection = group(parent, name, "NXcollection")
        for key, inner in value.items():
            put(collection, key, inner)
        return
    dataset = parent.create_dataset(name, data=np.asarray(value) if isinstance(value, np.ndarray)
                                    else value)
    if units:
        dataset.attrs["units"] = units


def write_source(instrument: Any, meta: Any) -> None:
    source = group(instrument, "source", "NXsource")
    source["probe"] = "x-ray"
    if "anode" in meta:
        source["type"] = "Fixed Tube X-ray"
    for key, name, units in SOURCE_FIELDS:
        if key in meta:
            put(source, name, meta[key], units)
    for name, target in SOURCE_LINKS:
        if target in source:
            source[name] = source[target]  # one dataset under both names


def write_sample(entry: Any, meta: Any) -> None:
    sample = group(entry, "sample", "NXsample")
    if "sample_name" in meta:
        sample["name"] = meta["sample_name"]
        sample["sample_name"] = sample["name"]
    if "sample_id" in meta:
        sample["sample_id"] = meta["sample_id"]


def write_scan(entry: Any, index: int, scan: Any) -> str:
    name = f"scan_{index}"
    data = group(entry, name, "NXdata")
    axis = scan.meta.get("x_axis")
    x_field = AXIS_FIELDS.get(axis, "x") if axis else "x"
    data.attrs["signal"] = "intensity"
    data.attrs["axes"] = x_field
    data.attrs[f"{x_field}_indices"] = 0
    data["intensity"] = np.asarray(scan.y)
    if scan.e is not None:
        data["intensity_errors"] = np.asarray(scan.e)
    put(data, x_field, np.asarray(scan.x), UNITS.get(scan.meta.get("x_unit", ""),
                                                      scan.meta.get("x_unit")))
    if axis:
        data[x_field].attrs["long_name"] = axis
    put(data, "metadata", dict(scan.meta))
    return name


def write(measurement: Any, path: Any) -> None:
    h5py = _diffraction.need("h5py", "nexus", "to_nexus")
    meta = measurement.meta
    with h5py.File(os.fspath(path), "w") as f:
        f.attrs["NX_class"] = "NXroot"
        f.attrs["default"] = "entry"
        f.attrs["creator"] = "morvexio"
        entry = group(f, "entry", "NXentry")
        entry["definition"] = DEFINITION
        entry["method"] = "X-Ray Diffraction (XRD)"
        entry["data_file"] = measurement.source
        entry["program_name"] = "morvexio"
        if "started" in meta:
            entry["start_time"] = meta["started"]
        if measurement.scans and "scan_axis" in measurement.scans[0].meta:
            entry["measurement_type"] = measurement.scans[0].meta["scan_axis"]
        instrument = group(entry, "instrument", "NXinstrument")
        write_source(instrument, meta)
        write_sample(entry, meta)
        names = [write_scan(entry, i, scan) for i, scan in enumerate(measurement.scans)]
        if names:
            entry.attrs["default"] = names[0]
        put(entry, "metadata", dict(meta))
