// Many phenotypes in one pass: the names --pheno-name picks, the names of
// each phenotype's outputs, the block test shared by several traits, and
// whole runs whose every phenotype must equal, byte for byte, a run of that
// phenotype alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "HeldRows.h"
#include "TestSupport.h"
#include "association/BlockTest.h"
#include "design/StudyDesign.h"
#include "design/TestedSample.h"
#include "numerics/OpenBlas.h"
#include "outputs/ResultSink.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

const std::vector<std::string> kColumns = {"LDL", "HDL", "TG", "HB-A1C", "all", "Z"};

std::vector<size_t> resolved(const std::string& request) {
  return ombra::resolvePhenotypeNames(kColumns, request, "ph.txt");
}

// The message a refused request stops with.
std::string refusal(const std::string& request) {
  const testing_support::StopShown stop = testing_support::stopOf([&] { resolved(request); });
  if (stop.status == 1) return stop.out;
  ADD_FAILURE() << request << " was taken";
  return std::string();
}

TEST(PhenotypeNames, NamesRangesAndAll) {
  EXPECT_EQ(resolved("LDL"), (std::vector<size_t>{0}));
  EXPECT_EQ(resolved("TG,LDL"), (std::vector<size_t>{2, 0}));
  EXPECT_EQ(resolved("HDL-HB-A1C"), (std::vector<size_t>{1, 2, 3}));
  // A column whose name holds a hyphen, or is "all", is that column.
  EXPECT_EQ(resolved("HB-A1C"), (std::vector<size_t>{3}));
  EXPECT_EQ(resolved("all"), (std::vector<size_t>{4}));
  EXPECT_EQ(resolved("LDL-LDL,Z"), (std::vector<size_t>{0, 5}));
  EXPECT_EQ(ombra::resolvePhenotypeNames({"A", "B", "C"}, "all", "f"), (std::vector<size_t>{0, 1, 2}));
}

TEST(PhenotypeNames, RefusalsNameTheOptionAndTheColumn) {
  EXPECT_EQ(refusal("LDL,X"), "The column X named by --pheno-name is not in the header of ph.txt.\n");
  EXPECT_EQ(refusal("TG,LDL,TG"), "The column TG is named twice by --pheno-name.\n");
  EXPECT_EQ(refusal("LDL-HDL,HDL"), "The column HDL is named twice by --pheno-name.\n");
  EXPECT_EQ(refusal("LDL-X"),
            "The range LDL-X named by --pheno-name needs columns at both ends, but X is not in the header of "
            "ph.txt.\n");
  EXPECT_EQ(refusal("X-TG"),
            "The range X-TG named by --pheno-name needs columns at both ends, but X is not in the header of "
            "ph.txt.\n");
  EXPECT_EQ(refusal("TG-LDL"),
            "The range TG-LDL named by --pheno-name runs backwards: the column LDL comes before TG in ph.txt.\n");
  EXPECT_EQ(refusal("LDL,"), "The option --pheno-name has an empty name in LDL,.\n");
  EXPECT_EQ(refusal("-LDL"), "The column -LDL named by --pheno-name is not in the header of ph.txt.\n");
}

// Two columns of one name: neither can be named, by its name, a range or
// "all"; the other columns can.
TEST(PhenotypeNames, ADuplicatedColumnNameIsRefused) {
  const std::vector<std::string> names = {"A", "B", "A", "C"};
  for (const char* request : {"A", "all", "A-B", "B-C", "C,A"}) {
    const testing_support::StopShown stop =
        testing_support::stopOf([&] { ombra::resolvePhenotypeNames(names, request, "dup.txt"); });
    EXPECT_EQ(stop.out, "The column A named by --pheno-name appears more than once in the header of dup.txt: please "
                        "give each column its own name.\n")
        << request;
  }
  EXPECT_EQ(ombra::resolvePhenotypeNames(names, "B,C", "dup.txt"), (std::vector<size_t>{1, 3}));
}

TEST(PhenotypeOutputs, NameBeforeTheExtension) {
  EXPECT_EQ(ombra::phenotypeOutputName("result.txt", "LDL"), "result.LDL.txt");
  EXPECT_EQ(ombra::phenotypeOutputName("out/result.tsv.gz", "LDL"), "out/result.LDL.tsv.gz");
  EXPECT_EQ(ombra::phenotypeOutputName("out.d/result", "LDL"), "out.d/result.LDL");
  EXPECT_EQ(ombra::phenotypeOutputName("plots/run", "HDL"), "plots/run.HDL");
  EXPECT_EQ(ombra::phenotypeOutputName(".hidden", "TG"), ".hidden.TG");
}

