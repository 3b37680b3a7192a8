#!/usr/bin/env python3
"""Adds the Debian copyright file of every library auditwheel grafted into a wheel.

usage: wheel-notices.py WHEEL

auditwheel copies libzip, libcrypto, libbz2 and ISA-L into morvex.libs/ but not their licence
notices, which their licences (BSD, Apache 2.0, bzip2's) ask a binary distribution to carry.
Each grafted copy (libzip-5c554ca2.so.4.0) is traced to the system library of the same name
and that to its Debian package, whose copyright file goes to morvex.libs/copyright/PACKAGE.
The wheel is rewritten in place with its RECORD updated.
"""

import base64
import hashlib
import pathlib
import re
import subprocess
import sys
import zipfile

GRAFTED = re.compile(r"^(?P<libs>[^/]+\.libs)/(?P<stem>lib.+)-[0-9a-f]{8}\.so(?P<version>[.\d]*)$")


def system_library(stem: str, version: str) -> str:
    """The system's file for lib<stem>.so.<version...>, as ldconfig lists it."""
    listing = subprocess.run(["ldconfig", "-p"], check=True, capture_output=True, text=True).stdout
    for line in listing.splitlines():
        name, _, path = line.strip().partition(" => ")
        name = name.split()[0] if name else ""
        if "x86-64" in line and name.startswith(f"{stem}.so") and version.startswith(name[len(stem) + 3:]):
            return path
    sys.exit(f"no system library for {stem}.so{version}")


def package_of(library: str) -> str:
    real = str(pathlib.Path(library).resolve())
    for path in {library, real, re.sub(r"^/usr/lib/", "/lib/", real), re.sub(r"^/lib/", "/usr/lib/", real)}:
        found = subprocess.run(["dpkg-query", "-S", path], capture_output=True, text=True)
        if found.returncode == 0:
            return found.stdout.split(":", 1)[0]
    sys.exit(f"no Debian package owns {library}: its licence cannot be shipped with it")


def record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def main(wheel: pathlib.Path) -> None:
    with zipfile.ZipFile(wheel) as archive:
        entries = [(info, archive.read(info)) for info in archive.infolist()]
    notices = {}
    for info, _ in entries:
        if match := GRAFTED.match(info.filename):
            package = package_of(system_library(match["stem"], match["version"]))
            copyright_file = pathlib.Path("/usr/share/doc") / package / "copyright"
            notices[f"{match['libs']}/copyright/{package}"] = copyright_file.read_bytes()
    (record,) = [info for info, _ in entries if info.filename.endswith(".dist-info/RECORD")]
    kept = [(info, data) for info, data in entries if info is not record]
    lines = [record_line(info.filename, data) for info, data in kept if not info.is_dir()]
    lines += [record_line(name, data) for name, data in sorted(notices.items())]
    lines.append(f"{record.filename},,")
    with zipfile.ZipFile(wheel, "w", zipfile.ZIP_DEFLATED) as archive:
        # The .dist-info folder goes last, as the wheel format recommends.
        for name, data in sorted(notices.items()):
            archive.writestr(name, data)
        for info, data in kept:
            archive.writestr(info, data)
        archive.writestr(record.filename, "\n".join(lines) + "\n")
    print(f"{wheel.name}: notices of {', '.join(sorted(notices))}")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__.split("\n\n")[1])
    main(pathlib.Path(sys.argv[1]))
