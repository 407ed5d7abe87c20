#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts a local OrvaDevService with a demo creator,
# and runs Examples/PublishDemo.orva in the headless editor over a copy of the demo project.
# The repository is not modified; the run's files stay in the folder printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
REPO="$PWD"

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target OrvaEditorCmd OrvaDevService --parallel "$(nproc)"

BIN="$REPO/build/release/Programs"
SCRIPT="$REPO/Examples/PublishDemo.orva"
# The account PublishDemo.orva logs in with.
CREATOR="demo@orva.dev:orva-demo:Demo Creator"

RUN="$(mktemp -d "${TMPDIR:-/tmp}/orva-run.XXXXXX")"
SERVICE_PID=""
stop_service() {
	if [ -n "$SERVICE_PID" ] && kill -0 "$SERVICE_PID" 2>/dev/null; then
		kill -TERM "$SERVICE_PID" 2>/dev/null || true
		# It stops on SIGTERM; one that hangs is not left behind either.
		for _ in $(seq 1 100); do
			kill -0 "$SERVICE_PID" 2>/dev/null || break
			sleep 0.1
		done
		kill -KILL "$SERVICE_PID" 2>/dev/null || true
		wait "$SERVICE_PID" 2>/dev/null || true
	fi
	SERVICE_PID=""
}
trap stop_service EXIT
trap 'exit 130' INT TERM

# The service picks a free port and prints its address once it accepts connections.
mkdir -p "$RUN/service"
"$BIN/OrvaDevService/OrvaDevService" --data "$RUN/service" --host 127.0.0.1 --port 0 --creator "$CREATOR" \
	>"$RUN/service.out" 2>"$RUN/service.log" &
SERVICE_PID=$!
BASE_URL=""
for _ in $(seq 1 200); do
	BASE_URL="$(sed -n 's|^OrvaDevService listening on \(http://[^ ]*/api/v1/\)$|\1|p' "$RUN/service.out")"
	[ -n "$BASE_URL" ] && break
	if ! kill -0 "$SERVICE_PID" 2>/dev/null; then
		echo "OrvaDevService did not start:" >&2
		cat "$RUN/service.log" >&2
		exit 1
	fi
	sleep 0.05
done
if [ -z "$BASE_URL" ]; then
	echo "OrvaDevService printed no address within 10 s" >&2
	exit 1
fi
echo "OrvaDevService: $BASE_URL"

# A user settings folder of the run's own, whose OrvaSDK.ini points the plugin at the service.
export XDG_CONFIG_HOME="$RUN/config"
mkdir -p "$XDG_CONFIG_HOME/BrackenfoldStudios/ORVA"
printf '[Development]\nServiceBaseUrl=%s\n' "$BASE_URL" >"$XDG_CONFIG_HOME/BrackenfoldStudios/ORVA/OrvaSDK.ini"

cp -R "$REPO/Examples/DemoProject" "$RUN/DemoProject"
export QT_QPA_PLATFORM=offscreen

echo "Running $(basename "$SCRIPT") over $RUN/DemoProject"
set +e
"$BIN/OrvaEditorCmd/OrvaEditorCmd" "$RUN/DemoProject/DemoProject.uproject" -run=OrvaSDK -script="$SCRIPT" \
	>"$RUN/results.jsonl" 2>"$RUN/editor.log"
STATUS=$?
set -e
stop_service

# The results are one JSON line per step; the summary picks a few of them.
WORLDS_CREATED="$(grep -c '"event":"UOrvaSDKSubsystem.OnNewWorkspace"' "$RUN/results.jsonl" || true)"
IDENTIFIER="$(grep -o '"WorldIdentifier":"[^"]*"' "$RUN/results.jsonl" | tail -n 1 | sed 's/.*:"\(.*\)"/\1/' || true)"
# The screenshot the script added, and the title image the image cache downloaded back.
SCREENSHOT_ID="$(grep -o '"call":"UOrvaDataCacheSubsystem.GetCurrImageList","result":\[{[^}]*"Id":"[^"]*"' "$RUN/results.jsonl" | tail -n 1 | sed 's/.*"Id":"\([^"]*\)"$/\1/' || true)"
TITLE_IMAGE="$(grep -o '"image":"[^"]*","value":{[^}]*}' "$RUN/results.jsonl" | tail -n 1 || true)"
TITLE_URL="$(printf '%s' "$TITLE_IMAGE" | sed -n 's/^"image":"\([^"]*\)".*/\1/p')"
TITLE_SIZE="$(printf '%s' "$TITLE_IMAGE" | sed -n 's/.*"SizeX":\([0-9]*\),"SizeY":\([0-9]*\).*/\1 x \2/p')"
PNG_SIZE="$(od -An -tu1 -j16 -N8 "$REPO/Examples/Harbour.png" | awk '{print $1*16777216+$2*65536+$3*256+$4 " x " $5*16777216+$6*65536+$7*256+$8}')"
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
# the reader's verdict on both index hashes and every entry hash.
CHECK_CODE="$(grep -o '"call":"UOrvaSDKSubsystem.GetCheckCode","result":"[^"]*"' "$RUN/results.jsonl" | tail -n 1 | sed 's/.*"result":"\(.*\)"/\1/' || true)"
echo "  check code:       ${CHECK_CODE:-(none)}"
PAKS=0
while IFS= read -r PAK; do
	PAKS=$((PAKS + 1))
	DIR="$(dirname "$PAK")"
	ID="$(sed -n 's/^{"ComponentId":"\(.*\)"}$/\1/p' "$DIR/Component.json" 2>/dev/null || true)"
	if "$BIN/OrvaEditorCmd/OrvaEditorCmd" -run=PakInfo -pak="$PAK" >"$PAK.info" 2>&1; then
		VERDICT="$(tail -n 1 "$PAK.info")"
	else
		VERDICT="FAILED: $(tail -n 1 "$PAK.info")"
		[ "$STATUS" -eq 0 ] && STATUS=1
	fi
	if [ "$ID.pak" != "$(basename "$PAK")" ]; then
		VERDICT="$VERDICT; not named after its component id"
		[ "$STATUS" -eq 0 ] && STATUS=1
	fi
	printf '  pak:              %s/%s  %s bytes  component %s  (%s)\n' "$(basename "$DIR")" "$(basename "$PAK")" \
		"$(stat -c %s "$PAK")" "${ID:-(none)}" "$VERDICT"
done < <(find "$RUN/DemoProject/Saved/HotPatcher" -name '*.pak' 2>/dev/null | sort)
if [ "$PAKS" -eq 0 ]; then
	echo "  paks:             (none built)"
	[ "$STATUS" -eq 0 ] && STATUS=1
fi
echo "  results:          $RUN/results.jsonl ($(wc -l <"$RUN/results.jsonl") lines)"
echo "  editor log:       $RUN/editor.log"
if [ "$STATUS" -eq 0 ]; then
	echo "  exit status:      0 (the script ran to its end)"
else
	echo "  exit status:      $STATUS"
	echo "  failure:          $(tail -n 1 "$RUN/editor.log")"
	echo "                    (or a pak check above)"
fi
exit "$STATUS"
