// Mendel errors (codes, trios, PLINK 1.9's reports, --me and
// --set-me-missing against PLINK 1.9 itself) and the pedigree checks that
// stop a run on parent links no family can have.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "design/MendelErrors.h"
#include "design/PedigreeChecks.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;
using testing_support::stopOf;

namespace {

// A child's call is explained when some allele of the father and some of
// the mother make it (a missing call explains anything); a son's X call
// comes from his mother alone.
bool explained(int father, int mother, int child, bool sonOnX) {
  if (child == 3) return true;
  const auto alleles = [](int code) {
    return code == 3 ? std::vector<int>{0, 1} : code == 1 ? std::vector<int>{0, 1} : std::vector<int>{code / 2};
  };
  for (int m : alleles(mother)) {
    if (sonOnX) {
      if (child == 2 * m || child == 1) return true;
      continue;
    }
    for (int f : alleles(father)) {
      if (f + m == child) return true;
    }
  }
  return false;
}

TEST(MendelCodes, AnErrorExactlyWhenNoInheritanceExplainsTheCall) {
  for (bool son : {false, true}) {
    for (int f = 0; f < 4; ++f) {
      for (int m = 0; m < 4; ++m) {
        for (int c = 0; c < 4; ++c) {
          const int code = ombra::mendelCode(f, m, c, son);
          EXPECT_EQ(code != 0, !explained(f, m, c, son)) << f << " x " << m << " -> " << c << (son ? " son X" : "");
        }
      }
    }
  }
}

Pedigree pedigreeOf(const std::string& famId, const std::vector<std::array<const char*, 4>>& people, int& seq) {
  Pedigree pedigree;
  pedigree.famId = famId;
  for (const auto& person : people) {
    Individual individual;
    individual.indId = person[0];
    individual.fatherId = person[1];
    individual.motherId = person[2];
    individual.sex = sexOfField(person[3]);
    individual.seq = seq++;
    pedigree.members.push_back(individual);
  }
  return pedigree;
}

TEST(MendelTrios, ChildrenWithAParentInTheSetInPlinkOrder) {
  DataSet family(SetKind::kFamily);
  int seq = 0;
  // A second wife's child listed before the first wife's children, a child
  // whose mother is not in the set (a duo), one with neither parent (no
  // trio), and a child of the next generation.
  family.pedigrees.push_back(pedigreeOf("A", {{"dad", "0", "0", "1"},
                                              {"k3", "dad", "wife2", "2"},
                                              {"mom", "0", "0", "2"},
                                              {"k1", "dad", "mom", "1"},
                                              {"wife2", "0", "0", "2"},
                                              {"k2", "dad", "mom", "2"},
                                              {"k4", "dad", "gone", "1"},
                                              {"k5", "lost", "gone", "1"},
                                              {"g1", "k1", "k3", "1"}},
                                        seq));
  family.pedigrees.push_back(pedigreeOf("B", {{"x", "0", "dad", "1"}, {"dad", "0", "0", "1"}}, seq));
  family.rows.resize(static_cast<size_t>(seq));
  const ombra::Trios found = ombra::findTrios(family);
  std::vector<std::string> children, parents;
  for (const ombra::Trio& trio : found.trios) {
    const ombra::NuclearFamily& f = found.families[trio.family];
    children.push_back(*f.famId + "/" + trio.child->indId);
    parents.push_back((f.father ? f.father->indId : "0") + "+" + (f.mother ? f.mother->indId : "0"));
  }
  EXPECT_EQ(children, (std::vector<std::string>{"A/k3", "A/k1", "A/k2", "A/k4", "A/g1", "B/x"}));
  EXPECT_EQ(parents, (std::vector<std::string>{"dad+wife2", "dad+mom", "dad+mom", "dad+0", "k1+k3", "0+dad"}));
  ASSERT_EQ(found.families.size(), 5u);
  EXPECT_EQ(found.families[1].children, 2u);
}

TEST(MendelExclusions, BoundsAsPlinkRoundsThem) {
  // --me 0.29 1 on 100 SNPs and 2 trios: a child with 29 errors stays (0.29
  // x 100 is 28.999999999999996 in doubles; PLINK's margin makes it 29), one
  // with 30 leaves with both parents; a SNP with errors in both children
  // stays, one with 3 leaves.
  DataSet family(SetKind::kFamily);
  int seq = 0;
  family.pedigrees.push_back(pedigreeOf(
      "A", {{"dad", "0", "0", "1"}, {"mom", "0", "0", "2"}, {"k1", "dad", "mom", "1"}, {"k2", "dad", "mom", "2"}},
      seq));
  family.rows.resize(static_cast<size_t>(seq));
  const ombra::Trios trios = ombra::findTrios(family);
  ombra::MendelScan scan;
  scan.snpsChecked = 100;
  scan.perTrio = {29, 30};
  scan.perSnp = {2, 3, 0};
  const ombra::MendelExclusions out = ombra::mendelExclusions(family, trios, scan, 0.29, 1);
  EXPECT_EQ(out.snpOut, (std::vector<char>{0, 1, 0}));
  EXPECT_EQ(out.individualOut, (std::vector<char>{1, 1, 0, 1}));
  EXPECT_EQ(out.individuals, 3);
}

bool hasPlink() { return std::system("command -v plink1.9 >/dev/null 2>&1") == 0; }

// Families of two to four children, a duo, three generations, SNPs on
// chromosomes 1, 2, X and 3, missing calls and planted errors; written as
// text and turned into a PLINK fileset by PLINK itself, so that both
// programs read the same alleles in the same order.
void writePedigrees(const TempDir& dir) {
  unsigned state = 2024;
  const auto next = [&](unsigned n) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % n;
  };
  // More SNPs than one window of a streamed test holds.
  const int snps = 600;
  const auto chromosome = [](int s) { return s < 240 ? "1" : s < 450 ? "2" : s < 540 ? "X" : "3"; };
  std::string map;
  for (int s = 0; s < snps; ++s) {
    map += std::string(chromosome(s)) + " rs" + std::to_string(s) + " 0 " + std::to_string(1000 + 10 * s) + "\n";
  }
  const auto founder = [&](bool male) {
    std::vector<int> g(snps);
    for (int s = 0; s < snps; ++s) {
      g[s] = next(20) == 0 ? 3 : static_cast<int>(next(3));
      if (male && chromosome(s)[0] == 'X' && g[s] == 1) g[s] = 2;
    }
    return g;
  };
  const auto childOf = [&](const std::vector<int>& f, const std::vector<int>& m, bool male) {
    std::vector<int> g(snps);
    for (int s = 0; s < snps; ++s) {
      const auto allele = [&](int code) { return code == 3 ? static_cast<int>(next(2)) : code == 1 ? static_cast<int>(next(2)) : code / 2; };
      const int fromMother = allele(m[s]);
      g[s] = chromosome(s)[0] == 'X' && male ? 2 * fromMother : allele(f[s]) + fromMother;
      if (next(25) == 0) g[s] = static_cast<int>(next(3));  // a planted error (or not)
      if (next(30) == 0) g[s] = 3;
    }
    return g;
  };
  std::string ped;
  const auto line = [&](const std::string& fid, const std::string& id, const std::string& father,
                        const std::string& mother, bool male, const std::vector<int>& g) {
    ped += fid + " " + id + " " + father + " " + mother + (male ? " 1 " : " 2 ") + std::to_string(1 + next(2));
    for (int code : g) ped += code == 3 ? " 0 0" : code == 0 ? " A A" : code == 1 ? " A C" : " C C";
    ped += "\n";
  };
  for (int f = 0; f < 12; ++f) {
    const std::string fid = f % 3 ? "FAMILY" + std::to_string(f) : "F" + std::to_string(f);
    const std::vector<int> dad = founder(true), mom = founder(false);
    line(fid, "dad", "0", "0", true, dad);
    line(fid, "mom", "0", "0", false, mom);
    std::vector<int> first;
    for (int c = 0; c < 1 + f % 4; ++c) {
      const bool male = next(2) == 0;
      const std::vector<int> g = childOf(dad, mom, male);
      if (c == 0) first = g;
      line(fid, "kid" + std::to_string(c), "dad", "mom", male, g);
    }
    if (f == 4) line(fid, "halfsib", "dad", "absentmom", false, childOf(dad, founder(false), false));
    if (f == 5) {
      const std::vector<int> spouse = founder(true);
      line(fid, "spouse", "0", "0", true, spouse);
      line(fid, "grandkid", "spouse", "kid0", false, childOf(spouse, first, false));
    }
  }
  dir.write("t.map", map);
  dir.write("t.ped", ped);
}

