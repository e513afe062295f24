// The Gram route of the decomposition against the Golub-Reinsch SVD.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>

#include "Matrix.h"
#include "numerics/GramComponents.h"
#include "TestSupport.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

// A 1-based m x n matrix with its row table.
struct OneBased {
  OneBased(int rows, int cols) : data(size_t(rows + 1), std::vector<double>(size_t(cols + 1), 0.0)) {
    for (auto& row : data) pointers.push_back(row.data());
  }
  double** rows() { return pointers.data(); }
  std::vector<std::vector<double>> data;
  std::vector<double*> pointers;
};

// Centred genotype-like values of two populations.
OneBased genotypes(int m, int n, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(0.05, 0.95);
  OneBased a(m, n);
  for (int i = 1; i <= m; ++i) {
    const double p[2] = {uniform(random), uniform(random)};
    double sum = 0;
    for (int j = 1; j <= n; ++j) {
      std::binomial_distribution<int> copies(2, p[j % 3 == 0]);
      sum += a.data[i][j] = copies(random);
    }
    for (int j = 1; j <= n; ++j) a.data[i][j] -= sum / n;
  }
  return a;
}

TEST(GramRoute, AgreesWithTheExactDecompositionUpToSign) {
  for (const int m : {400, 30, 5000}) {  // tall, wide (rank below n) and more than two blocks of rows
    SCOPED_TRACE("rows " + std::to_string(m));
    const int n = 40;
    const int wanted = 6;
    OneBased exact = genotypes(m, n, 11);
    const OneBased centred = exact;
    OneBased exactV(n, n);
    std::vector<double> exactW(n + 1);
    Matrix matrix;
    matrix.svdcmp(exact.rows(), m, n, exactW.data(), exactV.rows());

    int calls = 0;
    auto rows = [&](int first, int count, double* block) {
      ++calls;
      for (int r = 0; r < count; ++r) {
        std::copy(centred.data[first + r + 1].begin() + 1, centred.data[first + r + 1].end(), block + r * n);
      }
    };
    ombra::LeadingComponents fast;
    ASSERT_TRUE(ombra::gramComponents(m, n, wanted, rows, fast));
    const int blocks = (m + ombra::gramBlockRows(n) - 1) / ombra::gramBlockRows(n);
    EXPECT_EQ(calls, 2 * blocks);  // the matrix is streamed twice, never held

    std::vector<int> order(n);
    for (int j = 0; j < n; ++j) order[j] = j + 1;
    std::stable_sort(order.begin(), order.end(), [&](int x, int y) { return exactW[x] > exactW[y]; });
    const double largest = exactW[order[0]];
    ASSERT_EQ(fast.singularValues.size(), size_t(n));
    for (int k = 0; k < n; ++k) {
      // Singular values far below the largest are zero up to rounding in both.
      const double tolerance = exactW[order[k]] > 1e-3 * largest ? 1e-9 * exactW[order[k]] : 1e-7 * largest;
      EXPECT_NEAR(fast.singularValues[k], exactW[order[k]], tolerance) << k;
      if (k > 0) {
        EXPECT_GE(fast.singularValues[k - 1], fast.singularValues[k]);
      }
    }
    ASSERT_EQ(fast.loadings.size(), size_t(m) * wanted);
    for (int k = 0; k < std::min(wanted, m); ++k) {
      const int e = order[k];
      auto loading = [&](int i) { return fast.loadings[size_t(i - 1) * wanted + k]; };
      const double sign = exact.data[1][e] * loading(1) >= 0 ? 1.0 : -1.0;
      int largestRow = 1;
      for (int i = 1; i <= m; ++i) {
        EXPECT_NEAR(loading(i), sign * exact.data[i][e], 1e-7) << "U " << i << " " << k;
        if (std::fabs(loading(i)) > std::fabs(loading(largestRow))) largestRow = i;
      }
      EXPECT_GT(loading(largestRow), 0) << "sign rule of component " << k;
    }
  }
}

std::vector<double> numbersOf(const std::string& resultFile) {
  std::istringstream in(resultFile);
  std::vector<double> numbers;
  std::string word;
  while (in >> word) {
    char* end = nullptr;
    const double value = std::strtod(word.c_str(), &end);
    if (end != word.c_str() && *end == '\0') numbers.push_back(value);
  }
  return numbers;
}

TEST(GramRoute, WholeRunGivesTheSameStatisticsEitherWay) {
  TempDir dir;
  const std::string examples = std::string(OMBRA_SOURCE_DIR) + "/examples/";
  for (const char* method : {"exact", "fast"}) {
    const RunResult run = runOmbra(dir.path(), {"--f", examples + "family", "--i", examples + "unrelated",
                                                "--pca-method", method, "--out", std::string(method) + ".txt"});
    ASSERT_EQ(run.status, 0) << run.out;
  }
  const std::vector<double> exact = numbersOf(dir.read("exact.txt"));
  const std::vector<double> fast = numbersOf(dir.read("fast.txt"));
  ASSERT_EQ(exact.size(), fast.size());
  ASSERT_GT(exact.size(), 1000u);
  for (size_t i = 0; i < exact.size(); ++i) {
    EXPECT_NEAR(fast[i], exact[i], 1e-6 * std::max(1.0, std::fabs(exact[i]))) << i;
  }
}

TEST(GramRoute, OptionValueIsChecked) {
  TempDir dir;
  const RunResult run = runOmbra(dir.path(), {"--f", "x", "--pca-method", "quick"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "The option --pca-method takes exact, fast, approx or auto.\n");
}

}  // namespace
