// Hostile and broken input, end to end on the built program: files from other
// tools, hand edits, truncated downloads and Windows line endings. Each case
// must end with its message and exit status, never with a signal, a hang
// (runOmbra stops the program after 120 s), a sanitizer report or a result of
// not-a-number.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "TestSupport.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

// Five SNPs, eight family members in three pedigrees and six unrelated
// individuals, every SNP varying.
const char* const kMap = "1 rs1 0 100\n1 rs2 0 200\n1 rs3 0 300\n1 rs4 0 400\n1 rs5 0 500\n";
const char* const kFamily =
    "F1 1 0 0 1 1 A A C C G G T T A C\n"
    "F1 2 0 0 2 2 A G C T G G T T A A\n"
    "F1 3 1 2 1 2 A G C C G A T C C C\n"
    "F2 4 0 0 1 1 G G T T A A C C A C\n"
    "F2 5 0 0 2 2 A G C T G A T T A A\n"
    "F2 6 4 5 1 1 G G C T G A T C A C\n"
    "F3 7 0 0 1 2 A A C C G G T T C C\n"
    "F3 8 0 0 2 1 A G T T A A C C A A\n";
const char* const kUnrelated =
    "U1 1 0 0 1 1 A A C C G G T T A C\n"
    "U2 2 0 0 2 2 A G C T G G T T A A\n"
    "U3 3 0 0 1 2 A G C C G A T C C C\n"
    "U4 4 0 0 1 1 G G T T A A C C A C\n"
    "U5 5 0 0 2 2 A G C T G A T T A A\n"
    "U6 6 0 0 1 1 G G C T G A T C A C\n";
// The family set in binary form: the rows of kFamily, two bytes each.
const char* const kBim =
    "1 rs1 0 100 A G 8\n1 rs2 0 200 C T 7\n1 rs3 0 300 G A 7\n1 rs4 0 400 T C 6\n1 rs5 0 500 A C 7\n";
const char* const kFam = "F1 1 0 0 1 1\nF1 2 0 0 2 2\nF1 3 1 2 1 2\nF2 4 0 0 1 1\nF2 5 0 0 2 2\nF2 6 4 5 1 1\n"
                         "F3 7 0 0 1 2\nF3 8 0 0 2 1\n";
const std::string kBed("\x00\x40\x50\x00\x45\x80\xaa\x40\x54\x00\x95\x40\x00\x80\x6a\x00", 16);

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// `text` with the sixth field (the trait) of every line replaced by `trait`.
std::string withTrait(const std::string& text, const std::string& trait) {
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    std::string line = text.substr(start, end - start);
    size_t field = 0;
    for (int k = 0; k < 5; ++k) field = line.find(' ', field) + 1;
    line.replace(field, line.find(' ', field) - field, trait);
    out += line + "\n";
    start = end + 1;
  }
  return out;
}

std::string withCrlf(const std::string& text) { return replaceAll(text, "\n", "\r\n"); }

std::string withoutFinalFeed(const std::string& text) { return text.substr(0, text.size() - 1); }

const char* const kNoSnp = "There is no snp to test: no snp map was read, or it lists no snps.\n";

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The run stopped with `message` as its last output, status 1.
void expectStop(const RunResult& run, const std::string& message) {
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(endsWith(run.out, message)) << "expected the output to end with:\n" << message << "\ngot:\n" << run.out;
  EXPECT_EQ(run.err, "");
}

// The run finished normally and wrote a result of numbers, one line per SNP.
void expectResult(const TempDir& dir, const RunResult& run, const std::string& resultFile, size_t snps) {
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("The process has been finisned!\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");
  const std::string result = dir.read(resultFile);
  size_t lines = 0;
  for (char c : result) lines += c == '\n';
  EXPECT_EQ(lines, snps);
  EXPECT_EQ(result.find("nan"), std::string::npos) << result;
  EXPECT_EQ(result.find("inf"), std::string::npos) << result;
}

void writeFamily(const TempDir& dir, const std::string& prefix) {
  dir.write(prefix + ".map", kMap);
  dir.write(prefix + ".ped", kFamily);
}

