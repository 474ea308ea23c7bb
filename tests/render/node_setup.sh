# Sourced by the tests here that drive Node.js programs.
#
#   need TOOL...        every TOOL must be on PATH: without one the test is
#                       skipped (exit 77), except under CI=true, where CI installs
#                       them all, so that a missing one fails it
#   node_packages DIR   installs the packages of package-lock.json (npm ci) into
#                       DIR, with this folder's package files and programs copied
#                       there when DIR is elsewhere (a build tree, say)
# Both leave a failure or a skip as the exit status of the calling script.

render_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

not_there() {  # reason
  if [[ ${CI:-} == true ]]; then
    echo "FAIL: $1 (CI must have it)"
    exit 1
  fi
  echo "SKIP: $1"
  exit 77
}

need() {
  local tool
  for tool; do
    command -v "$tool" >/dev/null || not_there "$tool is not installed"
  done
}

node_packages() {  # dir
  local dir=$1 stamp
  mkdir -p "$dir"
  if [[ $(cd "$dir" && pwd) != "$render_dir" ]]; then
    cp "$render_dir"/package.json "$render_dir"/package-lock.json "$render_dir"/*.mjs "$dir"/
  fi
  # npm ci starts by deleting node_modules: once the packages of this very lock
  # file are there, they are kept, and two tests started at once install in turn.
  stamp=$(sha256sum < "$dir/package-lock.json")
  (
    flock 9
    [[ -f $dir/node_modules/.vantoro-lock && $(<"$dir/node_modules/.vantoro-lock") == "$stamp" ]] && exit 0
    # No package here needs an install script; the browser is the machine's own.
    (cd "$dir" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 timeout 300 \
       npm ci --no-audit --no-fund --ignore-scripts --prefer-offline --loglevel=error) >&2 || exit 1
    echo "$stamp" > "$dir/node_modules/.vantoro-lock"
  ) 9>"$dir/.npm-lock" || not_there "npm ci failed in $dir (is the npm registry or npm's cache there?)"
}
