#!/usr/bin/env bash
# The main job: builds the Linux programs, publishes build 1204 with the publish tool, serves
# it with nginx and runs one whole update cycle on a temporary installation against it (see
# scripts/demo.py). It prints where the server tree, its logs and the installation are.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target UpgradeAgent Kivo9 recorder extractor >/dev/null
python3 scripts/demo.py build/linux/bin
