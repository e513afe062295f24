#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "core/RunEnd.h"
#include "core/Text.h"

namespace testing_support {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "ombra-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(root, ignored);
}

void TempDir::write(const std::string& name, const std::string& content) const { writeFile(file(name), content); }

std::string TempDir::read(const std::string& name) const { return readFile(file(name)); }

bool TempDir::exists(const std::string& name) const { return fs::exists(file(name)); }

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing file " + path + ">";
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

namespace {

std::string quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace

RunResult runOmbra(const std::string& dir, const std::vector<std::string>& args) {
  const std::string outPath = dir + "/.stdout";
  const std::string errPath = dir + "/.stderr";
  std::string command = "cd " + quote(dir) + " && timeout 120 " + quote(OMBRA_BINARY);
  for (const std::string& arg : args) command += " " + quote(arg);
  command += " > " + quote(outPath) + " 2> " + quote(errPath);
  const int raw = std::system(command.c_str());
  RunResult result;
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  if (raw != -1 && WIFEXITED(raw)) result.status = WEXITSTATUS(raw);
  return result;
}

StopShown stopOf(const std::function<void()>& action) {
  StopShown shown;
  testing::internal::CaptureStdout();
  std::string message;
  try {
    action();
  } catch (const ombra::RunStop& stop) {
    shown.status = stop.status;
    message = stop.message;
  }
  shown.out = testing::internal::GetCapturedStdout() + message;
  return shown;
}

std::string resultOf(const TempDir& dir, std::vector<std::string> args, const std::string& out) {
  args.push_back("--out");
  args.push_back(out);
  const RunResult run = runOmbra(dir.path(), args);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.err, "");
  return dir.read(out);
}

}  // namespace testing_support
