#!/bin/bash
# What --precise costs against the six decimals, on the three classic mixes:
#
#   bench/precise.sh [TABLES] [ROUNDS]   (defaults 1000000 tables, 11 rounds)
#
# Time: in each round hyperfine runs `fisher2x2 -b` and `fisher2x2 -bp` once
# each on the same file, one right after the other, so that the two share
# the machine's load; the table gives the median and the range of the
# rounds' ratios, and the fastest run of each. Instructions: callgrind
# counts both on the whole file, which no load moves, so that machines
# compare alike. Needs hyperfine, python3 and valgrind.
source "$(dirname "$0")/common.sh"
tables=${1:-1000000} rounds=${2:-11}
need hyperfine python3 valgrind
prepare

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "$tables tables per mix, $rounds rounds"
printf '| mix | six decimals | --precise | --precise / six decimals, time (median, range) | instructions a table (six decimals / --precise) | --precise / six decimals, instructions |\n'
printf '|-----|--------------|-----------|------------------------------------------------|------------------------------------------------|------------------------------------------|\n'
for mix in small medium large; do
  "$out/bench/make_mix" $mix "$tables" >"$work/$mix"
  for round in $(seq "$rounds"); do
    warmup=0
    [ "$round" = 1 ] && warmup=1
    hyperfine -N --warmup $warmup --runs 1 --export-json "$work/$mix.$round.json" \
      "$tool -b $work/$mix" "$tool -bp $work/$mix" >/dev/null 2>&1
  done
  six=$(instructions "$tool" -b "$work/$mix")
  precise=$(instructions "$tool" -bp "$work/$mix")
  python3 - "$mix" "$tables" "$six" "$precise" "$work/$mix".*.json <<'PY'
import json, statistics, sys
mix, n, six, precise = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
runs = [json.load(open(f))["results"] for f in sys.argv[5:]]
b = [r[0]["times"][0] for r in runs]
p = [r[1]["times"][0] for r in runs]
ratios = [y / x for x, y in zip(b, p)]
print(f"| {mix} | {min(b) / n * 1e9:.0f} ns | {min(p) / n * 1e9:.0f} ns "
      f"| {statistics.median(ratios):.2f} ({min(ratios):.2f} to {max(ratios):.2f}) "
      f"| {six / n:.0f} / {precise / n:.0f} | {precise / six:.2f} |")
PY
done
