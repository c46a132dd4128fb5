#!/usr/bin/env bash
# Installs what is missing, builds both targets and runs every test (the x64 build under
# Wine, in a private X server). Exits non-zero on any failure.
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

./scripts/setup_deps.sh
./scripts/build.sh
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