void writeBinaryFamily(const TempDir& dir, const std::string& prefix) {
  dir.write(prefix + ".bim", kBim);
  dir.write(prefix + ".fam", kFam);
  dir.write(prefix + ".bed", kBed);
}

TEST(BadInput, TheReferenceSetsRunCleanly) {
  TempDir dir;
  writeFamily(dir, "f");
  writeBinaryFamily(dir, "b");
  dir.write("u.map", kMap);
  dir.write("u.ped", kUnrelated);
  expectResult(dir, runOmbra(dir.path(), {"--f", "f", "--i", "u", "--p", "2", "--out", "both.txt"}), "both.txt", 5);
  expectResult(dir, runOmbra(dir.path(), {"--f", "f", "--p", "2", "--out", "text.txt"}), "text.txt", 5);
  expectResult(dir, runOmbra(dir.path(), {"--bf", "b", "--p", "2", "--out", "binary.txt"}), "binary.txt", 5);
  // The binary set holds the same genotypes as the text set.
  EXPECT_EQ(dir.read("binary.txt"), dir.read("text.txt"));
}

TEST(BadInput, EmptyFiles) {
  TempDir dir;
  dir.write("empty.map", "");
  dir.write("empty.ped", "");
  expectStop(runOmbra(dir.path(), {"--f", "empty"}), kNoSnp);
  dir.write("nobody.map", kMap);
  dir.write("nobody.ped", "");
  expectStop(runOmbra(dir.path(), {"--f", "nobody"}), "There is no individual to test: the data sets are empty.\n");

  writeBinaryFamily(dir, "b");
  dir.write("b.bed", "");
  expectStop(runOmbra(dir.path(), {"--bf", "b"}), "Read binary file failed.\n");
  writeBinaryFamily(dir, "b");
  dir.write("b.fam", "");
  expectStop(runOmbra(dir.path(), {"--bf", "b"}), "There is no individual to test: the data sets are empty.\n");
  writeBinaryFamily(dir, "b");
  dir.write("b.bim", "");
  expectStop(runOmbra(dir.path(), {"--bf", "b"}), kNoSnp);

  writeFamily(dir, "f");
  dir.write("empty.pca", "");
  expectStop(runOmbra(dir.path(), {"--f", "f", "--p", "2", "--rp", "empty.pca"}),
             "Some individuals do not have PCA. They are:\nF1 1\nF1 2\nF1 3\nF2 4\nF2 5\nF2 6\nF3 7\nF3 8\n");
  // A SNP list that names nothing leaves no SNP for the components: the test
  // runs unadjusted, and says so.
  dir.write("empty.list", "");
  const RunResult unadjusted = runOmbra(dir.path(), {"--f", "f", "--p", "2", "--snp-list-pca", "empty.list"});
  expectResult(dir, unadjusted, "result.txt", 5);
  EXPECT_NE(unadjusted.out.find("Total 0 in the PCA snp list.\n"), std::string::npos);
  EXPECT_NE(unadjusted.out.find("The maximum available principal component is 0"), std::string::npos);
}

TEST(BadInput, NothingToTest) {
  TempDir dir;
  // No map at all: six columns are a whole line, and there is no SNP.
  dir.write("nomap.ped", "F1 1 0 0 1 1\nF1 2 0 0 2 2\n");
  expectStop(runOmbra(dir.path(), {"--f", "nomap"}), kNoSnp);
  // Every trait missing: nobody to test.
  dir.write("missing.map", kMap);
  dir.write("missing.ped", withTrait(kFamily, "-9"));
  expectStop(runOmbra(dir.path(), {"--f", "missing", "--mt", "-9"}),
             "There is no individual to test: every trait is the missing-trait code -9.\n");
  // Saving the components needs no trait.
  const RunResult saved = runOmbra(dir.path(), {"--f", "missing", "--mt", "-9", "--p", "2", "--op", "s.pca"});
  EXPECT_EQ(saved.status, 0) << saved.out;
  EXPECT_TRUE(dir.exists("s.pca"));
}

