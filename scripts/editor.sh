#!/usr/bin/env bash
# Try the plugin by hand: starts a local OrvaDevService with the demo creator and opens OrvaEditor
# on a fresh copy of the demo project, with a user settings folder that points at the service.
# Log in with the account printed below (Window > OrvaSDK, or the OrvaSDK button of the toolbar).
# Usage: scripts/editor.sh   (PRESET=debug to use the debug build)
set -euo pipefail
cd "$(dirname "$0")/.."
REPO="$PWD"
PRESET="${PRESET:-release}"
source scripts/devservice.sh

scripts/install-deps.sh
cmake --preset "$PRESET" >/dev/null
cmake --build --preset "$PRESET" --target OrvaEditor OrvaDevService --parallel "$(nproc)"
BIN="$REPO/build/$PRESET/Programs"

DEMO_ACCOUNT="demo@orva.dev"
DEMO_PASSWORD="orva-demo"
RUN="$(mktemp -d "${TMPDIR:-/tmp}/orva-editor.XXXXXX")"
trap stop_dev_service EXIT
trap 'exit 130' INT TERM

start_dev_service "$BIN/OrvaDevService/OrvaDevService" "$RUN/service" "$RUN/service" \
	"$DEMO_ACCOUNT:$DEMO_PASSWORD:Demo Creator"
export XDG_CONFIG_HOME="$RUN/config"
point_settings_at_service "$XDG_CONFIG_HOME"
cp -R "$REPO/Examples/DemoProject" "$RUN/DemoProject"

echo "OrvaDevService: $BASE_URL"
echo "Project:        $RUN/DemoProject/DemoProject.uproject"
echo "Log in with:    $DEMO_ACCOUNT / $DEMO_PASSWORD"
"$BIN/OrvaEditor/OrvaEditor" "$RUN/DemoProject/DemoProject.uproject" 2>"$RUN/editor.log"
