// The chi-square chain of the association test (chi2cdf, gamcdf, gammainc,
// gammaln) and the special functions beneath the distribution library.
#include "stats/statistic.h"

#include <cmath>
#include <cstdio>

#include "stats/statisticNumbers.h"

using namespace statnum;

namespace {

// Shapes above this are mapped onto it by a normal approximation.
constexpr double kGammaShapeMax = 1048576.0;  // 2^20

// 1e-7 formed as 1.0 times 0.1 seven times, so that it rounds the same way
// as the stopping rule it was tuned with.
constexpr double tenthPower(int times) {
  double value = 1.0;
  for (int i = 0; i < times; ++i) value *= 0.1;
  return value;
}
constexpr double kGammaTolerance = tenthPower(7);

}  // namespace

StatisticTool::StatisticTool() : seed1(12345), seed2(23456), seed3(7890) {}

double StatisticTool::reportInvalid(const char* message) {
  std::printf("%s", message);
  return kNaN;
}

// ---------------------------------------------------------------------------
// Chi-square chain

double StatisticTool::chi2cdf(double x, int v) {
  double a = static_cast<double>(v) * 0.5;
  return gamcdf(x, a, 2.0);
}

double StatisticTool::gamcdf(double x, double a, double b) {
  if (a <= 0 || b <= 0) return reportInvalid("parameter a or b is not correct!");
  double clamped = x < 0 ? 0.0 : x;  // keeps a NaN x
  return gammainc(clamped / b, a);
}

double StatisticTool::gammainc(double x, double a) {
  if (a < 0) return reportInvalid("MATLAB:gammainc:NegativeArg, A must be non-negative.");
  if (std::isnan(a) || std::isnan(x)) return kNaN;
  if (a > kGammaShapeMax) {
    x = std::fmax(0.0, (x - a) * std::sqrt(kGammaShapeMax / a) + kGammaShapeMax);
    a = kGammaShapeMax;
  }
  if (std::fabs(a) < kEps) return 1.0;
  // Tiny positive x still goes through the series: for small shapes P(a, x)
  // is far from 0 there (P(0.2, 1e-20) is about 1e-4).
  if (x <= 0 && x >= -kEps) return 0.0;
  if (x < a + 1) return lowerGammaSeries(x, a);
  return 1.0 - upperGammaFraction(x, a);
}

// P(a, x) by its power series; converges fast for x < a + 1.
double StatisticTool::lowerGammaSeries(double x, double a) {
  double term = 1.0;
  double sum = 1.0;
  double ap = a;
  do {
    ap += 1.0;
    term *= x / ap;
    sum += term;
  } while (term >= kGammaTolerance);
  double result = std::exp(a * std::log(x) - x - gammaln(a + 1.0)) * sum;
  if (x > 0 && result > 1) result = 1.0;
  return result;
}

// Q(a, x) = 1 - P(a, x) by Legendre's continued fraction, evaluated with
// forward recurrences renormalised at each step; for x >= a + 1.
double StatisticTool::upperGammaFraction(double x, double a) {
  double a0 = 1.0, a1 = x, b0 = 0.0, b1 = 1.0;
  double fac = 1.0 / x;
  double n = 1.0;
  double g = b1 * fac;
  if (g >= kGammaTolerance) {
    while (true) {
      double ana = n - a;
      a0 = (a1 + a0 * ana) * fac;
      b0 = (b1 + b0 * ana) * fac;
      double anf = n * fac;
      a1 = x * a0 + anf * a1;
      b1 = x * b0 + anf * b1;
      fac = 1.0 / a1;
      double estimate = b1 * fac;
      n += 1.0;
      bool settled = !(std::fabs(estimate - g) >= kGammaTolerance);
      g = estimate;
      if (settled) break;
    }
  }
  return std::exp(a * std::log(x) - x - gammaln(a)) * g;
}

