#!/usr/bin/env bash
# Builds the Debian packages from a copy of the tree (what git tracks, and new
# files it does not ignore) and checks them with lintian.
#
#   scripts/build-packages.sh [OUT_DIR]      default build/packages
#
# Needs the packages in debian/control's Build-Depends (scripts/install-packages.sh
# test installs them) and lintian. Leaves OUT_DIR/*.deb; the source tree stays clean.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/packages}
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
rm -rf "$out"
mkdir -p "$out/vantoro-$version"
out=$(cd "$out" && pwd)
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  (cd "$root" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [[ -e $f ]] && printf '%s\0' "$f"; done |
    tar --null -T - -cf -) | tar -xf - -C "$out/vantoro-$version"
else  # an unpacked source archive: all of it but what builds leave
  (cd "$root" && tar --exclude=./build --exclude='./obj-*' --exclude=node_modules -cf - .) |
    tar -xf - -C "$out/vantoro-$version"
fi

cd "$out/vantoro-$version"
jobs=$(nproc)
DEB_BUILD_OPTIONS="parallel=$jobs ${DEB_BUILD_OPTIONS:-}" \
  dpkg-buildpackage -us -uc -b >"$out/build.log" 2>&1 || {
    tail -100 "$out/build.log" >&2; echo "$0: dpkg-buildpackage failed (log: $out/build.log)" >&2; exit 1; }
cd "$out"
rm -rf "vantoro-$version"
ls -1 "$out"/*.deb
# Errors and warnings fail; what is left is informational, listed for the record.
lintian --fail-on error,warning \
  -I "$out"/vantoro_"$version"_*.changes
