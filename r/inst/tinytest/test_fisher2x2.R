# The package against R's fisher.test and p.adjust, against the fisher2x2
# tool where FISHER2X2_TOOL names it (bit for bit), and over its inputs,
# errors, threads and printing.
library(fisher2x2)

set.seed(1)
n <- 200
tab <- data.frame(a = sample(0:30, n, TRUE), b = sample(0:30, n, TRUE), c = sample(0:30, n, TRUE),
                  d = sample(0:30, n, TRUE))

# A table whose two-sided value R's 1e-7 tolerance may count differently: a
# table other than the observed one within 1e-6 of its probability.
near_tie <- function(a, b, c, d) {
  lo <- max(0, a + c - (c + d)); hi <- min(a + b, a + c)
  p <- dhyper(lo:hi, a + b, c + d, a + c)
  any(abs(p[-(a - lo + 1)] / p[a - lo + 1] - 1) < 1e-6)
}

# p-values, estimate and interval against fisher.test, per alternative.
for (alternative in c("two.sided", "less", "greater")) {
  ours <- fisher_test(tab, alternative = alternative, fields = "all")
  for (i in seq_len(n)) {
    m <- matrix(unlist(tab[i, ]), 2, byrow = TRUE)
    theirs <- fisher.test(m, alternative = alternative)
    if (alternative != "two.sided" || !near_tie(tab$a[i], tab$b[i], tab$c[i], tab$d[i])) {
      expect_equal(ours$p.value[i], theirs$p.value, tolerance = 1e-9)
    }
    # R's root finder stops at an absolute tolerance: its own accuracy.
    if (is.finite(theirs$estimate) && theirs$estimate > 0 && !is.nan(ours$estimate[i])) {
      expect_equal(ours$estimate[i], unname(theirs$estimate), tolerance = 5e-3)
    }
    lim <- theirs$conf.int
    if (lim[1] > 1e-3) expect_equal(ours$conf.low[i], lim[1], tolerance = 1e-2)
    if (is.finite(lim[2]) && lim[2] < 1e3) expect_equal(ours$conf.high[i], lim[2], tolerance = 1e-2)
  }
  expect_equal(ours$log10.p, -log10(ours$p.value), tolerance = 1e-12)
}

# A null odds ratio, against fisher.test(x, or = psi).
for (psi in c(0.25, 3)) {
  ours <- fisher_test(tab, alternative = "less", or = psi)$p.value
  theirs <- vapply(seq_len(n), function(i) {
    fisher.test(matrix(unlist(tab[i, ]), 2, byrow = TRUE), or = psi, alternative = "less")$p.value
  }, 1)
  expect_equal(ours, theirs, tolerance = 1e-9)
}

# The tool's --precise doubles, where the tool is at hand: the same bits,
# but R's reader of decimals is not correctly rounded (it reads
# 0.05711032047552193 an ulp high), so they are compared to within the ulp
# it may miss by; -log10 p is written with few digits and read exactly.
tool <- Sys.getenv("FISHER2X2_TOOL")
if (nzchar(tool) && file.exists(tool)) {
  big <- data.frame(a = c(tab$a, 781, 0), b = c(tab$b, 23171, 25000), c = c(tab$c, 4963, 25000),
                    d = c(tab$d, 2455001, 0))
  input <- tempfile()
  writeLines(sprintf("%.0f %.0f %.0f %.0f", big$a, big$b, big$c, big$d), input)
  for (alternative in c("two-sided", "less", "greater")) {
    out <- system2(tool, c(paste0("-bpa", alternative), "-fp,mid-p,or,ci-low,ci-high", input), stdout = TRUE)
    written <- do.call(rbind, lapply(strsplit(out, "\t"), as.numeric))
    r <- fisher_test(big, alternative = sub("-", ".", alternative),
                     fields = c("p.value", "mid.p", "estimate", "conf.low", "conf.high"))
    normal <- written[, 1] >= .Machine$double.xmin
    ulp <- function(x, y) all(x == y | abs(x - y) <= 2^-52 * abs(x), na.rm = TRUE) && identical(is.na(x), is.na(y))
    expect_true(ulp(r$p.value[normal], written[normal, 1]))
    for (k in 3:5) expect_true(ulp(r[[k]], written[, k]))
  }
  l <- as.numeric(system2(tool, c("-bla", "two-sided", input), stdout = TRUE))
  expect_true(ulp(fisher_test(big, fields = "log10.p")$log10.p, l))
}

