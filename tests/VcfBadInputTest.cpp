// Broken VCF and BCF data sets, end to end on the built program: each must
// stop with a message that names the file (and the line or record), status
// 1, nothing on standard error (htslib's own messages are silenced) and no
// result file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

bool haveBcftools() { return std::system("command -v bcftools >/dev/null 2>&1") == 0; }

const char* const kFam = "F1 A 0 0 1 1\nF1 B 0 0 2 2\nF2 C 0 0 1 2\nF2 D 0 0 2 1\n";
const char* const kHeader =
    "##fileformat=VCFv4.2\n##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
    "##FORMAT=<ID=DP,Number=1,Type=Integer,Description=\"Depth\">\n##contig=<ID=1>\n"
    "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tA\tB\tC\tD\n";
const char* const kRecords =
    "1\t100\trs1\tA\tG\t.\t.\t.\tGT\t0/0\t0/1\t1/1\t0|1\n"
    "1\t200\trs2\tC\tT\t.\t.\t.\tGT\t0/1\t1/1\t./.\t1|0\n"
    "1\t300\trs3\tG\tT\t.\t.\t.\tGT\t1/1\t0/1\t0/0\t0/0\n";

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

class VcfBadInput : public testing::Test {
 protected:
  // Writes NAME.fam and NAME.vcf holding `records` after the header.
  void writeVcf(const std::string& name, const std::string& records, const std::string& header = kHeader) {
    dir.write(name + ".fam", kFam);
    dir.write(name + ".vcf", header + records);
  }
  // The run of set NAME stopped with `message` as its last output.
  void expectStop(const std::string& name, const std::string& message, const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"--vf", name, "--p", "0", "--out", name + ".txt"};
    args.insert(args.end(), more.begin(), more.end());
    const RunResult run = runOmbra(dir.path(), args);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_EQ(run.err, "");
    const bool ends = run.out.size() >= message.size() &&
                      run.out.compare(run.out.size() - message.size(), message.size(), message) == 0;
    EXPECT_TRUE(ends) << "expected the output to end with:\n" << message << "got:\n" << run.out;
    EXPECT_FALSE(dir.exists(name + ".txt"));
  }
  // Makes NAME.vcf.gz (and NAME.fam) from NAME.vcf with bgzip.
  void bgzip(const std::string& name) {
    ASSERT_EQ(std::system(("cd '" + dir.path() + "' && bgzip -f " + name + ".vcf").c_str()), 0);
  }

  TempDir dir;
};

