#include "formats/ImputationInfo.h"

namespace ombra {

namespace {

// 2f(1 - f) for f = sum / 2n.
double binomialVariance(double sum, double n) {
  const double f = sum / n / 2;
  return 2 * f * (1 - f);
}

}  // namespace

double machInfo(double sum, double squares, double n) {
  const double expected = binomialVariance(sum, n);
  if (!(expected > 0)) return 1;
  const double mean = sum / n;
  return (squares / n - mean * mean) / expected;
}

double probabilityInfo(double sum, double variances, double filled, double n) {
  const double expected = binomialVariance(sum, n);
  if (!(expected > 0)) return 1;
  return 1 - (variances + filled * expected) / (n * expected);
}

}  // namespace ombra
