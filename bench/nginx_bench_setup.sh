# What the nginx load benchmarks share, sourced by them: the tools they need,
# the module built (or VANTORO_NGINX_MODULE), a temporary folder removed on exit
# with the nginx they start, the corpus, a ~1.25 MB page joined from it, and a
# free port. The caller sets `root` and then calls these in order.

# bench_setup TOOL...: the tools, two cores, the module, the folder.
bench_setup() {
  for tool in nginx wrk taskset "$@"; do
    command -v "$tool" >/dev/null || { echo "$0: $tool is not installed" >&2; exit 1; }
  done
  (( $(nproc) >= 2 )) || { echo "$0: needs two cores (one for nginx, one for wrk)" >&2; exit 1; }
  corpus=${VANTORO_CORPUS:-/work/shared/corpus}
  [[ -d $corpus ]] || corpus=$root/../shared/corpus
  out=$root/build/nginx-bench
  mkdir -p "$out"
  module=${VANTORO_NGINX_MODULE:-$(VANTORO_NGINX_BUILD=$out/module "$root/src/nginx/build.sh" | tail -1)}
  work=$(mktemp -d)
  chmod 755 "$work"
  nginx_pid=
  trap bench_cleanup EXIT
  mkdir "$work/html" "$work/tmp"
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  user=
  ((EUID != 0)) || user="user root;"
}

bench_cleanup() {
  [[ -z $nginx_pid ]] || { kill -QUIT "$nginx_pid" 2>/dev/null; wait "$nginx_pid" 2>/dev/null || true; }
  rm -rf "$work"
}

# The corpus pages joined until the page holds 1.25 MB: html/large.html.
bench_large_page() {
  while (( $(stat -c %s "$work/html/large.html" 2>/dev/null || echo 0) < 1250000 )); do
    for page in "$corpus"/*.html; do
      cat "$page" >> "$work/html/large.html"
      (( $(stat -c %s "$work/html/large.html") < 1250000 )) || break
    done
  done
}
