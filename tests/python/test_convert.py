"""morvex-convert: the trees it writes, the exact text, failures, --as, and its three runners."""

import fcntl
import json
import os
import pathlib
import signal
import subprocess
import sys
import time

import numpy as np
import pytest
from distributed import LocalCluster

import morvex
import morvexio
from conftest import BUILD_DIR, ROOT
from morvex_convert.cli import main
from morvex_convert.convert import describe, scan_path
from morvex_convert.forms import EXTENSION, FORMS, centi
from morvex_convert.plan import EXTENSIONS


def command(extra_path=()):
    """The installed console script, or the package run from the source tree."""
    if os.environ.get("MORVEX_INSTALLED"):
        script = pathlib.Path(sys.executable).parent / "morvex-convert"
        assert script.exists(), "the wheel did not install the morvex-convert script"
        argv, path = [str(script)], list(extra_path)
    else:
        argv = [sys.executable, "-m", "morvex_convert"]
        path = [*extra_path, BUILD_DIR.resolve(), ROOT / "src"]  # cwd may change
    return argv, dict(os.environ, PYTHONPATH=os.pathsep.join(map(str, path)))


def run(*args, **options):
    argv, env = command()
    return subprocess.run([*argv, *map(str, args)], env=env, capture_output=True, text=True,
                          **options)


def exact(pattern):
    return [[v.hex() for v in values] for values in (pattern.x, pattern.y, pattern.e or [])]


def files(tree):
    """The outputs below tree (the journals left out: they record inodes and times)."""
    return {str(p.relative_to(tree)): p.read_bytes() for p in sorted(tree.rglob("*"))
            if p.is_file() and p.name != ".morvex-outputs"}


def output_stem(source, sources):
    """NAME, or NAME.EXT where another input in its folder has the same NAME."""
    same = [p for p in sources
            if p.parent == source.parent and p.stem.lower() == source.stem.lower()]
    return source.name if len(same) > 1 else source.stem


@pytest.fixture(scope="module")
def local_runs(realdata, tmp_path_factory):
    """form -> (output folder, finished process) of a two-process run, run when first asked."""
    runs = {}

    def of(form):
        if form not in runs:
            out = tmp_path_factory.mktemp(form)
            runs[form] = out, run("-o", out, "--to", form, "--jobs", 2, realdata)
        return runs[form]
    return of


class TestRealFiles:
    @pytest.mark.parametrize("form", ["xye", *(pytest.param(f, marks=pytest.mark.slow)
                                               for f in FORMS if f != "xye")])
    def test_two_processes_convert_every_supported_file(self, realdata, local_runs, form):
        out, done = local_runs(form)
        present = [p for p in sorted(realdata.rglob("*")) if p.is_file()]
        sources = [p for p in present if p.suffix[1:].lower() in EXTENSIONS]
        failures = set()
        for source in sources:
            # PBSO4.CWN and PBSO4.XRA: PBSO4.CWN.xye and PBSO4.XRA.xye
            target = out / source.relative_to(realdata).parent / \
                f"{output_stem(source, sources)}.{EXTENSION[form]}"
            try:
                measurement = morvexio.read(source)
            except Exception as error:
                failures.add(f"{source}: {describe(error)}")
                continue
            count = len(measurement.scans)
            for number, scan in enumerate(measurement.scans, 1):
                path = scan_path(str(target), number, count)
                written = morvexio.read(path).scans[0]
                assert written.y.tobytes() == scan.y.tobytes(), (source, number)
                assert form == "gsas" or written.x.tobytes() == scan.x.tobytes(), (source, number)
                text = pathlib.Path(path).read_text()
                for level, meta in (("measurement", measurement.meta), ("scan", scan.meta)):
                    for key, value in meta.items():
                        assert not key.startswith("wavelength") or \
                            f"# {level}.{key}: {value!r}\n" in text
            assert not os.path.exists(scan_path(str(target), count + 1, count))
        assert set(done.stderr.splitlines()) == failures
        assert done.stdout.startswith(f"{len(sources) - len(failures)} converted, 0 unchanged, "
                                      f"0 skipped, {len(failures)} failed, of {len(present)} "
                                      f"files (passed over: {len(present) - len(sources)} by "
                                      "extension) in ")
        assert done.returncode == (1 if failures else 0)

    @pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")
    def test_a_dask_cluster_writes_the_same_bytes(self, realdata, local_runs, parquet_runs,
                                                  tmp_path):
        out, done = local_runs("xye")
        dataset = tmp_path / "d.parquet"
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster:
            remote = run("-o", tmp_path / "xye", "--dask", cluster.scheduler_address, realdata)
            parts = run("--to", "parquet", "-o", dataset, "--dask", cluster.scheduler_address,
                        realdata.name, cwd=realdata.parent)
        # A refused file's message names the output folder of its run.
        assert (remote.returncode,
                set(remote.stderr.replace(f"{tmp_path}/xye", str(out)).splitlines())) \
            == (done.returncode, set(done.stderr.splitlines()))
        assert files(tmp_path / "xye") == files(out)
        assert parts.returncode == parquet_runs[2][1].returncode
        assert files(dataset) == files(parquet_runs[2][0])

    def test_gsas_files_are_found_by_content_whatever_their_name(self, realdata, tmp_path):
        gsas = realdata / "gsas"
        assert main(["-o", str(tmp_path), str(gsas)]) == 0
        sources = list(gsas.iterdir())
        for source in sources:
            got = morvexio.read(tmp_path / f"{output_stem(source, sources)}.xye").scans[0]
            assert got.y.tobytes() == morvexio.read(source).scans[0].y.tobytes()


