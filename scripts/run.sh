#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts the local object store (moto's server,
# authentication enforced) and a local OrvaDevService with a demo creator that issues temporary
# credentials for that store, installs the player client stand-in where the installer's record
# says, and runs Examples/PublishDemo.orva in the headless editor over a copy of the demo project:
# build, register, publish both paks, launch the client on the client pak. The summary compares
# each object in the store with its local pak, shows what the service marked complete and the
# client's verdict. The repository is not modified; the run's files stay in the folder printed at
# the end. Installed (share/orvasdk/scripts/run.sh under the prefix), it builds nothing and runs
# the installed programs over the installed demo project.
set -euo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
source "$HERE/devservice.sh"
source "$HERE/localstore.sh"

if [ -f "$HERE/../CMakeLists.txt" ]; then
	cd "$HERE/.."
	scripts/install-deps.sh
	cmake --preset release >/dev/null
	cmake --build --preset release --target OrvaEditorCmd OrvaDevService ORVAClient --parallel "$(nproc)"
	EXAMPLES="$PWD/Examples"
	EDITOR_CMD="$PWD/build/release/Programs/OrvaEditorCmd/OrvaEditorCmd"
	DEV_SERVICE="$PWD/build/release/Programs/OrvaDevService/OrvaDevService"
	CLIENT="$PWD/build/release/Programs/ORVAClient/ORVAClient"
else
	EXAMPLES="$HERE/../Examples"
	EDITOR_CMD="$HERE/../../../bin/OrvaEditorCmd"
	DEV_SERVICE="$HERE/../../../bin/OrvaDevService"
	CLIENT="$HERE/../../../bin/ORVAClient"
fi
SCRIPT="$EXAMPLES/PublishDemo.orva"
# The account PublishDemo.orva logs in with.
DEMO_ACCOUNT="demo@orva.dev"
DEMO_PASSWORD="orva-demo"
BUCKET="orva-components"

RUN="$(mktemp -d "${TMPDIR:-/tmp}/orva-run.XXXXXX")"
stop_all() {
	stop_dev_service
	stop_local_store
}
trap stop_all EXIT
trap 'exit 130' INT TERM

start_local_store "$RUN/store"
echo "Local store:    $STORE_ENDPOINT"
# The service's own long-term key for the store; the editor only ever sees the temporary
# credentials the service issues per component.
start_dev_service "$DEV_SERVICE" "$RUN/service" "$RUN/service" \
	"$DEMO_ACCOUNT:$DEMO_PASSWORD:Demo Creator" -- \
	--storage-sts --storage-endpoint "$STORE_ENDPOINT" --storage-bucket "$BUCKET" --storage-region "$STORE_REGION" \
	--storage-access-key-id "$STORE_ADMIN_ID" --storage-secret-access-key "$STORE_ADMIN_SECRET"
echo "OrvaDevService: $BASE_URL"

# A user settings folder of the run's own: OrvaSDK.ini points the plugin at the service and the
# store, and the installer's record (which stands in for the registry) at the installed client.
export XDG_CONFIG_HOME="$RUN/config"
point_settings_at_service "$XDG_CONFIG_HOME"
point_settings_at_store "$XDG_CONFIG_HOME" "$STORE_ENDPOINT"
INSTALL="$RUN/Orva"
install_client "$XDG_CONFIG_HOME" "$INSTALL" "$CLIENT"
CLIENT_LOG="$INSTALL/ORVAClient/Saved/Logs/ORVAClient.log"

cp -R "$EXAMPLES/DemoProject" "$RUN/DemoProject"
export QT_QPA_PLATFORM=offscreen

echo "Running $(basename "$SCRIPT") over $RUN/DemoProject"
set +e
"$EDITOR_CMD" "$RUN/DemoProject/DemoProject.uproject" -run=OrvaSDK -script="$SCRIPT" \
	>"$RUN/results.jsonl" 2>"$RUN/editor.log"
STATUS=$?
set -e
fail() { [ "$STATUS" -eq 0 ] && STATUS=1 || true; }

# The client runs on its own; its last line says it is done.
if grep -q 'Target::' "$RUN/editor.log" 2>/dev/null; then
	for _ in $(seq 1 600); do
		grep -q 'ORVAClient exits with' "$CLIENT_LOG" 2>/dev/null && break
		sleep 0.1
	done
fi

