"""Every field of the whole test against the 256-bit model (reference.py).

    whole_test.py TOOL [COUNT]

First the model itself against exact rationals on every table up to a total
of 10 (p-values, ties included, and the noncentral sums at three odds
ratios). Then the tool, with each alternative, on tables of every size:
random ones up to 50000 and beyond (to 2^63 - 1) at every distance from the
mode, every table up to a total of 8, the 32-, 53- and 64-bit edges, mirror
ties and ties that are no mirror image with their near ties, single-table
supports, a at both ends of its support, and spreads wide enough to be
summed by blocks. Bounds:
  p-value fields (--precise)  relative error 1e-12, or 1e-12 of ln p below
                              1e-300; never 0
  --log10                     1e-12 * max(1, -log10 p)
  six decimals                the model's p rounded, unless within 1e-12 of
                              a rounding edge
  or, ci-low, ci-high         1e-10 relative to the root (measured as one
                              Newton step of the model's equation at the
                              tool's value); 0, inf and nan exactly where
                              the definitions give them
  sample-or                   the correctly rounded quotient
Exit status 77 (skipped) without gmpy2.
"""
import math
import multiprocessing
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

sys.path.insert(0, os.path.dirname(__file__))
import accuracy  # noqa: E402  (its table generators)
import reference as R  # noqa: E402

FIELDS = "p,mid-p,less,greater,two-sided,central,or,sample-or,ci-low,ci-high"
PVALUES = ["p", "mid-p", "less", "greater", "two-sided", "central"]
LEVEL = 0.95


def check_model():
    """The model against exact rationals: returns the number of checks."""
    checks = 0
    for a, b, c, d in accuracy.every_table(10):
        n = a + b + c + d
        r1, c1, r2 = a + b, a + c, c + d
        lo, hi = R.support(a, b, c, d)
        prob = {x: Fraction(math.comb(r1, x) * math.comb(r2, c1 - x), math.comb(n, c1))
                for x in range(lo, hi + 1)}
        pa = prob[a]
        less = sum(v for x, v in prob.items() if x <= a)
        greater = sum(v for x, v in prob.items() if x >= a)
        two = sum(v for v in prob.values() if v <= pa)
        ties = sum(1 for v in prob.values() if v == pa)
        exact = {"less": less, "greater": greater, "two-sided": two,
                 "central": min(Fraction(1), 2 * min(less, greater)),
                 "mid-less": less - pa / 2, "mid-greater": greater - pa / 2,
                 "mid-two-sided": two - ties * pa / 2}
        model = R.p_values(a, b, c, d)
        for name, value in exact.items():
            want = mpfr(value.numerator) / value.denominator
            got = gmpy2.exp(model[name])
            assert abs(got - want) <= mpfr("1e-60") * want, (a, b, c, d, name)
            checks += 1
        if lo == hi:
            continue
        for t in (-1.3, 0.4, 2.2):
            nc = R.noncentral(a, b, c, d, t)
            psi = Fraction(*gmpy2.exp(mpfr(t)).as_integer_ratio())
            w = {x: v * psi ** x for x, v in prob.items()}
            s = sum(w.values())
            mean = sum(x * v for x, v in w.items()) / s
            tail = {+1: [x for x in w if x >= a], -1: [x for x in w if x <= a]}
            pairs = [(nc["mean"], mean),
                     (nc["var"], sum((x - mean) ** 2 * v for x, v in w.items()) / s)]
            for side, name in ((+1, "ge"), (-1, "le")):
                mass = sum(w[x] for x in tail[side])
                pairs += [(gmpy2.exp(nc[name]), mass / s),
                          (nc["mean_" + name], sum(x * w[x] for x in tail[side]) / mass)]
            for got, value in pairs:
                want = mpfr(value.numerator) / value.denominator
                assert abs(got - want) <= mpfr("1e-50") * max(abs(want), 1), (a, b, c, d, t)
                checks += 1
    return checks


