#!/bin/bash
# The whole test against its peers, paired in one run on the same tables:
#
#   bench/whole_test.sh [TABLES] [RUNS]     (defaults 20000 tables, 5 runs)
#
#   fisher2x2  -bpa two-sided with every field (p, mid-p, less, greater,
#              two-sided, central, or, sample-or, ci-low, ci-high), the
#              whole file, hyperfine
#   R          fisher.test (p-value, estimate, conf.int) in a loop in one R
#              process, on the first 2000 tables (cohort: 200), timed inside R
#   SciPy      scipy.stats.contingency.odds_ratio(...) with its
#              confidence_interval(), in one Python process, on the first 100
#              tables (cohort: 3), timed inside Python
# on two mixes: small (each cell up to 60) and cohort (allele counts of two
# groups of 10^4 to 5 10^5, see make_mix.cpp). Then the largest time any
# table took in process (whole_bench), over balanced tables near 2^63 and
# random ones of every size. Needs hyperfine, R and python3-scipy.
source "$(dirname "$0")/common.sh"
tables=${1:-20000} runs=${2:-5}
need hyperfine Rscript
/usr/bin/python3 -c 'import scipy' || { echo "python3-scipy is needed"; exit 1; }
prepare whole_bench
fields=--fields=p,mid-p,less,greater,two-sided,central,or,sample-or,ci-low,ci-high

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
printf '| mix | fisher2x2, every field | R fisher.test | SciPy odds_ratio + interval | R ÷ fisher2x2 | SciPy ÷ fisher2x2 |\n'
printf '|-----|------------------------|---------------|-----------------------------|---------------|-------------------|\n'
for mix in small cohort; do
  "$out/bench/make_mix" $mix "$tables" | awk '{ print $1, $2, $3, $4 }' >"$work/$mix"
  r_count=2000 scipy_count=100
  [ $mix = cohort ] && r_count=200 scipy_count=3
  hyperfine -N --warmup 1 --runs "$runs" --export-json "$work/h.json" \
    "$tool -bpa two-sided $fields $work/$mix" >/dev/null 2>&1
  ours=$(/usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][0]["mean"] / int(sys.argv[2]))' \
    "$work/h.json" "$tables")
  head -n $r_count "$work/$mix" >"$work/r_tables"
  r=$(Rscript -e 'x <- as.matrix(read.table(commandArgs(TRUE)[1]))
    t0 <- proc.time()[[3]]
    for (i in seq_len(nrow(x))) f <- fisher.test(matrix(x[i, ], 2, byrow = TRUE))
    cat((proc.time()[[3]] - t0) / nrow(x), "\n")' "$work/r_tables")
  head -n $scipy_count "$work/$mix" >"$work/s_tables"
  scipy=$(/usr/bin/python3 - "$work/s_tables" <<'PY'
import sys, time
import numpy as np
from scipy.stats.contingency import odds_ratio
tables = [list(map(int, line.split())) for line in open(sys.argv[1])]
start = time.perf_counter()
for a, b, c, d in tables:
    res = odds_ratio(np.array([[a, b], [c, d]]))
    ci = res.confidence_interval(0.95)
print((time.perf_counter() - start) / len(tables))
PY
)
  /usr/bin/python3 -c 'import sys
m, o, r, s = sys.argv[1], *map(float, sys.argv[2:])
unit = lambda t: f"{t * 1e6:.1f} µs" if t < 1e-3 else f"{t * 1e3:.1f} ms" if t < 1 else f"{t:.2f} s"
print(f"| {m} | {unit(o)} | {unit(r)} | {unit(s)} | {r / o:.0f} | {s / o:.0f} |")' "$mix" "$ours" "$r" "$scipy"
done

echo
echo "The largest time a table took, every field, in process (whole_bench):"
/usr/bin/python3 - >"$work/large" <<'PY'
import math, random
rng = random.Random(5)
top = 2**63 - 1
for i in range(600):
    n = min(int(10 ** rng.uniform(5, 18.96)), top)
    pr = 10 ** rng.uniform(-6, 0) if rng.random() < 0.5 else rng.uniform(0.05, 0.95)
    pc = rng.uniform(0.01, 0.99)
    r1, c1 = min(max(1, int(n * pr)), n - 1), max(1, int(n * pc))
    sd = math.sqrt(r1 * (n - r1) * c1 * (n - c1) / n**3)
    z = rng.choice([0, 0.5, 1, 2, 3, 5, 10, 30, 100]) * rng.choice([-1, 1])
    a = max(max(0, c1 - (n - r1)), min(int(r1 * c1 / n + z * sd), min(r1, c1)))
    print(a, r1 - a, c1 - a, n - r1 - c1 + a)
q = (2**63 - 1) // 4
for k in (0, 1, 1000, 10**9, 10**12):
    print(q + k, q - k, q - k, q + k)
PY
for alternative in two-sided less greater; do
  printf '%-10s' "$alternative:"; "$out/bench/whole_bench" $alternative <"$work/large"
done
