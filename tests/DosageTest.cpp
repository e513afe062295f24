// Dosages of imputed data read from VCF FORMAT fields: whole dosages give
// the result of the same calls byte for byte, fractional ones the least
// squares of a check written here, and the allele swap d -> 2 - d leaves the
// statistics alone.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/Records.h"
#include "formats/VcfRecords.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

const std::string kVcf = std::string(OMBRA_SOURCE_DIR) + "/examples/vcf/";

std::string gunzip(const std::string& path) {
  gzFile in = gzopen(path.c_str(), "rb");
  std::string text;
  char buffer[1 << 16];
  int got = 0;
  while (in != nullptr && (got = gzread(in, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
  if (in != nullptr) gzclose(in);
  return text;
}

std::vector<std::string> split(const std::string& line, char by) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  for (std::string field; std::getline(in, field, by);) fields.push_back(field);
  return fields;
}

int copiesOf(const std::string& gt) {
  if (gt.find('.') != std::string::npos) return -1;
  return (gt[0] == '1') + (gt[2] == '1');
}

// The example's SET.vcf.gz with FORMAT `format` and each sample's field
// from value(record, sample, ALT copies of its GT or -1); REF and ALT swap
// when `swap`. The .fam goes beside it.
void writeDosageSet(const TempDir& dir, const std::string& set, const std::string& format, bool swap,
                    const std::function<std::string(size_t, size_t, int)>& value) {
  std::istringstream in(gunzip(kVcf + set + ".vcf.gz"));
  std::string out;
  size_t record = 0;
  for (std::string line; std::getline(in, line);) {
    if (line[0] == '#') {
      if (line.compare(0, 6, "#CHROM") == 0) {
        out += "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
               "##FORMAT=<ID=DS,Number=A,Type=Float,Description=\"Dosage of ALT\">\n";
      }
      if (line.compare(0, 10, "##FORMAT=<") != 0) out += line + '\n';
      continue;
    }
    std::vector<std::string> f = split(line, '\t');
    if (swap) std::swap(f[3], f[4]);
    f[8] = format;
    for (size_t c = 9; c < f.size(); ++c) {
      const int copies = copiesOf(f[c]);
      f[c] = value(record, c - 9, swap && copies >= 0 ? 2 - copies : copies);
    }
    for (size_t c = 0; c < f.size(); ++c) out += f[c] + (c + 1 < f.size() ? '\t' : '\n');
    ++record;
  }
  dir.write(set + ".vcf", out);
  dir.write(set + ".fam", testing_support::readFile(kVcf + set + ".fam"));
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", value);
  return text;
}

// A dosage near the call, different for every record and sample, on a grid
// of 1/64 copy, which the held dosages (1/16384 copy) and the text above
// keep exactly.
double fractional(size_t record, size_t sample, int copies) {
  const double shift = 0.37 * std::sin(1.3 * static_cast<double>(record) + 0.7 * static_cast<double>(sample));
  return std::round(64 * std::min(2.0, std::max(0.0, copies + shift))) / 64;
}

TEST(Dosages, WholeDosagesGiveTheResultOfTheirCalls) {
  TempDir dir;
  for (const char* set : {"family", "unrelated"}) {
    writeDosageSet(dir, set, "DS", false, [](size_t, size_t, int copies) {
      return copies < 0 ? std::string(".") : std::to_string(copies);
    });
  }
  const std::vector<std::string> gt{"--vf", kVcf + "family", "--vi", kVcf + "unrelated"};
  const std::vector<std::string> ds{"--vf", "family", "--vi", "unrelated", "--vcf-dosage", "DS"};
  // Streamed, loaded (a filter needs every genotype at hand) and the Gram route.
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{}, {"--maf", "0.01", "--hwe", "1e-9"}, {"--pca-method", "fast"}}) {
    std::vector<std::string> calls = gt, dosages = ds;
    calls.insert(calls.end(), extra.begin(), extra.end());
    dosages.insert(dosages.end(), extra.begin(), extra.end());
    EXPECT_EQ(testing_support::resultOf(dir, dosages, "ds.txt"), testing_support::resultOf(dir, calls, "gt.txt"))
        << (extra.empty() ? "streamed" : extra[0]);
  }
}

