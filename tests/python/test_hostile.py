"""Hostile input: huge, deep, malformed and memory-starved loads, and loads from many threads.

Every load of any bytes must end in a Pattern or a clean Python exception: no crash, no
hang, no leak, and memory in proportion to what is kept. The heavy cases run in a child
interpreter, which lets a test measure its peak memory, cap its address space, or give up
on it after a generous time instead of hanging the suite.
"""

import array
import concurrent.futures
import io
import json
import os
import pathlib
import random
import struct
import subprocess
import sys
import textwrap
import zipfile

import pytest

import morvex

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples" / "data"
REALDATA = ROOT.parent / "shared" / "realdata"
MODULE_DIR = str(pathlib.Path(morvex.__file__).resolve().parent)

# Under AddressSanitizer memory figures are the sanitizer's, and an address-space cap
# cannot be set at all (the shadow memory alone exceeds it).
SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")

MB = 1024 * 1024
GSAS_HEADER = b"BANK 1 99999999 1 CONST 1000.00 2.00 0 0 STD\n"  # NCHAN bounds no test here




def run_child(body, timeout=300, **values):
    """Runs `body` in a fresh interpreter that has morvex importable and `values` (sent as
    JSON on its standard input) as globals; the child prints one JSON document, which is
    returned."""
    prologue = textwrap.dedent(f"""\
        import json, resource, sys
        sys.path.insert(0, {MODULE_DIR!r})
        import morvex
        globals().update(json.loads(sys.stdin.read()))

        def peak_mb():
            return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024

        def rss_mb():
            with open("/proc/self/statm") as f:
                return int(f.read().split()[1]) * resource.getpagesize() / 2**20

        def outcome(call):
            try:
                p = call()
                return {{"ok": len(p.x)}}
            except Exception as error:
                return {{"error": type(error).__name__, "message": str(error)}}
        """)
    completed = subprocess.run([sys.executable, "-c", prologue + textwrap.dedent(body)],
                               input=json.dumps(values), capture_output=True, text=True,
                               timeout=timeout)
    assert completed.returncode == 0, completed.stderr[-4000:]
    return json.loads(completed.stdout.strip().splitlines()[-1])


def same_pattern(p, q):
    """Bit for bit, so that NaN payloads and the sign of zero count."""
    def raw(values):
        return array.array("d", values).tobytes()
    return (raw(p.x) == raw(q.x) and raw(p.y) == raw(q.y)
            and (p.e is None) == (q.e is None) and (p.e is None or raw(p.e) == raw(q.e)))