TEST(BadInput, SeparatorsOnly) {
  TempDir dir;
  dir.write("s.map", " \t \n");
  dir.write("s.ped", kFamily);
  expectStop(runOmbra(dir.path(), {"--f", "s"}), "Line 1 of s.map has 0 fields, but at least 4 are needed.\n");
  dir.write("t.map", kMap);
  dir.write("t.ped", std::string(kFamily) + "\t / \n");
  expectStop(runOmbra(dir.path(), {"--f", "t"}), "Line 9 of t.ped has 0 fields, but at least 6 are needed.\n");
  writeFamily(dir, "f");
  dir.write("blank.pca", "  \t \n");
  expectStop(runOmbra(dir.path(), {"--f", "f", "--p", "2", "--rp", "blank.pca"}),
             "The individual \t has not enought PCA are required 2\n");
}

TEST(BadInput, WindowsLineEndings) {
  TempDir dir;
  writeFamily(dir, "f");
  expectResult(dir, runOmbra(dir.path(), {"--f", "f", "--p", "2", "--out", "lf.txt"}), "lf.txt", 5);
  // A carriage return would end up in the last allele or the trait.
  dir.write("c.map", kMap);
  dir.write("c.ped", withCrlf(kFamily));
  expectStop(runOmbra(dir.path(), {"--f", "c"}),
             "Line 1 of c.ped has a carriage return: the file has Windows line endings. Please convert it to Unix "
             "line endings (for example with dos2unix).\n");
  writeBinaryFamily(dir, "b");
  dir.write("b.fam", withCrlf(kFam));
  expectStop(runOmbra(dir.path(), {"--bf", "b"}),
             "Line 1 of b.fam has a carriage return: the file has Windows line endings. Please convert it to Unix "
             "line endings (for example with dos2unix).\n");
  // In a map the last field is a number, which reads the same.
  dir.write("m.map", withCrlf(kMap));
  dir.write("m.ped", kFamily);
  expectResult(dir, runOmbra(dir.path(), {"--f", "m", "--p", "2", "--out", "m.txt"}), "m.txt", 5);
  EXPECT_EQ(dir.read("m.txt"), dir.read("lf.txt"));
  // So does a PCA file, whose last field is a score.
  ASSERT_EQ(runOmbra(dir.path(), {"--f", "f", "--p", "2", "--op", "s.pca"}).status, 0);
  expectResult(dir, runOmbra(dir.path(), {"--f", "f", "--p", "2", "--rp", "s.pca", "--out", "s.txt"}), "s.txt", 5);
  dir.write("crlf.pca", withCrlf(dir.read("s.pca")));
  expectResult(dir, runOmbra(dir.path(), {"--f", "f", "--p", "2", "--rp", "crlf.pca", "--out", "crlf.txt"}),
               "crlf.txt", 5);
  EXPECT_EQ(dir.read("crlf.txt"), dir.read("s.txt"));
}

TEST(BadInput, MissingFinalLineFeed) {
  TempDir dir;
  writeFamily(dir, "f");
  writeBinaryFamily(dir, "b");
  expectResult(dir, runOmbra(dir.path(), {"--f", "f", "--p", "2", "--out", "lf.txt"}), "lf.txt", 5);
  dir.write("n.map", withoutFinalFeed(kMap));
  dir.write("n.ped", withoutFinalFeed(kFamily));
  expectResult(dir, runOmbra(dir.path(), {"--f", "n", "--p", "2", "--out", "n.txt"}), "n.txt", 5);
  EXPECT_EQ(dir.read("n.txt"), dir.read("lf.txt"));
  dir.write("b.bim", withoutFinalFeed(kBim));
  dir.write("b.fam", withoutFinalFeed(kFam));
  expectResult(dir, runOmbra(dir.path(), {"--bf", "b", "--p", "2", "--out", "b.txt"}), "b.txt", 5);
  EXPECT_EQ(dir.read("b.txt"), dir.read("lf.txt"));
  ASSERT_EQ(runOmbra(dir.path(), {"--f", "f", "--p", "2", "--op", "s.pca"}).status, 0);
  dir.write("n.pca", withoutFinalFeed(dir.read("s.pca")));
  expectResult(dir, runOmbra(dir.path(), {"--f", "f", "--p", "2", "--rp", "n.pca", "--out", "p.txt"}), "p.txt", 5);
  dir.write("n.list", "rs1\nrs2\nrs3");
  const RunResult listed = runOmbra(dir.path(), {"--f", "f", "--p", "2", "--snp-list-pca", "n.list"});
  expectResult(dir, listed, "result.txt", 5);
  EXPECT_NE(listed.out.find("Total 3 in the PCA snp list.\nTotal 3 will be used"), std::string::npos);
}

