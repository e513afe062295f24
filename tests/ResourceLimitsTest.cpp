// Runs under the limits of shared machines: an address-space limit, a memory
// cgroup, --memory and a CPU affinity mask. Every run must either write the
// result of the unlimited run or stop with a message naming the bound; none
// may hang or report an interruption it did not get.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/ResourceLimits.h"

namespace {

using testing_support::readFile;
using testing_support::TempDir;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

TEST(ResourceLimits, ReadsTheSystemFiles) {
  EXPECT_EQ(ombra::limits::memAvailable("MemTotal:  100 kB\nMemFree: 5 kB\nMemAvailable:    2048 kB\n"), 2048.0 * 1024);
  EXPECT_EQ(ombra::limits::memAvailable("MemTotal: 100 kB\n"), -1);

  bool v2 = false;
  const char* hybrid = "4:memory:/jobs/job7\n2:cpu,cpuacct:/jobs/cpu7\n0::/user.slice\n";
  EXPECT_EQ(ombra::limits::cgroupPath(hybrid, "memory", v2), "/jobs/job7");
  EXPECT_FALSE(v2);
  EXPECT_EQ(ombra::limits::cgroupPath(hybrid, "cpu", v2), "/jobs/cpu7");  // one of a list of controllers
  EXPECT_EQ(ombra::limits::cgroupPath(hybrid, "pids", v2), "/user.slice");
  EXPECT_TRUE(v2);
  EXPECT_EQ(ombra::limits::cgroupPath("1:name=systemd:/\n", "memory", v2), "");
  EXPECT_FALSE(v2);

  EXPECT_EQ(ombra::limits::limitValue("max\n"), -1);
  EXPECT_EQ(ombra::limits::limitValue("9223372036854771712\n"), -1);  // v1's "no limit"
  EXPECT_EQ(ombra::limits::limitValue("8589934592\n"), 8589934592.0);
  EXPECT_EQ(ombra::limits::limitValue(""), -1);
  EXPECT_EQ(ombra::limits::statValue("active_file 5\ninactive_file 4096\n", "inactive_file"), 4096);
  EXPECT_EQ(ombra::limits::statValue("total_inactive_file 7\n", "inactive_file"), 0);  // whole keys only

  EXPECT_EQ(ombra::limits::quotaCpus("max 100000\n"), 0);
  EXPECT_EQ(ombra::limits::quotaCpus("150000 100000\n"), 2);
  EXPECT_EQ(ombra::limits::quotaCpus("50000 100000"), 1);
  EXPECT_EQ(ombra::limits::quotaCpus("garbage"), 0);
}

TEST(ResourceLimits, TheLeastBoundWinsAndIsNamed) {
  const double mb = 1048576.0;
  ombra::MemoryReadings r;
  r.available = 20000 * mb;
  EXPECT_EQ(ombra::budgetOf(r).bound, ombra::MemoryBound::kAvailable);
  r.cgroupRoom = 7782 * mb;
  EXPECT_EQ(ombra::describeBudget(ombra::budgetOf(r)), "7.6 GB (the cgroup's limit)");
  r.addressLimit = 200 * mb;
  r.addressMapped = 50 * mb;
  EXPECT_EQ(ombra::describeBudget(ombra::budgetOf(r)), "150 MB (the address-space limit)");
  EXPECT_EQ(ombra::megabytesText(0.4 * mb), "0.4 MB");
  EXPECT_EQ(ombra::megabytesText(9.94 * mb), "9.9 MB");
  EXPECT_EQ(ombra::megabytesText(9.96 * mb), "10 MB");
  EXPECT_EQ(ombra::megabytesText(0.047 * mb), "0.05 MB");
  r.option = 100 * mb;  // --memory counts the resident memory as spent
  r.resident = 30 * mb;
  EXPECT_EQ(ombra::describeBudget(ombra::budgetOf(r)), "70 MB (--memory)");
  r.addressMapped = 300 * mb;  // mapped beyond the limit: nothing is left, not less than nothing
  EXPECT_EQ(ombra::budgetOf(r).bytes, 0.0);
  EXPECT_EQ(ombra::budgetOf(ombra::MemoryReadings{}).bound, ombra::MemoryBound::kUnknown);
}

std::string quote(const std::string& word) {
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct LimitedRun {
  int status = -1;
  std::string out;
};

// Runs ombra in `dir` after the shell words `before` (a ulimit, a move into
// a cgroup), under `prefix` (taskset), with a timeout that turns a hang into
// status 124.
LimitedRun runUnder(const std::string& dir, const std::string& before, const std::string& prefix,
             const std::vector<std::string>& args) {
  std::string command = "cd " + quote(dir) + " && " + before + " exec " + prefix + " timeout 60 " + quote(OMBRA_BINARY);
  for (const std::string& arg : args) command += " " + quote(arg);
  command += " > .stdout 2> .stderr";
  const int raw = std::system(("sh -c " + quote(command)).c_str());
  LimitedRun run;
  run.out = readFile(dir + "/.stdout");
  if (raw != -1 && WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
  return run;
}

// An unrelated PLINK fileset of random genotypes, 616 individuals x 20,000
// SNPs: big enough that its components take the Gram route and OpenBLAS.
void writeSimulatedSet(const std::string& prefix) {
  const int people = 616, snps = 20000;
  std::mt19937 random(27);
  std::ofstream fam(prefix + ".fam"), bim(prefix + ".bim");
  for (int i = 0; i < people; ++i) fam << "F" << i << " I" << i << " 0 0 1 " << 1 + (random() % 2) << "\n";
  std::string bed = {'\x6c', '\x1b', '\x01'};
  const int bytes = (people + 3) / 4;
  for (int s = 0; s < snps; ++s) {
    bim << "1 rs" << s << " 0 " << 1000 + 10 * s << " A C\n";
    const double p = 0.05 + 0.45 * (random() % 1000) / 1000.0;
    std::string column(static_cast<size_t>(bytes), '\0');
    for (int i = 0; i < people; ++i) {
      const double u = (random() % 100000) / 100000.0;
      // 00 hom A1, 10 het, 11 hom A2, 01 missing (1%)
      const int code = u < 0.01 ? 1 : u < 0.01 + p * p ? 3 : u < 0.01 + p * p + 2 * p * (1 - p) ? 2 : 0;
      column[static_cast<size_t>(i / 4)] = static_cast<char>(column[static_cast<size_t>(i / 4)] | code << (2 * (i % 4)));
    }
    bed += column;
  }
  std::ofstream(prefix + ".bed", std::ios::binary) << bed;
}

// Every run under `ulimit -v` writes the unlimited run's result, byte for
// byte, or stops for memory naming the address-space limit, status 1, with
// no result file and a log that ends with the stop.
void expectSoundUnderAddressLimits(const TempDir& dir, const std::vector<std::string>& data,
                                   const std::vector<int>& megabytes) {
  std::vector<std::string> args = data;
  args.insert(args.end(), {"--out", "unlimited.txt"});
  ASSERT_EQ(runUnder(dir.path(), "", "", args).status, 0);
  const std::string expected = dir.read("unlimited.txt");
  for (int mb : megabytes) {
    for (const char* threads : {"1", "2", "8"}) {
      SCOPED_TRACE("ulimit -v " + std::to_string(mb) + " MB, --threads " + threads);
      std::remove(dir.file("limited.txt").c_str());
      args = data;
      args.insert(args.end(), {"--out", "limited.txt", "--threads", threads});
      const LimitedRun run = runUnder(dir.path(), "ulimit -v " + std::to_string(mb * 1024) + " &&", "", args);
      EXPECT_EQ(run.out.find("Interrupted"), std::string::npos) << run.out;
      const std::string log = dir.read("limited.log");
      EXPECT_NE(log.find("Memory for this run: "), std::string::npos);
      if (run.status == 0) {
        EXPECT_EQ(dir.read("limited.txt"), expected);
        EXPECT_NE(log.find(" (the address-space limit)\n"), std::string::npos) << log.substr(0, 400);
        continue;
      }
      EXPECT_EQ(run.status, 1) << run.out;
      // A route that needs OpenBLAS, held back by the limit, stops rather
      // than give other last digits.
      const bool heldBack = run.out.find("the address-space limit (ulimit -v) keeps out") != std::string::npos;
      const bool stopped = run.out.find("ran out of memory") != std::string::npos ||
                           run.out.find("MB of memory, but only") != std::string::npos;
      EXPECT_TRUE(stopped || heldBack) << run.out;
      if (!heldBack) {
        EXPECT_NE(run.out.find("set by the address-space limit"), std::string::npos) << run.out;
      }
      EXPECT_FALSE(dir.exists("limited.txt"));
      EXPECT_NE(log.find("(exit status 1)\n"), std::string::npos);
    }
  }
}

TEST(ResourceLimits, AddressSpaceLimitsNeverHang) {
  if (kSanitized) GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: ulimit -v cannot apply";
  TempDir dir;
  const std::string examples = std::string(OMBRA_SOURCE_DIR) + "/examples/";
  expectSoundUnderAddressLimits(dir, {"--f", examples + "family", "--i", examples + "unrelated"},
                                {50, 100, 200, 400, 1000});
  writeSimulatedSet(dir.file("sim"));
  expectSoundUnderAddressLimits(dir, {"--bi", "sim"}, {50, 100, 150, 200, 300, 500, 1000, 2000});
  // The same set as text, read whole before any product: the threads of a
  // run must never outnumber the buffers OpenBLAS reserved (a run of 2 or 8
  // threads at 300 MB once waited forever for a buffer).
  ASSERT_EQ(runUnder(dir.path(), "", "", {"--bi", "sim", "--recode", "simtext"}).status, 0);
  expectSoundUnderAddressLimits(dir, {"--i", "simtext"}, {300, 600});
  // The Gram route held back stops, saying how to go on.
  const LimitedRun heldBack = runUnder(dir.path(), "ulimit -v 153600 &&", "", {"--bi", "sim", "--out", "held.txt"});
  EXPECT_EQ(heldBack.status, 1);
  EXPECT_NE(heldBack.out.find("keeps out"), std::string::npos) << heldBack.out;
  EXPECT_NE(heldBack.out.find("--pca-method exact"), std::string::npos) << heldBack.out;
  // Where nothing needs OpenBLAS the built-in kernels give the same bytes.
  expectSoundUnderAddressLimits(dir, {"--bi", "sim", "--pca-method", "exact"}, {150});
  expectSoundUnderAddressLimits(dir, {"--f", examples + "family", "--i", examples + "unrelated", "--model", "lmm"},
                                {150, 1000});
}

// --memory bounds the run when it is the least bound: the auto route turns
// to the approximate components, and the guard stops a run that cannot fit.
TEST(ResourceLimits, MemoryOptionBoundsTheRun) {
  TempDir dir;
  writeSimulatedSet(dir.file("sim"));
  LimitedRun run = runUnder(dir.path(), "", "", {"--bi", "sim", "--out", "r.txt"});
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(run.out.find("approximate components"), std::string::npos);
  EXPECT_EQ(dir.read("r.log").find("(--memory)"), std::string::npos);

  // The Gram route (15 MB) needs more than a quarter of what 60 MB leave, the
  // approximate one (34 MB) fits.
  run = runUnder(dir.path(), "", "", {"--bi", "sim", "--out", "r.txt", "--memory", "60"});
  EXPECT_NE(dir.read("r.log").find("Memory for this run: "), std::string::npos);
  EXPECT_NE(dir.read("r.log").find(" MB (--memory)\n"), std::string::npos);
  if (!kSanitized) {  // the sanitizers' own memory leaves too little for the route
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("The approximate components took"), std::string::npos) << run.out;
  }

  std::remove(dir.file("r.txt").c_str());
  run = runUnder(dir.path(), "", "", {"--bi", "sim", "--out", "r.txt", "--memory", "2"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("set by --memory"), std::string::npos) << run.out;
  // The bound is the option's, and below 10 MB its size has decimals.
  EXPECT_EQ(run.out.find("machine"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find(" 0 MB"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find(" 0.0 MB"), std::string::npos) << run.out;
  EXPECT_FALSE(dir.exists("r.txt"));

  run = runUnder(dir.path(), "", "", {"--bi", "sim", "--memory", "lots"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "The memory for the run (--memory) must be a whole number of megabytes, at least 1.\n");
}

// A child of this process's memory cgroup with a limit, where the machine
// lets us make one (cgroup v1, or a delegated v2 subtree).
class MemoryCgroup {
 public:
  explicit MemoryCgroup(double bytes) {
    bool v2 = false;
    const std::string own = ombra::cgroupFolderOf("memory", v2);
    if (own.empty()) return;
    const std::string path = own + "/ombra-test-" + std::to_string(getpid());
    if (mkdir(path.c_str(), 0755) != 0) return;
    std::ofstream limit(path + (v2 ? "/memory.max" : "/memory.limit_in_bytes"));
    limit << static_cast<long long>(bytes) << std::flush;
    if (limit) {
      folder = path;
    } else {
      rmdir(path.c_str());
    }
  }
  ~MemoryCgroup() {
    if (!folder.empty()) rmdir(folder.c_str());
  }
  // Shell words that move the shell, and so the program it runs, into it.
  std::string enter() const { return "echo $$ > " + quote(folder + "/cgroup.procs") + " &&"; }
  bool made() const { return !folder.empty(); }

 private:
  std::string folder;
};

TEST(ResourceLimits, MemoryCgroupBoundsTheRun) {
  MemoryCgroup cgroup(512.0 * 1048576.0);
  if (!cgroup.made()) GTEST_SKIP() << "no memory cgroup can be made here";
  TempDir dir;
  writeSimulatedSet(dir.file("sim"));
  ASSERT_EQ(runUnder(dir.path(), "", "", {"--bi", "sim", "--out", "free.txt"}).status, 0);
  LimitedRun run = runUnder(dir.path(), cgroup.enter(), "", {"--bi", "sim", "--out", "r.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(dir.read("r.log").find(" MB (the cgroup's limit)\n"), std::string::npos) << dir.read("r.log");
  EXPECT_EQ(dir.read("r.txt"), dir.read("free.txt"));
  // Within the cgroup, a smaller --memory is the bound.
  run = runUnder(dir.path(), cgroup.enter(), "", {"--bi", "sim", "--out", "r.txt", "--memory", "2"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("set by --memory"), std::string::npos) << run.out;
}

TEST(ResourceLimits, ThreadsFollowTheAffinityMask) {
  if (std::system("command -v taskset > /dev/null 2>&1") != 0) GTEST_SKIP() << "taskset is not installed";
  cpu_set_t set;
  CPU_ZERO(&set);
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  int cpu = 0;
  while (!CPU_ISSET(cpu, &set)) ++cpu;
  TempDir dir;
  const std::string examples = std::string(OMBRA_SOURCE_DIR) + "/examples/";
  const LimitedRun run = runUnder(dir.path(), "unset OMBRA_THREADS &&", "taskset -c " + std::to_string(cpu),
                           {"--f", examples + "family", "--i", examples + "unrelated", "--out", "r.txt"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_NE(dir.read("r.log").find("Threads for this run: 1 thread (the CPUs this process may use)\n"),
            std::string::npos);
}

}  // namespace
