"""Fisher's exact test on 2x2 tables, vectorised over NumPy arrays.

    >>> import fisher2x2
    >>> fisher2x2.fisher_exact([[1, 19], [6, 14]])
    FisherExactResult(statistic=0.12280701754385964, pvalue=0.0914760914760915)
    >>> r = fisher2x2.test([1, 0], 19, 6, [14, 0])
    >>> r.pvalue, r.odds_ratio

Counts are 64-bit (a + b + c + d at most 2^63 - 1): integer or boolean
arrays of either byte order, Python ints, or float arrays whose values are
whole numbers (NaN gives NaN), in any layout. Every value is the
double that the fisher2x2 tool writes in batch mode (--precise, --log10,
--fields), the same bits on every machine, with one thread or many.
"""

import numbers

import numpy as np

from . import _core

__all__ = ["fisher_exact", "test", "strata_test", "adjust_log10", "TestResult", "StrataResult",
           "FisherExactResult"]
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
    """The four count arrays broadcast to the shape, as the module reads
    them (any layout and byte order: its threads check and copy them), and
    the mask of missing elements or None. Python ints beyond 64 bits and
    other objects are converted here; a dtype that holds no counts is a
    TypeError, a count that is none a ValueError naming its index."""
    out, missing = [], None
    for name, x in zip("abcd", values):
        if isinstance(x, np.ma.MaskedArray):
            mask = np.ma.getmaskarray(x)
            if mask.any():
                mask = np.broadcast_to(mask, shape)
                missing = mask if missing is None else missing | mask
            x = x.data
        x = np.broadcast_to(x, shape)
        kind = x.dtype.kind
        if kind == "f" and x.dtype.itemsize not in (4, 8):  # float16, long double
            x = x.astype(np.float64)
        elif kind == "O":  # Python ints, beyond 64 bits among them
            flat = x.reshape(-1)
            good = np.array([isinstance(v, (int, np.integer)) and not isinstance(v, bool)
                             and 0 <= int(v) <= _MAX_TOTAL for v in flat], bool)
            if not good.all():
                first = int(np.argmin(good))
                raise ValueError(f"count {name} at index {_index(shape, first)} is not an integer "
                                 "from 0 to 2^63 - 1")
            x = np.array([int(v) for v in flat], np.uint64).reshape(shape)
        elif kind not in "biuf":
            raise TypeError(f"count {name} must hold integers, booleans or floats, not {x.dtype}")
        out.append(x)
    return out, missing


def _workers(workers):
    if isinstance(workers, bool) or not isinstance(workers, (int, np.integer)):
        raise TypeError(f"workers must be an integer: a number of threads, or -1 for all cores, not {workers!r}")
    if workers == 0 or workers < -1 or workers > 2**31 - 1:
        raise ValueError(f"workers must be a number of threads from 1 to 2^31 - 1, or -1 for all cores, "
                         f"not {workers!r}")
    return int(workers)


def _null_or(psi):
    if isinstance(psi, (bool, np.bool_)) or not isinstance(psi, numbers.Real):
        raise TypeError(f"null_or must be a real number, not {psi!r}")
    if not 0 < float(psi) < float("inf"):
        raise ValueError(f"null_or must be a finite number above 0, not {psi!r}")
    return float(psi)


def _conf_level(level):
    if isinstance(level, (bool, np.bool_)) or not isinstance(level, numbers.Real):
        raise TypeError(f"conf_level must be a real number, not {level!r}")
    if not 0 < float(level) < 1:
        raise ValueError(f"conf_level must lie strictly between 0 and 1, not {level!r}")
    return float(level)


