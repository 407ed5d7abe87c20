#!/usr/bin/env bash
# Installs the Debian packages the build, tests and tools need. Quiet and quick when all is there.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-image-formats-plugins qt6-tools-dev libqt6opengl6-dev
  qt6-l10n-tools
  libgtest-dev googletest
  libcpp-httplib-dev libsqlite3-dev libsqlitecpp-dev libssl-dev sqlite3 libexpat1-dev nlohmann-json3-dev libcli11-dev zlib1g-dev
  wrk curl openssl
  clang clang-14 lld libclang-rt-14-dev clang-tidy
)
# moto's server (Python) is the local S3 and STS store of the tests and of local runs. Machines of
# this kind have it preinstalled; elsewhere pip installs it, which needs PyPI to be reachable.
if ! command -v moto_server >/dev/null 2>&1; then
  echo "Installing moto[server] with pip" >&2
  if ! python3 -m pip install --quiet --user 'moto[server]' >&2; then
    if [ "${CI:-}" = "true" ]; then
      echo "error: moto[server] could not be installed, and CI=true needs the local S3 store" >&2
      exit 1
    fi
    echo "warning: moto[server] could not be installed: tests that need the local S3 store are skipped" >&2
  fi
fi
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
