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