TEST_F(VcfBadInput, TheReferenceSetRuns) {
  writeVcf("good", kRecords);
  const RunResult run = runOmbra(dir.path(), {"--vf", "good", "--p", "0", "--out", "good.txt"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(dir.exists("good.txt"));
}

TEST_F(VcfBadInput, CallsThatAreNotHaploidOrDiploidCallsOfRefAndAlt) {
  writeVcf("nogt", replaceAll(kRecords, "\tGT\t", "\tDP\t"));
  expectStop("nogt", "Record 1 (line 6, chromosome 1, position 100) of nogt.vcf has no GT field (its FORMAT is DP).\n");
  writeVcf("triploid", replaceAll(kRecords, "\t0/1\t1/1\t./.", "\t0/1/1\t1/1\t./."));
  expectStop("triploid", "Record 2 (line 7, chromosome 1, position 200) of triploid.vcf has the genotype 0/1/1 for "
                         "sample A, which is polyploid: only diploid genotypes can be read.\n");
  writeVcf("third", replaceAll(kRecords, "1/1\t0|1", "1/2\t0|1"));
  expectStop("third", "Record 1 (line 6, chromosome 1, position 100) of third.vcf has the genotype 1/2 for sample C, "
                      "which names an allele other than REF and the record's one ALT.\n");
  writeVcf("garbage", replaceAll(kRecords, "0/0\t0/1\t1/1\t0|1", "0/0\t0/1\t1/x\t0|1"));
  expectStop("garbage", "Record 1 (line 6, chromosome 1, position 100) of garbage.vcf has the genotype 1/x for "
                        "sample C, which is not a GT call.\n");
}

TEST_F(VcfBadInput, RecordsCutOffOrWithTheWrongColumns) {
  const std::string records = kRecords;
  writeVcf("site", records.substr(0, records.find("rs3\tG") + 5));
  expectStop("site", "Record 3 (line 8) of site.vcf has 4 columns, but a VCF record has at least 8: it is cut off.\n");
  writeVcf("samples", records.substr(0, records.size() - 9));
  expectStop("samples", "Record 3 (line 8, chromosome 1, position 300) of samples.vcf has 2 sample columns, but the "
                        "header names 4: it is cut off.\n");
  writeVcf("call", records.substr(0, records.size() - 2));
  expectStop("call", "Record 3 (line 8, chromosome 1, position 300) of call.vcf has the genotype 0/ for sample D, "
                     "which is not a GT call.\n");
  writeVcf("more", replaceAll(kRecords, "\t0|1\n", "\t0|1\t0/0\n"));
  expectStop("more", "Record 1 (line 6, chromosome 1, position 100) of more.vcf has more sample columns than the "
                     "header names (4).\n");
  writeVcf("position", replaceAll(kRecords, "\t200\t", "\t2e2\t"));
  expectStop("position", "Record 2 (line 7) of position.vcf has the position 2e2, which is not a number.\n");
  writeVcf("noheader", kRecords, "##fileformat=VCFv4.2\n");
  expectStop("noheader", "Line 2 of noheader.vcf comes before the #CHROM header line but does not start with ##.\n");
}

TEST_F(VcfBadInput, FilesThatAreMissingOrNotVcf) {
  dir.write("none.fam", kFam);
  expectStop("none", "None of none.bcf, none.vcf.gz and none.vcf exists.\n");
  dir.write("text.fam", kFam);
  dir.write("text.vcf", "F1 A 0 0 1 1 A A\n");
  expectStop("text", "The file text.vcf is not a VCF or BCF file.\n");
  dir.write("empty.fam", kFam);
  dir.write("empty.vcf", "");
  expectStop("empty", "The file empty.vcf is not a VCF or BCF file.\n");
  writeVcf("nofam", kRecords);
  std::remove(dir.file("nofam.fam").c_str());
  expectStop("nofam", "File nofam.fam doese not exist!\n");
  writeVcf("twice", kRecords);
  dir.write("twice.fam", std::string(kFam) + "F1 B 0 0 1 1\n");
  expectStop("twice", "Individual F1 B on line 5 of twice.fam was already given on line 2.\n");
}

// Offsets of the BGZF blocks of `data`.
std::vector<size_t> blockOffsets(const std::string& data) {
  std::vector<size_t> offsets;
  for (size_t at = 0; at + 18 <= data.size();) {
    offsets.push_back(at);
    at += static_cast<size_t>(static_cast<uint8_t>(data[at + 16]) | static_cast<uint8_t>(data[at + 17]) << 8) + 1;
  }
  return offsets;
}

TEST_F(VcfBadInput, CorruptAndTruncatedBgzipFiles) {
  if (std::system("command -v bgzip >/dev/null 2>&1") != 0) GTEST_SKIP() << "bgzip is not installed";
  // Enough records for several blocks.
  std::string records;
  for (int r = 0; r < 4000; ++r) {
    records += "1\t" + std::to_string(100 + r) + "\trs" + std::to_string(r) + "\tA\tG\t.\t.\t.\tGT\t0/0\t0/1\t" +
               (r % 3 == 0 ? "1/1" : "0/1") + "\t0|1\n";
  }
  writeVcf("whole", records);
  bgzip("whole");
  const std::string whole = dir.read("whole.vcf.gz");
  const std::vector<size_t> blocks = blockOffsets(whole);
  ASSERT_GE(blocks.size(), 4u);
  ASSERT_EQ(blocks.back(), whole.size() - 28);  // the empty end-of-file block

  // Compressed data changed inside the second block.
  std::string corrupt = whole;
  for (size_t k = 30; k < 40; ++k) corrupt[blocks[1] + k] = static_cast<char>(corrupt[blocks[1] + k] ^ 0x5a);
  dir.write("corrupt.vcf.gz", corrupt);
  dir.write("corrupt.fam", kFam);
  const RunResult run = runOmbra(dir.path(), {"--vf", "corrupt", "--p", "0", "--out", "corrupt.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("The file corrupt.vcf.gz cannot be read after line "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(": it is corrupt or truncated.\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");
  EXPECT_FALSE(dir.exists("corrupt.txt"));

  std::string first = whole;
  first[blocks[0] + 20] = static_cast<char>(first[blocks[0] + 20] ^ 0xff);
  dir.write("first.vcf.gz", first);
  dir.write("first.fam", kFam);
  expectStop("first", "The file first.vcf.gz is not a VCF or BCF file, or its first compressed block is corrupt.\n");

  // Cut at a block boundary, the text decompresses cleanly: only the
  // missing end-of-file block tells.
  dir.write("boundary.vcf.gz", whole.substr(0, blocks[2]));
  dir.write("boundary.fam", kFam);
  expectStop("boundary", "The file boundary.vcf.gz ends without the end-of-file block of bgzip: it is truncated.\n");
  dir.write("inside.vcf.gz", whole.substr(0, blocks[2] + 100));
  dir.write("inside.fam", kFam);
  expectStop("inside", "The file inside.vcf.gz ends without the end-of-file block of bgzip: it is truncated.\n");

  // An ordinary gzip stream has no end-of-file block; its own end tells.
  ASSERT_EQ(std::system(("cd '" + dir.path() + "' && gzip -dc whole.vcf.gz | gzip -c > gzip.vcf.gz").c_str()), 0);
  const std::string gzip = dir.read("gzip.vcf.gz");
  dir.write("cut.vcf.gz", gzip.substr(0, gzip.size() / 2));
  dir.write("cut.fam", kFam);
  const RunResult cut = runOmbra(dir.path(), {"--vf", "cut", "--p", "0", "--out", "cut.txt"});
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.out.find("The file cut.vcf.gz cannot be read after line "), std::string::npos) << cut.out;
  EXPECT_FALSE(dir.exists("cut.txt"));
}

TEST_F(VcfBadInput, BrokenBcfFiles) {
  if (!haveBcftools()) GTEST_SKIP() << "bcftools is not installed";
  auto makeBcf = [this](const std::string& name, const std::string& records) {
    writeVcf(name + "_src", records);
    dir.write(name + ".fam", kFam);
    ASSERT_EQ(std::system(("cd '" + dir.path() + "' && bcftools view -Ob -o " + name + ".bcf " + name +
                           "_src.vcf 2>/dev/null")
                              .c_str()),
              0);
  };
  makeBcf("nogt", "1\t100\trs1\tA\tG\t.\t.\t.\tDP\t3\t4\t5\t6\n");
  expectStop("nogt", "Record 1 (chromosome 1, position 100) of nogt.bcf has no GT field.\n");
  makeBcf("triploid", replaceAll(kRecords, "\t0/1\t1/1\t./.", "\t0/1/1\t1/1\t./."));
  expectStop("triploid", "Record 2 (chromosome 1, position 200) of triploid.bcf has a genotype of 3 alleles for sample "
                         "A, which is polyploid: only diploid genotypes can be read.\n");
  makeBcf("whole", kRecords);
  const std::string whole = dir.read("whole.bcf");
  dir.write("cut.bcf", whole.substr(0, whole.size() - 40));
  dir.write("cut.fam", kFam);
  expectStop("cut", "The file cut.bcf ends without the end-of-file block of bgzip: it is truncated.\n");
}

TEST_F(VcfBadInput, AnUnrelatedSetWithOtherSnpsIsMatched) {
  dir.write("fam.map", "1 rs1 0 100\n1 rs2 0 200\n");
  dir.write("fam.ped", "F1 1 0 0 1 1 A A C C\nF1 2 0 0 2 2 A G C T\n");
  writeVcf("unr", kRecords);
  const RunResult run = runOmbra(dir.path(), {"--f", "fam", "--vi", "unr", "--p", "0", "--out", "pooled.txt"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("The snps of fam.map and unr.vcf differ; matched by ID: 2 shared, 0 in fam.map only, 1 in "
                         "unr.vcf only, 0 swapped, 0 strand-flipped, 0 left out for other alleles.\n"),
            std::string::npos)
      << run.out;
}

}  // namespace
