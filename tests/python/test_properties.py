"""Properties of the number grammar and of column files, checked against a plain Python reading
of the rules the README gives (a regular expression for numbers, float() for their values)."""

import math
import re

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import morvex
from morvexio import rows_text

NUMBER = re.compile(r"[+-]?(?:(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?|inf|infinity|nan)", re.I)
# Unicode White_Space; Python's str.split also cuts at \x1c-\x1f, which are no white space.
WHITE = "\t\n\x0b\x0c\r \x85\xa0\u1680\u2000-\u200a\u2028\u2029\u202f\u205f\u3000"
LINE_PADDING = "1 1\n"  # four lines of it put 16 bytes before a token: the vector path

settings.register_profile("morvex", deadline=None,
                          suppress_health_check=[HealthCheck.too_slow])
settings.load_profile("morvex")


def bits(values):
    """Values compared bit for bit, but any NaN equal to any NaN of the same sign."""
    return [("nan", math.copysign(1, v)) if math.isnan(v) else (v, math.copysign(1, v))
            for v in values]


def plain_reading(text, comma):
    """x, y, e of a column file as the README states the rules, one line at a time."""
    xs, ys, es = [], [], []
    every_e = True
    cut = re.compile(f"[{WHITE}{',' if comma else ''}]+")
    for line in text.split("\n"):  # a "\r" before it is white space like any other
        tokens = [t for t in cut.split(line) if t]
        if not tokens or tokens[0][0] in "#!":
            continue
        if len(tokens) < 2 or not all(NUMBER.fullmatch(t) for t in tokens[:2]):
            continue
        xs.append(float(tokens[0]))
        ys.append(float(tokens[1]))
        if len(tokens) >= 3 and NUMBER.fullmatch(tokens[2]):
            es.append(float(tokens[2]))
        else:
            every_e = False
    return xs, ys, es if xs and every_e else None


def any_case(word):
    return st.tuples(*[st.sampled_from([c.lower(), c.upper()]) for c in word]).map("".join)


digits = st.text(alphabet="0123456789", max_size=24)
numerals = st.one_of(
    st.builds(lambda sign, whole, dot, fraction, exponent: sign + whole + dot + fraction + exponent,
              st.sampled_from(["", "+", "-"]), digits, st.sampled_from(["", "."]), digits,
              st.one_of(st.just(""), st.builds("".join, st.tuples(
                  st.sampled_from("eE"), st.sampled_from(["", "+", "-"]),
                  st.text(alphabet="0123456789", min_size=1, max_size=4))))),
    st.builds(lambda sign, word: sign + word, st.sampled_from(["", "+", "-"]),
              st.sampled_from(["inf", "infinity", "nan"]).flatmap(any_case)),
    st.floats().map(repr),
)
# Near misses: the grammar's own characters in any order, and a few that it never takes.
near_misses = st.text(alphabet="0123456789+-.eEinfatyINFATY_xd", min_size=1, max_size=14)


@given(token=st.one_of(numerals, near_misses), padding=st.integers(0, 5), as_y=st.booleans())
def test_a_token_is_a_number_exactly_when_the_grammar_says_and_as_float_rounds_it(
        token, padding, as_y):
    line = f"1 {token}\n" if as_y else f"{token} 1\n"
    pattern = morvex.read_bytes((LINE_PADDING * padding + line).encode(), "scan.xy")
    column = pattern.y if as_y else pattern.x
    if NUMBER.fullmatch(token):
        assert len(column) == padding + 1
        assert bits(column[-1:]) == bits([float(token)])
    else:
        assert len(column) == padding


cells = st.one_of(numerals, numerals, st.sampled_from(["abc", "n/a", "1e", "x1", "#1", "!", "1,5"]))
separators = st.sampled_from([" ", "\t", "   ", "\x0b", "\x0c", "\xa0", "\u2009", "\u3000",
                              "\u2028", ",", ", ", ",,"])


@st.composite
def column_files(draw):
    lines = []
    for _ in range(draw(st.integers(0, 12))):
        if draw(st.integers(0, 9)) == 0:
            lines.append(draw(st.sampled_from(["#", "!", " # "])) + draw(st.text(max_size=10))
                         .replace("\n", " ").replace("\r", " "))
            continue
        row = draw(st.lists(cells, max_size=5))
        gaps = draw(st.lists(separators, min_size=len(row) + 1, max_size=len(row) + 1))
        lead, trail = draw(st.booleans()), draw(st.booleans())
        text = (gaps[0] if lead else "") + "".join(
            cell + (gaps[k + 1] if k + 1 < len(row) or trail else "") for k, cell in enumerate(row))
        lines.append(text)
    end = draw(st.sampled_from(["\n", "\r\n"]))
    return end.join(lines) + (end if draw(st.booleans()) else "")


@settings(max_examples=200)
@given(text=column_files(), name=st.sampled_from(["scan.xy", "scan.xye", "scan.csv"]))
def test_column_files_read_as_the_plain_rules_say(text, name):
    comma = name.endswith(".csv")
    if not comma and "," in text:
        text = text.replace(",", " ")
    pattern = morvex.read_bytes(text.encode(), name)
    x, y, e = plain_reading(text, comma)
    assert bits(pattern.x) == bits(x)
    assert bits(pattern.y) == bits(y)
    assert (pattern.e is None, bits(pattern.e or [])) == (e is None, bits(e or []))


@given(rows=st.lists(st.tuples(st.floats(), st.floats()), max_size=50),
       separator=st.sampled_from([" ", ",", "\t"]))
def test_rows_text_writes_each_number_as_repr_does(rows, separator):
    x, y = (np.array([row[k] for row in rows], dtype=np.float64) for k in (0, 1))
    expected = "".join(f"{a!r}{separator}{b!r}\n" for a, b in rows)
    assert rows_text((x, y), separator).decode("ascii") == expected


def test_rows_text_takes_only_float64_columns_of_one_length():
    one = np.zeros(3)
    for columns, error in [((one, np.zeros(2)), ValueError), ((one.astype(np.float32),), TypeError),
                           ((np.zeros((3, 2)),), TypeError), ((one[::2],), ValueError),
                           (([1.0],), TypeError)]:
        with pytest.raises(error):
            rows_text(columns, " ")
