// The quality-control filters: the Hardy-Weinberg exact test against exact
// values and the closed-form probabilities, the SNPs and individuals each
// filter removes against PLINK 1.9's filters on the same data, and a SNP a
// filter removes is exactly a SNP --exclude removes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>

#include "TestSupport.h"
#include "design/QualityFilters.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

TEST(HardyWeinberg, ExactValues) {
  // Sums of exact rational probabilities.
  const struct {
    long hets, homs1, homs2;
    double p;
  } cases[] = {
      {57, 14, 29, 0.15068007651576143},     {0, 50, 50, 1.114224180581451e-30}, {100, 0, 0, 1.51139082730558e-29},
      {1, 0, 99, 1.0},                       {10, 45, 45, 2.1260317926714968e-17},
      {20, 40, 40, 7.901337767149247e-10},   {3, 5, 2, 0.47987616099071206},     {0, 0, 1, 1.0},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(ombra::hardyWeinbergP(c.hets, c.homs1, c.homs2), c.p, 1e-9 * c.p) << c.hets << " " << c.homs1;
    EXPECT_DOUBLE_EQ(ombra::hardyWeinbergP(c.hets, c.homs1, c.homs2), ombra::hardyWeinbergP(c.hets, c.homs2, c.homs1));
  }
  EXPECT_EQ(ombra::hardyWeinbergP(0, 0, 0), 1.0);
}

// The probability of h heterozygotes among n genotypes with nA copies of
// one allele, from factorials, for every h; the p-value sums those no more
// likely than the observed count.
double closedFormP(long hets, long homs1, long homs2) {
  const long n = hets + homs1 + homs2, a = 2 * homs1 + hets, b = 2 * homs2 + hets;
  const auto logP = [&](long h) {
    return std::lgamma(n + 1.0) - std::lgamma((a - h) / 2 + 1.0) - std::lgamma(h + 1.0) -
           std::lgamma((b - h) / 2 + 1.0) + h * std::log(2.0) + std::lgamma(a + 1.0) + std::lgamma(b + 1.0) -
           std::lgamma(2 * n + 1.0);
  };
  const double observed = logP(hets);
  double p = 0;
  for (long h = a % 2; h <= std::min(a, b); h += 2) {
    if (logP(h) <= observed + 1e-9) p += std::exp(logP(h));
  }
  return std::min(1.0, p);
}

TEST(HardyWeinberg, AgreesWithTheClosedFormProbabilities) {
  for (long n : {1, 2, 7, 30, 200}) {
    for (long homs1 = 0; homs1 <= n; homs1 += std::max(1L, n / 9)) {
      for (long hets = 0; homs1 + hets <= n; hets += std::max(1L, n / 11)) {
        const long homs2 = n - homs1 - hets;
        const double expected = closedFormP(hets, homs1, homs2);
        EXPECT_NEAR(ombra::hardyWeinbergP(hets, homs1, homs2), expected, 1e-8 * std::max(expected, 1e-300))
            << hets << " " << homs1 << " " << homs2;
      }
    }
  }
}

bool hasPlink() { return std::system("command -v plink1.9 >/dev/null 2>&1") == 0; }

