// INFO from genotype probabilities (BGEN, VCF GP) is IMPUTE's info,
// 1 - sum(E[g^2] - E[g]^2) / (2N f(1 - f)), computed here again from the
// probabilities written into the files: the decoders' variances, the table's
// INFO over the tested individuals through the streamed and the loaded
// routes, and --minfo over the loaded ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "BgenWriter.h"
#include "HeldRows.h"
#include "TestSupport.h"
#include "core/Records.h"
#include "core/MemoryClass.h"
#include "formats/BgenFile.h"
#include "formats/BgenSource.h"
#include "formats/GenotypeBlock.h"
#include "formats/SourceLoader.h"
#include "formats/VcfRecords.h"

namespace bw = bgen_writer;
using testing_support::TempDir;

namespace {

// A variance held in 1/kVarianceOne units is within half a unit.
constexpr double kHeld = 0.5 / kVarianceOne + 1e-12;

double variance(double het, double homSecond) {
  const double mean = het + 2 * homSecond;
  return het + 4 * homSecond - mean * mean;
}

// The variance of a written sample, from its stored integers.
double expectedVariance(const bw::Sample& s, bool phased, int layout, int bits) {
  if (s.missing) return 0;
  if (layout == 1) return variance(s.values[1] / 32768.0, s.values[2] / 32768.0);
  const double max = std::ldexp(1.0, bits) - 1;
  if (s.ploidy == 1) return variance(0, 1 - s.values[0] / max);
  if (phased) {
    const double x = 1 - s.values[0] / max, y = 1 - s.values[1] / max;  // allele2 on each haplotype
    return x * (1 - x) + y * (1 - y);
  }
  return variance(s.values[1] / max, 1 - (s.values[0] + s.values[1]) / max);
}

bw::Sample randomSample(std::mt19937& random, int layout, int bits, int ploidy, bool phased) {
  bw::Sample s;
  s.ploidy = ploidy;
  const uint64_t max = layout == 1 ? 32768 : (uint64_t{1} << bits) - 1;
  const auto below = [&](uint64_t bound) { return static_cast<uint32_t>(random() % (bound + 1)); };
  if (layout == 1) {
    const uint32_t a = below(max), b = below(max - a);
    s.values = {a, b, static_cast<uint32_t>(max - a - b)};
  } else if (phased || ploidy == 1) {
    for (int h = 0; h < ploidy; ++h) s.values.push_back(below(max));
  } else {
    const uint32_t a = below(max);
    s.values = {a, below(max - a)};
  }
  return s;
}

TEST(ImputeInfo, BgenVariancesOfEveryLayoutPhaseAndPloidy) {
  TempDir dir;
  std::mt19937 random(11);
  struct Form {
    int layout, bits;
    bool phased;
  };
  for (const Form form : {Form{1, 16, false}, Form{2, 8, false}, Form{2, 8, true}, Form{2, 16, false},
                          Form{2, 3, true}, Form{2, 32, false}}) {
    bw::Options o;
    o.layout = form.layout;
    o.bits = form.bits;
    o.samples = 40;
    bw::Variant v;
    v.phased = form.phased;
    for (uint32_t i = 0; i < o.samples; ++i) {
      const int ploidy = form.layout == 2 && i % 7 == 3 ? 1 : 2;
      v.samples.push_back(randomSample(random, form.layout, form.bits, ploidy, form.phased));
      v.samples.back().missing = form.layout == 2 && i % 9 == 5;
    }
    const std::string label = "layout " + std::to_string(form.layout) + ", " + std::to_string(form.bits) +
                              " bits" + (form.phased ? ", phased" : "");
    dir.write("v.bgen", bw::write(o, {v}));
    ombra::BgenFile file(dir.file("v.bgen"));
    std::vector<uint16_t> dosages(o.samples), variances(o.samples, 1), alone(o.samples);
    file.readDosages(0, dosages.data(), variances.data());
    file.readDosages(0, alone.data());
    EXPECT_EQ(dosages, alone) << label;
    for (uint32_t i = 0; i < o.samples; ++i) {
      EXPECT_NEAR(varianceOf(variances[i]), expectedVariance(v.samples[i], form.phased, form.layout, form.bits),
                  kHeld)
          << label << " sample " << i;
    }
  }
}

TEST(ImputeInfo, GpVariancesAndTheOtherFieldsCertain) {
  std::string problem;
  uint16_t held = 1;
  const std::string gp = "0.1,0.6,0.3";
  ombra::dosageOfText(ombra::DosageField::kGp, gp.data(), gp.data() + gp.size(), problem, &held);
  EXPECT_NEAR(varianceOf(held), variance(0.6, 0.3), kHeld);
  const std::string ds = "1.2";
  ombra::dosageOfText(ombra::DosageField::kDs, ds.data(), ds.data() + ds.size(), problem, &held);
  EXPECT_EQ(held, 0);
}

// Rows loaded from a BGEN file whose samples the .fam reorders: the
// variances follow their dosages, only once asked, and a file of certain
// calls gets none (memory as before); the SNPs before the first uncertain
// one, in blocks of their own, hold 0.
TEST(ImputeInfo, LoadedRowsHoldVariancesOnlyWhereSomeAreUncertain) {
  TempDir dir;
  bw::Options o;
  o.samples = 3;
  o.ids = {"a", "b", "c"};
  const std::vector<ombra::SampleName> fam = {{"F", "c"}, {"F", "a"}, {"F", "b"}};
  const size_t certain = ombra::snpsPerBlock(fam.size()) + 3;  // past the first block
  std::vector<bw::Variant> variants(certain + 1);
  for (size_t s = 0; s < certain; ++s) {
    variants[s].samples = {{2, false, {255, 0}}, {2, false, {0, 255}}, {2, false, {0, 0}}};
  }
  variants[certain].samples = {{2, false, {200, 50}}, {2, false, {10, 100}}, {2, true, {0, 0}}};
  dir.write("all.bgen", bw::write(o, variants));
  dir.write("calls.bgen", bw::write(o, std::vector<bw::Variant>(variants.begin(), variants.end() - 1)));
  for (const char* file : {"all.bgen", "calls.bgen"}) {
    for (bool wanted : {false, true}) {
      ombra::BgenSource source(dir.file(file), "", fam, "set.fam");
      source.keepVariances(wanted);
      MemoryClass<char> tracker;
      std::vector<GenotypeRow> rows;
      ombra::loadRows(source, tracker, rows);
      const bool held = wanted && std::string(file) == "all.bgen";
      for (const GenotypeRow& row : rows) ASSERT_EQ(row.variances != nullptr, held) << file << wanted;
      if (!held) continue;
      const size_t sample[3] = {2, 0, 1};  // the file's sample of each individual
      for (size_t i = 0; i < rows.size(); ++i) {
        for (size_t s = 0; s < certain; ++s) ASSERT_EQ(rows[i].variances[s], 0) << i << " " << s;
        EXPECT_NEAR(varianceOf(rows[i].variances[certain]),
                    expectedVariance(variants[certain].samples[sample[i]], false, 2, 8), kHeld)
            << i;
      }
    }
  }
}

// A block of calls (some missing), dosages with variances and whole-call
// dosages without (some missing) side by side: IMPUTE's info while the set
// is of probabilities (rows without variances certain, missing ones
// counted even where the owner counts none), else MACH's r-squared; a
// block and resident SNPs alike.
TEST(ImputeInfo, BlockInfoOfCallsDosagesAndVariancesSideBySide) {
  constexpr size_t kPeople = 11, kSnps = 6;
  std::vector<std::vector<unsigned char>> packed(kPeople, std::vector<unsigned char>((kSnps + 3) / 4, 0));
  std::vector<std::vector<uint16_t>> dosages(kPeople, std::vector<uint16_t>(kSnps));
  std::vector<std::vector<uint16_t>> variances(kPeople, std::vector<uint16_t>(kSnps));
  std::vector<double> fill(kSnps), sum(kSnps), squares(kSnps), uncertainty(kSnps), filled(kSnps);
  std::vector<Marker> markers(kSnps);
  for (size_t s = 0; s < kSnps; ++s) fill[s] = 0.4 + 0.2 * static_cast<double>(s);
  for (size_t i = 0; i < kPeople; ++i) {
    for (size_t s = 0; s < kSnps; ++s) {
      const unsigned code = (i * 5 + s * 3) % 7 == 2 ? 3 : (i + s) % 3;
      packed[i][s / 4] |= static_cast<unsigned char>(code << (2 * (3 - s % 4)));
      const uint16_t units = static_cast<uint16_t>(code * kDosageOne + (i % 3 == 1 && code < 2 ? 1000 + 97 * s : 0));
      dosages[i][s] = code == 3 ? kMissingDosage : units;
      variances[i][s] = code == 3 || i % 3 != 1 ? 0 : static_cast<uint16_t>(3000 + 1000 * i + 50 * s);
      const double value = code == 3 ? fill[s] : (i % 3 == 0 ? code : dosageCopies(units));
      sum[s] += value, squares[s] += value * value, filled[s] += code == 3;
      uncertainty[s] += varianceOf(variances[i][s]);
    }
  }
  testing_support::HeldRows rows(packed, fill, markers);
  for (size_t i = 0; i < kPeople; ++i) {
    if (i % 3 != 0) rows.cohort.unrelated.rows[i].dosages = dosages[i].data();
    if (i % 3 == 1) rows.cohort.unrelated.rows[i].variances = variances[i].data();
  }
  for (bool probabilities : {true, false}) {
    rows.cohort.unrelated.probabilities = probabilities;
    ombra::GenotypeBlock block;
    block.countMissing = false;
    ombra::readBlock(rows.store, rows.cohort, rows.entries, 0, kSnps, 8, block);
    const ombra::GenotypeBlock named = ombra::residentBlock(rows.store, rows.cohort, rows.entries, {3, 0, 5});
    for (size_t s = 0; s < kSnps; ++s) {
      const double n = kPeople, f = sum[s] / (2 * n), binomial = 2 * f * (1 - f);
      const double expected = probabilities ? 1 - (uncertainty[s] + filled[s] * binomial) / (n * binomial)
                                            : (squares[s] / n - (sum[s] / n) * (sum[s] / n)) / binomial;
      EXPECT_NEAR(block.imputationInfo(s), expected, 1e-12) << probabilities << " snp " << s;
    }
    const size_t at[3] = {3, 0, 5};
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(named.imputationInfo(k), block.imputationInfo(at[k])) << probabilities;
  }
}

// A set of the example's 200 unrelated individuals (5 without a trait) and
// SNPs of 8-bit probabilities, as a BGEN file and as a VCF with GP: first
// `certain` SNPs of hard calls, then kUncertain of probabilities, some
// samples missing.
struct ProbabilitySet {
  static constexpr size_t kUncertain = 23;
  size_t certain;
  std::vector<std::string> ids;
  std::vector<bool> tested;                    // per individual: it has a trait
  std::vector<std::vector<bw::Sample>> snps;   // per SNP, per individual

