#!/usr/bin/env bash
# Builds core, module and tests with AddressSanitizer and UndefinedBehaviorSanitizer into
# ${MORVEX_ASAN_BUILD_DIR:-build-asan} and runs the C++ tests and the Python tests there.
#
# The interpreter is not instrumented, so the sanitizer runtime is preloaded into it and
# Python's own allocator is switched to malloc, which puts red zones around every bytes
# object that a reader walks. Leak checking stays on for the C++ tests; in the interpreter
# it is off, since CPython keeps much of what it allocates until exit by design.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
source scripts/venv.sh
build=${MORVEX_ASAN_BUILD_DIR:-build-asan}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVEX_SANITIZE=ON \
  -DPython3_EXECUTABLE="$MORVEX_VENV_PYTHON" >/dev/null
cmake --build "$build" -j "$(nproc)"

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
echo "== C++ tests under ASan+UBSan"
"$build/tests/morvex_cpp_tests" --gtest_brief=1

echo "== Python tests under ASan+UBSan"
# libstdc++ is preloaded beside the runtime: the interpreter links no C++ library, so without
# it the runtime's __cxa_throw interceptor finds no real __cxa_throw to call and aborts the
# first time an extension that carries its own (DuckDB, matplotlib) throws.
libasan=$(${CXX:-c++} -print-file-name=libasan.so)
libstdcxx=$(${CXX:-c++} -print-file-name=libstdc++.so.6)
for lib in "$libasan" "$libstdcxx"; do
  [ -f "$lib" ] || { echo "no $lib found for ${CXX:-c++}" >&2; exit 1; }
done
LD_PRELOAD="$libasan $libstdcxx" ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 PYTHONMALLOC=malloc \
  MORVEX_BUILD_DIR=$build "$MORVEX_VENV_PYTHON" -m pytest -q -p no:cacheprovider tests/python "$@"