TEST(BadInput, TooFewAndTooManyFields) {
  TempDir dir;
  dir.write("f.map", kMap);
  dir.write("f.ped", replaceAll(kFamily, "F1 2 0 0 2 2 A G C T G G T T A A", "F1 2 0 0 2 2 A G C T G G T T A"));
  expectStop(runOmbra(dir.path(), {"--f", "f"}), "Individual F1 2 does not have same snp as snp map listed.\n");
  dir.write("f.ped", replaceAll(kFamily, "F1 2 0 0 2 2 A G C T G G T T A A", "F1 2 0 0 2 2 A G C T G G T T A A G"));
  expectStop(runOmbra(dir.path(), {"--f", "f"}), "Individual F1 2 does not have same snp as snp map listed.\n");
  dir.write("f.ped", replaceAll(kFamily, "F1 2 0 0 2 2 A G C T G G T T A A", "F1 2 0 0 2"));
  expectStop(runOmbra(dir.path(), {"--f", "f"}), "Line 2 of f.ped has 5 fields, but at least 6 are needed.\n");

  dir.write("g.map", replaceAll(kMap, "1 rs2 0 200", "1 rs2 0"));
  dir.write("g.ped", kFamily);
  expectStop(runOmbra(dir.path(), {"--f", "g"}), "Line 2 of g.map has 3 fields, but at least 4 are needed.\n");
  // Columns after the fourth are not read.
  dir.write("h.map", replaceAll(kMap, " 200", " 200 extra columns"));
  dir.write("h.ped", kFamily);
  expectResult(dir, runOmbra(dir.path(), {"--f", "h", "--p", "2"}), "result.txt", 5);

  // A .bim needs the count column of this program's own layout.
  writeBinaryFamily(dir, "b");
  dir.write("b.bim", replaceAll(kBim, " A G 8\n", " A G\n"));
  expectStop(runOmbra(dir.path(), {"--bf", "b"}), "Line 1 of b.bim has 6 fields, but at least 7 are needed.\n");
}

TEST(BadInput, FamWithFiveAndSevenFields) {
  TempDir dir;
  writeBinaryFamily(dir, "b");
  expectResult(dir, runOmbra(dir.path(), {"--bf", "b", "--p", "2", "--out", "six.txt"}), "six.txt", 5);
  dir.write("b.fam", replaceAll(kFam, "F1 3 1 2 1 2\n", "F1 3 1 2 1\n"));
  expectStop(runOmbra(dir.path(), {"--bf", "b"}), "Line 3 of b.fam has 5 fields, but at least 6 are needed.\n");
  // A seventh column is reported and ignored.
  dir.write("b.fam", replaceAll(kFam, "F1 3 1 2 1 2\n", "F1 3 1 2 1 2 extra\n"));
  const RunResult seven = runOmbra(dir.path(), {"--bf", "b", "--p", "2", "--out", "seven.txt"});
  expectResult(dir, seven, "seven.txt", 5);
  EXPECT_NE(seven.out.find("Reading pedigree: b.fam ...\nPedigree is not right.\n"), std::string::npos);
  EXPECT_EQ(dir.read("seven.txt"), dir.read("six.txt"));
}

TEST(BadInput, BedTooShortAndTooLong) {
  TempDir dir;
  writeBinaryFamily(dir, "b");
  expectResult(dir, runOmbra(dir.path(), {"--bf", "b", "--p", "2", "--out", "exact.txt"}), "exact.txt", 5);
  dir.write("b.bed", kBed.substr(0, kBed.size() - 1));
  expectStop(runOmbra(dir.path(), {"--bf", "b"}),
             "Reading binary genotype: b.bed ...\nRead binary file failed.\n");
  // Bytes after the last row are not read.
  dir.write("b.bed", kBed + "xyz");
  expectResult(dir, runOmbra(dir.path(), {"--bf", "b", "--p", "2", "--out", "long.txt"}), "long.txt", 5);
  EXPECT_EQ(dir.read("long.txt"), dir.read("exact.txt"));
}

