#!/usr/bin/env python3
"""Times morvex.read on a 1,000,000-intensity XRDML document against ElementTree plus numpy.

Run with build-venv/bin/python; the module is taken from $MORVEX_BUILD_DIR (default build/).
The data file (about 4 MB) is written under bench/data/ on first use. Both contenders end
with x and y as lists of floats; they take turns.
"""

import xml.etree.ElementTree as ElementTree

import harness  # first: puts the build on sys.path

import morvex
import numpy

POINTS = 1_000_000
REPEATS = 11
TARGET = 2.8  # the peers' time over ours, at least
NAMESPACE = "http://www.xrdml.com/XRDMeasurement/1.5"


def data_file():
    def text():
        counts = " ".join(str((k * 7919) % 900 + 100) for k in range(POINTS))
        return (
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

    return harness.write_once("bench_1m.xrdml", text)


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


def agree(ours, theirs):
    (x, y), (x_peer, y_peer) = ours, theirs
    if y != y_peer or len(x) != POINTS or len(x_peer) != POINTS:
        return False
    # linspace places the positions by another formula; they agree to rounding.
    return all(abs(a - b) <= 1e-12 * abs(b) for a, b in zip(x, x_peer))


def main():
    args = harness.arguments(__doc__)
    path = data_file()
    if not agree(with_morvex(path), with_elementtree(path)):
        harness.disagree()

    ours, theirs = harness.alternating_medians([with_morvex, with_elementtree], path, REPEATS)
    cases = [
        harness.case("morvex.read + x + y", ours),
        harness.case("ElementTree + numpy.fromstring + tolist", theirs),
    ]
    title = harness.headline(f"XRDML, {POINTS:,} intensities", path, REPEATS)
    harness.report(args, "xrdml", title, cases, [harness.speedup("xrdml", *cases, TARGET)])


if __name__ == "__main__":
    main()
