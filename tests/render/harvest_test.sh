#!/usr/bin/env bash
# The notice must reach whoever harvests a protected page, with whatever tool,
# and stay out of what a reader sees or hears. Every saved real page, protected
# the default way (--hide layered, with a key and a mark id), is harvested:
#   innertext             headless Chromium's document.body.innerText
#   clipboard             select all, copy, and read the clipboard back
#   readability-chromium  Readability run inside Chromium (where it finds an article)
#   readability-jsdom     Readability over jsdom (where it finds an article)
#   soup                  BeautifulSoup's get_text()
#   rules                 a text pipeline's cleaning rules: the notice or its mark stays
#   a11y                  no node of Chromium's accessibility tree is named with the notice
#   screenshots           the page looks exactly like the original at 375, 1024 and 1600 px
#   trace                 vantoro trace finds the id in the innerText and in 29 of 30
#                         windows of 1.5 KB of the article, and nothing in the original
#                         or in a copy protected with another key
# Each must hold on every page. The first five are also counted, failing nothing,
# for --hide style and --hide class, to show what each way of hiding gives away.
# Usage: harvest_test.sh VANTORO_BINARY CORPUS_DIR [NODE_DIR]   (exit 77: skipped)
# NODE_DIR: where the npm packages go (default: beside this script).
set -euo pipefail
tool=$1 corpus=$2
[[ $tool == /* ]] || tool=$PWD/$tool
here=$(cd "$(dirname "$0")" && pwd)
node_dir=${3:-$here}
source "$here/node_setup.sh"

compgen -G "$corpus/*.html" >/dev/null || { echo "SKIP: no pages in $corpus"; exit 77; }
browser=$(command -v chromium || command -v chromium-browser || true)
[[ -n $browser ]] || not_there "chromium is not installed"
need node npm flock python3
# Debian's BeautifulSoup is the system Python's, which another python3 on PATH may not see.
python=
for candidate in python3 /usr/bin/python3; do
  if command -v "$candidate" >/dev/null && "$candidate" -c 'import bs4' 2>/dev/null; then
    python=$candidate
    break
  fi
done
[[ -n $python ]] || not_there "BeautifulSoup (python3-bs4) is not installed"
node_packages "$node_dir"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
site=$work/site
mkdir "$site"

copyright="Example Site:All rights reserved"
key=test-key
mark_id=0x9e3779b97f4a7c15
"$tool" stylesheet --site-key "$key" > "$site/vantoro.css"

# The --hide class copy loads the site's stylesheet, linked first thing in the
# head (or at the very start, after a byte order mark, of a page without a head
# start tag).
link_stylesheet() {  # in out
  "$python" - "$1" "$2" <<'EOF'
import re, sys
page = open(sys.argv[1], "rb").read()
link = b'<link rel="stylesheet" href="/vantoro.css">'
head = re.search(rb"<head(?=[\s/>])[^>]*>", page, re.IGNORECASE)
at = head.end() if head else (3 if page.startswith(b"\xef\xbb\xbf") else 0)
open(sys.argv[2], "wb").write(page[:at] + link + page[at:])
EOF
}

# A copy the tool cannot make is left out; its checks then fail.
protect() {  # out page option...
  local out=$1 page=$2
  shift 2
  if ! "$tool" protect --copyright "$copyright" "$@" "$page" > "$out" 2> "$work/stderr"; then
    rm -f "$out"
    echo "FAIL: $(basename "$page"): vantoro protect $* failed: $(head -c 200 "$work/stderr")"
  fi
}

names=()
for page in "$corpus"/*.html; do
  name=$(basename "$page" .html)
  names+=("$name")
  cp "$page" "$site/$name.orig.html"
  protect "$site/$name.layered.html" "$page" --hide layered --site-key "$key" --mark-id "$mark_id"
  protect "$site/$name.otherkey.html" "$page" --hide layered --site-key other-key --mark-id "$mark_id"
  protect "$site/$name.style.html" "$page" --hide style
  link_stylesheet "$page" "$work/$name.linked.html"
  protect "$site/$name.class.html" "$work/$name.linked.html" --hide class --site-key "$key"
done

# Playwright's own temporary files (the browser profile) go with the rest.
TMPDIR=$work timeout 780 node "$node_dir/harvest.mjs" "$browser" "$site" "${names[@]}" \
  > "$work/verdicts" || { echo "FAIL: harvest.mjs stopped with status $?"; exit 1; }
timeout 600 "$python" "$here/harvest_rules.py" "$tool" "$key" "$mark_id" "$site" "${names[@]}" \
  >> "$work/verdicts" || { echo "FAIL: harvest_rules.py stopped with status $?"; exit 1; }

count() {  # copy check verdict
  awk -v c="$1" -v k="$2" -v v="$3" '$2 == c && $3 == k && $4 == v { n++ } END { print n + 0 }' \
    "$work/verdicts"
}
checks=(innertext clipboard readability-chromium readability-jsdom soup rules a11y screenshots trace)
echo "--hide layered (the default), every check must hold on every page:"
for check in "${checks[@]}"; do
  pass=$(count layered "$check" pass) fail=$(count layered "$check" fail) none=$(count layered "$check" none)
  echo "  $check: $pass of $((pass + fail)) pages$( ((none == 0)) || echo " ($none without an article)")"
done
windows() {  # kind
  awk -v k="$1" '$2 == "layered" && $3 == k { n += $4; m += 30 } END { print n + 0 " of " m + 0 }' \
    "$work/verdicts"
}
echo "  trace: the id found in $(windows windows) windows of the articles, as copied" \
     "($(windows windows-raw) with the markup's whitespace left in)"
echo "  screenshot pairs taken again: $(awk '$3 == "retaken" { print $4 }' "$work/verdicts")"
for copy in style class; do
  echo "--hide $copy, for comparison (fails nothing):"
  for check in "${checks[@]:0:5}"; do
    pass=$(count "$copy" "$check" pass) fail=$(count "$copy" "$check" fail) none=$(count "$copy" "$check" none)
    echo "  $check: $pass of $((pass + fail)) pages$( ((none == 0)) || echo " ($none without an article)")"
  done
done

awk '$2 == "layered" && $4 == "fail" { $2 = ""; $4 = ""; print "FAIL: " $0 }' "$work/verdicts" \
  | sed 's/  */ /g'
# A page passes when every check holds on its protected copy.
passed=0 failed=0
for name in "${names[@]}"; do
  if awk -v n="$name" '$1 == n && $2 == "layered" && $4 == "fail" { bad = 1 } END { exit !bad }' \
       "$work/verdicts" || [[ ! -s $site/$name.layered.html ]]; then
    failed=$((failed + 1))
  else
    passed=$((passed + 1))
  fi
done
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
