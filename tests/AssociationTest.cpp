// The association test: the statistics on known residuals, and whole result
// files compared byte for byte with golden files kept in tests/golden. The
// golden files without "intercept" in their names are the results of earlier
// versions, which --adjustment legacy must keep reproducing.
// Set OMBRA_REGENERATE=1 to rewrite the golden files after an intended
// change, and read the diff before committing it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "HeldRows.h"
#include "TestSupport.h"
#include "association/BlockTest.h"
#include "association/StatisticTerms.h"
#include "numerics/OpenBlas.h"
#include "outputs/ResultTable.h"
#include "stats/statistic.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

// Family pedigree A: (y, g) = (1, 2), (-1, 0); B: (0.5, 1), (0.5, 1);
// three unrelated individuals: (1, 1), (-1, 0), (0, 2).
// Statistic k of a SNP's result as the fixed layout writes it.
std::string fixedStatistic(const ombra::SnpResult& result, size_t k) {
  std::string out;
  ombra::columns::fixedStatisticOrNA(out, result.values[ombra::base::statistic(k)], false);
  ombra::columns::fixedPValueOrNA(out, result.values[ombra::base::fixedP(k)], false);
  return out;
}

// A result with the base columns, as a test of no model starts it.
ombra::SnpResult untestedResult() {
  ombra::SnpResult result;
  result.values = ombra::resultColumns({}).untestedValues();
  return result;
}

TEST(StatisticTerms, WorkedExampleGivesThreeStatisticsAndTheirPValues) {
  const ombra::StatisticTerms statistics({1, -1, 0.5, 0.5, 1, -1, 0}, 4, {2, 4});
  ombra::TermsBatch batch;
  const ombra::SnpTerms& terms = statistics.snpTerms({2, 0, 1, 1, 1, 0, 2}, batch);
  ombra::SnpResult result = untestedResult();
  StatisticTool tool;
  statistics.statistics(terms, tool, result);
  EXPECT_EQ(fixedStatistic(result, 0), "       2.700000        1.003482e-01");
  EXPECT_EQ(fixedStatistic(result, 1), "       1.606557        2.049764e-01");
  EXPECT_EQ(fixedStatistic(result, 2), "       1.639405        2.004071e-01");
}

TEST(StatisticTerms, DegenerateDataGiveIeeeResults) {
  StatisticTool tool;
  ombra::TermsBatch batch;
  // One counted pedigree: its spread divides 0 by 0.
  const ombra::StatisticTerms onePedigree({1, -1, 0.5, 0.5, 1, -1, 0}, 4, {4, 4});
  ombra::SnpResult result = untestedResult();
  onePedigree.statistics(onePedigree.snpTerms({2, 0, 1, 1, 1, 0, 2}, batch), tool, result);
  EXPECT_EQ(fixedStatistic(result, 1), "             NA                  NA");
  // One pedigree alone: SS has no spread to weigh it by either.
  const ombra::StatisticTerms pedigreeOnly({1, -1, 0.5, 0.5}, 4, {4});
  pedigreeOnly.statistics(pedigreeOnly.snpTerms({2, 0, 1, 1}, batch), tool, result);
  EXPECT_EQ(fixedStatistic(result, 0), "             NA                  NA");
  // Unrelated data only, no association: T = 0 and p = 1.
  const ombra::StatisticTerms unrelated({1, -1, 1, -1}, 0, {});
  unrelated.statistics(unrelated.snpTerms({1, 1, 2, 2}, batch), tool, result);
  EXPECT_EQ(fixedStatistic(result, 0), "       0.000000        1.000000e+00");
}

