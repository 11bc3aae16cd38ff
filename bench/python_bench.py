#!/usr/bin/env python3
"""The Python module against SciPy, over threads, and on Dask, on the same
10^6 tables with cells up to 60 (p-values only):

    PYTHONPATH=build/python bench/python_bench.py [TABLES] [SCIPY_SAMPLE]

  module    fisher2x2.test(a, b, c, d).pvalue, one worker (best of 7)
  workers   the same with workers=2 (best of 7)
  strided   both again on the columns of one (n, 2, 2) array, as a stacked
            array or a pandas frame gives them (strided, not contiguous)
  scipy     scipy.stats.fisher_exact in a loop over the first SCIPY_SAMPLE
            tables, scaled to TABLES
  dask      a LocalCluster of 2 single-threaded worker processes mapping the
            module over 8 blocks of counts held by the workers, the p-values
            gathered here; its throughput per worker against the module's
            on one core (best of 3, the cluster started and the counts
            placed before)
"""
import os
import sys
import time

import numpy as np

import fisher2x2


def best(f, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        f()
        times.append(time.perf_counter() - start)
    return min(times)


def pvalues(a, b, c, d):
    return fisher2x2.test(a, b, c, d).pvalue


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    sample = int(sys.argv[2]) if len(sys.argv) > 2 else 3000
    rng = np.random.default_rng(1)
    a, b, c, d = (rng.integers(0, 61, n, dtype=np.int64) for _ in range(4))
    with open("/proc/cpuinfo") as f:
        cpu = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    print(f"machine: {os.cpu_count()} cores, {cpu}; {n} tables, cells up to 60")

    one = best(lambda: fisher2x2.test(a, b, c, d).pvalue, 7)
    two = best(lambda: fisher2x2.test(a, b, c, d, workers=2).pvalue, 7)
    from scipy.stats import fisher_exact
    start = time.perf_counter()
    for i in range(sample):
        fisher_exact([[a[i], b[i]], [c[i], d[i]]])
    scipy = (time.perf_counter() - start) / sample * n
    table = np.stack([np.stack([a, b], -1), np.stack([c, d], -1)], -2)
    columns = (table[:, 0, 0], table[:, 0, 1], table[:, 1, 0], table[:, 1, 1])
    one_strided = best(lambda: fisher2x2.test(*columns).pvalue, 7)
    two_strided = best(lambda: fisher2x2.test(*columns, workers=2).pvalue, 7)
    print(f"module, one worker: {one:.3f} s ({one / n * 1e9:.0f} ns a table)")
    print(f"module, workers=2: {two:.3f} s, {one / two:.2f} times one worker")
    print(f"strided columns of an (n, 2, 2) array: one worker {one_strided:.3f} s, workers=2 {two_strided:.3f} s, "
          f"{one_strided / two_strided:.2f} times one worker")
    print(f"SciPy fisher_exact loop (scaled from {sample}): {scipy:.0f} s, {scipy / one:.0f} times the module")

    import dask.array as da
    import distributed
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        client.run(lambda: __import__("fisher2x2"))
        # The counts held by the workers first, as when they are read there
        # (shipping them from this process is not the module's cost).
        chunks = [da.from_array(x, chunks=n // 8).persist() for x in (a, b, c, d)]
        distributed.wait(chunks)
        runs = iter(range(3))  # a new name each run: nothing computed before is reused
        dask_time = best(lambda: da.map_blocks(pvalues, *chunks, dtype=float, name=f"p{next(runs)}").compute(), 3)
    per_worker = n / dask_time / 2
    module_rate = n / one
    print(f"Dask LocalCluster, 2 workers: {dask_time:.3f} s; {per_worker / 1e6:.2f} M tables/s a worker "
          f"against the module's {module_rate / 1e6:.2f} M/s on one core: {module_rate / per_worker:.2f} times")


if __name__ == "__main__":
    main()
