#!/usr/bin/env bash
# Renders the plugin's editor states for review into PNG files, on Qt's offscreen platform (no
# display needed): the editor with the plugin's tab on the login box, the login box after a
# refused login with the service's reason (against a local OrvaDevService), and the tab's error text
# without the SDK subsystem; a window with notification toasts; and, logged in, the world panel with
# several worlds and their title images, a chosen world with its screenshots (one refused by the
# service's body limit, shown failed, with the panel's message) and the launch menu; a request the
# service refuses with its cause; the question before deleting a world; the panel 480 pixels wide
# with a long name; the published state after a build and publish to the local object store; the
# pre-flight report with its findings, shown by a build it refused; the activity tab while the
# build runs and after the publish (its steps and the recorded outcome); the
# packaging panel after a build it ran; the level chooser with its picker open. Prints the folder.
# Usage: scripts/screenshots.sh [OUT_DIR]   (PRESET=release to use the release build)
set -euo pipefail
cd "$(dirname "$0")/.."
REPO="$PWD"
PRESET="${PRESET:-debug}"
source scripts/devservice.sh
source scripts/localstore.sh

scripts/install-deps.sh
cmake --preset "$PRESET" >/dev/null
cmake --build --preset "$PRESET" --target OrvaEditorScreenshots OrvaDevService OrvaEditorCmd
BIN="$REPO/build/$PRESET/Programs"

RUN="$(mktemp -d "${TMPDIR:-/tmp}/orva-shots.XXXXXX")"
OUT="${1:-$RUN/screenshots}"
BUCKET="orva-components"
stop_all() {
	stop_dev_service
	stop_local_store
}
trap stop_all EXIT
trap 'exit 130' INT TERM

start_local_store "$RUN/store"
start_dev_service "$BIN/OrvaDevService/OrvaDevService" "$RUN/service" "$RUN/service" \
	"demo@orva.dev:orva-demo:Demo Creator" --max-body-bytes=1048576 -- \
	--storage-sts --storage-endpoint "$STORE_ENDPOINT" --storage-bucket "$BUCKET" --storage-region "$STORE_REGION" \
	--storage-access-key-id "$STORE_ADMIN_ID" --storage-secret-access-key "$STORE_ADMIN_SECRET"
export XDG_CONFIG_HOME="$RUN/config"
point_settings_at_service "$XDG_CONFIG_HOME"
point_settings_at_store "$XDG_CONFIG_HOME" "$STORE_ENDPOINT"
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
