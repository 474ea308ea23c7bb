#!/usr/bin/env bash
# Installs the Debian packages the project needs, and only those still missing.
#
#   scripts/install-packages.sh main   what building the tool and the libraries needs
#   scripts/install-packages.sh packages   what building the Debian packages needs
#   scripts/install-packages.sh test   everything the full test workflow needs (.ci/run)
#
# Runs as root, or through sudo when that exists. With nothing missing it does
# nothing: no package lists are fetched.
set -euo pipefail

usage() { echo "usage: $0 main|packages|test" >&2; exit 2; }
(($# == 1)) || usage

main_packages=(g++ make cmake ninja-build pkg-config libsodium-dev)
test_packages=("${main_packages[@]}"
               libgtest-dev libgmock-dev libbenchmark-dev valgrind curl
               clang libclang-rt-14-dev chromium
               g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools libwine-dev wine64 wine
               wine32:i386
               python3-dev python3-venv python3-pytest python3-html5lib python3-bs4 mypy
               gunicorn uwsgi-core uwsgi-plugin-python3
               python3-starlette python3-fastapi python3-uvicorn python3-django python3-httpx
               php8.2-cli php8.2-dev php8.2-fpm
               nginx nginx-dev apache2 apache2-dev wrk
               debhelper dpkg-dev fakeroot dh-python dh-php lintian)
package_packages=("${main_packages[@]}" git debhelper dpkg-dev fakeroot lintian dh-python python3-dev
                  dh-php php8.2-dev php8.2-cli nginx-dev apache2-dev)
# Node.js with npm and its headers (for node-gyp): a machine that has a node
# of its own (one with npm bundled) keeps it; else Debian's.
if ! command -v node >/dev/null || ! command -v npm >/dev/null || [[ ! -f /usr/include/node/node_api.h ]]; then
  test_packages+=(nodejs npm libnode-dev)
fi
case $1 in
  main) packages=("${main_packages[@]}") ;;
  packages) packages=("${package_packages[@]}") ;;
  test) packages=("${test_packages[@]}" "${package_packages[@]}") ;;
  *) usage ;;
esac

installed() { [[ $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) == *"install ok installed"* ]]; }

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
((${#missing[@]})) || exit 0

as_root=()
if ((EUID != 0)); then
  command -v sudo >/dev/null || { echo "$0: need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive

echo "installing: ${missing[*]}"
# 32-bit Wine, for the x86 DLL's tests, comes from the i386 architecture.
for p in "${missing[@]}"; do
  if [[ $p == *:i386 ]]; then
    grep -qx i386 <<<"$(dpkg --print-foreign-architectures)" || "${as_root[@]}" dpkg --add-architecture i386
    break
  fi
done
# A mirror in the middle of a sync fails one index or another now and then:
# try again, then go on with what was fetched; the install below still fails
# when a package cannot be found.
for attempt in 1 2 3; do
  "${as_root[@]}" apt-get update -qq && break
  if ((attempt == 3)); then
    echo "$0: apt-get update failed; installing from the package lists there are" >&2
  else
    sleep 10
  fi
done
# The other architecture's packages last and apart, and not fatal: mirrors
# lose an i386 index now and then, and everything else must still be
# installed. What needs them (the x86 DLL's Wine test) reports them missing.
native=() foreign=()
for p in "${missing[@]}"; do
  if [[ $p == *:i386 ]]; then foreign+=("$p"); else native+=("$p"); fi
done
install() {
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}
status=0
((${#native[@]} == 0)) || install "${native[@]}" || status=$?
if ((${#foreign[@]})) && ! install "${foreign[@]}"; then
  echo "$0: WARNING: could not install ${foreign[*]} (the mirror's i386 package lists?);" \
       "what needs them is skipped with this reason" >&2
fi
exit "$status"
