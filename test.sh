#!/usr/bin/env bash
# Installs what is missing, runs the dependency set-up once more as on a fresh machine (into an
# empty folder, with source packages not yet enabled), builds and packages both targets (the
# player built against each installed package, the DLLs' version records read back) and runs
# every test (the x64 build under Wine, in a private X server). Exits non-zero on any failure.
#   ./test.sh                 everything, the reliability programs in their short versions
#   ./test.sh --long          then the long reliability runs (scripts/long_run.sh, an hour or more)
#   ./test.sh ARGS...         ARGS go to ctest (for example -R front)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

long=0
if [[ "${1:-}" == "--long" ]]; then
  long=1
  shift
fi

# The dependency set-up from nothing, where that is cheap to redo: libyuv fetched and cross-built
# into a scratch folder, with an apt configuration of its own that has no source packages yet.
fresh_setup() {
  local scratch
  scratch="$(mktemp -d "${TMPDIR:-/tmp}/kx_fresh_setup.XXXXXX")"
  echo "[test] the dependency set-up from nothing, in $scratch" >&2
  if ! KX_DEPS_DIR="$scratch/deps" KX_APT_DIR="$scratch/apt" ./scripts/setup_deps.sh; then
    echo "[test] the dependency set-up from nothing failed; its folder is $scratch" >&2
    return 1
  fi
  rm -rf "$scratch"
}

./scripts/setup_deps.sh
fresh_setup
./scripts/package.sh
./scripts/check_style.sh

(
  source scripts/wine_rig.sh
  wine_rig_start
  trap wine_rig_stop EXIT
  ctest --test-dir build/x64 --output-on-failure --timeout 900 "$@"
)
if [[ $long -eq 1 ]]; then
  ./scripts/long_run.sh
fi