  explicit ProbabilitySet(size_t certainSnps = 1) : certain(certainSnps) {
    std::istringstream fam(testing_support::readFile(std::string(OMBRA_SOURCE_DIR) + "/examples/vcf/unrelated.fam"));
    for (std::string fid, iid, father, mother, sex, trait; fam >> fid >> iid >> father >> mother >> sex >> trait;) {
      ids.push_back(iid);
      tested.push_back(trait != "0" && trait != "-9");
    }
    std::mt19937 random(5);
    for (size_t s = 0; s < certain + kUncertain; ++s) {
      // The SNP's frequency and how sure the imputation is vary with k.
      const size_t k = s < certain ? 0 : s - certain + 1;
      const double f = 0.08 + 0.8 * static_cast<double>(k) / (kUncertain + 1);
      const double sure = 0.15 + 0.2 * static_cast<double>(k % 5);
      std::vector<bw::Sample> column;
      for (size_t i = 0; i < ids.size(); ++i) {
        std::binomial_distribution<int> call(2, f);
        const int copies = call(random);
        // Odd SNPs' uncertain part leans to the heterozygote, where
        // MACH's r-squared and IMPUTE's info part.
        double p[3] = {(1 - f) * (1 - f), 2 * f * (1 - f), f * f};
        if (k % 2 == 1) p[0] = p[2] = 0.1, p[1] = 0.8;
        for (int g = 0; g < 3; ++g) p[g] = (1 - sure) * p[g] + sure * (g == copies);
        if (k == 0) p[0] = copies == 0, p[1] = copies == 1, p[2] = copies == 2;
        bw::Sample sample;
        const uint32_t a = static_cast<uint32_t>(std::lround(255 * p[0]));
        sample.values = {a, std::min<uint32_t>(255 - a, static_cast<uint32_t>(std::lround(255 * p[1])))};
        sample.missing = k > 0 && (i * 7 + k) % 23 == 0;
        column.push_back(sample);
      }
      snps.push_back(column);
    }
  }

