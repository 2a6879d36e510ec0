#!/usr/bin/env bash
# Checks the built installer from outside: its icon group, manifest, version block, payload
# resources and imported DLLs. Stops with a message at the first mismatch.
#
#   bash tests/check_exe_resources.sh VelmoraInstallTizen.exe [IU_EXE WGT]
#
# With IU_EXE and WGT, the embedded IUFILE and WGTFILE must equal those files byte for byte.
# Needs icoutils (wrestool), python3 and x86_64-w64-mingw32-objdump.
set -euo pipefail

fail() { echo "check_exe_resources: FAIL: $*" >&2; exit 1; }

case $# in
  1 | 3) ;;
  *) echo "usage: $0 EXE [IU_EXE WGT]" >&2; exit 2 ;;
esac
exe=$1
[[ -f $exe ]] || fail "$exe: no such file"
for arg in "${@:2}"; do
  [[ -f $arg ]] || fail "$arg: no such file"
done
for tool in wrestool python3 x86_64-w64-mingw32-objdump; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done

headers=$(LC_ALL=C x86_64-w64-mingw32-objdump -p "$exe") || fail "objdump cannot read $exe"
grep -q 'file format pei-x86-64' <<<"$headers" || fail "$exe is not an x86-64 Windows executable"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# extract OUT TYPE NAME [RAW]: one resource to a file; a missing resource gives an empty file.
extract() {
  wrestool -x ${4:+-R} -t "$2" -n "$3" "$exe" >"$1" 2>"$work/wrestool.err" ||
    fail "wrestool cannot read $exe: $(cat "$work/wrestool.err")"
  [[ -s $1 ]] || fail "resource type $2 name $3 is missing or empty"
}

# --- icon group MAINICON: 16, 24, 32, 48 as 32-bit DIBs, 256 as PNG ---------------------------
extract "$work/mainicon.ico" 14 +MAINICON
python3 - "$work/mainicon.ico" <<'PY' || exit 1
import struct, sys
data = open(sys.argv[1], 'rb').read()
def fail(msg):
    sys.exit(f'check_exe_resources: FAIL: icon MAINICON: {msg}')
reserved, kind, count = struct.unpack_from('<HHH', data, 0)
if reserved != 0 or kind != 1:
    fail('not an icon group')
want = {16: 'DIB', 24: 'DIB', 32: 'DIB', 48: 'DIB', 256: 'PNG'}
seen = {}
for i in range(count):
    w, h, colours, _, planes, bpp, size, offset = struct.unpack_from('<BBBBHHII', data, 6 + 16 * i)
    w, h = w or 256, h or 256
    image = data[offset:offset + size]
    if len(image) != size:
        fail(f'image {w}x{h} is cut short')
    if image[:8] == b'\x89PNG\r\n\x1a\n':
        pw, ph = struct.unpack_from('>II', image, 16)
        depth, colour_type = image[24], image[25]
        if (pw, ph) != (w, h) or depth != 8 or colour_type != 6:
            fail(f'PNG image {w}x{h} is {pw}x{ph}, depth {depth}, colour type {colour_type}; '
                 'want RGBA at 8 bits per channel')
        seen[w] = 'PNG'
    else:
        _, dw, dh, _, bits, compression = struct.unpack_from('<IiiHHI', image, 0)
        if (dw, dh) != (w, 2 * h) or bits != 32 or compression != 0:
            fail(f'bitmap {w}x{h} has header {dw}x{dh}, {bits} bpp, compression {compression}; '
                 'want 32 bpp uncompressed')
        seen[w] = 'DIB'
    if w != h or bpp != 32 or colours != 0:
        fail(f'directory entry {w}x{h} says {bpp} bpp, {colours} colours; want square, 32 bpp')
if seen != want or count != len(want):
    fail(f'images {sorted(seen.items())}, want {sorted(want.items())}')
PY

# --- manifest (type 24, id 1) ----------------------------------------------------------------
extract "$work/manifest.xml" 24 1 raw
python3 - "$work/manifest.xml" <<'PY' || exit 1
import sys
import xml.etree.ElementTree as ET
def fail(msg):
    sys.exit(f'check_exe_resources: FAIL: manifest: {msg}')
try:
    root = ET.parse(sys.argv[1]).getroot()
except ET.ParseError as e:
    fail(f'not well-formed XML ({e})')
V1, V3 = '{urn:schemas-microsoft-com:asm.v1}', '{urn:schemas-microsoft-com:asm.v3}'
COMPAT = '{urn:schemas-microsoft-com:compatibility.v1}'
WS2005 = '{http://schemas.microsoft.com/SMI/2005/WindowsSettings}'
WS2016 = '{http://schemas.microsoft.com/SMI/2016/WindowsSettings}'
if root.tag != V1 + 'assembly':
    fail(f'root element is {root.tag}')

level = root.find(f'{V3}trustInfo/{V3}security/{V3}requestedPrivileges/{V3}requestedExecutionLevel')
if level is None or level.get('level') != 'asInvoker' or level.get('uiAccess') != 'false':
    fail('requestedExecutionLevel is not asInvoker with uiAccess false')

settings = root.find(f'{V3}application/{V3}windowsSettings')
def setting(tag):
    node = None if settings is None else settings.find(tag)
    return None if node is None else (node.text or '').strip()
if setting(WS2005 + 'dpiAware') != 'true/pm':
    fail('dpiAware is not true/pm (2005 WindowsSettings namespace)')
