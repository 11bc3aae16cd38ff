"""The Python module against the tool (exactly), SciPy (to its accuracy),
and itself over dtypes, layouts, broadcasting, errors and threads."""
import os
import shutil
import subprocess

import numpy as np
import pytest

import fisher2x2

TOOL = os.environ.get("FISHER2X2_TOOL") or shutil.which("fisher2x2")
DBL_MIN = np.finfo(float).tiny


def random_tables(n, high=60, seed=1):
    rng = np.random.default_rng(seed)
    return [rng.integers(0, high + 1, n, dtype=np.int64) for _ in range(4)]


def edge_tables():
    big = 2**63 - 1
    rows = [(0, 0, 0, 0), (3, 1, 1, 3), (1, 19, 6, 14), (0, 1000, 200, 18800), (56, 1, 8, 41),
            (781, 23171, 4963, 2455001), (0, 25000, 25000, 0), (big - 3, 1, 1, 1), (7, 0, 0, 0),
            (36525, 266510, 47929, 329959), (2**40, 2**41, 2**39, 2**42)]
    return [np.array(col, dtype=np.uint64) for col in zip(*rows)]


def tool(args, counts):
    text = "".join(f"{a} {b} {c} {d}\n" for a, b, c, d in zip(*(x.tolist() for x in counts)))
    out = subprocess.run([TOOL] + args, input=text, capture_output=True, text=True, check=True).stdout
    return [line.split("\t") for line in out.splitlines()]


@pytest.mark.skipif(TOOL is None, reason="the fisher2x2 tool is not built")
@pytest.mark.parametrize("alternative", ["less", "greater", "two-sided"])
def test_every_field_is_the_tools_double(alternative):
    counts = [np.concatenate([x.astype(np.uint64), y]) for x, y in zip(random_tables(2000), edge_tables())]
    fields = ["pvalue", "mid_pvalue", "less", "greater", "two_sided", "central",
              "odds_ratio", "sample_odds_ratio", "ci_low", "ci_high"]
    lines = tool([f"-bpa{alternative}", "-fp,mid-p,less,greater,two-sided,central,or,sample-or,ci-low,ci-high",
                  "--conf-level=0.9"], counts)
    log10 = tool([f"-bla{alternative}"], counts)
    r = fisher2x2.test(*counts, alternative=alternative, conf_level=0.9)
    for k, name in enumerate(fields):
        written = np.array([float(line[k]) for line in lines])
        ours = getattr(r, name)
        if k < 6:  # below the doubles --precise writes the logarithm's digits
            normal = written >= DBL_MIN
            assert np.array_equal(written[normal], ours[normal]), name
            assert np.all(ours[~normal] < DBL_MIN), name
        else:
            assert np.array_equal(written, ours, equal_nan=True), name
    assert np.array_equal(np.array([float(x[0]) for x in log10]), r.log10_pvalue)


def test_against_scipy():
    stats = pytest.importorskip("scipy.stats")
    a, b, c, d = random_tables(300, seed=2)
    for alternative in ["two-sided", "less", "greater"]:
        ours = fisher2x2.fisher_exact(np.stack([np.stack([a, b], -1), np.stack([c, d], -1)], -2), alternative)
        theirs = [stats.fisher_exact([[w, x], [y, z]], alternative) for w, x, y, z in zip(a, b, c, d)]
        np.testing.assert_allclose(ours.pvalue, [t.pvalue for t in theirs], rtol=1e-6)
        odds = [t.statistic for t in theirs]
        both = np.isfinite(odds) & np.isfinite(ours.statistic)
        np.testing.assert_allclose(ours.statistic[both], np.array(odds)[both], rtol=1e-12)
    from scipy.stats.contingency import odds_ratio
    r = fisher2x2.test(a[:40], b[:40], c[:40], d[:40])
    for i in range(40):
        sp = odds_ratio([[a[i], b[i]], [c[i], d[i]]])
        ci = sp.confidence_interval(0.95)
        np.testing.assert_allclose([r.odds_ratio[i], r.ci_low[i], r.ci_high[i]],
                                   [sp.statistic, ci.low, ci.high], rtol=1e-6, atol=1e-12)


@pytest.mark.parametrize("convert", [
    lambda x: x.astype(np.int64), lambda x: x.astype(np.uint64), lambda x: x.astype(np.int8),
    lambda x: x.astype(np.float64), lambda x: x.tolist(), lambda x: np.asfortranarray(x.reshape(5, 4)).T,
    lambda x: np.repeat(x, 2)[::2], lambda x: x.astype(object)])
