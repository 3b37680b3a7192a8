#!/usr/bin/env python3
"""Times morvexio.read on RASX archives, ending in numpy arrays, against zipfile plus the
column readers a user has: one 1,000,000-line profile (bench_rasx.py's archive), and a
reciprocal-space map of 401 profiles, every profile read.

The map is generated in the shape of Rigaku's own: one DEFLATE entry Data0/Profile<k>.txt per
omega step, each with a byte-order mark, CRLF lines and three tab-separated columns (2θ to four
decimals, the intensity as Rigaku writes it with up to 15 significant digits, the attenuator
coefficient), beside root.xml and Data0/MesurementConditions0.xml. Each peer reads the
profiles in directory order and ends, as morvexio does, with an x and a y array per profile.
The best of the peers is the one each target is set against. Run with an interpreter that has
the peers (requirements/bench.txt, as in build-venv); the module is taken from $MORVEX_BUILD_DIR (default
build/). Target: the best peer at least 5 x morvexio's time on the map.
"""

import io
import math
import zipfile

import bench_arrays_xy
import bench_rasx  # the one-profile archive; imports harness first
import harness

import morvexio
import numpy
import pandas
import polars
import pyarrow.csv

PROFILES = 401
PROFILE_POINTS = 1_001
REPEATS = 9
MAP_TARGET = 5.0
# Every peer is told the columns are doubles: whole-number intensities would come as integers.
POLARS_TYPES = {"column_1": polars.Float64, "column_2": polars.Float64}
ARROW_READ = pyarrow.csv.ReadOptions(autogenerate_column_names=True)
ARROW_PARSE = pyarrow.csv.ParseOptions(delimiter="\t")
ARROW_CONVERT = pyarrow.csv.ConvertOptions(column_types={"f0": pyarrow.float64(),
                                                         "f1": pyarrow.float64()})


def map_file():
    def archive_bytes():
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
            archive.writestr("root.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                             "<RootElement />\r\n")
            archive.writestr("Data0/MesurementConditions0.xml", "<MeasurementConditions />\r\n")
            for k in range(PROFILES):
                omega = -1.0 + k * 0.005
                lines = []
                for i in range(PROFILE_POINTS):
                    x = 44.0 + i * 0.005
                    y = 2.0 + 5e4 * math.exp(-((x - 46.5) ** 2 + 40 * omega * omega) / 0.02)
                    y += ((i * 7919 + k * 104729) % 1000) * 1.37e-3
                    lines.append(f"{x:.4f}\t{y:.15g}\t1\r\n")
                archive.writestr(f"Data0/Profile{k}.txt", ("\ufeff" + "".join(lines)).encode())
        return buffer.getvalue()

    return harness.write_once("bench_rsm_401.rasx", archive_bytes)


def with_morvexio(path):
    return [(scan.x, scan.y) for scan in morvexio.read(path).scans]


def pandas_c(entry):
    frame = pandas.read_csv(entry, sep="\t", header=None, encoding="utf-8-sig",
                            dtype=numpy.float64)
    return frame[0].to_numpy(), frame[1].to_numpy()


def polars_columns(entry):
    table = polars.read_csv(entry.read(), separator="\t", has_header=False,
                            schema_overrides=POLARS_TYPES).to_numpy()
    return table[:, 0], table[:, 1]


def pyarrow_columns(entry):
    table = pyarrow.csv.read_csv(entry, read_options=ARROW_READ, parse_options=ARROW_PARSE,
                                 convert_options=ARROW_CONVERT)
    return table.column(0).to_numpy(), table.column(1).to_numpy()


def every_profile(columns):
    def read(path):
        with zipfile.ZipFile(path) as archive:
            names = [n for n in archive.namelist() if "Profile" in n and n.endswith(".txt")]
            profiles = []
            for name in names:
                with archive.open(name) as entry:
                    profiles.append(columns(entry))
            return profiles

    return read


PEERS = [("zipfile + pandas.read_csv (C engine)", every_profile(pandas_c)),
         ("zipfile + polars.read_csv", every_profile(polars_columns)),
         ("zipfile + pyarrow.csv.read_csv", every_profile(pyarrow_columns))]


def agree(ours, theirs):
    return len(ours) == len(theirs) and all(
        bench_arrays_xy.same_arrays(a, b) for a, b in zip(ours, theirs))


def timed(path, label, expected_profiles, expected_points):
    ours = with_morvexio(path)
    if len(ours) != expected_profiles or len(ours[0][0]) != expected_points:
        harness.disagree(f"{label}: ")
    for name, peer in PEERS:
        if not agree(ours, peer(path)):
            harness.disagree(f"{label}, {name}: ")
    del ours
    functions = [with_morvexio] + [peer for _, peer in PEERS]
    medians = harness.alternating_medians(functions, path, REPEATS)
    names = ["morvexio.read → arrays"] + [name for name, _ in PEERS]
    return [harness.case(f"{label}: {name}", median) for name, median in zip(names, medians)]


def main():
    args = harness.arguments(__doc__)
    single, rsm = str(bench_rasx.data_file()), str(map_file())
    one = timed(single, "1 profile", 1, bench_rasx.LINES)
    many = timed(rsm, f"{PROFILES} profiles", PROFILES, PROFILE_POINTS)
    best = lambda cases: min(cases[1:], key=lambda case: case["median_s"])
    ratios = [
        # The one-profile archive has no target of its own: shown against 1, not slower.
        harness.speedup("rasx arrays, 1 profile vs zipfile + best peer (no target; 1 shown)",
                        one[0], best(one), 1.0, short="rasx 1 profile"),
        harness.speedup(f"rasx arrays, {PROFILES}-profile map vs zipfile + best peer", many[0],
                        best(many), MAP_TARGET, short=f"rasx {PROFILES} profiles"),
    ]
    title = harness.headline(f"RASX to numpy arrays: {bench_rasx.LINES:,} lines in one profile; "
                             f"{PROFILES} profiles of {PROFILE_POINTS:,} lines", [single, rsm],
                             REPEATS)
    harness.report(args, "rasx, numpy arrays", title, one + many, ratios)


if __name__ == "__main__":
    main()
