"""An independent model of the p-value in 256-bit arithmetic (mpmath, gmpy2).

For tests only. ln P of a table is formed from mpmath's log-gamma; the tails
are walked table by table with the exact ratio of neighbours, in 256-bit
floating point, until a term falls below 1e-45 of the sum. The convention:
the table oriented as the tool does, the tail on the observed side, and for
two tails the tables of the opposite tail strictly less probable than the
observed one, where a ratio within 1e-60 of 1 is settled with exact integer
products (up to 4000 factors; a longer one counts as a tie).
"""
import gmpy2
import mpmath
from mpmath import mpf

mpmath.mp.prec = 256


def orient(a, b, c, d):
    if a * d > b * c:
        a, b, c, d = b, a, d, c
    if a > d:
        a, d = d, a
    if b > c:
        b, c = c, b
    return a, b, c, d


def log_prob(a, b, c, d):
    lg = lambda n: mpmath.loggamma(n + 1)
    return (lg(a + b) + lg(c + d) + lg(a + c) + lg(b + d)
            - lg(a + b + c + d) - lg(a) - lg(b) - lg(c) - lg(d))


def exact_sign(a, b, c, d, k):
    """Sign of P(a+k, b-k, c-k, d+k) - P(a, b, c, d), or None."""
    if 4 * k > 4000:
        return None
    up = gmpy2.mpz(1)
    down = gmpy2.mpz(1)
    for i in range(k):
        up *= (b - i) * (c - i)
        down *= (a + i + 1) * (d + i + 1)
    return (up > down) - (up < down)


def log_p_value(a, b, c, d, one_tailed):
    """ln p as an mpf."""
    a, b, c, d = orient(a, b, c, d)
    if b == 0:
        return mpf(0)
    r1, c1, n = a + b, a + c, a + b + c + d
    lp0 = log_prob(a, b, c, d)
    tiny = mpf(10) ** -45

    def cells(x):
        return x, r1 - x, c1 - x, n - r1 - c1 + x

    total = mpf(1)
    t = mpf(1)
    x = a
    while x > 0:  # observed side, towards x = 0
        xa, xb, xc, xd = cells(x)
        t *= mpf(xa * xd) / ((xb + 1) * (xc + 1))
        x -= 1
        total += t
        if t < tiny * total:
            break
    if one_tailed:
        return lp0 + mpmath.log(total)

    # The opposite side: from the far extreme inwards the ratio to p0 rises
    # to the mode; find the first table at least as probable by bisection
    # on the exact log-probabilities.
    def less(x):
        diff = log_prob(*cells(x)) - lp0
        if abs(diff) > mpf(10) ** -60:
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
        return mpf(0)
    x = hi
    t = mpmath.exp(log_prob(*cells(x)) - lp0) if x <= a + b else 0
    while x <= a + b:
        total += t
        if x == a + b:
            break
        xa, xb, xc, xd = cells(x)
        t *= mpf(xb * xc) / ((xa + 1) * (xd + 1))
        x += 1
        if t < tiny * total:
            break
    return min(mpf(0), lp0 + mpmath.log(total))
