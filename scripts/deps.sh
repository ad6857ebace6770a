#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the demo and the
# benchmarks need, but only those that are missing, so a second run costs
# nothing. Needs root (or sudo) on a machine that lacks any of them.
#
# Usage: scripts/deps.sh [deb]   ("deb" adds what building and checking the
# Debian package needs; make deb asks for it, nothing else does)
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-webengine-dev qt6-multimedia-dev libgl-dev
  zlib1g-dev libbrotli-dev libqt6sql6-sqlite
  curl nginx-light tinyproxy time openssl ca-certificates
  fonts-noto-cjk xvfb xauth
)
if [ "${1:-}" = deb ]; then
  # dpkg-shlibdeps (dpkg-dev) works out the package's dependencies from the
  # libraries the programs link; lintian checks the package.
  packages+=(dpkg-dev file lintian)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then sudo="sudo"; else
    echo "These packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