class TestResult:
    """Fisher's exact test on tables of a broadcast shape. Each attribute is
    an array of that shape (a float for a 0-d call), computed when first
    read, with the others of its group: pvalue (computed at once);
    log10_pvalue; mid_pvalue; less, greater, two_sided and central;
    odds_ratio; sample_odds_ratio; ci_low and ci_high (the dearest). A table
    with a NaN count is NaN in every attribute; one with a masked count
    (a masked array's) is masked in every attribute, which are then masked
    arrays."""

    # Each attribute with the bit that computes it and the attributes the
    # same bit gives, from the library's table of its result's members.
    _BITS = dict(_core.FIELDS)
    _GROUPS = {name: (bit, tuple(n for n, b in _core.FIELDS if b == bit)) for name, bit in _core.FIELDS}

    def __init__(self, counts, missing, masked, shape, alternative, conf_level, null_or, workers):
        self._counts, self._missing, self._masked, self.shape = counts, missing, masked, shape
        self.alternative, self.conf_level, self.null_or, self.workers = alternative, conf_level, null_or, workers

    def _keep(self, arrays, names):
        for n in names:
            array = arrays[n].reshape(self.shape)
            if self._masked is not None:
                array = np.ma.masked_array(array, mask=self._masked)
            self.__dict__[n] = array[()] if self.shape == () else array

    def __getattr__(self, name):
        if name not in TestResult._GROUPS:
            raise AttributeError(name)
        bit, names = TestResult._GROUPS[name]
        arrays = _core.compute(*self._counts, self._missing, _ALTERNATIVES[self.alternative], bit,
                               self.conf_level, self.null_or, self.workers)
        self._keep(arrays, names)
        return self.__dict__[name]

    def __dir__(self):
        return sorted(set(super().__dir__()) | set(TestResult._GROUPS))

    def __repr__(self):
        return (f"TestResult(shape={self.shape}, alternative={self.alternative!r}, conf_level={self.conf_level}"
                + (f", null_or={self.null_or}" if self.null_or != 1 else "") + ")")


def test(a, b, c, d, alternative="two-sided", conf_level=0.95, workers=1, null_or=1.0):
    """Fisher's exact test on the tables a b / c d, the four array-likes
    broadcast together by NumPy's rules. alternative: 'two-sided' (the
    tables at most as probable as the observed one, ties decided exactly),
    'less' (P(X <= a)) or 'greater' (P(X >= a)), X the count in cell a given
    the margins. conf_level: the odds ratio's interval (two-sided, or
    one-sided for less and greater, as R's fisher.test). workers: threads
    to spread the work over (-1: all cores); the results are the same bits.
    null_or: the p-values under the null hypothesis psi = null_or (R's
    fisher.test(x, or = null_or)); the odds ratio and its interval do not
    depend on it. A NaN count makes its table's values NaN, as NumPy propagates NaN, and a
    masked array's masked elements are masked in the results.
    The p-values are computed at once, the rest when first read."""
    code = _alternative(alternative)
    conf_level = _conf_level(conf_level)
    workers = _workers(workers)
    null_or = _null_or(null_or)
    values = [v if isinstance(v, np.ma.MaskedArray) else np.asarray(v) for v in (a, b, c, d)]
    try:
        shape = np.broadcast_shapes(*(np.shape(v) for v in values))
    except ValueError as e:
        raise ValueError(f"the counts do not broadcast together: {e}") from None
    counts, masked = _counts(values, shape)
    # The p-values at once, the counts checked and copied by the same
    # threads, so that attributes read later see them as they were at the
    # call; the copies, with the elements missing (NaN or masked), serve
    # those attributes.
    arrays = _core.compute(*counts, masked, code, TestResult._BITS["pvalue"], conf_level, null_or, workers, True)
    missing = arrays.get("missing")
    if masked is not None:
        masked = np.array(masked).reshape(shape)
    name = "two-sided" if code == _core.TWO_SIDED else alternative
    result = TestResult(arrays["counts"], missing, masked, shape, name, conf_level, null_or, workers)
    result._keep(arrays, ("pvalue",))
    return result


