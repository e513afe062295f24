// Golub-Reinsch SVD in two shapes. The plain one walks the caller's row-pointer
// arrays directly; it serves SVDcmp and is the fallback of svdcmp. The fast one
// (svdcmp) copies the matrix into one column-major buffer so that every inner
// loop runs over contiguous memory, but it performs exactly the same
// floating-point operations in exactly the same order, so its U, w and V are
// bit-identical to the plain algorithm's. Only independent element-wise
// updates are left to the vectoriser; every sum keeps its sequential order.
#include "Matrix.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "MemoryClass.h"

namespace {

constexpr int kMaxSweeps = 30;
// SVDcmp judges e[l], w[nm] and the cancelled f against this absolute bound.
constexpr double kTinyAbsolute = 1e-15;
// Inv drops singular values below this (absolute, not relative).
constexpr double kInvThreshold = 0.0001;

double sign(double x, double y) { return y >= 0.0 ? std::fabs(x) : -std::fabs(x); }

double maxOf(double a, double b) { return a > b ? a : b; }

double hypotenuse(double a, double b) {
  double absA = std::fabs(a);
  double absB = std::fabs(b);
  if (absA > absB) return absA * std::sqrt(1.0 + (absB / absA) * (absB / absA));
  return absB == 0.0 ? 0.0 : absB * std::sqrt(1.0 + (absA / absB) * (absA / absB));
}

// ---------------------------------------------------------------------------
// Phase 4, shared by both shapes: the implicit-shift QR iteration on the
// bidiagonal (w on the diagonal, e above it, both 0-based). It never reads U or
// V; it only tells the sink which column rotations to apply to them.

// How the two decompositions decide that an entry is negligible.
struct SplitRule {
  bool absolute;  // SVDcmp: below 1e-15; svdcmp: lost when added to anorm
  double anorm;
  bool negligible(double x) const {
    return absolute ? std::fabs(x) < kTinyAbsolute : std::fabs(x) + anorm == anorm;
  }
};

// Finds the l at which the bidiagonal splits above row k; sets cancel when
// w[l-1] is negligible, so e[l] must be chased out first. e[0] is always 0,
// so the search ends at l = 0 at the latest; stopping there outright keeps a
// not-a-number anorm from running the search off the arrays.
int findSplit(const double* w, const double* e, int k, const SplitRule& rule, bool& cancel) {
  cancel = false;
  for (int l = k; l >= 1; --l) {
    if (rule.negligible(e[l])) return l;
    if (rule.negligible(w[l - 1])) {
      cancel = true;
      return l;
    }
  }
  return 0;
}

template <class Sink>
void cancelSuperdiagonal(double* w, double* e, int l, int k, const SplitRule& rule, Sink& sink) {
  int nm = l - 1;
  double c = 0.0;
  double s = 1.0;
  for (int i = l; i <= k; ++i) {
    double f = s * e[i];
    // e[i] must take its share of the previous rotation, and the chase ends
    // at the first negligible fill-in f: leaving e[i] as it was, or going on
    // past a skipped rotation with the old c and s, breaks the decomposition.
    e[i] = c * e[i];
    bool negligible = rule.absolute ? std::fabs(f) <= kTinyAbsolute
                                    : std::fabs(f) + rule.anorm == rule.anorm;
    if (negligible) break;
    double g = w[i];
    double h = hypotenuse(f, g);
    w[i] = h;
    h = 1.0 / h;
    c = g * h;
    s = -f * h;
    sink.rotateU(nm, i, c, s);
  }
}

// Wilkinson-type shift from the bottom 2 x 2 minor, then one QR sweep chasing
// the bulge from l down to k.
template <class Sink>
void qrSweep(double* w, double* e, int l, int k, Sink& sink) {
  double z = w[k];
  double x = w[l];
  int nm = k - 1;
  double y = w[nm];
  double g = e[nm];
  double h = e[k];
  double f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
  g = hypotenuse(f, 1.0);
  f = ((x - z) * (x + z) + h * ((y / (f + sign(g, f))) - h)) / x;
  double c = 1.0;
  double s = 1.0;
  for (int j = l; j <= nm; ++j) {
    int i = j + 1;
    g = e[i];
    y = w[i];
    h = s * g;
    g = c * g;
    z = hypotenuse(f, h);
    e[j] = z;
    c = f / z;
    s = h / z;
    f = x * c + g * s;
    g = g * c - x * s;
    h = y * s;
    y *= c;
    sink.rotateV(j, i, c, s);
    z = hypotenuse(f, h);
    w[j] = z;
    if (z != 0.0) {
      z = 1.0 / z;
      c = f * z;
      s = h * z;
    }
    f = c * g + s * y;
    x = c * y - s * g;
    sink.rotateU(j, i, c, s);
  }
  e[l] = 0.0;
  e[k] = f;
  w[k] = x;
}

// At most 30 sweeps per singular value; without convergence the current
// values are kept and the next one is taken up, silently.
template <class Sink>
void diagonalise(double* w, double* e, int n, const SplitRule& rule, Sink& sink) {
  for (int k = n - 1; k >= 0; --k) {
    for (int sweep = 1; sweep <= kMaxSweeps; ++sweep) {
      bool cancel = false;
      int l = findSplit(w, e, k, rule, cancel);
      if (cancel) cancelSuperdiagonal(w, e, l, k, rule, sink);
      if (l == k) {
        if (w[k] < 0.0) {
          w[k] = -w[k];
          sink.negateV(k);
        }
        break;
      }
      qrSweep(w, e, l, k, sink);
    }
  }
}

// ---------------------------------------------------------------------------
// The plain shape: the algorithm as written, on row-pointer arrays whose
// first index is base (1 for svdcmp, 0 for SVDcmp).

class InPlaceSvd {
 public:
  InPlaceSvd(double** a, int m, int n, double* w, double** v, int base)
      : a_(a), v_(v), w_(w + base), m_(m), n_(n), base_(base), e_(n, 0.0) {}

