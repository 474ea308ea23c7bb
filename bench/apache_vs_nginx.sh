#!/usr/bin/env bash
# Requests per second of Apache httpd with mod_vantoro and of nginx with the
# Vantoro nginx module, each serving the same 87 KB page (the corpus's
# lemonde-1.html) protected (both passes), and each serving it plain. The
# server runs on core 0 (nginx: one worker; httpd: one event-MPM child), wrk on
# core 1, over 127.0.0.1 with keep-alive.
#
#   bench/apache_vs_nginx.sh [SECONDS] [CONNECTIONS]   (default 20 and 32)
#
# Needs apache2, apache2-dev, nginx, nginx-dev, wrk and the corpus
# (VANTORO_CORPUS, default shared/corpus beside the project). Builds both modules (src/apache/build.sh, src/nginx/build.sh) unless
# VANTORO_APACHE_MODULE and VANTORO_NGINX_MODULE name them; VANTORO_LIBRARY_DIR
# is passed on to the builds. A benchmark, not a test: it reports figures and
# fails only when a run had errors or a protected page came back unprotected.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
seconds=${1:-20}
connections=${2:-32}
corpus=${VANTORO_CORPUS:-$root/../shared/corpus}
for tool in /usr/sbin/apache2 /usr/sbin/nginx wrk taskset curl python3; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is not installed" >&2; exit 1; }
done
(( $(nproc) >= 2 )) || { echo "$0: needs two cores (one for the server, one for wrk)" >&2; exit 1; }
[[ -f $corpus/lemonde-1.html ]] || { echo "$0: no $corpus/lemonde-1.html" >&2; exit 1; }

apache_module=${VANTORO_APACHE_MODULE:-$("$root/src/apache/build.sh" | tail -1)}
nginx_module=${VANTORO_NGINX_MODULE:-$("$root/src/nginx/build.sh" | tail -1)}
apache_module=$(realpath "$apache_module")
nginx_module=$(realpath "$nginx_module")

work=$(mktemp -d)
chmod 755 "$work"
server_pid=
stop_server() {
  [[ -n $server_pid ]] || return 0
  kill -TERM "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=
}
# shellcheck disable=SC2317  # called by the trap
cleanup() {
  stop_server
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/html" "$work/tmp"
cp "$corpus/lemonde-1.html" "$work/html/page.html"
chmod 644 "$work/html/page.html"
notice="All rights reserved"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

# ---- the servers: $1 is "plain" or "vantoro" -------------------------------

nginx_conf() {
  local user='' protect=''
  ((EUID != 0)) || user="user root;"
  [[ $1 == plain ]] || protect="vantoro on; vantoro_copyright \"Example Site:$notice\";"
  cat > "$work/nginx.conf" <<EOF
$( [[ $1 == plain ]] || echo "load_module $nginx_module;" )
$user
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 1024; }
http {
    include /etc/nginx/mime.types;
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
        root $work/html;
        $protect
    }
}
EOF
}

apache_conf() {
  local user='' protect=''
  ((EUID != 0)) || user=$'User www-data\nGroup www-data'
  [[ $1 == plain ]] || protect="LoadModule vantoro_module $apache_module
Vantoro On
VantoroCopyright \"Example Site:$notice\""
  local m=/usr/lib/apache2/modules
  cat > "$work/httpd.conf" <<EOF
ServerRoot $work
PidFile $work/httpd.pid
ErrorLog $work/error.log
LogLevel warn
DefaultRuntimeDir $work
Listen 127.0.0.1:$port 1024
ServerName 127.0.0.1
$user
LoadModule mpm_event_module $m/mod_mpm_event.so
LoadModule authz_core_module $m/mod_authz_core.so
LoadModule mime_module $m/mod_mime.so
TypesConfig /etc/mime.types
StartServers 1
ServerLimit 1
ThreadsPerChild 64
ThreadLimit 64
MaxRequestWorkers 64
MinSpareThreads 1
MaxSpareThreads 64
KeepAlive On
MaxKeepAliveRequests 0
EnableSendfile On
DocumentRoot $work/html
<Directory $work/html>
    Require all granted
</Directory>
$protect
EOF
}

# Starts the server on core 0 and waits for the page; sets server_pid and
# worker (the process that serves: nginx's worker, httpd's child).
start() {
  local kind=$1 way=$2
  if [[ $kind == nginx ]]; then
    nginx_conf "$way"
    taskset -c 0 /usr/sbin/nginx -p "$work" -c "$work/nginx.conf" &
  else
    apache_conf "$way"
    taskset -c 0 /usr/sbin/apache2 -DFOREGROUND -f "$work/httpd.conf" &
  fi
  server_pid=$!
  for _ in $(seq 100); do
    curl -sf -o /dev/null "http://127.0.0.1:$port/page.html" && break
    sleep 0.1
  done
  worker=$(pgrep -P "$server_pid" | head -1)
  [[ -n $worker ]] || { echo "$0: $kind did not start" >&2; cat "$work/error.log" >&2; exit 1; }
}

# ---- the runs ---------------------------------------------------------------

ticks() { awk '{ print $14 + $15 }' "/proc/$worker/stat"; }
hz=$(getconf CLK_TCK)
echo "page: lemonde-1.html, $(stat -c %s "$work/html/page.html") bytes; server on core 0" \
     "(nginx: one worker, httpd: one event-MPM child), wrk on core 1;" \
     "$seconds s a run, $connections connections"
echo "$(/usr/sbin/apache2 -v | sed -n 's/^Server version: //p'), nginx $(/usr/sbin/nginx -v 2>&1 | sed 's/.*\///')"
echo
printf '%-8s %-8s %10s %9s %9s %9s %8s %11s\n' server way "req/s" p50 p90 p99 errors "cpu ms/req"
failed=0
for kind in apache nginx; do
  for way in plain vantoro; do
    start "$kind" "$way"
    url="http://127.0.0.1:$port/page.html"
    body=$(curl -s "$url")
    if [[ $way == vantoro && $body != *"$notice"* ]] || [[ $way == plain && $body == *"$notice"* ]]; then
      echo "$0: $kind $way sent the wrong page" >&2
      failed=1
    fi
    # warm-up, then the measured run
    taskset -c 1 wrk -t1 -c"$connections" -d2s "$url" >/dev/null
    before=$(ticks)
    result=$(taskset -c 1 wrk -t1 -c"$connections" -d"${seconds}s" --latency "$url")
    after=$(ticks)
    rps=$(awk '/^Requests\/sec:/ { print $2 }' <<<"$result")
    requests=$(awk '/ requests in / { print $1 }' <<<"$result")
    lat() { awk -v p="$1%" '$1 == p { print $2 }' <<<"$result"; }
    errors=$(awk '/Non-2xx|Socket errors/ { n += $NF } END { print n + 0 }' <<<"$result")
    cpu=$(awk -v t=$((after - before)) -v hz="$hz" -v n="$requests" \
      'BEGIN { printf "%.3f", n ? t * 1000 / hz / n : 0 }')
    printf '%-8s %-8s %10s %9s %9s %9s %8s %11s\n' "$kind" "$way" "$rps" "$(lat 50)" "$(lat 90)" \
      "$(lat 99)" "$errors" "$cpu"
    ((errors == 0)) || failed=1
    stop_server
  done
done
exit "$failed"
