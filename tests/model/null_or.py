"""The p-values under a null odds ratio other than 1 (--null-or) against
the 256-bit model, the model against exact rationals, and R's
fisher.test(x, or = psi) as a peer.

    null_or.py TOOL

X is the cell a as given, w(x) = P(x) psi^x over its support. less and
greater are its tails at a, two-sided the sum of P(x; psi) over the x with
P(x; psi) <= P(a; psi), central twice the smaller tail (at most 1), the
mid-p values those with the observed table (and for two-sided the tables as
probable) counted half. Bounds as for the other p-value fields: 1e-12
relative, or 1e-12 of ln p below 1e-300, never 0; -log10 p within 1e-12
relative. R where it answers: every field it has, to 1e-9, where no table
lies within R's 1e-7 of a tie. Exit status 77 (skipped) without gmpy2.
"""
import math
import random
import shutil
import subprocess
import sys
import os
from fractions import Fraction

try:
    import gmpy2
    from gmpy2 import mpfr
except ImportError:
    print("gmpy2 is not installed: skipped")
    sys.exit(77)

sys.path.insert(0, os.path.dirname(__file__))
import reference as R  # noqa: E402

FIELDS = ["mid-p", "less", "greater", "two-sided", "central"]
TIE = mpfr("1e-50")  # log-weights this close are a tie (exact ties are 0 apart)


def log_weight(a, b, c, d, x, log_psi):
    return R.log_prob(*R.cells_at(a, b, c, d, x)) + x * log_psi


def model(a, b, c, d, psi):
    """The fields' ln p (mid-p of the alternative is not here: see below)
    as mpfr, from walks outward from a and from the mode."""
    lo, hi = R.support(a, b, c, d)
    psi_m = mpfr(psi)
    log_psi = gmpy2.log(psi_m)
    if lo == hi:
        return {"less": mpfr(0), "greater": mpfr(0), "two-sided": mpfr(0), "p_a": mpfr(0), "tied": mpfr(0),
                "lo": lo, "hi": hi}
    m = R.mode(a, b, c, d, psi_m)
    lw_m = log_weight(a, b, c, d, m, log_psi)
    lw_a = log_weight(a, b, c, d, a, log_psi)
    total = sum(t for _, t in R.walk(a, b, c, d, m, -1, psi_m)) + sum(t for _, t in R.walk(a, b, c, d, m, +1, psi_m)) - 1
    log_total = lw_m + gmpy2.log(total)

    def tail(start, step):  # ln sum of w from start outward, walking away from the mode where it can
        if start < lo or start > hi:
            return None
        if (step < 0 and start <= m) or (step > 0 and start >= m):
            return log_weight(a, b, c, d, start, log_psi) + gmpy2.log(sum(t for _, t in R.walk(a, b, c, d, start, step, psi_m)))
        other = tail(start - step, -step)  # holds the mode: the rest less the other side
        if other is None:
            return log_total
        return log_total + gmpy2.log(1 - gmpy2.exp(other - log_total))

    less, greater = tail(a, -1) - log_total, tail(a, +1) - log_total
    # Two-sided: the away tail and the far tail beyond the mode from its first
    # table at most as probable as a (a tie within TIE counts).
    away = +1 if a >= m else -1
    far = -away
    away_tail = tail(a, away)
    start = m if m != a else m + far
    end = hi if far > 0 else lo
    parts = [away_tail]
    tied = lw_a
    neighbour = a + away  # where a is a mode, the next table away may be one too
    if m == a and lo <= neighbour <= hi:
        lw_n = log_weight(a, b, c, d, neighbour, log_psi)
        if abs(lw_n - lw_a) <= TIE:
            tied = lw_a + gmpy2.log(1 + gmpy2.exp(lw_n - lw_a))
    if (far > 0 and start <= end) or (far < 0 and start >= end):
        steps = abs(end - start)
        counted = lambda j: log_weight(a, b, c, d, start + far * j, log_psi) <= lw_a + TIE
        if counted(0):
            j = 0
        else:
            lo_j, hi_j = 0, steps + 1
            while hi_j - lo_j > 1:
                mid = (lo_j + hi_j) // 2
                if counted(mid):
                    hi_j = mid
                else:
                    lo_j = mid
            j = hi_j
        if j <= steps:
            edge = start + far * j
            parts.append(tail(edge, far))
            lw_e = log_weight(a, b, c, d, edge, log_psi)
            if abs(lw_e - lw_a) <= TIE:
                tied = tied + gmpy2.log(1 + gmpy2.exp(lw_e - tied))
    top = max(parts)
    two = top + gmpy2.log(sum(gmpy2.exp(p - top) for p in parts)) - log_total
    return {"less": less, "greater": greater, "two-sided": min(two, mpfr(0)), "p_a": lw_a - log_total,
            "tied": tied - log_total, "lo": lo, "hi": hi}


