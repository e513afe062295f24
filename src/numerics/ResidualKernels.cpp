#include "numerics/ResidualKernels.h"

#include <algorithm>

#include "numerics/VectorClones.h"

namespace ombra {

// The lanes run over the columns, each an independent chain of IEEE
// operations (no fused multiply-add under -ffp-contract=off): every clone
// and every width gives a column the bits it has alone.
OMBRA_VECTOR_CLONES
void residualiseColumns(const double* byEntry, const double* x, size_t p, size_t n, double* g, size_t width,
                        double* coefficients) {
  std::fill(coefficients, coefficients + p * width, 0.0);
  for (size_t h = 0; h < n; ++h) {
    const double* __restrict row = g + h * width;
    const double* weights = byEntry + h * p;
    for (size_t k = 0; k < p; ++k) {
      double* __restrict sums = coefficients + k * width;
      const double weight = weights[k];
      for (size_t j = 0; j < width; ++j) sums[j] += weight * row[j];
    }
  }
  for (size_t h = 0; h < n; ++h) {
    double* __restrict row = g + h * width;
    for (size_t k = 0; k < p; ++k) {
      const double* __restrict sums = coefficients + k * width;
      const double score = x[k * n + h];
      for (size_t j = 0; j < width; ++j) row[j] -= sums[j] * score;
    }
  }
}

}  // namespace ombra
