#!/usr/bin/env bash
# Builds the Apache module (as shipped, and the test build that replays random
# values) and runs its tests against Debian's Apache httpd.
#
#   tests/apache/run_tests.sh [PYTEST ARGS...]
#
# Needs the Debian packages apache2, apache2-dev and python3-pytest (and what
# building the library needs: g++, cmake, ninja-build, libsodium-dev). Without
# apache2 or apxs it is skipped (exit 77), except under CI=true, where it
# fails. Exits non-zero when a test fails or none ran. VANTORO_LIBRARY_DIR: a
# CMake build folder of the project to build the library and the tool in.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${VANTORO_APACHE_TESTS_BUILD:-$root/build/apache-test}

missing() {
  if [[ ${CI:-} == true ]]; then
    echo "FAIL: $1 (CI must have it)"
    exit 1
  fi
  echo "SKIP: $1"
  exit 77
}
[[ -x /usr/sbin/apache2 ]] || missing "apache2 is not installed (Debian package apache2)"
command -v apxs >/dev/null || missing "apxs is not installed (Debian package apache2-dev)"
python=/usr/bin/python3
"$python" -c "import pytest" 2>/dev/null || missing "python3-pytest is not installed"

# One engine library for both builds of the module, the reference program and
# the tool, whose trace command reads the marks of the pages httpd sends: in a
# CMake build folder of our own, or VANTORO_LIBRARY_DIR's.
mkdir -p "$out"
source "$root/scripts/engine-library.sh"
lib=$(engine_library "$out/lib" "${VANTORO_APACHE_JOBS:-2}" vantoro_static vantoro_cli)
export VANTORO_LIBRARY_DIR=$lib VANTORO_APACHE_TOOL=$lib/src/cli/vantoro
VANTORO_APACHE_MODULE=$(VANTORO_APACHE_BUILD=$out/release "$root/src/apache/build.sh" | tail -1)
VANTORO_APACHE_TEST_MODULE=$(VANTORO_APACHE_BUILD=$out/test "$root/src/apache/build.sh" --test | tail -1)
export VANTORO_APACHE_MODULE VANTORO_APACHE_TEST_MODULE VANTORO_APACHE_LIB=$lib

cd "$here"
export PYTHONDONTWRITEBYTECODE=1
set +e
"$python" -m pytest -o cache_dir="$out/.pytest_cache" -rfEs "$@"
status=$?
set -e
# pytest's 5: no test ran, which is a failure here
if ((status == 5)); then
  echo "FAIL: no test ran"
  exit 1
fi
exit "$status"