TEST(BadInput, BimWithZeroAlleles) {
  TempDir dir;
  writeBinaryFamily(dir, "b");
  expectResult(dir, runOmbra(dir.path(), {"--bf", "b", "--p", "2", "--out", "named.txt"}), "named.txt", 5);
  // "0" names an unknown allele: the codes are used as they are and the
  // result shows no allele name.
  dir.write("b.bim", replaceAll(kBim, " A G 8", " 0 0 8"));
  const RunResult run = runOmbra(dir.path(), {"--bf", "b", "--p", "2", "--out", "zero.txt"});
  expectResult(dir, run, "zero.txt", 5);
  const std::string named = dir.read("named.txt");
  const std::string zero = dir.read("zero.txt");
  EXPECT_EQ(zero.substr(0, 3), "rs1");
  EXPECT_EQ(zero.substr(zero.find('\n')), named.substr(named.find('\n')));
  EXPECT_EQ(zero.substr(3, 27).find_first_not_of(' '), std::string::npos);
}

TEST(BadInput, DuplicatedIndividuals) {
  TempDir dir;
  dir.write("d.map", kMap);
  dir.write("d.ped", replaceAll(kFamily, "F1 2 0 0", "F1 1 0 0"));
  expectStop(runOmbra(dir.path(), {"--f", "d"}), "Individual F1 1 on line 2 of d.ped was already given on line 1.\n");
  writeBinaryFamily(dir, "b");
  dir.write("b.fam", replaceAll(kFam, "F3 8", "F1 3"));
  expectStop(runOmbra(dir.path(), {"--bf", "b"}), "Individual F1 3 on line 8 of b.fam was already given on line 3.\n");
  dir.write("u.map", kMap);
  dir.write("u.ped", replaceAll(kUnrelated, "U2 2", "U1 1"));
  expectStop(runOmbra(dir.path(), {"--i", "u"}), "Individual U1 1 on line 2 of u.ped was already given on line 1.\n");
  // One individual ID in two families is two individuals.
  dir.write("e.map", kMap);
  dir.write("e.ped", replaceAll(kFamily, "F2 4 0 0", "F2 1 0 0"));
  expectResult(dir, runOmbra(dir.path(), {"--f", "e", "--p", "2"}), "result.txt", 5);
}

TEST(BadInput, NumbersThatOverflow) {
  TempDir dir;
  dir.write("o.map", replaceAll(kMap, " 200\n", " 99999999999\n"));
  dir.write("o.ped", kFamily);
  expectStop(runOmbra(dir.path(), {"--f", "o"}),
             "Line 2 of o.map has the position 99999999999, which is out of range.\n");
  writeFamily(dir, "f");
  expectStop(runOmbra(dir.path(), {"--f", "f", "--p", "99999999999"}),
             "The number of principal components (--p) must be a whole number from 0 to 2147483647.\n");
  expectStop(runOmbra(dir.path(), {"--f", "f", "--p", "-1"}),
             "The number of principal components (--p) must be a whole number from 0 to 2147483647.\n");
  // A count that no double holds reads as infinity.
  writeBinaryFamily(dir, "b");
  dir.write("b.bim", replaceAll(kBim, " A G 8", " A G 1e999"));
  expectStop(runOmbra(dir.path(), {"--bf", "b"}),
             "Line 1 of b.bim has the allele count 1e999, which is not a count.\n");
  dir.write("t.map", kMap);
  dir.write("t.ped", replaceAll(kFamily, "F1 3 1 2 1 2", "F1 3 1 2 1 1e999"));
  expectStop(runOmbra(dir.path(), {"--f", "t"}),
             "Line 3 of t.ped has the trait 1e999, which is not a finite number.\n");
}

