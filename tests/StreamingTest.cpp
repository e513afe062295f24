// Streaming the genotypes of SNP-major files: the stream's rows against the
// codes of the file, and runs from PLINK filesets and VCF files (read as the
// run goes) against runs from the same data loaded whole.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <random>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "core/RunEnd.h"
#include "formats/GenotypeStream.h"
#include "outputs/ResultTable.h"
#include "outputs/StatisticStore.h"

namespace {

using testing_support::resultOf;
using testing_support::RunResult;
using testing_support::runOmbra;
using testing_support::TempDir;

const std::string kExamples = std::string(OMBRA_SOURCE_DIR) + "/examples/";

// Codes from a formula, read in any order, by `readers` threads at once.
class FormulaSource : public ombra::GenotypeSource {
 public:
  FormulaSource(size_t samples, size_t snps, size_t readers = 1) : n(samples), list(snps), most(readers) {}
  static int code(size_t i, size_t s) { return static_cast<int>((i * 5 + s * 11 + (i * s) % 7) % 4); }
  size_t sampleCount() const override { return n; }
  const std::vector<Marker>& markers() const override { return list; }
  void readSnps(size_t first, size_t count, unsigned char* out) override {
    const size_t stride = ombra::columnBytes(n);
    for (size_t j = 0; j < count; ++j) {
      for (size_t b = 0; b < stride; ++b) out[j * stride + b] = 0;
      for (size_t i = 0; i < n; ++i) {
        out[j * stride + i / 4] |= static_cast<unsigned char>(code(i, first + j) << (2 * (3 - i % 4)));
      }
    }
  }
  size_t concurrentReaders() const override { return most; }
  void readDosagesBy(size_t reader, size_t first, size_t count, unsigned char* codes, uint16_t*,
                     uint16_t*) override {
    EXPECT_LT(reader, most);
    readSnps(first, count, codes);
  }

