#!/usr/bin/env bash
# Upload throughput of the editor's S3 client against `curl --aws-sigv4` (one PUT) and the AWS
# command line's `aws s3 cp` (multi-part), on the same file, store and temporary credentials.
#
# Starts moto's server (the local S3 and STS store) with authentication enforced, makes an
# administrator, a bucket and a role that may only PUT below "bench/", assumes it, then uploads a
# file of SIZE MiB (default 1024) PAIRS times (default 5) with each of: S3PutBench (US3PutObjectOrva
# over the host's HTTP module, the product's default settings), curl and aws, alternating which
# goes first. Prints each run, then min, median and max of editor/curl and editor/aws (speed
# ratios), CPU seconds per GiB of each, the editor's RSS growth and its longest main-thread stall
# with when it happened. Every object is checked (the editor's by its multipart ETag, curl's by
# its MD5, aws's by its length).
#
# Then the same pairs over a link like a creator's: the store in a network namespace of its own
# behind a veth pair, limited with tc tbf to 200 Mbit/s each way, losing 0.5 % of the packets
# that reach it at random (nftables: numgen random mod 200 == 0 drop). Needs root, ip, tc and nft;
# skipped with a message otherwise, or with --no-shaped. --shaped-size sets its file size.
#
# Usage: Programs/Benchmarks/S3UploadBench.sh [--size MIB] [--pairs N] [--shaped-size MIB]
#                                             [--no-shaped] [--binary PATH]
# Without --binary, a Release build of S3PutBench is made in build/bench (the "bench" preset).
# Exits 1 when a target is missed (median editor/curl >= 1.2, editor/aws >= 1.0, CPU per GiB at
# most 2 x curl's, RSS growth at most 64 MiB, no stall over 50 ms), 2 when it cannot run.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
SIZE_MIB=1024
SHAPED_MIB=""
PAIRS=5
SHAPED=1
BINARY=""
while [ $# -gt 0 ]; do
  case "$1" in
    --size) SIZE_MIB="$2"; shift 2 ;;
    --pairs) PAIRS="$2"; shift 2 ;;
    --shaped-size) SHAPED_MIB="$2"; shift 2 ;;
    --no-shaped) SHAPED=0; shift ;;
    --binary) BINARY="$2"; shift 2 ;;
    -h|--help) sed -n '2,24p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
SHAPED_MIB="${SHAPED_MIB:-$SIZE_MIB}"
[ "$PAIRS" -ge 5 ] || echo "S3UploadBench: $PAIRS pairs are fewer than the 5 its figures are meant for" >&2
for tool in curl moto_server md5sum aws python3; do
  command -v "$tool" >/dev/null || { echo "S3UploadBench: $tool is not installed" >&2; exit 2; }
done
if [ -z "$BINARY" ]; then
  (cd "$ROOT" && cmake --preset bench >/dev/null && cmake --build --preset bench --target S3PutBench >/dev/null)
  BINARY="$ROOT/build/bench/Programs/Benchmarks/S3PutBench"
fi

