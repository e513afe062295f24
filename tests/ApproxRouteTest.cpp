// The approximate decomposition (randomized subspace iteration) against the
// Gram route, on the bundled example where both run.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "TestSupport.h"
#include "numerics/ApproxComponents.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

// The component scores of a PCA file, by component.
std::vector<std::vector<double>> scoreColumns(const std::string& text, size_t count) {
  std::vector<std::vector<double>> columns(count);
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string skip;
    for (int i = 0; i < 4; ++i) fields >> skip;
    for (size_t k = 0; k < count; ++k) {
      double value = 0;
      fields >> value;
      columns[k].push_back(value);
    }
  }
  return columns;
}

double correlation(const std::vector<double>& a, const std::vector<double>& b) {
  double ma = 0, mb = 0;
  for (size_t i = 0; i < a.size(); ++i) ma += a[i], mb += b[i];
  ma /= a.size();
  mb /= b.size();
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    ab += (a[i] - ma) * (b[i] - mb);
    aa += (a[i] - ma) * (a[i] - ma);
    bb += (b[i] - mb) * (b[i] - mb);
  }
  return ab / std::sqrt(aa * bb);
}

// The numbers of the loading file's first list (every singular value
// computed).
std::vector<double> singularValues(const std::string& loadingFile) {
  std::istringstream in(loadingFile);
  std::string line;
  std::getline(in, line);
  std::getline(in, line);
  std::istringstream values(line);
  std::vector<double> out;
  double value = 0;
  while (values >> value) out.push_back(value);
  return out;
}

TEST(ApproxRoute, AgreesWithTheGramRoute) {
  TempDir dir;
  const std::string examples = std::string(OMBRA_SOURCE_DIR) + "/examples/";
  for (const char* method : {"fast", "approx"}) {
    const RunResult run = runOmbra(dir.path(), {"--f", examples + "family", "--i", examples + "unrelated", "--p",
                                                "10", "--pca-method", method, "--op", std::string(method) + ".txt"});
    ASSERT_EQ(run.status, 0) << run.out;
  }
  const std::vector<double> exact = singularValues(dir.read("fast.Eigen_Loading.txt"));
  const std::vector<double> approx = singularValues(dir.read("approx.Eigen_Loading.txt"));
  ASSERT_EQ(approx.size(), 10u);  // only the computed values are listed
  ASSERT_GT(exact.size(), 10u);
  // Six digits printed.
  for (size_t k = 0; k < approx.size(); ++k) EXPECT_NEAR(approx[k], exact[k], 1e-5 * exact[k]) << k;

  const auto gram = scoreColumns(dir.read("fast.txt"), 10);
  const auto randomized = scoreColumns(dir.read("approx.txt"), 10);
  for (size_t k = 0; k < 10; ++k) EXPECT_GT(correlation(gram[k], randomized[k]), 0.9999) << "component " << k;

  // Seeded: the same files every time.
  const std::string first = dir.read("approx.txt");
  ASSERT_EQ(runOmbra(dir.path(), {"--f", examples + "family", "--i", examples + "unrelated", "--p", "10",
                                  "--pca-method", "approx", "--op", "approx.txt", "--threads", "1"})
                .status,
            0);
  EXPECT_EQ(dir.read("approx.txt"), first);
}

// Genotype-like columns of four populations, packed: a few strong
// components above a noise floor, as in a cohort; every 50th call missing.
struct Cohort {
  std::vector<std::vector<unsigned char>> packed;
  ombra::PackedGenotypes genotypes;
};

Cohort fourPopulations(int snps, int cols, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(0.05, 0.95);
  Cohort cohort;
  cohort.packed.assign(static_cast<size_t>(cols), std::vector<unsigned char>((snps + 3) / 4, 0));
  for (int s = 0; s < snps; ++s) {
    double p[4];
    for (double& value : p) value = uniform(random);
    for (int j = 0; j < cols; ++j) {
      std::binomial_distribution<int> copies(2, p[j % 4]);
      const int code = (s * cols + j) % 50 == 7 ? 3 : copies(random);
      cohort.packed[j][s / 4] |= static_cast<unsigned char>(code << (2 * (3 - s % 4)));
    }
    cohort.genotypes.snps.push_back(s);
    cohort.genotypes.fill.push_back(1.0);
  }
  for (const auto& column : cohort.packed) cohort.genotypes.columns.push_back(column.data());
  return cohort;
}

TEST(ApproxRoute, LeadingValuesAndVectorsMatchTheGramRoute) {
  const int snps = 3000;
  const int wanted = 4;
  const Cohort cohort = fourPopulations(snps, 120, 5);
  ombra::LeadingComponents gram, approx;
  ombra::ApproxReport report;
  ASSERT_TRUE(ombra::gramComponents(cohort.genotypes, wanted, 2, gram));
  ASSERT_TRUE(ombra::approxComponents(cohort.genotypes, wanted, approx, report));
  EXPECT_EQ(approx.means, gram.means);
  EXPECT_LE(report.errorBound, 1e-7);
  ASSERT_EQ(approx.singularValues.size(), static_cast<size_t>(wanted));
  for (int k = 0; k < wanted; ++k) {
    EXPECT_NEAR(approx.singularValues[k], gram.singularValues[k], 1e-6 * gram.singularValues[k]) << k;
  }
  // The three population axes are well separated from the noise: their
  // loadings agree closely (signs by the same rule).
  for (int k = 0; k < 3; ++k) {
    for (int s = 0; s < snps; ++s) {
      const size_t at = static_cast<size_t>(s) * wanted + k;
      EXPECT_NEAR(approx.loadings[at], gram.loadings[at], 1e-6) << "loading " << s << " of " << k;
    }
  }
}

