"""Fisher's exact test on 2x2 tables, vectorised over NumPy arrays.

    >>> import fisher2x2
    >>> fisher2x2.fisher_exact([[1, 19], [6, 14]])
    FisherExactResult(statistic=0.12280701754385964, pvalue=0.0914760914760915)
    >>> r = fisher2x2.test([1, 0], 19, 6, [14, 0])
    >>> r.pvalue, r.odds_ratio

Counts are 64-bit (a + b + c + d at most 2^63 - 1): integer arrays, Python
ints, or float arrays whose values are whole numbers. Every value is the
double that the fisher2x2 tool writes in batch mode (--precise, --log10,
--fields), the same bits on every machine, with one thread or many.
"""

import numpy as np

from . import _core

__all__ = ["fisher_exact", "test", "TestResult", "FisherExactResult"]
__version__ = _core.version

_ALTERNATIVES = {
    "two-sided": _core.TWO_SIDED,
    "two.sided": _core.TWO_SIDED,
    "less": _core.LESS,
    "greater": _core.GREATER,
}
_MAX_TOTAL = 2**63 - 1


def _alternative(name):
    try:
        return _ALTERNATIVES[name]
    except (KeyError, TypeError):
        raise ValueError(f"alternative must be 'two-sided', 'less' or 'greater', not {name!r}") from None


def _index(shape, flat):
    return tuple(int(i) for i in np.unravel_index(flat, shape)) if shape else ()


def _counts(values, shape):
    """The four count arrays as contiguous uint64 of the broadcast shape
    (views of contiguous 64-bit integer arrays, not copies), and whether any
    is a view; ValueError naming the first offending index."""
    out, bad, views = [], None, False
    for name, x in zip("abcd", values):
        x = np.broadcast_to(x, shape)
        kind = x.dtype.kind
        if kind in "bu":
            mask = x > _MAX_TOTAL if kind == "u" else np.zeros(shape, bool)
            reason = "is beyond 2^63 - 1"
        elif kind == "i":
            mask = x < 0
            reason = "is negative"
        elif kind == "f":
            with np.errstate(invalid="ignore"):
                mask = ~(np.isfinite(x) & (x >= 0) & (x < 2.0**63) & (np.floor(x) == x))
            reason = "is not a whole number from 0 to 2^63 - 1"
        else:  # Python ints beyond 64 bits, strings, other objects
            flat = x.reshape(-1)
            mask = np.array(
                [not (isinstance(v, (int, np.integer)) and 0 <= int(v) <= _MAX_TOTAL) for v in flat], bool
            ).reshape(shape)
            reason = "is not an integer from 0 to 2^63 - 1"
        if mask.any():
            first = int(np.argmax(mask.reshape(-1)))
            if bad is None or first < bad[0]:
                bad = (first, name, reason)
        elif bad is None:
            if kind in "iu" and x.itemsize == 8 and x.dtype.isnative and x.flags.c_contiguous:
                out.append(x.view(np.uint64))  # the same bits
                views = True
            else:
                out.append(np.ascontiguousarray(x, dtype=np.uint64))
    if bad is not None:
        first, name, reason = bad
        raise ValueError(f"count {name} at index {_index(shape, first)} {reason}")
    beyond = _core.first_beyond(*out)
    if beyond >= 0:
        raise ValueError(f"the total at index {_index(shape, beyond)} is beyond 2^63 - 1")
    return out, views


