"""README.md against the module: every python snippet runs, and every message of the error
table is raised with exactly that class and text."""

import builtins
import glob
import io
import json
import os
import pathlib
import re
import struct
import subprocess
import sys
import zipfile

import pytest

import morvex
from helpers import assert_raises_exactly

ROOT = pathlib.Path(__file__).resolve().parents[2]
README = (ROOT / "README.md").read_text(encoding="utf-8")
REALDATA = ROOT.parent / "shared" / "realdata"
MODULE_DIR = str(pathlib.Path(morvex.__file__).parent)

SNIPPETS = [(README.count("\n", 0, m.start()) + 1, m.group(1))
            for m in re.finditer(r"^```python\n(.*?)^```", README, re.M | re.S)]


@pytest.mark.parametrize("line, snippet", SNIPPETS, ids=[f"line{n}" for n, _ in SNIPPETS])
def test_python_snippet_runs(line, snippet, monkeypatch):
    if "../shared/" in snippet and not REALDATA.exists():
        pytest.skip("shared real-data files are not available")
    monkeypatch.chdir(ROOT)
    exec(compile("\n" * line + snippet, "README.md", "exec"), {"__name__": "readme"})


# --- the error table ---------------------------------------------------------------------

def error_rows():
    """(exception name, exact messages, message prefixes) of each row. In the Message column a
    quoted text is a whole message, unless `+ detail` follows it; "(empty)" is the empty text."""
    section = README.split("\n## Errors\n", 1)[1].split("\n## ", 1)[0]
    rows = []
    for line in section.splitlines():
        if line.startswith("| `"):
            exception, cell = line.split("|")[1:3]
            quoted = re.findall(r'"([^"]*)"( \+ detail)?', cell)
            exact = [text for text, detail in quoted if not detail]
            if cell.strip() == "(empty)":
                exact = [""]
            rows.append((exception.strip(" `"), exact, [text for text, detail in quoted if detail]))
    return rows


def from_bytes(data, name):
    return lambda tmp: morvex.read_bytes(bytes(data), name)


def from_path(name, directory=False):
    def load(tmp):
        if directory:
            (tmp / name).mkdir()
        return morvex.read(str(tmp / name))
    return load


def zip_of(name, data, method=zipfile.ZIP_DEFLATED):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        archive.writestr(name, data, compress_type=method)
    return bytearray(buffer.getvalue())


