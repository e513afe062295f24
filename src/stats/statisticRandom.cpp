// Random draws. Every draw is built on rand1, the Wichmann-Hill generator,
// so that a run is reproducible from the three seeds.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/RunEnd.h"
#include "stats/statistic.h"
#include "stats/statisticNumbers.h"

using namespace statnum;

namespace {

// Wichmann and Hill, Applied Statistics AS 183 (1982).
constexpr int64_t kModulus1 = 30269, kModulus2 = 30307, kModulus3 = 30323;
constexpr int64_t kMultiplier1 = 171, kMultiplier2 = 172, kMultiplier3 = 170;

int64_t seedInRange(int64_t seed, int64_t modulus) {
  int64_t reduced = ((seed % modulus) + modulus) % modulus;
  return reduced == 0 ? 1 : reduced;
}

// Below this mean the Poisson is drawn by inversion, above by rejection.
constexpr double kPoissonInversionLimit = 10.0;
// Binomial draws with more trials than this are split by order statistics.
constexpr int kBinomialDirectLimit = 40;

}  // namespace

void StatisticTool::setSeeds(int64_t s1, int64_t s2, int64_t s3) {
  seed1 = seedInRange(s1, kModulus1);
  seed2 = seedInRange(s2, kModulus2);
  seed3 = seedInRange(s3, kModulus3);
}

double StatisticTool::rand1() {
  seed1 = kMultiplier1 * seed1 % kModulus1;
  seed2 = kMultiplier2 * seed2 % kModulus2;
  seed3 = kMultiplier3 * seed3 % kModulus3;
  double sum = static_cast<double>(seed1) / kModulus1 + static_cast<double>(seed2) / kModulus2 +
               static_cast<double>(seed3) / kModulus3;
  return sum - std::floor(sum);
}

// ---------------------------------------------------------------------------
// Normal family

// Standard normal by the polar method (the second variate is discarded).
double StatisticTool::normalFromUniformPair() {
  double t, w, s;
  do {
    t = 2.0 * rand1() - 1.0;
    w = 2.0 * rand1() - 1.0;
    s = t * t + w * w;
  } while (s >= 1 || std::fabs(s) < kEps);
  return t * std::sqrt(-2.0 * std::log(s) / s);
}

double StatisticTool::nrandom(double mu, double sigma) {
  return mu + sigma * normalFromUniformPair();
}

double StatisticTool::normrnd(double mu, double sigma) { return nrandom(mu, sigma); }

double StatisticTool::lognrnd(double mu, double sigma) {
  if (sigma < 0) return kNaN;
  return std::exp(mu + sigma * nrandom(0.0, 1.0));
}

double StatisticTool::chisq(int k) {
  if (k <= 0) {
    ombra::stopRun("The freedom of chi-square must be positive integer!\n");
  }
  double sum = 0.0;
  for (int i = 0; i < k; ++i) {
    double z = nrandom(0.0, 1.0);
    sum += z * z;
  }
  return sum;
}

// ---------------------------------------------------------------------------
// Gamma family

double StatisticTool::llgamma(double rate, int k) {
  if (k <= 0) {
    std::printf("shape parameter must be greater than 1\n");
    return 0.0;
  }
  if (k <= 5) {
    double product = 1.0;
    for (int i = 0; i < k; ++i) product *= rand1();
    return -std::log(product) / rate;
  }
  // Rejection from a Cauchy envelope centred on the mode k - 1.
  double mode = k - 1.0;
  double width = std::sqrt(2.0 * mode + 1.0);
  while (true) {
    double v1, v2, x, y;
    do {
      do {
        v1 = 2.0 * rand1() - 1.0;
        v2 = 2.0 * rand1() - 1.0;
      } while (v1 * v1 + v2 * v2 > 1.0 || v1 == 0);
      y = v2 / v1;
      x = width * y + mode;
    } while (x <= 0);
    double acceptance = (1.0 + y * y) * std::exp(mode * std::log(x / mode) - width * y);
    if (rand1() <= acceptance) return x / rate;
  }
}

