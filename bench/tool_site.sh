#!/usr/bin/env bash
# The command-line tool on a whole site, in place: processor time (user + system)
# per megabyte, for a site of 480 real pages in a few folders and for one 11 MB
# page joined from them. Each repetition runs on fresh copies, so every page is
# read, protected, written, flushed and renamed; the median of the repetitions
# is reported, with user and system time apart (the kernel splits a process's
# time between them by sampling, so only their sum is exact). The tool runs its
# usual worker threads, pinned to one processor: processor time is what counts.
#
#   bench/tool_site.sh [REPETITIONS]   (default 7)
#
# VANTORO_TOOL        the tool (default build/default/src/cli/vantoro)
# VANTORO_CORPUS      the real pages (default /work/shared/corpus, else
#                     shared/corpus beside the project); read in place, never copied
#                     into the project
# VANTORO_BENCH_DIR   where the temporary site goes (default: $TMPDIR or /tmp); a
#                     disk, not tmpfs, or the flushes cost nothing
# VANTORO_BENCH_CPU   the processor to pin to (default: the last one); "none": no pinning
# VANTORO_BENCH_SPREAD 1 (default): each repetition's copy in a folder that ext4 places
#                     in a block group of its own (chattr +T on their parent); 0: all
#                     in one folder. A journal-less ext4 scans every inode deleted in
#                     the last minutes before it reuses one, for each file it creates:
#                     the copies deleted by earlier repetitions, or a compiler's
#                     temporary files beside them in /tmp, would be charged to the tool
#
# MB are 10^6 bytes of input pages. A benchmark, not a test.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
tool=${VANTORO_TOOL:-$root/build/default/src/cli/vantoro}
corpus=${VANTORO_CORPUS:-/work/shared/corpus}
[[ -d $corpus ]] || corpus=$root/../shared/corpus
reps=${1:-7}
[[ $reps =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [REPETITIONS]" >&2; exit 2; }
[[ -x $tool ]] || { echo "$0: no tool at $tool (build it, or set VANTORO_TOOL)" >&2; exit 1; }
pages=("$corpus"/*.html)
[[ -f ${pages[0]} ]] || { echo "$0: no pages in $corpus (set VANTORO_CORPUS)" >&2; exit 1; }

pin=()
cpu=${VANTORO_BENCH_CPU:-$(($(nproc) - 1))}
if [[ $cpu != none ]] && command -v taskset >/dev/null; then pin=(taskset -c "$cpu"); fi

work=$(mktemp -d "${VANTORO_BENCH_DIR:-${TMPDIR:-/tmp}}/vantoro-tool-site.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/runs"
spread=no
if [[ ${VANTORO_BENCH_SPREAD:-1} != 0 ]] && chattr +T "$work/runs" 2>/dev/null; then spread=yes; fi

# The site: 480 pages, the corpus cycled, in four folders, one of them nested.
folders=(site/news site/blog site/blog/2024 site/docs)
for f in "${folders[@]}"; do mkdir -p "$work/master/$f"; done
for ((i = 0; i < 480; i++)); do
  page=${pages[i % ${#pages[@]}]}
  cp "$page" "$work/master/${folders[i % ${#folders[@]}]}/$i-$(basename "$page")"
done
# The large page: whole corpus pages joined until it has 11 MB.
mkdir -p "$work/master/big"
want=$((11 * 1000 * 1000))
big=$work/master/big/big.html
: > "$big"
while (($(stat -c %s "$big") < want)); do
  for page in "${pages[@]}"; do
    cat "$page" >> "$big"
    (($(stat -c %s "$big") < want)) || break
  done
done

site_bytes=$(find "$work/master/site" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
big_bytes=$(stat -c %s "$big")

# One timed run, on a fresh copy: sets `user` and `sys` to the tool's processor
# seconds (getrusage of the subshell's children: the tool alone), after checking
# its summary line.
run_once() {  # NAME FILES COMMAND ARGS...
  local name=$1 files=$2
  shift 2
  local run=$work/runs/run
  if [[ $spread == yes ]]; then
    run=$(mktemp -d "$work/runs/XXXXXX")
  else
    mkdir "$run"
  fi
  cp -a "$work/master/$name" "$run/$name"
  sync  # the copies' own writeback stays out of the measured run
  local out
  out=$(
    cd "$run"
    "${pin[@]}" "$tool" "$@" --in-place "$name" 2> "$work/stderr" || exit 1
    times
  ) || { echo "$0: the tool failed: $(cat "$work/stderr")" >&2; exit 1; }
  grep -q "vantoro: $files files\?: $files protected" "$work/stderr" || {
    echo "$0: unexpected summary: $(cat "$work/stderr")" >&2
    exit 1
  }
  rm -rf "$run"
  # The second line of `times`: the children's user and system time, "0m0.123s".
  read -r user sys < <(sed -n 2p <<< "$out" | awk '{
    for (i = 1; i <= 2; i++) { split($i, p, "m"); sub("s", "", p[2]); v[i] = p[1] * 60 + p[2] }
    printf "%.3f %.3f\n", v[1], v[2]
  }')
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Runs a workload `reps` times and prints its line of the table.
measure() {  # LABEL NAME FILES BYTES COMMAND ARGS...
  local label=$1 name=$2 files=$3 bytes=$4
  shift 4
  local users=() syss=() rates=() user sys
  for ((r = 0; r < reps; r++)); do
    run_once "$name" "$files" "$@"
    users+=("$user")
    syss+=("$sys")
    rates+=("$(awk -v b="$bytes" -v u="$user" -v s="$sys" \
      'BEGIN { printf "%.1f\n", (u + s > 0 ? b / 1e6 / (u + s) : 0) }')")
  done
  printf '%-24s %8.1f %9.1f %10.3f %10.3f   %s\n' "$label" "$(awk -v b="$bytes" 'BEGIN { print b / 1e6 }')" \
    "$(printf '%s\n' "${rates[@]}" | median)" "$(printf '%s\n' "${users[@]}" | median)" \
    "$(printf '%s\n' "${syss[@]}" | median)" "${rates[*]}"
}

copyright=(--copyright "Example Site:All rights reserved")
echo "tool: $tool"
echo "corpus: $corpus (${#pages[@]} pages); $reps repetitions; pinned: ${pin[*]:-no}; $(nproc) processors;" \
  "a block group per repetition: $spread; $(df --output=fstype "$work" | tail -1)"
printf '%-24s %8s %9s %10s %10s   %s\n' workload MB "MB/CPU-s" "user s" "sys s" "MB/CPU-s of each run"
measure "site 480 pages, page" site 480 "$site_bytes" page
measure "site 480 pages, protect" site 480 "$site_bytes" protect "${copyright[@]}"
measure "11 MB page, page" big 1 "$big_bytes" page
measure "11 MB page, protect" big 1 "$big_bytes" protect "${copyright[@]}"