 private:
  size_t n;
  std::vector<Marker> list;
  size_t most;
};

int swappedCode(int code) { return code == 0 ? 2 : code == 2 ? 0 : code; }

TEST(GenotypeStream, RowsHoldTheKeptSnpsWithSwapsAndZeroPadding) {
  for (size_t threads : {1, 3})
  for (size_t n : {1, 5, 9}) {
    const size_t fileSnps = 5000;  // the kept SNPs span more than one block
    std::vector<size_t> kept;
    ombra::SnpRuns runs;
    for (size_t s = 0; s < fileSnps; ++s) {
      if (s % 3 != 1 && s / 100 != 7) {
        kept.push_back(s);
        runs.add(s);
      }
    }
    std::vector<bool> swapped(fileSnps, false);
    for (size_t s : {0, 2, 7, 4097}) swapped[s] = true;
    ombra::GenotypeStream stream(std::make_unique<FormulaSource>(n, fileSnps, threads));
    stream.keepSnps(runs);
    stream.swapAlleles(swapped);
    // Individual 1 is left out; the others' rows are in reverse order.
    std::vector<std::vector<unsigned char>> rows(n, std::vector<unsigned char>(kept.size() / 4 + 1, 0xFF));
    std::vector<GenotypeRow> rowOf(n);
    for (size_t i = 0; i < n; ++i) rowOf[i].codes = i == 1 ? nullptr : rows[n - 1 - i].data();
    stream.attachRows(rowOf);
    std::vector<size_t> wanted;
    for (size_t k = 3; k < kept.size(); k += 2) wanted.push_back(k);
    stream.fill(wanted.data(), wanted.size(), threads);
    for (size_t i = 0; i < n; ++i) {
      if (i == 1) continue;
      const unsigned char* row = rows[n - 1 - i].data();
      for (size_t j = 0; j < wanted.size(); ++j) {
        const size_t s = kept[wanted[j]];
        const bool swaps = s == 0 || s == 2 || s == 7 || s == 4097;
        const int expected = swaps ? swappedCode(FormulaSource::code(i, s)) : FormulaSource::code(i, s);
        ASSERT_EQ(genotypeCode(row, j), expected) << threads << " " << n << " " << i << " " << j;
      }
      if (wanted.size() % 4 != 0) {
        EXPECT_EQ(row[wanted.size() / 4] & (0xFF >> (2 * (wanted.size() % 4))), 0);
      }
    }
  }
}

// Every SNP of the file: one run, split between threads.
TEST(GenotypeStream, ThreadsShareALongRun) {
  const size_t n = 7, snps = 3001;
  for (size_t threads : {1, 2, 3}) {
    ombra::GenotypeStream stream(std::make_unique<FormulaSource>(n, snps, threads));
    std::vector<std::vector<unsigned char>> rows(n, std::vector<unsigned char>(snps / 4 + 1, 0xFF));
    std::vector<GenotypeRow> rowOf(n);
    for (size_t i = 0; i < n; ++i) rowOf[i].codes = rows[i].data();
    stream.attachRows(rowOf);
    std::vector<size_t> wanted(snps);
    std::iota(wanted.begin(), wanted.end(), size_t{0});
    stream.fill(wanted.data(), wanted.size(), threads);
    for (size_t i = 0; i < n; ++i) {
      for (size_t s = 0; s < snps; ++s) ASSERT_EQ(genotypeCode(rows[i].data(), s), FormulaSource::code(i, s)) << s;
    }
  }
}

// Two damaged SNPs read on several threads: the run stops at the first,
// as on one thread, even when the later one fails first.
TEST(GenotypeStream, ThreadsStopAtTheFirstDamagedSnp) {
  class Damaged : public FormulaSource {
   public:
    Damaged() : FormulaSource(6, 3000, 4) {}
    void readSnps(size_t first, size_t count, unsigned char* out) override {
      for (size_t s = first; s < first + count; ++s) {
        if (s == 500) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (s == 500 || s == 1800) ombra::stopRun("damaged snp " + std::to_string(s) + "\n");
      }
      FormulaSource::readSnps(first, count, out);
    }
  };
  for (size_t threads : {1, 4}) {
    ombra::GenotypeStream stream(std::make_unique<Damaged>());
    std::vector<std::vector<unsigned char>> rows(6, std::vector<unsigned char>(3000 / 4, 0));
    std::vector<GenotypeRow> rowOf(6);
    for (size_t i = 0; i < 6; ++i) rowOf[i].codes = rows[i].data();
    stream.attachRows(rowOf);
    std::vector<size_t> wanted(3000);
    std::iota(wanted.begin(), wanted.end(), size_t{0});
    try {
      stream.fill(wanted.data(), wanted.size(), threads);
      ADD_FAILURE() << "no stop at " << threads << " threads";
    } catch (const ombra::RunStop& stop) {
      EXPECT_EQ(stop.message, "damaged snp 500\n") << threads << " threads";
    }
  }
}

// A store that spills to its file gives the median of the values held in
// memory, bit for bit: odd and even counts, ties that fill whole buckets,
// negative values and values that are not finite.
TEST(StatisticStore, SpilledValuesGiveTheHeldMedianExactly) {
  std::mt19937_64 random(7);
  std::chi_squared_distribution<double> chi2(1.0);
  for (size_t count : {0, 1, 2, 9, 10, 1001, 5000}) {
    for (int shape = 0; shape < 3; ++shape) {
      std::vector<double> values;
      ombra::StatisticStore store(7);
      for (size_t i = 0; i < count; ++i) {
        double value = chi2(random);
        if (shape == 1) value = std::floor(value * 2) / 2 - 0.5;  // ties and negatives
        if (shape == 2 && i % 5 == 0) value = i % 2 == 0 ? NAN : INFINITY;
        values.push_back(value);
        store.add(value);
      }
      EXPECT_EQ(store.size(), count);
      const double expected = ombra::genomicInflation(values);
      if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(store.inflation()));
      } else {
        EXPECT_EQ(store.inflation(), expected) << count << " " << shape;
      }
    }
  }
}