double StatisticTool::gammaln(double x) {
  static const double kCoefficients[6] = {76.18009172947146,     -86.50532032941678,
                                          24.01409824083091,     -1.23173957240155,
                                          0.001208650973866179, -5.395239384953e-06};
  double tmp = x + 5.5;
  double ser = 1.000000000190015;
  for (int j = 0; j < 6; ++j) ser += kCoefficients[j] / (x + (j + 1));
  return std::log(2.5066282746310007 * ser / x) - (tmp - (x + 0.5) * std::log(tmp));
}

// ---------------------------------------------------------------------------
// Error function family (W. J. Cody, Math. Comp. 23, 1969, as in CALERF)

namespace {

constexpr double kErfSmall = 0.46875;
constexpr double kXSmall = 1.11e-16;
constexpr double kXBig = 26.543;
constexpr double kXHuge = 6.71e7;
constexpr double kXMax = 2.53e307;
constexpr double kXNeg = -26.628;
constexpr double kXInf = 1.79e308;
constexpr double kInvSqrtPi = 0.56418958354775628695;

// erf(y) / y for 0 <= y <= 0.46875, as a rational function of y^2.
double erfSmallRatio(double ysq) {
  static const double a[5] = {3.16112374387056560e00, 1.13864154151050156e02,
                              3.77485237685302021e02, 3.20937758913846947e03,
                              1.85777706184603153e-1};
  static const double b[4] = {2.36012909523441209e01, 2.44024637934444173e02,
                              1.28261652607737228e03, 2.84423683343917062e03};
  double xnum = a[4] * ysq;
  double xden = ysq;
  for (int i = 0; i < 3; ++i) {
    xnum = (xnum + a[i]) * ysq;
    xden = (xden + b[i]) * ysq;
  }
  return (xnum + a[3]) / (xden + b[3]);
}

// exp(y^2) erfc(y) for 0.46875 < y <= 4.
double erfcxMiddle(double y) {
  static const double c[9] = {5.64188496988670089e-1, 8.88314979438837594e00,
                              6.61191906371416295e01, 2.98635138197400131e02,
                              8.81952221241769090e02, 1.71204761263407058e03,
                              2.05107837782607147e03, 1.23033935479799725e03,
                              2.15311535474403846e-8};
  static const double d[8] = {1.57449261107098347e01, 1.17693950891312499e02,
                              5.37181101862009858e02, 1.62138957456669019e03,
                              3.29079923573345963e03, 4.36261909014324716e03,
                              3.43936767414372164e03, 1.23033935480374942e03};
  double xnum = c[8] * y;
  double xden = y;
  for (int i = 0; i < 7; ++i) {
    xnum = (xnum + c[i]) * y;
    xden = (xden + d[i]) * y;
  }
  return (xnum + c[7]) / (xden + d[7]);
}

// exp(y^2) erfc(y) for y > 4 (below the point where it is 1/(y sqrt(pi))).
double erfcxLarge(double y) {
  static const double p[6] = {3.05326634961232344e-1, 3.60344899949804439e-1,
                              1.25781726111229246e-1, 1.60837851487422766e-2,
                              6.58749161529837803e-4, 1.63153871373020978e-2};
  static const double q[5] = {2.56852019228982242e00, 1.87295284992346725e00,
                              5.27905102951428412e-1, 6.05183413124413191e-2,
                              2.33520497626869185e-3};
  double ysq = 1.0 / (y * y);
  double xnum = p[5] * ysq;
  double xden = ysq;
  for (int i = 0; i < 4; ++i) {
    xnum = (xnum + p[i]) * ysq;
    xden = (xden + q[i]) * ysq;
  }
  double result = ysq * (xnum + p[4]) / (xden + q[4]);
  return (kInvSqrtPi - result) / y;
}

// exp(-y^2), split as exp(-s^2) exp(-(y - s)(y + s)) with s = y rounded down
// to a multiple of 1/16, which keeps the rounding error of y^2 out.
double expMinusSquare(double y) {
  double s = std::trunc(y * 16.0) / 16.0;
  double del = (y - s) * (y + s);
  return std::exp(-s * s) * std::exp(-del);
}

// exp(y^2), split the same way.
double expSquare(double y) {
  double s = std::trunc(y * 16.0) / 16.0;
  double del = (y - s) * (y + s);
  return std::exp(s * s) * std::exp(del);
}

}  // namespace