def fields(mod, alternative):
    """ln of each field of the alternative."""
    exp, log = gmpy2.exp, gmpy2.log
    less, greater, two = mod["less"], mod["greater"], mod["two-sided"]
    half_a = exp(mod["p_a"]) / 2
    mid = {"less": log(exp(less) - half_a) if mod["lo"] != mod["hi"] else log(mpfr("0.5")),
           "greater": log(exp(greater) - half_a) if mod["lo"] != mod["hi"] else log(mpfr("0.5")),
           "two-sided": log(exp(two) - exp(mod["tied"]) / 2) if mod["lo"] != mod["hi"] else log(mpfr("0.5"))}
    central = min(mpfr(0), log(mpfr(2)) + min(less, greater))
    return {"mid-p": mid[alternative], "less": less, "greater": greater, "two-sided": two, "central": central}


def check_model():
    """The model against exact rationals on every table up to a total of 7,
    at odds ratios whose doubles are exact rationals; returns the checks."""
    checks = 0
    for psi in (2.0, 2.5, 0.375, 5.0):
        q = Fraction(psi)
        for n in range(8):
            for a in range(n + 1):
                for b in range(n - a + 1):
                    for c in range(n - a - b + 1):
                        d = n - a - b - c
                        lo, hi = R.support(a, b, c, d)
                        r1, c1, r2 = a + b, a + c, c + d
                        w = {x: math.comb(r1, x) * math.comb(r2, c1 - x) * q ** x for x in range(lo, hi + 1)}
                        total = sum(w.values())
                        two = sum(v for v in w.values() if v <= w[a]) / total
                        exact = {"less": sum(v for x, v in w.items() if x <= a) / total,
                                 "greater": sum(v for x, v in w.items() if x >= a) / total,
                                 "two-sided": two,
                                 "mid-p": two - sum(v for v in w.values() if v == w[a]) / total / 2}
                        mod = model(a, b, c, d, psi)
                        mod["mid-p"] = fields(mod, "two-sided")["mid-p"]
                        for name, value in exact.items():
                            if abs(gmpy2.exp(mod[name]) - mpfr(value.numerator) / value.denominator) > mpfr("1e-60"):
                                raise SystemExit(f"model wrong: {a} {b} {c} {d} psi {psi} {name}")
                            checks += 1
    return checks


def tables():
    rng = random.Random(20261209)
    out = []
    for n in range(1, 9):
        for a in range(n + 1):
            for b in range(n - a + 1):
                out.append((a, b, n - a - b, 0) if (a + b) % 2 else (a, b, 0, n - a - b))
    for _ in range(120):  # cells up to 60
        out.append(tuple(rng.randint(0, 60) for _ in range(4)))
    for _ in range(40):  # up to 50000, a anywhere
        n = rng.randint(100, 50000)
        r1, c1 = rng.randint(1, n - 1), rng.randint(1, n - 1)
        lo, hi = max(0, c1 - (n - r1)), min(r1, c1)
        a = rng.randint(lo, hi)
        out.append((a, r1 - a, c1 - a, n - r1 - c1 + a))
    for _ in range(20):  # beyond, with a row margin of at most 2000
        n = int(10 ** rng.uniform(5, 12))
        r1 = rng.randint(1, 2000)
        c1 = rng.randint(1, n - 1)
        lo, hi = max(0, c1 - (n - r1)), min(r1, c1)
        a = max(lo, min(hi, int(r1 * c1 / n) + rng.randint(-30, 30)))
        out.append((a, r1 - a, c1 - a, n - r1 - c1 + a))
    out += [(0, 5, 5, 0), (5, 0, 0, 5), (7, 0, 0, 0), (0, 0, 0, 0), (1000, 1, 1, 1000), (3, 1, 1, 3), (2, 1, 1, 2)]
    return out


def run_tool(tool, args, rows):
    text = "".join(f"{a} {b} {c} {d}\n" for a, b, c, d in rows)
    out = subprocess.run([tool] + args, input=text, capture_output=True, text=True, check=True).stdout
    return [line.split("\t") for line in out.splitlines()]