  void run(bool absoluteRule) {
    double anorm = householder();
    accumulateRight();
    accumulateLeft();
    diagonalise(w_, e_.data(), n_, SplitRule{absoluteRule, anorm}, *this);
  }

  void rotateU(int p, int q, double c, double s) {
    for (int r = 0; r < m_; ++r) {
      double y = A(r, p);
      double z = A(r, q);
      A(r, p) = y * c + z * s;
      A(r, q) = z * c - y * s;
    }
  }
  void rotateV(int p, int q, double c, double s) {
    for (int r = 0; r < n_; ++r) {
      double y = V(r, p);
      double z = V(r, q);
      V(r, p) = y * c + z * s;
      V(r, q) = z * c - y * s;
    }
  }
  void negateV(int k) {
    for (int r = 0; r < n_; ++r) V(r, k) = -V(r, k);
  }

 private:
  double& A(int r, int c) { return a_[r + base_][c + base_]; }
  double& V(int r, int c) { return v_[r + base_][c + base_]; }

  double householder() {
    double g = 0.0, scale = 0.0, anorm = 0.0;
    for (int i = 0; i < n_; ++i) {
      e_[i] = scale * g;
      g = scale = 0.0;
      if (i < m_) reflectColumn(i, g, scale);
      w_[i] = scale * g;
      g = scale = 0.0;
      if (i < m_ && i != n_ - 1) reflectRow(i, g, scale);
      anorm = maxOf(anorm, std::fabs(w_[i]) + std::fabs(e_[i]));
    }
    return anorm;
  }

