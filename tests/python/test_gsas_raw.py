"""GSAS text raw files through the public surface: the BANK header rules, the data of the
first bank, and the errors."""

import pytest

import morvex

HEADER = b"BANK 1 4 1 CONST 1000.00 2.00 0 0 STD\n"


def load(data):
    return morvex.read_bytes(data, "scan.raw")


def assert_error(data, cls, message):
    with pytest.raises(cls) as info:
        load(data)
    assert type(info.value) is cls
    assert str(info.value) == message


class TestHeader:
    def test_title_then_header_then_data(self):
        p = load(b"Title line\n" + HEADER + b"   10 20 30\n40\n")
        assert p.y == [10.0, 20.0, 30.0, 40.0]
        assert p.x == [k * 0.02 + 10.0 for k in range(4)]
        assert p.x[3] == 10.06
        assert p.e is None

    @pytest.mark.parametrize("line", [
        b" BANK 1 4 1 CONST 1000 2 0 0",   # indented
        b"bank 1 4 1 CONST 1000 2 0 0",    # lower case
        b"Bank 1 4 1 CONST 1000 2 0 0",
        b"BANK 1 4 1 CONST 1000",          # 6 tokens
        b"BAN",
    ])
    def test_not_a_header(self, line):
        assert_error(line + b"\n1 2 3\n", ValueError, "BANK header not found in RAW file")

    def test_six_token_line_skipped_for_later_header(self):
        p = load(b"BANK 1 4 1 CONST 1000\n5 6\nBANK 1 4 1 CONST 300 5\n7 8\n")
        assert p.y == [7.0, 8.0]
        assert p.x == [3.0, 3.05]

    def test_word_starting_with_bank_is_a_header(self):
        p = load(b"BANKS a b c d 5 6\n1 2\n")
        assert p.x == [0.05, 1 * 0.06 + 0.05]

    def test_byte_order_mark_before_first_header_is_skipped(self):
        # The line reader drops an encoding signature at the very start, so the header is seen.
        assert load(b"\xef\xbb\xbf" + HEADER + b"1\n").y == [1.0]

    def test_counts_in_header_are_ignored(self):
        assert load(b"BANK 1 2 1 CONST 0 1 0 0 STD\n1 2 3 4 5\n").y == [1.0, 2.0, 3.0, 4.0, 5.0]

    def test_any_double_is_accepted_as_start_and_step(self):
        p = load(b"BANK 1 2 1 CONST -inf 0 0 0\n1 2\n")
        assert p.x == [float("-inf"), float("-inf")]


class TestHeaderErrors:
    @pytest.mark.parametrize("data, message", [
        (b"", "BANK header not found in RAW file"),
        (b"title\n\n", "BANK header not found in RAW file"),
        (b"BANK 1 4 1 CONST abc 2\n", "Invalid start"),
        (b"BANK 1 4 1 CONST 1000 -\n", "Invalid step"),
        (b"BANK 1 4 1 CONST x y\n", "Invalid start"),  # start is checked first
        (b"BANK 1 4 1 CONST 1,5 2\n", "Invalid start"),
    ])
    def test_messages(self, data, message):
        assert_error(data, ValueError, message)

    def test_invalid_utf8_before_header(self):
        assert_error(b"title \xb0\n" + HEADER, OSError, "stream did not contain valid UTF-8")


class TestData:
    def test_words_among_numbers_are_skipped(self):
        assert load(HEADER + b"12 cps 15\n1e2 abc\n").y == [12.0, 15.0, 100.0]

    def test_second_bank_ends_data_and_rest_is_never_read(self):
        data = HEADER + b"1 2\nBANK 2 4 1 CONST 0 1 0 0\n3 4\n\xff\xfe\n"
        assert load(data).y == [1.0, 2.0]

    def test_invalid_utf8_in_first_bank_fails(self):
        assert_error(HEADER + b"1 2\n3 \xb0 4\n", OSError, "stream did not contain valid UTF-8")

    def test_crlf_lines(self):
        assert load(b"title\r\n" + HEADER.replace(b"\n", b"\r\n") + b"1 2\r\n3\r\n").y == [
            1.0, 2.0, 3.0]

    def test_last_line_without_newline(self):
        assert load(HEADER + b"1 2\n3").y == [1.0, 2.0, 3.0]

    @pytest.mark.parametrize("data", [HEADER, HEADER + b"BANK 2 1 1 CONST 0 1\n5\n", HEADER + b"\n\n"])
    def test_empty_bank(self, data):
        p = load(data)
        assert (p.x, p.y, p.e) == ([], [], None)

    def test_file_and_bytes_agree(self, tmp_path):
        data = b"t\n" + HEADER + b" ".join(str(k).encode() for k in range(5000)) + b"\n"
        path = tmp_path / "g.RAW"
        path.write_bytes(data)
        a, b = morvex.read(str(path)), load(data)
        assert (a.x, a.y) == (b.x, b.y)
        assert len(a.y) == 5000
