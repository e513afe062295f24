// The statistics must not depend on which allele a file counts: the same
// data with every SNP coded by its other allele (g -> 2 - g, missing calls
// kept) gives the same statistics and p-values and swapped frequency
// columns, from text and from binary sets, with and without components.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

constexpr int kSnps = 30;

// Genotype codes (copies of allele "B", 3 = missing) of a generated set with
// population structure, so that the components carry weight.
struct Genotypes {
  std::vector<std::string> sampleColumns;  // the six leading columns of each line
  std::vector<std::vector<int>> codes;     // per line, per SNP
};

Genotypes generate(unsigned seed, bool families, int lines) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  Genotypes data;
  std::vector<double> shift(kSnps);
  for (double& s : shift) s = 0.35 * unit(rng);
  for (int i = 0; i < lines; ++i) {
    const bool secondGroup = i % 3 == 0;
    std::vector<int> codes(kSnps);
    for (int s = 0; s < kSnps; ++s) {
      const double p = 0.2 + 0.4 * (s % 5) / 4.0 + (secondGroup ? shift[static_cast<size_t>(s)] : 0.0);
      codes[static_cast<size_t>(s)] = (unit(rng) < p) + (unit(rng) < p);
      if (unit(rng) < 0.06) codes[static_cast<size_t>(s)] = 3;
    }
    // The first line is heterozygous everywhere, so that a text reader
    // meets allele A first in both codings.
    if (i == 0) codes.assign(kSnps, 1);
    const double liability = codes[4] == 3 ? 0 : 0.8 * codes[4] + (secondGroup ? 0.7 : 0) + 1.2 * unit(rng);
    const char* trait = i % 11 == 5 ? "0" : (liability > 1.4 ? "2" : "1");
    std::ostringstream columns;
    if (families) {
      const int family = i / 4;
      const int member = i % 4;
      const std::string father = member >= 2 ? std::to_string(4 * family + 1) : "0";
      const std::string mother = member >= 2 ? std::to_string(4 * family + 2) : "0";
      columns << "F" << family << " " << i + 1 << " " << father << " " << mother << " " << 1 + member % 2 << " "
              << trait;
    } else {
      columns << "U" << i << " " << i + 1 << " 0 0 " << 1 + i % 2 << " " << trait;
    }
    data.sampleColumns.push_back(columns.str());
    data.codes.push_back(codes);
  }
  return data;
}

std::string pedText(const Genotypes& data, bool swapped) {
  static const char* const kText[4] = {" A A", " A B", " B B", " 0 0"};
  std::string out;
  for (size_t i = 0; i < data.codes.size(); ++i) {
    out += data.sampleColumns[i];
    for (int code : data.codes[i]) out += kText[swapped && code != 3 ? 2 - code : code];
    out += '\n';
  }
  return out;
}

std::string mapText() {
  std::string out;
  for (int s = 0; s < kSnps; ++s) out += "1 snp" + std::to_string(s) + " 0 " + std::to_string(1000 + s) + "\n";
  return out;
}

struct ResultLine {
  std::string snp, allele1, allele2;
  std::vector<double> numbers;  // two frequencies, then three statistic and p-value pairs
};

std::vector<ResultLine> parseResult(const std::string& text) {
  std::vector<ResultLine> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    ResultLine parsed;
    fields >> parsed.snp >> parsed.allele1 >> parsed.allele2;
    std::string number;
    while (fields >> number) parsed.numbers.push_back(std::strtod(number.c_str(), nullptr));
    lines.push_back(parsed);
  }
  return lines;
}

// Printed numbers agree when they differ by no more than their last digit.
bool samePrinted(double a, double b, double lastDigit) {
  return std::fabs(a - b) <= lastDigit + 1e-9 * std::fabs(a);
}

void expectSwapInvariant(const std::string& original, const std::string& swapped) {
  const std::vector<ResultLine> a = parseResult(original);
  const std::vector<ResultLine> b = parseResult(swapped);
  ASSERT_EQ(a.size(), static_cast<size_t>(kSnps));
  ASSERT_EQ(b.size(), a.size());
  for (size_t s = 0; s < a.size(); ++s) {
    SCOPED_TRACE(a[s].snp);
    ASSERT_EQ(a[s].numbers.size(), 8u);
    ASSERT_EQ(b[s].numbers.size(), 8u);
    EXPECT_EQ(a[s].allele1, b[s].allele1);  // both codings name A first
    EXPECT_TRUE(samePrinted(a[s].numbers[0], b[s].numbers[1], 1e-6 * a[s].numbers[0]));
    EXPECT_TRUE(samePrinted(a[s].numbers[1], b[s].numbers[0], 1e-6 * a[s].numbers[1]));
    for (int k = 0; k < 3; ++k) {
      const double statistic = a[s].numbers[2 + 2 * k];
      const double p = a[s].numbers[3 + 2 * k];
      EXPECT_TRUE(samePrinted(statistic, b[s].numbers[2 + 2 * k], 1.01e-6)) << statistic << " statistic " << k;
      EXPECT_TRUE(samePrinted(p, b[s].numbers[3 + 2 * k], 1.01e-6 * p)) << p << " p-value " << k;
    }
  }
}

