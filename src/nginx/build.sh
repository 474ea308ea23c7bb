#!/usr/bin/env bash
# Builds ngx_http_vantoro_filter_module.so for the nginx that Debian ships
# (packages nginx and nginx-dev), with the engine linked in statically.
#
#   src/nginx/build.sh          build/nginx/ngx_http_vantoro_filter_module.so
#   src/nginx/build.sh --test   build/nginx-test/...: the same module with the
#                               test-only directive vantoro_test_random_values
#
# lib/ under the output folder holds libvantoro.a (or set VANTORO_LIBRARY_DIR to
# a CMake build folder of the project that has built vantoro_static);
# nginx-src/ a copy of /usr/share/nginx/src, configured with Debian's own
# configure flags. VANTORO_NGINX_BUILD overrides the output folder,
# VANTORO_NGINX_JOBS the parallel jobs (default 2). Prints the module's path.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
jobs=${VANTORO_NGINX_JOBS:-2}
test_build=
case ${1:-} in
  "") ;;
  --test) test_build=1 ;;
  *) echo "usage: $0 [--test]" >&2; exit 2 ;;
esac
if [[ -n $test_build ]]; then
  out=${VANTORO_NGINX_BUILD:-$root/build/nginx-test}
else
  out=${VANTORO_NGINX_BUILD:-$root/build/nginx}
fi
src=/usr/share/nginx/src
[[ -f $src/conf_flags && -x $src/configure ]] || {
  echo "$0: $src is missing: install the Debian package nginx-dev" >&2; exit 1; }
mkdir -p "$out"
out=$(cd "$out" && pwd)

# The engine: its static library only, in a folder of our own. The library's
# objects are position-independent, as a shared object needs.
source "$root/scripts/engine-library.sh"
lib=$(engine_library "$out/lib" "$jobs" vantoro_static)
archive=$lib/libvantoro.a
[[ -f $archive && -f $lib/include/vantoro/version.h ]] || {
  echo "$0: no libvantoro.a and include/vantoro/version.h in $lib" >&2; exit 1; }

# nginx's build tree, configured again whenever the module's config file, the
# nginx sources or the library folder changed.
ngx=$out/nginx-src
# The caller's compiler and linker flags (a package build's hardening) go to
# nginx's configure; nginx takes only the last of each option.
cc_opt="${CFLAGS:-} ${CPPFLAGS:-}"
[[ -z $test_build ]] || cc_opt+=" -DNGX_HTTP_VANTORO_TEST=1"
ld_opt=${LDFLAGS:-}
stamp="$lib $test_build $cc_opt $ld_opt $(stat -c %Y "$here/config" "$src/conf_flags")"
if [[ ! -f $ngx/objs/Makefile || $(cat "$out/.configured" 2>/dev/null) != "$stamp" ]]; then
  rm -rf "$ngx"
  cp -r "$src" "$ngx"
  # shellcheck disable=SC1091
  source "$src/conf_flags"
  extra=()
  [[ -z ${cc_opt// /} ]] || extra+=(--with-cc-opt="$cc_opt")
  [[ -z $ld_opt ]] || extra+=(--with-ld-opt="$ld_opt")
  (cd "$ngx" && VANTORO_LIB="$archive" VANTORO_INCS="$root/include $lib/include" \
     ./configure "${NGX_CONF_FLAGS[@]}" "${extra[@]}" --add-dynamic-module="$here") \
     >"$out/configure.out" 2>&1 || { cat "$out/configure.out" >&2; exit 1; }
  echo "$stamp" >"$out/.configured"
fi

# The sources are copied by nginx's Makefile from $here; the archive may be
# newer than the module even when no source changed.
so=$ngx/objs/ngx_http_vantoro_filter_module.so
[[ ! -f $so || $so -nt $archive ]] || rm -f "$so"
make -C "$ngx" -f objs/Makefile -j "$jobs" modules >"$out/make.out" 2>&1 || { cat "$out/make.out" >&2; exit 1; }
grep -E "warning:" "$out/make.out" >&2 || true
cp "$so" "$out/ngx_http_vantoro_filter_module.so"
echo "$out/ngx_http_vantoro_filter_module.so"
