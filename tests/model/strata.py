"""The stratified test against an exact model, field by field.

    strata.py TOOL [COUNT]

The model: S's central weights c(x) as the exact integer convolution of
the strata's C(r1, x) C(r2, c1 - x); every p-value an exact rational (ties
decided on the integers); the estimate and bounds as roots of the exact
sums, found in 320-bit arithmetic (gmpy2). It is checked itself against
enumeration of every combination of small strata. The tool then runs
--strata with each alternative, each at its own level (0.95, 0.8 and
0.999999), with --precise
on random sets of strata of every shape: K from 1 to 1000, small and large
cells, single-table strata, s at both ends of the support, mirror-symmetric
sets (exact ties), one large stratum among small ones, and sets R cannot
compute. Bounds as for one table:
p-values 1e-12 relative (ln p 1e-12 relative below 1e-300), never 0;
or, ci-low, ci-high 1e-10 relative (0, inf and nan exactly); mh-or 1e-15.
K = 1 lines also equal the one-table output byte for byte, and each field
asked alone is the same bytes as among all of them. Beyond the model's
reach (s thousands of standard deviations out, S near 2^61), the two-sided
value against the tails at s and at the opposite edge (check_far_edges).
Exit status 77 (skipped) without gmpy2.
"""
import itertools
import math
import os
import random
import subprocess
import sys
from fractions import Fraction

try:
    import gmpy2
    from gmpy2 import mpfr
except ImportError:
    print("gmpy2 is not installed: skipped")
    sys.exit(77)

gmpy2.get_context().precision = 320
FIELDS = "p,mid-p,less,greater,two-sided,central,or,ci-low,ci-high,mh-or"
# The interval's level, one for each alternative.
LEVELS = {"two-sided": 0.95, "less": 0.8, "greater": 0.999999}


def weights(a, b, c, d):
    r1, r2, c1 = a + b, c + d, a + c
    lo, hi = max(0, c1 - r2), min(r1, c1)
    return lo, [math.comb(r1, x) * math.comb(r2, c1 - x) for x in range(lo, hi + 1)]


def convolve(strata):
    """S's support start and its exact central weights."""
    lo, c = 0, [1]
    for t in strata:
        l, w = weights(*t)
        out = [0] * (len(c) + len(w) - 1)
        for i, wi in enumerate(w):
            if wi:
                for j, cj in enumerate(c):
                    out[i + j] += wi * cj
        lo, c = lo + l, out
    return lo, c


def pvalues(lo, c, s):
    total = sum(c)
    i = s - lo
    cs = c[i]
    less = Fraction(sum(c[: i + 1]), total)
    greater = Fraction(sum(c[i:]), total)
    two = Fraction(sum(v for v in c if v <= cs), total)
    tied = Fraction(sum(v for v in c if v == cs), total)
    p0 = Fraction(cs, total)
    return {
        "less": less, "greater": greater, "two-sided": two,
        "central": min(Fraction(1), 2 * min(less, greater)),
        "mid-less": less - p0 / 2, "mid-greater": greater - p0 / 2, "mid-two-sided": two - tied / 2,
    }


def root(f, lo=-800, hi=800):
    """The root of an increasing f(t) on [lo, hi], by bisection to 2^-200 of it."""
    lo, hi = mpfr(lo), mpfr(hi)
    for _ in range(400):
        mid = (lo + hi) / 2
        if f(mid) < 0:
            lo = mid
        else:
            hi = mid
        if hi - lo <= abs(mid) * mpfr(2) ** -120 + mpfr(2) ** -200:
            break
    return (lo + hi) / 2


def sums(lo, c, t, s):
    """sum over x of c(x) e^(t (x - s)) split at s: below, at, above; and sum (x - s) w."""
    below = above = mean = mpfr(0)
    i = s - lo
    up, down = gmpy2.exp(t), gmpy2.exp(-t)
    f = mpfr(1)
    for k in range(i + 1, len(c)):
        f *= up
        w = c[k] * f
        above += w
        mean += (k - i) * w
    f = mpfr(1)
    for k in range(i - 1, -1, -1):
        f *= down
        w = c[k] * f
        below += w
        mean -= (i - k) * w
    return below, c[i], above, mean