// The block route (matrix products over a block of SNPs, eight SNPs' terms
// in the lanes) against the one-SNP route on the same tested sample: the
// same statistics up to the rounding of the products, whatever the block's
// width and where it starts.
TEST(BlockTest, AgreesWithOneSnpAtATime) {
  if (!ombra::openBlas().loaded()) GTEST_SKIP() << "OpenBLAS is not there: the block route is not taken";
  constexpr size_t kPeople = 37, kSnps = 21;
  std::mt19937 random(7);
  std::vector<std::vector<unsigned char>> packed(kPeople, std::vector<unsigned char>((kSnps + 3) / 4, 0));
  ombra::TestedSample sample;
  for (size_t i = 0; i < kPeople; ++i) {
    for (size_t s = 0; s < kSnps; ++s) {
      const unsigned code = random() % 10 == 0 ? 3 : random() % 3;
      packed[i][s / 4] |= static_cast<unsigned char>(code << (2 * (3 - s % 4)));
    }
    sample.entries.push_back(ombra::GenotypeEntry{SetKind::kUnrelated, static_cast<int>(i)});
    sample.traits.push_back(static_cast<double>(random() % 100) / 10.0);
  }
  sample.familyEntries = 20;
  sample.familyEntryEnd = {3, 7, 7, 12, 20};
  ombra::DesignMatrix design;
  design.entries = kPeople;
  design.columns = 2;
  for (size_t i = 0; i < kPeople; ++i) design.values.push_back(1.0);
  for (size_t i = 0; i < kPeople; ++i) design.values.push_back(std::sin(static_cast<double>(i)));
  std::vector<double> fill(kSnps);
  std::vector<Marker> markers(kSnps);
  for (size_t s = 0; s < kSnps; ++s) fill[s] = 0.5 + 0.05 * static_cast<double>(s);

  const ombra::Projection projection(design);
  std::vector<double> trait = sample.traits;
  projection.residualise(trait);
  const ombra::StatisticTerms terms(trait, sample.familyEntries, sample.familyEntryEnd);
  const ombra::BlockTest blocks(sample, projection, terms,
                                ombra::ResultLayout(ombra::ResultFormat::kFixed, ombra::resultColumns({})));
  const testing_support::HeldRows rows(packed, fill, markers);
  ombra::BlockTest::Scratch scratch;
  ombra::BlockTest::Output first, second;
  ombra::GenotypeBlock block = rows.block(0, 16, 16);
  blocks.testBlock(block, scratch, first);
  block = rows.block(16, kSnps - 16, 24);
  blocks.testBlock(block, scratch, second);
  first.results.insert(first.results.end(), second.results.begin(), second.results.end());
  ASSERT_EQ(first.results.size(), kSnps);

  ombra::TermsBatch batch;
  StatisticTool tool;
  for (size_t s = 0; s < kSnps; ++s) {
    std::vector<double> g(kPeople);
    for (size_t i = 0; i < kPeople; ++i) {
      const int code = genotypeCode(packed[i].data(), s);
      g[i] = code == 3 ? fill[s] : code;
    }
    projection.residualise(g);
    ombra::SnpResult expected = untestedResult();
    terms.statistics(terms.snpTerms(g, batch), tool, expected);
    for (size_t k = 0; k < 3; ++k) {
      const size_t c = ombra::base::statistic(k);
      EXPECT_NEAR(first.results[s].values[c], expected.values[c], 1e-9 * (1 + expected.values[c]))
          << "snp " << s << " statistic " << k;
    }
  }
}

std::string goldenPath(const std::string& name) { return std::string(OMBRA_SOURCE_DIR) + "/tests/golden/" + name; }

void expectGolden(const std::string& actual, const std::string& name) {
  if (std::getenv("OMBRA_REGENERATE") != nullptr) {
    testing_support::writeFile(goldenPath(name), actual);
    return;
  }
  EXPECT_EQ(actual, testing_support::readFile(goldenPath(name))) << "golden file " << name;
}

// Standard output without its last line, the elapsed time.
std::string withoutElapsed(const std::string& out) {
  const size_t last = out.rfind("Elapse time : ");
  return last == std::string::npos ? out : out.substr(0, last);
}

const char* const kMap =
    "1 mono 0 1\n1 allSecond 0 2\n1 allSecondMissing 0 3\n1 a_snp_name_longer_than_twenty 0 4\n"
    "2 rs5 0 5\n2 rs6 0 6\n2 rs7 0 7\n";
// F2's members all lack a trait; F1 4 lacks one too. Its first line names
// allele A of the all-second SNPs so that G becomes the second allele.
const char* const kFamily =
    "F1 1 0 0 1 0 A A A A A A C C A G T T C G\n"
    "F1 2 0 0 2 1 A A G G G G C T A A T T C C\n"
    "F1 3 1 2 1 2 A A G G G G T T G G T C G G\n"
    "F1 4 1 2 2 0 A A G G G G C T A G C C C G\n"
    "F2 5 0 0 1 0 A A G G G G C C A A T C C C\n"
    "F2 6 0 0 2 0 A A G G 0 0 T T A G T T G G\n"
    "F3 7 0 0 1 1 A A G G G G C C A A C C C G\n"
    "F3 8 0 0 2 2 A A G G 0 0 C T G G T C G G\n"
    "F3 9 7 8 1 2 A A G G G G C T A G T C C G\n";
// U holds three individuals under one family ID.
const char* const kUnrelated =
    "U 11 0 0 1 1 A A G G G G C C A A T T C C\n"
    "U 12 0 0 2 2 A A G G G G T T G G C C G G\n"
    "U 13 0 0 1 2 A A G G G G C T A G T C C G\n"
    "V 14 0 0 2 1 A A G G G G C C A A T T C G\n"
    "W 15 0 0 1 0 A A G G G G C T G G T C G G\n"
    "X 16 0 0 2 2 A A G G G G T T A G C C C C\n"
    "Y 17 0 0 1 1 A A G G G G C C A A T T C G\n"
    "Z 18 0 0 2 2 A A G G G G C T G G T C G G\n";

class ResultFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.write("fam.map", kMap);
    dir.write("fam.ped", kFamily);
    dir.write("unr.map", kMap);
    dir.write("unr.ped", kUnrelated);
  }
  // Runs ombra with `args` under both adjustments; the result file and the
  // console must match the golden files of `name` (legacy) and of
  // `name`.intercept (the default).
  void expectRun(const std::vector<std::string>& args, const std::string& name) {
    std::vector<std::string> legacy = args;
    legacy.insert(legacy.end(), {"--adjustment", "legacy"});
    expectRunWith(legacy, name);
    expectRunWith(args, name + ".intercept");
  }
  void expectRunWith(const std::vector<std::string>& args, const std::string& name) {
    const RunResult run = runOmbra(dir.path(), args);
    EXPECT_EQ(run.status, 0) << run.out;
    expectGolden(dir.read("result.txt"), name + ".result.txt");
    expectGolden(withoutElapsed(run.out), name + ".stdout.txt");
  }
  TempDir dir;
};

TEST_F(ResultFiles, BothDataSets) { expectRun({"--f", "fam", "--i", "unr", "--p", "2"}, "both"); }

TEST_F(ResultFiles, FamilyOnly) { expectRun({"--f", "fam", "--p", "1"}, "family_only"); }

TEST_F(ResultFiles, UnrelatedOnly) { expectRun({"--i", "unr", "--p", "1"}, "unrelated_only"); }

TEST_F(ResultFiles, NoComponents) { expectRun({"--f", "fam", "--i", "unr", "--p", "0"}, "no_components"); }

TEST_F(ResultFiles, SavedComponentsLoadedWithSaveAlsoGiven) {
  for (const std::string adjustment : {"legacy", "intercept"}) {
    const std::string name = adjustment == "legacy" ? "both" : "both.intercept";
    RunResult run =
        runOmbra(dir.path(), {"--f", "fam", "--i", "unr", "--p", "2", "--op", "pca.txt", "--adjustment", adjustment});
    ASSERT_EQ(run.status, 0) << run.out;
    expectGolden(dir.read("pca.txt"), name + ".pca.txt");
    expectGolden(dir.read("pca.Eigen_Loading.txt"), name + ".Eigen_Loading.txt");
    expectRunWith({"--f", "fam", "--i", "unr", "--p", "2", "--op", "other.txt", "--rp", "pca.txt", "--adjustment",
                   adjustment},
                  adjustment == "legacy" ? "reloaded" : "reloaded.intercept");
    EXPECT_FALSE(dir.exists("other.txt"));
  }
}

TEST_F(ResultFiles, OutNamesTheResultFile) {
  const RunResult run = runOmbra(dir.path(), {"--f", "fam", "--p", "1", "--out", "res.txt"});
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(dir.exists("result.txt"));
  expectGolden(dir.read("res.txt"), "family_only.intercept.result.txt");
  const RunResult failed = runOmbra(dir.path(), {"--f", "fam", "--p", "1", "--out", "no/res.txt"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.out.find("The output no/res.txt of --out cannot be written: its folder no does not exist.\n"),
            std::string::npos);
}

// The bundled example, with and without recoding to the binary format first:
// a binary set made from a text set gives the same result file.
TEST(ExampleData, WholeRunTextAndBinary) {
  TempDir dir;
  const std::string examples = std::string(OMBRA_SOURCE_DIR) + "/examples/";
  RunResult run =
      runOmbra(dir.path(), {"--f", examples + "family", "--i", examples + "unrelated", "--adjustment", "legacy"});
  ASSERT_EQ(run.status, 0) << run.out;
  expectGolden(dir.read("result.txt"), "example.result.txt");
  run = runOmbra(dir.path(), {"--f", examples + "family", "--i", examples + "unrelated"});
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string textResult = dir.read("result.txt");
  expectGolden(textResult, "example.intercept.result.txt");

  ASSERT_EQ(runOmbra(dir.path(), {"--f", examples + "family", "--make-bed", "fam"}).status, 0);
  ASSERT_EQ(runOmbra(dir.path(), {"--i", examples + "unrelated", "--make-bed", "unr"}).status, 0);
  run = runOmbra(dir.path(), {"--bf", "fam", "--bi", "unr", "--out", "binary.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(dir.read("binary.txt"), textResult);
}

}  // namespace