def rasx_bytes(profile, name="Data0/Profile0.txt", level=9):
    """An archive holding `profile` (bytes or an iterable of byte chunks), DEFLATE-compressed."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED, compresslevel=level) as archive:
        with archive.open(name, "w", force_zip64=True) as entry:
            for chunk in ([profile] if isinstance(profile, bytes) else profile):
                entry.write(chunk)
    return buffer.getvalue()


def xrdml_bytes(intensities, start=b"10", end=b"20"):
    return (b'<?xml version="1.0" encoding="UTF-8"?>\n<xrdMeasurement><scan><dataPoints>'
            b'<positions axis="2Theta" unit="deg"><startPosition>' + start +
            b'</startPosition><endPosition>' + end + b'</endPosition></positions>'
            b'<intensities unit="counts">' + intensities + b'</intensities>'
            b'</dataPoints></scan></xrdMeasurement>\n')


# --- Decompression bombs -----------------------------------------------------------------

@pytest.fixture(scope="module")
def inflating_rasx(tmp_path_factory):
    """About 300 MB of profile text in an archive of well under 1 MB; one line in a thousand
    is a point."""
    filler = b"header text that holds no point at all, 0123456789\n" * 999
    block = filler + b"10.5 20.5\n"
    repeats = 300 * MB // len(block)
    path = tmp_path_factory.mktemp("bomb") / "bomb.rasx"
    path.write_bytes(rasx_bytes(block for _ in range(repeats)))
    return path, repeats


@pytest.mark.slow
def test_rasx_bomb_memory_follows_points_kept_not_text(inflating_rasx):
    path, points = inflating_rasx
    assert path.stat().st_size < 2 * MB
    result = run_child("""
        data = open(path, "rb").read()
        base = peak_mb()
        from_bytes = morvex.read_bytes(data, "bomb.rasx")
        from_file = morvex.read(path)
        print(json.dumps({"points": [len(from_bytes.x), len(from_file.x)],
                          "y": from_bytes.y[-1], "growth": peak_mb() - base}))
        """, path=str(path))
    assert result["points"] == [points, points]
    assert result["y"] == 20.5
    if not SANITIZED:
        # The points take well under 1 MB; the line reader keeps one 256 KiB buffer plus one line.
        assert result["growth"] < 48, result


# --- Long lines and long numbers --------------------------------------------------------

@pytest.mark.slow
@pytest.mark.parametrize("extension,prefix,x", [
    pytest.param("xy", b"1 ", [1.0], id="xy"), pytest.param("csv", b"1,", [1.0], id="csv"),
    # The blank keeps the line from the shape of an 8-column GSAS record.
    pytest.param("raw", GSAS_HEADER + b" ", [10.0], id="gsas")])
def test_one_line_of_100_mb_holding_one_number(tmp_path, extension, prefix, x):
    path = tmp_path / ("long." + extension)
    path.write_bytes(prefix + b"2" * (100 * MB))
    result = run_child("""
        base = peak_mb()
        p = morvex.read(path)
        print(json.dumps({"x": p.x, "y": repr(p.y), "growth": peak_mb() - base}))
        """, path=str(path))
    assert result["x"] == x and result["y"] == "[inf]"
    if not SANITIZED:
        # One line kept whole (with the slack of its growth), and nothing in proportion
        # to its digits besides.
        assert result["growth"] < 3 * 100, result


@pytest.mark.slow
@pytest.mark.parametrize("extension", ["xy", "csv"])
def test_one_line_of_100_mb_of_many_tokens(tmp_path, extension):
    # 25 million rows' worth of numbers on one line: the row rule takes the first three,
    # and no view is kept of the tokens it never reads.
    path = tmp_path / ("long." + extension)
    path.write_bytes(b"1 2 3 4 " * (100 * MB // 8))
    result = run_child("""
        base = peak_mb()
        p = morvex.read(path)
        print(json.dumps({"p": [p.x, p.y, p.e], "growth": peak_mb() - base}))
        """, path=str(path))
    assert result["p"] == [[1.0], [2.0], [3.0]]
    if not SANITIZED:
        assert result["growth"] < 3 * 100, result


@pytest.mark.slow
def test_gsas_bank_of_one_100_mb_line(tmp_path):
    # Every number is kept (8 bytes of y and 8 of x per 4 bytes of text), but no token list
    # of the line is built beside them.
    path = tmp_path / "long.raw"
    path.write_bytes(GSAS_HEADER + b"1 2 " * (100 * MB // 4))
    result = run_child("""
        base = peak_mb()
        p = morvex.read(path)
        growth = peak_mb() - base
        y = p.y
        print(json.dumps({"n": len(y), "last": y[-1], "growth": growth}))
        """, path=str(path))
    assert result["n"] == 50 * MB and result["last"] == 2.0
    if not SANITIZED:
        # The line (with the slack of its growth), x, and y with the slack of its growth.
        assert result["growth"] < 3 * 100 + 400 + 2 * 400, result


HALFWAY = "1.00000000000000011102230246251565404236316680908203125"  # 1 + 2**-53, exactly
MILLION = 10**6

LONG_NUMBERS = [
    ("1" + "0" * MILLION, float("inf")),
    ("-1" + "0" * MILLION + ".5", float("-inf")),
    ("0." + "0" * MILLION + "1", 0.0),
    ("1." + "0" * MILLION + "1", 1.0),
    ("0" * MILLION + "7", 7.0),
    (HALFWAY + "0" * MILLION, 1.0),  # a tie, to even
    (HALFWAY + "0" * MILLION + "1", 1.0000000000000002),  # just above the tie
    ("9" * MILLION + "e-999990", float("9" * MILLION + "e-999990")),
    ("1e" + "9" * MILLION, float("inf")),
    ("1e-" + "9" * MILLION, 0.0),
    ("0e" + "9" * MILLION, 0.0),
]


def long_number_lines(separator):
    return "".join(f"{i}{separator}{token}\n" for i, (token, _) in enumerate(LONG_NUMBERS))


def assert_long_numbers(values):
    expected = [value for _, value in LONG_NUMBERS]
    assert len(values) == len(expected)
    for got, want, (token, _) in zip(values, expected, LONG_NUMBERS):
        assert struct.pack("<d", got) == struct.pack("<d", want), token[:40]


@pytest.mark.parametrize("extension,separator", [("xy", " "), ("xye", "\t"), ("csv", ",")])
def test_numbers_with_a_million_digits_in_columns(extension, separator):
    p = morvex.read_bytes(long_number_lines(separator).encode(), "long." + extension)
    assert p.x == [float(i) for i in range(len(LONG_NUMBERS))]
    assert_long_numbers(p.y)


def test_numbers_with_a_million_digits_in_gsas_data():
    data = GSAS_HEADER + "\n".join(token for token, _ in LONG_NUMBERS).encode()
    p = morvex.read_bytes(data, "long.raw")
    assert p.x[:2] == [10.0, 10.02]
    assert_long_numbers(p.y)


def test_numbers_with_a_million_digits_in_a_rasx_profile():
    p = morvex.read_bytes(rasx_bytes(long_number_lines("\t").encode()), "long.rasx")
    assert_long_numbers(p.y)


def test_numbers_with_a_million_digits_in_xrdml_intensities():
    tokens = " ".join(token for token, _ in LONG_NUMBERS).encode()
    p = morvex.read_bytes(xrdml_bytes(tokens, start=b"1" + b"0" * MILLION + b"e-999999"),
                          "long.xrdml")
    assert p.x[0] == 10.0
    assert_long_numbers(p.y)


# --- Bruker: a search that must stay linear ---------------------------------------------

def dense_bruker_file(points=5_000_000, filler_bytes=20 * MB):
    """A Bruker file whose filler makes three offsets in four a count in range (76, 19456
    and 4980736) with a block that passes every sample, so each costs a full sampling."""
    start, step = 10.0, 5e-5
    header = b"RAW1.01" + b"\0" * 9 + struct.pack("<ddI", start, step, points)
    filler = bytes([76, 0, 0, 0]) * (filler_bytes // 4)
    intensities = struct.pack("<f", 1.0) * points
    return header + filler + intensities, start, step


@pytest.mark.slow
def test_bruker_five_million_points_among_dense_in_range_counts(tmp_path):
    data, start, step = dense_bruker_file()
    path = tmp_path / "dense.raw"
    path.write_bytes(data)
    # A search that sampled whole blocks would take hours here; a linear one, seconds.
    result = run_child("""
        out = {}
        for form, call in [("bytes", lambda: morvex.read_bytes(open(path, "rb").read(), "d.raw")),
                           ("file", lambda: morvex.read(path))]:
            p = call()
            out[form] = [len(p.x), p.x[0], p.x[-1], min(p.y), max(p.y), p.e is None]
        print(json.dumps(out))
        """, timeout=600, path=str(path))
    expected = [5_000_000, start, (5_000_000 - 1) * step + start, 1.0, 1.0, True]
    assert result == {"bytes": expected, "file": expected}


# --- Deep and wide XML ------------------------------------------------------------------

@pytest.mark.parametrize("document,outcome", [
    (b"<a>" * MILLION + xrdml_bytes(b"1 2 3").split(b"?>", 1)[1] + b"</a>" * MILLION,
     [10.0, 15.0, 20.0]),
    # The scan settles the result before the unclosed elements matter.
    (b"<a>" * MILLION + xrdml_bytes(b"1 2 3").split(b"?>", 1)[1], [10.0, 15.0, 20.0]),
    (b"<a>" * MILLION, "XRDML missing 2Theta start position"),
    (b"<a>" * MILLION + b"</b>", "XRDML parse error: "),
    (b"<positions axis='2Theta'>" * MILLION + b"<startPosition>1",
     "XRDML missing 2Theta end position"),
], ids=["closed", "left-open", "no-scan", "mismatched-end", "deep-positions"])
def test_xrdml_nested_a_million_elements_deep(document, outcome):
    if isinstance(outcome, list):
        assert morvex.read_bytes(document, "deep.xrdml").x == outcome
    else:
        with pytest.raises(ValueError) as caught:
            morvex.read_bytes(document, "deep.xrdml")
        assert str(caught.value).startswith(outcome)


def test_xrdml_tag_with_two_hundred_thousand_attributes():
    # Repeated names must be found without comparing every pair (which took minutes here).
    attributes = b"".join(b' a%d="%d"' % (i, i) for i in range(200_000))
    unique = xrdml_bytes(b"1 2").replace(b'axis="2Theta"', attributes + b' axis="2Theta"')
    repeated = xrdml_bytes(b"1 2").replace(b'axis="2Theta"', attributes + b' a0="x" axis="2Theta"')
    result = run_child("""
        print(json.dumps([outcome(lambda: morvex.read_bytes(d.encode("latin-1"), "w.xrdml"))
                          for d in documents]))
        """, timeout=60, documents=[unique.decode("latin-1"), repeated.decode("latin-1")])
    assert result[0] == {"ok": 2}
    assert result[1]["error"] == "ValueError"
    assert result[1]["message"].startswith("XRDML attribute error: ")


# --- ZIP directories that point anywhere ------------------------------------------------

def patched_archive(patch):
    """A small valid RASX archive with `patch(data, eocd, central)` applied to its bytes;
    eocd and central are the offsets of the end record and of the central directory."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("Data0/Profile0.txt", "10 1\n11 2\n")
    data = bytearray(buffer.getvalue())
    eocd = data.rindex(b"PK\x05\x06")
    central = struct.unpack_from("<I", data, eocd + 16)[0]
    patch(data, eocd, central)
    return bytes(data)


