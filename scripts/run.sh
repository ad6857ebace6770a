#!/usr/bin/env bash
# The desktop program at its start-up window, against the local repository
# site started on a free port as both the repository and the product site
# (the site publishes NAME/newver.txt, so the update check runs for real).
# Settings and browser profile live in a temporary folder, removed with the
# site once the program ends; the download folder the program proposes is
# downloads/ in the project folder, as the run without a window uses, so the
# files stay. On a machine without a usable display, or with
# HEADLESS=1, it runs the harvest and download without a window instead
# (demo.sh).
#
# Usage: [HEADLESS=1] scripts/run.sh [BUILD_DIR]   (make run calls it after building)
set -euo pipefail

build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)

# Whether a window can be opened: a Wayland socket, or an X display that
# answers (asked with xdpyinfo when installed, else its local socket looked
# for; a display on another host, as over ssh, is taken on trust).
display_usable() {
  if [ -n "${WAYLAND_DISPLAY:-}" ]; then
    local socket=$WAYLAND_DISPLAY
    case $socket in /*) ;; *) socket="${XDG_RUNTIME_DIR:-/nonexistent}/$socket" ;; esac
    [ -S "$socket" ] && return 0
  fi
  [ -n "${DISPLAY:-}" ] || return 1
  if command -v xdpyinfo >/dev/null 2>&1; then
    xdpyinfo >/dev/null 2>&1
    return
  fi
  case $DISPLAY in
    :*)
      local number=${DISPLAY#:}
      number=${number%%.*}
      [ -S "/tmp/.X11-unix/X$number" ]
      ;;
    *) return 0 ;;
  esac
}

case ${HEADLESS:-} in
  "" | 0 | no | false) ;;
  *)
    echo "HEADLESS is set: harvesting and downloading without a window."
    exec "$root/scripts/demo.sh" "$build"
    ;;
esac
if ! display_usable; then
  echo "No usable display (neither DISPLAY nor WAYLAND_DISPLAY opens one): harvesting and downloading without a window instead."
  exec "$root/scripts/demo.sh" "$build"
fi

app_bin="$root/$build/bin/lumenarc"
site_bin="$root/$build/bin/lumenarc-testsite"
for bin in "$app_bin" "$site_bin"; do
  [ -x "$bin" ] || { echo "missing $bin: build first (make build)" >&2; exit 1; }
done

# shellcheck source-path=SCRIPTDIR source=local_site.sh
. "$root/scripts/local_site.sh"

work=$(mktemp -d)
site_pid=""
cleanup() {
  [ -n "$site_pid" ] && kill "$site_pid" 2>/dev/null && wait "$site_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
private_home "$work" keep-runtime
start_local_site "$site_bin" "$work"
export LUMENARC_REPOSITORY="$site"
export LUMENARC_PRODUCT_SITE="$site"

# The save folder the program starts with, in its settings file. Qt's INI
# format writes the Chinese section and key as %U escapes; the value is
# quoted, so a comma in the path does not make it a list.
downloads="$root/downloads/"
mkdir -p "$downloads"
quoted=${downloads//\\/\\\\}
quoted=${quoted//\"/\\\"}
settings="$XDG_CONFIG_HOME/澜图Lumenarc西岭大学文献检索下载.ini"
mkdir -p "$XDG_CONFIG_HOME"
{
  echo '[%U8BBE%U7F6E]'
  # 下载文件保存路径: the save folder.
  echo "%U4E0B%U8F7D%U6587%U4EF6%U4FDD%U5B58%U8DEF%U5F84=\"$quoted\""
} >"$settings"

echo "Local repository site: $site (the repository and the product site)"
echo "Downloads go into $downloads (the folder the program proposes), and stay there."
echo "Settings and browser profile are in $work/home, removed when the program ends."
echo "Starting lumenarc; closing its start-up window ends it."
# The program's exit status is the run's; the site stops with the script.
status=0
"$app_bin" || status=$?
echo "lumenarc ended (exit status $status); $(wc -l <"$work/requests.log") requests reached the site."
exit "$status"