@pytest.mark.parametrize("form, with_e, without_e", [
    ("xye", "0.1 1e-300 -0.0\n1e+16 inf 2.0\n", "0.30000000000000004 -5.0\n"),
    ("csv", "x,y,e\n0.1,1e-300,-0.0\n1e+16,inf,2.0\n", "x,y\n0.30000000000000004,-5.0\n"),
])
def test_full_precision_text(tmp_path, form, with_e, without_e):
    (tmp_path / "in").mkdir()
    (tmp_path / "in" / "a.xye").write_text("0.1 1e-300 -0\n1E16 INF 2\n")
    (tmp_path / "in" / "b.csv").write_text("x,y\n0.30000000000000004,-5\n")
    assert main(["-o", str(tmp_path / "out"), "--to", form, str(tmp_path / "in")]) == 0
    out = tmp_path / "out"
    for name, text in (("a", with_e), ("b", without_e)):
        lines = (out / f"{name}.{form}").read_text().splitlines(True)
        assert "".join(line for line in lines if not line.startswith("#")) == text


MULTI = ["gsas/gem05984.gss", "ras/xrayutil__inas_layer_radial_002_004.ras"]


def flat(meta, prefix=""):
    for key, value in meta.items():
        if isinstance(value, dict):
            yield from flat(value, f"{prefix}{key}.")
        elif isinstance(value, (str, float)):
            yield f"{prefix}{key}", value if isinstance(value, str) else repr(value)


@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("name, count", zip(MULTI, (4, 2)))
def test_every_scan_with_its_metadata(realdata, tmp_path, name, count, form):
    measurement = morvexio.read(realdata / name)
    assert len(measurement.scans) == count
    assert main(["-o", str(tmp_path), "--to", form, str(realdata / name)]) == 0
    base = f"{tmp_path / pathlib.Path(name).stem}.{EXTENSION[form]}"
    assert set(map(str, tmp_path.glob("[!.]*"))) == {scan_path(base, k)
                                                     for k in range(1, count + 1)}
    for number, scan in enumerate(measurement.scans, 1):
        path = scan_path(base, number)
        got = morvexio.read(path).scans[0]
        e = scan.e if scan.e is not None or form != "gsas" else np.sqrt(np.maximum(scan.y, 1))
        assert got.y.tobytes() == scan.y.tobytes()
        if form == "gsas" and scan.meta.get("x_unit") == "deg":
            # Centidegrees: exact wherever some double's hundredth is x, else one ulp off.
            assert got.x.tobytes() == (centi(scan.x) / 100).tobytes()
            assert (np.abs(got.x - scan.x) <= np.spacing(scan.x)).all()
        else:
            assert got.x.tobytes() == scan.x.tobytes()
        assert (got.e is None and e is None) or got.e.tobytes() == e.tobytes()
        lines = pathlib.Path(path).read_text().splitlines()[form == "gsas":]
        comments = [tuple(line[2:].split(": ", 1)) for line in lines if line.startswith("#")]
        assert comments == [("source", str(realdata / name)), ("format", measurement.format),
                            ("scan", f"{number} of {count}"),
                            *flat(measurement.meta, "measurement."), *flat(scan.meta, "scan."),
                            ("columns", "x y" if e is None else "x y e")]
        if form != "gsas":
            table = np.loadtxt(path, delimiter=None if form == "xye" else ",",
                               skiprows=(len(comments) + 1) * (form == "csv"))
            assert table.shape == (len(scan.x), 2 + (e is not None))


