"""GSAS text raw files through the public surface: the BANK header rules, the data of the
first bank, and the errors."""

import pytest

import morvex
import morvexio
from helpers import assert_raises_exactly, check_against_truth, loader

HEADER = b"BANK 1 4 1 CONST 1000.00 2.00 0 0 STD\n"


load = loader("scan.raw")


def assert_error(data, cls, message):
    assert_raises_exactly(cls, message, load, data)


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

    @pytest.mark.parametrize("nchan, count", [
        (b"2", 2), (b"2.0", 2), (b"5", 5), (b"9", 5),  # at most NCHAN values
        (b"9007199254740991", 5),  # sized by the input, not by a count it cannot hold
        (b"0", 5), (b"2.5", 5), (b"-2", 5), (b"n", 5),  # no count: every value
    ])
    def test_nchan_bounds_the_bank(self, nchan, count):
        p = load(b"BANK 1 " + nchan + b" 1 CONST 0 1 0 0 STD\n1 2 3\n4 5 x\n")
        assert p.y == [1.0, 2.0, 3.0, 4.0, 5.0][:count]

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
        header = b"BANK 1 5000 1 CONST 1000.00 2.00 0 0 STD\n"
        data = b"t\n" + header + b" ".join(str(k).encode() for k in range(5000)) + b"\n"
        path = tmp_path / "g.RAW"
        path.write_bytes(data)
        a, b = morvex.read(str(path)), load(data)
        assert (a.x, a.y) == (b.x, b.y)
        assert len(a.y) == 5000


class TestTypedLayouts:
    def test_esd_pairs_give_y_and_e(self):
        p = load(b"BANK 1 3 1 CONST 1000 2 0 0 ESD\n10 1 20 2\n30 3 0 0 0 0\n")
        assert p.y == [10.0, 20.0, 30.0]
        assert p.e == [1.0, 2.0, 3.0]
        assert p.x == [k * 0.02 + 10.0 for k in range(3)]

    def test_fxye_constant_binning_in_centidegrees(self):
        for binning in (b"CONST", b"CONS"):
            p = load(b"BANK 1 2 2 " + binning + b" 500 1 0 0 FXYE\n500 7 0.5\n501 8 0.6\n")
            assert (p.x, p.y, p.e) == ([5.0, 5.01], [7.0, 8.0], [0.5, 0.6])

    def test_fxye_other_binning_keeps_time_of_flight(self):
        p = load(b"BANK 1 2 2 SLOG 1000 2 0 0 FXYE\n2500.5 7 0.5\n2600 8 0.6\n")
        assert p.x == [2500.5, 2600.0]

    def test_alt_positions_are_divided_by_32(self):
        p = load(b"BANK 1 2 1 RALF 81743 65 81743 0.0008 ALT\n81743 2988 83 81808 3159 84\n")
        assert (p.x, p.y, p.e) == ([81743 / 32, 81808 / 32], [2988.0, 3159.0], [83.0, 84.0])

    def test_nchan_ends_the_points(self):
        data = b"BANK 1 2 1 CONST 0 1 0 0 ESD\n1 2 3 4\n5 6 7 8\n"
        p = load(data)
        assert (p.y, p.e) == ([1.0, 3.0], [2.0, 4.0])

    @pytest.mark.parametrize("nchan", [b"0", b"-2", b"2.5", b"abc", b"nan"])
    def test_unusable_nchan_keeps_every_point(self, nchan):
        p = load(b"BANK 1 " + nchan + b" 1 CONST 0 1 0 0 ESD\n1 2 3 4 5 6\n")
        assert p.y == [1.0, 3.0, 5.0]

    def test_cut_point_and_words_are_dropped(self):
        p = load(b"BANK 1 9 1 CONST 0 1 0 0 FXYE\n100 7 x 0.5\n200 8\n")
        assert (p.x, p.y, p.e) == ([1.0], [7.0], [0.5])

    @pytest.mark.parametrize("word", [b"STD", b"esd", b"XYE", b"ESDX"])
    def test_other_words_keep_every_number_an_intensity(self, word):
        p = load(b"BANK 1 5 1 CONST 0 1 0 0 " + word + b"\n1 2 3 4 5\n")
        assert p.y == [1.0, 2.0, 3.0, 4.0, 5.0]
        assert p.e is None

    def test_empty_typed_bank(self):
        p = load(b"BANK 1 5 1 CONST 0 1 0 0 ESD\n")
        assert (p.x, p.y, p.e) == ([], [], [])


