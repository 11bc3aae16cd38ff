# Fisher's exact test on 2x2 tables over the C library: the arguments are
# checked and recycled here, the tables computed in C (src/glue.cpp).

# The columns, as R users name them, and the C library's members behind
# them (its own table of members by name, bit by bit).
.fields <- c(p.value = "pvalue", log10.p = "log10_pvalue", mid.p = "mid_pvalue",
             less = "less", greater = "greater", two.sided = "two_sided", central = "central",
             estimate = "odds_ratio", sample.or = "sample_odds_ratio",
             conf.low = "ci_low", conf.high = "ci_high")
.alternatives <- c(two.sided = 0L, less = 1L, greater = 2L)

# One count argument as the C code reads it: integers (logical NA too),
# doubles, or integer64 (its bits in a double).
.count_vector <- function(x, name) {
  if (inherits(x, "integer64")) return(x)
  if (is.logical(x) && all(is.na(x))) return(as.integer(x))
  if (!is.numeric(x)) stop(sprintf("count '%s' must be numeric, not %s", name, class(x)[1]), call. = FALSE)
  if (is.integer(x) || is.double(x)) x else as.double(x)
}

#' @export
fisher_test <- function(a, b, c, d, alternative = "two.sided", conf.level = 0.95, fields = "p.value",
                        workers = 1L, or = 1) {
  if (missing(b) && missing(c) && missing(d)) {
    if (!(is.matrix(a) || is.data.frame(a)) || ncol(a) != 4L) {
      stop("give four count vectors a, b, c, d, or a matrix or data frame of four count columns", call. = FALSE)
    }
    cols <- if (is.data.frame(a)) as.list(a) else lapply(seq_len(4L), function(k) a[, k])
    a <- cols[[1]]; b <- cols[[2]]; c <- cols[[3]]; d <- cols[[4]]
  } else if (missing(b) || missing(c) || missing(d)) {
    stop("give all four counts a, b, c, d", call. = FALSE)
  }
  alternative <- match.arg(alternative, names(.alternatives))
  if (!is.numeric(conf.level) || length(conf.level) != 1L || is.na(conf.level) ||
      !(conf.level > 0 && conf.level < 1)) {
    stop("'conf.level' must be a single number between 0 and 1", call. = FALSE)
  }
  if (!is.numeric(or) || length(or) != 1L || is.na(or) || !(or > 0) || !is.finite(or)) {
    stop("'or' must be a single positive finite number", call. = FALSE)
  }
  if (!is.character(fields) || !length(fields)) stop("'fields' must name columns", call. = FALSE)
  if (identical(fields, "all")) fields <- names(.fields)
  unknown <- setdiff(fields, names(.fields))
  if (length(unknown)) {
    stop(sprintf("unknown field in 'fields': %s (known: %s, or \"all\")", unknown[1],
                 paste(names(.fields), collapse = ", ")), call. = FALSE)
  }
  if (!is.numeric(workers) || length(workers) != 1L || is.na(workers) || workers != floor(workers) ||
      !(workers >= 1 || workers == -1) || workers > .Machine$integer.max) {
    stop("'workers' must be a number of threads, or -1 for all cores", call. = FALSE)
  }
  if (workers == -1) workers <- max(1L, parallel::detectCores(), na.rm = TRUE)
  counts <- Map(.count_vector, list(a, b, c, d), c("a", "b", "c", "d"))
  lengths <- vapply(counts, length, 1)
  n <- if (any(lengths == 0)) 0 else max(lengths)
  if (n > 0 && any(n %% lengths != 0)) {
    warning("longer object length is not a multiple of shorter object length", call. = FALSE)
  }
  members <- unname(.fields[fields])
  # The C code recycles, checks (NA rows give NA) and computes, in threads.
  out <- .Call(C_fisher_test, counts[[1]], counts[[2]], counts[[3]], counts[[4]],
               vapply(counts, function(x) inherits(x, "integer64"), TRUE), .alternatives[[alternative]], unique(members),
               as.double(conf.level), as.double(or), as.integer(workers))
  if (is.numeric(out)) {
    name <- c("a", "b", "c", "d")[out[2]]
    if (out[1] == 3) stop(sprintf("the total of table %.0f (a + b + c + d) is beyond 2^63 - 1", out[3]), call. = FALSE)
    value <- counts[[out[2]]][out[3]]
    stop(sprintf("count '%s': element %.0f %s (%s)", name, out[3],
                 if (out[1] == 1) "is negative" else "is not a whole number from 0 to 2^63 - 1",
                 format(value, digits = 17)), call. = FALSE)
  }
  columns <- lapply(members, function(m) out[[m]])
  names(columns) <- fields
  as.data.frame(columns, optional = TRUE)
}

