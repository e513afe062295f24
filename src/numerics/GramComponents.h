// The leading principal components of a centred matrix A (S rows, C
// columns, S usually much larger than C) through the eigen-decomposition of
// its Gram matrix G = A'A, accumulated from blocks of rows: A itself is never
// held, so memory is that of G plus one block and the leading loadings.
#ifndef OMBRA_NUMERICS_GRAMCOMPONENTS_H
#define OMBRA_NUMERICS_GRAMCOMPONENTS_H

#include <functional>
#include <vector>

namespace ombra {

// Writes rows first .. first + count - 1 (0-based) of A into `block`,
// row-major, count x C. Called twice for every row, in increasing order.
using CentredRows = std::function<void(int first, int count, double* block)>;

struct LeadingComponents {
  // All C singular values of A, descending; those within rounding of zero
  // (eigenvalues of G below C eps times its largest) are 0.
  std::vector<double> singularValues;
  // The `wanted` leading left singular vectors, row-major S x wanted; a
  // column whose singular value is 0 is 0. Each column is turned so that its
  // first largest entry in absolute value is positive.
  std::vector<double> loadings;
  int wanted = 0;
};

// Rows of A per block: 2,048, fewer when C is so large that a block would
// pass 32 MB (at least 128, so that the products stay level-3 work).
int gramBlockRows(int cols);

// Fills `out` for the S x C matrix whose rows `rows` writes, with
// min(wanted, C) leading vectors. False, with `out` unspecified, when OpenBLAS
// cannot be loaded or its eigen-solver fails.
bool gramComponents(int snps, int cols, int wanted, const CentredRows& rows, LeadingComponents& out);

// Turns each component of out.loadings so that its first largest entry in
// absolute value is positive, and every zero loading into +0 (a SNP without
// variation would otherwise carry a sign that depends on how a kernel split
// its work).
void fixLoadingSigns(int snps, LeadingComponents& out);

// Bytes gramComponents needs beyond its caller's memory.
double gramComponentsBytes(int snps, int cols, int wanted);

}  // namespace ombra

#endif  // OMBRA_NUMERICS_GRAMCOMPONENTS_H
