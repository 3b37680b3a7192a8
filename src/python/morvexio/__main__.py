"""python -m morvexio FILE...: what each file holds, as text or (--json) one JSON object a line."""

import argparse
import json
import math
import sys
from typing import Any, Optional

import morvexio


def plain(value: Any) -> Any:
    """A metadata value as JSON has it: arrays as lists, non-finite numbers as null."""
    if isinstance(value, dict):
        return {k: plain(v) for k, v in value.items()}
    if hasattr(value, "tolist"):
        return plain(value.tolist())
    if isinstance(value, list):
        return [plain(v) for v in value]
    if isinstance(value, float) and not math.isfinite(value):
        return None
    return value


def summary(measurement: morvexio.Measurement) -> dict:
    """The file's format, its main metadata (all but the header) and each scan's points, axis
    and x range (first and last position)."""
    scans = []
    for scan in measurement.scans:
        span = [float(scan.x[0]), float(scan.x[-1])] if len(scan) else None
        scans.append({"points": len(scan), "x_axis": scan.meta.get("x_axis"),
                      "x_unit": scan.meta.get("x_unit"), "x_range": span})
    meta = {k: v for k, v in measurement.meta.items() if k != "header"}
    return {"source": measurement.source, "format": measurement.format, "scans": scans,
            "meta": plain(meta)}


def text(found: dict, units: dict) -> str:
    n = len(found["scans"])
    lines = [f"{found['source']}: {found['format']}, {n} scan{'' if n == 1 else 's'}"]
    for key, value in found["meta"].items():
        unit = units.get(key, "") if isinstance(value, float) else ""  # not "ISO 8601"
        lines.append(f"  {key}: {value}{' ' + unit if unit else ''}")
    for index, scan in enumerate(found["scans"]):
        line = f"  scans[{index}]: {scan['points']} points"
        if scan["x_range"]:
            first, last = scan["x_range"]
            unit = f" {scan['x_unit']}" if scan["x_unit"] else ""
            line += f", {scan['x_axis'] or 'x'} {first!r} .. {last!r}{unit}"
        lines.append(line)
    return "\n".join(lines)


def failure(path: str, error: Exception) -> str:
    """One line naming the file and what went wrong."""
    if isinstance(error, OSError) and error.strerror:
        message = f"{path}: {error.strerror}"
    else:
        message = str(error)
        if not message.startswith(f"{path}: "):
            message = f"{path}: {message}"
    return " ".join(message.split())


def main(argv: Optional[list] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python -m morvexio",
        description="Shows what diffraction files hold: format, scans, axes, main metadata.")
    parser.add_argument("files", nargs="+", metavar="FILE")
    parser.add_argument("--json", action="store_true",
                        help="one JSON object per file and line: source, format, scans, meta")
    args = parser.parse_args(argv)
    units = {key.name: key.unit for key in morvexio.keys()}
    failed = 0
    for path in args.files:
        try:
            found = summary(morvexio.read(path))
        except (OSError, ValueError) as error:
            print(failure(path, error), file=sys.stderr)
            failed += 1
            continue
        print(json.dumps(found, ensure_ascii=False) if args.json else text(found, units))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
