"""The tool's three formats against the 256-bit model (reference.py).

    accuracy.py TOOL [COUNT]

Tables of every size: totals from 50001 to 2^63 - 1 at every distance from
the mode, with a small cell, mirror ties and ties that are no mirror image,
at the 32-, 53- and 64-bit edges, spreads wide enough to be summed by
blocks; and tables up to 50000. Both tails each.
Every answer must hold the bounds the tool promises:
  --precise  relative error at most 1e-12 where p >= 1e-300; below, the
             logarithm's relative error at most 1e-12; never 0;
  --log10    error at most 1e-12 * max(1, -log10 p);
  six decimals, totals above 50000: the model's p rounded, unless it lies
             within 1e-12 of a rounding edge.
Exit status 77 (skipped) without gmpy2.
"""
import random
import subprocess
import sys

try:
    import gmpy2
    from gmpy2 import mpfr
except ImportError:
    print("gmpy2 is not installed: skipped")
    sys.exit(77)

sys.path.insert(0, __import__("os").path.dirname(__file__))
import reference  # noqa: E402

MAX = 2**63 - 1


def sd_of(r1, r2, c1, c2):
    n = r1 + r2
    return (r1 * r2 * c1 * c2 / (n * n * max(n - 1, 1))) ** 0.5


def table_at(r1, r2, c1, z, rng):
    """The table with margins r1, r2 / c1 and cell a z standard deviations
    from its mean."""
    n = r1 + r2
    c2 = n - c1
    lo, hi = max(0, c1 - r2), min(r1, c1)
    mean = r1 * c1 / n
    a = int(round(mean + z * sd_of(r1, r2, c1, c2)))
    a = min(max(a, lo), hi)
    return a, r1 - a, c1 - a, r2 - c1 + a


def tables(count, seed):
    rng = random.Random(seed)
    out = []
    distances = [0, 0.3, 1, 2, 3, 5, 8, 12, 20, 40, 100, 1e4, 1e9]
    # Random margins whose spread the model can walk (sd up to ~2000).
    while len(out) < count:
        n = int(10 ** rng.uniform(4.7, 18.96))
        n = min(max(n, 50001), MAX)
        # one small margin keeps the spread small at large totals
        r1 = max(1, int(min(n - 1, 10 ** rng.uniform(0, min(6, 18.96)))))
        c1 = max(1, min(n - 1, int(n * rng.uniform(0.001, 0.999))))
        if rng.random() < 0.5:
            r1, c1 = c1, r1
        r1 = min(r1, n - 1)
        r2 = n - r1
        if sd_of(r1, r2, c1, n - c1) > 2000:
            continue
        z = rng.choice(distances) * rng.choice([-1, 1])
        a, b, c, d = table_at(r1, r2, c1, z, rng)
        if rng.random() < 0.5:  # any of the eight equivalent layouts
            a, b, c, d = b, a, d, c
        if rng.random() < 0.5:
            a, b, c, d = c, d, a, b
        out.append((a, b, c, d))
    return out


