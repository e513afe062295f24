// The open result model: a model added in this file alone reaches the
// table's header, both layouts, the notes, the genomic-control report and
// the plots' statistics by name; and the p-values of the three statistics,
// exact in the tsv table, keep their fixed-layout bytes but where 1 - cdf
// left nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "HeldRows.h"
#include "TestSupport.h"
#include "association/BlockTest.h"
#include "association/Model.h"
#include "association/Projection.h"
#include "association/Regression.h"
#include "association/StatisticTerms.h"
#include "numerics/OpenBlas.h"
#include "outputs/ResultSink.h"
#include "outputs/ResultTable.h"
#include "stats/statistic.h"
#include "stats/upperTail.h"

namespace {

// The plain regression's Wald test again, as a model of its own: its sums
// gathered from the stripes it is handed, and a note on every fifth SNP.
class OlsModel : public ombra::Model {
 public:
  explicit OlsModel(const ombra::TraitFit& fit) : trait(fit) {}

  std::vector<ombra::ColumnSpec> columns() const override {
    std::vector<ombra::ColumnSpec> specs = {{"BETA_OLS", ombra::columns::number, ombra::columns::fixedNumberOrNA}};
    for (const ombra::ColumnSpec& spec : ombra::chiSquareColumns("OLS", true)) specs.push_back(spec);
    return specs;
  }
  std::vector<ombra::NamedStatistic> statistics() const override { return {{"OLS", 1}}; }
  std::unique_ptr<ombra::ModelScratch> newScratch() const override { return std::make_unique<Sums>(); }
  void startBlock(const ombra::ResidualBlock& block, ombra::ModelScratch* scratch) const override {
    Sums& sums = static_cast<Sums&>(*scratch);
    sums.cross.assign(block.width, 0.0);
    sums.squares.assign(block.width, 0.0);
    sums.handed.assign(block.width, 0);
  }
  void takeStripe(const ombra::ResidualBlock& block, size_t begin, size_t end,
                  ombra::ModelScratch* scratch) const override {
    Sums& sums = static_cast<Sums&>(*scratch);
    for (size_t j = begin; j < end; ++j) {
      ++sums.handed[j];
      for (size_t h = 0; h < block.entries; ++h) {
        const double g = block.residuals[h * block.width + j];
        sums.cross[j] += g * trait.residuals[h];
        sums.squares[j] += g * g;
      }
    }
  }
  void finishBlock(const ombra::ResidualBlock& block, ombra::ModelScratch* scratch,
                   ombra::ModelRows rows) const override {
    const Sums& sums = static_cast<const Sums&>(*scratch);
    for (size_t j = 0; j < block.count; ++j) {
      if (block.results[j].monomorphic) continue;
      if (sums.handed[j] != 1) rows.note(j, "handed " + std::to_string(sums.handed[j]) + " times");
      const double floor = ombra::squaresFloor(1e-9 * static_cast<double>(block.entries), block.results[j].f);
      const ombra::WaldResult wald = ombra::waldTest(sums.cross[j], sums.squares[j], floor, trait);
      rows.value(j, 0) = wald.beta;
      rows.value(j, 1) = wald.statistic;
      rows.value(j, 2) = ombra::chiSquareUpperTail(wald.statistic, 1);
      rows.value(j, 3) = ombra::chiSquareLog10Tail(wald.statistic, 1);
      if (j % 5 == 0) rows.note(j, "fifth");
    }
  }

