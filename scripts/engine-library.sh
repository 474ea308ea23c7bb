# Sourced by the adapters' build and test scripts: where the engine's static
# library comes from.
#
#   lib=$(engine_library DEFAULT_DIR JOBS TARGET...)
#
# prints the CMake build folder to link: VANTORO_LIBRARY_DIR when it is set (a
# build of the project, whose owner keeps it up to date: only targets it has
# not built yet are built there, so that suites sharing it never run two builds
# in it at once), else DEFAULT_DIR, configured there on first use as a Release
# build without tests, and brought up to date. TARGET... is vantoro_static, and
# vantoro_cli where the tool is needed. Quiet: the build's output is shown
# only when it fails.
engine_library() {
  local default=$1 jobs=$2 root lib log target
  shift 2
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  if [[ -n ${VANTORO_LIBRARY_DIR:-} ]]; then
    lib=$(cd "$VANTORO_LIBRARY_DIR" && pwd) || return 1
    local wanted=("$@")
    set --
    for target in "${wanted[@]}"; do
      case $target in
        vantoro_static) [[ -f $lib/libvantoro.a ]] || set -- "$@" "$target" ;;
        vantoro_cli) [[ -x $lib/src/cli/vantoro ]] || set -- "$@" "$target" ;;
        *) set -- "$@" "$target" ;;
      esac
    done
    if (($# == 0)); then echo "$lib"; return 0; fi
  else
    lib=$default
  fi
  log=$(mktemp)
  # build.ninja, not CMakeCache.txt: a configure that failed half-way is redone.
  if ! { if [[ -z ${VANTORO_LIBRARY_DIR:-} && ! -f $lib/build.ninja ]]; then
           cmake -S "$root" -B "$lib" -G Ninja -DCMAKE_BUILD_TYPE=Release \
             -DVANTORO_BUILD_TESTS=OFF -DVANTORO_BUILD_BENCH=OFF
         fi && cmake --build "$lib" --target "$@" -j "$jobs"; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "engine_library: building $* in $lib failed" >&2
    return 1
  fi
  rm -f "$log"
  echo "$lib"
}
