#!/bin/bash
# Batch mode against its peers, on three mixes of tables up to 50000 and
# two beyond (see make_mix.cpp):
#
#   bench/batch.sh [TABLES] [RUNS] [LARGE]   (defaults 1000000 tables, 5 runs,
#                                              3000 tables of the large mixes)
#
# For each mix up to 50000, in one run of the script:
#   batch     fisher2x2 --batch over the file, output to /dev/null
#   precise   fisher2x2 --batch --precise, the accurate computation
#   htslib    a C filter around htslib's kt_fisher_exact (fgets, sscanf,
#             printf "%10.6f"): the same statistic computed another way
#   engine    FisherTest alone, in process, over the parsed tables
#             (batch_bench, Google Benchmark)
#   process   one fisher2x2 process per table on the first thousand
#             tables: started by xargs (the cheapest way), and from a shell
#             loop (`while read`), as users write it
# and reports per-table times and the ratios. For the cohort and interval
# mixes, fisher2x2 --batch (the accurate computation, six decimals) against
# the htslib filter with its limit lifted to 32-bit counts. Needs hyperfine,
# python3, Google Benchmark and libhts-dev.
source "$(dirname "$0")/common.sh"
tables=${1:-1000000} runs=${2:-5} large=${3:-3000}
need hyperfine python3
[ -f /usr/include/htslib/kfunc.h ] || { echo "libhts-dev is needed"; exit 1; }
prepare batch_bench
cc -O2 -o "$out/htslib_filter" bench/htslib_filter.c -lhts

mean() {  # hyperfine's mean time in seconds of a shell command
  hyperfine --warmup 1 --runs "$1" --export-json "$work/h.json" "$2" >/dev/null 2>&1
  python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][0]["mean"])' "$work/h.json"
}

cat >"$work/loop.sh" <<LOOP
while read -r a b c d t; do "$tool" "\$a" "\$b" "\$c" "\$d" "\$t"; echo; done
LOOP

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "$tables tables per mix; times per table"
printf '| mix | batch | --precise | htslib filter | engine alone | process per table (xargs / shell loop) | htslib / batch | process / batch (xargs / loop) | batch / engine | --precise / batch |\n'
printf '|-----|-------|-----------|---------------|--------------|----------------------------------------|----------------|--------------------------------|----------------|-------------------|\n'
for mix in small medium large; do
  "$out/bench/make_mix" $mix "$tables" >"$work/$mix"
  head -n 1000 "$work/$mix" >"$work/$mix.1000"
  batch=$(mean "$runs" "$tool --batch $work/$mix >/dev/null")
  precise=$(mean "$runs" "$tool --batch --precise $work/$mix >/dev/null")
  hts=$(mean "$runs" "$out/htslib_filter <$work/$mix >/dev/null")
  proc=$(mean 3 "xargs -n 5 $tool <$work/$mix.1000 >/dev/null")
  loop=$(mean 3 "bash $work/loop.sh <$work/$mix.1000 >/dev/null")
  engine=$("$out/bench/batch_bench" "$work/$mix" --benchmark_min_time=1 --benchmark_format=json |
    python3 -c 'import json,sys; print(json.load(sys.stdin)["benchmarks"][0]["ns_per_table"] * 1e9)')
  python3 - "$mix" "$tables" "$batch" "$hts" "$proc" "$loop" "$engine" "$precise" <<'PY'
import sys
mix, n = sys.argv[1], int(sys.argv[2])
batch, hts, proc, loop, engine, precise = (float(x) for x in sys.argv[3:])
b, h, p, l, e = batch / n * 1e9, hts / n * 1e9, proc / 1000 * 1e9, loop / 1000 * 1e9, engine
r = precise / n * 1e9
print(f"| {mix} | {b:.0f} ns | {r:.0f} ns | {h:.0f} ns | {e:.0f} ns | {p / 1e3:.0f} µs / {l / 1e3:.0f} µs "
      f"| {h / b:.1f} | {p / b:.0f} / {l / b:.0f} | {b / e:.2f} | {r / b:.2f} |")
PY
done

echo
echo "$large tables per mix beyond 50000; times per table"
printf '| mix | batch | htslib filter | htslib / batch |\n|-----|-------|---------------|----------------|\n'
for mix in cohort interval; do
  "$out/bench/make_mix" $mix "$large" >"$work/$mix"
  batch=$(mean "$runs" "$tool --batch $work/$mix >/dev/null")
  hts=$(mean 3 "$out/htslib_filter any <$work/$mix >/dev/null")
  python3 -c 'import sys; m, n, b, h = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]); print(f"| {m} | {b / n * 1e6:.1f} µs | {h / n * 1e6:.1f} µs | {h / b:.0f} |")' \
    "$mix" "$large" "$batch" "$hts"
done
