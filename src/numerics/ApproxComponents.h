// The leading principal components of a centred matrix A (S x C) by a
// randomized block Krylov iteration on A'A: A is only ever multiplied by
// thin blocks, one pass over its rows per product, so that memory stays
// O((S + C) x k) for k = components + oversampling (times the basis depth
// on the C side), and neither A nor the C x C Gram matrix is formed. For
// cohorts whose Gram matrix does not fit.
#ifndef OMBRA_NUMERICS_APPROXCOMPONENTS_H
#define OMBRA_NUMERICS_APPROXCOMPONENTS_H

#include <functional>

#include "numerics/GramComponents.h"

namespace ombra {

struct ApproxSettings {
  int oversampling = 10;        // extra block columns beyond the wanted components
  int maxPasses = 300;          // products with A'A at most
  // Blocks the basis holds before it restarts from the leading half of its
  // Ritz vectors (a restart costs a product of the basis with C x m x m/2
  // work, on one thread; keeping all but one block restarted every pass and
  // took a fifth of the route). On a flat spectrum (C = 15,000, S = 20,000)
  // 10 blocks took 47 passes, 15 took 45, 20 and 30 not fewer; each block
  // costs 2 x C x (components + oversampling) doubles.
  int basisBlocks = 15;
  // Ends the iteration: a bound on every wanted eigenvalue's error relative
  // to itself (the singular values' relative error is about half of it).
  double tolerance = 1e-7;
  // Passes in single precision first (about twice as fast), then confirmed
  // in double; false: every pass in double.
  bool singlePrecision = true;
  unsigned long long seed = 1;  // of the random start
  int threads = 1;              // that decode and multiply blocks of rows
};

struct ApproxReport {
  int passes = 0;          // products with A'A
  double errorBound = 0;   // the largest relative error bound of the wanted eigenvalues at the end
};

// Told after each product with A'A how many there have been.
using PassesDone = std::function<void(int passes)>;

// Fills `out` like gramComponents (means included), except that
// `singularValues` holds only the min(wanted, C, S) leading values. The
// random start is seeded, and the result is the same at every thread count.
// False when OpenBLAS cannot be loaded or its eigen-solver fails.
bool approxComponents(const PackedGenotypes& genotypes, int wanted, LeadingComponents& out, ApproxReport& report,
                      const ApproxSettings& settings = ApproxSettings(), const PassesDone& done = nullptr);

// Bytes approxComponents needs beyond its caller's memory.
double approxComponentsBytes(int snps, int cols, int wanted, const ApproxSettings& settings = ApproxSettings());

}  // namespace ombra

#endif  // OMBRA_NUMERICS_APPROXCOMPONENTS_H