  void reflectColumn(int i, double& g, double& scale) {
    for (int k = i; k < m_; ++k) scale += std::fabs(A(k, i));
    if (scale == 0.0) return;
    double s = 0.0;
    for (int k = i; k < m_; ++k) {
      A(k, i) /= scale;
      s += A(k, i) * A(k, i);
    }
    double f = A(i, i);
    g = -sign(std::sqrt(s), f);
    double h = f * g - s;
    A(i, i) = f - g;
    for (int j = i + 1; j < n_; ++j) {
      s = 0.0;
      for (int k = i; k < m_; ++k) s += A(k, i) * A(k, j);
      f = s / h;
      for (int k = i; k < m_; ++k) A(k, j) += f * A(k, i);
    }
    for (int k = i; k < m_; ++k) A(k, i) *= scale;
  }

  void reflectRow(int i, double& g, double& scale) {
    int l = i + 1;
    for (int k = l; k < n_; ++k) scale += std::fabs(A(i, k));
    if (scale == 0.0) return;
    double s = 0.0;
    for (int k = l; k < n_; ++k) {
      A(i, k) /= scale;
      s += A(i, k) * A(i, k);
    }
    double f = A(i, l);
    g = -sign(std::sqrt(s), f);
    double h = f * g - s;
    A(i, l) = f - g;
    for (int k = l; k < n_; ++k) e_[k] = A(i, k) / h;
    for (int j = l; j < m_; ++j) {
      s = 0.0;
      for (int k = l; k < n_; ++k) s += A(j, k) * A(i, k);
      for (int k = l; k < n_; ++k) A(j, k) += s * e_[k];
    }
    for (int k = l; k < n_; ++k) A(i, k) *= scale;
  }

  void accumulateRight() {
    double g = 0.0;
    int l = n_;
    for (int i = n_ - 1; i >= 0; --i) {
      if (i < n_ - 1) {
        if (g != 0.0) {
          // Two divisions rather than one product, against underflow.
          for (int j = l; j < n_; ++j) V(j, i) = (A(i, j) / A(i, l)) / g;
          for (int j = l; j < n_; ++j) {
            double s = 0.0;
            for (int k = l; k < n_; ++k) s += A(i, k) * V(k, j);
            for (int k = l; k < n_; ++k) V(k, j) += s * V(k, i);
          }
        }
        for (int j = l; j < n_; ++j) V(i, j) = V(j, i) = 0.0;
      }
      V(i, i) = 1.0;
      g = e_[i];
      l = i;
    }
  }

  void accumulateLeft() {
    for (int i = std::min(m_, n_) - 1; i >= 0; --i) {
      int l = i + 1;
      double g = w_[i];
      for (int j = l; j < n_; ++j) A(i, j) = 0.0;
      if (g != 0.0) {
        g = 1.0 / g;
        for (int j = l; j < n_; ++j) {
          double s = 0.0;
          for (int k = l; k < m_; ++k) s += A(k, i) * A(k, j);
          double f = (s / A(i, i)) * g;
          for (int k = i; k < m_; ++k) A(k, j) += f * A(k, i);
        }
        for (int j = i; j < m_; ++j) A(j, i) *= g;
      } else {
        for (int j = i; j < m_; ++j) A(j, i) = 0.0;
      }
      ++A(i, i);
    }
  }

