// Probability functions of the association test and the wider distribution
// library.
#ifndef OMBRA_STATISTIC_H
#define OMBRA_STATISTIC_H

class StatisticTool {
 public:
  // P(X <= x) for a chi-square variable with v degrees of freedom.
  double chi2cdf(double x, int v);
  // P(X <= x) for a gamma variable with shape a and scale b.
  double gamcdf(double x, double a, double b);
  // Regularized lower incomplete gamma function P(a, x).
  double gammainc(double x, double a);
  // ln Gamma(x) for x > 0.
  double gammaln(double x);
};

#endif  // OMBRA_STATISTIC_H
