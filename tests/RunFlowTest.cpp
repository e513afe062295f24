// The built program end to end: options, checks, loading order and exits.
#include <gtest/gtest.h>

#include "TestSupport.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

const std::string kDashes = "\n-----------------------------------------------------\n";

std::string usageText() {
  return "Warning: incorrect usage of program!\nUsage:\n"
         "Command <-F pedigree_file> <-I Unrelated_file> <-P number_of Principal_Component> [-M missing_symbol] "
         "[-OP filename]] \n"
         "In which the square brackets ([ ]) and the the square brackets ([]) indicate groupings of optional terms "
         "and are not to be entered by the user. Items in angled brackets, (<>), are required. Those in square "
         "brackets, ([]) are optional. Order does not matter because the flags are used\n\n\n"
         "The meaning of the options:\n"
         " --f : indicate the follwing parameter is the family data file\n"
         " --i : indicate the follwing parameter is the unrelated (or case/control) data file. \n"
         "            here we use 1 as trait to indcate case, otherwise it is control\n"
         " --bf : indicate the follwing parameter is the binary family data file\n"
         " --bi : indicate the follwing parameter is the binary unrelated (or case/control) data file. \n"
         "            here we use 1 as trait to indcate case, otherwise it is control\n"
         " --mg : indicate the follwing parameter is a letter of missing of genotype.\n"
         " --mt : indicate the follwing parameter is the number which reperesent the missing trait.\n"
         "              If neglect this option, -999 will be the default.\n"
         " --op : indicate the follwing parameter is the file name which PCA will be saved. \n"
         "              If this option is used, the program will only calculate the PCA and does not do the "
         "test.\n"
         " --out: indicate the follwing parameter is the file name which will save the test result.\n"
         "                If this option is ignored, the default file name is result.txt\n"
         " --p : indicate the follwing parameter is number of PCA, which will be calculated or reloaded.\n"
         " --rp : indicate the follwing parameter is the file name which saved calculated PCA. \n"
         "              If this option is used, the program will not calculate PCA again and just load the PCA "
         "data from a given file.\n"
         " --snlp-list-pca : indicate the follwing parameter is the file name, included snp list which will be "
         "used to calculate PCA. If not give this snp list, program will use all the snp in the dataset.\n"
         "For every option and its default: ombra --help\n";
}

void expectStop(const RunResult& run, const std::string& out) {
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, out);
  EXPECT_EQ(run.err, "");
}

TEST(CommandLine, TooFewWordsOrAnOptionWithoutValueShowUsage) {
  TempDir dir;
  expectStop(runOmbra(dir.path(), {}), usageText());
  expectStop(runOmbra(dir.path(), {"--f"}), usageText());
  expectStop(runOmbra(dir.path(), {"--f", "x", "--out"}), usageText());
}

TEST(CommandLine, OptionErrorsInScanningOrder) {
  TempDir dir;
  expectStop(runOmbra(dir.path(), {"-f", "x"}), "Wrong option symbol!\n`-f`: did you mean `--f`?\n");
  expectStop(runOmbra(dir.path(), {"--mg", "NA", "-x", "y"}), "Miss genotype must be one letter length.\n");
  expectStop(runOmbra(dir.path(), {"--p", "-1", "--f", "x"}),
             "The number of principal components (--p) must be a whole number from 0 to 2147483647.\n");
  expectStop(runOmbra(dir.path(), {"--p", "99999999999", "--f", "x"}),
             "The number of principal components (--p) must be a whole number from 0 to 2147483647.\n");
}

TEST(CommandLine, ChecksAfterScanning) {
  TempDir dir;
  expectStop(runOmbra(dir.path(), {"--make-bed", "a", "--recode", "b"}),
             "Do not provide parameter of pedigree file and Independent data!\n");
  expectStop(runOmbra(dir.path(), {"--f", "x", "--make-bed", "a", "--recode", "b"}),
             "The option --make-bed and --recode can not be use together.\n");
  expectStop(runOmbra(dir.path(), {"--f", "x", "--bi", "y", "--recode", "b"}),
             "When recoding the original data, only one datset can be used, either family dataset, or nrelated "
             "dataset.\n");
}

std::string familySummary(int n, int families, int maxSize, int unaffected, int affected, int missing) {
  return kDashes + "The total sample size is: " + std::to_string(n) +
         "\n\nFamily dataset (1 unaffected, 2 affected, 0 missing)\nFamily number : " + std::to_string(families) +
         "\nMax family size :" + std::to_string(maxSize) + "\nunafftect: " + std::to_string(unaffected) +
         ", affect: " + std::to_string(affected) + ", unkown(or missing): " + std::to_string(missing) + ".\n" +
         kDashes;
}