# What the store and the service hold, read before they stop: the store with its administrator's
# key, the service with a token of the demo creator.
TOKEN="$(curl -sf "${BASE_URL}auth/token?role=creator" -H 'Content-Type: application/json; charset=utf-8' \
	--data "{\"email\":\"$DEMO_ACCOUNT\",\"grant_type\":\"password\",\"guest_token\":\"string\",\"password\":\"$DEMO_PASSWORD\"}" |
	sed -n 's/.*"access_token":"\([^"]*\)".*/\1/p' || true)"
component_state() {
	curl -sf "${BASE_URL}components/$1" -H "Authorization: Bearer $TOKEN" -H 'accept: application/json' || true
}
json_field() { sed -n "s/.*\"$1\":\(\"[^\"]*\"\|[a-z0-9]*\).*/\1/p" | head -n 1 | tr -d '"'; }
LISTING="$(store_s3 "$STORE_ENDPOINT/$BUCKET?list-type=2" || true)"
OBJECTS="$(printf '%s' "$LISTING" | sed 's|<Contents>|\n|g' | sed -n 's|.*<Key>\([^<]*\)</Key>.*<Size>\([0-9]*\)</Size>.*|\1 \2|p')"
mkdir -p "$RUN/store/objects"
declare -A STORED_SIZE STORED_SHA
while read -r KEY SIZE; do
	[ -n "$KEY" ] || continue
	FILE="$RUN/store/objects/$(basename "$KEY")"
	store_s3 "$STORE_ENDPOINT/$BUCKET/$KEY" -o "$FILE" || true
	STORED_SIZE["$KEY"]="$SIZE"
	STORED_SHA["$KEY"]="$(sha256sum "$FILE" 2>/dev/null | cut -d' ' -f1)"
done <<<"$OBJECTS"
declare -A COMPONENT_STATE
while IFS= read -r PAK; do
	ID="$(basename "$PAK" .pak)"
	COMPONENT_STATE["$ID"]="$(component_state "$ID")"
done < <(find "$RUN/DemoProject/Saved/HotPatcher" -name '*.pak' 2>/dev/null | sort)
stop_all