double StatisticTool::erfcore(double x, double jint) {
  if (std::isnan(x)) return x;
  double y = std::fabs(x);
  if (y <= kErfSmall) {
    double ysq = y > kXSmall ? y * y : 0.0;
    double result = x * erfSmallRatio(ysq);
    if (jint != 0) result = 1.0 - result;
    if (jint == 2) result = std::exp(ysq) * result;
    return result;
  }
  double result = 0.0;  // erfc(y) for y beyond kXBig underflows
  if (y <= 4) {
    result = erfcxMiddle(y);
    if (jint != 2) result *= expMinusSquare(y);
  } else if (y < kXBig || (jint == 2 && y < kXMax)) {
    result = y >= kXHuge ? kInvSqrtPi / y : erfcxLarge(y);
    if (jint != 2) result *= expMinusSquare(y);
  }
  if (jint == 0) {
    result = (0.5 - result) + 0.5;
    if (x < 0) result = -result;
  } else if (jint == 1) {
    if (x < 0) result = 2.0 - result;
  } else if (x < 0) {
    result = x < kXNeg ? kXInf : 2.0 * expSquare(x) - result;
  }
  return result;
}

double StatisticTool::erf(double x) { return erfcore(x, 0); }

double StatisticTool::erfc(double x) { return erfcore(x, 1); }

double StatisticTool::erfinv(double y) {
  bool atEnd = std::fabs(y - 1) < kEps || std::fabs(y + 1) < kEps;
  if (atEnd) std::printf(" Inf Occur!");
  if (std::fabs(y) > 1) std::printf("Y value is useless");
  if (atEnd) return y > 0 ? kInf : -kInf;
  if (!(std::fabs(y) <= 1)) return kNaN;

  static const double a[4] = {0.886226899, -1.645349621, 0.914624893, -0.140543331};
  static const double b[4] = {-2.118377725, 1.442710462, -0.329097515, 0.012229801};
  static const double c[4] = {-1.970840454, -1.624906493, 3.429567803, 1.641345311};
  static const double d[2] = {3.543889200, 1.637067800};
  double ay = std::fabs(y);
  double x;
  if (ay <= 0.7) {
    double z = y * y;
    x = y * (((a[3] * z + a[2]) * z + a[1]) * z + a[0]) /
        ((((b[3] * z + b[2]) * z + b[1]) * z + b[0]) * z + 1.0);
  } else {
    double z = std::sqrt(-std::log((1.0 - ay) / 2.0));
    x = (((c[3] * z + c[2]) * z + c[1]) * z + c[0]) / ((d[1] * z + d[0]) * z + 1.0);
    if (y < 0) x = -x;
  }
  // One Halley step. Near +-1 the residual erf(x) - y is formed through erfc
  // and 1 - |y| (exact there) to avoid cancellation.
  double residual = ay <= 0.5 ? erf(x) - y
                              : (y > 0 ? (1.0 - y) - erfc(x) : erfc(-x) - (1.0 + y));
  double e = residual / (kTwoOverSqrtPi * std::exp(-x * x));
  return x - e / (1.0 + x * e);
}

