#!/usr/bin/env bash
# Tests what users install: builds the wheel offline (Debian's setuptools and wheel, no build
# isolation), installs it into a fresh virtual environment, runs the Python suite and stubtest
# against the installed module, checks that mypy finds the stubs, and imports the same wheel on
# every other CPython 3.10+ found under pyenv.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scratch=${MORVEX_WHEEL_BUILD_DIR:-$root/build-wheel}
mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)
export MORVEX_WHEEL_BUILD_DIR=$scratch
rm -rf "$scratch/dist" "$scratch/venv" "$scratch/typing" "$scratch/run" "$scratch"/target-*

echo "== building the wheel"
/usr/bin/python3 -m pip wheel -q --no-build-isolation --no-deps --no-index -w "$scratch/dist" .
wheels=("$scratch"/dist/morvex-*-cp310-abi3-linux_x86_64.whl)
[ ${#wheels[@]} -eq 1 ] && [ -f "${wheels[0]}" ] || { echo "expected one cp310-abi3 wheel"; ls "$scratch/dist"; exit 1; }
wheel=${wheels[0]}
echo "$(basename "$wheel")"

echo "== installing it into a fresh virtual environment"
# System site-packages give the venv Debian's pytest and mypy; morvex itself comes only from
# the wheel (nothing else on this machine installs it).
/usr/bin/python3 -m venv --system-site-packages "$scratch/venv"
py=$scratch/venv/bin/python
"$py" -m pip install -q --no-index --no-deps "$wheel"

# Run from an empty directory so that neither the source tree, a build tree nor the build's
# metadata is importable.
mkdir -p "$scratch/run"
cd "$scratch/run"
"$py" - "$scratch/venv" <<'PY'
import importlib.metadata, pathlib, sys
import morvex
venv = pathlib.Path(sys.argv[1]).resolve()
where = pathlib.Path(morvex.__file__).resolve()
assert venv in where.parents, f"morvex imported from {where}, not from the venv"
print("morvex", importlib.metadata.version("morvex"), "from", where)
PY

echo "== Python suite against the installed module"
MORVEX_INSTALLED=1 "$py" -m pytest -q -rs -p no:cacheprovider "$root/tests/python"

echo "== stubtest"
"$py" -m mypy.stubtest morvex

echo "== mypy finds the installed stubs"
mkdir -p "$scratch/typing"
cat > "$scratch/typing/good.py" <<'PY'
import morvex

def total(path: str) -> float:
    p: morvex.Pattern = morvex.read(path)
    e = p.e
    return sum(p.y) + (sum(e) if e is not None else 0.0) + len(morvex.read_bytes(b"", "a.xy").x)
PY
cat > "$scratch/typing/bad.py" <<'PY'
import morvex

p = morvex.read(b"scan.xy")
p.x = [1.0]
n: float = sum(p.e)
PY
"$py" -m mypy --strict --no-incremental "$scratch/typing/good.py"
if out=$("$py" -m mypy --no-incremental "$scratch/typing/bad.py"); then
  echo "mypy accepted wrong uses of morvex: the stubs were not found"; exit 1
fi
for expected in 'Argument 1 to "read" has incompatible type "bytes"' \
                'Property "x" defined in "Pattern" is read-only' \
                'Argument 1 to "sum" has incompatible type "Optional[List[float]]"'; do
  grep -qF "$expected" <<<"$out" || { echo "mypy output lacks: $expected"; echo "$out"; exit 1; }
done
echo "mypy: stubs picked up (3 expected errors reported)"

echo "== the same wheel on other CPython versions"
sample=$scratch/typing/sample.xye
printf '# 2theta I e\n10.0 100 10\n10.5 121 11\n11.0 144 12\n' > "$sample"
shopt -s nullglob
tried=0
for other in /root/.pyenv/versions/3.1[0-9]*/bin/python3.1[0-9]; do
  [ -x "$other" ] || continue
  version=$("$other" -c 'import sys; print("%d.%d.%d" % sys.version_info[:3])')
  target=$scratch/target-$version
  # pip refuses a wheel whose tags this interpreter does not accept, which is part of the test.
  "$other" -m pip install -q --disable-pip-version-check --root-user-action=ignore --no-index --no-deps --target "$target" "$wheel"
  "$other" -s - "$target" "$sample" <<'PY'
import importlib.metadata, sys
sys.path.insert(0, sys.argv[1])
import morvex
assert morvex.__file__.startswith(sys.argv[1]), morvex.__file__
assert morvex.__all__ == ["Pattern", "read", "read_bytes"]
p = morvex.read(sys.argv[2])
with open(sys.argv[2], "rb") as f:
    q = morvex.read_bytes(f.read(), "copy.xye")
assert (p.x, p.y, p.e) == (q.x, q.y, q.e) == ([10.0, 10.5, 11.0], [100.0, 121.0, 144.0],
                                             [10.0, 11.0, 12.0])
print("  CPython %d.%d.%d:" % sys.version_info[:3], "morvex", importlib.metadata.version("morvex"),
      "loads", len(p.x), "points")
PY
  tried=$((tried + 1))
done
[ "$tried" -gt 0 ] || echo "  (no other CPython 3.10+ found)"
echo "wheel tests passed"
