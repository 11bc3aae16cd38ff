\name{fisher_htest}
\alias{fisher_htest}
\title{Fisher's exact test on one 2 x 2 table, as an htest}
\description{
The test on one 2 x 2 table, printed as \code{\link[stats]{fisher.test}}
prints it, with the exact values of \code{\link{fisher_test}}.
}
\usage{
fisher_htest(x, alternative = "two.sided", conf.level = 0.95, or = 1)
}
\arguments{
\item{x}{a 2 x 2 matrix, or its four counts \code{c(a, b, c, d)} by rows.}
\item{alternative, conf.level, or}{as for \code{\link{fisher_test}}.}
}
\value{An object of class \code{"htest"}: \code{p.value}, \code{conf.int},
\code{estimate}, \code{null.value}, \code{alternative}, \code{method},
\code{data.name}.}
\examples{
tea <- matrix(c(3, 1, 1, 3), 2)
fisher_htest(tea, alternative = "greater")
}
