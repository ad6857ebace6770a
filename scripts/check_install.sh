#!/usr/bin/env bash
# Installs a built package into a clean Debian 12 root, with nothing but the
# dependencies the package declares (apt inside the root), and shows the
# program there on an Xvfb screen: the start-up window, then the box of a
# failed update check with Qt's own Chinese button. Both are kept as PNGs,
# so one can see that the captions are real Chinese glyphs and not boxes.
#
# Usage: scripts/check_install.sh PACKAGE.deb [WORK_DIR [SHOTS_DIR]]
#   WORK_DIR   holds the root and a cache of the packages it downloads
#              (default build-deb/check-install); the root is made afresh
#              every run
#   SHOTS_DIR  where the pictures go (default docs/screenshots)
# DEBIAN_MIRROR names another mirror. Needs root: debootstrap and chroot.
set -euo pipefail

root_dir=$(cd "$(dirname "$0")/.." && pwd)
deb=$(realpath "$1")
work=$(realpath -m "${2:-$root_dir/build-deb/check-install}")
shots=$(realpath -m "${3:-$root_dir/docs/screenshots}")
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
suite=bookworm
chroot_dir=$work/root
base=$work/$suite-minbase.tar.gz

if [ "$(id -u)" -ne 0 ]; then
  echo "check_install: making and entering a root needs root" >&2
  exit 1
fi
mkdir -p "$work" "$shots"

mounted=()
xvfb_pid=""
app_pid=""
cleanup() {
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -l "${mounted[i]}" 2>/dev/null || true
  done
}
trap cleanup EXIT

# The base packages are downloaded once and kept; the root is new each run.
if [ ! -s "$base" ]; then
  echo "Downloading the base packages of Debian 12 ($suite, minbase) from $mirror"
  debootstrap --variant=minbase --make-tarball="$base" "$suite" "$work/tarball-root" "$mirror"
  rm -rf "$work/tarball-root"
fi
rm -rf "$chroot_dir"
echo "Making a clean Debian 12 root in $chroot_dir"
debootstrap --variant=minbase --unpack-tarball="$base" "$suite" "$chroot_dir" "$mirror" >"$work/debootstrap.log"

bind() { mkdir -p "$chroot_dir$1"; mount --bind "$1" "$chroot_dir$1"; mounted+=("$chroot_dir$1"); }
mount -t proc proc "$chroot_dir/proc" && mounted+=("$chroot_dir/proc")
mount -t sysfs sys "$chroot_dir/sys" && mounted+=("$chroot_dir/sys")
bind /dev
bind /dev/pts
bind /dev/shm
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"
# Downloaded packages are kept for the next run, like the base.
mkdir -p "$work/archives/partial"
mount --bind "$work/archives" "$chroot_dir/var/cache/apt/archives" && mounted+=("$chroot_dir/var/cache/apt/archives")
in_root() { chroot "$chroot_dir" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 "$@"; }

echo "Installing $(basename "$deb") with the dependencies it declares, and nothing recommended"
cp "$deb" "$chroot_dir/tmp/"
in_root apt-get update -q
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  "/tmp/$(basename "$deb")"

# What the package must have brought: a font with Chinese glyphs and Qt's
# Chinese translation, in the place Qt looks for it.
# shellcheck disable=SC2016 # dpkg-query's own fields
in_root dpkg-query -W -f='${Package} ${Status}\n' fonts-noto-cjk fonts-wqy-microhei 2>/dev/null |
  grep -q 'install ok installed' || { echo "check_install: no Chinese font was installed" >&2; exit 1; }
[ -f "$chroot_dir/usr/share/qt6/translations/qtbase_zh_CN.qm" ] ||
  { echo "check_install: qtbase_zh_CN.qm is missing" >&2; exit 1; }
[ -x "$chroot_dir/usr/libexec/lumenarc/lumenarc-get-harvest" ] ||
  { echo "check_install: the harvest companion is not in /usr/libexec/lumenarc" >&2; exit 1; }
in_root lumenarc --version
in_root lumenarc-get --help >/dev/null

# The screen is the host's Xvfb; the root sees its socket.
display_number=99
while [ -e "/tmp/.X11-unix/X$display_number" ]; do display_number=$((display_number + 1)); done
Xvfb ":$display_number" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X$display_number" ] && break; sleep 0.1; done
bind /tmp/.X11-unix
export DISPLAY=":$display_number"

title="澜图Lumenarc西岭大学文献检索下载"
# window_ids TITLE: the ids of the top-level windows of that exact title.
window_ids() {
  xwininfo -root -children 2>/dev/null | grep -F "\"$1\"" | awk '{print $1}'
}
# shoot ID FILE: a picture of one window.
shoot() { xwd -silent -id "$1" | xwdtopnm 2>/dev/null | pnmtopng >"$2"; }
# run_program [VAR=VALUE...]: the installed program as a user would start it.
run_program() {
  chroot "$chroot_dir" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 \
    DISPLAY="$DISPLAY" XDG_RUNTIME_DIR=/tmp/runtime "$@" lumenarc >>"$work/lumenarc.log" 2>&1 &
  app_pid=$!
}
# wait_for COUNT: waits until COUNT windows carry the title; true when they do.
wait_for() {
  for _ in $(seq 600); do
    [ "$(window_ids "$title" | wc -l)" -ge "$1" ] && return 0
    kill -0 "$app_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
stop_program() { kill "$app_pid" 2>/dev/null || true; wait "$app_pid" 2>/dev/null || true; app_pid=""; }
mkdir -p "$chroot_dir/tmp/runtime" && chmod 700 "$chroot_dir/tmp/runtime"

# Whatever the program writes must land in the user's own folders.
touch "$work/before-run"

echo "Starting the installed lumenarc on $DISPLAY"
run_program LUMENARC_PRODUCT_SITE=
wait_for 1 || { echo "check_install: the start-up window did not open" >&2; cat "$work/lumenarc.log" >&2; exit 1; }
# The button is enabled and the loading notice gone a moment after the
# window shows; the picture is of the settled window.
sleep 3
shoot "$(window_ids "$title" | head -n 1)" "$shots/clean-install-startup.png"
stop_program

# An update check against a port nobody listens on fails at once, and the
# program says so in a box with Qt's "确定".
run_program LUMENARC_PRODUCT_SITE=http://127.0.0.1:9/
wait_for 2 || { echo "check_install: the failed update check showed no box" >&2; cat "$work/lumenarc.log" >&2; exit 1; }
sleep 1
box=""
for id in $(window_ids "$title"); do
  # The box is the smaller of the two windows.
  width=$(xwininfo -id "$id" | awk '/Width:/ {print $2}')
  if [ -z "$box" ] || [ "$width" -lt "$box_width" ]; then box=$id; box_width=$width; fi
done
shoot "$box" "$shots/clean-install-message-box.png"
stop_program

written=$(find "$chroot_dir/usr" "$chroot_dir/etc" "$chroot_dir/var/lib" -newer "$work/before-run" \
  -not -type d 2>/dev/null | sed "s|^$chroot_dir||")
if [ -n "$written" ]; then
  echo "check_install: the program wrote outside the user's folders:" >&2
  echo "$written" >&2
  exit 1
fi

echo "Installed into a clean Debian 12 root with only its declared dependencies;"
echo "pictures: $shots/clean-install-startup.png, $shots/clean-install-message-box.png"
