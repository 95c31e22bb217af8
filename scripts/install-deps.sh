#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12 (run as root). Quiet when all is there.
set -euo pipefail
packages=(cmake make g++ googletest clang-format libcurl4-openssl-dev libarchive-dev python3 file zip
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 curl libssl-dev libgnutls30
          python3-cryptography nginx-light apache2-utils openssl clang libclang-rt-14-dev
          zlib1g-dev libz-mingw-w64-dev rsync rclone chromium)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
