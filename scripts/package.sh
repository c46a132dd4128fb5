#!/usr/bin/env bash
# Installs what is missing, builds both targets and writes out/video_render-<version>-win32.zip
# and out/video_render-<version>-x64.zip: each target's install tree (include/, bin/, lib/,
# lib/cmake/video_render/) and the README, in a folder of the zip's name. The version record of
# each DLL is read back first: it must give the package's version and the DLL's own name.
# Prints the paths of the two zips.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

log() { echo "[package] $*" >&2; }

# package_version <install tree>: the version its package configuration gives
package_version() {
  sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$1/lib/cmake/video_render/video_renderConfigVersion.cmake"
}

# check_version_record <windres> <DLL> <version>: the record as Windows shows it in the file's
# properties, read back from the DLL by windres
check_version_record() {
  local windres="$1" dll="$2" version="$3" name record line
  name="$(basename "$dll" .dll)"
  record="$("$windres" -i "$dll" -O rc)"
  local expected=(
    "FILEVERSION ${version//./, }, 0"
    "PRODUCTVERSION ${version//./, }, 0"
    "BLOCK \"040904b0\""
    "VALUE \"FileVersion\", \"$version\""
    "VALUE \"ProductVersion\", \"$version\""
    "VALUE \"ProductName\", \"video_render\""
    "VALUE \"InternalName\", \"$name\""
    "VALUE \"OriginalFilename\", \"$name.dll\""
    "VALUE \"Translation\", 0x409, 1200"
  )
  for line in "${expected[@]}"; do
    if ! grep -qF "$line" <<< "$record"; then
      log "$dll: the version record lacks: $line"
      return 1
    fi
  done
  if ! grep -qE '^ *VALUE "FileDescription", ".+"$' <<< "$record"; then
    log "$dll: the version record has no file description"
    return 1
  fi
}

# package <build dir> <windres>: the zip of that build's install tree
package() {
  local dir="$1" windres="$2" install="$1/install" version name stage dll
  version="$(package_version "$install")"
  name="video_render-$version-$(basename "$dir")"
  for dll in "$install"/bin/*.dll; do
    check_version_record "$windres" "$dll" "$version"
  done
  stage="$dir/package"
  rm -rf "$stage"
  mkdir -p "$stage"
  cp -r "$install" "$stage/$name"
  cp README.md "$stage/$name/"
  mkdir -p out
  rm -f "out/$name.zip"
  (cd "$stage" && cmake -E tar cf "$ROOT/out/$name.zip" --format=zip "$name")
  echo "out/$name.zip"
}

./scripts/setup_deps.sh
./scripts/build.sh
package build/win32 i686-w64-mingw32-windres
package build/x64 x86_64-w64-mingw32-windres
