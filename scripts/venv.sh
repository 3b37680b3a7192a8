# Sourced by the scripts: the virtual environment they build and test with, made from
# MORVEX_PYTHON (default: the python3 on the PATH) in MORVEX_VENV (default build-venv), with
# the pinned requirements installed. It is made again when the requirements or the base
# interpreter change. Sets MORVEX_VENV_PYTHON to its interpreter.

# morvex_venv DIR BASE_PYTHON REQUIREMENTS...: makes or refreshes one such environment.
morvex_venv() {
  local dir=$1 base=$2 stamp
  shift 2
  stamp="$("$base" -c 'import sys; print(sys.executable, sys.version.split()[0])') $(cat "$@" | sha256sum | cut -c1-16)"
  if [ ! -x "$dir/bin/python" ] || [ "$(cat "$dir/morvex-stamp" 2>/dev/null)" != "$stamp" ]; then
    echo "== making $dir from $base"
    rm -rf "$dir"
    "$base" -m venv "$dir"
    local requirement args=()
    for requirement in "$@"; do args+=(-r "$requirement"); done
    "$dir/bin/python" -m pip install -q --disable-pip-version-check "${args[@]}"
    echo "$stamp" >"$dir/morvex-stamp"
  fi
}

MORVEX_PYTHON=${MORVEX_PYTHON:-python3}
MORVEX_VENV=$(realpath -m "${MORVEX_VENV:-build-venv}")
morvex_venv "$MORVEX_VENV" "$MORVEX_PYTHON" requirements/bench.txt requirements/build.txt
MORVEX_VENV_PYTHON=$MORVEX_VENV/bin/python
