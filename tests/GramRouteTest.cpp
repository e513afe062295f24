// The Gram route of the decomposition against the Golub-Reinsch SVD.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>

#include "numerics/Matrix.h"
#include "numerics/GramComponents.h"
#include "numerics/IntegerGram.h"
#include "numerics/MatrixTeam.h"
#include "numerics/OpenBlas.h"
#include "TestSupport.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

// Genotype codes of two populations, column-major in a packed store as the
// program keeps it, with missing calls: `missingRate` of every row, and
// rows `denseFrom` .. end missing in a third of their columns; the last row
// is missing everywhere and the one before it monomorphic.
struct Genotypes {
  int rows = 0;
  int cols = 0;
  std::vector<std::vector<int>> code;  // [row][column]
  std::vector<std::vector<unsigned char>> packed;  // per column
  ombra::PackedGenotypes view;
};

Genotypes genotypes(int rows, int cols, double missingRate, int denseFrom, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(0.05, 0.95);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  Genotypes g;
  g.rows = rows;
  g.cols = cols;
  g.code.assign(size_t(rows), std::vector<int>(size_t(cols)));
  for (int s = 0; s < rows; ++s) {
    const double p[2] = {uniform(random), uniform(random)};
    const double missing = s >= denseFrom ? 1.0 / 3 : missingRate;
    for (int j = 0; j < cols; ++j) {
      std::binomial_distribution<int> copies(2, p[j % 3 == 0]);
      const int value = copies(random);
      g.code[s][j] = unit(random) < missing ? 3 : value;
      if (s == rows - 2) g.code[s][j] = 1;
      if (s == rows - 1) g.code[s][j] = 3;
    }
  }
  g.packed.assign(size_t(cols), std::vector<unsigned char>(size_t(rows + 3) / 4, 0));
  for (int j = 0; j < cols; ++j) {
    for (int s = 0; s < rows; ++s) g.packed[j][s / 4] |= static_cast<unsigned char>(g.code[s][j] << (2 * (3 - s % 4)));
    g.view.columns.push_back(g.packed[j].data());
  }
  for (int s = 0; s < rows; ++s) {
    g.view.snps.push_back(s);
    g.view.fill.push_back(0.25 + 1.5 * unit(random));
  }
  return g;
}

// A, centred as the program centres it, in long double.
std::vector<std::vector<long double>> centred(const Genotypes& g) {
  std::vector<std::vector<long double>> a(size_t(g.rows), std::vector<long double>(size_t(g.cols)));
  for (int s = 0; s < g.rows; ++s) {
    long double sum = 0;
    for (int j = 0; j < g.cols; ++j) sum += a[s][j] = g.code[s][j] == 3 ? g.view.fill[s] : g.code[s][j];
    for (int j = 0; j < g.cols; ++j) a[s][j] -= sum / g.cols;
  }
  return a;
}

// Largest |G - A'A| over the upper triangle, relative to the largest |A'A|.
double gramError(const Genotypes& g, const std::vector<double>& gram) {
  const auto a = centred(g);
  long double worst = 0, largest = 0;
  for (int i = 0; i < g.cols; ++i) {
    for (int j = i; j < g.cols; ++j) {
      long double exact = 0;
      for (int s = 0; s < g.rows; ++s) exact += a[s][i] * a[s][j];
      largest = std::max(largest, std::fabs(exact));
      worst = std::max(worst, std::fabs(exact - gram[size_t(i) * g.cols + j]));
    }
  }
  return static_cast<double>(worst / largest);
}

std::vector<double> upperTriangle(const std::vector<double>& gram, int cols) {
  std::vector<double> upper;
  for (int i = 0; i < cols; ++i) upper.insert(upper.end(), gram.begin() + i * cols + i, gram.begin() + (i + 1) * cols);
  return upper;
}

// The integer Gram kernels: every kernel this processor runs, alone or with
// helpers, gives Y'Y exactly in the upper triangle over the rows it is told
// to use (a row count and a column count that fill no whole group or tile;
// the lower triangle untouched), added to what the product held.
TEST(GramRoute, IntegerProductsAreExactInEveryKernel) {
  constexpr int kRows = 203, kCols = 61;
  std::mt19937 random(5);
  std::vector<int8_t> values(size_t(kRows) * kCols);
  for (int8_t& value : values) value = static_cast<int8_t>(int(random() % 3) - 1);
  std::vector<char> use(kRows, 1);
  for (int r = 0; r < kRows; r += 7) use[size_t(r)] = 0;
  std::vector<int32_t> expected(size_t(kCols) * kCols, 3);
  for (int i = 0; i < kCols; ++i) {
    for (int j = i; j < kCols; ++j) {
      for (int r = 0; r < kRows; ++r) {
        if (use[size_t(r)])
          expected[size_t(i) * kCols + j] += values[size_t(r) * kCols + i] * values[size_t(r) * kCols + j];
      }
    }
  }
  std::vector<uint32_t> scratch;
  for (int threads : {1, 3}) {
    matrixsvd::Team team(threads);
    for (int level = 0; level <= static_cast<int>(ombra::widestVectorLevel()); ++level) {
      std::vector<int32_t> products(size_t(kCols) * kCols, 3);
      // In two blocks of rows, the first not a whole group of four.
      ombra::addIntegerProductsAt(static_cast<ombra::VectorLevel>(level), values.data(), use.data(), 10, kCols,
                                  products.data(), team, scratch);
      ombra::addIntegerProductsAt(static_cast<ombra::VectorLevel>(level), values.data() + 10 * kCols, use.data() + 10,
                                  kRows - 10, kCols, products.data(), team, scratch);
      EXPECT_EQ(products, expected) << "level " << level << ", " << threads << " threads";
    }
  }
}