def set_u32(offset, value):
    return lambda data, eocd, central: struct.pack_into("<I", data, offset(eocd, central), value)


def set_u16(offset, value):
    return lambda data, eocd, central: struct.pack_into("<H", data, offset(eocd, central), value)


def insert_zip64_locator(data, eocd):
    """A zip64 end-record locator that sends the reader 4 EiB into the file."""
    data[eocd:eocd] = b"PK\x06\x07" + struct.pack("<IQI", 0, 2**62, 1)


BROKEN_DIRECTORIES = {
    "directory offset past the end": set_u32(lambda e, c: e + 16, 0x00100000),
    "directory offset at 4 GiB": set_u32(lambda e, c: e + 16, 0xFFFFFFF0),
    "directory size past the end": set_u32(lambda e, c: e + 12, 0x7FFFFFFF),
    "directory size of 4 GiB": set_u32(lambda e, c: e + 12, 0xFFFFFFFF),
    "entry count far too large": set_u16(lambda e, c: e + 10, 0xFFFF),
    "entries on this disk differ": set_u16(lambda e, c: e + 8, 7),
    "local header past the end": set_u32(lambda e, c: c + 42, 0x00100000),
    "local header at 4 GiB": set_u32(lambda e, c: c + 42, 0xFFFFFFFF),
    "compressed size past the end": set_u32(lambda e, c: c + 20, 0x7FFFFFFF),
    "uncompressed size of 4 GiB": set_u32(lambda e, c: c + 24, 0xFFFFFFFF),
    "name length past the directory": set_u16(lambda e, c: c + 28, 0xFFFF),
    "extra length past the directory": set_u16(lambda e, c: c + 30, 0xFFFF),
    "zip64 locator out of the file": lambda data, eocd, central: insert_zip64_locator(data, eocd),
}


