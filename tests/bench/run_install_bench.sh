#!/usr/bin/env bash
# Runs the installation benchmark under Wine against tvsim on 127.0.0.1:26101, in a network
# namespace of its own (with the Wine server it starts), from a scratch working folder.
# Usage: tests/bench/run_install_bench.sh   (after scripts/build.sh)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
source scripts/env.sh
[[ -n ${DISPLAY:-} ]] || velmora_start_display
velmora_prepare_wine
ninja -C build/win install_bench sleep_child >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"; velmora_stop_display' EXIT
wineserver -k 2>/dev/null || true
wineserver -w
ns=(unshare -n)
[[ $(id -u) -eq 0 ]] || ns=(unshare -rn)
"${ns[@]}" bash -c '
  set -euo pipefail
  ip link set lo up
  "$1/build/native/tools/tvsim/tvsim" --listen 127.0.0.1:26101 --state "$2/tv" --generation 2019 \
    --author-ca "$1/build/native/certs/author-ca.pem" \
    --distributor-ca "$1/build/native/certs/distributor-ca.pem" >"$2/tvsim.log" 2>&1 &
  tv=$!
  trap "kill $tv; wineserver -k" EXIT
  sleep 0.5
  cd "$2" && wine "$1/build/win/tests/install_bench.exe"
' bench "$root" "$work"
