#!/usr/bin/env bash
# Configures (until a configure succeeds), builds and installs both targets: build/win32 (i686)
# and build/x64, each installed into its install/ folder, then builds the player of each target
# against that installed package (in its vrender_play/ folder), as a caller of the library would.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

log() { echo "[build] $*" >&2; }

# compile <build dir> <log name> <what>: builds, and on failure shows the errors and fails
compile() {
  local dir="$1" log_file="$1/$2.log" what="$3"
  cmake --build "$dir" -j"$(nproc)" -- --no-print-directory > "$log_file" 2>&1 || {
    grep -E -B2 -A8 'error|Error' "$log_file" | head -80 >&2
    log "$what failed; the whole log is $log_file"
    return 1
  }
}

# configure <build dir> <cmake args...>: configures unless a configure succeeded before
configure() {
  local dir="$1"
  shift
  [[ -f "$dir/Makefile" ]] && return
  cmake -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" > /dev/null
}

build_target() {
  local toolchain="cmake/$1.cmake" dir="$2"
  log "$dir"
  # shellcheck disable=SC2086
  configure "$dir" -S . -DCMAKE_TOOLCHAIN_FILE="$toolchain" ${KX_CMAKE_ARGS:-}
  compile "$dir" build "$dir"
  # A fresh install tree each time: nothing of an earlier build stays in the package.
  rm -rf "$dir/install"
  cmake --install "$dir" --prefix "$dir/install" > /dev/null

  log "$dir/vrender_play, against $dir/install"
  local standin="$ROOT/$dir/bin/ddraw_only/d3d9.dll" # built with the tests
  [[ -f "$standin" ]] || standin=""
  configure "$dir/vrender_play" -S tools/vrender_play -DCMAKE_TOOLCHAIN_FILE="$ROOT/$toolchain" \
    -DCMAKE_PREFIX_PATH="$ROOT/$dir/install" -DKX_DEPS_DIR="$(deps_dir "$dir")" \
    -DVRENDER_PLAY_D3D9_STANDIN="$standin"
  compile "$dir/vrender_play" build "$dir/vrender_play"
}

# the dependency folder the library's build was configured with
deps_dir() {
  sed -n 's/^KX_DEPS_DIR:PATH=//p' "$1/CMakeCache.txt"
}

build_target mingw-i686 build/win32
build_target mingw-x64 build/x64
