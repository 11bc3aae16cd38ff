"""An independent model of the p-value in 256-bit arithmetic (gmpy2: MPFR
and GMP), for the tests only.

ln P of a table comes from MPFR's log-gamma; the tails are walked table by
table with the exact ratio of neighbours, in 256-bit floating point, until a
term falls below 1e-45 of the sum. The convention: the table oriented as the
tool orients it, the tail on the observed side, and for two tails the tables
of the opposite tail strictly less probable than the observed one, where a
log-ratio within 1e-50 of 0 is settled by exact integer products (of up to
4000 factors; a longer one counts as a tie).
"""
import gmpy2
from gmpy2 import mpfr, mpz

gmpy2.get_context().precision = 256
# p-values reach e^-(10^12) and below: the widest exponent range.
gmpy2.get_context().emax = gmpy2.get_emax_max()
gmpy2.get_context().emin = gmpy2.get_emin_min()


def orient(a, b, c, d):
    if a * d > b * c:
        a, b, c, d = b, a, d, c
    if a > d:
        a, d = d, a
    if b > c:
        b, c = c, b
    return a, b, c, d


def lgf(n):
    return gmpy2.lgamma(mpfr(n + 1))[0]


def log_prob(a, b, c, d):
    return (lgf(a + b) + lgf(c + d) + lgf(a + c) + lgf(b + d)
            - lgf(a + b + c + d) - lgf(a) - lgf(b) - lgf(c) - lgf(d))


def exact_sign(a, b, c, d, k):
    """Sign of P(a+k, b-k, c-k, d+k) - P(a, b, c, d), or None."""
    if k > 2000:
        return None
    up = mpz(1)
    down = mpz(1)
    for i in range(k):
        up *= (b - i) * (c - i)
        down *= (a + i + 1) * (d + i + 1)
    return (up > down) - (up < down)


def log_p_value(a, b, c, d, one_tailed):
    """ln p as an mpfr."""
    a, b, c, d = orient(a, b, c, d)
    if b == 0:
        return mpfr(0)
    r1, c1, n = a + b, a + c, a + b + c + d
    lp0 = log_prob(a, b, c, d)
    tiny = mpfr("1e-45")

    def cells(x):
        return x, r1 - x, c1 - x, n - r1 - c1 + x

    total = mpfr(1)
    t = mpfr(1)
    x = a
    while x > 0:  # the observed side, towards x = 0
        xa, xb, xc, xd = cells(x)
        t *= mpfr(xa * xd) / ((xb + 1) * (xc + 1))
        x -= 1
        total += t
        if t < tiny * total:
            break
    if one_tailed:
        return min(mpfr(0), lp0 + gmpy2.log(total))

    # The opposite side, x = a+1 .. a+b: from the far extreme inwards the
    # probabilities rise to the mode; bisect for the first table at least as
    # probable as the observed one.
    def less(x):
        diff = log_prob(*cells(x)) - lp0
        if abs(diff) > mpfr("1e-50"):
            return diff < 0
        s = exact_sign(a, b, c, d, x - a)
        return s is not None and s < 0

    lo, hi = a, a + b + 1
    while hi - lo > 1:
        mid = (lo + hi) // 2
        if less(mid):
            hi = mid
        else:
            lo = mid
    if hi == a + 1:
        return mpfr(0)
    x = hi
    if x <= a + b:
        t = gmpy2.exp(log_prob(*cells(x)) - lp0)
        while True:
            total += t
            if x == a + b:
                break
            xa, xb, xc, xd = cells(x)
            t *= mpfr(xb * xc) / ((xa + 1) * (xd + 1))
            x += 1
            if t < tiny * total:
                break
    return min(mpfr(0), lp0 + gmpy2.log(total))


if __name__ == "__main__":
    # Lines "a b c d test" in, ln p out.
    import sys
    for line in sys.stdin:
        a, b, c, d, t = map(int, line.split())
        print(format(log_p_value(a, b, c, d, t == 1), ".40e"))


# --- The whole test: the alternatives, mid-p, and the noncentral
# distribution of the odds ratio. Here X is the cell a as given (no
# orientation), with the margins fixed: x from lo to hi.

