"""morvex-convert keeps its outputs true to their inputs: names, reruns, headers, odd files and
names, a dead worker, a dead command, a dataset's last part."""

import json
import os
import pathlib
import signal
import subprocess
import time

import pytest

import morvexio
from morvex_convert.cli import main
from test_convert import command, files, run

GSAS = "BANK 1 1 1 CONS 100 1 0 0 FXYE\n100 4 1\n"


def summary(text):
    return text.rsplit(" in ", 1)[0]


def test_names_reruns_and_own_outputs(tmp_path, capsys):
    (d := tmp_path / "d").mkdir()
    for name, text in [("PB.XRA", GSAS), ("PB.cwn", GSAS), ("a.xy", "1 2\n"), ("b.xy", "3 4\n"),
                       ("notes.md", "x\n")]:
        (d / name).write_text(text)
    argv = ["-o", str(d), str(d)]  # twice: the second run meets the first one's outputs
    assert main(argv) == 0
    assert summary(capsys.readouterr().out) == ("4 converted, 0 unchanged, 0 skipped, 0 failed, "
                                                "of 5 files (passed over: 1 by extension)")
    own = [".morvex-outputs", "PB.XRA.xye", "PB.cwn.xye", "a.xye", "b.xye"]
    assert sorted(p.name for p in d.glob("*.xye")) == own[1:]
    (d / "a.xy").write_text("1 2\n5 6\n")
    os.utime(d / "b.xy", ns=(0, 0))
    assert main(["--verbose", *argv]) == 0
    printed = capsys.readouterr()
    assert summary(printed.out) == ("2 converted, 2 unchanged, 0 skipped, 0 failed, of 10 files "
                                    "(passed over: 5 the converter's own, 1 by extension)")
    assert sorted(printed.err.splitlines()) == sorted(
        [f"{d}/{name}: passed over: the converter's own" for name in own]
        + [f"{d}/notes.md: passed over: by extension", f"{d}/PB.XRA: unchanged",
           f"{d}/PB.cwn: unchanged"])
    assert (d / "a.xye").read_text().endswith("# columns: x y\n1.0 2.0\n5.0 6.0\n")


def test_headers_padded_scan_names_strict_json_and_version(tmp_path, capsys):
    (tmp_path / "ten.gsa").write_text("title\n" + "".join(
        f"BANK {k} 1 1 CONS 100 1 0 0 FXYE\n100 {k} 1\n" for k in range(1, 11)))
    (tmp_path / "nan.uxd").write_text("_WL1=nan\n_2THETACOUNTS\n10 5\n10.1 6\n")
    out = tmp_path / "out"
    assert main(["-o", str(out), str(tmp_path)]) == 0
    assert sorted(p.name for p in out.glob("ten*")) == [
        *(f"ten.scan{k:02d}.xye" for k in range(2, 11)), "ten.xye"]
    text = (out / "ten.scan02.xye").read_text()
    assert text.startswith(f"# source: {tmp_path}/ten.gsa\n# format: gsas\n# scan: 2 of 10\n")
    assert "\n# scan.bank: 2\n" in text and text.endswith("# columns: x y e\n1.0 2.0 1.0\n")
    assert "\n# measurement.wavelength_kalpha1: nan\n" in (out / "nan.xye").read_text()
    assert main(["-o", str(tmp_path / "j"), "--meta", "json", str(tmp_path / "nan.uxd")]) == 0
    sidecar = json.loads((tmp_path / "j" / "nan.json").read_text(), parse_constant=print)
    assert sidecar["measurement"]["wavelength_kalpha1"] is None
    assert "NaN" not in capsys.readouterr().out  # parse_constant saw no NaN
    with pytest.raises(SystemExit) as exit_:
        main(["--version"])
    assert (exit_.value.code, capsys.readouterr().out) == (
        0, f"morvex-convert {morvexio.__version__}\n")


@pytest.mark.parametrize("mode", [["-o", "out"], ["-o", "out", "--jobs", "2"],
                                  ["--to", "parquet", "-o", "ds", "--jobs", "2"]])
def test_only_regular_files_are_read(tmp_path, mode):
    (tree := tmp_path / "t").mkdir()
    (tree / "a.xy").write_text("1 2\n")
    os.mkfifo(tree / "fifo.xy")
    os.mkfifo(tmp_path / "named.xy")
    (tree / "zero.xy").symlink_to("/dev/zero")
    done = run(*mode, "t", "named.xy", cwd=tmp_path, timeout=60)  # a read would never end
    assert (done.returncode, done.stderr) == (1, "named.xy: OSError: not a regular file (a FIFO)\n")
    assert summary(done.stdout) == ("1 converted, 0 unchanged, 0 skipped, 1 failed, of 4 files "
                                    "(passed over: 2 not a regular file)")


