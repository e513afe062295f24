// Mass functions, distribution functions and quantiles of the discrete
// distributions. The checked public functions print their messages; sums
// and quantile searches go through the unchecked mass functions, so that a
// count outside the support adds 0 instead of a message and a NaN.
#include <algorithm>
#include <cmath>

#include "stats/statistic.h"
#include "stats/statisticNumbers.h"

using namespace statnum;

namespace {

bool outsideUnit(double p) { return !(p >= 0 && p <= 1); }

// Sum of mass(0) .. mass(last), clamped at 1. Past the mode, once the terms
// no longer change the sum, the remaining ones cannot either.
template <class Mass>
double cumulativeMass(long long last, double mode, Mass mass) {
  double sum = 0.0;
  for (long long k = 0; k <= last; ++k) {
    double term = mass(k);
    if (k > mode && sum + term == sum) break;
    sum += term;
  }
  return std::min(sum, 1.0);
}

// Smallest k in [0, last] whose cumulative mass reaches target. Rounding
// can keep the sum just below a target close to 1; the search then stops
// where the terms past the mode stop adding anything.
template <class Mass>
double smallestReaching(double target, long long last, double mode, Mass mass) {
  double sum = 0.0;
  for (long long k = 0;; ++k) {
    double term = mass(k);
    bool exhausted = k > mode && sum + term == sum;
    sum += term;
    if (sum >= target || k >= last || exhausted) return static_cast<double>(k);
  }
}

constexpr long long kUnbounded = 9223372036854775807LL;

}  // namespace

// ---------------------------------------------------------------------------
// Poisson

double StatisticTool::poissonMass(long long x, double lambda) {
  if (lambda == 0) return x == 0 ? 1.0 : 0.0;
  return std::exp(x * std::log(lambda) - lambda - gammaln(x + 1.0));
}

double StatisticTool::poisspdf(int x, double lambda) {
  if (lambda < 0) return reportInvalid("the parameter lambda is not correct!");
  if (x < 0 || (lambda == 0 && x != 0))
    return reportInvalid("the parameter lambda or x is not correct!");
  return poissonMass(x, lambda);
}

double StatisticTool::poisscdf(int x, double lambda) {
  if (lambda < 0) return reportInvalid("parameter lambda is not correct!");
  if (x < 0) return reportInvalid("parameter is not correct!");
  if (std::isnan(lambda)) return kNaN;
  return cumulativeMass(x, lambda, [&](long long k) { return poissonMass(k, lambda); });
}

double StatisticTool::poissinv(double p, double lambda) {
  if (!(lambda > 0) || outsideUnit(p)) return kNaN;
  if (std::fabs(p - 1) < kEps) return kInf;
  return smallestReaching(p, kUnbounded, lambda,
                          [&](long long k) { return poissonMass(k, lambda); });
}

// ---------------------------------------------------------------------------
// Binomial

double StatisticTool::binomialMass(long long x, long long n, double p) {
  double logChoose = gammaln(n + 1.0) - gammaln(x + 1.0) - gammaln(n - x + 1.0);
  return std::exp(logChoose + xlogy(static_cast<double>(x), p) +
                  xlogy(static_cast<double>(n - x), 1.0 - p));
}

double StatisticTool::binopdf(int x, int n, double p) {
  if (p < 0 || p > 1) return reportInvalid("probability should in the range of (0,1)");
  if (n < 0 || x < 0 || x > n) return reportInvalid("the parameter of x or n is not correct!");
  return binomialMass(x, n, p);
}

double StatisticTool::binocdf(int x, int n, double p) {
  if (n < 0 || outsideUnit(p))
    return reportInvalid("parameter of n should be great than 0, or the p should be in (0, 1)");
  if (x < 0 || x > n) return reportInvalid("parameter of x should be in (0, n)");
  return cumulativeMass(x, n * p, [&](long long k) { return binomialMass(k, n, p); });
}

double StatisticTool::binoinv(double y, int n, double p) {
  if (n < 0 || outsideUnit(p) || outsideUnit(y)) return kNaN;
  if (std::fabs(y) < kEps) return 0.0;
  if (std::fabs(y - 1) < kEps) return n;
  return smallestReaching(y, n, n * p, [&](long long k) { return binomialMass(k, n, p); });
}

// ---------------------------------------------------------------------------
// Negative binomial

double StatisticTool::negBinomialMass(long long x, long long r, double p) {
  double logChoose = gammaln(static_cast<double>(r + x)) - gammaln(x + 1.0) -
                     gammaln(static_cast<double>(r));
  return std::exp(logChoose) * intPower(p, r) * intPower(1.0 - p, x);
}

double StatisticTool::nbinpdf(int x, int r, double p) {
  if (r <= 0 || p <= 0 || p > 1 || x < 0) return reportInvalid("the parameter is not correct!");
  return negBinomialMass(x, r, p);
}

