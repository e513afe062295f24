// The stops before a test whose statistics could only come out undefined:
// one family alone, a design that leaves no degree of freedom, a trait whose
// squares overflow. Each stage on its own, then one run of each through the
// program (status 1, nothing written).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "association/TestChecks.h"

namespace {

using testing_support::stopOf;

// Tested entries: `families` pedigrees of the given tested sizes, then
// `unrelated` individuals.
ombra::TestedSample sampleOf(const std::vector<size_t>& families, size_t unrelated) {
  ombra::TestedSample sample;
  size_t end = 0;
  for (size_t size : families) {
    end += size;
    sample.familyEntryEnd.push_back(end);
  }
  sample.familyEntries = end;
  sample.entries.resize(end + unrelated);
  sample.traits.assign(end + unrelated, 1.0);
  return sample;
}

TEST(TestChecks, StatisticsNeedTwoFamiliesOrTwoUnrelated) {
  for (const auto& [families, unrelated] : std::vector<std::pair<std::vector<size_t>, size_t>>{
           {{5}, 0}, {{5}, 1}, {{5, 0}, 0}, {{0, 4, 0}, 1}, {{}, 1}}) {
    const ombra::TestedSample sample = sampleOf(families, unrelated);
    const testing_support::StopShown stop = stopOf([&] { ombra::requireDefinedStatistics(sample, false); });
    EXPECT_EQ(stop.status, 1) << families.size() << " pedigrees, " << unrelated << " unrelated";
    EXPECT_NE(stop.out.find("not defined"), std::string::npos) << stop.out;
    // The mixed model stands on one pedigree's kinship: the run goes on.
    const testing_support::StopShown withModel = stopOf([&] { ombra::requireDefinedStatistics(sample, true); });
    EXPECT_EQ(withModel.status, -1);
    EXPECT_NE(withModel.out.find("written as NA"), std::string::npos) << withModel.out;
  }
  for (const auto& [families, unrelated] : std::vector<std::pair<std::vector<size_t>, size_t>>{
           {{5, 1}, 0}, {{5}, 2}, {{}, 2}, {{0, 3, 2}, 0}}) {
    EXPECT_EQ(stopOf([&] { ombra::requireDefinedStatistics(sampleOf(families, unrelated), false); }).status, -1)
        << families.size() << " pedigrees, " << unrelated << " unrelated";
  }
}

TEST(TestChecks, FreedomAndOverflow) {
  // The mixed model and the plain test share the rule: n > columns + 1.
  EXPECT_TRUE(ombra::leavesFreedom(10, 8));
  EXPECT_FALSE(ombra::leavesFreedom(10, 9));
  EXPECT_FALSE(ombra::leavesFreedom(10, 12));
  EXPECT_EQ(stopOf([] { ombra::requireFreedom(10, 8); }).status, -1);
  const testing_support::StopShown stop = stopOf([] { ombra::requireFreedom(388, 396); });
  EXPECT_EQ(stop.status, 1);
  EXPECT_NE(stop.out.find("388 tested individuals for 396 columns"), std::string::npos) << stop.out;

  EXPECT_EQ(stopOf([] { ombra::requireFiniteSquares({1e150, -1e150, 2}); }).status, -1);
  // Each square fits, their sum does not.
  EXPECT_EQ(stopOf([] { ombra::requireFiniteSquares({1.2e154, 1.2e154, 1}); }).status, 1);
  const testing_support::StopShown huge = stopOf([] { ombra::requireFiniteSquares({1, 1e308, 2}); });
  EXPECT_EQ(huge.status, 1);
  EXPECT_NE(huge.out.find("1e+308"), std::string::npos) << huge.out;
}

// The example's family set cut to its first `families` pedigrees, with the
// trait of its first individual replaced by `trait` when not empty.
void writeFamilies(const testing_support::TempDir& dir, size_t families, const std::string& trait) {
  std::ifstream in(std::string(OMBRA_SOURCE_DIR) + "/examples/family.ped");
  std::ostringstream out;
  std::string line, last;
  size_t seen = 0;
  bool first = true;
  while (std::getline(in, line)) {
    const std::string family = line.substr(0, line.find(' '));
    if (family != last && ++seen > families) break;
    last = family;
    if (first && !trait.empty()) {
      std::istringstream fields(line);
      std::string field[6], rest;
      for (std::string& f : field) fields >> f;
      std::getline(fields, rest);
      line = field[0] + " " + field[1] + " " + field[2] + " " + field[3] + " " + field[4] + " " + trait + rest;
    }
    first = false;
    out << line << "\n";
  }
  dir.write("f.ped", out.str());
  dir.write("f.map", testing_support::readFile(std::string(OMBRA_SOURCE_DIR) + "/examples/family.map"));
}

TEST(TestChecks, RunsStopBeforeWritingResults) {
  testing_support::TempDir dir;
  writeFamilies(dir, 1, "");
  testing_support::RunResult run = testing_support::runOmbra(dir.path(), {"--f", "f", "--p", "0", "--out", "r.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("1 family and 0 unrelated individuals"), std::string::npos) << run.out;
  EXPECT_FALSE(dir.exists("r.txt"));

  writeFamilies(dir, 45, "1e308");
  run = testing_support::runOmbra(dir.path(), {"--f", "f", "--p", "0", "--out", "r.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("too large to test"), std::string::npos) << run.out;
  EXPECT_FALSE(dir.exists("r.txt"));

  // A covariate with a level per individual: a column per individual.
  writeFamilies(dir, 45, "");
  std::string covariates = "FID IID LEVEL\n";
  std::istringstream ped(dir.read("f.ped"));
  for (std::string line; std::getline(ped, line);) {
    std::istringstream fields(line);
    std::string fid, iid;
    fields >> fid >> iid;
    covariates += fid + " " + iid + " L" + fid + iid + "\n";
  }
  dir.write("c.txt", covariates);
  run = testing_support::runOmbra(dir.path(), {"--f", "f", "--p", "0", "--covar", "c.txt", "--out", "r.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("no degree of freedom"), std::string::npos) << run.out;
  EXPECT_FALSE(dir.exists("r.txt"));
}

}  // namespace