def _strata_counts(x, what):
    """An array of counts as uint64, each a whole number from 0 to 2^63 - 1."""
    x = np.asarray(x)
    if x.dtype.kind == "O":
        flat = x.reshape(-1)
        if not all(isinstance(v, (int, np.integer)) and not isinstance(v, bool) and 0 <= int(v) <= _MAX_TOTAL
                   for v in flat):
            raise ValueError(f"{what} must hold integers from 0 to 2^63 - 1")
        return np.array([int(v) for v in flat], np.uint64).reshape(x.shape)
    if x.dtype.kind not in "biuf":
        raise TypeError(f"{what} must hold integers, booleans or floats, not {x.dtype}")
    if x.dtype.kind == "f":
        bad = ~(np.isfinite(x) & (x >= 0) & (x < 2.0**63) & (np.floor(x) == x))
    elif x.dtype.kind == "i":
        bad = x < 0
    elif x.dtype.kind == "u":
        bad = x > _MAX_TOTAL
    else:
        bad = np.zeros(x.shape, bool)
    if bad.any():
        first = _index(x.shape, int(np.argmax(bad.reshape(-1))))
        raise ValueError(f"{what} at index {first} is not a whole number from 0 to 2^63 - 1")
    return x.astype(np.uint64)


class StrataResult:
    """The exact stratified test of a common odds ratio on sets of strata.
    Each attribute is an array of the tests' shape (a float for one test),
    computed when first read with the others of its group: pvalue
    (computed at once), log10_pvalue, mid_pvalue, less, greater, two_sided,
    central, odds_ratio (the conditional maximum-likelihood estimate of the
    common odds ratio), ci_low and ci_high (its exact interval) and
    mh_odds_ratio (the Mantel-Haenszel estimate); with group=, also group:
    each test's key."""

    _GROUPS = {name: (bit, tuple(n for n, b in _core.FIELDS if b == bit and n != "sample_odds_ratio"))
               for name, bit in _core.FIELDS if name != "sample_odds_ratio"}

    def __init__(self, counts, starts, shape, alternative, conf_level, workers):
        self._counts, self._starts, self.shape = counts, starts, shape
        self.alternative, self.conf_level, self.workers = alternative, conf_level, workers

    def _keep(self, arrays, names):
        for n in names:
            array = arrays[n].reshape(self.shape)
            self.__dict__[n] = array[()] if self.shape == () else array

    def __getattr__(self, name):
        if name not in StrataResult._GROUPS:
            raise AttributeError(name)
        bit, names = StrataResult._GROUPS[name]
        arrays = _core.strata_compute(self._counts, self._starts, _ALTERNATIVES[self.alternative], bit,
                                      self.conf_level, self.workers)
        self._keep(arrays, names)
        return self.__dict__[name]

    def __dir__(self):
        return sorted(set(super().__dir__()) | set(StrataResult._GROUPS))

    def __repr__(self):
        return f"StrataResult(shape={self.shape}, alternative={self.alternative!r}, conf_level={self.conf_level})"


