// Pieces of the Golub-Reinsch SVD shared by its two shapes in Matrix.cpp (the
// plain one on row-pointer arrays) and MatrixSvd.cpp (the fast column-major
// one): the scalar helpers and the implicit-shift QR iteration on the
// bidiagonal. The iteration never reads U or V; it only tells a sink which
// column rotations to apply to them, so each shape applies them its own way.
#ifndef OMBRA_MATRIXSVDSTEPS_H
#define OMBRA_MATRIXSVDSTEPS_H

#include <cmath>

namespace matrixsvd {

constexpr int kMaxSweeps = 30;
// SVDcmp judges e[l], w[nm] and the cancelled f against this absolute bound.
constexpr double kTinyAbsolute = 1e-15;

inline double sign(double x, double y) { return y >= 0.0 ? std::fabs(x) : -std::fabs(x); }

inline double maxOf(double a, double b) { return a > b ? a : b; }

inline double hypotenuse(double a, double b) {
  double absA = std::fabs(a);
  double absB = std::fabs(b);
  if (absA > absB) return absA * std::sqrt(1.0 + (absB / absA) * (absB / absA));
  return absB == 0.0 ? 0.0 : absB * std::sqrt(1.0 + (absA / absB) * (absA / absB));
}

// How the two decompositions decide that an entry is negligible.
struct SplitRule {
  bool absolute;  // SVDcmp: below 1e-15; svdcmp: lost when added to anorm
  double anorm;
  bool negligible(double x) const {
    return absolute ? std::fabs(x) < kTinyAbsolute : std::fabs(x) + anorm == anorm;
  }
};

// Finds the l at which the bidiagonal (w on the diagonal, e above it, both
// 0-based) splits above row k; sets cancel when w[l-1] is negligible, so e[l]
// must be chased out first. e[0] is always 0, so the search ends at l = 0 at
// the latest; stopping there outright keeps a not-a-number anorm from running
// the search off the arrays.
inline int findSplit(const double* w, const double* e, int k, const SplitRule& rule, bool& cancel) {
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

}  // namespace matrixsvd

#endif  // OMBRA_MATRIXSVDSTEPS_H
