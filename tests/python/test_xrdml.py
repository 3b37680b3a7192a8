"""XRDML documents: 2θ start and end positions and the intensities of the first complete scan."""

import math
import pathlib

import pytest

import morvex
from helpers import loader


load = loader("scan.xrdml")


def error_of(text):
    with pytest.raises(ValueError) as caught:
        load(text)
    return str(caught.value)


def positions(start="10", end="20", axis="2Theta"):
    return (
        f'<positions axis="{axis}" unit="deg">'
        f"<startPosition>{start}</startPosition><endPosition>{end}</endPosition></positions>"
    )


def scan(start="10", end="20", values="1 2 3", axis="2Theta", tag="intensities"):
    return (
        f'<scan><dataPoints>{positions(start, end, axis)}'
        f'<beamAttenuationFactors>9 9 9</beamAttenuationFactors>'
        f'<{tag} unit="counts">{values}</{tag}></dataPoints></scan>'
    )


def document(*parts):
    return (
        '<?xml version="1.0" encoding="UTF-8"?>\n<xrdMeasurements><xrdMeasurement>'
        + "".join(parts)
        + "</xrdMeasurement></xrdMeasurements>\n"
    )


def xy(pattern):
    return pattern.x, pattern.y


def axis_of(start, end, count):
    """The positions by the documented formula, in Python floats (never fused)."""
    if count == 1:
        return [start]
    step = (end - start) / (float(count) + (-1.0))
    return [float(i) * step + start for i in range(count)]


# --- axis ----------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "start, end, values, expected_x",
    [
        ("10", "20", "7", [10.0]),
        ("10", "20", "1 2 3", [10.0, 15.0, 20.0]),
        ("20", "10", "1 2 3", [20.0, 15.0, 10.0]),
        ("10", "10", "1 2 3", [10.0, 10.0, 10.0]),
        ("-5", "5", "0 0", [-5.0, 5.0]),
    ],
)
def test_positions_are_spread_evenly_from_start_to_end(start, end, values, expected_x):
    pattern = load(document(scan(start, end, values)))
    assert pattern.x == expected_x
    assert pattern.y == [float(v) for v in values.split()]
    assert pattern.e is None


def test_each_position_is_index_times_step_plus_start():
    values = " ".join(["1"] * 750)
    pattern = load(document(scan("15.01", "29.99", values)))
    expected = axis_of(15.01, 29.99, 750)
    assert pattern.x == expected
    assert expected[-1] != 29.99  # the last position is computed, not forced to the end


def test_start_and_end_are_not_checked():
    assert load(document(scan("inf", "inf", "5"))).x == [math.inf]
    x = load(document(scan("nan", "1", "5 6"))).x
    assert all(math.isnan(v) for v in x)


# --- intensities ---------------------------------------------------------------------------


def test_tokens_that_are_not_numbers_are_skipped():
    assert xy(load(document(scan(values="1 2 abc 3")))) == ([10.0, 15.0, 20.0], [1.0, 2.0, 3.0])


def test_intensities_without_a_number_are_not_found():
    assert error_of(document(scan(values="abc def"))) == "XRDML intensities not found"
    assert error_of(document(scan(values=" \n "))) == "XRDML intensities not found"


def test_any_unicode_white_space_separates_intensities():
    assert load(document(scan(values="1\u00a02\u30003\u2028"))).y == [1.0, 2.0, 3.0]


@pytest.mark.parametrize("separator", [" ", "\n", "\u3000", " \u2003\t"])
def test_long_intensity_lists_lose_no_token(separator):
    values = [float(k % 977) + 0.25 for k in range(40000)]
    text = separator.join(f"{v:.2f}" for v in values)
    assert load(document(scan(values=text))).y == values


def test_intensity_values_keep_their_form():
    y = load(document(scan(values="1e3 -0.5 +7 .25 INF"))).y
    assert y == [1000.0, -0.5, 7.0, 0.25, math.inf]


@pytest.mark.parametrize(
    "values, expected_y",
    [
        ("1 2<!-- note -->3", [1.0, 2.0, 3.0]),
        ("12<!---->34", [12.0, 34.0]),  # each text event stands alone
        ("1 2&#32;3", [1.0, 2.0, 3.0]),
        ("4<![CDATA[1 2]]>5", [4.0, 5.0]),  # CDATA is never read
        ("4<?pi 1 2?>5", [4.0, 5.0]),
        ("1<sub>2</sub>3", [1.0, 2.0, 3.0]),  # values of nested elements count too
    ],
)
def test_text_events_of_the_intensities_each_give_tokens(values, expected_y):
    assert load(document(scan(values=values))).y == expected_y