  // P(het) and P(hom allele2) of a sample.
  static double het(const bw::Sample& x) { return x.values[1] / 255.0; }
  static double hom(const bw::Sample& x) { return (255.0 - x.values[0] - x.values[1]) / 255.0; }

  void writeBgen(const TempDir& dir) const {
    bw::Options o;
    o.samples = static_cast<uint32_t>(ids.size());
    o.ids = ids;
    std::vector<bw::Variant> variants;
    for (size_t s = 0; s < snps.size(); ++s) {
      bw::Variant v;
      v.rsid = "rs" + std::to_string(s);
      v.position = static_cast<uint32_t>(1000 + s);
      v.samples = snps[s];
      variants.push_back(v);
    }
    dir.write("set.bgen", bw::write(o, variants));
    dir.write("set.fam", testing_support::readFile(std::string(OMBRA_SOURCE_DIR) + "/examples/vcf/unrelated.fam"));
  }

  void writeVcf(const TempDir& dir) const {
    std::string out = "##fileformat=VCFv4.2\n##contig=<ID=1>\n"
                      "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
                      "##FORMAT=<ID=GP,Number=G,Type=Float,Description=\"Genotype probabilities\">\n"
                      "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
    for (const std::string& id : ids) out += "\t" + id;
    char value[64];
    for (size_t s = 0; s < snps.size(); ++s) {
      out += "\n1\t" + std::to_string(1000 + s) + "\trs" + std::to_string(s) + "\tA\tG\t.\t.\t.\tGT:GP";
      for (const bw::Sample& x : snps[s]) {
        if (x.missing) {
          out += "\t./.:.";
          continue;
        }
        std::snprintf(value, sizeof value, "\t0/0:%.8f,%.8f,%.8f", x.values[0] / 255.0, het(x), hom(x));
        out += value;
      }
    }
    dir.write("set.vcf", out + "\n");
  }

