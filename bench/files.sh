#!/bin/bash
# --columns, --header and --keep against plain batch mode, on the three
# mixes of tables up to 50000 (make_mix.cpp) written twice: as plain lines
# "a b c d test", and as a 10-column TSV with a header whose counts sit in
# columns 4 to 8 among an id, a chromosome, a position, a gene name and a
# free-text note:
#
#   bench/files.sh [TABLES] [RUNS]   (defaults 1000000 tables, 5 runs)
#
# For each mix, in one hyperfine run:
#   plain       fisher2x2 -b over the plain lines
#   columns     fisher2x2 -bH -c a,b,c,d,test over the TSV
#   keep        fisher2x2 -bkH -c a,b,c,d,test: each TSV line and its p-value
#   plain keep  fisher2x2 -bk over the plain lines
# and reports the times per table and their ratios to plain; then the same
# four runs on the first 100000 tables of each mix under callgrind, whose
# instruction counts do not move with a shared machine's load. Needs
# hyperfine, python3 and valgrind.
source "$(dirname "$0")/common.sh"
tables=${1:-1000000} runs=${2:-5}
need hyperfine python3 valgrind
prepare

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "$tables tables per mix; times per table"
printf '| mix | plain | --columns (by name) | --columns --keep | --keep (plain lines) | columns / plain | columns keep / plain | keep / plain |\n'
printf '|-----|-------|---------------------|------------------|----------------------|-----------------|----------------------|--------------|\n'
for mix in small medium large; do
  "$out/bench/make_mix" $mix "$tables" >"$work/$mix"
  awk 'BEGIN { OFS = "\t"; print "id", "chrom", "pos", "a", "b", "c", "d", "test", "gene", "note" }
       { print "v" NR, "chr" (NR % 22 + 1), 1000 + 37 * NR, $1, $2, $3, $4, $5, "GENE" NR % 977, "passed QC; depth ok" }' \
    "$work/$mix" >"$work/$mix.tsv"
  hyperfine --warmup 1 --runs "$runs" --export-json "$work/h.json" \
    "$tool -b $work/$mix" \
    "$tool -bH -c a,b,c,d,test $work/$mix.tsv" \
    "$tool -bkH -c a,b,c,d,test $work/$mix.tsv" \
    "$tool -bk $work/$mix" >/dev/null 2>&1
  python3 - "$mix" "$tables" "$work/h.json" <<'PY'
import json, sys
mix, n = sys.argv[1], int(sys.argv[2])
t = [r["mean"] / n * 1e9 for r in json.load(open(sys.argv[3]))["results"]]
print(f"| {mix} | {t[0]:.0f} ns | {t[1]:.0f} ns | {t[2]:.0f} ns | {t[3]:.0f} ns "
      f"| {t[1] / t[0]:.2f} | {t[2] / t[0]:.2f} | {t[3] / t[0]:.2f} |")
PY
done

echo
echo "instructions per table (callgrind, the first 100000 tables of each mix)"
printf '| mix | plain | --columns (by name) | --columns --keep | --keep (plain lines) | columns / plain | columns keep / plain | keep / plain |\n'
printf '|-----|-------|---------------------|------------------|----------------------|-----------------|----------------------|--------------|\n'
for mix in small medium large; do
  head -n 100000 "$work/$mix" >"$work/p"
  head -n 100001 "$work/$mix.tsv" >"$work/t"
  python3 - "$mix" 100000 "$(instructions "$tool" -b "$work/p")" "$(instructions "$tool" -bH -c a,b,c,d,test "$work/t")" \
    "$(instructions "$tool" -bkH -c a,b,c,d,test "$work/t")" "$(instructions "$tool" -bk "$work/p")" <<'PY'
import sys
mix, n = sys.argv[1], int(sys.argv[2])
t = [int(x) / n for x in sys.argv[3:]]
print(f"| {mix} | {t[0]:.0f} | {t[1]:.0f} | {t[2]:.0f} | {t[3]:.0f} "
      f"| {t[1] / t[0]:.2f} | {t[2] / t[0]:.2f} | {t[3] / t[0]:.2f} |")
PY
done
