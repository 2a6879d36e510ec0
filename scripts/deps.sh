#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent and non-interactive:
# when everything is already there it changes nothing and asks no mirror.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang clang-format libclang-rt-14-dev libgtest-dev libgmock-dev pkg-config
  g++-mingw-w64-x86-64 wine wine64 xvfb xdotool icoutils imagemagick tesseract-ocr tesseract-ocr-rus
  libssl-dev zlib1g-dev libxmlsec1-dev libxmlsec1-openssl xmlsec1 openssl zip unzip python3
  chromium nodejs npm fonts-dejavu-core fonts-liberation
)

missing=()
for p in "${packages[@]}"; do
  # nodejs/npm may come from elsewhere on a developer machine; a working npm is enough.
  if [[ $p == nodejs || $p == npm ]] && command -v npm >/dev/null && command -v node >/dev/null; then
    continue
  fi
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "deps: installing ${missing[*]}"
  SUDO=""
  [[ $(id -u) -eq 0 ]] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