TEST(BadInput, NonAsciiIdentifiersRoundTrip) {
  TempDir dir;
  dir.write("n.map", replaceAll(kMap, "rs3", "rs\xce\xb1\xff"));
  dir.write("n.ped", replaceAll(replaceAll(kFamily, "F2 ", "F\xc3\xa9\x80 "), "F1 3 ", "F1 \xfe\x01 "));
  ASSERT_EQ(runOmbra(dir.path(), {"--f", "n", "--p", "2", "--op", "n.pca"}).status, 0);
  EXPECT_NE(dir.read("n.pca").find("F\xc3\xa9\x80\t4\t"), std::string::npos);
  expectResult(dir, runOmbra(dir.path(), {"--f", "n", "--p", "2", "--rp", "n.pca"}), "result.txt", 5);
  EXPECT_EQ(dir.read("result.txt").substr(dir.read("result.txt").find("rs\xce\xb1\xff "), 6), "rs\xce\xb1\xff ");
}

TEST(BadInput, NulByteSeparatesFields) {
  TempDir dir;
  writeFamily(dir, "f");
  expectResult(dir, runOmbra(dir.path(), {"--f", "f", "--p", "2", "--out", "plain.txt"}), "plain.txt", 5);
  dir.write("z.map", kMap);
  dir.write("z.ped", replaceAll(kFamily, "F1 2 0 0 2 2 A G", std::string("F1\0" "2 0 0 2 2 A\0G", 16)));
  expectResult(dir, runOmbra(dir.path(), {"--f", "z", "--p", "2", "--out", "nul.txt"}), "nul.txt", 5);
  EXPECT_EQ(dir.read("nul.txt"), dir.read("plain.txt"));
}