// The passes in single precision end where double precision would: the
// confirming passes hold the result to double precision's accuracy, far
// inside what single precision alone would give (about 1e-7).
TEST(ApproxRoute, SinglePrecisionPassesGiveTheDoubleResult) {
  const int snps = 3000;
  const int wanted = 4;
  const Cohort cohort = fourPopulations(snps, 120, 5);
  ombra::LeadingComponents single, twice;
  ombra::ApproxReport singleReport, doubleReport;
  ombra::ApproxSettings settings;
  ASSERT_TRUE(ombra::approxComponents(cohort.genotypes, wanted, single, singleReport, settings));
  settings.singlePrecision = false;
  ASSERT_TRUE(ombra::approxComponents(cohort.genotypes, wanted, twice, doubleReport, settings));
  EXPECT_LE(singleReport.errorBound, 1e-7);
  for (int k = 0; k < wanted; ++k) {
    EXPECT_NEAR(single.singularValues[k], twice.singularValues[k], 1e-11 * twice.singularValues[k]) << k;
  }
  for (int k = 0; k < 3; ++k) {
    for (int s = 0; s < snps; ++s) {
      const size_t at = static_cast<size_t>(s) * wanted + k;
      EXPECT_NEAR(single.loadings[at], twice.loadings[at], 1e-9) << "loading " << s << " of " << k;
    }
  }
}

// A basis of three blocks, and components in the noise floor: the basis
// restarts from its leading Ritz vectors many times, and the singular
// values still meet the tolerance's promise.
TEST(ApproxRoute, RestartedBasisReachesTheTolerance) {
  const int wanted = 8;
  const Cohort cohort = fourPopulations(1500, 600, 11);
  ombra::LeadingComponents gram, approx;
  ombra::ApproxReport report;
  ombra::ApproxSettings settings;
  settings.basisBlocks = 3;
  ASSERT_TRUE(ombra::gramComponents(cohort.genotypes, wanted, 2, gram));
  ASSERT_TRUE(ombra::approxComponents(cohort.genotypes, wanted, approx, report, settings));
  EXPECT_GT(report.passes, 6);  // the basis restarted
  EXPECT_LE(report.errorBound, 1e-7);
  for (int k = 0; k < wanted; ++k) {
    EXPECT_NEAR(approx.singularValues[k], gram.singularValues[k], 1e-6 * gram.singularValues[k]) << k;
  }
}

// More components asked for than the centred matrix has: the last singular
// value is 0, and the iteration ends as soon as the rest have settled.
TEST(ApproxRoute, ComponentsBeyondTheRankEndPromptly) {
  Cohort cohort = fourPopulations(4, 200, 9);
  for (auto& column : cohort.packed) column[0] = static_cast<unsigned char>(column[0] & 0x3f);  // SNP 0: all 0
  ombra::LeadingComponents gram, approx;
  ombra::ApproxReport report;
  ASSERT_TRUE(ombra::gramComponents(cohort.genotypes, 4, 2, gram));
  ASSERT_TRUE(ombra::approxComponents(cohort.genotypes, 4, approx, report));
  EXPECT_LE(report.errorBound, 1e-7);
  EXPECT_LT(report.passes, 10);
  EXPECT_EQ(approx.singularValues[3], 0.0);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(approx.singularValues[k], gram.singularValues[k], 1e-6 * gram.singularValues[k]) << k;
  }
}

// The same numbers at every thread count; a pass limit that stops short
// says so in the report.
TEST(ApproxRoute, ThreadsChangeNothingAndTheLimitIsReported) {
  const Cohort cohort = fourPopulations(2000, 200, 3);
  ombra::ApproxSettings settings;
  ombra::LeadingComponents one, two;
  ombra::ApproxReport report;
  ASSERT_TRUE(ombra::approxComponents(cohort.genotypes, 5, one, report, settings));
  settings.threads = 2;
  ASSERT_TRUE(ombra::approxComponents(cohort.genotypes, 5, two, report, settings));
  EXPECT_EQ(one.singularValues, two.singularValues);
  EXPECT_EQ(one.loadings, two.loadings);

  settings.maxPasses = 2;
  int told = 0;
  ASSERT_TRUE(ombra::approxComponents(cohort.genotypes, 5, two, report, settings, [&](int passes) { told = passes; }));
  EXPECT_EQ(report.passes, 2);
  EXPECT_EQ(told, 2);
  EXPECT_GT(report.errorBound, settings.tolerance);
}

}  // namespace
