"""The double-double core and the log-probabilities against 256-bit
arithmetic (gmpy2), on the arguments numerics_probe prints:

    numerics.py PROBE

  Log(x)               within 2^-100 * max(1, |ln x|) of ln x
  Exp(x)               within 2^-96 of e^x, relative (-650 <= x <= 700)
  ExpToDouble(x)       within 2 ulps of e^x
  log-probabilities    within the error bound they come with (the bound
                       that the exact tie decisions rest on), and that bound
                       at least 16 times the error seen
Exit status 77 (skipped) without gmpy2.
"""
import subprocess
import sys

try:
    import gmpy2
    from gmpy2 import mpfr
except ImportError:
    print("gmpy2 is not installed: skipped")
    sys.exit(77)

gmpy2.get_context().precision = 256


def h(s):
    return mpfr(float.fromhex(s))


cache = {}


def lgf(n):
    if n not in cache:
        cache[n] = gmpy2.lgamma(mpfr(n + 1))[0]
    return cache[n]


def main():
    out = subprocess.run([sys.argv[1]], capture_output=True, text=True, check=True).stdout
    worst = {"log": 0, "exp": 0, "exp2": 0, "lp": 0}
    failures = checks = 0
    for line in out.splitlines():
        f = line.split()
        checks += 1
        if f[0] == "log":
            x, y = h(f[1]) + h(f[2]), h(f[3]) + h(f[4])
            t = gmpy2.log(x)
            err = abs(y - t) / max(1, abs(t)) * mpfr(2) ** 100
            worst["log"] = max(worst["log"], err)
            bad = err > 1
        elif f[0] == "exp":
            x, y, d = h(f[1]) + h(f[2]), h(f[3]) + h(f[4]), h(f[5])
            t = gmpy2.exp(x)
            err = abs(y - t) / t * mpfr(2) ** 96
            ulps = abs(d - t) / (mpfr(2) ** (gmpy2.floor(gmpy2.log2(t)) - 52))
            worst["exp"] = max(worst["exp"], err)
            worst["exp2"] = max(worst["exp2"], ulps)
            bad = err > 1 or ulps > 2
        else:
            a, b, c, d = (int(v) for v in f[1:5])
            v, bound = h(f[5]) + h(f[6]), h(f[7])
            t = (lgf(a + b) + lgf(c + d) + lgf(a + c) + lgf(b + d)
                 - lgf(a + b + c + d) - lgf(a) - lgf(b) - lgf(c) - lgf(d))
            # a single table (an empty margin): exactly 0, without a bound
            err = abs(v - t) / bound if bound > 0 else (0 if abs(v - t) < 1e-60 else 1e9)
            worst["lp"] = max(worst["lp"], err)
            bad = err * 16 > 1
        if bad:
            failures += 1
            print("FAIL", line)
    print("worst: Log %.3g of 2^-100 (scaled), Exp %.3g of 2^-96, ExpToDouble %.3g ulps, "
          "log-probability %.3g of its bound"
          % (worst["log"], worst["exp"], worst["exp2"], worst["lp"]))
    print(f"{checks - failures} passed, {failures} failed")
    sys.exit(1 if failures else 0)


main()
