// The mixed model against GEMMA's exact one (gemma -lmm 1) with the same
// relationship matrix (twice the kinship Ombra writes) and the same design
// (a constant): the null h2 within 0.01 of GEMMA's PVE, and the Wald
// p-values of SNPs with p > 1e-4 within 3% in -log10 p, at least 0.05
// (GEMMA re-estimates h2 per SNP and uses the F distribution, Ombra keeps
// the null h2 and the chi-square). Skipped when GEMMA is not installed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>

#include "TestSupport.h"

using testing_support::TempDir;

namespace {

bool gemmaInstalled() { return std::system("command -v gemma >/dev/null 2>&1") == 0; }

// A family set of nuclear families (two founders and one to three children
// by Mendelian transmission) and individuals on their own, a polygenic
// trait over the first 100 SNPs and a family effect.
void simulate(const TempDir& dir, int families, int alone, int snps) {
  std::mt19937 random(2024);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::normal_distribution<double> normal;
  std::vector<double> frequency(static_cast<size_t>(snps)), effect(static_cast<size_t>(snps), 0.0);
  for (int s = 0; s < snps; ++s) {
    frequency[static_cast<size_t>(s)] = 0.1 + 0.8 * uniform(random);
    if (s < 100) effect[static_cast<size_t>(s)] = 0.12 * normal(random);
  }
  using Genome = std::vector<int>;  // two alleles per SNP, 1 = allele G
  auto founder = [&]() {
    Genome g(2 * static_cast<size_t>(snps));
    for (int s = 0; s < 2 * snps; ++s) g[static_cast<size_t>(s)] = uniform(random) < frequency[static_cast<size_t>(s / 2)];
    return g;
  };
  auto child = [&](const Genome& father, const Genome& mother) {
    Genome g(father.size());
    for (size_t s = 0; s < g.size() / 2; ++s) {
      g[2 * s] = father[2 * s + (random() & 1)];
      g[2 * s + 1] = mother[2 * s + (random() & 1)];
    }
    return g;
  };
  std::ostringstream ped;
  auto line = [&](const std::string& fam, const std::string& id, const std::string& father, const std::string& mother,
                  const Genome& g, double shared) {
    double value = shared + normal(random);
    for (int s = 0; s < snps; ++s) value += effect[static_cast<size_t>(s)] * (g[2 * static_cast<size_t>(s)] + g[2 * static_cast<size_t>(s) + 1]);
    char trait[32];
    std::snprintf(trait, sizeof trait, "%.6f", value + 10);
    ped << fam << ' ' << id << ' ' << father << ' ' << mother << " 1 " << trait;
    for (int s = 0; s < 2 * snps; ++s) ped << (g[static_cast<size_t>(s)] ? " G" : " A");
    ped << '\n';
  };
  for (int f = 0; f < families; ++f) {
    const std::string fam = "F" + std::to_string(f);
    const double shared = 0.5 * normal(random);
    const Genome father = founder(), mother = founder();
    line(fam, "1", "0", "0", father, 0);
    line(fam, "2", "0", "0", mother, 0);
    const int children = 1 + static_cast<int>(random() % 3);
    for (int c = 0; c < children; ++c) line(fam, std::to_string(3 + c), "1", "2", child(father, mother), shared);
  }
  for (int u = 0; u < alone; ++u) line("U" + std::to_string(u), "1", "0", "0", founder(), 0);
  dir.write("sim.ped", ped.str());
  std::ostringstream map;
  for (int s = 0; s < snps; ++s) map << "1 rs" << s << " 0 " << 1000 * (s + 1) << '\n';
  dir.write("sim.map", map.str());
}

std::vector<std::vector<std::string>> table(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::vector<std::string> row;
    std::string field;
    while (fields >> field) row.push_back(field);
    if (!row.empty()) rows.push_back(row);
  }
  return rows;
}

size_t columnOf(const std::vector<std::string>& header, const std::string& name) {
  for (size_t k = 0; k < header.size(); ++k) {
    if (header[k] == name) return k;
  }
  ADD_FAILURE() << "no column " << name;
  return 0;
}

