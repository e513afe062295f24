// PLINK 1 binary filesets end to end: the bytes --make-plink-bed writes,
// reading them back through --bf/--bi alone and pooled with every other
// layout, and the peer tools reading and writing them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::resultOf;
using testing_support::runOmbra;

namespace {

const std::string kExamples = std::string(OMBRA_SOURCE_DIR) + "/examples/";

const char* const kMap = "1 rs1 0 100\n1 rs2 0 200\n";
// Families interleave; individual 3 misses rs2.
const char* const kPed =
    "F1 1 0 0 1 1 G A C C\n"
    "F2 2 0 0 2 2 A A C T\n"
    "F1 3 1 0 1 0 G G 0 0\n";
// The same data set as PLINK writes it, individuals grouped by family:
// rs1 codes 1 0 2 -> PLINK 10 00 11 (first individual in the low bits),
// rs2 codes 0 3 1 -> PLINK 00 01 10.
const std::string kBed("\x6c\x1b\x01\x32\x24", 5);
const char* const kPlinkBim = "1\trs1\t0\t100\tG\tA\n1\trs2\t0\t200\tC\tT\n";
const char* const kFam = "F1 1 0 0 1 1\nF1 3 1 0 1 0\nF2 2 0 0 2 2\n";
const char* const kGroupedPed =
    "F1 1 0 0 1 1 G A C C\n"
    "F1 3 1 0 1 0 G G 0 0\n"
    "F2 2 0 0 2 2 A A C T\n";

bool hasTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

int runTool(const TempDir& dir, const std::string& command) {
  return std::system(("cd '" + dir.path() + "' && " + command + " >/dev/null 2>&1").c_str());
}

TEST(PlinkFileset, WrittenBytesAndTheirRoundTrip) {
  TempDir dir;
  dir.write("in.map", kMap);
  dir.write("in.ped", kPed);
  RunResult run = runOmbra(dir.path(), {"--f", "in", "--make-plink-bed", "pl"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Coding PLINK 1 binary fileset ...\n"), std::string::npos);
  EXPECT_EQ(run.out.find("Program is processing"), std::string::npos);
  EXPECT_EQ(dir.read("pl.bed"), kBed);
  EXPECT_EQ(dir.read("pl.bim"), kPlinkBim);
  EXPECT_EQ(dir.read("pl.fam"), kFam);

  run = runOmbra(dir.path(), {"--bf", "pl", "--recode", "back"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Reading PLINK 1 binary genotype: pl.bed ...\n"), std::string::npos);
  EXPECT_EQ(dir.read("back.ped"), kGroupedPed);
  run = runOmbra(dir.path(), {"--bi", "pl", "--make-plink-bed", "again"});
  EXPECT_EQ(dir.read("again.bed"), kBed);
  EXPECT_EQ(dir.read("again.bim"), kPlinkBim);
  // Ombra's own layout counts the second allele as the text set does.
  run = runOmbra(dir.path(), {"--bf", "pl", "--make-bed", "own"});
  EXPECT_EQ(dir.read("own.bim"), "1 rs1 0 100 G A 3\n1 rs2 0 200 C T 1\n");
}

TEST(PlinkFileset, PaddingBitsAndUnknownAllelesRead) {
  TempDir dir;
  // Garbage in the padding slot (the fourth individual) of each column.
  dir.write("p.bed", std::string("\x6c\x1b\x01\xf2\x64", 5));
  dir.write("p.bim", "1 rs1 0 100 G A\n1\trs2\t0\t200\tC\tT\n\n");
  dir.write("p.fam", kFam);
  RunResult run = runOmbra(dir.path(), {"--bf", "p", "--recode", "t"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(dir.read("t.ped"), kGroupedPed);
  // A1 "0" is unknown: homozygous A2 reads, the others are written missing.
  dir.write("p.bim", "1 rs1 0 100 0 A\n1 rs2 0 200 C T\n");
  run = runOmbra(dir.path(), {"--bf", "p", "--make-plink-bed", "q"});
  EXPECT_EQ(dir.read("q.bim"), "1\trs1\t0\t100\t0\tA\n1\trs2\t0\t200\tC\tT\n");
  EXPECT_EQ(dir.read("q.bed"), kBed);
}

// The example data set in one of three layouts, made from its text files.
enum class Layout { kText, kOmbra, kPlink };

std::vector<std::string> setOptions(const TempDir& dir, Layout layout, bool unrelated) {
  const std::string name = unrelated ? "unrelated" : "family";
  const std::string source = kExamples + name;
  if (layout == Layout::kText) return {unrelated ? "--i" : "--f", source};
  const std::string prefix = name + (layout == Layout::kOmbra ? "_ombra" : "_plink");
  if (!dir.exists(prefix + ".bed")) {
    const RunResult made = runOmbra(dir.path(), {unrelated ? "--i" : "--f", source,
                                                 layout == Layout::kOmbra ? "--make-bed" : "--make-plink-bed", prefix});
    EXPECT_EQ(made.status, 0) << made.out;
  }
  return {unrelated ? "--bi" : "--bf", prefix};
}

TEST(PlinkFileset, ExampleResultsEqualTheTextRunInEveryLayoutAndMix) {
  TempDir dir;
  const Layout layouts[] = {Layout::kText, Layout::kOmbra, Layout::kPlink};
  const char* const names[] = {"text", "ombra", "plink"};
  for (bool unrelated : {false, true}) {
    const std::string text = resultOf(dir, setOptions(dir, Layout::kText, unrelated), "single_text.txt");
    const std::string plink = resultOf(dir, setOptions(dir, Layout::kPlink, unrelated), "single_plink.txt");
    EXPECT_EQ(plink, text) << (unrelated ? "unrelated" : "family") << " set alone";
  }
  std::vector<std::string> both = setOptions(dir, Layout::kText, false);
  for (const std::string& word : setOptions(dir, Layout::kText, true)) both.push_back(word);
  const std::string expected = resultOf(dir, both, "text_text.txt");
  ASSERT_EQ(std::count(expected.begin(), expected.end(), '\n'), 300);
  for (int f = 0; f < 3; ++f) {
    for (int u = 0; u < 3; ++u) {
      if (f == 0 && u == 0) continue;
      std::vector<std::string> args = setOptions(dir, layouts[f], false);
      for (const std::string& word : setOptions(dir, layouts[u], true)) args.push_back(word);
      const std::string out = std::string(names[f]) + "_" + names[u] + ".txt";
      EXPECT_EQ(resultOf(dir, args, out), expected) << "family " << names[f] << ", unrelated " << names[u];
    }
  }
}

// The filesets under examples/plink are what --make-plink-bed writes from
// the example text sets.
TEST(PlinkFileset, ExampleFilesetsAreCurrent) {
  TempDir dir;
  for (const std::string name : {"family", "unrelated"}) {
    const RunResult run = runOmbra(dir.path(), {name == "family" ? "--f" : "--i", kExamples + name,
                                                "--make-plink-bed", name});
    ASSERT_EQ(run.status, 0) << run.out;
    for (const std::string extension : {".bed", ".bim", ".fam"}) {
      EXPECT_EQ(dir.read(name + extension), testing_support::readFile(kExamples + "plink/" + name + extension))
          << name << extension;
    }
  }
}

TEST(PlinkFileset, MakePlinkBedTakesOneDataSetAndNoOtherRecoding) {
  TempDir dir;
  dir.write("in.map", kMap);
  dir.write("in.ped", kPed);
  for (const char* other : {"--make-bed", "--recode"}) {
    const RunResult run = runOmbra(dir.path(), {"--f", "in", "--make-plink-bed", "a", other, "b"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "The option --make-plink-bed can not be used together with --make-bed or --recode.\n");
  }
  const RunResult both = runOmbra(dir.path(), {"--f", "in", "--i", "in", "--make-plink-bed", "a"});
  EXPECT_EQ(both.status, 1);
  EXPECT_FALSE(dir.exists("a.bed"));
  // With --out the test follows the recoding (two more individuals give the
  // test the degree of freedom it needs).
  dir.write("in.ped", std::string(kPed) + "F3 4 0 0 1 2 A A C C\nF4 5 0 0 2 1 G A C T\n");
  const RunResult run = runOmbra(dir.path(), {"--f", "in", "--make-plink-bed", "a", "--out", "r.txt", "--p", "0"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(dir.read("a.bed").substr(0, 3), kBed.substr(0, 3));
  EXPECT_TRUE(dir.exists("r.txt"));
}

// Allele frequencies counted straight from a .ped: SNP -> allele -> frequency.
std::vector<std::map<std::string, double>> pedFrequencies(const std::string& ped) {
  std::vector<std::map<std::string, double>> counts;
  std::istringstream lines(ped);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string field;
    for (int k = 0; k < 6; ++k) fields >> field;
    for (size_t s = 0; fields >> field; ++s) {
      if (counts.size() <= s / 2) counts.resize(s / 2 + 1);
      if (field != "0") counts[s / 2][field] += 1;
    }
  }
  for (auto& snp : counts) {
    double total = 0;
    for (auto& entry : snp) total += entry.second;
    for (auto& entry : snp) entry.second /= total;
  }
  return counts;
}

// The whitespace-separated fields of every line after the first.
std::vector<std::vector<std::string>> table(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::vector<std::string> row;
    for (std::string field; fields >> field;) row.push_back(field);
    rows.push_back(row);
  }
  return rows;
}

TEST(PlinkFileset, PeerToolsReadWhatMakePlinkBedWrites) {
  if (!hasTool("plink1.9") || !hasTool("plink2")) GTEST_SKIP() << "plink1.9 or plink2 is not installed";
  TempDir dir;
  ASSERT_EQ(runOmbra(dir.path(), {"--f", kExamples + "family", "--make-plink-bed", "fam"}).status, 0);
  const auto expected = pedFrequencies(testing_support::readFile(kExamples + "family.ped"));
  ASSERT_EQ(runTool(dir, "plink1.9 --bfile fam --freq --nonfounders --out p19"), 0);
  ASSERT_EQ(runTool(dir, "plink2 --bfile fam --freq --nonfounders --out p2"), 0);
  const auto p19 = table(dir.read("p19.frq"));  // CHR SNP A1 A2 MAF NCHROBS
  const auto p2 = table(dir.read("p2.afreq"));  // CHROM ID REF ALT ALT_FREQS OBS_CT
  ASSERT_EQ(p19.size(), expected.size());
  ASSERT_EQ(p2.size(), expected.size());
  for (size_t s = 0; s < expected.size(); ++s) {
    const auto& freq = expected[s];
    if (freq.size() == 2) {
      EXPECT_NEAR(std::stod(p19[s][4]), freq.at(p19[s][2]), 1e-4) << p19[s][1];
    } else {
      EXPECT_EQ(std::stod(p19[s][4]), 0.0) << p19[s][1];
    }
    const double alt = freq.count(p2[s][3]) != 0 ? freq.at(p2[s][3]) : 0.0;
    EXPECT_NEAR(std::stod(p2[s][4]), alt, 1e-5) << p2[s][1];
  }
}

// A data set with missing genotypes (their fill, the mean dosage, swaps
// with the alleles): 40 individuals, 12 SNPs, one of them monomorphic.
void writeSetWithMissingCalls(const TempDir& dir) {
  std::string map;
  std::string ped;
  for (int s = 0; s < 12; ++s) map += "1 rs" + std::to_string(s) + " 0 " + std::to_string(1000 + s) + "\n";
  unsigned state = 7;
  const char* alleles[] = {"A", "C", "G", "T"};
  for (int i = 0; i < 40; ++i) {
    ped += "U" + std::to_string(i) + " I" + std::to_string(i) + " 0 0 1 " + std::to_string(1 + (i * 7) % 2);
    for (int s = 0; s < 12; ++s) {
      state = state * 1103515245u + 12345u;
      if (i > 0 && (state >> 16) % 16 == 0) {
        ped += " 0 0";
        continue;
      }
      for (int copy = 0; copy < 2; ++copy) {
        state = state * 1103515245u + 12345u;
        const bool second = s != 5 && ((state >> 16) % 10) < static_cast<unsigned>(2 + s % 6);
        ped += std::string(" ") + alleles[(s + (second ? 1 : 0)) % 4];
      }
    }
    ped += "\n";
  }
  dir.write("c.map", map);
  dir.write("c.ped", ped);
}

TEST(PlinkFileset, FilesetMadeByPlinkGivesTheTextResultUpToAlleleOrder) {
  if (!hasTool("plink1.9")) GTEST_SKIP() << "plink1.9 is not installed";
  TempDir dir;
  writeSetWithMissingCalls(dir);
  ASSERT_EQ(runTool(dir, "plink1.9 --file c --make-bed --output-missing-phenotype 0 --out p"), 0) << dir.read("p.log");
  const auto text = table("\n" + resultOf(dir, {"--i", "c", "--p", "2"}, "text.txt"));
  const auto plink = table("\n" + resultOf(dir, {"--bi", "p", "--p", "2"}, "plink.txt"));
  ASSERT_EQ(text.size(), 12u);
  ASSERT_EQ(plink.size(), 12u);
  for (size_t s = 0; s < text.size(); ++s) {
    // name, allele1, allele2, two frequencies, six numbers (a monomorphic
    // SNP has one allele column).
    const auto& a = text[s];
    const auto& b = plink[s];
    ASSERT_EQ(a.size(), b.size()) << a[0];
    const size_t alleles = a.size() - 9;
    std::map<std::string, double> fa;
    std::map<std::string, double> fb;
    for (size_t k = 0; k < alleles; ++k) {
      fa[a[1 + k]] = std::stod(a[1 + alleles + k]);
      fb[b[1 + k]] = std::stod(b[1 + alleles + k]);
    }
    if (alleles == 1) {  // the other allele is unknown: its frequency is 0
      fa[a[1]] = std::max(std::stod(a[2]), std::stod(a[3]));
      fb[b[1]] = std::max(std::stod(b[2]), std::stod(b[3]));
    }
    EXPECT_EQ(fa.size(), fb.size()) << a[0];
    for (const auto& entry : fa) EXPECT_NEAR(fb[entry.first], entry.second, 1e-6) << a[0] << " " << entry.first;
    for (size_t k = 3 + alleles; k < a.size(); ++k) {
      EXPECT_NEAR(std::stod(b[k]), std::stod(a[k]), 1e-5 * (1 + std::fabs(std::stod(a[k])))) << a[0] << " column " << k;
    }
  }
}

}  // namespace