  double** a_;
  double** v_;
  double* w_;
  int m_, n_, base_;
  std::vector<double> e_;
};

// ---------------------------------------------------------------------------
// Kernels of the fast shape. Every sum starts at 0.0 and adds its terms in
// increasing index order; the restrict qualifiers let the element-wise loops
// vectorise, which does not change any result.
//
// Each kernel is also built for wider vector registers, picked at load time
// where the processor has them. Lanes are independent IEEE operations (no
// fused multiply-add under -ffp-contract=off), so every clone computes the
// same bits.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define OMBRA_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define OMBRA_VECTOR_CLONES
#endif

// sums[c] = sum over r < len of x[r] * ys[c][r], for c < 4, each in r order;
// the four chains run side by side to hide the latency of the additions.
OMBRA_VECTOR_CLONES
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

OMBRA_VECTOR_CLONES
double dotOne(const double* x, const double* y, std::size_t len) {
  double s = 0.0;
  for (std::size_t r = 0; r < len; ++r) s += x[r] * y[r];
  return s;
}

// y[r] += f * x[r]
OMBRA_VECTOR_CLONES
void addScaled(double* __restrict y, const double* __restrict x, double f, std::size_t len) {
  for (std::size_t r = 0; r < len; ++r) y[r] += f * x[r];
}

// t[r] += y[r] * f
OMBRA_VECTOR_CLONES
void accumulateScaled(double* __restrict t, const double* __restrict y, double f, std::size_t len) {
  for (std::size_t r = 0; r < len; ++r) t[r] += y[r] * f;
}

// y[r] += t[r] * f
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

// Every column j in [first, count) of a column-major block gets
// y_j += (dot(x, y_j over the dot rows) / divisor) * scale * x over the update
// rows, where f is formed as the caller's rule says. The dot products go four
// columns at a time; the independence of the columns makes that exact.
template <class ScaleRule>
void reflectColumns(double* const* cols, int count, const double* x, std::size_t dotOffset,
                    std::size_t len, ScaleRule factor) {
  int j = 0;
  double sums[4];
  for (; j + 4 <= count; j += 4) {
    const double* ys[4] = {cols[j] + dotOffset, cols[j + 1] + dotOffset, cols[j + 2] + dotOffset,
                           cols[j + 3] + dotOffset};
    dotFour(x + dotOffset, ys, len - dotOffset, sums);
    for (int c = 0; c < 4; ++c) addScaled(cols[j + c], x, factor(sums[c]), len);
  }
  for (; j < count; ++j) {
    double sum = dotOne(x + dotOffset, cols[j] + dotOffset, len - dotOffset);
    addScaled(cols[j], x, factor(sum), len);
  }
}

// A column rotation (or, with q < 0, a negation of column p) waiting to be
// applied to U or V.
struct Rotation {
  int p;
  int q;
  double c;
  double s;
};

// Applies the rotations in their order to every row of a column-major matrix.
// Rows are independent, so rows are taken in blocks small enough for all their
// columns to stay in cache while the whole list goes over them.
void applyRotations(double* data, std::size_t rows, int cols, const std::vector<Rotation>& list) {
  if (rows == 0 || list.empty()) return;
  constexpr std::size_t kBlockDoubles = 1 << 15;
  std::size_t block = std::max<std::size_t>(16, kBlockDoubles / static_cast<std::size_t>(cols));
  for (std::size_t r0 = 0; r0 < rows; r0 += block) {
    std::size_t len = std::min(block, rows - r0);
    for (const Rotation& rot : list) {
      double* p = data + static_cast<std::size_t>(rot.p) * rows + r0;
      if (rot.q < 0) {
        for (std::size_t r = 0; r < len; ++r) p[r] = -p[r];
        continue;
      }
      double* q = data + static_cast<std::size_t>(rot.q) * rows + r0;
      rotatePair(p, q, rot.c, rot.s, len);
    }
  }
}

// ---------------------------------------------------------------------------
// The fast shape: A (m x n) and V (n x n) column-major, 0-based.

class ColumnMajorSvd {
 public:
  ColumnMajorSvd(double* a, double* v, double* w, int m, int n)
      : a_(a), v_(v), w_(w), m_(m), n_(n), e_(n, 0.0), cols_(n), rowCopy_(n) {}

  void run() {
    double anorm = householder();
    accumulateRight();
    accumulateLeft();
    diagonalise(w_, e_.data(), n_, SplitRule{false, anorm}, *this);
    flushRotations();
  }

  // Phase 4 never reads U or V, so its rotations are collected and applied in
  // cache-sized row blocks; the list is bounded to keep it in cache as well.
  void rotateU(int p, int q, double c, double s) { record(uRotations_, Rotation{p, q, c, s}); }
  void rotateV(int p, int q, double c, double s) { record(vRotations_, Rotation{p, q, c, s}); }
  void negateV(int k) { record(vRotations_, Rotation{k, -1, 0.0, 0.0}); }

