"""Builds the morvex wheel by running the project's CMake build.

The metadata lives in pyproject.toml; this file only teaches setuptools to compile the one
extension with CMake (the same build the scripts use) and to tag the wheel for the limited API
of CPython 3.10, since the module is compiled with Py_LIMITED_API=0x030A0000 and links to no
libpython. It also ships the converter package (morvex_convert, pure Python) and fills the
stub-only package morvex-stubs. Everything needed comes from Debian packages; build without
isolation with Debian's interpreter, as scripts/build-wheel.sh does:

    /usr/bin/python3 -m pip wheel --no-build-isolation --no-deps --no-index -w dist .

MORVEX_WHEEL_BUILD_DIR names the scratch directory (default: build-wheel beside this file).
"""

import os
import pathlib
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.build_py import build_py

ROOT = pathlib.Path(__file__).resolve().parent
SCRATCH = pathlib.Path(os.environ.get("MORVEX_WHEEL_BUILD_DIR", ROOT / "build-wheel"))
STUB = ROOT / "src" / "python" / "morvex.pyi"


class CMakeBuild(build_ext):
    """Compiles the module with CMake and places it, with its stub, where setuptools expects."""

    def build_extension(self, ext):
        cmake_dir = SCRATCH / "cmake"
        subprocess.run(
            ["cmake", "-S", str(ROOT), "-B", str(cmake_dir), "-DCMAKE_BUILD_TYPE=Release",
             "-DMORVEX_TESTS=OFF", f"-DPython3_EXECUTABLE={sys.executable}"],
            check=True)
        jobs = str(min(os.cpu_count() or 1, 4))
        subprocess.run(["cmake", "--build", str(cmake_dir), "--target", "morvex", "-j", jobs],
                       check=True)
        # get_ext_fullpath gives morvex.abi3.so because the extension is marked py_limited_api.
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(cmake_dir / "morvex.abi3.so", target)
        # Beside the binary for tools that read inline stubs (pyright, IDEs); mypy only looks
        # for a top-level module's stub in a "<name>-stubs" package, which is shipped too.
        shutil.copyfile(STUB, target.parent / "morvex.pyi")


class BuildPy(build_py):
    """Adds the stub-only package morvex-stubs, filled from the one stub source."""

    def run(self):
        super().run()
        package = pathlib.Path(self.build_lib) / "morvex-stubs"
        package.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(STUB, package / "__init__.pyi")
        (package / "py.typed").write_text("", encoding="utf-8")


# setuptools refuses an egg_base that does not exist yet, as on a fresh clone.
(SCRATCH / "setuptools").mkdir(parents=True, exist_ok=True)

setup(
    ext_modules=[Extension("morvex", sources=[], py_limited_api=True)],
    cmdclass={"build_ext": CMakeBuild, "build_py": BuildPy},
    packages=["morvex_convert"],
    package_dir={"morvex_convert": "src/morvex_convert"},
    options={
        "build": {"build_base": str(SCRATCH / "setuptools")},
        "bdist_wheel": {"py_limited_api": "cp310"},
        "egg_info": {"egg_base": str(SCRATCH / "setuptools")},
    },
    zip_safe=False,
)
