#!/usr/bin/python3
"""Makes a wheel that carries its libraries, and tags it for the glibc it needs.

usage: repair-wheel.py WHEEL OUTDIR

Copies every library the module loads that is not part of the base system (libzip and what it
pulls in) into morvex.libs/ beside the module, renamed with a hash of its content so that
another copy loaded into the same process (the system's libzip, say) cannot stand in for it;
rewrites the module's and the copies' needed entries and run paths with patchelf ($ORIGIN);
adds each copy's Debian copyright file; and retags the wheel manylinux_2_NN_x86_64 (PEP 600)
with NN from the newest GLIBC_2.NN symbol version that any ELF file in the wheel needs.
Debian tools only: ldd, patchelf, readelf, dpkg-query.
"""

import base64
import hashlib
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

# Present on every glibc system the manylinux tag speaks for (the PEP 600 base set): never copied.
BASE = {"linux-vdso.so.1", "ld-linux-x86-64.so.2", "libc.so.6", "libm.so.6", "libdl.so.2",
        "librt.so.1", "libpthread.so.0", "libutil.so.1", "libresolv.so.2", "libnsl.so.1",
        "libstdc++.so.6", "libgcc_s.so.1"}
LIBS = "morvex.libs"


def output(*argv) -> str:
    return subprocess.run(argv, check=True, capture_output=True, text=True).stdout


def loaded(elf: pathlib.Path) -> dict[str, str]:
    """soname -> file of every library the loader brings in for elf, transitively."""
    found = {}
    for line in output("ldd", str(elf)).splitlines():
        if "=> not found" in line:
            sys.exit(f"{elf.name}: {line.strip()}")
        match = re.match(r"\s*(\S+) => (\S+) \(0x", line)
        if match:
            found[match[1]] = match[2]
    return found


def is_elf(path: pathlib.Path) -> bool:
    with path.open("rb") as f:
        return f.read(4) == b"\x7fELF"


def copyright_file(library: str) -> pathlib.Path:
    """The Debian copyright file of the package that owns library (under /lib or /usr/lib)."""
    real = str(pathlib.Path(library).resolve())
    candidates = {library, real, re.sub(r"^/usr/lib/", "/lib/", real),
                  re.sub(r"^/lib/", "/usr/lib/", library)}
    for path in candidates:
        search = subprocess.run(["dpkg-query", "-S", path], capture_output=True, text=True)
        if search.returncode == 0:
            package = search.stdout.split(":", 1)[0]
            return pathlib.Path("/usr/share/doc") / package / "copyright"
    sys.exit(f"no Debian package owns {library}: its licence cannot be shipped with it")


def needed_versions(elf: pathlib.Path, prefix: str) -> set[tuple[int, ...]]:
    """Versions of the symbol versions named prefix_x.y... that elf needs (.gnu.version_r)."""
    text = output("readelf", "-V", "--wide", str(elf))
    needs = text.split("Version needs section", 1)[1] if "Version needs section" in text else ""
    return {tuple(map(int, v.split("."))) for v in re.findall(rf"Name: {prefix}_([\d.]+)", needs)}


def bundle(tree: pathlib.Path) -> list[str]:
    modules = [p for p in tree.rglob("*.so") if is_elf(p)]
    libraries = {}  # soname -> system file
    for module in modules:
        libraries.update({name: path for name, path in loaded(module).items() if name not in BASE})
    libs = tree / LIBS
    libs.mkdir()
    renamed = {}
    for soname, path in sorted(libraries.items()):
        digest = hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest()[:8]
        stem, _, version = soname.partition(".so")
        renamed[soname] = f"{stem}-{digest}.so{version}"
        shutil.copyfile(path, libs / renamed[soname])
        notice = libs / "copyright" / copyright_file(path).parent.name
        notice.parent.mkdir(exist_ok=True)
        shutil.copyfile(copyright_file(path), notice)

    def point_at_copies(elf: pathlib.Path, rpath: str, soname: str | None = None):
        # One change per patchelf call: Debian's patchelf 0.14 drops some of several changes
        # asked for in one call.
        changes = [["--replace-needed", name, renamed[name]]
                   for name in output("patchelf", "--print-needed", str(elf)).split()
                   if name in renamed]
        changes += [["--set-rpath", rpath]] + ([["--set-soname", soname]] if soname else [])
        for change in changes:
            subprocess.run(["patchelf", *change, str(elf)], check=True)

    for soname, name in renamed.items():
        point_at_copies(libs / name, "$ORIGIN", name)
    for module in modules:
        point_at_copies(module, "$ORIGIN/" + str(libs.relative_to(module.parent)))
        # Everything outside the base set must now come from the wheel itself.
        for name, path in loaded(module).items():
            if name not in BASE and libs.resolve() not in pathlib.Path(path).resolve().parents:
                sys.exit(f"{module.name}: {name} still loads from {path}")
    return sorted(renamed.values())


def rewrite_record(tree: pathlib.Path, dist_info: pathlib.Path) -> None:
    lines = []
    for path in sorted(p for p in tree.rglob("*") if p.is_file()):
        name = path.relative_to(tree).as_posix()
        if path == dist_info / "RECORD":
            continue
        data = path.read_bytes()
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        lines.append(f"{name},sha256={digest},{len(data)}")
    lines.append(f"{dist_info.name}/RECORD,,")
    (dist_info / "RECORD").write_text("\n".join(lines) + "\n", encoding="utf-8")


def main(wheel: pathlib.Path, outdir: pathlib.Path) -> None:
    name, version, python, abi, platform = wheel.name[:-len(".whl")].split("-")
    if platform != "linux_x86_64":
        sys.exit(f"{wheel.name}: expected a linux_x86_64 wheel")
    with tempfile.TemporaryDirectory() as scratch:
        tree = pathlib.Path(scratch)
        with zipfile.ZipFile(wheel) as archive:
            archive.extractall(tree)
        copies = bundle(tree)
        elves = [p for p in tree.rglob("*") if p.is_file() and is_elf(p)]
        glibc = max(v for elf in elves for v in needed_versions(elf, "GLIBC"))
        cxx = max(v for elf in elves for v in needed_versions(elf, "GLIBCXX"))
        if glibc[0] != 2:
            sys.exit(f"unexpected glibc symbol version {glibc}")
        tag = f"manylinux_2_{glibc[1]}_x86_64"
        dist_info = tree / f"{name}-{version}.dist-info"
        wheel_file = dist_info / "WHEEL"
        wheel_file.write_text(wheel_file.read_text(encoding="utf-8").replace(
            f"Tag: {python}-{abi}-{platform}", f"Tag: {python}-{abi}-{tag}"), encoding="utf-8")
        rewrite_record(tree, dist_info)
        outdir.mkdir(parents=True, exist_ok=True)
        target = outdir / f"{name}-{version}-{python}-{abi}-{tag}.whl"
        # The .dist-info folder goes last, as the wheel format recommends.
        files = sorted((p for p in tree.rglob("*") if p.is_file()),
                       key=lambda p: (dist_info in p.parents, p.as_posix()))
        with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as archive:
            for path in files:
                archive.write(path, path.relative_to(tree).as_posix())
    print(target)
    print(f"  bundled in {LIBS}/: {', '.join(copies)}")
    print(f"  needs glibc {'.'.join(map(str, glibc))} (tag {tag}), "
          f"libstdc++ with GLIBCXX_{'.'.join(map(str, cxx))}")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.split("\n\n")[1])
    main(pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]))
