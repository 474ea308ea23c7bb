#!/usr/bin/env bash
# A site may forbid inline styles (Content-Security-Policy "style-src 'self'"):
# decoys hidden by their style attribute then show. With --hide class they are
# hidden by the site's own stylesheet instead, so under such a policy every
# saved real page, protected that way, must show no notice in its text and look
# exactly like the original; protected with --hide style it must show notices,
# or the check could not see one.
# Usage: csp_test.sh VANTORO_BINARY CORPUS_DIR [NODE_DIR]   (exit 77: skipped)
# NODE_DIR: where the npm packages go (default: beside this script).
set -euo pipefail
tool=$1 corpus=$2
here=$(cd "$(dirname "$0")" && pwd)
node_dir=${3:-$here}
source "$here/node_setup.sh"

compgen -G "$corpus/*.html" >/dev/null || { echo "SKIP: no pages in $corpus"; exit 77; }
browser=$(command -v chromium || command -v chromium-browser || true)
[[ -n $browser ]] || not_there "chromium is not installed"
need node npm python3 flock
node_packages "$node_dir"

work=$(mktemp -d)
server=
trap '[[ -z $server ]] || kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
site=$work/site
mkdir "$site"

copyright="Example Site:All rights reserved"
key=test-key
"$tool" stylesheet --site-key "$key" > "$site/vantoro.css"
[[ -s $site/vantoro.css ]] || { echo "FAIL: the stylesheet is empty"; exit 1; }

# Both the original and the protected copies load the site's stylesheet, linked
# first thing in the head (or at the very start, after a byte order mark, of a
# page without a head start tag).
link_stylesheet() {  # in out
  python3 - "$1" "$2" <<'EOF'
import re, sys
page = open(sys.argv[1], "rb").read()
link = b'<link rel="stylesheet" href="/vantoro.css">'
head = re.search(rb"<head(?=[\s/>])[^>]*>", page, re.IGNORECASE)
at = head.end() if head else (3 if page.startswith(b"\xef\xbb\xbf") else 0)
open(sys.argv[2], "wb").write(page[:at] + link + page[at:])
EOF
}

names=()
for page in "$corpus"/*.html; do
  name=$(basename "$page" .html)
  names+=("$name")
  link_stylesheet "$page" "$site/$name.orig.html"
  "$tool" protect --hide class --site-key "$key" --copyright "$copyright" \
    "$site/$name.orig.html" > "$site/$name.class.html"
  "$tool" protect --hide style --copyright "$copyright" \
    "$site/$name.orig.html" > "$site/$name.style.html"
done

python3 "$here/csp_server.py" "$site" "$work/port" 900 &
server=$!
for _ in $(seq 100); do
  [[ -s $work/port ]] && break
  kill -0 "$server" 2>/dev/null || { echo "FAIL: the test server did not start"; exit 1; }
  sleep 0.1
done
[[ -s $work/port ]] || { echo "FAIL: the test server did not start in time"; exit 1; }

# Playwright's own temporary files (the browser profile) go with the rest.
TMPDIR=$work timeout 600 node "$node_dir/csp_check.mjs" "$browser" \
  "http://127.0.0.1:$(<"$work/port")" "${names[@]}"