def test_intensities_only_in_cdata_are_not_found():
    assert error_of(document(scan(values="<![CDATA[1 2 3]]>"))) == "XRDML intensities not found"


def test_schema_2_counts_are_read_like_intensities():
    assert xy(load(document(scan(tag="counts")))) == ([10.0, 15.0, 20.0], [1.0, 2.0, 3.0])
    assert xy(load(document(scan(tag="x:counts")))) == ([10.0, 15.0, 20.0], [1.0, 2.0, 3.0])


def test_capitalised_names_do_not_match():
    assert error_of(document(scan(tag="Intensities"))) == "XRDML intensities not found"
    bad = document(
        positions().replace("startPosition", "StartPosition"), "<intensities>1</intensities>"
    )
    assert error_of(bad) == "XRDML missing 2Theta start position"


# --- positions -----------------------------------------------------------------------------


@pytest.mark.parametrize(
    "start, end, message",
    [
        ("10 11", "20", "XRDML invalid 2Theta start position"),
        ("ten", "20", "XRDML invalid 2Theta start position"),
        ("10", "20 deg", "XRDML invalid 2Theta end position"),
        ("10", "1,5", "XRDML invalid 2Theta end position"),
    ],
)
def test_a_position_must_be_one_number(start, end, message):
    assert error_of(document(scan(start, end))) == message


def test_empty_positions_are_missing_unless_given_later():
    assert error_of(document(scan(start=" "))) == "XRDML missing 2Theta start position"
    assert error_of(document(scan(end=""))) == "XRDML missing 2Theta end position"
    later = document(positions(start=" "), positions(start="12"), "<intensities>1 2</intensities>")
    assert load(later).x == [12.0, 20.0]


def test_empty_element_positions_and_intensities_are_ignored():
    text = document(
        '<positions axis="2Theta"><startPosition/><startPosition>10</startPosition>'
        "<endPosition>20</endPosition></positions><intensities/><intensities>1 2</intensities>"
    )
    assert xy(load(text)) == ([10.0, 20.0], [1.0, 2.0])


def test_a_reference_splits_a_position_and_the_last_piece_stands():
    assert load(document(scan(start="10&#46;5", values="1 2"))).x == [5.0, 20.0]
    assert load(document(scan(start="1<!---->2", values="1 2"))).x == [2.0, 20.0]


def test_the_last_positions_before_the_settling_point_are_used():
    text = document(positions("1", "2"), positions("10", "20"), "<intensities>1 2</intensities>")
    assert load(text).x == [10.0, 20.0]


def test_position_elements_outside_positions_are_ignored():
    text = document(
        "<startPosition>99</startPosition>", positions(end="30"), "<endPosition>98</endPosition>",
        "<intensities>1 2</intensities>",
    )
    assert load(text).x == [10.0, 30.0]


# --- axis recognition ----------------------------------------------------------------------


@pytest.mark.parametrize("axis", ["2theta", " 2Theta", "2Theta ", "Omega", "2-Theta", ""])
def test_positions_of_other_axes_are_ignored(axis):
    assert error_of(document(scan(axis=axis))) == "XRDML missing 2Theta start position"


def test_other_axes_do_not_disturb_the_2theta_positions():
    text = document(
        positions("1", "2", axis="Omega"), positions("10", "20"), positions("3", "4", "Phi"),
        "<intensities>1 2</intensities>",
    )
    assert load(text).x == [10.0, 20.0]


@pytest.mark.parametrize("axis", ["2&#84;heta", "2&#x54;heta", "&#50;Theta"])
def test_axis_with_a_character_reference_is_recognised(axis):
    assert load(document(scan(axis=axis))).x == [10.0, 15.0, 20.0]


def test_axis_in_single_quotes():
    text = document(scan()).replace('axis="2Theta"', "axis='2Theta'")
    assert load(text).x == [10.0, 15.0, 20.0]


