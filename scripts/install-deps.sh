#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12 (run as root). Quiet when all is there.
set -euo pipefail
cd "$(dirname "$0")/.."
packages=(cmake make g++ googletest clang-format libcurl4-openssl-dev libarchive-dev python3 file zip
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64 curl libssl-dev libgnutls30
          python3-cryptography nginx-light apache2-utils openssl clang libclang-rt-14-dev
          zlib1g-dev libz-mingw-w64-dev rsync rclone chromium zstd libzstd-dev xz-utils bsdiff)
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

# The zstd decoder of the Windows builds, built from source (Debian packages no zstd for
# mingw): Debian's own copy of the upstream release, from its package archive, checked by
# its SHA-256 before it is unpacked. Linux builds use Debian's libzstd.
zstd_version=1.5.7
zstd_archive="libzstd_${zstd_version}+dfsg.orig.tar.xz"
zstd_sha256=0c092ef267edce57ba7f3f2645c861f72eaf5e76273c6c3632869423464b90a5
zstd_dir=build/sources/zstd-${zstd_version}
if [ ! -f "$zstd_dir/lib/zstd.h" ]; then
  echo "Fetching the zstd ${zstd_version} source from Debian's archive"
  mkdir -p build/sources
  fetched=$(mktemp build/sources/zstd.XXXXXX)
  curl -fsSL --retry 3 -o "$fetched" \
    "http://deb.debian.org/debian/pool/main/libz/libzstd/${zstd_archive}"
  if ! echo "${zstd_sha256}  $fetched" | sha256sum -c --quiet -; then
    rm -f "$fetched"
    echo "The zstd source does not have its known SHA-256; nothing was unpacked." >&2
    exit 1
  fi
  rm -rf "$zstd_dir.partial" && mkdir -p "$zstd_dir.partial"
  tar -xJf "$fetched" -C "$zstd_dir.partial" --strip-components=1 "zstd-${zstd_version}/lib"
  rm -f "$fetched"
  rm -rf "$zstd_dir" && mv "$zstd_dir.partial" "$zstd_dir"
fi
