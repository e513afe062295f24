// The residuals of a block of columns on a design, each column's sums in the
// order the one-column projection takes them, so that a SNP's residuals do
// not depend on the route (a block or one SNP), on the block's width, or on
// whether OpenBLAS could be loaded under the run's memory bound.
#ifndef OMBRA_NUMERICS_RESIDUALKERNELS_H
#define OMBRA_NUMERICS_RESIDUALKERNELS_H

#include <cstddef>

namespace ombra {

// g (n rows of `width` values side by side) becomes its residuals on the p
// design columns (designByEntry[h * p + k]: column k of entry h): for each
// column j, coefficient k = the sum over h, in increasing h, of byEntry[h *
// p + k] x g[h][j] (one rounded product, then the addition), then g[h][j] -=
// coefficient k x design k of h for k in increasing order. `coefficients`
// (p x width) is scratch.
void residualiseColumns(const double* byEntry, const double* designByEntry, size_t p, size_t n, double* g,
                        size_t width, double* coefficients);

}  // namespace ombra

#endif  // OMBRA_NUMERICS_RESIDUALKERNELS_H
