"""CSV column files: fields cut at commas and white space, the xy row rule, real files."""

import pytest

import morvex
from helpers import check_text_files_match_truth, loader


load = loader("scan.csv")


def columns(pattern):
    return pattern.x, pattern.y, pattern.e


# --- fields ----------------------------------------------------------------------------------


def test_empty_field_does_not_hold_its_place():
    # The empty field vanishes, so 3.2 becomes the third token: the uncertainty.
    assert columns(load("10.0,100,,3.2\n")) == ([10.0], [100.0], [3.2])


@pytest.mark.parametrize(
    "line",
    [
        "10.0;100",  # a semicolon is no separator
        "10,5;100,2",  # decimal commas: tokens 10, "5;100", 2
        '"10.0",100',  # quotes have no meaning
        "10.0,\"100\"",
        "two_theta,intensity",
        "1e,2",
        "10.0",
        ",,,",
        " , , ",
    ],
)
def test_lines_without_two_leading_numbers_are_skipped(line):
    assert columns(load(f"{line}\n1,2\n")) == ([1.0], [2.0], None)


def test_fourth_and_later_fields_are_ignored():
    assert columns(load("1,2,3,4,five\n")) == ([1.0], [2.0], [3.0])


@pytest.mark.parametrize("separator", ["\u00a0", "\u3000", "\u2009", "\x0b", "\x0c"])
def test_unicode_white_space_separates(separator):
    assert columns(load(f"1{separator}2\n")) == ([1.0], [2.0], None)


def test_white_space_file_loads_like_xy():
    text = "# title\n10\t100\t10\n10.02  110  10.5\n10.04 90 9.5\n"
    assert columns(load(text)) == columns(load(text, "scan.xy"))
    assert columns(load(text))[2] == [10.0, 10.5, 9.5]


# --- the uncertainty column ------------------------------------------------------------------


def test_three_fields_on_every_row_give_e():
    text = "10.0,100,3.2\n10.1,110,3.3\n"
    assert columns(load(text)) == ([10.0, 10.1], [100.0, 110.0], [3.2, 3.3])


def test_two_field_rows_give_no_e():
    assert columns(load("10.0,100\n10.1,110\n")) == ([10.0, 10.1], [100.0, 110.0], None)


@pytest.mark.parametrize("row", ["10.1,110,n/a", "10.1,110"])
def test_one_row_without_usable_third_field_drops_e(row):
    text = f"10.0,100,3.2\n{row}\n10.2,120,3.4\n"
    assert columns(load(text)) == ([10.0, 10.1, 10.2], [100.0, 110.0, 120.0], None)


# --- lines and input as a whole --------------------------------------------------------------


def test_comments_headers_and_blank_lines_are_skipped():
    text = (
        "# 2theta,intensity\n"
        "! instrument: made up\n"
        "   # indented comment\n"
        "\n"
        " \t \n"
        "two_theta,intensity\n"
        "[Scan points]\n"
        "Angle,Intensity\n"
        "5.0,1719.0\n"
        "; semicolon comment, 7, 8\n"
    )
    assert columns(load(text)) == ([5.0], [1719.0], None)


def test_comment_marker_after_a_field_does_not_make_a_comment():
    # Only a line that starts with "#" or "!" is a comment; here "#" is a third token.
    assert columns(load("1,2,#3\n")) == ([1.0], [2.0], None)


@pytest.mark.parametrize("text", ["", "\n", "# only a comment\n", "a,b\nc,d"])
def test_input_without_data_gives_empty_pattern(text):
    assert columns(load(text)) == ([], [], None)


def test_line_ends():
    assert columns(load("1,2\r\n3,4\n5,6")) == ([1.0, 3.0, 5.0], [2.0, 4.0, 6.0], None)
    # A lone "\r" ends no line: the numbers are all tokens of one line.
    assert columns(load("1,2\r3,4\r")) == ([1.0], [2.0], [3.0])


def test_byte_order_mark_at_start_is_skipped():
    # The line reader drops the encoding signature, so the first row keeps its point.
    assert columns(load(b"\xef\xbb\xbf1,2\n3,4\n")) == ([1.0, 3.0], [2.0, 4.0], None)


def test_invalid_utf8_fails_even_in_a_comment():
    with pytest.raises(OSError) as raised:
        load(b"# measured at 25\xb0C\n1,2\n")
    assert type(raised.value) is OSError
    assert str(raised.value) == "stream did not contain valid UTF-8"


def test_many_rows_across_buffers_match_python_floats(tmp_path):
    rows = [(f"{5 + k * 0.0167113:.9f}", f"{(k * 7919) % 100003}.0") for k in range(60_000)]
    text = "Angle,Intensity\n" + "".join(f"{a},{b}\n" for a, b in rows)
    path = tmp_path / "SCAN.CSV"
    path.write_text(text, encoding="utf-8")
    from_file = morvex.read(str(path))
    assert from_file.x == [float(a) for a, _ in rows]
    assert from_file.y == [float(b) for _, b in rows]
    assert columns(load(text)) == columns(from_file)


# --- real files ------------------------------------------------------------------------------


def test_real_files_match_truth(truth, realdata):
    check_text_files_match_truth(truth, realdata, "csv")


def test_instrument_header_lines_are_not_points(realdata):
    # An XPERT export: "Scan range,4.999999996,80.016886434" and "Generator voltage, 45" lead
    # with words, so only the rows after "[Scan points]" count.
    pattern = morvex.read(str(realdata / "csv" / "210520step1_30min.csv"))
    assert pattern.x[:2] == [5.00835563, 5.025066899]
    assert 4.999999996 not in pattern.x


def test_lone_number_line_is_skipped(realdata):
    # xylib's sample has a line holding only the point count, 3000: one token, no point.
    pattern = morvex.read(str(realdata / "csv" / "xylib_test4.csv"))
    assert 3000.0 not in pattern.x
    assert pattern.y[4] == -1.0000011