// Without a folder for the temporary file every value stays in memory.
TEST(StatisticStore, NoTemporaryFolderKeepsTheValuesInMemory) {
  const char* before = std::getenv("TMPDIR");
  const std::string saved = before != nullptr ? before : "";
  setenv("TMPDIR", "/nonexistent-folder", 1);
  ombra::StatisticStore store(4);
  std::vector<double> values;
  for (int i = 0; i < 101; ++i) {
    values.push_back((i * 37) % 101 / 7.0);
    store.add(values.back());
  }
  EXPECT_EQ(store.inflation(), ombra::genomicInflation(values));
  if (before != nullptr) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

// Sets OMBRA_STREAM_BLOCKS for the runs of one scope.
class StreamWindow {
 public:
  explicit StreamWindow(const char* blocks) { setenv("OMBRA_STREAM_BLOCKS", blocks, 1); }
  ~StreamWindow() { unsetenv("OMBRA_STREAM_BLOCKS"); }
};

class Streaming : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* set : {"family", "unrelated"}) {
      const std::string prefix = kExamples + set;
      RunResult made = runOmbra(dir.path(), {"--f", prefix, "--make-plink-bed", std::string("pl_") + set});
      ASSERT_EQ(made.status, 0) << made.out;
    }
    // Every seventh SNP of the map, for the components.
    std::string list;
    for (int k = 1; k <= 300; k += 7) list += "rs" + std::to_string(1000000 + k) + "\n";
    dir.write("pca_snps.txt", list);
  }
  std::string result(std::vector<std::string> args) { return resultOf(dir, std::move(args), "r.txt"); }
  TempDir dir;
};

// Runs from the PLINK filesets made from the text examples, at windows of
// one block and of the default size, give the text sets' results.
TEST_F(Streaming, PlinkFilesetsGiveTheTextResultAtEveryWindow) {
  const std::vector<std::vector<std::string>> layouts{
      {"--f", kExamples + "family", "--i", kExamples + "unrelated"},
      {"--f", kExamples + "family"},
      {"--i", kExamples + "unrelated"}};
  const std::vector<std::vector<std::string>> streamed{{"--bf", "pl_family", "--bi", "pl_unrelated"},
                                                       {"--bf", "pl_family"},
                                                       {"--bi", "pl_unrelated"}};
  const std::vector<std::vector<std::string>> options{
      {"--p", "3"}, {"--p", "2", "--snp-list-pca", "pca_snps.txt"}, {"--p", "2", "--chr", "1", "--from-bp", "2000000"}};
  for (size_t l = 0; l < layouts.size(); ++l) {
    for (const std::vector<std::string>& option : options) {
      std::vector<std::string> text = layouts[l];
      text.insert(text.end(), option.begin(), option.end());
      const std::string expected = result(text);
      std::vector<std::string> args = streamed[l];
      args.insert(args.end(), option.begin(), option.end());
      SCOPED_TRACE(args[0] + " " + option.back());
      EXPECT_EQ(result(args), expected);
      StreamWindow oneBlock("1");
      EXPECT_EQ(result(args), expected);
    }
  }
}

// Dosages streamed from BGEN (zlib blocks, decoded on every thread) and
// from VCF: the same bytes for any thread count and window.
TEST_F(Streaming, DosageFilesGiveTheSameBytesOnAnyThreads) {
  const std::string imputed = kExamples + "imputed/";
  const std::vector<std::vector<std::string>> runs{
      {"--gf", imputed + "family", "--gi", imputed + "unrelated", "--out-format", "tsv"},
      {"--vf", imputed + "family", "--vi", imputed + "unrelated", "--vcf-dosage", "DS", "--out-format", "tsv"}};
  for (const std::vector<std::string>& run : runs) {
    std::vector<std::string> args = run;
    args.insert(args.end(), {"--threads", "1"});
    const std::string expected = result(args);
    ASSERT_NE(expected.find('\n'), std::string::npos) << run[0];
    StreamWindow oneBlock("1");
    for (const char* threads : {"2", "3"}) {
      args.back() = threads;
      EXPECT_EQ(result(args), expected) << run[0] << " at " << threads << " threads";
    }
  }
}

TEST_F(Streaming, LoadedComponentsAndThreadsChangeNothing) {
  RunResult saved = runOmbra(dir.path(), {"--bf", "pl_family", "--bi", "pl_unrelated", "--p", "4", "--op", "pcs.txt"});
  ASSERT_EQ(saved.status, 0) << saved.out;
  const std::string expected =
      result({"--f", kExamples + "family", "--i", kExamples + "unrelated", "--p", "4", "--rp", "pcs.txt"});
  StreamWindow oneBlock("1");
  for (const char* threads : {"1", "3"}) {
    EXPECT_EQ(result({"--bf", "pl_family", "--bi", "pl_unrelated", "--p", "4", "--rp", "pcs.txt", "--threads", threads}),
              expected);
  }
}