struct Table {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
  size_t column(const std::string& name) const {
    for (size_t k = 0; k < header.size(); ++k) {
      if (header[k] == name) return k;
    }
    ADD_FAILURE() << "no column " << name;
    return 0;
  }
  double at(size_t row, const std::string& name) const { return std::stod(rows[row][column(name)]); }
};

Table readTable(const std::string& text) {
  Table table;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  table.header = split(line, '\t');
  while (std::getline(in, line)) table.rows.push_back(split(line, '\t'));
  return table;
}

// Per individual in analysis order (the family set, then the unrelated
// one, as their .fam files list them), its trait; 0 is missing.
std::vector<double> traits() {
  std::vector<double> out;
  for (const char* set : {"family", "unrelated"}) {
    std::istringstream in(testing_support::readFile(kVcf + std::string(set) + ".fam"));
    for (std::string line; std::getline(in, line);) out.push_back(std::stod(split(line, ' ')[5]));
  }
  return out;
}

// Both sets written from dosages[record][individual in analysis order].
void writeDosages(const TempDir& dir, const std::vector<std::vector<double>>& dosages, bool swap) {
  size_t offset = 0;
  for (const char* set : {"family", "unrelated"}) {
    size_t samples = 0;
    writeDosageSet(dir, set, "DS", swap, [&](size_t record, size_t sample, int) {
      samples = std::max(samples, sample + 1);
      const double d = dosages[record][offset + sample];
      return number(swap ? 2 - d : d);
    });
    offset += samples;
  }
}

Table dosageRun(const TempDir& dir, std::vector<std::string> extra) {
  std::vector<std::string> args{"--vf", "family", "--vi", "unrelated", "--vcf-dosage", "DS", "--out-format", "tsv"};
  args.insert(args.end(), extra.begin(), extra.end());
  return readTable(testing_support::resultOf(dir, args, "r.tsv"));
}

TEST(Dosages, FractionalDosagesAgreeWithLeastSquaresAndTheAlleleSwap) {
  TempDir dir;
  const std::vector<double> y = traits();
  // Per record, the dosages of every individual in analysis order.
  std::vector<std::vector<double>> dosages;
  for (const char* set : {"family", "unrelated"}) {
    writeDosageSet(dir, set, "GT", false, [&](size_t record, size_t, int copies) {
      if (dosages.size() <= record) dosages.resize(record + 1);
      const size_t i = dosages[record].size();
      dosages[record].push_back(std::stod(number(fractional(record, i, copies < 0 ? 1 : copies))));
      return std::string("0/0");
    });
  }
  ASSERT_EQ(dosages[0].size(), y.size());
  writeDosages(dir, dosages, false);
  const Table table = dosageRun(dir, {"--p", "0"});
  ASSERT_EQ(table.rows.size(), dosages.size());
  for (size_t s = 0; s < dosages.size(); ++s) {
    // Normal equations of the trait on [1, d] over the individuals with a trait.
    double n = 0, sd = 0, sy = 0, sdd = 0, sdy = 0;
    for (size_t i = 0; i < y.size(); ++i) {
      if (y[i] == 0) continue;
      const double d = dosages[s][i];
      n += 1, sd += d, sy += y[i], sdd += d * d, sdy += d * y[i];
    }
    const double beta = (n * sdy - sd * sy) / (n * sdd - sd * sd);
    EXPECT_NEAR(table.at(s, "BETA"), beta, 1e-8 * std::max(1.0, std::fabs(beta))) << "snp " << s;
    const double f = sd / (2 * n);
    EXPECT_NEAR(table.at(s, "FREQ2"), f, 1e-9);
    EXPECT_NEAR(table.at(s, "INFO"), (sdd / n - (sd / n) * (sd / n)) / (2 * f * (1 - f)), 1e-8);
  }

  // d -> 2 - d with REF and ALT swapped: the same statistics with the
  // components, the effect turned round.
  const Table plain = dosageRun(dir, {});
  if (std::system("bcftools --version > /dev/null 2>&1") == 0) {
    // BCF holds the values as floats, which keep the 1/64 grid exactly.
    const std::string plainText = dir.read("r.tsv");
    for (const char* set : {"family", "unrelated"}) {
      const std::string base = dir.file(set);
      ASSERT_EQ(std::system(("bcftools view -Ob -o " + base + ".bcf " + base + ".vcf").c_str()), 0);
    }
    dosageRun(dir, {});
    EXPECT_EQ(dir.read("r.tsv"), plainText) << "BCF";
    for (const char* set : {"family", "unrelated"}) std::remove(dir.file(std::string(set) + ".bcf").c_str());
  }
  writeDosages(dir, dosages, true);
  const Table swapped = dosageRun(dir, {});
  ASSERT_EQ(plain.rows.size(), swapped.rows.size());
  for (size_t s = 0; s < plain.rows.size(); ++s) {
    for (const char* name : {"STAT_SS", "STAT_T", "STAT_T1", "INFO"}) {
      EXPECT_NEAR(swapped.at(s, name), plain.at(s, name), 1e-7 * std::max(1.0, plain.at(s, name))) << name << s;
    }
    EXPECT_NEAR(swapped.at(s, "BETA"), -plain.at(s, "BETA"), 1e-9);
  }
}