double StatisticTool::nbincdf(int x, int r, double p) {
  if (r <= 0 || !(p > 0) || p > 1 || x < 0) return reportInvalid("parameter is not correct!");
  double mode = (r - 1) * (1.0 - p) / p;
  return cumulativeMass(x, mode, [&](long long k) { return negBinomialMass(k, r, p); });
}

double StatisticTool::nbininv(double y, int r, double p) {
  if (r <= 0 || !(p > 0) || p > 1 || outsideUnit(y)) return kNaN;
  if (std::fabs(y - 1) < kEps) return kInf;
  double mode = (r - 1) * (1.0 - p) / p;
  return smallestReaching(y, kUnbounded, mode,
                          [&](long long k) { return negBinomialMass(k, r, p); });
}

// ---------------------------------------------------------------------------
// Geometric

double StatisticTool::geopdf(int x, double p) {
  if (p <= 0 || p > 1) return reportInvalid("the parameter of p is not correct!");
  if (x < 0) return 0.0;
  return p * intPower(1.0 - p, x);
}

double StatisticTool::geocdf(int x, double p) {
  if (p <= 0 || p > 1) return reportInvalid("parameter p is not correct!");
  if (x < 0) return 0.0;
  return 1.0 - intPower(1.0 - p, x + 1LL);
}

// Smallest count x with 1 - (1 - p)^(x + 1) >= y, from the closed form and
// then nudged across any rounding at the boundary.
double StatisticTool::geoinv(double y, double p) {
  if (!(p > 0) || p > 1 || outsideUnit(y)) return kNaN;
  if (p == 1 || y == 0) return 0.0;
  if (y == 1) return kInf;
  double logFailure = std::log1p(-p);
  double x = std::fmax(0.0, std::ceil(std::log1p(-y) / logFailure - 1.0));
  auto cdf = [&](double k) { return 1.0 - std::exp((k + 1.0) * logFailure); };
  // Rounding moves the closed form by at most one either way.
  if (x > 0 && cdf(x - 1) >= y) x -= 1.0;
  if (cdf(x) < y) x += 1.0;
  return x;
}

// ---------------------------------------------------------------------------
// Hypergeometric

namespace {

bool badHyperParameters(int M, int K, int N) { return M < 0 || K < 0 || N < 0 || M < N || M < K; }

}  // namespace

// Zero outside the support max(0, N - (M - K)) .. min(K, N).
double StatisticTool::hyperMass(long long x, long long M, long long K, long long N) {
  if (x < 0 || x > K || x > N || M - K - N + x < 0) return 0.0;
  auto logChoose = [&](long long n, long long k) {
    return gammaln(n + 1.0) - gammaln(k + 1.0) - gammaln(n - k + 1.0);
  };
  return std::exp(logChoose(K, x) + logChoose(M - K, N - x) - logChoose(M, N));
}

double StatisticTool::hygepdf(int x, int M, int K, int N) {
  if (badHyperParameters(M, K, N) || x < 0 || x > K || x > N ||
      static_cast<long long>(M) - K - N + x < 0)
    return reportInvalid("the parameter of p is not correct!");
  return hyperMass(x, M, K, N);
}

double StatisticTool::hygecdf(int x, int M, int K, int N) {
  if (badHyperParameters(M, K, N) || x < 0 || x > std::min(K, N))
    return reportInvalid("parameter is not correct!");
  double mode = static_cast<double>(N) * K / std::max(M, 1);
  return cumulativeMass(x, mode, [&](long long k) { return hyperMass(k, M, K, N); });
}

double StatisticTool::hygeinv(double p, int M, int K, int N) {
  if (badHyperParameters(M, K, N) || outsideUnit(p)) return kNaN;
  if (p <= hyperMass(0, M, K, N)) return 0.0;
  double mode = static_cast<double>(N) * K / std::max(M, 1);
  return smallestReaching(p, std::min(K, N), mode,
                          [&](long long k) { return hyperMass(k, M, K, N); });
}

// ---------------------------------------------------------------------------
// Discrete uniform on 1 .. n

double StatisticTool::unidpdf(int x, int n) {
  if (n <= 0) return reportInvalid("the parameters n is not correct!");
  if (x < 1 || x > n) return kNaN;
  return 1.0 / n;
}

double StatisticTool::unidcdf(int x, int n) {
  if (n < 1 || x < 1) return reportInvalid("parameter n or x is not correct!");
  if (x >= n) return 1.0;
  return static_cast<double>(x) / n;
}

double StatisticTool::unidinv(double p, int n) {
  if (!(p > 0) || p > 1 || n < 1) return kNaN;
  return std::ceil(n * p);
}
