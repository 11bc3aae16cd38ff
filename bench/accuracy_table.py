"""The accuracy table of the README: the relative error of the single run's
computation (behind the six decimals up to 50000) and of the accurate one
(behind --precise, --log10 and the six decimals beyond), by total, against
the 256-bit model of tests/model/reference.py.

    bench/accuracy_table.py PROBE [TABLES_PER_TOTAL]

PROBE is the test build's tests/numerics_probe. Needs gmpy2 (python3-gmpy2)
for the system's python3. Tables near independence (a within three standard
deviations of its mean), random margins, both tails.
"""
import os
import random
import subprocess
import sys

import gmpy2
from gmpy2 import mpfr

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "model"))
import reference  # noqa: E402


def main():
    probe = sys.argv[1]
    per = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    rng = random.Random(5)
    totals = [100, 1000, 5000, 20000, 50000, 10**6, 10**9, 10**12, 10**18]
    rows = []
    for n in totals:
        lines = []
        while len(lines) < per:
            r1 = rng.randint(1, n - 1) if n <= 10**6 else rng.randint(1, 10**6)
            c1 = rng.randint(1, n - 1)
            r2 = n - r1
            mean = r1 * c1 / n
            sd = (r1 * r2 * c1 * (n - c1) / (n * n * (n - 1))) ** 0.5
            a = int(round(mean + rng.uniform(-3, 3) * sd))
            a = min(max(a, max(0, c1 - r2)), min(r1, c1))
            lines.append(f"{a} {r1 - a} {c1 - a} {r2 - c1 + a} {1 + len(lines) % 2}\n")
        out = subprocess.run([probe, "tables"], input="".join(lines), capture_output=True,
                             text=True, check=True).stdout.split()
        worst_engine = worst_accurate = 0.0
        for i, line in enumerate(lines):
            a, b, c, d, t = map(int, line.split())
            p = gmpy2.exp(reference.log_p_value(a, b, c, d, t == 1))
            if p < mpfr("1e-300"):
                continue
            engine, accurate = mpfr(float.fromhex(out[2 * i])), mpfr(float.fromhex(out[2 * i + 1]))
            if n <= 50000:
                worst_engine = max(worst_engine, float(abs(min(engine, mpfr(1)) - p) / p))
            worst_accurate = max(worst_accurate, float(abs(accurate - p) / p))
        rows.append((n, worst_engine if n <= 50000 else None, worst_accurate))
    print("| total N | six decimals up to 50000 (the single run's double) | --precise (the accurate double) |")
    print("|---------|-----------------------------------------------|---------------------------------|")
    for n, engine, accurate in rows:
        d = f"{engine:.1e}" if engine is not None else "(accurate, as --precise)"
        print(f"| {n:.0e} | {d} | {accurate:.1e} |")


main()
