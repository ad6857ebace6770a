#!/usr/bin/env bash
# Speed and memory of `lumenarc-get download` against curl, both fetching the
# same files from nginx on loopback, measured with GNU time:
#   - CPU time (user + sys) for a 1 GiB file, method one: goal <= 1.2 x curl
#     (stretch 1.05 x), as the ratio of the medians of runs that alternate
#     curl and method one, so that a busy moment of a shared machine falls
#     on both sides alike
#   - peak resident memory for that download: goal <= 64 MiB, and within 10 %
#     of the figure for a 64 MiB file (memory does not grow with the file)
#   - method two, six 512 MiB files at once: peak resident memory <= 96 MiB
# Files are sparse on the server side; each download is deleted as soon as
# it has been measured, so the disk holds at most one run's output.
set -euo pipefail

build=${1:-build}
cli="$(cd "$build" && pwd)/bin/lumenarc-get"
repeat=${BENCH_REPEAT:-5}
mib=$((1024 * 1024))

for tool in nginx curl /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (make deps)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/lumen-bench.XXXXXX")
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
truncate -s 1G "$site/big1g.pdf"
truncate -s 64M "$site/small64m.pdf"
for i in 1 2 3 4 5 6; do truncate -s 512M "$site/six$i.pdf"; done

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
  server { listen 127.0.0.1:$port; root $site; location / { } }
}
CONF
    nginx -p "$work/nginx" -c "$conf" -e "$work/nginx/error.log" &
    nginx_pid=$!
    for _ in $(seq 1 50); do
      if curl -s -o /dev/null --noproxy '*' "http://127.0.0.1:$port/small64m.pdf" -r 0-0; then
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

# measure OUT_DIR EXPECTED_BYTES_EACH COMMAND... -> sets cpu (s) and rss (KiB)
measure() {
  local out=$1 expected=$2
  shift 2
  rm -rf "$out"
  mkdir -p "$out"
  if ! env -u http_proxy -u https_proxy -u HTTP_PROXY -u HTTPS_PROXY -u all_proxy -u ALL_PROXY \
      XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
      /usr/bin/time -f "%U %S %M" -o "$work/time.out" "$@" >"$work/cmd.out" 2>"$work/cmd.err"; then
    echo "bench: failed: $*" >&2
    tail -5 "$work/cmd.err" >&2
    return 1
  fi
  local f n=0
  for f in "$out"/*; do
    [ -f "$f" ] || continue
    n=$((n + 1))
    if [ "$(stat -c %s "$f")" -ne "$expected" ]; then
      echo "bench: $f has $(stat -c %s "$f") bytes, expected $expected" >&2
      return 1
    fi
  done
  if [ "$n" -eq 0 ]; then
    echo "bench: nothing was stored by: $*" >&2
    return 1
  fi
  read -r user sys rss < <(tail -1 "$work/time.out")
  cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
  rm -rf "$out"
}

# peak_of N OUT EXPECTED COMMAND... -> the largest peak memory over N runs
peak_of() {
  local n=$1
  shift
  local worst_rss=0
  for _ in $(seq 1 "$n"); do
    measure "$@"
    [ "$rss" -gt "$worst_rss" ] && worst_rss=$rss
  done
  rss=$worst_rss
}

# median VALUES... -> the middle value (the lower middle for an even count)
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

mib_of() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
verdict() { awk -v v="$1" -v g="$2" 'BEGIN { print (v <= g) ? "PASS" : "MISS" }'; }

echo "== downloads from nginx on 127.0.0.1 (median CPU and largest peak memory of $repeat runs each)"

has_download=1
"$cli" --help 2>/dev/null | grep -qE '^ +download' || has_download=0
get=("$cli" download --folder "$work/out" --interval 0 --max-size 100000 --same-name overwrite)

# curl and method one take turns, so that a busy moment of the machine does
# not fall on one side only; the medians then compare like with like.
curl_runs=() m1_runs=() curl_rss=0 m1_rss=0
for _ in $(seq 1 "$repeat"); do
  measure "$work/out" $((1024 * mib)) curl -s --noproxy '*' -o "$work/out/big1g.pdf" "$base/big1g.pdf"
  curl_runs+=("$cpu")
  [ "$rss" -gt "$curl_rss" ] && curl_rss=$rss
  if [ "$has_download" = 1 ]; then
    measure "$work/out" $((1024 * mib)) "${get[@]}" --method 1 "$base/big1g.pdf"
    m1_runs+=("$cpu")
    [ "$rss" -gt "$m1_rss" ] && m1_rss=$rss
  fi
done
curl_cpu=$(median "${curl_runs[@]}")
printf '%-44s %8s s   peak %7s MiB   runs: %s\n' "curl, 1 GiB: CPU (user+sys), median" "$curl_cpu" \
  "$(mib_of "$curl_rss")" "${curl_runs[*]}"

if [ "$has_download" = 0 ]; then
  echo "lumenarc-get has no download command in this build: only the curl figures above."
  exit 0
fi

m1_cpu=$(median "${m1_runs[@]}")
peak_of "$repeat" "$work/out" $((64 * mib)) "${get[@]}" --method 1 "$base/small64m.pdf"
m1_small_rss=$rss
six=()
for i in 1 2 3 4 5 6; do six+=("$base/six$i.pdf"); done
peak_of 1 "$work/out" $((512 * mib)) "${get[@]}" --method 2 --threads 6 "${six[@]}"
m2_rss=$rss

ratio=$(awk -v a="$m1_cpu" -v b="$curl_cpu" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }')
growth=$(awk -v a="$m1_rss" -v b="$m1_small_rss" 'BEGIN { printf "%.3f", a / b }')
growth_dev=$(awk -v a="$m1_rss" -v b="$m1_small_rss" 'BEGIN { d = a / b - 1; if (d < 0) d = -d; printf "%.3f", d }')

printf '%-44s %8s s   ratio of medians to curl %s (goal <= 1.20) %s, (stretch <= 1.05) %s   runs: %s\n' \
  "method one, 1 GiB: CPU (user+sys), median" "$m1_cpu" "$ratio" "$(verdict "$ratio" 1.2)" \
  "$(verdict "$ratio" 1.05)" "${m1_runs[*]}"
printf '%-44s %8s MiB ratio to goal %s (goal <= 64 MiB) %s\n' \
  "method one, 1 GiB: peak memory" "$(mib_of "$m1_rss")" \
  "$(awk -v a="$m1_rss" 'BEGIN { printf "%.2f", a / 65536 }')" "$(verdict "$m1_rss" 65536)"
printf '%-44s %8s MiB ratio 1 GiB / 64 MiB %s (goal within 10 %%) %s\n' \
  "method one, 64 MiB: peak memory" "$(mib_of "$m1_small_rss")" "$growth" \
  "$(verdict "$growth_dev" 0.10)"
printf '%-44s %8s MiB ratio to goal %s (goal <= 96 MiB) %s\n' \
  "method two, 6 x 512 MiB at once: peak memory" "$(mib_of "$m2_rss")" \
  "$(awk -v a="$m2_rss" 'BEGIN { printf "%.2f", a / 98304 }')" "$(verdict "$m2_rss" 98304)"
