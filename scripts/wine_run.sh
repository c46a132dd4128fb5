#!/usr/bin/env bash
# Runs one Windows program under Wine; CMake uses it as the cross-compiling emulator.
exec /usr/lib/wine/wine64 "$@"
