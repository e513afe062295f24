// The readers and the genotype store, driven in process.
#include <gtest/gtest.h>

#include "LoadedSets.h"
#include "TestSupport.h"

using testing_support::TempDir;

namespace {

std::string mapOf(int snps) {
  std::string text;
  for (int s = 1; s <= snps; ++s) text += "1 rs" + std::to_string(s) + " 0 " + std::to_string(100 * s) + "\n";
  return text;
}

// Reads a text set into `test`.
void loadText(LoadedSets& test, const TempDir& dir, const std::string& map, const std::string& ped,
              bool unrelated = false) {
  dir.write("d.map", map);
  dir.write("d.ped", ped);
  test.loader.readMapFile(dir.file("d.map"), 4);
  test.loader.readPedigree(dir.file("d.ped"), unrelated ? test.cohort.unrelated : test.cohort.family, false);
}

// The same, returning what was printed.
std::string readText(LoadedSets& test, const TempDir& dir, const std::string& map, const std::string& ped,
                     bool unrelated = false) {
  testing::internal::CaptureStdout();
  loadText(test, dir, map, ped, unrelated);
  return testing::internal::GetCapturedStdout();
}

// Runs `action`, which must stop the run; returns what it printed.
template <typename Action>
std::string stopMessage(Action action) {
  const testing_support::StopShown stop = testing_support::stopOf(action);
  EXPECT_EQ(stop.status, 1);
  return stop.out;
}

TEST(GenotypeCoding, PacksFirstSnpIntoTheTopBits) {
  TempDir dir;
  LoadedSets test;
  // Codes 1, 2, 0, 3, 2, 1 at six SNPs.
  readText(test, dir, mapOf(6), "F 1 0 0 1 1 A A A A C C A A G G G G\nF 2 0 0 1 1 A G G G C C 0 0 T T G C\n");
  ASSERT_EQ(test.cohort.family.rows.size(), 2u);
  const unsigned char* row = test.cohort.family.rows[1].codes;
  EXPECT_EQ(row[0], 0x63);
  EXPECT_EQ(row[1], 0x90);
  EXPECT_EQ(test.store.markers[0].allele1, "A");
  EXPECT_EQ(test.store.markers[0].allele2, "G");
  EXPECT_EQ(test.store.markers[4].allele2, "T");
  EXPECT_EQ(test.store.markers[2].allele2, "");  // never seen
  EXPECT_EQ(test.store.markers[3].allele2Count, 0);
  EXPECT_EQ(genotypeCode(test.cohort.family.rows[1].codes, 5), 1);
}

TEST(GenotypeCoding, DiscoversAllelesInOrderAndCountsTheSecond) {
  TempDir dir;
  LoadedSets test;
  readText(test, dir, mapOf(1), "F 1 0 0 1 1 A A\nF 2 0 0 1 1 A/G\nF 3 0 0 1 1 G G");
  const Marker& marker = test.store.markers[0];
  EXPECT_EQ(marker.allele1, "A");
  EXPECT_EQ(marker.allele2, "G");
  EXPECT_EQ(marker.allele2Count, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(test.store.value(test.cohort.family, i, 0), i);
}

TEST(GenotypeCoding, HeterozygoteSeenFirstSetsBothAllelesAndCaseMatters) {
  TempDir dir;
  LoadedSets test;
  readText(test, dir, mapOf(2), "F 1 0 0 1 1 C A t T\nF 2 0 0 1 1 A A T T\n");
  EXPECT_EQ(test.store.markers[0].allele1, "C");
  EXPECT_EQ(test.store.markers[0].allele2, "A");
  EXPECT_EQ(test.store.markers[1].allele1, "t");
  EXPECT_EQ(test.store.markers[1].allele2, "T");
  EXPECT_EQ(genotypeCode(test.cohort.family.rows[0].codes, 0), 1);
  EXPECT_EQ(genotypeCode(test.cohort.family.rows[1].codes, 0), 2);
}

TEST(GenotypeCoding, ErrorsStopTheRunAfterTheirMessage) {
  TempDir dir;
  LoadedSets test;
  std::string out = stopMessage([&] { loadText(test, dir, mapOf(1), "F 1 0 0 1 1 A A\nF 2 0 0 1 1 0 A\n"); });
  EXPECT_NE(out.find("genotype of snp rs1 in 2th line is not correct, only one allele is missing!\n"),
            std::string::npos);
  LoadedSets other;
  out = stopMessage([&] { loadText(other, dir, mapOf(1), "F 1 0 0 1 1 A G\nF 2 0 0 1 1 C A\n"); });
  EXPECT_NE(out.find("The allele of marker rs1 (chromosome 1) is more than 2, please check the data!\n"),
            std::string::npos);
}

// A missing genotype reads as the mean dosage of the called ones; under
// --adjustment legacy as the second allele's frequency over everyone.
TEST(GenotypeStore, MissingGenotypeReadsAsTheMeanDosageOrLegacyFrequency) {
  TempDir dir;
  LoadedSets test;
  std::string ped;
  for (int i = 0; i < 100; ++i) {
    const char* genotype = i < 30 ? "A G" : (i < 99 ? "A A" : "0 0");
    ped += "F " + std::to_string(i) + " 0 0 1 1 " + genotype + "\n";
  }
  readText(test, dir, mapOf(1), ped);
  test.store.computeMeanDosages(test.cohort, test.store.markers.size());
  EXPECT_DOUBLE_EQ(test.store.value(test.cohort.family, 99, 0), 30.0 / 99.0);
  test.store.setFillRule(Adjustment::kLegacy);
  EXPECT_DOUBLE_EQ(test.store.value(test.cohort.family, 99, 0), 0.15);
  const std::string out = stopMessage([&] { test.store.value(test.cohort.family, 100, 0); });
  EXPECT_EQ(out, "The index of given individual is not correct");
}

TEST(GenotypeStore, MissingValueCountsBothTextSets) {
  TempDir dir;
  LoadedSets test;
  readText(test, dir, mapOf(1), "F 1 0 0 1 1 G G\nF 2 0 0 1 1 0 0\n");
  dir.write("u.ped", "U 1 0 0 1 1 G G\nV 2 0 0 1 1 A A\n");
  testing::internal::CaptureStdout();
  test.loader.readPedigree(dir.file("u.ped"), test.cohort.unrelated, false);
  testing::internal::GetCapturedStdout();
  // Allele A (the second) was seen twice among four individuals, three of
  // them called.
  test.store.computeMeanDosages(test.cohort, test.store.markers.size());
  EXPECT_DOUBLE_EQ(test.store.value(test.cohort.family, 1, 0), 2.0 / 3.0);
  test.store.setFillRule(Adjustment::kLegacy);
  EXPECT_DOUBLE_EQ(test.store.value(test.cohort.family, 1, 0), 0.25);
}

TEST(MapReader, ReadsBothLayouts) {
  TempDir dir;
  LoadedSets test;
  dir.write("m.bim", "1 rs1 0 12345.6 0 G 7\n\n2\trs2\t0\tabc\tA\tC\t1.5e1 extra\n");
  testing::internal::CaptureStdout();
  test.loader.readMapFile(dir.file("m.bim"), 6);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Reading snp map: " + dir.file("m.bim") + " ...\nTotal 2 snps are read. \n\n");
  ASSERT_EQ(test.store.markers.size(), 2u);
  EXPECT_EQ(test.store.markers[0].position, 12345);
  EXPECT_EQ(test.store.markers[0].allele1, "");
  EXPECT_EQ(test.store.markers[0].allele2, "G");
  EXPECT_EQ(test.store.markers[0].allele2Count, 7);
  EXPECT_EQ(test.store.markers[1].chr, "2");
  EXPECT_EQ(test.store.markers[1].position, 0);
  EXPECT_EQ(test.store.markers[1].allele2Count, 15);
}

TEST(MapReader, ShortLinesAndMissingFilesStop) {
  TempDir dir;
  LoadedSets test;
  dir.write("m.map", "1 rs1 0 100\n\n1 rs2 0\n");
  EXPECT_EQ(stopMessage([&] { test.loader.readMapFile(dir.file("m.map"), 4); }),
            "Reading snp map: " + dir.file("m.map") +
                " ...\nLine 3 of " + dir.file("m.map") + " has 3 fields, but at least 4 are needed.\n");
  dir.write("m.bim", "1 rs1 0 100 A G\n");
  EXPECT_NE(stopMessage([&] { test.loader.readMapFile(dir.file("m.bim"), 6); })
                .find("Line 1 of " + dir.file("m.bim") + " has 6 fields, but at least 7 are needed.\n"),
            std::string::npos);
  EXPECT_EQ(stopMessage([&] { test.loader.readMapFile(dir.file("x.map"), 4); }),
            "File " + dir.file("x.map") + " doese not exist!\n");
}

TEST(PedigreeReader, GroupsInterleavedFamiliesAndSkipsBlankLines) {
  TempDir dir;
  LoadedSets test;
  const std::string out = readText(test, dir, mapOf(1), "B 1 0 0 1 1 A A\n\nA 2 0 0 1 2 A A\nB 3 0 0 1 1 A A\n");
  EXPECT_NE(out.find("Max family size :2\n"), std::string::npos);
  ASSERT_EQ(test.cohort.family.pedigrees.size(), 2u);
  EXPECT_EQ(test.cohort.family.pedigrees[0].famId, "B");
  ASSERT_EQ(test.cohort.family.pedigrees[0].members.size(), 2u);
  EXPECT_EQ(test.cohort.family.pedigrees[0].members[1].indId, "3");
  EXPECT_EQ(test.cohort.family.pedigrees[0].members[1].seq, 2);
  EXPECT_EQ(test.cohort.family.pedigrees[1].members[0].seq, 1);
  EXPECT_EQ(test.cohort.family.size, 3);
}

TEST(PedigreeReader, TraitTextAndValue) {
  TempDir dir;
  ombra::LoadSettings settings;
  settings.missingTrait = "-9";
  LoadedSets test(settings);
  const std::string out = readText(test, dir, mapOf(0), "F 1 0 0 1 -9\nF 2 0 0 1 0\nF 3 0 0 1 1.0\nG 4 0 0 2 2\n");
  EXPECT_NE(out.find("unafftect: 0, affect: 1, unkown(or missing): 1.\n"), std::string::npos) << out;
  EXPECT_EQ(test.cohort.family.pedigrees[0].members[2].traitValue, 1.0);
  EXPECT_NE(out.find("There are 2 with unknown or quantitative trait.\n"), std::string::npos);
}

TEST(PedigreeReader, PrintsTheFamilySummary) {
  TempDir dir;
  LoadedSets test;
  std::string ped;
  const char* traits[] = {"1", "1", "1", "1", "1", "2", "2", "2", "2", "0"};
  const char* families[] = {"A", "A", "A", "A", "B", "B", "B", "C", "C", "C"};
  for (int i = 0; i < 10; ++i) ped += std::string(families[i]) + " " + std::to_string(i) + " 0 0 1 " + traits[i] + "\n";
  const std::string out = readText(test, dir, mapOf(0), ped);
  const std::string dashes(53, '-');
  EXPECT_EQ(out.substr(out.find("Reading pedigree")),
            "Reading pedigree: " + dir.file("d.ped") + " ...\n\n" + dashes +
                "\nThe total sample size is: 10\n\nFamily dataset (1 unaffected, 2 affected, 0 missing)\n"
                "Family number : 3\nMax family size :4\nunafftect: 5, affect: 4, unkown(or missing): 1.\n\n" +
                dashes + "\n");
}

TEST(PedigreeReader, PrintsTheUnrelatedSummary) {
  TempDir dir;
  LoadedSets test;
  const std::string out = readText(test, dir, mapOf(0), "U1 1 0 0 1 1\nU2 2 0 0 1 2\nU3 3 0 0 1 x\n", true);
  const std::string dashes(53, '-');
  EXPECT_EQ(out.substr(out.find("\n\n-")),
            "\n\n" + dashes +
                "\nThe total sample size is: 3\n\nCase-Control dataset (1 unaffected, 2 affected, 0 missing)\n"
                "unafftect: 1 , affect: 1, unkown(or missing): 0.\nThere are 1 with unknown or quantitative "
                "trait.\n\n" + dashes + "\n");
  EXPECT_EQ(test.cohort.unrelated.size, 3);
}

TEST(PedigreeReader, FieldCountErrors) {
  TempDir dir;
  LoadedSets test;
  std::string out = stopMessage([&] { loadText(test, dir, mapOf(2), "F 1 0 0 1 1 A A C C\nF 2 0 0 1 1 A A\n"); });
  EXPECT_NE(out.find("Individual F 2 does not have same snp as snp map listed.\n"), std::string::npos);
  LoadedSets other;
  out = stopMessage([&] { loadText(other, dir, mapOf(0), "F 1 0 0 1 1\n \t/\n"); });
  EXPECT_NE(out.find("Line 2 of " + dir.file("d.ped") + " has 0 fields, but at least 6 are needed.\n"),
            std::string::npos);
}

TEST(PedigreeReader, FamLinesWithExtraFieldsAreReadFromTheirFirstSix) {
  TempDir dir;
  LoadedSets test;
  dir.write("s.fam", "F 1 0 0 1 2 extra\nF 2 0 0 2 1\n");
  testing::internal::CaptureStdout();
  test.loader.readPedigree(dir.file("s.fam"), test.cohort.family, true);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Pedigree is not right.\n"), std::string::npos);
  EXPECT_EQ(test.cohort.family.size, 2);
  EXPECT_TRUE(test.cohort.family.rows.empty());
  dir.write("short.fam", "F 1 0 0 1\n");
  EXPECT_NE(stopMessage([&] { test.loader.readPedigree(dir.file("short.fam"), test.cohort.family, true); })
                .find("Line 1 of " + dir.file("short.fam") + " has 5 fields, but at least 6 are needed.\n"),
            std::string::npos);
}

TEST(BinaryGenotypeReader, RowLengthAndShortOrLongFiles) {
  TempDir dir;
  LoadedSets test;
  std::string fam;
  for (int i = 0; i < 3; ++i) fam += "F " + std::to_string(i) + " 0 0 1 1\n";
  std::string bim;
  for (int s = 0; s < 10; ++s) bim += "1 rs" + std::to_string(s) + " 0 1 A G 0\n";
  dir.write("b.bim", bim);
  dir.write("b.fam", fam);
  testing::internal::CaptureStdout();
  test.loader.readMapFile(dir.file("b.bim"), 6);
  test.loader.readPedigree(dir.file("b.fam"), test.cohort.family, true);
  testing::internal::GetCapturedStdout();

  dir.write("b.bed", std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c", 12));
  testing::internal::CaptureStdout();
  test.loader.readGenotype(dir.file("b.bed"), test.cohort.family);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Reading binary genotype: " + dir.file("b.bed") + " ...\nGenotype have been loaded.\n");
  ASSERT_EQ(test.cohort.family.rows.size(), 3u);
  EXPECT_EQ(test.cohort.family.rows[2].codes[0], 0x07);

  dir.write("b.bed", std::string(9, '\0'));
  testing::internal::CaptureStdout();
  test.loader.readGenotype(dir.file("b.bed"), test.cohort.family);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(test.cohort.family.rows.size(), 3u);

  dir.write("b.bed", std::string(8, '\0'));
  EXPECT_NE(stopMessage([&] { test.loader.readGenotype(dir.file("b.bed"), test.cohort.family); })
                .find("Read binary file failed.\n"),
            std::string::npos);
}

TEST(BinaryGenotypeReader, EmptySampleLoadsNothing) {
  TempDir dir;
  LoadedSets test;
  dir.write("e.bed", "");
  testing::internal::CaptureStdout();
  test.loader.readGenotype(dir.file("e.bed"), test.cohort.unrelated);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Reading binary genotype: " + dir.file("e.bed") + " ...\nGenotype have been loaded.\n");
  EXPECT_TRUE(test.cohort.unrelated.rows.empty());
}

}  // namespace