def test_prefixed_elements_load_but_a_prefixed_axis_does_not_count():
    text = (
        '<x:xrdMeasurements xmlns:x="http://www.xrdml.com/XRDMeasurement/1.5">'
        '<x:positions axis="2Theta"><x:startPosition>10</x:startPosition>'
        "<x:endPosition>20</x:endPosition></x:positions>"
        "<x:intensities>1 2 3</x:intensities></x:xrdMeasurements>"
    )
    assert xy(load(text)) == ([10.0, 15.0, 20.0], [1.0, 2.0, 3.0])
    prefixed_axis = text.replace('axis="2Theta"', 'x:axis="2Theta"')
    assert error_of(prefixed_axis) == "XRDML missing 2Theta start position"


def test_malformed_attributes_of_positions_are_errors():
    text = document(scan()).replace('unit="deg"', 'unit="deg" unit="rad"')
    offset = text.index('unit="rad"')
    assert error_of(text) == f"XRDML attribute error: attribute 'unit' repeated at byte {offset}"
    text = document(scan()).replace('unit="deg"', "unit=deg")
    offset = text.index("deg")
    assert error_of(text) == (
        f"XRDML attribute error: value of attribute 'unit' is not quoted at byte {offset}"
    )
    text = document(scan()).replace('unit="deg"', "unit")
    offset = text.index("unit>")
    assert error_of(text) == f"XRDML attribute error: attribute 'unit' without '=' at byte {offset}"


def test_malformed_attributes_elsewhere_go_unnoticed():
    text = document(scan()).replace("<scan>", '<scan a="1" a="2" b c=d>')
    assert load(text).y == [1.0, 2.0, 3.0]


def test_axis_values_that_cannot_be_decoded():
    text = document(scan(axis="2&theta;"))
    offset = text.index("&theta;")
    assert error_of(text) == (
        f"XRDML attribute decode error: unknown entity &theta; at byte {offset}"
    )
    text = document(scan(axis="2&#0;"))
    offset = text.index("&#0;")
    assert error_of(text) == (
        "XRDML attribute decode error: character reference &#0; is not an XML character"
        f" at byte {offset}"
    )
    data = document(scan(axis="2\udcb0Theta")).encode("utf-8", "surrogateescape")
    offset = data.index(b"\xb0")
    assert error_of(data) == f"XRDML attribute decode error: invalid UTF-8 at byte {offset}"


def test_only_the_axis_value_is_decoded():
    text = document(scan()).replace('unit="deg"', 'unit="&bogus;"')
    assert load(text).y == [1.0, 2.0, 3.0]


# --- scans and the settling point ----------------------------------------------------------


def test_the_first_complete_scan_settles_the_result():
    text = document(scan("10", "20", "1 2 3"), scan("30", "40", "7 8"))
    assert xy(load(text)) == ([10.0, 15.0, 20.0], [1.0, 2.0, 3.0])


def test_nothing_after_the_settling_point_is_read():
    first = document(scan())[: -len("</xrdMeasurement></xrdMeasurements>\n")]
    for rest in ["<scan><broken", "</nothing>", "&lone ampersand", "caf\udce9", "<a>\udcff</a>"]:
        data = (first + rest).encode("utf-8", "surrogateescape")
        assert load(data).y == [1.0, 2.0, 3.0]


def test_intensities_before_the_positions_are_kept():
    text = document("<intensities>1 2</intensities>", positions(), "<intensities>3</intensities>")
    assert xy(load(text)) == ([10.0, 15.0, 20.0], [1.0, 2.0, 3.0])
    # Without a later intensities element they are used at the end of the input.
    text = document("<intensities>1 2</intensities>", positions())
    assert xy(load(text)) == ([10.0, 20.0], [1.0, 2.0])


def test_values_of_every_intensities_element_before_the_settling_point_are_kept():
    text = document(
        scan(axis="Omega", values="5 6"), positions(), "<counts>7</counts>", scan("1", "2", "8")
    )
    assert load(text).y == [5.0, 6.0, 7.0]


# --- end of input ----------------------------------------------------------------------------


@pytest.mark.parametrize(
    "text, message",
    [
        ("", "XRDML missing 2Theta start position"),
        ("1 2 3\n4 5 6\n", "XRDML missing 2Theta start position"),
        (
            "<positions axis='2Theta'><startPosition>1</startPosition>",
            "XRDML missing 2Theta end position",
        ),
        (positions(), "XRDML intensities not found"),
        (positions() + "<intensities></intensities>", "XRDML intensities not found"),
    ],
)
def test_end_of_input_checks_in_order(text, message):
    assert error_of(text) == message


