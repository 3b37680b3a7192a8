#!/usr/bin/env bash
# Tests what users install. scripts/build-wheel.sh builds the sdist and, from it, the manylinux
# wheel. The wheel goes into a fresh virtual environment: the Python suite, stubtest and mypy run
# against it, it must load libzip from its own copy with the system's hidden, and it is imported
# on every other CPython 3.10+ found under pyenv. Then the README's install commands run as
# written: the wheel into a venv of the python3 on the PATH, the sdist compiled by pip into a venv
# of Debian's interpreter, which must pass the suite too.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/python.sh
root=$PWD
scratch=${MORVEX_WHEEL_BUILD_DIR:-$root/build-wheel}
mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)
rm -rf "$scratch/dist" "$scratch"/venv* "$scratch/typing" "$scratch/run" "$scratch"/target-*
version=$(cat VERSION)

echo "== building the sdist and the wheel"
MORVEX_WHEEL_BUILD_DIR=$scratch scripts/build-wheel.sh "$scratch/dist"
wheels=("$scratch"/dist/morvex-"$version"-cp310-abi3-manylinux_2_*_x86_64.whl)
[ ${#wheels[@]} -eq 1 ] && [ -f "${wheels[0]}" ] \
  || { echo "expected one manylinux wheel"; ls "$scratch/dist"; exit 1; }
wheel=${wheels[0]}
sdist=$scratch/dist/morvex-$version.tar.gz
listing=$(tar tzf "$sdist")
for f in CMakeLists.txt VERSION LICENSE CHANGELOG.md README.md pyproject.toml setup.py \
         src/python/morvex.pyi src/python/module.cpp src/morvex_convert/cli.py \
         tests/CMakeLists.txt; do
  grep -qx "morvex-$version/$f" <<<"$listing" || { echo "the sdist lacks $f"; exit 1; }
done

# Run from an empty directory so that neither the source tree, a build tree nor the build's
# metadata is importable; morvex then comes only from the environment under test.
mkdir -p "$scratch/run"
installed_suite() {
  local venv=$1
  (cd "$scratch/run" && "$venv/bin/python" - "$venv" <<'PY'
import importlib.metadata, pathlib, sys
import morvex, morvex_convert
venv = pathlib.Path(sys.argv[1]).resolve()
for module in (morvex, morvex_convert):
    where = pathlib.Path(module.__file__).resolve()
    assert venv in where.parents, f"{module.__name__} imported from {where}, not from the venv"
print("morvex", importlib.metadata.version("morvex"), "from", pathlib.Path(morvex.__file__).parent)
PY
  )
  echo "== Python suite against the installed module"
  (cd "$scratch/run" && MORVEX_INSTALLED=1 "$venv/bin/python" -m pytest -q -rs -p no:cacheprovider \
    "$root/tests/python")
}

echo "== installing the wheel into a fresh virtual environment"
# System site-packages give the venv Debian's pytest, mypy, tqdm and distributed; morvex itself
# comes only from the wheel (nothing else on this machine installs it).
"$MORVEX_PYTHON" -m venv --system-site-packages "$scratch/venv"
py=$scratch/venv/bin/python
"$py" -m pip install -q --no-index --no-deps "$wheel"
installed_suite "$scratch/venv"
cd "$scratch/run"

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

echo "== the wheel's own libraries, with the system's copies hidden"
site=$("$py" -c 'import sysconfig; print(sysconfig.get_path("platlib"))')
module=$site/morvex.abi3.so
libs=$site/morvex.libs
ldd "$module" | grep -E "^\s+libzip-[0-9a-f]{8}\.so\.4 => $libs/" \
  || { echo "ldd does not resolve libzip inside the wheel:"; ldd "$module"; exit 1; }
# The tag must name the newest glibc symbol version that any ELF file in the wheel needs.
newest=$(for elf in "$module" "$libs"/*.so*; do
            readelf -V --wide "$elf" | sed -n '/Version needs/,$p'
          done | grep -o 'Name: GLIBC_2\.[0-9]*' | cut -d. -f2 | sort -n | tail -1)
[[ $(basename "$wheel") == *-manylinux_2_${newest}_x86_64.whl ]] \
  || { echo "$(basename "$wheel") does not match the newest needed glibc, 2.$newest"; exit 1; }
echo "  tag manylinux_2_$newest matches GLIBC_2.$newest, the newest glibc version needed"
# Hide the system's file of every library the wheel carries, except those that the interpreter
# itself was linked with (zlib): a private mount namespace keeps this from the rest of the machine.
hidden=()
python_libs=$(ldd "$MORVEX_PYTHON")
for copy in "$libs"/*.so*; do
  name=$(basename "$copy" | sed -E 's/-[0-9a-f]{8}(\.so)/\1/')
  grep -qE "^\s+$name " <<<"$python_libs" && continue
  # awk reads to the end: leaving early would kill ldconfig with SIGPIPE, failing the pipeline.
  system=$(ldconfig -p | awk -v n="$name" '$1 == n && /x86-64/ && !found {print $NF; found = 1}')
  [ -n "$system" ] && hidden+=("$system")
done
[[ " ${hidden[*]} " == *"/libzip.so.4 "* ]] || { echo "no system libzip to hide"; exit 1; }
rasx=$root/../shared/realdata/rasx/TwoTheta_scan_powder.rasx
[ -f "$rasx" ] || rasx=$root/examples/data/synthetic.rasx
unshare --mount bash -euo pipefail -s "$py" "$module" "$rasx" "${hidden[@]}" <<'SH'
py=$1 module=$2 rasx=$3
shift 3
for file in "$@"; do mount --bind /dev/null "$file"; echo "  hidden: $file"; done
ldd "$module" | grep -E '^\s+libzip'
"$py" - "$rasx" <<'PY'
import ctypes, sys
try:
    ctypes.CDLL("libzip.so.4")
    sys.exit("the system's libzip can still be loaded")
except OSError as error:
    print("  the system's libzip cannot be loaded:", error)
import morvex
p = morvex.read(sys.argv[1])
assert len(p.x) == len(p.y) > 100 and p.e is None
print(f"  morvex read {sys.argv[1]}: {len(p.x)} points, x from {p.x[0]} to {p.x[-1]}")
PY
SH

echo "== the same wheel on other CPython versions"
sample=$scratch/typing/sample.xye
printf '# 2theta I e\n10.0 100 10\n10.5 121 11\n11.0 144 12\n' > "$sample"
shopt -s nullglob
tried=0
for other in /root/.pyenv/versions/3.1[0-9]*/bin/python3.1[0-9]; do
  [ -x "$other" ] || continue
  pyversion=$("$other" -c 'import sys; print("%d.%d.%d" % sys.version_info[:3])')
  target=$scratch/target-$pyversion
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
echo "== the README's install commands, verbatim"
# Each line must stand in README.md as it is here; HOME moves into the scratch folder, and dist/
# is the one built above. The wheel goes into a venv of whatever python3 is on the PATH; pip
# compiles the sdist in a venv of Debian's interpreter, which then runs the suite.
readme_commands=(
  'python3 -m venv ~/venvs/xrd'
  '~/venvs/xrd/bin/python -m pip install dist/morvex-*-manylinux_*.whl'
  '/usr/bin/python3 -m venv --system-site-packages ~/venvs/xrd-src'
  '~/venvs/xrd-src/bin/python -m pip install --no-build-isolation dist/morvex-*.tar.gz'
)
rm -rf "$scratch/home"
mkdir -p "$scratch/home"
for line in "${readme_commands[@]}"; do
  grep -qxF "$line" "$root/README.md" || { echo "README.md lacks the line: $line"; exit 1; }
  echo "  $line"
  (cd "$scratch" && env -u MORVEX_WHEEL_BUILD_DIR HOME="$scratch/home" bash -euc "$line" >/dev/null)
done
(cd "$scratch/run" && "$scratch/home/venvs/xrd/bin/python" - "$sample" <<'PY'
import sys
import morvex
from morvex_convert.cli import main
assert len(morvex.read(sys.argv[1]).x) == 3
print(f"  CPython {sys.version.split()[0]} from the PATH: morvex and its converter import")
PY
)
"$scratch/home/venvs/xrd/bin/morvex-convert" --help >/dev/null
echo "== the sdist, compiled by pip in that fresh virtual environment"
installed_suite "$scratch/home/venvs/xrd-src"
echo "wheel and sdist tests passed"
