#include "numerics/ResidualKernels.h"

#include <algorithm>

#include "numerics/VectorClones.h"

namespace ombra {

namespace {

#pragma GCC diagnostic ignored "-Wpsabi"
using Lanes = DoubleLanes;
#define OMBRA_LANES_AT(pointer) (*reinterpret_cast<const Lanes*>(pointer))
#define OMBRA_LANES_TO(pointer) (*reinterpret_cast<Lanes*>(pointer))

// The operands of one call.
struct Columns {
  const double* byEntry;
  const double* designByEntry;
  size_t p;
  size_t n;
  double* g;
  size_t width;  // values per entry
  double* coefficients;
  size_t begin, end;  // the columns to residualise
};

// Design columns whose coefficients a pass keeps in registers.
constexpr size_t kCoefficientGroup = 8;
// Entries whose residuals a pass takes side by side: independent chains of
// subtractions, and each coefficient read once for all of them.
constexpr size_t kRowGroup = 4;

// The coefficients of design columns [first, first + kCount) for columns
// [from, from + kStripes x kDoubleLanes), through every entry in order.
template <size_t kStripes, size_t kCount>
__attribute__((always_inline)) inline void coefficientGroup(const Columns& in, size_t from, size_t first) {
  Lanes sums[kCount][kStripes] = {};
  for (size_t h = 0; h < in.n; ++h) {
    Lanes row[kStripes];
    for (size_t v = 0; v < kStripes; ++v) row[v] = OMBRA_LANES_AT(in.g + h * in.width + from + v * kDoubleLanes);
    const double* weights = in.byEntry + h * in.p + first;
    for (size_t k = 0; k < kCount; ++k) {
      for (size_t v = 0; v < kStripes; ++v) sums[k][v] += weights[k] * row[v];
    }
  }
  for (size_t k = 0; k < kCount; ++k) {
    for (size_t v = 0; v < kStripes; ++v) {
      OMBRA_LANES_TO(in.coefficients + (first + k) * in.width + from + v * kDoubleLanes) = sums[k][v];
    }
  }
}

// The same with the group's size known when the kernel is built, so that
// its sums stay in registers.
template <size_t kStripes>
__attribute__((always_inline)) inline void coefficientsOf(const Columns& in, size_t from, size_t first) {
  switch (std::min(kCoefficientGroup, in.p - first)) {
    case 1:
      return coefficientGroup<kStripes, 1>(in, from, first);
    case 2:
      return coefficientGroup<kStripes, 2>(in, from, first);
    case 3:
      return coefficientGroup<kStripes, 3>(in, from, first);
    case 4:
      return coefficientGroup<kStripes, 4>(in, from, first);
    case 5:
      return coefficientGroup<kStripes, 5>(in, from, first);
    case 6:
      return coefficientGroup<kStripes, 6>(in, from, first);
    case 7:
      return coefficientGroup<kStripes, 7>(in, from, first);
    default:
      return coefficientGroup<kStripes, kCoefficientGroup>(in, from, first);
  }
}

// The residuals of entries [h, h + kRows): each value less coefficient k x
// design k of its entry, k in increasing order.
template <size_t kStripes, size_t kRows>
__attribute__((always_inline)) inline void residualRows(const Columns& in, size_t from, size_t h) {
  Lanes value[kRows][kStripes];
  for (size_t r = 0; r < kRows; ++r) {
    for (size_t v = 0; v < kStripes; ++v) {
      value[r][v] = OMBRA_LANES_AT(in.g + (h + r) * in.width + from + v * kDoubleLanes);
    }
  }
  const double* scores = in.designByEntry + h * in.p;
  for (size_t k = 0; k < in.p; ++k) {
    Lanes coefficient[kStripes];
    for (size_t v = 0; v < kStripes; ++v) {
      coefficient[v] = OMBRA_LANES_AT(in.coefficients + k * in.width + from + v * kDoubleLanes);
    }
    for (size_t r = 0; r < kRows; ++r) {
      const double score = scores[r * in.p + k];
      for (size_t v = 0; v < kStripes; ++v) value[r][v] -= coefficient[v] * score;
    }
  }
  for (size_t r = 0; r < kRows; ++r) {
    for (size_t v = 0; v < kStripes; ++v) {
      OMBRA_LANES_TO(in.g + (h + r) * in.width + from + v * kDoubleLanes) = value[r][v];
    }
  }
}

// Columns [from, from + kStripes x kDoubleLanes): their coefficients, a
// group of design columns at a time through every entry, then their
// residuals, a group of entries at a time through every design column. Each
// lane is one column's chain of IEEE operations in the order of the
// one-column projection.
template <size_t kStripes>
__attribute__((always_inline)) inline void residualLanes(const Columns& in, size_t from) {
  for (size_t first = 0; first < in.p; first += kCoefficientGroup) coefficientsOf<kStripes>(in, from, first);
  size_t h = 0;
  for (; h + kRowGroup <= in.n; h += kRowGroup) residualRows<kStripes, kRowGroup>(in, from, h);
  for (; h < in.n; ++h) residualRows<kStripes, 1>(in, from, h);
}

// The same for columns [from, end), one at a time.
void residualColumnsAlone(const Columns& in, size_t from) {
  const size_t p = in.p, width = in.width;
  for (size_t j = from; j < in.end; ++j) {
    for (size_t k = 0; k < p; ++k) {
      double sum = 0;
      for (size_t h = 0; h < in.n; ++h) sum += in.byEntry[h * p + k] * in.g[h * width + j];
      in.coefficients[k * width + j] = sum;
    }
    for (size_t h = 0; h < in.n; ++h) {
      double value = in.g[h * width + j];
      for (size_t k = 0; k < p; ++k) value -= in.coefficients[k * width + j] * in.designByEntry[h * p + k];
      in.g[h * width + j] = value;
    }
  }
}

__attribute__((always_inline)) inline void residualiseAll(const Columns& in) {
  size_t from = in.begin;
  for (; from + 2 * kDoubleLanes <= in.end; from += 2 * kDoubleLanes) residualLanes<2>(in, from);
  for (; from + kDoubleLanes <= in.end; from += kDoubleLanes) residualLanes<1>(in, from);
  residualColumnsAlone(in, from);
}

void residualisePortable(const Columns& in) { residualiseAll(in); }

#ifdef OMBRA_X86_KERNELS
OMBRA_TARGET_AVX2 void residualiseAvx2(const Columns& in) { residualiseAll(in); }
OMBRA_TARGET_AVX512 void residualiseAvx512(const Columns& in) { residualiseAll(in); }
#endif

}  // namespace

void residualiseColumnRange(VectorLevel level, const double* byEntry, const double* designByEntry, size_t p, size_t n,
                            double* g, size_t width, size_t begin, size_t end, double* coefficients) {
  const Columns in{byEntry, designByEntry, p, n, g, width, coefficients, begin, end};
#ifdef OMBRA_X86_KERNELS
  if (level == VectorLevel::kAvx512) return residualiseAvx512(in);
  if (level == VectorLevel::kAvx2) return residualiseAvx2(in);
#endif
  (void)level;
  residualisePortable(in);
}

void residualiseColumns(const double* byEntry, const double* designByEntry, size_t p, size_t n, double* g,
                        size_t width, double* coefficients) {
  residualiseColumnRange(widestVectorLevel(), byEntry, designByEntry, p, n, g, width, 0, width, coefficients);
}

#undef OMBRA_LANES_AT
#undef OMBRA_LANES_TO

}  // namespace ombra
