#include "association/Regression.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ombra {

TraitFit traitFit(std::vector<double> residuals, size_t columns) {
  TraitFit fit;
  for (double r : residuals) fit.squares += r * r;
  fit.freedom = static_cast<double>(residuals.size()) - static_cast<double>(columns) - 1;
  fit.residuals = std::move(residuals);
  return fit;
}

WaldResult waldTest(double cross, double squares, double floor, const TraitFit& trait) {
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  if (!(squares > floor) || !(trait.freedom > 0)) return {kNan, kNan, kNan};
  const double beta = cross / squares;
  // The residual variance once the SNP has taken its share; rounding can
  // take a perfect fit a hair below zero.
  const double variance = std::max(0.0, trait.squares - beta * cross) / trait.freedom;
  const double se = std::sqrt(variance / squares);
  return {beta, se, beta * beta / (variance / squares)};
}

}  // namespace ombra
