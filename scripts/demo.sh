#!/usr/bin/env bash
# Sets everything up and runs the main job: install what is missing, build, regenerate the
# bundled examples, load each of them and draw them all into examples/patterns.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
source scripts/venv.sh
"$MORVEX_VENV_PYTHON" examples/generate.py
"$MORVEX_VENV_PYTHON" examples/demo.py "${MORVEX_BUILD_DIR:-build}"
"$MORVEX_VENV_PYTHON" examples/plot.py --build-dir "${MORVEX_BUILD_DIR:-build}" \
  -o examples/patterns.png examples/data/*.*
