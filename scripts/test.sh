#!/usr/bin/env bash
# Builds all presets and runs every test: linux, linux-asan, windows-x64 under Wine, and a
# short run of each fuzz target (fuzz preset).
# The windows-x86 build (the product target): its shipped programs are compiled and linked;
# this kernel cannot run them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
for preset in linux linux-asan windows-x86 windows-x64; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
file build/windows-x86/bin/Kivo9.exe build/windows-x86/bin/UpgradeAgent.exe \
  build/windows-x86/bin/extractor.exe
echo "== build fuzz"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for preset in linux linux-asan windows-x64 fuzz; do
  echo "== test $preset"
  ctest --preset "$preset"
done
echo "== format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
