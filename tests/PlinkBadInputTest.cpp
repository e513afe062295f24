// Broken PLINK 1 filesets: each stops with a message naming the file and
// what was expected, status 1, and leaves no result behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "TestSupport.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

// Five individuals (a padded last byte), three SNPs.
const char* const kBim = "1 rs1 0 100 A G\n1 rs2 0 200 C T\n2 rs3 0 300 G T\n";
const char* const kFam = "F 1 0 0 1 1\nF 2 0 0 2 2\nF 3 1 2 1 2\nG 4 0 0 1 1\nG 5 0 0 2 1\n";
const std::string kHeader("\x6c\x1b\x01", 3);
const std::string kColumns("\x1b\x02\xe4\x01\x6c\x03", 6);

void writeSet(const TempDir& dir, const std::string& bed, const std::string& bim = kBim,
              const std::string& fam = kFam) {
  dir.write("p.bed", bed);
  dir.write("p.bim", bim);
  dir.write("p.fam", fam);
}

// The run stopped with `message` as the end of its output, no result file.
void expectStop(const TempDir& dir, const std::vector<std::string>& args, const std::string& message) {
  std::vector<std::string> withOut = args;
  withOut.insert(withOut.end(), {"--out", "r.txt"});
  const RunResult run = runOmbra(dir.path(), withOut);
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_GE(run.out.size(), message.size());
  EXPECT_EQ(run.out.substr(run.out.size() - std::min(run.out.size(), message.size())), message) << run.out;
  EXPECT_EQ(run.err, "");
  EXPECT_FALSE(dir.exists("r.txt"));
}

