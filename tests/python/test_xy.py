"""The xy/xye column reader: skipped lines, the row rule, white space, line ends, the
byte-order mark, and real instrument files."""

import math
import pathlib
import subprocess
import sys

import pytest

import morvex
from helpers import loader


load = loader("scan.xye")


def columns(text, name="scan.xye"):
    pattern = load(text, name)
    return pattern.x, pattern.y, pattern.e


class TestSkippedLines:
    @pytest.mark.parametrize(
        "line",
        ["# 2theta intensity esd", "! title", "   # indented comment", "", "   ", "\t \u00a0",
         "2theta intensity esd", "; semicolon comment", "% percent", "Title 1 2",
         "10.0,100", "10.0 , 100", "\ufeff10 100", "'Id: \"\" Comment: \"x\"", "/* 1 2 */",
         "#1 2 3", "!1 2 3", "10", "abc 1 2", "1 abc 2", "\"10\" \"100\""],
    )
    def test_line_adds_nothing(self, line):
        assert columns(f"1 2 3\n{line}\n4 5 6\n") == ([1.0, 4.0], [2.0, 5.0], [3.0, 6.0])

    def test_empty_and_comment_only_inputs(self):
        for text in ("", "\n", "\r\n", "# a\n! b\n   # c\n\n", "x y z\n"):
            assert columns(text) == ([], [], None)


class TestRowRule:
    def test_three_columns(self):
        text = "10 100 10\n10.02 110 10.5\n10.04 90 9.5\n"
        assert columns(text) == ([10.0, 10.02, 10.04], [100.0, 110.0, 90.0], [10.0, 10.5, 9.5])

    def test_a_line_without_e_drops_e(self):
        assert columns("10 100 10\n10.02 110\n10.04 90 9.5\n") == (
            [10.0, 10.02, 10.04], [100.0, 110.0, 90.0], None)

    def test_an_unparsable_third_column_drops_e(self):
        assert columns("10 100 10\n10.02 110 n/a\n10.04 90 9.5\n") == (
            [10.0, 10.02, 10.04], [100.0, 110.0, 90.0], None)

    def test_further_columns_are_ignored(self):
        assert columns("1 2 3 4\n") == ([1.0], [2.0], [3.0])
        assert columns("1 2 3 x y z\n") == ([1.0], [2.0], [3.0])

    def test_e_is_decided_by_the_data_not_the_extension(self):
        for name in ("a.xy", "a.xye"):
            assert columns("1 2 3\n", name) == ([1.0], [2.0], [3.0])
            assert columns("1 2\n", name) == ([1.0], [2.0], None)

    def test_values_as_parsed(self):
        x, y, e = columns("3 -1 0\n1 nan 0\n1 inf -1e-3\n2 -Infinity +.5\n")
        assert x == [3.0, 1.0, 1.0, 2.0]  # not sorted, not de-duplicated
        assert y[0] == -1.0 and math.isnan(y[1]) and y[2] == math.inf and y[3] == -math.inf
        assert e == [0.0, 0.0, -0.001, 0.5]

    def test_point_one_written_out_in_full(self):
        x, _, _ = columns("0.1000000000000000055511151231257827021181583404541015625 1\n")
        assert x == [0.1]


class TestSeparatorsAndLineEnds:
    def test_look_alikes_do_not_separate(self):
        for joiner in ("\u200b", "\ufeff", "\u180e", "\x1f"):
            assert columns(f"10{joiner}100 5 1\n") == ([], [], None), repr(joiner)

    def test_line_ends(self):
        assert columns(b"1 2\r\n3 4\r\n") == ([1.0, 3.0], [2.0, 4.0], None)
        assert columns(b"1 2\n3 4") == ([1.0, 3.0], [2.0, 4.0], None)  # no final line end
        assert columns(b"1 2\r\n3 4\r") == ([1.0, 3.0], [2.0, 4.0], None)
        # A lone CR ends no line: the whole input is one line of tokens.
        assert columns(b"1 2 3\r4 5 6\r7 8 9\r") == ([1.0], [2.0], [3.0])

    def test_long_lines_and_many_points(self):
        comment = "# " + "x" * 100_000 + "\n"
        body = "".join(f"{k} {k * 2} {k % 7}\n" for k in range(50_000))
        x, y, e = columns(comment + body + comment)
        assert len(x) == 50_000 and x[-1] == 49_999.0 and y[-1] == 99_998.0 and e[-1] == 49_999 % 7


