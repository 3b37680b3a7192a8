#!/usr/bin/env bash
# Builds the sdist and, from that sdist, the wheel into ${1:-dist}, always with Debian's
# /usr/bin/python3 (its setuptools and wheel, no build isolation, nothing downloaded) whatever
# python3 comes first on the PATH. Building the wheel from the sdist proves the sdist complete.
# scripts/repair-wheel.py then puts libzip and what it pulls in into the wheel and tags it
# manylinux_2_NN_x86_64 for the glibc it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/python.sh
py=$MORVEX_PYTHON
dist=$(realpath -m "${1:-dist}")
scratch=$(realpath -m "${MORVEX_WHEEL_BUILD_DIR:-build-wheel}")
version=$(cat VERSION)
rm -rf "$scratch/linux"
mkdir -p "$dist" "$scratch/linux"
rm -f "$dist"/morvex-*.tar.gz "$dist"/morvex-*.whl

"$py" - "$dist" >"$scratch/sdist.log" 2>&1 <<'PY' || { cat "$scratch/sdist.log"; exit 1; }
import sys
from setuptools import build_meta
build_meta.build_sdist(sys.argv[1])
PY
sdist=$dist/morvex-$version.tar.gz
echo "$sdist"

# The sdist is built in pip's own temporary folder: a scratch folder named for the source
# tree would hold a CMake cache of another source directory.
env -u MORVEX_WHEEL_BUILD_DIR "$py" -m pip wheel -q --no-build-isolation --no-deps --no-index \
  -w "$scratch/linux" "$sdist"
"$py" scripts/repair-wheel.py "$scratch/linux/morvex-$version-cp310-abi3-linux_x86_64.whl" "$dist"
