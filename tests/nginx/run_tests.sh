#!/usr/bin/env bash
# Builds the nginx module (as shipped, and the test build that replays random
# values) and runs its tests against Debian's nginx.
#
#   tests/nginx/run_tests.sh [PYTEST ARGS...]
#
# Needs the Debian packages nginx, nginx-dev, python3-pytest and valgrind; the
# browser check also chromium, nodejs and npm (the packages of tests/render).
# Without nginx or nginx-dev it is skipped (exit 77), except under CI=true,
# where it fails. Exits non-zero when a test fails or none ran.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${VANTORO_NGINX_TESTS_BUILD:-$root/build/nginx-test}

missing() {
  if [[ ${CI:-} == true ]]; then
    echo "FAIL: $1 (CI must have it)"
    exit 1
  fi
  echo "SKIP: $1"
  exit 77
}
[[ -x /usr/sbin/nginx ]] || missing "nginx is not installed (Debian package nginx)"
[[ -f /usr/share/nginx/src/conf_flags ]] || missing "nginx-dev is not installed"
python=/usr/bin/python3
"$python" -c "import pytest" 2>/dev/null || missing "python3-pytest is not installed"
if [[ ${CI:-} == true ]]; then
  command -v valgrind >/dev/null || missing "valgrind is not installed"
fi

# One engine library for both builds of the module and the reference program:
# a CMake build folder of the project (VANTORO_LIBRARY_DIR), or one of our own.
mkdir -p "$out"
# The tool too: its trace command reads the marks of the pages nginx sends.
source "$root/scripts/engine-library.sh"
lib=$(engine_library "$out/lib" "${VANTORO_NGINX_JOBS:-2}" vantoro_static vantoro_cli)
export VANTORO_LIBRARY_DIR=$lib VANTORO_NGINX_TOOL=$lib/src/cli/vantoro
VANTORO_NGINX_MODULE=$(VANTORO_NGINX_BUILD=$out/release "$root/src/nginx/build.sh" | tail -1)
VANTORO_NGINX_TEST_MODULE=$(VANTORO_NGINX_BUILD=$out/test "$root/src/nginx/build.sh" --test | tail -1)
export VANTORO_NGINX_MODULE VANTORO_NGINX_TEST_MODULE VANTORO_NGINX_LIB=$lib

# playwright-core for the browser check, as tests/render installs it; without a
# browser that one test is skipped (under CI=true it fails).
if command -v chromium >/dev/null && command -v node >/dev/null && command -v npm >/dev/null; then
  if (source "$root/tests/render/node_setup.sh" && node_packages "$out/node") >&2; then
    export VANTORO_NODE_DIR=$out/node
  elif [[ ${CI:-} == true ]]; then
    echo "FAIL: the npm packages of tests/render did not install"
    exit 1
  fi
fi

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
