// The threaded steps (the components and the per-SNP test on blocks of
// SNPs) give the same files at every thread count.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "TestSupport.h"
#include "core/RunEnd.h"
#include "core/ResourceLimits.h"
#include "numerics/MatrixTeam.h"
#include "numerics/Threads.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

TEST(Threads, ResultFilesAreTheSameAtEveryThreadCount) {
  TempDir dir;
  const std::string examples = std::string(OMBRA_SOURCE_DIR) + "/examples/";
  std::string first;
  for (const char* threads : {"1", "2", "3", "8", "12"}) {
    SCOPED_TRACE(std::string("threads ") + threads);
    // The Gram route, so that its kernels run threaded too.
    const RunResult run = runOmbra(dir.path(), {"--f", examples + "family", "--i", examples + "unrelated",
                                                "--pca-method", "fast", "--op", "pca.txt", "--threads", threads});
    ASSERT_EQ(run.status, 0) << run.out;
    const RunResult test = runOmbra(dir.path(), {"--f", examples + "family", "--i", examples + "unrelated",
                                                 "--rp", "pca.txt", "--threads", threads});
    ASSERT_EQ(test.status, 0) << test.out;
    const std::string files = dir.read("pca.txt") + dir.read("pca.Eigen_Loading.txt") + dir.read("result.txt");
    if (first.empty()) first = files;
    EXPECT_EQ(files, first);
  }
}

TEST(Threads, CountMustBeAPositiveWholeNumber) {
  TempDir dir;
  for (const char* value : {"0", "-2", "two", "2x", "", "99999999999"}) {
    SCOPED_TRACE(value);
    const RunResult run = runOmbra(dir.path(), {"--f", "x", "--threads", value});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "The number of threads (--threads) must be a whole number of at least 1.\n");
  }
}

// The count is what was asked for, above the CPUs and above 8 alike:
// --threads, else OMBRA_THREADS, else the CPUs the process may use.
TEST(Threads, TheCountAskedForIsTheCountUsed) {
  unsetenv("OMBRA_THREADS");
  EXPECT_EQ(ombra::threadLine(ombra::chooseThreads(12)), "Threads for this run: 12 threads (--threads)\n");
  EXPECT_EQ(ombra::threadLine(ombra::chooseThreads(1)), "Threads for this run: 1 thread (--threads)\n");
  const ombra::ThreadChoice cpus = ombra::chooseThreads(0);
  EXPECT_EQ(cpus.count, ombra::usableCpus());
  EXPECT_EQ(std::string(cpus.source), "the CPUs this process may use");
  setenv("OMBRA_THREADS", "40", 1);
  EXPECT_EQ(ombra::threadLine(ombra::chooseThreads(0)), "Threads for this run: 40 threads (OMBRA_THREADS)\n");
  EXPECT_EQ(ombra::chooseThreads(3).count, 3);
  setenv("OMBRA_THREADS", "4x", 1);
  EXPECT_EQ(ombra::chooseThreads(0).count, cpus.count);
  unsetenv("OMBRA_THREADS");
}

// A stop (or any exception) in a unit a helper thread runs reaches the
// thread that asked for the work, once every unit is done, and the team
// goes on serving later work.
TEST(Threads, AStopInATeamsUnitReachesTheCaller) {
  matrixsvd::Team team(4);
  ASSERT_GT(team.size(), 1);
  // The calling thread's units, and then a helper's: each unit takes a
  // little while, so that the helpers take some of them.
  for (bool onHelper : {false, true}) {
    std::atomic<int> ran{0};
    try {
      team.forEach(100, [&](std::size_t, int member) {
        ++ran;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        if ((member != 0) == onHelper) ombra::stopRun(onHelper ? "a helper stopped\n" : "the caller stopped\n");
      });
      ADD_FAILURE() << "the stop was lost";
    } catch (const ombra::RunStop& stop) {
      EXPECT_EQ(stop.message, onHelper ? "a helper stopped\n" : "the caller stopped\n");
    }
    EXPECT_GE(ran.load(), 1);
  }
  std::atomic<int> ran{0};
  team.forEach(50, [&](std::size_t, int) { ++ran; });
  EXPECT_EQ(ran.load(), 50);
}

}  // namespace
