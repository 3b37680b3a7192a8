#!/usr/bin/env bash
# Builds and runs every test: the C++ suites and the Python suite (through CTest).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir "${MORVEX_BUILD_DIR:-build}" --output-on-failure -j "$(nproc)"
