// Densities, distribution functions and quantiles of the continuous
// distributions (the gamma and chi-square distribution functions live with
// the chi-square chain).
#include <cmath>
#include <cstdio>

#include "stats/statistic.h"
#include "stats/statisticNumbers.h"

using namespace statnum;

namespace {

constexpr double kGammaInvTolerance = 1.8189894035458565e-12;  // eps^(3/4)

bool outsideUnit(double p) { return !(p >= 0 && p <= 1); }

}  // namespace

// ---------------------------------------------------------------------------
// Normal and log-normal

double StatisticTool::normpdf(double x, double mu, double sigma) {
  if (sigma <= 0) return reportInvalid("the parameter of sigma is not correct!");
  double z = (x - mu) / sigma;
  return std::exp(-z * z / 2.0) / (sigma * kSqrt2Pi);
}

double StatisticTool::normcdf(double x, double mu, double sigma) {
  if (sigma <= 0) return reportInvalid("parameter sigma is not correct!");
  return 0.5 * erfc(-(x - mu) / (sigma * kSqrt2));
}

double StatisticTool::norminv(double p, double mu, double sigma) {
  if (sigma <= 0) {
    std::printf("standard deviation sigma do not less or equal then zero");
    return 0.0;
  }
  return mu - kSqrt2 * sigma * erfcinv(2.0 * p);
}

double StatisticTool::lognpdf(double x, double mu, double sigma) {
  if (sigma <= 0) return reportInvalid("the parameter of sigma is not correct!");
  if (x <= 0) return reportInvalid("the parameter of x less than 0, it is not correct!");
  double z = (std::log(x) - mu) / sigma;
  return std::exp(-z * z / 2.0) / (x * kSqrt2Pi * sigma);
}

double StatisticTool::logncdf(double x, double mu, double sigma) {
  if (sigma <= 0) return reportInvalid("parameter sigma is not correct!");
  double positive = x < 0 ? 0.0 : x;
  return 0.5 * erfc(-(std::log(positive) - mu) / (sigma * kSqrt2));
}

double StatisticTool::logninv(double p, double mu, double sigma) {
  if (!(sigma > 0) || outsideUnit(p)) return kNaN;
  return std::exp(mu - kSqrt2 * sigma * erfcinv(2.0 * p));
}

// ---------------------------------------------------------------------------
// Gamma and chi-square

// Density of the gamma distribution with scale 1, without argument checks.
double StatisticTool::gammaDensity(double x, double a) {
  return std::exp((a - 1.0) * std::log(x) - x - gammaln(a));
}

double StatisticTool::gampdf(double x, double a, double b) {
  if (a <= 0) return reportInvalid("parameter a less than 0, is not correct!");
  if (b <= 0) return reportInvalid("parameter b less than 0, is not correct!");
  if (x <= 0) return reportInvalid("parameter x less than 0, is not correct!");
  return std::exp((a - 1.0) * std::log(x / b) - x / b - gammaln(a)) / b;
}

double StatisticTool::gaminv(double p, double a, double b) {
  if (outsideUnit(p) || !(a > 0) || !(b > 0))
    return reportInvalid("parameter p, v1 or v2 is not correct!");
  if (p == 0) return 0.0;
  if (p == 1) return kInf;
  // Start from the log-normal with the same mean and variance (both a) as
  // the gamma with scale 1.
  double logA = std::log(a);
  double sigmaSquared = std::log(1.0 + a) - logA;
  double mu = logA - 0.5 * sigmaSquared;
  double x = std::exp(mu - std::sqrt(2.0 * sigmaSquared) * erfcinv(2.0 * p));
  for (int step = 0; step < 500; ++step) {
    double density = std::fmax(gammaDensity(x, a), kSmallestNormal);
    double h = (gammainc(x, a) - p) / density;
    double next = x - h;
    x = next > 0 ? next : x / 10.0;
    if (std::fabs(h) <= x * kGammaInvTolerance) return x * b;
  }
  std::printf("stats:gaminv:NoConvergence, GAMINV did not converge for a = %f, b = %f, p = %f.",
              a, b, p);
  return kNaN;
}

double StatisticTool::chi2pdf(double x, int v) { return gampdf(x, v / 2.0, 2.0); }

double StatisticTool::chi2inv(double p, int v) {
  if (v <= 0) return reportInvalid("parameter is not correct!");
  return gaminv(p, v / 2.0, 2.0);
}

// ---------------------------------------------------------------------------
// Beta

