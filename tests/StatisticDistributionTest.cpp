// Densities, distribution functions and quantiles against published table
// values, closed forms, and the messages of their argument checks.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "stats/statistic.h"

namespace {

std::string capture(const std::function<void()>& action) {
  testing::internal::CaptureStdout();
  action();
  return testing::internal::GetCapturedStdout();
}

struct Rejection {
  std::function<double(StatisticTool&)> call;
  const char* message;
};

void expectRejections(const std::vector<Rejection>& cases) {
  for (size_t i = 0; i < cases.size(); ++i) {
    StatisticTool tool;
    double result = 0;
    std::string out = capture([&] { result = cases[i].call(tool); });
    EXPECT_EQ(out, cases[i].message) << "case " << i;
    EXPECT_TRUE(std::isnan(result)) << "case " << i;
  }
}

TEST(StatisticContinuous, Normal) {
  StatisticTool tool;
  EXPECT_EQ(tool.normcdf(0, 0, 1), 0.5);
  EXPECT_NEAR(tool.normcdf(1.96, 0, 1), 0.9750021048517795, 1e-15);
  EXPECT_NEAR(tool.normcdf(-2.5, 0, 1), 0.006209665325776132, 1e-17);
  EXPECT_NEAR(tool.normcdf(13.0, 10.0, 2.0), 0.9331927987311419, 1e-15);
  EXPECT_NEAR(tool.norminv(0.975, 0, 1), 1.959964, 5e-7);
  EXPECT_NEAR(tool.norminv(0.975, 0, 1), 1.959963984540054, 1e-14);
  EXPECT_NEAR(tool.norminv(0.05, 0, 1), -1.6448536269514722, 1e-14);
  EXPECT_NEAR(tool.norminv(1e-10, 0, 1), -6.361340902404056, 1e-12);
  EXPECT_NEAR(tool.norminv(1e-20, 0, 1), -9.262340089798408, 1e-10);
  EXPECT_NEAR(tool.norminv(0.5, 3.0, 2.0), 3.0, 1e-15);
  EXPECT_NEAR(tool.normpdf(0, 0, 1), 0.3989422804014327, 1e-16);
  EXPECT_NEAR(tool.normpdf(4.0, 2.0, 2.0), 0.24197072451914337 / 2.0, 1e-16);
}

TEST(StatisticContinuous, LogNormal) {
  StatisticTool tool;
  EXPECT_NEAR(tool.logncdf(1.0, 0, 1), 0.5, 1e-16);
  EXPECT_EQ(tool.logncdf(0.0, 0, 1), 0.0);
  EXPECT_EQ(tool.logncdf(-1.0, 0, 1), 0.0);
  EXPECT_NEAR(tool.logncdf(std::exp(1.96), 0, 1), 0.9750021048517795, 1e-15);
  EXPECT_NEAR(tool.lognpdf(1.0, 0, 1), 0.3989422804014327, 1e-16);
  EXPECT_NEAR(tool.lognpdf(2.0, 0, 1), 0.15687401927898113, 1e-15);
  EXPECT_NEAR(tool.logninv(0.975, 0, 1), std::exp(1.959963984540054), 1e-12);
  EXPECT_TRUE(std::isnan(tool.logninv(1.5, 0, 1)));
  EXPECT_TRUE(std::isnan(tool.logninv(0.5, 0, 0)));
}

TEST(StatisticContinuous, GammaAndChiSquare) {
  StatisticTool tool;
  EXPECT_NEAR(tool.gampdf(2.0, 3.0, 1.0), 2.0 * std::exp(-2.0), 1e-10);
  EXPECT_NEAR(tool.gampdf(4.0, 3.0, 2.0), std::exp(-2.0), 1e-10);
  EXPECT_NEAR(tool.chi2pdf(1.0, 1), 0.24197072451914337, 1e-10);
  EXPECT_NEAR(tool.chi2pdf(3.0, 2), 0.5 * std::exp(-1.5), 1e-10);
  EXPECT_NEAR(tool.gaminv(0.5, 1.0, 1.0), std::log(2.0), 1e-8);
  EXPECT_NEAR(tool.gaminv(0.9, 1.0, 3.0), -3.0 * std::log(0.1), 1e-7);
  // Chi-square table.
  EXPECT_NEAR(tool.chi2inv(0.95, 1), 3.841458820694124, 1e-6);
  EXPECT_NEAR(tool.chi2inv(0.99, 5), 15.08627246938899, 1e-6);
  EXPECT_NEAR(tool.chi2inv(0.05, 3), 0.3518463190, 1e-6);
  EXPECT_NEAR(tool.chi2inv(0.95, 10), 18.307038053275146, 1e-6);
  EXPECT_NEAR(tool.chi2inv(0.5, 100), 99.33412923, 1e-5);
  EXPECT_EQ(tool.gaminv(0.0, 2.0, 1.0), 0.0);
  EXPECT_EQ(tool.gaminv(1.0, 2.0, 1.0), INFINITY);
  // Round trips over a range of shapes and levels.
  for (double a : {0.2, 1.0, 3.5, 50.0}) {
    for (double p : {1e-6, 0.01, 0.3, 0.7, 0.999}) {
      double x = tool.gaminv(p, a, 2.0);
      EXPECT_NEAR(tool.gamcdf(x, a, 2.0), p, 1e-8) << a << " " << p;
    }
  }
}

TEST(StatisticContinuous, Beta) {
  StatisticTool tool;
  EXPECT_NEAR(tool.betapdf(0.5, 2.0, 3.0), 1.5, 1e-10);
  EXPECT_NEAR(tool.betapdf(0.0, 1.0, 3.0), 3.0, 1e-9);
  EXPECT_NEAR(tool.betapdf(1.0, 2.0, 1.0), 2.0, 1e-9);
  EXPECT_NEAR(tool.betacdf(0.5, 2.0, 3.0), 0.6875, 1e-9);
  EXPECT_EQ(tool.betacdf(-0.1, 2.0, 3.0), 0.0);
  EXPECT_EQ(tool.betacdf(1.0, 2.0, 3.0), 1.0);
  EXPECT_NEAR(tool.betainv(0.6875, 2.0, 3.0), 0.5, 1e-8);
  EXPECT_NEAR(tool.betainv(0.3, 1.0, 1.0), 0.3, 1e-8);
  EXPECT_EQ(tool.betainv(0.0, 2.0, 3.0), 0.0);
  EXPECT_EQ(tool.betainv(1.0, 2.0, 3.0), 1.0);
  for (double a : {0.5, 2.0, 30.0}) {
    for (double p : {0.01, 0.5, 0.95}) {
      EXPECT_NEAR(tool.betacdf(tool.betainv(p, a, 4.0), a, 4.0), p, 1e-8) << a << " " << p;
    }
  }
}

TEST(StatisticContinuous, FDistribution) {
  StatisticTool tool;
  EXPECT_NEAR(tool.fpdf(1.0, 4, 2), 8.0 / 27.0, 1e-10);
  EXPECT_NEAR(tool.fpdf(1.0, 2, 2), 0.25, 1e-10);
  EXPECT_NEAR(tool.fpdf(1.0, 1, 1), 1.0 / (2.0 * M_PI), 1e-10);
  // F table, upper 5 % and 1 % points.
  EXPECT_NEAR(tool.fcdf(3.708264819, 3, 10), 0.95, 1e-7);
  EXPECT_NEAR(tool.fcdf(161.4476387, 1, 1), 0.95, 1e-7);
  EXPECT_NEAR(tool.finv(0.95, 3, 10), 3.708264819, 1e-6);
  EXPECT_NEAR(tool.finv(0.99, 5, 20), 4.102684631, 1e-6);
  EXPECT_NEAR(tool.finv(0.95, 1, 1), 161.4476387, 1e-4);
  EXPECT_EQ(tool.finv(0.0, 3, 10), 0.0);
  EXPECT_TRUE(std::isnan(tool.finv(1.5, 3, 10)));
  EXPECT_TRUE(std::isnan(tool.finv(-0.5, 3, 10)));
}

TEST(StatisticContinuous, StudentT) {
  StatisticTool tool;
  for (double v : {1.0, 2.0, 7.5, 30.0, 2e7}) EXPECT_EQ(tool.tcdf(0.0, v), 0.5) << v;
  EXPECT_NEAR(tool.tcdf(1.0, 1.0), 0.75, 1e-12);
  EXPECT_NEAR(tool.tcdf(2.228138851986274, 10), 0.975, 1e-8);
  EXPECT_NEAR(tool.tcdf(-2.015048372669157, 5), 0.05, 1e-8);
  EXPECT_NEAR(tool.tcdf(1.959963984540054, 2e7), 0.975, 1e-12);
  EXPECT_NEAR(tool.tpdf(0.0, 1), 1.0 / M_PI, 1e-10);
  EXPECT_NEAR(tool.tpdf(1.0, 2), 0.19245008972987526, 1e-10);
  // t table.
  EXPECT_NEAR(tool.tinv(0.975, 10), 2.228138851986274, 1e-6);
  EXPECT_NEAR(tool.tinv(0.975, 1), 12.706204736174705, 1e-5);
  EXPECT_NEAR(tool.tinv(0.975, 2), 4.302652729749464, 1e-6);
  EXPECT_NEAR(tool.tinv(0.05, 5), -2.015048372669157, 1e-6);
  EXPECT_NEAR(tool.tinv(0.995, 20), 2.845339709785, 1e-6);
  EXPECT_NEAR(tool.tinv(0.975, 1000), 1.962339, 1e-6);
  EXPECT_NEAR(tool.tinv(0.5, 12), 0.0, 1e-12);
  EXPECT_EQ(tool.tinv(1.0, 5), INFINITY);
  EXPECT_EQ(tool.tinv(0.0, 5), -INFINITY);
  EXPECT_TRUE(std::isnan(tool.tinv(1.2, 5)));
  EXPECT_TRUE(std::isnan(tool.tinv(-0.2, 5)));
}

TEST(StatisticContinuous, ExponentialUniformRayleighWeibull) {
  StatisticTool tool;
  EXPECT_NEAR(tool.expcdf(2.0, 2.0), 1 - std::exp(-1.0), 1e-15);
  EXPECT_NEAR(tool.exppdf(2.0, 2.0), std::exp(-1.0) / 2.0, 1e-15);
  EXPECT_EQ(tool.expcdf(-1.0, 2.0), 0.0);
  EXPECT_EQ(tool.exppdf(-1.0, 2.0), 0.0);
  EXPECT_NEAR(tool.expinv(0.5, 2.0), 2.0 * std::log(2.0), 1e-15);
  EXPECT_NEAR(tool.unifpdf(0.5, -1.0, 3.0), 0.25, 1e-15);
  EXPECT_NEAR(tool.unifcdf(0.0, -1.0, 3.0), 0.25, 1e-15);
  EXPECT_EQ(tool.unifcdf(3.5, -1.0, 3.0), 1.0);
  EXPECT_NEAR(tool.unifinv(0.25, -1.0, 3.0), 0.0, 1e-15);
  EXPECT_TRUE(std::isnan(tool.unifinv(1.25, -1.0, 3.0)));
  EXPECT_NEAR(tool.raylpdf(1.0, 1.0), std::exp(-0.5), 1e-15);
  EXPECT_NEAR(tool.raylcdf(1.0, 1.0), 1 - std::exp(-0.5), 1e-15);
  EXPECT_NEAR(tool.raylinv(0.5, 1.0), 1.1774100225154747, 1e-15);
  EXPECT_EQ(tool.raylinv(0.0, 1.0), 0.0);
  EXPECT_EQ(tool.raylinv(1.0, 1.0), INFINITY);
  EXPECT_NEAR(tool.weibpdf(1.0, 1, 1), std::exp(-1.0), 1e-15);
  EXPECT_NEAR(tool.weibpdf(2.0, 2, 3), 1.5 * std::exp(-1.0), 1e-15);
  EXPECT_EQ(tool.weibpdf(40.0, 1, 1), 0.0);
  EXPECT_NEAR(tool.weibcdf(2.0, 0.5, 2.0), 1 - std::exp(-2.0), 1e-15);
  EXPECT_EQ(tool.weibcdf(-1.0, 0.5, 2.0), 0.0);
  EXPECT_NEAR(tool.weibinv(1 - std::exp(-2.0), 0.5, 2.0), 2.0, 1e-14);
  EXPECT_EQ(tool.weibinv(0.0, 0.5, 2.0), 0.0);
  EXPECT_EQ(tool.weibinv(1.0, 0.5, 2.0), INFINITY);
}

TEST(StatisticContinuous, CheckMessages) {
  using T = StatisticTool;
  expectRejections({
      {[](T& t) { return t.normpdf(0, 0, 0); }, "the parameter of sigma is not correct!"},
      {[](T& t) { return t.normcdf(0, 0, -1); }, "parameter sigma is not correct!"},
      {[](T& t) { return t.lognpdf(1, 0, 0); }, "the parameter of sigma is not correct!"},
      {[](T& t) { return t.lognpdf(0, 0, 1); },
       "the parameter of x less than 0, it is not correct!"},
      {[](T& t) { return t.logncdf(1, 0, 0); }, "parameter sigma is not correct!"},
      {[](T& t) { return t.gampdf(1, 0, 1); }, "parameter a less than 0, is not correct!"},
      {[](T& t) { return t.gampdf(1, 1, 0); }, "parameter b less than 0, is not correct!"},
      {[](T& t) { return t.gampdf(0, 1, 1); }, "parameter x less than 0, is not correct!"},
      {[](T& t) { return t.chi2pdf(1, 0); }, "parameter a less than 0, is not correct!"},
      {[](T& t) { return t.gaminv(1.5, 1, 1); }, "parameter p, v1 or v2 is not correct!"},
      {[](T& t) { return t.gaminv(0.5, 1, 0); }, "parameter p, v1 or v2 is not correct!"},
      {[](T& t) { return t.chi2inv(0.5, 0); }, "parameter is not correct!"},
      {[](T& t) { return t.betapdf(0.5, 0, 1); }, "parameter a or b is not correct!"},
      {[](T& t) { return t.betapdf(1.5, 1, 1); }, "parameter x is not correct!"},
      {[](T& t) { return t.betacdf(0.5, 1, -1); },
       "parameter of Beta cumulative distribution function do not permit less than zero"},
      {[](T& t) { return t.betainv(-0.1, 1, 1); }, "parameter is not correct!"},
      {[](T& t) { return t.fpdf(1, 0, 2); }, "parameter v1 or v2 less than zero, it is not correct!"},
      {[](T& t) { return t.fpdf(0, 1, 2); }, "parameter x less than zero, it is not correct!"},
      {[](T& t) { return t.fcdf(0, 1, 2); }, "parameter v1 or v2 is not correct!"},
      {[](T& t) { return t.finv(0.5, 0, 2); }, "parameter v1 or v2 is not correct!"},
      {[](T& t) { return t.finv(1.0, 1, 2); }, "parameter p, v1 or v2 is not correct!"},
      {[](T& t) { return t.tpdf(0, 0); }, "the parameters v is not correct!"},
      {[](T& t) { return t.expcdf(1, 0); }, "parameter mu is not correct!"},
      {[](T& t) { return t.exppdf(1, 0); }, "parameter mu less than 0, is not correct!"},
      {[](T& t) { return t.expinv(1.0, 1); }, "parameter is not correct!"},
      {[](T& t) { return t.unifpdf(0, 1, 1); }, "the parameters a or b is not correct!"},
      {[](T& t) { return t.unifpdf(2, 0, 1); }, "the parameters x, a or b is not correct!"},
      {[](T& t) { return t.unifcdf(0, 1, 0); }, "parameter a or b is not correct!"},
      {[](T& t) { return t.unifcdf(0, 0, 1); }, "parameter x, a or b is not correct!"},
      {[](T& t) { return t.raylpdf(1, 0); }, "the parameter b is not correct!"},
      {[](T& t) { return t.raylpdf(-1, 1); }, "the parameters is not correct!"},
      {[](T& t) { return t.raylcdf(-1, 1); }, "parameter b is not correct!"},
      {[](T& t) { return t.weibpdf(1, 0, 1); }, "the parameters A or B is not correct!"},
      {[](T& t) { return t.weibpdf(-1, 1, 1); }, "the parameters x is not correct!"},
      {[](T& t) { return t.weibcdf(1, 1, 0); }, "parameter x, a or b is not correct!"},
  });
  // These two report with a 0 result rather than NaN.
  StatisticTool tool;
  double result = 1;
  EXPECT_EQ(capture([&] { result = tool.norminv(0.5, 0, 0); }),
            "standard deviation sigma do not less or equal then zero");
  EXPECT_EQ(result, 0.0);
  EXPECT_EQ(capture([&] { result = tool.tinv(0.5, 0); }), "the parameter is wrong!");
  EXPECT_EQ(result, 0.0);
}

TEST(StatisticDiscrete, PoissonBinomialNegativeBinomial) {
  StatisticTool tool;
  EXPECT_NEAR(tool.poisspdf(2, 3.0), 0.22404180765538775, 1e-10);
  EXPECT_NEAR(tool.poisscdf(2, 3.0), 8.5 * std::exp(-3.0), 1e-10);
  EXPECT_EQ(tool.poisspdf(0, 0.0), 1.0);
  EXPECT_EQ(tool.poisscdf(5, 0.0), 1.0);
  EXPECT_EQ(tool.poissinv(0.5, 3.0), 3.0);
  EXPECT_EQ(tool.poissinv(0.0, 3.0), 0.0);
  EXPECT_EQ(tool.poissinv(1.0, 3.0), INFINITY);
  EXPECT_EQ(tool.poissinv(1.0 - 1e-15, 3.0), tool.poissinv(1.0 - 1e-15, 3.0));  // terminates
  EXPECT_NEAR(tool.poisscdf(1000000, 5.0), 1.0, 1e-9);

  EXPECT_NEAR(tool.binopdf(3, 10, 0.5), 0.1171875, 1e-10);
  EXPECT_NEAR(tool.binocdf(3, 10, 0.5), 0.171875, 1e-10);
  EXPECT_NEAR(tool.binopdf(0, 5, 0.0), 1.0, 1e-9);
  EXPECT_NEAR(tool.binopdf(5, 5, 1.0), 1.0, 1e-9);
  EXPECT_NEAR(tool.binocdf(2, 10, 0.0), 1.0, 1e-9);
  EXPECT_NEAR(tool.binocdf(9, 10, 1.0), 0.0, 1e-9);
  EXPECT_EQ(tool.binoinv(0.5, 10, 0.5), 5.0);
  EXPECT_EQ(tool.binoinv(0.0, 10, 0.5), 0.0);
  EXPECT_EQ(tool.binoinv(1.0, 10, 0.5), 10.0);

  EXPECT_NEAR(tool.nbinpdf(0, 1, 0.5), 0.5, 1e-10);
  EXPECT_NEAR(tool.nbinpdf(2, 3, 0.5), 0.1875, 1e-10);
  EXPECT_NEAR(tool.nbincdf(2, 3, 0.5), 0.5, 1e-10);
  EXPECT_EQ(tool.nbininv(0.45, 3, 0.5), 2.0);
  EXPECT_EQ(tool.nbininv(0.55, 3, 0.5), 3.0);
  EXPECT_EQ(tool.nbininv(1.0, 3, 0.5), INFINITY);
}

TEST(StatisticDiscrete, GeometricHypergeometricUniform) {
  StatisticTool tool;
  EXPECT_NEAR(tool.geopdf(2, 0.25), 0.140625, 1e-15);
  EXPECT_NEAR(tool.geocdf(2, 0.25), 0.578125, 1e-15);
  EXPECT_EQ(tool.geopdf(-1, 0.25), 0.0);
  EXPECT_EQ(tool.geocdf(-1, 0.25), 0.0);
  EXPECT_EQ(tool.geoinv(0.578125, 0.25), 2.0);
  EXPECT_EQ(tool.geoinv(0.5781, 0.25), 2.0);
  EXPECT_EQ(tool.geoinv(0.57813, 0.25), 3.0);
  EXPECT_EQ(tool.geoinv(0.25, 0.25), 0.0);
  EXPECT_EQ(tool.geoinv(0.7, 1.0), 0.0);
  EXPECT_EQ(tool.geoinv(1.0, 0.25), INFINITY);
  EXPECT_TRUE(std::isnan(tool.geoinv(0.5, 0.0)));
  for (int x = 0; x < 30; ++x) EXPECT_EQ(tool.geoinv(tool.geocdf(x, 0.1), 0.1), x) << x;

  EXPECT_NEAR(tool.hygepdf(1, 10, 4, 3), 0.5, 1e-10);
  EXPECT_NEAR(tool.hygecdf(1, 10, 4, 3), 2.0 / 3.0, 1e-10);
  EXPECT_EQ(tool.hygeinv(0.5, 10, 4, 3), 1.0);
  EXPECT_EQ(tool.hygeinv(0.0, 10, 4, 3), 0.0);
  // Support starts at 3 here: C(8,3) C(2,2) = 56 and C(8,4) C(2,1) = 140 of
  // C(10,5) = 252.
  EXPECT_NEAR(tool.hygecdf(4, 10, 8, 5), 196.0 / 252.0, 1e-10);
  EXPECT_EQ(tool.hygecdf(2, 10, 8, 5), 0.0);
  EXPECT_EQ(tool.hygeinv(0.1, 10, 8, 5), 3.0);

  EXPECT_EQ(tool.unidpdf(3, 4), 0.25);
  EXPECT_TRUE(std::isnan(tool.unidpdf(5, 4)));
  EXPECT_EQ(tool.unidcdf(3, 4), 0.75);
  EXPECT_EQ(tool.unidcdf(7, 4), 1.0);
  EXPECT_EQ(tool.unidinv(0.6, 5), 3.0);
  EXPECT_TRUE(std::isnan(tool.unidinv(0.0, 5)));
}

TEST(StatisticDiscrete, CheckMessages) {
  using T = StatisticTool;
  expectRejections({
      {[](T& t) { return t.poisspdf(1, -1); }, "the parameter lambda is not correct!"},
      {[](T& t) { return t.poisspdf(-1, 1); }, "the parameter lambda or x is not correct!"},
      {[](T& t) { return t.poisspdf(2, 0); }, "the parameter lambda or x is not correct!"},
      {[](T& t) { return t.poisscdf(1, -1); }, "parameter lambda is not correct!"},
      {[](T& t) { return t.poisscdf(-1, 1); }, "parameter is not correct!"},
      {[](T& t) { return t.binopdf(1, 2, 1.5); }, "probability should in the range of (0,1)"},
      {[](T& t) { return t.binopdf(3, 2, 0.5); }, "the parameter of x or n is not correct!"},
      {[](T& t) { return t.binocdf(1, -2, 0.5); },
       "parameter of n should be great than 0, or the p should be in (0, 1)"},
      {[](T& t) { return t.binocdf(3, 2, 0.5); }, "parameter of x should be in (0, n)"},
      {[](T& t) { return t.nbinpdf(1, 0, 0.5); }, "the parameter is not correct!"},
      {[](T& t) { return t.nbinpdf(1, 1, 0.0); }, "the parameter is not correct!"},
      {[](T& t) { return t.nbincdf(-1, 1, 0.5); }, "parameter is not correct!"},
      {[](T& t) { return t.nbincdf(1, 0, 0.5); }, "parameter is not correct!"},
      {[](T& t) { return t.geopdf(1, 0.0); }, "the parameter of p is not correct!"},
      {[](T& t) { return t.geocdf(1, 1.5); }, "parameter p is not correct!"},
      {[](T& t) { return t.hygepdf(1, 3, 4, 2); }, "the parameter of p is not correct!"},
      {[](T& t) { return t.hygepdf(0, 10, 8, 5); }, "the parameter of p is not correct!"},
      {[](T& t) { return t.hygecdf(4, 10, 4, 3); }, "parameter is not correct!"},
      {[](T& t) { return t.unidpdf(1, 0); }, "the parameters n is not correct!"},
      {[](T& t) { return t.unidcdf(0, 4); }, "parameter n or x is not correct!"},
  });
  // Valid arguments print nothing, including sums over counts outside the
  // support and the boundary probabilities.
  StatisticTool tool;
  EXPECT_EQ(capture([&] {
              tool.nbinpdf(0, 1, 0.5);
              tool.poisscdf(4, 0.0);
              tool.binocdf(3, 5, 0.0);
              tool.hygecdf(4, 10, 8, 5);
              tool.hygeinv(0.5, 10, 8, 5);
            }),
            "");
}

}  // namespace