@pytest.mark.parametrize("name", sorted(BROKEN_DIRECTORIES))
def test_zip_directory_pointing_outside_the_file(tmp_path, name):
    data = patched_archive(BROKEN_DIRECTORIES[name])
    path = tmp_path / "broken.rasx"
    path.write_bytes(data)
    outcomes = []
    for call in (lambda: morvex.read_bytes(data, "broken.rasx"), lambda: morvex.read(str(path))):
        try:
            p = call()
            outcomes.append(("ok", p.x, p.y))
        except (ValueError, OSError) as error:
            assert str(error) and str(error) != "Unknown format"
            outcomes.append((type(error).__name__, str(error)))
    # Damage is reported, never read past: the entry either loads whole or fails cleanly.
    assert outcomes[0][0] in ("ok", "ValueError", "OSError")
    if outcomes[0][0] == "ok":
        assert outcomes[0][1:] == ([10.0, 11.0], [1.0, 2.0])
    if outcomes[0][0] == "ValueError" and outcomes[1][0] == "ValueError":
        assert outcomes[0][1].split(":")[0] == outcomes[1][1].split(":")[0]


# --- Out of memory ----------------------------------------------------------------------

OUT_OF_MEMORY = """
    import resource
    data = open(path, "rb").read() if path else None
    def load():
        return morvex.read(path) if by_path else morvex.read_bytes(data, name)
    # Room for the input and a little more, far less than the pattern needs.
    with open("/proc/self/status") as f:
        vm = next(int(line.split()[1]) for line in f if line.startswith("VmSize:")) * 1024
    resource.setrlimit(resource.RLIMIT_AS, (vm + headroom * 2**20, resource.RLIM_INFINITY))
    first = outcome(load)
    # The allocator may keep what the first failures freed; count from a steady state.
    later = [outcome(load)]
    rss_before = rss_mb()
    later += [outcome(load) for _ in range(8)]
    small = outcome(lambda: morvex.read_bytes(b"1 2\\n3 4\\n", "small.xy"))
    print(json.dumps({"first": first, "later": later, "small": small,
                      "rss_growth": rss_mb() - rss_before}))
"""


