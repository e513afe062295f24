#include "numerics/ResidualKernels.h"

#include <algorithm>

#include "numerics/VectorClones.h"

namespace ombra {

namespace {

#pragma GCC diagnostic ignored "-Wpsabi"
using Lanes = DoubleLanes;
#define OMBRA_LANES_AT(pointer) (*reinterpret_cast<const Lanes*>(pointer))

// Design columns whose coefficients a pass keeps in registers.
constexpr size_t kCoefficientGroup = 8;

// Columns [from, from + kStripes x kDoubleLanes): their coefficients, a
// group of design columns at a time through every entry, then their
// residuals, an entry at a time through every design column. Each lane is one
// column's chain of IEEE operations in the order of the one-column
// projection.
template <size_t kStripes>
__attribute__((always_inline)) inline void residualLanes(const double* byEntry, const double* designByEntry, size_t p,
                                                         size_t n, double* g, size_t width, double* coefficients,
                                                         size_t from) {
  for (size_t first = 0; first < p; first += kCoefficientGroup) {
    const size_t count = std::min(kCoefficientGroup, p - first);
    Lanes sums[kCoefficientGroup][kStripes] = {};
    for (size_t h = 0; h < n; ++h) {
      Lanes row[kStripes];
      for (size_t v = 0; v < kStripes; ++v) row[v] = OMBRA_LANES_AT(g + h * width + from + v * kDoubleLanes);
      const double* weights = byEntry + h * p + first;
      for (size_t k = 0; k < count; ++k) {
        for (size_t v = 0; v < kStripes; ++v) sums[k][v] += weights[k] * row[v];
      }
    }
    for (size_t k = 0; k < count; ++k) {
      for (size_t v = 0; v < kStripes; ++v) {
        *reinterpret_cast<Lanes*>(coefficients + (first + k) * width + from + v * kDoubleLanes) = sums[k][v];
      }
    }
  }
  for (size_t h = 0; h < n; ++h) {
    Lanes value[kStripes];
    for (size_t v = 0; v < kStripes; ++v) value[v] = OMBRA_LANES_AT(g + h * width + from + v * kDoubleLanes);
    const double* scores = designByEntry + h * p;
    for (size_t k = 0; k < p; ++k) {
      for (size_t v = 0; v < kStripes; ++v) {
        value[v] -= OMBRA_LANES_AT(coefficients + k * width + from + v * kDoubleLanes) * scores[k];
      }
    }
    for (size_t v = 0; v < kStripes; ++v) *reinterpret_cast<Lanes*>(g + h * width + from + v * kDoubleLanes) = value[v];
  }
}

// The same for columns [from, width), one at a time.
void residualColumnsAlone(const double* byEntry, const double* designByEntry, size_t p, size_t n, double* g,
                          size_t width, double* coefficients, size_t from) {
  for (size_t j = from; j < width; ++j) {
    for (size_t k = 0; k < p; ++k) {
      double sum = 0;
      for (size_t h = 0; h < n; ++h) sum += byEntry[h * p + k] * g[h * width + j];
      coefficients[k * width + j] = sum;
    }
    for (size_t h = 0; h < n; ++h) {
      double value = g[h * width + j];
      for (size_t k = 0; k < p; ++k) value -= coefficients[k * width + j] * designByEntry[h * p + k];
      g[h * width + j] = value;
    }
  }
}

}  // namespace

OMBRA_VECTOR_CLONES
void residualiseColumns(const double* byEntry, const double* designByEntry, size_t p, size_t n, double* g,
                        size_t width, double* coefficients) {
  size_t from = 0;
  for (; from + 2 * kDoubleLanes <= width; from += 2 * kDoubleLanes) {
    residualLanes<2>(byEntry, designByEntry, p, n, g, width, coefficients, from);
  }
  for (; from + kDoubleLanes <= width; from += kDoubleLanes) {
    residualLanes<1>(byEntry, designByEntry, p, n, g, width, coefficients, from);
  }
  residualColumnsAlone(byEntry, designByEntry, p, n, g, width, coefficients, from);
}

#undef OMBRA_LANES_AT

}  // namespace ombra