class TestByteOrderMark:
    def test_mark_at_the_start_keeps_the_first_point(self, tmp_path):
        data = b"\xef\xbb\xbf10 100 1\r\n11 110 2\r\n"
        assert columns(data) == ([10.0, 11.0], [100.0, 110.0], [1.0, 2.0])
        path = tmp_path / "bom.xy"
        path.write_bytes(data)
        pattern = morvex.read(str(path))
        assert (pattern.x, pattern.y, pattern.e) == ([10.0, 11.0], [100.0, 110.0], [1.0, 2.0])

    def test_mark_elsewhere_is_an_ordinary_character(self):
        assert columns(b"1 2\n\xef\xbb\xbf3 4\n") == ([1.0], [2.0], None)
        assert columns(b" \xef\xbb\xbf1 2\n3 4\n") == ([3.0], [4.0], None)
        assert columns(b"\xef\xbb\xbf\xef\xbb\xbf1 2\n3 4\n") == ([3.0], [4.0], None)

    def test_mark_before_a_comment(self):
        assert columns(b"\xef\xbb\xbf# title\n1 2\n") == ([1.0], [2.0], None)


def truth_rows(truth, folder):
    return {path: row for path, row in truth.items() if path.startswith(folder + "/")}


def check_against_truth(pattern, row):
    assert len(pattern.x) == len(pattern.y) == int(row["n_points"])
    assert pattern.x[0] == pytest.approx(float(row["first_x"]), rel=1e-12)
    assert pattern.x[-1] == pytest.approx(float(row["last_x"]), rel=1e-12)
    assert pattern.y[0] == pytest.approx(float(row["first_y"]), rel=1e-12)
    assert pattern.y[-1] == pytest.approx(float(row["last_y"]), rel=1e-12)
    assert (pattern.e is not None) == (row["has_uncertainty_column"] == "yes")
    if pattern.e is not None:
        assert len(pattern.e) == len(pattern.x)


class TestRealFiles:
    def test_every_xy_and_xye_file(self, truth, realdata):
        rows = {**truth_rows(truth, "xy"), **truth_rows(truth, "xye")}
        assert len(rows) >= 10
        checked = 0
        for relative, row in sorted(rows.items()):
            path = realdata / relative
            data = path.read_bytes()
            if path.suffix.lower() in (".xy", ".xye"):
                pattern = morvex.read(str(path))
                again = morvex.read_bytes(data, path.name)
                assert (pattern.x, pattern.y, pattern.e) == (again.x, again.y, again.e)
            else:
                # Not one of our extensions (acdata_Panalytical.ASC): the format is chosen by
                # the name alone, so read() refuses it, and its bytes load under an xy name.
                with pytest.raises(ValueError, match="^Unknown format$"):
                    morvex.read(str(path))
                pattern = morvex.read_bytes(data, path.stem + ".xy")
            check_against_truth(pattern, row)
            checked += 1
        assert checked == len(rows)


def test_memory_grows_with_points_not_with_the_file(tmp_path):
    # 48 MB of comment lines around three points: the reader streams through its buffer,
    # so the peak memory of a fresh process hardly moves.
    path = tmp_path / "big_comments.xy"
    comment = b"# " + b"c" * 998 + b"\n"
    with path.open("wb") as f:
        f.write(b"1 2\n")
        for _ in range(3):
            f.write(comment * 16_000)
            f.write(b"3 4\n")
    build = str(pathlib.Path(morvex.__file__).parent)
    script = f"""
import resource, sys
sys.path.insert(0, {build!r})
import morvex
morvex.read_bytes(b"1 2\\\\n", "warm.xy")
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
pattern = morvex.read({str(path)!r})
after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(len(pattern.x), after - before)
"""
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         timeout=120, check=True)
    points, growth_kib = map(int, out.stdout.split())
    assert points == 4
    assert growth_kib < 4096, f"peak memory grew by {growth_kib} KiB for a 48 MB file"
