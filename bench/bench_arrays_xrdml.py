#!/usr/bin/env python3
"""Times morvexio.read on the 1,000,000-intensity XRDML document, ending in x and y as numpy
arrays, against lxml.etree and xml.etree.ElementTree, each with numpy.fromstring(sep=" ") and
with numpy.array(text.split(), float) for the intensities.

x is spaced evenly from the 2Theta start to its end as morvex computes it, step
(end - start) / (n - 1) and position k * step + start, so that every contender ends in the
same arrays bit for bit. Run with an interpreter that has the peers (requirements/bench.txt, as in build-venv);
the module is taken from $MORVEX_BUILD_DIR (default build/). The data file is
bench_xrdml.py's. Target: lxml + numpy at least 5 x morvexio's time.
"""

import warnings
import xml.etree.ElementTree as ElementTree

import bench_arrays_xy
import bench_xrdml  # the data file; imports harness first
import harness

import lxml.etree
import morvexio
import numpy

REPEATS = 11
TARGET = 5.0
NS = {"x": bench_xrdml.NAMESPACE}


def with_morvexio(path):
    scan = morvexio.read(path).scans[0]
    return scan.x, scan.y


def even_axis(start, end, count):
    step = (end - start) / (count + (-1.0))
    return numpy.arange(count, dtype=numpy.float64) * step + start


def from_tree(root, numbers):
    scan = root.find("x:xrdMeasurement/x:scan", NS)
    two_theta = scan.find("x:dataPoints/x:positions[@axis='2Theta']", NS)
    start = float(two_theta.find("x:startPosition", NS).text)
    end = float(two_theta.find("x:endPosition", NS).text)
    y = numbers(scan.find("x:dataPoints/x:intensities", NS).text)
    return even_axis(start, end, len(y)), y


def fromstring(text):
    with warnings.catch_warnings():  # numpy deprecates sep= parsing, yet it is the fast way
        warnings.simplefilter("ignore", DeprecationWarning)
        return numpy.fromstring(text, sep=" ")


def split(text):
    return numpy.array(text.split(), dtype=numpy.float64)


def peer(parse, numbers):
    return lambda path: from_tree(parse(path).getroot(), numbers)


PEERS = [("lxml.etree + numpy.fromstring", peer(lxml.etree.parse, fromstring)),
         ("lxml.etree + numpy.array(split)", peer(lxml.etree.parse, split)),
         ("ElementTree + numpy.fromstring", peer(ElementTree.parse, fromstring)),
         ("ElementTree + numpy.array(split)", peer(ElementTree.parse, split))]


def main():
    args = harness.arguments(__doc__)
    path = str(bench_xrdml.data_file())
    cases = harness.cases_against_peers(path, ("morvexio.read → x, y arrays", with_morvexio),
                                        PEERS, bench_xrdml.POINTS, REPEATS, bench_arrays_xy.same_arrays)
    best_lxml = min(cases[1:3], key=lambda case: case["median_s"])
    ratios = [harness.speedup("xrdml arrays vs lxml + numpy", cases[0], best_lxml, TARGET,
                              short="xrdml vs lxml")]
    title = harness.headline(f"XRDML to numpy arrays, {bench_xrdml.POINTS:,} intensities", path,
                             REPEATS)
    harness.report(args, "xrdml, numpy arrays", title, cases, ratios)


if __name__ == "__main__":
    main()
