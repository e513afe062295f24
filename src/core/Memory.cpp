#include "core/Memory.h"

#include "core/ResourceLimits.h"
#include "core/RunEnd.h"

namespace ombra {

double availableMemoryBytes() { return memoryBudget().bytes; }

void requireMemory(double bytes, const std::string& purpose, const std::string& advice) {
  const MemoryBudget budget = memoryBudget();
  if (bytes <= budget.bytes) return;
  stopRun(purpose + " needs about " + megabytesText(bytes) + " of memory, but only " + megabytesText(budget.bytes) +
          " are available (" + budgetClause() + "). " + advice + "\n");
}

}  // namespace ombra
