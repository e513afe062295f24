// Outputs end to end: a full disk (a file size limit, whose SIGXFSZ the
// program ignores so that writes fail with EFBIG, and /dev/full), a run
// killed while it writes or whose standard output is closed, any number of
// outputs, and what replacing a file keeps. Whatever happens, a run either leaves
// every output complete under its final name or leaves the earlier files of
// those names as they were, with no temporary file behind.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

using testing_support::TempDir;

namespace {

const std::string kExamples = std::string(OMBRA_SOURCE_DIR) + "/examples/";
const char* const kEarlier = "an earlier file of this name\n";

// A run of the built program in `dir`, its standard output and error read
// through a pipe (a file size limit does not apply to pipes).
class Child {
 public:
  // `fileLimit` < 0: no limit. `ignoreHangup`: started as nohup starts it.
  Child(const std::string& dir, const std::vector<std::string>& args, long fileLimit = -1, bool ignoreHangup = false) {
    int ends[2];
    if (pipe(ends) != 0) throw std::runtime_error("pipe failed");
    pid = fork();
    if (pid == 0) {
      dup2(ends[1], STDOUT_FILENO);
      dup2(ends[1], STDERR_FILENO);
      close(ends[0]);
      close(ends[1]);
      if (chdir(dir.c_str()) != 0) _exit(125);
      // Whatever the test runner ignores, the program starts with the usual
      // dispositions, as from a shell, except the ones a case sets on purpose.
      for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) signal(s, SIG_DFL);
      if (ignoreHangup) signal(SIGHUP, SIG_IGN);
      if (fileLimit >= 0) {
        const rlimit limit{static_cast<rlim_t>(fileLimit), static_cast<rlim_t>(fileLimit)};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
      }
      std::vector<char*> argv{const_cast<char*>(OMBRA_BINARY)};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(OMBRA_BINARY, argv.data());
      _exit(127);
    }
    close(ends[1]);
    output = ends[0];
    fcntl(output, F_SETFL, O_NONBLOCK);
  }
  ~Child() {
    if (output >= 0) close(output);
  }

  // Reads what the program wrote so far without waiting.
  void drain() {
    char block[65536];
    ssize_t got;
    while ((got = read(output, block, sizeof block)) > 0) out.append(block, static_cast<size_t>(got));
  }
  bool exited() {
    drain();
    int raw = 0;
    if (waitpid(pid, &raw, WNOHANG) != pid) return false;
    record(raw);
    return true;
  }
  // Waits for the end; the exit status, or minus the signal that ended it.
  int finish() {
    if (output >= 0) fcntl(output, F_SETFL, 0);
    if (output >= 0) drain();  // to the end of the output, so that the program never waits on a full pipe
    if (!done) {
      int raw = 0;
      while (waitpid(pid, &raw, 0) != pid) {
      }
      record(raw);
    }
    return status;
  }
  void kill(int signal) const { ::kill(pid, signal); }
  // Closes the reading end of standard output, as `| head` does when done.
  void closeOutput() {
    close(output);
    output = -1;
  }
  const std::string& text() const { return out; }

 private:
  void record(int raw) {
    done = true;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
  }

  pid_t pid = -1;
  int output = -1;
  bool done = false;
  int status = 0;
  std::string out;
};

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Names in `dir` that start with a dot: temporary files left behind.
std::vector<std::string> hiddenFiles(const std::string& dir) {
  std::vector<std::string> names;
  DIR* folder = opendir(dir.c_str());
  if (folder == nullptr) return names;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name[0] == '.' && name != "." && name != "..") names.push_back(name);
  }
  closedir(folder);
  return names;
}

bool hasTemporaryOf(const std::string& dir, const std::string& name) {
  for (const std::string& hidden : hiddenFiles(dir)) {
    if (hidden.rfind("." + name + ".", 0) == 0) return true;
  }
  return false;
}

