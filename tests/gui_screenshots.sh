#!/usr/bin/env bash
# The real installer under Wine on the test display, driven by real input events: screenshots in
# Russian and in English (kept in the output folder), the texts read back by OCR, and a clean exit
# with code 0 when the window is closed. Arguments on its command line change nothing.
# Usage: gui_screenshots.sh INSTALLER_EXE OUTPUT_DIR   (needs DISPLAY and a prepared WINEPREFIX)
set -euo pipefail
exe=$1
out=$2
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() { echo "gui_screenshots: FAIL: $*" >&2; exit 1; }

wine "$exe" --ignored argument >"$work/wine.log" 2>&1 &
wine_pid=$!

win=""
for _ in $(seq 200); do
  win=$(xdotool search --onlyvisible --name '^Velmora Tizen Installer$' 2>/dev/null | head -n1 || true)
  [[ -n $win ]] && break
  sleep 0.1
done
[[ -n $win ]] || fail "the window did not appear"
sleep 1.5  # let the first frame settle

shoot() {
  eval "$(xdotool getwindowgeometry --shell "$win")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/$1"
}

ocr_has() {  # image, language, text...
  local image=$1 lang=$2
  shift 2
  local text
  text=$(tesseract "$out/$image" - -l "$lang" --psm 3 2>/dev/null | tr -s ' \n' ' ')
  for want in "$@"; do
    grep -qF -- "$want" <<<"$text" || fail "$image: OCR did not find \"$want\" in: $text"
  done
}

shoot window-ru.png
eval "$(xdotool getwindowgeometry --shell "$win")"
[[ $WIDTH -le 850 && $HEIGHT -le 625 ]] || fail "client area ${WIDTH}x${HEIGHT} exceeds the window's limits"
ocr_has window-ru.png rus "Инструкция по установке" "Установить Виджет" "Включить режим разработчика" "пропроверки сети"

# "ENG" is the second item of the language group (left 757, 73 high, items stacked).
xdotool mousemove --window "$win" 790 56 click 1
sleep 1
shoot window-en.png
ocr_has window-en.png eng "Installation manual" "Widget Install" "Refresh IP" "Enable developer mode in TV"

# And back to Russian: the same picture as at the start, left of the language group (whose
# clicked item now carries the focus rectangle).
xdotool mousemove --window "$win" 790 31 click 1
sleep 1
shoot window-ru-again.png
convert "$out/window-ru.png" -crop 750x+0+0 +repage "$work/before.png"
convert "$out/window-ru-again.png" -crop 750x+0+0 +repage "$work/after.png"
diff_pixels=$(compare -metric AE "$work/before.png" "$work/after.png" null: 2>&1 || true)
[[ $diff_pixels == 0 ]] || fail "switching back to Russian changed $diff_pixels pixels"

xdotool windowfocus --sync "$win" 2>/dev/null || true
xdotool key alt+F4
for _ in $(seq 100); do
  kill -0 "$wine_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$wine_pid" 2>/dev/null && fail "the installer did not end after its window was closed"
wait "$wine_pid" && status=0 || status=$?
[[ $status -eq 0 ]] || fail "exit code $status"
echo "gui_screenshots: screenshots in $out"
