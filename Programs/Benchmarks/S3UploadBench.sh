#!/usr/bin/env bash
# Upload throughput of the editor's S3 client against curl, on the same file, store and
# temporary credentials.
#
# Starts moto's server (the local S3 and STS store) on a free loopback port with authentication
# enforced, makes an administrator, a bucket and a role that may only PUT below "bench/", assumes
# it, then uploads a file of SIZE MiB (default 1024) once with S3PutBench (US3PutObjectOrva over
# the host's HTTP module) and once with `curl --aws-sigv4`, and prints both times, the ratio, the
# editor's peak RSS growth and its longest main-thread stall. Both objects are checked against
# the file's MD5. Exits 1 when a target is missed: throughput at least 95% of curl's, RSS growth
# under 64 MiB, no stall over 50 ms.
#
# Usage: Programs/Benchmarks/S3UploadBench.sh [--size MIB] [--binary PATH]
# Without --binary, a Release build of S3PutBench is made in build/bench (the "bench" preset).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
SIZE_MIB=1024
BINARY=""
while [ $# -gt 0 ]; do
  case "$1" in
    --size) SIZE_MIB="$2"; shift 2 ;;
    --binary) BINARY="$2"; shift 2 ;;
    -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
for tool in curl moto_server md5sum; do
  command -v "$tool" >/dev/null || { echo "S3UploadBench: $tool is not installed" >&2; exit 2; }
done
if [ -z "$BINARY" ]; then
  (cd "$ROOT" && cmake --preset bench >/dev/null && cmake --build --preset bench --target S3PutBench >/dev/null)
  BINARY="$ROOT/build/bench/Programs/Benchmarks/S3PutBench"
fi

