#!/usr/bin/env bash
# Fails when a C++ file of the tree is not in the house style (.clang-format); `clang-format -i`
# on the named files puts them right.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if report=$(clang-format --dry-run --Werror "${files[@]}" 2>&1); then
  echo "format: ${#files[@]} C++ files in the house style"
else
  grep -o '^[^:]*\.\(cpp\|h\)' <<<"$report" | sort -u | sed 's/^/format: not in the house style: /'
  exit 1
fi
