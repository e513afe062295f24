// The regression of an adjusted trait on one adjusted genotype: the effect
// per copy of allele2, its standard error and the Wald statistic, from the
// residuals of both on a design of p columns. The same numbers as ordinary
// least squares of the trait on the design and the SNP together.
#ifndef OMBRA_ASSOCIATION_REGRESSION_H
#define OMBRA_ASSOCIATION_REGRESSION_H

#include <cstddef>
#include <vector>

namespace ombra {

// The trait's side of the regression.
struct TraitFit {
  std::vector<double> residuals;  // per entry, on the design
  double squares = 0;             // sum of squared residuals
  double freedom = 0;             // entries - design columns - 1 (the SNP's column)
};

// `residuals` of a trait on a design of `columns` columns.
TraitFit traitFit(std::vector<double> residuals, size_t columns);

// One SNP's effect, standard error and Wald statistic (1 df) from the sums
// over entries of its genotype residual times the trait residual (`cross`)
// and of its squared genotype residuals (`squares`). All three are
// not-a-number when `squares` is not above `floor` (the genotype is a
// combination of the design's columns, up to rounding) or when no degree of
// freedom is left.
struct WaldResult {
  double beta, se, statistic;
};
WaldResult waldTest(double cross, double squares, double floor, const TraitFit& trait);

// The floor below which a SNP's squared residuals (per unit `unit`) count
// as none: the SNP is a combination of the design's columns.
inline double squaresFloor(double unit, double f) { return unit * 2 * f * (1 - f); }


}  // namespace ombra

#endif  // OMBRA_ASSOCIATION_REGRESSION_H
