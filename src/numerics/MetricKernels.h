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

// squares[j] -= c_j' E c_j for j < width, where c_j is column j of c (p
// rows, `width` apart) and E the p x p matrix e (row-major): the terms
// e[a][b] c[a][j] c[b][j] taken for a, then b, in order.
void subtractQuadratic(const double* c, size_t width, const double* e, size_t p, double* squares);

}  // namespace ombra

#endif  // OMBRA_NUMERICS_METRICKERNELS_H
