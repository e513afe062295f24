#include "stats/upperTail.h"

#include <cfloat>
#include <cmath>
#include <limits>

namespace ombra {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kLn10 = 2.302585092994045684;
constexpr double kLogGammaHalf = 0.57236494292470008707;  // ln Gamma(1/2) = ln sqrt(pi)

// ln Gamma(a), exact for the one shape the test uses most.
double logGamma(double a) { return a == 0.5 ? kLogGammaHalf : std::lgamma(a); }

// P(a, x) by its power series: converges fast and loses nothing below
// x = a + 1, where the lower tail is not close to 1.
double lowerGammaSeries(double a, double x) {
  double term = 1.0;
  double sum = 1.0;
  for (double ap = a + 1; term > sum * DBL_EPSILON / 4; ap += 1) {
    term *= x / ap;
    sum += term;
  }
  return std::exp(a * std::log(x) - x - logGamma(a + 1)) * sum;
}

// ln Q(a, x) for x >= a + 1 by Legendre's continued fraction (modified
// Lentz): the prefactor is kept as a logarithm so that nothing underflows.
double logUpperFraction(double a, double x) {
  constexpr double kTiny = 1e-300;
  double b = x + 1 - a;
  double c = 1 / kTiny;
  double d = 1 / b;
  double fraction = d;
  for (int i = 1; i < 10000; ++i) {
    const double an = -i * (i - a);
    b += 2;
    d = an * d + b;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = b + an / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1 / d;
    const double step = d * c;
    fraction *= step;
    if (std::fabs(step - 1) < DBL_EPSILON / 2) break;
  }
  return a * std::log(x) - x - logGamma(a) + std::log(fraction);
}

}  // namespace

double upperGamma(double a, double x) {
  if (std::isnan(a) || std::isnan(x)) return kNaN;
  if (x <= 0) return 1.0;
  if (x < a + 1) return 1 - lowerGammaSeries(a, x);
  return std::exp(logUpperFraction(a, x));
}

double logUpperGamma(double a, double x) {
  if (std::isnan(a) || std::isnan(x)) return kNaN;
  if (x <= 0) return 0.0;
  if (x == std::numeric_limits<double>::infinity()) return -x;
  if (x < a + 1) return std::log1p(-lowerGammaSeries(a, x));
  return logUpperFraction(a, x);
}

double chiSquareUpperTail(double x, double df) {
  if (std::isnan(x) || std::isnan(df)) return kNaN;
  if (df == 1) return std::erfc(std::sqrt(std::max(0.0, x) / 2));
  return upperGamma(df / 2, x / 2);
}

double chiSquareLog10Tail(double x, double df) {
  if (std::isnan(x) || std::isnan(df)) return kNaN;
  if (df != 1) return -logUpperGamma(df / 2, x / 2) / kLn10;
  const double z = std::sqrt(std::max(0.0, x) / 2);
  // Near p = 1 the lower tail carries the precision; in the far tail, where
  // erfc leaves the normal numbers, the continued fraction's logarithm.
  const double p = std::erfc(z);
  if (p > 0.5) return -std::log1p(-std::erf(z)) / kLn10;
  if (p >= DBL_MIN) return -std::log10(p);
  return -logUpperGamma(0.5, x / 2) / kLn10;
}

}  // namespace ombra