 private:
  static constexpr std::size_t kRotationBatch = 1 << 14;

  double* col(int c) { return a_ + static_cast<std::size_t>(c) * m_; }
  double& A(int r, int c) { return col(c)[r]; }
  double* vcol(int c) { return v_ + static_cast<std::size_t>(c) * n_; }

  void record(std::vector<Rotation>& list, Rotation rot) {
    list.push_back(rot);
    if (list.size() >= kRotationBatch) flushRotations();
  }
  void flushRotations() {
    applyRotations(a_, m_, n_, uRotations_);
    applyRotations(v_, n_, n_, vRotations_);
    uRotations_.clear();
    vRotations_.clear();
  }

  double householder() {
    double g = 0.0, scale = 0.0, anorm = 0.0;
    for (int i = 0; i < n_; ++i) {
      e_[i] = scale * g;
      g = scale = 0.0;
      if (i < m_) reflectColumn(i, g, scale);
      w_[i] = scale * g;
      g = scale = 0.0;
      if (i < m_ && i != n_ - 1) reflectRow(i, g, scale);
      anorm = maxOf(anorm, std::fabs(w_[i]) + std::fabs(e_[i]));
    }
    return anorm;
  }

  // Column pointers of columns first..n-1, each shifted down to row rowOffset.
  double* const* trailingColumns(int first, int rowOffset) {
    for (int j = first; j < n_; ++j) cols_[j - first] = col(j) + rowOffset;
    return cols_.data();
  }

  void reflectColumn(int i, double& g, double& scale) {
    double* x = col(i) + i;
    std::size_t len = static_cast<std::size_t>(m_ - i);
    for (std::size_t r = 0; r < len; ++r) scale += std::fabs(x[r]);
    if (scale == 0.0) return;
    double s = 0.0;
    for (std::size_t r = 0; r < len; ++r) {
      x[r] /= scale;
      s += x[r] * x[r];
    }
    double f = x[0];
    g = -sign(std::sqrt(s), f);
    double h = f * g - s;
    x[0] = f - g;
    reflectColumns(trailingColumns(i + 1, i), n_ - i - 1, x, 0, len,
                   [h](double sum) { return sum / h; });
    for (std::size_t r = 0; r < len; ++r) x[r] *= scale;
  }

  void reflectRow(int i, double& g, double& scale) {
    int l = i + 1;
    for (int k = l; k < n_; ++k) scale += std::fabs(A(i, k));
    if (scale == 0.0) return;
    double s = 0.0;
    for (int k = l; k < n_; ++k) {
      A(i, k) /= scale;
      s += A(i, k) * A(i, k);
    }
    double f = A(i, l);
    g = -sign(std::sqrt(s), f);
    double h = f * g - s;
    A(i, l) = f - g;
    for (int k = l; k < n_; ++k) e_[k] = A(i, k) / h;
    updateRowsBelow(i);
    for (int k = l; k < n_; ++k) A(i, k) *= scale;
  }

  // Rows j > i: t_j = sum over k > i of A(j,k) * A(i,k), then A(j,k) += t_j e[k].
  // The sums of a block of rows are built side by side, column after column,
  // each in k order; then the block is updated column after column.
  void updateRowsBelow(int i) {
    int l = i + 1;
    std::size_t width = static_cast<std::size_t>(n_ - l);
    std::size_t block = std::max<std::size_t>(16, (std::size_t{1} << 15) / width);
    rowSums_.resize(std::min(block, static_cast<std::size_t>(m_)));
    double* t = rowSums_.data();
    for (std::size_t r0 = l; r0 < static_cast<std::size_t>(m_); r0 += block) {
      std::size_t len = std::min(block, m_ - r0);
      std::fill(t, t + len, 0.0);
      for (int k = l; k < n_; ++k) accumulateScaled(t, col(k) + r0, A(i, k), len);
      for (int k = l; k < n_; ++k) addScaledBy(col(k) + r0, t, e_[k], len);
    }
  }

