#!/usr/bin/env bash
# Every speed target of the project in one run, so that the figures come from
# the same machine in the same minutes: the passes and protect on one core
# (vantoro_bench, median of repetitions), the hostile pages' growth, nginx
# against sub_filter, a small file's p99 beside large protected pages, and the
# tool on a whole site. Prints the machine (processor, cores, kernel), each
# benchmark's own output, then one table: target, measured, met or not.
#
#   bench/report.sh [REPETITIONS]   (default 3)
#
# Needs what the benchmarks it runs need: the default build (vantoro_bench and
# the tool), nginx, nginx-dev, wrk, python3 and the corpus. Takes about ten
# minutes. A benchmark, not a test: it fails only when a benchmark fails.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
reps=${1:-3}
[[ $reps =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [REPETITIONS]" >&2; exit 2; }
bench=${VANTORO_BENCH:-$root/build/default/bench/vantoro_bench}
[[ -x $bench ]] || { echo "$0: no $bench (build the default preset)" >&2; exit 1; }
command -v python3 >/dev/null || { echo "$0: python3 is not installed" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

cpu=$(($(nproc) - 1))
echo "machine: $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)," \
     "$(nproc) cores, $(uname -sr); $(date -u '+%Y-%m-%d %H:%M UTC')"
echo

echo "== the passes and protect, one core (core $cpu), median of $reps"
taskset -c "$cpu" "$bench" --benchmark_repetitions="$reps" --benchmark_min_time=0.3 \
  --benchmark_report_aggregates_only=true --benchmark_format=console \
  --benchmark_out="$out/passes.json" --benchmark_out_format=json | grep -E "_median|^-|^Benchmark"
echo
echo "== nginx against sub_filter"
bash "$here/nginx_load.sh" 6 32 | tee "$out/load.txt"
echo
echo "== a small file beside large protected pages"
bash "$here/nginx_latency.sh" 8 2 | tee "$out/latency.txt"
echo
echo "== the tool on a whole site"
bash "$here/tool_site.sh" 5 | tee "$out/tool.txt"
echo

python3 - "$out" <<'EOF'
import json, re, sys
out = sys.argv[1]
rows = []

def row(target, measured, met):
    rows.append((target, measured, "met" if met else "not met"))

medians = {}
for b in json.load(open(f"{out}/passes.json"))["benchmarks"]:
    if b.get("aggregate_name") == "median":
        medians[b["run_name"]] = b

def rate(name):
    return medians[name]["bytes_per_second"] / 1e9

for name, label, goal in [
    ("BM_PagePassCorpus", "page pass, real pages one by one", 1.5),
    ("BM_PagePassJoined/20971520", "page pass, real pages joined to 20 MB", 1.5),
    ("BM_ContentPassCorpus", "content pass, real pages one by one", 2.0),
    ("BM_ContentPassJoined/20971520", "content pass, real pages joined to 20 MB", 2.0),
    ("BM_ProtectCorpusByMethod/2", "protect (layered), real pages", 1.0),
]:
    if name in medians:
        row(f"{label} >= {goal} GB/s", f"{rate(name):.2f} GB/s", rate(name) >= goal)

# Hostile pages: 10 times the size in at most 12 times the time.
for small, large in [("BM_NoGreaterThan/1", "BM_NoGreaterThan/10"),
                     ("BM_OneHugeTag/1", "BM_OneHugeTag/10"),
                     ("BM_LineBreaksPage/1", "BM_LineBreaksPage/10"),
                     ("BM_LineBreaksContent/1", "BM_LineBreaksContent/10"),
                     ("BM_Declarations/1", "BM_Declarations/10"),
                     ("BM_DeepNesting/1", "BM_DeepNesting/10"),
                     ("BM_OrdinaryPage/5", "BM_OrdinaryPage/50")]:
    if small in medians and large in medians:
        ratio = medians[large]["cpu_time"] / medians[small]["cpu_time"]
        row(f"{large.split('/')[0][3:]}: 10x the size <= 12x the time", f"{ratio:.1f}x", ratio <= 12)

load = {}
for line in open(f"{out}/load.txt"):
    f = line.split()
    if len(f) >= 3 and f[0] in ("plain", "sub", "vantoro") and f[1] in ("small", "large"):
        load[(f[0], f[1])] = float(f[2])
for page, goal in [("small", 3.0), ("large", 1.5)]:
    if ("sub", page) in load and ("vantoro", page) in load:
        ratio = load[("vantoro", page)] / load[("sub", page)]
        size = "87 KB" if page == "small" else "1.25 MB"
        row(f"nginx, {size}: protect >= {goal}x sub_filter req/s",
            f"{ratio:.2f}x ({load[('vantoro', page)]:.0f} vs {load[('sub', page)]:.0f})", ratio >= goal)

def ms(text):
    number = re.match(r"[0-9.]+", text).group()
    return float(number) * {"us": 1e-3, "ms": 1.0, "s": 1e3}[text[len(number):]]

# The last six columns: p50, p90, p99, max, small r/s, large r/s.
p99 = {}
for line in open(f"{out}/latency.txt"):
    m = re.match(r"\((a|c)\) ", line)
    if m:
        p99[m.group(1)] = ms(line.split()[-4])
if "a" in p99 and "c" in p99:
    ratio = p99["c"] / p99["a"]
    row("small file p99 with the pool <= 2x its p99 alone",
        f"{ratio:.2f}x ({p99['c']:.2f} vs {p99['a']:.2f} ms)", ratio <= 2)

for line in open(f"{out}/tool.txt"):
    m = re.match(r"(site 480 pages|11 MB page), (page|protect)\s+([0-9.]+)\s+([0-9.]+)", line)
    if m:
        rate_ = float(m.group(4))
        row(f"tool, {m.group(1)}, {m.group(2)} >= 400 MB per CPU second", f"{rate_:.0f}", rate_ >= 400)

width = max(len(r[0]) for r in rows)
print(f"{'target':<{width}}  {'measured':<28}  verdict")
for target, measured, verdict in rows:
    print(f"{target:<{width}}  {measured:<28}  {verdict}")
EOF
