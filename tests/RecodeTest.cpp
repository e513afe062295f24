// Recoding a data set to the text, binary and additive formats, end to end.
#include <gtest/gtest.h>

#include "TestSupport.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

const char* const kMap = "1 rs1 0 100\n1 rs2 0 200\n2 rs3 0 300\n2 rs4 0 400\n3 rs5 0 1234567\n";
// Family IDs interleave; genotypes include a heterozygote written G A first.
const char* const kPed =
    "F1 1 0 0 1 1 G A C C 0 0 T T A A\n"
    "F2 2 0 0 2 2 A A C T A A T T A A\n"
    "F1 3 1 0 1 0 G G T T A G T T A A\n";

void writeTextSet(const TempDir& dir) {
  dir.write("in.map", kMap);
  dir.write("in.ped", kPed);
}

TEST(Recode, TextWritesGroupedFamiliesAndHeterozygotesInAlleleOrder) {
  TempDir dir;
  writeTextSet(dir);
  const RunResult run = runOmbra(dir.path(), {"--f", "in", "--recode", "out"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("coding text format file ... \n"), std::string::npos);
  EXPECT_EQ(run.out.find("Program is processing"), std::string::npos);
  EXPECT_EQ(dir.read("out.map"), "1 rs1 0 100\n1 rs2 0 200\n2 rs3 0 300\n2 rs4 0 400\n3 rs5 0 1234567\n");
  EXPECT_EQ(dir.read("out.ped"),
            "F1 1 0 0 1 1 G A C C 0 0 T T A A\n"
            "F1 3 1 0 1 0 G G T T A G T T A A\n"
            "F2 2 0 0 2 2 A A C T A A T T A A\n");
}

TEST(Recode, MissingGenotypesUseTheMissingAlleleCode) {
  TempDir dir;
  dir.write("in.map", "1 rs1 0 1\n1 rs2 0 2\n");
  dir.write("in.ped", "U 1 0 0 1 1 N N A C\n");
  const RunResult run = runOmbra(dir.path(), {"--i", "in", "--mg", "N", "--recode", "out"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(dir.read("out.ped"), "U 1 0 0 1 1 N N A C\n");
}

TEST(Recode, BinaryFilesAndTheirRoundTrip) {
  TempDir dir;
  writeTextSet(dir);
  RunResult run = runOmbra(dir.path(), {"--f", "in", "--make-bed", "bin"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Coding binary format file ...\n"), std::string::npos);
  // rs3 never saw a second allele; rs5 keeps "0" too.
  EXPECT_EQ(dir.read("bin.bim"),
            "1 rs1 0 100 G A 3\n1 rs2 0 200 C T 3\n2 rs3 0 300 A G 1\n2 rs4 0 400 T 0 0\n"
            "3 rs5 0 1234567 A 0 0\n");
  EXPECT_EQ(dir.read("bin.fam"), "F1 1 0 0 1 1\nF1 3 1 0 1 0\nF2 2 0 0 2 2\n");
  // Five markers take two bytes per individual; codes of F1 1: 1 0 3 0, then 0.
  EXPECT_EQ(dir.read("bin.bed"), std::string("\x4c\x00\x24\x00\x90\x00", 6));

  run = runOmbra(dir.path(), {"--bf", "bin", "--recode", "back"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(dir.read("back.ped"),
            "F1 1 0 0 1 1 G A C C 0 0 T T A A\n"
            "F1 3 1 0 1 0 G G T T A G T T A A\n"
            "F2 2 0 0 2 2 A A C T A A T T A A\n");
  run = runOmbra(dir.path(), {"--bf", "bin", "--make-bed", "again"});
  EXPECT_EQ(dir.read("again.bed"), dir.read("bin.bed"));
  EXPECT_EQ(dir.read("again.bim"), dir.read("bin.bim"));
}

TEST(Recode, AlleleCountsUseTheDefaultNumberFormat) {
  TempDir dir;
  dir.write("b.bim", "1 a 0 1 A G 1234567\n1 b 0 2 A G 12.5\n1 c 0 3 A G 40\n");
  dir.write("b.fam", "");
  dir.write("b.bed", "");
  const RunResult run = runOmbra(dir.path(), {"--bi", "b", "--make-bed", "o"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(dir.read("o.bim"), "1 a 0 1 A G 1.23457e+06\n1 b 0 2 A G 12.5\n1 c 0 3 A G 40\n");
  EXPECT_EQ(dir.read("o.fam"), "");
  EXPECT_EQ(dir.read("o.bed"), "");
}

TEST(Recode, UnknownBimAlleleIsWrittenAsMissingWithAWarning) {
  TempDir dir;
  dir.write("b.bim", "1 rs1 0 1 0 G 2\n1 rs2 0 2 A C 0\n");
  dir.write("b.fam", "F 1 0 0 1 1\nF 2 0 0 1 1\n");
  // Individual 1: rs1 code 1 (needs allele1, unknown), rs2 code 0; individual 2: 2, 3.
  dir.write("b.bed", std::string("\x40\xb0", 2));
  const RunResult run = runOmbra(dir.path(), {"--bf", "b", "--recode", "t"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(dir.read("t.ped"), "F 1 0 0 1 1 0 0 A A\nF 2 0 0 1 1 G G 0 0\n");
  EXPECT_NE(run.out.find("Warning: snp rs1 has genotypes of an allele that the binary data does not name; they "
                         "are written as missing.\n"),
            std::string::npos);
  EXPECT_EQ(run.out.find("snp rs2 has"), std::string::npos);
}

TEST(Recode, AdditiveCodesAndTheOneRecodingWithoutOut) {
  TempDir dir;
  writeTextSet(dir);
  RunResult run = runOmbra(dir.path(), {"--f", "in", "--additive", "add"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Coding additive format file ...\n"), std::string::npos);
  EXPECT_EQ(dir.read("add.add"),
            "F1 1 0 0 1 1 1 0 3 0 0\n"
            "F1 3 1 0 1 0 0 2 1 0 0\n"
            "F2 2 0 0 2 2 2 1 0 0 0\n");
  run = runOmbra(dir.path(), {"--f", "in", "--recode", "r", "--additive", "skipped"});
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(dir.exists("skipped.add"));
  EXPECT_TRUE(dir.exists("r.ped"));
}

TEST(Recode, SampleColumnsOnlyWhenThereAreNoMarkers) {
  TempDir dir;
  dir.write("in.ped", "F 1 0 0 1 1\n");
  RunResult run = runOmbra(dir.path(), {"--f", "in", "--additive", "a"});
  EXPECT_EQ(dir.read("a.add"), "F 1 0 0 1 1 \n");
  run = runOmbra(dir.path(), {"--f", "in", "--recode", "r"});
  EXPECT_EQ(dir.read("r.ped"), "F 1 0 0 1 1 \n");
  EXPECT_EQ(dir.read("r.map"), "");
}

TEST(Recode, UncreatableOutputStops) {
  TempDir dir;
  writeTextSet(dir);
  const RunResult run = runOmbra(dir.path(), {"--f", "in", "--make-bed", "missing/dir"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "The output missing/dir.bim of --make-bed cannot be written: its folder missing does not exist.\n");
}

}  // namespace
