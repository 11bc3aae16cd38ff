\name{adjust_log10}
\alias{adjust_log10}
\title{Multiple-testing adjustment of -log10 p, without underflow}
\description{
\code{\link[stats]{p.adjust}}'s methods on \eqn{-\log_{10} p} values: the
\code{log10.p} column of \code{\link{fisher_test}}. Where \code{p.adjust}
loses the p-values that underflowed (they become \eqn{q = 0}, tied), these
stay finite and in order.
}
\usage{
adjust_log10(log10.p, method = c("BH", "BY", "holm", "hochberg", "bonferroni"))
}
\arguments{
\item{log10.p}{\eqn{-\log_{10} p}, each at least 0; \code{NA} stays
\code{NA} and is not counted.}
\item{method}{as \code{p.adjust}'s.}
}
\value{\eqn{-\log_{10} q}, as \code{-log10(p.adjust(10^-log10.p, method))}
where that does not underflow.}
\examples{
l <- c(1.2, 30, 400, 5000)
adjust_log10(l, "BH")
-log10(p.adjust(10^-l, "BH"))
}
