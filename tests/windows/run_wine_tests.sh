#!/usr/bin/env bash
# Registers Marquel.dll in a fresh Wine prefix and drives it from VBScript with
# Wine's cscript. Usage: run_wine_tests.sh DLL win64|win32 WORK_DIR [required]
# A missing Wine (or its 32-bit half for win32) is a skip (exit 77), or a failure
# with "required": a build that asks for the Wine tests must not pass without
# them. A kernel that cannot run 32-bit programs is always a skip for win32: that
# is the machine, not a missing package.
set -euo pipefail
dll=$1 arch=$2 work=$3 required=${4:-}
here=$(cd "$(dirname "$0")" && pwd)

fail() { echo "FAIL: $*"; exit 1; }
missing() {
  [[ $required == required ]] && fail "$* (the build requires the Wine tests: VANTORO_WINE_REQUIRED)"
  echo "SKIP: $*"; exit 77
}

[[ -x $(command -v wine || true) ]] || missing "wine is not installed (packages wine, wine64)"
if [[ $arch == win32 ]]; then
  if [[ $(dpkg-query -W -f='${Status}' wine32 2>/dev/null) != *"ok installed"* ]]; then
    # Set by a caller that tried to install it and could not (a mirror without
    # its i386 lists): that is the machine's network, not a missing step.
    if [[ -n ${VANTORO_WINE32_UNAVAILABLE:-} ]]; then
      echo "SKIP: wine32 (i386) is not installed: $VANTORO_WINE32_UNAVAILABLE"; exit 77
    fi
    missing "wine32 (i386) is not installed"
  fi
  # The 32-bit loader is itself a 32-bit ELF program, so starting it is the probe.
  # A kernel without 32-bit support refuses it with ENOEXEC; any other failure
  # means the installed 32-bit Wine is broken, which must not pass as a skip.
  if ! probe=$(LC_ALL=C /usr/lib/wine/wine --version 2>&1); then
    if grep -q "Exec format error" <<<"$probe"; then
      echo "SKIP: this machine cannot run 32-bit programs: $probe"; exit 77
    fi
    fail "the 32-bit Wine loader does not start: $probe"
  fi
fi

# Debian's "wine" runs the 32-bit loader whenever wine32 is installed; the 64-bit
# server must be registered and used by 64-bit processes.
wine=wine
if [[ $arch == win64 && -x /usr/lib/wine/wine64 ]]; then
  wine=/usr/lib/wine/wine64
  export WINELOADER=$wine
fi

export WINEPREFIX=$work/prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
rm -rf "$work"
mkdir -p "$work"
cleanup() { timeout 30 wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"; }
trap cleanup EXIT
win() { echo "Z:${1//\//\\}"; }

timeout 300 "$wine" wineboot -i >"$work/wineboot.txt" 2>&1 || fail "wineboot: $(tail -5 "$work/wineboot.txt")"
cp "$dll" "$work/Marquel.dll"
timeout 120 "$wine" regsvr32 /s "$(win "$work/Marquel.dll")" || fail "regsvr32"

utf16() { printf '\xff\xfe'; printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE; }
notice='版权所有:Example 😀,第二'
utf16 "$notice" > "$work/notice.txt"
# "a", a lone high surrogate, "b", a lone low surrogate, then a valid pair.
printf '\xff\xfea\x00\x00\xd8b\x00\x00\xdc=\xd8\x00\xde' > "$work/lone.txt"
utf16 $'<!DOCTYPE html>\r\n<html><body><p id="main">文字<br>text</p></body></html>' > "$work/page.html"

run_script() {  # script
  WINEDEBUG=-all,fixme+wscript timeout 300 "$wine" cscript //nologo "$(win "$here/$1")" "$(win "$work")" \
    > "$work/out.txt" 2> "$work/err.txt" || true
  tr -d '\r' < "$work/out.txt"
  if grep -q OnScriptError "$work/err.txt"; then fail "$1: script error: $(grep OnScriptError "$work/err.txt" | head -3)"; fi
  grep -qE "^[0-9]+ passed, 0 failed$" <<<"$(tr -d '\r' < "$work/out.txt")" || fail "$1 did not pass"
}
run_script marquel_test.vbs
run_script conversions_test.vbs

from16() { iconv -f UTF-16 -t UTF-8 "$work/$1"; }
checks=0
cmp -s "$work/lone.txt" "$work/lone.out" || fail "lone surrogates did not round-trip: $(od -An -tx1 "$work/lone.out")"; checks=$((checks+1))
[[ "$(from16 copyrstr.out)" == "$notice" ]] || fail "CopyRStr did not round-trip: $(from16 copyrstr.out)"; checks=$((checks+1))
grep -q "<!--.Vantoro.防.采.集 v2.0正式版.-->" <<<"$(from16 rndstr.out)" || fail "no watermark with the version text"; checks=$((checks+1))
grep -q "文字" <<<"$(from16 rndstr.out)" || fail "page text lost"; checks=$((checks+1))
grep -qE "(版权所有.Example 😀|第二)" <<<"$(from16 rndcontent.out)" || fail "no copyright decoy"; checks=$((checks+1))

timeout 120 "$wine" regsvr32 /u /s "$(win "$work/Marquel.dll")" || fail "regsvr32 /u"
run_script unregistered_test.vbs
echo "$checks passed, 0 failed"
