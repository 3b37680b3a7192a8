#!/usr/bin/env python3
"""Times morvex.read on a RASX archive with a 1,000,000-line profile against zipfile plus
pandas.read_csv on the profile entry, both to lists, the two taking turns.

Run with build-venv/bin/python; the module is taken from $MORVEX_BUILD_DIR (default build/).
The archive is written under bench/data/ on first use.
"""

import io
import zipfile

import harness  # first: puts the build on sys.path

import morvex
import pandas

LINES = 1_000_000
REPEATS = 7
TARGET = 2.2  # the peers' time over ours, at least
PROFILE = "Data0/Profile0.txt"


def data_file():
    """An archive shaped like Rigaku's: a BOM, CRLF lines, a third attenuator column."""

    def archive_bytes():
        lines = [f"{10 + k * 0.0001:.4f}\t{(k * 7919) % 20011}\t1.0000" for k in range(LINES)]
        profile = "\ufeff" + "\r\n".join(lines) + "\r\n"
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
            archive.writestr("root.xml", "<RootElement/>")
            archive.writestr("Data0/MesurementConditions0.xml", "<MeasurementConditions/>")
            archive.writestr(PROFILE, profile.encode("utf-8"))
        return buffer.getvalue()

    return harness.write_once("bench_1m.rasx", archive_bytes)


def with_morvex(path):
    pattern = morvex.read(str(path))
    return pattern.x, pattern.y


def with_pandas(path):
    with zipfile.ZipFile(path) as archive, archive.open(PROFILE) as entry:
        frame = pandas.read_csv(entry, sep="\t", header=None, encoding="utf-8-sig")
    return frame[0].tolist(), frame[1].tolist()


def main():
    args = harness.arguments(__doc__)
    path = data_file()
    ours, theirs = with_morvex(path), with_pandas(path)
    if ours != theirs or len(ours[0]) != LINES:
        harness.disagree()

    ours, theirs = harness.alternating_medians([with_morvex, with_pandas], path, REPEATS)
    cases = [harness.case("morvex.read + lists", ours),
             harness.case("zipfile + pandas.read_csv + tolist", theirs)]
    title = harness.headline(f"RASX, {LINES:,} profile lines", path, REPEATS)
    harness.report(args, "rasx", title, cases, [harness.speedup("rasx", *cases, TARGET)])

if __name__ == "__main__":
    main()
