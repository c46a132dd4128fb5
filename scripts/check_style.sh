#!/usr/bin/env bash
# Fails when a source file is not formatted with the committed .clang-format, or when
# cppcheck finds a problem in the library.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

mapfile -t files < <(git ls-files '*.cpp' '*.h' 2> /dev/null || find sources tests tools -name '*.cpp' -o -name '*.h')
if ! clang-format --dry-run -Werror "${files[@]}" 2> /tmp/kx_format.log; then
  head -40 /tmp/kx_format.log >&2
  echo "[style] run: clang-format -i \$(git ls-files '*.cpp' '*.h')" >&2
  exit 1
fi

cppcheck --quiet --error-exitcode=1 --enable=warning,performance,portability \
  --inline-suppr --std=c++17 -D_WIN32 -DVIDEO_RENDER_BUILD -DKX_LOGGER_BUILD \
  --suppress=missingIncludeSystem -I sources/video_render -I sources/kx_logger \
  sources tools
echo "[style] clang-format and cppcheck clean" >&2
