#!/usr/bin/env python3
"""Times morvexio.read on RASX archives, ending in numpy arrays, against zipfile plus the
column readers a user has: one 1,000,000-line profile (bench_rasx.py's archive), and a
reciprocal-space map of 401 profiles, every profile read.

The map is generated in the shape of Rigaku's own: one DEFLATE entry Data0/Profile<k>.txt per
omega step, each with a byte-order mark, CRLF lines and three tab-separated columns (2θ to four
decimals, the intensity as Rigaku writes it with up to 15 significant digits, the attenuator
coefficient), and beside each its own Data0/MesurementConditions<k>.xml of about 38 KB in the
shape of SmartLab's (general information, hardware, 100 axes written one attribute a line, the
scan, 220 RAS header pairs), which is most of a real map's bytes; and root.xml. Each peer reads the
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


def conditions(omega):
    """A MesurementConditions document in the shape SmartLab writes, about 38 KB."""
    def element(name, **attributes):
        lines = "".join(f'\r\n      {key}="{value}"' for key, value in attributes.items())
        return f"    <{name}{lines} />\r\n"

    parts = ['\ufeff<?xml version="1.0" encoding="utf-8"?>\r\n<MeasurementConditions '
             'xmlns:xsd="http://www.w3.org/2001/XMLSchema" '
             'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">\r\n  <GeneralInformation>\r\n'
             '    <Operator>Administrator</Operator>\r\n    <SampleName>film</SampleName>\r\n'
             '    <SystemName>SmartLab</SystemName>\r\n  </GeneralInformation>\r\n'
             '  <HWConfigurations>\r\n']
    parts += [element("Category", Name=f"Unit{k}", SelectedUnit=f"Standard{k}") for k in range(11)]
    parts += [element("Distance", To=f"Slit{k}", From="XrayGenerator", Unit="mm",
                      Value=f"{90 + 25 * k}") for k in range(8)]
    parts.append("    <XrayGenerator>\r\n      <TargetName>Cu</TargetName>\r\n"
                 "      <Current>200</Current>\r\n      <Voltage>45</Voltage>\r\n"
                 "      <WavelengthKalpha1>1.540593</WavelengthKalpha1>\r\n"
                 "      <WavelengthKalpha2>1.544414</WavelengthKalpha2>\r\n"
                 "    </XrayGenerator>\r\n  </HWConfigurations>\r\n  <Axes>\r\n")
    for k in range(100):
        name, position = ("Omega", f"{omega:.4f}") if k == 1 else (f"Axis{k}", f"{k * 0.25:.4f}")
        parts.append(element("Axis", Name=name, Unit="deg", Offset="0", Position=position,
                             State="Fixed", Resolution="0.0001", Speed="720",
                             SpeedUnit="deg/min"))
    parts.append("  </Axes>\r\n  <ScanInformation>\r\n    <AxisName>TwoThetaOmega</AxisName>\r\n"
                 "    <Start>44</Start>\r\n    <Stop>49</Stop>\r\n    <Step>0.005</Step>\r\n"
                 "  </ScanInformation>\r\n  <RASHeader>\r\n")
    for k in range(150):
        parts.append(f"    <Pair>\r\n      <string>*HEADER_KEY_{k:03d}</string>\r\n"
                     f"      <string>value {k * 37 % 1000} of the header</string>\r\n    </Pair>\r\n")
    parts.append("  </RASHeader>\r\n</MeasurementConditions>\r\n")
    return "".join(parts)


def map_file():
    def archive_bytes():
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
            archive.writestr("root.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                             "<RootElement />\r\n")
            for k in range(PROFILES):
                omega = -1.0 + k * 0.005
                archive.writestr(f"Data0/MesurementConditions{k}.xml", conditions(omega).encode())
                lines = []
                for i in range(PROFILE_POINTS):
                    x = 44.0 + i * 0.005
                    y = 2.0 + 5e4 * math.exp(-((x - 46.5) ** 2 + 40 * omega * omega) / 0.02)
                    y += ((i * 7919 + k * 104729) % 1000) * 1.37e-3
                    lines.append(f"{x:.4f}\t{y:.15g}\t1\r\n")
                archive.writestr(f"Data0/Profile{k}.txt", ("\ufeff" + "".join(lines)).encode())
        return buffer.getvalue()

    return harness.write_once("bench_rsm_401_conditions.rasx", archive_bytes)


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