// The block test of several traits (the block decoded and residualised
// once) against one block test per trait: the same lines, byte for byte,
// in a full block and in a short one.
TEST(BlockTest, SeveralTraitsEqualEachTraitAlone) {
  if (!ombra::openBlas().loaded()) GTEST_SKIP() << "OpenBLAS is not there: the block route is not taken";
  // Seven traits: the terms go through the entries four, two and one at a time.
  constexpr size_t kPeople = 53, kSnps = 29, kTraits = 7;
  std::mt19937 random(26);
  std::vector<std::vector<unsigned char>> packed(kPeople, std::vector<unsigned char>((kSnps + 3) / 4, 0));
  ombra::TestedSample sample;
  std::vector<std::vector<double>> traits(kTraits);
  for (size_t i = 0; i < kPeople; ++i) {
    for (size_t s = 0; s < kSnps; ++s) {
      // SNP 5 is monomorphic: no terms, for every trait.
      const unsigned code = s == 5 ? 2 : random() % 10 == 0 ? 3 : random() % 3;
      packed[i][s / 4] |= static_cast<unsigned char>(code << (2 * (3 - s % 4)));
    }
    sample.entries.push_back(ombra::GenotypeEntry{SetKind::kUnrelated, static_cast<int>(i)});
    for (size_t t = 0; t < kTraits; ++t) traits[t].push_back(static_cast<double>(random() % 1000) / 100.0);
  }
  sample.familyEntries = 30;
  sample.familyEntryEnd = {4, 9, 9, 17, 30};
  ombra::DesignMatrix design;
  design.entries = kPeople;
  design.columns = 3;
  for (size_t i = 0; i < kPeople; ++i) design.values.push_back(1.0);
  for (size_t i = 0; i < kPeople; ++i) design.values.push_back(std::cos(static_cast<double>(i)));
  for (size_t i = 0; i < kPeople; ++i) design.values.push_back(static_cast<double>(i % 5));
  std::vector<double> fill(kSnps, 0.9);
  std::vector<Marker> markers(kSnps);
  for (size_t s = 0; s < kSnps; ++s) markers[s].snpId = "rs" + std::to_string(s);

  const ombra::Projection projection(design);
  std::vector<ombra::StatisticTerms> terms;
  for (std::vector<double> residuals : traits) {
    projection.residualise(residuals);
    terms.emplace_back(residuals, sample.familyEntries, sample.familyEntryEnd);
  }
  std::vector<const ombra::StatisticTerms*> all;
  for (const ombra::StatisticTerms& one : terms) all.push_back(&one);
  const ombra::ResultLayout tsv(ombra::ResultFormat::kTsv, ombra::resultColumns({}));
  const ombra::BlockTest together(sample, projection, all, std::vector<ombra::ResultLayout>(kTraits, tsv));
  ASSERT_EQ(together.traits(), kTraits);
  const testing_support::HeldRows rows(packed, fill, markers);
  ombra::BlockTest::Scratch scratch;
  std::vector<ombra::BlockTest::Output> outputs(kTraits);
  ombra::GenotypeBlock block = rows.block(0, 24, 24);
  together.testBlock(block, scratch, outputs.data());
  block = rows.block(24, kSnps - 24, 24);
  together.testBlock(block, scratch, outputs.data());
  for (size_t t = 0; t < kTraits; ++t) {
    const ombra::BlockTest alone(sample, projection, terms[t], tsv);
    ombra::BlockTest::Output output;
    block = rows.block(0, 24, 24);
    alone.testBlock(block, scratch, output);
    block = rows.block(24, kSnps - 24, 24);
    alone.testBlock(block, scratch, output);
    EXPECT_EQ(outputs[t].lines, output.lines) << "trait " << t;
    ASSERT_EQ(outputs[t].results.size(), kSnps);
    EXPECT_TRUE(outputs[t].results[5].monomorphic);
  }
  EXPECT_NE(outputs[0].lines, outputs[1].lines);
}

