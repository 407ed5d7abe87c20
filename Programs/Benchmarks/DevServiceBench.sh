#!/usr/bin/env bash
# Throughput of OrvaDevService on the two hottest reads of the plugin: "me" (every login and
# editor start) and "me/worlds" (every refresh of the world view).
#
# Starts the service on a free loopback port over a throw-away data folder with one creator,
# logs in, creates 100 worlds, then runs wrk with 32 connections for 10 s on each address and
# prints requests per second, p99 latency and errors. The service is stopped at the end (and on
# any failure). Exits 1 when "me" misses its target: 3000 requests/s, p99 under 50 ms, no errors.
#
# Usage: Programs/Benchmarks/DevServiceBench.sh [--binary PATH] [--duration SECONDS] [--connections N]
# Without --binary, OrvaDevService is built with the bench preset (Release, in build/bench).
# Needs: wrk, curl.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BINARY=""
DURATION=10
CONNECTIONS=32
WORLDS=100
TARGET_RPS=3000
TARGET_P99_MS=50

while [ $# -gt 0 ]; do
  case "$1" in
    --binary) BINARY="$2"; shift 2 ;;
    --duration) DURATION="$2"; shift 2 ;;
    --connections) CONNECTIONS="$2"; shift 2 ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

for tool in wrk curl; do
  command -v "$tool" >/dev/null || { echo "DevServiceBench: $tool is not installed" >&2; exit 2; }
done

if [ -z "$BINARY" ]; then
  (cd "$ROOT" && cmake --preset bench >/dev/null && cmake --build --preset bench --target OrvaDevService >/dev/null)
  BINARY="$ROOT/build/bench/Programs/OrvaDevService/OrvaDevService"
fi

WORK="$(mktemp -d "${TMPDIR:-/tmp}/DevServiceBench.XXXXXX")"
SERVICE_PID=""
cleanup() {
  if [ -n "$SERVICE_PID" ] && kill -0 "$SERVICE_PID" 2>/dev/null; then
    kill -TERM "$SERVICE_PID" 2>/dev/null || true
    wait "$SERVICE_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

EMAIL="bench@example.com"
PASSWORD="bench-$(od -An -N8 -tx8 /dev/urandom | tr -d ' ')"
"$BINARY" --data "$WORK/data" --host 127.0.0.1 --port 0 --creator "$EMAIL:$PASSWORD:Bench" \
  >"$WORK/address" 2>"$WORK/service.log" &
SERVICE_PID=$!

for _ in $(seq 1 200); do
  [ -s "$WORK/address" ] && break
  kill -0 "$SERVICE_PID" 2>/dev/null || { cat "$WORK/service.log" >&2; exit 1; }
  sleep 0.1
done
BASE="$(sed -n 's/^OrvaDevService listening on \(http:[^ ]*\)$/\1/p' "$WORK/address")"
[ -n "$BASE" ] || { echo "DevServiceBench: the service printed no address" >&2; exit 1; }

TOKEN="$(curl -sf -X POST "${BASE}auth/token?role=creator" \
  -H 'Content-Type: application/json; charset=utf-8' -H 'accept: application/json' \
  --data "{\"email\":\"$EMAIL\",\"grant_type\":\"password\",\"guest_token\":\"string\",\"password\":\"$PASSWORD\"}" |
  sed -n 's/.*"access_token":"\([^"]*\)".*/\1/p')"
[ -n "$TOKEN" ] || { echo "DevServiceBench: login failed" >&2; exit 1; }

for i in $(seq 1 "$WORLDS"); do
  curl -sf -o /dev/null -X POST "${BASE}me/worlds" -H "Authorization: Bearer $TOKEN" \
    -H 'Content-Type: application/json; charset=utf-8' \
    --data "{\"description\":\"Benchmark world $i\",\"name\":\"World$i\",\"public\":false}"
done
COUNT="$(curl -sf "${BASE}me/worlds" -H "Authorization: Bearer $TOKEN" | grep -o '"identifier"' | wc -l)"
[ "$COUNT" -eq "$WORLDS" ] || { echo "DevServiceBench: expected $WORLDS worlds, found $COUNT" >&2; exit 1; }

# wrk prints latencies as 1.23ms, 456.00us or 1.02s.
to_ms() {
  awk -v v="$1" 'BEGIN {
    if (v ~ /us$/) { sub(/us$/, "", v); printf "%.3f", v / 1000 }
    else if (v ~ /ms$/) { sub(/ms$/, "", v); printf "%.3f", v }
    else if (v ~ /m$/) { sub(/m$/, "", v); printf "%.3f", v * 60000 }
    else { sub(/s$/, "", v); printf "%.3f", v * 1000 } }'
}

STATUS=0
run() {
  local name="$1" path="$2"
  local out="$WORK/wrk-${name//\//-}.txt"
  wrk -t2 -c"$CONNECTIONS" -d"${DURATION}s" --latency -H "Authorization: Bearer $TOKEN" "${BASE}${path}" >"$out"
  local rps p99 non2xx sockets
  rps="$(awk '/^Requests\/sec:/ {print $2}' "$out")"
  p99="$(to_ms "$(awk '$1 == "99%" {print $2}' "$out")")"
  non2xx="$(awk '/Non-2xx or 3xx responses:/ {print $NF}' "$out")"
  sockets="$(awk '/Socket errors:/ {gsub(",", ""); print $4 + $6 + $8 + $10}' "$out")"
  local errors=$(( ${non2xx:-0} + ${sockets:-0} ))
  printf '%-10s requests/s %10s   p99 %8s ms   errors %d (non-2xx %d, socket %d)\n' \
    "$name" "$rps" "$p99" "$errors" "${non2xx:-0}" "${sockets:-0}"
  if [ "$name" = "me" ]; then
    if awk -v r="$rps" -v p="$p99" -v e="$errors" -v tr="$TARGET_RPS" -v tp="$TARGET_P99_MS" \
      'BEGIN { exit !(r >= tr && p < tp && e == 0) }'; then
      echo "me         target met (>= $TARGET_RPS requests/s, p99 < $TARGET_P99_MS ms, no errors)"
    else
      echo "me         TARGET MISSED (>= $TARGET_RPS requests/s, p99 < $TARGET_P99_MS ms, no errors)"
      STATUS=1
    fi
  fi
}

echo "OrvaDevService benchmark: $CONNECTIONS connections, ${DURATION}s each, $WORLDS worlds, $(nproc) cores"
run me "me"
run me/worlds "me/worlds"

kill -TERM "$SERVICE_PID"
wait "$SERVICE_PID" && echo "service stopped cleanly" || { echo "service exit code $?"; STATUS=1; }
SERVICE_PID=""
echo "requests logged by the service: $(wc -l <"$WORK/service.log")"
exit $STATUS
