#!/usr/bin/env bash
# The demo: a simulated TV in developer mode on 127.0.0.1:26101 and the installer window under
# Wine, run in build/demo/ (the installer's working folder). Type 127.0.0.1 as the TV's address.
# Without a display (no DISPLAY set) the window opens on a private Xvfb display and a screenshot
# is saved to build/demo/window.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
source scripts/env.sh

headless=false
if [[ -z ${DISPLAY:-} ]]; then
  headless=true
  velmora_start_display
fi
velmora_prepare_wine

demo=$PWD/build/demo
rm -rf "$demo/tv-state"
mkdir -p "$demo/tv-state" "$demo/run"
build/native/tools/tvsim/tvsim --listen 127.0.0.1:26101 --host-pc 127.0.0.1 --generation 2019 \
  --state "$demo/tv-state" --author-ca build/native/certs/author-ca.pem \
  --distributor-ca build/native/certs/distributor-ca.pem >"$demo/tvsim.log" 2>&1 &
tvsim_pid=$!
trap 'kill $tvsim_pid 2>/dev/null || true; velmora_stop_display' EXIT
echo "demo: simulated TV on 127.0.0.1:26101 (log: $demo/tvsim.log, state: $demo/tv-state)"

cd "$demo/run"
if $headless; then
  wine "$OLDPWD/build/win/app/VelmoraInstallTizen.exe" &
  installer=$!
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name '^Velmora Tizen Installer$' >/dev/null 2>&1 && break
    sleep 0.2
  done
  sleep 2
  import -window root "$demo/window.png"
  echo "demo: no display here; the window was drawn on a private one: $demo/window.png"
  kill "$installer" 2>/dev/null || true
else
  echo "demo: the installer window is open; close it to end the demo"
  wine "$OLDPWD/build/win/app/VelmoraInstallTizen.exe"
fi
