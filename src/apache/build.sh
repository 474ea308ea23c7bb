#!/usr/bin/env bash
# Builds mod_vantoro.so for Debian's Apache httpd 2.4 (package apache2-dev, for
# apxs) with the engine linked in, so that the module is one file to load.
#
#   src/apache/build.sh                       build/apache/mod_vantoro.so, with
#                                             libvantoro.a of a CMake build
#   src/apache/build.sh --test                build/apache-test/...: the same
#                                             module with the test-only
#                                             directive VantoroTestRandomValues
#   src/apache/build.sh --pkg-config          against the installed libvantoro
#                                             (pkg-config vantoro), shared
#   src/apache/build.sh --pkg-config --static against the installed libvantoro.a
#
# Without --pkg-config, VANTORO_LIBRARY_DIR names a CMake build folder of the
# project that has built vantoro_static; else lib/ under the output folder gets
# one. VANTORO_APACHE_BUILD overrides the output folder, VANTORO_APACHE_JOBS the
# parallel jobs (default 2), APXS the apxs program; CFLAGS, CPPFLAGS and LDFLAGS
# are added to apxs's. Prints the module's path.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
jobs=${VANTORO_APACHE_JOBS:-2}
apxs=${APXS:-apxs}
test_build='' pkg='' static=''
for arg in "$@"; do
  case $arg in
    --test) test_build=1 ;;
    --pkg-config) pkg=1 ;;
    --static) static=1 ;;
    *) echo "usage: $0 [--test] [--pkg-config [--static]]" >&2; exit 2 ;;
  esac
done
[[ -z $static || -n $pkg ]] || { echo "$0: --static goes with --pkg-config" >&2; exit 2; }
command -v "$apxs" >/dev/null || {
  echo "$0: apxs is missing: install the Debian package apache2-dev" >&2; exit 1; }
if [[ -n $test_build ]]; then
  out=${VANTORO_APACHE_BUILD:-$root/build/apache-test}
else
  out=${VANTORO_APACHE_BUILD:-$root/build/apache}
fi
mkdir -p "$out"
out=$(cd "$out" && pwd)

# Only the module's own structure is exported: the engine's symbols (and
# libstdc++'s, when linked in) stay inside, whatever else httpd loads.
cat >"$out/exports.map" <<'MAP'
{ global: vantoro_module; local: *; };
MAP

cflags=('-Wc,-Wall' '-Wc,-Wextra' '-Wc,-Werror' '-Wc,-std=gnu99')
[[ -z $test_build ]] || cflags+=(-DVANTORO_APACHE_TEST=1)
# The caller's compiler and linker flags (a package build's hardening) come
# after apxs's own; a fortify level of the caller's replaces apxs's.
ldflags=()
[[ ${CPPFLAGS:-} != *_FORTIFY_SOURCE* ]] || cflags+=('-Wc,-U_FORTIFY_SOURCE')
for flag in ${CFLAGS:-} ${CPPFLAGS:-}; do cflags+=("-Wc,$flag"); done
for flag in ${LDFLAGS:-}; do ldflags+=("-Wl,$flag"); done
if [[ -n $pkg ]]; then
  pkg-config --exists vantoro || {
    echo "$0: pkg-config finds no vantoro: install libvantoro's development files" >&2; exit 1; }
  incs=()
  for flag in $(pkg-config --cflags-only-I vantoro); do incs+=("$flag"); done
  if [[ -n $static ]]; then
    libs=("$(pkg-config --variable=libdir vantoro)/libvantoro.a")
    for flag in $(pkg-config --static --libs-only-l vantoro); do
      [[ $flag == -lvantoro ]] || libs+=("$flag")
    done
  else
    libs=()
    for flag in $(pkg-config --libs vantoro); do libs+=("$flag"); done
  fi
else
  # The engine: its static library only, in a folder of our own. The library's
  # objects are position-independent, as a shared object needs.
  source "$root/scripts/engine-library.sh"
  lib=$(engine_library "$out/lib" "$jobs" vantoro_static)
  [[ -f $lib/libvantoro.a && -f $lib/include/vantoro/version.h ]] || {
    echo "$0: no libvantoro.a and include/vantoro/version.h in $lib" >&2; exit 1; }
  incs=(-I"$root/include" -I"$lib/include")
  libs=("$lib/libvantoro.a" -lsodium -lstdc++ -lm)
fi

# apxs compiles and links through libtool in a folder of its own; its
# warnings about linking a static archive into a module are expected. apxs
# takes one "-Wl," off, libtool needs one to hand the option to the linker.
work=$out/work
rm -rf "$work"
mkdir -p "$work"
cp "$here/mod_vantoro.c" "$work/"
(cd "$work" && "$apxs" -c -o mod_vantoro.la "${cflags[@]}" "${incs[@]}" "${ldflags[@]}" \
   -Wl,-Wl,--version-script="$out/exports.map" mod_vantoro.c "${libs[@]}") \
  >"$out/build.out" 2>&1 || { cat "$out/build.out" >&2; exit 1; }
grep -E "warning:" "$out/build.out" | grep -v "is not portable" >&2 || true
cp "$work/.libs/mod_vantoro.so" "$out/mod_vantoro.so"
echo "$out/mod_vantoro.so"
