#!/usr/bin/env bash
# Tests what users install. `python -m build` makes the sdist and, from it, the wheel, and
# `auditwheel repair` the manylinux wheel (scripts/build-wheel.sh). That wheel goes into a fresh
# virtual environment: the quick Python suite, stubtest and mypy run against it, it must load libzip
# from its own copy with the system's hidden, and the quick suite runs on it on every other
# CPython of the supported range that pyenv holds. Then the README's source install runs as
# written in the unpacked sdist with Debian's interpreter, whose build must pass the quick suite.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/venv.sh
root=$PWD
scratch=$(realpath -m "${MORVEX_WHEEL_BUILD_DIR:-$root/build-wheel}")
rm -rf "$scratch/dist" "$scratch/venv" "$scratch/typing" "$scratch/run" "$scratch/src" \
  "$scratch/home"
mkdir -p "$scratch/run" "$scratch/typing" "$scratch/home"
version=$(cat VERSION)
py_api=$(sed -n 's/^wheel\.py-api *= *"\(cp3[0-9]*\)"$/\1/p' pyproject.toml)
floor=${py_api#cp3}

echo "== python -m build, auditwheel repair"
scripts/build-wheel.sh "$scratch/dist"
wheels=("$scratch"/dist/morvex-"$version"-"$py_api"-abi3-manylinux_2_*_x86_64.whl)
[ ${#wheels[@]} -eq 1 ] && [ -f "${wheels[0]}" ] \
  || { echo "expected one manylinux wheel"; ls "$scratch/dist"; exit 1; }
wheel=${wheels[0]}
sdist=$scratch/dist/morvex-$version.tar.gz
"$MORVEX_VENV/bin/auditwheel" show "$wheel" | tee "$scratch/show.log" | sed 's/^/  /' | head -4
# auditwheel wraps its lines.
tr '\n' ' ' <"$scratch/show.log" \
  | grep -q "consistent with the following platform tag: \"manylinux_2_[0-9]*_x86_64\"" \
  || { echo "auditwheel does not call the wheel manylinux"; exit 1; }
listing=$(tar tzf "$sdist")
for f in CMakeLists.txt cmake/sources.cmake VERSION LICENSE CHANGELOG.md README.md \
         pyproject.toml requirements/test.txt src/python/morvex/morvex.pyi src/python/shared/errors.cpp \
         src/morvex_convert/cli.py tests/CMakeLists.txt tests/python/conftest.py \
         examples/data/synthetic.rasx; do
  grep -qx "morvex-$version/$f" <<<"$listing" || { echo "the sdist lacks $f"; exit 1; }
done

# Run from an empty directory so that neither the source tree nor a build tree is importable;
# morvex then comes only from the environment under test.
installed_suite() {
  local venv=$1
  shift
  (cd "$scratch/run" && "$venv/bin/python" - "$venv" <<'PY'
import importlib.metadata, pathlib, sys
import morvex, morvex_convert, morvexio
venv = pathlib.Path(sys.argv[1]).resolve()
for module in (morvex, morvex_convert, morvexio):
    where = pathlib.Path(module.__file__).resolve()
    assert venv in where.parents, f"{module.__name__} imported from {where}, not from the venv"
print(f"  CPython {sys.version.split()[0]}: morvex", importlib.metadata.version("morvex"),
      "from", pathlib.Path(morvex.__file__).parent)
PY
  )
  (cd "$scratch/run" && MORVEX_INSTALLED=1 "$venv/bin/python" -m pytest -q -p no:cacheprovider \
    "$@" "$root/tests/python" | tail -n 15)
}

# The quick suite: the slow loads run on the build (CTest) and under the sanitizers.
echo "== the wheel in a fresh virtual environment: the quick suite"
morvex_venv "$scratch/venv" "$MORVEX_PYTHON" requirements/test.txt
py=$scratch/venv/bin/python
"$py" -m pip install -q --disable-pip-version-check --no-deps "$wheel"
installed_suite "$scratch/venv" -m "not slow"
cd "$scratch/run"

echo "== stubtest"
"$py" -m mypy.stubtest morvex
"$py" -m mypy.stubtest morvexio --allowlist "$root/scripts/stubtest-allowlist.txt"

echo "== mypy finds the installed stubs"
cat > "$scratch/typing/good.py" <<'PY'
import morvex

def total(path: str) -> float:
    p: morvex.Pattern = morvex.read(path)
    e = p.e
    return sum(p.y) + (sum(e) if e is not None else 0.0) + len(morvex.read_bytes(b"", "a.xy").x)
PY
cat > "$scratch/typing/good_io.py" <<'PY'
import pathlib

import morvexio

def peak(path: pathlib.Path) -> float:
    scan: morvexio.Scan = morvexio.read(path).scans[0]
    e = scan.e
    return float(scan.y.max()) + (0.0 if e is None else float(e[0])) + len(scan)
PY
cat > "$scratch/typing/bad.py" <<'PY'
import morvex

p = morvex.read(b"scan.xy")
p.x = [1.0]
n: float = sum(p.e)
PY
"$py" -m mypy --strict --no-incremental "$scratch/typing/good.py" "$scratch/typing/good_io.py"
if out=$("$py" -m mypy --no-incremental "$scratch/typing/bad.py"); then
  echo "mypy accepted wrong uses of morvex: the stubs were not found"; exit 1
fi
for expected in 'Argument 1 to "read" has incompatible type "bytes"' \
                'Property "x" defined in "Pattern" is read-only' \
                'Argument 1 to "sum" has incompatible type "list[float] | None"'; do
  grep -qF "$expected" <<<"$out" || { echo "mypy output lacks: $expected"; echo "$out"; exit 1; }
done
echo "mypy: stubs picked up (3 expected errors reported)"

echo "== the wheel's own libraries, with the system's copies hidden"
site=$("$py" -c 'import sysconfig; print(sysconfig.get_path("platlib"))')
module=$site/morvex.abi3.so
libs=$site/morvex.libs
ldd "$module" | grep -E "^\s+libzip-[0-9a-f]{8}\.so\.[0-9.]+ => $libs/" \
  || { echo "ldd does not resolve libzip inside the wheel:"; ldd "$module"; exit 1; }
# Hide the system's file of every library the wheel carries, except those that the interpreter
# itself was linked with (zlib): a private mount namespace keeps this from the rest of the machine.
hidden=()
python_libs=$(ldd "$(readlink -f "$py")")
for copy in "$libs"/*.so*; do
  name=$(basename "$copy" | sed -E 's/-[0-9a-f]{8}(\.so\.[0-9]+).*/\1/')
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
cd "$root"

echo "== the wheel on every other CPython 3.$floor+ found: the quick suite"
main=$("$py" -c 'import sys; print(sys.version.split()[0])')
shopt -s nullglob
# Debian's python3 gets the source install below instead.
for other in /root/.pyenv/versions/3.*/bin/python3; do
  [ -x "$other" ] || continue
  pyversion=$("$other" -c 'import sys; print("%d.%d.%d" % sys.version_info[:3])')
  minor=$(cut -d. -f2 <<<"$pyversion")
  [ "$minor" -ge "$floor" ] && [ "$pyversion" != "$main" ] || continue
  venv=$MORVEX_VENV-$pyversion
  morvex_venv "$venv" "$other" requirements/test.txt
  "$venv/bin/python" -m pip install -q --disable-pip-version-check --no-deps --force-reinstall \
    "$wheel"
  installed_suite "$venv" -m "not slow"
done

echo "== the README's source install, verbatim, in the unpacked sdist with Debian's python3"
# HOME moves into the scratch folder. The line must stand in README.md as it is here.
line='/usr/bin/python3 -m venv ~/venvs/xrd && ~/venvs/xrd/bin/pip install .'
grep -qxF "$line" README.md || { echo "README.md lacks the line: $line"; exit 1; }
tar xzf "$sdist" -C "$scratch" && mv "$scratch/morvex-$version" "$scratch/src"
echo "  $line"
(cd "$scratch/src" && HOME="$scratch/home" CMAKE_BUILD_PARALLEL_LEVEL=$(nproc) \
  bash -euc "$line" >"$scratch/source-install.log" 2>&1) \
  || { tail -30 "$scratch/source-install.log"; exit 1; }
"$scratch/home/venvs/xrd/bin/pip" install -q --disable-pip-version-check -r requirements/test.txt
installed_suite "$scratch/home/venvs/xrd" -m "not slow"
"$scratch/home/venvs/xrd/bin/morvex-convert" --help >/dev/null
echo "wheel and sdist tests passed"
