#!/bin/bash
# The stratified test against R's mantelhaen.test(x, exact = TRUE), paired in
# one run on the same tests:
#
#   bench/strata.sh [RUNS]      (default 5 hyperfine runs)
#
#   fisher2x2  -bpsa two-sided with every field (p, mid-p, less, greater,
#              two-sided, central, or, ci-low, ci-high, mh-or), the whole file,
#              hyperfine
#   R          mantelhaen.test(x, exact = TRUE) (p-value, estimate, interval)
#              in a loop in one R process on the first tests, timed inside R
# on five mixes: 5 strata with cells up to 60; 100 strata with cells up to 60
# (a meta-analysis of small trials); 8 strata of 10,000 per arm; 8 strata of
# 100,000 per arm (R: about 100 s a test, left out); 8 strata of 10,000 and
# 8,000 per arm (equal arms make S symmetric, so the opposite tail is the
# mirror of the observed one; unequal ones need its edge sought). Then, in process
# (strata_bench), the mean and largest time a test took and how the
# two-sided ties were decided. Needs hyperfine and R.
source "$(dirname "$0")/common.sh"
runs=${1:-5}
need hyperfine Rscript
prepare strata_bench
fields=--fields=p,mid-p,less,greater,two-sided,central,or,ci-low,ci-high,mh-or
/usr/bin/python3 - "$work" <<'PY'
import random, sys
rnd = random.Random(1)
def arm(n, k, m=None):
    m = m or n
    row = []
    for _ in range(k):
        p1 = rnd.uniform(0.1, 0.5); p2 = min(0.9, p1 * rnd.uniform(0.8, 1.3))
        a, c = int(n * p1), int(m * p2)
        row += [a, n - a, c, m - c]
    return row
def small(k):
    return [rnd.randint(0, 60) for _ in range(4 * k)]
mixes = {"s5": [small(5) for _ in range(5000)], "s100": [small(100) for _ in range(500)],
         "a10k": [arm(10000, 8) for _ in range(50)], "a100k": [arm(100000, 8) for _ in range(10)],
         "u10k": [arm(10000, 8, 8000) for _ in range(50)]}
for name, tests in mixes.items():
    with open(f"{sys.argv[1]}/{name}", "w") as f:
        f.write("".join(" ".join(map(str, t)) + "\n" for t in tests))
PY
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
printf '| mix | tests | fisher2x2, every field | R mantelhaen.test exact | R ÷ fisher2x2 |\n'
printf '|-----|-------|------------------------|-------------------------|---------------|\n'
for mix in s5 s100 a10k a100k u10k; do
  tests=$(wc -l <"$work/$mix")
  hyperfine -N --warmup 1 --runs "$runs" --export-json "$work/h.json" "$tool -bpsa two-sided $fields $work/$mix" \
    >/dev/null 2>&1
  ours=$(/usr/bin/python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][0]["mean"] / int(sys.argv[2]))' \
    "$work/h.json" "$tests")
  case $mix in s5) count=500 ;; s100) count=40 ;; a10k | u10k) count=3 ;; *) count=0 ;; esac
  r=nan
  if [ "$count" -gt 0 ]; then
    head -n $count "$work/$mix" >"$work/r_tests"
    r=$(Rscript -e 'L <- readLines(commandArgs(TRUE)[1])
      x <- lapply(L, function(l) { v <- as.numeric(strsplit(l, " ")[[1]]); k <- length(v) / 4
        array(v[as.vector(outer(c(1, 3, 2, 4), 4 * (0:(k - 1)), "+"))], c(2, 2, k)) })
      t0 <- proc.time()[[3]]
      for (a in x) m <- mantelhaen.test(a, exact = TRUE)
      cat((proc.time()[[3]] - t0) / length(x), "\n")' "$work/r_tests")
  fi
  /usr/bin/python3 -c 'import sys
m, n, o, r = sys.argv[1], sys.argv[2], float(sys.argv[3]), float(sys.argv[4])
unit = lambda t: f"{t * 1e6:.1f} µs" if t < 1e-3 else f"{t * 1e3:.2f} ms" if t < 1 else f"{t:.2f} s"
print(f"| {m} | {n} | {unit(o)} | {unit(r) if r == r else chr(8212)} | {r / o:.0f} |" if r == r else
      f"| {m} | {n} | {unit(o)} | {chr(8212)} | {chr(8212)} |")' "$mix" "$tests" "$ours" "$r"
done
echo
for mix in s5 s100 a10k a100k u10k; do
  printf '%-6s' "$mix:"; "$out/bench/strata_bench" <"$work/$mix"
done