class MendelPeers : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!hasPlink()) GTEST_SKIP() << "plink1.9 is not installed";
    writePedigrees(dir);
    ASSERT_EQ(plink("--file t --make-bed --out t"), 0) << dir.read("t.log");
  }
  // Every child with a parent in the set is checked: PLINK's --mendel-duos.
  int plink(const std::string& options) {
    const bool checks = options.find("--me") != std::string::npos || options.find("--set-me") != std::string::npos;
    const std::string command = "cd '" + dir.path() + "' && plink1.9 " + options + " --keep-allele-order" +
                                (checks ? " --mendel-duos" : "") + " --allow-no-sex >/dev/null 2>&1";
    return std::system(command.c_str());
  }
  // Ombra's result file with `options` on fileset `prefix`.
  std::string ombra(const std::string& prefix, std::vector<std::string> options) {
    options.insert(options.end(), {"--bf", prefix, "--p", "2"});
    return testing_support::resultOf(dir, options, prefix + ".result.txt");
  }
  TempDir dir;
};

TEST_F(MendelPeers, ReportsAreThoseOfPlink) {
  ASSERT_EQ(plink("--bfile t --mendel --out p"), 0);
  const RunResult run = runOmbra(dir.path(), {"--bf", "t", "--p", "2", "--mendel", "o", "--out", "r.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  for (const char* extension : {".mendel", ".lmendel", ".fmendel"}) {
    EXPECT_EQ(dir.read(std::string("o") + extension), dir.read(std::string("p") + extension)) << extension;
  }
  // The fixture's planted errors, some of them on X.
  const std::string errors = dir.read("o.mendel");
  EXPECT_GT(std::count(errors.begin(), errors.end(), '\n'), 20);
  EXPECT_NE(errors.find("  23 "), std::string::npos);
}

TEST_F(MendelPeers, SettingMissingAndLeavingOutAsPlinkDoes) {
  // Each: PLINK's options writing the fileset, Ombra's on the original.
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"--set-me-missing", {"--set-me-missing"}},
      {"--me 0.1 0.1", {"--me", "0.1", "0.1"}},
      {"--me 0.05 0.1 --set-me-missing", {"--me", "0.05", "0.1", "--set-me-missing"}},
      {"--me 0.03 0.05", {"--me", "0.03", "0.05"}},
  };
  for (const auto& [plinkOptions, ombraOptions] : cases) {
    ASSERT_EQ(plink("--bfile t " + plinkOptions + " --make-bed --out s"), 0) << plinkOptions;
    EXPECT_EQ(ombra("t", ombraOptions), ombra("s", {})) << plinkOptions;
  }
}

