#!/usr/bin/env bash
# The notice must come along when a harvesting program takes a page's article:
# every saved real page, protected with each way of hiding the decoys, goes
# through a reader-view extractor (Readability over jsdom), and wherever it finds
# an article, the extracted text must hold the notice. Pages where it finds none
# are counted, and fail nothing.
# Usage: extract_test.sh VANTORO_BINARY CORPUS_DIR [NODE_DIR]   (exit 77: skipped)
# NODE_DIR: where the npm packages go (default: beside this script).
set -euo pipefail
tool=$1 corpus=$2
here=$(cd "$(dirname "$0")" && pwd)
node_dir=${3:-$here}
source "$here/node_setup.sh"

compgen -G "$corpus/*.html" >/dev/null || { echo "SKIP: no pages in $corpus"; exit 77; }
need node npm flock
node_packages "$node_dir"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

copyright="Example Site:All rights reserved"
methods=(style class)
names=()
for page in "$corpus"/*.html; do
  name=$(basename "$page" .html)
  names+=("$name")
  "$tool" protect --hide style --copyright "$copyright" "$page" > "$work/$name.style.html"
  "$tool" protect --hide class --site-key test-key --copyright "$copyright" "$page" \
    > "$work/$name.class.html"
done

timeout 300 node "$node_dir/extract.mjs" "$work" "${methods[@]}" -- "${names[@]}" > "$work/verdicts"

passed=0 failed=0
for method in "${methods[@]}"; do
  kept=0 lost=0 none=0
  while read -r name m verdict; do
    [[ $m == "$method" ]] || continue
    case $verdict in
      kept) kept=$((kept + 1)) ;;
      none) none=$((none + 1)) ;;
      *) lost=$((lost + 1)); echo "FAIL: $name with --hide $method: the extracted article has no notice" ;;
    esac
  done < "$work/verdicts"
  echo "--hide $method: notice kept on $kept of $((kept + lost)) pages with an article" \
       "($none of ${#names[@]} pages without one)"
done
# A page passes when the notice stays in its article with every method.
for name in "${names[@]}"; do
  if grep -q "^$name [^ ]* lost$" "$work/verdicts"; then
    failed=$((failed + 1))
  else
    passed=$((passed + 1))
  fi
done
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
