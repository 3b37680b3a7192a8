"""The metadata keys are declared once: the docs' tables, every key a reader sets on the real
files and the examples, and the converter's Parquet columns all agree with morvexio.keys()."""

import itertools

import numpy as np
import pyarrow as pa
import pytest

import morvexio
from conftest import ROOT
from morvex_convert.dataset import schema

KEYS = {key.name: key for key in morvexio.keys()}
TYPES = {"str": str, "float": float, "array": np.ndarray, "dict": dict}


def docs_table(heading):
    """The rows of the first table after `heading` in docs/metadata.md, as lists of cells."""
    text = (ROOT / "docs" / "metadata.md").read_text(encoding="utf-8")
    lines = text.split(heading, 1)[1].splitlines()
    first = next(i for i, line in enumerate(lines) if line.startswith("|"))
    rows = itertools.takewhile(lambda line: line.startswith("|"), lines[first + 2:])
    return [[cell.strip() for cell in row.strip("|").split("|")] for row in rows]


def docs_row(key):
    formats = [", ".join(f"`{name}`" for name in key.formats)] if key.formats else []
    return [f"`{key.name}`", ", ".join(filter(None, (key.type, key.unit))), *formats, key.meaning]


@pytest.mark.parametrize("heading, chosen", [
    ("## Measurement level", lambda key: not key.formats and key.level != "scan"),
    ("## Scan level", lambda key: not key.formats and key.level != "measurement"),
    ("Format-specific keys", lambda key: key.formats)], ids=["measurement", "scan", "format"])
def test_the_docs_tables_are_the_declaration(heading, chosen):
    assert docs_table(heading) == [docs_row(key) for key in KEYS.values() if chosen(key)]
    assert {key.type for key in KEYS.values()} <= set(TYPES)
    assert {f for key in KEYS.values() for f in key.formats} <= {f.name for f in morvexio.formats()}


def misplaced(measurement):
    """(level, key) of every key the measurement sets that the declaration does not allow there:
    undeclared, of another type, of another format, or a scan key at the measurement level."""
    metas = [("measurement", measurement.meta), *(("scan", s.meta) for s in measurement.scans)]
    return [(level, name) for level, meta in metas for name, value in meta.items()
            if (key := KEYS.get(name)) is None or not isinstance(value, TYPES[key.type])
            or (key.formats and measurement.format not in key.formats)
            or (level == "measurement" and key.level == "scan")]


@pytest.mark.parametrize("meta, scan_meta", [
    ({"scan_axis": "2Theta"}, {}), ({}, {"start": "5"}), ({}, {"bank": "1"}), ({}, {"foo": "1"})])
def test_a_key_out_of_its_declaration_is_caught(meta, scan_meta):
    measurement = morvexio.Measurement("rasx", meta, [morvexio.Scan([1.0], [2.0], None, scan_meta)])
    assert len(misplaced(measurement)) == 1


@pytest.mark.parametrize("folder", ["examples", "realdata"])
def test_every_key_a_reader_sets_is_declared(request, folder):
    root = request.getfixturevalue("realdata") if folder == "realdata" else ROOT / "examples/data"
    loaded = 0
    for path in sorted(p for p in root.rglob("*") if p.is_file()):
        try:
            measurement = morvexio.read(path)
        except morvexio.FormatError:  # not diffraction data (truth.tsv), or refused on purpose
            continue
        loaded += 1
        assert misplaced(measurement) == [], path
    assert loaded >= 7


def test_the_parquet_columns_are_the_declared_keys():
    columns = schema()
    own = {"source", "format", "scan", "scan_header", "other", "x", "y", "e"}
    assert set(columns.names) - own == set(KEYS)
    kinds = {"str": pa.string(), "float": pa.float64(), "array": pa.list_(pa.float64()),
             "dict": pa.string()}  # a table as JSON text
    assert all(columns.field(name).type == kinds[key.type] for name, key in KEYS.items())
    # Datasets written before the declaration hold these columns, in this order.
    assert " ".join(columns.names) == (
        "source format scan sample_name sample_id anode started scan_axis x_axis x_unit status "
        "bank entry mode block y_source scan_number command wavelength_kalpha1 wavelength_kalpha2 "
        "wavelength_kbeta kalpha2_ratio wavelength voltage_kv current_ma start step time_per_step_s "
        "scans_without_rows counting_time attenuation header scan_header axes columns other x y e")
