#!/usr/bin/env bash
# Installs the Debian packages built by scripts/build-packages.sh into this
# machine and checks each one as installed: the tool, a C program built through
# pkg-config, nginx and Apache serving a protected page with the packaged
# modules as the packages enabled them, PHP and Python importing theirs; then
# purges them and checks that nothing is left enabled.
#
#   tests/packages/smoke_test.sh [PACKAGE_DIR]     default build/packages
#
# Needs root (or sudo): it installs packages. Each server runs on 127.0.0.1 with
# a configuration of its own, and is stopped again.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=$(cd "${1:-$root/build/packages}" && pwd)
as_root=()
((EUID == 0)) || as_root=(sudo)
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
pass() { echo "ok: $*"; }

debs=()
for deb in "$dir"/*.deb; do [[ $deb == *-dbgsym_* ]] || debs+=("$deb"); done
((${#debs[@]} == 7)) || fail "expected 7 packages in $dir, found ${#debs[@]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "${debs[@]}" >"$work/apt.log" 2>&1 || {
  cat "$work/apt.log" >&2; fail "the packages did not install"; }

notice="Packaged Site:All rights reserved"
page='<html><head><title>t</title></head><body><p>One paragraph.</p><p>Two<br>lines.</p></body></html>'
protected() {  # the body carries the watermark and the notice
  grep -q "Vantoro" <<<"$1" && grep -q "Packaged Site" <<<"$1"
}
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() {
  for _ in $(seq 100); do
    curl -s -o /dev/null "http://127.0.0.1:$1/" && return 0
    sleep 0.1
  done
  return 1
}

# The tool and its manual page.
out=$(printf '%s' "$page" | /usr/bin/vantoro protect --copyright "$notice")
protected "$out" || fail "vantoro protect: $out"
man -w vantoro >/dev/null || fail "no manual page for vantoro"
pass "$(/usr/bin/vantoro --version | head -1)"

# A C program through pkg-config, linked with the shared library.
cat >"$work/consumer.c" <<'C'
#include <stdio.h>
#include <string.h>
#include <vantoro/vantoro.h>
int main(void) {
  vantoro_handle *v = NULL;
  char *out = NULL;
  size_t length = 0;
  if (vantoro_create(&v) != VANTORO_OK) return 1;
  if (vantoro_set_copyright(v, "Packaged Site", 13) != VANTORO_OK) return 2;
  if (vantoro_protect(v, "<p>x</p>", 8, &out, &length) != VANTORO_OK) return 3;
  fwrite(out, 1, length, stdout);
  vantoro_free(out);
  vantoro_destroy(v);
  return 0;
}
C
# shellcheck disable=SC2046
cc -Wall -Werror -o "$work/consumer" "$work/consumer.c" $(pkg-config --cflags --libs vantoro)
# The listings are read whole first: "grep -q" stops at its match, and under
# pipefail the writer cut short by it would fail the check.
grep -Eq "libvantoro\.so\.2 => (/usr)?/lib/" <<<"$(ldd "$work/consumer")" || fail "the C program is not linked with libvantoro.so.2"
out=$("$work/consumer") || fail "the C program failed"
grep -q "Packaged Site" <<<"$out" || fail "the C program's output: $out"
pass "C program through pkg-config $(pkg-config --modversion vantoro)"

# Python, from Debian's interpreter, outside the source tree.
(cd / && /usr/bin/python3 -c '
import vantoro, vantoro.wsgi, vantoro.asgi
assert vantoro.__file__.startswith("/usr/lib/python3/dist-packages/"), vantoro.__file__
out = vantoro.protect("<p>x</p>", "Packaged Site")
assert "Packaged Site" in out and "Vantoro" in out, out
') || fail "python3-vantoro"
pass "python3-vantoro"

# PHP, with the extension enabled by the package (no -n: php.ini's conf.d).
grep -qx vantoro <<<"$(php -m)" || fail "php8.2-vantoro is not enabled (php -m)"
out=$(php -r 'echo Vantoro\protect("<p>x</p>", ["copyright" => "Packaged Site"]);')
grep -q "Packaged Site" <<<"$out" || fail "php8.2-vantoro: $out"
pass "php8.2-vantoro"

mkdir -p "$work/www"
printf '%s' "$page" >"$work/www/index.html"
chmod -R a+rX "$work"

# nginx, loading the modules the packages enabled.
[[ -e /etc/nginx/modules-enabled/50-mod-http-vantoro.conf ]] ||
  fail "libnginx-mod-http-vantoro did not enable its module"
port=$(free_port)
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<NGINX
include /etc/nginx/modules-enabled/*.conf;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events {}
http {
  include /etc/nginx/mime.types;
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
    vantoro on;
    vantoro_copyright "$notice";
  }
}
NGINX
/usr/sbin/nginx -t -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" 2>"$work/nginx/t.log" || {
  cat "$work/nginx/t.log" >&2; fail "nginx -t with the packaged module"; }
/usr/sbin/nginx -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" &
pids+=($!)
wait_port "$port" || { cat "$work/nginx/error.log" >&2; fail "nginx did not start"; }
out=$(curl -s "http://127.0.0.1:$port/index.html")
protected "$out" || fail "nginx sent: $out"
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true
pass "libnginx-mod-http-vantoro under nginx $(/usr/sbin/nginx -v 2>&1 | sed 's/.*\///')"

# Apache, loading the module the package enabled.
[[ -e /etc/apache2/mods-enabled/vantoro.load ]] || fail "libapache2-mod-vantoro did not enable its module"
port=$(free_port)
mkdir -p "$work/apache"
cat >"$work/apache/apache2.conf" <<APACHE
ServerRoot /etc/apache2
ServerName 127.0.0.1
PidFile $work/apache/apache2.pid
Mutex file:$work/apache default
ErrorLog $work/apache/error.log
LogLevel warn
Include /etc/apache2/mods-enabled/mpm_*.load
Include /etc/apache2/mods-enabled/mpm_*.conf
LoadModule authz_core_module /usr/lib/apache2/modules/mod_authz_core.so
LoadModule mime_module /usr/lib/apache2/modules/mod_mime.so
Include /etc/apache2/mods-enabled/filter.load
Include /etc/apache2/mods-enabled/vantoro.load
TypesConfig /etc/mime.types
Listen 127.0.0.1:$port
DocumentRoot $work/www
<Directory $work/www>
  Require all granted
</Directory>
Vantoro On
VantoroCopyright "$notice"
APACHE
/usr/sbin/apache2 -t -f "$work/apache/apache2.conf" 2>"$work/apache/t.log" || {
  cat "$work/apache/t.log" >&2; fail "apache2 -t with the packaged module"; }
APACHE_RUN_USER=www-data APACHE_RUN_GROUP=www-data \
  /usr/sbin/apache2 -f "$work/apache/apache2.conf" -DFOREGROUND &
pids+=($!)
wait_port "$port" || { cat "$work/apache/error.log" >&2; fail "Apache did not start"; }
out=$(curl -s "http://127.0.0.1:$port/index.html")
protected "$out" || fail "Apache sent: $out"
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true
pass "libapache2-mod-vantoro under $(/usr/sbin/apache2 -v | sed -n 's/^Server version: //p')"

# Removed again, a package takes its enabling with it: a server must not be left
# loading a module that is gone.
names=()
for deb in "${debs[@]}"; do names+=("$(dpkg-deb -f "$deb" Package)"); done
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get purge -y -qq "${names[@]}" >"$work/apt.log" 2>&1 || {
  cat "$work/apt.log" >&2; fail "the packages did not purge"; }
for left in /etc/nginx/modules-enabled/50-mod-http-vantoro.conf /etc/apache2/mods-enabled/vantoro.load \
            /etc/php/8.2/cli/conf.d/20-vantoro.ini /usr/bin/vantoro; do
  [[ ! -e $left && ! -L $left ]] || fail "$left is left after purging the packages"
done
! grep -qx vantoro <<<"$(php -m)" || fail "php still loads vantoro after purging php8.2-vantoro"
/usr/sbin/nginx -t -q 2>/dev/null || fail "Debian's nginx configuration fails after purging the module"
pass "purged, nothing left enabled"
echo "all 7 packages installed, working and removed"
