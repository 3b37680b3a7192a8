#!/usr/bin/env bash
# Builds the fuzz targets (clang 14, libFuzzer, ASan and UBSan) and runs each for SECONDS.
#
#   fuzz/run.sh SECONDS [TARGET...]      e.g. fuzz/run.sh 600 fuzz_load_rasx fuzz_xml
#
# Every target starts from its committed seeds in fuzz/seeds/<target>; where ../shared/realdata
# exists, copies of its files are added under fuzz/corpus-seed/. What a target learns stays in
# fuzz/corpus/<target> for the next run; crash, leak, timeout and out-of-memory inputs land in
# fuzz/out/<target>/. For each target the script prints executions, time, corpus size and
# crashes, and appends the same row to fuzz/results.md. It exits non-zero when any target found
# a crash.
#
# FUZZ_BUILD_DIR (default build-fuzz), FUZZ_MAX_LEN (default 65536) and FUZZ_RESULTS (default
# fuzz/results.md; empty to record nothing, as CI does) can be set.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${1:?usage: fuzz/run.sh SECONDS [TARGET...]}
shift
build=${FUZZ_BUILD_DIR:-build-fuzz}
max_len=${FUZZ_MAX_LEN:-65536}
results=${FUZZ_RESULTS-fuzz/results.md}
realdata=$root/../shared/realdata

# The toolchain: clang 14 with its runtime libraries (libFuzzer, the sanitizers).
missing=()
for p in clang-14 libclang-rt-14-dev cmake pkg-config libzip-dev libisal-dev libfast-float-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DMORVEX_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

all_targets=()
for dir in fuzz/seeds/fuzz_*; do all_targets+=("$(basename "$dir")"); done
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

# The real-data files of one target, by extension.
seed_files() {
  local dirs=()
  case $1 in
    xy) dirs=(xy xye) ;;
    csv) dirs=(csv) ;;
    raw_text) dirs=(gsas) ;;
    raw_binary) dirs=(bruker_raw) ;;
    xrdml) dirs=(xrdml) ;;
    rasx) dirs=(rasx) ;;
  esac
  for d in "${dirs[@]}"; do
    [ -d "$realdata/$d" ] && find "$realdata/$d" -maxdepth 1 -type f
  done
  return 0
}

# Writes the real-data seeds of a target into $2 (nothing where ../shared/realdata is absent).
make_seeds() {
  local target=$1 dir=$2 i=0 f
  rm -rf "$dir"
  mkdir -p "$dir"
  case $target in
    fuzz_load_*)
      seed_files "${target#fuzz_load_}" | while read -r f; do cp "$f" "$dir/"; done ;;
    fuzz_columns)
      # The first byte picks the separators, the columns read and the chunk size.
      local options
      for options in 0 1 2 29 54; do
        while read -r f; do
          { printf "\\x$(printf %02x "$options")"; cat "$f"; } >"$dir/seed$((i++))"
        done < <(seed_files xy; seed_files csv)
      done ;;
    fuzz_xml)
      seed_files xrdml | while read -r f; do cp "$f" "$dir/"; done ;;
    fuzz_file_vs_slice)
      # The first byte picks the format: xy, xye, csv, raw, xrdml, rasx (in that order).
      local selector=0 kind
      for kind in xy xy csv raw_text xrdml rasx; do
        while read -r f; do
          { printf "\\x0$selector"; cat "$f"; } >"$dir/seed$((i++))"
        done < <(seed_files "$kind")
        selector=$((selector + 1))
      done
      while read -r f; do
        { printf '\x03'; cat "$f"; } >"$dir/seed$((i++))"
      done < <(seed_files raw_binary) ;;
  esac
}

dictionary_for() {
  case $1 in
    fuzz_number) echo fuzz/number.dict ;;
    fuzz_load_xrdml | fuzz_xml) echo fuzz/xml.dict ;;
    fuzz_load_rasx) echo fuzz/zip.dict ;;
    *) echo "" ;;
  esac
}

if [ -n "$results" ] && [ ! -f "$results" ]; then
  {
    echo "# Fuzzing runs"
    echo
    echo "Appended by fuzz/run.sh, one row per target and run."
    echo
    echo "| date | commit | target | executions | seconds | corpus files | crashes |"
    echo "|---|---|---|---:|---:|---:|---:|"
  } >"$results"
fi
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)

printf '%-22s %14s %8s %8s %8s\n' target executions seconds corpus crashes
failed=0
for target in "${targets[@]}"; do
  bin=$build/$target
  [ -x "$bin" ] || { echo "no such target: $target" >&2; failed=1; continue; }
  corpus=fuzz/corpus/$target
  seeds=fuzz/corpus-seed/$target
  out=fuzz/out/$target
  mkdir -p "$corpus" "$out"
  make_seeds "$target" "$seeds"
  dict=$(dictionary_for "$target")
  args=(-max_total_time="$seconds" -print_final_stats=1 -max_len="$max_len" -timeout=30
        -rss_limit_mb=2560 -artifact_prefix="$out/")
  [ -n "$dict" ] && args+=(-dict="$dict")
  before=$(find "$out" -maxdepth 1 -type f | wc -l)
  started=$(date +%s)
  status=0
  "$bin" "${args[@]}" "$corpus" "fuzz/seeds/$target" "$seeds" >"fuzz/out/$target.log" 2>&1 || status=$?
  elapsed=$(( $(date +%s) - started ))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "fuzz/out/$target.log" | tail -1)
  [ -n "$execs" ] || execs=$(sed -n 's/.*#\([0-9]*\).*/\1/p' "fuzz/out/$target.log" | tail -1)
  files=$(find "$corpus" -type f | wc -l)
  crashes=$(( $(find "$out" -maxdepth 1 -type f | wc -l) - before ))
  if [ "$status" -ne 0 ] && [ "$crashes" -eq 0 ]; then crashes="exit $status"; fi
  printf '%-22s %14s %8s %8s %8s\n' "$target" "${execs:-0}" "$elapsed" "$files" "$crashes"
  [ -z "$results" ] \
    || echo "| $(date -u +%Y-%m-%d) | $commit | $target | ${execs:-0} | $elapsed | $files | $crashes |" >>"$results"
  if [ "$crashes" != 0 ]; then
    failed=1
    echo "  see fuzz/out/$target.log and $out/" >&2
  fi
done
exit $failed
