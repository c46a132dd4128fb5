#!/usr/bin/env bash
# Regenerates the compiled shader headers from their sources (sources/video_render/shaders.list)
# with the x64 build's shader_compiler under Wine.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
./scripts/build.sh
source scripts/wine_rig.sh
wine_rig_start
trap wine_rig_stop EXIT
/usr/lib/wine/wine64 build/x64/bin/shader_compiler.exe --write sources/video_render/shaders.list
