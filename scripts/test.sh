#!/usr/bin/env bash
# Runs every test: installs what is missing, builds both trees, then the native tests and the
# Windows tests under Wine on a private Xvfb display.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
for lock in $(git ls-files '*package-lock.json'); do
  (cd "$(dirname "$lock")" && npm ci --no-audit --no-fund --silent)
done
source scripts/env.sh
velmora_start_display
velmora_prepare_wine

status=0
bash scripts/check_format.sh || status=1
ctest --test-dir build/native --output-on-failure -j 2 || status=1
ctest --test-dir build/win --output-on-failure || status=1
exit $status
