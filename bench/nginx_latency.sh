#!/usr/bin/env bash
# What a large protected page does to everybody else's latency: one nginx
# worker (and its thread pool) pinned to core 0, the load generators to core 1,
# on 127.0.0.1. One wrk asks for a small static file (1 KB, not protected)
# over a few connections and reports its latency, while another keeps asking
# for a ~1.25 MB page joined from the corpus, protected (both passes):
#   (a) the small file alone
#   (b) with the large-page load, protected in the worker (no thread pool)
#   (c) with the large-page load, protected in a pool thread
#       (vantoro_thread_pool; "thread_pool bench threads=N")
# Without a pool the worker serves nothing while the engine runs on a large
# page; with one it goes on serving the small file. The pool's threads share
# core 0 with the worker: what changes is that the event loop is not held.
#
#   bench/nginx_latency.sh [SECONDS] [POOL_THREADS]   (default 8 and 2)
#
# SMALL_CONNECTIONS (default 4) and LARGE_CONNECTIONS (default 8) set the two
# loads. Needs nginx, nginx-dev, wrk and the corpus (VANTORO_CORPUS, default
# /work/shared/corpus, else shared/corpus beside the project). A benchmark, not
# a test: it reports figures and fails only when a run had errors.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
seconds=${1:-8}
threads=${2:-2}
small_connections=${SMALL_CONNECTIONS:-4}
large_connections=${LARGE_CONNECTIONS:-8}
# shellcheck source=bench/nginx_bench_setup.sh
source "$here/nginx_bench_setup.sh"
bench_setup curl

# The pages: copies in the temporary folder only.
head -c 1024 "$corpus/lwn-1.html" > "$work/html/small.html"
bench_large_page

cat > "$work/nginx.conf" <<EOF
load_module $module;
$user
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/error.log warn;
thread_pool bench threads=$threads;
events { worker_connections 1024; }
http {
    include /etc/nginx/mime.types;
    access_log off;
    keepalive_requests 1000000;
    client_body_temp_path $work/tmp;
    proxy_temp_path $work/tmp;
    fastcgi_temp_path $work/tmp;
    uwsgi_temp_path $work/tmp;
    scgi_temp_path $work/tmp;
    server {
        listen 127.0.0.1:$port backlog=1024;
        location /plain/ { alias $work/html/; }
        location /worker/ {
            alias $work/html/;
            vantoro on;
            vantoro_copyright "Example Site:All rights reserved";
        }
        location /pool/ {
            alias $work/html/;
            vantoro on;
            vantoro_copyright "Example Site:All rights reserved";
            vantoro_thread_pool bench;
        }
    }
}
EOF
# the worker and the pool's threads inherit core 0
taskset -c 0 nginx -p "$work" -c "$work/nginx.conf" &
nginx_pid=$!
for _ in $(seq 100); do
  [[ -s $work/nginx.pid ]] && curl -sf -o /dev/null "http://127.0.0.1:$port/plain/small.html" && break
  sleep 0.1
done
curl -sf -o /dev/null "http://127.0.0.1:$port/plain/small.html" ||
  { echo "$0: nginx did not start" >&2; cat "$work/error.log" >&2; exit 1; }
for way in worker pool; do
  # the module's output must differ from the page, or the run measures nothing
  if cmp -s <(curl -s "http://127.0.0.1:$port/$way/large.html") "$work/html/large.html"; then
    echo "$0: /$way/ did not protect large.html" >&2; exit 1
  fi
done

echo "nginx $(nginx -v 2>&1 | sed 's/.*\///'), one worker and thread pool on core 0, wrk on core 1" \
     "($(nproc) cores); $seconds s a run"
echo "small.html $(stat -c %s "$work/html/small.html") bytes, not protected, $small_connections connections;" \
     "large.html $(stat -c %s "$work/html/large.html") bytes (corpus pages joined), protected," \
     "$large_connections connections; pool: threads=$threads, vantoro_thread_pool bench (256k)"
echo
errors() {
  awk '/Socket errors|Non-2xx/ { for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+,?$/) s += $i } END { print s + 0 }' <<<"$1"
}
pct() { awk -v p="$1" '$1 == p { print $2 }' <<<"$2"; }
printf '%-30s %9s %9s %9s %9s %10s %12s\n' "run" "small p50" "p90" "p99" "max" "small r/s" "large r/s"
failed=0
for run in alone worker pool; do
  large_pid=
  if [[ $run != alone ]]; then
    taskset -c 1 wrk -t1 -c"$large_connections" -d"$((seconds + 2))s" --timeout 30s \
      "http://127.0.0.1:$port/$run/large.html" > "$work/large.out" &
    large_pid=$!
    sleep 1  # the large-page load going before the measuring starts
  fi
  small=$(taskset -c 1 wrk -t1 -c"$small_connections" -d"${seconds}s" --latency --timeout 30s \
    "http://127.0.0.1:$port/plain/small.html")
  large_rps=-
  if [[ -n $large_pid ]]; then
    wait "$large_pid"
    large_rps=$(awk '/^Requests\/sec/ { print $2 }' "$work/large.out")
    (( $(errors "$(cat "$work/large.out")") == 0 )) || failed=1
  fi
  (( $(errors "$small") == 0 )) || failed=1
  max=$(awk '/^ +Latency/ { print $4 }' <<<"$small")
  case $run in
    alone) label="(a) small file alone" ;;
    worker) label="(b) + large, in the worker" ;;
    pool) label="(c) + large, in a pool thread" ;;
  esac
  printf '%-30s %9s %9s %9s %9s %10s %12s\n' "$label" "$(pct 50% "$small")" "$(pct 90% "$small")" \
    "$(pct 99% "$small")" "$max" "$(awk '/^Requests\/sec/ { print $2 }' <<<"$small")" "$large_rps"
done

if grep -q "\[alert\]\|\[error\]\|\[crit\]" "$work/error.log"; then
  echo "nginx error log:"; cat "$work/error.log"; failed=1
fi
exit "$failed"
