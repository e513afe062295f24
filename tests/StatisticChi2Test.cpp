// The chi-square chain behind every p-value of the association test.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "stats/statistic.h"
#include "stats/upperTail.h"

namespace {

std::string capture(const std::function<void()>& action) {
  testing::internal::CaptureStdout();
  action();
  return testing::internal::GetCapturedStdout();
}

TEST(StatisticChi2, KnownQuantilesGiveTheirLevels) {
  StatisticTool tool;
  EXPECT_NEAR(tool.chi2cdf(3.841459, 1), 0.95, 1e-7);
  EXPECT_NEAR(tool.chi2cdf(6.634897, 1), 0.99, 1e-7);
  EXPECT_NEAR(tool.chi2cdf(10.827566, 1), 0.999, 1e-7);
  EXPECT_NEAR(tool.chi2cdf(5.991465, 2), 0.95, 1e-7);
  EXPECT_NEAR(tool.chi2cdf(18.307038, 10), 0.95, 1e-7);
  EXPECT_NEAR(tool.chi2cdf(0.454936423119572, 1), 0.5, 1e-7);
}

TEST(StatisticChi2, UpperTailMatchesNormalTailAcrossMethodSwitch) {
  StatisticTool tool;
  // x = 3 is where the series hands over to the continued fraction.
  for (double x = 0.01; x < 40.0; x *= 1.07) {
    double expected = std::erfc(std::sqrt(x / 2.0));
    EXPECT_NEAR(1.0 - tool.chi2cdf(x, 1), expected, 2e-8) << "x = " << x;
  }
  for (double x : {2.9, 2.99, 2.999999, 3.0, 3.000001, 3.01, 3.1}) {
    EXPECT_NEAR(1.0 - tool.chi2cdf(x, 1), std::erfc(std::sqrt(x / 2.0)), 2e-8) << x;
  }
}

TEST(StatisticChi2, TwoDegreesOfFreedomIsExponential) {
  StatisticTool tool;
  for (double x : {0.1, 1.0, 2.5, 3.5, 10.0, 30.0}) {
    EXPECT_NEAR(tool.chi2cdf(x, 2), 1.0 - std::exp(-x / 2.0), 1e-8) << x;
  }
}

TEST(StatisticChi2, EndsOfTheRange) {
  StatisticTool tool;
  EXPECT_EQ(tool.chi2cdf(0.0, 1), 0.0);
  EXPECT_EQ(tool.chi2cdf(-5.0, 1), 0.0);
  EXPECT_EQ(tool.chi2cdf(70.3, 1), 1.0);
  EXPECT_EQ(tool.chi2cdf(1e6, 1), 1.0);
  EXPECT_EQ(tool.chi2cdf(1e9, 1), 1.0);
  EXPECT_LT(tool.chi2cdf(60.0, 1), 1.0);
  // Tiny statistics: chi2cdf(x, 1) = erf(sqrt(x / 2)).
  for (double x : {1e-40, 1e-20, 2 * 2.220446049250313e-16, 1e-12}) {
    EXPECT_NEAR(tool.chi2cdf(x, 1) / std::erf(std::sqrt(x / 2.0)), 1.0, 1e-8) << x;
  }
}

TEST(StatisticChi2, NotANumberPassesThroughSilently) {
  StatisticTool tool;
  std::string out = capture([&] {
    EXPECT_TRUE(std::isnan(tool.chi2cdf(NAN, 1)));
    EXPECT_TRUE(std::isnan(tool.gamcdf(1.0, NAN, 1.0)));
    EXPECT_TRUE(std::isnan(tool.gammainc(0.0, NAN)));
    EXPECT_TRUE(std::isnan(tool.chi2cdf(INFINITY, 1)));
  });
  EXPECT_EQ(out, "");
}

TEST(StatisticChi2, InvalidParametersPrintAndGiveNaN) {
  StatisticTool tool;
  double result = 0;
  EXPECT_EQ(capture([&] { result = tool.chi2cdf(1.0, 0); }), "parameter a or b is not correct!");
  EXPECT_TRUE(std::isnan(result));
  EXPECT_EQ(capture([&] { result = tool.gamcdf(1.0, 1.0, -2.0); }),
            "parameter a or b is not correct!");
  EXPECT_TRUE(std::isnan(result));
  EXPECT_EQ(capture([&] { result = tool.gammainc(1.0, -0.5); }),
            "MATLAB:gammainc:NegativeArg, A must be non-negative.");
  EXPECT_TRUE(std::isnan(result));
}

TEST(StatisticChi2, IncompleteGammaValues) {
  StatisticTool tool;
  EXPECT_EQ(tool.gammainc(0.0, 2.5), 0.0);
  EXPECT_EQ(tool.gammainc(3.0, 0.0), 1.0);
  EXPECT_EQ(tool.gammainc(0.0, 0.0), 1.0);
  // Small shapes put much of their mass below 2^-52.
  EXPECT_NEAR(tool.gammainc(1e-20, 0.2), std::pow(1e-20, 0.2) / std::tgamma(1.2), 1e-12);
  // A shape of exactly 2^-52 is valid and computed normally.
  EXPECT_NEAR(tool.gammainc(1.0, 2.220446049250313e-16), 1.0, 1e-8);
  // P(1, x) = 1 - exp(-x); P(3, x) = 1 - exp(-x)(1 + x + x^2/2).
  for (double x : {0.5, 2.0, 5.0, 20.0}) {
    EXPECT_NEAR(tool.gammainc(x, 1.0), 1.0 - std::exp(-x), 1e-8);
    EXPECT_NEAR(tool.gammainc(x, 3.0), 1.0 - std::exp(-x) * (1 + x + x * x / 2), 1e-8);
  }
  // Gamma(5, scale 2) at 10 equals chi-square with 10 df at 10.
  EXPECT_NEAR(tool.gamcdf(10.0, 5.0, 2.0), 0.5595067, 1e-7);
  // Large shapes: the median is close to the shape.
  EXPECT_NEAR(tool.gammainc(4e6, 4e6), 0.5, 1e-3);
  EXPECT_NEAR(tool.gammainc(1e5, 1e5), 0.5, 1e-3);
}

TEST(StatisticChi2, LogGamma) {
  StatisticTool tool;
  EXPECT_NEAR(tool.gammaln(1.0), 0.0, 1e-10);
  EXPECT_NEAR(tool.gammaln(2.0), 0.0, 1e-10);
  EXPECT_NEAR(tool.gammaln(0.5), std::log(std::sqrt(M_PI)), 1e-10);
  for (double x : {0.1, 1.5, 3.7, 10.0, 171.5, 1e5}) {
    EXPECT_NEAR(tool.gammaln(x), std::lgamma(x), 1e-9 * std::fmax(1.0, std::fabs(std::lgamma(x))))
        << x;
  }
}

}  // namespace

