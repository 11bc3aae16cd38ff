\name{strata_test}
\alias{strata_test}
\alias{strata_htest}
\title{The exact stratified test of a common odds ratio over K 2 x 2 tables}
\description{
The exact conditional test of \code{\link[stats]{mantelhaen.test}(x, exact = TRUE)}:
S, the sum of the strata's cells a given every stratum's margins, with the
conditional maximum-likelihood estimate of the common odds ratio, its exact
interval and the Mantel-Haenszel estimate. \code{strata_test} takes long
columns, consecutive rows with the same \code{group} forming one test, and
returns a data frame of one row a test; \code{strata_htest} takes a
2 x 2 x K array and returns an \code{"htest"} printed as
\code{mantelhaen.test(x, exact = TRUE)} prints it.
}
\usage{
strata_test(a, b, c, d, group, alternative = "two.sided", conf.level = 0.95,
            fields = "p.value", workers = 1L)
strata_htest(x, alternative = "two.sided", conf.level = 0.95)
}
\arguments{
\item{a, b, c, d}{the strata's counts (whole numbers from 0; integer64
  beyond 2^53), each stratum the table \code{a b / c d}.}
\item{group}{one value a stratum: consecutive equal values are one test.}
\item{alternative}{\code{"two.sided"} (the values of S at most as probable
  as the observed one, a value within the computation's proven error
  counted as tied), \code{"less"} or \code{"greater"}.}
\item{conf.level}{the interval's level.}
\item{fields}{the columns besides \code{group}: \code{p.value},
  \code{log10.p}, \code{mid.p}, \code{less}, \code{greater},
  \code{two.sided}, \code{central}, \code{estimate}, \code{conf.low},
  \code{conf.high}, \code{mh.or}, or \code{"all"}.}
\item{workers}{threads over the tests (-1: all cores); the same bits.}
\item{x}{a 2 x 2 x K array, as \code{mantelhaen.test} takes it.}
}
\value{\code{strata_test}: a data frame, \code{group} and the fields.
\code{strata_htest}: an \code{"htest"}: \code{statistic} (S),
\code{p.value}, \code{conf.int}, \code{estimate}, \code{null.value},
\code{alternative}, \code{method}, \code{data.name}.}
\examples{
centres <- data.frame(centre = c("A", "A", "B", "B", "B"),
                      a = c(3, 2, 5, 1, 4), b = c(1, 2, 2, 3, 1),
                      c = c(1, 2, 1, 2, 2), d = c(3, 2, 6, 4, 5))
strata_test(centres$a, centres$b, centres$c, centres$d, centres$centre,
            fields = c("p.value", "estimate", "mh.or"))
strata_htest(array(c(3, 1, 1, 3, 2, 2, 2, 2), c(2, 2, 2)))
}