def test_one_scan_and_json_metadata(realdata, tmp_path, capsys):
    source = realdata / MULTI[0]
    measurement = morvexio.read(source)
    argv = ["-o", str(tmp_path), "--meta", "json", str(source), str(realdata / MULTI[1])]
    assert main(["--scan", "3", *argv]) == 1
    assert sorted(p.name for p in tmp_path.glob("[!.]*")) == ["gem05984.scan3.json",
                                                          "gem05984.scan3.xye"]
    assert capsys.readouterr().err == \
        f"{realdata / MULTI[1]}: ValueError: --scan 3: the file has 2 scans\n"
    text = (tmp_path / "gem05984.scan3.xye").read_text()
    assert "#" not in text and text.count("\n") == len(measurement.scans[2].x)
    sidecar = json.loads((tmp_path / "gem05984.scan3.json").read_text())
    scan = measurement.scans[2].meta
    assert sidecar == {"source": str(source), "format": measurement.format,
                       "measurement": measurement.meta, "scan": 3, "columns": ["x", "y", "e"],
                       "scan_meta": {k: v.tolist() if hasattr(v, "tolist") else v
                                     for k, v in scan.items()}}


def test_gsas_refuses_an_x_it_cannot_hold(tmp_path, capsys):
    (tmp_path / "q.xy").write_text("# q_nm^-1 I\n1 2\n")
    (tmp_path / "t.xy").write_text("1 4\n2 0\n")
    assert main(["-o", str(tmp_path / "out"), "--to", "gsas", str(tmp_path)]) == 1
    assert capsys.readouterr().err == (f"{tmp_path}/q.xy: ValueError: GSAS holds 2-theta or "
                                       "time of flight, not x in q_nm^-1\n")
    assert (tmp_path / "out" / "t.gsa").read_text() == (
        f"morvex-convert of t.xy, scan 1\n# source: {tmp_path}/t.xy\n# format: xy\n"
        "# scan: 1 of 1\n# columns: x y e\nBANK 1 2 2 CONS 100.0 100.0 0 0 FXYE\n"
        "100.0 4.0 2.0\n200.0 0.0 1.0\n")


@pytest.mark.parametrize("names, link, message", [
    (["a.scan2.xy"], None, "{out}/a.scan2.xye is already the output of {tree}/a.scan2.xy"),
    (["out/a.scan12.xye"], None, "{out}/a.scan12.xye would replace an input file"),
    (["b.csv"], "a.scan3.xye", "{out}/a.scan3.xye would replace an input file"),
])
def test_the_outputs_of_every_scan_are_claimed_before_reading(tmp_path, capsys, names, link,
                                                              message):
    (out := tmp_path / "out").mkdir()
    for name in ["a.xy", *names]:
        (tmp_path / name).write_text("1 2 3\n")
    if link:
        (out / link).symlink_to(tmp_path / names[0])  # an input under another name
    assert main(["-o", str(out), str(tmp_path), str(tmp_path / names[0])]) == 1
    refused = message.format(out=out, tree=tmp_path)
    assert f"{tmp_path}/a.xy: FileExistsError: {refused}" in capsys.readouterr().err.splitlines()


@pytest.mark.parametrize("rules, converted", [
    ([], ["a.xye"]),
    (["--as", "xy"], ["a.xye", "b.xye", "c.xye"]),
    (["--as", ".PRN=xy"], ["a.xye", "b.xye"]),
    (["--as", "prn=csv", "--as", "xy"], ["a.xye", "b.xye", "c.xye"]),
])
def test_load_as_picks_files_outside_the_table(tmp_path, rules, converted):
    tree = tmp_path / "tree"
    tree.mkdir()
    for name in ("a.xy", "b.prn", "c.out"):
        (tree / name).write_text("1 2\n")
    assert main(["-o", str(tmp_path / "out"), *rules, str(tree)]) == 0
    assert sorted(p.name for p in (tmp_path / "out").iterdir())[1:] == converted