  // IMPUTE's info of SNP s as the table gives it: over the tested
  // individuals, a missing one at the mean dosage of every individual's
  // called ones and knowing nothing (the binomial variance).
  double tableInfo(size_t s) const { return info(s, true); }
  // As --minfo takes it: over every individual's called genotypes.
  double filterInfo(size_t s) const { return info(s, false); }
  // MACH's r-squared of the same dosages.
  double machFilterInfo(size_t s) const {
    double n = 0, sum = 0, squares = 0;
    for (const bw::Sample& x : snps[s]) {
      if (x.missing) continue;
      const double d = het(x) + 2 * hom(x);
      n += 1, sum += d, squares += d * d;
    }
    const double f = sum / (2 * n);
    return (squares / n - (sum / n) * (sum / n)) / (2 * f * (1 - f));
  }

 private:
  double info(size_t s, bool overTested) const {
    double calledAll = 0, sumAll = 0;
    for (const bw::Sample& x : snps[s]) {
      if (!x.missing) calledAll += 1, sumAll += het(x) + 2 * hom(x);
    }
    const double fill = sumAll / calledAll;
    double n = 0, sum = 0, variances = 0, filled = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
      const bw::Sample& x = snps[s][i];
      if (overTested ? !tested[i] : x.missing) continue;
      n += 1;
      if (x.missing) {
        filled += 1;
        sum += fill;
        continue;
      }
      sum += het(x) + 2 * hom(x);
      variances += variance(het(x), hom(x));
    }
    const double f = sum / (2 * n);
    return 1 - (variances + filled * 2 * f * (1 - f)) / (2 * n * f * (1 - f));
  }
};

std::vector<double> infoColumn(const std::string& table) {
  std::istringstream in(table);
  std::string line;
  std::getline(in, line);
  std::vector<std::string> header;
  std::istringstream names(line);
  for (std::string name; std::getline(names, name, '\t');) header.push_back(name);
  const size_t column = static_cast<size_t>(std::find(header.begin(), header.end(), "INFO") - header.begin());
  std::vector<double> info;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string field;
    for (size_t k = 0; k <= column; ++k) std::getline(fields, field, '\t');
    info.push_back(std::stod(field));
  }
  return info;
}

// The table's INFO against IMPUTE's of `set` (1 for its hard calls).
void expectTableInfo(const ProbabilitySet& set, const std::string& table, const std::string& label) {
  const std::vector<double> info = infoColumn(table);
  ASSERT_EQ(info.size(), set.snps.size()) << label;
  for (size_t s = 0; s < set.certain; ++s) ASSERT_EQ(info[s], 1.0) << label << ": hard calls, snp " << s;
  for (size_t s = set.certain; s < info.size(); ++s) {
    EXPECT_NEAR(info[s], set.tableInfo(s), 1e-4) << label << ": snp " << s;
  }
}

