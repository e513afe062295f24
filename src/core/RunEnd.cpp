#include "core/RunEnd.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace ombra {

namespace {
EndRunHandler endRunHandler = nullptr;
struct RunEndSteps {
  void (*settleOutputs)(int status) = nullptr;
  int (*finishLog)(int status) = nullptr;
} steps;
}  // namespace

EndRunHandler setEndRunHandler(EndRunHandler handler) {
  EndRunHandler old = endRunHandler;
  endRunHandler = handler;
  return old;
}

void setSettleOutputs(void (*step)(int status)) { steps.settleOutputs = step; }

void setFinishLog(int (*step)(int status)) { steps.finishLog = step; }

void endRun(int status) {
  std::cout.flush();
  if (steps.settleOutputs != nullptr) steps.settleOutputs(status);
  // The log comes last, so that it records how the run really ended.
  if (steps.finishLog != nullptr) status = steps.finishLog(status);
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
  if (steps.settleOutputs != nullptr) steps.settleOutputs(1);
  const int status = steps.finishLog != nullptr ? steps.finishLog(1) : 1;
  if (endRunHandler != nullptr) endRunHandler(status);
  std::fflush(nullptr);
  _exit(status);
}

}  // namespace ombra
