// Random draws, checked statistically with fixed seeds: sample mean and
// variance within a few standard errors, and a Kolmogorov-Smirnov check
// against the library's own distribution function for continuous draws.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "stats/statistic.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kDraws = 20000;
#else
constexpr int kDraws = 100000;
#endif

// Five standard errors: with fixed seeds a pass is deterministic, and a
// real fault in a distribution is much larger than that.
constexpr double kStandardErrors = 5.0;
// sqrt(n) D above 1.95 has probability 0.001 under the null.
constexpr double kKolmogorovLimit = 1.95;

std::vector<double> draw(StatisticTool& tool, const std::function<double(StatisticTool&)>& once,
                         int n = kDraws) {
  tool.setSeeds(11, 222, 3333);
  std::vector<double> values(n);
  for (double& v : values) v = once(tool);
  return values;
}

void expectMoments(const std::vector<double>& values, double mean, double variance) {
  double n = values.size();
  double sampleMean = std::accumulate(values.begin(), values.end(), 0.0) / n;
  double m2 = 0, m4 = 0;
  for (double v : values) {
    double d = v - sampleMean;
    m2 += d * d;
    m4 += d * d * d * d;
  }
  m2 /= n;
  m4 /= n;
  EXPECT_NEAR(sampleMean, mean, kStandardErrors * std::sqrt(variance / n)) << "mean";
  EXPECT_NEAR(m2, variance, kStandardErrors * std::sqrt((m4 - m2 * m2) / n)) << "variance";
}

void expectFits(std::vector<double> values, const std::function<double(double)>& cdf) {
  std::sort(values.begin(), values.end());
  double n = values.size();
  double largest = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    double f = cdf(values[i]);
    largest = std::max({largest, std::fabs((i + 1) / n - f), std::fabs(f - i / n)});
  }
  EXPECT_LT(std::sqrt(n) * largest, kKolmogorovLimit);
}

TEST(StatisticRandom, UniformGeneratorIsSeededAndReproducible) {
  StatisticTool first, second;
  EXPECT_EQ(first.rand1(), second.rand1());  // fixed default seeds
  first.setSeeds(5, 6, 7);
  second.setSeeds(5, 6, 7);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(first.rand1(), second.rand1());
  second.setSeeds(5, 6, 8);
  EXPECT_NE(first.rand1(), second.rand1());
  // Seeds that reduce to zero would freeze a component; they are moved off it.
  StatisticTool zero;
  zero.setSeeds(0, 30307, -30323);
  double u = zero.rand1(), v = zero.rand1();
  EXPECT_NE(u, v);
  StatisticTool tool;
  std::vector<double> values = draw(tool, [](StatisticTool& t) { return t.rand1(); });
  for (double x : values) ASSERT_TRUE(x > 0 && x < 1);
  expectMoments(values, 0.5, 1.0 / 12.0);
  expectFits(values, [](double x) { return x; });
}

TEST(StatisticRandom, NormalAndLogNormal) {
  StatisticTool tool;
  auto values = draw(tool, [](StatisticTool& t) { return t.nrandom(2.0, 3.0); });
  expectMoments(values, 2.0, 9.0);
  expectFits(values, [&](double x) { return tool.normcdf(x, 2.0, 3.0); });
  values = draw(tool, [](StatisticTool& t) { return t.normrnd(-1.0, 0.5); });
  expectFits(values, [&](double x) { return tool.normcdf(x, -1.0, 0.5); });
  values = draw(tool, [](StatisticTool& t) { return t.lognrnd(0.2, 0.5); });
  double s2 = 0.25;
  expectMoments(values, std::exp(0.2 + s2 / 2), (std::exp(s2) - 1) * std::exp(0.4 + s2));
  expectFits(values, [&](double x) { return tool.logncdf(x, 0.2, 0.5); });
  EXPECT_TRUE(std::isnan(tool.lognrnd(0.0, -1.0)));
}

TEST(StatisticRandom, ChiSquareAndIntegerGamma) {
  StatisticTool tool;
  auto values = draw(tool, [](StatisticTool& t) { return t.chisq(3); });
  expectMoments(values, 3.0, 6.0);
  expectFits(values, [&](double x) { return tool.chi2cdf(x, 3); });
  for (int k : {3, 9}) {  // both sides of the switch to rejection
    values = draw(tool, [k](StatisticTool& t) { return t.llgamma(2.0, k); });
    expectMoments(values, k / 2.0, k / 4.0);
    expectFits(values, [&](double x) { return tool.gamcdf(x, k, 0.5); });
  }
  testing::internal::CaptureStdout();
  double none = tool.llgamma(1.0, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "shape parameter must be greater than 1\n");
  EXPECT_EQ(none, 0.0);
}