#' @export
fisher_htest <- function(x, alternative = "two.sided", conf.level = 0.95, or = 1) {
  data.name <- deparse1(substitute(x))
  if (is.data.frame(x)) x <- as.matrix(x)
  if (is.numeric(x) && is.null(dim(x)) && length(x) == 4L) x <- matrix(x, 2L, byrow = TRUE)
  if (!is.matrix(x) || !identical(dim(x), c(2L, 2L))) {
    stop("fisher_htest takes a 2 x 2 table (or its four counts a, b, c, d); ",
         "for larger tables use stats::fisher.test", call. = FALSE)
  }
  alternative <- match.arg(alternative, names(.alternatives))
  r <- fisher_test(x[1, 1], x[1, 2], x[2, 1], x[2, 2], alternative = alternative, conf.level = conf.level,
                   fields = c("p.value", "estimate", "conf.low", "conf.high"), or = or)
  conf.int <- c(r$conf.low, r$conf.high)
  attr(conf.int, "conf.level") <- conf.level
  structure(list(p.value = r$p.value, conf.int = conf.int, estimate = c(`odds ratio` = r$estimate),
                 null.value = c(`odds ratio` = or), alternative = alternative,
                 method = "Fisher's Exact Test for Count Data", data.name = data.name),
            class = "htest")
}

# The stratified test's columns: the one-table test's, with mh.or in the
# place of sample.or.
.strata_fields <- c(.fields[names(.fields) != "sample.or"], mh.or = "mh_odds_ratio")

# A count vector of the stratified test: no NA, each a whole number from 0.
.strata_counts <- function(x, name) {
  x <- .count_vector(x, name)
  bad <- if (inherits(x, "integer64")) which(is.na(x) | x < 0) else which(is.na(x) | x < 0 | x != floor(x) | x >= 2^63)
  if (length(bad)) {
    stop(sprintf("count '%s': element %d is not a whole number from 0 to 2^63 - 1 (%s)", name, bad[1],
                 format(x[bad[1]], digits = 17)), call. = FALSE)
  }
  x
}

#' @export
strata_test <- function(a, b, c, d, group, alternative = "two.sided", conf.level = 0.95, fields = "p.value",
                        workers = 1L) {
  if (missing(group)) stop("'group' must give each stratum's test: consecutive equal values form one", call. = FALSE)
  alternative <- match.arg(alternative, names(.alternatives))
  if (!is.numeric(conf.level) || length(conf.level) != 1L || is.na(conf.level) ||
      !(conf.level > 0 && conf.level < 1)) {
    stop("'conf.level' must be a single number between 0 and 1", call. = FALSE)
  }
  if (!is.character(fields) || !length(fields)) stop("'fields' must name columns", call. = FALSE)
  if (identical(fields, "all")) fields <- names(.strata_fields)
  unknown <- setdiff(fields, names(.strata_fields))
  if (length(unknown)) {
    stop(sprintf("unknown field in 'fields': %s (known: %s, or \"all\")", unknown[1],
                 paste(names(.strata_fields), collapse = ", ")), call. = FALSE)
  }
  if (!is.numeric(workers) || length(workers) != 1L || is.na(workers) || workers != floor(workers) ||
      !(workers >= 1 || workers == -1) || workers > .Machine$integer.max) {
    stop("'workers' must be a number of threads, or -1 for all cores", call. = FALSE)
  }
  if (workers == -1) workers <- max(1L, parallel::detectCores(), na.rm = TRUE)
  counts <- Map(.strata_counts, list(a, b, c, d), c("a", "b", "c", "d"))
  n <- length(group)
  if (n == 0) stop("'group' is empty: there is no test", call. = FALSE)
  if (any(vapply(counts, length, 1) != n)) stop("'a', 'b', 'c', 'd' and 'group' must have one length", call. = FALSE)
  if (anyNA(group)) stop(sprintf("'group': element %d is NA", which(is.na(group))[1]), call. = FALSE)
  runs <- rle(if (is.factor(group)) as.character(group) else group)
  starts <- c(0, cumsum(runs$lengths))
  members <- unname(.strata_fields[fields])
  out <- .Call(C_strata_test, counts[[1]], counts[[2]], counts[[3]], counts[[4]],
               vapply(counts, function(x) inherits(x, "integer64"), TRUE), as.double(starts),
               .alternatives[[alternative]], unique(members), as.double(conf.level), as.integer(workers))
  columns <- c(list(group = group[starts[-length(starts)] + 1]), lapply(members, function(m) out[[m]]))
  names(columns) <- c("group", fields)
  as.data.frame(columns, optional = TRUE)
}

