#!/usr/bin/env bash
# Wall time of `lumenarc-get download` on a long list of small files, against
# aria2c fetching the same list from the same nginx on loopback:
#   - 2000 files of 50 KiB, method two with 6 slots: goal <= 1.0 x aria2c -j6
#   - the same list, method one (one file at a time): goal <= 2.0 x aria2c -j6
#   - one 50 KiB file, the whole command: goal <= 0.2 s
# Ratios are of the medians of runs that alternate the three, so that a busy
# moment of a shared machine falls on every side alike. The load average is
# printed with the figures: they mean little on a loaded machine.
#
# Usage: bench/throughput_bench.sh [BUILD_DIR]   (BENCH_REPEAT runs each, 3 by
# default; BENCH_FILES files, 2000 by default)
set -euo pipefail

build=${1:-build}
cli="$(cd "$build" && pwd)/bin/lumenarc-get"
repeat=${BENCH_REPEAT:-3}
files=${BENCH_FILES:-2000}
size=$((50 * 1024))

for tool in nginx curl aria2c /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (make deps)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/lumen-throughput.XXXXXX")
nginx_pid=""
cleanup() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

site="$work/site"
mkdir -p "$site" "$work/nginx" "$work/config" "$work/data"
head -c "$size" /dev/urandom >"$site/one.bin"
for i in $(seq 1 "$files"); do
  # Each file starts like a PDF, so that the type detection has its usual work.
  { printf '%%PDF-1.4\n%%%d\n' "$i"; head -c "$size" /dev/zero; } | head -c "$size" \
    >"$site/p$i.pdf"
done

# nginx on a free port: try ports until one binds.
start_nginx() {
  local port conf
  for _ in $(seq 1 20); do
    port=$((20000 + RANDOM % 40000))
    conf="$work/nginx/nginx.conf"
    cat >"$conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  types { application/pdf pdf; }
  default_type application/octet-stream;
  sendfile on;
  keepalive_requests 100000;
  server { listen 127.0.0.1:$port; root $site; location / { } }
}
CONF
    nginx -p "$work/nginx" -c "$conf" -e "$work/nginx/error.log" &
    nginx_pid=$!
    for _ in $(seq 1 50); do
      if curl -s -o /dev/null --noproxy '*' "http://127.0.0.1:$port/one.bin"; then
        base="http://127.0.0.1:$port"
        return 0
      fi
      kill -0 "$nginx_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
  done
  echo "bench: nginx did not start" >&2
  cat "$work/nginx/error.log" >&2 || true
  return 1
}
start_nginx

list="$work/list.txt"
for i in $(seq 1 "$files"); do echo "$base/p$i.pdf"; done >"$list"

# measure OUT_DIR EXPECTED_FILES COMMAND... -> sets wall (s); every file in
# OUT_DIR must have the served size.
measure() {
  local out=$1 expected=$2
  shift 2
  rm -rf "$out"
  mkdir -p "$out"
  if ! env -u http_proxy -u https_proxy -u HTTP_PROXY -u HTTPS_PROXY -u all_proxy -u ALL_PROXY \
      XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
      /usr/bin/time -f "%e" -o "$work/time.out" "$@" >"$work/cmd.out" 2>"$work/cmd.err"; then
    echo "bench: failed: $*" >&2
    tail -5 "$work/cmd.err" >&2
    return 1
  fi
  local n wrong
  n=$(find "$out" -maxdepth 1 -type f | wc -l)
  wrong=$(find "$out" -maxdepth 1 -type f ! -size "${size}c" | wc -l)
  if [ "$n" -ne "$expected" ] || [ "$wrong" -ne 0 ]; then
    echo "bench: $* stored $n files ($wrong of another size), expected $expected" >&2
    return 1
  fi
  wall=$(tail -1 "$work/time.out")
  rm -rf "$out"
}

# median VALUES... -> the middle value (the lower middle for an even count)
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }
verdict() { awk -v v="$1" -v g="$2" 'BEGIN { print (v <= g) ? "PASS" : "MISS" }'; }

get=("$cli" download --folder "$work/out" --interval 0 --same-name overwrite)
m2=("${get[@]}" --method 2 --threads 6 --list "$list")
m1=("${get[@]}" --method 1 --list "$list")
one=("${get[@]}" --method 1 "$base/p1.pdf")
aria=(aria2c --no-conf -q -j6 --allow-overwrite=true --file-allocation=none -d "$work/out" -i "$list")

echo "== $files files of $((size / 1024)) KiB from nginx on 127.0.0.1, wall time (median of $repeat alternating runs)"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "method two: ${m2[*]}" | sed "s|$work|\$WORK|g"
echo "method one: ${m1[*]}" | sed "s|$work|\$WORK|g"
echo "aria2c:     ${aria[*]}" | sed "s|$work|\$WORK|g"
echo "one file:   ${one[*]}" | sed "s|$work|\$WORK|g"

aria_runs=() m2_runs=() m1_runs=() one_runs=()
for _ in $(seq 1 "$repeat"); do
  measure "$work/out" "$files" "${aria[@]}"
  aria_runs+=("$wall")
  measure "$work/out" "$files" "${m2[@]}"
  m2_runs+=("$wall")
  measure "$work/out" "$files" "${m1[@]}"
  m1_runs+=("$wall")
  measure "$work/out" 1 "${one[@]}"
  one_runs+=("$wall")
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"

aria_t=$(median "${aria_runs[@]}")
m2_t=$(median "${m2_runs[@]}")
m1_t=$(median "${m1_runs[@]}")
one_t=$(median "${one_runs[@]}")
r2=$(ratio "$m2_t" "$aria_t")
r1=$(ratio "$m1_t" "$aria_t")
printf '%-32s %7s s                                        runs: %s\n' "aria2c -j6" "$aria_t" \
  "${aria_runs[*]}"
printf '%-32s %7s s   ratio to aria2c %s (goal <= 1.0) %s   runs: %s\n' "method two, 6 slots" \
  "$m2_t" "$r2" "$(verdict "$r2" 1.0)" "${m2_runs[*]}"
printf '%-32s %7s s   ratio to aria2c %s (goal <= 2.0) %s   runs: %s\n' "method one" "$m1_t" "$r1" \
  "$(verdict "$r1" 2.0)" "${m1_runs[*]}"
printf '%-32s %7s s   (goal <= 0.2 s) %s                         runs: %s\n' \
  "one file, the whole command" "$one_t" "$(verdict "$one_t" 0.2)" "${one_runs[*]}"
