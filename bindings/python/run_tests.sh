#!/usr/bin/env bash
# Builds the Python module in BUILD_DIR (default build/python at the project
# root) and runs its tests against the build tree. Further arguments go to
# CMake's configure step. Any failure fails the script, pytest's "no tests
# ran" (exit status 5) included. -P keeps the source folder's unbuilt
# package off the module path; no bytecode is left in the source folder.
# pip, in the packaging tests, builds in the same folder: only what changed
# is rebuilt.
#
#   bindings/python/run_tests.sh [BUILD_DIR [CMAKE_ARGS...]]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build/python}
shift || true
cmake -S "$here" -B "$build" "$@" >/dev/null
cmake --build "$build" --parallel 2
build=$(cd "$build" && pwd)
PYTHONDONTWRITEBYTECODE=1 PYTHONPATH="$build" VANTORO_PYTHON_BUILD_DIR="$build" \
  /usr/bin/python3 -P -m pytest -q -p no:cacheprovider "$here/tests"