  void accumulateRight() {
    double g = 0.0;
    int l = n_;
    for (int i = n_ - 1; i >= 0; --i) {
      double* vi = vcol(i);
      if (i < n_ - 1) {
        if (g != 0.0) {
          // Two divisions rather than one product, against underflow.
          for (int j = l; j < n_; ++j) vi[j] = (A(i, j) / A(i, l)) / g;
          for (int k = l; k < n_; ++k) rowCopy_[k] = A(i, k);
          updateRightColumns(l, vi);
        }
        for (int j = l; j < n_; ++j) vcol(j)[i] = vi[j] = 0.0;
      }
      vi[i] = 1.0;
      g = e_[i];
      l = i;
    }
  }

  // Columns j >= l of V: t = sum over k >= l of A(i,k) * V(k,j), V(k,j) += t V(k,i).
  void updateRightColumns(int l, const double* vi) {
    int j = l;
    std::size_t len = static_cast<std::size_t>(n_ - l);
    const double* x = rowCopy_.data() + l;
    double sums[4];
    for (; j + 4 <= n_; j += 4) {
      const double* ys[4] = {vcol(j) + l, vcol(j + 1) + l, vcol(j + 2) + l, vcol(j + 3) + l};
      dotFour(x, ys, len, sums);
      for (int c = 0; c < 4; ++c) addScaled(vcol(j + c) + l, vi + l, sums[c], len);
    }
    for (; j < n_; ++j) addScaled(vcol(j) + l, vi + l, dotOne(x, vcol(j) + l, len), len);
  }

  void accumulateLeft() {
    for (int i = std::min(m_, n_) - 1; i >= 0; --i) {
      int l = i + 1;
      double g = w_[i];
      double* x = col(i) + i;
      std::size_t len = static_cast<std::size_t>(m_ - i);
      for (int j = l; j < n_; ++j) A(i, j) = 0.0;
      if (g != 0.0) {
        g = 1.0 / g;
        double pivot = x[0];
        reflectColumns(trailingColumns(l, i), n_ - l, x, 1, len,
                       [pivot, g](double sum) { return (sum / pivot) * g; });
        for (std::size_t r = 0; r < len; ++r) x[r] *= g;
      } else {
        std::fill(x, x + len, 0.0);
      }
      ++x[0];
    }
  }

  double* a_;
  double* v_;
  double* w_;
  int m_, n_;
  std::vector<double> e_;
  std::vector<double*> cols_;
  std::vector<double> rowCopy_;
  std::vector<double> rowSums_;
  std::vector<Rotation> uRotations_;
  std::vector<Rotation> vRotations_;
};

// Copies between the caller's 1-based rows and a 0-based column-major buffer,
// a few rows at a time so that both sides are walked in long runs.
constexpr int kCopyRows = 16;

void toColumnMajor(double** a, int m, int n, double* out) {
  for (int r0 = 0; r0 < m; r0 += kCopyRows) {
    int r1 = std::min(m, r0 + kCopyRows);
    for (int c = 0; c < n; ++c) {
      double* dst = out + static_cast<std::size_t>(c) * m;
      for (int r = r0; r < r1; ++r) dst[r] = a[r + 1][c + 1];
    }
  }
}

void fromColumnMajor(const double* in, int m, int n, double** a) {
  for (int r0 = 0; r0 < m; r0 += kCopyRows) {
    int r1 = std::min(m, r0 + kCopyRows);
    for (int c = 0; c < n; ++c) {
      const double* src = in + static_cast<std::size_t>(c) * m;
      for (int r = r0; r < r1; ++r) a[r + 1][c + 1] = src[r];
    }
  }
}

void zeroNotANumber(double& x) {
  if (std::isnan(x)) x = 0.0;
}

}  // namespace

double Matrix::radius(double a, double b) { return hypotenuse(a, b); }

