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
# CTest runs each test case in a process of its own, which cannot show a case that leaves state
# behind for the next. With GTEST_SHUFFLE set (CI sets it), each suite then also runs whole in one
# process, its cases in a random order.
if [ -n "${GTEST_SHUFFLE:-}" ]; then
  for suite in build/"$PRESET"/Tests/*/*Tests; do
    [ -x "$suite" ] || continue
    echo "Shuffled: $(basename "$suite")"
    QT_QPA_PLATFORM=offscreen "$suite" --gtest_brief=1
  done
fi