def edge_tables():
    t = []
    for big in (2**31 - 1, 2**31, 2**32, 2**53 - 1, 2**53, 2**53 + 1, 2**62, MAX - 3):
        t += [(big, 1, 2, 0), (1, big, 0, 2), (3, 0, big, 0), (big // 2, 1, 0, 1)]
    t += [(MAX - 5, 1, 2, 2), (1, 1, 1, MAX - 3), (0, 0, 0, MAX), (5, 7, 11, MAX - 23)]
    # a single table, empty margins
    t += [(0, 0, 70000, 0), (0, 70000, 0, 12)]
    # 32-bit-sized cells near independence (spread a few thousand)
    t += [(20000, 10**9, 20000, 10**9), (3000, 2**31, 2**31, 2**40)]
    return t


def mirror_tables(rng, count):
    """Row or column margins equal: the mirror image ties exactly."""
    out = []
    while len(out) < count:
        half = rng.randint(25001, 10**12)
        c1 = rng.randint(1, min(2 * half - 1, 3000))
        r1 = half
        sd = sd_of(r1, half, c1, 2 * half - c1)
        a = int(round(r1 * c1 / (2 * half) + rng.choice([0.5, 1, 2, 4]) * sd))
        a = min(max(a, 0), c1)
        t = (a, r1 - a, c1 - a, half - c1 + a)
        out.append(t if rng.random() < 0.5 else (t[0], t[2], t[1], t[3]))
    return out


def factor_ties(rng, count):
    """Non-mirror exact ties between neighbours: b c = (a+1)(d+1), so the
    table a+1 b-1 / c-1 d+1 is exactly as probable as a b / c d."""
    out = []
    while len(out) < count:
        a = rng.randint(1, 5000)
        d = rng.randint(60000, 10**7)
        m = (a + 1) * (d + 1)
        # a divisor of m other than a+1 and d+1
        divisors = [k for k in range(2, 20000) if m % k == 0 and k not in (a + 1, d + 1)]
        if not divisors:
            continue
        b = rng.choice(divisors)
        c = m // b
        if b > c:
            b, c = c, b
        if a * d > b * c or a > d:
            continue
        out.append((a, b, c, d))
        # and a near tie beside it: b c off by one
        out.append((a, b, c + 1, d))
    return out


def wide_tables(rng, count):
    """Spreads of 4200 to 30000 tables, which the tool sums by blocks."""
    out = []
    for i in range(count):
        sd = rng.uniform(4200, 30000)
        pr, pc = rng.uniform(0.2, 0.8), rng.uniform(0.2, 0.8)
        n = int(sd * sd / (pr * (1 - pr) * pc * (1 - pc)))
        r1, c1 = int(n * pr), int(n * pc)
        z = [0, 0.5, 1, 2, 3, 5, 8, 12, 30, 60][i % 10] * rng.choice([-1, 1])
        a, b, c, d = table_at(r1, n - r1, c1, z, rng)
        out.append((a, b, c, d))
    return out


def small_tables(rng, count):
    out = []
    for _ in range(count):
        n = rng.randint(0, 50000)
        a = rng.randint(0, n)
        b = rng.randint(0, n - a)
        c = rng.randint(0, n - a - b)
        out.append((a, b, c, n - a - b - c))
    out += every_table(8)
    return out


def every_table(most):
    """Every table with a total up to most."""
    return [(a, b, c, n - a - b - c) for n in range(most + 1) for a in range(n + 1)
            for b in range(n - a + 1) for c in range(n - a - b + 1)]


def run(tool, mode, lines):
    r = subprocess.run([tool, mode], input="".join(lines), capture_output=True, text=True)
    if r.returncode != 0:
        raise SystemExit(f"{mode}: status {r.returncode}: {r.stderr}")
    return r.stdout.split("\n")[:-1]


def main():
    tool = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    rng = random.Random(20261209)
    large = (tables(count, 7) + edge_tables() + mirror_tables(rng, 200) + factor_ties(rng, 200)
             + wide_tables(rng, 12))
    small = small_tables(rng, 400)
    cases = [(t, tail) for t in large + small for tail in (1, 2)]
    lines = [f"{a} {b} {c} {d} {tail}\n" for (a, b, c, d), tail in cases]
    precise = run(tool, "-bp", lines)
    log10 = run(tool, "-bl", lines)
    six = run(tool, "-b", lines)
    assert len(precise) == len(log10) == len(six) == len(cases)

    ln10 = gmpy2.log(mpfr(10))
    worst = {"precise": 0.0, "log": 0.0, "log10": 0.0}
    failures = 0
    for i, ((a, b, c, d), tail) in enumerate(cases):
        n = a + b + c + d
        lp = reference.log_p_value(a, b, c, d, tail == 1)
        p = gmpy2.exp(lp)
        what = f"{a} {b} {c} {d} {tail}"
        # --precise
        text = precise[i]
        if text == "0" or text == "":
            print(f"FAIL {what}: --precise wrote [{text}]")
            failures += 1
            continue
        got = mpfr(text)
        if p >= mpfr("1e-300"):
            err = float(abs(got - p) / p)
            worst["precise"] = max(worst["precise"], err)
            bad = err > 1e-12
        else:
            err = float(abs(gmpy2.log(got) - lp) / abs(lp))
            worst["log"] = max(worst["log"], err)
            bad = err > 1e-12
        if bad:
            print(f"FAIL {what}: --precise {text}, model {p:.20e}, error {err:.3e}")
            failures += 1
        # --log10
        want = -lp / ln10
        err = float(abs(mpfr(log10[i]) - want) / max(mpfr(1), want))
        worst["log10"] = max(worst["log10"], err)
        if err > 1e-12:
            print(f"FAIL {what}: --log10 {log10[i]}, model {want:.20e}, error {err:.3e}")
            failures += 1
        # six decimals beyond 50000
        if n > 50000:
            scaled = p * 10**6
            edge = abs(scaled - gmpy2.floor(scaled) - mpfr("0.5")) < mpfr("1e-6")
            expected = "%10.6f" % float(gmpy2.rint(scaled) / 10**6)
            if not edge and six[i] != expected:
                print(f"FAIL {what}: six decimals {six[i]!r}, model {expected!r}")
                failures += 1
    print(f"{len(cases)} lines ({len(large)} tables above 50000, {len(small)} up to it, both tails)")
    print("worst relative error: --precise %.2e, logarithm below 1e-300 %.2e, --log10 %.2e"
          % (worst["precise"], worst["log"], worst["log10"]))
    print(f"{len(cases) * 3 - failures} passed, {failures} failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
