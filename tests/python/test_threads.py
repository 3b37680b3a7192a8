"""Loads run without the interpreter lock: other threads run meanwhile, and loads in threads
give what a loop gives, bit for bit."""

import os
import subprocess
import threading

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
