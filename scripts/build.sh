#!/usr/bin/env bash
# Configures and builds morvex (module, core library, tests) into ${MORVEX_BUILD_DIR:-build};
# CTest's Python test runs on the interpreter of scripts/venv.sh. Extra arguments go to CMake
# (CI adds -DMORVEX_WERROR=ON, a compiler, -DMORVEX_VECTOR=OFF).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/venv.sh
build=${MORVEX_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE="$MORVEX_VENV_PYTHON" \
  -DMORVEX_TEST_PYTHON="$MORVEX_VENV_PYTHON" "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
