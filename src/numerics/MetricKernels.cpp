#include "numerics/MetricKernels.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__)
#include <immintrin.h>
#define OMBRA_EXPLAINED_KERNELS 1
#endif

#include "numerics/OpenBlas.h"
#include "numerics/VectorClones.h"

namespace ombra {

namespace {

// cross += z'r and squares += r'r over one block's m rows (`stride`
// apart), columns [from, to), the squares in the metric I + excess:
// r'(I + excess)r, the symmetric excess taking each pair of rows once.
void familyColumns(const double* __restrict r, size_t stride, size_t from, size_t to, const double* __restrict z,
                   const double* __restrict excess, size_t m, double* __restrict cross, double* __restrict squares) {
  for (size_t i = 0; i < m; ++i) {
    const double* ri = r + i * stride;
    const double weight = z[i];
    const double own = 1 + excess[i * m + i];
    for (size_t j = from; j < to; ++j) {
      cross[j] += ri[j] * weight;
      squares[j] += own * ri[j] * ri[j];
    }
    for (size_t k = 0; k < i; ++k) {
      const double both = 2 * excess[i * m + k];
      const double* rk = r + k * stride;
      for (size_t j = from; j < to; ++j) squares[j] += both * ri[j] * rk[j];
    }
  }
}

// The same over rows outside the blocks: cross += z'r, squares += r'r.
void plainColumns(const double* __restrict r, size_t stride, size_t rows, size_t from, size_t to,
                  const double* __restrict z, double* __restrict cross, double* __restrict squares) {
  for (size_t h = 0; h < rows; ++h) {
    const double* row = r + h * stride;
    for (size_t j = from; j < to; ++j) {
      cross[j] += row[j] * z[h];
      squares[j] += row[j] * row[j];
    }
  }
}

// The helpers below take and give lanes by value; they are inlined into the
// vector clones, so no call passes lanes across a calling convention.
#pragma GCC diagnostic ignored "-Wpsabi"
using Lanes = DoubleLanes;
#define OMBRA_LANES_AT(pointer) (*reinterpret_cast<const Lanes*>(pointer))

// kGroup x eight columns through every row, their sums in registers
// (kGroup independent chains of additions, so that each need not wait for
// the one before it as a single column's must). Each column's sums take the
// terms of familyColumns and plainColumns in entry order, so the bits do
// not depend on how the columns are grouped.
template <size_t kGroup>
__attribute__((always_inline)) inline void rowLanes(const double* r, size_t stride, size_t n, const double* z,
                                                    const std::vector<DiagonalBlock>& blocks, double* cross,
                                                    double* squares) {
  Lanes c[kGroup] = {}, s[kGroup] = {};
  size_t next = 0;
  for (const DiagonalBlock& part : blocks) {
    for (size_t h = next; h < part.begin; ++h) {
#pragma GCC unroll 4
      for (size_t g = 0; g < kGroup; ++g) {
        const Lanes row = OMBRA_LANES_AT(r + h * stride + g * kDoubleLanes);
        c[g] += row * z[h];
        s[g] += row * row;
      }
    }
    const size_t m = part.size;
    const double* values = part.values.data();
    const double* rows = r + part.begin * stride;
    for (size_t i = 0; i < m; ++i) {
      const double own = 1 + values[i * m + i];
      const double weight = z[part.begin + i];
#pragma GCC unroll 4
      for (size_t g = 0; g < kGroup; ++g) {
        const Lanes ri = OMBRA_LANES_AT(rows + i * stride + g * kDoubleLanes);
        c[g] += ri * weight;
        s[g] += own * ri * ri;
      }
      for (size_t k = 0; k < i; ++k) {
        const double both = 2 * values[i * m + k];
#pragma GCC unroll 4
        for (size_t g = 0; g < kGroup; ++g) {
          const Lanes ri = OMBRA_LANES_AT(rows + i * stride + g * kDoubleLanes);
          s[g] += both * ri * OMBRA_LANES_AT(rows + k * stride + g * kDoubleLanes);
        }
      }
    }
    next = part.begin + m;
  }
  for (size_t h = next; h < n; ++h) {
#pragma GCC unroll 4
    for (size_t g = 0; g < kGroup; ++g) {
      const Lanes row = OMBRA_LANES_AT(r + h * stride + g * kDoubleLanes);
      c[g] += row * z[h];
      s[g] += row * row;
    }
  }
  for (size_t g = 0; g < kGroup; ++g) {
    *reinterpret_cast<Lanes*>(cross + g * kDoubleLanes) = c[g];
    *reinterpret_cast<Lanes*>(squares + g * kDoubleLanes) = s[g];
  }
}

}  // namespace

OMBRA_VECTOR_CLONES
void metricRowSums(const double* r, size_t stride, size_t count, size_t n, const double* z,
                   const std::vector<DiagonalBlock>& blocks, double* cross, double* squares) {
  size_t from = 0;
  for (; from + kMetricRowGroup * kDoubleLanes <= count; from += kMetricRowGroup * kDoubleLanes) {
    rowLanes<kMetricRowGroup>(r + from, stride, n, z, blocks, cross + from, squares + from);
  }
  for (; from + kDoubleLanes <= count; from += kDoubleLanes) {
    rowLanes<1>(r + from, stride, n, z, blocks, cross + from, squares + from);
  }
  if (from == count) return;
  std::fill(cross + from, cross + count, 0.0);
  std::fill(squares + from, squares + count, 0.0);
  size_t next = 0;
  for (const DiagonalBlock& part : blocks) {
    plainColumns(r + next * stride, stride, part.begin - next, from, count, z + next, cross, squares);
    familyColumns(r + part.begin * stride, stride, from, count, z + part.begin, part.values.data(), part.size, cross,
                  squares);
    next = part.begin + part.size;
  }
  plainColumns(r + next * stride, stride, n - next, from, count, z + next, cross, squares);
}

#undef OMBRA_LANES_AT

namespace {

// The product with the design's weights (X'(V^-1 - I) for the mixed model)
// by fused multiply-adds in explicit vector registers: OpenBLAS spent as
// long packing the block for this thin product as multiplying it. Every version below takes each column's terms in row
// order, one fused multiply-add each, so the bits are the same on every
// machine and whatever the columns beside it. A stripe of columns goes
// through the families' rows once for up to twelve design columns: rows
// `stride` apart (a power of two, often) share few cache sets, and passing
// over them again for each group of design columns went back to memory.
struct ExplainedProduct {
  const double* weights;  // per entry, the padded design columns' weights side by side
  size_t columns;         // the design's columns padded to a multiple of four
  const double* r;
  size_t stride;
  const std::vector<std::pair<size_t, size_t>>* parts;  // the families' rows [begin, end)
};

// sums[k][v] += weight_k(h) x vector v of row h, design columns [first,
// first + kColumns), a stripe of kVectors vectors from column `from`.
#define OMBRA_EXPLAINED_STRIPE(Vector, kVectors, lanes, load, broadcast, fma)                \
  for (const auto& part : *in.parts) {                                                        \
    for (size_t h = part.first; h < part.second; ++h) {                                       \
      const double* row = in.r + h * in.stride + from;                                        \
      const double* w = in.weights + h * in.columns + first;                                  \
      Vector value[kVectors];                                                                 \
      for (int v = 0; v < kVectors; ++v) value[v] = load(row + v * (lanes));                  \
      for (int k = 0; k < kColumns; ++k) {                                                    \
        const Vector weight = broadcast(w[k]);                                                \
        for (int v = 0; v < kVectors; ++v) sums[k][v] = fma(weight, value[v], sums[k][v]);    \
      }                                                                                       \
    }                                                                                         \
  }

#ifdef OMBRA_EXPLAINED_KERNELS
// Columns [0, count) (a multiple of eight) of design columns [first, first
// + kColumns) into out's rows first.., `outStride` apart.
template <int kColumns>
__attribute__((target("avx512f"))) void explainedAvx512(const ExplainedProduct& in, size_t first, size_t count,
                                                        double* out, size_t outStride) {
  size_t from = 0;
  for (; from + 16 <= count; from += 16) {
    __m512d sums[kColumns][2];
    for (auto& k : sums) k[0] = k[1] = _mm512_setzero_pd();
    OMBRA_EXPLAINED_STRIPE(__m512d, 2, 8, _mm512_loadu_pd, _mm512_set1_pd, _mm512_fmadd_pd)
    for (int k = 0; k < kColumns; ++k) {
      _mm512_storeu_pd(out + (first + k) * outStride + from, sums[k][0]);
      _mm512_storeu_pd(out + (first + k) * outStride + from + 8, sums[k][1]);
    }
  }
  for (; from + 8 <= count; from += 8) {
    __m512d sums[kColumns][1];
    for (auto& k : sums) k[0] = _mm512_setzero_pd();
    OMBRA_EXPLAINED_STRIPE(__m512d, 1, 8, _mm512_loadu_pd, _mm512_set1_pd, _mm512_fmadd_pd)
    for (int k = 0; k < kColumns; ++k) _mm512_storeu_pd(out + (first + k) * outStride + from, sums[k][0]);
  }
}

__attribute__((target("avx2,fma"))) void explainedAvx2(const ExplainedProduct& in, size_t first, size_t count,
                                                       double* out, size_t outStride) {
  constexpr int kColumns = 4;
  for (size_t from = 0; from + 8 <= count; from += 8) {
    __m256d sums[kColumns][2];
    for (auto& k : sums) k[0] = k[1] = _mm256_setzero_pd();
    OMBRA_EXPLAINED_STRIPE(__m256d, 2, 4, _mm256_loadu_pd, _mm256_set1_pd, _mm256_fmadd_pd)
    for (int k = 0; k < kColumns; ++k) {
      _mm256_storeu_pd(out + (first + k) * outStride + from, sums[k][0]);
      _mm256_storeu_pd(out + (first + k) * outStride + from + 4, sums[k][1]);
    }
  }
}

#undef OMBRA_EXPLAINED_STRIPE
#endif  // OMBRA_EXPLAINED_KERNELS

// Any processor, columns [from, count): std::fma rounds as the instructions do.
void explainedScalar(const ExplainedProduct& in, size_t from, size_t count, double* out, size_t outStride) {
  for (size_t k = 0; k < in.columns; ++k) std::fill(out + k * outStride + from, out + k * outStride + count, 0.0);
  for (const auto& part : *in.parts) {
    for (size_t h = part.first; h < part.second; ++h) {
      const double* row = in.r + h * in.stride;
      for (size_t k = 0; k < in.columns; ++k) {
        const double weight = in.weights[h * in.columns + k];
        double* sums = out + k * outStride;
        for (size_t j = from; j < count; ++j) sums[j] = std::fma(weight, row[j], sums[j]);
      }
    }
  }
}

}  // namespace

void weightedColumnSums(const double* weights, size_t columns, const double* r, size_t stride,
                        const std::vector<std::pair<size_t, size_t>>& rows, size_t count, double* out,
                        size_t outStride) {
#ifdef OMBRA_EXPLAINED_KERNELS
  static const int level = __builtin_cpu_supports("avx512f")                                ? 2
                           : __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? 1
                                                                                              : 0;
#else
  constexpr int level = 0;
#endif
  const ExplainedProduct in{weights, columns, r, stride, &rows};
  const size_t vectorEnd = level > 0 ? count / 8 * 8 : 0;
#ifdef OMBRA_EXPLAINED_KERNELS
  for (size_t first = 0; level == 2 && first < columns; first += 12) {
    switch (std::min<size_t>(12, columns - first)) {
      case 12: explainedAvx512<12>(in, first, vectorEnd, out, outStride); break;
      case 8: explainedAvx512<8>(in, first, vectorEnd, out, outStride); break;
      default: explainedAvx512<4>(in, first, vectorEnd, out, outStride); break;
    }
  }
  for (size_t first = 0; level == 1 && first < columns; first += 4) {
    explainedAvx2(in, first, vectorEnd, out, outStride);
  }
#endif
  explainedScalar(in, vectorEnd, count, out, outStride);
}

OMBRA_VECTOR_CLONES
void subtractQuadratic(const double* __restrict c, size_t width, const double* e, size_t p,
                       double* __restrict squares) {
  for (size_t a = 0; a < p; ++a) {
    const double* ca = c + a * width;
    for (size_t b = 0; b < p; ++b) {
      const double eab = e[a * p + b];
      const double* cb = c + b * width;
      for (size_t j = 0; j < width; ++j) squares[j] -= eab * ca[j] * cb[j];
    }
  }
}

void addRotatedSquares(const RotatedBlock& block, const double* r, size_t stride, size_t count, double* squares) {
  const size_t m = block.size;
  const int size = static_cast<int>(m), width = static_cast<int>(count);
  thread_local std::vector<double> rotated, sums;  // per thread: U' r, and the sums
  rotated.resize(m * count);
  sums.assign(count, 0.0);
  openBlas().dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, size, width, size, 1.0, block.vectors, size,
                   r + block.begin * stride, static_cast<int>(stride), 0.0, rotated.data(), width);
  for (size_t i = 0; i < m; ++i) {
    const double shift = block.shifts[i];
    const double* t = rotated.data() + i * count;
    for (size_t j = 0; j < count; ++j) sums[j] += shift * t[j] * t[j];
  }
  for (size_t j = 0; j < count; ++j) squares[j] += sums[j];
}