def test_dtypes_and_layouts_give_the_same_values(convert):
    counts = [x[:20] for x in random_tables(20, high=100, seed=3)]
    want = fisher2x2.test(*counts).pvalue
    got = fisher2x2.test(*(convert(x) for x in counts)).pvalue
    assert np.array_equal(np.ravel(got, order="K" if got.flags.f_contiguous else "C"), want) or \
        np.array_equal(np.asarray(got).T.ravel() if np.ndim(got) == 2 else got, want)


def test_broadcasting_shapes():
    r = fisher2x2.test(np.arange(3)[:, None], np.arange(4), 5, [[6]])
    assert r.pvalue.shape == (3, 4) and r.ci_high.shape == (3, 4)
    assert r.pvalue[2, 3] == fisher2x2.test(2, 3, 5, 6).pvalue
    scalar = fisher2x2.test(3, 1, 1, 3, alternative="less")
    assert isinstance(scalar.pvalue, float) and scalar.pvalue == 69 / 70
    empty = fisher2x2.test(np.zeros((0, 3), int), 1, 1, 1)
    assert empty.pvalue.shape == (0, 3) and empty.odds_ratio.shape == (0, 3)


@pytest.mark.parametrize("args, kwargs, message", [
    (([1, -2], 1, 1, 1), {}, r"count a at index \(1,\) is negative"),
    ((1, [[1, 1], [1, -1]], 1, 1), {}, r"count b at index \(1, 1\) is negative"),
    (([1.0, 2.5], 1, 1, 1), {}, r"count a at index \(1,\) is not a whole number"),
    ((1, 1, [np.inf], 1), {}, r"count c at index \(0,\) is not a whole number"),
    ((np.array([1, 2**63], np.uint64), 1, 1, 1), {}, r"count a at index \(1,\) is beyond 2\^63 - 1"),
    ((1, 1, 1, [3, 2**64]), {}, r"count d at index \(1,\) is not an integer"),
    (([0, 2**62], 2**62, 0, [0, 2**62]), {}, r"the total at index \(1,\) is beyond 2\^63 - 1"),
    (([1, 2], 1, 1, [1, 2, 3]), {}, "do not broadcast"),
    ((1, 1, 1, 1), {"alternative": "two_sided"}, "alternative must be"),
    ((1, 1, 1, 1), {"conf_level": 1.0}, "conf_level"),
    ((1, 1, 1, 1), {"workers": 0}, "workers"),
    ((1, 1, 1, 1), {"workers": 10**20}, "workers"),
    ((1, 1, 1, 1), {"workers": -2}, "workers"),
    ((1, 1, 1, 1), {"workers": True}, TypeError),
    ((1, 1, 1, 1), {"workers": 2.0}, TypeError),
    ((1, 1, 1, 1), {"conf_level": "0.9"}, TypeError),
    ((1, 1, 1, 1), {"null_or": 0}, "null_or"),
    ((1, 1, 1, 1), {"null_or": float("inf")}, "null_or"),
    ((1, 1, 1, 1), {"null_or": "2"}, TypeError),
    ((1, 1, 1, ["x"]), {}, TypeError),
    ((1, np.array([1], "m8[s]"), 1, 1), {}, TypeError),
    (([1j], 1, 1, 1), {}, TypeError),
])
def test_errors_name_the_fault_and_index(args, kwargs, message):
    error = message if isinstance(message, type) else ValueError
    with pytest.raises(error, match=None if isinstance(message, type) else message) as e:
        fisher2x2.test(*args, **kwargs)
    # A TypeError names the argument at fault too.
    assert error is ValueError or any(w in str(e.value) for w in ("count", "workers", "conf_level", "null_or"))


@pytest.mark.skipif(TOOL is None, reason="the fisher2x2 tool is not built")
def test_null_odds_ratio_is_the_tools():
    counts = [np.concatenate([x.astype(np.uint64), y]) for x, y in zip(random_tables(500, seed=8), edge_tables())]
    for alternative, psi in (("less", 0.25), ("two-sided", 3.5)):
        lines = tool([f"-bpa{alternative}", "-fp,mid-p,less,greater,two-sided,central", f"--null-or={psi}"], counts)
        r = fisher2x2.test(*counts, alternative=alternative, null_or=psi)
        for k, name in enumerate(["pvalue", "mid_pvalue", "less", "greater", "two_sided", "central"]):
            written = np.array([float(line[k]) for line in lines])
            normal = written >= DBL_MIN
            assert np.array_equal(written[normal], getattr(r, name)[normal]), name
        assert np.array_equal(r.odds_ratio, fisher2x2.test(*counts).odds_ratio, equal_nan=True)


@pytest.mark.parametrize("dtype", [np.bool_, np.int8, np.int16, np.int32, np.int64, np.uint8, np.uint16,
                                   np.uint32, np.uint64, np.float16, np.float32, np.float64, np.longdouble])
