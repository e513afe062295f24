// The options of a run as a plain value: parsing reads no file, and the
// names a run derives from them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Options.h"
#include "TestSupport.h"

namespace {

ombra::RunOptions parse(std::vector<std::string> words) {
  words.insert(words.begin(), "ombra");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  return ombra::parseOptions(static_cast<int>(argv.size()), argv.data());
}

TEST(RunOptions, ParsingReadsNoFileAndTheLastWordWins) {
  const ombra::RunOptions o = parse({"--bf", "absent/fam", "--vi", "absent/unr", "--p", "3", "--p", "4", "--threads",
                                     "2", "--out", "run/r.txt.gz", "--out-format", "tsv", "--keep", "absent.txt",
                                     "--mt", "-9", "--pca-method", "approx"});
  EXPECT_TRUE(o.family.binaryGiven && !o.family.textGiven && !o.family.vcfGiven);
  EXPECT_EQ(o.unrelated.vcf, "absent/unr");
  EXPECT_EQ(o.pcaCount, 4);
  EXPECT_EQ(o.threads, 2);
  EXPECT_EQ(o.resultFormat, ombra::ResultFormat::kTsv);
  EXPECT_EQ(o.pcaMethod, ombra::PcaMethod::kApprox);
  EXPECT_EQ(o.selection.keepFile, "absent.txt");
  EXPECT_TRUE(o.study.missingTraitGiven);
  EXPECT_EQ(o.study.missingTrait, "-9");
  EXPECT_EQ(o.resultPath(), "run/r.txt.gz");
  EXPECT_EQ(o.logPath(), "run/r.log");
  EXPECT_EQ(o.unrelated.files(), (std::vector<std::string>{"absent/unr.bcf", "absent/unr.vcf.gz", "absent/unr.vcf",
                                                            "absent/unr.fam"}));
}

TEST(RunOptions, MendelOptionsTakeNoneOneOrTwoValues) {
  const ombra::RunOptions o =
      parse({"--f", "x", "--set-me-missing", "--me", "0.05", "0.1", "--mendel", "rep", "--p", "3"});
  EXPECT_TRUE(o.mendel.setMissing && o.mendel.exclude);
  EXPECT_EQ(o.mendel.maxChildRate, 0.05);
  EXPECT_EQ(o.mendel.maxSnpRate, 0.1);
  EXPECT_EQ(o.mendel.reportPrefix, "rep");
  EXPECT_EQ(o.pcaCount, 3);
  EXPECT_EQ(o.family.text, "x");
  EXPECT_FALSE(parse({"--f", "x"}).mendel.any());
}

// An unknown word is named with the options it was likely meant to be:
// those it abbreviates, else those fewest edits away (the one it starts with
// among equals).
TEST(RunOptions, UnknownWordNamesTheNearestOptions) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"--bfile", "`--bfile`: did you mean `--bf`?\n"},
      {"--maff", "`--maff`: did you mean `--maf`?\n"},
      {"-f", "`-f`: did you mean `--f`?\n"},
      {"--outt-format", "`--outt-format`: did you mean `--out-format`?\n"},
      {"--pl", "`--pl`: did you mean `--plot` or `--plot-stat`?\n"},
      {"--remvoe", "`--remvoe`: did you mean `--remove`?\n"}};
  for (const auto& [word, hint] : cases) {
    const testing_support::StopShown stop = testing_support::stopOf([&] { parse({word, "x", "--f", "y"}); });
    EXPECT_EQ(stop.status, 1);
    EXPECT_EQ(stop.out, "Wrong option symbol!\n" + hint);
  }
}

TEST(RunOptions, ComponentsOnlyRunsLogBesideThePcaFile) {
  const ombra::RunOptions saved = parse({"--f", "x", "--op", "out/pca.txt"});
  EXPECT_TRUE(saved.componentsOnly());
  EXPECT_EQ(saved.logPath(), "out/pca.log");
  const ombra::RunOptions loaded = parse({"--f", "x", "--op", "a.txt", "--rp", "b.txt"});
  EXPECT_FALSE(loaded.componentsOnly());
  EXPECT_EQ(loaded.logPath(), "result.log");
}

}  // namespace
