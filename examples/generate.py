#!/usr/bin/env python3
"""Writes the small example files of examples/data/, one or more per format.

Every file is made up here from a simple synthetic pattern (a few Gaussian peaks on a
sloping background), so the examples carry no third-party data. Run it again after a
change; the output is deterministic.
"""

import math
import pathlib

HERE = pathlib.Path(__file__).resolve().parent
DATA = HERE / "data"


def synthetic_pattern(start=10.0, step=0.05, count=201):
    """Positions and intensities of a made-up powder pattern."""
    peaks = [(18.0, 900.0, 0.15), (23.5, 400.0, 0.2), (27.1, 1500.0, 0.12)]
    xs, ys = [], []
    for k in range(count):
        x = start + k * step
        y = 120.0 - 1.5 * (x - start)
        for centre, height, width in peaks:
            y += height * math.exp(-0.5 * ((x - centre) / width) ** 2)
        xs.append(x)
        ys.append(round(y, 1))
    return xs, ys


def write_xy():
    xs, ys = synthetic_pattern()
    lines = ["# synthetic pattern: 2theta (deg), intensity (counts)"]
    lines += [f"{x:.4f} {y:.1f}" for x, y in zip(xs, ys)]
    (DATA / "synthetic.xy").write_text("\n".join(lines) + "\n", encoding="utf-8")


def write_xye():
    xs, ys = synthetic_pattern()
    lines = ["! synthetic pattern with counting uncertainties"]
    lines += [f"{x:.4f}\t{y:.1f}\t{math.sqrt(y):.3f}" for x, y in zip(xs, ys)]
    (DATA / "synthetic.xye").write_text("\r\n".join(lines) + "\r\n", encoding="utf-8")


def write_csv():
    xs, ys = synthetic_pattern()
    lines = ["two_theta,intensity"] + [f"{x:.4f},{y:.1f}" for x, y in zip(xs, ys)]
    (DATA / "synthetic.csv").write_text("\n".join(lines) + "\n", encoding="utf-8")


# One writer per example file; readers add theirs here.
WRITERS = [write_xy, write_xye, write_csv]


def main():
    DATA.mkdir(exist_ok=True)
    for writer in WRITERS:
        writer()


if __name__ == "__main__":
    main()
