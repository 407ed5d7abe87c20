#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test.
# Usage: scripts/test.sh [preset]   (default: debug; CI uses asan)
set -euo pipefail
cd "$(dirname "$0")/.."
PRESET="${1:-debug}"
scripts/install-deps.sh
cmake --preset "$PRESET" >/dev/null
cmake --build --preset "$PRESET"
ctest --preset "$PRESET"
