// The leading principal components of the centred genotype matrix A (S
// rows, C columns, S usually much larger than C; numerics/PackedGenotypes.h)
// through the eigen-decomposition of its Gram matrix G = A'A, accumulated
// from blocks of rows: A itself is never held, so memory is that of G plus
// one block and the leading loadings.
#ifndef OMBRA_NUMERICS_GRAMCOMPONENTS_H
#define OMBRA_NUMERICS_GRAMCOMPONENTS_H

#include <functional>
#include <vector>

#include "numerics/PackedGenotypes.h"

namespace ombra {

// Told that `count` more rows of A were visited (every row is visited three
// times, in increasing order within each visit).
using RowsVisited = std::function<void(int count)>;

struct LeadingComponents {
  // All C singular values of A, descending; those within rounding of zero
  // (eigenvalues of G below C eps times its largest) are 0.
  std::vector<double> singularValues;
  // The `wanted` leading left singular vectors, row-major S x wanted; a
  // column whose singular value is 0 is 0. Each column is turned so that its
  // first largest entry in absolute value is positive.
  std::vector<double> loadings;
  int wanted = 0;
  // Per row of A, the mean it was centred on (gramComponents only).
  std::vector<double> means;
};

// Rows of A per block: 2,048, fewer when C is so large that a block would
// pass 32 MB (at least 128, so that the products stay level-3 work).
int gramBlockRows(int cols);

// G as the upper triangle of a row-major C x C array (its lower triangle
// holds other numbers), exact up to the rounding of a double sum of centred
// products, and the same at every thread count; each row's mean goes to
// `means`. Visits every row twice; the terms of missing calls are shared
// out between `threads` threads (OpenBLAS's products take its own count).
std::vector<double> gramMatrix(const PackedGenotypes& genotypes, std::vector<double>& means, int threads,
                               const RowsVisited& visited = nullptr);

// Fills `out` for A with min(wanted, C) leading vectors. False, with `out`
// unspecified, when OpenBLAS cannot be loaded or its eigen-solver fails.
bool gramComponents(const PackedGenotypes& genotypes, int wanted, int threads, LeadingComponents& out,
                    const RowsVisited& visited = nullptr);

// Turns each component of out.loadings so that its first largest entry in
// absolute value is positive, and every zero loading into +0 (a SNP without
// variation would otherwise carry a sign that depends on how a kernel split
// its work).
void fixLoadingSigns(int snps, LeadingComponents& out);

// Bytes gramComponents needs beyond its caller's memory.
double gramComponentsBytes(int snps, int cols, int wanted);

}  // namespace ombra

#endif  // OMBRA_NUMERICS_GRAMCOMPONENTS_H