@pytest.mark.parametrize("form", ["gsas", "parquet"])
def test_odd_names_convert_and_reports_escape_them(tmp_path, form):
    (tree := tmp_path / "t").mkdir()
    (tree / os.fsdecode(b"bad\xff.xy")).write_text("1 2\n")
    (tree / "x\ny.xy: ValueError: forged.xy").write_text("not data\n")
    out = tmp_path / "out"
    done = run("--to", form, "-o", out, tree)
    (line,) = done.stderr.splitlines()  # one line, however the name breaks
    assert line.startswith(f"{tree}/x\\ny.xy: ValueError: forged.xy: FormatError: ")
    assert done.stdout.startswith("1 converted, 0 unchanged, 0 skipped, 1 failed, of 2 files")
    if form == "parquet":
        import pyarrow.parquet as pq

        assert pq.read_table(out).column("source").to_pylist() == [f"{tree}/bad\\xff.xy"]
    else:
        text = (out / os.fsdecode(b"bad\xff.gsa")).read_text()
        assert text.startswith(f"morvex-convert of bad\\xff.xy, scan 1\n# source: {tree}/bad\\xff")


def children() -> dict[int, list[int]]:
    found: dict[int, list[int]] = {}
    for entry in pathlib.Path("/proc").glob("[0-9]*/stat"):
        try:
            state, parent = entry.read_text().rsplit(")", 1)[1].split()[:2]
        except OSError:
            continue
        if state != "Z":
            found.setdefault(int(parent), []).append(int(entry.parent.name))
    return found


def descendants(pid: int) -> list[int]:
    tree, found, todo = children(), [], [pid]
    while todo:
        below = tree.get(todo.pop(), [])
        found += below
        todo += below
    return found


@pytest.mark.parametrize("victim", ["worker", "command"])
def test_a_killed_worker_is_replaced_and_a_killed_command_leaves_no_process(tmp_path, victim):
    (tree := tmp_path / "t").mkdir()
    rows = "".join(f"{x / 7} {x}\n" for x in range(50_000))
    for k in range(40):
        (tree / f"s{k:02d}.xy").write_text(rows)
    argv, env = command()
    child = subprocess.Popen([*argv, "--jobs", "2", "-o", tmp_path / "out", tree], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    # The command's children: the resource tracker and the forkserver, the workers' parent.
    while child.poll() is None and not list((tmp_path / "out").glob("*.xye")):
        time.sleep(0.01)
    every = descendants(child.pid)
    if victim == "worker":
        workers = []
        while child.poll() is None and not workers:  # the pool may still be starting
            workers = [pid for parent in children().get(child.pid, [])
                       for pid in children().get(parent, [])]
            time.sleep(0.01)
        os.kill(workers[0], signal.SIGKILL)
        out, err = child.communicate(timeout=120)
        assert (child.returncode, err) == (0, "")
        assert out.startswith("40 converted, 0 unchanged, 0 skipped, 0 failed, of 40 files")
        return
    child.kill()
    child.wait()
    deadline = time.monotonic() + 10
    while (alive := set(every) & {p for ps in children().values() for p in ps}) and \
            time.monotonic() < deadline:
        time.sleep(0.1)
    assert len(every) >= 4 and not alive  # tracker, forkserver, two workers


def test_a_dataset_is_marked_complete_last_and_a_rerun_finishes_it(tmp_path, capsys):
    (tree := tmp_path / "t").mkdir()
    for k in range(9):  # two parts: 8 files and 1
        (tree / f"a{k}.xy").write_text(f"1 {k}\n")
    dataset = tmp_path / "ds"
    argv = ["--to", "parquet", "-o", str(dataset), str(tree)]
    assert main(argv) == 0
    whole = files(dataset)
    assert sorted(whole) == ["_SUCCESS", "part-00000.parquet", "part-00001.parquet"]
    (dataset / "_SUCCESS").unlink()  # as a run killed before its last part landed leaves it
    (dataset / "part-00001.parquet").unlink()
    capsys.readouterr()
    assert main(argv) == 0
    assert summary(capsys.readouterr().out) == "1 converted, 8 unchanged, 0 skipped, 0 failed, " \
                                               "of 9 files"
    assert files(dataset) == whole
    assert main(argv) == 2  # complete: refused without --force


def test_to_nexus_writes_one_file_of_every_scan_that_h5py_reads_back(tmp_path):
    import h5py  # the nexus extra, pinned in the test requirements

    source = tmp_path / "in" / "two.gsa"
    source.parent.mkdir()
    source.write_text("title\nBANK 1 2 1 CONST 1000 10 0 0 ESD\n1 1 2 1\n"
                      "BANK 2 2 1 CONST 2000 10 0 0 ESD\n3 1 4 1\n".replace("\n", " " * 60 + "\n"))
    done = run("--to", "nexus", "-o", tmp_path / "out", source)
    assert done.returncode == 0, done.stderr
    with h5py.File(tmp_path / "out" / "two.nxs") as f:
        assert [list(f["entry"][f"scan_{k}"]["intensity"]) for k in (0, 1)] == [[1, 2], [3, 4]]
    refused = run("--to", "nexus", "--meta", "json", source)
    assert refused.returncode == 2 and "keeps the metadata inside it" in refused.stderr