def memory_starved(path, name, by_path, headroom):
    return run_child(OUT_OF_MEMORY, path=str(path), name=name, by_path=by_path,
                     headroom=headroom)


def write_rasx_points(path, points):
    path.write_bytes(rasx_bytes(b"1.5 2.5\n" * points, level=1))


def write_bruker(path, points):
    header = b"RAW1.01" + b"\0" * 9 + struct.pack("<ddI", 10.0, 1e-5, points)
    path.write_bytes(header + struct.pack("<f", 3.0) * points)


STARVED_LOADS = [
    # extension, writer, headroom in MB
    ("xy", lambda p: p.write_bytes(b"1 2\n" * 20_000_000), 200),
    ("csv", lambda p: p.write_bytes(b"1,2,3\n" * 12_000_000), 200),
    ("rasx", lambda p: write_rasx_points(p, 20_000_000), 200),
    ("xrdml", lambda p: p.write_bytes(xrdml_bytes(b"7 " * 20_000_000)), 200),
    ("gsas.raw", lambda p: p.write_bytes(GSAS_HEADER + b"1 2 3 4\n" * 10_000_000), 200),
    ("raw", lambda p: write_bruker(p, 5_000_000), 60),
]


@pytest.mark.slow
@pytest.mark.skipif(SANITIZED, reason="an address-space cap cannot coexist with the sanitizer")
@pytest.mark.parametrize("by_path", [False, True], ids=["bytes", "path"])
@pytest.mark.parametrize("extension,writer,headroom", [
    pytest.param(ext, writer, headroom, id=ext) for ext, writer, headroom in STARVED_LOADS])
