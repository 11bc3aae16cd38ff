"""The R package's values against the Python module's, bit for bit: both
are the C library's doubles. R writes them in hexadecimal (%a, exact), the
module computes the same tables.

    R_LIBS=DIR PYTHONPATH=... same_bits.py
"""
import subprocess
import sys

import numpy as np

import fisher2x2

FIELDS = {"p.value": "pvalue", "log10.p": "log10_pvalue", "mid.p": "mid_pvalue", "less": "less",
          "greater": "greater", "two.sided": "two_sided", "central": "central", "estimate": "odds_ratio",
          "sample.or": "sample_odds_ratio", "conf.low": "ci_low", "conf.high": "ci_high"}

SCRIPT = r"""
suppressMessages({library(fisher2x2); library(bit64)})
set.seed(3)
n <- 3000
big <- as.integer64(2)^as.integer64(sample(10:60, 200, TRUE))
a <- c(as.integer64(sample(0:60, n, TRUE)), big %/% as.integer64(7), as.integer64(c(781, 0)))
b <- c(as.integer64(sample(0:600, n, TRUE)), big %/% as.integer64(5), as.integer64(c(23171, 25000)))
c <- c(as.integer64(sample(0:60, n, TRUE)), big %/% as.integer64(3), as.integer64(c(4963, 25000)))
d <- c(as.integer64(sample(0:6000, n, TRUE)), big %/% as.integer64(2), as.integer64(c(2455001, 0)))
for (alternative in c("two.sided", "less", "greater")) {
  r <- fisher_test(a, b, c, d, alternative = alternative, fields = "all", conf.level = 0.9, or = ALT_OR)
  cat(alternative, "\n")
  cat(sprintf("%s %s %s %s", as.character(a), as.character(b), as.character(c), as.character(d)),
      apply(r, 1, function(v) paste(sprintf("%a", v), collapse = " ")), sep = "\n")
}
"""


def main():
    failures = compared = 0
    for psi in ("1", "2.5"):
        out = subprocess.run(["Rscript", "--vanilla", "-"], input=SCRIPT.replace("ALT_OR", psi),
                             capture_output=True, text=True, check=True).stdout.split("\n")
        blocks, current = {}, None
        for line in out:
            if line.strip() in ("two.sided", "less", "greater"):
                current = line.strip()
                blocks[current] = []
            elif line and current:
                blocks[current].append(line)
        for alternative, lines in blocks.items():
            tables = [tuple(int(v) for v in line.split()) for line in lines[: len(lines) // 2]]
            values = [[float.fromhex(v) if v not in ("NA", "NaN") else float("nan") for v in line.split()]
                      for line in lines[len(lines) // 2:]]
            counts = [np.array(col, dtype=np.uint64) for col in zip(*tables)]
            r = fisher2x2.test(*counts, alternative=alternative.replace(".", "-"), conf_level=0.9,
                               null_or=float(psi))
            for k, name in enumerate(FIELDS.values()):
                ours = np.asarray(getattr(r, name))
                theirs = np.array([row[k] for row in values])
                same = (ours.view(np.uint64) == theirs.view(np.uint64)) | (np.isnan(ours) & np.isnan(theirs))
                compared += same.size
                if not same.all():
                    failures += int((~same).sum())
                    i = int(np.argmin(same))
                    print(f"FAIL: or {psi} {alternative} {name} {tables[i]}: R {theirs[i]!r}, module {ours[i]!r}")
    print(f"R package against the Python module: {compared} values, {failures} differ")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
