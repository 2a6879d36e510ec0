#!/usr/bin/env bash
# The demo: a simulated TV in developer mode on 127.0.0.1:26101 and the installer window under
# Wine, run in build/demo/run (the installer's working folder). With a display, type 127.0.0.1
# as the TV's address, keep the series "M,N,Q,R,T" and press the install button; close the window
# to end the demo. Without a display (no DISPLAY set) the demo drives the window itself on a
# private Xvfb display and saves screenshots to build/demo/. Either way it ends by printing the
# TV's application list.
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

root=$PWD
demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo/tv-state" "$demo/run"
build/native/tools/tvsim/tvsim --listen 127.0.0.1:26101 --host-pc 127.0.0.1 --generation 2019 \
  --state "$demo/tv-state" --author-ca build/native/certs/author-ca.pem \
  --distributor-ca build/native/certs/distributor-ca.pem --install-duration 8 >"$demo/tvsim.log" 2>&1 &
tvsim_pid=$!
trap 'kill $tvsim_pid 2>/dev/null || true; velmora_stop_display' EXIT
echo "demo: simulated TV on 127.0.0.1:26101 (log: $demo/tvsim.log, state: $demo/tv-state)"

installer=$root/build/win/app/VelmoraInstallTizen.exe
if $headless; then
  python3 scripts/demo_drive.py --installer "$installer" --winprobe build/win/tests/winprobe.exe \
    --cwd "$demo/run" --shots "$demo"
else
  echo "demo: the installer window is open: type 127.0.0.1, press the install button, then close it"
  (cd "$demo/run" && wine "$installer")
fi

# The TV's own list, asked through the native tool on a server port of its own.
export IU_SERVER_PORT=26098
build/native/bridge/iu connect 127.0.0.1:26101 >/dev/null
echo "demo: the TV's application list:"
build/native/bridge/iu shell 0 applist
build/native/bridge/iu kill-server