// The log of a run ended by `signal`: what it printed, then the line that
// names the signal, then the end with the signal's status.
void expectSignalLog(const std::string& log, const std::string& signal, int status) {
  EXPECT_EQ(log.rfind("Ombra ", 0), 0u) << log;
  EXPECT_NE(log.find("\nInterrupted by " + signal +
                     ": the run was stopped and its unfinished output files were removed.\n\nEnd: "),
            std::string::npos)
      << log;
  EXPECT_TRUE(endsWith(log, " UTC (exit status " + std::to_string(status) + ")\n")) << log;
}

// One kind of run and the files it writes, in the order it writes them.
struct Scenario {
  const char* what;
  std::vector<std::string> args;
  std::vector<std::string> outputs;
};

// 60 individuals and 2 SNPs: the .fam is larger than the .bim before it.
std::string manySamplesFewSnps(const TempDir& dir) {
  std::string ped;
  for (int i = 1; i <= 60; ++i) {
    ped += "FAM" + std::to_string(i % 7) + " IND" + std::to_string(i) + " 0 0 " + std::to_string(1 + i % 2) + " " +
           std::to_string(1 + i % 3 / 2) + (i % 3 == 0 ? " A G" : " A A") + (i % 4 == 0 ? " C C\n" : " C T\n");
  }
  dir.write("wide.ped", ped);
  dir.write("wide.map", "1 rs1 0 10\n1 rs2 0 20\n");
  return dir.file("wide");
}

std::vector<Scenario> scenarios(const TempDir& data) {
  const std::string family = kExamples + "family";
  const std::string unrelated = kExamples + "unrelated";
  const std::string wide = manySamplesFewSnps(data);
  return {
      {"result", {"--f", family, "--i", unrelated, "--p", "2", "--out", "r.txt"}, {"r.txt"}},
      {"components", {"--f", family, "--i", unrelated, "--p", "2", "--op", "s.pca"}, {"s.Eigen_Loading.txt", "s.pca"}},
      {"text recoding", {"--f", family, "--recode", "x"}, {"x.map", "x.ped"}},
      {"binary recoding", {"--f", family, "--make-bed", "x"}, {"x.bim", "x.fam", "x.bed"}},
      {"binary recoding of many samples", {"--f", wide, "--make-bed", "x"}, {"x.bim", "x.fam", "x.bed"}},
      {"additive recoding", {"--f", family, "--additive", "x"}, {"x.add"}},
  };
}

off_t sizeOf(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? status.st_size : -1;
}

// Under a file size limit every output fails at its first byte (when it is
// the first written), in its middle and at its last byte; each time the
// run stops with the system's reason and every earlier file is kept.
TEST(FullDisk, EveryOutputFailsCleanlyWhereverTheLimitFalls) {
  TempDir data;
  for (const Scenario& scenario : scenarios(data)) {
    SCOPED_TRACE(scenario.what);
    TempDir reference;
    Child whole(reference.path(), scenario.args);
    ASSERT_EQ(whole.finish(), 0) << whole.text();
    off_t floor = 0;  // every file written before the current one fits under it
    int runs = 0;
    for (const std::string& name : scenario.outputs) {
      const off_t size = sizeOf(reference.file(name));
      ASSERT_GT(size, 0) << name;
      for (off_t limit : {floor, floor + (size - floor) / 2, size - 1}) {
        if (limit < floor || limit >= size) continue;
        SCOPED_TRACE(name + " limited to " + std::to_string(limit) + " bytes");
        TempDir work;
        for (const std::string& output : scenario.outputs) work.write(output, kEarlier);
        Child limited(work.path(), scenario.args, limit);
        EXPECT_EQ(limited.finish(), 1);
        EXPECT_TRUE(endsWith(limited.text(), "Write File " + name + " failed! File too large\n")) << limited.text();
        for (const std::string& output : scenario.outputs) EXPECT_EQ(work.read(output), kEarlier) << output;
        EXPECT_EQ(hiddenFiles(work.path()), std::vector<std::string>{});
        ++runs;
      }
      floor = std::max(floor, size);
    }
    EXPECT_GE(runs, 2 * static_cast<int>(scenario.outputs.size()) - 1);
    // With room for every file the outputs are whole and replace the old ones.
    TempDir work;
    for (const std::string& output : scenario.outputs) work.write(output, kEarlier);
    Child roomy(work.path(), scenario.args, floor);
    EXPECT_EQ(roomy.finish(), 0) << roomy.text();
    for (const std::string& output : scenario.outputs) EXPECT_EQ(work.read(output), reference.read(output)) << output;
    EXPECT_EQ(hiddenFiles(work.path()), std::vector<std::string>{});
  }
}

