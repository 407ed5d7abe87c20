#!/usr/bin/env bash
# Sourced by the scripts that need the local S3 and STS store (moto's server, see
# docs/ObjectStorage.md): start_local_store DIR starts it on a free loopback port with
# authentication enforced, makes an administrator with a long-term key, and sets STORE_PID,
# STORE_ENDPOINT, STORE_ADMIN_ID and STORE_ADMIN_SECRET; stop_local_store stops it by its PID
# (SIGTERM, then SIGKILL after 5 s). store_s3 ARGS... is curl signed with the administrator's key
# for S3. The store is moto_server run through scripts/local_s3_store.py, which adds the checks of
# the real store that moto leaves out (Content-MD5, policy conditions, session policies, the read of
# a copy's source); $ORVA_MOTO_SERVER, when set, is run as given instead.
source "$(dirname "${BASH_SOURCE[0]}")/processes.sh"
STORE_PID=""
STORE_ENDPOINT=""
STORE_ADMIN_ID=""
STORE_ADMIN_SECRET=""
STORE_REGION="us-east-1"

start_local_store() {
	local dir="$1" moto="${ORVA_MOTO_SERVER:-moto_server}"
	if ! command -v "$moto" >/dev/null; then
		echo "The local store needs $moto (moto[server]; scripts/install-deps.sh installs it)" >&2
		return 1
	fi
	local command=("$moto")
	if [ -z "${ORVA_MOTO_SERVER:-}" ]; then
		local script python
		script="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/local_s3_store.py"
		python="$(_moto_python "$(command -v "$moto")")"
		if [ -z "$python" ] || [ ! -r "$script" ]; then
			echo "The local store needs python3 and $script" >&2
			return 1
		fi
		command=("$python" "$script")
	fi
	mkdir -p "$dir"
	# The first three calls (the administrator's user, key and policy) are not authenticated;
	# every later one is, so the store checks signatures, session tokens and policies.
	INITIAL_NO_AUTH_ACTION_COUNT=3 PYTHONUNBUFFERED=1 "${command[@]}" -H 127.0.0.1 -p 0 >"$dir/store.log" 2>&1 &
	STORE_PID=$!
	local port=""
	for _ in $(seq 1 300); do
		port="$(sed -n 's|.*Running on http://127.0.0.1:\([0-9]*\).*|\1|p' "$dir/store.log" | head -n 1)"
		[ -n "$port" ] && break
		if ! kill -0 "$STORE_PID" 2>/dev/null; then
			echo "The local store did not start:" >&2
			cat "$dir/store.log" >&2
			return 1
		fi
		sleep 0.1
	done
	if [ -z "$port" ]; then
		echo "The local store printed no address within 30 s" >&2
		return 1
	fi
	STORE_ENDPOINT="http://127.0.0.1:$port"

	local keys everything
	_store_bootstrap "Action=CreateUser&Version=2010-05-08&UserName=orva-admin" >/dev/null || return 1
	keys="$(_store_bootstrap "Action=CreateAccessKey&Version=2010-05-08&UserName=orva-admin")" || return 1
	STORE_ADMIN_ID="$(printf '%s' "$keys" | _store_xml AccessKeyId)"
	STORE_ADMIN_SECRET="$(printf '%s' "$keys" | _store_xml SecretAccessKey)"
	everything='%7B%22Version%22%3A%222012-10-17%22%2C%22Statement%22%3A%5B%7B%22Effect%22%3A%22Allow%22%2C%22Action%22%3A%22%2A%22%2C%22Resource%22%3A%22%2A%22%7D%5D%7D'
	_store_bootstrap "Action=PutUserPolicy&Version=2010-05-08&UserName=orva-admin&PolicyName=all&PolicyDocument=$everything" \
		>/dev/null || return 1
	if [ -z "$STORE_ADMIN_ID" ] || [ -z "$STORE_ADMIN_SECRET" ]; then
		echo "The local store made no administrator key" >&2
		return 1
	fi
	# From here on a request without a valid signature is refused.
	if curl -sf -o /dev/null "$STORE_ENDPOINT/" -H "x-amz-content-sha256: UNSIGNED-PAYLOAD"; then
		echo "The local store answers unsigned requests: authentication is not enforced" >&2
		return 1
	fi
}

stop_local_store() {
	stop_pid "$STORE_PID" 5
	STORE_PID=""
}

store_s3() {
	curl -sf --aws-sigv4 "aws:amz:$STORE_REGION:s3" --user "$STORE_ADMIN_ID:$STORE_ADMIN_SECRET" \
		-H "x-amz-content-sha256: UNSIGNED-PAYLOAD" "$@"
}

# The Python that runs moto: the interpreter its launcher names when the launcher is a Python
# script, else python3 on the PATH (a pyenv or venv shim runs the right one).
_moto_python() {
	local first interpreter
	first="$(head -n 1 "$1" 2>/dev/null)"
	if [[ "$first" == '#!'*python* ]]; then
		interpreter="${first#\#!}"
		interpreter="${interpreter# }"
		interpreter="${interpreter%% *}"
		if [ -x "$interpreter" ]; then
			echo "$interpreter"
			return
		fi
	fi
	command -v python3
}

# Unauthenticated calls still name their service in a credential scope.
_store_bootstrap() {
	curl -sf "$STORE_ENDPOINT/" --data "$1" -H \
		"Authorization: AWS4-HMAC-SHA256 Credential=AKIABOOTSTRAP/20240101/$STORE_REGION/iam/aws4_request, SignedHeaders=host, Signature=0"
}

_store_xml() { sed -n "s|.*<$1>\([^<]*\)</$1>.*|\1|p" | head -n 1; }