# The results are one JSON line per step; the summary picks a few of them.
WORLDS_CREATED="$(grep -c '"event":"UOrvaSDKSubsystem.OnNewWorkspace"' "$RUN/results.jsonl" || true)"
IDENTIFIER="$(grep -o '"WorldIdentifier":"[^"]*"' "$RUN/results.jsonl" | tail -n 1 | sed 's/.*:"\(.*\)"/\1/' || true)"
# The screenshot the script added, and the title image the image cache downloaded back.
SCREENSHOT_ID="$(grep -o '"call":"UOrvaDataCacheSubsystem.GetCurrImageList","result":\[{[^}]*"Id":"[^"]*"' "$RUN/results.jsonl" | tail -n 1 | sed 's/.*"Id":"\([^"]*\)"$/\1/' || true)"
TITLE_IMAGE="$(grep -o '"image":"[^"]*","value":{[^}]*}' "$RUN/results.jsonl" | tail -n 1 || true)"
TITLE_URL="$(printf '%s' "$TITLE_IMAGE" | sed -n 's/^"image":"\([^"]*\)".*/\1/p')"
TITLE_SIZE="$(printf '%s' "$TITLE_IMAGE" | sed -n 's/.*"SizeX":\([0-9]*\),"SizeY":\([0-9]*\).*/\1 x \2/p')"
PNG_SIZE="$(od -An -tu1 -j16 -N8 "$EXAMPLES/Harbour.png" | awk '{print $1*16777216+$2*65536+$3*256+$4 " x " $5*16777216+$6*65536+$7*256+$8}')"
WORKSPACE="(none)"
if [ -n "$IDENTIFIER" ] && [ -d "$RUN/DemoProject/Content/$IDENTIFIER" ]; then
	WORKSPACE="$RUN/DemoProject/Content/$IDENTIFIER"
fi

echo
echo "Summary"
echo "  worlds created:   $WORLDS_CREATED"
echo "  workspace folder: $WORKSPACE"
if [ "$WORKSPACE" != "(none)" ]; then
	echo "                    ($(cd "$WORKSPACE" && find . -mindepth 1 -type d | sort | tr '\n' ' '))"
fi
echo "  screenshot:       Examples/Harbour.png ($PNG_SIZE) uploaded as ${SCREENSHOT_ID:-(no id)}, made the title image"
if [ -n "$TITLE_URL" ]; then
	echo "  title image:      $TITLE_URL"
	echo "                    downloaded from OrvaDevService and decoded to $TITLE_SIZE"
else
	echo "  title image:      (not downloaded)"
fi
# Each registered pak: its size, its component id (Component.json beside it names the pak) and
# the reader's verdict on both index hashes and every entry hash; then its object in the store
# beside it, and what the service recorded.
CHECK_CODE="$(grep -o '"call":"UOrvaSDKSubsystem.GetCheckCode","result":"[^"]*"' "$RUN/results.jsonl" | tail -n 1 | sed 's/.*"result":"\(.*\)"/\1/' || true)"
echo "  check code:       ${CHECK_CODE:-(none)}"
PAKS=0
declare -A MATCHED
while IFS= read -r PAK; do
	PAKS=$((PAKS + 1))
	DIR="$(dirname "$PAK")"
	ID="$(sed -n 's/^{"ComponentId":"\(.*\)"}$/\1/p' "$DIR/Component.json" 2>/dev/null || true)"
	if "$EDITOR_CMD" -run=PakInfo -pak="$PAK" >"$PAK.info" 2>&1; then
		VERDICT="$(tail -n 1 "$PAK.info")"
	else
		VERDICT="FAILED: $(tail -n 1 "$PAK.info")"
		fail
	fi
	if [ "$ID.pak" != "$(basename "$PAK")" ]; then
		VERDICT="$VERDICT; not named after its component id"
		fail
	fi
	SIZE="$(stat -c %s "$PAK")"
	SHA="$(sha256sum "$PAK" | cut -d' ' -f1)"
	printf '  pak:              %s/%s  component %s  (%s)\n' "$(basename "$DIR")" "$(basename "$PAK")" "${ID:-(none)}" "$VERDICT"
	printf '    local:          %12s bytes  sha256 %s\n' "$SIZE" "$SHA"
	KEY=""
	for K in "${!STORED_SIZE[@]}"; do
		[ "$(basename "$K")" = "$ID.pak" ] && KEY="$K"
	done
	if [ -n "$KEY" ]; then
		MATCHED["$KEY"]=1
		SAME="identical"
		if [ "${STORED_SIZE[$KEY]}" != "$SIZE" ] || [ "${STORED_SHA[$KEY]}" != "$SHA" ]; then
			SAME="DIFFERENT"
			fail
		fi
		printf '    in the store:   %12s bytes  sha256 %s  (%s)\n' "${STORED_SIZE[$KEY]}" "${STORED_SHA[$KEY]}" "$SAME"
		printf '                    s3://%s/%s\n' "$BUCKET" "$KEY"
	else
		echo "    in the store:   (no object)"
		fail
	fi
	STATE="${COMPONENT_STATE[$ID]:-}"
	if [ "$(printf '%s' "$STATE" | json_field complete)" = "true" ]; then
		printf '    service:        complete, %s bytes, checksum %s\n' "$(printf '%s' "$STATE" | json_field size)" \
			"$(printf '%s' "$STATE" | json_field checksum)"
	else
		echo "    service:        NOT complete"
		fail
	fi
done < <(find "$RUN/DemoProject/Saved/HotPatcher" -name '*.pak' 2>/dev/null | sort)
if [ "$PAKS" -eq 0 ]; then
	echo "  paks:             (none built)"
	fail
fi
for K in "${!STORED_SIZE[@]}"; do
	if [ -z "${MATCHED[$K]:-}" ]; then
		printf '  store object:     s3://%s/%s  %s bytes  (no local pak)\n' "$BUCKET" "$K" "${STORED_SIZE[$K]}"
	fi
done
# The client's verdict: its last "Verdict:" line, without the time stamp.
VERDICT_LINE="$(grep -o 'Verdict: .*' "$CLIENT_LOG" 2>/dev/null | tail -n 1 || true)"
echo "  client:           $INSTALL/ORVAClient/Binaries/Linux/ORVAClient"
echo "                    ${VERDICT_LINE:-(no verdict: the client did not run or did not finish)}"
CLIENT_EXIT="$(sed -n 's/.*ORVAClient exits with \([0-9]*\).*/\1/p' "$CLIENT_LOG" 2>/dev/null | tail -n 1)"
if [ "${CLIENT_EXIT:-}" != "0" ]; then
	fail
fi
echo "  client log:       $CLIENT_LOG"
echo "  results:          $RUN/results.jsonl ($(wc -l <"$RUN/results.jsonl") lines)"
echo "  editor log:       $RUN/editor.log"
if [ "$STATUS" -eq 0 ]; then
	echo "  exit status:      0 (the script ran to its end, both paks are stored intact, the world plays)"
else
	echo "  exit status:      $STATUS"
	echo "  failure:          $(tail -n 1 "$RUN/editor.log")"
	echo "                    (or a check above)"
fi
exit "$STATUS"