// The first line of `text` that starts with `start`.
std::string lineStarting(const std::string& text, const std::string& start) {
  const size_t at = text.find(start);
  return at == std::string::npos ? std::string() : text.substr(at, text.find('\n', at) - at);
}

TEST_F(MendelPeers, ACountInTheLogAloneWithoutTheOptions) {
  // A loaded run (asked for the report) prints the count; a streamed run
  // of one block a window, without the options, counts the same in its log
  // and keeps its standard output.
  const RunResult loaded = runOmbra(dir.path(), {"--bf", "t", "--p", "2", "--mendel", "o", "--out", "a.txt"});
  setenv("OMBRA_STREAM_BLOCKS", "1", 1);
  const RunResult streamed = runOmbra(dir.path(), {"--bf", "t", "--p", "2", "--out", "r.txt"});
  unsetenv("OMBRA_STREAM_BLOCKS");
  ASSERT_EQ(streamed.status, 0) << streamed.out;
  EXPECT_EQ(streamed.out.find("Mendel"), std::string::npos) << streamed.out;
  const std::string count = lineStarting(loaded.out, "Mendel errors: ");
  EXPECT_NE(count.find(" at 600 snps; the most at snps "), std::string::npos) << count;
  EXPECT_EQ(lineStarting(dir.read("r.log"), "Mendel errors: "), count);
}

