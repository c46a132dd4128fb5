#!/usr/bin/env bash
# Installs what is missing, builds both targets, then plays frames through the library into
# a real window under Wine and writes screenshots under out/.
#   ./run.sh                 300 frames of the test pattern, as software frames and as
#                            DXVA2-style surfaces, both on Direct3D 9
#   ./run.sh ARGS...         the player with these arguments (see --help)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

./scripts/setup_deps.sh
./scripts/build.sh

source scripts/wine_rig.sh
wine_rig_start
trap wine_rig_stop EXIT
mkdir -p out
play() { /usr/lib/wine/wine64 build/x64/bin/vrender_play.exe "$@"; }
if [[ $# -eq 0 ]]; then
  play --frames 300 --screenshot out/vrender_play.png
  play --path dxva2 --frames 300 --screenshot out/vrender_play_dxva2.png
else
  play "$@"
fi
