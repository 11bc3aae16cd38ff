"""A million tables through the module on a Dask LocalCluster: the same
doubles as the tool's --precise."""
import os
import shutil
import subprocess

import numpy as np
import pytest

import fisher2x2

TOOL = os.environ.get("FISHER2X2_TOOL") or shutil.which("fisher2x2")


def pvalues(a, b, c, d):
    return fisher2x2.test(a, b, c, d).pvalue


@pytest.mark.skipif(TOOL is None, reason="the fisher2x2 tool is not built")
def test_a_million_tables_on_a_local_cluster():
    da = pytest.importorskip("dask.array")
    distributed = pytest.importorskip("distributed")
    n = 1_000_000
    rng = np.random.default_rng(8)
    counts = [rng.integers(0, 61, n, dtype=np.int64) for _ in range(4)]
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        chunks = [da.from_array(x, chunks=125_000) for x in counts]
        ours = da.map_blocks(pvalues, *chunks, dtype=float).compute()
    text = "\n".join(" ".join(map(str, row)) for row in np.stack(counts, 1).tolist()) + "\n"
    out = subprocess.run([TOOL, "-bpa", "two-sided"], input=text, capture_output=True, text=True, check=True).stdout
    theirs = np.array(out.split(), dtype=float)
    assert theirs.shape == (n,) and np.array_equal(ours, theirs)
