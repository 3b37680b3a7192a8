#!/usr/bin/env bash
# Configures and builds morvex (module, core library, tests) into ${MORVEX_BUILD_DIR:-build}.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/python.sh
build=${MORVEX_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE="$MORVEX_PYTHON" \
  -DMORVEX_TEST_PYTHON="$MORVEX_PYTHON" "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
