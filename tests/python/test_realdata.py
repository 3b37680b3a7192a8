"""Every GSAS and Bruker RAW file of the shared real data reads as independent readers say; on
every real file, morvex gives the first pattern of what morvexio reads."""

import numpy as np
import pytest

import morvex
import morvexio
from conftest import load_truth
from helpers import check_against_truth

ROWS = sorted(path for path in load_truth() if path.split("/")[0] in ("gsas", "bruker_raw"))


@pytest.mark.parametrize("key", ROWS)
def test_matches_truth(truth, realdata, key):
    data = (realdata / key).read_bytes()
    if key.startswith("gsas/"):
        # GSAS files carry their own extensions; one holds a zero byte in its title, which
        # makes it binary to the sniff, so its title line is replaced.
        if b"\0" in data[:1024]:
            data = b"title" + data[data.index(b"\r\n"):]
        pattern = morvex.read_bytes(data, "scan.raw")
    else:
        pattern = morvex.read(str(realdata / key))
    check_against_truth(pattern, truth[key])


def _every_real_file():
    from conftest import REALDATA

    skipped = {"truth.tsv", "README.md"}
    return sorted(str(p.relative_to(REALDATA)) for p in REALDATA.rglob("*")
                  if p.is_file() and p.name not in skipped) if REALDATA.exists() else []


def _first_pattern(measurement):
    """The first-pattern rule applied to morvexio's reading: the first scan, except that a RASX
    archive gives its preferred profile wherever it stands."""
    if measurement.format == "rasx":
        for scan in measurement.scans:
            if scan.meta.get("entry") == "Data0/Profile0.txt":
                return scan
    return measurement.scans[0]


@pytest.mark.parametrize("key", _every_real_file())
def test_morvex_is_the_first_pattern_of_morvexio(realdata, key):
    try:
        pattern = morvex.read(str(realdata / key))
    except ValueError:  # by its contract: a name it does not read, or no 2θ start in an XRDML
        return
    scan = _first_pattern(morvexio.read(realdata / key))
    as_bytes = lambda values: np.asarray(values, dtype=np.float64).tobytes()  # noqa: E731
    assert (as_bytes(pattern.x), as_bytes(pattern.y)) == (scan.x.tobytes(), scan.y.tobytes())
    assert (pattern.e is None and scan.e is None) or as_bytes(pattern.e) == scan.e.tobytes()
