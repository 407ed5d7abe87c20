#!/usr/bin/env bash
# Sourced by the scripts that need a local OrvaDevService: start_dev_service BINARY DATA_DIR
# LOG_PREFIX CREATOR... [-- FLAG...] starts it on a free loopback port, with the flags after "--"
# added (an argument before "--" that starts with "--", such as --max-body-bytes=N, is passed as it
# is too), and sets SERVICE_PID and BASE_URL; stop_dev_service stops it (SIGTERM, then SIGKILL
# after 10 s).
source "$(dirname "${BASH_SOURCE[0]}")/processes.sh"
SERVICE_PID=""
BASE_URL=""

start_dev_service() {
	local bin="$1" data="$2" log_prefix="$3"
	shift 3
	local creators=()
	while [ $# -gt 0 ] && [ "$1" != "--" ]; do
		case "$1" in
		--*) creators+=("$1") ;;
		*) creators+=(--creator "$1") ;;
		esac
		shift
	done
	[ $# -gt 0 ] && shift
	mkdir -p "$data"
	"$bin" --data "$data" --host 127.0.0.1 --port 0 "${creators[@]}" "$@" >"$log_prefix.out" 2>"$log_prefix.log" &
	SERVICE_PID=$!
	for _ in $(seq 1 200); do
		BASE_URL="$(sed -n 's|^OrvaDevService listening on \(http://[^ ]*/api/v1/\)$|\1|p' "$log_prefix.out")"
		[ -n "$BASE_URL" ] && return 0
		if ! kill -0 "$SERVICE_PID" 2>/dev/null; then
			echo "OrvaDevService did not start:" >&2
			cat "$log_prefix.log" >&2
			return 1
		fi
		sleep 0.05
	done
	echo "OrvaDevService printed no address within 10 s" >&2
	return 1
}

stop_dev_service() {
	stop_pid "$SERVICE_PID" 10
	SERVICE_PID=""
}

# A user settings folder whose OrvaSDK.ini points the plugin at the service.
point_settings_at_service() {
	local config_home="$1"
	mkdir -p "$config_home/BrackenfoldStudios/ORVA"
	printf '[Development]\nServiceBaseUrl=%s\n' "$BASE_URL" >"$config_home/BrackenfoldStudios/ORVA/OrvaSDK.ini"
	chmod 600 "$config_home/BrackenfoldStudios/ORVA/OrvaSDK.ini"
}

# point_settings_at_store CONFIG_HOME ENDPOINT: the paks go to that S3 endpoint, path-style.
point_settings_at_store() {
	printf '[AwsS3]\nEndpoint=%s\nbUsePathStyle=True\n' "$2" >>"$1/BrackenfoldStudios/ORVA/OrvaSDK.ini"
}

# install_client CONFIG_HOME INSTALL_DIR CLIENT_BINARY: the player client, installed under INSTALL_DIR
# where the installer's record (which stands in for the registry) says, as the plugin finds it.
install_client() {
	local config_home="$1" install="$2"
	mkdir -p "$install/ORVAClient/Binaries/Linux" "$config_home/Registry"
	cp "$3" "$install/ORVAClient/Binaries/Linux/ORVAClient"
	printf '[%s]\nInstallLocation=%s\n' \
		'Software\Microsoft\Windows\CurrentVersion\Uninstall\{6A1D3C90-2F7B-4E55-8B14-0C9E7A2D4F61}_is1' "$install" \
		>"$config_home/Registry/HKEY_CURRENT_USER.ini"
}
