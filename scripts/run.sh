#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the headless editor over the demo project.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
exec build/release/Programs/OrvaEditorCmd/OrvaEditorCmd Examples/DemoProject/DemoProject.uproject