// Ombra's own binary sets are loaded whole.
TEST_F(Streaming, VcfFilesGiveTheResultOfTheirLoadedCopies) {
  for (const char* set : {"family", "unrelated"}) {
    RunResult made = runOmbra(dir.path(), {"--vf", kExamples + "vcf/" + set, "--make-bed", std::string("ob_") + set});
    ASSERT_EQ(made.status, 0) << made.out;
  }
  const std::vector<std::string> options{"--p", "2", "--snp-list-pca", "pca_snps.txt"};
  std::vector<std::string> loaded{"--bf", "ob_family", "--bi", "ob_unrelated"};
  std::vector<std::string> vcf{"--vf", kExamples + "vcf/family", "--vi", kExamples + "vcf/unrelated"};
  loaded.insert(loaded.end(), options.begin(), options.end());
  vcf.insert(vcf.end(), options.begin(), options.end());
  const std::string expected = result(loaded);
  EXPECT_EQ(result(vcf), expected);
  StreamWindow oneBlock("1");
  EXPECT_EQ(result(vcf), expected);
}

// A VCF whose last record is cut off stops the run naming the file, and no
// result file is left.
TEST_F(Streaming, ACutOffVcfLeavesNoResult) {
  const std::string gz = testing_support::readFile(kExamples + "vcf/family.vcf.gz");
  dir.write("cut.vcf.gz", gz);
  ASSERT_EQ(std::system(("gzip -dc " + dir.file("cut.vcf.gz") + " > " + dir.file("cut.vcf")).c_str()), 0);
  std::string text = dir.read("cut.vcf");
  text.resize(text.size() - 40);  // the last record loses its last genotypes and its newline
  dir.write("cut.vcf", text);
  std::remove(dir.file("cut.vcf.gz").c_str());
  dir.write("cut.fam", testing_support::readFile(kExamples + "vcf/family.fam"));
  RunResult run = runOmbra(dir.path(), {"--vf", "cut", "--p", "2", "--out", "cut.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("cut.vcf"), std::string::npos) << run.out;
  EXPECT_FALSE(dir.exists("cut.txt"));
}

// With about as many components as individuals, rounding shows in the
// printed digits; the first 100 SNPs alone (a block of 100 instead of part
// of one of 256) must still give the whole run's lines.
TEST_F(Streaming, ASnpsNumbersDoNotDependOnWhereItsBlockEnds) {
  const std::string unrelated = kExamples + "unrelated";
  RunResult saved = runOmbra(dir.path(), {"--i", unrelated, "--p", "190", "--op", "pcs.txt"});
  ASSERT_EQ(saved.status, 0) << saved.out;
  std::string first100;
  for (int k = 1; k <= 100; ++k) first100 += "rs" + std::to_string(1000000 + k) + "\n";
  dir.write("first100.txt", first100);
  const std::string whole = result({"--i", unrelated, "--p", "190", "--rp", "pcs.txt"});
  size_t end = 0;
  for (int line = 0; line < 100; ++line) end = whole.find('\n', end) + 1;
  EXPECT_EQ(result({"--i", unrelated, "--p", "190", "--rp", "pcs.txt", "--extract", "first100.txt"}),
            whole.substr(0, end));
}

// A .bed cut short is found before anything is computed, naming the file
// and the SNP where its genotypes end, and no result file is left.
TEST_F(Streaming, ATruncatedBedNamesTheSnpWhereItEnds) {
  for (const char* extension : {".bim", ".fam"}) {
    dir.write(std::string("cut") + extension, dir.read(std::string("pl_family") + extension));
  }
  dir.write("cut.bed", dir.read("pl_family.bed").substr(0, 5000));  // 3 + 99 columns of 50 bytes, and more
  RunResult run = runOmbra(dir.path(), {"--bf", "cut", "--p", "2", "--out", "cut.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("The file cut.bed has 5000 bytes"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Its genotypes end within snp 100 of 300."), std::string::npos) << run.out;
  EXPECT_FALSE(dir.exists("cut.txt"));
  run = runOmbra(dir.path(), {"--bf", "cut", "--make-bed", "again"});
  EXPECT_NE(run.out.find("Its genotypes end within snp 100 (rs1000100) of 300."), std::string::npos) << run.out;
}

}  // namespace