def test_existing_outputs_are_kept_unless_forced(tmp_path, capsys):
    (tmp_path / "a.xy").write_text("1 2\n")
    out = tmp_path / "converted"  # inside the tree: a rerun must not take its own outputs
    out.mkdir()
    (out / "a.xye").write_text("old")
    argv = ["-o", str(out), str(tmp_path)]
    assert main(argv) == 0
    assert (out / "a.xye").read_text() == "old"
    assert capsys.readouterr().out.startswith("0 converted, 0 unchanged, 1 skipped (output "
                                              "exists; --force overwrites), 0 failed, of 2 files "
                                              "(passed over: 1 in the output folder) in ")
    assert main(["--force", *argv]) == 0
    assert (out / "a.xye").read_text().endswith("# columns: x y\n1.0 2.0\n")
    assert capsys.readouterr().out.startswith("1 converted, 0 unchanged, 0 skipped, 0 failed, of "
                                              "2 files (passed over: 1 in the output folder) in ")


def test_every_failure_is_reported_and_the_run_goes_on(tmp_path, capsys):
    for name, data in [("good.xy", b"1 2\n"), ("bad.raw", b"\0abc"), ("c.csv", b"1,2\n"),
                       ("c.xy", b"3 4\n"), ("d.xye", b"5 6 7\n")]:
        (tmp_path / name).write_bytes(data)
    missing = tmp_path / "missing.xy"
    assert main(["-o", str(tmp_path), str(tmp_path), str(missing)]) == 1
    printed = capsys.readouterr()
    assert sorted(printed.err.splitlines()) == sorted([
        f"{tmp_path}/bad.raw: FormatError: the content is none of the formats "
        "morvexio reads (a .raw name expects a STOE RAW file, a Bruker RAW file or a GSAS powder "
        "data file)",
        f"{tmp_path}/d.xye: FileExistsError: {tmp_path}/d.xye would replace an input file",
        f"{missing}: FileNotFoundError: [Errno 2] No such file or directory: '{missing}'",
    ])
    assert printed.out.startswith("3 converted, 0 unchanged, 0 skipped, 3 failed, of 6 files in ")
    assert {p.name for p in tmp_path.glob("*.*.xye")} == {"c.csv.xye", "c.xy.xye"}


def test_files_without_a_pattern_fail_and_every_listed_name_is_walked(tmp_path, capsys):
    inputs = tmp_path / "in"
    inputs.mkdir()
    for name, data in [("empty.xy", b""), ("header.csv", b"Angle,Intensity\n"),
                       ("page.xrdml", b"404 page not found\n"), ("a.ASC", b"1 2\n"),
                       ("b.gda", b"BANK 1 2 1 CONST 1000 10 0 0 STD\n5 6\n"), ("c.dat", b"3 4\n"),
                       ("notes.md", b"1 2\n")]:
        (inputs / name).write_bytes(data)
    assert main(["-o", str(tmp_path / "out"), str(inputs)]) == 1
    printed = capsys.readouterr()
    assert printed.out.startswith("3 converted, 0 unchanged, 0 skipped, 3 failed, of 7 files "
                                  "(passed over: 1 by extension) in ")
    assert sorted(line.split(": ")[0] for line in printed.err.splitlines()) == [
        f"{inputs}/{name}" for name in ("empty.xy", "header.csv", "page.xrdml")]
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == [
        ".morvex-outputs", "a.xye", "b.xye", "c.xye"]


@pytest.mark.parametrize("args, message", [
    (["--as", "bin"], "'bin': EXT must be one of asc, brml, chi, cif, cpi, csv, cwn, dat, fxye"),
    (["--as", ",=xy"], "',=xy': no suffix before '='"),
    (["--jobs", "0"], "argument --jobs: invalid positive value: '0'"),
    (["--scan", "0"], "argument --scan: invalid positive value: '0'"),
    (["--jobs", "2", "--dask", "tcp://h:1"], "argument --dask: not allowed with argument --jobs"),
    (["--dask-timeout", "0"], "argument --dask-timeout: invalid seconds value: '0'"),
    (["--to", "parquet"], "--to parquet needs -o DATASET, the folder of its parts"),
    (["--to", "parquet", "-o", "d", "--meta", "json"], "--meta json: a dataset keeps the"),
])
def test_usage_errors(capsys, args, message):
    with pytest.raises(SystemExit) as exit_:
        main([*args, "scan.xy"])
    assert exit_.value.code == 2
    assert message in capsys.readouterr().err


