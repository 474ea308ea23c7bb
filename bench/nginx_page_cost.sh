#!/usr/bin/env bash
# What one protected page costs an nginx worker, by page size: the peak memory
# it adds to the worker (VmHWM of a fresh worker after serving it, less the
# same worker's peak before), and how long the event loop is held (the
# engine's processor time for one vantoro_protect() of the page: the worker
# serves nothing else meanwhile).
#
#   bench/nginx_page_cost.sh [SIZES...]   (default 100k 1m 4m 8m)
#
# Needs nginx, nginx-dev, curl and the corpus (VANTORO_CORPUS, default
# shared/corpus beside the project). A benchmark, not a test.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
corpus=${VANTORO_CORPUS:-$root/../shared/corpus}
sizes=("$@")
((${#sizes[@]})) || sizes=(100k 1m 4m 8m)
for tool in nginx curl cc; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is not installed" >&2; exit 1; }
done

out=$root/build/nginx-bench
mkdir -p "$out"
module=${VANTORO_NGINX_MODULE:-$(VANTORO_NGINX_BUILD=$out/module "$root/src/nginx/build.sh" | tail -1)}
lib=${VANTORO_LIBRARY_DIR:-$out/module/lib}

work=$(mktemp -d)
chmod 755 "$work"
nginx_pid=
stop() {
  [[ -z $nginx_pid ]] || { kill -QUIT "$nginx_pid" 2>/dev/null; wait "$nginx_pid" 2>/dev/null || true; }
  nginx_pid=
}
trap 'stop; rm -rf "$work"' EXIT

bytes() { numfmt --from=iec "${1^^}"; }
mkdir "$work/html" "$work/tmp"
echo "<p>x</p>" > "$work/html/tiny.html"
for size in "${sizes[@]}"; do
  want=$(bytes "$size")
  while (( $(stat -c %s "$work/html/$size.html" 2>/dev/null || echo 0) < want )); do
    for page in "$corpus"/*.html; do
      cat "$page" >> "$work/html/$size.html"
      (( $(stat -c %s "$work/html/$size.html") < want )) || break
    done
  done
done

cc -O2 -I "$root/include" -I "$lib/include" "$here/nginx_engine_time.c" "$lib/libvantoro.a" \
  -lsodium -lstdc++ -lm -o "$work/engine_time"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
user=
((EUID != 0)) || user="user root;"
cat > "$work/nginx.conf" <<EOF
load_module $module;
$user
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/error.log error;
events { worker_connections 64; }
http {
    include /etc/nginx/mime.types;
    access_log off;
    client_body_temp_path $work/tmp;
    proxy_temp_path $work/tmp;
    fastcgi_temp_path $work/tmp;
    uwsgi_temp_path $work/tmp;
    scgi_temp_path $work/tmp;
    server {
        listen 127.0.0.1:$port;
        root $work/html;
        vantoro on;
        vantoro_copyright "Example Site:All rights reserved";
        vantoro_max_size 64m;
    }
}
EOF

hwm() { awk '/^VmHWM/ { print $2 }' "/proc/$1/status"; }
printf '%-6s %10s %12s %14s %16s\n' size bytes "peak +kB" "peak / page" "engine cpu ms"
for size in "${sizes[@]}"; do
  nginx -p "$work" -c "$work/nginx.conf" &
  nginx_pid=$!
  for _ in $(seq 100); do
    curl -sf -o /dev/null "http://127.0.0.1:$port/tiny.html" && break
    sleep 0.1
  done
  worker=$(pgrep -P "$nginx_pid" | head -1)
  before=$(hwm "$worker")
  for _ in 1 2 3; do
    curl -sf -o "$work/out.html" "http://127.0.0.1:$port/$size.html"
  done
  grep -q "All rights reserved" "$work/out.html" || { echo "$0: $size.html not protected" >&2; exit 1; }
  after=$(hwm "$worker")
  stop
  page=$(stat -c %s "$work/html/$size.html")
  engine=$("$work/engine_time" "$work/html/$size.html" 3 | awk '{ for (i = 1; i < NF; i++) if ($i == "cpu_ms_per_call") print $(i + 1) }')
  printf '%-6s %10s %12s %14s %16s\n' "$size" "$page" "$((after - before))" \
    "$(awk -v a="$((after - before))" -v p="$page" 'BEGIN { printf "%.1f", a * 1024 / p }')" "$engine"
done