TEST(GemmaComparison, NullHeritabilityAndWaldPValues) {
  if (!gemmaInstalled()) GTEST_SKIP() << "GEMMA is not installed (apt-get install gemma): comparison skipped";
  TempDir dir;
  simulate(dir, 220, 250, 300);
  const testing_support::RunResult run = testing_support::runOmbra(
      dir.path(), {"--f", "sim", "--p", "0", "--model", "lmm", "--out-format", "tsv", "--out", "lmm.tsv",
                   "--write-kinship", "kinship.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  const size_t at = run.out.find("h2 = ");
  ASSERT_NE(at, std::string::npos) << run.out;
  const double h2 = std::atof(run.out.c_str() + at + 5);
  ASSERT_EQ(testing_support::runOmbra(dir.path(), {"--f", "sim", "--make-plink-bed", "g"}).status, 0);

  // GEMMA's relatedness matrix in the .fam's order: twice the kinship.
  const auto fam = table(dir.read("g.fam"));
  std::map<std::string, size_t> index;
  for (size_t i = 0; i < fam.size(); ++i) index[fam[i][0] + " " + fam[i][1]] = i;
  std::vector<double> k(fam.size() * fam.size(), 0.0);
  const auto kinship = table(dir.read("kinship.txt"));
  for (size_t r = 1; r < kinship.size(); ++r) {
    const size_t a = index.at(kinship[r][0] + " " + kinship[r][1]), b = index.at(kinship[r][2] + " " + kinship[r][3]);
    k[a * fam.size() + b] = k[b * fam.size() + a] = 2 * std::atof(kinship[r][4].c_str());
  }
  std::ostringstream matrix;
  for (size_t a = 0; a < fam.size(); ++a) {
    for (size_t b = 0; b < fam.size(); ++b) matrix << (b ? "\t" : "") << k[a * fam.size() + b];
    matrix << '\n';
  }
  dir.write("k.txt", matrix.str());
  const std::string command = "cd " + dir.path() +
                              " && gemma -bfile g -k k.txt -lmm 1 -outdir gemma -o cmp >gemma.out 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << dir.read("gemma.out");

  const std::string log = dir.read("gemma/cmp.log.txt");
  const size_t pve = log.find("pve estimate in the null model = ");
  ASSERT_NE(pve, std::string::npos) << log;
  const double gemmaH2 = std::atof(log.c_str() + pve + 33);
  EXPECT_NEAR(h2, gemmaH2, 0.01) << "Ombra's h2 " << h2 << ", GEMMA's PVE " << gemmaH2;

  const auto ours = table(dir.read("lmm.tsv"));
  const auto theirs = table(dir.read("gemma/cmp.assoc.txt"));
  const size_t snp = columnOf(ours[0], "SNP"), pLmm = columnOf(ours[0], "P_LMM");
  const size_t rs = columnOf(theirs[0], "rs"), pWald = columnOf(theirs[0], "p_wald");
  std::map<std::string, double> gemmaP;
  for (size_t r = 1; r < theirs.size(); ++r) gemmaP[theirs[r][rs]] = std::atof(theirs[r][pWald].c_str());
  size_t compared = 0;
  double largest = 0;
  for (size_t r = 1; r < ours.size(); ++r) {
    const auto found = gemmaP.find(ours[r][snp]);
    ASSERT_NE(found, gemmaP.end()) << ours[r][snp];
    if (found->second <= 1e-4) continue;
    const double expected = -std::log10(found->second), actual = -std::log10(std::atof(ours[r][pLmm].c_str()));
    EXPECT_NEAR(actual, expected, std::max(0.05, 0.03 * expected)) << ours[r][snp];
    largest = std::max(largest, std::fabs(actual - expected));
    ++compared;
  }
  std::printf("Ombra h2 %.4f, GEMMA PVE %.4f; largest difference in -log10 p %.4f over %zu SNPs\n", h2, gemmaH2,
              largest, compared);
  EXPECT_GT(compared, 250u);
}

}  // namespace
