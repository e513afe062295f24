#include "numerics/MatrixKernels.h"

#include <cstring>

#include "numerics/VectorClones.h"

// The dot products are chains of dependent additions, which no vector width
// shortens; what the vectoriser makes of eight of them side by side (products
// in vectors, then shuffled apart for the additions) runs slower than plain
// scalar code, which keeps eight chains in flight.
#if defined(__GNUC__) && !defined(__clang__)
#define OMBRA_SCALAR_CHAINS __attribute__((optimize("no-tree-vectorize")))
#else
#define OMBRA_SCALAR_CHAINS
#endif

namespace matrixsvd {

OMBRA_SCALAR_CHAINS
void dotEight(const double* x, const double* const ys[8], std::size_t len, double sums[8]) {
  const double* y0 = ys[0];
  const double* y1 = ys[1];
  const double* y2 = ys[2];
  const double* y3 = ys[3];
  const double* y4 = ys[4];
  const double* y5 = ys[5];
  const double* y6 = ys[6];
  const double* y7 = ys[7];
  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0, s4 = 0.0, s5 = 0.0, s6 = 0.0, s7 = 0.0;
  for (std::size_t r = 0; r < len; ++r) {
    double xr = x[r];
    s0 += xr * y0[r];
    s1 += xr * y1[r];
    s2 += xr * y2[r];
    s3 += xr * y3[r];
    s4 += xr * y4[r];
    s5 += xr * y5[r];
    s6 += xr * y6[r];
    s7 += xr * y7[r];
  }
  sums[0] = s0;
  sums[1] = s1;
  sums[2] = s2;
  sums[3] = s3;
  sums[4] = s4;
  sums[5] = s5;
  sums[6] = s6;
  sums[7] = s7;
}

OMBRA_SCALAR_CHAINS
void dotFour(const double* x, const double* const ys[4], std::size_t len, double sums[4]) {
  const double* y0 = ys[0];
  const double* y1 = ys[1];
  const double* y2 = ys[2];
  const double* y3 = ys[3];
  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
  for (std::size_t r = 0; r < len; ++r) {
    double xr = x[r];
    s0 += xr * y0[r];
    s1 += xr * y1[r];
    s2 += xr * y2[r];
    s3 += xr * y3[r];
  }
  sums[0] = s0;
  sums[1] = s1;
  sums[2] = s2;
  sums[3] = s3;
}

OMBRA_SCALAR_CHAINS
double dotOne(const double* x, const double* y, std::size_t len) {
  double s = 0.0;
  for (std::size_t r = 0; r < len; ++r) s += x[r] * y[r];
  return s;
}

OMBRA_VECTOR_CLONES
void addScaled(double* __restrict y, const double* __restrict x, double f, std::size_t len) {
  for (std::size_t r = 0; r < len; ++r) y[r] += f * x[r];
}

OMBRA_VECTOR_CLONES
void accumulateScaled(double* __restrict t, const double* __restrict y, double f, std::size_t len) {
  for (std::size_t r = 0; r < len; ++r) t[r] += y[r] * f;
}

OMBRA_VECTOR_CLONES
void addScaledBy(double* __restrict y, const double* __restrict t, double f, std::size_t len) {
  for (std::size_t r = 0; r < len; ++r) y[r] += t[r] * f;
}

OMBRA_VECTOR_CLONES
void rotatePair(double* __restrict p, double* __restrict q, double c, double s, std::size_t len) {
  for (std::size_t r = 0; r < len; ++r) {
    double y = p[r];
    double z = q[r];
    p[r] = y * c + z * s;
    q[r] = z * c - y * s;
  }
}

namespace {

#if defined(__GNUC__)
// Eight doubles handled as one value; the operations on it are the same IEEE
// operations lane by lane, whatever registers the target has.
typedef double Lanes __attribute__((vector_size(8 * sizeof(double))));
#else
struct Lanes {
  double v[8];
  friend Lanes operator*(Lanes a, double b) {
    for (double& x : a.v) x *= b;
    return a;
  }
  friend Lanes operator+(Lanes a, Lanes b) {
    for (int k = 0; k < 8; ++k) a.v[k] += b.v[k];
    return a;
  }
  friend Lanes operator-(Lanes a, Lanes b) {
    for (int k = 0; k < 8; ++k) a.v[k] -= b.v[k];
    return a;
  }
};
#endif

// rotateChain on rows [r0, r0 + 8 * kGroups). The column passed on from one
// rotation to the next stays in registers, and several groups of eight rows
// keep independent chains of operations in flight.
template <std::size_t kGroups>
inline void rotateChainRows(double* base, std::size_t stride, const int* cols, const double* cs,
                            const double* ss, std::size_t count, std::size_t r0) {
  Lanes y[kGroups];
  const double* head = base + static_cast<std::size_t>(cols[0]) * stride + r0;
  // (Copied with memcpy: the rows need not be aligned to the lanes.)
  for (std::size_t g = 0; g < kGroups; ++g) std::memcpy(&y[g], head + 8 * g, sizeof(Lanes));
  for (std::size_t t = 0; t < count; ++t) {
    double* p = base + static_cast<std::size_t>(cols[t]) * stride + r0;
    const double* q = base + static_cast<std::size_t>(cols[t + 1]) * stride + r0;
    double c = cs[t];
    double s = ss[t];
    for (std::size_t g = 0; g < kGroups; ++g) {
      Lanes z;
      std::memcpy(&z, q + 8 * g, sizeof z);
      Lanes out = y[g] * c + z * s;
      std::memcpy(p + 8 * g, &out, sizeof out);
      y[g] = z * c - y[g] * s;
    }
  }
  double* tail = base + static_cast<std::size_t>(cols[count]) * stride + r0;
  for (std::size_t g = 0; g < kGroups; ++g) std::memcpy(tail + 8 * g, &y[g], sizeof(Lanes));
}

}  // namespace

OMBRA_VECTOR_CLONES
void rotateChain(double* base, std::size_t stride, const int* cols, const double* cs, const double* ss,
                 std::size_t count, std::size_t len) {
  std::size_t r0 = 0;
  for (; r0 + 32 <= len; r0 += 32) rotateChainRows<4>(base, stride, cols, cs, ss, count, r0);
  for (; r0 + 8 <= len; r0 += 8) rotateChainRows<1>(base, stride, cols, cs, ss, count, r0);
  for (; r0 < len; ++r0) {
    double y = base[static_cast<std::size_t>(cols[0]) * stride + r0];
    for (std::size_t t = 0; t < count; ++t) {
      double z = base[static_cast<std::size_t>(cols[t + 1]) * stride + r0];
      base[static_cast<std::size_t>(cols[t]) * stride + r0] = y * cs[t] + z * ss[t];
      y = z * cs[t] - y * ss[t];
    }
    base[static_cast<std::size_t>(cols[count]) * stride + r0] = y;
  }
}

void negate(double* p, std::size_t len) {
  for (std::size_t r = 0; r < len; ++r) p[r] = -p[r];
}

}  // namespace matrixsvd
