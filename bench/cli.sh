#!/bin/bash
# Whole-process cost of the tool, as ratios to a static no-op C program
# timed in the same run.
#
#   bench/cli.sh [ROUNDS] [RUNS]     (defaults 10 rounds of 300 runs)
#
# Each round times the floor and one command alternately with hyperfine -N;
# the ratio of their medians is taken per round and the median of those
# ratios is reported, which keeps the machine's drift out of the comparison.
# The baselines: a straightforward static C build of the same algorithm,
# and, where installed, R's fisher.test and SciPy's fisher_exact.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-10} runs=${2:-300}
command -v hyperfine >/dev/null || { echo "hyperfine is needed (apt-get install hyperfine)"; exit 1; }

out=build-bench
cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$out" -j2 --target fisher2x2 >/dev/null
printf 'int main(void) { return 0; }\n' >"$out/noop.c"
cc -O2 -static -o "$out/noop" "$out/noop.c"
cc -O2 -static -o "$out/plain" bench/plain.c -lm
tool=$out/fisher2x2

# Same bytes from both builds, or the comparison means nothing.
for args in "3 1 1 3 2" "12500 12500 12500 12500 2" "2 8 8 2 2" "1 9 11 3 2"; do
  [ "$("$tool" $args)" = "$("$out/plain" $args)" ] || { echo "outputs differ on $args"; exit 1; }
done

median_ratio() {  # $1 command, $2 rounds, $3 runs per round
  local ratios=() json
  json=$(mktemp)
  for ((r = 0; r < $2; r++)); do
    hyperfine -N --warmup 30 --runs "$3" --export-json "$json" \
      "$out/noop" "$1" >/dev/null 2>&1
    ratios+=("$(python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"]; print(r[1]["median"]/r[0]["median"])' "$json")")
  done
  rm -f "$json"
  printf '%s\n' "${ratios[@]}" | sort -g | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%.2f", m}'
}
floor_ms() {
  local json
  json=$(mktemp)
  hyperfine -N --warmup 30 --runs "$runs" --export-json "$json" "$out/noop" >/dev/null 2>&1
  python3 -c 'import json,sys; print("%.3f" % (json.load(open(sys.argv[1]))["results"][0]["median"]*1e3))' "$json"
  rm -f "$json"
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "floor: static no-op C program, median $(floor_ms) ms"
printf '%-58s %s\n' "command" "median time / no-op"
for args in "3 1 1 3 2" "12500 12500 12500 12500 2"; do
  printf '%-58s %s\n' "fisher2x2 $args" "$(median_ratio "$tool $args" "$rounds" "$runs")"
  printf '%-58s %s\n' "straightforward static build, $args" "$(median_ratio "$out/plain $args" "$rounds" "$runs")"
done

# The tools a user would otherwise call per table: fewer runs, they are slow.
if command -v Rscript >/dev/null; then
  printf '%-58s %s\n' "Rscript fisher.test, 3 1 1 3" \
    "$(median_ratio "Rscript -e fisher.test(matrix(c(3,1,1,3),2))" 3 10)"
fi
for py in python3 /usr/bin/python3; do
  if "$py" -c 'import scipy.stats' 2>/dev/null; then
    printf '%-58s %s\n' "$py scipy fisher_exact, 3 1 1 3" \
      "$(median_ratio "$py -c import\ scipy.stats;print(scipy.stats.fisher_exact([[3,1],[1,3]]))" 3 10)"
    break
  fi
done
