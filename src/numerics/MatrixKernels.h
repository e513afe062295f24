// Vector kernels of the fast svdcmp on contiguous runs of doubles. Every sum
// starts at 0.0 and adds its terms in increasing index order; the element-wise
// loops are left to the vectoriser, which changes no result because their
// lanes are independent IEEE operations (no fused multiply-add under
// -ffp-contract=off).
#ifndef OMBRA_MATRIXKERNELS_H
#define OMBRA_MATRIXKERNELS_H

#include <cstddef>

namespace matrixsvd {

// sums[c] = sum over r < len of x[r] * ys[c][r], for c < 8, each in r order.
void dotEight(const double* x, const double* const ys[8], std::size_t len, double sums[8]);
void dotFour(const double* x, const double* const ys[4], std::size_t len, double sums[4]);
double dotOne(const double* x, const double* y, std::size_t len);
// y[r] += f * x[r]
void addScaled(double* __restrict y, const double* __restrict x, double f, std::size_t len);
// t[r] += y[r] * f
void accumulateScaled(double* __restrict t, const double* __restrict y, double f, std::size_t len);
// y[r] += t[r] * f
void addScaledBy(double* __restrict y, const double* __restrict t, double f, std::size_t len);
// (p, q) = (p c + q s, q c - p s), element-wise
void rotatePair(double* __restrict p, double* __restrict q, double c, double s, std::size_t len);
// A chain of rotations, each sharing a column with the next: for t < count,
// rotatePair on columns cols[t] and cols[t+1] with cs[t], ss[t], in order,
// on rows [0, len) of the column-major matrix at base (column c at
// base + c * stride). No rotation may turn a column with itself.
void rotateChain(double* base, std::size_t stride, const int* cols, const double* cs, const double* ss,
                 std::size_t count, std::size_t len);
void negate(double* p, std::size_t len);

}  // namespace matrixsvd

#endif  // OMBRA_MATRIXKERNELS_H