// A family set of trios on chromosomes 1-3 with varied allele frequencies,
// missing rates (some individuals miss many genotypes) and SNPs out of
// Hardy-Weinberg equilibrium, among the founders or only among the children.
void writeTrios(const TempDir& dir, const std::string& prefix) {
  const int trios = 60, snps = 90;
  unsigned state = 12345;
  const auto uniform = [&]() {
    state = state * 1103515245u + 12345u;
    return static_cast<double>((state >> 8) & 0xFFFF) / 65536.0;
  };
  std::string map;
  for (int s = 0; s < snps; ++s) {
    map += std::to_string(1 + s / 30) + " rs" + std::to_string(s) + " 0 " + std::to_string(1000 + 10 * s) + "\n";
  }
  std::string ped;
  for (int t = 0; t < trios; ++t) {
    for (int member = 0; member < 3; ++member) {
      const std::string fam = "F" + std::to_string(t);
      const std::string id = std::to_string(member + 1);
      const bool child = member == 2;
      ped += fam + " " + id + " " + (child ? "1 2 " : "0 0 ") + (member == 1 ? "2" : "1") + " " +
             std::to_string(1 + (t + member) % 2);
      const double extraMissing = (t % 11 == 3 && member == 0) ? 0.35 : 0;
      for (int s = 0; s < snps; ++s) {
        const double p = 0.004 + 0.5 * ((s * 37) % snps) / snps;
        const double missing = (s % 7) * 0.025 + extraMissing;
        std::string g;
        if (uniform() < missing) {
          g = "0 0";
        } else if (s % 9 == 0) {  // no heterozygotes at all
          g = uniform() < 0.5 ? "A A" : "G G";
        } else if (s % 9 == 4 && child) {  // only the children are all heterozygous
          g = "A G";
        } else {
          const int copies = (uniform() < p) + (uniform() < p);
          g = copies == 0 ? "A A" : copies == 1 ? "A G" : "G G";
        }
        ped += " " + g;
      }
      ped += "\n";
    }
  }
  dir.write(prefix + ".map", map);
  dir.write(prefix + ".ped", ped);
}

std::set<std::string> firstColumns(const std::string& text, int columns) {
  std::set<std::string> keys;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string a, b;
    fields >> a >> b;
    if (!a.empty()) keys.insert(columns == 1 ? a : a + " " + b);
  }
  return keys;
}

class QualityFilters : public ::testing::Test {
 protected:
  void SetUp() override { writeTrios(dir, "trios"); }
  // The SNPs of ombra's result with `options`.
  std::set<std::string> ombraSnps(std::vector<std::string> options) {
    options.insert(options.end(), {"--f", "trios", "--p", "2", "--out", "r.txt"});
    last = runOmbra(dir.path(), options);
    EXPECT_EQ(last.status, 0) << last.out;
    return firstColumns(dir.read("r.txt"), 1);
  }
  std::set<std::string> plinkSnps(const std::string& options) {
    const std::string command = "cd '" + dir.path() + "' && plink1.9 --file trios " + options +
                                " --allow-no-sex --write-snplist --out p >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return firstColumns(dir.read("p.snplist"), 1);
  }
  TempDir dir;
  RunResult last;
};

TEST_F(QualityFilters, SnpFiltersRemoveWhatPlinkRemoves) {
  if (!hasPlink()) GTEST_SKIP() << "plink1.9 is not installed";
  // PLINK takes allele frequencies from founders unless told --nonfounders;
  // Ombra from every loaded individual, as its missing-genotype fill does.
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--maf", "0.05"}, "--maf 0.05 --nonfounders"},
      {{"--geno", "0.08"}, "--geno 0.08"},
      {{"--hwe", "0.001"}, "--hwe 0.001 include-nonctrl"},
      {{"--geno", "0.1", "--maf", "0.1"}, "--geno 0.1 --maf 0.1 --nonfounders"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.second);
    const std::set<std::string> ours = ombraSnps(c.first);
    EXPECT_EQ(ours, plinkSnps(c.second));
    EXPECT_GT(ours.size(), 20u);
    EXPECT_LT(ours.size(), 90u);
  }
  // Together: what passes every filter (PLINK's --nonfounders would also
  // take the children into its Hardy-Weinberg test, so it runs twice).
  std::set<std::string> both;
  const std::set<std::string> founders = plinkSnps("--geno 0.1 --hwe 1e-5 include-nonctrl");
  for (const std::string& snp : plinkSnps("--maf 0.1 --nonfounders")) {
    if (founders.count(snp) != 0) both.insert(snp);
  }
  EXPECT_EQ(ombraSnps({"--geno", "0.1", "--hwe", "1e-5", "--maf", "0.1"}), both);
  // The children's excess of heterozygotes does not count: only founders do.
  const std::set<std::string> hwe = ombraSnps({"--hwe", "0.001"});
  EXPECT_EQ(hwe.count("rs4"), 1u);
  EXPECT_EQ(hwe.count("rs9"), 0u);
}

