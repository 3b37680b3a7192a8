#!/usr/bin/env python3
"""Loads every bundled example file with morvex, then with morvexio, and prints one line per
file: the pattern morvex gives, and the format, scans and wavelength morvexio finds.

Usage: demo.py [BUILD_DIR]   (default: build/ beside this folder)
"""

import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
build = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else HERE.parent / "build"
sys.path.insert(0, str(build))

import morvex  # noqa: E402
import morvexio  # noqa: E402

EXTENSIONS = {".xy", ".xye", ".csv", ".raw", ".xrdml", ".rasx"}


def describe(path):
    pattern = morvex.read(str(path))
    x = pattern.x
    span = f"x {x[0]:g} .. {x[-1]:g}" if x else "no points"
    errors = "with e" if pattern.e is not None else "no e"
    measurement = morvexio.read(path)
    wavelength = measurement.meta.get("wavelength_kalpha1", measurement.meta.get("wavelength"))
    found = f"{measurement.format} {len(measurement.scans)} scan(s)"
    if wavelength is not None:
        found += f", λ {wavelength:g} Å"
    return f"{path.suffix[1:]:6} {len(x):6d} points  {span:24}  {errors:7} | {found}"


def main():
    files = sorted(p for p in (HERE / "data").iterdir() if p.suffix.lower() in EXTENSIONS)
    failures = 0
    for path in files:
        try:
            print(f"{path.name:28} {describe(path)}")
        except (OSError, ValueError) as error:
            failures += 1
            print(f"{path.name:28} failed: {type(error).__name__}: {error}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
