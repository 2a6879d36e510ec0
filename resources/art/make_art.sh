#!/usr/bin/env bash
# Draws the installer's artwork from scratch and writes the files committed beside this script:
#   mainicon.ico  the application icon: 16, 24, 32, 48 (32-bit DIB) and 256 (PNG)
#   window.ico    the main window's own 64x64 32-bit icon
#   glyph.bmp     the install button's 24x24 glyph, 16 bits per pixel (5-5-5), on white
# Needs ImageMagick (convert), icoutils (icotool) and python3.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# No timestamps or other metadata, so that rerunning the script gives identical files.
png_opts=(-strip -define 'png:exclude-chunks=date,time')

# --- product logo: a violet TV with antennas, a dark blue screen and an orange V -------------
# Drawn at 1024 px on a 256-unit grid (scale 4), then reduced, so every size is antialiased.
master=$work/logo_1024.png
S=4
convert -respect-parentheses -size 1024x1024 xc:none \
  \( -size 1024x1024 xc:none -draw "scale $S,$S
        stroke #2e1f6b stroke-width 7 stroke-linecap round
        line 128,40 92,12  line 128,40 166,10
        stroke none fill #ffb347 circle 92,12 99,12  circle 166,10 173,10
        fill #3a2878 polygon 112,204 144,204 152,228 104,228
        roundrectangle 72,224 184,240 8,8" \) -composite \
  \( -size 1024x1024 gradient:'#8a63f0'-'#4b2fa8' \
     \( -size 1024x1024 xc:black -fill white -draw "scale $S,$S roundrectangle 18,36 238,212 30,30" \) \
     -alpha off -compose CopyOpacity -composite \) -compose Over -composite \
  \( -size 1024x1024 xc:none -fill none -stroke '#2e1f6b' -strokewidth $((6 * S)) \
     -draw "scale $S,$S roundrectangle 18,36 238,212 30,30" \) -composite \
  \( -size 1024x1024 gradient:'#1f6488'-'#0a1a2a' \
     \( -size 1024x1024 xc:black -fill white -draw "scale $S,$S roundrectangle 38,56 218,192 16,16" \) \
     -alpha off -compose CopyOpacity -composite \) -compose Over -composite \
  \( -size 1024x1024 xc:none -fill 'rgba(255,255,255,0.10)' \
     -draw "scale $S,$S polygon 46,64 150,64 60,184 46,184" \) -composite \
  \( -size 1024x1024 gradient:'#ffc04d'-'#ff6a1a' \
     \( -size 1024x1024 xc:black -fill white \
        -draw "scale $S,$S polygon 64,76 100,76 128,146 156,76 192,76 144,180 112,180" \) \
     -alpha off -compose CopyOpacity -composite \) -compose Over -composite \
  \( -size 1024x1024 xc:none -fill '#ffe3a3' \
     -draw "scale $S,$S polygon 64,76 100,76 104,86 70,86" \) -composite \
  "${png_opts[@]}" PNG32:"$master"

logo() { # logo SIZE OUT.png
  convert "$master" -filter Lanczos -resize "$1x$1" -unsharp 0x0.6 "${png_opts[@]}" PNG32:"$2"
}
for size in 16 24 32 48 64 256; do
  logo "$size" "$work/logo_$size.png"
done

# The four small sizes become 32-bit DIB entries; the 256 one is stored as PNG.
icotool -c -b 32 -o "$here/mainicon.ico" \
  "$work/logo_16.png" "$work/logo_24.png" "$work/logo_32.png" "$work/logo_48.png" \
  -r "$work/logo_256.png"
# The window's own icon is stored as PNG too (Windows reads PNG icon images from Vista on): a
# quarter of the bytes of the bitmap, in a download that must stay small.
icotool -c -o "$here/window.ico" -r "$work/logo_64.png"

# --- button glyph: an open cardboard box with toy blocks, on white ---------------------------
# Drawn at 8x on a 24-unit grid. The box stays clear of the lower-left corner, whose white the
# button treats as transparent.
G=8
convert -size 192x192 xc:white -draw "scale $G,$G
    stroke #7a4312 stroke-width 0.35 stroke-linejoin round
    fill #f0aa58 polygon 6.5,9 17.5,9 16.5,3.5 7.5,3.5
    fill #8a4d16 polygon 4,12 6.5,9 17.5,9 20,12
    fill #e53935 rectangle 6,5.5 10.5,11.5
    fill #1e88e5 polygon 10,7 14.5,4.5 16.8,8.6 12.3,11.1
    fill #43a047 rectangle 14.5,7.5 18.5,11.5
    fill #fdd835 rectangle 9,8.5 13,11.8
    fill #f2a54a polygon 4,12 6.5,9 2.8,5.2 0.6,8.6
    fill #f2a54a polygon 20,12 17.5,9 21.2,5.2 23.4,8.6
    fill #dd8424 rectangle 4,12 20,21.5
    fill #c06d1a stroke none rectangle 16.5,12.3 19.7,21.2
    fill #f6d7a8 rectangle 10.5,12.3 13.5,16" \
  -filter Box -resize 24x24 -depth 8 "$work/glyph.rgb"

# ImageMagick only writes 16-bit BMPs with BI_BITFIELDS; the button wants plain BI_RGB 5-5-5
# (no palette, no masks, bottom-up rows padded to 4 bytes), so pack the pixels here.
python3 - "$work/glyph.rgb" "$here/glyph.bmp" 24 24 <<'PY'
import struct, sys
src, dst, w, h = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
rgb = open(src, 'rb').read()
if len(rgb) != w * h * 3:
    sys.exit(f'{src}: expected {w * h * 3} bytes of RGB, got {len(rgb)}')
stride = (w * 2 + 3) & ~3
rows = []
for y in reversed(range(h)):
    row = bytearray()
    for x in range(w):
        r, g, b = rgb[(y * w + x) * 3:(y * w + x) * 3 + 3]
        row += struct.pack('<H', (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3))
    rows.append(bytes(row.ljust(stride, b'\0')))
pixels = b''.join(rows)
info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 16, 0, len(pixels), 3780, 3780, 0, 0)
head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
open(dst, 'wb').write(head + info + pixels)
PY

icotool -l "$here/mainicon.ico" "$here/window.ico"
