// The log every run leaves beside its result: what it holds, where it goes,
// and that a failed run's log says so.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <iostream>

#include "TestSupport.h"
#include "outputs/RunLog.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

const std::string kExamples = std::string(OMBRA_SOURCE_DIR) + "/examples/";

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(RunLog, NameReplacesTheExtension) {
  EXPECT_EQ(ombra::logNameFor("result.txt"), "result.log");
  EXPECT_EQ(ombra::logNameFor("out/table.tsv.gz"), "out/table.log");
  EXPECT_EQ(ombra::logNameFor("run.v2/res"), "run.v2/res.log");
  EXPECT_EQ(ombra::logNameFor(".hidden"), ".hidden.log");
}

TEST(RunLog, HoldsTheCommandAndEverythingPrinted) {
  TempDir dir;
  const RunResult run =
      runOmbra(dir.path(), {"--f", kExamples + "family", "--i", kExamples + "unrelated", "--out", "res.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string log = dir.read("res.log");
  EXPECT_EQ(log.rfind("Ombra ", 0), 0u);
  EXPECT_NE(log.find("\nCommand: "), std::string::npos);
  EXPECT_NE(log.find(" --f " + kExamples + "family --i " + kExamples + "unrelated --out res.txt\nStart: "),
            std::string::npos);
  EXPECT_NE(log.find("\n\n" + run.out + "\nEnd: "), std::string::npos);
  EXPECT_TRUE(endsWith(log, " UTC (exit status 0)\n")) << log;
  EXPECT_FALSE(dir.exists("result.log"));
}

// A fact noted in the middle of a run (the components' route) joins the
// facts at the head of the log, so that what the run printed stays whole.
TEST(RunLog, FactsNotedLaterJoinTheHead) {
  TempDir dir;
  char program[] = "ombra";
  char* argv[] = {program};
  testing::internal::CaptureStdout();
  ombra::startRunLog(dir.file("run.log"), 1, argv);
  ombra::noteRunFact("Memory: plenty\n");
  std::cout << "first line\n";
  ombra::noteRunFact("Components: Gram route (--pca-method)\n");
  std::cout << "second line\n";
  EXPECT_EQ(ombra::finishRunLog(0), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "first line\nsecond line\n");
  const std::string log = dir.read("run.log");
  EXPECT_NE(log.find("\n\nMemory: plenty\nComponents: Gram route (--pca-method)\n\nfirst line\nsecond line\n\nEnd: "),
            std::string::npos)
      << log;
}

TEST(RunLog, AFailedRunLeavesALogThatSaysSo) {
  TempDir dir;
  const RunResult run = runOmbra(dir.path(), {"--f", "absent", "--p", "2"});
  ASSERT_EQ(run.status, 1);
  const std::string log = dir.read("result.log");
  EXPECT_NE(log.find(run.out + "\nEnd: "), std::string::npos) << log;
  EXPECT_TRUE(endsWith(log, " UTC (exit status 1)\n")) << log;
  EXPECT_EQ(log.find("finisned"), std::string::npos);
}

TEST(RunLog, ComponentsOnlyRunLogsBesideThePcaFile) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.file("pcs").c_str(), 0755), 0);
  const RunResult run = runOmbra(dir.path(), {"--f", kExamples + "family", "--op", "pcs/scores.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(dir.exists("pcs/scores.log"));
  EXPECT_FALSE(dir.exists("result.log"));
}

TEST(RunLog, ALogThatCannotBeWrittenFailsTheRun) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.file("res.log").c_str(), 0755), 0);  // a folder where the log should go
  const RunResult run =
      runOmbra(dir.path(), {"--f", kExamples + "family", "--i", kExamples + "unrelated", "--out", "res.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Write File res.log failed! Is a directory\n"), std::string::npos) << run.out;
}

// Standard output that cannot be written (a full device) fails a run that
// otherwise succeeds; its log and standard error say why.
TEST(RunLog, AFailedStandardOutputFailsTheRun) {
  TempDir dir;
  const std::string command = "cd " + dir.path() + " && " + OMBRA_BINARY + " --f " + kExamples + "family --i " +
                              kExamples + "unrelated --out res.txt > /dev/full 2> err.txt";
  const int raw = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 1);
  const std::string reason = "Standard output could not be written: No space left on device\n";
  EXPECT_EQ(dir.read("err.txt"), reason);
  const std::string log = dir.read("res.log");
  EXPECT_NE(log.find("The process has been finisned!\n"), std::string::npos) << log;
  EXPECT_NE(log.find(reason + "\nEnd: "), std::string::npos) << log;
  EXPECT_TRUE(endsWith(log, " UTC (exit status 1)\n")) << log;
}

}  // namespace
