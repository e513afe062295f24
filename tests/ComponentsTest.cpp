// Principal components: choice of individuals, the decomposition, the PCA
// and eigen loading files, and loading the scores back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>

#include "core/Memory.h"
#include "core/RunEnd.h"
#include "core/Text.h"
#include "SvdReference.h"
#include "LoadedSets.h"
#include "components/Components.h"
#include "core/OutputFile.h"
#include "TestSupport.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

const char* const kAlleles[] = {"A A", "A G", "G G"};

// A map of `snps` markers and pedigree lines whose genotypes come from a
// fixed-seed generator, so that every SNP varies.
std::string mapOf(int snps) {
  std::string text;
  for (int s = 0; s < snps; ++s) text += "1 rs" + std::to_string(s) + " 0 " + std::to_string(s + 1) + "\n";
  return text;
}

std::string withGenotypes(const std::string& samples, int snps, unsigned seed) {
  std::mt19937 random(seed);
  std::istringstream lines(samples);
  std::string line;
  std::string out;
  while (std::getline(lines, line)) {
    out += line;
    for (int s = 0; s < snps; ++s) out += std::string(" ") + kAlleles[random() % 3];
    out += "\n";
  }
  return out;
}

const char* const kFamilies =
    "P1 1 0 0 1 1\nP1 2 0 0 2 1\nP1 3 1 2 1 2\nP1 4 1 2 2 1\n"   // founders and their children
    "P2 5 11 12 1 1\nP2 6 11 12 2 2\nP2 7 11 12 1 1\n"           // parents absent: first child only
    "P3 8 11 12 1 1\nP3 9 11 13 2 2\n"                           // shared absent father
    "P4 10 0 x 1 1\nP4 14 0 x 2 1\n"                             // x reads as 0: founders
    "P5 20 0 0 1 1\nP5 21 20 99 1 2\nP5 22 20 99 2 1\n";         // one parent present

// The first four columns of every line of a PCA file.
std::vector<std::string> flagsOf(const std::string& pcaFile) {
  std::istringstream lines(pcaFile);
  std::vector<std::string> rows;
  std::string famId, indId, trait, flag, rest;
  while (lines >> famId >> indId >> trait >> flag) {
    std::getline(lines, rest);
    rows.push_back(famId + " " + indId + " " + trait + " " + flag);
  }
  return rows;
}

