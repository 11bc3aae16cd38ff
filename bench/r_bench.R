# The R package against R's own, paired in one R process on the same tables:
#
#   Rscript bench/r_bench.R [TABLES]      (the package installed, r/build.sh --install)
#
#   p-values     fisher_test(...)$p.value on TABLES tables with cells up to 60,
#                one worker and two, against a loop of fisher.test(m)$p.value
#                (timed on a sample and scaled)
#   all fields   fields = "all" against fisher.test with its estimate and
#                interval, on cells up to 60 and on cohort-sized tables
#   adjust       adjust_log10 on 10^7 values against p.adjust, BH
suppressMessages(library(fisher2x2))
args <- commandArgs(TRUE)
n <- if (length(args)) as.numeric(args[1]) else 1e6
best <- function(f, runs = 3) min(vapply(seq_len(runs), function(i) system.time(f())[["elapsed"]], 1))
cpu <- sub(".*: ", "", grep("model name", readLines("/proc/cpuinfo"), value = TRUE)[1])
cat(sprintf("machine: %d cores, %s; R %s\n", parallel::detectCores(), cpu, getRversion()))
set.seed(1)
small <- data.frame(a = sample(0:60, n, TRUE), b = sample(0:60, n, TRUE), c = sample(0:60, n, TRUE),
                    d = sample(0:60, n, TRUE))
one <- best(function() fisher_test(small))
two <- best(function() fisher_test(small, workers = 2))
k <- 3000
loop <- system.time(for (i in seq_len(k)) fisher.test(matrix(unlist(small[i, ]), 2, byrow = TRUE))$p.value)[["elapsed"]]
loop <- loop / k * n
cat(sprintf("p-values of %.0f tables: %.3f s on one worker, %.3f s on two (%.2f times); a fisher.test loop %.0f s, %.0f times\n",
            n, one, two, one / two, loop, loop / one))
for (mix in c("small", "cohort")) {
  m <- if (mix == "small") small[1:20000, ] else {
    r1 <- sample(1e4:5e5, 300, TRUE); r2 <- sample(1e4:5e5, 300, TRUE); f <- runif(300, 0, 0.5)
    a <- rbinom(300, r1, f); c <- rbinom(300, r2, f)
    data.frame(a = a, b = r1 - a, c = c, d = r2 - c)
  }
  ours <- best(function() fisher_test(m, fields = "all")) / nrow(m)
  s <- if (mix == "small") 2000 else 30
  theirs <- system.time(for (i in seq_len(s)) {
    t <- fisher.test(matrix(unlist(m[i, ]), 2, byrow = TRUE))
    t$p.value; t$estimate; t$conf.int
  })[["elapsed"]] / s
  cat(sprintf("all fields, %s tables: %.1f us a table against fisher.test's %.0f us: %.0f times\n",
              mix, ours * 1e6, theirs * 1e6, theirs / ours))
}
l <- runif(1e7, 0, 50)
p <- 10^-l
adj <- best(function() adjust_log10(l, "BH"))
base <- best(function() p.adjust(p, "BH"))
cat(sprintf("adjust_log10 on 10^7 values: %.2f s, p.adjust %.2f s: %.2f times\n", adj, base, adj / base))
