#include "core/RunEnd.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "core/OutputFile.h"

namespace ombra {

namespace {
int (*finishLog)(int status) = nullptr;

int finishedLog(int status) { return finishLog != nullptr ? finishLog(status) : status; }
}  // namespace

void setFinishLog(int (*step)(int status)) { finishLog = step; }

void endRun(int status) { throw RunStop{status, std::string()}; }

void stopRun(const std::string& message) { throw RunStop{1, message}; }

int finishRun(const RunStop& stop) {
  int status = stop.status;
  std::cout << stop.message;
  std::cout.flush();
  if (status == 0) {
    try {
      commitOutputs();
    } catch (const RunStop& failed) {  // a rename refused
      std::cout << failed.message;
      std::cout.flush();
      status = failed.status;
    }
  }
  if (status != 0) discardOutputs();
  status = finishedLog(status);
  // A run without a log (--help, say) fails alike when its answer was lost.
  std::cout.flush();
  errno = 0;
  if (status != 0 || (std::fflush(stdout) == 0 && !std::ferror(stdout))) return status;
  std::cerr << "Standard output could not be written: " << std::strerror(errno != 0 ? errno : EIO) << "\n";
  return 1;
}

void stopRunAtOnce(const std::string& message) {
  std::cout << message;
  std::cout.flush();
  discardOutputs();
  const int status = finishedLog(1);
  std::fflush(nullptr);
  _exit(status);
}

}  // namespace ombra