WORK="$(mktemp -d "${TMPDIR:-/tmp}/S3UploadBench.XXXXXX")"
STORE_PID=""
NETNS=""
stop_store() {
  if [ -n "$STORE_PID" ] && kill -0 "$STORE_PID" 2>/dev/null; then
    kill -TERM "$STORE_PID" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$STORE_PID" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$STORE_PID" 2>/dev/null || true
    wait "$STORE_PID" 2>/dev/null || true
  fi
  STORE_PID=""
}
cleanup() {
  stop_store
  if [ -n "$NETNS" ]; then
    ip netns del "$NETNS" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

xml() { sed -n "s|.*<$1>\([^<]*\)</$1>.*|\1|p" | head -n 1; }
enc() { python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$1"; }

# Starts the store on HOST (inside the command prefix given after it, if any) and sets STORE and
# the temporary credentials TEMP_ID, TEMP_SECRET, TEMP_TOKEN.
start_store() {
  local host="$1"; shift
  # The first three calls (the administrator's user, key and policy) are not authenticated;
  # every later one is.
  "$@" env INITIAL_NO_AUTH_ACTION_COUNT=3 moto_server -H "$host" -p 0 >"$WORK/store.log" 2>&1 &
  STORE_PID=$!
  local port=""
  for _ in $(seq 1 300); do
    port="$(sed -n "s|.*Running on http://$host:\([0-9]*\).*|\1|p" "$WORK/store.log" | head -n 1)"
    [ -n "$port" ] && break
    kill -0 "$STORE_PID" 2>/dev/null || { cat "$WORK/store.log" >&2; exit 2; }
    sleep 0.1
  done
  [ -n "$port" ] || { echo "S3UploadBench: the store printed no address" >&2; exit 2; }
  STORE="http://$host:$port"
  iam_bootstrap() {
    curl -sf "$STORE/" -H "Authorization: AWS4-HMAC-SHA256 Credential=AKIABOOTSTRAP/20240101/us-east-1/iam/aws4_request, SignedHeaders=host, Signature=0" \
      --data "$1"
  }
  iam_bootstrap "Action=CreateUser&Version=2010-05-08&UserName=bench-admin" >/dev/null
  local keys
  keys="$(iam_bootstrap "Action=CreateAccessKey&Version=2010-05-08&UserName=bench-admin")"
  ADMIN_ID="$(echo "$keys" | xml AccessKeyId)"
  ADMIN_SECRET="$(echo "$keys" | xml SecretAccessKey)"
  local everything='%7B%22Version%22%3A%222012-10-17%22%2C%22Statement%22%3A%5B%7B%22Effect%22%3A%22Allow%22%2C%22Action%22%3A%22%2A%22%2C%22Resource%22%3A%22%2A%22%7D%5D%7D'
  iam_bootstrap "Action=PutUserPolicy&Version=2010-05-08&UserName=bench-admin&PolicyName=all&PolicyDocument=$everything" >/dev/null
  signed_s3 -X PUT "$STORE/orva-bench" >/dev/null
  local arn="arn:aws:iam::123456789012:user/bench-admin"
  local trust put_only role_arn creds
  trust="$(enc "{\"Version\":\"2012-10-17\",\"Statement\":[{\"Effect\":\"Allow\",\"Principal\":{\"AWS\":\"$arn\"},\"Action\":\"sts:AssumeRole\"}]}")"
  put_only="$(enc '{"Version":"2012-10-17","Statement":[{"Effect":"Allow","Action":["s3:PutObject","s3:AbortMultipartUpload","s3:ListMultipartUploadParts"],"Resource":"arn:aws:s3:::orva-bench/bench/*"}]}')"
  role_arn="$(signed iam "$STORE/" --data "Action=CreateRole&Version=2010-05-08&RoleName=bench-upload&AssumeRolePolicyDocument=$trust" | xml Arn)"
  signed iam "$STORE/" --data "Action=PutRolePolicy&Version=2010-05-08&RoleName=bench-upload&PolicyName=put&PolicyDocument=$put_only" >/dev/null
  creds="$(signed sts "$STORE/" --data "Action=AssumeRole&Version=2011-06-15&RoleArn=$(enc "$role_arn")&RoleSessionName=bench&DurationSeconds=43200&Policy=$put_only")"
  TEMP_ID="$(echo "$creds" | xml AccessKeyId)"
  TEMP_SECRET="$(echo "$creds" | xml SecretAccessKey)"
  TEMP_TOKEN="$(echo "$creds" | xml SessionToken)"
  [ -n "$TEMP_TOKEN" ] || { echo "S3UploadBench: no temporary credentials: $creds" >&2; exit 2; }
}
signed() { # SERVICE, then curl arguments
  local service="$1"; shift
  curl -sf --aws-sigv4 "aws:amz:us-east-1:$service" --user "$ADMIN_ID:$ADMIN_SECRET" "$@"
}
# S3 wants the payload hash as a header; this curl does not add it by itself.
signed_s3() { signed s3 -H "x-amz-content-sha256: UNSIGNED-PAYLOAD" "$@"; }

# Runs a command and prints "WALL_SECONDS CPU_SECONDS" (the CPU time of it and its children).
measure() {
  python3 - "$@" <<'PY'
import resource, subprocess, sys, time
start = time.monotonic()
done = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
wall = time.monotonic() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
if done.returncode != 0:
    sys.stderr.write(done.stderr.decode(errors="replace"))
    sys.exit(1)
print(f"{wall:.3f} {usage.ru_utime + usage.ru_stime:.3f}")
PY
}

run_editor() { # KEY -> "wall cpu rss stall stall_at all_sent_at completed_at stall_cpu stall_queued" (times: ms since the round began)
  "$BINARY" --endpoint "$STORE" --bucket orva-bench --key "bench/$1" --file "$FILE" \
    --access-key "$TEMP_ID" --secret "$TEMP_SECRET" --token "$TEMP_TOKEN" >"$WORK/editor.txt" || {
    cat "$WORK/editor.txt" >&2; exit 1; }
  local v
  v() { sed -n "s/^$1=//p" "$WORK/editor.txt"; }
  # The editor's times count from its own start; the round began ROUND_START_MS before that.
  local offset=$(($(v clock_start_epoch_ms) - ROUND_START_MS))
  echo "$(v seconds) $(v cpu_seconds) $(v rss_growth_mib) $(v longest_stall_ms)" \
    "$(($(v longest_stall_at_ms) + offset)) $(($(v all_sent_at_ms) + offset)) $(($(v completed_at_ms) + offset))" \
    "$(v longest_stall_cpu_ms) $(v longest_stall_queued_ms)"
}
run_curl() {
  measure curl -sf --aws-sigv4 "aws:amz:us-east-1:s3" --user "$TEMP_ID:$TEMP_SECRET" \
    -H "x-amz-security-token: $TEMP_TOKEN" -H "x-amz-content-sha256: UNSIGNED-PAYLOAD" \
    -T "$FILE" "$STORE/orva-bench/bench/$1" -o /dev/null
}
run_aws() {
  AWS_ACCESS_KEY_ID="$TEMP_ID" AWS_SECRET_ACCESS_KEY="$TEMP_SECRET" AWS_SESSION_TOKEN="$TEMP_TOKEN" \
    AWS_DEFAULT_REGION=us-east-1 AWS_CONFIG_FILE=/dev/null AWS_SHARED_CREDENTIALS_FILE=/dev/null \
    measure aws s3 cp --only-show-errors --endpoint-url "$STORE" "$FILE" "s3://orva-bench/bench/$1"
}
check_object() { # KEY EXPECTED-ETAG-OR-EMPTY
  local headers etag length
  headers="$(signed_s3 -I "$STORE/orva-bench/bench/$1" | tr -d '\r')"
  etag="$(echo "$headers" | sed -n 's/^[Ee][Tt]ag: "\(.*\)"$/\1/p')"
  length="$(echo "$headers" | sed -n 's/^[Cc]ontent-[Ll]ength: //p')"
  [ "$length" = "$BYTES" ] || { echo "S3UploadBench: bench/$1 has $length bytes, the file $BYTES" >&2; exit 1; }
  if [ -n "$2" ] && [ "$etag" != "$2" ]; then
    echo "S3UploadBench: bench/$1 has ETag $etag, expected $2" >&2; exit 1
  fi
}

# One series: PAIRS rounds of the three uploads on the running store; prints the runs and the
# summary, and sets SERIES_FAILED.
series() {
  local label="$1" size_mib="$2"
  FILE="$WORK/bench.pak"
  BYTES=$((size_mib * 1024 * 1024))
  head -c "$BYTES" /dev/urandom >"$FILE"
  local md5
  md5="$(md5sum "$FILE" | cut -d' ' -f1)"
  cat "$FILE" >/dev/null
  : >"$WORK/runs.txt"
  echo "== $label: $size_mib MiB, $PAIRS rounds (MD5 $md5)"
  for round in $(seq 1 "$PAIRS"); do
    ROUND_START_MS=$(($(date +%s%N) / 1000000))
    local order="editor curl aws"
    [ $((round % 2)) -eq 0 ] && order="aws curl editor"
    for tool in $order; do
      local out
      case "$tool" in
        editor) out="$(run_editor "editor-$round.pak")"; check_object "editor-$round.pak" "" ;;
        curl) out="$(run_curl "curl-$round.pak")"; check_object "curl-$round.pak" "$md5" ;;
        aws) out="$(run_aws "aws-$round.pak")"; check_object "aws-$round.pak" "" ;;
      esac
      echo "$round $tool $out" >>"$WORK/runs.txt"
      printf '  round %d %-6s %s s wall, %s s CPU%s\n' "$round" "$tool" "$(echo "$out" | cut -d' ' -f1)" \
        "$(echo "$out" | cut -d' ' -f2)" \
        "$([ "$tool" = editor ] && echo "$out" | awk '{ printf ", RSS +%s MiB, stall %s ms (main thread running %s ms of it, waiting for a core %s ms) beginning %s ms into the round; parts acknowledged at %s ms, object complete at %s ms", $3, $4, $8, $9, $5, $6, $7 }')"
      # The store keeps every object in memory: drop each once checked.
      signed_s3 -X DELETE "$STORE/orva-bench/bench/$tool-$round.pak" >/dev/null
    done
  done
  SERIES_FAILED=0
  python3 - "$WORK/runs.txt" "$size_mib" <<'PY' || SERIES_FAILED=1
import statistics, sys
runs, mib = {}, float(sys.argv[2])
for line in open(sys.argv[1]):
    f = line.split()
    runs.setdefault(int(f[0]), {})[f[1]] = [float(x) for x in f[2:]]
rounds = sorted(runs)
def ratio(other):  # editor speed / other speed, per round
    return [runs[r][other][0] / runs[r]["editor"][0] for r in rounds]
def mmm(values):
    return f"min {min(values):.3f}  median {statistics.median(values):.3f}  max {max(values):.3f}"
gib = mib / 1024.0
speed = lambda tool: [mib / runs[r][tool][0] for r in rounds]
cpu = lambda tool: [runs[r][tool][1] / gib for r in rounds]
vs_curl, vs_aws = ratio("curl"), ratio("aws")
print(f"  MiB/s     editor {mmm(speed('editor'))}")
print(f"  MiB/s     curl   {mmm(speed('curl'))}")
print(f"  MiB/s     aws    {mmm(speed('aws'))}")
print(f"  editor/curl speed: {mmm(vs_curl)}   (target median >= 1.2)")
print(f"  editor/aws speed:  {mmm(vs_aws)}   (target median >= 1.0)")
c_ed, c_curl, c_aws = (statistics.median(cpu(t)) for t in ("editor", "curl", "aws"))
print(f"  CPU s/GiB (median): editor {c_ed:.2f}, curl {c_curl:.2f}, aws {c_aws:.2f}; editor/curl {c_ed / c_curl:.2f} (target <= 2)")
rss = max(runs[r]["editor"][2] for r in rounds)
stall_round = max(rounds, key=lambda r: runs[r]["editor"][3])
stall, stall_at = runs[stall_round]["editor"][3], runs[stall_round]["editor"][4]
stall_cpu, stall_queued = runs[stall_round]["editor"][7], runs[stall_round]["editor"][8]
print(f"  editor RSS growth: max {rss:.1f} MiB (target <= 64)")
print(f"  editor longest main-thread stall: {stall:.1f} ms, round {stall_round}, beginning {stall_at:.0f} ms into the round; the main thread ran {stall_cpu:.1f} ms of it and waited {stall_queued:.1f} ms for a core (target <= 50)")
ok = statistics.median(vs_curl) >= 1.2 and statistics.median(vs_aws) >= 1.0 and c_ed <= 2 * c_curl and rss <= 64 and stall <= 50
print("  targets: " + ("met" if ok else "MISSED"))
sys.exit(0 if ok else 1)
PY
}

FAILED=0
start_store 127.0.0.1
series "loopback" "$SIZE_MIB"
FAILED=$((FAILED | SERIES_FAILED))
stop_store

if [ "$SHAPED" -eq 0 ]; then
  echo "== shaped link: skipped (--no-shaped)"
elif [ "$(id -u)" -ne 0 ] || ! command -v tc >/dev/null || ! command -v nft >/dev/null || ! command -v ip >/dev/null; then
  echo "== shaped link: skipped (needs root, ip, tc and nft)"
elif ! ip netns add "orvabench$$" 2>/dev/null; then
  echo "== shaped link: skipped (no network namespace can be made here)"
else
  NETNS="orvabench$$"
  # Addresses of this benchmark's own namespace only; nothing else is reached.
  HOST_IF="obh$$"; NS_IF="obn$$"
  ip link add "$HOST_IF" type veth peer name "$NS_IF"
  ip link set "$NS_IF" netns "$NETNS"
  ip addr add 10.213.7.1/30 dev "$HOST_IF"
  ip link set "$HOST_IF" up
  ip netns exec "$NETNS" ip addr add 10.213.7.2/30 dev "$NS_IF"
  ip netns exec "$NETNS" ip link set "$NS_IF" up
  ip netns exec "$NETNS" ip link set lo up
  tc qdisc add dev "$HOST_IF" root tbf rate 200mbit burst 256kb latency 50ms
  ip netns exec "$NETNS" tc qdisc add dev "$NS_IF" root tbf rate 200mbit burst 256kb latency 50ms
  ip netns exec "$NETNS" nft -f - <<'NFT'
table inet orvabench {
  chain input {
    type filter hook input priority 0; policy accept;
    numgen random mod 200 == 0 drop
  }
}
NFT
  echo "== shaped link: veth into namespace $NETNS, tbf 200 Mbit/s each way, 0.5 % of packets to the store dropped"
  start_store 10.213.7.2 ip netns exec "$NETNS"
  series "shaped link" "$SHAPED_MIB"
  FAILED=$((FAILED | SERIES_FAILED))
  stop_store
fi
exit "$FAILED"
