#include "core/Memory.h"

#include "core/ResourceLimits.h"
#include "core/RunEnd.h"

namespace ombra {

double availableMemoryBytes() { return memoryBudget().bytes; }

void requireMemory(double bytes, const std::string& purpose, const std::string& advice) {
  const MemoryBudget budget = memoryBudget();
  if (bytes <= budget.bytes) return;
  const auto megabytes = [](double b) { return std::to_string(static_cast<long long>(b / 1048576.0 + 0.5)); };
  stopRun(purpose + " needs about " + megabytes(bytes) + " MB of memory, but only " + megabytes(budget.bytes) +
          " MB are available (" + budgetClause() + "). " + advice + "\n");
}

}  // namespace ombra
