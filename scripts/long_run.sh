#!/usr/bin/env bash
# The long reliability runs, after a build (./test.sh --long runs them after the tests):
# 100,000 hostile calls through the public interface, 10,000 frames on each backend with the
# window resized every 100 frames, the fault storms at length, and sixteen renderers at once (the
# wall, on Direct3D 9 with DXVA2 and on DirectDraw) for 30 rounds. Every program's output goes
# to out/long_run/<name>.log; their summary lines are gathered in out/reliability.txt. The fuzz,
# the longest, runs beside the others in a Wine prefix and X server of its own.
#   scripts/long_run.sh [SEED]      (default seed 20261206)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
SEED="${1:-20261206}"
BIN="$ROOT/build/x64/bin"
LOGS="$ROOT/out/long_run"
SUMMARY="$ROOT/out/reliability.txt"
WINE=/usr/lib/wine/wine64

source scripts/wine_rig.sh
mkdir -p "$LOGS"

failed=0
# run NAME DIR [VAR=VALUE...] -- PROGRAM ARGS...: one program under Wine, from DIR.
run() {
  local name="$1" dir="$2"
  shift 2
  local env_vars=()
  while [[ "$1" != "--" ]]; do
    env_vars+=("$1")
    shift
  done
  shift
  if [[ ! -f "$dir/$1" ]]; then
    echo "[long] $name: $dir/$1 is not built, skipped" >&2
    return
  fi
  echo "[long] $name: $*" >&2
  local start=$SECONDS status=0
  (cd "$dir" && env "${env_vars[@]}" "$WINE" "$@") > "$LOGS/$name.log" 2>&1 < /dev/null || status=$?
  echo "[long] $name: exit $status after $((SECONDS - start)) s" >&2
  if [[ $status -ne 0 ]]; then
    failed=1
    tail -n 20 "$LOGS/$name.log" >&2
  fi
}

wine_rig_start
trap wine_rig_stop EXIT
(
  unset DISPLAY RIG_XVFB_PID
  export WINEPREFIX="$ROOT/build/wineprefix_fuzz"
  wine_rig_start
  trap wine_rig_stop EXIT
  run fuzz "$BIN" -- vrender_fuzz.exe fuzz --seed "$SEED" --calls 100000
  exit $failed
) &
fuzz_pid=$!
DDRAW_ENV="WINEDLLOVERRIDES=d3d9=n;mscoree,mshtml="
for backend in d3d9 dxva2 d3d11; do
  run "soak_$backend" "$BIN" -- vrender_reliability.exe soak --backend "$backend" --long --seed "$SEED"
done
run soak_ddraw "$BIN/ddraw_only" "$DDRAW_ENV" -- vrender_reliability.exe soak --backend ddraw --long \
  --seed "$SEED"
# Direct3D 9 and 11 each in a process of its own, DirectDraw from the copy beside the stand-in.
for backend in d3d9 d3d11; do
  run "storm_$backend" "$BIN" -- vrender_reliability.exe storm --long --backend "$backend" --seed "$SEED"
done
run storm_ddraw "$BIN/ddraw_only" "$DDRAW_ENV" -- vrender_reliability.exe storm --long --seed "$SEED"
# Wine counts the host allocator's memory as the process's, and sixteen threads leave its
# arenas (one per thread, up to eight per processor) fragmented and growing for hours with no
# code of ours in the loop: the walls, which judge process memory, run with one arena.
ONE_ARENA="MALLOC_ARENA_MAX=1"
run wall "$BIN" "$ONE_ARENA" -- vrender_reliability.exe wall --long --seed "$SEED"
run wall_ddraw "$BIN/ddraw_only" "$DDRAW_ENV" "$ONE_ARENA" -- vrender_reliability.exe wall --long \
  --seed "$SEED"
wait "$fuzz_pid" || failed=1

{
  echo "# long run of $(date -u '+%Y-%m-%d %H:%M UTC'), seed $SEED, $(nproc) processors"
  grep -h -E '^vrender_fuzz: [0-9]+ calls|^soak |fault storm|^wall \(' "$LOGS"/*.log || true
} > "$SUMMARY"
cat "$SUMMARY"
exit $failed