TEST(PlinkBadInput, TheReferenceSetRuns) {
  TempDir dir;
  writeSet(dir, kHeader + kColumns);
  const RunResult run = runOmbra(dir.path(), {"--bf", "p", "--p", "1", "--out", "r.txt"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(dir.exists("r.txt"));
}

TEST(PlinkBadInput, BedSizeMustMatchTheBimAndFam) {
  TempDir dir;
  const std::string sizes = "The file p.bed has %s bytes, but a PLINK 1 .bed of the %s snps of p.bim and the %s "
                            "individuals of p.fam has 3 + %s x %s = %s bytes. The file is truncated, or the three "
                            "files do not belong together.%s\n";
  // A file shorter than its markers also says where its genotypes end.
  auto message = [&sizes](std::vector<std::string> values) {
    std::string text = sizes;
    for (const std::string& value : values) text.replace(text.find("%s"), 2, value);
    return text;
  };
  writeSet(dir, kHeader + kColumns.substr(0, 5));
  expectStop(dir, {"--bf", "p"}, message({"8", "3", "5", "3", "2", "9", " Its genotypes end within snp 3 of 3."}));
  writeSet(dir, kHeader + kColumns + "x");
  expectStop(dir, {"--bi", "p"}, message({"10", "3", "5", "3", "2", "9", ""}));
  writeSet(dir, kHeader + kColumns, std::string(kBim) + "2 rs4 0 400 A C\n");
  expectStop(dir, {"--bf", "p"}, message({"9", "4", "5", "4", "2", "11", " Its genotypes end within snp 4 of 4."}));
  writeSet(dir, kHeader + kColumns, kBim, std::string(kFam) + "G 6 0 0 1 1\nG 7 0 0 1 1\nG 8 0 0 1 1\nG 9 0 0 1 1\n");
  expectStop(dir, {"--bf", "p"}, message({"9", "3", "9", "3", "3", "12", " Its genotypes end within snp 3 of 3."}));
  writeSet(dir, kHeader.substr(0, 2));
  expectStop(dir, {"--bf", "p"},
             "The file p.bed does not start with the bytes 0x6c 0x1b 0x01 of a PLINK 1 .bed, although p.bim has "
             "the 6 columns of a PLINK .bim (Ombra's own .bim has 7).\n");
}

TEST(PlinkBadInput, IndividualMajorAndForeignBedFiles) {
  TempDir dir;
  writeSet(dir, std::string("\x6c\x1b\x00", 3) + kColumns);
  expectStop(dir, {"--bf", "p"},
             "The file p.bed is a PLINK 1 .bed in individual-major mode (its third byte is 0x00), an old layout "
             "that is not read. Please rewrite it in SNP-major mode, for example with plink1.9 --bfile p --make-bed "
             "--out NEW_PREFIX.\n");
  // A 6-column .bim beside a .bed of Ombra's own layout: read as Ombra's
  // set, whose .bim needs its count column.
  writeSet(dir, kColumns);
  const RunResult run = runOmbra(dir.path(), {"--bf", "p"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "p.bim has the 6 columns of a PLINK .bim, but p.bed does not start with the bytes 0x6c 0x1b 0x01 of a "
            "PLINK 1 .bed; the set is read as this program's own binary set, whose .bim has 7 columns.\n"
            "Reading snp map: p.bim ...\nLine 1 of p.bim has 6 fields, but at least 7 are needed.\n");
  std::remove(dir.file("p.bed").c_str());
  const RunResult missing = runOmbra(dir.path(), {"--bf", "p"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out.rfind("p.bim has the 6 columns of a PLINK .bim, but p.bed does not exist; the set is read "
                              "as this program's own binary set, whose .bim has 7 columns.\n",
                              0),
            0u)
      << missing.out;
}

TEST(PlinkBadInput, BimLinesAndFamIdentifiers) {
  TempDir dir;
  writeSet(dir, kHeader + kColumns, "1 rs1 0 100 A G\n1 rs2 0 200 C T 5\n2 rs3 0 300 G T\n");
  expectStop(dir, {"--bf", "p"},
             "Line 2 of p.bim has 7 fields, but a PLINK .bim line has 6: chromosome, snp, distance, position, "
             "allele 1, allele 2.\n");
  writeSet(dir, kHeader + kColumns, "1 rs1 0 100 A G\r\n1 rs2 0 200 C T\r\n2 rs3 0 300 G T\r\n");
  expectStop(dir, {"--bf", "p"},
             "Line 1 of p.bim has a carriage return: the file has Windows line endings. Please convert it to Unix "
             "line endings (for example with dos2unix).\n");
  writeSet(dir, kHeader + kColumns, "1 rs1 0 100 A G\n1 rs2 0 99999999999 C T\n2 rs3 0 300 G T\n");
  expectStop(dir, {"--bf", "p"}, "Line 2 of p.bim has the position 99999999999, which is out of range.\n");
  writeSet(dir, kHeader + kColumns, kBim, "F 1 0 0 1 1\nF 2 0 0 2 2\nF 3 1 2 1 2\nG 4 0 0 1 1\nF 2 0 0 2 1\n");
  expectStop(dir, {"--bf", "p"}, "Individual F 2 on line 5 of p.fam was already given on line 2.\n");
}

TEST(PlinkBadInput, PooledSetsMustShareSnpsAndAlleles) {
  TempDir dir;
  writeSet(dir, kHeader + kColumns);
  dir.write("u.bed", kHeader + kColumns);
  dir.write("u.fam", "U 1 0 0 1 1\nU 2 0 0 2 2\nU 3 0 0 1 2\nU 4 0 0 1 1\nU 5 0 0 2 1\n");
  dir.write("u.bim", "1 rs1 0 100 A C\n1 rs2 0 200 C T\n2 rs3 0 300 G T\n");
  expectStop(dir, {"--bf", "p", "--bi", "u"},
             "The allele of marker rs1 (chromosome 1) is more than 2, please check the data!\n");
  // Other SNPs are matched, unless matching cannot choose or finds none.
  dir.write("u.bim", "1 rs1 0 100 A G\n1 rs1 0 200 C T\n2 rs3 0 300 G T\n");
  expectStop(dir, {"--bf", "p", "--bi", "u"},
             "The snp ID rs1 appears twice in u.bim (snps 1 and 2), so the snps cannot be matched by ID. Please "
             "remove one of them (--exclude), or match by position (--match-by position).\n");
  dir.write("u.bim", "1 rsX 0 100 A G\n1 rsY 0 200 C T\n2 rsZ 0 300 G T\n");
  expectStop(dir, {"--bf", "p", "--bi", "u"},
             "No snp is shared by p.bim (3 snps) and u.bim (3 snps), matched by ID. Sets whose IDs differ are "
             "matched by place with --match-by position.\n");
}

TEST(PlinkBadInput, EmptySets) {
  TempDir dir;
  // No SNP: only the magic bytes; no individual: no column bytes.
  writeSet(dir, kHeader, "");
  expectStop(dir, {"--bf", "p"}, "There is no snp to test: no snp map was read, or it lists no snps.\n");
  writeSet(dir, kHeader, kBim, "");
  expectStop(dir, {"--bf", "p"}, "There is no individual to test: the data sets are empty.\n");
}

}  // namespace
