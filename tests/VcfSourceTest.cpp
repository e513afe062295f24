// The VCF genotype source and the store loader, in process: GT texts and
// their codes, the transposition of SNP-major blocks into rows across block
// boundaries, and blocks read again or out of order.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "formats/SourceLoader.h"
#include "formats/VcfSource.h"

using testing_support::TempDir;

namespace {

using ombra::GtProblem;

struct GtCase {
  const char* text;
  int code;
  GtProblem problem;
};

TEST(VcfGt, EveryFormOfACall) {
  const GtCase cases[] = {
      {"0/0", 0, GtProblem::kNone},        {"0/1", 1, GtProblem::kNone},       {"1/0", 1, GtProblem::kNone},
      {"1/1", 2, GtProblem::kNone},        {"0|1", 1, GtProblem::kNone},       {"1|1", 2, GtProblem::kNone},
      {"./.", 3, GtProblem::kNone},        {".|.", 3, GtProblem::kNone},       {".", 3, GtProblem::kNone},
      {"./1", 3, GtProblem::kNone},        {"0|.", 3, GtProblem::kNone},       {"00/01", 1, GtProblem::kNone},
      {"0", 0, GtProblem::kNone},          {"1", 2, GtProblem::kNone},         {"0/0/1", 3, GtProblem::kPolyploid},
      {"01", 2, GtProblem::kNone},         {"2", 3, GtProblem::kOtherAllele},
      {"./././.", 3, GtProblem::kPolyploid}, {"0/2", 3, GtProblem::kOtherAllele}, {"12/1", 3, GtProblem::kOtherAllele},
      {"", 3, GtProblem::kNotGt},          {"0/", 3, GtProblem::kNotGt},       {"/1", 3, GtProblem::kNotGt},
      {"0//1", 3, GtProblem::kNotGt},      {"a/b", 3, GtProblem::kNotGt},      {"0\\1", 3, GtProblem::kNotGt},
      {"-1/0", 3, GtProblem::kNotGt},      {"0/1 ", 3, GtProblem::kNotGt},
  };
  for (const GtCase& c : cases) {
    const std::string text = c.text;
    GtProblem problem = GtProblem::kNone;
    EXPECT_EQ(ombra::gtCode(text.data(), text.data() + text.size(), problem), c.code) << text;
    EXPECT_EQ(problem, c.problem) << text;
  }
}

// A source whose code at individual i and SNP s is a fixed function of both.
class PatternSource : public ombra::GenotypeSource {
 public:
  PatternSource(size_t samples, size_t snps) : samples(samples), list(snps) {}
  static unsigned code(size_t i, size_t s) { return static_cast<unsigned>((i * 7 + s * 13 + i * s) % 4); }
  size_t sampleCount() const override { return samples; }
  const std::vector<Marker>& markers() const override { return list; }
  void readSnps(size_t first, size_t count, unsigned char* out) override {
    EXPECT_EQ(first, next);
    next = first + count;
    const size_t column = ombra::columnBytes(samples);
    for (size_t j = 0; j < count; ++j) {
      unsigned char* bytes = out + j * column;
      for (size_t b = 0; b < column; ++b) bytes[b] = 0;
      for (size_t i = 0; i < samples; ++i) bytes[i / 4] |= static_cast<unsigned char>(code(i, first + j) << (6 - 2 * (i % 4)));
    }
  }