void addFactoredSquares(const RotatedBlock& block, const std::vector<double>& factor, const double* r, size_t stride,
                        size_t count, double* squares) {
  const size_t m = block.size;
  thread_local std::vector<double> solved, sums, plain;  // per thread: the block's rows, solved in place
  solved.resize(m * count);
  for (size_t i = 0; i < m; ++i) std::copy_n(r + (block.begin + i) * stride, count, solved.data() + i * count);
  // Column-major, the rows are count x m (ld count): X L' = R' gives X = (L^-1 R)'.
  const int size = static_cast<int>(m), width = static_cast<int>(count);
  openBlas().dtrsm(CblasColMajor, CblasRight, CblasLower, CblasTrans, CblasNonUnit, width, size, 1.0, factor.data(),
                   size, solved.data(), width);
  sums.assign(count, 0.0);
  plain.assign(count, 0.0);
  for (size_t i = 0; i < m; ++i) {
    const double* y = solved.data() + i * count;
    const double* row = r + (block.begin + i) * stride;
    for (size_t j = 0; j < count; ++j) {
      sums[j] += y[j] * y[j];
      plain[j] += row[j] * row[j];
    }
  }
  for (size_t j = 0; j < count; ++j) squares[j] += sums[j] - plain[j];
}

void rotatedProduct(const RotatedBlock& block, const double* x, size_t xStride, size_t p, std::vector<double>& out) {
  const size_t m = block.size;
  const int size = static_cast<int>(m), columns = static_cast<int>(p);
  // t = U' x (m x p), scaled by the shifts, then out = U t.
  std::vector<double> t(m * p);
  openBlas().dgemm(CblasRowMajor, CblasNoTrans, CblasTrans, size, columns, size, 1.0, block.vectors, size,
                   x + block.begin, static_cast<int>(xStride), 0.0, t.data(), columns);
  for (size_t i = 0; i < m; ++i) {
    for (size_t k = 0; k < p; ++k) t[i * p + k] *= block.shifts[i];
  }
  out.resize(m * p);
  openBlas().dgemm(CblasRowMajor, CblasTrans, CblasNoTrans, size, columns, size, 1.0, block.vectors, size, t.data(),
                   columns, 0.0, out.data(), columns);
}

}  // namespace ombra