def main():
    tool = sys.argv[1]
    checks = check_model()
    print(f"the model: {checks} p-values equal to exact rationals")
    rows = tables()
    failures = worst = 0
    compared = 0
    for psi in ("0.001", "0.3", "0.999", "2", "2.5", "17", "1000000"):
        mods = [model(*t, float(psi)) for t in rows]
        for alternative in ("less", "greater", "two-sided"):
            cols = ",".join(["p"] + FIELDS)
            precise = run_tool(tool, [f"-bpa{alternative}", f"--fields={cols}", f"--null-or={psi}"], rows)
            log10 = run_tool(tool, [f"-bla{alternative}", f"--fields={cols}", f"--null-or={psi}"], rows)
            for t, mod, line, l_line in zip(rows, mods, precise, log10):
                want = fields(mod, alternative)
                want["p"] = want[alternative]
                for k, name in enumerate(["p"] + FIELDS):
                    lp = want[name]
                    text = line[k]
                    # Below 1e-300 the digits come from the logarithm: compare that.
                    if "e-" in text and int(text.split("e-")[1]) >= 300:
                        mantissa, exponent = text.split("e-")
                        got = gmpy2.log(mpfr(mantissa)) - int(exponent) * gmpy2.log(mpfr(10))
                        err = abs(got - lp) / max(abs(lp), 1)
                    else:
                        err = abs(mpfr(text) - gmpy2.exp(lp)) / gmpy2.exp(lp)
                    l_err = abs(mpfr(l_line[k]) + lp / gmpy2.log(mpfr(10))) / max(mpfr(1), -lp / gmpy2.log(mpfr(10)))
                    compared += 1
                    worst = max(worst, float(err), float(l_err))
                    if err > 1e-12 or l_err > 1e-12 or mpfr(text) == 0:
                        failures += 1
                        if failures <= 10:
                            print(f"FAIL: {t} psi {psi} {alternative} {name}: {text} (log10 {l_line[k]}), "
                                  f"model {gmpy2.exp(lp)}")
    print(f"{compared} values against the model, {len(rows)} tables, 7 odds ratios, 3 alternatives: "
          f"largest relative error {worst:.2g}")
    failures += r_peer(tool)
    return 1 if failures else 0


def r_peer(tool):
    """R's fisher.test(x, or = psi) on tables with cells up to 60."""
    if shutil.which("Rscript") is None:
        print("R is not installed: its comparison skipped")
        return 0
    rng = random.Random(7)
    rows = [tuple(rng.randint(0, 60) for _ in range(4)) for _ in range(150)]
    failures = compared = 0
    for psi in ("0.2", "3", "40"):
        script = "\n".join(
            f"m <- matrix(c({a}, {b}, {c}, {d}), 2, byrow = TRUE); "
            f"cat(sprintf('%.17g', c(fisher.test(m, or = {psi}, alternative = 'less')$p.value, "
            f"fisher.test(m, or = {psi}, alternative = 'greater')$p.value, "
            f"fisher.test(m, or = {psi})$p.value)), '\\n')" for a, b, c, d in rows)
        theirs = subprocess.run(["Rscript", "--vanilla", "-"], input=script, capture_output=True, text=True,
                                check=True).stdout
        theirs = [[float(v) for v in line.split()] for line in theirs.splitlines() if line[:1].isdigit()]
        ours = {alt: run_tool(tool, [f"-bpa{alt}", f"--null-or={psi}"], rows) for alt in ("less", "greater", "two-sided")}
        for i, t in enumerate(rows):
            lo, hi = R.support(*t)
            lw = [log_weight(*t, x, gmpy2.log(mpfr(float(psi)))) for x in range(lo, hi + 1)]
            lw_a = lw[t[0] - lo]
            near = any(x != t[0] - lo and abs(v - lw_a) < 1e-6 for x, v in enumerate(lw))
            for k, alt in enumerate(("less", "greater", "two-sided")):
                if alt == "two-sided" and near:
                    continue
                got, want = float(ours[alt][i][0]), theirs[i][k]
                compared += 1
                if abs(got - want) > 1e-9 * max(want, 1e-300):
                    failures += 1
                    if failures <= 10:
                        print(f"FAIL: R {t} psi {psi} {alt}: ours {got}, R {want}")
    print(f"R's fisher.test(x, or = psi): {compared} p-values alike within 1e-9")
    return failures


if __name__ == "__main__":
    sys.exit(main())
