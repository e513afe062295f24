#include "core/RunEnd.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "core/OutputFile.h"

namespace ombra {

namespace {
EndRunHandler endRunHandler = nullptr;
int (*finishLog)(int status) = nullptr;
}  // namespace

EndRunHandler setEndRunHandler(EndRunHandler handler) {
  EndRunHandler old = endRunHandler;
  endRunHandler = handler;
  return old;
}

void setFinishLog(int (*step)(int status)) { finishLog = step; }

void endRun(int status) {
  std::cout.flush();
  if (status == 0) {
    commitOutputs();
  } else {
    discardOutputs();
  }
  // The log comes last, so that it records how the run really ended.
  if (finishLog != nullptr) status = finishLog(status);
  if (endRunHandler != nullptr) endRunHandler(status);
  std::exit(status);
}

void stopRun(const std::string& message) {
  std::cout << message;
  endRun(1);
}

void stopRunAtOnce(const std::string& message) {
  std::cout << message;
  std::cout.flush();
  discardOutputs();
  const int status = finishLog != nullptr ? finishLog(1) : 1;
  if (endRunHandler != nullptr) endRunHandler(status);
  std::fflush(nullptr);
  _exit(status);
}

}  // namespace ombra