#' @export
strata_htest <- function(x, alternative = "two.sided", conf.level = 0.95) {
  data.name <- deparse1(substitute(x))
  if (!is.array(x) || length(dim(x)) != 3L || !all(dim(x)[1:2] == 2L)) {
    stop("strata_htest takes a 2 x 2 x K array, as mantelhaen.test does", call. = FALSE)
  }
  if (dim(x)[3] < 1L) stop("the array holds no stratum", call. = FALSE)
  alternative <- match.arg(alternative, names(.alternatives))
  k <- dim(x)[3]
  r <- strata_test(x[1, 1, ], x[1, 2, ], x[2, 1, ], x[2, 2, ], group = rep(1L, k), alternative = alternative,
                   conf.level = conf.level, fields = c("p.value", "estimate", "conf.low", "conf.high"))
  conf.int <- c(r$conf.low, r$conf.high)
  attr(conf.int, "conf.level") <- conf.level
  structure(list(statistic = c(S = sum(x[1, 1, ])), p.value = r$p.value, conf.int = conf.int,
                 estimate = c(`common odds ratio` = r$estimate), null.value = c(`common odds ratio` = 1),
                 alternative = alternative,
                 method = "Exact conditional test of independence in 2 x 2 x k tables", data.name = data.name),
            class = "htest")
}

#' @export
adjust_log10 <- function(log10.p, method = c("BH", "BY", "holm", "hochberg", "bonferroni")) {
  method <- match.arg(method)
  if (!is.numeric(log10.p)) stop("'log10.p' must be numeric: -log10 of p-values", call. = FALSE)
  bad <- which(!is.na(log10.p) & !(log10.p >= 0))
  if (length(bad)) {
    stop(sprintf("'log10.p': element %d is not -log10 of a p-value (%s)", bad[1], format(log10.p[bad[1]])),
         call. = FALSE)
  }
  q <- log10.p
  keep <- !is.na(log10.p)
  l <- log10.p[keep]
  n <- length(l)
  if (n == 0) return(q)
  # p.adjust's rules, with -log10 p for p: a product is a difference, a
  # minimum of p a maximum of -log10 p, and q = min(1, .) is max(0, .).
  i <- seq_len(n)
  out <- switch(method,
    bonferroni = pmax(0, l - log10(n)),
    holm = {
      o <- order(l, decreasing = TRUE)
      pmax(0, cummin(l[o] - log10(n - i + 1)))[order(o)]
    },
    hochberg = {
      o <- order(l)
      pmax(0, cummax(l[o] - log10(i)))[order(o)]
    },
    BH = {
      o <- order(l)
      pmax(0, cummax(l[o] - log10(n / (n - i + 1))))[order(o)]
    },
    BY = {
      o <- order(l)
      pmax(0, cummax(l[o] - log10(n / (n - i + 1)) - log10(sum(1 / i))))[order(o)]
    })
  q[keep] <- out
  q
}
