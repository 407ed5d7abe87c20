#!/usr/bin/env bash
# Try the plugin by hand: starts the local object store and a local OrvaDevService with the demo
# creator (issuing storage credentials of that store, as scripts/run.sh does), installs the player
# client where the plugin looks for it, and opens OrvaEditor on a fresh copy of the demo project,
# with a user settings folder that points at all of them. So Build, Publish and Launch ORVA work by
# hand. Log in with the account printed below (Window > ORVA, or the ORVA button of the toolbar).
# Usage: scripts/editor.sh   (PRESET=debug to use the debug build)
set -euo pipefail
cd "$(dirname "$0")/.."
REPO="$PWD"
PRESET="${PRESET:-release}"
source scripts/devservice.sh
source scripts/localstore.sh

scripts/install-deps.sh
cmake --preset "$PRESET" >/dev/null
cmake --build --preset "$PRESET" --target OrvaEditor OrvaEditorCmd OrvaDevService ORVAClient --parallel "$(nproc)"
BIN="$REPO/build/$PRESET/Programs"

DEMO_ACCOUNT="demo@orva.dev"
DEMO_PASSWORD="orva-demo"
BUCKET="orva-components"
RUN="$(mktemp -d "${TMPDIR:-/tmp}/orva-editor.XXXXXX")"
stop_all() {
	stop_dev_service
	stop_local_store
}
trap stop_all EXIT
trap 'exit 130' INT TERM

start_local_store "$RUN/store"
start_dev_service "$BIN/OrvaDevService/OrvaDevService" "$RUN/service" "$RUN/service" \
	"$DEMO_ACCOUNT:$DEMO_PASSWORD:Demo Creator" -- \
	--storage-sts --storage-endpoint "$STORE_ENDPOINT" --storage-bucket "$BUCKET" --storage-region "$STORE_REGION" \
	--storage-access-key-id "$STORE_ADMIN_ID" --storage-secret-access-key "$STORE_ADMIN_SECRET"
export XDG_CONFIG_HOME="$RUN/config"
point_settings_at_service "$XDG_CONFIG_HOME"
# The store for the paks. No sandbox web site runs locally, so "Launch Sandbox" stays disabled.
point_settings_at_store "$XDG_CONFIG_HOME" "$STORE_ENDPOINT"

# The player client, installed where the installer's record says, as the plugin finds it.
INSTALL="$RUN/Orva"
install_client "$XDG_CONFIG_HOME" "$INSTALL" "$BIN/ORVAClient/ORVAClient"
cp -R "$REPO/Examples/DemoProject" "$RUN/DemoProject"

echo "Local store:    $STORE_ENDPOINT (bucket $BUCKET)"
echo "OrvaDevService: $BASE_URL"
echo "ORVAClient:     $INSTALL/ORVAClient (log: $INSTALL/ORVAClient/Saved/Logs/ORVAClient.log)"
echo "Project:        $RUN/DemoProject/DemoProject.uproject"
echo "Log in with:    $DEMO_ACCOUNT / $DEMO_PASSWORD"
set +e
"$BIN/OrvaEditor/OrvaEditor" "$RUN/DemoProject/DemoProject.uproject" 2>"$RUN/editor.log"
STATUS=$?
set -e
echo "Editor log:     $RUN/editor.log"
exit "$STATUS"