// Every term of several traits computed together equals, bit for bit, the
// term of each trait alone (the one-pass route of a single phenotype), for
// each count of traits up to nine (every cut into groups of 4, 2 and 1),
// with pooled, family-only and unrelated-only entries and an empty pedigree.
TEST(StatisticTerms, SeveralTraitsTogetherEqualEachAlone) {
  struct Shape {
    const char* what;
    size_t entries, family;
    std::vector<size_t> ends;
    bool whole = false;  // whole genotypes and traits: exact zeros and signed zero products
  };
  const std::vector<Shape> shapes = {{"pooled", 41, 23, {3, 3, 8, 9, 15, 23}},
                                     {"family only", 19, 19, {5, 6, 12, 19}},
                                     {"unrelated only", 17, 0, {}},
                                     {"whole values, pedigrees of every size", 60, 44,
                                      {1, 3, 3, 6, 10, 11, 16, 18, 21, 27, 28, 30, 34, 39, 44}, true}};
  std::mt19937 random(11);
  std::uniform_real_distribution<double> uniform(-1.5, 2.5);
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.what);
    std::uniform_int_distribution<int> code(0, 2);
    std::vector<double> g(shape.entries * ombra::kTermsBatch);
    for (double& value : g) value = shape.whole ? code(random) : uniform(random);
    std::vector<ombra::StatisticTerms> traits;
    for (size_t t = 0; t < 9; ++t) {
      std::vector<double> y(shape.entries);
      for (double& value : y) value = shape.whole ? code(random) - 1 : uniform(random);
      traits.emplace_back(y, shape.family, shape.ends);
    }
    std::vector<const ombra::StatisticTerms*> pointers;
    for (const ombra::StatisticTerms& trait : traits) pointers.push_back(&trait);
    const bool wanted[ombra::kTermsBatch] = {true, true, false, true, true, true, true, true};
    for (size_t count = 1; count <= traits.size(); ++count) {
      ombra::TermsBatch together;
      traits[0].genotypeTerms(g.data(), ombra::kTermsBatch, together);
      ombra::StatisticTerms::traitsTerms(pointers.data(), count, wanted, together);
      for (size_t t = 0; t < count; ++t) {
        ombra::TermsBatch alone;
        traits[t].snpTerms(g.data(), ombra::kTermsBatch, wanted, alone);
        for (size_t k = 0; k < ombra::kTermsBatch; ++k) {
          if (!wanted[k]) continue;
          const ombra::SnpTerms& a = alone.terms[k];
          const ombra::SnpTerms& b = together.traitTerms[t * ombra::kTermsBatch + k];
          const double left[] = {a.ownTotal, a.averagedTotal, a.summedTotal, a.averagedSpread, a.summedSpread,
                                 a.ownDeviation, a.genotypeSquares, a.unrelatedSpread};
          const double right[] = {b.ownTotal, b.averagedTotal, b.summedTotal, b.averagedSpread, b.summedSpread,
                                  b.ownDeviation, b.genotypeSquares, b.unrelatedSpread};
          EXPECT_EQ(std::memcmp(left, right, sizeof left), 0) << count << " traits, trait " << t << ", snp " << k;
          EXPECT_EQ(a.entries, b.entries);
          EXPECT_EQ(a.pedigrees, b.pedigrees);
        }
      }
    }
  }
}

// Phenotypes share a group only when they test the same individuals, in
// the same order: as many individuals are not enough.
TEST(PhenotypeGroups, SameIndividualsNotTheSameCount) {
  auto sample = [](std::vector<size_t> individuals) {
    ombra::TestedSample tested;
    tested.entries.resize(individuals.size());
    tested.analysisIndex = std::move(individuals);
    return tested;
  };
  const ombra::TestedSample first = sample({0, 1, 2, 5}), other = sample({0, 1, 3, 5}), again = sample({0, 1, 2, 5}),
                            fewer = sample({0, 1, 2});
  EXPECT_EQ(ombra::sameIndividualsGroup({}, first), 0u);
  EXPECT_EQ(ombra::sameIndividualsGroup({&first}, other), 1u);
  EXPECT_EQ(ombra::sameIndividualsGroup({&first, &other}, again), 0u);
  EXPECT_EQ(ombra::sameIndividualsGroup({&first, &other}, other), 1u);
  EXPECT_EQ(ombra::sameIndividualsGroup({&first, &other}, fewer), 2u);
}

const std::string kExamples = std::string(OMBRA_SOURCE_DIR) + "/examples/";