if setting(WS2016 + 'dpiAwareness') != 'PerMonitorV2':
    fail('dpiAwareness is not PerMonitorV2 (2016 WindowsSettings namespace)')

controls = {'type': 'win32', 'name': 'Microsoft.Windows.Common-Controls', 'version': '6.0.0.0',
            'processorArchitecture': '*', 'publicKeyToken': '6595b64144ccf1df', 'language': '*'}
deps = [dict(a.attrib) for a in root.iterfind(f'{V1}dependency/{V1}dependentAssembly/{V1}assemblyIdentity')]
if controls not in deps:
    fail(f'no dependency {controls}; found {deps}')

systems = {
    '{e2011457-1546-43c5-a5fe-008deee3d3f0}': 'Vista',
    '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}': '7',
    '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}': '8',
    '{1f676c76-80e1-4239-95bb-83d0f6d0da78}': '8.1',
    '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}': '10',
}
declared = {(os.get('Id') or '').lower() for os in root.iterfind(f'{COMPAT}compatibility/{COMPAT}application/{COMPAT}supportedOS')}
missing = [name for guid, name in systems.items() if guid not in declared]
if missing:
    fail(f'supportedOS missing for Windows {", ".join(missing)}')
PY

# --- version block (type 16) -----------------------------------------------------------------
extract "$work/version.bin" 16 1 raw
python3 - "$work/version.bin" <<'PY' || exit 1
import struct, sys
data = open(sys.argv[1], 'rb').read()
def fail(msg):
    sys.exit(f'check_exe_resources: FAIL: version block: {msg}')

def align(n):
    return (n + 3) & ~3

def node(offset):
    """One version node: (key, value bytes, is text, children, end offset)."""
    if offset + 6 > len(data):
        fail('truncated')
    length, value_length, kind = struct.unpack_from('<HHH', data, offset)
    end = offset + length
    if length < 6 or end > len(data):
        fail(f'bad node length {length} at {offset}')
    key_end = offset + 6
    while data[key_end:key_end + 2] != b'\0\0':
        key_end += 2
        if key_end >= end:
            fail(f'unterminated key at {offset}')
    key = data[offset + 6:key_end].decode('utf-16-le')
    value_start = align(key_end + 2)
    value_size = value_length * 2 if kind == 1 else value_length
    value = data[value_start:value_start + value_size]
    children, pos = [], align(value_start + value_size)
    while pos < end:
        child = node(pos)
        children.append(child)
        pos = align(child[4])
    return key, value, kind == 1, children, end

key, fixed, _, blocks, _ = node(0)
if key != 'VS_VERSION_INFO' or len(fixed) != 52:
    fail(f'root is {key!r} with {len(fixed)} bytes of fixed info')
signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from('<6I', fixed)
if signature != 0xFEEF04BD:
    fail(f'fixed info signature {signature:#x}')
for what, ms, ls in (('file', file_ms, file_ls), ('product', product_ms, product_ls)):
    if (ms, ls) != (0x00010000, 0):
        fail(f'fixed {what} version is {ms >> 16}.{ms & 0xffff}.{ls >> 16}.{ls & 0xffff}, want 1.0.0.0')

blocks = {b[0]: b for b in blocks}
tables = {t[0].upper(): t for t in blocks.get('StringFileInfo', (0, 0, 0, []))[3]}
if '040904E4' not in tables:
    fail(f'no string table 040904E4; found {sorted(tables)}')
strings = {s[0]: s[1].decode('utf-16-le').rstrip('\0') for s in tables['040904E4'][3]}
want = {'FileDescription': 'VelmoraInstallTizen', 'ProductName': 'VelmoraInstallTizen',
        'FileVersion': '1.0.0.0', 'ProductVersion': '1.0.0.0'}
for name, text in want.items():
    if strings.get(name) != text:
        fail(f'{name} is {strings.get(name)!r}, want {text!r}')

variables = {v[0]: v[1] for v in blocks.get('VarFileInfo', (0, 0, 0, []))[3]}
translation = variables.get('Translation', b'')
pairs = [struct.unpack_from('<HH', translation, i) for i in range(0, len(translation) - 3, 4)]
if pairs != [(0x0409, 1252)]:
    fail(f'translation is {[(hex(l), c) for l, c in pairs]}, want [(0x409, 1252)]')
PY

# --- payloads and the form definition ------------------------------------------------------
for name in TMAINFORM IUFILE WGTFILE; do
  extract "$work/$name" 10 "+$name" raw
done
if [[ $# -eq 3 ]]; then
  cmp -s "$work/IUFILE" "$2" || fail "IUFILE differs from $2"
  cmp -s "$work/WGTFILE" "$3" || fail "WGTFILE differs from $3"
fi

# --- imports: system DLLs only, so the exe runs on a bare Windows ------------------------------
mapfile -t dlls < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
(( ${#dlls[@]} > 0 )) || fail "no imported DLLs found in $exe"
for dll in "${dlls[@]}"; do
  lower=${dll,,}
  case $lower in
    libstdc++* | libgcc* | libwinpthread*) fail "imports $dll: the MinGW runtime must be linked statically" ;;
    kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | shell32.dll | advapi32.dll | \
      iphlpapi.dll | ws2_32.dll | msvcrt.dll | uxtheme.dll | shcore.dll | ole32.dll | \
      oleaut32.dll | api-ms-win-*.dll) ;;
    *) fail "imports $dll, which is not on the list of system DLLs" ;;
  esac
done

echo "check_exe_resources: $exe: icons, manifest, version, payloads and imports (${dlls[*]}) are as expected"
