// Special functions beneath the distribution library.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "stats/statistic.h"

namespace {

std::string capture(const std::function<void()>& action) {
  testing::internal::CaptureStdout();
  action();
  return testing::internal::GetCapturedStdout();
}

double relativeError(double value, double reference) {
  return std::fabs(value - reference) / std::fabs(reference);
}

TEST(StatisticSpecial, ErrorFunctionsMatchTheLibraryOnAllThreeRanges) {
  StatisticTool tool;
  for (double x = -6.0; x <= 6.0; x += 0.0137) {
    EXPECT_NEAR(tool.erf(x), std::erf(x), 2e-16) << x;
    EXPECT_LT(relativeError(tool.erfc(x), std::erfc(x)), 1e-15) << x;
  }
  for (double x : {7.0, 12.0, 26.0}) EXPECT_LT(relativeError(tool.erfc(x), std::erfc(x)), 1e-15);
  // Scaled form exp(x^2) erfc(x), including far beyond where erfc underflows.
  EXPECT_NEAR(tool.erfcore(0.3, 2), std::exp(0.09) * std::erfc(0.3), 1e-15);
  EXPECT_NEAR(tool.erfcore(-1.5, 2), std::exp(2.25) * std::erfc(-1.5), 1e-13);
  EXPECT_NEAR(tool.erfcore(10.0, 2), 0.056140992743822594, 1e-16);
  EXPECT_NEAR(tool.erfcore(1e8, 2), 1.0 / (1e8 * std::sqrt(M_PI)), 1e-22);
}

TEST(StatisticSpecial, ErrorFunctionsAtInfinityAndNaN) {
  StatisticTool tool;
  EXPECT_EQ(tool.erf(INFINITY), 1.0);
  EXPECT_EQ(tool.erf(-INFINITY), -1.0);
  EXPECT_EQ(tool.erfc(INFINITY), 0.0);
  EXPECT_EQ(tool.erfc(-INFINITY), 2.0);
  EXPECT_EQ(tool.erfc(40.0), 0.0);
  EXPECT_TRUE(std::isnan(tool.erf(NAN)));
  EXPECT_TRUE(std::isnan(tool.erfc(NAN)));
}

TEST(StatisticSpecial, InverseErrorFunctions) {
  StatisticTool tool;
  EXPECT_NEAR(tool.erfinv(0.5), 0.4769362762044699, 1e-15);
  EXPECT_NEAR(tool.erfinv(-0.9), -1.1630871536766743, 1e-14);
  for (double y = -0.9999; y < 1.0; y += 0.0173) {
    EXPECT_NEAR(std::erf(tool.erfinv(y)), y, 4e-16) << y;
  }
  // Close to 1 the result is judged through erfc, since 1 - y is exact; the
  // single correction step leaves a few parts in 1e9 of the tail there.
  for (double y : {0.999, 1.0 - 1e-9, 1.0 - 1e-14}) {
    EXPECT_LT(relativeError(std::erfc(tool.erfinv(y)), 1.0 - y), 1e-8) << y;
    EXPECT_LT(relativeError(std::erfc(-tool.erfinv(-y)), 1.0 - y), 1e-8) << y;
  }
  EXPECT_EQ(tool.erfinv(0.0), 0.0);
  for (double x : {1e-300, 1e-100, 1e-20, 1e-10, 0.01, 0.0485, 0.3, 1.0, 1.7, 1.9515, 1.99,
                   2.0 - 1e-12}) {
    double z = tool.erfcinv(x);
    EXPECT_LT(relativeError(std::erfc(z), x), 1e-12) << x;
  }
  EXPECT_NEAR(tool.erfcinv(1e-10), 4.572824967389486, 1e-12);
}

TEST(StatisticSpecial, InverseErrorFunctionMessages) {
  StatisticTool tool;
  double result = 0;
  EXPECT_EQ(capture([&] { result = tool.erfinv(1.0); }), " Inf Occur!");
  EXPECT_EQ(result, INFINITY);
  EXPECT_EQ(capture([&] { result = tool.erfinv(-1.0); }), " Inf Occur!");
  EXPECT_EQ(result, -INFINITY);
  EXPECT_EQ(capture([&] { result = tool.erfinv(1.5); }), "Y value is useless");
  EXPECT_TRUE(std::isnan(result));
  EXPECT_EQ(capture([&] { result = tool.erfcinv(0.0); }), "Inf");
  EXPECT_EQ(result, INFINITY);
  EXPECT_EQ(capture([&] { result = tool.erfcinv(2.0); }), " -Inf");
  EXPECT_EQ(result, -INFINITY);
  EXPECT_EQ(capture([&] { result = tool.erfcinv(2.5); }), "NaN");
  EXPECT_TRUE(std::isnan(result));
  EXPECT_EQ(capture([&] { result = tool.erfcinv(-1e-20); }), "NaN");
  EXPECT_EQ(capture([&] { result = tool.erfcinv(1e-20); }), "");
  EXPECT_NEAR(result, 6.601580622247470, 1e-9);
}

TEST(StatisticSpecial, GammaAndBetaFunctions) {
  StatisticTool tool;
  // gamma() returns the logarithm.
  EXPECT_NEAR(tool.gamma(5.0), std::log(24.0), 1e-9);
  EXPECT_NEAR(tool.gamma(1.5), std::lgamma(1.5), 1e-9);
  EXPECT_NEAR(tool.gamma(30.0), std::lgamma(30.0), 1e-8);
  EXPECT_NEAR(tool.beta(2.0, 3.0), 1.0 / 12.0, 1e-11);
  EXPECT_NEAR(tool.betaln(0.5, 0.5), std::log(M_PI), 1e-10);
  EXPECT_NEAR(tool.sumLog(5), std::log(120.0), 1e-14);
  EXPECT_EQ(tool.sumLog(0), 0.0);
  EXPECT_EQ(tool.sumLog(-3), 0.0);
  EXPECT_NEAR(tool.sumLog(1000), std::lgamma(1001.0), 1e-9);
}

TEST(StatisticSpecial, IncompleteBeta) {
  StatisticTool tool;
  for (double a : {0.3, 1.0, 2.5, 40.0}) EXPECT_NEAR(tool.betainc(0.5, a, a), 0.5, 1e-9) << a;
  // I_x(2, 3) = 1 - (1 - x)^3 (1 + 3x); I_x(1, b) = 1 - (1 - x)^b.
  for (double x : {0.05, 0.3, 0.5, 0.8, 0.97}) {
    EXPECT_NEAR(tool.betainc(x, 2.0, 3.0), 1 - std::pow(1 - x, 3) * (1 + 3 * x), 1e-9) << x;
    EXPECT_NEAR(tool.betainc(x, 1.0, 4.5), 1 - std::pow(1 - x, 4.5), 1e-9) << x;
  }
  EXPECT_EQ(tool.betainc(0.0, 2.0, 3.0), 0.0);
  EXPECT_EQ(tool.betainc(1.0, 2.0, 3.0), 1.0);
  EXPECT_EQ(tool.beta(0.3, 2.0, 3.0), tool.betainc(0.3, 2.0, 3.0));
  // The fraction itself: I_x(a, b) = x^a (1 - x)^b cf / (a B(a, b)).
  double x = 0.2, a = 2.0, b = 3.0;
  EXPECT_NEAR(std::pow(x, a) * std::pow(1 - x, b) * tool.beta_cf(a, b, x) / (a * tool.beta(a, b)),
              1 - std::pow(1 - x, 3) * (1 + 3 * x), 1e-9);
}

}  // namespace