def roots(lo, c, s, alternative, level):
    hi = lo + len(c) - 1
    top = max(c)
    c = [mpfr(v) / top for v in c]
    nan, inf = float("nan"), float("inf")
    if lo == hi:
        return nan, 0.0, inf
    est = 0.0 if s == lo else inf if s == hi else gmpy2.exp(root(lambda t: sums(lo, c, t, s)[3]))
    alpha = mpfr(1) - mpfr(level)
    if alternative == "two-sided":
        alpha /= 2

    def lower():  # P(S >= s; psi) = alpha, rising in t
        if s == lo:
            return 0.0
        return gmpy2.exp(root(lambda t: (lambda b, a, u, m: (a + u) / (b + a + u) - alpha)(*sums(lo, c, t, s))))

    def upper():  # P(S <= s; psi) = alpha, falling
        if s == hi:
            return inf
        return gmpy2.exp(root(lambda t: alpha - (lambda b, a, u, m: (b + a) / (b + a + u))(*sums(lo, c, t, s))))

    ci_low = lower() if alternative != "less" else 0.0
    ci_high = upper() if alternative != "greater" else inf
    return est, ci_low, ci_high


def mh(strata):
    num = sum(Fraction(a * d, a + b + c + d) for a, b, c, d in strata if a + b + c + d)
    den = sum(Fraction(b * c, a + b + c + d) for a, b, c, d in strata if a + b + c + d)
    if den == 0:
        return float("nan") if num == 0 else float("inf")
    return num / den


def check_model():
    """The convolution and its p-values against enumeration of small strata."""
    rnd = random.Random(3)
    checks = 0
    for _ in range(300):
        strata = [tuple(rnd.randint(0, 4) for _ in range(4)) for _ in range(rnd.randint(1, 3))]
        lo, c = convolve(strata)
        supports = []
        for t in strata:
            l, w = weights(*t)
            supports.append([(l + i, v) for i, v in enumerate(w)])
        exact = {}
        for combo in itertools.product(*supports):
            x = sum(p[0] for p in combo)
            exact[x] = exact.get(x, 0) + math.prod(p[1] for p in combo)
        assert exact == {lo + i: v for i, v in enumerate(c) if v}, strata
        s = sum(t[0] for t in strata)
        total = sum(exact.values())
        pv = pvalues(lo, c, s)
        ps = exact[s]
        assert pv["two-sided"] == Fraction(sum(v for v in exact.values() if v <= ps), total)
        assert pv["less"] == Fraction(sum(v for x, v in exact.items() if x <= s), total)
        checks += 3
    return checks


def log_of(text):
    """ln of a --precise p-value, exactly as written."""
    return gmpy2.log(mpfr(text))


def close(value, exact, tol):
    if exact == 0:
        return value == 0
    return abs(value - exact) <= tol * abs(exact)


def random_strata(rnd, i):
    """Sets of strata of every shape, by kind."""
    kind = i % 11
    def table(most):
        return tuple(rnd.randint(0, most) for _ in range(4))
    if kind == 0:  # few small strata
        return [table(12) for _ in range(rnd.randint(1, 5))]
    if kind == 1:  # cells up to 60
        return [table(60) for _ in range(rnd.randint(2, 6))]
    if kind == 2:  # many tiny strata
        return [table(3) for _ in range(rnd.randint(50, 300))]
    if kind == 3:  # mirror-symmetric: each stratum with its rows exchanged
        base = [table(15) for _ in range(rnd.randint(1, 3))]
        out = []
        for a, b, c, d in base:
            out += [(a, b, c, d), (rnd.randint(0, c + d), 0, 0, 0)]
            out[-1] = (c, d, a, b)
        rnd.shuffle(out)
        return out
    if kind == 4:  # s at an end of its support
        strata = [table(20) for _ in range(rnd.randint(2, 4))]
        end = rnd.random() < 0.5
        return [(0, a + b, c + a, d) if end else (a + b, 0, c, d + b) for a, b, c, d in strata]
    if kind == 5:  # single-table strata among others
        return [table(10) for _ in range(rnd.randint(1, 3))] + [(0, 0, rnd.randint(0, 9), rnd.randint(0, 9))
                                                               for _ in range(rnd.randint(1, 2))]
    if kind == 6:  # a strong common effect: tiny p-values
        k = rnd.randint(2, 5)
        return [(rnd.randint(40, 90), rnd.randint(0, 5), rnd.randint(0, 5), rnd.randint(40, 90)) for _ in range(k)]
    if kind == 7:  # larger strata
        return [table(300) for _ in range(rnd.randint(2, 3))]
    if kind == 8:  # unbalanced margins
        return [(rnd.randint(0, 5), rnd.randint(50, 200), rnd.randint(0, 10), rnd.randint(100, 400))
                for _ in range(rnd.randint(2, 8))]
    if kind == 9:  # centres of very different sizes: one large among small ones
        out = [tuple(rnd.randint(100, 800) for _ in range(4))] + [table(10) for _ in range(rnd.randint(3, 30))]
        rnd.shuffle(out)
        return out
    return [table(25) for _ in range(rnd.randint(5, 20))]


