#include "numerics/Threads.h"

#include <climits>
#include <cstdlib>

#include "core/ResourceLimits.h"

namespace ombra {

namespace {

int atLeastOne(long count) { return count < 1 ? 1 : count > INT_MAX ? INT_MAX : static_cast<int>(count); }

}  // namespace

ThreadChoice chooseThreads(int option) {
  if (option > 0) return ThreadChoice{option, "--threads"};
  if (const char* text = std::getenv("OMBRA_THREADS")) {
    char* end = nullptr;
    const long count = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && count > 0) return ThreadChoice{atLeastOne(count), "OMBRA_THREADS"};
  }
  return ThreadChoice{atLeastOne(usableCpus()), "the CPUs this process may use"};
}

std::string threadLine(const ThreadChoice& choice) {
  return "Threads for this run: " + std::to_string(choice.count) + (choice.count == 1 ? " thread (" : " threads (") +
         choice.source + ")\n";
}

}  // namespace ombra