TEST(Dosages, FieldValuesAndTheirProblems) {
  using ombra::DosageField;
  struct Case {
    DosageField field;
    const char* text;
    int units;  // -1: missing
    bool problem;
  };
  const Case cases[] = {
      {DosageField::kDs, "0", 0, false},           {DosageField::kDs, "2", 32768, false},
      {DosageField::kDs, "0.5", 8192, false},      {DosageField::kDs, ".", -1, false},
      {DosageField::kDs, "2.01", -1, true},        {DosageField::kDs, "-0.1", -1, true},
      {DosageField::kDs, "x", -1, true},           {DosageField::kDs, "1,1", -1, true},
      {DosageField::kDs, "nan", -1, true},         {DosageField::kGp, "0.25,0.5,0.25", 16384, false},
      {DosageField::kGp, "0,0,1", 32768, false},   {DosageField::kGp, "0.5,0.2,0.2", -1, true},
      {DosageField::kGp, "0.5,0.5", -1, true},     {DosageField::kGp, "1.5,-0.5,0", -1, true},
      {DosageField::kHds, "0.25,0.5", 12288, false}, {DosageField::kHds, "1", 32768, false},
      {DosageField::kHds, "1.2,0", -1, true},      {DosageField::kHds, ".", -1, false},
      {DosageField::kDs, "", -1, true},            {DosageField::kGp, "", -1, true},
      {DosageField::kDs, "1e-400", 0, false},      {DosageField::kDs, "1e400", -1, true},
      {DosageField::kGp, "1e-400,1,0", 16384, false},
  };
  for (const Case& c : cases) {
    std::string problem;
    const std::string text = c.text;
    const uint16_t units = ombra::dosageOfText(c.field, text.data(), text.data() + text.size(), problem);
    EXPECT_EQ(units, c.units < 0 ? kMissingDosage : c.units) << text;
    EXPECT_EQ(!problem.empty(), c.problem) << text << ": " << problem;
  }
}