def cut_bruker(tmp):
    path = REALDATA / "bruker_raw" / "LaB6_Jan2018.raw"
    if not path.exists():
        pytest.skip("shared real-data files are not available")
    data = path.read_bytes()
    return morvex.read_bytes(data[: len(data) // 2], path.name)


def in_child(code, python=sys.executable):
    """Runs code in a fresh interpreter with morvex on its path, and raises here the exception
    that code printed as [class name, text]."""
    script = f"import json, sys\nsys.path.insert(0, {MODULE_DIR!r})\nimport morvex\n{code}"
    out = subprocess.run([python, "-c", script], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0 and out.stdout, out.stderr
    name, message = json.loads(out.stdout.splitlines()[-1])
    raise getattr(builtins, name)(message)


def starved(setup, load):
    """load() under an address-space cap a little above what the process already uses."""
    def run(tmp):
        if "libasan" in os.environ.get("LD_PRELOAD", ""):
            pytest.skip("an address-space cap cannot coexist with the sanitizer")
        in_child(f"""
import resource
path = {str(tmp / "big.raw")!r}
{setup}
with open("/proc/self/status") as f:
    vm = next(int(line.split()[1]) for line in f if line.startswith("VmSize:")) * 1024
resource.setrlimit(resource.RLIMIT_AS, (vm + 16 * 2**20, resource.RLIM_INFINITY))
try:
    {load}
except Exception as error:
    print(json.dumps([type(error).__name__, str(error)]))
""")
    return run


def subinterpreter(isolated):
    """A subinterpreter imports morvex after the main one did. Only 3.12 and later have the
    isolated kind; 3.10 and 3.11 know the legacy one alone."""
    def run(tmp):
        python = sys.executable
        if isolated and sys.version_info < (3, 12):
            newer = sorted(glob.glob("/root/.pyenv/versions/3.1[2-9]*/bin/python3"))
            if not newer:
                pytest.skip("no CPython 3.12 or later on this machine")
            python = newer[0]
        inner = (f"import json, sys\nsys.path.insert(0, {MODULE_DIR!r})\ntry:\n import morvex\n"
                 "except ImportError as e:\n print(json.dumps(['ImportError', str(e)]))")
        in_child(f"""
try:
    import _interpreters as interpreters
except ImportError:
    import _xxsubinterpreters as interpreters
if sys.version_info < (3, 12):
    sub = interpreters.create()
elif sys.version_info < (3, 13):
    sub = interpreters.create(isolated={isolated})
else:
    sub = interpreters.create({"'isolated'" if isolated else "'legacy'"})
interpreters.run_string(sub, {inner!r})
""", python)
    return run


PROFILE = "Data0/Profile0.txt"
DEFLATE_DAMAGED = zip_of(PROFILE, "1 2\n" * 100)
DEFLATE_DAMAGED[30 + len(PROFILE)] = 0xFF  # the first block header: reserved block type
MULTI_DISK = zip_of(PROFILE, "1 2\n")
MULTI_DISK[-18] = 1  # number of this disk, in the end-of-central-directory record
NO_STEP = (b"RAW0" + b"\xff" * 12 + struct.pack("<ddI", 10.0, 0.0, 20) + b"\xff" * 4
           + struct.pack("<20f", *range(1, 21)))
POSITIONS = b'<positions axis="2Theta">'

# Every exact message of the table, with inputs that give it.
FAILURES = {
    "No such file or directory (os error 2)": [from_path("missing.xy"), from_path("missing.abc")],
    "Is a directory (os error 21)": [from_path("d.xy", True), from_path("d.csv", True),
                                     from_path("d.raw", True)],
    "strings passed to WinAPI cannot contain NULs": [from_path("a\0.xy")],
    "stream did not contain valid UTF-8": [
        from_bytes(b"# \xff\n1 2\n", "a.xy"),
        from_bytes(b"BANK 1 2 1 CONST 1 2 0 0\n1 \xff\n", "a.raw"),
        from_bytes(zip_of(PROFILE, b"1 2\n\xff\n"), "a.rasx")],
    "out of memory": [starved('with open(path, "wb") as f: f.write(b"RAW\\0"); f.truncate(1 << 30)',
                              "morvex.read(path)")],
    "Zlib error: data error": [from_bytes(DEFLATE_DAMAGED, "a.rasx")],
    "CRC error": [from_bytes(zip_of(PROFILE, "1 2\n", zipfile.ZIP_STORED).replace(b"1 2", b"1 3"),
                             "a.rasx")],
    "Unknown format": [from_bytes(b"", "a.abc"), from_bytes(b"1 2\n", "noextension"),
                       from_path("d", True), from_path("d.abc", True)],
    "BANK header not found in RAW file": [from_bytes(b"", "a.raw"),
                                          from_bytes(b"title\nBANK 1 2\n1 2\n", "a.raw")],
    "Invalid start": [from_bytes(b"BANK 1 2 1 CONST x 2 0 0\n1 2\n", "a.raw")],
    "Invalid step": [from_bytes(b"BANK 1 2 1 CONST 1 x 0 0\n1 2\n", "a.raw")],
    "Unsupported Bruker RAW header": [from_bytes(b"RAW\0", "a.raw"),
                                      from_bytes(b"RAX" + bytes(100), "a.raw"),
                                      from_bytes(b"RAW_1.06" + bytes(100), "a.raw")],
    "Failed to locate Bruker RAW data block": [from_bytes(b"RAW\0" + bytes(200), "a.raw")],
    "Failed to locate Bruker RAW start/step metadata": [from_bytes(NO_STEP, "a.raw")],
    "Bruker RAW intensity data truncated": [cut_bruker],
    "XRDML parse error: unexpected end of input inside a start tag at byte 0": [
        from_bytes(b"<a", "a.xrdml")],
    "XRDML parse error: read failed: Is a directory (os error 21) at byte 0": [
        from_path("d.xrdml", True)],
    "XRDML attribute error: attribute 'axis' repeated at byte 25": [
        from_bytes(b'<positions axis="2Theta" axis="x">', "a.xrdml")],
    "XRDML attribute decode error: invalid UTF-8 at byte 17": [
        from_bytes(b'<positions axis="\xff">', "a.xrdml")],
    "XRDML text decode error: invalid UTF-8 at byte 3": [from_bytes(b"<a>\xff</a>", "a.xrdml")],
    "XRDML invalid 2Theta start position": [
        from_bytes(POSITIONS + b"<startPosition>a</startPosition>", "a.xrdml")],
    "XRDML invalid 2Theta end position": [
        from_bytes(POSITIONS + b"<startPosition>1</startPosition><endPosition>b</endPosition>",
                   "a.xrdml")],
    "XRDML missing 2Theta start position": [from_bytes(b"<a/>", "a.xrdml")],
    "XRDML missing 2Theta end position": [
        from_bytes(POSITIONS + b"<startPosition>1</startPosition></positions>"
                   b"<intensities>1</intensities>", "a.xrdml")],
    "XRDML intensities not found": [
        from_bytes(POSITIONS + b"<startPosition>1</startPosition><endPosition>2</endPosition>"
                   b"</positions>", "a.xrdml")],
    "invalid Zip archive: Not a zip archive": [from_bytes(b"1 2\n", "a.rasx")],
    "unsupported Zip archive: Multi-disk zip archives not supported": [
        from_bytes(MULTI_DISK, "a.rasx")],
    "i/o error: Is a directory (os error 21)": [from_path("d.rasx", True)],
    "File not found in archive: Profile*.txt": [from_bytes(zip_of("a.txt", "1 2\n"), "a.rasx")],
    "": [starved('points = b"1 2\\n" * 2_000_000', 'morvex.read_bytes(points, "a.xy")')],
    "argument 'path': expected str, got 'int'": [lambda tmp: morvex.read(1)],
    "argument 'data': expected bytes, got 'bytearray'": [
        lambda tmp: morvex.read_bytes(bytearray(), "a.xy")],
    "argument 'filename': expected str, got 'NoneType'": [
        lambda tmp: morvex.read_bytes(b"", None)],
    "'utf-8' codec can't encode character '\\udc80' in position 0: surrogates not allowed": [
        lambda tmp: morvex.read("\udc80.xy"), lambda tmp: morvex.read_bytes(b"", "\udc80.xy")],
    "morvex does not support subinterpreters: it can only be imported once per process": [
        subinterpreter(isolated=False)],
    "module morvex does not support loading in subinterpreters": [subinterpreter(isolated=True)],
}


ROWS = error_rows()


@pytest.mark.parametrize("exception, exact, prefixes", ROWS,
                         ids=[f"{row[0]}:{row[1][0][:30] if row[1] else ''}" for row in ROWS])
def test_error_table_row(exception, exact, prefixes, tmp_path):
    assert exact, "the row quotes no whole message"
    for prefix in prefixes:
        assert any(message.startswith(prefix) for message in exact), prefix
    for n, message in enumerate(exact):
        assert message in FAILURES, f"no input here for {message!r}"
        for k, load in enumerate(FAILURES[message]):
            scratch = tmp_path / f"{n}-{k}"
            scratch.mkdir()
            assert_raises_exactly(getattr(builtins, exception), message, load, scratch)