// The example sets with a phenotype table: P1, P2 and TG without a missing
// value, HB-A1C missing for every seventh individual (a second tested
// sample), FLAT the same for all, NONE missing everywhere, and SHIFT missing
// for as many individuals as HB-A1C, but others.
class ManyPhenotypes : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string table = "FID IID P1 P2 HB-A1C FLAT NONE TG SHIFT\n";
    std::mt19937 random(5);
    std::normal_distribution<double> normal(0, 1);
    size_t i = 0;
    for (const char* set : {"family", "unrelated"}) {
      const std::string fam = testing_support::readFile(kExamples + "plink/" + set + ".fam");
      size_t start = 0;
      while (start < fam.size()) {
        const size_t end = fam.find('\n', start);
        const std::string line = fam.substr(start, end - start);
        start = end + 1;
        const size_t a = line.find_first_of(" \t"), b = line.find_first_of(" \t", a + 1);
        table += line.substr(0, b) + " " + std::to_string(normal(random)) + " " + std::to_string(normal(random)) +
                 " " + (i % 7 == 0 ? std::string("NA") : std::to_string(normal(random))) + " 3 NA " +
                 std::to_string(normal(random)) + " " +
                 (i % 7 == 1 ? std::string("NA") : std::to_string(normal(random))) + "\n";
        ++i;
      }
    }
    dir.write("ph.txt", table);
  }

  RunResult run(std::vector<std::string> args) const {
    std::vector<std::string> all = {"--bf", kExamples + "plink/family", "--bi", kExamples + "plink/unrelated",
                                    "--covar", kExamples + "covariates.txt", "--covar-name", "AGE,BATCH",
                                    "--pheno", "ph.txt"};
    all.insert(all.end(), args.begin(), args.end());
    return runOmbra(dir.path(), all);
  }

  // Each tested phenotype of a run of `names` equals a run of it alone.
  void expectEachAsAlone(const std::vector<std::string>& extra, const std::string& out,
                         const std::vector<std::string>& tested, const std::string& names = "P1-TG") {
    std::vector<std::string> args = extra;
    for (const std::string& word : {std::string("--pheno-name"), names, std::string("--out"), out,
                                    std::string("--plot"), std::string("many")}) {
      args.push_back(word);
    }
    const RunResult many = run(args);
    ASSERT_EQ(many.status, 0) << many.out;
    for (const std::string& name : tested) {
      std::vector<std::string> alone = extra;
      for (const std::string& word : {std::string("--pheno-name"), name, std::string("--out"),
                                      std::string("alone") + out, std::string("--plot"), std::string("alone")}) {
        alone.push_back(word);
      }
      const RunResult single = run(alone);
      ASSERT_EQ(single.status, 0) << single.out;
      EXPECT_EQ(dir.read(ombra::phenotypeOutputName(out, name)), dir.read("alone" + out)) << name;
      EXPECT_EQ(dir.read("many." + name + ".qq.svg"), dir.read("alone.qq.svg")) << name;
      // The report of each phenotype is the one its own run gives.
      const size_t at = single.out.find("Genomic inflation");
      const std::string report = single.out.substr(at, single.out.find('\n', single.out.find("Snps with p", at)) - at);
      EXPECT_NE(many.out.find("Phenotype " + name + ":\n" + report), std::string::npos) << name << "\n" << many.out;
    }
    EXPECT_FALSE(dir.exists(ombra::phenotypeOutputName(out, "FLAT")));
    EXPECT_FALSE(dir.exists(ombra::phenotypeOutputName(out, "NONE")));
  }

  TempDir dir;
};

// A stop after phenotypes were skipped and an output was written: status 1,
// the skipped ones' lines and then the stop's message as the last words, no
// output left (not even a temporary one), and a log that ends with all of it.
TEST_F(ManyPhenotypes, AStopAfterSkippedPhenotypesLeavesOnlyTheLog) {
  const RunResult stopped = run({"--pheno-name", "FLAT,NONE", "--write-kinship", "k.txt", "--out", "r.txt"});
  EXPECT_EQ(stopped.status, 1);
  const std::string skipped = "The phenotype FLAT is skipped. The trait does not vary";
  const std::string last = "No phenotype is left to test: every one named by --pheno-name was skipped.\n";
  EXPECT_NE(stopped.out.find(skipped), std::string::npos) << stopped.out;
  EXPECT_NE(stopped.out.find("The phenotype NONE is skipped. There is no individual to test: no individual has a "
                             "value.\n" + last),
            std::string::npos)
      << stopped.out;
  EXPECT_EQ(stopped.out.find(last), stopped.out.size() - last.size()) << stopped.out;
  EXPECT_FALSE(dir.exists("k.txt"));
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name[0] != '.' || name.rfind(".std", 0) == 0) << name;
  }
  const std::string log = dir.read("r.log");
  EXPECT_NE(log.find(stopped.out + "\nEnd: "), std::string::npos) << log;
  const std::string end = " UTC (exit status 1)\n";
  EXPECT_EQ(log.rfind(end), log.size() - end.size()) << log;
}

