#!/usr/bin/env bash
# Renders the plugin's editor states for review into PNG files, on Qt's offscreen platform (no
# display needed): the editor with the plugin's tab on the login box, the login box after a
# refused login (against a local OrvaDevService), and the tab's error text without the SDK
# subsystem; a window with notification toasts; and, logged in, the world panel with several
# worlds and their title images, a chosen world with its screenshots (one refused by the service's
# body limit, so still waiting for its upload) and the launch menu; the packaging panel after a
# build it ran; the level chooser with its picker open. Prints the folder.
# Usage: scripts/screenshots.sh [OUT_DIR]   (PRESET=release to use the release build)
set -euo pipefail
cd "$(dirname "$0")/.."
REPO="$PWD"
PRESET="${PRESET:-debug}"
source scripts/devservice.sh

scripts/install-deps.sh
cmake --preset "$PRESET" >/dev/null
cmake --build --preset "$PRESET" --target OrvaEditorScreenshots OrvaDevService OrvaEditorCmd
BIN="$REPO/build/$PRESET/Programs"

RUN="$(mktemp -d "${TMPDIR:-/tmp}/orva-shots.XXXXXX")"
OUT="${1:-$RUN/screenshots}"
trap stop_dev_service EXIT
trap 'exit 130' INT TERM

start_dev_service "$BIN/OrvaDevService/OrvaDevService" "$RUN/service" "$RUN/service" \
	"demo@orva.dev:orva-demo:Demo Creator" --max-body-bytes=1048576
export XDG_CONFIG_HOME="$RUN/config"
point_settings_at_service "$XDG_CONFIG_HOME"
cp -R "$REPO/Examples/DemoProject" "$RUN/DemoProject"

export QT_QPA_PLATFORM=offscreen
"$BIN/OrvaEditor/OrvaEditorScreenshots" "$RUN/DemoProject/DemoProject.uproject" -Out="$OUT" \
	-User=demo@orva.dev -Password=not-the-password -RightPassword=orva-demo >"$RUN/shots.out" 2>"$RUN/editor.log" || {
	echo "OrvaEditorScreenshots failed; its log: $RUN/editor.log" >&2
	tail -n 20 "$RUN/editor.log" >&2
	exit 1
}
echo "Screenshots: $OUT"
sed 's/^/  /' "$RUN/shots.out"
