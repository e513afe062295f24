// Plain transcription of the Golub-Reinsch SVD: every loop walks the 1-based
// row-pointer arrays exactly as the algorithm is usually written down. Slow on
// purpose; it is the yardstick for the fast version.
#include "SvdReference.h"

#include <cmath>
#include <vector>

namespace svdref {

namespace {

double sign(double x, double y) { return y >= 0.0 ? std::fabs(x) : -std::fabs(x); }

double maxOf(double a, double b) { return a > b ? a : b; }

double pythag(double a, double b) {
  double absa = std::fabs(a);
  double absb = std::fabs(b);
  if (absa > absb) return absa * std::sqrt(1.0 + (absb / absa) * (absb / absa));
  return absb == 0.0 ? 0.0 : absb * std::sqrt(1.0 + (absa / absb) * (absa / absb));
}

}  // namespace

void svdcmpReference(double** a, int m, int n, double* w, double** v) {
  if (n <= 0) return;
  std::vector<double> rv1(n + 1, 0.0);
  int flag, i, its, j, jj, k, l = 0, nm = 0;
  double anorm, c, f, g, h, s, scale, x, y, z;

  g = scale = anorm = 0.0;
  for (i = 1; i <= n; i++) {
    l = i + 1;
    rv1[i] = scale * g;
    g = s = scale = 0.0;
    if (i <= m) {
      for (k = i; k <= m; k++) scale += std::fabs(a[k][i]);
      if (scale != 0.0) {
        for (k = i; k <= m; k++) {
          a[k][i] /= scale;
          s += a[k][i] * a[k][i];
        }
        f = a[i][i];
        g = -sign(std::sqrt(s), f);
        h = f * g - s;
        a[i][i] = f - g;
        for (j = l; j <= n; j++) {
          for (s = 0.0, k = i; k <= m; k++) s += a[k][i] * a[k][j];
          f = s / h;
          for (k = i; k <= m; k++) a[k][j] += f * a[k][i];
        }
        for (k = i; k <= m; k++) a[k][i] *= scale;
      }
    }
    w[i] = scale * g;
    g = s = scale = 0.0;
    if (i <= m && i != n) {
      for (k = l; k <= n; k++) scale += std::fabs(a[i][k]);
      if (scale != 0.0) {
        for (k = l; k <= n; k++) {
          a[i][k] /= scale;
          s += a[i][k] * a[i][k];
        }
        f = a[i][l];
        g = -sign(std::sqrt(s), f);
        h = f * g - s;
        a[i][l] = f - g;
        for (k = l; k <= n; k++) rv1[k] = a[i][k] / h;
        for (j = l; j <= m; j++) {
          for (s = 0.0, k = l; k <= n; k++) s += a[j][k] * a[i][k];
          for (k = l; k <= n; k++) a[j][k] += s * rv1[k];
        }
        for (k = l; k <= n; k++) a[i][k] *= scale;
      }
    }
    anorm = maxOf(anorm, std::fabs(w[i]) + std::fabs(rv1[i]));
  }

  for (i = n; i >= 1; i--) {
    if (i < n) {
      if (g != 0.0) {
        for (j = l; j <= n; j++) v[j][i] = (a[i][j] / a[i][l]) / g;
        for (j = l; j <= n; j++) {
          for (s = 0.0, k = l; k <= n; k++) s += a[i][k] * v[k][j];
          for (k = l; k <= n; k++) v[k][j] += s * v[k][i];
        }
      }
      for (j = l; j <= n; j++) v[i][j] = v[j][i] = 0.0;
    }
    v[i][i] = 1.0;
    g = rv1[i];
    l = i;
  }

  for (i = (m < n ? m : n); i >= 1; i--) {
    l = i + 1;
    g = w[i];
    for (j = l; j <= n; j++) a[i][j] = 0.0;
    if (g != 0.0) {
      g = 1.0 / g;
      for (j = l; j <= n; j++) {
        for (s = 0.0, k = l; k <= m; k++) s += a[k][i] * a[k][j];
        f = (s / a[i][i]) * g;
        for (k = i; k <= m; k++) a[k][j] += f * a[k][i];
      }
      for (j = i; j <= m; j++) a[j][i] *= g;
    } else {
      for (j = i; j <= m; j++) a[j][i] = 0.0;
    }
    ++a[i][i];
  }

  for (k = n; k >= 1; k--) {
    for (its = 1; its <= 30; its++) {
      // The split test ends at l = 1 at the latest (rv1[1] is 0); stopping
      // there outright also keeps a not-a-number anorm from running l below 1.
      flag = 1;
      for (l = k; l >= 2; l--) {
        nm = l - 1;
        if (std::fabs(rv1[l]) + anorm == anorm) {
          flag = 0;
          break;
        }
        if (std::fabs(w[nm]) + anorm == anorm) break;
      }
      if (l == 1) {
        nm = 0;
        flag = 0;
      }
      if (flag) {
        c = 0.0;
        s = 1.0;
        for (i = l; i <= k; i++) {
          f = s * rv1[i];
          rv1[i] = c * rv1[i];
          if (std::fabs(f) + anorm == anorm) break;
          g = w[i];
          h = pythag(f, g);
          w[i] = h;
          h = 1.0 / h;
          c = g * h;
          s = -f * h;
          for (j = 1; j <= m; j++) {
            y = a[j][nm];
            z = a[j][i];
            a[j][nm] = y * c + z * s;
            a[j][i] = z * c - y * s;
          }
        }
      }
      z = w[k];
      if (l == k) {
        if (z < 0.0) {
          w[k] = -z;
          for (j = 1; j <= n; j++) v[j][k] = -v[j][k];
        }
        break;
      }
      x = w[l];
      nm = k - 1;
      y = w[nm];
      g = rv1[nm];
      h = rv1[k];
      f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
      g = pythag(f, 1.0);
      f = ((x - z) * (x + z) + h * ((y / (f + sign(g, f))) - h)) / x;
      c = s = 1.0;
      for (j = l; j <= nm; j++) {
        i = j + 1;
        g = rv1[i];
        y = w[i];
        h = s * g;
        g = c * g;
        z = pythag(f, h);
        rv1[j] = z;
        c = f / z;
        s = h / z;
        f = x * c + g * s;
        g = g * c - x * s;
        h = y * s;
        y *= c;
        for (jj = 1; jj <= n; jj++) {
          double p = v[jj][j];
          double q = v[jj][i];
          v[jj][j] = p * c + q * s;
          v[jj][i] = q * c - p * s;
        }
        z = pythag(f, h);
        w[j] = z;
        if (z != 0.0) {
          z = 1.0 / z;
          c = f * z;
          s = h * z;
        }
        f = c * g + s * y;
        x = c * y - s * g;
        for (jj = 1; jj <= m; jj++) {
          double p = a[jj][j];
          double q = a[jj][i];
          a[jj][j] = p * c + q * s;
          a[jj][i] = q * c - p * s;
        }
      }
      rv1[l] = 0.0;
      rv1[k] = f;
      w[k] = x;
    }
  }
}

}  // namespace svdref