 private:
  struct Sums : ombra::ModelScratch {
    std::vector<double> cross, squares;
    std::vector<int> handed;
  };
  const ombra::TraitFit& trait;
};

TEST(ResultModel, AModelInOneFileReachesEveryOutput) {
  if (!ombra::openBlas().loaded()) GTEST_SKIP() << "OpenBLAS is not there: the block route is not taken";
  constexpr size_t kPeople = 41, kSnps = 36;
  std::mt19937 random(3);
  std::vector<std::vector<unsigned char>> packed(kPeople, std::vector<unsigned char>((kSnps + 3) / 4, 0));
  ombra::TestedSample sample;
  std::vector<size_t> called(kSnps, kPeople);  // per SNP: the individuals without code 3
  for (size_t i = 0; i < kPeople; ++i) {
    for (size_t s = 1; s < kSnps; ++s) {  // SNP 0 does not vary
      const unsigned code = random() % 9 == 0 ? 3 : random() % 3;
      packed[i][s / 4] |= static_cast<unsigned char>(code << (2 * (3 - s % 4)));
      called[s] -= code == 3;
    }
    sample.entries.push_back(ombra::GenotypeEntry{SetKind::kUnrelated, static_cast<int>(i)});
    sample.traits.push_back(static_cast<double>(random() % 50) / 7.0);
  }
  sample.familyEntries = 16;
  sample.familyEntryEnd = {4, 9, 16};
  ombra::DesignMatrix design;
  design.entries = kPeople;
  design.columns = 2;
  for (size_t i = 0; i < kPeople; ++i) design.values.push_back(1.0);
  for (size_t i = 0; i < kPeople; ++i) design.values.push_back(std::cos(static_cast<double>(i)));
  const std::vector<double> fill(kSnps, 0.8);
  std::vector<Marker> markers(kSnps);
  for (size_t s = 0; s < kSnps; ++s) {
    markers[s].snpId = "rs" + std::to_string(s);
    markers[s].allele2 = s % 2 == 0 ? "G" : "";
  }

  const ombra::Projection projection(design);
  std::vector<double> trait = sample.traits;
  projection.residualise(trait);
  const ombra::TraitFit plain = ombra::traitFit(trait, design.columns);
  const ombra::StatisticTerms terms(trait, sample.familyEntries, sample.familyEntryEnd);
  const OlsModel ols(plain);
  const ombra::ResultLayout tsv(ombra::ResultFormat::kTsv, ombra::resultColumns({&ols}));
  const ombra::ResultLayout fixed(ombra::ResultFormat::kFixed, ombra::resultColumns({&ols}));
  EXPECT_EQ(ombra::resultHeader(tsv).substr(ombra::resultHeader(tsv).find("INFO")),
            "INFO\tBETA_OLS\tSTAT_OLS\tP_OLS\tLOG10P_OLS\tNOTE\tEFFECT_ALLELE\tN_CALLED\n");

  const testing_support::HeldRows rows(packed, fill, markers);
  ombra::BlockTest::Scratch scratch;
  ombra::BlockTest::Output table, lines;
  for (const ombra::ResultLayout* layout : {&tsv, &fixed}) {
    const ombra::BlockTest blocks(sample, projection, terms, *layout, ombra::TraitModels{&plain, {&ols}});
    ombra::BlockTest::Output& out = layout == &tsv ? table : lines;
    ombra::GenotypeBlock block = rows.block(0, 16, 16);
    blocks.testBlock(block, scratch, out);
    // Three batches of eight in the second block: the last stripe is handed
    // over after the pass.
    block = rows.block(16, kSnps - 16, 24);
    blocks.testBlock(block, scratch, out);
  }
  ASSERT_EQ(table.results.size(), kSnps);
  const size_t first = ombra::base::kColumns;
  for (size_t s = 0; s < kSnps; ++s) {
    const std::vector<double>& v = table.results[s].values;
    if (s == 0) {
      EXPECT_TRUE(table.results[s].monomorphic);
      EXPECT_EQ(table.results[s].note, "monomorphic");
      EXPECT_TRUE(std::isnan(v[first]));
      continue;
    }
    // The model's Wald test is the plain regression's BETA SE.
    const double beta = v[ombra::base::kBeta], se = v[ombra::base::kSe];
    EXPECT_NEAR(v[first], beta, 1e-9 * std::fabs(beta)) << s;
    EXPECT_NEAR(v[first + 1], beta * beta / (se * se), 1e-9 * (1 + v[first + 1])) << s;
    EXPECT_EQ(table.results[s].note, (s < 16 ? s : s - 16) % 5 == 0 ? "fifth" : "") << s;  // per block
  }
  // Its columns close both layouts' lines: 15 + 15 + 20 characters more in
  // the fixed one.
  std::istringstream tableLines(table.lines), fixedLines(lines.lines);
  std::string tableLine, fixedLine;
  const ombra::ResultLayout plainFixed(ombra::ResultFormat::kFixed, ombra::resultColumns({}));
  for (size_t s = 0; std::getline(tableLines, tableLine) && std::getline(fixedLines, fixedLine); ++s) {
    std::string plainLine;
    ombra::appendResultLine(plainLine, plainFixed, markers[s], table.results[s]);
    EXPECT_EQ(fixedLine.substr(0, plainLine.size() - 1), plainLine.substr(0, plainLine.size() - 1)) << s;
    EXPECT_EQ(fixedLine.size(), plainLine.size() - 1 + 50) << s;
    // The table ends in NOTE, EFFECT_ALLELE (A2, NA when unknown) and
    // N_CALLED, the individuals whose genotype was not filled.
    const std::string note = table.results[s].note.empty() ? "NA" : table.results[s].note;
    const std::string effectAllele = s % 2 == 0 ? "G" : "NA";
    const std::string tail = "\t" + note + "\t" + effectAllele + "\t" + std::to_string(called[s]);
    EXPECT_EQ(tableLine.substr(tableLine.size() - tail.size()), tail) << s;
    EXPECT_EQ(table.results[s].called, called[s]) << s;
  }

  // The sink reports and plots it by name.
  testing_support::TempDir dir;
  testing::internal::CaptureStdout();
  {
    ombra::SinkSettings settings;
    settings.path = dir.file("ols.txt");
    settings.columns = ombra::resultColumns({&ols});
    ombra::ResultSink sink(std::move(settings));
    for (size_t s = 0; s < kSnps; ++s) sink.add(table.results[s], markers[s]);
    sink.reportGenomicControl();
  }
  const std::string report = testing::internal::GetCapturedStdout();
  EXPECT_NE(report.find("over the 35 tested snps: SS "), std::string::npos) << report;
  EXPECT_NE(report.find(", OLS "), std::string::npos) << report;
}

// Unrelated entries whose trait follows the genotype closely: SS far beyond
// what 1 - cdf can hold.
TEST(ResultModel, TinyPValuesAreExactAndTheFixedLayoutKeepsTheRest) {
  std::mt19937 random(11);
  std::normal_distribution<double> noise(0, 1);
  const size_t n = 400;
  std::vector<double> g(n), y(n);
  for (size_t i = 0; i < n; ++i) {
    g[i] = static_cast<double>(random() % 3);
    y[i] = g[i] + 0.25 * noise(random);
  }
  auto centred = [](std::vector<double> v) {
    double mean = 0;
    for (double x : v) mean += x / static_cast<double>(v.size());
    for (double& x : v) x -= mean;
    return v;
  };
  StatisticTool tool;
  ombra::TermsBatch batch;
  const ombra::StatisticTerms strong(centred(y), 0, {});
  ombra::SnpResult result;
  result.values = ombra::resultColumns({}).untestedValues();
  strong.statistics(strong.snpTerms(centred(g), batch), tool, result);
  const double ss = result.values[ombra::base::statistic(0)];
  ASSERT_GT(ss, 300);
  EXPECT_EQ(1 - tool.chi2cdf(ss, 1), 0);  // what was printed before
  const double p = ombra::chiSquareUpperTail(ss, 1);
  EXPECT_GT(p, 0);
  EXPECT_EQ(result.values[ombra::base::p(0)], p);
  EXPECT_EQ(result.values[ombra::base::fixedP(0)], p);
  EXPECT_EQ(result.values[ombra::base::log10p(0)], -std::log10(p));

  // A weak association: the fixed layout's p-value is 1 - cdf, as ever.
  std::vector<double> weak = y;
  for (size_t i = 0; i < n; ++i) weak[i] = noise(random) + 0.1 * g[i];
  const ombra::StatisticTerms other(centred(weak), 0, {});
  other.statistics(other.snpTerms(centred(g), batch), tool, result);
  const double x = result.values[ombra::base::statistic(0)];
  EXPECT_EQ(result.values[ombra::base::fixedP(0)], 1 - tool.chi2cdf(x, 1));
  // The tail itself differs from 1 - cdf only by the cdf's own error (its
  // series stop at a relative 1e-7 or so).
  EXPECT_NEAR(result.values[ombra::base::p(0)], 1 - tool.chi2cdf(x, 1), 1e-6 * result.values[ombra::base::p(0)]);
}

}  // namespace