@pytest.mark.parametrize("order", "<>")
def test_every_dtype_in_both_byte_orders_is_read_by_value(dtype, order):
    counts = [x % 2 if dtype is np.bool_ else x for x in random_tables(50, high=100, seed=5)]
    want = fisher2x2.test(*counts, alternative="less")
    typed = [np.asarray(x).astype(np.dtype(dtype).newbyteorder(order)) for x in counts]
    got = fisher2x2.test(*typed, alternative="less", workers=2)
    assert np.array_equal(got.pvalue, want.pvalue) and np.array_equal(got.odds_ratio, want.odds_ratio,
                                                                      equal_nan=True)
    table = np.stack([np.stack(typed[:2], -1), np.stack(typed[2:], -1)], -2)
    assert np.array_equal(fisher2x2.fisher_exact(table, "less").pvalue, want.pvalue)


def test_layouts_with_workers_give_one_workers_bits():
    a, b, c, d = random_tables(30000, high=200, seed=6)
    stacked = np.stack([np.stack([a, b], -1), np.stack([c, d], -1)], -2)  # (n, 2, 2): strided columns
    layouts = {
        "strided": (stacked[:, 0, 0], stacked[:, 0, 1], stacked[:, 1, 0], stacked[:, 1, 1]),
        "broadcast": (a[:, None], b[:3], 7, d[:, None]),
        "fortran": tuple(np.asfortranarray(x.reshape(100, 300)) for x in (a, b, c, d)),
        "big-endian": tuple(x.astype(">i8") for x in (a, b, c, d)),
    }
    for name, counts in layouts.items():
        one, two = fisher2x2.test(*counts), fisher2x2.test(*counts, workers=2)
        for attribute in ("pvalue", "mid_pvalue", "odds_ratio"):
            assert np.array_equal(getattr(one, attribute), getattr(two, attribute), equal_nan=True), name
        contiguous = fisher2x2.test(*(np.ascontiguousarray(np.broadcast_to(x, one.shape)).astype(np.int64)
                                      for x in counts))
        assert np.array_equal(one.pvalue, contiguous.pvalue), name


def test_nan_and_masked_counts_propagate():
    a = np.array([3.0, np.nan, 1.0])
    r = fisher2x2.test(a, 1, 1, 3)
    assert np.isnan(r.pvalue[1]) and np.isnan(r.ci_low[1]) and np.isnan(r.sample_odds_ratio[1])
    assert r.pvalue[0] == fisher2x2.test(3, 1, 1, 3).pvalue and not np.isnan(r.odds_ratio[2])
    m = np.ma.masked_array([3, -5, 1], mask=[False, True, False])  # a masked element is never read
    r = fisher2x2.test(m, 1, 1, 3)
    assert isinstance(r.pvalue, np.ma.MaskedArray) and list(np.ma.getmaskarray(r.ci_high)) == [False, True, False]
    assert r.pvalue[0] == fisher2x2.test(3, 1, 1, 3).pvalue


def test_conf_level_any_real_and_dir_lists_every_attribute():
    r = fisher2x2.test(3, 1, 1, 3, conf_level=np.float32(0.95))
    assert r.conf_level == float(np.float32(0.95)) and r.ci_low < r.ci_high
    assert {"pvalue", "odds_ratio", "ci_low", "ci_high", "log10_pvalue", "central"} <= set(dir(r))


def test_attributes_read_later_see_the_counts_of_the_call():
    a = np.array([3, 1], np.int64)
    r = fisher2x2.test(a, 1, 1, 3)
    a[:] = 0
    assert r.odds_ratio[0] > 1 and r.less[0] == fisher2x2.test(3, 1, 1, 3).less


def test_fisher_exact_shapes():
    one = fisher2x2.fisher_exact([[3, 1], [1, 3]])
    statistic, pvalue = one
    assert statistic == 9 and pvalue == one.pvalue and isinstance(pvalue, float)
    stack = fisher2x2.fisher_exact(np.ones((4, 3, 2, 2), int))
    assert stack.pvalue.shape == (4, 3)
    with pytest.raises(ValueError, match="shape"):
        fisher2x2.fisher_exact([[1, 2, 3], [4, 5, 6]])


def test_workers_give_the_same_bits():
    counts = [np.concatenate([x.astype(np.uint64), y]) for x, y in zip(random_tables(100000, high=300, seed=4), edge_tables())]
    one = fisher2x2.test(*counts, workers=1)
    for workers in (2, 3, -1):
        many = fisher2x2.test(*counts, workers=workers)
        for name in ("pvalue", "log10_pvalue", "mid_pvalue", "central", "sample_odds_ratio"):
            assert np.array_equal(getattr(one, name).view(np.uint64), getattr(many, name).view(np.uint64)), name


