#!/usr/bin/env bash
# Installs what is missing, builds both targets and runs every test (the x64 build under
# Wine, in a private X server). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

./scripts/setup_deps.sh
./scripts/build.sh
./scripts/check_style.sh

source scripts/wine_rig.sh
wine_rig_start
trap wine_rig_stop EXIT
ctest --test-dir build/x64 --output-on-failure --timeout 900 "$@"