TEST(StatisticRandom, ChiSquareWithoutFreedomStopsTheRun) {
  StatisticTool tool;
  const testing_support::StopShown stop = testing_support::stopOf([&] { tool.chisq(0); });
  EXPECT_EQ(stop.status, 1);
  EXPECT_EQ(stop.out, "The freedom of chi-square must be positive integer!\n");
}

TEST(StatisticRandom, GammaBetaF) {
  StatisticTool tool;
  for (double a : {0.4, 3.5}) {  // both sides of the shape-1 boost
    auto values = draw(tool, [a](StatisticTool& t) { return t.gamrnd(a, 2.0); });
    expectMoments(values, 2.0 * a, 4.0 * a);
    expectFits(values, [&](double x) { return tool.gamcdf(x, a, 2.0); });
  }
  auto values = draw(tool, [](StatisticTool& t) { return t.betarnd(2.0, 5.0); });
  expectMoments(values, 2.0 / 7.0, 10.0 / (49.0 * 8.0));
  expectFits(values, [&](double x) { return tool.betacdf(x, 2.0, 5.0); });
  values = draw(tool, [](StatisticTool& t) { return t.frnd(5, 12); });
  expectMoments(values, 12.0 / 10.0, 2.0 * 144.0 * 15.0 / (5.0 * 100.0 * 8.0));
  expectFits(values, [&](double x) { return tool.fcdf(x, 5, 12); });
  EXPECT_TRUE(std::isnan(tool.gamrnd(0.0, 1.0)));
  EXPECT_TRUE(std::isnan(tool.betarnd(1.0, -1.0)));
  EXPECT_TRUE(std::isnan(tool.frnd(0.0, 1.0)));
}

TEST(StatisticRandom, StudentAndNoncentral) {
  StatisticTool tool;
  auto values = draw(tool, [](StatisticTool& t) { return t.trnd(10.0); });
  expectMoments(values, 0.0, 1.25);
  expectFits(values, [&](double x) { return tool.tcdf(x, 10.0); });
  // With zero noncentrality they are the central distributions.
  values = draw(tool, [](StatisticTool& t) { return t.ncx2rnd(4.0, 0.0); });
  expectFits(values, [&](double x) { return tool.chi2cdf(x, 4); });
  values = draw(tool, [](StatisticTool& t) { return t.nctrnd(7.0, 0.0); });
  expectFits(values, [&](double x) { return tool.tcdf(x, 7.0); });
  values = draw(tool, [](StatisticTool& t) { return t.ncfrnd(3.0, 9.0, 0.0); });
  expectFits(values, [&](double x) { return tool.fcdf(x, 3, 9); });
  values = draw(tool, [](StatisticTool& t) { return t.ncx2rnd(4.0, 3.0); });
  expectMoments(values, 7.0, 2.0 * (4.0 + 6.0));
  // Noncentral t, v = 12, delta = 1.5.
  double v = 12, d = 1.5;
  double mean = d * std::sqrt(v / 2) * std::exp(std::lgamma((v - 1) / 2) - std::lgamma(v / 2));
  values = draw(tool, [&](StatisticTool& t) { return t.nctrnd(v, d); });
  expectMoments(values, mean, v * (1 + d * d) / (v - 2) - mean * mean);
  // Noncentral F, v1 = 4, v2 = 20, delta = 2.
  double v1 = 4, v2 = 20, lam = 2;
  double fMean = v2 * (v1 + lam) / (v1 * (v2 - 2));
  double fVariance = 2 * (v2 / v1) * (v2 / v1) *
                     ((v1 + lam) * (v1 + lam) + (v1 + 2 * lam) * (v2 - 2)) /
                     ((v2 - 2) * (v2 - 2) * (v2 - 4));
  values = draw(tool, [&](StatisticTool& t) { return t.ncfrnd(v1, v2, lam); });
  expectMoments(values, fMean, fVariance);
}