class AlleleSwap : public ::testing::Test {
 protected:
  void SetUp() override {
    const Genotypes family = generate(11u, true, 48);
    const Genotypes unrelated = generate(12u, false, 60);
    for (const char* coding : {"orig", "swap"}) {
      const bool swapped = std::string(coding) == "swap";
      dir.write(std::string(coding) + "_fam.ped", pedText(family, swapped));
      dir.write(std::string(coding) + "_fam.map", mapText());
      dir.write(std::string(coding) + "_unr.ped", pedText(unrelated, swapped));
      dir.write(std::string(coding) + "_unr.map", mapText());
    }
  }
  // The result file of a run on the data sets of `coding` ("orig" or
  // "swap"); `sets` says which of family and unrelated take part.
  std::string resultOf(const std::string& coding, const std::string& sets, const std::string& pcs, bool binary,
                       const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"--p", pcs, "--out", coding + ".result.txt"};
    if (sets != "unrelated") args.insert(args.end(), {binary ? "--bf" : "--f", prefix(coding, "fam", binary)});
    if (sets != "family") args.insert(args.end(), {binary ? "--bi" : "--i", prefix(coding, "unr", binary)});
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult run = runOmbra(dir.path(), args);
    EXPECT_EQ(run.status, 0) << run.out;
    return dir.read(coding + ".result.txt");
  }
  // The text set, or a binary set made from it once.
  std::string prefix(const std::string& coding, const std::string& set, bool binary) {
    const std::string text = coding + "_" + set;
    if (!binary) return text;
    const std::string made = text + "_bin";
    if (!dir.exists(made + ".bed")) {
      const RunResult run = runOmbra(dir.path(), {"--f", text, "--make-bed", made});
      EXPECT_EQ(run.status, 0) << run.out;
    }
    return made;
  }
  TempDir dir;
};

TEST_F(AlleleSwap, StatisticsDoNotDependOnTheCountedAllele) {
  for (const bool binary : {false, true}) {
    for (const char* sets : {"both", "family", "unrelated"}) {
      for (const char* pcs : {"0", "3"}) {
        SCOPED_TRACE(std::string(binary ? "binary " : "text ") + sets + ", --p " + pcs);
        expectSwapInvariant(resultOf("orig", sets, pcs, binary), resultOf("swap", sets, pcs, binary));
      }
    }
  }
}

// The fault the default mends: without the constant in the design the
// statistics move when the alleles swap.
TEST_F(AlleleSwap, LegacyAdjustmentDependsOnTheCountedAllele) {
  const std::vector<std::string> legacy{"--adjustment", "legacy"};
  const std::vector<ResultLine> a = parseResult(resultOf("orig", "both", "3", false, legacy));
  const std::vector<ResultLine> b = parseResult(resultOf("swap", "both", "3", false, legacy));
  ASSERT_EQ(a.size(), b.size());
  int moved = 0;
  for (size_t s = 0; s < a.size(); ++s) moved += !samePrinted(a[s].numbers[2], b[s].numbers[2], 1.01e-6);
  EXPECT_GT(moved, kSnps / 2);
}

// A constant covariate is already in the design: a components file whose
// scores are all one changes nothing against no components at all.
TEST_F(AlleleSwap, ConstantComponentAddsNothingToTheIntercept) {
  std::string pca;
  for (const char* set : {"orig_fam.ped", "orig_unr.ped"}) {
    std::istringstream in(dir.read(set));
    std::string famId, indId;
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      fields >> famId >> indId;
      pca += famId + "\t" + indId + "\t1\t1\t1\t\n";
    }
  }
  dir.write("ones.txt", pca);
  const std::string none = resultOf("orig", "both", "0", false);
  const std::string ones = resultOf("orig", "both", "1", false, {"--rp", "ones.txt"});
  const std::vector<ResultLine> a = parseResult(none);
  const std::vector<ResultLine> b = parseResult(ones);
  ASSERT_EQ(a.size(), b.size());
  for (size_t s = 0; s < a.size(); ++s) {
    for (size_t k = 0; k < a[s].numbers.size(); ++k) {
      EXPECT_TRUE(samePrinted(a[s].numbers[k], b[s].numbers[k], 1.01e-6 * std::max(1.0, std::fabs(a[s].numbers[k]))))
          << a[s].snp << " column " << k;
    }
  }
}

TEST(AdjustmentOption, TakesInterceptOrLegacyOnly) {
  TempDir dir;
  const RunResult run = runOmbra(dir.path(), {"--f", "x", "--adjustment", "none"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "The option --adjustment takes intercept or legacy.\n");
}

}  // namespace