FIXED = [
    [(900, 100, 100, 900)] * 4,  # R's convolution underflows
    [(0, 5, 5, 0)] * 3,
    [(5, 0, 0, 5), (0, 5, 5, 0)],  # mirror pair
    [(1, 0, 0, 1)] * 1000,  # K = 1000
    [(2, 1, 1, 2), (0, 1, 1, 0)] * 500,  # K = 1000, mixed
    [(3, 3, 3, 3)] * 7,
    [(10, 0, 0, 0), (3, 4, 5, 6)],  # a single-table stratum and one other: one table's values
    [(0, 10, 11, 39), (0, 29, 22, 24), (0, 42, 6, 26), (0, 16, 12, 17), (0, 33, 1, 26)],  # s at its end: the far edge
    [(82, 69, 290, 136), (234, 12, 286, 2)],  # the opposite tail beyond its edge's window
    [(56, 3, 0, 70), (75, 1, 0, 84), (46, 0, 4, 87), (60, 5, 0, 59)],  # s = hi: the search far from the bound
    [(2, 20, 0, 10), (25, 18, 1, 6), (13, 11, 14, 4), (3, 18, 20, 21), (5, 18, 12, 17), (13, 20, 7, 6),
     (1, 18, 15, 1), (2, 19, 24, 7)],  # the opposite tail summed where its weights grow
    [(1, 49, 104, 99999896), (4, 35, 0, 14), (2, 24, 1, 10)],  # the bound's search where s is at a window's edge
    [(8, 2305843009213693944, 0, 6), (0, 3518, 85, 8999999915), (0, 2000000, 241, 1999759)],  # a bound unbounded
    [(3, 10**15, 5, 10**15 + 11), (2, 10**15 + 7, 6, 10**15 - 3)],  # the edge 2e-14 below s: ordered in double-double
    [(0, 9, 24, 196198992186711344)] + [(15, 14, 15, 16)] * 19,  # near ties, 20 strata
]


# Far tails, beyond the exact model's reach: the opposite tail's edge (the
# first x beyond the mode with P(x) <= P(s)) found here by bisection on
# P(x), twice the smaller tail at x less its mid-p value, from the tool's
# one-sided tails alone; the two-sided value must be the tail at s plus
# the opposite one from that edge. Each set also with its rows exchanged
# (S reflected).
FAR = [
    [(596007, 61817, 85984, 0), (1803, 161620, 7840, 702834), (18916, 10555, 12312, 7093),
     (6398, 577948, 3226, 291444), (0, 479125, 689438, 177081)],  # the mode ~3,000 sd (at s's tilt) on
    [(2217776341469077768, 88066667744616184, 2, 0), (0, 2000, 2000, 0), (40, 40, 40, 40)],  # S near 2^61
]