// Each output in turn is a link to /dev/full, a device: it is written in
// place, its write fails with ENOSPC, and the files before it never appear.
TEST(FullDisk, DevFullIsReportedForEveryOutput) {
  TempDir data;
  for (const Scenario& scenario : scenarios(data)) {
    SCOPED_TRACE(scenario.what);
    for (const std::string& name : scenario.outputs) {
      SCOPED_TRACE(name);
      TempDir work;
      ASSERT_EQ(symlink("/dev/full", work.file(name).c_str()), 0);
      Child run(work.path(), scenario.args);
      EXPECT_EQ(run.finish(), 1);
      EXPECT_TRUE(endsWith(run.text(), "Write File " + name + " failed! No space left on device\n")) << run.text();
      for (const std::string& output : scenario.outputs) {
        EXPECT_TRUE(output == name || !work.exists(output)) << output;
      }
      char target[64] = {};
      EXPECT_GT(readlink(work.file(name).c_str(), target, sizeof target - 1), 0);
      EXPECT_STREQ(target, "/dev/full");
      EXPECT_EQ(hiddenFiles(work.path()), std::vector<std::string>{});
    }
  }
}

// An unrelated binary set of `people` x `snps` random genotypes and a PCA
// file with two scores each, so that the run spends its time on the test
// and its result file.
void writeLargeSet(const TempDir& dir, int people, int snps) {
  std::mt19937 random(11);
  std::string bim, fam, pca;
  for (int s = 0; s < snps; ++s) bim += "1 rs" + std::to_string(s) + " 0 " + std::to_string(s + 1) + " A G 1000\n";
  for (int i = 0; i < people; ++i) {
    const std::string id = "U" + std::to_string(i) + " " + std::to_string(i);
    const std::string trait = std::to_string(1 + i % 2);
    fam += id + " 0 0 1 " + trait + "\n";
    pca += "U" + std::to_string(i) + "\t" + std::to_string(i) + "\t" + trait + "\t1\t" +
           std::to_string(static_cast<double>(random() % 1000) / 1000 - 0.5) + "\t" +
           std::to_string(static_cast<double>(random() % 1000) / 1000 - 0.5) + "\t\n";
  }
  std::string bed(static_cast<size_t>(people) * static_cast<size_t>((snps + 3) / 4), '\0');
  for (char& byte : bed) byte = static_cast<char>(random() & 0xff);
  dir.write("big.bim", bim);
  dir.write("big.fam", fam);
  dir.write("big.bed", bed);
  dir.write("big.pca", pca);
}

const std::vector<std::string> kLargeRun = {"--bi", "big", "--p", "2", "--rp", "big.pca"};

