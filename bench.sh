#!/usr/bin/env bash
# Installs what is missing (Google Benchmark included), builds the benchmark programs for x64
# in build/bench-x64, runs them under Wine in a private X server, writes out/bench_<group>.json
# and prints the ratios against their goals. A missed goal is reported, not a failure: the
# exit status is non-zero only when something fails to build or to run.
#   ./bench.sh                        every program
#   ./bench.sh ARGS...                the same, ARGS going to every program
#                                     (e.g. --benchmark_filter=front)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

KX_WITH_BENCHMARK=1 ./scripts/setup_deps.sh

BUILD=build/bench-x64
if [[ ! -f "$BUILD/CMakeCache.txt" ]]; then
  cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x64.cmake -DCMAKE_BUILD_TYPE=Release \
    -DVIDEO_RENDER_BENCHMARKS=ON -DVIDEO_RENDER_TESTS=OFF > /dev/null
fi
echo "[bench] building $BUILD"
mkdir -p "$BUILD"
cmake --build "$BUILD" --target benchmarks -j"$(nproc)" -- --no-print-directory > "$BUILD/build.log" 2>&1 || {
  grep -E -B2 -A8 'error|Error' "$BUILD/build.log" | head -80
  echo "[bench] $BUILD failed; the whole log is $BUILD/build.log" >&2
  exit 1
}
mapfile -t programs < "$BUILD/bench/programs.txt"

# A Wine prefix of its own, so that stopping this run's wineserver leaves a test run alone.
export WINEPREFIX="${WINEPREFIX:-$PWD/build/bench-wineprefix}"
source scripts/wine_rig.sh
wine_rig_start
trap wine_rig_stop EXIT

mkdir -p out
outputs=()
failed=0
for program in "${programs[@]}"; do
  [[ -n "$program" ]] || continue
  out="out/$(basename "$program").json"
  rm -f "$out"
  echo "[bench] $program"
  # Programs of ddraw_only/ run beside the stand-in d3d9.dll, which leaves DirectDraw only.
  overrides="$WINEDLLOVERRIDES"
  [[ "$program" == ddraw_only/* ]] && overrides="d3d9=n;$WINEDLLOVERRIDES"
  if ! WINEDLLOVERRIDES="$overrides" /usr/lib/wine/wine64 "$BUILD/bin/$program.exe" \
    --benchmark_out="$out" --benchmark_out_format=json "$@" < /dev/null; then
    echo "[bench] $program failed" >&2
    failed=1
  fi
  [[ -f "$out" ]] && outputs+=("$out")
done

python3 bench/summary.py "${outputs[@]}" || failed=1
{
  echo
  echo "Machine: $(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), under Wine $(/usr/lib/wine/wine64 --version 2> /dev/null | sed 's/^wine-//') on Debian $(cat /etc/debian_version)"
}
exit "$failed"