TEST(Loading, FamilyTextSetWithoutMapIsReadAsSixColumns) {
  TempDir dir;
  dir.write("fam.ped", "F1 1 0 0 1 1\nF1 2 0 0 2 2\n");
  const RunResult run = runOmbra(dir.path(), {"--f", "fam", "--op", "p.txt"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.substr(0, run.out.find("Program is processing")),
            "Reading pedigree: fam.ped ...\n" + familySummary(2, 1, 2, 1, 1, 0));
}

TEST(Loading, MissingPedigreeOrDirectoryStops) {
  TempDir dir;
  expectStop(runOmbra(dir.path(), {"--f", "none"}), "File none.ped doese not exist!\n");
  ASSERT_EQ(system(("mkdir " + dir.file("d.ped")).c_str()), 0);
  expectStop(runOmbra(dir.path(), {"--f", "d"}), "Open File d.ped failed!\n");
  expectStop(runOmbra(dir.path(), {"--i", "none"}), "File none.map doese not exist!\n");
}

TEST(Loading, BinaryFamilySetTakesPrecedenceOverText) {
  TempDir dir;
  dir.write("b.bim", "1 rs1 0 5 A G 1\n");
  dir.write("b.fam", "F 1 0 0 1 1\n");
  dir.write("b.bed", std::string(1, '\x40'));
  dir.write("t.map", "1 rs1 0 5\n");
  dir.write("t.ped", "F 1 0 0 1 1 A A\n");
  const RunResult run = runOmbra(dir.path(), {"--bf", "b", "--f", "t", "--op", "p"});
  EXPECT_NE(run.out.find("Reading snp map: b.bim ...\n"), std::string::npos);
  EXPECT_NE(run.out.find("Reading binary genotype: b.bed ...\nGenotype have been loaded.\n"), std::string::npos);
  EXPECT_EQ(run.out.find("t.ped"), std::string::npos);
}

TEST(Loading, UnrelatedMapSuppliesMarkersWhenTheFamilyMapIsMissing) {
  TempDir dir;
  dir.write("u.map", "1 rs1 0 5\n");
  dir.write("u.ped", "U 1 0 0 1 1 A G\n");
  dir.write("f.ped", "F 1 0 0 1 1 A A\n");
  dir.write("f.map", "1 rs1 0 5\n");
  RunResult run = runOmbra(dir.path(), {"--f", "f", "--i", "u", "--op", "p"});
  EXPECT_EQ(run.out.find("u.map"), std::string::npos);
  std::remove(dir.file("f.map").c_str());
  dir.write("f.ped", "F 1 0 0 1 1\n");
  // The family rows were coded without markers and cannot hold the unrelated map's SNPs.
  run = runOmbra(dir.path(), {"--f", "f", "--i", "u"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Reading snp map: u.map ...\n"), std::string::npos);
  EXPECT_NE(run.out.find("The family dataset was read with 0 snps, but the snp map lists 1 snps. Please give the "
                         "map file of the family dataset.\n"),
            std::string::npos);
}

TEST(Loading, GenotypeErrorStopsWithStatusOne) {
  TempDir dir;
  dir.write("f.map", "1 rs1 0 5\n");
  dir.write("f.ped", "F 1 0 0 1 1 A 0\n");
  const RunResult run = runOmbra(dir.path(), {"--f", "f"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Reading snp map: f.map ...\nTotal 1 snps are read. \n\nReading pedigree: f.ped ...\n"
                     "genotype of snp rs1 in 1th line is not correct, only one allele is missing!\n");
}

// Two binary sets made separately may name a SNP's alleles in either order.
TEST(Loading, BinaryUnrelatedSetIsAlignedToTheSharedAlleles) {
  TempDir dir;
  dir.write("f.bim", "1 rs1 0 5 A G 1\n1 rs2 0 6 C 0 0\n");
  // Each set has a second individual with both genotypes missing, so that
  // the test has the degree of freedom it needs, its numbers unchanged.
  dir.write("f.fam", "F 1 0 0 1 1\nG 3 0 0 1 2\n");
  dir.write("f.bed", std::string("\x40\xf0", 2));  // A G, C C; missing
  dir.write("u.bim", "1 rs1 0 5 G A 2\n1 rs2 0 6 T C 1\n");
  dir.write("u.fam", "U 2 0 0 1 2\nV 4 0 0 1 1\n");
  dir.write("u.bed", std::string("\x50\xf0", 2));  // G A, T C; missing
  const RunResult run = runOmbra(dir.path(), {"--bf", "f", "--bi", "u", "--additive", "a", "--p", "0", "--out", "r.txt"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out.find("u.bim"), std::string::npos);
  // Allele T of rs2 joins the shared marker as its second allele.
  const std::string result = dir.read("r.txt");
  EXPECT_EQ(result.substr(0, 44), "rs1                 A    G    5.000000e-01\t5");
  EXPECT_EQ(result.substr(result.find("rs2"), 44), "rs2                 C    T    7.500000e-01\t2");

  dir.write("u.bim", "1 rs1 0 5 G T 2\n1 rs2 0 6 T C 1\n");
  const RunResult third = runOmbra(dir.path(), {"--bf", "f", "--bi", "u"});
  EXPECT_EQ(third.status, 1);
  EXPECT_NE(third.out.find("The allele of marker rs1 (chromosome 1) is more than 2, please check the data!\n"),
            std::string::npos);
  // Other SNPs: the shared ones are matched.
  dir.write("u.bim", "1 rs1 0 5 G A 2\n1 other 0 6 T C 1\n");
  EXPECT_NE(runOmbra(dir.path(), {"--bf", "f", "--bi", "u"})
                .out.find("The snps of f.bim and u.bim differ; matched by ID: 1 shared, 1 in f.bim only, 1 in u.bim "
                          "only, 1 swapped, 0 strand-flipped, 0 left out for other alleles.\n"),
            std::string::npos);
}

}  // namespace