double StatisticTool::erfcinv(double x) {
  // Only x = 0 is infinite: tail probabilities below 2^-52 still have
  // finite quantiles.
  if (x == 0) {
    std::printf("Inf");
    return kInf;
  }
  if (std::fabs(x - 2) < kEps) {
    std::printf(" -Inf");
    return -kInf;
  }
  if (x < 0 || x > 2) return reportInvalid("NaN");
  if (std::isnan(x)) return kNaN;

  // erfcinv(x) = -z / sqrt(2), z the standard normal quantile of x / 2,
  // started from P. J. Acklam's rational approximations.
  static const double a[6] = {-3.969683028665376e+01, 2.209460984245205e+02,
                              -2.759285104469687e+02, 1.383577518672690e+02,
                              -3.066479806614716e+01, 2.506628277459239e+00};
  static const double b[5] = {-5.447609879822406e+01, 1.615858368580409e+02,
                              -1.556989798598866e+02, 6.680131188771972e+01,
                              -1.328068155288572e+01};
  static const double c[6] = {-7.784894002430293e-03, -3.223964580411365e-01,
                              -2.400758277161838e+00, -2.549732539343734e+00,
                              4.374664141464968e+00,  2.938163982698783e+00};
  static const double d[4] = {7.784695709041462e-03, 3.224671290700398e-01,
                              2.445134137142996e+00, 3.754408661907416e+00};
  double z;
  if (x >= 0.0485 && x <= 1.9515) {
    double q = (x - 1.0) / 2.0;
    double r = q * q;
    z = (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
        (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1.0);
  } else {
    double tail = x < 1 ? x / 2.0 : (2.0 - x) / 2.0;
    double q = std::sqrt(-2.0 * std::log(tail));
    z = (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
        ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1.0);
    if (x >= 1) z = -z;
  }
  double result = -z / kSqrt2;
  // One Halley step; below 1e-300 erfc itself underflows and the step would
  // only add noise to the approximation.
  if (x < 1e-300) return result;
  double e = (erfc(result) - x) / (-kTwoOverSqrtPi * std::exp(-result * result));
  return result - e / (1.0 + result * e);
}

// ---------------------------------------------------------------------------
// Gamma and beta functions

double StatisticTool::gamma(double x) {
  static const double kCoefficients[6] = {76.18009173,   -86.50532033,   24.01409822,
                                          -1.231739516, 0.00120858003, -5.36382e-06};
  double shifted = x - 1.0;
  double tmp = shifted + 5.5;
  tmp -= (shifted + 0.5) * std::log(tmp);
  double ser = 1.0;
  for (int j = 0; j < 6; ++j) {
    shifted += 1.0;
    ser += kCoefficients[j] / shifted;
  }
  return -tmp + std::log(2.50662827465 * ser);
}

double StatisticTool::beta(double a, double b) { return std::exp(betaln(a, b)); }

double StatisticTool::betaln(double a, double b) {
  return gammaln(a) + gammaln(b) - gammaln(a + b);
}

double StatisticTool::beta_cf(double a, double b, double x) {
  const int kMaxSteps = 10000;
  const double kRelativeTolerance = 1e-7;
  double qab = a + b, qap = a + 1.0, qam = a - 1.0;
  double am = 1.0, bm = 1.0, az = 1.0;
  double bz = 1.0 - qab * x / qap;
  for (int m = 1; m <= kMaxSteps; ++m) {
    double em = m, tem = em + em;
    double d = em * (b - em) * x / ((qam + tem) * (a + tem));
    double ap = az + d * am;
    double bp = bz + d * bm;
    d = -(a + em) * (qab + em) * x / ((a + tem) * (qap + tem));
    double app = ap + d * az;
    double bpp = bp + d * bz;
    double previous = az;
    am = ap / bpp;
    bm = bp / bpp;
    az = app / bpp;
    bz = 1.0;
    if (std::fabs(az - previous) < kRelativeTolerance * std::fabs(az)) break;
  }
  return az;
}

double StatisticTool::betainc(double x, double a, double b) {
  bool atEnd = std::fabs(x) < kEps || std::fabs(x - 1) < kEps;
  double front = atEnd ? 0.0
                       : std::exp(gamma(a + b) - gamma(a) - gamma(b) + a * std::log(x) +
                                  b * std::log(1.0 - x));
  if (x < (a + 1.0) / (a + b + 2.0)) return front * beta_cf(a, b, x) / a;
  return 1.0 - front * beta_cf(b, a, 1.0 - x) / b;
}

double StatisticTool::beta(double x, double a, double b) { return betainc(x, a, b); }

double StatisticTool::sumLog(int n) {
  double sum = 0.0;
  for (int k = 2; k <= n; ++k) sum += std::log(static_cast<double>(k));
  return sum;
}