@pytest.mark.parametrize("tag", ["intensities", "counts", "x:counts"])
def test_input_cut_inside_the_intensities_fails(tag):
    text = document(scan(values="1 2 3 4", tag=tag))
    cut = text[: text.index("3 4")]
    offset = text.index(f"<{tag} ")
    assert error_of(cut) == (
        f"XRDML parse error: unexpected end of input inside <{tag}> at byte {offset}"
    )
    # Cut inside a child of the open intensities element: the same.
    cut = text.replace("3 4", "3 <x>4")[: text.index("4")]
    assert error_of(cut).startswith(f"XRDML parse error: unexpected end of input inside <{tag}>")


def test_input_cut_after_the_intensities_close_is_the_end_of_the_document():
    text = document("<intensities>1 2</intensities>", positions(), "<sample>")
    assert load(text[: text.index("<sample>") + 8]).y == [1.0, 2.0]


def test_input_cut_inside_markup_fails():
    text = document(scan())
    cut = text[: text.index("<endPosition>") + 4]
    offset = text.index("<endPosition>")
    assert error_of(cut) == (
        f"XRDML parse error: unexpected end of input inside a start tag at byte {offset}"
    )


# --- XML errors ------------------------------------------------------------------------------


def test_malformed_xml_before_the_settling_point_fails():
    text = document(scan(values="1 2 3</sub>"))
    offset = text.index("</sub>")
    assert error_of(text) == (
        "XRDML parse error: end tag </sub> does not match the open element <intensities>"
        f" at byte {offset}"
    )
    text = document("<sample>A & B</sample>", scan())
    offset = text.index("&")
    assert error_of(text) == f"XRDML parse error: '&' without a closing ';' at byte {offset}"


def test_end_tag_with_white_space_before_its_bracket():
    text = document(scan()).replace("</intensities>", "</intensities \n>")
    assert load(text).y == [1.0, 2.0, 3.0]


def test_invalid_utf8_in_any_text_before_the_settling_point_fails():
    text = document("<sample><name>caf\udce9</name></sample>", scan())
    data = text.encode("utf-8", "surrogateescape")
    offset = data.index(b"\xe9")
    assert error_of(data) == f"XRDML text decode error: invalid UTF-8 at byte {offset}"


@pytest.mark.parametrize(
    "part",
    [
        "<na\udce9me>x</na\udce9me>",  # element name
        "<!-- caf\udce9 -->",
        "<![CDATA[caf\udce9]]>",
        '<sample name="caf\udce9"/>',
        '<positions axis="Omega" unit="\udce9"/>',
    ],
)
def test_invalid_utf8_outside_text_goes_unnoticed(part):
    data = document(part, scan()).encode("utf-8", "surrogateescape")
    assert load(data).y == [1.0, 2.0, 3.0]


def test_byte_order_mark_and_declarations_are_passed_over():
    text = document(scan())
    assert xy(load("\ufeff" + text)) == xy(load(text))
    with_doctype = text.replace("?>\n", '?>\n<!DOCTYPE x [<!ENTITY e "v">]><?pi x?><!-- -- -->')
    assert xy(load(with_doctype)) == xy(load(text))


def test_encoding_in_the_declaration_is_not_honoured():
    text = document(scan()).replace("UTF-8", "ISO-8859-1")
    data = text.replace("<scan>", "<name>caf\udce9</name><scan>").encode("utf-8", "surrogateescape")
    assert error_of(data).startswith("XRDML text decode error: invalid UTF-8")


# --- files -----------------------------------------------------------------------------------


def test_file_and_bytes_load_alike(tmp_path):
    text = document(scan("15.01", "29.99", " ".join(str(i) for i in range(3000))))
    path = tmp_path / "big.XRDML"
    path.write_text(text, encoding="utf-8")
    assert xy(morvex.read(str(path))) == xy(load(text))


def test_read_failure_of_the_file_is_a_parse_error(tmp_path):
    folder = tmp_path / "folder.xrdml"
    folder.mkdir()
    with pytest.raises(ValueError) as caught:
        morvex.read(str(folder))
    message = str(caught.value)
    assert type(caught.value) is ValueError
    assert message.startswith("XRDML parse error: read failed: ")
    assert message.endswith("(os error 21) at byte 0")