// Marsaglia and Tsang (2000); shapes below 1 are boosted by u^(1/a).
double StatisticTool::gamrnd(double a, double b) {
  if (!(a > 0) || !(b > 0)) return kNaN;
  if (a < 1) return gamrnd(a + 1.0, b) * std::exp(std::log(rand1()) / a);
  double d = a - 1.0 / 3.0;
  double c = 1.0 / std::sqrt(9.0 * d);
  while (true) {
    double z, v;
    do {
      z = normalFromUniformPair();
      v = 1.0 + c * z;
    } while (v <= 0);
    v = v * v * v;
    double u = rand1();
    double z2 = z * z;
    if (u < 1.0 - 0.0331 * z2 * z2) return d * v * b;
    if (std::log(u) < 0.5 * z2 + d * (1.0 - v + std::log(v))) return d * v * b;
  }
}

double StatisticTool::betarnd(double a, double b) {
  if (!(a > 0) || !(b > 0)) return kNaN;
  double x = gamrnd(a, 1.0);
  double y = gamrnd(b, 1.0);
  return x / (x + y);
}

double StatisticTool::frnd(double v1, double v2) {
  if (!(v1 > 0) || !(v2 > 0)) return kNaN;
  return (gamrnd(v1 / 2.0, 2.0) / v1) / (gamrnd(v2 / 2.0, 2.0) / v2);
}

double StatisticTool::trnd(double v) {
  if (!(v > 0)) return kNaN;
  return normalFromUniformPair() / std::sqrt(gamrnd(v / 2.0, 2.0) / v);
}

double StatisticTool::ncx2rnd(double v, double delta) {
  if (!(v > 0) || !(delta >= 0)) return kNaN;
  // A Poisson mixture of central chi-squares with v + 2N degrees of freedom.
  double extra = poissrnd(delta / 2.0);
  return gamrnd(v / 2.0 + extra, 2.0);
}

double StatisticTool::ncfrnd(double v1, double v2, double delta) {
  if (!(v1 > 0) || !(v2 > 0) || !(delta >= 0)) return kNaN;
  return (ncx2rnd(v1, delta) / v1) / (gamrnd(v2 / 2.0, 2.0) / v2);
}

double StatisticTool::nctrnd(double v, double delta) {
  if (!(v > 0) || std::isnan(delta)) return kNaN;
  return (normalFromUniformPair() + delta) / std::sqrt(gamrnd(v / 2.0, 2.0) / v);
}

void StatisticTool::Dirichlet(double* out, const int* alpha, int k) {
  double total = 0.0;
  for (int j = 0; j < k; ++j) {
    out[j] = chisq(2 * alpha[j]);
    total += out[j];
  }
  for (int j = 0; j < k; ++j) out[j] /= total;
}

// ---------------------------------------------------------------------------
// Draws by inversion of a closed-form quantile

double StatisticTool::exprnd(double mu) {
  if (!(mu > 0)) return kNaN;
  return -mu * std::log(rand1());
}

double StatisticTool::raylrnd(double b) {
  if (!(b > 0)) return kNaN;
  return b * std::sqrt(-2.0 * std::log(rand1()));
}

double StatisticTool::weibrnd(double a, double b) {
  if (!(a > 0) || !(b > 0)) return kNaN;
  return realPower(-std::log(rand1()) / a, 1.0 / b);
}

double StatisticTool::unifrnd(double a, double b) {
  if (!(a < b)) return kNaN;
  return a + (b - a) * rand1();
}

double StatisticTool::unidrnd(int n) {
  if (n < 1) return kNaN;
  return std::fmax(1.0, std::ceil(n * rand1()));
}

