// The threaded steps (the components and the per-SNP test on blocks of
// SNPs) give the same files at every thread count.
#include <gtest/gtest.h>

#include "TestSupport.h"

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::runOmbra;

namespace {

TEST(Threads, ResultFilesAreTheSameAtEveryThreadCount) {
  TempDir dir;
  const std::string examples = std::string(OMBRA_SOURCE_DIR) + "/examples/";
  std::string first;
  for (const char* threads : {"1", "2", "3", "8"}) {
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

}  // namespace
