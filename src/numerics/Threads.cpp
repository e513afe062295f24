#include "numerics/Threads.h"

#include <atomic>
#include <cstdlib>

#include "core/ResourceLimits.h"
#include "numerics/MatrixTeam.h"

namespace ombra {

namespace {

std::atomic<int> chosenThreads{0};

int clampThreads(long count) {
  if (count < 1) return 1;
  return count > matrixsvd::kMaxThreads ? matrixsvd::kMaxThreads : static_cast<int>(count);
}

// The count asked for, and what asked: --threads, else OMBRA_THREADS, else
// the CPUs this process may use (not the machine's: a job on a shared node
// gets a share of it).
int askedThreads(const char*& source) {
  int chosen = chosenThreads.load();
  source = "--threads";
  if (chosen > 0) return clampThreads(chosen);
  if (const char* text = std::getenv("OMBRA_THREADS")) {
    char* end = nullptr;
    long count = std::strtol(text, &end, 10);
    source = "OMBRA_THREADS";
    if (end != text && *end == '\0' && count > 0) return clampThreads(count);
  }
  static const int cpus = usableCpus();
  source = "the CPUs this process may use";
  return clampThreads(cpus);
}

}  // namespace

int threadCount() {
  const char* source = nullptr;
  const int asked = askedThreads(source);
  const int cap = threadCap();
  return cap > 0 && cap < asked ? cap : asked;
}

std::string threadLine() {
  const char* source = nullptr;
  const int asked = askedThreads(source);
  const int count = threadCount();
  if (count < asked) source = "as many as OpenBLAS's buffers leave room for under the address-space limit";
  return "Threads for this run: " + std::to_string(count) + (count == 1 ? " thread (" : " threads (") + source +
         ")\n";
}

void setThreadCount(int count) { chosenThreads.store(count > 0 ? count : 0); }

}  // namespace ombra
