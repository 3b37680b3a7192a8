"""Checks that several test files share: exact exceptions and agreement with truth.tsv."""

import pytest

import morvex


def loader(default_name):
    """A read_bytes under `default_name` (or another name) that takes bytes or text."""
    def load(data, name=default_name):
        return morvex.read_bytes(data.encode() if isinstance(data, str) else data, name)
    return load


def assert_raises_exactly(cls, message, function, *args):
    """function(*args) raises cls itself, not a subclass, with exactly this message."""
    with pytest.raises(cls) as info:
        function(*args)
    assert type(info.value) is cls
    assert str(info.value) == message


def check_against_truth(pattern, row):
    """The point count, both ends of x and y, and whether e exists, as a truth.tsv row has
    them; the ends to within rounding, as the row holds printed, rounded values."""
    assert len(pattern.x) == len(pattern.y) == int(row["n_points"])
    for got, want in ((pattern.x[0], row["first_x"]), (pattern.x[-1], row["last_x"]),
                      (pattern.y[0], row["first_y"]), (pattern.y[-1], row["last_y"])):
        assert got == pytest.approx(float(want), rel=1e-6, abs=1e-9)
    assert (pattern.e is not None) == (row["has_uncertainty_column"] == "yes")


def check_text_files_match_truth(truth, realdata, folder):
    """Every real file under folder/ reads to exactly the ends truth.tsv gives (text formats
    hold the numbers as written), has no e, and reads the same from its bytes."""
    rows = {path: row for path, row in truth.items() if path.startswith(folder + "/")}
    assert rows
    for relative, row in rows.items():
        path = realdata / relative
        pattern = morvex.read(str(path))
        assert len(pattern.x) == int(row["n_points"]), relative
        assert pattern.x[0] == float(row["first_x"]), relative
        assert pattern.x[-1] == float(row["last_x"]), relative
        assert pattern.y[0] == float(row["first_y"]), relative
        assert pattern.y[-1] == float(row["last_y"]), relative
        assert pattern.e is None, relative
        same = morvex.read_bytes(path.read_bytes(), path.name)
        assert (same.x, same.y, same.e) == (pattern.x, pattern.y, pattern.e), relative
