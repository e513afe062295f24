// The memory a run may still use, and the guard that stops a step before it
// asks for more than that.
#ifndef OMBRA_CORE_MEMORY_H
#define OMBRA_CORE_MEMORY_H

#include <string>

namespace ombra {

// Bytes of memory the run may still use (see core/ResourceLimits.h: the
// least of the available memory, the cgroup's and the address-space limits
// and --memory), or a very large number when it cannot tell.
double availableMemoryBytes();
// Stops the run with a message naming `purpose`, the size needed and `advice`
// when `bytes` would not fit in the available memory.
void requireMemory(double bytes, const std::string& purpose, const std::string& advice);

}  // namespace ombra

#endif  // OMBRA_CORE_MEMORY_H