TEST(BadInput, TenMegabyteLines) {
  TempDir dir;
  std::string alleles;
  alleles.reserve(10u << 20);
  while (alleles.size() < (10u << 20)) alleles += " A";
  dir.write("l.map", kMap);
  dir.write("l.ped", replaceAll(kFamily, "F2 4 0 0 1 1 G G T T A A C C A C", "F2 4 0 0 1 1" + alleles));
  expectStop(runOmbra(dir.path(), {"--f", "l"}), "Individual F2 4 does not have same snp as snp map listed.\n");
  // A SNP name of 10 MB is only long.
  const std::string name(10u << 20, 'r');
  dir.write("k.map", replaceAll(kMap, "rs5", name));
  dir.write("k.ped", kFamily);
  const RunResult run = runOmbra(dir.path(), {"--f", "k", "--p", "2"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(dir.read("result.txt").find(name), std::string::npos);
}

TEST(BadInput, DirectoryGivenAsInput) {
  TempDir dir;
  writeFamily(dir, "f");
  ASSERT_EQ(mkdir(dir.file("dir.ped").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.file("dir.map").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
  dir.write("pedonly.ped", kFamily);
  ASSERT_EQ(mkdir(dir.file("pedonly.map").c_str(), 0755), 0);
  expectStop(runOmbra(dir.path(), {"--f", "pedonly"}), "Open File pedonly.map failed!\n");
  dir.write("maponly.map", kMap);
  ASSERT_EQ(mkdir(dir.file("maponly.ped").c_str(), 0755), 0);
  expectStop(runOmbra(dir.path(), {"--f", "maponly"}), "Open File maponly.ped failed!\n");
  writeBinaryFamily(dir, "b");
  std::remove(dir.file("b.bed").c_str());
  ASSERT_EQ(mkdir(dir.file("b.bed").c_str(), 0755), 0);
  expectStop(runOmbra(dir.path(), {"--bf", "b"}), "Open File b.bed failed!\n");
  expectStop(runOmbra(dir.path(), {"--f", "f", "--p", "2", "--rp", "folder"}), "Open File folder failed!\n");
  expectStop(runOmbra(dir.path(), {"--f", "f", "--p", "2", "--snp-list-pca", "folder"}), "Open File folder failed!\n");
}

TEST(BadInput, UnreadableInput) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads files whatever their mode";
  TempDir dir;
  writeFamily(dir, "f");
  ASSERT_EQ(chmod(dir.file("f.ped").c_str(), 0), 0);
  expectStop(runOmbra(dir.path(), {"--f", "f"}), "Open File f.ped failed!\n");
  ASSERT_EQ(chmod(dir.file("f.ped").c_str(), 0644), 0);
  dir.write("list", "rs1\n");
  ASSERT_EQ(chmod(dir.file("list").c_str(), 0), 0);
  expectStop(runOmbra(dir.path(), {"--f", "f", "--snp-list-pca", "list"}), "Open File list failed!\n");
}

// Every output's folder is checked before any genotype is read: the run
// stops naming the option and the folder, and writes nothing.
TEST(BadInput, OutputInMissingDirectory) {
  TempDir dir;
  writeFamily(dir, "f");
  dir.write("plain", "a file, not a folder\n");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--out", "none/r.txt"}, "none/r.txt of --out cannot be written: its folder none does not exist"},
      {{"--op", "none/s.pca"}, "none/s.pca of --op cannot be written: its folder none does not exist"},
      {{"--make-bed", "none/x"}, "none/x.bim of --make-bed cannot be written: its folder none does not exist"},
      {{"--recode", "none/x"}, "none/x.map of --recode cannot be written: its folder none does not exist"},
      {{"--additive", "none/x"}, "none/x.add of --additive cannot be written: its folder none does not exist"},
      {{"--make-plink-bed", "none/x"}, "none/x.bim of --make-plink-bed cannot be written: its folder none does not exist"},
      {{"--plot", "none/p"}, "none/p.manhattan.svg of --plot cannot be written: its folder none does not exist"},
      {{"--write-kinship", "none/k.txt"}, "none/k.txt of --write-kinship cannot be written: its folder none does not exist"},
      {{"--plot", "plain/p"}, "plain/p.manhattan.svg of --plot cannot be written: its folder plain is not a folder"},
      {{"--out", "plain/deeper/r.txt"},
       "plain/deeper/r.txt of --out cannot be written: its folder plain/deeper does not exist"},
  };
  for (const auto& [option, message] : cases) {
    std::vector<std::string> args = {"--f", "f", "--p", "2"};
    args.insert(args.end(), option.begin(), option.end());
    const RunResult run = runOmbra(dir.path(), args);
    expectStop(run, "The output " + message + ".\n");
    EXPECT_EQ(run.out.find("Reading"), std::string::npos) << run.out;
  }
  EXPECT_FALSE(dir.exists("result.txt"));
}

// Two outputs of one run that are one file, by name, by another path or a
// link, stop the run before anything is read or written, naming both
// options; a device takes several outputs.
TEST(BadInput, TwoOutputsThatAreOneFile) {
  TempDir dir;
  writeFamily(dir, "f");
  ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
  const std::string kEarlier = "an earlier file\n";
  dir.write("k.txt", kEarlier);
  ASSERT_EQ(symlink("k.txt", dir.file("link.txt").c_str()), 0);
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--out", "r.txt", "--write-kinship", "r.txt"}, "r.txt of --out and the output r.txt of --write-kinship"},
      {{"--out", "r.txt", "--write-kinship", "sub/../r.log"},
       "r.log of --out (the log) and the output sub/../r.log of --write-kinship"},
      {{"--out", "r.log"}, "r.log of --out and the output r.log of --out (the log)"},
      {{"--out", "k.txt", "--write-kinship", "link.txt"}, "k.txt of --out and the output link.txt of --write-kinship"},
      {{"--out", "r.txt", "--plot", "p", "--write-kinship", "p.qq.svg"},
       "p.qq.svg of --write-kinship and the output p.qq.svg of --plot"},
  };
  for (const auto& [option, message] : cases) {
    std::vector<std::string> args = {"--f", "f", "--p", "2"};
    args.insert(args.end(), option.begin(), option.end());
    const RunResult run = runOmbra(dir.path(), args);
    expectStop(run, "The output " + message + " are one file: please give each output its own name.\n");
    EXPECT_EQ(run.out.find("Reading"), std::string::npos) << run.out;
    EXPECT_FALSE(dir.exists("r.txt"));
    EXPECT_EQ(dir.read("k.txt"), kEarlier);
  }
  const RunResult devices =
      runOmbra(dir.path(), {"--f", "f", "--p", "2", "--out", "/dev/null", "--write-kinship", "/dev/null"});
  EXPECT_EQ(devices.status, 0) << devices.out;
}

// An output name that is one of the run's inputs, by the same path, another
// path, a hard link or a symbolic link, stops the run before anything is
// written, naming both.
TEST(BadInput, OutputThatIsAnInput) {
  TempDir dir;
  writeFamily(dir, "f");
  writeBinaryFamily(dir, "b");
  ASSERT_EQ(runOmbra(dir.path(), {"--f", "f", "--p", "2", "--op", "s.pca"}).status, 0);
  dir.write("list", "rs1\nrs2\n");
  ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
  ASSERT_EQ(link(dir.file("f.ped").c_str(), dir.file("hard.txt").c_str()), 0);
  ASSERT_EQ(symlink("f.map", dir.file("soft.txt").c_str()), 0);
  const std::vector<std::string> inputs = {"f.map", "f.ped", "b.bim", "b.fam", "b.bed", "s.pca", "list"};
  std::vector<std::string> before;
  for (const std::string& name : inputs) before.push_back(dir.read(name));
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--f", "f", "--out", "f.ped"}, "f.ped is the input file f.ped"},
      {{"--f", "f", "--out", "sub/../f.ped"}, "sub/../f.ped is the input file f.ped"},
      {{"--f", "f", "--out", "hard.txt"}, "hard.txt is the input file f.ped"},
      {{"--f", "f", "--out", "soft.txt"}, "soft.txt is the input file f.map"},
      {{"--f", "f", "--recode", "f"}, "f.map is the input file f.map"},
      {{"--bf", "b", "--make-bed", "b"}, "b.bim is the input file b.bim"},
      {{"--f", "f", "--p", "2", "--rp", "s.pca", "--out", "s.pca"}, "s.pca is the input file s.pca"},
      {{"--f", "f", "--p", "2", "--snp-list-pca", "list", "--op", "list"}, "list is the input file list"},
  };
  for (const auto& [args, names] : cases) {
    const RunResult run = runOmbra(dir.path(), args);
    EXPECT_EQ(run.out, "The output file " + names + ": an input is never overwritten. Please give the output "
                                                     "another name.\n");
    EXPECT_EQ(run.status, 1);
  }
  for (size_t i = 0; i < inputs.size(); ++i) EXPECT_EQ(dir.read(inputs[i]), before[i]) << inputs[i];
  EXPECT_FALSE(dir.exists("result.txt"));
  // With --rp the PCA file is read, and --op does not write it.
  expectResult(dir, runOmbra(dir.path(), {"--f", "f", "--p", "2", "--op", "s.pca", "--rp", "s.pca"}), "result.txt",
               5);
  EXPECT_EQ(dir.read("s.pca"), before[5]);
}

