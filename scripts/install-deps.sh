#!/usr/bin/env bash
# Installs the Debian packages the build, tests and tools need. Quiet and quick when all is there.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev googletest
  libcpp-httplib-dev libsqlite3-dev libssl-dev sqlite3
  wrk curl openssl
  clang clang-14 lld libclang-rt-14-dev
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}" >&2
$SUDO apt-get update -qq >/dev/null
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