TEST(GramRoute, GramMatrixFromIntegerProductsEqualsTheCentredProduct) {
  // Sparse missing calls (alone and several to a row), rows dense in them
  // (their own product), no missing calls, and more rows than one block.
  struct Case {
    int rows, cols;
    double missing;
    int denseFrom;
  };
  for (const Case c : {Case{300, 37, 0.02, 290}, Case{4100, 50, 0.01, 4090}, Case{200, 33, 0.0, 200},
                       Case{20, 60, 0.05, 20}, Case{300, 256, 0.02, 295}}) {
    SCOPED_TRACE(std::to_string(c.rows) + " x " + std::to_string(c.cols));
    const Genotypes g = genotypes(c.rows, c.cols, c.missing, c.denseFrom, 5);
    std::vector<double> means;
    const std::vector<double> gram = ombra::gramMatrix(g.view, means, 2);
    EXPECT_LT(gramError(g, gram), 1e-13);
    ASSERT_EQ(means.size(), size_t(c.rows));
    for (int s = 0; s < c.rows; ++s) {
      long double sum = 0;
      for (int j = 0; j < c.cols; ++j) sum += g.code[s][j] == 3 ? g.view.fill[s] : g.code[s][j];
      EXPECT_NEAR(means[s], static_cast<double>(sum / c.cols), 1e-15);
    }
  }
}

TEST(GramRoute, GramMatrixIsTheSameAtEveryThreadCountAndSnpLayout) {
  const Genotypes g = genotypes(2500, 45, 0.02, 2480, 9);
  std::vector<double> means;
  std::vector<std::vector<double>> grams;
  for (int threads : {1, 2, 3, 12}) {
    ombra::setBlasThreads(threads);
    grams.push_back(upperTriangle(ombra::gramMatrix(g.view, means, threads), g.cols));
  }
  for (size_t k = 1; k < grams.size(); ++k) EXPECT_EQ(grams[0], grams[k]) << k;
  // The same rows taken from every other slot of a wider store decode one
  // SNP at a time instead of four to a byte: the same bits.
  Genotypes wide = genotypes(2 * g.rows, g.cols, 0.0, 2 * g.rows, 9);
  for (int j = 0; j < g.cols; ++j) {
    std::fill(wide.packed[j].begin(), wide.packed[j].end(), 0);
    for (int s = 0; s < g.rows; ++s) {
      const int slot = 2 * s + 1;
      wide.packed[j][slot / 4] |= static_cast<unsigned char>(g.code[s][j] << (2 * (3 - slot % 4)));
    }
  }
  wide.view.snps.clear();
  for (int s = 0; s < g.rows; ++s) wide.view.snps.push_back(2 * s + 1);
  wide.view.fill = g.view.fill;
  EXPECT_EQ(upperTriangle(ombra::gramMatrix(wide.view, means, 2), g.cols), grams[0]);
}

// Wide enough that OpenBLAS's threads would share the decomposition and the
// loadings' products: every bit the same at any thread count.
TEST(GramRoute, ComponentsAreTheSameBitsAtEveryThreadCount) {
  const Genotypes g = genotypes(3000, 600, 0.02, 2990, 5);
  std::vector<ombra::LeadingComponents> runs(2);
  for (int threads : {1, 2}) {
    ombra::setBlasThreads(threads);  // as the run sets it before the route
    ASSERT_TRUE(ombra::gramComponents(g.view, 10, threads, runs[threads - 1], nullptr));
  }
  EXPECT_EQ(runs[0].singularValues, runs[1].singularValues);
  EXPECT_EQ(runs[0].loadings, runs[1].loadings);
}

TEST(GramRoute, AgreesWithTheExactDecompositionUpToSign) {
  for (const int m : {400, 30, 5000}) {  // tall, wide (rank below n) and more than two blocks of rows
    SCOPED_TRACE("rows " + std::to_string(m));
    const int n = 40;
    const int wanted = 6;
    const Genotypes g = genotypes(m, n, 0.02, m - 3, 11);
    const auto centredRows = centred(g);
    std::vector<std::vector<double>> exactRows(size_t(m + 1), std::vector<double>(size_t(n + 1), 0.0));
    std::vector<double*> exact;
    for (int i = 0; i < m; ++i) {
      for (int j = 0; j < n; ++j) exactRows[i + 1][j + 1] = static_cast<double>(centredRows[i][j]);
    }
    for (auto& row : exactRows) exact.push_back(row.data());
    std::vector<std::vector<double>> vRows(size_t(n + 1), std::vector<double>(size_t(n + 1), 0.0));
    std::vector<double*> exactV;
    for (auto& row : vRows) exactV.push_back(row.data());
    std::vector<double> exactW(n + 1);
    Matrix matrix;
    matrix.svdcmp(exact.data(), m, n, exactW.data(), exactV.data(), 2);

    int visits = 0;
    ombra::LeadingComponents fast;
    ASSERT_TRUE(ombra::gramComponents(g.view, wanted, 2, fast, [&](int count) { visits += count; }));
    EXPECT_EQ(visits, 3 * m);  // the rows are streamed, never held

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
      const double sign = exact[1][e] * loading(1) >= 0 ? 1.0 : -1.0;
      int largestRow = 1;
      for (int i = 1; i <= m; ++i) {
        EXPECT_NEAR(loading(i), sign * exact[i][e], 1e-7) << "U " << i << " " << k;
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