def check_far_edges(tool):
    failures = 0
    def line(strata, x):  # the strata with the first ones' cells moved so that S = x
        rest, out = x - sum(t[0] for t in strata), []
        for a, b, c, d in strata:
            na = min(min(a + b, a + c), max(max(0, a - d), a + rest))
            rest -= na - a
            out += [na, a + b - na, a + c - na, d - a + na]
        return " ".join(map(str, out)) + "\n"
    def ask(strata, xs, alternative, fields):
        out = subprocess.run([tool, "-bpsa", alternative, "--fields=" + fields],
                             input="".join(line(strata, x) for x in xs),
                             capture_output=True, text=True, check=True).stdout.splitlines()
        return [[mpfr(f) for f in row.split("\t")] for row in out]
    def mass(strata, xs):
        return [2 * (l - ml) if l < g else 2 * (g - mg) for (l, ml, g), (mg,) in
                zip(ask(strata, xs, "less", "less,mid-p,greater"), ask(strata, xs, "greater", "mid-p"))]
    for strata in FAR + [[(c, d, a, b) for a, b, c, d in st] for st in FAR]:
        s = sum(t[0] for t in strata)
        less, greater, two = ask(strata, [s], "two-sided", "less,greater,two-sided")[0]
        up = less < greater  # the opposite tail lies above s
        far = sum(min(a + b, a + c) if up else max(0, a - d) for a, b, c, d in strata)
        side, p_s = ("greater" if up else "less"), mass(strata, [s])[0]
        want = less if up else greater
        grid = [s + (far - s) * i // 64 for i in range(65)]
        inside, outside = max(zip(mass(strata, grid), grid))[1], far  # P(inside) > P(s) >= P(outside)
        if mass(strata, [far])[0] <= p_s:  # an opposite tail
            while abs(outside - inside) > 1:
                mid = (inside + outside) // 2
                if mass(strata, [mid])[0] > p_s:
                    inside = mid
                else:
                    outside = mid
            want += ask(strata, [outside], side, side)[0][0]
        if not abs(two - want) <= 1e-12 * want:
            failures += 1
            print(f"far two-sided: {two!r} want {want!r} strata {strata}")
    return len(FAR) * 2, failures


def run(tool, alternative, fmt, sets):
    text = "".join(" ".join(str(v) for t in st for v in t) + "\n" for st in sets)
    out = subprocess.run([tool, "-b" + fmt + "sa", alternative, "--fields=" + FIELDS,
                          f"--conf-level={LEVELS[alternative]}"], input=text,
                         capture_output=True, text=True, check=True).stdout
    return [line.split("\t") for line in out.splitlines()]


def main():
    tool = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    checks = check_model()
    rnd = random.Random(27)
    sets = FIXED + [random_strata(rnd, i) for i in range(count)]
    far_checks, failures = check_far_edges(tool)
    checks += far_checks
    models = []
    for st in sets:
        lo, c = convolve(st)
        models.append((lo, c, sum(t[0] for t in st)))
    for alternative in ["two-sided", "less", "greater"]:
        precise = run(tool, alternative, "p", sets)
        for st, (lo, c, s), row in zip(sets, models, precise):
            pv = pvalues(lo, c, s)
            key = {"two-sided": "two-sided", "less": "less", "greater": "greater"}[alternative]
            expect = [pv[key], pv["mid-" + key]] + [pv[k] for k in ["less", "greater", "two-sided", "central"]]
            for name, text, value in zip(FIELDS.split(","), row, expect):
                got = log_of(text)
                want = gmpy2.log(mpfr(value.numerator) / value.denominator)
                ok = mpfr(text) > 0 and (close(got, want, 1e-12) if want < -690 else
                                         close(mpfr(text), mpfr(value.numerator) / value.denominator, 1e-12))
                checks += 1
                if not ok:
                    failures += 1
                    if failures < 20:
                        print(f"{alternative} {name}: {text} want {float(value)} strata {st[:6]}")
            est, ci_low, ci_high = roots(lo, c, s, alternative, LEVELS[alternative])
            for name, text, want in zip(["or", "ci-low", "ci-high"], row[6:9], [est, ci_low, ci_high]):
                got = float(text)
                checks += 1
                if isinstance(want, float) and (math.isnan(want) or math.isinf(want) or want == 0):
                    ok = (math.isnan(got) and math.isnan(want)) or got == want
                else:
                    ok = abs(mpfr(got) - want) <= 1e-10 * want
                if not ok:
                    failures += 1
                    if failures < 20:
                        print(f"{alternative} {name}: {text} want {want} strata {st[:6]}")
            m = mh(st)
            got = float(row[9])
            ok = (math.isnan(got) and isinstance(m, float) and math.isnan(m)) or got == m or (
                not isinstance(m, float) and abs(Fraction(got) - m) <= Fraction(1, 10**15) * m)
            checks += 1
            if not ok:
                failures += 1
                print(f"mh-or: {row[9]} want {float(m)} strata {st[:6]}")
        # Each field alone: the same bytes as among all of them.
        for k, name in [(4, "two-sided"), (6, "or"), (7, "ci-low"), (8, "ci-high")]:
            text = "".join(" ".join(str(v) for t in st for v in t) + "\n" for st in sets)
            alone = subprocess.run([tool, "-bpsa", alternative, "--fields=" + name,
                                    f"--conf-level={LEVELS[alternative]}"], input=text,
                                   capture_output=True, text=True, check=True).stdout.splitlines()
            for st, a, row in zip(sets, alone, precise):
                checks += 1
                if a != row[k]:
                    failures += 1
                    print(f"{alternative} {name} alone: {a}, among all: {row[k]}, strata {st[:6]}")
        # K = 1: the one table's bytes.
        singles = [st for st in sets if len(st) == 1]
        one = subprocess.run([tool, "-bpa", alternative, "--fields=" + FIELDS.replace("mh-or", "sample-or"),
                              f"--conf-level={LEVELS[alternative]}"],
                             input="".join(" ".join(map(str, st[0])) + "\n" for st in singles),
                             capture_output=True, text=True, check=True).stdout.splitlines()
        many = [r for st, r in zip(sets, precise) if len(st) == 1]
        for a, b in zip(one, many):
            checks += 1
            if a.split("\t")[:9] != b[:9]:
                failures += 1
                print(f"K = 1 differs: {a} / {b}")
    print(f"{checks} checks, {failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