TEST(ComponentSelection, FoundersAndOneChildPerAbsentParentGroup) {
  TempDir dir;
  dir.write("f.map", mapOf(30));
  dir.write("f.ped", withGenotypes(kFamilies, 30, 1));
  dir.write("u.ped", withGenotypes("U 31 0 0 1 1\nU 32 0 0 1 2\nV 33 0 0 2 0\n", 30, 2));
  const RunResult run = runOmbra(dir.path(), {"--f", "f", "--i", "u", "--p", "2", "--op", "pca.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(flagsOf(dir.read("pca.txt")),
            (std::vector<std::string>{"P1 1 1 1", "P1 2 1 1", "P1 3 2 0", "P1 4 1 0", "P2 5 1 1", "P2 6 2 0",
                                      "P2 7 1 0", "P3 8 1 1", "P3 9 2 0", "P4 10 1 1", "P4 14 1 1", "P5 20 1 1",
                                      "P5 21 2 0", "P5 22 1 0", "U 31 1 1", "U 32 2 1", "V 33 0 1"}));
  EXPECT_EQ(run.out.find("Program is processing"), run.out.rfind("Program is processing"));
  EXPECT_EQ(run.out.find("The process has been finisned!"), std::string::npos);
  EXPECT_FALSE(dir.exists("result.txt"));
  EXPECT_TRUE(dir.exists("pca.Eigen_Loading.txt"));
}

TEST(ComponentFiles, EigenLoadingNameIsTheFileNameBeforeItsFirstDot) {
  TempDir dir;
  dir.write("u.map", mapOf(8));
  dir.write("u.ped", withGenotypes("A 1 0 0 1 1\nB 2 0 0 1 2\nC 3 0 0 1 1\nD 4 0 0 1 2\n", 8, 3));
  const std::vector<std::pair<std::string, std::string>> names = {
      {"pca.out.txt", "pca.Eigen_Loading.txt"}, {"pcafile", "pcafile.Eigen_Loading.txt"},
      {"./pca.txt", "pca.Eigen_Loading.txt"}, {"sub.v2/pca.txt", "sub.v2/pca.Eigen_Loading.txt"},
      {".hidden", ".Eigen_Loading.txt"}, {dir.file("sub.v2/abs.txt"), "sub.v2/abs.Eigen_Loading.txt"}};
  ASSERT_EQ(mkdir(dir.file("sub.v2").c_str(), 0755), 0);
  for (const auto& [pcaName, loadingName] : names) {
    const RunResult run = runOmbra(dir.path(), {"--i", "u", "--p", "2", "--op", pcaName});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(dir.exists(loadingName)) << pcaName;
    std::remove(dir.file(loadingName).c_str());
  }
  const RunResult run = runOmbra(dir.path(), {"--i", "u", "--op", "missing/pca.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("The output missing/pca.txt of --op cannot be written: its folder missing does not exist.\n"),
            std::string::npos);
}

TEST(ComponentCount, IsLoweredToWhatTheDataHold) {
  TempDir dir;
  dir.write("u.map", mapOf(20));
  dir.write("u.ped", withGenotypes("A 1 0 0 1 1\nB 2 0 0 1 2\nC 3 0 0 1 1\nD 4 0 0 1 2\nE 5 0 0 1 1\nF 6 0 0 1 1\n",
                                   20, 4));
  const RunResult run = runOmbra(dir.path(), {"--i", "u", "--op", "pca.txt"});
  EXPECT_NE(run.out.find("Calculating PCA with give snps and unrelated individuals ...\n"
                         "The maximum available principal component is 6, which smallter than setting value.\n"
                         "Set the parameter of principal component equals 6\n"),
            std::string::npos);
  // Six scores per line after the four leading fields, each followed by a tab.
  const std::string pca = dir.read("pca.txt");
  const std::string first = pca.substr(0, pca.find('\n'));
  EXPECT_EQ(std::count(first.begin(), first.end(), '\t'), 10);
}

TEST(SnpList, NamesAreWholeLinesMatchedExactly) {
  TempDir dir;
  dir.write("u.map", mapOf(6));
  dir.write("u.ped", withGenotypes("A 1 0 0 1 1\nB 2 0 0 1 2\nC 3 0 0 1 1\n", 6, 5));
  dir.write("list.txt", "rs4\n\nrs1\nrs4\nrs2\r\nrs3 \nnot-in-map");
  const RunResult run =
      runOmbra(dir.path(), {"--i", "u", "--p", "1", "--snp-list-pca", "list.txt", "--op", "p.txt"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Reading snp list file: list.txt which will be used in calculating PCA ...\n"
                         "Total 6 in the PCA snp list.\n"
                         "Total 2 will be used to calculate the PCACalculating PCA with give snps and unrelated "
                         "individuals ...\n"),
            std::string::npos);
  // Two SNPs used: the loading section has one line per SNP.
  const std::string loading = dir.read("p.Eigen_Loading.txt");
  EXPECT_EQ(std::count(loading.begin(), loading.end(), '\n'), 1 + 3 + 1 + 3 + 1 + 2);
}

TEST(SnpList, NoMatchingNameLeavesNoComponents) {
  TempDir dir;
  dir.write("u.map", mapOf(3));
  dir.write("u.ped", withGenotypes("A 1 0 0 1 1\nB 2 0 0 1 2\n", 3, 6));
  dir.write("list.txt", "rs9\n");
  RunResult run = runOmbra(dir.path(), {"--i", "u", "--snp-list-pca", "list.txt", "--op", "p.txt"});
  EXPECT_NE(run.out.find("Total 1 in the PCA snp list.\nCalculating PCA"), std::string::npos);
  EXPECT_NE(run.out.find("The maximum available principal component is 0"), std::string::npos);
  EXPECT_EQ(dir.read("p.txt"), "A\t1\t1\t1\t\nB\t2\t2\t1\t\n");
  run = runOmbra(dir.path(), {"--i", "u", "--snp-list-pca", "absent.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("File absent.txt doese not exist!\n"), std::string::npos);
}

class PcaLoading : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.write("f.map", mapOf(5));
    // Six, so that two components leave the test a degree of freedom.
    dir.write("f.ped", withGenotypes("F 1 0 0 1 1\nF 2 0 0 1 2\nG 3 0 0 2 1\nH 4 0 0 1 2\nH 5 0 0 2 1\nI 6 0 0 1 1\n",
                                     5, 7));
  }
  RunResult load(const std::string& pcaFile, const std::string& count) {
    dir.write("p.txt", pcaFile);
    return runOmbra(dir.path(), {"--f", "f", "--p", count, "--rp", "p.txt"});
  }
  static std::string tail(const RunResult& run) { return run.out.substr(run.out.find("Load calculated")); }
  TempDir dir;
};

TEST_F(PcaLoading, ReadsTabsBlanksAndSkipsEmptyLines) {
  const RunResult run = load("F\t1\t1\t1\t0.5\t1\n\nF 2  2\t 0 -0.25 2 extra\nG\t3\t1\t1\t1e-1\t3\n"
                            "H 4 1 1 0.2 0.3\nH 5 2 1 0.4 -1\nI 6 1 1 -0.3 0.7", "2");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(dir.exists("result.txt"));
}

TEST_F(PcaLoading, FailuresStopWithTheirMessages) {
  RunResult run = load("F\t1\t1\t1\t0.5\t1\t\n", "3");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(tail(run), "Load calculated PCA from file p.txt...\nThe individual F\t1 has not enought PCA are required 3\n");
  run = load("F\t1\t1\t1\t0.5\t\nH\t9\t1\t1\t0.5\t\n", "1");
  EXPECT_EQ(tail(run), "Load calculated PCA from file p.txt...\nCan not found the same individual H\t9 in the "
                       "pedigree. However, this individual is coming up in the PCA data file.\n");
  run = load("F\t1\t1\t1\t0.5\t\n", "1");
  EXPECT_EQ(tail(run), "Load calculated PCA from file p.txt...\nSome individuals do not have PCA. They are:\nF 2\nG 3\nH 4\nH 5\nI 6\n");
  EXPECT_EQ(run.status, 1);
  run = load("   \n", "0");
  EXPECT_EQ(tail(run), "Load calculated PCA from file p.txt...\nThe individual \t has not enought PCA are required 0\n");
  run = runOmbra(dir.path(), {"--f", "f", "--rp", "nope.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Open File nope.txt failed!\n"), std::string::npos);
}

TEST_F(PcaLoading, AFileSavedWithNoComponentsLoadsBack) {
  RunResult run = runOmbra(dir.path(), {"--f", "f", "--p", "0", "--op", "zero.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(dir.read("zero.txt"), "F\t1\t1\t1\t\nF\t2\t2\t1\t\nG\t3\t1\t1\t\nH\t4\t2\t1\t\nH\t5\t1\t1\t\nI\t6\t1\t1\t\n");
  run = runOmbra(dir.path(), {"--f", "f", "--p", "0", "--rp", "zero.txt"});
  EXPECT_EQ(run.status, 0) << run.out;
}

TEST_F(PcaLoading, SavedScoresReloadAndFewerMayBeAsked) {
  RunResult run = runOmbra(dir.path(), {"--f", "f", "--p", "3", "--op", "three.txt"});
  ASSERT_EQ(run.status, 0);
  run = runOmbra(dir.path(), {"--f", "f", "--p", "2", "--op", "ignored.txt", "--rp", "three.txt"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_FALSE(dir.exists("ignored.txt"));
  EXPECT_TRUE(dir.exists("result.txt"));
  run = runOmbra(dir.path(), {"--f", "f", "--rp", "three.txt"});
  EXPECT_EQ(tail(run), "Load calculated PCA from file three.txt...\nThe individual F\t1 has not enought PCA are "
                       "required 10\n");
}

// The decomposition against the plain transcription, and the scores against
// the singular vectors: a column's score k is w[k] times its V entry.
TEST(ComponentComputation, SingularValuesAndScoresMatchAnIndependentDecomposition) {
  TempDir dir;
  const int snps = 12;
  dir.write("u.map", mapOf(snps));
  dir.write("u.ped", withGenotypes("A 1 0 0 1 1\nB 2 0 0 1 2\nC 3 0 0 1 1\nD 4 0 0 1 2\nE 5 0 0 1 1\n", snps, 8));
  LoadedSets test;
  testing::internal::CaptureStdout();
  test.loader.readMapFile(dir.file("u.map"), 4);
  test.loader.readPedigree(dir.file("u.ped"), test.cohort.unrelated, false);
  test.store.computeMeanDosages(test.cohort, test.store.markers.size());
  ombra::PcaSettings settings;
  settings.count = 3;
  settings.method = ombra::PcaMethod::kExact;
  settings.eigenLoadingFile = dir.file("p.Eigen_Loading.txt");
  const ombra::ComponentScores computed = ombra::computeComponents(test.cohort, test.store, settings);
  ombra::commitOutputs();
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(computed.count, 3);
  std::vector<std::vector<double>> scores;
  for (size_t i = 0; i < 5; ++i) scores.emplace_back(computed.of(i), computed.of(i) + 3);

  // The centred genotype matrix, built here from the codes.
  std::vector<std::vector<double>> a(snps + 1, std::vector<double>(6, 0.0));
  std::vector<std::vector<double>> v(6, std::vector<double>(6, 0.0));
  std::vector<double*> aRows, vRows;
  for (auto& row : a) aRows.push_back(row.data());
  for (auto& row : v) vRows.push_back(row.data());
  for (int s = 0; s < snps; ++s) {
    double sum = 0;
    for (int j = 0; j < 5; ++j) sum += a[s + 1][j + 1] = test.store.value(test.cohort.unrelated, j, static_cast<size_t>(s));
    for (int j = 0; j < 5; ++j) a[s + 1][j + 1] -= sum / 5;
  }
  std::vector<double> w(6, 0.0);
  svdref::svdcmpReference(aRows.data(), snps, 5, w.data(), vRows.data());
  std::vector<int> order{1, 2, 3, 4, 5};
  std::sort(order.begin(), order.end(), [&](int x, int y) { return w[x] > w[y]; });

  std::istringstream loading(testing_support::readFile(dir.file("p.Eigen_Loading.txt")));
  std::string header;
  std::getline(loading, header);
  EXPECT_EQ(header, "Sum of All Eigen Value ...");
  for (int k = 0; k < 5; ++k) {
    double printed = 0;
    loading >> printed;
    EXPECT_NEAR(printed, w[order[k]], 1e-5 * w[order[0]]) << k;
  }
  for (int j = 0; j < 5; ++j) {
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(scores[j][k], w[order[k]] * v[j + 1][order[k]], 1e-9) << j << " " << k;
    }
  }
}

TEST(MemoryGuard, NamesWhatDoesNotFit) {
  const testing_support::StopShown stop =
      testing_support::stopOf([] { ombra::requireMemory(1e30, "The thing", "Use less."); });
  const std::string& out = stop.out;
  EXPECT_EQ(stop.status, 1);
  EXPECT_EQ(out.rfind("The thing needs about ", 0), 0u) << out;
  EXPECT_NE(out.find(" MB are available (memory for this run: "), std::string::npos) << out;
  EXPECT_NE(out.find("). Use less.\n"), std::string::npos) << out;
}

// The bench sizes keep the routes they had before auto weighed the costs
// (small: 400 x 20,000, medium: 2,200 x 100,000, each from half to half as
// large again), tiny sets the exact route; a cohort of 15,000 takes the
// approximate route, and so does every set whose Gram matrix does not fit.
TEST(RouteChoice, AutoWeighsTheRoutesThatFit) {
  const double plenty = 22e9;
  for (int threads : {1, 2, 8}) {
    for (double scale : {0.5, 1.0, 1.5}) {
      const int smallCols = static_cast<int>(400 * scale), mediumCols = static_cast<int>(2200 * scale);
      const ombra::RouteEstimate small = ombra::estimateRoutes(20000, smallCols, 10, threads, plenty);
      const ombra::RouteEstimate medium = ombra::estimateRoutes(100000, mediumCols, 10, threads, plenty);
      EXPECT_EQ(ombra::chooseRoute(ombra::PcaMethod::kAuto, small), ombra::PcaRoute::kGram) << scale;
      EXPECT_EQ(ombra::chooseRoute(ombra::PcaMethod::kAuto, medium), ombra::PcaRoute::kGram) << scale;
      EXPECT_EQ(ombra::routeLine(ombra::PcaMethod::kAuto, ombra::PcaRoute::kGram, medium).rfind(
                    "Components: Gram route (estimated ", 0), 0u);
    }
  }
  const ombra::RouteEstimate tiny = ombra::estimateRoutes(5000, 300, 10, 1, plenty);
  EXPECT_EQ(ombra::chooseRoute(ombra::PcaMethod::kAuto, tiny), ombra::PcaRoute::kExact);

  const ombra::RouteEstimate cohort = ombra::estimateRoutes(20000, 15000, 10, 2, plenty);
  ASSERT_TRUE(cohort.gramFits);
  EXPECT_LT(cohort.approxSeconds, cohort.gramSeconds / 2);
  EXPECT_EQ(ombra::chooseRoute(ombra::PcaMethod::kAuto, cohort), ombra::PcaRoute::kApprox);
  const std::string line = ombra::routeLine(ombra::PcaMethod::kAuto, ombra::PcaRoute::kApprox, cohort);
  EXPECT_EQ(line.rfind("Components: approximate route (estimated ", 0), 0u) << line;
  EXPECT_NE(line.find(" s for the exact route)"), std::string::npos) << line;

  // Where the Gram matrix does not fit, even a set it would do quicker goes
  // the approximate way; --pca-method always has its way.
  const ombra::RouteEstimate cramped = ombra::estimateRoutes(100000, 2200, 10, 1, 100e6);
  EXPECT_FALSE(cramped.gramFits);
  EXPECT_EQ(ombra::chooseRoute(ombra::PcaMethod::kAuto, cramped), ombra::PcaRoute::kApprox);
  EXPECT_EQ(ombra::chooseRoute(ombra::PcaMethod::kFast, cohort), ombra::PcaRoute::kGram);
  EXPECT_EQ(ombra::chooseRoute(ombra::PcaMethod::kExact, cohort), ombra::PcaRoute::kExact);
  EXPECT_EQ(ombra::chooseRoute(ombra::PcaMethod::kApprox, tiny), ombra::PcaRoute::kApprox);
  EXPECT_EQ(ombra::routeLine(ombra::PcaMethod::kFast, ombra::PcaRoute::kGram, cohort),
            "Components: Gram route (--pca-method)");
}

// The Gram route grows as C^2 to C^3, the approximate one as C: once the
// approximate route is the quicker, it stays so for every larger cohort.
TEST(RouteChoice, OnceApproximateAlwaysApproximate) {
  for (int snps : {2000, 20000, 200000}) {
    bool approximate = false;
    for (int cols = 1000; cols <= 40000; cols += 500) {
      const ombra::RouteEstimate estimate = ombra::estimateRoutes(snps, cols, 10, 2, 1e12);
      const bool now = ombra::chooseRoute(ombra::PcaMethod::kAuto, estimate) == ombra::PcaRoute::kApprox;
      EXPECT_TRUE(now || !approximate) << snps << " " << cols;
      approximate = now;
    }
    EXPECT_TRUE(approximate) << snps;
  }
}

}  // namespace
