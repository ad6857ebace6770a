# shellcheck shell=bash
# Shared by demo.sh and run.sh (sourced, not run): a private home for the
# programs and the local repository site on a free port.

# private_home WORK [keep-runtime]
# Points HOME and the XDG folders into WORK, so the programs' settings,
# browser profile and cookies live there and the user's own are neither read
# nor changed. With "keep-runtime" an existing XDG_RUNTIME_DIR stays: it
# holds no settings, only the sockets of the display and the sound server,
# which a program with windows needs.
private_home() {
  local work=$1 keep=${2:-}
  # The display's key is found through HOME unless named; name it first.
  if [ -z "${XAUTHORITY:-}" ] && [ -f "$HOME/.Xauthority" ]; then
    export XAUTHORITY="$HOME/.Xauthority"
  fi
  export HOME="$work/home"
  export XDG_CONFIG_HOME="$work/home/.config"
  export XDG_DATA_HOME="$work/home/.local/share"
  export XDG_CACHE_HOME="$work/home/.cache"
  mkdir -p "$HOME"
  if [ "$keep" != keep-runtime ] || [ ! -d "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR="$work/runtime"
    mkdir -p "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
  fi
}

# start_local_site SITE_BIN WORK
# Starts the site on a free port, logging its requests to WORK/requests.log;
# sets site (its root address, ending in "/") and site_pid. The site prints
# its address on its first line.
start_local_site() {
  local bin=$1 work=$2
  "$bin" --port 0 --log "$work/requests.log" >"$work/site.out" 2>"$work/site.err" &
  site_pid=$!
  site=""
  for _ in $(seq 100); do
    site=$(head -n 1 "$work/site.out" 2>/dev/null | sed -n 's/^listening on //p')
    [ -n "$site" ] && break
    kill -0 "$site_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$site" ]; then
    echo "the local repository site did not start:" >&2
    cat "$work/site.err" >&2
    return 1
  fi
}
