#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the demo and the
# benchmarks need, but only those that are missing, so a second run costs
# nothing. Needs root (or sudo) on a machine that lacks any of them.
#
# Usage: scripts/deps.sh [deb|install]   ("deb" adds what building and
# checking the Debian package needs; make deb asks for it. "install" adds on
# top of that what make check-install needs to build a clean Debian root and
# photograph the program in it; nothing else asks for these)
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-webengine-dev qt6-multimedia-dev libgl-dev
  zlib1g-dev libbrotli-dev libqt6sql6-sqlite
  qt6-translations-l10n # the standard buttons and dialogs in Chinese
  curl nginx-light tinyproxy time openssl ca-certificates clang-format
  aria2 # the yardstick of the throughput benchmark
  fonts-noto-cjk xvfb xauth
)
if [ "${1:-}" = deb ] || [ "${1:-}" = install ]; then
  # dpkg-shlibdeps (dpkg-dev) works out the package's dependencies from the
  # libraries the programs link; lintian checks the package; appstreamcli
  # and desktop-file-validate check the metainfo and the desktop entry.
  packages+=(dpkg-dev file lintian appstream desktop-file-utils)
fi
if [ "${1:-}" = install ]; then
  # debootstrap makes the clean root; xwininfo finds the program's windows
  # on the Xvfb screen, xwd and netpbm turn them into PNGs.
  packages+=(debootstrap x11-utils x11-apps netpbm)
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