// Killed while the result file is being written: the conventional status,
// one line saying why, the earlier result kept and no temporary file left.
TEST(Interrupted, EachSignalRemovesTheUnfinishedResult) {
  TempDir dir;
  writeLargeSet(dir, 2000, 40000);
  const std::pair<int, const char*> signals[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
  for (const auto& [signal, name] : signals) {
    SCOPED_TRACE(name);
    dir.write("result.txt", kEarlier);
    Child run(dir.path(), kLargeRun);
    bool writing = false;
    while (!(writing = hasTemporaryOf(dir.path(), "result.txt")) && !run.exited()) usleep(1000);
    ASSERT_TRUE(writing) << "the run ended before its result file was started:\n" << run.text();
    run.kill(signal);
    EXPECT_EQ(run.finish(), 128 + signal);
    EXPECT_TRUE(endsWith(run.text(), std::string("Interrupted by ") + name +
                                         ": the run was stopped and its unfinished output files were removed.\n"))
        << run.text();
    EXPECT_EQ(dir.read("result.txt"), kEarlier);
    EXPECT_EQ(hiddenFiles(dir.path()), std::vector<std::string>{});
    expectSignalLog(dir.read("result.log"), name, 128 + signal);
  }
}

// Standard output closed by its reader (`ombra ... | head`) ends the run as
// the other signals do: the status of SIGPIPE, no unfinished output left and
// a log that says so. The result goes to standard output through a link, so
// that the run is writing to it when it is closed.
TEST(Interrupted, AClosedStandardOutputEndsTheRun) {
  TempDir dir;
  writeLargeSet(dir, 200, 40000);
  ASSERT_EQ(symlink("/dev/stdout", dir.file("r.txt").c_str()), 0);
  Child run(dir.path(), {"--bi", "big", "--p", "2", "--rp", "big.pca", "--out", "r.txt", "--plot", "p"});
  while (run.text().find("Program is processing") == std::string::npos && !run.exited()) usleep(1000);
  run.closeOutput();
  EXPECT_EQ(run.finish(), 128 + SIGPIPE);
  expectSignalLog(dir.read("r.log"), "SIGPIPE", 128 + SIGPIPE);
  EXPECT_FALSE(dir.exists("p.manhattan.svg"));
  EXPECT_EQ(hiddenFiles(dir.path()), std::vector<std::string>{});
}

// More outputs than fit the first table of pending files: 70 phenotypes,
// each with its result and two plots, all in place and none left hidden.
TEST(ManyOutputs, EveryOneIsWritten) {
  TempDir dir;
  const std::string family = kExamples + "family", unrelated = kExamples + "unrelated";
  std::string table = "FID IID";
  const int phenotypes = 70;
  for (int k = 0; k < phenotypes; ++k) table += " P" + std::to_string(k);
  table += "\n";
  std::mt19937 random(5);
  for (const std::string& set : {family, unrelated}) {
    std::istringstream ped(testing_support::readFile(set + ".ped"));
    std::string famId, indId, rest;
    while (ped >> famId >> indId && std::getline(ped, rest)) {
      table += famId + " " + indId;
      for (int k = 0; k < phenotypes; ++k) table += " " + std::to_string(random() % 1000);
      table += "\n";
    }
  }
  dir.write("ph.txt", table);
  Child run(dir.path(), {"--f", family, "--i", unrelated, "--p", "2", "--pheno", "ph.txt", "--pheno-name", "all",
                         "--plot", "p", "--out", "r.txt"});
  ASSERT_EQ(run.finish(), 0) << run.text();
  for (int k = 0; k < phenotypes; ++k) {
    const std::string name = "P" + std::to_string(k);
    EXPECT_TRUE(dir.exists("r." + name + ".txt")) << name;
    EXPECT_TRUE(dir.exists("p." + name + ".manhattan.svg")) << name;
    EXPECT_TRUE(dir.exists("p." + name + ".qq.svg")) << name;
  }
  EXPECT_EQ(hiddenFiles(dir.path()), std::vector<std::string>{});
}

// Started with SIGHUP ignored (nohup), the run ignores a hangup and finishes.
TEST(Interrupted, AnIgnoredHangupStaysIgnored) {
  TempDir dir;
  writeLargeSet(dir, 2000, 40000);
  Child run(dir.path(), kLargeRun, -1, true);
  bool writing = false;
  while (!(writing = hasTemporaryOf(dir.path(), "result.txt")) && !run.exited()) usleep(1000);
  ASSERT_TRUE(writing) << "the run ended before its result file was started:\n" << run.text();
  run.kill(SIGHUP);
  EXPECT_EQ(run.finish(), 0) << run.text();
  EXPECT_NE(run.text().find("The process has been finisned!\n"), std::string::npos);
  const std::string result = dir.read("result.txt");
  EXPECT_EQ(std::count(result.begin(), result.end(), '\n'), 40000);
  EXPECT_EQ(hiddenFiles(dir.path()), std::vector<std::string>{});
}

// A replaced file keeps its mode, a new one gets 0666 less the umask, and a
// link is written through: the file it names is replaced, the link stays.
TEST(ReplacedOutputs, KeepModeAndLinks) {
  TempDir dir;
  const std::vector<std::string> run = {"--f", kExamples + "family", "--additive", "x"};
  Child fresh(dir.path(), run);
  ASSERT_EQ(fresh.finish(), 0);
  const mode_t mask = umask(0);
  umask(mask);
  struct stat status {};
  ASSERT_EQ(stat(dir.file("x.add").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0666 & ~mask);
  const std::string whole = dir.read("x.add");

  dir.write("x.add", kEarlier);
  ASSERT_EQ(chmod(dir.file("x.add").c_str(), 0640), 0);
  Child again(dir.path(), run);
  ASSERT_EQ(again.finish(), 0);
  ASSERT_EQ(stat(dir.file("x.add").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(dir.read("x.add"), whole);

  ASSERT_EQ(mkdir(dir.file("elsewhere").c_str(), 0755), 0);
  dir.write("elsewhere/target.add", kEarlier);
  ASSERT_EQ(symlink("elsewhere/target.add", dir.file("link.add").c_str()), 0);
  Child linked(dir.path(), {"--f", kExamples + "family", "--additive", "link"});
  ASSERT_EQ(linked.finish(), 0) << linked.text();
  struct stat link {};
  ASSERT_EQ(lstat(dir.file("link.add").c_str(), &link), 0);
  EXPECT_TRUE(S_ISLNK(link.st_mode));
  EXPECT_EQ(dir.read("elsewhere/target.add"), whole);
  EXPECT_EQ(hiddenFiles(dir.path()), std::vector<std::string>{});
  EXPECT_EQ(hiddenFiles(dir.file("elsewhere")), std::vector<std::string>{});
}

// Devices are written in place: /dev/null stays the device, and the result
// sent to /dev/stdout arrives whole on standard output.
TEST(ReplacedOutputs, DevicesAreWrittenInPlace) {
  TempDir dir;
  const std::string family = kExamples + "family";
  Child toFile(dir.path(), {"--f", family, "--p", "2", "--out", "r.txt"});
  ASSERT_EQ(toFile.finish(), 0);
  Child toNull(dir.path(), {"--f", family, "--p", "2", "--out", "/dev/null"});
  EXPECT_EQ(toNull.finish(), 0) << toNull.text();
  struct stat null {};
  ASSERT_EQ(stat("/dev/null", &null), 0);
  EXPECT_TRUE(S_ISCHR(null.st_mode));
  Child toOutput(dir.path(), {"--f", family, "--p", "2", "--out", "/dev/stdout"});
  EXPECT_EQ(toOutput.finish(), 0) << toOutput.text();
  EXPECT_NE(toOutput.text().find(dir.read("r.txt")), std::string::npos);
  EXPECT_EQ(hiddenFiles(dir.path()), std::vector<std::string>{});
}

// A final name near the longest a file system allows still gets its
// temporary file beside it.
TEST(ReplacedOutputs, LongNames) {
  TempDir dir;
  const std::string name = std::string(250, 'n') + ".txt";
  Child run(dir.path(), {"--f", kExamples + "family", "--p", "2", "--out", name});
  ASSERT_EQ(run.finish(), 0) << run.text();
  EXPECT_TRUE(dir.exists(name));
  EXPECT_EQ(hiddenFiles(dir.path()), std::vector<std::string>{});
}

}  // namespace
