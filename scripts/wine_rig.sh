#!/usr/bin/env bash
# Sourced by test.sh and run.sh: a private X server, our own Wine prefix and a
# persistent wineserver, so that each Windows program starts in a fraction of a second.
#   wine_rig_start   starts everything and exports DISPLAY, WINEPREFIX, WINEDEBUG, ...
#   wine_rig_stop    stops the wineserver and the X server

WINE_BIN=/usr/lib/wine/wine64
WINESERVER_BIN=/usr/lib/wine/wineserver
RIG_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

wine_rig_start() {
  export WINEPREFIX="${WINEPREFIX:-$RIG_ROOT/build/wineprefix}"
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  export WINEARCH=win64

  local display
  for display in $(seq 91 140); do
    [[ -e "/tmp/.X11-unix/X$display" || -e "/tmp/.X$display-lock" ]] && continue
    Xvfb ":$display" -screen 0 1920x1080x24 -nolisten tcp > /dev/null 2>&1 &
    RIG_XVFB_PID=$!
    local i
    for i in $(seq 1 50); do
      [[ -e "/tmp/.X11-unix/X$display" ]] && break
      sleep 0.1
    done
    if kill -0 "$RIG_XVFB_PID" 2> /dev/null; then
      export DISPLAY=":$display"
      break
    fi
  done
  if [[ -z "${DISPLAY:-}" ]]; then
    echo "[wine] no free X display" >&2
    return 1
  fi

  mkdir -p "$WINEPREFIX"
  if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    echo "[wine] creating the Wine prefix $WINEPREFIX" >&2
    "$WINE_BIN" wineboot -i > /dev/null 2>&1 < /dev/null || true
    "$WINESERVER_BIN" -w > /dev/null 2>&1 < /dev/null || true
  fi
  "$WINESERVER_BIN" -p > /dev/null 2>&1 < /dev/null || true
  # Without a window manager, Wine waits two seconds for every managed window it hides.
  "$WINE_BIN" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f > /dev/null 2>&1 < /dev/null
  # The fuzz resizes, hides and destroys windows between calls while Wine's command-stream
  # thread may still be presenting into them; Mesa's software presenter then sends an image of
  # the old size and the X error (BadValue in X_ShmPutImage) ends the program. The fuzz has
  # Wine make its Direct3D calls on the calling thread.
  "$WINE_BIN" reg add 'HKCU\Software\Wine\AppDefaults\vrender_fuzz.exe\Direct3D' /v csmt /t REG_DWORD \
    /d 0 /f > /dev/null 2>&1 < /dev/null
  echo "[wine] ready on DISPLAY=$DISPLAY" >&2
}

wine_rig_stop() {
  "$WINESERVER_BIN" -k > /dev/null 2>&1 || true
  if [[ -n "${RIG_XVFB_PID:-}" ]]; then
    kill "$RIG_XVFB_PID" 2> /dev/null || true
    wait "$RIG_XVFB_PID" 2> /dev/null || true
  fi
}