class TestRecords:
    """Lines with the shape of a fixed-column record are read by their columns."""

    @pytest.mark.parametrize("lines, y", [
        # One- and two-digit counters, and a last short record.
        ([b" 1   162 1   178", b" 9    6910    86", b"10     5"], [162, 178, 69, 86, 5]),
        ([b"       0 1    12"], [0, 12]),  # blank counters beside counted fields
        # Free-form lines that only look like records: read by white space.
        ([b"   10 20"], [10, 20]),               # no counter anywhere
        ([b" 1   162 1  178"], [1, 162, 1, 178]),  # 15 columns
        ([b"1    162"], [1, 162]),                 # a digit then a blank is no counter
        ([b" 1  16 2"], [1, 16, 2]),               # two numbers in one field
        ([b" 1   16 x  17"], [1, 16, 17]),         # a field without a number
        ([b" 1  162  1   178"], [1, 162, 1, 178]),  # a field ends in a blank
    ])
    def test_std_counter_records(self, lines, y):
        p = load(b"BANK 1 99 1 CONST 0 1 0 0 STD\n" + b"\n".join(lines) + b"  \n")
        assert p.y == [float(v) for v in y]

    def test_padding_past_nchan_is_dropped(self):
        p = load(b"BANK 1 3 1 CONST 0 1 0 0\n" + b" 1     1 1     2 1     3 1     0 1     0\n")
        assert p.y == [1.0, 2.0, 3.0]

    @pytest.mark.parametrize("bank, line, x, y, e", [
        (b"CONST 0 1 0 0 ESD", b"123456781234.567     48.     9.5", [0.0, 0.01],
         [12345678.0, 48.0], [1234.567, 9.5]),
        (b"RALF 81743 65 81743 0.0008 ALT", b"  695753 16180810211      32      7    1",
         [695753 / 32, 1.0], [161808.0, 7.0], [10211.0, 1.0]),
    ])
    def test_touching_fields(self, bank, line, x, y, e):
        p = load(b"BANK 1 9 1 " + bank + b"\n" + line + b"\n")
        assert (p.x, p.y, p.e) == (x, y, e)


class TestRealFiles:
    """The real files carry extensions other than .raw (gsas, fxye, XRA, CWN, gss), which
    choose no reader; their bytes are read here under a .raw name."""

    def test_own_extensions_choose_no_reader(self, realdata):
        with pytest.raises(ValueError, match="^Unknown format$"):
            morvex.read(str(realdata / "gsas" / "11bmb_8714.fxye"))

    def test_title_with_zero_byte_goes_to_bruker_reader(self, truth, realdata):
        # LaMnO3_50k.gsas holds a zero byte in its title line, so the sniff takes it for a
        # binary file; the title is not valid UTF-8 either. With the title line replaced,
        # the ESD bank reads as the truth says.
        key = "gsas/LaMnO3_50k.gsas"
        data = (realdata / key).read_bytes()
        with pytest.raises(ValueError, match="^Unsupported Bruker RAW header$"):
            load(data)
        with pytest.raises(OSError, match="^stream did not contain valid UTF-8$"):
            load(data.replace(b"\x00", b" "))
        check_against_truth(load(b"title" + data[data.index(b"\r\n"):]), truth[key])



def records(field, per_record):
    """Two full 80-column records of the fields `field` makes of 0, 1, 2, ..."""
    return [b"".join(map(field, range(k, k + per_record))) for k in (0, per_record)]


def both_modules(data):
    """The one scan morvexio reads, once checked to be the pattern morvex reads."""
    p, (s,) = load(data), morvexio.read_bytes(data, "scan.raw").scans
    assert (list(s.x), list(s.y), None if s.e is None else list(s.e)) == (p.x, p.y, p.e)
    return s


