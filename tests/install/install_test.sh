#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses it the way users do: the
# tool and its manual page, a C program built through pkg-config (shared and
# static), a C++ program built through find_package(vantoro). Also checks that
# only the public files are installed.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR   (exit 77: skipped; never in CI)
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
here=$source/tests/install

fail() { echo "FAIL: $*"; exit 1; }
missing() {  # outside CI a machine without the tool skips; in CI it must have it
  [[ ${CI:-} == true ]] && fail "$1 (CI must have it)"
  echo "SKIP: $1"
  exit 77
}
command -v pkg-config >/dev/null || missing "pkg-config is not installed"
cc=${CC:-cc}
command -v "${cc%% *}" >/dev/null || missing "no C compiler ($cc)"

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
# A sanitized library needs its consumers built with the same sanitizers.
sanitize=$(cache_value VANTORO_SANITIZE)
san_flags=()
[[ -n $sanitize ]] && san_flags=("-fsanitize=$sanitize")
cxx=$(cache_value CMAKE_CXX_COMPILER)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "cmake --install"; }

# --- what was installed -----------------------------------------------------
pc=$(find "$prefix" -name vantoro.pc -path "*/pkgconfig/*")
[[ -n $pc ]] || fail "no vantoro.pc installed"
PKG_CONFIG_PATH=$(dirname "$pc")
export PKG_CONFIG_PATH
version=$(pkg-config --modversion vantoro)
libdir=$(pkg-config --variable=libdir vantoro)
includedir=$(pkg-config --variable=includedir vantoro)
[[ $libdir == "$prefix"/* ]] || fail "pkg-config libdir $libdir is not in the prefix"
[[ $includedir == "$prefix/include" ]] || fail "pkg-config includedir $includedir"
header_version=$(sed -n 's/^#define VANTORO_VERSION_STRING "\(.*\)"$/\1/p' "$includedir/vantoro/version.h")
[[ $version == "$header_version" ]] || fail "pkg-config version $version, version.h $header_version"
major=${version%%.*}

# The public headers, all of them and nothing else.
expected=$( (find "$source/include/vantoro" -maxdepth 1 -name "*.h" -printf "%f\n"; echo version.h) | sort -u)
actual=$(find "$includedir/vantoro" -mindepth 1 -printf "%f\n" | sort)
[[ $expected == "$actual" ]] ||
  fail "installed headers: $(tr '\n' ' ' <<<"$actual"); expected: $(tr '\n' ' ' <<<"$expected")"
for h in "$source"/include/vantoro/*.h; do
  cmp -s "$h" "$includedir/vantoro/$(basename "$h")" || fail "installed $(basename "$h") differs"
done

# The shared library with its SONAME links, and the static one.
[[ -f $libdir/libvantoro.so.$version && ! -L $libdir/libvantoro.so.$version ]] ||
  fail "no $libdir/libvantoro.so.$version"
[[ $(readlink "$libdir/libvantoro.so.$major") == libvantoro.so.$version ]] ||
  fail "libvantoro.so.$major does not link to libvantoro.so.$version"
[[ $(readlink "$libdir/libvantoro.so") == libvantoro.so.$major ]] ||
  fail "libvantoro.so does not link to libvantoro.so.$major"
grep -q "Library soname: \[libvantoro.so.$major\]" <<<"$(readelf -d "$libdir/libvantoro.so.$version")" ||
  fail "the shared library's SONAME is not libvantoro.so.$major"
[[ -f $libdir/libvantoro.a ]] || fail "no $libdir/libvantoro.a"

# Every installed file is one of these; nothing from src/ gets out.
unexpected=$(find "$prefix" ! -type d -printf "%P\n" | grep -vE \
  "^(bin/vantoro|share/man/man1/vantoro\.1|include/vantoro/[a-z_]+\.h|.*/libvantoro\.(a|so(\.[0-9.]+)?)|.*/pkgconfig/vantoro\.pc|.*/cmake/vantoro/vantoro(Config|ConfigVersion|Targets|Targets-[a-z]+)\.cmake)$" || true)
[[ -z $unexpected ]] || fail "unexpected files installed: $(tr '\n' ' ' <<<"$unexpected")"
copies=$(cd "$prefix" && find . -type f -exec sha256sum {} + |
  awk 'NR == FNR { internal[$1]; next } $1 in internal { print $2 }' \
    <(find "$source/src" -type f -exec sha256sum {} +) -)
[[ -z $copies ]] || fail "files from src/ installed: $(tr '\n' ' ' <<<"$copies")"

# --- the tool and its manual page ------------------------------------------
# No LD_LIBRARY_PATH: the installed tool finds its library by itself.
tool_version=$(env -u LD_LIBRARY_PATH "$prefix/bin/vantoro" --version) || fail "bin/vantoro --version"
[[ $(head -1 <<<"$tool_version") == "vantoro $version" ]] || fail "bin/vantoro --version says '$tool_version'"
page=$(printf '<p>Hello</p>' | env -u LD_LIBRARY_PATH "$prefix/bin/vantoro" page) || fail "bin/vantoro page"
[[ $page == *Vantoro* ]] || fail "bin/vantoro page gives no watermark"
man=$prefix/share/man/man1/vantoro.1
[[ -f $man ]] || fail "no share/man/man1/vantoro.1"
grep -q "^\.TH VANTORO 1 .*\"vantoro $version\"" "$man" || fail "the manual page is not for version $version"

# --- a C program through pkg-config ----------------------------------------
mkdir "$work/c"
# shellcheck disable=SC2046  # the flags are words
$cc -std=c99 -Wall -Wextra -pedantic -Werror "${san_flags[@]}" -o "$work/c/shared" \
  "$here/c_consumer/main.c" $(pkg-config --cflags --libs vantoro) || fail "C program (shared)"
LD_LIBRARY_PATH=$libdir "$work/c/shared" "$version" || fail "C program (shared)"
# Statically: Libs.private must be all that the archive needs.
static_libs=$(pkg-config --static --libs vantoro)
# shellcheck disable=SC2046,SC2086
$cc -std=c99 -Wall -Wextra -pedantic -Werror "${san_flags[@]}" -o "$work/c/static" \
  "$here/c_consumer/main.c" $(pkg-config --cflags vantoro) ${static_libs/-lvantoro/-l:libvantoro.a} ||
  fail "C program (static)"
[[ $(readelf -d "$work/c/static") == *libvantoro* ]] && fail "the static C program needs libvantoro.so"
env -u LD_LIBRARY_PATH "$work/c/static" "$version" || fail "C program (static)"

# --- a C++ program through find_package(vantoro) ----------------------------
# From a moved prefix: the package must find its files relative to itself.
mv "$prefix" "$work/moved"
prefix=$work/moved libdir=$work/moved/${libdir#"$work/prefix/"}
env -u LD_LIBRARY_PATH "$prefix/bin/vantoro" --version >/dev/null || fail "the moved tool does not run"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S "$here/cxx_consumer" -B "$work/cxx" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" ${cxx:+"-DCMAKE_CXX_COMPILER=$cxx"} \
  -DCMAKE_CXX_FLAGS="${san_flags[*]}" -DCMAKE_EXE_LINKER_FLAGS="${san_flags[*]}" \
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF \
  >"$work/cxx.log" 2>&1 || { cat "$work/cxx.log"; fail "configuring the C++ program"; }
found=$(sed -n 's/^vantoro_DIR:PATH=//p' "$work/cxx/CMakeCache.txt")
[[ $found == "$prefix"/* ]] || fail "find_package(vantoro) found $found, not the installed package"
cmake --build "$work/cxx" >>"$work/cxx.log" 2>&1 || { cat "$work/cxx.log"; fail "building the C++ program"; }
[[ $(readelf -d "$work/cxx/cxx_consumer") == *libvantoro* ]] && fail "vantoro::vantoro_static links libvantoro.so"
[[ $(readelf -d "$work/cxx/cxx_consumer_shared") == *"libvantoro.so.$major"* ]] ||
  fail "vantoro::vantoro does not link libvantoro.so.$major"
env -u LD_LIBRARY_PATH "$work/cxx/cxx_consumer" || fail "C++ program (static)"
LD_LIBRARY_PATH=$libdir "$work/cxx/cxx_consumer_shared" || fail "C++ program (shared)"

echo "install_consumers: installed $version; tool, manual page, C (pkg-config) and C++ (CMake package) consumers pass"
