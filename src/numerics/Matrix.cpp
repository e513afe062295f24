// Golub-Reinsch SVD on the caller's row-pointer arrays, as the algorithm is
// written: SVDcmp (0-based) and the fallback of svdcmp (1-based) when its
// column-major copy cannot be allocated; and the pseudo-inverse built on
// SVDcmp. The fast svdcmp itself is in MatrixSvd.cpp.
#include "numerics/Matrix.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "numerics/MatrixSvdSteps.h"
#include "core/MemoryClass.h"

namespace {

using matrixsvd::SplitRule;
using matrixsvd::hypotenuse;
using matrixsvd::maxOf;
using matrixsvd::sign;

// Inv drops singular values below this (absolute, not relative).
constexpr double kInvThreshold = 0.0001;

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
    matrixsvd::diagonalise(w_, e_.data(), n_, SplitRule{absoluteRule, anorm}, *this);
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

void zeroNotANumber(double& x) {
  if (std::isnan(x)) x = 0.0;
}

}  // namespace

double Matrix::radius(double a, double b) { return hypotenuse(a, b); }

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