 private:
  size_t samples;
  std::vector<Marker> list;
  size_t next = 0;
};

void expectRows(const std::vector<GenotypeRow>& rows, size_t samples, size_t snps) {
  ASSERT_EQ(rows.size(), samples);
  for (size_t i = 0; i < samples; ++i) {
    ASSERT_EQ(rows[i].seq, static_cast<int>(i));
    for (size_t s = 0; s < snps; ++s) ASSERT_EQ(static_cast<unsigned>(genotypeCode(rows[i].codes, s)), PatternSource::code(i, s));
    // The unused slots of the last byte stay 0.
    if (snps % 4 != 0) {
      ASSERT_EQ(rows[i].codes[snps / 4] & ((1u << (2 * (4 - snps % 4))) - 1), 0u);
    }
  }
}

TEST(SourceLoader, RowsHoldEveryCodeForAnyShape) {
  for (size_t samples : {0, 1, 3, 4, 5, 9}) {
    for (size_t snps : {0, 1, 3, 4, 7, 13}) {
      SCOPED_TRACE(std::to_string(samples) + " samples, " + std::to_string(snps) + " snps");
      MemoryClass<char> tracker;
      std::vector<GenotypeRow> rows;
      PatternSource source(samples, snps);
      ombra::loadRows(source, tracker, rows);
      expectRows(rows, samples, snps);
      EXPECT_EQ(tracker.Count(), static_cast<int>(samples));
      for (GenotypeRow& row : rows) tracker.FreeVector(reinterpret_cast<char*>(row.codes));
    }
  }
}

TEST(SourceLoader, BlocksMeetInsideTheRows) {
  // 40,001 samples take 10,001 bytes a SNP: blocks of 836 SNPs, so 2,003
  // SNPs span three blocks.
  MemoryClass<char> tracker;
  std::vector<GenotypeRow> rows;
  PatternSource source(40001, 2003);
  ombra::loadRows(source, tracker, rows);
  expectRows(rows, 40001, 2003);
  for (GenotypeRow& row : rows) tracker.FreeVector(reinterpret_cast<char*>(row.codes));
}

const char* const kVcf =
    "##fileformat=VCFv4.2\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tS1\tF_S2\tS3\n"
    "1\t10\trs1\tA\tG\t.\t.\t.\tGT\t0/0\t0/1\t1/1\n"
    "1\t20\trs2\tA\tC,G\t.\t.\t.\tGT\t0/0\t0/1\t1/2\n"
    "1\t30\t.\tT\tTA\t.\t.\t.\tGT\t1/1\t./.\t0|1\n"
    "2\t40\trs4\tC\tG\t.\t.\t.\tGT\t./1\t1|1\t0/0\n"
    "2\t50\trs5\tG\tA\t.\t.\t.\tGT\t0/1\t0/0\t1/1\n";

// Samples in another order than the file's: F S2, S3, S1.
std::vector<ombra::SampleName> individuals() { return {{"F", "S2"}, {"G", "S3"}, {"H", "S1"}}; }

// The codes of one SNP column of three individuals.
std::vector<int> column(const unsigned char* bytes) {
  return {bytes[0] >> 6 & 3, bytes[0] >> 4 & 3, bytes[0] >> 2 & 3};
}

TEST(VcfSource, MarkersCodesAndBlocksReadAgain) {
  TempDir dir;
  dir.write("set.vcf", kVcf);
  ombra::VcfSource source(dir.file("set.vcf"), individuals(), "set.fam");
  EXPECT_EQ(source.sampleCount(), 3u);
  EXPECT_EQ(source.skippedRecords(), 1u);
  EXPECT_EQ(source.ignoredSamples(), 0u);
  const std::vector<Marker>& markers = source.markers();
  ASSERT_EQ(markers.size(), 4u);
  EXPECT_EQ(markers[1].snpId, "1:30:T:TA");
  EXPECT_EQ(markers[1].allele1, "T");
  EXPECT_EQ(markers[1].allele2, "TA");
  EXPECT_EQ(markers[3].chr, "2");
  EXPECT_EQ(markers[3].position, 50);

  unsigned char block[4] = {};
  // A later block first, then the first ones again from the file's start.
  source.readSnps(2, 2, block);
  EXPECT_EQ(column(block), (std::vector<int>{2, 0, 3}));
  EXPECT_EQ(column(block + 1), (std::vector<int>{0, 2, 1}));
  source.readSnps(0, 2, block);
  EXPECT_EQ(column(block), (std::vector<int>{1, 2, 0}));
  EXPECT_EQ(column(block + 1), (std::vector<int>{3, 1, 2}));
  EXPECT_EQ(block[0] & 3, 0);  // the unused slot
  // Counts of ALT copies, over the individuals only.
  EXPECT_EQ(markers[0].allele2Count, 3);
  EXPECT_EQ(markers[1].allele2Count, 3);
  EXPECT_EQ(markers[2].allele2Count, 2);
  EXPECT_EQ(markers[3].allele2Count, 3);
}

TEST(VcfSource, AFileThatChangesBetweenThePassesStops) {
  TempDir dir;
  dir.write("set.vcf", kVcf);
  ombra::VcfSource source(dir.file("set.vcf"), individuals(), "set.fam");
  dir.write("set.vcf", std::string(kVcf).substr(0, std::string(kVcf).find("2\t40")));
  unsigned char block[4] = {};
  EXPECT_NE(testing_support::stopOf([&] { source.readSnps(0, 4, block); }).out.find(" changed while it was read: snp rs4 is no longer where it was.\n"),
            std::string::npos);
}

// Four samples' calls as a file may write them, and as the diploid calls
// they are read as: a haploid call is 0 or 2 copies (its one haplotype
// dosage counts twice), a half-missing call is missing.
const char* const kPloidyHeader =
    "##fileformat=VCFv4.2\n##contig=<ID=1>\n##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
    "##FORMAT=<ID=HDS,Number=.,Type=Float,Description=\"Haplotype dosages\">\n"
    "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tS1\tS2\tS3\tS4\n";
const char* const kAsWritten =
    "1\t10\trs1\tA\tG\t.\t.\t.\tGT\t0\t1\t.\t0/1\n"
    "1\t20\trs2\tA\tG\t.\t.\t.\tGT\t1\t1\t0\t1\n"
    "1\t30\trs3\tA\tG\t.\t.\t.\tGT:HDS\t1:0.75\t0:0\t.:.\t0|1:0,0.5\n"
    "1\t40\trs4\tA\tG\t.\t.\t.\tGT\t./1\t0/.\t1|.\t.|0\n";
const char* const kAsRead =
    "1\t10\trs1\tA\tG\t.\t.\t.\tGT\t0/0\t1/1\t./.\t0/1\n"
    "1\t20\trs2\tA\tG\t.\t.\t.\tGT\t1/1\t1/1\t0/0\t1/1\n"
    "1\t30\trs3\tA\tG\t.\t.\t.\tGT:HDS\t1/1:0.75,0.75\t0/0:0,0\t./.:.\t0|1:0,0.5\n"
    "1\t40\trs4\tA\tG\t.\t.\t.\tGT\t./.\t./.\t./.\t./.\n";

struct ReadSet {
  std::vector<unsigned char> calls = std::vector<unsigned char>(4);  // one byte per SNP
  std::vector<unsigned char> nearest = std::vector<unsigned char>(4);
  std::vector<uint16_t> dosages = std::vector<uint16_t>(16);
};

ReadSet readBothWays(const std::string& path) {
  const std::vector<ombra::SampleName> samples = {{"F", "S1"}, {"F", "S2"}, {"F", "S3"}, {"F", "S4"}};
  ReadSet read;
  ombra::VcfSource(path, samples, "set.fam").readSnps(0, 4, read.calls.data());
  ombra::VcfSource(path, samples, "set.fam", ombra::DosageField::kHds)
      .readDosages(0, 4, read.nearest.data(), read.dosages.data());
  return read;
}

TEST(VcfSource, HaploidCallsAreHomozygousAndHalfMissingOnesMissingInVcfAndBcf) {
  TempDir dir;
  dir.write("written.vcf", std::string(kPloidyHeader) + kAsWritten);
  dir.write("read.vcf", std::string(kPloidyHeader) + kAsRead);
  // S1..S4 in the top bits first.
  const std::vector<unsigned char> calls = {0 << 6 | 2 << 4 | 3 << 2 | 1, 2 << 6 | 2 << 4 | 0 << 2 | 2,
                                            2 << 6 | 0 << 4 | 3 << 2 | 1, 0xFF};
  const ReadSet expected = readBothWays(dir.file("read.vcf"));
  EXPECT_EQ(expected.calls, calls);
  const uint16_t half = kDosageOne / 2, missing = kMissingDosage;
  const std::vector<uint16_t> hds = {3 * half, 0, missing, half};
  EXPECT_EQ(std::vector<uint16_t>(expected.dosages.begin() + 8, expected.dosages.begin() + 12), hds);
  auto expectAsRead = [&](const std::string& file) {
    const ReadSet read = readBothWays(dir.file(file));
    EXPECT_EQ(read.calls, calls) << file;
    EXPECT_EQ(read.nearest, expected.nearest) << file;
    EXPECT_EQ(read.dosages, expected.dosages) << file;
  };
  expectAsRead("written.vcf");
  if (std::system("command -v bcftools >/dev/null 2>&1") != 0) GTEST_SKIP() << "bcftools is not installed";
  for (const std::string name : {"written", "read"}) {
    const std::string make = "cd '" + dir.path() + "' && bcftools view -Ob -o " + name + ".bcf " + name + ".vcf";
    ASSERT_EQ(std::system(make.c_str()), 0);
    expectAsRead(name + ".bcf");
  }
}

}  // namespace
