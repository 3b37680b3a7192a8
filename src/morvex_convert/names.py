"""File names as the converter prints and writes them.

A name may hold any byte but "/" and NUL: a line break that would print as a line of its own
(a forged report), or bytes that are not UTF-8, which no text output can hold as they are.
"""

import os

# What `ls -b` escapes by letter; other control characters as \xHH.
LETTERS = {"\\": "\\\\", "\a": "\\a", "\b": "\\b", "\t": "\\t", "\n": "\\n", "\v": "\\v",
           "\f": "\\f", "\r": "\\r"}


def escape(char: str) -> str:
    if char in LETTERS:
        return LETTERS[char]
    code = ord(char)
    if 0xDC80 <= code <= 0xDCFF:  # a byte that is not UTF-8, as os.fsdecode keeps it
        return f"\\x{code - 0xDC00:02x}"
    if code < 0x20 or 0x7F <= code < 0xA0 or 0xD800 <= code < 0xE000:
        return f"\\x{code:02x}" if code < 0x100 else f"\\u{code:04x}"
    return char


def shown(path: str) -> str:
    """A path for a report line, escaped as `ls -b` escapes it when it holds a backslash, a
    control character or a byte that is not UTF-8; as it is otherwise."""
    return "".join(map(escape, os.fsdecode(path)))


def printable(text: str) -> str:
    """A message on one line: control characters and undecodable bytes escaped, backslashes
    left (a message quotes names through repr already)."""
    return "".join(c if c == "\\" else escape(c) for c in text)


def text_of(path: str) -> str:
    """A path as UTF-8 text (a header, a Parquet column): bytes that are not UTF-8 as \\xHH,
    as morvexio's messages name them; everything else as it is."""
    return os.fsencode(path).decode("utf-8", "backslashreplace")
