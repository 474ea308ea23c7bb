#!/usr/bin/env bash
# Load on the nginx module: nginx (one worker) pinned to one core, wrk pinned to
# the other, on 127.0.0.1. Two real pages, a ~100 KB one and a ~1.25 MB one
# joined from the corpus, each served three ways:
#   plain    nginx alone
#   sub      sub_filter making one replacement per paragraph end
#   vantoro  vantoro on (both passes)
# Then the worker's resident memory before and after 100,000 protected requests,
# and the engine alone on the same pages (nginx_engine_time.c), to tell how much
# of a protected request's time is spent outside the engine.
#
#   bench/nginx_load.sh [SECONDS] [CONNECTIONS]   (default 60 and 50)
#
# Needs nginx, nginx-dev, wrk and the corpus (VANTORO_CORPUS, default
# /work/shared/corpus, else shared/corpus beside the project). A benchmark, not a
# test: it reports figures and fails only when a run had errors.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
seconds=${1:-60}
connections=${2:-50}
# shellcheck source=bench/nginx_bench_setup.sh
source "$here/nginx_bench_setup.sh"
bench_setup cc
lib=${VANTORO_LIBRARY_DIR:-$out/module/lib}

# The pages: copies in the temporary folder only.
cp "$corpus/lwn-1.html" "$work/html/small.html"
bench_large_page

cat > "$work/nginx.conf" <<EOF
load_module $module;
$user
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 1024; }
http {
    include /etc/nginx/mime.types;
    vantoro_keep_memory ${VANTORO_KEEP_MEMORY:-32m};
    access_log off;
    sendfile on;
    keepalive_requests 1000000;
    client_body_temp_path $work/tmp;
    proxy_temp_path $work/tmp;
    fastcgi_temp_path $work/tmp;
    uwsgi_temp_path $work/tmp;
    scgi_temp_path $work/tmp;
    server {
        listen 127.0.0.1:$port backlog=1024;
        location = /status { stub_status; }
        location /plain/ { alias $work/html/; }
        location /sub/ {
            alias $work/html/;
            sub_filter '</p>' '<span style="display:none">Example Site</span></p>';
            sub_filter_once off;
        }
        location /vantoro/ {
            alias $work/html/;
            vantoro on;
            vantoro_copyright "Example Site:All rights reserved";
        }
    }
}
EOF
taskset -c 0 nginx -p "$work" -c "$work/nginx.conf" &
nginx_pid=$!
for _ in $(seq 100); do
  [[ -s $work/nginx.pid ]] && curl -sf -o /dev/null "http://127.0.0.1:$port/plain/small.html" && break
  sleep 0.1
done
worker=$(pgrep -P "$nginx_pid" | head -1)
[[ -n $worker ]] || { echo "$0: nginx did not start" >&2; cat "$work/error.log" >&2; exit 1; }
rss() { awk '/^VmRSS/ { print $2 " kB" }' "/proc/$worker/status"; }
curl -s -o /dev/null "http://127.0.0.1:$port/vantoro/small.html"
started_rss=$(rss)

echo "nginx $(nginx -v 2>&1 | sed 's/.*\///'), one worker on core 0; wrk on core 1;" \
     "$seconds s a run, $connections connections"
echo "pages: small.html $(stat -c %s "$work/html/small.html") bytes (lwn-1.html)," \
     "large.html $(stat -c %s "$work/html/large.html") bytes (corpus pages joined)"
echo
# The worker's own processor time per request: unlike requests per second it
# holds when other programs share the machine.
ticks() { awk '{ print $14 + $15 }' "/proc/$worker/stat"; }
# And its page faults per request: fresh memory the kernel had to map for it,
# which a worker that reused its buffers would not ask for.
faults() { awk '{ print $10 + $12 }' "/proc/$worker/stat"; }
handled() { curl -s "http://127.0.0.1:$port/status" | awk 'NR == 3 { print $3 }'; }
hz=$(getconf CLK_TCK)
printf '%-8s %-6s %10s %9s %9s %9s %9s %8s %11s %11s\n' way page "req/s" p50 p75 p90 p99 errors "cpu ms/req" "faults/req"
failed=0
for page in small large; do
  for way in plain sub vantoro; do
    url="http://127.0.0.1:$port/$way/$page.html"
    # the filters' output must differ from the page, or the run measures nothing
    if [[ $way != plain ]] && cmp -s <(curl -s "$url") "$work/html/$page.html"; then
      echo "$0: $way did not change $page.html" >&2; exit 1
    fi
    t0=$(ticks) f0=$(faults) n0=$(handled)
    result=$(taskset -c 1 wrk -t1 -c"$connections" -d"${seconds}s" --latency --timeout 30s "$url")
    t1=$(ticks) f1=$(faults) n1=$(handled)
    cpu=$(awk -v t="$((t1 - t0))" -v n="$((n1 - n0 - 1))" -v hz="$hz" 'BEGIN { printf "%.3f", t * 1000 / hz / n }')
    per_request=$(awk -v f="$((f1 - f0))" -v n="$((n1 - n0 - 1))" 'BEGIN { printf "%.1f", f / n }')
    rps=$(awk '/^Requests\/sec/ { print $2 }' <<<"$result")
    pct() { awk -v p="$1" '$1 == p { print $2 }' <<<"$result"; }
    errors=$(awk '/Socket errors|Non-2xx/ { for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+,?$/) s += $i } END { print s + 0 }' <<<"$result")
    ((errors == 0)) || failed=1
    printf '%-8s %-6s %10s %9s %9s %9s %9s %8s %11s %11s\n' "$way" "$page" "$rps" \
      "$(pct 50%)" "$(pct 75%)" "$(pct 90%)" "$(pct 99%)" "$errors" "$cpu" "$per_request"
  done
done

# Memory: 100,000 protected requests of the small page, counted by nginx's
# stub_status (wrk itself stops only at the end of its duration).
requests() {  # count
  local start wrk_pid
  start=$(handled)
  taskset -c 1 wrk -t1 -c"$connections" -d3600s "http://127.0.0.1:$port/vantoro/small.html" \
    >/dev/null &
  wrk_pid=$!
  while (( $(handled) - start < $1 )); do sleep 0.2; done
  kill "$wrk_pid"; wait "$wrk_pid" 2>/dev/null || true
  echo $(( $(handled) - start - 1 ))
}
echo
echo "worker RSS after its first protected request: $started_rss"
echo "worker RSS after the runs above, before 100,000 protected requests: $(rss)"
echo "worker RSS after $(requests 100000) requests: $(rss)"
echo "worker RSS after another $(requests 100000): $(rss)"

# The engine alone, on core 0 as nginx was.
cc -O2 -I "$root/include" -I "$lib/include" "$here/nginx_engine_time.c" "$lib/libvantoro.a" \
  -lsodium -lstdc++ -lm -o "$work/engine_time"
kill -QUIT "$nginx_pid"; wait "$nginx_pid" 2>/dev/null || true; nginx_pid=
echo
for page in small large; do
  echo "engine alone, $page.html: $(taskset -c 0 "$work/engine_time" "$work/html/$page.html" 10)"
done
if grep -q "\[alert\]\|\[error\]\|\[crit\]" "$work/error.log"; then
  echo "nginx error log:"; cat "$work/error.log"; failed=1
fi
exit "$failed"
