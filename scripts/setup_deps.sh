#!/usr/bin/env bash
# Installs what the build and the tests need, skipping whatever is already there:
# the MinGW-w64 cross compilers, Wine, an X server, GoogleTest's sources, and libyuv
# cross-built for both targets from Debian's source package; with KX_WITH_BENCHMARK=1 also
# Google Benchmark, cross-built for x64 from Debian's source package (for ./bench.sh).
#   KX_DEPS_DIR   where the dependencies go (/opt/kx_deps)
#   KX_APT_DIR    an apt configuration of its own for the source packages, instead of the
#                 system's: their sources in $KX_APT_DIR/sources.list.d, apt's lists and cache
#                 beside them (an empty folder starts as a machine that has none enabled)
set -euo pipefail

DEPS_DIR="${KX_DEPS_DIR:-/opt/kx_deps}"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SYSTEM_SOURCES=/etc/apt/sources.list.d
SOURCES_DIR="$SYSTEM_SOURCES"
APT_SOURCE_OPTIONS=()
if [[ -n "${KX_APT_DIR:-}" ]]; then
  SOURCES_DIR="$KX_APT_DIR/sources.list.d"
  mkdir -p "$SOURCES_DIR" "$KX_APT_DIR/lists/partial" "$KX_APT_DIR/cache/archives/partial"
  APT_SOURCE_OPTIONS=(-o Dir::Etc::sourcelist="$KX_APT_DIR/sources.list"
    -o Dir::Etc::sourceparts="$SOURCES_DIR" -o Dir::State::Lists="$KX_APT_DIR/lists"
    -o Dir::Cache="$KX_APT_DIR/cache")
fi

PACKAGES=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  wine64 xvfb xauth libgl1-mesa-dri
  cmake make googletest dpkg-dev imagemagick clang-format cppcheck
)

log() { echo "[setup] $*" >&2; }

missing_packages() {
  local p
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

install_packages() {
  local missing
  missing="$(missing_packages)"
  if [[ -z "$missing" ]]; then
    log "Debian packages present"
    return
  fi
  log "installing:" $missing
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >&2
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing >&2
}

# A copy of the system's Debian sources with deb-src in place of deb, in either of apt's formats.
enable_source_packages() {
  compgen -G "$SOURCES_DIR/debian-src.*" > /dev/null && return
  log "enabling Debian source packages"
  if [[ -f "$SYSTEM_SOURCES/debian.sources" ]]; then
    sed 's/^Types: deb$/Types: deb-src/' "$SYSTEM_SOURCES/debian.sources" > "$SOURCES_DIR/debian-src.sources"
  else
    sed -n 's/^deb\s/deb-src /p' /etc/apt/sources.list > "$SOURCES_DIR/debian-src.list"
  fi
  apt-get "${APT_SOURCE_OPTIONS[@]}" update -q >&2
}

# fetch_source <package>: unpacks Debian's source of <package> once and sets SOURCE_DIR to it
# (a variable, not standard output, so that nothing it logs can end up in the path)
fetch_source() {
  local pkg="$1" dir="$DEPS_DIR/src"
  mkdir -p "$dir"
  if ! compgen -G "$dir/$pkg-[0-9]*/" > /dev/null; then
    enable_source_packages
    (cd "$dir" && apt-get "${APT_SOURCE_OPTIONS[@]}" source -q "$pkg" >&2)
  fi
  SOURCE_DIR="$(compgen -G "$dir/$pkg-[0-9]*/" | head -n1)"
  SOURCE_DIR="${SOURCE_DIR%/}"
}

# cross_build <name> <source dir> <target> <cmake target> [cmake args...]
cross_build() {
  local name="$1" src="$2" target="$3" cmake_target="$4"
  shift 4
  local build="$DEPS_DIR/build/$name-$target" stamp="$DEPS_DIR/$name-$target.stamp"
  [[ -f "$stamp" ]] && return
  log "cross-building $name for $target"
  rm -rf "$build"
  mkdir -p "$DEPS_DIR/build"
  if ! cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$target.cmake" \
    -DCMAKE_BUILD_TYPE=Release "$@" > "$build.log" 2>&1 ||
    ! cmake --build "$build" --target "$cmake_target" -j"$(nproc)" >> "$build.log" 2>&1; then
    tail -n 30 "$build.log" >&2
    log "cross-building $name for $target failed; the whole log is $build.log"
    return 1
  fi
  touch "$stamp"
}

build_libyuv() {
  local src
  fetch_source libyuv
  src="$SOURCE_DIR"
  for target in i686 x64; do
    cross_build libyuv "$src" "$target" yuv
    mkdir -p "$DEPS_DIR/libyuv/$target/lib"
    cp "$DEPS_DIR/build/libyuv-$target/libyuv.a" "$DEPS_DIR/libyuv/$target/lib/"
    rm -rf "$DEPS_DIR/libyuv/$target/include"
    cp -r "$src/include" "$DEPS_DIR/libyuv/$target/include"
  done
}

# Google Benchmark, for the benchmarks only, which run on the x64 build. Debian's source
# package does not read its version from Git, so it is given here; std::regex is what the
# MinGW runtime offers (the POSIX regex checks fail to compile and cannot run when
# cross-compiling).
build_benchmark() {
  local src version target=x64
  fetch_source benchmark
  src="$SOURCE_DIR"
  version="$(basename "$src")"
  version="${version#benchmark-}"
  cross_build benchmark "$src" "$target" benchmark \
    -DGIT_VERSION="$version" -DBUILD_SHARED_LIBS=OFF \
    -DBENCHMARK_ENABLE_TESTING=OFF -DBENCHMARK_ENABLE_GTEST_TESTS=OFF \
    -DBENCHMARK_ENABLE_INSTALL=OFF -DBENCHMARK_ENABLE_WERROR=OFF -DHAVE_STD_REGEX=ON
  mkdir -p "$DEPS_DIR/benchmark/$target/lib"
  cp "$DEPS_DIR/build/benchmark-$target/src/libbenchmark.a" "$DEPS_DIR/benchmark/$target/lib/"
  rm -rf "$DEPS_DIR/benchmark/$target/include"
  cp -r "$src/include" "$DEPS_DIR/benchmark/$target/include"
}

install_packages
mkdir -p "$DEPS_DIR"
build_libyuv
if [[ "${KX_WITH_BENCHMARK:-0}" == 1 ]]; then build_benchmark; fi
log "dependencies ready in $DEPS_DIR"
