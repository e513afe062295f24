// Outputs never overwrite the run's inputs nor each other, and every one can
// be created before the run does any work.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "core/RunEnd.h"
#include "core/Text.h"
#include "core/OutputFile.h"

namespace ombra {

namespace {

// A device or FIFO that exists: written where it is, whatever its folder.
bool writtenInPlace(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return false;
  return isSystemFileName(path) || (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode));
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Why no file can be created in `folder`; empty when one can.
std::string folderProblem(const std::string& folder) {
  struct stat status {};
  if (stat(folder.c_str(), &status) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? "does not exist" : std::string("cannot be reached: ") + std::strerror(errno);
  }
  if (!S_ISDIR(status.st_mode)) return "is not a folder";
  if (access(folder.c_str(), W_OK | X_OK) != 0) return std::string("cannot be written: ") + std::strerror(errno);
  return std::string();
}

// The file `path` names once every link is followed: the same for two names
// of one file, existing or not (its folder exists).
std::string fileIdentity(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  std::string identity;
  if (resolved != nullptr) {
    identity = resolved;
  } else if ((resolved = realpath(folderOf(path).c_str(), nullptr)) != nullptr) {
    const size_t slash = path.rfind('/');
    identity = std::string(resolved) + "/" + (slash == std::string::npos ? path : path.substr(slash + 1));
  } else {
    identity = path;
  }
  std::free(resolved);
  return identity;
}

}  // namespace

void refuseOutputsThatAreInputs(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs) {
  for (const std::string& output : outputs) {
    struct stat written {};
    if (stat(output.c_str(), &written) != 0) continue;
    for (const std::string& input : inputs) {
      struct stat read {};
      if (stat(input.c_str(), &read) != 0) continue;
      if (read.st_dev == written.st_dev && read.st_ino == written.st_ino) {
        stopRun("The output file " + output + " is the input file " + input +
                ": an input is never overwritten. Please give the output another name.\n");
      }
    }
  }
}

void refuseUnwritableOutputs(const std::vector<NamedOutput>& outputs) {
  std::vector<const NamedOutput*> replaced;  // written beside their final names
  for (const NamedOutput& output : outputs) {
    if (writtenInPlace(output.path)) continue;
    const std::string folder = folderOf(output.path);
    const std::string problem = folderProblem(folder);
    if (!problem.empty()) {
      stopRun("The output " + output.path + " of " + output.option + " cannot be written: its folder " + folder + " " +
              problem + ".\n");
    }
    replaced.push_back(&output);
  }
  std::map<std::string, const NamedOutput*> byFile;
  for (const NamedOutput* output : replaced) {
    const auto [same, added] = byFile.emplace(fileIdentity(output->path), output);
    if (added) continue;
    stopRun("The output " + same->second->path + " of " + same->second->option + " and the output " + output->path +
            " of " + output->option + " are one file: please give each output its own name.\n");
  }
}

}  // namespace ombra