def test_truncated_file_fails(tmp_path):
    text = document(scan(values=" ".join(["5"] * 20000)))
    path = tmp_path / "cut.xrdml"
    path.write_text(text[:20000], encoding="utf-8")
    expected = r"^XRDML parse error: unexpected end of input inside <intensities> at byte \d+$"
    with pytest.raises(ValueError, match=expected):
        morvex.read(str(path))


# --- real files ------------------------------------------------------------------------------

MESH = "xrdml/m82762_rc1mm_1_16dg_src_slit_phi-101_3dg_-420_mesh_long.xrdml"


def xrdml_rows(truth):
    return {path: row for path, row in truth.items() if path.startswith("xrdml/")}


def test_every_real_file_with_start_and_end_positions_matches(truth, realdata):
    rows = xrdml_rows(truth)
    assert len(rows) == 8
    for path, row in rows.items():
        if path == MESH:
            continue
        pattern = morvex.read(str(realdata / path))
        n = int(row["n_points"])
        assert len(pattern.x) == len(pattern.y) == n, path
        assert pattern.e is None
        assert pattern.x[0] == float(row["first_x"]), path
        assert pattern.x[-1] == pytest.approx(float(row["last_x"]), rel=1e-14, abs=0), path
        assert pattern.y[0] == float(row["first_y"]), path
        assert pattern.y[-1] == float(row["last_y"]), path
        assert pattern.x == axis_of(pattern.x[0], float(row["last_x"]), n), path
        assert xy(morvex.read_bytes((realdata / path).read_bytes(), path)) == xy(pattern)


def test_real_files_of_both_schemas(realdata):
    schema_1 = (realdata / "xrdml/xylib_empyrean.xrdml").read_text(encoding="utf-8")
    schema_2 = (realdata / "xrdml/xylib_examples.xrdml").read_text(encoding="utf-8")
    assert "<intensities" in schema_1 and "<counts" not in schema_1
    assert "<counts" in schema_2 and "<intensities" not in schema_2
    assert len(morvex.read(str(realdata / "xrdml/xylib_empyrean.xrdml")).y) == 196
    assert len(morvex.read(str(realdata / "xrdml/xylib_examples.xrdml")).y) == 3998


def test_mesh_file_has_no_start_position(realdata):
    # Its 101 scans give 2θ as a listPositions and never as start and end positions, so no
    # start position is ever found; the counts of all scans are read to the end of input.
    with pytest.raises(ValueError, match="^XRDML missing 2Theta start position$"):
        morvex.read(str(realdata / MESH))


def test_real_file_cut_inside_its_counts_fails(realdata):
    data = (realdata / "xrdml/xylib_examples.xrdml").read_bytes()
    cut = data[: data.index(b"<counts") + 200]
    expected = "^XRDML parse error: unexpected end of input inside <counts> at byte "
    with pytest.raises(ValueError, match=expected):
        morvex.read_bytes(cut, "cut.xrdml")



def test_bundled_example():
    path = pathlib.Path(__file__).resolve().parents[2] / "examples" / "data" / "synthetic.xrdml"
    pattern = morvex.read(str(path))
    assert pattern.x == axis_of(10.0, 20.0, 201)
    assert len(pattern.y) == 201 and pattern.e is None


# The position and intensities flags are single flags: an element nested in another of its name
# ends both, and any positions element ends the 2θ one.
@pytest.mark.parametrize("inner, x, y", [
    ('<positions axis="2Theta"><positions axis="Omega"></positions><startPosition>5'
     "</startPosition><endPosition>6</endPosition></positions>" + positions("1", "2")
     + "<intensities>1 2 3</intensities>", [1.0, 1.5, 2.0], [1.0, 2.0, 3.0]),
    (positions("1", "2") + "<intensities>7 <intensities>8</intensities> 9</intensities>",
     [1.0, 2.0], [7.0, 8.0]),
    ('<positions axis="2Theta"><startPosition>1<startPosition>3</startPosition>4</startPosition>'
     "<endPosition>2</endPosition></positions><intensities>1 2</intensities>", [3.0, 2.0],
     [1.0, 2.0]),
])
def test_nested_elements_of_one_name_share_one_flag(inner, x, y):
    pattern = load("<xrdMeasurements><xrdMeasurement><scan><dataPoints>" + inner
                   + "</dataPoints></scan></xrdMeasurement></xrdMeasurements>")
    assert (pattern.x, pattern.y) == (x, y)