WORK="$(mktemp -d "${TMPDIR:-/tmp}/S3UploadBench.XXXXXX")"
STORE_PID=""
cleanup() {
  if [ -n "$STORE_PID" ] && kill -0 "$STORE_PID" 2>/dev/null; then
    kill -TERM "$STORE_PID" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$STORE_PID" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$STORE_PID" 2>/dev/null || true
    wait "$STORE_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The first three calls (the administrator's user, key and policy) are not authenticated; every
# later one is.
INITIAL_NO_AUTH_ACTION_COUNT=3 moto_server -H 127.0.0.1 -p 0 >"$WORK/store.log" 2>&1 &
STORE_PID=$!
PORT=""
for _ in $(seq 1 300); do
  PORT="$(sed -n 's|.*Running on http://127.0.0.1:\([0-9]*\).*|\1|p' "$WORK/store.log" | head -n 1)"
  [ -n "$PORT" ] && break
  kill -0 "$STORE_PID" 2>/dev/null || { cat "$WORK/store.log" >&2; exit 1; }
  sleep 0.1
done
[ -n "$PORT" ] || { echo "S3UploadBench: the store printed no address" >&2; exit 1; }
STORE="http://127.0.0.1:$PORT"

xml() { sed -n "s|.*<$1>\([^<]*\)</$1>.*|\1|p" | head -n 1; }
# Unauthenticated calls still name their service in a credential scope.
iam_bootstrap() {
  curl -sf "$STORE/" -H "Authorization: AWS4-HMAC-SHA256 Credential=AKIABOOTSTRAP/20240101/us-east-1/iam/aws4_request, SignedHeaders=host, Signature=0" \
    --data "$1"
}
iam_bootstrap "Action=CreateUser&Version=2010-05-08&UserName=bench-admin" >/dev/null
KEYS="$(iam_bootstrap "Action=CreateAccessKey&Version=2010-05-08&UserName=bench-admin")"
ADMIN_ID="$(echo "$KEYS" | xml AccessKeyId)"
ADMIN_SECRET="$(echo "$KEYS" | xml SecretAccessKey)"
EVERYTHING='%7B%22Version%22%3A%222012-10-17%22%2C%22Statement%22%3A%5B%7B%22Effect%22%3A%22Allow%22%2C%22Action%22%3A%22%2A%22%2C%22Resource%22%3A%22%2A%22%7D%5D%7D'
iam_bootstrap "Action=PutUserPolicy&Version=2010-05-08&UserName=bench-admin&PolicyName=all&PolicyDocument=$EVERYTHING" >/dev/null

signed() { # SERVICE, then curl arguments
  local service="$1"; shift
  curl -sf --aws-sigv4 "aws:amz:us-east-1:$service" --user "$ADMIN_ID:$ADMIN_SECRET" "$@"
}
# S3 wants the payload hash as a header; this curl does not add it by itself.
signed_s3() { signed s3 -H "x-amz-content-sha256: UNSIGNED-PAYLOAD" "$@"; }
signed_s3 -X PUT "$STORE/orva-bench" >/dev/null
ARN="arn:aws:iam::123456789012:user/bench-admin"
enc() { python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$1"; }
TRUST="$(enc "{\"Version\":\"2012-10-17\",\"Statement\":[{\"Effect\":\"Allow\",\"Principal\":{\"AWS\":\"$ARN\"},\"Action\":\"sts:AssumeRole\"}]}")"
PUT_ONLY="$(enc '{"Version":"2012-10-17","Statement":[{"Effect":"Allow","Action":"s3:PutObject","Resource":"arn:aws:s3:::orva-bench/bench/*"}]}')"
ROLE_ARN="$(signed iam "$STORE/" --data "Action=CreateRole&Version=2010-05-08&RoleName=bench-upload&AssumeRolePolicyDocument=$TRUST" | xml Arn)"
signed iam "$STORE/" --data "Action=PutRolePolicy&Version=2010-05-08&RoleName=bench-upload&PolicyName=put&PolicyDocument=$PUT_ONLY" >/dev/null
CREDS="$(signed sts "$STORE/" --data "Action=AssumeRole&Version=2011-06-15&RoleArn=$(enc "$ROLE_ARN")&RoleSessionName=bench&DurationSeconds=3600&Policy=$PUT_ONLY")"
TEMP_ID="$(echo "$CREDS" | xml AccessKeyId)"
TEMP_SECRET="$(echo "$CREDS" | xml SecretAccessKey)"
TEMP_TOKEN="$(echo "$CREDS" | xml SessionToken)"
[ -n "$TEMP_TOKEN" ] || { echo "S3UploadBench: no temporary credentials: $CREDS" >&2; exit 1; }

FILE="$WORK/bench.pak"
head -c "$((SIZE_MIB * 1024 * 1024))" /dev/urandom >"$FILE"
MD5="$(md5sum "$FILE" | cut -d' ' -f1)"
# Both runs start from a warm page cache.
cat "$FILE" >/dev/null

"$BINARY" --endpoint "$STORE" --bucket orva-bench --key bench/editor.pak --file "$FILE" \
  --access-key "$TEMP_ID" --secret "$TEMP_SECRET" --token "$TEMP_TOKEN" >"$WORK/editor.txt" || {
  cat "$WORK/editor.txt" >&2; exit 1; }
value() { sed -n "s/^$1=//p" "$WORK/editor.txt"; }

CURL_START="$(date +%s.%N)"
curl -sf --aws-sigv4 "aws:amz:us-east-1:s3" --user "$TEMP_ID:$TEMP_SECRET" \
  -H "x-amz-security-token: $TEMP_TOKEN" -H "x-amz-content-sha256: UNSIGNED-PAYLOAD" \
  -T "$FILE" "$STORE/orva-bench/bench/curl.pak" -D "$WORK/curl.headers" -o /dev/null
CURL_END="$(date +%s.%N)"

for key in editor curl; do
  ETAG="$(signed_s3 -I "$STORE/orva-bench/bench/$key.pak" | tr -d '\r' | sed -n 's/^[Ee][Tt]ag: "\(.*\)"$/\1/p')"
  [ "$ETAG" = "$MD5" ] || { echo "S3UploadBench: bench/$key.pak holds MD5 $ETAG, the file $MD5" >&2; exit 1; }
done

EDITOR_S="$(value seconds)"
calc() { awk "BEGIN { print $1 }"; }
CURL_S="$(calc "$CURL_END - $CURL_START")"
RSS="$(value rss_growth_mib)"
STALL="$(value longest_stall_ms)"
RATIO="$(calc "$CURL_S / $EDITOR_S")"
printf 'file:                 %d MiB (MD5 %s, both objects verified)\n' "$SIZE_MIB" "$MD5"
printf 'editor (S3PutBench):  %.2f s  (%s MiB/s)\n' "$EDITOR_S" "$(value mib_per_s)"
printf 'curl --aws-sigv4:     %.2f s  (%.1f MiB/s)\n' "$CURL_S" "$(calc "$SIZE_MIB / $CURL_S")"
printf 'editor / curl speed:  %.3f  (target >= 0.95)\n' "$RATIO"
printf 'editor peak RSS growth: %s MiB (target < 64)\n' "$RSS"
printf 'longest main-thread stall: %s ms at %s ms of the run (target <= 50)\n' "$STALL" "$(value longest_stall_at_ms)"

FAILED=0
[ "$(calc "($RATIO >= 0.95)")" -eq 1 ] || FAILED=1
[ "$(calc "($RSS < 64)")" -eq 1 ] || FAILED=1
[ "$(calc "($STALL <= 50)")" -eq 1 ] || FAILED=1
exit "$FAILED"
