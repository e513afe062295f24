// Upper tails of the chi-square distribution computed as tails, not as
// 1 - cdf: a p-value keeps its relative precision however small it is, and
// its -log10 stays finite where the p-value itself is beyond what a double
// holds. The association test's p-values and LOG10P columns come from here;
// StatisticTool's cdf functions are unchanged beside them.
#ifndef OMBRA_STATS_UPPERTAIL_H
#define OMBRA_STATS_UPPERTAIL_H

namespace ombra {

// Q(a, x) = Gamma(a, x) / Gamma(a), the regularised upper incomplete gamma
// function, for a > 0; 1 for x <= 0, not-a-number for a NaN argument.
double upperGamma(double a, double x);
// ln Q(a, x), finite for every finite x (where Q itself underflows too).
double logUpperGamma(double a, double x);

// P(X > x) for X chi-square with `df` degrees of freedom (df > 0): for one
// degree of freedom erfc(sqrt(x / 2)), exact to double precision down to the
// smallest normal number (0 beyond). Not-a-number stays so.
double chiSquareUpperTail(double x, double df);
// -log10 P(X > x): finite for every finite x, +infinity for x = +infinity,
// not-a-number for a NaN x.
double chiSquareLog10Tail(double x, double df);

}  // namespace ombra

#endif  // OMBRA_STATS_UPPERTAIL_H