TEST(ImputeInfo, TableInfoIsImputesOverTheTestedIndividualsThroughBothRoutesAndBothFormats) {
  TempDir dir;
  const ProbabilitySet set;
  set.writeBgen(dir);
  set.writeVcf(dir);
  const std::string streamed = testing_support::resultOf(dir, {"--gi", "set", "--out-format", "tsv"}, "s.tsv");
  // A filter needs every genotype at hand: the loaded route.
  const std::string loaded =
      testing_support::resultOf(dir, {"--gi", "set", "--out-format", "tsv", "--minfo", "0"}, "l.tsv");
  EXPECT_EQ(loaded, streamed);
  expectTableInfo(set, streamed, "BGEN");
  const std::vector<std::string> gp{"--vi", "set", "--vcf-dosage", "GP", "--out-format", "tsv"};
  expectTableInfo(set, testing_support::resultOf(dir, gp, "v.tsv"), "VCF GP");
  if (std::system("bcftools --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "bcftools is not installed";
  ASSERT_EQ(std::system(("bcftools view -Ob -o " + dir.file("set.bcf") + " " + dir.file("set.vcf")).c_str()), 0);
  expectTableInfo(set, testing_support::resultOf(dir, gp, "b.tsv"), "BCF GP");
}

// Streamed in windows of one block: the first windows, of hard calls, hold
// no variances; the rows take them, zeroed, inside a later one. Decoded and
// placed on 1, 2 and 3 threads, the loaded route's bytes, INFO included; again
// with an individual of the file left out of the run (a spare row's).
TEST(ImputeInfo, StreamedRowsTakeVariancesAtTheFirstUncertainWindowOnAnyThreads) {
  TempDir dir;
  const ProbabilitySet set(300);
  set.writeBgen(dir);
  const std::string fam = testing_support::readFile(dir.file("set.fam"));
  for (const bool leftOut : {false, true}) {
    if (leftOut) {
      // The 150th individual: in the second or third share of the threads.
      size_t at = 0;
      for (int line = 0; line < 149; ++line) at = fam.find('\n', at) + 1;
      dir.write("set.fam", fam.substr(0, at) + fam.substr(fam.find('\n', at) + 1));
    }
    const std::vector<std::string> run{"--gi", "set", "--p", "0", "--out-format", "tsv"};
    std::vector<std::string> loadedRun = run;
    loadedRun.insert(loadedRun.end(), {"--minfo", "0"});
    const std::string loaded = testing_support::resultOf(dir, loadedRun, "l.tsv");
    if (!leftOut) expectTableInfo(set, loaded, "loaded");
    setenv("OMBRA_STREAM_BLOCKS", "1", 1);
    for (const char* threads : {"1", "2", "3"}) {
      std::vector<std::string> streamed = run;
      streamed.insert(streamed.end(), {"--threads", threads});
      EXPECT_EQ(testing_support::resultOf(dir, streamed, "s.tsv"), loaded)
          << threads << " threads" << (leftOut ? ", one left out" : "");
    }
    unsetenv("OMBRA_STREAM_BLOCKS");
  }
}

TEST(ImputeInfo, MinfoFiltersOnImputesInfoOfTheLoadedIndividuals) {
  TempDir dir;
  const ProbabilitySet set;
  set.writeBgen(dir);
  constexpr double kLimit = 0.5;
  size_t removed = 0, machRemoved = 0;
  for (size_t s = set.certain; s < set.snps.size(); ++s) {
    ASSERT_GT(std::fabs(set.filterInfo(s) - kLimit), 1e-3) << "snp " << s << " too near the limit to tell";
    removed += set.filterInfo(s) < kLimit;
    machRemoved += set.machFilterInfo(s) < kLimit;
  }
  ASSERT_GT(removed, 0u);
  ASSERT_NE(removed, machRemoved) << "the data do not tell IMPUTE's info from MACH's r-squared";
  ASSERT_LT(removed, ProbabilitySet::kUncertain);
  const testing_support::RunResult run =
      testing_support::runOmbra(dir.path(), {"--gi", "set", "--minfo", "0.5", "--out-format", "tsv", "--out", "m.tsv"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("--minfo 0.5: " + std::to_string(removed) + " snps removed"), std::string::npos) << run.out;
}

}  // namespace