TEST_F(ManyPhenotypes, EachPhenotypeEqualsItsRunAlone) {
  expectEachAsAlone({}, "r.tsv.gz", {"P1", "P2", "HB-A1C", "TG"});
  // As many tested individuals, not the same ones: a group each.
  expectEachAsAlone({}, "s.txt", {"HB-A1C", "SHIFT"}, "HB-A1C,SHIFT");
  const RunResult shifted = run({"--pheno-name", "HB-A1C,SHIFT", "--out", "s.txt"});
  EXPECT_NE(shifted.out.find("Testing 2 phenotypes in 2 groups"), std::string::npos) << shifted.out;
  const RunResult many = run({"--pheno-name", "P1-TG", "--out", "r.txt"});
  EXPECT_NE(many.out.find("The phenotype FLAT is skipped. The trait does not vary"), std::string::npos);
  EXPECT_NE(many.out.find("The phenotype NONE is skipped. There is no individual to test"), std::string::npos);
  EXPECT_NE(many.out.find("Testing 4 phenotypes in 2 groups"), std::string::npos);
  EXPECT_TRUE(dir.exists("r.log"));
  EXPECT_FALSE(dir.exists("r.txt"));
}

// The one-SNP route (the legacy adjustment) and a streamed run whose
// windows are one block: the same identity.
TEST_F(ManyPhenotypes, OtherRoutesToo) {
  expectEachAsAlone({"--adjustment", "legacy"}, "legacy.txt", {"P1", "HB-A1C"});
  setenv("OMBRA_STREAM_BLOCKS", "1", 1);
  expectEachAsAlone({"--threads", "2"}, "streamed.txt", {"P2", "HB-A1C", "TG"});
  unsetenv("OMBRA_STREAM_BLOCKS");
}

TEST_F(ManyPhenotypes, OnePhenotypeKeepsTodaysNames) {
  const RunResult one = run({"--pheno-name", "P2", "--out", "one.txt", "--plot", "one"});
  ASSERT_EQ(one.status, 0) << one.out;
  EXPECT_TRUE(dir.exists("one.txt"));
  EXPECT_TRUE(dir.exists("one.manhattan.svg"));
  EXPECT_FALSE(dir.exists("one.P2.txt"));
  EXPECT_EQ(one.out.find("Phenotype P2:"), std::string::npos);
}

TEST_F(ManyPhenotypes, BadNamesStopBeforeAnyGenotypeIsRead) {
  for (const char* request : {"P1,Q", "P1,P1", "P1-Q", "TG-P1"}) {
    const RunResult bad = run({"--pheno-name", request, "--out", "bad.txt"});
    EXPECT_EQ(bad.status, 1) << request;
    EXPECT_NE(bad.out.find("--pheno-name"), std::string::npos) << bad.out;
    EXPECT_EQ(bad.out.find("Reading"), std::string::npos) << bad.out;
  }
  EXPECT_FALSE(dir.exists("bad.txt"));
}

// Each phenotype would need its own h2 and variances: the mixed model takes
// one phenotype, and says so before reading any genotype.
TEST_F(ManyPhenotypes, MixedModelTakesOnePhenotype) {
  const RunResult two = run({"--pheno-name", "P1,P2", "--model", "lmm", "--out", "m.txt"});
  EXPECT_EQ(two.status, 1);
  EXPECT_NE(two.out.find("The option --model lmm tests one phenotype at a time"), std::string::npos) << two.out;
  EXPECT_EQ(two.out.find("Reading"), std::string::npos) << two.out;
  const RunResult one = run({"--pheno-name", "P1", "--model", "lmm", "--out", "m.txt", "--out-format", "tsv"});
  ASSERT_EQ(one.status, 0) << one.out;
  EXPECT_NE(dir.read("m.txt").find("\tBETA_LMM\tSE_LMM\tSTAT_LMM\tP_LMM"), std::string::npos);
}

TEST_F(ManyPhenotypes, NothingLeftToTestStops) {
  const RunResult none = run({"--pheno-name", "FLAT,NONE", "--out", "none.txt"});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.out.find("No phenotype is left to test"), std::string::npos) << none.out;
  EXPECT_FALSE(dir.exists("none.FLAT.txt"));
  EXPECT_FALSE(dir.exists("none.NONE.txt"));
}

}  // namespace
