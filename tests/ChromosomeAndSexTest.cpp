// One reading of chromosome names, shared by --chr, the BGEN index's region
// and the plots' order; the sex of the sample files as the SEX covariate.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/Chromosome.h"
#include "design/Covariates.h"
#include "design/Selections.h"
#include "outputs/Plots.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

constexpr int kOther = ombra::kOtherChromosome;

struct NamedCode {
  const char* name;
  int code;
  int group;  // names of one group are one chromosome
};

// Every spelling a data set or an option may use.
const NamedCode kNames[] = {
    {"1", 1, 1},          {"01", 1, 1},          {"chr1", 1, 1},        {"CHR01", 1, 1},
    {"Chr1", 1, 1},       {"001", 1, 1},         {"22", 22, 22},        {"chr22", 22, 22},
    {"X", 23, 23},        {"x", 23, 23},         {"chrX", 23, 23},      {"23", 23, 23},
    {"Y", 24, 24},        {"24", 24, 24},        {"XY", 25, 25},        {"PAR1", 25, 25},
    {"par2", 25, 25},     {"PAR", 25, 25},       {"25", 25, 25},        {"MT", 26, 26},
    {"M", 26, 26},        {"chrM", 26, 26},      {"26", 26, 26},        {"0", 0, 0},
    {"00", 0, 0},         {"27", 27, 27},        {"099", 99, 99},       {"100", kOther, 100},
    {"GL000192.1", kOther, 101}, {"chr", kOther, 102}, {"chrUn_gl000220", kOther, 103}, {"1a", kOther, 104},
    {"-1", kOther, 105},  {"X1", kOther, 106},   {"chrchr1", kOther, 107},
};

Marker markerOn(const std::string& chr) {
  Marker marker;
  marker.setChromosome(chr);
  marker.snpId = "rs_" + chr;
  marker.position = 100;
  return marker;
}

TEST(Chromosome, OneCodePerNameForTheSelectionTheIndexAndThePlots) {
  for (const NamedCode& entry : kNames) {
    EXPECT_EQ(ombra::chromosomeCode(entry.name), entry.code) << entry.name;
    EXPECT_EQ(markerOn(entry.name).chr, entry.name);  // kept as written for the outputs
  }
  EXPECT_EQ(ombra::chromosomeCode(""), kOther);

  // --chr NAME keeps the SNPs of every spelling of its chromosome, and the
  // BGEN index's region finds the same ones.
  for (const NamedCode& asked : kNames) {
    ombra::SelectionOptions options;
    options.chrList = asked.name;
    ombra::SnpSelection selection(options);
    // (A name with a dash is a range for --chr, which no index region is.)
    const std::optional<ombra::BgenRegion> region = ombra::bgenRegion(options);
    ASSERT_EQ(region.has_value(), std::string(asked.name).find('-') == std::string::npos) << asked.name;
    for (const NamedCode& other : kNames) {
      const bool same = asked.group == other.group;
      EXPECT_EQ(selection.admit(markerOn(other.name)), same) << "--chr " << asked.name << " on " << other.name;
      if (region) {
        EXPECT_EQ(region->holds(other.name, 100), same) << "region " << asked.name << " on " << other.name;
      }
    }
  }
  // A range runs over codes.
  ombra::SelectionOptions range;
  range.chrList = "chr22-chrY,GL000192.1";
  ombra::SnpSelection ranged(range);
  std::string kept;
  for (const NamedCode& entry : kNames) {
    if (ranged.admit(markerOn(entry.name))) kept += std::string(entry.name) + " ";
  }
  EXPECT_EQ(kept, "22 chr22 X x chrX 23 Y 24 GL000192.1 ");

  // The plots: human chromosomes by code (ties as first seen), then the
  // rest as first seen, each name as written.
  std::vector<ombra::PlotPoint> points;
  for (const char* chr : {"GL000192.1", "chrM", "PAR1", "0", "x", "02", "1", "27", "chr1", "Y", "23", "2", "100"}) {
    points.push_back({chr, 100, "rs", 0.5});
  }
  const std::vector<std::string> order = {"1",  "chr1", "02", "2",          "x", "23",
                                          "Y",  "PAR1", "chrM", "GL000192.1", "0", "27", "100"};
  EXPECT_EQ(ombra::chromosomeOrder({ombra::PlotPanel{"SS", points, std::nan("")}}), order);
}

// PED lines of four SNPs with the given sex fields.
std::string pedWithSexes(const std::vector<std::string>& sexes) {
  std::string ped;
  for (size_t i = 0; i < sexes.size(); ++i) {
    const std::string id = std::to_string(i + 1);
    ped += "F" + id + " " + id + " 0 0 " + sexes[i] + " " + (i % 2 == 0 ? "1.5" : "2.25") +
           (i % 3 == 0 ? " A A C T G G T T\n" : " A G C C G T T T\n");
  }
  return ped;
}

TEST(Sex, OneAndTwoAreTheSexCovariateAndEveryFieldIsWrittenBackAsRead) {
  const std::vector<std::string> fields = {"1", "2", "0", "-9", "F", "01", "2", "1"};
  std::vector<std::string> famIds, indIds;
  std::vector<ombra::SampleKey> people;
  for (size_t i = 0; i < fields.size(); ++i) {
    famIds.push_back("F" + std::to_string(i));
    indIds.push_back(std::to_string(i));
  }
  for (size_t i = 0; i < fields.size(); ++i) people.push_back({&famIds[i], &indIds[i], sexOfField(fields[i])});
  const ombra::CovariateColumns sex = ombra::buildCovariates(nullptr, {"SEX"}, people, "-9");
  ASSERT_EQ(sex.names, std::vector<std::string>{"SEX"});
  const double expected[] = {1, 2, NAN, NAN, NAN, NAN, 2, 1};
  for (size_t i = 0; i < fields.size(); ++i) {
    if (std::isnan(expected[i])) {
      EXPECT_TRUE(std::isnan(sex.values[i][0])) << fields[i];
    } else {
      EXPECT_EQ(sex.values[i][0], expected[i]) << fields[i];
    }
  }

  // The recodings write the field as the sample file has it.
  TempDir dir;
  dir.write("s.map", "1 rs1 0 100\n1 rs2 0 200\n1 rs3 0 300\n1 rs4 0 400\n");
  dir.write("s.ped", pedWithSexes(fields));
  ASSERT_EQ(runOmbra(dir.path(), {"--f", "s", "--recode", "r"}).status, 0);
  ASSERT_EQ(runOmbra(dir.path(), {"--f", "s", "--make-bed", "b"}).status, 0);
  const std::string ped = dir.read("r.ped");
  const std::string fam = dir.read("b.fam");
  size_t pedLine = 0, famLine = 0;
  for (const std::string& field : fields) {
    const size_t pedEnd = ped.find('\n', pedLine), famEnd = fam.find('\n', famLine);
    ASSERT_NE(pedEnd, std::string::npos);
    ASSERT_NE(famEnd, std::string::npos);
    EXPECT_NE(ped.substr(pedLine, pedEnd - pedLine).find(" 0 0 " + field + " "), std::string::npos) << ped;
    EXPECT_NE(fam.substr(famLine, famEnd - famLine).find(" 0 0 " + field + " "), std::string::npos) << fam;
    pedLine = pedEnd + 1;
    famLine = famEnd + 1;
  }
}

}  // namespace
