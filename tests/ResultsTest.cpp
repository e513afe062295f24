// What a run gives people besides the statistics: help and version texts,
// the tab-separated (and gzip-compressed) result table, and the genomic
// control report.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <algorithm>
#include <set>
#include <sstream>

#include "TestSupport.h"
#include "outputs/ResultTable.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

const std::string kExamples = std::string(OMBRA_SOURCE_DIR) + "/examples/";

// The option words the program accepts, as its sources list them: the run's
// own table and the selections'.
std::set<std::string> acceptedOptions() {
  std::set<std::string> words;
  for (const auto& [file, table] : {std::pair<const char*, const char*>{"/src/app/Options.cpp", "kWords[] = {"},
                                    std::pair<const char*, const char*>{"/src/design/Selection.cpp",
                                                                        "kOptionWords[] = {"}}) {
    const std::string source = testing_support::readFile(std::string(OMBRA_SOURCE_DIR) + file);
    const size_t begin = source.find(table);
    const size_t end = source.find("};", begin);
    for (size_t at = source.find("\"--", begin); at < end; at = source.find("\"--", at + 1)) {
      words.insert(source.substr(at + 1, source.find('"', at + 1) - at - 1));
    }
  }
  return words;
}

// The option words the help text lists: the first word of its lines that
// start with two blanks and "--".
std::set<std::string> listedOptions(const std::string& help) {
  std::set<std::string> words;
  std::istringstream in(help);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("  --", 0) == 0) words.insert(line.substr(2, line.find(' ', 2) - 2));
  }
  return words;
}

TEST(Help, ListsEveryOptionAndOnlyThem) {
  TempDir dir;
  for (const char* word : {"--help", "-h"}) {
    const RunResult run = runOmbra(dir.path(), {word});
    EXPECT_EQ(run.status, 0);
    const std::set<std::string> accepted = acceptedOptions();
    ASSERT_GT(accepted.size(), 20u);
    EXPECT_EQ(listedOptions(run.out), accepted);
  }
  // Also after other options; nothing is read.
  const RunResult late = runOmbra(dir.path(), {"--f", "missing", "--help", "x"});
  EXPECT_EQ(late.status, 0);
  EXPECT_EQ(late.out.find("Reading"), std::string::npos);
}

TEST(Help, VersionNamesTheProjectVersion) {
  TempDir dir;
  const RunResult run = runOmbra(dir.path(), {"--version"});
  EXPECT_EQ(run.status, 0);
  std::istringstream words(run.out);
  std::string name, version;
  words >> name >> version;
  EXPECT_EQ(name, "Ombra");
  EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 2) << run.out;
  EXPECT_EQ(run.out.back(), '\n');
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1);
}

std::string gunzip(const std::string& path) {
  gzFile file = gzopen(path.c_str(), "rb");
  std::string out;
  char buffer[65536];
  int got = 0;
  while (file != nullptr && (got = gzread(file, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(got));
  if (file != nullptr) gzclose(file);
  return out;
}

std::vector<std::vector<std::string>> rows(const std::string& text, char separator) {
  std::vector<std::vector<std::string>> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    if (separator == '\t') {
      std::istringstream cells(line);
      std::string cell;
      while (std::getline(cells, cell, '\t')) fields.push_back(cell);
    } else {
      std::istringstream cells(line);
      std::string cell;
      while (cells >> cell) fields.push_back(cell);
    }
    out.push_back(fields);
  }
  return out;
}

// --model lmm appends its four columns to both layouts and leaves every
// other byte of the lines as they were; it says what it fitted.
TEST(ResultTable, MixedModelAppendsItsColumns) {
  TempDir dir;
  const std::vector<std::string> data{"--f", kExamples + "family", "--i", kExamples + "unrelated", "--p", "3"};
  auto run = [&](std::vector<std::string> extra) {
    extra.insert(extra.begin(), data.begin(), data.end());
    const RunResult result = runOmbra(dir.path(), extra);
    EXPECT_EQ(result.status, 0) << result.out;
    return result.out;
  };
  EXPECT_EQ(run({"--out", "plain.txt"}).find("Mixed model"), std::string::npos);
  const std::string said = run({"--out", "lmm.txt", "--model", "lmm"});
  EXPECT_NE(said.find("Mixed model with the pedigrees' kinship: h2 = "), std::string::npos) << said;
  EXPECT_NE(said.find(", LMM "), std::string::npos) << said;
  run({"--out", "plain.tsv", "--out-format", "tsv"});
  run({"--out", "lmm.tsv", "--out-format", "tsv", "--model", "lmm"});
  auto lines = [](const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  };
  const auto plainLines = lines(dir.read("plain.txt"));
  const auto lmmLines = lines(dir.read("lmm.txt"));
  ASSERT_EQ(plainLines.size(), lmmLines.size());
  for (size_t i = 0; i < plainLines.size(); ++i) {
    ASSERT_EQ(lmmLines[i].substr(0, plainLines[i].size()), plainLines[i]);
    EXPECT_EQ(lmmLines[i].size(), plainLines[i].size() + 65) << lmmLines[i];
  }
  const auto plainTable = rows(dir.read("plain.tsv"), '\t');
  const auto lmmTable = rows(dir.read("lmm.tsv"), '\t');
  ASSERT_EQ(plainTable.size(), lmmTable.size());
  EXPECT_EQ(lmmTable[0].size(), 28u);
  EXPECT_EQ(lmmTable[0][20], "BETA_LMM");
  EXPECT_EQ(lmmTable[0][23], "P_LMM");
  EXPECT_EQ(lmmTable[0][24], "LOG10P_LMM");
  for (size_t i = 0; i < plainTable.size(); ++i) {
    ASSERT_EQ(lmmTable[i].size(), 28u);
    EXPECT_EQ(std::vector<std::string>(lmmTable[i].begin(), lmmTable[i].begin() + 20),
              std::vector<std::string>(plainTable[i].begin(), plainTable[i].begin() + 20));
    // NOTE EFFECT_ALLELE N_CALLED, last
    EXPECT_EQ(std::vector<std::string>(lmmTable[i].begin() + 25, lmmTable[i].end()),
              std::vector<std::string>(plainTable[i].begin() + 20, plainTable[i].end()));
  }
  // Options the mixed model takes only with --model lmm, or not at all.
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{"--lmm-h2", "0.5"}, {"--plot-stat", "lmm"}, {"--model", "lmm", "--lmm-h2", "1.5"},
        {"--model", "glm"}, {"--model", "lmm", "--adjustment", "legacy"}}) {
    std::vector<std::string> args = data;
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult bad = runOmbra(dir.path(), args);
    EXPECT_EQ(bad.status, 1) << extra[0];
    EXPECT_NE(bad.out.find("--"), std::string::npos) << bad.out;
  }
}