TEST(PedigreeChecks, ImpossibleLinksStopTheRun) {
  const std::vector<std::pair<std::vector<std::array<const char*, 4>>, const char*>> cases = {
      {{{"a", "a", "0", "1"}}, "its own father"},
      {{{"m", "0", "0", "2"}, {"a", "0", "a", "1"}}, "its own mother"},
      {{{"p", "0", "0", "1"}, {"a", "p", "p", "1"}}, "both father and mother"},
      {{{"a", "b", "0", "1"}, {"b", "a", "0", "1"}}, "cycle"},
      {{{"a", "0", "c", "2"}, {"b", "0", "a", "2"}, {"c", "0", "b", "2"}, {"d", "c", "0", "1"}}, "cycle"},
  };
  for (const auto& [people, expected] : cases) {
    DataSet family(SetKind::kFamily);
    int seq = 0;
    family.pedigrees.push_back(pedigreeOf("OK", {{"f", "0", "0", "1"}, {"c", "f", "0", "2"}}, seq));
    family.pedigrees.push_back(pedigreeOf("BAD", people, seq));
    const testing_support::StopShown stop = stopOf([&] { ombra::checkPedigrees(family); });
    EXPECT_EQ(stop.status, 1) << expected;
    EXPECT_NE(stop.out.find(expected), std::string::npos) << stop.out;
    EXPECT_NE(stop.out.find("BAD"), std::string::npos) << stop.out;
  }
}

TEST(PedigreeChecks, ParentsOfTheOtherSexAreCountedAndTheRunGoesOn) {
  DataSet family(SetKind::kFamily);
  int seq = 0;
  family.pedigrees.push_back(pedigreeOf(
      "A", {{"f", "0", "0", "2"}, {"m", "0", "0", "1"}, {"c1", "f", "m", "1"}, {"c2", "f", "m", "2"}}, seq));
  family.pedigrees.push_back(pedigreeOf("B", {{"f", "0", "0", "2"}, {"c", "f", "absent", "1"}}, seq));
  const testing_support::StopShown shown = stopOf([&] { ombra::checkPedigrees(family); });
  EXPECT_EQ(shown.status, -1);
  EXPECT_NE(shown.out.find("2 fathers are female and 1 mother is male"), std::string::npos) << shown.out;
}

TEST(MendelOptions, RatesOutOfRangeOrMissingStop) {
  TempDir dir;
  for (const std::vector<std::string>& me : {std::vector<std::string>{"--me", "2", "0.1"},
                                             std::vector<std::string>{"--me", "0.1", "x"},
                                             std::vector<std::string>{"--me", "0.1"}}) {
    std::vector<std::string> args{"--f", "absent", "--out", "r.txt"};
    args.insert(args.end(), me.begin(), me.end());
    const RunResult run = runOmbra(dir.path(), args);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("The option --me takes two numbers"), std::string::npos) << run.out;
  }
}

TEST(PedigreeChecks, AStopWritesNothing) {
  TempDir dir;
  dir.write("f.map", "1 rs1 0 100\n1 rs2 0 200\n");
  dir.write("f.ped", "F a 0 0 1 1 A A C C\nF b 0 0 2 2 A C C C\nF c a c 1 1 A C C A\nG d 0 0 1 2 A A C C\n");
  const RunResult run = runOmbra(dir.path(), {"--f", "f", "--p", "0", "--out", "r.txt"});
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("its own mother"), std::string::npos) << run.out;
  EXPECT_FALSE(dir.exists("r.txt"));
}

}  // namespace