@pytest.mark.parametrize("hide_tqdm, shown", [(False, "100%"), (True, "\r2/2 files")])
def test_progress_on_a_terminal(tmp_path, hide_tqdm, shown):
    (tmp_path / "hidden").mkdir()
    (tmp_path / "hidden" / "tqdm.py").write_text("raise ImportError('not installed')\n")
    for name in ("a.xy", "b.xy"):
        (tmp_path / name).write_text("1 2\n")
    argv, env = command([tmp_path / "hidden"] if hide_tqdm else [])
    leader, follower = os.openpty()
    with os.fdopen(leader, "rb", buffering=0) as terminal:
        subprocess.run([*argv, "-o", tmp_path / "out", tmp_path / "a.xy", tmp_path / "b.xy"],
                       env=env, stderr=follower, stdout=subprocess.DEVNULL, check=True)
        os.close(follower)
        drawn = terminal.read(65536).decode()
    assert shown in drawn and ("100%" in drawn) != hide_tqdm



@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("outdir, jobs", [("k", 1), ("k", 4), ("link", 1), (".", 1)])
def test_no_input_is_ever_written_whatever_the_flags(tmp_path, form, outdir, jobs):
    (tmp_path / "k").mkdir()
    (tmp_path / "link").symlink_to("k")
    # One of c, d and e is named as its output would be, in k.
    inputs = {"k/a.xy": "1 2\n", "k/a.xye": "1 2 3\n", "k/b.csv": "1,2\n", "k/b.xye": "5 6 7\n",
              "k/c.xye": "1 2 3\n", "k/d.csv": "1,2\n", "k/e.gsa": "BANK 1 1 1 CONS 1 1 0 0\n1\n"}
    for name, text in inputs.items():
        (tmp_path / name).write_text(text)
    # Files reached twice or three times, under other spellings, count once.
    done = run("--force", "--to", form, "--jobs", jobs, "-o", outdir, "k", "link/a.xy",
               "k/../k/b.csv", cwd=tmp_path)
    assert {name: (tmp_path / name).read_text() for name in inputs} == inputs
    assert "of 7 files in" in done.stdout and done.returncode == (outdir != ".")


@pytest.mark.parametrize("options, error, failed, kept", [
    ("size=64k", "[Errno 28] No space left on device", ["big.xy", "multi.gsa"],
     [".morvex-outputs", "small.xye"]),
    ("ro", "[Errno 30] Read-only file system", ["big.xy", "multi.gsa", "small.xy"], []),
])
def test_a_full_or_read_only_disk_leaves_nothing(tmp_path, options, error, failed, kept):
    (tmp_path / "small.xy").write_text("1 2\n")
    (tmp_path / "big.xy").write_text("1 2\n" * 20000)  # 160 kB as xye
    # Two scans of 42 kB as xye: the second fails, and the first is not left behind.
    (tmp_path / "multi.gsa").write_text("".join(
        f"BANK {k} 3000 3000 CONS 100 1 0 0 FXYE\n" + "100 4 1\n" * 3000 for k in (1, 2)))
    (disk := tmp_path / "disk").mkdir()
    argv, env = command()
    script = ('mount -t tmpfs -o "$1" morvex-test "$2" || exit 99; disk=$2; shift 2; "$@"; '
              'echo "exit $?"; find "$disk" -mindepth 1 -printf "%P\\n"')
    done = subprocess.run(["unshare", "--mount", "sh", "-c", script, "sh", options, disk, *argv,
                           "-o", disk, *(tmp_path / name for name in ("small.xy", "multi.gsa",
                                                                       "big.xy"))],
                          env=env, capture_output=True, text=True)
    if done.returncode:
        pytest.skip(f"cannot mount a tmpfs in a private mount namespace: {done.stderr.strip()}")
    assert sorted(done.stderr.splitlines()) == [
        f"{tmp_path}/{name}: OSError: {error}: '{disk}/{name.split('.')[0]}.xye'"
        for name in failed]
    assert sorted(done.stdout.split("exit 1\n")[1].split()) == kept