TEST(ResultTable, TsvHoldsTheFixedLayoutsNumbersWithAHeader) {
  TempDir dir;
  const std::vector<std::string> data{"--f", kExamples + "family", "--i", kExamples + "unrelated"};
  auto run = [&](std::vector<std::string> extra) {
    extra.insert(extra.begin(), data.begin(), data.end());
    const RunResult result = runOmbra(dir.path(), extra);
    EXPECT_EQ(result.status, 0) << result.out;
  };
  run({"--out", "fixed.txt"});
  run({"--out", "fixed.txt.gz"});
  run({"--out", "table.tsv", "--out-format", "tsv"});
  run({"--out", "table.tsv.gz", "--out-format", "tsv"});
  run({"--out", "legacy.tsv", "--out-format", "tsv", "--adjustment", "legacy"});
  const std::string tsv = dir.read("table.tsv");
  EXPECT_EQ(gunzip(dir.file("table.tsv.gz")), tsv);
  EXPECT_NE(dir.read("table.tsv.gz"), tsv);
  // The fixed layout under a .gz name is compressed alike.
  EXPECT_EQ(gunzip(dir.file("fixed.txt.gz")), dir.read("fixed.txt"));
  EXPECT_EQ(dir.read("fixed.txt.gz").substr(0, 2), "\x1f\x8b");

  const auto table = rows(tsv, '\t');
  const auto fixed = rows(dir.read("fixed.txt"), ' ');
  ASSERT_EQ(table.size(), fixed.size() + 1);
  EXPECT_EQ(tsv.substr(0, tsv.find('\n') + 1),
            "CHR\tBP\tSNP\tA1\tA2\tFREQ1\tFREQ2\tN\tSTAT_SS\tP_SS\tLOG10P_SS\tSTAT_T\tP_T\tLOG10P_T\tSTAT_T1\tP_T1\t"
            "LOG10P_T1\tBETA\tSE\tINFO\tNOTE\tEFFECT_ALLELE\tN_CALLED\n");
  const auto map = rows(testing_support::readFile(kExamples + "family.map"), ' ');
  const auto legacy = rows(dir.read("legacy.tsv"), '\t');  // the one-SNP route
  size_t called = 0;
  for (size_t i = 0; i < fixed.size(); ++i) {
    const auto& t = table[i + 1];
    EXPECT_EQ(legacy[i + 1][22], t[22]);
    ASSERT_EQ(t.size(), 23u);
    EXPECT_EQ(t[19], "1");  // hard calls
    EXPECT_EQ(t[0], map[i][0]);
    EXPECT_EQ(t[1], map[i][3]);
    EXPECT_EQ(t[2], fixed[i][0]);
    EXPECT_EQ(t[7], "388");  // individuals with a trait
    // The numbers agree to the fixed layout's printed digits.
    const size_t offset = fixed[i].size() - 8;
    for (int k = 0; k < 8; ++k) {
      const double a = std::strtod(fixed[i][offset + k].c_str(), nullptr);
      const size_t column = k < 2 ? 5 + k : 8 + (k - 2) / 2 * 3 + (k - 2) % 2;  // FREQ1 FREQ2, STAT P per statistic
      const double b = std::strtod(t[column].c_str(), nullptr);
      EXPECT_NEAR(a, b, 1e-6 * std::max(1.0, std::fabs(a))) << "line " << i << " number " << k;
    }
    for (size_t column : {10, 13, 16}) {  // LOG10P beside its P
      const double p = std::strtod(t[column - 1].c_str(), nullptr);
      EXPECT_NEAR(std::strtod(t[column].c_str(), nullptr), -std::log10(p), 1e-6) << "line " << i;
    }
    EXPECT_EQ(t[20], t[8] == "0" ? "monomorphic" : "NA");
    EXPECT_EQ(t[21], t[4]);  // the effects count A2
    EXPECT_LE(std::stoul(t[22]), 388u);
    called += std::stoul(t[22]);
  }
  // About 1 in 100 of the example's calls are missing.
  EXPECT_LT(called, 388 * fixed.size());
  EXPECT_GT(called, 388 * fixed.size() * 97 / 100);
  const RunResult bad = runOmbra(dir.path(), {"--f", "x", "--out-format", "csv"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "The option --out-format takes fixed, tsv or ssf.\n");
}

TEST(GenomicControl, MedianOverTheNullMedianOfFiniteStatistics) {
  EXPECT_NEAR(ombra::genomicInflation({0.4549364}), 1.0, 1e-12);
  EXPECT_NEAR(ombra::genomicInflation({3, 1, 2}), 2 / 0.4549364, 1e-12);
  EXPECT_NEAR(ombra::genomicInflation({4, 1, 2, 3}), 2.5 / 0.4549364, 1e-12);
  EXPECT_NEAR(ombra::genomicInflation({NAN, 1, INFINITY, 3}), 2 / 0.4549364, 1e-12);
  EXPECT_TRUE(std::isnan(ombra::genomicInflation({})));
}

TEST(GenomicControl, EveryTestRunReportsItAtTheEnd) {
  TempDir dir;
  const RunResult run = runOmbra(dir.path(), {"--f", kExamples + "family", "--i", kExamples + "unrelated"});
  ASSERT_EQ(run.status, 0);
  const size_t report = run.out.find("Genomic inflation (median statistic / 0.4549364) over the 298 tested snps: SS ");
  ASSERT_NE(report, std::string::npos) << run.out;
  const std::string tail = run.out.substr(report);
  EXPECT_NE(tail.find(", T "), std::string::npos);
  EXPECT_NE(tail.find(", T1 "), std::string::npos);
  const size_t hits = tail.find("\nSnps with p < 5e-8: SS ");
  ASSERT_NE(hits, std::string::npos);
  EXPECT_EQ(std::count(tail.begin(), tail.end(), '\n'), 2) << "the report ends the output";
}

}  // namespace