def support(a, b, c, d):
    r1, c1, r2 = a + b, a + c, c + d
    return max(0, c1 - r2), min(r1, c1)


def cells_at(a, b, c, d, x):
    r1, c1, r2 = a + b, a + c, c + d
    return x, r1 - x, c1 - x, r2 - c1 + x


def up_ratio(a, b, c, d, x):
    """P(x + 1) / P(x), exactly as a 256-bit float (integers below 2^128)."""
    xa, xb, xc, xd = cells_at(a, b, c, d, x)
    return mpfr(mpz(xb) * xc) / (mpz(xa + 1) * (xd + 1))


def mode(a, b, c, d, psi=None):
    """The x with the largest P(x) psi^x: the ratio falls along x."""
    lo, hi = support(a, b, c, d)
    while lo < hi:  # first x whose ratio to x + 1 is below 1
        mid = (lo + hi) // 2
        q = up_ratio(a, b, c, d, mid) * (psi if psi is not None else 1)
        if q >= 1:
            lo = mid + 1
        else:
            hi = mid
    return lo


def walk(a, b, c, d, start, step, psi=None, tiny=mpfr("1e-60")):
    """(x, w(x)/w(start)) from start outward, w = P psi^x, while not tiny."""
    lo, hi = support(a, b, c, d)
    x, t = start, mpfr(1)
    out = [(x, t)]
    total = mpfr(1)
    while (x < hi if step > 0 else x > lo):
        if step > 0:
            q = up_ratio(a, b, c, d, x)
        else:
            q = 1 / up_ratio(a, b, c, d, x - 1)
        if psi is not None:
            q = q * psi if step > 0 else q / psi
        t *= q
        x += step
        out.append((x, t))
        total += t
        if t < tiny * total and q < 1:
            break
    return out


def exact_order(a, b, c, d, x):
    """Sign of P(x) - P(a), exactly, in integers; None if too long."""
    if x == a:
        return 0
    lo = min(a, x)
    k = abs(x - a)
    if k > 4000:
        return None
    # P(lo + k) / P(lo) = prod (b_lo - i)(c_lo - i) / prod (a_lo + i + 1)(d_lo + i + 1)
    la, lb, lc, ld = cells_at(a, b, c, d, lo)
    up, down = mpz(1), mpz(1)
    for i in range(k):
        up *= (lb - i) * (lc - i)
        down *= (la + i + 1) * (ld + i + 1)
    s = (up > down) - (up < down)  # sign of P(hi) - P(lo)
    return s if x > a else -s


def log_tail(a, b, c, d, side, strict=False):
    """ln P(X >= a) (side +1) or ln P(X <= a) (side -1), or with strict the
    strict inequality; None for an empty tail."""
    lo, hi = support(a, b, c, d)
    lpa = log_prob(a, b, c, d)
    m = mode(a, b, c, d)
    first = a + side if strict else a
    if first < lo or first > hi:
        return None
    shift = lpa + (gmpy2.log(up_ratio(a, b, c, d, a)) if strict and side > 0 else 0)
    if strict and side < 0:
        shift = lpa - gmpy2.log(up_ratio(a, b, c, d, a - 1))
    # the tail away from the mode: walk it; else one less the other side
    if (side > 0 and first >= m) or (side < 0 and first <= m):
        return shift + gmpy2.log(sum(t for _, t in walk(a, b, c, d, first, side)))
    other = log_tail(a, b, c, d, -side, strict=not strict)
    return gmpy2.log(1 - gmpy2.exp(other)) if other is not None else mpfr(0)