@pytest.mark.parametrize("hidden, args, message", [
    ("distributed", ["--dask", "tcp://127.0.0.1:1"],
      "--dask needs distributed (the dask extra: pip install 'morvex[dask]'): not installed"),
    (None, ["--dask", "tcp://127.0.0.1:1", "--dask-timeout", "0.5"], "--dask tcp://127.0.0.1:1: "
     "OSError: Timed out trying to connect to tcp://127.0.0.1:1 after 0.5 s"),
    ("pyarrow", ["--to", "parquet", "-o", "d"], "--to parquet needs pyarrow (the parquet extra: "
     "pip install 'morvex[parquet]'): not installed"),
])
def test_setup_errors_are_one_line_and_exit_2(tmp_path, hidden, args, message):
    (tmp_path / f"{hidden}.py").write_text("raise ImportError('not installed')\n")
    argv, env = command([tmp_path] if hidden else [])
    done = subprocess.run([*argv, *args, "a.xy"], env=env, capture_output=True, text=True)
    assert (done.returncode, done.stdout, done.stderr) == (2, "", f"morvex-convert: {message}\n")


@pytest.mark.slow
def test_a_killed_run_leaves_whole_outputs_and_a_rerun_finishes_them(tmp_path):
    tree, out, want = tmp_path / "tree", tmp_path / "out", tmp_path / "want"
    for i in range(6):
        (tree / f"d{i % 2}").mkdir(parents=True, exist_ok=True)
        (tree / f"d{i % 2}/s{i}.xy").write_text("".join(f"{x / 7} {i}\n" for x in range(300_000)))
    assert run("-o", want, tree).returncode == 0
    argv, env = command()
    # The whole process group killed at once, while a temporary file exists, and once one and
    # three more outputs are whole; each run after the first is a rerun of the one before.
    for least_temps, least_new in ((0, 0), (1, 0), (0, 1), (0, 3)):
        before = len(files(out))
        child = subprocess.Popen([*argv, "--jobs", "2", "-o", out, tree], env=env,
                                 start_new_session=True, stderr=subprocess.DEVNULL)
        while child.poll() is None:
            # os.walk passes over a temporary folder that lands while it looks.
            names = [os.path.join(d, f) for d, _, fs in os.walk(out) for f in fs]
            temps = sum("morvex-tmp" in name for name in names)
            if temps >= least_temps and len(names) - temps - before >= least_new:
                break
        os.killpg(child.pid, signal.SIGKILL)
        child.wait()
        while True:  # the workers too: a kill lands a moment after it is sent
            try:
                os.killpg(child.pid, 0)
            except ProcessLookupError:
                break
            time.sleep(0.01)
        whole = {name: data for name, data in files(out).items() if "morvex-tmp" not in name}
        assert whole == {name: files(want)[name] for name in whole}
    with open(out / "d0" / ".s0.xye.morvex-tmp-held", "w") as writer:  # a running writer's
        fcntl.flock(writer, fcntl.LOCK_EX)
        done = run("-o", out, tree)
        assert done.stdout.startswith(f"{6 - len(whole)} converted, {len(whole)} unchanged")
        assert files(out) == {**files(want), "d0/.s0.xye.morvex-tmp-held": b""}


def dataset_rows(path):
    """Every row of a dataset as DuckDB and as pandas read it, in (source, scan) order."""
    import duckdb
    import pandas

    duck = duckdb.sql(f"select * from read_parquet('{path}/*.parquet', union_by_name=true) "
                      "order by source, scan")
    frame = pandas.read_parquet(path).sort_values(["source", "scan"])
    return [dict(zip(duck.columns, values)) for values in duck.fetchall()], \
        frame.to_dict("records")


def assert_row_is_the_scan(row, measurement, number):
    scan = measurement.scans[number - 1]
    meta = {**measurement.meta, **scan.meta, "header": measurement.meta.get("header"),
            "scan_header": scan.meta.get("header"), "other": None}
    assert (row["format"], row["scan"]) == (measurement.format, number)
    for key, value in row.items():
        want = scan.e if key == "e" else getattr(scan, key) if key in "xy" else meta.get(key)
        if key in ("source", "format", "scan"):
            continue
        if isinstance(want, np.ndarray):
            assert np.array_equal(np.asarray(value, np.float64), want), key
        elif isinstance(want, dict):
            assert json.loads(value) == json.loads(json.dumps(want, default=np.ndarray.tolist))
        else:
            assert value == want or (value != value and want is None), key  # pandas: nan