namespace {

TEST(Plots, RunWritesTheChosenPanels) {
  TempDir dir;
  const std::vector<std::string> data{"--f", kExamples + "family", "--i", kExamples + "unrelated"};
  std::vector<std::string> args = data;
  args.insert(args.end(), {"--plot", "ex", "--plot-stat", "all"});
  const RunResult run = runOmbra(dir.path(), args);
  ASSERT_EQ(run.status, 0) << run.out;
  for (const char* file : {"ex.manhattan.svg", "ex.qq.svg"}) {
    const std::string svg = dir.read(file);
    EXPECT_EQ(svg.rfind("<", 0), 0u);
    for (const char* statistic : {"\"SS\"", "\"T\"", "\"T1\""}) {
      EXPECT_NE(svg.find(std::string("data-statistic=") + statistic), std::string::npos) << file << statistic;
    }
  }
  args = data;
  args.insert(args.end(), {"--plot", "one"});
  ASSERT_EQ(runOmbra(dir.path(), args).status, 0);
  EXPECT_EQ(dir.read("one.qq.svg").find("data-statistic=\"T\""), std::string::npos);
  const RunResult bad = runOmbra(dir.path(), {"--f", "x", "--plot-stat", "p"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "The option --plot-stat takes ss, t, t1, lmm or all.\n");
}

// Progress goes to standard error only when it is a terminal: under a
// pseudo-terminal (script) it shows, in a pipe nothing appears.
TEST(Progress, ShowsOnATerminalOnly) {
  TempDir dir;
  const std::string command = std::string(OMBRA_BINARY) + " --f " + kExamples + "family --i " + kExamples +
                              "unrelated --pca-method fast 2>&1 >/dev/null";
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "script (util-linux) is not installed";
  const std::string capture = dir.file("terminal.txt");
  const std::string run = "cd " + dir.path() + " && script -qfc '" + command + "' /dev/null > " + capture;
  ASSERT_EQ(std::system(run.c_str()), 0);
  const std::string shown = testing_support::readFile(capture);
  EXPECT_NE(shown.find("Components:"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Testing snps:"), std::string::npos) << shown;

  const RunResult piped = runOmbra(dir.path(), {"--f", kExamples + "family", "--i", kExamples + "unrelated"});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err, "");
}

}  // namespace
