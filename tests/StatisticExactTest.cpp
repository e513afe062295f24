// Fisher's exact test and the multiple-testing procedures.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "stats/statistic.h"

namespace {

// Keeps the log-factorial table's progress lines out of the test output.
double quietly(const std::function<double()>& action) {
  testing::internal::CaptureStdout();
  double result = action();
  testing::internal::GetCapturedStdout();
  return result;
}

TEST(StatisticExact, LogFactorialTableIsBuiltOnDemand) {
  StatisticTool tool;
  testing::internal::CaptureStdout();
  double p = tool.ExactTest(1, 0, 0, 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Size of Fisher Index : 3\n Finishing Index Initialize ......\n");
  EXPECT_NEAR(p, 0.5, 1e-15);
  testing::internal::CaptureStdout();
  tool.ExactTest(0, 1, 1, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  testing::internal::CaptureStdout();
  tool.ExactTest(2, 1, 0, 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Size of Fisher Index : 5\n Finishing Index Initialize ......\n");
}

TEST(StatisticExact, HypergeometricTableProbability) {
  StatisticTool tool;
  // (3, 1; 1, 3): C(4,3) C(4,1) / C(8,4) = 16 / 70.
  EXPECT_NEAR(quietly([&] { return tool.ExactTest(3, 1, 1, 3); }), 16.0 / 70.0, 1e-14);
  EXPECT_NEAR(tool.ExactTest(2, 3, 4, 1), tool.hygepdf(2, 10, 6, 5), 1e-9);
  EXPECT_TRUE(std::isnan(tool.ExactTest(-1, 2, 2, 1)));
}

TEST(StatisticExact, FisherTails) {
  StatisticTool tool;
  EXPECT_NEAR(quietly([&] { return tool.FisherExactTest(1, 0, 0, 1, 2); }), 1.0, 1e-14);
  EXPECT_NEAR(tool.FisherExactTest(1, 0, 0, 1, 0), 0.5, 1e-14);
  EXPECT_NEAR(tool.FisherExactTest(1, 0, 0, 1, 1), 1.0, 1e-14);
  // Fisher's tea-tasting table (3, 1; 1, 3).
  EXPECT_NEAR(quietly([&] { return tool.FisherExactTest(3, 1, 1, 3, 0); }), 17.0 / 70.0, 1e-14);
  EXPECT_NEAR(tool.FisherExactTest(3, 1, 1, 3, 1), 69.0 / 70.0, 1e-14);
  EXPECT_NEAR(tool.FisherExactTest(3, 1, 1, 3, 2), 34.0 / 70.0, 1e-14);
  EXPECT_NEAR(tool.FisherExactTest(3, 1, 1, 3, 7), 34.0 / 70.0, 1e-14);
  // (1, 9; 11, 3): a standard textbook case, two-sided p = 0.002759.
  EXPECT_NEAR(quietly([&] { return tool.FisherExactTest(1, 9, 11, 3, 2); }), 0.0027594, 1e-7);
  EXPECT_NEAR(tool.FisherExactTest(0, 0, 0, 0, 2), 1.0, 1e-14);
}

TEST(StatisticExact, TwoSidedPValueCountsTiesWhateverTheSummingOrder) {
  StatisticTool tool;
  quietly([&] { return tool.ExactTest(20, 20, 20, 20); });
  // Transposing a table or swapping its rows keeps the two-sided p-value;
  // equal-probability tables differ in the last bits with the order of the
  // log-factorial sums, and must still be counted.
  for (int a = 0; a <= 6; ++a)
    for (int b = 0; b <= 6; ++b)
      for (int c = 0; c <= 12; ++c)
        for (int d = 0; d <= 6; ++d) {
          double p = tool.FisherExactTest(a, b, c, d, 2);
          ASSERT_NEAR(p, tool.FisherExactTest(a, c, b, d, 2), 1e-12) << a << b << c << d;
          ASSERT_NEAR(p, tool.FisherExactTest(c, d, a, b, 2), 1e-12) << a << b << c << d;
        }
  EXPECT_NEAR(tool.FisherExactTest(1, 2, 10, 4, 2), tool.FisherExactTest(2, 1, 4, 10, 2), 1e-12);
}

TEST(StatisticExact, StepUpProcedures) {
  StatisticTool tool;
  const double p1[3] = {0.01, 0.04, 0.2};
  EXPECT_EQ(tool.LinStepUp(3, p1, 0.05), 1);
  const double p2[4] = {0.001, 0.02, 0.03, 0.9};
  EXPECT_EQ(tool.LinStepUp(4, p2, 0.1), 3);
  EXPECT_EQ(tool.LinStepUp(0, p2, 0.1), 0);
  const double none[2] = {0.3, 0.4};
  EXPECT_EQ(tool.LinStepUp(2, none, 0.05), 0);
  EXPECT_EQ(tool.ALinStepUp(2, none, 0.05), 0);
  // Every p-value at most q / (1 + q): all rejected.
  const double all[3] = {0.01, 0.02, 0.04};
  EXPECT_EQ(tool.ALinStepUp(3, all, 0.05), 3);
  // The adaptive second stage rejects more than the plain procedure.
  const double p3[5] = {0.005, 0.03, 0.05, 0.07, 0.4};
  EXPECT_EQ(tool.LinStepUp(5, p3, 0.1), 4);
  EXPECT_EQ(tool.ALinStepUp(5, p3, 0.1), 5);
}

TEST(StatisticExact, BonferroniStopsAtFirstEntryAboveLevel) {
  StatisticTool tool;
  const double p[3] = {0.01, 0.02, 0.001};
  EXPECT_EQ(tool.Bonferroni(3, p, 0.05), 1);
  const double q[3] = {0.001, 0.002, 0.0166};
  EXPECT_EQ(tool.Bonferroni(3, q, 0.05), 3);
  EXPECT_EQ(tool.Bonferroni(0, q, 0.05), 0);
}

}  // namespace