@pytest.fixture(scope="module")
def parquet_runs(realdata, tmp_path_factory):
    out = tmp_path_factory.mktemp("parquet")
    # Sources named relative to the cwd, as the source column keeps them.
    return {jobs: (out / f"{jobs}.parquet", run("--to", "parquet", "--jobs", jobs, "-o",
                                                out / f"{jobs}.parquet", realdata.name,
                                                cwd=realdata.parent))
            for jobs in (1, 2)}


def readable(path):
    try:
        morvexio.read(path)
    except morvexio.FormatError:
        return False
    return True


@pytest.mark.parametrize("jobs", [1, 2])
def test_parquet_holds_every_scan_and_its_metadata_exactly(realdata, parquet_runs, jobs):
    path, done = parquet_runs[jobs]
    walked = [p for p in sorted(realdata.rglob("*")) if p.suffix[1:].lower() in EXTENSIONS]
    sources = [p for p in walked if readable(p)]
    assert done.returncode == (1 if len(sources) < len(walked) else 0)
    assert done.stdout.startswith(f"{len(sources)} converted, 0 unchanged, 0 skipped, "
                                  f"{len(walked) - len(sources)} failed, of ")
    duck, frame = dataset_rows(path)
    scans = {str(p.relative_to(realdata.parent)): morvexio.read(p) for p in sources}
    assert [(r["source"], r["scan"]) for r in duck] == sorted(
        (source, k) for source, m in scans.items() for k in range(1, len(m.scans) + 1))
    for rows in (duck, frame):
        for row in rows:
            assert_row_is_the_scan(row, scans[row["source"]], row["scan"])
    # The parts do not depend on how many processes wrote them.
    assert files(path) == files(parquet_runs[3 - jobs][0])


def test_parquet_failures_one_scan_and_small_row_groups(tmp_path, capsys, monkeypatch):
    import pyarrow.parquet as pq

    monkeypatch.setattr("morvex_convert.dataset.GROUP_SCANS", 2)
    for i in range(5):
        (tmp_path / f"{i}.gsa").write_text("title\n" + "".join(
            f"BANK {k} 1 1 CONS 100 1 0 0 FXYE\n100 {i} 1\n" for k in range(1, 2 + (i != 3))))
    (tmp_path / "bad.raw").write_bytes(b"\0abc")
    out = tmp_path / "d.parquet"
    assert main(["--to", "parquet", "--scan", "2", "-o", str(out), str(tmp_path)]) == 1
    assert sorted(capsys.readouterr().err.splitlines()) == [
        f"{tmp_path}/3.gsa: ValueError: --scan 2: the file has 1 scan",
        f"{tmp_path}/bad.raw: FormatError: the content is none of the formats morvexio reads (a "
        ".raw name expects a STOE RAW file, a Bruker RAW file or a GSAS powder data file)"]
    table = pq.read_table(out, columns=["source", "scan", "y"]).to_pylist()
    assert table == [{"source": f"{tmp_path}/{i}.gsa", "scan": 2, "y": [float(i)]}
                     for i in (0, 1, 2, 4)]
    assert pq.ParquetFile(out / "part-00000.parquet").num_row_groups == 2


def test_parquet_refuses_an_existing_dataset_or_one_holding_an_input(tmp_path, capsys):
    (tree := tmp_path / "tree").mkdir()
    (tree / "a.xy").write_text("1 2\n")
    out = tmp_path / "d.parquet"
    argv = ["--to", "parquet", "-o", str(out), str(tree)]
    assert main(argv) == 0
    (out / ".part-00009.parquet.morvex-tmp-dead").write_text("a killed run's")
    (out / "part-00009.parquet").write_text("an old run's")
    for args, message in [(argv, f"{out} exists; --force replaces it"),
                          (["--to", "parquet", "-o", str(tree), str(tree / "a.xy")],
                           f"-o {tree}: the dataset would replace or hold the input {tree}/a.xy"),
                          (["--force", "--to", "parquet", "-o", str(tree / "a.xy"), str(tree)],
                           f"-o {tree}/a.xy: the dataset would replace or hold the input "
                           f"{tree}/a.xy")]:
        assert main(args) == 2
        assert capsys.readouterr().err == f"morvex-convert: {message}\n"
    assert main(["--force", *argv]) == 0
    assert sorted(p.name for p in out.iterdir()) == [".morvex-outputs", "_SUCCESS",
                                                     "part-00000.parquet"]
