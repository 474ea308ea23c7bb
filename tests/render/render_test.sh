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
shot() {  # page.html out.png
  timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile" --window-size=1280,3000 --hide-scrollbars \
    --virtual-time-budget=2000 --screenshot="$2" "file://$1" >/dev/null 2>&1
  [[ -s $2 ]] || { echo "FAIL: no screenshot of $1"; exit 1; }
}

passed=0 failed=0
for page in "$corpus"/*.html; do
  name=$(basename "$page" .html)
  cp "$page" "$work/$name.html"
  shot "$work/$name.html" "$work/$name.png"
  for kind in copyright random both; do
    "$tool" protect --decoy "$kind" --copyright "Example Site:All rights reserved,(c) Example" \
      "$page" > "$work/$name.$kind.html"
    cmp -s "$work/$name.html" "$work/$name.$kind.html" && { echo "FAIL: $name unchanged"; exit 1; }
    shot "$work/$name.$kind.html" "$work/$name.$kind.png"
    if cmp -s "$work/$name.png" "$work/$name.$kind.png"; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
      echo "FAIL: $name with $kind decoys renders differently"
    fi
  done
done
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