def test_out_of_memory_is_memory_error_and_leaks_nothing(tmp_path, extension, writer,
                                                         headroom, by_path):
    path = tmp_path / ("big." + extension)
    writer(path)
    result = memory_starved(path, path.name, by_path, headroom)
    # A reader that holds its whole input may fail to get room for it: that is the one
    # out-of-memory case with a message of its own.
    expected = [{"error": "MemoryError", "message": ""}]
    if extension == "raw" and by_path:  # the Bruker reader
        expected.append({"error": "OSError", "message": "out of memory"})
    assert result["first"] in expected, result
    assert all(later == result["first"] for later in result["later"]), result
    assert result["small"] == {"ok": 2}
    # Eight more failed loads left nothing behind.
    assert result["rss_growth"] < 16, result


@pytest.mark.skipif(SANITIZED, reason="an address-space cap cannot coexist with the sanitizer")
@pytest.mark.parametrize("name", ["big.rasx", "big.brml"])
def test_an_archive_larger_than_memory_is_memory_error_in_morvexio(tmp_path, name):
    path = tmp_path / name
    with open(path, "wb") as f:  # sparse: a gibibyte that takes no disk
        f.write(b"PK\x03\x04Experiment0/")
        f.truncate(2**30)
    result = run_child("""
        import morvexio
        with open("/proc/self/status") as f:
            vm = next(int(line.split()[1]) for line in f if line.startswith("VmSize:")) * 1024
        resource.setrlimit(resource.RLIMIT_AS, (vm + 256 * 2**20, resource.RLIM_INFINITY))
        print(json.dumps(outcome(lambda: morvexio.read(path).scans[0])))
        """, path=str(path))
    assert result == {"error": "MemoryError", "message": ""}


# --- Threads ----------------------------------------------------------------------------

def sample_inputs():
    """(name, bytes, path) for every example and real file of a reader that is built, plus
    bytes that fail under each extension."""
    folders = {"xy": "xy", "xye": "xye", "csv": "csv", "gsas": "raw", "bruker_raw": "raw",
               "xrdml": "xrdml", "rasx": "rasx"}
    found = sorted(EXAMPLES.glob("*.*"))
    for folder in folders:
        if (REALDATA / folder).is_dir():
            found += sorted((REALDATA / folder).iterdir())
    samples = []
    for path in found:
        name = path.name
        if folders.get(path.parent.name) == "raw":
            name = path.stem + ".raw"
        samples.append((name, path.read_bytes(), str(path)))
    for extension in ["xy", "csv", "raw", "xrdml", "rasx"]:
        samples.append(("bad." + extension, b"\xff\xfe not what it claims \x00", None))
    return samples


def load_outcome(name, data, path):
    try:
        p = morvex.read(path) if path and name == pathlib.Path(path).name else \
            morvex.read_bytes(data, name)
        return ("ok", array.array("d", p.x).tobytes(), array.array("d", p.y).tobytes(),
                None if p.e is None else array.array("d", p.e).tobytes())
    except Exception as error:
        return (type(error).__name__, str(error))


def test_loads_from_many_threads_match_sequential_loads():
    samples = sample_inputs()
    expected = [load_outcome(*sample) for sample in samples]
    work = list(range(len(samples))) * 4
    random.Random(7).shuffle(work)
    with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
        got = list(pool.map(lambda i: (i, load_outcome(*samples[i])), work))
    mismatches = [samples[i][0] for i, outcome in got if outcome != expected[i]]
    assert not mismatches


def test_same_bytes_object_shared_by_many_threads():
    data = b"".join(b"%d.5 %d\n" % (i, i * 3) for i in range(20_000))
    reference = morvex.read_bytes(data, "shared.xy")
    with concurrent.futures.ThreadPoolExecutor(max_workers=6) as pool:
        patterns = list(pool.map(lambda _: morvex.read_bytes(data, "shared.xy"), range(60)))
    assert all(same_pattern(p, reference) for p in patterns)
