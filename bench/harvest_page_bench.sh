#!/usr/bin/env bash
# The harvest of one large results page against the engine's bare load of
# it: generated pages of 10 000 and 100 000 entries, served by Debian's nginx
# on 127.0.0.1, each loaded by harvest_page_probe in the same engine, load
# only and load + harvest, alternating. Reports the median wall time and the
# median peak memory summed over the process tree (the probe and the
# engine's processes: resident set sizes sampled from /proc every 100 ms).
#   bench/harvest_page_bench.sh [BUILD_DIR]    RUNS=3 SIZES="10000 100000"
set -euo pipefail
build=${1:-build}
runs=${RUNS:-3}
sizes=${SIZES:-"10000 100000"}
probe="$build/bin/harvest_page_probe"
[ -x "$probe" ] || { echo "no $probe: build the harvest_page_probe target" >&2; exit 1; }
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
if [ "$(id -u)" = 0 ]; then
  export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:-} --no-sandbox"
fi

work=$(mktemp -d)
chmod 755 "$work"
nginx_pid=
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A results page as the repository writes one: an entry per list item with
# its markup, authors and the paging links at the end.
for n in $sizes; do
  awk -v n="$n" 'BEGIN {
    print "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>results</title></head><body>"
    print "<div class=\"summary\">" n " results</div><ol class=\"results\">"
    for (i = 1; i <= n; i++)
      printf "<li class=\"result\"><a href=\"/items/%d\"><div class=\"c-clientmarkup\">Deep sea sediment cores and their record of climate, part %d</div></a><div class=\"meta\">作者: <a class=\"author\" href=\"/search?q=a%d\">Author %d</a></div></li>\n", i, i, i % 97, i % 97
    print "</ol><a href=\"#\" onclick=\"gotoNextResultSet(); return false;\">Next</a></body></html>"
  }' > "$work/results-$n.html"
  chmod 644 "$work/results-$n.html"
done

# nginx on a free port.
for attempt in 1 2 3 4 5 6 7 8 9 10; do
  port=$((20000 + RANDOM % 20000))
  cat > "$work/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 64; }
http {
  access_log off;
  types { text/html html; }
  client_body_temp_path $work/tmp;
  proxy_temp_path $work/tmp;
  fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp;
  scgi_temp_path $work/tmp;
  server { listen 127.0.0.1:$port; root $work; }
}
CONF
  nginx -c "$work/nginx.conf" -p "$work" &
  nginx_pid=$!
  sleep 0.5
  if kill -0 "$nginx_pid" 2>/dev/null; then break; fi
  nginx_pid=
done
[ -n "$nginx_pid" ] || { echo "nginx did not start" >&2; cat "$work/error.log" >&2; exit 1; }

# The resident set of a process and all its descendants, in KiB: one
# listing of the processes per sample, so that sampling every 100 ms takes
# little from the two being compared.
tree_rss() {
  ps -e -o pid=,ppid=,rss= | awk -v root="$1" '
    { parent[$1] = $2; rss[$1] = $3 }
    END {
      for (p in parent) {
        q = p
        while (q != root && (q in parent) && q > 1) q = parent[q]
        if (q == root) sum += rss[p]
      }
      print sum + 0
    }'
}

# One run: prints "wall_ms peak_kib rows".
measure() {
  local mode=$1 url=$2 start end peak=0 now out
  start=$(date +%s%N)
  "$probe" "$mode" "$url" > "$work/out" 2> "$work/err" &
  local pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    now=$(tree_rss "$pid")
    [ "$now" -gt "$peak" ] && peak=$now
    sleep 0.1
  done
  wait "$pid" || { echo "probe $mode failed:" >&2; cat "$work/err" >&2; exit 1; }
  end=$(date +%s%N)
  out=$(cat "$work/out")
  echo "$(( (end - start) / 1000000 )) $peak ${out##*rows=}"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '%-8s %-8s %10s %12s %8s\n' entries mode wall_ms peak_MiB rows
for n in $sizes; do
  url="http://127.0.0.1:$port/results-$n.html"
  : > "$work/load.txt"
  : > "$work/harvest.txt"
  for r in $(seq "$runs"); do
    for mode in load harvest; do
      read -r ms kib rows < <(measure "$mode" "$url")
      echo "$ms $kib $rows" >> "$work/$mode.txt"
      printf '%-8s %-8s %10s %12s %8s   (run %s)\n' "$n" "$mode" "$ms" "$((kib / 1024))" "$rows" "$r"
    done
  done
  lm=$(cut -d' ' -f1 "$work/load.txt" | median)
  lk=$(cut -d' ' -f2 "$work/load.txt" | median)
  hm=$(cut -d' ' -f1 "$work/harvest.txt" | median)
  hk=$(cut -d' ' -f2 "$work/harvest.txt" | median)
  awk -v n="$n" -v lm="$lm" -v lk="$lk" -v hm="$hm" -v hk="$hk" 'BEGIN {
    printf "%s entries, medians: load %d ms %.0f MiB; load + harvest %d ms %.0f MiB; " \
           "ratio time %.2f, memory %.2f\n", n, lm, lk / 1024, hm, hk / 1024, hm / lm, hk / lk }'
done
