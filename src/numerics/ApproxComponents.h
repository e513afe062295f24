// The leading principal components of a centred matrix A (S x C) by a
// randomized block Krylov iteration on A'A: A is only ever multiplied by
// thin blocks, one pass over its rows per product, so that memory stays
// O((S + C) x k) for k = components + oversampling (times the Krylov depth
// on the C side), and neither A nor the C x C Gram matrix is formed. For
// cohorts whose Gram matrix does not fit.
#ifndef OMBRA_NUMERICS_APPROXCOMPONENTS_H
#define OMBRA_NUMERICS_APPROXCOMPONENTS_H

#include "numerics/GramComponents.h"

namespace ombra {

struct ApproxSettings {
  int oversampling = 10;        // extra subspace dimensions beyond the wanted components
  int maxIterations = 300;      // passes over A at most
  double tolerance = 1e-9;      // relative change of every wanted Ritz value that ends the iteration
  unsigned long long seed = 1;  // of the random start
};

// Fills `out` like gramComponents, except that `singularValues` holds only
// the min(wanted, C, S) leading values computed. The random start is
// seeded, so a run is reproducible. False when OpenBLAS cannot be loaded or
// its eigen-solver fails.
bool approxComponents(int snps, int cols, int wanted, const CentredRows& rows, LeadingComponents& out,
                      const ApproxSettings& settings = ApproxSettings());

// Bytes approxComponents needs beyond its caller's memory.
double approxComponentsBytes(int snps, int cols, int wanted, const ApproxSettings& settings = ApproxSettings());

}  // namespace ombra

#endif  // OMBRA_NUMERICS_APPROXCOMPONENTS_H