TEST(StatisticRandom, InversionDraws) {
  StatisticTool tool;
  auto values = draw(tool, [](StatisticTool& t) { return t.exprnd(3.0); });
  expectMoments(values, 3.0, 9.0);
  expectFits(values, [&](double x) { return tool.expcdf(x, 3.0); });
  values = draw(tool, [](StatisticTool& t) { return t.raylrnd(2.0); });
  expectMoments(values, 2.0 * std::sqrt(M_PI / 2), (4 - M_PI) / 2 * 4.0);
  expectFits(values, [&](double x) { return tool.raylcdf(x, 2.0); });
  // weibcdf(x, a, b) = 1 - exp(-a x^b): scale a^(-1/b).
  values = draw(tool, [](StatisticTool& t) { return t.weibrnd(0.5, 2.0); });
  double scale = std::sqrt(2.0);
  expectMoments(values, scale * std::tgamma(1.5),
                scale * scale * (std::tgamma(2.0) - std::pow(std::tgamma(1.5), 2)));
  expectFits(values, [&](double x) { return tool.weibcdf(x, 0.5, 2.0); });
  values = draw(tool, [](StatisticTool& t) { return t.unifrnd(-1.0, 3.0); });
  expectMoments(values, 1.0, 16.0 / 12.0);
  expectFits(values, [&](double x) { return x <= -1.0 ? 0.0 : tool.unifcdf(x, -1.0, 3.0); });
  for (auto nan : {tool.exprnd(0.0), tool.raylrnd(-1.0), tool.weibrnd(1.0, 0.0),
                   tool.unifrnd(2.0, 1.0), tool.trnd(0.0), tool.ncx2rnd(1.0, -1.0)})
    EXPECT_TRUE(std::isnan(nan));
}

TEST(StatisticRandom, CountDraws) {
  StatisticTool tool;
  for (double lambda : {0.7, 4.0, 30.0, 500.0}) {  // inversion and rejection
    auto values = draw(tool, [lambda](StatisticTool& t) { return t.poissrnd(lambda); });
    expectMoments(values, lambda, lambda);
    EXPECT_NEAR(std::count(values.begin(), values.end(), std::round(lambda)) / double(kDraws),
                tool.poisspdf(static_cast<int>(std::round(lambda)), lambda), 0.01);
  }
  EXPECT_EQ(tool.poissrnd(0.0), 0.0);
  for (int n : {12, 5000}) {  // direct and split by order statistics
    auto values = draw(tool, [n](StatisticTool& t) { return t.binornd(n, 0.3); });
    expectMoments(values, n * 0.3, n * 0.21);
    for (double v : values) ASSERT_TRUE(v >= 0 && v <= n && v == std::floor(v));
  }
  auto values = draw(tool, [](StatisticTool& t) { return t.nbinrnd(3, 0.4); });
  expectMoments(values, 3 * 0.6 / 0.4, 3 * 0.6 / 0.16);
  values = draw(tool, [](StatisticTool& t) { return t.geornd(0.25); });
  expectMoments(values, 3.0, 0.75 / 0.0625);
  EXPECT_NEAR(std::count(values.begin(), values.end(), 0.0) / double(kDraws), 0.25, 0.01);
  values = draw(tool, [](StatisticTool& t) { return t.hygernd(50, 20, 10); });
  expectMoments(values, 4.0, 10 * 0.4 * 0.6 * 40.0 / 49.0);
  values = draw(tool, [](StatisticTool& t) { return t.unidrnd(6); });
  expectMoments(values, 3.5, 35.0 / 12.0);
  for (double v : values) ASSERT_TRUE(v >= 1 && v <= 6 && v == std::floor(v));
  for (auto nan : {tool.binornd(-1, 0.5), tool.nbinrnd(0, 0.5), tool.geornd(0.0),
                   tool.hygernd(5, 6, 2), tool.unidrnd(0), tool.poissrnd(-1.0)})
    EXPECT_TRUE(std::isnan(nan));
}

TEST(StatisticRandom, DirichletAndMultinomial) {
  StatisticTool tool;
  tool.setSeeds(11, 222, 3333);
  const int alpha[3] = {1, 2, 5};
  const int n = kDraws / 5;
  std::vector<double> first(n);
  for (int i = 0; i < n; ++i) {
    double out[3];
    tool.Dirichlet(out, alpha, 3);
    EXPECT_NEAR(out[0] + out[1] + out[2], 1.0, 1e-12);
    first[i] = out[0];
  }
  // Marginal of a Dirichlet(1, 2, 5) is Beta(1, 7).
  expectMoments(first, 1.0 / 8.0, 7.0 / (64.0 * 9.0));
  expectFits(first, [&](double x) { return tool.betacdf(x, 1.0, 7.0); });

  const double prob[4] = {0.1, 0.0, 0.6, 0.3};
  int counts[4];
  std::vector<double> thirdBin(n);
  for (int i = 0; i < n; ++i) {
    tool.multinomial(20, prob, counts, 4);
    ASSERT_EQ(counts[0] + counts[1] + counts[2] + counts[3], 20);
    ASSERT_EQ(counts[1], 0);
    thirdBin[i] = counts[2];
  }
  expectMoments(thirdBin, 12.0, 20 * 0.6 * 0.4);
  // Probabilities whose rounded sum falls short of 1 still place every draw.
  const double shortfall[2] = {0.5, 0.4};
  tool.multinomial(1000, shortfall, counts, 2);
  EXPECT_EQ(counts[0] + counts[1], 1000);
}

}  // namespace
