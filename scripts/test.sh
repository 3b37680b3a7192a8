#!/usr/bin/env bash
# Builds and runs every test: the C++ suites and the Python suite (through CTest), then the
# packaging tests: the sdist and the manylinux wheel built, installed and tested (test-wheel.sh).
# Extra arguments go to CMake (CI adds -DMORVEX_WERROR=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh "$@"
ctest --test-dir "${MORVEX_BUILD_DIR:-build}" --output-on-failure -j "$(nproc)"
MORVEX_WHEEL_BUILD_DIR=${MORVEX_WHEEL_BUILD_DIR:-${MORVEX_BUILD_DIR:-build}-wheel} scripts/test-wheel.sh
