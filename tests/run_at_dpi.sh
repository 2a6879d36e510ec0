#!/usr/bin/env bash
# Runs a Windows program with the Wine display set to another DPI, then restores the default.
# Usage: run_at_dpi.sh DPI PROGRAM [ARGS...]   (VELMORA_TEST_DPI tells the program what to expect)
set -euo pipefail
dpi=$1
shift
restore() { wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true; wineserver -w; }
trap restore EXIT
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
wineserver -w
VELMORA_TEST_DPI=$dpi wine "$@"
