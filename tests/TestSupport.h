// Helpers shared by the tests: temporary folders, files, running the built
// program, and turning the run's process exit into an exception.
#ifndef OMBRA_TESTS_TESTSUPPORT_H
#define OMBRA_TESTS_TESTSUPPORT_H

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return root; }
  // Absolute path of `name` inside the folder.
  std::string file(const std::string& name) const { return root + "/" + name; }
  void write(const std::string& name, const std::string& content) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string root;
};

void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);

struct RunResult {
  std::string out;  // everything the program wrote to standard output
  std::string err;  // standard error (expected empty)
  int status = -1;  // exit status; -1 when it did not exit normally
};

// Runs the built ombra binary with `args` inside `dir`.
RunResult runOmbra(const std::string& dir, const std::vector<std::string>& args);

// Runs ombra in `dir` with `args` and "--out `out`", expects success and
// nothing on standard error, and returns the result file.
std::string resultOf(const TempDir& dir, std::vector<std::string> args, const std::string& out);

// What a stage shows when it stops the run, as the program prints it: what
// the stage printed before the stop, then the stop's message. The status is
// the stop's, -1 when the stage did not stop.
struct StopShown {
  int status = -1;
  std::string out;
};
StopShown stopOf(const std::function<void()>& action);

}  // namespace testing_support

#endif  // OMBRA_TESTS_TESTSUPPORT_H