TEST(Dosages, BadValuesStopAndAFieldLessRecordReadsItsCalls) {
  TempDir dir;
  const std::vector<std::string> args{"--vf", "family", "--vcf-dosage", "DS", "--out", "r.txt"};
  writeDosageSet(dir, "family", "DS", false, [](size_t record, size_t sample, int) {
    return record == 4 && sample == 7 ? std::string("2.5") : std::string("1");
  });
  RunResult run = runOmbra(dir.path(), args);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Record 5 (line"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("which is outside [0, 2]"), std::string::npos) << run.out;
  EXPECT_FALSE(dir.exists("r.txt"));

  // Records 0-9 carry GT only: their calls are the dosages, and a line says so.
  writeDosageSet(dir, "family", "DS:GT", false, [](size_t, size_t, int copies) {
    const std::string gt = copies < 0 ? "./." : copies == 0 ? "0/0" : copies == 1 ? "0/1" : "1/1";
    return (copies < 0 ? std::string(".") : std::to_string(copies)) + ":" + gt;
  });
  std::string vcf = dir.read("family.vcf");
  for (size_t at = vcf.find("\tDS:GT\t"), k = 0; at != std::string::npos && k < 10; at = vcf.find("\tDS:GT\t"), ++k) {
    const size_t end = vcf.find('\n', at);
    std::vector<std::string> samples = split(vcf.substr(at + 7, end - at - 7), '\t');
    std::string line = "\tGT";
    for (const std::string& sample : samples) line += "\t" + sample.substr(sample.find(':') + 1);
    vcf.replace(at, end - at, line);
  }
  dir.write("family.vcf", vcf);
  run = runOmbra(dir.path(), args);
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("10 records of family.vcf have no DS field: their GT calls are read as dosages."),
            std::string::npos)
      << run.out;
  EXPECT_EQ(dir.read("r.txt"), testing_support::resultOf(dir, {"--vf", kVcf + "family"}, "gt.txt"));

  run = runOmbra(dir.path(), {"--vf", "family", "--vcf-dosage", "AB"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "The option --vcf-dosage takes GT, DS, GP or HDS.\n");
}

// A sample whose DS is left out or "." takes its GT call, as PLINK 2 reads
// it; one with neither is missing; an empty DS stops naming the sample.
TEST(Dosages, ALeftOutValueTakesTheCallAndAnEmptyOneStops) {
  TempDir dir;
  const std::vector<std::string> args{"--vf", "family", "--vcf-dosage", "DS", "--out", "r.txt"};
  auto gtOf = [](int copies) { return copies < 0 ? std::string("./.") : copies == 0 ? "0/0" : copies == 1 ? "0/1" : "1/1"; };
  // Every value given: the calls' result.
  writeDosageSet(dir, "family", "GT:DS", false, [&](size_t, size_t, int copies) {
    return gtOf(copies) + ":" + (copies < 0 ? std::string(".") : std::to_string(copies));
  });
  const std::string whole = testing_support::resultOf(dir, args, "whole.txt");
  // Every other value left out or ".": the same result, and a line counts them.
  size_t leftOut = 0;
  writeDosageSet(dir, "family", "GT:DS", false, [&](size_t record, size_t sample, int copies) {
    const size_t kind = (record + sample) % 4;
    leftOut += kind < 2 && copies >= 0;
    if (kind == 0) return gtOf(copies);
    if (kind == 1) return gtOf(copies) + ":.";
    return gtOf(copies) + ":" + (copies < 0 ? std::string(".") : std::to_string(copies));
  });
  RunResult run = runOmbra(dir.path(), args);
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(dir.read("r.txt"), whole);
  EXPECT_NE(run.out.find("In family.vcf " + std::to_string(leftOut) + " called samples leave out their DS or give \".\": "
                         "their GT calls are read as dosages.\n"),
            std::string::npos)
      << run.out;

  writeDosageSet(dir, "family", "GT:DS", false, [&](size_t record, size_t sample, int copies) {
    return gtOf(copies) + ":" + (record == 3 && sample == 5 ? std::string() : std::string("1"));
  });
  run = runOmbra(dir.path(), args);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Record 4 (line"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("has an empty DS value for sample "), std::string::npos) << run.out;
}

// A BCF whose DS is declared Integer holds the numbers its VCF text does.
TEST(Dosages, ABcfFieldOfIntegersIsReadAsItsNumbers) {
  if (std::system("command -v bcftools >/dev/null 2>&1") != 0) GTEST_SKIP() << "bcftools is not installed";
  TempDir dir;
  writeDosageSet(dir, "family", "DS", false, [](size_t, size_t, int copies) {
    return copies < 0 ? std::string(".") : std::to_string(copies);
  });
  std::string vcf = dir.read("family.vcf");
  const std::string declared = "ID=DS,Number=A,Type=Float";
  vcf.replace(vcf.find(declared), declared.size(), "ID=DS,Number=A,Type=Integer");
  dir.write("family.vcf", vcf);
  const std::string text = testing_support::resultOf(dir, {"--vf", "family", "--vcf-dosage", "DS"}, "vcf.txt");
  ASSERT_EQ(std::system(("cd '" + dir.path() + "' && bcftools view -Ob -o family.bcf family.vcf && rm family.vcf").c_str()), 0);
  const RunResult run = runOmbra(dir.path(), {"--vf", "family", "--vcf-dosage", "DS", "--out", "bcf.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(dir.read("bcf.txt"), text);
}

TEST(Dosages, MinfoLeavesOutPoorlyImputedSnps) {
  TempDir dir;
  // Every third record keeps its calls; the others are blurred towards 1.
  writeDosageSet(dir, "family", "DS", false, [](size_t record, size_t, int copies) {
    const double d = copies < 0 ? 1.0 : copies;
    return number(record % 3 == 0 ? d : 1 + 0.2 * (d - 1));
  });
  const RunResult run = runOmbra(dir.path(), {"--vf", "family", "--vcf-dosage", "DS", "--minfo", "0.5",
                                              "--out", "r.tsv", "--out-format", "tsv"});
  ASSERT_EQ(run.status, 0) << run.out;
  const Table table = readTable(dir.read("r.tsv"));
  EXPECT_NE(run.out.find("--minfo 0.5: " + std::to_string(300 - table.rows.size()) + " snps removed"),
            std::string::npos)
      << run.out;
  EXPECT_GE(table.rows.size(), 95u);
  EXPECT_LE(table.rows.size(), 105u);
  for (size_t s = 0; s < table.rows.size(); ++s) EXPECT_GE(table.at(s, "INFO"), 0.5);
}

}  // namespace

namespace {

const std::string kPlink = std::string(OMBRA_SOURCE_DIR) + "/examples/plink/";

bool hasPlink2() { return std::system("plink2 --version > /dev/null 2>&1") == 0; }

TEST(BgenSets, PlinkExportsGiveTheFilesetsResult) {
  if (!hasPlink2()) GTEST_SKIP() << "plink2 is not installed";
  TempDir dir;
  const std::string expected =
      testing_support::resultOf(dir, {"--bf", kPlink + "family", "--bi", kPlink + "unrelated"}, "plink.txt");
  for (const char* kind : {"bgen-1.2 bits=8", "bgen-1.3 bits=16", "bgen-1.1"}) {
    for (const char* set : {"family", "unrelated"}) {
      const std::string out = dir.file(set);
      ASSERT_EQ(std::system(("plink2 --bfile " + kPlink + set + " --export " + kind + " --out " + out +
                             " > /dev/null 2>&1").c_str()),
                0);
      testing_support::writeFile(out + ".fam", testing_support::readFile(kPlink + set + ".fam"));
    }
    EXPECT_EQ(testing_support::resultOf(dir, {"--gf", "family", "--gi", "unrelated"}, "bgen.txt"), expected) << kind;
  }
  // Hard calls held as dosages are as certain as calls: INFO 1 (not their
  // departure from Hardy-Weinberg), the table and --minfo as the fileset's.
  const std::vector<std::string> table{"--out-format", "tsv", "--minfo", "0.99"};
  std::vector<std::string> plink{"--bf", kPlink + "family", "--bi", kPlink + "unrelated"};
  std::vector<std::string> bgen{"--gf", "family", "--gi", "unrelated"};
  plink.insert(plink.end(), table.begin(), table.end());
  bgen.insert(bgen.end(), table.begin(), table.end());
  const std::string fileset = testing_support::resultOf(dir, plink, "plink.tsv");
  EXPECT_EQ(testing_support::resultOf(dir, bgen, "bgen.tsv"), fileset);
  EXPECT_EQ(readTable(fileset).rows.size(), 300u);
}

// PLINK 2's VCF export leaves DS out where it equals the call; the file
// reads as its DS-force twin, which writes every value.
TEST(BgenSets, PlinkDosageExportReadsAsItsForcedTwin) {
  if (!hasPlink2()) GTEST_SKIP() << "plink2 is not installed";
  TempDir dir;
  const std::string imputed = std::string(OMBRA_SOURCE_DIR) + "/examples/imputed/";
  for (const char* mode : {"DS", "DS-force"}) {
    for (const char* set : {"family", "unrelated"}) {
      const std::string out = dir.file(std::string(mode) + "-" + set);
      ASSERT_EQ(std::system(("plink2 --vcf " + imputed + set + ".vcf.gz dosage=DS --export vcf vcf-dosage=" + mode +
                             " --out " + out + " > /dev/null 2>&1").c_str()),
                0);
      testing_support::writeFile(out + ".fam", testing_support::readFile(imputed + set + ".fam"));
    }
  }
  const std::string forced = testing_support::resultOf(
      dir, {"--vf", "DS-force-family", "--vi", "DS-force-unrelated", "--vcf-dosage", "DS", "--out-format", "tsv"},
      "forced.tsv");
  const RunResult run = runOmbra(dir.path(), {"--vf", "DS-family", "--vi", "DS-unrelated", "--vcf-dosage", "DS",
                                              "--out-format", "tsv", "--out", "plain.tsv"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(dir.read("plain.tsv"), forced);
  EXPECT_NE(run.out.find("records of DS-family.vcf have no DS field, and in the others "), std::string::npos) << run.out;
  if (std::system("command -v bcftools >/dev/null 2>&1") != 0) GTEST_SKIP() << "bcftools is not installed";
  for (const char* set : {"DS-family", "DS-unrelated"}) {
    ASSERT_EQ(std::system(("cd '" + dir.path() + "' && bcftools view -Ob -o " + set + ".bcf " + set + ".vcf && rm " +
                           set + ".vcf").c_str()),
              0);
  }
  EXPECT_EQ(testing_support::resultOf(
                dir, {"--vf", "DS-family", "--vi", "DS-unrelated", "--vcf-dosage", "DS", "--out-format", "tsv"},
                "bcf.tsv"),
            forced);
}

TEST(BgenSets, SixteenBitDosagesAgreeWithTheirVcf) {
  if (!hasPlink2()) GTEST_SKIP() << "plink2 is not installed";
  TempDir dir;
  const std::string imputed = std::string(OMBRA_SOURCE_DIR) + "/examples/imputed/";
  for (const char* set : {"family", "unrelated"}) {
    ASSERT_EQ(std::system(("plink2 --vcf " + imputed + set + ".vcf.gz dosage=DS --export bgen-1.2 bits=16 --out " +
                           dir.file(set) + " > /dev/null 2>&1").c_str()),
              0);
    testing_support::writeFile(dir.file(set) + ".fam", testing_support::readFile(imputed + set + ".fam"));
  }
  const Table vcf = readTable(testing_support::resultOf(
      dir, {"--vf", imputed + "family", "--vi", imputed + "unrelated", "--vcf-dosage", "DS", "--out-format", "tsv"},
      "vcf.tsv"));
  const Table bgen = readTable(
      testing_support::resultOf(dir, {"--gf", "family", "--gi", "unrelated", "--out-format", "tsv"}, "bgen.tsv"));
  ASSERT_EQ(vcf.rows.size(), bgen.rows.size());
  for (size_t s = 0; s < vcf.rows.size(); ++s) {
    // Not INFO: the BGEN file's is IMPUTE's, of the probabilities PLINK 2
    // made up for each dosage, the VCF's MACH's r-squared of the dosages.
    for (const char* name : {"STAT_SS", "STAT_T", "STAT_T1"}) {
      EXPECT_NEAR(bgen.at(s, name), vcf.at(s, name), 1e-4 * std::max(1.0, std::fabs(vcf.at(s, name)))) << name << s;
    }
    // PLINK 2 writes ALT first: the effect is the other allele's.
    const bool swapped = bgen.rows[s][bgen.column("A2")] == vcf.rows[s][vcf.column("A1")];
    if (vcf.rows[s][vcf.column("BETA")] == "NA") continue;  // a monomorphic SNP
    EXPECT_NEAR(bgen.at(s, "BETA"), (swapped ? -1 : 1) * vcf.at(s, "BETA"), 1e-4) << s;
  }
}

}  // namespace