# Input forms: recycling, a matrix, a data frame, integers, NA, integer64.
one <- fisher_test(3, 1, 1, 3, fields = "all")
expect_identical(fisher_test(3L, 1L, 1L, 3L, fields = "all"), one)
expect_identical(fisher_test(matrix(c(3, 1, 1, 3), 1), fields = "all"), one)
expect_equal(nrow(fisher_test(c(3, 4), 1, 1, c(3, 5, 6, 7))), 4)
expect_warning(fisher_test(c(3, 4, 5), 1, 1, c(3, 5)))
expect_identical(nrow(fisher_test(numeric(0), 1, 1, 1)), 0L)
r <- fisher_test(c(3, NA), c(1, 1), 1, 3, fields = c("p.value", "estimate"))
expect_true(is.na(r$p.value[2]) && is.na(r$estimate[2]) && r$p.value[1] == one$p.value)
expect_true(is.na(fisher_test(NaN, 1, 1, 1)$p.value))
expect_identical(fisher_test(3, 1, 1, 3, alternative = "g")$p.value, fisher_test(3, 1, 1, 3, "greater")$p.value)
if (requireNamespace("bit64", quietly = TRUE)) {
  huge <- bit64::as.integer64("4611686018427387902")
  r <- fisher_test(huge, 1, 1, huge, fields = c("p.value", "log10.p"))
  expect_true(r$log10.p > 1e17)
  expect_identical(fisher_test(bit64::as.integer64(c(3, NA)), 1, 1, 3)$p.value, c(one$p.value, NA))
  expect_error(fisher_test(bit64::as.integer64(c(3, -1)), 1, 1, 3), "count 'a': element 2 is negative")
}

# Every error names its argument and element.
errors <- list(
  list(quote(fisher_test(c(1, -1), 1, 1, 1)), "count 'a': element 2"),
  list(quote(fisher_test(1, c(1, 2.5), 1, 1)), "count 'b': element 2"),
  list(quote(fisher_test(1, 1, Inf, 1)), "count 'c': element 1"),
  list(quote(fisher_test(1, 1, 1, "x")), "count 'd' must be numeric"),
  list(quote(fisher_test(2^62, 2^62, 1, 1)), "the total of table 1"),
  list(quote(fisher_test(1, 1, 1, 1, alternative = "two_sided")), "should be one of"),
  list(quote(fisher_test(1, 1, 1, 1, conf.level = 1)), "'conf.level'"),
  list(quote(fisher_test(1, 1, 1, 1, fields = "odds")), "unknown field in 'fields': odds"),
  list(quote(fisher_test(1, 1, 1, 1, workers = 0)), "'workers'"),
  list(quote(fisher_test(1, 1, 1, 1, or = 0)), "'or'"),
  list(quote(fisher_test(1, 1, 1)), "all four counts"),
  list(quote(fisher_htest(matrix(1:6, 2))), "stats::fisher.test"))
for (e in errors) expect_error(eval(e[[1]]), e[[2]], fixed = TRUE)

# Threads: the same bits as one.
many <- data.frame(a = sample(0:300, 20000, TRUE), b = sample(0:300, 20000, TRUE),
                   c = sample(0:300, 20000, TRUE), d = sample(0:300, 20000, TRUE))
expect_identical(fisher_test(many, fields = c("p.value", "estimate"), workers = 2),
                 fisher_test(many, fields = c("p.value", "estimate")))

