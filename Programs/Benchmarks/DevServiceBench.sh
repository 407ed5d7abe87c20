#!/usr/bin/env bash
# Throughput of OrvaDevService on the two hottest reads of the plugin: "me" (every login and
# editor start) and "me/worlds" (every refresh of the world view), the latter paired with nginx
# serving the very same bytes as a static file.
#
# Starts the service on a free loopback port over a throw-away data folder with one creator,
# logs in, creates 100 worlds and saves the "me/worlds" answer as a file that nginx (started on
# its own free loopback port, over a throw-away prefix) serves. Then wrk, with 32 connections,
# runs "me" once and, for at least 5 rounds, "me/worlds" on the service and the file on nginx
# one after the other, alternating which goes first. It prints each round's pair, the min /
# median / max of the ratio (ours / nginx, requests per second) and whether the targets are met:
#   me:        >= 3000 requests/s, p99 under 50 ms, no errors
#   me/worlds: >= 10000 requests/s and p99 under 20 ms (medians over the rounds), no errors
# Exits 1 when a target is missed. Both servers are stopped at the end (and on any failure).
#
# Usage: Programs/Benchmarks/DevServiceBench.sh [--binary PATH] [--duration SECONDS]
#        [--connections N] [--rounds N]
# Without --binary, OrvaDevService is built with the bench preset (Release, in build/bench).
# Needs: wrk, curl, nginx (Debian: apt-get install wrk curl nginx), python3 (for free ports).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BINARY=""
DURATION=10
CONNECTIONS=32
ROUNDS=5
WORLDS=100
TARGET_ME_RPS=3000
TARGET_ME_P99_MS=50
TARGET_WORLDS_RPS=10000
TARGET_WORLDS_P99_MS=20

while [ $# -gt 0 ]; do
  case "$1" in
    --binary) BINARY="$2"; shift 2 ;;
    --duration) DURATION="$2"; shift 2 ;;
    --connections) CONNECTIONS="$2"; shift 2 ;;
    --rounds) ROUNDS="$2"; shift 2 ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
[ "$ROUNDS" -ge 5 ] || { echo "DevServiceBench: at least 5 rounds" >&2; exit 2; }

NGINX="$(command -v nginx || echo /usr/sbin/nginx)"
[ -x "$NGINX" ] || { echo "DevServiceBench: nginx is not installed (apt-get install nginx)" >&2; exit 2; }
for tool in wrk curl python3; do
  command -v "$tool" >/dev/null || { echo "DevServiceBench: $tool is not installed" >&2; exit 2; }
done

if [ -z "$BINARY" ]; then
  (cd "$ROOT" && cmake --preset bench >/dev/null && cmake --build --preset bench --target OrvaDevService >/dev/null)
  BINARY="$ROOT/build/bench/Programs/OrvaDevService/OrvaDevService"
fi

WORK="$(mktemp -d "${TMPDIR:-/tmp}/DevServiceBench.XXXXXX")"
SERVICE_PID=""
NGINX_PID=""
stop() {
  local pid="$1"
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
}
cleanup() {
  stop "$SERVICE_PID"
  stop "$NGINX_PID"
  rm -rf "$WORK"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

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

# nginx serves the service's own answer from a file, with its stock settings otherwise (two
# workers on two cores, keep-alive, an access log like the service's request log).
mkdir -p "$WORK/www" "$WORK/nginx/logs" "$WORK/nginx/tmp"
curl -sf "${BASE}me/worlds" -H "Authorization: Bearer $TOKEN" -o "$WORK/www/worlds.json"
COUNT="$(grep -o '"identifier"' "$WORK/www/worlds.json" | wc -l)"
[ "$COUNT" -eq "$WORLDS" ] || { echo "DevServiceBench: expected $WORLDS worlds, found $COUNT" >&2; exit 1; }
chmod 755 "$WORK" "$WORK/www"
chmod 644 "$WORK/www/worlds.json"
NGINX_PORT="$(free_port)"
cat >"$WORK/nginx/nginx.conf" <<CONF
worker_processes auto;
pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/logs/error.log;
$([ "$(id -u)" -eq 0 ] && echo "user root;")
events { worker_connections 1024; }
http {
  default_type application/json;
  access_log $WORK/nginx/logs/access.log;
  client_body_temp_path $WORK/nginx/tmp/body;
  proxy_temp_path $WORK/nginx/tmp/proxy;
  fastcgi_temp_path $WORK/nginx/tmp/fastcgi;
  uwsgi_temp_path $WORK/nginx/tmp/uwsgi;
  scgi_temp_path $WORK/nginx/tmp/scgi;
  sendfile on;
  server {
    listen 127.0.0.1:$NGINX_PORT;
    root $WORK/www;
  }
}
CONF
"$NGINX" -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf" -g 'daemon off;' 2>"$WORK/nginx/logs/stderr" &
NGINX_PID=$!
PEER="http://127.0.0.1:$NGINX_PORT/worlds.json"
for _ in $(seq 1 100); do
  curl -sf -o "$WORK/peer.json" "$PEER" && break
  kill -0 "$NGINX_PID" 2>/dev/null || { cat "$WORK/nginx/logs/stderr" "$WORK/nginx/logs/error.log" >&2; exit 1; }
  sleep 0.1
done
cmp -s "$WORK/peer.json" "$WORK/www/worlds.json" || { echo "DevServiceBench: nginx serves other bytes" >&2; exit 1; }

# wrk prints latencies as 1.23ms, 456.00us or 1.02s.
to_ms() {
  awk -v v="$1" 'BEGIN {
    if (v ~ /us$/) { sub(/us$/, "", v); printf "%.3f", v / 1000 }
    else if (v ~ /ms$/) { sub(/ms$/, "", v); printf "%.3f", v }
    else if (v ~ /m$/) { sub(/m$/, "", v); printf "%.3f", v * 60000 }
    else { sub(/s$/, "", v); printf "%.3f", v * 1000 } }'
}

