"""Puts the freshly built module first on the path and offers the shared real-data files."""

import csv
import os
import pathlib
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD_DIR = pathlib.Path(os.environ.get("MORVEX_BUILD_DIR", ROOT / "build"))
REALDATA = ROOT.parent / "shared" / "realdata"

# MORVEX_INSTALLED=1 tests whatever `import morvex` finds (an installed wheel) instead; the
# converter package then comes from the installation too.
if not os.environ.get("MORVEX_INSTALLED"):
    sys.path[:0] = [str(BUILD_DIR), str(ROOT / "src")]


def pytest_configure(config):
    # The minute-long hostile loads: `-m "not slow"` leaves them out of a quick local run;
    # CI runs everything.
    config.addinivalue_line("markers", "slow: a heavy load that takes seconds")


def load_truth():
    """Rows of realdata/truth.tsv keyed by their path, or {} when the files are absent."""
    table = REALDATA / "truth.tsv"
    if not table.exists():
        return {}
    with table.open(newline="", encoding="utf-8") as f:
        return {row["path"]: row for row in csv.DictReader(f, delimiter="\t")}


@pytest.fixture(scope="session")
def truth():
    rows = load_truth()
    if not rows:
        pytest.skip("shared real-data files are not available")
    return rows


@pytest.fixture(scope="session")
def realdata():
    if not REALDATA.exists():
        pytest.skip("shared real-data files are not available")
    return REALDATA