def p_adjust(p, method):
    """R's p.adjust, as R writes it, on p-values (no NaN)."""
    n = len(p)
    i = np.arange(1, n + 1)
    if method == "bonferroni":
        return np.minimum(1, n * p)
    if method == "holm":
        o = np.argsort(p, kind="stable")
        q = np.empty(n)
        q[o] = np.minimum(1, np.maximum.accumulate((n - i + 1) * p[o]))
        return q
    o = np.argsort(-p, kind="stable")
    rank = n - i + 1  # R's i <- lp:1L
    factor = {"hochberg": n + 1 - rank, "BH": n / rank, "BY": np.sum(1 / i) * n / rank}[method]
    q = np.empty(n)
    q[o] = np.minimum(1, np.minimum.accumulate(factor * p[o]))
    return q


@pytest.mark.parametrize("method", ["BH", "BY", "holm", "hochberg", "bonferroni"])
def test_adjust_log10_is_p_adjust_without_underflow(method):
    rng = np.random.default_rng(9)
    p = np.concatenate([rng.random(300), 10.0 ** -rng.uniform(5, 300, 200), [np.nan]])
    q = fisher2x2.adjust_log10(-np.log10(p), method)
    assert np.isnan(q[-1])
    np.testing.assert_allclose(10 ** -q[:-1], p_adjust(p[:-1], method), rtol=1e-12)
    stats = pytest.importorskip("scipy.stats")
    if method in ("BH", "BY") and hasattr(stats, "false_discovery_control"):  # SciPy 1.11 and later
        np.testing.assert_allclose(10 ** -q[:-1], stats.false_discovery_control(p[:-1], method=method.lower()),
                                   rtol=1e-12)
    deep = fisher2x2.adjust_log10([5000.0, 6000.0, 1e5, 0.5], method)
    assert np.all(np.isfinite(deep)) and deep[0] < deep[1] < deep[2]


STRATA_FIELDS = ["pvalue", "mid_pvalue", "less", "greater", "two_sided", "central",
                 "odds_ratio", "ci_low", "ci_high", "mh_odds_ratio"]


@pytest.mark.skipif(TOOL is None, reason="the fisher2x2 tool is not built")
@pytest.mark.parametrize("alternative", ["less", "two-sided"])
def test_strata_are_the_tools_doubles_stacked_grouped_and_threaded(alternative):
    rng = np.random.default_rng(7)
    tables = rng.integers(0, 40, (300, 4, 2, 2))
    tables[:20, 1:] = 0  # one stratum that allows more than one table: the one-table values
    text = "".join(" ".join(map(str, t.reshape(-1))) + "\n" for t in tables)
    out = subprocess.run([TOOL, "-bpsa" + alternative, "-fp,mid-p,less,greater,two-sided,central,or,ci-low,ci-high,mh-or"],
                         input=text, capture_output=True, text=True, check=True).stdout
    lines = [line.split("\t") for line in out.splitlines()]
    stacked = fisher2x2.strata_test(tables, alternative=alternative)
    flat = tables.reshape(-1, 4)
    keys = np.repeat(np.arange(300) % 7, 4)  # consecutive tests differ in key
    grouped = fisher2x2.strata_test(*flat.T, group=keys, alternative=alternative, workers=2)
    assert np.array_equal(grouped.group, np.arange(300) % 7)
    for k, name in enumerate(STRATA_FIELDS):
        written = np.array([float(line[k]) for line in lines])
        for r in (stacked, grouped):
            ours = getattr(r, name)
            normal = written >= DBL_MIN if k < 6 else np.ones(written.shape, bool)
            assert np.array_equal(written[normal], ours[normal], equal_nan=True), name
    assert not hasattr(stacked, "sample_odds_ratio")


@pytest.mark.parametrize("args, kwargs, message", [
    (([[[1, 1], [1, -1]]],), {}, r"tables at index \(0, 1, 1\) is not a whole number"),
    ((np.zeros((3, 0, 2, 2)),), {}, "at least one stratum"),
    ((np.zeros((3, 2, 2)),), {"group": [1]}, TypeError),
    (([1, 2], [1, 2], [1, 2], [1, 2]), {}, TypeError),
    (([1, 2], [1, 2], [1, 2], [1]), {"group": [0, 0]}, "one length"),
    (([], [], [], []), {"group": []}, "group is empty"),
    (([[1]], [[1]], [[1]], [[1]]), {"group": [0]}, "1-D"),
    ((np.zeros((2, 2, 2)),), {"alternative": "two_sided"}, "alternative must be"),
    ((np.full((2, 2, 2), 2**62, np.uint64),), {}, r"the test at index 0: the total of the counts is beyond"),
])
def test_strata_errors_name_the_fault(args, kwargs, message):
    error = message if isinstance(message, type) else ValueError
    with pytest.raises(error, match=None if isinstance(message, type) else message):
        fisher2x2.strata_test(*args, **kwargs)