class TestBanksOfRecords:
    """A bank read by its fixed columns is cut where its data stop inside a record, and whole
    where they stop at a record's end, whatever NCHAN says; the same rule in both modules."""

    @pytest.mark.parametrize("bank, lines, points, whole", [
        # Numbers as wide as their fields: a cut among a field's leading blanks ends the line
        # where a shorter record would.
        (b"CONST 2400 5 0 0", records(lambda v: b" 1%6d" % (v + 10**5), 10), 10, 40),
        (b"CONST 2400 5 0 0 STD", records(lambda v: b"%8d" % (v + 10**5), 10), 10, 40),
        (b"CONST 2400 5 0 0 ESD", records(lambda v: b"%8d" % (v + 10**5), 10), 5, 32),
        (b"RALF 3200 32 3200 0.0008 ALT",
         records(lambda v: b"%8d%7d%5d" % (v + 10**5, v + 10**5, v + 10**3), 4), 4, 40),
    ], ids=["std-counters", "std", "esd", "alt"])
    def test_cut_inside_a_record_is_refused(self, bank, lines, points, whole):
        data = b"title\r\nBANK 1 99 9 " + bank + b"\r\n" + b"\r\n".join(lines) + b"\r\n"
        for kept, end in [(23, b""), (23, b"\n"), (79, b""), (whole, b"")]:
            columns = len(lines[0][:kept].rstrip())
            message = f"GSAS bank 1 is cut inside a record at line 5, after column {columns}"
            assert_error(data + lines[0][:kept] + end, ValueError, message)
            with pytest.raises(morvexio.FormatError) as caught:
                morvexio.read_bytes(data + lines[0][:kept] + end, "c.gsa")
            assert str(caught.value) == f"c.gsa: {message} (at byte {len(data) + columns})"
        # Ended by a line break after a whole point, or a full record, the same bank loads.
        assert len(both_modules(data + lines[0][:whole] + b"\n\n").y) == (2 + whole / 80) * points
        assert len(both_modules(data + lines[0]).y) == 3 * points

    def test_bank_short_of_nchan_that_ends_whole_loads_with_the_stated_counts(self):
        lines = records(lambda v: b"%8d" % v, 10)
        data = b"t\nBANK 1 25 3 CONST 1000 2 0 0 STD\n" + lines[0] + b"\n" + lines[1][:40] + b"\n\n"
        s = both_modules(data)
        assert list(s.y) == list(range(15))
        assert s.meta["header"] == {"binning": "CONST", "NCHAN": 25.0, "NREC": 3.0}

    def test_free_token_bank_ends_where_its_tokens_end(self):
        data = b"BANK 1 4 1 CONS 1000 10 0 0 STD\n 1 2\n 3"
        assert load(data).y == [1.0, 2.0, 3.0]
        with pytest.raises(morvexio.FormatError, match="^c.gsa: GSAS bank 1 holds 3 of its 4 "):
            morvexio.read_bytes(data, "c.gsa")

    @pytest.mark.parametrize("keep", [10_800, -8, -23, -40])
    def test_cut_real_file_is_refused(self, realdata, keep):
        data = (realdata / "gsas" / "garnet.raw").read_bytes()[:keep]
        with pytest.raises(ValueError, match="^GSAS bank 1 is cut inside a record at line "):
            load(data)
        with pytest.raises(morvexio.FormatError, match="GSAS bank 1 is cut inside a record"):
            morvexio.read_bytes(data, "garnet.raw")


class TestScanMetadata:
    """What morvexio reports of each bank: the axis and the start and step the file states."""

    @pytest.mark.parametrize("bank, data, meta", [
        (b"CONST 1000 2 0 0 STD", b"5 6", ("2Theta", "deg", 10.0, 0.02)),
        (b"CONS 500 1 0 0 FXYE", b"500 7 0.5\n501 8 0.6", ("2Theta", "deg", 5.0, 0.01)),
        (b"RALF 81743 65 81743 0.0008 ALT", b"81743 2988 83 81808 3159 84",
         ("TOF", "us", 81743 / 32, 65 / 32)),
        (b"SLOG 2500 9000 0.001 0 FXYE", b"2500 7 0.5\n2502.5 8 0.6", ("TOF", "us", 2500.0, None)),
        (b"TIME_MAP 1 2 0 0 FXYE", b"2500 7 0.5\n2502.5 8 0.6", ("TOF", "us", None, None)),
    ])
    def test_axis_start_and_step(self, bank, data, meta):
        s = both_modules(b"t\nBANK 1 2 1 " + bank + b"\n" + data + b"\n")
        assert (s.meta["scan_axis"], s.meta["x_axis"], s.meta["x_unit"]) == meta[:1] * 2 + meta[1:2]
        assert (s.meta.get("start"), s.meta.get("step")) == meta[2:]
        assert s.meta["header"]["binning"] == bank.split()[0].decode()
