# Sourced by the test and demo scripts: a private Wine prefix and a private X display.
# Starts Xvfb on a free display and prepares the Wine prefix once; both end with the caller.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="$root/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

velmora_start_display() {
  local d
  for d in $(seq 91 140); do
    [[ -e /tmp/.X$d-lock || -e /tmp/.X11-unix/X$d ]] && continue
    Xvfb ":$d" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    VELMORA_XVFB_PID=$!
    export DISPLAY=":$d"
    for _ in $(seq 50); do
      [[ -e /tmp/.X11-unix/X$d ]] && break
      sleep 0.1
    done
    trap velmora_stop_display EXIT
    return 0
  done
  echo "no free X display" >&2
  return 1
}

velmora_stop_display() {
  wineserver -k >/dev/null 2>&1 || true
  [[ -n ${VELMORA_XVFB_PID:-} ]] && kill "$VELMORA_XVFB_PID" 2>/dev/null || true
}

velmora_prepare_wine() {
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
}
