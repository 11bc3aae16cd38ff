\name{fisher_test}
\alias{fisher_test}
\title{Fisher's exact test on many 2 x 2 tables}
\description{
Fisher's exact test on the tables \code{a b / c d}, vectorised with R's
recycling rules: the p-values of the alternatives, the mid-p value, the
conditional maximum-likelihood estimate of the odds ratio and its exact
conditional interval, as \code{\link[stats]{fisher.test}} defines them, with
\eqn{-\log_{10} p} finite where \eqn{p} underflows. Ties are decided
exactly (\code{fisher.test} counts a table within a relative \eqn{10^{-7}}
as tied), and the estimate and interval are accurate to \eqn{10^{-10}}
(\code{fisher.test}'s root finder stops at an absolute tolerance). Every
value is the fisher2x2 C library's double, the same bits on every machine.
}
\usage{
fisher_test(a, b, c, d, alternative = "two.sided", conf.level = 0.95,
            fields = "p.value", workers = 1L, or = 1)
}
\arguments{
\item{a, b, c, d}{the counts: integer vectors, double vectors of whole
numbers, or \code{bit64::integer64} vectors, up to \eqn{2^{63}-1} in all;
or \code{a} alone, a matrix or data frame of four count columns.
\code{NA} gives \code{NA} in its row.}
\item{alternative}{\code{"two.sided"}, \code{"less"} or \code{"greater"},
as \code{\link{match.arg}} reads them (unique prefixes allowed).}
\item{conf.level}{the level of the interval.}
\item{fields}{the columns: any of \code{"p.value"}, \code{"log10.p"},
\code{"mid.p"}, \code{"less"}, \code{"greater"}, \code{"two.sided"},
\code{"central"}, \code{"estimate"}, \code{"sample.or"}, \code{"conf.low"},
\code{"conf.high"}, or \code{"all"}.}
\item{workers}{threads to spread the tables over (\code{-1}: all cores);
the same bits as one.}
\item{or}{the null odds ratio of the p-values, as \code{fisher.test}'s
\code{or}.}
}
\value{A data frame, one row a table, with the columns asked in
\code{fields}. \code{estimate} is \code{NaN} where the margins allow one
table (where \code{fisher.test} gives 0).}
\examples{
fisher_test(c(3, 1, 10), c(1, 19, 2), c(1, 6, 3), c(3, 14, 15), fields = "all")
m <- matrix(c(781, 23171, 4963, 2455001), 1)
fisher_test(m, fields = c("p.value", "log10.p"))
}
