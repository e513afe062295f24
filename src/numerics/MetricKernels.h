// Vector kernels of the mixed model's per-SNP sums: the sums over a block's
// rows in the model's metric, the thin product of the design's weights with
// a block, and the design's share taken from the squares. Every column takes its terms in row order, so its bits
// depend neither on the columns beside it nor on the processor's vector
// width.
#ifndef OMBRA_NUMERICS_METRICKERNELS_H
#define OMBRA_NUMERICS_METRICKERNELS_H

#include <cstddef>
#include <utility>
#include <vector>

namespace ombra {

// A symmetric block on the diagonal of an n x n matrix: rows and columns
// [begin, begin + size), its values size x size, row-major.
struct DiagonalBlock {
  size_t begin = 0, size = 0;
  std::vector<double> values;
};

// metricRowSums takes this many stripes of eight columns together where it
// can.
constexpr size_t kMetricRowGroup = 2;

// For each column j < count of r (n rows, `stride` apart): cross[j] = z'r_j
// and squares[j] = r_j'(I + E)r_j, where E is zero outside `blocks` (in row
// order, disjoint), each block's symmetric values taking each pair of rows
// once.
void metricRowSums(const double* r, size_t stride, size_t count, size_t n, const double* z,
                   const std::vector<DiagonalBlock>& blocks, double* cross, double* squares);

// out[k * outStride + j] = the sum over the rows h of `rows` (ranges [begin,
// end), in order) of weights[h * columns + k] x r[h * stride + j], for
// k < columns (a multiple of four) and j < count: one fused multiply-add per
// term, in row order, in vector registers where the processor has them.
void weightedColumnSums(const double* weights, size_t columns, const double* r, size_t stride,
                        const std::vector<std::pair<size_t, size_t>>& rows, size_t count, double* out,
                        size_t outStride);

// A large family's share of V^-1 - I kept as its eigenvectors and shifts:
// E = U diag(shifts) U', with vectors[i * size + k] component k of
// eigenvector i (the rows of U'), over rows [begin, begin + size).
struct RotatedBlock {
  size_t begin = 0, size = 0;
  const double* vectors = nullptr;
  std::vector<double> shifts;
};

// squares[j] += r_j' E r_j for j < count over a rotated block's rows of r
// (`stride` apart): t = U' r_j for the `count` columns by one matrix product
// (OpenBLAS, which must be loaded), then the shifts times t^2 added in
// eigenvector order, and that sum added to squares[j]. A column's bits
// depend on `count` (the run's block width, 1 on the one-SNP route), as the
// residualisation's do, and not on the other columns' values.
void addRotatedSquares(const RotatedBlock& block, const double* r, size_t stride, size_t count, double* squares);

// squares[j] += r_j' E r_j for j < count, as addRotatedSquares, from V's
// Cholesky factor instead (E = V^-1 - I over the block's rows, V = L L',
// `factor` column-major lower as LAPACK's dpotrf leaves it): y = L^-1 r_j
// for the `count` columns by one triangular solve (OpenBLAS), then the sum
// of y^2 less the sum of r_j^2, each in row order. Half the products of the
// rotation's; a column's bits depend on `count` as there.
void addFactoredSquares(const RotatedBlock& block, const std::vector<double>& factor, const double* r, size_t stride,
                        size_t count, double* squares);

// out (size x p, row-major) = E x over the block's rows of the p columns of
// x (column k at x + k * xStride), by two matrix products (OpenBLAS).
void rotatedProduct(const RotatedBlock& block, const double* x, size_t xStride, size_t p, std::vector<double>& out);

// squares[j] -= c_j' E c_j for j < width, where c_j is column j of c (p
// rows, `width` apart) and E the p x p matrix e (row-major): the terms
// e[a][b] c[a][j] c[b][j] taken for a, then b, in order.
void subtractQuadratic(const double* c, size_t width, const double* e, size_t p, double* squares);

}  // namespace ombra

#endif  // OMBRA_NUMERICS_METRICKERNELS_H