def strata_test(tables, b=None, c=None, d=None, *, group=None, alternative="two-sided", conf_level=0.95,
                workers=1):
    """The exact conditional test of a common odds ratio over K 2x2 tables
    (R's mantelhaen.test(x, exact = TRUE)): S, the sum of the strata's
    cells a, given every stratum's margins. Either tables, an array-like of
    shape (..., K, 2, 2) (the tests' shape is ...), or four 1-D columns
    strata_test(a, b, c, d, group=keys), where consecutive equal keys form
    one test (shape (tests,), and the result's group holds each test's
    key). alternative, conf_level and workers as for test; the p-values are
    those of S, two-sided the values at most as probable as the observed
    one (a value within the computation's proven error counted as tied,
    exactly where the strata are closed under reflection). K = 1 gives the
    one-table values, to the bit."""
    code = _alternative(alternative)
    conf_level = _conf_level(conf_level)
    workers = _workers(workers)
    name = "two-sided" if code == _core.TWO_SIDED else alternative
    if b is None and c is None and d is None:
        if group is not None:
            raise TypeError("group goes with the four columns a, b, c, d")
        t = _strata_counts(tables, "tables")
        if t.ndim < 3 or t.shape[-2:] != (2, 2):
            raise ValueError(f"tables must have shape (..., K, 2, 2), not {t.shape}")
        if t.shape[-3] == 0:
            raise ValueError("tables must hold at least one stratum (K >= 1)")
        shape = t.shape[:-3]
        k = t.shape[-3]
        counts = np.ascontiguousarray(t.reshape(-1, 4))
        n = counts.shape[0] // k
        starts = np.arange(n + 1, dtype=np.int64) * k
        keys = None
    else:
        if b is None or c is None or d is None or group is None:
            raise TypeError("the columns form needs a, b, c, d and group")
        cols = [_strata_counts(x, w) for x, w in zip((tables, b, c, d), "abcd")]
        keys = np.asarray(group)
        for x, w in zip(cols, "abcd"):
            if x.ndim != 1:
                raise ValueError(f"{w} must be 1-D, not of shape {x.shape}")
        if keys.ndim != 1 or any(x.shape != keys.shape for x in cols):
            raise ValueError("a, b, c, d and group must be 1-D of one length")
        if keys.size == 0:
            raise ValueError("group is empty: there is no test")
        counts = np.ascontiguousarray(np.stack(cols, axis=1))
        edges = np.flatnonzero(keys[1:] != keys[:-1]) + 1
        starts = np.concatenate(([0], edges, [keys.size])).astype(np.int64)
        shape = (starts.size - 1,)
    result = StrataResult(counts, starts, shape, name, conf_level, workers)
    if keys is not None:
        result.__dict__["group"] = keys[starts[:-1]]
    result.pvalue  # noqa: B018  (computed at once)
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


_ADJUST = ("BH", "BY", "holm", "hochberg", "bonferroni")


def adjust_log10(log10_p, method="BH"):
    """Multiple-testing adjustment on -log10 p values (test(...).log10_pvalue,
    --log10's output), returning -log10 q: R's p.adjust methods, "BH" and
    "BY" also SciPy's false_discovery_control, computed on the logarithms so
    that p-values below the doubles stay finite and in order. NaN stays NaN
    and is not counted."""
    if method not in _ADJUST:
        raise ValueError(f"method must be one of {', '.join(_ADJUST)}, not {method!r}")
    x = np.asarray(log10_p, dtype=float)
    if np.any(x[~np.isnan(x)] < 0):
        raise ValueError("log10_p must hold -log10 of p-values, each at least 0")
    out = np.full(x.shape, np.nan)
    flat = x.reshape(-1)
    keep = ~np.isnan(flat)
    v = flat[keep]
    n = v.size
    if n == 0:
        return out
    i = np.arange(1, n + 1, dtype=float)
    # As p.adjust: a product is a difference, a minimum of p a maximum of
    # -log10 p, and q = min(1, .) is max(0, .).
    if method == "bonferroni":
        q = np.maximum(0, v - np.log10(n))
    elif method == "holm":
        o = np.argsort(-v, kind="stable")
        q = np.empty(n)
        q[o] = np.maximum(0, np.minimum.accumulate(v[o] - np.log10(n - i + 1)))
    else:
        o = np.argsort(v, kind="stable")
        shift = np.log10(i) if method == "hochberg" else np.log10(n / (n - i + 1))
        if method == "BY":
            shift = shift + np.log10(np.sum(1 / i))
        q = np.empty(n)
        q[o] = np.maximum(0, np.maximum.accumulate(v[o] - shift))
    result = out.reshape(-1)
    result[keep] = q
    return result.reshape(x.shape)[()] if x.shape == () else result.reshape(x.shape)
