"""Loads run without the interpreter lock: other threads run meanwhile, and loads in threads
give what a loop gives, bit for bit."""

import os
import subprocess
import threading

import numpy as np
import pytest

import morvex
import morvexio


@pytest.mark.parametrize("read", [lambda p: morvex.read(str(p)).y, lambda p: morvexio.read(p)[0].y])
def test_a_thread_of_ours_feeds_a_fifo_another_thread_reads(tmp_path, read):
    # With the lock held by the blocked reader, the writer below could never run.
    fifo = tmp_path / "pipe.xy"
    os.mkfifo(fifo)
    # Should the lock stay held, this writer ends the wait and the load fails, not hangs.
    rescue = subprocess.Popen(["sh", "-c", f"sleep 20; : > '{fifo}'"])
    got = []
    reader = threading.Thread(target=lambda: got.append(list(read(fifo))))
    reader.start()
    try:
        with open(fifo, "w") as writer:
            writer.write("1 2\n3 4\n")
        reader.join(timeout=30)
    finally:
        rescue.kill()
        rescue.wait()
    assert got == [[2.0, 4.0]]


def test_a_writable_buffer_is_read_as_it_was_given():
    data = bytearray(b"1 2\n3 4\n")
    assert list(morvexio.read_bytes(data, "a.xy")[0].y) == [2.0, 4.0]
    assert list(morvexio.read_bytes(memoryview(data), "a.xy")[0].x) == [1.0, 3.0]


def _rows(count, seed):
    rng = np.random.default_rng(seed)
    x = np.cumsum(rng.random(count)) + 5
    return [f"{float(a)!r} {float(b)!r} {float(c)!r}"
            for a, b, c in zip(x, rng.random(count) * 1e4, rng.random(count))]


@pytest.mark.parametrize("change", ["none", "comment", "row without e", "word row", "blank lines"])
def test_a_large_file_read_in_parts_gives_every_number_as_one_reader_would(tmp_path, change):
    """Inputs of megabytes are read by a team, a part each: the join keeps every row in order,
    whatever line stops the plain rows in some part."""
    rows = _rows(60_000, seed=len(change))  # about 3 MB: parts in every buffer and in place
    where = len(rows) * 3 // 5
    rows[where] = {"none": rows[where], "comment": "# a comment", "blank lines": "\n\n",
                   "row without e": rows[where].rsplit(" ", 1)[0],
                   "word row": "n/a " + rows[where]}[change]
    path = tmp_path / "big.xye"
    path.write_text("\n".join(rows) + "\n")
    kept = [r.split() for r in rows if r.strip() and not r.startswith(("#", "n/a"))]
    want_x = np.array([float(r[0]) for r in kept])
    want_e = None if change == "row without e" else np.array([float(r[2]) for r in kept])
    for scan in (morvexio.read(path)[0], morvexio.read_bytes(path.read_bytes(), "big.xye")[0]):
        assert scan.x.tobytes() == want_x.tobytes()
        assert (scan.e is None) if want_e is None else scan.e.tobytes() == want_e.tobytes()
    assert np.array(morvex.read(str(path)).x).tobytes() == want_x.tobytes()


def test_read_many_gives_what_a_loop_gives_in_order_with_errors_in_place(tmp_path, realdata):
    files = sorted(p for p in realdata.rglob("*") if p.is_file())
    files[3:3] = [tmp_path / "missing.xy", tmp_path]  # an OSError and a directory's error
    many = morvexio.read_many(files * 2, threads=4)
    assert len(many) == 2 * len(files)
    for path, got in zip(files * 2, many):
        try:
            want = morvexio.read(path)
        except (OSError, morvexio.FormatError) as error:
            assert type(got) is type(error) and str(got) == str(error)
        else:
            assert got == want and got.source == want.source
    with pytest.raises(ValueError, match="threads must be at least 1, not 0"):
        morvexio.read_many(files, threads=0)
