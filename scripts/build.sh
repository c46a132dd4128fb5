#!/usr/bin/env bash
# Configures (until a configure succeeds) and builds both targets: build/win32 (i686), build/x64.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

build_target() {
  local toolchain="$1" dir="$2"
  if [[ ! -f "$dir/Makefile" ]]; then
    cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="cmake/$toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
      ${KX_CMAKE_ARGS:-} > /dev/null
  fi
  echo "[build] $dir"
  cmake --build "$dir" -j"$(nproc)" -- --no-print-directory > "$dir/build.log" 2>&1 || {
    grep -E -B2 -A8 'error|Error' "$dir/build.log" | head -80
    echo "[build] $dir failed; the whole log is $dir/build.log" >&2
    return 1
  }
}

build_target mingw-i686 build/win32
build_target mingw-x64 build/x64
