#!/usr/bin/env bash
# The main job: builds the programs (the agent with the build folder's throw-away release
# key), publishes build 1204 with the publish tool, serves it with nginx, runs one whole update
# cycle on a temporary installation against it, stages the release to 5 % of the machines and
# halts it (see scripts/demo.py). It prints where the server tree, its logs and the
# installations are.
#
#   bash scripts/demo.sh            the Linux build
#   bash scripts/demo.sh --windows  the Windows build (x64) under Wine, with its own UnPack.exe
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
preset=linux
demo_args=()
if [ "${1:-}" = "--windows" ]; then
  preset=windows-x64
  demo_args=(--emulator /usr/lib/wine/wine64)
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
fi
echo "Building the $preset programs (a first build takes a few minutes) ..."
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target UpgradeAgent UpgradeAgentSigned Kivo9 recorder \
  extractor >/dev/null
python3 scripts/demo.py "build/$preset/bin" "build/$preset/test-release-keys" "${demo_args[@]}"