# Runs wrk on one address; sets RPS, P99 (ms) and ERRORS, and prints one line.
run() {
  local name="$1" url="$2"
  local out="$WORK/wrk.txt"
  wrk -t2 -c"$CONNECTIONS" -d"${DURATION}s" --latency -H "Authorization: Bearer $TOKEN" "$url" >"$out"
  local non2xx sockets
  RPS="$(awk '/^Requests\/sec:/ {print $2}' "$out")"
  P99="$(to_ms "$(awk '$1 == "99%" {print $2}' "$out")")"
  non2xx="$(awk '/Non-2xx or 3xx responses:/ {print $NF}' "$out")"
  sockets="$(awk '/Socket errors:/ {gsub(",", ""); print $4 + $6 + $8 + $10}' "$out")"
  ERRORS=$(( ${non2xx:-0} + ${sockets:-0} ))
  printf '  %-16s requests/s %10s   p99 %8s ms   errors %d (non-2xx %d, socket %d)\n' \
    "$name" "$RPS" "$P99" "$ERRORS" "${non2xx:-0}" "${sockets:-0}"
}

# min / median / max of the numbers on standard input.
summary() {
  sort -g | awk '{ v[NR] = $1 } END {
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "min %.3f, median %.3f, max %.3f", v[1], m, v[NR] }'
}
median() {
  sort -g | awk '{ v[NR] = $1 } END { printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

STATUS=0
verdict() { # name, condition (awk expression true when met), target text
  if awk "BEGIN { exit !($2) }"; then
    echo "$1 target met ($3)"
  else
    echo "$1 TARGET MISSED ($3)"
    STATUS=1
  fi
}

echo "OrvaDevService benchmark: $CONNECTIONS connections, ${DURATION}s per run, $WORLDS worlds" \
  "($(wc -c <"$WORK/www/worlds.json") bytes), $ROUNDS rounds, $(nproc) cores"
echo "load before: $(uptime)"
run me "${BASE}me"
verdict "me:" "$RPS >= $TARGET_ME_RPS && $P99 < $TARGET_ME_P99_MS && $ERRORS == 0" \
  ">= $TARGET_ME_RPS requests/s, p99 < $TARGET_ME_P99_MS ms, no errors"

: >"$WORK/ratios"; : >"$WORK/ours-rps"; : >"$WORK/ours-p99"; : >"$WORK/peer-rps"
WORLD_ERRORS=0
for round in $(seq 1 "$ROUNDS"); do
  if [ $((round % 2)) -eq 1 ]; then order="ours nginx"; else order="nginx ours"; fi
  echo "round $round (${order%% *} first):"
  for side in $order; do
    if [ "$side" = ours ]; then
      run "me/worlds" "${BASE}me/worlds"
      OURS_RPS="$RPS"; echo "$RPS" >>"$WORK/ours-rps"; echo "$P99" >>"$WORK/ours-p99"
      WORLD_ERRORS=$((WORLD_ERRORS + ERRORS))
    else
      run "nginx file" "$PEER"
      PEER_RPS="$RPS"; echo "$RPS" >>"$WORK/peer-rps"
    fi
  done
  RATIO="$(awk -v a="$OURS_RPS" -v b="$PEER_RPS" 'BEGIN { printf "%.3f", a / b }')"
  echo "$RATIO" >>"$WORK/ratios"
  echo "  ratio ours / nginx: $RATIO"
done
echo "load after: $(uptime)"
echo "me/worlds requests/s: $(summary <"$WORK/ours-rps")"
echo "me/worlds p99 ms:     $(summary <"$WORK/ours-p99")"
echo "nginx requests/s:     $(summary <"$WORK/peer-rps")"
echo "ratio ours / nginx:   $(summary <"$WORK/ratios")"
verdict "me/worlds:" \
  "$(median <"$WORK/ours-rps") >= $TARGET_WORLDS_RPS && $(median <"$WORK/ours-p99") < $TARGET_WORLDS_P99_MS && $WORLD_ERRORS == 0" \
  "median >= $TARGET_WORLDS_RPS requests/s, median p99 < $TARGET_WORLDS_P99_MS ms, no errors"

stop "$NGINX_PID"
NGINX_PID=""
kill -TERM "$SERVICE_PID"
wait "$SERVICE_PID" && echo "service stopped cleanly" || { echo "service exit code $?"; STATUS=1; }
SERVICE_PID=""
echo "requests logged by the service: $(wc -l <"$WORK/service.log")"
exit $STATUS