class TestResult:
    """Fisher's exact test on tables of a broadcast shape. Each attribute is
    an array of that shape (a float for a 0-d call), computed when first
    read, with the others of its group: pvalue (computed at once);
    log10_pvalue; mid_pvalue; less, greater, two_sided and central;
    odds_ratio; sample_odds_ratio; ci_low and ci_high (the dearest)."""

    # Each attribute with the bit that computes it and the attributes the
    # same bit gives, from the library's table of its result's members.
    _BITS = dict(_core.FIELDS)
    _GROUPS = {name: (bit, tuple(n for n, b in _core.FIELDS if b == bit)) for name, bit in _core.FIELDS}

    def __init__(self, counts, shape, alternative, conf_level, workers):
        self._counts, self.shape = counts, shape
        self.alternative, self.conf_level, self.workers = alternative, conf_level, workers

    def __getattr__(self, name):
        if name not in TestResult._GROUPS:
            raise AttributeError(name)
        bit, names = TestResult._GROUPS[name]
        arrays = _core.compute(*self._counts, _ALTERNATIVES[self.alternative], bit, self.conf_level, self.workers)
        for n in names:
            array = arrays[n].reshape(self.shape)
            self.__dict__[n] = array[()] if self.shape == () else array
        return self.__dict__[name]

    def __repr__(self):
        return f"TestResult(shape={self.shape}, alternative={self.alternative!r}, conf_level={self.conf_level})"


def test(a, b, c, d, alternative="two-sided", conf_level=0.95, workers=1):
    """Fisher's exact test on the tables a b / c d, the four array-likes
    broadcast together by NumPy's rules. alternative: 'two-sided' (the
    tables at most as probable as the observed one, ties decided exactly),
    'less' (P(X <= a)) or 'greater' (P(X >= a)), X the count in cell a given
    the margins. conf_level: the odds ratio's interval (two-sided, or
    one-sided for less and greater, as R's fisher.test). workers: threads
    to spread the work over (-1: all cores); the results are the same bits.
    The p-values are computed at once, the rest when first read."""
    code = _alternative(alternative)
    if not (isinstance(conf_level, (int, float)) and 0 < conf_level < 1):
        raise ValueError(f"conf_level must lie strictly between 0 and 1, not {conf_level!r}")
    if not isinstance(workers, (int, np.integer)) or workers == 0 or workers < -1:
        raise ValueError(f"workers must be a positive number of threads, or -1 for all cores, not {workers!r}")
    values = [np.asarray(v) for v in (a, b, c, d)]
    try:
        shape = np.broadcast_shapes(*(v.shape for v in values))
    except ValueError as e:
        raise ValueError(f"the counts do not broadcast together: {e}") from None
    counts, views = _counts(values, shape)
    # The p-values at once; the counts copied by the same threads where they
    # are the caller's arrays, so that attributes read later see them as
    # they were at the call.
    arrays = _core.compute(*counts, code, TestResult._BITS["pvalue"], float(conf_level), int(workers), views)
    if views:
        counts = arrays["counts"]
    name = "two-sided" if code == _core.TWO_SIDED else alternative
    result = TestResult(counts, shape, name, float(conf_level), int(workers))
    pvalue = arrays["pvalue"].reshape(shape)
    result.__dict__["pvalue"] = pvalue[()] if shape == () else pvalue
    return result


class FisherExactResult(tuple):
    """(statistic, pvalue), as SciPy's fisher_exact returns them."""

    def __new__(cls, statistic, pvalue):
        return super().__new__(cls, (statistic, pvalue))

    statistic = property(lambda self: self[0])
    pvalue = property(lambda self: self[1])

    def __repr__(self):
        return f"FisherExactResult(statistic={self[0]!r}, pvalue={self[1]!r})"


def fisher_exact(table, alternative="two-sided"):
    """SciPy's fisher_exact: the sample odds ratio a d / (b c) and the
    p-value of the alternative, for a table of shape (2, 2) or a stack of
    them (..., 2, 2), which gives arrays. The two-sided value includes the
    tables exactly as probable as the observed one, decided exactly (no
    relative tolerance), and p-values below the doubles are 0 as SciPy's
    are, but never from rounding a larger value."""
    t = np.asarray(table)
    if t.ndim < 2 or t.shape[-2:] != (2, 2):
        raise ValueError(f"the table must have shape (2, 2) or (..., 2, 2), not {t.shape}")
    r = test(t[..., 0, 0], t[..., 0, 1], t[..., 1, 0], t[..., 1, 1], alternative)
    return FisherExactResult(r.sample_odds_ratio, r.pvalue)
