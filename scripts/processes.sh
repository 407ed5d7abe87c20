#!/usr/bin/env bash
# Sourced by the scripts that start local servers. stop_pid PID GRACE_SECONDS stops one process
# by its id: SIGTERM, then SIGKILL when it is still there after the grace time, then reaps it.
stop_pid() {
	local pid="$1" grace="$2"
	if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
		kill -TERM "$pid" 2>/dev/null || true
		for _ in $(seq 1 $((grace * 10))); do
			kill -0 "$pid" 2>/dev/null || break
			sleep 0.1
		done
		kill -KILL "$pid" 2>/dev/null || true
		wait "$pid" 2>/dev/null || true
	fi
}
