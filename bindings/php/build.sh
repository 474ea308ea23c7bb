#!/usr/bin/env bash
# Builds the PHP extension "vantoro" and runs its tests.
#
#   bindings/php/build.sh            the engine's static library, the extension, its tests
#   bindings/php/build.sh build      the same without the tests (ext/modules/vantoro.so)
#   bindings/php/build.sh install    the same, then `make install` into PHP's extension folder
#   bindings/php/build.sh bench [PAGE] [ITERATIONS]   the same, then the benchmark (bench.php)
#   bindings/php/build.sh memcheck   the same, with every test under valgrind (leaks too)
#   bindings/php/build.sh arginfo    regenerates vantoro_arginfo.h from vantoro.stub.php
#
# Everything is built in build/php/ (VANTORO_PHP_BUILD overrides): lib/ holds the
# library (or set VANTORO_LIBRARY_DIR to an install prefix or a CMake build folder
# of it), ext/ a copy of this folder, because phpize writes dozens of files next
# to config.m4. Needs php8.2-dev and php8.2-cli besides the project's packages.
# Exits non-zero when the build fails, any test fails, or no test ran.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${VANTORO_PHP_BUILD:-$root/build/php}
ext=$out/ext
jobs=${VANTORO_PHP_JOBS:-2}
mode=${1:-test}
shift || true

case $mode in
  test|build|install|bench|memcheck|arginfo) ;;
  *) echo "usage: $0 [test|build|install|bench|memcheck|arginfo]" >&2; exit 2 ;;
esac

# Without PHP's development tools there is nothing to build: a skip (77) for the
# test suite, a failure under CI=true, where they are installed.
if ! command -v phpize >/dev/null || ! command -v php >/dev/null; then
  if [[ $mode == test && ${CI:-} != true ]]; then
    echo "SKIP: PHP is not installed (packages php8.2-cli, php8.2-dev)"; exit 77
  fi
  echo "$0: phpize and php are needed (packages php8.2-cli, php8.2-dev)" >&2; exit 1
fi

stub_hash() { php -r 'echo sha1(str_replace("\r\n", "\n", file_get_contents($argv[1])));' "$1"; }

# PHP's own generator, with the Debian package php-parser in place of the copy
# it would download.
if [[ $mode == arginfo ]]; then
  gen=$(php-config --extension-dir)/build/gen_stub.php
  [[ -f $gen ]] || gen=$(dirname "$(php-config --php-binary)")/../lib/php/$(basename "$(php-config --extension-dir)")/build/gen_stub.php
  [[ -f /usr/share/php/PhpParser/Parser.php ]] || { echo "$0: needs the Debian package php-parser" >&2; exit 1; }
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  cp "$gen" "$work/gen_stub.php"
  mkdir "$work/PHP-Parser-4.15.1" && ln -s /usr/share/php "$work/PHP-Parser-4.15.1/lib"
  cp "$here/vantoro.stub.php" "$work/"
  php "$work/gen_stub.php" -f "$work/vantoro.stub.php"
  cp "$work/vantoro_arginfo.h" "$here/vantoro_arginfo.h"
  echo "wrote $here/vantoro_arginfo.h"
  exit 0
fi

# The checked-in arginfo must describe the current stub.
if ! grep -q "Stub hash: $(stub_hash "$here/vantoro.stub.php")" "$here/vantoro_arginfo.h"; then
  echo "$0: vantoro_arginfo.h is older than vantoro.stub.php; run '$0 arginfo'" >&2
  exit 1
fi

# The engine: only its static library, in a folder of our own.
source "$root/scripts/engine-library.sh"
lib=$(engine_library "$out/lib" "$jobs" vantoro_static)

# The extension, configured again whenever config.m4 or the library changed.
mkdir -p "$ext"
rm -rf "$ext/tests"
cp -p "$here"/vantoro.c "$here"/php_vantoro.h "$here"/vantoro_arginfo.h "$here"/vantoro.stub.php "$ext/"
cp -rp "$here/tests" "$ext/tests"
stamp="$lib $(stat -c %Y "$here/config.m4")"
if [[ ! -f $ext/Makefile || $(cat "$ext/.configured" 2>/dev/null) != "$stamp" ]]; then
  cp -p "$here/config.m4" "$ext/"
  # phpize's autoconf run warns about PHP's own macros: shown only on failure.
  (cd "$ext" && phpize && ./configure --with-vantoro="$lib") >"$ext/configure.out" 2>&1 || {
    cat "$ext/configure.out" >&2; exit 1; }
  echo "$stamp" >"$ext/.configured"
fi
# The archive may be newer than the module even when no source changed.
[[ $ext/modules/vantoro.so -nt $(find "$lib" -maxdepth 3 -name libvantoro.a | head -1) ]] ||
  rm -f "$ext/modules/vantoro.so" "$ext/vantoro.la"
make -C "$ext" -j "$jobs" >"$ext/make.out" 2>&1 || { cat "$ext/make.out" >&2; exit 1; }
grep -E "warning:" "$ext/make.out" >&2 || true
[[ $mode != build ]] || exit 0

# The tests, through PHP's run-tests.php as `make test` runs it.
log=$ext/test.out
options="--show-diff"
# PCRE's JIT reads past buffers on purpose; valgrind would report it as ours.
[[ $mode == memcheck ]] && options="$options -m -d pcre.jit=0"
set +e
NO_COLOR=1 make -C "$ext" test NO_INTERACTION=1 REPORT_EXIT_STATUS=1 TESTS="$options tests" >"$log" 2>&1
status=$?
set -e
# run-tests.php ends its progress lines with a carriage return.
tr '\r' '\n' <"$log" |
  grep -E "^(PASS|FAIL|SKIP|BORK|LEAK|WARN|XFAIL)|^Tests |^Number of tests|No tests were run" || true
if ((status != 0)); then
  sed -n '/^=\+$/,$p' "$log" | head -200
fi
count() { sed -n "s/^Tests $1 *: *\([0-9]*\).*/\1/p" "$log" | head -1; }
passed=$(count passed); skipped=$(count skipped); failed=$(count failed)
borked=$(count borked); leaked=$(count leaked)
failed=$((${failed:-0} + ${borked:-0} + ${leaked:-0}))
passed=${passed:-0}; skipped=${skipped:-0}
echo "$passed passed, $failed failed, $skipped skipped"
if ((status != 0 || failed != 0 || passed == 0)); then
  echo "$0: PHP tests failed (make test exit $status; full log: $log)" >&2
  exit 1
fi

case $mode in
  install) make -C "$ext" install ;;
  bench)
    # The driver is built exactly like the module: the same archive, -O2.
    archive=$(find "$lib" -maxdepth 3 -name libvantoro.a | head -1)
    includes=$(sed -n 's/^INCLUDES = //p' "$ext/Makefile")
    cc -O2 $includes "$here/bench_capi.c" "$archive" -lsodium -lstdc++ -lm -o "$ext/bench_capi"
    php -n -d extension="$ext/modules/vantoro.so" "$here/bench.php" "$ext/bench_capi" "$@"
    ;;
esac
