#!/usr/bin/env bash
# Installs what is missing, builds both targets, then plays frames through the library into
# a real window under Wine and writes a screenshot under out/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

./scripts/setup_deps.sh
./scripts/build.sh

source scripts/wine_rig.sh
wine_rig_start
trap wine_rig_stop EXIT
mkdir -p out
KX_LOGGER_STDERR=1 /usr/lib/wine/wine64 build/x64/bin/vrender_smoke.exe "$@"