def tables(count):
    rng = random.Random(20261217)
    out = []
    # random totals up to 50000, half near independence
    for i in range(count):
        n = rng.randint(1, 50000) if i % 4 else rng.randint(1, 300)
        a = rng.randint(0, n)
        b = rng.randint(0, n - a)
        c = rng.randint(0, n - a - b)
        d = n - a - b - c
        if i % 2:
            r1, c1 = a + b, a + c
            a = min(max(round(r1 * c1 / n), max(0, c1 - (c + d))), min(r1, c1))
            b, c, d = r1 - a, c1 - a, n - r1 - c1 + a
        out.append((a, b, c, d))
    # beyond 50000, spreads up to a few hundred tables
    big = [t for t in accuracy.tables(4 * count, 11)
           if accuracy.sd_of(t[0] + t[1], t[2] + t[3], t[0] + t[2], t[1] + t[3]) < 300]
    out += big[:count]
    out += accuracy.edge_tables()
    out += accuracy.mirror_tables(rng, 60) + accuracy.factor_ties(rng, 60)
    out += accuracy.wide_tables(rng, 1)
    # single tables, and a at both ends of its support
    out += [(0, 0, 0, 0), (7, 0, 0, 0), (0, 0, 3, 9), (0, 5, 0, 9), (0, 5, 5, 0), (5, 0, 0, 5),
            (0, 9, 4, 3), (4, 0, 3, 9), (3, 9, 0, 4), (9, 3, 4, 0), (0, 2**40, 2**40, 5)]
    return out + accuracy.every_table(8)


def run(tool, args, lines):
    r = subprocess.run([tool] + args, input=lines, capture_output=True, text=True)
    if r.returncode != 0:
        raise SystemExit(f"{args}: status {r.returncode}: {r.stderr}")
    return [line.split("\t") for line in r.stdout.split("\n")[:-1]]


def log_of(text):
    """ln of a decimal, whatever its exponent."""
    mantissa, _, exponent = text.partition("e")
    return gmpy2.log(mpfr(mantissa)) + int(exponent or 0) * gmpy2.log(mpfr(10))


def noncentral_at(table, text):
    return R.noncentral(*table, gmpy2.log(mpfr(text)))


def root_error(nc, equation, target=None):
    """One Newton step of the model's equation at the tool's root: its
    relative error in psi."""
    if equation == "mean":
        return float(abs(nc["mean"] - target) / nc["var"])
    side = equation
    slope = nc["mean_" + side] - nc["mean"]
    return float(abs(nc[side] - target) / abs(slope))


