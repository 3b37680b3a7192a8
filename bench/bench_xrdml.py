#!/usr/bin/env python3
"""Times morvex.read on a 1,000,000-intensity XRDML document against ElementTree plus numpy.

Run with /usr/bin/python3; the module is taken from $MORVEX_BUILD_DIR (default build/).
The data file (about 4 MB) is written under bench/data/ on first use. Both contenders end
with x and y as lists of floats.
"""

import argparse
import gc
import json
import os
import pathlib
import statistics
import sys
import time
import xml.etree.ElementTree as ElementTree

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
DATA = HERE / "data"
sys.path.insert(0, os.environ.get("MORVEX_BUILD_DIR", str(ROOT / "build")))

import morvex  # noqa: E402
import numpy  # noqa: E402

POINTS = 1_000_000
REPEATS = 11
TARGET = 2.5
NAMESPACE = "http://www.xrdml.com/XRDMeasurement/1.5"


def data_file():
    path = DATA / "bench_1m.xrdml"
    if not path.exists():
        DATA.mkdir(exist_ok=True)
        counts = " ".join(str((k * 7919) % 900 + 100) for k in range(POINTS))
        text = (
            '<?xml version="1.0" encoding="UTF-8"?>\n'
            f'<xrdMeasurements xmlns="{NAMESPACE}" status="Completed">\n'
            '  <sample type="To be analyzed"><id>bench</id></sample>\n'
            '  <xrdMeasurement measurementType="Scan" status="Completed">\n'
            '    <scan appendNumber="0" mode="Continuous" scanAxis="Gonio" status="Completed">\n'
            "      <dataPoints>\n"
            '        <positions axis="2Theta" unit="deg">\n'
            "          <startPosition>5.00835563</startPosition>\n"
            "          <endPosition>124.99526689</endPosition>\n"
            "        </positions>\n"
            '        <positions axis="Omega" unit="deg">\n'
            "          <startPosition>2.5</startPosition>\n"
            "          <endPosition>62.5</endPosition>\n"
            "        </positions>\n"
            "        <commonCountingTime unit=\"seconds\">0.5</commonCountingTime>\n"
            f'        <intensities unit="counts">{counts}</intensities>\n'
            "      </dataPoints>\n"
            "    </scan>\n"
            "  </xrdMeasurement>\n"
            "</xrdMeasurements>\n"
        )
        tmp = path.with_suffix(".tmp")
        tmp.write_text(text, encoding="utf-8")
        tmp.rename(path)
    return path


def with_morvex(path):
    pattern = morvex.read(str(path))
    return pattern.x, pattern.y


def with_elementtree(path):
    ns = {"x": NAMESPACE}
    root = ElementTree.parse(path).getroot()
    scan = root.find("x:xrdMeasurement/x:scan", ns)
    two_theta = scan.find("x:dataPoints/x:positions[@axis='2Theta']", ns)
    start = float(two_theta.find("x:startPosition", ns).text)
    end = float(two_theta.find("x:endPosition", ns).text)
    y = numpy.fromstring(scan.find("x:dataPoints/x:intensities", ns).text, sep=" ")
    x = numpy.linspace(start, end, len(y))
    return x.tolist(), y.tolist()


def median_times(functions, path):
    """Median seconds per function; the calls alternate, so that a change in the machine's
    load during the run falls on all contenders alike."""
    times = [[] for _ in functions]
    for _ in range(REPEATS):
        for function, spent in zip(functions, times):
            gc.collect()
            start = time.perf_counter()
            function(path)
            spent.append(time.perf_counter() - start)
    return [statistics.median(spent) for spent in times]


def agree(ours, theirs):
    (x, y), (x_peer, y_peer) = ours, theirs
    if y != y_peer or len(x) != POINTS or len(x_peer) != POINTS:
        return False
    # linspace places the positions by another formula; they agree to rounding.
    return all(abs(a - b) <= 1e-12 * abs(b) for a, b in zip(x, x_peer))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", metavar="PATH", help="also write the results as JSON")
    args = parser.parse_args()

    path = data_file()
    if not agree(with_morvex(path), with_elementtree(path)):
        sys.exit("the contenders disagree on the data; timing would be meaningless")

    ours, theirs = median_times([with_morvex, with_elementtree], path)
    cases = [
        {"name": "morvex.read + x + y", "median_s": ours},
        {"name": "ElementTree + numpy.fromstring + tolist", "median_s": theirs},
    ]
    ratio = cases[1]["median_s"] / cases[0]["median_s"]
    ratios = [
        {"name": "ElementTree / morvex", "value": ratio, "target": TARGET, "higher_is_better": True}
    ]

    size = path.stat().st_size / 1e6
    print(f"XRDML, {POINTS:,} intensities ({size:.1f} MB), median of {REPEATS}\n")
    print("| case | median (s) |")
    print("|---|---|")
    for case in cases:
        print(f"| {case['name']} | {case['median_s']:.3f} |")
    verdict = "met" if ratio >= TARGET else "MISSED"
    print(f"\nspeed-up {ratio:.2f}x (target >= {TARGET}x: {verdict})")

    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump({"format": "xrdml", "cases": cases, "ratios": ratios}, f, indent=2)


if __name__ == "__main__":
    main()
