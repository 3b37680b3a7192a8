#!/usr/bin/env bash
# Sets everything up and runs the main job: install what is missing, build, regenerate the
# bundled examples and load each of them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
/usr/bin/python3 examples/generate.py
/usr/bin/python3 examples/demo.py "${MORVEX_BUILD_DIR:-build}"