TEST_F(QualityFilters, MindRemovesWhomPlinkRemoves) {
  if (!hasPlink()) GTEST_SKIP() << "plink1.9 is not installed";
  last = runOmbra(dir.path(), {"--f", "trios", "--mind", "0.2", "--recode", "kept"});
  ASSERT_EQ(last.status, 0) << last.out;
  const std::set<std::string> ours = firstColumns(dir.read("kept.ped"), 2);
  const std::string command = "cd '" + dir.path() + "' && plink1.9 --file trios --mind 0.2 --allow-no-sex " +
                              "--make-just-fam --out p >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(ours, firstColumns(dir.read("p.fam"), 2));
  EXPECT_LT(ours.size(), 180u);
  EXPECT_NE(last.out.find("--mind 0.2: " + std::to_string(180 - ours.size()) +
                          " individuals removed (missing rate above 0.2).\n"),
            std::string::npos)
      << last.out;
  // --mind comes first: the SNP filters then count the individuals left.
  EXPECT_EQ(ombraSnps({"--mind", "0.2", "--geno", "0.08"}), plinkSnps("--mind 0.2 --geno 0.08"));
}

TEST_F(QualityFilters, FilteredSnpIsAnExcludedSnp) {
  const std::set<std::string> all = ombraSnps({});
  const std::set<std::string> kept = ombraSnps({"--maf", "0.08", "--hwe", "1e-4", "--geno", "0.12"});
  const std::string filtered = dir.read("r.txt");
  ASSERT_LT(kept.size(), all.size());
  std::string excluded;
  for (const std::string& snp : all) {
    if (kept.count(snp) == 0) excluded += snp + "\n";
  }
  const long removed = static_cast<long>(all.size() - kept.size());
  long reported = 0;
  for (const char* filter : {"--geno 0.12: ", "--hwe 1e-4: ", "--maf 0.08: "}) {
    const size_t at = last.out.find(filter);
    ASSERT_NE(at, std::string::npos) << last.out;
    reported += std::atol(last.out.c_str() + at + std::strlen(filter));
  }
  EXPECT_EQ(reported, removed);
  dir.write("excluded.txt", excluded);
  ombraSnps({"--exclude", "excluded.txt"});
  EXPECT_EQ(dir.read("r.txt"), filtered);
}

// --mind counts the missing genotypes of the selected SNPs only, so that a
// selection followed by the filters is the filters on the smaller data.
TEST_F(QualityFilters, FiltersSeeOnlyTheSelection) {
  std::string map, ped;
  std::istringstream mapIn(dir.read("trios.map")), pedIn(dir.read("trios.ped"));
  std::string line;
  while (std::getline(mapIn, line)) {
    if (line.compare(0, 2, "1 ") == 0) map += line + "\n";
  }
  while (std::getline(pedIn, line)) {
    std::istringstream fields(line);
    std::string word, out;
    for (int k = 0; k < 6 + 2 * 30 && fields >> word; ++k) out += (k == 0 ? "" : " ") + word;
    ped += out + "\n";
  }
  dir.write("chr1.map", map);
  dir.write("chr1.ped", ped);
  const std::vector<std::string> filters{"--mind", "0.15", "--geno", "0.1", "--hwe", "1e-4", "--maf", "0.05"};
  std::vector<std::string> selected{"--f", "trios", "--chr", "1", "--p", "2", "--out", "a.txt"};
  std::vector<std::string> deleted{"--f", "chr1", "--p", "2", "--out", "b.txt"};
  selected.insert(selected.end(), filters.begin(), filters.end());
  deleted.insert(deleted.end(), filters.begin(), filters.end());
  ASSERT_EQ(runOmbra(dir.path(), selected).status, 0);
  const RunResult b = runOmbra(dir.path(), deleted);
  ASSERT_EQ(b.status, 0) << b.out;
  EXPECT_NE(b.out.find("--mind 0.15: "), std::string::npos);
  EXPECT_EQ(b.out.find("--mind 0.15: 0 individuals"), std::string::npos) << b.out;
  EXPECT_EQ(dir.read("a.txt"), dir.read("b.txt"));
}

TEST_F(QualityFilters, NothingIsPrintedWithoutTheOptions) {
  ombraSnps({});
  for (const char* word : {"--maf", "--geno", "--mind", "--hwe", "selection"}) {
    EXPECT_EQ(last.out.find(word), std::string::npos) << word;
  }
}

}  // namespace
