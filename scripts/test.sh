#!/usr/bin/env bash
# Builds all presets and runs every test: linux, linux-asan, windows-x64 under Wine, and a
# short run of each fuzz target (fuzz preset).
# The windows-x86 build (the product target) is compiled and linked; this kernel cannot run it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
for preset in linux linux-asan windows-x86 windows-x64; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
file build/windows-x86/bin/Kivo9.exe build/windows-x86/bin/UpgradeAgent.exe
echo "== build fuzz"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
# One Wine server for every Windows program the tests start: a server that ends between two
# programs (it does 3 s after the last) can drop the next one's connection ("wine client
# error: recvmsg: Connection reset by peer"), which a test would take for a failure.
mkdir -p "${WINEPREFIX:-$HOME/.wine}"
/usr/lib/wine/wineserver64 -k 2>/dev/null || true  # one left running would refuse to persist
/usr/lib/wine/wineserver64 -p
trap '/usr/lib/wine/wineserver64 -k 2>/dev/null || true' EXIT
for preset in linux linux-asan windows-x64 fuzz; do
  echo "== test $preset"
  ctest --preset "$preset"
done
echo "== format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
