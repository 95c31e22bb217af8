#!/usr/bin/env bash
# The main job: builds the Linux programs, then runs one whole update cycle on a temporary
# installation against a local server (see scripts/demo.py).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target UpgradeAgent Kivo9 recorder extractor >/dev/null
python3 scripts/demo.py build/linux/bin