def log_two_sided(a, b, c, d):
    """ln of the tables at most as probable as the observed one, and of
    those strictly less probable, and the number of exact ties (the observed
    one included)."""
    lo, hi = support(a, b, c, d)
    lpa = log_prob(a, b, c, d)
    m = mode(a, b, c, d)
    if lo == hi:
        return mpfr(0), None, 1

    def order(x):  # sign of P(x) - P(a), floating point outside 1e-50
        diff = log_prob(*cells_at(a, b, c, d, x)) - lpa
        if abs(diff) > mpfr("1e-50"):
            return 1 if diff > 0 else -1
        s = exact_order(a, b, c, d, x)
        return 0 if s is None else s

    # On a's side of the mode every table from a outward; on the other, the
    # tables from the first one at most as probable outward.
    toward = 1 if a < m else -1
    if a == m and m < hi and order(m + 1) == 0:
        toward = 1
    own = sum(t for _, t in walk(a, b, c, d, a, -toward))
    # the other side: x from m (or a) towards the far end: bisect
    far = hi if toward > 0 else lo
    near = max(m, a + 1) if toward > 0 else min(m, a - 1)
    if (toward > 0 and near > hi) or (toward < 0 and near < lo):
        return lpa + gmpy2.log(own), lpa + gmpy2.log(own - 1), 1
    # first x (going toward far) with order <= 0
    if order(far) > 0:
        first = None
    else:
        inner, outer = near, far  # order(outer) <= 0
        if order(inner) <= 0:
            outer = inner
        else:
            while abs(outer - inner) > 1:
                mid = (inner + outer) // 2
                if order(mid) <= 0:
                    outer = mid
                else:
                    inner = mid
        first = outer
    ties = 1
    other = mpfr(0)
    if first is not None:
        if order(first) == 0:
            ties += 1
        lf = log_prob(*cells_at(a, b, c, d, first)) - lpa
        other = gmpy2.exp(lf) * sum(t for _, t in walk(a, b, c, d, first, toward))
    total = own + other
    strictly = total - ties
    return (lpa + gmpy2.log(total),
            lpa + gmpy2.log(strictly) if strictly > mpfr("1e-70") * total else None, ties)


def p_values(a, b, c, d):
    """ln of every p-value of the whole test, by name (None: 0)."""
    lpa = log_prob(a, b, c, d)
    less = log_tail(a, b, c, d, -1)
    greater = log_tail(a, b, c, d, +1)
    two, strictly, ties = log_two_sided(a, b, c, d)

    def mid(log_full, count=1):  # the tail less half the observed table (and ties)
        return log_full + gmpy2.log(1 - count * gmpy2.exp(lpa - log_full) / 2)

    two_mid = mid(two, ties)
    smaller = min(less, greater)
    return {
        "less": min(less, mpfr(0)), "greater": min(greater, mpfr(0)),
        "two-sided": min(two, mpfr(0)),
        "central": min(mpfr(0), gmpy2.log(mpfr(2)) + smaller),
        "mid-less": mid(less), "mid-greater": mid(greater), "mid-two-sided": two_mid,
    }


def noncentral(a, b, c, d, t):
    """At psi = e^t: the mean and variance of X, and for each tail of a,
    its logarithm and conditional mean: {'mean', 'var', 'ge', 'le',
    'mean_ge', 'mean_le'}."""
    psi = gmpy2.exp(mpfr(t))
    lo, hi = support(a, b, c, d)
    m = mode(a, b, c, d, psi)
    terms = walk(a, b, c, d, m, -1, psi)[::-1] + walk(a, b, c, d, m, +1, psi)[1:]
    s0 = sum(w for _, w in terms)
    s1 = sum((x - m) * w for x, w in terms)
    s2 = sum((x - m) ** 2 * w for x, w in terms)
    mean = s1 / s0
    out = {"mean": m + mean, "var": s2 / s0 - mean * mean}
    # w(a)/w(m), and the tails of a from a outward
    la = (log_prob(a, b, c, d) - log_prob(*cells_at(a, b, c, d, m))) + (a - m) * mpfr(t)
    for side, name in ((+1, "ge"), (-1, "le")):
        away = (side > 0 and a >= m) or (side < 0 and a <= m)
        part = walk(a, b, c, d, a, side if away else -side, psi)
        p0 = sum(w for _, w in part)
        p1 = sum((x - a) * w for x, w in part)
        ra = gmpy2.exp(la)
        if away:
            mass, first = ra * p0, ra * (p1 + (a - m) * p0)
        else:
            mass = s0 - ra * (p0 - 1)
            first = s1 - ra * (p1 + (a - m) * (p0 - 1))
        out[name] = gmpy2.log(mass) - gmpy2.log(s0)
        out["mean_" + name] = m + first / mass
    return out
