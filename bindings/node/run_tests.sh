#!/usr/bin/env bash
# Builds the engine's static library, installs the package's npm dependencies
# (npm ci), builds the addon with warnings as errors and runs the tests with
# Node's own test runner. Without node or npm it exits 77 (skipped), but under
# CI=true it fails. Any other failure fails the script.
#
#   bindings/node/run_tests.sh
#
# VANTORO_LIBRARY_DIR names a CMake build folder of the project that has built
# (or will build) vantoro_static; default build/node-lib at the project root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

missing() {
  if [[ ${CI:-} == true ]]; then
    echo "$0: $1" >&2
    exit 1
  fi
  echo "$0: skipped: $1" >&2
  exit 77
}
command -v node >/dev/null || missing "node is not installed (Debian: nodejs)"
command -v npm >/dev/null || missing "npm is not installed (Debian: npm)"
node -e 'const [a, b] = process.versions.node.split(".").map(Number); process.exit(a > 18 || (a === 18 && b >= 17) ? 0 : 1)' ||
  missing "node $(node --version) is older than 18.17"
nodedir=$(node -p 'require("path").resolve(require("path").dirname(process.execPath), "..")')
[[ -f $nodedir/include/node/node_api.h ]] || missing "no Node headers in $nodedir/include/node"

source "$root/scripts/engine-library.sh"
lib=$(engine_library "$root/build/node-lib" 2 vantoro_static)
export VANTORO_LIBRARY_DIR=$lib

cd "$here"
npm ci --ignore-scripts --prefer-offline --no-audit --no-fund --loglevel=error
VANTORO_WERROR=1 node scripts/build.js >build.log 2>&1 || { cat build.log >&2; exit 1; }
rm -f build.log
node --test test/*.test.js
