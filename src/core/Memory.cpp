#include "core/Memory.h"

#include <fstream>

#include "core/RunEnd.h"

namespace ombra {

double availableMemoryBytes() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  double kilobytes = 0;
  while (meminfo >> key >> kilobytes) {
    if (key == "MemAvailable:") return kilobytes * 1024.0;
    meminfo.ignore(256, '\n');
  }
  return 1e300;
}

void requireMemory(double bytes, const std::string& purpose, const std::string& advice) {
  const double available = availableMemoryBytes();
  if (bytes <= available) return;
  const auto megabytes = [](double b) { return std::to_string(static_cast<long long>(b / 1048576.0 + 0.5)); };
  stopRun(purpose + " needs about " + megabytes(bytes) + " MB of memory, but only " + megabytes(available) +
          " MB are available. " + advice + "\n");
}

}  // namespace ombra