// A full device: the write fails with ENOSPC, the run says so and fails, and
// the files of the run written before it never appear.
TEST(BadInput, OutputToAFullDevice) {
  TempDir dir;
  writeFamily(dir, "f");
  expectStop(runOmbra(dir.path(), {"--f", "f", "--p", "2", "--out", "/dev/full"}),
             "Write File /dev/full failed! No space left on device\n");
  ASSERT_EQ(symlink("/dev/full", dir.file("x.ped").c_str()), 0);
  expectStop(runOmbra(dir.path(), {"--f", "f", "--recode", "x"}), "Write File x.ped failed! No space left on device\n");
  EXPECT_FALSE(dir.exists("x.map"));
}

TEST(BadInput, PcaFileWithFewerColumnsThanAsked) {
  TempDir dir;
  writeFamily(dir, "f");
  ASSERT_EQ(runOmbra(dir.path(), {"--f", "f", "--p", "2", "--op", "two.pca"}).status, 0);
  expectStop(runOmbra(dir.path(), {"--f", "f", "--p", "3", "--rp", "two.pca"}),
             "The individual F1\t1 has not enought PCA are required 3\n");
  // Fewer components than saved read the leading columns.
  expectResult(dir, runOmbra(dir.path(), {"--f", "f", "--p", "1", "--rp", "two.pca"}), "result.txt", 5);
}

TEST(BadInput, OneKindOfSetOnly) {
  TempDir dir;
  const std::string examples = std::string(OMBRA_SOURCE_DIR) + "/examples/";
  expectResult(dir, runOmbra(dir.path(), {"--i", examples + "unrelated", "--p", "3", "--out", "u.txt"}), "u.txt",
               300);
  expectResult(dir, runOmbra(dir.path(), {"--f", examples + "family", "--p", "3", "--out", "f.txt"}), "f.txt", 300);
}

}  // namespace