double StatisticTool::betapdf(double x, double a, double b) {
  if (a <= 0 || b <= 0) return reportInvalid("parameter a or b is not correct!");
  if (x < 0 || x > 1) return reportInvalid("parameter x is not correct!");
  return std::exp(xlogy(a - 1.0, x) + xlogy(b - 1.0, 1.0 - x) - betaln(a, b));
}

double StatisticTool::betacdf(double x, double a, double b) {
  if (a <= 0 || b <= 0)
    return reportInvalid(
        "parameter of Beta cumulative distribution function do not permit less than zero");
  if (x <= 0) return 0.0;
  if (x >= 1) return 1.0;
  return std::fmin(betainc(x, a, b), 1.0);
}

// Safeguarded Newton steps on betacdf, started at the mean.
double StatisticTool::betainv(double p, double a, double b) {
  if (p < 0 || p > 1 || a <= 0 || b <= 0) return reportInvalid("parameter is not correct!");
  if (std::isnan(p) || std::isnan(a) || std::isnan(b)) return kNaN;
  if (std::fabs(p) < kEps) return 0.0;
  if (std::fabs(p - 1) < kEps) return 1.0;
  double x = a / (a + b);
  if (std::fabs(x) < kEps) x = kSqrtEps;
  if (std::fabs(x - 1) < kEps) x = 1.0 - kSqrtEps;
  double h = 1.0;
  int steps = 0;
  // Stops once a step is below 2^-26 in absolute terms (or relative to x):
  // the answer is accurate to about 1e-8 absolutely, not relatively, for
  // quantiles very close to 0 or 1.
  while (std::fabs(h) > kSqrtEps * std::fabs(x) && std::fabs(h) > kSqrtEps && steps < 100) {
    ++steps;
    h = (betacdf(x, a, b) - p) / betapdf(x, a, b);
    double next = x - h;
    if (next <= 0) next = x / 10.0;
    if (next >= 1) next = 1.0 - (1.0 - x) / 10.0;
    x = next;
  }
  if (steps < 100) return x;
  std::printf("\nWarning: BETAINV did not converge.\n");
  std::printf("The last step was: '%13.8f\n ", h);
  return kNaN;
}

// ---------------------------------------------------------------------------
// F and Student's t

double StatisticTool::fpdf(double x, int v1, int v2) {
  if (v1 < 1 || v2 < 1) return reportInvalid("parameter v1 or v2 less than zero, it is not correct!");
  if (x <= 0) return reportInvalid("parameter x less than zero, it is not correct!");
  double n1 = v1, n2 = v2;
  double logDensity = (n1 / 2.0) * std::log(n1 / n2) + ((n1 - 2.0) / 2.0) * std::log(x) -
                      ((n1 + n2) / 2.0) * std::log(1.0 + x * n1 / n2) -
                      betaln(n1 / 2.0, n2 / 2.0);
  return std::exp(logDensity);
}

double StatisticTool::fcdf(double x, int v1, int v2) {
  if (v1 <= 0 || v2 <= 0 || x <= 0) return reportInvalid("parameter v1 or v2 is not correct!");
  double n1 = v1, n2 = v2;
  return betainc(x / (n2 / n1 + x), n1 / 2.0, n2 / 2.0);
}

double StatisticTool::finv(double p, double v1, double v2) {
  if (v1 <= 0 || v2 <= 0) return reportInvalid("parameter v1 or v2 is not correct!");
  if (std::fabs(p - 1) < kEps) return reportInvalid("parameter p, v1 or v2 is not correct!");
  if (p > 0 && p < 1) return (v2 / betainv(1.0 - p, v2 / 2.0, v1 / 2.0) - v2) / v1;
  return p == 0 ? 0.0 : kNaN;
}

double StatisticTool::tpdf(double x, int v) {
  if (v < 1) return reportInvalid("the parameters v is not correct!");
  double n = v;
  double logRatio = gammaln((n + 1.0) / 2.0) - gammaln(n / 2.0);
  double kernel = std::exp(((n + 1.0) / 2.0) * std::log(1.0 + x * x / n));
  return std::exp(logRatio) / (std::sqrt(n * kPi) * kernel);
}

double StatisticTool::tcdf(double x, double v) {
  if (!(v > 0)) return kNaN;
  if (std::fabs(x) < kEps) return 0.5;
  if (v == 1) return std::atan(x) / kPi + 0.5;
  if (v > 1e7) return normcdf(x, 0.0, 1.0);
  double q = betainc(v / (x * x + v), v / 2.0, 0.5);
  return x > 0 ? 1.0 - q / 2.0 : q / 2.0;
}