def main():
    tool = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 300
    checks = check_model()
    print(f"model: {checks} checks against exact rationals")

    cases = tables(count)
    lines = "".join(f"{a} {b} {c} {d}\n" for a, b, c, d in cases)
    ln10 = gmpy2.log(mpfr(10))
    worst = {"p": 0.0, "log": 0.0, "log10": 0.0, "root": 0.0}
    failures = 0
    alpha = {"two-sided": (1 - LEVEL) / 2, "less": 1 - LEVEL, "greater": 1 - LEVEL}

    def fail(text):
        nonlocal failures
        failures += 1
        if failures <= 50:
            print("FAIL " + text)

    with multiprocessing.Pool() as pool:
        models = pool.starmap(R.p_values, cases, chunksize=8)
        outputs = {}
        for alt in ("less", "greater", "two-sided"):
            args = ["-ba", alt, "--fields=" + FIELDS]
            outputs[alt] = (run(tool, args + ["-p"], lines), run(tool, args + ["-l"], lines),
                            run(tool, args, lines))
            assert all(len(o) == len(cases) for o in outputs[alt])
        # The model's sums at every positive finite ratio the tool wrote.
        wanted = sorted({(cases[i], text) for alt in outputs for i, row in enumerate(outputs[alt][0])
                         for text in (row[6], row[8], row[9])
                         if text not in ("0", "inf", "nan", "")})
        sums = pool.starmap(noncentral_at, wanted, chunksize=4)
    ratio_cache = dict(zip(wanted, sums))
    for alt in ("less", "greater", "two-sided"):
        precise, log10, six = outputs[alt]
        for i, (a, b, c, d) in enumerate(cases):
            what = f"{a} {b} {c} {d} -a {alt}"
            model = models[i]
            logs = {"p": model[alt], "mid-p": model["mid-" + alt], "less": model["less"],
                    "greater": model["greater"], "two-sided": model["two-sided"],
                    "central": model["central"]}
            for k, name in enumerate(PVALUES):
                lp = logs[name]
                p = gmpy2.exp(lp)
                text = precise[i][k]
                if text in ("", "0"):
                    fail(f"{what}: {name} wrote [{text}]")
                    continue
                if lp >= gmpy2.log(mpfr("1e-300")):
                    err = float(abs(mpfr(text) - p) / p)
                    worst["p"] = max(worst["p"], err)
                else:
                    err = float(abs(log_of(text) - lp) / abs(lp))
                    worst["log"] = max(worst["log"], err)
                if err > 1e-12:
                    fail(f"{what}: {name} {text}, model {p:.20e}, error {err:.3e}")
                want = -lp / ln10
                err = float(abs(mpfr(log10[i][k]) - want) / max(mpfr(1), want))
                worst["log10"] = max(worst["log10"], err)
                if err > 1e-12:
                    fail(f"{what}: {name} --log10 {log10[i][k]}, model {want:.20e}")
                scaled = p * 10**6
                edge = abs(scaled - gmpy2.floor(scaled) - mpfr("0.5")) < mpfr("1e-6")
                expected = "%10.6f" % float(gmpy2.rint(scaled) / 10**6)
                if not edge and six[i][k] != expected:
                    fail(f"{what}: {name} six decimals {six[i][k]!r}, model {expected!r}")
            # the odds ratios: the same in every format
            ratios = precise[i][6:]
            if ratios != six[i][6:] or ratios != log10[i][6:]:
                fail(f"{what}: odds ratios differ between formats")
            estimate, sample, low, high = ratios
            want = "nan" if b * c == 0 and a * d == 0 else "inf" if b * c == 0 else \
                repr(float(Fraction(a * d, b * c)))
            if float(sample) != float(want) and not (want == "nan" and sample == "nan"):
                fail(f"{what}: sample-or {sample}, exact {want}")
            lo, hi = R.support(a, b, c, d)
            ends = {"or": "nan" if lo == hi else "0" if a == lo else "inf" if a == hi else None}
            if alt == "less":
                ends["ci-low"] = "0"
                ends["ci-high"] = "inf" if a == hi else None
            elif alt == "greater":
                ends["ci-low"] = "0" if a == lo else None
                ends["ci-high"] = "inf"
            else:
                ends["ci-low"] = "0" if a == lo else None
                ends["ci-high"] = "inf" if a == hi else None
            for name, text in (("or", estimate), ("ci-low", low), ("ci-high", high)):
                if ends[name] is not None:
                    if text != ends[name]:
                        fail(f"{what}: {name} {text}, expected {ends[name]}")
                    continue
                value = float(text)
                if not (0 < value < math.inf):
                    fail(f"{what}: {name} {text}, expected a positive finite ratio")
                    continue
                nc = ratio_cache[((a, b, c, d), text)]
                if name == "or":
                    err = root_error(nc, "mean", a)
                else:
                    side = "ge" if name == "ci-low" else "le"
                    err = root_error(nc, side, gmpy2.log(mpfr(alpha[alt])))
                worst["root"] = max(worst["root"], err)
                if err > 1e-10:
                    fail(f"{what}: {name} {text}, relative error {err:.3e}")
    total = len(cases) * 3
    print(f"{len(cases)} tables, each with the three alternatives: {total} lines, "
          f"{total * 10} fields in each of three formats")
    print("worst relative error: p-values %.2e, logarithms below 1e-300 %.2e, --log10 %.2e, "
          "odds ratio and interval %.2e" % (worst["p"], worst["log"], worst["log10"], worst["root"]))
    print(f"{failures} failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