// The tails computed as tails, against 50-digit references (mpmath's
// gammainc): p and -log10 p to 1e-12 relative wherever a double holds them,
// -log10 p far beyond (p = 1e-217151), and near p = 1 too.
TEST(StatisticChi2, UpperTailsExactToTheFarTail) {
  struct Case {
    double x, df, p, log10p;
  };
  const Case cases[] = {
      {1e-10, 1, 0.99999202115439210433, 3.4651824435633312896e-6},
      {1e-10, 5, 1.0, 2.310112412934056468e-27},
      {0.5, 2, 0.77880078307140486825, 0.10857362047581295691},
      {3.84, 1, 0.050043521248705103189, 1.3006521393247688233},
      {3.84, 5, 0.5726744598320886699, 0.24209218514461890578},
      {70, 1, 5.9304458500824868143e-17, 16.226912655210467408},
      {71.9, 1, 2.2638394375459252475e-17, 16.645154378658938827},
      {70, 5, 1.024790801319603087e-13, 12.989364781540172122},
      {100, 1, 1.5239706048321052132e-23, 22.817023409822094699},
      {100, 2, 1.928749847963917783e-22, 21.714724095162591383},
      {985, 1, 3.271521767450468574e-216, 215.48525018572717324},
      {985, 5, 1.0623383672713649161e-210, 209.97373713331716012},
      {1e4, 1, 0, 2173.5705128733703953},
      {1e4, 5, 0, 2166.0474604276650253},
      {1e6, 1, 0, 217150.3390119987223},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "x " << c.x << ", df " << c.df);
    EXPECT_NEAR(ombra::chiSquareUpperTail(c.x, c.df), c.p, 1e-12 * c.p);
    EXPECT_NEAR(ombra::chiSquareLog10Tail(c.x, c.df), c.log10p, 1e-12 * c.log10p);
  }
  // One degree of freedom: the same bits as erfc, which the mixed model's
  // p-values have always used.
  volatile double statistic = 40.6;  // not folded at compile time
  EXPECT_EQ(ombra::chiSquareUpperTail(statistic, 1), std::erfc(std::sqrt(statistic / 2)));
  EXPECT_TRUE(std::isnan(ombra::chiSquareUpperTail(std::nan(""), 1)));
  EXPECT_TRUE(std::isnan(ombra::chiSquareLog10Tail(std::nan(""), 1)));
  EXPECT_EQ(ombra::chiSquareLog10Tail(0, 1), 0);
  EXPECT_EQ(ombra::chiSquareUpperTail(-1, 1), 1);
  EXPECT_EQ(ombra::chiSquareLog10Tail(HUGE_VAL, 1), HUGE_VAL);
}