# The htest prints as fisher.test's does, with the exact values.
m <- matrix(c(3, 1, 1, 3), 2)
h <- fisher_htest(m, alternative = "greater")
expect_inherits(h, "htest")
printed <- capture.output(print(h))
expect_true(any(grepl("Fisher's Exact Test for Count Data", printed, fixed = TRUE)))
expect_true(any(grepl("alternative hypothesis: true odds ratio is greater than 1", printed, fixed = TRUE)))
expect_equal(h$p.value, fisher.test(m, alternative = "greater")$p.value, tolerance = 1e-12)
expect_identical(unname(h$estimate), fisher_test(3, 1, 1, 3, fields = "estimate")$estimate)

# adjust_log10 against p.adjust where that does not underflow, and in order
# where it does.
p <- c(runif(300), 10^-runif(200, 5, 300), NA)
for (method in c("BH", "BY", "holm", "hochberg", "bonferroni")) {
  q <- adjust_log10(-log10(p), method)
  expect_equal(10^-q, p.adjust(p, method), tolerance = 1e-12)
  expect_true(is.na(q[length(q)]))
  deep <- adjust_log10(c(5000, 6000, 1e5, 0.5), method)
  expect_true(all(is.finite(deep)) && deep[1] < deep[2] && deep[2] < deep[3])
}
expect_equal(adjust_log10(c(5000, 6000), "bonferroni"), c(5000, 6000) - log10(2))

# The stratified test against mantelhaen.test(exact = TRUE), K = 1 against
# fisher_test, and its errors.
set.seed(3)
for (alternative in c("two.sided", "less")) {
  strata <- data.frame(g = rep(1:40, each = 3), a = sample(0:20, 120, TRUE), b = sample(0:20, 120, TRUE),
                       c = sample(0:20, 120, TRUE), d = sample(0:20, 120, TRUE))
  ours <- strata_test(strata$a, strata$b, strata$c, strata$d, strata$g, alternative = alternative,
                      fields = "all", workers = 2)
  expect_equal(ours$group, 1:40)
  for (t in 1:40) {
    s <- strata[strata$g == t, ]
    x <- array(t(as.matrix(s[, c("a", "c", "b", "d")])), c(2, 2, 3))
    theirs <- mantelhaen.test(x, exact = TRUE, alternative = alternative)
    # R counts a near tie within 1e-7 as tied; p-values away from ties agree.
    expect_equal(ours$p.value[t], theirs$p.value, tolerance = 1e-6)
    expect_equal(ours$estimate[t], unname(theirs$estimate), tolerance = 5e-3)
    expect_equal(ours$mh.or[t], unname(mantelhaen.test(x, exact = FALSE)$estimate), tolerance = 1e-12)
  }
  one <- strata_test(tab$a, tab$b, tab$c, tab$d, seq_len(n), alternative = alternative, fields = "all")
  expect_identical(one[, c("p.value", "estimate", "conf.low", "conf.high")],
                   fisher_test(tab, alternative = alternative, fields = c("p.value", "estimate", "conf.low", "conf.high")))
}
h <- strata_htest(array(c(3, 1, 1, 3, 2, 2, 2, 2), c(2, 2, 2)))
m <- mantelhaen.test(array(c(3, 1, 1, 3, 2, 2, 2, 2), c(2, 2, 2)), exact = TRUE)
expect_identical(names(unclass(h)), names(unclass(m)))
expect_identical(h$method, m$method)
expect_equal(h$statistic, m$statistic)
expect_true(any(grepl("common odds ratio", capture.output(print(h)))))
expect_error(strata_test(1, 1, 1, -1, 1), "count 'd': element 1")
expect_error(strata_test(1, 1, 1, 1), "'group'")
expect_error(strata_test(1:2, 1, 1, 1, 1:2), "one length")
expect_error(strata_test(1, 1, 1, 1, 1, fields = "sample.or"), "unknown field")
expect_error(strata_htest(matrix(1:4, 2)), "2 x 2 x K")