void Matrix::svdcmp(double** a, int m, int n, double* w, double** v) {
  if (n <= 0) return;
  if (m < 0) m = 0;
  std::size_t size = static_cast<std::size_t>(m) * static_cast<std::size_t>(n);
  std::unique_ptr<double[]> colA(new (std::nothrow) double[size]);
  std::unique_ptr<double[]> colV(new (std::nothrow) double[static_cast<std::size_t>(n) * n]);
  if (!colA || !colV) {
    svdcmpInPlace(a, m, n, w, v);
    return;
  }
  toColumnMajor(a, m, n, colA.get());
  ColumnMajorSvd(colA.get(), colV.get(), w + 1, m, n).run();
  fromColumnMajor(colA.get(), m, n, a);
  fromColumnMajor(colV.get(), n, n, v);
}

void Matrix::svdcmpInPlace(double** a, int m, int n, double* w, double** v) {
  if (n <= 0) return;
  InPlaceSvd(a, m < 0 ? 0 : m, n, w, v, 1).run(false);
}

void Matrix::SVDcmp(double** a, int m, int n, double* w, double** v) {
  if (m < n) {
    // Rows beyond m would be needed; decomposing anyway would run off a.
    std::printf(" SVDCMP: You must augment A with extra zero rows");
    return;
  }
  if (n <= 0) return;
  InPlaceSvd(a, m, n, w, v, 0).run(true);
  for (int r = 0; r < m; ++r)
    for (int c = 0; c < n; ++c) zeroNotANumber(a[r][c]);
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) zeroNotANumber(v[r][c]);
  for (int i = 0; i < n; ++i) zeroNotANumber(w[i]);
}

bool Matrix::Inv(double** a, int n, double** inv, int& rank) {
  rank = 0;
  if (n <= 0) return true;
  MemoryClass<double> tracker;
  double** u = nullptr;
  double** d = nullptr;
  double** v = nullptr;
  double** t = nullptr;
  double* w = nullptr;
  if (!tracker.Matrix(u, n, n) || !tracker.Matrix(d, n, n) || !tracker.Matrix(v, n, n) ||
      !tracker.Matrix(t, n, n))
    return false;  // the tracker releases what it handed out
  tracker.Vector(w, n);
  if (w == nullptr) return false;

  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) u[r][c] = a[r][c];
  SVDcmp(u, n, n, w, v);
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < r; ++c) std::swap(u[r][c], u[c][r]);
  for (int i = 0; i < n; ++i) {
    std::fill(d[i], d[i] + n, 0.0);
    if (std::fabs(w[i]) >= kInvThreshold) {
      d[i][i] = 1.0 / w[i];
      ++rank;
    }
  }
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) {
      t[r][c] = 0.0;
      for (int k = 0; k < n; ++k) t[r][c] += v[r][k] * d[k][c];
    }
  for (int r = 0; r < n; ++r) {
    std::fill(inv[r], inv[r] + n, 0.0);
    for (int c = 0; c < n; ++c)
      for (int k = 0; k < n; ++k) inv[r][c] += t[r][k] * u[k][c];
  }

  tracker.FreeMatrix(u, n);
  tracker.FreeMatrix(d, n);
  tracker.FreeMatrix(v, n);
  tracker.FreeMatrix(t, n);
  tracker.FreeVector(w);
  return true;
}

bool Matrix::Inv(double** a, int n, double** inv) {
  int rank = 0;
  return Inv(a, n, inv, rank);
}

bool Matrix::Inv(int** a, int n, double** inv, int& rank) {
  rank = 0;
  if (n <= 0) return true;
  MemoryClass<double> tracker;
  double** copy = nullptr;
  if (!tracker.Matrix(copy, n, n)) return false;
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) copy[r][c] = static_cast<double>(a[r][c]);
  bool done = Inv(copy, n, inv, rank);
  tracker.FreeMatrix(copy, n);
  return done;
}

bool Matrix::Inv(int** a, int n, double** inv) {
  int rank = 0;
  return Inv(a, n, inv, rank);
}
