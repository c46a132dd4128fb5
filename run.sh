#!/usr/bin/env bash
# Installs what is missing, builds both targets, then plays frames through the library into
# a real window under Wine and writes screenshots under out/.
#   ./run.sh                 300 frames of the test pattern with its whole overlay scene on every
#                            path: software frames on Direct3D 9 (out/vrender_play.png) and on
#                            DirectDraw, DXVA2-style surfaces, and Direct3D 11-style textures
#                            where the platform has them
#   ./run.sh ARGS...         the player with these arguments (see --help)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

./scripts/setup_deps.sh
./scripts/build.sh

source scripts/wine_rig.sh
wine_rig_start
trap wine_rig_stop EXIT
mkdir -p out
# The player, built against the installed package of the x64 build (scripts/build.sh).
PLAYER_DIR=build/x64/vrender_play
play() { /usr/lib/wine/wine64 "$PLAYER_DIR/vrender_play.exe" "$@"; }
# Without Direct3D 9 the library falls back to DirectDraw: this copy of the player runs beside
# a stand-in d3d9.dll that has none.
play_ddraw() {
  WINEDLLOVERRIDES="d3d9=n;$WINEDLLOVERRIDES" /usr/lib/wine/wine64 "$PLAYER_DIR/ddraw_only/vrender_play.exe" "$@"
}
if [[ $# -eq 0 ]]; then
  play --frames 300 --screenshot out/vrender_play.png
  play --path dxva2 --frames 300 --screenshot out/vrender_play_dxva2.png
  play_ddraw --path ddraw --frames 300 --screenshot out/vrender_play_ddraw.png
  # Exit status 3: the platform lacks the path (Wine has no NV12 textures that shaders read).
  play --path d3d11 --frames 300 --screenshot out/vrender_play_d3d11.png || [[ $? -eq 3 ]]
elif [[ " $* " == *" --path ddraw "* ]]; then
  play_ddraw "$@"
else
  play "$@"
fi
