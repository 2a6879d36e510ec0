#!/usr/bin/env bash
# Checks what users download: the shipped executable is at most MAX_BYTES, and it and every
# executable it carries are stripped, unpacked and import only DLLs that come with Windows.
#
#   bash tests/check_exe_footprint.sh MAX_BYTES SHIPPED_EXE [CARRIED_EXE...]
#
# Needs x86_64-w64-mingw32-objdump.
set -euo pipefail

fail() { echo "check_exe_footprint: FAIL: $*" >&2; exit 1; }

(($# >= 2)) || { echo "usage: $0 MAX_BYTES SHIPPED_EXE [CARRIED_EXE...]" >&2; exit 2; }
max=$1 shipped=$2
command -v x86_64-w64-mingw32-objdump >/dev/null || fail "x86_64-w64-mingw32-objdump is not installed"

for exe in "${@:2}"; do
  [[ -f $exe ]] || fail "$exe: no such file"
  name=$(basename "$exe")
  header=$(LC_ALL=C x86_64-w64-mingw32-objdump -f "$exe") || fail "objdump cannot read $exe"
  imports=$(LC_ALL=C x86_64-w64-mingw32-objdump -p "$exe")
  sections=$(LC_ALL=C x86_64-w64-mingw32-objdump -h "$exe" | awk '$1 ~ /^[0-9]+$/ { print $2 }')
  grep -q 'file format pei-x86-64' <<<"$header" || fail "$name is not an x86-64 Windows executable"
  grep -qw HAS_SYMS <<<"$header" && fail "$name carries a symbol table (not stripped)"

  # The sections GNU ld makes. A packer adds its own (or empties these), and antivirus programs
  # flag packed executables.
  while read -r section; do
    case $section in
      .text | .data | .rdata | .pdata | .xdata | .bss | .idata | .edata | .CRT | .tls | .rsrc | .reloc) ;;
      *) fail "$name has section $section, which the linker does not make (packed or not stripped?)" ;;
    esac
  done <<<"$sections"

  mapfile -t dlls < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$imports")
  (( ${#dlls[@]} > 0 )) || fail "no imported DLLs found in $name"
  for dll in "${dlls[@]}"; do
    case ${dll,,} in
      kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | shell32.dll | advapi32.dll | \
        iphlpapi.dll | ws2_32.dll | msvcrt.dll | uxtheme.dll | shcore.dll | ole32.dll | \
        oleaut32.dll | api-ms-win-*.dll) ;;
      *) fail "$name imports $dll, which does not come with Windows" ;;
    esac
  done
  echo "check_exe_footprint: $name: $(stat -c %s "$exe") bytes, stripped, imports ${dlls[*]}"
done

size=$(stat -c %s "$shipped")
((size <= max)) || fail "$(basename "$shipped") is $size bytes, over the limit of $max by $((size - max))"
echo "check_exe_footprint: $(basename "$shipped") is within $max bytes ($((max - size)) to spare)"