double StatisticTool::geornd(double p) {
  if (p <= 0 || p > 1 || std::isnan(p)) return kNaN;
  double u = rand1();
  return std::fmax(0.0, std::ceil(std::fabs(std::log(u) / std::log(1.0 - p)) - 1.0));
}

double StatisticTool::hygernd(int M, int K, int N) {
  if (M < N || M < K) return kNaN;
  return hygeinv(rand1(), M, K, N);
}

// ---------------------------------------------------------------------------
// Counts

double StatisticTool::poissonByInversion(double lambda) {
  double u = rand1();
  double term = std::exp(-lambda);
  double cumulative = term;
  double k = 0.0;
  while (u > cumulative && term > 0) {
    k += 1.0;
    term *= lambda / k;
    cumulative += term;
  }
  return k;
}

// W. Hoermann's transformed rejection with squeeze (PTRS, 1993).
double StatisticTool::poissonByRejection(double lambda) {
  double sqrtLambda = std::sqrt(lambda);
  double logLambda = std::log(lambda);
  double b = 0.931 + 2.53 * sqrtLambda;
  double a = -0.059 + 0.02483 * b;
  double invAlpha = 1.1239 + 1.1328 / (b - 3.4);
  double vr = 0.9277 - 3.6224 / (b - 2.0);
  while (true) {
    double u = rand1() - 0.5;
    double v = rand1();
    double us = 0.5 - std::fabs(u);
    double k = std::floor((2.0 * a / us + b) * u + lambda + 0.43);
    if (us >= 0.07 && v <= vr) return k;
    if (k < 0 || (us < 0.013 && v > us)) continue;
    if (std::log(v) + std::log(invAlpha) - std::log(a / (us * us) + b) <=
        -lambda + k * logLambda - gammaln(k + 1.0))
      return k;
  }
}

double StatisticTool::poissrnd(double lambda) {
  if (!(lambda >= 0) || std::isinf(lambda)) return kNaN;
  if (lambda == 0) return 0.0;
  if (lambda < kPoissonInversionLimit) return poissonByInversion(lambda);
  return poissonByRejection(lambda);
}

// For many trials, the i-th smallest of n uniforms (a beta draw) splits the
// trials into those known to succeed or fail and a smaller binomial on the
// rest (Knuth, TAOCP 3.4.1).
double StatisticTool::binornd(int n, double p) {
  if (n < 0 || !(p >= 0 && p <= 1)) return kNaN;
  double successes = 0.0;
  while (n > kBinomialDirectLimit) {
    int i = 1 + n / 2;
    double x = betarnd(i, n + 1.0 - i);
    if (x <= p) {
      successes += i;
      p = (p - x) / (1.0 - x);
      n -= i;
    } else {
      p = p / x;
      n = i - 1;
    }
  }
  for (int j = 0; j < n; ++j)
    if (rand1() < p) successes += 1.0;
  return successes;
}

// Failures before the r-th success: a Poisson with a gamma-distributed mean.
double StatisticTool::nbinrnd(int r, double p) {
  if (r <= 0 || !(p > 0) || p > 1) return kNaN;
  if (p == 1) return 0.0;
  return poissrnd(gamrnd(r, (1.0 - p) / p));
}

void StatisticTool::multinomial(int n, const double* prob, int* counts, int k) {
  for (int j = 0; j < k; ++j) counts[j] = 0;
  if (k <= 0) return;
  // Draws beyond the rounded total of prob fall into the last bin that has
  // any probability, so the counts always add up to n.
  int lastPossible = k - 1;
  while (lastPossible > 0 && !(prob[lastPossible] > 0)) --lastPossible;
  for (int i = 0; i < n; ++i) {
    double u = rand1();
    double cumulative = 0.0;
    int bin = lastPossible;
    for (int j = 0; j < k; ++j) {
      cumulative += prob[j];
      if (u < cumulative) {
        bin = j;
        break;
      }
    }
    ++counts[bin];
  }
}
