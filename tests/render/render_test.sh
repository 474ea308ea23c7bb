#!/usr/bin/env bash
# Protected pages must look exactly like the originals: every saved real page is
# protected with each decoy kind, and headless Chromium's screenshot of it must be
# byte-identical to the screenshot of the original.
# Usage: render_test.sh VANTORO_BINARY CORPUS_DIR   (exit 77: skipped)
set -euo pipefail
tool=$1 corpus=$2
browser=$(command -v chromium || command -v chromium-browser || true)
[[ -n $browser ]] || { echo "SKIP: chromium is not installed"; exit 77; }
compgen -G "$corpus/*.html" >/dev/null || { echo "SKIP: no pages in $corpus"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export browser work
shot() {  # page.html: writes page.png beside it
  local page=$1 png=${1%.html}.png attempt
  # A browser that a loaded machine starves past the time limit gets a second
  # chance; one that fails twice fails the test.
  for attempt in 1 2; do
    timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
      --disable-background-networking --disable-component-update --disable-sync \
      --user-data-dir="$work/profile-$$-$RANDOM" --window-size=1280,3000 --hide-scrollbars \
      --virtual-time-budget=2000 --screenshot="$png" "file://$page" >/dev/null 2>&1 || true
    [[ -s $png ]] && return 0
    echo "no screenshot of $page (attempt $attempt)" >&2
  done
  echo "FAIL: no screenshot of $page"
  exit 1
}
export -f shot

kinds=(copyright random both)
for page in "$corpus"/*.html; do
  name=$(basename "$page" .html)
  cp "$page" "$work/$name.html"
  for kind in "${kinds[@]}"; do
    "$tool" protect --decoy "$kind" --copyright "Example Site:All rights reserved,(c) Example" \
      "$page" > "$work/$name.$kind.html"
    cmp -s "$work/$name.html" "$work/$name.$kind.html" && { echo "FAIL: $name unchanged"; exit 1; }
  done
done
# One browser per core.
ls "$work"/*.html | xargs -P "$(nproc)" -I{} bash -c 'shot "$1"' _ {}

# A browser under load now and then paints a frame differently; a difference
# that the markup causes comes back every time, so a mismatching pair is taken
# again, alone, before it counts.
same() {  # name kind
  local tries
  for tries in 0 1 2; do
    cmp -s "$work/$1.png" "$work/$1.$2.png" && return 0
    [[ $tries -lt 2 ]] || break
    retaken=$((retaken + 1))
    shot "$work/$1.html"
    shot "$work/$1.$2.html"
  done
  return 1
}
passed=0 failed=0 retaken=0
for page in "$corpus"/*.html; do
  name=$(basename "$page" .html)
  for kind in "${kinds[@]}"; do
    if same "$name" "$kind"; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
      echo "FAIL: $name with $kind decoys renders differently"
    fi
  done
done
echo "screenshot pairs taken again: $retaken"
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
