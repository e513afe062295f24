#include <gtest/gtest.h>

#include "core/MemoryClass.h"

namespace {

TEST(MemoryClass, MatrixCountsRowsPlusTheTable) {
  testing::internal::CaptureStdout();
  {
    MemoryClass<double> tracker;
    double** m = nullptr;
    ASSERT_TRUE(tracker.Matrix(m, 3, 4));
    EXPECT_EQ(tracker.Count(), 4);
    tracker.FreeMatrix(m, 3);
    EXPECT_EQ(tracker.Count(), 0);
    ASSERT_TRUE(tracker.Matrix(m, 0, 4));
    EXPECT_EQ(tracker.Count(), 1);
    tracker.FreeMatrix(m, 0);
    int** rowsSetByCaller = nullptr;
    MemoryClass<int> ints;
    int row[2] = {1, 2};
    ASSERT_TRUE(ints.Matrix(rowsSetByCaller, 1));
    rowsSetByCaller[0] = row;
    EXPECT_EQ(ints.Count(), 1);
    ints.FreeMatrix(rowsSetByCaller);
    EXPECT_EQ(ints.Count(), 0);
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(MemoryClass, DestructorSweepsForgottenBlocksSilently) {
  testing::internal::CaptureStdout();
  {
    MemoryClass<char> tracker;
    char* v = nullptr;
    double** unused = nullptr;
    tracker.Vector(v, 10);
    MemoryClass<double> doubles;
    doubles.Matrix(unused, 3, 4);
    EXPECT_EQ(tracker.Count(), 1);
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(MemoryClass, ReleasingAForeignBlockWarnsWithANegativeCount) {
  testing::internal::CaptureStdout();
  {
    MemoryClass<int> tracker;
    tracker.FreeVector(new int[3]);
    tracker.FreeVector(nullptr);
    tracker.FreeMatrix(nullptr, 5);
    EXPECT_EQ(tracker.Count(), -1);
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\nCritical Warning, there are some memory forgoten released!"
            "\nTotal unreleased memory block is : -1 \nPlease Check...!\n");
}

TEST(MemoryClass, ManyReleasesStayCheap) {
  MemoryClass<double> tracker;
  for (int round = 0; round < 200000; ++round) {
    double* v = nullptr;
    tracker.Vector(v, 4);
    tracker.FreeVector(v);
  }
  EXPECT_EQ(tracker.Count(), 0);
}

}  // namespace