double StatisticTool::tinv(double p, double v) {
  if (v <= 0) {
    std::printf("the parameter is wrong!");
    return 0.0;
  }
  if (outsideUnit(p)) return kNaN;
  if (std::fabs(p) < kEps) return -kInf;
  if (std::fabs(p - 1) < kEps) return kInf;
  if (v < 1000) {
    if (p >= 0.5) return std::sqrt(v / betainv(2.0 * (1.0 - p), v / 2.0, 0.5) - v);
    return -std::sqrt(v / betainv(2.0 * p, v / 2.0, 0.5) - v);
  }
  // Cornish-Fisher expansion around the normal quantile.
  double z = norminv(p, 0.0, 1.0);
  double z2 = z * z, z3 = z2 * z, z5 = z3 * z2, z7 = z5 * z2, z9 = z7 * z2;
  double g1 = (z3 + z) / 4.0;
  double g2 = (5 * z5 + 16 * z3 + 3 * z) / 96.0;
  double g3 = (3 * z7 + 19 * z5 + 17 * z3 - 15 * z) / 384.0;
  double g4 = (79 * z9 + 776 * z7 + 1482 * z5 - 1920 * z3 - 945 * z) / 92160.0;
  return z + g1 / v + g2 / (v * v) + g3 / (v * v * v) + g4 / (v * v * v * v);
}

// ---------------------------------------------------------------------------
// Exponential and uniform

double StatisticTool::exppdf(double x, double mu) {
  if (mu <= 0) return reportInvalid("parameter mu less than 0, is not correct!");
  if (x / mu < 0) return 0.0;
  return std::exp(-x / mu) / mu;
}

double StatisticTool::expcdf(double x, double mu) {
  if (mu <= 0) return reportInvalid("parameter mu is not correct!");
  if (x / mu < 0) return 0.0;
  return 1.0 - std::exp(-x / mu);
}

double StatisticTool::expinv(double p, double mu) {
  if (p < 0 || p >= 1 || mu <= 0) return reportInvalid("parameter is not correct!");
  return -mu * std::log(1.0 - p);
}

double StatisticTool::unifpdf(double x, double a, double b) {
  if (a >= b) return reportInvalid("the parameters a or b is not correct!");
  if (x < a || x > b) return reportInvalid("the parameters x, a or b is not correct!");
  return 1.0 / (b - a);
}

double StatisticTool::unifcdf(double x, double a, double b) {
  if (a >= b) return reportInvalid("parameter a or b is not correct!");
  if (x <= a) return reportInvalid("parameter x, a or b is not correct!");
  if (x >= b) return 1.0;
  return (x - a) / (b - a);
}

double StatisticTool::unifinv(double p, double a, double b) {
  if (!(a < b) || outsideUnit(p)) return kNaN;
  return a + p * (b - a);
}

// ---------------------------------------------------------------------------
// Rayleigh and Weibull

double StatisticTool::raylpdf(double x, double b) {
  if (b <= 0) return reportInvalid("the parameter b is not correct!");
  if (x < 0) return reportInvalid("the parameters is not correct!");
  double b2 = b * b;
  return x / b2 * std::exp(-x * x / (2.0 * b2));
}

double StatisticTool::raylcdf(double x, double b) {
  if (b <= 0 || x < 0) return reportInvalid("parameter b is not correct!");
  return 1.0 - std::exp(-x * x / (2.0 * b * b));
}

double StatisticTool::raylinv(double p, double b) {
  if (!(b > 0) || outsideUnit(p)) return kNaN;
  if (std::fabs(p - 1) < kEps) return kInf;
  if (p == 0) return 0.0;
  return std::sqrt(-2.0 * b * b * std::log(1.0 - p));
}

double StatisticTool::weibpdf(double x, int A, int B) {
  if (A < 1 || B < 1) return reportInvalid("the parameters A or B is not correct!");
  if (x < 0) return reportInvalid("the parameters x is not correct!");
  double scaled = x / A;
  double powerBMinus1 = intPower(scaled, B - 1);
  double tail = std::exp(-powerBMinus1 * scaled);
  if (tail < kEps) return 0.0;
  return (static_cast<double>(B) / A) * powerBMinus1 * tail;
}

double StatisticTool::weibcdf(double x, double a, double b) {
  if (a <= 0 || b <= 0) return reportInvalid("parameter x, a or b is not correct!");
  double positive = x < 0 ? 0.0 : x;
  return 1.0 - std::exp(-a * realPower(positive, b));
}

double StatisticTool::weibinv(double p, double a, double b) {
  if (!(a > 0) || !(b > 0) || outsideUnit(p)) return kNaN;
  if (p == 0) return 0.0;
  if (p == 1) return kInf;
  return realPower(-std::log(1.0 - p) / a, 1.0 / b);
}
